#include "signature/md5.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "signature/md5_lanes.h"
#include "signature/md5_steps.h"

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
#undef MD5_ROTATE_LEFT

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

std::size_t MD5Lanes() {
  static const std::size_t lanes = md5_lanes::HasFoldEight() ? 8 : 4;
  return lanes;
}

void MD5UpdateMany(std::span<const MD5Piece> pieces) {
  for (; pieces.size() > MD5MaxLanes; pieces = pieces.subspan(MD5MaxLanes)) MD5UpdateMany(pieces.first(MD5MaxLanes));
  // The whole blocks of those not holding part of one are folded side by
  // side, as many as all have, then again for those with more (a message
  // whose piece ends short leaves the others their lanes); the rest of
  // each on its own.
  std::array<std::uint32_t, MD5MaxLanes> done{};
  // Vector lanes left over get a copy of a message, folded into words
  // thrown away.
  std::uint32_t spare[MD5MaxLanes][4] = {};
  for (;;) {
    std::array<std::size_t, MD5MaxLanes> side{};
    std::size_t count = 0;
    std::uint32_t blocks = 0;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      const std::uint32_t whole = (pieces[i].Length - done[i]) / 64;
      if (pieces[i].Context->bufferedBytes > 0 || whole == 0) continue;
      blocks = count == 0 ? whole : std::min(blocks, whole);
      side[count++] = i;
    }
    if (count < 2) break;
    std::array<std::uint32_t*, MD5MaxLanes> states{};
    std::array<const std::uint8_t*, MD5MaxLanes> data{};
    for (std::size_t lane = 0; lane < count; ++lane) {
      const MD5Piece& piece = pieces[side[lane]];
      states[lane] = piece.Context->state;
      data[lane] = static_cast<const std::uint8_t*>(piece.Data) + done[side[lane]];
      CountBits(*piece.Context, blocks * 64);
      done[side[lane]] += blocks * 64;
    }
    const auto fold = [&](std::size_t from, std::size_t n, std::size_t width, auto kernel) {
      std::array<std::uint32_t*, MD5MaxLanes> laneStates{};
      std::array<const std::uint8_t*, MD5MaxLanes> laneData{};
      for (std::size_t lane = 0; lane < width; ++lane) {
        const bool used = lane < n;
        laneStates[lane] = used ? states[from + lane] : spare[lane];
        laneData[lane] = data[used ? from + lane : from];
      }
      kernel(laneStates.data(), laneData.data(), blocks);
    };
    for (std::size_t from = 0; from < count;) {
      const std::size_t left = count - from;
      if (left == 1) {
        TransformBlocks(states[from], data[from], blocks);
        from += 1;
      } else if (left == 2) {
        TransformBlocksTwice(states[from], data[from], states[from + 1], data[from + 1], blocks);
        from += 2;
      } else if (left > 4 && MD5Lanes() == 8) {
        fold(from, left, 8, md5_lanes::FoldEight);
        from += left;
      } else {
        const std::size_t n = std::min<std::size_t>(left, 4);
        fold(from, n, 4, md5_lanes::FoldFour);
        from += n;
      }
    }
  }
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const MD5Piece& piece = pieces[i];
    if (piece.Length > done[i])
      MD5Update(*piece.Context, static_cast<const std::uint8_t*>(piece.Data) + done[i], piece.Length - done[i]);
  }
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
