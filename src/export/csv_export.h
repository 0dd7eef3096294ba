#pragma once
#include <string>

namespace veldrano {

// Writes the rows of the selection list, all of them or only the ticked ones,
// in display order, to the file at path: signature ";" path CR LF per row.
// Sets Busy while it works and lets the window handle its events before
// every row. A failure is logged as the error "Can not export to CSV file"
// and gives false.
bool ExportResult2CSV(const std::string& path, bool onlySelected);

}  // namespace veldrano
