// One file of a run of many, from its name to all that can be done before its turn to be saved:
// the worker's step of the batch tool and of the window's runs alike. The front ends only ask,
// save and report, in input order.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/fate.h"
#include "app/folders.h"
#include "app/ordered_runner.h"
#include "app/output_folder.h"
#include "app/processor.h"
#include "app/results.h"
#include "app/saving.h"
#include "base/messages.h"

namespace tessaly {

// Whether the tool's own results are taken as inputs.
enum class ToolResults {
  kLeftOut,           // never (the window)
  kLeftOutOfFolders,  // only when named, not when a folder holds them (the batch tool)
  kTaken,             // always (--include-results)
};

// Where a run puts each result, beyond the standard name beside its input.
struct TargetRules {
  std::string name_template;             // names from the header's fields; empty for none
  const OutputFolder* output = nullptr;  // results below this folder, the tree mirrored
};

// How a run treats its files.
struct RunOptions {
  ProcessingOptions processing;
  TargetRules target;
  ToolResults tool_results = ToolResults::kLeftOut;
  bool skip_unread = false;      // save nothing for a file whose header named nothing
  bool dry_run = false;          // propose, write nothing, make no folder
  bool redo_up_to_date = false;  // results up to date are made again (--overwrite)
  CreationTime creation_time = CreationTime::kLeftOut;
  bool verify = false;  // a result is up to date only once read whole and found sound
};

// What a worker made of one file: the processed picture, or why there is none.
struct FileWork {
  std::filesystem::path input;  // as the user gave it (or below a folder as given)
  std::string error;            // the file failed: the reason, naming the file where it can
  std::string skipped;          // the file was not read, and why, naming it
  std::string skipped_words;    // the same reason alone ("only .bmp and .png files are read")
  bool already_result = false;  // a result of this tool, not taken as an input
  // Once the file was processed. Its proposed name is its target: the template's when one gave
  // a name, below the output folder when there is one; its png is encoded when it is to be
  // saved.
  std::optional<PictureResult> picture;
  // Why the name the template gave could not be used (the standard name was), or empty.
  std::string template_problem;
  // Below an output folder, the target's folder as OutputFolder::Place opened it: the picture,
  // its sidecar and their temporary files are made and named in it, never through the path.
  FolderRef folder;
  // The target is the tool's own result, not older than the input (IsUpToDate), or the result
  // recalled for it: nothing was encoded or written ahead.
  bool up_to_date = false;
  // Recalled, not decoded: the picture holds the recorded facts and no output.
  bool recalled = false;
  // Why the tool's result standing under the target is not up to date though it may look so
  // ("its result is damaged"); empty when there is none or nothing needs saying.
  std::string result_problem;
  // With sidecars: the up-to-date result's sidecar was missing, and only it is written.
  bool sidecar_missing = false;
  // The PNG, and its sidecar, being written ahead when the target was free then (see
  // FileWriters); no future, or a null file, when not (the save writes them at its turn).
  PreparedFile prepared_png;
  PreparedFile prepared_sidecar;
};

// A picture a run already knows a file by, instead of decoding it again (the catalogue's
// record of an input unchanged since), and the result that was saved for it.
struct RecalledPicture {
  PictureResult picture;         // the standard proposal in the input's folder; no output
  std::filesystem::path output;  // the result saved for it, as FullPath spells it
};

// What a front end adds to the step.
struct FileHooks {
  // Before the file is read: may recall it instead (checked against the target this run gives
  // it; a recalled picture whose output is not that target is decoded after all), and may set
  // what sees the bytes read.
  std::function<std::optional<RecalledPicture>(const ExpandedName&, FileBytesSeen&)> recall;
  // When `recall` recalled nothing: true leaves the file alone, unread, for the front end knows
  // what becomes of it (a problem of it the user acknowledged); the work then holds no picture.
  std::function<bool()> left_alone;
  std::function<void(const TExtBitmap&)> loaded;        // the input picture, before processing
  std::function<void(const PictureResult&)> processed;  // the result, before it is saved
  // Once the target passed the file checks (CheckResult): why what the front end knows of the
  // input or the result still makes it out of date, or empty (the catalogue's records).
  std::function<std::string(const FileWork&)> judge;
  // The bytes of the sidecar that goes beside a result; none: results have no sidecar.
  std::function<std::vector<std::uint8_t>(const FileWork&)> sidecar;
};

// True when the file is a result of this tool that `rule` leaves out of a run.
bool IsResultLeftOut(const ExpandedName& name, ToolResults rule);

// The worker's part of one file: all that needs no answer from the user. Never throws: a
// failure is the work's error.
FileWork ReadFileWork(const ExpandedName& name, const RunOptions& options, FileWriters& writers,
                      const FileHooks& hooks = {});

// Gives the processed picture its target: the template's name or the standard one, beside the
// input or below the output folder (whose folders are made when `make`), with the extension
// ".png"; and whether that differs from the input. Why a template's name was not used goes to
// `problem`; below the output folder, the target's folder, held open, to `folder` when given.
// Throws Error when a folder on the way below the output folder is refused.
void PlaceTarget(PictureResult& picture, const ExpandedName& name, const TargetRules& rules,
                 bool make, std::string* problem, FolderRef* folder = nullptr);

// NAME.json for the picture saved as NAME.png.
std::filesystem::path SidecarName(const std::filesystem::path& picture);

// Throws Error naming the picture when its sidecar's name would be longer than a file name may
// be (a picture name of 252 bytes or more): such a picture is not saved, rather than saved
// without its sidecar.
void CheckSidecarName(const std::filesystem::path& picture);

// Saves a run's picture at its turn, with the file `prepared` ahead when there is one, as
// SavePicture does (in `folder` when given); a saved target joins `written`. kSaved or
// kDeclined; kFailed with the reason in `error`. `defer_folder_sync` leaves the folder's flush
// to the caller (a sidecar follows).
Fate SaveInRun(const PictureResult& picture, PreparedFile& prepared, const OverwriteQuestion& ask,
               WrittenFiles& written, std::string& error, bool defer_folder_sync = false,
               FolderRef folder = nullptr);

}  // namespace tessaly
