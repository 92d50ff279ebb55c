// Turns generated from the network itself: automatic turn costs at junctions
// of three and four links, standard turns (straight across only) and
// mandatory turns.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <numbers>

#include "foundation/kovra_geometry.h"
#include "network/kovra_network.h"
#include "network/kovra_roadclassspeed.h"
#include "network/kovra_turn.h"

namespace kovra {

namespace {

inline constexpr const char* cMsgParallelLinks = "Link %d and %d are parallel";
inline constexpr const char* cMsgLinksNotConnected = "Link %d and %d are not connected";
inline constexpr const char* cMsgNeedsRCTC = "TurnAutoProcess needs road-class turn costs";
inline constexpr const char* cMsgAutoCostRange = "TurnAutoProcess: turn-cost factors give costs out of range";

int32_t Deviation(int32_t a) { return std::min(a, 360 - a); }

// The point of the link next to node: where a vehicle comes from or goes to.
TFloatPoint NearNode(const TFloatPointArrayEx& poly, bool fromEnd) {
  return fromEnd ? poly.Pnt[1] : poly.Pnt[size_t(poly.Count) - 2];
}

}  // namespace

// ---------------------------------------------------------------------------
// Angles

double TNetwork::LeavingAngle(int32_t node, int32_t link, TFloatPointArrayEx& poly) const {
  GetGISSection_raw(link, poly);
  TFloatPoint S, E;
  if (Fromnode[size_t(link)] == node) {
    S = poly.Pnt[0];
    E = poly.Pnt[1];
  } else {
    S = poly.Pnt[size_t(poly.Count) - 1];
    E = poly.Pnt[size_t(poly.Count) - 2];
  }
  switch (FCoordinateUnit) {
    case cuRad: return BearingRad(S, E);
    case cuDeg: return BearingDeg(S, E);
    case cuGrad: return BearingGrad(S, E);
    default: {
      if (S.x == E.x) return E.y < S.y ? 180 : 0;
      double a = std::atan2(E.y - S.y, E.x - S.x) * 180 / std::numbers::pi + 270;
      if (a >= 360) a -= 360;
      return a;
    }
  }
}

double TNetwork::LinkLeavingAngle(int32_t node, int32_t slot) const {
  TFloatPointArrayEx poly;
  return LeavingAngle(node, SlotLink(node, slot), poly);
}

void TNetwork::SortSlotsByAngle(int32_t node, TIntegerArray& order, TDoubleArray& angle,
                                TFloatPointArrayEx& poly) const {
  const int32_t d = Degree_raw(node);
  order.resize(size_t(d) + 1);
  angle.resize(size_t(d) + 1);
  order[0] = 0;
  for (int32_t s = 1; s <= d; ++s) {
    order[size_t(s)] = s;
    angle[size_t(s)] = LeavingAngle(node, SlotLink(node, s), poly);
  }
  // Stable: equal angles keep their slot order.
  std::stable_sort(order.begin() + 1, order.end(),
                   [&](int32_t a, int32_t b) { return angle[size_t(a)] < angle[size_t(b)]; });
}

TIntegerArray TNetwork::SortLinksByAngle(int32_t node) const {
  TIntegerArray order;
  TDoubleArray angle;
  TFloatPointArrayEx poly;
  SortSlotsByAngle(node, order, angle, poly);
  return order;
}

// ---------------------------------------------------------------------------
// Automatic turn costs

void TNetwork::TurnAutoProcessParams(double TJunction, double TJunctionCrossing, double Normal,
                                     double NormalCrossingTurn, double NormalCrossingStraight, double Fast,
                                     double Straight, double Slow) {
  cTJunction = TJunction;
  cTJunctionCrossing = TJunctionCrossing;
  cNormal = Normal;
  cNormalCrossingTurn = NormalCrossingTurn;
  cNormalCrossingStraight = NormalCrossingStraight;
  cFast = Fast;
  cStraight = Straight;
  cSlow = Slow;
}

void TNetwork::TurnAutoProcess(int32_t index, bool LeftHandTraffic, const TRoadClassTurnCost* RCTC,
                               const TBitArray* SkipNodes) {
  CheckTurnIndex(index);
  // Everything that could stop the loop half-way is refused here.
  if (!RCTC && !(eTurnT && eTurn)) throw EInvalidParameter(cMsgNeedsRCTC);
  if (SkipNodes && SkipNodes->Size() < int64_t(FNodeCount) + 1)
    throw EInvalidParameter(Format(cMsgBitArrayTooShort, int64_t(FNodeCount) + 1));
  if (RCTC) {
    // A cost is a factor times at most three weights; it must be a finite Single.
    double maxWeight = 0, maxFactor = 0;
    for (int32_t c = 0; c <= cMaxRoadClass; ++c) maxWeight = std::max(maxWeight, double(RCTC->Get(TRoadClass(c))));
    for (const double f : {cTJunction, cTJunctionCrossing, cNormal, cNormalCrossingTurn, cNormalCrossingStraight,
                           cFast, cStraight, cSlow}) {
      if (!std::isfinite(f)) throw EInvalidParameter(cMsgAutoCostRange);
      maxFactor = std::max(maxFactor, std::abs(f));
    }
    if (maxFactor * 3 * maxWeight > double(FLT_MAX)) throw EInvalidParameter(cMsgAutoCostRange);
  }

  TTurnRestrictions& set = *FTurnList[size_t(index)];
  TIntegerArray order, links;
  TDoubleArray angle;
  TFloatPointArrayEx poly;
  int32_t node = 0;

  // No traffic arrives at the node along a link that is one-way away from it.
  const auto weight = [&](int32_t l) -> double {
    const uint16_t a = Fattribute[size_t(l)];
    if ((Fromnode[size_t(l)] == node && (a & cAttrOnewayFromTo)) || (tonode[size_t(l)] == node && (a & cAttrOnewayToFrom)))
      return 0;
    return RCTC->Get(GetRoadClass(l));
  };
  const auto autoTurn = [&](int32_t from, int32_t to, double cost) {
    const float c = float(cost);
    if (c == 0) return;
    const uint16_t af = Fattribute[size_t(from)], at = Fattribute[size_t(to)];
    if (tonode[size_t(from)] == node && (af & cAttrOnewayToFrom)) return;
    if (Fromnode[size_t(to)] == node && (at & cAttrOnewayToFrom)) return;
    if (Fromnode[size_t(from)] == node && (af & cAttrOnewayFromTo)) return;
    if (tonode[size_t(to)] == node && (at & cAttrOnewayFromTo)) return;
    set.AddSimple(from, to, c);
  };
  const auto turnAngle = [&](const TFloatPoint& P1, const TFloatPoint& C, const TFloatPoint& P2) {
    switch (FCoordinateUnit) {
      case cuRad: return TurnAngleRad(P1, C, P2);
      case cuDeg: return TurnAngleDeg(P1, C, P2);
      case cuGrad: return TurnAngleGrad(P1, C, P2);
      default: return TurnAnglePlanar(P1, C, P2);
    }
  };

  const auto tJunction = [&]() {
    int32_t L[4];
    TFloatPoint P[4];
    for (int32_t s = 1; s <= 3; ++s) {
      L[s] = SlotLink(node, s);
      GetGISSection_raw(L[s], poly);
      P[s] = NearNode(poly, Fromnode[size_t(L[s])] == node);
    }
    const TFloatPoint C = Node2Coordinate_raw(node);
    const int32_t a12 = turnAngle(P[1], C, P[2]), a13 = turnAngle(P[1], C, P[3]), a23 = turnAngle(P[2], C, P[3]);
    const int32_t d12 = Deviation(a12), d13 = Deviation(a13), d23 = Deviation(a23);
    int32_t A, B, Cs;
    if (d12 <= d13 && d12 <= d23) {
      Cs = L[3];
      if (a13 >= 180) A = L[1], B = L[2];
      else A = L[2], B = L[1];
    } else if (d13 <= d12 && d13 <= d23) {
      Cs = L[2];
      if (a23 < 180) A = L[3], B = L[1];
      else A = L[1], B = L[3];
    } else {
      Cs = L[1];
      if (a12 < 180) A = L[2], B = L[3];
      else A = L[3], B = L[2];
    }
    if (eTurnT) {
      eTurnT(this, node, A, B, Cs);
      return;
    }
    const double wA = weight(A), wB = weight(B);
    if (!LeftHandTraffic) {
      autoTurn(Cs, A, cTJunctionCrossing * (wA + wB));
      autoTurn(Cs, B, cTJunction * wA);
      autoTurn(B, Cs, cTJunction * wA);
    } else {
      autoTurn(Cs, A, cTJunction * wB);
      autoTurn(Cs, B, cTJunctionCrossing * (wA + wB));
      autoTurn(A, Cs, cTJunction * wB);
    }
  };

  const auto fourWay = [&]() {
    int32_t L[4];
    double w[4];
    for (int32_t i = 0; i < 4; ++i) {
      L[i] = SlotLink(node, order[size_t(i) + 1]);
      w[i] = weight(L[i]);
    }
    if (w[0] == w[1] && w[1] == w[2] && w[2] == w[3]) {
      const double x = w[0];
      for (int32_t i = 0; i < 4; ++i) autoTurn(L[i], L[(i + 1) % 4], cFast * x);
      for (int32_t i = 0; i < 4; ++i) autoTurn(L[i], L[(i + 2) % 4], cStraight * x);
      for (int32_t i = 0; i < 4; ++i) autoTurn(L[i], L[(i + 3) % 4], cSlow * x);
      return;
    }
    if (w[1] + w[3] > w[0] + w[2]) {
      std::rotate(L, L + 1, L + 4);
      std::rotate(w, w + 1, w + 4);
    }
    // Both major arms (L1, L3) must weigh at least as much as each minor arm.
    if (!(w[0] >= w[1] && w[0] >= w[3] && w[2] >= w[1] && w[2] >= w[3])) return;
    autoTurn(L[0], L[3], cNormal * w[2]);
    autoTurn(L[1], L[2], cNormal * w[0]);
    autoTurn(L[2], L[1], cNormal * w[0]);
    autoTurn(L[3], L[0], cNormal * w[2]);
    autoTurn(L[1], L[3], cNormalCrossingStraight * (w[0] + w[2]));
    autoTurn(L[3], L[1], cNormalCrossingStraight * (w[0] + w[2]));
    autoTurn(L[1], L[0], cNormalCrossingTurn * (w[0] + w[2] + w[3]));
    autoTurn(L[3], L[2], cNormalCrossingTurn * (w[0] + w[1] + w[2]));
  };

  for (node = 1; node <= FNodeCount; ++node) {
    if (SkipNodes && SkipNodes->GetBit(node)) continue;
    const int32_t d = Degree_raw(node);
    if (d <= 2) continue;
    if (d == 3) {
      tJunction();
      continue;
    }
    SortSlotsByAngle(node, order, angle, poly);
    if (LeftHandTraffic) std::reverse(order.begin() + 1, order.end());
    if (eTurn) {
      links.assign(order.size(), 0);
      for (int32_t s = 1; s <= d; ++s) links[size_t(s)] = SlotLink(node, order[size_t(s)]);
      eTurn(this, node, links);
    } else if (d == 4) {
      fourWay();
    }
  }
}

// ---------------------------------------------------------------------------
// Standard and mandatory turns

void TNetwork::TurnStandard(int32_t index, int32_t node) {
  CheckTurnIndex(index);
  CheckNode(node);
  TurnStandardCore(index, node);
}

void TNetwork::TurnStandardCore(int32_t index, int32_t node) {
  const int32_t d = Degree_raw(node);
  if (d < 4) throw EWrongDegree(Format(cMsgDegreeAtLeast4, d));
  if (d % 2 != 0) throw EWrongDegree(Format(cMsgDegreeEven, d));
  const TIntegerArray order = SortLinksByAngle(node);
  for (int32_t i = 1; i <= d; ++i)
    for (int32_t j = 1; j <= d; ++j)
      if (i != j && std::abs(i - j) != d / 2)
        AddTurnChecked(index, SlotLink(node, order[size_t(i)]), SlotLink(node, order[size_t(j)]), -1);
}

void TNetwork::TurnMandatory(int32_t index, int32_t link1, int32_t link2) {
  CheckTurnIndex(index);
  CheckLink(link1);
  CheckLink(link2);
  TurnMandatory_raw(index, link1, link2, false);
}

void TNetwork::TurnMandatory_raw(int32_t index, int32_t link1, int32_t link2, bool ignore_error) {
  const int32_t f1 = Fromnode[size_t(link1)], t1 = tonode[size_t(link1)];
  const int32_t f2 = Fromnode[size_t(link2)], t2 = tonode[size_t(link2)];
  if ((f1 == f2 && t1 == t2) || (f1 == t2 && t1 == f2)) {
    if (!ignore_error) throw EParallelLinks(Format(cMsgParallelLinks, link1, link2));
    return;
  }
  int32_t shared = 0;
  if (f1 == f2 || f1 == t2) shared = f1;
  else if (t1 == f2 || t1 == t2) shared = t1;
  // A rejected link has both ends 0, which no node is.
  if (shared == 0) {
    if (!ignore_error) throw ENotConnected(Format(cMsgLinksNotConnected, link1, link2));
    return;
  }
  for (const int32_t e : Adjacent(shared)) {
    const int32_t l = std::abs(e);
    if (l != link1 && l != link2) AddTurnChecked(index, link1, l, -1);
  }
  AddTurnChecked(index, link1, link2, 0);
}

}  // namespace kovra
