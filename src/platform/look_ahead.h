#pragma once
#include <sys/stat.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>

namespace veldrano::platform {

// Looks at files (their status, in the folder each was listed in, no link
// followed) on a thread of its own, in the order asked, a few files ahead
// of the caller: when the caller comes to a file, its look is done, and
// cost it nothing but the asking. The thread waits for the next question
// busily for a moment, as one comes every few microseconds while the
// caller goes through files it need not read, then sleeps.
class LookAhead {
 public:
  // Looks asked for and not taken yet, at most.
  static constexpr std::size_t Depth = 16;

  LookAhead();
  ~LookAhead();
  LookAhead(const LookAhead&) = delete;
  LookAhead& operator=(const LookAhead&) = delete;

  struct Look {
    int Error = 0;  // errno of a look that failed
    struct stat Status {};
  };
  // The look at name in folder, made here and now.
  static Look At(int folder, const std::string& name);
  // Asks for a look at name in folder, after those asked before. folder
  // must stay open until Forget (or the look is taken).
  void Ask(int folder, const std::string& name);
  // The look asked for at name in folder, once it is done; the looks asked
  // before it and not taken are dropped. None when it was not asked for
  // (or was taken already).
  std::optional<Look> Take(int folder, const std::string& name);
  // Drops every look asked for, once the thread is done with them: their
  // folders may then be closed.
  void Forget();

 private:
  struct Question {
    int Folder = -1;
    std::string Name;
    Look Answer;  // written by the thread, before done_ counts it
  };
  void Work();
  void WaitUntilDone(std::uint64_t count) const;  // until done_ reaches count

  // The caller's: the questions (each written only while the thread is
  // not on it), and the first not taken or dropped.
  std::array<Question, Depth> questions_;
  std::uint64_t firstOpen_ = 0;
  // Each side writes a line of its own: the thread waiting busily reads
  // asked_ over and over, and the caller done_.
  alignas(64) std::atomic<std::uint64_t> asked_{0};
  std::atomic<bool> ending_{false};
  alignas(64) std::atomic<std::uint64_t> done_{0};
  std::atomic<bool> sleeping_{false};
  alignas(64) std::thread thread_;
};

}  // namespace veldrano::platform
