#include "report/memory_texts.h"

#include "report/decimal_separator.h"
#include "report/formatting.h"
#include "report/round_half_even.h"

namespace veldrano {

std::uint32_t MemoryLoad(const platform::MemoryStatus& status) {
  if (status.TotalPhys == 0) return 0;
  return static_cast<std::uint32_t>(
      RoundHalfEven(static_cast<long double>(status.TotalPhys - status.AvailPhys) / status.TotalPhys * 100));
}

std::string Fixed1(long double value) {
  // The 18-digit decimal expansion decides the rounding, as in FormatSize.
  DecimalDigits expansion = DecimalExpansion(value);
  std::string& digits = expansion.digits;
  const int exponent = expansion.exponent;
  // Power of ten of the last digit kept: the tenths while that keeps five
  // significant digits or fewer, else the units.
  const int lastPlace = exponent <= 3 ? -1 : 0;
  const int kept = exponent - lastPlace + 1;  // significant digits kept, may be 0 or less
  std::string number;                         // the rounded value in units of 10^lastPlace
  bool roundUp = false;
  if (kept > 0) {
    const auto count = static_cast<std::size_t>(kept);
    if (digits.size() < count + 1) digits.resize(count + 1, '0');
    number = digits.substr(0, count);
    roundUp = digits[count] >= '5';
  } else {
    roundUp = kept == 0 && digits[0] >= '5';
  }
  if (roundUp) {
    int i = static_cast<int>(number.size()) - 1;
    for (; i >= 0 && number[static_cast<std::size_t>(i)] == '9'; --i) {
      number[static_cast<std::size_t>(i)] = '0';
    }
    if (i >= 0) {
      ++number[static_cast<std::size_t>(i)];
    } else {
      number.insert(0, 1, '1');
    }
  }
  if (lastPlace == 0) number += '0';
  if (number.size() < 2) number.insert(0, 2 - number.size(), '0');
  std::string text = number.substr(0, number.size() - 1);
  text += DecimalSeparator();
  text += number.back();
  return text;
}

MemoryTexts MemoryPanelTexts(const platform::MemoryStatus& status) {
  MemoryTexts texts;
  texts.Load = "Memory load: " + std::to_string(MemoryLoad(status)) + " %";
  const std::array<std::uint64_t, 3> available{status.AvailPhys, status.AvailPageFile, status.AvailVirtual};
  const std::array<std::uint64_t, 3> total{status.TotalPhys, status.TotalPageFile, status.TotalVirtual};
  for (std::size_t i = 0; i < 3; ++i) {
    const std::uint64_t a = available[i];
    const std::uint64_t t = total[i];
    texts.Available[i] = Fixed1(static_cast<long double>(a) / 1024 / 1024);
    texts.Total[i] = Fixed1(static_cast<long double>(t) / 1024 / 1024);
    // No swap at all is a total of 0: nothing of it is in use.
    const std::uint64_t used = t > a ? t - a : 0;
    texts.Used[i] = Fixed1(t == 0 ? 0 : static_cast<long double>(used) / t * 100) + " %";
  }
  return texts;
}

}  // namespace veldrano
