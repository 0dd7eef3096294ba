#include "export/log_export.h"

#include "export/export_file.h"
#include "report/backslash_escape.h"

namespace veldrano {

std::string LogLine(const LogRow& row) {
  return BackslashEscape(row.Time, true) + "\t" + BackslashEscape(row.Information, true) + "\t" +
         BackslashEscape(row.Name, true) + "\t" + BackslashEscape(row.Comment, true) + "\n";
}

bool SaveLog(const std::vector<LogRow>& rows, const std::string& path) {
  return RunExport(path, "Can not save the log", [&rows](ExportFile& file) {
    for (const LogRow& row : rows) {
      if (!file.Write(LogLine(row))) return false;
    }
    return true;
  });
}

}  // namespace veldrano
