// TPngImage outside libpng: buffers, the file and stream wrappers, the conversions to and from
// bitmaps, and the grey bytes of a decoded picture.
#include "picture_files/png_image.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <istream>
#include <iterator>
#include <ostream>

#include "base/errors.h"
#include "base/files.h"
#include "picture_store/grey.h"

namespace tessaly {
namespace {

constexpr std::uint32_t kMaxSigned32 = 0x7FFFFFFF;

// Decoded pictures hold one byte per sample, or two (low byte first) at 16 bits.
std::size_t BytesPerSample(const TPngImage& image) {
  return image.BitDepth == 16 ? 2 : 1;
}

// Guards the pixel walks below against header values that do not match the buffers.
void CheckDecodedBuffers(const TPngImage& image) {
  const std::uint64_t needed = std::uint64_t{image.Width} *
                               static_cast<std::uint32_t>(image.Channels) * BytesPerSample(image);
  if (image.Channels < 1 || image.Channels > 4 || image.RowBytes < needed ||
      image.Pixels.size() < std::uint64_t{image.Height} * image.RowBytes) {
    throw Error("The PNG picture's buffers do not match its header values");
  }
}

const std::uint8_t* RowOf(const TPngImage& image, std::uint32_t y) {
  return image.Pixels.data() + std::size_t{y} * image.RowBytes;
}

// Sample s (0-based, counted across the row) as 8 bits.
std::uint8_t Sample8(const std::uint8_t* row, std::size_t s, bool wide) {
  return wide ? Reduce16(row[2 * s] | (std::uint32_t{row[2 * s + 1]} << 8)) : row[s];
}

int GrownSide(int current, int origin, std::uint32_t size) {
  const std::int64_t needed = std::int64_t{origin} + size;
  return static_cast<int>(std::max<std::int64_t>(current, std::min<std::int64_t>(needed, INT_MAX)));
}

// A' is the inverted alpha the decoder leaves: 0 opaque, 255 fully transparent.
std::uint8_t Blend(std::uint8_t old_value, std::uint8_t new_value, std::uint32_t inverted_alpha) {
  return static_cast<std::uint8_t>(
      (old_value * inverted_alpha + new_value * (255 - inverted_alpha)) / 255);
}

void CopyRowGrey(const TPngImage& image, const std::uint8_t* src, std::uint8_t* dst) {
  const bool wide = image.BitDepth == 16;
  const std::size_t channels = static_cast<std::size_t>(image.Channels);
  if (!wide && channels == 1) {
    std::memcpy(dst, src, image.Width);
    return;
  }
  for (std::uint32_t c = 0; c < image.Width; ++c) dst[c] = Sample8(src, c * channels, wide);
}

void CopyRowColour(const TPngImage& image, const std::uint8_t* src, std::uint8_t* dst) {
  const bool wide = image.BitDepth == 16;
  const std::size_t channels = static_cast<std::size_t>(image.Channels);
  const std::uint8_t bkgd[3] = {ColorBlue(image.BackgroundColor), ColorGreen(image.BackgroundColor),
                                ColorRed(image.BackgroundColor)};
  for (std::uint32_t c = 0; c < image.Width; ++c, dst += 3) {
    const std::size_t s = c * channels;
    const std::uint8_t bgr[3] = {Sample8(src, s + 2, wide), Sample8(src, s + 1, wide),
                                 Sample8(src, s, wide)};
    const std::uint32_t inverted_alpha = channels == 4 ? Sample8(src, s + 3, wide) : 0;
    for (int k = 0; k < 3; ++k) {
      if (inverted_alpha == 0) {
        dst[k] = bgr[k];
      } else if (inverted_alpha == 255) {
        dst[k] = bkgd[k];
      } else {
        dst[k] = Blend(dst[k], bgr[k], inverted_alpha);
      }
    }
  }
}

}  // namespace

void TPngImage::Progress(ProgressStage stage, std::uint8_t percent_done, bool redraw_now,
                         const Rect& rect, const std::string& message) {
  if (OnProgress) OnProgress(*this, stage, percent_done, redraw_now, rect, message);
}

void TPngImage::AllocateBuffers() {
  Pixels.clear();
  Rows.clear();
  const std::size_t size = std::size_t{Height} * RowBytes;
  if (size == 0) return;
  Pixels.assign(size, 0);
  Rows.resize(Height);
  for (std::uint32_t i = 0; i < Height; ++i) Rows[i] = Pixels.data() + std::size_t{i} * RowBytes;
}

void TPngImage::LoadFromMemory(std::span<const std::uint8_t> data) {
  Decode(data);
}

void TPngImage::LoadFromStream(std::istream& stream) {
  const std::istream::pos_type start = stream.tellg();
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(stream)),
                                        std::istreambuf_iterator<char>());
  const std::size_t used = Decode(bytes);
  if (start != std::istream::pos_type(-1)) {
    stream.clear();
    stream.seekg(start + static_cast<std::streamoff>(used));
  }
}

void TPngImage::LoadFromFile(const std::filesystem::path& file_name) {
  Decode(ReadFileBytes(file_name));
}

void TPngImage::DecodeRows(std::span<const std::uint8_t> data,
                           const std::function<void()>& header_read, const PngRowSink& sink) {
  Decode(data, &header_read, &sink);
}

void TPngImage::LoadIntoGrey8(std::span<const std::uint8_t> data, Bitmap& bitmap) {
  IgnoreAlpha = true;
  bool colour = false;
  bool wide = false;
  const auto header_read = [&] {
    // Without alpha, one sample a pixel (grey, index) or three (colour).
    if (Channels != 1 && Channels != 3) {
      throw Error("The PNG picture's buffers do not match its header values");
    }
    colour = Channels == 3;
    wide = BitDepth == 16;
    bitmap.SetFormat(PixelFormat::k8Bit);
    if (colour) {
      bitmap.SetPalette(GreyRamp());
    } else if (PaletteCount > 0) {
      tessaly::Palette palette(static_cast<std::size_t>(std::min(PaletteCount, 256)));
      for (std::size_t i = 0; i < palette.size(); ++i) {
        palette[i] = {Palette[i].red, Palette[i].green, Palette[i].blue, 0};
      }
      bitmap.SetPalette(std::move(palette));
    }
    bitmap.SetSize(static_cast<int>(Width), static_cast<int>(Height));
    bitmap.SetTransparent(Transparent);
  };
  const auto sink = [&](const PngRow& row) {
    std::uint8_t* dst = bitmap.Row(static_cast<int>(row.y)) + row.first_column;
    const std::uint8_t* src = row.samples;
    if (!colour && !wide && row.column_step == 1) {
      std::memcpy(dst, src, row.count);
      return;
    }
    for (std::uint32_t c = 0; c < row.count; ++c, dst += row.column_step) {
      if (colour) {
        const std::size_t s = std::size_t{c} * 3;
        *dst = Luma(Sample8(src, s, wide), Sample8(src, s + 1, wide), Sample8(src, s + 2, wide));
      } else {
        *dst = Sample8(src, c, wide);
      }
    }
  };
  DecodeRows(data, header_read, sink);
}

void TPngImage::SaveToStream(std::ostream& stream) {
  const std::vector<std::uint8_t> bytes = SaveToMemory();
  stream.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  if (!stream) throw Error("Cannot write the PNG data to the stream");
}

void TPngImage::SaveToFile(const std::filesystem::path& file_name) {
  WriteFileReplacing(file_name, SaveToMemory());
}

void TPngImage::CopyFromBitmap(const Bitmap& bitmap) {
  if (bitmap.Format() != PixelFormat::k8Bit && bitmap.Format() != PixelFormat::k24Bit) {
    throw InvalidGraphicOperation("Unsupported bitmap format");
  }
  PaletteCount = 0;
  if (bitmap.Format() == PixelFormat::k8Bit) {
    // A palette that is the grey ramp (or none) is written as a grey picture.
    ColorType = 0;
    Channels = 1;
    const tessaly::Palette& palette = bitmap.GetPalette();
    PaletteCount = static_cast<std::int32_t>(std::min<std::size_t>(palette.size(), 256));
    for (int i = 0; i < PaletteCount; ++i) {
      const PaletteEntry& e = palette[i];
      Palette[i] = {e.red, e.green, e.blue};
      if (e.red != i || e.green != i || e.blue != i) ColorType = 3;
    }
  } else {
    ColorType = 2;
    Channels = 3;
  }
  Width = static_cast<std::uint32_t>(bitmap.Width());
  Height = static_cast<std::uint32_t>(bitmap.Height());
  BitDepth = 8;
  RowBytes = Width * static_cast<std::uint32_t>(Channels);
  AllocateBuffers();
  for (std::uint32_t r = 0; r < Height && !Rows.empty(); ++r) {
    const std::uint8_t* src = bitmap.Row(static_cast<int>(r));
    std::uint8_t* dst = Rows[r];
    if (Channels == 1) {
      std::memcpy(dst, src, Width);
      continue;
    }
    for (std::uint32_t c = 0; c < Width; ++c, src += 3, dst += 3) {
      dst[0] = src[2];
      dst[1] = src[1];
      dst[2] = src[0];
    }
  }
}

void TPngImage::CopyToBitmap(Bitmap& bitmap, int x, int y) const {
  if (Height > kMaxSigned32) throw Error("Image too high");
  if (Width > kMaxSigned32) throw Error("Image too wide");
  if (x < 0 || y < 0) throw Error("A PNG picture cannot be placed at a negative position");
  CheckDecodedBuffers(*this);
  // One or two channels (grey, index, or grey with its alpha dropped) give 8 bits per pixel.
  const bool grey = Channels <= 2;
  // The format is set before the bitmap grows: what the new pixels hold is the bitmap's choice.
  bitmap.SetFormat(grey ? PixelFormat::k8Bit : PixelFormat::k24Bit);
  if (Channels == 1 && PaletteCount > 0) {
    tessaly::Palette palette(static_cast<std::size_t>(std::min(PaletteCount, 256)));
    for (std::size_t i = 0; i < palette.size(); ++i) {
      palette[i] = {Palette[i].red, Palette[i].green, Palette[i].blue, 0};
    }
    bitmap.SetPalette(std::move(palette));
  }
  bitmap.SetSize(GrownSide(bitmap.Width(), x, Width), GrownSide(bitmap.Height(), y, Height));
  bitmap.SetTransparent(Transparent);
  const std::size_t offset = static_cast<std::size_t>(x) * (grey ? 1 : 3);
  for (std::uint32_t r = 0; r < Height; ++r) {
    std::uint8_t* dst = bitmap.Row(y + static_cast<int>(r)) + offset;
    if (grey) {
      CopyRowGrey(*this, RowOf(*this, r), dst);
    } else {
      CopyRowColour(*this, RowOf(*this, r), dst);
    }
  }
}

void TPngImage::Draw(Bitmap& canvas) const {
  Bitmap picture;
  CopyToBitmap(picture, 0, 0);
  canvas.Draw(0, 0, picture);
}

std::vector<std::uint8_t> PngGreyBytes(const TPngImage& image) {
  CheckDecodedBuffers(image);
  const bool indexed = image.Channels == 1 && image.ColorType == 3;
  if (indexed && image.PaletteCount == 0) {
    throw Error("The picture's palette was not kept; decode it with ExpandToRGB");
  }
  const bool wide = image.BitDepth == 16;
  const std::size_t channels = static_cast<std::size_t>(image.Channels);
  std::vector<std::uint8_t> grey(std::size_t{image.Width} * image.Height);
  std::uint8_t* out = grey.data();
  for (std::uint32_t r = 0; r < image.Height; ++r) {
    const std::uint8_t* row = RowOf(image, r);
    for (std::uint32_t c = 0; c < image.Width; ++c) {
      const std::size_t s = c * channels;
      if (indexed) {
        const int index = row[s];
        const PngColor e = index < image.PaletteCount ? image.Palette[index] : PngColor{};
        *out++ = Luma(e.red, e.green, e.blue);
      } else if (channels <= 2) {
        *out++ = Sample8(row, s, wide);
      } else {
        *out++ = Luma(Sample8(row, s, wide), Sample8(row, s + 1, wide), Sample8(row, s + 2, wide));
      }
    }
  }
  return grey;
}

}  // namespace tessaly
