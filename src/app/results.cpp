// Recognising a saved result by its Software text chunk.
#include "app/results.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "picture_files/png_io.h"

namespace tessaly {
namespace {

constexpr std::array<unsigned char, 8> kPngSignature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// The results' texts come right after IHDR; a file with more chunks than this
// ahead of its image data is not one of them.
constexpr int kMaxChunksBeforeData = 64;

std::uint32_t BigEndian(const unsigned char* b) {
  return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) |
         b[3];
}

// Exactly `size` bytes from offset `at`; false at the end of the file or on an error.
bool ReadAt(int fd, std::uint64_t at, void* data, std::size_t size) {
  auto* bytes = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t n = ::pread(fd, bytes, size, static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    at += static_cast<std::uint64_t>(n);
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool HasToolSoftware(int fd) {
  std::array<unsigned char, 8> signature{};
  if (!ReadAt(fd, 0, signature.data(), signature.size()) || signature != kPngSignature) {
    return false;
  }
  const std::string wanted = std::string("Software") + '\0' + kToolSoftware;
  std::uint64_t at = signature.size();
  for (int chunk = 0; chunk < kMaxChunksBeforeData; ++chunk) {
    unsigned char head[8];
    if (!ReadAt(fd, at, head, sizeof head)) return false;
    const std::uint32_t length = BigEndian(head);
    const std::string type(reinterpret_cast<const char*>(head + 4), 4);
    if (type == "IDAT" || type == "IEND") return false;
    if (type == "tEXt" && length == wanted.size()) {
      std::string data(length, '\0');
      if (!ReadAt(fd, at + sizeof head, data.data(), length)) return false;
      if (data == wanted) return true;
    }
    at += sizeof head + std::uint64_t{length} + 4;  // the data and its CRC
  }
  return false;
}

}  // namespace

bool IsToolResult(const std::filesystem::path& file) {
  // Opened without blocking, and read only when it is a regular file: a pipe under a picture's
  // name would otherwise stall the open until some program writes to it.
  const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  const bool result = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && HasToolSoftware(fd);
  ::close(fd);
  return result;
}

bool IsUpToDate(const std::filesystem::path& target, const std::filesystem::path& input) {
  std::error_code error;
  const auto made = std::filesystem::last_write_time(target, error);
  if (error) return false;
  const auto source = std::filesystem::last_write_time(input, error);
  return !error && made >= source && IsToolResult(target);
}

void WrittenFiles::Add(const std::filesystem::path& file) {
  if (const std::optional<FileId> id = IdOf(file)) ids_.insert(*id);
}

bool WrittenFiles::Holds(const std::filesystem::path& file) const {
  if (ids_.empty()) return false;
  const std::optional<FileId> id = IdOf(file);
  return id && ids_.count(*id) != 0;
}

}  // namespace tessaly
