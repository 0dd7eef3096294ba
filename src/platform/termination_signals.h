#pragma once
#include <signal.h>

namespace veldrano::platform {

// Holds back the requests to end the program (SIGINT, SIGTERM, SIGHUP)
// while it exists: what arrives meanwhile is delivered when it goes. For
// short work that must not be cut in the middle, such as removing the
// run's files from the temporary directory.
class TerminationSignalsHeld {
 public:
  TerminationSignalsHeld();
  ~TerminationSignalsHeld();
  TerminationSignalsHeld(const TerminationSignalsHeld&) = delete;
  TerminationSignalsHeld& operator=(const TerminationSignalsHeld&) = delete;

 private:
  sigset_t previous_{};
  bool held_ = false;
};

}  // namespace veldrano::platform
