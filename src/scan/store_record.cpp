#include "scan/store_record.h"

#include <bit>
#include <cstring>

#include "signature/mix64.h"

namespace veldrano {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 0;
}

}  // namespace

Digest DigestOf(std::string_view signature) {
  Digest digest{};
  for (std::size_t i = 0; i < digest.size() && 2 * i + 1 < signature.size(); ++i) {
    digest[i] = static_cast<std::uint8_t>(HexValue(signature[2 * i]) << 4 | HexValue(signature[2 * i + 1]));
  }
  return digest;
}

std::string SignatureOf(const Digest& digest) {
  static constexpr char Hex[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(2 * digest.size());
  for (const std::uint8_t byte : digest) {
    text += Hex[byte >> 4];
    text += Hex[byte & 15];
  }
  return text;
}

namespace {

constexpr HashStep AllSteps[] = {HashStep::Prefix, HashStep::Suffix, HashStep::Full};
// The top bits of the length word tell which hashes follow the state.
constexpr int KnownShift = 29;
constexpr std::uint32_t LengthMask = (std::uint32_t{1} << KnownShift) - 1;

}  // namespace

std::size_t BlobBytes(std::size_t lengthWord) {
  const auto word = static_cast<std::uint32_t>(lengthWord);
  return sizeof(std::uint32_t) + (word & LengthMask) + sizeof(FileState) +
         static_cast<std::size_t>(std::popcount(word >> KnownShift)) * sizeof(MD5Digest);
}

std::size_t HashBytes(const FileHashes& hashes) {
  std::size_t bytes = 0;
  for (const HashStep step : AllSteps) bytes += hashes.Of(step) ? sizeof(MD5Digest) : 0;
  return bytes;
}

void AppendBlob(std::string& out, const StoredFile& file) {
  auto word = static_cast<std::uint32_t>(file.Path.size());
  for (std::size_t i = 0; i < std::size(AllSteps); ++i) {
    if (file.Hashes.Of(AllSteps[i])) word |= std::uint32_t{1} << (KnownShift + i);
  }
  out.append(reinterpret_cast<const char*>(&word), sizeof word);
  out.append(file.Path);
  out.append(reinterpret_cast<const char*>(&file.State), sizeof file.State);
  for (const HashStep step : AllSteps) {
    if (const auto& hash = file.Hashes.Of(step)) out.append(reinterpret_cast<const char*>(hash->data()), hash->size());
  }
}

bool ParseBlob(std::string_view bytes, StoredFile& file) {
  std::uint32_t word = 0;
  if (bytes.size() < sizeof word) return false;
  std::memcpy(&word, bytes.data(), sizeof word);
  if (bytes.size() < BlobBytes(word)) return false;
  const char* at = bytes.data() + sizeof word;
  const std::uint32_t length = word & LengthMask;
  file.Path.assign(at, length);
  at += length;
  std::memcpy(&file.State, at, sizeof file.State);
  at += sizeof file.State;
  file.Hashes = {};
  for (std::size_t i = 0; i < std::size(AllSteps); ++i) {
    if ((word >> (KnownShift + i) & 1) == 0) continue;
    MD5Digest hash{};
    std::memcpy(hash.data(), at, hash.size());
    at += hash.size();
    file.Hashes.Of(AllSteps[i]) = hash;
  }
  return true;
}

StoreRecord StoreRecord::HeadKey(std::int64_t size) {
  StoreRecord key;
  key.Size = size;
  key.Ref = HeadBit;
  return key;
}

StoreRecord StoreRecord::LineKey(std::int64_t size, HashStep step, const Digest& hash) {
  StoreRecord key;
  key.Size = size;
  key.Signature = hash;
  key.Ref = static_cast<std::uint64_t>(step) << StepShift;
  return key;
}

StoreRecord StoreRecord::IdentityKey(std::uint64_t device, std::uint64_t inode) {
  StoreRecord key;
  key.Size = static_cast<std::int64_t>(inode);
  std::memcpy(key.Signature.data(), &device, sizeof device);
  key.Ref = IdentityBit;
  return key;
}

bool StoreRecord::SameKey(const StoreRecord& other) const {
  return Size == other.Size && (Ref & KindMask) == (other.Ref & KindMask) && (IsHead() || Signature == other.Signature);
}

std::uint64_t HashOf(const StoreRecord& record, std::uint64_t seed) {
  std::uint64_t low = 0, high = 0;
  std::memcpy(&low, record.Signature.data(), 8);
  std::memcpy(&high, record.Signature.data() + 8, 8);
  std::uint64_t h = Mix64(static_cast<std::uint64_t>(record.Size) ^ seed);
  if (record.IsHead()) return Mix64(h ^ 0x68656164ull);              // "head"
  if (record.IsIdentity()) return Mix64(h ^ low ^ 0x6964656E74ull);  // "ident"
  return Mix64(Mix64(h ^ low ^ (record.Ref & StoreRecord::StepMask)) ^ high);
}

}  // namespace veldrano
