#pragma once
#include <string>

namespace veldrano::platform {

// The user's long time form: hours, minutes and seconds joined by the
// locale's time separator, on a 12- or 24-hour clock as the locale says.
// Derived from the C library's locale data (the time format T_FMT, with its
// %r expanded to T_FMT_AMPM, and the AM/PM strings).
struct LongTimeFormat {
  bool twelveHour = false;
  bool hourLeadingZero = true;
  bool markerFirst = false;  // 12-hour clock: the AM/PM marker stands before the time
  std::string separator = ":";
  std::string am;
  std::string pm;

  // localeName "" is the user's locale from the environment (LC_ALL,
  // LC_TIME, LANG); a locale that is not installed gives the C locale's form.
  static LongTimeFormat ForLocale(const char* localeName);
  // The form read from a strftime-style time format.
  static LongTimeFormat FromPattern(const std::string& pattern, std::string am, std::string pm);

  std::string Format(int hour, int minute, int second) const;
};

// The current local time in the user's long time form.
std::string LocalTimeText();

}  // namespace veldrano::platform
