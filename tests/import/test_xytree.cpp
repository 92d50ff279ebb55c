#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "foundation/kovra_io.h"
#include "import/kovra_xytree.h"
#include "import/support/xytree_oracle.h"
#include "support/test_raises.h"

namespace kovra {
namespace {

using testsupport::MessageOf;
using testsupport::TTreeXYIndex;

TEST(XYTree, NumbersByDescendingDegreeThenPoint) {
  struct Case {
    const char* name;
    std::vector<TFloatPoint> ends;
    std::vector<int32_t> ids;  // per end
  };
  const double x = 1.5, next = std::nextafter(1.5, 2.0);
  const std::vector<Case> cases = {
      {"one end each, by x then y", {{1, 5}, {0, 9}, {1, 2}}, {3, 1, 2}},
      {"degree 3 first whatever its place", {{0, 0}, {9, 9}, {9, 9}, {1, 1}, {9, 9}}, {2, 1, 1, 3, 1}},
      {"one ulp apart are two nodes", {{x, 0}, {next, 0}}, {1, 2}},
      {"-0.0 equals 0.0", {{-0.0, 0.0}, {0.0, -0.0}, {1, 1}}, {1, 1, 2}},
  };
  for (const Case& c : cases) {
    TXYTree t;
    for (const TFloatPoint& p : c.ends) t.Add(p);
    t.CreateID();
    std::vector<int32_t> ids;
    for (size_t k = 0; k < c.ends.size(); ++k) ids.push_back(t.EndNode(int64_t(k)));
    EXPECT_EQ(ids, c.ids) << c.name;
    for (const TFloatPoint& p : c.ends) EXPECT_EQ(t.IndexOf(p), ids[size_t(&p - c.ends.data())]) << c.name;
  }
}

TEST(XYTree, NodeKeepsTheBitsOfItsFirstEndAndLookupMissesAbsentPoints) {
  TXYTree t;
  t.Add({5, 5});
  t.Add({0.0, -0.0});
  t.Add({-0.0, 0.0});
  t.CreateID();
  ASSERT_EQ(t.NodeCount(), 2);
  const TFloatPoint& z = t.Node(t.EndNode(1));
  EXPECT_FALSE(std::signbit(z.x));
  EXPECT_TRUE(std::signbit(z.y));
  EXPECT_EQ(t.IndexOf({5, 6}), 0);
  EXPECT_EQ(t.IndexOf({-0.0, -0.0}), 1);
}

TEST(XYTree, DegreeTable) {
  TXYTree t;
  for (TFloatPoint p : {TFloatPoint{0, 0}, {0, 0}, {0, 0}, {1, 0}, {2, 0}}) t.Add(p);
  t.CreateID();
  EXPECT_EQ(t.MaxItemCount(), 3);
  struct Row {
    int32_t d, num, last, startpos;
  };
  for (Row r : {Row{3, 1, 1, 0}, {2, 0, 1, 3}, {1, 2, 3, 3}, {4, 0, 0, 0}}) {
    const TLeg leg = t.GetLeg(r.d);
    EXPECT_EQ(leg.num, r.num) << r.d;
    EXPECT_EQ(leg.last, r.last) << r.d;
    EXPECT_EQ(leg.startpos, r.startpos) << r.d;
  }
  EXPECT_EQ(t.GetLeg(3).iindex, 2);  // one past the group's last id
  EXPECT_THROW(t.GetLeg(5), EOutOfRange);
  EXPECT_THROW(t.GetLeg(0), EOutOfRange);
}

TEST(XYTree, AtMost255EndsAtOnePoint) {
  TXYTree ok;
  for (int i = 0; i < 255; ++i) ok.Add({2, 3});
  ok.CreateID();
  EXPECT_EQ(ok.MaxItemCount(), 255);

  // Two overfull points: the one whose 256th end came first is named, as an
  // insertion per end would; ends are interleaved so the sort order differs.
  TXYTree t;
  for (int i = 0; i < 255; ++i) t.Add({0.5, 1});
  for (int i = 0; i < 256; ++i) t.Add({-7.25, 3});
  t.Add({0.5, 1});
  EXPECT_EQ(MessageOf<ETooManyLinksAtNode>([&] { t.CreateID(); }), "Too many links at -7.25, 3");
  TTreeXYIndex oracle;
  std::string expected = MessageOf<ETooManyLinksAtNode>([&] {
    for (int i = 0; i < 255; ++i) oracle.Add({0.5, 1});
    for (int i = 0; i < 256; ++i) oracle.Add({-7.25, 3});
  });
  EXPECT_EQ(expected, "Too many links at -7.25, 3");
}

// The bytes coord.bin gets from an index, and the node id of every end.
template <typename Index>
std::string CoordBytes(Index& t, int64_t key) {
  TKvMemoryStream s;
  t.Write(s, key);
  return std::string(static_cast<const char*>(s.Memory()), size_t(s.Size()));
}

TEST(XYTree, SortMergeMatchesTheTreeOnManySharedEnds) {
  // 200k ends over a few thousand points (-0.0 among them), so most points
  // are shared by dozens of ends; plain and keyed.
  std::mt19937_64 rng(31);
  std::vector<TFloatPoint> pool;
  for (int i = 0; i < 5000; ++i)
    pool.push_back({double(int(rng() % 400)) * 0.25 - 50, double(int(rng() % 300)) - 150});
  pool.push_back({-0.0, 0.0});
  pool.push_back({0.0, -0.0});
  std::vector<TFloatPoint> ends;
  for (int i = 0; i < 200000; ++i) ends.push_back(pool[rng() % pool.size()]);

  TXYTree sorted;
  TTreeXYIndex tree;
  for (const TFloatPoint& p : ends) {
    sorted.Add(p);
    tree.Add(p);
  }
  sorted.CreateID();
  tree.CreateID();
  ASSERT_EQ(sorted.MaxItemCount(), tree.MaxItemCount());
  for (int32_t d = 1; d <= tree.MaxItemCount() + 1; ++d) {
    EXPECT_EQ(sorted.GetLeg(d).num, tree.GetLeg(d).num) << d;
    EXPECT_EQ(sorted.GetLeg(d).last, tree.GetLeg(d).last) << d;
    EXPECT_EQ(sorted.GetLeg(d).startpos, tree.GetLeg(d).startpos) << d;
    EXPECT_EQ(sorted.GetLeg(d).iindex, tree.GetLeg(d).iindex) << d;
  }
  size_t mismatches = 0;
  for (size_t k = 0; k < ends.size(); ++k)
    if (sorted.EndNode(int64_t(k)) != tree.NodeId(ends[k])) ++mismatches;
  EXPECT_EQ(mismatches, 0u);
  EXPECT_EQ(CoordBytes(sorted, 0), CoordBytes(tree, 0));
  EXPECT_EQ(CoordBytes(sorted, 987654321), CoordBytes(tree, 987654321));
}

}  // namespace
}  // namespace kovra
