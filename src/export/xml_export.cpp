#include "export/xml_export.h"

#include "export/export_file.h"
#include "export/xml_text.h"
#include "scan/scan_context.h"
#include "scan/window_access.h"

namespace veldrano {

namespace {

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

// Writes the document; false on the first failure.
bool WriteDocument(ExportFile& file) {
  if (!file.Write("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Vesk>\r\n")) return false;
  std::string line;
  // The pump runs the window's handlers, so a group and its files are looked
  // up afresh after each pump rather than held across it; a group whose
  // opening line is written is always closed.
  const auto groupAt = [](std::size_t g) -> const SignatureGroup* {
    const auto& root = ScanContext.ResultsRoot;
    return root && g < root->Groups.size() ? &root->Groups[g] : nullptr;
  };
  for (std::size_t g = 0; groupAt(g) != nullptr; ++g) {
    ProcessMessages();
    const SignatureGroup* group = groupAt(g);
    if (group == nullptr) break;
    const std::string name = XMLElementName(group->Signature);
    if (!file.Write("\t<" + name + ">\r\n")) return false;
    for (std::size_t f = 0; (group = groupAt(g)) != nullptr && f < group->Files.size(); ++f) {
      ProcessMessages();
      group = groupAt(g);
      if (group == nullptr || f >= group->Files.size()) break;
      line = "\t\t<Filename>";
      line += XmlCharacterData(group->Files[f]);
      line += "</Filename>\r\n";
      if (!file.Write(line)) return false;
    }
    if (!file.Write("\t</" + name + ">\r\n")) return false;
  }
  return file.Write("</Vesk>\r\n");
}

}  // namespace

bool ExportResult2XML(const std::string& path) { return RunExport(path, "Can not export to XML file", WriteDocument); }

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
