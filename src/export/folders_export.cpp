#include "export/folders_export.h"

#include <cstdio>

#include "export/export_file.h"
#include "report/backslash_escape.h"
#include "results/duplicate_folders.h"

namespace veldrano {

namespace {

std::string WholeNumber(long double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.0Lf", value);
  return text;
}

bool WriteFolders(ExportFile& file) {
  if (!file.Write("Folder\tFiles\tBytes\tEvery file is in\tCopies in\n")) return false;
  std::string line;
  for (const DuplicateFolder& folder : FindDuplicateFolders()) {
    line = BackslashEscape(folder.Path, true);
    line.append("\t").append(std::to_string(folder.Files));
    line.append("\t").append(WholeNumber(folder.Bytes));
    line.append("\t").append(BackslashEscape(folder.EveryFileIn, true));
    for (const FolderShare& share : folder.CopiesIn) line.append("\t").append(BackslashEscape(share.Folder, true));
    line += '\n';
    if (!file.Write(line)) return false;
  }
  return true;
}

}  // namespace

bool ExportDuplicateFolders(const std::string& path) {
  return RunExport(path, "Can not export the duplicate folders", WriteFolders);
}

}  // namespace veldrano
