// The folder a batch saves its results under instead of beside their inputs (--output-dir):
// each result's path below it is checked part by part, and its folders are made as needed.
#pragma once

#include <filesystem>

namespace tessaly {

class OutputFolder {
 public:
  // `folder` as the user gave it; nothing is made yet.
  explicit OutputFolder(std::filesystem::path folder);

  // Makes the folder, and the folders above it that are missing (their mode from the umask).
  // Throws Error naming it.
  void Make();

  // The folder as it was given.
  const std::filesystem::path& path() const { return folder_; }

  // The path of the result `below` the folder (relative: folders, then the name), in the form
  // the folder was given. Each folder on the way must be a folder, or a link to a folder that
  // still lies within this one: a link leading out of it is refused, so that no result lands
  // outside whatever the names hold. With `make`, missing folders are made; without, the check
  // stops at the first one missing. Throws Error naming the result. Safe on several threads.
  std::filesystem::path Place(const std::filesystem::path& below, bool make) const;

 private:
  // True when `link` resolves to a folder within this one.
  bool LeadsInside(const std::filesystem::path& link) const;

  std::filesystem::path folder_;
  std::filesystem::path resolved_;  // its real path once it exists; links in it are judged by it
};

}  // namespace tessaly
