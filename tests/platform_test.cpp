#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <future>
#include <optional>
#include <string>

#include "platform/local_time.h"
#include "platform/look_ahead.h"
#include "platform/same_bytes.h"
#include "platform/system_error.h"
#include "platform/termination_signals.h"
#include "platform/tick_count.h"
#include "platform/unique_fd.h"
#include "support/compiled_locale.h"
#include "support/temp_dir.h"

namespace veldrano {
namespace {

TEST(SystemErrorText, IsTheMessageWithoutTrailingBlanksOrFullStops) {
  EXPECT_EQ(SystemErrorText(ENOENT), "No such file or directory");
  EXPECT_EQ(SystemErrorText(EACCES), "Permission denied");
  const std::string unknown = SystemErrorText(99999);
  EXPECT_FALSE(unknown.empty());
  EXPECT_NE(unknown.back(), '.');
  EXPECT_NE(unknown.back(), ' ');
}

// In a child process: the first request is taken as a stop, a second one
// made while held waits for the hold to end, then ends the program by that
// signal.
TEST(TerminationSignals, ASecondRequestWaitsWhileHeldThenEndsTheProgram) {
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    platform::InstallTerminationHandlers(-1);
    raise(SIGTERM);
    const char taken = platform::TakeTerminationRequest() && !platform::TakeTerminationRequest() ? 'T' : 'F';
    (void)!write(out[1], &taken, 1);
    {
      const platform::TerminationHeld held;
      raise(SIGINT);
      (void)!write(out[1], "H", 1);  // still running
    }
    (void)!write(out[1], "X", 1);  // never reached
    _exit(0);
  }
  close(out[1]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  char seen[4] = {};
  EXPECT_EQ(read(out[0], seen, sizeof seen), 2);
  close(out[0]);
  EXPECT_EQ(std::string(seen, 2), "TH");
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGINT);
}

TEST(TickCount, NeverGoesBack) {
  const auto first = platform::TickCount();
  EXPECT_GE(platform::TickCount(), first);
  EXPECT_GT(first, 0u);
}

TEST(LongTimeFormat, ReadsClockSeparatorAndMarkerFromThePattern) {
  using platform::LongTimeFormat;
  const LongTimeFormat iso = LongTimeFormat::FromPattern("%H:%M:%S", "", "");
  EXPECT_EQ(iso.Format(7, 5, 9), "07:05:09");
  EXPECT_EQ(iso.Format(23, 59, 0), "23:59:00");

  const LongTimeFormat us = LongTimeFormat::FromPattern("%I:%M:%S %p", "AM", "PM");
  EXPECT_EQ(us.Format(0, 5, 9), "12:05:09 AM");
  EXPECT_EQ(us.Format(13, 0, 0), "01:00:00 PM");
  EXPECT_EQ(us.Format(12, 30, 0), "12:30:00 PM");

  const LongTimeFormat markerFirst = LongTimeFormat::FromPattern("%p %l.%M.%S", "am", "pm");
  EXPECT_EQ(markerFirst.Format(9, 5, 3), "am 9.05.03");
  EXPECT_EQ(markerFirst.Format(21, 5, 3), "pm 9.05.03");

  const LongTimeFormat noZero = LongTimeFormat::FromPattern("%-H:%M:%S", "", "");
  EXPECT_EQ(noZero.Format(7, 5, 9), "7:05:09");
  EXPECT_EQ(LongTimeFormat::FromPattern("%T", "", "").Format(7, 5, 9), "07:05:09");
}

TEST(LongTimeFormat, FollowsTheLocale) {
  using platform::LongTimeFormat;
  EXPECT_EQ(LongTimeFormat::ForLocale("C").Format(14, 5, 9), "14:05:09");
  EXPECT_EQ(LongTimeFormat::ForLocale("no_SUCH.locale").Format(14, 5, 9), "14:05:09");

  testing::CompiledLocale american("en_US");
  if (!american.Available()) GTEST_SKIP() << "localedef cannot build en_US here";
  EXPECT_EQ(LongTimeFormat::ForLocale(american.Name()).Format(14, 5, 9), "02:05:09 PM");
}

// Two large files compared with a helper (in two halves at once, or, with
// b's bytes wanted, the rest of b shown from the helper) get the verdict of
// one comparison from end to end: a byte apart anywhere, or a stop, is told
// as it would be; and b's bytes are shown whole and in order.
TEST(ByteComparer, AHelperTakingPartChangesNoVerdict) {
  using platform::ByteComparer;
  const testing::TempDir dir;
  const std::size_t size = 2 * ByteComparer::HandedPartBytes + 12345;
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 131 % 251);
  const std::string a = dir.Write("a", bytes);
  int helped = 0;
  const ByteComparer::Helper helper = [&helped](std::function<void()> task) -> std::optional<std::future<void>> {
    ++helped;
    return std::async(std::launch::async, std::move(task));
  };
  ByteComparer comparer(65536);
  for (const bool withHelper : {false, true}) {
    for (const bool showing : {false, true}) {
      for (const std::size_t apart : {std::size_t{0}, size / 4, size - 1, std::string::npos}) {
        SCOPED_TRACE(std::to_string(withHelper) + std::to_string(showing) + " " + std::to_string(apart));
        std::string other = bytes;
        if (apart != std::string::npos) other[apart] ^= 1;
        const std::string b = dir.Write("b", other);
        const platform::ReadOnlyFile fa(a), fb(b);
        std::uint64_t shown = 0;
        std::string seen;
        const auto see = [&seen](const char* data, std::size_t n) { seen.append(data, n); };
        const ByteComparer::Helper use = withHelper ? helper : ByteComparer::Helper{};
        const auto verdict = comparer.Compare(
            fa, fb, [&shown](std::uint64_t done) { return (shown = done) <= size; },
            showing ? see : std::function<void(const char*, std::size_t)>{}, use);
        EXPECT_EQ(verdict,
                  apart == std::string::npos ? ByteComparer::Verdict::Equal : ByteComparer::Verdict::Different);
        EXPECT_LE(shown, size);  // both halves counted, never beyond the files
        if (verdict == ByteComparer::Verdict::Equal && showing) {
          EXPECT_TRUE(seen == other);
        }
        // Stopped at its first block, whatever the rest holds.
        const auto stopped = comparer.Compare(
            fa, fb, [](std::uint64_t) { return false; },
            showing ? see : std::function<void(const char*, std::size_t)>{}, use);
        EXPECT_EQ(stopped, apart == 0 ? ByteComparer::Verdict::Different : ByteComparer::Verdict::Stopped);
      }
    }
  }
  EXPECT_GT(helped, 8);
}

// Looks taken ahead answer for the file asked, as it was when looked at:
// taken in order or skipping some (those skipped are dropped), more than
// the depth asked at once, a missing file with its error; a file never
// asked, or asked before Forget, has none.
TEST(LookAhead, AnswersForTheFileAskedAndNoOther) {
  using platform::LookAhead;
  const testing::TempDir dir;
  const platform::UniqueFd folder(open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  ASSERT_TRUE(folder.IsOpen());
  constexpr std::size_t Files = 2 * LookAhead::Depth + 3;
  for (std::size_t i = 0; i < Files; ++i) dir.Write(std::to_string(i), std::string(i, 'x'));
  LookAhead ahead;
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    for (std::size_t i = 0; i < Files; ++i) ahead.Ask(folder.Get(), std::to_string(i));
    ahead.Ask(folder.Get(), "missing");
    EXPECT_FALSE(ahead.Take(folder.Get(), "0"));  // dropped: more were asked after it than the depth
    std::string taken;
    for (std::size_t i = Files - LookAhead::Depth + 1; i < Files; i += round + 1) {
      const auto look = ahead.Take(folder.Get(), taken = std::to_string(i));
      ASSERT_TRUE(look);
      EXPECT_EQ(look->Error, 0);
      EXPECT_EQ(look->Status.st_size, static_cast<off_t>(i));
    }
    EXPECT_FALSE(ahead.Take(folder.Get(), taken));  // taken already
    const auto missing = ahead.Take(folder.Get(), "missing");
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->Error, ENOENT);
    ahead.Ask(folder.Get(), "1");
    EXPECT_FALSE(ahead.Take(folder.Get() + 1000, "1"));  // another folder
    ahead.Forget();
    EXPECT_FALSE(ahead.Take(folder.Get(), "1"));
  }
}

}  // namespace
}  // namespace veldrano
