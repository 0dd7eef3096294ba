#include <QMessageBox>
#include <QTimer>
#include <QtTest>

#include <memory>
#include <stdexcept>

#include "components/exceptions.h"

using namespace veldrano;

// Raises failure from inside an event handler, as a slot or timer would.
static void FailInAHandler(const char* failure) {
  QTimer::singleShot(0, [failure] { throw std::runtime_error(failure); });
  QTest::qWait(30);
}

class ExceptionsTest : public QObject {
  Q_OBJECT

 private slots:
  void anEscapedErrorReachesTheEventAndTheMessageWindow() {
    TExceptions component(nullptr);
    QStringList infos;
    component.OnException = [&](QObject* sender, const QString& info) {
      QCOMPARE(sender, &component);
      infos << info;
    };
    QString shown;
    QTimer::singleShot(10, [&] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        shown = box->text();
        box->accept();
      }
    });
    FailInAHandler("disk on fire");
    QCOMPARE(infos, QStringList{"disk on fire"});
    QCOMPARE(shown,
             QString("ATTENTION !!!\n\r\n\rdisk on fire\n\r\n\rVeuillez contacter votre administrateur informatique."));
  }

  void terminatingEndsTheLoopAfterTheEvent() {
    TExceptions component(nullptr);
    component.AfficheMessage = false;
    component.TermineSiErreur = true;
    bool told = false;
    component.OnException = [&](QObject*, const QString&) { told = true; };
    QEventLoop loop;  // stands for the program's main loop
    QTimer::singleShot(0, [] { throw std::runtime_error("fatal"); });
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, &loop, [&] { loop.exit(2); });
    guard.start(5000);
    QCOMPARE(loop.exec(), 0);  // quit, not the guard
    QVERIFY(told);
  }

  void deactivatingEmptiesTheSlotWhoeverFilledIt() {
    TExceptions first(nullptr);
    TExceptions second(nullptr);
    first.AfficheMessage = second.AfficheMessage = false;
    int firstCalls = 0, secondCalls = 0;
    first.OnException = [&](QObject*, const QString&) { ++firstCalls; };
    second.OnException = [&](QObject*, const QString&) { ++secondCalls; };
    FailInAHandler("one");
    QCOMPARE(secondCalls, 1);  // the last one installed holds the slot
    first.SetActivation(false);
    QVERIFY(!TApplication::Instance()->Slot());
    FailInAHandler("two");  // written to standard error; the program goes on
    QCOMPARE(firstCalls + secondCalls, 1);
    first.SetActivation(true);
    FailInAHandler("three");
    QCOMPARE(firstCalls, 1);
  }

  void aComponentGoingAwayTakesOnlyItsOwnSlot() {
    TExceptions survivor(nullptr);
    survivor.AfficheMessage = false;
    int calls = 0;
    survivor.OnException = [&](QObject*, const QString&) { ++calls; };
    {
      auto older = std::make_unique<TExceptions>(nullptr);
      survivor.SetActivation(true);  // installed after the older one
    }
    FailInAHandler("after");
    QCOMPARE(calls, 1);
    {
      TExceptions newest(nullptr);  // holds the slot until it goes
    }
    QVERIFY(!TApplication::Instance()->Slot());
  }
};

int main(int argc, char** argv) {
  TApplication app(argc, argv);
  ExceptionsTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "exceptions_test.moc"
