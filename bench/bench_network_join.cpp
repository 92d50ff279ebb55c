// Joined links on grids: value groups (10k keys) bucketed against node to
// node on the same 1M-link network (target: within 2x), and against the
// literal pass-per-group walk at 100k links (quadratic, so only there);
// connected groups on a connected 1M-link grid against the Boost Graph
// Library's connected components of the same graph, with and without
// building the graph (target: within 3x).
// Layers go to the in-memory table.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <boost/graph/adjacency_list.hpp>
#include <boost/graph/connected_components.hpp>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "network/kovra_network.h"
#include "network/support/join_oracle.h"
#include "network/support/network_writer.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

constexpr int32_t cKeys = 10000;

class TBenchNetwork {
public:
  explicit TBenchNetwork(int64_t Links) {
    fDir = (std::filesystem::temp_directory_path() /
            ("kovra_bench_join_" + std::to_string(getpid()) + "_" + std::to_string(Links)))
               .string() +
           "/";
    std::filesystem::create_directories(fDir);
    TTestNetworkWriter w;
    w.AddGrid(GridForLinks(Links, 2));
    // Keys in runs of a few links, so that value groups hold chains; bits 9
    // and 10 stay clear, so that no link turns one-way.
    for (int32_t l = 1; l <= w.LinkCount(); ++l) {
      const int32_t k = (l / 3) % cKeys;
      w.SetAttribute(l, uint16_t((k & 0x1FF) | ((k >> 9) << 11)));
    }
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
  std::string Out() const { return fDir + "joined"; }

private:
  std::string fDir;
  TNetwork fNet;
};

TBenchNetwork& Grid(int64_t Links) {
  static std::map<int64_t, std::unique_ptr<TBenchNetwork>> grids;
  auto& g = grids[Links];
  if (!g) g = std::make_unique<TBenchNetwork>(Links);
  return *g;
}

void BM_JoinTopology(benchmark::State& state) {
  TBenchNetwork& g = Grid(state.range(0));
  const int32_t topology = int32_t(state.range(1));
  TIntegerArray IA;
  for (auto _ : state) g.Net().Join(g.Out(), gfArray, topology, 0, topology != 1, IA);
  int32_t groups = 0;
  for (int32_t v : IA) groups = std::max(groups, v);
  state.counters["groups"] = groups;
}
BENCHMARK(BM_JoinTopology)
    ->Args({100'000, 0})
    ->Args({1'000'000, 0})
    ->Args({1'000'000, 2})
    ->Args({1'000'000, 1})
    ->ArgNames({"links", "topology"})
    ->Unit(benchmark::kMillisecond);

void BM_JoinValuesPassPerGroup(benchmark::State& state) {
  TBenchNetwork& g = Grid(state.range(0));
  for (auto _ : state) {
    TNaiveGroupByValues naive{g.Net(), 0, true, {}, {}};
    naive.Run();
    benchmark::DoNotOptimize(naive.IA.data());
  }
}
BENCHMARK(BM_JoinValuesPassPerGroup)->Arg(100'000)->ArgName("links")->Unit(benchmark::kMillisecond);

void BM_BoostConnectedComponents(benchmark::State& state) {
  TNetwork& net = Grid(state.range(0)).Net();
  for (auto _ : state) {
    boost::adjacency_list<boost::vecS, boost::vecS, boost::undirectedS> g(size_t(net.NodeCount()) + 1);
    for (int32_t l = 1; l <= net.LinkCount(); ++l)
      if (net.Lengths()[size_t(l)] != 0)
        boost::add_edge(size_t(net.Fromnodes()[size_t(l)]), size_t(net.Tonodes()[size_t(l)]), g);
    std::vector<int> component(boost::num_vertices(g));
    benchmark::DoNotOptimize(boost::connected_components(g, component.data()));
  }
}
BENCHMARK(BM_BoostConnectedComponents)->Arg(1'000'000)->ArgName("links")->Unit(benchmark::kMillisecond);

// The components alone, on a graph built once.
void BM_BoostConnectedComponentsOnly(benchmark::State& state) {
  TNetwork& net = Grid(state.range(0)).Net();
  boost::adjacency_list<boost::vecS, boost::vecS, boost::undirectedS> g(size_t(net.NodeCount()) + 1);
  for (int32_t l = 1; l <= net.LinkCount(); ++l)
    if (net.Lengths()[size_t(l)] != 0)
      boost::add_edge(size_t(net.Fromnodes()[size_t(l)]), size_t(net.Tonodes()[size_t(l)]), g);
  std::vector<int> component(boost::num_vertices(g));
  for (auto _ : state) benchmark::DoNotOptimize(boost::connected_components(g, component.data()));
}
BENCHMARK(BM_BoostConnectedComponentsOnly)->Arg(1'000'000)->ArgName("links")->Unit(benchmark::kMillisecond);

}  // namespace
