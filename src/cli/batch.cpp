// The batch run: parallel processing, ordered saving, per-file report and summary.
#include "cli/batch.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <exception>
#include <filesystem>
#include <map>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "app/folders.h"
#include "app/ordered_runner.h"
#include "app/output_folder.h"
#include "app/run_step.h"
#include "base/errors.h"
#include "base/files.h"
#include "base/limits.h"
#include "base/text.h"
#include "catalog/catalog.h"
#include "cli/catalog_run.h"
#include "cli/name_list.h"
#include "cli/sidecar.h"

namespace tessaly::cli {
namespace {

namespace fs = std::filesystem;

// The per-file step's options, as the command line gives them.
RunOptions RunOptionsOf(const Options& options, const OutputFolder* output) {
  RunOptions run;
  run.processing.source = options.source;
  run.processing.accept_doubtful = options.accept_doubtful;
  run.target = {options.name_template, output};
  run.tool_results = options.include_results ? ToolResults::kTaken : ToolResults::kLeftOutOfFolders;
  run.skip_unread = options.skip_unread;
  run.dry_run = options.dry_run;
  run.redo_up_to_date = options.overwrite == OverwritePolicy::kYes;
  run.creation_time = options.creation_time ? CreationTime::kFromHeader : CreationTime::kLeftOut;
  run.verify = options.verify;
  return run;
}

// With a catalogue the input is stamped before it is read, and hashed from the bytes the
// pipeline reads. Unless `decode`, an input whose row shows it as it is now, with its output
// standing as saved, is recalled from its row instead of being decoded again (the step then
// checks that the output is the target this run gives it).
// What a row recalls beyond the picture: the saved PNG's size and hash.
struct RecordedOutput {
  int width = 0, height = 0;
  std::string hash;
};

// A problem of the input that its row records and the user acknowledged, while the input is
// as it was: not reported or counted again, and unless a result of the file stands (a doubtful
// header saved under the file's own name), the file is left alone unread. --overwrite does not
// change that; --recheck does.
void NoteAcknowledged(FileResult& r, const FrameRow& row, const fs::path& file,
                      const std::function<bool()>& stopped) {
  if (!AcknowledgedNow(row, *r.source, [&] { return HashFile(file, stopped); })) return;
  r.acknowledged_problem = *row.problem;
  r.left_alone = !LeavesAnOutput(row.outcome);
}

std::optional<RecalledPicture> RecallFromCatalog(FileResult& r, RecordedOutput& recorded,
                                                 std::optional<FrameRow>& row,
                                                 const ExpandedName& name, const Options& options,
                                                 Catalog& catalog, bool decode,
                                                 const std::function<bool()>& stopped,
                                                 FileBytesSeen& seen) {
  SourceFacts& facts = r.source.emplace();
  try {
    facts.stamp = StampOf(name.path);
  } catch (const std::exception&) {
    r.source.reset();  // the pipeline says what is wrong with the file
    return std::nullopt;
  }
  seen = [&facts](std::span<const std::uint8_t> bytes) { facts.hash = HashBytes(bytes); };
  try {
    std::optional<FrameRow> found = catalog.Find(FullPath(name.path));
    if (found && !options.recheck && !decode) NoteAcknowledged(r, *found, name.path, stopped);
    if (r.left_alone || options.overwrite == OverwritePolicy::kYes) return std::nullopt;
    row = std::move(found);
    // Only a file that may be unchanged, whose row left a result made as this run makes it, is
    // read for its hash; one too large to be read at all is refused by the pipeline at once,
    // as it was the first time.
    if (decode || !row || row->source_size != facts.stamp.size ||
        row->source_mtime != facts.stamp.mtime || !LeavesAnOutput(row->outcome) ||
        static_cast<std::uint64_t>(facts.stamp.size) > kMaxReadFileBytes ||
        row->source_kind.value_or(SourceWord(options.source)) != SourceWord(options.source) ||
        row->creation_time.value_or(options.creation_time) != options.creation_time) {
      return std::nullopt;
    }
    if (facts.hash.empty()) facts.hash = HashFile(name.path, stopped);
    if (!UpToDateFromCatalog(*row, facts)) return std::nullopt;
    std::optional<PictureResult> p = RecordedPicture(*row, name.path, options.accept_doubtful);
    const std::optional<std::pair<int, int>> size = PngSize(*row->output);
    if (!p || !size) return std::nullopt;
    recorded = {size->first, size->second, *row->output_hash};
    return RecalledPicture{std::move(*p), *row->output};
  } catch (const std::exception&) {
    return std::nullopt;  // what cannot be looked up or examined is decoded again
  }
}

FileResult ProcessOne(const ExpandedName& name, const Options& options, const RunOptions& run,
                      FileWriters& writers, Catalog* catalog, const std::function<bool()>& stopped,
                      bool decode = false) {
  FileResult r;
  RecordedOutput recorded;
  std::optional<FrameRow> row;
  FileHooks hooks;
  if (catalog != nullptr) {
    hooks.recall = [&](const ExpandedName& n, FileBytesSeen& seen) {
      return RecallFromCatalog(r, recorded, row, n, options, *catalog, decode, stopped, seen);
    };
    hooks.left_alone = [&r] { return r.left_alone; };
  }
  if (catalog != nullptr || options.sidecar) {
    hooks.judge = [&](const FileWork& work) {
      std::string why;
      if (row)
        why =
            RowAgainstResult(*row, *work.picture, r.source ? &*r.source : nullptr, options.source);
      if (why.empty() && options.sidecar) why = SidecarAgainstResult(work, options.source);
      return why;
    };
  }
  if (options.sidecar) {
    hooks.sidecar = [&options](const FileWork& work) { return SidecarBytes(work, options.source); };
  }
  static_cast<FileWork&>(r) = ReadFileWork(name, run, writers, hooks);
  if (r.recalled) {
    r.recorded_width = recorded.width;
    r.recorded_height = recorded.height;
    r.recorded_output_hash = std::move(recorded.hash);
  }
  // Every failure of the file names it; a folder's own failure already does.
  if (!r.error.empty() && name.error.empty()) r.error = NamingFile(name.path, r.error);
  return r;
}

// The names of the command line, then those of the --from-file list, as given.
std::vector<fs::path> GivenNames(const Options& options, const Terminal& terminal) {
  std::vector<fs::path> names(options.paths.begin(), options.paths.end());
  if (!options.from_file.empty()) {
    static const std::atomic<int> never{0};
    for (std::string& n : ReadNameList(options.from_file, options.null_separated ? '\0' : '\n',
                                       terminal.interrupted ? *terminal.interrupted : never)) {
      names.emplace_back(std::move(n));
    }
  }
  return names;
}

int Signal(const Terminal& terminal) {
  return terminal.interrupted ? terminal.interrupted->load() : 0;
}

// Writes the sidecar of a saved result, or the one an up-to-date result lacks; the picture
// stands whatever becomes of its sidecar, a failure is the sidecar's alone.
void PublishSidecarOf(FileResult& r, const Options& options) {
  try {
    r.sidecar_kept = !PublishSidecar(r, options.source, options.overwrite_originals);
  } catch (const std::bad_alloc&) {
    r.sidecar_error = OutOfMemoryMessage(r.input);
  } catch (const std::exception& e) {
    r.sidecar_error = e.what();
  }
  if (r.folder) {
    SyncFolder(*r.folder);
  } else {
    SyncFolder(r.picture->proposed_name.parent_path());
  }
}

// Saves one processed file, deciding about an existing target as the options say.
Fate Save(FileResult& r, const Options& options, Reporter& reporter, const Terminal& terminal,
          WrittenFiles& written) {
  bool kept_original = false;
  const OverwriteQuestion ask = [&](const fs::path& input, const fs::path& target) {
    switch (options.overwrite) {
      case OverwritePolicy::kYes:
        // Consent given in advance covers the tool's own results only: an
        // original that happens to carry the name is not replaced unasked.
        if (options.overwrite_originals || IsToolResult(target)) return Answer::kYes;
        kept_original = true;
        return Answer::kNo;
      case OverwritePolicy::kNo:
        return Answer::kNo;
      case OverwritePolicy::kAsk:
        break;
    }
    if (!terminal.in_is_terminal) return Answer::kNo;
    return reporter.Ask(input, target);
  };
  // The picture and its sidecar take their names one after the other; the folder is flushed
  // once, after both.
  const Fate fate =
      SaveInRun(*r.picture, r.prepared_png, ask, written, r.error, options.sidecar, r.folder);
  if (fate == Fate::kFailed) r.error = NamingFile(r.input, r.error);
  if (fate == Fate::kSaved && options.sidecar) PublishSidecarOf(r, options);
  return fate == Fate::kDeclined && kept_original ? Fate::kKeptOriginal : fate;
}

// The targets of this run's inputs, by their full path, with the input that took each first:
// a later input proposing one of them collides with it, in a dry run as in a real one.
using Claims = std::unordered_map<std::string, fs::path>;

// A file recalled from its catalogue row has no picture to save; an earlier input of this run
// that took its target makes it a collision, saved as the overwrite rules allow.
bool NeedsDecoding(const FileResult& r, const Claims& claims) {
  return r.recalled && claims.count(FullPath(r.picture->proposed_name)) != 0;
}

// A file whose target an earlier input of this run took: saved only as the overwrite rules
// allow replacing that input's result.
Fate Collide(FileResult& r, const Options& options, Reporter& reporter, const Terminal& terminal,
             WrittenFiles& written) {
  if (options.dry_run) return Fate::kWouldCollide;
  PictureResult& p = *r.picture;
  const bool earlier_saved = written.Holds(p.proposed_name);
  // An up-to-date file was not encoded ahead; the save encodes the plain PNG itself.
  if (p.png.empty() && options.creation_time) EncodePicture(p, CreationTime::kFromHeader);
  const Fate fate = Save(r, options, reporter, terminal, written);
  if (fate == Fate::kDeclined || fate == Fate::kKeptOriginal) return Fate::kCollided;
  r.replaced_collision = fate == Fate::kSaved && earlier_saved;
  return fate;
}

Fate Decide(FileResult& r, const Options& options, Reporter& reporter, const Terminal& terminal,
            WrittenFiles& written, Claims& claims) {
  if (!r.error.empty()) return Fate::kFailed;
  if (!r.skipped.empty()) return Fate::kSkipped;
  if (r.already_result) return Fate::kAlreadyResult;
  if (r.left_alone) return Fate::kKnown;
  PictureResult& p = *r.picture;
  if (options.skip_unread && p.named_from == NamedFrom::kInputName && p.changed) {
    return Fate::kUnreadLeft;
  }
  const auto [claim, first] = claims.try_emplace(FullPath(p.proposed_name), r.input);
  // A file that keeps its name takes it, but saves nothing to collide.
  if (!p.changed) return Fate::kUnchanged;
  if (!first) {
    r.collides_with = claim->second;
    return Collide(r, options, reporter, terminal, written);
  }
  if (r.up_to_date) {
    if (r.sidecar_missing) PublishSidecarOf(r, options);
    return Fate::kUpToDate;
  }
  if (options.dry_run) return Fate::kWouldSave;
  return Save(r, options, reporter, terminal, written);
}

// The inputs with each file given more than once (the same device and inode, however its name
// is spelt) kept at its first place only; `repeated` pairs each later name with the first.
std::vector<ExpandedName> TakenOnce(std::vector<ExpandedName> names,
                                    std::vector<std::pair<fs::path, fs::path>>& repeated) {
  std::map<FileId, std::size_t> first;
  std::vector<ExpandedName> once;
  once.reserve(names.size());
  for (ExpandedName& name : names) {
    const std::optional<FileId> id = name.error.empty() ? IdOf(name.path) : std::nullopt;
    if (id) {
      const auto [at, fresh] = first.try_emplace(*id, once.size());
      if (!fresh) {
        repeated.emplace_back(name.path, once[at->second].path);
        continue;
      }
    }
    once.push_back(std::move(name));
  }
  return once;
}

// What a batch needs before its first file: the catalogue, the output folder and the inputs.
struct BatchSetUp {
  RunCatalog catalog;
  std::optional<OutputFolder> output;
  Expansion expansion;
};

void SetUp(BatchSetUp& set_up, const Options& options, const Terminal& terminal) {
  // The output folder first: a catalogue kept in it is opened once the folder stands.
  if (!options.output_dir.empty()) {
    set_up.output.emplace(WithSingleSlashes(options.output_dir));
    if (!options.dry_run) set_up.output->Make();
  }
  set_up.catalog.Open(options, terminal.interrupted);
  FolderWalk walk{options.recursive, {}};
  // Results filed inside the tree being read are not read back as inputs.
  if (set_up.output) walk.leave_out = set_up.output->path();
  set_up.expansion = ExpandFolders(GivenNames(options, terminal), walk);
}

// The state of a batch while its files are handed over in input order.
class Batch {
 public:
  Batch(const Options& options, Terminal& terminal, BatchSetUp& set_up,
        const std::vector<ExpandedName>& names)
      : options_(options),
        terminal_(terminal),
        set_up_(set_up),
        names_(names),
        run_(RunOptionsOf(options, set_up.output ? &*set_up.output : nullptr)),
        reporter_(options, terminal, names.size()),
        // Up to two files a worker may be written ahead (a picture and its sidecar each).
        writers_(2 * options.jobs) {}

  Reporter& reporter() { return reporter_; }

  // Runs every file; returns the exit status.
  int Run() {
    if (Signal(terminal_) == 0) {
      reporter_.Progress(0, names_.empty() ? fs::path() : names_.front().path);
    }
    RunOrdered<FileResult>(
        names_.size(), options_.jobs, static_cast<std::size_t>(options_.jobs) * 2,
        [this](std::size_t i) { return Work(i); },
        [this](std::size_t i, FileResult&& r) { Handle(i, std::move(r)); },
        [this] { return Signal(terminal_) != 0 || !refused_.empty(); });
    reporter_.ClearProgress();
    const bool catalogued = set_up_.catalog.Finish(terminal_.err);
    const int signal = Signal(terminal_);
    reporter_.Summary(counts_, signal, names_.size() - handled_);
    if (!refused_.empty()) reporter_.DestinationRefused(refused_, names_.size() - handled_);
    reporter_.RecursiveHint(set_up_.expansion.only_subfolders);
    if (signal != 0) return 128 + signal;
    return ExitStatus(catalogued);
  }

 private:
  FileResult Work(std::size_t i, bool decode = false) {
    return ProcessOne(names_[i], options_, run_, writers_, set_up_.catalog.catalog(), stopped_,
                      decode);
  }

  int ExitStatus(bool catalogued) {
    if (options_.strict) {
      const int untrusted = counts_.Untrusted();
      if (untrusted > 0) {
        terminal_.err << "tessaly-cli: --strict: " << untrusted
                      << (untrusted == 1 ? " file's header was" : " files' headers were")
                      << " not read, doubtful or gave no name\n";
        return 1;
      }
      // A folder of dated folders named without -r gave nothing to do: not what was meant.
      if (!set_up_.expansion.only_subfolders.empty()) return 1;
    }
    return counts_.failed > 0 || !catalogued || !refused_.empty() ? 1 : 0;
  }

  // An output folder that cannot be written (a read-only file system, no permission) would
  // fail every file after this one alike: the run stops at the first. Saved beside their
  // inputs, files go to folders of their own, and the others go on.
  void StopWhenRefused(const FileResult& r, Fate fate) {
    if (fate != Fate::kFailed || options_.dry_run || !set_up_.output) return;
    // Where the file would have been saved: a save that failed at its turn names its folder.
    fs::path folder = r.picture ? r.picture->proposed_name.parent_path() : set_up_.output->path();
    // The folder may not have been made yet: the nearest one that stands is asked.
    std::error_code ec;
    while (!fs::exists(folder, ec) && folder.has_relative_path()) folder = folder.parent_path();
    if (::access(folder.empty() ? "." : folder.c_str(), W_OK) == 0) return;
    if (errno == EROFS || errno == EACCES || errno == EPERM) {
      refused_ = NamingFile(folder, std::strerror(errno));
    }
  }

  void Handle(std::size_t i, FileResult&& r) {
    // A signal that came while this file was processed: its save is no longer started.
    if (Signal(terminal_) != 0 || !refused_.empty()) return;
    ++handled_;
    if (written_.Holds(names_[i].path) || NeedsDecoding(r, claims_)) r = Work(i, true);
    const fs::path folder = r.picture ? r.picture->proposed_name.parent_path() : fs::path();
    if (r.picture && r.picture->changed && !options_.dry_run && swept_.insert(folder).second) {
      if (r.folder) {
        RemoveStaleTemporaries(*r.folder);
      } else {
        RemoveStaleTemporaries(folder);
      }
    }
    const Fate fate = Decide(r, options_, reporter_, terminal_, written_, claims_);
    const PictureResult* picture = r.picture ? &*r.picture : nullptr;
    r.problem_known = fate == Fate::kKnown || (!r.acknowledged_problem.empty() &&
                                               ProblemOf(fate, picture) == r.acknowledged_problem);
    counts_.Add(fate, picture, r.problem_known);
    if (!r.sidecar_error.empty()) ++counts_.failed;
    if (r.sidecar_kept) ++counts_.sidecars_kept;
    if (r.sidecar_missing && !r.sidecar_kept && r.sidecar_error.empty()) ++counts_.sidecars_added;
    reporter_.Report(r, fate);
    set_up_.catalog.Record(r, fate, terminal_.err);
    StopWhenRefused(r, fate);
    if (!refused_.empty()) return;
    if (i + 1 < names_.size()) reporter_.Progress(i + 1, names_[i + 1].path);
  }

  const Options& options_;
  Terminal& terminal_;
  BatchSetUp& set_up_;
  const std::vector<ExpandedName>& names_;
  const RunOptions run_;
  Reporter reporter_;
  FileWriters writers_;
  RunCounts counts_;
  WrittenFiles written_;
  std::set<fs::path> swept_;  // folders saved to, cleared of what killed runs left there
  Claims claims_;
  std::size_t handled_ = 0;
  std::string refused_;  // the destination that cannot be written, and why; the run stops
  // A hash of a large input stops within a piece of the file once a signal came.
  const std::function<bool()> stopped_ = [this] { return Signal(terminal_) != 0; };
};

}  // namespace

int RunBatch(const Options& options, Terminal& terminal) {
  BatchSetUp set_up;
  try {
    SetUp(set_up, options, terminal);
  } catch (const std::exception& e) {
    terminal.err << "tessaly-cli: " << e.what() << '\n';
    // Such as a wait for a catalogue that another process holds, given up at a signal.
    return Signal(terminal) != 0 ? 128 + Signal(terminal) : 1;
  }
  std::vector<std::pair<fs::path, fs::path>> repeated;
  const std::vector<ExpandedName> names = TakenOnce(std::move(set_up.expansion.names), repeated);
  Batch batch(options, terminal, set_up, names);
  for (const auto& [again, first] : repeated) batch.reporter().TakenOnce(again, first);
  return batch.Run();
}

}  // namespace tessaly::cli
