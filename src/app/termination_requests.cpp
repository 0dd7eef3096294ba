#include "app/termination_requests.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QWidget>

#include "platform/termination_signals.h"

namespace veldrano {

TerminationRequests::TerminationRequests(QWidget* window) : window_(window) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;  // the defaults stay
  readEnd_ = platform::UniqueFd(ends[0]);
  writeEnd_ = platform::UniqueFd(ends[1]);
  notifier_ = new QSocketNotifier(readEnd_.Get(), QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &TerminationRequests::Arrived);
  platform::InstallTerminationHandlers(writeEnd_.Get());
}

TerminationRequests::~TerminationRequests() {
  if (!readEnd_.IsOpen()) return;
  platform::RemoveTerminationHandlers();
  delete notifier_;
}

void TerminationRequests::Arrived() {
  char bytes[16];
  while (read(readEnd_.Get(), bytes, sizeof bytes) > 0) {
  }
  platform::TakeTerminationRequest();
  window_->close();
}

}  // namespace veldrano
