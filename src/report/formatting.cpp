#include "report/formatting.h"

#include <cmath>
#include <cstdio>

#include "report/decimal_separator.h"

namespace veldrano {

namespace {

// value rounded to three significant digits: digits holds them (trailing
// zeros dropped, at least one digit), exponent the power of ten of the first.
// The fourth digit of the 18-digit decimal expansion decides, 5 and up
// rounding away from zero.
struct ThreeDigits {
  std::string digits;
  int exponent = 0;
};

ThreeDigits RoundToThreeDigits(long double magnitude) {
  const DecimalDigits expansion = DecimalExpansion(magnitude);
  const std::string& mantissa = expansion.digits;
  int exponent = expansion.exponent;
  int first3 = (mantissa[0] - '0') * 100 + (mantissa[1] - '0') * 10 + (mantissa[2] - '0');
  if (mantissa[3] >= '5') ++first3;
  if (first3 == 1000) {
    first3 = 100;
    ++exponent;
  }
  ThreeDigits result{std::to_string(first3), exponent};
  while (result.digits.size() > 1 && result.digits.back() == '0') result.digits.pop_back();
  return result;
}

// Three significant digits in general form: fixed up to three integer
// digits, exponent form ("1.02E3") from 1000 on.
std::string GeneralThreeDigits(long double value) {
  const ThreeDigits r = RoundToThreeDigits(std::fabs(value));
  const int e = r.exponent;
  std::string text = value < 0 ? "-" : "";
  if (e >= 3 || e < -5) {
    text += r.digits[0];
    if (r.digits.size() > 1) text.append(1, '.').append(r.digits, 1);
    return text.append(1, 'E').append(std::to_string(e));
  }
  if (e < 0) return text.append("0.").append(static_cast<std::size_t>(-e - 1), '0').append(r.digits);
  const auto integerDigits = static_cast<std::size_t>(e + 1);
  std::string digits = r.digits;
  if (digits.size() < integerDigits) digits.append(integerDigits - digits.size(), '0');
  text.append(digits, 0, integerDigits);
  if (digits.size() > integerDigits) text.append(1, '.').append(digits, integerDigits);
  return text;
}

}  // namespace

DecimalDigits DecimalExpansion(long double value) {
  char expansion[64];
  std::snprintf(expansion, sizeof expansion, "%.17Le", std::fabs(value));  // d.ddddddddddddddddde±x
  DecimalDigits result;
  const char* p = expansion;
  for (; *p != 'e' && *p != '\0'; ++p) {
    if (*p >= '0' && *p <= '9') result.digits += *p;
  }
  result.exponent = value == 0 || *p != 'e' ? 0 : std::atoi(p + 1);
  return result;
}

std::string FloatToText(long double value) {
  char text[64];
  if (value == std::trunc(value) && std::fabs(value) < 9.2e18L) {
    std::snprintf(text, sizeof text, "%lld", static_cast<long long>(value));
  } else {
    std::snprintf(text, sizeof text, "%.15Lg", value);
  }
  return text;
}

std::string FormatCount(char separator, long double value) {
  std::string text = FloatToText(value);
  // Group only the run of digits at the start (after a sign), so that a
  // negative count reads "-1 234".
  const std::size_t first = (!text.empty() && text[0] == '-') ? 1 : 0;
  std::size_t last = first;
  while (last < text.size() && text[last] >= '0' && text[last] <= '9') ++last;
  for (std::size_t p = last; p > first + 3;) {
    p -= 3;
    text.insert(p, 1, separator);
  }
  return text;
}

std::string FormatSize(long double value) {
  if (DecimalSeparator() != '.') UsePointAsDecimalSeparator();

  if (value == 0) return "0 byte";
  constexpr long double Kb = 1024.0L, Mb = Kb * 1024, Gb = Mb * 1024, Tb = Gb * 1024;
  if (value < Kb) return GeneralThreeDigits(value) + " bytes";
  if (value < Mb) return GeneralThreeDigits(value / Kb) + " Kb";
  if (value < Gb) return GeneralThreeDigits(value / Mb) + " Mb";
  if (value < Tb) return GeneralThreeDigits(value / Gb) + " Gb";
  return GeneralThreeDigits(value / Tb) + " Tb";
}

}  // namespace veldrano
