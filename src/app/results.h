// Telling the tool's own results from other files, so that a batch neither takes
// its results back as inputs nor replaces an original that carries a target name.
#pragma once

#include <filesystem>
#include <optional>
#include <set>
#include <string>

#include "base/files.h"

namespace tessaly {

// True when `file` is a PNG whose Software text, before its image data, is the
// tool's own (kToolSoftware). Reads only the chunks ahead of the image data; false for anything
// that cannot be read, is no regular file (a pipe is never waited for) or is no PNG.
bool IsToolResult(const std::filesystem::path& file);

// What stands under a target, as a rerun judges it.
enum class ResultState {
  kUpToDate,      // this input's whole result, made since the input last changed
  kNone,          // nothing that can be examined, or the input cannot be
  kOther,         // a file the tool did not write
  kOlder,         // the tool's result, older than its input
  kDamaged,       // the tool's result, cut short (or, verified, with a chunk or size wrong)
  kForeign,       // the tool's whole result of another frame: its Title is not the target's
  kOtherOptions,  // this input's result, saved with another choice of Creation Time
};

// What a rerun expects of the result it finds.
struct ResultCheck {
  // The Creation Time text this run would save ("" for none); nothing when it does not matter.
  std::optional<std::string> creation_time;
  bool verify = false;  // read the whole file: every chunk's CRC and the picture's size
};

// Judges `target` for `input`. Cheap unless `check.verify`: the chunks ahead of the image data
// and the file's last bytes are read, no more. A result is up to date when it is the tool's
// (IsToolResult), not older than the input (as `make` judges its targets), ends in a whole
// IEND chunk and names the target in its Title, which a result copied from another frame's
// name does not.
ResultState CheckResult(const std::filesystem::path& target, const std::filesystem::path& input,
                        const ResultCheck& check = {});

// CheckResult(target, input) is kUpToDate.
bool IsUpToDate(const std::filesystem::path& target, const std::filesystem::path& input);

// The run's words for why a result of the tool that stands is made again ("its result is
// damaged"); empty for a state that needs none.
std::string ResultStateWords(ResultState state);

// The files a run has saved, by identity however their names are spelt. Work read ahead of
// the saves may have read an input that a save of the same run then replaced, as it was
// before: that file is now a result of the run, and a run does not take its results as inputs.
class WrittenFiles {
 public:
  void Add(const std::filesystem::path& file);
  bool Holds(const std::filesystem::path& file) const;

 private:
  std::set<FileId> ids_;
};

}  // namespace tessaly
