// File-system work every module shares: the folder question, the whole-file read and the safe
// replace (temporary file beside the target, flushed, then renamed) every save rests on.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "base/limits.h"

namespace tessaly {

// True when `name` can be examined and is a folder; false for files and unreadable paths.
bool IsFolder(const std::filesystem::path& name);

// The whole file; Error naming the file and the reason when it cannot be read. Only regular
// files of at most kMaxReadFileBytes are read: a pipe, a device, a socket or a folder is
// refused at once, without waiting for data.
std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& file_name);

// Writes the bytes to a new file beside the target, flushes it to disk and renames it over the
// target. On any failure the temporary file is removed and the target is left as it was.
void WriteFileReplacing(const std::filesystem::path& file_name,
                        std::span<const std::uint8_t> bytes);

}  // namespace tessaly
