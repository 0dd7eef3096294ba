#pragma once
#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "scan/window_port.h"

namespace veldrano::cli {

// The window of the headless scanner: the activity log goes to standard
// output, one entry a line, its columns Time, Information, Name and Comment
// joined by TAB; the four status panels are one refreshing line on standard
// error when that is a terminal. Ctrl-C, SIGTERM and SIGHUP act as the Stop
// button (a second one ends the program at once).
class TerminalWindow : public WindowPort {
 public:
  TerminalWindow(std::FILE* log, std::FILE* status, bool showStatus);
  ~TerminalWindow() override;

  std::vector<std::string> directories;

  void AppendLogRow(const LogRow& row) override;
  void SetStatusText(int panel, std::string_view text) override;
  bool ProcessMessages() override;
  int DirectoryCount() override { return static_cast<int>(directories.size()); }
  std::string Directory(int index) override { return directories[static_cast<std::size_t>(index)]; }
  void ClearDirectories() override { directories.clear(); }

  // A log column as written: TAB, line breaks and backslashes escaped as
  // \t, \n, \r and \\, every other control byte as \x1b, so that an entry
  // is always one line of four columns and a name cannot drive the terminal.
  static std::string EscapeColumn(std::string_view text);

  // Takes the progress line off the terminal until the next status, so that
  // a message on standard error starts a line of its own.
  void ClearStatus();

  // The error number of the first log line that could not be written (0
  // while every line was): the lines after it are not tried.
  int LogWriteError() const { return logWriteError_; }

 private:
  void DrawStatus();

  std::FILE* log_;
  std::FILE* status_;
  bool showStatus_;
  bool statusDrawn_ = false;
  int logWriteError_ = 0;
  std::array<std::string, 4> panels_;
};

}  // namespace veldrano::cli
