// Writes 8-bit and 24-bit bitmaps as Windows BMP files in memory: the tests,
// the examples and the synthetic frame generator make their BMP inputs with it.
#pragma once

#include <cstdint>
#include <vector>

#include "picture_store/bitmap.h"

namespace tessaly {

struct BmpWriteOptions {
  // Non-zero: biClrUsed and biClrImportant announce this many colours while the
  // full 256-entry table is still stored, as some receivers write their frames
  // (200 and 224 are the counts the loader repairs). 8-bit bitmaps only.
  std::uint32_t announced_colours = 0;
  // Leaves biSizeImage 0, which the format allows for uncompressed pictures.
  bool omit_size_image = false;
};

// A bottom-up, uncompressed BMP with a 40-byte info header. 8-bit bitmaps get a
// 256-entry colour table (their palette, padded with black). Throws
// InvalidGraphicOperation for other pixel formats.
std::vector<std::uint8_t> EncodeBmp(const Bitmap& bitmap, const BmpWriteOptions& options = {});

}  // namespace tessaly
