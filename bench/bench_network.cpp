// Opening a 1M-link network (plain grid with attributes and spatial index)
// against a raw read of the same files; the adjacency view over every node
// against a plain CSR loop; the code page of 1M road names.
// Targets: Open within 2x of the raw read; Adjacent within 1.1x of CSR.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "network/kovra_network.h"
#include "network/support/network_writer.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

constexpr int64_t cLinks = 1'000'000;

// One network written per process, removed at exit.
class TBenchNetwork {
public:
  TBenchNetwork() {
    fDir = (std::filesystem::temp_directory_path() / ("kovra_bench_network_" + std::to_string(getpid()))).string() + "/";
    std::filesystem::create_directories(fDir);
    TTestNetworkWriter w;
    w.AddGrid(GridForLinks(cLinks, 4));
    for (int32_t l = 1; l <= w.LinkCount(); l += 7) w.SetAttribute(l, uint16_t(512 * (l % 3)));
    w.SpatialIndex = true;
    std::vector<std::string> names;
    for (int32_t l = 1; l <= w.LinkCount(); ++l) names.push_back("Street " + std::to_string(l));
    w.SetRoadNames(1, names);
    w.Write(fDir);
  }
  ~TBenchNetwork() {
    std::error_code ec;
    std::filesystem::remove_all(fDir, ec);
  }
  const std::string& Dir() const { return fDir; }

private:
  std::string fDir;
};

const TBenchNetwork& Net() {
  static const TBenchNetwork n;
  return n;
}

void BM_Open(benchmark::State& state) {
  const bool attributes = state.range(0) & 1, index = state.range(0) & 2, cache = state.range(0) & 4;
  TNetwork net;
  net.SetDirectory(Net().Dir());
  for (auto _ : state) {
    net.Open(attributes, cache, index, 0);
    net.Close();
  }
}
BENCHMARK(BM_Open)->Arg(0)->Arg(1)->Arg(3)->Arg(7)->Unit(benchmark::kMillisecond);

// The same files read whole into memory: what any loader must at least do.
void BM_RawRead(benchmark::State& state) {
  const bool attributes = state.range(0) & 1, index = state.range(0) & 2, cache = state.range(0) & 4;
  std::vector<std::string> files{"length.bin", "link.bin", "coord.bin", "node.bin", "coord3i.bin"};
  if (attributes) files.push_back("attribute.bin");
  if (index) files.push_back("spatialindex.bin");
  if (cache) files.push_back("coord3.bin");
  for (auto _ : state)
    for (const std::string& f : files) {
      std::ifstream in(Net().Dir() + f, std::ios::binary);
      std::vector<char> bytes(std::filesystem::file_size(Net().Dir() + f));
      in.read(bytes.data(), std::streamsize(bytes.size()));
      benchmark::DoNotOptimize(bytes.data());
    }
}
BENCHMARK(BM_RawRead)->Arg(0)->Arg(1)->Arg(3)->Arg(7)->Unit(benchmark::kMillisecond);

const TNetwork& Opened() {
  static TNetwork* net = [] {
    auto* n = new TNetwork;
    n->SetDirectory(Net().Dir());
    n->Open(true, false, false, 0);
    return n;
  }();
  return *net;
}

void BM_Adjacent(benchmark::State& state) {
  const TNetwork& net = Opened();
  for (auto _ : state) {
    int64_t sum = 0;
    for (int32_t n = 1; n <= net.NodeCount(); ++n)
      for (int32_t e : net.Adjacent(n)) sum += e;
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BM_Adjacent)->Unit(benchmark::kMicrosecond);

void BM_AdjacentCSR(benchmark::State& state) {
  const TNetwork& net = Opened();
  std::vector<int64_t> first{0, 0};
  std::vector<int32_t> entries;
  for (int32_t n = 1; n <= net.NodeCount(); ++n) {
    for (int32_t e : net.Adjacent(n)) entries.push_back(e);
    first.push_back(int64_t(entries.size()));
  }
  for (auto _ : state) {
    int64_t sum = 0;
    const int32_t N = net.NodeCount();
    for (int32_t n = 1; n <= N; ++n)
      for (int64_t k = first[size_t(n)]; k < first[size_t(n) + 1]; ++k) sum += entries[size_t(k)];
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BM_AdjacentCSR)->Unit(benchmark::kMicrosecond);

void BM_ValidCodePage(benchmark::State& state) {
  TNetwork net;
  net.SetDirectory(Net().Dir());
  net.Open(false, false, false, 0);
  net.OpenRoadName(1, true);
  for (auto _ : state) benchmark::DoNotOptimize(net.ValidCodePage(false));
}
BENCHMARK(BM_ValidCodePage)->Unit(benchmark::kMillisecond);

}  // namespace
