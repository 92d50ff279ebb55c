// Cost arithmetic of the searches. Every cost that is stored (a label, a queue
// item, a matrix cell, a result) is a float; every expression that produces one
// is evaluated in double and rounded to float once, when it is stored. Summing
// in float instead would round after each term and could change which of two
// nearly equal routes wins. Stored floats are compared exactly.
#pragma once

#include <cstdint>

#include "foundation/kovra_types.h"

namespace kovra {

// Unreached cost is cInfinity (1e38f, from the foundation). A label whose
// predecessor is cNoPred was never reached; predecessor 0 means entered from
// the origin.
inline constexpr int32_t cNoPred = cNoPredecessor;

// c + w: the cost at the far end of a link of cost w.
inline float AddCost(float c, float w) { return float(double(c) + double(w)); }

// t + c + w, left to right: a turn of cost t taken on the way into a link.
inline float AddTurnCost(float t, float c, float w) {
  return float((double(t) + double(c)) + double(w));
}

// p × w: a share p of a link's cost (a location's percent, a difference of
// percents).
inline float MulCost(double p, float w) { return float(p * double(w)); }

// c + p × w: a cost plus a share of a link's cost, or a cost plus a weighted
// estimate.
inline float AddMulCost(float c, double p, float w) { return float(double(c) + p * double(w)); }

}  // namespace kovra
