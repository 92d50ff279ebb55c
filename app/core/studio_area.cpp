#include "app/core/studio_area.h"

#include <cmath>
#include <numbers>

namespace studio {

using kovra::TFloatPoint;

namespace {

constexpr double cDegToRad = 0.017453292519943295;
constexpr double cTwoPi = 2 * std::numbers::pi;
// Square feet in a square kilometre.
constexpr double cSqFtPerKm2 = 10763910.416709721;

// The bearing from Q to X, 0 .. 2 pi.
double Bearing(const TFloatPoint& Q, const TFloatPoint& X) {
  const double dlon = Q.x - X.x;
  const double s = std::sin(dlon / 2);
  // cos latQ sin latX - sin latQ cos latX cos dlon, written without the
  // difference of two nearly equal products: for corners a few metres apart
  // that difference loses every digit of the bearing, and with it the area.
  const double north = std::sin(X.y - Q.y) + 2 * std::sin(Q.y) * std::cos(X.y) * s * s;
  double b = std::atan2(std::sin(dlon) * std::cos(X.y), north);
  while (b < 0) b += cTwoPi;
  while (b > cTwoPi) b -= cTwoPi;
  return b;
}

}  // namespace

double VertexAngle(const TFloatPoint& P, const TFloatPoint& Q, const TFloatPoint& R) {
  double d = Bearing(Q, R) - Bearing(Q, P);
  if (d < 0) d += cTwoPi;
  if (d > std::numbers::pi) d = cTwoPi - d;
  return d;
}

double SphericalExcess(const TFloatPoint& P, const TFloatPoint& Q, const TFloatPoint& R) {
  return VertexAngle(P, Q, R) + VertexAngle(Q, R, P) + VertexAngle(R, P, Q) - std::numbers::pi;
}

double RectExcess(const TFloatPoint& P1, const TFloatPoint& P2) {
  const TFloatPoint A{P1.x, P1.y}, B{P1.x, P2.y}, C{P2.x, P1.y}, D{P2.x, P2.y};
  return SphericalExcess(A, B, C) + SphericalExcess(B, C, D);
}

double MBRArea(const TFloatPoint& P1, const TFloatPoint& P2) {
  // A flat rectangle has two equal corners, and a bearing between equal
  // points is no angle: the sum below would be garbage (-493216 km2 for a
  // rectangle 2 degrees wide and 0 high).
  if (P1.x == P2.x || P1.y == P2.y) return 0;
  const TFloatPoint a{P1.x * cDegToRad, P1.y * cDegToRad}, b{P2.x * cDegToRad, P2.y * cDegToRad};
  return kovra::cEarthRadiusKm * kovra::cEarthRadiusKm * RectExcess(a, b);
}

double NetworkArea(const kovra::TFloatRect& MBR, kovra::TCoordinateUnit Unit) {
  const double w = MBR.xmax - MBR.xmin, h = MBR.ymax - MBR.ymin;
  // A network without a valid link has an empty (or unset) rectangle; a
  // flat one has no area, and NaN or infinity must not reach the report.
  if (!(w > 0 && h > 0) || !std::isfinite(w) || !std::isfinite(h)) return 0;
  double A = 0;
  switch (Unit) {
    case kovra::cuDeg: A = MBRArea({MBR.xmin, MBR.ymin}, {MBR.xmax, MBR.ymax}); break;
    case kovra::cuM: A = w * h / 1000000; break;
    case kovra::cuFt: A = w * h / cSqFtPerKm2; break;
    default: return 0;
  }
  return std::isfinite(A) ? A : 0;
}

}  // namespace studio
