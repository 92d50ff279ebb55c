// Point-to-point routes (TRouteCalc::Route) on generated networks of 10k,
// 100k and 1M grid nodes, planar (metres) and in degrees, by distance.
//
// Queries: 200 random pairs (20 on 1M), or pairs banded by Dijkstra rank (the target is
// the 2^k-th node a whole tree from the source settles, k = 8..20). Per run:
// queries per second, p50 and p95 latency (us), settled and pushed entries
// per query; one iteration runs the whole set. Node and turn mode x Alpha 0 and 1 x SmartInit off and on.
//
// Baselines on a compressed_sparse_row_graph with float weights built from
// the same network (the node graph, or the link-state graph for turn mode;
// building excluded):
// - astar_search with the crow-fly heuristic x the network's factor, stopped
//   at the goal;
// - dijkstra_shortest_paths_no_color_map stopped at the goal.
// Both run the library's usual entry points, which initialise every vertex
// (O(V) per query); the *_no_init variants reset only the vertices a query
// touched, the fair comparison for a search with O(1) resets.
// Targets: Alpha 1 at least 2x the A* baseline's queries per second; Alpha 0
// at most 1.0x the time of the early-exit Dijkstra.
#include <benchmark/benchmark.h>

#include <boost/graph/astar_search.hpp>
#include <boost/graph/compressed_sparse_row_graph.hpp>
#include <boost/graph/dijkstra_shortest_paths_no_color_map.hpp>
#include <boost/property_map/property_map.hpp>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <tuple>
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

using TVertex = boost::graph_traits<TCsr>::vertex_descriptor;

constexpr float cInf = std::numeric_limits<float>::max();

struct TPair {
  int32_t a, b;
};

struct TRouteNet {
  TRouteNet(int32_t nodes, bool degrees) : G(Options(nodes, degrees)), NW(G.NW) {
    const int32_t* from = NW.Fromnodes().data();
    const int32_t* to = NW.Tonodes().data();
    const float* w = NW.Lengths().data();
    TArcs arcs;
    std::vector<TEdge> weights;
    AppendNodeArcs(NW, w, arcs, weights);
    Nodes = MakeCsr(arcs, weights, size_t(NW.NodeCount()) + 1);
    // Link states: 2L forward (at the to-node), 2L + 1 backward; a route from
    // node a starts at the virtual vertex 2 (link 1's pair is kept for it:
    // vertex 2 + 2 (LinkCount + 1) below is the source of each query).
    arcs.clear();
    weights.clear();
    for (int32_t L = 1; L <= NW.LinkCount(); ++L)
      for (const bool fwd : {true, false}) {
        const int32_t node = fwd ? to[L] : from[L];
        for (const int32_t e : NW.Adjacent(node)) {
          if (e < 1 || e == L) continue;
          arcs.emplace_back(size_t(2 * L + (fwd ? 0 : 1)), size_t(2 * e + (from[e] == node ? 0 : 1)));
          weights.push_back({w[e]});
        }
      }
    StateArcs = arcs;
    StateWeights = weights;
    StateNode.assign(2 * (size_t(NW.LinkCount()) + 1), 0);
    for (int32_t L = 1; L <= NW.LinkCount(); ++L) {
      StateNode[size_t(2 * L)] = to[L];
      StateNode[size_t(2 * L + 1)] = from[L];
    }
    Factor = NW.LengthAlpha();
    Random = RandomPairs(nodes >= 1'000'000 ? 20 : 200);
  }
  static TNetGenOptions Options(int32_t nodes, bool degrees) {
    TNetGenOptions o;
    o.Seed = 4;
    o.Nodes = nodes;
    o.Degrees = degrees;
    o.SpatialIndex = true;
    return o;
  }
  std::vector<TPair> RandomPairs(int32_t n) const {
    std::vector<TPair> v;
    uint64_t r = 77;
    auto next = [&] {
      r = r * 6364136223846793005ull + 1442695040888963407ull;
      return int32_t((r >> 33) % uint64_t(NW.NodeCount())) + 1;
    };
    for (int32_t i = 0; i < n; ++i) v.push_back({next(), next()});
    return v;
  }
  // 20 pairs whose target is the 2^k-th node settled from the source.
  const std::vector<TPair>& Band(int32_t k) {
    auto& band = Bands[k];
    if (!band.empty()) return band;
    TCalc c(NW, false);
    std::vector<std::pair<float, int32_t>> order;
    for (const TPair& p : RandomPairs(20)) {
      c.IsoCost(p.a);
      order.clear();
      for (int32_t v = 1; v <= NW.NodeCount(); ++v)
        if (c.NodeCost(v) < 1e37f) order.emplace_back(c.NodeCost(v), v);
      const size_t rank = size_t(1) << k;
      if (order.size() <= rank) continue;
      std::nth_element(order.begin(), order.begin() + ptrdiff_t(rank), order.end());
      band.push_back({p.a, order[rank].second});
    }
    return band;
  }
  // The state graph with a source vertex feeding the leaving states of a.
  TCsr StatesFrom(int32_t a, size_t& source) const {
    auto arcs = StateArcs;
    auto w = StateWeights;
    source = 2 * (size_t(NW.LinkCount()) + 1);
    for (const int32_t e : NW.Adjacent(a))
      if (e >= 1) {
        arcs.emplace_back(source, size_t(2 * e + (NW.Fromnodes()[size_t(e)] == a ? 0 : 1)));
        w.push_back({NW.Lengths()[size_t(e)]});
      }
    return TCsr(boost::edges_are_unsorted_multi_pass, arcs.begin(), arcs.end(), w.begin(), source + 1);
  }

  TGeneratedNetwork G;
  TNetwork& NW;
  std::unique_ptr<TCsr> Nodes;
  std::vector<std::pair<size_t, size_t>> StateArcs;
  std::vector<TEdge> StateWeights;
  std::vector<int32_t> StateNode;
  float Factor = 0;
  std::vector<TPair> Random;
  std::map<int32_t, std::vector<TPair>> Bands;
};

TRouteNet& Net(int32_t nodes, bool degrees) {
  static std::map<std::pair<int32_t, bool>, std::unique_ptr<TRouteNet>> nets;
  auto& p = nets[{nodes, degrees}];
  if (!p) p = std::make_unique<TRouteNet>(nodes, degrees);
  return *p;
}

const std::vector<TPair>& Pairs(TRouteNet& n, int32_t band) { return band == 0 ? n.Random : n.Band(band); }

// Queries per second and the latency quantiles of the timed loop.
class TLatency {
public:
  template <class F>
  void Run(benchmark::State& state, const std::vector<TPair>& pairs, F query) {
    if (pairs.empty()) {
      state.SkipWithError("no pairs in this band");
      return;
    }
    // One iteration runs every pair, so that every run measures the same set.
    for (auto _ : state)
      for (const TPair& p : pairs) {
        const auto t0 = std::chrono::steady_clock::now();
        query(p);
        fUs.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
      }
    std::sort(fUs.begin(), fUs.end());
    state.counters["p50_us"] = fUs[fUs.size() / 2];
    state.counters["p95_us"] = fUs[std::min(fUs.size() - 1, fUs.size() * 95 / 100)];
    state.counters["qps"] = benchmark::Counter(double(fUs.size()), benchmark::Counter::kIsRate);
  }

private:
  std::vector<double> fUs;
};

// Args: nodes, degrees, turn mode, alpha, smart init, band (0 = random).
void BM_Route(benchmark::State& state) {
  TRouteNet& n = Net(int32_t(state.range(0)), state.range(1) != 0);
  TRouteCalc c(n.NW, state.range(2) != 0);
  c.SetAlpha(float(state.range(3)));
  c.SetSmartInit(state.range(4) != 0);
  const auto& pairs = Pairs(n, int32_t(state.range(5)));
  int64_t settled = 0, pushed = 0, queries = 0;
  TLatency lat;
  lat.Run(state, pairs, [&](const TPair& p) {
    benchmark::DoNotOptimize(c.Route(p.a, p.b));
    settled += c.LastSettled();
    pushed += c.LastPushed();
    ++queries;
  });
  if (queries == 0) return;
  state.counters["settled"] = double(settled) / double(queries);
  state.counters["pushed"] = double(pushed) / double(queries);
}

// Turn mode: a state vertex is the goal when it arrives at b; the first such
// state examined is the cheapest.
struct TStateGoal : boost::default_astar_visitor {
  const TRouteNet* n = nullptr;
  int32_t b = 0;
  std::vector<TVertex>* touched = nullptr;
  int64_t* settled = nullptr;
  template <class G>
  void examine_vertex(TVertex u, const G&) {
    ++*settled;
    if (u < n->StateNode.size() && n->StateNode[u] == b) throw TFound();
  }
  template <class E, class G>
  void edge_relaxed(E e, const G& g) {
    if (touched) touched->push_back(boost::target(e, g));
  }
};

// Crow-fly distance from a vertex's node to the goal times the factor.
class THeuristic : public boost::astar_heuristic<TCsr, float> {
public:
  THeuristic(const TRouteNet* n, int32_t goal, bool states) : fN(n), fGoal(goal), fStates(states) {}
  float operator()(TVertex v) const {
    const int32_t node = fStates ? (v < fN->StateNode.size() ? fN->StateNode[v] : 0) : int32_t(v);
    if (node == 0) return 0;
    return float(double(fN->Factor) * fN->NW.DistanceBetweenNodes_raw(node, fGoal));
  }

private:
  const TRouteNet* fN;
  int32_t fGoal;
  bool fStates;
};

// Args: nodes, degrees, turn mode, astar, no_init, band.
void BM_Bgl(benchmark::State& state) {
  TRouteNet& n = Net(int32_t(state.range(0)), state.range(1) != 0);
  const bool turn = state.range(2) != 0, astar = state.range(3) != 0, noInit = state.range(4) != 0;
  const auto& pairs = Pairs(n, int32_t(state.range(5)));
  // Turn mode: one graph per source (built outside the timing).
  std::map<int32_t, std::pair<std::unique_ptr<TCsr>, size_t>> sourced;
  if (turn)
    for (const TPair& p : pairs) {
      auto& g = sourced[p.a];
      if (!g.first) g.first = std::make_unique<TCsr>(n.StatesFrom(p.a, g.second));
    }
  size_t V = boost::num_vertices(*n.Nodes);
  if (turn && !sourced.empty()) V = boost::num_vertices(*sourced.begin()->second.first);
  std::vector<float> dist(V, cInf), cost(V, cInf);
  std::vector<TVertex> pred(V);
  std::vector<boost::default_color_type> color(V, boost::white_color);
  std::vector<TVertex> touched;
  int64_t settled = 0, queries = 0;
  TLatency lat;
  lat.Run(state, pairs, [&](const TPair& p) {
    const TCsr& g = turn ? *sourced[p.a].first : *n.Nodes;
    const TVertex s = turn ? TVertex(sourced[p.a].second) : TVertex(p.a);
    ++queries;
    // Turn mode: the goal is any state at b; the cheapest is examined first
    // among them, so the visitor stops at the first state whose node is b.
    const TVertex goal = TVertex(p.b);
    auto idx = boost::get(boost::vertex_index, g);
    auto dmap = boost::make_iterator_property_map(dist.begin(), idx);
    auto pmap = boost::make_iterator_property_map(pred.begin(), idx);
    auto wmap = boost::get(&TEdge::w, g);
    if (noInit) {
      for (const TVertex v : touched) {
        dist[v] = cInf;
        cost[v] = cInf;
        color[v] = boost::white_color;
      }
      touched.clear();
      touched.push_back(s);
    }
    try {
      if (turn) {
        TStateGoal vis;
        vis.n = &n;
        vis.b = p.b;
        vis.touched = noInit ? &touched : nullptr;
        vis.settled = &settled;
        const THeuristic h(&n, p.b, true);
        dist[s] = 0;
        cost[s] = astar ? h(s) : 0;
        if (astar) {
          if (noInit)
            boost::astar_search_no_init(
                g, s, h, boost::visitor(vis).distance_map(dmap).predecessor_map(pmap).weight_map(wmap).rank_map(
                             boost::make_iterator_property_map(cost.begin(), idx)).color_map(
                             boost::make_iterator_property_map(color.begin(), idx)));
          else
            boost::astar_search(g, s, h,
                                boost::visitor(vis).distance_map(dmap).predecessor_map(pmap).weight_map(wmap).rank_map(
                                    boost::make_iterator_property_map(cost.begin(), idx)).color_map(
                                    boost::make_iterator_property_map(color.begin(), idx)));
        } else if (noInit) {
          boost::dijkstra_shortest_paths_no_color_map_no_init(
              g, s, pmap, dmap, wmap, idx, std::less<float>(), boost::closed_plus<float>(cInf), cInf, 0.0f, vis);
        } else {
          boost::dijkstra_shortest_paths_no_color_map(
              g, s, boost::weight_map(wmap).distance_map(dmap).predecessor_map(pmap).visitor(vis));
        }
      } else {
        const THeuristic h(&n, p.b, false);
        dist[s] = 0;
        cost[s] = astar ? h(s) : 0;
        if (astar) {
          TGoalVisitor<boost::default_astar_visitor> vis(goal, noInit ? &touched : nullptr, &settled);
          if (noInit)
            boost::astar_search_no_init(
                g, s, h, boost::visitor(vis).distance_map(dmap).predecessor_map(pmap).weight_map(wmap).rank_map(
                             boost::make_iterator_property_map(cost.begin(), idx)).color_map(
                             boost::make_iterator_property_map(color.begin(), idx)));
          else
            boost::astar_search(g, s, h,
                                boost::visitor(vis).distance_map(dmap).predecessor_map(pmap).weight_map(wmap).rank_map(
                                    boost::make_iterator_property_map(cost.begin(), idx)).color_map(
                                    boost::make_iterator_property_map(color.begin(), idx)));
        } else {
          TGoalVisitor<boost::default_dijkstra_visitor> vis(goal, noInit ? &touched : nullptr, &settled);
          if (noInit)
            boost::dijkstra_shortest_paths_no_color_map_no_init(
                g, s, pmap, dmap, wmap, idx, std::less<float>(), boost::closed_plus<float>(cInf), cInf, 0.0f, vis);
          else
            boost::dijkstra_shortest_paths_no_color_map(
                g, s, boost::weight_map(wmap).distance_map(dmap).predecessor_map(pmap).visitor(vis));
        }
      }
    } catch (const TFound&) {
    }
    benchmark::DoNotOptimize(dist[goal < dist.size() ? goal : 0]);
  });
  if (queries) state.counters["settled"] = double(settled) / double(queries);
}

void RouteArgs(benchmark::internal::Benchmark* b) {
  for (const int64_t nodes : {10'000, 100'000, 1'000'000})
    for (const int64_t degrees : {0, 1})
      for (const int64_t turn : {0, 1})
        for (const int64_t alpha : {0, 1})
          for (const int64_t smart : {0, 1})
            for (const int64_t band : {0, 8, 12, 16, 20}) b->Args({nodes, degrees, turn, alpha, smart, band});
}
BENCHMARK(BM_Route)->Apply(RouteArgs)->Unit(benchmark::kMicrosecond);

void BglArgs(benchmark::internal::Benchmark* b) {
  for (const int64_t nodes : {10'000, 100'000, 1'000'000})
    for (const int64_t degrees : {0, 1})
      for (const int64_t turn : {0, 1})
        for (const int64_t astar : {0, 1})
          for (const int64_t noInit : {0, 1})
            for (const int64_t band : {0, 8, 12, 16, 20}) b->Args({nodes, degrees, turn, astar, noInit, band});
}
BENCHMARK(BM_Bgl)->Apply(BglArgs)->Unit(benchmark::kMicrosecond);

}  // namespace
