// BMP writer: headers, colour table and bottom-up rows.
#include "support/bmp_writer.h"

#include <cstring>

#include "base/errors.h"

namespace tessaly {
namespace {

constexpr std::size_t kHeadersSize = 54;
constexpr std::size_t kTableEntries = 256;

void Put16(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
  out[at] = static_cast<std::uint8_t>(v);
  out[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void WriteHeaders(const Bitmap& bitmap, const BmpWriteOptions& options, std::size_t table_bytes,
                  std::size_t image_bytes, std::vector<std::uint8_t>& out) {
  out[0] = 'B';
  out[1] = 'M';
  Put32(out, 2, static_cast<std::uint32_t>(out.size()));
  Put32(out, 10, static_cast<std::uint32_t>(kHeadersSize + table_bytes));
  Put32(out, 14, 40);
  Put32(out, 18, static_cast<std::uint32_t>(bitmap.Width()));
  Put32(out, 22, static_cast<std::uint32_t>(bitmap.Height()));
  Put16(out, 26, 1);
  Put16(out, 28, static_cast<std::uint32_t>(bitmap.BitsPerPixel()));
  Put32(out, 34, options.omit_size_image ? 0 : static_cast<std::uint32_t>(image_bytes));
  Put32(out, 38, 2835);  // 72 dots per inch
  Put32(out, 42, 2835);
  Put32(out, 46, options.announced_colours);
  Put32(out, 50, options.announced_colours);
}

void WriteTable(const Palette& palette, std::uint8_t* out) {
  for (std::size_t i = 0; i < palette.size() && i < kTableEntries; ++i) {
    out[4 * i] = palette[i].blue;
    out[4 * i + 1] = palette[i].green;
    out[4 * i + 2] = palette[i].red;
  }
}

}  // namespace

std::vector<std::uint8_t> EncodeBmp(const Bitmap& bitmap, const BmpWriteOptions& options) {
  const PixelFormat format = bitmap.Format();
  if (format != PixelFormat::k8Bit && format != PixelFormat::k24Bit) {
    throw InvalidGraphicOperation("Only 8-bit and 24-bit bitmaps can be written as BMP");
  }
  const bool indexed = format == PixelFormat::k8Bit;
  const std::size_t table_bytes = indexed ? kTableEntries * 4 : 0;
  const std::size_t row_bytes = bitmap.RowBytes();
  const std::size_t stride = (row_bytes + 3) / 4 * 4;
  const std::size_t image_bytes = stride * static_cast<std::size_t>(bitmap.Height());
  std::vector<std::uint8_t> out(kHeadersSize + table_bytes + image_bytes, 0);
  WriteHeaders(bitmap, options, table_bytes, image_bytes, out);
  if (indexed) WriteTable(bitmap.GetPalette(), out.data() + kHeadersSize);
  std::uint8_t* pixels = out.data() + kHeadersSize + table_bytes;
  for (int y = 0; y < bitmap.Height(); ++y) {
    const std::size_t stored = static_cast<std::size_t>(bitmap.Height() - 1 - y);
    if (row_bytes > 0) std::memcpy(pixels + stored * stride, bitmap.Row(y), row_bytes);
  }
  return out;
}

}  // namespace tessaly
