// Loading "spatialindex.bin": every way a file can be damaged is refused
// with the reason, a cut or flipped file never crashes or loads a tree that
// breaks the rules, and a failed or cancelled load leaves no half tree.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "foundation/kovra_random.h"
#include "network/kovra_quadtree.h"
#include "network/quadtree_fixture.h"
#include "network/support/network_writer.h"
#include "support/temp_dir_test.h"
#include "support/test_raises.h"

using namespace kovra;
using namespace kovra::testsupport;
using testing::HasSubstr;

namespace {

template <typename T>
std::string Bytes(T v) {
  return std::string(reinterpret_cast<const char*>(&v), sizeof(T));
}

class QuadTreeLoad : public TTempDirTest {
protected:
  std::string Dir() const { return dir.string() + "/"; }

  // The hand network's index: 4 nodes, 3 links, 285 bytes.
  std::string HandIndex() {
    WriteHandNetwork(Dir());
    return BuildIndex(Dir(), 2);
  }
};

// Offset of cell Id in the file of tree t.
int64_t CellOffset(const TQuadTreeBase& t, int32_t Id) {
  int64_t at = 4;
  for (const TCellAt& c : Walk(t)) {
    if (c.Cell->ID() == Id) return at;
    at += 37;
    if (!c.Cell->Divided()) at += 2 + 8 * int64_t(t.Nodes(*c.Cell).size() + t.Runs(*c.Cell).size());
  }
  return -1;
}

}  // namespace

TEST_F(QuadTreeLoad, DamagedFilesAreRefusedWithTheReason) {
  const std::string good = HandIndex();
  ASSERT_EQ(good.size(), 285u);
  struct Case {
    const char* name;
    size_t at;             // where the patch goes (at the end: appended)
    std::string with;      // the patch; none: the file is cut at `at`
    int32_t nodes, links;  // the counts the network gives
    std::string reason;
  } const cases[] = {
      {"empty", 0, "", 4, 3, "0 bytes hold no cell count"},
      {"no cell", 4, "", 4, 3, "5 cells cannot lie in 4 bytes"},
      {"cell count beyond the file", 0, Bytes(int32_t(8)), 4, 3, "8 cells cannot lie in 285 bytes"},
      {"negative cell count", 0, Bytes(int32_t(-1)), 4, 3, "-1 cells cannot lie in 285 bytes"},
      {"one cell more than counted", 0, Bytes(int32_t(4)), 4, 3, "it holds more cells than the 4 it counts"},
      {"one cell fewer than counted", 0, Bytes(int32_t(6)), 4, 3, "it holds 5 cells, not the 6 it counts"},
      {"IDs not in pre-order", 96 + 32, Bytes(int32_t(9)), 4, 3, "cell 3 carries the ID 9"},
      {"child not a quarter", 96 + 16, Bytes(4.5), 4, 3, "cell 3 is not the quarter 2 of cell 1"},
      {"run with sub1 = sub2", 92, Bytes(uint16_t(2)), 4, 3, "cell 2 has a run of link 2 from 2 to 2"},
      {"run with sub1 > sub2", 92, Bytes(uint16_t(3)), 4, 3, "cell 2 has a run of link 2 from 3 to 2"},
      {"node 0", 80, Bytes(int32_t(0)), 4, 3, "cell 2 lists node 0, outside 1 to 4"},
      {"node past the network", 80, Bytes(int32_t(5)), 4, 3, "cell 2 lists node 5, outside 1 to 4"},
      {"fewer nodes in the network", 0, Bytes(int32_t(5)), 3, 3, "cell 2 lists node 4, outside 1 to 3"},
      {"more nodes in the network", 0, Bytes(int32_t(5)), 5, 3, "node 5 lies in no cell"},
      {"node in two leaves", 80, Bytes(int32_t(3)), 4, 3, "node 3 is listed twice"},
      {"link past the network", 88, Bytes(int32_t(4)), 4, 3, "cell 2 lists link 4, outside 1 to 3"},
      {"fewer links in the network", 0, Bytes(int32_t(5)), 4, 2, "cell 3 lists link 3, outside 1 to 2"},
      {"negative link", 88, Bytes(int32_t(-2)), 4, 3, "cell 2 lists link -2, outside 1 to 3"},
      {"last leaf counts one record more", 222 + 37, Bytes(uint16_t(4)), 4, 3, "it ends inside cell 5"},
      {"last leaf made inner", 222 + 36, "\1", 4, 3, "it holds more cells than the 5 it counts"},
      {"a byte after the tree", 285, "x", 4, 3, "1 bytes follow the last cell"},
      {"cut inside a record", 283, "", 4, 3, "it ends inside cell 5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string bytes = good;
    if (c.with.empty())
      bytes.resize(c.at);
    else
      bytes.replace(c.at, c.with.size(), c.with);
    TQuadTree t;
    EXPECT_EQ(MessageOf([&] { LoadBytes(t, bytes, c.nodes, c.links); }),
              "Network file spatialindex.bin is corrupted (" + c.reason + ")");
    EXPECT_EQ(t.CellCount(), 0);
  }
}

// A leaf 16 levels deep read as divided would put its children deeper.
TEST_F(QuadTreeLoad, NoCellBelowSixteenLevels) {
  TTestNetworkWriter w;
  w.AddLink({{1, 1}, {1.000001, 1}});
  w.AddLink({{6, 6}, {7, 7}});
  w.Write(Dir());
  SetBounds(Dir(), w, {0, 0, 8, 8});
  std::string bytes = BuildIndex(Dir(), 1);
  TQuadTree t;
  LoadBytes(t, bytes, 4, 2);
  const TQuadTreeCell& deep = FindQuadTreeCell(t, {1, 1});
  const int64_t at = CellOffset(t, deep.ID());
  ASSERT_GT(at, 0);
  bytes[size_t(at) + 36] = 1;
  EXPECT_THAT(MessageOf([&] { LoadBytes(t, bytes, 4, 2); }),
              HasSubstr("(cell " + std::to_string(deep.ID()) + ", 16 levels deep, is divided)"));
}

// Any non-zero Divided byte reads as an inner cell; saving writes 1 again.
TEST_F(QuadTreeLoad, DividedByteOfTwoIsInner) {
  const std::string good = HandIndex();
  std::string bytes = good;
  bytes[4 + 36] = 2;
  TQuadTree t;
  LoadBytes(t, bytes, 4, 3);
  EXPECT_TRUE(t.Root().Divided());
  EXPECT_EQ(t.CellCount(), 5);
  EXPECT_TRUE(SavedBytes(t) == good);
}

// Every cut of a file raises, at every length.
TEST_F(QuadTreeLoad, EveryTruncationRaises) {
  TTestNetworkWriter w;
  w.AddGrid({5, 5, 10, 3, 0.3});
  const auto [good, nodes] = WriteIndexed(w, Dir(), 2);
  TQuadTree t;
  LoadBytes(t, good, nodes, w.LinkCount());
  ASSERT_GT(t.CellCount(), 9);
  for (size_t n = 0; n < good.size(); ++n) {
    TQuadTree cut;
    EXPECT_THAT(MessageOf([&] { LoadBytes(cut, good.substr(0, n), nodes, w.LinkCount()); }), HasSubstr("corrupted"))
        << n << " bytes";
  }
}

// Random flips either raise the loader's error or give a tree that keeps the
// rules the loader promises (and saves to what it read, a Divided byte aside).
TEST_F(QuadTreeLoad, RandomByteFlipsRaiseOrLoadACheckedTree) {
  TTestNetworkWriter w;
  w.AddSample();
  w.AddGrid({4, 4, 10, 3, 0.3});
  const auto [good, nodes] = WriteIndexed(w, Dir(), 2);
  TRandom r;
  r.SetSeed(2024);
  int loaded = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    std::string bytes = good;
    for (int k = 1 + r.NextInt(3); k > 0; --k)
      bytes[size_t(r.NextInt(int32_t(bytes.size())))] ^= char(1 + r.NextInt(255));
    TQuadTree t;
    try {
      LoadBytes(t, bytes, nodes, w.LinkCount());
    } catch (const Exception& e) {
      EXPECT_THAT(e.Message(), HasSubstr("spatialindex.bin is corrupted")) << trial;
      continue;
    }
    ++loaded;
    std::vector<int> seen(size_t(nodes) + 1, 0);
    for (const TCellAt& c : Walk(t)) {
      EXPECT_LE(c.Depth, 16);
      for (int32_t node : t.Nodes(*c.Cell)) ++seen[size_t(node)];
      for (const TSubLink& s : t.Runs(*c.Cell)) EXPECT_TRUE(s.Link >= 1 && s.Link <= w.LinkCount() && s.sub1 < s.sub2);
    }
    EXPECT_EQ(std::count(seen.begin() + 1, seen.end(), 1), nodes) << trial;
    TQuadTree again;
    LoadBytes(again, SavedBytes(t), nodes, w.LinkCount());
    EXPECT_TRUE(SavedBytes(again) == SavedBytes(t)) << trial;
  }
  EXPECT_GT(loaded, 0) << "flips inside coordinates and runs load";
}

// A failed load keeps the tree held before; a cancelled one leaves none.
TEST_F(QuadTreeLoad, FailedLoadKeepsTheTreeCancelledLoadLeavesNone) {
  const std::string good = HandIndex();
  TQuadTree t;
  t.SetDirectory(Dir());
  t.Load(4, 3);
  const TQuadTreeCell* root = &t.Root();
  EXPECT_THAT(MessageOf([&] { LoadBytes(t, good + "x", 4, 3); }), HasSubstr("corrupted"));
  EXPECT_EQ(&t.Root(), root);
  EXPECT_EQ(t.CellCount(), 5);

  std::vector<int32_t> seen;
  t.SetOnProgress([&](TObject*, int32_t p, bool& cancel) {
    seen.push_back(p);
    cancel = true;
  });
  t.Load(4, 3);
  EXPECT_TRUE(t.Cancelled());
  EXPECT_EQ(t.CellCount(), 0);
  EXPECT_EQ(MessageOf([&] { t.Root(); }), cMsgSpatialIndexNotOpen);
  EXPECT_EQ(MessageOf([&] { FindQuadTreeCell(t, {1, 1}); }), cMsgSpatialIndexNotOpen);
  EXPECT_FALSE(seen.empty());
}

// A caller's stream is read from its position; a missing file is the stream's open error.
TEST_F(QuadTreeLoad, SourcesOfTheFile) {
  const std::string good = HandIndex();
  auto s = MemoryStreamOf("head" + good);
  s->SetPosition(4);
  TQuadTree t;
  t.LoadFromStream(*s, 4, 3);
  EXPECT_TRUE(SavedBytes(t) == good);

  std::filesystem::remove(Dir() + cSpatialIndexFileName);
  TQuadTree missing;
  missing.SetDirectory(Dir());
  EXPECT_THAT(MessageOf<EFOpenError>([&] { missing.Load(4, 3); }), HasSubstr(cSpatialIndexFileName));
}
