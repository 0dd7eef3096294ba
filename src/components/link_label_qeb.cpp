#include "components/link_label_qeb.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QPalette>
#include <QUrl>

namespace veldrano {
namespace {

// The caption is drawn in pure blue, so its background must stay light even
// when the desktop theme is dark; this is the classic inactive-border grey.
const QColor kLightInactiveBorder(212, 208, 200);

QColor InactiveBorderColour(const QPalette& palette) {
  const QColor colour = palette.color(QPalette::Inactive, QPalette::Window);
  return colour.lightness() >= 160 ? colour : kLightInactiveBorder;
}

}  // namespace

TLinkLabelQeb::TLinkLabelQeb(QWidget* owner) : QLabel(owner) {
  QPalette palette = this->palette();
  palette.setColor(QPalette::WindowText, QColor(0, 0, 255));
  palette.setColor(QPalette::Window, InactiveBorderColour(palette));
  setPalette(palette);
  setAutoFillBackground(true);

  // Only weight and underline are set here: family and size still come
  // from the owner, as they do for any label.
  QFont font;
  font.setBold(true);
  font.setUnderline(true);
  setFont(font);

  setCursor(Qt::PointingHandCursor);
  setTextFormat(Qt::PlainText);  // the caption is an address, never markup
  setText(QString::fromLatin1(DefaultCaption));
}

void TLinkLabelQeb::Clic() { QDesktopServices::openUrl(QUrl::fromUserInput(text())); }

void TLinkLabelQeb::mousePressEvent(QMouseEvent* event) {
  pressed_ = event->button() == Qt::LeftButton;
  QLabel::mousePressEvent(event);
}

// A click is a left press and release both on the label, as for a button.
void TLinkLabelQeb::mouseReleaseEvent(QMouseEvent* event) {
  const bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
  pressed_ = false;
  QLabel::mouseReleaseEvent(event);
  if (click) Clic();
}

}  // namespace veldrano
