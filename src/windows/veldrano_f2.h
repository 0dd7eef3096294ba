#pragma once
#include <QFrame>
#include <QWidget>

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "platform/memory_status.h"
#include "report/memory_texts.h"

class QColor;
class QLabel;
class QRect;
class QTimer;

namespace veldrano {

// A status bar of fixed panels: labels side by side, texts centred, the last
// panel reaching the right edge.
class TStatusPanels : public QFrame {
 public:
  // widths of every panel but the last, in pixels at 96 dpi; scale turns
  // them into screen pixels.
  TStatusPanels(QWidget* parent, const QString& name, std::initializer_list<int> widths, int panelCount, double scale);

  // Moves and sizes the bar and lays its panels out at once, shown or not.
  void SetBounds(const QRect& bounds);

  int PanelCount() const { return static_cast<int>(panels_.size()); }
  QLabel* Panel(int index) const { return panels_.at(static_cast<std::size_t>(index)); }
  QString PanelText(int index) const;
  void SetPanelText(int index, const QString& text);
  void SetColor(const QColor& color);
  QColor Color() const;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void PlacePanels();
  void FitText(QLabel* label);
  std::vector<int> widths_;  // at 96 dpi
  double scale_;
  std::vector<QLabel*> panels_;
};

// The memory window: a small tool window, on top of normal windows, that
// shows the memory load and, for physical memory, the page file and the
// address space, what is available, the total and the share in use. The
// timer refreshes it four times a second whether it is shown or not.
// Closing it only hides it.
class TForm2 : public QWidget {
  Q_OBJECT
 public:
  explicit TForm2(QWidget* parent = nullptr);

  TStatusPanels* sbMem;
  TStatusPanels* sbName;
  TStatusPanels* sbMin;
  TStatusPanels* sbMax;
  TStatusPanels* sbUse;
  QTimer* Timer1;

  void FormCreate();
  void FormShow();
  void Timer1Timer();

  // Screen pixels for a length in pixels at 96 dpi.
  int Scaled(int pixels) const;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  double scale_;
};

}  // namespace veldrano
