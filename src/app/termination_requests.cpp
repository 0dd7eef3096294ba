#include "app/termination_requests.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QWidget>

#include "platform/termination_signals.h"

namespace veldrano {

TerminationRequests::TerminationRequests(QWidget* window) : window_(window) {
  if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) return;  // the defaults stay
  notifier_ = new QSocketNotifier(pipe_[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &TerminationRequests::Arrived);
  platform::InstallTerminationHandlers(pipe_[1]);
}

TerminationRequests::~TerminationRequests() {
  if (pipe_[0] < 0) return;
  platform::RemoveTerminationHandlers();
  delete notifier_;
  close(pipe_[0]);
  close(pipe_[1]);
}

void TerminationRequests::Arrived() {
  char bytes[16];
  while (read(pipe_[0], bytes, sizeof bytes) > 0) {
  }
  platform::TakeTerminationRequest();
  window_->close();
}

}  // namespace veldrano
