// The raster picture every module works on: 1, 4 or 8 bits per pixel with a
// palette, or 16 (5-6-5), 24 (blue, green, red) or 32 (blue, green, red, x)
// bits per pixel; rows top-down with direct row access; a small drawing
// surface (rectangle fill, drawing another bitmap). Toolkit-free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "base/limits.h"

namespace tessaly {

enum class PixelFormat { k1Bit, k4Bit, k8Bit, k16Bit, k24Bit, k32Bit };

int BitsPerPixel(PixelFormat format);
bool IsIndexed(PixelFormat format);

struct PaletteEntry {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  std::uint8_t flags = 0;
  friend bool operator==(const PaletteEntry&, const PaletteEntry&) = default;
};
using Palette = std::vector<PaletteEntry>;

// An RGB colour with red in the low byte, then green, then blue.
using Color = std::uint32_t;
inline constexpr Color kBlack = 0x000000;
inline constexpr Color kWhite = 0xFFFFFF;
inline constexpr std::uint8_t ColorRed(Color c) {
  return c & 0xFF;
}
inline constexpr std::uint8_t ColorGreen(Color c) {
  return (c >> 8) & 0xFF;
}
inline constexpr std::uint8_t ColorBlue(Color c) {
  return (c >> 16) & 0xFF;
}
inline constexpr Color MakeColor(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return Color{r} | (Color{g} << 8) | (Color{b} << 16);
}

// Edges are exclusive on the right and at the bottom.
struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

class Bitmap {
 public:
  // Largest picture a bitmap holds, so that hostile sizes fail before allocating.
  static constexpr int kMaxSide = kMaxPictureSide;
  static constexpr std::int64_t kMaxPixels = kMaxPicturePixels;

  Bitmap() = default;
  virtual ~Bitmap() = default;
  Bitmap(const Bitmap&) = default;
  Bitmap& operator=(const Bitmap&) = default;
  Bitmap(Bitmap&&) noexcept = default;
  Bitmap& operator=(Bitmap&&) noexcept = default;

  int Width() const { return width_; }
  int Height() const { return height_; }
  bool Empty() const { return width_ == 0 || height_ == 0; }
  // Size changes keep format and palette and the pixels of the overlap; new
  // pixels are 0. Height 0 empties the picture. Throws Error beyond kMaxSide or kMaxPixels.
  void SetWidth(int width);
  void SetHeight(int height);
  void SetSize(int width, int height);

  PixelFormat Format() const { return format_; }
  int BitsPerPixel() const { return tessaly::BitsPerPixel(format_); }
  // Setting the present format changes nothing. Another format converts each
  // pixel through its colour (to the nearest palette entry for indexed formats;
  // an indexed bitmap without a palette gets the grey ramp of its depth).
  void SetFormat(PixelFormat format);

  std::uint8_t* Row(int y) { return pixels_.data() + static_cast<std::size_t>(y) * stride_; }
  const std::uint8_t* Row(int y) const {
    return pixels_.data() + static_cast<std::size_t>(y) * stride_;
  }
  // Bytes between two rows (rows are padded to 4 bytes).
  std::size_t Stride() const { return stride_; }
  // Bytes a row's pixels occupy, without padding.
  std::size_t RowBytes() const;

  const Palette& GetPalette() const { return palette_; }
  bool HasPalette() const { return !palette_.empty(); }
  // Hands over up to 256 entries; the pixel indices are not changed.
  void SetPalette(Palette palette);

  // The colour of one pixel (through the palette for indexed formats; an index
  // past the palette reads as black).
  Color PixelColor(int x, int y) const;
  // The index (indexed formats) or packed value of the colour nearest to c.
  std::uint32_t ColorToPixel(Color c) const;

  // Copies pixels, format and palette of another bitmap (the flags stay).
  void Assign(const Bitmap& other);
  // Takes them over from a bitmap that is no longer needed, without copying.
  void Assign(Bitmap&& other);

  // Drawing surface.
  void FillRect(const Rect& rect, Color color);
  // Draws src with its top-left corner at (x, y), clipped to this bitmap. Equal
  // formats and palettes copy the pixel values; otherwise colours are matched.
  void Draw(int x, int y, const Bitmap& src);

  bool Modified() const { return modified_; }
  void SetModified(bool modified);
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool transparent) { transparent_ = transparent; }
  // Called when the bitmap is marked modified, so a view can redraw it.
  std::function<void()> on_change;

 private:
  void Reallocate(int width, int height);
  void WritePixel(int x, int y, std::uint32_t value);
  std::uint32_t ReadPixel(int x, int y) const;

  int width_ = 0;
  int height_ = 0;
  PixelFormat format_ = PixelFormat::k24Bit;
  std::size_t stride_ = 0;
  std::vector<std::uint8_t> pixels_;
  Palette palette_;
  bool modified_ = false;
  bool transparent_ = false;
};

// The 256-entry grey ramp, entry i = (i, i, i).
Palette GreyRamp();

}  // namespace tessaly
