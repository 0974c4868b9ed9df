// Telling the tool's own results from other files, so that a batch neither takes
// its results back as inputs nor replaces an original that carries a target name.
#pragma once

#include <filesystem>
#include <set>

#include "base/files.h"

namespace tessaly {

// True when `file` is a PNG whose Software text, before its image data, is the
// tool's own (kToolSoftware). Reads only the chunks ahead of the image data; false for anything
// that cannot be read, is no regular file (a pipe is never waited for) or is no PNG.
bool IsToolResult(const std::filesystem::path& file);

// True when `target` is up to date for `input`: a result of the tool (IsToolResult) whose last
// change is not older than the input's, as `make` judges its targets. False when either cannot
// be examined.
bool IsUpToDate(const std::filesystem::path& target, const std::filesystem::path& input);

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
