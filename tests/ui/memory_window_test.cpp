#include <QLabel>
#include <QScreen>
#include <QTimer>
#include <QtTest>

#include "report/decimal_separator.h"
#include "windows/veldrano_f2.h"

using namespace veldrano;

namespace {

QStringList Texts(const std::array<std::string, 3>& column) {
  return {QString::fromStdString(column[0]), QString::fromStdString(column[1]), QString::fromStdString(column[2])};
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
    const MemoryTexts now = MemoryPanelTexts(platform::ReadMemoryStatus());
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
