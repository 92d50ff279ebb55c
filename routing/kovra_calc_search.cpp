// TCalc search core: stamped labels and their resets, the node-mode and
// turn-mode expansions with their filters, turn restrictions, the U-turn and
// no-drive-through rules, the road hierarchy, the A* distance cache and the
// cheapest arrival at a node.
#include <algorithm>

#include "routing/kovra_calc.h"
#include "routing/kovra_calc_search.h"

namespace kovra {

// ---------------------------------------------------------------------------
// Generations

void TCalc::NextGeneration() {
  if (++fStamp == 0) {
    // Wrapped: an entry stamped long ago would come alive again, so every
    // stamp is cleared once and counting restarts.
    for (TNodeLabel& l : fNodeLabels) l.stamp = 0;
    for (TStateLabel& l : fStateLabels) l.stamp = 0;
    fStamp = 1;
  }
  fDistForStamp = 0;  // the distance cache starts over with the search
}

void TCalc::ResetNodeLabels() {
  NextGeneration();
  PrepareExpansion();
}

void TCalc::ResetLinkLabels() {
  NextGeneration();
  PrepareExpansion();
}

void TCalc::PrepareExpansion() {
  TExpansionData& x = fX;
  x.graph = &FNW.SearchGraph();
  x.from = FNW.Fromnodes().data();
  x.to = FNW.Tonodes().data();
  x.attr = FNW.Attributes().data();
  x.cds = FNW.CulDeSacs().Words().data();
  x.skip = fS.FSkipLinkList ? fS.FSkipLinkList->Words().data() : nullptr;
  x.window = fIncludeNodes ? fIncludeNodes->Words().data() : nullptr;
  const int64_t linkBits = int64_t(FNW.LinkCount()) + 1;
  auto bits = [linkBits](const std::unique_ptr<TBitArray>& b) -> const uint32_t* {
    return b && b->Size() == linkBits ? b->Words().data() : nullptr;
  };
  x.ndt = bits(FNoDriveThroughBits);
  x.exitFT = bits(FExitLinkFTBits);
  x.exitTF = x.exitFT ? bits(FExitLinkTFBits) : nullptr;
  if (!x.exitTF) x.exitFT = nullptr;
  x.costFT = LinkCostReader(true);
  x.costTF = LinkCostReader(false);
  x.ignoreOneway = fS.FIgnoreOneWay;
  x.anyLimit = fS.Fanylimit;
  x.skipCulDeSacOpt = fS.FSkipCulDeSacOptimization;
  x.turnCosts = FTurnMode && fS.FTurnCosts;
  x.dist = fS.FRouteCriteria == rcDist;
  x.alpha = fS.Falpha;
}

// ---------------------------------------------------------------------------
// Expansions

void TCalc::ExpandNodeMode(TPQ& PQ, int32_t node, const TExpandOptions& o) { ExpandNodeModeInto(PQ, node, o); }

void TCalc::ExpandTurnMode(int32_t cur, int32_t node, float cost, const TExpandOptions& o) {
  ExpandTurnModeInto(*PQT, cur, node, cost, o);
}

bool TCalc::UTurnPermitted(int32_t cur, int32_t node) const {
  if (FNW.CulDeSacs().GetBit(cur)) return true;
  if (!fS.FUTurnAllowed) return false;
  // The flag of the end the vehicle would turn at: the to-node end when cur
  // was driven forward into node.
  const uint16_t flag = FNW.Tonodes()[size_t(cur)] == node ? cAttrUturnTo : cAttrUturnFrom;
  return (FNW.Attributes()[size_t(cur)] & flag) == 0;
}

// Follows the signed predecessors back from the state of cur that arrived at
// node: the state of a link driven forward is its forward label, of one
// driven backward its backward label. Reading "the forward label unless it
// is unreached" instead would follow the wrong state wherever a tree has
// labelled both states of an intermediate link.
bool TCalc::RestrictionWalkMatches(const TTurnRestriction& tr, int32_t cur, int32_t node) const {
  const int32_t n = int32_t(tr.links.size());
  int32_t s = FNW.Tonodes()[size_t(cur)] == node ? cur : -cur;
  for (int32_t j = n - 3; j >= 0; --j) {
    const int32_t p = s > 0 ? P1array(s) : P2array(-s);
    if (p == 0 || p == cNoPred) return false;
    if ((p < 0 ? -p : p) != tr.links[size_t(j)]) return false;
    s = p;
  }
  return true;
}

float TCalc::TurnValue(int32_t cur, int32_t node, int32_t L, float c) {
  const int32_t set = fS.FTurnSingleSlot >= 0 ? fS.FTurnSingleSlot : TurnSlot(c);
  const TTurnRestrictions& turns = FNW.TurnSet(set);
  if (!turns.GetList(L, FListOfTurns)) return 0;
  float t = 0;
  for (int32_t i = 0; i < FListOfTurns.Count(); ++i) {
    const TTurnRestriction tr = turns.GetTR(FListOfTurns.GetItem(i));
    const size_t n = tr.links.size();
    if (n < 2 || tr.links[n - 2] != cur || tr.links[n - 1] != L) continue;
    if (n == 2) return tr.value;
    if (RestrictionWalkMatches(tr, cur, node)) t = tr.value;  // a later match replaces it
  }
  return t;
}

// ---------------------------------------------------------------------------
// Hierarchy, distance cache, cheapest arrival, no-drive-through

int32_t TCalc::HierarchyLevel(double d, int32_t aLmax) const {
  const auto& L = fS.FLevelLimit;
  if (d > L[0]) return aLmax;
  if (d > L[1]) return std::max(aLmax, 2);
  if (d > L[2]) return std::max(aLmax, 3);
  if (d > L[3]) return std::max(aLmax, 4);
  return 5;
}

void TCalc::PrepareTargetDistances(const TFloatPoint& target) {
  const size_t nodes = size_t(FNW.NodeCount()) + 1;
  if (fDist.size() != nodes) {
    fDist.assign(nodes, TDistEntry{0, 0});
    fDistGen = 1;
    fDistForStamp = 0;
  }
  if (fDistForStamp != fStamp || target.x != fDistTarget.x || target.y != fDistTarget.y) {
    if (++fDistGen == 0) {
      for (TDistEntry& e : fDist) e.stamp = 0;
      fDistGen = 1;
    }
    fDistForStamp = fStamp;
    fDistTarget = target;
  }
}

int32_t TCalc::CheapestArrival(int32_t node) const {
  const int32_t* from = FNW.Fromnodes().data();
  const int32_t* to = FNW.Tonodes().data();
  float best = cInfinity;
  int32_t result = 0;
  int32_t i = 0;
  for (const int32_t e : FNW.Adjacent(node)) {
    ++i;
    const int32_t L = e < 0 ? -e : e;
    // Only reached states count: a cost written alone is no arrival.
    const float c1 = StatePred(2 * L) != cNoPred ? cost1(L) : cInfinity;
    const float c2 = StatePred(2 * L + 1) != cNoPred ? cost2(L) : cInfinity;
    if (to[L] == node && c1 < best) {
      best = c1;
      result = i;
    } else if (from[L] == node && c2 < best) {
      best = c2;
      result = -i;
    }
  }
  return result;
}

void TCalc::PrepareNoDriveThrough(int32_t area1, int32_t area2) {
  const int64_t bits = int64_t(FNW.LinkCount()) + 1;
  auto sized = [bits](std::unique_ptr<TBitArray>& b) -> TBitArray& {
    if (!b) b = std::make_unique<TBitArray>(bits);
    else if (b->Size() != bits) b->SetSize(bits);
    return *b;
  };
  FNW.AreaList().Update(sized(FNoDriveThroughBits), area1, area2);
  if (!FTurnMode) FNW.AreaList().UpdateExitBits(sized(FExitLinkFTBits), sized(FExitLinkTFBits), area1);
}

}  // namespace kovra
