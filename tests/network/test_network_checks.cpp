// Argument checks, attribute setters with their adjacency signs, route
// lengths, random locations and cul-de-sac marking on small networks.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>

#include "network_fixture.h"
#include "support/test_raises.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

constexpr double cNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double cInf = std::numeric_limits<double>::infinity();

// Links: 1 (0,0)-(100,0); 2 rejected; 3 (100,0)-(100,100); 4 a loop at (100,100).
TTestNetworkWriter Small(TCoordinateUnit Unit = cuM) {
  TTestNetworkWriter w;
  w.Unit = Unit;
  const double s = Unit == cuM ? 100 : 0.5;
  w.AddLink({{0, 0}, {s, 0}});
  w.AddRejected();
  w.AddLink({{s, 0}, {s, s}});
  w.AddLink({{s, s}, {1.5 * s, 1.5 * s}, {s, 1.6 * s}, {s, s}});
  return w;
}

template <typename E>
std::function<std::string(const std::function<void()>&)> Raises() {
  return [](const std::function<void()>& f) { return MessageOf<E>(f); };
}

struct TCheckCase {
  const char* name;
  std::function<void(TNetwork&)> call;
  std::function<std::string(const std::function<void()>&)> raises;  // message of the expected class
  std::string message;
};

class NetworkChecks : public TNetworkTest {};

TEST_F(NetworkChecks, EachCheckRaisesItsMessage) {
  TTestNetworkWriter w = Small();
  w.SetRoadNames(3, {"Main St", "Main St", "High St", "Main St"});  // two names
  TNetwork& net = Open(w);
  net.OpenRoadName(3, false);
  const int32_t N = net.NodeCount();
  const int32_t node1 = net.Fromnodes()[1];
  TLocationList empty, badLink, badPercent, rejected;
  badLink.Add2(1, 0.5);
  badLink.Add2(9, 0.5);
  badPercent.Add2(1, cNaN);
  rejected.Add2(3, 1);
  rejected.Add2(2, 0);
  TIntegerList noNodes, nodes;
  nodes.Add(1);
  nodes.Add(N + 1);
  TBitArray shortBits(4);
  const std::vector<TCheckCase> cases{
      {"Link0", [](TNetwork& n) { n.CheckLink(0); }, Raises<EOutOfRange>(), "Link-ID must be >=1: 0"},
      {"LinkCountPlus1", [](TNetwork& n) { n.CheckLink(5); }, Raises<EOutOfRange>(), "Link-ID must be <=4: 5"},
      {"RejectedLink", [](TNetwork& n) { n.CheckLink(2); }, Raises<Exception>(), "Link 2 is a non-valid link"},
      {"RejectedInRange", [](TNetwork& n) { n.CheckLinkRange(2); }, Raises<Exception>(), ""},
      {"Node0", [](TNetwork& n) { n.CheckNode(0); }, Raises<EOutOfRange>(), "Node-ID must be >=1: 0"},
      {"NodeCountPlus1", [N](TNetwork& n) { n.CheckNode(N + 1); }, Raises<EOutOfRange>(),
       Format("Node-ID must be =<%d: %d", N, N + 1)},
      {"EmptyNodeList", [&](TNetwork& n) { n.CheckNodeList(noNodes); }, Raises<Exception>(), "Nodelist is empty"},
      {"NodeListEntry", [&](TNetwork& n) { n.CheckNodeList(nodes); }, Raises<EOutOfRange>(),
       Format("Node at index 1 in list, %d, must be between 1 and %d", N + 1, N)},
      {"PercentNaN", [](TNetwork& n) { n.CheckPercent(cNaN); }, Raises<EWrongPercent>(),
       "Percent need to be from 0 to 1"},
      {"PercentAboveOne", [](TNetwork& n) { n.CheckPercent(1.0000001); }, Raises<EWrongPercent>(),
       "Percent need to be from 0 to 1"},
      {"PercentBounds", [](TNetwork& n) { n.CheckPercent(0), n.CheckPercent(1); }, Raises<Exception>(), ""},
      {"LocationPercent", [](TNetwork& n) { n.CheckLocation({1, 1.5}); }, Raises<EOutOfRange>(),
       "Percentage must be 0<=percent<=1: 1.50"},
      {"LocationRejected", [](TNetwork& n) { n.CheckLocation({2, 0.5}); }, Raises<Exception>(),
       "Location (link 2), is a non-valid link"},
      {"EmptyLocationList", [&](TNetwork& n) { n.CheckLocationList(empty); }, Raises<Exception>(),
       "Locationlist is empty"},
      {"LocationListLink", [&](TNetwork& n) { n.CheckLocationList(badLink); }, Raises<EOutOfRange>(),
       "Location (link) at index 1 in list, 9, must be between 1 and 4"},
      {"LocationListPercent", [&](TNetwork& n) { n.CheckLocationList(badPercent); }, Raises<EOutOfRange>(),
       "Location (percentage) at index 0 in list, NAN, must be between 0 and 1"},
      {"LocationListRejected", [&](TNetwork& n) { n.CheckLocationList(rejected); }, Raises<Exception>(),
       "Location (link) at index 1 in list, 2, is a non-valid link"},
      {"PointNaN", [](TNetwork& n) { n.CheckCoordinate({cNaN, 0}); }, Raises<ECoordinateCheck>(),
       "(NAN , 0) are not valid coordinates"},
      {"PointInfinite", [](TNetwork& n) { n.CheckCoordinate({0, cInf}); }, Raises<ECoordinateCheck>(),
       "(0 , INF) are not valid coordinates"},
      {"PointOutsideWindow", [](TNetwork& n) { n.CheckCoordinate({1000, 0}); }, Raises<ECoordinateCheck>(),
       "Coordinates (1000 , 0) are beyond search area"},
      {"RoadFile0", [](TNetwork& n) { n.CheckRoadNameFile(0); }, Raises<EOutOfRange>(),
       "RoadFileID should be from 1 to 99, not 0"},
      {"RoadFile100", [](TNetwork& n) { n.OpenRoadName(100, false); }, Raises<EOutOfRange>(),
       "RoadFileID should be from 1 to 99, not 100"},
      {"RoadFileNotOpen", [](TNetwork& n) { n.Link2RoadName(1, 1); }, Raises<ERoadNameFileNotOpen>(),
       "Roadnamefile 1 is not open"},
      {"RoadNameID0", [](TNetwork& n) { n.RoadNameID2RoadName(3, 0); }, Raises<EOutOfRange>(),
       "RoadNameID should be from 1 to 2, not 0"},
      {"RoadNameIDAbove", [](TNetwork& n) { n.RoadNameID2RoadName(3, 3); }, Raises<EOutOfRange>(),
       "RoadNameID should be from 1 to 2, not 3"},
      {"RoadNameIDInRange", [](TNetwork& n) { n.RoadNameID2RoadName(3, 2); }, Raises<Exception>(), ""},
      {"TurnIndex", [](TNetwork& n) { n.CheckTurnIndex(1); }, Raises<EOutOfRange>(),
       "Turn index must be between 0 and 0"},
      {"Node2LinkSlot", [node1](TNetwork& n) { n.Node2Link(node1, n.Degree(node1) + 1); }, Raises<EOutOfRange>(),
       "Link index must be from 1 to 1, not 2"},
      {"RouteLink0", [](TNetwork& n) { n.RouteLength({{}, {1, 0}, 0, 1}); }, Raises<EOutOfRange>(),
       "Link-ID must be >=1: 0"},
      {"RouteLinkAbove", [](TNetwork& n) { n.RouteLength({{}, {-5}, 0, 1}); }, Raises<EOutOfRange>(),
       "Link-ID must be <=4: 5"},
      {"ShortBitArray", [&](TNetwork& n) { n.AttributeSetBits(12, shortBits); }, Raises<EInvalidParameter>(),
       "Bit array must hold at least 5 bits"},
      {"RoadClass32", [](TNetwork& n) { n.SetRoadClass(1, 32); }, Raises<EOutOfRange>(),
       "Index for RoadClass should be 0 to 31 (is 32)"},
      {"Hierarchy8", [](TNetwork& n) { n.SetHierarchy(1, 8); }, Raises<EOutOfRange>(),
       "Hierarchy should be 0 to 7 (is 8)"},
      {"OneWayLinkAbove", [](TNetwork& n) { n.OneWaySet(5, 512); }, Raises<EOutOfRange>(), "Link-ID must be <=4: 5"},
  };
  const TWordArray words = net.Attributes();
  for (const TCheckCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.raises([&] { c.call(net); }), c.message);
    EXPECT_EQ(net.Attributes(), words);  // a failed check changes nothing
  }
  EXPECT_EQ(net.LinkLength(2), 0.0f);
  EXPECT_FALSE(net.LoopLink(2));
  EXPECT_TRUE(net.LoopLink(4));
  net.Close();
  EXPECT_EQ(MessageOf<ENetworkIsClosed>([&] { net.Degree(1); }), "Network is not open");
  EXPECT_EQ(MessageOf<ENetworkIsClosed>([&] { net.OneWaySet(1, 512); }), "Network is not open");
}

TEST_F(NetworkChecks, CoordinateBoundsAreInclusiveAndWindowOptional) {
  struct TCase {
    TCoordinateUnit unit;
    TFloatPoint inside, outside;
    std::string message;
  };
  const double pi = 3.141592653589793;
  const std::vector<TCase> cases{
      {cuDeg, {180, 90}, {-180, 90.000001}, "(-180 , 90.000001) are not valid degree coordinates"},
      {cuRad, {pi, -pi / 2}, {cNaN, 0}, "(NAN , 0) are not valid radian coordinates"},
      {cuGrad, {-200, 100}, {200.5, 0}, "(200.5 , 0) are not valid grad coordinates"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(int(c.unit));
    TNetwork& net = Open(Small(c.unit));
    net.SetCoordinateWindow(-1);
    EXPECT_EQ(MessageOf([&] { net.CheckCoordinate(c.inside); }), "");
    EXPECT_EQ(MessageOf<ECoordinateCheck>([&] { net.CheckCoordinate(c.outside); }), c.message);
    net.SetCoordinateWindow(0);  // the window is the bounds themselves, edges included
    EXPECT_EQ(MessageOf([&] { net.CheckCoordinate({net.MBR().xmax, net.MBR().ymin}); }), "");
    EXPECT_THAT(MessageOf<ECoordinateCheck>([&] { net.CheckCoordinate(c.inside); }),
                testing::HasSubstr("are beyond search area"));
  }
}

// The sign of every slot of a link, at its from-node and its to-node.
std::pair<int32_t, int32_t> Signs(const TNetwork& net, int32_t link) {
  int32_t atFrom = 0, atTo = 0;
  for (int32_t e : net.Adjacent(net.Fromnodes()[size_t(link)]))
    if (std::abs(e) == link) atFrom = e > 0 ? 1 : -1;
  for (int32_t e : net.Adjacent(net.Tonodes()[size_t(link)]))
    if (std::abs(e) == link && net.Fromnodes()[size_t(link)] != net.Tonodes()[size_t(link)]) atTo = e > 0 ? 1 : -1;
  return {atFrom, atTo};
}

TEST_F(NetworkChecks, OneWayWordsAndSigns) {
  TNetwork& net = Open(Small());
  struct TCase {
    int32_t link;
    uint16_t value;
    uint16_t stored;
    std::pair<int32_t, int32_t> signs;  // at from-node, at to-node (0: not checked)
  };
  const std::vector<TCase> cases{
      {1, 512, 512, {1, -1}},    // from->to only: cannot leave the to-node
      {1, 1024, 1024, {-1, 1}},  // to->from only
      {1, 1536, 1536, {-1, -1}},
      {1, 0x100, 0, {1, 1}},  // bits outside the one-way code are not stored
      {1, 0, 0, {1, 1}},
      {4, 1536, 0, {1, 0}},  // a loop is never one-way
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.value);
    const uint64_t v = net.AttributeVersion();
    net.OneWaySet(c.link, c.value);
    EXPECT_GT(net.AttributeVersion(), v);
    EXPECT_EQ(net.OneWayGet(c.link), c.stored);
    EXPECT_EQ(net.AttributeGet(c.link), c.stored);
    EXPECT_EQ(Signs(net, c.link), c.signs);
  }
  net.OneWaySet(2, 512);  // a rejected object is in range and has no slots to sign

  net.AttributeSet(4, 0x0600 | 7);
  EXPECT_EQ(net.AttributeGet(4), 7);  // loop: bits 9 and 10 cleared
  net.AttributeSetBit(4, 9, true);
  EXPECT_TRUE(net.AttributeGetBit(4, 9));  // no masking here
  // A loop's slots follow bit 10 only.
  for (int32_t e : net.Adjacent(net.Fromnodes()[4]))
    if (std::abs(e) == 4) EXPECT_GT(e, 0);

  net.SetRoadClass(3, 31);
  net.SetHierarchy(3, 7);
  net.OneWaySet(3, 1024);
  EXPECT_EQ(net.AttributeGet(3), 31 | 7 << 5 | 1024);
  EXPECT_EQ(net.GetRoadClass(3), 31);
  EXPECT_EQ(net.GetHierarchy(3), 7);

  net.OneWaySet(1, 512);
  net.SwapOneWay();
  EXPECT_EQ(net.OneWayCode(1), 2);
  EXPECT_EQ(net.OneWayCode(3), 1);
  EXPECT_EQ(Signs(net, 1), std::make_pair(-1, 1));
  EXPECT_EQ(Signs(net, 3), std::make_pair(1, -1));
  net.OneWaySet(1, 1536);
  net.SwapOneWay();
  EXPECT_EQ(net.OneWayCode(1), 3);  // closed stays closed

  TBitArray bits(5);
  bits.SetBit(1, true);
  bits.SetBit(3, true);
  net.AttributeSetBits(9, bits);
  EXPECT_EQ(net.OneWayCode(1), 3);
  EXPECT_EQ(net.OneWayCode(3), 3);
  EXPECT_EQ(Signs(net, 3), std::make_pair(-1, -1));
  net.AttributeSetSkipInSearchBit();
  EXPECT_TRUE(net.AttributeGetBit(1, 15));
  EXPECT_FALSE(net.AttributeGetBit(4, 15));
}

TEST_F(NetworkChecks, OpenAttributesSignsTheSlots) {
  TTestNetworkWriter w = Small();
  w.SetAttribute(1, 512);
  w.SetAttribute(3, 1024 | 5);
  w.SetAttribute(4, 512);  // a loop's word as stored is taken as it is
  TNetwork& net = Open(w, true);
  EXPECT_EQ(Signs(net, 1), std::make_pair(1, -1));
  EXPECT_EQ(Signs(net, 3), std::make_pair(-1, 1));
  EXPECT_EQ(net.AttributeGet(4), 512);
  EXPECT_EQ(Signs(net, 4).first, 1);
}

TEST_F(NetworkChecks, RouteLengthRules) {
  TTestNetworkWriter w;  // three links of 1, 2 and 4 km in a row
  w.AddLink({{0, 0}, {1000, 0}});
  w.AddLink({{1000, 0}, {3000, 0}});
  w.AddLink({{3000, 0}, {7000, 0}});
  TNetwork& net = Open(w);
  struct TCase {
    const char* name;
    TRoute route;
    float km;
  };
  const std::vector<TCase> cases{
      {"Empty", {{}, {}, 0.5, 0.5}, 0},
      {"NodeToNode", {{1, 2, 3, 4}, {1, 2, 3}, 0.5, 0.5}, 7},
      {"OneLinkTwoNodesIsWhole", {{1, 2}, {2}, 0.25, 0.75}, 2},
      {"OneLinkPart", {{}, {3}, 0.75, 0.25}, 2},
      {"ForwardParts", {{}, {1, 2, 3}, 0.5, 0.25}, 0.5f + 2 + 1},
      {"BackwardParts", {{}, {-3, -2, -1}, 0.25, 0.5}, 1 + 2 + 0.5f},
  };
  for (const TCase& c : cases) EXPECT_FLOAT_EQ(net.RouteLength(c.route), c.km) << c.name;
}

TEST_F(NetworkChecks, RandomLocationSkipsRejectedLinks) {
  TNetwork& net = Open(Small());
  TRandom r;
  r.SetSeed(12345);
  // Links from python3: s = (s * 134775813 + 1) % 2**32; int(s / 2**32 * 4) + 1,
  // drawn again on the rejected link 2; then the percent s / 2**32.
  const std::vector<int32_t> links{1, 3, 1, 4, 1, 3, 4, 4};
  for (int32_t want : links) {
    const TLocation loc = net.RandomLocation(r);
    EXPECT_EQ(loc.link, want);
    EXPECT_TRUE(loc.percent >= 0 && loc.percent < 1);
  }
}

// Links that leaf pruning removes: the dead ends of the graph.
std::vector<bool> PrunedLinks(const TNetwork& net) {
  const int32_t L = net.LinkCount();
  std::vector<int32_t> degree(size_t(net.NodeCount()) + 1, 0);
  std::vector<bool> gone(size_t(L) + 1, false);
  for (int32_t l = 1; l <= L; ++l)
    if (net.Lengths()[size_t(l)] != 0) {
      ++degree[size_t(net.Fromnodes()[size_t(l)])];
      ++degree[size_t(net.Tonodes()[size_t(l)])];
    }
  for (bool changed = true; changed;) {
    changed = false;
    for (int32_t l = 1; l <= L; ++l) {
      const int32_t f = net.Fromnodes()[size_t(l)], t = net.Tonodes()[size_t(l)];
      if (gone[size_t(l)] || net.Lengths()[size_t(l)] == 0 || f == t) continue;
      if (degree[size_t(f)] == 1 || degree[size_t(t)] == 1) {
        gone[size_t(l)] = true;
        --degree[size_t(f)];
        --degree[size_t(t)];
        changed = true;
      }
    }
  }
  return gone;
}

void ExpectCulDeSacs(const TNetwork& net, const std::vector<bool>& want) {
  for (int32_t l = 1; l <= net.LinkCount(); ++l) EXPECT_EQ(net.CulDeSacs().GetBit(l), want[size_t(l)]) << "link " << l;
}

TEST_F(NetworkChecks, CulDeSacShapes) {
  struct TShape {
    const char* name;
    std::vector<TFloatPointArray> links;
    std::vector<bool> marked;  // per link, from link 1
  };
  const std::vector<TShape> shapes{
      {"Path", {{{0, 0}, {1, 0}}, {{1, 0}, {2, 0}}, {{2, 0}, {3, 0}}}, {true, true, true}},
      {"Cycle", {{{0, 0}, {1, 0}}, {{1, 0}, {1, 1}}, {{1, 1}, {0, 0}}}, {false, false, false}},
      {"Lollipop",
       {{{0, 0}, {1, 0}}, {{1, 0}, {1, 1}}, {{1, 1}, {0, 0}}, {{1, 0}, {2, 0}}, {{2, 0}, {3, 0}}},
       {false, false, false, true, true}},
      // A fork of two dead ends hanging off a cycle: both ends and the stem.
      {"Fork",
       {{{0, 0}, {1, 0}}, {{1, 0}, {1, 1}}, {{1, 1}, {0, 0}}, {{1, 0}, {2, 0}}, {{2, 0}, {3, 1}}, {{2, 0}, {3, -1}}},
       {false, false, false, true, true, true}},
      {"SingleLink", {{{0, 0}, {5, 0}}}, {true}},
  };
  for (const TShape& s : shapes) {
    SCOPED_TRACE(s.name);
    TTestNetworkWriter w;
    for (const auto& l : s.links) w.AddLink(l);
    TNetwork& net = Open(w);
    std::vector<bool> want{false};
    want.insert(want.end(), s.marked.begin(), s.marked.end());
    ExpectCulDeSacs(net, want);
    if (std::string(s.name) == "SingleLink") EXPECT_EQ(net.LengthAlpha(), 1.0f);
  }
}

TEST_F(NetworkChecks, CulDeSacsMatchLeafPruningOnRandomMultigraphs) {
  std::mt19937 rng(7);
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(round);
    TTestNetworkWriter w;
    const int points = 3 + int(rng() % 10), links = 1 + int(rng() % 16);
    std::vector<TFloatPoint> p;
    for (int i = 0; i < points; ++i) p.push_back({double(i * 10), double((i * 7) % 5)});
    for (int i = 0; i < links; ++i) {
      const TFloatPoint a = p[rng() % points], b = p[rng() % points];
      const TFloatPoint mid{(a.x + b.x) / 2 + 1 + i, (a.y + b.y) / 2 + 3};  // parallels and loops differ
      w.AddLink({a, mid, b});
    }
    TNetwork& net = Open(w);
    ExpectCulDeSacs(net, PrunedLinks(net));
  }
}

}  // namespace
