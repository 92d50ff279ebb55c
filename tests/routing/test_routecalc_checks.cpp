// The one-way and curb checks of TRouteCalc: SubNetEx against Boost Graph's
// strongly connected components on generated networks, both checks on
// hand-made networks as tables (one-way traps, rings, a turn-mode pocket
// that node mode never flags), and the settings and IA after a run the
// progress handler stops.
#include <gtest/gtest.h>

#include <boost/graph/adjacency_list.hpp>
#include <boost/graph/strong_components.hpp>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "network/kovra_network.h"
#include "routing/kovra_calc.h"
#include "routing/support/netgen.h"
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

// Settings compared without what every route search derives for itself:
// the hierarchy level it starts from and the A* factor.
bool SameSettings(TCalcSettings a, const TCalcSettings& b) {
  a.Lmax = b.Lmax;
  a.Falpha = b.Falpha;
  return a == b;
}

using TDirected = boost::adjacency_list<boost::vecS, boost::vecS, boost::directedS>;

// Node mode with the limits set (the check switches them off), one-way rules
// in force, no skip nodes and no hierarchy: a valid one-way link is a trap
// exactly when its ends lie in different strongly connected components.
TEST(SubNetExOracle, TrapsAreOneWayLinksBetweenStrongComponents) {
  for (const uint64_t seed : {6u, 19u, 31u}) {
    TNetGenOptions o;
    o.Seed = seed;
    o.Nodes = 600;
    o.OneWay = 0.35;
    o.Closed = 0.05;
    TGeneratedNetwork g(o);
    const TNetwork& nw = g.NW;
    TDirected graph(size_t(nw.NodeCount()) + 1);
    for (int32_t l = 1; l <= nw.LinkCount(); ++l) {
      if (nw.Lengths()[size_t(l)] == 0) continue;
      const int32_t f = nw.Fromnodes()[size_t(l)], t = nw.Tonodes()[size_t(l)];
      const int32_t code = nw.OneWayCode(l);
      if (code == 0 || code == 1) boost::add_edge(f, t, graph);
      if (code == 0 || code == 2) boost::add_edge(t, f, graph);
    }
    std::vector<int> comp(size_t(nw.NodeCount()) + 1);
    boost::strong_components(graph, comp.data());
    std::vector<int32_t> expected;
    for (int32_t l = 1; l <= nw.LinkCount(); ++l) {
      const int32_t code = nw.OneWayCode(l);
      if (nw.Lengths()[size_t(l)] != 0 && (code == 1 || code == 2) &&
          comp[size_t(nw.Fromnodes()[size_t(l)])] != comp[size_t(nw.Tonodes()[size_t(l)])])
        expected.push_back(l);
    }
    TRouteCalc c(g.NW, false);
    c.SetLimit(1, 250);
    c.SetLimit(2, 0xFF);
    const TCalcSettings before = c.Settings();
    TIntegerArray IA;
    const int32_t result = c.SubNetEx(IA);
    EXPECT_EQ(Flagged(IA), expected) << seed;
    EXPECT_EQ(result, int32_t(expected.size()));
    EXPECT_FALSE(expected.empty()) << seed << ": the case should have traps";
    EXPECT_TRUE(SameSettings(c.Settings(), before));
  }
}

// Node mode, as the topology check runs it, has no U-turn rule: a two-way
// link can always be driven again by coming back over itself, so the check
// flags one-way links only. Turn mode may flag two-way links too.
TEST(CulDeSacCurbOracle, NodeModeNeverFlagsATwoWayLink) {
  TNetGenOptions o;
  o.Seed = 23;
  o.Nodes = 400;
  o.OneWay = 0.3;
  TGeneratedNetwork g(o);
  TRouteCalc c(g.NW, false);
  TIntegerArray IA;
  const int32_t flagged = c.CulDeSacCurb(IA);
  for (int32_t l = 1; l <= g.NW.LinkCount(); ++l) {
    if (IA[size_t(l)] != 0) {
      EXPECT_NE(g.NW.OneWayCode(l), 0) << "link " << l;
    }
  }
  EXPECT_GT(flagged, 0);
}

class ChecksTest : public AnalysisFixture {};

// The unit square (0,0)-(1,1): links 1..4.
void Square(TTestNetworkWriter& w, uint16_t attr = 0) {
  w.AddLink({{0, 0}, {1, 0}}, attr);
  w.AddLink({{1, 0}, {1, 1}}, attr);
  w.AddLink({{1, 1}, {0, 1}}, attr);
  w.AddLink({{0, 1}, {0, 0}}, attr);
}

TEST_F(ChecksTest, SubNetExCases) {
  struct Case {
    const char* name;
    TBuild build;
    std::vector<int32_t> flagged;
  };
  const Case cases[] = {
      {"a two-way network",
       [](TTestNetworkWriter& w) {
         TwoSquares(w);
         w.AddLink({{1, 0}, {3, 0}});
       },
       {}},
      {"a one-way link in a dead-end tree", [](TTestNetworkWriter& w) {
         Square(w);
         w.AddLink({{1, 1}, {1, 2}}, cAttrOnewayFromTo);
       },
       {5}},
      // Link 5 leads to a triangle with no way back.
      {"a one-way link into a pocket",
       [](TTestNetworkWriter& w) {
         Square(w);
         w.AddLink({{1, 0}, {2, 0}}, cAttrOnewayFromTo);
         w.AddLink({{2, 0}, {2, 1}});
         w.AddLink({{2, 1}, {3, 0.5}});
         w.AddLink({{3, 0.5}, {2, 0}});
       },
       {5}},
      {"the same against its digitising direction",
       [](TTestNetworkWriter& w) {
         Square(w);
         w.AddLink({{2, 0}, {1, 0}}, cAttrOnewayToFrom);
         w.AddLink({{2, 0}, {2, 1}});
         w.AddLink({{2, 1}, {3, 0.5}});
         w.AddLink({{3, 0.5}, {2, 0}});
       },
       {5}},
      {"a one-way ring", [](TTestNetworkWriter& w) { Square(w, cAttrOnewayFromTo); }, {}},
      {"closed and zero-length links",
       [](TTestNetworkWriter& w) {
         Square(w);
         w.AddRejected();
         w.AddLink({{0, 0}, {1, 1}}, cAttrOneway);
       },
       {}},
  };
  for (const Case& k : cases) {
    Open(k.build);
    for (const bool turnmode : {false, true}) {
      TRouteCalc c(*nw, turnmode);
      TIntegerArray IA;
      const int32_t result = c.SubNetEx(IA);
      EXPECT_EQ(Flagged(IA), k.flagged) << k.name << turnmode;
      EXPECT_EQ(result, int32_t(k.flagged.size())) << k.name << turnmode;
      EXPECT_EQ(IA.size(), size_t(nw->LinkCount()) + 1);
    }
  }
}

TEST_F(ChecksTest, CulDeSacCurbCases) {
  struct Case {
    const char* name;
    TBuild build;
    std::vector<int32_t> node, turn;  // flagged in node and turn mode
    std::vector<std::pair<int32_t, int32_t>> prohibited;  // turns, in force with turn costs
  };
  const Case cases[] = {
      {"a block to drive around", [](TTestNetworkWriter& w) { Square(w); }, {}, {}, {}},
      {"a one-way block", [](TTestNetworkWriter& w) { Square(w, cAttrOnewayFromTo); }, {}, {}, {}},
      // Links 5 and 6 lead from the square to (2,0), where turning from one
      // into the other is prohibited: in turn mode the vehicle can only turn
      // back on the link it came by. Node mode has no U-turn rule (nor turn
      // rules) and never flags a two-way link.
      {"a dead-end pocket",
       [](TTestNetworkWriter& w) {
         Square(w);
         w.AddLink({{1, 0}, {2, 0}});
         w.AddLink({{2, 0}, {1, 1}});
       },
       {}, {5, 6}, {{5, 6}, {6, 5}}},
      {"closed, zero-length and cul-de-sac links",
       [](TTestNetworkWriter& w) {
         Square(w);
         w.AddLink({{0, 0}, {1, 1}}, cAttrOneway);
         w.AddRejected();
         w.AddLink({{1, 1}, {1, 2}});
         w.AddLink({{1, 2}, {1, 3}}, cAttrOnewayToFrom);
       },
       {}, {}, {}},
  };
  for (const Case& k : cases) {
    Open(k.build);
    nw->CreateArrayTurn(1);
    for (const auto& [from, to] : k.prohibited) nw->TurnRestriction(0, from, to, -1);
    for (const bool turnmode : {false, true}) {
      TRouteCalc c(*nw, turnmode);
      c.SetTurn(0);
      c.SetShortest(true);
      const TCalcSettings before = c.Settings();
      TIntegerArray IA;
      const int32_t result = c.CulDeSacCurb(IA);
      const std::vector<int32_t>& expected = turnmode ? k.turn : k.node;
      EXPECT_EQ(Flagged(IA), expected) << k.name << turnmode;
      EXPECT_EQ(result, int32_t(expected.size())) << k.name << turnmode;
      EXPECT_TRUE(SameSettings(c.Settings(), before));
    }
  }
}

// A handler that raises half-way: the limits come back and IA is left
// empty; a closed network is refused before IA is filled.
TEST_F(ChecksTest, FailedRunsLeaveSettingsAndIA) {
  Open(
      [](TTestNetworkWriter& w) {
        TwoSquares(w);
        w.AddLink({{1, 0}, {3, 0}}, cAttrOnewayFromTo);
      },
      {{9, 5}});
  using TRun = std::function<int32_t(TRouteCalc&, TIntegerArray&)>;
  const std::pair<const char*, TRun> runs[] = {
      {"SubNetEx", [](TRouteCalc& c, TIntegerArray& IA) { return c.SubNetEx(IA); }},
      {"CulDeSacCurb", [](TRouteCalc& c, TIntegerArray& IA) { return c.CulDeSacCurb(IA); }},
  };
  for (const auto& [name, run] : runs) {
    for (const bool turnmode : {false, true}) {
      TRouteCalc c(*nw, turnmode);
      c.SetLimit(1, 10);
      const TCalcSettings before = c.Settings();
      c.SetOnProgress([](TObject*, int32_t p, bool&) {
        if (p > 30) throw Exception("stop");
      });
      TIntegerArray IA{1, 2, 3};
      EXPECT_EQ(MessageOf([&] { run(c, IA); }), "stop") << name << turnmode;
      EXPECT_TRUE(IA.empty()) << name;
      EXPECT_TRUE(SameSettings(c.Settings(), before)) << name << turnmode;
      EXPECT_FALSE(c.LimitOK(9)) << name << turnmode;
    }
  }
  nw->Close();
  for (const auto& [name, run] : runs) {
    TRouteCalc c(*nw, false);
    TIntegerArray IA{1};
    EXPECT_EQ(MessageOf([&] { run(c, IA); }), "Network is not open") << name;
    EXPECT_TRUE(IA.empty()) << name;
  }
}

}  // namespace
