// The expansions of the search core as templates over the queue they fill:
// the calculator's own queues in the searches, a recording queue in tests
// that check the order in which a node's slots are enqueued. Callers that
// only search include kovra_calc.h and use ExpandNodeMode/ExpandTurnMode.
#pragma once

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <span>

#include "routing/kovra_calc.h"

namespace kovra {

namespace calcsearch {

inline bool Bit(const uint32_t* words, int32_t i) { return (words[size_t(i) >> 5] >> (uint32_t(i) & 31u)) & 1u; }

}  // namespace calcsearch

// Node mode. The filters are independent of each other and have no side
// effects, so they run cheapest first; the node-level ones (window,
// hierarchy level) are decided once before the slot loop.
template <class Q>
void TCalc::ExpandNodeModeInto(Q& PQ, int32_t node, const TExpandOptions& o) {
  using calcsearch::Bit;
  const bool astar = o.astar, hierarchy = o.hierarchy;
  const TFloatPoint& target = o.target;
  assert(!FTurnMode && fX.from != nullptr);
  const TExpansionData& x = fX;
  const float c = cost0(node);
  const std::span<const TSearchEntry> slots = x.graph->Of(node);
  // Locals, so that nothing is reloaded after each Enq.
  const TLinkCost costFT = x.costFT, costTF = x.costTF;
  const TNodeLabel* const labels = fNodeLabels.data();
  const uint32_t stamp = fStamp;
  const float alpha = x.alpha;
  if (astar) PrepareTargetDistances(target);
  auto enqueue = [&](int32_t L, int32_t far) __attribute__((always_inline)) {
    const bool forward = far > 0;
    const int32_t m = forward ? far : -far;
    const float c2 = AddCost(c, forward ? costFT(L) : costTF(L));
    const TNodeLabel& lm = labels[m];
    if (!((lm.stamp == stamp ? lm.cost : cInfinity) > c2)) return;
    const float key = astar ? float(double(c2) + double(alpha) * CachedTargetDistance(m, target)) : c2;
    PQ.Enq(TPQitem{node, m, L, c2, key});
  };
  if (!o.filters) {
    for (const TSearchEntry se : slots) {
      const int32_t L = se.slot < 0 ? -se.slot : se.slot;
      enqueue(L, se.far);
    }
    return;
  }
  if (x.window && !Bit(x.window, node)) return;
  const int32_t mode = o.noDriveThrough == TNoDriveThrough::Ends && x.ndt       ? 1
                       : o.noDriveThrough == TNoDriveThrough::Origin && x.exitFT ? 2
                                                                                 : 0;
  const bool cds = o.deadEnds == TDeadEnds::Avoid;
  const int32_t level = hierarchy ? HierarchyLevel(TargetDistance(node, target), fS.Lmax) : 7;
  const bool filters = mode != 0 || cds || hierarchy || x.skip != nullptr || x.anyLimit;
  const bool ignoreOneway = x.ignoreOneway;
  for (const TSearchEntry se : slots) {
    int32_t e = se.slot;
    if (ignoreOneway && e < 0) e = -e;
    if (e < 1) continue;
    const int32_t L = e;
    const bool forward = se.far > 0;
    if (filters) {
      if (mode == 1 && !Bit(x.ndt, L)) continue;
      if (mode == 2 && !Bit(forward ? x.exitFT : x.exitTF, L)) continue;
      if (cds && Bit(x.cds, L)) continue;
      if (hierarchy && ((x.attr[L] & cAttrHierarchy) >> 5) > level) continue;
      if (x.skip && Bit(x.skip, L)) continue;
      if (x.anyLimit && !LimitOK(L)) continue;
    }
    enqueue(L, se.far);
  }
}

// Turn mode: the state of link cur (unsigned) that arrived at node.
template <class Q>
void TCalc::ExpandTurnModeInto(Q& PQ, int32_t cur, int32_t node, float cost, const TExpandOptions& o) {
  using calcsearch::Bit;
  const bool astar = o.astar, hierarchy = o.hierarchy;
  const TFloatPoint& target = o.target;
  const int32_t noEstimateLink = o.noEstimateLink;
  assert(FTurnMode && fX.from != nullptr);
  const TExpansionData& x = fX;
  const int32_t fromLink = cur == 0 ? 0 : x.to[cur] == node ? cur : -cur;
  const int32_t mode = o.noDriveThrough == TNoDriveThrough::Ends && x.ndt     ? 1
                       : o.noDriveThrough == TNoDriveThrough::Origin && x.ndt ? 2
                                                                               : 0;
  // Mode 2: once inside a foreign area (cur's bit clear) only foreign-area
  // links may follow. Link 0 (an origin) is in no area.
  const bool insideForeign = mode == 2 && cur != 0 && !Bit(x.ndt, cur);
  const std::span<const TSearchEntry> slots = x.graph->Of(node);
  const TLinkCost costFT = x.costFT, costTF = x.costTF;
  const TStateLabel* const labels = fStateLabels.data();
  const uint32_t stamp = fStamp;
  const float alpha = x.alpha;
  const double lowering = o.lowering;
  if (astar) PrepareTargetDistances(target);
  auto estimate = [&](int32_t n) __attribute__((always_inline)) {
    const double h = double(alpha) * CachedTargetDistance(n, target);
    return lowering == 0 ? h : std::max(0.0, h - lowering);
  };
  auto unreached = [&](int32_t state) { return labels[state].stamp != stamp || labels[state].pred == cNoPred; };
  // far > 0: L leaves node forward (node is its from-node).
  auto enter = [&](int32_t L, int32_t far, float t) __attribute__((always_inline)) {
    int32_t next;
    float c2;
    if (far > 0) {
      if (!unreached(2 * L)) return;
      next = far;
      c2 = AddTurnCost(t, cost, costFT(L));
    } else {
      if (!unreached(2 * L + 1)) return;
      next = -far;
      c2 = AddTurnCost(t, cost, costTF(L));
    }
    const float key = astar && L != noEstimateLink ? float(double(c2) + estimate(next)) : c2;
    PQ.Enq(TPQturnitem{fromLink, node, L, next, c2, key});
  };
  if (!o.filters) {
    for (const TSearchEntry se : slots) {
      const int32_t L = se.slot < 0 ? -se.slot : se.slot;
      if (insideForeign && Bit(x.ndt, L)) continue;
      enter(L, se.far, 0);
    }
    return;
  }
  if (x.window && !Bit(x.window, node)) return;
  const int32_t level = hierarchy ? HierarchyLevel(TargetDistance(node, target), fS.Lmax) : 7;
  const bool cds = o.deadEnds == TDeadEnds::Avoid && !x.skipCulDeSacOpt;
  const bool turns = x.turnCosts && cur != 0;
  const bool ignoreOneway = x.ignoreOneway;
  for (const TSearchEntry se : slots) {
    int32_t e = se.slot;
    if (ignoreOneway && e < 0) e = -e;
    if (e < 1) continue;
    const int32_t L = e;
    if (mode == 1 && !Bit(x.ndt, L)) continue;
    if (cds && Bit(x.cds, L)) continue;
    if (hierarchy && ((x.attr[L] & cAttrHierarchy) >> 5) > level) continue;
    if (x.skip && Bit(x.skip, L)) continue;
    if (L == cur && !UTurnPermitted(cur, node)) continue;
    if (x.anyLimit && !LimitOK(L)) continue;
    float t = turns ? TurnValue(cur, node, L, cost) : 0.0f;
    if (insideForeign && Bit(x.ndt, L)) continue;
    if (t < 0) continue;  // a prohibited turn
    if (x.dist && t > 0) t = 0;  // turn costs are no distance
    enter(L, se.far, t);
  }
}

}  // namespace kovra
