#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "platform/memory_status.h"

namespace veldrano {

// The share of physical memory in use, in whole percent (a half to the even
// neighbour).
std::uint32_t MemoryLoad(const platform::MemoryStatus& status);

// value (not negative) rounded to one decimal, or to the unit from five
// integer digits on so that no more than five significant digits are shown
// where that is possible, written with all its integer digits and exactly
// one digit after the process's decimal separator: 2047.5, 37.0, 131072.0.
// A half rounds away from zero.
std::string Fixed1(long double value);

// The texts the memory window shows.
struct MemoryTexts {
  std::string Load;  // "Memory load: 42 %"
  // Columns Physical, PageFile, Virtual.
  std::array<std::string, 3> Available;  // megabytes, no unit: "512.0"
  std::array<std::string, 3> Total;
  std::array<std::string, 3> Used;  // "75.0 %"
};
MemoryTexts MemoryPanelTexts(const platform::MemoryStatus& status);

}  // namespace veldrano
