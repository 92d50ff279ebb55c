// The geometric network checks: non-connected nodes and links, overpasses
// and split-and-snap. Small fixtures for the rules and the mended faults,
// brute-force scans and GEOS for random networks, GDAL and jq for the layers
// written, and the writer seam for failures.
#include <gtest/gtest.h>

#include <geos_c.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "foundation/kovra_random.h"
#include "giswriter/kovra_giswriter_dbf.h"
#include "search/search_fixture.h"
#include "support/gdal_readback.h"
#include "support/test_files.h"
#include "support/test_raises.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

constexpr double cNaN = std::numeric_limits<double>::quiet_NaN();

struct TItem {
  int32_t link;
  double percent;
  TFloatPoint P;
};

std::vector<TItem> ItemsOf(const TLocationList& LL) {
  std::vector<TItem> v;
  for (int32_t i = 0; i < LL.Count(); ++i) v.push_back({LL.GetItem(i).loc.link, LL.GetItem(i).loc.percent, LL.GetItem(i).P});
  return v;
}

// Rows of a gfArray layer: the two integer columns and the distance.
struct TRow {
  int32_t a, b;
  double d;
  TFloatPointArray line;
};

std::vector<TRow> RowsOf(const TGISArray& t) {
  std::vector<TRow> rows;
  for (int32_t i = 0; i < t.RecCount; ++i) {
    const TRec& r = t.Rec[size_t(i)];
    rows.push_back({std::get<int32_t>(r.Attr[0]), std::get<int32_t>(r.Attr[1]), std::get<double>(r.Attr[2]),
                    r.Coord.empty() ? TFloatPointArray{} : r.Coord[0]});
  }
  return rows;
}

class SearchChecks : public TSearchTest {
protected:
  TNetwork& OpenLinks(const std::vector<TFloatPointArray>& Links, TCoordinateUnit Unit = cuM) {
    TTestNetworkWriter w;
    w.Unit = Unit;
    for (const TFloatPointArray& l : Links) w.AddLink(l);
    return Open(w);
  }
  int32_t NodeAt(const TNetwork& net, const TFloatPoint& P) {
    for (int32_t n = 1; n <= net.NodeCount(); ++n)
      if (net.Node2Coordinate_raw(n).x == P.x && net.Node2Coordinate_raw(n).y == P.y) return n;
    return 0;
  }
  bool AnyFileNamed(const std::string& stem) {
    for (const auto& e : std::filesystem::directory_iterator(dir))
      if (e.path().stem().string() == stem) return true;
    return false;
  }
};

// ---------------------------------------------------------------------------
// The rules, one fixture each

TEST_F(SearchChecks, NonConnectedNodesRules) {
  struct Case {
    const char* name;
    std::vector<TFloatPointArray> links;
    double radius;
    std::vector<std::pair<TFloatPoint, TFloatPoint>> lines;  // expected, by node position
  } const cases[] = {
      {"5 m apart, not joined", {{{0, 0}, {0, 100}}, {{5, 0}, {5, -100}}}, 0.01, {{{0, 0}, {5, 0}}}},
      {"exactly at the radius", {{{0, 0}, {0, 100}}, {{10, 0}, {10, -100}}}, 0.01, {}},
      {"joined by a link", {{{0, 0}, {5, 0}}, {{5, 0}, {5, 100}}, {{0, 0}, {0, -100}}}, 0.01, {}},
      {"no findings", {{{0, 0}, {100, 0}}}, 0.01, {}},
      {"radius 0", {{{0, 0}, {0, 100}}, {{5, 0}, {5, -100}}}, 0, {}},
      {"radius NaN", {{{0, 0}, {0, 100}}, {{5, 0}, {5, -100}}}, cNaN, {}},
      {"radius negative", {{{0, 0}, {0, 100}}, {{5, 0}, {5, -100}}}, -1, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TNetwork& net = OpenLinks(c.links);
    // The radius test is strict: 10 m must be exactly the radius in metres.
    ASSERT_EQ(0.01 / net.DistFactor(), 10.0);
    TSpatialSearch s(net);
    const std::string out = Dir() + "nodes";
    const int32_t n = s.FindNonConnectedNodes(out, gfSHP, c.radius);
    EXPECT_EQ(n, int32_t(c.lines.size()));
    EXPECT_EQ(AnyFileNamed("nodes"), n > 0);
    ASSERT_EQ(s.FindNonConnectedNodes("", gfArray, c.radius), n);
    const std::vector<TRow> rows = RowsOf(s.GISarray());
    ASSERT_EQ(rows.size(), c.lines.size());
    for (size_t i = 0; i < rows.size(); ++i) {
      const int32_t n1 = NodeAt(net, c.lines[i].first), n2 = NodeAt(net, c.lines[i].second);
      // From the lower id.
      EXPECT_EQ(rows[i].a, std::min(n1, n2));
      EXPECT_EQ(rows[i].b, std::max(n1, n2));
      EXPECT_DOUBLE_EQ(rows[i].d, net.DistanceBetweenNodes_raw(n1, n2));
    }
    fNet.reset();
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
  }
}

TEST_F(SearchChecks, OverpassAndSnapRules) {
  struct TWant {
    int32_t link;
    double percent;
    TFloatPoint P;
  };
  struct Case {
    const char* name;
    std::vector<TFloatPointArray> links;
    bool snap;      // SplitAndSnap with radius 0.01, else FindOverpasses
    int32_t count;  // nodes snapped
    std::vector<TWant> items;
  } const cases[] = {
      // Link 1 crosses at its interior vertex, link 2 mid-segment.
      {"interior-vertex crossing",
       {{{0, 0}, {5, 5}, {10, 0}}, {{0, 5}, {10, 5}}},
       false, 0,
       {{1, 0.5, {5, 5}}, {2, 0.5, {5, 5}}}},
      // They share node (0,0) and cross at (5,0): never examined.
      {"shared end node", {{{0, 0}, {10, 0}}, {{0, 0}, {5, -5}, {5, 5}}}, false, 0, {}},
      {"meeting at an end vertex only", {{{0, 0}, {10, 0}}, {{5, 0}, {5, 5}}}, false, 0, {}},
      // Link 2 crosses link 1's second segment first, then its first.
      {"double crossing",
       {{{0, 0}, {5, 0}, {10, 0}}, {{8, -5}, {7, 5}, {3, 5}, {2, -5}}},
       false, 0,
       {{1, 0.25, {2.5, 0}}, {2, (std::sqrt(101.0) + 4 + std::sqrt(101.0) / 2) / (2 * std::sqrt(101.0) + 4), {2.5, 0}}}},
      // Degrees 1 only: the degree table has no entry 3.
      {"dead end", {{{0, 0}, {100, 0}}, {{50, 3}, {50, 50}}}, true, 1, {{1, 0.5, {50, 0}}, {2, -2, {50, 0}}}},
      {"degree-2 node",
       {{{0, 0}, {100, 0}}, {{50, 3}, {50, 50}}, {{20, 40}, {50, 3}}},
       true, 1,
       {{1, 0.5, {50, 0}}, {2, -2, {50, 0}}, {3, -1, {50, 0}}}},
      {"foot at a link end", {{{0, 0}, {100, 0}}, {{103, 0}, {103, 50}}}, true, 0, {}},
      // Every link is the node's own or a neighbour's: nothing to snap to.
      {"all links excluded", {{{0, 0}, {10, 0}}, {{10, 0}, {10, 10}}}, true, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TNetwork& net = OpenLinks(c.links);
    TSpatialSearch s(net);
    TLocationList LL;
    if (c.snap) {
      EXPECT_EQ(s.SplitAndSnap(0.01, LL), c.count);
    } else {
      s.FindOverpasses(LL);
    }
    const std::vector<TItem> got = ItemsOf(LL);
    ASSERT_EQ(got.size(), c.items.size());
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].link, c.items[i].link) << i;
      EXPECT_NEAR(got[i].percent, c.items[i].percent, 1e-6) << i;
      EXPECT_NEAR(got[i].P.x, c.items[i].P.x, 1e-9) << i;
      EXPECT_NEAR(got[i].P.y, c.items[i].P.y, 1e-9) << i;
      if (!c.snap) {
        EXPECT_GT(got[i].percent, 0);
        EXPECT_LT(got[i].percent, 1);
      }
    }
    fNet.reset();
  }
}

// ---------------------------------------------------------------------------
// Mended faults of the overpass search

// A repeated vertex on a crossing link is no segment: no NaN, the crossing
// is still found.
TEST_F(SearchChecks, RepeatedVertexGivesNoNaN) {
  TNetwork& net = OpenLinks({{{5, -5}, {5, 5}, {5, 5}, {5, 15}}, {{0, 5}, {5, 5}, {5, 5}, {10, 5}}});
  TSpatialSearch s(net);
  TLocationList LL;
  s.FindOverpasses(LL);
  const std::vector<TItem> got = ItemsOf(LL);
  ASSERT_EQ(got.size(), 2u);
  for (const TItem& i : got) {
    EXPECT_TRUE(std::isfinite(i.percent));
    EXPECT_NEAR(i.percent, 0.5, 1e-6);
    EXPECT_EQ(i.P.x, 5);
    EXPECT_EQ(i.P.y, 5);
  }
}

// A crossing a hair from the end of a link whose stored Single length is
// shorter than its polyline: the percent would pass 1; it is held at 1 and
// the item removed with the other end positions.
TEST_F(SearchChecks, PercentAboveOneIsClampedAndRemoved) {
  // A length whose Single km value rounds down by more than the hair.
  double L = 1000.1;
  const double hair = 1e-5;
  while (!(double(float(L * 0.001)) < (L - 2 * hair) * 0.001)) L += 0.1;
  TNetwork& net = OpenLinks({{{0, 0}, {L, 0}}, {{L - hair, -1}, {L - hair, 1}}});
  ASSERT_LT(double(net.Lengths()[1]), (L - hair) * net.DistFactor());
  TSpatialSearch s(net);
  TLocationList LL;
  s.FindOverpasses(LL);
  const std::vector<TItem> got = ItemsOf(LL);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].link, 2);
  EXPECT_NEAR(got[0].percent, 0.5, 1e-6);
  for (const TItem& i : ItemsOf(LL)) EXPECT_LE(i.percent, 1);
}

// Collinear overlap where C lies off A-B and D on it: the meeting point is
// D, and both locations belong to it (not link 1's vertex A with point C).
TEST_F(SearchChecks, CollinearOverlapPlacesBothLocationsAtTheMeetingPoint) {
  TNetwork& net = OpenLinks({{{0, 0}, {10, 0}}, {{-5, 5}, {-3, 0}, {4, 0}, {4, 5}}});
  TSpatialSearch s(net);
  TLocationList LL;
  s.FindOverpasses(LL);
  const std::vector<TItem> got = ItemsOf(LL);
  ASSERT_EQ(got.size(), 2u);
  const double first = std::sqrt(29.0), total = first + 7 + 5;
  EXPECT_EQ(got[0].link, 1);
  EXPECT_NEAR(got[0].percent, 0.4, 1e-6);
  EXPECT_EQ(got[1].link, 2);
  EXPECT_NEAR(got[1].percent, (first + 7) / total, 1e-6);
  for (const TItem& i : got) {
    EXPECT_EQ(i.P.x, 4);
    EXPECT_EQ(i.P.y, 0);
    // The point lies where the location says on both links.
    const TFloatPoint q = net.Location2Coordinate({i.link, i.percent}, 0);
    EXPECT_NEAR(q.x, 4, 1e-4);
    EXPECT_NEAR(q.y, 0, 1e-4);
  }
}

// Segments are parallel when the sine of their angle is below 1e-10, in
// every unit. An X of two links half a metre long in a degree network was
// called parallel by an absolute bound on the cross product (about 3e-11
// square degrees there) and not reported. Links a metre long keep the
// results they had: a cross product of 2e-10 crosses, one of 5e-11 does not.
TEST_F(SearchChecks, ParallelIsRelativeToTheSegments) {
  const double d = 4e-6;  // degrees: 0.45 m north, 0.3 m east
  struct TRow {
    const char* name;
    std::vector<TFloatPointArray> links;
    TCoordinateUnit unit;
    bool crossing;
  } const rows[] = {
      {"a half-metre X in degrees", {{{12.5, 48.1}, {12.5 + d, 48.1 + d}}, {{12.5, 48.1 + d}, {12.5 + d, 48.1}}},
       cuDeg, true},
      {"metre links at a cross product of 2e-10", {{{0, 0}, {1, 0}}, {{0, -1e-10}, {1, 1e-10}}}, cuM, true},
      {"metre links at a cross product of 5e-11", {{{0, 0}, {1, 0}}, {{0, -2.5e-11}, {1, 2.5e-11}}}, cuM, false},
  };
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.name);
    TNetwork& net = OpenLinks(row.links, row.unit);
    TSpatialSearch s(net);
    TLocationList LL;
    s.FindOverpasses(LL);
    const std::vector<TItem> got = ItemsOf(LL);
    ASSERT_EQ(got.size(), row.crossing ? 2u : 0u);
    for (const TItem& i : got) {
      EXPECT_NEAR(i.percent, 0.5, 1e-6);
      EXPECT_NEAR(i.P.x, (row.links[0][0].x + row.links[0][1].x) / 2, 1e-12);
    }
    fNet.reset();
  }
}

// Percents are great-circle fractions in degrees: each location lies at the
// crossing point, on bent links in every unit.
TEST_F(SearchChecks, OverpassLocationsLieAtTheCrossingInEveryUnit) {
  for (const TCoordinateUnit unit : {cuM, cuDeg, cuGrad}) {
    SCOPED_TRACE(int(unit));
    const double k = unit == cuM ? 10000 : 0.1;
    TNetwork& net = OpenLinks({{{0, 50 * k / 10}, {0.3 * k, 50 * k / 10 + 0.1 * k}, {k, 50 * k / 10}},
                               {{0.6 * k, 50 * k / 10 - 0.2 * k}, {0.7 * k, 50 * k / 10 + 0.3 * k}}},
                              unit);
    TSpatialSearch s(net);
    TLocationList LL;
    s.FindOverpasses(LL);
    const std::vector<TItem> got = ItemsOf(LL);
    ASSERT_EQ(got.size(), 2u);
    for (const TItem& i : got) {
      const TFloatPoint q = net.Location2Coordinate({i.link, i.percent}, 0);
      EXPECT_NEAR(q.x, i.P.x, k * 1e-5);
      EXPECT_NEAR(q.y, i.P.y, k * 1e-5);
    }
  }
}

// Items that LL held before are sorted and cleaned with the new ones.
TEST_F(SearchChecks, OverpassesKeepAndCleanEarlierItems) {
  TNetwork& net = OpenLinks({{{0, 0}, {5, 5}, {10, 0}}, {{0, 5}, {10, 5}}});
  TSpatialSearch s(net);
  TLocationList LL;
  LL.Add4({2, 0.9}, {1, 1});
  LL.Add4({1, 1}, {2, 2});
  LL.Add4({2, 0.9}, {3, 3});
  s.FindOverpasses(LL);
  const std::vector<TItem> got = ItemsOf(LL);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].link, 1);
  EXPECT_EQ(got[1].link, 2);
  EXPECT_NEAR(got[1].percent, 0.5, 1e-6);
  EXPECT_EQ(got[2].link, 2);
  EXPECT_EQ(got[2].percent, 0.9);
}

// ---------------------------------------------------------------------------
// Random networks against independent answers

// GEOS intersects every pair of polylines; the pairs that meet away from
// end vertices without a shared end node are the overpasses.
TEST_F(SearchChecks, OverpassesMatchGEOS) {
  for (const int32_t seed : {1, 2, 3}) {
    SCOPED_TRACE(seed);
    TTestNetworkWriter w;
    TRandom r;
    r.SetSeed(seed);
    w.MaxNodesPerCell = 8;
    AddRandomLinks(w, r, {0, 0, 1000, 1000}, 300);
    // Planted crossings: long straight links across the region.
    for (int32_t k = 0; k < 5; ++k) w.AddLink({{0, 100.0 + 190 * k}, {1000, 110.0 + 190 * k}});
    TNetwork& net = Open(w);
    TSpatialSearch s(net);
    TLocationList LL;
    s.FindOverpasses(LL);

    GEOSContextHandle_t ctx = GEOS_init_r();
    std::vector<GEOSGeometry*> lines(size_t(net.LinkCount()) + 1, nullptr);
    TOracle o(net);
    for (int32_t l = 1; l <= net.LinkCount(); ++l) {
      if (net.Lengths()[size_t(l)] == 0) continue;
      const TFloatPointArrayEx p = o.Poly(l);
      GEOSCoordSequence* cs = GEOSCoordSeq_create_r(ctx, uint32_t(p.Count), 2);
      for (int32_t i = 0; i < p.Count; ++i) GEOSCoordSeq_setXY_r(ctx, cs, uint32_t(i), p.Pnt[size_t(i)].x, p.Pnt[size_t(i)].y);
      lines[size_t(l)] = GEOSGeom_createLineString_r(ctx, cs);
    }
    auto isEnd = [&](int32_t l, double x, double y) {
      const TFloatPoint a = net.Node2Coordinate_raw(net.Fromnodes()[size_t(l)]);
      const TFloatPoint b = net.Node2Coordinate_raw(net.Tonodes()[size_t(l)]);
      return (a.x == x && a.y == y) || (b.x == x && b.y == y);
    };
    std::set<std::pair<int32_t, int32_t>> want;
    std::map<std::pair<int32_t, int32_t>, std::vector<TFloatPoint>> points;
    for (int32_t a = 1; a <= net.LinkCount(); ++a)
      for (int32_t b = a + 1; b <= net.LinkCount(); ++b) {
        if (!lines[size_t(a)] || !lines[size_t(b)]) continue;
        const int32_t fa = net.Fromnodes()[size_t(a)], ta = net.Tonodes()[size_t(a)];
        const int32_t fb = net.Fromnodes()[size_t(b)], tb = net.Tonodes()[size_t(b)];
        if (fa == fb || fa == tb || ta == fb || ta == tb) continue;
        GEOSGeometry* x = GEOSIntersection_r(ctx, lines[size_t(a)], lines[size_t(b)]);
        ASSERT_NE(x, nullptr);
        const int n = GEOSGetNumGeometries_r(ctx, x);
        for (int g = 0; g < n && !GEOSisEmpty_r(ctx, x); ++g) {
          const GEOSGeometry* part = GEOSGetGeometryN_r(ctx, x, g);
          ASSERT_EQ(GEOSGeomTypeId_r(ctx, part), GEOS_POINT) << "random lines overlap";
          double px = 0, py = 0;
          GEOSGeomGetX_r(ctx, part, &px);
          GEOSGeomGetY_r(ctx, part, &py);
          if (isEnd(a, px, py) || isEnd(b, px, py)) continue;
          want.insert({a, b});
          points[{a, b}].push_back({px, py});
        }
        GEOSGeom_destroy_r(ctx, x);
      }
    for (GEOSGeometry* g : lines)
      if (g) GEOSGeom_destroy_r(ctx, g);
    GEOS_finish_r(ctx);

    // Items of one crossing share its point.
    std::map<std::pair<double, double>, std::vector<int32_t>> byPoint;
    for (const TItem& i : ItemsOf(LL)) {
      EXPECT_GT(i.percent, 0);
      EXPECT_LT(i.percent, 1);
      byPoint[{i.P.x, i.P.y}].push_back(i.link);
    }
    std::set<std::pair<int32_t, int32_t>> got;
    for (const auto& [P, links] : byPoint) {
      ASSERT_EQ(links.size(), 2u);
      const std::pair<int32_t, int32_t> pair{std::min(links[0], links[1]), std::max(links[0], links[1])};
      got.insert(pair);
      bool near = false;
      for (const TFloatPoint& q : points[pair]) near = near || (std::fabs(q.x - P.first) < 1e-9 && std::fabs(q.y - P.second) < 1e-9);
      EXPECT_TRUE(near) << pair.first << "/" << pair.second;
    }
    EXPECT_EQ(got, want);
    EXPECT_GT(want.size(), 20u);
    fNet.reset();
  }
}

// FindNonConnectedNodes against every pair; FindNonConnected's lines are
// true findings, and every node with a finding has a line.
TEST_F(SearchChecks, NonConnectedMatchBruteForce) {
  struct Case {
    TCoordinateUnit unit;
    TFloatRect region;
    double radius;
    bool mbr;
  } const cases[] = {
      {cuM, {0, 0, 2000, 2000}, 0.04, false},
      {cuM, {0, 0, 2000, 2000}, 0.04, true},
      {cuDeg, {10, 50, 10.03, 50.02}, 0.05, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.unit) * 10 + c.mbr);
    TTestNetworkWriter w;
    w.Unit = c.unit;
    w.MaxNodesPerCell = 6;
    TRandom r;
    r.SetSeed(7);
    AddRandomLinks(w, r, c.region, 250);
    TNetwork& net = Open(w);
    TSpatialSearch s(net);
    s.SetMBRselect(c.mbr);
    TOracle o(net);
    const double ru = c.radius / net.DistFactor();

    ASSERT_GT(s.FindNonConnectedNodes("", gfArray, c.radius), 0);
    std::vector<std::pair<int32_t, int32_t>> got, want;
    for (const TRow& row : RowsOf(s.GISarray())) got.push_back({row.a, row.b});
    for (int32_t a = 1; a <= net.NodeCount(); ++a) {
      const TFloatPoint Pa = net.Node2Coordinate_raw(a);
      const TFloatRect box = TSpatialSearchTestAccess::SearchBox(s, Pa, ru);
      for (const int32_t b : o.Nodes(Pa, ru, nullptr, c.mbr ? &box : nullptr))
        if (b > a && !net.NodesConnected(a, b)) want.push_back({a, b});
    }
    EXPECT_EQ(got, want);

    if (c.mbr) continue;
    ASSERT_GT(s.FindNonConnected("", gfArray, c.radius), 0);
    // A true finding: near, not an end, not touching a neighbour; Slack
    // keeps rounding at the radius out of the judgement.
    auto finding = [&](int32_t node, int32_t L, double Slack) {
      const int32_t f = net.Fromnodes()[size_t(L)], t = net.Tonodes()[size_t(L)];
      if (net.Lengths()[size_t(L)] == 0 || node == f || node == t) return false;
      if (net.NodesConnected(node, f) || net.NodesConnected(node, t)) return false;
      return o.LinkDistance(net.Node2Coordinate_raw(node), L) * net.DistFactor() < c.radius * (1 + Slack);
    };
    std::set<int32_t> lined;
    for (const TRow& row : RowsOf(s.GISarray())) {
      EXPECT_TRUE(finding(row.a, row.b, 1e-9)) << row.a << " " << row.b;
      EXPECT_LT(row.d, c.radius);
      ASSERT_EQ(row.line.size(), 2u);
      EXPECT_EQ(row.line[0].x, net.Node2Coordinate_raw(row.a).x);
      lined.insert(row.a);
    }
    for (int32_t node = 1; node <= net.NodeCount(); ++node)
      for (int32_t L = 1; L <= net.LinkCount(); ++L)
        if (finding(node, L, -1e-9)) {
          EXPECT_TRUE(lined.count(node)) << node << " " << L;
          break;
        }
    fNet.reset();
  }
}

// ---------------------------------------------------------------------------
// Layers as GDAL and jq read them

TEST_F(SearchChecks, LayersReadBackThroughGDALAndJq) {
  TTestNetworkWriter w;
  w.Epsg = 27700;  // the layers name their reference system
  for (const TFloatPointArray& l : std::vector<TFloatPointArray>{{{0, 0}, {0, 100}}, {{5, 0}, {5, -100}}, {{3, 50}, {3, 200}}})
    w.AddLink(l);
  TNetwork& net = Open(w);
  TSpatialSearch s(net);
  struct Case {
    const char* name;
    bool nodes;
    std::vector<std::string> fields;
    int32_t width, precision;
  } const cases[] = {
      {"nodes", true, {"Node1", "Node2", "distance"}, 0, 0},
      {"links", false, {"Node", "Link", "distance"}, 20, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto run = [&](const std::string& f, TGISFormat GF) {
      return c.nodes ? s.FindNonConnectedNodes(f, GF, 0.01) : s.FindNonConnected(f, GF, 0.01);
    };
    const int32_t n = run(Dir() + c.name, gfSHP);
    ASSERT_GT(n, 0);
    const TOgrLayer shp = ReadOgrLayer(Dir() + c.name + ".shp");
    ASSERT_EQ(shp.Fields.size(), 3u);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(shp.Fields[i].Name, c.fields[i]);
    // The shapefile's integer width decides between OGR's two integer types.
    for (size_t i = 0; i < 2; ++i) EXPECT_EQ(shp.Fields[i].Type.rfind("Integer", 0), 0u) << shp.Fields[i].Type;
    EXPECT_EQ(shp.Fields[2].Type, "Real");
    if (c.width) {
      EXPECT_EQ(shp.Fields[2].Width, c.width);
      EXPECT_EQ(shp.Fields[2].Precision, c.precision);
    }
    EXPECT_EQ(shp.FeatureCount, n);
    EXPECT_EQ(shp.GeometryType, "Line String");

    // A file, and the text when no file name is given.
    ASSERT_EQ(run(Dir() + c.name + "_json", gfGeoJSON), n);
    EXPECT_EQ(ReadOgrLayer(Dir() + c.name + "_json.geojson").FeatureCount, n);
    ASSERT_EQ(run("", gfGeoJSON), n);
    ASSERT_FALSE(s.GeoJSON().empty());
    const std::string json = Make(std::string(c.name) + "_text.geojson", s.GeoJSON());
    EXPECT_EQ(RunCommand("jq -e . " + json + " > /dev/null"), 0);
    std::string count;
    RunCommand("jq '.features | length' " + json, &count);
    EXPECT_EQ(std::stoi(count), n);
    const TOgrLayer gj = ReadOgrLayer(json);
    EXPECT_EQ(gj.FeatureCount, n);
    EXPECT_EQ(gj.Fields.size(), 3u);
  }
}

// ---------------------------------------------------------------------------
// Ownership, failures, bad input

TEST_F(SearchChecks, ArrayOutputTwiceFillsTheTable) {
  TNetwork& net = OpenLinks({{{0, 0}, {0, 100}}, {{5, 0}, {5, -100}}});
  TSpatialSearch s(net);
  for (int k = 0; k < 2; ++k) {
    ASSERT_EQ(s.FindNonConnectedNodes("", gfArray, 0.01), 1);
    EXPECT_EQ(s.GISarray().RecCount, 1);
    ASSERT_EQ(s.FindNonConnected("", gfArray, 0.01), 2);
    EXPECT_EQ(s.GISarray().RecCount, 2);
    EXPECT_EQ(s.GISarray().Field[2].Width, 20);
  }
}

TEST_F(SearchChecks, AFailureMidRunLeavesNothingAndTheObjectUsable) {
  TNetwork& net = OpenLinks({{{0, 0}, {0, 100}}, {{5, 0}, {5, -100}}, {{-20, 103}, {50, 103}}});
  TSpatialSearch s(net);
  ASSERT_EQ(s.FindNonConnected("", gfGeoJSON, 0.01), 3);
  const std::string before = s.GeoJSON();

  // The real shapefile writer, failing at its second record.
  struct TFailingSHP : TGISWriterSHP {
    void AddObject(int32_t NumParts, bool multiPolygon, const std::string& Attrib) override {
      if (WrittenRecords() == 1) throw Exception("disk on fire");
      TGISWriterSHP::AddObject(NumParts, multiPolygon, Attrib);
    }
  };
  net.SetGISWriterFactory([](TGISFormat) { return std::make_unique<TFailingSHP>(); });
  EXPECT_EQ(MessageOf([&] { s.FindNonConnected(Dir() + "broken", gfSHP, 0.01); }), "disk on fire");
  EXPECT_FALSE(AnyFileNamed("broken"));
  EXPECT_EQ(s.GeoJSON(), before);
  net.SetGISWriterFactory(nullptr);

  // A progress handler that raises: no layer, and the same for the lists.
  s.SetOnProgress([](TObject*, int32_t, bool&) { throw Exception("stop"); });
  EXPECT_EQ(MessageOf([&] { s.FindNonConnectedNodes(Dir() + "halted", gfSHP, 0.01); }), "stop");
  EXPECT_FALSE(AnyFileNamed("halted"));
  // Raising at the closing report: the layer was complete, but the call
  // failed, so it is taken away too.
  s.SetOnProgress([](TObject*, int32_t p, bool&) {
    if (p == 0) throw Exception("stop");
  });
  EXPECT_EQ(MessageOf([&] { s.FindNonConnected(Dir() + "closing", gfSHP, 0.01); }), "stop");
  EXPECT_FALSE(AnyFileNamed("closing"));
  s.SetOnProgress([](TObject*, int32_t, bool&) { throw Exception("stop"); });
  TLocationList LL;
  LL.Add4({1, 0.5}, {0, 0});
  EXPECT_EQ(MessageOf([&] { s.SplitAndSnap(0.01, LL); }), "stop");
  EXPECT_EQ(MessageOf([&] { s.FindOverpasses(LL); }), "stop");
  EXPECT_EQ(LL.Count(), 1);
  EXPECT_FALSE(TSpatialSearchTestAccess::FilterSet(s));
  s.SetOnProgress(nullptr);

  // Usable: node (0,0)'s own link 1 is nearest again, no stale filter.
  EXPECT_EQ(s.NearestLocationSimple({0, 1}).link, 1);
  EXPECT_EQ(s.SplitAndSnap(0.01, LL), 1);
  EXPECT_EQ(LL.Count(), 3);
  EXPECT_FALSE(TSpatialSearchTestAccess::FilterSet(s));
  EXPECT_EQ(s.FindNonConnected(Dir() + "fine", gfSHP, 0.01), 3);
  EXPECT_TRUE(AnyFileNamed("fine"));
}

TEST_F(SearchChecks, GuardsRaiseBeforeAWriterIsMade) {
  TNetwork closed;
  int32_t made = 0;
  closed.SetGISWriterFactory([&](TGISFormat GF) {
    ++made;
    return TGISWriter::GetGISObject(GF);
  });
  TSpatialSearch s(closed);
  TLocationList LL;
  EXPECT_EQ(MessageOf([&] { s.FindNonConnectedNodes(Dir() + "a", gfSHP, 1); }), "Network is not open");
  EXPECT_EQ(MessageOf([&] { s.FindNonConnected(Dir() + "a", gfSHP, 1); }), "Network is not open");
  EXPECT_EQ(MessageOf([&] { s.FindOverpasses(LL); }), "Network is not open");
  EXPECT_EQ(MessageOf([&] { s.SplitAndSnap(1, LL); }), "Network is not open");

  TTestNetworkWriter w;
  w.AddLink({{0, 0}, {0, 100}});
  w.AddLink({{5, 0}, {5, -100}});
  w.Write(Dir());
  TNetwork noIndex;
  noIndex.SetDirectory(Dir());
  noIndex.Open(false, false, false, 0);
  noIndex.SetGISWriterFactory([&](TGISFormat GF) {
    ++made;
    return TGISWriter::GetGISObject(GF);
  });
  TSpatialSearch t(noIndex);
  EXPECT_EQ(MessageOf([&] { t.FindNonConnectedNodes(Dir() + "a", gfSHP, 1); }), "Spatial index need to be open");
  EXPECT_EQ(MessageOf([&] { t.FindNonConnected(Dir() + "a", gfSHP, 1); }), "Spatial index need to be open");
  EXPECT_EQ(MessageOf([&] { t.FindOverpasses(LL); }), "Spatial index need to be open");
  EXPECT_EQ(MessageOf([&] { t.SplitAndSnap(1, LL); }), "Spatial index need to be open");
  EXPECT_EQ(made, 0);
  EXPECT_FALSE(AnyFileNamed("a"));
}

TEST_F(SearchChecks, ABadFileNameRaisesTheWritersErrorAndLeavesNothing) {
  TNetwork& net = OpenLinks({{{0, 0}, {0, 100}}, {{5, 0}, {5, -100}}});
  TSpatialSearch s(net);
  EXPECT_NE(MessageOf([&] { s.FindNonConnectedNodes(Dir() + "missing/folder/x", gfSHP, 0.01); }), "");
  EXPECT_FALSE(std::filesystem::exists(Dir() + "missing"));
  EXPECT_EQ(s.FindNonConnectedNodes(Dir() + "x", gfSHP, 0.01), 1);
}

// Progress: a snap run with one candidate has a maximum of 0 and reports
// the end of the range, then 0.
TEST_F(SearchChecks, ProgressOfOneCandidateReportsTheEnd) {
  // Two nodes of degree 4 and 3 joined three times, and one dead end.
  TNetwork& net = OpenLinks({{{0, 0}, {10, 0}}, {{0, 0}, {5, 5}, {10, 0}}, {{0, 0}, {5, -5}, {10, 0}}, {{0, 0}, {-10, 0}}});
  ASSERT_EQ(net.DegreeTable()[3], 2);
  TSpatialSearch s(net);
  std::vector<int32_t> seen;
  s.SetOnProgress([&](TObject*, int32_t p, bool&) { seen.push_back(p); });
  TLocationList LL;
  EXPECT_EQ(s.SplitAndSnap(0.001, LL), 0);
  EXPECT_EQ(seen, (std::vector<int32_t>{100, 0}));
}

}  // namespace
