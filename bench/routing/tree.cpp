// Trees from a node on the planar networks of 10k, 100k and 1M nodes.
// - A full tree (IsoCost, no cost limit) in node mode and in turn mode, in ns
//   per settled node or state, against BGL's
//   dijkstra_shortest_paths_no_color_map on the CSR node graph or link-state
//   graph in Hilbert order (building excluded). Target: at most 1.0x.
// - Bounded trees (a cost limit reaching about 1000 nodes; IsoCostList with
//   10 and 100 near targets) against BGL stopped by a visitor: their time
//   must not grow with the network (stamped labels need no reset). BGL runs
//   its search on maps kept between queries, resetting only what the last
//   query touched (TBglSearch in bench_bgl_graph.h), as the calculator does.
// Each benchmark first checks its labels against BGL's distances (exact) on
// the nodes or states both settle, and stops with the first difference.
#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/kovra_integerlist.h"
#include "routing/kovra_calc.h"

#include "routing_bench.h"

using namespace kovra;
using namespace kovra::benchsupport;

namespace {

struct TStop {};

// Stops BGL at the first vertex beyond a cost limit, or once the given
// targets are all examined.
class TStopVisitor : public boost::default_dijkstra_visitor {
public:
  TStopVisitor(const std::vector<float>* dist, float limit, const std::vector<uint8_t>* targets, int32_t count)
      : fDist(dist), fLimit(limit), fTargets(targets), fRemaining(std::make_shared<int32_t>(count)) {}
  template <class V, class G>
  void examine_vertex(V u, const G&) {
    if (fLimit > 0 && (*fDist)[u] > fLimit) throw TStop();
    if (fTargets && (*fTargets)[u] && --*fRemaining == 0) throw TStop();
  }

private:
  const std::vector<float>* fDist;
  float fLimit;
  const std::vector<uint8_t>* fTargets;
  std::shared_ptr<int32_t> fRemaining;
};

// Not inlined: scripts/callgrind.sh counts its calls.
[[gnu::noinline]] void RunBgl(TBglSearch& t, size_t source, const TStopVisitor& vis) {
  try {
    t.Dijkstra(source, vis);
  } catch (const TStop&) {
  }
}

// A whole tree: BGL's usual entry point, dijkstra_shortest_paths_no_color_map,
// whose initialisation of every vertex is no more than the tree writes
// anyway, and which is faster on a whole tree than the colour-map search of
// TBglSearch::Dijkstra. Not inlined either.
[[gnu::noinline]] void RunBglFull(TBglSearch& t, size_t source) {
  t.DijkstraUsual(source, boost::default_dijkstra_visitor());
}

size_t SourceOf(const TRoutingNet& n, bool turn) { return turn ? n.SourceVertex(n.Origin) : n.NodeVertex(n.Origin); }

// The graph vertex of a node (node mode) or of a state 2L / 2L + 1.
size_t VertexOf(const TRoutingNet& n, bool turn, size_t v) { return turn ? n.StateVertex(v) : n.NodeVertex(int32_t(v)); }

// Our label of a node or state, against BGL's distance of the same node or
// state, over every one for which want(its vertex) holds.
template <class Want>
bool SameLabels(benchmark::State& state, const TRoutingNet& n, const TCalc& c, const std::vector<float>& dist,
                Want want) {
  const TNetwork& nw = c.Network();
  const bool turn = c.Turnmode();
  const size_t end = turn ? 2 * (size_t(nw.LinkCount()) + 1) : size_t(nw.NodeCount()) + 1;
  for (size_t v = turn ? 2 : 1; v < end; ++v) {
    const size_t x = VertexOf(n, turn, v);
    if (!want(x)) continue;
    const int32_t L = int32_t(v / 2);
    const float ours = !turn ? c.cost0(int32_t(v)) : v % 2 == 0 ? c.cost1(L) : c.cost2(L);
    const float theirs = dist[x] < cUnreached ? dist[x] : 1e38f;
    if (ours != theirs)
      return Agrees(state, false,
                    (turn ? "state " : "node ") + std::to_string(v) + ": " + std::to_string(ours) + " against " +
                        std::to_string(theirs));
  }
  return true;
}

int64_t Reached(const TCalc& c) {
  const TNetwork& nw = c.Network();
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
  TRoutingNet& n = RoutingNet(int32_t(state.range(0)), false);
  const bool turn = state.range(1) != 0;
  TCalc c(n.NW, turn);
  c.IsoCost(n.Origin);  // grows the heap once, outside the timing
  TBglSearch m(turn ? *n.States : *n.Nodes);
  RunBgl(m, SourceOf(n, turn), TStopVisitor(&m.Dist, 0, nullptr, 0));
  if (!SameLabels(state, n, c, m.Dist, [](size_t) { return true; })) return;
  for (auto _ : state) c.IsoCost(n.Origin);
  Report(state, Reached(c));
}
BENCHMARK(BM_IsoCostFull)->ArgsProduct({{10'000, 100'000, 1'000'000}, {0, 1}})->ArgNames({"nodes", "turn"})
    ->Unit(benchmark::kMillisecond);

void BM_BglFull(benchmark::State& state) {
  TRoutingNet& n = RoutingNet(int32_t(state.range(0)), false);
  const bool turn = state.range(1) != 0;
  TBglSearch m(turn ? *n.States : *n.Nodes);
  for (auto _ : state) RunBglFull(m, SourceOf(n, turn));
  int64_t settled = 0;
  // Source vertices are not states.
  const size_t end = turn ? n.FirstSourceVertex() : m.Dist.size();
  for (size_t v = 1; v < end; ++v) settled += m.Dist[v] < cUnreached;
  Report(state, settled);
}
BENCHMARK(BM_BglFull)->ArgsProduct({{10'000, 100'000, 1'000'000}, {0, 1}})->ArgNames({"nodes", "turn"})
    ->Unit(benchmark::kMillisecond);

// --- Bounded trees ----------------------------------------------------------

// A cost limit that reaches about 1000 nodes from the origin.
float LimitFor(TRoutingNet& n) {
  TCalc c(n.NW, false);
  TIntegerList NL;
  for (int32_t v = 1; v <= n.NW.NodeCount(); ++v) NL.Add(v);
  TIntegerList IL;
  c.IsoCostListN(n.Origin, NL, IL, 1000);
  return c.NodeCost(NL.GetItem(IL.GetItem(IL.Count() - 1)));
}

// The k targets nearest to the origin (by a bounded tree).
void NearTargets(TRoutingNet& n, int32_t k, TIntegerList& NL) {
  TCalc c(n.NW, false);
  TIntegerList all, IL;
  for (int32_t v = 1; v <= n.NW.NodeCount(); ++v) all.Add(v);
  c.IsoCostListN(n.Origin, all, IL, 5 * k);
  for (int32_t i = 4; i < IL.Count(); i += 5) NL.Add(all.GetItem(IL.GetItem(i)));
}

void BM_IsoCostBounded(benchmark::State& state) {
  TRoutingNet& n = RoutingNet(int32_t(state.range(0)), false);
  TCalc c(n.NW, false);
  const float limit = LimitFor(n);
  c.SetMaxCost(limit);
  c.IsoCost(n.Origin);
  TBglSearch m(*n.Nodes);
  RunBgl(m, n.NodeVertex(n.Origin), TStopVisitor(&m.Dist, 0, nullptr, 0));
  if (!SameLabels(state, n, c, m.Dist, [&](size_t v) { return m.Dist[v] <= limit; })) return;
  for (auto _ : state) c.IsoCost(n.Origin);
  Report(state, Reached(c));
}
BENCHMARK(BM_IsoCostBounded)->ArgName("nodes")->Arg(10'000)->Arg(100'000)->Arg(1'000'000)
    ->Unit(benchmark::kMicrosecond);

void BM_BglBounded(benchmark::State& state) {
  TRoutingNet& n = RoutingNet(int32_t(state.range(0)), false);
  const float limit = LimitFor(n);
  TBglSearch m(*n.Nodes);
  // Settles what the bounded tree labels: every node within the limit.
  RunBgl(m, n.NodeVertex(n.Origin), TStopVisitor(&m.Dist, limit, nullptr, 0));
  TCalc c(n.NW, false);
  c.SetMaxCost(limit);
  c.IsoCost(n.Origin);
  if (!SameLabels(state, n, c, m.Dist, [&](size_t v) { return c.cost0(int32_t(n.NodeOrder.Old[v])) <= limit; }))
    return;
  for (auto _ : state) RunBgl(m, n.NodeVertex(n.Origin), TStopVisitor(&m.Dist, limit, nullptr, 0));
}
BENCHMARK(BM_BglBounded)->ArgName("nodes")->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMicrosecond);

void BM_IsoCostList(benchmark::State& state) {
  TRoutingNet& n = RoutingNet(int32_t(state.range(0)), false);
  TIntegerList NL;
  NearTargets(n, int32_t(state.range(1)), NL);
  TCalc c(n.NW, false);
  c.IsoCostList(n.Origin, NL);
  TBglSearch m(*n.Nodes);
  RunBgl(m, n.NodeVertex(n.Origin), TStopVisitor(&m.Dist, 0, nullptr, 0));
  std::vector<uint8_t> target(m.Dist.size(), 0);
  for (int32_t i = 0; i < NL.Count(); ++i) target[n.NodeVertex(NL.GetItem(i))] = 1;
  if (!SameLabels(state, n, c, m.Dist, [&](size_t v) { return target[v] != 0; })) return;
  for (auto _ : state) c.IsoCostList(n.Origin, NL);
  Report(state, Reached(c));
}
BENCHMARK(BM_IsoCostList)->ArgsProduct({{10'000, 100'000, 1'000'000}, {10, 100}})->ArgNames({"nodes", "targets"})
    ->Unit(benchmark::kMicrosecond);

void BM_BglTargets(benchmark::State& state) {
  TRoutingNet& n = RoutingNet(int32_t(state.range(0)), false);
  TIntegerList NL;
  NearTargets(n, int32_t(state.range(1)), NL);
  TBglSearch m(*n.Nodes);
  std::vector<uint8_t> targets(m.Dist.size(), 0);
  for (int32_t i = 0; i < NL.Count(); ++i) targets[n.NodeVertex(NL.GetItem(i))] = 1;
  // The targets' labels equal the calculator's.
  RunBgl(m, n.NodeVertex(n.Origin), TStopVisitor(&m.Dist, 0, &targets, NL.Count()));
  TCalc c(n.NW, false);
  c.IsoCostList(n.Origin, NL);
  if (!SameLabels(state, n, c, m.Dist, [&](size_t v) { return targets[v] != 0; })) return;
  for (auto _ : state)
    RunBgl(m, n.NodeVertex(n.Origin), TStopVisitor(&m.Dist, 0, &targets, NL.Count()));
}
BENCHMARK(BM_BglTargets)->ArgsProduct({{10'000, 100'000, 1'000'000}, {10, 100}})->ArgNames({"nodes", "targets"})
    ->Unit(benchmark::kMicrosecond);

// --- Memory -----------------------------------------------------------------

// Heap bytes a calculator takes for a full tree (labels, stamps, heap at its
// peak) and, for Route with Alpha 1, the A* cache; against the maps BGL's
// Dijkstra and A* need for the same graph (distance, predecessor, and the
// heap with its index map or the rank and colour maps). A clone is a second
// calculator on the same network: the same figure again. BGL runs its usual
// entry point here: one tree needs no touched list.
void BM_Memory(benchmark::State& state) {
  TRoutingNet& n = RoutingNet(int32_t(state.range(0)), false);
  const bool turn = state.range(1) != 0;
  int64_t ours = 0, ourRoute = 0, bgl = 0;
  // The network's search graph is the network's memory, shared by every
  // calculator on it: built before the calculator's figure is taken.
  n.NW.SearchGraph();
  for (auto _ : state) {
    const int64_t base = THeapCount::Current();
    THeapCount::ResetPeak();
    {
      TRouteCalc c(n.NW, turn);
      c.IsoCost(n.Origin);
      ours = THeapCount::Peak() - base;
      c.SetAlpha(1);
      for (const TPair& p : n.Random()) c.Route(p.a, p.b);
      ourRoute = THeapCount::Peak() - base;
    }
    THeapCount::ResetPeak();
    {
      const TCsr& g = turn ? *n.States : *n.Nodes;
      std::vector<float> dist(boost::num_vertices(g));
      std::vector<TVertex> pred(boost::num_vertices(g));
      auto idx = boost::get(boost::vertex_index, g);
      boost::dijkstra_shortest_paths_no_color_map(
          g, SourceOf(n, turn),
          boost::weight_map(boost::get(&TEdge::w, g))
              .distance_map(boost::make_iterator_property_map(dist.begin(), idx))
              .predecessor_map(boost::make_iterator_property_map(pred.begin(), idx)));
      bgl = THeapCount::Peak() - base;
    }
  }
  const double per = double(turn ? n.NW.LinkCount() : n.NW.NodeCount());
  state.counters["calc_bytes_per_item"] = double(ours) / per;
  state.counters["calc_with_astar_bytes_per_item"] = double(ourRoute) / per;
  state.counters["bgl_bytes_per_item"] = double(bgl) / per;
  state.counters["ratio"] = double(ourRoute) / double(bgl);
  state.counters["graph_bytes_per_link"] = double(n.NW.SearchGraphBytes()) / double(n.NW.LinkCount());
}
BENCHMARK(BM_Memory)->ArgsProduct({{10'000, 100'000, 1'000'000}, {0, 1}})->ArgNames({"nodes", "turn"})
    ->Iterations(1)->Unit(benchmark::kMillisecond);

// The one-off cost of the network's search graph: built again after each
// attribute change (here one that rewrites a link's one-way code as it was).
void BM_SearchGraphBuild(benchmark::State& state) {
  TRoutingNet& n = RoutingNet(int32_t(state.range(0)), false);
  TNetwork& nw = n.NW;
  for (auto _ : state) {
    state.PauseTiming();
    nw.OneWaySet(1, uint16_t(nw.OneWayCode(1) << 9));
    state.ResumeTiming();
    benchmark::DoNotOptimize(&nw.SearchGraph());
  }
  state.counters["bytes_per_link"] = double(nw.SearchGraphBytes()) / double(nw.LinkCount());
  state.counters["ns_per_link"] = benchmark::Counter(double(nw.LinkCount()) * double(state.iterations()),
                                                     benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_SearchGraphBuild)->ArgName("nodes")->Arg(10'000)->Arg(100'000)->Arg(1'000'000)
    ->Unit(benchmark::kMillisecond);

}  // namespace
