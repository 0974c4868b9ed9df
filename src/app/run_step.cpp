// One file of a run: skip reasons, the tool's own results, recalling or processing, the target,
// up to date, encoding and writing ahead.
#include "app/run_step.h"

#include <climits>
#include <exception>
#include <new>
#include <system_error>
#include <utility>

#include "base/errors.h"
#include "base/files.h"
#include "base/text.h"
#include "naming/name_template.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

bool IsPngName(const fs::path& p) {
  return AsciiUpper(p.extension().string()) == ".PNG";
}

bool LeftUnread(const PictureResult& p, const RunOptions& options) {
  return options.skip_unread && p.named_from == NamedFrom::kInputName;
}

// Where the result goes below the output folder: in the folder the input was found in, mirrored
// (the standard name, or the template's name), or where a template with folders puts it.
fs::path BelowOutput(const PictureResult& p, const ExpandedName& name, const TargetRules& rules,
                     std::string* problem) {
  const fs::path mirrored = name.relative.parent_path();
  const std::string& name_template = rules.name_template;
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

// Why the file is not read at all, naming it and in a few words, or nothing.
std::optional<std::pair<std::string, std::string>> NotRead(const ExpandedName& name) {
  // A pipe, a device or a socket among a folder's entries is no picture; reading one could
  // wait for ever. (Named, it fails as any unreadable file does.)
  std::error_code ec;
  if (name.from_folder && fs::is_other(fs::status(name.path, ec))) {
    return std::pair{"Skipped \"" + name.path.string() + "\": it is not a regular file",
                     std::string("it is not a regular file")};
  }
  if (std::optional<std::string> reason = SkipReason(name.path)) {
    return std::pair{std::move(*reason), std::string(kOnlyPicturesRead)};
  }
  return std::nullopt;
}

// The recalled picture, when its result is still the one this run would save; what cannot be
// examined is decoded again, and the decoding then says what is wrong.
bool Recall(FileWork& work, RecalledPicture recalled, const ExpandedName& name,
            const RunOptions& options, const FileHooks& hooks) {
  PictureResult& p = recalled.picture;
  std::string problem;
  try {
    PlaceTarget(p, name, options.target, false, &problem);
    if (!p.changed || LeftUnread(p, options) || FullPath(p.proposed_name) != recalled.output) {
      return false;
    }
    // A result whose sidecar is missing is decoded, so that the sidecar can be written.
    if (hooks.sidecar && !NameIsTaken(SidecarName(p.proposed_name))) return false;
    // An audit reads the result whole; one found unsound is decoded, and the checks of the
    // decoded file then say why it is made again.
    if (options.verify &&
        CheckResult(p.proposed_name, name.path, {std::nullopt, true}) != ResultState::kUpToDate) {
      return false;
    }
  } catch (const std::exception&) {
    return false;
  }
  work.template_problem = std::move(problem);
  work.picture = std::move(p);
  work.up_to_date = work.recalled = true;
  return true;
}

// What this run would save besides the picture, which the result found has to carry too.
ResultCheck ExpectedOf(const PictureResult& p, const RunOptions& options) {
  const bool dated =
      options.creation_time == CreationTime::kFromHeader && p.header && p.header->time;
  return {dated ? IsoTime(*p.header->time) : std::string(), options.verify};
}

// The tool's own result, made since the input last changed, is not made again; the question
// of an existing target does not arise for it. A result whose sidecar was lost (a run killed
// between the two, a sidecar that failed alone) gets it now, and only it.
bool UpToDate(FileWork& work, const RunOptions& options, FileWriters& writers,
              const FileHooks& hooks) {
  const fs::path& target = work.picture->proposed_name;
  const ResultState state = CheckResult(target, work.input, ExpectedOf(*work.picture, options));
  // Made again in any case, a damaged or foreign result is still worth a word.
  work.result_problem = ResultStateWords(state);
  if (options.redo_up_to_date) return false;
  if (state == ResultState::kUpToDate && hooks.judge) work.result_problem = hooks.judge(work);
  work.up_to_date = state == ResultState::kUpToDate && work.result_problem.empty();
  if (work.up_to_date && hooks.sidecar && !options.dry_run && !NameIsTaken(SidecarName(target))) {
    work.sidecar_missing = true;
    work.prepared_sidecar = writers.Write(SidecarName(target), hooks.sidecar(work), work.folder);
  }
  return work.up_to_date;
}

// Writing and flushing the files is the slow part of a save; done on the worker, it overlaps
// with the other files. A target that stands already may not be replaced, so its file is
// written only once the save at its turn is agreed.
void WriteAhead(FileWork& work, const RunOptions& options, FileWriters& writers,
                const FileHooks& hooks) {
  PictureResult& p = *work.picture;
  EncodePicture(p, options.creation_time);
  if (NameIsTaken(p.proposed_name)) return;
  work.prepared_png = writers.Write(p.proposed_name, p.png, work.folder);
  if (hooks.sidecar) {
    work.prepared_sidecar =
        writers.Write(SidecarName(p.proposed_name), hooks.sidecar(work), work.folder);
  }
}

void Process(FileWork& work, const ExpandedName& name, const RunOptions& options,
             FileWriters& writers, const FileHooks& hooks) {
  ProcessingOptions processing = options.processing;
  if (hooks.recall) {
    std::optional<RecalledPicture> recalled = hooks.recall(name, processing.on_file_bytes);
    if (recalled && Recall(work, std::move(*recalled), name, options, hooks)) return;
    if (hooks.left_alone && hooks.left_alone()) return;
  }
  TExtBitmap input = LoadPicture(name.path, processing.on_file_bytes);
  if (hooks.loaded) hooks.loaded(input);
  PictureResult& p =
      work.picture.emplace(ProcessLoadedPicture(name.path, std::move(input), processing));
  if (hooks.processed) hooks.processed(p);
  const bool to_save = !LeftUnread(p, options);
  PlaceTarget(p, name, options.target, to_save && !options.dry_run, &work.template_problem,
              &work.folder);
  if (!p.changed || !to_save) return;
  if (hooks.sidecar) CheckSidecarName(p.proposed_name);
  if (UpToDate(work, options, writers, hooks) || options.dry_run) return;
  WriteAhead(work, options, writers, hooks);
}

}  // namespace

bool IsResultLeftOut(const ExpandedName& name, ToolResults rule) {
  // A folder holds the results of earlier runs beside their originals; taking them again
  // would save a result of a result.
  if (rule == ToolResults::kTaken || (rule == ToolResults::kLeftOutOfFolders && !name.from_folder))
    return false;
  return IsPngName(name.path) && IsToolResult(name.path);
}

FileWork ReadFileWork(const ExpandedName& name, const RunOptions& options, FileWriters& writers,
                      const FileHooks& hooks) {
  FileWork work;
  work.input = name.path;
  if (!name.error.empty()) {
    work.error = name.error;
    return work;
  }
  if (IsResultLeftOut(name, options.tool_results)) {
    work.already_result = true;
    return work;
  }
  if (auto reason = NotRead(name)) {
    std::tie(work.skipped, work.skipped_words) = std::move(*reason);
    return work;
  }
  try {
    Process(work, name, options, writers, hooks);
  } catch (const std::bad_alloc&) {
    work.picture.reset();
    work.error = OutOfMemoryMessage(name.path);
  } catch (const std::exception& e) {
    work.picture.reset();
    work.error = e.what();
  }
  return work;
}

void PlaceTarget(PictureResult& p, const ExpandedName& name, const TargetRules& rules, bool make,
                 std::string* problem, FolderRef* folder) {
  if (rules.output != nullptr) {
    OutputFolder::Placed placed = rules.output->Place(BelowOutput(p, name, rules, problem), make);
    p.proposed_name = std::move(placed.path);
    if (folder != nullptr) *folder = std::move(placed.folder);
    p.changed = !SameNameIgnoringCase(FullPath(p.proposed_name), FullPath(name.path));
    return;
  }
  if (rules.name_template.empty() || !p.header) return;
  // A template that needs a field this header lacks, or gives no safe name, leaves the
  // standard name.
  if (auto named =
          NameFromTemplate(rules.name_template, *p.header, name.path, p.proposed_name, problem)) {
    p.proposed_name = WithPngExtension(*named);
    p.changed = !SameNameIgnoringCase(p.proposed_name, name.path);
  }
}

fs::path SidecarName(const fs::path& picture) {
  fs::path name = picture;
  name.replace_extension(".json");
  return name;
}

void CheckSidecarName(const fs::path& picture) {
  const std::size_t length = SidecarName(picture).filename().native().size();
  if (length <= NAME_MAX) return;
  throw Error("Cannot save \"" + picture.string() +
              "\" with its sidecar: the sidecar's name would be " + std::to_string(length) +
              " bytes, longer than the " + std::to_string(NAME_MAX) + " a file name may have");
}

Fate SaveInRun(const PictureResult& picture, PreparedFile& prepared, const OverwriteQuestion& ask,
               WrittenFiles& written, std::string& error, bool defer_folder_sync,
               FolderRef folder) {
  try {
    std::unique_ptr<PendingFile> file = Prepared(prepared);
    if (defer_folder_sync && file) file->DeferFolderSync();
    if (!SavePicture(picture, ask, std::move(file), {}, std::move(folder))) return Fate::kDeclined;
    written.Add(picture.proposed_name);
    return Fate::kSaved;
  } catch (const std::bad_alloc&) {
    error = OutOfMemoryMessage(picture.input_name);
  } catch (const std::exception& e) {
    error = e.what();
  }
  return Fate::kFailed;
}

}  // namespace tessaly
