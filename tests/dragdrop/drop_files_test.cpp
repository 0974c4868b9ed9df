// Tests of the file-list and name-map block readers on hand-made blocks, malformed ones included.
#include "dragdrop/drop_files.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tessaly {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Names = std::vector<std::string>;

void PutLe32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// The file-list header written field by field, independently of the code under test.
Bytes Header(std::uint32_t offset, std::uint32_t wide, std::uint32_t non_client = 0) {
  Bytes b;
  PutLe32(b, offset);
  PutLe32(b, 7);  // drop point, ignored
  PutLe32(b, 9);
  PutLe32(b, non_client);
  PutLe32(b, wide);
  return b;
}

// A literal with its embedded zeros, without the closing one.
template <typename C, std::size_t N>
std::basic_string_view<C> Lit(const C (&text)[N]) {
  return {text, N - 1};
}

void Put8(Bytes& b, std::string_view text) {
  b.insert(b.end(), text.begin(), text.end());
}

void PutWide(Bytes& b, std::u16string_view text) {
  for (char16_t c : text) {
    b.push_back(static_cast<std::uint8_t>(c & 0xFF));
    b.push_back(static_cast<std::uint8_t>(c >> 8));
  }
}

TEST(DropFilesTest, ReadsEightBitNamesInOrderUpToTheEmptyName) {
  Bytes b = Header(20, 0);
  Put8(b, Lit("/data/b.bmp\0/data/a b.png\0\0/after/the/end\0\0"));
  EXPECT_EQ(ReadDropFiles(b), (Names{"/data/b.bmp", "/data/a b.png"}));
}

TEST(DropFilesTest, FollowsTheOffsetAndReadsTheWideFlagFromTheFifthField) {
  // Four filler bytes between header and list; the non-client flag set must not mean "wide".
  Bytes b = Header(24, 0, 1);
  Put8(b, Lit("XXXXone\0\0"));
  EXPECT_EQ(ReadDropFiles(b), Names{"one"});

  Bytes w = Header(20, 1);
  // U+00E9 and U+1F600 (surrogate pair D83D DE00) become UTF-8.
  PutWide(w, Lit(u"/t/caf\u00e9.bmp\0/t/\xD83D\xDE00.png\0\0"));
  EXPECT_EQ(ReadDropFiles(w), (Names{"/t/caf\xC3\xA9.bmp", "/t/\xF0\x9F\x98\x80.png"}));
}

TEST(DropFilesTest, MalformedBlocksNeverReadOutsideTheBlock) {
  Bytes short_header = Header(20, 0);
  short_header.resize(16);
  EXPECT_TRUE(ReadDropFiles(short_header).empty());

  Bytes past_end = Header(1000, 0);
  Put8(past_end, Lit("x\0\0"));
  EXPECT_TRUE(ReadDropFiles(past_end).empty());
  EXPECT_TRUE(ReadDropFiles(Header(20, 0)).empty());  // offset exactly at the end

  // The bytes after the block would complete the last name; they lie outside the span.
  Bytes backing = Header(20, 0);
  Put8(backing, Lit("ok\0cut\0\0"));
  const std::span<const std::uint8_t> block(backing.data(), backing.size() - 2);
  EXPECT_EQ(ReadDropFiles(block), Names{"ok"});

  Bytes wide = Header(20, 1);
  PutWide(wide, Lit(u"ab\0"));
  wide.push_back('c');  // half a character, then the block ends
  EXPECT_EQ(ReadDropFiles(wide), Names{"ab"});

  Bytes no_list_end = Header(20, 0);  // last name terminated, but no empty name after it
  Put8(no_list_end, Lit("a\0b\0"));
  EXPECT_EQ(ReadDropFiles(no_list_end), (Names{"a", "b"}));
}

TEST(DropFilesTest, NameMapsAreReadFromTheStartOfTheirBlock) {
  Bytes map;
  Put8(map, Lit("A.BMP\0B.PNG\0\0"));
  EXPECT_EQ(ReadNameList(map, 0, false), (Names{"A.BMP", "B.PNG"}));

  // Stepping goes by each name's own length in 16-bit characters: a two-byte UTF-8 name must
  // not shift the next one.
  Bytes wide;
  PutWide(wide, Lit(u"\u00c4.BMP\0Z\0\0"));
  EXPECT_EQ(ReadNameList(wide, 0, true), (Names{"\xC3\x84.BMP", "Z"}));
}

TEST(DropFilesTest, WrittenBlocksHaveTheHeaderLayout) {
  Bytes expected;
  for (std::uint32_t field : {20u, 0u, 0u, 0u, 0u}) PutLe32(expected, field);
  Put8(expected, Lit("a\0bc\0\0"));
  EXPECT_EQ(MakeDropFiles({"a", "", "bc"}, false), expected);  // the empty name is skipped

  expected.clear();
  for (std::uint32_t field : {20u, 0u, 0u, 0u, 1u}) PutLe32(expected, field);
  PutWide(expected, Lit(u"\u00e9\0\0"));
  EXPECT_EQ(MakeDropFiles({"\xC3\xA9"}, true), expected);
}

TEST(DropFilesTest, MalformedUtfBecomesReplacementCharacters) {
  EXPECT_EQ(Utf8ToUtf16("a\xC3"), u"a\uFFFD");                    // cut-off sequence
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");            // overlong slash
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xDC00))), "\xEF\xBF\xBD");
  EXPECT_EQ(Utf16ToUtf8(u"\xD83D"), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace tessaly
