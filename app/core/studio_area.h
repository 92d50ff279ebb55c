// The spherical area of a bounding rectangle, for the statistics report.
// Points are (longitude, latitude): x is the longitude.
#pragma once

#include "foundation/kovra_types.h"

namespace studio {

// The angle at Q of the great-circle triangle P, Q, R (radians in and out),
// 0 .. pi.
double VertexAngle(const kovra::TFloatPoint& P, const kovra::TFloatPoint& Q, const kovra::TFloatPoint& R);
// The spherical excess of the triangle P, Q, R (radians): the sum of its
// angles less pi.
double SphericalExcess(const kovra::TFloatPoint& P, const kovra::TFloatPoint& Q, const kovra::TFloatPoint& R);
// The excess of the quadrilateral with the corners (x1, y1), (x1, y2),
// (x2, y1), (x2, y2) in radians, split along the diagonal from (x1, y2) to
// (x2, y1); the corners may come in either order.
double RectExcess(const kovra::TFloatPoint& P1, const kovra::TFloatPoint& P2);
// The area in km2 of the rectangle with the opposite corners P1 and P2 in
// degrees, on the sphere of radius cEarthRadiusKm; 0 for a rectangle of
// zero width or height.
double MBRArea(const kovra::TFloatPoint& P1, const kovra::TFloatPoint& P2);

// The area in km2 the statistics report gives for a network's bounding
// rectangle in its coordinate unit: spherical for degrees, planar for metres
// and feet, 0 (no area line) for any other unit and for a rectangle that is
// empty, flat or not finite.
double NetworkArea(const kovra::TFloatRect& MBR, kovra::TCoordinateUnit Unit);

}  // namespace studio
