#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace veldrano {

// A signature in its 16 bytes (the text form is 32 hexadecimal digits).
using Digest = std::array<std::uint8_t, 16>;

Digest DigestOf(std::string_view signature);
std::string SignatureOf(const Digest& digest);

// One record of the size-keyed store, in memory and on disk alike. An entry
// (all the files met of one size) is a head record and, once a second
// content of that size has turned up, one line record per content:
// - head, unsigned: the entry's only line is the first file of its size,
//   not hashed yet; Ref names that file's path;
// - head, signed: the entry's lines are line records;
// - line: the first file met with this size and signature (Digest).
// A record whose Ref is 0 is an empty slot.
struct StoreRecord {
  static constexpr std::uint64_t HeadBit = std::uint64_t{1} << 63;
  static constexpr std::uint64_t SignedBit = std::uint64_t{1} << 62;
  static constexpr std::uint64_t PathMask = SignedBit - 1;

  std::int64_t Size = 0;
  Digest Signature{};     // zero in a head
  std::uint64_t Ref = 0;  // kind bits, then the path's offset + 1 (0: no path)

  static StoreRecord HeadKey(std::int64_t size);
  static StoreRecord LineKey(std::int64_t size, const Digest& signature);

  bool IsEmpty() const { return Ref == 0; }
  bool IsHead() const { return (Ref & HeadBit) != 0; }
  bool IsSigned() const { return (Ref & SignedBit) != 0; }
  bool HasPath() const { return (Ref & PathMask) != 0; }
  std::uint64_t PathOffset() const { return (Ref & PathMask) - 1; }
  void SetPath(std::uint64_t offset) { Ref = (Ref & ~PathMask) | (offset + 1); }
  // A signed head names no file of its own.
  void MakeSigned() { Ref = HeadBit | SignedBit; }

  // Same size, same kind (head or line), same signature.
  bool SameKey(const StoreRecord& other) const;
};
static_assert(sizeof(StoreRecord) == 32, "records are stored on disk as they are in memory");

// Where a record goes in a hash table. seed is chosen at random for each
// run, so that no set of files can be made to collide in it.
std::uint64_t HashOf(const StoreRecord& record, std::uint64_t seed);

}  // namespace veldrano
