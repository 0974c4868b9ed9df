// Checks that an image can be read as a 16-bit working picture.
#include "decoder/picture_view.h"

#include "base/errors.h"

namespace tessaly {

PictureView::PictureView(const IplImage* image) {
  if (image == nullptr || image->nChannels != 1 || image->depth != kIplDepth16U ||
      image->width < 0 || image->height < 0) {
    throw Error("The decoder needs a one-channel 16-bit picture");
  }
  width_ = image->width;
  height_ = image->height;
  // Rows are widthStep div 2 samples apart, as the store lays them out.
  stride_ = image->widthStep / 2;
  if (width_ > 0 && height_ > 0) {
    const std::int64_t needed = ((height_ - 1) * stride_ + width_) * 2;
    if (image->imageData == nullptr || stride_ < width_ || image->imageSize < needed) {
      throw Error("The decoder needs a one-channel 16-bit picture");
    }
    data_ = reinterpret_cast<const std::uint16_t*>(image->imageData);
  }
}

}  // namespace tessaly
