#pragma once
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <string>

namespace veldrano::testing {

// Runs body in a child process once prepare has set the child up, and gives
// back the text body returned. None when prepare fails or body returns none
// (what the test needs cannot be had here: the caller skips it). A child
// that fails otherwise gives a text that says so. The child ends with
// _exit, leaving the test program's state to the parent.
inline std::optional<std::string> InChildProcess(const std::function<bool()>& prepare,
                                                 const std::function<std::optional<std::string>()>& body) {
  int ends[2];
  if (pipe(ends) != 0) return std::nullopt;
  const pid_t child = fork();
  if (child == 0) {
    close(ends[0]);
    if (!prepare()) _exit(2);
    const std::optional<std::string> result = body();
    if (!result) _exit(2);
    for (std::size_t done = 0; done < result->size();) {
      const ssize_t wrote = write(ends[1], result->data() + done, result->size() - done);
      if (wrote <= 0) _exit(1);
      done += static_cast<std::size_t>(wrote);
    }
    _exit(0);
  }
  close(ends[1]);
  std::string text;
  char buffer[4096];
  for (ssize_t got; (got = read(ends[0], buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<std::size_t>(got));
  close(ends[0]);
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return std::nullopt;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 2) return std::nullopt;  // not to be had here
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "the child failed (status " + std::to_string(status) + ")";
  return text;
}

// The same in a mount namespace of the child's own, in which nothing
// mounted is seen outside (it takes CAP_SYS_ADMIN).
inline std::optional<std::string> InOwnMountNamespace(const std::function<std::optional<std::string>()>& body) {
  return InChildProcess(
      [] { return unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0; },
      body);
}

}  // namespace veldrano::testing
