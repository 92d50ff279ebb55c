// Graph analyses of an open network: cul-de-sac bits, duplicate one-way
// pairs, one-way chains downstream and upstream, traces up to valve nodes and
// Euler circuits. The visits use explicit stacks: a region of millions of
// links must not overflow the thread stack.
#include <algorithm>
#include <functional>
#include <memory>
#include <utility>
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

namespace {

// A linked list whose items compare by position through labels (order
// maintenance). A block goes into the gap after an item when the gap is wide
// enough; else the smallest aligned label range around it that is sparse
// enough is labelled afresh. The density limits fall with the range's size,
// which keeps the relabelling at O(log n) per item over any run of
// insertions (labelling the whole list whenever a gap runs out costs O(n)
// each time).
class TOrderedList {
public:
  static constexpr int cBits = 62;
  static constexpr uint64_t cEnd = uint64_t(1) << cBits;  // every label is below

  TOrderedList() {
    // A range of 2^j labels may hold up to (2 / 1.3)^j items.
    double c = 1;
    for (int j = 0; j <= cBits; ++j, c *= 2 / 1.3) fCapacity[j] = j == cBits ? double(cEnd) : c;
  }

  // Empties the list and gives it its head: item 0, labelled 0, which
  // stays first.
  void Clear() {
    next.assign(1, -1);
    prev.assign(1, -1);
    label.assign(1, 0);
  }
  // A new item, not yet in the list.
  int64_t Add() {
    next.push_back(-1);
    prev.push_back(-1);
    label.push_back(0);
    return int64_t(next.size()) - 1;
  }

  // Links Block[0..Count - 1] in after p, in that order.
  void InsertAfter(int64_t p, const int64_t* Block, size_t Count) {
    const int64_t after = next[size_t(p)];
    int64_t last = p;
    for (size_t j = 0; j < Count; ++j) {
      prev[size_t(Block[j])] = last;
      next[size_t(last)] = Block[j];
      last = Block[j];
    }
    next[size_t(last)] = after;
    if (after >= 0) prev[size_t(after)] = last;
    const uint64_t lo = label[size_t(p)], hi = after >= 0 ? label[size_t(after)] : cEnd;
    if (hi - lo > Count) {
      for (size_t j = 0; j < Count; ++j) label[size_t(Block[j])] = lo + 1 + Spread(hi - lo - 1, j, Count);
      return;
    }
    // Grow an aligned range around p until its items, the block counted,
    // are few enough for its size; the block already sits inside it.
    int64_t left = p, right = after;  // right: the first item past the range
    size_t count = Count + 1;
    uint64_t base = 0;
    int j = 1;
    for (;; ++j) {
      base = lo & ~((uint64_t(1) << j) - 1);
      const uint64_t end = base + (uint64_t(1) << j);
      while (prev[size_t(left)] >= 0 && label[size_t(prev[size_t(left)])] >= base) left = prev[size_t(left)], ++count;
      while (right >= 0 && label[size_t(right)] < end) right = next[size_t(right)], ++count;
      if (j == cBits || double(count) <= fCapacity[j]) break;
    }
    size_t t = 0;
    for (int64_t e = left; e != right; e = next[size_t(e)])
      label[size_t(e)] = base + Spread(uint64_t(1) << j, t++, count);
  }

  bool Before(int64_t a, int64_t b) const { return label[size_t(a)] < label[size_t(b)]; }

  std::vector<int64_t> next, prev;
  std::vector<uint64_t> label;

private:
  // The j-th of Count labels spread evenly over [0, Width).
  static uint64_t Spread(uint64_t Width, size_t j, size_t Count) {
    return uint64_t((unsigned __int128)Width * j / Count);
  }

  double fCapacity[cBits + 1];
};

// Merged circuit c is the element ranges Runs[First[c] .. First[c + 1] - 1],
// in that order.
struct TMerged {
  std::vector<size_t> First{0};
  std::vector<std::pair<size_t, size_t>> Runs;
  size_t Size(size_t c) const {
    size_t n = 0;
    for (size_t r = First[c]; r < First[c + 1]; ++r) n += Runs[r].second - Runs[r].first;
    return n;
  }
};

// Circuit c of the input is elements Start[c] .. Start[c + 1] - 1 of nodeAt.
TMerged MergeFlat(const std::vector<size_t>& start, const std::vector<int32_t>& nodeAt, int32_t NodeCount) {
  // The result is that of merging one pair at a time: the first circuit i
  // that shares a node with a later one absorbs the first such k, spliced in
  // after the first position p of i whose node occurs in k, rotated to start
  // after the first position q of that node in k; and again until no two
  // circuits share a node. A circuit only absorbs while it is the one being
  // grown, so i can be grown to completion before i + 1: its candidates come
  // from a heap fed by the nodes it gains.
  //
  // The grown circuit is a list of runs: each run is a stretch of one input
  // circuit in its own order, so positions compare by run (order labels)
  // and within a run by index. A splice adds at most three runs (k in two
  // pieces, and the split of p's run), so the ordered list grows with the
  // number of merges, not of elements. A split renumbers the smaller piece.
  //
  // Where the first position of a node lies needs no comparison: p is the
  // earliest position whose node occurs in k, so every other node of k first
  // occurs at or after p's successor, and k goes in straight after p.
  const size_t m = start.size() - 1;
  const size_t total = start[m];

  // Circuits by node, each circuit once per node, in one flat array.
  std::vector<int64_t> stamp(size_t(NodeCount) + 1, -1);
  std::vector<size_t> atFirst(size_t(NodeCount) + 2, 0);
  for (size_t c = 0; c < m; ++c)
    for (size_t e = start[c]; e < start[c + 1]; ++e)
      if (stamp[size_t(nodeAt[e])] != int64_t(c)) stamp[size_t(nodeAt[e])] = int64_t(c), ++atFirst[size_t(nodeAt[e]) + 1];
  for (size_t v = 1; v < atFirst.size(); ++v) atFirst[v] += atFirst[v - 1];
  std::vector<int32_t> circuitsAt(atFirst.back());
  {
    std::vector<size_t> fill(atFirst.begin(), atFirst.end() - 1);
    std::fill(stamp.begin(), stamp.end(), -1);
    for (size_t c = 0; c < m; ++c)
      for (size_t e = start[c]; e < start[c + 1]; ++e)
        if (stamp[size_t(nodeAt[e])] != int64_t(c))
          stamp[size_t(nodeAt[e])] = int64_t(c), circuitsAt[fill[size_t(nodeAt[e])]++] = int32_t(c);
  }

  TOrderedList runs;                            // item 0 heads the list
  std::vector<size_t> runLo, runHi;             // elements [lo, hi) of a run
  std::vector<int64_t> runOf(total);            // element -> its run
  auto addRun = [&](size_t lo, size_t hi) {
    const int64_t r = runs.Add();
    runLo.push_back(lo), runHi.push_back(hi);
    for (size_t e = lo; e < hi; ++e) runOf[e] = r;
    return r;
  };
  auto before = [&](int64_t a, int64_t b) {
    const int64_t ra = runOf[size_t(a)], rb = runOf[size_t(b)];
    return ra == rb ? a < b : runs.Before(ra, rb);
  };

  std::vector<uint8_t> alive(m, 1);
  std::vector<int64_t> firstAt(size_t(NodeCount) + 1, -1);  // node -> its first element in the grown circuit
  std::vector<int64_t> firstStamp(size_t(NodeCount) + 1, -1);
  std::vector<int32_t> heap;
  TMerged out;
  for (size_t i = 0; i < m; ++i) {
    if (!alive[i]) continue;
    runs.Clear();
    runLo.assign(1, 0), runHi.assign(1, 0);
    const int64_t first = addRun(start[i], start[i + 1]);
    runs.InsertAfter(0, &first, 1);
    heap.clear();
    // A node met for the first time in this circuit: e is its first
    // element, and the circuits at it become candidates.
    auto reach = [&](int32_t v, int64_t e) {
      firstStamp[size_t(v)] = int64_t(i), firstAt[size_t(v)] = e;
      for (size_t a = atFirst[size_t(v)]; a < atFirst[size_t(v) + 1]; ++a) {
        const int32_t c = circuitsAt[a];
        if (size_t(c) > i && alive[size_t(c)]) {
          heap.push_back(c);
          std::push_heap(heap.begin(), heap.end(), std::greater<int32_t>());
        }
      }
    };
    for (size_t e = start[i]; e < start[i + 1]; ++e)
      if (firstStamp[size_t(nodeAt[e])] != int64_t(i)) reach(nodeAt[e], int64_t(e));
    while (!heap.empty()) {
      std::pop_heap(heap.begin(), heap.end(), std::greater<int32_t>());
      const size_t k = size_t(heap.back());
      heap.pop_back();
      if (!alive[k]) continue;
      alive[k] = 0;
      // p: the element of i, first in order, whose node occurs in k.
      int64_t p = -1;
      for (size_t e = start[k]; e < start[k + 1]; ++e) {
        const int32_t v = nodeAt[e];
        if (firstStamp[size_t(v)] == int64_t(i) && (p < 0 || before(firstAt[size_t(v)], p))) p = firstAt[size_t(v)];
      }
      const int32_t node = nodeAt[size_t(p)];
      size_t q = start[k];
      while (nodeAt[q] != node) ++q;
      // k as elements q + 1 .. end, then its start .. q, after p.
      int64_t block[3];
      size_t count = 0;
      const int64_t s = runOf[size_t(p)];
      const size_t lo = runLo[size_t(s)], hi = runHi[size_t(s)], cut = size_t(p) + 1;
      const bool split = cut < hi, headMoves = split && cut - lo <= hi - cut;
      int64_t after = s;
      if (headMoves) {
        runLo[size_t(s)] = cut;
        after = runs.prev[size_t(s)];
        block[count++] = addRun(lo, cut);
      }
      if (q + 1 < start[k + 1]) block[count++] = addRun(q + 1, start[k + 1]);
      block[count++] = addRun(start[k], q + 1);
      if (split && !headMoves) {
        runHi[size_t(s)] = cut;
        block[count++] = addRun(cut, hi);
      }
      runs.InsertAfter(after, block, count);
      // The nodes of k, but p's own, now first occur in k: the last write
      // wins, so k is walked backwards (q, q - 1 .. start, end - 1 .. q + 1).
      for (size_t j = 0, len = start[k + 1] - start[k]; j < len; ++j) {
        const size_t e = start[k] + (q - start[k] + len - j) % len;
        const int32_t v = nodeAt[e];
        if (firstStamp[size_t(v)] != int64_t(i))
          reach(v, int64_t(e));
        else if (v != node)
          firstAt[size_t(v)] = int64_t(e);
      }
    }
    for (int64_t r = runs.next[0]; r >= 0; r = runs.next[size_t(r)])
      out.Runs.push_back({runLo[size_t(r)], runHi[size_t(r)]});
    out.First.push_back(out.Runs.size());
  }
  return out;
}

}  // namespace

void TNetwork::Euler(const TIntegerArray& linkFT, const TIntegerArray& linkTF, TIntegerLists& linklists,
                     TIntegerLists& nodelists) const {
  CheckOpen();
  if (linkFT.size() < size_t(FLinkCount) + 1 || linkTF.size() < size_t(FLinkCount) + 1)
    throw EInvalidParameter(Format(cMsgEulerArrays, FLinkCount));
  int64_t total = 0;
  for (int32_t l = 1; l <= FLinkCount; ++l) {
    const int32_t ft = linkFT[size_t(l)], tf = linkTF[size_t(l)];
    if (ft < 0 || tf < 0) throw EInvalidParameter(Format(cMsgEulerArrays, FLinkCount));
    // A count on a rejected object has no node to walk from.
    if (FLength[size_t(l)] == 0 && (ft || tf)) throw EInvalidParameter(Format(cMsgNonValidLink, l));
    total += int64_t(ft) + tf;
  }
  // The walks go into flat arrays and reach the caller only when every walk
  // closed. A link's ends and counts sit together: a walk reads them for
  // every slot it looks at.
  struct TWalkLink {
    int32_t from, to, ft, tf;
  };
  std::vector<TWalkLink> w(size_t(FLinkCount) + 1);
  for (int32_t l = 1; l <= FLinkCount; ++l)
    w[size_t(l)] = {Fromnode[size_t(l)], tonode[size_t(l)], linkFT[size_t(l)], linkTF[size_t(l)]};
  std::vector<int32_t> links, nodes;
  std::vector<size_t> starts{0};
  links.reserve(size_t(total)), nodes.reserve(size_t(total));
  int32_t cursor = 1;  // the lowest link that may still have a count
  while (total > 0) {
    while (w[size_t(cursor)].ft == 0 && w[size_t(cursor)].tf == 0) ++cursor;
    TWalkLink& c = w[size_t(cursor)];
    int32_t start, current;
    if (c.ft > 0) {
      --c.ft;
      start = c.from, current = c.to;
      links.push_back(cursor);
    } else {
      --c.tf;
      start = c.to, current = c.from;
      links.push_back(-cursor);
    }
    nodes.push_back(current);
    int32_t last = cursor;
    while (current != start) {
      int32_t found = 0;
      bool forward = false;
      for (int pass = 0; pass < 2 && !found; ++pass)
        for (const int32_t s : Adjacent(current)) {
          const int32_t e = Abs(s);
          if (pass == 0 && e == last) continue;
          const TWalkLink& x = w[size_t(e)];
          if (x.from == current && x.ft > 0) {
            found = e, forward = true;
            break;
          }
          if (x.to == current && x.tf > 0) {
            found = e, forward = false;
            break;
          }
        }
      if (!found) throw EInvalidParameter(Format(cMsgEulerUnbalanced, current));
      TWalkLink& x = w[size_t(found)];
      if (forward) {
        --x.ft;
        links.push_back(found);
        current = x.to;
      } else {
        --x.tf;
        links.push_back(-found);
        current = x.from;
      }
      nodes.push_back(current);
      last = found;
    }
    total -= int64_t(links.size() - starts.back());
    starts.push_back(links.size());
  }

  const TMerged merged = MergeFlat(starts, nodes, FNodeCount);
  std::vector<std::unique_ptr<TIntegerList>> L, N;
  for (size_t c = 0; c + 1 < merged.First.size(); ++c) {
    auto l = std::make_unique<TIntegerList>(), n = std::make_unique<TIntegerList>();
    l->SetCapacity(int32_t(merged.Size(c)));
    n->SetCapacity(int32_t(merged.Size(c)));
    for (size_t r = merged.First[c]; r < merged.First[c + 1]; ++r)
      for (size_t e = merged.Runs[r].first; e < merged.Runs[r].second; ++e) l->Add(links[e]), n->Add(nodes[e]);
    L.push_back(std::move(l));
    N.push_back(std::move(n));
  }
  for (auto& l : L) linklists.Add(l.release());
  for (auto& n : N) nodelists.Add(n.release());
}

void MergeCircuits(std::vector<TIntegerArray>& L, std::vector<TIntegerArray>& N, int32_t NodeCount) {
  std::vector<size_t> starts{0};
  std::vector<int32_t> links, nodes;
  for (size_t c = 0; c < L.size(); ++c) {
    links.insert(links.end(), L[c].begin(), L[c].end());
    nodes.insert(nodes.end(), N[c].begin(), N[c].end());
    starts.push_back(links.size());
  }
  const TMerged merged = MergeFlat(starts, nodes, NodeCount);
  L.assign(merged.First.size() - 1, {});
  N.assign(merged.First.size() - 1, {});
  for (size_t c = 0; c + 1 < merged.First.size(); ++c)
    for (size_t r = merged.First[c]; r < merged.First[c + 1]; ++r) {
      const auto [lo, hi] = merged.Runs[r];
      L[c].insert(L[c].end(), links.begin() + ptrdiff_t(lo), links.begin() + ptrdiff_t(hi));
      N[c].insert(N[c].end(), nodes.begin() + ptrdiff_t(lo), nodes.begin() + ptrdiff_t(hi));
    }
}

}  // namespace kovra
