#include "report/stimazioni.h"

#include <cmath>
#include <cstdio>

#include "platform/tick_count.h"

namespace veldrano {

namespace {

// A whole number, with a 0 in front while it is shorter than two characters.
std::string Field(long double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.0Lf", value + 0.0L);  // + 0.0 turns -0 into 0
  std::string field = text;
  while (field.size() < 2) field.insert(0, 1, '0');
  return field;
}

}  // namespace

TStimazioni::TStimazioni() : TStimazioni([] { return static_cast<long double>(platform::TickCount()); }) {}

TStimazioni::TStimazioni(Clock clock) : clock_(std::move(clock)), StartTick(clock_()) {}

std::string TStimazioni::Estimate(long double done, long double total) {
  std::string result = LastText;
  if (LastCallTick == 0) {
    // The time before the first call (the counting pass) does not count.
    StartTick = clock_();
    RefreshTick = clock_();
    LastCallTick = clock_();
  } else {
    LastCallTick = clock_();
  }
  if (LastCallTick - RefreshTick > 250) {
    const long double rate = done / (LastCallTick - StartTick) * 1000;  // items per second
    long double r = (total - done) / rate;                              // seconds still needed
    if (!std::isfinite(r)) return result;                               // nothing done yet: no rate to go by

    const long double years = std::trunc(r / 31104000);
    r -= years * 12 * 30 * 24 * 60 * 60;
    const long double months = std::trunc(r / 2592000);
    r -= months * 30 * 24 * 60 * 60;
    const long double days = std::trunc(r / 86400);
    r -= days * 24 * 60 * 60;
    const long double hours = std::trunc(r / 3600);
    r -= hours * 60 * 60;
    const long double minutes = std::trunc(r / 60);
    r -= minutes * 60;
    const long double seconds = std::trunc(r);

    result = Field(years) + "/" + Field(months) + "/" + Field(days) + " " + Field(hours) + ":" + Field(minutes) + ":" +
             Field(seconds);
    LastText = result;
    RefreshTick = clock_();
  }
  return result;
}

}  // namespace veldrano
