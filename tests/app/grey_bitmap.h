// A flat 8-bit grey bitmap with the grey ramp, the input the processing tests start from.
#pragma once

#include <cstdint>

#include "picture_store/bitmap.h"

namespace tessaly::test {

inline Bitmap Grey8(int width, int height, std::uint8_t value) {
  Bitmap b;
  b.SetFormat(PixelFormat::k8Bit);
  b.SetPalette(GreyRamp());
  b.SetSize(width, height);
  b.FillRect({0, 0, width, height}, MakeColor(value, value, value));
  return b;
}

}  // namespace tessaly::test
