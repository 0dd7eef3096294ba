#pragma once
// The steps of MD5's compression function, shared by the one-message code
// and the one that folds several messages at once in vector registers:
// written once, for any type that has the 32-bit operations (a word, or a
// vector of words, one per message).

// A macro rather than a function: a function returning a vector of 256
// bits would change its calling convention with the instructions allowed.
#define MD5_ROTATE_LEFT(x, n) (((x) << (n)) | ((x) >> (32 - (n))))

// The four rounds, written for a short dependency chain: F and G are formed
// so that one term needs only the words of earlier steps, and the message
// word and constant are added before the previous step's result is known.
#define MD5_F(a, b, c, d, x, s, t)  \
  a += (((c ^ d) & b) ^ d) + x + t; \
  a = MD5_ROTATE_LEFT(a, s) + b;
#define MD5_G(a, b, c, d, x, s, t) \
  a += x + t + (~d & c);           \
  a += d & b;                      \
  a = MD5_ROTATE_LEFT(a, s) + b;
#define MD5_H(a, b, c, d, x, s, t) \
  a += (b ^ c ^ d) + x + t;        \
  a = MD5_ROTATE_LEFT(a, s) + b;
#define MD5_I(a, b, c, d, x, s, t) \
  a += ((~d | b) ^ c) + x + t;     \
  a = MD5_ROTATE_LEFT(a, s) + b;

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
