// PNG file functions over TPngImage, and the whole-file read that every loader of the project
// can use.
#include "imaging/png_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "base/errors.h"

namespace tessaly {
namespace {

constexpr int kSaveCompressionLevel = 4;
constexpr std::uint32_t kSaveFilters = 0x98;  // none, sub and Paeth
// Not an errno value: the file is a pipe, a device or a socket.
constexpr int kNotRegularFile = -1;

std::string Reason(int error_number) {
  return std::generic_category().message(error_number);
}

// Fills bytes, whose size is the file's size at opening; a file that grew meanwhile is read to
// its new end, but never past the limit. Returns 0 or the error number.
int ReadAll(int fd, std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  for (;;) {
    if (done == bytes.size()) {
      if (done > kMaxReadFileBytes) return EFBIG;
      bytes.resize(bytes.size() + 65536);
    }
    const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  bytes.resize(done);
  return 0;
}

// Only regular files are read: a pipe or a device under a picture's name could block the read
// for ever or never end, and a folder holds no bytes.
int CheckReadable(int fd, std::uint64_t& size) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return errno;
  if (S_ISDIR(info.st_mode)) return EISDIR;
  if (!S_ISREG(info.st_mode)) return kNotRegularFile;
  size = static_cast<std::uint64_t>(std::max<off_t>(info.st_size, 0));
  if (size > kMaxReadFileBytes) return EFBIG;
  // Opened without blocking so that a pipe could not stall the open; regular files read alike,
  // but blocking reads are the plain case.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return 0;
}

std::string ReadFailure(const std::filesystem::path& file_name, int error_number) {
  std::string reason;
  if (error_number == kNotRegularFile) {
    reason = "it is not a regular file";
  } else if (error_number == EFBIG) {
    reason = "the file is larger than " + std::to_string(kMaxReadFileBytes) +
             " bytes, more than any picture that can be read";
  } else {
    reason = Reason(error_number);
  }
  return "Cannot read \"" + file_name.string() + "\": " + reason;
}

TPngImage& PrepareForSave(TPngImage& image, const Bitmap& bitmap, const std::string& author,
                          const std::string& description, const std::string& software,
                          const std::string& title, const PngProgressHandler& on_progress) {
  image.CopyFromBitmap(bitmap);
  image.CompressionLevel = kSaveCompressionLevel;
  image.FilterFlags = kSaveFilters;
  image.Author = author;
  image.Description = description;
  image.Software = software;
  image.Title = title;
  image.OnProgress = on_progress;
  return image;
}

}  // namespace

bool LoadPNGFromMemory(Bitmap& bitmap, std::span<const std::uint8_t> data, bool expand_to_rgb) {
  TPngImage image;
  image.ExpandToRGB = expand_to_rgb;
  image.LoadFromMemory(data);
  bitmap.SetHeight(0);
  bitmap.SetWidth(0);
  image.CopyToBitmap(bitmap, 0, 0);
  return true;
}

bool LoadPNGIntoBitmap(Bitmap& bitmap, const std::filesystem::path& file_name, bool expand_to_rgb) {
  return LoadPNGFromMemory(bitmap, ReadFileBytes(file_name), expand_to_rgb);
}

std::vector<std::uint8_t> EncodeBitmapAsPNG(const Bitmap& bitmap, const std::string& author,
                                            const std::string& description,
                                            const std::string& software, const std::string& title,
                                            const PngProgressHandler& on_progress) {
  TPngImage image;
  return PrepareForSave(image, bitmap, author, description, software, title, on_progress)
      .SaveToMemory();
}

bool SaveBitmapAsPNG(const Bitmap& bitmap, const std::filesystem::path& file_name,
                     const std::string& author, const std::string& description,
                     const std::string& software, const std::string& title,
                     const PngProgressHandler& on_progress) {
  TPngImage image;
  PrepareForSave(image, bitmap, author, description, software, title, on_progress)
      .SaveToFile(file_name);
  return true;
}

std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& file_name) {
  const int fd = ::open(file_name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw Error(ReadFailure(file_name, errno));
  std::vector<std::uint8_t> bytes;
  std::uint64_t size = 0;
  int error_number = CheckReadable(fd, size);
  if (error_number == 0) {
    bytes.resize(static_cast<std::size_t>(size));
    error_number = ReadAll(fd, bytes);
  }
  ::close(fd);
  if (error_number != 0) throw Error(ReadFailure(file_name, error_number));
  return bytes;
}

}  // namespace tessaly
