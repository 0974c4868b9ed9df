// The batch run: parallel processing, ordered saving, per-file report and summary.
#include "cli/batch.h"

#include <sys/stat.h>

#include <exception>
#include <filesystem>
#include <new>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/folders.h"
#include "app/ordered_runner.h"
#include "app/processor.h"
#include "app/results.h"
#include "app/saving.h"
#include "base/files.h"
#include "base/text.h"
#include "cli/name_list.h"
#include "cli/sidecar.h"
#include "naming/name_template.h"

namespace tessaly::cli {
namespace {

namespace fs = std::filesystem;

// A message naming the file, unless it already does.
std::string Naming(const fs::path& file, const std::string& message) {
  if (message.find(file.string()) != std::string::npos) return message;
  return "\"" + file.string() + "\": " + message;
}

bool IsPngName(const fs::path& p) {
  return AsciiUpper(p.extension().string()) == ".PNG";
}

FileResult ProcessOne(const ExpandedName& name, const Options& options) {
  FileResult r;
  r.input = name.path;
  if (!name.error.empty()) {
    r.error = name.error;
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
    PictureResult& p = r.picture.emplace(ProcessPicture(name.path, processing));
    if (!options.name_template.empty() && p.header) {
      // A template that needs a field this header lacks, or gives no safe name,
      // leaves the standard name.
      if (auto named =
              NameFromTemplate(options.name_template, *p.header, name.path, p.proposed_name)) {
        p.proposed_name = WithPngExtension(*named);
        p.changed = !SameNameIgnoringCase(p.proposed_name, name.path);
      }
    }
    if (p.changed && !options.dry_run) {
      EncodePicture(p);
      // Writing and flushing the files is the slow part of a save; done here, on the worker,
      // it overlaps with the other files. A target that stands already may not be replaced,
      // so its file is written only once the save at its turn is agreed.
      if (!NameIsTaken(p.proposed_name)) {
        r.prepared_png = PrepareAhead(p.proposed_name, p.png);
        if (options.sidecar) {
          r.prepared_sidecar = PrepareAhead(SidecarName(p.proposed_name), SidecarBytes(r));
        }
      }
    }
  } catch (const std::bad_alloc&) {
    r.picture.reset();
    r.error = OutOfMemoryMessage(name.path);
  } catch (const std::exception& e) {
    r.picture.reset();
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

// The names of the command line, then those of the --from-file list, as given.
std::vector<fs::path> GivenNames(const Options& options, const Terminal& terminal) {
  std::vector<fs::path> names(options.paths.begin(), options.paths.end());
  if (!options.from_file.empty()) {
    static const std::atomic<int> never{0};
    const std::string text =
        ReadNameList(options.from_file, terminal.interrupted ? *terminal.interrupted : never);
    for (std::string& n : SplitNameList(text, options.null_separated ? '\0' : '\n')) {
      names.emplace_back(std::move(n));
    }
  }
  return names;
}

int Signal(const Terminal& terminal) {
  return terminal.interrupted ? terminal.interrupted->load() : 0;
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
      if (options.sidecar) {
        // The picture stands saved whatever becomes of its sidecar.
        try {
          r.sidecar_kept = !PublishSidecar(r, options.overwrite_originals);
        } catch (const std::bad_alloc&) {
          r.sidecar_error = OutOfMemoryMessage(r.input);
        } catch (const std::exception& e) {
          r.sidecar_error = e.what();
        }
        SyncFolder(r.picture->proposed_name.parent_path());
      }
      return Fate::kSaved;
    }
    return kept_original ? Fate::kKeptOriginal : Fate::kDeclined;
  } catch (const std::bad_alloc&) {
    r.error = OutOfMemoryMessage(r.input);
    return Fate::kFailed;
  } catch (const std::exception& e) {
    r.error = Naming(r.input, e.what());
    return Fate::kFailed;
  }
}

Fate Decide(FileResult& r, const Options& options, Reporter& reporter, const Terminal& terminal,
            WrittenFiles& written) {
  if (!r.error.empty()) return Fate::kFailed;
  if (!r.skipped.empty()) return Fate::kSkipped;
  if (r.already_result) return Fate::kAlreadyResult;
  if (!r.picture->changed) return Fate::kUnchanged;
  if (options.skip_unread && r.picture->named_from == NamedFrom::kInputName) {
    return Fate::kUnreadLeft;
  }
  if (options.dry_run) return Fate::kWouldSave;
  return Save(r, options, reporter, terminal, written);
}

}  // namespace

int RunBatch(const Options& options, Terminal& terminal) {
  std::vector<ExpandedName> names;
  try {
    names = ExpandNames(GivenNames(options, terminal), options.recursive);
  } catch (const std::exception& e) {
    terminal.err << "tessaly-cli: " << e.what() << '\n';
    return 1;
  }
  Reporter reporter(options, terminal, names.size());
  Counts counts;
  WrittenFiles written;

  if (Signal(terminal) == 0) {
    reporter.Progress(0, names.empty() ? fs::path() : names.front().path);
  }
  std::size_t handled = 0;
  RunOrdered<FileResult>(
      names.size(), options.jobs, static_cast<std::size_t>(options.jobs) * 2,
      [&](std::size_t i) { return ProcessOne(names[i], options); },
      [&](std::size_t i, FileResult&& r) {
        // A signal that came while this file was processed: its save is no longer started.
        if (Signal(terminal) != 0) return;
        ++handled;
        if (written.Holds(names[i].path)) r = ProcessOne(names[i], options);
        const Fate fate = Decide(r, options, reporter, terminal, written);
        counts.Add(fate, r.picture && r.picture->named_from == NamedFrom::kInputName);
        if (!r.sidecar_error.empty()) ++counts.failed;
        if (r.sidecar_kept) ++counts.sidecars_kept;
        reporter.Report(r, fate);
        if (i + 1 < names.size()) reporter.Progress(i + 1, names[i + 1].path);
      },
      [&] { return Signal(terminal) != 0; });
  const int signal = Signal(terminal);
  reporter.Summary(counts, signal, names.size() - handled);
  if (signal != 0) return 128 + signal;
  return counts.failed > 0 ? 1 : 0;
}

}  // namespace tessaly::cli
