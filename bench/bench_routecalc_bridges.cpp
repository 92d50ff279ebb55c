// Bridges and the road-name test (TRouteCalc::Bridges, RoadNameTest) on
// generated grid-like networks of about 100k and 1M links, by distance.
//
// Bridges against:
// - the same loop without the cycle clearing: every non-cul-de-sac two-way
//   link closed, one route from its to-node to its from-node, reopened
//   (known=1: the undirected bridges answered without a route, as Bridges
//   answers them). Target: Bridges at most 0.3x its time;
// - Boost Graph's biconnected_components on an undirected adjacency list of
//   the same links, its vertices in Hilbert order (bench_bgl_graph.h;
//   building excluded): the linear-time floor. Before timing, its bridges
//   (but the cul-de-sac links, which Bridges leaves out) are checked to be
//   the links Bridges flags.
// RoadNameTest with 1000 routes (output into the in-memory table) against
// the same 1000 random node pairs routed with Route plus ExtractRoute alone.
// Target: within 1.2x.
//
// One iteration runs the whole check; counters give links, routes and the
// ratio's inputs.
#include <benchmark/benchmark.h>

#include <boost/graph/adjacency_list.hpp>
#include <boost/graph/biconnected_components.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "foundation/kovra_random.h"
#include "network/kovra_network.h"
#include "routing/kovra_calc.h"
#include "routing/support/netgen.h"

#include "bench_bgl_graph.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

// Grid nodes for about 100k and 1M links (about 1.8 links per grid node).
int32_t NodesFor(int32_t links) { return int32_t(double(links) / 1.8); }

// A generated network with road names by grid row and column, every ninth
// link interrupting its road with another name; with oneway false every
// link is two-way.
struct TNamedNet {
  TNamedNet(int32_t links, bool oneway) {
    TNetGenOptions o;
    o.Seed = 3;
    o.Nodes = NodesFor(links);
    o.SpatialIndex = false;
    if (!oneway) {
      o.OneWay = 0;
      o.Closed = 0;
      o.Duplicate = 0;
    }
    Gen = GenerateNetwork(o);
    std::vector<std::string> names;
    for (int32_t l = 1; l <= Gen.LinkCount(); ++l) {
      const TFloatPointArray p = Gen.Writer.Polyline(l);
      const double dx = std::fabs(p.back().x - p.front().x), dy = std::fabs(p.back().y - p.front().y);
      std::string name = dx > 60   ? "Row " + std::to_string(std::lround((p.front().y + p.back().y) / 200))
                         : dy > 60 ? "Col " + std::to_string(std::lround((p.front().x + p.back().x) / 200))
                                   : "Spur";
      if (l % 9 == 4) name = "Detour";
      names.push_back(name);
    }
    Gen.Writer.SetRoadNames(1, names);
    Dir = (std::filesystem::temp_directory_path() /
           ("kovra_bench_bridges_" + std::to_string(links) + (oneway ? "_oneway" : "_twoway")))
              .string();
    std::filesystem::create_directories(Dir);
    Gen.Write(Dir);
    Gen.Open(NW, Dir);
    NW.OpenRoadName(1, true);
  }
  ~TNamedNet() {
    NW.Close();
    std::error_code ec;
    std::filesystem::remove_all(Dir, ec);
  }
  TGenNetwork Gen;
  TNetwork NW;
  std::string Dir;
};

TNamedNet& Net(int64_t links, int64_t oneway = 1) {
  static std::map<std::pair<int64_t, int64_t>, std::unique_ptr<TNamedNet>> nets;
  auto& n = nets[{links, oneway}];
  if (!n) n = std::make_unique<TNamedNet>(int32_t(links), oneway != 0);
  return *n;
}

void BM_Bridges(benchmark::State& state) {
  TNetwork& nw = Net(state.range(0), state.range(2)).NW;
  TRouteCalc c(nw, state.range(1) != 0);
  TIntegerArray IA;
  int32_t bridges = 0;
  for (auto _ : state) bridges = c.Bridges(IA);
  state.counters["links"] = nw.LinkCount();
  state.counters["bridges"] = bridges;
}

// The loop of Bridges without the cycle clearing: one route per link;
// range(2) = 1 answers the undirected bridges without a route, as Bridges
// does.
void BM_BridgesEveryLink(benchmark::State& state) {
  TNetwork& nw = Net(state.range(0), state.range(2)).NW;
  TRouteCalc c(nw, state.range(1) != 0);
  const bool known = state.range(3) != 0;
  const int32_t* from = nw.Fromnodes().data();
  const int32_t* to = nw.Tonodes().data();
  int64_t routes = 0;
  int32_t bridges = 0;
  std::vector<uint8_t> undirected;
  for (auto _ : state) {
    routes = 0;
    bridges = 0;
    if (known) UndirectedBridges(nw, undirected);
    for (int32_t l = 1; l <= nw.LinkCount(); ++l) {
      if (nw.Lengths()[size_t(l)] == 0 || nw.GetCulDeSac(l) || nw.OneWayCode(l) != 0) continue;
      if (known && undirected[size_t(l)]) {
        ++bridges;
        continue;
      }
      nw.OneWaySet(l, cAttrOneway);
      if (c.Route(to[l], from[l]) < 0) ++bridges;
      nw.OneWaySet(l, 0);
      ++routes;
    }
  }
  state.counters["links"] = nw.LinkCount();
  state.counters["routes"] = double(routes);
  state.counters["bridges"] = bridges;
}

void BM_BglBiconnected(benchmark::State& state) {
  TNetwork& nw = Net(state.range(0), state.range(1)).NW;
  struct TEdge {
    size_t component = 0;
  };
  using G = boost::adjacency_list<boost::vecS, boost::vecS, boost::undirectedS, boost::no_property, TEdge>;
  // Each link split at a vertex of its own, so parallel links form cycles
  // (Boost takes an edge back to the parent for the tree edge). Nodes along
  // the Hilbert curve, then the links' vertices by their from-nodes.
  const benchsupport::TVertexOrder order = benchsupport::NodeOrder(nw);
  const size_t nodes = size_t(nw.NodeCount()) + 1;
  std::vector<std::pair<size_t, int32_t>> byFrom;
  for (int32_t l = 1; l <= nw.LinkCount(); ++l) byFrom.emplace_back(order(size_t(nw.Fromnodes()[size_t(l)])), l);
  std::sort(byFrom.begin(), byFrom.end());
  std::vector<size_t> mid(size_t(nw.LinkCount()) + 1);
  for (size_t i = 0; i < byFrom.size(); ++i) mid[size_t(byFrom[i].second)] = nodes + 1 + i;
  G g(nodes + size_t(nw.LinkCount()) + 1);
  std::vector<std::pair<int32_t, G::edge_descriptor>> half;  // a half of each link
  for (int32_t l = 1; l <= nw.LinkCount(); ++l)
    if (nw.Lengths()[size_t(l)] > 0 && nw.OneWayCode(l) == 0) {
      half.emplace_back(l, boost::add_edge(order(size_t(nw.Fromnodes()[size_t(l)])), mid[size_t(l)], g).first);
      boost::add_edge(mid[size_t(l)], order(size_t(nw.Tonodes()[size_t(l)])), g);
    }
  size_t components = boost::biconnected_components(g, boost::get(&TEdge::component, g));
  // A link is a bridge when its half is a component of its own.
  std::vector<int32_t> size(components, 0);
  for (auto [e, end] = boost::edges(g); e != end; ++e) ++size[g[*e].component];
  TRouteCalc c(nw, false);
  TIntegerArray IA;
  c.Bridges(IA);
  for (const auto& [l, e] : half) {
    const bool bgl = size[g[e].component] == 1 && !nw.GetCulDeSac(l);
    if (bgl == (IA[size_t(l)] != 0)) continue;
    const std::string msg = "link " + std::to_string(l) + (bgl ? " is" : " is not") + " a bridge for BGL";
    std::fprintf(stderr, "bench_routecalc_bridges: %s\n", msg.c_str());
    return state.SkipWithError(msg.c_str());
  }
  for (auto _ : state) components = boost::biconnected_components(g, boost::get(&TEdge::component, g));
  state.counters["links"] = nw.LinkCount();
  state.counters["components"] = double(components);
}

constexpr int32_t cRoutes = 1000;

void BM_RoadNameTest(benchmark::State& state) {
  TNetwork& nw = Net(state.range(0)).NW;
  TRouteCalc c(nw, state.range(1) != 0);
  for (auto _ : state) {
    SeedProcessRandom(9);
    c.RoadNameTest("", gfArray, 1, cRoutes);
  }
  state.counters["rows"] = c.GISarray().RecCount;
}

// The same node pairs (the same seeding), routed and extracted only.
void BM_RoutesAlone(benchmark::State& state) {
  TNetwork& nw = Net(state.range(0)).NW;
  TRouteCalc c(nw, state.range(1) != 0);
  int64_t links = 0;
  for (auto _ : state) {
    SeedProcessRandom(9);
    TRandom r;
    r.Randomize();
    links = 0;
    for (int32_t i = 0; i < cRoutes; ++i) {
      const int32_t a = nw.RandomNode(r);
      int32_t b = nw.RandomNode(r);
      while (b == a) b = nw.RandomNode(r);
      if (!(c.Route(a, b) > 0)) continue;
      links += int64_t(c.ExtractRoute(b).links.size());
    }
    benchmark::DoNotOptimize(links);
  }
  state.counters["route_links"] = double(links);
}

void Args(benchmark::internal::Benchmark* b) {
  for (const int64_t links : {100000, 1000000})
    for (const int64_t turn : {0, 1}) b->Args({links, turn});
  b->ArgNames({"links", "turn"})->Iterations(1)->Unit(benchmark::kMillisecond);
}

}  // namespace

// Networks with one-way links (oneway=1) or two-way links only. A route
// that finds nothing searches one whole side of the network: the plain loop
// pays that for every bridge (hours on 1M links, so only 100k), and with
// one-way links so does every loop for every link whose to-node cannot
// reach its from-node without it (also hours on 1M links).
void BridgesArgs(benchmark::internal::Benchmark* b) {
  for (const int64_t links : {100000, 1000000})
    for (const int64_t turn : {0, 1})
      for (const int64_t oneway : {0, 1})
        if (!(oneway && links == 1000000)) b->Args({links, turn, oneway});
  b->ArgNames({"links", "turn", "oneway"})->Iterations(1)->Unit(benchmark::kMillisecond);
}
void EveryLinkArgs(benchmark::internal::Benchmark* b) {
  for (const int64_t links : {100000, 1000000})
    for (const int64_t turn : {0, 1})
      for (const int64_t oneway : {0, 1})
        for (const int64_t known : {0, 1})
          if (links == 100000 || (known && !oneway)) b->Args({links, turn, oneway, known});
  b->ArgNames({"links", "turn", "oneway", "known"})->Iterations(1)->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_Bridges)->Apply(BridgesArgs);
BENCHMARK(BM_BridgesEveryLink)->Apply(EveryLinkArgs);
BENCHMARK(BM_BglBiconnected)
    ->Args({100000, 0})
    ->Args({1000000, 0})
    ->ArgNames({"links", "oneway"})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RoadNameTest)->Apply(Args);
BENCHMARK(BM_RoutesAlone)->Apply(Args);
