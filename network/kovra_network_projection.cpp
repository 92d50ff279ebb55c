// Projection of a point onto a link and the turn angle between two links.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "foundation/kovra_geometry.h"
#include "network/kovra_network.h"
#include "network/kovra_network_geometry.h"

namespace kovra {

using namespace geometry;

namespace {

constexpr double cPi = std::numbers::pi;

struct TFoot {
  double d;  // distance from P, in the unit's measure
  double a;  // along the segment from A
  double m;  // segment length
  int32_t side;
  TFloatPoint F;
};

TFoot PlanarFoot(const TFloatPoint& A, const TFloatPoint& B, const TFloatPoint& P) {
  TFoot r{};
  const double g = (B.x - A.x) * (B.x - A.x) + (B.y - A.y) * (B.y - A.y);
  const double h = (P.x - A.x) * (P.x - A.x) + (P.y - A.y) * (P.y - A.y);
  r.m = std::sqrt(g);
  const double cross = (A.y - B.y) * P.x + (B.x - A.x) * P.y + (A.x * B.y - B.x * A.y);
  r.side = cross > 0 ? -1 : 1;
  if (g == 0 || h == 0) {
    r.F = A, r.d = std::sqrt(h), r.a = 0;
    return r;
  }
  const double o = (P.x - B.x) * (P.x - B.x) + (P.y - B.y) * (P.y - B.y);
  if (o == 0) {
    r.F = B, r.d = 0, r.a = r.m;
  } else if (o > g + h) {
    r.F = A, r.d = std::sqrt(h), r.a = 0;
  } else if (h > g + o) {
    r.F = B, r.d = std::sqrt(o), r.a = r.m;
  } else {
    const double t = ((P.x - A.x) * (B.x - A.x) + (P.y - A.y) * (B.y - A.y)) / g;
    r.F = {A.x + t * (B.x - A.x), A.y + t * (B.y - A.y)};
    r.d = std::fabs(cross) / r.m;
    r.a = r.m * t;
  }
  return r;
}

// A, B, P in radians; F comes back in radians.
TFoot SphericalFoot(const TFloatPoint& A, const TFloatPoint& B, const TFloatPoint& P) {
  TFoot r{};
  r.m = GreatCircleAngleRad(A, B);
  const double rr = GreatCircleAngleRad(A, P);
  const double bearingAB = BearingRad(A, B);
  r.side = ReduceTwoPi(bearingAB - BearingRad(A, P)) < cPi ? 1 : -1;
  if (r.m == 0 || rr == 0) {
    r.F = A, r.d = rr, r.a = 0;
    return r;
  }
  const double v = GreatCircleAngleRad(B, P);
  if (v == 0) {
    r.F = B, r.d = 0, r.a = r.m;
    return r;
  }
  const double alpha = std::acos(
      std::clamp((std::cos(v) - std::cos(rr) * std::cos(r.m)) / (std::sin(rr) * std::sin(r.m)), -1.0, 1.0));
  if (alpha >= cPi / 2) {
    r.F = A, r.d = rr, r.a = 0;
    return r;
  }
  if ((std::cos(rr) - std::cos(v) * std::cos(r.m)) / (std::sin(v) * std::sin(r.m)) <= 0) {
    r.F = B, r.d = v, r.a = r.m;
    return r;
  }
  const double x = std::asin(std::clamp(std::sin(alpha) * std::sin(rr), -1.0, 1.0));
  r.d = x;
  r.a = ReduceTwoPi(2 * std::atan2(std::cos((alpha + cPi / 2) / 2) * std::sin((x + rr) / 2),
                                   std::cos((alpha - cPi / 2) / 2) * std::cos((x + rr) / 2)));
  const double latF = std::asin(std::clamp(
      std::sin(A.y) * std::cos(r.a) + std::cos(A.y) * std::sin(r.a) * std::cos(bearingAB), -1.0, 1.0));
  double lonF = A.x;
  if (std::cos(latF) != 0)
    lonF = ReduceTwoPi(A.x - std::asin(std::clamp(std::sin(bearingAB) * std::sin(r.a) / std::cos(latF), -1.0, 1.0)) +
                       cPi) -
           cPi;
  r.F = {lonF, latF};
  return r;
}

}  // namespace

void TNetwork::DistanceToLink_raw(const TFloatPoint& P, int32_t link, double& percent, int32_t& side,
                                  double& distance, TFloatPoint& Pnew) const {
  thread_local TFloatPointArrayEx poly;
  GetGISSection_raw(link, poly);
  const bool angular = IsAngular(FCoordinateUnit);
  const double f = ToRadians(FCoordinateUnit), back = FromRadians(FCoordinateUnit);
  const TFloatPoint Pr = angular ? TFloatPoint{P.x * f, P.y * f} : P;
  double run = 0, along = 0;
  distance = 0;
  side = 1;
  Pnew = poly.Pnt[0];
  for (int32_t i = 1; i < poly.Count; ++i) {
    const TFloatPoint& A = poly.Pnt[size_t(i) - 1];
    const TFloatPoint& B = poly.Pnt[size_t(i)];
    TFoot c = angular ? SphericalFoot({A.x * f, A.y * f}, {B.x * f, B.y * f}, Pr) : PlanarFoot(A, B, Pr);
    // On equal distances the earlier segment wins.
    if (i == 1 || c.d < distance) {
      distance = c.d;
      along = run + c.a;
      side = c.side;
      Pnew = angular ? TFloatPoint{c.F.x * back, c.F.y * back} : c.F;
    }
    run += c.m;
  }
  percent = run == 0 ? 0 : along / run;
  distance *= FDistfactor;
}

void TNetwork::DistanceToLink(const TFloatPoint& P, int32_t link, double& percent, int32_t& side,
                              double& distance, TFloatPoint& Pnew) const {
  CheckOpen();
  CheckLink(link);
  CheckCoordinate(P);
  DistanceToLink_raw(P, link, percent, side, distance, Pnew);
}

double TNetwork::DistanceToLinkSimple(const TFloatPoint& P, int32_t link) const {
  double percent = 0, distance = 0;
  int32_t side = 0;
  TFloatPoint Pnew{};
  DistanceToLink(P, link, percent, side, distance, Pnew);
  return distance;
}

int32_t TNetwork::Direction(int32_t link1, int32_t node, int32_t link2) const {
  CheckLinkRange(link1);
  CheckLinkRange(link2);
  CheckNode(node);
  auto approach = [&](int32_t link, const TFloatPointArrayEx& poly) {
    if (Fromnode[size_t(link)] == node) return poly.Pnt[1];
    if (tonode[size_t(link)] == node) return poly.Pnt[size_t(poly.Count) - 2];
    throw Exception(Format(cMsgNotConnected, link, node));
  };
  TFloatPointArrayEx poly1, poly2;
  GetGISSection_raw(link1, poly1);
  const TFloatPoint P1 = approach(link1, poly1);
  GetGISSection_raw(link2, poly2);
  const TFloatPoint P2 = approach(link2, poly2);
  const TFloatPoint C = Node2Coordinate_raw(node);
  switch (FCoordinateUnit) {
    case cuRad: return TurnAngleRad(P1, C, P2);
    case cuDeg: return TurnAngleDeg(P1, C, P2);
    case cuGrad: return TurnAngleGrad(P1, C, P2);
    default: return TurnAnglePlanar(P1, C, P2);
  }
}

}  // namespace kovra
