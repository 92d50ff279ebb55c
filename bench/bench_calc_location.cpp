// Trees from a location on generated planar networks of 100k and 1M nodes.
// - IsoCostListDyn with 10, 100 and 1000 random target locations, then
//   CostToLocation for every target, in node mode, against the Boost Graph
//   Library's dijkstra_shortest_paths_no_color_map from a virtual source (a
//   vertex joined to the origin link's ends by the two partial links) on a
//   compressed_sparse_row_graph, stopped by a visitor once both ends of every
//   target link are examined (building excluded). Target: at most 1.0x.
// - CostToLocation alone against a bare read of the two end labels plus the
//   partial link. Target: within 2x.
#include <benchmark/benchmark.h>

#include <boost/graph/compressed_sparse_row_graph.hpp>
#include <boost/graph/dijkstra_shortest_paths_no_color_map.hpp>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "network/kovra_locationlist.h"
#include "network/kovra_network.h"
#include "routing/kovra_calc.h"

#include "bench_bgl_graph.h"
#include "bench_netcache.h"

using namespace kovra;
using namespace kovra::benchsupport;

namespace {


struct TBenchNet {
  explicit TBenchNet(int32_t nodes) : G(CachedOptions(4, nodes)), NW(G.NW) {
    const int32_t* from = NW.Fromnodes().data();
    const int32_t* to = NW.Tonodes().data();
    const float* w = NW.Lengths().data();
    // A two-way origin link in the middle of the network.
    for (int32_t L = NW.LinkCount() / 2; L <= NW.LinkCount(); ++L)
      if (NW.OneWayCode(L) == 0) {
        Origin = {L, 0.37};
        break;
      }
    TArcs arcs;
    std::vector<TEdge> weights;
    AppendNodeArcs(NW, w, arcs, weights);
    Source = size_t(NW.NodeCount()) + 1;
    const int32_t S = Origin.link;
    arcs.emplace_back(Source, size_t(to[S]));
    weights.push_back({float((1 - Origin.percent) * double(w[S]))});
    arcs.emplace_back(Source, size_t(from[S]));
    weights.push_back({float(Origin.percent * double(w[S]))});
    Nodes = MakeCsr(arcs, weights, Source + 1);
  }
  // count random target locations, the same for every run.
  std::vector<TLocation> Targets(int32_t count) const {
    std::vector<TLocation> v;
    uint64_t x = 99;
    for (int32_t i = 0; i < count; ++i) {
      x = x * 6364136223846793005ull + 1442695040888963407ull;
      const int32_t L = 1 + int32_t((x >> 33) % uint64_t(NW.LinkCount()));
      x = x * 6364136223846793005ull + 1442695040888963407ull;
      v.push_back({L, double((x >> 33) % 1000) / 1000.0});
    }
    return v;
  }
  // The routing suite's network of seed 4 (its spatial index unused here).
  TBenchCachedNetwork G;
  TNetwork& NW;
  std::unique_ptr<TCsr> Nodes;
  TLocation Origin{1, 0.5};
  size_t Source = 0;
};

TBenchNet& Net(int32_t nodes) {
  static std::map<int32_t, std::unique_ptr<TBenchNet>> nets;
  auto& p = nets[nodes];
  if (!p) p = std::make_unique<TBenchNet>(nodes);
  return *p;
}

struct TStop {};

class TTargetVisitor : public boost::default_dijkstra_visitor {
public:
  TTargetVisitor(std::vector<uint8_t>* marks, int32_t* remaining) : fMarks(marks), fRemaining(remaining) {}
  template <class V, class G>
  void examine_vertex(V u, const G&) {
    if ((*fMarks)[u]) {
      (*fMarks)[u] = 0;
      if (--*fRemaining == 0) throw TStop();
    }
  }

private:
  std::vector<uint8_t>* fMarks;
  int32_t* fRemaining;
};

void BM_IsoCostListDyn(benchmark::State& state) {
  TBenchNet& n = Net(int32_t(state.range(0)));
  const auto targets = n.Targets(int32_t(state.range(1)));
  TLocationList LL;
  for (const TLocation& q : targets) LL.Add1(q);
  TCalc c(n.NW, false);
  double sum = 0;
  for (auto _ : state) {
    c.IsoCostListDyn(n.Origin, LL);
    for (const TLocation& q : targets) sum += double(c.CostToLocation(q));
  }
  benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_IsoCostListDyn)->ArgsProduct({{100'000, 1'000'000}, {10, 100, 1000}})->Unit(benchmark::kMillisecond);

void BM_BglVirtualSource(benchmark::State& state) {
  TBenchNet& n = Net(int32_t(state.range(0)));
  const auto targets = n.Targets(int32_t(state.range(1)));
  const TCsr& g = *n.Nodes;
  const size_t V = boost::num_vertices(g);
  std::vector<float> dist(V);
  std::vector<size_t> pred(V);
  std::vector<uint8_t> marks(V, 0);
  const float* w = n.NW.Lengths().data();
  double sum = 0;
  for (auto _ : state) {
    int32_t remaining = 0;
    for (const TLocation& q : targets)
      for (const int32_t v : {n.NW.Fromnodes()[size_t(q.link)], n.NW.Tonodes()[size_t(q.link)]})
        if (!marks[size_t(v)]) marks[size_t(v)] = 1, ++remaining;
    try {
      boost::dijkstra_shortest_paths_no_color_map(
          g, n.Source,
          boost::weight_map(boost::get(&TEdge::w, g))
              .distance_map(boost::make_iterator_property_map(dist.begin(), boost::get(boost::vertex_index, g)))
              .predecessor_map(boost::make_iterator_property_map(pred.begin(), boost::get(boost::vertex_index, g)))
              .visitor(TTargetVisitor(&marks, &remaining)));
    } catch (const TStop&) {
    }
    std::fill(marks.begin(), marks.end(), 0);
    for (const TLocation& q : targets) {
      const int32_t a = n.NW.Fromnodes()[size_t(q.link)], b = n.NW.Tonodes()[size_t(q.link)];
      sum += std::min(double(dist[size_t(a)]) + q.percent * w[q.link], double(dist[size_t(b)]) + (1 - q.percent) * w[q.link]);
    }
  }
  benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_BglVirtualSource)->ArgsProduct({{100'000, 1'000'000}, {10, 100, 1000}})->Unit(benchmark::kMillisecond);

// --- Reading the cost of one location ----------------------------------------

void BM_CostToLocation(benchmark::State& state) {
  TBenchNet& n = Net(100'000);
  const auto targets = n.Targets(4096);
  TCalc c(n.NW, state.range(0) != 0);
  c.IsoCostDyn(n.Origin);
  double sum = 0;
  for (auto _ : state)
    for (const TLocation& q : targets) sum += double(c.CostToLocation(q));
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(targets.size()));
}
BENCHMARK(BM_CostToLocation)->Arg(0)->Arg(1);

// The floor: the two end labels plus the partial link, no rules.
void BM_BareLabelRead(benchmark::State& state) {
  TBenchNet& n = Net(100'000);
  const auto targets = n.Targets(4096);
  TCalc c(n.NW, false);
  c.IsoCostDyn(n.Origin);
  const int32_t* from = n.NW.Fromnodes().data();
  const int32_t* to = n.NW.Tonodes().data();
  const float* w = n.NW.Lengths().data();
  double sum = 0;
  for (auto _ : state)
    for (const TLocation& q : targets) {
      const float a = float(double(c.cost0(from[q.link])) + q.percent * double(w[q.link]));
      const float b = float(double(c.cost0(to[q.link])) + (1 - q.percent) * double(w[q.link]));
      sum += double(std::min(a, b));
    }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(targets.size()));
}
BENCHMARK(BM_BareLabelRead);

}  // namespace
