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
#include "routing/kovra_calc_loop.h"

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
  TDeadEnds deadEnds = TDeadEnds::Avoid;
  TNoDriveThrough ndt = TNoDriveThrough::Off;
  TFloatPoint target{};
  // Result of the search proper: the arrival side chosen (+1 forward, -1
  // backward, 0 none).
  int32_t arrival = 0;
  int64_t settled = 0, taken = 0;

  // Chooses the arrival side from the sides reached (rF, rB) and their costs
  // at the end location; the cost, -1 when no open side was reached.
  float Arrive(bool rF, bool rB, float viaF, float viaB) {
    arrival = 0;
    if (rF && rB) {
      if (arriveF && (viaF < viaB || !arriveB)) arrival = 1;
      else if (arriveB) arrival = -1;
    } else if (rF) {
      if (arriveF) arrival = 1;
    } else if (rB) {
      if (arriveB) arrival = -1;
    }
    return arrival > 0 ? viaF : arrival < 0 ? viaB : -1.0f;
  }
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
    s.ndt = TNoDriveThrough::Ends;
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
    // A demanded side may need a turn in a dead end, and so may a turn rule.
    const TBitArray& cds = FNW.CulDeSacs();
    s.deadEnds = fS.Fanylimit || cds.GetBit(s.link2) ? TDeadEnds::Enter
                 : cds.GetBit(s.link1)               ? TDeadEnds::LeaveStart
                                                     : TDeadEnds::Avoid;
    if (Approach1 != apIgnore || Approach2 != apIgnore || TurnRulesReachDeadEnds()) s.deadEnds = TDeadEnds::Enter;
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
  struct TLocRouteTurn : TSearchPolicyBase {
    TRouteCalc& c;
    TDynSearch& s;
    const uint32_t* skip;
    const uint16_t* attr;
    float ft2, tf2;
    float stop, bound = cInfinity;

    TLocRouteTurn(TRouteCalc& calc, TDynSearch& search, float f2, float t2)
        : c(calc), s(search), skip(calc.FSkipNodeList ? calc.FSkipNodeList->Words().data() : nullptr),
          attr(calc.FNW.Attributes().data()), ft2(f2), tf2(t2),
          stop(search.f >= 0 ? float(double(search.f) + double(std::max(1.0f, calc.FXAlpha)) * double(std::max(f2, t2)))
                             : cInfinity) {}
    // The start link's leaving states count as settled (predecessor 0), so
    // no route passes the start again in a direction it was left in; on a
    // shared link they stay open for the way around.
    void Leave(bool forward) {
      const float t = forward ? MulCost(1 - s.p1, c.CostFT(s.link1, 0)) : MulCost(s.p1, c.CostTF(s.link1, 0));
      const int32_t n = forward ? s.to1 : s.from1;
      if (s.link1 != s.link2) c.SetState(s.link1, forward, t, 0);
      if (!(skip && Bit(skip, n))) c.ExpandTurnModeInto(*c.PQT, s.link1, n, t, o);
    }
    void Seed() {
      if (s.leaveF) Leave(true);
      if (s.leaveB) Leave(false);
    }
    void Taken(const TPQturnitem& it) {
      ++s.taken;
      if (o.hierarchy) c.fS.Lmax = (attr[it.ToLink] & cAttrHierarchy) >> 5;
    }
    TAdmit Admit(const TPQturnitem&, bool) const { return TAdmit::Settle; }
    TAfterSettle Settled(const TPQturnitem& it, bool forward) {
      ++s.settled;
      if (it.ToLink == s.link2 && (forward ? s.arriveF : s.arriveB)) bound = AddCost(it.cost, forward ? ft2 : tf2);
      // Beyond the first arrival plus the whole end link the other side can
      // no longer arrive cheaper.
      if (it.cost > bound) {
        if (!c.StateReached(s.link2, true)) s.arriveF = false;
        if (!c.StateReached(s.link2, false)) s.arriveB = false;
      }
      if (it.cost > stop) return TAfterSettle::Stop;
      return skip && Bit(skip, it.NextNode) ? TAfterSettle::Hold : TAfterSettle::Expand;
    }
    bool Done() const {
      return !((!c.StateReached(s.link2, true) && s.arriveF) || (!c.StateReached(s.link2, false) && s.arriveB));
    }
  };
  TLocRouteTurn p(*this, s, ft2, tf2);
  p.o.deadEnds = s.deadEnds;
  p.o.noDriveThrough = s.ndt;
  p.o.hierarchy = fS.FHierarchy;
  p.o.astar = fS.Falpha > 0;
  p.o.target = s.target;
  p.o.noEstimateLink = s.link2;
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
    p.o.lowering = std::max({0.0, excess(s.from2, ft2), excess(s.to2, tf2)});
  }
  RunTurnSearch(p);
  const int32_t link2 = s.link2;

  // A label is the cost at the far end of link2: the part not driven is
  // taken off.
  const bool rF = StateReached(link2, true), rB = StateReached(link2, false);
  const float u = rF ? float(double(cost1(link2)) - (1 - s.p2) * double(ft2)) : cInfinity;
  const float w = rB ? float(double(cost2(link2)) - s.p2 * double(tf2)) : cInfinity;
  return s.Arrive(rF, rB, u, w);
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
  // Two queues, one per end of the start link (PQ1 from from1, PQ2 from
  // to1); both share the node labels, and a node is settled again when the
  // other queue brings a strictly lower cost.
  struct TLocRouteNode : TSearchPolicyBase {
    using TwoQueues = std::true_type;
    TRouteCalc& c;
    TDynSearch& s;
    const uint32_t* skip;
    const uint32_t* cds;
    const uint16_t* attr;
    float tb, tf;  // to reach from1, to reach to1
    bool startedFrom = false, startedTo = false;

    TLocRouteNode(TRouteCalc& calc, TDynSearch& search)
        : c(calc), s(search), skip(calc.FSkipNodeList ? calc.FSkipNodeList->Words().data() : nullptr),
          cds(calc.FNW.CulDeSacs().Words().data()), attr(calc.FNW.Attributes().data()),
          tb(MulCost(search.p1, calc.CostTF(search.link1, 0))),
          tf(MulCost(1 - search.p1, calc.CostFT(search.link1, 0))) {}
    void Take(TPQ& q, TPQitem& h) {
      h = q.Deq();
      if (h.FromNode != 0) Taken(h);
    }
    void Taken(const TPQitem& h) {
      ++s.taken;
      if (o.hierarchy) c.fS.Lmax = (attr[h.link] & cAttrHierarchy) >> 5;
    }
    void LeaveStart(const TPQitem& h) {
      if (o.deadEnds == TDeadEnds::LeaveStart && h.FromNode != 0 && !Bit(cds, h.link)) o.deadEnds = TDeadEnds::Avoid;
    }
    void Start(TNodeHeads& hd, bool atFrom) {
      const int32_t n = atFrom ? s.from1 : s.to1;
      TPQ& q = atFrom ? *c.PQ1 : *c.PQ2;
      (atFrom ? startedFrom : startedTo) = true;
      c.SetNodeLabel(n, atFrom ? tb : tf, 0, 0);
      if (!(skip && Bit(skip, n))) c.ExpandNodeModeInto(q, n, o);
      Take(q, atFrom ? hd.h1 : hd.h2);
    }
    static float HeadCost(const TPQitem& h) { return h.FromNode != 0 ? h.cost : cInfinity; }
    // The other end joins once the first queue's frontier has passed its
    // share, as a virtual source would have it.
    void DelayedTo(TNodeHeads& hd) {
      if (s.leaveF && !startedTo && HeadCost(hd.h1) > tf && c.cost0(s.to1) > tf) Start(hd, false);
    }
    void DelayedFrom(TNodeHeads& hd) {
      if (s.leaveB && !startedFrom && HeadCost(hd.h2) > tb && c.cost0(s.from1) > tb) Start(hd, true);
    }
    void Seed(TNodeHeads& hd) {
      bool startFrom = s.leaveB, startTo = s.leaveF;
      if (startFrom && startTo) {
        if (s.p1 > 0.5) startFrom = false;
        else startTo = false;
      }
      if (startFrom) {
        Start(hd, true);
        DelayedTo(hd);
      }
      if (startTo || startedTo) {
        if (!startedTo) Start(hd, false);
        DelayedFrom(hd);
      }
      hd.used = 0;
    }
    void AfterTake(TNodeHeads& hd) {
      if (hd.used == 1) {
        LeaveStart(hd.h1);
        DelayedTo(hd);
      } else {
        LeaveStart(hd.h2);
        DelayedFrom(hd);
      }
    }
    void Picked(const TPQitem& h) { LeaveStart(h); }
    bool Stale(const TPQitem& h) const { return !(c.cost0(h.ToNode) > h.cost); }
    TAdmit Admit(const TPQitem&) const { return TAdmit::Settle; }
    TAfterSettle Settled(const TPQitem& h) {
      ++s.settled;
      return skip && Bit(skip, h.ToNode) ? TAfterSettle::Hold : TAfterSettle::Expand;
    }
    bool Done(bool) const { return c.P0array(s.from2) != cNoPred && c.P0array(s.to2) != cNoPred; }
  };
  TLocRouteNode p(*this, s);
  p.o.deadEnds = s.deadEnds;
  p.o.noDriveThrough = s.ndt;
  p.o.hierarchy = fS.FHierarchy;
  p.o.astar = fS.Falpha > 0;
  p.o.target = s.target;
  RunNodeSearch(p);

  const bool rF = P0array(s.from2) != cNoPred, rB = P0array(s.to2) != cNoPred;
  const float e = rF ? AddMulCost(cost0(s.from2), s.p2, CostFT(s.link2, 0)) : cInfinity;
  const float g = rB ? AddMulCost(cost0(s.to2), 1 - s.p2, CostTF(s.link2, 0)) : cInfinity;
  return s.Arrive(rF, rB, e, g);
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
