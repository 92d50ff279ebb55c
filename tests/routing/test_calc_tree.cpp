// Trees from a node: the labels against the Boost Graph oracle, the stop
// modes, the readers and route extraction, on generated networks and on
// hand-made fixtures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "network/kovra_network.h"
#include "network/kovra_turn.h"
#include "network/support/network_writer.h"
#include "routing/kovra_calc.h"
#include "routing/support/bgl_oracle.h"
#include "routing/support/netgen.h"
#include "routing/support/netgen_test.h"
#include "routing/support/search_case.h"
#include "support/temp_dir_test.h"
#include "support/test_raises.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

// A node list written in place (TIntegerList itself does not move).
struct ListOf {
  TIntegerList list;
  ListOf(std::initializer_list<int32_t> v) {
    for (int32_t x : v) list.Add(x);
  }
  operator const TIntegerList&() const { return list; }
};

bool NearlyEqual(double a, double b) { return std::fabs(a - b) <= 1e-5 * std::max(1.0, std::fabs(b)); }

// --- Against the oracle -------------------------------------------------------

class TreeOracleTest : public TGenNetworkTest {
protected:
  void SetUp() override {
    TNetGenOptions o;
    o.Seed = 31;
    o.Nodes = 1500 * RoutingScale();
    o.Restrictions2 = 300;
    o.Areas = 4;
    o.LimitShare = 0.15;
    Generate(o);
    skip = EveryNth(nw.LinkCount(), 3, 11);
  }

  std::vector<TSearchCase> Cases() const {
    return FilterCases(false);
  }

  TOracleOptions Configure(TCalc& c, const TSearchCase& t, int32_t origin, bool turnCosts) {
    TOracleOptions o = ApplySearchCase(c, t, turnCosts, skip.get());
    if (t.noDriveThrough) {
      o.NdtMode = 2;
      o.AllowedArea = nw.NodeArea(origin);
    }
    return o;
  }

  // Origins spread over the network, a few inside areas.
  std::vector<int32_t> Origins() const {
    std::vector<int32_t> v;
    for (int32_t k = 0; k < 3; ++k) v.push_back(1 + int32_t((int64_t(nw.NodeCount()) * (2 * k + 1)) / 7));
    for (int32_t i = 0; i < nw.AreaList().Count() && v.size() < 5; i += 7)
      v.push_back(nw.Fromnodes()[size_t(nw.AreaList().Item(i).link)]);
    return v;
  }

  std::unique_ptr<TBitArray> skip;
};

// Node mode: every label equals BGL's distance bit for bit; a cost limit
// reaches exactly the nodes within it; every route prices to its label.
TEST_F(TreeOracleTest, NodeModeTreesEqualTheOracle) {
  for (const TSearchCase& t : Cases()) {
    int64_t reachedAll = 0;
    for (const int32_t s : Origins()) {
      SCOPED_TRACE(Describe(t) + " from " + std::to_string(s));
      TCalc c(nw, false);
      const TOracleOptions o = Configure(c, t, s, false);
      const auto d = TBglOracle(nw, o).NodeTree(s);
      c.IsoCost(s);
      int32_t reached = 0;
      for (int32_t v = 1; v <= nw.NodeCount(); ++v) {
        ASSERT_EQ(c.NodeCost(v), d[size_t(v)]) << "node " << v;
        reached += d[size_t(v)] < cInfinity;
      }
      reachedAll += reached;
      // Routes: priced under the criterion they equal the label; consecutive
      // links meet at the listed nodes.
      for (int32_t v = 1; v <= nw.NodeCount(); v += 37) {
        const TRoute r = c.RouteFind(v);
        if (d[size_t(v)] >= cInfinity) {
          EXPECT_TRUE(r.links.empty() && r.nodes.empty());
          continue;
        }
        ASSERT_EQ(r.nodes.size(), r.links.size() + 1);
        EXPECT_EQ(r.nodes.front(), s);
        EXPECT_EQ(r.nodes.back(), v);
        for (size_t i = 0; i < r.links.size(); ++i) {
          const int32_t L = std::abs(r.links[i]);
          const int32_t a = r.links[i] > 0 ? nw.Fromnodes()[size_t(L)] : nw.Tonodes()[size_t(L)];
          const int32_t b = r.links[i] > 0 ? nw.Tonodes()[size_t(L)] : nw.Fromnodes()[size_t(L)];
          EXPECT_EQ(a, r.nodes[i]);
          EXPECT_EQ(b, r.nodes[i + 1]);
        }
        const double price = t.rc == rcDist ? nw.RouteLength(r) : t.rc == rcTime ? c.RouteTime(r) : c.RouteCost(r);
        EXPECT_TRUE(NearlyEqual(price, c.NodeCost(v))) << "node " << v << ": " << price << " vs " << c.NodeCost(v);
      }
      // A cost limit: reached exactly when BGL's distance is within it.
      float limit = 0;
      for (int32_t v = 1; v <= nw.NodeCount(); ++v)
        if (d[size_t(v)] < cInfinity) limit = std::max(limit, d[size_t(v)]);
      limit *= 0.4f;
      c.SetMaxCost(limit);
      c.IsoCost(s);
      for (int32_t v = 1; v <= nw.NodeCount(); ++v)
        ASSERT_EQ(c.NodeCost(v) < cInfinity, d[size_t(v)] <= limit) << "node " << v;
    }
    EXPECT_GT(reachedAll, nw.NodeCount() / 2) << Describe(t);
  }
}

// Turn mode against the link-state graph: both state labels of every link,
// NodeCost as the cheapest arrival, with 2-link restrictions, turn costs and
// the U-turn rules.
TEST_F(TreeOracleTest, TurnModeTreesEqualTheOracle) {
  for (const TSearchCase& t : Cases()) {
    for (const bool uturn : {false, true}) {
      const int32_t s = Origins()[uturn ? 1 : 0];
      SCOPED_TRACE(Describe(t) + (uturn ? " u-turns" : "") + " from " + std::to_string(s));
      TCalc c(nw, true);
      TOracleOptions o = Configure(c, t, s, true);
      c.SetUTurnAllowed(uturn);
      o.UTurnAllowed = uturn;
      const auto d = TBglOracle(nw, o).StateTree(s);
      c.IsoCost(s);
      for (int32_t L = 1; L <= nw.LinkCount(); ++L) {
        ASSERT_EQ(c.cost1(L), d[size_t(2 * L)]) << "link " << L;
        ASSERT_EQ(c.cost2(L), d[size_t(2 * L + 1)]) << "link " << L;
      }
      for (int32_t v = 1; v <= nw.NodeCount(); ++v) {
        float best = cInfinity;
        for (const int32_t e : nw.Adjacent(v)) {
          const int32_t L = std::abs(e);
          if (nw.Tonodes()[size_t(L)] == v) best = std::min(best, d[size_t(2 * L)]);
          if (nw.Fromnodes()[size_t(L)] == v) best = std::min(best, d[size_t(2 * L + 1)]);
        }
        ASSERT_EQ(c.NodeCost(v), v == s ? 0.0f : best) << "node " << v;
      }
      // Routes without turn costs price to the label.
      if (t.rc != rcDist) continue;
      for (int32_t v = 1; v <= nw.NodeCount(); v += 41) {
        if (v == s || c.NodeCost(v) >= cInfinity) continue;
        const TRoute r = c.RouteFind(v);
        ASSERT_EQ(r.nodes.size(), r.links.size() + 1);
        EXPECT_EQ(r.nodes.front(), s);
        EXPECT_EQ(r.nodes.back(), v);
        EXPECT_TRUE(NearlyEqual(nw.RouteLength(r), c.NodeCost(v))) << "node " << v;
      }
    }
  }
}

// The target lists: the costs of the targets equal the oracle's, and the
// N cheapest come out in cost order.
TEST_F(TreeOracleTest, TargetListsMatchTheOracle) {
  const int32_t s = Origins()[0];
  for (const bool turnmode : {false, true}) {
    SCOPED_TRACE(turnmode);
    TCalc c(nw, turnmode);
    TOracleOptions o;
    const auto d = turnmode ? std::vector<float>() : TBglOracle(nw, o).NodeTree(s);
    TCalc full(nw, turnmode);
    full.IsoCost(s);
    TIntegerList NL;
    for (int32_t v = 5; v <= nw.NodeCount(); v += 97) NL.Add(v);
    c.IsoCostList(s, NL);
    for (int32_t i = 0; i < NL.Count(); ++i) {
      const int32_t v = NL.GetItem(i);
      EXPECT_EQ(c.NodeCost(v), full.NodeCost(v)) << v;
      if (!turnmode) {
        EXPECT_EQ(c.NodeCost(v), d[size_t(v)]) << v;
      }
    }
    TIntegerList IL;
    c.IsoCostListN(s, NL, IL, 5);
    ASSERT_EQ(IL.Count(), 5);
    std::vector<float> all;
    for (int32_t i = 0; i < NL.Count(); ++i) all.push_back(full.NodeCost(NL.GetItem(i)));
    std::sort(all.begin(), all.end());
    for (int32_t i = 0; i < IL.Count(); ++i) EXPECT_EQ(full.NodeCost(NL.GetItem(IL.GetItem(i))), all[size_t(i)]);
    // Nearest: the cheapest target (costs are distinct on this network).
    const int32_t k = c.Nearest(s, NL);
    ASSERT_GE(k, 0);
    EXPECT_EQ(full.NodeCost(NL.GetItem(k)), all[0]);
  }
}

// Stamps: after 1000 mixed searches, and across a generation wrap, a tree's
// labels equal those of a fresh calculator.
TEST_F(TreeOracleTest, LabelsAfterManySearchesEqualAFreshCalculator) {
  for (const bool turnmode : {false, true}) {
    SCOPED_TRACE(turnmode);
    TCalc a(nw, turnmode);
    a.SetGenerationForTest(UINT32_MAX - 400);
    uint64_t r = 12345;
    auto next = [&] {
      r = r * 6364136223846793005ull + 1442695040888963407ull;
      return int32_t((r >> 33) % uint64_t(nw.NodeCount())) + 1;
    };
    const ListOf NL{next(), next(), next()};
    for (int32_t k = 0; k < 1000; ++k) {
      const int32_t s = next();
      switch (k % 5) {
        case 0: a.SetMaxCost(0); a.IsoCost(s); break;
        case 1: a.SetMaxCost(0.3f); a.IsoCost(s); break;
        case 2: a.IsoCostList(s, NL); break;
        case 3: a.Nearest(s, NL); break;
        default: {
          int32_t n, l;
          float cost;
          a.NearestOpen(s, n, l, cost);
        }
      }
    }
    EXPECT_LT(a.Generation(), 1000u);  // it wrapped
    const int32_t s = next();
    a.SetMaxCost(0);
    a.IsoCost(s);
    TCalc b(nw, turnmode);
    b.IsoCost(s);
    if (!turnmode) {
      for (int32_t v = 1; v <= nw.NodeCount(); ++v) {
        ASSERT_EQ(a.cost0(v), b.cost0(v));
        ASSERT_EQ(a.P0array(v), b.P0array(v));
        ASSERT_EQ(a.SettlingLink(v), b.SettlingLink(v));
      }
    } else {
      for (int32_t L = 1; L <= nw.LinkCount(); ++L) {
        ASSERT_EQ(a.cost1(L), b.cost1(L));
        ASSERT_EQ(a.cost2(L), b.cost2(L));
        ASSERT_EQ(a.P1array(L), b.P1array(L));
        ASSERT_EQ(a.P2array(L), b.P2array(L));
      }
    }
  }
}

// --- Hand-made fixtures ---------------------------------------------------------

// In km: A(0,0) -1-> B(1,0) -2-> C(2,0) -7-> H(3,0); 4: B -> (1.5,1) -> C,
// the longer parallel of 2; 6: G(1,-1) -> B one-way; 5: E(5,5) -> F(6,5)
// apart from the rest.
class TreeFixture : public TTempDirTest {
protected:
  TNetwork& Open() {
    TTestNetworkWriter w;
    w.Unit = cuKm;
    w.AddLink({{0, 0}, {1, 0}});
    w.AddLink({{1, 0}, {2, 0}});
    w.AddLink({{5, 5}, {5, 6}});  // 3: apart, a second component's other link
    w.AddLink({{1, 0}, {1.5, 1}, {2, 0}});
    w.AddLink({{5, 5}, {6, 5}});
    w.AddLink({{1, -1}, {1, 0}}, cAttrOnewayFromTo);
    w.AddLink({{2, 0}, {3, 0}});
    w.SetAttribute(1, 0);
    w.SpatialIndex = true;
    w.Write(dir.string() + "/");
    nw.SetDirectory(dir.string() + "/");
    nw.Open(true, false, true, 0);
    A = N(0, 0), B = N(1, 0), C = N(2, 0), E = N(5, 5), G = N(1, -1), H = N(3, 0);
    return nw;
  }
  int32_t N(double x, double y) const {
    for (int32_t n = 1; n <= nw.NodeCount(); ++n)
      if (nw.X()[size_t(n)] == x && nw.Y()[size_t(n)] == y) return n;
    return 0;
  }
  TNetwork nw;
  int32_t A = 0, B = 0, C = 0, E = 0, G = 0, H = 0;
};

TEST_F(TreeFixture, EdgeCases) {
  Open();
  for (const bool turnmode : {false, true}) {
    SCOPED_TRACE(turnmode);
    TCalc c(nw, turnmode);
    // Nearest with the origin in the list: the nearest other target.
    EXPECT_EQ(c.Nearest(A, ListOf{A, C, B}), 2);
    // A repeated target counts once: the tree stops at C, H stays unreached.
    c.IsoCostList(A, ListOf{C, C});
    EXPECT_EQ(c.NodeCost(C), 2.0f);
    EXPECT_EQ(c.NodeCost(H), cInfinity);
    // An unreachable target runs the tree to its end.
    c.IsoCostList(A, ListOf{C, E});
    EXPECT_EQ(c.NodeCost(H), 3.0f);
    EXPECT_EQ(c.NodeCost(E), cInfinity);
    EXPECT_EQ(c.Nearest(A, ListOf{E}), -1);
    // The origin in the list: its cost is 0 either way.
    c.IsoCostList(A, ListOf{A});
    EXPECT_EQ(c.NodeCost(A), 0.0f);
    // N beyond the list.
    TIntegerList IL;
    EXPECT_EQ(MessageOf<EOutOfRange>([&] { c.IsoCostListN(A, ListOf{B, C}, IL, 3); }),
              "N (3) should be between 1 and 2");
    EXPECT_EQ(MessageOf<EOutOfRange>([&] { c.IsoCostListN(A, ListOf{B, C}, IL, 0); }),
              "N (0) should be between 1 and 2");
    c.IsoCostListN(A, ListOf{E, H, B}, IL, 3);  // E unreachable: left out
    EXPECT_EQ(IL.Count(), 2);
    EXPECT_EQ(IL.GetItem(0), 2);
    EXPECT_EQ(IL.GetItem(1), 1);
    // Routes: the origin alone, an unreached node empty, the cheaper parallel.
    c.IsoCost(A);
    TRoute r = c.RouteFind(A);
    EXPECT_EQ(r.nodes, TIntegerArray{A});
    EXPECT_TRUE(r.links.empty());
    r = c.RouteFind(E);
    EXPECT_TRUE(r.nodes.empty() && r.links.empty());
    r = c.RouteFind(H);
    EXPECT_EQ(r.links, (TIntegerArray{1, 2, 7}));
    EXPECT_EQ(r.nodes, (TIntegerArray{A, B, C, H}));
    // LinkCost: one end reached (6 cannot be driven from B to G).
    EXPECT_EQ(c.NodeCost(G), cInfinity);
    if (!turnmode) {
      EXPECT_EQ(c.LinkCost(6), 1.0f);
      EXPECT_EQ(c.LinkCost(5), cInfinity);
      EXPECT_EQ(c.LinkCost(-2), 2.0f);  // both ends reached: the larger
    } else {
      EXPECT_EQ(c.LinkCost(2), 2.0f);
      EXPECT_EQ(c.LinkCost(-6), cInfinity);
    }
  }
}

// Node mode used to choose among parallel links again at extraction, by cost
// alone: with the cheaper one skipped the route would take it anyway.
TEST_F(TreeFixture, RouteUsesOnlyTheLinksTheSearchUsed) {
  Open();
  TBitArray skip(int64_t(nw.LinkCount()) + 1);
  skip.SetBit2(2, true);
  for (const bool turnmode : {false, true}) {
    TCalc c(nw, turnmode);
    c.SetSkipLinkList(&skip);
    c.IsoCost(A);
    const TRoute r = c.RouteFind(C);
    EXPECT_EQ(r.links, (TIntegerArray{1, 4}));
    EXPECT_EQ(nw.RouteLength(r), c.NodeCost(C));
  }
}

TEST_F(TreeFixture, ReadersRefuseWithoutASearch) {
  Open();
  for (const bool turnmode : {false, true}) {
    SCOPED_TRACE(turnmode);
    TCalc c(nw, turnmode);
    EXPECT_EQ(MessageOf([&] { c.NodeCost(A); }), cMsgNoSearch);
    EXPECT_EQ(MessageOf([&] { c.LinkCost(1); }), cMsgNoSearch);
    EXPECT_EQ(MessageOf([&] { c.RouteFind(A); }), cMsgNoSearch);
    c.IsoCost(A);
    EXPECT_EQ(c.NodeCost(B), 1.0f);
    EXPECT_EQ(MessageOf<EOutOfRange>([&] { c.NodeCost(0); }), "Node-ID must be >=1: 0");
    EXPECT_EQ(MessageOf<EOutOfRange>([&] { c.NodeCost(nw.NodeCount() + 1); }),
              "Node-ID must be =<" + std::to_string(nw.NodeCount()) + ": " + std::to_string(nw.NodeCount() + 1));
    // A bad argument changes no label.
    EXPECT_ANY_THROW(c.IsoCost(0));
    EXPECT_ANY_THROW(c.IsoCostList(B, TIntegerList()));
    EXPECT_EQ(c.NodeCost(B), 1.0f);
    nw.Close();
    nw.Open(true, false, true, 0);
    EXPECT_EQ(MessageOf([&] { c.NodeCost(B); }), cMsgNoSearch);
    EXPECT_EQ(MessageOf([&] { c.RouteFind(B); }), cMsgNoSearch);
  }
}

TEST_F(TreeFixture, TurnModeRouteFindAfterATreeFromALocationRefuses) {
  Open();
  TCalc c(nw, true);
  c.IsoCost(A);
  c.Flinkdyn = 2;  // what a tree from a location leaves behind
  EXPECT_EQ(MessageOf([&] { c.RouteFind(C); }), cMsgRouteFindAfterLocation);
}

// Labels that form a cycle (only a fault could leave them) end the walk with
// an error instead of looping.
TEST_F(TreeFixture, PredecessorWalkIsCapped) {
  Open();
  const std::string capped = "Route walk did not reach the origin within " + std::to_string(nw.LinkCount() + 1) + " steps";
  TCalc n(nw, false);
  n.IsoCost(A);
  n.SetNodeLabel(B, 1, C, 2);
  n.SetNodeLabel(C, 2, B, 2);
  EXPECT_EQ(MessageOf([&] { n.RouteFind(C); }), capped);
  TCalc t(nw, true);
  t.IsoCost(A);
  t.SetState(2, true, 2, 4);
  t.SetState(4, true, 2, 2);
  EXPECT_EQ(MessageOf([&] { t.RouteFind(C); }), capped);
}

TEST_F(TreeFixture, RoutePricing) {
  Open();
  nw.CreateArrayTime(1);
  nw.CreateArrayCost(1);
  for (int32_t l = 1; l <= nw.LinkCount(); ++l) {
    nw.SetTime(0, l, float(l));
    nw.SetCost(0, l, float(10 * l));
  }
  TCalc c(nw, false);
  struct Row {
    TRoute route;
    float cost, time;
  };
  const Row rows[] = {
      {TRoute{}, 0, 0},
      {TRoute{{A, B, C}, {1, 2}, 0, 0}, 30, 3},
      {TRoute{{}, {2}, 0.25, 0.75}, 10, 1},          // along one link forward
      {TRoute{{}, {-2}, 0.75, 0.25}, 10, 1},         // and backward
      {TRoute{{B}, {1, 2}, 0.5, 0.5}, 5 + 10, 0.5f + 1},
      {TRoute{{B}, {-1, -2}, 0.5, 0.5}, 5 + 10, 0.5f + 1},
      {TRoute{{B, C}, {1, 2, 7}, 0.25, 0.5}, 7.5f + 20 + 35, 0.75f + 2 + 3.5f},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(c.RouteCost(r.route), r.cost);
    EXPECT_EQ(c.RouteTime(r.route), r.time);
  }
  EXPECT_EQ(MessageOf<EOutOfRange>([&] { c.RouteCost(TRoute{{A, B}, {0}, 0, 0}); }), "Link-ID must be >=1: 0");
  EXPECT_EQ(MessageOf<EOutOfRange>([&] { c.RouteTime(TRoute{{A, B}, {99}, 0, 0}); }),
            "Link-ID must be <=" + std::to_string(nw.LinkCount()) + ": 99");
  nw.Close();
  EXPECT_EQ(MessageOf<ENetworkIsClosed>([&] { c.RouteTime(TRoute{}); }), "Network is not open");
  nw.Open(true, false, true, 0);  // no columns now
  EXPECT_EQ(MessageOf([&] { c.RouteCost(TRoute{{A, B}, {1}, 0, 0}); }), "Cost arrays has not been setup");
  EXPECT_EQ(MessageOf([&] { c.RouteTime(TRoute{{A, B}, {1}, 0, 0}); }), "Time arrays has not been setup");
}

// NearestOpen: the first call of a new calculator allocates; nothing open
// reachable reports node 0, link 0, cost 0.
TEST_F(TreeFixture, NearestOpen) {
  Open();
  for (const bool turnmode : {false, true}) {
    SCOPED_TRACE(turnmode);
    TCalc c(nw, turnmode);
    int32_t n = -1, l = -1;
    float cost = -1;
    c.NearestOpen(G, n, l, cost);  // 6 can be left at G
    EXPECT_EQ(l, 6);
    EXPECT_EQ(n, G);
    EXPECT_EQ(cost, 0.0f);
    TBitArray skip(int64_t(nw.LinkCount()) + 1);
    skip.SetAllTrue();
    c.SetSkipLinkList(&skip);
    c.NearestOpen(B, n, l, cost);  // nothing open anywhere
    EXPECT_EQ(n, 0);
    EXPECT_EQ(l, 0);
    EXPECT_EQ(cost, 0.0f);
  }
}

// Under no-drive-through the nearest open link lies outside foreign areas.
// A ring: a: Y(0,-1) -> X(0,0) one-way (not leavable at X, 1 km), b: X ->
// P(0.5,0) and c: P -> Q(0.5,1) in an area, then Q -> R(-3,1) -> Y. Nearer
// than a, b would be taken if the open test ignored the area.
TEST_F(TreeFixture, NearestOpenUnderNoDriveThroughFindsAUsableLink) {
  TTestNetworkWriter w;
  w.Unit = cuKm;
  w.AddLink({{0, -1}, {0, 0}}, cAttrOnewayFromTo);
  w.AddLink({{0, 0}, {0.5, 0}}, cAttrNoDriveThrough);
  w.AddLink({{0.5, 0}, {0.5, 1}}, cAttrNoDriveThrough);
  w.AddLink({{0.5, 1}, {-3, 1}});
  w.AddLink({{-3, 1}, {0, -1}});
  w.Write(dir.string() + "/");
  nw.SetDirectory(dir.string() + "/");
  nw.Open(true, false, false, 0);
  const int32_t X = N(0, 0), Y = N(0, -1);
  ASSERT_EQ(nw.NodeArea(X), 0);
  for (const bool turnmode : {false, true}) {
    SCOPED_TRACE(turnmode);
    TCalc c(nw, turnmode);
    c.SetNoDriveThrough(true);
    int32_t n, l;
    float cost;
    c.NearestOpen(X, n, l, cost);
    EXPECT_EQ(l, 1);
    // Node mode names the node the link was reached from, turn mode the end
    // where it is open.
    EXPECT_EQ(n, turnmode ? Y : X);
    EXPECT_EQ(cost, turnmode ? 1.0f : 0.0f);
  }
}

// A 3-link restriction whose middle link is labelled in both states from
// different predecessors, end to end.
// X(0,0) -a-> Y(3,0) -b-> Z(0,1) -c-> W(0,2); g: X -> Z. Restrictions
// (a, b, c) and (g, c) prohibited: W is reachable only through a, b, c.
TEST_F(TreeFixture, RestrictionWalkEndToEnd) {
  TTestNetworkWriter w;
  w.Unit = cuKm;
  w.AddLink({{0, 0}, {3, 0}});  // a = 1
  w.AddLink({{3, 0}, {0, 1}});  // b = 2
  w.AddLink({{0, 1}, {0, 2}});  // c = 3
  w.AddLink({{0, 0}, {0, 1}});  // g = 4
  w.SetAttribute(1, 0);
  w.Write(dir.string() + "/");
  nw.SetDirectory(dir.string() + "/");
  nw.Open(true, false, false, 0);
  nw.TurnSet(0).Add({std::vector<int32_t>{1, 2, 3}, -1});
  nw.TurnSet(0).AddSimple(4, 3, -1);
  TCalc c(nw, true);
  c.SetShortest(true);
  c.IsoCost(N(0, 0));
  ASSERT_NE(c.P1array(2), cNoPred);
  ASSERT_NE(c.P2array(2), cNoPred);
  EXPECT_EQ(c.P1array(2), 1);
  EXPECT_EQ(c.P2array(2), 4);
  EXPECT_EQ(c.NodeCost(N(0, 2)), cInfinity);
}

}  // namespace
