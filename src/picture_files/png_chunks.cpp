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

#include <zlib.h>

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

// IEND as every PNG ends: no data, and the CRC of its type alone.
constexpr std::array<std::uint8_t, 12> kEnd{0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};

// The bytes of one row of `width` pixels after its filter byte.
std::uint64_t RowBytes(const PngHeader& h, std::uint64_t width) {
  int samples = 1;
  if (h.colour_type == 2) samples = 3;
  if (h.colour_type == 4) samples = 2;
  if (h.colour_type == 6) samples = 4;
  return (width * static_cast<std::uint64_t>(samples) * h.bit_depth + 7) / 8;
}

// What the image data inflates to: each row with its filter byte, an interlaced picture's seven
// passes one after the other (a pass without pixels has no rows).
std::uint64_t InflatedBytes(const PngHeader& h, bool interlaced) {
  if (!interlaced) return std::uint64_t{h.height} * (1 + RowBytes(h, h.width));
  constexpr int kStart[7][2] = {{0, 0}, {4, 0}, {0, 4}, {2, 0}, {0, 2}, {1, 0}, {0, 1}};
  constexpr int kStep[7][2] = {{8, 8}, {8, 8}, {4, 8}, {4, 4}, {2, 4}, {2, 2}, {1, 2}};
  std::uint64_t total = 0;
  for (int pass = 0; pass < 7; ++pass) {
    const std::uint64_t w = (h.width + kStep[pass][0] - 1 - kStart[pass][0]) / kStep[pass][0];
    const std::uint64_t rows = (h.height + kStep[pass][1] - 1 - kStart[pass][1]) / kStep[pass][1];
    if (h.width > static_cast<std::uint32_t>(kStart[pass][0]) &&
        h.height > static_cast<std::uint32_t>(kStart[pass][1]) && w > 0) {
      total += rows * (1 + RowBytes(h, w));
    }
  }
  return total;
}

// Inflates the image data as it comes, counting the bytes and keeping none of them.
class InflateCount {
 public:
  InflateCount() { ok_ = inflateInit(&stream_) == Z_OK; }
  ~InflateCount() { inflateEnd(&stream_); }
  InflateCount(const InflateCount&) = delete;
  InflateCount& operator=(const InflateCount&) = delete;

  bool Add(std::span<const std::uint8_t> data) {
    stream_.next_in = const_cast<Bytef*>(data.data());
    stream_.avail_in = static_cast<uInt>(data.size());
    // A full buffer may leave output pending even once every byte given was taken.
    bool full = false;
    while (ok_ && !ended_ && (stream_.avail_in > 0 || full)) {
      std::array<Bytef, 65536> out;
      stream_.next_out = out.data();
      stream_.avail_out = out.size();
      const int code = inflate(&stream_, Z_NO_FLUSH);
      ok_ = code == Z_OK || code == Z_STREAM_END || (code == Z_BUF_ERROR && full);
      ended_ = code == Z_STREAM_END;
      full = stream_.avail_out == 0;
      inflated_ += out.size() - stream_.avail_out;
      if (code == Z_BUF_ERROR) break;
    }
    return ok_;
  }
  bool Ended(std::uint64_t expected) const { return ok_ && ended_ && inflated_ == expected; }

 private:
  z_stream stream_{};
  bool ok_ = false;
  bool ended_ = false;
  std::uint64_t inflated_ = 0;
};

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
    // An empty chunk's data has no buffer at all, which memcpy may not be given.
    if (!into.empty()) std::memcpy(into.data(), bytes_.data() + at, into.size());
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

bool PngChunkReader::EndsWithEnd() const {
  const std::optional<std::uint64_t> size = Size();
  std::array<std::uint8_t, kEnd.size()> tail{};
  return size && *size >= kSignature.size() + kEnd.size() && ReadAt(*size - kEnd.size(), tail) &&
         tail == kEnd;
}

bool PngChunkReader::CrcIsRight(const PngChunk& chunk, std::span<const std::uint8_t> data) const {
  std::array<std::uint8_t, kCrcSize> stored{};
  if (!ReadAt(chunk.data_at + chunk.length, stored)) return false;
  uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(chunk.type.data()), 4);
  // zlib takes a null buffer, as an empty vector's may be, as a request for the initial value.
  if (!data.empty()) crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));
  return crc == LoadBe32(stored, 0);
}

bool PngChunkReader::AtEnd() const {
  const std::optional<std::uint64_t> size = Size();
  return size && next_ == *size;
}

std::optional<std::uint64_t> PngChunkReader::Size() const {
  if (fd_ < 0) return bytes_.size();
  struct stat info {};
  if (::fstat(fd_, &info) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(info.st_size);
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

std::vector<std::pair<std::string, std::string>> TextsBeforeData(PngChunkReader& png,
                                                                 int max_chunks,
                                                                 std::uint32_t max_length) {
  std::vector<std::pair<std::string, std::string>> texts;
  for (int n = 0; n < max_chunks; ++n) {
    const std::optional<PngChunk> chunk = png.Next();
    if (!chunk || IsImageDataOrEnd(*chunk)) break;
    if (chunk->type != "tEXt" || chunk->length > max_length) continue;
    const std::optional<std::vector<std::uint8_t>> data = png.Data(*chunk);
    if (!data) break;
    const std::string text(data->begin(), data->end());
    const std::size_t nul = text.find('\0');
    if (nul != std::string::npos) texts.emplace_back(text.substr(0, nul), text.substr(nul + 1));
  }
  return texts;
}

bool IsSoundPng(PngChunkReader& png) {
  std::optional<PngChunk> chunk = png.Next();
  if (!chunk || chunk->type != "IHDR" || chunk->length != kIhdrLength) return false;
  std::optional<std::vector<std::uint8_t>> data = png.Data(*chunk);
  if (!data || !png.CrcIsRight(*chunk, *data)) return false;
  const PngHeader header{LoadBe32(*data, 0), LoadBe32(*data, 4), (*data)[8], (*data)[9]};
  const bool interlaced = (*data)[12] != 0;
  InflateCount image;
  while ((chunk = png.Next())) {
    data = png.Data(*chunk);
    if (!data || !png.CrcIsRight(*chunk, *data)) return false;
    if (chunk->type == "IDAT" && !image.Add(*data)) return false;
    if (chunk->type == "IEND") return png.AtEnd() && image.Ended(InflatedBytes(header, interlaced));
  }
  return false;
}

}  // namespace tessaly
