#pragma once
#include "scan/scan_context.h"
#include "scan/scan_scopes.h"
#include "scan/window_access.h"
#include "scan/window_texts.h"

namespace veldrano {

// Work on the user's files after a scan (an action, an undo), shown as a
// run shows itself for as long as the object lives: busy, Start off, Stop
// on, the progress bars shown; at its end the bars go and the caption is
// the idle one again.
class WorkScope {
 public:
  WorkScope() {
    ScanContext.StopRequested = false;
    Display().SetTopCaption("Working...");
    Display().SetButtonEnabled(ScanDisplay::Button::Start, false);
    Display().SetButtonEnabled(ScanDisplay::Button::Stop, true);
    Display().SetButtonEnabled(ScanDisplay::Button::Reset, false);
    Display().SetOverallProgress(0);
    Display().SetFileProgress(0);
    Display().SetProgressBarsVisible(true);
  }
  ~WorkScope() {
    ScanContext.LastOperation.clear();
    Display().SetProgressBarsVisible(false);
    Display().SetTopCaption(IdleCaption);
  }
  WorkScope(const WorkScope&) = delete;
  WorkScope& operator=(const WorkScope&) = delete;

 private:
  BusyScope busy_;
};

}  // namespace veldrano
