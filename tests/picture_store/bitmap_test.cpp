// The bitmap class: size changes, formats, palettes, fills and draws.
#include "picture_store/bitmap.h"

#include <gtest/gtest.h>

#include "base/errors.h"

namespace tessaly {
namespace {

Bitmap Grey8(int width, int height) {
  Bitmap b;
  b.SetFormat(PixelFormat::k8Bit);
  b.SetPalette(GreyRamp());
  b.SetSize(width, height);
  return b;
}

TEST(Bitmap, SizeChangesKeepFormatPaletteAndOverlap) {
  Bitmap b = Grey8(5, 3);
  b.Row(1)[2] = 99;
  b.SetWidth(9);
  EXPECT_EQ(b.Format(), PixelFormat::k8Bit);
  EXPECT_EQ(b.GetPalette().size(), 256u);
  EXPECT_EQ(b.Row(1)[2], 99);
  EXPECT_EQ(b.Row(1)[8], 0);
  b.SetHeight(0);
  EXPECT_TRUE(b.Empty());
  EXPECT_EQ(b.GetPalette().size(), 256u);
  b.SetHeight(2);
  EXPECT_EQ(b.Row(1)[2], 0);
  EXPECT_THROW(b.SetSize(70000, 1), Error);
}

TEST(Bitmap, FillExcludesRightAndBottomEdges) {
  Bitmap b = Grey8(6, 4);
  b.FillRect({1, 1, 3, 3}, kWhite);
  EXPECT_EQ(b.Row(1)[1], 255);
  EXPECT_EQ(b.Row(2)[2], 255);
  EXPECT_EQ(b.Row(1)[3], 0);
  EXPECT_EQ(b.Row(3)[1], 0);
  b.FillRect({-5, -5, 100, 100}, kWhite);  // clipped, no fault
  EXPECT_EQ(b.Row(3)[5], 255);
}

TEST(Bitmap, DrawCopiesValuesAndClipsAtTheEdges) {
  Bitmap dst = Grey8(5, 5);
  Bitmap src = Grey8(3, 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) src.Row(y)[x] = static_cast<std::uint8_t>(10 * y + x + 1);
  dst.Draw(3, 3, src);
  EXPECT_EQ(dst.Row(3)[3], 1);
  EXPECT_EQ(dst.Row(4)[4], 12);
  EXPECT_EQ(dst.Row(2)[3], 0);
  dst.Draw(-2, 0, src);
  EXPECT_EQ(dst.Row(0)[0], 3);
}

TEST(Bitmap, FormatChangeConvertsThroughColours) {
  Bitmap b;
  b.SetFormat(PixelFormat::k24Bit);
  b.SetSize(2, 1);
  b.FillRect({0, 0, 1, 1}, MakeColor(10, 20, 30));
  EXPECT_EQ(b.Row(0)[0], 30);  // stored blue, green, red
  EXPECT_EQ(b.Row(0)[2], 10);
  b.SetFormat(PixelFormat::k8Bit);
  EXPECT_EQ(b.GetPalette().size(), 256u);
  EXPECT_EQ(b.PixelColor(0, 0), MakeColor(20, 20, 20));
}

TEST(Bitmap, PackedFormatsReadAndWriteTheirBits) {
  Bitmap b;
  b.SetFormat(PixelFormat::k4Bit);
  b.SetSize(3, 1);
  b.FillRect({1, 0, 2, 1}, kWhite);
  EXPECT_EQ(b.Row(0)[0], 0x0F);
  EXPECT_EQ(b.PixelColor(1, 0), kWhite);
  b.SetFormat(PixelFormat::k1Bit);
  EXPECT_EQ(b.Row(0)[0], 0x40);
}

TEST(Bitmap, AssignCopiesOrTakesOverPixelsButKeepsTheFlags) {
  Bitmap source = Grey8(3, 2);
  source.Row(1)[2] = 42;
  Bitmap target;
  target.SetTransparent(true);
  target.Assign(source);
  EXPECT_EQ(target.Row(1)[2], 42);
  EXPECT_EQ(source.Row(1)[2], 42);
  EXPECT_TRUE(target.Transparent());
  Bitmap moved;
  moved.Assign(std::move(source));
  EXPECT_EQ(moved.Row(1)[2], 42);
  EXPECT_EQ(moved.GetPalette().size(), 256u);
  EXPECT_TRUE(source.Empty());
}

TEST(Bitmap, ModifiedNotifiesTheView) {
  Bitmap b;
  int calls = 0;
  b.on_change = [&] { ++calls; };
  b.SetModified(true);
  b.SetModified(false);
  EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace tessaly
