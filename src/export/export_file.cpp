#include "export/export_file.h"

#include "report/activity_log.h"
#include "scan/scan_scopes.h"

namespace veldrano {

ExportFile::ExportFile(const std::string& path) {
  if (path.find('\0') != std::string::npos) return;  // no such name on Linux
  file_.reset(std::fopen(path.c_str(), "wbe"));
}

bool ExportFile::Write(std::string_view text) {
  return file_ && std::fwrite(text.data(), 1, text.size(), file_.get()) == text.size();
}

bool ExportFile::Close() { return file_ && std::fclose(file_.release()) == 0; }

bool RunExport(const std::string& path, std::string_view failureText, const std::function<bool(ExportFile&)>& write) {
  const BusyScope busy;  // for as long as the export runs, whichever way it ends
  bool written = false;
  try {
    ExportFile file(path);
    written = file.IsOpen() && write(file) && file.Close();
  } catch (...) {
    // Whatever goes wrong while writing (memory included) is the one export
    // failure below; the window goes on.
    written = false;
  }
  if (!written) AddLogEntry(LogError, failureText, path, "Please check the destination");
  return written;
}

}  // namespace veldrano
