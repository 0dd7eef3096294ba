#pragma once
#include <cstdint>
#include <string_view>

namespace veldrano::platform {

// The machine's memory figures, in bytes.
struct MemoryStatus {
  std::uint64_t TotalPhys = 0;
  std::uint64_t AvailPhys = 0;
  std::uint64_t TotalPageFile = 0;  // the swap
  std::uint64_t AvailPageFile = 0;
  std::uint64_t TotalVirtual = 0;  // the process's address space
  std::uint64_t AvailVirtual = 0;
};

// The size of the user address space of a 64-bit process (47 bits): the
// total virtual memory when the address space is not limited.
inline constexpr std::uint64_t kUserAddressSpace = std::uint64_t{1} << 47;

// The figures from the texts of /proc/meminfo and /proc/self/status, for a
// process whose address space is limited to addressSpaceLimit bytes.
// Physical memory is MemTotal with MemAvailable (MemFree on kernels without
// it) available; the page file is the swap (SwapTotal, SwapFree); the
// virtual space available is the limit less the process's VmSize. Missing
// fields count as 0; nothing available exceeds its total.
MemoryStatus MemoryStatusFromProc(std::string_view meminfo, std::string_view selfStatus,
                                  std::uint64_t addressSpaceLimit);

// The process's address-space limit (RLIMIT_AS), kUserAddressSpace when
// there is none.
std::uint64_t AddressSpaceLimit();

// The figures of this machine and process now.
MemoryStatus ReadMemoryStatus();

}  // namespace veldrano::platform
