// Folder snapshots for the hardening tests.
#include "folder_state.h"

#include <sys/stat.h>

#include "base/files.h"
#include "picture_files/png_io.h"
#include "support/sha256.h"

namespace tessaly::test {
namespace {

namespace fs = std::filesystem;

constexpr std::uintmax_t kLargestHashed = 64u << 20;

EntryState StateOf(const fs::path& path) {
  struct stat info {};
  EntryState state;
  if (::lstat(path.c_str(), &info) != 0) return state;
  state.type = fs::symlink_status(path).type();
  state.mode = info.st_mode & 07777;
  // A folder's size and time change with every file made in it; its files are compared instead.
  if (S_ISDIR(info.st_mode)) return state;
  state.size = static_cast<std::uintmax_t>(info.st_size);
  state.mtime_ns = std::int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec;
  if (S_ISREG(info.st_mode) && state.size <= kLargestHashed && (info.st_mode & 0444) != 0) {
    state.sha256 = Sha256Hex(ReadFileBytes(path));
  }
  return state;
}

}  // namespace

FolderState Snapshot(const fs::path& root) {
  FolderState state;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    state[fs::relative(it->path(), root).string()] = StateOf(it->path());
  }
  return state;
}

std::vector<std::string> ChangedOrRemoved(const FolderState& before, const FolderState& after) {
  std::vector<std::string> lines;
  for (const auto& [name, was] : before) {
    const auto now = after.find(name);
    if (now == after.end()) {
      lines.push_back(name + " was removed");
    } else if (!(now->second == was)) {
      lines.push_back(name + " was changed");
    }
  }
  return lines;
}

std::vector<std::string> Added(const FolderState& before, const FolderState& after) {
  std::vector<std::string> names;
  for (const auto& [name, state] : after) {
    if (before.find(name) == before.end()) names.push_back(name);
  }
  return names;
}

}  // namespace tessaly::test
