// The standard Windows BMP reader: decodes a BMP file held in memory into a
// Bitmap. The repairing loader of TExtBitmap and the tests call it.
#pragma once

#include <cstdint>
#include <span>

#include "imaging/bitmap.h"

namespace tessaly {

// Where the reader looks for the pixel rows.
enum class BmpPixelPlacement {
  // At bfOffBits, as the format says; valid files may leave a gap before the pixels.
  kAtOffset,
  // Straight after a colour table of exactly biClrUsed entries. The palette repair
  // shortens the colour table without correcting bfOffBits, so the offset is stale.
  kAfterColourTable,
};

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
