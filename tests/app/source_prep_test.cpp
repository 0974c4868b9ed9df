// Source layout for data-lines pictures, the working picture and the stretch.
#include "app/source_prep.h"

#include <gtest/gtest.h>

#include "grey_bitmap.h"

#include <algorithm>
#include <string>
#include <utility>

namespace tessaly {
namespace {

using test::Grey8;

TEST(PrepareDataLines, NarrowSourceIsLaidOutBehindBandsUnderTheBar) {
  Bitmap source = Grey8(814, 6, 100);
  source.Row(0)[813] = 7;
  Bitmap dest;
  PrepareDataLines(source, dest);
  ASSERT_EQ(dest.Width(), 840);
  ASSERT_EQ(dest.Height(), 26);
  const std::uint8_t* row = dest.Row(20);
  for (int x = 0; x < 13; ++x) EXPECT_EQ(row[x], 0) << x;
  for (int x = 13; x < 26; ++x) EXPECT_EQ(row[x], 255) << x;
  EXPECT_EQ(row[26], 100);
  EXPECT_EQ(row[26 + 813], 7);
  const std::uint8_t* bar = dest.Row(19);
  EXPECT_EQ(bar[26], 0);
  EXPECT_EQ(bar[27], 255);
  EXPECT_EQ(bar[824], 255);
  EXPECT_EQ(bar[825], 0);
  EXPECT_EQ(dest.Row(0)[839], 0);
}

TEST(PrepareDataLines, WideSourceLosesItsRightColumnsAndExactWidthIsKept) {
  Bitmap wide = Grey8(900, 3, 50);
  wide.Row(0)[813] = 9;  // last column that fits
  wide.Row(0)[814] = 200;
  Bitmap dest;
  PrepareDataLines(wide, dest);
  EXPECT_EQ(dest.Width(), 840);
  EXPECT_EQ(dest.Row(20)[839], 9);

  Bitmap exact = Grey8(840, 3, 60);
  exact.Row(2)[0] = 1;
  PrepareDataLines(exact, dest);
  EXPECT_EQ(dest.Height(), 23);
  EXPECT_EQ(dest.Row(22)[0], 1);
  EXPECT_EQ(dest.Row(21)[20], 60);
}

TEST(MakeSampleImage, ScalesBy64AndDropsTheLastRowOfAnOddHeight) {
  Bitmap b = Grey8(5, 575, 3);
  b.Row(573)[4] = 255;
  IplImagePtr image = MakeSampleImage(b);
  EXPECT_EQ(image->height, 574);
  EXPECT_EQ(image->width, 5);
  EXPECT_EQ(IplRow16(image.get(), 0)[0], 192);
  EXPECT_EQ(IplRow16(image.get(), 573)[4], 16320);
}

TEST(RenderOutput, StretchesTruncatesAndClips) {
  IplImagePtr image = MakeGray16Image(5, 2);
  const std::uint16_t values[5] = {20 * 64, 230 * 64, 125 * 64, 0, 255 * 64};
  std::copy(values, values + 5, IplRow16(image.get(), 0));
  std::copy(values, values + 5, IplRow16(image.get(), 1));
  Bitmap out;
  RenderOutput(*image, 1280, 14720, out);
  ASSERT_EQ(out.Width(), 5);
  ASSERT_EQ(out.Height(), 2);
  EXPECT_EQ(out.Format(), PixelFormat::k8Bit);
  EXPECT_EQ(out.GetPalette(), GreyRamp());
  EXPECT_TRUE(out.Modified());
  const std::uint8_t expected[5] = {0, 255, 127, 0, 255};
  for (int x = 0; x < 5; ++x) EXPECT_EQ(out.Row(1)[x], expected[x]) << x;
}

TEST(RenderOutput, InvertedLevelsInvertAndEqualLevelsDoNotDivideByZero) {
  IplImagePtr image = MakeGray16Image(3, 1);
  const std::uint16_t values[3] = {20 * 64, 230 * 64, 125 * 64};
  std::copy(values, values + 3, IplRow16(image.get(), 0));
  Bitmap out;
  RenderOutput(*image, 14720, 1280, out);
  EXPECT_EQ(out.Row(0)[0], 255);
  EXPECT_EQ(out.Row(0)[1], 0);
  EXPECT_EQ(out.Row(0)[2], 127);
  RenderOutput(*image, 125 * 64, 125 * 64, out);
  EXPECT_EQ(out.Row(0)[0], 0);
  EXPECT_EQ(out.Row(0)[1], 255);
  EXPECT_EQ(out.Row(0)[2], 0);
}

TEST(RenderOutput, EverySampleValueFollowsTheStretchForAnyLevels) {
  // Every sample a working picture holds (each grey level's), against the formula worked in
  // 64-bit arithmetic.
  IplImagePtr image = MakeGray16Image(256, 1);
  for (int x = 0; x < 256; ++x) IplRow16(image.get(), 0)[x] = static_cast<std::uint16_t>(x * 64);
  const std::pair<std::int32_t, std::int32_t> levels[] = {
      {1280, 14720}, {14720, 1280},  {0, 65535},   {-500, 300}, {60000, 70000}, {777, 777},
      {5, 6},        {70000, 60000}, {-300, -500}, {300, -500}, {100, 50},      {65535, 0}};
  for (const auto& [black, white] : levels) {
    SCOPED_TRACE(std::to_string(black) + "/" + std::to_string(white));
    Bitmap out;
    RenderOutput(*image, black, white, out);
    const std::int64_t range = white == black ? 1 : std::int64_t{white} - black;
    int wrong = 0;
    for (std::int64_t grey = 0; grey < 256; ++grey) {
      const std::int64_t p = std::clamp<std::int64_t>((grey * 64 - black) * 255 / range, 0, 255);
      wrong += out.Row(0)[grey] != p;
    }
    EXPECT_EQ(wrong, 0);
  }
}

TEST(RenderOutput, ReplacesAColourPaletteWithTheGreyRamp) {
  Bitmap out = Grey8(2, 2, 0);
  Palette odd = GreyRamp();
  odd[3] = {255, 0, 0, 0};
  out.SetPalette(odd);
  IplImagePtr image = MakeGray16Image(2, 2);
  RenderOutput(*image, 0, 16320, out);
  EXPECT_EQ(out.GetPalette(), GreyRamp());
}

}  // namespace
}  // namespace tessaly
