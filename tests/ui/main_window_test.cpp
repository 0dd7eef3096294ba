#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <stdexcept>

#include "app/log_model.h"
#include "app/results_tree_model.h"
#include "app/selection_model.h"
#include "app/single_instance.h"
#include "app/termination_requests.h"
#include "app/veldrano_f1.h"
#include "windows/action_dialog.h"

#include <QLabel>
#include <QPushButton>
#include "components/exceptions.h"
#include "report/activity_log.h"
#include "results/results_model.h"
#include "scan/scan_context.h"

using namespace veldrano;

// Stands in for the desktop's handler of file URLs.
class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> opened;
 public slots:
  void Open(const QUrl& url) { opened << url; }
};

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir scratch;
  std::string tree, tmp;

  void Write(const std::string& relative, const std::string& bytes) {
    const std::string path = tree + "/" + relative;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
  }
  // Answers the export's save dialog once it is open: selects path, or
  // cancels when path is empty. Checks what the dialog offers on the way.
  static void AnswerSaveDialog(const QString& path, const QString& filter) {
    QTimer::singleShot(20, [path, filter] {
      QFileDialog* dialog = nullptr;
      for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* found = qobject_cast<QFileDialog*>(widget); found != nullptr && found->isVisible()) dialog = found;
      }
      if (dialog == nullptr) return AnswerSaveDialog(path, filter);  // not open yet
      const bool offered = dialog->nameFilters() == QStringList{filter} && ScanContext.Busy;
      if (path.isEmpty() || !offered) {
        dialog->reject();
      } else {
        // Typed into the name field, as a user would, and confirmed.
        dialog->findChild<QLineEdit*>("fileNameEdit")->setText(path);
        QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
      }
    });
  }
  // Answers the save dialog with name, then refuses to replace the file the
  // dialog says exists, and cancels. Notes whether the question came.
  static void RefuseToReplace(const QString& name, bool* asked) {
    QTimer::singleShot(20, [name, asked] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return RefuseToReplace(name, asked);
      dialog->findChild<QLineEdit*>("fileNameEdit")->setText(name);
      QTimer::singleShot(20, [dialog, asked] {
        if (auto* question = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
          *asked = question->text().contains("already exists");
          question->button(QMessageBox::No)->click();
        }
        dialog->reject();
      });
      QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
    });
  }
  static QStringList Informations(const TForm1& form) {
    QStringList texts;
    for (int row = 0; row < form.logModel->rowCount(); ++row) {
      texts << QString::fromStdString(form.logModel->Row(row).Information);
    }
    return texts;
  }

 private slots:
  void initTestCase() {
    tree = scratch.filePath("tree").toStdString();
    tmp = scratch.filePath("tmp").toStdString();
    std::filesystem::create_directories(tmp);
    qputenv("TMPDIR", QByteArray::fromStdString(tmp));
    // The cache of hashes is the test's own, never the user's.
    qputenv("XDG_CACHE_HOME", scratch.filePath("cache").toUtf8());
    Write("a", "hello\n");
    Write("sub/b", "hello\n");
    Write("c", std::string(999, 'x'));
    Write("d", std::string(999, 'x'));
    Write("e", std::string(1000, 'y'));
    Write("f", std::string(1000, 'y'));
    Write("odd&name", "unique");
  }

  void aRunFromADropFillsTheLogTreeAndList() {
    TForm1 form;
    // Dropped from a file manager: the tree, a directory inside it and a file.
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(tree)),
                  QUrl::fromLocalFile(QString::fromStdString(tree + "/sub")),
                  QUrl::fromLocalFile(QString::fromStdString(tree + "/a"))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&form, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&form, &drop);
    QCOMPARE(form.Lista->topLevelItemCount(), 1);
    QCOMPARE(form.Lista->topLevelItem(0)->text(0), QString::fromStdString(tree + "/"));
    QVERIFY(form.sbReset->isEnabled());

    QTest::mouseClick(form.sbStart, Qt::LeftButton);
    const QStringList info = Informations(form);
    QVERIFY(info.contains("Files found: 7"));
    QVERIFY(info.contains("Duplicate files: 3"));
    QCOMPARE(info.last(), QString("Ready!"));
    QCOMPARE(form.treeModel->NodeCount(), 1 + 3 + 6);
    QCOMPARE(form.selectionModel->rowCount(), 6);
    const QModelIndex first = form.selectionModel->index(0, 0);
    QCOMPARE(first.data(Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Unchecked);
    QCOMPARE(form.selectionModel->index(1, 0).data(Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Checked);
    QVERIFY(form.TreeView1->isExpanded(form.treeModel->RootIndex()));
    QVERIFY(!form.ProgressBar1->isVisible());
    QVERIFY(std::filesystem::is_empty(tmp));

    form.Timer1Timer();
    QVERIFY(form.sbStart->isEnabled());
    QVERIFY(!form.sbStop->isEnabled());
    QVERIFY(form.sbReset->isEnabled());
  }

  void buttonsMenusAndDropsFollowARunAndStopEndsIt() {
    TForm1 form;
    form.DropNames({tree});
    bool checked = false;
    // Runs inside the scan, from its message pump.
    QTimer::singleShot(0, &form, [&] {
      form.Timer1Timer();
      QVERIFY(!form.sbStart->isEnabled());
      QVERIFY(form.sbStop->isEnabled());
      QVERIFY(!form.sbReset->isEnabled());
      form.Action1Click();
      QVERIFY(!form.Export2CSV->isEnabled());
      QVERIFY(!form.Export2XML->isEnabled());
      form.DropNames({scratch.path().toStdString()});  // refused during a run
      QCOMPARE(form.Lista->topLevelItemCount(), 1);
      QTest::mouseClick(form.sbStop, Qt::LeftButton);
      checked = true;
    });
    form.sbStartClick();
    QVERIFY(checked);
    const QStringList info = Informations(form);
    QVERIFY(info.contains("Stop button pressed..."));
    QVERIFY(info.contains("Process stopped by the user"));
    QVERIFY(!ScanContext.Busy);
    QVERIFY(std::filesystem::is_empty(tmp));
  }

  void f5StartsAndEscapeStops() {
    TForm1 form;
    QCOMPARE(form.sbStart->shortcut(), QKeySequence(Qt::Key_F5));
    QCOMPARE(form.sbStop->shortcut(), QKeySequence(Qt::Key_Escape));
    QCOMPARE(form.sbPin->toolTip(), QString("Keep the window above the others"));
  }

  void thePinKeepsTheWindowOnTopWhilePressed() {
    TForm1 form;
    QVERIFY(form.sbPin->isChecked());
    QVERIFY(form.windowFlags() & Qt::WindowStaysOnTopHint);
    QTest::mouseClick(form.sbPin, Qt::LeftButton);
    QVERIFY(!(form.windowFlags() & Qt::WindowStaysOnTopHint));
    QTest::mouseClick(form.sbPin, Qt::LeftButton);
    QVERIFY(form.windowFlags() & Qt::WindowStaysOnTopHint);
  }

  void closingTheWindowDuringARunStopsIt() {
    TForm1 form;
    form.show();
    form.DropNames({tree});
    QTimer::singleShot(0, &form, [&] { form.close(); });
    form.sbStartClick();
    QVERIFY(!form.isVisible());
    QVERIFY(Informations(form).contains("Process stopped by the user"));
    QVERIFY(!ScanContext.Busy);
    QVERIFY(std::filesystem::is_empty(tmp));
  }

  void aRequestToEndFromOutsideClosesTheWindowAndStopsTheRun() {
    TForm1 form;
    form.show();
    form.DropNames({tree});
    {
      TerminationRequests requests(&form);
      QTimer::singleShot(0, &form, [] {
        std::raise(SIGTERM);  // as the session ends
        QCoreApplication::processEvents();
      });
      form.sbStartClick();
    }
    QVERIFY(!form.isVisible());
    QVERIFY(Informations(form).contains("Process stopped by the user"));
    QVERIFY(std::filesystem::is_empty(tmp));
  }

  void clearEmptiesListResultsAndLog() {
    TForm1 form;
    form.DropNames({tree});
    form.sbStartClick();
    form.sbResetClick();
    QCOMPARE(form.Lista->topLevelItemCount(), 0);
    QCOMPARE(form.selectionModel->rowCount(), 0);
    QCOMPARE(form.treeModel->NodeCount(), 0);
    QCOMPARE(form.logModel->rowCount(), 1);
    QCOMPARE(form.logModel->Row(0).Information, std::string("Ready!"));
    form.Action1Click();
    QVERIFY(!form.Export2CSV->isEnabled());
    QVERIFY(!form.Export2XML->isEnabled());
  }

  // Qt's model tester checks every index, parent, row count and signal of
  // the three models while they change: a run fills them, sorts move rows
  // (and the persistent indexes with them), a second run and Clear empty them.
  void theModelsHoldTogetherThroughRunsSortsAndClear() {
    TForm1 form;
    using Tester = QAbstractItemModelTester;
    const Tester treeTester(form.treeModel, Tester::FailureReportingMode::QtTest);
    const Tester listTester(form.selectionModel, Tester::FailureReportingMode::QtTest);
    const Tester logTester(form.logModel, Tester::FailureReportingMode::QtTest);
    form.DropNames({tree});
    form.sbStartClick();
    form.TreeView1->expandAll();
    form.lvSelection->selectRow(2);
    for (const int column : {0, 1, 2, 1}) form.lvSelectionColumnClick(column);
    QCOMPARE(form.selectionModel->rowCount(), 6);
    form.sbStartClick();
    form.TreeView1->expandAll();
    QCOMPARE(form.treeModel->NodeCount(), 1 + 3 + 6);
    form.sbResetClick();
    QCOMPARE(form.selectionModel->rowCount(), 0);
    QCOMPARE(form.treeModel->NodeCount(), 0);
  }

  // Expanding every group and collapsing them again grows with the number
  // of groups, not with its square or worse: four times the groups may take
  // about four times as long, never twelve (it was sixty).
  void collapsingAllGroupsGrowsWithTheirNumber() {
    const auto expandAndCollapse = [](int groups) {
      qint64 best = std::numeric_limits<qint64>::max();
      for (int attempt = 0; attempt < 3; ++attempt) {
        TForm1 form;
        for (int g = 0; g < groups; ++g) {
          char signature[33];
          std::snprintf(signature, sizeof signature, "%032X", g);
          RecordDuplicate(signature, "/b/" + std::to_string(g), "/a/" + std::to_string(g), g);
        }
        form.show();
        QCoreApplication::processEvents();
        QElapsedTimer clock;
        clock.start();
        form.ExpandallnodesClick();
        QCoreApplication::processEvents();
        form.CollapseallnodesClick();
        QCoreApplication::processEvents();
        best = std::min(best, clock.nsecsElapsed());
        ScanContext.ResultsRoot.reset();
        ScanContext.Selection.clear();
      }
      return best;
    };
    const qint64 small = expandAndCollapse(1000);
    const qint64 large = expandAndCollapse(4000);
    qInfo("expand and collapse: 1000 groups %lld us, 4000 groups %lld us", small / 1000, large / 1000);
    QVERIFY2(large < 12 * small,
             qPrintable(QString("1000 groups: %1 us, 4000 groups: %2 us").arg(small / 1000).arg(large / 1000)));
  }

  // Delete in the list asks first, naming the files and their size; the
  // files moved leave the list and the tree with their emptied groups.
  void deleteMovesTheTickedFilesToTheTrashAfterAsking() {
    const std::string trash = scratch.filePath("trash-tree").toStdString();
    std::filesystem::create_directories(trash);
    for (const char* name : {"k1", "k2", "k3"}) std::ofstream(trash + "/" + name) << "kept?";
    for (const char* name : {"p1", "p2"}) std::ofstream(trash + "/" + name) << "pair";
    qputenv("XDG_DATA_HOME", scratch.filePath("data").toUtf8());
    qputenv("XDG_STATE_HOME", scratch.filePath("state").toUtf8());
    TForm1 form;
    form.DropNames({trash});
    form.sbStartClick();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    // One copy of k stays ticked; the other is unticked and stays.
    std::string unticked;
    for (SelectionRow& row : ScanContext.Selection) {
      if (row.Checked && PathOf(row).find("/k") != std::string::npos && unticked.empty()) {
        row.Checked = false;
        unticked = PathOf(row);
      }
    }
    QString asked;
    const auto answer = [&asked](bool move) {
      QTimer::singleShot(20, [&asked, move] {
        auto* box = qobject_cast<ActionDialog*>(QApplication::activeModalWidget());
        if (box == nullptr || box->objectName() != "TrashConfirmation") return;
        asked = box->Question->text();
        if (move) {
          box->Act->click();
        } else {
          box->reject();
        }
      });
    };
    form.lvSelection->setFocus();
    answer(false);
    QTest::keyClick(form.lvSelection, Qt::Key_Delete);
    QCOMPARE(asked, QStringLiteral("Move 2 ticked files (9 bytes) to the Trash?"));
    QCOMPARE(form.selectionModel->rowCount(), 5);  // cancelled: nothing moved
    answer(true);                                  // now from the Action menu
    emit form.Action1->aboutToShow();
    QVERIFY(form.MoveToTrash1->isEnabled());
    form.MoveToTrash1->trigger();
    QCOMPARE(form.selectionModel->rowCount(), 2);  // k's first and the unticked copy
    QCOMPARE(form.treeModel->rowCount(form.treeModel->RootIndex()), 1);
    QCOMPARE(form.treeModel->rowCount(form.treeModel->GroupIndex(0)), 2);
    QVERIFY(std::filesystem::exists(unticked));
    QCOMPARE(std::distance(std::filesystem::directory_iterator(scratch.filePath("data/Trash/files").toStdString()),
                           std::filesystem::directory_iterator{}),
             2);
    QVERIFY(Informations(form).contains("Files moved to the Trash: 2 (9 bytes)"));
    emit form.Action1->aboutToShow();
    QVERIFY(!form.MoveToTrash1->isEnabled());  // nothing ticked is left

    // Edit -> Undo last action puts them back after asking.
    QTimer::singleShot(20, [] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr || box->objectName() != "UndoConfirmation") return;
      for (QAbstractButton* button : box->buttons()) {
        if (box->buttonRole(button) == QMessageBox::AcceptRole) button->click();
      }
    });
    form.UndoLast1->trigger();
    QVERIFY(Informations(form).contains("Files put back: 2"));
    QVERIFY(std::filesystem::is_empty(scratch.filePath("data/Trash/files").toStdString()));
    qunsetenv("XDG_DATA_HOME");
    qunsetenv("XDG_STATE_HOME");
  }

  // Clear, Start, opening other results and Quit ask before ticks the user
  // changed are lost, and no longer once they are saved; the saved results
  // open again with their ticks.
  void unsavedTicksAreAskedAboutAndSavedResultsOpenAgain() {
    qputenv("XDG_CONFIG_HOME", scratch.filePath("config").toUtf8());
    const std::string kept = scratch.filePath("kept").toStdString();
    std::filesystem::create_directories(kept);
    for (const char* name : {"/a", "/b"}) std::ofstream(kept + name) << "same";
    TForm1 form;
    form.DropNames({kept});
    form.sbStartClick();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.selectionModel->setData(form.selectionModel->index(0, 0), Qt::Checked, Qt::CheckStateRole);
    int asked = 0;
    const auto cancelTheQuestion = [&asked] {
      QTimer::singleShot(20, [&asked] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || box->objectName() != "UnsavedWorkQuestion") return;
        ++asked;
        box->button(QMessageBox::Cancel)->click();
      });
    };
    const QString saved = scratch.filePath("kept.veldrano");
    cancelTheQuestion();
    form.sbResetClick();
    cancelTheQuestion();
    form.sbStartClick();
    cancelTheQuestion();
    QVERIFY(!form.OpenResultsFile(saved));
    cancelTheQuestion();
    QVERIFY(!form.close());
    QCOMPARE(asked, 4);
    QCOMPARE(form.selectionModel->rowCount(), 2);
    QVERIFY(ScanContext.Selection[0].Checked);

    AnswerSaveDialog(saved, QStringLiteral("Saved results (*.veldrano)"));
    QVERIFY(form.SaveResultsClick());
    form.sbResetClick();  // nothing asked
    QCOMPARE(asked, 4);
    QCOMPARE(form.selectionModel->rowCount(), 0);
    QVERIFY(form.OpenResultsFile(saved));
    QCOMPARE(form.selectionModel->rowCount(), 2);
    QVERIFY(ScanContext.Selection[0].Checked);
    QCOMPARE(form.DirectoryCount(), 1);
    form.sbStartClick();  // opened as saved: nothing to lose
    QVERIFY(form.close());
    QCOMPARE(asked, 4);
  }

  // A group found from a row far down the list is scrolled into the tree's
  // view with its files.
  void theLocatedGroupIsScrolledIntoViewWithItsFiles() {
    TForm1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    for (int g = 0; g < 300; ++g) {
      const std::string signature = QString::number(g).rightJustified(32, '0').toStdString();
      for (int copy = 1; copy <= 3; ++copy) {
        RecordDuplicate(signature, "/copy" + std::to_string(copy) + "/" + std::to_string(g), "/a/" + std::to_string(g),
                        1);
      }
    }
    form.lvSelection->selectRow(4 * 250 + 2);
    form.lvSelectionDblClick();
    QCoreApplication::processEvents();
    const QRect view = form.TreeView1->viewport()->rect();
    const QModelIndex group = form.treeModel->GroupIndex(250);
    QVERIFY(form.TreeView1->isExpanded(group));
    QVERIFY(view.contains(form.TreeView1->visualRect(group)));
    QVERIFY(view.contains(form.TreeView1->visualRect(form.treeModel->FileIndex(250, 3))));
    form.sbResetClick();
  }

  void tickRulesFromTheSelectionMenu() {
    TForm1 form;
    QMenu* menu = form.findChild<QMenu*>("pmSelection");
    QVERIFY(menu != nullptr);
    const auto action = [&](const QString& text) {
      for (QAction* a : menu->actions()) {
        if (a->text().remove('&') == text) return a;
      }
      return static_cast<QAction*>(nullptr);
    };
    const auto ticked = [&] {
      int n = 0;
      for (int row = 0; row < form.selectionModel->rowCount(); ++row) {
        n += form.selectionModel->index(row, 0).data(Qt::CheckStateRole).value<Qt::CheckState>() == Qt::Checked;
      }
      return n;
    };
    emit menu->aboutToShow();
    QVERIFY(!action("Untick all")->isEnabled());  // nothing to tick yet
    form.DropNames({tree});
    form.sbStartClick();
    QCOMPARE(ticked(), 3);
    emit menu->aboutToShow();
    QVERIFY(action("Untick all")->isEnabled());
    QVERIFY(!action("Tick every file in this folder")->isEnabled());  // no row highlighted
    QSignalSpy changes(form.selectionModel, &QAbstractItemModel::dataChanged);
    action("Untick all")->trigger();
    QCOMPARE(ticked(), 0);
    QCOMPARE(changes.count(), 1);  // one signal for the whole list
    action("Invert the ticks")->trigger();
    QCOMPARE(ticked(), 6);
    action("Tick all but the first of each group")->trigger();
    QCOMPARE(ticked(), 3);
    action("Tick all but the newest of each group")->trigger();
    QCOMPARE(ticked(), 3);
  }

  void aRowsMenuCopiesItsPathAndEnterLeadsToItsGroup() {
    TForm1 form;
    form.DropNames({tree});
    form.sbStartClick();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QRect first = form.lvSelection->visualRect(form.selectionModel->index(0, 2));
    form.lvSelectionPopup(first.center());
    QMenu* menu = nullptr;
    for (QMenu* m : form.findChildren<QMenu*>()) {
      if (m->objectName().isEmpty() && m->isVisible()) menu = m;
    }
    QVERIFY(menu != nullptr);
    QAction* copy = nullptr;
    for (QAction* a : menu->actions()) {
      if (a->text().remove('&') == "Copy the path") copy = a;
    }
    QVERIFY(copy != nullptr && copy->isEnabled());
    copy->trigger();
    const std::string path = PathOf(ScanContext.Selection[0]);
    QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromStdString(path));
    menu->close();

    // Enter on the highlighted row opens its group in the tree.
    form.lvSelection->setFocus();
    QTest::keyClick(form.lvSelection, Qt::Key_Return);
    QCOMPARE(form.TreeView1->currentIndex().data().toString(),
             QString::fromStdString(GroupOf(ScanContext.Selection[0]).Signature));
  }

  void sizeColumnSortsNumericallyAndAlternates() {
    TForm1 form;
    form.DropNames({tree});
    form.sbStartClick();
    const auto sizes = [&] {
      QStringList texts;
      for (int row = 0; row < form.selectionModel->rowCount(); ++row) {
        texts << form.selectionModel->index(row, 1).data().toString();
      }
      return texts;
    };
    // The highlighted file stays highlighted wherever the sort moves it.
    form.lvSelection->selectRow(0);
    const QString highlighted = form.selectionModel->index(0, 2).data().toString();
    form.lvSelectionColumnClick(1);
    QCOMPARE(form.lvSelection->currentIndex().siblingAtColumn(2).data().toString(), highlighted);
    QVERIFY(form.lvSelection->selectionModel()->isRowSelected(form.lvSelection->currentIndex().row()));
    const QStringList ascending = sizes();
    QCOMPARE(ascending.first(), QString("6"));
    QCOMPARE(ascending.last(), QString("1 000"));
    QVERIFY(ascending.indexOf("999") < ascending.indexOf("1 000"));
    form.lvSelectionColumnClick(1);
    QCOMPARE(sizes().first(), QString("1 000"));
  }

  void exportsGoThroughTheSaveDialog() {
    TForm1 form;
    // The first dialog starts in the home folder, a later one where the last
    // export went.
    QString firstStart, laterStart;
    const auto noteStart = [](QString* start) {
      QTimer::singleShot(5, [start] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
          *start = dialog->directory().absolutePath();
        }
      });
    };
    form.DropNames({tree});
    form.sbStartClick();
    form.Action1Click();
    QVERIFY(form.Export2CSV->isEnabled());
    QVERIFY(form.Export2XML->isEnabled());
    const QString target = scratch.filePath("out");  // the dialog adds the extension
    noteStart(&firstStart);
    AnswerSaveDialog(target, "Comma separated file (*.csv)");
    form.Export_CSV_SelectedClick();
    QVERIFY(!ScanContext.Busy);
    QCOMPARE(firstStart, QDir::homePath());
    std::ifstream in((target + ".csv").toStdString(), std::ios::binary);
    const std::string csv((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    QCOMPARE(std::count(csv.begin(), csv.end(), '\n'), 3L);  // the three ticked rows

    // Typed without its extension, the name of a file that exists: the
    // dialog asks before it is replaced, and a refusal keeps the file.
    bool asked = false;
    RefuseToReplace(target, &asked);
    form.Export_CSV_AllClick();
    QVERIFY(asked);
    std::ifstream again((target + ".csv").toStdString(), std::ios::binary);
    QCOMPARE(std::string((std::istreambuf_iterator<char>(again)), std::istreambuf_iterator<char>()), csv);

    noteStart(&laterStart);
    AnswerSaveDialog(QString(), "XML files (*.xml)");
    const int rows = form.logModel->rowCount();
    form.Export2XMLClick();  // cancelled: nothing written, nothing logged
    QCOMPARE(form.logModel->rowCount(), rows);
    QCOMPARE(laterStart, QDir(scratch.path()).absolutePath());

    // The whole of a path the list's column may cut is in its tool tip.
    QCOMPARE(form.selectionModel->index(0, 2).data(Qt::ToolTipRole).toString(),
             form.selectionModel->index(0, 2).data().toString());
  }

  void aListRowLeadsToItsGroupAndTheTreeMenuFollowsTheTree() {
    TForm1 form;
    form.pmTreePopup(QPoint(1, 1));  // nothing in the tree yet
    QVERIFY(!form.Expandallnodes->isEnabled());
    QVERIFY(!form.Collapseallnodes->isEnabled());
    form.pmTree->hide();

    form.DropNames({tree});
    form.sbStartClick();
    form.pmTreePopup(QPoint(1, 1));
    QVERIFY(form.Expandallnodes->isEnabled());
    QVERIFY(form.Collapseallnodes->isEnabled());
    form.pmTree->hide();

    form.ExpandallnodesClick();
    for (int group = 0; group < 3; ++group) QVERIFY(form.TreeView1->isExpanded(form.treeModel->GroupIndex(group)));

    // The last row of the list belongs to the last group found.
    const int last = form.selectionModel->rowCount() - 1;
    const QString signature = form.selectionModel->index(last, 0).data().toString();
    // Double-clicked on its check box, as the user may well do.
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.lvSelection->scrollToBottom();
    QTest::qWait(20);  // laid out and scrolled
    const QRect box = form.lvSelection->visualRect(form.selectionModel->index(last, 0));
    const QPoint onTheBox(box.left() + box.height() / 2, box.center().y());
    QTest::mouseDClick(form.lvSelection->viewport(), Qt::LeftButton, {}, onTheBox);
    const QModelIndex current = form.TreeView1->currentIndex();
    QCOMPARE(current.data().toString(), signature);
    QVERIFY(form.TreeView1->isExpanded(current));
    for (int group = 0; group < 3; ++group) {
      const QModelIndex other = form.treeModel->GroupIndex(group);
      if (other != current) QVERIFY(!form.TreeView1->isExpanded(other));
    }

    form.CollapseallnodesClick();
    QVERIFY(form.TreeView1->isExpanded(form.treeModel->RootIndex()));
    for (int group = 0; group < 3; ++group) QVERIFY(!form.TreeView1->isExpanded(form.treeModel->GroupIndex(group)));
  }

  void directoriesAreAddedWithTheFolderChooserAndRemovedWithDelete() {
    TForm1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    // The chooser is answered with the tree's "sub" folder once it is open.
    const QString chosen = QString::fromStdString(tree + "/sub");
    QTimer::singleShot(50, [chosen] {
      for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<QFileDialog*>(widget); dialog != nullptr && dialog->isVisible()) {
          dialog->findChild<QLineEdit*>("fileNameEdit")->setText(chosen);
          QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
        }
      }
    });
    form.sbAdd->click();
    QCOMPARE(form.Lista->topLevelItemCount(), 1);
    QCOMPARE(form.Directory(0), tree + "/sub/");
    QVERIFY(form.sbReset->isEnabled());

    form.Lista->setCurrentItem(form.Lista->topLevelItem(0));
    form.activateWindow();
    form.Lista->setFocus();
    QTRY_VERIFY(form.Lista->hasFocus());
    QTest::keyClick(form.Lista, Qt::Key_Delete);
    QCOMPARE(form.Lista->topLevelItemCount(), 0);
    QVERIFY(!form.sbReset->isEnabled());
  }

  void aRowEditedDownToNothingGoesAndIsNeverWalked() {
    TForm1 form;
    form.DropNames({tree});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.Lista->editItem(form.Lista->topLevelItem(0), 0);
    auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    QVERIFY(editor != nullptr);
    editor->setText("  ");
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_COMPARE(form.Lista->topLevelItemCount(), 0);
    QVERIFY(!form.sbReset->isEnabled());
    form.sbStartClick();
    QVERIFY(Informations(form).last().contains("No directory selected"));
  }

  void anEditedDirectoryIsWalkedAsTyped() {
    TForm1 form;
    form.DropNames({scratch.path().toStdString()});
    QTreeWidgetItem* row = form.Lista->topLevelItem(0);
    QVERIFY(row->flags() & Qt::ItemIsEditable);
    // Edited in place to the tree inside it, in the user's own spelling.
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.Lista->editItem(row, 0);
    auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    QVERIFY(editor != nullptr);
    editor->setText(QString::fromStdString(tree + "//sub"));
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents();  // the edit is committed from the event queue
    QCOMPARE(form.Directory(0), tree + "//sub");
    form.sbStartClick();
    const QStringList info = Informations(form);
    QVERIFY(info.contains(QString::fromStdString("Job: " + tree + "//sub")));
    QVERIFY(info.contains("Files found: 1"));
  }

  void aDoubleClickOnTheLogOpensTheFileManagerOnItsDirectory() {
    TForm1 form;
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("file", &catcher, "Open");
    const auto doubleClick = [&](int row) {
      form.lvLog->setCurrentIndex(form.logModel->index(row, 1));
      form.lvLogDblClick();
    };
    doubleClick(0);  // "Ready!" names forty spaces: nothing opens
    AddLogEntry(LogWarning, "Can not open this file", tree + "/odd&name", "Permission denied");
    doubleClick(form.logModel->rowCount() - 1);
    AddLogEntry(LogError, "Error while scanning...", tree + "/sub", "Permission denied");
    doubleClick(form.logModel->rowCount() - 1);
    AddLogEntry(LogWarning, "Can not open this file", tree + "/gone", "No such file or directory");
    doubleClick(form.logModel->rowCount() - 1);
    QDesktopServices::unsetUrlHandler("file");
    QCOMPARE(catcher.opened.size(), 2);
    QCOMPARE(catcher.opened[0].toLocalFile(), QString::fromStdString(tree));
    QCOMPARE(catcher.opened[1].toLocalFile(), QString::fromStdString(tree + "/sub"));
  }

  void theLogPaneKeepsClearOfTheStatusBar() {
    TForm1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const auto gap = [&] { return form.statusBar()->geometry().top() - form.PanelBas->mapTo(&form, QPoint(0, 0)).y(); };
    const int total = form.Splitter1->sizes()[0] + form.Splitter1->sizes()[1];
    form.Splitter1->setSizes({total, 0});  // the splitter dragged to the bottom
    QCoreApplication::processEvents();
    QVERIFY2(gap() >= 50 * form.logicalDpiY() / 96, qPrintable(QString::number(gap())));
    QVERIFY(form.PanelBas->height() > 0);
    // An ordinary move well above the limit is left alone.
    form.Splitter1->setSizes({total / 3, total - total / 3});
    QCoreApplication::processEvents();
    QCOMPARE(form.Splitter1->sizes()[0], total / 3);
  }

  // At the smallest size the window allows, each list still shows a row
  // below its header, and the tree has not crowded out the lists.
  void theSmallestWindowKeepsEveryListUsable() {
    TForm1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.resize(form.minimumSizeHint());
    QCoreApplication::processEvents();
    const int row = form.lvSelection->verticalHeader()->defaultSectionSize();
    QVERIFY2(form.lvSelection->viewport()->height() >= row,
             qPrintable(QString::number(form.lvSelection->viewport()->height())));
    QVERIFY(form.Lista->viewport()->height() >= form.fontMetrics().height());
    QVERIFY(form.lvLog->viewport()->height() >= row);
    QVERIFY(form.lvSelection->width() >= form.TreeView1->width() / 2);
  }

  void anErrorEscapingAHandlerBecomesAWarning() {
    TForm1 form;
    ScanContext.WarningCount = 0;
    ScanContext.LastOperation = "Creating MD5 signature of file /x";
    QTimer::singleShot(0, [] { throw std::runtime_error("boom"); });
    QTest::qWait(50);
    ScanContext.LastOperation.clear();
    const LogRow& row = form.logModel->Row(form.logModel->rowCount() - 1);
    QCOMPARE(row.Information, std::string("Warning #1: WARNING: boom"));
    QCOMPARE(row.Comment, std::string("Last operation: Creating MD5 signature of file /x"));
    QVERIFY(form.isEnabled());
  }

  void aLinkInPlaceOfTheLockIsNotFollowed() {
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    const std::string target = runtime.filePath("target").toStdString();
    std::filesystem::create_symlink(target, runtime.filePath("VELDRANO Duplicates finder.lock").toStdString());
    QVERIFY(TakeSingleInstanceLock());  // starts, without a lock
    QVERIFY(!std::filesystem::exists(target));
  }

  void aSecondCopyEndsAtOnceWithStatus0() {
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    QVERIFY(TakeSingleInstanceLock());  // this process plays the first copy
    QProcess second;
    second.start(VELDRANO_PROGRAM, {});
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
  }
};

int main(int argc, char** argv) {
  TApplication app(argc, argv);
  MainWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "main_window_test.moc"
