// Text helpers: Latin-1 conversion of header characters and trimming.
#include "base/text.h"

#include <gtest/gtest.h>

namespace tessaly {
namespace {

TEST(Latin1ToUtf8, KeepsAsciiAndEncodesHighBytesAsTwoByteSequences) {
  EXPECT_EQ(Latin1ToUtf8("AB 12"), "AB 12");
  // Cent sign and not sign, as the EBCDIC table of GMS headers yields them.
  EXPECT_EQ(Latin1ToUtf8("\xA2\xAC"), "\xC2\xA2\xC2\xAC");
  EXPECT_EQ(Latin1ToUtf8("\xFF"), "\xC3\xBF");
}

TEST(Trim, RemovesBlanksAndControlCharactersAtBothEndsOnly) {
  EXPECT_EQ(Trim("  MET7 \t\x01"), "MET7");
  EXPECT_EQ(Trim("A  B"), "A  B");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(AsciiUpper("adm\xE9"), "ADM\xE9");
}

}  // namespace
}  // namespace tessaly
