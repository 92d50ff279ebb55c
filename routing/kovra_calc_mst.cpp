// TCalc::MST and TCalc::SteinerTree: sets of links that tie nodes together at
// low cost, travel direction ignored.
#include <cstdlib>
#include <functional>
#include <queue>
#include <vector>

#include "foundation/kovra_functions.h"
#include "routing/kovra_calc.h"
#include "routing/kovra_calc_matrix.h"
#include "routing/kovra_calc_mst.h"

namespace kovra {

using calcmatrix::TRestore;

// The tree grows from the first edge of the cost-sorted list, each step
// taking the edge of lowest list position with exactly one node in the tree.
// A binary heap of list positions finds that edge: a node's edges are pushed
// when it joins, so every edge with one node in the tree is in the heap, and
// an edge popped with both nodes in the tree would close a cycle and is
// dropped. O(E log E) instead of a rescan of the list after every edge.
void TCalc::MST(TBitArray& links) {
  FNW.CheckOpen();
  // The costs are read from the criterion's column, which a reopened network
  // may no longer have.
  CheckColumns();
  const int32_t n = FNW.LinkCount();
  const float* length = FNW.Lengths().data();
  const int32_t* from = FNW.Fromnodes().data();
  const int32_t* to = FNW.Tonodes().data();
  TMSTList list;
  list.SetCapacity(n);
  for (int32_t l = 1; l <= n; ++l)
    if (length[l] != 0) list.Add(TMST{l, from[l], to[l], CostFT(l, 0)});
  list.Sort();
  links.SetSize(int64_t(n) + 1);
  links.SetAllFalse();
  // A loop link is never taken, not even as the first edge.
  int32_t first = 0;
  while (first < list.Count() && list.GetItem(first).node1 == list.GetItem(first).node2) ++first;
  if (first >= list.Count()) return;

  std::vector<int32_t> position(size_t(n) + 1, -1);
  for (int32_t p = 0; p < list.Count(); ++p) position[size_t(list.GetItem(p).link)] = p;
  TBitArray inTree(int64_t(FNW.NodeCount()) + 1);
  inTree.SetAllFalse();
  std::priority_queue<int32_t, std::vector<int32_t>, std::greater<int32_t>> heap;
  auto join = [&](int32_t node) {
    inTree.SetBit2(node, true);
    for (const int32_t e : FNW.Adjacent(node)) {
      const int32_t l = std::abs(e);
      if (position[size_t(l)] < 0 || inTree.GetBit(from[l] + to[l] - node)) continue;
      heap.push(position[size_t(l)]);
    }
  };
  auto take = [&](const TMST& e) {
    links.SetBit2(e.link, true);
    if (!inTree.GetBit(e.node1)) join(e.node1);
    if (!inTree.GetBit(e.node2)) join(e.node2);
  };
  take(list.GetItem(first));
  while (!heap.empty()) {
    const TMST& e = list.GetItem(heap.top());
    heap.pop();
    if (inTree.GetBit(e.node1) && inTree.GetBit(e.node2)) continue;
    take(e);
  }
}

namespace {

inline constexpr const char* cMsgElementNotConnected = "Element %d is not connected";

}  // namespace

void TCalc::SteinerTree(const TIntegerList& nodes, TBitArray& links) {
  CheckNetwork(true);
  for (int32_t i = 0; i < nodes.Count(); ++i) FNW.CheckNode(nodes.GetItem(i));
  TRestore<bool> oneway(fS.FIgnoreOneWay);
  fS.FIgnoreOneWay = true;
  struct TProgressZero {
    TCalc& c;
    ~TProgressZero() {
      try {
        c.ProgressExecuteZero();
      } catch (...) {
        // A handler that raises on the closing report cannot be answered
        // from here; the run's own outcome stands.
      }
    }
  } progressZero{*this};
  SetProgressMaxValue(nodes.Count() - 1);
  SetProgressStart(0);
  SetProgressStop(100);

  TIntegerList tree;
  tree.SetAllowDuplicates(false);
  TIntegerList remaining;
  for (int32_t i = 0; i < nodes.Count(); ++i) remaining.Add(nodes.GetItem(i));
  links.SetSize(int64_t(FNW.LinkCount()) + 1);
  links.SetAllFalse();
  if (nodes.Count() < 2) return;

  // Pass 0 looks for the cheapest pair within the list. The origin never
  // stands in its own target list: in turn mode a tree may come back to it
  // (a closed trip of cost 0 > nothing), which would pair a node with
  // itself. A node listed twice is a pair of cost 0 without a route.
  TIntegerList targets;
  std::vector<int32_t> targetPos;
  for (int32_t pass = 0; pass <= nodes.Count() - 2; ++pass) {
    float best = cInfinity;
    int32_t p = -1, q = -1;
    TRoute route;
    for (int32_t pos = 0; pos < remaining.Count(); ++pos) {
      const int32_t origin = remaining.GetItem(pos);
      int32_t b = -1;
      float x = cInfinity;
      bool routed = false;
      if (pass == 0) {
        targets.Clear();
        targetPos.clear();
        for (int32_t k = 0; k < remaining.Count(); ++k) {
          if (k == pos) continue;
          if (remaining.GetItem(k) == origin) {
            if (b < 0) b = k, x = 0;
            continue;
          }
          targets.Add(remaining.GetItem(k));
          targetPos.push_back(k);
        }
        if (b < 0 && targets.Count() > 0) {
          const int32_t found = Nearest(origin, targets);
          if (found >= 0) {
            b = targetPos[size_t(found)];
            x = NodeCost(targets.GetItem(found));
            routed = true;
          }
        }
      } else if (tree.IndexOf(origin) >= 0) {
        // Already joined (listed twice, or a junction of an earlier route):
        // it attaches where it is, at cost 0.
        b = tree.IndexOf(origin);
        x = 0;
      } else {
        b = Nearest(origin, tree);
        if (b >= 0) {
          x = NodeCost(tree.GetItem(b));
          routed = true;
        }
      }
      if (b < 0) throw Exception(Format(cMsgElementNotConnected, pos));
      if (x < best) {
        p = pos;
        q = b;
        best = x;
        route = routed ? RouteFind(pass == 0 ? remaining.GetItem(b) : tree.GetItem(b)) : TRoute{};
      }
    }
    if (p < 0) break;  // every cost 1e38 or more: nothing to attach by
    if (pass == 0) {
      tree.Add(remaining.GetItem(p));
      tree.Add(remaining.GetItem(q));
      remaining.Delete(std::max(p, q));
      remaining.Delete(std::min(p, q));
    } else {
      tree.Add(remaining.GetItem(p));
      if (!route.nodes.empty()) tree.Add(route.nodes.back());
      remaining.Delete(p);
    }
    for (size_t k = 1; k + 1 < route.nodes.size(); ++k)
      if (FNW.Degree_raw(route.nodes[k]) > 2) tree.Add(route.nodes[k]);
    for (const int32_t l : route.links) links.SetBit2(std::abs(l), true);
    ProgressExecute(pass);
  }
}

}  // namespace kovra
