// Projection of a point onto a link and the turn angle between two links.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "foundation/kovra_geometry.h"
#include "network/kovra_network.h"
#include "network/kovra_network_geometry.h"

namespace kovra {

using namespace geometry;

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
    TSegmentFoot c = angular ? SegmentFootSphere({A.x * f, A.y * f}, {B.x * f, B.y * f}, Pr) : SegmentFootPlanar(A, B, Pr);
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
