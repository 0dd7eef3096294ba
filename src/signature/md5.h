#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace veldrano {

using MD5Digest = std::array<std::uint8_t, 16>;

// The incremental state of one MD5 computation (RFC 1321).
struct TMD5Context {
  bool pending = false;             // the digest must be finished (again) by MD5Final
  std::uint32_t bitCountLow = 0;    // bits fed since MD5Init, low word
  std::uint32_t bitCountHigh = 0;   // and high word
  std::uint32_t bufferedBytes = 0;  // 0..63 bytes of an incomplete block
  std::uint8_t buffer[64] = {};
  std::uint32_t state[4] = {};   // chaining values A, B, C, D
  std::uint32_t digest[4] = {};  // the finished digest, valid while pending is clear
};

// The program's one MD5 context: one digest is computed at a time.
inline TMD5Context MD5Context;

// Starts a new message.
void MD5Init();
// Feeds length bytes. Whole blocks are read straight from data.
void MD5Update(const void* data, std::uint32_t length);
// The digest of everything fed since MD5Init. It works on a copy of the
// state, so it may be called twice, and MD5Update may continue the message.
MD5Digest MD5Final();
// The same on a context of the caller's, for a digest computed beside the
// program's one (on another thread).
void MD5Init(TMD5Context& ctx);
void MD5Update(TMD5Context& ctx, const void* data, std::uint32_t length);
MD5Digest MD5Final(TMD5Context& ctx);
// A piece of a message, for its context.
struct MD5Piece {
  TMD5Context* Context;
  const void* Data;
  std::uint32_t Length;
};
// How many messages MD5UpdateMany folds at once at most, on this processor
// (4, or 8 where it has 256-bit integer vectors).
std::size_t MD5Lanes();
inline constexpr std::size_t MD5MaxLanes = 8;
// Feeds several messages at once, each piece to its context, as MD5Updates
// one after another would give them. The whole blocks they have in common
// are folded side by side, one message per lane of the processor's vector
// registers, up to MD5Lanes() of them in little more time than one.
void MD5UpdateMany(std::span<const MD5Piece> pieces);

// The compression function: folds one 64-byte block into words.
void MD5Transform(std::uint32_t words[4], const std::uint8_t block[64]);

}  // namespace veldrano
