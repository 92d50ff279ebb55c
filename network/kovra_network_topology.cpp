// Graph analyses of an open network: cul-de-sac bits, duplicate one-way
// pairs, one-way chains downstream and upstream, traces up to valve nodes and
// Euler circuits. The visits use explicit stacks: a region of millions of
// links must not overflow the thread stack.
#include <algorithm>
#include <memory>
#include <unordered_map>
#include <vector>

#include "network/kovra_network.h"

namespace kovra {

namespace {

inline int32_t Abs(int32_t v) { return v < 0 ? -v : v; }

}  // namespace

bool TNetwork::GetCulDeSac(int32_t link) const {
  CheckOpen();
  CheckLinkRange(link);
  return FCDS.GetBit(link);
}

void TNetwork::NonCulDeSacNodes(TIntegerList& NonCDSnodes) const {
  CheckOpen();
  // By node, so the list is ascending and never holds node 0 (the end of a
  // rejected object).
  for (int32_t n = 1; n <= FNodeCount; ++n)
    for (const int32_t e : Adjacent(n))
      if (!FCDS.GetBit(Abs(e))) {
        NonCDSnodes.Add(n);
        break;
      }
}

int32_t TNetwork::FindDuplicateLinks() {
  CheckOpen();
  FDuplicates.assign(size_t(FLinkCount) + 1, 0);
  std::vector<uint8_t> done(size_t(FLinkCount) + 1, 0);
  for (int32_t l = 1; l <= FLinkCount; ++l)
    done[size_t(l)] = FLength[size_t(l)] != 0 && Fromnode[size_t(l)] == tonode[size_t(l)];  // loop links
  int32_t entries = 0;
  TFloatPointArrayEx pd, pe;
  for (int32_t j = 1; j <= FNodeCount; ++j) {
    const auto slots = Adjacent(j);
    if (slots.size() == 1) break;  // every later node has degree 1 too
    for (size_t k = 0; k + 1 < slots.size(); ++k) {
      const int32_t d = Abs(slots[k]);
      const int32_t cd = OneWayCode(d);
      if (done[size_t(d)] || (cd != 1 && cd != 2)) continue;
      const int32_t o = Fromnode[size_t(d)] == j ? tonode[size_t(d)] : Fromnode[size_t(d)];
      for (size_t m = k + 1; m < slots.size(); ++m) {
        const int32_t e = Abs(slots[m]);
        const int32_t ce = OneWayCode(e);
        if (done[size_t(e)] || done[size_t(d)] || Fromnode[size_t(e)] + tonode[size_t(e)] != j + o ||
            FLength[size_t(e)] != FLength[size_t(d)] || (ce != 1 && ce != 2) || ce == cd)
          continue;
        GetGISSection_raw(d, pd);
        GetGISSection_raw(e, pe);
        if (pd.Count != pe.Count || !std::equal(pd.Pnt.begin(), pd.Pnt.begin() + pd.Count, pe.Pnt.begin())) continue;
        FDuplicates[size_t(d)] = e;
        FDuplicates[size_t(e)] = d;
        done[size_t(d)] = done[size_t(e)] = 1;
        entries += 2;
      }
    }
  }
  return entries;
}

void TNetwork::DownStream(int32_t link, TIntegerList& linklist) const {
  CheckOpen();
  CheckLink(link);
  const int32_t code = OneWayCode(link);
  if (code != 1 && code != 2) return;
  int32_t node = code == 1 ? tonode[size_t(link)] : Fromnode[size_t(link)];
  // A ring where every node has one one-way exit would lead on for ever:
  // the chain ends when its next link is already in it.
  std::vector<uint8_t> inChain(size_t(FLinkCount) + 1, 0);
  for (;;) {
    linklist.Add(link);
    inChain[size_t(link)] = 1;
    int32_t next = 0, nextNode = 0, candidates = 0;
    for (const int32_t s : Adjacent(node)) {
      const int32_t e = Abs(s);
      const int32_t c = OneWayCode(e);
      if (c == 1 && Fromnode[size_t(e)] == node) {
        ++candidates, next = e, nextNode = tonode[size_t(e)];
      } else if (c == 2 && tonode[size_t(e)] == node) {
        ++candidates, next = e, nextNode = Fromnode[size_t(e)];
      }
    }
    if (candidates != 1 || inChain[size_t(next)]) return;
    link = next;
    node = nextNode;
  }
}

void TNetwork::UpStream(int32_t link, TBitArray& links) const {
  CheckOpen();
  CheckLink(link);
  if (links.Size() < int64_t(FLinkCount) + 1) links.SetSize(int64_t(FLinkCount) + 1);
  const int32_t code = OneWayCode(link);
  if (code != 1 && code != 2) return;
  std::vector<std::pair<int32_t, int32_t>> stack{{code == 1 ? Fromnode[size_t(link)] : tonode[size_t(link)], link}};
  while (!stack.empty()) {
    const auto [node, l] = stack.back();
    stack.pop_back();
    links.SetBit2(l, true);
    for (const int32_t s : Adjacent(node)) {
      const int32_t e = Abs(s);
      if (e == l || links.GetBit(e)) continue;
      const int32_t c = OneWayCode(e);
      if (c == 1 && tonode[size_t(e)] == node) {
        links.SetBit2(e, true);
        stack.push_back({Fromnode[size_t(e)], e});
      } else if (c == 2 && Fromnode[size_t(e)] == node) {
        links.SetBit2(e, true);
        stack.push_back({tonode[size_t(e)], e});
      }
    }
  }
}

void TNetwork::Trace(int32_t link, const TBitArray& Valves, TBitArray& ValvesReached, TBitArray& LinksReached) const {
  CheckOpen();
  CheckLink(link);
  if (Valves.Size() < int64_t(FNodeCount) + 1)
    throw EInvalidParameter(Format(cMsgBitArrayTooShort, FNodeCount + 1));
  LinksReached.SetSize(0);
  LinksReached.SetSize(int64_t(FLinkCount) + 1);
  ValvesReached.SetSize(0);
  ValvesReached.SetSize(int64_t(FNodeCount) + 1);
  std::vector<int32_t> stack{tonode[size_t(link)], Fromnode[size_t(link)]};  // from-node first
  LinksReached.SetBit2(link, true);
  while (!stack.empty()) {
    const int32_t node = stack.back();
    stack.pop_back();
    if (Valves.GetBit(node)) {
      ValvesReached.SetBit2(node, true);
      continue;
    }
    for (const int32_t s : Adjacent(node)) {
      const int32_t e = Abs(s);
      if (LinksReached.GetBit(e)) continue;
      LinksReached.SetBit2(e, true);
      stack.push_back(Fromnode[size_t(e)] == node ? tonode[size_t(e)] : Fromnode[size_t(e)]);
    }
  }
}

void TNetwork::Euler(const TIntegerArray& linkFT, const TIntegerArray& linkTF, TIntegerLists& linklists,
                     TIntegerLists& nodelists) const {
  CheckOpen();
  if (linkFT.size() < size_t(FLinkCount) + 1 || linkTF.size() < size_t(FLinkCount) + 1)
    throw EInvalidParameter(Format(cMsgEulerArrays, FLinkCount));
  std::vector<int32_t> ft(linkFT.begin(), linkFT.begin() + FLinkCount + 1);
  std::vector<int32_t> tf(linkTF.begin(), linkTF.begin() + FLinkCount + 1);
  int64_t total = 0;
  for (int32_t l = 1; l <= FLinkCount; ++l) {
    if (ft[size_t(l)] < 0 || tf[size_t(l)] < 0) throw EInvalidParameter(Format(cMsgEulerArrays, FLinkCount));
    // A count on a rejected object has no node to walk from.
    if (FLength[size_t(l)] == 0 && (ft[size_t(l)] || tf[size_t(l)]))
      throw EInvalidParameter(Format(cMsgNonValidLink, l));
    total += int64_t(ft[size_t(l)]) + tf[size_t(l)];
  }
  // Built apart and handed to the caller only when every walk closed.
  std::vector<std::unique_ptr<TIntegerList>> L, N;
  int32_t cursor = 1;  // the lowest link that may still have a count
  while (total > 0) {
    while (ft[size_t(cursor)] == 0 && tf[size_t(cursor)] == 0) ++cursor;
    auto links = std::make_unique<TIntegerList>();
    auto nodes = std::make_unique<TIntegerList>();
    int32_t l = cursor, start, current;
    if (ft[size_t(l)] > 0) {
      --ft[size_t(l)];
      start = Fromnode[size_t(l)], current = tonode[size_t(l)];
      links->Add(l);
    } else {
      --tf[size_t(l)];
      start = tonode[size_t(l)], current = Fromnode[size_t(l)];
      links->Add(-l);
    }
    nodes->Add(current);
    int32_t last = l;
    while (current != start) {
      int32_t found = 0;
      bool forward = false;
      for (int pass = 0; pass < 2 && !found; ++pass)
        for (const int32_t s : Adjacent(current)) {
          const int32_t e = Abs(s);
          if (pass == 0 && e == last) continue;
          if (Fromnode[size_t(e)] == current && ft[size_t(e)] > 0) {
            found = e, forward = true;
            break;
          }
          if (tonode[size_t(e)] == current && tf[size_t(e)] > 0) {
            found = e, forward = false;
            break;
          }
        }
      if (!found) throw EInvalidParameter(Format(cMsgEulerUnbalanced, current));
      if (forward) {
        --ft[size_t(found)];
        links->Add(found);
        current = tonode[size_t(found)];
      } else {
        --tf[size_t(found)];
        links->Add(-found);
        current = Fromnode[size_t(found)];
      }
      nodes->Add(current);
      last = found;
    }
    total -= links->Count();
    L.push_back(std::move(links));
    N.push_back(std::move(nodes));
  }

  // Merge circuits that share a node: the lowest i first, then the lowest k;
  // circuit k is spliced into i after the first shared position of i.
  for (bool changed = true; changed;) {
    changed = false;
    for (size_t i = 0; i < N.size() && !changed; ++i) {
      std::unordered_map<int32_t, int32_t> posI;  // node -> its first position in N_i
      for (int32_t p = 0; p < N[i]->Count(); ++p) posI.emplace(N[i]->GetItem(p), p);
      for (size_t k = i + 1; k < N.size() && !changed; ++k) {
        int32_t p = -1, q = -1;
        for (int32_t j = 0; j < N[k]->Count(); ++j) {
          const auto it = posI.find(N[k]->GetItem(j));
          if (it != posI.end() && (p < 0 || it->second < p)) p = it->second, q = j;
        }
        if (p < 0) continue;
        // q: the first position in N_k of the node at p.
        const int32_t node = N[i]->GetItem(p);
        for (int32_t j = 0; j < N[k]->Count(); ++j)
          if (N[k]->GetItem(j) == node) {
            q = j;
            break;
          }
        auto splice = [&](TIntegerList& into, const TIntegerList& from) {
          std::vector<int32_t> seq;
          seq.reserve(size_t(into.Count() + from.Count()));
          for (int32_t j = 0; j <= p; ++j) seq.push_back(into.GetItem(j));
          for (int32_t j = q + 1; j < from.Count(); ++j) seq.push_back(from.GetItem(j));
          for (int32_t j = 0; j <= q; ++j) seq.push_back(from.GetItem(j));
          for (int32_t j = p + 1; j < into.Count(); ++j) seq.push_back(into.GetItem(j));
          into.Clear();
          for (const int32_t v : seq) into.Add(v);
        };
        splice(*L[i], *L[k]);
        splice(*N[i], *N[k]);
        L.erase(L.begin() + ptrdiff_t(k));
        N.erase(N.begin() + ptrdiff_t(k));
        changed = true;
      }
    }
  }
  for (auto& l : L) linklists.Add(l.release());
  for (auto& n : N) nodelists.Add(n.release());
}

}  // namespace kovra
