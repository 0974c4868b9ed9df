// Helpers of the decoder tests: small 16-bit working pictures built sample by sample, and
// decoding a generated frame as the per-file processing does.
#pragma once

#include <cstdint>
#include <string>

#include "decoder/data_lines.h"
#include "framegen/framegen.h"
#include "picture_store/ipl.h"

namespace tessaly::decoder_test {

inline IplImagePtr FilledImage(int width, int height, std::uint16_t value) {
  IplImagePtr image = MakeGray16Image(width, height);
  if (image->imageData != nullptr) iplAllocateImage(image.get(), 1, value);
  return image;
}

// Sets columns [x0, x1) of rows [y0, y1) to `value`.
inline void FillBlock(IplImage* image, int x0, int y0, int x1, int y1, std::uint16_t value) {
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) IplRow16(image, y)[x] = value;
  }
}

struct Decoded {
  IplImagePtr image;
  int pictureWidth = 0;
  int pictureHeight = 0;
  int blackLevel = 0;
  int whiteLevel = 0;
  int startColumn = 0;
  std::string headerText;
};

// Decodes `image` at the sample rate the per-file processing uses, 4 x width.
inline Decoded Decode(IplImagePtr image, SatelliteType type = SatelliteType::GOES) {
  Decoded d;
  IplImage* raw = image.release();
  const float rate = 4.0f * static_cast<float>(raw->width);
  DecodeDataLines(raw, d.pictureWidth, d.pictureHeight, d.blackLevel, d.whiteLevel, d.startColumn,
                  d.headerText, rate, type);
  d.image.reset(raw);
  return d;
}

inline SatelliteType DecoderType(framegen::Layout layout) {
  return layout == framegen::Layout::Meteosat ? SatelliteType::Meteosat : SatelliteType::GOES;
}

}  // namespace tessaly::decoder_test
