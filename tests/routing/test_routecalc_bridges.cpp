// Bridges and the road-name test of TRouteCalc: bridges on hand-made
// networks and against Boost Graph's biconnected components on generated
// ones, the network left as it was after every run (also a failed one), the
// road-name scan and merge as tables, and the road-name layer read back
// through GDAL.
#include <gtest/gtest.h>

#include <boost/graph/adjacency_list.hpp>
#include <boost/graph/biconnected_components.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "foundation/kovra_random.h"
#include "network/kovra_network.h"
#include "network/kovra_roadnamefile.h"
#include "network/support/network_writer.h"
#include "routing/kovra_calc.h"
#include "routing/support/bgl_oracle.h"
#include "routing/support/netgen.h"
#include "support/gdal_readback.h"
#include "support/temp_dir_test.h"
#include "support/test_raises.h"
#include "analysis_fixture.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

std::vector<int32_t> Flagged(const TIntegerArray& IA) {
  std::vector<int32_t> links;
  for (size_t l = 1; l < IA.size(); ++l)
    if (IA[l] != 0) links.push_back(int32_t(l));
  return links;
}

// --- Bridges on hand-made networks ------------------------------------------------

class BridgesFixture : public TTempDirTest {
protected:
  TNetwork& Open(const TBuild& build) {
    TTestNetworkWriter w;
    w.Unit = cuKm;
    build(w);
    w.SetAttribute(1, 0);  // so that "attribute.bin" exists; link 1 is plain in every case
    w.Write(dir.string() + "/");
    nw = std::make_unique<TNetwork>();
    nw->SetDirectory(dir.string() + "/");
    nw->Open(true, false, false, 0);
    return *nw;
  }
  std::unique_ptr<TNetwork> nw;
};

TEST_F(BridgesFixture, HandMadeNetworks) {
  struct Case {
    const char* name;
    TBuild build;
    std::vector<int32_t> bridges;
  };
  const Case cases[] = {
      {"two cycles joined by one two-way link",
       [](TTestNetworkWriter& w) {
         TwoSquares(w);
         w.AddLink({{1, 0}, {3, 0}});
       },
       {9}},
      {"a one-way joining link",
       [](TTestNetworkWriter& w) {
         TwoSquares(w);
         w.AddLink({{1, 0}, {3, 0}}, cAttrOnewayFromTo);
       },
       {}},
      {"a joining link closed both ways",
       [](TTestNetworkWriter& w) {
         TwoSquares(w);
         w.AddLink({{1, 0}, {3, 0}}, cAttrOneway);
       },
       {}},
      {"a zero-length link beside the bridge",
       [](TTestNetworkWriter& w) {
         TwoSquares(w);
         w.AddRejected();
         w.AddLink({{1, 0}, {3, 0}});
       },
       {10}},
      {"cul-de-sac links hanging off both cycles",
       [](TTestNetworkWriter& w) {
         TwoSquares(w);
         w.AddLink({{1, 0}, {3, 0}});
         w.AddLink({{1, 1}, {1, 2}});
         w.AddLink({{1, 2}, {1, 3}});
         w.AddLink({{4, 1}, {5, 2}});
       },
       {9}},
      {"two parallel joining links",
       [](TTestNetworkWriter& w) {
         TwoSquares(w);
         w.AddLink({{1, 0}, {3, 0}});
         w.AddLink({{1, 0}, {2, -0.5}, {3, 0}});
       },
       {}},
      {"a tree alone",
       [](TTestNetworkWriter& w) {
         w.AddLink({{0, 0}, {1, 0}});
         w.AddLink({{1, 0}, {2, 0}});
         w.AddLink({{1, 0}, {1, 1}});
       },
       {}},
      // P(0,0), Q(1,0), R(0.5,1): X from P to Q, Y from R to Q, Z one-way
      // from R to P. Y's own test (Q to R without Y) finds no route: Q-P
      // cannot go on to R. X's route (Q to R to P) drives Y from Q to R, which
      // proves a way the other way round only; before the mend it cleared Y,
      // and overwrote a 1 measured for Y before. Both link orders.
      {"a triangle with a one-way link, X tested first",
       [](TTestNetworkWriter& w) {
         w.AddLink({{0, 0}, {1, 0}});
         w.AddLink({{0.5, 1}, {1, 0}});
         w.AddLink({{0.5, 1}, {0, 0}}, cAttrOnewayFromTo);
       },
       {2}},
      {"a triangle with a one-way link, Y tested first",
       [](TTestNetworkWriter& w) {
         w.AddLink({{0.5, 1}, {1, 0}});
         w.AddLink({{0, 0}, {1, 0}});
         w.AddLink({{0.5, 1}, {0, 0}}, cAttrOnewayFromTo);
       },
       {1}},
      {"three cycles in a chain",
       [](TTestNetworkWriter& w) {
         TwoSquares(w);
         w.AddLink({{6, 0}, {7, 0}});
         w.AddLink({{7, 0}, {6.5, 1}});
         w.AddLink({{6.5, 1}, {6, 0}});
         w.AddLink({{1, 0}, {3, 0}});
         w.AddLink({{4, 1}, {6.5, 1}});
       },
       {12, 13}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Open(c.build);
    for (const bool turnmode : {false, true}) {
      SCOPED_TRACE(turnmode ? "turn mode" : "node mode");
      TRouteCalc calc(*nw, turnmode);
      TIntegerArray IA;
      EXPECT_EQ(calc.Bridges(IA), int32_t(c.bridges.size()));
      ASSERT_EQ(IA.size(), size_t(nw->LinkCount()) + 1);
      EXPECT_EQ(Flagged(IA), c.bridges);
    }
    nw.reset();
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
  }
}

// In turn mode a prohibited turn can make the route found drive down a
// bridge to a loop and back. That bridge is on no cycle with the tested
// link and must still be tested and reported.
//   u(0,0) -1- v(1,0) -2- w(1,1) -3- u; w -4- x(1,2); loop x -5- y -6- z -7- x
TEST_F(BridgesFixture, DetourOverABridgeIsStillTested) {
  Open([](TTestNetworkWriter& w) {
    w.AddLink({{0, 0}, {1, 0}});
    w.AddLink({{1, 0}, {1, 1}});
    w.AddLink({{1, 1}, {0, 0}});
    w.AddLink({{1, 1}, {1, 2}});
    w.AddLink({{1, 2}, {2, 3}});
    w.AddLink({{2, 3}, {0, 3}});
    w.AddLink({{0, 3}, {1, 2}});
  });
  nw->TurnSet(0).AddSimple(2, 3, -1);  // v-w into w-u prohibited
  for (const bool turnmode : {false, true}) {
    SCOPED_TRACE(turnmode ? "turn mode" : "node mode");
    TRouteCalc c(*nw, turnmode);
    c.SetShortest(true);
    TIntegerArray IA;
    EXPECT_EQ(c.Bridges(IA), 1);
    EXPECT_EQ(Flagged(IA), std::vector<int32_t>{4});
  }
  // The detour itself: link 4 there and back.
  TRouteCalc c(*nw, true);
  c.SetShortest(true);
  nw->OneWaySet(1, cAttrOneway);
  ASSERT_GT(c.Route(nw->Tonodes()[1], nw->Fromnodes()[1]), 0);
  const TRoute r = c.RouteFind(nw->Fromnodes()[1]);
  EXPECT_EQ(std::count_if(r.links.begin(), r.links.end(), [](int32_t e) { return std::abs(e) == 4; }), 2);
  nw->OneWaySet(1, 0);
}

// --- Bridges against Boost Graph ---------------------------------------------------

// The bridges of the undirected multigraph of the links of non-zero length:
// the biconnected components of a single edge, less the cul-de-sac links,
// which are never reported. Boost's depth-first search takes an edge back to
// the parent vertex for the tree edge itself, so parallel links would pass
// for bridges: every link is split at a vertex of its own, and a link is a
// bridge when its halves are.
TIntegerArray BglBridges(const TNetwork& nw, bool exceptCulDeSac = true) {
  struct TEdge {
    int32_t link = 0;
    size_t component = 0;
  };
  using G = boost::adjacency_list<boost::vecS, boost::vecS, boost::undirectedS, boost::no_property, TEdge>;
  const size_t nodes = size_t(nw.NodeCount()) + 1;
  G g(nodes + size_t(nw.LinkCount()) + 1);
  for (int32_t l = 1; l <= nw.LinkCount(); ++l)
    if (nw.Lengths()[size_t(l)] > 0) {
      boost::add_edge(size_t(nw.Fromnodes()[size_t(l)]), nodes + size_t(l), TEdge{l, 0}, g);
      boost::add_edge(nodes + size_t(l), size_t(nw.Tonodes()[size_t(l)]), TEdge{l, 0}, g);
    }
  const size_t components = boost::biconnected_components(g, boost::get(&TEdge::component, g));
  std::vector<int32_t> size(components, 0), link(components, 0);
  for (const auto e : boost::make_iterator_range(boost::edges(g))) {
    ++size[g[e].component];
    link[g[e].component] = g[e].link;
  }
  TIntegerArray IA(size_t(nw.LinkCount()) + 1, 0);
  for (size_t k = 0; k < components; ++k)
    if (size[k] == 1 && !(exceptCulDeSac && nw.GetCulDeSac(link[k]))) IA[size_t(link[k])] = 1;
  return IA;
}

TEST(BridgesOracle, EqualBiconnectedComponents) {
  int32_t total = 0;
  for (uint64_t seed = 1; seed <= 6; ++seed) {
    TNetGenOptions o;
    o.Seed = seed;
    o.Nodes = 300 * RoutingScale();
    o.Drop = 0.3 + 0.03 * double(seed);  // more links left out: more bridges
    o.OneWay = 0;
    o.Closed = 0;
    o.Duplicate = 0;
    o.Limits = false;
    o.SpatialIndex = false;
    TGeneratedNetwork g(o);
    const TIntegerArray expected = BglBridges(g.NW);
    const int32_t count = int32_t(std::count(expected.begin(), expected.end(), 1));
    total += count;
    for (const bool turnmode : {false, true}) {
      SCOPED_TRACE("seed " + std::to_string(seed) + (turnmode ? " turn mode" : " node mode"));
      TRouteCalc c(g.NW, turnmode);
      TIntegerArray IA;
      EXPECT_EQ(c.Bridges(IA), count);
      EXPECT_EQ(IA, expected);
    }
  }
  EXPECT_GT(total, 10);  // the networks do have bridges to find
}

// Every link's answer is its own test's, in the direction rules Bridges
// uses: a two-way link of non-zero length that is no dead end is a bridge
// when, without it, its from-node cannot be reached from its to-node (BGL's
// Dijkstra on the oracle's node graph, or on its link-state graph with the
// turn rules in turn mode); every other link is not. Networks with one-way
// and closed links, where a route found for one link proves nothing for a
// link it drives against.
TEST(BridgesOracle, EveryLinkAsItsOwnTest) {
  int32_t bridges = 0, links = 0;
  for (uint64_t seed = 21; seed <= 23; ++seed) {
    TNetGenOptions o;
    o.Seed = seed;
    o.Nodes = 250 * RoutingScale();
    o.Drop = 0.25;
    o.OneWay = 0.3;
    o.Restrictions2 = 60;
    o.SpatialIndex = false;
    TGeneratedNetwork g(o);
    const TNetwork& nw = g.NW;
    for (const bool turnmode : {false, true}) {
      SCOPED_TRACE("seed " + std::to_string(seed) + (turnmode ? " turn mode" : " node mode"));
      TRouteCalc c(g.NW, turnmode);
      c.SetShortest(turnmode);  // the turn rules in turn mode
      TIntegerArray IA;
      const int32_t count = c.Bridges(IA);
      ASSERT_EQ(IA.size(), size_t(nw.LinkCount()) + 1);
      TBitArray without(int64_t(nw.LinkCount()) + 1);
      TOracleOptions oo;
      oo.TurnCosts = turnmode;
      oo.Skip = &without;
      const TBglOracle plain(nw, {});
      for (int32_t l = 1; l <= nw.LinkCount(); ++l) {
        int32_t want = 0;
        if (nw.Lengths()[size_t(l)] > 0 && !plain.DeadEnd(l) && nw.OneWayCode(l) == 0) {
          without.SetBit2(l, true);
          const TBglOracle oracle(nw, oo);
          const int32_t from = nw.Fromnodes()[size_t(l)], to = nw.Tonodes()[size_t(l)];
          float reach = cInfinity;
          if (!turnmode) {
            reach = oracle.NodeTree(to)[size_t(from)];
          } else {
            const std::vector<float> d = oracle.StateTree(to);
            for (const int32_t e : nw.Adjacent(from)) {
              const int32_t L = std::abs(e);
              reach = std::min(reach, d[size_t(nw.Tonodes()[size_t(L)] == from ? 2 * L : 2 * L + 1)]);
            }
          }
          without.SetBit2(l, false);
          want = reach < cInfinity ? 0 : 1;
        }
        EXPECT_EQ(IA[size_t(l)], want) << "link " << l;
        bridges += want;
      }
      EXPECT_EQ(count, int32_t(std::count(IA.begin() + 1, IA.end(), 1)));
      links += nw.LinkCount();
    }
  }
  EXPECT_GT(bridges, 20);  // the networks do have directed bridges to find
  RecordProperty("links", std::to_string(links));
}

// The bridges of the undirected network, one-way and closed links included,
// that let Bridges skip the routes whose answer is known.
TEST(BridgesOracle, UndirectedBridgesEqualBiconnectedComponents) {
  for (uint64_t seed = 1; seed <= 4; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    TNetGenOptions o;
    o.Seed = seed;
    o.Nodes = 500 * RoutingScale();
    o.Drop = 0.3;
    o.SpatialIndex = false;
    TGeneratedNetwork g(o);
    const TIntegerArray expected = BglBridges(g.NW, false);
    std::vector<uint8_t> bridge;
    UndirectedBridges(g.NW, bridge);
    EXPECT_EQ(TIntegerArray(bridge.begin(), bridge.end()), expected);
    EXPECT_GT(std::count(expected.begin(), expected.end(), 1), 20);
  }
}

// --- The network after a run -----------------------------------------------------

struct TNetworkState {
  std::vector<uint16_t> attributes;
  std::vector<std::vector<int32_t>> adjacency;
  bool operator==(const TNetworkState&) const = default;
};

TNetworkState StateOf(const TNetwork& nw) {
  TNetworkState s;
  s.attributes.assign(nw.Attributes().begin(), nw.Attributes().end());
  for (int32_t n = 1; n <= nw.NodeCount(); ++n) s.adjacency.emplace_back(nw.Adjacent(n).begin(), nw.Adjacent(n).end());
  return s;
}

TEST(BridgesSafety, NetworkAndSettingsRestoredOnEveryExit) {
  TNetGenOptions o;
  o.Seed = 11;
  o.Nodes = 400;
  o.Drop = 0.3;
  o.SpatialIndex = false;
  TGeneratedNetwork g(o);
  TNetwork& nw = g.NW;
  const TNetworkState before = StateOf(nw);
  for (const bool turnmode : {false, true}) {
    SCOPED_TRACE(turnmode ? "turn mode" : "node mode");
    TRouteCalc c(nw, turnmode);
    c.SetIgnoreOneway(true);
    int32_t calls = 0;
    c.SetOnProgress([&](TObject*, int32_t, bool&) { ++calls; });
    TIntegerArray IA;
    c.Bridges(IA);
    EXPECT_TRUE(c.IgnoreOneway());
    EXPECT_TRUE(StateOf(nw) == before);
    ASSERT_GT(calls, 3);

    // A handler that raises at its first, middle and last call.
    for (const int32_t k : {1, calls / 2, calls}) {
      SCOPED_TRACE("progress raises at call " + std::to_string(k));
      int32_t n = 0;
      c.SetOnProgress([&](TObject*, int32_t, bool&) {
        if (++n == k) throw Exception("stop");
      });
      EXPECT_EQ(MessageOf([&] { c.Bridges(IA); }), "stop");
      EXPECT_TRUE(IA.empty());
      EXPECT_TRUE(c.IgnoreOneway());
      EXPECT_TRUE(StateOf(nw) == before);
    }

    // A route that raises while its link is closed: the handler shrinks the
    // skip-node list the calculator borrows, so the next route refuses it.
    TBitArray skip(int64_t(nw.NodeCount()) + 1);
    for (const int32_t k : {1, calls / 2}) {
      SCOPED_TRACE("route raises after call " + std::to_string(k));
      skip.SetSize(int64_t(nw.NodeCount()) + 1);
      c.SetSkipNodeList(&skip);
      int32_t n = 0;
      c.SetOnProgress([&](TObject*, int32_t, bool&) {
        if (++n == k) skip.SetSize(2);
      });
      EXPECT_EQ(MessageOf([&] { c.Bridges(IA); }), "SkipNodeList has wrong size");
      EXPECT_TRUE(IA.empty());
      EXPECT_TRUE(c.IgnoreOneway());
      EXPECT_TRUE(StateOf(nw) == before);
      skip.SetSize(int64_t(nw.NodeCount()) + 1);
      c.SetSkipNodeList(nullptr);
    }
  }
}

// --- The road-name scan and merge --------------------------------------------------

// Names as letters: 'A' is id 1, 'B' 2 and so on.
std::vector<Ty> RouteOf(const std::string& names) {
  std::vector<Ty> r;
  for (size_t p = 0; p < names.size(); ++p) r.push_back({int32_t(p) + 100, 7, names[p] - 'A' + 1, 7});
  return r;
}

TEST(RoadNameScan, Table) {
  struct Case {
    const char* names;
    std::vector<int32_t> mark;
    std::string suggestion;  // '.' for none
  };
  const Case cases[] = {
      {"AABBA", {0, 0, 2, 2, 0}, "..AA."},
      {"ABCA", {0, 2, 2, 0}, ".AA."},
      {"AABB", {0, 0, 0, 0}, "...."},
      {"ABA", {0, 1, 0}, ".A."},
      {"AB", {0, 0}, ".."},
      {"A", {0}, "."},
      {"", {}, ""},
      // The B run inside the A run flags C again: the last flag stays.
      {"ABCBA", {0, 3, 1, 3, 0}, ".ABA."},
      {"ABABA", {0, 1, 1, 1, 0}, ".ABA."},
      // The run continues past a name seen before, up to its own name.
      {"AABCBBDA", {0, 0, 5, 1, 5, 5, 5, 0}, "..ABAAA."},
      {"ABBBBBBBBA", {0, 8, 8, 8, 8, 8, 8, 8, 8, 0}, ".AAAAAAAA."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.names);
    std::vector<Ty> r = RouteOf(c.names);
    ScanRoadNameRuns(r);
    std::vector<int32_t> mark;
    std::string suggestion;
    for (const Ty& t : r) {
      mark.push_back(t.mark);
      suggestion += t.str2 == 0 ? '.' : char('A' + t.str2 - 1);
    }
    EXPECT_EQ(mark, c.mark);
    EXPECT_EQ(suggestion, c.suggestion);
    for (size_t p = 0; p < r.size(); ++p) EXPECT_EQ(r[p].id, int32_t(p) + 100);
  }
}

TEST(RoadNameScan, MergeKeepsTheShortestRun) {
  struct Case {
    const char* name;
    std::vector<std::pair<int32_t, int32_t>> flags;  // (mark, str2) on link 1, in route order
    int32_t run, suggestion;
  };
  const Case cases[] = {
      {"first flag", {{3, 5}}, 3, 5},
      {"a later shorter run replaces", {{3, 5}, {2, 6}}, 2, 6},
      {"a later longer run does not", {{2, 6}, {3, 5}}, 2, 6},
      {"an equal run keeps the first", {{2, 6}, {2, 5}}, 2, 6},
      {"unflagged positions change nothing", {{0, 0}, {4, 1}, {0, 0}}, 4, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TIntegerArray run(3, 0), suggestion(3, 0);
    for (const auto& [mark, str2] : c.flags) {
      const Ty t{1, mark, 9, str2};
      MergeRoadNameRuns(std::span<const Ty>(&t, 1), run, suggestion);
    }
    EXPECT_EQ(run, (TIntegerArray{0, c.run, 0}));
    EXPECT_EQ(suggestion, (TIntegerArray{0, c.suggestion, 0}));
  }
}

// --- RoadNameTest end to end -----------------------------------------------------

inline constexpr const char* kQuoted = "Say \"Hi\" Rd";

// A generated grid whose links are named by their row or column, with
// planted names that interrupt them for one link, and some roundabouts.
class RoadNameFixture : public TTempDirTest {
protected:
  std::string Dir() const { return dir.string() + "/"; }

  void OpenGrid() {
    TNetGenOptions o;
    o.Seed = 5;
    o.Nodes = 900;
    o.SpatialIndex = false;
    gen = GenerateNetwork(o);
    std::vector<std::string> names;
    for (int32_t l = 1; l <= gen.LinkCount(); ++l) {
      const TFloatPointArray p = gen.Writer.Polyline(l);
      const TFloatPoint a = p.front(), b = p.back();
      const double dx = std::fabs(b.x - a.x), dy = std::fabs(b.y - a.y);
      std::string name;
      if (dx > 60) name = "Row " + std::to_string(std::lround((a.y + b.y) / 2 / 100));
      else if (dy > 60) name = "Col " + std::to_string(std::lround((a.x + b.x) / 2 / 100));
      else name = "Spur";
      if (l % 9 == 4) name = l % 2 ? kQuoted : "Detour";
      names.push_back(name);
    }
    gen.Writer.SetRoadNames(1, names);
    std::filesystem::create_directories(dir / "net");
    gen.Write(Dir() + "net");
    gen.Open(nw, Dir() + "net");
    nw.OpenRoadName(1, true);
    for (int32_t l = 13; l <= nw.LinkCount(); l += 13) nw.AttributeSetBit(l, 11, true);
  }

  // One run of the test with the process-wide source seeded.
  void Run(TRouteCalc& c, const std::string& name, TGISFormat GF, int32_t routes = 300) {
    SeedProcessRandom(77);
    c.RoadNameTest(name.empty() ? name : Dir() + name, GF, 1, routes);
  }

  TGenNetwork gen;
  TNetwork nw;
};

TEST_F(RoadNameFixture, LayerReadBack) {
  OpenGrid();
  for (const bool turnmode : {false, true}) {
    SCOPED_TRACE(turnmode ? "turn mode" : "node mode");
    const std::string m = turnmode ? "t" : "n";
    TRouteCalc c(nw, turnmode);
    Run(c, "one" + m, gfSHP);
    Run(c, "two" + m, gfSHP);
    const TOgrLayer one = ReadOgrLayer(Dir() + "one" + m + ".shp");
    const TOgrLayer two = ReadOgrLayer(Dir() + "two" + m + ".shp");
    ASSERT_TRUE(one.Opened && two.Opened);
    ASSERT_EQ(one.Features.size(), two.Features.size());
    for (size_t i = 0; i < one.Features.size(); ++i) {
      EXPECT_EQ(one.Features[i].Values, two.Features[i].Values);
      EXPECT_EQ(one.Features[i].Wkt, two.Features[i].Wkt);
    }

    // The columns: the name width is the name file's record width in bytes
    // (the shapefile writer gives every integer column its own width).
    const int32_t width = nw.RoadNameFile(1)->MaxRoadNameLength();
    ASSERT_EQ(one.Fields.size(), 4u);
    const std::vector<std::string> names{"ID", "Count", "RoadName", "Suggestion"};
    for (size_t k = 0; k < 4; ++k) {
      EXPECT_EQ(one.Fields[k].Name, names[k]);
      if (k < 2) {
        EXPECT_EQ(one.Fields[k].Type.rfind("Integer", 0), 0u) << one.Fields[k].Type;
      } else {
        EXPECT_EQ(one.Fields[k].Type, "String");
        EXPECT_EQ(one.Fields[k].Width, width);
      }
    }

    ASSERT_GT(one.Features.size(), 5u);
    bool quoted = false;
    std::vector<int32_t> ids;
    for (size_t i = 0; i < one.Features.size(); ++i) {
      const int32_t id = std::stoi(one.Value(i, "ID"));
      ids.push_back(id);
      EXPECT_GE(std::stoi(one.Value(i, "Count")), 1);
      EXPECT_FALSE(nw.AttributeGetBit(id, 11)) << "roundabout link " << id;
      EXPECT_EQ(one.Value(i, "RoadName"), nw.Link2RoadName(1, id));
      // A flagged link lies between two links of the suggested name, so
      // its own name is another.
      EXPECT_NE(one.Value(i, "RoadName"), one.Value(i, "Suggestion"));
      quoted = quoted || one.Value(i, "RoadName") == kQuoted;
      // The geometry is the link's polyline.
      EXPECT_EQ(one.Features[i].Wkt.rfind("LINESTRING", 0), 0u);
    }
    EXPECT_TRUE(quoted);
    EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));

    // The same rows as a GeoJSON file, as GeoJSON text and as an in-memory
    // table with the declared columns.
    Run(c, "json" + m, gfGeoJSON);
    EXPECT_TRUE(c.GeoJSON().empty());
    Run(c, "", gfGeoJSON);
    ASSERT_FALSE(c.GeoJSON().empty());
    EXPECT_EQ(c.GeoJSON(), ReadBytes(Dir() + "json" + m + ".geojson"));
    const std::string json = Make("layer" + m + ".json", c.GeoJSON());
    std::string out;
    EXPECT_EQ(RunCommand("jq -e '.features | length' '" + json + "'", &out), 0);
    EXPECT_EQ(std::stoi(out), int32_t(one.Features.size()));
    Run(c, "", gfArray);
    ASSERT_EQ(c.GISarray().Field.size(), 4u);
    for (size_t k = 0; k < 4; ++k) {
      const TFieldInfo& f = c.GISarray().Field[k];
      EXPECT_EQ(f.Name, names[k]);
      EXPECT_EQ(f.FieldType, k < 2 ? gfInteger : gfChar);
      EXPECT_EQ(int32_t(f.Width), k < 2 ? 9 : width);
    }
    ASSERT_EQ(c.GISarray().RecCount, int32_t(one.Features.size()));
    for (int32_t i = 0; i < c.GISarray().RecCount; ++i) {
      const TRec& r = c.GISarray().Rec[size_t(i)];
      ASSERT_EQ(r.Attr.size(), 4u);
      EXPECT_EQ(std::get<int32_t>(r.Attr[0]), ids[size_t(i)]);
      EXPECT_EQ(std::get<std::string>(r.Attr[2]), one.Value(size_t(i), "RoadName"));
      EXPECT_EQ(std::get<std::string>(r.Attr[3]), one.Value(size_t(i), "Suggestion"));
    }
  }
}

// The roundabout links are left out of the layer, not out of the scan:
// without their bit some of them are reported.
TEST_F(RoadNameFixture, RoundaboutsLeftOut) {
  OpenGrid();
  TRouteCalc c(nw, false);
  auto reported = [&] {
    std::vector<int32_t> ids;
    Run(c, "", gfArray);
    for (int32_t i = 0; i < c.GISarray().RecCount; ++i) {
      const int32_t id = std::get<int32_t>(c.GISarray().Rec[size_t(i)].Attr[0]);
      if (id % 13 == 0) ids.push_back(id);
    }
    return ids;
  };
  EXPECT_TRUE(reported().empty());
  for (int32_t l = 13; l <= nw.LinkCount(); l += 13) nw.AttributeSetBit(l, 11, false);
  EXPECT_FALSE(reported().empty());
}

// A failure while the layer is written leaves none: the handler raises at
// the final zero report, after every record.
TEST_F(RoadNameFixture, FailedLayerIsDropped) {
  OpenGrid();
  TRouteCalc c(nw, false);
  c.SetOnProgress([](TObject*, int32_t progress, bool&) {
    if (progress == 0) throw Exception("stop");
  });
  EXPECT_EQ(MessageOf([&] { Run(c, "gone", gfSHP, 50); }), "stop");
  for (const char* ext : {".shp", ".shx", ".dbf", ".prj", ".cpg"})
    EXPECT_FALSE(std::filesystem::exists(Dir() + "gone" + ext)) << ext;
  EXPECT_EQ(MessageOf([&] { Run(c, "", gfArray, 50); }), "stop");
  EXPECT_EQ(c.GISarray().RecCount, 0);
}

// Road-name fields are sized in bytes of the name file's records, capped at
// the widest text column: a name of 200 UTF-16 units gives 254, not the
// 144 that 400 bytes would wrap to. The name reads back whole.
TEST_F(RoadNameFixture, WideNameField) {
  const std::string wide(200, 'n');
  TTestNetworkWriter w;
  w.Unit = cuKm;
  w.AddLink({{0, 0}, {1, 0}});
  w.AddLink({{1, 0}, {2, 0}});
  w.AddLink({{2, 0}, {3, 0}});
  w.SetRoadNames(1, {"A", wide, "A"});
  w.SetAttribute(1, 0);
  w.Write(Dir());
  nw.SetDirectory(Dir());
  nw.Open(true, false, false, 0);
  nw.OpenRoadName(1, true);
  ASSERT_EQ(nw.RoadNameFile(1)->MaxRoadNameLength(), 400);
  TRouteCalc c(nw, false);
  Run(c, "wide", gfSHP, 100);
  const TOgrLayer layer = ReadOgrLayer(Dir() + "wide.shp");
  ASSERT_EQ(layer.Fields.size(), 4u);
  EXPECT_EQ(layer.Fields[2].Width, 254);
  EXPECT_EQ(layer.Fields[3].Width, 254);
  ASSERT_EQ(layer.Features.size(), 1u);
  EXPECT_EQ(layer.Value(0, "ID"), "2");
  EXPECT_EQ(layer.Value(0, "Count"), "1");
  EXPECT_EQ(layer.Value(0, "RoadName"), wide);
  EXPECT_EQ(layer.Value(0, "Suggestion"), "A");
}

// Every refusal comes before any route or output.
TEST_F(RoadNameFixture, Errors) {
  OpenGrid();
  TRouteCalc c(nw, false);
  struct Case {
    const char* name;
    int32_t RoadFileID, NumOfRoutes;
    std::string message;
  };
  const Case cases[] = {
      {"no routes", 1, 0, "NumOfRoutes should be >0"},
      {"negative routes", 1, -3, "NumOfRoutes should be >0"},
      {"file 0", 0, 10, "RoadFileID should be from 1 to 99, not 0"},
      {"file 100", 100, 10, "RoadFileID should be from 1 to 99, not 100"},
      {"file not open", 2, 10, "Roadnamefile 2 is not open"},
  };
  int32_t calls = 0;
  c.SetOnProgress([&](TObject*, int32_t, bool&) { ++calls; });
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    EXPECT_EQ(MessageOf([&] { c.RoadNameTest(Dir() + "out", gfSHP, k.RoadFileID, k.NumOfRoutes); }), k.message);
    EXPECT_EQ(MessageOf([&] { c.RoadNameTest("", gfGeoJSON, k.RoadFileID, k.NumOfRoutes); }), k.message);
    EXPECT_TRUE(c.GeoJSON().empty());
  }
  EXPECT_FALSE(std::filesystem::exists(Dir() + "out.shp"));
  EXPECT_EQ(calls, 0);

  nw.Close();
  TIntegerArray IA;
  EXPECT_EQ(MessageOf([&] { c.RoadNameTest(Dir() + "out", gfSHP, 1, 10); }), "Network is not open");
  EXPECT_EQ(MessageOf([&] { c.Bridges(IA); }), "Network is not open");
}

// Fewer than two nodes: the second node of a route could never differ from
// the first.
TEST_F(RoadNameFixture, TooFewNodes) {
  TTestNetworkWriter w;
  w.AddRejected();
  w.SetRoadNames(1, {"A"});
  w.SetAttribute(1, 0);
  w.Write(Dir());
  nw.SetDirectory(Dir());
  nw.Open(true, false, false, 0);
  nw.OpenRoadName(1, true);
  ASSERT_LT(nw.NodeCount(), 2);
  TRouteCalc c(nw, false);
  EXPECT_EQ(MessageOf([&] { c.RoadNameTest(Dir() + "out", gfSHP, 1, 10); }), "NodeCount should be >1");
  EXPECT_FALSE(std::filesystem::exists(Dir() + "out.shp"));
}

}  // namespace
