// The projection kernels judged by GEOS on planar networks: the nearest
// point on the network, its distance and its position along the link; and
// four searches on four threads equal one search on one thread.
#include <geos_c.h>
#include <gtest/gtest.h>

#include <cmath>
#include <thread>
#include <vector>

#include "search/search_fixture.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

class SearchGeos : public TSearchTest {
protected:
  void SetUp() override { fCtx = GEOS_init_r(); }
  void TearDown() override {
    for (GEOSGeometry* g : fLines) GEOSGeom_destroy_r(fCtx, g);
    GEOS_finish_r(fCtx);
  }
  GEOSGeometry* Point(const TFloatPoint& P) { return GEOSGeom_createPointFromXY_r(fCtx, P.x, P.y); }
  // One line string per link; element 0 unused.
  void MakeLines(const TNetwork& net) {
    TOracle o(net);
    fLines.assign(1, nullptr);
    for (int32_t l = 1; l <= net.LinkCount(); ++l) {
      const TFloatPointArrayEx p = o.Poly(l);
      GEOSCoordSequence* s = GEOSCoordSeq_create_r(fCtx, uint32_t(p.Count), 2);
      for (int32_t i = 0; i < p.Count; ++i) GEOSCoordSeq_setXY_r(fCtx, s, uint32_t(i), p.Pnt[size_t(i)].x, p.Pnt[size_t(i)].y);
      fLines.push_back(GEOSGeom_createLineString_r(fCtx, s));
    }
  }

  GEOSContextHandle_t fCtx = nullptr;
  std::vector<GEOSGeometry*> fLines;
};

TEST_F(SearchGeos, NearestLocationMatchesGeos) {
  TRandom r;
  r.SetSeed(99);
  TTestNetworkWriter w;
  w.MaxNodesPerCell = 5;
  AddRandomLinks(w, r, {1000, 2000, 6000, 5000}, 300);
  TNetwork& net = Open(w);
  MakeLines(net);
  TSpatialSearch s(net);
  for (int32_t q = 0; q < 400; ++q) {
    SCOPED_TRACE(q);
    const TFloatPoint P{500 + r.NextDouble() * 6000, 1500 + r.NextDouble() * 4000};
    TLocation loc{};
    int32_t side = 0;
    double km = 0;
    TFloatPoint F{};
    s.NearestLocation(P, loc, side, km, F);

    GEOSGeometry* pt = Point(P);
    double best = 1e300;
    for (int32_t l = 1; l <= net.LinkCount(); ++l) {
      double d = 0;
      ASSERT_EQ(GEOSDistance_r(fCtx, pt, fLines[size_t(l)], &d), 1);
      best = std::min(best, d);
    }
    EXPECT_NEAR(km / net.DistFactor(), best, 1e-9);
    const GEOSGeometry* line = fLines[size_t(loc.link)];
    double mine = 0;
    GEOSDistance_r(fCtx, pt, line, &mine);
    EXPECT_NEAR(mine, best, 1e-9);
    const double along = GEOSProject_r(fCtx, line, pt);
    double length = 0;
    GEOSLength_r(fCtx, line, &length);
    EXPECT_NEAR(loc.percent, along / length, 1e-7 * (along / length) + 1e-12);
    GEOSGeometry* foot = GEOSInterpolate_r(fCtx, line, along);
    double fx = 0, fy = 0;
    GEOSGeomGetX_r(fCtx, foot, &fx);
    GEOSGeomGetY_r(fCtx, foot, &fy);
    EXPECT_NEAR(F.x, fx, 1e-9 * 6000);
    EXPECT_NEAR(F.y, fy, 1e-9 * 6000);
    GEOSGeom_destroy_r(fCtx, foot);
    GEOSGeom_destroy_r(fCtx, pt);
  }
}

// One uncached network, four objects on four threads: the same answers as
// one object on one thread.
TEST_F(SearchGeos, FourThreadsEqualOne) {
  TRandom r;
  r.SetSeed(5);
  TTestNetworkWriter w;
  w.MaxNodesPerCell = 8;
  AddRandomLinks(w, r, {0, 0, 5000, 5000}, 400);
  TNetwork& net = Open(w, false, false);
  struct TAnswer {
    int32_t node = 0, link = 0, vlink = 0, vindex = 0, selected = 0, candidates = 0;
    double percent = 0, dn = 0, dl = 0;
    bool operator==(const TAnswer&) const = default;
  };
  std::vector<TFloatPoint> points;
  // A prime count: each thread's stride is a permutation.
  for (int32_t i = 0; i < 401; ++i) points.push_back({r.NextDouble() * 5000, r.NextDouble() * 5000});
  auto run = [&](TSpatialSearch& s, const TFloatPoint& P) {
    TAnswer a;
    s.NearestNode(P, a.node, a.dn);
    TLocation loc{};
    int32_t side = 0;
    TFloatPoint F{};
    s.NearestLocation(P, loc, side, a.dl, F);
    a.link = loc.link;
    a.percent = loc.percent;
    double d = 0;
    s.NearestVertex(P, a.vlink, a.vindex, d);
    TIntegerList L;
    s.SelectLinksList(P, 0.3, L);
    a.selected = L.Count();
    a.candidates = s.NearestLink(P, 45, 0.2)->Count();
    return a;
  };
  std::vector<TAnswer> single(points.size());
  {
    TSpatialSearch s(net);
    for (size_t i = 0; i < points.size(); ++i) single[i] = run(s, points[i]);
  }
  std::vector<std::vector<TAnswer>> multi(4, std::vector<TAnswer>(points.size()));
  std::vector<std::thread> threads;
  for (size_t t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      TSpatialSearch s(net);
      // Each thread in its own order, so that the reads interleave.
      for (size_t k = 0; k < points.size(); ++k) {
        const size_t i = (k * (2 * t + 1) + t * 97) % points.size();
        multi[t][i] = run(s, points[i]);
      }
    });
  for (std::thread& th : threads) th.join();
  for (size_t t = 0; t < 4; ++t) EXPECT_TRUE(multi[t] == single) << "thread " << t;
}

}  // namespace
