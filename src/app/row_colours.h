#pragma once
#include <QColor>
#include <QPalette>

namespace veldrano {

// The colours of the rows of the log and the selection list and of the
// tree's signature groups. On a light palette they are the window's own:
// pale cyan and pale yellow stripes on white, black text, teal groups. On a
// dark one (its window colour dark) the same would leave light rows in a
// dark window and dark check boxes on dark: they come from the palette
// instead, its base tinted with the same hues, its own text colour, and a
// teal lightened toward that text.
struct RowColours {
  QColor LogStripe;        // the log's even rows
  QColor SelectionStripe;  // the selection list's odd rows
  QColor Plain;            // every other row
  QColor Text;
  QColor Group;
};

RowColours RowColoursFor(const QPalette& palette);

// For the desktop's palette, the application's, as it is now.
RowColours DesktopRowColours();

}  // namespace veldrano
