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
  int picture_width = 0;
  int picture_height = 0;
  int black_level = 0;
  int white_level = 0;
  int start_column = 0;
  std::string header_text;
};

// Decodes `image` at the sample rate the per-file processing uses, 4 x width.
inline Decoded Decode(IplImagePtr image, SatelliteType type = SatelliteType::GOES) {
  Decoded d;
  IplImage* raw = image.release();
  const float rate = 4.0f * static_cast<float>(raw->width);
  DecodeDataLines(raw, d.picture_width, d.picture_height, d.black_level, d.white_level, d.start_column,
                  d.header_text, rate, type);
  d.image.reset(raw);
  return d;
}

inline SatelliteType DecoderType(framegen::Layout layout) {
  return layout == framegen::Layout::Meteosat ? SatelliteType::Meteosat : SatelliteType::GOES;
}

}  // namespace tessaly::decoder_test
