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

// What the engine shows: the log, the status texts, the progress, the top
// caption, the buttons and the results as they change. Every operation of
// the base class does nothing: the display of a window that is not there.
class ScanDisplay {
 public:
  virtual ~ScanDisplay() = default;

  // Text of status-bar panel 0..3.
  virtual void SetStatusText(int panel, std::string_view text);
  // Position (0..100) of the run as a whole, and of the file being read.
  virtual void SetOverallProgress(int position);
  virtual void SetFileProgress(int position);
  // Shows or hides both progress indications.
  virtual void SetProgressBarsVisible(bool visible);
  // Appends a row at the end of the activity log and scrolls to it.
  virtual void AppendLogRow(const LogRow& row);
  // Empties the activity log.
  virtual void ClearLog();
  // The caption of the top strip ("Drag'n drop directories here...",
  // "Working..." during a run).
  virtual void SetTopCaption(std::string_view text);
  enum class Button { Start, Stop, Reset };
  virtual void SetButtonEnabled(Button button, bool enabled);

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
  // Files left the results (moved to the Trash); groups were numbered
  // afresh: the views show the model as it now is.
  virtual void ResultsReplaced();
};

// What the engine reads: the directory list, the directories a run walks,
// in list order.
class DirectoryListPort {
 public:
  virtual ~DirectoryListPort() = default;
  virtual int DirectoryCount();
  virtual std::string Directory(int index);
  virtual void ClearDirectories();
};

// Where the engine lets the window handle the events waiting for it
// (clicks on Stop, repaints, timers) during long work.
class MessagePump {
 public:
  virtual ~MessagePump() = default;
  // True when the window did run: whatever it did (a test's hook may change
  // files too) happened meanwhile.
  virtual bool ProcessMessages();
  // True once the window is going away during a run: the run stops as
  // after Stop, and the file being read is dropped rather than finished,
  // since nothing of it would be shown.
  virtual bool Closing();
};

// Everything the engine needs of the main window. The engine never sees a
// widget: the Qt window, the headless scanner and the tests' recorder each
// implement this; each part reaches the code that needs it through
// scan/window_access.h.
class WindowPort : public ScanDisplay, public DirectoryListPort, public MessagePump {
 public:
  using Button = ScanDisplay::Button;
};

}  // namespace veldrano
