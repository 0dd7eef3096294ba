#include "report/decimal_separator.h"

#include <clocale>
#include <locale>

namespace veldrano {

char DecimalSeparator() {
  const char* point = std::localeconv()->decimal_point;
  return point != nullptr && point[0] != '\0' ? point[0] : '.';
}

void UsePointAsDecimalSeparator() {
  // C conversions (printf and friends) follow LC_NUMERIC, C++ streams the
  // global locale's numeric facet: both are switched to the point.
  std::setlocale(LC_NUMERIC, "C");
  std::locale::global(std::locale(std::locale(), std::locale::classic(), std::locale::numeric));
}

}  // namespace veldrano
