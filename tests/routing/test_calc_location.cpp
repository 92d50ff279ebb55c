// Trees from locations and the cost and route to a location: the labels
// against the Boost Graph oracle with a virtual source inside the origin
// link, the costs and routes to random target locations, the stop modes and
// the edge cases on a small hand-made network.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "network/kovra_network.h"
#include "network/support/network_writer.h"
#include "routing/kovra_calc.h"
#include "routing/support/bgl_oracle.h"
#include "routing/support/netgen.h"
#include "routing/support/netgen_test.h"
#include "routing/support/search_case.h"
#include "support/temp_dir_test.h"
#include "support/allocation_counter.h"
#include "support/test_raises.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

bool NearlyEqual(double a, double b) { return std::fabs(a - b) <= 1e-5 * std::max(1.0, std::fabs(b)); }

bool Leaves(const TNetwork& nw, int32_t node, int32_t L) {
  for (const int32_t e : nw.Adjacent(node))
    if (e == L) return true;
  return false;
}

// Consecutive links of a route between locations meet at the listed nodes.
void ExpectConnected(const TNetwork& nw, const TRoute& r) {
  ASSERT_GE(r.links.size(), 1u);
  if (r.links.size() == 1) {
    EXPECT_TRUE(r.nodes.empty());
    return;
  }
  ASSERT_EQ(r.nodes.size() + 1, r.links.size());
  for (size_t i = 0; i < r.nodes.size(); ++i) {
    const int32_t a = r.links[i], b = r.links[i + 1];
    const int32_t endA = a > 0 ? nw.Tonodes()[size_t(a)] : nw.Fromnodes()[size_t(-a)];
    const int32_t startB = b > 0 ? nw.Fromnodes()[size_t(b)] : nw.Tonodes()[size_t(-b)];
    EXPECT_EQ(endA, r.nodes[i]) << "link " << i;
    EXPECT_EQ(startB, r.nodes[i]) << "link " << i + 1;
  }
}

class LocationOracleTest : public TGenNetworkTest {
protected:
  void SetUp() override {
    TNetGenOptions o;
    o.Seed = 44;
    o.Nodes = 1200 * RoutingScale();
    o.Restrictions2 = 200;
    o.Areas = 4;
    o.LimitShare = 0.15;
    Generate(o);
    skip = EveryNth(nw.LinkCount(), 3, 13);
  }

  std::vector<TSearchCase> Cases() const {
    return FilterCases(false, 5);
  }

  TOracleOptions Configure(TCalc& c, const TSearchCase& t, int32_t S, bool turnCosts) {
    TOracleOptions o = ApplySearchCase(c, t, turnCosts, skip.get());
    if (t.noDriveThrough) {
      o.NdtMode = 2;
      o.AllowedArea = nw.AreaList().GetArea(S);
    }
    return o;
  }

  // Origins at both ends and inside links of every kind, a few in areas.
  std::vector<TLocation> Origins() const {
    std::vector<TLocation> v;
    uint64_t x = 12345;
    auto next = [&x] {
      x = x * 6364136223846793005ull + 1442695040888963407ull;
      return x >> 33;
    };
    const double ps[] = {0.0, 1.0, 0.5};
    for (int32_t k = 0; k < 6; ++k) {
      const int32_t L = 1 + int32_t(next() % uint64_t(nw.LinkCount()));
      v.push_back({L, k < 3 ? ps[k] : double(next() % 1000) / 1000.0});
    }
    for (int32_t i = 0; i < nw.AreaList().Count() && v.size() < 8; i += 5)
      v.push_back({nw.AreaList().Item(i).link, 0.3});
    // A one-way origin.
    for (int32_t L = 1; L <= nw.LinkCount(); ++L)
      if (nw.OneWayCode(L) == 1) {
        v.push_back({L, 0.4});
        break;
      }
    return v;
  }

  // Targets: random locations, some on the same links.
  std::vector<TLocation> Targets(uint64_t seed) const {
    std::vector<TLocation> v;
    uint64_t x = seed;
    auto next = [&x] {
      x = x * 6364136223846793005ull + 1442695040888963407ull;
      return x >> 33;
    };
    for (int32_t k = 0; k < 60; ++k)
      v.push_back({1 + int32_t(next() % uint64_t(nw.LinkCount())), double(next() % 1001) / 1000.0});
    return v;
  }

  // The turn-mode graph with a virtual source: copies of the origin link's
  // two states carry the departing partial link, so the states of the link
  // itself stay open to an arrival through the network.
  std::vector<float> StateTreeFromLocation(const TBglOracle& o, const TLocation& loc, bool fwd, bool bwd) const {
    const int32_t V = 2 * (nw.LinkCount() + 1);
    std::vector<TOracleArc> arcs;
    for (int32_t L = 1; L <= nw.LinkCount(); ++L)
      for (const bool f : {true, false}) {
        auto a = o.StateArcs(L, f);
        arcs.insert(arcs.end(), a.begin(), a.end());
      }
    const int32_t S = loc.link;
    const float w = o.LinkWeight(S);
    if (o.Admitted(S)) {
      if (fwd) {
        arcs.push_back({V, V + 1, S, 0, {0, float((1 - loc.percent) * double(w))}});
        for (TOracleArc a : o.StateArcs(S, true)) a.from = V + 1, arcs.push_back(a);
      }
      if (bwd) {
        arcs.push_back({V, V + 2, S, 0, {0, float(loc.percent * double(w))}});
        for (TOracleArc a : o.StateArcs(S, false)) a.from = V + 2, arcs.push_back(a);
      }
    }
    auto d = TBglOracle::Dijkstra(V + 3, arcs, V);
    d.resize(size_t(V));
    return d;
  }

  std::unique_ptr<TBitArray> skip;
};

// Node mode: every node label equals a BGL Dijkstra from a virtual source
// bit for bit, and so does the cost to every target location.
TEST_F(LocationOracleTest, NodeModeEqualsTheOracle) {
  int64_t reachedAll = 0;
  for (const TSearchCase& t : Cases()) {
    for (const TLocation& s : Origins()) {
      SCOPED_TRACE(Describe(t) + " from " + std::to_string(s.link) + "@" + std::to_string(s.percent));
      TCalc c(nw, false);
      const TOracleOptions o = Configure(c, t, s.link, false);
      const TBglOracle oracle(nw, o);
      const auto d = oracle.NodeTreeFromLocation(s);
      c.IsoCostDyn(s);
      for (int32_t v = 1; v <= nw.NodeCount(); ++v) {
        ASSERT_EQ(c.NodeCost(v), d[size_t(v)]) << "node " << v;
        reachedAll += d[size_t(v)] < cInfinity;
      }
      for (const TLocation& q : Targets(uint64_t(s.link) * 7 + 1)) {
        if (q.link == s.link) continue;
        const float expected = oracle.NodeCostToLocation(d, q);
        ASSERT_EQ(c.CostToLocation(q), expected) << "target " << q.link << "@" << q.percent;
        TRoute r;
        const float cost = c.RouteFindDyn(q, r);
        ASSERT_EQ(cost, expected);
        if (!(cost < cInfinity)) {
          EXPECT_TRUE(r.links.empty() && r.nodes.empty());
          continue;
        }
        EXPECT_EQ(r.percent1, double(s.percent));
        EXPECT_EQ(r.percent2, double(q.percent));
        EXPECT_EQ(std::abs(r.links.front()), s.link);
        EXPECT_EQ(std::abs(r.links.back()), q.link);
        ExpectConnected(nw, r);
        if (t.rc == rcDist) {
          EXPECT_TRUE(NearlyEqual(nw.RouteLength(r), cost)) << nw.RouteLength(r) << " vs " << cost;
        }
        if (t.rc == rcCost) {
          EXPECT_TRUE(NearlyEqual(c.RouteCost(r), cost)) << c.RouteCost(r) << " vs " << cost;
        }
      }
    }
  }
  EXPECT_GT(reachedAll, 0);
}

// Turn mode against the link-state graph with virtual arcs into the leaving
// states of the origin, with restrictions and turn costs; the costs to the
// targets follow the arrival rule from the oracle's state costs.
TEST_F(LocationOracleTest, TurnModeEqualsTheOracle) {
  for (const TSearchCase& t : Cases()) {
    for (const TLocation& s : Origins()) {
      SCOPED_TRACE(Describe(t) + " from " + std::to_string(s.link) + "@" + std::to_string(s.percent));
      TCalc c(nw, true);
      const TOracleOptions o = Configure(c, t, s.link, true);
      const TBglOracle oracle(nw, o);
      const int32_t f = nw.Fromnodes()[size_t(s.link)], tt = nw.Tonodes()[size_t(s.link)];
      const bool fwd = t.ignoreOneway || Leaves(nw, f, s.link);
      const bool bwd = t.ignoreOneway || Leaves(nw, tt, s.link);
      const auto d = StateTreeFromLocation(oracle, s, fwd, bwd);
      c.IsoCostDyn(s);
      for (int32_t L = 1; L <= nw.LinkCount(); ++L) {
        ASSERT_EQ(c.StateReached(L, true) ? c.cost1(L) : cInfinity, d[size_t(2 * L)]) << "link " << L;
        ASSERT_EQ(c.StateReached(L, false) ? c.cost2(L) : cInfinity, d[size_t(2 * L + 1)]) << "link " << L;
      }
      for (const TLocation& q : Targets(uint64_t(s.link) * 5 + 3)) {
        if (q.link == s.link) continue;
        const int32_t L = q.link;
        const int32_t e = t.ignoreOneway ? 0 : nw.OneWayCode(L);
        const float w = oracle.LinkWeight(L);
        float expected = cInfinity;
        if (oracle.Admitted(L) && !(t.skipLinks && skip->GetBit(L))) {
          if ((e == 0 || e == 1) && d[size_t(2 * L)] < cInfinity)
            expected = float(double(d[size_t(2 * L)]) - (1 - q.percent) * double(w));
          if ((e == 0 || e == 2) && d[size_t(2 * L + 1)] < cInfinity)
            expected = std::min(expected, float(double(d[size_t(2 * L + 1)]) - q.percent * double(w)));
        }
        ASSERT_EQ(c.CostToLocation(q), expected) << "target " << L << "@" << q.percent;
        TRoute r;
        const float cost = c.RouteFindDyn(q, r);
        if (!(cost < cInfinity)) {
          EXPECT_TRUE(r.links.empty() && r.nodes.empty());
          continue;
        }
        EXPECT_EQ(std::abs(r.links.front()), s.link);
        EXPECT_EQ(std::abs(r.links.back()), L);
        ExpectConnected(nw, r);
        if (t.rc == rcDist) {
          EXPECT_TRUE(NearlyEqual(nw.RouteLength(r), cost)) << nw.RouteLength(r) << " vs " << cost;
        }
      }
    }
  }
}

// Departure sides: the oracle with only the allowed virtual arc.
TEST_F(LocationOracleTest, ApproachFormsEqualTheOracle) {
  const TSearchCase t{.rc = rcTime};
  for (const TLocation& s : Origins()) {
    for (const TApproach side : {apForward, apReverse}) {
      SCOPED_TRACE(std::to_string(s.link) + "@" + std::to_string(s.percent) + " side " + std::to_string(int(side)));
      TCalc c(nw, true);
      const TOracleOptions o = Configure(c, t, s.link, true);
      const TBglOracle oracle(nw, o);
      const int32_t f = nw.Fromnodes()[size_t(s.link)], tt = nw.Tonodes()[size_t(s.link)];
      const bool fwd = Leaves(nw, f, s.link) && side == apForward;
      const bool bwd = Leaves(nw, tt, s.link) && side == apReverse;
      const auto d = StateTreeFromLocation(oracle, s, fwd, bwd);
      c.IsoCostDynApproach(s, side);
      for (int32_t L = 1; L <= nw.LinkCount(); ++L) {
        ASSERT_EQ(c.StateReached(L, true) ? c.cost1(L) : cInfinity, d[size_t(2 * L)]) << "link " << L;
        ASSERT_EQ(c.StateReached(L, false) ? c.cost2(L) : cInfinity, d[size_t(2 * L + 1)]) << "link " << L;
      }
      // Arrival sides: each forced arrival is that state's cost.
      for (const TLocation& q : Targets(uint64_t(s.link) + 11)) {
        if (q.link == s.link || nw.OneWayCode(q.link) != 0) continue;
        const float w = oracle.LinkWeight(q.link);
        const float df = d[size_t(2 * q.link)], db = d[size_t(2 * q.link + 1)];
        const float ef = df < cInfinity ? float(double(df) - (1 - q.percent) * double(w)) : cInfinity;
        const float eb = db < cInfinity ? float(double(db) - q.percent * double(w)) : cInfinity;
        EXPECT_EQ(c.LinkCostDynApproach(q, apForward), ef);
        EXPECT_EQ(c.LinkCostDynApproach(q, apReverse), eb);
        TRoute r;
        const float cost = c.RouteFindDynApproach(q, apForward, r);
        EXPECT_EQ(cost, ef);
        if (cost < cInfinity) {
          EXPECT_EQ(r.links.back(), q.link);
          ExpectConnected(nw, r);
        }
      }
    }
  }
}

// The stop modes give the same target costs as the full tree, in both modes,
// and the N cheapest come out in cost order.
TEST_F(LocationOracleTest, TargetListsGiveTheFullTreeCosts) {
  for (const bool turnmode : {false, true}) {
    for (const TLocation& s : Origins()) {
      SCOPED_TRACE(std::to_string(turnmode) + " " + std::to_string(s.link));
      TCalc full(nw, turnmode), c(nw, turnmode);
      full.IsoCostDyn(s);
      TLocationList LL;
      for (const TLocation& q : Targets(uint64_t(s.link) + 99))
        if (q.link != s.link) LL.Add1(q);
      c.IsoCostListDyn(s, LL);
      for (int32_t i = 0; i < LL.Count(); ++i)
        ASSERT_EQ(c.CostToLocation(LL.GetItem(i).loc), full.CostToLocation(LL.GetItem(i).loc)) << i;
      TIntegerList IL;
      c.IsoCostListNDyn(s, LL, IL, 5);
      float prev = 0;
      for (int32_t k = 0; k < IL.Count(); ++k) {
        const float v = full.CostToLocation(LL.GetItem(IL.GetItem(k)).loc);
        EXPECT_EQ(c.CostToLocation(LL.GetItem(IL.GetItem(k)).loc), v);
        EXPECT_LE(prev, v);
        prev = v;
      }
      int32_t best = -1;
      float bestCost = cInfinity;
      for (int32_t i = 0; i < LL.Count(); ++i)
        if (full.CostToLocation(LL.GetItem(i).loc) < bestCost) bestCost = full.CostToLocation(LL.GetItem(i).loc), best = i;
      EXPECT_EQ(c.NearestDyn(s, LL), best);
      // A cost limit: every location within MaxCost keeps its cost.
      c.SetMaxCost(bestCost < cInfinity ? bestCost * 3 : 1);
      c.IsoCostDyn(s);
      for (int32_t i = 0; i < LL.Count(); ++i) {
        const float v = full.CostToLocation(LL.GetItem(i).loc);
        if (v <= c.MaxCost()) {
          EXPECT_EQ(c.CostToLocation(LL.GetItem(i).loc), v) << i;
        }
      }
      // A tree with a cost limit after one with a target list extends the
      // limit by the network's largest link, not by the targets' largest.
      int32_t shortest = 1;
      for (int32_t L = 2; L <= nw.LinkCount(); ++L)
        if (nw.Lengths()[size_t(L)] > 0 && nw.Lengths()[size_t(L)] < nw.Lengths()[size_t(shortest)]) shortest = L;
      TLocationList shortLL;
      shortLL.Add2(shortest, 0.5);
      TCalc fresh(nw, turnmode);
      fresh.SetMaxCost(c.MaxCost());
      fresh.IsoCostDyn(s);
      c.IsoCostListDyn(s, shortLL);
      c.IsoCostDyn(s);
      for (int32_t v = 1; v <= nw.NodeCount(); ++v) ASSERT_EQ(c.NodeCost(v), fresh.NodeCost(v)) << "node " << v;
    }
  }
}

// The cost to a location reads labels only: no allocation without a route.
TEST_F(LocationOracleTest, CostToLocationDoesNotAllocate) {
  if (!KOVRA_COUNT_ALLOCATIONS) GTEST_SKIP() << "sanitizer allocator";
  for (const bool turnmode : {false, true}) {
    TCalc c(nw, turnmode);
    const TLocation s = Origins()[3];
    c.IsoCostDyn(s);
    const auto targets = Targets(5);
    double sum = 0;
    const int64_t before = tAllocations;
    for (const TLocation& q : targets) {
      sum += double(c.CostToLocation(q)) + double(c.LinkCostDyn(q));
      sum += double(c.CostToLocation({s.link, 1 - s.percent}));
    }
    EXPECT_EQ(tAllocations, before) << turnmode;
    EXPECT_GT(sum, 0);
  }
}

// A lowered speed cap invalidates the stored largest-link cost: a target in
// the middle of the slowest link still gets the oracle's cost.
TEST_F(LocationOracleTest, LargestLinkFollowsTheSpeedCap) {
  int32_t longest = 1;
  for (int32_t L = 2; L <= nw.LinkCount(); ++L)
    if (nw.Lengths()[size_t(L)] > nw.Lengths()[size_t(longest)] && nw.OneWayCode(L) == 0) longest = L;
  const TLocation target{longest, 0.5};
  TLocationList LL;
  LL.Add1(target);
  const TLocation s = Origins()[2];
  for (const bool turnmode : {false, true}) {
    TCalc c(nw, turnmode);
    c.SetFastest(false);
    c.IsoCostListDyn(s, LL);
    c.SetMaxSpeed(20);
    c.IsoCostListDyn(s, LL);
    TOracleOptions o;
    o.Criterion = rcTime;
    o.MaxSpeed = 20;
    const TBglOracle oracle(nw, o);
    const float expected = oracle.NodeCostToLocation(oracle.NodeTreeFromLocation(s), target);
    ASSERT_LT(expected, cInfinity);
    EXPECT_EQ(c.CostToLocation(target), expected) << turnmode;
  }
}

// --- A small network --------------------------------------------------------

// In km: the square A(0,0) -1- B(1,0) -2-> C(1,1) -3- D(0,1) -4- A, link 2
// one-way; 5: B -> (1.5,2) -> C, a long two-way parallel of 2 (4.123 km);
// 6: D - E(-1,1) closed both ways.
class LocationFixture : public TTempDirTest {
protected:
  TNetwork& Open() {
    TTestNetworkWriter w;
    w.Unit = cuKm;
    w.AddLink({{0, 0}, {1, 0}});
    w.AddLink({{1, 0}, {1, 1}}, cAttrOnewayFromTo);
    w.AddLink({{1, 1}, {0, 1}});
    w.AddLink({{0, 1}, {0, 0}});
    w.AddLink({{1, 0}, {1.5, 2}, {1, 1}});
    w.AddLink({{0, 1}, {-1, 1}}, cAttrOneway);
    w.SpatialIndex = true;
    w.Write(dir.string() + "/");
    nw.SetDirectory(dir.string() + "/");
    nw.Open(true, false, true, 0);
    A = N(0, 0), B = N(1, 0), C = N(1, 1), D = N(0, 1);
    return nw;
  }
  int32_t N(double x, double y) const {
    for (int32_t n = 1; n <= nw.NodeCount(); ++n)
      if (nw.X()[size_t(n)] == x && nw.Y()[size_t(n)] == y) return n;
    return 0;
  }
  TNetwork nw;
  int32_t A = 0, B = 0, C = 0, D = 0;
};

bool Near(double a, double b) { return std::fabs(a - b) < 1e-4; }

TEST_F(LocationFixture, EdgeCases) {
  Open();
  const double L5 = nw.Lengths()[5];
  for (const bool turnmode : {false, true}) {
    SCOPED_TRACE(turnmode);
    TCalc c(nw, turnmode);
    TRoute r;
    // A one-way origin in the middle: the to-node costs half the link, the
    // from-node only the way around (never the half link against the
    // one-way).
    c.IsoCostDyn({2, 0.5});
    EXPECT_TRUE(Near(c.NodeCost(C), 0.5));
    EXPECT_TRUE(Near(c.NodeCost(B), 3.5)) << c.NodeCost(B);
    EXPECT_TRUE(Near(c.NodeCost(A), 2.5));
    // The same one-way link behind the origin: around, leaving forward and
    // entering again at the from-node.
    c.IsoCostDyn({2, 0.8});
    EXPECT_TRUE(Near(c.RouteFindDyn({2, 0.3}, r), 0.2 + 3 + 0.3));
    EXPECT_EQ(r.links, (TIntegerArray{2, 3, 4, 1, 2}));
    EXPECT_EQ(r.nodes, (TIntegerArray{C, D, A, B}));
    // Ahead on it: direct.
    EXPECT_TRUE(Near(c.RouteFindDyn({2, 0.9}, r), 0.1));
    EXPECT_EQ(r.links, (TIntegerArray{2}));
    // The same two-way link, q > p: (q - p) × the link, positive.
    c.IsoCostDyn({1, 0.2});
    EXPECT_TRUE(Near(c.RouteFindDyn({1, 0.7}, r), 0.5));
    EXPECT_EQ(r.links, (TIntegerArray{1}));
    EXPECT_TRUE(r.nodes.empty());
    EXPECT_TRUE(Near(c.RouteFindDyn({1, 0.1}, r), 0.1));
    EXPECT_EQ(r.links, (TIntegerArray{-1}));
    // A target far ahead on a long two-way link: back through the parallel
    // link and in from the other end.
    c.IsoCostDyn({5, 0.1});
    const float around = c.RouteFindDyn({5, 0.9}, r);
    EXPECT_TRUE(Near(around, 0.2 * L5 + 1)) << around;
    EXPECT_EQ(r.links, (TIntegerArray{-5, 2, -5}));
    EXPECT_EQ(r.nodes, (TIntegerArray{B, C}));
    EXPECT_TRUE(NearlyEqual(nw.RouteLength(r), around));
    // A closed target link.
    EXPECT_EQ(c.LinkCostDyn({6, 0.5}), cInfinity);
    EXPECT_EQ(c.RouteFindDyn({6, 0.5}, r), cInfinity);
    EXPECT_TRUE(r.links.empty());
    // NearestOpenDyn on an open link: cost 0, from-node at p = 0.5.
    int32_t node = -1, link = -1;
    float cost = -1;
    c.NearestOpenDyn({1, 0.5}, node, link, cost);
    EXPECT_EQ(cost, 0);
    EXPECT_EQ(link, 1);
    EXPECT_EQ(node, A);
    c.NearestOpenDyn({1, 0.51}, node, link, cost);
    EXPECT_EQ(node, B);
    // A closed link: the nearest open link through its ends. The from-node
    // side finds an open link right at D and reports cost 0, which counts as
    // nothing found, so the to-node side's way back to D wins.
    c.NearestOpenDyn({6, 0.5}, node, link, cost);
    EXPECT_EQ(node, D);
    EXPECT_TRUE(link == 3 || link == 4) << link;
    EXPECT_TRUE(Near(cost, 1 + 0.5 * nw.Lengths()[6])) << cost;
    // LinkCostDyn after a tree from a node: the end labels, no origin link.
    c.IsoCost(A);
    EXPECT_TRUE(Near(c.LinkCostDyn({3, 0.9}), 1.1));
    EXPECT_TRUE(Near(c.RouteFindDyn({3, 0.9}, r), 1.1));
    EXPECT_TRUE(r.links.empty());
    EXPECT_EQ(r.percent1, 0);
    EXPECT_EQ(r.percent2, 0.9);
    // All targets on the origin link.
    TLocationList LL;
    LL.Add2(1, 0.7);
    LL.Add2(1, 0.9);
    c.IsoCostListDyn({1, 0.2}, LL);
    EXPECT_TRUE(Near(c.CostToLocation({1, 0.7}), 0.5));
    EXPECT_TRUE(Near(c.CostToLocation({1, 0.9}), 0.7));
    // Two targets on one link, counted together: both right.
    LL.Clear();
    LL.Add2(3, 0.2);
    LL.Add2(3, 0.8);
    c.IsoCostListDyn({1, 0.4}, LL);
    EXPECT_TRUE(Near(c.CostToLocation({3, 0.2}), 1.8));
    EXPECT_TRUE(Near(c.CostToLocation({3, 0.8}), 1.6));
    EXPECT_EQ(c.NearestDyn({1, 0.4}, LL), 1);
  }
}

TEST_F(LocationFixture, TurnModeSides) {
  Open();
  TCalc c(nw, true);
  TRoute r;
  // Leaving forward only: the from-node is reached by the detour.
  c.IsoCostDynApproach({1, 0.5}, apForward);
  EXPECT_TRUE(Near(c.NodeCost(B), 0.5));
  EXPECT_TRUE(Near(c.NodeCost(A), 3.5)) << c.NodeCost(A);
  EXPECT_EQ(MessageOf([&] { c.RouteFindDyn({1, 0.2}, r); }),
            "RouteFindDyn do not support different approach on the same link");
  // Arriving forward even when backward is cheaper.
  c.IsoCostDyn({1, 0.5});
  EXPECT_TRUE(Near(c.LinkCostDyn({3, 0.9}), 1.6));
  EXPECT_TRUE(Near(c.LinkCostDynApproach({3, 0.9}, apForward), 2.4));
  EXPECT_TRUE(Near(c.RouteFindDynApproach({3, 0.9}, apForward, r), 2.4));
  EXPECT_EQ(r.links, (TIntegerArray{1, 2, 3}));
  EXPECT_EQ(r.nodes, (TIntegerArray{B, C}));
  EXPECT_TRUE(Near(c.RouteFindDynApproach({3, 0.9}, apReverse, r), 1.6));
  EXPECT_EQ(r.links, (TIntegerArray{-1, -4, -3}));
  EXPECT_EQ(r.nodes, (TIntegerArray{A, D}));
  // A target list with a departure side.
  TLocationList LL;
  LL.Add2(3, 0.9);
  c.IsoCostListDynApproach({1, 0.5}, LL, apForward);
  EXPECT_TRUE(Near(c.LinkCostDyn({3, 0.9}), 2.4));
  EXPECT_TRUE(Near(c.RouteFindDynApproach({3, 0.9}, apForward, r), 2.4));
  EXPECT_EQ(r.links, (TIntegerArray{1, 2, 3}));
}

TEST_F(LocationFixture, Refusals) {
  Open();
  TCalc n(nw, false), t(nw, true);
  TRoute r;
  TIntegerList IL;
  TLocationList LL;
  LL.Add2(3, 0.5);
  struct TCase {
    std::function<void()> call;
    std::string message;
  };
  const std::vector<TCase> cases = {
      {[&] { n.IsoCostDynApproach({1, 0.5}, apForward); }, "IsoCostDynApproach is only possible in turnmode"},
      {[&] { n.IsoCostListDynApproach({1, 0.5}, LL, apForward); }, "Only possible in turnmode"},
      {[&] { n.LinkCostDynApproach({1, 0.5}, apForward); }, "Only possible in turnmode"},
      {[&] { t.LinkCostDynApproach({1, 0.5}, apForward); }, "Not implemented"},
      {[&] { n.IsoCostListNDyn({1, 0.5}, LL, IL, 2); }, "N (2) should be between 1 and 1"},
  };
  n.IsoCostDyn({1, 0.2});
  t.IsoCostDyn({1, 0.2});
  for (const TCase& k : cases) EXPECT_EQ(MessageOf(k.call), k.message);
}

// Readers refuse without a search, and a refused call leaves the previous
// tree in force: origin fields, labels and route answers.
TEST_F(LocationFixture, RefusedCallsKeepThePreviousTree) {
  Open();
  for (const bool turnmode : {false, true}) {
    SCOPED_TRACE(turnmode);
    TCalc c(nw, turnmode);
    TRoute r;
    EXPECT_EQ(MessageOf([&] { c.LinkCostDyn({1, 0.5}); }), cMsgNoSearch);
    EXPECT_EQ(MessageOf([&] { c.RouteFindDyn({1, 0.5}, r); }), cMsgNoSearch);
    c.IsoCostDyn({1, 0.2});
    const float before = c.RouteFindDyn({3, 0.5}, r);
    const TRoute routeBefore = r;
    TLocationList LL;
    for (int32_t i = 0; i < 65536; ++i) LL.Add2(3, double(i) / 65536.0);
    EXPECT_EQ(MessageOf([&] { c.IsoCostListDyn({2, 0.5}, LL); }), "Too many locations for link 3 in LL");
    EXPECT_EQ(c.Flinkdyn, 1);
    EXPECT_EQ(c.RouteFindDyn({3, 0.5}, r), before);
    EXPECT_EQ(r.links, routeBefore.links);
    EXPECT_THROW(c.IsoCostDyn({2, std::nan("")}), Exception);
    EXPECT_EQ(c.Flinkdyn, 1);
    EXPECT_EQ(c.LinkCostDyn({3, 0.5}), before);
    // 65535 on one link are accepted.
    LL.Delete(0);
    c.IsoCostListDyn({1, 0.5}, LL);
    EXPECT_EQ(c.Flinkdyn, 1);
    // A same-link case without a way around: 1e38 and an empty route.
    TBitArray skipBits(int64_t(nw.LinkCount()) + 1);
    skipBits.SetBit2(3, true);
    skipBits.SetBit2(5, true);
    c.SetSkipLinkList(&skipBits);
    c.IsoCostDyn({2, 0.8});
    EXPECT_EQ(c.RouteFindDyn({2, 0.3}, r), cInfinity);
    EXPECT_TRUE(r.links.empty() && r.nodes.empty());
    // A skipped target link.
    EXPECT_EQ(c.RouteFindDyn({3, 0.3}, r), cInfinity);
    EXPECT_TRUE(r.links.empty());
  }
}

// A set cancel flag stops a tree from a location after its first settled
// item; a tree from a node runs to the end.
TEST_F(LocationFixture, CancelStopsAfterTheFirstItem) {
  Open();
  for (const bool turnmode : {false, true}) {
    TCalc c(nw, turnmode);
    c.SetOnProgress([](TObject*, int32_t, bool& cancel) { cancel = true; });
    c.ProgressExecuteZero();
    ASSERT_TRUE(c.Cancelled());
    c.IsoCostDyn({1, 0.2});
    int32_t reached = 0;
    for (int32_t v = 1; v <= nw.NodeCount(); ++v) reached += c.NodeCost(v) < cInfinity;
    // Node mode: the seeded end plus one settled node; turn mode: the direct
    // ends plus the end of the one settled state at most.
    EXPECT_LE(reached, 3) << turnmode;
    EXPECT_GE(reached, 1);
    c.IsoCost(A);
    EXPECT_LT(c.NodeCost(C), cInfinity);
  }
}

// --- Faults once found in the calculator, one row each -------------------------

// A chain of 20 links of 1 km along the x axis, node i at (i, 0). Limit file
// 1 holds 40 on link 20, limit file 2 nothing.
class ChainFixture : public TTempDirTest {
protected:
  TNetwork& Open() {
    TTestNetworkWriter w;
    w.Unit = cuKm;
    for (int32_t i = 0; i < 20; ++i) w.AddLink({{double(i), 0}, {double(i + 1), 0}});
    w.SetAttribute(1, 0);  // "attribute.bin" for the attribute words
    std::vector<uint8_t> limit1(20, 0), limit2(20, 0);
    limit1[19] = 40;
    w.SetLimit(1, limit1);
    w.SetLimit(2, limit2);
    w.SpatialIndex = true;
    w.Write(dir.string() + "/");
    nw.SetDirectory(dir.string() + "/");
    nw.Open(true, false, true, 0);
    nw.OpenLimit(1, 1, false);
    return nw;
  }
  int32_t N(double x) const {
    for (int32_t n = 1; n <= nw.NodeCount(); ++n)
      if (nw.X()[size_t(n)] == x) return n;
    return 0;
  }
  TNetwork nw;
};

// Each row ran wrong before its mend: a reader after a limit slot was
// replaced read the freed slot; after SetLimit it applied a vehicle the
// search never saw; a negative MaxCost raised by the largest link cost
// became a small positive bound; an include-node window of another size was
// read past its end.
TEST_F(ChainFixture, MendedFaults) {
  struct TRow {
    const char* name;
    std::function<void(TCalc&)> run;
  };
  const TRow rows[] = {
      {"a limit slot replaced after the tree",
       [&](TCalc& c) {
         c.SetLimit(1, 45);
         c.IsoCostDyn({1, 0.5});
         EXPECT_EQ(c.LinkCostDyn({20, 0.5}), cInfinity);
         nw.OpenLimit(2, 1, false);  // frees the slot the tree read
         TRoute r;
         for (const auto& read : std::vector<std::function<void()>>{
                  [&] { c.LinkCostDyn({20, 0.5}); }, [&] { c.RouteFindDyn({20, 0.5}, r); },
                  [&] { c.CostToLocation({20, 0.5}); }, [&] { c.NodeCost(N(20)); }, [&] { c.LinkCost(20); }})
           EXPECT_EQ(MessageOf(read), cMsgResultsOutOfDate);
         if (c.Turnmode()) {
           EXPECT_EQ(MessageOf([&] { c.LinkCostDynApproach({20, 0.5}, apForward); }), cMsgResultsOutOfDate);
         }
         c.IsoCostDyn({1, 0.5});  // a new search reads the new slot
         EXPECT_TRUE(NearlyEqual(c.LinkCostDyn({20, 0.5}), 19.0));
       }},
      {"SetLimit after the tree",
       [&](TCalc& c) {
         c.SetLimit(1, 45);
         c.IsoCostDyn({1, 0.5});
         c.SetLimit(1, 0);
         EXPECT_EQ(MessageOf([&] { c.LinkCostDyn({20, 0.5}); }), cMsgResultsOutOfDate);
         c.SetLimit(1, 45);  // the settings of the search again
         EXPECT_EQ(c.LinkCostDyn({20, 0.5}), cInfinity);
         c.IsoCost(N(0));
         c.SetIgnoreOneway(true);
         EXPECT_EQ(MessageOf([&] { c.NodeCost(N(5)); }), cMsgResultsOutOfDate);
       }},
      {"a negative MaxCost from a location",
       [&](TCalc& c) {
         c.SetMaxCost(-0.5f);
         c.IsoCostDyn({1, 0.5});
         EXPECT_TRUE(NearlyEqual(c.NodeCost(N(20)), 19.5));
         c.IsoCost(N(0));
         EXPECT_TRUE(NearlyEqual(c.NodeCost(N(20)), 20));
       }},
      {"an include-node window of another size",
       [&](TCalc& c) {
         TBitArray shortWindow(nw.NodeCount()), window(int64_t(nw.NodeCount()) + 1);
         EXPECT_EQ(MessageOf([&] { c.SetIncludeNodes(&shortWindow); }), cMsgIncludeNodesSize);
         EXPECT_EQ(c.IncludeNodes(), nullptr);
         window.SetAllTrue();
         c.SetIncludeNodes(&window);
         c.IsoCost(N(0));
         EXPECT_TRUE(NearlyEqual(c.NodeCost(N(20)), 20));
         window.SetSize(5);  // the caller's array shrank under the calculator
         EXPECT_EQ(MessageOf([&] { c.IsoCost(N(0)); }), cMsgIncludeNodesSize);
         EXPECT_EQ(MessageOf([&] { c.IsoCostDyn({1, 0.5}); }), cMsgIncludeNodesSize);
         c.SetIncludeNodes(nullptr);
       }},
  };
  for (const TRow& row : rows)
    for (const bool turnmode : {false, true}) {
      SCOPED_TRACE(std::string(row.name) + (turnmode ? " turn mode" : " node mode"));
      Open();
      TCalc c(nw, turnmode);
      row.run(c);
      nw.Close();
    }
}

}  // namespace
