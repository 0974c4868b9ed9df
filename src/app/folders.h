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
  // The path below the folder it was found in (subfolders and name), so that a batch can lay
  // the same tree out elsewhere; the file's own name for a file that was named.
  std::filesystem::path relative;
};

// How ExpandFolders walks the folders it is given.
struct FolderWalk {
  bool recursive = false;  // subfolders to every depth
  // A folder not walked into, however the walk reaches it (the batch's output folder inside
  // the tree it reads); empty for none. A folder named itself is still taken.
  std::filesystem::path leave_out;
};

struct Expansion {
  std::vector<ExpandedName> names;
  // Named folders that gave no picture but hold subfolders: the walk was not recursive, and
  // a user who named an archive of dated folders will want to hear of -r.
  std::vector<std::filesystem::path> only_subfolders;
};

// Each name in order: a folder becomes its pictures, anything else stays as it is.
// With `recursive`, a folder's subfolders follow its pictures, each taken the same
// way to every depth, in name order without regard to case; links to folders
// found inside are not followed. Entries are named below the name as given, with doubled
// slashes made single.
std::vector<ExpandedName> ExpandNames(const std::vector<std::filesystem::path>& names,
                                      bool recursive = false);

// ExpandNames with the walk's options, and what a batch tells the user about the folders.
Expansion ExpandFolders(const std::vector<std::filesystem::path>& names, const FolderWalk& walk);

// `name` with every run of slashes made one slash ("a//b/" is "a/b/").
std::filesystem::path WithSingleSlashes(const std::filesystem::path& name);

}  // namespace tessaly
