#pragma once
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace veldrano::testing {

// Runs work in a child process that then ends the way a killed run does:
// at once, without destructors (what work keeps must be made with new), so
// that what it made on disk stays and its locks go with it. True when work
// ran to its end.
inline bool InKilledProcess(const std::function<void()>& work) {
  const pid_t child = fork();
  if (child == 0) {
    try {
      work();
    } catch (...) {
      _exit(1);
    }
    _exit(0);
  }
  int status = 0;
  return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace veldrano::testing
