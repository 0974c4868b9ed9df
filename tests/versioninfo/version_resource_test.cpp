// The resource layout: building, path lookups, finding a resource inside other bytes, and
// staying inside the buffer on malformed data.
#include "versioninfo/version_resource.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "crafted.h"

namespace tessaly {
namespace {

using testing::ProgramLikeContent;
using testing::ProgramLikeResource;

std::uint16_t WordAt(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

std::string Text(const std::vector<std::uint8_t>& resource, std::string_view path) {
  const auto value = QueryVersionValue(resource, path);
  return value ? VersionValueText(value->bytes) : "<none>";
}

// Offset of the first block whose key is `key` (ASCII), found by its UTF-16 bytes.
std::size_t BlockOffset(const std::vector<std::uint8_t>& bytes, std::string_view key) {
  std::vector<std::uint8_t> pattern;
  for (char c : key) pattern.insert(pattern.end(), {static_cast<std::uint8_t>(c), 0});
  const auto hit = std::search(bytes.begin(), bytes.end(), pattern.begin(), pattern.end());
  return static_cast<std::size_t>(hit - bytes.begin()) - 6;
}

TEST(VersionResource, BuildsTheBlockLayoutAndFindsValuesByPath) {
  const auto resource = ProgramLikeResource();
  EXPECT_EQ(WordAt(resource, 0), resource.size());
  EXPECT_EQ(WordAt(resource, 2), kFixedInfoSize);
  EXPECT_EQ(resource.size() % 4, 0u);

  const auto root = QueryVersionValue(resource, "\\");
  ASSERT_TRUE(root);
  EXPECT_EQ(root->bytes.data(), resource.data() + 40);
  EXPECT_EQ(root->bytes.size(), kFixedInfoSize);
  EXPECT_FALSE(root->is_text);

  // Block names match without regard to case; a text value counts its NUL.
  const auto version = QueryVersionValue(resource, "\\stringfileinfo\\080904e4\\FILEVERSION");
  ASSERT_TRUE(version);
  EXPECT_TRUE(version->is_text);
  EXPECT_EQ(version->bytes.size(), 2 * (7 + 1));
  EXPECT_EQ(VersionValueText(version->bytes), "1.2.2.7");
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(version->bytes.data()) -
                reinterpret_cast<std::uintptr_t>(resource.data()),
            BlockOffset(resource, "FileVersion") + 6 + 2 * 12 + 2);
  EXPECT_EQ(Text(resource, "\\StringFileInfo\\080904E4\\LegalCopyright"),
            "Copyright \xC2\xA9 Kestrelwood");
  EXPECT_EQ(Text(resource, "\\StringFileInfo\\080904E4\\Comments"), "<none>");
  EXPECT_EQ(Text(resource, "\\StringFileInfo\\040904E4\\FileVersion"), "<none>");
  EXPECT_EQ(Text(resource, "\\StringFileInfo"), "") << "a block without a value";

  const auto fixed = ReadFixedInfo(resource);
  ASSERT_TRUE(fixed);
  EXPECT_EQ(fixed->file_version_ms, 0x00010002u);
  EXPECT_EQ(fixed->file_version_ls, 0x00020007u);
  EXPECT_EQ(fixed->file_flags_mask, 0x3Fu);
  ASSERT_EQ(ReadTranslations(resource).size(), 1u);
  EXPECT_EQ(ReadTranslations(resource)[0].language, 0x0809);
  EXPECT_EQ(ReadTranslations(resource)[0].code_page, 0x04E4);
}

TEST(VersionResource, KeepsTextOutsideLatinOneAndSkipsWhatIsLeftOut) {
  VersionResourceContent content;
  content.fixed.reset();
  content.string_tables.push_back(
      {"040904B0", {{"Comments", "G clef \xF0\x9D\x84\x9E, \xE2\x82\xAC"}}});
  const auto resource = BuildVersionResource(content);
  EXPECT_EQ(Text(resource, "\\StringFileInfo\\040904b0\\Comments"),
            "G clef \xF0\x9D\x84\x9E, \xE2\x82\xAC");
  EXPECT_FALSE(ReadFixedInfo(resource));
  EXPECT_FALSE(QueryVersionValue(resource, "\\VarFileInfo"));
  EXPECT_TRUE(ReadTranslations(resource).empty());
  EXPECT_EQ(VersionValueText(std::vector<std::uint8_t>{0x41, 0, 0x00, 0xD8, 0x42, 0}),
            "A\xEF\xBF\xBD"
            "B");
}

TEST(VersionResource, TranslationTableDropsAPartialLastEntry) {
  auto content = ProgramLikeContent();
  content.translations = std::vector<VersionTranslation>{{0x0809, 0x04E4}, {0, 0}};
  auto resource = BuildVersionResource(content);
  EXPECT_EQ(ReadTranslations(resource).size(), 2u);
  const std::size_t var = BlockOffset(resource, "Translation");
  resource[var + 2] = 6;  // value length 6: one entry and a half
  ASSERT_EQ(ReadTranslations(resource).size(), 1u);
  resource[var + 2] = 200;  // past the block: cut at the block's end
  EXPECT_EQ(ReadTranslations(resource).size(), 2u);

  content.translations = std::vector<VersionTranslation>{};
  EXPECT_TRUE(QueryVersionValue(BuildVersionResource(content), "\\VarFileInfo\\Translation"));
  EXPECT_TRUE(ReadTranslations(BuildVersionResource(content)).empty());
}

TEST(VersionResource, ABlockRunningPastItsParentEndsTheSearchThere) {
  auto resource = ProgramLikeResource();
  const std::size_t fileVersion = BlockOffset(resource, "FileVersion");
  resource[fileVersion] = 0xF0;
  resource[fileVersion + 1] = 0xFF;
  EXPECT_EQ(Text(resource, "\\StringFileInfo\\080904E4\\CompanyName"), "Kestrelwood");
  EXPECT_EQ(Text(resource, "\\StringFileInfo\\080904E4\\FileVersion"), "<none>");
  EXPECT_EQ(Text(resource, "\\StringFileInfo\\080904E4\\ProductName"), "<none>");

  // A value length beyond its block is cut at the block's end.
  resource = ProgramLikeResource();
  const std::size_t company = BlockOffset(resource, "CompanyName");
  resource[company + 2] = 0xFF;
  EXPECT_EQ(Text(resource, "\\StringFileInfo\\080904E4\\CompanyName"), "Kestrelwood");
  EXPECT_EQ(Text(resource, "\\StringFileInfo\\080904E4\\FileDescription"),
            "Update and rename bitmaps to WEFAX standard");
}

std::vector<std::uint8_t> Embedded(std::size_t before, const std::vector<std::uint8_t>& resource,
                                   std::size_t after) {
  std::mt19937 random(7);
  std::vector<std::uint8_t> file;
  for (std::size_t i = 0; i < before; ++i) file.push_back(random() & 0xFF);
  // Decoys: the key too near the start, and the key without the fixed block's signature.
  auto decoy = resource;
  decoy[40] ^= 0xFF;
  file.insert(file.begin(), resource.begin() + 6, resource.begin() + 38);
  file.insert(file.end(), decoy.begin(), decoy.end());
  file.insert(file.end(), resource.begin(), resource.end());
  for (std::size_t i = 0; i < after; ++i) file.push_back(random() & 0xFF);
  return file;
}

TEST(VersionResource, FindsTheResourceInsideOtherBytesAcrossPieceBoundaries) {
  const auto resource = ProgramLikeResource();
  const auto file = Embedded(1001, resource, 77);
  const auto at = FindVersionResource(file);
  ASSERT_TRUE(at);
  EXPECT_EQ(*at, 32 + 1001 + resource.size());

  const std::string bytes(file.begin(), file.end());
  for (std::size_t chunk : {std::size_t{1}, std::size_t{3}, std::size_t{500}, std::size_t{1040},
                            std::size_t{1900}, std::size_t{1} << 20}) {
    std::istringstream in(bytes);
    EXPECT_EQ(ReadVersionResource(in, chunk), resource) << "piece size " << chunk;
  }

  // A resource cut short by the end of the file is not taken.
  std::istringstream cut(bytes.substr(0, bytes.size() - 77 - 4));
  EXPECT_TRUE(ReadVersionResource(cut, 64).empty());
  EXPECT_FALSE(FindVersionResource(std::vector<std::uint8_t>(5000, 0)));
  EXPECT_TRUE(ReadVersionResource(std::filesystem::path("/nonexistent/tessaly")).empty());
}

// Every answer must lie inside the buffer; the sanitizer build checks the reads on the way.
void QueryEverything(const std::vector<std::uint8_t>& bytes) {
  for (const char* path :
       {"\\", "\\VarFileInfo\\Translation", "\\StringFileInfo\\080904E4",
        "\\StringFileInfo\\080904E4\\FileVersion", "\\StringFileInfo\\080904E4\\ProductVersion"}) {
    if (const auto value = QueryVersionValue(bytes, path)) {
      ASSERT_GE(value->bytes.data(), bytes.data());
      ASSERT_LE(value->bytes.data() + value->bytes.size(), bytes.data() + bytes.size());
      VersionValueText(value->bytes);
    }
  }
  ReadFixedInfo(bytes);
  ReadTranslations(bytes);
  FindVersionResource(bytes);
}

TEST(VersionResource, MalformedDataNeverLeadsOutsideTheBuffer) {
  const auto resource = ProgramLikeResource();
  for (std::size_t at = 0; at + 1 < resource.size(); at += 2) {
    for (std::uint16_t word : {0, 1, 5, 6, 7, 0x7FFF, 0xFFFF}) {
      auto bytes = resource;
      bytes[at] = word & 0xFF;
      bytes[at + 1] = static_cast<std::uint8_t>(word >> 8);
      QueryEverything(bytes);
      // The same bytes cut short, so lengths run past the end.
      QueryEverything(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + at + 1));
    }
  }
  std::mt19937 random(2024);
  for (int round = 0; round < 3000; ++round) {
    auto bytes = resource;
    for (int n = 0; n < 4; ++n) bytes[random() % bytes.size()] = random() & 0xFF;
    QueryEverything(bytes);
  }
  QueryEverything({});
  QueryEverything({6, 0, 0});
}

}  // namespace
}  // namespace tessaly
