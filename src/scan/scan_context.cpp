#include "scan/scan_context.h"

#include "scan/window_access.h"

namespace veldrano {

namespace {

// The window that is not there: everything it is told is dropped.
WindowPort& Attached() {
  static WindowPort absent;
  return ScanContext.Window != nullptr ? *ScanContext.Window : absent;
}

}  // namespace

ScanDisplay& Display() { return Attached(); }
DirectoryListPort& Directories() { return Attached(); }
void ProcessMessages() {
  if (Attached().ProcessMessages()) ScanContext.WindowTurns += 1;
}
bool WindowClosing() { return Attached().Closing(); }

}  // namespace veldrano
