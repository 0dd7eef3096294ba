#pragma once
#include <functional>
#include <string>
#include <string_view>

#include "platform/replacing_file.h"

namespace veldrano {

// A file an export writes: a new file that takes the place of the chosen
// path only when Close has written it whole (platform::ReplacingFile). A
// symbolic link at the path is replaced, never followed; a FIFO, socket,
// device or directory there is refused without being opened. Until Close
// succeeds the path keeps what it held.
class ExportFile {
 public:
  explicit ExportFile(const std::string& path) : file_(path) {}
  bool IsOpen() const { return file_.IsOpen(); }
  // Why the path was refused ("Not a regular file: a FIFO"), or empty.
  std::string Refusal() const;
  // False when the bytes could not all be written.
  bool Write(std::string_view text) { return file_.Write(text); }
  // Syncs the file and puts it in place; false on any failure (a full disc
  // may only show here), with the path left as it was.
  bool Close() { return file_.Commit(); }

 private:
  platform::ReplacingFile file_;
};

// Runs one export to path with Busy set: write gets the open file and says
// whether everything was written. Any failure (the file cannot be created,
// a write fails, something is thrown) ends the export with one error entry
// failureText in the log, naming path, and leaves path as it was. Returns
// whether the export was written whole.
bool RunExport(const std::string& path, std::string_view failureText, const std::function<bool(ExportFile&)>& write);

}  // namespace veldrano
