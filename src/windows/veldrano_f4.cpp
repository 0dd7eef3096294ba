#include "windows/veldrano_f4.h"

#include <QFile>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStyle>

#include "components/layout_scale.h"
#include "components/link_label_qeb.h"
#include "components/screen_fit.h"
#include "program_info.h"
#include "windows/jpeg_picture.h"

// The resources are compiled into a static library: nothing references
// them, so the linker keeps them only if they are registered explicitly.
// Q_INIT_RESOURCE must be used outside any namespace.
static void InitVeldranoResources() { Q_INIT_RESOURCE(resources); }

namespace veldrano {
namespace {

// The layout is drawn in pixels at 96 dpi.
constexpr int kClientWidth = 410;
constexpr int kClientHeight = 210;

// Arial where the system has it, otherwise the desktop's own sans family.
QString ArialOrSans() {
  const QString arial = QStringLiteral("Arial");
  if (QFontDatabase::hasFamily(arial)) return arial;
  return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
}

// Grows a label so that its text is not clipped, never past the right edge
// of the client area.
void FitToText(QLabel* label, int clientWidth) {
  const QSize hint = label->sizeHint();
  const int width = qMin(qMax(label->width(), hint.width()), clientWidth - label->x());
  label->resize(width, qMax(label->height(), hint.height()));
}

}  // namespace

TForm4::TForm4(QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
  static const bool resourcesReady = (InitVeldranoResources(), true);
  Q_UNUSED(resourcesReady);

  setObjectName(QStringLiteral("Form4"));
  setWindowTitle(QStringLiteral("VELDRANO"));

  const double scale = FittingScale(LayoutScale(nullptr), QSize(kClientWidth, kClientHeight));
  const auto px = [scale](int value) { return qRound(value * scale); };
  const int clientWidth = px(kClientWidth);
  setFixedSize(clientWidth, px(kClientHeight));

  // The window's default font: the desktop's family at 8 pt.
  QFont formFont;
  formFont.setPointSize(8);
  setFont(formFont);

  Label2 = new QLabel(QStringLiteral("Quickly find the identical files comparing their contents..."), this);
  Label2->setObjectName(QStringLiteral("Label2"));
  Label2->setTextFormat(Qt::PlainText);
  Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Label2->setGeometry(px(18), px(10), px(387), px(16));
  {
    // 10 pt bold as designed; a wider desktop font is made smaller until the
    // sentence fits on its one line.
    QFont font;
    font.setPointSizeF(10);
    font.setBold(true);
    const int room = clientWidth - Label2->x();
    while (font.pointSizeF() > 7 && QFontMetrics(font).horizontalAdvance(Label2->text()) > room)
      font.setPointSizeF(font.pointSizeF() - 0.5);
    Label2->setFont(font);
    FitToText(Label2, clientWidth);
  }

  Image1 = new QLabel(this);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->setGeometry(px(16), px(44), px(137), px(137));
  Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Image1->setScaledContents(false);
  {
    QFile file(QStringLiteral(":/about_qr.jpg"));
    if (file.open(QIODevice::ReadOnly)) {
      const QImage picture = DecodeJpeg(file.readAll());
      if (!picture.isNull()) Image1->setPixmap(QPixmap::fromImage(picture));
    }
  }

  Label1 = new QLabel(QStringLiteral("VELDRANO"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Label1->setGeometry(px(220), px(56), px(79), px(19));
  {
    QFont font(ArialOrSans());
    font.setPointSize(12);
    font.setBold(true);
    Label1->setFont(font);
    FitToText(Label1, clientWidth);
  }

  // The version, under the name in the window's default font.
  Label3 = new QLabel(QStringLiteral("Version ") + QString::fromLatin1(ProgramVersion), this);
  Label3->setObjectName(QStringLiteral("Label3"));
  Label3->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Label3->setGeometry(px(220), px(84), px(79), px(13));
  FitToText(Label3, clientWidth);

  LinkLabelQeb1 = new TLinkLabelQeb(this);
  LinkLabelQeb1->setObjectName(QStringLiteral("LinkLabelQeb1"));
  LinkLabelQeb1->setText(QStringLiteral("https://veldrano.org"));
  LinkLabelQeb1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  LinkLabelQeb1->setGeometry(px(196), px(112), px(139), px(13));
  FitToText(LinkLabelQeb1, clientWidth);

  btnOK = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("OK"), this);
  btnOK->setObjectName(QStringLiteral("btnOK"));
  btnOK->setGeometry(px(232), px(156), px(77), px(25));
  btnOK->setDefault(true);
  connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);

  // The button is the only control that takes the focus, so it is first in
  // the tab order and has the focus whenever the window opens.
  btnOK->setFocus();
}

// Every showing opens at the centre of the screen the window is on.
void TForm4::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (screen) setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(), screen->availableGeometry()));
    FitIntoScreen(this);  // its title bar too
  }
  QDialog::showEvent(event);
}

}  // namespace veldrano
