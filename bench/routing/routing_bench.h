// What the routing benchmarks share: the generated networks (cached on disk
// per seed and size, never generated inside a timing), their Boost Graph
// baselines, the query sets, the latency counters, the allocation counters
// and the check that stops a benchmark whose answers differ from the
// baseline's.
//
// Networks: seed 4, 10k, 100k or 1M grid nodes, metres or degrees; the
// distance criterion. Baseline graphs are compressed_sparse_row_graphs with
// the network's float lengths as weights, their vertices along a Hilbert
// curve of the node coordinates (bench_bgl_graph.h):
// - the node graph: a vertex per node, an arc per admitted leaving link;
// - the link-state graph: the forward state of link L (at its to-node) and
//   the backward one, arcs as the turn-mode expansion admits them (no
//   U-turns except on cul-de-sac links); then one source vertex per node
//   feeding the node's leaving states, so one graph serves every origin.
// NodeVertex, StateVertex and SourceVertex map the network's ids into the
// graphs; queries map in, and labels out, outside the timed parts.
#pragma once

#include <benchmark/benchmark.h>

#include <boost/graph/dijkstra_shortest_paths_no_color_map.hpp>

#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "network/kovra_network.h"
#include "routing/support/netgen.h"

#include "bench_bgl_graph.h"
#include "bench_latency.h"
#include "bench_netcache.h"

namespace kovra::benchsupport {

using TVertex = boost::graph_traits<TCsr>::vertex_descriptor;
inline constexpr float cUnreached = std::numeric_limits<float>::max();

struct TPair {
  int32_t a, b;
};

class TRoutingNet {
public:
  TRoutingNet(int32_t nodes, bool degrees);

  TBenchCachedNetwork Cache;
  TNetwork& NW;
  std::unique_ptr<TCsr> Nodes, States;
  TVertexOrder NodeOrder, StateOrder;
  // Per vertex of the link-state graph, the node the state arrives at; 0 for
  // the source vertices.
  std::vector<int32_t> StateNode;
  // Node coordinates per vertex of each graph, for the A* estimate.
  std::vector<TFloatPoint> NodePoint, StatePoint;
  size_t NodeVertex(int32_t node) const { return NodeOrder(size_t(node)); }
  // State 2L (forward) or 2L + 1 (backward) of link L.
  size_t StateVertex(size_t state) const { return StateOrder(state); }
  size_t SourceVertex(int32_t node) const { return StateOrder(2 * (size_t(NW.LinkCount()) + 1) + size_t(node)); }
  // The first source vertex: state vertices lie below it.
  size_t FirstSourceVertex() const { return 2 * (size_t(NW.LinkCount()) + 1); }
  // The network's crow-fly factor (the A* estimate's scale).
  float Factor = 0;
  // The origin of the single-tree benchmarks: a node in the middle.
  int32_t Origin = 1;

  // 200 random pairs (20 on 1M nodes), fixed by seed.
  const std::vector<TPair>& Random() const { return fRandom; }
  // 20 pairs whose target is the 2^k-th node settled from the source, the
  // ranks taken from one BGL Dijkstra per source; empty when the network is
  // too small for the band.
  const std::vector<TPair>& Band(int32_t k);
  const std::vector<TPair>& Pairs(int32_t band) { return band == 0 ? Random() : Band(band); }

private:
  std::vector<TPair> RandomPairs(int32_t n) const;
  std::vector<TPair> fRandom;
  std::map<int32_t, std::vector<TPair>> fBands;
};

// One network per size and unit for the whole process.
TRoutingNet& RoutingNet(int32_t nodes, bool degrees);

// False, with the benchmark stopped and the reason printed, when ok is not.
bool Agrees(benchmark::State& state, bool ok, const std::string& what);
// Exact for Alpha 0; relative 1e-6 (the oracle suites' tolerance) otherwise.
bool SameCost(float ours, float theirs, bool exact);

// Heap bytes of the process, counted by the program's operator new.
struct THeapCount {
  static int64_t Current();
  static int64_t Peak();
  // The peak from now on starts at the current figure.
  static void ResetPeak();
};

}  // namespace kovra::benchsupport
