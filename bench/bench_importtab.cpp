// The import tab's MID record check: CountTextLines over a 1 GiB MID of LF
// lines against `wc -l` on the same file, both from the page cache (a first
// untimed pass reads it in). Wall time: wc runs in a child process.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/core/studio_functions.h"

namespace fs = std::filesystem;

namespace {

constexpr int64_t cFileBytes = 1LL << 30;

struct TempDir {
  fs::path path = fs::temp_directory_path() / ("kovra_bench_importtab_" + std::to_string(::getpid()));
  TempDir() { fs::create_directories(path); }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
} tempDir;

int64_t gLines = 0;

// MID lines as an import meets them: an id, a quoted name, a class and a
// z-level, 20 to 60 bytes each.
const std::string& MidFile() {
  static std::string path;
  if (path.empty()) {
    path = (tempDir.path / "roads.mid").string();
    std::ofstream f(path, std::ios::binary);
    std::string block, line;
    uint32_t seed = 4711;
    int64_t written = 0;
    while (written < cFileBytes) {
      block.clear();
      while (block.size() < (1u << 20)) {
        seed = seed * 1103515245u + 12345u;
        line = std::to_string(gLines + 1) + ",\"Road " + std::to_string(seed % 100000) + "\"," +
               std::to_string(seed >> 28) + ",0";
        line.append((seed >> 8) % 30, ' ');
        block += line;
        block += '\n';
        ++gLines;
      }
      f.write(block.data(), std::streamsize(block.size()));
      written += int64_t(block.size());
    }
    f.close();
    if (studio::CountTextLines(path) != gLines) std::abort();  // the page cache is warm afterwards
  }
  return path;
}

void BM_CountTextLines(benchmark::State& state) {
  const std::string& file = MidFile();
  for (auto _ : state) benchmark::DoNotOptimize(studio::CountTextLines(file));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(fs::file_size(file)));
}
BENCHMARK(BM_CountTextLines)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

void BM_WcL(benchmark::State& state) {
  const std::string& file = MidFile();
  const std::string command = "wc -l < '" + file + "'";
  for (auto _ : state) {
    FILE* p = ::popen(command.c_str(), "r");
    long long n = -1;
    if (!p || std::fscanf(p, "%lld", &n) != 1 || ::pclose(p) != 0 || n != gLines) {
      state.SkipWithError("wc -l failed or counted otherwise");
      break;
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(fs::file_size(file)));
}
BENCHMARK(BM_WcL)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

}  // namespace
