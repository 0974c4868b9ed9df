// Folder expansion of dropped or named paths: a folder stands for its .bmp
// files, then its .png files. Used by the window's drop handler and the CLI.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "base/files.h"

namespace tessaly {

// The entries of a folder whose names end in .bmp (any case), then those ending
// in .png, each group sorted by name without regard to case; subfolders are not
// searched, and a subfolder with such a name is left out. Hidden entries count.
// Throws Error naming the folder when it cannot be read.
std::vector<std::filesystem::path> ListFolderPictures(const std::filesystem::path& folder);

// One input of a batch: a file to process, or a folder that could not be read.
struct ExpandedName {
  std::filesystem::path path;
  std::string error;         // empty unless the folder could not be listed
  bool from_folder = false;  // found in a folder rather than named
};

// Each name in order: a folder becomes its pictures, anything else stays as it is.
// With `recursive`, a folder's subfolders follow its pictures, each taken the same
// way to every depth, in name order without regard to case; links to folders
// found inside are not followed. Entries are named below the name as given.
std::vector<ExpandedName> ExpandNames(const std::vector<std::filesystem::path>& names,
                                      bool recursive = false);

}  // namespace tessaly
