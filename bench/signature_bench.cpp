// Throughput of our MD5 and of the mapped-file signature, beside OpenSSL's
// MD5 on the same data in the same run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "signature/file_signature.h"
#include "signature/md5.h"

namespace {

constexpr std::size_t BlockSize = 65536;
constexpr std::size_t FileSize = 256u << 20;

std::vector<unsigned char> RandomBlock() {
  std::vector<unsigned char> block(BlockSize);
  unsigned state = 12345;
  for (auto& byte : block) byte = static_cast<unsigned char>((state = state * 1103515245u + 12345u) >> 16);
  return block;
}

// A 256 MiB file in $TMPDIR (or /tmp), written once and read once so that it
// sits in the page cache: the benchmarks measure hashing, not the disk.
const std::string& CachedFile() {
  static const std::string path = [] {
    const char* base = std::getenv("TMPDIR");
    std::string p = std::string(base && *base ? base : "/tmp") + "/veldrano-bench-256MiB.bin";
    auto block = RandomBlock();
    if (!std::filesystem::exists(p) || std::filesystem::file_size(p) != FileSize) {
      std::ofstream out(p, std::ios::binary);
      for (std::size_t i = 0; i < FileSize / BlockSize; ++i) {
        block[0] ^= static_cast<unsigned char>(i);
        out.write(reinterpret_cast<const char*>(block.data()), BlockSize);
      }
    }
    std::ifstream in(p, std::ios::binary);
    std::vector<char> sink(BlockSize);
    while (in.read(sink.data(), BlockSize)) {
    }
    return p;
  }();
  return path;
}

void OurMD5_64KiB(benchmark::State& state) {
  const auto block = RandomBlock();
  veldrano::MD5Init();
  for (auto _ : state) veldrano::MD5Update(block.data(), BlockSize);
  benchmark::DoNotOptimize(veldrano::MD5Final());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * BlockSize));
}

// Messages side by side (as the worker hashing ahead takes the files
// foreseen whole): bytes of all.
void OurMD5Many_64KiB(benchmark::State& state) {
  const auto block = RandomBlock();
  const auto count = static_cast<std::size_t>(state.range(0));
  std::vector<veldrano::TMD5Context> contexts(count);
  std::vector<veldrano::MD5Piece> pieces;
  for (veldrano::TMD5Context& context : contexts) {
    veldrano::MD5Init(context);
    pieces.push_back({&context, block.data(), BlockSize});
  }
  for (auto _ : state) veldrano::MD5UpdateMany(pieces);
  for (veldrano::TMD5Context& context : contexts) benchmark::DoNotOptimize(veldrano::MD5Final(context));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * count * BlockSize));
}

void OpenSSLMD5_64KiB(benchmark::State& state) {
  const auto block = RandomBlock();
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  EVP_DigestInit_ex(ctx, EVP_md5(), nullptr);
  for (auto _ : state) EVP_DigestUpdate(ctx, block.data(), BlockSize);
  unsigned char digest[16];
  EVP_DigestFinal_ex(ctx, digest, nullptr);
  EVP_MD_CTX_free(ctx);
  benchmark::DoNotOptimize(digest);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * BlockSize));
}

void ComputeFileSignature_256MiB(benchmark::State& state) {
  const std::string& path = CachedFile();
  for (auto _ : state) benchmark::DoNotOptimize(veldrano::ComputeFileSignature(path, FileSize));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * FileSize));
}

// OpenSSL over the same cached file, read in 64 KiB pieces (what `openssl md5` does).
void OpenSSLMD5File_256MiB(benchmark::State& state) {
  const std::string& path = CachedFile();
  std::vector<unsigned char> buffer(BlockSize);
  for (auto _ : state) {
    const int fd = open(path.c_str(), O_RDONLY);
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EVP_DigestInit_ex(ctx, EVP_md5(), nullptr);
    ssize_t n;
    while ((n = read(fd, buffer.data(), BlockSize)) > 0) EVP_DigestUpdate(ctx, buffer.data(), static_cast<size_t>(n));
    unsigned char digest[16];
    EVP_DigestFinal_ex(ctx, digest, nullptr);
    EVP_MD_CTX_free(ctx);
    close(fd);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * FileSize));
}

}  // namespace

BENCHMARK(OurMD5_64KiB)->MinTime(2.0);
BENCHMARK(OurMD5Many_64KiB)->Arg(2)->Arg(4)->Arg(8)->MinTime(2.0);
BENCHMARK(OpenSSLMD5_64KiB)->MinTime(2.0);
BENCHMARK(ComputeFileSignature_256MiB)->MinTime(3.0)->Unit(benchmark::kMillisecond);
BENCHMARK(OpenSSLMD5File_256MiB)->MinTime(3.0)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
