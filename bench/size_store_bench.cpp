// The size store fed as a scan feeds it, without files on disk: millions of
// synthetic files whose sizes, paths and identities are drawn like a real
// tree's, entered through the store's own calls in the order ProcessFile
// makes them, with signatures made up from each file's content instead of
// read. What is measured is the store alone: its memory table, its spills
// and lookups on disk (in $TMPDIR, which should be on a disk, not tmpfs).
//
//   size_store_bench [--files=1000000,10000000,30000000] [benchmark flags]
//
// One size per process gives each its own peak RSS (ru_maxrss never falls).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "scan/size_store.h"
#include "signature/mix64.h"

namespace {

using namespace veldrano;

constexpr std::uint64_t Device = 2049;

// Draws from a 64-bit value: uniform in [0, 1), and a standard normal.
double Uniform(std::uint64_t bits) { return static_cast<double>(bits >> 11) * 0x1.0p-53; }
double Normal(std::uint64_t a, std::uint64_t b) {
  return std::sqrt(-2.0 * std::log(1.0 - Uniform(a))) * std::cos(6.283185307179586 * Uniform(b));
}

// File number i of a tree: everything about it follows from i alone, so the
// first file of a size can be told again from its inode.
struct SyntheticFile {
  std::int64_t Size = 0;
  std::uint64_t Content = 0;  // files of one size and one content are copies
  bool Linked = false;        // has several links: the store remembers its identity
};

// Log-normal around 8 KiB, with the heaps real trees have at a few sizes:
// empty files, one block.
std::int64_t SizeDrawn(std::uint64_t r) {
  const std::uint64_t pick = r % 100;
  if (pick < 2) return 0;
  if (pick < 4) return 4096;
  const double size = std::exp(9.0 + 2.6 * Normal(Mix64(r ^ 1), Mix64(r ^ 2)));
  return static_cast<std::int64_t>(std::min(size, 1e12));
}

std::uint64_t Draw(std::uint64_t i) { return Mix64(i * 0x9E3779B97F4A7C15ull + 1); }

SyntheticFile FileNumber(std::uint64_t i) {
  const std::uint64_t r = Draw(i);
  SyntheticFile file;
  // About one file in seven copies one met earlier, near or far.
  std::uint64_t original = i;
  if (i > 0 && (r >> 8) % 7 == 0) original = i - 1 - (r >> 16) % std::min<std::uint64_t>(i, 1'000'000);
  file.Size = SizeDrawn(Draw(original));
  file.Content = file.Size == 0 ? 0 : original;  // empty files are all alike
  file.Linked = (r >> 24) % 50 == 0;
  return file;
}

Digest SignatureFor(std::int64_t size, std::uint64_t content) {
  Digest digest{};
  const std::uint64_t low = Mix64(static_cast<std::uint64_t>(size) ^ Mix64(content));
  const std::uint64_t high = Mix64(low);
  std::memcpy(digest.data(), &low, 8);
  std::memcpy(digest.data() + 8, &high, 8);
  return digest;
}

// A path of a home's depth and length: folders of about 30 files, a few
// levels of names of a few to a dozen bytes, then the file's name.
std::string PathOf(std::uint64_t i) {
  static constexpr std::string_view Words[] = {"src",      "Documents", "photos", "2019",     "node_modules", "lib",
                                               "Pictures", "backup",    "music",  "projects", "build",        "old",
                                               "share",    "cache",     "data",   "include"};
  std::string path = "/home/user/";
  std::uint64_t folder = i / 30;
  const int depth = 2 + static_cast<int>(Mix64(folder) % 6);
  for (int level = 0; level < depth; ++level) {
    const std::uint64_t r = Mix64(folder + static_cast<std::uint64_t>(level) * 7919);
    path.append(Words[r % 16]);
    if (level + 1 == depth) path.append("_").append(std::to_string(folder));
    path += '/';
    folder /= 3;
  }
  path.append("file_").append(std::to_string(i)).append(Mix64(i) % 2 ? ".jpg" : ".txt");
  return path;
}

StoredFile Stored(std::uint64_t i) {
  return StoredFile{PathOf(i), FileState{Device, i + 1, static_cast<std::int64_t>(i) * 1000, 0}, {}};
}

struct Tally {
  std::uint64_t Duplicates = 0, Entries = 0, MetTwice = 0;
};

// What the scan asks of the store for a file that was opened and hashed
// without trouble, told apart by its whole hash only (a scan first splits a
// size by the hashes of its first and last blocks, in the same calls).
void Enter(SizeStore& store, std::uint64_t i, Tally& tally) {
  const SyntheticFile file = FileNumber(i);
  const StoredFile current = Stored(i);
  if (file.Linked && !store.MeetFile(current.State.Device, current.State.Inode)) {
    ++tally.MetTwice;
    return;
  }
  const SizeStore::Head head = store.FindHead(file.Size);
  if (head.Kind == SizeStore::Head::Kind::None) {
    store.AddEntry(file.Size, current);
    ++tally.Entries;
    return;
  }
  const Digest signature = SignatureFor(file.Size, file.Content);
  if (head.Kind == SizeStore::Head::Kind::Unsigned) {
    const std::uint64_t firstNumber = head.First.State.Inode - 1;
    const Digest firstSignature = SignatureFor(file.Size, FileNumber(firstNumber).Content);
    if (signature == firstSignature) {
      ++tally.Duplicates;
      return;
    }
    store.Split(StoreRecord::HeadKey(file.Size));
    store.Add(StoreRecord::LineKey(file.Size, HashStep::Full, firstSignature), &head.First);
    store.Add(StoreRecord::LineKey(file.Size, HashStep::Full, signature), &current);
    return;
  }
  const StoreRecord line = StoreRecord::LineKey(file.Size, HashStep::Full, signature);
  if (store.Find(line)) {
    ++tally.Duplicates;
  } else {
    store.Add(line, &current);
  }
}

std::uint64_t BytesIn(const std::string& directory) {
  std::uint64_t bytes = 0;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(directory, error)) bytes += entry.file_size(error);
  return bytes;
}

void FeedStore(benchmark::State& state) {
  const auto files = static_cast<std::uint64_t>(state.range(0));
  Tally tally;
  std::uint64_t onDisk = 0;
  for (auto _ : state) {
    SizeStore store("");
    tally = {};
    for (std::uint64_t i = 0; i < files; ++i) Enter(store, i, tally);
    state.PauseTiming();
    if (store.HasSpilled()) onDisk = BytesIn(store.Directory().Path());
    store.RemoveFromDisk();
    state.ResumeTiming();
  }
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["per_file"] = benchmark::Counter(
      static_cast<double>(files), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["peak_rss_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
  state.counters["disk_MiB"] = static_cast<double>(onDisk) / (1024.0 * 1024.0);
  state.counters["entries"] = static_cast<double>(tally.Entries);
  state.counters["duplicates"] = static_cast<double>(tally.Duplicates);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::int64_t> sizes{1'000'000};
  std::vector<char*> rest;
  for (int a = 0; a < argc; ++a) {
    const std::string_view arg = argv[a];
    if (!arg.starts_with("--files=")) {
      rest.push_back(argv[a]);
      continue;
    }
    sizes.clear();
    std::string list(arg.substr(8));
    for (std::size_t at = 0; at < list.size();) {
      const std::size_t comma = std::min(list.find(',', at), list.size());
      sizes.push_back(static_cast<std::int64_t>(std::stod(list.substr(at, comma - at))));
      at = comma + 1;
    }
  }
  for (const std::int64_t files : sizes) {
    benchmark::RegisterBenchmark("FeedStore", FeedStore)
        ->Arg(files)
        ->Iterations(1)
        ->UseRealTime()
        ->Unit(benchmark::kSecond);
  }
  int count = static_cast<int>(rest.size());
  benchmark::Initialize(&count, rest.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
}
