// The grey conversion: luma of true colour and palette pictures, and the two
// ways of treating 8-bit pictures.
#include "picture_store/grey.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace tessaly {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Pixels(const Bitmap& b, int y) {
  return {b.Row(y), b.Row(y) + b.Width()};
}

TEST(Grey, LumaWeightsAndRounds) {
  // Worked by hand: (299 x 255 + 500) div 1000 = 76745 div 1000.
  EXPECT_EQ(Luma(255, 0, 0), 76);
  EXPECT_EQ(Luma(0, 255, 0), 150);  // 149685 + 500
  EXPECT_EQ(Luma(0, 0, 255), 29);   // 29070 + 500
  EXPECT_EQ(Luma(255, 255, 255), 255);
  EXPECT_EQ(Luma(1, 1, 1), 1);
}

TEST(Grey, EightBitIndicesStayOrFollowThePalette) {
  Bitmap b;
  b.SetFormat(PixelFormat::k8Bit);
  b.SetPalette({{255, 0, 0, 0}, {0, 255, 0, 0}, {0, 0, 255, 0}});
  b.SetSize(4, 1);
  b.Row(0)[0] = 0, b.Row(0)[1] = 1, b.Row(0)[2] = 2, b.Row(0)[3] = 200;
  const Bitmap kept = ToGrey8(b, GreyMode::kKeepIndices);
  EXPECT_EQ(Pixels(kept, 0), (Bytes{0, 1, 2, 200}));
  EXPECT_EQ(kept.GetPalette(), GreyRamp());
  // Index 200 lies past the palette: black.
  EXPECT_EQ(Pixels(ToGrey8(b, GreyMode::kTrueColour), 0), (Bytes{76, 150, 29, 0}));
}

TEST(Grey, SmallPalettesGoThroughTheirLumaInEitherMode) {
  Bitmap one;
  one.SetFormat(PixelFormat::k1Bit);
  one.SetPalette({{0, 0, 255, 0}, {255, 255, 255, 0}});
  one.SetSize(9, 1);
  one.Row(0)[0] = 0b10100000;
  one.Row(0)[1] = 0b10000000;
  EXPECT_EQ(Pixels(ToGrey8(one), 0), (Bytes{255, 29, 255, 29, 29, 29, 29, 29, 255}));
  Bitmap four;
  four.SetFormat(PixelFormat::k4Bit);
  four.SetPalette({{0, 0, 0, 0}, {255, 0, 0, 0}});
  four.SetSize(3, 1);
  four.Row(0)[0] = 0x10;
  four.Row(0)[1] = 0x50;  // 5: past the palette
  EXPECT_EQ(Pixels(ToGrey8(four), 0), (Bytes{76, 0, 0}));
}

TEST(Grey, TrueColourIgnoresAlphaAndSixteenBitScalesFully) {
  Bitmap rgba;
  rgba.SetFormat(PixelFormat::k32Bit);
  rgba.SetSize(2, 1);
  const Bytes bgra = {255, 0, 0, 0, 0, 255, 0, 255};  // blue, then green with alpha 255
  std::copy(bgra.begin(), bgra.end(), rgba.Row(0));
  EXPECT_EQ(Pixels(ToGrey8(rgba), 0), (Bytes{29, 150}));
  Bitmap rgb;
  rgb.SetSize(1, 2);
  rgb.Row(1)[2] = 255;  // red
  EXPECT_EQ(Pixels(ToGrey8(rgb), 1), (Bytes{76}));
  Bitmap hi;
  hi.SetFormat(PixelFormat::k16Bit);
  hi.SetSize(1, 1);
  hi.Row(0)[0] = 0xFF, hi.Row(0)[1] = 0xFF;
  const Bitmap grey = ToGrey8(hi);
  EXPECT_EQ(grey.Format(), PixelFormat::k8Bit);
  EXPECT_EQ(grey.Row(0)[0], 255);
}

}  // namespace
}  // namespace tessaly
