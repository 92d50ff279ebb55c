// Helpers shared by the geometry sources of the network class; not part of
// its interface.
#pragma once

#include <cstdint>

#include "foundation/kovra_types.h"

namespace kovra::geometry {

// Factor from the unit to radians (1 for radians and planar units) and back.
double ToRadians(TCoordinateUnit Unit);
double FromRadians(TCoordinateUnit Unit);
inline bool IsAngular(TCoordinateUnit Unit) { return Unit == cuRad || Unit == cuDeg || Unit == cuGrad; }
// Count := Count, growing list.Pnt when it is smaller; never shrinks it.
void Reserve(TFloatPointArrayEx& list, int32_t Count);

}  // namespace kovra::geometry
