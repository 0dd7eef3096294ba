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

// Folds blocks consecutive 64-byte blocks into words, keeping the chaining
// values in registers across blocks.
void TransformBlocks(std::uint32_t words[4], const std::uint8_t* data, std::size_t blocks) {
  std::uint32_t a = words[0], b = words[1], c = words[2], d = words[3];
  for (; blocks > 0; --blocks, data += 64) {
    std::uint32_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = LoadLittleEndian(data + 4 * i);
    const std::uint32_t a0 = a, b0 = b, c0 = c, d0 = d;
    // One line per pair of steps, as the tables print them.
    // clang-format off
    MD5_F(a, b, c, d, x[0], 7, 0xd76aa478) MD5_F(d, a, b, c, x[1], 12, 0xe8c7b756)
    MD5_F(c, d, a, b, x[2], 17, 0x242070db) MD5_F(b, c, d, a, x[3], 22, 0xc1bdceee)
    MD5_F(a, b, c, d, x[4], 7, 0xf57c0faf) MD5_F(d, a, b, c, x[5], 12, 0x4787c62a)
    MD5_F(c, d, a, b, x[6], 17, 0xa8304613) MD5_F(b, c, d, a, x[7], 22, 0xfd469501)
    MD5_F(a, b, c, d, x[8], 7, 0x698098d8) MD5_F(d, a, b, c, x[9], 12, 0x8b44f7af)
    MD5_F(c, d, a, b, x[10], 17, 0xffff5bb1) MD5_F(b, c, d, a, x[11], 22, 0x895cd7be)
    MD5_F(a, b, c, d, x[12], 7, 0x6b901122) MD5_F(d, a, b, c, x[13], 12, 0xfd987193)
    MD5_F(c, d, a, b, x[14], 17, 0xa679438e) MD5_F(b, c, d, a, x[15], 22, 0x49b40821)

    MD5_G(a, b, c, d, x[1], 5, 0xf61e2562) MD5_G(d, a, b, c, x[6], 9, 0xc040b340)
    MD5_G(c, d, a, b, x[11], 14, 0x265e5a51) MD5_G(b, c, d, a, x[0], 20, 0xe9b6c7aa)
    MD5_G(a, b, c, d, x[5], 5, 0xd62f105d) MD5_G(d, a, b, c, x[10], 9, 0x02441453)
    MD5_G(c, d, a, b, x[15], 14, 0xd8a1e681) MD5_G(b, c, d, a, x[4], 20, 0xe7d3fbc8)
    MD5_G(a, b, c, d, x[9], 5, 0x21e1cde6) MD5_G(d, a, b, c, x[14], 9, 0xc33707d6)
    MD5_G(c, d, a, b, x[3], 14, 0xf4d50d87) MD5_G(b, c, d, a, x[8], 20, 0x455a14ed)
    MD5_G(a, b, c, d, x[13], 5, 0xa9e3e905) MD5_G(d, a, b, c, x[2], 9, 0xfcefa3f8)
    MD5_G(c, d, a, b, x[7], 14, 0x676f02d9) MD5_G(b, c, d, a, x[12], 20, 0x8d2a4c8a)

    MD5_H(a, b, c, d, x[5], 4, 0xfffa3942) MD5_H(d, a, b, c, x[8], 11, 0x8771f681)
    MD5_H(c, d, a, b, x[11], 16, 0x6d9d6122) MD5_H(b, c, d, a, x[14], 23, 0xfde5380c)
    MD5_H(a, b, c, d, x[1], 4, 0xa4beea44) MD5_H(d, a, b, c, x[4], 11, 0x4bdecfa9)
    MD5_H(c, d, a, b, x[7], 16, 0xf6bb4b60) MD5_H(b, c, d, a, x[10], 23, 0xbebfbc70)
    MD5_H(a, b, c, d, x[13], 4, 0x289b7ec6) MD5_H(d, a, b, c, x[0], 11, 0xeaa127fa)
    MD5_H(c, d, a, b, x[3], 16, 0xd4ef3085) MD5_H(b, c, d, a, x[6], 23, 0x04881d05)
    MD5_H(a, b, c, d, x[9], 4, 0xd9d4d039) MD5_H(d, a, b, c, x[12], 11, 0xe6db99e5)
    MD5_H(c, d, a, b, x[15], 16, 0x1fa27cf8) MD5_H(b, c, d, a, x[2], 23, 0xc4ac5665)

    MD5_I(a, b, c, d, x[0], 6, 0xf4292244) MD5_I(d, a, b, c, x[7], 10, 0x432aff97)
    MD5_I(c, d, a, b, x[14], 15, 0xab9423a7) MD5_I(b, c, d, a, x[5], 21, 0xfc93a039)
    MD5_I(a, b, c, d, x[12], 6, 0x655b59c3) MD5_I(d, a, b, c, x[3], 10, 0x8f0ccc92)
    MD5_I(c, d, a, b, x[10], 15, 0xffeff47d) MD5_I(b, c, d, a, x[1], 21, 0x85845dd1)
    MD5_I(a, b, c, d, x[8], 6, 0x6fa87e4f) MD5_I(d, a, b, c, x[15], 10, 0xfe2ce6e0)
    MD5_I(c, d, a, b, x[6], 15, 0xa3014314) MD5_I(b, c, d, a, x[13], 21, 0x4e0811a1)
    MD5_I(a, b, c, d, x[4], 6, 0xf7537e82) MD5_I(d, a, b, c, x[11], 10, 0xbd3af235)
    MD5_I(c, d, a, b, x[2], 15, 0x2ad7d2bb) MD5_I(b, c, d, a, x[9], 21, 0xeb86d391)

    a += a0;
    b += b0;
    c += c0;
    d += d0;
    // clang-format on
  }
  words[0] = a;
  words[1] = b;
  words[2] = c;
  words[3] = d;
}

#undef MD5_F
#undef MD5_G
#undef MD5_H
#undef MD5_I

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

void MD5Update(TMD5Context& ctx, const void* data, std::uint32_t length) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  ctx.pending = true;

  const std::uint32_t low = ctx.bitCountLow + (length << 3);
  if (low < ctx.bitCountLow) ++ctx.bitCountHigh;
  ctx.bitCountLow = low;
  ctx.bitCountHigh += length >> 29;

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
