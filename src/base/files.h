// File-system questions shared by the folder expansion and the drop target.
#pragma once

#include <filesystem>

namespace tessaly {

// True when `name` can be examined and is a folder; false for files and unreadable paths.
bool IsFolder(const std::filesystem::path& name);

}  // namespace tessaly
