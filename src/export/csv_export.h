#pragma once
#include <string>

namespace veldrano {

// Writes the rows of the selection list, all of them or only the ticked ones,
// in display order, to the file at path: signature ";" path CR LF per row.
// Sets Busy while it works and lets the window handle its events before
// every row. Paths are written byte for byte and unquoted, ";" included; only
// a path holding CR or LF, or beginning with '"', is quoted (quotes doubled)
// so that it cannot split its line. The file at path is replaced only once
// it is written whole (ExportFile). A failure to create, write or close the
// file, or a path that is no regular file, is logged as the error "Can not
// export to CSV file" and gives false; path keeps what it held. True when
// every line is written.
bool ExportResult2CSV(const std::string& path, bool onlySelected);

}  // namespace veldrano
