#include "foundation/kovra_geometry.h"

#include <gtest/gtest.h>
#include <ogr_api.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <numbers>
#include <random>
#include <sstream>
#include <string>
#include <vector>

using namespace kovra;

namespace {

TFloatPointArrayEx2 Ring(std::vector<TFloatPoint> pts) {
  TFloatPointArrayEx2 r;
  r.Pnt = std::move(pts);
  r.Last = int32_t(r.Pnt.size()) - 1;
  return r;
}

TFloatPointArrayEx Line(std::vector<TFloatPoint> pts) {
  TFloatPointArrayEx l;
  l.Pnt = std::move(pts);
  l.Count = int32_t(l.Pnt.size());
  return l;
}

const double kPi = std::numbers::pi;

}  // namespace

TEST(Geometry, CentralAnglesAndBearings) {
  const double a = GreatCircleAngleDeg({0, 0}, {90, 0});
  EXPECT_DOUBLE_EQ(a, kPi / 2);
  EXPECT_NEAR(a * cEarthRadiusKm, 10018.74, 0.01);
  EXPECT_DOUBLE_EQ(GreatCircleAngleGrad({0, 0}, {100, 0}), kPi / 2);
  EXPECT_EQ(GreatCircleAngleDeg({12.5, 47}, {12.5, 47}), 0.0);

  struct Case { TFloatPoint to; double expected; };
  for (const Case& c : {Case{{1, 0}, 3 * kPi / 2}, Case{{0, 1}, 0}, Case{{-1, 0}, kPi / 2}}) {
    EXPECT_NEAR(BearingDeg({0, 0}, c.to), c.expected, 1e-12) << c.to.x << "," << c.to.y;
    EXPECT_NEAR(BearingGrad({0, 0}, c.to), c.expected, 1e-12) << c.to.x << "," << c.to.y;
  }
  // A hair east of north: the raw angle is a tiny negative one, which brought
  // into [0, 2 pi) would round to 2 pi itself.
  EXPECT_EQ(BearingDeg({0, 0}, {1e-20, 1}), 0.0);
  EXPECT_EQ(BearingGrad({0, 0}, {1e-20, 1}), 0.0);
  EXPECT_LT(BearingDeg({0, 0}, {1e-9, 1}), 2 * kPi);
}

TEST(Geometry, TurnAngles) {
  struct Case { TFloatPoint p1, p2, p3; int32_t deg; };
  const Case cases[] = {
      {{0, 0}, {0, 1}, {-1, 1}, 90},   // north, then west: left
      {{0, 0}, {0, 1}, {1, 1}, 270},   // north, then east: right
      {{0, 0}, {0, 1}, {0, 2}, 0},     // straight on
      {{0, 0}, {0, 1}, {0, 0}, 180},   // back
      {{0, 0}, {0, 0}, {1, 1}, 0},     // zero-length first step
      {{0, 0}, {1, 1}, {1, 1}, 0},     // zero-length second step
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TurnAngleDeg(c.p1, c.p2, c.p3), c.deg) << c.p3.x << "," << c.p3.y;
    auto rad = [](TFloatPoint p) { return TFloatPoint{p.x * cDegToRad, p.y * cDegToRad}; };
    EXPECT_EQ(TurnAngleRad(rad(c.p1), rad(c.p2), rad(c.p3)), c.deg);
  }
  // A latitude beyond the pole makes the course undefined: angle 0, not an error.
  EXPECT_EQ(TurnAngleDeg({0, 0}, {0, 100}, {1, 1}), 0);

  EXPECT_EQ(TurnAnglePlanar({0, 0}, {1, 0}, {1, 1}), 90);
  EXPECT_EQ(TurnAnglePlanar({0, 0}, {1, 0}, {2, 0}), 0);
  EXPECT_EQ(TurnAnglePlanar({0, 0}, {1, 0}, {1, -1}), 270);

  struct Dir { double dx, dy, deg; };
  for (const Dir& d : {Dir{0, 0, 0}, Dir{-1, 0, 180}, Dir{0, -1, 270}, Dir{1, -1, 315}, Dir{0, 2, 90},
                       Dir{1, 1, 45}, Dir{-1, 1, 135}, Dir{-1, -1, 225}})
    EXPECT_DOUBLE_EQ(DirectionAngle(d.dx, d.dy), d.deg) << d.dx << "," << d.dy;
}

TEST(Geometry, Rectangles) {
  TFloatRect r = GrowRectPercent({0, 0, 10, 20}, 10);
  EXPECT_DOUBLE_EQ(r.xmin, -1);
  EXPECT_DOUBLE_EQ(r.ymin, -2);
  EXPECT_DOUBLE_EQ(r.xmax, 11);
  EXPECT_DOUBLE_EQ(r.ymax, 22);
  r = GrowRectPercent({0, 0, 10, 20}, -10);
  EXPECT_DOUBLE_EQ(r.xmin, 1);
  EXPECT_DOUBLE_EQ(r.ymax, 18);

  const TFloatRect zero{0, 0, 0, 0};
  r = GrowRectKm(zero, cuDeg, 1, 40);
  EXPECT_DOUBLE_EQ(r.xmin, -0.36);
  EXPECT_DOUBLE_EQ(r.ymin, -0.36);
  EXPECT_DOUBLE_EQ(r.xmax, 0.36);
  EXPECT_DOUBLE_EQ(r.ymax, 0.36);
  r = GrowRectKm(zero, cuM, 0.001, 40);
  EXPECT_DOUBLE_EQ(r.xmin, -40000);
  EXPECT_DOUBLE_EQ(r.ymax, 40000);
  // East-west growth at the latitude of ymax: cos 60 deg = 0.5.
  r = GrowRectKm(TFloatRect{0, 50, 0, 60}, cuDeg, 1, 40);
  EXPECT_NEAR(r.xmax, 0.72, 1e-12);
  EXPECT_DOUBLE_EQ(r.ymax, 60.36);
  // The same latitude in grads (200/3 grad = 60 degrees).
  r = GrowRectKm(TFloatRect{0, 0, 0, 200.0 / 3}, cuGrad, 1, 40);
  EXPECT_NEAR(r.xmax, 0.8, 1e-12);
  EXPECT_NEAR(r.ymin, -0.4, 1e-15);
  r = GrowRectKm(TFloatRect{0, 0, 0, 0}, cuRad, 1, 40);
  EXPECT_NEAR(r.xmax, 0.001 * cTwoPi, 1e-15);

  // The in-place form of the other subsystems.
  TFloatRect v{0, 0, 0, 0};
  GrowRectKm(v, cuKm, 1, 5);
  EXPECT_DOUBLE_EQ(v.xmin, -5);
  EXPECT_DOUBLE_EQ(v.ymax, 5);

  TFloatRect e{1, 1, 1, 1};
  for (TFloatPoint p : {TFloatPoint{3, -2}, TFloatPoint{-4, 7}, TFloatPoint{0, 0}}) ExtendRect(e, p);
  EXPECT_EQ(e.xmin, -4);
  EXPECT_EQ(e.ymin, -2);
  EXPECT_EQ(e.xmax, 3);
  EXPECT_EQ(e.ymax, 7);
}

TEST(Geometry, RingsAndLines) {
  const TFloatPointArrayEx2 square = Ring({{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}});
  EXPECT_TRUE(PointInPolygon({0, 0}, square));
  EXPECT_FALSE(PointInPolygon({1, 1}, square));
  EXPECT_TRUE(PointInPolygon({0.5, 0.5}, square));
  EXPECT_FALSE(PointInPolygon({0.5, 0.5}, Ring({})));

  EXPECT_FALSE(IsClockwise(square));
  EXPECT_TRUE(IsClockwise(Ring({{0, 0}, {0, 1}, {1, 1}, {1, 0}, {0, 0}})));

  TFloatPointArrayEx2 l = Ring({{1, 1}, {2, 2}, {3, 3}});
  l.Z1 = 1; l.Z2 = 2; l.Zi1 = 3; l.Zi2 = 4; l.Side1 = 5; l.Side2 = 6;
  ReversePolyline(l);
  EXPECT_EQ(l.Pnt[0].x, 3);
  EXPECT_EQ(l.Pnt[1].x, 2);
  EXPECT_EQ(l.Pnt[2].x, 1);
  EXPECT_EQ(l.Z1, 2); EXPECT_EQ(l.Z2, 1);
  EXPECT_EQ(l.Zi1, 4); EXPECT_EQ(l.Zi2, 3);
  EXPECT_EQ(l.Side1, 6); EXPECT_EQ(l.Side2, 5);
  TFloatPointArrayEx2 four = Ring({{1, 0}, {2, 0}, {3, 0}, {4, 0}});
  ReversePolyline(four);
  EXPECT_EQ(four.Pnt[0].x, 4); EXPECT_EQ(four.Pnt[1].x, 3); EXPECT_EQ(four.Pnt[3].x, 1);

  const TFloatPointArrayEx2 poly = Ring({{0, 0}, {2, 0}, {2, 2}});
  EXPECT_TRUE(SegmentCrossesPolyline({2, 2}, {3, 5}, poly));     // touches the end point only
  EXPECT_TRUE(SegmentCrossesPolyline({1, -1}, {1, 1}, poly));    // crosses the first segment
  EXPECT_FALSE(SegmentCrossesPolyline({3, 3}, {4, 5}, poly));
  EXPECT_FALSE(SegmentCrossesPolyline({0, 1}, {1, 1}, poly));    // stops short
  EXPECT_FALSE(SegmentCrossesPolyline({0, 0}, {1, 0}, poly));    // collinear: skipped

  EXPECT_TRUE(IsStrictlyBetween(1, 0, 2));
  EXPECT_TRUE(IsStrictlyBetween(1, 2, 0));
  EXPECT_FALSE(IsStrictlyBetween(0, 0, 2));

  TRoute route;
  route.links = {7};
  route.percent1 = route.percent2 = 0.3;
  EXPECT_TRUE(RouteIsPoint(route));
  route.percent2 = 0.4;
  EXPECT_FALSE(RouteIsPoint(route));
  route.links = {7, 8};
  route.percent2 = 0.3;
  EXPECT_FALSE(RouteIsPoint(route));
}

TEST(Geometry, DefectScores) {
  struct Case { std::vector<TFloatPoint> pts; TCoordinateUnit unit; int32_t score; };
  const Case cases[] = {
      {{{0, 0}, {1, 0}}, cuM, 0},
      {{{0, 0}}, cuM, 0},
      {{{0, 0}, {1, 0}, {0, 0}}, cuM, 1},                       // duplicate
      {{{0, 0}, {10, 0}, {0, 0.5}}, cuM, 300},                  // turn of 177
      {{{0, 0}, {2, 2}, {2, 0}, {0, 2}}, cuM, 2},               // bow-tie
      {{{0, 0}, {1, 0}, {1, 1}, {0.5, -1}}, cuM, 2},            // crossing a vertical segment
      {{{0, 0}, {0, 2}, {1, 2}, {1, 1}, {-1, 1}}, cuM, 2},      // vertical i, sloped j
      {{{0, 0}, {0, 3}, {1, 3}, {1, 4}, {0, 4}, {0, 1}}, cuM, 2},  // overlapping verticals
      {{{0, 0}, {1, 1}, {2, 0}, {3, 1}}, cuM, 0},               // zigzag
      {{{0, 0}, {0, 1}, {0.01, 0}}, cuDeg, 6900},               // sharp spherical turn (~179)
      {{{0, 0}, {10, 0}, {0, 0.5}, {5, -1}}, cuM, 302},         // turn and crossing
      {{{0, 0}, {10, 0}, {12, 3}, {8, 0}, {3, 0}}, cuM, 2},     // overlapping horizontals
      {{{0, 0}, {0, 10}, {3, 12}, {0, 8}, {0, 3}}, cuM, 2},     // the same turned vertical
      {{{0, 0}, {10, 10}, {12, 9}, {8, 8}, {3, 3}}, cuM, 2},    // overlapping diagonals
      {{{0, 0}, {4, 0}, {6, 3}, {9, 0}, {5, 0}}, cuM, 0},       // collinear, apart
  };
  for (const Case& c : cases) {
    const int32_t got = PolylineDefectScore(Line(c.pts), c.unit, 10);
    if (c.unit == cuDeg)
      EXPECT_EQ(got % 100, c.score % 100);  // the spherical deviation is checked below
    else
      EXPECT_EQ(got, c.score) << "points " << c.pts.size();
  }
  // The spherical sharp turn: the deviation is read back as score div 100.
  const int32_t s = PolylineDefectScore(Line({{0, 0}, {0, 1}, {0.01, 0}}), cuDeg, 10);
  const int32_t a = TurnAngleDeg({0, 0}, {0, 1}, {0.01, 0});
  EXPECT_EQ(s, std::abs(180 - a) * 100);
  EXPECT_GT(s, 0);
  // A full reversal lies in the window but scores 0 (left open by the design).
  EXPECT_EQ(PolylineDefectScore(Line({{0, 0}, {1, 0}, {0.5, 0}}), cuM, 10), 0);
}

TEST(Geometry, ExplicitErrorsInsteadOfTraps) {
  EXPECT_THROW(IsClockwise(Ring({{0, 0}})), EDivByZero);
  TFloatPointArrayEx2 empty;
  empty.Last = -1;
  EXPECT_THROW(IsClockwise(empty), EDivByZero);
  EXPECT_THROW(GreatCircleAngleDeg({0, 100}, {0, 0}), EInvalidOp);
  EXPECT_THROW(GreatCircleAngleGrad({0, 0}, {0, 130}), EInvalidOp);
  EXPECT_THROW(GrowRectKm(TFloatRect{0, 0, 1, 1}, cuM, 0, 5), EZeroDivide);
  EXPECT_THROW(GrowRectKm(TFloatRect{0, 0, 1, 1}, cuM, 0, 0), EInvalidOp);
  // Slope overflow: dx 1e-300, dy 1e300.
  EXPECT_THROW(PolylineDefectScore(Line({{0, 0}, {1e-300, 1e300}, {5, 7}, {9, -3}}), cuM, 10), EOverflow);
  EXPECT_THROW(SegmentCrossesPolyline({0, 0}, {1e-300, 1e300}, Ring({{0, 1e300}, {1e300, -1e300}})), EOverflow);
}

// Turn angles and bearings against an independent python3 evaluation of the same
// formulas, on random triples including poles, near-antipodes and repeated points.
TEST(Geometry, TurnAnglesMatchPythonOracle) {
  const std::string cmd = std::string("python3 ") + KOVRA_TEST_SCRIPTS_DIR + "/geometry_oracle.py 10000";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(cmd.c_str(), "r"), pclose);
  ASSERT_TRUE(pipe);
  std::string text;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe.get())) > 0) text.append(buf, n);
  std::istringstream in(text);
  std::string line;
  int rows = 0, compared = 0;
  auto num = [](const std::string& s) {
    double v = 0;
    std::from_chars(s.data(), s.data() + s.size(), v);
    return v;
  };
  while (std::getline(in, line)) {
    std::istringstream f(line);
    std::string unit, tok[9];
    f >> unit;
    for (auto& t : tok) f >> t;
    const TFloatPoint p1{num(tok[0]), num(tok[1])}, p2{num(tok[2]), num(tok[3])}, p3{num(tok[4]), num(tok[5])};
    const int32_t turn = int32_t(num(tok[6]));
    const double raw = num(tok[7]), bearing = num(tok[8]);
    const bool deg = unit == "deg";
    ++rows;
    const double frac = std::abs(raw - std::floor(raw) - 0.5);
    if (std::isnan(raw) || frac > 1e-9) {
      ++compared;
      EXPECT_EQ(deg ? TurnAngleDeg(p1, p2, p3) : TurnAngleGrad(p1, p2, p3), turn) << line;
    }
    EXPECT_NEAR(deg ? BearingDeg(p1, p2) : BearingGrad(p1, p2), bearing, 1e-12) << line;
  }
  EXPECT_EQ(rows, 20000);
  EXPECT_GT(compared, 19900);
}

// PointInPolygon against GEOS (through GDAL) on random star-shaped polygons, with
// points kept at least 1e-9 away from every edge.
TEST(Geometry, PointInPolygonMatchesGeos) {
  std::mt19937_64 rng(42);
  std::uniform_real_distribution<double> u01(0, 1);
  auto segDist = [](TFloatPoint p, TFloatPoint a, TFloatPoint b) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    double t = ((p.x - a.x) * dx + (p.y - a.y) * dy) / (dx * dx + dy * dy);
    t = std::clamp(t, 0.0, 1.0);
    return std::hypot(p.x - (a.x + t * dx), p.y - (a.y + t * dy));
  };
  int checked = 0, inside = 0;
  for (int poly = 0; poly < 200; ++poly) {
    const int nv = 3 + int(u01(rng) * 20);
    std::vector<double> ang(nv);
    for (double& a : ang) a = u01(rng) * 2 * kPi;
    std::sort(ang.begin(), ang.end());
    const double cx = u01(rng) * 100 - 50, cy = u01(rng) * 100 - 50;
    std::vector<TFloatPoint> pts;
    for (double a : ang) {
      const double r = 1 + u01(rng) * 9;
      pts.push_back({cx + r * std::cos(a), cy + r * std::sin(a)});
    }
    if (u01(rng) < 0.5) std::reverse(pts.begin(), pts.end());
    pts.push_back(pts.front());
    const TFloatPointArrayEx2 ring = Ring(pts);

    OGRGeometryH ogrRing = OGR_G_CreateGeometry(wkbLinearRing);
    for (const TFloatPoint& p : pts) OGR_G_AddPoint_2D(ogrRing, p.x, p.y);
    OGRGeometryH ogrPoly = OGR_G_CreateGeometry(wkbPolygon);
    OGR_G_AddGeometryDirectly(ogrPoly, ogrRing);
    for (int k = 0; k < 50; ++k) {
      const TFloatPoint p{cx + u01(rng) * 22 - 11, cy + u01(rng) * 22 - 11};
      double dmin = 1e300;
      for (size_t i = 0; i + 1 < pts.size(); ++i) dmin = std::min(dmin, segDist(p, pts[i], pts[i + 1]));
      if (dmin < 1e-9) continue;
      OGRGeometryH ogrPt = OGR_G_CreateGeometry(wkbPoint);
      OGR_G_SetPoint_2D(ogrPt, 0, p.x, p.y);
      const bool expected = OGR_G_Contains(ogrPoly, ogrPt);
      OGR_G_DestroyGeometry(ogrPt);
      EXPECT_EQ(PointInPolygon(p, ring), expected) << p.x << "," << p.y << " polygon " << poly;
      ++checked;
      inside += expected;
    }
    OGR_G_DestroyGeometry(ogrPoly);
  }
  EXPECT_GT(checked, 9000);
  EXPECT_GT(inside, 1000);
}
