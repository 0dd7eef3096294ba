#include "app/pictures.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <functional>

namespace veldrano {

namespace {

// A picture drawn on a 64 x 64 canvas, scaled by QIcon as needed.
QIcon Draw(const std::function<void(QPainter&)>& paint) {
  QPixmap pixmap(64, 64);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  paint(painter);
  painter.end();
  return QIcon(pixmap);
}

void Disc(QPainter& p, const QColor& fill) {
  p.setPen(QPen(fill.darker(140), 3));
  p.setBrush(fill);
  p.drawEllipse(QRectF(3, 3, 58, 58));
}

}  // namespace

QIcon StartPicture() {
  return Draw([](QPainter& p) {
    Disc(p, QColor(46, 160, 67));
    QPainterPath triangle;
    triangle.moveTo(24, 17);
    triangle.lineTo(48, 32);
    triangle.lineTo(24, 47);
    triangle.closeSubpath();
    p.fillPath(triangle, Qt::white);
  });
}

QIcon StopPicture() {
  return Draw([](QPainter& p) {
    Disc(p, QColor(207, 34, 46));
    p.fillRect(QRectF(21, 21, 22, 22), Qt::white);
  });
}

QIcon ClearPicture() {
  return Draw([](QPainter& p) {
    Disc(p, QColor(84, 110, 140));
    p.setPen(QPen(Qt::white, 6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(22, 22), QPointF(42, 42));
    p.drawLine(QPointF(42, 22), QPointF(22, 42));
  });
}

QIcon PinPicture() {
  return Draw([](QPainter& p) {
    p.setPen(QPen(QColor(60, 60, 60), 3));
    p.setBrush(QColor(230, 80, 60));
    p.drawEllipse(QRectF(18, 6, 28, 28));
    p.setPen(QPen(QColor(60, 60, 60), 5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(32, 34), QPointF(32, 60));
  });
}

QIcon LogImage(int index) {
  return Draw([index](QPainter& p) {
    switch (index) {
      case 0: {  // ready: a check mark
        Disc(p, QColor(46, 160, 67));
        p.setPen(QPen(Qt::white, 7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(QPolygonF({QPointF(18, 33), QPointF(28, 43), QPointF(46, 22)}));
        break;
      }
      case 1: {  // information: an "i"
        Disc(p, QColor(9, 105, 218));
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(28, 13, 8, 8));
        p.drawRoundedRect(QRectF(28, 26, 8, 24), 2, 2);
        break;
      }
      case 2: {  // warning: "!" on a triangle
        QPainterPath triangle;
        triangle.moveTo(32, 4);
        triangle.lineTo(61, 58);
        triangle.lineTo(3, 58);
        triangle.closeSubpath();
        p.setPen(QPen(QColor(154, 103, 0), 3));
        p.setBrush(QColor(240, 170, 20));
        p.drawPath(triangle);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::black);
        p.drawRoundedRect(QRectF(28, 20, 8, 22), 2, 2);
        p.drawEllipse(QRectF(28, 46, 8, 8));
        break;
      }
      default: {  // error: a cross
        Disc(p, QColor(207, 34, 46));
        p.setPen(QPen(Qt::white, 7, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(21, 21), QPointF(43, 43));
        p.drawLine(QPointF(43, 21), QPointF(21, 43));
        break;
      }
    }
  });
}

}  // namespace veldrano
