#include "foundation/kovra_geometry.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <vector>

namespace kovra {

namespace {

// sin^2(dlat/2) + cos(lat1) cos(lat2) sin^2(dlon/2), all in radians, with the
// two cosines given.
inline double HaversineRadicand(double lon1, double lat1, double lon2, double lat2, double cos1, double cos2) {
  const double sa = std::sin((lat1 - lat2) / 2);
  const double sb = std::sin((lon1 - lon2) / 2);
  return sa * sa + cos1 * cos2 * sb * sb;
}

// A latitude beyond the pole (negative cosine) is an invalid operation: the
// radicand stays non-negative there, so checking it alone would let such a
// coordinate through with a mirrored angle.
inline bool ValidLatitudes(double cos1, double cos2, double radicand) {
  return cos1 >= 0 && cos2 >= 0 && radicand >= 0;
}

double CentralAngle(double lon1, double lat1, double lon2, double lat2) {
  const double cos1 = std::cos(lat1), cos2 = std::cos(lat2);
  const double r = HaversineRadicand(lon1, lat1, lon2, lat2, cos1, cos2);
  if (!ValidLatitudes(cos1, cos2, r)) RaiseInvalidOp();
  double s = std::sqrt(r);
  if (!(s < 1)) s = 1;
  return 2 * std::asin(s);
}

double NormalizedBearing(double lon1, double lat1, double lon2, double lat2) {
  const double delta = lon1 - lon2;
  const double b = std::atan2(std::sin(delta) * std::cos(lat2),
                              std::cos(lat1) * std::sin(lat2) - std::sin(lat1) * std::cos(lat2) * std::cos(delta));
  return ReduceTwoPi(b);
}

// Course from A to B in degrees counter-clockwise from north (radian input).
// Returns false where the course is undefined: equal or antipodal-degenerate
// points (zero denominator), a latitude beyond the pole, a non-finite quotient.
[[gnu::always_inline]] inline bool Course(const TFloatPoint& A, const TFloatPoint& B, double& c) {
  const double cosAy = std::cos(A.y);
  if (cosAy < 1e-30) {
    c = A.y > 0 ? 270 : 90;
    return true;
  }
  const double cosBy = std::cos(B.y);
  const double r = HaversineRadicand(A.x, A.y, B.x, B.y, cosAy, cosBy);
  if (!ValidLatitudes(cosAy, cosBy, r)) return false;
  double s = std::sqrt(r);
  if (!(s < 1)) s = 1;
  const double d = 2 * std::asin(s);
  const double denom = std::sin(d) * cosAy;
  if (denom == 0) return false;
  double h = (std::sin(B.y) - std::sin(A.y) * std::cos(d)) / denom;
  if (!std::isfinite(h)) return false;
  if (h >= 1)
    h = 1;
  else if (h < -1)
    h = -1;
  const double a = std::acos(h);
  if (std::sin(B.x - A.x) < 0)
    c = a * cRadToDeg;
  else
    c = (cTwoPi - a) * cRadToDeg;
  return true;
}

inline int32_t NormalizeTurnAngle(int32_t t) {
  while (t < 0) t += 360;
  while (t >= 360) t -= 360;
  return t;
}

inline TFloatPoint Scaled(const TFloatPoint& P, double f) { return TFloatPoint{P.x * f, P.y * f}; }

inline double Finite(double v) {
  // Without traps an overflow shows up as an infinity (or a NaN from inf - inf).
  if (!std::isfinite(v)) RaiseOverflow();
  return v;
}

}  // namespace

double GreatCircleAngleRad(const TFloatPoint& P1, const TFloatPoint& P2) {
  return CentralAngle(P1.x, P1.y, P2.x, P2.y);
}

double GreatCircleAngleDeg(const TFloatPoint& P1, const TFloatPoint& P2) {
  return CentralAngle(P1.x * cDegToRad, P1.y * cDegToRad, P2.x * cDegToRad, P2.y * cDegToRad);
}

double GreatCircleAngleGrad(const TFloatPoint& P1, const TFloatPoint& P2) {
  return CentralAngle(P1.x * cGradToRad, P1.y * cGradToRad, P2.x * cGradToRad, P2.y * cGradToRad);
}

double SegmentLength(TCoordinateUnit Unit, const TFloatPoint& P1, const TFloatPoint& P2) {
  switch (Unit) {
    case cuRad: return GreatCircleAngleRad(P1, P2);
    case cuDeg: return GreatCircleAngleDeg(P1, P2);
    case cuGrad: return GreatCircleAngleGrad(P1, P2);
    default: return std::hypot(P1.x - P2.x, P1.y - P2.y);
  }
}

double ReduceTwoPi(double x) {
  const double r = x >= 0 ? x - std::trunc(x / cTwoPi) * cTwoPi : x + std::trunc(1 - x / cTwoPi) * cTwoPi;
  // A tiny negative x rounds to exactly 2 pi, the same direction as 0.
  return r >= cTwoPi ? 0.0 : r;
}

double BearingRad(const TFloatPoint& P1, const TFloatPoint& P2) { return NormalizedBearing(P1.x, P1.y, P2.x, P2.y); }

double BearingDeg(const TFloatPoint& P1, const TFloatPoint& P2) {
  return NormalizedBearing(P1.x * cDegToRad, P1.y * cDegToRad, P2.x * cDegToRad, P2.y * cDegToRad);
}

double BearingGrad(const TFloatPoint& P1, const TFloatPoint& P2) {
  return NormalizedBearing(P1.x * cGradToRad, P1.y * cGradToRad, P2.x * cGradToRad, P2.y * cGradToRad);
}

int32_t TurnAngleRad(const TFloatPoint& P1, const TFloatPoint& P2, const TFloatPoint& P3) {
  double c1, c2;
  if (!Course(P1, P2, c1) || !Course(P2, P3, c2)) return 0;
  // Both courses lie in [0, 360]: the plain half-to-even rounding cannot fail.
  return NormalizeTurnAngle(int32_t(std::nearbyint(c2 - c1)));
}

int32_t TurnAngleDeg(const TFloatPoint& P1, const TFloatPoint& P2, const TFloatPoint& P3) {
  return TurnAngleRad(Scaled(P1, cDegToRad), Scaled(P2, cDegToRad), Scaled(P3, cDegToRad));
}

int32_t TurnAngleGrad(const TFloatPoint& P1, const TFloatPoint& P2, const TFloatPoint& P3) {
  return TurnAngleRad(Scaled(P1, cGradToRad), Scaled(P2, cGradToRad), Scaled(P3, cGradToRad));
}

double DirectionAngle(double dx, double dy) {
  if (dy == 0) return dx >= 0 ? 0 : 180;
  if (dx == 0) return dy > 0 ? 90 : 270;
  // A quotient that overflows gives atan = +-90 degrees, the right limit.
  const double a = std::atan(dy / dx) * cRadToDeg;
  if (dy > 0) return dx > 0 ? a : a + 180;
  return dx > 0 ? a + 360 : a + 180;
}

int32_t TurnAnglePlanar(const TFloatPoint& P1, const TFloatPoint& P2, const TFloatPoint& P3) {
  // Checked rounding: a NaN coordinate raises EInvalidOp.
  return NormalizeTurnAngle(
      Round32(DirectionAngle(P3.x - P2.x, P3.y - P2.y) - DirectionAngle(P2.x - P1.x, P2.y - P1.y)));
}

TFloatRect GrowRectPercent(const TFloatRect& R, double Percent) {
  const double dx = (R.xmax - R.xmin) * Percent / 100;
  const double dy = (R.ymax - R.ymin) * Percent / 100;
  return TFloatRect{R.xmin - dx, R.ymin - dy, R.xmax + dx, R.ymax + dy};
}

TFloatRect GrowRectKm(const TFloatRect& R, TCoordinateUnit Unit, double KmPerUnit, double Km) {
  const double g = Km / 40000;  // fraction of a 40,000 km meridian circle
  double dx, dy;
  switch (Unit) {
    case cuRad:
      dy = g * cTwoPi;
      dx = dy / std::cos(R.ymax);
      break;
    case cuDeg:
      dy = g * 360;
      dx = dy / std::cos(R.ymax * cDegToRad);
      break;
    case cuGrad:
      dy = g * 400;
      dx = dy / std::cos(R.ymax * cGradToRad);
      break;
    default:
      dx = dy = Divide(Km, KmPerUnit);
      break;
  }
  return TFloatRect{R.xmin - dx, R.ymin - dy, R.xmax + dx, R.ymax + dy};
}

void GrowRectKm(TFloatRect& R, TCoordinateUnit Unit, double UnitFactor, double Km) {
  R = GrowRectKm(static_cast<const TFloatRect&>(R), Unit, UnitFactor, Km);
}

void ExtendRect(TFloatRect& R, const TFloatPoint& P) {
  if (P.x < R.xmin) R.xmin = P.x;
  if (P.x > R.xmax) R.xmax = P.x;
  if (P.y < R.ymin) R.ymin = P.y;
  if (P.y > R.ymax) R.ymax = P.y;
}

bool PointInPolygon(const TFloatPoint& P, const TFloatPointArrayEx2& Ring) {
  const int32_t last = Ring.Last;
  if (last < 0) return false;
  const TFloatPoint* pnt = Ring.Pnt.data();
  bool inside = false;
  for (int32_t i = 0, j = last; i <= last; j = i++) {
    const TFloatPoint& a = pnt[i];
    const TFloatPoint& b = pnt[j];
    if (((a.y <= P.y && P.y < b.y) || (b.y <= P.y && P.y < a.y)) &&
        P.x < (b.x - a.x) * (P.y - a.y) / (b.y - a.y) + a.x)
      inside = !inside;
  }
  return inside;
}

bool IsClockwise(const TFloatPointArrayEx2& Ring) {
  const int32_t n = Ring.Last;
  // The neighbour indexes are taken mod Last; Last < 0 would also read outside the ring.
  if (n <= 0) RaiseDivByZero();
  const TFloatPoint* p = Ring.Pnt.data();
  int32_t k = 0;
  for (int32_t i = 1; i <= n; ++i)
    if (p[i].y < p[k].y || (p[i].y == p[k].y && p[i].x > p[k].x)) k = i;
  const int32_t prev = (k + n - 1) % n;
  const int32_t next = (k + 1) % n;
  const double cross =
      (p[k].x - p[prev].x) * (p[next].y - p[prev].y) - (p[next].x - p[prev].x) * (p[k].y - p[prev].y);
  return !(cross > 0);
}

void ReversePolyline(TFloatPointArrayEx2& Line) {
  const int32_t last = Line.Last;
  for (int32_t i = 0; i <= last / 2 && last >= 0; ++i) std::swap(Line.Pnt[i], Line.Pnt[last - i]);
  std::swap(Line.Z1, Line.Z2);
  std::swap(Line.Zi1, Line.Zi2);
  std::swap(Line.Side1, Line.Side2);
}

bool SegmentCrossesPolyline(const TFloatPoint& P1, const TFloatPoint& P2, const TFloatPointArrayEx2& Line) {
  const TFloatPoint* p = Line.Pnt.data();
  const double ex = P2.x - P1.x;
  const double ey = P2.y - P1.y;
  for (int32_t i = 0; i < Line.Last; ++i) {
    const TFloatPoint& A = p[i];
    const TFloatPoint& B = p[i + 1];
    const double D = Finite(ex * (B.y - A.y) - ey * (B.x - A.x));
    if (D == 0) continue;
    const double t = Finite(((P1.y - A.y) * (B.x - A.x) - (P1.x - A.x) * (B.y - A.y)) / D);
    const double u = Finite(((P1.y - A.y) * ex - (P1.x - A.x) * ey) / D);
    if (0 <= t && t <= 1 && 0 <= u && u <= 1) return true;
  }
  return false;
}

bool IsStrictlyBetween(double a, double b, double c) { return (b < a && a < c) || (c < a && a < b); }

bool RouteIsPoint(const TRoute& Route) {
  return Route.links.size() == 1 && Route.percent1 == Route.percent2;
}

int32_t PolylineDefectScore(const TFloatPointArrayEx& Line, TCoordinateUnit Unit, int32_t TurnAngle) {
  const int32_t n = Line.Count;
  if (n < 2) return 0;
  const TFloatPoint* p = Line.Pnt.data();

  for (int32_t i = 0; i <= n - 2; ++i)
    for (int32_t j = i + 1; j <= n - 1; ++j)
      if (p[i].x == p[j].x && p[i].y == p[j].y) return 1;

  int32_t score = 0;
  for (int32_t i = 0; i <= n - 3; ++i) {
    int32_t a;
    switch (Unit) {
      case cuRad: a = TurnAngleRad(p[i], p[i + 1], p[i + 2]); break;
      case cuDeg: a = TurnAngleDeg(p[i], p[i + 1], p[i + 2]); break;
      case cuGrad: a = TurnAngleGrad(p[i], p[i + 1], p[i + 2]); break;
      default: a = TurnAnglePlanar(p[i], p[i + 1], p[i + 2]); break;
    }
    if (180 - TurnAngle < a && a < 180 + TurnAngle) {
      score += std::abs(180 - a) * 100;
      break;
    }
  }

  // Per-segment work arrays, kept per thread so the object check does not
  // allocate once per line.
  struct Seg {
    double m, c;
    bool vertical;
  };
  thread_local std::vector<Seg> seg;
  if (seg.size() < size_t(n)) seg.resize(size_t(n));
  for (int32_t k = 0; k <= n - 2; ++k) {
    const double dx = p[k + 1].x - p[k].x;
    seg[k].vertical = dx == 0;
    if (!seg[k].vertical) {
      seg[k].m = Finite((p[k + 1].y - p[k].y) / dx);
      seg[k].c = Finite((p[k].y * p[k + 1].x - p[k + 1].y * p[k].x) / dx);
    }
  }
  // Collinear segments overlap when an end of one lies strictly inside the
  // other, tested along an axis on which they extend: y for vertical ones, x
  // otherwise (horizontal ones have no extent in y).
  auto overlap = [p](int32_t i, int32_t j, double TFloatPoint::*axis) {
    auto in = [&](int32_t a, int32_t b) { return IsStrictlyBetween(p[a].*axis, p[b].*axis, p[b + 1].*axis); };
    return in(j, i) || in(j + 1, i) || in(i, j) || in(i + 1, j);
  };
  // Segment v vertical, segment s not: the crossing lies at x[v] on s.
  auto verticalCrosses = [p](int32_t v, int32_t s) {
    if (!IsStrictlyBetween(p[v].x, p[s].x, p[s + 1].x)) return false;
    const double y = Finite(seg[s].m * p[v].x + seg[s].c);
    return IsStrictlyBetween(y, p[v].y, p[v + 1].y);
  };
  for (int32_t i = 0; i <= n - 3; ++i) {
    for (int32_t j = i + 2; j <= n - 2; ++j) {
      bool crosses;
      if (seg[i].vertical && seg[j].vertical) {
        crosses = p[i].x == p[j].x && overlap(i, j, &TFloatPoint::y);
      } else if (seg[i].vertical) {
        crosses = verticalCrosses(i, j);
      } else if (seg[j].vertical) {
        crosses = verticalCrosses(j, i);
      } else if (seg[i].m != seg[j].m) {
        const double X = Finite((seg[i].c - seg[j].c) / (seg[j].m - seg[i].m));
        crosses = IsStrictlyBetween(X, p[i].x, p[i + 1].x) && IsStrictlyBetween(X, p[j].x, p[j + 1].x);
      } else {
        crosses = seg[i].c == seg[j].c && overlap(i, j, &TFloatPoint::x);
      }
      if (crosses) return score + 2;
    }
  }
  return score;
}

// ---------------------------------------------------------------------------
// Projection onto a segment

TSegmentFoot SegmentFootPlanar(const TFloatPoint& A, const TFloatPoint& B, const TFloatPoint& P) {
  TSegmentFoot r{};
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

TSegmentFoot SegmentFootSphere(const TFloatPoint& A, const TFloatPoint& B, const TFloatPoint& P) {
  TSegmentFoot r{};
  r.m = GreatCircleAngleRad(A, B);
  const double rr = GreatCircleAngleRad(A, P);
  const double bearingAB = BearingRad(A, B);
  r.side = ReduceTwoPi(bearingAB - BearingRad(A, P)) < std::numbers::pi ? 1 : -1;
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
  if (alpha >= std::numbers::pi / 2) {
    r.F = A, r.d = rr, r.a = 0;
    return r;
  }
  if ((std::cos(rr) - std::cos(v) * std::cos(r.m)) / (std::sin(v) * std::sin(r.m)) <= 0) {
    r.F = B, r.d = v, r.a = r.m;
    return r;
  }
  const double x = std::asin(std::clamp(std::sin(alpha) * std::sin(rr), -1.0, 1.0));
  r.d = x;
  r.a = ReduceTwoPi(2 * std::atan2(std::cos((alpha + std::numbers::pi / 2) / 2) * std::sin((x + rr) / 2),
                                   std::cos((alpha - std::numbers::pi / 2) / 2) * std::cos((x + rr) / 2)));
  const double latF = std::asin(std::clamp(
      std::sin(A.y) * std::cos(r.a) + std::cos(A.y) * std::sin(r.a) * std::cos(bearingAB), -1.0, 1.0));
  double lonF = A.x;
  if (std::cos(latF) != 0)
    lonF = ReduceTwoPi(A.x - std::asin(std::clamp(std::sin(bearingAB) * std::sin(r.a) / std::cos(latF), -1.0, 1.0)) +
                       std::numbers::pi) -
           std::numbers::pi;
  r.F = {lonF, latF};
  return r;
}

}  // namespace kovra
