#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "network/kovra_network.h"
#include "network/support/network_writer.h"
#include "routing/kovra_calc.h"
#include "support/temp_dir_test.h"
#include "support/test_raises.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace kovra {
// Reaches the settings a public setter cannot produce (differing slots).
struct TCalcProbe : TCalc {
  using TCalc::TCalc;
  TCalcSettings& S() { return fS; }
};
}  // namespace kovra

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// Five links in km along the x axis and up, the fourth rejected:
//   1: (0,0)-(1,0)  1 km, value limit 40
//   2: (1,0)-(2,0)  1 km, bit pattern 0x05
//   3: (2,0)-(4,0)  2 km, one-way from->to, value limit 40
//   4: rejected
//   5: (4,0)-(4,3)  3 km, closed in both directions
class CalcTest : public TTempDirTest {
protected:
  TNetwork& Open(bool loop = false, bool index = false) {
    TTestNetworkWriter w;
    w.SpatialIndex = index;
    w.Unit = cuKm;
    w.AddLink({{0, 0}, {1, 0}});
    w.AddLink({{1, 0}, {2, 0}});
    w.AddLink({{2, 0}, {4, 0}});
    w.AddRejected();
    w.AddLink({{4, 0}, {4, 3}});
    if (loop) w.AddLink({{4, 3}, {5, 4}, {5, 3}, {4, 3}});
    w.SetAttribute(3, cAttrOnewayFromTo);
    w.SetAttribute(5, cAttrOneway);
    const uint8_t rest = 0;
    std::vector<uint8_t> value{40, 0, 40, 0, 0}, pattern{0, 0x05, 0, 0, 0};
    if (loop) value.push_back(rest), pattern.push_back(rest);
    w.SetLimit(1, value);
    w.SetLimit(2, pattern);
    w.Write(dir.string() + "/");
    net = std::make_unique<TNetwork>();
    net->SetDirectory(dir.string() + "/");
    net->Open(true, false, index, 0);
    net->OpenLimit(1, 1, false);
    net->OpenLimit(2, 2, true);
    return *net;
  }
  int32_t NodeAt(double x, double y) const {
    for (int32_t n = 1; n <= net->NodeCount(); ++n)
      if (net->X()[size_t(n)] == x && net->Y()[size_t(n)] == y) return n;
    return 0;
  }

  std::unique_ptr<TNetwork> net;
};

// --- Settings ----------------------------------------------------------------

TEST_F(CalcTest, NewCalculatorSearchesByDistanceWithoutTurnCosts) {
  TNetwork& nw = Open();
  nw.CreateArrayTime(1);
  nw.SetTime(0, 3, 7);
  for (bool turnmode : {false, true}) {
    TCalc c(nw, turnmode);
    const TCalcSettings& s = c.Settings();
    EXPECT_EQ(s.FRouteCriteria, rcDist);
    EXPECT_FALSE(s.FTurnCosts);
    EXPECT_EQ(c.CostFT(3, 0), 2.0f);
    EXPECT_EQ(c.CostTF(3, 0), 2.0f);
    EXPECT_EQ(c.Turnmode(), turnmode);
    EXPECT_EQ(turnmode, c.PQT != nullptr);
    EXPECT_EQ(!turnmode, c.PQ1 != nullptr && c.PQ2 != nullptr);
    // Defaults a caller sees.
    EXPECT_EQ(c.DistanceUnit(), duKm);
    EXPECT_EQ(c.DecimalsDist(), -1);
    EXPECT_EQ(c.DecimalsTime(), -1);
    EXPECT_EQ(c.MIPen(), (TMIPen{1, 2, 0}));
    EXPECT_EQ(c.Threads(), 1);
    EXPECT_EQ(c.RelativeSpeed(), 1.0);
    EXPECT_EQ(c.MaxSpeed(), 0.0f);
    EXPECT_EQ(c.MatrixBuffer(), 0.0);
    EXPECT_EQ(c.SkipLinkList(), nullptr);
    EXPECT_FALSE(c.SmartInit());
    EXPECT_FALSE(s.FSkipCulDeSacOptimization);  // cul-de-sac skipping on
    EXPECT_EQ(s.FLevelLimit[3], double(cInfinity));
    EXPECT_TRUE(c.NodeLabelCount() == 0 && c.StateLabelCount() == 0);  // not allocated before a search
  }
}

// Every refused setter: its message (or none when the value is ignored), and
// every setting as it was afterwards.
TEST_F(CalcTest, RefusedSettersChangeNothing) {
  TNetwork& nw = Open();
  nw.CreateArrayTime(2);  // no cost columns; one turn set (an open network has set 0)
  TBitArray shortList(nw.LinkCount()), longList(int64_t(nw.LinkCount()) + 2);
  struct Case {
    const char* name;
    std::function<void(TCalc&)> set;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"SetTime(2)", [](TCalc& c) { c.SetTime(2); }, "Index (2) must be defined in Network object (CreateArrayTime)"},
      {"SetTime(-1)", [](TCalc& c) { c.SetTime(-1); }, "Index (-1) must be defined in Network object (CreateArrayTime)"},
      {"SetCost(0)", [](TCalc& c) { c.SetCost(0); }, "Index (0) must be defined in Network object (CreateArrayCost)"},
      {"SetTurn(1)", [](TCalc& c) { c.SetTurn(1); }, "Index (1) must be defined in Network object (CreateArrayTurn)"},
      // The refused criterion must not move the time column in force to the
      // one SetTime(1) chose.
      {"SetCheapest", [](TCalc& c) { c.SetCheapest(false); }, "Call SetCostFT and SetCostTF to define Cost-Array"},
      {"SetSkipLinkList short", [&](TCalc& c) { c.SetSkipLinkList(&shortList); }, "SkipLinkList has wrong size"},
      {"SetSkipLinkList long", [&](TCalc& c) { c.SetSkipLinkList(&longList); }, "SkipLinkList has wrong size"},
      {"RelativeSpeed 0", [](TCalc& c) { c.SetRelativeSpeed(0); }, ""},
      {"RelativeSpeed 1.5", [](TCalc& c) { c.SetRelativeSpeed(1.5); }, ""},
      {"RelativeSpeed NaN", [](TCalc& c) { c.SetRelativeSpeed(kNaN); }, ""},
      {"Threads 0", [](TCalc& c) { c.SetThreads(0); }, ""},
      {"Threads 256", [](TCalc& c) { c.SetThreads(256); }, ""},
      {"MaxSpeed -1", [](TCalc& c) { c.SetMaxSpeed(-1); }, ""},
      {"MaxSpeed NaN", [](TCalc& c) { c.SetMaxSpeed(kNaN); }, ""},
      {"MaxSpeed inf", [](TCalc& c) { c.SetMaxSpeed(kInf); }, ""},
      {"MatrixBuffer NaN", [](TCalc& c) { c.SetMatrixBuffer(kNaN); }, ""},
      {"Starttime inf", [](TCalc& c) { c.SetStarttime(-kInf); }, ""},
      {"SetSmoothing(1, 2, 0)", [](TCalc& c) { c.SetSmoothing(1, 2, 0); }, ""},
      {"SetSmoothing(6, 3, 0)", [](TCalc& c) { c.SetSmoothing(6, 3, 0); }, ""},
      {"SetSmoothing(1, 3, 16)", [](TCalc& c) { c.SetSmoothing(1, 3, 16); }, ""},
      {"SetLimit(0)", [](TCalc& c) { c.SetLimit(0, 5); }, ""},
      {"SetLimit(10)", [](TCalc& c) { c.SetLimit(10, 5); }, ""},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    TCalc c(nw, false);
    c.SetFastest(false);
    c.SetTime(1);  // pending until the next criterion setter
    c.SetMaxSpeed(80);
    c.SetRelativeSpeed(0.5);
    c.SetThreads(4);
    c.SetSmoothing(2, 4, 5);
    c.SetLimit(1, 30);
    const TCalcSettings before = c.Settings();
    EXPECT_EQ(MessageOf([&] { k.set(c); }), k.message);
    EXPECT_TRUE(c.Settings() == before);
    EXPECT_EQ(c.Settings().FTimeSingleSlot, 0);
  }
}

TEST_F(CalcTest, AcceptedSettersAndCriteria) {
  TNetwork& nw = Open();
  nw.CreateArrayTime(2);
  nw.SetTime(1, 1, 9);
  TCalc c(nw, true);
  c.SetSmoothing(0, 0, 0);
  EXPECT_EQ(c.Settings().Fpasses, 0);
  c.SetSmoothing(5, 6, 15);
  EXPECT_EQ(c.Settings().Fpasses, 5);
  c.SetSmoothing(0, 0, 0);  // switching smoothing off is accepted too
  EXPECT_EQ(c.Settings().Fdeviation, 0);
  c.SetRelativeSpeed(0.01);
  EXPECT_EQ(c.RelativeSpeed(), 0.01);
  c.SetThreads(255);
  EXPECT_EQ(c.Threads(), 255);
  c.SetLimit(9, 3);
  EXPECT_TRUE(c.Settings().Fanylimit);
  c.SetLimit(9, 0);
  EXPECT_FALSE(c.Settings().Fanylimit);

  // SetTime takes effect at the next criterion setter.
  c.SetRelativeSpeed(1);
  c.SetFastest(false);
  c.SetTime(1);
  EXPECT_EQ(c.CostFT(1, 0), 1.0f);
  c.SetFastest(true);  // turn set 0 exists on an open network
  EXPECT_EQ(c.CostFT(1, 0), 9.0f);
  EXPECT_TRUE(c.Settings().FTurnCosts);
  c.SetShortest(true);
  EXPECT_EQ(c.CostFT(1, 0), 1.0f);
  // SmartInit without a spatial index is ignored.
  c.SetSmartInit(true);
  EXPECT_FALSE(c.SmartInit());
}

TEST_F(CalcTest, SmartInitNeedsTheSpatialIndex) {
  TNetwork& nw = Open(false, true);
  TCalc n(nw, false), t(nw, true);
  n.SetSmartInit(true);
  t.SetSmartInit(true);
  EXPECT_TRUE(n.SmartInit() && t.SmartInit());
  n.SetSmartInit(false);
  EXPECT_FALSE(n.SmartInit());
}

TEST(CalcClosedNetwork, CriterionMessages) {
  TNetwork nw;  // never opened: no time columns, no turn sets
  TCalc c(nw, true);
  const TCalcSettings before = c.Settings();
  EXPECT_EQ(MessageOf([&] { c.SetShortest(true); }), "One or more timeslots has not been defined through SetTurn(Period)");
  EXPECT_EQ(MessageOf([&] { c.SetFastest(false); }), "One or more timeslots points to a non-valid Time-Array");
  EXPECT_EQ(MessageOf([&] { c.SetCheapest(true); }), "Call SetCostFT and SetCostTF to define Cost-Array");
  EXPECT_TRUE(c.Settings() == before);
  EXPECT_EQ(MessageOf([&] { c.SetShortest(false); }), "");
  EXPECT_EQ(MessageOf<ENetworkIsClosed>([&] { c.SetSkipLinkList(nullptr); }), "Network is not open");
  TBitArray BA;
  EXPECT_EQ(MessageOf<ENetworkIsClosed>([&] { c.SelectClosedLinks(BA, true); }), "Network is not open");
  EXPECT_EQ(MessageOf<ENetworkIsClosed>([&] { c.CheckNetwork(true); }), "Network is not open");
  EXPECT_EQ(c.StateLabelCount(), 0u);
}

TEST_F(CalcTest, TurnSlots) {
  TNetwork& nw = Open();
  TCalcProbe c(nw, true);
  c.S().FTurn[10079] = 1;  // a second turn set that does not exist
  EXPECT_EQ(MessageOf([&] { c.SetShortest(true); }), "One or more timeslots has not been defined through SetTurn(Period)");
  c.S().FTurn[10079] = 0;
  c.ValidateSlots();
  EXPECT_EQ(c.Settings().FTurnSingleSlot, 0);
  // The minute of the week is a floor modulo of the truncated time, also for
  // a negative start and for costs far beyond 32 bits.
  for (int32_t m = 0; m < cWeekMinutes; ++m) c.S().FTurn[size_t(m)] = m;
  struct { float start, c; int32_t slot; } rows[] = {
      {0, 0, 0}, {-1, 0, 10079}, {-0.5f, 0, 0}, {-10081, 0, 10079}, {10080, 5.9f, 5}, {0, 3e12f, int32_t(std::fmod(std::trunc(double(3e12f)), 10080.0))},
  };
  for (const auto& r : rows) {
    c.SetStarttime(r.start);
    EXPECT_EQ(c.TurnSlot(r.c), r.slot) << r.start << " + " << r.c;
  }
}

// --- Link costs -----------------------------------------------------------------

TEST_F(CalcTest, GetTimeCapAndFactor) {
  TNetwork& nw = Open();
  nw.CreateArrayTime(1);
  nw.SetTime(0, 1, 0.5f);
  TCalc c(nw, false);
  EXPECT_EQ(c.GetTime(0, 1), 0.5f);
  c.SetMaxSpeed(60);
  EXPECT_EQ(c.GetTime(0, 1), 1.0f);
  c.SetRelativeSpeed(0.5);
  EXPECT_EQ(c.GetTime(0, 1), 2.0f);
  // The public form checks what the searches' form does not.
  EXPECT_EQ(MessageOf<EOutOfRange>([&] { c.GetTime(1, 1); }), "Index (1) must be defined in Network object (CreateArrayTime)");
  EXPECT_THROW(c.GetTime(0, 0), EOutOfRange);
  EXPECT_THROW(c.GetTime(0, nw.LinkCount() + 1), EOutOfRange);
}

// The searches' one-column reader gives the same floats as CostFT/CostTF under
// every criterion, cap and factor.
TEST_F(CalcTest, LinkCostReaderMatchesCostFT) {
  TNetwork& nw = Open();
  nw.CreateArrayTime(1);
  nw.CreateArrayCost(1);
  for (int32_t l = 1; l <= nw.LinkCount(); ++l) {
    if (nw.Lengths()[size_t(l)] == 0) continue;
    nw.SetTime(0, l, 0.37f * float(l));
    nw.SetCost(0, l, 1.1f * float(l));
  }
  TCalc c(nw, true);
  for (int crit = 0; crit < 3; ++crit)
    for (float maxspeed : {0.0f, 33.3f})
      for (double rel : {1.0, 0.3}) {
        crit == 0 ? c.SetShortest(false) : crit == 1 ? c.SetFastest(false) : c.SetCheapest(false);
        c.SetMaxSpeed(maxspeed);
        c.SetRelativeSpeed(rel);
        const TLinkCost ft = c.LinkCostReader(true), tf = c.LinkCostReader(false);
        for (int32_t l = 1; l <= nw.LinkCount(); ++l) {
          EXPECT_EQ(ft(l), c.CostFT(l, 0));
          EXPECT_EQ(tf(l), c.CostTF(l, 0));
        }
      }
}

// --- Limits and closed links ----------------------------------------------------

TEST_F(CalcTest, LimitOK) {
  TNetwork& nw = Open();
  struct Row {
    int32_t slot;
    uint8_t vehicle;
    int32_t link;
    bool ok;
  } rows[] = {
      {1, 41, 1, false}, {1, 40, 1, true}, {1, 0, 1, true},  // value limit 40
      {1, 255, 2, true},                                      // 0 on the link: no limit
      {2, 0x04, 2, false}, {2, 0x02, 2, true}, {2, 0, 2, true},  // bit pattern 0x05
      {5, 200, 1, true},                                     // beyond the network's loaded slots
  };
  for (const Row& r : rows) {
    TCalc c(nw, false);
    c.SetLimit(r.slot, r.vehicle);
    c.CheckNetwork(false);
    EXPECT_EQ(c.LimitOK(r.link), r.ok) << "slot " << r.slot << " vehicle " << int(r.vehicle) << " link " << r.link;
  }
}

TEST_F(CalcTest, SelectClosedLinksOnlyAddsBits) {
  TNetwork& nw = Open();
  TCalc c(nw, false);
  c.SetLimit(1, 41);  // refuses links 1 and 3
  TBitArray BA(3);
  BA.SetBit2(2, true);  // kept, though link 2 is open
  c.SelectClosedLinks(BA, false);
  ASSERT_EQ(BA.Size(), nw.LinkCount() + 1);
  std::vector<bool> got;
  for (int32_t l = 0; l <= nw.LinkCount(); ++l) got.push_back(BA.GetBit(l));
  EXPECT_EQ(got, (std::vector<bool>{false, true, true, true, false, false}));
  c.SelectClosedLinks(BA, true);  // link 5 is closed both ways; link 3's one-way is not
  got.clear();
  for (int32_t l = 0; l <= nw.LinkCount(); ++l) got.push_back(BA.GetBit(l));
  EXPECT_EQ(got, (std::vector<bool>{false, true, true, true, false, true}));

  TBitArray right(int64_t(nw.LinkCount()) + 1);
  c.SetSkipLinkList(&right);
  EXPECT_EQ(c.SkipLinkList(), &right);
  c.SetSkipLinkList(nullptr);
  EXPECT_EQ(c.SkipLinkList(), nullptr);
}

// --- Largest link cost ------------------------------------------------------------

TEST_F(CalcTest, LargestLinkCostFollowsSpeedsAndColumns) {
  TNetwork& nw = Open();
  nw.CreateArrayTime(2);  // times start as the lengths: 1, 1, 2, 0, 3
  nw.SetTime(1, 2, 2.5f);
  TCalc c(nw, false);
  c.SetFastest(false);
  c.MaxLinkCostNetwork();
  EXPECT_EQ(c.MaxICost(), 3.0f);  // every time column counts
  // A lower speed cap makes links slower: the stored value would be too small.
  c.SetMaxSpeed(30);
  EXPECT_EQ(c.MaxICost(), 0.0f);
  c.MaxLinkCostNetwork();
  EXPECT_EQ(c.MaxICost(), 6.0f);  // 3 km at 30 km/h
  c.SetRelativeSpeed(0.5);
  EXPECT_EQ(c.MaxICost(), 0.0f);
  c.MaxLinkCostNetwork();
  EXPECT_EQ(c.MaxICost(), 12.0f);
  // A changed network column invalidates it as well.
  nw.SetTime(0, 5, 100);
  EXPECT_EQ(c.MaxICost(), 0.0f);
  c.MaxLinkCostNetwork();
  EXPECT_EQ(c.MaxICost(), 200.0f);
  TLocationList LL;
  LL.Add2(2, 0.5);
  c.MaxLinkCostTargets(LL);
  EXPECT_EQ(c.MaxICost(), float(2.5 / 0.5));
  c.SetMaxCostExt(1);
  EXPECT_EQ(c.EffectiveMaxLinkCost(), 1.0f);
  c.SetShortest(false);
  EXPECT_EQ(c.EffectiveMaxLinkCost(), 0.0f);
}

// --- Include-node window ----------------------------------------------------------

TEST_F(CalcTest, IncludeWindowBordersAreInside) {
  TNetwork& nw = Open();
  TCalc c(nw, false);
  TIntegerList NL;
  NL.Add(NodeAt(0, 0));
  EXPECT_EQ(c.IncludeNodesFromNodes(NL, nullptr), nullptr);  // no buffer, no window
  c.SetMatrixBuffer(1);  // 1 km = 1 unit: the window is [-1, 1] x [-1, 1]
  auto W = c.IncludeNodesFromNodes(NL, nullptr);
  ASSERT_NE(W, nullptr);
  ASSERT_EQ(W->Size(), nw.NodeCount() + 1);
  EXPECT_TRUE(W->GetBit(NodeAt(0, 0)));
  EXPECT_TRUE(W->GetBit(NodeAt(1, 0)));  // on the widened border
  EXPECT_FALSE(W->GetBit(NodeAt(2, 0)));
  TIntegerList NL2;
  NL2.Add(NodeAt(4, 3));
  W = c.IncludeNodesFromNodes(NL, &NL2);  // [-1, 5] x [-1, 4]
  EXPECT_EQ(W->CountTrue(), nw.NodeCount());

  TLocationList LL;
  LL.Add2(2, 0.5);  // (1.5, 0): window [0.5, 2.5]
  W = c.IncludeNodesFromLocations(LL, nullptr);
  EXPECT_FALSE(W->GetBit(NodeAt(0, 0)));
  EXPECT_TRUE(W->GetBit(NodeAt(1, 0)));
  EXPECT_TRUE(W->GetBit(NodeAt(2, 0)));
  EXPECT_FALSE(W->GetBit(NodeAt(4, 0)));
  EXPECT_EQ(c.DistanceFieldSuffix(), "");
}

// --- Precondition -------------------------------------------------------------------

TEST_F(CalcTest, LabelsFollowTheOpening) {
  TNetwork& nw = Open();
  TCalc n(nw, false), t(nw, true);
  n.CheckNetwork(true);
  t.CheckNetwork(true);
  EXPECT_EQ(n.NodeLabelCount(), size_t(nw.NodeCount()) + 1);
  EXPECT_EQ(n.P0array(1), cNoPred);
  EXPECT_EQ(n.cost0(1), cInfinity);
  EXPECT_EQ(n.StateLabelCount(), 0u);
  EXPECT_EQ(t.StateLabelCount(), 2 * (size_t(nw.LinkCount()) + 1));
  EXPECT_EQ(t.P2array(1), cNoPred);
  EXPECT_EQ(t.NodeLabelCount(), 0u);
  EXPECT_TRUE(n.LabelsValid() && t.LabelsValid());
  nw.Close();
  EXPECT_FALSE(n.LabelsValid());
  nw.Open(true, false, false, 0);
  EXPECT_FALSE(n.LabelsValid());  // same sizes, another opening
  n.CheckNetwork(true);
  EXPECT_TRUE(n.LabelsValid());
}

// Settings checked when they were made can be outgrown by the network: a
// reopening drops its columns, a caller may resize the skip list. The search
// precondition refuses them instead of reading past the arrays.
TEST_F(CalcTest, PreconditionRechecksColumnsAndSkipList) {
  TNetwork& nw = Open();
  nw.CreateArrayTime(1);
  nw.CreateArrayCost(1);
  TCalc fast(nw, false), cheap(nw, false), skip(nw, true);
  fast.SetFastest(false);
  cheap.SetCheapest(false);
  TBitArray list(int64_t(nw.LinkCount()) + 1);
  skip.SetSkipLinkList(&list);
  fast.CheckNetwork(true);
  cheap.CheckNetwork(true);
  skip.CheckNetwork(true);
  list.SetSize(2);
  EXPECT_EQ(MessageOf([&] { skip.CheckNetwork(true); }), "SkipLinkList has wrong size");
  nw.Close();
  nw.Open(true, false, false, 0);
  EXPECT_EQ(MessageOf([&] { fast.CheckNetwork(true); }), "One or more timeslots points to a non-valid Time-Array");
  EXPECT_EQ(MessageOf([&] { cheap.CheckNetwork(false); }), "Call SetCostFT and SetCostTF to define Cost-Array");
  EXPECT_FALSE(fast.LabelsValid());
}

// Every search entry point refuses a network with a loop link. Later search
// entry points add their rows.
struct EntryPoint {
  const char* name;
  std::function<void(TCalc&)> run;
};

class LoopLinkTest : public CalcTest, public ::testing::WithParamInterface<EntryPoint> {};

TEST_P(LoopLinkTest, Refused) {
  TNetwork& nw = Open(true);
  for (bool turnmode : {false, true}) {
    TRouteCalc c(nw, turnmode);  // every entry point, the routes' too
    EXPECT_EQ(MessageOf([&] { GetParam().run(c); }), "Loop links are not allowed in the network");
    EXPECT_TRUE(c.NodeLabelCount() == 0 && c.StateLabelCount() == 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Calc, LoopLinkTest,
                         ::testing::Values(EntryPoint{"CheckNetwork", [](TCalc& c) { c.CheckNetwork(false); }},
                                           EntryPoint{"CheckNetworkAllocate", [](TCalc& c) { c.CheckNetwork(true); }},
                                           EntryPoint{"IsoCost", [](TCalc& c) { c.IsoCost(1); }},
                                           EntryPoint{"IsoCostList",
                                                      [](TCalc& c) {
                                                        TIntegerList NL;
                                                        NL.Add(2);
                                                        c.IsoCostList(1, NL);
                                                      }},
                                           EntryPoint{"IsoCostListN",
                                                      [](TCalc& c) {
                                                        TIntegerList NL, IL;
                                                        NL.Add(2);
                                                        c.IsoCostListN(1, NL, IL, 1);
                                                      }},
                                           EntryPoint{"Nearest",
                                                      [](TCalc& c) {
                                                        TIntegerList NL;
                                                        NL.Add(2);
                                                        c.Nearest(1, NL);
                                                      }},
                                           EntryPoint{"NearestOpen",
                                                      [](TCalc& c) {
                                                        int32_t n, l;
                                                        float cost;
                                                        c.NearestOpen(1, n, l, cost);
                                                      }},
                                           EntryPoint{"IsoCostDyn", [](TCalc& c) { c.IsoCostDyn({1, 0.5}); }},
                                           EntryPoint{"IsoCostListDyn",
                                                      [](TCalc& c) {
                                                        TLocationList LL;
                                                        LL.Add2(1, 0.7);
                                                        c.IsoCostListDyn({1, 0.5}, LL);
                                                      }},
                                           EntryPoint{"IsoCostListNDyn",
                                                      [](TCalc& c) {
                                                        TLocationList LL;
                                                        TIntegerList IL;
                                                        LL.Add2(1, 0.7);
                                                        c.IsoCostListNDyn({1, 0.5}, LL, IL, 1);
                                                      }},
                                           EntryPoint{"NearestDyn",
                                                      [](TCalc& c) {
                                                        TLocationList LL;
                                                        LL.Add2(1, 0.7);
                                                        c.NearestDyn({1, 0.5}, LL);
                                                      }},
                                           EntryPoint{"NearestOpenDyn",
                                                      [](TCalc& c) {
                                                        int32_t n, l;
                                                        float cost;
                                                        c.NearestOpenDyn({1, 0.5}, n, l, cost);
                                                      }},
                                           EntryPoint{"IsoCostDynApproach",
                                                      [](TCalc& c) { c.IsoCostDynApproach({1, 0.5}, apForward); }},
                                           EntryPoint{"IsoCostListDynApproach",
                                                      [](TCalc& c) {
                                                        TLocationList LL;
                                                        LL.Add2(1, 0.7);
                                                        c.IsoCostListDynApproach({1, 0.5}, LL, apForward);
                                                      }},
                                           EntryPoint{"Route",
                                                      [](TCalc& c) { static_cast<TRouteCalc&>(c).Route(1, 2); }},
                                           EntryPoint{"RMatrix",
                                                      [](TCalc& c) {
                                                        TIntegerList NL;
                                                        NL.Add(1), NL.Add(2);
                                                        static_cast<TRouteCalc&>(c).RMatrix(NL, false, false);
                                                      }},
                                           EntryPoint{"RMatrix2",
                                                      [](TCalc& c) {
                                                        TIntegerList NL;
                                                        NL.Add(1);
                                                        static_cast<TRouteCalc&>(c).RMatrix2(NL, NL);
                                                      }},
                                           EntryPoint{"RMatrixOut",
                                                      [](TCalc& c) {
                                                        TIntegerList NL;
                                                        NL.Add(1), NL.Add(2);
                                                        static_cast<TRouteCalc&>(c).RMatrixOut(
                                                            "", gfArray, NL, NL, nullptr, nullptr, true, false,
                                                            false, false, false, false);
                                                      }},
                                           EntryPoint{"RouteDyn",
                                                      [](TCalc& c) {
                                                        static_cast<TRouteCalc&>(c).RouteDyn({1, 0.5}, {2, 0.5});
                                                      }},
                                           EntryPoint{"RouteDynEx",
                                                      [](TCalc& c) {
                                                        TRoute r;
                                                        static_cast<TRouteCalc&>(c).RouteDynEx({1, 0.5}, {2, 0.5}, r);
                                                      }},
                                           EntryPoint{"RouteDynApproach",
                                                      [](TCalc& c) {
                                                        static_cast<TRouteCalc&>(c).RouteDynApproach(
                                                            {1, 0.5}, {2, 0.5}, apForward, apIgnore);
                                                      }},
                                           EntryPoint{"RouteDynApproachEx",
                                                      [](TCalc& c) {
                                                        TRoute r;
                                                        static_cast<TRouteCalc&>(c).RouteDynApproachEx(
                                                            {1, 0.5}, {2, 0.5}, apIgnore, apReverse, r);
                                                      }},
                                           EntryPoint{"RMatrixDyn",
                                                      [](TCalc& c) {
                                                        TLocationList LL;
                                                        LL.Add2(1, 0.5), LL.Add2(2, 0.5);
                                                        static_cast<TRouteCalc&>(c).RMatrixDyn(LL, false, true);
                                                      }},
                                           EntryPoint{"RMatrixDyn2",
                                                      [](TCalc& c) {
                                                        TLocationList LL;
                                                        LL.Add2(1, 0.5);
                                                        static_cast<TRouteCalc&>(c).RMatrixDyn2(LL, LL);
                                                      }},
                                           EntryPoint{"RMatrixDynOut",
                                                      [](TCalc& c) {
                                                        TLocationList LL;
                                                        LL.Add2(1, 0.5), LL.Add2(2, 0.5);
                                                        static_cast<TRouteCalc&>(c).RMatrixDynOut(
                                                            "", gfArray, LL, LL, nullptr, nullptr, true, false,
                                                            false, false, false, false, true);
                                                      }},
                                           EntryPoint{"RMatrixPOut",
                                                      [](TCalc& c) {
                                                        TLocationList LL;
                                                        LL.Add5(0.5, 0.1), LL.Add5(1.5, 0.1);
                                                        static_cast<TRouteCalc&>(c).RMatrixPOut(
                                                            "", gfArray, LL, LL, nullptr, nullptr, true, false,
                                                            false, false, false, false, true, 30, false);
                                                      }},
                                           EntryPoint{"RoutePairs",
                                                      [](TCalc& c) {
                                                        TLocationList LL;
                                                        LL.Add2(1, 0.5);
                                                        static_cast<TRouteCalc&>(c).RoutePairs(
                                                            "", gfArray, LL, LL, nullptr, nullptr, true, false,
                                                            false, false, false, false);
                                                      }},
                                           EntryPoint{"RoutePairsP",
                                                      [](TCalc& c) {
                                                        TLocationList LL;
                                                        LL.Add5(0.5, 0.1);
                                                        static_cast<TRouteCalc&>(c).RoutePairsP(
                                                            "", gfArray, LL, LL, nullptr, nullptr, true, false,
                                                            false, false, false, false, 30);
                                                      }},
                                           EntryPoint{"Bridges",
                                                      [](TCalc& c) {
                                                        TIntegerArray IA;
                                                        static_cast<TRouteCalc&>(c).Bridges(IA);
                                                      }},
                                           EntryPoint{"RoadNameTest",
                                                      [](TCalc& c) {
                                                        static_cast<TRouteCalc&>(c).RoadNameTest("never", gfArray, 1,
                                                                                                 10);
                                                      }}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
