// The folder a batch saves its results under instead of beside their inputs (--output-dir):
// opened once, and each result's folders below it opened (and made) one by one through their
// parents' descriptors, so that no result lands outside it whatever its names come to hold.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "base/errors.h"
#include "base/files.h"

namespace tessaly {

class OutputFolder {
 public:
  // `folder` as the user gave it; nothing is made yet. It is opened when it exists already, so
  // that a dry run can look below it.
  explicit OutputFolder(std::filesystem::path folder);

  // Makes the folder, and the folders above it that are missing (their mode from the umask),
  // and opens it: every later result goes below the folder opened now, even should its name
  // come to lead elsewhere. Throws Error naming it.
  void Make();

  // The folder as it was given.
  const std::filesystem::path& path() const { return folder_; }

  // Where a result goes: its path in the form the folder was given, and its folder, held open.
  struct Placed {
    std::filesystem::path path;
    // Null only without `make`, when a folder on the way does not exist yet.
    FolderRef folder;
  };

  // The result `below` the folder (relative: folders, then the name). Each folder on the way is
  // opened through its parent without following links, so that a link put in place of a folder
  // at any moment is never passed through; a link that stands there is followed only when the
  // folder it leads to lies within this one, and otherwise refused. With `make`, missing folders
  // are made; without, the walk stops at the first one missing. Throws Error naming the result.
  // Safe on several threads.
  Placed Place(const std::filesystem::path& below, bool make) const;

 private:
  // The folder `part` below `parent`, made first when `make`; null without `make` when it does
  // not exist. Throws what `refuse` makes of the reason it cannot be entered.
  FolderRef Enter(const OpenFolder& parent, const std::filesystem::path& part,
                  const std::filesystem::path& shown, bool make,
                  const std::function<Error(const std::string&)>& refuse) const;
  // The folder the link `part` in `parent` leads to, when that lies within this one.
  FolderRef FollowInside(const OpenFolder& parent, const std::filesystem::path& part,
                         const std::filesystem::path& shown) const;

  std::filesystem::path folder_;
  FolderRef root_;  // once it exists; every result goes below it
};

}  // namespace tessaly
