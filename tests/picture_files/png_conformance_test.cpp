// The PNG codec against the PNG conformance suite and its stored-sample references, and the
// codec's gamma handling.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "base/errors.h"
#include "picture_files/png_chunks.h"
#include "picture_files/png_image.h"
#include "picture_files/png_io.h"
#include "picture_store/grey.h"
#include "png_helpers.h"
#include "support/manifest.h"
#include "support/sha256.h"

namespace tessaly {
namespace {

using test::Bytes;

std::uint8_t LumaOf(Color c) {
  return static_cast<std::uint8_t>(
      (299 * ColorRed(c) + 587 * ColorGreen(c) + 114 * ColorBlue(c) + 500) / 1000);
}

// The grey reference of a bitmap, through the colour of each pixel.
std::string BitmapGreySha(const Bitmap& bitmap) {
  Bytes grey;
  for (int y = 0; y < bitmap.Height(); ++y) {
    for (int x = 0; x < bitmap.Width(); ++x) grey.push_back(LumaOf(bitmap.PixelColor(x, y)));
  }
  return test::Sha256Hex(grey);
}

void Decode(TPngImage& image, const Bytes& data, bool expand) {
  image.ExpandToRGB = expand;
  image.GammaCorrection = false;  // the references hold the stored samples
  image.LoadFromMemory(data);
}

// Checks the sample buffer, then the bitmap of both ExpandToRGB settings wherever the bitmap
// holds the stored colours (no alpha to blend, a palette kept).
void CheckDecodable(const test::ManifestEntry& entry, const Bytes& data) {
  TPngImage expanded;
  Decode(expanded, data, true);
  EXPECT_EQ(expanded.Width, static_cast<std::uint32_t>(entry.width));
  EXPECT_EQ(expanded.Height, static_cast<std::uint32_t>(entry.height));
  if (!entry.grey_sha256.empty()) {
    EXPECT_EQ(test::Sha256Hex(PngGreyBytes(expanded)), entry.grey_sha256);
  }

  TPngImage plain;
  Decode(plain, data, false);
  for (const TPngImage* image : {&expanded, &plain}) {
    Bitmap bitmap;
    image->CopyToBitmap(bitmap, 0, 0);
    EXPECT_EQ(bitmap.Width(), entry.width);
    EXPECT_EQ(bitmap.Height(), entry.height);
    const bool lost_palette =
        image->ColorType == 3 && image->Channels == 1 && image->PaletteCount == 0;
    if (image->Channels != 4 && !lost_palette && !entry.grey_sha256.empty()) {
      EXPECT_EQ(BitmapGreySha(bitmap), entry.grey_sha256) << "ExpandToRGB " << image->ExpandToRGB;
    }
  }
}

// LoadIntoGrey8 decodes row by row (pass by pass when interlaced) what the whole decode,
// CopyToBitmap and ToGrey8 give, the processing's loader before it; or fails as that fails.
void CheckLoadedIntoGrey8(const Bytes& data, bool expand, bool gamma) {
  SCOPED_TRACE("ExpandToRGB " + std::to_string(expand) + ", gamma " + std::to_string(gamma));
  auto start = [&](TPngImage& image, Bitmap& bitmap) {
    image.ExpandToRGB = expand;
    image.GammaCorrection = gamma;
    image.IgnoreAlpha = true;
    bitmap.SetFormat(PixelFormat::k8Bit);
    bitmap.SetPalette(GreyRamp());
  };
  TPngImage whole, rows;
  Bitmap expected, loaded;
  start(whole, expected);
  start(rows, loaded);
  try {
    whole.LoadFromMemory(data);
  } catch (const Error&) {
    EXPECT_THROW(rows.LoadIntoGrey8(data, loaded), Error);
    return;
  }
  whole.CopyToBitmap(expected, 0, 0);
  if (expected.Format() != PixelFormat::k8Bit) expected.Assign(ToGrey8(expected));
  rows.LoadIntoGrey8(data, loaded);
  ASSERT_EQ(loaded.Format(), PixelFormat::k8Bit);
  ASSERT_EQ(loaded.Width(), expected.Width());
  ASSERT_EQ(loaded.Height(), expected.Height());
  EXPECT_EQ(loaded.GetPalette(), expected.GetPalette());
  EXPECT_EQ(loaded.Transparent(), expected.Transparent());
  for (int y = 0; y < loaded.Height(); ++y) {
    ASSERT_EQ(std::memcmp(loaded.Row(y), expected.Row(y), loaded.RowBytes()), 0) << "row " << y;
  }
}

// A file that decodes is sound read whole, interlaced or not, whatever its kind; a byte flipped
// anywhere past the signature, or the file cut short, is found.
void CheckSoundness(const Bytes& data) {
  auto sound = [](std::span<const std::uint8_t> bytes) {
    PngChunkReader png(bytes);
    return IsSoundPng(png);
  };
  EXPECT_TRUE(sound(data));
  Bytes flipped = data;
  flipped[8 + (data.size() - 8) * 2 / 3] ^= 0x10;
  EXPECT_FALSE(sound(flipped));
  const std::span<const std::uint8_t> cut(data.data(), data.size() - 1);
  EXPECT_FALSE(PngChunkReader(cut).EndsWithEnd());
  EXPECT_FALSE(sound(cut));
}

TEST(PngConformance, EveryManifestFileIsReadAsItSays) {
  const auto entries = test::ReadManifest(test::CorpusDir("pngsuite") + "/manifest.tsv");
  int decoded = 0, refused = 0;
  for (const auto& entry : entries) {
    SCOPED_TRACE(entry.file);
    const Bytes data = test::SuiteFile(entry.file);
    for (const bool expand : {false, true}) {
      for (const bool gamma : {false, true}) CheckLoadedIntoGrey8(data, expand, gamma);
    }
    if (entry.expect == "error") {
      TPngImage image;
      EXPECT_THROW(Decode(image, data, true), Error);
      ++refused;
    } else if (entry.expect == "decode") {
      CheckDecodable(entry, data);
      CheckSoundness(data);
      ++decoded;
    } else {
      ADD_FAILURE() << "the PNG manifest has no 'either' files: " << entry.expect;
    }
  }
  EXPECT_EQ(decoded + refused, static_cast<int>(entries.size()));
  EXPECT_EQ(decoded, 161);
  EXPECT_EQ(refused, 14);
  std::printf("PNG suite: %d files decoded as the manifest says, %d refused\n", decoded, refused);
}

TEST(PngGamma, IsOnByDefaultAndCorrectsByTheFileGamma) {
  EXPECT_TRUE(TPngImage().GammaCorrection);
  // basn0g08 carries gAMA 1.0: with screen gamma 2.2 each sample becomes
  // 255 x (v / 255)^(1 / 2.2), rounded.
  const Bytes data = test::SuiteFile("basn0g08.png");
  TPngImage stored, corrected;
  Decode(stored, data, false);
  corrected.ExpandToRGB = false;
  corrected.LoadFromMemory(data);
  EXPECT_DOUBLE_EQ(corrected.FileGamma, 1.0);
  EXPECT_DOUBLE_EQ(corrected.ScreenGamma, 2.2);
  ASSERT_EQ(stored.Pixels.size(), corrected.Pixels.size());
  EXPECT_NE(stored.Pixels, corrected.Pixels);
  for (std::size_t i = 0; i < stored.Pixels.size(); ++i) {
    const double expected = 255.0 * std::pow(stored.Pixels[i] / 255.0, 1.0 / 2.2);
    ASSERT_NEAR(corrected.Pixels[i], expected, 1.0) << "sample " << i;
  }
  // The file functions decode with the default.
  Bitmap bitmap;
  LoadPNGFromMemory(bitmap, data, false);
  EXPECT_EQ(std::memcmp(bitmap.Row(5), corrected.Rows[5], 32), 0);
}

TEST(PngGamma, PicturesWithoutGamaOrNearTheScreenGammaKeepTheirSamples) {
  // Without gAMA the assumed 0.45455 meets the screen's 2.2; gAMA 0.45 comes within libpng's
  // threshold too. Either way the samples stay as stored.
  for (const char* name : {"f00n0g08.png", "z06n2c08.png", "g04n2c08.png"}) {
    SCOPED_TRACE(name);
    const Bytes data = test::SuiteFile(name);
    TPngImage stored, corrected;
    Decode(stored, data, true);
    corrected.LoadFromMemory(data);
    EXPECT_EQ(stored.Pixels, corrected.Pixels);
  }
}

}  // namespace
}  // namespace tessaly
