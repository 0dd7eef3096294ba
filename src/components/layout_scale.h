#pragma once
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace veldrano {

// The windows are laid out in pixels at 96 dpi: the factor from those to
// the pixels of the screen widget is on (the primary one before it is shown).
inline double LayoutScale(const QWidget* widget) {
  const QScreen* screen =
      widget != nullptr && widget->screen() != nullptr ? widget->screen() : QGuiApplication::primaryScreen();
  const double dpi = screen != nullptr ? screen->logicalDotsPerInch() : 96.0;
  return dpi > 0 ? dpi / 96.0 : 1.0;
}

// pixels at 96 dpi in the screen's pixels, at scale.
inline int ScaledPixels(int pixels, double scale) { return qRound(pixels * scale); }

}  // namespace veldrano
