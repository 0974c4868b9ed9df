// The chunks of a PNG as they stand, read without decoding its picture: what the pipeline and
// the batch tool look up in a PNG (its size and kind, its texts) before or instead of decoding.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessaly {

// One chunk as its head gives it.
struct PngChunk {
  std::string type;           // four letters: "IHDR", "tEXt", "IDAT", ...
  std::uint32_t length = 0;   // of its data
  std::uint64_t data_at = 0;  // where its data begins; its CRC follows the data
};

// What IHDR says of the picture.
struct PngHeader {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint8_t bit_depth = 0;
  std::uint8_t colour_type = 0;
};

inline constexpr std::uint8_t kPngPaletteColours = 3;  // IHDR's colour type of a palette picture

// Walks the chunks of PNG bytes in memory, or of a PNG file, in their order, reading the heads
// and only the data asked for. No CRC is checked and no length trusted: a chunk whose data
// runs past the end is still given, but its data cannot be read.
class PngChunkReader {
 public:
  // Over bytes that outlive the reader.
  explicit PngChunkReader(std::span<const std::uint8_t> bytes);
  // Over a file, opened without blocking and read only when it is a regular file, so that a
  // pipe under a picture's name is never waited for; nothing when it cannot be opened or is
  // not a regular file.
  static std::optional<PngChunkReader> Open(const std::filesystem::path& file);

  PngChunkReader(PngChunkReader&& other) noexcept;
  PngChunkReader& operator=(PngChunkReader&& other) noexcept;
  ~PngChunkReader();

  // The chunk after the one given last (the first after the signature at first); nothing when
  // the bytes do not begin with the PNG signature or end before the chunk's head.
  std::optional<PngChunk> Next();

  // The chunk's data; nothing when the bytes end before it does.
  std::optional<std::vector<std::uint8_t>> Data(const PngChunk& chunk) const;

  // True when the bytes end in a whole IEND chunk: a file cut short (a copy interrupted, a
  // failing disk) does not, whatever its chunks ahead of the image data say.
  bool EndsWithEnd() const;
  // True when the CRC after the chunk's data is that of its type and `data`.
  bool CrcIsRight(const PngChunk& chunk, std::span<const std::uint8_t> data) const;
  // True when the chunk given last ends where the bytes do.
  bool AtEnd() const;

 private:
  explicit PngChunkReader(int fd);
  // Exactly `into.size()` bytes from offset `at`; false when the bytes end first or on an error.
  bool ReadAt(std::uint64_t at, std::span<std::uint8_t> into) const;
  std::optional<std::uint64_t> Size() const;

  std::span<const std::uint8_t> bytes_;
  int fd_ = -1;             // the file, when over one
  std::uint64_t next_ = 0;  // where the next chunk's head is; 0 before the signature is read
};

// IHDR's fields, when the reader has given no chunk yet and the bytes begin with the signature
// and a whole IHDR.
std::optional<PngHeader> ReadPngHeader(PngChunkReader& png);

// True when a chunk of `type` comes next or later, before the image data (the first IDAT) and
// before IEND.
bool HasChunkBeforeData(PngChunkReader& png, std::string_view type);

// True when one of the next `max_chunks` chunks, before the image data and before IEND, is a
// tEXt chunk holding exactly `keyword` and `text`. Only chunks of that length are read.
bool HasTextBeforeData(PngChunkReader& png, std::string_view keyword, std::string_view text,
                       int max_chunks);

// The tEXt chunks ahead of the image data (at most `max_chunks` chunks are looked at), each as
// its keyword and text, in their order. Only chunks of at most `max_length` bytes are read.
std::vector<std::pair<std::string, std::string>> TextsBeforeData(PngChunkReader& png,
                                                                 int max_chunks,
                                                                 std::uint32_t max_length);

// True when the PNG is whole and sound as far as can be told without decoding its rows: it
// begins with IHDR and ends with IEND, every chunk's CRC is right, and the image data inflates
// to exactly the bytes IHDR's size asks for. Reads the whole file; for audits, not reruns.
bool IsSoundPng(PngChunkReader& png);

}  // namespace tessaly
