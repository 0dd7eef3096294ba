#include "export/csv_export.h"

#include <string_view>

#include "export/export_file.h"
#include "scan/scan_context.h"
#include "scan/window_access.h"

namespace veldrano {

namespace {

// The path field of a line. Paths are written as they are, ";" and inner
// quotes included: the signature never holds ";", so the first ";" of a line
// always ends it. Only a path that would break the line apart (CR or LF) or
// that a reader would take for a quoted field (leading '"') is quoted, with
// its quotes doubled.
void AppendPathField(std::string& line, std::string_view path) {
  // One search per character (find_first_of asks the set for every byte
  // of the path).
  const bool quoted = path.find('\n') != std::string_view::npos || path.find('\r') != std::string_view::npos ||
                      path.starts_with('"');
  if (!quoted) {
    line += path;
    return;
  }
  line += '"';
  for (const char c : path) {
    if (c == '"') line += '"';
    line += c;
  }
  line += '"';
}

// Writes the lines; false on the first failure.
bool WriteRows(ExportFile& file, bool onlySelected) {
  std::string line;
  // The pump may tick, untick, sort or drop rows; every row is looked up
  // afresh after it, and a tick applies to the rows not yet written.
  for (std::size_t i = 0; i < ScanContext.Selection.size(); ++i) {
    ProcessMessages();
    if (i >= ScanContext.Selection.size()) break;
    const SelectionRow& row = ScanContext.Selection[i];
    if (onlySelected && !row.Checked) continue;
    line = GroupOf(row).Signature;
    line += ';';
    AppendPathField(line, PathOf(row));
    line += "\r\n";
    if (!file.Write(line)) return false;
  }
  return true;
}

}  // namespace

bool ExportResult2CSV(const std::string& path, bool onlySelected) {
  return RunExport(path, "Can not export to CSV file",
                   [onlySelected](ExportFile& file) { return WriteRows(file, onlySelected); });
}

}  // namespace veldrano
