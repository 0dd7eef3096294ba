#pragma once

namespace veldrano {

// The Start button: one complete scan of the listed directories, from
// setting Busy to clearing it. A counting pass counts files and bytes, a
// processing pass finds the duplicates; a summary goes to the log and the
// work directory is released.
//
// A failure that ends the run early (the temporary directory cannot be
// used, the store cannot be written) is logged as a warning with the last
// operation; the run still releases its work directory and returns to the
// idle state. Returns false in that case, true when the run reached its end.
bool sbStartClick();

// The Stop button: asks a running scan to stop at the next directory entry.
void sbStopClick();

// The Clear button: empties the directory list, the results and the log.
void sbResetClick();

// The log's first line, written by Clear and when the window opens: "Ready!"
// with a name and a comment of 40 blanks each.
void LogFirstReadyLine();

}  // namespace veldrano
