#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace veldrano {

// A signature in its 16 bytes (the text form is 32 hexadecimal digits).
using Digest = std::array<std::uint8_t, 16>;

Digest DigestOf(std::string_view signature);
std::string SignatureOf(const Digest& digest);

// What tells whether a file is still the one that was read: which file it
// is, and when its contents or its inode last changed (nanoseconds).
struct FileState {
  std::uint64_t Device = 0;
  std::uint64_t Inode = 0;
  std::int64_t ModifiedNs = 0;
  std::int64_t ChangedNs = 0;
  bool operator==(const FileState&) const = default;
};

// A file the store names: its path and its state when it was read or listed.
struct StoredFile {
  std::string Path;
  FileState State;
};

// How a stored file is kept, in memory and on disk alike: the path's length
// in 4 bytes, its bytes, then the state.
std::size_t BlobBytes(std::size_t pathBytes);
void AppendBlob(std::string& out, const StoredFile& file);
// Reads a blob back from its bytes; false when they are cut short.
bool ParseBlob(std::string_view bytes, StoredFile& file);

// One record of the size-keyed store, in memory and on disk alike. An entry
// (all the files met of one size) is a head record and, once a second
// content of that size has turned up, one line record per content:
// - head, unsigned: the entry's only line is the first file of its size;
//   Ref names that file. Once hashed, its signature is kept in Signature;
// - head, signed: the entry's lines are line records;
// - line: the first file met with this size and signature (Signature).
// An identity record tells that a file (device and inode) was met in this
// run: Size holds its inode, Signature begins with its device.
// A record whose Ref is 0 is an empty slot.
struct StoreRecord {
  static constexpr std::uint64_t HeadBit = std::uint64_t{1} << 63;
  static constexpr std::uint64_t SignedBit = std::uint64_t{1} << 62;
  static constexpr std::uint64_t HashedBit = std::uint64_t{1} << 61;
  static constexpr std::uint64_t IdentityBit = std::uint64_t{1} << 60;
  static constexpr std::uint64_t PathMask = IdentityBit - 1;
  static constexpr std::uint64_t KindMask = HeadBit | IdentityBit;

  std::int64_t Size = 0;
  Digest Signature{};     // a line's key; an unsigned head's signature once hashed
  std::uint64_t Ref = 0;  // kind bits, then the stored file's offset + 1 (0: none)

  static StoreRecord HeadKey(std::int64_t size);
  static StoreRecord LineKey(std::int64_t size, const Digest& signature);
  static StoreRecord IdentityKey(std::uint64_t device, std::uint64_t inode);

  bool IsEmpty() const { return Ref == 0; }
  bool IsHead() const { return (Ref & HeadBit) != 0; }
  bool IsIdentity() const { return (Ref & IdentityBit) != 0; }
  bool IsSigned() const { return IsHead() && (Ref & SignedBit) != 0; }
  bool IsHashed() const { return IsHead() && (Ref & HashedBit) != 0; }
  // Whether the record names a file: lines and unsigned heads do.
  bool NamesFile() const { return !IsIdentity() && !IsSigned(); }
  bool HasPath() const { return (Ref & PathMask) != 0; }
  std::uint64_t PathOffset() const { return (Ref & PathMask) - 1; }
  void SetPath(std::uint64_t offset) { Ref = (Ref & ~PathMask) | (offset + 1); }
  // A signed head names no file of its own.
  void MakeSigned() { Ref = HeadBit | SignedBit; }
  void SetHeadSignature(const Digest& signature) {
    Signature = signature;
    Ref |= HashedBit;
  }

  // Same kind and same key: the size for a head, the size and signature for
  // a line, the device and inode for an identity.
  bool SameKey(const StoreRecord& other) const;
};
static_assert(sizeof(StoreRecord) == 32, "records are stored on disk as they are in memory");

// Where a record goes in a hash table. seed is chosen at random for each
// run, so that no set of files can be made to collide in it.
std::uint64_t HashOf(const StoreRecord& record, std::uint64_t seed);

}  // namespace veldrano
