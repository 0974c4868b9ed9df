// The output folder: results placed below it, folders made on the way, links that lead out refused.
#include "app/output_folder.h"

#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <system_error>
#include <utility>

#include "base/errors.h"
#include "base/files.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

std::string Quoted(const fs::path& p) {
  return "\"" + p.string() + "\"";
}

fs::path Resolved(const fs::path& folder) {
  std::error_code error;
  fs::path real = fs::canonical(folder, error);
  return error ? fs::path() : real;
}

}  // namespace

OutputFolder::OutputFolder(fs::path folder)
    : folder_(std::move(folder)), resolved_(Resolved(folder_)) {}

void OutputFolder::Make() {
  std::error_code error;
  if (fs::create_directories(folder_, error)) {
    const fs::path made = folder_.has_filename() ? folder_ : folder_.parent_path();
    SyncFolder(made.parent_path());
  }
  if (error) {
    throw Error("Cannot make the output folder " + Quoted(folder_) + ": " + error.message());
  }
  resolved_ = Resolved(folder_);
  if (resolved_.empty()) {
    throw Error("Cannot use the output folder " + Quoted(folder_) + ": it is not a folder");
  }
}

bool OutputFolder::LeadsInside(const fs::path& link) const {
  std::error_code error;
  const fs::path real = fs::canonical(link, error);
  if (error || resolved_.empty() || !fs::is_directory(real, error)) return false;
  const std::string& root = resolved_.native();
  const std::string& path = real.native();
  return path.starts_with(root) &&
         (path.size() == root.size() || root.ends_with('/') || path[root.size()] == '/');
}

fs::path OutputFolder::Place(const fs::path& below, bool make) const {
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
  fs::path folder = folder_;
  for (const fs::path& part : below.parent_path()) {
    folder /= part;
    if (make) {
      if (::mkdir(folder.c_str(), 0777) == 0) {
        // The new folder's entry is made durable as the file's will be by its save.
        SyncFolder(folder.parent_path());
        continue;
      }
      if (errno != EEXIST) {
        throw refuse("cannot make the folder " + Quoted(folder) + ": " +
                     std::generic_category().message(errno));
      }
    }
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0) {
      // A dry run makes nothing: the folders from here on would be made.
      if (!make && (errno == ENOENT || errno == ENOTDIR)) break;
      throw refuse("cannot examine " + Quoted(folder) + ": " +
                   std::generic_category().message(errno));
    }
    if (S_ISDIR(info.st_mode)) continue;
    if (!S_ISLNK(info.st_mode)) throw refuse(Quoted(folder) + " is not a folder");
    if (!LeadsInside(folder)) {
      throw refuse(Quoted(folder) + " is a link that leads out of the output folder " +
                   Quoted(folder_) + ", and is not followed");
    }
  }
  return target;
}

}  // namespace tessaly
