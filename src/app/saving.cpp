// Saving the output picture: question first, then a complete-or-nothing write.
#include "app/saving.h"

#include <sys/stat.h>

#include <new>
#include <system_error>
#include <utility>

#include "base/errors.h"
#include "picture_files/png_io.h"

namespace tessaly {
namespace {

constexpr const char* kDescription = "GOES image";

// A folder under the target's name (or a link to one) is no file to be asked about or replaced.
void RefuseFolderTarget(const OpenFolder& folder, const std::filesystem::path& name) {
  struct stat info {};
  if (::fstatat(folder.fd(), name.filename().c_str(), &info, 0) == 0 && S_ISDIR(info.st_mode)) {
    throw Error("Cannot save \"" + name.string() + "\": a folder of that name is in the way");
  }
}

bool Agreed(const PictureResult& result, const OverwriteQuestion& ask) {
  return ask && ask(result.input_name, result.proposed_name) == Answer::kYes;
}

bool Save(const PictureResult& result, const OverwriteQuestion& ask,
          std::unique_ptr<PendingFile> file, const BeforePublish& before_publish,
          FolderRef folder) {
  const std::filesystem::path& name = result.proposed_name;
  // The check and the write look at the same folder, whatever its path leads to meanwhile.
  if (!folder) folder = file ? file->folder() : OpenFolder::Of(name);
  RefuseFolderTarget(*folder, name);
  // A dangling link or an unreadable entry still stands in the way: it is asked about too.
  const bool taken = NameIsTaken(*folder, name.filename());
  if (taken && !Agreed(result, ask)) return false;
  if (!file) {
    file = result.png.empty() ? WritePending(name, EncodeOutput(result.output, name), folder)
                              : WritePending(name, result.png, folder);
  }
  if (before_publish) before_publish();
  if (taken) {
    file->PublishReplacing();
    return true;
  }
  if (file->PublishIfAbsent()) return true;
  // Another program made the file since the check; it is replaced only with consent.
  RefuseFolderTarget(*folder, name);
  if (!Agreed(result, ask)) return false;
  file->PublishReplacing();
  return true;
}

}  // namespace

std::vector<std::uint8_t> EncodeOutput(const Bitmap& output, const std::filesystem::path& name,
                                       const std::string& creation_time) {
  return EncodeToolPNG(output, kDescription, name, creation_time);
}

void EncodePicture(PictureResult& result, CreationTime creation_time) {
  const bool dated =
      creation_time == CreationTime::kFromHeader && result.header && result.header->time;
  result.png = EncodeOutput(result.output, result.proposed_name,
                            dated ? IsoTime(*result.header->time) : std::string());
}

bool SavePicture(const PictureResult& result, const OverwriteQuestion& ask,
                 std::unique_ptr<PendingFile> prepared, const BeforePublish& before_publish,
                 FolderRef folder) {
  try {
    return Save(result, ask, std::move(prepared), before_publish, std::move(folder));
  } catch (const std::bad_alloc&) {
    throw Error(OutOfMemoryMessage(result.input_name));
  }
}

std::unique_ptr<PendingFile> PrepareFile(const std::filesystem::path& name,
                                         std::span<const std::uint8_t> bytes, FolderRef folder) {
  try {
    return WritePending(name, bytes, std::move(folder));
  } catch (const std::exception&) {
    return nullptr;
  }
}

}  // namespace tessaly
