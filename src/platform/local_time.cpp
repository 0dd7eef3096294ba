#include "platform/local_time.h"

#include <langinfo.h>
#include <locale.h>
#include <cstdio>
#include <ctime>

namespace veldrano::platform {

namespace {

struct Conversion {
  std::string::size_type begin = std::string::npos;  // position of the '%'
  std::string::size_type end = std::string::npos;    // one past the letter
  char letter = 0;
  char flag = 0;  // '-', '_', '0' or 0
};

// Finds the next conversion whose letter is among letters, from position from.
Conversion FindConversion(const std::string& pattern, const std::string& letters, std::string::size_type from = 0) {
  for (auto i = pattern.find('%', from); i != std::string::npos; i = pattern.find('%', i + 1)) {
    Conversion c;
    c.begin = i;
    auto j = i + 1;
    if (j < pattern.size() &&
        (pattern[j] == '-' || pattern[j] == '_' || pattern[j] == '0' || pattern[j] == '^' || pattern[j] == '#')) {
      c.flag = pattern[j++];
    }
    if (j < pattern.size() && (pattern[j] == 'E' || pattern[j] == 'O')) ++j;
    if (j >= pattern.size()) break;
    if (pattern[j] == '%') {  // a literal percent sign
      i = j;
      continue;
    }
    if (letters.find(pattern[j]) != std::string::npos) {
      c.letter = pattern[j];
      c.end = j + 1;
      return c;
    }
  }
  return {};
}

void Replace(std::string& pattern, const std::string& conversion, const std::string& by) {
  for (auto i = pattern.find(conversion); i != std::string::npos; i = pattern.find(conversion, i + by.size())) {
    pattern.replace(i, conversion.size(), by);
  }
}

std::string TwoDigits(int value) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d", value);
  return text;
}

struct LocaleHandle {
  locale_t handle;
  explicit LocaleHandle(const char* name) : handle(newlocale(LC_TIME_MASK, name, static_cast<locale_t>(0))) {}
  ~LocaleHandle() {
    if (handle != static_cast<locale_t>(0)) freelocale(handle);
  }
  LocaleHandle(const LocaleHandle&) = delete;
  LocaleHandle& operator=(const LocaleHandle&) = delete;
};

}  // namespace

LongTimeFormat LongTimeFormat::FromPattern(const std::string& timePattern, std::string am, std::string pm) {
  std::string pattern = timePattern;
  Replace(pattern, "%T", "%H:%M:%S");
  Replace(pattern, "%R", "%H:%M");

  LongTimeFormat format;
  format.am = std::move(am);
  format.pm = std::move(pm);
  const Conversion hour = FindConversion(pattern, "HIkl");
  if (hour.letter == 0) return format;  // no hours in it: keep the 24-hour default

  format.twelveHour = hour.letter == 'I' || hour.letter == 'l';
  format.hourLeadingZero =
      (hour.letter == 'H' || hour.letter == 'I') ? hour.flag != '-' && hour.flag != '_' : hour.flag == '0';
  const Conversion minute = FindConversion(pattern, "M", hour.end);
  if (minute.letter != 0 && minute.begin > hour.end) {
    format.separator = pattern.substr(hour.end, minute.begin - hour.end);
  }
  const Conversion marker = FindConversion(pattern, "pP");
  format.markerFirst = marker.letter != 0 && marker.begin < hour.begin;
  return format;
}

LongTimeFormat LongTimeFormat::ForLocale(const char* localeName) {
  LocaleHandle locale(localeName);
  if (locale.handle == static_cast<locale_t>(0)) return FromPattern("%H:%M:%S", "AM", "PM");
  std::string pattern = nl_langinfo_l(T_FMT, locale.handle);
  const std::string ampmPattern = nl_langinfo_l(T_FMT_AMPM, locale.handle);
  Replace(pattern, "%r", ampmPattern);
  Replace(pattern, "%X", "%H:%M:%S");  // a time format that names itself: take the plain form
  return FromPattern(pattern, nl_langinfo_l(AM_STR, locale.handle), nl_langinfo_l(PM_STR, locale.handle));
}

std::string LongTimeFormat::Format(int hour, int minute, int second) const {
  int shownHour = hour;
  if (twelveHour) {
    shownHour = hour % 12;
    if (shownHour == 0) shownHour = 12;
  }
  std::string time = hourLeadingZero ? TwoDigits(shownHour) : std::to_string(shownHour);
  time += separator + TwoDigits(minute) + separator + TwoDigits(second);
  if (!twelveHour) return time;
  const std::string& marker = hour < 12 ? am : pm;
  if (marker.empty()) return time;
  return markerFirst ? marker + " " + time : time + " " + marker;
}

std::string LocalTimeText() {
  // The locale is read once: a running program does not change its user.
  static const LongTimeFormat format = LongTimeFormat::ForLocale("");
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return format.Format(local.tm_hour, local.tm_min, local.tm_sec);
}

}  // namespace veldrano::platform
