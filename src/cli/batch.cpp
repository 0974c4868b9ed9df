// The batch run: parallel processing, ordered saving, per-file report and summary.
#include "cli/batch.h"

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
#include "app/processor.h"
#include "app/results.h"
#include "app/saving.h"
#include "base/errors.h"
#include "base/files.h"
#include "base/text.h"
#include "catalog/catalog.h"
#include "cli/catalog_run.h"
#include "cli/name_list.h"
#include "cli/sidecar.h"
#include "naming/name_template.h"

namespace tessaly::cli {
namespace {

namespace fs = std::filesystem;

bool IsPngName(const fs::path& p) {
  return AsciiUpper(p.extension().string()) == ".PNG";
}

// Where the result goes below the output folder: in the folder the input was found in, mirrored
// (the standard name, or the template's name), or where a template with folders puts it.
fs::path BelowOutput(const PictureResult& p, const ExpandedName& name, const Options& options,
                     std::string* problem) {
  const fs::path mirrored = name.relative.parent_path();
  const std::string& name_template = options.name_template;
  if (!name_template.empty() && p.header) {
    if (TemplateHasFolders(name_template)) {
      if (auto path = PathFromTemplate(name_template, *p.header, p.proposed_name, ".png")) {
        return *path;
      }
    } else if (auto named = NameFromTemplate(name_template, *p.header, name.path, p.proposed_name,
                                             problem)) {
      return mirrored / WithPngExtension(*named).filename();
    }
  }
  // A header that was not read, or a template that gave no name: the standard rules.
  return mirrored / p.proposed_name.filename();
}

// Gives the processed picture its target: beside the input as the pipeline proposed it or the
// template names it, or below the output folder, whose folders are made when `make`.
void SetTarget(PictureResult& p, const ExpandedName& name, const Options& options,
               const OutputFolder* output, bool make, std::string* problem) {
  if (output != nullptr) {
    p.proposed_name = output->Place(BelowOutput(p, name, options, problem), make);
    p.changed = !SameNameIgnoringCase(FullPath(p.proposed_name), FullPath(name.path));
    return;
  }
  if (options.name_template.empty() || !p.header) return;
  // A template that needs a field this header lacks, or gives no safe name, leaves the
  // standard name.
  if (auto named =
          NameFromTemplate(options.name_template, *p.header, name.path, p.proposed_name, problem)) {
    p.proposed_name = WithPngExtension(*named);
    p.changed = !SameNameIgnoringCase(p.proposed_name, name.path);
  }
}

bool LeftUnread(const PictureResult& p, const Options& options) {
  return options.skip_unread && p.named_from == NamedFrom::kInputName;
}

// With a catalogue the input is stamped before it is read, and hashed from the bytes the
// pipeline reads. Unless `decode`, an input whose row shows it as it is now, with its output
// standing as saved under the name this run would give, is up to date without being decoded
// again: true, with the recorded picture in `r`.
bool UpToDateByCatalog(FileResult& r, const ExpandedName& name, const Options& options,
                       const OutputFolder* output, Catalog& catalog, bool decode,
                       ProcessingOptions& processing) {
  SourceFacts& facts = r.source.emplace();
  try {
    facts.stamp = StampOf(name.path);
  } catch (const std::exception&) {
    r.source.reset();  // the pipeline says what is wrong with the file
    return false;
  }
  processing.on_file_bytes = [&facts](std::span<const std::uint8_t> bytes) {
    facts.hash = HashBytes(bytes);
  };
  if (decode || options.overwrite == OverwritePolicy::kYes) return false;
  try {
    const std::optional<FrameRow> row = catalog.Find(CatalogPath(name.path));
    // The stamp is compared first: only a file that may be unchanged is read for its hash.
    if (!row || row->source_size != facts.stamp.size || row->source_mtime != facts.stamp.mtime) {
      return false;
    }
    facts.hash = HashFile(name.path);
    if (!UpToDateFromCatalog(*row, facts)) return false;
    std::optional<PictureResult> p = RecordedPicture(*row, name.path, options.accept_doubtful);
    if (!p) return false;
    std::string problem;
    SetTarget(*p, name, options, output, false, &problem);
    const std::optional<std::pair<int, int>> size = PngSize(*row->output);
    if (!p->changed || LeftUnread(*p, options) || FullPath(p->proposed_name) != *row->output ||
        !size) {
      return false;
    }
    // A result whose sidecar is missing is decoded, so that the sidecar can be written.
    if (options.sidecar && !NameIsTaken(SidecarName(p->proposed_name))) return false;
    std::tie(r.recorded_width, r.recorded_height) = *size;
    r.recorded_output_hash = *row->output_hash;
    r.template_problem = std::move(problem);
    r.picture = std::move(p);
    r.up_to_date = r.from_catalog = true;
    return true;
  } catch (const std::exception&) {
    return false;  // what cannot be looked up or examined is decoded again
  }
}

FileResult ProcessOne(const ExpandedName& name, const Options& options, const OutputFolder* output,
                      FileWriters& writers, Catalog* catalog, bool decode = false) {
  FileResult r;
  r.input = name.path;
  if (!name.error.empty()) {
    r.error = name.error;
    return r;
  }
  // A pipe, a device or a socket among a folder's entries is no picture; reading one could
  // wait for ever. (Named on the command line, it fails as any unreadable file does.)
  std::error_code ec;
  if (name.from_folder && fs::is_other(fs::status(name.path, ec))) {
    r.skipped = "Skipped \"" + name.path.string() + "\": it is not a regular file";
    return r;
  }
  // A folder holds the results of earlier runs beside their originals; taking
  // them again would save a result of a result.
  if (name.from_folder && !options.include_results && IsPngName(name.path) &&
      IsToolResult(name.path)) {
    r.already_result = true;
    return r;
  }
  if (std::optional<std::string> reason = SkipReason(name.path)) {
    r.skipped = std::move(*reason);
    return r;
  }
  try {
    ProcessingOptions processing;
    processing.source = options.source;
    processing.accept_doubtful = options.accept_doubtful;
    if (catalog != nullptr &&
        UpToDateByCatalog(r, name, options, output, *catalog, decode, processing)) {
      return r;
    }
    PictureResult& p = r.picture.emplace(ProcessPicture(name.path, processing));
    const bool to_save = !LeftUnread(p, options);
    SetTarget(p, name, options, output, to_save && !options.dry_run, &r.template_problem);
    if (!p.changed || !to_save) return r;
    if (options.sidecar) CheckSidecarName(p.proposed_name);
    // The tool's own result, made since the input last changed, is not made again; the
    // question of an existing target does not arise for it. --overwrite redoes it.
    if (options.overwrite != OverwritePolicy::kYes) {
      r.up_to_date = IsUpToDate(p.proposed_name, name.path);
      // A result whose sidecar was lost (a run killed between the two, a sidecar that failed
      // alone) gets it now, and only it.
      if (r.up_to_date && options.sidecar && !options.dry_run &&
          !NameIsTaken(SidecarName(p.proposed_name))) {
        r.sidecar_missing = true;
        r.prepared_sidecar = writers.Write(SidecarName(p.proposed_name), SidecarBytes(r));
      }
      if (r.up_to_date) return r;
    }
    if (!options.dry_run) {
      EncodePicture(p, options.creation_time ? CreationTime::kFromHeader : CreationTime::kLeftOut);
      // Writing and flushing the files is the slow part of a save; done here, on the worker,
      // it overlaps with the other files. A target that stands already may not be replaced,
      // so its file is written only once the save at its turn is agreed.
      if (!NameIsTaken(p.proposed_name)) {
        r.prepared_png = writers.Write(p.proposed_name, p.png);
        if (options.sidecar) {
          r.prepared_sidecar = writers.Write(SidecarName(p.proposed_name), SidecarBytes(r));
        }
      }
    }
  } catch (const std::bad_alloc&) {
    r.picture.reset();
    r.error = OutOfMemoryMessage(name.path);
  } catch (const std::exception& e) {
    r.picture.reset();
    r.error = NamingFile(name.path, e.what());
  }
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
    r.sidecar_kept = !PublishSidecar(r, options.overwrite_originals);
  } catch (const std::bad_alloc&) {
    r.sidecar_error = OutOfMemoryMessage(r.input);
  } catch (const std::exception& e) {
    r.sidecar_error = e.what();
  }
  SyncFolder(r.picture->proposed_name.parent_path());
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
  try {
    // The picture and its sidecar take their names one after the other; the folder is
    // flushed once, after both.
    std::unique_ptr<PendingFile> prepared = Prepared(r.prepared_png);
    if (options.sidecar && prepared) prepared->DeferFolderSync();
    if (SavePicture(*r.picture, ask, std::move(prepared))) {
      written.Add(r.picture->proposed_name);
      if (options.sidecar) PublishSidecarOf(r, options);
      return Fate::kSaved;
    }
    return kept_original ? Fate::kKeptOriginal : Fate::kDeclined;
  } catch (const std::bad_alloc&) {
    r.error = OutOfMemoryMessage(r.input);
    return Fate::kFailed;
  } catch (const std::exception& e) {
    r.error = NamingFile(r.input, e.what());
    return Fate::kFailed;
  }
}

// The targets of this run's inputs, by their full path, with the input that took each first:
// a later input proposing one of them collides with it, in a dry run as in a real one.
using Claims = std::unordered_map<std::string, fs::path>;

// A file found up to date by its catalogue row has no picture to save; an earlier input of
// this run that took its target makes it a collision, saved as the overwrite rules allow.
bool NeedsDecoding(const FileResult& r, const Claims& claims) {
  return r.from_catalog && claims.count(FullPath(r.picture->proposed_name)) != 0;
}

Fate Decide(FileResult& r, const Options& options, Reporter& reporter, const Terminal& terminal,
            WrittenFiles& written, Claims& claims) {
  if (!r.error.empty()) return Fate::kFailed;
  if (!r.skipped.empty()) return Fate::kSkipped;
  if (r.already_result) return Fate::kAlreadyResult;
  PictureResult& p = *r.picture;
  if (LeftUnread(p, options) && p.changed) return Fate::kUnreadLeft;
  const auto [claim, first] = claims.try_emplace(FullPath(p.proposed_name), r.input);
  // A file that keeps its name takes it, but saves nothing to collide.
  if (!p.changed) return Fate::kUnchanged;
  if (!first) {
    r.collides_with = claim->second;
    if (options.dry_run) return Fate::kWouldCollide;
    // Saved only as the overwrite rules allow replacing the earlier input's result.
    const bool earlier_saved = written.Holds(p.proposed_name);
    // An up-to-date file was not encoded ahead; the save encodes the plain PNG itself.
    if (p.png.empty() && options.creation_time) EncodePicture(p, CreationTime::kFromHeader);
    const Fate fate = Save(r, options, reporter, terminal, written);
    if (fate == Fate::kDeclined || fate == Fate::kKeptOriginal) return Fate::kCollided;
    r.replaced_collision = fate == Fate::kSaved && earlier_saved;
    return fate;
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

}  // namespace

int RunBatch(const Options& options, Terminal& terminal) {
  std::optional<OutputFolder> output;
  Expansion expansion;
  RunCatalog run_catalog;
  try {
    run_catalog.Open(options);
    if (!options.output_dir.empty()) {
      output.emplace(WithSingleSlashes(options.output_dir));
      if (!options.dry_run) output->Make();
    }
    FolderWalk walk{options.recursive, {}};
    // Results filed inside the tree being read are not read back as inputs.
    if (output) walk.leave_out = output->path();
    expansion = ExpandFolders(GivenNames(options, terminal), walk);
  } catch (const std::exception& e) {
    terminal.err << "tessaly-cli: " << e.what() << '\n';
    return 1;
  }
  std::vector<std::pair<fs::path, fs::path>> repeated;
  const std::vector<ExpandedName> names = TakenOnce(std::move(expansion.names), repeated);
  Reporter reporter(options, terminal, names.size());
  for (const auto& [again, first] : repeated) reporter.TakenOnce(again, first);
  Counts counts;
  WrittenFiles written;
  std::set<fs::path> swept;  // folders saved to, cleared of what killed runs left there
  Claims claims;
  const OutputFolder* folder = output ? &*output : nullptr;
  Catalog* catalog = run_catalog.catalog();

  if (Signal(terminal) == 0) {
    reporter.Progress(0, names.empty() ? fs::path() : names.front().path);
  }
  std::size_t handled = 0;
  // Up to two files a worker may be written ahead (a picture and its sidecar each).
  FileWriters writers(2 * options.jobs);
  RunOrdered<FileResult>(
      names.size(), options.jobs, static_cast<std::size_t>(options.jobs) * 2,
      [&](std::size_t i) { return ProcessOne(names[i], options, folder, writers, catalog); },
      [&](std::size_t i, FileResult&& r) {
        // A signal that came while this file was processed: its save is no longer started.
        if (Signal(terminal) != 0) return;
        ++handled;
        if (written.Holds(names[i].path) || NeedsDecoding(r, claims)) {
          r = ProcessOne(names[i], options, folder, writers, catalog, true);
        }
        if (r.picture && r.picture->changed && !options.dry_run &&
            swept.insert(r.picture->proposed_name.parent_path()).second) {
          RemoveStaleTemporaries(r.picture->proposed_name.parent_path());
        }
        const Fate fate = Decide(r, options, reporter, terminal, written, claims);
        counts.Add(fate, r.picture ? &*r.picture : nullptr);
        if (!r.sidecar_error.empty()) ++counts.failed;
        if (r.sidecar_kept) ++counts.sidecars_kept;
        if (r.sidecar_missing && !r.sidecar_kept && r.sidecar_error.empty()) {
          ++counts.sidecars_added;
        }
        reporter.Report(r, fate);
        run_catalog.Record(r, fate, terminal.err);
        if (i + 1 < names.size()) reporter.Progress(i + 1, names[i + 1].path);
      },
      [&] { return Signal(terminal) != 0; });
  reporter.ClearProgress();
  const bool catalogued = run_catalog.Finish(terminal.err);
  const int signal = Signal(terminal);
  reporter.Summary(counts, signal, names.size() - handled);
  reporter.RecursiveHint(expansion.only_subfolders);
  if (signal != 0) return 128 + signal;
  if (options.strict && counts.Untrusted() > 0) {
    terminal.err << "tessaly-cli: --strict: " << counts.Untrusted()
                 << (counts.Untrusted() == 1 ? " file's header was" : " files' headers were")
                 << " not read, doubtful or gave no name\n";
    return 1;
  }
  return counts.failed > 0 || !catalogued ? 1 : 0;
}

}  // namespace tessaly::cli
