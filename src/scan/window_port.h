#pragma once
#include <cstdint>
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
  // The caption of the top strip ("Drag'n drop directories here...",
  // "Working..." during a run).
  virtual void SetTopCaption(std::string_view text);
  // Shows or hides both progress bars.
  virtual void SetProgressBarsVisible(bool visible);
  enum class Button { Start, Stop, Reset };
  virtual void SetButtonEnabled(Button button, bool enabled);

  // The directory list: the directories a run walks, in list order.
  virtual int DirectoryCount();
  virtual std::string Directory(int index);
  virtual void ClearDirectories();

  // Empties the activity log.
  virtual void ClearLog();

  // The results (ScanContext.ResultsRoot and .Selection) changed; the
  // window shows what the model now holds.
  // Tree and list were emptied.
  virtual void ResultsCleared();
  // The root "VESK" was created.
  virtual void ResultsRootCreated();
  // A duplicate was recorded into group (a new group when newGroup: the
  // group with its first two files), and one or two rows were appended to
  // the selection list.
  virtual void DuplicateRecorded(std::uint32_t group, bool newGroup);

  // Lets the window handle the events waiting for it (clicks on Stop,
  // repaints, timers) and returns.
  virtual void ProcessMessages();
};

}  // namespace veldrano
