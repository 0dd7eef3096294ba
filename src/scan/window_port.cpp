#include "scan/window_port.h"

namespace veldrano {

void WindowPort::SetStatusText(int, std::string_view) {}
void WindowPort::SetProgressBar1(int) {}
void WindowPort::SetProgressBar2(int) {}
void WindowPort::AppendLogRow(const LogRow&) {}
void WindowPort::ProcessMessages() {}
void WindowPort::SetTopCaption(std::string_view) {}
void WindowPort::SetProgressBarsVisible(bool) {}
void WindowPort::SetButtonEnabled(Button, bool) {}
int WindowPort::DirectoryCount() { return 0; }
std::string WindowPort::Directory(int) { return {}; }
void WindowPort::ClearDirectories() {}
void WindowPort::ClearLog() {}
void WindowPort::ResultsCleared() {}
void WindowPort::ResultsRootCreated() {}
void WindowPort::DuplicateRecorded(std::uint32_t, bool) {}

}  // namespace veldrano
