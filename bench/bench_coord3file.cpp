// Intermediate vertices of random links of a 1M-link curved grid: the reader
// cached, uncached (positional reads), and on a caller's 1 MiB buffered
// stream, against raw pread of the same bytes and memcpy from memory. Also the
// test writer making that network.
// Targets: uncached within 1.5x of raw pread; cached within 2x of memcpy.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "foundation/kovra_io.h"
#include "foundation/kovra_random.h"
#include "network/kovra_coord3file.h"
#include "network/support/network_writer.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

constexpr int64_t cLinks = 1'000'000;
constexpr int64_t cKey = 0x5A17C0DE;

// Two networks (plain and enciphered) written once per process, removed at exit.
class TNetworks {
public:
  TNetworks() {
    fRoot = std::filesystem::temp_directory_path() / ("kovra_bench_coord3_" + std::to_string(getpid()));
    for (int64_t key : {int64_t(0), cKey}) {
      TTestNetworkWriter w;
      w.Key = key;
      w.AddGrid(GridForLinks(cLinks));
      std::filesystem::create_directories(Dir(key));
      w.Write(Dir(key));
      fLinks = w.LinkCount();
    }
    TRandom r;
    r.SetSeed(42);
    for (int i = 0; i < 1 << 16; ++i) fOrder.push_back(r.NextInt(fLinks));
  }
  ~TNetworks() {
    std::error_code ec;
    std::filesystem::remove_all(fRoot, ec);
  }
  std::string Dir(int64_t Key) const { return (fRoot / (Key ? "key" : "plain")).string() + "/"; }
  int32_t Links() const { return fLinks; }
  // Random record numbers, the same in every benchmark.
  int32_t Record(size_t i) const { return fOrder[i & (fOrder.size() - 1)]; }

private:
  std::filesystem::path fRoot;
  int32_t fLinks = 0;
  std::vector<int32_t> fOrder;
};

const TNetworks& Networks() {
  static TNetworks n;
  return n;
}

int64_t KeyOf(const benchmark::State& state) { return state.range(0) ? cKey : 0; }

void Run(benchmark::State& state, const TCoord3File& r) {
  TFloatPointArrayEx buf;
  size_t i = 0;
  int64_t points = 0;
  for (auto _ : state) {
    r.ReadSection(Networks().Record(i++), buf);
    benchmark::DoNotOptimize(buf.Pnt.data());
    points += buf.Count - 2;
  }
  state.counters["vertices/link"] = double(points) / double(state.iterations());
}

void BM_ReadSectionCached(benchmark::State& state) {
  TCoord3File r;
  r.SetDirectory(Networks().Dir(KeyOf(state)));
  r.SetEncryptionKey(KeyOf(state));
  r.Open(true);
  Run(state, r);
}
BENCHMARK(BM_ReadSectionCached)->Arg(0)->Arg(1);

void BM_ReadSectionUncached(benchmark::State& state) {
  TCoord3File r;
  r.SetDirectory(Networks().Dir(KeyOf(state)));
  r.SetEncryptionKey(KeyOf(state));
  r.Open(false);
  Run(state, r);
}
BENCHMARK(BM_ReadSectionUncached)->Arg(0)->Arg(1);

// The caller's streams: each behind its own 1 MiB buffered window.
void BM_ReadSectionBufferedStream(benchmark::State& state) {
  const std::string dir = Networks().Dir(KeyOf(state));
  TKvBufferedStream s3(new TKvFileStream(dir + "coord3.bin", fmOpenRead), true);
  TKvBufferedStream s3i(new TKvFileStream(dir + "coord3i.bin", fmOpenRead), true);
  TCoord3File r(false, KeyOf(state), &s3, &s3i);
  Run(state, r);
}
BENCHMARK(BM_ReadSectionBufferedStream)->Arg(0)->Arg(1);

// The same bytes by hand: two preads, nothing deciphered or checked.
void BM_RawPread(benchmark::State& state) {
  const std::string dir = Networks().Dir(0);
  const int fd3 = ::open((dir + "coord3.bin").c_str(), O_RDONLY | O_CLOEXEC);
  const int fdi = ::open((dir + "coord3i.bin").c_str(), O_RDONLY | O_CLOEXEC);
  std::vector<TFloatPoint> buf(64);
  size_t i = 0;
  for (auto _ : state) {
    int32_t v[2];
    const int32_t rec = Networks().Record(i++);
    if (::pread(fdi, v, 8, off_t(4) * rec) != 8) state.SkipWithError("index read");
    const size_t n = size_t(v[1] - v[0]);
    if (buf.size() < n + 2) buf.resize(n + 2);
    if (n && ::pread(fd3, buf.data() + 1, 16 * n, off_t(16) * v[0]) != ssize_t(16 * n)) state.SkipWithError("read");
    benchmark::DoNotOptimize(buf.data());
  }
  ::close(fd3);
  ::close(fdi);
}
BENCHMARK(BM_RawPread);

// The same bytes from flat arrays in memory.
void BM_Memcpy(benchmark::State& state) {
  TKvMemoryStream s3, s3i;
  s3.LoadFromFile(Networks().Dir(0) + "coord3.bin");
  s3i.LoadFromFile(Networks().Dir(0) + "coord3i.bin");
  const auto* points = static_cast<const TFloatPoint*>(s3.Memory());
  const auto* index = static_cast<const int32_t*>(s3i.Memory());
  std::vector<TFloatPoint> buf(64);
  size_t i = 0;
  for (auto _ : state) {
    const int32_t rec = Networks().Record(i++);
    const size_t n = size_t(index[rec + 1] - index[rec]);
    if (buf.size() < n + 2) buf.resize(n + 2);
    std::memcpy(buf.data() + 1, points + index[rec], 16 * n);
    benchmark::DoNotOptimize(buf.data());
  }
}
BENCHMARK(BM_Memcpy);

void BM_OpenCached(benchmark::State& state) {
  const std::string dir = Networks().Dir(KeyOf(state));  // written before the clock starts
  for (auto _ : state) {
    TCoord3File r;
    r.SetDirectory(dir);
    r.SetEncryptionKey(KeyOf(state));
    r.Open(true);
    benchmark::DoNotOptimize(r.Count());
  }
}
BENCHMARK(BM_OpenCached)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_WriteGrid(benchmark::State& state) {
  const auto dir = std::filesystem::temp_directory_path() / ("kovra_bench_grid_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  for (auto _ : state) {
    TTestNetworkWriter w;
    w.AddGrid(GridForLinks(cLinks));
    w.Write(dir.string());
    state.counters["links"] = w.LinkCount();
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_WriteGrid)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
