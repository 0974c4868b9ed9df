// Telling the tool's own results from other files, so that a batch neither takes
// its results back as inputs nor replaces an original that carries a target name.
#pragma once

#include <filesystem>

namespace tessaly {

// The Software text of every PNG the tool saves.
inline constexpr const char* kResultSoftware = "Tessaly";

// True when `file` is a PNG whose Software text, before its image data, is the
// tool's own. Reads only the chunks ahead of the image data; false for anything
// that cannot be read, is no regular file (a pipe is never waited for) or is no PNG.
bool IsToolResult(const std::filesystem::path& file);

// True when `target` is up to date for `input`: a result of the tool (IsToolResult) whose last
// change is not older than the input's, as `make` judges its targets. False when either cannot
// be examined.
bool IsUpToDate(const std::filesystem::path& target, const std::filesystem::path& input);

}  // namespace tessaly
