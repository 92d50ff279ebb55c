// The test harness itself: the Boost Graph oracle against hand-computed
// costs, and the network generator's determinism.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "network/kovra_network.h"
#include "network/kovra_turn.h"
#include "network/support/network_writer.h"
#include "routing/support/bgl_oracle.h"
#include "routing/support/netgen.h"
#include "support/temp_dir_test.h"
#include "support/test_files.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

// A(0,0), B(3,0), C(3,4), D(6,0) in km:
//   1: A-B 3 km, 2: B-C 4 km, 3: A-C 5 km, 4: B-D 3 km (a dead end)
class OracleTest : public TTempDirTest {
protected:
  TNetwork& Open(uint16_t attr3 = 0) {
    TTestNetworkWriter w;
    w.Unit = cuKm;
    w.AddLink({{0, 0}, {3, 0}});
    w.AddLink({{3, 0}, {3, 4}});
    w.AddLink({{0, 0}, {3, 4}}, attr3);
    w.AddLink({{3, 0}, {6, 0}});
    w.SetAttribute(1, 0);  // "attribute.bin" for the attribute words
    w.Write(dir.string() + "/");
    net.SetDirectory(dir.string() + "/");
    net.Open(true, false, false, 0);
    return net;
  }
  int32_t NodeAt(double x, double y) const {
    for (int32_t n = 1; n <= net.NodeCount(); ++n)
      if (net.X()[size_t(n)] == x && net.Y()[size_t(n)] == y) return n;
    return 0;
  }
  TNetwork net;
};

TEST_F(OracleTest, NodeGraphGivesTheHandCosts) {
  Open();
  const int32_t A = NodeAt(0, 0), B = NodeAt(3, 0), C = NodeAt(3, 4), D = NodeAt(6, 0);
  auto d = TBglOracle(net, {}).NodeTree(A);
  EXPECT_EQ(d[size_t(A)], 0.0f);
  EXPECT_EQ(d[size_t(B)], 3.0f);
  EXPECT_EQ(d[size_t(C)], 5.0f);
  EXPECT_EQ(d[size_t(D)], 6.0f);
  // Link 3 one-way from C to A: C only over B.
  Open(cAttrOnewayToFrom);
  d = TBglOracle(net, {}).NodeTree(A);
  EXPECT_EQ(d[size_t(C)], 7.0f);
  TOracleOptions o;
  o.IgnoreOneway = true;
  EXPECT_EQ(TBglOracle(net, o).NodeTree(A)[size_t(C)], 5.0f);
}

// Times 1, 1, 5, 1; turn 1 -> 4 prohibited, turn 1 -> 2 costs 0.5.
TEST_F(OracleTest, LinkStateGraphGivesTheHandCosts) {
  Open();
  net.CreateArrayTime(1);
  for (int32_t l : {1, 2, 4}) net.SetTime(0, l, 1);
  net.SetTime(0, 3, 5);
  net.TurnSet(0).AddSimple(1, 4, -1);
  net.TurnSet(0).AddSimple(1, 2, 0.5f);
  TOracleOptions o;
  o.Criterion = rcTime;
  o.TurnCosts = true;
  const int32_t A = NodeAt(0, 0);
  const auto d = TBglOracle(net, o).StateTree(A);
  auto fw = [&](int32_t l) { return d[size_t(2 * l)]; };
  auto bw = [&](int32_t l) { return d[size_t(2 * l + 1)]; };
  EXPECT_EQ(fw(1), 1.0f);
  EXPECT_EQ(fw(2), 2.5f);  // 1 + 0.5 + 1
  EXPECT_EQ(fw(3), 5.0f);
  EXPECT_EQ(bw(2), 6.0f);  // over 3, back down 2
  EXPECT_EQ(fw(4), 7.0f);  // 1 -> 4 prohibited: over 3 and 2
  EXPECT_EQ(bw(4), 8.0f);  // the U-turn at the dead end D
  EXPECT_EQ(bw(1), 7.0f);
  EXPECT_EQ(bw(3), 7.5f);
  // Under distance the turn cost does not count and the prohibition stays.
  o.Criterion = rcDist;
  const auto e = TBglOracle(net, o).StateTree(A);
  EXPECT_EQ(e[2 * 2], 7.0f);
  EXPECT_EQ(e[2 * 4], 12.0f);  // A-C 5, C-B 4, B-D 3
}

// The oracle derives the dead-end links and the area exits itself (leaf
// stripping over the raw from/to arrays; border ends from the area list):
// by hand on the small network, and equal to the network's own derivations
// on generated ones with dead-end trees and areas.
TEST_F(OracleTest, OwnDeadEndsAndExitsEqualTheNetworks) {
  Open();
  const TBglOracle small(net, {});
  for (int32_t l = 1; l <= 4; ++l) EXPECT_EQ(small.DeadEnd(l), l == 4) << l;
  for (uint64_t seed = 1; seed <= 3; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    TNetGenOptions o;
    o.Seed = seed;
    o.Nodes = 600;
    o.Areas = 4;
    o.DeadEnds = 0.1;
    o.SpatialIndex = false;
    TGeneratedNetwork g(o);
    const TBglOracle oracle(g.NW, {});
    int32_t deadEnds = 0, exits = 0;
    for (int32_t l = 1; l <= g.NW.LinkCount(); ++l) {
      EXPECT_EQ(oracle.DeadEnd(l), g.NW.CulDeSacs().GetBit(l)) << "link " << l;
      deadEnds += oracle.DeadEnd(l);
    }
    const TAreaList& areas = g.NW.AreaList();
    ASSERT_GT(areas.Count(), 0);
    for (int32_t i = 0; i < areas.Count(); ++i) {
      const TAreaListItem& it = areas.Item(i);
      EXPECT_EQ(oracle.ExitFT(it.link), it.exitFT) << "link " << it.link;
      EXPECT_EQ(oracle.ExitTF(it.link), it.exitTF) << "link " << it.link;
      exits += it.exitFT + it.exitTF;
    }
    EXPECT_GT(deadEnds, 20);
    EXPECT_GT(exits, 4);
  }
}

TEST_F(OracleTest, VirtualSourceAtALocation) {
  Open();
  const int32_t A = NodeAt(0, 0), B = NodeAt(3, 0), C = NodeAt(3, 4);
  TBglOracle oracle(net, {});
  const auto d = oracle.NodeTreeFromLocation({3, 0.25});
  EXPECT_EQ(d[size_t(A)], 1.25f);
  EXPECT_EQ(d[size_t(C)], 3.75f);
  EXPECT_EQ(d[size_t(B)], 4.25f);
  // From A to the location at 60 % of link 2 (B to C): 3 + 0.6 x 4.
  EXPECT_EQ(oracle.NodeCostToLocation(oracle.NodeTree(A), {2, 0.6}), float(3.0 + 0.6 * 4.0));
}

std::map<std::string, std::string> FilesOf(const std::filesystem::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    files[e.path().filename().string()] = ReadBytes(e.path().string());
  return files;
}

TEST_F(OracleTest, GeneratorIsByteIdenticalPerSeed) {
  TNetGenOptions o;
  o.Nodes = 400;
  o.Restrictions2 = 20;
  o.Restrictions3 = 5;
  o.Areas = 2;
  o.Degrees = true;
  o.South = true;
  o.West = true;
  std::map<std::string, std::string> first;
  for (int32_t k = 0; k < 3; ++k) {
    o.Seed = k < 2 ? 11 : 12;
    const auto sub = dir / std::to_string(k);
    std::filesystem::create_directories(sub);
    const TGenNetwork g = GenerateNetwork(o);
    g.Write(sub.string());
    const auto files = FilesOf(sub);
    if (k == 0) first = files;
    if (k == 1) {
      EXPECT_TRUE(files == first);
    }
    if (k == 2) {
      EXPECT_FALSE(files == first);
    }
    EXPECT_TRUE(files.count("spatialindex.bin"));
  }
}

// What the generator promises shows in the opened network.
TEST_F(OracleTest, GeneratedNetworkHasWhatTheSuitesNeed) {
  TNetGenOptions o;
  o.Seed = 5;
  o.Nodes = 1500;
  o.Restrictions2 = 40;
  o.Restrictions3 = 10;
  o.Areas = 3;
  const TGenNetwork g = GenerateNetwork(o);
  g.Write(dir.string());
  g.Open(net, dir.string());
  EXPECT_FALSE(net.LoopLinks());
  EXPECT_GE(net.NodeCount(), 1500);
  int32_t oneway = 0, closed = 0, cds = 0, noUTurn = 0, high = 0;
  for (int32_t l = 1; l <= net.LinkCount(); ++l) {
    oneway += net.OneWayCode(l) == 1 || net.OneWayCode(l) == 2;
    closed += net.OneWayCode(l) == 3;
    cds += net.CulDeSacs().GetBit(l);
    noUTurn += (net.AttributeGet(l) & (cAttrUturnFrom | cAttrUturnTo)) != 0;
    high += net.GetHierarchy(l) >= 6;
  }
  EXPECT_GT(oneway, 0);
  EXPECT_GT(closed, 0);
  EXPECT_GT(cds, 0);
  EXPECT_GT(noUTurn, 0);
  EXPECT_GT(high, 0);
  EXPECT_GT(net.AreaList().Count(), 0);
  EXPECT_EQ(net.Times().size(), 1u);
  EXPECT_EQ(net.Costs().size(), 1u);
  EXPECT_EQ(net.LimitSlots() >= 2, true);
  EXPECT_GT(net.TurnSet(0).Count(), 40);
  EXPECT_NE(net.QuadTree(), nullptr);
  // Parallel links: some node pair joined twice.
  int32_t parallel = 0;
  for (int32_t n = 1; n <= net.NodeCount(); ++n) {
    const auto slots = net.Adjacent(n);
    for (size_t i = 0; i < slots.size(); ++i)
      for (size_t j = i + 1; j < slots.size(); ++j) {
        const int32_t a = std::abs(slots[i]), b = std::abs(slots[j]);
        const int32_t oa = net.Fromnodes()[size_t(a)] + net.Tonodes()[size_t(a)] - n;
        const int32_t ob = net.Fromnodes()[size_t(b)] + net.Tonodes()[size_t(b)] - n;
        parallel += oa == ob;
      }
  }
  EXPECT_GT(parallel, 0);
}

}  // namespace
