// Trees from a node on generated planar networks of 10k, 100k and 1M nodes.
// - A full tree (IsoCost, no cost limit) in node mode and in turn mode, in ns
//   per settled node or state, against the Boost Graph Library's
//   dijkstra_shortest_paths_no_color_map on a compressed_sparse_row_graph
//   with float weights built from the same network (node graph, or the
//   link-state graph for turn mode; building excluded). Target: at most 1.0x.
// - Bounded trees (a cost limit reaching about 1000 nodes; IsoCostList with
//   10 and 100 near targets) against BGL stopped by a visitor: their time
//   must not grow with the network (stamped labels need no reset).
#include <benchmark/benchmark.h>

#include <boost/graph/compressed_sparse_row_graph.hpp>
#include <boost/graph/dijkstra_shortest_paths_no_color_map.hpp>
#include <boost/range/iterator_range.hpp>

#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "network/kovra_network.h"
#include "routing/kovra_calc.h"
#include "routing/support/netgen.h"

#include "bench_bgl_graph.h"

using namespace kovra;
using namespace kovra::testsupport;
using namespace kovra::benchsupport;

namespace {


struct TBenchNet {
  explicit TBenchNet(int32_t nodes) : G(Options(nodes)), NW(G.NW) {
    const int32_t* from = NW.Fromnodes().data();
    const int32_t* to = NW.Tonodes().data();
    const float* w = NW.Lengths().data();
    TArcs arcs;
    std::vector<TEdge> weights;
    AppendNodeArcs(NW, w, arcs, weights);
    Nodes = MakeCsr(arcs, weights, size_t(NW.NodeCount()) + 1);
    // Link-state graph: vertex 2L forward, 2L + 1 backward, 0 the virtual source.
    arcs.clear();
    weights.clear();
    auto leave = [&](size_t state, int32_t node, int32_t cur) {
      for (const int32_t e : NW.Adjacent(node)) {
        if (e < 1 || e == cur) continue;  // no U-turns (the generated cul-de-sacs aside)
        arcs.emplace_back(state, size_t(2 * e + (from[e] == node ? 0 : 1)));
        weights.push_back({w[e]});
      }
    };
    for (int32_t L = 1; L <= NW.LinkCount(); ++L) {
      leave(size_t(2 * L), to[L], L);
      leave(size_t(2 * L + 1), from[L], L);
    }
    States = MakeCsr(arcs, weights, 2 * (size_t(NW.LinkCount()) + 1));
    Origin = NW.NodeCount() / 2 + 1;
  }
  static TNetGenOptions Options(int32_t nodes) {
    TNetGenOptions o;
    o.Seed = 4;
    o.Nodes = nodes;
    o.SpatialIndex = false;
    return o;
  }
  TGeneratedNetwork G;
  TNetwork& NW;
  std::unique_ptr<TCsr> Nodes, States;
  int32_t Origin = 1;
};

TBenchNet& Net(int32_t nodes) {
  static std::map<int32_t, std::unique_ptr<TBenchNet>> nets;
  auto& p = nets[nodes];
  if (!p) p = std::make_unique<TBenchNet>(nodes);
  return *p;
}

struct TStop {};

// Stops BGL at the first vertex beyond a cost limit, or once the given
// targets are all examined.
class TStopVisitor : public boost::default_dijkstra_visitor {
public:
  TStopVisitor(const std::vector<float>* dist, float limit, const std::vector<uint8_t>* targets, int32_t count)
      : fDist(dist), fLimit(limit), fTargets(targets), fCount(count) {}
  template <class V, class G>
  void examine_vertex(V u, const G&) {
    if (fLimit > 0 && (*fDist)[u] > fLimit) throw TStop();
    if (fTargets && (*fTargets)[u] && --*fRemaining == 0) throw TStop();
  }
  std::shared_ptr<int32_t> fRemaining = std::make_shared<int32_t>(0);
  void Reset() { *fRemaining = fCount; }

private:
  const std::vector<float>* fDist;
  float fLimit;
  const std::vector<uint8_t>* fTargets;
  int32_t fCount;
};

// The BGL run: distances from source, stopped by the visitor.
void RunBgl(const TCsr& g, size_t source, std::vector<float>& dist, std::vector<size_t>& pred,
               TStopVisitor vis) {
  vis.Reset();
  try {
    boost::dijkstra_shortest_paths_no_color_map(
        g, source,
        boost::weight_map(boost::get(&TEdge::w, g))
            .distance_map(boost::make_iterator_property_map(dist.begin(), boost::get(boost::vertex_index, g)))
            .predecessor_map(boost::make_iterator_property_map(pred.begin(), boost::get(boost::vertex_index, g)))
            .visitor(vis));
  } catch (const TStop&) {
  }
}

int64_t Reached(TCalc& c, const TNetwork& nw) {
  int64_t n = 0;
  if (!c.Turnmode()) {
    for (int32_t v = 1; v <= nw.NodeCount(); ++v) n += c.P0array(v) != cNoPred;
  } else {
    for (int32_t L = 1; L <= nw.LinkCount(); ++L) n += c.StateReached(L, true) + c.StateReached(L, false);
  }
  return n;
}

void Report(benchmark::State& state, int64_t settled) {
  state.counters["settled"] = double(settled);
  state.counters["ns_per_settled"] = benchmark::Counter(
      double(settled), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// --- Full trees -------------------------------------------------------------

void BM_IsoCostFull(benchmark::State& state) {
  TBenchNet& n = Net(int32_t(state.range(0)));
  TCalc c(n.NW, state.range(1) != 0);
  c.IsoCost(n.Origin);  // grows the heap once, outside the timing
  for (auto _ : state) c.IsoCost(n.Origin);
  Report(state, Reached(c, n.NW));
}
BENCHMARK(BM_IsoCostFull)->ArgsProduct({{10'000, 100'000, 1'000'000}, {0, 1}})->Unit(benchmark::kMillisecond);

void BM_BglFull(benchmark::State& state) {
  TBenchNet& n = Net(int32_t(state.range(0)));
  const bool turn = state.range(1) != 0;
  const TCsr& g = turn ? *n.States : *n.Nodes;
  const size_t V = boost::num_vertices(g);
  std::vector<float> dist(V);
  std::vector<size_t> pred(V);
  // The turn-mode source: the leaving states of the origin, through vertex 0.
  TCsr* src = nullptr;
  std::unique_ptr<TCsr> withSource;
  if (turn) {
    std::vector<std::pair<size_t, size_t>> arcs;
    std::vector<TEdge> w;
    for (auto e : boost::make_iterator_range(boost::edges(g))) {
      arcs.emplace_back(boost::source(e, g), boost::target(e, g));
      w.push_back(g[e]);
    }
    for (const int32_t e : n.NW.Adjacent(n.Origin))
      if (e >= 1) {
        arcs.emplace_back(0, size_t(2 * e + (n.NW.Fromnodes()[size_t(e)] == n.Origin ? 0 : 1)));
        w.push_back({n.NW.Lengths()[size_t(e)]});
      }
    withSource = MakeCsr(arcs, w, V);
    src = withSource.get();
  }
  const TCsr& run = turn ? *src : g;
  const size_t source = turn ? 0 : size_t(n.Origin);
  for (auto _ : state) RunBgl(run, source, dist, pred, TStopVisitor(&dist, 0, nullptr, 0));
  int64_t settled = 0;
  for (size_t v = 1; v < V; ++v) settled += dist[v] < std::numeric_limits<float>::max();
  Report(state, settled);
}
BENCHMARK(BM_BglFull)->ArgsProduct({{10'000, 100'000, 1'000'000}, {0, 1}})->Unit(benchmark::kMillisecond);

// --- Bounded trees --------------------------------------------------------------

// A cost limit that reaches about 1000 nodes from the origin.
float LimitFor(TBenchNet& n) {
  TCalc c(n.NW, false);
  TIntegerList NL;
  for (int32_t v = 1; v <= n.NW.NodeCount(); ++v) NL.Add(v);
  TIntegerList IL;
  c.IsoCostListN(n.Origin, NL, IL, 1000);
  return c.NodeCost(NL.GetItem(IL.GetItem(IL.Count() - 1)));
}

// The k targets nearest to the origin (by a bounded tree).
void NearTargets(TBenchNet& n, int32_t k, TIntegerList& NL) {
  TCalc c(n.NW, false);
  TIntegerList all, IL;
  for (int32_t v = 1; v <= n.NW.NodeCount(); ++v) all.Add(v);
  c.IsoCostListN(n.Origin, all, IL, 5 * k);
  for (int32_t i = 4; i < IL.Count(); i += 5) NL.Add(all.GetItem(IL.GetItem(i)));
}

void BM_IsoCostBounded(benchmark::State& state) {
  TBenchNet& n = Net(int32_t(state.range(0)));
  TCalc c(n.NW, false);
  c.SetMaxCost(LimitFor(n));
  for (auto _ : state) c.IsoCost(n.Origin);
  Report(state, Reached(c, n.NW));
}
BENCHMARK(BM_IsoCostBounded)->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMicrosecond);

void BM_BglBounded(benchmark::State& state) {
  TBenchNet& n = Net(int32_t(state.range(0)));
  const float limit = LimitFor(n);
  const size_t V = boost::num_vertices(*n.Nodes);
  std::vector<float> dist(V);
  std::vector<size_t> pred(V);
  for (auto _ : state) RunBgl(*n.Nodes, size_t(n.Origin), dist, pred, TStopVisitor(&dist, limit, nullptr, 0));
}
BENCHMARK(BM_BglBounded)->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMicrosecond);

void BM_IsoCostList(benchmark::State& state) {
  TBenchNet& n = Net(int32_t(state.range(0)));
  TIntegerList NL;
  NearTargets(n, int32_t(state.range(1)), NL);
  TCalc c(n.NW, false);
  for (auto _ : state) c.IsoCostList(n.Origin, NL);
  Report(state, Reached(c, n.NW));
}
BENCHMARK(BM_IsoCostList)->ArgsProduct({{10'000, 100'000, 1'000'000}, {10, 100}})->Unit(benchmark::kMicrosecond);

void BM_BglTargets(benchmark::State& state) {
  TBenchNet& n = Net(int32_t(state.range(0)));
  TIntegerList NL;
  NearTargets(n, int32_t(state.range(1)), NL);
  const size_t V = boost::num_vertices(*n.Nodes);
  std::vector<uint8_t> targets(V, 0);
  for (int32_t i = 0; i < NL.Count(); ++i) targets[size_t(NL.GetItem(i))] = 1;
  std::vector<float> dist(V);
  std::vector<size_t> pred(V);
  for (auto _ : state)
    RunBgl(*n.Nodes, size_t(n.Origin), dist, pred, TStopVisitor(&dist, 0, &targets, NL.Count()));
}
BENCHMARK(BM_BglTargets)->ArgsProduct({{10'000, 100'000, 1'000'000}, {10, 100}})->Unit(benchmark::kMicrosecond);

}  // namespace
