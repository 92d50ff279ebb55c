// What the sources of TSpatialSearch share: the distance kernels per unit
// kind, the cell walk, and rectangle tests. Not part of the interface.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "foundation/kovra_geometry.h"
#include "foundation/kovra_types.h"
#include "network/kovra_quadtree.h"

namespace kovra::search {

// The distance rules of a coordinate unit, chosen once per query so that the
// per-node and per-segment loops carry no switch.
enum class TKind : uint8_t { Planar, Rad, Deg, Grad };

inline TKind KindOf(TCoordinateUnit Unit) {
  switch (Unit) {
    case cuRad: return TKind::Rad;
    case cuDeg: return TKind::Deg;
    case cuGrad: return TKind::Grad;
    default: return TKind::Planar;
  }
}

// Factor from the unit to radians; 1 for radians and planar units.
inline double RadiansPerUnit(TKind K) {
  return K == TKind::Deg ? cDegToRad : K == TKind::Grad ? cGradToRad : 1.0;
}

// And back, as the network converts a foot point.
inline double UnitsPerRadian(TKind K) {
  return K == TKind::Deg ? 57.29577951308232 : K == TKind::Grad ? 63.66197723675813 : 1.0;
}

// Point distance between P and Q: the central angle in radians for angular
// units, the planar distance otherwise.
template <TKind K>
inline double PointDistance(const TFloatPoint& P, const TFloatPoint& Q) {
  if constexpr (K == TKind::Planar) return std::hypot(P.x - Q.x, P.y - Q.y);
  if constexpr (K == TKind::Rad) return GreatCircleAngleRad(P, Q);
  if constexpr (K == TKind::Deg) return GreatCircleAngleDeg(P, Q);
  if constexpr (K == TKind::Grad) return GreatCircleAngleGrad(P, Q);
}

// Distance from P to the segment A-B, in the measure of PointDistance.
template <TKind K>
inline double SegmentDistance(const TFloatPoint& A, const TFloatPoint& B, const TFloatPoint& P) {
  if constexpr (K == TKind::Planar) {
    const double h = (P.x - A.x) * (P.x - A.x) + (P.y - A.y) * (P.y - A.y);
    if (h == 0) return 0;
    const double l = (B.x - A.x) * (B.x - A.x) + (B.y - A.y) * (B.y - A.y);
    if (l == 0) return std::sqrt(h);
    const double m = (P.x - B.x) * (P.x - B.x) + (P.y - B.y) * (P.y - B.y);
    if (m == 0) return 0;
    if (m > l + h) return std::sqrt(h);
    if (h > l + m) return std::sqrt(m);
    return std::fabs((A.y - B.y) * P.x + (B.x - A.x) * P.y + (A.x * B.y - B.x * A.y)) / std::sqrt(l);
  } else {
    const double d13 = PointDistance<K>(A, P);
    if (d13 == 0) return 0;
    const double d12 = PointDistance<K>(A, B);
    if (d12 == 0) return d13;
    const double d23 = PointDistance<K>(B, P);
    if (d23 == 0) return 0;
    const double alpha =
        std::acos(std::clamp((std::cos(d23) - std::cos(d13) * std::cos(d12)) / (std::sin(d13) * std::sin(d12)), -1.0,
                             1.0));
    if (alpha >= std::numbers::pi / 2) return d13;
    if ((std::cos(d13) - std::cos(d23) * std::cos(d12)) / (std::sin(d23) * std::sin(d12)) <= 0) return d23;
    return std::asin(std::min(1.0, std::sin(alpha) * std::sin(d13)));
  }
}

// A link's polyline, vertex j for j = 0..Count-1, the end nodes first and
// last. It points into the network's vertex cache, or into a work buffer.
struct TPolyView {
  const TFloatPoint* Inner;  // vertices 1..Count-2
  int32_t Count;
  TFloatPoint First, Last;
  TFloatPoint operator[](int32_t j) const { return j == 0 ? First : j == Count - 1 ? Last : Inner[j - 1]; }
};

// Cheap lower bounds of the angular kernels, so that a node or segment that
// cannot beat the best (or reach the radius) is not measured with
// haversines. Each bound is lowered by a margin that covers the rounding of
// the kernel it stands for, so that skipping never changes a result.
class TSphereBound {
public:
  TSphereBound(const TFloatPoint& P, double RadPerUnit)
      : f(RadPerUnit), xP(P.x * RadPerUnit), yP(P.y * RadPerUnit), cP(std::cos(yP)) {}

  // A vertex in radians with bounds of its central angle to P.
  struct TVertex {
    double x, y, lb, ub;
  };
  TVertex Vertex(const TFloatPoint& Q) const {
    const double x = Q.x * f, y = Q.y * f;
    const double dy = std::fabs(y - yP), dx = std::fabs(x - xP);
    // The angle is at least the latitude difference, and at least the
    // distance to Q's meridian circle, asin(cos yP * |sin dx|); sin t >=
    // t - t^3/6. The path along the meridian and then the parallel is
    // at least as long.
    return {x, y, std::max(dy, cP * SinBelow(dx)), dy + dx};
  }

  // True when PointDistance(P, Q) >= Limit for certain.
  static bool PointBeyond(const TVertex& Q, double Limit) { return Q.lb * (1 - 1e-12) - 1e-13 >= Limit; }

  // Every point F of the arc has |AF| + |FB| = |AB|, so |PF| >= (|PA| +
  // |PB| - |AB|) / 2; the bound before the kernel's rounding.
  static double SegmentLower(const TVertex& A, const TVertex& B) {
    return (A.lb + B.lb - (std::fabs(A.y - B.y) + std::fabs(A.x - B.x))) / 2;
  }

  // True when SegmentDistance(A, B, P) >= Limit for certain.
  static bool SegmentBeyond(const TVertex& A, const TVertex& B, double Limit) {
    const double dy = std::fabs(A.y - B.y), dx = std::fabs(A.x - B.x);
    const double ub12 = dy + dx;
    const double lb = SegmentLower(A, B);
    if (!(lb >= Limit)) return false;
    // Beyond a radian the margin below no longer holds.
    if (!(A.ub <= 1 && ub12 <= 1)) return false;
    // The cross-track branch takes an acos of a cosine-law quotient whose
    // numerator cancels: its error is a few ulps over sin d13 * sin d12,
    // which moves the sine of the angle by up to the square root of that.
    const double lb12 = std::max(dy, std::max(0.0, 1 - A.y * A.y / 2) * SinBelow(dx));
    const double den = SinBelow(A.lb) * SinBelow(lb12);
    if (!(den > 1e-280)) return false;
    // lb - margin >= Limit with margin = A.ub * (8 * sqrt(64 eps / den) +
    // 1e-12) + 1e-13, squared to spare the root and the division.
    const double g = lb - Limit - A.ub * 1e-12 - 1e-13;
    const double m = 8 * A.ub;
    return g >= 0 && g * g * den >= m * m * (64 * 2.220446049250313e-16) * (1 + 1e-9);
  }

private:
  // A lower bound of sin t for 0 <= t <= pi (negative beyond sqrt 6).
  static double SinBelow(double t) { return t - t * t * t / 6; }

  double f, xP, yP, cP;
};

// True when the planar SegmentDistance(A, B, P) >= Limit for certain: P is
// that far from the segment's bounding box along an axis, lowered by what
// the kernel's rounding can take off (its cross product cancels, by up to
// some ulps of the squared coordinates over the segment's length).
[[gnu::always_inline]] inline bool PlanarSegmentBeyond(const TFloatPoint& A, const TFloatPoint& B, const TFloatPoint& P, double Limit) {
  const double x0 = std::min(A.x, B.x), x1 = std::max(A.x, B.x);
  const double y0 = std::min(A.y, B.y), y1 = std::max(A.y, B.y);
  const double lb = std::max(std::max(x0 - P.x, P.x - x1), std::max(y0 - P.y, P.y - y1));
  const double g = lb * (1 - 1e-12) - Limit;
  if (!(g >= 0)) return false;
  const double M = std::max(std::max(std::max(std::fabs(x0), std::fabs(x1)), std::max(std::fabs(y0), std::fabs(y1))),
                            std::max(std::fabs(P.x), std::fabs(P.y)));
  const double e = 64 * 2.220446049250313e-16 * M * M;
  if (!(e < 1e100)) return false;
  const double l = (B.x - A.x) * (B.x - A.x) + (B.y - A.y) * (B.y - A.y);
  return g * g * l >= e * e;
}

// True when the planar PointDistance(P, Q) >= Limit for certain: the square
// sum rounds within a few ulps of the square of hypot's result, spared the
// library call.
[[gnu::always_inline]] inline bool PlanarPointBeyond(const TFloatPoint& P, const TFloatPoint& Q, double Limit) {
  const double dx = Q.x - P.x, dy = Q.y - P.y;
  return (dx * dx + dy * dy) * (1 - 1e-12) >= Limit * Limit && Limit * Limit > 1e-280 && Limit < 1e150;
}

// Closed rectangles meet (touching counts).
inline bool Overlaps(const TFloatRect& a, const TFloatRect& b) {
  return a.xmin <= b.xmax && b.xmin <= a.xmax && a.ymin <= b.ymax && b.ymin <= a.ymax;
}

inline bool Inside(const TFloatRect& r, const TFloatPoint& p) {
  return r.xmin <= p.x && p.x <= r.xmax && r.ymin <= p.y && p.y <= r.ymax;
}

// True unless the box certainly leaves part of r outside; a NaN box covers,
// so that a growing search whose box went bad ends.
inline bool Covers(const TFloatRect& box, const TFloatRect& r) {
  return !(box.xmin > r.xmin || box.ymin > r.ymin || box.xmax < r.xmax || box.ymax < r.ymax);
}

// Calls Leaf for every leaf whose rectangle meets Box, children in the order
// NE, NW, SW, SE. Box is read at each cell, so a Leaf that shrinks it prunes
// the rest of the walk at once.
template <class TLeaf>
void WalkCells(const TQuadTreeBase& Tree, const TFloatRect& Box, TLeaf&& Leaf) {
  // Depth is at most 16 levels: each level leaves at most three siblings waiting.
  const TQuadTreeCell* stack[4 * (cQuadTreeMaxDepth + 1) + 4];
  int32_t sp = 0;
  stack[sp++] = &Tree.Root();
  while (sp > 0) {
    const TQuadTreeCell& c = *stack[--sp];
    if (!Overlaps(c.Rect(), Box)) continue;
    if (c.Divided()) {
      stack[sp++] = &Tree.Child(c, cChildSE);
      stack[sp++] = &Tree.Child(c, cChildSW);
      stack[sp++] = &Tree.Child(c, cChildNW);
      stack[sp++] = &Tree.Child(c, cChildNE);
    } else {
      Leaf(c);
    }
  }
}

}  // namespace kovra::search
