#include "scan/failure_report.h"

#include <string>

#include "report/activity_log.h"
#include "scan/scan_context.h"

namespace veldrano {

void ReportFailure(std::string_view info) {
  const std::string message = "WARNING: " + std::string(info);
  if (!ScanContext.LastOperation.empty()) {
    AddLogEntry(LogWarning, message, "", "Last operation: " + ScanContext.LastOperation);
  } else {
    AddLogEntry(LogWarning, message);
  }
}

}  // namespace veldrano
