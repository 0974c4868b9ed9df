// The batch run: parallel processing, ordered saving, per-file report and summary.
#include "cli/batch.h"

#include <sys/stat.h>

#include <exception>
#include <filesystem>
#include <istream>
#include <new>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/folders.h"
#include "app/processor.h"
#include "app/saving.h"
#include "base/text.h"
#include "cli/json.h"
#include "cli/ordered_runner.h"

namespace tessaly::cli {
namespace {

namespace fs = std::filesystem;

// What a worker found for one file.
struct FileResult {
  fs::path input;
  std::string error;    // the file failed
  std::string skipped;  // the file was not read
  std::string header;   // UTF-8
  fs::path proposed;
  bool changed = false;
  int black_level = 0;
  int white_level = 0;
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> png;  // the encoded output, when it is to be saved
};

struct Counts {
  int seen = 0, saved = 0, unchanged = 0, skipped = 0, failed = 0, would_save = 0;
};

// A message naming the file, unless it already does.
std::string Naming(const fs::path& file, const std::string& message) {
  if (message.find(file.string()) != std::string::npos) return message;
  return "\"" + file.string() + "\": " + message;
}

FileResult ProcessOne(const ExpandedName& name, const Options& options) {
  FileResult r;
  r.input = name.path;
  if (!name.error.empty()) {
    r.error = name.error;
    return r;
  }
  try {
    FileProcessor processor;
    processor.source_id = options.source_id;
    processor.keep_input = false;
    const FileOutcome outcome = processor.ProcessFile(name.path, false);
    if (outcome.status == FileOutcome::Status::kSkipped) {
      r.skipped = outcome.message;
      return r;
    }
    r.header = Latin1ToUtf8(processor.HeaderText());
    r.proposed = processor.ProposedName();
    r.changed = processor.SaveEnabled();
    r.black_level = processor.BlackLevel();
    r.white_level = processor.WhiteLevel();
    r.width = processor.OutputBitmap().Width();
    r.height = processor.OutputBitmap().Height();
    if (r.changed && !options.dry_run) r.png = EncodeOutput(processor.OutputBitmap(), r.proposed);
  } catch (const std::bad_alloc&) {
    r.error = OutOfMemoryMessage(name.path);
  } catch (const std::exception& e) {
    r.error = Naming(name.path, e.what());
  }
  return r;
}

// The files this batch has written, by identity, however their names are spelt. A worker reads
// ahead of the saves, so an input that a save replaced may have been read as it was before; it
// is read again, as a run of one file at a time would read it.
class WrittenFiles {
 public:
  void Add(const fs::path& file) {
    struct stat info {};
    if (::stat(file.c_str(), &info) == 0) ids_.emplace(info.st_dev, info.st_ino);
  }
  bool Holds(const fs::path& file) const {
    struct stat info {};
    return !ids_.empty() && ::stat(file.c_str(), &info) == 0 &&
           ids_.count({info.st_dev, info.st_ino}) != 0;
  }

 private:
  std::set<std::pair<dev_t, ino_t>> ids_;
};

class Reporter {
 public:
  Reporter(const Options& options, Terminal& terminal, std::size_t total)
      : options_(options),
        terminal_(terminal),
        total_(total),
        progress_(terminal.err_is_terminal && total > 1) {}

  // Asks on the terminal; any answer but y or yes, and the end of input, is No.
  Answer Ask(const std::string& caption, const std::string& text) {
    if (options_.overwrite == OverwritePolicy::kYes) return Answer::kYes;
    if (options_.overwrite == OverwritePolicy::kNo || !terminal_.in_is_terminal) return Answer::kNo;
    ClearProgress();
    terminal_.err << caption << ' ' << EscapeControls(text) << " [y/N] " << std::flush;
    std::string reply;
    if (!std::getline(terminal_.in, reply)) return Answer::kNo;
    const std::string answer = AsciiUpper(Trim(reply));
    return answer == "Y" || answer == "YES" ? Answer::kYes : Answer::kNo;
  }

  void Progress(std::size_t done, const fs::path& next) {
    if (!progress_) return;
    ClearProgress();
    terminal_.err << '[' << done << '/' << total_ << "] "
                  << EscapeControls(next.filename().string()) << std::flush;
    progress_shown_ = true;
  }

  void ClearProgress() {
    if (!progress_shown_) return;
    terminal_.err << "\r\033[K" << std::flush;
    progress_shown_ = false;
  }

  void Report(const FileResult& r, bool saved, const std::string& note) {
    ClearProgress();
    if (options_.json) {
      JsonLine line;
      line.Add("input", r.input.string());
      if (r.error.empty() && r.skipped.empty()) {
        line.Add("header", r.header)
            .Add("proposed", r.proposed.string())
            .Add("changed", r.changed)
            .Add("saved", saved)
            .Add("black_level", std::int64_t{r.black_level})
            .Add("white_level", std::int64_t{r.white_level})
            .Add("width", std::int64_t{r.width})
            .Add("height", std::int64_t{r.height});
      } else {
        line.Add("changed", false).Add("saved", false);
      }
      if (!r.skipped.empty()) line.Add("skipped", r.skipped);
      if (!r.error.empty()) line.Add("error", r.error);
      terminal_.out << line.str() << '\n' << std::flush;
      if (!r.error.empty()) terminal_.err << "tessaly-cli: " << EscapeControls(r.error) << '\n';
      return;
    }
    // Names may hold any byte but the slash: each file's report stays one line of plain text.
    if (!r.error.empty()) {
      terminal_.err << "tessaly-cli: " << EscapeControls(r.error) << '\n' << std::flush;
    } else if (!r.skipped.empty()) {
      terminal_.out << EscapeControls(r.skipped) << '\n';
    } else {
      terminal_.out << EscapeControls(r.input.string()) << " -> "
                    << EscapeControls(r.proposed.filename().string()) << ": " << note << '\n';
    }
    terminal_.out << std::flush;
  }

  void Summary(const Counts& c) {
    ClearProgress();
    std::ostream& to = options_.json ? terminal_.err : terminal_.out;
    to << c.seen << (c.seen == 1 ? " file" : " files") << " seen: " << c.saved << " saved, "
       << c.unchanged << " unchanged, " << c.skipped << " skipped, " << c.failed << " failed";
    if (options_.dry_run) to << " (dry run: " << c.would_save << " would be saved)";
    to << '\n' << std::flush;
  }

 private:
  const Options& options_;
  Terminal& terminal_;
  std::size_t total_;
  bool progress_;
  bool progress_shown_ = false;
};

}  // namespace

int RunBatch(const Options& options, Terminal& terminal) {
  // Reports and proposals name files by their full path.
  std::vector<fs::path> paths;
  for (const std::string& p : options.paths) {
    std::error_code ec;
    const fs::path full = fs::absolute(p, ec);
    paths.push_back(ec ? fs::path(p) : full);
  }
  const std::vector<ExpandedName> names = ExpandNames(paths);
  Reporter reporter(options, terminal, names.size());
  Counts counts;
  WrittenFiles written;
  const OverwriteQuestion ask = [&](const std::string& caption, const std::string& text) {
    return reporter.Ask(caption, text);
  };

  reporter.Progress(0, names.empty() ? fs::path() : names.front().path);
  RunOrdered<FileResult>(
      names.size(), options.jobs, static_cast<std::size_t>(options.jobs) * 2,
      [&](std::size_t i) { return ProcessOne(names[i], options); },
      [&](std::size_t i, FileResult&& r) {
        if (written.Holds(names[i].path)) r = ProcessOne(names[i], options);
        ++counts.seen;
        bool saved = false;
        std::string note;
        if (r.error.empty() && r.skipped.empty()) {
          if (!r.changed) {
            ++counts.unchanged;
            note = "unchanged, nothing to save";
          } else if (options.dry_run) {
            ++counts.would_save;
            ++counts.skipped;
            note = "would be saved (dry run)";
          } else {
            try {
              saved = SaveEncodedOutput(r.png, r.proposed, ask);
              if (saved) written.Add(r.proposed);
              note = saved ? "saved" : "not saved, the file exists";
              ++(saved ? counts.saved : counts.skipped);
            } catch (const std::bad_alloc&) {
              r.error = OutOfMemoryMessage(r.input);
            } catch (const std::exception& e) {
              r.error = Naming(r.input, e.what());
            }
          }
        } else if (!r.skipped.empty()) {
          ++counts.skipped;
        }
        if (!r.error.empty()) ++counts.failed;
        reporter.Report(r, saved, note);
        if (i + 1 < names.size()) reporter.Progress(i + 1, names[i + 1].path);
      });
  reporter.Summary(counts);
  return counts.failed > 0 ? 1 : 0;
}

}  // namespace tessaly::cli
