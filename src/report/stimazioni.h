#pragma once
#include <functional>
#include <string>

namespace veldrano {

// Estimates the time still needed to finish total items when done of them
// are finished, from the average rate since the first estimate. The text has
// a fixed layout, years/months/days hours:minutes:seconds ("00/00/00 00:03:07"),
// with 360-day years and 30-day months. It is recomputed at most once per
// 250 ms of calls; in between, Estimate costs one clock reading.
class TStimazioni {
 public:
  // Milliseconds from a clock that never goes back.
  using Clock = std::function<long double()>;

  TStimazioni();  // on the monotonic tick count
  explicit TStimazioni(Clock clock);

  std::string Estimate(long double done, long double total);

 private:
  Clock clock_;
  long double StartTick;         // when the measurement began (the first Estimate)
  long double RefreshTick = 0;   // just after the text was last recomputed
  long double LastCallTick = 0;  // latest Estimate call; 0 before the first
  std::string LastText = "00/00/00 00:00:00";
};

}  // namespace veldrano
