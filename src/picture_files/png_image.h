// TPngImage: one PNG picture in memory (pixels, header values, texts, palette) with its
// libpng decoder and encoder; used by the PNG file functions and the PNG graphic of the window.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "picture_store/bitmap.h"

namespace tessaly {

class TPngImage;

enum class ProgressStage : std::uint8_t { kStarting = 0, kRunning = 1, kEnding = 2 };

// Called with the image itself as sender, RedrawNow false and the empty rectangle. A handler
// may throw: the encode or decode in progress is abandoned and the exception passed on.
using PngProgressHandler =
    std::function<void(TPngImage& sender, ProgressStage stage, std::uint8_t percent_done,
                       bool redraw_now, const Rect& rect, const std::string& message)>;

// The tIME chunk's values as stored: UTC, second 60 allowed (leap second).
struct PngTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  friend bool operator==(const PngTime&, const PngTime&) = default;
};

struct PngColor {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
};

// One decoded row as DecodeRows hands it on, its samples as Pixels would hold them: `count`
// pixels that belong in picture row `y` at columns first_column, first_column + column_step, ...
// (an interlaced picture comes pass by pass, each pass's rows holding every 8th, 4th or 2nd
// pixel of theirs; any other picture row by row, whole).
struct PngRow {
  std::uint32_t y = 0;
  std::uint32_t first_column = 0;
  std::uint32_t column_step = 1;
  std::uint32_t count = 0;
  const std::uint8_t* samples = nullptr;
};
using PngRowSink = std::function<void(const PngRow&)>;

// TPngImage::CompressionStrategy that lets libpng choose (Z_FILTERED when rows are filtered).
inline constexpr std::int32_t kPngDefaultStrategy = -1;

// Held through std::shared_ptr where several owners share one picture (the reference count
// of the original design); the object itself is neither copyable nor movable.
class TPngImage {
 public:
  TPngImage() = default;
  virtual ~TPngImage() = default;
  TPngImage(const TPngImage&) = delete;
  TPngImage& operator=(const TPngImage&) = delete;

  // Header values. After a decode BitDepth is the file's; Pixels then holds one byte per
  // sample below 16 bits and two bytes, low byte first, at 16 bits.
  std::int32_t BitDepth = 8;
  std::int32_t Channels = 3;  // samples per pixel in Pixels
  std::int32_t ColorType = 2;
  std::uint32_t Height = 0;
  std::uint32_t Width = 0;
  std::uint32_t InterlaceType = 0;
  std::uint32_t CompressionType = 0;
  std::uint32_t FilterType = 0;
  std::uint32_t FilterFlags = 0x38;  // none, sub and up
  Color BackgroundColor = 0;         // from bKGD, 0 without one
  bool Transparent = false;          // the file has a bKGD chunk
  std::uint32_t RowBytes = 0;
  double FileGamma = 0.0;
  double ScreenGamma = 2.2;
  std::int32_t CompressionLevel = 3;
  // A zlib strategy (Z_FILTERED, Z_RLE ...) for the image data; kPngDefaultStrategy leaves
  // libpng's own choice.
  std::int32_t CompressionStrategy = kPngDefaultStrategy;

  // Height x RowBytes bytes and the address of each row in them.
  std::vector<std::uint8_t> Pixels;
  std::vector<std::uint8_t*> Rows;

  std::string Author;
  std::string Description;
  std::string Software;  // written only
  std::string Title;
  // Written only: the picture's own time, for programs that sort pictures by it, under the
  // keyword "Creation Time" after the other texts. Blank leaves the chunk out.
  std::string CreationTime;
  std::vector<std::string> Texts;  // "key=text" for every text chunk read, in file order
  std::optional<PngTime> FileTime;
  PngProgressHandler OnProgress;
  bool ExpandToRGB = true;
  // Decoding only: when false the stored samples are kept (no gAMA correction), as the
  // conformance checks against stored-sample references need.
  bool GammaCorrection = true;
  // Decoding only: when true, alpha channels and tRNS chunks are dropped and the stored colours
  // (or palette indices) are read as they stand, with nothing for CopyToBitmap to blend.
  bool IgnoreAlpha = false;
  std::array<PngColor, 256> Palette{};
  std::int32_t PaletteCount = 0;

  // Decoding. A failure leaves the object usable, holding what was set until then.
  void LoadFromMemory(std::span<const std::uint8_t> data);
  // Decodes from the stream's position; afterwards the stream stands after the PNG data
  // when it can seek, otherwise at its end.
  void LoadFromStream(std::istream& stream);
  void LoadFromFile(const std::filesystem::path& file_name);
  // LoadFromMemory without Pixels: `header_read` is called once the header values are set, and
  // then each row goes to `sink` as it is decoded, so that no more than a row of the picture in
  // its own form is held. Pixels and Rows are left empty.
  void DecodeRows(std::span<const std::uint8_t> data, const std::function<void()>& header_read,
                  const PngRowSink& sink);
  // The picture decoded straight into `bitmap` as 8 bits a pixel, a row at a time: grey and
  // palette pictures as CopyToBitmap gives them (a palette picture's indices with its palette,
  // the grey ramp's palette otherwise left as the bitmap had it), colour pictures as the luma
  // that ToGrey8 makes of CopyToBitmap's colours, with the grey ramp. The pixels are those of
  // CopyToBitmap and ToGrey8, without the two full-size copies on the way. Alpha and tRNS are
  // ignored (IgnoreAlpha is set).
  void LoadIntoGrey8(std::span<const std::uint8_t> data, Bitmap& bitmap);

  // Encoding. SaveToFile replaces the file only once the PNG is complete.
  std::vector<std::uint8_t> SaveToMemory();
  void SaveToStream(std::ostream& stream);
  void SaveToFile(const std::filesystem::path& file_name);

  // 8- or 24-bit bitmaps only; others raise InvalidGraphicOperation "Unsupported bitmap format".
  void CopyFromBitmap(const Bitmap& bitmap);
  // Writes the picture with its top-left corner at (x, y), enlarging the bitmap when needed.
  void CopyToBitmap(Bitmap& bitmap, int x, int y) const;
  // Draws the picture in its natural size at the canvas origin.
  void Draw(Bitmap& canvas) const;
  void AllocateBuffers();

  virtual void Progress(ProgressStage stage, std::uint8_t percent_done, bool redraw_now,
                        const Rect& rect, const std::string& message);

 private:
  // Returns the number of bytes the PNG took, up to and including IEND. With a sink, the rows go
  // there (see DecodeRows) instead of to Pixels.
  std::size_t Decode(std::span<const std::uint8_t> data,
                     const std::function<void()>* header_read = nullptr,
                     const PngRowSink* sink = nullptr);
};

// The luma of every pixel, rows top first, one byte each: (299 R + 587 G + 114 B + 500) div 1000
// of the colour samples, alpha ignored, 16-bit samples first rounded to 8 bits. Works on any
// decode except a palette picture of 1, 2 or 4 bits read without ExpandToRGB (no palette kept).
std::vector<std::uint8_t> PngGreyBytes(const TPngImage& image);

// A 16-bit sample rounded to 8 bits.
constexpr std::uint8_t Reduce16(std::uint32_t v) {
  return static_cast<std::uint8_t>((v * 255 + 32767) / 65535);
}

}  // namespace tessaly
