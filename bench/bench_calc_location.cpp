// Trees from a location on generated planar networks of 100k and 1M nodes.
// - IsoCostListDyn with 10, 100 and 1000 random target locations, then
//   CostToLocation for every target, in node mode, against the Boost Graph
//   Library's Dijkstra from a virtual source (a vertex joined to the origin
//   link's ends by the two partial links) on a compressed_sparse_row_graph in
//   Hilbert order, stopped by a visitor once both ends of every target link
//   are examined, on maps kept between queries with only the touched
//   vertices reset (TBglSearch, bench_bgl_graph.h; building excluded). Before
//   timing, both sides' costs of every target agree (1e-4 relative; the
//   baseline takes a target link's one-way code into account). Target: at
//   most 1.0x.
// - CostToLocation alone against a bare read of the two end labels plus the
//   partial link. Target: within 2x.
#include <benchmark/benchmark.h>

#include <boost/graph/compressed_sparse_row_graph.hpp>
#include <boost/graph/dijkstra_shortest_paths_no_color_map.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
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
    Order = NodeOrder(NW, 1);
    TArcs arcs;
    std::vector<TEdge> weights;
    AppendNodeArcs(NW, w, arcs, weights, &Order);
    Source = size_t(NW.NodeCount()) + 1;
    const int32_t S = Origin.link;
    arcs.emplace_back(Source, Order(size_t(to[S])));
    weights.push_back({float((1 - Origin.percent) * double(w[S]))});
    arcs.emplace_back(Source, Order(size_t(from[S])));
    weights.push_back({float(Origin.percent * double(w[S]))});
    Nodes = MakeCsr(arcs, weights, Source + 1);
  }
  // The cost of a target location from BGL's distances: by the one-way code
  // of its link, from either end, or along the origin link itself.
  double Cost(const std::vector<float>& dist, const TLocation& q) const {
    const int32_t L = q.link, e = NW.OneWayCode(L);
    const double w = NW.Lengths()[size_t(L)];
    const double a = double(dist[Order(size_t(NW.Fromnodes()[size_t(L)]))]) + q.percent * w;
    const double b = double(dist[Order(size_t(NW.Tonodes()[size_t(L)]))]) + (1 - q.percent) * w;
    double c = e == 0 ? std::min(a, b) : e == 1 ? a : e == 2 ? b : 1e300;
    if (L == Origin.link) c = std::min(c, std::fabs(q.percent - Origin.percent) * w);
    return c;
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
  TVertexOrder Order;
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
  TBglSearch bgl(*n.Nodes);
  std::vector<uint8_t> marks(boost::num_vertices(*n.Nodes), 0);
  auto run = [&] {
    int32_t remaining = 0;
    for (const TLocation& q : targets)
      for (const int32_t v : {n.NW.Fromnodes()[size_t(q.link)], n.NW.Tonodes()[size_t(q.link)]})
        if (!marks[n.Order(size_t(v))]) marks[n.Order(size_t(v))] = 1, ++remaining;
    try {
      bgl.Dijkstra(n.Source, TTargetVisitor(&marks, &remaining));
    } catch (const TStop&) {
    }
    for (const TLocation& q : targets)
      for (const int32_t v : {n.NW.Fromnodes()[size_t(q.link)], n.NW.Tonodes()[size_t(q.link)]})
        marks[n.Order(size_t(v))] = 0;
  };
  // Both sides give every target the same cost.
  run();
  TLocationList LL;
  for (const TLocation& q : targets) LL.Add1(q);
  TCalc c(n.NW, false);
  c.IsoCostListDyn(n.Origin, LL);
  for (const TLocation& q : targets) {
    if (n.NW.Lengths()[size_t(q.link)] == 0) continue;
    const double ours = c.CostToLocation(q), theirs = n.Cost(bgl.Dist, q);
    const bool same = (ours >= double(cInfinity) && theirs >= 1e37) ||
                      std::fabs(ours - theirs) <= 1e-4 * std::max(1.0, std::fabs(theirs));
    if (same) continue;
    const std::string msg = "differs from CostToLocation: link " + std::to_string(q.link) + ": " +
                            std::to_string(theirs) + " against " + std::to_string(ours);
    std::fprintf(stderr, "bench_calc_location: %s\n", msg.c_str());
    return state.SkipWithError(msg.c_str());
  }
  double sum = 0;
  for (auto _ : state) {
    run();
    for (const TLocation& q : targets) sum += n.Cost(bgl.Dist, q);
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
