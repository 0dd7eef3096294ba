#include "platform/termination_signals.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <initializer_list>

namespace veldrano::platform {

namespace {

constexpr int Requests[] = {SIGTERM, SIGHUP, SIGINT};

// A signal handler can only set flags of this kind; it may run on any of
// the program's threads.
volatile std::sig_atomic_t notifyTo = -1;
volatile std::sig_atomic_t firstRequests = 0;  // not yet taken
volatile std::sig_atomic_t requestsSeen = 0;
volatile std::sig_atomic_t held = 0;
volatile std::sig_atomic_t endWith = 0;  // the signal that ends the program when the hold is over

[[noreturn]] void EndWith(int signal) {
  std::signal(signal, SIG_DFL);
  raise(signal);
  _exit(128 + signal);
}

void OnRequest(int signal) {
  const int saved = errno;
  if (requestsSeen == 0) {
    requestsSeen = 1;
    firstRequests = 1;
    const char byte = 1;
    if (notifyTo >= 0) (void)!write(notifyTo, &byte, 1);
  } else if (held != 0) {
    endWith = signal;
  } else {
    EndWith(signal);
  }
  errno = saved;
}

}  // namespace

void InstallTerminationHandlers(int notifyFd) {
  notifyTo = notifyFd;
  requestsSeen = 0;
  firstRequests = 0;
  struct sigaction action {};
  action.sa_handler = OnRequest;
  sigemptyset(&action.sa_mask);
  for (const int signal : Requests) sigaddset(&action.sa_mask, signal);
  action.sa_flags = SA_RESTART;
  for (const int signal : Requests) sigaction(signal, &action, nullptr);
}

void RemoveTerminationHandlers() {
  for (const int signal : Requests) std::signal(signal, SIG_DFL);
  notifyTo = -1;
}

bool TakeTerminationRequest() {
  if (firstRequests == 0) return false;
  firstRequests = 0;
  return true;
}

TerminationHeld::TerminationHeld() : outermost_(held == 0) { held = 1; }

TerminationHeld::~TerminationHeld() {
  if (!outermost_) return;
  held = 0;
  if (endWith != 0) EndWith(endWith);
}

}  // namespace veldrano::platform
