// The spatial search in queries per second on curved grids of 10k, 100k and
// 1M links (0 to 6 intermediate vertices, about 100 m between nodes), planar
// (metres) and in degrees, intermediate vertices cached and read from the
// file: NearestNode, NearestLocation, NearestVertex, SelectLinksList and
// SelectNodesList at 0.1 and 1 km, NearestLink at 50 m.
//
// Baseline: Boost.Geometry rtrees bulk-loaded with the same nodes, segments
// and vertices: nearest(P, 1), and intersects(box) plus a distance filter for
// the selections. The rtree works in cartesian coordinates for both units
// (the degree network lies at the equator, where a degree box is nearly
// square); its per-query work is what the search's cached form is held to
// (target: within 1.5x).
//
// Arguments: size (0: 10k, 1: 100k, 2: 1M links), unit (0 planar, 1
// degrees), cached (0/1), and for the selections the radius in metres.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>

#include <boost/geometry.hpp>
#include <boost/geometry/index/rtree.hpp>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "foundation/kovra_random.h"
#include "network/kovra_network.h"
#include "network/support/network_writer.h"
#include "search/kovra_spatialsearch.h"

using namespace kovra;
using namespace kovra::testsupport;
namespace bg = boost::geometry;
namespace bgi = boost::geometry::index;

namespace {

constexpr int64_t cSizes[] = {10'000, 100'000, 1'000'000};
constexpr size_t cPoints = 1 << 16;

using TPoint = bg::model::point<double, 2, bg::cs::cartesian>;
using TBox = bg::model::box<TPoint>;
using TSegment = bg::model::segment<TPoint>;
using TSegmentTree = bgi::rtree<std::pair<TSegment, int32_t>, bgi::quadratic<16>>;
using TPointTree = bgi::rtree<std::pair<TPoint, int32_t>, bgi::quadratic<16>>;

// One written network with both opened forms and its rtrees; removed at exit.
class TBenchNetwork {
public:
  TBenchNetwork(int64_t Links, bool Degrees) : fDegrees(Degrees) {
    fDir = (std::filesystem::temp_directory_path() /
            ("kovra_bench_search_" + std::to_string(getpid()) + "_" + std::to_string(Links) + (Degrees ? "d" : "m")))
               .string();
    std::filesystem::create_directories(fDir);
    TTestNetworkWriter w;
    w.Unit = Degrees ? cuDeg : cuM;
    TGridOptions g = GridForLinks(Links, 6);
    g.Spacing = Degrees ? 0.0009 : 100;
    w.AddGrid(g);
    w.SpatialIndex = true;
    w.Write(fDir + "/");
    for (const bool cached : {false, true}) {
      auto& n = fNet[cached];
      n = std::make_unique<TNetwork>();
      n->SetDirectory(fDir + "/");
      n->Open(false, cached, true, 0);
    }
    const TNetwork& n = *fNet[true];
    std::vector<std::pair<TSegment, int32_t>> segs;
    std::vector<std::pair<TPoint, int32_t>> verts, nodes;
    TFloatPointArrayEx p;
    for (int32_t l = 1; l <= n.LinkCount(); ++l) {
      n.GetGISSection_raw(l, p);
      for (int32_t i = 0; i < p.Count; ++i) {
        verts.push_back({TPoint(p.Pnt[size_t(i)].x, p.Pnt[size_t(i)].y), l});
        if (i > 0)
          segs.push_back({TSegment(TPoint(p.Pnt[size_t(i) - 1].x, p.Pnt[size_t(i) - 1].y),
                                   TPoint(p.Pnt[size_t(i)].x, p.Pnt[size_t(i)].y)),
                          l});
      }
    }
    for (int32_t k = 1; k <= n.NodeCount(); ++k) {
      const TFloatPoint q = n.Node2Coordinate_raw(k);
      nodes.push_back({TPoint(q.x, q.y), k});
    }
    fSegments = std::make_unique<TSegmentTree>(segs.begin(), segs.end());
    fVertices = std::make_unique<TPointTree>(verts.begin(), verts.end());
    fNodes = std::make_unique<TPointTree>(nodes.begin(), nodes.end());
    TRandom r;
    r.SetSeed(42);
    const TFloatRect& m = n.MBR();
    for (size_t i = 0; i < cPoints; ++i)
      fPoints.push_back({m.xmin + r.NextDouble() * (m.xmax - m.xmin), m.ymin + r.NextDouble() * (m.ymax - m.ymin)});
  }
  ~TBenchNetwork() {
    fNet.clear();
    std::error_code ec;
    std::filesystem::remove_all(fDir, ec);
  }
  TNetwork& Net(bool cached) const { return *fNet.at(cached); }
  const TFloatPoint& Point(size_t i) const { return fPoints[i & (cPoints - 1)]; }
  // A radius in km as the rtree's coordinate distance.
  double Units(double km) const { return km / Net(true).DistFactor() * (fDegrees ? 57.29577951308232 : 1); }
  bool Degrees() const { return fDegrees; }
  const TSegmentTree& Segments() const { return *fSegments; }
  const TPointTree& Vertices() const { return *fVertices; }
  const TPointTree& Nodes() const { return *fNodes; }

private:
  bool fDegrees;
  std::string fDir;
  std::map<bool, std::unique_ptr<TNetwork>> fNet;
  std::unique_ptr<TSegmentTree> fSegments;
  std::unique_ptr<TPointTree> fVertices, fNodes;
  std::vector<TFloatPoint> fPoints;
};

TBenchNetwork& Network(const benchmark::State& state) {
  static std::map<std::pair<int64_t, int64_t>, std::unique_ptr<TBenchNetwork>> nets;
  auto& n = nets[{state.range(0), state.range(1)}];
  if (!n) n = std::make_unique<TBenchNetwork>(cSizes[state.range(0)], state.range(1) != 0);
  return *n;
}

void Label(benchmark::State& state, const char* extra = "") {
  state.SetLabel(std::to_string(cSizes[state.range(0)] / 1000) + "k " + (state.range(1) ? "deg" : "m") +
                 (state.range(2) ? " cached" : " file") + extra);
  state.SetItemsProcessed(state.iterations());
}

// --- The search ---------------------------------------------------------------

void BM_NearestNode(benchmark::State& state) {
  TBenchNetwork& b = Network(state);
  TSpatialSearch s(b.Net(state.range(2) != 0));
  size_t i = 0;
  int32_t node = 0;
  double d = 0;
  for (auto _ : state) {
    s.NearestNode(b.Point(i++), node, d);
    benchmark::DoNotOptimize(node);
  }
  Label(state);
}

void BM_NearestLocation(benchmark::State& state) {
  TBenchNetwork& b = Network(state);
  TSpatialSearch s(b.Net(state.range(2) != 0));
  size_t i = 0;
  TLocation loc{};
  int32_t side = 0;
  double d = 0;
  TFloatPoint F{};
  for (auto _ : state) {
    s.NearestLocation(b.Point(i++), loc, side, d, F);
    benchmark::DoNotOptimize(loc);
  }
  Label(state);
}

void BM_NearestVertex(benchmark::State& state) {
  TBenchNetwork& b = Network(state);
  TSpatialSearch s(b.Net(state.range(2) != 0));
  size_t i = 0;
  int32_t link = 0, index = 0;
  double d = 0;
  for (auto _ : state) {
    s.NearestVertex(b.Point(i++), link, index, d);
    benchmark::DoNotOptimize(link);
  }
  Label(state);
}

void BM_SelectLinks(benchmark::State& state) {
  TBenchNetwork& b = Network(state);
  TSpatialSearch s(b.Net(state.range(2) != 0));
  const double km = double(state.range(3)) / 1000;
  TIntegerList L;
  size_t i = 0, found = 0;
  for (auto _ : state) {
    s.SelectLinksList(b.Point(i++), km, L);
    found += size_t(L.Count());
  }
  Label(state, state.range(3) == 100 ? " 0.1 km" : " 1 km");
  state.counters["per query"] = double(found) / double(state.iterations());
}

void BM_SelectNodes(benchmark::State& state) {
  TBenchNetwork& b = Network(state);
  TSpatialSearch s(b.Net(state.range(2) != 0));
  const double km = double(state.range(3)) / 1000;
  TIntegerList L;
  size_t i = 0, found = 0;
  for (auto _ : state) {
    s.SelectNodesList(b.Point(i++), km, L);
    found += size_t(L.Count());
  }
  Label(state, state.range(3) == 100 ? " 0.1 km" : " 1 km");
  state.counters["per query"] = double(found) / double(state.iterations());
}

void BM_NearestLink(benchmark::State& state) {
  TBenchNetwork& b = Network(state);
  TSpatialSearch s(b.Net(state.range(2) != 0));
  size_t i = 0, found = 0;
  for (auto _ : state) {
    found += size_t(s.NearestLink(b.Point(i), double(i % 360), 0.05)->Count());
    ++i;
  }
  Label(state, " 50 m");
  state.counters["per query"] = double(found) / double(state.iterations());
}

// --- The rtree baseline (the cached argument is ignored) -----------------------

// The rtree's own nearest query on one of the trees, for every query point in turn.
template <class TTree>
void RtreeNearest(benchmark::State& state, const TTree& (TBenchNetwork::*Tree)() const) {
  TBenchNetwork& b = Network(state);
  const TTree& tree = (b.*Tree)();
  std::vector<typename TTree::value_type> hit;
  size_t i = 0;
  for (auto _ : state) {
    const TFloatPoint& p = b.Point(i++);
    hit.clear();
    tree.query(bgi::nearest(TPoint(p.x, p.y), 1), std::back_inserter(hit));
    benchmark::DoNotOptimize(hit.data());
  }
  Label(state);
}

void BM_RtreeNearestNode(benchmark::State& state) { RtreeNearest(state, &TBenchNetwork::Nodes); }
void BM_RtreeNearestSegment(benchmark::State& state) { RtreeNearest(state, &TBenchNetwork::Segments); }
void BM_RtreeNearestVertex(benchmark::State& state) { RtreeNearest(state, &TBenchNetwork::Vertices); }

void BM_RtreeSelectLinks(benchmark::State& state) {
  TBenchNetwork& b = Network(state);
  const double r = b.Units(double(state.range(3)) / 1000);
  std::vector<std::pair<TSegment, int32_t>> hit;
  std::vector<int32_t> links;
  size_t i = 0, found = 0;
  for (auto _ : state) {
    const TFloatPoint& p = b.Point(i++);
    const TPoint P(p.x, p.y);
    hit.clear();
    links.clear();
    b.Segments().query(bgi::intersects(TBox(TPoint(p.x - r, p.y - r), TPoint(p.x + r, p.y + r))),
                       std::back_inserter(hit));
    for (const auto& h : hit)
      if (bg::distance(P, h.first) < r) links.push_back(h.second);
    std::sort(links.begin(), links.end());
    found += size_t(std::unique(links.begin(), links.end()) - links.begin());
  }
  Label(state, state.range(3) == 100 ? " 0.1 km" : " 1 km");
  state.counters["per query"] = double(found) / double(state.iterations());
}

void BM_RtreeSelectNodes(benchmark::State& state) {
  TBenchNetwork& b = Network(state);
  const double r = b.Units(double(state.range(3)) / 1000);
  std::vector<std::pair<TPoint, int32_t>> hit;
  std::vector<int32_t> nodes;
  size_t i = 0, found = 0;
  for (auto _ : state) {
    const TFloatPoint& p = b.Point(i++);
    const TPoint P(p.x, p.y);
    hit.clear();
    nodes.clear();
    b.Nodes().query(bgi::intersects(TBox(TPoint(p.x - r, p.y - r), TPoint(p.x + r, p.y + r))),
                    std::back_inserter(hit));
    for (const auto& h : hit)
      if (bg::distance(P, h.first) < r) nodes.push_back(h.second);
    std::sort(nodes.begin(), nodes.end());
    found += nodes.size();
  }
  Label(state, state.range(3) == 100 ? " 0.1 km" : " 1 km");
  state.counters["per query"] = double(found) / double(state.iterations());
}

void Nearest(benchmark::internal::Benchmark* b) {
  for (int64_t size = 0; size < 3; ++size)
    for (int64_t unit = 0; unit < 2; ++unit)
      for (int64_t cached = 1; cached >= 0; --cached) b->Args({size, unit, cached});
}
void Radii(benchmark::internal::Benchmark* b) {
  for (int64_t size = 0; size < 3; ++size)
    for (int64_t unit = 0; unit < 2; ++unit)
      for (int64_t cached = 1; cached >= 0; --cached)
        for (int64_t metres : {100, 1000}) b->Args({size, unit, cached, metres});
}
void Baseline(benchmark::internal::Benchmark* b) {
  for (int64_t size = 0; size < 3; ++size)
    for (int64_t unit = 0; unit < 2; ++unit) b->Args({size, unit, 1});
}
void BaselineRadii(benchmark::internal::Benchmark* b) {
  for (int64_t size = 0; size < 3; ++size)
    for (int64_t unit = 0; unit < 2; ++unit)
      for (int64_t metres : {100, 1000}) b->Args({size, unit, 1, metres});
}

BENCHMARK(BM_NearestNode)->Apply(Nearest);
BENCHMARK(BM_RtreeNearestNode)->Apply(Baseline);
BENCHMARK(BM_NearestLocation)->Apply(Nearest);
BENCHMARK(BM_RtreeNearestSegment)->Apply(Baseline);
BENCHMARK(BM_NearestVertex)->Apply(Nearest);
BENCHMARK(BM_RtreeNearestVertex)->Apply(Baseline);
BENCHMARK(BM_SelectLinks)->Apply(Radii);
BENCHMARK(BM_RtreeSelectLinks)->Apply(BaselineRadii);
BENCHMARK(BM_SelectNodes)->Apply(Radii);
BENCHMARK(BM_RtreeSelectNodes)->Apply(BaselineRadii);
BENCHMARK(BM_NearestLink)->Apply(Nearest);

}  // namespace
