// Edge cases of the spatial search: boxes south of the equator and at a pole,
// a flat leaf, nothing that can qualify, short skip sets, points on links,
// MBRselect, the list form, bad input, walk-order ties, and the network's
// nearest-node seam.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "network/kovra_quadtree.h"
#include "search/search_fixture.h"
#include "support/test_files.h"
#include "support/test_raises.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

constexpr double cNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double cInf = std::numeric_limits<double>::infinity();

class SearchEdges : public TSearchTest {};

// The Part's original box divided the longitude half-width by the cosine of
// y + r: south of the equator that is the latitude nearer the equator, and
// the box misses points of the circle. Node 2 lies due east, just inside 1
// degree of great circle at 60 south.
TEST_F(SearchEdges, SouthernBoxHoldsTheWholeCircle) {
  TTestNetworkWriter w;
  w.Unit = cuDeg;
  const TFloatPoint P{10, -60};
  // A longitude offset whose great-circle distance is 0.99 degrees.
  double dlon = 1.9;
  while (GreatCircleAngleDeg(P, {10 + dlon, -60}) < 0.99 * cDegToRad) dlon += 1e-4;
  w.AddLink({{10 + dlon, -60}, {10 + dlon, -61.5}});
  w.AddLink({{8, -58.5}, {8, -58.6}});
  TNetwork& net = Open(w);
  TSpatialSearch s(net);
  const double radiusKm = cDegToRad * net.DistFactor();  // 1 degree
  const TFloatRect box = TSpatialSearchTestAccess::SearchBox(s, P, cDegToRad);
  ASSERT_GT(box.xmax, 10 + dlon);
  // Under the old rule the box would have ended west of the node.
  ASSERT_LT(10 + 1 / std::cos(59 * cDegToRad), 10 + dlon);

  TIntegerList nodes, links;
  s.SelectNodesList(P, radiusKm, nodes);
  const int32_t east = net.Fromnodes()[1];
  EXPECT_EQ(Items(nodes), std::vector<int32_t>{east});
  s.SelectLinksList(P, radiusKm, links);
  EXPECT_EQ(Items(links), std::vector<int32_t>{1});
}

// A box whose latitude passes a pole spans every longitude: the node across
// the pole is found.
TEST_F(SearchEdges, BoxReachingAPoleSpansEveryLongitude) {
  TTestNetworkWriter w;
  w.Unit = cuDeg;
  w.AddLink({{-170, 89.3}, {-160, 89.2}});
  w.AddLink({{0, 80}, {10, 80}});
  w.AddLink({{175, 89.4}, {179, 89.3}});
  TNetwork& net = Open(w);
  TSpatialSearch s(net);
  const TFloatPoint P{5, 89.8};  // every node of the two polar links within 1 degree
  const TFloatRect box = TSpatialSearchTestAccess::SearchBox(s, P, 1 * cDegToRad);
  EXPECT_EQ(box.xmin, -180);
  EXPECT_EQ(box.xmax, 180);
  TIntegerList nodes;
  s.SelectNodesList(P, 1.0 * cDegToRad * net.DistFactor(), nodes);
  TOracle o(net);
  EXPECT_EQ(Items(nodes), o.Nodes(P, 1.0 * cDegToRad, nullptr, nullptr));
  EXPECT_EQ(nodes.Count(), 4);
  const auto n = o.NearestNode(P, nullptr);
  EXPECT_EQ(s.NearestNodeSimple(P), n.first);
}

// More than 50 nodes on one east-west line give leaves of height 0; a point
// south of the line lands in an empty flat leaf, whose smaller side is 0.
TEST_F(SearchEdges, FlatLeafGrowsItsBoxAndEnds) {
  TTestNetworkWriter w;
  double x = 0;
  for (int32_t i = 0; i < 60; ++i) {
    const double next = x + 10 + (i * 37 % 11);
    w.AddLink({{x, 0}, {next, 0}});
    x = next;
  }
  TNetwork& net = Open(w);
  net.SetCoordinateWindow(-1);  // the bounds have no height: no window
  TSpatialSearch s(net);
  TOracle o(net);
  for (const TFloatPoint P : {TFloatPoint{333, -5}, TFloatPoint{-40, -1000}, TFloatPoint{10, 3}}) {
    SCOPED_TRACE(testing::Message() << P.x << " " << P.y);
    int32_t node = 0;
    double d = 0;
    s.NearestNode(P, node, d);
    EXPECT_EQ(node, o.NearestNode(P, nullptr).first);
    const TLocation loc = s.NearestLocationSimple(P);
    EXPECT_EQ(o.LinkDistance(P, loc.link), o.NearestSegment(P, nullptr).d);
  }
}

TEST_F(SearchEdges, NothingThatCanQualifyRaisesAndShortSkipSetsAreRefused) {
  TTestNetworkWriter w;
  TRandom r;
  r.SetSeed(7);
  w.MaxNodesPerCell = 3;
  AddRandomLinks(w, r, {0, 0, 1000, 1000}, 40);
  TNetwork& net = Open(w);
  TSpatialSearch s(net);
  const TFloatPoint P{500, 500};
  TBitArray allNodes(net.NodeCount() + 1), allLinks(net.LinkCount() + 1);
  allNodes.SetAllTrue();
  allLinks.SetAllTrue();
  s.SetSkipNodes(&allNodes);
  s.SetSkipLinks(&allLinks);
  int32_t node = 7, link = 7, index = 7;
  double d = 7;
  EXPECT_EQ(MessageOf([&] { s.NearestNode(P, node, d); }), "NearestNode: no node can be found");
  EXPECT_EQ(node, 7);
  EXPECT_EQ(MessageOf([&] { s.NearestLocationSimple(P); }), "NearestLocation: no link can be found");
  EXPECT_EQ(MessageOf([&] { s.NearestVertex(P, link, index, d); }), "NearestVertex: no link can be found");
  EXPECT_EQ(link, 7);
  // The selections simply find nothing.
  TIntegerList L;
  L.Add(99);
  s.SelectLinksList(P, 1e6, L);
  EXPECT_EQ(L.Count(), 0);

  // One bit short: refused before the query, whatever the query.
  TBitArray shortNodes(net.NodeCount()), shortLinks(net.LinkCount());
  s.SetSkipNodes(&shortNodes);
  s.SetSkipLinks(&shortLinks);
  const std::string nodeMsg = "Bit array must hold at least " + std::to_string(net.NodeCount() + 1) + " bits";
  const std::string linkMsg = "Bit array must hold at least " + std::to_string(net.LinkCount() + 1) + " bits";
  L.Add(99);
  EXPECT_EQ(MessageOf<EInvalidParameter>([&] { s.NearestNode(P, node, d); }), nodeMsg);
  EXPECT_EQ(MessageOf<EInvalidParameter>([&] { s.SelectNodesList(P, 1, L); }), nodeMsg);
  EXPECT_EQ(MessageOf<EInvalidParameter>([&] { s.NearestLocationSimple(P); }), linkMsg);
  EXPECT_EQ(MessageOf<EInvalidParameter>([&] { s.NearestVertex(P, link, index, d); }), linkMsg);
  EXPECT_EQ(MessageOf<EInvalidParameter>([&] { s.SelectLinksList(P, 1, L); }), linkMsg);
  EXPECT_EQ(MessageOf<EInvalidParameter>([&] { s.NearestLink(P, 0, 1); }), linkMsg);
  EXPECT_EQ(L.Count(), 1) << "a refused query changes nothing";
}

TEST_F(SearchEdges, PointOnALinkAndAZeroLengthPolyline) {
  TTestNetworkWriter w;
  w.AddLink({{0, 0}, {100, 0}, {100, 100}});
  w.AddLink({{300, 300}, {400, 300}});  // its end moves onto its start below
  w.AddLink({{0, 300}, {50, 350}});
  w.Write(Dir());
  // Make link 2's polyline zero length while its stored length stays: both
  // its nodes at one point, then the index built again.
  {
    TNetwork n;
    n.SetDirectory(Dir());
    n.Open(false, false, false, 0);
    const int32_t from = n.Fromnodes()[2], to = n.Tonodes()[2];
    std::string coord = ReadBytes(Dir() + "coord.bin");
    std::memcpy(&coord[size_t(to - 1) * 16], &coord[size_t(from - 1) * 16], 16);
    WriteBytes(Dir() + "coord.bin", coord);
    TQuadTreeSetup b;
    b.SetDirectory(Dir());
    b.Build(0, nullptr);
  }
  TNetwork net;
  net.SetDirectory(Dir());
  net.Open(false, false, true, 0);
  TSpatialSearch s(net);

  TLocation loc{};
  int32_t side = 0;
  double d = -1;
  TFloatPoint F{};
  s.NearestLocation({100, 40}, loc, side, d, F);
  EXPECT_EQ(loc.link, 1);
  EXPECT_EQ(d, 0);
  EXPECT_EQ(side, 1);
  EXPECT_NEAR(loc.percent, 140.0 / 200, 1e-12);
  EXPECT_EQ(F.x, 100);
  EXPECT_EQ(F.y, 40);

  s.NearestLocation({310, 290}, loc, side, d, F);
  EXPECT_EQ(loc.link, 2);
  EXPECT_EQ(double(loc.percent), 0);
  EXPECT_EQ(F.x, 300);
  EXPECT_EQ(F.y, 300);
}

TEST_F(SearchEdges, MBRselectTakesBoxCornersAndNeedsAVertexInTheBox) {
  TTestNetworkWriter w;
  w.AddLink({{108, 108}, {200, 200}});  // node (108, 108): box corner, 11.3 m away
  w.AddLink({{50, 95}, {150, 95}});     // crosses the circle, no vertex in the box
  w.AddLink({{0, 0}, {0, 300}});
  TNetwork& net = Open(w);
  TSpatialSearch s(net);
  const TFloatPoint P{100, 100};
  const double radius = 0.01;  // 10 m
  TIntegerList links, nodes;
  s.SelectLinksList(P, radius, links);
  EXPECT_EQ(Items(links), std::vector<int32_t>{2});
  s.SelectNodesList(P, radius, nodes);
  EXPECT_EQ(nodes.Count(), 0);
  s.SetMBRselect(true);
  s.SelectLinksList(P, radius, links);
  EXPECT_EQ(Items(links), std::vector<int32_t>{1});
  s.SelectNodesList(P, radius, nodes);
  EXPECT_EQ(Items(nodes), std::vector<int32_t>{net.Fromnodes()[1]});
  // A negative or NaN radius selects nothing.
  for (const double bad : {-1.0, cNaN}) {
    TBitArray BA;
    s.SelectLinks(P, bad, &links, &BA);
    EXPECT_EQ(links.Count(), 0);
    EXPECT_EQ(BA.Size(), net.LinkCount() + 1);
    EXPECT_EQ(BA.CountTrue(), 0);
    s.SelectNodes(P, bad, &nodes, nullptr);
    EXPECT_EQ(nodes.Count(), 0);
  }
  // Neither list nor bit array: nothing to hand out, nothing breaks.
  s.SelectLinks(P, radius, nullptr, nullptr);
  s.SelectNodes(P, radius, nullptr, nullptr);
}

TEST_F(SearchEdges, LocationListIsWrittenOnlyWhenEveryItemSucceeds) {
  TTestNetworkWriter w;
  w.AddLink({{0, 0}, {1000, 0}});
  w.AddLink({{0, 500}, {1000, 500}});
  w.Write(Dir());
  TNetwork net;
  net.SetDirectory(Dir());
  net.Open(false, false, false, 0);
  TSpatialSearch s(net);
  TLocationList LL;
  EXPECT_NO_THROW(s.NearestLocationSimpleList(LL)) << "an empty list needs no index";
  net.Close();

  TTestNetworkWriter w2;
  w2.AddLink({{0, 0}, {1000, 0}});
  w2.AddLink({{0, 500}, {1000, 500}});
  TNetwork& net2 = Open(w2);
  TSpatialSearch s2(net2);
  LL.Add4({9, 0.5}, {250, 100});
  LL.Add4({9, 0.5}, {1e7, 100});  // beyond the search window
  EXPECT_EQ(MessageOf<ECoordinateCheck>([&] { s2.NearestLocationSimpleList(LL); }),
            "Coordinates (10000000 , 100) are beyond search area");
  EXPECT_EQ(LL.GetItem(0).loc.link, 9);
  LL.Delete(1);
  LL.Add4({9, 0.5}, {750, 400});
  s2.NearestLocationSimpleList(LL);
  EXPECT_EQ(LL.GetItem(0).loc.link, 1);
  EXPECT_EQ(double(LL.GetItem(0).loc.percent), 0.25);
  EXPECT_EQ(LL.GetItem(1).loc.link, 2);
  EXPECT_EQ(double(LL.GetItem(1).loc.percent), 0.75);
  EXPECT_EQ(LL.GetItem(1).P.x, 750) << "the point stays";
}

struct TBadUnit {
  TCoordinateUnit Unit;
  double Window;
  const char* Message;  // for a NaN point
};

TEST_F(SearchEdges, BadInputRaisesBeforeAnythingChanges) {
  const TBadUnit units[] = {
      {cuM, 20, "(NAN , 5) are not valid coordinates"},
      {cuM, -1, "(NAN , 5) are not valid coordinates"},
      {cuDeg, 20, "(NAN , 5) are not valid degree coordinates"},
      {cuDeg, -1, "(NAN , 5) are not valid degree coordinates"},
      {cuRad, -1, "(NAN , 5) are not valid radian coordinates"},
      {cuGrad, -1, "(NAN , 5) are not valid grad coordinates"},
  };
  for (const TBadUnit& u : units) {
    SCOPED_TRACE(testing::Message() << int(u.Unit) << " window " << u.Window);
    TTestNetworkWriter w;
    w.Unit = u.Unit;
    w.AddLink({{0.1, 0.1}, {0.2, 0.2}});
    TNetwork& net = Open(w);
    net.SetCoordinateWindow(u.Window);
    TSpatialSearch s(net);
    TIntegerList L;
    L.Add(5);
    int32_t node = 3;
    double d = 3;
    for (const TFloatPoint P : {TFloatPoint{cNaN, 5}}) {
      EXPECT_EQ(MessageOf<ECoordinateCheck>([&] { s.NearestNode(P, node, d); }), u.Message);
      EXPECT_EQ(MessageOf<ECoordinateCheck>([&] { s.SelectLinksList(P, 1, L); }), u.Message);
      EXPECT_EQ(MessageOf<ECoordinateCheck>([&] { s.SelectNodesList(P, 1, L); }), u.Message);
      EXPECT_EQ(MessageOf<ECoordinateCheck>([&] { s.NearestLink(P, 0, 1); }), u.Message);
    }
    EXPECT_FALSE(MessageOf<ECoordinateCheck>([&] { s.NearestNode({0.15, cInf}, node, d); }).empty());
    EXPECT_FALSE(MessageOf<ECoordinateCheck>([&] { s.NearestNode({-cInf, 0.15}, node, d); }).empty());
    EXPECT_EQ(L.Count(), 1);
    EXPECT_EQ(node, 3);
    fNet.reset();
  }

  TTestNetworkWriter w;
  w.AddLink({{0, 0}, {10, 10}});
  w.SpatialIndex = true;
  w.Write(Dir());
  TNetwork net;
  net.SetDirectory(Dir());
  TSpatialSearch s(net);
  TIntegerList L;
  EXPECT_EQ(MessageOf([&] { s.NearestNodeSimple({1, 1}); }), "Network is not open");
  EXPECT_EQ(MessageOf([&] { s.SelectLinksList({1, 1}, 1, L); }), "Network is not open");
  net.Open(false, false, false, 0);
  EXPECT_EQ(MessageOf([&] { s.NearestNodeSimple({1, 1}); }), "Spatial index need to be open");
  EXPECT_EQ(MessageOf([&] { s.NearestLocationSimple({1, 1}); }), "Spatial index need to be open");
  EXPECT_EQ(MessageOf([&] { s.NearestLink({1, 1}, 0, 1); }), "Spatial index need to be open");
  EXPECT_EQ(MessageOf([&] { TSpatialSearchTestAccess::SelectNodesInRect(s, {0, 0, 1, 1}, L); }),
            "Spatial index need to be open");
  net.Close();
  net.Open(false, false, true, 0);
  EXPECT_EQ(s.NearestNodeSimple({1, 1}), net.Fromnodes()[1]);
  net.Close();
  EXPECT_EQ(MessageOf([&] { s.NearestNodeSimple({1, 1}); }), "Network is not open");
}

// Two nodes at exactly the same distance in different quadrants: the walk
// meets NE before SW, so the higher id wins.
TEST_F(SearchEdges, EqualDistancesGoToTheFirstInWalkOrder) {
  TTestNetworkWriter w;
  w.MaxNodesPerCell = 1;
  w.AddLink({{80, 80}, {95, 95}});
  w.AddLink({{20, 20}, {5, 5}});
  TNetwork& net = Open(w);
  TSpatialSearch s(net);
  const int32_t ne = net.Fromnodes()[1], sw = net.Fromnodes()[2];
  ASSERT_GT(ne, sw);
  int32_t node = 0;
  double d = 0;
  s.NearestNode({50, 50}, node, d);
  EXPECT_EQ(node, ne);
  EXPECT_EQ(d, std::hypot(30.0, 30.0) * 0.001);
}

// A node is a vertex of every link at it. Among equally near vertices the
// nearest link's comes first, else the lowest link: links 1 to 3 meet at
// the origin, link 4 runs 25 m south of it with its vertices far away.
TEST_F(SearchEdges, NearestVertexTiesGoToTheNearestLinkThenTheLowest) {
  TTestNetworkWriter w;
  w.AddLink({{0, 0}, {-100, 0}});
  w.AddLink({{0, 0}, {0, 100}});
  w.AddLink({{0, 0}, {100, 0}});
  w.AddLink({{-300, -25}, {300, -25}});
  for (const bool cached : {false, true}) {
    fNet.reset();
    TNetwork& net = Open(w, false, cached);
    TSpatialSearch s(net);
    struct TCase {
      TFloatPoint P;
      int32_t link;  // the nearest link holds the origin, or not
    };
    for (const TCase& c : {TCase{{10, -5}, 3}, TCase{{5, -15}, 1}}) {
      int32_t link = 0, index = -1;
      double d = 0;
      s.NearestVertex(c.P, link, index, d);
      EXPECT_EQ(link, c.link) << c.P.x << " " << c.P.y;
      EXPECT_EQ(index, 0);
      EXPECT_EQ(d, std::hypot(c.P.x, c.P.y) * 0.001);
    }
  }
}

TEST_F(SearchEdges, NetworkSeamFindsTheNearestNode) {
  TTestNetworkWriter w;
  TRandom r;
  r.SetSeed(11);
  AddRandomLinks(w, r, {0, 0, 1000, 1000}, 60);
  TNetwork& net = Open(w);
  RegisterSpatialSearch();
  TSpatialSearch s(net);
  for (const TFloatPoint P : {TFloatPoint{10, 10}, TFloatPoint{700, 300}}) {
    int32_t n1 = 0, n2 = 0;
    double d1 = 0, d2 = 0;
    s.NearestNode(P, n1, d1);
    net.NearestNodeFinder()->NearestNode(P, n2, d2);
    EXPECT_EQ(n1, n2);
    EXPECT_EQ(d1, d2);
  }
}

}  // namespace
