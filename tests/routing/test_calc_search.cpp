// The search core: stamped labels, the node-mode and turn-mode expansions
// against the Boost Graph oracle's arcs, and the rules of the expansions on
// hand-made fixtures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "network/kovra_network.h"
#include "network/kovra_turn.h"
#include "network/support/network_writer.h"
#include "routing/kovra_calc.h"
#include "routing/kovra_calc_search.h"
#include "routing/support/bgl_oracle.h"
#include "routing/support/netgen.h"
#include "routing/support/netgen_test.h"
#include "support/temp_dir_test.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace kovra {
// Reaches the settings only the point-to-point searches set (hierarchy).
struct TSearchProbe : TCalc {
  using TCalc::TCalc;
  TCalcSettings& S() { return fS; }
};
}  // namespace kovra

namespace {

template <class T>
struct TRecorder {
  std::vector<T> items;
  void Enq(const T& item) { items.push_back(item); }
};

// The options of an expansion: culdesac false avoids dead ends, ndt 0/1/2 is
// off, the two ends' areas, the origin's area.
TExpandOptions Opts(bool culdesac, int32_t ndt, bool hierarchy, const TFloatPoint& target = {}, bool astar = false,
                    bool ignoreAll = false, int32_t noEstimateLink = 0) {
  TExpandOptions o;
  o.filters = !ignoreAll;
  o.deadEnds = culdesac ? TDeadEnds::Enter : TDeadEnds::Avoid;
  o.noDriveThrough = ndt == 1 ? TNoDriveThrough::Ends : ndt == 2 ? TNoDriveThrough::Origin : TNoDriveThrough::Off;
  o.hierarchy = hierarchy;
  o.astar = astar;
  o.target = target;
  o.noEstimateLink = noEstimateLink;
  return o;
}

// --- Expansions against the oracle ----------------------------------------

struct TFilterCase {
  bool ignoreOneway, skip, limits, culdesac, window, hierarchy;
  int32_t ndt;
  bool turnCosts;
};

std::string Describe(const TFilterCase& f) {
  return std::string("oneway ") + (f.ignoreOneway ? "ignored" : "kept") + ", skip " + (f.skip ? "on" : "off") +
         ", limits " + (f.limits ? "on" : "off") + ", cul-de-sac " + (f.culdesac ? "allowed" : "refused") +
         ", window " + (f.window ? "on" : "off") + ", hierarchy " + (f.hierarchy ? "on" : "off") + ", ndt " +
         std::to_string(f.ndt) + ", turn costs " + (f.turnCosts ? "on" : "off");
}

class ExpansionOracleTest : public TGenNetworkTest {
protected:
  void SetUp() override {
    TNetGenOptions o;
    o.Seed = 20;
    o.Nodes = 600 * RoutingScale();
    o.Restrictions2 = 150;
    o.Areas = 3;
    o.LimitShare = 0.2;
    Generate(o);
    skip = EveryNth(nw.LinkCount(), 1, 7);
    window = std::make_unique<TBitArray>(int64_t(nw.NodeCount()) + 1);
    const double mid = (nw.MBR().xmin + nw.MBR().xmax) / 2;
    for (int32_t n = 1; n <= nw.NodeCount(); ++n) window->SetBit2(n, nw.X()[size_t(n)] < mid);
    target = {nw.MBR().xmax, nw.MBR().ymax};
  }

  // Sets the calculator and the oracle to the same filters.
  TOracleOptions Configure(TSearchProbe& c, const TFilterCase& f) {
    TOracleOptions o;
    c.SetIgnoreOneway(f.ignoreOneway);
    o.IgnoreOneway = f.ignoreOneway;
    c.SetSkipLinkList(f.skip ? skip.get() : nullptr);
    o.Skip = f.skip ? skip.get() : nullptr;
    c.SetLimit(1, f.limits ? 40 : 0);
    c.SetLimit(2, f.limits ? 0x04 : 0);
    if (f.limits) o.Vehicle[0] = 40, o.Vehicle[1] = 0x04;
    o.CulDeSacAllowed = f.culdesac;
    c.SetIncludeNodes(f.window ? window.get() : nullptr);
    o.Window = f.window ? window.get() : nullptr;
    if (f.hierarchy) {
      // Limits that give every level somewhere on the network.
      const double span = nw.DistanceBetweenPoints(TFloatPoint{nw.MBR().xmin, nw.MBR().ymin}, target);
      c.S().FLevelLimit = {span * 0.8, span * 0.6, span * 0.4, span * 0.2};
      c.S().Lmax = 1;
      const auto L = c.S().FLevelLimit;
      o.Level = [this, L](int32_t n) {
        const double d = nw.DistanceBetweenPoints(nw.Node2Coordinate(n), target);
        return d > L[0] ? 1 : d > L[1] ? 2 : d > L[2] ? 3 : d > L[3] ? 4 : 5;
      };
    }
    o.NdtMode = f.ndt;
    if (c.Turnmode() && f.turnCosts) {
      c.SetFastest(true);
      o.Criterion = rcTime;
      o.TurnCosts = true;
    }
    c.CheckNetwork(true);
    if (f.ndt != 0) c.PrepareNoDriveThrough(0, 0);
    return o;
  }

  std::vector<TFilterCase> Cases() const {
    std::vector<TFilterCase> cases;
    for (int32_t bits = 0; bits < 64; ++bits)
      for (int32_t ndt = 0; ndt <= 2; ++ndt)
        cases.push_back({(bits & 1) != 0, (bits & 2) != 0, (bits & 4) != 0, (bits & 8) != 0, (bits & 16) != 0,
                         (bits & 32) != 0, ndt, (bits & 5) == 5});
    return cases;
  }

  std::unique_ptr<TBitArray> skip, window;
  TFloatPoint target;
};

TEST_F(ExpansionOracleTest, NodeModeEnqueuesExactlyTheOutArcs) {
  for (const TFilterCase& f : Cases()) {
    SCOPED_TRACE(Describe(f));
    TSearchProbe c(nw, false);
    TBglOracle oracle(nw, Configure(c, f));
    int64_t compared = 0;
    for (int32_t n = 1; n <= nw.NodeCount(); ++n) {
      c.ResetNodeLabels();
      const float c0 = 0.1f * float(n % 13);
      c.SetNodeLabel(n, c0, 0, 0);
      TRecorder<TPQitem> rec;
      c.ExpandNodeModeInto(rec, n, Opts(f.culdesac, f.ndt, f.hierarchy, target));
      const auto arcs = oracle.NodeArcs(n);
      ASSERT_EQ(rec.items.size(), arcs.size()) << "node " << n;
      for (size_t i = 0; i < arcs.size(); ++i) {
        const TPQitem& it = rec.items[i];
        EXPECT_EQ(it.FromNode, n);
        EXPECT_EQ(it.ToNode, arcs[i].to);
        EXPECT_EQ(it.link, arcs[i].link);
        EXPECT_EQ(it.cost, float(double(c0) + double(arcs[i].weight.w)));
        EXPECT_EQ(it.sortvar, it.cost);
      }
      compared += int64_t(arcs.size());
    }
    EXPECT_GT(compared, 0);
  }
}

TEST_F(ExpansionOracleTest, TurnModeEnqueuesExactlyTheOutArcs) {
  for (const TFilterCase& f : Cases()) {
    SCOPED_TRACE(Describe(f));
    TSearchProbe c(nw, true);
    TBglOracle oracle(nw, Configure(c, f));
    int64_t compared = 0;
    auto check = [&](const std::vector<TPQturnitem>& items, const std::vector<TOracleArc>& arcs, int32_t node,
                     float c0) {
      ASSERT_EQ(items.size(), arcs.size()) << "node " << node;
      for (size_t i = 0; i < arcs.size(); ++i) {
        const TPQturnitem& it = items[i];
        const int32_t L = arcs[i].link;
        EXPECT_EQ(it.FromLink, arcs[i].fromLink);
        EXPECT_EQ(it.Node, node);
        EXPECT_EQ(it.ToLink, L);
        EXPECT_EQ(it.NextNode, nw.Fromnodes()[size_t(L)] + nw.Tonodes()[size_t(L)] - node);
        EXPECT_EQ(it.cost, float((double(arcs[i].weight.t) + double(c0)) + double(arcs[i].weight.w)));
      }
      compared += int64_t(arcs.size());
    };
    for (int32_t K = 1; K <= nw.LinkCount(); ++K) {
      for (const bool forward : {true, false}) {
        const int32_t node = forward ? nw.Tonodes()[size_t(K)] : nw.Fromnodes()[size_t(K)];
        c.ResetLinkLabels();
        const float c0 = 0.25f * float(K % 7);
        c.SetState(K, forward, c0, 0);
        TRecorder<TPQturnitem> rec;
        c.ExpandTurnModeInto(rec, K, node, c0, Opts(f.culdesac, f.ndt, f.hierarchy, target));
        check(rec.items, oracle.StateArcs(K, forward), node, c0);
      }
    }
    // The origin: every leaving state of the node, no turn rules.
    for (int32_t n = 1; n <= nw.NodeCount(); ++n) {
      c.ResetLinkLabels();
      TRecorder<TPQturnitem> rec;
      c.ExpandTurnModeInto(rec, 0, n, 0, Opts(f.culdesac, f.ndt, f.hierarchy, target));
      check(rec.items, oracle.SourceArcs(n), n, 0);
    }
    EXPECT_GT(compared, 0);
  }
}

// --- Hand-made fixture -------------------------------------------------------

// In km:
//   P(-2,0) -1-> Q(-1,0) -2-> Z(0,0) -3-> R(1,0) -8-> V(2,0) (V a dead end)
//   T(-1,-1) -4-> Q,  Z -5-> U(0,1),  P -6-> T,  U -7-> R
// Links run in the direction given; 8 is the only cul-de-sac link.
class SearchFixture : public TTempDirTest {
protected:
  TNetwork& Open() {
    TTestNetworkWriter w;
    w.Unit = cuKm;
    w.AddLink({{-2, 0}, {-1, 0}});
    w.AddLink({{-1, 0}, {0, 0}});
    w.AddLink({{0, 0}, {1, 0}});
    w.AddLink({{-1, -1}, {-1, 0}});
    w.AddLink({{0, 0}, {0, 1}});
    w.AddLink({{-2, 0}, {-1, -1}});
    w.AddLink({{0, 1}, {1, 0}});
    w.AddLink({{1, 0}, {2, 0}});
    w.SetAttribute(1, 0);  // "attribute.bin" for the attribute words
    w.SpatialIndex = true;
    w.Write(dir.string() + "/");
    nw.SetDirectory(dir.string() + "/");
    nw.Open(true, false, true, 0);
    nw.CreateArrayTime(1);  // times start as the lengths
    return nw;
  }
  int32_t N(double x, double y) const {
    for (int32_t n = 1; n <= nw.NodeCount(); ++n)
      if (nw.X()[size_t(n)] == x && nw.Y()[size_t(n)] == y) return n;
    return 0;
  }
  // The links a turn-mode expansion of (cur, node, cost) enqueues.
  std::vector<int32_t> TurnInto(TCalc& c, int32_t cur, int32_t node, float cost = 1, int32_t ndt = 0,
                                bool hierarchy = false, std::vector<float>* costs = nullptr) {
    TRecorder<TPQturnitem> rec;
    c.ExpandTurnModeInto(rec, cur, node, cost, Opts(true, ndt, hierarchy));
    std::vector<int32_t> links;
    for (const auto& it : rec.items) {
      links.push_back(it.ToLink);
      if (costs) costs->push_back(it.cost);
    }
    return links;
  }
  std::vector<int32_t> NodeInto(TCalc& c, int32_t node, bool ignoreAll = false, bool hierarchy = false) {
    TRecorder<TPQitem> rec;
    c.ExpandNodeModeInto(rec, node, Opts(true, 0, hierarchy, {}, false, ignoreAll));
    std::vector<int32_t> links;
    for (const auto& it : rec.items) links.push_back(it.link);
    return links;
  }
  TNetwork nw;
};

using Links = std::vector<int32_t>;

TEST_F(SearchFixture, CulDeSacFixtureIsAsDrawn) {
  Open();
  for (int32_t l = 1; l <= 8; ++l) EXPECT_EQ(nw.CulDeSacs().GetBit(l), l == 8) << l;
}

// A negative adjacency entry is never left through unless the one-way rule is
// ignored or every link is admitted.
TEST_F(SearchFixture, NegativeEntryIsLeftOnlyWhenOneWayIgnored) {
  Open();
  nw.OneWaySet(2, cAttrOnewayFromTo);  // 2 only Q -> Z: its entry at Z is negative
  const int32_t Z = N(0, 0);
  struct Row {
    bool turnmode, ignoreOneway, ignoreAll;
    bool entered;
  };
  for (const Row& r : {Row{false, false, false, false}, Row{false, true, false, true}, Row{false, false, true, true},
                       Row{true, false, false, false}, Row{true, true, false, true}, Row{true, false, true, true}}) {
    SCOPED_TRACE(testing::Message() << r.turnmode << r.ignoreOneway << r.ignoreAll);
    TCalc c(nw, r.turnmode);
    c.SetIgnoreOneway(r.ignoreOneway);
    c.CheckNetwork(true);
    Links got;
    if (r.turnmode) {
      c.ResetLinkLabels();
      TRecorder<TPQturnitem> rec;
      c.ExpandTurnModeInto(rec, 0, Z, 0, Opts(true, 0, false, {}, false, r.ignoreAll));
      for (const auto& it : rec.items) got.push_back(it.ToLink);
    } else {
      c.ResetNodeLabels();
      c.SetNodeLabel(Z, 0, 0, 0);
      got = NodeInto(c, Z, r.ignoreAll);
    }
    EXPECT_EQ(std::find(got.begin(), got.end(), 2) != got.end(), r.entered);
  }
}

// Q -2-> Z then into 3: a 2-link restriction (2, 3) prohibits or costs.
TEST_F(SearchFixture, TwoLinkRestrictionProhibitsOrCosts) {
  Open();
  const int32_t Z = N(0, 0);
  struct Row {
    float value;
    TRouteCriteria rc;
    bool entered;
    float cost;  // of the item into 3 after cost 1 (link 3 is 1 km and 1 minute)
  };
  for (const Row& r : {Row{-1, rcTime, false, 0}, Row{-1, rcDist, false, 0}, Row{2.5f, rcTime, true, 4.5f},
                       Row{2.5f, rcDist, true, 2.0f}}) {
    SCOPED_TRACE(testing::Message() << r.value << " " << int(r.rc));
    nw.TurnSet(0).AddSimple(2, 3, r.value);
    TCalc c(nw, true);
    if (r.rc == rcTime) c.SetFastest(true); else c.SetShortest(true);
    c.CheckNetwork(true);
    c.ResetLinkLabels();
    c.SetState(2, true, 1, 1);
    std::vector<float> costs;
    const Links got = TurnInto(c, 2, Z, 1, 0, false, &costs);
    const auto at = std::find(got.begin(), got.end(), 3);
    ASSERT_EQ(at != got.end(), r.entered);
    if (r.entered) {
      EXPECT_EQ(costs[size_t(at - got.begin())], r.cost);
    }
    // Without turn costs the restriction is not looked at.
    TCalc plain(nw, true);
    plain.CheckNetwork(true);
    plain.ResetLinkLabels();
    plain.SetState(2, true, 1, 1);
    const Links all = TurnInto(plain, 2, Z);
    EXPECT_TRUE(std::find(all.begin(), all.end(), 3) != all.end());
  }
}

// (1, 2, 3) applies only when the state of 2 was reached from 1.
TEST_F(SearchFixture, ThreeLinkRestrictionOnlyViaItsFirstLink) {
  Open();
  nw.TurnSet(0).Add({std::vector<int32_t>{1, 2, 3}, -1});
  const int32_t Z = N(0, 0);
  for (const int32_t via : {1, 4}) {
    TCalc c(nw, true);
    c.SetShortest(true);
    c.CheckNetwork(true);
    c.ResetLinkLabels();
    c.SetState(via, true, 1, 0);
    c.SetState(2, true, 2, via);
    const Links got = TurnInto(c, 2, Z, 2);
    EXPECT_EQ(std::find(got.begin(), got.end(), 3) != got.end(), via != 1) << "via " << via;
  }
}

// Both states of the middle link labelled from different predecessors: the
// walk must follow the state the vehicle drove. Reading the backward label
// whenever it exists, a tempting shortcut, gets both rows wrong.
TEST_F(SearchFixture, RestrictionWalkFollowsTheDrivenState) {
  Open();
  const int32_t Z = N(0, 0);
  struct Row {
    int32_t first;       // the restriction (first, 2, 3)
    int32_t forwardPred;  // 2 driven Q -> Z came from
    int32_t backwardPred;
    bool entered;
  };
  for (const Row& r : {Row{1, 1, -5, false}, Row{5, 4, -5, true}}) {
    SCOPED_TRACE(r.first);
    nw.TurnSet(0).Clear();
    nw.TurnSet(0).Add({std::vector<int32_t>{r.first, 2, 3}, -1});
    TCalc c(nw, true);
    c.SetShortest(true);
    c.CheckNetwork(true);
    c.ResetLinkLabels();
    c.SetState(2, true, 2, r.forwardPred);
    c.SetState(2, false, 3, r.backwardPred);
    const int32_t firstRule = c.P2array(2) != cNoPred ? std::abs(c.P2array(2)) : std::abs(c.P1array(2));
    // The first rule prohibits exactly where the driven state does not.
    EXPECT_EQ(firstRule == r.first, r.entered);
    const Links got = TurnInto(c, 2, Z, 2);
    EXPECT_EQ(std::find(got.begin(), got.end(), 3) != got.end(), r.entered);
  }
}

// Turning back onto the arrival link: UTurnAllowed x cul-de-sac x the flag at
// that end.
TEST_F(SearchFixture, UTurnMatrix) {
  Open();
  const int32_t Z = N(0, 0), V = N(2, 0);
  struct Row {
    int32_t link;  // arrived forward, turning at its to-node
    bool allowed;
    uint16_t flag;
    bool permitted;
  };
  const Row rows[] = {
      {2, false, 0, false},           {2, true, 0, true},
      {2, true, cAttrUturnTo, false}, {2, true, cAttrUturnFrom, true},  // the other end's flag
      {8, false, 0, true},            {8, false, cAttrUturnTo, true},   // a cul-de-sac link always
      {8, true, cAttrUturnTo, true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.link << " " << r.allowed << " " << r.flag);
    nw.AttributeSet(r.link, r.flag);
    TCalc c(nw, true);
    c.SetUTurnAllowed(r.allowed);
    c.CheckNetwork(true);
    c.ResetLinkLabels();
    const int32_t at = r.link == 2 ? Z : V;
    c.SetState(r.link, true, 1, 0);
    EXPECT_EQ(c.UTurnPermitted(r.link, at), r.permitted);
    const Links got = TurnInto(c, r.link, at);
    EXPECT_EQ(std::find(got.begin(), got.end(), r.link) != got.end(), r.permitted);
    nw.AttributeSet(r.link, 0);
  }
}

// With hierarchy on and the default limits, levels 6 and 7 are never used;
// without it (trees) nothing is excluded.
TEST_F(SearchFixture, HierarchyDefaultsExcludeSixAndSeven) {
  Open();
  nw.SetHierarchy(3, 6);
  nw.SetHierarchy(5, 7);
  nw.SetHierarchy(2, 5);
  const int32_t Z = N(0, 0);
  for (bool turnmode : {false, true}) {
    TCalc c(nw, turnmode);
    c.CheckNetwork(true);
    EXPECT_EQ(c.HierarchyLevel(0, 0), 5);
    EXPECT_EQ(c.HierarchyLevel(1e30, 3), 5);
    for (bool hierarchy : {true, false}) {
      Links got;
      if (turnmode) {
        c.ResetLinkLabels();
        got = TurnInto(c, 0, Z, 0, 0, hierarchy);
      } else {
        c.ResetNodeLabels();
        c.SetNodeLabel(Z, 0, 0, 0);
        TRecorder<TPQitem> rec;
        c.ExpandNodeModeInto(rec, Z, Opts(true, 0, hierarchy));
        for (const auto& it : rec.items) got.push_back(it.link);
      }
      EXPECT_EQ(got, hierarchy ? (Links{2}) : (Links{2, 3, 5})) << turnmode;
    }
  }
}

// A node outside the include-node window is labelled when reached but not
// expanded.
TEST_F(SearchFixture, WindowNodeIsReachedNotExpanded) {
  Open();
  const int32_t Q = N(-1, 0), Z = N(0, 0);
  TBitArray window(int64_t(nw.NodeCount()) + 1);
  window.SetBit2(Q, true);
  for (bool turnmode : {false, true}) {
    TCalc c(nw, turnmode);
    c.SetIncludeNodes(&window);
    c.CheckNetwork(true);
    if (turnmode) {
      c.ResetLinkLabels();
      EXPECT_EQ(TurnInto(c, 0, Q, 0), (Links{1, 2, 4}));  // reaches Z over 2
      c.SetState(2, true, 1, 0);
      EXPECT_EQ(TurnInto(c, 2, Z, 1), Links{});
    } else {
      c.ResetNodeLabels();
      c.SetNodeLabel(Q, 0, 0, 0);
      EXPECT_EQ(NodeInto(c, Q), (Links{1, 2, 4}));
      c.SetNodeLabel(Z, 1, Q, 2);
      EXPECT_EQ(NodeInto(c, Z), Links{});
    }
  }
}

// No-drive-through: link 3, 7 and 8 form an area (the dead end 8 joins it).
// From outside, mode 1 refuses the area, mode 2 enters it but does not leave
// it again onto a link outside.
TEST_F(SearchFixture, NoDriveThroughEntersButNeverLeavesAForeignArea) {
  Open();
  for (int32_t l : {3, 7}) nw.AttributeSet(l, cAttrNoDriveThrough);
  nw.NoDriveThroughInit();
  const int32_t Z = N(0, 0), R = N(1, 0), U = N(0, 1);
  ASSERT_NE(nw.AreaList().GetArea(3), 0);
  for (int32_t mode : {1, 2}) {
    TCalc c(nw, true);
    c.CheckNetwork(true);
    c.PrepareNoDriveThrough(0, 0);
    c.ResetLinkLabels();
    const Links fromZ = TurnInto(c, 0, Z, 0, mode);
    EXPECT_EQ(std::find(fromZ.begin(), fromZ.end(), 3) != fromZ.end(), mode == 2);
    // Arrived at R inside the area over 3: only area links follow.
    c.SetState(3, true, 1, 0);
    const Links fromR = TurnInto(c, 3, R, 1, mode);
    for (int32_t l : fromR) EXPECT_NE(nw.AreaList().GetArea(l), 0) << l;
    // Arrived at U over 5 (outside): 7 is in the area.
    c.SetState(5, true, 1, 0);
    const Links fromU = TurnInto(c, 5, U, 1, mode);
    EXPECT_EQ(std::find(fromU.begin(), fromU.end(), 7) != fromU.end(), mode == 2);
  }
}

// CheapestArrival: the cheapest reached arrival by slot; ties keep the first
// slot, a cost written alone is no arrival.
TEST_F(SearchFixture, CheapestArrivalKeepsTheFirstSlotOnTies) {
  Open();
  const int32_t Z = N(0, 0);  // slots: 2 (arrives forward), 3, 5 (arrive backward)
  TCalc c(nw, true);
  c.CheckNetwork(true);
  c.ResetLinkLabels();
  EXPECT_EQ(c.CheapestArrival(Z), 0);
  const auto slots = nw.Adjacent(Z);
  auto slotOf = [&](int32_t l) {
    for (size_t i = 0; i < slots.size(); ++i)
      if (std::abs(slots[i]) == l) return int32_t(i) + 1;
    return 0;
  };
  c.SetStateCost(3, false, 0.5f);  // cost alone: not reached
  EXPECT_EQ(c.CheapestArrival(Z), 0);
  c.SetState(5, false, 2, 7);
  c.SetState(3, false, 2, 8);
  EXPECT_EQ(c.CheapestArrival(Z), -std::min(slotOf(3), slotOf(5)));
  c.SetState(2, true, 2, 1);
  EXPECT_EQ(c.CheapestArrival(Z), slotOf(2) < std::min(slotOf(3), slotOf(5)) ? slotOf(2)
                                                                             : -std::min(slotOf(3), slotOf(5)));
  c.SetState(2, true, 1.5f, 1);
  EXPECT_EQ(c.CheapestArrival(Z), slotOf(2));
}

// The A* key: the cost plus Falpha times the crow-fly km from the reached
// node to the target, none for the no-estimate link.
TEST_F(SearchFixture, AStarKeyAddsTheWeightedCrowFlyDistance) {
  Open();
  const int32_t Z = N(0, 0);
  const TFloatPoint target{2, 1};
  auto key = [&](float cost, int32_t node) {
    return float(double(cost) + double(0.5f) * nw.DistanceBetweenPoints(nw.Node2Coordinate(node), target));
  };
  for (bool turnmode : {false, true}) {
    TSearchProbe c(nw, turnmode);
    c.S().Falpha = 0.5f;
    c.CheckNetwork(true);
    size_t checked = 0;
    if (turnmode) {
      c.ResetLinkLabels();
      TRecorder<TPQturnitem> rec;
      c.ExpandTurnModeInto(rec, 0, Z, 1, Opts(true, 0, false, target, true, false, 3));
      for (const auto& it : rec.items) {
        EXPECT_EQ(it.sortvar, it.ToLink == 3 ? it.cost : key(it.cost, it.NextNode)) << it.ToLink;
        ++checked;
      }
    } else {
      c.ResetNodeLabels();
      c.SetNodeLabel(Z, 1, 0, 0);
      TRecorder<TPQitem> rec;
      c.ExpandNodeModeInto(rec, Z, Opts(true, 0, false, target, true));
      for (const auto& it : rec.items) {
        EXPECT_EQ(it.sortvar, key(it.cost, it.ToNode)) << it.link;
        ++checked;
      }
    }
    EXPECT_EQ(checked, 3u);
  }
}

// Stamps: a reset is one generation; a wrap clears the stamps once, so a
// label written many generations ago never comes alive again.
TEST_F(SearchFixture, StampsReadUnreachedAfterResetAndWrap) {
  Open();
  for (bool turnmode : {false, true}) {
    TCalc c(nw, turnmode);
    c.CheckNetwork(true);
    auto write = [&](int32_t i, float v) {
      if (turnmode) c.SetState(i, true, v, 2); else c.SetNodeLabel(i, v, 2, 2);
    };
    auto cost = [&](int32_t i) { return turnmode ? c.cost1(i) : c.cost0(i); };
    auto pred = [&](int32_t i) { return turnmode ? c.P1array(i) : c.P0array(i); };
    c.SetGenerationForTest(5);
    c.ResetNodeLabels();  // generation 6
    write(3, 1.5f);
    EXPECT_EQ(cost(3), 1.5f);
    EXPECT_EQ(pred(3), 2);
    c.ResetNodeLabels();
    EXPECT_EQ(cost(3), cInfinity);
    EXPECT_EQ(pred(3), cNoPred);
    // Across the wrap: the label of generation 6 must stay dead when the
    // counter comes round to 6 again.
    c.SetGenerationForTest(UINT32_MAX - 1);
    c.ResetLinkLabels();  // UINT32_MAX
    write(4, 2.5f);
    EXPECT_EQ(cost(4), 2.5f);
    c.ResetLinkLabels();  // wraps to 1, stamps cleared
    EXPECT_EQ(c.Generation(), 1u);
    EXPECT_EQ(cost(4), cInfinity);
    for (int k = 0; k < 5; ++k) c.ResetLinkLabels();
    EXPECT_EQ(c.Generation(), 6u);
    EXPECT_EQ(cost(3), cInfinity);
    EXPECT_EQ(pred(3), cNoPred);
    // A cost written alone reaches nothing.
    if (turnmode) {
      c.SetStateCost(3, false, 0.5f);
      EXPECT_EQ(c.cost2(3), 0.5f);
      EXPECT_FALSE(c.StateReached(3, false));
    }
  }
}

}  // namespace
