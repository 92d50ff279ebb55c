// No-drive-through areas: building them from the attribute words, dead ends
// that join them, exits, node areas, crossing checks and the masks the
// calculators take from the area list.
#include <gtest/gtest.h>

#include <map>
#include <numeric>
#include <functional>
#include <random>

#include "network_fixture.h"
#include "support/test_raises.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

constexpr uint16_t cNoThrough = 256;

class Areas : public TNetworkTest {
protected:
  // A square of area links (1-4) with a dead end (5) at a corner where only
  // area links meet; an ordinary ring (6-8) joins two of its corners; a
  // second area (9) hangs off the ring; an ordinary dead end (10) hangs off
  // a node of the ring.
  TNetwork& Build() {
    TTestNetworkWriter w;
    w.AddLink({{0, 0}, {1, 0}}, cNoThrough);    // 1
    w.AddLink({{1, 0}, {1, 1}}, cNoThrough);    // 2
    w.AddLink({{1, 1}, {0, 1}}, cNoThrough);    // 3
    w.AddLink({{0, 1}, {0, 0}}, cNoThrough);    // 4
    w.AddLink({{1, 0}, {2, -1}});               // 5
    w.AddLink({{0, 0}, {-1, 0}});               // 6
    w.AddLink({{-1, 0}, {-1, 1}});              // 7
    w.AddLink({{-1, 1}, {0, 1}});               // 8
    w.AddLink({{-1, 1}, {-2, 1}}, cNoThrough);  // 9
    w.AddLink({{-1, 0}, {-2, -1}});             // 10
    return Open(w, true);
  }
  static TRoute Route(std::vector<int32_t> links) {
    TRoute r;
    r.links = std::move(links);
    return r;
  }
};

int32_t NodeAt(const TNetwork& net, TFloatPoint P) {
  for (int32_t n = 1; n <= net.NodeCount(); ++n)
    if (net.Node2Coordinate(n) == P) return n;
  return 0;
}

TEST_F(Areas, BuiltWhenTheAttributesOpen) {
  TNetwork& net = Build();
  const TAreaList& areas = net.AreaList();
  EXPECT_EQ(areas.MaxArea(), 2);
  const std::vector<int32_t> area{0, 1, 1, 1, 1, 1, 0, 0, 0, 2, 0};
  for (int32_t l = 1; l <= 10; ++l) EXPECT_EQ(areas.GetArea(l), area[size_t(l)]) << "link " << l;
  EXPECT_TRUE(net.AttributeGetBit(5, 8));  // the absorbed dead end, in memory
  EXPECT_FALSE(net.AttributeGetBit(10, 8));

  // Exits: ends that also carry links outside every area.
  struct Exit {
    int32_t link;
    bool ft, tf;
  } exits[] = {{1, false, true},  {2, false, false}, {3, true, false},
               {4, true, true},   {5, false, false}, {9, false, true}};
  for (const auto& e : exits) {
    for (int32_t i = 0; i < areas.Count(); ++i)
      if (areas.Item(i).link == e.link) {
        EXPECT_EQ(areas.Item(i).exitFT, e.ft) << e.link;
        EXPECT_EQ(areas.Item(i).exitTF, e.tf) << e.link;
      }
  }
  EXPECT_EQ(net.NodeArea(NodeAt(net, {1, 1})), 1);
  EXPECT_EQ(net.NodeArea(NodeAt(net, {0, 0})), 0);
  EXPECT_EQ(net.NodeArea(NodeAt(net, {-2, 1})), 2);

  TIntegerList links;
  areas.GetLinkList(1, links);
  ASSERT_EQ(links.Count(), 5);
  for (int32_t i = 0; i < 5; ++i) EXPECT_EQ(links.GetItem(i), i + 1);
  areas.GetLinkList(3, links);
  EXPECT_EQ(links.Count(), 0);
}

TEST_F(Areas, CrossingsAndMasks) {
  TNetwork& net = Build();
  EXPECT_TRUE(net.NoDriveThroughSet());
  EXPECT_TRUE(net.NoDriveThroughCheck(Route({6, 2, 9})));    // through area 1 from outside to area 2
  EXPECT_FALSE(net.NoDriveThroughCheck(Route({6, 1, 2})));   // ends in the area it passes
  EXPECT_FALSE(net.NoDriveThroughCheck(Route({9, 7, 6})));   // passes no area
  EXPECT_FALSE(net.NoDriveThroughCheck(Route({1, 9})));      // two links never cross

  TBitArray bits(11), ft(11), tf(11);
  net.AreaList().Update(bits, 1, 0);
  for (int32_t l = 1; l <= 10; ++l) EXPECT_EQ(bits.GetBit(l), l != 9) << l;
  net.AreaList().UpdateExitBits(ft, tf, 0);  // a start outside every area
  for (int32_t l = 1; l <= 10; ++l) {
    EXPECT_EQ(ft.GetBit(l), l != 3 && l != 4) << l;
    EXPECT_EQ(tf.GetBit(l), l != 1 && l != 4 && l != 9) << l;
  }
  net.AreaList().UpdateExitBits(ft, tf, 1);  // inside area 1 its own exits stay open
  for (int32_t l = 1; l <= 10; ++l) EXPECT_EQ(tf.GetBit(l), l != 9) << l;
}

TEST_F(Areas, ClonesOwnTheirAreasAndClosedNetworksHaveNone) {
  TNetwork& net = Build();
  TNetwork copy;
  net.Clone(copy);
  EXPECT_EQ(copy.AreaList().GetArea(5), 1);
  copy.AttributeSetBit(9, 8, false);
  copy.NoDriveThroughInit();
  EXPECT_EQ(copy.AreaList().MaxArea(), 1);
  EXPECT_EQ(net.AreaList().MaxArea(), 2);
  copy.Close();
  EXPECT_FALSE(copy.NoDriveThroughSet());
  EXPECT_FALSE(copy.NoDriveThroughCheck(Route({1, 2})));
  EXPECT_EQ(MessageOf<ENetworkIsClosed>([&] { copy.NoDriveThroughCheck(Route({1, 2, 3})); }), "Network is not open");
  EXPECT_EQ(MessageOf<ENetworkIsClosed>([&] { copy.NoDriveThroughInit(); }), "Network is not open");

  // Without area links: no areas at all.
  TTestNetworkWriter w;
  w.AddLink({{0, 0}, {1, 0}}, 512);
  TNetwork& plain = Open(w, true);
  EXPECT_EQ(plain.AreaList().MaxArea(), 0);
  EXPECT_EQ(plain.NodeArea(1), 0);
  EXPECT_FALSE(plain.NoDriveThroughSet());
}

// Areas of random networks against a union-find over the area links written
// here: the same partition of the links that carried bit 8, ids in the order
// of each area's lowest link.
TEST_F(Areas, PartitionOfRandomNetworksMatchesAUnionFind) {
  std::mt19937 rng(12);
  for (int run = 0; run < 30; ++run) {
    TTestNetworkWriter w;
    std::vector<bool> marked{false};
    for (int i = 0; i < 60; ++i) {
      const TFloatPoint a{double(rng() % 7), double(rng() % 7)}, b{double(rng() % 7), double(rng() % 7)};
      const bool area = rng() % 3 == 0;
      w.AddLink({a, {(a.x + b.x) / 2 + 0.21, (a.y + b.y) / 2 + 0.1 * (i % 5)}, b}, area ? cNoThrough : 1);
      marked.push_back(area);
    }
    TNetwork& net = Open(w, true);
    const int32_t L = net.LinkCount();
    std::vector<int32_t> parent(size_t(net.NodeCount()) + 1);
    std::iota(parent.begin(), parent.end(), 0);
    std::function<int32_t(int32_t)> find = [&](int32_t x) {
      return parent[size_t(x)] == x ? x : parent[size_t(x)] = find(parent[size_t(x)]);
    };
    for (int32_t l = 1; l <= L; ++l)
      if (marked[size_t(l)]) parent[size_t(find(net.Link2FromNode(l)))] = find(net.Link2ToNode(l));
    std::map<int32_t, int32_t> idOfRoot;  // filled in link order: ids by lowest link
    for (int32_t l = 1; l <= L; ++l) {
      if (!marked[size_t(l)]) continue;
      const int32_t root = find(net.Link2FromNode(l));
      idOfRoot.emplace(root, int32_t(idOfRoot.size()) + 1);
      ASSERT_EQ(net.AreaList().GetArea(l), idOfRoot[root]) << "run " << run << " link " << l;
    }
    EXPECT_EQ(net.AreaList().MaxArea(), int32_t(idOfRoot.size()));
  }
}

TEST(AreaList, AddReassignsOnlyTheIdAndIgnoresBadIds) {
  TAreaList list;
  list.Add(7, 1);
  list.UpdateExit(7, 1);
  list.Add(7, 4);
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(list.GetArea(7), 4);
  EXPECT_TRUE(list.Item(0).exitFT);
  EXPECT_EQ(list.MaxArea(), 4);
  list.Add(0, 9);
  list.Add(-3, 9);
  list.UpdateExit(99, 1);  // not in the list: nothing
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(list.GetArea(-3), 0);
  TAreaList copy;
  list.Clone(copy);
  copy.Add(8, 5);
  EXPECT_EQ(list.GetArea(8), 0);
  EXPECT_EQ(copy.GetArea(7), 4);
}

// Lookups through growth, re-adds and clones, for link patterns that crowd
// hash slots, against a plain map.
TEST(AreaList, LookupsMatchAMap) {
  std::mt19937 rng(3);
  const std::pair<const char*, std::function<int32_t(int32_t)>> patterns[] = {
      {"ascending", [](int32_t i) { return i + 1; }},
      {"stride 65536", [](int32_t i) { return 1 + i * 65536; }},
      {"stride 1024", [](int32_t i) { return 1 + i * 1024; }},
      {"random", [&](int32_t) { return 1 + int32_t(rng() % 2147483646u); }},
  };
  for (const auto& [name, link] : patterns) {
    TAreaList list;
    std::map<int32_t, int32_t> expected;
    for (int32_t i = 0; i < 5000; ++i) {
      const int32_t l = link(i % 3000), area = 1 + int32_t(rng() % 50);  // the last 2000 add again
      list.Add(l, area);
      expected[l] = area;
    }
    TAreaList copy;
    list.Clone(copy);
    ASSERT_EQ(list.Count(), int32_t(expected.size())) << name;
    for (const auto& [l, area] : expected) {
      ASSERT_EQ(list.GetArea(l), area) << name << " " << l;
      ASSERT_EQ(copy.GetArea(l), area) << name << " " << l;
      ASSERT_EQ(list.GetArea(l + 1) != 0, expected.count(l + 1) == 1) << name << " " << l + 1;
    }
    list.Clear();
    EXPECT_EQ(list.GetArea(expected.begin()->first), 0) << name;
    EXPECT_EQ(copy.GetArea(expected.begin()->first), expected.begin()->second) << name;
  }
}

}  // namespace
