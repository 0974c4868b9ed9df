// The standard BMP reader and writer on crafted files: layout rules, run-length
// and bit-field decoding, refusals of corrupt files and of oversized pictures.
#include "picture_files/bmp_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/errors.h"
#include "support/bmp_writer.h"

namespace tessaly {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A BMP with a 40-byte info header: masks (if any), then the colour table
// (0xRRGGBB values), then the pixel bytes exactly as given.
Bytes Craft(std::int32_t width, std::int32_t height, std::uint16_t bits, std::uint32_t compression,
            const std::vector<std::uint32_t>& table, const Bytes& pixels,
            const std::vector<std::uint32_t>& masks = {}) {
  const std::size_t offset = 54 + 4 * (masks.size() + table.size());
  Bytes b(offset, 0);
  b[0] = 'B';
  b[1] = 'M';
  Put32(b, 10, static_cast<std::uint32_t>(offset));
  Put32(b, 14, 40);
  Put32(b, 18, static_cast<std::uint32_t>(width));
  Put32(b, 22, static_cast<std::uint32_t>(height));
  b[26] = 1;
  b[28] = static_cast<std::uint8_t>(bits);
  Put32(b, 30, compression);
  Put32(b, 46, static_cast<std::uint32_t>(table.size()));
  std::size_t at = 54;
  for (std::uint32_t m : masks) Put32(b, at, m), at += 4;
  for (std::uint32_t c : table) Put32(b, at, c), at += 4;
  b.insert(b.end(), pixels.begin(), pixels.end());
  return b;
}

std::vector<std::uint8_t> RowOf(const Bitmap& b, int y) {
  return {b.Row(y), b.Row(y) + b.RowBytes()};
}

std::string ErrorOf(const Bytes& file) {
  try {
    ReadBmp(file);
  } catch (const Error& e) {
    return e.what();
  }
  return "";
}

Bitmap Sample8(int width, int height) {
  Bitmap b;
  b.SetFormat(PixelFormat::k8Bit);
  Palette palette(256);
  for (int i = 0; i < 256; ++i) palette[i] = {std::uint8_t(i), std::uint8_t(255 - i), 7, 0};
  b.SetPalette(palette);
  b.SetSize(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) b.Row(y)[x] = static_cast<std::uint8_t>(x * 7 + y * 13);
  return b;
}

TEST(BmpWriter, EightAndTwentyFourBitPicturesRoundTrip) {
  const Bitmap grey = Sample8(5, 3);  // 5 wide: 3 padding bytes per row
  const Bitmap back = ReadBmp(EncodeBmp(grey));
  EXPECT_EQ(back.Format(), PixelFormat::k8Bit);
  EXPECT_EQ(back.GetPalette(), grey.GetPalette());
  for (int y = 0; y < 3; ++y) EXPECT_EQ(RowOf(back, y), RowOf(grey, y));

  Bitmap colour;
  colour.SetSize(3, 2);
  for (int i = 0; i < 9; ++i) colour.Row(1)[i] = static_cast<std::uint8_t>(20 * i + 1);
  const Bitmap back24 = ReadBmp(EncodeBmp(colour));
  EXPECT_EQ(back24.Format(), PixelFormat::k24Bit);
  EXPECT_EQ(RowOf(back24, 1), RowOf(colour, 1));
  EXPECT_EQ(RowOf(back24, 0), RowOf(colour, 0));

  Bitmap wide;
  wide.SetFormat(PixelFormat::k16Bit);
  EXPECT_THROW(EncodeBmp(wide), InvalidGraphicOperation);
}

TEST(BmpWriter, AnnouncedColoursKeepTheFullTable) {
  const Bytes file = EncodeBmp(Sample8(4, 2), {.announced_colours = 200, .omit_size_image = true});
  EXPECT_EQ(file.size(), 54u + 1024 + 8);
  EXPECT_EQ(file[46], 200);
  EXPECT_EQ(file[50], 200);
  EXPECT_EQ(file[34] | file[35], 0);
  EXPECT_EQ(file[10] | (file[11] << 8), 1078);
}

TEST(BmpReader, PixelsStartAtTheOffsetOrStraightAfterTheTable) {
  Bytes file = EncodeBmp(Sample8(4, 2));
  file.insert(file.begin() + 1078, 12, 0xEE);  // a gap before the pixels
  Put32(file, 10, 1078 + 12);
  const Bitmap at_offset = ReadBmp(file);
  EXPECT_EQ(RowOf(at_offset, 0), RowOf(Sample8(4, 2), 0));
  const Bitmap after_table = ReadBmp(file, BmpPixelPlacement::kAfterColourTable);
  EXPECT_EQ(after_table.Row(1)[0], 0xEE);  // the gap, read as the bottom row
}

TEST(BmpReader, AnImpliedColourTableEndsWherePixelsBegin) {
  // biClrUsed 0 implies 256 entries, but only 2 fit before bfOffBits.
  const Bytes file = Craft(8, 1, 8, 0, {0xFF0000, 0x00FF00}, {1, 0, 1, 0, 1, 0, 1, 0});
  Bytes implied = file;
  Put32(implied, 46, 0);
  const Bitmap b = ReadBmp(implied);
  ASSERT_EQ(b.GetPalette().size(), 2u);
  EXPECT_EQ(b.GetPalette()[1], (PaletteEntry{0, 255, 0, 0}));
  EXPECT_EQ(b.Row(0)[0], 1);
}

TEST(BmpReader, RunsPastTheRowAreClippedAndDoNotWrap) {
  const Bytes rle = {6, 9, 0, 0,              // bottom row: 6 x 9 into 4 columns
                     0, 3, 1, 2, 3, 0, 0, 0,  // absolute 1 2 3, padded to a word
                     2, 7, 0, 1};             // 7 7, end of bitmap
  const Bitmap b = ReadBmp(Craft(4, 3, 8, 1, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, rle));
  EXPECT_EQ(RowOf(b, 2), (Bytes{9, 9, 9, 9}));
  EXPECT_EQ(RowOf(b, 1), (Bytes{1, 2, 3, 0}));
  EXPECT_EQ(RowOf(b, 0), (Bytes{7, 7, 0, 0}));
}

TEST(BmpReader, DeltasSkipPixelsAndLeavingThePictureEndsDecoding) {
  const Bytes rle = {1, 5, 0, 2,   2, 1, 1, 6,  // 5, then two right and one up: 6
                     0, 2, 0, 200, 1, 8,        // far above the picture: stop
                     0, 1};
  const Bitmap b = ReadBmp(Craft(4, 2, 8, 1, {0, 0, 0, 0, 0, 0, 0, 0, 0}, rle));
  EXPECT_EQ(RowOf(b, 1), (Bytes{5, 0, 0, 0}));
  EXPECT_EQ(RowOf(b, 0), (Bytes{0, 0, 0, 6}));
}

TEST(BmpReader, RunLengthFourBitsAlternatesNibbles) {
  const Bytes rle = {5, 0x12, 0, 3, 0x34, 0x50, 0, 1};  // 1 2 1 2 1, then 3 4 5
  const Bitmap b = ReadBmp(Craft(8, 1, 4, 2, std::vector<std::uint32_t>(6, 0), rle));
  EXPECT_EQ(b.Format(), PixelFormat::k4Bit);
  EXPECT_EQ(RowOf(b, 0), (Bytes{0x12, 0x12, 0x13, 0x45}));
}

TEST(BmpReader, RunLengthDataEndingEarlyIsAnError) {
  const std::vector<std::uint32_t> table(4, 0);
  EXPECT_NE(ErrorOf(Craft(4, 2, 8, 1, table, {2, 7, 0, 0})).find("run-length"), std::string::npos);
  EXPECT_NE(ErrorOf(Craft(4, 2, 8, 1, table, {0, 4, 1, 2})), "");  // literal cut short
}

TEST(BmpReader, BitFieldChannelsRoundToTheNearest) {
  // 0x8410 in 5-6-5 holds red 16/31, green 32/63, blue 16/31: 131.6 -> 132, 129.5 -> 130.
  const Bytes pixels = {0xFF, 0xFF, 0x10, 0x84};
  const Bitmap b = ReadBmp(Craft(2, 1, 16, 3, {}, pixels, {0xF800, 0x07E0, 0x001F}));
  EXPECT_EQ(b.Format(), PixelFormat::k24Bit);
  EXPECT_EQ(RowOf(b, 0), (Bytes{255, 255, 255, 132, 130, 132}));
  // A 12-bit red channel: 2048/4095 x 255 = 127.5 -> 128; green and blue absent.
  const Bitmap wide = ReadBmp(Craft(1, 1, 32, 3, {}, {0, 0, 0, 0x80}, {0xFFF00000, 0, 0}));
  EXPECT_EQ(RowOf(wide, 0), (Bytes{0, 0, 128}));
}

TEST(BmpReader, CorruptHeadersAreRefusedWithTheirReason) {
  const Bytes good = EncodeBmp(Sample8(4, 2));
  Bytes bad_mask = Craft(1, 1, 16, 3, {}, {0, 0, 0, 0}, {0x0F0F, 0x00F0, 0});
  EXPECT_NE(ErrorOf(bad_mask).find("not contiguous"), std::string::npos);
  Bytes into_headers = good;
  Put32(into_headers, 10, 30);
  EXPECT_NE(ErrorOf(into_headers).find("points into the headers"), std::string::npos);
  Bytes signature = good;
  signature[1] = 'A';
  EXPECT_NE(ErrorOf(signature).find("BM"), std::string::npos);
  EXPECT_NE(ErrorOf(Bytes(good.begin(), good.begin() + 10)), "");
  Bytes rle_bits = Craft(4, 1, 4, 1, {0}, {0, 1});
  EXPECT_NE(ErrorOf(rle_bits).find("not supported"), std::string::npos);
  Bytes cut = good;
  cut.resize(cut.size() - 5);
  EXPECT_NE(ErrorOf(cut).find("truncated"), std::string::npos);
}

TEST(BmpReader, OversizedPicturesAreRefusedBeforeAllocating) {
  const Bytes tiny = {0, 0, 0, 0};
  EXPECT_NE(ErrorOf(Craft(65536, 1, 24, 0, {}, tiny)).find("larger than supported"),
            std::string::npos);
  EXPECT_NE(ErrorOf(Craft(1, -65536, 24, 0, {}, tiny)).find("larger than supported"),
            std::string::npos);
  EXPECT_NE(ErrorOf(Craft(20000, 20000, 8, 1, {}, {0, 1})).find("larger than supported"),
            std::string::npos);
  // Just inside the limits, the missing pixels are what fails.
  EXPECT_NE(ErrorOf(Craft(16384, 4096, 24, 0, {}, tiny)).find("truncated"), std::string::npos);
}

}  // namespace
}  // namespace tessaly
