// The output folder: opened once, results placed below it through descriptors, folders made on
// the way, links that lead out refused.
#include "app/output_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>
#include <utility>

#include "base/errors.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

// Deeper than any path can be (PATH_MAX holds at most 2048 folders); a walk up from a folder
// that has not met the output folder by then never will.
constexpr int kMaxDepth = 4096;
// How often a folder on the way is looked at again when it was a link and then a folder.
constexpr int kLooks = 8;

std::string Quoted(const fs::path& p) {
  return "\"" + p.string() + "\"";
}

std::string Reason(int error_number) {
  return std::generic_category().message(error_number);
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// True when the folder open as `fd` is the folder `root` or lies below it, told by walking up
// through "..": what the descriptor holds is judged, not a name that could change meanwhile.
bool LiesWithin(int fd, const OpenFolder& root) {
  struct stat root_info {};
  if (::fstat(root.fd(), &root_info) != 0) return false;
  int current = ::openat(fd, ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  bool within = false;
  for (int depth = 0; current >= 0 && depth < kMaxDepth; ++depth) {
    struct stat info {
    }, up_info{};
    if (::fstat(current, &info) != 0) break;
    if (SameFile(info, root_info)) {
      within = true;
      break;
    }
    const int up = ::openat(current, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
    ::close(current);
    current = up;
    // The top of the file system is its own parent.
    if (current < 0 || ::fstat(current, &up_info) != 0 || SameFile(up_info, info)) break;
  }
  if (current >= 0) ::close(current);
  return within;
}

}  // namespace

OutputFolder::OutputFolder(fs::path folder)
    : folder_(std::move(folder)), root_(OpenFolder::TryOpenAt(AT_FDCWD, folder_, true, folder_)) {}

void OutputFolder::Make() {
  std::error_code error;
  if (fs::create_directories(folder_, error)) {
    const fs::path made = folder_.has_filename() ? folder_ : folder_.parent_path();
    SyncFolder(made.parent_path());
  }
  if (error) {
    throw Error("Cannot make the output folder " + Quoted(folder_) + ": " + error.message());
  }
  root_ = OpenFolder::TryOpenAt(AT_FDCWD, folder_, true, folder_);
  if (!root_) {
    throw Error("Cannot use the output folder " + Quoted(folder_) + ": " +
                (errno == ENOTDIR ? std::string("it is not a folder") : Reason(errno)));
  }
}

FolderRef OutputFolder::FollowInside(const OpenFolder& parent, const fs::path& part,
                                     const fs::path& shown) const {
  FolderRef linked = OpenFolder::TryOpenAt(parent.fd(), part, true, shown);
  return linked && LiesWithin(linked->fd(), *root_) ? linked : nullptr;
}

FolderRef OutputFolder::Enter(const OpenFolder& parent, const fs::path& part, const fs::path& shown,
                              bool make,
                              const std::function<Error(const std::string&)>& refuse) const {
  // A folder and a link that trade places while they are looked at take another look.
  for (int look = 0; look < kLooks; ++look) {
    if (FolderRef next = OpenFolder::TryOpenAt(parent.fd(), part, false, shown)) return next;
    const int error_number = errno;
    if (!make && error_number == ENOENT) return nullptr;
    struct stat info {};
    if (error_number != ENOTDIR ||
        ::fstatat(parent.fd(), part.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      throw refuse("cannot examine " + Quoted(shown) + ": " + Reason(error_number));
    }
    if (S_ISDIR(info.st_mode)) continue;
    if (!S_ISLNK(info.st_mode)) throw refuse(Quoted(shown) + " is not a folder");
    if (FolderRef inside = FollowInside(parent, part, shown)) return inside;
    throw refuse(Quoted(shown) + " is a link that leads out of the output folder " +
                 Quoted(folder_) + ", and is not followed");
  }
  throw refuse(Quoted(shown) + " keeps changing between a folder and something else");
}

OutputFolder::Placed OutputFolder::Place(const fs::path& below, bool make) const {
  const fs::path target = folder_ / below;
  auto refuse = [&](const std::string& why) -> Error {
    return Error("Cannot save " + Quoted(target) + ": " + why);
  };
  if (below.empty() || below.is_absolute()) throw refuse("it is not below the output folder");
  for (const fs::path& part : below) {
    if (part.empty() || part == "." || part == "..") {
      throw refuse("it is not below the output folder");
    }
  }
  if (!root_) {
    // A dry run makes nothing: without the output folder, every folder below it would be made.
    if (!make) return {target, nullptr};
    throw refuse("the output folder " + Quoted(folder_) + " is not open");
  }
  FolderRef folder = root_;
  fs::path shown = folder_;
  for (const fs::path& part : below.parent_path()) {
    shown /= part;
    if (make) {
      if (::mkdirat(folder->fd(), part.c_str(), 0777) == 0) {
        // The new folder's entry is made durable as the file's will be by its save.
        SyncFolder(*folder);
      } else if (errno != EEXIST) {
        throw refuse("cannot make the folder " + Quoted(shown) + ": " + Reason(errno));
      }
    }
    FolderRef next = Enter(*folder, part, shown, make, refuse);
    if (!next) return {target, nullptr};
    folder = std::move(next);
  }
  return {target, std::move(folder)};
}

}  // namespace tessaly
