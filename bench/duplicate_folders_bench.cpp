// Finding the duplicate folders of a large scan's results (100 000
// duplicates in 40 000 groups over 2 500 folders), as the Folders tab does
// after every scan and change of the results, and veldrano-scan --folders.
#include <benchmark/benchmark.h>

#include <map>
#include <string>

#include "results/duplicate_folders.h"

namespace {

using namespace veldrano;

struct Results {
  std::vector<SignatureGroup> groups;
  std::vector<FolderTally> folders;
};

// A home of 2 000 photo folders of 25 files (5 of them without a copy): the
// first half backed up whole, a quarter of it twice, the second half spread
// over Downloads and half of that on a disk scanned apart.
Results MakeResults() {
  Results results;
  std::map<std::string, std::int64_t> files;
  const auto add = [&files](SignatureGroup& group, std::string folder, const std::string& name) {
    group.Files.push_back(folder + name);
    files[std::move(folder)] += 1;
  };
  for (int a = 0; a < 40; ++a) {
    for (int b = 0; b < 50; ++b) {
      // Appended, not added: GCC 12 warns falsely on "a" + std::to_string(a).
      std::string below = "a";
      below.append(std::to_string(a)).append("/b").append(std::to_string(b)).append("/");
      const std::string photos = "/home/u/Photos/" + below;
      files[photos] += 5;  // found by the scan, in no group
      for (int f = 0; f < 20; ++f) {
        const std::string name = "IMG_" + std::to_string(f) + ".jpg";
        SignatureGroup group{std::to_string(results.groups.size()), 100'000 + f, {}, {}, false, {}};
        add(group, photos, name);
        if (a < 20) add(group, "/home/u/Backup/Photos/" + below, name);
        if (a < 10) add(group, "/home/u/Backup2/" + below, name);
        if (a >= 20)
          add(group, "/home/u/Downloads/d" + std::to_string((a * 50 + b) % 100) + "/",
              std::to_string(a * 50 + b) + "_" + name);
        if (a >= 30) add(group, "/media/disk/Photos/" + below, name);
        results.groups.push_back(std::move(group));
      }
    }
  }
  // The folders above, walked too, with no files of their own.
  for (const auto& [path, count] : std::map<std::string, std::int64_t>(files)) {
    for (std::size_t slash = path.find('/', 1); slash + 1 < path.size(); slash = path.find('/', slash + 1)) {
      files.try_emplace(path.substr(0, slash + 1), 0);
    }
  }
  for (const auto& [path, count] : files) {
    results.folders.push_back({path, count, static_cast<long double>(count) * 100'000});
  }
  return results;
}

void FindFolders(benchmark::State& state) {
  const Results results = MakeResults();
  std::size_t found = 0, duplicates = 0;
  for (const SignatureGroup& group : results.groups) duplicates += group.Files.size();
  for (auto _ : state) {
    const std::vector<DuplicateFolder> folders = FindDuplicateFolders(results.groups, results.folders);
    found = folders.size();
    benchmark::DoNotOptimize(folders.data());
  }
  state.counters["duplicates"] = static_cast<double>(duplicates);
  state.counters["folders"] = static_cast<double>(results.folders.size());
  state.counters["listed"] = static_cast<double>(found);
}
BENCHMARK(FindFolders)->Unit(benchmark::kMillisecond);

// The worst shape: 20 000 folders holding nothing but a copy of the same
// file (an empty one, say), each a duplicate folder of its own.
void OneContentEverywhere(benchmark::State& state) {
  SignatureGroup group{"0", 0, {}, {}, false, {}};
  std::vector<FolderTally> folders{{"/p/", 0, 0}};
  for (int i = 0; i < 20'000; ++i) {
    const std::string folder = "/p/" + std::to_string(i) + "/";
    group.Files.push_back(folder + "__init__.py");
    folders.push_back({folder, 1, 0});
  }
  const std::vector<SignatureGroup> groups{group};
  std::size_t found = 0;
  for (auto _ : state) {
    found = FindDuplicateFolders(groups, folders).size();
    benchmark::DoNotOptimize(found);
  }
  state.counters["listed"] = static_cast<double>(found);
}
BENCHMARK(OneContentEverywhere)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
