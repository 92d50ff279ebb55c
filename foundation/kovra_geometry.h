// Plane and sphere geometry of the library: central angles and bearings between
// coordinates, turn angles in whole degrees, rectangle growth, point-in-polygon,
// ring orientation, segment crossings and the defect score of a polyline.
// Angular units (cuRad, cuDeg, cuGrad) take x as longitude and y as latitude.
// Floating-point traps are off: where a result would be NaN or infinite the
// routines raise the foundation's math exceptions instead.
#pragma once

#include <cstdint>

#include "foundation/kovra_types.h"

namespace kovra {

inline constexpr double cDegToRad = 0.017453292519943295;   // pi/180
inline constexpr double cGradToRad = 0.015707963267948967;  // pi/200
inline constexpr double cRadToDeg = 57.29577951308232;
inline constexpr double cTwoPi = 6.283185307179586;

// Central angle in radians; EInvalidOp for a latitude beyond +-90 degrees
// (negative radicand).
double GreatCircleAngleRad(const TFloatPoint& P1, const TFloatPoint& P2);
double GreatCircleAngleDeg(const TFloatPoint& P1, const TFloatPoint& P2);
double GreatCircleAngleGrad(const TFloatPoint& P1, const TFloatPoint& P2);
// Direction from P1 to P2 in radians in [0, 2 pi), from north, growing towards west.
// Length of the segment P1-P2 in the unit's own measure: the central angle in
// radians for angular units, the planar distance otherwise.
double SegmentLength(TCoordinateUnit Unit, const TFloatPoint& P1, const TFloatPoint& P2);
double BearingRad(const TFloatPoint& P1, const TFloatPoint& P2);
double BearingDeg(const TFloatPoint& P1, const TFloatPoint& P2);
double BearingGrad(const TFloatPoint& P1, const TFloatPoint& P2);

// x reduced modulo 2 pi into [0, 2 pi): a negative x becomes
// x + Trunc(1 - x / 2 pi) * 2 pi.
double ReduceTwoPi(double x);

// Turn angles 0..359, counter-clockwise: 0 straight on, 90 left, 180 back, 270 right.
// A degenerate turn (two equal points, a latitude beyond the pole) gives 0.
int32_t TurnAngleRad(const TFloatPoint& P1, const TFloatPoint& P2, const TFloatPoint& P3);
int32_t TurnAngleDeg(const TFloatPoint& P1, const TFloatPoint& P2, const TFloatPoint& P3);
int32_t TurnAngleGrad(const TFloatPoint& P1, const TFloatPoint& P2, const TFloatPoint& P3);
// Degrees in [0, 360) counter-clockwise from the positive x axis.
double DirectionAngle(double dx, double dy);
int32_t TurnAnglePlanar(const TFloatPoint& P1, const TFloatPoint& P2, const TFloatPoint& P3);

TFloatRect GrowRectPercent(const TFloatRect& R, double Percent);
// Grows R by Km on every side. Plane units: Km / KmPerUnit, so KmPerUnit 0 raises
// EZeroDivide (EInvalidOp when Km is 0 as well).
TFloatRect GrowRectKm(const TFloatRect& R, TCoordinateUnit Unit, double KmPerUnit, double Km);
// In-place form (R updated). A non-const rectangle argument selects this form.
void GrowRectKm(TFloatRect& R, TCoordinateUnit Unit, double UnitFactor, double Km);
void ExtendRect(TFloatRect& R, const TFloatPoint& P);

// Even-odd rule; lower and left edges belong to the polygon.
bool PointInPolygon(const TFloatPoint& P, const TFloatPointArrayEx2& Ring);
// Closed ring with Last >= 3; Last <= 0 raises EDivByZero.
bool IsClockwise(const TFloatPointArrayEx2& Ring);
void ReversePolyline(TFloatPointArrayEx2& Line);
// True when P1-P2 meets a segment of Line (touching ends count); EOverflow when
// an intermediate value is not finite.
bool SegmentCrossesPolyline(const TFloatPoint& P1, const TFloatPoint& P2, const TFloatPointArrayEx2& Line);
bool IsStrictlyBetween(double a, double b, double c);
bool RouteIsPoint(const TRoute& Route);
// 1 = duplicate point, 2 = two non-adjacent segments cross, plus 100 x the deviation
// from 180 degrees of the first sharp turn. EOverflow when a slope, intercept or
// crossing x is not finite.
int32_t PolylineDefectScore(const TFloatPointArrayEx& Line, TCoordinateUnit Unit, int32_t TurnAngle);

// Projection of P onto the segment A-B: the one kernel of every "nearest point
// on a link" in the library, so that the network's projection and the spatial
// search agree to the bit.
struct TSegmentFoot {
  double d = 0;     // distance from P to F, in the unit's measure (radians on the sphere)
  double a = 0;     // along the segment from A to F
  double m = 0;     // segment length
  int32_t side = 1; // -1 left, +1 right of A to B (a point on the line is right)
  TFloatPoint F;    // the foot point
};
// Plane: the foot clipped to the segment.
TSegmentFoot SegmentFootPlanar(const TFloatPoint& A, const TFloatPoint& B, const TFloatPoint& P);
// Sphere, every point in radians (F comes back in radians): the cross-track
// foot, or the nearer end where the angle at A or B is 90 degrees or more.
TSegmentFoot SegmentFootSphere(const TFloatPoint& A, const TFloatPoint& B, const TFloatPoint& P);

}  // namespace kovra
