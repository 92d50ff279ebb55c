// The network analyses of TCalc: components against Boost Graph's connected
// components on generated networks in both modes, the end of every
// turn-mode component run (skipped links, a cancelled calculator), the
// limit components around a blocked bridge, the settings put back after a
// run that fails half-way, the weighted centre against the reference trees,
// the hand-made edge cases as a table and the Tree layer read back through
// GDAL.
#include <gtest/gtest.h>

#include <boost/graph/adjacency_list.hpp>
#include <boost/graph/connected_components.hpp>

#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "foundation/kovra_random.h"
#include "network/kovra_network.h"
#include "routing/kovra_calc.h"
#include "routing/support/bgl_oracle.h"
#include "routing/support/netgen.h"
#include "routing/support/netgen_test.h"
#include "support/gdal_readback.h"
#include "support/test_raises.h"
#include "analysis_fixture.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

using TUndirected = boost::adjacency_list<boost::vecS, boost::vecS, boost::undirectedS>;

// BGL component per node of the undirected graph of the links of non-zero
// length (vertex 0 unused, its own component).
std::vector<int> BglComponents(const TNetwork& nw) {
  TUndirected g(size_t(nw.NodeCount()) + 1);
  for (int32_t l = 1; l <= nw.LinkCount(); ++l)
    if (nw.Lengths()[size_t(l)] != 0) boost::add_edge(nw.Fromnodes()[size_t(l)], nw.Tonodes()[size_t(l)], g);
  std::vector<int> comp(size_t(nw.NodeCount()) + 1);
  boost::connected_components(g, comp.data());
  return comp;
}

// The partitions of the valid links by IA and by the BGL components are the
// same up to relabelling.
void ExpectSamePartition(const TNetwork& nw, const TIntegerArray& IA, const std::vector<int>& comp,
                         const std::string& what) {
  std::map<int32_t, int> toBgl;
  std::map<int, int32_t> toIA;
  for (int32_t l = 1; l <= nw.LinkCount(); ++l) {
    if (nw.Lengths()[size_t(l)] == 0) {
      EXPECT_EQ(IA[size_t(l)], 0) << what << " zero-length link " << l;
      continue;
    }
    const int c = comp[size_t(nw.Fromnodes()[size_t(l)])];
    const auto [a, newA] = toBgl.emplace(IA[size_t(l)], c);
    const auto [b, newB] = toIA.emplace(c, IA[size_t(l)]);
    ASSERT_EQ(a->second, c) << what << " link " << l << " joins two components";
    ASSERT_EQ(b->second, IA[size_t(l)]) << what << " link " << l << " splits a component";
  }
}

TEST(SubNetOracle, ComponentsEqualConnectedComponents) {
  for (const uint64_t seed : {3u, 17u, 29u}) {
    TNetGenOptions o;
    o.Seed = seed;
    o.Nodes = 900;
    o.Drop = 0.35;  // several components
    TGeneratedNetwork g(o);
    const TNetwork& nw = g.NW;
    const std::vector<int> comp = BglComponents(nw);
    int highest = 0;
    for (int32_t l = 1; l <= nw.LinkCount(); ++l)
      if (nw.Lengths()[size_t(l)] != 0) highest = std::max(highest, comp[size_t(nw.Fromnodes()[size_t(l)])]);
    for (const bool turnmode : {false, true}) {
      const std::string what = "seed " + std::to_string(seed) + (turnmode ? " turn" : " node");
      TCalc c(g.NW, turnmode);
      // Changed for the run and put back.
      c.SetLimit(1, 200);
      const TCalcSettings before = c.Settings();
      TIntegerArray IA{7, 7};
      const int32_t result = c.SubNet(IA);
      EXPECT_TRUE(c.Settings() == before) << what;
      ASSERT_EQ(IA.size(), size_t(nw.LinkCount()) + 1) << what;
      ExpectSamePartition(nw, IA, comp, what);
      std::map<int, int> components;
      for (int32_t l = 1; l <= nw.LinkCount(); ++l)
        if (nw.Lengths()[size_t(l)] != 0) components[comp[size_t(nw.Fromnodes()[size_t(l)])]] = 1;
      EXPECT_EQ(result, int32_t(components.size()) - 1) << what;
      EXPECT_GE(result, 1) << what << ": the case should be split";
      // Component 0 holds node 1's links.
      for (const int32_t e : nw.Adjacent(1)) EXPECT_EQ(IA[size_t(std::abs(e))], 0) << what;
      EXPECT_EQ(c.SubNetSimple(), result > 0) << what;
      EXPECT_TRUE(c.Settings() == before) << what;
      (void)highest;
    }
  }
}

// Turn mode numbers a link only when a tree reaches it; a tree from a
// skipped link reaches nothing, and a cancelled calculator stops every tree
// at once. Each run must still end (CTest's timeout turns a hang into a
// failure) and give every valid link a number.
TEST(SubNetOracle, TurnModeRunsEnd) {
  TNetGenOptions o;
  o.Seed = 11;
  o.Nodes = 100;
  o.Drop = 0;
  o.DeadEnds = 0;
  TGeneratedNetwork g(o);
  const TNetwork& nw = g.NW;
  const int32_t skipped = nw.LinkCount() / 2;
  TBitArray skip(int64_t(nw.LinkCount()) + 1);
  skip.SetAllFalse();
  skip.SetBit2(skipped, true);
  struct Case {
    const char* name;
    bool skip, cancel;
  };
  for (const Case& k : {Case{"plain", false, false}, Case{"skipped link", true, false}, Case{"cancelled", false, true}}) {
    for (const bool turnmode : {false, true}) {
      TCalc c(g.NW, turnmode);
      if (k.skip) c.SetSkipLinkList(&skip);
      if (k.cancel) {
        c.SetOnProgress([](TObject*, int32_t, bool& cancel) { cancel = true; });
        c.ProgressExecuteZero();
        ASSERT_TRUE(c.Cancelled());
      }
      TIntegerArray IA;
      const int32_t result = c.SubNet(IA);
      const std::string what = std::string(k.name) + (turnmode ? " turn" : " node");
      ASSERT_EQ(IA.size(), size_t(nw.LinkCount()) + 1) << what;
      for (int32_t l = 1; l <= nw.LinkCount(); ++l) {
        EXPECT_GE(IA[size_t(l)], 0) << what << " link " << l;
        EXPECT_LE(IA[size_t(l)], result) << what << " link " << l;
      }
      EXPECT_LE(result, nw.LinkCount()) << what;
      if (k.name == std::string("plain")) {
        EXPECT_EQ(result, 0) << what;
      } else if (k.skip) {
        // No tree enters the skipped link: in turn mode it is a component
        // of its own; in node mode it takes its from-node's number.
        EXPECT_EQ(result, turnmode ? 1 : 0) << what;
        EXPECT_EQ(IA[size_t(skipped)], turnmode ? 1 : 0) << what;
      }
      if (!k.cancel) {
        EXPECT_EQ(c.SubNetSimple(), k.skip && turnmode) << what;
      }
    }
  }
}

class AnalysisTest : public AnalysisFixture {};

// Two squares joined by link 9 from (1,0) to (3,0); the limit blocks it.
TEST_F(AnalysisTest, SubNetLimitsGivesABlockedBridgeItsOwnNumber) {
  Open(
      [](TTestNetworkWriter& w) {
        TwoSquares(w);
        w.AddLink({{1, 0}, {3, 0}});
      },
      {{9, 5}});
  for (const bool turnmode : {false, true}) {
    TCalc c(*nw, turnmode);
    c.SetLimit(1, 10);
    const TCalcSettings before = c.Settings();
    TIntegerArray IA;
    EXPECT_EQ(c.SubNetLimits(IA), 2) << turnmode;
    // Node 1 is (1,0): degree 3, first by coordinates.
    EXPECT_EQ(IA, (TIntegerArray{0, 0, 0, 0, 0, 1, 1, 1, 1, 2})) << turnmode;
    EXPECT_TRUE(c.Settings() == before);
    // Without the limit the bridge joins both squares.
    EXPECT_EQ(c.SubNet(IA), 0) << turnmode;
    c.SetLimit(1, 0);
    EXPECT_EQ(c.SubNetLimits(IA), 0) << turnmode;
  }
}

// A run that fails half-way puts back every setting it changed.
TEST_F(AnalysisTest, SettingsComeBackWhenARunFails) {
  Open(
      [](TTestNetworkWriter& w) {
        TwoSquares(w);
        w.AddLink({{1, 0}, {3, 0}});
      },
      {{9, 5}});
  nw->CreateArrayCost(1);
  struct Case {
    const char* name;
    std::function<void(TCalc&)> run;
  };
  const Case cases[] = {
      {"SubNetSimple", [](TCalc& c) { c.SubNetSimple(); }},
      {"SubNet",
       [](TCalc& c) {
         TIntegerArray IA{1, 2};
         try {
           c.SubNet(IA);
         } catch (...) {
           EXPECT_TRUE(IA.empty());
           throw;
         }
       }},
      {"SubNetLimits",
       [](TCalc& c) {
         TIntegerArray IA{1, 2};
         try {
           c.SubNetLimits(IA);
         } catch (...) {
           EXPECT_TRUE(IA.empty());
           throw;
         }
       }},
  };
  for (const Case& k : cases) {
    for (const bool turnmode : {false, true}) {
      TCalc c(*nw, turnmode);
      c.SetLimit(1, 10);
      c.SetCost(0);
      c.SetCheapest(false);
      c.SetIgnoreOneway(false);
      const TCalcSettings before = c.Settings();
      // The network is connected: one tree per run.
      c.SetAnalysisTreeHookForTest([] { throw Exception("hook"); });
      EXPECT_EQ(MessageOf([&] { k.run(c); }), "hook") << k.name << turnmode;
      EXPECT_TRUE(c.Settings() == before) << k.name << turnmode;
      // The limit test is prepared for the restored values: a vehicle of 10
      // is refused on a link of value 5.
      EXPECT_FALSE(c.LimitOK(9)) << k.name << turnmode;
      EXPECT_TRUE(c.LimitOK(1)) << k.name << turnmode;
    }
  }
}

TEST_F(AnalysisTest, BadInput) {
  Open([](TTestNetworkWriter& w) { TwoSquares(w); });
  TCalc node(*nw, false), turn(*nw, true);
  TIntegerArray IA{1};
  TBitArray BA(3);
  EXPECT_EQ(MessageOf([&] { turn.UnusedLinks(BA); }), "UnusedLinks is not possible in turnmode");
  EXPECT_EQ(BA.Size(), 3);
  EXPECT_EQ(MessageOf([&] { node.CenterNode(TCostArray(size_t(nw->NodeCount()), 1)); }),
            "Length of nodeweights must match TNetwork.NodeCount+1");
  TIntegerList empty;
  EXPECT_EQ(MessageOf([&] { node.Tree(dir.string() + "/t.mif", gfMIF, 1, empty); }), "Nodelist is empty");
  nw->Close();
  for (TCalc* c : {&node, &turn}) {
    EXPECT_EQ(MessageOf([&] { c->SubNet(IA); }), "Network is not open");
    EXPECT_TRUE(IA.empty());
    IA = {1};
    EXPECT_EQ(MessageOf([&] { c->SubNetLimits(IA); }), "Network is not open");
    EXPECT_TRUE(IA.empty());
    EXPECT_EQ(MessageOf([&] { c->SubNetSimple(); }), "Network is not open");
    EXPECT_EQ(MessageOf([&] { c->CenterLocation1(); }), "Network is not open");
  }
}

TEST_F(AnalysisTest, LoopLinksAreRefused) {
  Open([](TTestNetworkWriter& w) {
    w.AddLink({{0, 0}, {1, 0}});
    w.AddLink({{1, 0}, {2, 1}, {2, 0}, {1, 0}});
  });
  TCalc c(*nw, false);
  TIntegerArray IA{1};
  EXPECT_EQ(MessageOf([&] { c.SubNet(IA); }), "Loop links are not allowed in the network");
  EXPECT_TRUE(IA.empty());
  TBitArray BA(1);
  EXPECT_EQ(MessageOf([&] { c.UnusedLinks(BA); }), "Loop links are not allowed in the network");
}

// --- Edge cases on hand-made networks ---------------------------------------------

TEST_F(AnalysisTest, ComponentCases) {
  struct Case {
    const char* name;
    TBuild build;
    int32_t result;
    TIntegerArray IA;
    bool simple;  // SubNetSimple in both modes
  };
  const Case cases[] = {
      {"a connected square", [](TTestNetworkWriter& w) { TwoSquares(w); w.AddLink({{1, 0}, {3, 0}}); }, 0,
       {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, false},
      // Node 1 is a corner of the square with the spur: degree 3.
      {"two separate systems",
       [](TTestNetworkWriter& w) {
         TwoSquares(w);
         w.AddLink({{4, 1}, {5, 2}});
       },
       1, {0, 1, 1, 1, 1, 0, 0, 0, 0, 0}, true},
      {"a zero-length link keeps 0",
       [](TTestNetworkWriter& w) {
         TwoSquares(w);
         w.AddRejected();
         w.AddLink({{4, 1}, {5, 2}});
       },
       1, {0, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0}, true},
  };
  for (const Case& k : cases) {
    Open(k.build);
    for (const bool turnmode : {false, true}) {
      TCalc c(*nw, turnmode);
      TIntegerArray IA;
      EXPECT_EQ(c.SubNet(IA), k.result) << k.name << turnmode;
      EXPECT_EQ(IA, k.IA) << k.name << turnmode;
      EXPECT_EQ(c.SubNetSimple(), k.simple) << k.name << turnmode;
    }
  }
}

// Turn mode: link 1 rejected (length 0) must not make a connected network
// read as split, and a link barred in one direction by a one-way rule is
// still reached (SubNetSimple sets one-way rules aside).
TEST_F(AnalysisTest, SubNetSimpleTurnModeStartsOnAValidLink) {
  Open([](TTestNetworkWriter& w) {
    w.AddRejected();
    TwoSquares(w);
    w.AddLink({{1, 0}, {3, 0}});
  });
  TCalc c(*nw, true);
  EXPECT_FALSE(c.SubNetSimple());
}

// Turn mode with prohibited turns (which still count): at (2,0) neither of
// links 5 and 6 may turn into the other, so each is reached in one direction
// only. One direction is enough to be connected.
TEST_F(AnalysisTest, SubNetSimpleCountsALinkReachedOneWay) {
  Open([](TTestNetworkWriter& w) {
    w.AddLink({{0, 0}, {1, 0}});
    w.AddLink({{1, 0}, {1, 1}});
    w.AddLink({{1, 1}, {0, 1}});
    w.AddLink({{0, 1}, {0, 0}});
    w.AddLink({{1, 0}, {2, 0}});
    w.AddLink({{2, 0}, {1, 1}});
  });
  nw->CreateArrayTurn(1);
  nw->TurnRestriction(0, 5, 6, -1);
  nw->TurnRestriction(0, 6, 5, -1);
  TCalc c(*nw, true);
  c.SetTurn(0);
  c.SetShortest(true);
  const TCalcSettings before = c.Settings();
  EXPECT_FALSE(c.SubNetSimple());
  EXPECT_TRUE(c.Settings() == before);
  TIntegerArray IA;
  EXPECT_EQ(c.SubNet(IA), 0);
}

TEST_F(AnalysisTest, UnusedLinks) {
  struct Case {
    const char* name;
    TBuild build;
    std::vector<int32_t> unused;
  };
  const Case cases[] = {
      // Link 3 (0,0)-(2,0) bent far out is longer than links 1 and 2 around.
      {"a detour longer than the way round",
       [](TTestNetworkWriter& w) {
         w.AddLink({{0, 0}, {1, 0}});
         w.AddLink({{1, 0}, {2, 0}});
         w.AddLink({{0, 0}, {1, 3}, {2, 0}});
       },
       {3}},
      // The tree from (0,0) reaches (2,0) over links 2 and 3 and leaves
      // links 1 and 5 set; the tree from (2,0), the from-node of link 5,
      // comes back over link 1 and clears both (a parallel counts as used).
      {"a link used only by a later tree",
       [](TTestNetworkWriter& w) {
         w.AddLink({{0, 0}, {1, -2}, {2, 0}});
         w.AddLink({{0, 0}, {1, 0.1}}, cAttrOnewayFromTo);
         w.AddLink({{1, 0.1}, {2, 0}}, cAttrOnewayFromTo);
         w.AddRejected();
         w.AddLink({{2, 0}, {1, 3}, {0, 0}}, cAttrOnewayFromTo);
       },
       {}},
      {"a tree",
       [](TTestNetworkWriter& w) {
         w.AddLink({{0, 0}, {1, 0}});
         w.AddLink({{1, 0}, {2, 0}});
         w.AddLink({{1, 0}, {1, 1}});
         w.AddRejected();
       },
       {}},
  };
  for (const Case& k : cases) {
    Open(k.build);
    TCalc c(*nw, false);
    c.SetMaxCost(5);
    TBitArray BA;
    c.UnusedLinks(BA);
    std::vector<int32_t> unused;
    for (int32_t l = 0; l < BA.Size(); ++l)
      if (BA.GetBit(l)) unused.push_back(l);
    EXPECT_EQ(unused, k.unused) << k.name;
    EXPECT_EQ(BA.Size(), nw->LinkCount() + 1);
    EXPECT_EQ(c.MaxCost(), 0) << "left at 0, as documented";
  }
}

// A straight road of three links of 1 km: (0,0) .. (3,0).
void ThreeLinkRoad(TTestNetworkWriter& w) {
  w.AddLink({{0, 0}, {1, 0}});
  w.AddLink({{1, 0}, {2, 0}});
  w.AddLink({{2, 0}, {3, 0}});
}

TEST_F(AnalysisTest, CenterCases) {
  Open(ThreeLinkRoad);
  const int32_t a = NodeAt(0, 0), b = NodeAt(1, 0), cc = NodeAt(2, 0), d = NodeAt(3, 0);
  for (const bool turnmode : {false, true}) {
    TCalc c(*nw, turnmode);
    const TLocation mid = c.CenterLocation1();
    EXPECT_EQ(mid.link, 2) << turnmode;
    EXPECT_NEAR(mid.percent, 0.5, 1e-6) << turnmode;
    TCostArray weights(size_t(nw->NodeCount()) + 1, 0);
    // One weighted node: its own sum is 0, so the nearest other node wins.
    weights[size_t(a)] = 2;
    EXPECT_EQ(c.CenterNode(weights), b) << turnmode;
    weights[size_t(d)] = 2;
    // b and c tie at 2 x 1 + 2 x 2: the lower id wins.
    EXPECT_EQ(c.CenterNode(weights), std::min(b, cc)) << turnmode;
    const TCostArray none(size_t(nw->NodeCount()) + 1, 0);
    EXPECT_EQ(c.CenterNode(none), 0) << turnmode;
  }
}

// No node at a positive finite cost: no route to halve. Node 1, the hub,
// has only links that lead into it.
TEST_F(AnalysisTest, CenterLocation1WithoutALongRoute) {
  Open([](TTestNetworkWriter& w) {
    w.AddLink({{1, 0}, {0, 0}}, cAttrOnewayFromTo);
    w.AddLink({{0, 1}, {0, 0}}, cAttrOnewayFromTo);
    w.AddLink({{-1, 0}, {0, 0}}, cAttrOnewayFromTo);
  });
  ASSERT_EQ(NodeAt(0, 0), 1);
  for (const bool turnmode : {false, true}) {
    TCalc c(*nw, turnmode);
    const TLocation mid = c.CenterLocation1();
    const double percent = mid.percent;  // TLocation is packed: no reference to it
    EXPECT_EQ(mid.link, 0) << turnmode;
    EXPECT_EQ(percent, 0) << turnmode;
  }
}

TEST(CenterNodeOracle, SumsOfTheReferenceTrees) {
  TNetGenOptions o;
  o.Seed = 21;
  o.Nodes = 150;
  o.OneWay = 0.3;
  TGeneratedNetwork g(o);
  const TNetwork& nw = g.NW;
  TBglOracle oracle(nw, TOracleOptions{});
  TCostArray weights(size_t(nw.NodeCount()) + 1, 0);
  TRandom r;
  r.SetSeed(99);
  for (int k = 0; k < 12; ++k) weights[size_t(1 + r.NextInt(nw.NodeCount()))] = float(1 + r.NextInt(5));
  TCostArray sum(size_t(nw.NodeCount()) + 1, 0);
  for (int32_t i = 1; i <= nw.NodeCount(); ++i) {
    if (!(weights[size_t(i)] > 0)) continue;
    const std::vector<float> t = oracle.NodeTree(i);
    for (int32_t j = 1; j <= nw.NodeCount(); ++j)
      if (t[size_t(j)] < 1e35f) sum[size_t(j)] = sum[size_t(j)] + weights[size_t(i)] * t[size_t(j)];
  }
  int32_t expected = 0;
  float best = cInfinity;
  for (int32_t j = 1; j <= nw.NodeCount(); ++j)
    if (sum[size_t(j)] != 0 && sum[size_t(j)] < best) expected = j, best = sum[size_t(j)];
  TCalc c(g.NW, false);
  EXPECT_EQ(c.CenterNode(weights), expected);
  EXPECT_NE(expected, 0);
}

// --- Tree ---------------------------------------------------------------------------

// The routes from node a to the listed nodes; an unreachable node adds
// nothing and the layer is written all the same. Link ids above 32767 come
// back exactly, LinkID being a full integer column: N(11) in DBF, which OGR
// reads as a 64-bit integer.
TEST_F(AnalysisTest, TreeLayerReadsBack) {
  constexpr int32_t rejected = 40000;
  CoordSys = "CoordSys NonEarth Units \"km\" Bounds (-100, -100) (100, 100)";
  Open([](TTestNetworkWriter& w) {
    for (int32_t i = 0; i < rejected; ++i) w.AddRejected();
    ThreeLinkRoad(w);
    w.AddLink({{1, 0}, {1, 1}});
    w.AddLink({{7, 7}, {8, 7}});  // unreachable
  });
  const int32_t a = NodeAt(0, 0);
  TIntegerList NL;
  NL.Add(NodeAt(2, 0));
  NL.Add(NodeAt(1, 1));
  NL.Add(NodeAt(8, 7));
  struct Case {
    TGISFormat GF;
    const char* file;  // as written; read back with the extension
    const char* ext;
    const char* type;
    int32_t width;
  };
  for (const Case& k : {Case{gfMIF, "tree_mif", ".mif", "Integer", 0}, Case{gfMITAB, "tree_tab", ".tab", "Integer", 0},
                        Case{gfSHP, "tree_shp", ".shp", "Integer64", 11}}) {
    TCalc c(*nw, false);
    const std::string path = dir.string() + "/" + k.file + k.ext;
    c.Tree(dir.string() + "/" + k.file, k.GF, a, NL);
    const TOgrLayer layer = ReadOgrLayer(path);
    ASSERT_TRUE(layer.Opened) << k.file;
    ASSERT_EQ(layer.Fields.size(), 1u);
    EXPECT_EQ(layer.Fields[0].Name, "LinkID");
    EXPECT_EQ(layer.Fields[0].Type, k.type) << k.file;
    if (k.width != 0) {
      EXPECT_EQ(layer.Fields[0].Width, k.width) << k.file;
    }
    std::vector<std::string> ids;
    for (size_t f = 0; f < layer.Features.size(); ++f) ids.push_back(layer.Value(f, "LinkID"));
    EXPECT_EQ(ids, (std::vector<std::string>{"40001", "40002", "40004"})) << k.file;
  }
  // Nothing to route to but unreachable nodes: an empty layer stays.
  TIntegerList far;
  far.Add(NodeAt(8, 7));
  TCalc c(*nw, false);
  c.Tree(dir.string() + "/empty", gfMIF, a, far);
  const TOgrLayer layer = ReadOgrLayer(dir.string() + "/empty.mif");
  EXPECT_TRUE(layer.Opened);
  EXPECT_EQ(layer.FeatureCount, 0);
}

}  // namespace
