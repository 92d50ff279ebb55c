// Graph analyses of an open network: cul-de-sac bits, duplicate one-way
// pairs, one-way chains downstream and upstream, traces up to valve nodes and
// Euler circuits. The visits use explicit stacks: a region of millions of
// links must not overflow the thread stack.
#include <algorithm>
#include <memory>
#include <queue>
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

  std::vector<TIntegerArray> CL, CN;
  for (size_t c = 0; c < L.size(); ++c) {
    CL.emplace_back(L[c]->Count());
    CN.emplace_back(N[c]->Count());
    for (int32_t j = 0; j < L[c]->Count(); ++j) {
      CL[c][size_t(j)] = L[c]->GetItem(j);
      CN[c][size_t(j)] = N[c]->GetItem(j);
    }
  }
  MergeCircuits(CL, CN, FNodeCount);
  for (size_t c = 0; c < CL.size(); ++c) {
    auto links = std::make_unique<TIntegerList>(), nodes = std::make_unique<TIntegerList>();
    links->SetCapacity(int32_t(CL[c].size()));
    nodes->SetCapacity(int32_t(CN[c].size()));
    for (const int32_t v : CL[c]) links->Add(v);
    for (const int32_t v : CN[c]) nodes->Add(v);
    L[c] = std::move(links);
    N[c] = std::move(nodes);
  }
  L.resize(CL.size());
  N.resize(CN.size());
  for (auto& l : L) linklists.Add(l.release());
  for (auto& n : N) nodelists.Add(n.release());
}

void MergeCircuits(std::vector<TIntegerArray>& L, std::vector<TIntegerArray>& N, int32_t NodeCount) {
  // The result is that of merging one pair at a time: the first circuit i
  // that shares a node with a later one absorbs the first such k, spliced in
  // after the first position p of i whose node occurs in k, rotated to start
  // after the first position q of that node in k; and again until no two
  // circuits share a node. A circuit only absorbs while it is the one being
  // grown, so i can be grown to completion before i + 1: its candidates come
  // from a heap fed by the nodes it gains. Its elements sit in a linked list
  // with order labels, so that "the first position whose node occurs in k"
  // is a comparison of labels and a splice costs the length of k (plus a
  // relabelling of the circuit when repeated splices at one place have used
  // up the room between two labels).
  const size_t m = L.size();
  std::vector<size_t> start(m + 1, 0);
  for (size_t c = 0; c < m; ++c) start[c + 1] = start[c] + L[c].size();
  const size_t total = start[m];
  std::vector<int64_t> next(total, -1);
  std::vector<uint64_t> label(total, 0);
  auto nodeOf = [&](size_t e, size_t c) { return N[c][e - start[c]]; };
  std::vector<size_t> owner(total);
  for (size_t c = 0; c < m; ++c)
    for (size_t e = start[c]; e < start[c + 1]; ++e) owner[e] = c;

  // Circuits by node, each circuit once per node.
  std::vector<std::vector<int32_t>> circuitsAt(size_t(NodeCount) + 1);
  std::vector<int64_t> stamp(size_t(NodeCount) + 1, -1);
  for (size_t c = 0; c < m; ++c)
    for (const int32_t v : N[c])
      if (stamp[size_t(v)] != int64_t(c)) stamp[size_t(v)] = int64_t(c), circuitsAt[size_t(v)].push_back(int32_t(c));

  std::vector<uint8_t> alive(m, 1);
  std::vector<int64_t> firstAt(size_t(NodeCount) + 1, -1);  // node -> first element of the grown circuit
  std::vector<int64_t> firstStamp(size_t(NodeCount) + 1, -1);
  constexpr uint64_t cSpacing = uint64_t(1) << 32;
  std::vector<TIntegerArray> outL, outN;
  for (size_t i = 0; i < m; ++i) {
    if (!alive[i]) continue;
    const int64_t head = int64_t(start[i]);
    for (size_t e = start[i]; e < start[i + 1]; ++e) {
      next[e] = e + 1 < start[i + 1] ? int64_t(e + 1) : -1;
      label[e] = (e - start[i] + 1) * cSpacing;
    }
    std::priority_queue<int32_t, std::vector<int32_t>, std::greater<int32_t>> candidates;
    auto gain = [&](int64_t e) {
      const int32_t v = nodeOf(size_t(e), owner[size_t(e)]);
      if (firstStamp[size_t(v)] != int64_t(i) || label[size_t(e)] < label[size_t(firstAt[size_t(v)])]) {
        const bool fresh = firstStamp[size_t(v)] != int64_t(i);
        firstStamp[size_t(v)] = int64_t(i), firstAt[size_t(v)] = e;
        if (fresh)
          for (const int32_t c : circuitsAt[size_t(v)])
            if (size_t(c) > i && alive[size_t(c)]) candidates.push(c);
      }
    };
    for (size_t e = start[i]; e < start[i + 1]; ++e) gain(int64_t(e));
    while (!candidates.empty()) {
      const size_t k = size_t(candidates.top());
      candidates.pop();
      if (!alive[k]) continue;
      alive[k] = 0;
      // p: the element of i, first in order, whose node occurs in k.
      int64_t p = -1;
      for (const int32_t v : N[k])
        if (firstStamp[size_t(v)] == int64_t(i) && (p < 0 || label[size_t(firstAt[size_t(v)])] < label[size_t(p)]))
          p = firstAt[size_t(v)];
      const int32_t node = nodeOf(size_t(p), owner[size_t(p)]);
      size_t q = 0;
      while (N[k][q] != node) ++q;
      const size_t len = L[k].size();
      // Labels between p and its successor; when the gap is too small the
      // whole circuit is labelled afresh.
      const uint64_t gap = (next[size_t(p)] >= 0 ? label[size_t(next[size_t(p)])] : UINT64_MAX) - label[size_t(p)];
      if (gap <= len + 1) {
        uint64_t l = 0;
        for (int64_t e = head; e >= 0; e = next[size_t(e)]) label[size_t(e)] = (l += cSpacing);
      }
      const uint64_t lo = label[size_t(p)];
      const uint64_t room = (len + 1) * cSpacing;
      const uint64_t hi = next[size_t(p)] >= 0 ? label[size_t(next[size_t(p)])]
                          : UINT64_MAX - lo > room ? lo + room
                                                   : UINT64_MAX;
      int64_t prev = p;
      const int64_t after = next[size_t(p)];
      for (size_t j = 0; j < len; ++j) {
        const int64_t e = int64_t(start[k] + (q + 1 + j) % len);
        label[size_t(e)] = lo + uint64_t((unsigned __int128)(hi - lo) * (j + 1) / (len + 1));
        next[size_t(prev)] = e;
        prev = e;
      }
      next[size_t(prev)] = after;
      for (size_t j = 0; j < len; ++j) gain(int64_t(start[k] + (q + 1 + j) % len));
    }
    TIntegerArray l, n;
    for (int64_t e = head; e >= 0; e = next[size_t(e)]) {
      const size_t c = owner[size_t(e)];
      l.push_back(L[c][size_t(e) - start[c]]);
      n.push_back(N[c][size_t(e) - start[c]]);
    }
    outL.push_back(std::move(l));
    outN.push_back(std::move(n));
  }
  L = std::move(outL);
  N = std::move(outN);
}

}  // namespace kovra
