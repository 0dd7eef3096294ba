// Times a scan in the window, and how soon a click on Stop is answered
// during one. Run under a real display (bench/window.sh starts Xvfb).
//
//   window_bench time TREE          prints the seconds of one scan
//   window_bench stop TREE MS...    one scan per MS: clicks Stop MS after the
//                                   start; prints the milliseconds until the
//                                   "Stop button pressed..." row appeared and
//                                   how often the progress bar was repainted
//   window_bench sort TREE          scans, then clicks each column header of the
//                                   selection list twice; prints the rows and
//                                   the milliseconds of each sort, repaint
//                                   included
//   window_bench results TREE       scans a tree with many duplicates, then
//                                   times what users do with large results:
//                                   Expand all, Collapse all, locating a
//                                   group, each tick rule, the move of the
//                                   ticked files to the Trash (XDG_DATA_HOME
//                                   says where: keep it beside the tree),
//                                   Clear, and closing the window after
//                                   Expand all on 50 000 groups of 3
//   window_bench choose TREE...     the first tree a reference folder, the keep rules dialog
//                                   open after the scan ("dialog"), then its OK ("ticked")
//   window_bench search TREE... TEXT  the results narrowed by the search field
//   window_bench options TREE...    the Options dialog over the results
//   window_bench folders TREE...    the Folders tab after the scan, widened, its
//                                   first folder double-clicked (the list narrowed)
//   window_bench act WHAT TREE...   for screenshots of the actions on ticked files:
//                                   WHAT is menu (the Action menu open), trash, hard,
//                                   symbolic, share or move (its confirmation open),
//                                   done-KIND (the action done, its log shown), or
//                                   undo (hard links made, then Edit -> Undo last
//                                   action asking); XDG_DATA_HOME and XDG_STATE_HOME
//                                   say where the Trash and the journals go
//   window_bench show TREE...       scans the trees, opens the fourth list row's
//                                   group in the tree as a double-click does,
//                                   prints "shown" and leaves the window open
//                                   for looking at it (scripts/screenshot.sh)
#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/results_filter.h"
#include "app/selection_model.h"
#include "app/veldrano_f1.h"
#include "components/exceptions.h"
#include "results/keep_rules.h"
#include "results/results_model.h"
#include "results/saved_results.h"
#include "results/tick_rules.h"
#include "results/ticked_action.h"
#include "scan/scan_context.h"
#include "windows/action_dialog.h"
#include "windows/duplicate_folders_view.h"
#include "windows/keep_rules_dialog.h"
#include "windows/options_dialog.h"

namespace {

// The window, noting when the Stop row arrives.
class TimedWindow : public veldrano::TForm1 {
 public:
  QElapsedTimer clock;
  std::atomic<qint64> stopRowAt{-1};
  void AppendLogRow(const veldrano::LogRow& row) override {
    if (row.Information == "Stop button pressed...") stopRowAt = clock.nsecsElapsed();
    TForm1::AppendLogRow(row);
  }
};

// Counts the repaints of a widget.
class PaintCounter : public QObject {
 public:
  int paints = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

// Shows form, drops trees on it and scans them.
void ScanInWindow(veldrano::TForm1& form, const std::vector<std::string>& trees) {
  form.show();
  QApplication::processEvents();
  form.DropNames(trees);
  form.sbStartClick();
  QApplication::processEvents();
}

// Prints how long step took, the window's repaint included.
void Timed(veldrano::TForm1& form, const char* what, const std::function<void()>& step) {
  QElapsedTimer clock;
  clock.start();
  step();
  QApplication::processEvents();
  form.repaint();
  std::printf("%-36s %6lld ms\n", what, static_cast<long long>(clock.elapsed()));
  std::fflush(stdout);
}

int TimeLargeResults(const std::string& tree) {
  using namespace veldrano;
  auto form = std::make_unique<TForm1>();
  ScanInWindow(*form, {tree});
  std::printf("%zu duplicates in %zu groups, %zu rows\n", static_cast<std::size_t>(ScanContext.DuplicateFiles),
              ScanContext.ResultsRoot ? ScanContext.ResultsRoot->Groups.size() : 0, ScanContext.Selection.size());
  Timed(*form, "Expand all nodes", [&] { form->ExpandallnodesClick(); });
  Timed(*form, "Collapse all nodes", [&] { form->CollapseallnodesClick(); });
  Timed(*form, "Locate a group (double-click a row)", [&] {
    form->lvSelection->selectRow(form->selectionModel->rowCount() * 2 / 3);
    form->lvSelectionDblClick();
  });
  auto* search = form->findChild<ResultsFilter*>();
  Timed(*form, "Search the paths for a folder's name", [&] {
    form->edSearch->setText(QStringLiteral("/d1_0/"));
    search->Apply();
  });
  Timed(*form, "Clear the search", [&] {
    form->edSearch->clear();
    search->Apply();
  });
  Timed(*form, "Untick all", [&] { form->ApplyTickRule([] { UntickAll(); }); });
  Timed(*form, "Invert the ticks", [&] { form->ApplyTickRule([] { InvertTicks(); }); });
  Timed(*form, "Tick all but the oldest", [&] { form->ApplyTickRule([] { TickAllButOldest(); }); });
  Timed(*form, "Tick all but the newest", [&] { form->ApplyTickRule([] { TickAllButNewest(); }); });
  Timed(*form, "Tick every file in a folder",
        [&] { form->ApplyTickRule([] { TickFolderOf(PathOf(ScanContext.Selection[1]), true); }); });
  Timed(*form, "Tick all but the first", [&] { form->ApplyTickRule([] { TickAllButFirst(); }); });
  Timed(*form, "Sort by path", [&] { form->lvSelectionColumnClick(2); });
  ActSummary moved;
  Timed(*form, "Move the ticked files to the Trash", [&] { moved = MoveTickedToTrash(PlanTicked()); });
  std::printf("  %lld files moved, %lld left in place; %zu rows left\n", static_cast<long long>(moved.Done),
              static_cast<long long>(moved.LeftInPlace), ScanContext.Selection.size());
  Timed(*form, "Clear", [&] { form->sbResetClick(); });

  // The window closed after Expand all on many small groups.
  for (int g = 0; g < 50000; ++g) {
    char signature[33];
    std::snprintf(signature, sizeof signature, "%032X", g);
    const std::string n = std::to_string(g);
    RecordDuplicate(signature, "/b/" + n, "/a/" + n, g);
    RecordDuplicate(signature, "/c/" + n, "/a/" + n, g);
  }
  QApplication::processEvents();
  Timed(*form, "Expand all, 50 000 groups of 3", [&] { form->ExpandallnodesClick(); });
  Timed(*form, "Collapse all, 50 000 groups of 3", [&] { form->CollapseallnodesClick(); });
  form->ExpandallnodesClick();
  QApplication::processEvents();
  QElapsedTimer clock;
  clock.start();
  form->close();
  form.reset();
  std::printf("%-36s %6lld ms\n", "Close the window after Expand all", static_cast<long long>(clock.elapsed()));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: window_bench time|stop|sort|results|show TREE [MS...]\n");
    return 2;
  }
  veldrano::TApplication app(argc, argv);
  const std::string mode = argv[1];
  const std::string tree = argv[2];

  const auto oneScan = [&](int stopAfterMs) {
    TimedWindow form;
    form.show();
    QApplication::processEvents();
    form.DropNames({tree});
    PaintCounter counter;
    form.ProgressBar1->installEventFilter(&counter);
    form.clock.start();
    std::atomic<qint64> clickedAt{-1};
    std::thread clicker;
    if (stopAfterMs >= 0) {
      clicker = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(stopAfterMs));
        // Posted from outside, as the display server would deliver a click.
        const QPointF centre(form.sbStop->width() / 2.0, form.sbStop->height() / 2.0);
        clickedAt = form.clock.nsecsElapsed();
        QCoreApplication::postEvent(form.sbStop, new QMouseEvent(QEvent::MouseButtonPress, centre, centre, centre,
                                                                 Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
        QCoreApplication::postEvent(form.sbStop, new QMouseEvent(QEvent::MouseButtonRelease, centre, centre, centre,
                                                                 Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
      });
    }
    form.sbStartClick();
    const double seconds = form.clock.nsecsElapsed() / 1e9;
    if (clicker.joinable()) clicker.join();
    if (stopAfterMs < 0) {
      std::printf("%.3f\n", seconds);
    } else if (form.stopRowAt < 0) {
      std::printf("%d ms: the scan ended (%.2f s) before the click\n", stopAfterMs, seconds);
    } else {
      std::printf("%d ms: Stop answered in %.1f ms; %.0f repaints of the progress bar per second\n", stopAfterMs,
                  (form.stopRowAt - clickedAt) / 1e6, counter.paints / seconds);
    }
    std::fflush(stdout);
  };

  if (mode == "show") {
    // The scan runs from the event loop, as a click on Start does, so that
    // closing the window in the middle of it ends the program as it would.
    veldrano::TForm1 form;
    QTimer::singleShot(0, &form, [&] {
      ScanInWindow(form, std::vector<std::string>(argv + 2, argv + argc));
      // The fourth row's group, found from the list as a double-click does.
      if (form.selectionModel->rowCount() > 3) {
        form.lvSelection->selectRow(3);
        form.lvSelectionDblClick();
      }
      // Once the window has painted what the scan left: a screenshot may go.
      QTimer::singleShot(0, &form, [] {
        std::puts("shown");
        std::fflush(stdout);
      });
    });
    return app.exec();
  }
  if (mode == "choose") {
    // For screenshots of choosing the copy to keep: the first tree a
    // reference folder, the keep rules dialog open over the results
    // ("dialog"), then its OK pressed ("ticked").
    veldrano::TForm1 form;
    QTimer::singleShot(0, &form, [&] {
      form.show();
      QApplication::processEvents();
      form.DropNames(std::vector<std::string>(argv + 2, argv + argc));
      const QString first = QString::fromLocal8Bit(argv[2]) + "/";
      for (QTreeWidgetItem* row : form.Lista->findItems(first, Qt::MatchExactly)) row->setCheckState(1, Qt::Checked);
      form.sbStartClick();
      form.lvSelection->selectRow(3);
      std::string problem;
      veldrano::KeepRulesSettings start{*veldrano::ParseKeepRules("not-path:*/Backup/*,oldest", problem), false};
      std::vector<std::string> folders;
      for (int i = 0; i < form.DirectoryCount(); ++i) folders.push_back(form.Directory(i));
      auto* dialog = new veldrano::KeepRulesDialog(start, folders, veldrano::ScanContext.Selection[3].Group, &form);
      dialog->Criteria->setCurrentRow(1);
      dialog->show();
      QTimer::singleShot(100, &form, [] {
        std::puts("dialog");
        std::fflush(stdout);
      });
      QTimer::singleShot(4000, &form, [&form, dialog] {
        const veldrano::KeepRules rules = dialog->Chosen().Rules;
        dialog->accept();
        form.ApplyTickRule([&rules] { veldrano::TickByKeepRules(rules); });
        QTimer::singleShot(300, &form, [] {
          std::puts("ticked");
          std::fflush(stdout);
        });
      });
    });
    return app.exec();
  }
  if (mode == "search" || mode == "options") {
    // For screenshots: the results of the trees narrowed by the search
    // field's text (the last argument), or the Options dialog over them.
    veldrano::TForm1 form;
    QTimer::singleShot(0, &form, [&] {
      const std::string text = argv[argc - 1];
      ScanInWindow(form, std::vector<std::string>(argv + 2, argv + argc - (mode == "search" ? 1 : 0)));
      if (mode == "search") {
        form.edSearch->setText(QString::fromLocal8Bit(text.c_str()));
        form.findChild<veldrano::ResultsFilter*>()->Apply();
      } else {
        veldrano::ScanFilters filters;
        filters.MinSize = 4096;
        filters.SkipVersionControl = true;
        filters.ExcludedFiles = {"*.tmp", "Thumbs.db"};
        auto* dialog = new veldrano::OptionsDialog(filters, true, &form);
        dialog->MaxSize->setText(QStringLiteral("4x"));
        dialog->show();
      }
      QTimer::singleShot(300, &form, [] {
        std::puts("shown");
        std::fflush(stdout);
      });
    });
    return app.exec();
  }
  if (mode == "folders") {
    // For screenshots of the duplicate folders: the tab shown and widened,
    // and its first folder's files in the list, as a double-click does.
    veldrano::TForm1 form;
    QTimer::singleShot(0, &form, [&] {
      ScanInWindow(form, std::vector<std::string>(argv + 2, argv + argc));
      form.findChild<QTabWidget*>(QStringLiteral("ResultTabs"))->setCurrentIndex(1);
      const int width = form.Splitter3->width();
      form.Splitter3->setSizes({width * 2 / 5, width * 3 / 5});
      form.foldersView->Reload();
      const QModelIndex first = form.foldersView->model()->index(0, 0);
      if (first.isValid()) emit form.foldersView->doubleClicked(first);
      form.findChild<veldrano::ResultsFilter*>()->Apply();
      QTimer::singleShot(300, &form, [] {
        std::puts("shown");
        std::fflush(stdout);
      });
    });
    return app.exec();
  }
  if (mode == "act") {
    using veldrano::ActionKind;
    const std::string what = argv[2];
    const std::string kindName = what.starts_with("done-") ? what.substr(5) : what == "undo" ? "hard" : what;
    const ActionKind kind = kindName == "hard"       ? ActionKind::HardLink
                            : kindName == "symbolic" ? ActionKind::SymbolicLink
                            : kindName == "relative" ? ActionKind::RelativeSymbolicLink
                            : kindName == "share"    ? ActionKind::ShareBlocks
                            : kindName == "move"     ? ActionKind::Move
                                                     : ActionKind::Trash;
    veldrano::TForm1 form;
    QTimer::singleShot(0, &form, [&] {
      ScanInWindow(form, std::vector<std::string>(argv + 3, argv + argc));
      QTimer::singleShot(600, &form, [] {
        std::puts("shown");
        std::fflush(stdout);
      });
      const QString aside = QString::fromLocal8Bit(argv[3]) + ".aside";
      if (what == "menu") {
        form.Action1Click();
        form.Action1->popup(form.mapToGlobal(QPoint(form.width() / 5, form.menuBar()->height())));
      } else if (what.starts_with("done-") || what == "undo") {
        veldrano::TickedAction action{kind, aside.toStdString(), kind == ActionKind::Move, false};
        veldrano::ActOnTicked(veldrano::PlanTicked(), action);
        if (what == "undo") form.UndoLastClick();
      } else {
        auto* dialog = new veldrano::ActionDialog(kind, veldrano::PlanTicked(), aside, &form);
        if (kind == ActionKind::Move) dialog->ShowFiles->setChecked(true);
        dialog->show();
      }
    });
    return app.exec();
  }
  if (mode == "reopen" || mode == "quit") {
    // For screenshots of results that last: the question before Quit with a
    // tick changed ("quit"), or the results saved, one file then changed, and
    // opened again ("reopen").
    veldrano::TForm1 form;
    QTimer::singleShot(0, &form, [&] {
      ScanInWindow(form, std::vector<std::string>(argv + 2, argv + argc));
      QTimer::singleShot(600, &form, [] {
        std::puts("shown");
        std::fflush(stdout);
      });
      if (mode == "quit") {
        form.selectionModel->setData(form.selectionModel->index(0, 0), Qt::Checked, Qt::CheckStateRole);
        form.close();
        return;
      }
      const std::string saved = std::string(argv[2]) + ".veldrano";
      veldrano::SaveResults(saved);
      const std::string changed = veldrano::PathOf(veldrano::ScanContext.Selection[1]);
      std::FILE* file = std::fopen(changed.c_str(), "r+");
      if (file != nullptr) {
        std::fputs("changed", file);
        std::fclose(file);
      }
      form.OpenResultsFile(QString::fromLocal8Bit(saved.c_str()));
    });
    return app.exec();
  }
  if (mode == "results") return TimeLargeResults(tree);
  if (mode == "sort") {
    veldrano::TForm1 form;
    ScanInWindow(form, {tree});
    static const char* const names[] = {"MD5", "Size", "Path"};
    for (int column : {0, 1, 2, 0, 1, 2}) {
      QElapsedTimer clock;
      clock.start();
      form.lvSelection->horizontalHeader()->sectionClicked(column);
      form.lvSelection->viewport()->repaint();
      std::printf("%s: %d rows sorted and shown in %lld ms\n", names[column], form.selectionModel->rowCount(),
                  static_cast<long long>(clock.elapsed()));
    }
    return 0;
  }
  if (mode == "time") {
    oneScan(-1);
  } else {
    for (int i = 3; i < argc; ++i) oneScan(std::atoi(argv[i]));
  }
  return 0;
}
