// Grey conversion: a luma table for indexed pictures, per pixel for the rest.
#include "picture_store/grey.h"

#include <array>
#include <cstring>

namespace tessaly {
namespace {

std::array<std::uint8_t, 256> PaletteLuma(const Palette& palette) {
  std::array<std::uint8_t, 256> luma{};  // indices past the palette read as black
  for (std::size_t i = 0; i < palette.size() && i < luma.size(); ++i) {
    luma[i] = Luma(palette[i].red, palette[i].green, palette[i].blue);
  }
  return luma;
}

void ConvertIndexed(const Bitmap& source, GreyMode mode, Bitmap& out) {
  const int bits = source.BitsPerPixel();
  const bool keep = mode == GreyMode::kKeepIndices && bits == 8;
  const std::array<std::uint8_t, 256> luma = PaletteLuma(source.GetPalette());
  const int per_byte = 8 / bits;
  const int mask = (1 << bits) - 1;
  for (int y = 0; y < source.Height(); ++y) {
    const std::uint8_t* in = source.Row(y);
    std::uint8_t* row = out.Row(y);
    if (keep) {
      std::memcpy(row, in, static_cast<std::size_t>(source.Width()));
      continue;
    }
    for (int x = 0; x < source.Width(); ++x) {
      const int shift = bits * (per_byte - 1 - x % per_byte);
      row[x] = luma[(in[x / per_byte] >> shift) & mask];
    }
  }
}

void ConvertBlueGreenRed(const Bitmap& source, Bitmap& out) {
  const int bytes = source.BitsPerPixel() / 8;
  for (int y = 0; y < source.Height(); ++y) {
    const std::uint8_t* in = source.Row(y);
    std::uint8_t* row = out.Row(y);
    for (int x = 0; x < source.Width(); ++x, in += bytes) row[x] = Luma(in[2], in[1], in[0]);
  }
}

void ConvertThroughColours(const Bitmap& source, Bitmap& out) {
  for (int y = 0; y < source.Height(); ++y) {
    std::uint8_t* row = out.Row(y);
    for (int x = 0; x < source.Width(); ++x) {
      const Color c = source.PixelColor(x, y);
      row[x] = Luma(ColorRed(c), ColorGreen(c), ColorBlue(c));
    }
  }
}

}  // namespace

Bitmap ToGrey8(const Bitmap& source, GreyMode mode) {
  Bitmap out;
  out.SetFormat(PixelFormat::k8Bit);
  out.SetPalette(GreyRamp());
  out.SetSize(source.Width(), source.Height());
  switch (source.Format()) {
    case PixelFormat::k1Bit:
    case PixelFormat::k4Bit:
    case PixelFormat::k8Bit:
      ConvertIndexed(source, mode, out);
      break;
    case PixelFormat::k24Bit:
    case PixelFormat::k32Bit:
      ConvertBlueGreenRed(source, out);
      break;
    case PixelFormat::k16Bit:
      ConvertThroughColours(source, out);
      break;
  }
  return out;
}

}  // namespace tessaly
