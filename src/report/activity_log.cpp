#include "report/activity_log.h"

#include "platform/local_time.h"
#include "report/formatting.h"
#include "scan/scan_context.h"
#include "scan/window_access.h"

namespace veldrano {

void AddLogEntry(LogKind kind, std::string_view message, std::string_view name, std::string_view comment) {
  LogRow row;
  switch (kind) {
    case LogWarning:
      ScanContext.WarningCount += 1;
      row.Information = "Warning #" + FloatToText(ScanContext.WarningCount) + ": ";
      row.ImageIndex = 2;
      break;
    case LogError:
      ScanContext.ErrorCount += 1;
      row.Information = "Error #" + FloatToText(ScanContext.ErrorCount) + ": ";
      row.ImageIndex = 3;
      break;
    case LogWarningSummary: row.ImageIndex = 2; break;
    case LogErrorSummary: row.ImageIndex = 3; break;
    case LogReady: row.ImageIndex = 0; break;
    default: row.ImageIndex = 1; break;
  }
  row.Time = platform::LocalTimeText();
  row.Information += message;
  row.Name = name;
  row.Comment = comment;
  Display().AppendLogRow(row);
}

}  // namespace veldrano
