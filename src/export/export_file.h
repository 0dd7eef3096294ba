#pragma once
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace veldrano {

// A file an export writes, created or emptied when opened, closed when the
// object goes.
class ExportFile {
 public:
  explicit ExportFile(const std::string& path);
  bool IsOpen() const { return file_ != nullptr; }
  // False when the bytes could not all be written.
  bool Write(std::string_view text);
  // Closes the file; false when the last buffered bytes could not be
  // written (a full disc may only show here).
  bool Close();

 private:
  struct Closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::unique_ptr<std::FILE, Closer> file_;
};

// Runs one export to path with Busy set: write gets the open file and says
// whether everything was written. Any failure (the file cannot be created,
// a write fails, something is thrown) ends the export, leaving the file as
// far as it got, with one error entry failureText in the log. Returns
// whether the export was written whole.
bool RunExport(const std::string& path, std::string_view failureText, const std::function<bool(ExportFile&)>& write);

}  // namespace veldrano
