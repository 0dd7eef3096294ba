#pragma once
#include <string>
#include <string_view>

namespace veldrano {

// One row of the activity log as the window shows it.
struct LogRow {
  std::string Time;
  std::string Information;
  std::string Name;
  std::string Comment;
  int ImageIndex = 0;  // 0 ready, 1 information, 2 warning, 3 error
};

// Everything the engine needs of the main window. The engine never sees a
// widget: the Qt window, the headless scanner and the tests' recorder each
// implement this. The base class is the window that is not there: every
// operation does nothing, which is what the engine gets before one attaches.
class WindowPort {
 public:
  virtual ~WindowPort() = default;

  // Text of status-bar panel 0..3.
  virtual void SetStatusText(int panel, std::string_view text);
  // Position (0..100) of the overall progress bar and of the per-file one.
  virtual void SetProgressBar1(int position);
  virtual void SetProgressBar2(int position);
  // Appends a row at the end of the activity log and scrolls to it.
  virtual void AppendLogRow(const LogRow& row);
  // Lets the window handle the events waiting for it (clicks on Stop,
  // repaints, timers) and returns.
  virtual void ProcessMessages();
};

}  // namespace veldrano
