// The image store. Resampling goes through OpenCV on views of the buffers.
#include "picture_store/ipl.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include <opencv2/imgproc.hpp>

#include "base/errors.h"
#include "base/limits.h"

namespace tessaly {
namespace {

constexpr std::align_val_t kDataAlignment{16};

int BytesPerSample(int depth) {
  return depth == kIplDepth16U ? 2 : 1;
}

void CopyCode(char (&dst)[4], const char* src) {
  std::memset(dst, 0, sizeof dst);
  for (std::size_t i = 0; src != nullptr && i < sizeof dst && src[i] != '\0'; ++i) dst[i] = src[i];
}

void FreeData(IplImage* image) {
  if (image->imageData != nullptr) ::operator delete(image->imageData, kDataAlignment);
  image->imageData = nullptr;
}

// The rectangle of src that operations read: its region, clipped, or all of it.
cv::Rect SourceRect(const IplImage* src) {
  cv::Rect all(0, 0, src->width, src->height);
  if (src->roi == nullptr) return all;
  return cv::Rect(src->roi->xOffset, src->roi->yOffset, src->roi->width, src->roi->height) & all;
}

cv::Mat View(const IplImage* image) {
  if (image == nullptr || image->imageData == nullptr) throw Error("Image has no samples");
  const int type = CV_MAKETYPE(image->depth == kIplDepth16U ? CV_16U : CV_8U, image->nChannels);
  return cv::Mat(image->height, image->width, type, image->imageData,
                 static_cast<size_t>(image->widthStep));
}

void Resize(const IplImage* src, IplImage* dst, int interpolation) {
  if (src == nullptr || dst == nullptr) return;
  if (src->nChannels != dst->nChannels || src->depth != dst->depth) {
    throw Error("Resampling needs images of the same channels and depth");
  }
  const cv::Rect rect = SourceRect(src);
  if (rect.empty() || dst->width <= 0 || dst->height <= 0) return;
  cv::Mat in = View(src)(rect);
  cv::Mat out = View(dst);
  cv::resize(in, out, out.size(), 0, 0, interpolation);
}

}  // namespace

IplImage* iplCreateImageHeader(int nChannels, int alphaChannel, int depth, const char* colorModel,
                               const char* channelSeq, int dataOrder, int origin, int align,
                               int width, int height, IplROI* roi, IplImage* maskROI, void* imageId,
                               void* tileInfo) {
  if (nChannels < 1 || nChannels > 4) throw Error("Unsupported channel count in image header");
  if (depth != kIplDepth8U && depth != kIplDepth16U) throw Error("Unsupported image depth");
  if (width < 0 || height < 0 || width > kMaxPictureSide || height > kMaxPictureSide ||
      static_cast<std::int64_t>(width) * height > kMaxPicturePixels) {
    throw Error("Image size " + std::to_string(width) + " x " + std::to_string(height) +
                " is beyond the supported limits");
  }
  if (align <= 0) align = kIplAlignQword;
  auto* image = new IplImage;
  image->nChannels = nChannels;
  image->alphaChannel = alphaChannel;
  image->depth = depth;
  CopyCode(image->colorModel, colorModel);
  CopyCode(image->channelSeq, channelSeq);
  image->dataOrder = dataOrder;
  image->origin = origin;
  image->align = align;
  image->width = width;
  image->height = height;
  image->roi = roi;
  image->maskROI = maskROI;
  image->imageId = imageId;
  image->tileInfo = tileInfo;
  const std::int64_t row_bytes = std::int64_t{width} * nChannels * BytesPerSample(depth);
  image->widthStep = static_cast<int>((row_bytes + align - 1) / align * align);
  image->imageSize = std::int64_t{image->widthStep} * height;
  return image;
}

void iplAllocateImage(IplImage* image, int doFill, int fillValue) {
  if (image == nullptr) return;
  FreeData(image);
  if (image->imageSize <= 0) return;
  image->imageData = static_cast<std::uint8_t*>(
      ::operator new(static_cast<size_t>(image->imageSize), kDataAlignment));
  if (doFill != 0) {
    if (image->depth == kIplDepth16U) {
      for (int y = 0; y < image->height; ++y) {
        std::uint16_t* row = IplRow16(image, y);
        std::fill(row, row + image->widthStep / 2, static_cast<std::uint16_t>(fillValue));
      }
    } else {
      std::memset(image->imageData, fillValue & 0xFF, static_cast<size_t>(image->imageSize));
    }
  }
}

void iplDeallocate(IplImage* image, int flag) {
  if (image == nullptr) return;
  if ((flag & kIplImageData) != 0) FreeData(image);
  if ((flag & kIplImageRoi) != 0) {
    delete image->roi;
    image->roi = nullptr;
  }
  if ((flag & kIplImageMask) != 0 && image->maskROI != nullptr) {
    iplDeallocate(image->maskROI, kIplImageAll);
    image->maskROI = nullptr;
  }
  if ((flag & kIplImageHeader) != 0) {
    if (image->imageData != nullptr) FreeData(image);
    delete image->roi;
    delete image;
  }
}

IplImage* iplCloneImage(const IplImage* image) {
  if (image == nullptr) return nullptr;
  auto* clone = new IplImage(*image);
  clone->imageData = nullptr;
  clone->roi = image->roi != nullptr ? new IplROI(*image->roi) : nullptr;
  clone->maskROI = nullptr;
  if (image->imageData != nullptr) {
    iplAllocateImage(clone, 0, 0);
    std::memcpy(clone->imageData, image->imageData, static_cast<size_t>(image->imageSize));
  }
  return clone;
}

IplROI* iplCreateROI(int coi, int xOffset, int yOffset, int width, int height) {
  return new IplROI{coi, xOffset, yOffset, width, height};
}

void iplCopy(const IplImage* src, IplImage* dst) {
  if (src == nullptr || dst == nullptr || src->imageData == nullptr || dst->imageData == nullptr) {
    return;
  }
  if (src->nChannels != dst->nChannels || src->depth != dst->depth) {
    throw Error("Copying needs images of the same channels and depth");
  }
  const cv::Rect rect = SourceRect(src);
  const int width = std::min(rect.width, dst->width);
  const int height = std::min(rect.height, dst->height);
  if (width <= 0 || height <= 0) return;
  const size_t pixel_bytes = static_cast<size_t>(src->nChannels) * BytesPerSample(src->depth);
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* from =
        src->imageData + std::int64_t{rect.y + y} * src->widthStep +
        static_cast<std::int64_t>(rect.x) * static_cast<std::int64_t>(pixel_bytes);
    std::memcpy(dst->imageData + std::int64_t{y} * dst->widthStep, from, width * pixel_bytes);
  }
}

void iplZoom(const IplImage* src, IplImage* dst, int /*xDst*/, int /*xSrc*/, int /*yDst*/,
             int /*ySrc*/, int /*interpolate*/) {
  // Callers pass the two images' sizes as the ratio; the destination size says it all.
  Resize(src, dst, cv::INTER_CUBIC);
}

void iplDecimate(const IplImage* src, IplImage* dst, int /*xDst*/, int /*xSrc*/, int /*yDst*/,
                 int /*ySrc*/, int /*interpolate*/) {
  Resize(src, dst, cv::INTER_AREA);
}

void ResampleOnCallingThreads() noexcept {
  try {
    // 0: no thread pool at all; each call runs on the thread that makes it.
    cv::setNumThreads(0);
  } catch (...) {
    // Only a saving: resampling on the pool gives the same pictures.
  }
}

IplImagePtr MakeGray16Image(int width, int height) {
  IplImagePtr image(iplCreateImageHeader(1, 0, kIplDepth16U, "GRAY", "GRAY", kIplDataOrderPixel,
                                         kIplOriginTopLeft, kIplAlignQword, width, height, nullptr,
                                         nullptr, nullptr, nullptr));
  iplAllocateImage(image.get(), 0, 0);
  return image;
}

}  // namespace tessaly
