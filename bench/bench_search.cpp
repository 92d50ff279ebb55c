// The spatial search in queries per second against a Boost.Geometry rtree on
// the same data: NearestNode, NearestLocation, NearestVertex, SelectLinks and
// SelectNodes at 0.1 and 1 km, NearestLink at 50 m, on generated road
// networks of 10k, 100k and 1M grid nodes, planar (metres) and in degrees
// (48 degrees north), intermediate vertices cached and read from the file.
//
// The networks come from the routing tests' generator and are kept under
// <build>/bench-networks/ (or $KOVRA_BENCH_NETWORKS), one folder per seed,
// size and unit, with the options they were made with; a folder whose
// options or files do not match is generated again. Generation is never
// timed.
//
// Baseline: rtrees bulk-loaded with the network's nodes, polyline vertices
// and segments; nearest(P, 1), and intersects(box) plus a distance filter
// for the selections. Planar networks use cartesian rtrees; degree networks
// spherical ones (Boost's haversine and cross-track distances), so that both
// answer the same question. Before its timing each query benchmark checks,
// untimed, every query point against the rtree: the same node, link, vertex
// or set, or (nearest searches) an item at the same distance, a tie that the
// walk order decides. A disagreement stops that benchmark with a message.
//
// KOVRA_BENCH_CHECK_ONLY=1 runs the checks alone: each makes cPoints queries
// of the search and of the rtree, which callgrind can count per query.
//
// Arguments: size (0: 10k, 1: 100k, 2: 1M nodes), unit (0 planar, 1
// degrees), cached (0/1; for the rtrees 1, and 0 for plane rtrees on a degree
// network, timed only: they measure degrees as if flat, the cheapest
// baseline though not the same question), and for the selections the radius
// in metres.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <boost/geometry.hpp>
#include <boost/geometry/index/rtree.hpp>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "foundation/kovra_random.h"
#include "network/kovra_network.h"
#include "search/kovra_spatialsearch.h"

#include "bench_netcache.h"

using namespace kovra;
using namespace kovra::benchsupport;
namespace bg = boost::geometry;
namespace bgi = boost::geometry::index;

namespace {

constexpr int32_t cNodes[] = {10'000, 100'000, 1'000'000};
constexpr uint64_t cSeed = 38;
constexpr size_t cPoints = 1 << 14;  // query points per network, all checked

// --- Rtrees -------------------------------------------------------------------

using TVertexId = std::pair<int32_t, int32_t>;  // link, 0-based vertex index

template <class TCS>
struct TTrees {
  using TPt = bg::model::point<double, 2, TCS>;
  using TBox = bg::model::box<TPt>;
  using TSeg = bg::model::segment<TPt>;
  bgi::rtree<std::pair<TPt, int32_t>, bgi::quadratic<16>> Nodes;
  bgi::rtree<std::pair<TPt, TVertexId>, bgi::quadratic<16>> Vertices;
  bgi::rtree<std::pair<TSeg, int32_t>, bgi::quadratic<16>> Segments;

  static TPt Pt(const TFloatPoint& p) { return TPt(p.x, p.y); }

  explicit TTrees(const TNetwork& n) {
    std::vector<std::pair<TSeg, int32_t>> segs;
    std::vector<std::pair<TPt, TVertexId>> verts;
    std::vector<std::pair<TPt, int32_t>> nodes;
    TFloatPointArrayEx p;
    for (int32_t l = 1; l <= n.LinkCount(); ++l) {
      n.GetGISSection_raw(l, p);
      for (int32_t i = 0; i < p.Count; ++i) {
        verts.push_back({Pt(p.Pnt[size_t(i)]), {l, i}});
        if (i > 0) segs.push_back({TSeg(Pt(p.Pnt[size_t(i) - 1]), Pt(p.Pnt[size_t(i)])), l});
      }
    }
    for (int32_t k = 1; k <= n.NodeCount(); ++k) nodes.push_back({Pt(n.Node2Coordinate_raw(k)), k});
    Segments = decltype(Segments)(segs.begin(), segs.end());
    Vertices = decltype(Vertices)(verts.begin(), verts.end());
    Nodes = decltype(Nodes)(nodes.begin(), nodes.end());
  }
};

using TPlanarTrees = TTrees<bg::cs::cartesian>;
using TSphereTrees = TTrees<bg::cs::spherical_equatorial<bg::degree>>;

// One generated network with both opened forms, its rtrees and query points.
class TBenchNetwork {
public:
  TBenchNetwork(int32_t Nodes, bool Degrees) : fDegrees(Degrees), fFile(CachedOptions(cSeed, Nodes, Degrees)) {
    fCached.SetDirectory(fFile.Directory);
    fCached.Open(true, true, true, 0);
    const TNetwork& n = fCached;
    // Degree networks get plane rtrees too: they answer another question
    // (distances in degrees as if flat), timed only, as the cheapest baseline.
    fPlanar = std::make_unique<TPlanarTrees>(n);
    if (Degrees) fSphere = std::make_unique<TSphereTrees>(n);
    TRandom r;
    r.SetSeed(42);
    const TFloatRect& m = n.MBR();
    for (size_t i = 0; i < cPoints; ++i)
      fPoints.push_back({m.xmin + r.NextDouble() * (m.xmax - m.xmin), m.ymin + r.NextDouble() * (m.ymax - m.ymin)});
  }
  TNetwork& Net(bool cached) { return cached ? fCached : fFile.NW; }
  const TNetwork& Net(bool cached) const { return cached ? fCached : fFile.NW; }
  const TFloatPoint& Point(size_t i) const { return fPoints[i & (cPoints - 1)]; }
  bool Degrees() const { return fDegrees; }
  const TPlanarTrees& Planar() const { return *fPlanar; }
  const TSphereTrees& Sphere() const { return *fSphere; }

private:
  bool fDegrees;
  // Vertices read from the file, and cached.
  TBenchCachedNetwork fFile;
  TNetwork fCached;
  std::unique_ptr<TPlanarTrees> fPlanar;
  std::unique_ptr<TSphereTrees> fSphere;
  std::vector<TFloatPoint> fPoints;
};

TBenchNetwork& Network(const benchmark::State& state) {
  static std::map<int64_t, std::unique_ptr<TBenchNetwork>> nets;
  auto& n = nets[state.range(0) * 2 + state.range(1)];
  if (!n) n = std::make_unique<TBenchNetwork>(cNodes[state.range(0)], state.range(1) != 0);
  return *n;
}

std::string SizeText(const benchmark::State& state) {
  return std::to_string(cNodes[state.range(0)] / 1000) + "k " + (state.range(1) ? "deg" : "m");
}

// km as the rtree's distance: metres for planar networks, radians on the sphere.
double RtreeUnits(const TNetwork& n, double km) { return km / n.DistFactor(); }

// The search box of radius r (rtree units) around P, as the search builds it.
template <class TBox>
TBox RtreeBox(const TFloatPoint& P, double r, bool Degrees) {
  if (!Degrees) return TBox({P.x - r, P.y - r}, {P.x + r, P.y + r});
  const double rd = r * 57.29577951308232;
  const double c = std::cos(std::max(std::fabs(P.y - rd), std::fabs(P.y + rd)) / 57.29577951308232);
  const double half = rd / c;
  return TBox({P.x - half, P.y - rd}, {P.x + half, P.y + rd});
}

// --- What the rtree answers, per query -----------------------------------------

// Distances are in rtree units (metres, or radians on the sphere).
template <class TT>
std::pair<int32_t, double> RtreeNearestNode(const TT& t, const TFloatPoint& P) {
  std::vector<std::pair<typename TT::TPt, int32_t>> hit;
  t.Nodes.query(bgi::nearest(TT::Pt(P), 1), std::back_inserter(hit));
  return {hit.at(0).second, bg::distance(TT::Pt(P), hit[0].first)};
}

template <class TT>
std::pair<int32_t, double> RtreeNearestSegment(const TT& t, const TFloatPoint& P) {
  std::vector<std::pair<typename TT::TSeg, int32_t>> hit;
  t.Segments.query(bgi::nearest(TT::Pt(P), 1), std::back_inserter(hit));
  return {hit.at(0).second, bg::distance(TT::Pt(P), hit[0].first)};
}

template <class TT>
std::pair<TVertexId, double> RtreeNearestVertex(const TT& t, const TFloatPoint& P) {
  std::vector<std::pair<typename TT::TPt, TVertexId>> hit;
  t.Vertices.query(bgi::nearest(TT::Pt(P), 1), std::back_inserter(hit));
  return {hit.at(0).second, bg::distance(TT::Pt(P), hit[0].first)};
}

// Links with a segment strictly within r, ascending, each once.
template <class TT>
void RtreeSelectLinks(const TT& t, const TFloatPoint& P, double r, bool Degrees,
                      std::vector<std::pair<typename TT::TSeg, int32_t>>& hit, std::vector<int32_t>& links) {
  hit.clear();
  links.clear();
  t.Segments.query(bgi::intersects(RtreeBox<typename TT::TBox>(P, r, Degrees)), std::back_inserter(hit));
  const auto Q = TT::Pt(P);
  for (const auto& h : hit)
    if (bg::distance(Q, h.first) < r) links.push_back(h.second);
  std::sort(links.begin(), links.end());
  links.erase(std::unique(links.begin(), links.end()), links.end());
}

template <class TT>
void RtreeSelectNodes(const TT& t, const TFloatPoint& P, double r, bool Degrees,
                      std::vector<std::pair<typename TT::TPt, int32_t>>& hit, std::vector<int32_t>& nodes) {
  hit.clear();
  nodes.clear();
  t.Nodes.query(bgi::intersects(RtreeBox<typename TT::TBox>(P, r, Degrees)), std::back_inserter(hit));
  const auto Q = TT::Pt(P);
  for (const auto& h : hit)
    if (bg::distance(Q, h.first) < r) nodes.push_back(h.second);
  std::sort(nodes.begin(), nodes.end());
}

// --- The untimed check against the rtree -----------------------------------------

// Two distances of one query agree when they differ by no more than the
// kernels' rounding. The angular segment kernel applies the cosine law to
// sides of some 1e-5 radians, whose cosines differ from 1 by about 1e-10:
// near a segment its angle comes out to about 1e-3 radians, which puts the
// distance off by up to some centimetres on these 100 m segments (3e-8
// radians are 19 cm). The planar kernel's cross product of coordinates of
// some 5e6 m cancels to about 1e-5 m.
double gMaxDeviation = 0;  // the largest relative difference seen, for the record
bool Same(double a, double b, bool Degrees) {
  const double m = std::max(std::fabs(a), std::fabs(b));
  if (m > 0) gMaxDeviation = std::max(gMaxDeviation, std::fabs(a - b) / m);
  const double tol = (Degrees ? 1e-6 : 1e-9) * m + (Degrees ? 3e-8 : 1e-4);
  return std::fabs(a - b) <= tol;
}

std::string Km(double d) {
  std::ostringstream s;
  s.precision(17);
  s << d;
  return s.str();
}

size_t gCheckStep = 1;  // the check's stride through the query points

struct TCheck {
  std::string Error;
  int32_t Ties = 0;  // queries answered by another item at the same distance
  double Deviation = 0;  // the largest relative difference of two distances
  void Fail(const std::string& Query, size_t i, const TFloatPoint& P, const std::string& What) {
    if (!Error.empty()) return;
    std::ostringstream s;
    s.precision(17);
    s << Query << " differs from the rtree at query " << i << " (" << P.x << ", " << P.y << "): " << What;
    Error = s.str();
  }
};

// The check runs once per benchmark and argument set; Google Benchmark calls
// a benchmark function several times.
template <class TFn>
bool CheckOnce(benchmark::State& state, const std::string& Name, TFn&& Run) {
  static std::map<std::string, TCheck> done;
  std::string key = Name;
  for (int i = 0; i < 4; ++i) key += "/" + std::to_string(state.range(i));
  auto it = done.find(key);
  if (it == done.end()) {
    gMaxDeviation = 0;
    // Polylines read from the file make a query a hundred times dearer:
    // every 16th point then.
    gCheckStep = state.range(2) != 0 ? 1 : 16;
    it = done.emplace(key, Run()).first;
    it->second.Deviation = gMaxDeviation;
  }
  if (!it->second.Error.empty()) {
    state.SkipWithError(it->second.Error.c_str());
    return false;
  }
  // KOVRA_BENCH_CHECK_ONLY: the check's cPoints queries and nothing timed,
  // so that an instruction count (callgrind) divides by a known number.
  static const bool checkOnly = std::getenv("KOVRA_BENCH_CHECK_ONLY") != nullptr;
  if (checkOnly) {
    for (auto _ : state) {
    }
    return false;
  }
  state.counters["ties"] = it->second.Ties;
  state.counters["deviation"] = it->second.Deviation;
  return true;
}

// The smallest rtree-metric distance from P to link's polyline.
template <class TT>
double LinkDistance(const TNetwork& n, int32_t link, const TFloatPoint& P) {
  TFloatPointArrayEx p;
  n.GetGISSection_raw(link, p);
  double d = std::numeric_limits<double>::infinity();
  for (int32_t i = 1; i < p.Count; ++i)
    d = std::min(d, double(bg::distance(TT::Pt(P), typename TT::TSeg(TT::Pt(p.Pnt[size_t(i) - 1]), TT::Pt(p.Pnt[size_t(i)])))));
  return d;
}

template <class TT>
TCheck CheckNearestNode(const TBenchNetwork& b, const TT& t, TSpatialSearch& s) {
  TCheck c;
  const TNetwork& n = b.Net(true);
  for (size_t i = 0; i < cPoints && c.Error.empty(); i += gCheckStep) {
    const TFloatPoint& P = b.Point(i);
    int32_t node = 0;
    double d = 0;
    s.NearestNode(P, node, d);
    const auto [rn, rd] = RtreeNearestNode(t, P);
    const double ours = bg::distance(TT::Pt(P), TT::Pt(n.Node2Coordinate_raw(node)));
    if (!Same(ours, rd, b.Degrees()))
      c.Fail("NearestNode", i, P, "node " + std::to_string(node) + " against " + std::to_string(rn));
    else if (!Same(RtreeUnits(n, d), rd, b.Degrees()))
      c.Fail("NearestNode", i, P, "distance " + Km(d) + " km against " + Km(rd * n.DistFactor()) + " km");
    else if (node != rn)
      ++c.Ties;
  }
  return c;
}

template <class TT>
TCheck CheckNearestLocation(const TBenchNetwork& b, const TT& t, TSpatialSearch& s) {
  TCheck c;
  const TNetwork& n = b.Net(true);
  for (size_t i = 0; i < cPoints && c.Error.empty(); i += gCheckStep) {
    const TFloatPoint& P = b.Point(i);
    TLocation loc{};
    int32_t side = 0;
    double d = 0;
    TFloatPoint F{};
    s.NearestLocation(P, loc, side, d, F);
    const auto [rl, rd] = RtreeNearestSegment(t, P);
    if (!Same(LinkDistance<TT>(n, loc.link, P), rd, b.Degrees()))
      c.Fail("NearestLocation", i, P, "link " + std::to_string(loc.link) + " against " + std::to_string(rl));
    else if (!Same(RtreeUnits(n, d), rd, b.Degrees()))
      c.Fail("NearestLocation", i, P, "distance " + Km(d) + " km against " + Km(rd * n.DistFactor()) + " km");
    else if (loc.link != rl)
      ++c.Ties;
  }
  return c;
}

template <class TT>
TCheck CheckNearestVertex(const TBenchNetwork& b, const TT& t, TSpatialSearch& s) {
  TCheck c;
  const TNetwork& n = b.Net(true);
  TFloatPointArrayEx p;
  for (size_t i = 0; i < cPoints && c.Error.empty(); i += gCheckStep) {
    const TFloatPoint& P = b.Point(i);
    int32_t link = 0, index = 0;
    double d = 0;
    s.NearestVertex(P, link, index, d);
    const auto [rv, rd] = RtreeNearestVertex(t, P);
    n.GetGISSection_raw(link, p);
    const double ours = bg::distance(TT::Pt(P), TT::Pt(p.Pnt.at(size_t(index))));
    if (!Same(ours, rd, b.Degrees()))
      c.Fail("NearestVertex", i, P,
             "vertex " + std::to_string(link) + ":" + std::to_string(index) + " against " +
                 std::to_string(rv.first) + ":" + std::to_string(rv.second));
    else if (!Same(RtreeUnits(n, d), rd, b.Degrees()))
      c.Fail("NearestVertex", i, P, "distance " + Km(d) + " km against " + Km(rd * n.DistFactor()) + " km");
    else if (TVertexId{link, index} != rv)
      ++c.Ties;
  }
  return c;
}

// Sets must be equal but for items whose rtree distance lies at the radius
// within the kernels' rounding.
template <class TDist>
bool SameSet(const std::vector<int32_t>& ours, const std::vector<int32_t>& theirs, double r, bool Degrees,
             TDist&& Distance, std::string& What) {
  std::vector<int32_t> diff;
  std::set_symmetric_difference(ours.begin(), ours.end(), theirs.begin(), theirs.end(), std::back_inserter(diff));
  for (const int32_t k : diff)
    if (!Same(Distance(k), r, Degrees)) {
      std::ostringstream w;
      w.precision(17);
      w << "item " << k << (std::binary_search(ours.begin(), ours.end(), k) ? " only ours" : " only the rtree's")
        << " at " << Distance(k) << " against the radius " << r;
      What = w.str();
      return false;
    }
  return true;
}

template <class TT>
TCheck CheckSelectLinks(const TBenchNetwork& b, const TT& t, TSpatialSearch& s, double km) {
  TCheck c;
  const TNetwork& n = b.Net(true);
  const double r = RtreeUnits(n, km);
  TIntegerList L;
  std::vector<std::pair<typename TT::TSeg, int32_t>> hit;
  std::vector<int32_t> ours, theirs;
  std::string what;
  for (size_t i = 0; i < cPoints && c.Error.empty(); i += gCheckStep) {
    const TFloatPoint& P = b.Point(i);
    s.SelectLinksList(P, km, L);
    ours.clear();
    for (int32_t k = 0; k < L.Count(); ++k) ours.push_back(L.GetItem(k));
    RtreeSelectLinks(t, P, r, b.Degrees(), hit, theirs);
    if (!SameSet(ours, theirs, r, b.Degrees(), [&](int32_t l) { return LinkDistance<TT>(n, l, P); }, what))
      c.Fail("SelectLinks", i, P, what);
  }
  return c;
}

template <class TT>
TCheck CheckSelectNodes(const TBenchNetwork& b, const TT& t, TSpatialSearch& s, double km) {
  TCheck c;
  const TNetwork& n = b.Net(true);
  const double r = RtreeUnits(n, km);
  TIntegerList L;
  std::vector<std::pair<typename TT::TPt, int32_t>> hit;
  std::vector<int32_t> ours, theirs;
  std::string what;
  for (size_t i = 0; i < cPoints && c.Error.empty(); i += gCheckStep) {
    const TFloatPoint& P = b.Point(i);
    s.SelectNodesList(P, km, L);
    ours.clear();
    for (int32_t k = 0; k < L.Count(); ++k) ours.push_back(L.GetItem(k));
    RtreeSelectNodes(t, P, r, b.Degrees(), hit, theirs);
    auto dist = [&](int32_t k) { return double(bg::distance(TT::Pt(P), TT::Pt(n.Node2Coordinate_raw(k)))); };
    if (!SameSet(ours, theirs, r, b.Degrees(), dist, what)) c.Fail("SelectNodes", i, P, what);
  }
  return c;
}

// The GPS candidates' links are the links within the radius that are not
// closed both ways, each with two candidates.
template <class TT>
TCheck CheckNearestLink(const TBenchNetwork& b, const TT& t, TSpatialSearch& s, double km) {
  TCheck c;
  const TNetwork& n = b.Net(true);
  const double r = RtreeUnits(n, km);
  std::vector<std::pair<typename TT::TSeg, int32_t>> hit;
  std::vector<int32_t> ours, theirs;
  std::string what;
  for (size_t i = 0; i < cPoints && c.Error.empty(); i += gCheckStep) {
    const TFloatPoint& P = b.Point(i);
    const auto list = s.NearestLink(P, double(i % 360), km);
    ours.clear();
    for (int32_t k = 0; k < list->Count(); ++k) ours.push_back(list->GetItem(k).Loc.link);
    std::sort(ours.begin(), ours.end());
    const size_t candidates = ours.size();
    ours.erase(std::unique(ours.begin(), ours.end()), ours.end());
    if (candidates != 2 * ours.size()) {
      c.Fail("NearestLink", i, P, "a link without its two candidates");
      break;
    }
    RtreeSelectLinks(t, P, r, b.Degrees(), hit, theirs);
    std::erase_if(theirs, [&](int32_t l) { return n.OneWayCode(l) == 3; });
    if (!SameSet(ours, theirs, r, b.Degrees(), [&](int32_t l) { return LinkDistance<TT>(n, l, P); }, what))
      c.Fail("NearestLink", i, P, what);
  }
  return c;
}

// Runs Fn with the network's rtrees of the right coordinate system.
template <class TFn>
auto WithTrees(const TBenchNetwork& b, TFn&& Fn) {
  return b.Degrees() ? Fn(b.Sphere()) : Fn(b.Planar());
}

// The rtree benchmarks' trees: argument 2 is 1 for the trees that answer as
// the search does, 0 for the plane trees of a degree network.
template <class TFn>
auto WithTimedTrees(const benchmark::State& state, const TBenchNetwork& b, TFn&& Fn) {
  return state.range(2) != 0 ? WithTrees(b, Fn) : Fn(b.Planar());
}

// --- The search ---------------------------------------------------------------

void Label(benchmark::State& state, const std::string& extra = "") {
  state.SetLabel(SizeText(state) + (state.range(2) ? " cached" : " file") + extra);
  state.SetItemsProcessed(state.iterations());
}

std::string RadiusText(int64_t metres) { return metres == 100 ? " 0.1 km" : metres == 1000 ? " 1 km" : " 50 m"; }

void BM_NearestNode(benchmark::State& state) {
  TBenchNetwork& b = Network(state);
  TSpatialSearch s(b.Net(state.range(2) != 0));
  if (!CheckOnce(state, "NearestNode", [&] { return WithTrees(b, [&](const auto& t) { return CheckNearestNode(b, t, s); }); }))
    return;
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
  if (!CheckOnce(state, "NearestLocation",
                 [&] { return WithTrees(b, [&](const auto& t) { return CheckNearestLocation(b, t, s); }); }))
    return;
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
  if (!CheckOnce(state, "NearestVertex",
                 [&] { return WithTrees(b, [&](const auto& t) { return CheckNearestVertex(b, t, s); }); }))
    return;
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
  if (!CheckOnce(state, "SelectLinks",
                 [&] { return WithTrees(b, [&](const auto& t) { return CheckSelectLinks(b, t, s, km); }); }))
    return;
  TIntegerList L;
  size_t i = 0, found = 0;
  for (auto _ : state) {
    s.SelectLinksList(b.Point(i++), km, L);
    found += size_t(L.Count());
  }
  Label(state, RadiusText(state.range(3)));
  state.counters["per query"] = double(found) / double(state.iterations());
}

void BM_SelectNodes(benchmark::State& state) {
  TBenchNetwork& b = Network(state);
  TSpatialSearch s(b.Net(state.range(2) != 0));
  const double km = double(state.range(3)) / 1000;
  if (!CheckOnce(state, "SelectNodes",
                 [&] { return WithTrees(b, [&](const auto& t) { return CheckSelectNodes(b, t, s, km); }); }))
    return;
  TIntegerList L;
  size_t i = 0, found = 0;
  for (auto _ : state) {
    s.SelectNodesList(b.Point(i++), km, L);
    found += size_t(L.Count());
  }
  Label(state, RadiusText(state.range(3)));
  state.counters["per query"] = double(found) / double(state.iterations());
}

void BM_NearestLink(benchmark::State& state) {
  TBenchNetwork& b = Network(state);
  TSpatialSearch s(b.Net(state.range(2) != 0));
  const double km = double(state.range(3)) / 1000;
  if (!CheckOnce(state, "NearestLink",
                 [&] { return WithTrees(b, [&](const auto& t) { return CheckNearestLink(b, t, s, km); }); }))
    return;
  size_t i = 0, found = 0;
  for (auto _ : state) {
    found += size_t(s.NearestLink(b.Point(i), double(i % 360), km)->Count());
    ++i;
  }
  Label(state, RadiusText(state.range(3)));
  state.counters["per query"] = double(found) / double(state.iterations());
}

// --- The rtree baseline -----------------------------------------------------------

template <class TT>
bool Spherical(const TT&) {
  return std::is_same_v<TT, TSphereTrees>;
}

// The radius in the trees' distance: the plane trees of a degree network
// measure in degrees.
template <class TT>
double TreeRadius(const TBenchNetwork& b, const TT& t, double km) {
  const double r = RtreeUnits(b.Net(true), km);
  return b.Degrees() && !Spherical(t) ? r * 57.29577951308232 : r;
}

void RtreeLabel(benchmark::State& state, const std::string& extra = "") {
  state.SetLabel(SizeText(state) + (state.range(2) ? " rtree" : " plane rtree") + extra);
  state.SetItemsProcessed(state.iterations());
}

template <class TTreeOf>
void RtreeNearest(benchmark::State& state, TTreeOf&& TreeOf) {
  TBenchNetwork& b = Network(state);
  WithTimedTrees(state, b, [&](const auto& t) {
    using TT = std::decay_t<decltype(t)>;
    const auto& tree = TreeOf(t);
    std::vector<typename std::decay_t<decltype(tree)>::value_type> hit;
    size_t i = 0;
    for (auto _ : state) {
      hit.clear();
      tree.query(bgi::nearest(TT::Pt(b.Point(i++)), 1), std::back_inserter(hit));
      benchmark::DoNotOptimize(hit.data());
    }
    return 0;
  });
  RtreeLabel(state);
}

void BM_RtreeNearestNode(benchmark::State& state) {
  RtreeNearest(state, [](const auto& t) -> const auto& { return t.Nodes; });
}
void BM_RtreeNearestSegment(benchmark::State& state) {
  RtreeNearest(state, [](const auto& t) -> const auto& { return t.Segments; });
}
void BM_RtreeNearestVertex(benchmark::State& state) {
  RtreeNearest(state, [](const auto& t) -> const auto& { return t.Vertices; });
}

void BM_RtreeSelectLinks(benchmark::State& state) {
  TBenchNetwork& b = Network(state);
  const double km = double(state.range(3)) / 1000;
  size_t found = 0;
  WithTimedTrees(state, b, [&](const auto& t) {
    std::vector<std::pair<typename std::decay_t<decltype(t)>::TSeg, int32_t>> hit;
    std::vector<int32_t> links;
    const double r = TreeRadius(b, t, km);
    size_t i = 0;
    for (auto _ : state) {
      RtreeSelectLinks(t, b.Point(i++), r, Spherical(t), hit, links);
      found += links.size();
    }
    return 0;
  });
  RtreeLabel(state, RadiusText(state.range(3)));
  state.counters["per query"] = double(found) / double(state.iterations());
}

void BM_RtreeSelectNodes(benchmark::State& state) {
  TBenchNetwork& b = Network(state);
  const double km = double(state.range(3)) / 1000;
  size_t found = 0;
  WithTimedTrees(state, b, [&](const auto& t) {
    std::vector<std::pair<typename std::decay_t<decltype(t)>::TPt, int32_t>> hit;
    std::vector<int32_t> nodes;
    const double r = TreeRadius(b, t, km);
    size_t i = 0;
    for (auto _ : state) {
      RtreeSelectNodes(t, b.Point(i++), r, Spherical(t), hit, nodes);
      found += nodes.size();
    }
    return 0;
  });
  RtreeLabel(state, RadiusText(state.range(3)));
  state.counters["per query"] = double(found) / double(state.iterations());
}

// The GPS candidates' baseline is the bare selection at their radius.
void BM_RtreeNearestLink(benchmark::State& state) { BM_RtreeSelectLinks(state); }

// The arguments are named, so that a filter can pick a size ("size:0").
void Nearest(benchmark::internal::Benchmark* b) {
  b->ArgNames({"size", "unit", "cached", "metres"});
  for (int64_t size = 0; size < 3; ++size)
    for (int64_t unit = 0; unit < 2; ++unit)
      for (int64_t cached = 1; cached >= 0; --cached) b->Args({size, unit, cached, 0});
}
template <int64_t... Metres>
void Radii(benchmark::internal::Benchmark* b) {
  b->ArgNames({"size", "unit", "cached", "metres"});
  for (int64_t size = 0; size < 3; ++size)
    for (int64_t unit = 0; unit < 2; ++unit)
      for (int64_t cached = 1; cached >= 0; --cached)
        for (int64_t metres : {Metres...}) b->Args({size, unit, cached, metres});
}
void Baseline(benchmark::internal::Benchmark* b) {
  b->ArgNames({"size", "unit", "same", "metres"});
  for (int64_t size = 0; size < 3; ++size)
    for (int64_t unit = 0; unit < 2; ++unit)
      for (int64_t same = 1; same >= 1 - unit; --same) b->Args({size, unit, same, 0});
}
template <int64_t... Metres>
void BaselineRadii(benchmark::internal::Benchmark* b) {
  b->ArgNames({"size", "unit", "same", "metres"});
  for (int64_t size = 0; size < 3; ++size)
    for (int64_t unit = 0; unit < 2; ++unit)
      for (int64_t same = 1; same >= 1 - unit; --same)
        for (int64_t metres : {Metres...}) b->Args({size, unit, same, metres});
}

BENCHMARK(BM_NearestNode)->Apply(Nearest);
BENCHMARK(BM_RtreeNearestNode)->Apply(Baseline);
BENCHMARK(BM_NearestLocation)->Apply(Nearest);
BENCHMARK(BM_RtreeNearestSegment)->Apply(Baseline);
BENCHMARK(BM_NearestVertex)->Apply(Nearest);
BENCHMARK(BM_RtreeNearestVertex)->Apply(Baseline);
BENCHMARK(BM_SelectLinks)->Apply(Radii<100, 1000>);
BENCHMARK(BM_RtreeSelectLinks)->Apply(BaselineRadii<100, 1000>);
BENCHMARK(BM_SelectNodes)->Apply(Radii<100, 1000>);
BENCHMARK(BM_RtreeSelectNodes)->Apply(BaselineRadii<100, 1000>);
BENCHMARK(BM_NearestLink)->Apply(Radii<50>);
BENCHMARK(BM_RtreeNearestLink)->Apply(BaselineRadii<50>);

}  // namespace
