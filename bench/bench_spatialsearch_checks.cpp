// The geometric network checks over whole networks of 100k and 1M links,
// planar (metres) and in degrees: curved grids (about 100 m between nodes,
// 0 to 6 intermediate vertices) with 2 % of the links laid as straight
// 250 m strokes across them, which cross grid links and end near others.
// Vertices cached.
//
// Baselines, same data, coordinates taken as cartesian:
//  - FindOverpasses: a GEOS STRtree over the link linestrings (built outside
//    the timing, as the network's index is) and GEOSIntersects over every
//    pair with overlapping envelopes.
//  - FindNonConnectedNodes / FindNonConnected: a Boost.Geometry rtree
//    radius query per node (box, then distance), with the same topology
//    tests.
// Targets: within 2x of the baselines.
//
// Counters: "found" (lines or items), "peak MB" (largest rise of live heap
// bytes during one run, from the counting operator new below), "leak B"
// (live heap bytes after the last run, search object and results freed,
// minus before: 0 when nothing leaks), "bad
// percent" (items whose percent is NaN or outside [0, 1] and not a -1/-2
// marker). The 1M-link runs show that the checks end, leak nothing and give
// no NaN percent.
//
// Arguments: size (0: 100k, 1: 1M links), unit (0 planar, 1 degrees).
#include <benchmark/benchmark.h>
#include <geos_c.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <boost/geometry.hpp>
#include <boost/geometry/index/rtree.hpp>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "foundation/kovra_random.h"
#include "network/kovra_network.h"
#include "network/support/network_writer.h"
#include "search/kovra_spatialsearch.h"

// --- Live heap bytes ---------------------------------------------------------

namespace {
std::atomic<int64_t> gLive{0};
std::atomic<int64_t> gPeak{0};

void* Counted(size_t n) {
  void* p = std::malloc(n ? n : 1);
  if (!p) throw std::bad_alloc();
  const int64_t live = gLive.fetch_add(int64_t(malloc_usable_size(p))) + int64_t(malloc_usable_size(p));
  int64_t peak = gPeak.load();
  while (live > peak && !gPeak.compare_exchange_weak(peak, live)) {
  }
  return p;
}
void Uncounted(void* p) {
  if (!p) return;
  gLive.fetch_sub(int64_t(malloc_usable_size(p)));
  std::free(p);
}
}  // namespace

void* operator new(size_t n) { return Counted(n); }
void* operator new[](size_t n) { return Counted(n); }
void operator delete(void* p) noexcept { Uncounted(p); }
void operator delete[](void* p) noexcept { Uncounted(p); }
void operator delete(void* p, size_t) noexcept { Uncounted(p); }
void operator delete[](void* p, size_t) noexcept { Uncounted(p); }

using namespace kovra;
using namespace kovra::testsupport;
namespace bg = boost::geometry;
namespace bgi = boost::geometry::index;

namespace {

constexpr int64_t cSizes[] = {100'000, 1'000'000};

using TPoint = bg::model::point<double, 2, bg::cs::cartesian>;
using TBox = bg::model::box<TPoint>;
using TSegment = bg::model::segment<TPoint>;
using TSegmentTree = bgi::rtree<std::pair<TSegment, int32_t>, bgi::quadratic<16>>;
using TPointTree = bgi::rtree<std::pair<TPoint, int32_t>, bgi::quadratic<16>>;

class TBenchNetwork {
public:
  TBenchNetwork(int64_t Links, bool Degrees) : fDegrees(Degrees) {
    fDir = (std::filesystem::temp_directory_path() / ("kovra_bench_checks_" + std::to_string(getpid()) + "_" +
                                                      std::to_string(Links) + (Degrees ? "d" : "m")))
               .string();
    std::filesystem::create_directories(fDir);
    TTestNetworkWriter w;
    w.Unit = Degrees ? cuDeg : cuM;
    // About 108 m between nodes in degrees, a binary fraction so that the
    // grid's sums meet exactly in one node.
    const double unit = Degrees ? 1.0 / 1024 / 100 : 1;  // per metre
    TGridOptions g = GridForLinks(Links * 98 / 100, 6);
    g.Spacing = Degrees ? 1.0 / 1024 : 100;
    w.AddGrid(g);
    TRandom r;
    r.SetSeed(11);
    const double W = (g.Columns - 1) * g.Spacing, H = (g.Rows - 1) * g.Spacing;
    for (int64_t k = 0; k < Links / 50; ++k) {
      const TFloatPoint a{r.NextDouble() * W, r.NextDouble() * H};
      const double t = r.NextDouble() * 6.283185307179586;
      w.AddLink({a, {a.x + std::cos(t) * 250 * unit, a.y + std::sin(t) * 250 * unit}});
    }
    w.SpatialIndex = true;
    w.Write(fDir + "/");
    fNet = std::make_unique<TNetwork>();
    fNet->SetDirectory(fDir + "/");
    fNet->Open(false, true, true, 0);
  }
  ~TBenchNetwork() {
    fNet.reset();
    std::error_code ec;
    std::filesystem::remove_all(fDir, ec);
  }
  TNetwork& Net() const { return *fNet; }
  // km as the baseline's coordinate distance.
  double Units(double km) const { return km / fNet->DistFactor() * (fDegrees ? 57.29577951308232 : 1); }

private:
  bool fDegrees;
  std::string fDir;
  std::unique_ptr<TNetwork> fNet;
};

TBenchNetwork& Network(const benchmark::State& state) {
  static std::map<std::pair<int64_t, int64_t>, std::unique_ptr<TBenchNetwork>> nets;
  auto& n = nets[{state.range(0), state.range(1)}];
  if (!n) n = std::make_unique<TBenchNetwork>(cSizes[state.range(0)], state.range(1) != 0);
  return *n;
}

// Runs Body once per iteration and reports its findings and memory.
template <class TBody>
void Measure(benchmark::State& state, TBody&& Body) {
  int64_t found = 0, peak = 0, leak = 0;
  for (auto _ : state) {
    const int64_t before = gLive.load();
    gPeak.store(before);
    found = Body();
    peak = std::max(peak, gPeak.load() - before);
    leak = gLive.load() - before;
  }
  state.SetLabel(std::to_string(cSizes[state.range(0)] / 1000) + "k " + (state.range(1) ? "deg" : "m"));
  state.counters["found"] = double(found);
  state.counters["peak MB"] = double(peak) / 1e6;
  state.counters["leak B"] = double(leak);
}

constexpr double cRadiusKm = 0.03;

// --- The checks -----------------------------------------------------------------

void BM_FindOverpasses(benchmark::State& state) {
  TBenchNetwork& b = Network(state);
  int64_t bad = 0;
  Measure(state, [&] {
    TSpatialSearch s(b.Net());
    TLocationList LL;
    s.FindOverpasses(LL);
    for (int32_t i = 0; i < LL.Count(); ++i) {
      const double p = LL.GetItem(i).loc.percent;
      bad += !(p > 0 && p < 1);
    }
    return int64_t(LL.Count());
  });
  state.counters["bad percent"] = double(bad);
}

void BM_SplitAndSnap(benchmark::State& state) {
  TBenchNetwork& b = Network(state);
  int64_t bad = 0, snapped = 0;
  Measure(state, [&] {
    TSpatialSearch s(b.Net());
    TLocationList LL;
    snapped = s.SplitAndSnap(cRadiusKm, LL);
    for (int32_t i = 0; i < LL.Count(); ++i) {
      const double p = LL.GetItem(i).loc.percent;
      bad += !((p > 0 && p < 1) || p == -1 || p == -2);
    }
    return int64_t(LL.Count());
  });
  state.counters["bad percent"] = double(bad);
  state.counters["snapped"] = double(snapped);
}

void BM_FindNonConnectedNodes(benchmark::State& state) {
  TBenchNetwork& b = Network(state);
  Measure(state, [&] { return int64_t(TSpatialSearch(b.Net()).FindNonConnectedNodes("", gfArray, cRadiusKm)); });
}

void BM_FindNonConnected(benchmark::State& state) {
  TBenchNetwork& b = Network(state);
  Measure(state, [&] { return int64_t(TSpatialSearch(b.Net()).FindNonConnected("", gfArray, cRadiusKm)); });
}

// --- Baselines ----------------------------------------------------------------------

void BM_GeosOverpasses(benchmark::State& state) {
  TBenchNetwork& b = Network(state);
  const TNetwork& n = b.Net();
  GEOSContextHandle_t ctx = GEOS_init_r();
  std::vector<GEOSGeometry*> lines(size_t(n.LinkCount()) + 1, nullptr);
  GEOSSTRtree* tree = GEOSSTRtree_create_r(ctx, 10);
  TFloatPointArrayEx p;
  for (int32_t l = 1; l <= n.LinkCount(); ++l) {
    n.GetGISSection_raw(l, p);
    GEOSCoordSequence* cs = GEOSCoordSeq_create_r(ctx, uint32_t(p.Count), 2);
    for (int32_t i = 0; i < p.Count; ++i) GEOSCoordSeq_setXY_r(ctx, cs, uint32_t(i), p.Pnt[size_t(i)].x, p.Pnt[size_t(i)].y);
    lines[size_t(l)] = GEOSGeom_createLineString_r(ctx, cs);
    GEOSSTRtree_insert_r(ctx, tree, lines[size_t(l)], reinterpret_cast<void*>(intptr_t(l)));
  }
  // Builds the tree.
  GEOSSTRtree_query_r(ctx, tree, lines[1], [](void*, void*) {}, nullptr);
  struct TCtx {
    GEOSContextHandle_t ctx;
    const TNetwork* n;
    std::vector<GEOSGeometry*>* lines;
    int32_t a;
    int64_t found;
  } c{ctx, &n, &lines, 0, 0};
  Measure(state, [&] {
    c.found = 0;
    for (int32_t a = 1; a <= n.LinkCount(); ++a) {
      c.a = a;
      GEOSSTRtree_query_r(ctx, tree, lines[size_t(a)],
                          [](void* item, void* data) {
                            TCtx& c = *static_cast<TCtx*>(data);
                            const int32_t b = int32_t(intptr_t(item));
                            if (b <= c.a) return;
                            const int32_t fa = c.n->Fromnodes()[size_t(c.a)], ta = c.n->Tonodes()[size_t(c.a)];
                            const int32_t fb = c.n->Fromnodes()[size_t(b)], tb = c.n->Tonodes()[size_t(b)];
                            if (fa == fb || fa == tb || ta == fb || ta == tb) return;
                            c.found += GEOSIntersects_r(c.ctx, (*c.lines)[size_t(c.a)], (*c.lines)[size_t(b)]) == 1;
                          },
                          &c);
    }
    return 2 * c.found;
  });
  GEOSSTRtree_destroy_r(ctx, tree);
  for (GEOSGeometry* g : lines)
    if (g) GEOSGeom_destroy_r(ctx, g);
  GEOS_finish_r(ctx);
}

void BM_RtreeNonConnectedNodes(benchmark::State& state) {
  TBenchNetwork& b = Network(state);
  const TNetwork& n = b.Net();
  std::vector<std::pair<TPoint, int32_t>> nodes;
  for (int32_t k = 1; k <= n.NodeCount(); ++k) nodes.push_back({TPoint(n.X()[size_t(k)], n.Y()[size_t(k)]), k});
  const TPointTree tree(nodes.begin(), nodes.end());
  const double r = b.Units(cRadiusKm);
  std::vector<std::pair<TPoint, int32_t>> hit;
  Measure(state, [&] {
    int64_t found = 0;
    for (int32_t k = 1; k <= n.NodeCount(); ++k) {
      const TPoint P(n.X()[size_t(k)], n.Y()[size_t(k)]);
      hit.clear();
      tree.query(bgi::intersects(TBox(TPoint(P.get<0>() - r, P.get<1>() - r), TPoint(P.get<0>() + r, P.get<1>() + r))),
                 std::back_inserter(hit));
      for (const auto& h : hit)
        if (h.second > k && bg::distance(P, h.first) < r && !n.NodesConnected(k, h.second)) ++found;
    }
    return found;
  });
}

void BM_RtreeNonConnected(benchmark::State& state) {
  TBenchNetwork& b = Network(state);
  const TNetwork& n = b.Net();
  std::vector<std::pair<TSegment, int32_t>> segs;
  TFloatPointArrayEx p;
  for (int32_t l = 1; l <= n.LinkCount(); ++l) {
    n.GetGISSection_raw(l, p);
    for (int32_t i = 1; i < p.Count; ++i)
      segs.push_back({TSegment(TPoint(p.Pnt[size_t(i) - 1].x, p.Pnt[size_t(i) - 1].y),
                               TPoint(p.Pnt[size_t(i)].x, p.Pnt[size_t(i)].y)),
                      l});
  }
  const TSegmentTree tree(segs.begin(), segs.end());
  const double r = b.Units(cRadiusKm);
  std::vector<std::pair<TSegment, int32_t>> hit;
  std::vector<int32_t> links;
  Measure(state, [&] {
    int64_t found = 0;
    for (int32_t k = 1; k <= n.NodeCount(); ++k) {
      const TPoint P(n.X()[size_t(k)], n.Y()[size_t(k)]);
      hit.clear();
      links.clear();
      tree.query(bgi::intersects(TBox(TPoint(P.get<0>() - r, P.get<1>() - r), TPoint(P.get<0>() + r, P.get<1>() + r))),
                 std::back_inserter(hit));
      for (const auto& h : hit) {
        const int32_t L = h.second, f = n.Fromnodes()[size_t(L)], t = n.Tonodes()[size_t(L)];
        if (k == f || k == t || n.NodesConnected(k, f) || n.NodesConnected(k, t)) continue;
        if (bg::distance(P, h.first) < r) links.push_back(L);
      }
      std::sort(links.begin(), links.end());
      found += std::unique(links.begin(), links.end()) - links.begin();
    }
    return found;
  });
}

void Sizes(benchmark::internal::Benchmark* b) {
  for (int64_t size = 0; size < 2; ++size)
    for (int64_t unit = 0; unit < 2; ++unit) b->Args({size, unit});
  b->Unit(benchmark::kMillisecond)->Iterations(2);
}

BENCHMARK(BM_FindOverpasses)->Apply(Sizes);
BENCHMARK(BM_GeosOverpasses)->Apply(Sizes);
BENCHMARK(BM_FindNonConnectedNodes)->Apply(Sizes);
BENCHMARK(BM_RtreeNonConnectedNodes)->Apply(Sizes);
BENCHMARK(BM_FindNonConnected)->Apply(Sizes);
BENCHMARK(BM_RtreeNonConnected)->Apply(Sizes);
BENCHMARK(BM_SplitAndSnap)->Apply(Sizes);

}  // namespace
