// Whole-network analyses on the planar networks of 10k, 100k and 1M nodes
// (distance criterion, node mode):
// - MST against BGL's kruskal_minimum_spanning_tree on the same float costs
//   (the lengths), its edge list built outside the timing. Target: 1.5x.
// - SubNet against BGL's dijkstra_shortest_paths_no_color_map from the same
//   start nodes on the undirected node graph (SubNet sets the one-way rules
//   aside), and BGL's connected_components beside it. Target: 1.5x.
// - SubNetEx against strong_components, and UnusedLinks, on 10k only.
// Each benchmark first checks its answer against BGL's and stops with the
// first difference.
#include <boost/graph/adjacency_list.hpp>
#include <boost/graph/connected_components.hpp>
#include <boost/graph/kruskal_min_spanning_tree.hpp>
#include <boost/graph/strong_components.hpp>

#include <cstdint>
#include <iterator>
#include <map>
#include <memory>
#include <vector>

#include "routing/kovra_calc.h"

#include "routing_bench.h"

using namespace kovra;
using namespace kovra::benchsupport;

namespace {

using TWeighted = boost::adjacency_list<boost::vecS, boost::vecS, boost::undirectedS, boost::no_property,
                                        boost::property<boost::edge_weight_t, float>>;
using TDirected = boost::adjacency_list<boost::vecS, boost::vecS, boost::directedS>;
using TKruskalEdges = std::vector<boost::graph_traits<TWeighted>::edge_descriptor>;

// The undirected graph of the links of non-zero length, weighted by length,
// vertices in the network's ids.
std::unique_ptr<TWeighted> UndirectedLengths(const TNetwork& NW) {
  auto g = std::make_unique<TWeighted>(size_t(NW.NodeCount()) + 1);
  for (int32_t l = 1; l <= NW.LinkCount(); ++l)
    if (NW.Lengths()[size_t(l)] != 0)
      boost::add_edge(NW.Fromnodes()[size_t(l)], NW.Tonodes()[size_t(l)], NW.Lengths()[size_t(l)], *g);
  return g;
}

void BM_MST(benchmark::State& state) {
  TRoutingNet& n = RoutingNet(int32_t(state.range(0)), false);
  TCalc c(n.NW, false);
  TBitArray links;
  c.MST(links);
  // The tree's weight against Kruskal's over the cheapest link's component.
  const auto g = UndirectedLengths(n.NW);
  std::vector<int> comp(boost::num_vertices(*g));
  boost::connected_components(*g, comp.data());
  int32_t cheapest = 0;
  for (int32_t l = 1; l <= n.NW.LinkCount(); ++l)
    if (n.NW.Lengths()[size_t(l)] != 0 && (cheapest == 0 || n.NW.Lengths()[size_t(l)] < n.NW.Lengths()[size_t(cheapest)]))
      cheapest = l;
  const int home = comp[size_t(n.NW.Fromnodes()[size_t(cheapest)])];
  TKruskalEdges edges;
  boost::kruskal_minimum_spanning_tree(*g, std::back_inserter(edges));
  double theirs = 0, ours = 0;
  for (const auto& e : edges)
    if (comp[boost::source(e, *g)] == home) theirs += double(boost::get(boost::edge_weight, *g, e));
  for (int32_t l = 1; l <= n.NW.LinkCount(); ++l)
    if (links.GetBit(l)) ours += double(n.NW.Lengths()[size_t(l)]);
  if (!Agrees(state, ours == theirs, "MST weight")) return;
  for (auto _ : state) c.MST(links);
  state.counters["links"] = double(n.NW.LinkCount());
}
BENCHMARK(BM_MST)->ArgName("nodes")->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

void BM_BglKruskal(benchmark::State& state) {
  TRoutingNet& n = RoutingNet(int32_t(state.range(0)), false);
  const auto g = UndirectedLengths(n.NW);
  TKruskalEdges edges;
  edges.reserve(boost::num_vertices(*g));
  for (auto _ : state) {
    edges.clear();
    boost::kruskal_minimum_spanning_tree(*g, std::back_inserter(edges));
  }
  state.counters["links"] = double(n.NW.LinkCount());
}
BENCHMARK(BM_BglKruskal)->ArgName("nodes")->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

// The undirected node graph (both arcs of every link of non-zero length) in
// the baselines' vertex order, and SubNet's start nodes: the lowest node of
// each component, in ascending order.
struct TUndirectedNodes {
  std::unique_ptr<TCsr> Graph;
  std::vector<int32_t> Starts;
};

const TUndirectedNodes& Undirected(TRoutingNet& n) {
  static std::map<const TRoutingNet*, TUndirectedNodes> cache;
  TUndirectedNodes& u = cache[&n];
  if (u.Graph) return u;
  TArcs arcs;
  std::vector<TEdge> weights;
  for (int32_t l = 1; l <= n.NW.LinkCount(); ++l) {
    const float w = n.NW.Lengths()[size_t(l)];
    if (w == 0) continue;
    const size_t f = n.NodeVertex(n.NW.Fromnodes()[size_t(l)]), t = n.NodeVertex(n.NW.Tonodes()[size_t(l)]);
    arcs.emplace_back(f, t);
    weights.push_back({w});
    arcs.emplace_back(t, f);
    weights.push_back({w});
  }
  u.Graph = MakeCsr(arcs, weights, size_t(n.NW.NodeCount()) + 1);
  const auto g = UndirectedLengths(n.NW);
  std::vector<int> comp(boost::num_vertices(*g));
  boost::connected_components(*g, comp.data());
  std::vector<bool> seen(comp.size(), false);
  for (int32_t v = 1; v <= n.NW.NodeCount(); ++v)
    if (!seen[size_t(comp[size_t(v)])]) {
      seen[size_t(comp[size_t(v)])] = true;
      u.Starts.push_back(v);
    }
  return u;
}

void BM_SubNet(benchmark::State& state) {
  TRoutingNet& n = RoutingNet(int32_t(state.range(0)), false);
  const TUndirectedNodes& u = Undirected(n);
  TCalc c(n.NW, false);
  TIntegerArray IA;
  const int32_t result = c.SubNet(IA);
  if (!Agrees(state, result == int32_t(u.Starts.size()) - 1, "SubNet components")) return;
  for (auto _ : state) c.SubNet(IA);
  state.counters["trees"] = double(u.Starts.size());
}
BENCHMARK(BM_SubNet)->ArgName("nodes")->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

void BM_BglSubNetDijkstra(benchmark::State& state) {
  TRoutingNet& n = RoutingNet(int32_t(state.range(0)), false);
  const TUndirectedNodes& u = Undirected(n);
  TBglSearch m(*u.Graph);
  for (auto _ : state)
    for (const int32_t s : u.Starts) m.DijkstraUsual(n.NodeVertex(s), boost::default_dijkstra_visitor());
  state.counters["trees"] = double(u.Starts.size());
}
BENCHMARK(BM_BglSubNetDijkstra)->ArgName("nodes")->Arg(10'000)->Arg(100'000)->Arg(1'000'000)
    ->Unit(benchmark::kMillisecond);

void BM_BglConnectedComponents(benchmark::State& state) {
  TRoutingNet& n = RoutingNet(int32_t(state.range(0)), false);
  const auto g = UndirectedLengths(n.NW);
  std::vector<int> comp(boost::num_vertices(*g));
  for (auto _ : state) benchmark::DoNotOptimize(boost::connected_components(*g, comp.data()));
}
BENCHMARK(BM_BglConnectedComponents)->ArgName("nodes")->Arg(10'000)->Arg(100'000)->Arg(1'000'000)
    ->Unit(benchmark::kMillisecond);

// The directed graph of the links by their one-way codes.
std::unique_ptr<TDirected> OneWayGraph(const TNetwork& NW) {
  auto g = std::make_unique<TDirected>(size_t(NW.NodeCount()) + 1);
  for (int32_t l = 1; l <= NW.LinkCount(); ++l) {
    if (NW.Lengths()[size_t(l)] == 0) continue;
    const int32_t f = NW.Fromnodes()[size_t(l)], t = NW.Tonodes()[size_t(l)], code = NW.OneWayCode(l);
    if (code == 0 || code == 1) boost::add_edge(f, t, *g);
    if (code == 0 || code == 2) boost::add_edge(t, f, *g);
  }
  return g;
}

void BM_SubNetEx(benchmark::State& state) {
  TRoutingNet& n = RoutingNet(int32_t(state.range(0)), false);
  TRouteCalc c(n.NW, false);
  TIntegerArray IA;
  const int32_t flagged = c.SubNetEx(IA);
  const auto g = OneWayGraph(n.NW);
  std::vector<int> comp(boost::num_vertices(*g));
  boost::strong_components(*g, comp.data());
  int32_t expected = 0;
  for (int32_t l = 1; l <= n.NW.LinkCount(); ++l) {
    const int32_t code = n.NW.OneWayCode(l);
    expected += n.NW.Lengths()[size_t(l)] != 0 && (code == 1 || code == 2) &&
                comp[size_t(n.NW.Fromnodes()[size_t(l)])] != comp[size_t(n.NW.Tonodes()[size_t(l)])];
  }
  if (!Agrees(state, flagged == expected, "SubNetEx traps")) return;
  for (auto _ : state) c.SubNetEx(IA);
  state.counters["flagged"] = double(flagged);
}
BENCHMARK(BM_SubNetEx)->ArgName("nodes")->Arg(10'000)->Unit(benchmark::kMillisecond);

void BM_BglStrongComponents(benchmark::State& state) {
  TRoutingNet& n = RoutingNet(int32_t(state.range(0)), false);
  const auto g = OneWayGraph(n.NW);
  std::vector<int> comp(boost::num_vertices(*g));
  for (auto _ : state) benchmark::DoNotOptimize(boost::strong_components(*g, comp.data()));
}
BENCHMARK(BM_BglStrongComponents)->ArgName("nodes")->Arg(10'000)->Unit(benchmark::kMillisecond);

void BM_UnusedLinks(benchmark::State& state) {
  TRoutingNet& n = RoutingNet(int32_t(state.range(0)), false);
  TCalc c(n.NW, false);
  TBitArray BA;
  for (auto _ : state) c.UnusedLinks(BA);
  state.counters["unused"] = double(BA.CountTrue());
}
BENCHMARK(BM_UnusedLinks)->ArgName("nodes")->Arg(10'000)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
