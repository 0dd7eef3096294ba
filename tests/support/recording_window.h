#pragma once
#include <functional>
#include <string>
#include <vector>

#include "scan/window_port.h"

namespace veldrano::testing {

// A window that remembers everything the engine showed it.
class RecordingWindow : public WindowPort {
 public:
  void SetStatusText(int panel, std::string_view text) override { statusTexts.push_back({panel, std::string(text)}); }
  void SetOverallProgress(int position) override { overallProgress.push_back(position); }
  void SetFileProgress(int position) override { fileProgress.push_back(position); }
  void AppendLogRow(const LogRow& row) override { log.push_back(row); }
  bool ProcessMessages() override {
    ++pumps;
    if (!onPump) return false;
    onPump(pumps);
    return true;
  }
  bool Closing() override { return closing; }
  void SetTopCaption(std::string_view text) override { topCaption = text; }
  void SetProgressBarsVisible(bool visible) override { progressBarsVisible = visible; }
  void SetButtonEnabled(Button button, bool enabled) override { buttons[static_cast<int>(button)] = enabled; }
  int DirectoryCount() override { return static_cast<int>(directories.size()); }
  std::string Directory(int index) override { return directories[static_cast<std::size_t>(index)]; }
  void ClearDirectories() override { directories.clear(); }
  void ClearLog() override { log.clear(); }
  void ResultsCleared() override { ++resultsCleared; }
  void DuplicateRecorded(std::uint32_t group, bool newGroup) override { recorded.push_back({group, newGroup}); }
  void ResultsReplaced() override { ++resultsReplaced; }

  // The Information column of every log row, in order.
  std::vector<std::string> Informations() const {
    std::vector<std::string> texts;
    for (const LogRow& row : log) texts.push_back(row.Information);
    return texts;
  }
  // The texts shown in one status panel, in order.
  std::vector<std::string> Panel(int panel) const {
    std::vector<std::string> texts;
    for (const StatusText& s : statusTexts) {
      if (s.panel == panel) texts.push_back(s.text);
    }
    return texts;
  }

  struct StatusText {
    int panel;
    std::string text;
  };
  struct Recorded {
    std::uint32_t group;
    bool newGroup;
  };
  std::vector<StatusText> statusTexts;
  std::vector<int> overallProgress;
  std::vector<int> fileProgress;
  std::vector<LogRow> log;
  std::vector<std::string> directories;
  std::string topCaption;
  bool progressBarsVisible = false;
  bool buttons[3] = {true, false, false};  // Start, Stop, Reset
  int resultsCleared = 0;
  int resultsReplaced = 0;
  std::vector<Recorded> recorded;
  int pumps = 0;
  bool closing = false;  // the window is going away
  // Runs inside the message pump, as a click during a run would; gets the
  // number of the pump call (1 for the first).
  std::function<void(int)> onPump;
};

}  // namespace veldrano::testing
