#pragma once
#include <QMargins>
#include <QRect>
#include <QSize>

class QWidget;

namespace veldrano {

// Where a window whose frame (title bar and borders included) is frame goes
// so that it lies within available: shrunk to it, though never below
// minimum, and moved the least that brings it inside. A window still too big
// sits at available's top-left corner, where its title bar and menus are.
QRect FittedFrame(const QRect& frame, const QSize& minimum, const QRect& available);

// The frame the window system puts around window: known once the window has
// been framed, guessed before.
QMargins FrameMarginsOf(const QWidget* window);

// Fits the top-level window into the available area of its screen (the
// primary one before it is shown), as FittedFrame says; a window that fits
// already is left where it is.
void FitIntoScreen(QWidget* window);

// The layout scale (see LayoutScale) lowered, if need be, so that a window
// designed as designed pixels at 96 dpi, with its frame, fits the available
// area of the primary screen.
double FittingScale(double scale, const QSize& designed);

}  // namespace veldrano
