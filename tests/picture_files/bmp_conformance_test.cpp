// The BMP reader against the published BMP conformance corpus: every file of its
// manifest is read as the manifest says, and damaged copies never misbehave.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "base/errors.h"
#include "picture_files/bmp_reader.h"
#include "picture_files/byte_stream.h"
#include "picture_files/ext_bitmap.h"
#include "picture_store/grey.h"
#include "support/manifest.h"
#include "support/sha256.h"

namespace tessaly {
namespace {

std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The W x H grey bytes, top row first, without row padding.
std::string GreyHash(const Bitmap& bitmap) {
  const Bitmap grey = ToGrey8(bitmap, GreyMode::kTrueColour);
  std::vector<std::uint8_t> bytes;
  bytes.reserve(static_cast<std::size_t>(grey.Width()) * grey.Height());
  for (int y = 0; y < grey.Height(); ++y) {
    bytes.insert(bytes.end(), grey.Row(y), grey.Row(y) + grey.Width());
  }
  return test::Sha256Hex(bytes);
}

// Loads through the repairing loader, as the program does.
TExtBitmap Load(std::span<const std::uint8_t> bytes) {
  TExtBitmap bitmap;
  ByteStream stream(bytes);
  bitmap.LoadFromStream(stream);
  return bitmap;
}

TEST(BmpConformance, EveryManifestFileIsReadAsTheManifestSays) {
  const std::string dir = test::CorpusDir("bmpsuite");
  const auto entries = test::ReadManifest(dir + "/manifest.tsv");
  ASSERT_FALSE(entries.empty());
  std::map<std::string, std::pair<int, int>> counts;  // expect -> decoded, refused
  for (const auto& entry : entries) {
    SCOPED_TRACE(entry.file);
    const std::vector<std::uint8_t> bytes = ReadAll(dir + "/" + entry.file);
    ASSERT_FALSE(bytes.empty());
    try {
      const TExtBitmap bitmap = Load(bytes);
      ++counts[entry.expect].first;
      EXPECT_NE(entry.expect, "error") << "decoded a file the suite calls corrupt";
      if (entry.expect == "error") continue;
      EXPECT_EQ(bitmap.Width(), entry.width);
      EXPECT_EQ(bitmap.Height(), entry.height);
      if (!entry.grey_sha256.empty()) {
        EXPECT_EQ(GreyHash(bitmap), entry.grey_sha256);
      }
    } catch (const Error& e) {
      ++counts[entry.expect].second;
      EXPECT_NE(entry.expect, "decode") << e.what();
      EXPECT_STRNE(e.what(), "");
    }
  }
  for (const auto& [expect, n] : counts) {
    std::cout << "[ counts   ] " << expect << ": " << n.first << " decoded, " << n.second
              << " refused\n";
  }
}

// Every outcome of reading damaged bytes must be a picture within the limits or an Error.
void ExpectDecodesOrThrows(std::span<const std::uint8_t> bytes) {
  try {
    const TExtBitmap bitmap = Load(bytes);
    EXPECT_LE(std::int64_t{bitmap.Width()} * bitmap.Height(), Bitmap::kMaxPixels);
  } catch (const Error&) {
  }
}

// Files of every decoder path: uncompressed 1, 2, 4, 8, 16, 24, 32 bits, bit
// fields, both RLE kinds, OS/2 headers, a V5 header.
const char* const kDamageSamples[] = {
    "g/pal1.bmp",    "q/pal2.bmp",        "g/pal4.bmp",       "g/pal4rle.bmp",    "g/pal8rle.bmp",
    "g/pal8os2.bmp", "q/pal8os2v2.bmp",   "g/pal8v5.bmp",     "g/rgb16-565.bmp",  "g/rgb24.bmp",
    "g/rgb32bf.bmp", "q/pal8rletrns.bmp", "b/badrle4bis.bmp", "g/pal8topdown.bmp"};

TEST(BmpDamage, EveryTruncationDecodesOrThrows) {
  for (const char* name : kDamageSamples) {
    SCOPED_TRACE(name);
    const std::vector<std::uint8_t> bytes = ReadAll(test::CorpusDir("bmpsuite") + "/" + name);
    ASSERT_FALSE(bytes.empty());
    const std::size_t step = bytes.size() > 10000 ? 7 : 1;
    for (std::size_t n = 0; n < bytes.size(); n += step) {
      ExpectDecodesOrThrows(std::span(bytes).first(n));
    }
  }
}

TEST(BmpDamage, CorruptedBytesDecodeOrThrow) {
  std::mt19937 random(20240607);  // fixed seed: the same damage on every run
  for (const char* name : kDamageSamples) {
    SCOPED_TRACE(name);
    const std::vector<std::uint8_t> clean = ReadAll(test::CorpusDir("bmpsuite") + "/" + name);
    for (int round = 0; round < 300; ++round) {
      std::vector<std::uint8_t> bytes = clean;
      // Mostly the headers and colour table, sometimes anywhere.
      const std::size_t reach =
          round % 4 == 0 ? bytes.size() : std::min<std::size_t>(bytes.size(), 160);
      for (int k = 0; k < 1 + round % 3; ++k) {
        bytes[random() % reach] = static_cast<std::uint8_t>(random());
      }
      ExpectDecodesOrThrows(bytes);
    }
  }
}

}  // namespace
}  // namespace tessaly
