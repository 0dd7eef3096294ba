#pragma once
#include <QIcon>

namespace veldrano {

// The application icon: the installed one from the icon theme, else the copy
// built into the program.
QIcon ProgramIcon();

// Gives the application its icon, and tells the desktop which entry it
// belongs to (Wayland matches the window to its launcher by that name).
void SetProgramIdentity();

}  // namespace veldrano
