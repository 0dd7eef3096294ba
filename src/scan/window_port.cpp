#include "scan/window_port.h"

namespace veldrano {

void ScanDisplay::SetStatusText(int, std::string_view) {}
void ScanDisplay::SetOverallProgress(int) {}
void ScanDisplay::SetFileProgress(int) {}
void ScanDisplay::SetProgressBarsVisible(bool) {}
void ScanDisplay::AppendLogRow(const LogRow&) {}
void ScanDisplay::ClearLog() {}
void ScanDisplay::SetTopCaption(std::string_view) {}
void ScanDisplay::SetButtonEnabled(Button, bool) {}
void ScanDisplay::ResultsCleared() {}
void ScanDisplay::ResultsRootCreated() {}
void ScanDisplay::DuplicateRecorded(std::uint32_t, bool) {}
void ScanDisplay::ResultsReplaced() {}
int DirectoryListPort::DirectoryCount() { return 0; }
std::string DirectoryListPort::Directory(int) { return {}; }
void DirectoryListPort::ClearDirectories() {}
bool MessagePump::ProcessMessages() { return false; }
bool MessagePump::Closing() { return false; }

}  // namespace veldrano
