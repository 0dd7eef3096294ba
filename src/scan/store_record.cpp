#include "scan/store_record.h"

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

std::size_t BlobBytes(std::size_t pathBytes) { return sizeof(std::uint32_t) + pathBytes + sizeof(FileState); }

void AppendBlob(std::string& out, const StoredFile& file) {
  const auto length = static_cast<std::uint32_t>(file.Path.size());
  out.append(reinterpret_cast<const char*>(&length), sizeof length);
  out.append(file.Path);
  out.append(reinterpret_cast<const char*>(&file.State), sizeof file.State);
}

bool ParseBlob(std::string_view bytes, StoredFile& file) {
  std::uint32_t length = 0;
  if (bytes.size() < sizeof length) return false;
  std::memcpy(&length, bytes.data(), sizeof length);
  if (bytes.size() < BlobBytes(length)) return false;
  file.Path.assign(bytes.data() + sizeof length, length);
  std::memcpy(&file.State, bytes.data() + sizeof length + length, sizeof file.State);
  return true;
}

StoreRecord StoreRecord::HeadKey(std::int64_t size) {
  StoreRecord key;
  key.Size = size;
  key.Ref = HeadBit;
  return key;
}

StoreRecord StoreRecord::LineKey(std::int64_t size, const Digest& signature) {
  StoreRecord key;
  key.Size = size;
  key.Signature = signature;
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
  return Mix64(Mix64(h ^ low) ^ high);
}

}  // namespace veldrano
