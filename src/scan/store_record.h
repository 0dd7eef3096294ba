#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "signature/file_parts.h"

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

// A file the store names: its path, its state when it was read or listed,
// and the hashes of its contents found so far (kept while the state holds).
struct StoredFile {
  std::string Path;
  FileState State;
  FileHashes Hashes;
};

// How a stored file is kept, in memory and on disk alike: a length word (the
// path's length in 4 bytes, whose top bits tell which hashes are known), the
// path's bytes, the state, then the hashes known.
// The bytes of a blob whose length word is lengthWord (for a path of
// lengthWord bytes without hashes).
std::size_t BlobBytes(std::size_t lengthWord);
// The bytes the known hashes add to a blob.
std::size_t HashBytes(const FileHashes& hashes);
void AppendBlob(std::string& out, const StoredFile& file);
// Reads a blob back from its bytes; false when they are cut short.
bool ParseBlob(std::string_view bytes, StoredFile& file);

// One record of the size-keyed store, in memory and on disk alike. The
// files of one size are told apart step by step (StepsFor: the first block,
// the last, the whole file), and the records of a size make a tree:
// - the head (key: the size) and, below it, a line for each hash met at the
//   first step (key: the size, the step and the hash), below each line one
//   for each hash met at the next step, down to lines of the whole file's
//   MD5 (its signature);
// - a record is alone while all the files that reached it look the same at
//   the steps below it: then it names the first of them (Ref), whose hashes
//   are kept with its path. Once a file differs, the record is split: it
//   names no file, and lines of the next step hold the files.
// An identity record tells that a file (device and inode) was met in this
// run: Size holds its inode, Signature begins with its device.
// A record whose Ref is 0 is an empty slot.
struct StoreRecord {
  static constexpr std::uint64_t HeadBit = std::uint64_t{1} << 63;
  static constexpr std::uint64_t SplitBit = std::uint64_t{1} << 62;
  static constexpr std::uint64_t IdentityBit = std::uint64_t{1} << 60;
  static constexpr int StepShift = 58;  // a line's step (HashStep), in 2 bits
  static constexpr std::uint64_t StepMask = std::uint64_t{3} << StepShift;
  static constexpr std::uint64_t PathMask = (std::uint64_t{1} << StepShift) - 1;
  static constexpr std::uint64_t KindMask = HeadBit | IdentityBit | StepMask;

  std::int64_t Size = 0;
  Digest Signature{};     // a line's hash at its step
  std::uint64_t Ref = 0;  // kind bits, then the stored file's offset + 1 (0: none)

  static StoreRecord HeadKey(std::int64_t size);
  static StoreRecord LineKey(std::int64_t size, HashStep step, const Digest& hash);
  static StoreRecord IdentityKey(std::uint64_t device, std::uint64_t inode);

  bool IsEmpty() const { return Ref == 0; }
  bool IsHead() const { return (Ref & HeadBit) != 0; }
  bool IsIdentity() const { return (Ref & IdentityBit) != 0; }
  bool IsSplit() const { return (Ref & SplitBit) != 0; }
  HashStep Step() const { return static_cast<HashStep>((Ref & StepMask) >> StepShift); }
  // Whether the record names a file: heads and lines not split do.
  bool NamesFile() const { return !IsIdentity() && !IsSplit(); }
  bool HasPath() const { return (Ref & PathMask) != 0; }
  std::uint64_t PathOffset() const { return (Ref & PathMask) - 1; }
  void SetPath(std::uint64_t offset) { Ref = (Ref & ~PathMask) | (offset + 1); }
  // A split record names no file of its own.
  void MakeSplit() { Ref = (Ref & KindMask) | SplitBit; }

  // Same kind and same key: the size for a head, the size, step and hash
  // for a line, the device and inode for an identity.
  bool SameKey(const StoreRecord& other) const;
};
static_assert(sizeof(StoreRecord) == 32, "records are stored on disk as they are in memory");

// Where a record goes in a hash table. seed is chosen at random for each
// run, so that no set of files can be made to collide in it.
std::uint64_t HashOf(const StoreRecord& record, std::uint64_t seed);

}  // namespace veldrano
