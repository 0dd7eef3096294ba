#include <QLabel>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <clocale>
#include <cstdlib>

#include "report/decimal_separator.h"
#include "windows/veldrano_f2.h"

using namespace veldrano;

namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

QStringList Texts(const std::array<std::string, 3>& column) {
  return {QString::fromStdString(column[0]), QString::fromStdString(column[1]),
          QString::fromStdString(column[2])};
}

QStringList Texts(const TStatusPanels* bar) {
  QStringList texts;
  for (int i = 0; i < bar->PanelCount(); ++i) texts << bar->PanelText(i);
  return texts;
}

}  // namespace

class MemoryWindowTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() { UsePointAsDecimalSeparator(); }

  void panelTexts() {
    MemoryStatus s;
    s.Load = 42;
    s.TotalPhys = 2147483648;
    s.AvailPhys = 536870912;
    s.TotalPageFile = 4294967295;  // the largest 32-bit count: 4095.99999... MiB
    s.AvailPageFile = 262144;      // 0.25 MiB: a half rounds up
    s.TotalVirtual = kUserAddressSpace;
    s.AvailVirtual = kUserAddressSpace - 1536 * kMiB;
    const MemoryTexts t = MemoryPanelTexts(s);
    QCOMPARE(QString::fromStdString(t.Load), QString("Memory load: 42 %"));
    QCOMPARE(Texts(t.Available), (QStringList{"512.0", "0.3", "134216192.0"}));
    QCOMPARE(Texts(t.Total), (QStringList{"2048.0", "4096.0", "134217728.0"}));
    QCOMPARE(Texts(t.Used), (QStringList{"75.0 %", "100.0 %", "0.0 %"}));
  }

  void fixed1Rounding() {
    QCOMPARE(QString::fromStdString(Fixed1(0)), QString("0.0"));
    QCOMPARE(QString::fromStdString(Fixed1(0.04L)), QString("0.0"));
    QCOMPARE(QString::fromStdString(Fixed1(0.05L)), QString("0.1"));
    QCOMPARE(QString::fromStdString(Fixed1(2047.5L)), QString("2047.5"));
    QCOMPARE(QString::fromStdString(Fixed1(511.75L)), QString("511.8"));
    QCOMPARE(QString::fromStdString(Fixed1(9999.95L)), QString("10000.0"));
    // From five integer digits on, the units are the last digit kept.
    QCOMPARE(QString::fromStdString(Fixed1(12345.67L)), QString("12346.0"));
    QCOMPARE(QString::fromStdString(Fixed1(131071.5L)), QString("131072.0"));
  }

  void zeroTotalsShowNothingInUse() {
    const MemoryTexts t = MemoryPanelTexts(MemoryStatus{});
    QCOMPARE(QString::fromStdString(t.Load), QString("Memory load: 0 %"));
    QCOMPARE(Texts(t.Available), (QStringList{"0.0", "0.0", "0.0"}));
    QCOMPARE(Texts(t.Total), (QStringList{"0.0", "0.0", "0.0"}));
    QCOMPARE(Texts(t.Used), (QStringList{"0.0 %", "0.0 %", "0.0 %"}));
  }

  void decimalSeparatorOfTheProcess() {
    QTemporaryDir dir;
    const QByteArray command =
        "localedef -i de_DE -f UTF-8 '" + dir.path().toLocal8Bit() + "/de_DE.UTF-8' >/dev/null 2>&1";
    if (!dir.isValid() || std::system(command.constData()) != 0) QSKIP("localedef cannot build de_DE here");
    qputenv("LOCPATH", dir.path().toLocal8Bit());
    const bool german = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    const QString text = german ? QString::fromStdString(Fixed1(2047.5L)) : QString();
    std::setlocale(LC_NUMERIC, "C");
    qunsetenv("LOCPATH");
    QVERIFY(german);
    QCOMPARE(text, QString("2047,5"));
  }

  void figuresFromProc() {
    const char* meminfo =
        "MemTotal:        8000000 kB\n"
        "MemFree:          100000 kB\n"
        "MemAvailable:    2000000 kB\n"
        "Buffers:           50000 kB\n"
        "SwapCached:          100 kB\n"
        "SwapTotal:       1048576 kB\n"
        "SwapFree:         524288 kB\n";
    const char* status =
        "Name:\tveldrano\n"
        "VmPeak:\t  300000 kB\n"
        "VmSize:\t  262144 kB\n";
    const MemoryStatus s = MemoryStatusFromProc(meminfo, status, 4 * 1024 * kMiB);
    QCOMPARE(s.Load, 75u);
    QCOMPARE(s.TotalPhys, 8000000ull * 1024);
    QCOMPARE(s.AvailPhys, 2000000ull * 1024);
    QCOMPARE(s.TotalPageFile, 1024 * kMiB);
    QCOMPARE(s.AvailPageFile, 512 * kMiB);
    QCOMPARE(s.TotalVirtual, 4096 * kMiB);
    QCOMPARE(s.AvailVirtual, 3840 * kMiB);

    // An old kernel without MemAvailable: the free memory; no swap at all.
    const MemoryStatus old =
        MemoryStatusFromProc("MemTotal: 1000 kB\nMemFree: 995 kB\n", "", kUserAddressSpace);
    QCOMPARE(old.AvailPhys, 995ull * 1024);
    QCOMPARE(old.Load, 0u);  // 0.5 % rounds to the even 0
    QCOMPARE(old.TotalPageFile, 0ull);
    QCOMPARE(old.AvailVirtual, kUserAddressSpace);
  }

  void windowLayout() {
    TForm2 form;
    QCOMPARE(form.objectName(), QString("Form2"));
    QCOMPARE(form.windowTitle(), QString("VELDRANO"));
    QVERIFY(form.windowFlags().testFlag(Qt::Tool));
    QVERIFY(form.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(!form.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!form.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    const double scale = form.screen()->logicalDotsPerInch() / 96.0;
    const auto px = [scale](int pixels) { return qRound(pixels * scale); };
    QCOMPARE(form.size(), QSize(px(292), px(92)));

    const TStatusPanels* bars[] = {form.sbMem, form.sbName, form.sbMin, form.sbMax, form.sbUse};
    const char* names[] = {"sbMem", "sbName", "sbMin", "sbMax", "sbUse"};
    int top = -3;
    for (int i = 0; i < 5; ++i, top += 19) {
      QCOMPARE(bars[i]->objectName(), QString(names[i]));
      QCOMPARE(bars[i]->geometry(), QRect(0, px(top), px(292), px(top + 19) - px(top)));
      QCOMPARE(bars[i]->Color(), i == 0 ? QColor(255, 255, 150) : QColor(255, 255, 224));
      for (int p = 0; p < bars[i]->PanelCount(); ++p) {
        QCOMPARE(bars[i]->Panel(p)->alignment(), Qt::AlignCenter);
        QCOMPARE(bars[i]->Panel(p)->palette().color(QPalette::WindowText), QColor(Qt::black));
      }
    }
    QCOMPARE(form.sbMem->PanelCount(), 1);
    QCOMPARE(form.sbMem->Panel(0)->width(), px(292));
    const int lefts[] = {0, px(75), px(150), px(225)};
    for (int p = 0; p < 4; ++p) {
      const int right = p < 3 ? lefts[p + 1] : px(292);
      QCOMPARE(form.sbMin->Panel(p)->geometry(), QRect(lefts[p], 0, right - lefts[p], px(19)));
    }
    // The unlimited address space in megabytes fits the narrow last panel.
    const QLabel* virtualTotal = form.sbMax->Panel(3);
    form.sbMax->SetPanelText(3, "134217728.0");
    QVERIFY(QFontMetrics(virtualTotal->font()).horizontalAdvance(virtualTotal->text()) <=
            virtualTotal->contentsRect().width());
    QCOMPARE(Texts(form.sbName), (QStringList{"", "Physical", "PageFile", "Virtual"}));
    QCOMPARE(form.sbMin->PanelText(0), QString("Available"));
    QCOMPARE(form.sbMax->PanelText(0), QString("Total"));
    QCOMPARE(form.sbUse->PanelText(0), QString("Used"));
  }

  void hiddenWindowKeepsRefreshing() {
    TForm2 form;
    QVERIFY(form.Timer1->isActive());
    QCOMPARE(form.Timer1->interval(), 250);
    QVERIFY(form.sbMem->PanelText(0).isEmpty());
    QTest::qWait(300);
    QVERIFY(!form.isVisible());
    QVERIFY(form.sbMem->PanelText(0).startsWith("Memory load: "));
    // The totals do not move: each lands in its column.
    const MemoryTexts now = MemoryPanelTexts(ReadMemoryStatus());
    QCOMPARE(Texts(form.sbMax).mid(1), Texts(now.Total));
    QVERIFY(form.sbUse->PanelText(3).endsWith(" %"));
  }

  void showingMovesToTheTopLeft() {
    TForm2 form;
    form.move(300, 200);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.pos(), QPoint(1, 1));
    form.move(300, 200);
    QVERIFY(form.close());  // closing hides, the timer goes on
    QVERIFY(!form.isVisible());
    QVERIFY(form.Timer1->isActive());
    form.show();
    QCOMPARE(form.pos(), QPoint(1, 1));
  }
};

QTEST_MAIN(MemoryWindowTest)
#include "memory_window_test.moc"
