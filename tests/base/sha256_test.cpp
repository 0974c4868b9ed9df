// The tests' own SHA-256 against published test vectors, so conformance hashes can be trusted.
#include "support/sha256.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tessaly::test {
namespace {

std::string Hash(const std::string& s) {
  return Sha256Hex({reinterpret_cast<const std::uint8_t*>(s.data()), s.size()});
}

TEST(Sha256, MatchesPublishedVectors) {
  EXPECT_EQ(Hash(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Hash("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Hash("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(Hash(std::string(1000, 'a')).substr(0, 8), "41edece4");
}

}  // namespace
}  // namespace tessaly::test
