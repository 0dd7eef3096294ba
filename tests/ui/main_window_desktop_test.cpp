// The main window as it meets the desktop: a magnified small screen, a dark
// palette, the program that opens a file, the folder chooser, no display.
// The whole program runs on a 1600 x 1000 screen magnified twice
// (QT_SCALE_FACTOR=2): 800 x 500 of the window's pixels.
#include <QDesktopServices>
#include <QFileDialog>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QScreen>
#include <QSplitter>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>
#include <QtTest>

#include <filesystem>
#include <functional>

#include "app/display_failure.h"
#include "app/log_model.h"
#include "app/results_tree_model.h"
#include "app/selection_model.h"
#include "app/veldrano_f1.h"
#include "components/exceptions.h"
#include "components/screen_fit.h"
#include "program_info.h"
#include "report/activity_log.h"
#include "results/results_model.h"
#include "results/selection_sort.h"
#include "scan/scan_context.h"
#include "windows/veldrano_f2.h"
#include "windows/veldrano_f4.h"

using namespace veldrano;

// Stands in for the desktop's program for files.
class Opener : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> opened;
 public slots:
  void Open(const QUrl& url) { opened << url; }
};

namespace {

// Runs act once ready() holds, looking again every 20 ms from the event
// loop (a modal dialog's, say); after 10 s closes the modal window instead,
// so that the test fails rather than hangs.
void WhenReady(std::function<bool()> ready, std::function<void()> act, int tries = 500) {
  QTimer::singleShot(20, [ready, act, tries] {
    if (ready()) return act();
    if (tries > 0) return WhenReady(ready, act, tries - 1);
    if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
  });
}

// The visible top-level widget of type T named name, or null.
template <typename T>
T* Shown(const QString& name) {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (auto* found = qobject_cast<T*>(widget); found && found->isVisible() && found->objectName() == name) {
      return found;
    }
  }
  return nullptr;
}

// Three files of one content: a group of three rows.
void RecordThreeCopies() {
  const std::string signature(32, 'A');
  RecordDuplicate(signature, "/b/copy", "/a/copy", 10);
  RecordDuplicate(signature, "/c/copy", "/a/copy", 10);
}

}  // namespace

class MainWindowDesktopTest : public QObject {
  Q_OBJECT

  const QPalette desktop_ = QGuiApplication::palette();

 private slots:
  // Whatever a test left, passed or not: no results, the desktop's palette.
  void cleanup() {
    ScanContext.ResultsRoot.reset();
    ScanContext.Selection.clear();
    QApplication::setPalette(desktop_);
  }

  void aFrameIsShrunkAndMovedIntoTheAvailableArea() {
    const QRect available(0, 30, 800, 470);  // a panel along the top
    // Too big, and centred off the screen: shrunk to the area, inside it.
    QCOMPARE(FittedFrame(QRect(-180, -64, 1000, 600), QSize(300, 200), available), available);
    // Fits, but hangs over the bottom right: moved the least.
    QCOMPARE(FittedFrame(QRect(700, 450, 300, 200), QSize(), available), QRect(500, 300, 300, 200));
    // Fits where it is: left alone.
    QCOMPARE(FittedFrame(QRect(10, 40, 300, 200), QSize(), available), QRect(10, 40, 300, 200));
    // Cannot be made small enough: its title bar and menus at the top left.
    QCOMPARE(FittedFrame(QRect(100, 100, 1000, 600), QSize(900, 300), available), QRect(0, 30, 900, 470));
  }

  void theWindowFitsAMagnifiedSmallScreen() {
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    QCOMPARE(available.size(), QSize(800, 500));
    TForm1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QRect frame = form.frameGeometry();
    QVERIFY2(
        available.contains(frame),
        qPrintable(QString("%1 x %2 at %3, %4").arg(frame.width()).arg(frame.height()).arg(frame.x()).arg(frame.y())));
    // In the narrow list the Path column keeps room for a name, the MD5
    // column gives way, and nothing needs scrolling sideways.
    RecordDuplicate("D41D8CD98F00B204E9800998ECF8427E", "/b/empty", "/a/empty", 0);
    for (int copy = 0; copy < 20; ++copy) {  // more than the list shows: a scroll bar
      RecordDuplicate("D41D8CD98F00B204E9800998ECF8427E", "/c/empty" + std::to_string(copy), "/a/empty", 0);
    }
    QCoreApplication::processEvents();
    const QHeaderView* header = form.lvSelection->horizontalHeader();
    const auto widths = [&] {
      return QString("MD5 %1, Size %2, Path %3 in %4")
          .arg(header->sectionSize(0))
          .arg(header->sectionSize(1))
          .arg(header->sectionSize(2))
          .arg(form.lvSelection->viewport()->width());
    };
    QVERIFY2(header->sectionSize(2) >= 150 && header->length() == form.lvSelection->viewport()->width(),
             qPrintable(widths()));
    // Wide, the MD5 column is as wide as a signature needs, the Path column
    // takes the rest.
    form.resize(1400, form.height());
    QCoreApplication::processEvents();
    const int signature = form.lvSelection->sizeHintForIndex(form.selectionModel->index(0, 0)).width();
    const int slack = 3 * form.lvSelection->fontMetrics().horizontalAdvance(QLatin1Char('D'));  // three digits
    QVERIFY2(signature <= header->sectionSize(0) && header->sectionSize(0) <= signature + slack,
             qPrintable(widths() + QString(" for %1").arg(signature)));
    QCOMPARE(header->length(), form.lvSelection->viewport()->width());

    // The tool windows too, each where it opens.
    TForm2 memory;
    memory.show();
    QVERIFY(QTest::qWaitForWindowExposed(&memory));
    QVERIFY(available.contains(memory.frameGeometry()));
    TForm4 about;
    QRect aboutFrame;
    QTimer::singleShot(50, &about, [&] {
      aboutFrame = about.frameGeometry();
      about.accept();
    });
    about.exec();
    QVERIFY(!aboutFrame.isEmpty() && available.contains(aboutFrame));
  }

  // The rows keep the window's colours on a light desktop; on a dark one
  // they are dark, with light text and check marks, and the stripes and
  // groups still stand out.
  void rowColoursFollowTheDesktopPalette() {
    TForm1 form;
    RecordThreeCopies();
    AddLogEntry(LogInfo, "Files found: 3");
    const auto colour = [](const QModelIndex& index, int role) { return index.data(role).value<QColor>(); };
    const QModelIndex logEven = form.logModel->index(0, 1), logOdd = form.logModel->index(1, 1);
    const QModelIndex listEven = form.selectionModel->index(0, 0), listOdd = form.selectionModel->index(1, 0);
    const QModelIndex group = form.treeModel->GroupIndex(0);

    QPalette light(QColor(239, 239, 239));
    light.setColor(QPalette::Base, Qt::white);
    QApplication::setPalette(light);
    QCOMPARE(colour(logEven, Qt::BackgroundRole), QColor(238, 255, 255));
    QCOMPARE(colour(logOdd, Qt::BackgroundRole), QColor(255, 255, 255));
    QCOMPARE(colour(logEven, Qt::ForegroundRole), QColor(0, 0, 0));
    QCOMPARE(colour(listOdd, Qt::BackgroundRole), QColor(255, 255, 238));
    QCOMPARE(colour(listEven, Qt::BackgroundRole), QColor(255, 255, 255));
    QCOMPARE(colour(group, Qt::ForegroundRole), QColor(0, 136, 136));

    QPalette dark(QColor(45, 45, 48));  // a dark window colour, and the rest derived
    dark.setColor(QPalette::Base, QColor(30, 30, 32));
    dark.setColor(QPalette::Text, QColor(230, 230, 230));
    QApplication::setPalette(dark);
    for (const QModelIndex& row : {logEven, logOdd, listEven, listOdd}) {
      QVERIFY(colour(row, Qt::BackgroundRole).lightness() < 80);
      // The check box's mark is drawn in the row's text colour.
      QCOMPARE(colour(row, Qt::ForegroundRole), QColor(230, 230, 230));
    }
    QVERIFY(colour(listOdd, Qt::BackgroundRole) != colour(listEven, Qt::BackgroundRole));
    QVERIFY(colour(logEven, Qt::BackgroundRole) != colour(logOdd, Qt::BackgroundRole));
    QVERIFY(colour(group, Qt::ForegroundRole).lightness() > 128);
  }

  void theSortIndicatorFollowsTheClicks() {
    TForm1 form;
    RecordDuplicate(std::string(32, 'B'), "/b/big", "/a/big", 1000);
    RecordDuplicate(std::string(32, 'C'), "/b/small", "/a/small", 999);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QHeaderView* header = form.lvSelection->horizontalHeader();
    QVERIFY(!header->isSortIndicatorShown());
    // Clicks the header of column; gives the direction that click sorts in,
    // the column's own alternation.
    const auto click = [&](int column) {
      const Qt::SortOrder order = SortState.ColumnDescending[column] ? Qt::DescendingOrder : Qt::AscendingOrder;
      const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
      QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
      return order;
    };
    const auto shows = [&](int column, Qt::SortOrder order) {
      return header->isSortIndicatorShown() && header->sortIndicatorSection() == column &&
             header->sortIndicatorOrder() == order;
    };
    const Qt::SortOrder first = click(1);
    QVERIFY(shows(1, first));
    QCOMPARE(form.selectionModel->index(0, 1).data().toString(), first == Qt::AscendingOrder ? "999" : "1 000");
    const Qt::SortOrder second = click(1);
    QVERIFY(second != first && shows(1, second));
    QVERIFY(shows(2, click(2)));
    form.sbResetClick();  // an empty list is sorted by nothing
    QVERIFY(!header->isSortIndicatorShown());
  }

  // What opens from the window is seen: the pin lets go of the window, as a
  // click on it does. Where nothing can open it, a message says so. (No
  // program opens anything on this platform without the stand-in.)
  void openingReleasesThePinAndSaysWhenNothingCould() {
    TForm1 form;
    RecordThreeCopies();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(form.sbPin->isChecked() && (form.windowFlags() & Qt::WindowStaysOnTopHint));
    const auto openFromTheRowsMenu = [&](const QString& item) {
      form.lvSelectionPopup(form.lvSelection->visualRect(form.selectionModel->index(1, 2)).center());
      for (QMenu* menu : form.findChildren<QMenu*>()) {
        if (!menu->isVisible() || !menu->objectName().isEmpty()) continue;
        for (QAction* action : menu->actions()) {
          if (action->text().remove('&') == item) action->trigger();
        }
        menu->close();
      }
    };
    Opener opener;
    QDesktopServices::setUrlHandler("file", &opener, "Open");
    openFromTheRowsMenu("Open");
    QDesktopServices::unsetUrlHandler("file");
    QCOMPARE(opener.opened, QList<QUrl>{QUrl::fromLocalFile("/b/copy")});
    QVERIFY(!form.sbPin->isChecked());
    QVERIFY(!(form.windowFlags() & Qt::WindowStaysOnTopHint));

    form.sbPin->click();  // pinned again
    QString said;
    WhenReady([] { return Shown<QMessageBox>("OpenFailed") != nullptr; },
              [&said] {
                QMessageBox* box = Shown<QMessageBox>("OpenFailed");
                said = box->text();
                box->accept();
              });
    openFromTheRowsMenu("Open the folder");
    QCOMPARE(said, QString("Nothing could open /b: the desktop has no program for it."));
    QVERIFY(!form.sbPin->isChecked());
  }

  // Ctrl-click picks a second folder in the chooser; both join the list.
  void severalDirectoriesAreAddedAtOnce() {
    QTemporaryDir scratch;
    for (const char* name : {"x", "y", "z"}) std::filesystem::create_directories(scratch.filePath(name).toStdString());
    TForm1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QString parent = scratch.path();
    QFileDialog* dialog = nullptr;
    QTreeView* view = nullptr;  // the folder's contents, in the chooser's detail view
    const auto rowOf = [&](const QString& name) {
      const QModelIndex root = view->rootIndex();
      for (int row = 0; row < view->model()->rowCount(root); ++row) {
        if (view->model()->index(row, 0, root).data().toString() == name) return view->model()->index(row, 0, root);
      }
      return QModelIndex();
    };
    WhenReady(
        [&] {
          if (dialog == nullptr && (dialog = Shown<QFileDialog>("AddDirectoryDialog")) != nullptr) {
            dialog->setDirectory(parent);
            view = dialog->findChild<QTreeView*>("treeView");
          }
          return view != nullptr && view->isVisible() && rowOf("z").isValid() && rowOf("x").isValid();
        },
        [&] {
          QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(rowOf("x")).center());
          QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier,
                            view->visualRect(rowOf("z")).center());
          QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
        });
    form.sbAdd->click();
    QCOMPARE(form.Lista->topLevelItemCount(), 2);
    QCOMPARE(form.Directory(0), scratch.filePath("x").toStdString() + "/");
    QCOMPARE(form.Directory(1), scratch.filePath("z").toStdString() + "/");
  }

  void withoutADisplayItSaysSoAndExits1() {
    QTemporaryDir runtime;  // a lock of its own, whatever else runs
    QProcessEnvironment bare;
    bare.insert("XDG_RUNTIME_DIR", runtime.path());
    QProcess program;
    program.setProcessEnvironment(bare);
    program.start(VELDRANO_PROGRAM, {});
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 1);
    QVERIFY(program.readAllStandardError().endsWith(NoDisplayText));

    // The version needs no display at all.
    program.setProcessEnvironment(QProcessEnvironment());
    program.start(VELDRANO_PROGRAM, {"--version"});
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitCode(), 0);
    QCOMPARE(program.readAllStandardOutput(), QByteArray("veldrano ") + ProgramVersion + "\n");
  }
};

int main(int argc, char** argv) {
  // The screen: 1600 x 1000 pixels, each of the window's pixels two of them.
  QTemporaryDir platform;
  const QString config = platform.filePath("screen.json");
  QFile file(config);
  if (!file.open(QIODevice::WriteOnly)) return 2;
  file.write(R"({"screens": [{"name": "small", "x": 0, "y": 0, "width": 1600, "height": 1000}]})");
  file.close();
  qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + config).toUtf8());
  qputenv("QT_SCALE_FACTOR", "2");
  qputenv("XDG_CACHE_HOME", platform.filePath("cache").toUtf8());  // never the user's cache of hashes
  TApplication app(argc, argv);
  MainWindowDesktopTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "main_window_desktop_test.moc"
