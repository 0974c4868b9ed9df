// The standard Windows BMP reader: decodes a BMP file held in memory into a
// Bitmap. The repairing loader of TExtBitmap and the tests call it.
#pragma once

#include <cstdint>
#include <span>

#include "picture_store/bitmap.h"

namespace tessaly {

// Where the reader looks for the pixel rows.
enum class BmpPixelPlacement {
  // At bfOffBits, as the format says; valid files may leave a gap before the pixels.
  kAtOffset,
  // Straight after a colour table of exactly biClrUsed entries. The palette repair
  // shortens the colour table without correcting bfOffBits, so the offset is stale.
  kAfterColourTable,
};

// The fields of a BMP file's file header and info header as stored, read without judging them:
// the reader checks them, the repairing loader looks for the known faults in them. Where a field
// lies follows the info header's size (OS/2 v1 headers hold 16-bit sizes); a field that the info
// header does not reach, or that lies past the end of the data, is 0.
struct BmpHeaders {
  std::uint32_t pixel_offset = 0;  // bfOffBits
  std::uint32_t info_size = 0;     // biSize
  bool core = false;               // OS/2 v1: 16-bit sizes, 3-byte colour table entries
  bool os2v2 = false;              // OS/2 v2: compression codes 3 and 4 mean something else
  std::int64_t width = 0;
  std::int64_t height = 0;  // as stored: negative for top-down rows
  std::uint16_t planes = 0;
  std::uint16_t bit_count = 0;
  std::uint32_t compression = 0;
  std::uint32_t image_size = 0;  // biSizeImage
  std::uint32_t colours_used = 0;
  std::uint32_t colours_important = 0;
};

// The headers of the file that starts at data[0]; all 0 when data is shorter than the file
// header and the info header's size field. The signature is not looked at.
BmpHeaders ReadBmpHeaders(std::span<const std::uint8_t> data);

// Decodes the BMP file that starts at data[0]: OS/2 v1 and v2 headers and
// info headers of 40, 52, 56, 108 and 124 bytes; 1, 2, 4, 8, 16, 24 and 32 bits
// per pixel; uncompressed, RLE8, RLE4 and bit fields; bottom-up and top-down.
//
// Indexed files (1, 4, 8 bits) keep their indices and colour table; 2-bit files
// become 4-bit with the same indices. Every other file becomes 24-bit blue,
// green, red: bit-field channels of n bits are scaled to 8 bits rounding to the
// nearest, so that a full channel gives 255; alpha and unused bits are dropped.
// Pixels that RLE codes leave undefined are index 0.
//
// Throws Error naming the problem for corrupt, truncated or unsupported files,
// and for pictures beyond Bitmap::kMaxSide or Bitmap::kMaxPixels, before the
// pixels are allocated. Never reads outside data.
Bitmap ReadBmp(std::span<const std::uint8_t> data,
               BmpPixelPlacement placement = BmpPixelPlacement::kAtOffset);

}  // namespace tessaly
