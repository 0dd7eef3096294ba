#pragma once
#include <string>

namespace veldrano {

// Writes the duplicate folders of the results (FindDuplicateFolders) to the
// file at path as TAB-separated lines: a header line, then per folder its
// path, files, bytes, the folder holding every file of it (empty if none),
// and the folders holding its copies, one per column, most files first.
// Names are written as bytes with backslashes, TAB, line breaks and other
// control bytes escaped as the log escapes them. Replaces path only once
// written whole (ExportFile); a failure is logged as "Can not export the
// duplicate folders" and gives false.
bool ExportDuplicateFolders(const std::string& path);

}  // namespace veldrano
