#include <gtest/gtest.h>

#include <clocale>

#include "platform/memory_status.h"
#include "report/decimal_separator.h"
#include "report/memory_texts.h"
#include "support/compiled_locale.h"

namespace veldrano {
namespace {

using platform::kUserAddressSpace;
using platform::MemoryStatus;
using Strings = std::array<std::string, 3>;
constexpr std::uint64_t kMiB = 1024 * 1024;

class MemoryTextsTest : public ::testing::Test {
 protected:
  void SetUp() override { UsePointAsDecimalSeparator(); }
};

TEST_F(MemoryTextsTest, PanelTextsRoundEachFigureToOneDecimal) {
  MemoryStatus s;
  s.TotalPhys = 2147483648;
  s.AvailPhys = 536870912;
  s.TotalPageFile = 4294967295;  // the largest 32-bit count: 4095.99999... MiB
  s.AvailPageFile = 262144;      // 0.25 MiB: a half rounds up
  s.TotalVirtual = kUserAddressSpace;
  s.AvailVirtual = kUserAddressSpace - 1536 * kMiB;
  const MemoryTexts t = MemoryPanelTexts(s);
  EXPECT_EQ(t.Load, "Memory load: 75 %");
  EXPECT_EQ(t.Available, (Strings{"512.0", "0.3", "134216192.0"}));
  EXPECT_EQ(t.Total, (Strings{"2048.0", "4096.0", "134217728.0"}));
  EXPECT_EQ(t.Used, (Strings{"75.0 %", "100.0 %", "0.0 %"}));

  // Zero totals (no swap at all): nothing in use.
  const MemoryTexts none = MemoryPanelTexts(MemoryStatus{});
  EXPECT_EQ(none.Load, "Memory load: 0 %");
  EXPECT_EQ(none.Available, (Strings{"0.0", "0.0", "0.0"}));
  EXPECT_EQ(none.Used, (Strings{"0.0 %", "0.0 %", "0.0 %"}));
}

TEST_F(MemoryTextsTest, Fixed1KeepsOneDecimalUpToFiveSignificantDigits) {
  EXPECT_EQ(Fixed1(0), "0.0");
  EXPECT_EQ(Fixed1(0.04L), "0.0");
  EXPECT_EQ(Fixed1(0.05L), "0.1");
  EXPECT_EQ(Fixed1(2047.5L), "2047.5");
  EXPECT_EQ(Fixed1(511.75L), "511.8");
  EXPECT_EQ(Fixed1(9999.95L), "10000.0");
  // From five integer digits on, the units are the last digit kept.
  EXPECT_EQ(Fixed1(12345.67L), "12346.0");
  EXPECT_EQ(Fixed1(131071.5L), "131072.0");
}

TEST_F(MemoryTextsTest, Fixed1WritesTheProcessDecimalSeparator) {
  testing::CompiledLocale german("de_DE");
  if (!german.Available()) GTEST_SKIP() << "localedef cannot build de_DE here";
  ASSERT_NE(std::setlocale(LC_NUMERIC, german.Name()), nullptr);
  const std::string text = Fixed1(2047.5L);
  std::setlocale(LC_NUMERIC, "C");
  EXPECT_EQ(text, "2047,5");
}

TEST(MemoryStatusFromProc, ReadsTheKernelsFigures) {
  const char* meminfo =
      "MemTotal:        8000000 kB\n"
      "MemFree:          100000 kB\n"
      "MemAvailable:    2000000 kB\n"
      "Buffers:           50000 kB\n"
      "SwapCached:          100 kB\n"
      "SwapTotal:       1048576 kB\n"
      "SwapFree:         524288 kB\n";
  const char* status =
      "Name:\tveldrano\n"
      "VmPeak:\t  300000 kB\n"
      "VmSize:\t  262144 kB\n";
  const MemoryStatus s = platform::MemoryStatusFromProc(meminfo, status, 4 * 1024 * kMiB);
  EXPECT_EQ(MemoryLoad(s), 75u);
  EXPECT_EQ(s.TotalPhys, 8000000ull * 1024);
  EXPECT_EQ(s.AvailPhys, 2000000ull * 1024);  // MemAvailable, not MemFree
  EXPECT_EQ(s.TotalPageFile, 1024 * kMiB);
  EXPECT_EQ(s.AvailPageFile, 512 * kMiB);
  EXPECT_EQ(s.TotalVirtual, 4096 * kMiB);
  EXPECT_EQ(s.AvailVirtual, 3840 * kMiB);  // the limit less VmPeak's neighbour VmSize

  // An old kernel without MemAvailable: the free memory; no swap at all.
  const MemoryStatus old =
      platform::MemoryStatusFromProc("MemTotal: 1000 kB\nMemFree: 995 kB\n", "", kUserAddressSpace);
  EXPECT_EQ(old.AvailPhys, 995ull * 1024);
  EXPECT_EQ(MemoryLoad(old), 0u);  // 0.5 % rounds to the even 0
  EXPECT_EQ(old.TotalPageFile, 0ull);
  EXPECT_EQ(old.AvailVirtual, kUserAddressSpace);
}

}  // namespace
}  // namespace veldrano
