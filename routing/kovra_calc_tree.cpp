// TCalc trees from a node with their five stop modes, the operations built on
// them (IsoCost family, Nearest, NearestOpen), the label readers, route
// extraction and the pricing of a route.
#include <algorithm>
#include <cmath>

#include "routing/kovra_calc.h"
#include "routing/kovra_calc_loop.h"

namespace kovra {

namespace {

inline int32_t Abs(int32_t v) { return v < 0 ? -v : v; }

}  // namespace

// ---------------------------------------------------------------------------
// The tree

TCalc::TSearchStamp TCalc::CurrentStamp() const {
  TSearchStamp s;
  s.open = FNW.OpenGeneration();
  s.columns = FNW.ColumnVersion();
  s.attributes = FNW.AttributeVersion();
  s.vehicle = fS.Flimit;
  s.skipLinks = fS.FSkipLinkList;
  s.criterion = fS.FRouteCriteria;
  s.timeColumn = fS.FTimeSingleSlot;
  s.costFT = fS.FCostFT;
  s.costTF = fS.FCostTF;
  s.maxSpeed = fS.FMaxSpeed;
  s.relativeSpeed = fS.FRelativeSpeed;
  s.ignoreOneway = fS.FIgnoreOneWay;
  return s;
}

void TCalc::MarkSearched(TSearchKind kind) {
  fSearched = true;
  fSearchKind = kind;
  fSearchStamp = CurrentStamp();
}

// A reopened network has other labels' sizes and no search of its own; a
// changed column or setting would make the readers price the labels under
// other rules than the search, and a replaced limit slot is freed memory.
void TCalc::CheckLabels() const {
  if (!fSearched || !FNW.IsOpen() || fSearchStamp.open != FNW.OpenGeneration() || !LabelsValid())
    throw Exception(cMsgNoSearch);
  if (!(CurrentStamp() == fSearchStamp)) throw Exception(cMsgResultsOutOfDate);
}

int32_t TCalc::TreeFromNode(int32_t s, float limit, int32_t mode, const TIntegerList* NL, int32_t N) {
  const bool targets = mode >= 1 && mode <= 3;
  if (targets) {
    // The bits stay clear between trees: each tree sets the bits of its
    // targets and clears them again at its end, so a short tree costs
    // nothing per node of the network.
    const int64_t bits = int64_t(FNW.NodeCount()) + 1;
    if (!FNodeOnOff || FNodeOnOff->Size() != bits) {
      FNodeOnOff = std::make_unique<TBitArray>(bits);
      FNodeOnOff->SetAllFalse();
    }
  }
  auto clear = [&] {
    if (targets)
      for (int32_t i = 0; i < NL->Count(); ++i) FNodeOnOff->SetBit2(NL->GetItem(i), false);
  };
  int32_t result;
  try {
    result = TreeFromNodeRun(s, limit, mode, NL, N);
  } catch (...) {
    clear();
    throw;
  }
  clear();
  return result;
}

int32_t TCalc::TreeFromNodeRun(int32_t s, float limit, int32_t mode, const TIntegerList* NL, int32_t N) {
  Flinkdyn = 0;
  Fpercentdyn = 0;
  int32_t remaining = -1;
  if (mode >= 1 && mode <= 3) {
    remaining = 0;  // distinct nodes
    for (int32_t i = 0; i < NL->Count(); ++i) {
      const int32_t v = NL->GetItem(i);
      if (!FNodeOnOff->GetBit(v)) {
        FNodeOnOff->SetBit2(v, true);
        ++remaining;
      }
    }
    if (mode == 2) remaining = std::min(remaining, N);
    // In node mode the origin is settled before the loop and never counted.
    if (!FTurnMode && FNodeOnOff->GetBit(s)) remaining = remaining - 1;
  }
  fTreeNoDriveThrough = fS.FNoDriveThrough;
  if (fS.FNoDriveThrough) PrepareNoDriveThrough(FNW.NodeArea(s), 0);
  MarkSearched(skTreeFromNode);

  // One policy for both modes: the stop rules look at the node an entry
  // reaches and the link it came over.
  struct TTree : TSearchPolicyBase {
    TCalc& c;
    int32_t s;
    float limit;
    int32_t mode, remaining;
    int32_t result = 0;
    bool accepted = false;
    TPQitem lastNode{};
    TPQturnitem lastTurn{};

    TTree(TCalc& calc, int32_t origin, float lim, int32_t m, int32_t rem)
        : c(calc), s(origin), limit(lim), mode(m), remaining(rem) {}
    // A target search whose only targets are the origin is done before it
    // starts.
    void Seed(TNodeHeads&) {
      c.SetNodeLabel(s, 0, 0, 0);
      if (remaining != 0) c.ExpandNodeModeInto(*c.PQ1, s, o);
    }
    void Seed() {
      if (remaining != 0) c.ExpandTurnModeInto(*c.PQT, 0, s, 0, o);
    }
    bool Stale(const TPQitem& it) const { return c.P0array(it.ToNode) != cNoPred; }
    TAdmit Admit(const TPQitem& it) const { return Over(it.cost); }
    TAdmit Admit(const TPQturnitem& it, bool) const { return Over(it.cost); }
    TAfterSettle Settled(const TPQitem& it) {
      lastNode = it;
      return Reached(it.ToNode, it.FromNode, it.link);
    }
    TAfterSettle Settled(const TPQturnitem& it, bool) {
      lastTurn = it;
      return Reached(it.NextNode, it.Node, it.ToLink);
    }
    TAdmit Over(float cost) const { return limit > 0 && cost > limit ? TAdmit::Stop : TAdmit::Settle; }
    // node reached over link from prev.
    TAfterSettle Reached(int32_t node, int32_t prev, int32_t link) {
      accepted = true;
      if (mode == 3) {
        if (c.FNodeOnOff->GetBit(node)) {
          result = node;
          return TAfterSettle::Stop;
        }
      } else if (mode == 1 || mode == 2) {
        // Each node counts once however many states reach it.
        if (c.FNodeOnOff->GetBit(node)) {
          c.FNodeOnOff->SetBit2(node, false);
          if (--remaining == 0) return TAfterSettle::Stop;
        }
      } else if (mode == 4) {
        if (c.LinkIsOpen(prev, link) || c.LinkIsOpen(node, link)) return TAfterSettle::Stop;
      }
      return TAfterSettle::Expand;
    }
  };
  TTree p(*this, s, limit, mode, remaining);
  p.o.filters = mode != 4;
  p.o.noDriveThrough = fS.FNoDriveThrough ? TNoDriveThrough::Origin : TNoDriveThrough::Off;

  if (!FTurnMode) {
    ResetNodeLabels();
    RunNodeSearch(p);
    if (mode == 4) {
      const TPQitem& last = p.lastNode;
      const bool open = p.accepted && (LinkIsOpen(last.FromNode, last.link) || LinkIsOpen(last.ToNode, last.link));
      FNearLink = open ? last.link : 0;
      FNearNode = open ? last.FromNode : 0;
    }
    return p.result;
  }

  ResetLinkLabels();
  FnodeTurnMode = s;
  RunTurnSearch(p);
  if (mode == 4) {
    FNearLink = 0;
    FNearNode = 0;
    if (p.accepted) {
      const TPQturnitem& last = p.lastTurn;
      if (LinkIsOpen(last.Node, last.ToLink)) FNearNode = last.Node;
      else if (LinkIsOpen(last.NextNode, last.ToLink)) FNearNode = last.NextNode;
      if (FNearNode != 0) FNearLink = last.ToLink;
    }
  }
  return p.result;
}

// A link is open at n when the vehicle may leave n through it, the limits
// admit it, it is not skipped and, when no-drive-through is in force for this
// tree, it lies in no foreign area.
bool TCalc::LinkIsOpen(int32_t n, int32_t L) const {
  bool leaves = false;
  for (const int32_t e : FNW.Adjacent(n))
    if (e == L || (fS.FIgnoreOneWay && e == -L)) {
      leaves = true;
      break;
    }
  if (!leaves) return false;
  if (fS.Fanylimit && !LimitOK(L)) return false;
  if (fS.FSkipLinkList && fS.FSkipLinkList->GetBit(L)) return false;
  if (fTreeNoDriveThrough && FNoDriveThroughBits && !FNoDriveThroughBits->GetBit(L)) return false;
  return true;
}

// ---------------------------------------------------------------------------
// Public trees

void TCalc::IsoCost(int32_t node) {
  CheckNetwork(true);
  FNW.CheckNode(node);
  TreeFromNode(node, fS.FMaxCost, 0, nullptr, 0);
}

void TCalc::IsoCostList(int32_t node, const TIntegerList& NL) {
  CheckNetwork(true);
  FNW.CheckNode(node);
  FNW.CheckNodeList(NL);
  TreeFromNode(node, 0, 1, &NL, 0);
}

void TCalc::IsoCostListN(int32_t node, const TIntegerList& NL, TIntegerList& IL, int32_t N) {
  CheckNetwork(true);
  FNW.CheckNode(node);
  FNW.CheckNodeList(NL);
  if (!(1 <= N && N <= NL.Count())) throw EOutOfRange(Format(cMsgNRange, N, NL.Count()));
  TreeFromNode(node, fS.FMaxCost, 2, &NL, N);
  TCostArray costs(size_t(NL.Count()));
  for (int32_t i = 0; i < NL.Count(); ++i) costs[size_t(i)] = NodeCost_raw(NL.GetItem(i));
  SelectCheapestN(costs, IL, N);
}

int32_t TCalc::Nearest(int32_t node, const TIntegerList& NL) {
  CheckNetwork(true);
  FNW.CheckNode(node);
  FNW.CheckNodeList(NL);
  const int32_t found = TreeFromNode(node, 0, 3, &NL, 0);
  if (found == 0) return -1;
  for (int32_t i = 0; i < NL.Count(); ++i)
    if (NL.GetItem(i) == found) return i;
  return -1;
}

void TCalc::NearestOpen(int32_t node, int32_t& NearestNode, int32_t& NearestLink, float& cost) {
  CheckNetwork(true);
  FNW.CheckNode(node);
  TreeFromNode(node, 0, 4, nullptr, 0);
  NearestLink = FNearLink;
  NearestNode = FNearNode;
  cost = FNearNode != 0 ? NodeCost_raw(FNearNode) : 0.0f;
}

// IL := positions 0..count - 1 of costs, without the unreached and those over
// MaxCost, sorted by cost, cut to N. Equal costs come in no defined order.
void TCalc::SelectCheapestN(TCostArray& costs, TIntegerList& IL, int32_t N) const {
  IL.Clear();
  for (int32_t i = 0; i < int32_t(costs.size()); ++i) IL.Add(i);
  for (int32_t i = IL.Count() - 1; i >= 0; --i) {
    const float c = costs[size_t(IL.GetItem(i))];
    if (c > 1e36f || (fS.FMaxCost > 0 && c > fS.FMaxCost)) IL.Delete(i);
  }
  std::vector<int32_t> idx(size_t(IL.Count()));
  for (int32_t i = 0; i < IL.Count(); ++i) idx[size_t(i)] = IL.GetItem(i);
  // Quicksort on the cost, the pivot the middle entry's cost.
  auto sortByCost = [&](auto&& self, int32_t lo, int32_t hi) -> void {
    int32_t i = lo, j = hi;
    const float pivot = costs[size_t(idx[size_t((lo + hi) / 2)])];
    do {
      while (costs[size_t(idx[size_t(i)])] < pivot) ++i;
      while (costs[size_t(idx[size_t(j)])] > pivot) --j;
      if (i <= j) {
        std::swap(idx[size_t(i)], idx[size_t(j)]);
        ++i;
        --j;
      }
    } while (i <= j);
    if (lo < j) self(self, lo, j);
    if (i < hi) self(self, i, hi);
  };
  if (idx.size() > 1) sortByCost(sortByCost, 0, int32_t(idx.size()) - 1);
  IL.Clear();
  for (size_t i = 0; i < idx.size() && int32_t(i) < N; ++i) IL.Add(idx[i]);
}

// ---------------------------------------------------------------------------
// Readers

float TCalc::NodeCost_raw(int32_t node) const {
  CheckLabels();
  if (Flinkdyn != 0) return NodeCostAfterLocation(node);
  if (!FTurnMode) return cost0(node);
  if (node == FnodeTurnMode) return 0;
  const int32_t slot = CheapestArrival(node);
  if (slot == 0) return cInfinity;
  const int32_t L = Abs(FNW.Adjacent(node)[size_t(Abs(slot) - 1)]);
  return slot > 0 ? cost1(L) : cost2(L);
}

float TCalc::NodeCost(int32_t node) const {
  CheckLabels();
  FNW.CheckNode(node);
  return NodeCost_raw(node);
}

float TCalc::LinkCost(int32_t link) const {
  FNW.CheckOpen();
  FNW.CheckLink(Abs(link));
  CheckLabels();
  const int32_t L = Abs(link);
  if (fS.FSkipLinkList && fS.FSkipLinkList->GetBit(L)) return cInfinity;
  if (FTurnMode) return link >= 1 ? cost1(L) : cost2(L);
  const float a = cost0(FNW.Fromnodes()[size_t(L)]);
  const float b = cost0(FNW.Tonodes()[size_t(L)]);
  return a < cInfinity && b < cInfinity ? std::max(a, b) : std::min(a, b);
}

TRoute TCalc::RouteFind(int32_t node) const {
  FNW.CheckOpen();
  FNW.CheckNode(node);
  CheckLabels();
  // After a tree from a location the predecessor walk never meets the 0 of
  // an origin node; after a location route it may even go round (a route
  // back to its own link leaves a cycle of predecessors). Node mode follows
  // the settling links back to a seeded end of the origin link.
  if (FTurnMode && Flinkdyn != 0) throw Exception(cMsgRouteFindAfterLocation);
  if (FTurnMode && fSearchKind == skLocationRoute) throw Exception(cMsgRouteFindAfterLocationRoute);
  return ExtractRoute(node);
}

// Node mode follows the link each node was settled over, so the route uses
// only links the search admitted and its price equals the label. Turn mode
// follows the signed predecessors from the cheapest arrival.
TRoute TCalc::ExtractRoute(int32_t t) const {
  TRoute route;
  const int32_t cap = FNW.LinkCount() + 1;
  const int32_t* from = FNW.Fromnodes().data();
  const int32_t* to = FNW.Tonodes().data();
  if (!FTurnMode) {
    if (P0array(t) == cNoPred) return route;
    route.nodes.push_back(t);
    int32_t c = t;
    for (int32_t p = P0array(c); p > 0; p = P0array(c)) {
      if (p == cNoPred || int32_t(route.links.size()) >= cap) throw Exception(Format(cMsgRouteWalk, cap));
      const int32_t L = SettlingLink(c);
      route.links.push_back(from[L] == p ? L : -L);
      route.nodes.push_back(p);
      c = p;
    }
  } else {
    if (t == FnodeTurnMode) {
      route.nodes.push_back(t);
      return route;
    }
    const int32_t slot = CheapestArrival(t);
    if (slot == 0) return route;
    const int32_t L0 = Abs(FNW.Adjacent(t)[size_t(Abs(slot) - 1)]);
    route.links.push_back(slot > 0 ? L0 : -L0);
    route.nodes.push_back(t);
    for (;;) {
      const int32_t last = route.links.back();
      const int32_t L = Abs(last);
      const int32_t node = route.nodes.back();
      route.nodes.push_back(from[L] + to[L] - node);
      const int32_t p = last > 0 ? P1array(L) : P2array(L);
      if (p == 0) break;
      if (p == cNoPred || int32_t(route.links.size()) >= cap) throw Exception(Format(cMsgRouteWalk, cap));
      route.links.push_back(p);
    }
  }
  std::reverse(route.nodes.begin(), route.nodes.end());
  std::reverse(route.links.begin(), route.links.end());
  return route;
}

namespace {

// The shares of a route's links as RouteCost and RouteTime price them; value
// (signed link) gives the link's value in the direction driven.
template <class F>
float PriceRoute(const TRoute& route, F value) {
  const size_t links = route.links.size();
  if (links == 0) return 0;
  double sum = 0;
  if (links + 1 == route.nodes.size()) {
    for (const int32_t l : route.links) sum += double(value(l));
    return float(sum);
  }
  const double p1 = route.percent1, p2 = route.percent2;
  const int32_t first = route.links.front();
  if (links == 1) {
    // Start and end on the same link.
    const int32_t L = Abs(first);
    return p1 < p2 ? float((p2 - p1) * double(value(L))) : float((p1 - p2) * double(value(-L)));
  }
  sum += (first < 0 ? p1 : 1 - p1) * double(value(first));
  for (size_t i = 1; i + 1 < links; ++i) sum += double(value(route.links[i]));
  const int32_t lastLink = route.links.back();
  sum += (lastLink < 0 ? 1 - p2 : p2) * double(value(lastLink));
  return float(sum);
}

}  // namespace

float TCalc::RouteCost(const TRoute& route) const {
  FNW.CheckOpen();
  for (const int32_t l : route.links) FNW.CheckLinkRange(Abs(l));
  const int64_t columns = int64_t(FNW.Costs().size());
  if (!(0 <= fS.FCostFT && fS.FCostFT < columns && 0 <= fS.FCostTF && fS.FCostTF < columns))
    throw Exception(cMsgCostArraysNotSetup);
  const TCostArray& ft = FNW.Costs()[size_t(fS.FCostFT)];
  const TCostArray& tf = FNW.Costs()[size_t(fS.FCostTF)];
  return PriceRoute(route, [&](int32_t l) { return l > 0 ? ft[size_t(l)] : tf[size_t(-l)]; });
}

float TCalc::RouteTime(const TRoute& route) const {
  FNW.CheckOpen();
  for (const int32_t l : route.links) FNW.CheckLinkRange(Abs(l));
  const int32_t column = fS.FTimeSingleSlot >= 0 ? fS.FTimeSingleSlot : fS.FTimeFT[0];
  if (!(0 <= column && column < int64_t(FNW.Times().size()))) throw Exception(cMsgTimeArraysNotSetup);
  return PriceRoute(route, [&](int32_t l) { return GetTime_raw(column, Abs(l)); });
}

}  // namespace kovra
