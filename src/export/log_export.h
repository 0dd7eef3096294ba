#pragma once
#include <string>
#include <vector>

#include "scan/window_port.h"

namespace veldrano {

// A row of the log as veldrano-scan writes it: Time, Information, Name and
// Comment joined by TAB, each escaped so that it stays on its line and in
// its column (BackslashEscape), ended by a line feed.
std::string LogLine(const LogRow& row);

// Writes the rows to path in that form, as a new file that takes its place
// only once written whole (one error line in the log when it cannot).
bool SaveLog(const std::vector<LogRow>& rows, const std::string& path);

}  // namespace veldrano
