// The network as a Boost Graph compressed_sparse_row_graph with float
// weights: the baseline graph of the routing benchmarks.
#pragma once

#include <boost/graph/compressed_sparse_row_graph.hpp>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

#include "network/kovra_network.h"

namespace kovra::benchsupport {

struct TEdge {
  float w;
};
using TCsr = boost::compressed_sparse_row_graph<boost::directedS, boost::no_property, TEdge>;
using TArcs = std::vector<std::pair<size_t, size_t>>;

// Node graph: an arc per node and leaving link, as the expansion admits them
// (positive adjacency entries), weighted w[link].
inline void AppendNodeArcs(const TNetwork& NW, const float* w, TArcs& arcs, std::vector<TEdge>& weights) {
  const int32_t* from = NW.Fromnodes().data();
  const int32_t* to = NW.Tonodes().data();
  for (int32_t v = 1; v <= NW.NodeCount(); ++v)
    for (const int32_t e : NW.Adjacent(v)) {
      if (e < 1) continue;
      arcs.emplace_back(size_t(v), size_t(from[e] + to[e] - v));
      weights.push_back({w[e]});
    }
}

// Thrown by a visitor to stop a search at its goal.
struct TFound {};

// Stops a search when the goal is examined, and records every vertex whose
// distance it wrote, so the next query can reset only those.
template <class Base>
class TGoalVisitor : public Base {
public:
  using TVertex = boost::graph_traits<TCsr>::vertex_descriptor;
  TGoalVisitor(TVertex goal, std::vector<TVertex>* touched, int64_t* settled)
      : fGoal(goal), fTouched(touched), fSettled(settled) {}
  // On a link-state graph the goal is a node: every vertex v with
  // stateNode[v] == goal reaches it, and the first examined is the cheapest.
  // found receives the goal vertex examined.
  TGoalVisitor(TVertex goal, std::vector<TVertex>* touched, int64_t* settled, const std::vector<int32_t>* stateNode,
               TVertex* found)
      : fGoal(goal), fTouched(touched), fSettled(settled), fStateNode(stateNode), fFound(found) {}
  template <class G>
  void examine_vertex(TVertex u, const G& g) {
    ++*fSettled;
    if (fStateNode ? (*fStateNode)[u] == int32_t(fGoal) : u == fGoal) {
      if (fFound) *fFound = u;
      throw TFound();
    }
    Base::examine_vertex(u, g);
  }
  template <class E, class G>
  void edge_relaxed(E e, const G& g) {
    if (fTouched) fTouched->push_back(boost::target(e, g));
  }
  template <class G>
  void discover_vertex(TVertex u, const G& g) {
    if (fTouched) fTouched->push_back(u);
    Base::discover_vertex(u, g);
  }

private:
  TVertex fGoal;
  std::vector<TVertex>* fTouched;
  int64_t* fSettled;
  const std::vector<int32_t>* fStateNode = nullptr;
  TVertex* fFound = nullptr;
};

// Before a *_no_init search: the distance, key and colour maps back to
// unreached at the vertices the last search touched, and the touched list
// started anew with the source.
inline void ResetTouched(std::vector<boost::graph_traits<TCsr>::vertex_descriptor>& touched, std::vector<float>& dist,
                         std::vector<float>& cost, std::vector<boost::default_color_type>& color,
                         boost::graph_traits<TCsr>::vertex_descriptor source) {
  for (const auto v : touched) {
    dist[v] = std::numeric_limits<float>::max();
    cost[v] = std::numeric_limits<float>::max();
    color[v] = boost::white_color;
  }
  touched.clear();
  touched.push_back(source);
}

inline std::unique_ptr<TCsr> MakeCsr(const TArcs& arcs, const std::vector<TEdge>& weights, size_t vertices) {
  return std::make_unique<TCsr>(boost::edges_are_unsorted_multi_pass, arcs.begin(), arcs.end(), weights.begin(),
                                vertices);
}

}  // namespace kovra::benchsupport
