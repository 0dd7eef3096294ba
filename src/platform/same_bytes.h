#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
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
  // The same, with afterBlock(bytes compared so far) asked instead; each
  // block of b, once found equal, is shown to sawOfB (when given), in order:
  // what reading b whole would see, when the verdict is Equal.
  Verdict Compare(const ReadOnlyFile& a, const ReadOnlyFile& b, const std::function<bool(std::uint64_t)>& afterBlock,
                  const std::function<void(const char*, std::size_t)>& sawOfB = {});

 private:
  std::size_t blockBytes_;
  std::vector<char> first_, second_;  // kept from one comparison to the next
};

}  // namespace veldrano::platform
