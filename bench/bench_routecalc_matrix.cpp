// Route matrices and route-matrix outputs on generated networks of 100k and
// 1M grid nodes (planar, 100 m grid, by distance), with the N places of a
// matrix inside a 3 km square in the middle of the network.
//
// - BM_RMatrix / BM_RMatrixDyn: N = 10 and 100, without and with a
//   MatrixBuffer of 1 km (buffer_m 1000; rows of their own: the baseline has
//   no window); total time per matrix and per cell (cell_s).
// - BM_BglCells: the baseline, N (N - 1) A* queries (crow-fly heuristic x
//   the network's factor, stopped at the goal, only the vertices the last
//   query touched reset: TBglSearch) on a
//   compressed_sparse_row_graph of the same network in Hilbert order
//   (bench_bgl_graph.h). Target: RMatrix at least 2x faster per cell.
// Before timing, RMatrix (both windows) and the baseline compare every cell
// with BGL's early-exit Dijkstra (1e-6 relative, the A* tolerance of the
// oracle suites) and stop at the first difference. RMatrixDyn routes between
// locations, a problem the node baseline does not solve: it has no baseline
// here (bench_routecalc_dyn compares RouteDyn with BGL).
// - BM_RMatrixOut / BM_RMatrixOutDirect: rows per second to gfCSV and gfSHP,
//   without and with geometry, N = 30; the direct form makes the same Route,
//   ExtractRoute, GetGISSectionRoute and writer calls by hand. Target: within
//   1.1x.
#include <benchmark/benchmark.h>

#include <boost/graph/astar_search.hpp>
#include <boost/graph/compressed_sparse_row_graph.hpp>
#include <boost/graph/dijkstra_shortest_paths_no_color_map.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "foundation/kovra_functions.h"
#include "network/kovra_network.h"
#include "routing/kovra_calc.h"

#include "bench_bgl_graph.h"
#include "bench_netcache.h"

using namespace kovra;
using namespace kovra::benchsupport;

namespace {

using TVertex = boost::graph_traits<TCsr>::vertex_descriptor;
constexpr float cInf = std::numeric_limits<float>::max();

struct TMatrixNet {
  explicit TMatrixNet(int32_t nodes) : G(CachedOptions(5, nodes)), NW(G.NW), Order(NodeOrder(NW)) {
    TArcs arcs;
    std::vector<TEdge> weights;
    AppendNodeArcs(NW, NW.Lengths().data(), arcs, weights, &Order);
    Graph = MakeCsr(arcs, weights, size_t(NW.NodeCount()) + 1);
    Point = VertexPoints(NW, Order);
    double xmin = 1e300, xmax = -1e300, ymin = 1e300, ymax = -1e300;
    for (int32_t n = 1; n <= NW.NodeCount(); ++n) {
      xmin = std::min(xmin, NW.X()[size_t(n)]), xmax = std::max(xmax, NW.X()[size_t(n)]);
      ymin = std::min(ymin, NW.Y()[size_t(n)]), ymax = std::max(ymax, NW.Y()[size_t(n)]);
    }
    const double cx = (xmin + xmax) / 2, cy = (ymin + ymax) / 2;
    // Every node of the middle 3 km square, in a fixed shuffled order.
    for (int32_t n = 1; n <= NW.NodeCount(); ++n)
      if (std::abs(NW.X()[size_t(n)] - cx) < 1500 && std::abs(NW.Y()[size_t(n)] - cy) < 1500) Square.push_back(n);
    uint64_t r = 99;
    for (size_t i = Square.size(); i > 1; --i) {
      r = r * 6364136223846793005ull + 1442695040888963407ull;
      std::swap(Square[i - 1], Square[size_t((r >> 33) % i)]);
    }
  }
  void Nodes(int32_t n, TIntegerList& NL) const {
    NL.Clear();
    for (int32_t i = 0; i < n; ++i) NL.Add(Square[size_t(i)]);
  }
  void Locations(int32_t n, TLocationList& LL) const {
    LL.Clear();
    for (int32_t i = 0; i < n; ++i) {
      const int32_t node = Square[size_t(i)];
      for (const int32_t e : NW.Adjacent(node)) {
        const int32_t L = e < 0 ? -e : e;
        if (NW.Lengths()[size_t(L)] > 0) {
          LL.Add2(L, 0.5);
          break;
        }
      }
    }
  }
  TBenchCachedNetwork G;
  TNetwork& NW;
  TVertexOrder Order;
  std::unique_ptr<TCsr> Graph;
  std::vector<TFloatPoint> Point;  // per vertex
  std::vector<int32_t> Square;
  // BGL's cells per N, row by row without the diagonal: the reference.
  std::map<int32_t, std::vector<float>> Reference;
};

TMatrixNet& Net(int32_t nodes) {
  static std::map<int32_t, std::unique_ptr<TMatrixNet>> nets;
  auto& p = nets[nodes];
  if (!p) p = std::make_unique<TMatrixNet>(nodes);
  return *p;
}

// Seconds per cell (the counter inverts the cell rate).
void Cells(benchmark::State& state, int64_t cells) {
  state.counters["cell_s"] = benchmark::Counter(double(cells), benchmark::Counter::kIsIterationInvariantRate |
                                                                   benchmark::Counter::kInvert);
}

// Crow-fly distance from a vertex's node to the goal times the factor, the
// node coordinates read per vertex in the graph's order.
class THeuristic : public boost::astar_heuristic<TCsr, float> {
public:
  THeuristic(const TMatrixNet& n, int32_t goal)
      : fN(n), fFactor(n.NW.LengthAlpha()), fGoal(n.NW.Node2Coordinate_raw(goal)) {}
  float operator()(TVertex v) const {
    return v == 0 ? 0 : float(double(fFactor) * fN.NW.DistanceBetweenPoints_raw(fN.Point[v], fGoal));
  }

private:
  const TMatrixNet& fN;
  float fFactor;
  TFloatPoint fGoal;
};

// The baseline's maps, kept from one cell to the next (TBglSearch).
class TBglCells {
public:
  explicit TBglCells(const TMatrixNet& n) : fN(n), fSearch(*n.Graph) {}
  // The cost from node a to node b (cInf when unreached): A*, or the
  // early-exit Dijkstra of the reference.
  float Run(int32_t a, int32_t b, bool astar) {
    const TVertex s = TVertex(fN.Order(size_t(a))), goal = TVertex(fN.Order(size_t(b)));
    TVertex found = TVertex(-1);
    try {
      if (astar)
        fSearch.AStar(s, THeuristic(fN, b), TGoalVisitor<boost::default_astar_visitor>(goal, &Settled, nullptr, &found));
      else
        fSearch.Dijkstra(s, TGoalVisitor<boost::default_dijkstra_visitor>(goal, &Settled, nullptr, &found));
    } catch (const TFound&) {
    }
    return found == TVertex(-1) ? cInf : fSearch.Dist[found];
  }
  int64_t Settled = 0;

private:
  const TMatrixNet& fN;
  TBglSearch fSearch;
};

// The early-exit Dijkstra's cells of the first N places.
const std::vector<float>& Reference(TMatrixNet& n, const TIntegerList& NL) {
  auto& r = n.Reference[NL.Count()];
  if (r.empty()) {
    TBglCells q(n);
    for (int32_t i = 0; i < NL.Count(); ++i)
      for (int32_t j = 0; j < NL.Count(); ++j)
        if (i != j) r.push_back(q.Run(NL.GetItem(i), NL.GetItem(j), false));
  }
  return r;
}

// Exact or within 1e-6 relative; false, with the benchmark stopped and the
// cell printed, at the first cell that differs.
bool SameCells(benchmark::State& state, const TIntegerList& NL, const std::vector<float>& got,
               const std::vector<float>& want) {
  size_t k = 0;
  for (int32_t i = 0; i < NL.Count(); ++i)
    for (int32_t j = 0; j < NL.Count(); ++j) {
      if (i == j) continue;
      const float a = got[k], b = want[k++];
      const bool same = a == b || (a < cInf && b < cInf &&
                                   std::abs(double(a) - double(b)) <= 1e-6 * std::max(std::abs(double(b)), 1.0));
      if (same) continue;
      const std::string msg = "differs from the baseline: cell " + std::to_string(NL.GetItem(i)) + " -> " +
                              std::to_string(NL.GetItem(j)) + ": " + std::to_string(a) + " against " +
                              std::to_string(b);
      std::fprintf(stderr, "bench_routecalc_matrix: %s\n", msg.c_str());
      state.SkipWithError(msg.c_str());
      return false;
    }
  return true;
}

// Args: nodes, N, buffer in metres (0 = none).
void BM_RMatrix(benchmark::State& state) {
  TMatrixNet& n = Net(int32_t(state.range(0)));
  TIntegerList NL;
  n.Nodes(int32_t(state.range(1)), NL);
  TRouteCalc c(n.NW, false);
  c.SetMatrixBuffer(double(state.range(2)) / 1000);
  const TMatrix m = c.RMatrix(NL, false, false);
  std::vector<float> cells;
  for (int32_t i = 0; i < NL.Count(); ++i)
    for (int32_t j = 0; j < NL.Count(); ++j)
      if (i != j) cells.push_back(m[size_t(i)][size_t(j)] < 0 ? cInf : m[size_t(i)][size_t(j)]);
  if (!SameCells(state, NL, cells, Reference(n, NL))) return;
  for (auto _ : state) benchmark::DoNotOptimize(c.RMatrix(NL, false, false));
  Cells(state, int64_t(NL.Count()) * (NL.Count() - 1));
}

void BM_RMatrixDyn(benchmark::State& state) {
  TMatrixNet& n = Net(int32_t(state.range(0)));
  TLocationList LL;
  n.Locations(int32_t(state.range(1)), LL);
  TRouteCalc c(n.NW, false);
  c.SetMatrixBuffer(double(state.range(2)) / 1000);
  for (auto _ : state) benchmark::DoNotOptimize(c.RMatrixDyn(LL, false, false));
  Cells(state, int64_t(LL.Count()) * (LL.Count() - 1));
}

// Args: nodes, N.
void BM_BglCells(benchmark::State& state) {
  TMatrixNet& n = Net(int32_t(state.range(0)));
  TIntegerList NL;
  n.Nodes(int32_t(state.range(1)), NL);
  TBglCells q(n);
  std::vector<float> cells;
  for (int32_t i = 0; i < NL.Count(); ++i)
    for (int32_t j = 0; j < NL.Count(); ++j)
      if (i != j) cells.push_back(q.Run(NL.GetItem(i), NL.GetItem(j), true));
  if (!SameCells(state, NL, cells, Reference(n, NL))) return;
  q.Settled = 0;
  for (auto _ : state)
    for (int32_t i = 0; i < NL.Count(); ++i)
      for (int32_t j = 0; j < NL.Count(); ++j)
        if (i != j) benchmark::DoNotOptimize(q.Run(NL.GetItem(i), NL.GetItem(j), true));
  Cells(state, int64_t(NL.Count()) * (NL.Count() - 1));
  state.counters["settled"] = benchmark::Counter(double(q.Settled) / double(NL.Count() * (NL.Count() - 1)),
                                                 benchmark::Counter::kAvgIterations);
}

void MatrixArgs(benchmark::internal::Benchmark* b) {
  for (const int64_t nodes : {100'000, 1'000'000})
    for (const int64_t N : {10, 100})
      for (const int64_t buffer : {0, 1000}) b->Args({nodes, N, buffer});
  b->ArgNames({"nodes", "N", "buffer_m"});
}
BENCHMARK(BM_RMatrix)->Apply(MatrixArgs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RMatrixDyn)->Apply(MatrixArgs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BglCells)
    ->ArgsProduct({{100'000, 1'000'000}, {10, 100}})
    ->ArgNames({"nodes", "N"})
    ->Unit(benchmark::kMillisecond);

std::string OutFile() { return (std::filesystem::temp_directory_path() / "kovra_bench_rmatrixout").string(); }

// Args: nodes, format (0 CSV, 1 SHP), geometry.
void BM_RMatrixOut(benchmark::State& state) {
  TMatrixNet& n = Net(int32_t(state.range(0)));
  TIntegerList NL;
  n.Nodes(30, NL);
  TRouteCalc c(n.NW, false);
  const TGISFormat GF = state.range(1) ? gfSHP : gfCSV;
  for (auto _ : state)
    c.RMatrixOut(OutFile(), GF, NL, NL, nullptr, nullptr, true, false, false, true, false, state.range(2) != 0);
  state.counters["rows_per_s"] =
      benchmark::Counter(double(NL.Count() * (NL.Count() - 1)), benchmark::Counter::kIsIterationInvariantRate);
}

// The same routes and writer calls made directly.
void BM_RMatrixOutDirect(benchmark::State& state) {
  TMatrixNet& n = Net(int32_t(state.range(0)));
  TIntegerList NL;
  n.Nodes(30, NL);
  TRouteCalc c(n.NW, false);
  const TGISFormat GF = state.range(1) ? gfSHP : gfCSV;
  const bool geometry = state.range(2) != 0 && GF == gfSHP;
  for (auto _ : state) {
    std::unique_ptr<TGISWriter> w = n.NW.GISoutputInit(OutFile(), GF);
    w->StartHeader(4, geometry ? otPline : otNone);
    w->AddField("ID_from", gfInteger, 0, 0);
    w->AddField("ID_to", gfInteger, 0, 0);
    w->AddField("Distance", gfFloat, 0, 0);
    w->AddField("DirectDist", gfFloat, 0, 0);
    for (int32_t i = 0; i < NL.Count(); ++i)
      for (int32_t j = 0; j < NL.Count(); ++j) {
        if (i == j) continue;
        const int32_t a = NL.GetItem(i), b = NL.GetItem(j);
        const float cst = c.Route(a, b);
        const std::string text = IntToStr(i) + "," + IntToStr(j) + "," + FloatToStrDecimals(cst, -1) + "," +
                                 FloatToStrDecimals(n.NW.DistanceBetweenNodes_raw(a, b), -1);
        if (geometry && cst > 0) {
          TFloatPointArrayEx line = n.NW.GetGISSectionRoute(c.ExtractRoute(b));
          w->AddObject(1, false, text);
          w->AddSection(1, line);
        } else {
          w->AddObject(0, false, text);
        }
      }
    w->Close();
  }
  state.counters["rows_per_s"] =
      benchmark::Counter(double(NL.Count() * (NL.Count() - 1)), benchmark::Counter::kIsIterationInvariantRate);
}

void OutArgs(benchmark::internal::Benchmark* b) {
  for (const int64_t nodes : {100'000, 1'000'000})
    for (const int64_t shp : {0, 1})
      for (const int64_t geometry : {0, 1}) b->Args({nodes, shp, geometry});
}
BENCHMARK(BM_RMatrixOut)->Apply(OutArgs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RMatrixOutDirect)->Apply(OutArgs)->Unit(benchmark::kMillisecond);

}  // namespace
