// Generated turns: automatic turn costs at T and four-way junctions, the
// callbacks that replace them, standard and mandatory turns, and the angle
// order of a node's links.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "network/kovra_roadclassspeed.h"
#include "turn_fixture.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

// Compass bearings of the arms of the junctions below.
constexpr double N = 0, E = 90, S = 180, W = 270;

class TurnAuto : public TNetworkTest {
protected:
  // Road class c of an arm weighs Weights[c].
  TRoadClassTurnCost Weights(const std::vector<float>& w) {
    TRoadClassTurnCost r;
    for (size_t c = 0; c < w.size(); ++c) r.Put(TRoadClass(c), w[c]);
    return r;
  }
  // One junction of arms (bearing, weight) at the origin, each arm in a road
  // class of its own whose weight is given; returns the links in arm order.
  std::vector<int32_t> Junction(const std::vector<double>& Bearings, TCoordinateUnit Unit = cuM,
                                const std::vector<bool>& Inwards = {}) {
    TTestNetworkWriter w;
    w.Unit = Unit;
    const double len = Unit == cuDeg ? 0.001 : 100;
    const TFloatPoint centre = Unit == cuDeg ? TFloatPoint{10, 50} : TFloatPoint{0, 0};
    auto links = AddJunction(w, centre, Bearings, len, Inwards);
    TNetwork& net = Open(w);
    for (size_t i = 0; i < links.size(); ++i) net.SetRoadClass(links[i], TRoadClass(i));
    return links;
  }
};

TEST_F(TurnAuto, PlusJunctionOfEqualRoads) {
  for (const TCoordinateUnit unit : {cuM, cuDeg}) {
    for (const bool lht : {false, true}) {
      SCOPED_TRACE(std::string(unit == cuM ? "metres" : "degrees") + (lht ? " left-hand" : " right-hand"));
      const auto L = Junction({N, W, S, E}, unit);
      const int32_t n = L[0], w = L[1], s = L[2], e = L[3];
      const TRoadClassTurnCost rctc = Weights({1, 1, 1, 1});
      fNet->TurnAutoProcess(0, lht, &rctc, nullptr);
      // Right turns: arriving from the north (heading south) west is on the right.
      const float right = lht ? 4.5f : 1, left = lht ? 1 : 4.5f;
      EXPECT_EQ(StoredTurns(*fNet, 0),
                Sorted({{{n, w}, right}, {{w, s}, right}, {{s, e}, right}, {{e, n}, right},
                        {{n, s}, 2}, {{s, n}, 2}, {{w, e}, 2}, {{e, w}, 2},
                        {{n, e}, left}, {{e, s}, left}, {{s, w}, left}, {{w, n}, left}}));
    }
  }
}

TEST_F(TurnAuto, FourWayJunctionWeights) {
  struct TCase {
    const char* name;
    std::vector<float> weights;  // north, west, south, east (angle order)
    // movements as arm indexes 0..3 = N, W, S, E
    std::vector<std::tuple<int, int, float>> expected;
  };
  const TCase cases[] = {
      {"major road east-west 2/1", {1, 2, 1, 2},
       {{1, 0, 2}, {2, 3, 2}, {3, 2, 2}, {0, 1, 2}, {2, 0, 6}, {0, 2, 6}, {2, 1, 7.5f}, {0, 3, 7.5f}}},
      {"2,1,3,1: north-south major although its arms differ", {2, 1, 3, 1},
       {{0, 3, 3}, {1, 2, 2}, {2, 1, 2}, {3, 0, 3}, {1, 3, 7.5f}, {3, 1, 7.5f}, {1, 0, 9}, {3, 2, 9}}},
      {"2,3,1,1: a major arm lighter than a minor one", {2, 3, 1, 1}, {}},
      {"2,1,1,3: the same after the rotation", {2, 1, 1, 3}, {}},
      {"all weights 0", {0, 0, 0, 0}, {}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto L = Junction({N, W, S, E});
    const TRoadClassTurnCost rctc = Weights(c.weights);
    fNet->TurnAutoProcess(0, false, &rctc, nullptr);
    std::vector<TStoredTurn> expected;
    for (const auto& [from, to, cost] : c.expected) expected.push_back({{L[size_t(from)], L[size_t(to)]}, cost});
    EXPECT_EQ(StoredTurns(*fNet, 0), Sorted(expected));
  }
}

TEST_F(TurnAuto, TJunction) {
  struct TCase {
    const char* name;
    bool lht;
    uint16_t stemOneWay, westOneWay;  // arms digitised outwards
    std::vector<std::tuple<int, int, float>> expected;  // arms 0..2 = W, E, S
  };
  const TCase cases[] = {
      {"right-hand", false, 0, 0, {{2, 0, 3}, {2, 1, 1}, {1, 2, 1}}},
      {"left-hand", true, 0, 0, {{2, 0, 1}, {2, 1, 3}, {0, 2, 1}}},
      {"a stem entered only from the junction", false, cAttrOnewayFromTo, 0, {{1, 2, 1}}},
      {"a stem left only towards the junction", false, cAttrOnewayToFrom, 0, {{2, 0, 3}, {2, 1, 1}}},
      // The west arm carries no traffic towards the junction: what yields only
      // to it costs nothing.
      {"west arm one-way away from the junction", false, 0, cAttrOnewayFromTo, {{2, 0, 1.5f}}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto L = Junction({W, E, S});
    fNet->OneWaySet(L[2], c.stemOneWay);
    fNet->OneWaySet(L[0], c.westOneWay);
    const TRoadClassTurnCost rctc = Weights({1, 1, 7});
    fNet->TurnAutoProcess(0, c.lht, &rctc, nullptr);
    std::vector<TStoredTurn> expected;
    for (const auto& [from, to, cost] : c.expected) expected.push_back({{L[size_t(from)], L[size_t(to)]}, cost});
    EXPECT_EQ(StoredTurns(*fNet, 0), Sorted(expected));
  }
}

TEST_F(TurnAuto, RunningTwiceReplacesValuesAndSkipNodesLeaveNodesAlone) {
  const auto L = Junction({N, W, S, E});
  const TRoadClassTurnCost rctc = Weights({1, 1, 1, 1});
  fNet->TurnRestriction(0, L[0], L[3], -1);  // a prohibition the rules cost at 4.5
  fNet->TurnRestriction(0, L[0], L[0], -1);
  fNet->TurnAutoProcess(0, false, &rctc, nullptr);
  const auto once = StoredTurns(*fNet, 0);
  EXPECT_EQ(once.size(), 12u);
  fNet->TurnAutoProcess(0, false, &rctc, nullptr);
  EXPECT_EQ(StoredTurns(*fNet, 0), once);

  fNet->TurnClear(0);
  TBitArray skip(int64_t(fNet->NodeCount()) + 1);
  skip.SetBit(1, true);  // the junction: nodes are numbered by descending degree
  fNet->TurnAutoProcess(0, false, &rctc, &skip);
  EXPECT_EQ(fNet->TurnCount(0), 0);

  TBitArray shortSkip(fNet->NodeCount());
  ExpectRaises<EInvalidParameter>([&] { fNet->TurnAutoProcess(0, false, &rctc, &shortSkip); },
                                  "Bit array must hold at least 6 bits");
  ExpectRaises<EInvalidParameter>([&] { fNet->TurnAutoProcess(0, false, nullptr, nullptr); },
                                  "TurnAutoProcess needs road-class turn costs");
  fNet->TurnAutoProcessParams(1, 1.5, 1, 1.5, 1.5, 1, 2, std::numeric_limits<double>::infinity());
  ExpectRaises<EInvalidParameter>([&] { fNet->TurnAutoProcess(0, false, &rctc, nullptr); },
                                  "TurnAutoProcess: turn-cost factors give costs out of range");
  ExpectRaises<EOutOfRange>([&] { fNet->TurnAutoProcess(1, false, &rctc, nullptr); },
                            "Turn index must be between 0 and 0");
  EXPECT_EQ(fNet->TurnCount(0), 0);
}

TEST_F(TurnAuto, CallbacksDecideInstead) {
  TTestNetworkWriter w;
  const auto T = AddJunction(w, {0, 0}, {S, W, E}, 100);  // slots in this order
  const auto X = AddJunction(w, {1000, 0}, {E, N, S, W}, 100);
  TNetwork& net = Open(w);
  std::vector<std::vector<int32_t>> tCalls, xCalls;
  net.SetonTurnT([&](TObject* sender, int32_t, int32_t a, int32_t b, int32_t c) {
    EXPECT_EQ(sender, &net);
    tCalls.push_back({a, b, c});
    net.TurnRestriction(0, c, a, 9);
  });
  net.SetonTurn([&](TObject*, int32_t, const TIntegerArray& links) { xCalls.push_back(links); });
  // Both callbacks set: no road-class weights needed.
  net.TurnAutoProcess(0, false, nullptr, nullptr);
  // A: the through link from which the stem is reached by a right turn (west).
  EXPECT_EQ(tCalls, (std::vector<std::vector<int32_t>>{{T[1], T[2], T[0]}}));
  EXPECT_EQ(StoredTurns(net, 0), (std::vector<TStoredTurn>{{{T[0], T[1]}, 9}}));
  // Counter-clockwise from north; clockwise with left-hand traffic.
  net.TurnAutoProcess(0, true, nullptr, nullptr);
  EXPECT_EQ(xCalls, (std::vector<TIntegerArray>{{0, X[1], X[3], X[2], X[0]}, {0, X[0], X[2], X[3], X[1]}}));
}

TEST_F(TurnAuto, StandardTurns) {
  struct TCase {
    std::vector<double> bearings;
    std::string message;
    size_t stored;
  };
  const TCase cases[] = {
      {{N, W, S, E}, "", 8},
      {{0, 60, 120, 180, 240, 300}, "", 24},
      {{N, W, S}, "Degree for node should be >=4 (is 3)", 0},
      {{0, 72, 144, 216, 288}, "Degree for node should be even (is 5)", 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.bearings.size());
    const auto L = Junction(c.bearings);
    EXPECT_EQ(MessageOf([&] { fNet->TurnStandard(0, 1); }), c.message);
    const auto stored = StoredTurns(*fNet, 0);
    ASSERT_EQ(stored.size(), c.stored);
    // Straight through (the opposite arm) and U-turns stay allowed.
    const size_t d = L.size();
    for (const TStoredTurn& t : stored) {
      const size_t i = size_t(std::find(L.begin(), L.end(), t.links[0]) - L.begin());
      const size_t j = size_t(std::find(L.begin(), L.end(), t.links[1]) - L.begin());
      EXPECT_NE((i + d / 2) % d, j);
      EXPECT_EQ(t.value, -1);
    }
  }
  // One-way codes already forbid some movements, which are then not stored.
  const auto L = Junction({N, W, S, E});
  fNet->OneWaySet(L[0], cAttrOnewayFromTo);  // the north arm only leaves the junction
  fNet->TurnStandard(0, 1);
  EXPECT_EQ(fNet->TurnCount(0), 6);
  ExpectRaises<EOutOfRange>([&] { fNet->TurnStandard(0, 99); }, "Node-ID must be =<5: 99");
}

TEST_F(TurnAuto, MandatoryTurns) {
  TTestNetworkWriter w;
  const auto L = AddJunction(w, {0, 0}, {N, W, S, E}, 100);
  const int32_t apart = w.AddLink({{500, 500}, {600, 500}});
  TNetwork& net = Open(w);
  net.TurnRestriction(0, L[0], L[2], -1);
  net.TurnMandatory(0, L[0], L[2]);
  EXPECT_EQ(StoredTurns(net, 0), Sorted({{{L[0], L[1]}, -1}, {{L[0], L[3]}, -1}}));

  net.TurnClear(0);
  ExpectRaises<EParallelLinks>([&] { net.TurnMandatory(0, L[1], L[1]); },
                               "Link " + std::to_string(L[1]) + " and " + std::to_string(L[1]) + " are parallel");
  ExpectRaises<ENotConnected>([&] { net.TurnMandatory(0, L[1], apart); },
                              "Link " + std::to_string(L[1]) + " and " + std::to_string(apart) + " are not connected");
  net.TurnMandatory_raw(0, L[1], L[1], true);
  net.TurnMandatory_raw(0, L[1], apart, true);
  EXPECT_EQ(net.TurnCount(0), 0);
}

TEST_F(TurnAuto, LinksSortByLeavingAngle) {
  TTestNetworkWriter w;
  // Two links leave eastwards along the same first segment: a tie.
  const int32_t e1 = w.AddLink({{0, 0}, {100, 0}});
  const int32_t n = w.AddLink({{0, 100}, {0, 0}});
  const int32_t e2 = w.AddLink({{0, 0}, {50, 0}, {80, 40}});
  const int32_t s = w.AddLink({{0, 0}, {0, -100}});
  TNetwork& net = Open(w);
  const auto slots = net.Adjacent(1);
  ASSERT_EQ(slots.size(), 4u);
  auto linkAt = [&](int32_t slot) { return std::abs(slots[size_t(slot) - 1]); };
  const TIntegerArray order = net.SortLinksByAngle(1);
  ASSERT_EQ(order.size(), 5u);
  EXPECT_EQ((std::vector<int32_t>{linkAt(order[1]), linkAt(order[2]), linkAt(order[3]), linkAt(order[4])}),
            (std::vector<int32_t>{n, s, e1, e2}));
  EXPECT_EQ(net.LinkLeavingAngle(1, order[1]), 0);
  EXPECT_EQ(net.LinkLeavingAngle(1, order[2]), 180);
  EXPECT_EQ(net.LinkLeavingAngle(1, order[3]), 270);
}

}  // namespace
