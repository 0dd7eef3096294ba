#include "signature/md5.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace veldrano {

namespace {

inline std::uint32_t LoadLittleEndian(const std::uint8_t* bytes) {
  std::uint32_t word;
  std::memcpy(&word, bytes, 4);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap32(word);
  return word;
}

inline void StoreLittleEndian(std::uint8_t* bytes, std::uint32_t word) {
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap32(word);
  std::memcpy(bytes, &word, 4);
}

inline std::uint32_t RotateLeft(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// The four rounds, written for a short dependency chain: F and G are formed
// so that one term needs only the words of earlier steps, and the message
// word and constant are added before the previous step's result is known.
#define MD5_F(a, b, c, d, x, s, t)  \
  a += (((c ^ d) & b) ^ d) + x + t; \
  a = RotateLeft(a, s) + b;
#define MD5_G(a, b, c, d, x, s, t) \
  a += x + t + (~d & c);           \
  a += d & b;                      \
  a = RotateLeft(a, s) + b;
#define MD5_H(a, b, c, d, x, s, t) \
  a += (b ^ c ^ d) + x + t;        \
  a = RotateLeft(a, s) + b;
#define MD5_I(a, b, c, d, x, s, t) \
  a += ((~d | b) ^ c) + x + t;     \
  a = RotateLeft(a, s) + b;

// The 64 steps, one line per pair, as the tables print them: the round's
// function, the words in their turn, the message word, the shift and the
// constant.
// clang-format off
#define MD5_STEPS(STEP) \
  STEP(F, a, b, c, d, 0, 7, 0xd76aa478) STEP(F, d, a, b, c, 1, 12, 0xe8c7b756) \
  STEP(F, c, d, a, b, 2, 17, 0x242070db) STEP(F, b, c, d, a, 3, 22, 0xc1bdceee) \
  STEP(F, a, b, c, d, 4, 7, 0xf57c0faf) STEP(F, d, a, b, c, 5, 12, 0x4787c62a) \
  STEP(F, c, d, a, b, 6, 17, 0xa8304613) STEP(F, b, c, d, a, 7, 22, 0xfd469501) \
  STEP(F, a, b, c, d, 8, 7, 0x698098d8) STEP(F, d, a, b, c, 9, 12, 0x8b44f7af) \
  STEP(F, c, d, a, b, 10, 17, 0xffff5bb1) STEP(F, b, c, d, a, 11, 22, 0x895cd7be) \
  STEP(F, a, b, c, d, 12, 7, 0x6b901122) STEP(F, d, a, b, c, 13, 12, 0xfd987193) \
  STEP(F, c, d, a, b, 14, 17, 0xa679438e) STEP(F, b, c, d, a, 15, 22, 0x49b40821) \
  STEP(G, a, b, c, d, 1, 5, 0xf61e2562) STEP(G, d, a, b, c, 6, 9, 0xc040b340) \
  STEP(G, c, d, a, b, 11, 14, 0x265e5a51) STEP(G, b, c, d, a, 0, 20, 0xe9b6c7aa) \
  STEP(G, a, b, c, d, 5, 5, 0xd62f105d) STEP(G, d, a, b, c, 10, 9, 0x02441453) \
  STEP(G, c, d, a, b, 15, 14, 0xd8a1e681) STEP(G, b, c, d, a, 4, 20, 0xe7d3fbc8) \
  STEP(G, a, b, c, d, 9, 5, 0x21e1cde6) STEP(G, d, a, b, c, 14, 9, 0xc33707d6) \
  STEP(G, c, d, a, b, 3, 14, 0xf4d50d87) STEP(G, b, c, d, a, 8, 20, 0x455a14ed) \
  STEP(G, a, b, c, d, 13, 5, 0xa9e3e905) STEP(G, d, a, b, c, 2, 9, 0xfcefa3f8) \
  STEP(G, c, d, a, b, 7, 14, 0x676f02d9) STEP(G, b, c, d, a, 12, 20, 0x8d2a4c8a) \
  STEP(H, a, b, c, d, 5, 4, 0xfffa3942) STEP(H, d, a, b, c, 8, 11, 0x8771f681) \
  STEP(H, c, d, a, b, 11, 16, 0x6d9d6122) STEP(H, b, c, d, a, 14, 23, 0xfde5380c) \
  STEP(H, a, b, c, d, 1, 4, 0xa4beea44) STEP(H, d, a, b, c, 4, 11, 0x4bdecfa9) \
  STEP(H, c, d, a, b, 7, 16, 0xf6bb4b60) STEP(H, b, c, d, a, 10, 23, 0xbebfbc70) \
  STEP(H, a, b, c, d, 13, 4, 0x289b7ec6) STEP(H, d, a, b, c, 0, 11, 0xeaa127fa) \
  STEP(H, c, d, a, b, 3, 16, 0xd4ef3085) STEP(H, b, c, d, a, 6, 23, 0x04881d05) \
  STEP(H, a, b, c, d, 9, 4, 0xd9d4d039) STEP(H, d, a, b, c, 12, 11, 0xe6db99e5) \
  STEP(H, c, d, a, b, 15, 16, 0x1fa27cf8) STEP(H, b, c, d, a, 2, 23, 0xc4ac5665) \
  STEP(I, a, b, c, d, 0, 6, 0xf4292244) STEP(I, d, a, b, c, 7, 10, 0x432aff97) \
  STEP(I, c, d, a, b, 14, 15, 0xab9423a7) STEP(I, b, c, d, a, 5, 21, 0xfc93a039) \
  STEP(I, a, b, c, d, 12, 6, 0x655b59c3) STEP(I, d, a, b, c, 3, 10, 0x8f0ccc92) \
  STEP(I, c, d, a, b, 10, 15, 0xffeff47d) STEP(I, b, c, d, a, 1, 21, 0x85845dd1) \
  STEP(I, a, b, c, d, 8, 6, 0x6fa87e4f) STEP(I, d, a, b, c, 15, 10, 0xfe2ce6e0) \
  STEP(I, c, d, a, b, 6, 15, 0xa3014314) STEP(I, b, c, d, a, 13, 21, 0x4e0811a1) \
  STEP(I, a, b, c, d, 4, 6, 0xf7537e82) STEP(I, d, a, b, c, 11, 10, 0xbd3af235) \
  STEP(I, c, d, a, b, 2, 15, 0x2ad7d2bb) STEP(I, b, c, d, a, 9, 21, 0xeb86d391) \
  /* end */
// clang-format on

// The four chaining values, named as the steps name them.
struct Chain {
  std::uint32_t a, b, c, d;
  static Chain Of(const std::uint32_t words[4]) { return {words[0], words[1], words[2], words[3]}; }
  void StoreIn(std::uint32_t words[4]) const {
    words[0] = a;
    words[1] = b;
    words[2] = c;
    words[3] = d;
  }
  // A block's result is added to the values it began with.
  void Add(const Chain& before) {
    a += before.a;
    b += before.b;
    c += before.c;
    d += before.d;
  }
};

// Folds blocks consecutive 64-byte blocks into words, keeping the chaining
// values in registers across blocks.
void TransformBlocks(std::uint32_t words[4], const std::uint8_t* data, std::size_t blocks) {
  Chain chain = Chain::Of(words);
  auto& [a, b, c, d] = chain;
  for (; blocks > 0; --blocks, data += 64) {
    std::uint32_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = LoadLittleEndian(data + 4 * i);
    const Chain before = chain;
#define MD5_ONE(R, a, b, c, d, i, s, t) MD5_##R(a, b, c, d, x[i], s, t)
    MD5_STEPS(MD5_ONE)
#undef MD5_ONE
    chain.Add(before);
  }
  chain.StoreIn(words);
}

// The same for two messages at once, step by step side by side: each step
// waits for the one before it, and the other message's step fills the
// processor meanwhile, so two take little more time than one.
void TransformBlocksTwice(std::uint32_t words[4], const std::uint8_t* data, std::uint32_t otherWords[4],
                          const std::uint8_t* other, std::size_t blocks) {
  Chain chain = Chain::Of(words), otherChain = Chain::Of(otherWords);
  auto& [a, b, c, d] = chain;
  auto& [a2, b2, c2, d2] = otherChain;
  for (; blocks > 0; --blocks, data += 64, other += 64) {
    std::uint32_t x[16], y[16];
    for (int i = 0; i < 16; ++i) {
      x[i] = LoadLittleEndian(data + 4 * i);
      y[i] = LoadLittleEndian(other + 4 * i);
    }
    const Chain before = chain, otherBefore = otherChain;
#define MD5_TWO(R, a, b, c, d, i, s, t) MD5_##R(a, b, c, d, x[i], s, t) MD5_##R(a##2, b##2, c##2, d##2, y[i], s, t)
    MD5_STEPS(MD5_TWO)
#undef MD5_TWO
    chain.Add(before);
    otherChain.Add(otherBefore);
  }
  chain.StoreIn(words);
  otherChain.StoreIn(otherWords);
}

#undef MD5_F
#undef MD5_G
#undef MD5_H
#undef MD5_I
#undef MD5_STEPS

}  // namespace

void MD5Transform(std::uint32_t words[4], const std::uint8_t block[64]) { TransformBlocks(words, block, 1); }

void MD5Init() { MD5Init(MD5Context); }
void MD5Update(const void* data, std::uint32_t length) { MD5Update(MD5Context, data, length); }
MD5Digest MD5Final() { return MD5Final(MD5Context); }

void MD5Init(TMD5Context& ctx) {
  ctx.bitCountLow = 0;
  ctx.bitCountHigh = 0;
  ctx.bufferedBytes = 0;
  ctx.state[0] = 0x67452301;
  ctx.state[1] = 0xefcdab89;
  ctx.state[2] = 0x98badcfe;
  ctx.state[3] = 0x10325476;
  ctx.pending = true;
}

namespace {

void CountBits(TMD5Context& ctx, std::uint32_t length) {
  ctx.pending = true;
  const std::uint32_t low = ctx.bitCountLow + (length << 3);
  if (low < ctx.bitCountLow) ++ctx.bitCountHigh;
  ctx.bitCountLow = low;
  ctx.bitCountHigh += length >> 29;
}

}  // namespace

void MD5UpdateTwo(TMD5Context& ctx, const void* data, std::uint32_t length, TMD5Context& other, const void* otherData,
                  std::uint32_t otherLength) {
  // The whole blocks both have, while neither holds part of one, side by
  // side; the rest of each on its own.
  std::uint32_t both = 0;
  if (ctx.bufferedBytes == 0 && other.bufferedBytes == 0) both = std::min(length, otherLength) / 64;
  if (both > 0) {
    CountBits(ctx, both * 64);
    CountBits(other, both * 64);
    TransformBlocksTwice(ctx.state, static_cast<const std::uint8_t*>(data), other.state,
                         static_cast<const std::uint8_t*>(otherData), both);
  }
  if (length > both * 64)
    MD5Update(ctx, static_cast<const std::uint8_t*>(data) + std::size_t{both} * 64, length - both * 64);
  if (otherLength > both * 64)
    MD5Update(other, static_cast<const std::uint8_t*>(otherData) + std::size_t{both} * 64, otherLength - both * 64);
}

void MD5Update(TMD5Context& ctx, const void* data, std::uint32_t length) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  CountBits(ctx, length);

  if (ctx.bufferedBytes > 0) {
    const std::uint32_t taken = std::min<std::uint32_t>(64 - ctx.bufferedBytes, length);
    std::memcpy(ctx.buffer + ctx.bufferedBytes, bytes, taken);
    ctx.bufferedBytes += taken;
    if (ctx.bufferedBytes < 64) return;
    MD5Transform(ctx.state, ctx.buffer);
    ctx.bufferedBytes = 0;
    bytes += taken;
    length -= taken;
  }
  const std::uint32_t blocks = length / 64;
  if (blocks > 0) TransformBlocks(ctx.state, bytes, blocks);
  bytes += std::size_t{blocks} * 64;
  length -= blocks * 64;
  if (length > 0) {
    std::memcpy(ctx.buffer, bytes, length);
    ctx.bufferedBytes = length;
  }
}

MD5Digest MD5Final(TMD5Context& ctx) {
  if (ctx.pending) {
    std::memcpy(ctx.digest, ctx.state, sizeof ctx.digest);
    std::uint8_t block[64];
    std::memcpy(block, ctx.buffer, ctx.bufferedBytes);
    std::uint32_t used = ctx.bufferedBytes;
    block[used++] = 0x80;
    if (used > 56) {
      std::memset(block + used, 0, 64 - used);
      MD5Transform(ctx.digest, block);
      used = 0;
    }
    std::memset(block + used, 0, 56 - used);
    StoreLittleEndian(block + 56, ctx.bitCountLow);
    StoreLittleEndian(block + 60, ctx.bitCountHigh);
    MD5Transform(ctx.digest, block);
    ctx.pending = false;
  }
  MD5Digest result;
  for (int i = 0; i < 4; ++i) StoreLittleEndian(result.data() + 4 * i, ctx.digest[i]);
  return result;
}

}  // namespace veldrano
