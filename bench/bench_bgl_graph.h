// The network as a Boost Graph compressed_sparse_row_graph with float
// weights: the baseline graph of the routing benchmarks.
//
// Repeated queries: TBglSearch below.
//
// Vertex order: a careful user of Boost Graph lays the graph out in a
// cache-friendly order whatever order the network has, so every baseline
// numbers its vertices along a Hilbert curve of the node coordinates (link
// states by the node they arrive at). Sources and targets are mapped into
// that order, and labels out of it, outside the timed parts. With the
// environment variable KOVRA_BENCH_BGL_ORDER=network the baselines keep the
// network's own ids instead (nodes grouped by descending degree), for the
// comparison of both orders in bench/README.md.
#pragma once

#include <boost/graph/astar_search.hpp>
#include <boost/graph/compressed_sparse_row_graph.hpp>
#include <boost/graph/dijkstra_shortest_paths.hpp>
#include <boost/graph/dijkstra_shortest_paths_no_color_map.hpp>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <numeric>
#include <utility>
#include <vector>

#include "network/kovra_network.h"

namespace kovra::benchsupport {

struct TEdge {
  float w;
};
using TCsr = boost::compressed_sparse_row_graph<boost::directedS, boost::no_property, TEdge>;
using TArcs = std::vector<std::pair<size_t, size_t>>;

// False when KOVRA_BENCH_BGL_ORDER=network asks for the network's own ids.
inline bool BglHilbertOrder() {
  const char* e = std::getenv("KOVRA_BENCH_BGL_ORDER");
  return !(e != nullptr && std::strcmp(e, "network") == 0);
}

// Position of (x, y) on the Hilbert curve of a 2^16 x 2^16 grid.
inline uint64_t HilbertKey(uint32_t x, uint32_t y) {
  uint64_t d = 0;
  for (uint32_t s = 1u << 15; s > 0; s >>= 1) {
    const uint32_t rx = (x & s) ? 1 : 0, ry = (y & s) ? 1 : 0;
    d += uint64_t(s) * s * ((3 * rx) ^ ry);
    if (ry == 0) {  // rotate the quadrant
      if (rx == 1) x = s - 1 - (x & (s - 1)), y = s - 1 - (y & (s - 1));
      std::swap(x, y);
    }
  }
  return d;
}

// A renumbering of a graph's vertices: New[old id] and Old[new id].
struct TVertexOrder {
  std::vector<size_t> New, Old;
  size_t operator()(size_t old) const { return New[old]; }
  // The identity over n vertices.
  static TVertexOrder Identity(size_t n) {
    TVertexOrder o;
    o.New.resize(n);
    std::iota(o.New.begin(), o.New.end(), size_t(0));
    o.Old = o.New;
    return o;
  }
  // Old from New.
  void Invert() {
    Old.assign(New.size(), 0);
    for (size_t i = 0; i < New.size(); ++i) Old[New[i]] = i;
  }
};

// Vertices 0..NodeCount (0 unused, node n at vertex n in the network's
// order) and extra vertices after them, which keep their ids: the nodes
// along the Hilbert curve of their coordinates over the network's extent.
inline TVertexOrder NodeOrder(const TNetwork& NW, size_t extra = 0) {
  const size_t N = size_t(NW.NodeCount());
  TVertexOrder o = TVertexOrder::Identity(N + 1 + extra);
  if (!BglHilbertOrder() || N == 0) return o;
  double xmin = 1e300, xmax = -1e300, ymin = 1e300, ymax = -1e300;
  for (size_t n = 1; n <= N; ++n) {
    xmin = std::min(xmin, NW.X()[n]), xmax = std::max(xmax, NW.X()[n]);
    ymin = std::min(ymin, NW.Y()[n]), ymax = std::max(ymax, NW.Y()[n]);
  }
  const double sx = xmax > xmin ? 65535.0 / (xmax - xmin) : 0, sy = ymax > ymin ? 65535.0 / (ymax - ymin) : 0;
  std::vector<std::pair<uint64_t, size_t>> keys;
  keys.reserve(N);
  for (size_t n = 1; n <= N; ++n)
    keys.emplace_back(HilbertKey(uint32_t((NW.X()[n] - xmin) * sx), uint32_t((NW.Y()[n] - ymin) * sy)), n);
  std::sort(keys.begin(), keys.end());
  for (size_t i = 0; i < N; ++i) o.New[keys[i].second] = i + 1;
  o.Invert();
  return o;
}

// Vertices of a link-state graph: 2L + 0/1 the states of link L (0 and 1
// unused), whose node (stateNode[vertex]) is the node they arrive at, then
// `perNode` blocks of NodeCount + 1 vertices, one per node. States go by the
// Hilbert position of their node (then by id), each node's block vertex by
// its node's position.
inline TVertexOrder StateOrder(const TNetwork& NW, const TVertexOrder& nodes, const std::vector<int32_t>& stateNode,
                               size_t perNode = 0) {
  const size_t S = 2 * (size_t(NW.LinkCount()) + 1), B = size_t(NW.NodeCount()) + 1;
  TVertexOrder o = TVertexOrder::Identity(S + perNode * B);
  if (!BglHilbertOrder()) return o;
  std::vector<std::pair<size_t, size_t>> keys;
  keys.reserve(S - 2);
  for (size_t s = 2; s < S; ++s) keys.emplace_back(nodes(size_t(stateNode[s])), s);
  std::sort(keys.begin(), keys.end());
  for (size_t i = 0; i < keys.size(); ++i) o.New[keys[i].second] = i + 2;
  for (size_t k = 0; k < perNode; ++k)
    for (size_t n = 0; n < B; ++n) o.New[S + k * B + n] = S + k * B + nodes(n);
  o.Invert();
  return o;
}

// Node graph: an arc per node and leaving link, as the expansion admits them
// (positive adjacency entries), weighted w[link]; vertex ids through order
// (node n at vertex n when it is null).
inline void AppendNodeArcs(const TNetwork& NW, const float* w, TArcs& arcs, std::vector<TEdge>& weights,
                           const TVertexOrder* order = nullptr) {
  const int32_t* from = NW.Fromnodes().data();
  const int32_t* to = NW.Tonodes().data();
  auto at = [&](int32_t n) { return order ? (*order)(size_t(n)) : size_t(n); };
  for (int32_t v = 1; v <= NW.NodeCount(); ++v)
    for (const int32_t e : NW.Adjacent(v)) {
      if (e < 1) continue;
      arcs.emplace_back(at(v), at(from[e] + to[e] - v));
      weights.push_back({w[e]});
    }
}

// The arcs with both ends renumbered.
inline void Renumber(TArcs& arcs, const TVertexOrder& order) {
  for (auto& a : arcs) a = {order(a.first), order(a.second)};
}

// The node coordinates per vertex, so an A* estimate reads them in the
// graph's order: vertices that are no node get (0, 0).
inline std::vector<TFloatPoint> VertexPoints(const TNetwork& NW, const TVertexOrder& order,
                                             const std::vector<int32_t>* vertexNode = nullptr) {
  std::vector<TFloatPoint> p(order.Old.size(), TFloatPoint{0, 0});
  for (size_t v = 0; v < p.size(); ++v) {
    const int32_t n = vertexNode ? (*vertexNode)[v] : int32_t(order.Old[v]);
    if (n >= 1 && n <= NW.NodeCount()) p[v] = NW.Node2Coordinate_raw(n);
  }
  return p;
}

// Thrown by a visitor to stop a search at its goal.
struct TFound {};

// Stops a search when the goal is examined. On a link-state graph the goal
// is a node: every vertex v with stateNode[v] == goal reaches it, and the
// first examined is the cheapest; found receives the goal vertex examined.
template <class Base>
class TGoalVisitor : public Base {
public:
  using TVertex = boost::graph_traits<TCsr>::vertex_descriptor;
  TGoalVisitor(TVertex goal, int64_t* settled, const std::vector<int32_t>* stateNode = nullptr,
               TVertex* found = nullptr)
      : fGoal(goal), fSettled(settled), fStateNode(stateNode), fFound(found) {}
  template <class G>
  void examine_vertex(TVertex u, const G& g) {
    ++*fSettled;
    if (fStateNode ? (*fStateNode)[u] == int32_t(fGoal) : u == fGoal) {
      if (fFound) *fFound = u;
      throw TFound();
    }
    Base::examine_vertex(u, g);
  }

private:
  TVertex fGoal;
  int64_t* fSettled;
  const std::vector<int32_t>* fStateNode;
  TVertex* fFound;
};

// Records every vertex a search discovers, and so every vertex whose
// distance, key or colour it writes; otherwise the visitor it derives from.
template <class Base>
class TTouching : public Base {
public:
  using TVertex = boost::graph_traits<TCsr>::vertex_descriptor;
  TTouching(const Base& b, std::vector<TVertex>* touched) : Base(b), fTouched(touched) {}
  template <class G>
  void discover_vertex(TVertex u, const G& g) {
    fTouched->push_back(u);
    Base::discover_vertex(u, g);
  }

private:
  std::vector<TVertex>* fTouched;
};

// BGL's Dijkstra and A* as a careful user runs query after query. Their
// _no_init entry points still build the heap's index map at every call (an
// array of one entry per vertex filled with zeros, or for A* a vector grown
// to the highest vertex touched): O(V) per query. These run the searches'
// own core as those entry points do, breadth_first_visit with BGL's
// Dijkstra or A* visitor over its 4-ary indirect heap, on maps kept between
// queries; each query first resets only the vertices the last one
// discovered. The heap's index map needs no reset: the heap reads it only
// for vertices it holds. DijkstraUsual and AStarUsual run BGL's usual entry
// points on the same maps instead, which initialise every vertex first.
class TBglSearch {
public:
  using TVertex = boost::graph_traits<TCsr>::vertex_descriptor;
  static constexpr float cInf = std::numeric_limits<float>::max();

  explicit TBglSearch(const TCsr& g)
      : fG(g), Dist(boost::num_vertices(g), cInf), Key(boost::num_vertices(g), cInf), Pred(boost::num_vertices(g)),
        Color(boost::num_vertices(g), boost::white_color), fHeapIndex(boost::num_vertices(g)) {}

  // Dijkstra from s into Dist and Pred; vis may throw to stop the search
  // (the caller catches).
  template <class Vis>
  void Dijkstra(TVertex s, const Vis& vis) {
    Start(s, 0);
    auto idx = boost::get(boost::vertex_index, fG);
    auto dist = boost::make_iterator_property_map(Dist.begin(), idx);
    auto pred = boost::make_iterator_property_map(Pred.begin(), idx);
    auto heapIndex = boost::make_iterator_property_map(fHeapIndex.begin(), idx);
    using TQueue = boost::d_ary_heap_indirect<TVertex, 4, decltype(heapIndex), decltype(dist), std::less<float>>;
    TQueue Q(dist, heapIndex, std::less<float>());
    boost::detail::dijkstra_bfs_visitor<TTouching<Vis>, TQueue, decltype(boost::get(&TEdge::w, fG)), decltype(pred),
                                        decltype(dist), boost::closed_plus<float>, std::less<float>>
        bfs(TTouching<Vis>(vis, &Touched), Q, boost::get(&TEdge::w, fG), pred, dist, boost::closed_plus<float>(cInf),
            std::less<float>(), 0.0f);
    boost::breadth_first_visit(fG, &s, &s + 1, Q, bfs, boost::make_iterator_property_map(Color.begin(), idx));
  }

  // A* from s with the estimate h: Dist the distances, Key distance plus
  // estimate; vis may throw to stop the search.
  template <class H, class Vis>
  void AStar(TVertex s, const H& h, const Vis& vis) {
    Start(s, h(s));
    auto idx = boost::get(boost::vertex_index, fG);
    auto dist = boost::make_iterator_property_map(Dist.begin(), idx);
    auto key = boost::make_iterator_property_map(Key.begin(), idx);
    auto pred = boost::make_iterator_property_map(Pred.begin(), idx);
    auto color = boost::make_iterator_property_map(Color.begin(), idx);
    auto heapIndex = boost::make_iterator_property_map(fHeapIndex.begin(), idx);
    using TQueue = boost::d_ary_heap_indirect<TVertex, 4, decltype(heapIndex), decltype(key), std::less<float>>;
    TQueue Q(key, heapIndex, std::less<float>());
    boost::detail::astar_bfs_visitor<H, TTouching<Vis>, TQueue, decltype(pred), decltype(key), decltype(dist),
                                     decltype(boost::get(&TEdge::w, fG)), decltype(color), boost::closed_plus<float>,
                                     std::less<float>>
        bfs(h, TTouching<Vis>(vis, &Touched), Q, pred, key, dist, boost::get(&TEdge::w, fG), color,
            boost::closed_plus<float>(cInf), std::less<float>(), 0.0f);
    boost::breadth_first_visit(fG, s, Q, bfs, color);
  }

  // The usual entry points: dijkstra_shortest_paths_no_color_map and
  // astar_search, O(V) per query.
  template <class Vis>
  void DijkstraUsual(TVertex s, const Vis& vis) {
    fAllTouched = true;
    auto idx = boost::get(boost::vertex_index, fG);
    boost::dijkstra_shortest_paths_no_color_map(
        fG, s,
        boost::weight_map(boost::get(&TEdge::w, fG))
            .distance_map(boost::make_iterator_property_map(Dist.begin(), idx))
            .predecessor_map(boost::make_iterator_property_map(Pred.begin(), idx))
            .visitor(vis));
  }
  template <class H, class Vis>
  void AStarUsual(TVertex s, const H& h, const Vis& vis) {
    fAllTouched = true;
    auto idx = boost::get(boost::vertex_index, fG);
    boost::astar_search(fG, s, h,
                        boost::visitor(vis)
                            .distance_map(boost::make_iterator_property_map(Dist.begin(), idx))
                            .predecessor_map(boost::make_iterator_property_map(Pred.begin(), idx))
                            .weight_map(boost::get(&TEdge::w, fG))
                            .rank_map(boost::make_iterator_property_map(Key.begin(), idx))
                            .color_map(boost::make_iterator_property_map(Color.begin(), idx)));
  }

private:
  const TCsr& fG;
  bool fAllTouched = false;  // a usual entry point wrote every vertex

public:
  std::vector<float> Dist, Key;
  std::vector<TVertex> Pred;
  std::vector<boost::default_color_type> Color;
  // The vertices the last query discovered.
  std::vector<TVertex> Touched;

private:
  void Start(TVertex s, float key) {
    if (fAllTouched) {
      std::fill(Dist.begin(), Dist.end(), cInf);
      std::fill(Key.begin(), Key.end(), cInf);
      std::fill(Color.begin(), Color.end(), boost::white_color);
      fAllTouched = false;
    }
    for (const TVertex v : Touched) {
      Dist[v] = Key[v] = cInf;
      Color[v] = boost::white_color;
    }
    Touched.clear();
    Dist[s] = 0;
    Key[s] = key;
    Pred[s] = s;
  }
  std::vector<size_t> fHeapIndex;
};

inline std::unique_ptr<TCsr> MakeCsr(const TArcs& arcs, const std::vector<TEdge>& weights, size_t vertices) {
  return std::make_unique<TCsr>(boost::edges_are_unsorted_multi_pass, arcs.begin(), arcs.end(), weights.begin(),
                                vertices);
}

}  // namespace kovra::benchsupport
