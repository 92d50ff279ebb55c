// The one search loop of each mode. Every search (trees from a node or a
// location, Route, the location routes) is a policy of it: the policy seeds
// the labels and the first expansions, tells a stale entry from a live one,
// decides at each entry whether to settle it, skip it or stop, says whether
// the settled entry is expanded, and holds the expansion options the loop
// passes on. The policy's members are called inline, so a search pays for
// nothing it does not use.
//
// The sequence of queue operations is part of the results (ties are broken
// by it), so the hooks are placed where each search has always made its
// decisions:
//
//   node mode                                turn mode
//   Seed(heads)                              Seed()
//   loop: take the used queue's head         loop: take entries until one
//         -> Taken(entry), AfterTake(heads)        is unreached -> Taken(entry)
//         pick the cheaper head -> Picked        Admit(entry, forward)
//         Stale(entry)? else Admit(entry)         settle the state
//         settle the node                          Settled(entry, forward)
//         Settled(entry) -> expand or hold         expand or hold
//         Done(settled)                            Done()
//
// Node mode keeps two queues for the searches that start at both ends of a
// link (the second end joins when the first queue's frontier passes its
// share, as a virtual source would have it); a policy whose TwoQueues is false
// uses the first alone, and the comparison of heads is compiled out.
#pragma once

#include <type_traits>

#include "routing/kovra_calc.h"
#include "routing/kovra_calc_search.h"

namespace kovra {

// A policy's answer before an entry is settled.
enum class TAdmit : uint8_t { Settle, Skip, Stop };
// Its answer after: expand the settled entry, hold it (settled, never
// passed through), or end the search.
enum class TAfterSettle : uint8_t { Expand, Hold, Stop };

// The heads of the node-mode queues: the entry taken from each and not yet
// used (FromNode 0: none), and the queue whose head the loop takes next
// (0: none, the seed took both). A one-queue search takes from the first
// queue every time and calls no AfterTake.
struct TNodeHeads {
  TPQitem h1{}, h2{};
  int32_t used = 1;
};

// Defaults of the hooks a policy need not write.
struct TSearchPolicyBase {
  using TwoQueues = std::false_type;
  TExpandOptions o;
  template <class Item>
  void Taken(const Item&) {}
  void AfterTake(TNodeHeads&) {}
  void Picked(const TPQitem&) {}
  bool Done(bool /*settled*/) const { return false; }
  bool Done() const { return false; }
};

template <class P>
void TCalc::RunNodeSearch(P& p) {
  TPQ& q1 = *PQ1;
  TPQ& q2 = *PQ2;
  q1.Clear();
  q2.Clear();
  TNodeHeads hd;
  p.Seed(hd);
  for (;;) {
    bool use1 = true;
    if constexpr (P::TwoQueues::value) {
      if (hd.used != 0) {
        TPQitem& h = hd.used == 1 ? hd.h1 : hd.h2;
        h = (hd.used == 1 ? q1 : q2).Deq();
        if (h.FromNode != 0) p.Taken(h);
        p.AfterTake(hd);
      }
      const bool v1 = hd.h1.FromNode != 0, v2 = hd.h2.FromNode != 0;
      if (!v1 && !v2) break;
      use1 = v1 && (!v2 || hd.h1.sortvar <= hd.h2.sortvar);
      hd.used = use1 ? 1 : 2;
    } else {
      hd.h1 = q1.Deq();
      if (hd.h1.FromNode == 0) break;
      p.Taken(hd.h1);
    }
    const TPQitem h = use1 ? hd.h1 : hd.h2;
    p.Picked(h);
    bool settled = false;
    if (!p.Stale(h)) {
      const TAdmit a = p.Admit(h);
      if (a == TAdmit::Stop) break;
      if (a == TAdmit::Settle) {
        SetNodeLabel(h.ToNode, h.cost, h.FromNode, h.link);
        settled = true;
        const TAfterSettle s = p.Settled(h);
        if (s == TAfterSettle::Stop) break;
        if (s == TAfterSettle::Expand) ExpandNodeModeInto(use1 ? q1 : q2, h.ToNode, p.o);
      }
    }
    if (p.Done(settled)) break;
  }
}

template <class P>
void TCalc::RunTurnSearch(P& p) {
  TPQturn& pq = *PQT;
  pq.Clear();
  const int32_t* const from = FNW.Fromnodes().data();
  p.Seed();
  for (;;) {
    TPQturnitem it;
    bool forward = false;
    for (;;) {
      it = pq.Deq();
      if (it.ToLink == 0) break;
      p.Taken(it);
      forward = it.Node == from[it.ToLink];
      if (!StateReached(it.ToLink, forward)) break;
    }
    if (it.ToLink == 0) break;
    const TAdmit a = p.Admit(it, forward);
    if (a == TAdmit::Skip) continue;
    if (a == TAdmit::Stop) break;
    SetState(it.ToLink, forward, it.cost, it.FromLink);
    const TAfterSettle s = p.Settled(it, forward);
    if (s == TAfterSettle::Stop) break;
    if (s == TAfterSettle::Expand) ExpandTurnModeInto(pq, it.ToLink, it.NextNode, it.cost, p.o);
    if (p.Done()) break;
  }
}

}  // namespace kovra
