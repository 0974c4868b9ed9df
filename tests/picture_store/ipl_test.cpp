// The image store: header layout, cloning with regions, copying and resampling.
#include "picture_store/ipl.h"

#include <gtest/gtest.h>

#include "base/errors.h"

namespace tessaly {
namespace {

TEST(IplStore, HeaderRowsAreAlignedToEightBytes) {
  IplImagePtr image = MakeGray16Image(13, 5);
  EXPECT_EQ(image->width, 13);
  EXPECT_EQ(image->height, 5);
  EXPECT_EQ(image->widthStep, 32);  // 26 bytes rounded up to 8
  EXPECT_EQ(std::string(image->colorModel, 4), "GRAY");
  IplImage* rgb = iplCreateImageHeader(3, 0, kIplDepth8U, "RGB", "BGR", 0, 0, 8, 5, 2, nullptr,
                                       nullptr, nullptr, nullptr);
  EXPECT_EQ(rgb->widthStep, 16);
  EXPECT_EQ(rgb->imageData, nullptr);
  iplDeallocate(rgb, kIplImageAll);
}

TEST(IplStore, RefusesHostileSizesBeforeAllocating) {
  EXPECT_THROW(MakeGray16Image(100000, 10), Error);
  EXPECT_THROW(MakeGray16Image(40000, 40000), Error);
  EXPECT_THROW(MakeGray16Image(-1, 3), Error);
}

TEST(IplStore, CopyTakesTheSourceRegionIntoTheDestinationCorner) {
  IplImagePtr src = MakeGray16Image(6, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) IplRow16(src.get(), y)[x] = static_cast<std::uint16_t>(y * 10 + x);
  IplImage* clone = iplCloneImage(src.get());
  clone->roi = iplCreateROI(0, 2, 1, 3, 2);
  IplImagePtr dst = MakeGray16Image(3, 2);
  iplCopy(clone, dst.get());
  EXPECT_EQ(IplRow16(dst.get(), 0)[0], 12);
  EXPECT_EQ(IplRow16(dst.get(), 0)[2], 14);
  EXPECT_EQ(IplRow16(dst.get(), 1)[0], 22);
  // The clone owns its own samples.
  IplRow16(clone, 0)[0] = 999;
  EXPECT_EQ(IplRow16(src.get(), 0)[0], 0);
  iplDeallocate(clone, kIplImageAll);
}

TEST(IplStore, CopyClipsARegionThatReachesPastTheSource) {
  IplImagePtr src = MakeGray16Image(4, 4);
  iplAllocateImage(src.get(), 1, 7);
  src->roi = iplCreateROI(0, 3, 3, 5, 5);
  IplImagePtr dst = MakeGray16Image(5, 5);
  iplAllocateImage(dst.get(), 1, 1);
  iplCopy(src.get(), dst.get());
  EXPECT_EQ(IplRow16(dst.get(), 0)[0], 7);
  EXPECT_EQ(IplRow16(dst.get(), 0)[1], 1);
  EXPECT_EQ(IplRow16(dst.get(), 1)[0], 1);
}

TEST(IplStore, ZoomAndDecimateKeepAFlatPictureFlat) {
  IplImage* src = iplCreateImageHeader(1, 0, kIplDepth8U, "GRAY", "GRAY", 0, 0, 8, 10, 6, nullptr,
                                       nullptr, nullptr, nullptr);
  iplAllocateImage(src, 1, 77);
  IplImage* big = iplCreateImageHeader(1, 0, kIplDepth8U, "GRAY", "GRAY", 0, 0, 8, 25, 9, nullptr,
                                       nullptr, nullptr, nullptr);
  iplAllocateImage(big, 0, 0);
  iplZoom(src, big, 25, 10, 9, 6, kIplInterCubic);
  IplImage* small = iplCreateImageHeader(1, 0, kIplDepth8U, "GRAY", "GRAY", 0, 0, 8, 4, 3, nullptr,
                                         nullptr, nullptr, nullptr);
  iplAllocateImage(small, 0, 0);
  iplDecimate(src, small, 4, 10, 3, 6, kIplInterSuper);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 25; ++x) ASSERT_EQ(IplRow8(big, y)[x], 77);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) ASSERT_EQ(IplRow8(small, y)[x], 77);
  iplDeallocate(src, kIplImageAll);
  iplDeallocate(big, kIplImageAll);
  iplDeallocate(small, kIplImageAll);
}

TEST(IplStore, DecimationAveragesAreas) {
  IplImage* src = iplCreateImageHeader(1, 0, kIplDepth8U, "GRAY", "GRAY", 0, 0, 8, 4, 1, nullptr,
                                       nullptr, nullptr, nullptr);
  iplAllocateImage(src, 0, 0);
  const std::uint8_t values[4] = {0, 100, 200, 40};
  std::copy(values, values + 4, IplRow8(src, 0));
  IplImage* dst = iplCreateImageHeader(1, 0, kIplDepth8U, "GRAY", "GRAY", 0, 0, 8, 2, 1, nullptr,
                                       nullptr, nullptr, nullptr);
  iplAllocateImage(dst, 0, 0);
  iplDecimate(src, dst, 2, 4, 1, 1, kIplInterSuper);
  EXPECT_EQ(IplRow8(dst, 0)[0], 50);
  EXPECT_EQ(IplRow8(dst, 0)[1], 120);
  iplDeallocate(src, kIplImageAll);
  iplDeallocate(dst, kIplImageAll);
}

}  // namespace
}  // namespace tessaly
