// Conversion of any bitmap to an 8-bit picture with the 256-level grey
// palette: the per-file processing and the conformance tests use it.
#pragma once

#include <cstdint>

#include "picture_store/bitmap.h"

namespace tessaly {

enum class GreyMode {
  // 8-bit pictures keep their index values: in the processing path a received
  // frame's index is its grey level, whatever palette the file carries.
  kKeepIndices,
  // 8-bit pictures, like every other format, become the luma of their colours.
  kTrueColour,
};

// Y = (299 R + 587 G + 114 B + 500) div 1000.
inline std::uint8_t Luma(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  return static_cast<std::uint8_t>((299 * red + 587 * green + 114 * blue + 500) / 1000);
}

// An 8-bit bitmap of the same size with the grey ramp as its palette. Colours
// are taken as stored (alpha ignored); indexed pixels go through the luma of
// their palette entry, and an index past the palette reads as black.
Bitmap ToGrey8(const Bitmap& source, GreyMode mode = GreyMode::kKeepIndices);

}  // namespace tessaly
