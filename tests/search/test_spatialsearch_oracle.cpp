// Every query of the spatial search against a full scan on random networks:
// planar and in degrees north and south of the equator, small leaves so the
// walk goes deep, points inside and outside the network's bounds within the
// search window, random skip sets, MBRselect on and off; vertices read from
// the file and cached (read in place).
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "search/search_fixture.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

struct TCase {
  const char* Name;
  TCoordinateUnit Unit;
  TFloatRect Region;
  double RadiusKm;  // the selections' radius
  bool Cached = false;
};

const TCase cCases[] = {
    {"planar", cuM, {0, 0, 10000, 8000}, 0.6},
    {"north", cuDeg, {10, 50, 11.2, 50.9}, 6},
    {"south", cuDeg, {-71, -62, -69.5, -61}, 6},
    {"planar_cached", cuM, {0, 0, 10000, 8000}, 0.6, true},
    {"north_cached", cuDeg, {10, 50, 11.2, 50.9}, 6, true},
    // Segments of metres, where the angular kernels round the most.
    {"north_fine", cuDeg, {10, 50, 10.005, 50.004}, 0.05, true},
};

// A random network of 400 links over the case's region, with small leaves
// so the walk goes deep, opened with its index.
class TRandomNetworkTest : public TSearchTest {
protected:
  TNetwork& OpenRandom(const TCase& c, TRandom& r, uint64_t seed) {
    r.SetSeed(seed);
    TTestNetworkWriter w;
    w.Unit = c.Unit;
    w.MaxNodesPerCell = 6;
    AddRandomLinks(w, r, c.Region, 400);
    return Open(w, false, c.Cached);
  }
};

class SearchOracle : public TRandomNetworkTest, public testing::WithParamInterface<TCase> {};

TFloatPoint RandomPoint(TRandom& r, const TFloatRect& R) {
  // Up to 15 % beyond the bounds on each side: inside the default 20 % window.
  const double W = R.xmax - R.xmin, H = R.ymax - R.ymin;
  return {R.xmin - 0.15 * W + r.NextDouble() * 1.3 * W, R.ymin - 0.15 * H + r.NextDouble() * 1.3 * H};
}

TBitArray RandomSkip(TRandom& r, int32_t Count, int32_t PerCent) {
  TBitArray b(int64_t(Count) + 1);
  for (int32_t i = 1; i <= Count; ++i) b.SetBit(i, r.NextInt(100) < PerCent);
  return b;
}

TEST_P(SearchOracle, EveryQueryEqualsTheFullScan) {
  const TCase& c = GetParam();
  TRandom r;
  TNetwork& net = OpenRandom(c, r, 20240611);
  TSpatialSearch s(net);
  TOracle o(net);
  const TFloatRect& mbr = net.MBR();
  const double factor = net.DistFactor();

  for (int32_t q = 0; q < 300; ++q) {
    SCOPED_TRACE(testing::Message() << c.Name << " query " << q);
    const TFloatPoint P = RandomPoint(r, mbr);
    // Skip sets on every other query.
    TBitArray skipLinks = RandomSkip(r, net.LinkCount(), 40), skipNodes = RandomSkip(r, net.NodeCount(), 40);
    const bool skip = q % 2 == 1;
    s.SetSkipLinks(skip ? &skipLinks : nullptr);
    s.SetSkipNodes(skip ? &skipNodes : nullptr);
    s.SetMBRselect(q % 3 == 0);

    // Nearest node.
    int32_t node = -1;
    double distance = -1;
    s.NearestNode(P, node, distance);
    const auto n = o.NearestNode(P, s.SkipNodes());
    EXPECT_EQ(node, n.first);
    EXPECT_EQ(distance, n.second * factor);

    // Nearest location: the distance from the scan (links meeting at a node
    // tie there, and the walk's first wins), the rest from the network's own
    // projection onto the link found.
    TLocation loc{};
    int32_t side = 0;
    TFloatPoint foot{};
    s.NearestLocation(P, loc, side, distance, foot);
    const auto seg = o.NearestSegment(P, s.SkipLinks());
    ASSERT_TRUE(o.Valid(loc.link, s.SkipLinks()));
    EXPECT_EQ(o.LinkDistance(P, loc.link), seg.d);
    EXPECT_EQ(distance, seg.d * factor);
    double percent = 0, d2 = 0;
    int32_t side2 = 0;
    TFloatPoint foot2{};
    net.DistanceToLink_raw(P, loc.link, percent, side2, d2, foot2);
    EXPECT_NEAR(loc.percent, percent, 1e-9);
    EXPECT_EQ(side, side2);
    EXPECT_NEAR(foot.x, foot2.x, 1e-9 * std::max(1.0, std::fabs(foot2.x)));
    EXPECT_NEAR(foot.y, foot2.y, 1e-9 * std::max(1.0, std::fabs(foot2.y)));

    // Nearest vertex.
    int32_t vlink = 0, vindex = 0;
    s.NearestVertex(P, vlink, vindex, distance);
    const auto v = o.NearestVertex(P, s.SkipLinks(), loc.link);
    EXPECT_EQ(vlink, v.link);
    EXPECT_EQ(vindex, v.index);
    EXPECT_EQ(distance, v.km);

    // Radius selections, by distance or by box.
    const double rr = c.RadiusKm / factor;
    const TFloatRect box = TSpatialSearchTestAccess::SearchBox(s, P, rr);
    const TFloatRect* byBox = s.MBRselect() ? &box : nullptr;
    TIntegerList links, nodes;
    TBitArray linkBits, nodeBits;
    s.SelectLinks(P, c.RadiusKm, &links, &linkBits);
    const std::vector<int32_t> wantLinks = o.Links(P, rr, s.SkipLinks(), byBox);
    EXPECT_EQ(Items(links), wantLinks);
    EXPECT_EQ(linkBits.Size(), net.LinkCount() + 1);
    EXPECT_EQ(linkBits.CountTrue(), int64_t(wantLinks.size()));
    for (const int32_t l : wantLinks) EXPECT_TRUE(linkBits.GetBit(l));
    s.SelectNodes(P, c.RadiusKm, &nodes, &nodeBits);
    const std::vector<int32_t> wantNodes = o.Nodes(P, rr, s.SkipNodes(), byBox);
    EXPECT_EQ(Items(nodes), wantNodes);
    EXPECT_EQ(nodeBits.CountTrue(), int64_t(wantNodes.size()));

    // Rectangle selections: a rectangle of random size around P.
    const double hw = (mbr.xmax - mbr.xmin) * 0.1 * r.NextDouble(), hh = (mbr.ymax - mbr.ymin) * 0.1 * r.NextDouble();
    const TFloatRect rect{P.x - hw, P.y - hh, P.x + hw, P.y + hh};
    TSpatialSearchTestAccess::SelectLinksInRect(s, rect, links);
    EXPECT_EQ(Items(links), o.Links(P, 0, s.SkipLinks(), &rect));
    TSpatialSearchTestAccess::SelectNodesInRect(s, rect, nodes);
    std::vector<int32_t> got = Items(nodes);
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, o.Nodes(P, 0, nullptr, &rect)) << "the skipped nodes too";
  }
}

// Points on and just beside the segments, where the cross-track kernel
// cancels the most: the nearest location still equals the full scan.
TEST_P(SearchOracle, PointsBesideLinksEqualTheFullScan) {
  const TCase& c = GetParam();
  TRandom r;
  TNetwork& net = OpenRandom(c, r, 20240612);
  TSpatialSearch s(net);
  TOracle o(net);
  for (int32_t q = 0; q < 300; ++q) {
    SCOPED_TRACE(testing::Message() << c.Name << " query " << q);
    const TFloatPointArrayEx line = net.GetGISSection(1 + r.NextInt(net.LinkCount()));
    const int32_t j = 1 + r.NextInt(line.Count - 1);
    const TFloatPoint& a = line.Pnt[size_t(j) - 1];
    const TFloatPoint& b = line.Pnt[size_t(j)];
    const double t = q % 7 == 0 ? 0 : r.NextDouble();
    // Beside the segment by 1e-3 to 1e-12 of its length.
    const double off = std::pow(10.0, -3 - 9 * r.NextDouble()) * (r.NextInt(2) ? 1 : -1);
    const TFloatPoint P{a.x + t * (b.x - a.x) + off * (a.y - b.y), a.y + t * (b.y - a.y) + off * (b.x - a.x)};
    TLocation loc{};
    int32_t side = 0;
    double distance = 0;
    TFloatPoint foot{};
    s.NearestLocation(P, loc, side, distance, foot);
    const auto seg = o.NearestSegment(P, nullptr);
    EXPECT_EQ(o.LinkDistance(P, loc.link), seg.d);
    EXPECT_EQ(distance, seg.d * net.DistFactor());
    int32_t vlink = 0, vindex = 0;
    s.NearestVertex(P, vlink, vindex, distance);
    const auto v = o.NearestVertex(P, nullptr, loc.link);
    EXPECT_EQ(vlink, v.link);
    EXPECT_EQ(vindex, v.index);
  }
}

INSTANTIATE_TEST_SUITE_P(Units, SearchOracle, testing::ValuesIn(cCases),
                         [](const testing::TestParamInfo<TCase>& i) { return std::string(i.param.Name); });

// The degree networks against the sphere judge, which shares no code with
// the search: point distances (nodes, vertices) agree within a micrometre;
// distances to links, foot points and percents within TolKm, the rounding of
// the search's spherical-triangle formula (its acos loses most on points a
// metre or less beside segments of metres: up to 1 cm there), far below any
// fault of method; the nearest answers are nearest by the judge; and the
// radius selections take everything inside the radius and nothing outside,
// but within the tolerance of its edge.
struct TJudgeCase {
  TCase Case;
  double TolKm;
};

const TJudgeCase cDegreeCases[] = {{cCases[1], 1e-5}, {cCases[2], 1e-5}, {cCases[4], 1e-5}, {cCases[5], 5e-5}};

class SphereJudge : public TRandomNetworkTest, public testing::WithParamInterface<TJudgeCase> {};

TEST_P(SphereJudge, DegreeAnswersAgreeWithTheSphere) {
  const TCase& c = GetParam().Case;
  const double tol = GetParam().TolKm, pointTol = 1e-9;
  TRandom r;
  TNetwork& net = OpenRandom(c, r, 20240613);
  TSpatialSearch s(net);
  const TSphereJudge judge(net);
  for (int32_t q = 0; q < 300; ++q) {
    SCOPED_TRACE(testing::Message() << c.Name << " query " << q);
    const TFloatPoint P = RandomPoint(r, net.MBR());
    TBitArray skipLinks = RandomSkip(r, net.LinkCount(), 40), skipNodes = RandomSkip(r, net.NodeCount(), 40);
    const bool skip = q % 2 == 1;
    s.SetSkipLinks(skip ? &skipLinks : nullptr);
    s.SetSkipNodes(skip ? &skipNodes : nullptr);
    auto linkTaken = [&](int32_t l) { return net.Lengths()[size_t(l)] > 0 && !(skip && skipLinks.GetBit(l)); };
    auto nodeTaken = [&](int32_t n) { return !(skip && skipNodes.GetBit(n)); };
    std::vector<double> nodeKm(size_t(net.NodeCount()) + 1), linkKm(size_t(net.LinkCount()) + 1);
    double nodeMin = 1e300, linkMin = 1e300;
    for (int32_t n = 1; n <= net.NodeCount(); ++n) {
      nodeKm[size_t(n)] = judge.Km(P, net.Node2Coordinate_raw(n));
      if (nodeTaken(n)) nodeMin = std::min(nodeMin, nodeKm[size_t(n)]);
    }
    for (int32_t l = 1; l <= net.LinkCount(); ++l) {
      linkKm[size_t(l)] = linkTaken(l) ? judge.Link(P, l).Km : 1e300;
      linkMin = std::min(linkMin, linkKm[size_t(l)]);
    }

    int32_t node = 0;
    double km = 0;
    s.NearestNode(P, node, km);
    ASSERT_TRUE(node > 0 && nodeTaken(node));
    EXPECT_NEAR(km, nodeMin, pointTol);
    EXPECT_NEAR(nodeKm[size_t(node)], nodeMin, pointTol);

    TLocation loc{};
    int32_t side = 0;
    TFloatPoint foot{};
    s.NearestLocation(P, loc, side, km, foot);
    ASSERT_TRUE(loc.link > 0 && linkTaken(loc.link));
    const TSphereJudge::TFoot f = judge.Link(P, loc.link);
    EXPECT_NEAR(km, linkMin, tol);
    EXPECT_NEAR(f.Km, linkMin, tol);
    EXPECT_LE(judge.Km(foot, f.At), tol) << "the foot point lies where the judge's does";
    EXPECT_NEAR(loc.percent * judge.LinkKm(loc.link), f.Percent * judge.LinkKm(loc.link), tol);

    int32_t vlink = 0, vindex = 0;
    s.NearestVertex(P, vlink, vindex, km);
    ASSERT_TRUE(vlink > 0 && linkTaken(vlink));
    double vertexMin = 1e300;
    for (int32_t l = 1; l <= net.LinkCount(); ++l) {
      if (!linkTaken(l)) continue;
      const TFloatPointArrayEx line = net.GetGISSection(l);
      for (int32_t i = 0; i < line.Count; ++i) vertexMin = std::min(vertexMin, judge.Km(P, line.Pnt[size_t(i)]));
    }
    EXPECT_NEAR(km, vertexMin, pointTol);
    EXPECT_NEAR(judge.Km(P, net.GetGISSection(vlink).Pnt[size_t(vindex)]), vertexMin, pointTol);

    s.SetMBRselect(false);
    TIntegerList links, nodes;
    s.SelectLinksList(P, c.RadiusKm, links);
    s.SelectNodesList(P, c.RadiusKm, nodes);
    std::vector<char> tookLink(size_t(net.LinkCount()) + 1, 0), tookNode(size_t(net.NodeCount()) + 1, 0);
    for (const int32_t l : Items(links)) tookLink[size_t(l)] = 1;
    for (const int32_t n : Items(nodes)) tookNode[size_t(n)] = 1;
    // Inside the radius: taken; outside it or skipped: not; within the
    // tolerance of its edge: either.
    auto judged = [&](bool allowed, bool took, double km, double t) {
      if (!allowed || km > c.RadiusKm + t) return !took;
      return km >= c.RadiusKm - t || took;
    };
    for (int32_t l = 1; l <= net.LinkCount(); ++l)
      EXPECT_TRUE(judged(linkTaken(l), tookLink[size_t(l)], linkKm[size_t(l)], tol)) << "link " << l;
    for (int32_t n = 1; n <= net.NodeCount(); ++n)
      EXPECT_TRUE(judged(nodeTaken(n), tookNode[size_t(n)], nodeKm[size_t(n)], pointTol)) << "node " << n;
  }
}

INSTANTIATE_TEST_SUITE_P(Degrees, SphereJudge, testing::ValuesIn(cDegreeCases),
                         [](const testing::TestParamInfo<TJudgeCase>& i) { return std::string(i.param.Case.Name); });

}  // namespace
