#include "cli/terminal_window.h"

#include "export/log_export.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "platform/termination_signals.h"
#include "report/backslash_escape.h"
#include "scan/scan_driver.h"

namespace veldrano::cli {

namespace {

std::size_t TerminalWidth(std::FILE* stream) {
  winsize size{};
  if (ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

}  // namespace

TerminalWindow::TerminalWindow(std::FILE* log, std::FILE* status, bool showStatus)
    : log_(log), status_(status), showStatus_(showStatus) {
  // Ctrl-C, and a polite request to end (SIGTERM, a closed terminal), stop
  // the scan like the Stop button, so that its work directory is still
  // released; a second one ends the program at once.
  platform::InstallTerminationHandlers(-1);
  // A reader that goes away (veldrano-scan DIR | head) must not kill the
  // scan before it has cleaned up: the write fails with EPIPE instead, and
  // the program ends with a failure status once the run is over.
  std::signal(SIGPIPE, SIG_IGN);
}

TerminalWindow::~TerminalWindow() {
  ClearStatus();
  platform::RemoveTerminationHandlers();
}

std::string TerminalWindow::EscapeColumn(std::string_view text) { return BackslashEscape(text, true); }

void TerminalWindow::AppendLogRow(const LogRow& row) {
  ClearStatus();
  const std::string line = LogLine(row);
  if (logWriteError_ == 0) {
    errno = 0;
    if (std::fwrite(line.data(), 1, line.size(), log_) != line.size() || std::fflush(log_) != 0) {
      logWriteError_ = errno != 0 ? errno : EIO;
    }
  }
  DrawStatus();
}

void TerminalWindow::SetStatusText(int panel, std::string_view text) {
  panels_[static_cast<std::size_t>(panel)] = text;
  DrawStatus();
}

bool TerminalWindow::ProcessMessages() {
  if (!platform::TakeTerminationRequest()) return false;
  sbStopClick();
  return true;
}

void TerminalWindow::DrawStatus() {
  if (!showStatus_) return;
  std::string line;
  for (const std::string& panel : panels_) {
    if (panel.empty()) continue;
    if (!line.empty()) line += " | ";
    line += EscapeColumn(panel);
  }
  const std::size_t width = TerminalWidth(status_);
  if (line.size() >= width) line = line.substr(0, width - 1);
  std::fprintf(status_, "\r%s\x1b[K", line.c_str());
  std::fflush(status_);
  statusDrawn_ = !line.empty();
}

void TerminalWindow::ClearStatus() {
  if (!showStatus_ || !statusDrawn_) return;
  std::fputs("\r\x1b[K", status_);
  std::fflush(status_);
  statusDrawn_ = false;
}

}  // namespace veldrano::cli
