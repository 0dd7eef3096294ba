#pragma once

namespace veldrano::platform {

// Requests to end the program from outside it: SIGTERM as the session ends,
// SIGHUP as the terminal that started it closes, Ctrl-C in that terminal.
// The first one asks the program to stop the way it chooses (the scan stops
// as after Stop, and removes its work directory); a second one ends the
// program at once, as if nothing were installed, except while the program
// holds it back (TerminationHeld): then it ends the program as soon as the
// hold is over.

// Installs the handlers. notifyFd, when not -1, gets one byte for every
// request (the write end of a pipe an event loop watches).
void InstallTerminationHandlers(int notifyFd);
// Puts the default handling back.
void RemoveTerminationHandlers();
// True once for each first request since the last call.
bool TakeTerminationRequest();

// While one exists, a second request waits: for short work that must not be
// cut in the middle, such as removing the run's files from the temporary
// directory, where what it left would stay for good.
class TerminationHeld {
 public:
  TerminationHeld();
  ~TerminationHeld();
  TerminationHeld(const TerminationHeld&) = delete;
  TerminationHeld& operator=(const TerminationHeld&) = delete;

 private:
  bool outermost_;
};

}  // namespace veldrano::platform
