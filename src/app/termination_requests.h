#pragma once
#include <QObject>

#include "platform/unique_fd.h"

class QSocketNotifier;
class QWidget;

namespace veldrano {

// Turns a request to end the program from outside it (SIGTERM as the
// session ends, SIGHUP as the terminal that started it closes, Ctrl-C in
// that terminal) into closing the main window, which stops a run under way
// and removes its work directory before the program ends. A second such
// signal ends the program at once, unless the run is removing its work
// directory: then as soon as that is done.
class TerminationRequests : public QObject {
  Q_OBJECT
 public:
  explicit TerminationRequests(QWidget* window);
  ~TerminationRequests() override;
  TerminationRequests(const TerminationRequests&) = delete;
  TerminationRequests& operator=(const TerminationRequests&) = delete;

 private:
  void Arrived();

  QWidget* window_;
  platform::UniqueFd readEnd_, writeEnd_;  // the pipe the signal handler writes into
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace veldrano
