// The PNG file functions: what SaveBitmapAsPNG writes, the safe replace, and file loading.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cstring>
#include <ctime>
#include <fstream>
#include <stdexcept>

#include "base/errors.h"
#include "base/files.h"
#include "picture_files/png_image.h"
#include "picture_files/png_io.h"
#include "png_helpers.h"

namespace tessaly {
namespace {

using test::Bytes;

Bitmap GreyRampBitmap(int width, int height) {
  Bitmap bitmap;
  bitmap.SetFormat(PixelFormat::k8Bit);
  bitmap.SetPalette(GreyRamp());
  bitmap.SetSize(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) bitmap.Row(y)[x] = static_cast<std::uint8_t>(x * 3 + y * y);
  }
  return bitmap;
}

std::vector<std::string> ChunkLabels(const Bytes& png) {
  std::vector<std::string> labels;
  for (const auto& chunk : test::ParseChunks(png)) {
    std::string label = chunk.type;
    if (chunk.type == "tEXt") {
      label += " " + std::string(chunk.data.begin(), chunk.data.end());
      label[label.find('\0')] = '=';
    }
    labels.push_back(label);
  }
  return labels;
}

void WriteText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string ReadText(const std::filesystem::path& path) {
  const Bytes bytes = ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

TEST(SaveBitmapAsPng, WritesTheChunksInOrderWithTheSaveSettings) {
  test::TempFolder folder;
  const auto file = folder.path() / "out.png";
  const Bitmap bitmap = GreyRampBitmap(300, 200);
  ASSERT_TRUE(SaveBitmapAsPNG(bitmap, file, "Me", " \t", "   ", " Title "));
  const Bytes png = ReadFileBytes(file);
  EXPECT_EQ(ChunkLabels(png),
            (std::vector<std::string>{"IHDR", "tEXt Author=Me", "tEXt Title= Title ", "IDAT",
                                      "tIME", "IEND"}));
  const auto chunks = test::ParseChunks(png);
  EXPECT_EQ(chunks[0].data[8], 8);  // bit depth
  EXPECT_EQ(chunks[0].data[9], 0);  // grey ramp: colour type 0, no PLTE

  // Level 4 with the run-length strategy, which zlib marks as its fastest kind (FLEVEL 0; the
  // default strategy at level 4 would say 1); every row uses none, sub or Paeth.
  const Bytes& idat = chunks[3].data;
  EXPECT_EQ(idat[1] >> 6, 0);
  Bytes raw(static_cast<std::size_t>(301 * 200));
  uLongf size = static_cast<uLongf>(raw.size());
  ASSERT_EQ(uncompress(raw.data(), &size, idat.data(), static_cast<uLong>(idat.size())), Z_OK);
  for (int y = 0; y < 200; ++y)
    EXPECT_TRUE(raw[y * 301] == 0 || raw[y * 301] == 1 || raw[y * 301] == 4);

  // tIME in UTC.
  const Bytes& time = chunks[4].data;
  std::tm stamp{};
  stamp.tm_year = ((time[0] << 8) | time[1]) - 1900;
  stamp.tm_mon = time[2] - 1;
  stamp.tm_mday = time[3];
  stamp.tm_hour = time[4];
  stamp.tm_min = time[5];
  stamp.tm_sec = time[6];
  EXPECT_LT(std::abs(std::difftime(std::time(nullptr), timegm(&stamp))), 120.0);

  std::string report;
  EXPECT_EQ(test::RunPngcheck(file, &report), 0) << report;

  Bitmap back;
  LoadPNGIntoBitmap(back, file, false);
  EXPECT_EQ(back.Format(), PixelFormat::k8Bit);
  EXPECT_EQ(std::memcmp(back.Row(199), bitmap.Row(199), 300), 0);
}

TEST(SaveBitmapAsPng, AChangedPaletteEntryMakesAPalettePicture) {
  Bitmap bitmap = GreyRampBitmap(20, 10);
  Palette palette = GreyRamp();
  palette[7] = {7, 8, 7, 0};
  bitmap.SetPalette(palette);
  const Bytes png = EncodeBitmapAsPNG(bitmap, "", "", "Tessaly", "");
  const auto chunks = test::ParseChunks(png);
  EXPECT_EQ(chunks[0].data[9], 3);
  ASSERT_EQ(chunks[1].type, "PLTE");
  EXPECT_EQ(chunks[1].data.size(), 256u * 3);
  EXPECT_EQ(ChunkLabels(png)[2], "tEXt Software=Tessaly");

  Bitmap back;
  LoadPNGFromMemory(back, png, false);
  EXPECT_EQ(back.GetPalette(), palette);
  EXPECT_EQ(std::memcmp(back.Row(9), bitmap.Row(9), 20), 0);

  Bitmap colour;
  colour.SetSize(5, 4);
  colour.FillRect({1, 1, 3, 3}, MakeColor(10, 200, 30));
  const Bytes rgb = EncodeBitmapAsPNG(colour, "", "", "", "");
  EXPECT_EQ(test::ParseChunks(rgb)[0].data[9], 2);
  LoadPNGFromMemory(back, rgb, true);
  EXPECT_EQ(back.PixelColor(2, 2), MakeColor(10, 200, 30));
}

TEST(SaveBitmapAsPng, LongTextsAreWrittenWhole) {
  test::TempFolder folder;
  const std::string description(30000, 'd');
  SaveBitmapAsPNG(GreyRampBitmap(8, 8), folder.path() / "t.png", "", description, "", "");
  TPngImage image;
  image.LoadFromFile(folder.path() / "t.png");
  EXPECT_EQ(image.Description, description);
  std::string report;
  EXPECT_EQ(test::RunPngcheck(folder.path() / "t.png", &report), 0) << report;
}

TEST(SaveBitmapAsPng, UnsupportedFormatCreatesNothing) {
  test::TempFolder folder;
  Bitmap bitmap;
  bitmap.SetFormat(PixelFormat::k16Bit);
  bitmap.SetSize(4, 4);
  try {
    SaveBitmapAsPNG(bitmap, folder.path() / "x.png", "", "", "", "");
    ADD_FAILURE() << "no exception";
  } catch (const InvalidGraphicOperation& e) {
    EXPECT_STREQ(e.what(), "Unsupported bitmap format");
  }
  EXPECT_TRUE(folder.Names().empty());
}

TEST(SaveBitmapAsPng, AFailedSaveLeavesTheTargetAndNoTemporaryFile) {
  test::TempFolder folder;
  const Bitmap bitmap = GreyRampBitmap(30, 30);
  EXPECT_THROW(SaveBitmapAsPNG(bitmap, folder.path() / "missing" / "x.png", "", "", "", ""), Error);

  const auto target = folder.path() / "x.png";
  WriteText(target, "old picture");
  const PngProgressHandler failing = [](TPngImage&, ProgressStage stage, std::uint8_t, bool,
                                        const Rect&, const std::string&) {
    if (stage == ProgressStage::kEnding) throw std::runtime_error("disk gone");
  };
  EXPECT_THROW(SaveBitmapAsPNG(bitmap, target, "", "", "", "", failing), std::runtime_error);
  EXPECT_EQ(ReadText(target), "old picture");

  // A folder in the target's place makes the final rename fail.
  std::filesystem::create_directory(folder.path() / "d.png");
  EXPECT_THROW(SaveBitmapAsPNG(bitmap, folder.path() / "d.png", "", "", "", ""), Error);
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"d.png", "x.png"}));
}

TEST(SaveBitmapAsPng, ReplacesAnExistingFileKeepingItsPermissions) {
  test::TempFolder folder;
  const auto target = folder.path() / "x.png";
  WriteText(target, std::string(100000, 'z'));
  ::chmod(target.c_str(), 0640);
  SaveBitmapAsPNG(GreyRampBitmap(30, 30), target, "", "", "", "");
  std::string report;
  EXPECT_EQ(test::RunPngcheck(target, &report), 0) << report;
  struct stat info {};
  ASSERT_EQ(::stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"x.png"});
}

TEST(LoadPngIntoBitmap, FailuresLeaveTheBitmapAlone) {
  test::TempFolder folder;
  Bitmap bitmap = GreyRampBitmap(6, 5);
  const Bitmap before = bitmap;
  try {
    LoadPNGIntoBitmap(bitmap, folder.path() / "none.png", false);
    ADD_FAILURE() << "no exception";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("none.png"), std::string::npos);
  }
  WriteText(folder.path() / "fake.png", "GIF89a......");
  EXPECT_THROW(LoadPNGIntoBitmap(bitmap, folder.path() / "fake.png", false), Error);
  EXPECT_EQ(bitmap.Width(), 6);
  EXPECT_EQ(std::memcmp(bitmap.Row(4), before.Row(4), 6), 0);
}

}  // namespace
}  // namespace tessaly
