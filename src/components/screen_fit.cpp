#include "components/screen_fit.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace veldrano {

namespace {

// Before a window is framed its frame is unknown: this is more than common
// title bars and borders take, so a window fitted with it fits with theirs.
constexpr QMargins GuessedFrame(10, 40, 10, 10);

// The one coordinate of a span of length size that lies within [low, low +
// room), moved the least from start; low itself when it cannot fit.
int Within(int start, int size, int low, int room) {
  if (size >= room) return low;
  return std::clamp(start, low, low + room - size);
}

const QScreen* ScreenOf(const QWidget* window) {
  return window->screen() != nullptr ? window->screen() : QGuiApplication::primaryScreen();
}

}  // namespace

QRect FittedFrame(const QRect& frame, const QSize& minimum, const QRect& available) {
  const QSize size = frame.size().boundedTo(available.size()).expandedTo(minimum);
  return QRect(Within(frame.x(), size.width(), available.x(), available.width()),
               Within(frame.y(), size.height(), available.y(), available.height()), size.width(), size.height());
}

QMargins FrameMarginsOf(const QWidget* window) {
  // None known: not framed yet, or no window manager to frame it.
  const QWindow* handle = window->windowHandle();
  if (handle != nullptr && !handle->frameMargins().isNull()) return handle->frameMargins();
  return GuessedFrame;
}

void FitIntoScreen(QWidget* window) {
  const QScreen* screen = ScreenOf(window);
  if (screen == nullptr) return;
  const QMargins margins = FrameMarginsOf(window);
  const QSize extra(margins.left() + margins.right(), margins.top() + margins.bottom());
  // pos() is where the frame's top-left corner is, or goes once framed.
  const QRect frame(window->pos(), window->size() + extra);
  const QSize minimum = window->minimumSize().expandedTo(window->minimumSizeHint());
  const QRect fitted = FittedFrame(frame, minimum + extra, screen->availableGeometry());
  if (fitted == frame) return;
  window->resize(fitted.size() - extra);
  window->move(fitted.topLeft());
}

double FittingScale(double scale, const QSize& designed) {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr || designed.isEmpty()) return scale;
  const QSize room = screen->availableGeometry().size().shrunkBy(GuessedFrame);
  return std::min({scale, double(room.width()) / designed.width(), double(room.height()) / designed.height()});
}

}  // namespace veldrano
