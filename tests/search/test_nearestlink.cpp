// GPS match candidates: directions, one-way codes, the box-only links, an
// empty answer, the heading measure of planar units, and headings outside
// 0..360 or not finite.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "network/kovra_network.h"
#include "search/search_fixture.h"
#include "support/test_raises.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

class NearestLinkTest : public TSearchTest {
protected:
  // Link 1: two-way, east along y = 0. Link 2: one-way from->to, east along
  // y = 30. Link 3: closed both ways, along y = -10. Link 4: north along x =
  // 300, far away. Link 5: a box-only link whose vertex lies in the box's
  // corner. Unit metres.
  TNetwork& Make() {
    w.AddLink({{0, 0}, {50, 0}, {100, 0}});
    w.AddLink({{0, 30}, {100, 30}}, cAttrOnewayFromTo);
    w.AddLink({{0, -10}, {100, -10}}, cAttrOneway);
    w.AddLink({{300, 0}, {300, 100}});
    w.AddLink({{88, 88}, {150, 150}});
    return Open(w, true);
  }
  TTestNetworkWriter w;
};

std::vector<TGPSMatch> All(const TGPSMatchList& L) {
  std::vector<TGPSMatch> v;
  for (int32_t i = 0; i < L.Count(); ++i) v.push_back(L.GetItem(i));
  return v;
}

TEST_F(NearestLinkTest, CandidatesAndTheirOrder) {
  TNetwork& net = Make();
  TSpatialSearch s(net);
  // Heading compass east (90) at (25, 5), radius 40 m: links 1 and 2.
  const auto L = s.NearestLink({25, 5}, 90, 0.04);
  ASSERT_NE(L, nullptr);
  const std::vector<TGPSMatch> c = All(*L);
  ASSERT_EQ(c.size(), 4u);
  // By Distance * 1000 + DifBearing: link 1 forward (5), link 2 forward
  // (25), link 1 reverse (185); link 2 reverse goes against its one-way rule
  // and comes after every candidate without a mismatch.
  const int32_t wantLink[] = {1, 2, 1, 2};
  const bool wantReverse[] = {false, false, true, true};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(c[i].Loc.link, wantLink[i]) << i;
    EXPECT_EQ(c[i].Reverse, wantReverse[i]) << i;
    EXPECT_EQ(c[i].OneWayMisMatch, i == 3) << i;
  }
  EXPECT_EQ(c[0].DifBearing, 0);
  EXPECT_NEAR(c[0].Distance, 0.005, 1e-15);
  EXPECT_NEAR(c[0].Loc.percent, 0.25, 1e-15);
  EXPECT_EQ(c[2].DifBearing, 180);
  EXPECT_EQ(c[2].Distance, c[0].Distance);
  EXPECT_EQ(double(c[2].Loc.percent), double(c[0].Loc.percent));  // copies: the record is packed
  // Link 3, closed both ways, within 15 m: no candidate.
  for (const TGPSMatch& m : c) EXPECT_NE(m.Loc.link, 3);

  // A reverse mismatch sorts after a farther allowed candidate.
  const auto near2 = All(*s.NearestLink({25, 29}, 90, 0.04));
  ASSERT_EQ(near2.size(), 4u);
  EXPECT_EQ(near2[0].Loc.link, 2);
  EXPECT_EQ(near2[3].Loc.link, 2);
  EXPECT_TRUE(near2[3].OneWayMisMatch);
  EXPECT_LT(near2[3].Distance, near2[1].Distance);
}

TEST_F(NearestLinkTest, BoxOnlyLinksAndEmptyAnswers) {
  TNetwork& net = Make();
  TSpatialSearch s(net);
  s.SetMBRselect(true);
  // Link 5's end (88, 88) lies in the corner of the 10 m box around (80, 80),
  // 11.3 m away: selected by the box, but no segment within the radius.
  TIntegerList links;
  s.SelectLinksList({80, 80}, 0.01, links);
  EXPECT_EQ(Items(links), std::vector<int32_t>{5});
  const auto L = s.NearestLink({80, 80}, 0, 0.01);
  ASSERT_NE(L, nullptr);
  EXPECT_EQ(L->Count(), 0);
  s.SetMBRselect(false);
  const auto none = s.NearestLink({200, 120}, 0, 0.01);
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(none->Count(), 0);
}

TEST_F(NearestLinkTest, HeadingsAreReducedAndMustBeFinite) {
  TNetwork& net = Make();
  TSpatialSearch s(net);
  const TFloatPoint P{295, 40};  // link 4, running north
  struct TRow {
    double Bearing, Same;
  };
  for (const TRow& row : {TRow{360, 0}, TRow{720, 0}, TRow{-90, 270}, TRow{-720.5, 359.5}, TRow{1e17, std::fmod(1e17, 360.0)}}) {
    SCOPED_TRACE(row.Bearing);
    const std::vector<TGPSMatch> a = All(*s.NearestLink(P, row.Bearing, 0.02));
    const std::vector<TGPSMatch> b = All(*s.NearestLink(P, row.Same, 0.02));
    ASSERT_EQ(a.size(), b.size());
    ASSERT_EQ(a.size(), 2u);
    for (size_t i = 0; i < a.size(); ++i) {
      EXPECT_EQ(a[i].DifBearing, b[i].DifBearing);
      EXPECT_EQ(a[i].Reverse, b[i].Reverse);
      EXPECT_GE(a[i].DifBearing, 0);
      EXPECT_LE(a[i].DifBearing, 180);
    }
  }
  // Compass north along a segment pointing north: forward 0.
  const std::vector<TGPSMatch> north = All(*s.NearestLink(P, 0, 0.02));
  EXPECT_EQ(north[0].DifBearing, 0);
  EXPECT_FALSE(north[0].Reverse);
  const std::vector<TGPSMatch> west = All(*s.NearestLink(P, 270, 0.02));
  EXPECT_EQ(west[0].DifBearing, 90);

  for (const double bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
    const std::string msg = MessageOf<EInvalidParameter>([&] { s.NearestLink(P, bad, 0.02); });
    EXPECT_EQ(msg.rfind("NearestLink: Bearing must be a finite number (is ", 0), 0u) << msg;
  }
}

}  // namespace
