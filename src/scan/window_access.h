#pragma once
#include "scan/window_port.h"

namespace veldrano {

// The parts of the window attached to the scan state (ScanContext.Window),
// for the code that needs each: ones that do nothing when no window is
// attached.
ScanDisplay& Display();
DirectoryListPort& Directories();
// Lets the window handle the events waiting for it, and returns.
void ProcessMessages();
// Whether the window is going away during a run (MessagePump::Closing).
bool WindowClosing();

}  // namespace veldrano
