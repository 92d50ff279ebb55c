// Location-to-location routes (TRouteCalc::RouteDyn) on generated planar
// networks of 100k and 1M grid nodes, by distance.
//
// Queries: 200 random location pairs (20 on 1M; a random valid link each,
// a random percent). One iteration runs the whole set. Per run: queries per
// second, p50 and p95 latency (us), settled entries per query; RouteDyn runs
// node and turn mode x Alpha 0 and 1 x DuplicateLinks off and on, and
// reports the share of links with a duplicate.
//
// Baseline: Boost Graph on a compressed_sparse_row_graph with float weights
// built from the same network (the node graph, or the link-state graph
// without U-turns for turn mode; building excluded; vertices in Hilbert
// order, bench_bgl_graph.h), with two virtual
// vertices per query: a source whose two arcs are pointed at the start
// link's ends (node graph) or states (state graph) before each query, and a
// target reached from the end link's ends or states, which the visitor
// keeps (the cheapest arrival so far) and which ends the search once the
// frontier has passed it. astar_search with the crow-fly heuristic to the
// end location x the network's factor, and the early-exit
// dijkstra_shortest_paths_no_color_map; the no_init variants (TBglSearch)
// run the same searches on maps kept between queries and reset only the
// vertices a query touched. Before timing, each baseline checks its costs
// against RouteDyn's with Alpha 0 (1e-4 relative) and stops at the first
// difference, so both solve the same problem.
// Targets: Alpha 1 at least 2x the A* baseline's queries per second; Alpha 0
// at most 1.0x the time of the early-exit Dijkstra.
#include <benchmark/benchmark.h>

#include <boost/graph/astar_search.hpp>
#include <boost/graph/compressed_sparse_row_graph.hpp>
#include <boost/graph/dijkstra_shortest_paths_no_color_map.hpp>
#include <boost/property_map/property_map.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "network/kovra_network.h"
#include "routing/kovra_calc.h"

#include "bench_bgl_graph.h"
#include "bench_latency.h"
#include "bench_netcache.h"

using namespace kovra;
using namespace kovra::benchsupport;

namespace {

using TVertex = boost::graph_traits<TCsr>::vertex_descriptor;

constexpr float cInf = std::numeric_limits<float>::max();

struct TLocPair {
  TLocation a, b;
};

// A graph with a virtual source: vertex Source has two arcs whose targets and
// weights each query sets.
struct TSourced {
  std::unique_ptr<TCsr> G;
  TVertexOrder Order;  // the network's ids (nodes, or states 2L and 2L + 1) to vertices
  TVertex Source = 0;
  size_t Arc0 = 0;  // index of Source's first arc; the second follows
  std::vector<int32_t> Node;  // node of each vertex (0 for the source)
  std::vector<TFloatPoint> At;  // its coordinates

  void Point(TVertex t0, float w0, TVertex t1, float w1) {
    G->m_forward.m_column[Arc0] = t0;
    G->m_forward.m_column[Arc0 + 1] = t1;
    auto e = boost::out_edges(Source, *G).first;
    (*G)[*e].w = w0;
    ++e;
    (*G)[*e].w = w1;
  }
};

struct TDynNet {
  explicit TDynNet(int32_t nodes) : G(CachedOptions(4, nodes)), NW(G.NW) {
    const int32_t* from = NW.Fromnodes().data();
    const int32_t* to = NW.Tonodes().data();
    const float* w = NW.Lengths().data();
    int32_t dup = 0, links = 0;
    for (int32_t L = 1; L <= NW.LinkCount(); ++L) {
      if (w[L] == 0) continue;
      ++links;
      valid.push_back(L);
      if (NW.GetDuplicateLink(L) != 0) ++dup;
    }
    DuplicateShare = double(dup) / double(links);
    // Node graph: vertices 0..N in Hilbert order, the source N + 1.
    Nodes.Order = NodeOrder(NW, 1);
    TArcs arcs;
    std::vector<TEdge> weights;
    AppendNodeArcs(NW, w, arcs, weights, &Nodes.Order);
    Nodes.Source = TVertex(NW.NodeCount() + 1);
    arcs.emplace_back(Nodes.Source, 1);
    arcs.emplace_back(Nodes.Source, 1);
    weights.push_back({cInf});
    weights.push_back({cInf});
    Finish(Nodes, arcs, weights, size_t(Nodes.Source) + 1);
    Nodes.Node.resize(size_t(Nodes.Source) + 1);
    for (int32_t v = 0; v <= NW.NodeCount(); ++v) Nodes.Node[Nodes.Order(size_t(v))] = v;
    // Link states: 2L forward (at the to-node), 2L + 1 backward, no U-turns,
    // by the Hilbert position of the node they arrive at; the source
    // 2 (LinkCount + 1).
    std::vector<int32_t> stateNode(2 * (size_t(NW.LinkCount()) + 1) + 1, 0);
    for (int32_t L = 1; L <= NW.LinkCount(); ++L) {
      stateNode[size_t(2 * L)] = to[L];
      stateNode[size_t(2 * L + 1)] = from[L];
    }
    States.Order = StateOrder(NW, Nodes.Order, stateNode);
    States.Order.New.push_back(stateNode.size() - 1);  // the source keeps its id
    States.Order.Invert();
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
    Renumber(arcs, States.Order);
    States.Source = TVertex(2 * (NW.LinkCount() + 1));
    arcs.emplace_back(States.Source, 2);
    arcs.emplace_back(States.Source, 2);
    weights.push_back({cInf});
    weights.push_back({cInf});
    Finish(States, arcs, weights, size_t(States.Source) + 1);
    States.Node.assign(size_t(States.Source) + 1, 0);
    for (size_t s = 2; s < size_t(States.Source); ++s) States.Node[States.Order(s)] = stateNode[s];
    Nodes.At = VertexPoints(NW, Nodes.Order, &Nodes.Node);
    States.At = VertexPoints(NW, States.Order, &States.Node);
    Factor = NW.LengthAlpha();
    const int32_t n = nodes >= 1'000'000 ? 20 : 200;
    uint64_t r = 45;
    auto next = [&] {
      r = r * 6364136223846793005ull + 1442695040888963407ull;
      return uint32_t(r >> 33);
    };
    auto loc = [&] {
      return TLocation{valid[next() % valid.size()], (next() & 0xFFFF) / 65536.0};
    };
    for (int32_t i = 0; i < n; ++i) Pairs.push_back({loc(), loc()});
  }
  static void Finish(TSourced& s, const TArcs& arcs, const std::vector<TEdge>& weights, size_t vertices) {
    s.G = MakeCsr(arcs, weights, vertices);
    s.Arc0 = size_t((*boost::out_edges(s.Source, *s.G).first).idx);
  }

  TBenchCachedNetwork G;
  TNetwork& NW;
  std::vector<int32_t> valid;
  double DuplicateShare = 0;
  TSourced Nodes, States;
  float Factor = 0;
  std::vector<TLocPair> Pairs;
  // RouteDyn's costs with Alpha 0 per mode, for the baseline's check.
  std::map<bool, std::vector<float>> Want;
};

TDynNet& Net(int32_t nodes) {
  static std::map<int32_t, std::unique_ptr<TDynNet>> nets;
  auto& p = nets[nodes];
  if (!p) p = std::make_unique<TDynNet>(nodes);
  return *p;
}

const std::vector<float>& Want(TDynNet& n, bool turn) {
  auto& v = n.Want[turn];
  if (v.empty()) {
    TRouteCalc c(n.NW, turn);
    c.SetAlpha(0);
    c.SetDuplicateLinks(false);
    for (const TLocPair& p : n.Pairs) v.push_back(c.RouteDyn(p.a, p.b));
  }
  return v;
}

// Args: nodes, turn mode, alpha, duplicate links.
void BM_RouteDyn(benchmark::State& state) {
  TDynNet& n = Net(int32_t(state.range(0)));
  TRouteCalc c(n.NW, state.range(1) != 0);
  c.SetAlpha(float(state.range(2)));
  c.SetDuplicateLinks(state.range(3) != 0);
  int64_t settled = 0, queries = 0;
  TLatency lat;
  lat.Run(state, n.Pairs, [&](const TLocPair& p) {
    benchmark::DoNotOptimize(c.RouteDyn(p.a, p.b));
    settled += c.LastSettled();
    ++queries;
  });
  state.counters["settled"] = double(settled) / double(queries);
  state.counters["dup_share"] = n.DuplicateShare;
}

// The virtual target: the cheapest arrival at the end location so far; the
// search ends when the vertex examined (by its key) cannot arrive cheaper.
struct TTarget {
  const std::vector<float>* dist = nullptr;
  const std::vector<float>* key = nullptr;  // nil: Dijkstra, the distance is the key
  int64_t* settled = nullptr;
  bool turn = false;
  TVertex endF = 0, endB = 0;  // node mode: from2, to2; turn mode: the states of link2
  bool arriveF = false, arriveB = false;
  double partF = 0, partB = 0;  // added (node) or taken off (turn)
  double slack = 0;             // turn mode: how far above the best a label may still arrive below it
  float best = cInf;

  void Examine(TVertex u) {
    ++*settled;
    const float d = (*dist)[u];
    const float k = key ? (*key)[u] : d;
    if (!(double(k) < double(best) + slack)) throw TFound();
    const double sign = turn ? -1 : 1;
    if (u == endF && arriveF) best = std::min(best, float(double(d) + sign * partF));
    if (u == endB && arriveB) best = std::min(best, float(double(d) + sign * partB));
  }
};

template <class Base>
class TTargetVisitor : public Base {
public:
  explicit TTargetVisitor(TTarget* t) : fT(t) {}
  template <class G>
  void examine_vertex(TVertex u, const G& g) {
    fT->Examine(u);
    Base::examine_vertex(u, g);
  }

private:
  TTarget* fT;
};

// Crow-fly distance from a vertex's node to the end location times the
// factor, the node coordinates read per vertex in the graph's order.
class THeuristic : public boost::astar_heuristic<TCsr, float> {
public:
  THeuristic(const TDynNet* n, const TSourced* s, TFloatPoint target) : fN(n), fS(s), fTarget(target) {}
  float operator()(TVertex v) const {
    if (fS->Node[v] == 0) return 0;
    return float(double(fN->Factor) * fN->NW.DistanceBetweenPoints_raw(fS->At[v], fTarget));
  }

private:
  const TDynNet* fN;
  const TSourced* fS;
  TFloatPoint fTarget;
};

// One baseline: its maps and its query.
class TBglDyn {
public:
  TBglDyn(TDynNet& n, bool turn, bool astar, bool noInit)
      : fN(n), fS(turn ? n.States : n.Nodes), fTurn(turn), fAstar(astar), fNoInit(noInit), fSearch(*fS.G) {}
  // The cost from p.a to p.b, -1 when there is no route.
  float Run(const TLocPair& p) {
    const TNetwork& NW = fN.NW;
    const int32_t* from = NW.Fromnodes().data();
    const int32_t* to = NW.Tonodes().data();
    const float* w = NW.Lengths().data();
    const int32_t L1 = p.a.link, L2 = p.b.link;
    const int32_t e1 = NW.OneWayCode(L1), e2 = NW.OneWayCode(L2);
    bool leaveF = e1 == 0 || e1 == 1, leaveB = e1 == 0 || e1 == 2;
    bool arriveF = e2 == 0 || e2 == 1, arriveB = e2 == 0 || e2 == 2;
    float f = cInf;
    if (L1 == L2 && p.b.percent >= p.a.percent && leaveF && arriveF) {
      f = float((p.b.percent - p.a.percent) * double(w[L1]));
      leaveF = arriveF = false;
    } else if (L1 == L2 && p.a.percent >= p.b.percent && leaveB && arriveB) {
      f = float((p.a.percent - p.b.percent) * double(w[L1]));
      leaveB = arriveB = false;
    }
    const float tf = leaveF ? float((1 - p.a.percent) * double(w[L1])) : cInf;
    const float tb = leaveB ? float(p.a.percent * double(w[L1])) : cInf;
    TTarget t;
    t.dist = &fSearch.Dist;
    t.key = fAstar ? &fSearch.Key : nullptr;
    t.settled = &Settled;
    t.turn = fTurn;
    t.arriveF = arriveF;
    t.arriveB = arriveB;
    t.best = f;
    const TVertexOrder& at = fS.Order;
    if (fTurn) {
      fS.Point(TVertex(at(size_t(2 * L1))), tf, TVertex(at(size_t(2 * L1 + 1))), tb);
      t.endF = TVertex(at(size_t(2 * L2)));
      t.endB = TVertex(at(size_t(2 * L2 + 1)));
      t.partF = (1 - p.b.percent) * double(w[L2]);
      t.partB = p.b.percent * double(w[L2]);
      // A label lies up to the whole end link above its arrival; with A*
      // the key adds at most the estimate at the end state's node, itself
      // at most the end link.
      t.slack = (fAstar ? 2.0 : 1.0) * double(w[L2]);
    } else {
      fS.Point(TVertex(at(size_t(to[L1]))), tf, TVertex(at(size_t(from[L1]))), tb);
      t.endF = TVertex(at(size_t(from[L2])));
      t.endB = TVertex(at(size_t(to[L2])));
      t.partF = p.b.percent * double(w[L2]);
      t.partB = (1 - p.b.percent) * double(w[L2]);
    }
    const THeuristic h(&fN, &fS, NW.Location2Coordinate_raw(p.b, 0));
    try {
      if (fAstar) {
        const TTargetVisitor<boost::default_astar_visitor> vis(&t);
        fNoInit ? fSearch.AStar(fS.Source, h, vis) : fSearch.AStarUsual(fS.Source, h, vis);
      } else {
        const TTargetVisitor<boost::default_dijkstra_visitor> vis(&t);
        fNoInit ? fSearch.Dijkstra(fS.Source, vis) : fSearch.DijkstraUsual(fS.Source, vis);
      }
    } catch (const TFound&) {
    }
    return t.best < cInf ? t.best : -1.0f;
  }
  int64_t Settled = 0;

private:
  TDynNet& fN;
  TSourced& fS;
  bool fTurn, fAstar, fNoInit;
  TBglSearch fSearch;
};

// Args: nodes, turn mode, astar, no_init.
void BM_BglDyn(benchmark::State& state) {
  TDynNet& n = Net(int32_t(state.range(0)));
  const bool turn = state.range(1) != 0;
  TBglDyn q(n, turn, state.range(2) != 0, state.range(3) != 0);
  // The same problem as RouteDyn's (U-turns aside in turn mode, which only
  // the dead-end trees allow there): the costs agree before any timing.
  const std::vector<float>& want = Want(n, turn);
  for (size_t i = 0; i < n.Pairs.size(); ++i) {
    const float got = q.Run(n.Pairs[i]);
    if (std::fabs(double(got) - double(want[i])) <= 1e-4 * std::max(1.0, double(std::fabs(want[i])))) continue;
    const std::string msg = "differs from RouteDyn: pair " + std::to_string(i) + ": " + std::to_string(got) +
                            " against " + std::to_string(want[i]);
    std::fprintf(stderr, "bench_routecalc_dyn: %s\n", msg.c_str());
    return state.SkipWithError(msg.c_str());
  }
  q.Settled = 0;
  int64_t queries = 0;
  TLatency lat;
  lat.Run(state, n.Pairs, [&](const TLocPair& p) {
    ++queries;
    benchmark::DoNotOptimize(q.Run(p));
  });
  state.counters["settled"] = double(q.Settled) / double(queries);
}

void DynArgs(benchmark::internal::Benchmark* b) {
  for (const int64_t nodes : {100'000, 1'000'000})
    for (const int64_t turn : {0, 1})
      for (const int64_t alpha : {0, 1})
        for (const int64_t dup : {0, 1}) b->Args({nodes, turn, alpha, dup});
}
BENCHMARK(BM_RouteDyn)->Apply(DynArgs)->Unit(benchmark::kMicrosecond);

void BglArgs(benchmark::internal::Benchmark* b) {
  for (const int64_t nodes : {100'000, 1'000'000})
    for (const int64_t turn : {0, 1})
      for (const int64_t astar : {0, 1})
        for (const int64_t noInit : {0, 1}) b->Args({nodes, turn, astar, noInit});
}
BENCHMARK(BM_BglDyn)->Apply(BglArgs)->Unit(benchmark::kMicrosecond);

}  // namespace
