#include "signature/md5_lanes.h"

#include <bit>
#include <cstring>

#include "signature/md5_steps.h"

#if defined(__x86_64__)  // SSE2 is always there; AVX2 is checked at run time
#include <immintrin.h>
#define VELDRANO_MD5_X86 1
#endif

namespace veldrano::md5_lanes {

namespace {

using Four = std::uint32_t __attribute__((vector_size(16)));
using Eight = std::uint32_t __attribute__((vector_size(32)));

// The sixteen words of a block of each message, word i of every message in
// x[i]: the vector registers hold one message per lane.
template <typename Vector, int Lanes>
inline void LoadWords(Vector x[16], const std::uint8_t* const data[Lanes], std::size_t at) {
  for (int i = 0; i < 16; ++i) {
    for (int lane = 0; lane < Lanes; ++lane) {
      std::uint32_t word;
      std::memcpy(&word, data[lane] + at + 4 * i, 4);
      if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap32(word);
      x[i][lane] = word;
    }
  }
}

#ifdef VELDRANO_MD5_X86
// A load and transposition per four words, instead of a word at a time.
template <>
inline void LoadWords<Four, 4>(Four x[16], const std::uint8_t* const data[4], std::size_t at) {
  for (int q = 0; q < 4; ++q) {
    const auto load = [&](int lane) {
      return _mm_loadu_si128(reinterpret_cast<const __m128i*>(data[lane] + at + 16 * q));
    };
    const __m128i r0 = load(0), r1 = load(1), r2 = load(2), r3 = load(3);
    const __m128i low01 = _mm_unpacklo_epi32(r0, r1), high01 = _mm_unpackhi_epi32(r0, r1);
    const __m128i low23 = _mm_unpacklo_epi32(r2, r3), high23 = _mm_unpackhi_epi32(r2, r3);
    x[4 * q + 0] = reinterpret_cast<Four>(_mm_unpacklo_epi64(low01, low23));
    x[4 * q + 1] = reinterpret_cast<Four>(_mm_unpackhi_epi64(low01, low23));
    x[4 * q + 2] = reinterpret_cast<Four>(_mm_unpacklo_epi64(high01, high23));
    x[4 * q + 3] = reinterpret_cast<Four>(_mm_unpackhi_epi64(high01, high23));
  }
}

template <>
__attribute__((target("avx2"))) inline void LoadWords<Eight, 8>(Eight x[16], const std::uint8_t* const data[8],
                                                                std::size_t at) {
  for (int half = 0; half < 2; ++half) {
    __m256i row[8], pairs[8], quads[8];
    for (int lane = 0; lane < 8; ++lane)
      row[lane] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data[lane] + at + 32 * half));
    // Words 0,1 | 4,5 and 2,3 | 6,7 of two lanes; then one word of four
    // lanes in each 128-bit half; then the halves of lanes 0-3 and 4-7 joined.
    for (int p = 0; p < 4; ++p) {
      pairs[2 * p] = _mm256_unpacklo_epi32(row[2 * p], row[2 * p + 1]);
      pairs[2 * p + 1] = _mm256_unpackhi_epi32(row[2 * p], row[2 * p + 1]);
    }
    for (int p = 0; p < 2; ++p) {
      quads[4 * p + 0] = _mm256_unpacklo_epi64(pairs[4 * p], pairs[4 * p + 2]);
      quads[4 * p + 1] = _mm256_unpackhi_epi64(pairs[4 * p], pairs[4 * p + 2]);
      quads[4 * p + 2] = _mm256_unpacklo_epi64(pairs[4 * p + 1], pairs[4 * p + 3]);
      quads[4 * p + 3] = _mm256_unpackhi_epi64(pairs[4 * p + 1], pairs[4 * p + 3]);
    }
    for (int w = 0; w < 4; ++w) {
      x[8 * half + w] = reinterpret_cast<Eight>(_mm256_permute2x128_si256(quads[w], quads[4 + w], 0x20));
      x[8 * half + 4 + w] = reinterpret_cast<Eight>(_mm256_permute2x128_si256(quads[w], quads[4 + w], 0x31));
    }
  }
}

#endif

template <typename Vector, int Lanes>
[[gnu::always_inline]] inline void Fold(std::uint32_t* const states[Lanes], const std::uint8_t* const data[Lanes],
                                        std::size_t blocks) {
  Vector a, b, c, d;
  for (int lane = 0; lane < Lanes; ++lane) {
    a[lane] = states[lane][0];
    b[lane] = states[lane][1];
    c[lane] = states[lane][2];
    d[lane] = states[lane][3];
  }
  for (std::size_t at = 0; at < blocks * 64; at += 64) {
    Vector x[16];
    LoadWords<Vector, Lanes>(x, data, at);
    const Vector a0 = a, b0 = b, c0 = c, d0 = d;
#define MD5_LANES(R, a, b, c, d, i, s, t) MD5_##R(a, b, c, d, x[i], s, t)
    MD5_STEPS(MD5_LANES)
#undef MD5_LANES
    a += a0;
    b += b0;
    c += c0;
    d += d0;
  }
  for (int lane = 0; lane < Lanes; ++lane) {
    states[lane][0] = a[lane];
    states[lane][1] = b[lane];
    states[lane][2] = c[lane];
    states[lane][3] = d[lane];
  }
}

}  // namespace

void FoldFour(std::uint32_t* const states[4], const std::uint8_t* const data[4], std::size_t blocks) {
  Fold<Four, 4>(states, data, blocks);
}

#ifdef VELDRANO_MD5_X86
bool HasFoldEight() { return __builtin_cpu_supports("avx2"); }

__attribute__((target("avx2"))) void FoldEight(std::uint32_t* const states[8], const std::uint8_t* const data[8],
                                               std::size_t blocks) {
  Fold<Eight, 8>(states, data, blocks);
}
#else
bool HasFoldEight() { return false; }

void FoldEight(std::uint32_t* const states[8], const std::uint8_t* const data[8], std::size_t blocks) {
  FoldFour(states, data, blocks);
  FoldFour(states + 4, data + 4, blocks);
}
#endif

}  // namespace veldrano::md5_lanes
