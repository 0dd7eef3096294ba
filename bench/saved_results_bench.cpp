// Results that last: saving and opening the results of a large scan, 100 000
// duplicates (50 000 groups of three files), with their ticks. Opening
// checks every file with one lstat: the paths name a thousand real files of
// the benchmark's own (in TMPDIR, which should be on the disk measured), so
// that each check finds its file unchanged, as after a real scan.
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/file_times.h"
#include "results/saved_results.h"
#include "scan/scan_context.h"

namespace {

using namespace veldrano;

constexpr std::uint32_t Groups = 50'000, Copies = 3, RealFiles = 1'000;

std::string Scratch() {
  const char* tmp = std::getenv("TMPDIR");
  static const std::string dir = std::string(tmp != nullptr ? tmp : "/tmp") + "/veldrano-saved-results-bench";
  return dir;
}

void MakeResults() {
  std::filesystem::create_directories(Scratch() + "/files");
  std::vector<std::pair<std::string, ScannedFile>> files;
  for (std::uint32_t k = 0; k < RealFiles; ++k) {
    const std::string path = Scratch() + "/files/IMG_" + std::to_string(k) + ".jpg";
    std::ofstream(path) << "x";
    struct stat status {};
    lstat(path.c_str(), &status);
    files.push_back({path, {status.st_dev, status.st_ino, platform::Nanoseconds(status.st_mtim)}});
  }
  auto root = std::make_unique<ResultsNode>();
  ScanContext.Selection.clear();
  char signature[33];
  for (std::uint32_t g = 0; g < Groups; ++g) {
    std::snprintf(signature, sizeof signature, "%032X", g);
    SignatureGroup group{signature, 1, {}, {}, false, {}};
    for (std::uint32_t f = 0; f < Copies; ++f) {
      const auto& [path, id] = files[(g * Copies + f) % RealFiles];
      group.Files.push_back(path);
      group.Scanned.push_back(id);
      ScanContext.Selection.push_back({g, f, f != 0});
    }
    root->GroupIndex.emplace(group.Signature, g);
    root->Groups.push_back(std::move(group));
  }
  ScanContext.ResultsRoot = std::move(root);
  ScanContext.ListedFolders = {{Scratch() + "/", {}}};
}

void Save(benchmark::State& state) {
  MakeResults();
  for (auto _ : state) SaveResults(Scratch() + "/results.veldrano");
  state.counters["files"] = static_cast<double>(ScanContext.Selection.size());
}
BENCHMARK(Save)->Unit(benchmark::kMillisecond);

void Open(benchmark::State& state) {
  MakeResults();
  SaveResults(Scratch() + "/results.veldrano");
  std::string problem;
  for (auto _ : state) {
    if (!OpenResults(Scratch() + "/results.veldrano", problem)) state.SkipWithError(problem.c_str());
  }
  state.counters["files"] = static_cast<double>(ScanContext.Selection.size());
}
BENCHMARK(Open)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(Scratch());
  return 0;
}
