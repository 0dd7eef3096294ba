// Choosing the copy to keep: a rule set of four criteria applied to the
// results of a large scan (100 000 rows in 20 000 groups), as the window's
// dialog does for its preview and OK, and as veldrano-scan --keep does.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "results/keep_rules.h"
#include "results/tick_rules.h"
#include "scan/scan_context.h"

namespace {

using namespace veldrano;

// Groups of five copies scattered over a home: pictures, downloads and a
// backup, some with copy markers, times spread over a few years.
void MakeResults(std::size_t groups, std::size_t copies) {
  std::mt19937_64 random(7);
  auto root = std::make_unique<ResultsNode>();
  const char* const places[] = {"/home/u/Pictures/2024/", "/home/u/Downloads/", "/home/u/Backup/old/Pictures/",
                                "/home/u/Documents/scans/", "/home/u/Desktop/"};
  ScanContext.Selection.clear();
  for (std::uint32_t g = 0; g < groups; ++g) {
    SignatureGroup group{std::to_string(g), 1000 + g, {}, {}, false, {}};
    for (std::uint32_t f = 0; f < copies; ++f) {
      std::string name = "IMG_" + std::to_string(g);
      if (random() % 4 == 0) name += " (1)";
      group.Files.push_back(places[random() % 5] + name + ".jpg");
      group.Scanned.push_back({1, g * copies + f + 1, static_cast<std::int64_t>(random() % 100'000'000'000'000'000)});
      ScanContext.Selection.push_back({g, f, f != 0});
    }
    root->GroupIndex.emplace(group.Signature, g);
    root->Groups.push_back(std::move(group));
  }
  ScanContext.ResultsRoot = std::move(root);
}

void FourCriteria(benchmark::State& state) {
  MakeResults(20'000, 5);
  std::string problem;
  const KeepRules rules = *ParseKeepRules("under:/home/u/Pictures,not-path:*/Backup*/*,no-copy-marker,oldest", problem);
  const KeepFacts facts = CurrentFacts();
  for (auto _ : state) {
    TickByKeepRules(rules, facts);
    benchmark::DoNotOptimize(ScanContext.Selection.data());
  }
  state.counters["rows"] = static_cast<double>(ScanContext.Selection.size());
}
BENCHMARK(FourCriteria)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
