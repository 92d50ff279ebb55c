// TCalc trees from a location: the origin inside a link, the departure side,
// the target counters with the extension by one largest-link cost, the turn-
// and node-mode growth, and the public operations built on them.
#include <algorithm>
#include <cmath>

#include "routing/kovra_calc.h"

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
  int32_t ndt = 0;
  fTreeNoDriveThrough = fS.FNoDriveThrough;
  if (fS.FNoDriveThrough) {
    PrepareNoDriveThrough(FNW.AreaList().GetArea(S), 0);
    ndt = 2;
  }
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
      if (!blocked) TreeFromLocationTurn(S, p, tc, ndt);
    } else {
      ResetNodeLabels();
      if (!blocked) TreeFromLocationNode(S, p, tc, ndt);
    }
  } catch (...) {
    clearTargets();
    throw;
  }
  clearTargets();
}

void TCalc::TreeFromLocationTurn(int32_t S, double p, TTargetCount& tc, int32_t ndt) {
  const int32_t* from = FNW.Fromnodes().data();
  const int32_t f = from[S], t = FNW.Tonodes()[size_t(S)];
  const TFloatPoint origin{0, 0};
  TPQturn& pq = *PQT;
  pq.Clear();
  // The origin link's states get a cost but no predecessor: they stay open
  // to an arrival through the network.
  if (FLocForward) {
    const float c = MulCost(1 - p, CostFT(S, 0));
    if (FLocBackward) SetStateCost(S, true, c);
    ExpandTurnMode(0, S, t, c, false, origin, false, 1, ndt, false);
  }
  if (FLocBackward) {
    const float c = MulCost(p, CostTF(S, 0));
    if (FLocForward) SetStateCost(S, false, c);
    ExpandTurnMode(0, S, f, c, false, origin, false, 1, ndt, false);
  }
  const bool counting = tc.mode != 0;
  bool expanding = true;
  for (;;) {
    TPQturnitem it;
    bool forward = false;
    for (;;) {
      it = pq.Deq();
      if (it.ToLink == 0) break;
      forward = it.Node == from[it.ToLink];
      if (!StateReached(it.ToLink, forward)) break;
    }
    if (it.ToLink == 0) break;
    // The cost at which the item's link was entered.
    const float entered = float(double(it.cost) - double(CostFT(it.ToLink, 0)));
    if (!expanding && !(tc.limit > entered)) continue;
    if (tc.limit > 0 && it.cost > tc.limit) break;
    if (counting) CountTargetsOnLink(tc, it.ToLink, it.cost);
    SetState(it.ToLink, forward, it.cost, it.FromLink);
    if (tc.limit > 0 && expanding && entered > tc.limit) expanding = false;
    if (expanding) ExpandTurnMode(0, it.ToLink, it.NextNode, it.cost, false, origin, false, 1, ndt, false);
    if (FCancelled) break;
  }
}

void TCalc::TreeFromLocationNode(int32_t S, double p, TTargetCount& tc, int32_t ndt) {
  const int32_t f = FNW.Fromnodes()[size_t(S)], t = FNW.Tonodes()[size_t(S)];
  const TFloatPoint origin{0, 0};
  TPQ& q1 = *PQ1;
  TPQ& q2 = *PQ2;
  q1.Clear();
  q2.Clear();
  const float cf = MulCost(p, CostTF(S, 0));
  const float ct = MulCost(1 - p, CostFT(S, 0));
  TPQitem h1{}, h2{};  // FromNode 0: empty
  auto seed = [&](bool atF) {
    const int32_t n = atF ? f : t;
    TPQ& q = atF ? q1 : q2;
    SetNodeLabel(n, atF ? cf : ct, 0, 0);
    ExpandNodeMode(q, n, false, origin, false, 1, ndt, false);
    (atF ? h1 : h2) = q.Deq();
  };
  // With both directions open the nearer end goes first; the other joins
  // when the first queue's head passes its share, as a virtual source would
  // have it.
  const bool firstF = FLocBackward && (!FLocForward || p <= 0.5);
  bool pending = FLocForward && FLocBackward;
  const float share2 = firstF ? ct : cf;
  seed(firstF);
  auto seedSecond = [&] {
    pending = false;
    if (cost0(firstF ? t : f) > share2) seed(!firstF);
    // The origin link's own targets.
    if (tc.mode != 0 && FLinkOnOff[size_t(S)] != 0) CountTargetsOnLink(tc, S, CostFT(S, 0));
  };
  const TPQitem& firstHead = firstF ? h1 : h2;
  if (pending && (firstHead.FromNode == 0 || firstHead.cost > share2)) seedSecond();
  int32_t used = 0;
  for (;;) {
    if (used == 1) h1 = q1.Deq();
    else if (used == 2) h2 = q2.Deq();
    if (pending && (firstHead.FromNode == 0 || firstHead.cost > share2)) seedSecond();
    const bool e1 = h1.FromNode == 0, e2 = h2.FromNode == 0;
    if (e1 && e2) break;
    const bool take1 = !e1 && (e2 || h1.sortvar <= h2.sortvar);
    used = take1 ? 1 : 2;
    const TPQitem h = take1 ? h1 : h2;
    if (!(cost0(h.ToNode) > h.cost)) continue;
    if (tc.limit > 0 && h.cost > tc.limit) break;
    if (tc.mode != 0) CountTargetsOnLink(tc, h.link, h.cost);
    SetNodeLabel(h.ToNode, h.cost, h.FromNode, h.link);
    ExpandNodeMode(take1 ? q1 : q2, h.ToNode, false, origin, false, 1, ndt, false);
    if (FCancelled) break;
  }
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
