// TExtBitmap's repairing loader and the bitmap services: image conversions,
// resampling rules and messages, the grey palette and the histogram.
#include "picture_files/ext_bitmap.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "base/errors.h"
#include "picture_files/bmp_reader.h"
#include "support/bmp_writer.h"

namespace tessaly {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bitmap Pattern8(int width, int height) {
  Bitmap b;
  b.SetFormat(PixelFormat::k8Bit);
  Palette palette(256);
  for (int i = 0; i < 256; ++i) palette[i] = {std::uint8_t(i), std::uint8_t(i / 2), 9, 0};
  b.SetPalette(palette);
  b.SetSize(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) b.Row(y)[x] = static_cast<std::uint8_t>((x * 3 + y * 5) % 199);
  return b;
}

Bitmap Pattern24(int width, int height) {
  Bitmap b;
  b.SetSize(width, height);
  for (int y = 0; y < height; ++y)
    for (std::size_t i = 0; i < b.RowBytes(); ++i)
      b.Row(y)[i] = static_cast<std::uint8_t>(i * 11 + y);
  return b;
}

bool SamePixels(const Bitmap& a, const Bitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.Format() != b.Format()) return false;
  for (int y = 0; y < a.Height(); ++y)
    if (!std::equal(a.Row(y), a.Row(y) + a.RowBytes(), b.Row(y))) return false;
  return true;
}

std::uint32_t U32At(const Bytes& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t{b[at + 3]} << 24);
}

TExtBitmap Load(const Bytes& bytes, std::size_t position = 0) {
  TExtBitmap bitmap;
  ByteStream stream(bytes, position);
  bitmap.LoadFromStream(stream);
  return bitmap;
}

void SetPixelOffset(Bytes& file, std::uint32_t offset) {
  for (int i = 0; i < 4; ++i) file[10 + i] = static_cast<std::uint8_t>(offset >> (8 * i));
}

// A frame written with a 256-entry table under an announced count, and 16 bytes
// between table and pixels that bfOffBits steps over.
Bytes QuirkFileWithGap(const Bitmap& frame, std::uint32_t announced) {
  Bytes file = EncodeBmp(frame, {.announced_colours = announced});
  file.insert(file.begin() + 1078, 16, 0xEE);
  SetPixelOffset(file, 1078 + 16);
  return file;
}

class PaletteRepair : public testing::TestWithParam<std::uint32_t> {};

TEST_P(PaletteRepair, CutsTheUnannouncedEntriesAndReadsPixelsAfterTheTable) {
  const std::uint32_t n = GetParam();
  const Bitmap frame = Pattern8(6, 4);
  const Bytes file = EncodeBmp(frame, {.announced_colours = n});
  const RepairedBmp repaired = RepairBmpHeaders(file);
  ASSERT_EQ(repaired.repair, BmpRepair::kPalette);
  ASSERT_EQ(repaired.bytes.size(), file.size() - (256 - n) * 4);
  EXPECT_TRUE(std::equal(file.begin(), file.begin() + 54 + n * 4, repaired.bytes.begin()));
  EXPECT_EQ(U32At(repaired.bytes, 10), 1078u);  // stale, as the repair leaves it
  EXPECT_TRUE(std::equal(file.begin() + 1078, file.end(), repaired.bytes.begin() + 54 + n * 4));

  const TExtBitmap loaded = Load(file);
  EXPECT_TRUE(SamePixels(loaded, frame));
  ASSERT_EQ(loaded.GetPalette().size(), n);
  EXPECT_EQ(loaded.GetPalette()[n - 1], frame.GetPalette()[n - 1]);
  EXPECT_TRUE(loaded.Modified());
}

TEST_P(PaletteRepair, TheRepairedReaderIgnoresBfOffBits) {
  // Pixels straight after the table: the 16 gap bytes become the bottom row.
  const TExtBitmap loaded = Load(QuirkFileWithGap(Pattern8(6, 4), GetParam()));
  EXPECT_EQ(loaded.Row(3)[0], 0xEE);
}

TEST_P(PaletteRepair, TheFileLengthTellsAStoredFullTableFromAnHonestShortOne) {
  // bfOffBits counts all 256 entries or only the announced ones; neither tells whether the
  // file stores the full table. A 2080-wide frame, as the receivers write them.
  const std::uint32_t n = GetParam();
  const Bitmap frame = Pattern8(2080, 3);
  const Bytes full_table = EncodeBmp(frame, {.announced_colours = n});
  Bytes counts_announced = full_table;
  SetPixelOffset(counts_announced, 54 + n * 4);
  // A valid file that stores exactly the announced entries: cutting would eat pixel rows.
  Bytes honest = full_table;
  honest.erase(honest.begin() + 54 + n * 4, honest.begin() + 1078);
  SetPixelOffset(honest, 54 + n * 4);

  for (const auto& [name, file, repair] :
       {std::tuple{"256 entries, offset 1078", full_table, BmpRepair::kPalette},
        std::tuple{"256 entries, offset after the announced ones", counts_announced,
                   BmpRepair::kPalette},
        std::tuple{"announced entries only", honest, BmpRepair::kNone}}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(RepairBmpHeaders(file).repair, repair);
    const TExtBitmap loaded = Load(file);
    EXPECT_TRUE(SamePixels(loaded, frame));
    ASSERT_EQ(loaded.GetPalette().size(), n);
    EXPECT_EQ(loaded.GetPalette()[n - 1], frame.GetPalette()[n - 1]);
  }
}

TEST_P(PaletteRepair, AFileTooShortForItsPixelsFails) {
  Bytes file = EncodeBmp(Pattern8(4, 4), {.announced_colours = GetParam()});
  file.resize(1077);
  EXPECT_THROW(Load(file), Error);
}

INSTANTIATE_TEST_SUITE_P(AnnouncedColours, PaletteRepair, testing::Values(200u, 224u));

TEST(ImageSizeRepair, SetsBiSizeImageOfA2080WideFrame) {
  const Bitmap frame = Pattern8(2080, 3);
  const Bytes file = EncodeBmp(frame, {.omit_size_image = true});
  const RepairedBmp repaired = RepairBmpHeaders(file);
  ASSERT_EQ(repaired.repair, BmpRepair::kImageSize);
  EXPECT_EQ(U32At(repaired.bytes, 34), 2080u * 3);
  Bytes expected = file;
  std::copy(repaired.bytes.begin() + 34, repaired.bytes.begin() + 38, expected.begin() + 34);
  EXPECT_EQ(repaired.bytes, expected);  // nothing else changes
  EXPECT_TRUE(SamePixels(Load(file), frame));
  // A correct size, or another width, needs no repair.
  EXPECT_EQ(RepairBmpHeaders(EncodeBmp(frame)).repair, BmpRepair::kNone);
  EXPECT_EQ(RepairBmpHeaders(EncodeBmp(Pattern8(2079, 3), {.omit_size_image = true})).repair,
            BmpRepair::kNone);
}

TEST(ImageSizeRepair, GivesWayToThePaletteRepair) {
  const Bytes file =
      EncodeBmp(Pattern8(2080, 2), {.announced_colours = 224, .omit_size_image = true});
  const RepairedBmp repaired = RepairBmpHeaders(file);
  EXPECT_EQ(repaired.repair, BmpRepair::kPalette);
  EXPECT_EQ(U32At(repaired.bytes, 34), 0u);
}

TEST(RepairingLoader, AStreamNotAtItsStartIsReadFromThereUnrepaired) {
  const Bitmap frame = Pattern8(6, 4);
  Bytes data(10, 0x55);
  const Bytes file = QuirkFileWithGap(frame, 200);
  data.insert(data.end(), file.begin(), file.end());
  const TExtBitmap loaded = Load(data, 10);
  EXPECT_TRUE(SamePixels(loaded, frame));           // bfOffBits honoured: no repair
  EXPECT_THROW(Load(EncodeBmp(frame), 10), Error);  // no BMP starts at 10
}

TEST(RepairingLoader, AFailedLoadLeavesTheBitmapAsItWas) {
  TExtBitmap bitmap = Load(EncodeBmp(Pattern8(5, 5)));
  Bytes broken = EncodeBmp(Pattern8(9, 9));
  broken.resize(1100);
  ByteStream stream(broken);
  EXPECT_THROW(bitmap.LoadFromStream(stream), Error);
  EXPECT_TRUE(SamePixels(bitmap, Pattern8(5, 5)));
}

TEST(RepairingLoader, LoadsFilesAndReportsMissingOnes) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("tessaly_bmp_load_test-" + std::to_string(::getpid()) + ".bmp");
  const Bytes file = EncodeBmp(Pattern24(7, 3));
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  TExtBitmap bitmap;
  bitmap.LoadFromFile(path);
  EXPECT_TRUE(SamePixels(bitmap, Pattern24(7, 3)));
  std::filesystem::remove(path);
  EXPECT_THROW(bitmap.LoadFromFile(path), Error);
}

TEST(Histogram, ClearZeroesBinsFirstAndThirdStatisticsAndFlag) {
  TExtBitmap bitmap;
  TkovHistogram& h = bitmap.Histogram();
  ASSERT_EQ(h.BinCount(), 256);
  h.Bins()[17] = 4;
  h.statistics = {1, 2, 3, 4};
  h.flag = true;
  h.Clear();
  EXPECT_EQ(h.Bins()[17], 0);
  EXPECT_EQ(h.statistics, (std::array<std::int32_t, 4>{0, 2, 0, 4}));
  EXPECT_FALSE(h.flag);
}

std::string MessageOf(Bitmap& b, int width, int height) {
  try {
    Interpolate(b, width, height);
  } catch (const InvalidGraphicOperation& e) {
    return e.what();
  }
  return "";
}

TEST(Interpolate, LeavesSmallOrUnchangedPicturesAlone) {
  Bitmap same = Pattern8(20, 10);
  Interpolate(same, 20, 10);
  EXPECT_FALSE(same.Modified());
  Bitmap low = Pattern8(40, 2);
  Interpolate(low, 100, 1);
  EXPECT_TRUE(SamePixels(low, Pattern8(40, 2)));
  Bitmap narrow = Pattern8(2, 40);
  Interpolate(narrow, 1, 100);
  EXPECT_TRUE(SamePixels(narrow, Pattern8(2, 40)));
}

TEST(Interpolate, DirectionIsCheckedBeforeFormatAndFailuresChangeNothing) {
  const std::string direction =
      "Error: Interpolate called with increase width and reduce height or vice-versa.";
  const std::string format = "Error: Interpolate called without 8-bit or 24-bit pixels.";
  Bitmap b = Pattern8(100, 50);
  EXPECT_EQ(MessageOf(b, 120, 40), direction);
  EXPECT_TRUE(SamePixels(b, Pattern8(100, 50)));
  Bitmap hi;
  hi.SetFormat(PixelFormat::k16Bit);
  hi.SetSize(100, 50);
  EXPECT_EQ(MessageOf(hi, 120, 40), direction);
  EXPECT_EQ(MessageOf(hi, 200, 100), format);
  EXPECT_EQ(hi.Width(), 100);
  EXPECT_THROW(Interpolate(b, -4, 10), Error);  // the temporary image is released
  EXPECT_TRUE(SamePixels(b, Pattern8(100, 50)));
}

TEST(Interpolate, EqualSideShrinksByAreaAveragingOtherwiseCubicZoom) {
  Bitmap wide = Pattern8(1000, 6);
  const Palette palette = wide.GetPalette();
  Bitmap decimated = Pattern8(800, 6), zoomed = Pattern8(800, 6);
  const IplImagePtr src = MakeIPL(wide);
  IplImagePtr d = MakeIPL(decimated), z = MakeIPL(zoomed);
  iplDecimate(src.get(), d.get(), 800, 1000, 6, 6, kIplInterSuper);
  iplZoom(src.get(), z.get(), 800, 1000, 6, 6, kIplInterCubic);
  IPLToBitmap(decimated, d.get());
  IPLToBitmap(zoomed, z.get());
  Interpolate(wide, 800, 6);
  EXPECT_TRUE(SamePixels(wide, decimated));
  EXPECT_FALSE(SamePixels(wide, zoomed));
  EXPECT_EQ(wide.GetPalette(), palette);
  EXPECT_TRUE(wide.Modified());

  Bitmap colour = Pattern24(10, 10);
  Interpolate(colour, 20, 15);
  EXPECT_EQ(colour.Format(), PixelFormat::k24Bit);
  EXPECT_EQ(colour.Width(), 20);
  EXPECT_EQ(colour.Height(), 15);
}

TEST(MakeFramedIPL, PlacesTheBitmapAtItsOffsets) {
  const Bitmap b = Pattern8(6, 5);
  const IplImagePtr up = MakeFramedIPL(b, 6, 5, 0, -2);
  EXPECT_TRUE(std::equal(b.Row(2), b.Row(2) + 6, IplRow8(up.get(), 0)));
  EXPECT_EQ(IplRow8(up.get(), 3)[0], 0);  // not covered
  const IplImagePtr left = MakeFramedIPL(b, 6, 5, -2, 0);
  EXPECT_TRUE(std::equal(b.Row(1) + 2, b.Row(1) + 6, IplRow8(left.get(), 1)));
  const IplImagePtr right = MakeFramedIPL(b, 8, 5, 2, 0);
  EXPECT_EQ(IplRow8(right.get(), 1)[1], 0);
  EXPECT_TRUE(std::equal(b.Row(1), b.Row(1) + 4, IplRow8(right.get(), 1) + 2));
  const IplImagePtr beyond = MakeFramedIPL(b, 6, 5, 6, 0);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x) EXPECT_EQ(IplRow8(beyond.get(), y)[x], 0);
  const IplImagePtr narrow = MakeFramedIPL(b, 3, 5, 0, 0);  // clipped, no overrun
  EXPECT_TRUE(std::equal(b.Row(4), b.Row(4) + 3, IplRow8(narrow.get(), 4)));
}

TEST(MakeIPL, MirrorsEightAndTwentyFourBitBitmaps) {
  const IplImagePtr grey = MakeIPL(Pattern8(5, 3));
  EXPECT_EQ(grey->nChannels, 1);
  EXPECT_EQ(std::string(grey->colorModel, 4), std::string("GRAY"));
  EXPECT_EQ(grey->widthStep % 8, 0);
  const Bitmap colour = Pattern24(5, 3);
  const IplImagePtr bgr = MakeIPL(colour);
  EXPECT_EQ(bgr->nChannels, 3);
  EXPECT_EQ(std::string(bgr->channelSeq, 3), "BGR");
  EXPECT_TRUE(std::equal(colour.Row(2), colour.Row(2) + 15, IplRow8(bgr.get(), 2)));

  Bitmap hi;
  hi.SetFormat(PixelFormat::k16Bit);
  EXPECT_EQ(MakeIPL(hi).get(), nullptr);  // 0 wide: the format is not looked at
  hi.SetSize(4, 4);
  try {
    MakeIPL(hi);
    ADD_FAILURE();
  } catch (const InvalidGraphicOperation& e) {
    EXPECT_STREQ(e.what(), "Error: MakeIPL or MakeFramedIPL called without 8 or 24-bit pixels.");
  }
}

TEST(IPLToBitmap, TakesSizeChannelsAndPixelsAndKeepsThePalette) {
  Bitmap target = Pattern8(2, 2);
  target.SetPalette(GreyRamp());
  IPLToBitmap(target, nullptr);
  EXPECT_TRUE(SamePixels(target, Pattern8(2, 2)));
  const Bitmap source = Pattern8(7, 4);
  IPLToBitmap(target, MakeIPL(source).get());
  EXPECT_TRUE(SamePixels(target, source));
  EXPECT_EQ(target.GetPalette(), GreyRamp());
  IPLToBitmap(target, MakeIPL(Pattern24(3, 3)).get());
  EXPECT_TRUE(SamePixels(target, Pattern24(3, 3)));
}

TEST(SetGreyPalette, InstallsTheRampOnlyWhereNeeded) {
  Bitmap colour = Pattern24(4, 4);
  SetGreyPalette(colour);
  EXPECT_FALSE(colour.HasPalette());
  EXPECT_FALSE(colour.Modified());
  Bitmap grey = Pattern8(4, 4);
  grey.SetPalette(GreyRamp());
  SetGreyPalette(grey);
  EXPECT_FALSE(grey.Modified());
  Bitmap small = Pattern8(4, 4);
  small.SetPalette(Palette(16, PaletteEntry{1, 2, 3, 0}));
  SetGreyPalette(small);
  EXPECT_EQ(small.GetPalette(), GreyRamp());
  EXPECT_TRUE(small.Modified());
  EXPECT_TRUE(SamePixels(small, Pattern8(4, 4)));
}

}  // namespace
}  // namespace tessaly
