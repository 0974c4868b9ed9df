// The image store: image headers in the layout of the old image processing
// library, with allocation, cloning, regions of interest, copying and
// resampling. Used by the decoder (16-bit working pictures), the bitmap
// conversions and the per-file processing.
#pragma once

#include <cstdint>
#include <memory>

namespace tessaly {

inline constexpr int kIplDepth8U = 8;
inline constexpr int kIplDepth16U = 16;
inline constexpr int kIplDataOrderPixel = 0;
inline constexpr int kIplOriginTopLeft = 0;
inline constexpr int kIplAlignQword = 8;
// Flags of iplDeallocate; kIplImageAll (0x1F) frees every part.
inline constexpr int kIplImageHeader = 1;
inline constexpr int kIplImageData = 2;
inline constexpr int kIplImageRoi = 4;
inline constexpr int kIplImageTile = 8;
inline constexpr int kIplImageMask = 16;
inline constexpr int kIplImageAll = 0x1F;
// Interpolation codes of iplZoom and iplDecimate.
inline constexpr int kIplInterCubic = 2;
inline constexpr int kIplInterSuper = 3;

struct IplROI {
  int coi = 0;  // 0: all channels
  int xOffset = 0;
  int yOffset = 0;
  int width = 0;
  int height = 0;
};

struct IplImage {
  int nSize = sizeof(IplImage);
  int ID = 0;
  int nChannels = 1;
  int alphaChannel = 0;
  int depth = kIplDepth8U;  // bits per sample, unsigned
  char colorModel[4] = {};
  char channelSeq[4] = {};
  int dataOrder = kIplDataOrderPixel;
  int origin = kIplOriginTopLeft;
  int align = kIplAlignQword;
  int width = 0;
  int height = 0;
  IplROI* roi = nullptr;  // owned
  IplImage* maskROI = nullptr;
  void* imageId = nullptr;
  void* tileInfo = nullptr;
  std::int64_t imageSize = 0;         // bytes of imageData
  std::uint8_t* imageData = nullptr;  // owned; first sample of row 0
  int widthStep = 0;                  // bytes per row, padded to align
};

// Largest picture the store accepts, so that hostile sizes fail before allocating.

// A header with its fields and widthStep set; no samples yet. Throws Error on a
// size outside the store's limits or an unsupported depth or channel count.
IplImage* iplCreateImageHeader(int nChannels, int alphaChannel, int depth, const char* colorModel,
                               const char* channelSeq, int dataOrder, int origin, int align,
                               int width, int height, IplROI* roi, IplImage* maskROI, void* imageId,
                               void* tileInfo);
// Allocates the samples; they are filled with fillValue only when doFill is non-zero.
void iplAllocateImage(IplImage* image, int doFill, int fillValue);
// Frees the parts named by flag (kIplImageAll: header, samples, region, mask).
void iplDeallocate(IplImage* image, int flag);
// A new image with equal fields (region included) and its own copy of the samples.
IplImage* iplCloneImage(const IplImage* image);
IplROI* iplCreateROI(int coi, int xOffset, int yOffset, int width, int height);
// Copies the samples inside src's region (or all of src) to dst from its top-left
// corner; the copied rectangle is clipped to both images.
void iplCopy(const IplImage* src, IplImage* dst);
// Fills dst with src (or its region) enlarged by cubic interpolation.
void iplZoom(const IplImage* src, IplImage* dst, int xDst, int xSrc, int yDst, int ySrc,
             int interpolate);
// Fills dst with src (or its region) reduced by area averaging.
void iplDecimate(const IplImage* src, IplImage* dst, int xDst, int xSrc, int yDst, int ySrc,
                 int interpolate);

// Sample access helpers for the 16-bit working pictures.
inline std::uint16_t* IplRow16(IplImage* image, int row) {
  return reinterpret_cast<std::uint16_t*>(image->imageData +
                                          static_cast<std::int64_t>(row) * image->widthStep);
}
inline const std::uint16_t* IplRow16(const IplImage* image, int row) {
  return reinterpret_cast<const std::uint16_t*>(image->imageData +
                                                static_cast<std::int64_t>(row) * image->widthStep);
}
inline std::uint8_t* IplRow8(IplImage* image, int row) {
  return image->imageData + static_cast<std::int64_t>(row) * image->widthStep;
}

// Owning handle for code that prefers RAII; releases with kIplImageAll.
struct IplImageDeleter {
  void operator()(IplImage* image) const { iplDeallocate(image, kIplImageAll); }
};
using IplImagePtr = std::unique_ptr<IplImage, IplImageDeleter>;

// A one-channel 16-bit grey image ("GRAY"/"GRAY", aligned to 8), allocated, not filled.
IplImagePtr MakeGray16Image(int width, int height);

// Resampling runs on the calling thread alone, for a program that already keeps every core busy
// with pictures of its own: the resampler's own thread pool would only add its start-up and its
// waiting to each picture's processor time. Call before any resampling. Never throws.
void ResampleOnCallingThreads() noexcept;

}  // namespace tessaly
