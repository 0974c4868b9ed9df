// The PNG chunk reader over bytes or a file.
#include "picture_files/png_chunks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

#include "base/byte_order.h"

namespace tessaly {
namespace {

constexpr std::array<std::uint8_t, 8> kSignature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::size_t kHeadSize = 8;  // length and type
constexpr std::size_t kCrcSize = 4;
constexpr std::uint32_t kIhdrLength = 13;

bool IsImageDataOrEnd(const PngChunk& chunk) {
  return chunk.type == "IDAT" || chunk.type == "IEND";
}

}  // namespace

PngChunkReader::PngChunkReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

PngChunkReader::PngChunkReader(int fd) : fd_(fd) {}

std::optional<PngChunkReader> PngChunkReader::Open(const std::filesystem::path& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  PngChunkReader reader(fd);
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return reader;
}

PngChunkReader::PngChunkReader(PngChunkReader&& other) noexcept
    : bytes_(other.bytes_), fd_(std::exchange(other.fd_, -1)), next_(other.next_) {}

PngChunkReader& PngChunkReader::operator=(PngChunkReader&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    bytes_ = other.bytes_;
    fd_ = std::exchange(other.fd_, -1);
    next_ = other.next_;
  }
  return *this;
}

PngChunkReader::~PngChunkReader() {
  if (fd_ >= 0) ::close(fd_);
}

bool PngChunkReader::ReadAt(std::uint64_t at, std::span<std::uint8_t> into) const {
  if (fd_ < 0) {
    if (at > bytes_.size() || into.size() > bytes_.size() - at) return false;
    std::memcpy(into.data(), bytes_.data() + at, into.size());
    return true;
  }
  while (!into.empty()) {
    const ssize_t n = ::pread(fd_, into.data(), into.size(), static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    at += static_cast<std::uint64_t>(n);
    into = into.subspan(static_cast<std::size_t>(n));
  }
  return true;
}

std::optional<PngChunk> PngChunkReader::Next() {
  if (next_ == 0) {
    std::array<std::uint8_t, kSignature.size()> signature{};
    if (!ReadAt(0, signature) || signature != kSignature) return std::nullopt;
    next_ = kSignature.size();
  }
  std::array<std::uint8_t, kHeadSize> head{};
  if (!ReadAt(next_, head)) return std::nullopt;
  PngChunk chunk;
  chunk.length = LoadBe32(head, 0);
  chunk.type.assign(reinterpret_cast<const char*>(head.data() + 4), 4);
  chunk.data_at = next_ + kHeadSize;
  next_ = chunk.data_at + chunk.length + kCrcSize;
  return chunk;
}

std::optional<std::vector<std::uint8_t>> PngChunkReader::Data(const PngChunk& chunk) const {
  // A length past what the bytes or the file hold fails the read before anything is allocated.
  std::uint8_t last = 0;
  if (chunk.length > 0 && !ReadAt(chunk.data_at + chunk.length - 1, {&last, 1})) {
    return std::nullopt;
  }
  std::vector<std::uint8_t> data(chunk.length);
  if (!ReadAt(chunk.data_at, data)) return std::nullopt;
  return data;
}

std::optional<PngHeader> ReadPngHeader(PngChunkReader& png) {
  const std::optional<PngChunk> chunk = png.Next();
  if (!chunk || chunk->type != "IHDR" || chunk->length != kIhdrLength) return std::nullopt;
  const std::optional<std::vector<std::uint8_t>> data = png.Data(*chunk);
  if (!data) return std::nullopt;
  return PngHeader{LoadBe32(*data, 0), LoadBe32(*data, 4), (*data)[8], (*data)[9]};
}

bool HasChunkBeforeData(PngChunkReader& png, std::string_view type) {
  for (std::optional<PngChunk> chunk = png.Next(); chunk && !IsImageDataOrEnd(*chunk);
       chunk = png.Next()) {
    if (chunk->type == type) return true;
  }
  return false;
}

bool HasTextBeforeData(PngChunkReader& png, std::string_view keyword, std::string_view text,
                       int max_chunks) {
  const std::size_t length = keyword.size() + 1 + text.size();  // the two are parted by a NUL
  for (int n = 0; n < max_chunks; ++n) {
    const std::optional<PngChunk> chunk = png.Next();
    if (!chunk || IsImageDataOrEnd(*chunk)) return false;
    if (chunk->type != "tEXt" || chunk->length != length) continue;
    const std::optional<std::vector<std::uint8_t>> data = png.Data(*chunk);
    if (!data) return false;
    const auto* chars = reinterpret_cast<const char*>(data->data());
    if (std::string_view(chars, keyword.size()) == keyword && chars[keyword.size()] == '\0' &&
        std::string_view(chars + keyword.size() + 1, text.size()) == text) {
      return true;
    }
  }
  return false;
}

}  // namespace tessaly
