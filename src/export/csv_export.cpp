#include "export/csv_export.h"

#include <cstdio>
#include <memory>
#include <string_view>

#include "report/activity_log.h"
#include "scan/scan_context.h"

namespace veldrano {

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using OutputFile = std::unique_ptr<std::FILE, FileCloser>;

// Busy for as long as the export runs, whichever way it ends.
struct BusyScope {
  BusyScope() { ScanContext.Busy = true; }
  ~BusyScope() { ScanContext.Busy = false; }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;
};

// The path field of a line. Paths are written as they are, ";" and inner
// quotes included: the signature never holds ";", so the first ";" of a line
// always ends it. Only a path that would break the line apart (CR or LF) or
// that a reader would take for a quoted field (leading '"') is quoted, with
// its quotes doubled.
void AppendPathField(std::string& line, std::string_view path) {
  const bool quoted = path.find_first_of("\r\n") != std::string_view::npos || path.starts_with('"');
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

// Writes the lines; false on the first failure, leaving the file as far as
// it got.
bool WriteRows(const std::string& path, bool onlySelected) {
  if (path.find('\0') != std::string::npos) return false;  // no such name on Linux
  OutputFile file(std::fopen(path.c_str(), "wbe"));
  if (!file) return false;

  std::string line;
  // The pump may tick, untick, sort or drop rows; every row is looked up
  // afresh after it, and a tick applies to the rows not yet written.
  for (std::size_t i = 0; i < ScanContext.Selection.size(); ++i) {
    Window().ProcessMessages();
    if (i >= ScanContext.Selection.size()) break;
    const SelectionRow& row = ScanContext.Selection[i];
    if (onlySelected && !row.Checked) continue;
    line = GroupOf(row).Signature;
    line += ';';
    AppendPathField(line, PathOf(row));
    line += "\r\n";
    if (std::fwrite(line.data(), 1, line.size(), file.get()) != line.size()) return false;
  }
  // Closing flushes the last buffered lines: a full disc may only show here.
  return std::fclose(file.release()) == 0;
}

}  // namespace

bool ExportResult2CSV(const std::string& path, bool onlySelected) {
  BusyScope busy;
  bool written = false;
  try {
    written = WriteRows(path, onlySelected);
  } catch (...) {
    // Whatever goes wrong while writing (memory included) is the one export
    // failure below; the window goes on.
    written = false;
  }
  if (!written) AddLogEntry(LogError, "Can not export to CSV file", path, "Please check the destination");
  return written;
}

}  // namespace veldrano
