#include "app/termination_requests.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include <QSocketNotifier>
#include <QWidget>

namespace veldrano {

namespace {

constexpr int Requests[] = {SIGTERM, SIGHUP, SIGINT};

// A signal handler may do next to nothing: it writes one byte into a pipe
// whose other end the event loop watches. This is its only way there.
volatile std::sig_atomic_t requestPipe = -1;

void OnRequest(int) {
  const int saved = errno;
  const char byte = 1;
  if (requestPipe >= 0) (void)!write(requestPipe, &byte, 1);
  errno = saved;
}

}  // namespace

TerminationRequests::TerminationRequests(QWidget* window) : window_(window) {
  if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) return;  // the defaults stay
  requestPipe = pipe_[1];
  notifier_ = new QSocketNotifier(pipe_[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &TerminationRequests::Arrived);
  struct sigaction action {};
  action.sa_handler = OnRequest;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND | SA_RESTART;  // the next one is the default again
  for (const int signal : Requests) sigaction(signal, &action, nullptr);
}

TerminationRequests::~TerminationRequests() {
  if (pipe_[0] < 0) return;
  for (const int signal : Requests) std::signal(signal, SIG_DFL);
  requestPipe = -1;
  delete notifier_;
  close(pipe_[0]);
  close(pipe_[1]);
}

void TerminationRequests::Arrived() {
  char bytes[16];
  while (read(pipe_[0], bytes, sizeof bytes) > 0) {
  }
  window_->close();
}

}  // namespace veldrano
