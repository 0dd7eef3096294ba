#pragma once
#include <cstdint>
#include <optional>
#include <span>

#include "platform/read_only_file.h"
#include "signature/md5.h"

namespace veldrano {

// Files of one size are told apart by their parts before anyone reads them
// whole: their first block, then (for large files) their last, and only
// files equal in both are read whole for the MD5 that is their signature.
// A hash of a part only sends files on to the next step; two files are
// duplicates only by their MD5.
enum class HashStep : std::uint8_t { Full = 0, Prefix = 1, Suffix = 2 };

// The bytes of a part (the first and the last block of a file).
inline constexpr std::uint64_t PartBytes = 4096;
// From this size on (where the last block no longer overlaps the first),
// the last block is compared before a file is read whole. Measured on
// 100 000 files of up to 64 KiB, 5 % of them differing from another only
// in their last byte: with the threshold at 256 KiB the scan read 320 MB,
// at 8 KiB 190 MB, and took a quarter less CPU; files equal at both ends
// pay one more read of a block the whole read finds in memory anyway.
inline constexpr std::int64_t SuffixFromBytes = 2 * static_cast<std::int64_t>(PartBytes);

// The steps that tell files of size bytes apart, in order; the last is
// always Full. A file of a block or less is hashed whole by its first step
// too: the fast hash of its only block spares most of them an MD5, which
// only files equal in it need.
std::span<const HashStep> StepsFor(std::int64_t size);

// What is known of a file's contents: the hash of each step taken.
struct FileHashes {
  std::optional<MD5Digest> Prefix, Suffix, Full;
  std::optional<MD5Digest>& Of(HashStep step);
  const std::optional<MD5Digest>& Of(HashStep step) const;
  bool operator==(const FileHashes&) const = default;
};

// A 128-bit hash of a part: fast, not cryptographic (two parts that collide
// only cost a whole read).
MD5Digest PartHash(const void* data, std::size_t length);

// How reading a file, whole or a part of it, for its hashes ended.
struct WholeRead {
  enum class Ending { Whole, SizeDiffers, ReadFailed, EndedEarly, Longer, Modified, Dropped };
  Ending How = Ending::Whole;
  int Error = 0;           // ReadFailed: errno
  std::uint64_t Read = 0;  // bytes read
};

// Whether a read at total, where the file's size says it ends, finds its
// end; if not, read says why (Longer, or ReadFailed with its errno).
bool EndsAt(const platform::ReadOnlyFile& file, std::uint64_t total, WholeRead& read);

// One read of a file read in order for its hashes: up to n bytes at offset
// into data, the first (read.Read still 0) telling through cached, when
// given, whether they were in memory already. The bytes got; 0 when the read
// failed (ReadFailed, with its errno) or found the end, the file cut short
// since it was opened (EndedEarly), which read then says.
std::size_t ReadNext(const platform::ReadOnlyFile& file, void* data, std::size_t n, std::uint64_t offset, bool* cached,
                     WholeRead& read);

// Hashes the part of step (Prefix or Suffix) of the open file of size bytes
// into hashes. The first part also checks, as a whole read does, that a
// read at the file's size finds its end (pseudo-files say less than they
// hold); either checks that the file did not change meanwhile.
WholeRead ReadPart(const platform::ReadOnlyFile& file, std::int64_t size, HashStep step, FileHashes& hashes,
                   bool* cached = nullptr);

}  // namespace veldrano
