#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <utility>

#include <malloc.h>

#include "routing/support/bgl_oracle.h"

#include "routing_bench.h"

namespace kovra::benchsupport {

TRoutingNet::TRoutingNet(int32_t nodes, bool degrees) : Cache(CachedOptions(4, nodes, degrees)), NW(Cache.NW) {
  NodeOrder = benchsupport::NodeOrder(NW);
  TArcs arcs;
  std::vector<TEdge> weights;
  AppendNodeArcs(NW, NW.Lengths().data(), arcs, weights, &NodeOrder);
  Nodes = MakeCsr(arcs, weights, size_t(NW.NodeCount()) + 1);
  NodePoint = VertexPoints(NW, NodeOrder);
  // The link-state graph as the test oracle models it, plus the source
  // vertices, in the network's ids first, then renumbered.
  const size_t sources = FirstSourceVertex();
  std::vector<int32_t> stateNode(sources + size_t(NW.NodeCount()) + 1, 0);
  for (int32_t L = 1; L <= NW.LinkCount(); ++L) {
    stateNode[size_t(2 * L)] = NW.Tonodes()[size_t(L)];
    stateNode[size_t(2 * L + 1)] = NW.Fromnodes()[size_t(L)];
  }
  StateOrder = benchsupport::StateOrder(NW, NodeOrder, stateNode, 1);
  arcs.clear();
  weights.clear();
  const testsupport::TBglOracle oracle(NW, {});
  for (int32_t L = 1; L <= NW.LinkCount(); ++L)
    for (const bool fwd : {true, false})
      for (const testsupport::TOracleArc& a : oracle.StateArcs(L, fwd)) {
        arcs.emplace_back(size_t(a.from), size_t(a.to));
        weights.push_back({a.weight.t + a.weight.w});
      }
  for (int32_t n = 1; n <= NW.NodeCount(); ++n)
    for (const testsupport::TOracleArc& a : oracle.SourceArcs(n)) {
      arcs.emplace_back(sources + size_t(n), size_t(a.to));
      weights.push_back({a.weight.w});
    }
  Renumber(arcs, StateOrder);
  States = MakeCsr(arcs, weights, stateNode.size());
  StateNode.assign(stateNode.size(), 0);
  for (size_t s = 2; s < sources; ++s) StateNode[StateOrder(s)] = stateNode[s];
  StatePoint = VertexPoints(NW, StateOrder, &StateNode);
  Factor = NW.LengthAlpha();
  Origin = NW.NodeCount() / 2 + 1;
  fRandom = RandomPairs(nodes >= 1'000'000 ? 20 : 200);
}

std::vector<TPair> TRoutingNet::RandomPairs(int32_t n) const {
  std::vector<TPair> v;
  uint64_t r = 77;
  auto next = [&] {
    r = r * 6364136223846793005ull + 1442695040888963407ull;
    return int32_t((r >> 33) % uint64_t(NW.NodeCount())) + 1;
  };
  for (int32_t i = 0; i < n; ++i) v.push_back({next(), next()});
  return v;
}

const std::vector<TPair>& TRoutingNet::Band(int32_t k) {
  auto& band = fBands[k];
  if (!band.empty()) return band;
  TBglSearch t(*Nodes);
  std::vector<std::pair<float, int32_t>> order;
  for (const TPair& p : RandomPairs(20)) {
    t.Dijkstra(NodeVertex(p.a), boost::default_dijkstra_visitor());
    order.clear();
    for (int32_t v = 1; v <= NW.NodeCount(); ++v)
      if (t.Dist[NodeVertex(v)] < cUnreached) order.emplace_back(t.Dist[NodeVertex(v)], v);
    const size_t rank = size_t(1) << k;
    if (order.size() <= rank) continue;
    std::nth_element(order.begin(), order.begin() + ptrdiff_t(rank), order.end());
    band.push_back({p.a, order[rank].second});
  }
  return band;
}

TRoutingNet& RoutingNet(int32_t nodes, bool degrees) {
  static std::map<std::pair<int32_t, bool>, std::unique_ptr<TRoutingNet>> nets;
  auto& p = nets[{nodes, degrees}];
  if (!p) {
    p = std::make_unique<TRoutingNet>(nodes, degrees);
    // The network's search graph, built by the first search after an Open
    // and shared by every later one: built here, so that no timed or counted
    // search pays the one-off cost (BM_SearchGraphBuild times it).
    p->NW.SearchGraph();
  }
  return *p;
}

bool Agrees(benchmark::State& state, bool ok, const std::string& what) {
  if (ok) return true;
  const std::string msg = "differs from the baseline: " + what;
  std::fprintf(stderr, "bench_routing: %s\n", msg.c_str());
  state.SkipWithError(msg.c_str());
  return false;
}

bool SameCost(float ours, float theirs, bool exact) {
  if (ours == theirs || exact) return ours == theirs;
  if (ours >= cUnreached || theirs >= cUnreached) return false;
  return std::abs(double(ours) - double(theirs)) <= 1e-6 * std::max(std::abs(double(theirs)), 1.0);
}

// --- Heap counting ------------------------------------------------------------

namespace {

std::atomic<int64_t> gCurrent{0}, gPeak{0};

void* Allocate(size_t n) {
  void* p = std::malloc(n == 0 ? 1 : n);
  if (p == nullptr) throw std::bad_alloc();
  const int64_t now = gCurrent += int64_t(malloc_usable_size(p));
  int64_t peak = gPeak.load(std::memory_order_relaxed);
  while (now > peak && !gPeak.compare_exchange_weak(peak, now)) {
  }
  return p;
}

void Release(void* p) {
  if (p == nullptr) return;
  gCurrent -= int64_t(malloc_usable_size(p));
  std::free(p);
}

}  // namespace

int64_t THeapCount::Current() { return gCurrent.load(); }
int64_t THeapCount::Peak() { return gPeak.load(); }
void THeapCount::ResetPeak() { gPeak = gCurrent.load(); }

}  // namespace kovra::benchsupport

void* operator new(size_t n) { return kovra::benchsupport::Allocate(n); }
void* operator new[](size_t n) { return kovra::benchsupport::Allocate(n); }
void operator delete(void* p) noexcept { kovra::benchsupport::Release(p); }
void operator delete[](void* p) noexcept { kovra::benchsupport::Release(p); }
void operator delete(void* p, size_t) noexcept { kovra::benchsupport::Release(p); }
void operator delete[](void* p, size_t) noexcept { kovra::benchsupport::Release(p); }
