// Duplicate search and area building on a grid with 10 % area links against
// a plain breadth-first search over the same adjacency (target: within 2x),
// and Euler circuits with both directions once at two sizes (the time should
// grow linearly).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "network/kovra_network.h"
#include "network/support/network_writer.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

class TBenchNetwork {
public:
  explicit TBenchNetwork(int64_t Links) {
    fDir = (std::filesystem::temp_directory_path() /
            ("kovra_bench_topology_" + std::to_string(getpid()) + "_" + std::to_string(Links)))
               .string() +
           "/";
    std::filesystem::create_directories(fDir);
    TTestNetworkWriter w;
    w.AddGrid(GridForLinks(Links, 2));
    for (int32_t l = 1; l <= w.LinkCount(); ++l) w.SetAttribute(l, l % 10 == 0 ? 256 : l % 7 == 0 ? 512 : 0);
    w.Write(fDir);
    fNet.SetDirectory(fDir);
    fNet.Open(true, true, false, 0);
  }
  ~TBenchNetwork() {
    fNet.Close();
    std::error_code ec;
    std::filesystem::remove_all(fDir, ec);
  }
  TNetwork& Net() { return fNet; }

private:
  std::string fDir;
  TNetwork fNet;
};

TBenchNetwork& Grid(int64_t Links) {
  static TBenchNetwork small(25'000), large(250'000);
  return Links <= 25'000 ? small : large;
}

void BM_FindDuplicateLinks(benchmark::State& state) {
  TNetwork& net = Grid(250'000).Net();
  for (auto _ : state) benchmark::DoNotOptimize(net.FindDuplicateLinks());
}
BENCHMARK(BM_FindDuplicateLinks)->Unit(benchmark::kMillisecond);

void BM_BuildAreas(benchmark::State& state) {
  TNetwork& net = Grid(250'000).Net();
  for (auto _ : state) net.NoDriveThroughInit();
}
BENCHMARK(BM_BuildAreas)->Unit(benchmark::kMillisecond);

// Every node reached once over the adjacency: the floor of a graph walk.
void BM_PlainBfs(benchmark::State& state) {
  TNetwork& net = Grid(250'000).Net();
  std::vector<uint8_t> seen(size_t(net.NodeCount()) + 1);
  std::vector<int32_t> queue;
  for (auto _ : state) {
    std::fill(seen.begin(), seen.end(), 0);
    queue.assign({1});
    seen[1] = 1;
    for (size_t i = 0; i < queue.size(); ++i)
      for (const int32_t s : net.Adjacent(queue[i])) {
        const int32_t e = s < 0 ? -s : s;
        const int32_t o =
            net.Fromnodes()[size_t(e)] == queue[i] ? net.Tonodes()[size_t(e)] : net.Fromnodes()[size_t(e)];
        if (!seen[size_t(o)]) seen[size_t(o)] = 1, queue.push_back(o);
      }
    benchmark::DoNotOptimize(queue.size());
  }
}
BENCHMARK(BM_PlainBfs)->Unit(benchmark::kMillisecond);

void BM_Euler(benchmark::State& state) {
  TNetwork& net = Grid(state.range(0)).Net();
  const TIntegerArray counts(size_t(net.LinkCount()) + 1, 1);
  TIntegerArray ft = counts, tf = counts;
  ft[0] = tf[0] = 0;
  for (auto _ : state) {
    TIntegerLists links, nodes;
    net.Euler(ft, tf, links, nodes);
    benchmark::DoNotOptimize(links.Count());
  }
  state.counters["links"] = double(net.LinkCount());
}
BENCHMARK(BM_Euler)->Arg(25'000)->Arg(250'000)->ArgName("links")->Unit(benchmark::kMillisecond);

}  // namespace
