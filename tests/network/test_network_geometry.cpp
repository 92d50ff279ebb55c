// Geometry of the network: polylines of links and routes, sections, crow-fly
// distances, projection onto a link, location points with sideways offset,
// matrices, splitting, random draws and turn angles.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>
#include <random>
#include <thread>

#include "foundation/kovra_geometry.h"
#include "network/kovra_turn.h"
#include "network_fixture.h"
#include "support/allocation_counter.h"
#include "support/test_raises.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

TFloatPointArrayEx Poly(std::vector<TFloatPoint> P) {
  TFloatPointArrayEx r;
  r.Count = int32_t(P.size());
  r.Pnt = std::move(P);
  return r;
}

std::vector<TFloatPoint> Points(const TFloatPointArrayEx& a) { return {a.Pnt.begin(), a.Pnt.begin() + a.Count}; }

std::vector<TFloatPoint> Reversed(std::vector<TFloatPoint> p) {
  std::reverse(p.begin(), p.end());
  return p;
}

// Seven links in metres; links 5 and 7 meet at (10, 0), 7 digitised towards it.
class Geometry : public TNetworkTest {
protected:
  TNetwork& Planar(TCoordinateUnit Unit = cuM) {
    TTestNetworkWriter w;
    w.Unit = Unit;
    for (int i = 1; i <= 4; ++i) w.AddLink({{0, 100.0 * i}, {10, 100.0 * i}});
    w.AddLink({{0, 0}, {5, 2}, {10, 0}});
    w.AddLink({{0, 500}, {10, 500}});
    w.AddLink({{20, 0}, {15, 1}, {14, -1}, {10, 0}});
    w.AddLink({{10, 0}, {10, 10}});                  // 8: north from the meeting node
    w.AddLink({{30, 0}, {40, 0}, {40, 0}});          // 9: ends in a repeated vertex
    return Open(w);
  }
  TNetwork& Degrees() {
    TTestNetworkWriter w;
    w.Unit = cuDeg;
    w.AddLink({{0, 0}, {1, 0}});                 // 1: along the equator, west to east
    w.AddLink({{10, 50}, {10.5, 50.2}, {11, 50}});  // 2
    return Open(w);
  }
};

TEST_F(Geometry, LinkAndRoutePolylines) {
  TNetwork& net = Planar();
  EXPECT_EQ(Points(net.GetGISSection(7)), (std::vector<TFloatPoint>{{20, 0}, {15, 1}, {14, -1}, {10, 0}}));
  const int32_t n0 = net.Link2FromNode(5), n1 = net.Link2ToNode(5), n2 = net.Link2FromNode(7);
  ASSERT_EQ(net.Link2ToNode(7), n1);

  TRoute nodeRoute;
  nodeRoute.links = {5, -7};
  nodeRoute.nodes = {n0, n1, n2};
  EXPECT_EQ(Points(net.GetGISSectionRoute(nodeRoute)),
            (std::vector<TFloatPoint>{{0, 0}, {5, 2}, {10, 0}, {14, -1}, {15, 1}, {20, 0}}));

  // A location route from half-way along 5 to half-way along 7.
  TRoute locRoute;
  locRoute.links = {5, -7};
  locRoute.nodes = {n1};
  locRoute.percent1 = 0.5;
  locRoute.percent2 = 0.5;
  const auto pts = Points(net.GetGISSectionRoute(locRoute));
  ASSERT_EQ(pts.size(), 4u);
  EXPECT_EQ(pts[1], (TFloatPoint{10, 0}));
  EXPECT_EQ(pts[2], (TFloatPoint{14, -1}));
  const TFloatPoint start = net.Location2Coordinate({5, 0.5}, 0), stop = net.Location2Coordinate({7, 0.5}, 0);
  EXPECT_NEAR(pts[0].x, start.x, 1e-5);
  EXPECT_NEAR(pts[0].y, start.y, 1e-5);
  EXPECT_NEAR(pts[3].x, stop.x, 1e-5);
  EXPECT_NEAR(pts[3].y, stop.y, 1e-5);

  TRoute single;
  single.links = {5};
  single.percent1 = single.percent2 = 0.3;
  EXPECT_EQ(net.GetGISSectionRoute(single).Count, 0);
  EXPECT_EQ(net.GetGISSectionRoute(TRoute{}).Count, 0);

  TRoute bad;
  bad.links = {5, 0};
  bad.nodes = {n0, n1, n2};
  EXPECT_EQ(MessageOf<EOutOfRange>([&] { net.GetGISSectionRoute(bad); }), "Link-ID must be >=1: 0");
  bad.links = {5, -7};
  bad.nodes = {n0, 0, n2};
  EXPECT_EQ(MessageOf<EOutOfRange>([&] { net.GetGISSectionRoute(bad); }), "Node-ID must be >=1: 0");
}

TEST_F(Geometry, SectionsBetweenFractions) {
  TNetwork& net = Planar();
  const TFloatPointArrayEx line = Poly({{0, 0}, {1, 0}, {2, 0}, {4, 0}});
  const auto all = Points(line);
  struct Case {
    double start, stop;
    std::vector<TFloatPoint> expected;
  } cases[] = {
      {0, 1, all},
      {1, 0, Reversed(all)},
      {0.1, 0.25, {{0.4, 0}, {1, 0}, {1, 0}}},  // a stop on an inner vertex repeats it
      {0.25, 0.75, {{1, 0}, {2, 0}, {3, 0}}},   // a start on one gives it once
      {0.5, 1, {{2, 0}, {4, 0}}},
      {0, 0.125, {{0, 0}, {0.5, 0}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.start << " " << c.stop);
    EXPECT_EQ(Points(net.ExtractSection(line, c.start, c.stop)), c.expected);
  }
  EXPECT_EQ(Points(net.ExtractSection(line, 0.7, 0.2)), Reversed(Points(net.ExtractSection(line, 0.2, 0.7))));
  EXPECT_EQ(MessageOf<EWrongPercent>([&] { net.ExtractSection(line, 0.3, 0.3); }),
            "Start and Stop percent need to be different");
  EXPECT_EQ(MessageOf<EWrongPercent>([&] { net.ExtractSection(line, NAN, 0.3); }), "Percent need to be from 0 to 1");

  // Fractions just below 1, polylines and segments of length 0: the walk
  // stays on the last segment.
  const double almostOne = std::nextafter(1.0, 0.0);
  TFloatPointArrayEx out;
  net.ExtractSection_raw1(Poly({{0, 0}, {1, 0}, {1, 0}}), 0.5, almostOne, out);
  ASSERT_EQ(out.Count, 2);
  EXPECT_NEAR(out.Pnt[1].x, 1, 1e-15);
  net.ExtractSection_raw1(Poly({{3, 3}, {3, 3}}), 0.2, 0.7, out);
  EXPECT_EQ(Points(out), (std::vector<TFloatPoint>{{3, 3}, {3, 3}}));
  net.ExtractSection_raw1(Poly({{3, 3}}), 0.2, 0.7, out);
  EXPECT_EQ(Points(out), (std::vector<TFloatPoint>{{3, 3}}));

  // Given ends replace only the cut ends.
  net.ExtractSectionCore(line, 0.1, 1, {9, 9}, {8, 8}, true, out);
  EXPECT_EQ(Points(out), (std::vector<TFloatPoint>{{9, 9}, {1, 0}, {2, 0}, {4, 0}}));
}

TEST_F(Geometry, SectionsSplitAtAFractionCoverThePolyline) {
  TNetwork& net = Planar();
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> u(-50, 50);
  for (int run = 0; run < 200; ++run) {
    std::vector<TFloatPoint> p(2 + rng() % 6);
    for (auto& q : p) q = {u(rng), u(rng)};
    const TFloatPointArrayEx line = Poly(p);
    const double f = std::uniform_real_distribution<double>(0.01, 0.99)(rng);
    const auto a = Points(net.ExtractSection(line, 0, f)), b = Points(net.ExtractSection(line, f, 1));
    ASSERT_EQ(a.back(), b.front());
    std::vector<TFloatPoint> joined(a.begin(), a.end() - 1);
    joined.insert(joined.end(), b.begin(), b.end());
    // Every vertex appears, in order; only the cut point is added.
    std::vector<TFloatPoint> without;
    for (const auto& q : joined)
      if (q != a.back() || std::find(p.begin(), p.end(), q) != p.end()) without.push_back(q);
    EXPECT_EQ(without, p) << "run " << run;
  }
}

TEST_F(Geometry, PlanarProjectionOntoALink) {
  TNetwork& net = Planar();
  struct Case {
    TFloatPoint P;
    int32_t link;
    double percent, distanceM;
    int32_t side;
    TFloatPoint foot;
  } cases[] = {
      {{5, 103}, 1, 0.5, 3, -1, {5, 100}},        // left of a west-to-east link
      {{5, 97}, 1, 0.5, 3, 1, {5, 100}},          // right of it
      {{-2, 100}, 1, 0, 2, 1, {0, 100}},          // before the start
      {{13, 104}, 1, 1, 5, -1, {10, 100}},        // beyond the end
      {{5, 2}, 5, 0.5, 0, 1, {5, 2}},             // on the middle vertex: the first segment wins
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.link);
    double percent, distance;
    int32_t side;
    TFloatPoint foot;
    net.DistanceToLink(c.P, c.link, percent, side, distance, foot);
    EXPECT_NEAR(percent, c.percent, 1e-12);
    EXPECT_NEAR(distance, c.distanceM / 1000, 1e-12);
    EXPECT_EQ(side, c.side);
    EXPECT_NEAR(foot.x, c.foot.x, 1e-12);
    EXPECT_NEAR(foot.y, c.foot.y, 1e-12);
  }
  EXPECT_DOUBLE_EQ(net.DistanceToLinkSimple({5, 97}, 1), 0.003);
  EXPECT_EQ(MessageOf<Exception>([&] { net.DistanceToLinkSimple({NAN, 0}, 1); }),
            "(NAN , 0) are not valid coordinates");
}

// The nearest point of a great-circle arc by a fine search along it, in
// radians: an oracle independent of the projection formulas.
double ArcDistance(TFloatPoint A, TFloatPoint B, TFloatPoint P) {
  auto vec = [](TFloatPoint q) {
    return std::array<double, 3>{std::cos(q.y) * std::cos(q.x), std::cos(q.y) * std::sin(q.x), std::sin(q.y)};
  };
  const auto a = vec(A), b = vec(B), p = vec(P);
  const double omega = GreatCircleAngleRad(A, B);
  double best = 10;
  for (int i = 0; i <= 200000; ++i) {
    const double t = i / 200000.0;
    const double s1 = std::sin((1 - t) * omega) / std::sin(omega), s2 = std::sin(t * omega) / std::sin(omega);
    std::array<double, 3> q{s1 * a[0] + s2 * b[0], s1 * a[1] + s2 * b[1], s1 * a[2] + s2 * b[2]};
    const double dot = q[0] * p[0] + q[1] * p[1] + q[2] * p[2];
    const double cx = q[1] * p[2] - q[2] * p[1], cy = q[2] * p[0] - q[0] * p[2], cz = q[0] * p[1] - q[1] * p[0];
    best = std::min(best, std::atan2(std::sqrt(cx * cx + cy * cy + cz * cz), dot));
  }
  return best;
}

TEST_F(Geometry, SphericalProjectionAndDistances) {
  TNetwork& net = Degrees();
  const double R = net.DistFactor();
  double percent, distance;
  int32_t side;
  TFloatPoint foot;
  net.DistanceToLink({0.5, 0.1}, 1, percent, side, distance, foot);
  EXPECT_EQ(side, -1);  // north of a west-to-east link is its left
  EXPECT_NEAR(percent, 0.5, 1e-9);
  EXPECT_NEAR(foot.x, 0.5, 1e-9);
  EXPECT_NEAR(foot.y, 0, 1e-9);
  EXPECT_NEAR(distance, 0.1 * cDegToRad * R, 1e-6);
  net.DistanceToLink({0.5, -0.1}, 1, percent, side, distance, foot);
  EXPECT_EQ(side, 1);

  const TFloatPoint P{10.3, 50.4};
  net.DistanceToLink(P, 2, percent, side, distance, foot);
  const auto rad = [](TFloatPoint q) { return TFloatPoint{q.x * cDegToRad, q.y * cDegToRad}; };
  const double oracle = std::min(ArcDistance(rad({10, 50}), rad({10.5, 50.2}), rad(P)),
                                 ArcDistance(rad({10.5, 50.2}), rad({11, 50}), rad(P)));
  EXPECT_NEAR(distance / R, oracle, 1e-9);
  // The foot lies at that distance from P.
  EXPECT_NEAR(GreatCircleAngleDeg(foot, P), oracle, 1e-9);

  // Crow-fly distances against the haversine written out.
  const TFloatPoint Q{11, 48};
  const double dlat = (Q.y - P.y) * cDegToRad, dlon = (Q.x - P.x) * cDegToRad;
  const double h = std::sin(dlat / 2) * std::sin(dlat / 2) +
                   std::cos(P.y * cDegToRad) * std::cos(Q.y * cDegToRad) * std::sin(dlon / 2) * std::sin(dlon / 2);
  EXPECT_NEAR(net.DistanceBetweenPoints(P, Q), 2 * std::asin(std::sqrt(h)) * 6378.13, 1e-9);
  EXPECT_EQ(net.DistanceBetweenLocations({2, 0.3}, {2, 0.3}), 0);
  EXPECT_NEAR(net.DistanceToNode({0, 0}, net.Link2ToNode(1)), cDegToRad * R, 1e-9);
}

TEST_F(Geometry, LocationPointsAndSidewaysOffsets) {
  {
    TNetwork& net = Planar();
    EXPECT_EQ(net.Location2Coordinate({7, 0}, 0), (TFloatPoint{20, 0}));
    EXPECT_EQ(net.Location2Coordinate({7, 1}, 0), (TFloatPoint{10, 0}));
    // Positions follow the stored Single length: 1e-7 relative.
    const TFloatPoint mid = net.Location2Coordinate({1, 0.5}, 0.002);  // 2 m right: south
    EXPECT_NEAR(mid.x, 5, 1e-6);
    EXPECT_NEAR(mid.y, 98, 1e-9);
    // The last segment of link 9 has length 0: the one before gives the direction.
    const TFloatPoint end = net.Location2Coordinate({9, 1}, 0.001);
    EXPECT_EQ(end, (TFloatPoint{40, -1}));
    // A section of one point repeated keeps the point.
    const TFloatPointArrayEx still = Poly({{7, 7}, {7, 7}});
    EXPECT_EQ(net.Location2CoordinateOnSection(still, {1, 0.5}, 0.001), (TFloatPoint{7, 7}));
    // A stored length beyond a zero-length last segment gives its start.
    int32_t segment = -1;
    EXPECT_EQ(net.PointAtPercent(still, {1, 0.5}, segment), (TFloatPoint{7, 7}));
    EXPECT_EQ(segment, 1);
  }
  TNetwork& net = Degrees();
  const TFloatPoint north = net.Location2Coordinate({1, 0.5}, 1);  // 1 km left: north
  EXPECT_NEAR(north.x, 0.5, 1e-7);
  EXPECT_NEAR(north.y, 1 / 6378.13 * 57.29577951308232, 1e-9);
}

TEST_F(Geometry, LocationListsChangeOnlyWhenEveryLinkIsValid) {
  TNetwork& net = Planar();
  TLocationList LL;
  LL.Add2(1, 0.5);
  LL.Add2(99, 0.5);
  EXPECT_EQ(MessageOf<EOutOfRange>([&] { net.Location2CoordinateList(LL, 0); }), "Link-ID must be <=9: 99");
  EXPECT_EQ(LL.GetItem(0).P, cZeroPoint);
  LL.Delete(1);
  net.Location2CoordinateList(LL, 0);
  EXPECT_NEAR(LL.GetItem(0).P.x, 5, 1e-6);
  EXPECT_EQ(LL.GetItem(0).P.y, 100);
}

TEST_F(Geometry, MatricesAndSplitting) {
  TNetwork& net = Planar();
  TLocationList LL;
  LL.Add5(0, 0);
  LL.Add5(3, 4);
  LL.Add5(6, 8);
  const TMatrix M = net.MatrixDyn(LL, true);
  ASSERT_EQ(M.size(), 4u);
  for (const auto& row : M) ASSERT_EQ(row.size(), 4u);
  EXPECT_FLOAT_EQ(M[0][1], 0.005f);
  EXPECT_FLOAT_EQ(M[2][0], 0.010f);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(M[3][size_t(i)] + M[size_t(i)][3] + M[size_t(i)][size_t(i)], 0);
  EXPECT_EQ(net.MatrixDyn2(LL, TLocationList{}).size(), 3u);

  TIntegerList NL;
  NL.Add(net.Link2FromNode(1));
  NL.Add(net.Link2ToNode(1));
  NL.Add(net.Link2ToNode(2));
  const TMatrix N = net.Matrix(NL, true);
  ASSERT_EQ(N.size(), 4u);
  EXPECT_FLOAT_EQ(N[0][1], 0.010f);
  EXPECT_EQ(N[3][1], 0);

  // Link 1 is 10 m long: 5 m pieces give one point, not a second one on the to-node.
  TLocationList pieces;
  net.Split(0.005f, false, pieces);
  int32_t onLink1 = 0;
  for (int32_t i = 0; i < pieces.Count(); ++i)
    if (pieces.GetItem(i).loc.link == 1) {
      ++onLink1;
      EXPECT_NEAR(double(pieces.GetItem(i).loc.percent), 0.5, 1e-6);  // a packed field: copied
      EXPECT_NEAR(pieces.GetItem(i).P.x, 5, 1e-4);
    }
  EXPECT_EQ(onLink1, 1);
  net.Split(0.004f, true, pieces);  // 10 m in 3 even pieces
  std::vector<double> even;
  for (int32_t i = 0; i < pieces.Count(); ++i)
    if (pieces.GetItem(i).loc.link == 1) even.push_back(double(pieces.GetItem(i).loc.percent));
  ASSERT_EQ(even.size(), 2u);
  EXPECT_NEAR(even[0], 1.0 / 3, 1e-6);
  EXPECT_NEAR(even[1], 2.0 / 3, 1e-6);

  const int32_t kept = pieces.Count();
  for (const float bad : {0.0f, -1.0f, NAN}) {
    const std::string m = MessageOf<EOutOfRange>([&] { net.Split(bad, false, pieces); });
    EXPECT_EQ(m.rfind("Distance should be >0 (is ", 0), 0u) << m;
  }
  EXPECT_EQ(pieces.Count(), kept);  // a refused split leaves the list alone
  EXPECT_NE(MessageOf<EOutOfRange>([&] { net.Split(1e-30f, false, pieces); }).find("more than 2147483647"),
            std::string::npos);
}

TEST_F(Geometry, RandomDrawsTurnAnglesAndLookups) {
  TNetwork& net = Planar();
  TRandom r;
  r.SetSeed(7);
  for (int i = 0; i < 2000; ++i) {
    const int32_t n = net.RandomNode(r);
    ASSERT_TRUE(n >= 1 && n <= net.NodeCount()) << n;
  }
  for (int i = 0; i < 200; ++i) {
    const TFloatPoint p = net.RandomPoint(r);
    ASSERT_TRUE(std::isfinite(p.x) && std::isfinite(p.y));
  }

  const int32_t meet = net.Link2ToNode(5);
  EXPECT_EQ(net.Direction(5, meet, 5), 180);
  EXPECT_EQ(net.Direction(1, net.Link2ToNode(1), 1), 180);
  // Arriving eastwards along 5 (last segment from (5, 2)) and leaving north along 8.
  EXPECT_EQ(net.Direction(5, meet, 8), TurnAnglePlanar({5, 2}, {10, 0}, {10, 10}));
  EXPECT_EQ(MessageOf<Exception>([&] { net.Direction(1, meet, 5); }),
            Format("Link 1 and node %d are not connected", meet));
  EXPECT_EQ(MessageOf<EOutOfRange>([&] { net.Direction(0, meet, 5); }), "Link-ID must be >=1: 0");

  EXPECT_EQ(MessageOf<EOutOfRange>([&] { net.GetCost(0, 1); }), "Index must be 0 to -1 (is 0)");
  EXPECT_EQ(MessageOf<Exception>([&] { net.ExternalID2Link("12"); }), "External ID is not open");
}

TEST_F(Geometry, ExternalIdsFindTheirLinks) {
  TTestNetworkWriter w;
  w.AddLink({{0, 0}, {1, 0}});
  w.AddLink({{1, 0}, {2, 0}});
  w.SetExternalIDs(std::vector<int32_t>{17, 42});
  TNetwork& net = Open(w, false, false, 1);
  EXPECT_EQ(net.ExternalID2Link("42"), 2);
  EXPECT_EQ(net.ExternalID2Link("5"), 0);
  EXPECT_EQ(MessageOf<EConvertError>([&] { net.ExternalID2Link("x"); }), "'x' is not a valid integer value");
}

TEST_F(Geometry, RawPolylinesAllocateNothingAndAgreeAcrossThreads) {
  TTestNetworkWriter w;
  w.AddGrid(GridForLinks(2000, 12));
  TNetwork& net = Open(w);
  TFloatPointArrayEx buffer;
  buffer.Pnt.resize(64);
  const int64_t before = tAllocations;
  double sum = 0;
  for (int32_t l = 1; l <= net.LinkCount(); ++l) {
    net.GetGISSection_raw(l, buffer);
    sum += buffer.Pnt[size_t(buffer.Count) - 1].x;
  }
  if (KOVRA_COUNT_ALLOCATIONS) {
    EXPECT_EQ(tAllocations - before, 0);
  }
  EXPECT_GT(sum, 0);

  // Results of the unchecked operations from one thread...
  std::vector<double> expected;
  for (int32_t l = 1; l <= net.LinkCount(); ++l) {
    const TFloatPoint p = net.Location2Coordinate_raw({l, 0.37}, 0.001);
    double percent, distance;
    int32_t side;
    TFloatPoint foot;
    net.DistanceToLink_raw({p.x + 3, p.y - 2}, l, percent, side, distance, foot);
    expected.push_back(p.x + p.y + percent + distance + side);
  }
  // ...equal those of eight at once.
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&, t] {
      for (int32_t l = 1 + t; l <= net.LinkCount(); l += 3) {
        const TFloatPoint p = net.Location2Coordinate_raw({l, 0.37}, 0.001);
        double percent, distance;
        int32_t side;
        TFloatPoint foot;
        net.DistanceToLink_raw({p.x + 3, p.y - 2}, l, percent, side, distance, foot);
        if (expected[size_t(l) - 1] != p.x + p.y + percent + distance + side) ++mismatches;
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
