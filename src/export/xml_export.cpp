#include "export/xml_export.h"

#include <cstdio>
#include <memory>

#include "export/xml_text.h"
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

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

bool WriteText(std::FILE* file, std::string_view text) {
  return std::fwrite(text.data(), 1, text.size(), file) == text.size();
}

// Writes the document; false on the first failure, leaving the file as far
// as it got.
bool WriteDocument(const std::string& path) {
  if (path.find('\0') != std::string::npos) return false;  // no such name on Linux
  OutputFile file(std::fopen(path.c_str(), "wbe"));
  if (!file) return false;

  if (!WriteText(file.get(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Vesk>\r\n")) return false;
  std::string line;
  // The pump runs the window's handlers, so a group and its files are looked
  // up afresh after each pump rather than held across it; a group whose
  // opening line is written is always closed.
  const auto groupAt = [](std::size_t g) -> const SignatureGroup* {
    const auto& root = ScanContext.ResultsRoot;
    return root && g < root->Groups.size() ? &root->Groups[g] : nullptr;
  };
  for (std::size_t g = 0; groupAt(g) != nullptr; ++g) {
    Window().ProcessMessages();
    const SignatureGroup* group = groupAt(g);
    if (group == nullptr) break;
    const std::string name = XMLElementName(group->Signature);
    if (!WriteText(file.get(), "\t<" + name + ">\r\n")) return false;
    for (std::size_t f = 0; (group = groupAt(g)) != nullptr && f < group->Files.size(); ++f) {
      Window().ProcessMessages();
      group = groupAt(g);
      if (group == nullptr || f >= group->Files.size()) break;
      line = "\t\t<Filename>";
      line += XmlCharacterData(group->Files[f]);
      line += "</Filename>\r\n";
      if (!WriteText(file.get(), line)) return false;
    }
    if (!WriteText(file.get(), "\t</" + name + ">\r\n")) return false;
  }
  if (!WriteText(file.get(), "</Vesk>\r\n")) return false;
  // Closing flushes the buffered end of the document: a full disc may only
  // show here.
  return std::fclose(file.release()) == 0;
}

}  // namespace

bool ExportResult2XML(const std::string& path) {
  BusyScope busy;
  bool written = false;
  try {
    written = WriteDocument(path);
  } catch (...) {
    // Whatever goes wrong while writing (memory included) is the one export
    // failure below; the window goes on.
    written = false;
  }
  if (!written) AddLogEntry(LogError, "Can not export to XML file", path, "Please check the destination");
  return written;
}

std::string XMLElementName(std::string_view text) {
  std::string result;
  result.reserve(text.size() + 2);
  for (const char c : text) result += (IsAsciiLetter(c) || IsAsciiDigit(c) || c == '_') ? c : '_';
  if (result.starts_with("xml")) result.insert(0, 1, '_');
  if (result.starts_with("XML")) result.insert(0, 1, '_');
  // Also covers the empty text, which becomes "_".
  if (result.empty() || !IsAsciiLetter(result.front())) result.insert(0, 1, '_');
  return result;
}

}  // namespace veldrano
