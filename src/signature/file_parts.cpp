#include "signature/file_parts.h"

#include <array>
#include <bit>
#include <cerrno>
#include <cstring>

#include "signature/mix64.h"

namespace veldrano {

namespace {

constexpr std::array<HashStep, 1> WholeAtOnce{HashStep::Full};
constexpr std::array<HashStep, 2> PrefixFirst{HashStep::Prefix, HashStep::Full};
constexpr std::array<HashStep, 3> BothEnds{HashStep::Prefix, HashStep::Suffix, HashStep::Full};

constexpr std::uint64_t LaneA = 0x9E3779B97F4A7C15ull;
constexpr std::uint64_t LaneB = 0xC2B2AE3D27D4EB4Full;

}  // namespace

std::span<const HashStep> StepsFor(std::int64_t size) {
  if (size == 0) return WholeAtOnce;
  if (size < SuffixFromBytes) return PrefixFirst;
  return BothEnds;
}

std::optional<MD5Digest>& FileHashes::Of(HashStep step) {
  return step == HashStep::Prefix ? Prefix : step == HashStep::Suffix ? Suffix : Full;
}

const std::optional<MD5Digest>& FileHashes::Of(HashStep step) const {
  return step == HashStep::Prefix ? Prefix : step == HashStep::Suffix ? Suffix : Full;
}

MD5Digest PartHash(const void* data, std::size_t length) {
  // Two lanes of multiply and rotate (each step can be undone, so no input
  // is lost in the state), run side by side for speed, mixed at the end.
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::uint64_t a = LaneA ^ length, b = LaneB;
  const auto step = [&a, &b](std::uint64_t x, std::uint64_t y) {
    a = std::rotl((a ^ x) * Mix64A, 31) * LaneA;
    b = std::rotl((b ^ y) * Mix64B, 29) * LaneB;
  };
  std::size_t at = 0;
  for (; at + 16 <= length; at += 16) {
    std::uint64_t x = 0, y = 0;
    std::memcpy(&x, bytes + at, 8);
    std::memcpy(&y, bytes + at + 8, 8);
    step(x, y);
  }
  if (at < length) {
    unsigned char tail[16] = {};
    std::memcpy(tail, bytes + at, length - at);
    std::uint64_t x = 0, y = 0;
    std::memcpy(&x, tail, 8);
    std::memcpy(&y, tail + 8, 8);
    step(x, y);
  }
  const std::uint64_t high = Mix64(a ^ std::rotl(b, 17));
  const std::uint64_t low = Mix64(b ^ high);
  MD5Digest digest{};
  std::memcpy(digest.data(), &high, 8);
  std::memcpy(digest.data() + 8, &low, 8);
  return digest;
}

bool EndsAt(const platform::ReadOnlyFile& file, std::uint64_t total, WholeRead& read) {
  unsigned char beyond = 0;
  const ssize_t more = file.ReadAt(&beyond, 1, total);
  if (more == 0) return true;
  read.How = more > 0 ? WholeRead::Ending::Longer : WholeRead::Ending::ReadFailed;
  read.Error = more > 0 ? 0 : errno;
  return false;
}

std::size_t ReadNext(const platform::ReadOnlyFile& file, void* data, std::size_t n, std::uint64_t offset, bool* cached,
                     WholeRead& read) {
  const ssize_t got =
      read.Read == 0 && cached != nullptr ? file.ReadAt(data, n, offset, *cached) : file.ReadAt(data, n, offset);
  if (got < 0) {
    read.How = WholeRead::Ending::ReadFailed;
    read.Error = errno;
    return 0;
  }
  if (got == 0) read.How = WholeRead::Ending::EndedEarly;
  return static_cast<std::size_t>(got);
}

WholeRead ReadPart(const platform::ReadOnlyFile& file, std::int64_t size, HashStep step, FileHashes& hashes,
                   bool* cached) {
  WholeRead read;
  if (static_cast<std::int64_t>(file.Size()) != size) {
    read.How = WholeRead::Ending::SizeDiffers;
    return read;
  }
  const auto total = static_cast<std::uint64_t>(size);
  const std::uint64_t wanted = std::min(total, PartBytes);
  const std::uint64_t from = step == HashStep::Suffix ? total - wanted : 0;
  unsigned char buffer[PartBytes];
  while (read.Read < wanted) {
    const std::size_t got = ReadNext(file, buffer + read.Read, static_cast<std::size_t>(wanted - read.Read),
                                     from + read.Read, cached, read);
    if (got == 0) {
      if (read.How == WholeRead::Ending::EndedEarly) read.Read += from;
      return read;
    }
    read.Read += got;
  }
  if (step == HashStep::Prefix && !EndsAt(file, total, read)) return read;
  if (!file.Unchanged()) {
    read.How = WholeRead::Ending::Modified;
    return read;
  }
  hashes.Of(step) = PartHash(buffer, static_cast<std::size_t>(wanted));
  return read;
}

}  // namespace veldrano
