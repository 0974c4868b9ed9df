// Bitmap to QImage conversion.
#include "gui/bitmap_qimage.h"

#include <cstring>

namespace tessaly {

namespace {

QList<QRgb> ColourTable(const Bitmap& bitmap, int size) {
  QList<QRgb> table(size, qRgb(0, 0, 0));
  const Palette& palette = bitmap.GetPalette();
  for (int i = 0; i < size && i < static_cast<int>(palette.size()); ++i) {
    const PaletteEntry& e = palette[static_cast<std::size_t>(i)];
    table[i] = qRgb(e.red, e.green, e.blue);
  }
  return table;
}

// QImage has no 4-bit format: each pixel becomes one byte holding its index.
void Unpack4Bit(const Bitmap& bitmap, QImage& image) {
  for (int y = 0; y < bitmap.Height(); ++y) {
    const std::uint8_t* src = bitmap.Row(y);
    uchar* dst = image.scanLine(y);
    for (int x = 0; x < bitmap.Width(); ++x) {
      dst[x] = (x % 2 == 0) ? src[x / 2] >> 4 : src[x / 2] & 0x0F;
    }
  }
}

// Qt widens 5-6-5 channels by repeating bits; the bitmap rounds. Its own colours are shown.
void CopyThroughColours(const Bitmap& bitmap, QImage& image) {
  for (int y = 0; y < bitmap.Height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < bitmap.Width(); ++x) {
      const Color c = bitmap.PixelColor(x, y);
      row[x] = qRgb(ColorRed(c), ColorGreen(c), ColorBlue(c));
    }
  }
}

// The fourth byte of a 32-bit pixel is unused padding; Qt needs it opaque.
void MakeOpaque(QImage& image) {
  for (int y = 0; y < image.height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) row[x] |= 0xFF000000u;
  }
}

QImage::Format QtFormat(PixelFormat format) {
  switch (format) {
    case PixelFormat::k1Bit:
      return QImage::Format_Mono;
    case PixelFormat::k4Bit:
    case PixelFormat::k8Bit:
      return QImage::Format_Indexed8;
    case PixelFormat::k24Bit:
      return QImage::Format_BGR888;
    case PixelFormat::k16Bit:
    case PixelFormat::k32Bit:
      return QImage::Format_RGB32;
  }
  return QImage::Format_Invalid;
}

}  // namespace

QImage BitmapToQImage(const Bitmap& bitmap) {
  if (bitmap.Empty()) return {};
  QImage image(bitmap.Width(), bitmap.Height(), QtFormat(bitmap.Format()));
  if (image.isNull()) return {};
  if (IsIndexed(bitmap.Format()))
    image.setColorTable(ColourTable(bitmap, 1 << bitmap.BitsPerPixel()));
  if (bitmap.Format() == PixelFormat::k4Bit) {
    Unpack4Bit(bitmap, image);
    return image;
  }
  if (bitmap.Format() == PixelFormat::k16Bit) {
    CopyThroughColours(bitmap, image);
    return image;
  }
  for (int y = 0; y < bitmap.Height(); ++y) {
    std::memcpy(image.scanLine(y), bitmap.Row(y), bitmap.RowBytes());
  }
  if (bitmap.Format() == PixelFormat::k32Bit) MakeOpaque(image);
  return image;
}

}  // namespace tessaly
