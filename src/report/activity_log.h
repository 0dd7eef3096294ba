#pragma once
#include <string_view>

namespace veldrano {

// The kind of an activity-log entry: its picture, and whether it is counted
// and numbered.
enum LogKind : int {
  LogReady = 0,
  LogInfo = 1,
  LogWarning = 2,          // counted in WarningCount, prefixed "Warning #n: "
  LogError = 3,            // counted in ErrorCount, prefixed "Error #n: "
  LogWarningSummary = -2,  // looks like a warning, not counted
  LogErrorSummary = -3,    // looks like an error, not counted
};

// Appends one entry to the activity log: the local time, the numbering
// prefix and message, the name (a path, or empty) and the comment.
void AddLogEntry(LogKind kind, std::string_view message, std::string_view name = {}, std::string_view comment = {});

}  // namespace veldrano
