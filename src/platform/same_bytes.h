#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <future>
#include <optional>
#include <vector>

#include "platform/read_only_file.h"

namespace veldrano::platform {

// Compares two open files byte by byte: the proof that one is a copy of the
// other, which an equal signature is not.
class ByteComparer {
 public:
  // Files are read blockBytes at a time.
  explicit ByteComparer(std::size_t blockBytes = std::size_t{1} << 20) : blockBytes_(blockBytes) {}

  enum class Verdict { Equal, Different, Failed, Stopped };
  // Equal only when both were read whole, with no byte apart, and neither
  // changed meanwhile (size and times as when opened). Failed when a read
  // fails or a file changes while it is read. keepGoing is asked after each
  // block; false ends the comparison as Stopped.
  Verdict Compare(const ReadOnlyFile& a, const ReadOnlyFile& b, const std::function<bool()>& keepGoing = {});
  // Runs a task on another thread when one is free (its future then tells
  // when it is done); nothing when none is.
  using Helper = std::function<std::optional<std::future<void>>(std::function<void()>)>;
  // The same, with afterBlock(bytes compared so far) asked instead; each
  // block of b, once found equal, is shown to sawOfB (when given), in order:
  // what reading b whole would see, when the verdict is Equal (sawOfB may
  // then be called on helper's thread: never on two at once).
  // With a helper that takes a part of HandedPartBytes or more, two files
  // are compared in two halves at once; or, with sawOfB, the rest of b is
  // shown to it there, while this side only compares.
  Verdict Compare(const ReadOnlyFile& a, const ReadOnlyFile& b, const std::function<bool(std::uint64_t)>& afterBlock,
                  const std::function<void(const char*, std::size_t)>& sawOfB = {}, const Helper& helper = {});

  // A part worth handing over: a millisecond or more of work, against the
  // few microseconds of handing it over.
  static constexpr std::uint64_t HandedPartBytes = std::uint64_t{2} << 20;

 private:
  // Compares the bytes in [from, to) a block at a time; onBlock(b's block,
  // its bytes, bytes of the range done so far) after each equal block,
  // false to stop.
  using OnBlock = std::function<bool(const char*, std::size_t, std::uint64_t)>;
  static Verdict CompareRange(const ReadOnlyFile& a, const ReadOnlyFile& b, std::uint64_t from, std::uint64_t to,
                              std::vector<char>& first, std::vector<char>& second, const OnBlock& onBlock);

  std::size_t blockBytes_;
  std::vector<char> first_, second_;  // kept from one comparison to the next
};

}  // namespace veldrano::platform
