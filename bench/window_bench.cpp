// Times a scan in the window, and how soon a click on Stop is answered
// during one. Run under a real display (bench/window.sh starts Xvfb).
//
//   window_bench time TREE          prints the seconds of one scan
//   window_bench stop TREE MS...    one scan per MS: clicks Stop MS after the
//                                   start; prints the milliseconds until the
//                                   "Stop button pressed..." row appeared and
//                                   how often the progress bar was repainted
//   window_bench show TREE...       scans the trees, opens the fourth list row's
//                                   group in the tree as a double-click does,
//                                   and leaves the window open for looking at
//                                   it (screenshots)
#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QProgressBar>
#include <QTableView>
#include <QToolButton>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/selection_model.h"
#include "app/veldrano_f1.h"
#include "components/exceptions.h"
#include "scan/scan_context.h"

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

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: window_bench time|stop|show TREE [MS...]\n");
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
    veldrano::TForm1 form;
    form.show();
    QApplication::processEvents();
    form.DropNames(std::vector<std::string>(argv + 2, argv + argc));
    form.sbStartClick();
    // The fourth row's group, found from the list as a double-click does.
    if (form.selectionModel->rowCount() > 3) {
      form.lvSelection->selectRow(3);
      form.lvSelectionDblClick();
    }
    return app.exec();
  }
  if (mode == "time") {
    oneScan(-1);
  } else {
    for (int i = 3; i < argc; ++i) oneScan(std::atoi(argv[i]));
  }
  return 0;
}
