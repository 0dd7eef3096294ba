#include "scan/window_port.h"

namespace veldrano {

void WindowPort::SetStatusText(int, std::string_view) {}
void WindowPort::SetProgressBar1(int) {}
void WindowPort::SetProgressBar2(int) {}
void WindowPort::AppendLogRow(const LogRow&) {}
void WindowPort::ProcessMessages() {}

}  // namespace veldrano
