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

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>

#include "report/decimal_separator.h"
#include "report/formatting.h"
#include "report/round_half_even.h"

namespace veldrano {

namespace {

// The value of "Key:   1234 kB" in a /proc text, in bytes (a field without
// unit is taken as it is).
std::optional<std::uint64_t> ProcField(std::string_view text, std::string_view key) {
  std::size_t lineStart = 0;
  while (lineStart < text.size()) {
    std::size_t lineEnd = text.find('\n', lineStart);
    if (lineEnd == std::string_view::npos) lineEnd = text.size();
    const std::string_view line = text.substr(lineStart, lineEnd - lineStart);
    lineStart = lineEnd + 1;
    if (line.size() <= key.size() || line.substr(0, key.size()) != key || line[key.size()] != ':') {
      continue;
    }
    std::size_t p = key.size() + 1;
    while (p < line.size() && (line[p] == ' ' || line[p] == '\t')) ++p;
    std::uint64_t value = 0;
    for (; p < line.size() && line[p] >= '0' && line[p] <= '9'; ++p) {
      value = value * 10 + static_cast<std::uint64_t>(line[p] - '0');
    }
    while (p < line.size() && (line[p] == ' ' || line[p] == '\t')) ++p;
    return line.substr(p, 2) == "kB" ? value * 1024 : value;
  }
  return std::nullopt;
}

std::string ReadWholeFile(const char* path) {
  std::ifstream file(path);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// Background colours of the bars.
const QColor kMemColor(255, 255, 150);
const QColor kFigureColor(255, 255, 224);

}  // namespace

MemoryStatus MemoryStatusFromProc(std::string_view meminfo, std::string_view selfStatus,
                                  std::uint64_t addressSpaceLimit) {
  MemoryStatus s;
  s.TotalPhys = ProcField(meminfo, "MemTotal").value_or(0);
  s.AvailPhys = ProcField(meminfo, "MemAvailable").value_or(ProcField(meminfo, "MemFree").value_or(0));
  if (s.AvailPhys > s.TotalPhys) s.AvailPhys = s.TotalPhys;
  if (s.TotalPhys > 0) {
    s.Load = static_cast<std::uint32_t>(RoundHalfEven(
        static_cast<long double>(s.TotalPhys - s.AvailPhys) / s.TotalPhys * 100));
  }
  s.TotalPageFile = ProcField(meminfo, "SwapTotal").value_or(0);
  s.AvailPageFile = std::min(ProcField(meminfo, "SwapFree").value_or(0), s.TotalPageFile);
  s.TotalVirtual = addressSpaceLimit;
  const std::uint64_t vmSize = ProcField(selfStatus, "VmSize").value_or(0);
  s.AvailVirtual = vmSize < addressSpaceLimit ? addressSpaceLimit - vmSize : 0;
  return s;
}

std::uint64_t AddressSpaceLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kUserAddressSpace;
  return static_cast<std::uint64_t>(limit.rlim_cur);
}

MemoryStatus ReadMemoryStatus() {
  return MemoryStatusFromProc(ReadWholeFile("/proc/meminfo"), ReadWholeFile("/proc/self/status"),
                              AddressSpaceLimit());
}

std::string Fixed1(long double value) {
  // The 18-digit decimal expansion decides the rounding, as in FormatSize.
  DecimalDigits expansion = DecimalExpansion(value);
  std::string& digits = expansion.digits;
  const int exponent = expansion.exponent;
  // Power of ten of the last digit kept: the tenths while that keeps five
  // significant digits or fewer, else the units.
  const int lastPlace = exponent <= 3 ? -1 : 0;
  const int kept = exponent - lastPlace + 1;  // significant digits kept, may be 0 or less
  std::string number;                         // the rounded value in units of 10^lastPlace
  bool roundUp = false;
  if (kept > 0) {
    const auto count = static_cast<std::size_t>(kept);
    if (digits.size() < count + 1) digits.resize(count + 1, '0');
    number = digits.substr(0, count);
    roundUp = digits[count] >= '5';
  } else {
    roundUp = kept == 0 && digits[0] >= '5';
  }
  if (roundUp) {
    int i = static_cast<int>(number.size()) - 1;
    for (; i >= 0 && number[static_cast<std::size_t>(i)] == '9'; --i) {
      number[static_cast<std::size_t>(i)] = '0';
    }
    if (i >= 0) {
      ++number[static_cast<std::size_t>(i)];
    } else {
      number.insert(0, 1, '1');
    }
  }
  if (lastPlace == 0) number += '0';
  if (number.size() < 2) number.insert(0, 2 - number.size(), '0');
  std::string text = number.substr(0, number.size() - 1);
  text += DecimalSeparator();
  text += number.back();
  return text;
}

MemoryTexts MemoryPanelTexts(const MemoryStatus& status) {
  MemoryTexts texts;
  texts.Load = "Memory load: " + std::to_string(status.Load) + " %";
  const std::array<std::uint64_t, 3> available{status.AvailPhys, status.AvailPageFile,
                                               status.AvailVirtual};
  const std::array<std::uint64_t, 3> total{status.TotalPhys, status.TotalPageFile,
                                           status.TotalVirtual};
  for (std::size_t i = 0; i < 3; ++i) {
    const std::uint64_t a = available[i];
    const std::uint64_t t = total[i];
    texts.Available[i] = Fixed1(static_cast<long double>(a) / 1024 / 1024);
    texts.Total[i] = Fixed1(static_cast<long double>(t) / 1024 / 1024);
    // No swap at all is a total of 0: nothing of it is in use.
    const std::uint64_t used = t > a ? t - a : 0;
    texts.Used[i] = Fixed1(t == 0 ? 0 : static_cast<long double>(used) / t * 100) + " %";
  }
  return texts;
}

// ---------------------------------------------------------------------------

TStatusPanels::TStatusPanels(QWidget* parent, const QString& name, std::initializer_list<int> widths,
                             int panelCount, double scale)
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
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
  setObjectName("Form2");
  setWindowTitle("VELDRANO");
  // Closing hides the window (it is never deleted on close) and must not
  // end the program.
  setAttribute(Qt::WA_QuitOnClose, false);
  QScreen* s = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
  scale_ = s != nullptr ? s->logicalDotsPerInch() / 96.0 : 1.0;
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

int TForm2::Scaled(int pixels) const { return qRound(pixels * scale_); }

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
  const MemoryTexts texts = MemoryPanelTexts(ReadMemoryStatus());
  sbMem->SetPanelText(0, QString::fromStdString(texts.Load));
  for (int i = 0; i < 3; ++i) {
    const auto column = static_cast<std::size_t>(i);
    sbMin->SetPanelText(i + 1, QString::fromStdString(texts.Available[column]));
    sbMax->SetPanelText(i + 1, QString::fromStdString(texts.Total[column]));
    sbUse->SetPanelText(i + 1, QString::fromStdString(texts.Used[column]));
  }
}

}  // namespace veldrano
