// TRouteCalc location routes: the cheapest route between two places inside
// links, in node mode and in turn mode, with the sides each place may be left
// or reached from, the direct cost along a shared link and the duplicate
// links of both ends.
//
// Kept as they are, on purpose:
// - node mode searches from the nearer end of the start link and starts the
//   other end once its queue's frontier has passed that end's share; both
//   queues share the node labels, and a node is settled again when the other
//   queue brings a strictly lower cost;
// - of two duplicate combinations that cost the same the earlier one wins;
//   the approach forms never try duplicates;
// - every vehicle limit makes the search enter dead-end trees (Route picks
//   its mode from the two ends alone);
// - the cancel flag is not read.
//
// Mended: turn mode does not stop at the direct cost f once an entry costs
// more than f. A label is the cost at the far end of a whole link, and the
// arrival subtracts the part of the end link not driven, so a label above f
// can still arrive below it. The search ends only past f + max(1, Alpha) x
// the end link's cost: below that a label may still arrive under f, and with
// A* an end-link entry (which has no estimate) may surface that much later.
#include <algorithm>
#include <cmath>

#include "routing/kovra_calc.h"
#include "routing/kovra_calc_search.h"

namespace kovra {

using calcsearch::Bit;

struct TRouteCalc::TDynSearch {
  int32_t link1 = 0, link2 = 0;
  double p1 = 0, p2 = 0;
  int32_t from1 = 0, to1 = 0, from2 = 0, to2 = 0;
  // leave forward: from the start towards to1; arrive forward: coming from
  // from2.
  bool leaveF = false, leaveB = false, arriveF = false, arriveB = false;
  float f = -1;  // direct cost along the shared link, -1 when none
  int32_t culdesac = 0, ndt = 0;
  TFloatPoint target{};
  // Result of the search proper: the arrival side chosen (+1 forward, -1
  // backward, 0 none).
  int32_t arrival = 0;
  int64_t settled = 0, taken = 0;
};

// ---------------------------------------------------------------------------
// Public forms

void TRouteCalc::CheckDynArguments(const TLocation& loc1, const TLocation& loc2) const {
  // The open test first: a closed network would otherwise report a link id
  // out of range.
  FNW.CheckOpen();
  FNW.CheckLocation(loc1);
  FNW.CheckLocation(loc2);
}

float TRouteCalc::RouteDyn(const TLocation& loc1, const TLocation& loc2) {
  CheckDynArguments(loc1, loc2);
  return RouteDynDuplicates(loc1, loc2, apIgnore, apIgnore, nullptr);
}

float TRouteCalc::RouteDynEx(const TLocation& loc1, const TLocation& loc2, TRoute& aRoute) {
  aRoute.links.clear();
  aRoute.nodes.clear();
  CheckDynArguments(loc1, loc2);
  return RouteDynDuplicates(loc1, loc2, apIgnore, apIgnore, &aRoute);
}

float TRouteCalc::RouteDynApproach(const TLocation& loc1, const TLocation& loc2, TApproach Approach1,
                                   TApproach Approach2) {
  CheckDynArguments(loc1, loc2);
  fLastSettled = 0;
  fLastPushed = 0;
  return RouteDynSearch(loc1, loc2, Approach1, Approach2, nullptr);
}

float TRouteCalc::RouteDynApproachEx(const TLocation& loc1, const TLocation& loc2, TApproach Approach1,
                                     TApproach Approach2, TRoute& aRoute) {
  aRoute.links.clear();
  aRoute.nodes.clear();
  CheckDynArguments(loc1, loc2);
  fLastSettled = 0;
  fLastPushed = 0;
  return RouteDynSearch(loc1, loc2, Approach1, Approach2, &aRoute);
}

// ---------------------------------------------------------------------------
// Duplicate links

float TRouteCalc::RouteDynDuplicates(const TLocation& loc1, const TLocation& loc2, TApproach Approach1,
                                     TApproach Approach2, TRoute* route) {
  fLastSettled = 0;
  fLastPushed = 0;
  int32_t dup1 = 0, dup2 = 0;
  if (FDuplicateLinks && Approach1 == apIgnore && Approach2 == apIgnore) {
    dup1 = FNW.GetDuplicateLink(loc1.link);
    dup2 = FNW.GetDuplicateLink(loc2.link);
  }
  if (dup1 == 0 && dup2 == 0) return RouteDynSearch(loc1, loc2, Approach1, Approach2, route);
  const int32_t starts[2] = {loc1.link, dup1};
  const int32_t ends[2] = {loc2.link, dup2};
  float best = cInfinity;
  if (route) {
    route->links.clear();
    route->nodes.clear();
    route->percent1 = loc1.percent;
    route->percent2 = loc2.percent;
  }
  for (const int32_t a : starts) {
    if (a == 0) continue;
    for (const int32_t b : ends) {
      if (b == 0) continue;
      const float r = RouteDynSearch(TLocation{a, loc1.percent}, TLocation{b, loc2.percent}, Approach1, Approach2,
                                     route ? &fDynScratch : nullptr);
      if (r != -1 && r < best) {
        best = r;
        if (route) std::swap(*route, fDynScratch);
      }
    }
  }
  return best == cInfinity ? -1.0f : best;
}

// ---------------------------------------------------------------------------
// The search

float TRouteCalc::RouteDynSearch(const TLocation& loc1, const TLocation& loc2, TApproach Approach1,
                                 TApproach Approach2, TRoute* route) {
  CheckNetwork(true);
  // The list may have been set on an earlier opening of another size.
  if (FSkipNodeList && FSkipNodeList->Size() != int64_t(FNW.NodeCount()) + 1) throw Exception(cMsgSkipNodeListSize);
  TDynSearch s;
  s.link1 = loc1.link;
  s.link2 = loc2.link;
  s.p1 = loc1.percent;
  s.p2 = loc2.percent;
  FnodeTurnMode = 0;
  Flinkdyn = 0;
  Fpercentdyn = 0;
  fS.Lmax = 5;
  if (route) {
    route->links.clear();
    route->nodes.clear();
    route->percent1 = s.p1;
    route->percent2 = s.p2;
  }
  // Every way out starts a fresh search, so that the readers never describe
  // the search before.
  auto fresh = [&] {
    if (FTurnMode) ResetLinkLabels();
    else ResetNodeLabels();
    MarkSearched(skLocationRoute);
  };

  // The sides the one-way rules and the approaches leave open. A skipped
  // link is closed at either end as in the trees from a location, so that
  // both modes agree (node mode would otherwise drive onto it from its ends).
  const bool ignoreOneway = fS.FIgnoreOneWay;
  const int32_t e1 = ignoreOneway ? 0 : FNW.OneWayCode(s.link1);
  s.leaveF = (e1 == 0 || e1 == 1) && Approach1 != apReverse;
  s.leaveB = (e1 == 0 || e1 == 2) && Approach1 != apForward;
  if (!s.leaveF && !s.leaveB) {
    fresh();
    return -1;
  }
  const int32_t e2 = ignoreOneway ? 0 : FNW.OneWayCode(s.link2);
  s.arriveF = (e2 == 0 || e2 == 1) && Approach2 != apReverse;
  s.arriveB = (e2 == 0 || e2 == 2) && Approach2 != apForward;
  const TBitArray* skipLinks = fS.FSkipLinkList;
  auto closed = [&](int32_t L) {
    return (fS.Fanylimit && !LimitOK(L)) || (skipLinks && skipLinks->GetBit(L));
  };
  if ((!s.arriveF && !s.arriveB) || closed(s.link2)) {
    fresh();
    return -1;
  }
  const int32_t* from = FNW.Fromnodes().data();
  const int32_t* to = FNW.Tonodes().data();
  s.from1 = from[s.link1];
  s.to1 = to[s.link1];
  s.from2 = from[s.link2];
  s.to2 = to[s.link2];

  if (fS.FNoDriveThrough) {
    const int64_t bits = int64_t(FNW.LinkCount()) + 1;
    if (!FNoDriveThroughBits) FNoDriveThroughBits = std::make_unique<TBitArray>(bits);
    else if (FNoDriveThroughBits->Size() != bits) FNoDriveThroughBits->SetSize(bits);
    FNW.AreaList().Update(*FNoDriveThroughBits, FNW.AreaList().GetArea(s.link1), FNW.AreaList().GetArea(s.link2));
    s.ndt = 1;
  }

  // The direct cost along a shared link; the search then looks only for
  // routes that leave and come back around in the directions still open.
  if (s.link1 == s.link2) {
    if (s.p2 >= s.p1 && s.leaveF && s.arriveF) {
      s.f = MulCost(s.p2 - s.p1, CostFT(s.link1, 0));
      s.leaveF = s.arriveF = false;
    } else if (s.p1 >= s.p2 && s.leaveB && s.arriveB) {
      s.f = MulCost(s.p1 - s.p2, CostTF(s.link1, 0));
      s.leaveB = s.arriveB = false;
    }
  }

  float result = -1;
  if (IsSkipNode(s.from2)) s.arriveF = false;
  if (IsSkipNode(s.to2)) s.arriveB = false;
  // Nothing left to search for (the skip nodes close the end, or the direct
  // cost took the only open sides): the search could only end empty.
  if ((!s.leaveF && !s.leaveB) || closed(s.link1) || (!s.arriveF && !s.arriveB)) {
    fresh();
  } else {
    // 2: every dead-end tree may be entered; 1: the start lies in one; 0:
    // dead-end trees holding neither end are never entered. A demanded side
    // may need a turn in a dead end, and so may a turn rule.
    const TBitArray& cds = FNW.CulDeSacs();
    s.culdesac = fS.Fanylimit || cds.GetBit(s.link2) ? 2 : cds.GetBit(s.link1) ? 1 : 0;
    if (Approach1 != apIgnore || Approach2 != apIgnore || TurnRulesReachDeadEnds()) s.culdesac = 2;
    s.target = FNW.Location2Coordinate_raw(loc2, 0);
    UpdateAlpha();
    MarkSearched(skLocationRoute);
    result = FTurnMode ? RouteDynTurnMode(s) : RouteDynNodeMode(s);
    fLastSettled += s.settled;
    fLastPushed += s.taken + (FTurnMode ? PQT->Count() : PQ1->Count() + PQ2->Count());
    if (route && s.arrival != 0) {
      if (FTurnMode) BuildRouteTurnMode(s, *route);
      else BuildRouteNodeMode(s, *route);
    }
  }

  // The direct cost wins unless the search found a strictly cheaper route.
  if (s.f >= 0 && (result > s.f || result < 0)) {
    result = s.f;
    s.arrival = 0;
    if (route) {
      route->links.assign(1, s.link1);
      route->nodes.clear();
    }
  }
  if (route && result >= 0) SetRouteSigns(s, *route);
  return result;
}

// ---------------------------------------------------------------------------
// Turn mode

float TRouteCalc::RouteDynTurnMode(TDynSearch& s) {
  ResetLinkLabels();
  const float ft2 = CostFT(s.link2, 0), tf2 = CostTF(s.link2, 0);
  // The estimate runs to the end location's point. The factor bounds a
  // link's cost by its chord only, and on a bent end link that point may
  // lie farther from an end node than the link's whole cost covers: the
  // estimate would then drop by more than the step onto the end link costs
  // (whose entries carry no estimate), settle an arrival before a cheaper
  // one and give up the other side too early. Lowering every estimate by
  // the excess keeps it a lower bound; on a straight end link the excess is
  // 0 and the keys stay as they were.
  if (fS.Falpha > 0) {
    const double a = fS.Falpha;
    auto excess = [&](int32_t node, float cost) {
      return a * FNW.DistanceBetweenPoints_raw(FNW.Node2Coordinate_raw(node), s.target) - double(cost);
    };
    SetEstimateLowering(std::max({0.0, excess(s.from2, ft2), excess(s.to2, tf2)}));
  }
  TPQturn& pq = *PQT;
  pq.Clear();
  const bool astar = fS.Falpha > 0;
  const bool hierarchy = fS.FHierarchy;
  const uint32_t* skip = FSkipNodeList ? FSkipNodeList->Words().data() : nullptr;
  const uint16_t* attr = FNW.Attributes().data();
  const int32_t* from = FNW.Fromnodes().data();
  const int32_t link1 = s.link1, link2 = s.link2;

  // The start link's leaving states count as settled (predecessor 0), so no
  // route passes the start again in a direction it was left in; on a shared
  // link they stay open for the way around.
  if (s.leaveF) {
    const float t = MulCost(1 - s.p1, CostFT(link1, 0));
    if (link1 != link2) SetState(link1, true, t, 0);
    if (!(skip && Bit(skip, s.to1)))
      ExpandTurnMode(link2, link1, s.to1, t, astar, s.target, false, s.culdesac, s.ndt, hierarchy);
  }
  if (s.leaveB) {
    const float t = MulCost(s.p1, CostTF(link1, 0));
    if (link1 != link2) SetState(link1, false, t, 0);
    if (!(skip && Bit(skip, s.from1)))
      ExpandTurnMode(link2, link1, s.from1, t, astar, s.target, false, s.culdesac, s.ndt, hierarchy);
  }

  const float stop =
      s.f >= 0 ? float(double(s.f) + double(std::max(1.0f, FXAlpha)) * double(std::max(ft2, tf2))) : cInfinity;
  float bound = cInfinity;
  int64_t taken = 0, settled = 0;
  do {
    TPQturnitem it;
    bool forward = false;
    for (;;) {
      it = pq.Deq();
      if (it.ToLink == 0) break;
      ++taken;
      if (hierarchy) fS.Lmax = (attr[it.ToLink] & cAttrHierarchy) >> 5;
      forward = it.Node == from[it.ToLink];
      if (!StateReached(it.ToLink, forward)) break;
    }
    if (it.ToLink == 0) break;
    SetState(it.ToLink, forward, it.cost, it.FromLink);
    ++settled;
    if (it.ToLink == link2 && (forward ? s.arriveF : s.arriveB)) bound = AddCost(it.cost, forward ? ft2 : tf2);
    // Beyond the first arrival plus the whole end link the other side can
    // no longer arrive cheaper.
    if (it.cost > bound) {
      if (!StateReached(link2, true)) s.arriveF = false;
      if (!StateReached(link2, false)) s.arriveB = false;
    }
    if (it.cost > stop) break;
    if (!(skip && Bit(skip, it.NextNode)))
      ExpandTurnMode(link2, it.ToLink, it.NextNode, it.cost, astar, s.target, false, s.culdesac, s.ndt, hierarchy);
  } while ((!StateReached(link2, true) && s.arriveF) || (!StateReached(link2, false) && s.arriveB));
  s.taken = taken;
  s.settled = settled;

  // A label is the cost at the far end of link2: the part not driven is
  // taken off.
  const bool rF = StateReached(link2, true), rB = StateReached(link2, false);
  const float u = rF ? float(double(cost1(link2)) - (1 - s.p2) * double(ft2)) : cInfinity;
  const float w = rB ? float(double(cost2(link2)) - s.p2 * double(tf2)) : cInfinity;
  s.arrival = 0;
  if (rF && rB) {
    if (s.arriveF && (u < w || !s.arriveB)) s.arrival = 1;
    else if (s.arriveB) s.arrival = -1;
  } else if (rF) {
    if (s.arriveF) s.arrival = 1;
  } else if (rB) {
    if (s.arriveB) s.arrival = -1;
  }
  return s.arrival > 0 ? u : s.arrival < 0 ? w : -1.0f;
}

// The walk back from the arrival state to the start link as it was left.
void TRouteCalc::BuildRouteTurnMode(const TDynSearch& s, TRoute& route) const {
  const TApproach left = s.leaveF && s.leaveB ? apIgnore : s.leaveF ? apForward : apReverse;
  WalkToLocation(s.link1, left, s.link2, s.arrival > 0, route);
}

// ---------------------------------------------------------------------------
// Node mode

float TRouteCalc::RouteDynNodeMode(TDynSearch& s) {
  ResetNodeLabels();
  TPQ& q1 = *PQ1;  // from from1
  TPQ& q2 = *PQ2;  // from to1
  q1.Clear();
  q2.Clear();
  const bool astar = fS.Falpha > 0;
  const bool hierarchy = fS.FHierarchy;
  const uint32_t* skip = FSkipNodeList ? FSkipNodeList->Words().data() : nullptr;
  const uint32_t* cds = FNW.CulDeSacs().Words().data();
  const uint16_t* attr = FNW.Attributes().data();
  int32_t culdesac = s.culdesac;
  int64_t taken = 0, settled = 0;

  bool startFrom = s.leaveB, startTo = s.leaveF;
  if (startFrom && startTo) {
    if (s.p1 > 0.5) startFrom = false;
    else startTo = false;
  }
  const float tb = MulCost(s.p1, CostTF(s.link1, 0));      // to reach from1
  const float tf = MulCost(1 - s.p1, CostFT(s.link1, 0));  // to reach to1
  // The current entry of each queue; FromNode 0 (nothing taken yet, or the
  // queue was empty) counts as cost 1e38.
  TPQitem h1{}, h2{};
  bool startedFrom = false, startedTo = false;
  auto take = [&](TPQ& q, TPQitem& h) {
    h = q.Deq();
    if (h.FromNode == 0) return;
    ++taken;
    if (hierarchy) fS.Lmax = (attr[h.link] & cAttrHierarchy) >> 5;
  };
  auto start = [&](bool atFrom) {
    const int32_t n = atFrom ? s.from1 : s.to1;
    TPQ& q = atFrom ? q1 : q2;
    (atFrom ? startedFrom : startedTo) = true;
    SetNodeLabel(n, atFrom ? tb : tf, 0, 0);
    if (!(skip && Bit(skip, n))) ExpandNodeMode(q, n, astar, s.target, false, culdesac, s.ndt, hierarchy);
    take(q, atFrom ? h1 : h2);
  };
  auto headCost = [](const TPQitem& h) { return h.FromNode != 0 ? h.cost : cInfinity; };
  // The other end joins once the first queue's frontier has passed its
  // share, as a virtual source would have it.
  auto delayedTo = [&] {
    if (s.leaveF && !startedTo && headCost(h1) > tf && cost0(s.to1) > tf) start(false);
  };
  auto delayedFrom = [&] {
    if (s.leaveB && !startedFrom && headCost(h2) > tb && cost0(s.from1) > tb) start(true);
  };
  if (startFrom) {
    start(true);
    delayedTo();
  }
  if (startTo || startedTo) {
    if (!startedTo) start(false);
    delayedFrom();
  }

  int32_t used = 0;
  for (;;) {
    if (used == 1) {
      take(q1, h1);
      if (culdesac == 1 && h1.FromNode != 0 && !Bit(cds, h1.link)) culdesac = 0;
      delayedTo();
    } else if (used == 2) {
      take(q2, h2);
      if (culdesac == 1 && h2.FromNode != 0 && !Bit(cds, h2.link)) culdesac = 0;
      delayedFrom();
    }
    const bool v1 = h1.FromNode != 0, v2 = h2.FromNode != 0;
    if (!v1 && !v2) break;
    const bool use1 = v1 && (!v2 || h1.sortvar <= h2.sortvar);
    used = use1 ? 1 : 2;
    const TPQitem h = use1 ? h1 : h2;
    if (culdesac == 1 && !Bit(cds, h.link)) culdesac = 0;
    if (cost0(h.ToNode) > h.cost) {
      SetNodeLabel(h.ToNode, h.cost, h.FromNode, h.link);
      ++settled;
      if (!(skip && Bit(skip, h.ToNode)))
        ExpandNodeMode(use1 ? q1 : q2, h.ToNode, astar, s.target, false, culdesac, s.ndt, hierarchy);
    }
    if (P0array(s.from2) != cNoPred && P0array(s.to2) != cNoPred) break;
  }
  s.taken = taken;
  s.settled = settled;

  const bool rF = P0array(s.from2) != cNoPred, rB = P0array(s.to2) != cNoPred;
  const float e = rF ? AddMulCost(cost0(s.from2), s.p2, CostFT(s.link2, 0)) : cInfinity;
  const float g = rB ? AddMulCost(cost0(s.to2), 1 - s.p2, CostTF(s.link2, 0)) : cInfinity;
  s.arrival = 0;
  if (rF && rB) {
    if (s.arriveF && (e < g || !s.arriveB)) s.arrival = 1;
    else if (s.arriveB) s.arrival = -1;
  } else if (rF) {
    if (s.arriveF) s.arrival = 1;
  } else if (rB) {
    if (s.arriveB) s.arrival = -1;
  }
  return s.arrival > 0 ? e : s.arrival < 0 ? g : -1.0f;
}

// The settling links from the start end to the entry end of link2, the two
// location links around them (signed by SetRouteSigns).
void TRouteCalc::BuildRouteNodeMode(const TDynSearch& s, TRoute& route) const {
  WrapNodeRoute(s.link1, s.arrival > 0 ? s.from2 : s.to2, s.link2, route);
}

// One link: positive when the end lies ahead of the start. Longer: the first
// link is negative when the route leaves at from1, the last when it arrives
// from to2.
void TRouteCalc::SetRouteSigns(const TDynSearch& s, TRoute& route) const {
  if (route.links.size() == 1) {
    route.links[0] = s.p2 > s.p1 ? s.link1 : -s.link1;
    return;
  }
  route.links.front() = route.nodes.front() == s.from1 ? -s.link1 : s.link1;
  route.links.back() = s.arrival < 0 ? -s.link2 : s.link2;
}

}  // namespace kovra
