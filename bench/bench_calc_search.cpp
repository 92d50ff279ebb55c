// The search core's expansions on generated networks of 100k and 1M nodes:
// every node (node mode) or every link state (turn mode) expanded once into
// a cleared heap, with the filters off and with all of them on, against a
// bare loop over the same Adjacent spans that adds float costs and pushes
// into the same heap (targets: 1.3x with filters off, 2x with all on). In
// node mode both write the expanded node's label before and after its
// expansion, into labels of the calculator's own type. Also the bytes per
// node and link that labels, stamps and the A* cache take, from the
// calculator's types, in the run's context (untimed).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "network/kovra_network.h"
#include "routing/kovra_calc.h"
#include "routing/support/netgen.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

struct TBenchNet {
  explicit TBenchNet(int32_t nodes) : G(Options(nodes)), NW(G.NW) {
    Skip = std::make_unique<TBitArray>(int64_t(NW.LinkCount()) + 1);
    for (int32_t l = 1; l <= NW.LinkCount(); l += 50) Skip->SetBit2(l, true);
    Window = std::make_unique<TBitArray>(int64_t(NW.NodeCount()) + 1);
    Window->SetAllTrue();
  }
  static TNetGenOptions Options(int32_t nodes) {
    TNetGenOptions o;
    o.Seed = 3;
    o.Nodes = nodes;
    o.Restrictions2 = nodes / 20;
    o.Areas = 20;
    o.SpatialIndex = false;
    return o;
  }
  TGeneratedNetwork G;
  TNetwork& NW;
  std::unique_ptr<TBitArray> Skip, Window;
};

// One generated network per size per process.
TBenchNet& Net(int32_t nodes) {
  static std::map<int32_t, std::unique_ptr<TBenchNet>> nets;
  auto& p = nets[nodes];
  if (!p) p = std::make_unique<TBenchNet>(nodes);
  return *p;
}

// All filters: one-way kept, skip list, two vehicle limits, cul-de-sac links
// refused, no-drive-through mode 1, an include-node window, the hierarchy;
// in turn mode also turn costs with 2-link restrictions and the U-turn rule.
// all: every filter on (dead ends avoided, the ends' areas, the hierarchy).
TExpandOptions Options(bool all) {
  TExpandOptions o;
  o.deadEnds = all ? TDeadEnds::Avoid : TDeadEnds::Enter;
  o.noDriveThrough = all ? TNoDriveThrough::Ends : TNoDriveThrough::Off;
  o.hierarchy = all;
  return o;
}

void Configure(TCalc& c, TBenchNet& n, bool all) {
  if (all) {
    c.SetSkipLinkList(n.Skip.get());
    c.SetLimit(1, 40);
    c.SetLimit(2, 0x04);
    c.SetIncludeNodes(n.Window.get());
    if (c.Turnmode()) c.SetFastest(true);
  }
  c.CheckNetwork(true);
  if (all) c.PrepareNoDriveThrough(0, 0);
}

void BM_NodeModeExpandAll(benchmark::State& state) {
  TBenchNet& n = Net(int32_t(state.range(0)));
  const bool all = state.range(1) != 0;
  TCalc c(n.NW, false);
  Configure(c, n, all);
  const TExpandOptions o = Options(all);
  TPQ& pq = *c.PQ1;
  const int32_t nodes = n.NW.NodeCount();
  auto pass = [&] {
    c.ResetNodeLabels();
    pq.Clear();
    for (int32_t v = 1; v <= nodes; ++v) {
      c.SetNodeLabel(v, 0, 0, 0);
      c.ExpandNodeMode(pq, v, o);
      c.SetNodeLabel(v, cInfinity, cNoPred, 0);  // unreached again for the nodes after it
    }
    benchmark::ClobberMemory();
  };
  pass();  // grows the heap once, outside the timing
  for (auto _ : state) pass();
  state.counters["ns_per_node"] =
      benchmark::Counter(double(nodes), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_NodeModeExpandAll)->ArgsProduct({{100'000, 1'000'000}, {0, 1}})->Unit(benchmark::kMillisecond);

void BM_NodeModeBareLoop(benchmark::State& state) {
  TBenchNet& n = Net(int32_t(state.range(0)));
  TPQ pq;
  const TNetwork& nw = n.NW;
  const int32_t nodes = nw.NodeCount();
  const int32_t* from = nw.Fromnodes().data();
  const int32_t* to = nw.Tonodes().data();
  const float* w = nw.Lengths().data();
  // The expansion's two label writes per node, as the calculator makes them.
  std::vector<TCalc::TNodeLabel> labels(size_t(nodes) + 1, TCalc::TNodeLabel{cInfinity, cNoPred, 0, 0});
  uint32_t stamp = 1;
  auto pass = [&] {
    pq.Clear();
    ++stamp;
    for (int32_t v = 1; v <= nodes; ++v) {
      labels[size_t(v)] = {0, 0, 0, stamp};
      for (const int32_t e : nw.Adjacent(v)) {
        if (e < 1) continue;
        const int32_t m = from[e] + to[e] - v;
        const float c = AddCost(0.0f, w[e]);
        pq.Enq(TPQitem{v, m, e, c, c});
      }
      labels[size_t(v)] = {cInfinity, cNoPred, 0, stamp};
    }
    benchmark::ClobberMemory();
  };
  pass();
  for (auto _ : state) pass();
  state.counters["ns_per_node"] =
      benchmark::Counter(double(nodes), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_NodeModeBareLoop)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

void BM_TurnModeExpandAll(benchmark::State& state) {
  TBenchNet& n = Net(int32_t(state.range(0)));
  const bool all = state.range(1) != 0;
  TCalc c(n.NW, true);
  Configure(c, n, all);
  const TExpandOptions o = Options(all);
  const int32_t links = n.NW.LinkCount();
  const int32_t* from = n.NW.Fromnodes().data();
  const int32_t* to = n.NW.Tonodes().data();
  auto pass = [&] {
    c.ResetLinkLabels();
    c.PQT->Clear();
    for (int32_t K = 1; K <= links; ++K) {
      c.ExpandTurnMode(K, to[K], 1, o);
      c.ExpandTurnMode(K, from[K], 1, o);
    }
    benchmark::ClobberMemory();
  };
  pass();
  for (auto _ : state) pass();
  state.counters["ns_per_state"] = benchmark::Counter(
      2.0 * links, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_TurnModeExpandAll)->ArgsProduct({{100'000, 1'000'000}, {0, 1}})->Unit(benchmark::kMillisecond);

void BM_TurnModeBareLoop(benchmark::State& state) {
  TBenchNet& n = Net(int32_t(state.range(0)));
  TPQturn pq;
  const TNetwork& nw = n.NW;
  const int32_t links = nw.LinkCount();
  const int32_t* from = nw.Fromnodes().data();
  const int32_t* to = nw.Tonodes().data();
  const float* w = nw.Lengths().data();
  auto pass = [&] {
    pq.Clear();
    for (int32_t K = 1; K <= links; ++K)
      for (const int32_t v : {to[K], from[K]})
        for (const int32_t e : nw.Adjacent(v)) {
          if (e < 1 || e == K) continue;  // the expansion refuses the U-turn too
          const float c = AddCost(1.0f, w[e]);
          pq.Enq(TPQturnitem{K, v, e, from[e] + to[e] - v, c, c});
        }
    benchmark::ClobberMemory();
  };
  pass();
  for (auto _ : state) pass();
  state.counters["ns_per_state"] = benchmark::Counter(
      2.0 * links, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_TurnModeBareLoop)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

// Bytes the search state takes per node and per link, from the calculator's
// own types: labels with their stamps (node mode per node, turn mode two
// states per link) and the A* distance cache per node. Sizes need no timing:
// they go into the context printed before the run (and its JSON).
const bool cSizesReported = [] {
  benchmark::AddCustomContext("node_label_bytes_per_node", std::to_string(sizeof(TCalc::TNodeLabel)));
  benchmark::AddCustomContext("turn_label_bytes_per_link", std::to_string(2 * sizeof(TCalc::TStateLabel)));
  benchmark::AddCustomContext("astar_cache_bytes_per_node", std::to_string(sizeof(TCalc::TDistEntry)));
  return true;
}();

}  // namespace
