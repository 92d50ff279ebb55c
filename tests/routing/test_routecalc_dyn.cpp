// Location-to-location routes of TRouteCalc: against Boost Graph's Dijkstra
// with a virtual source before the start link's ends and the end step on the
// end link (plain order bit for bit in node mode, A* within rounding), the
// routes they return, the turn-mode early end at the direct cost, and the
// edge cases on a hand-made network.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "network/kovra_network.h"
#include "network/support/network_writer.h"
#include "routing/kovra_calc.h"
#include "routing/spur_fixture.h"
#include "routing/support/bgl_oracle.h"
#include "routing/support/netgen.h"
#include "routing/support/netgen_test.h"
#include "routing/support/search_case.h"
#include "support/temp_dir_test.h"
#include "support/test_raises.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

bool Relative(double a, double b, double tol) { return std::fabs(a - b) <= tol * std::max(1.0, std::fabs(b)); }

const char* Name(TApproach a) { return a == apIgnore ? "ignore" : a == apForward ? "forward" : "reverse"; }

std::string Describe(const TLocation& l) { return std::to_string(l.link) + "@" + std::to_string(l.percent); }

// The sides a pair may be left and reached from, read from the one-way
// codes, the approaches, the skip nodes at the end link and the filters of
// both links, with the direct cost along a shared link taking its sides.
struct TEnds {
  bool leaveF = false, leaveB = false, arriveF = false, arriveB = false;
  bool search = false;  // anything left to search for
  float f = -1;
  float none = -1;  // the result when nothing is searched
};

TEnds EndsOf(const TNetwork& nw, const TBglOracle& o, bool ignoreOneway, const TBitArray* skipNodes,
             const TLocation& l1, const TLocation& l2, TApproach a1, TApproach a2) {
  TEnds x;
  const int32_t e1 = ignoreOneway ? 0 : nw.OneWayCode(l1.link);
  const int32_t e2 = ignoreOneway ? 0 : nw.OneWayCode(l2.link);
  x.leaveF = (e1 == 0 || e1 == 1) && a1 != apReverse;
  x.leaveB = (e1 == 0 || e1 == 2) && a1 != apForward;
  x.arriveF = (e2 == 0 || e2 == 1) && a2 != apReverse;
  x.arriveB = (e2 == 0 || e2 == 2) && a2 != apForward;
  if (!(x.leaveF || x.leaveB) || !(x.arriveF || x.arriveB) || !o.Admitted(l2.link)) return x;
  if (l1.link == l2.link) {
    const float w = o.LinkWeight(l1.link);
    if (l2.percent >= l1.percent && x.leaveF && x.arriveF) {
      x.f = float((l2.percent - l1.percent) * double(w));
      x.leaveF = x.arriveF = false;
    } else if (l1.percent >= l2.percent && x.leaveB && x.arriveB) {
      x.f = float((l1.percent - l2.percent) * double(w));
      x.leaveB = x.arriveB = false;
    }
  }
  if (skipNodes && skipNodes->GetBit(nw.Fromnodes()[size_t(l2.link)])) x.arriveF = false;
  if (skipNodes && skipNodes->GetBit(nw.Tonodes()[size_t(l2.link)])) x.arriveB = false;
  x.none = x.f;
  x.search = (x.leaveF || x.leaveB) && (x.arriveF || x.arriveB) && o.Admitted(l1.link);
  return x;
}

// Dijkstra over the oracle's node graph (node mode) or link-state graph
// (turn mode) plus a virtual source. Node mode: the source reaches from1 for
// p1 x w and to1 for (1 - p1) x w. Turn mode: it reaches two copies of the
// start link's states, "left forward" at to1 and "left backward" at from1,
// which carry the state's turns; copies, so that on a shared link the
// arrival states stay apart from the leaving ones. The end step adds or
// takes off the part of the end link and the direct cost is the fallback.
float OracleCost(const TNetwork& nw, const TBglOracle& o, const std::vector<TOracleArc>& base, bool turnmode,
                 const TEnds& x, const TLocation& l1, const TLocation& l2) {
  if (!x.search) return x.none;
  const int32_t L1 = l1.link, L2 = l2.link;
  const int32_t from1 = nw.Fromnodes()[size_t(L1)], to1 = nw.Tonodes()[size_t(L1)];
  const int32_t from2 = nw.Fromnodes()[size_t(L2)], to2 = nw.Tonodes()[size_t(L2)];
  const double w1 = o.LinkWeight(L1), w2 = o.LinkWeight(L2);
  const float tb = float(l1.percent * w1), tf = float((1 - l1.percent) * w1);
  std::vector<TOracleArc> arcs = base;
  float best = cInfinity;
  if (!turnmode) {
    const int32_t vs = nw.NodeCount() + 1;
    if (x.leaveB) arcs.push_back({vs, from1, L1, 0, {0, tb}});
    if (x.leaveF) arcs.push_back({vs, to1, L1, 0, {0, tf}});
    const std::vector<float> d = TBglOracle::Dijkstra(vs + 1, arcs, vs);
    if (x.arriveF && d[size_t(from2)] < cInfinity)
      best = std::min(best, float(double(d[size_t(from2)]) + l2.percent * w2));
    if (x.arriveB && d[size_t(to2)] < cInfinity)
      best = std::min(best, float(double(d[size_t(to2)]) + (1 - l2.percent) * w2));
  } else {
    const int32_t vs = 2 * (nw.LinkCount() + 1), lf = vs + 1, lb = vs + 2;
    auto copy = [&](int32_t v, bool forward, float t) {
      arcs.push_back({vs, v, L1, 0, {0, t}});
      for (TOracleArc a : o.StateArcs(L1, forward)) {
        a.from = v;
        arcs.push_back(a);
      }
    };
    if (x.leaveF) copy(lf, true, tf);
    if (x.leaveB) copy(lb, false, tb);
    const std::vector<float> d = TBglOracle::Dijkstra(vs + 3, arcs, vs);
    const float u = d[size_t(2 * L2)], w = d[size_t(2 * L2 + 1)];
    if (x.arriveF && u < cInfinity) best = std::min(best, float(double(u) - (1 - l2.percent) * w2));
    if (x.arriveB && w < cInfinity) best = std::min(best, float(double(w) - l2.percent * w2));
  }
  if (x.f >= 0 && !(best < x.f)) return x.f;
  return best < cInfinity ? best : -1.0f;
}

// Consecutive links meet at the listed nodes in their driving direction, the
// ends are the given links with the signs of their sides, and a one-link
// route runs along the shared link.
void ExpectValidRoute(const TNetwork& nw, const TRoute& r, const TLocation& l1, const TLocation& l2,
                      const std::vector<int32_t>& starts, const std::vector<int32_t>& ends) {
  EXPECT_EQ(r.percent1, double(l1.percent));
  EXPECT_EQ(r.percent2, double(l2.percent));
  ASSERT_FALSE(r.links.empty());
  auto has = [](const std::vector<int32_t>& v, int32_t L) { return std::find(v.begin(), v.end(), L) != v.end(); };
  EXPECT_TRUE(has(starts, std::abs(r.links.front()))) << r.links.front();
  EXPECT_TRUE(has(ends, std::abs(r.links.back()))) << r.links.back();
  if (r.links.size() == 1) {
    EXPECT_TRUE(r.nodes.empty());
    EXPECT_EQ(r.links[0] > 0, l2.percent > l1.percent);
    return;
  }
  ASSERT_EQ(r.nodes.size() + 1, r.links.size());
  auto tail = [&](int32_t s) { return s > 0 ? nw.Tonodes()[size_t(s)] : nw.Fromnodes()[size_t(-s)]; };
  auto head = [&](int32_t s) { return s > 0 ? nw.Fromnodes()[size_t(s)] : nw.Tonodes()[size_t(-s)]; };
  for (size_t i = 0; i < r.nodes.size(); ++i) {
    EXPECT_EQ(tail(r.links[i]), r.nodes[i]) << "link " << i;
    EXPECT_EQ(head(r.links[i + 1]), r.nodes[i]) << "link " << i + 1;
  }
}

// A seeded source of numbers.
struct TRng {
  uint64_t r;
  uint32_t Next() {
    r = r * 6364136223846793005ull + 1442695040888963407ull;
    return uint32_t(r >> 33);
  }
  int32_t Below(int32_t n) { return int32_t(Next() % uint32_t(n)); }
  double Unit() { return (Next() & 0xFFFFFF) / double(0x1000000); }
};

// --- Against the oracle ----------------------------------------------------------

class RouteDynOracleTest : public TGenNetworkTest {
protected:
  void SetUp() override {
    TNetGenOptions o;
    o.Seed = 45;
    o.Nodes = 900 * RoutingScale();
    o.Restrictions2 = 200;
    o.Areas = 3;
    o.LimitShare = 0.15;
    o.Duplicate = 0.05;
    // Bent end links whose time and cost are below the fastest chord ratio:
    // A* by time and cost must keep its estimate a lower bound there.
    o.CheapBends = 0.05;
    Generate(o);
    skipLinks = EveryNth(nw.LinkCount(), 3, 13);
    skipNodes = EveryNth(nw.NodeCount(), 7, 31);
    for (int32_t l = 1; l <= nw.LinkCount(); ++l) {
      if (nw.Lengths()[size_t(l)] == 0) continue;
      valid.push_back(l);
      if (nw.GetDuplicateLink(l) != 0) duplicated.push_back(l);
    }
  }

  std::vector<TSearchCase> Cases() const {
    return FilterCases(true);
  }

  // Ends on duplicate links one time in ten; with hairpins, end locations
  // on them one time in four.
  TLocation RandomLocation(TRng& g, bool end = false) const {
    const bool hairpin = end && !gen.Hairpins.empty() && g.Below(4) == 0;
    const std::vector<int32_t>& from =
        hairpin ? gen.Hairpins : g.Below(10) == 0 && !duplicated.empty() ? duplicated : valid;
    const int32_t L = from[size_t(g.Below(int32_t(from.size())))];
    const int32_t k = g.Below(4);
    return {L, k == 0 ? 0.0 : k == 1 ? 1.0 : g.Unit()};
  }

  // The base arcs per allowed-area pair and cul-de-sac rule.
  struct TBase {
    std::unique_ptr<TBglOracle> oracle;
    std::vector<TOracleArc> arcs;
  };
  const TBase& Base(std::map<std::tuple<int32_t, int32_t, bool>, TBase>& cache, TOracleOptions o, bool turnmode,
                    int32_t area1, int32_t area2, bool cdsAllowed, const TBitArray* window) {
    TBase& b = cache[{area1, area2, cdsAllowed}];
    if (b.oracle) return b;
    if (o.NdtMode != 0) {
      o.AllowedArea = area1;
      o.AllowedArea2 = area2;
    }
    o.CulDeSacAllowed = cdsAllowed;
    o.Window = window;
    b.oracle = std::make_unique<TBglOracle>(nw, o);
    if (!turnmode) {
      for (int32_t n = 1; n <= nw.NodeCount(); ++n)
        for (const TOracleArc& a : b.oracle->NodeArcs(n)) b.arcs.push_back(a);
    } else {
      for (int32_t K = 1; K <= nw.LinkCount(); ++K) {
        if (nw.Lengths()[size_t(K)] == 0) continue;
        for (const bool forward : {true, false})
          for (const TOracleArc& a : b.oracle->StateArcs(K, forward)) b.arcs.push_back(a);
      }
    }
    return b;
  }

  void Run(bool turnmode);

  std::unique_ptr<TBitArray> skipLinks, skipNodes;
  std::vector<int32_t> valid, duplicated;
};

// Every case of the filters, in both modes: RouteDyn (with the duplicate
// links: the oracle takes the cheapest combination) for two thirds of the
// pairs and RouteDynApproach with random sides for the rest; Alpha 0 equal
// to the oracle bit for bit in node mode, Alpha 1 within rounding, the
// route valid and priced at the result. The oracle knows nothing of dead
// ends. Turn mode takes turns over three variants: the restrictions as turn
// rules (half of them prohibitions: dead ends are searched), the same with
// U-turns allowed and the cul-de-sac optimisation skipped, and no turn
// rules (dead ends holding neither end are skipped, exactly).
void RouteDynOracleTest::Run(bool turnmode) {
  int64_t reached = 0, pairs = 0, settled0 = 0, settled1 = 0, direct = 0, around = 0;
  TRng g{uint64_t(turnmode ? 77 : 11)};
  int32_t caseNo = 0;
  for (const TSearchCase& t : Cases()) {
    const int32_t variant = turnmode ? caseNo++ % 3 : 0;
    const bool skipCds = variant == 1, rules = turnmode && variant != 2;
    TRouteCalc c(nw, turnmode), a1(nw, turnmode);
    TOracleOptions o = ApplySearchCase(c, t, rules, skipLinks.get());
    ApplySearchCase(a1, t, rules, skipLinks.get());
    ASSERT_EQ(c.TurnRulesReachDeadEnds(), rules);
    if (t.noDriveThrough) o.NdtMode = 1;
    const TBitArray* skip = t.skipNodes ? skipNodes.get() : nullptr;
    c.SetSkipNodeList(skip);
    a1.SetSkipNodeList(skip);
    c.SetAlpha(0);
    c.SetSkipCulDeSacOptimization(skipCds);
    a1.SetSkipCulDeSacOptimization(skipCds);
    c.SetUTurnAllowed(skipCds);
    a1.SetUTurnAllowed(skipCds);
    o.UTurnAllowed = skipCds;
    std::unique_ptr<TBitArray> window;
    if (skip) {
      window = std::make_unique<TBitArray>(int64_t(nw.NodeCount()) + 1);
      for (int32_t n = 1; n <= nw.NodeCount(); ++n) window->SetBit2(n, !skip->GetBit(n));
    }
    std::map<std::tuple<int32_t, int32_t, bool>, TBase> cache;
    const TBglOracle any(nw, o);  // what decides the ends: no areas, no window
    TRoute route;
    for (int32_t k = 0; k < 24; ++k) {
      const TLocation l1 = RandomLocation(g);
      TLocation l2 = RandomLocation(g, true);
      if (g.Below(10) == 0) l2.link = l1.link;
      const bool approach = k % 3 == 2;
      const TApproach ap1 = approach ? TApproach(g.Below(3)) : apIgnore;
      const TApproach ap2 = approach ? TApproach(g.Below(3)) : apIgnore;
      SCOPED_TRACE(Describe(t) + (turnmode ? " turn" : " node") + (skipCds ? " skip-cds" : "") +
                   (turnmode && !rules ? " no-rules" : "") + " " +
                   Describe(l1) + " -> " + Describe(l2) + " " + Name(ap1) + "/" + Name(ap2));
      ++pairs;
      // The combinations the call tries.
      std::vector<int32_t> starts{l1.link}, ends{l2.link};
      if (!approach) {
        if (const int32_t d = nw.GetDuplicateLink(l1.link)) starts.push_back(d);
        if (const int32_t d = nw.GetDuplicateLink(l2.link)) ends.push_back(d);
      }
      float want = -1;
      for (const int32_t s : starts)
        for (const int32_t e : ends) {
          const TLocation m1{s, l1.percent}, m2{e, l2.percent};
          const int32_t area1 = t.noDriveThrough ? nw.AreaList().GetArea(s) : 0;
          const int32_t area2 = t.noDriveThrough ? nw.AreaList().GetArea(e) : 0;
          const TBase& b = Base(cache, o, turnmode, area1, area2, true, window.get());
          const TEnds x = EndsOf(nw, any, t.ignoreOneway, skip, m1, m2, ap1, ap2);
          const float r = OracleCost(nw, *b.oracle, b.arcs, turnmode, x, m1, m2);
          if (r >= 0 && (want < 0 || r < want)) want = r;
        }
      const float r0 = approach ? c.RouteDynApproachEx(l1, l2, ap1, ap2, route) : c.RouteDynEx(l1, l2, route);
      const float r1 = approach ? a1.RouteDynApproach(l1, l2, ap1, ap2) : a1.RouteDyn(l1, l2);
      if (want < 0) {
        ASSERT_EQ(r0, -1.0f);
        ASSERT_EQ(r1, -1.0f);
        EXPECT_TRUE(route.links.empty() && route.nodes.empty());
        continue;
      }
      ++reached;
      ASSERT_EQ(r0, want);
      ASSERT_TRUE(Relative(r1, want, 1e-6)) << r1 << " vs " << want;
      settled0 += c.LastSettled();
      settled1 += a1.LastSettled();
      ExpectValidRoute(nw, route, l1, l2, starts, ends);
      (route.links.size() == 1 ? direct : around) += 1;
      if (!turnmode || t.rc == rcDist) {
        const double price = t.rc == rcDist ? nw.RouteLength(route) : t.rc == rcTime ? c.RouteTime(route)
                                                                                      : c.RouteCost(route);
        EXPECT_TRUE(Relative(price, r0, 1e-5)) << price << " vs " << r0;
      }
    }
  }
  EXPECT_GT(reached, pairs / 3);
  EXPECT_GT(direct, 20);
  EXPECT_LT(settled1, settled0);
  RecordProperty("pairs", std::to_string(pairs));
}

TEST_F(RouteDynOracleTest, NodeMode) { Run(false); }
TEST_F(RouteDynOracleTest, TurnMode) { Run(true); }

// Turn mode by time and by cost, every end on a hairpin: A* gives the
// costs of plain order (which the suite above holds to the oracle). The
// estimate to an end point off its link's chord once overshot what the
// rest of the route costs; on these networks that took a route about once
// in a thousand.
TEST_F(RouteDynOracleTest, AStarOnHairpinEnds) {
  ASSERT_GT(gen.Hairpins.size(), 20u);
  TRng g{5};
  for (const TRouteCriteria rc : {rcTime, rcCost}) {
    TRouteCalc c0(nw, true), c1(nw, true);
    for (TRouteCalc* c : {&c0, &c1}) rc == rcTime ? c->SetFastest(false) : c->SetCheapest(false);
    c0.SetAlpha(0);
    for (int32_t k = 0; k < 3000; ++k) {
      const TLocation l1 = RandomLocation(g);
      const TLocation l2{gen.Hairpins[size_t(g.Below(int32_t(gen.Hairpins.size())))], g.Unit()};
      const float want = c0.RouteDyn(l1, l2);
      const float got = c1.RouteDyn(l1, l2);
      ASSERT_TRUE(Relative(got, want, 1e-6))
          << "criterion " << int(rc) << " " << Describe(l1) << " -> " << Describe(l2) << ": " << got << " vs " << want;
    }
  }
}

// With the road hierarchy a route is never cheaper than without it, and
// it is a valid route priced at its result.
TEST_F(RouteDynOracleTest, Hierarchy) {
  for (const bool turnmode : {false, true}) {
    SCOPED_TRACE(turnmode);
    TRouteCalc free(nw, turnmode), h(nw, turnmode);
    free.SetAlpha(0);
    h.SetHierarchy(true);
    h.SetHierarchyLevel(4, 2, 1, 0.5);
    TRng g{3};
    int32_t found = 0;
    TRoute route;
    for (int32_t k = 0; k < 300; ++k) {
      const TLocation l1 = RandomLocation(g), l2 = RandomLocation(g);
      const float best = free.RouteDyn(l1, l2);
      const float r = h.RouteDynEx(l1, l2, route);
      if (r < 0) continue;
      ++found;
      ASSERT_GE(best, 0.0f);
      EXPECT_GE(r, best * (1 - 1e-6f));
      std::vector<int32_t> starts{l1.link}, ends{l2.link};
      if (const int32_t d = nw.GetDuplicateLink(l1.link)) starts.push_back(d);
      if (const int32_t d = nw.GetDuplicateLink(l2.link)) ends.push_back(d);
      ExpectValidRoute(nw, route, l1, l2, starts, ends);
      EXPECT_TRUE(Relative(nw.RouteLength(route), r, 1e-5));
    }
    EXPECT_GT(found, 50);
  }
}

// --- Hand-made networks ------------------------------------------------------------

// In km:
//   D(0,1) -3- E(1,1) -4- F(2,1) -12- Y(3,1)
//   |5         |6         |7          |11
//   A(0,0) -1> B(1,0) -2- C(2,0) =9/10= X(3,0)       G(5,0) -8> H(6,0)
// 1 is one-way A to B, 8 one-way G to H (a component of its own), 9 (C to
// X) and 10 (X to C) a duplicate pair over one line.
class RouteDynFixture : public TTempDirTest {
protected:
  void Open(std::vector<uint8_t> limits = {}) {
    TTestNetworkWriter w;
    w.Unit = cuKm;
    w.AddLink({{0, 0}, {1, 0}}, cAttrOnewayFromTo);
    w.AddLink({{1, 0}, {2, 0}});
    w.AddLink({{0, 1}, {1, 1}});
    w.AddLink({{1, 1}, {2, 1}});
    w.AddLink({{0, 0}, {0, 1}});
    w.AddLink({{1, 0}, {1, 1}});
    w.AddLink({{2, 0}, {2, 1}});
    w.AddLink({{5, 0}, {6, 0}}, cAttrOnewayFromTo);
    w.AddLink({{2, 0}, {3, 0}}, cAttrOnewayFromTo);
    w.AddLink({{2, 0}, {3, 0}}, cAttrOnewayToFrom);
    w.AddLink({{3, 0}, {3, 1}});
    w.AddLink({{3, 1}, {2, 1}});
    w.AddRejected();  // link 13, length 0
    if (limits.empty()) limits.assign(13, 0);
    w.SetLimit(1, limits);
    w.SpatialIndex = true;
    w.Write(dir.string() + "/");
    nw.SetDirectory(dir.string() + "/");
    nw.Open(true, false, true, 0);
    nw.OpenLimit(1, 1, false);
    A = N(0, 0), B = N(1, 0), C = N(2, 0), D = N(0, 1), E = N(1, 1), F = N(2, 1), X = N(3, 0), Y = N(3, 1);
  }
  int32_t N(double x, double y) const {
    for (int32_t n = 1; n <= nw.NodeCount(); ++n)
      if (nw.X()[size_t(n)] == x && nw.Y()[size_t(n)] == y) return n;
    return 0;
  }
  TNetwork nw;
  int32_t A = 0, B = 0, C = 0, D = 0, E = 0, F = 0, X = 0, Y = 0;
};

// The edge cases, in both modes, with plain order and A*.
TEST_F(RouteDynFixture, EdgeCases) {
  std::vector<uint8_t> limits(13, 0);
  limits[4 - 1] = 40;  // link 4 bars a vehicle of 45
  Open(limits);
  ASSERT_EQ(nw.GetDuplicateLink(9), 10);
  struct Row {
    const char* name;
    TLocation l1, l2;
    bool approach;  // RouteDynApproachEx, else RouteDynEx
    TApproach a1, a2;
    int32_t skipNode;
    bool limit;
    float node, turn;  // cost per mode
    TIntegerArray links, nodes;  // node-mode route (turn mode's where both agree)
  };
  const float no = -1;
  const std::vector<Row> rows = {
      {"forward along one link", {2, 0.2}, {2, 0.7}, false, apIgnore, apIgnore, 0, false, 0.5f, 0.5f, {2}, {}},
      {"backward along one link", {2, 0.7}, {2, 0.2}, false, apIgnore, apIgnore, 0, false, 0.5f, 0.5f, {-2}, {}},
      {"same place", {2, 0.4}, {2, 0.4}, false, apIgnore, apIgnore, 0, false, 0, 0, {-2}, {}},
      {"one-way: around the block", {1, 0.7}, {1, 0.2}, false, apIgnore, apIgnore, 0, false, 3.5f, 3.5f,
       {1, 6, -3, -5, 1}, {B, E, D, A}},
      {"one-way: no way around", {8, 0.7}, {8, 0.2}, false, apIgnore, apIgnore, 0, false, no, no, {}, {}},
      {"leaving a one-way backwards", {1, 0.5}, {2, 0.5}, true, apReverse, apIgnore, 0, false, no, no, {}, {}},
      {"free start", {2, 0.5}, {5, 0.5}, false, apIgnore, apIgnore, 0, false, 3, 3, {-2, 6, -3, -5}, {B, E, D}},
      {"start forward", {2, 0.5}, {5, 0.5}, true, apForward, apIgnore, 0, false, 4, 4, {2, 7, -4, -3, -5},
       {C, F, E, D}},
      {"end reverse", {2, 0.5}, {5, 0.5}, true, apIgnore, apReverse, 0, false, 3, 3, {-2, 6, -3, -5}, {B, E, D}},
      // Reaching 5 from A needs a turn at A onto the link just driven.
      {"end forward", {2, 0.5}, {5, 0.5}, true, apIgnore, apForward, 0, false, 4, no, {-2, 6, -3, -5, 5},
       {B, E, D, A}},
      {"the cheaper duplicate", {9, 0.5}, {2, 0.5}, false, apIgnore, apIgnore, 0, false, 1, 1, {-10, -2}, {C}},
      {"the approach form ignores duplicates", {9, 0.5}, {2, 0.5}, true, apIgnore, apIgnore, 0, false, 2, 2,
       {9, -10, -2}, {X, C}},
      {"end of one link to start of the next", {1, 1.0}, {2, 0.0}, false, apIgnore, apIgnore, 0, false, 0, 0,
       {1, 2}, {B}},
      {"end link's from-node skipped", {5, 0.5}, {2, 0.5}, false, apIgnore, apIgnore, B, false, 4, 4,
       {5, 3, 4, -7, -2}, {D, E, F, C}},
      {"end link's from-node free", {5, 0.5}, {2, 0.5}, false, apIgnore, apIgnore, 0, false, 2, 2, {-5, 1, 2}, {A, B}},
      {"vehicle-barred link", {4, 0.2}, {4, 0.7}, false, apIgnore, apIgnore, 0, true, no, no, {}, {}},
      {"vehicle-barred start", {4, 0.2}, {3, 0.7}, false, apIgnore, apIgnore, 0, true, no, no, {}, {}},
      {"around a barred link", {3, 0.5}, {7, 0.5}, false, apIgnore, apIgnore, 0, true, 3, 3, {3, -6, 2, 7}, {E, B, C}},
      {"the barred link unbarred", {3, 0.5}, {7, 0.5}, false, apIgnore, apIgnore, 0, false, 2, 2, {3, 4, -7}, {E, F}},
      {"another component", {2, 0.5}, {8, 0.5}, false, apIgnore, apIgnore, 0, false, no, no, {}, {}},
      {"end side closed by its one-way", {2, 0.5}, {1, 0.5}, true, apIgnore, apReverse, 0, false, no, no, {}, {}},
      {"start node skipped", {2, 0.5}, {5, 0.5}, true, apForward, apIgnore, C, false, no, no, {}, {}},
  };
  TBitArray skip(int64_t(nw.NodeCount()) + 1);
  for (const bool turnmode : {false, true})
    for (const float alpha : {0.0f, 1.0f}) {
      TRouteCalc c(nw, turnmode);
      c.SetAlpha(alpha);
      for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.name) + (turnmode ? " turn" : " node") + " alpha " + std::to_string(alpha));
        skip.SetAllFalse();
        if (r.skipNode) skip.SetBit2(r.skipNode, true);
        c.SetSkipNodeList(r.skipNode ? &skip : nullptr);
        c.SetLimit(1, r.limit ? 45 : 0);
        TRoute route;
        route.links = {99};
        const float got =
            r.approach ? c.RouteDynApproachEx(r.l1, r.l2, r.a1, r.a2, route) : c.RouteDynEx(r.l1, r.l2, route);
        const float want = turnmode ? r.turn : r.node;
        EXPECT_TRUE(Relative(got, want, 1e-6)) << got << " vs " << want;
        const float costOnly = r.approach ? c.RouteDynApproach(r.l1, r.l2, r.a1, r.a2) : c.RouteDyn(r.l1, r.l2);
        EXPECT_EQ(costOnly, got);
        EXPECT_EQ(route.percent1, double(r.l1.percent));
        EXPECT_EQ(route.percent2, double(r.l2.percent));
        if (want < 0) {
          EXPECT_TRUE(route.links.empty() && route.nodes.empty());
          continue;
        }
        EXPECT_TRUE(Relative(nw.RouteLength(route), want, 1e-6));
        if (alpha != 0) continue;  // A* may take another route of the same cost
        EXPECT_EQ(route.links, r.links);
        EXPECT_EQ(route.nodes, r.nodes);
      }
    }
}

// The direct cost along a shared link does not end the turn-mode search
// early: a label above it can still arrive below it. On S = A-B (cost 1,
// two-way) from 0.9 to 0.1 the way back along S costs 0.8, but forward to B
// (0.1), over the one-way P from B to A (0.01) and forward to 0.1 (0.1)
// costs 0.21; the detour X-Y over C (1.5) is taken from the queue at 0.85
// before the label of S at B (1.11) and must not end the search.
using RouteDynTurnMode = TTempDirTest;

TEST_F(RouteDynTurnMode, DoesNotStopAtTheDirectCost) {
  TTestNetworkWriter w;
  w.Unit = cuKm;
  w.AddLink({{0, 0}, {1, 0}});                          // S
  w.AddLink({{1, 0}, {0.5, -0.2}, {0, 0}}, cAttrOnewayFromTo);  // P, from B to A
  w.AddLink({{1, 0}, {0.5, 0.8}});                      // X
  w.AddLink({{0.5, 0.8}, {0, 0}});                      // Y
  w.SpatialIndex = true;
  w.Write(dir.string() + "/");
  TNetwork nw;
  nw.SetDirectory(dir.string() + "/");
  nw.Open(true, false, true, 0);
  ASSERT_EQ(nw.CulDeSacs().CountTrue(), 0);
  nw.CreateArrayTime(1);
  const float times[] = {1, 0.01f, 0.75f, 0.75f};
  for (int32_t l = 1; l <= 4; ++l) nw.SetTime(0, l, times[l - 1]);
  const int32_t a = nw.Fromnodes()[1], b = nw.Tonodes()[1];
  TRouteCalc node(nw, false);
  node.SetFastest(false);
  node.SetAlpha(0);
  TRoute route;
  const float want = node.RouteDynEx({1, 0.9}, {1, 0.1}, route);
  EXPECT_TRUE(Relative(want, 0.21, 1e-6)) << want;
  EXPECT_EQ(route.links, (TIntegerArray{1, 2, 1}));
  EXPECT_EQ(route.nodes, (TIntegerArray{b, a}));
  for (const float alpha : {0.0f, 1.0f}) {
    SCOPED_TRACE(alpha);
    TRouteCalc turn(nw, true);
    turn.SetFastest(false);
    turn.SetAlpha(alpha);
    const float got = turn.RouteDynEx({1, 0.9}, {1, 0.1}, route);
    EXPECT_TRUE(Relative(got, want, 1e-6)) << got;
    EXPECT_EQ(route.links, (TIntegerArray{1, 2, 1}));
    EXPECT_EQ(route.nodes, (TIntegerArray{b, a}));
  }
}

// Bad locations and a closed network raise before anything of the last
// search changes; every method checks both locations.
TEST_F(RouteDynFixture, BadInput) {
  Open();
  const std::string big = std::to_string(nw.LinkCount() + 1), count = std::to_string(nw.LinkCount());
  struct Bad {
    TLocation loc;
    std::string message;
  };
  const Bad bad[] = {
      {{0, 0.5}, "Link-ID must be >=1: 0"},
      {{nw.LinkCount() + 1, 0.5}, "Link-ID must be <=" + count + ": " + big},
      {{2, -0.1}, "Percentage must be 0<=percent<=1: -0.10"},
      {{2, 1.5}, "Percentage must be 0<=percent<=1: 1.50"},
      {{2, std::nan("")}, ""},
      {{13, 0.5}, "Location (link 13), is a non-valid link"},
  };
  for (const bool turnmode : {false, true}) {
    SCOPED_TRACE(turnmode);
    TRouteCalc c(nw, turnmode);
    c.SetAlpha(0);
    ASSERT_EQ(c.RouteDyn({2, 0.5}, {5, 0.5}), 3.0f);
    const float before = c.NodeCost(E);
    ASSERT_LT(before, cInfinity);
    const TLocation good{2, 0.5};
    for (const Bad& b : bad) {
      SCOPED_TRACE(b.message);
      for (int32_t which = 0; which < 8; ++which) {
        const TLocation l1 = which % 2 == 0 ? b.loc : good, l2 = which % 2 == 0 ? good : b.loc;
        TRoute route;
        route.links = {99};
        const std::string m = MessageOf([&] {
          switch (which / 2) {
            case 0: c.RouteDyn(l1, l2); break;
            case 1: c.RouteDynEx(l1, l2, route); break;
            case 2: c.RouteDynApproach(l1, l2, apIgnore, apIgnore); break;
            default: c.RouteDynApproachEx(l1, l2, apIgnore, apIgnore, route); break;
          }
        });
        if (b.message.empty()) EXPECT_EQ(m.rfind("Percentage must be 0<=percent<=1: ", 0), 0u) << m;
        else EXPECT_EQ(m, b.message);
        EXPECT_EQ(c.NodeCost(E), before);
      }
    }
    nw.Close();
    EXPECT_EQ(MessageOf<ENetworkIsClosed>([&] { c.RouteDyn({2, 0.5}, {5, 0.5}); }), "Network is not open");
    TRoute route;
    EXPECT_EQ(MessageOf<ENetworkIsClosed>([&] { c.RouteDynApproachEx({2, 0.5}, {5, 0.5}, apIgnore, apIgnore, route); }),
              "Network is not open");
    nw.Open(true, false, true, 0);
  }
}

// --- Faults once found in the location routes, one row each ---------------------

// A hairpin end link under A* by time. In km: S(2,-3) -1- F(0,0), S -2-
// T(4,0), the hairpin F -3- T over V(0,10), F -4- Y(0,9) -5- S. Times 5,
// 4.5, 4, 9 and 20: every time is at least its chord (the factor is 1, set
// by links 3 and 4). The end location is half way along 3, at (0.14, 9.64):
// from S it costs 4.5 + 2 arriving from T, 5 + 2 from F. The estimate from
// T to that point (10.4) is far above what the rest costs (2): before the
// mend A* took 3 from F (9) first, then Y (14, estimate 0.7) above that
// arrival plus the whole end link (13), gave up arriving from T (key 14.9)
// and answered 7.
class HairpinFixture : public TTempDirTest {
protected:
  TNetwork& Open() {
    TTestNetworkWriter w;
    w.Unit = cuKm;
    w.AddLink({{2, -3}, {0, 0}});
    w.AddLink({{2, -3}, {4, 0}});
    w.AddLink({{0, 0}, {0, 10}, {4, 0}});
    w.AddLink({{0, 0}, {0, 9}});
    w.AddLink({{0, 9}, {2, -3}});
    w.SetAttribute(1, 0);
    w.SpatialIndex = true;
    w.Write(dir.string() + "/");
    nw.SetDirectory(dir.string() + "/");
    nw.Open(true, false, true, 0);
    nw.CreateArrayTime(1);
    const float times[] = {5, 4.5f, 4, 9, 20};
    for (int32_t l = 1; l <= 5; ++l) nw.SetTime(0, l, times[l - 1]);
    return nw;
  }
  TNetwork nw;
};

TEST_F(HairpinFixture, AStarOnABentEndLink) {
  Open();
  const int32_t S = nw.Fromnodes()[1], T = nw.Tonodes()[2];
  for (const bool turnmode : {false, true})
    for (const float alpha : {0.0f, 1.0f}) {
      SCOPED_TRACE(std::string(turnmode ? "turn" : "node") + " alpha " + std::to_string(alpha));
      TRouteCalc c(nw, turnmode);
      c.SetFastest(false);
      c.SetAlpha(alpha);
      TRoute r;
      EXPECT_TRUE(Relative(c.RouteDynEx({1, 0}, {3, 0.5}, r), 6.5, 1e-6)) << c.RouteDyn({1, 0}, {3, 0.5});
      EXPECT_EQ(r.links, (TIntegerArray{-1, 2, -3}));
      EXPECT_EQ(r.nodes, (TIntegerArray{S, T}));
    }
}

// The lowering of the estimates that the bent end link asks for belongs to
// that one search. Before the mend it stayed in force for the calculator's
// next searches: Route T -> Y by A* then settled S (key 8.3 instead of
// 16.7) before Y, one state more than on a fresh calculator.
TEST_F(HairpinFixture, LoweredEstimateEndsWithItsSearch) {
  Open();
  const int32_t T = nw.Tonodes()[2], Y = nw.Tonodes()[4];
  TRouteCalc fresh(nw, true), used(nw, true);
  for (TRouteCalc* c : {&fresh, &used}) {
    c->SetFastest(false);
    c->SetAlpha(1);
  }
  ASSERT_TRUE(Relative(used.RouteDyn({1, 0}, {3, 0.5}), 6.5, 1e-6));
  EXPECT_EQ(used.Route(T, Y), 13.0f);
  EXPECT_EQ(fresh.Route(T, Y), 13.0f);
  EXPECT_EQ(used.LastSettled(), fresh.LastSettled());
  EXPECT_EQ(used.LastPushed(), fresh.LastPushed());
  EXPECT_EQ(used.LastSettled(), 2);
}

// Before their mends: a turn-mode location route skipped the dead end that
// a prohibited turn left the only place to turn round (-1 instead of 3),
// and RouteFind after a route that went round the block to its own link
// walked a cycle of predecessors ("Route walk did not reach the origin").
using SpurRouteDyn = SpurFixture;

TEST_F(SpurRouteDyn, MendedFaults) {
  Open();
  struct TRow {
    const char* name;
    bool turnCosts;
    float cost;
    TIntegerArray links;
  };
  const TRow rows[] = {
      {"prohibited turns: round at the dead end", true, 3, {1, 5, -5, 2}},
      {"no turn rules: the dead end skipped", false, 1, {1, 2}},
  };
  for (const TRow& row : rows)
    for (const float alpha : {0.0f, 1.0f}) {
      SCOPED_TRACE(std::string(row.name) + " alpha " + std::to_string(alpha));
      TRouteCalc c(nw, true);
      c.SetShortest(row.turnCosts);
      c.SetAlpha(alpha);
      TRoute r;
      EXPECT_EQ(c.RouteDynEx({1, 0.5}, {2, 0.5}, r), row.cost);
      EXPECT_EQ(r.links, row.links);
      c.IsoCostDyn({1, 0.5});
      EXPECT_EQ(c.LinkCostDyn({2, 0.5}), row.cost);
    }
}

TEST_F(RouteDynFixture, RouteFindAfterARouteRoundTheBlock) {
  Open();
  for (const bool turnmode : {false, true}) {
    SCOPED_TRACE(turnmode);
    TRouteCalc c(nw, turnmode);
    TRoute r;
    // Back along the one-way link 1: round over E, D and A.
    EXPECT_TRUE(Relative(c.RouteDynEx({1, 0.7}, {1, 0.2}, r), 3.5, 1e-6));
    EXPECT_EQ(r.links, (TIntegerArray{1, 6, -3, -5, 1}));
    if (turnmode) {
      EXPECT_EQ(MessageOf([&] { c.RouteFind(E); }), cMsgRouteFindAfterLocationRoute);
    } else {
      // Node mode follows the settling links back to a seeded end of link 1.
      EXPECT_EQ(c.RouteFind(E).nodes, (TIntegerArray{B, E}));
    }
    // After a route between nodes RouteFind works again.
    EXPECT_EQ(c.Route(A, E), 2.0f);
    EXPECT_EQ(c.RouteFind(E).links, (TIntegerArray{1, 6}));
  }
}

}  // namespace
