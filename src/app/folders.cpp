// Folder expansion: the order a case-insensitive file system would list.
#include "app/folders.h"

#include <algorithm>
#include <optional>
#include <system_error>
#include <utility>

#include "base/errors.h"
#include "base/text.h"

namespace tessaly {
namespace {

bool HasExtension(const std::filesystem::path& p, std::string_view upper_ext) {
  return AsciiUpper(p.extension().string()) == upper_ext;
}

bool LessIgnoringCase(const std::filesystem::path& a, const std::filesystem::path& b) {
  const std::string ua = AsciiUpper(a.filename().string());
  const std::string ub = AsciiUpper(b.filename().string());
  if (ua != ub) return ua < ub;
  return a.filename().string() < b.filename().string();
}

// One reading of a folder: its pictures in batch order and its real subfolders by name.
struct FolderListing {
  std::vector<std::filesystem::path> pictures;
  std::vector<std::filesystem::path> subfolders;
};

FolderListing ReadFolder(const std::filesystem::path& folder,
                         const std::optional<FileId>& leave_out) {
  FolderListing listing;
  std::vector<std::filesystem::path> png;
  std::vector<std::filesystem::path>& bmp = listing.pictures;
  std::error_code ec;
  // Entries are named below the folder itself, so the folder part keeps a trailing separator.
  const std::filesystem::path base = folder / "";
  std::filesystem::directory_iterator it(folder, ec);
  if (ec) throw Error("Cannot read folder \"" + folder.string() + "\": " + ec.message());
  for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
    // Subfolders are not searched, whatever their names: a folder called x.bmp is no picture.
    std::error_code type_ec;
    if (it->is_directory(type_ec)) {
      // A link to a folder is no subfolder: following one could loop forever.
      if (it->is_symlink(type_ec)) continue;
      const std::filesystem::path subfolder = base / it->path().filename();
      if (!leave_out || IdOf(subfolder) != leave_out) listing.subfolders.push_back(subfolder);
      continue;
    }
    const std::filesystem::path name = it->path().filename();
    if (HasExtension(name, ".BMP")) bmp.push_back(base / name);
    if (HasExtension(name, ".PNG")) png.push_back(base / name);
  }
  if (ec) throw Error("Cannot read folder \"" + folder.string() + "\": " + ec.message());
  std::sort(bmp.begin(), bmp.end(), LessIgnoringCase);
  std::sort(png.begin(), png.end(), LessIgnoringCase);
  bmp.insert(bmp.end(), png.begin(), png.end());
  std::sort(listing.subfolders.begin(), listing.subfolders.end(), LessIgnoringCase);
  return listing;
}

}  // namespace

std::vector<std::filesystem::path> ListFolderPictures(const std::filesystem::path& folder) {
  return ReadFolder(folder, std::nullopt).pictures;
}

std::filesystem::path WithSingleSlashes(const std::filesystem::path& name) {
  std::string text = name.string();
  text.erase(
      std::unique(text.begin(), text.end(), [](char a, char b) { return a == '/' && b == '/'; }),
      text.end());
  return text;
}

Expansion ExpandFolders(const std::vector<std::filesystem::path>& names, const FolderWalk& walk) {
  const std::optional<FileId> leave_out =
      walk.leave_out.empty() ? std::nullopt : IdOf(walk.leave_out);
  Expansion result;
  std::vector<ExpandedName>& out = result.names;
  for (const auto& given : names) {
    const std::filesystem::path name = WithSingleSlashes(given);
    if (!IsFolder(name)) {
      out.push_back({name, {}, false, name.filename()});
      continue;
    }
    // Folders still to list with their paths below `name`, the next one last; a tree of any
    // depth needs no deep call stack.
    std::vector<std::pair<std::filesystem::path, std::filesystem::path>> pending{{name, {}}};
    while (!pending.empty()) {
      const auto [folder, below] = std::move(pending.back());
      pending.pop_back();
      try {
        FolderListing listing = ReadFolder(folder, leave_out);
        if (!walk.recursive && listing.pictures.empty() && !listing.subfolders.empty()) {
          result.only_subfolders.push_back(folder);
        }
        for (auto& entry : listing.pictures) {
          std::filesystem::path relative = below / entry.filename();
          out.push_back({std::move(entry), {}, true, std::move(relative)});
        }
        if (!walk.recursive) continue;
        for (auto it = listing.subfolders.rbegin(); it != listing.subfolders.rend(); ++it) {
          pending.emplace_back(*it, below / it->filename());
        }
      } catch (const Error& e) {
        out.push_back({folder, e.what(), false, below});
      }
    }
  }
  return result;
}

std::vector<ExpandedName> ExpandNames(const std::vector<std::filesystem::path>& names,
                                      bool recursive) {
  return ExpandFolders(names, FolderWalk{recursive, {}}).names;
}

}  // namespace tessaly
