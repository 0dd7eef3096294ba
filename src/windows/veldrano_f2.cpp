#include "windows/veldrano_f2.h"

#include <QColor>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QPalette>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>
#include <QWindow>

#include <algorithm>

#include "components/layout_scale.h"
#include "components/screen_fit.h"

namespace veldrano {

namespace {

// Background colours of the bars.
const QColor kMemColor(255, 255, 150);
const QColor kFigureColor(255, 255, 224);

}  // namespace

// ---------------------------------------------------------------------------

TStatusPanels::TStatusPanels(QWidget* parent, const QString& name, std::initializer_list<int> widths, int panelCount,
                             double scale)
    : QFrame(parent), widths_(widths), scale_(scale) {
  setObjectName(name);
  setAutoFillBackground(true);
  QPalette labelPalette;
  // Black on the pale backgrounds whatever the desktop's theme, and a
  // sunken edge drawn from fixed greys.
  labelPalette.setColor(QPalette::WindowText, Qt::black);
  labelPalette.setColor(QPalette::Light, Qt::white);
  labelPalette.setColor(QPalette::Dark, QColor(160, 160, 160));
  labelPalette.setColor(QPalette::Mid, QColor(160, 160, 160));
  for (int i = 0; i < panelCount; ++i) {
    auto* label = new QLabel(this);
    label->setAlignment(Qt::AlignCenter);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setLineWidth(1);
    label->setPalette(labelPalette);
    panels_.push_back(label);
  }
  PlacePanels();
}

void TStatusPanels::SetBounds(const QRect& bounds) {
  setGeometry(bounds);
  // A hidden widget gets its resize event only when it is shown.
  PlacePanels();
}

QString TStatusPanels::PanelText(int index) const { return Panel(index)->text(); }

void TStatusPanels::SetPanelText(int index, const QString& text) {
  QLabel* label = Panel(index);
  if (label->text() == text) return;
  label->setText(text);
  FitText(label);
}

void TStatusPanels::FitText(QLabel* label) {
  // A text wider than its panel (the address space in megabytes has nine
  // integer digits) is written smaller, down to 6 points, rather than cut.
  QFont f = font();
  const int room = label->contentsRect().width() - 2;
  while (f.pointSizeF() > 6 && QFontMetrics(f).horizontalAdvance(label->text()) > room) {
    f.setPointSizeF(f.pointSizeF() - 0.5);
  }
  label->setFont(f);
}

void TStatusPanels::SetColor(const QColor& color) {
  QPalette p = palette();
  p.setColor(QPalette::Window, color);
  setPalette(p);
  for (QLabel* label : panels_) {
    QPalette lp = label->palette();
    lp.setColor(QPalette::Window, color);
    label->setPalette(lp);
  }
}

QColor TStatusPanels::Color() const { return palette().color(QPalette::Window); }

void TStatusPanels::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  PlacePanels();
}

void TStatusPanels::PlacePanels() {
  int left96 = 0;
  for (std::size_t i = 0; i < panels_.size(); ++i) {
    const int left = qRound(left96 * scale_);
    const bool last = i + 1 == panels_.size();
    if (!last) left96 += i < widths_.size() ? widths_[i] : 0;
    const int right = last ? width() : qRound(left96 * scale_);
    panels_[i]->setGeometry(left, 0, right - left, height());
    FitText(panels_[i]);
  }
}

// ---------------------------------------------------------------------------

TForm2::TForm2(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
  setObjectName("Form2");
  setWindowTitle("VELDRANO");
  // Closing hides the window (it is never deleted on close) and must not
  // end the program.
  setAttribute(Qt::WA_QuitOnClose, false);
  scale_ = FittingScale(LayoutScale(this), QSize(292, 92));
  QFont f = font();
  f.setPointSize(8);
  setFont(f);
  setFixedSize(Scaled(292), Scaled(92));

  // Stacked without gaps; the first bar's top 3 pixels lie above the client area.
  const auto bar = [this](const char* name, int top, std::initializer_list<int> widths, int count) {
    auto* b = new TStatusPanels(this, name, widths, count, scale_);
    b->SetBounds(QRect(0, Scaled(top), Scaled(292), Scaled(top + 19) - Scaled(top)));
    return b;
  };
  sbMem = bar("sbMem", -3, {}, 1);
  sbName = bar("sbName", 16, {75, 75, 75}, 4);
  sbMin = bar("sbMin", 35, {75, 75, 75}, 4);
  sbMax = bar("sbMax", 54, {75, 75, 75}, 4);
  sbUse = bar("sbUse", 73, {75, 75, 75}, 4);
  sbName->SetPanelText(1, "Physical");
  sbName->SetPanelText(2, "PageFile");
  sbName->SetPanelText(3, "Virtual");
  sbMin->SetPanelText(0, "Available");
  sbMax->SetPanelText(0, "Total");
  sbUse->SetPanelText(0, "Used");

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(250);
  connect(Timer1, &QTimer::timeout, this, &TForm2::Timer1Timer);

  FormCreate();
  Timer1->start();
}

int TForm2::Scaled(int pixels) const { return ScaledPixels(pixels, scale_); }

void TForm2::FormCreate() {
  sbMem->SetColor(kMemColor);
  sbName->SetColor(kFigureColor);
  sbMin->SetColor(kFigureColor);
  sbMax->SetColor(kFigureColor);
  sbUse->SetColor(kFigureColor);
}

void TForm2::FormShow() {
  move(x(), 1);
  move(1, 1);
  // Asked of the window itself, the position is the frame's even before the
  // window manager has framed the window for the first time; move() alone
  // would then put the client area at (1, 1) and the title bar above the
  // screen.
  if (QWindow* window = windowHandle()) window->setFramePosition(QPoint(1, 1));
  FitIntoScreen(this);  // below a panel along the top or left edge
}

void TForm2::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // Only when the program shows the window, not when the window system
  // restores it.
  if (!event->spontaneous()) FormShow();
}

void TForm2::Timer1Timer() {
  QCoreApplication::processEvents();
  // Back to the top of the stay-on-top windows, without activating it; a
  // hidden window stays hidden.
  if (isVisible()) raise();
  const MemoryTexts texts = MemoryPanelTexts(platform::ReadMemoryStatus());
  sbMem->SetPanelText(0, QString::fromStdString(texts.Load));
  for (int i = 0; i < 3; ++i) {
    const auto column = static_cast<std::size_t>(i);
    sbMin->SetPanelText(i + 1, QString::fromStdString(texts.Available[column]));
    sbMax->SetPanelText(i + 1, QString::fromStdString(texts.Total[column]));
    sbUse->SetPanelText(i + 1, QString::fromStdString(texts.Used[column]));
  }
}

}  // namespace veldrano
