#include "export/export_file.h"

#include <sys/stat.h>

#include "report/activity_log.h"
#include "scan/scan_scopes.h"

namespace veldrano {

std::string ExportFile::Refusal() const {
  switch (file_.RefusedType()) {
    case S_IFIFO: return "Not a regular file: a FIFO";
    case S_IFSOCK: return "Not a regular file: a socket";
    case S_IFCHR:
    case S_IFBLK: return "Not a regular file: a device";
    case S_IFDIR: return "Not a regular file: a directory";
    default: return {};
  }
}

bool RunExport(const std::string& path, std::string_view failureText, const std::function<bool(ExportFile&)>& write) {
  const BusyScope busy;  // for as long as the export runs, whichever way it ends
  bool written = false;
  std::string refusal;
  try {
    ExportFile file(path);
    refusal = file.Refusal();
    written = file.IsOpen() && write(file) && file.Close();
  } catch (...) {
    // Whatever goes wrong while writing (memory included) is the one export
    // failure below, the new file gone with the ExportFile; the window goes
    // on.
    written = false;
  }
  if (!written) AddLogEntry(LogError, failureText, path, refusal.empty() ? "Please check the destination" : refusal);
  return written;
}

}  // namespace veldrano
