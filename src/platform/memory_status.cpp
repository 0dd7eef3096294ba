#include "platform/memory_status.h"

#include <sys/resource.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

namespace veldrano::platform {

namespace {

// The value of "Key:   1234 kB" in a /proc text, in bytes (a field without
// unit is taken as it is).
std::optional<std::uint64_t> ProcField(std::string_view text, std::string_view key) {
  std::size_t lineStart = 0;
  while (lineStart < text.size()) {
    std::size_t lineEnd = text.find('\n', lineStart);
    if (lineEnd == std::string_view::npos) lineEnd = text.size();
    const std::string_view line = text.substr(lineStart, lineEnd - lineStart);
    lineStart = lineEnd + 1;
    if (line.size() <= key.size() || line.substr(0, key.size()) != key || line[key.size()] != ':') {
      continue;
    }
    std::size_t p = key.size() + 1;
    while (p < line.size() && (line[p] == ' ' || line[p] == '\t')) ++p;
    std::uint64_t value = 0;
    for (; p < line.size() && line[p] >= '0' && line[p] <= '9'; ++p) {
      value = value * 10 + static_cast<std::uint64_t>(line[p] - '0');
    }
    while (p < line.size() && (line[p] == ' ' || line[p] == '\t')) ++p;
    return line.substr(p, 2) == "kB" ? value * 1024 : value;
  }
  return std::nullopt;
}

std::string ReadWholeFile(const char* path) {
  std::ifstream file(path);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace

MemoryStatus MemoryStatusFromProc(std::string_view meminfo, std::string_view selfStatus,
                                  std::uint64_t addressSpaceLimit) {
  MemoryStatus s;
  s.TotalPhys = ProcField(meminfo, "MemTotal").value_or(0);
  s.AvailPhys =
      std::min(ProcField(meminfo, "MemAvailable").value_or(ProcField(meminfo, "MemFree").value_or(0)), s.TotalPhys);
  s.TotalPageFile = ProcField(meminfo, "SwapTotal").value_or(0);
  s.AvailPageFile = std::min(ProcField(meminfo, "SwapFree").value_or(0), s.TotalPageFile);
  s.TotalVirtual = addressSpaceLimit;
  const std::uint64_t vmSize = ProcField(selfStatus, "VmSize").value_or(0);
  s.AvailVirtual = vmSize < addressSpaceLimit ? addressSpaceLimit - vmSize : 0;
  return s;
}

std::uint64_t AddressSpaceLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kUserAddressSpace;
  return static_cast<std::uint64_t>(limit.rlim_cur);
}

MemoryStatus ReadMemoryStatus() {
  return MemoryStatusFromProc(ReadWholeFile("/proc/meminfo"), ReadWholeFile("/proc/self/status"), AddressSpaceLimit());
}

}  // namespace veldrano::platform
