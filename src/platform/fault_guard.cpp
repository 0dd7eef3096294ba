#include "platform/fault_guard.h"

#include <csetjmp>
#include <csignal>
#include <mutex>

namespace veldrano::platform {

namespace {

struct GuardedRange {
  sigjmp_buf resume;
  const char* begin = nullptr;
  const char* end = nullptr;
};

// The read under way on this thread, if any.
thread_local GuardedRange* activeRange = nullptr;

// The SIGBUS disposition found before ours, written once at installation.
struct sigaction previousAction {};

void OnBusError(int signal, siginfo_t* info, void* context) {
  GuardedRange* range = activeRange;
  const char* address = static_cast<const char*>(info->si_addr);
  if (range != nullptr && address >= range->begin && address < range->end) {
    siglongjmp(range->resume, 1);
  }
  // Not ours: hand it on as if we had never been installed.
  if (previousAction.sa_flags & SA_SIGINFO) {
    previousAction.sa_sigaction(signal, info, context);
  } else if (previousAction.sa_handler != SIG_IGN && previousAction.sa_handler != SIG_DFL) {
    previousAction.sa_handler(signal);
  } else {
    // Restore the default and return: the faulting instruction runs again
    // and the process ends with the usual bus error.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(SIGBUS, &fallback, nullptr);
  }
}

void InstallHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    sigemptyset(&action.sa_mask);
    // SA_NODEFER keeps SIGBUS unblocked while the handler runs, so that after
    // the jump back a later fault is delivered again rather than killing us.
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigaction(SIGBUS, &action, &previousAction);
  });
}

}  // namespace

bool ReadGuarded(const void* data, std::size_t length, void (*read)(const void*, std::size_t)) {
  InstallHandler();
  GuardedRange range;
  range.begin = static_cast<const char*>(data);
  range.end = range.begin + length;
  GuardedRange* const outer = activeRange;
  if (sigsetjmp(range.resume, 0) != 0) {
    activeRange = outer;
    return false;
  }
  activeRange = &range;
  read(data, length);
  activeRange = outer;
  return true;
}

}  // namespace veldrano::platform
