#pragma once
#include <QFrame>
#include <QWidget>

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

class QColor;
class QLabel;
class QRect;
class QTimer;

namespace veldrano {

// The machine's memory figures, in bytes, except Load in percent.
struct MemoryStatus {
  std::uint32_t Load = 0;  // physical memory in use, 0..100
  std::uint64_t TotalPhys = 0;
  std::uint64_t AvailPhys = 0;
  std::uint64_t TotalPageFile = 0;  // the swap
  std::uint64_t AvailPageFile = 0;
  std::uint64_t TotalVirtual = 0;  // the process's address space
  std::uint64_t AvailVirtual = 0;
};

// The size of the user address space of a 64-bit process (47 bits): the
// total virtual memory when the address space is not limited.
inline constexpr std::uint64_t kUserAddressSpace = std::uint64_t{1} << 47;

// The figures from the texts of /proc/meminfo and /proc/self/status, for a
// process whose address space is limited to addressSpaceLimit bytes.
// Physical memory is MemTotal with MemAvailable (MemFree on kernels without
// it) available; the page file is the swap (SwapTotal, SwapFree); the
// virtual space available is the limit less the process's VmSize. Missing
// fields count as 0.
MemoryStatus MemoryStatusFromProc(std::string_view meminfo, std::string_view selfStatus,
                                  std::uint64_t addressSpaceLimit);

// The process's address-space limit (RLIMIT_AS), kUserAddressSpace when
// there is none.
std::uint64_t AddressSpaceLimit();

// The figures of this machine and process now.
MemoryStatus ReadMemoryStatus();

// value (not negative) rounded to one decimal, or to the unit from five
// integer digits on so that no more than five significant digits are shown
// where that is possible, written with all its integer digits and exactly
// one digit after the process's decimal separator: 2047.5, 37.0, 131072.0.
// A half rounds away from zero.
std::string Fixed1(long double value);

// The texts the timer writes into the memory window.
struct MemoryTexts {
  std::string Load;  // "Memory load: 42 %"
  // Columns Physical, PageFile, Virtual.
  std::array<std::string, 3> Available;  // megabytes, no unit: "512.0"
  std::array<std::string, 3> Total;
  std::array<std::string, 3> Used;  // "75.0 %"
};
MemoryTexts MemoryPanelTexts(const MemoryStatus& status);

// A status bar of fixed panels: labels side by side, texts centred, the last
// panel reaching the right edge.
class TStatusPanels : public QFrame {
 public:
  // widths of every panel but the last, in pixels at 96 dpi; scale turns
  // them into screen pixels.
  TStatusPanels(QWidget* parent, const QString& name, std::initializer_list<int> widths,
                int panelCount, double scale);

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
