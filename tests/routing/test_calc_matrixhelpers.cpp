// The snapping of matrix points: locations and off-road distances, one list
// or two, the move onto an open link, the skip bit, and all-or-nothing on
// failure.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "network/kovra_network.h"
#include "routing/kovra_calc.h"
#include "routing/matrix_fixture.h"
#include "support/test_raises.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

bool Near(const TLocation& a, const TLocation& b) { return a.link == b.link && std::fabs(a.percent - b.percent) < 1e-9; }

using SnapTest = MatrixFixture;

TEST_F(SnapTest, LocationsAndDistances) {
  TCalc c(nw, false);
  TLocationList LL1, LL2;
  LL1.Add5(0.5, 1);     // 1 km above link 1
  LL1.Add5(2.5, -0.5);  // 0.5 km below link 3
  LL2.Add5(0.5, 13);    // 0.5 km right of link 4
  for (const float speed : {0.0f, 30.0f}) {
    SCOPED_TRACE(speed);
    c.foffroadspeed = speed;
    c.fDist1.reset(), c.fDist2.reset();
    c.SnapMatrixPoints(LL1, LL2, false, false);
    ASSERT_EQ(LL1.Count(), 2);
    EXPECT_TRUE(Near(LL1.GetItem(0).loc, {1, 0.5}));
    EXPECT_TRUE(Near(LL1.GetItem(1).loc, {3, 0.5}));
    EXPECT_TRUE(Near(LL2.GetItem(0).loc, {4, 0.6}));
    EXPECT_EQ(LL1.GetItem(1).P.x, 2.5);  // the points stay
    if (speed == 0) {
      EXPECT_FALSE(c.fDist1 || c.fDist2);
      continue;
    }
    ASSERT_TRUE(c.fDist1 && c.fDist2);
    EXPECT_NE(c.fDist1, c.fDist2);
    EXPECT_NEAR((*c.fDist1)[0], 1, 1e-12);
    EXPECT_NEAR((*c.fDist1)[1], 0.5, 1e-12);
    EXPECT_NEAR((*c.fDist2)[0], 0.5, 1e-12);
  }
  // One list object: one array for both sides.
  c.SnapMatrixPoints(LL1, LL1, false, false);
  EXPECT_EQ(c.fDist1, c.fDist2);
  EXPECT_EQ(c.fDist1->size(), 2u);
}

// A point next to the closed link 9 snaps onto it; nearestOpen moves it to
// the open link at D, with no off-road distance.
TEST_F(SnapTest, NearestOpen) {
  TCalc c(nw, false);
  c.foffroadspeed = 30;
  TLocationList LL;
  LL.Add5(3.5, 1);
  LL.Add5(0.5, 1);
  c.SnapMatrixPoints(LL, LL, false, false);
  EXPECT_TRUE(Near(LL.GetItem(0).loc, {9, 0.5}));
  c.SnapMatrixPoints(LL, LL, true, false);
  const TLocation moved = LL.GetItem(0).loc;
  EXPECT_TRUE(moved.link == 3 || moved.link == 8) << moved.link;
  const double percent = moved.percent;  // a copy: the location is packed
  EXPECT_EQ(percent, nw.Link2FromNode(moved.link) == D ? 0.0 : 1.0);
  EXPECT_EQ((*c.fDist1)[0], 0);
  EXPECT_NEAR((*c.fDist1)[1], 1, 1e-12);
  EXPECT_FALSE(c.SmartInit());  // switched on for the moves only
}

// Every link flagged to skip: the spatial search finds none and raises;
// nothing of the lists or the distances changed.
TEST_F(SnapTest, FailureChangesNothing) {
  TCalc c(nw, false);
  TLocationList LL1, LL2;
  LL1.Add4({2, 0.25}, {0.5, 1});
  LL2.Add4({5, 0.75}, {2.5, -0.5});
  for (int32_t l = 1; l <= nw.LinkCount(); ++l) nw.AttributeSetBit(l, 15, true);
  for (const float speed : {0.0f, 30.0f}) {
    SCOPED_TRACE(speed);
    c.foffroadspeed = speed;
    EXPECT_NE(MessageOf([&] { c.SnapMatrixPoints(LL1, LL2, true, true); }), "");
    EXPECT_TRUE(Near(LL1.GetItem(0).loc, {2, 0.25}) && Near(LL2.GetItem(0).loc, {5, 0.75}));
    EXPECT_FALSE(c.fDist1 || c.fDist2);
  }
  // Only the second list fails (a point that is not a number): the first
  // list, which snapped, stays as it was too.
  for (int32_t l = 1; l <= nw.LinkCount(); ++l) nw.AttributeSetBit(l, 15, false);
  TLocationList bad;
  bad.Add4({5, 0.75}, {std::nan(""), 0});
  for (const float speed : {0.0f, 30.0f}) {
    c.foffroadspeed = speed;
    EXPECT_NE(MessageOf([&] { c.SnapMatrixPoints(LL1, bad, false, false); }), "");
    EXPECT_TRUE(Near(LL1.GetItem(0).loc, {2, 0.25}));
    EXPECT_FALSE(c.fDist1 || c.fDist2);
  }
  TNetwork noIndex;
  noIndex.SetDirectory(dir.string() + "/");
  noIndex.Open(true, false, false, 0);
  TCalc n(noIndex, false);
  EXPECT_EQ(MessageOf([&] { n.SnapMatrixPoints(LL1, LL2, false, false); }), "Spatial index need to be open");
  EXPECT_TRUE(Near(LL1.GetItem(0).loc, {2, 0.25}));
}

}  // namespace
