#include <gtest/gtest.h>

#include "routing/kovra_costmath.h"

using namespace kovra;

// Each expression is rounded to float once. The expected values are the
// double-precision result rounded to float (checked with python3's struct);
// rounding each step in float gives the other value, which the helpers must not.
TEST(CostMath, RoundsOnceWhenStored) {
  struct Case {
    const char* name;
    float got;
    float once;
    float stepwise;
  };
  const float tiny = 0x1p-24f;  // half an ulp of 1
  const Case cases[] = {
      // 1 + tiny rounds back to 1 in float; 1 + 2·tiny is exactly one ulp up.
      {"turn sum", AddTurnCost(1.0f, tiny, tiny), 0x1.000002p+0f, 1.0f},
      // 0.3 × 7 = 2.0999999999999996 in double.
      {"share of a link", MulCost(0.3, 7.0f), 0x1.0ccccc0p+1f, float(0.3f * 7.0f)},
      // 3 + 0.9 × 0.7f: the product rounded to float first ends one ulp higher.
      {"cost plus a share", AddMulCost(3.0f, 0.9, 0.7f), 0x1.d0a3d6p+1f, 0x1.d0a3d8p+1f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_NE(c.once, c.stepwise);  // the case does tell the two apart
    EXPECT_EQ(c.got, c.once);
  }
  EXPECT_EQ(AddCost(0.1f, 0.2f), 0.1f + 0.2f);  // one rounding of a two-term sum is the float sum
  EXPECT_EQ(AddCost(cInfinity, 1.0f), cInfinity);
}
