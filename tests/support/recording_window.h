#pragma once
#include <functional>
#include <string>
#include <vector>

#include "scan/window_port.h"

namespace veldrano::testing {

// A window that remembers everything the engine showed it.
class RecordingWindow : public WindowPort {
 public:
  void SetStatusText(int panel, std::string_view text) override {
    statusTexts.push_back({panel, std::string(text)});
  }
  void SetProgressBar1(int position) override { progressBar1.push_back(position); }
  void SetProgressBar2(int position) override { progressBar2.push_back(position); }
  void AppendLogRow(const LogRow& row) override { log.push_back(row); }
  void ProcessMessages() override {
    ++pumps;
    if (onPump) onPump(pumps);
  }

  struct StatusText {
    int panel;
    std::string text;
  };
  std::vector<StatusText> statusTexts;
  std::vector<int> progressBar1;
  std::vector<int> progressBar2;
  std::vector<LogRow> log;
  int pumps = 0;
  // Runs inside the message pump, as a click during a run would; gets the
  // number of the pump call (1 for the first).
  std::function<void(int)> onPump;
};

}  // namespace veldrano::testing
