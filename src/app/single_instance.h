#pragma once

namespace veldrano {

// Takes the per-session lock "VELDRANO Duplicates finder": an flock on a
// file in the user's runtime directory ($XDG_RUNTIME_DIR, else the
// temporary directory with the user's id in the name). The lock is held
// until the process ends, however it ends. False only when another process
// holds it; any other failure lets the program start.
bool TakeSingleInstanceLock();

}  // namespace veldrano
