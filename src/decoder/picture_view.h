// Read access to the 16-bit working picture for the decoders: rows outside the picture read
// as absent (all samples 0), so every window can run its full count without leaving a buffer.
#pragma once

#include <cstdint>

#include "picture_store/ipl.h"

namespace tessaly {

class PictureView {
 public:
  // Throws Error unless `image` is a one-channel 16-bit picture with samples for its size.
  explicit PictureView(const IplImage* image);

  int width() const { return width_; }
  int height() const { return height_; }
  // Row r, or nullptr when r lies outside the picture.
  const std::uint16_t* Row(int r) const {
    if (r < 0 || r >= height_ || data_ == nullptr) return nullptr;
    return data_ + static_cast<std::int64_t>(r) * stride_;
  }
  // One sample; 0 outside the picture.
  static std::uint16_t At(const std::uint16_t* row, int row_width, int column) {
    return row != nullptr && column >= 0 && column < row_width ? row[column] : 0;
  }

 private:
  const std::uint16_t* data_ = nullptr;
  std::int64_t stride_ = 0;  // samples from one row to the next
  int width_ = 0;
  int height_ = 0;
};

}  // namespace tessaly
