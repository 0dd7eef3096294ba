#pragma once
#include "scan/scan_context.h"

namespace veldrano {

// Busy for as long as the object lives: a long operation (a run, Clear, a
// drop, an export) holds one. Busy gets its earlier value back at the end,
// so an export inside the save dialog's own scope leaves it set until the
// dialog's scope ends too.
class BusyScope {
 public:
  BusyScope() : previous_(ScanContext.Busy) { ScanContext.Busy = true; }
  ~BusyScope() { ScanContext.Busy = previous_; }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  bool previous_;
};

// The window the engine reports to, for as long as the object lives.
class AttachedWindow {
 public:
  explicit AttachedWindow(WindowPort* window) : window_(window) { ScanContext.Window = window; }
  ~AttachedWindow() {
    if (ScanContext.Window == window_) ScanContext.Window = nullptr;
  }
  AttachedWindow(const AttachedWindow&) = delete;
  AttachedWindow& operator=(const AttachedWindow&) = delete;

 private:
  WindowPort* window_;
};

}  // namespace veldrano
