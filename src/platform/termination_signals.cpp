#include "platform/termination_signals.h"

#include <pthread.h>

#include <initializer_list>

namespace veldrano::platform {

TerminationSignalsHeld::TerminationSignalsHeld() {
  sigset_t held;
  sigemptyset(&held);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&held, signal);
  held_ = pthread_sigmask(SIG_BLOCK, &held, &previous_) == 0;
}

TerminationSignalsHeld::~TerminationSignalsHeld() {
  if (held_) pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

}  // namespace veldrano::platform
