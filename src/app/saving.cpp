// Saving the output picture: question first, then a complete-or-nothing write.
#include "app/saving.h"

#include <future>
#include <system_error>
#include <utility>

#include "app/results.h"
#include "base/errors.h"
#include "base/files.h"
#include "picture_files/png_io.h"

namespace tessaly {
namespace {

constexpr const char* kAuthor = "Kestrelwood";
constexpr const char* kDescription = "GOES image";
constexpr const char* kSoftware = kResultSoftware;

// A folder under the target's name is no file to be asked about or replaced.
void RefuseFolderTarget(const std::filesystem::path& name) {
  std::error_code ec;
  if (std::filesystem::is_directory(name, ec)) {
    throw Error("Cannot save \"" + name.string() + "\": a folder of that name is in the way");
  }
}

}  // namespace

std::string OverwriteQuestionText(const std::filesystem::path& name) {
  return "The file \"" + name.string() + "\" already exists. " +
         "Do you want to overwrite this file?";
}

bool ConfirmOverwrite(const std::filesystem::path& name, const OverwriteQuestion& ask) {
  // A dangling link or an unreadable entry still stands in the way: ask about it too.
  if (!NameIsTaken(name)) return true;
  if (!ask) return false;
  return ask(kOverwriteCaption, OverwriteQuestionText(name)) == Answer::kYes;
}

std::vector<std::uint8_t> EncodeOutput(const Bitmap& output, const std::filesystem::path& name) {
  return EncodeBitmapAsPNG(output, kAuthor, kDescription, kSoftware, name.filename().string());
}

bool SaveEncodedOutput(std::span<const std::uint8_t> png, const std::filesystem::path& name,
                       const OverwriteQuestion& ask, const BeforePublish& before_publish) {
  return SavePreparedOutput(nullptr, png, name, ask, before_publish);
}

std::unique_ptr<PendingFile> PrepareFile(const std::filesystem::path& name,
                                         std::span<const std::uint8_t> bytes) {
  try {
    auto file = std::make_unique<PendingFile>(name);
    file->Write(bytes);
    file->Finish();
    return file;
  } catch (const std::exception&) {
    return nullptr;
  }
}

std::future<std::unique_ptr<PendingFile>> PrepareAhead(std::filesystem::path name,
                                                       std::vector<std::uint8_t> bytes) {
  try {
    return std::async(std::launch::async, [name = std::move(name), bytes = std::move(bytes)] {
      return PrepareFile(name, bytes);
    });
  } catch (const std::system_error&) {
    return {};
  }
}

std::unique_ptr<PendingFile> Prepared(std::future<std::unique_ptr<PendingFile>>& prepared) {
  return prepared.valid() ? prepared.get() : nullptr;
}

bool SavePreparedOutput(std::unique_ptr<PendingFile> prepared, std::span<const std::uint8_t> png,
                        const std::filesystem::path& name, const OverwriteQuestion& ask,
                        const BeforePublish& before_publish) {
  RefuseFolderTarget(name);
  const bool taken = NameIsTaken(name);
  if (taken && !ConfirmOverwrite(name, ask)) return false;
  std::unique_ptr<PendingFile> file = std::move(prepared);
  if (!file) {
    file = std::make_unique<PendingFile>(name);
    file->Write(png);
    file->Finish();
  }
  if (before_publish) before_publish();
  if (taken) {
    file->PublishReplacing();
    return true;
  }
  if (file->PublishIfAbsent()) return true;
  // Another program made the file since the check; it is replaced only with consent.
  RefuseFolderTarget(name);
  if (!ConfirmOverwrite(name, ask)) return false;
  file->PublishReplacing();
  return true;
}

bool SaveOutput(const Bitmap& output, const std::filesystem::path& name,
                const OverwriteQuestion& ask, const BeforePublish& before_publish) {
  RefuseFolderTarget(name);
  return SaveEncodedOutput(EncodeOutput(output, name), name, ask, before_publish);
}

}  // namespace tessaly
