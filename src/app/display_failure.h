#pragma once

namespace veldrano {

// The line veldrano writes on standard error when it finds no display.
inline constexpr char NoDisplayText[] =
    "veldrano: no display could be opened: the window needs a desktop session (DISPLAY or WAYLAND_DISPLAY); "
    "veldrano-scan scans without one\n";

// While it lives, Qt's failure to open a display (no platform plugin could
// be initialised: no DISPLAY nor WAYLAND_DISPLAY, or a display that does
// not answer), which Qt ends with an abort, ends the program with
// NoDisplayText and status 1 instead. Qt's other messages go to standard
// error as usual. Meant for the making of the application object.
class DisplayFailureExit {
 public:
  DisplayFailureExit();
  ~DisplayFailureExit();
  DisplayFailureExit(const DisplayFailureExit&) = delete;
  DisplayFailureExit& operator=(const DisplayFailureExit&) = delete;
};

}  // namespace veldrano
