#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "signature/md5.h"
#include "support/bytes.h"

namespace veldrano {
namespace {

std::string Hex(const MD5Digest& digest) {
  std::string text;
  char pair[3];
  for (auto byte : digest) {
    std::snprintf(pair, sizeof pair, "%02x", byte);
    text += pair;
  }
  return text;
}

std::string DigestInPieces(const std::string& message, const std::vector<std::size_t>& pieces) {
  MD5Init();
  std::size_t at = 0;
  for (std::size_t i = 0; at < message.size(); ++i) {
    const std::size_t n = std::min(pieces[i % pieces.size()], message.size() - at);
    MD5Update(message.data() + at, static_cast<std::uint32_t>(n));
    at += n;
  }
  return Hex(MD5Final());
}

std::string Digest(const std::string& message) { return DigestInPieces(message, {message.size() + 1}); }

TEST(MD5, GivesTheDigestsOfTheRfc1321TestSuite) {
  EXPECT_EQ(Digest(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Digest("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(Digest("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Digest("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(Digest("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(Digest("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "d174ab98d277d9f5a5611c2c9f419d9f");
  EXPECT_EQ(Digest("1234567890123456789012345678901234567890123456789012345678901234567890123456"
                   "7890"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(MD5, PadsMessagesAroundTheBlockBoundary) {
  // 55 bytes pad within one block; 56 to 63 need a second one.
  EXPECT_EQ(Digest(testing::PatternBytes(55)), "fe4c050c7a3d8b0c93d5baae6ca77fa1");
  EXPECT_EQ(Digest(testing::PatternBytes(56)), "6cf06c0659a33472a3005a497c53b3ab");
  EXPECT_EQ(Digest(testing::PatternBytes(63)), "b45d7746939fd1f4ce3d417b18ed2635");
  EXPECT_EQ(Digest(testing::PatternBytes(64)), "a36738582497d785e6c27f09c9b8a15d");
  EXPECT_EQ(Digest(testing::PatternBytes(65)), "ac810d9d23a3425a15adb534769f920b");
}

TEST(MD5, GivesTheSameDigestWhateverThePiecesAre) {
  const std::string message = testing::PatternBytes(200000);
  const std::string expected = "ab8918cd4ee7a3fb5a821c78545140f5";
  EXPECT_EQ(Digest(message), expected);
  EXPECT_EQ(DigestInPieces(message, {1}), expected);
  EXPECT_EQ(DigestInPieces(message, {63, 2}), expected);
  EXPECT_EQ(DigestInPieces(message, {65536, 1}), expected);
  EXPECT_EQ(DigestInPieces(message, {7, 64, 129, 0, 1000, 3}), expected);
}

TEST(MD5, FinalTwiceGivesTheSameDigestAndUpdateContinuesTheMessage) {
  MD5Init();
  MD5Update("ab", 2);
  const MD5Digest first = MD5Final();
  EXPECT_EQ(Hex(first), Hex(MD5Final()));
  EXPECT_EQ(Hex(first), "187ef4436122d1cc2f40dc2b92f0eba0");  // MD5 of "ab"

  MD5Update("c", 1);
  EXPECT_EQ(Hex(MD5Final()), "900150983cd24fb0d6963f7d28e17f72");  // "abc"

  MD5Init();  // only Init starts a new message
  EXPECT_EQ(Hex(MD5Final()), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(MD5, TransformFoldsOneBlockIntoTheWords) {
  // The empty message is the initial words folded with one padding block.
  std::uint32_t words[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  std::uint8_t block[64] = {0x80};
  MD5Transform(words, block);
  EXPECT_EQ(words[0], 0xd98c1dd4u);
  EXPECT_EQ(words[1], 0x04b2008fu);
  EXPECT_EQ(words[2], 0x980980e9u);
  EXPECT_EQ(words[3], 0x7e42f8ecu);
}

// Two messages fed side by side, in pieces of any lengths (whole blocks of
// both, a piece left over in one, the shorter message ended), each get the
// digest they would alone.
TEST(MD5, TwoMessagesFedTogetherGetTheirOwnDigests) {
  const std::string first = testing::PatternBytes(200000);
  const std::string second = std::string(first.rbegin(), first.rend()).substr(0, 150001);
  for (const std::vector<std::size_t>& pieces : std::vector<std::vector<std::size_t>>{{65536}, {64, 100}, {7, 4096}}) {
    TMD5Context one, two;
    MD5Init(one);
    MD5Init(two);
    std::size_t at = 0, otherAt = 0;
    for (std::size_t i = 0; at < first.size() || otherAt < second.size(); ++i) {
      const std::size_t n = std::min(pieces[i % pieces.size()], first.size() - at);
      const std::size_t m = std::min(pieces[(i + 1) % pieces.size()], second.size() - otherAt);
      MD5UpdateTwo(one, first.data() + at, static_cast<std::uint32_t>(n), two, second.data() + otherAt,
                   static_cast<std::uint32_t>(m));
      at += n;
      otherAt += m;
    }
    EXPECT_EQ(Hex(MD5Final(one)), Digest(first));
    EXPECT_EQ(Hex(MD5Final(two)), Digest(second));
  }
}

}  // namespace
}  // namespace veldrano
