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

// Up to nine messages fed side by side, in pieces of any lengths (whole
// blocks of all, a piece left over in some, pieces of few blocks beside
// pieces of many, the shorter messages ended), each get the digest they
// would alone, whichever lanes fold them.
TEST(MD5, MessagesFedTogetherGetTheirOwnDigests) {
  const std::string pattern = testing::PatternBytes(200000);
  for (std::size_t count = 1; count <= MD5MaxLanes + 1; ++count) {
    std::vector<std::string> messages;
    for (std::size_t i = 0; i < count; ++i) {
      std::string message = pattern.substr(i * 977, 150001 - i * 4099);
      message[message.size() / 2] ^= static_cast<char>(i + 1);  // no two alike
      messages.push_back(std::move(message));
    }
    for (const std::vector<std::size_t>& pieces :
         std::vector<std::vector<std::size_t>>{{65536}, {64, 100}, {7, 4096}, {65536, 200}}) {
      std::vector<TMD5Context> contexts(count);
      for (TMD5Context& context : contexts) MD5Init(context);
      std::vector<std::size_t> at(count, 0);
      for (std::size_t turn = 0;; ++turn) {
        std::vector<MD5Piece> fed;
        for (std::size_t i = 0; i < count; ++i) {
          const std::size_t n = std::min(pieces[(turn + i) % pieces.size()], messages[i].size() - at[i]);
          if (n == 0) continue;
          fed.push_back({&contexts[i], messages[i].data() + at[i], static_cast<std::uint32_t>(n)});
          at[i] += n;
        }
        if (fed.empty()) break;
        MD5UpdateMany(fed);
      }
      for (std::size_t i = 0; i < count; ++i)
        EXPECT_EQ(Hex(MD5Final(contexts[i])), Digest(messages[i])) << count << " messages, message " << i;
    }
  }
}

}  // namespace
}  // namespace veldrano
