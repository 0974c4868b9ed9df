// The standard BMP reader: headers, colour table and the pixel decoders.
#include "picture_files/bmp_reader.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

#include "base/byte_order.h"
#include "base/errors.h"
#include "base/limits.h"

namespace tessaly {
namespace {

using Bytes = std::span<const std::uint8_t>;

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::uint32_t kRgb = 0;
constexpr std::uint32_t kRle8 = 1;
constexpr std::uint32_t kRle4 = 2;
constexpr std::uint32_t kBitFields = 3;
constexpr std::uint32_t kJpeg = 4;
constexpr std::uint32_t kPng = 5;
constexpr std::uint32_t kAlphaBitFields = 6;

std::string Hex(std::uint32_t v) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string s = "0x";
  for (int shift = 28; shift >= 0; shift -= 4) s += kDigits[(v >> shift) & 0xF];
  return s;
}

// The stored fields with height made positive (top_down tells the row order) and the masks.
struct Header : BmpHeaders {
  bool top_down = false;
  std::uint32_t masks[3] = {};         // red, green, blue
  std::size_t masks_after_header = 0;  // bytes of masks between info header and colour table
};

bool KnownInfoSize(std::uint32_t size) {
  switch (size) {
    case 12:
    case 16:
    case 40:
    case 52:
    case 56:
    case 64:
    case 108:
    case 124:
      return true;
    default:
      return false;
  }
}

void CheckSize(const Header& h) {
  if (h.width <= 0) throw Error("BMP width " + std::to_string(h.width) + " is not positive");
  if (h.height == 0) throw Error("BMP height is 0");
  if (h.width > Bitmap::kMaxSide || h.height > Bitmap::kMaxSide ||
      h.width * h.height > Bitmap::kMaxPixels) {
    throw Error("BMP picture of " + std::to_string(h.width) + " x " + std::to_string(h.height) +
                " pixels is larger than supported (" + PictureLimitsText() + ")");
  }
}

bool BitCountFits(const Header& h) {
  switch (h.compression) {
    case kRgb: {
      const int b = h.bit_count;
      return b == 1 || b == 2 || b == 4 || b == 8 || b == 16 || b == 24 || b == 32;
    }
    case kRle8:
      return h.bit_count == 8;
    case kRle4:
      return h.bit_count == 4;
    default:
      return h.bit_count == 16 || h.bit_count == 32;  // bit fields
  }
}

void CheckCompression(const Header& h) {
  if (h.os2v2 && h.compression == 3) throw Error("BMP Huffman 1D compression is not supported");
  if (h.os2v2 && h.compression == 4) throw Error("BMP RLE24 compression is not supported");
  if (h.compression == kJpeg) throw Error("BMP with an embedded JPEG stream is not supported");
  if (h.compression == kPng) throw Error("BMP with an embedded PNG stream is not supported");
  if (h.compression > kAlphaBitFields) {
    throw Error("BMP compression " + std::to_string(h.compression) + " is not known");
  }
  if (!BitCountFits(h)) {
    throw Error("BMP with " + std::to_string(h.bit_count) + " bits per pixel and compression " +
                std::to_string(h.compression) + " is not supported");
  }
}

void ReadMasks(Bytes d, Header& h) {
  const bool bit_fields = h.compression == kBitFields || h.compression == kAlphaBitFields;
  if (!bit_fields) {
    // The layouts that uncompressed 16- and 32-bit pixels imply.
    if (h.bit_count == 16) h.masks[0] = 0x7C00, h.masks[1] = 0x03E0, h.masks[2] = 0x001F;
    if (h.bit_count == 32) h.masks[0] = 0xFF0000, h.masks[1] = 0xFF00, h.masks[2] = 0xFF;
    return;
  }
  std::size_t at = 54;  // inside the info header from 52 bytes on
  if (h.info_size < 52) {
    at = kFileHeaderSize + h.info_size;
    h.masks_after_header = h.compression == kAlphaBitFields ? 16 : 12;
    if (at + h.masks_after_header > d.size()) throw Error("BMP file ends inside its bit fields");
  }
  for (int i = 0; i < 3; ++i) h.masks[i] = LoadLe32(d, at + 4 * i);
}

Header ReadCheckedHeader(Bytes d) {
  if (d.size() < kFileHeaderSize + 4) throw Error("BMP file is too short to hold its headers");
  if (d[0] != 'B' || d[1] != 'M') throw Error("Not a BMP file: the signature is not BM");
  const std::uint32_t info_size = LoadLe32(d, kFileHeaderSize);
  if (!KnownInfoSize(info_size)) {
    throw Error("BMP info header of " + std::to_string(info_size) +
                " bytes is of no known version");
  }
  if (kFileHeaderSize + info_size > d.size()) throw Error("BMP file ends inside its info header");
  Header h;
  static_cast<BmpHeaders&>(h) = ReadBmpHeaders(d);
  h.top_down = h.height < 0;
  if (h.top_down) h.height = -h.height;
  CheckSize(h);
  CheckCompression(h);
  ReadMasks(d, h);
  return h;
}

// Where the colour table and the pixels lie, and how many table entries to take.
struct Layout {
  std::size_t table_offset = 0;
  std::size_t entry_size = 4;
  std::uint64_t entries = 0;
  std::uint64_t pixel_start = 0;
};

Layout LocateData(Bytes d, const Header& h, BmpPixelPlacement placement) {
  Layout l;
  l.table_offset = kFileHeaderSize + h.info_size + h.masks_after_header;
  l.entry_size = h.core ? 3 : 4;
  const bool implied = h.colours_used == 0;
  l.entries = implied ? (h.bit_count <= 8 ? 1u << h.bit_count : 0) : h.colours_used;
  if (placement == BmpPixelPlacement::kAfterColourTable) {
    l.pixel_start = l.table_offset + l.entries * l.entry_size;
  } else {
    if (h.pixel_offset < l.table_offset) {
      throw Error("BMP pixel data offset " + std::to_string(h.pixel_offset) +
                  " points into the headers");
    }
    // A table whose length the header only implies ends where the pixels begin.
    const std::uint64_t room = (h.pixel_offset - l.table_offset) / l.entry_size;
    if (implied && l.entries > room) l.entries = room;
    l.pixel_start = h.pixel_offset;
  }
  if (l.table_offset + l.entries * l.entry_size > d.size()) {
    throw Error("BMP colour table of " + std::to_string(l.entries) +
                " entries runs past the end of the file");
  }
  return l;
}

Palette ReadPalette(Bytes d, const Header& h, const Layout& l) {
  const int bits = h.bit_count;
  const std::uint64_t count = std::min<std::uint64_t>(l.entries, std::uint64_t{1} << bits);
  Palette palette(count);
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::size_t at = l.table_offset + i * l.entry_size;
    palette[i] = {d[at + 2], d[at + 1], d[at], 0};  // stored blue, green, red
  }
  return palette;
}

PixelFormat OutputFormat(const Header& h) {
  switch (h.bit_count) {
    case 1:
      return PixelFormat::k1Bit;
    case 2:
    case 4:
      return PixelFormat::k4Bit;
    case 8:
      return PixelFormat::k8Bit;
    default:
      return PixelFormat::k24Bit;
  }
}

// Maps the n-th row in file order to its bitmap row.
struct RowOrder {
  int height;
  bool top_down;
  int operator()(std::int64_t n) const {
    return top_down ? static_cast<int>(n) : height - 1 - static_cast<int>(n);
  }
};

// One bit-field channel, scaled from its n bits to 8 with rounding to the nearest.
struct Channel {
  std::uint32_t mask = 0;
  int shift = 0;
  std::uint64_t max = 0;

  explicit Channel(std::uint32_t m) : mask(m) {
    if (m == 0) return;
    shift = std::countr_zero(m);
    max = m >> shift;
    if ((max & (max + 1)) != 0) throw Error("BMP bit-field mask " + Hex(m) + " is not contiguous");
  }
  std::uint8_t operator()(std::uint32_t pixel) const {
    if (max == 0) return 0;
    const std::uint64_t v = (pixel & mask) >> shift;
    return static_cast<std::uint8_t>((v * 255 + max / 2) / max);
  }
};

struct Rows {
  Bytes data;
  std::uint64_t start;
  std::size_t stride;
  std::size_t row_bytes;
  const std::uint8_t* Row(std::int64_t n) const { return data.data() + start + n * stride; }
};

Rows CheckUncompressed(Bytes d, const Header& h, const Layout& l) {
  const std::uint64_t bits = static_cast<std::uint64_t>(h.width) * h.bit_count;
  Rows rows{d, l.pixel_start, static_cast<std::size_t>((bits + 31) / 32 * 4),
            static_cast<std::size_t>((bits + 7) / 8)};
  // The last row may lack its padding; some writers leave it out.
  const std::uint64_t needed =
      rows.stride * static_cast<std::uint64_t>(h.height - 1) + rows.row_bytes;
  if (l.pixel_start > d.size() || needed > d.size() - l.pixel_start) {
    throw Error("BMP file is truncated: its pixels need " + std::to_string(needed) +
                " bytes after offset " + std::to_string(l.pixel_start) + ", the file has " +
                std::to_string(d.size()));
  }
  return rows;
}

void CopyRows(const Rows& rows, const RowOrder& order, Bitmap& out) {
  for (int n = 0; n < out.Height(); ++n)
    std::memcpy(out.Row(order(n)), rows.Row(n), rows.row_bytes);
}

void WidenTwoBitRows(const Rows& rows, const RowOrder& order, Bitmap& out) {
  for (int n = 0; n < out.Height(); ++n) {
    const std::uint8_t* in = rows.Row(n);
    std::uint8_t* row = out.Row(order(n));
    for (int x = 0; x < out.Width(); ++x) {
      const int index = (in[x / 4] >> (6 - 2 * (x % 4))) & 3;
      row[x / 2] = static_cast<std::uint8_t>(row[x / 2] | (x % 2 == 0 ? index << 4 : index));
    }
  }
}

void ReadMaskedRows(const Rows& rows, const Header& h, const RowOrder& order, Bitmap& out) {
  const Channel red(h.masks[0]), green(h.masks[1]), blue(h.masks[2]);
  const int bytes = h.bit_count / 8;
  for (int n = 0; n < out.Height(); ++n) {
    const std::uint8_t* in = rows.Row(n);
    std::uint8_t* row = out.Row(order(n));
    for (int x = 0; x < out.Width(); ++x, in += bytes) {
      std::uint32_t pixel = in[0] | (in[1] << 8);
      if (bytes == 4) pixel |= (std::uint32_t{in[2]} << 16) | (std::uint32_t{in[3]} << 24);
      row[3 * x] = blue(pixel);
      row[3 * x + 1] = green(pixel);
      row[3 * x + 2] = red(pixel);
    }
  }
}

// Run-length decoding. Codes that run past a row are clipped; codes that leave
// the picture end the decoding.
class RleDecoder {
 public:
  RleDecoder(Bytes d, std::uint64_t start, bool four_bit, const RowOrder& order, Bitmap& out)
      : d_(d), p_(start), four_bit_(four_bit), order_(order), out_(out) {}

  void Run() {
    if (p_ > d_.size()) Truncated();
    while (y_ < out_.Height()) {
      Need(2);
      const std::uint8_t count = d_[p_], value = d_[p_ + 1];
      p_ += 2;
      if (count > 0) {
        Repeat(count, value);
      } else if (value == 0) {
        x_ = 0;
        ++y_;
      } else if (value == 1) {
        return;
      } else if (value == 2) {
        Need(2);
        x_ += d_[p_];
        y_ += d_[p_ + 1];
        p_ += 2;
      } else {
        Literal(value);
      }
    }
  }

 private:
  void Need(std::size_t n) const {
    if (d_.size() - p_ < n) Truncated();
  }
  [[noreturn]] static void Truncated() {
    throw Error("BMP file is truncated: its run-length data ends before the end-of-bitmap code");
  }
  void Put(std::uint8_t index) {
    if (x_ < out_.Width() && y_ < out_.Height()) {
      std::uint8_t* row = out_.Row(order_(y_));
      if (!four_bit_) {
        row[x_] = index;
      } else {
        row[x_ / 2] = static_cast<std::uint8_t>(x_ % 2 == 0 ? (row[x_ / 2] & 0x0F) | (index << 4)
                                                            : (row[x_ / 2] & 0xF0) | index);
      }
    }
    ++x_;
  }
  std::uint8_t Nibble(std::uint8_t byte, int i) const {
    return four_bit_ ? (i % 2 == 0 ? byte >> 4 : byte & 0x0F) : byte;
  }
  void Repeat(int count, std::uint8_t value) {
    const int n = std::min<std::int64_t>(count, std::max<std::int64_t>(out_.Width() - x_, 0));
    for (int i = 0; i < n; ++i) Put(Nibble(value, i));
    x_ += count - n;
  }
  void Literal(int count) {
    const std::size_t bytes = four_bit_ ? (count + 1) / 2 : count;
    const std::size_t padded = (bytes + 1) & ~std::size_t{1};
    Need(bytes);
    for (int i = 0; i < count; ++i) Put(Nibble(d_[p_ + (four_bit_ ? i / 2 : i)], i));
    p_ += std::min(padded, d_.size() - p_);
  }

  Bytes d_;
  std::uint64_t p_;
  bool four_bit_;
  RowOrder order_;
  Bitmap& out_;
  std::int64_t x_ = 0;
  std::int64_t y_ = 0;
};

// A two-byte run-length code paints at most 255 pixels; the codes that skip (end of line, delta,
// end of picture) paint none, leaving index 0. Data that could not paint even a sixteenth of
// the picture is a claim, not a picture: it is refused before the picture is allocated, so a
// file of a hundred bytes cannot hold hundreds of megabytes of blank.
constexpr std::uint64_t kMaxPixelsPerRunLengthByte = 128;
constexpr std::uint64_t kRunLengthShare = 16;

void CheckRunLengthCanFill(Bytes d, const Header& h, const Layout& l) {
  const std::uint64_t data_bytes = l.pixel_start < d.size() ? d.size() - l.pixel_start : 0;
  const std::uint64_t pixels = static_cast<std::uint64_t>(h.width) * h.height;
  if (pixels > data_bytes * kMaxPixelsPerRunLengthByte * kRunLengthShare) {
    throw Error("BMP run-length data of " + std::to_string(data_bytes) +
                " bytes cannot paint a sixteenth of its picture of " + std::to_string(h.width) +
                " x " + std::to_string(h.height) + " pixels");
  }
}

void ReadPixels(Bytes d, const Header& h, const Layout& l, Bitmap& out) {
  const RowOrder order{out.Height(), h.top_down};
  if (h.compression == kRle8 || h.compression == kRle4) {
    RleDecoder(d, l.pixel_start, h.compression == kRle4, order, out).Run();
    return;
  }
  const Rows rows = CheckUncompressed(d, h, l);
  switch (h.bit_count) {
    case 1:
    case 4:
    case 8:
    case 24:
      CopyRows(rows, order, out);
      break;
    case 2:
      WidenTwoBitRows(rows, order, out);
      break;
    default:
      ReadMaskedRows(rows, h, order, out);
      break;
  }
}

}  // namespace

BmpHeaders ReadBmpHeaders(std::span<const std::uint8_t> data) {
  BmpHeaders h;
  if (data.size() < kFileHeaderSize + 4) return h;
  h.pixel_offset = LoadLe32(data, 10);
  h.info_size = LoadLe32(data, kFileHeaderSize);
  const std::uint64_t end = std::min<std::uint64_t>(data.size(), kFileHeaderSize + h.info_size);
  const auto u16 = [&](std::size_t at) -> std::uint16_t {
    return at + 2 <= end ? LoadLe16(data, at) : 0;
  };
  const auto u32 = [&](std::size_t at) -> std::uint32_t {
    return at + 4 <= end ? LoadLe32(data, at) : 0;
  };
  h.core = h.info_size == 12;
  h.os2v2 = h.info_size == 16 || h.info_size == 64;
  if (h.core) {
    h.width = u16(18);
    h.height = u16(20);
    h.planes = u16(22);
    h.bit_count = u16(24);
    return h;
  }
  h.width = static_cast<std::int32_t>(u32(18));
  h.height = static_cast<std::int32_t>(u32(22));
  h.planes = u16(26);
  h.bit_count = u16(28);
  // The short OS/2 v2 header stops after the bit count; the missing fields are 0.
  h.compression = u32(30);
  h.image_size = u32(34);
  h.colours_used = u32(46);
  h.colours_important = u32(50);
  return h;
}

Bitmap ReadBmp(std::span<const std::uint8_t> data, BmpPixelPlacement placement) {
  const Header header = ReadCheckedHeader(data);
  const Layout layout = LocateData(data, header, placement);
  // Fail on truncation, or on data far too small for the picture, before allocating.
  if (header.compression != kRle8 && header.compression != kRle4) {
    CheckUncompressed(data, header, layout);
  } else {
    CheckRunLengthCanFill(data, header, layout);
  }
  Bitmap out;
  out.SetFormat(OutputFormat(header));
  if (header.bit_count <= 8) out.SetPalette(ReadPalette(data, header, layout));
  out.SetSize(static_cast<int>(header.width), static_cast<int>(header.height));
  ReadPixels(data, header, layout, out);
  return out;
}

}  // namespace tessaly
