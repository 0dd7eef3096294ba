#pragma once
#include <string>

namespace veldrano {

// The 18 significant decimal digits of |value| and the power of ten of the
// first of them (0 for zero): what rounding to a number of digits goes by.
struct DecimalDigits {
  std::string digits;
  int exponent = 0;
};
DecimalDigits DecimalExpansion(long double value);

// The shortest decimal text of a number, with up to 15 significant digits;
// a whole number is written with all its digits and no decimal point (3 is
// "3"). The counters kept as extended floats are printed this way.
std::string FloatToText(long double value);

// A whole number with separator between groups of three digits counted from
// the right: FormatCount(' ', 1234567) is "1 234 567".
std::string FormatCount(char separator, long double value);

// A byte count as three significant digits and a unit that is a power of
// 1024: "0 byte", "512 bytes", "1.5 Kb", "1.02E3 Kb", "5 Gb". The first call
// makes "." the process-wide decimal separator.
std::string FormatSize(long double value);

}  // namespace veldrano
