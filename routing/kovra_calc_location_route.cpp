// TCalc cost and route from the last tree to a location: the end labels (node
// mode) or driving-direction labels (turn mode) of the target link plus the
// part of the link still to drive, the choice between the direct and the
// around route on the origin's own link, the predecessor walk and the
// wrapping of a node route, and NodeCost after a tree from a location.
#include <algorithm>
#include <cmath>

#include "routing/kovra_calc.h"

namespace kovra {

namespace {

inline constexpr const char* cMsgNotImplemented = "Not implemented";
inline constexpr const char* cMsgOnlyTurnmode = "Only possible in turnmode";
inline constexpr const char* cMsgDifferentApproach = "RouteFindDyn do not support different approach on the same link";

inline int32_t Abs(int32_t v) { return v < 0 ? -v : v; }

}  // namespace

// ---------------------------------------------------------------------------
// Public forms

float TCalc::LinkCostDyn(const TLocation& loc) const {
  FNW.CheckOpen();
  FNW.CheckLocation(loc);
  CheckLabels();
  return RouteToLocation(loc, apIgnore, nullptr);
}

float TCalc::LinkCostDynApproach(const TLocation& loc, TApproach approach) const {
  FNW.CheckOpen();
  FNW.CheckLocation(loc);
  if (!FTurnMode) throw Exception(cMsgOnlyTurnmode);
  CheckLabels();
  if (loc.link == Flinkdyn) throw Exception(cMsgNotImplemented);
  return RouteToLocation(loc, approach, nullptr);
}

float TCalc::RouteFindDyn(const TLocation& Loc, TRoute& route) const {
  FNW.CheckOpen();
  FNW.CheckLocation(Loc);
  CheckLabels();
  return RouteToLocation(Loc, apIgnore, &route);
}

float TCalc::RouteFindDynApproach(const TLocation& loc, TApproach approach, TRoute& route) const {
  FNW.CheckOpen();
  FNW.CheckLocation(loc);
  CheckLabels();
  return RouteToLocation(loc, approach, &route);
}

float TCalc::CostToLocation(const TLocation& loc) const {
  CheckLabels();
  return RouteToLocation(loc, apIgnore, nullptr);
}

// ---------------------------------------------------------------------------
// The decision

float TCalc::RouteToLocation(const TLocation& loc, TApproach a, TRoute* route) const {
  const int32_t L = loc.link;
  const double q = loc.percent;
  const int32_t S = Flinkdyn;
  const double p = Fpercentdyn;
  if (route) {
    route->links.clear();
    route->nodes.clear();
    route->percent1 = p;
    route->percent2 = q;
  }
  if ((fS.Fanylimit && !LimitOK(L)) || (fS.FSkipLinkList && fS.FSkipLinkList->GetBit(L))) return cInfinity;
  if (S != 0 && L == S && a != Fapproachdyn) throw Exception(cMsgDifferentApproach);
  const int32_t e = fS.FIgnoreOneWay ? 0 : FNW.OneWayCode(L);
  const float ft = CostFT(L, 0), tf = CostTF(L, 0);
  const int32_t fL = FNW.Fromnodes()[size_t(L)], tL = FNW.Tonodes()[size_t(L)];

  // The cost of each arrival, with unreached tested explicitly. Both are
  // read before any branch on the one-way code, so the label loads overlap
  // the attribute load instead of waiting on it.
  float costF, costB;
  if (FTurnMode) {
    costF = StateReached(L, true) ? float(double(cost1(L)) - (1 - q) * double(ft)) : cInfinity;
    costB = StateReached(L, false) ? float(double(cost2(L)) - q * double(tf)) : cInfinity;
  } else {
    costF = P0array(fL) != cNoPred ? AddMulCost(cost0(fL), q, ft) : cInfinity;
    costB = P0array(tL) != cNoPred ? AddMulCost(cost0(tL), 1 - q, tf) : cInfinity;
  }

  if (S == 0) {
    // After a tree from a node: the cost only.
    switch (e) {
      case 0: return std::min(costB, costF);
      case 1: return costF;
      case 2: return costB;
      default: return cInfinity;
    }
  }

  // The route of an arrival: the walk (turn mode) or the wrapped node route.
  float cost = cInfinity;
  bool forward = true;  // arrival direction when arriving
  enum { cNone, cDirect, cArrive } kind = cNone;
  int32_t detourSign = 0;  // two-way detours on the origin link: the sign of both ends

  const double h = std::fabs(q - p);
  if (L == S) {
    switch (e) {
      case 0: {
        const float direct = MulCost(h, ft);
        kind = cDirect;
        cost = direct;
        if (FTurnMode) {
          if (q > p + 0.5 && StateReached(S, false)) {
            const float c = costB;
            if (c < MulCost(h, tf)) cost = c, kind = cArrive, forward = false, detourSign = -1;
          } else if (p > q + 0.5 && StateReached(S, true)) {
            const float c = costF;
            if (c < direct) cost = c, kind = cArrive, forward = true, detourSign = 1;
          }
        } else {
          if (q > p + 0.5 && P0array(tL) != cNoPred) {
            const float c = AddMulCost(cost0(tL), 1 - q, ft);
            if (c < direct) cost = c, kind = cArrive, forward = false, detourSign = -1;
          } else if (p > q + 0.5 && P0array(fL) != cNoPred) {
            const float c = AddMulCost(cost0(fL), q, tf);
            if (c < MulCost(h, tf)) cost = c, kind = cArrive, forward = true, detourSign = 1;
          }
        }
        break;
      }
      case 1:
        if (q >= p) kind = cDirect, cost = MulCost(h, ft);
        else kind = cArrive, forward = true, cost = costF;
        break;
      case 2:
        if (q <= p) kind = cDirect, cost = MulCost(h, ft);
        else kind = cArrive, forward = false, cost = costB;
        break;
      default: break;
    }
  } else if (FTurnMode) {
    const bool rf = StateReached(L, true), rb = StateReached(L, false);
    switch (e) {
      case 1:
        if (a != apReverse && rf) kind = cArrive, forward = true;
        break;
      case 2:
        if (a != apForward && rb) kind = cArrive, forward = false;
        break;
      case 0:
        if (!rf && !rb) break;
        if (rb && !rf) {
          if (a != apForward) kind = cArrive, forward = false;
        } else if (rf && !rb) {
          if (a != apReverse) kind = cArrive, forward = true;
        } else if (a == apForward) {
          kind = cArrive, forward = true;
        } else if (a == apReverse) {
          kind = cArrive, forward = false;
        } else {
          kind = cArrive;
          forward = costB > costF;
        }
        break;
      default: break;
    }
    if (kind == cArrive) cost = forward ? costF : costB;
  } else {
    switch (e) {
      case 1: kind = cArrive, forward = true; break;
      case 2: kind = cArrive, forward = false; break;
      case 0:
        if (P0array(fL) == cNoPred && P0array(tL) == cNoPred) break;
        kind = cArrive;
        forward = costB > costF;
        break;
      default: break;
    }
    if (kind == cArrive) cost = forward ? costF : costB;
  }

  // Every unreachable case leaves the route empty.
  if (!(cost < cInfinity) || !route) return cost < cInfinity ? cost : cInfinity;
  if (kind == cDirect) {
    route->links.push_back(q > p ? S : -S);
    return cost;
  }
  if (FTurnMode) WalkToLocation(S, Fapproachdyn, L, forward, *route);
  else WrapNodeRoute(S, forward ? fL : tL, L, *route);
  if (detourSign != 0) {
    route->links.front() = detourSign * S;
    route->links.back() = detourSign * S;
  } else {
    const int32_t tS = FNW.Tonodes()[size_t(S)];
    route->links.front() = route->nodes.front() == tS ? S : -S;
    route->links.back() = forward ? L : -L;
  }
  return cost;
}

// Turn mode: from L's state back to the origin link. The walk ends at the
// first predecessor that is the origin link as the tree left it; a loop that
// re-entered the origin link on that side is not followed.
void TCalc::WalkToLocation(int32_t S, TApproach left, int32_t L, bool forward, TRoute& route) const {
  const int32_t* from = FNW.Fromnodes().data();
  const int32_t* to = FNW.Tonodes().data();
  auto isOrigin = [&](int32_t pred) {
    switch (left) {
      case apForward: return pred == S;
      case apReverse: return pred == -S;
      default: return Abs(pred) == S;
    }
  };
  const int32_t cap = FNW.LinkCount() + 1;
  route.nodes.push_back(forward ? from[L] : to[L]);
  int32_t pred = forward ? P1array(L) : P2array(L);
  while (!isOrigin(pred)) {
    if (pred == cNoPred || pred == 0 || int32_t(route.links.size()) >= cap)
      throw Exception(Format(cMsgRouteWalk, cap));
    route.links.push_back(pred);
    const int32_t K = Abs(pred);
    route.nodes.push_back(from[K] + to[K] - route.nodes.back());
    pred = pred > 0 ? P1array(K) : P2array(K);
  }
  std::reverse(route.links.begin(), route.links.end());
  std::reverse(route.nodes.begin(), route.nodes.end());
  route.links.insert(route.links.begin(), S);
  route.links.push_back(L);
}

// Node mode: the route from the seeded end of the origin link to node, with
// the origin link in front and L behind (signs set by the caller).
void TCalc::WrapNodeRoute(int32_t S, int32_t node, int32_t L, TRoute& route) const {
  const TRoute r = ExtractRoute(node);
  route.nodes = r.nodes;
  route.links.reserve(r.links.size() + 2);
  route.links.push_back(S);
  route.links.insert(route.links.end(), r.links.begin(), r.links.end());
  route.links.push_back(L);
}

// ---------------------------------------------------------------------------
// NodeCost after a tree from a location

float TCalc::NodeCostAfterLocation(int32_t node) const {
  const int32_t S = Flinkdyn;
  const int32_t f = FNW.Fromnodes()[size_t(S)], t = FNW.Tonodes()[size_t(S)];
  if (!fS.FIgnoreOneWay) {
    const int32_t e = FNW.OneWayCode(S);
    if (e == 1 && node == t) return RouteToLocation(TLocation{S, 1.0}, Fapproachdyn, nullptr);
    if (e == 2 && node == f) return RouteToLocation(TLocation{S, 0.0}, Fapproachdyn, nullptr);
  }
  if (!FTurnMode) return cost0(node);
  const int32_t slot = CheapestArrival(node);
  float c = cInfinity;
  if (slot != 0) {
    const int32_t L = Abs(FNW.Adjacent(node)[size_t(Abs(slot) - 1)]);
    c = slot > 0 ? cost1(L) : cost2(L);
  }
  // The direct share of the origin link counts only in a direction the tree
  // left in: otherwise a one-way origin would report driving against it.
  if (node == t && FLocForward) c = std::min(c, MulCost(1 - Fpercentdyn, CostFT(S, 0)));
  if (node == f && FLocBackward) c = std::min(c, MulCost(Fpercentdyn, CostTF(S, 0)));
  return c;
}

}  // namespace kovra
