#include "platform/look_ahead.h"

#include <fcntl.h>

#include <cerrno>
#include <chrono>

namespace veldrano::platform {

namespace {

// The thread waits busily for a question for up to 2 ms before it sleeps:
// they come every few microseconds while the caller only matches what it
// listed, with gaps of a few hundred between folders, and a sleeping
// thread's wake-up costs the caller more than the look itself. The caller
// waits busily for an answer for a while, then gives way.
constexpr auto BusyWait = std::chrono::milliseconds(2);
constexpr int CallerBusyRounds = 20000;

void Pause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#else
  std::this_thread::yield();
#endif
}

}  // namespace

LookAhead::Look LookAhead::At(int folder, const std::string& name) {
  Look look;
  if (fstatat(folder, name.c_str(), &look.Status, AT_SYMLINK_NOFOLLOW) != 0) look.Error = errno;
  return look;
}

LookAhead::LookAhead() : thread_([this] { Work(); }) {}

LookAhead::~LookAhead() {
  ending_.store(true);
  asked_.fetch_add(1);
  asked_.notify_one();
  thread_.join();
}

void LookAhead::WaitUntilDone(std::uint64_t count) const {
  for (int round = 0; done_.load(std::memory_order_acquire) < count; ++round) {
    if (round < CallerBusyRounds) {
      Pause();
    } else {
      std::this_thread::yield();
    }
  }
}

void LookAhead::Ask(int folder, const std::string& name) {
  const std::uint64_t asked = asked_.load(std::memory_order_relaxed);
  // The question's place is free once the thread has answered the one
  // Depth before it.
  if (asked >= Depth) WaitUntilDone(asked - Depth + 1);
  if (asked - firstOpen_ >= Depth) firstOpen_ = asked - Depth + 1;
  Question& question = questions_[asked % Depth];
  question.Folder = folder;
  question.Name = name;
  asked_.store(asked + 1);  // sequentially consistent, as is the thread's word that it sleeps
  if (sleeping_.load()) asked_.notify_one();
}

std::optional<LookAhead::Look> LookAhead::Take(int folder, const std::string& name) {
  const std::uint64_t asked = asked_.load(std::memory_order_relaxed);
  for (std::uint64_t at = firstOpen_; at < asked; ++at) {
    const Question& question = questions_[at % Depth];
    if (question.Folder != folder || question.Name != name) continue;
    WaitUntilDone(at + 1);
    firstOpen_ = at + 1;
    return question.Answer;
  }
  return std::nullopt;
}

void LookAhead::Forget() {
  const std::uint64_t asked = asked_.load(std::memory_order_relaxed);
  WaitUntilDone(asked);
  firstOpen_ = asked;
}

void LookAhead::Work() {
  std::uint64_t answered = 0;
  for (;;) {
    std::uint64_t asked = asked_.load(std::memory_order_acquire);
    auto since = std::chrono::steady_clock::now();
    for (unsigned round = 1; asked == answered; asked = asked_.load(std::memory_order_acquire), ++round) {
      Pause();
      if (round % 64 != 0 || std::chrono::steady_clock::now() - since < BusyWait) continue;
      sleeping_.store(true);
      if (asked_.load() == answered) asked_.wait(answered);
      sleeping_.store(false);
      since = std::chrono::steady_clock::now();
    }
    if (ending_.load()) return;
    for (; answered < asked; ++answered) {
      Question& question = questions_[answered % Depth];
      question.Answer = At(question.Folder, question.Name);
      done_.store(answered + 1, std::memory_order_release);
    }
  }
}

}  // namespace veldrano::platform
