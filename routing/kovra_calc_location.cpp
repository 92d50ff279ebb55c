// TCalc trees from a location: the origin inside a link, the departure side,
// the target counters with the extension by one largest-link cost, the turn-
// and node-mode growth, and the public operations built on them.
#include <algorithm>
#include <cmath>

#include "routing/kovra_calc.h"
#include "routing/kovra_calc_loop.h"

namespace kovra {

namespace {

inline constexpr const char* cMsgTooManyLocations = "Too many locations for link %d in LL";
inline constexpr const char* cMsgIsoCostDynApproach = "IsoCostDynApproach is only possible in turnmode";
inline constexpr const char* cMsgOnlyTurnmode = "Only possible in turnmode";

// May link L be left from node in the direction the adjacency allows there?
bool Leaves(const TNetwork& nw, int32_t node, int32_t L) {
  for (const int32_t e : nw.Adjacent(node))
    if (e == L) return true;
  return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// The tree

void TCalc::CountTargetsOnLink(TTargetCount& tc, int32_t L, float cost) {
  uint16_t& counter = FLinkOnOff[size_t(L)];
  if (counter == 0) return;
  if (tc.mode == 3) {
    if (tc.limit == 0) tc.limit = AddCost(cost, EffectiveMaxLinkCost());
    return;
  }
  const int64_t before = tc.remaining;
  tc.remaining -= counter;
  counter = 0;
  if (before > 0 && tc.remaining <= 0) tc.limit = AddCost(cost, EffectiveMaxLinkCost());
}

void TCalc::TreeFromLocation(const TLocation& Loc, float limit, int32_t mode, const TLocationList* LL,
                             TApproach side, int32_t N) {
  const int32_t S = Loc.link;
  const double p = Loc.percent;
  // A limit only when > 0, as for the trees from a node: a negative one
  // raised by the largest-link cost would become a small positive bound.
  if (!(limit > 0)) limit = 0;
  const size_t links = size_t(FNW.LinkCount()) + 1;
  if (FLinkOnOff.size() != links) {
    FLinkOnOff = {};
    FLinkOnOff.assign(links, 0);
  }
  // The counters are filled before anything of the previous tree changes, so
  // a refused list leaves the calculator describing that tree. Between trees
  // every counter is 0; only the target links are touched.
  auto clearTargets = [&] {
    if (LL)
      for (int32_t i = 0; i < LL->Count(); ++i) FLinkOnOff[size_t(LL->GetItem(i).loc.link)] = 0;
  };
  TTargetCount tc;
  tc.mode = mode;
  if (mode >= 1 && mode <= 3) {
    for (int32_t i = 0; i < LL->Count(); ++i) {
      const int32_t L = LL->GetItem(i).loc.link;
      uint16_t& counter = FLinkOnOff[size_t(L)];
      if (counter == 65535) {
        clearTargets();
        throw Exception(Format(cMsgTooManyLocations, L));
      }
      ++counter;
    }
    tc.remaining = mode == 1 ? LL->Count() : mode == 2 ? N : 1;
  }

  FnodeTurnMode = 0;
  Flinkdyn = S;
  Fpercentdyn = p;
  Fapproachdyn = side;
  const int32_t f = FNW.Fromnodes()[size_t(S)], t = FNW.Tonodes()[size_t(S)];
  FLocForward = (fS.FIgnoreOneWay || Leaves(FNW, f, S)) && side != apReverse;
  FLocBackward = (fS.FIgnoreOneWay || Leaves(FNW, t, S)) && side != apForward;
  fTreeNoDriveThrough = fS.FNoDriveThrough;
  if (fS.FNoDriveThrough) PrepareNoDriveThrough(FNW.AreaList().GetArea(S), 0);
  if (mode >= 1 && mode <= 3) {
    MaxLinkCostTargets(*LL);
    fMaxICostTargets = true;
  } else if (limit != 0 && (MaxICost() == 0 || fMaxICostTargets)) {
    // A value left by a target list covers those links only: too small an
    // extension for a tree that must label every link within the limit.
    MaxLinkCostNetwork();
    fMaxICostTargets = false;
  }
  if (limit != 0) limit = AddCost(limit, EffectiveMaxLinkCost());
  tc.limit = limit;
  MarkSearched(skTreeFromLocation);

  const bool blocked = (!FLocForward && !FLocBackward) || (fS.FSkipLinkList && fS.FSkipLinkList->GetBit(S)) ||
                       (fS.Fanylimit && !LimitOK(S));
  try {
    if (FTurnMode) {
      ResetLinkLabels();
      if (!blocked) TreeFromLocationTurn(S, p, tc);
    } else {
      ResetNodeLabels();
      if (!blocked) TreeFromLocationNode(S, p, tc);
    }
  } catch (...) {
    clearTargets();
    throw;
  }
  clearTargets();
}

void TCalc::TreeFromLocationTurn(int32_t S, double p, TTargetCount& tc) {
  struct TLocTreeTurn : TSearchPolicyBase {
    TCalc& c;
    int32_t S;
    double p;
    TTargetCount& tc;
    bool expanding = true;

    TLocTreeTurn(TCalc& calc, int32_t link, double percent, TTargetCount& count)
        : c(calc), S(link), p(percent), tc(count) {}
    // The origin link's states get a cost but no predecessor: they stay open
    // to an arrival through the network.
    void Seed() {
      const TNetwork& nw = c.FNW;
      if (c.FLocForward) {
        const float cf = MulCost(1 - p, c.CostFT(S, 0));
        if (c.FLocBackward) c.SetStateCost(S, true, cf);
        c.ExpandTurnModeInto(*c.PQT, S, nw.Tonodes()[size_t(S)], cf, o);
      }
      if (c.FLocBackward) {
        const float cb = MulCost(p, c.CostTF(S, 0));
        if (c.FLocForward) c.SetStateCost(S, false, cb);
        c.ExpandTurnModeInto(*c.PQT, S, nw.Fromnodes()[size_t(S)], cb, o);
      }
    }
    TAdmit Admit(const TPQturnitem& it, bool) {
      // The cost at which the item's link was entered.
      const float entered = float(double(it.cost) - double(c.CostFT(it.ToLink, 0)));
      if (!expanding && !(tc.limit > entered)) return TAdmit::Skip;
      if (tc.limit > 0 && it.cost > tc.limit) return TAdmit::Stop;
      if (tc.mode != 0) c.CountTargetsOnLink(tc, it.ToLink, it.cost);
      if (tc.limit > 0 && expanding && entered > tc.limit) expanding = false;
      return TAdmit::Settle;
    }
    TAfterSettle Settled(const TPQturnitem&, bool) const {
      return expanding ? TAfterSettle::Expand : TAfterSettle::Hold;
    }
    bool Done() const { return c.FCancelled; }
  };
  TLocTreeTurn pol(*this, S, p, tc);
  pol.o.noDriveThrough = fTreeNoDriveThrough ? TNoDriveThrough::Origin : TNoDriveThrough::Off;
  RunTurnSearch(pol);
}

void TCalc::TreeFromLocationNode(int32_t S, double p, TTargetCount& tc) {
  struct TLocTreeNode : TSearchPolicyBase {
    using TwoQueues = std::true_type;
    TCalc& c;
    int32_t S, f, t;
    TTargetCount& tc;
    float cf, ct;  // the shares to the from-node and to the to-node
    bool firstF = false, pending = false;

    TLocTreeNode(TCalc& calc, int32_t link, double p, TTargetCount& count)
        : c(calc), S(link), f(calc.FNW.Fromnodes()[size_t(link)]), t(calc.FNW.Tonodes()[size_t(link)]), tc(count),
          cf(MulCost(p, calc.CostTF(link, 0))), ct(MulCost(1 - p, calc.CostFT(link, 0))) {
      // With both directions open the nearer end goes first.
      firstF = c.FLocBackward && (!c.FLocForward || p <= 0.5);
      pending = c.FLocForward && c.FLocBackward;
    }
    void SeedEnd(TNodeHeads& hd, bool atF) {
      TPQ& q = atF ? *c.PQ1 : *c.PQ2;
      const int32_t n = atF ? f : t;
      c.SetNodeLabel(n, atF ? cf : ct, 0, 0);
      c.ExpandNodeModeInto(q, n, o);
      (atF ? hd.h1 : hd.h2) = q.Deq();
    }
    // The other end joins when the first queue's head passes its share.
    void SeedSecond(TNodeHeads& hd) {
      const TPQitem& head = firstF ? hd.h1 : hd.h2;
      const float share2 = firstF ? ct : cf;
      if (!pending || !(head.FromNode == 0 || head.cost > share2)) return;
      pending = false;
      if (c.cost0(firstF ? t : f) > share2) SeedEnd(hd, !firstF);
      // The origin link's own targets.
      if (tc.mode != 0 && c.FLinkOnOff[size_t(S)] != 0) c.CountTargetsOnLink(tc, S, c.CostFT(S, 0));
    }
    void Seed(TNodeHeads& hd) {
      SeedEnd(hd, firstF);
      SeedSecond(hd);
      hd.used = 0;
    }
    void AfterTake(TNodeHeads& hd) { SeedSecond(hd); }
    bool Stale(const TPQitem& h) const { return !(c.cost0(h.ToNode) > h.cost); }
    TAdmit Admit(const TPQitem& h) {
      if (tc.limit > 0 && h.cost > tc.limit) return TAdmit::Stop;
      if (tc.mode != 0) c.CountTargetsOnLink(tc, h.link, h.cost);
      return TAdmit::Settle;
    }
    TAfterSettle Settled(const TPQitem&) const { return TAfterSettle::Expand; }
    bool Done(bool settled) const { return settled && c.FCancelled; }
  };
  TLocTreeNode pol(*this, S, p, tc);
  pol.o.noDriveThrough = fTreeNoDriveThrough ? TNoDriveThrough::Origin : TNoDriveThrough::Off;
  RunNodeSearch(pol);
}

// ---------------------------------------------------------------------------
// Public trees

void TCalc::IsoCostDyn(const TLocation& Loc) {
  CheckNetwork(true);
  FNW.CheckLocation(Loc);
  TreeFromLocation(Loc, fS.FMaxCost, 0, nullptr, apIgnore, 0);
}

void TCalc::IsoCostListDyn(const TLocation& Loc, const TLocationList& LL) {
  CheckNetwork(true);
  FNW.CheckLocation(Loc);
  FNW.CheckLocationList(LL);
  TreeFromLocation(Loc, 0, 1, &LL, apIgnore, 0);
}

void TCalc::IsoCostListNDyn(const TLocation& Loc, const TLocationList& LL, TIntegerList& IL, int32_t N) {
  CheckNetwork(true);
  FNW.CheckLocation(Loc);
  FNW.CheckLocationList(LL);
  if (!(1 <= N && N <= LL.Count())) throw EOutOfRange(Format(cMsgNRange, N, LL.Count()));
  TreeFromLocation(Loc, fS.FMaxCost, 2, &LL, apIgnore, N);
  TCostArray costs(size_t(LL.Count()));
  for (int32_t i = 0; i < LL.Count(); ++i) costs[size_t(i)] = CostToLocation(LL.GetItem(i).loc);
  SelectCheapestN(costs, IL, N);
}

int32_t TCalc::NearestDyn(const TLocation& Loc, const TLocationList& LL) {
  CheckNetwork(true);
  FNW.CheckLocation(Loc);
  FNW.CheckLocationList(LL);
  TreeFromLocation(Loc, 0, 3, &LL, apIgnore, 0);
  int32_t result = -1;
  float best = cInfinity;
  for (int32_t i = 0; i < LL.Count(); ++i) {
    const float c = CostToLocation(LL.GetItem(i).loc);
    if (c < best) {
      best = c;
      result = i;
    }
  }
  return result;
}

void TCalc::NearestOpenDyn(const TLocation& Loc, int32_t& NearestNode, int32_t& NearestLink, float& cost) {
  CheckNetwork(true);
  FNW.CheckLocation(Loc);
  const int32_t S = Loc.link;
  const double p = Loc.percent;
  const int32_t f = FNW.Fromnodes()[size_t(S)], t = FNW.Tonodes()[size_t(S)];
  const bool open = (fS.FIgnoreOneWay || FNW.OneWayCode(S) != 3) &&
                    !(fS.FSkipLinkList && fS.FSkipLinkList->GetBit(S)) && (!fS.Fanylimit || LimitOK(S));
  if (open) {
    cost = 0;
    NearestLink = S;
    NearestNode = p > 0.5 ? t : f;
    return;
  }
  TreeFromNode(f, 0, 4, nullptr, 0);
  const int32_t a = FNearLink, A = FNearNode;
  const float cA = A != 0 ? NodeCost_raw(A) : 0.0f;
  TreeFromNode(t, 0, 4, nullptr, 0);
  const int32_t b = FNearLink, B = FNearNode;
  const float cB = B != 0 ? NodeCost_raw(B) : 0.0f;
  const float viaF = AddMulCost(cA, p, CostTF(S, 0));
  const float viaT = AddMulCost(cB, 1 - p, CostFT(S, 0));
  const bool takeT = cB != 0 && (cA == 0 || !(viaT > viaF));
  NearestLink = takeT ? b : a;
  NearestNode = takeT ? B : A;
  cost = takeT ? viaT : viaF;
}

void TCalc::IsoCostDynApproach(const TLocation& Loc, TApproach Approach) {
  CheckNetwork(true);
  FNW.CheckLocation(Loc);
  if (!FTurnMode) throw Exception(cMsgIsoCostDynApproach);
  TreeFromLocation(Loc, fS.FMaxCost, 0, nullptr, Approach, 0);
}

void TCalc::IsoCostListDynApproach(const TLocation& Loc, const TLocationList& LL, TApproach Approach) {
  CheckNetwork(true);
  FNW.CheckLocation(Loc);
  FNW.CheckLocationList(LL);
  if (!FTurnMode) throw Exception(cMsgOnlyTurnmode);
  TreeFromLocation(Loc, 0, 1, &LL, Approach, 0);
}

}  // namespace kovra
