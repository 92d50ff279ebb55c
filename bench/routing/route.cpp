// Point-to-point routes (TRouteCalc::Route), distance criterion.
//
// Queries: 200 random pairs (20 on 1M), or pairs banded by Dijkstra rank (the
// target is the 2^k-th node a whole tree from the source settles, k = 8..20).
// Per run: queries per second, p50 and p95 latency (us), settled and pushed
// entries per query; one iteration runs the whole set. Node and turn mode x
// Alpha 0 and 1 x SmartInit off and on.
//
// Baselines on the CSR graphs (node graph, or link-state graph for turn mode):
// - astar_search with the crow-fly heuristic x the network's factor, stopped
//   at the goal;
// - dijkstra_shortest_paths_no_color_map stopped at the goal.
// Both run the library's usual entry points, which initialise every vertex
// (O(V) per query); the *_no_init variants reset only the vertices a query
// touched, the fair comparison for a search with O(1) resets.
// Targets: Alpha 1 at least 2x the A* baseline's queries per second; Alpha 0
// at most 1.0x the time of the early-exit Dijkstra.
//
// Before timing, each benchmark compares its answers on the query set with
// the early-exit Dijkstra's (exact for Alpha 0 and Dijkstra, 1e-6 relative
// for A*) and stops with the first difference.
#include <boost/graph/astar_search.hpp>
#include <boost/property_map/property_map.hpp>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <tuple>
#include <vector>

#include "network/kovra_turn.h"
#include "routing/kovra_calc.h"

#include "routing_bench.h"

using namespace kovra;
using namespace kovra::benchsupport;

namespace {

// Crow-fly distance from a vertex's node to the goal times the factor.
class THeuristic : public boost::astar_heuristic<TCsr, float> {
public:
  THeuristic(const TRoutingNet* n, int32_t goal, bool states) : fN(n), fGoal(goal), fStates(states) {}
  float operator()(TVertex v) const {
    const int32_t node = fStates ? fN->StateNode[v] : int32_t(v);
    if (node == 0) return 0;
    return float(double(fN->Factor) * fN->NW.DistanceBetweenNodes_raw(node, fGoal));
  }

private:
  const TRoutingNet* fN;
  int32_t fGoal;
  bool fStates;
};

// The maps of one baseline and its query.
class TBglQuery {
public:
  TBglQuery(const TRoutingNet& n, bool turn, bool astar, bool noInit)
      : fN(n), fG(turn ? *n.States : *n.Nodes), fTurn(turn), fAstar(astar), fNoInit(noInit) {
    const size_t V = boost::num_vertices(fG);
    fDist.assign(V, cUnreached);
    fCost.assign(V, cUnreached);
    fPred.resize(V);
    fColor.assign(V, boost::white_color);
  }
  // The cost from a to b; cUnreached when there is no route.
  float Run(const TPair& p) {
    const TVertex s = fTurn ? TVertex(fN.SourceVertex(p.a)) : TVertex(p.a);
    if (p.a == p.b) return 0;
    auto idx = boost::get(boost::vertex_index, fG);
    auto dmap = boost::make_iterator_property_map(fDist.begin(), idx);
    auto pmap = boost::make_iterator_property_map(fPred.begin(), idx);
    auto cmap = boost::make_iterator_property_map(fCost.begin(), idx);
    auto colmap = boost::make_iterator_property_map(fColor.begin(), idx);
    auto wmap = boost::get(&TEdge::w, fG);
    if (fNoInit) ResetTouched(fTouched, fDist, fCost, fColor, s);
    std::vector<TVertex>* touched = fNoInit ? &fTouched : nullptr;
    TVertex found = TVertex(-1);
    const std::vector<int32_t>* stateNode = fTurn ? &fN.StateNode : nullptr;
    const THeuristic h(&fN, p.b, fTurn);
    fDist[s] = 0;
    fCost[s] = fAstar ? h(s) : 0;
    try {
      if (fAstar) {
        TGoalVisitor<boost::default_astar_visitor> vis(TVertex(p.b), touched, &Settled, stateNode, &found);
        auto params = boost::visitor(vis).distance_map(dmap).predecessor_map(pmap).weight_map(wmap).rank_map(cmap).color_map(colmap);
        if (fNoInit)
          boost::astar_search_no_init(fG, s, h, params);
        else
          boost::astar_search(fG, s, h, params);
      } else {
        TGoalVisitor<boost::default_dijkstra_visitor> vis(TVertex(p.b), touched, &Settled, stateNode, &found);
        if (fNoInit)
          boost::dijkstra_shortest_paths_no_color_map_no_init(fG, s, pmap, dmap, wmap, idx, std::less<float>(),
                                                              boost::closed_plus<float>(cUnreached), cUnreached,
                                                              0.0f, vis);
        else
          boost::dijkstra_shortest_paths_no_color_map(
              fG, s, boost::weight_map(wmap).distance_map(dmap).predecessor_map(pmap).visitor(vis));
      }
    } catch (const TFound&) {
    }
    return found == TVertex(-1) ? cUnreached : fDist[found];
  }
  int64_t Settled = 0;

private:
  const TRoutingNet& fN;
  const TCsr& fG;
  bool fTurn, fAstar, fNoInit;
  std::vector<float> fDist, fCost;
  std::vector<TVertex> fPred;
  std::vector<boost::default_color_type> fColor;
  std::vector<TVertex> fTouched;
};

// The early-exit Dijkstra's answers on a query set: what every benchmark
// checks itself against.
const std::vector<float>& Reference(TRoutingNet& n, bool turn, int32_t band) {
  static std::map<std::tuple<const TRoutingNet*, bool, int32_t>, std::vector<float>> refs;
  auto& r = refs[{&n, turn, band}];
  if (r.empty()) {
    TBglQuery q(n, turn, false, false);
    for (const TPair& p : n.Pairs(band)) r.push_back(q.Run(p));
  }
  return r;
}

std::string PairText(const TPair& p, float ours, float theirs) {
  return std::to_string(p.a) + " -> " + std::to_string(p.b) + ": " + std::to_string(ours) + " against " +
         std::to_string(theirs);
}

// The timed part of the route benchmarks: latency, and settled and pushed
// entries per query.
void TimeRoutes(benchmark::State& state, TRouteCalc& c, const std::vector<TPair>& pairs) {
  int64_t settled = 0, pushed = 0, queries = 0;
  TLatency lat;
  lat.Run(state, pairs, [&](const TPair& p) {
    benchmark::DoNotOptimize(c.Route(p.a, p.b));
    settled += c.LastSettled();
    pushed += c.LastPushed();
    ++queries;
  });
  state.counters["settled"] = double(settled) / double(queries);
  state.counters["pushed"] = double(pushed) / double(queries);
}

// Args: nodes, degrees, turn mode, alpha, smart init, band (0 = random).
void BM_Route(benchmark::State& state) {
  TRoutingNet& n = RoutingNet(int32_t(state.range(0)), state.range(1) != 0);
  const bool turn = state.range(2) != 0;
  const int32_t band = int32_t(state.range(5));
  TRouteCalc c(n.NW, turn);
  c.SetAlpha(float(state.range(3)));
  c.SetSmartInit(state.range(4) != 0);
  const auto& pairs = n.Pairs(band);
  if (pairs.empty()) return state.SkipWithError("no pairs in this band");
  const auto& ref = Reference(n, turn, band);
  for (size_t i = 0; i < pairs.size(); ++i) {
    float cost = c.Route(pairs[i].a, pairs[i].b);
    if (cost < 0) cost = cUnreached;
    if (!Agrees(state, SameCost(cost, ref[i], state.range(3) == 0), PairText(pairs[i], cost, ref[i]))) return;
  }
  TimeRoutes(state, c, pairs);
}

// Turn-mode routes under a random prohibition set: at one node in 20 a
// turn from one of its links into another is prohibited (turn set 0, with
// turn costs, the distance criterion), so dead ends may be the only places
// to turn round and the search enters them. The set is the network's for
// this benchmark only. Before timing, Alpha 1 must give Alpha 0's costs.
// Args: nodes, alpha.
void BM_RouteTurnRules(benchmark::State& state) {
  TRoutingNet& n = RoutingNet(int32_t(state.range(0)), false);
  TTurnRestrictions& set = n.NW.TurnSet(0);
  struct TClear {
    TTurnRestrictions& s;
    ~TClear() { s.Clear(); }
  } clear{set};
  uint64_t r = 99;
  auto below = [&r](int32_t m) {
    r = r * 6364136223846793005ull + 1442695040888963407ull;
    return int32_t((r >> 33) % uint64_t(m));
  };
  for (int32_t k = 0; k < n.NW.NodeCount() / 20; ++k) {
    const auto slots = n.NW.Adjacent(1 + below(n.NW.NodeCount()));
    if (slots.size() < 2) continue;
    const int32_t d = int32_t(slots.size());
    const int32_t i = below(d), j = (i + 1 + below(d - 1)) % d;
    set.AddSimple(std::abs(slots[size_t(i)]), std::abs(slots[size_t(j)]), -1);
  }
  TRouteCalc c(n.NW, true), plain(n.NW, true);
  for (TRouteCalc* x : {&c, &plain}) x->SetShortest(true);
  c.SetAlpha(float(state.range(1)));
  plain.SetAlpha(0);
  const auto& pairs = n.Random();
  for (const TPair& p : pairs) {
    const float cost = c.Route(p.a, p.b), want = plain.Route(p.a, p.b);
    if (!Agrees(state, SameCost(cost, want, state.range(1) == 0), PairText(p, cost, want))) return;
  }
  TimeRoutes(state, c, pairs);
}
BENCHMARK(BM_RouteTurnRules)->ArgsProduct({{10'000, 100'000}, {0, 1}})->ArgNames({"nodes", "alpha"})
    ->Unit(benchmark::kMicrosecond);

// Args: nodes, degrees, turn mode, astar, no_init, band.
void BM_Bgl(benchmark::State& state) {
  TRoutingNet& n = RoutingNet(int32_t(state.range(0)), state.range(1) != 0);
  const bool turn = state.range(2) != 0, astar = state.range(3) != 0;
  const int32_t band = int32_t(state.range(5));
  const auto& pairs = n.Pairs(band);
  if (pairs.empty()) return state.SkipWithError("no pairs in this band");
  TBglQuery q(n, turn, astar, state.range(4) != 0);
  const auto& ref = Reference(n, turn, band);
  for (size_t i = 0; i < pairs.size(); ++i) {
    const float cost = q.Run(pairs[i]);
    if (!Agrees(state, SameCost(cost, ref[i], !astar), PairText(pairs[i], cost, ref[i]))) return;
  }
  q.Settled = 0;
  int64_t queries = 0;
  TLatency lat;
  lat.Run(state, pairs, [&](const TPair& p) {
    benchmark::DoNotOptimize(q.Run(p));
    ++queries;
  });
  state.counters["settled"] = double(q.Settled) / double(queries);
}

// The full grid on 10k and 100k; on 1M random pairs and bands 8 (short
// queries, against the same band on 10k) and 20, SmartInit only on the short
// ones, degrees only on random pairs.
template <class F>
void ForEachCase(F add) {
  for (const int64_t nodes : {10'000, 100'000, 1'000'000})
    for (const int64_t degrees : {0, 1})
      for (const int64_t turn : {0, 1})
        for (const int64_t band : {0, 8, 12, 16, 20}) {
          if (band != 0 && (int64_t(1) << band) >= nodes) continue;
          const bool big = nodes >= 1'000'000;
          if (big && (band == 12 || band == 16)) continue;
          if (big && degrees && band != 0) continue;
          add(nodes, degrees, turn, band, !big || band == 8);
        }
}

void RouteArgs(benchmark::internal::Benchmark* b) {
  ForEachCase([&](int64_t nodes, int64_t degrees, int64_t turn, int64_t band, bool smartToo) {
    for (const int64_t alpha : {0, 1})
      for (const int64_t smart : {0, 1})
        if (smart == 0 || smartToo) b->Args({nodes, degrees, turn, alpha, smart, band});
  });
}
BENCHMARK(BM_Route)->Apply(RouteArgs)->ArgNames({"nodes", "deg", "turn", "alpha", "smart", "band"})
    ->Unit(benchmark::kMicrosecond);

void BglArgs(benchmark::internal::Benchmark* b) {
  ForEachCase([&](int64_t nodes, int64_t degrees, int64_t turn, int64_t band, bool) {
    for (const int64_t astar : {0, 1})
      for (const int64_t noInit : {0, 1}) b->Args({nodes, degrees, turn, astar, noInit, band});
  });
}
BENCHMARK(BM_Bgl)->Apply(BglArgs)->ArgNames({"nodes", "deg", "turn", "astar", "noinit", "band"})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
