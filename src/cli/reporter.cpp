// The batch tool's words: per-file lines, JSON objects, questions and the summary.
#include "cli/reporter.h"

#include <poll.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <csignal>
#include <cstring>
#include <istream>
#include <ostream>

#include "base/text.h"
#include "cli/json.h"
#include "picture_store/samples.h"

namespace tessaly::cli {

namespace fs = std::filesystem;

namespace {

std::string Quoted(const fs::path& p) {
  return "\"" + EscapeControls(p.string()) + "\"";
}

// What a report says of a file the tool did not write and kept.
std::string KeptWords(const fs::path& file) {
  return Quoted(file) + " was not written by this tool and is kept";
}

// The progress line's columns: kept below the width of a usual terminal so that it never wraps
// into a second line that clearing it would leave behind.
constexpr std::size_t kProgressWidth = 79;

const char* SignalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    case SIGQUIT:
      return "SIGQUIT";
    case SIGPIPE:
      return "SIGPIPE";
    default:
      return "a signal";
  }
}

// The output's size: the picture's, or the saved PNG's for a file not decoded again.
std::pair<int, int> OutputSize(const FileResult& r) {
  if (r.recalled) return {r.recorded_width, r.recorded_height};
  return {r.picture->output.Width(), r.picture->output.Height()};
}

// What the header gave a file it did not name, one line of plain text.
std::string UnnamedWords(const PictureResult& p) {
  return EscapeControls(UnnamedHeaderWords(p));
}

// Why the tool's result that stood was not taken as up to date, after the line of a file that
// was saved, or was to be and was not.
std::string ProblemWords(const FileResult& r, Fate fate) {
  if (r.result_problem.empty()) return {};
  if (fate != Fate::kSaved && fate != Fate::kWouldSave && fate != Fate::kDeclined &&
      fate != Fate::kKeptOriginal) {
    return {};
  }
  return " (" + EscapeControls(r.result_problem) + ")";
}

}  // namespace

Reporter::Reporter(const Options& options, Terminal& terminal, std::size_t total)
    : options_(options),
      terminal_(terminal),
      total_(total),
      progress_(terminal.err_is_terminal && !terminal.dumb && total > 1 &&
                options.verbosity != Verbosity::kQuiet) {}

bool Reporter::ReadAnswer(std::string& reply) {
  if (terminal_.in_fd >= 0) {
    // A terminal hands over a whole line at once, so getline does not block once
    // poll says there is input; until then a signal is checked for.
    for (;;) {
      if (terminal_.interrupted && terminal_.interrupted->load() != 0) return false;
      pollfd fd{terminal_.in_fd, POLLIN, 0};
      const int ready = ::poll(&fd, 1, 100);
      if (ready > 0) break;
      if (ready < 0 && errno != EINTR) return false;
    }
  }
  return static_cast<bool>(std::getline(terminal_.in, reply));
}

Answer Reporter::Ask(const fs::path& input, const fs::path& target) {
  if (answer_for_all_) return *answer_for_all_;
  ClearProgress();
  terminal_.err << EscapeControls(input.string()) << ": Overwrite image file? The file \""
                << EscapeControls(target.string())
                << "\" already exists. Do you want to overwrite this file? [y/N/all/none] "
                << std::flush;
  std::string reply;
  if (!ReadAnswer(reply)) {
    terminal_.err << '\n';
    return Answer::kNo;
  }
  const std::string answer = AsciiUpper(Trim(reply));
  if (answer == "ALL" || answer == "A") answer_for_all_ = Answer::kYes;
  if (answer == "NONE") answer_for_all_ = Answer::kNo;
  if (answer_for_all_) return *answer_for_all_;
  return answer == "Y" || answer == "YES" ? Answer::kYes : Answer::kNo;
}

void Reporter::Progress(std::size_t done, const fs::path& next) {
  if (!progress_) return;
  ClearProgress();
  // The path as given, which tells apart the many rx000.bmp of a tree; cut at its start to
  // stay on one line of the terminal, which the next progress line clears.
  const std::string counter = '[' + std::to_string(done) + '/' + std::to_string(total_) + "] ";
  std::string path = EscapeControls(next.string());
  const std::size_t room = kProgressWidth - std::min(kProgressWidth - 10, counter.size());
  if (path.size() > room) {
    std::size_t from = path.size() - (room - 3);
    while (from < path.size() && (static_cast<unsigned char>(path[from]) & 0xC0) == 0x80) ++from;
    path = "..." + path.substr(from);
  }
  terminal_.err << counter << path << std::flush;
  progress_shown_ = true;
}

void Reporter::TakenOnce(const fs::path& again, const fs::path& first) {
  if (options_.verbosity != Verbosity::kVerbose || options_.json) return;
  terminal_.out << EscapeControls(again.string()) << ": the same file as "
                << EscapeControls(first.string()) << ", taken once\n";
}

std::string Reporter::TargetText(const fs::path& target) const {
  return EscapeControls(options_.output_dir.empty() ? target.filename().string() : target.string());
}

void Reporter::ClearProgress() {
  if (!progress_shown_) return;
  terminal_.err << "\r\033[K" << std::flush;
  progress_shown_ = false;
}

void Reporter::Report(const FileResult& r, Fate fate) {
  ClearProgress();
  if (ProcessedFate(fate) && !r.template_problem.empty()) {
    terminal_.err << "tessaly-cli: " << Quoted(r.input) << ": "
                  << EscapeControls(r.template_problem) << "; the standard name is used\n"
                  << std::flush;
  }
  if (options_.json) {
    ReportJson(r, fate);
  } else {
    ReportText(r, fate);
  }
  terminal_.out << std::flush;
}

void Reporter::ReportJson(const FileResult& r, Fate fate) {
  const PictureResult* p = r.picture ? &*r.picture : nullptr;
  Json line;
  line["input"] = FullPath(r.input);
  if (ProcessedFate(fate) && p != nullptr) {
    line["header"] = Latin1ToUtf8(p->header_text);
    line["proposed"] = FullPath(p->proposed_name);
    line["changed"] = p->changed;
    line["saved"] = fate == Fate::kSaved;
    line["black_level"] = p->black_level;
    line["white_level"] = p->white_level;
    const auto [width, height] = OutputSize(r);
    line["width"] = width;
    line["height"] = height;
    line["named_from"] = NamedFromText(p->named_from);
    if (StateOf(*p) == HeaderState::kNoName) {
      if (const std::string problem = HeaderProblem(p->header_text); !problem.empty()) {
        line["header_problem"] = problem;
      }
    }
    line["reading"] = ReadingText(p->read_as);
    if (p->header_doubtful) {
      line["header_doubtful"] = true;
      line["header_confidence"] = RoundedConfidence(p->header_confidence.value_or(0.0));
      // The standard name alone: where a template or --output-dir would put it is this run's.
      if (!p->doubtful_name.empty()) line["doubtful_name"] = p->doubtful_name.filename().string();
    }
    if (p->looks_like_full_frame) line["looks_like_full_frame"] = true;
    if (fate == Fate::kKeptOriginal) line["kept_original"] = true;
    if (fate == Fate::kUpToDate) line["up_to_date"] = true;
    if (r.sidecar_missing && !r.sidecar_kept && r.sidecar_error.empty()) {
      line["sidecar_written"] = true;
    }
    if (!r.collides_with.empty()) line["collides_with"] = FullPath(r.collides_with);
    if (!ProblemWords(r, fate).empty()) line["result_problem"] = r.result_problem;
    if (r.sidecar_kept) line["sidecar_kept"] = true;
    if (!r.sidecar_error.empty()) line["sidecar_error"] = r.sidecar_error;
  } else {
    line["changed"] = false;
    line["saved"] = false;
  }
  if (r.problem_known) line["known_problem"] = r.acknowledged_problem;
  if (fate == Fate::kAlreadyResult) line["skipped"] = "already a result";
  if (!r.skipped.empty()) line["skipped"] = r.skipped;
  if (!r.error.empty()) line["error"] = r.error;
  terminal_.out << JsonText(line) << '\n' << std::flush;
  for (const std::string* error : {&r.error, &r.sidecar_error}) {
    if (!error->empty()) {
      terminal_.err << "tessaly-cli: " << EscapeControls(*error) << '\n' << std::flush;
    }
  }
}

void Reporter::ReportText(const FileResult& r, Fate fate) {
  // Names may hold any byte but the slash: each file's report stays one line of plain text.
  if (fate == Fate::kFailed) {
    PrintError(r.error);
    return;
  }
  if (options_.verbosity == Verbosity::kQuiet) return;
  // A file whose problem the user acknowledged is left alone quietly.
  if (fate == Fate::kKnown && options_.verbosity != Verbosity::kVerbose) return;
  // An up-to-date file is mentioned only with -v, or when its missing sidecar was written.
  if (fate == Fate::kUpToDate && !(r.sidecar_missing && r.sidecar_error.empty())) {
    if (!r.sidecar_error.empty()) PrintError(r.sidecar_error);
    if (options_.verbosity != Verbosity::kVerbose) return;
  }
  terminal_.out << FateLine(r, fate) << ProblemWords(r, fate) << '\n';
  if (fate == Fate::kSaved && !r.sidecar_error.empty()) PrintError(r.sidecar_error);
  if (r.picture && ProcessedFate(fate)) PrintNotes(r);
}

void Reporter::PrintError(const std::string& error) {
  terminal_.err << "tessaly-cli: " << EscapeControls(error) << '\n' << std::flush;
}

std::string Reporter::FateLine(const FileResult& r, Fate fate) const {
  const PictureResult* p = r.picture ? &*r.picture : nullptr;
  const bool unread = p != nullptr && p->named_from == NamedFrom::kInputName;
  const std::string header = unread ? UnnamedWords(*p) : std::string();
  const std::string in = EscapeControls(r.input.string());
  const fs::path proposed = p != nullptr ? p->proposed_name : fs::path();
  const std::string to = in + " -> " + TargetText(proposed) + ": ";
  const std::string other = EscapeControls(r.collides_with.string());
  switch (fate) {
    case Fate::kSkipped:
      return EscapeControls(r.skipped);
    case Fate::kAlreadyResult:
      return in + ": already a result of this tool, skipped";
    case Fate::kUnreadLeft:
      return in + ": " + header + ", not saved (--skip-unread)";
    case Fate::kSaved:
      return (unread ? in + ": " + header + ", saved as " + TargetText(proposed) : to + "saved") +
             (r.replaced_collision ? ", replacing the result of " + other : "") +
             (r.sidecar_kept ? "; sidecar not written, " + KeptWords(SidecarName(proposed)) +
                                   " (--overwrite-originals replaces it)"
                             : "");
    case Fate::kWouldSave:
      return unread
                 ? in + ": " + header + ", would be saved as " + TargetText(proposed) + " (dry run)"
                 : to + "would be saved (dry run)";
    case Fate::kUnchanged:
      return unread ? in + ": " + header + ", keeps its name, nothing to save"
                    : to + "unchanged, nothing to save";
    case Fate::kDeclined:
      return to + "not saved, the file exists";
    case Fate::kKeptOriginal:
      return to + "not saved, " + KeptWords(proposed) + " (--overwrite-originals replaces it)";
    case Fate::kUpToDate:
      if (!r.sidecar_missing || !r.sidecar_error.empty()) return to + "up to date";
      return to + "up to date; " +
             (r.sidecar_kept ? "sidecar not written, " + KeptWords(SidecarName(proposed))
                             : "its missing sidecar written");
    case Fate::kCollided:
      return to + "not saved, " + other + " took that name in this run";
    case Fate::kWouldCollide:
      return to + "would collide with " + other + " (dry run)";
    case Fate::kKnown:
      return in + ": known problem (" + r.acknowledged_problem + "), left alone (--recheck)";
    case Fate::kFailed:
      break;
  }
  return {};
}

// The notes below a processed file's line: what it looks like, what its doubtful header would
// name, and with -v the header, levels, cut and size.
void Reporter::PrintNotes(const FileResult& r) {
  const PictureResult* p = &*r.picture;
  std::ostream& out = terminal_.out;
  const std::string in = EscapeControls(r.input.string());
  if (p->looks_like_full_frame) {
    out << "    " << in << " looks like a full frame, not data lines only (--source full)\n";
  }
  if (!p->doubtful_name.empty()) {
    out << "    the doubtful header would name it "
        << EscapeControls(p->doubtful_name.filename().string()) << " (--accept-doubtful)\n";
  } else if (p->header_doubtful && StateOf(*p) == HeaderState::kNamed) {
    out << "    named from a doubtful header (\""
        << EscapeControls(Latin1ToUtf8(Trim(p->header_text))) << "\")\n";
  }
  if (options_.verbosity == Verbosity::kVerbose) {
    out << "    header \"" << EscapeControls(Latin1ToUtf8(p->header_text)) << "\"; black "
        << p->black_level << " (grey " << GreyOfSample(p->black_level) << "), white "
        << p->white_level << " (grey " << GreyOfSample(p->white_level) << "); cut " << p->cut.width
        << " x " << p->cut.height << " at " << p->cut.x << ", " << p->cut.y << "; output "
        << OutputSize(r).first << " x " << OutputSize(r).second << '\n';
  }
}

void Reporter::Summary(const RunCounts& c, int signal, std::size_t left) {
  ClearProgress();
  std::ostream& to = options_.json ? terminal_.err : terminal_.out;
  to << c.seen << (c.seen == 1 ? " file" : " files") << " seen: ";
  if (options_.dry_run) {
    to << c.would_save << " would be saved";
  } else {
    to << c.saved << " saved";
  }
  // The summary counts a file whose existing target was not replaced among the skipped.
  to << ", " << c.unchanged << " unchanged, " << c.skipped + c.declined << " skipped, " << c.failed
     << " failed";
  if (c.up_to_date > 0) to << ", " << c.up_to_date << " up to date";
  if (c.known > 0) to << ", " << c.known << (c.known == 1 ? " known problem" : " known problems");
  if (c.collided > 0)
    to << ", " << c.collided << (options_.dry_run ? " would collide" : " collided");
  if (c.unread > 0) to << ", " << c.unread << " header not read";
  if (c.unnamed > 0) to << ", " << c.unnamed << " header gave no name";
  if (c.doubtful > 0) to << ", " << c.doubtful << " header doubtful";
  if (c.results > 0)
    to << ", " << c.results << (c.results == 1 ? " already a result" : " already results");
  if (c.sidecars_added > 0) {
    to << ", " << c.sidecars_added
       << (c.sidecars_added == 1 ? " missing sidecar written" : " missing sidecars written");
  }
  if (c.sidecars_kept > 0) {
    to << ", " << c.sidecars_kept
       << (c.sidecars_kept == 1 ? " sidecar not written" : " sidecars not written");
  }
  if (c.originals_kept > 0) {
    to << ", " << c.originals_kept
       << (c.originals_kept == 1 ? " original kept" : " originals kept");
  }
  to << '\n' << std::flush;
  if (signal != 0) {
    terminal_.err << "tessaly-cli: interrupted by " << SignalName(signal) << "; " << left
                  << (left == 1 ? " file" : " files") << " not taken\n"
                  << std::flush;
  }
}

void Reporter::DestinationRefused(const std::string& why, std::size_t left) {
  terminal_.err << "tessaly-cli: " << EscapeControls(why)
                << ": nothing can be saved there, so the run "
                << "stopped; " << left << (left == 1 ? " file" : " files") << " not taken\n"
                << std::flush;
}

void Reporter::RecursiveHint(const std::vector<fs::path>& folders) {
  for (const fs::path& folder : folders) {
    terminal_.err << "tessaly-cli: " << Quoted(folder)
                  << " holds no pictures, only folders; -r (--recursive) takes the pictures in "
                     "them too\n";
  }
  terminal_.err << std::flush;
}

}  // namespace tessaly::cli
