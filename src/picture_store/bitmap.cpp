// The raster picture class: storage, size and format changes, palette, fills and draws.
#include "picture_store/bitmap.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

#include "base/errors.h"

namespace tessaly {
namespace {

std::size_t StrideFor(int width, PixelFormat format) {
  const std::size_t bits = static_cast<std::size_t>(width) * BitsPerPixel(format);
  return (bits + 31) / 32 * 4;
}

// The ramp an indexed bitmap without a palette is shown with.
Palette DefaultPalette(PixelFormat format) {
  if (format == PixelFormat::k8Bit) return GreyRamp();
  const int count = format == PixelFormat::k4Bit ? 16 : 2;
  Palette palette(count);
  for (int i = 0; i < count; ++i) {
    const auto v = static_cast<std::uint8_t>(i * 255 / (count - 1));
    palette[i] = {v, v, v, 0};
  }
  return palette;
}

int Distance(Color a, const PaletteEntry& b) {
  const int dr = ColorRed(a) - b.red;
  const int dg = ColorGreen(a) - b.green;
  const int db = ColorBlue(a) - b.blue;
  return dr * dr + dg * dg + db * db;
}

}  // namespace

int BitsPerPixel(PixelFormat format) {
  switch (format) {
    case PixelFormat::k1Bit:
      return 1;
    case PixelFormat::k4Bit:
      return 4;
    case PixelFormat::k8Bit:
      return 8;
    case PixelFormat::k16Bit:
      return 16;
    case PixelFormat::k24Bit:
      return 24;
    case PixelFormat::k32Bit:
      return 32;
  }
  return 24;
}

bool IsIndexed(PixelFormat format) {
  return format == PixelFormat::k1Bit || format == PixelFormat::k4Bit ||
         format == PixelFormat::k8Bit;
}

Palette GreyRamp() {
  Palette palette(256);
  for (int i = 0; i < 256; ++i) {
    const auto v = static_cast<std::uint8_t>(i);
    palette[i] = {v, v, v, 0};
  }
  return palette;
}

std::size_t Bitmap::RowBytes() const {
  return (static_cast<std::size_t>(width_) * BitsPerPixel() + 7) / 8;
}

void Bitmap::Reallocate(int width, int height) {
  if (width < 0 || height < 0 || width > kMaxSide || height > kMaxSide ||
      static_cast<std::int64_t>(width) * height > kMaxPixels) {
    throw Error("Bitmap size " + std::to_string(width) + " x " + std::to_string(height) +
                " is beyond the supported limits");
  }
  if (height == 0) {
    // Height 0 empties the picture; the width is remembered.
    pixels_.clear();
    pixels_.shrink_to_fit();
    width_ = width;
    height_ = 0;
    stride_ = StrideFor(width, format_);
    return;
  }
  const std::size_t stride = StrideFor(width, format_);
  std::vector<std::uint8_t> pixels(stride * static_cast<std::size_t>(height), 0);
  const int keep_rows = std::min(height, height_);
  const std::size_t keep_bytes =
      std::min(RowBytes(), (static_cast<std::size_t>(width) * BitsPerPixel() + 7) / 8);
  // A picture 0 pixels wide has no pixel buffer at all: nothing to copy from.
  for (int y = 0; y < keep_rows && keep_bytes > 0; ++y) {
    std::memcpy(pixels.data() + static_cast<std::size_t>(y) * stride, Row(y), keep_bytes);
  }
  pixels_ = std::move(pixels);
  stride_ = stride;
  width_ = width;
  height_ = height;
}

void Bitmap::SetWidth(int width) {
  if (width != width_) Reallocate(width, height_);
}

void Bitmap::SetHeight(int height) {
  if (height != height_) Reallocate(width_, height);
}

void Bitmap::SetSize(int width, int height) {
  if (width != width_ || height != height_) Reallocate(width, height);
}

std::uint32_t Bitmap::ReadPixel(int x, int y) const {
  const std::uint8_t* row = Row(y);
  switch (format_) {
    case PixelFormat::k1Bit:
      return (row[x / 8] >> (7 - x % 8)) & 1;
    case PixelFormat::k4Bit:
      return (x % 2 == 0) ? row[x / 2] >> 4 : row[x / 2] & 0x0F;
    case PixelFormat::k8Bit:
      return row[x];
    case PixelFormat::k16Bit:
      return row[2 * x] | (row[2 * x + 1] << 8);
    case PixelFormat::k24Bit:
      return row[3 * x] | (row[3 * x + 1] << 8) | (std::uint32_t{row[3 * x + 2]} << 16);
    case PixelFormat::k32Bit:
      return row[4 * x] | (row[4 * x + 1] << 8) | (std::uint32_t{row[4 * x + 2]} << 16) |
             (std::uint32_t{row[4 * x + 3]} << 24);
  }
  return 0;
}

void Bitmap::WritePixel(int x, int y, std::uint32_t value) {
  std::uint8_t* row = Row(y);
  switch (format_) {
    case PixelFormat::k1Bit: {
      const auto mask = static_cast<std::uint8_t>(0x80 >> (x % 8));
      row[x / 8] = static_cast<std::uint8_t>((value & 1) ? row[x / 8] | mask : row[x / 8] & ~mask);
      break;
    }
    case PixelFormat::k4Bit:
      row[x / 2] =
          static_cast<std::uint8_t>(x % 2 == 0 ? (row[x / 2] & 0x0F) | ((value & 0x0F) << 4)
                                               : (row[x / 2] & 0xF0) | (value & 0x0F));
      break;
    case PixelFormat::k8Bit:
      row[x] = static_cast<std::uint8_t>(value);
      break;
    case PixelFormat::k16Bit:
      row[2 * x] = value & 0xFF;
      row[2 * x + 1] = (value >> 8) & 0xFF;
      break;
    case PixelFormat::k24Bit:
      row[3 * x] = value & 0xFF;
      row[3 * x + 1] = (value >> 8) & 0xFF;
      row[3 * x + 2] = (value >> 16) & 0xFF;
      break;
    case PixelFormat::k32Bit:
      std::memcpy(row + 4 * x, &value, 4);
      break;
  }
}

Color Bitmap::PixelColor(int x, int y) const {
  const std::uint32_t v = ReadPixel(x, y);
  switch (format_) {
    case PixelFormat::k1Bit:
    case PixelFormat::k4Bit:
    case PixelFormat::k8Bit: {
      if (v >= palette_.size()) return kBlack;
      const PaletteEntry& e = palette_[v];
      return MakeColor(e.red, e.green, e.blue);
    }
    case PixelFormat::k16Bit: {
      // 5-6-5, each channel scaled to 8 bits with rounding.
      const std::uint32_t r = (v >> 11) & 0x1F, g = (v >> 5) & 0x3F, b = v & 0x1F;
      return MakeColor(static_cast<std::uint8_t>((r * 255 + 15) / 31),
                       static_cast<std::uint8_t>((g * 255 + 31) / 63),
                       static_cast<std::uint8_t>((b * 255 + 15) / 31));
    }
    case PixelFormat::k24Bit:
    case PixelFormat::k32Bit:
      // Stored blue, green, red.
      return MakeColor((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
  }
  return kBlack;
}

std::uint32_t Bitmap::ColorToPixel(Color c) const {
  switch (format_) {
    case PixelFormat::k1Bit:
    case PixelFormat::k4Bit:
    case PixelFormat::k8Bit: {
      const Palette& palette = palette_.empty() ? DefaultPalette(format_) : palette_;
      std::uint32_t best = 0;
      int best_distance = std::numeric_limits<int>::max();
      const std::size_t usable = std::min<std::size_t>(palette.size(), 1u << BitsPerPixel());
      for (std::size_t i = 0; i < usable && best_distance > 0; ++i) {
        const int d = Distance(c, palette[i]);
        if (d < best_distance) {
          best_distance = d;
          best = static_cast<std::uint32_t>(i);
        }
      }
      return best;
    }
    case PixelFormat::k16Bit:
      return ((ColorRed(c) >> 3) << 11) | ((ColorGreen(c) >> 2) << 5) | (ColorBlue(c) >> 3);
    case PixelFormat::k24Bit:
    case PixelFormat::k32Bit:
      return ColorBlue(c) | (ColorGreen(c) << 8) | (std::uint32_t{ColorRed(c)} << 16);
  }
  return 0;
}

void Bitmap::SetFormat(PixelFormat format) {
  if (format == format_) return;
  Bitmap old = std::move(*this);
  format_ = format;
  palette_ = IsIndexed(format)
                 ? (IsIndexed(old.format_) && !old.palette_.empty() ? old.palette_
                                                                    : DefaultPalette(format))
                 : Palette{};
  if (IsIndexed(format) && palette_.size() > (1u << BitsPerPixel())) {
    palette_.resize(1u << BitsPerPixel());
  }
  modified_ = old.modified_;
  transparent_ = old.transparent_;
  on_change = old.on_change;
  width_ = 0;
  height_ = 0;
  stride_ = 0;
  pixels_.clear();
  Reallocate(old.width_, old.height_);
  for (int y = 0; y < height_; ++y) {
    for (int x = 0; x < width_; ++x) WritePixel(x, y, ColorToPixel(old.PixelColor(x, y)));
  }
}

void Bitmap::SetPalette(Palette palette) {
  if (palette.size() > 256) palette.resize(256);
  palette_ = std::move(palette);
}

void Bitmap::Assign(const Bitmap& other) {
  if (&other == this) return;
  width_ = other.width_;
  height_ = other.height_;
  format_ = other.format_;
  stride_ = other.stride_;
  pixels_ = other.pixels_;
  palette_ = other.palette_;
}

void Bitmap::Assign(Bitmap&& other) {
  if (&other == this) return;
  width_ = other.width_;
  height_ = other.height_;
  format_ = other.format_;
  stride_ = other.stride_;
  pixels_ = std::move(other.pixels_);
  palette_ = std::move(other.palette_);
  other.width_ = other.height_ = 0;
  other.stride_ = 0;
  other.pixels_.clear();
  other.palette_.clear();
}

void Bitmap::FillRect(const Rect& rect, Color color) {
  const int left = std::max(rect.left, 0);
  const int top = std::max(rect.top, 0);
  const int right = std::min(rect.right, width_);
  const int bottom = std::min(rect.bottom, height_);
  if (left >= right || top >= bottom) return;
  const std::uint32_t value = ColorToPixel(color);
  for (int y = top; y < bottom; ++y) {
    if (format_ == PixelFormat::k8Bit) {
      std::memset(Row(y) + left, static_cast<int>(value), static_cast<std::size_t>(right - left));
    } else {
      for (int x = left; x < right; ++x) WritePixel(x, y, value);
    }
  }
}

void Bitmap::Draw(int x, int y, const Bitmap& src) {
  const int left = std::max(x, 0);
  const int top = std::max(y, 0);
  const int right = std::min<std::int64_t>(std::int64_t{x} + src.width_, width_);
  const int bottom = std::min<std::int64_t>(std::int64_t{y} + src.height_, height_);
  if (left >= right || top >= bottom) return;
  const bool same = src.format_ == format_ && (!IsIndexed(format_) || src.palette_ == palette_);
  const bool byte_aligned = BitsPerPixel() >= 8;
  for (int row = top; row < bottom; ++row) {
    if (same && byte_aligned) {
      const std::size_t bpp = static_cast<std::size_t>(BitsPerPixel()) / 8;
      std::memcpy(Row(row) + static_cast<std::size_t>(left) * bpp,
                  src.Row(row - y) + static_cast<std::size_t>(left - x) * bpp,
                  static_cast<std::size_t>(right - left) * bpp);
      continue;
    }
    for (int col = left; col < right; ++col) {
      WritePixel(
          col, row,
          same ? src.ReadPixel(col - x, row - y) : ColorToPixel(src.PixelColor(col - x, row - y)));
    }
  }
}

void Bitmap::SetModified(bool modified) {
  modified_ = modified;
  if (modified && on_change) on_change();
}

}  // namespace tessaly
