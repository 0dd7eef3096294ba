#include "app/row_colours.h"

#include <QGuiApplication>

namespace veldrano {

namespace {

// share parts of tint in one part of base.
QColor Mixed(const QColor& base, const QColor& tint, double share) {
  const auto mix = [share](int a, int b) { return qRound(a + (b - a) * share); };
  return QColor(mix(base.red(), tint.red()), mix(base.green(), tint.green()), mix(base.blue(), tint.blue()));
}

}  // namespace

RowColours RowColoursFor(const QPalette& palette) {
  const QColor cyan(238, 255, 255), yellow(255, 255, 238), teal(0, 136, 136);
  if (palette.color(QPalette::Window).lightness() >= 128) {
    return {cyan, yellow, QColor(255, 255, 255), QColor(0, 0, 0), teal};
  }
  // A shade lighter than the base, which check boxes are filled with, so
  // that an empty box still shows on every row.
  const QColor text = palette.color(QPalette::Text);
  const QColor plain = Mixed(palette.color(QPalette::Base), text, 0.08);
  return {Mixed(plain, QColor(0, 255, 255), 0.12), Mixed(plain, QColor(255, 255, 0), 0.12), plain, text,
          Mixed(teal, text, 0.45)};
}

RowColours DesktopRowColours() { return RowColoursFor(QGuiApplication::palette()); }

}  // namespace veldrano
