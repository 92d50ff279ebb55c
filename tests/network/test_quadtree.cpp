// The spatial-index builder and the point lookup: hand-derived bytes, the
// tree's rules checked by brute force on random networks and against an
// independent python model, the edge cases of splitting and segment
// placement, and bad or oversized inputs, which never damage an old index.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "foundation/kovra_configfile.h"
#include "foundation/kovra_random.h"
#include "network/kovra_quadtree.h"
#include "network/quadtree_fixture.h"
#include "network/support/network_writer.h"
#include "support/gdal_readback.h"
#include "support/temp_dir_test.h"
#include "support/test_raises.h"

using namespace kovra;
using namespace kovra::testsupport;
using testing::HasSubstr;
using testing::StartsWith;

namespace {

constexpr int64_t cKey = 0x5A17C0DE;
constexpr TFloatRect cBox8{0, 0, 8, 8};

// The segment-rectangle test as the design states it, evaluated directly.
bool Meets(const TFloatRect& r, const TFloatPoint& a, const TFloatPoint& b) {
  auto inside = [&](const TFloatPoint& p) { return r.xmin <= p.x && p.x <= r.xmax && r.ymin <= p.y && p.y <= r.ymax; };
  if (inside(a) || inside(b)) return true;
  if ((a.x < r.xmin && b.x < r.xmin) || (a.y < r.ymin && b.y < r.ymin) || (a.x > r.xmax && b.x > r.xmax) ||
      (a.y > r.ymax && b.y > r.ymax))
    return false;
  const double c1 = a.y - b.y, c2 = b.x - a.x, c3 = a.x * b.y - b.x * a.y;
  int positive = 0;
  for (const TFloatPoint& c : {TFloatPoint{r.xmin, r.ymin}, TFloatPoint{r.xmin, r.ymax}, TFloatPoint{r.xmax, r.ymin},
                               TFloatPoint{r.xmax, r.ymax}})
    positive += c1 * c.x + c2 * c.y + c3 > 0 ? 1 : 0;
  return positive != 0 && positive != 4;
}

// The leaf that holds P by the tie rule, as a half-open rectangle closed on the root's far edges.
bool HoldsByTieRule(const TFloatRect& r, const TFloatRect& root, const TFloatPoint& p) {
  auto in = [](double v, double lo, double hi, double top) { return lo <= v && (v < hi || (v == hi && hi == top)); };
  return in(p.x, r.xmin, r.xmax, root.xmax) && in(p.y, r.ymin, r.ymax, root.ymax);
}

bool Valid(const TFloatPointArray& line) {
  return line.size() >= 2 && std::any_of(line.begin(), line.end(), [&](const TFloatPoint& p) { return p != line[0]; });
}

// The rules of a built or loaded tree, each checked against a scan of all leaves.
void ExpectTreeRules(const TQuadTreeBase& t, const TTestNetworkWriter& w, const TFloatPointArray& coord) {
  const std::vector<TCellAt> cells = Walk(t);
  ASSERT_EQ(int32_t(cells.size()), t.CellCount());
  std::vector<const TQuadTreeCell*> leaves;
  for (size_t i = 0; i < cells.size(); ++i) {
    EXPECT_EQ(cells[i].Cell->ID(), int32_t(i) + 1) << "pre-order";
    EXPECT_LE(cells[i].Depth, 16);
    if (!cells[i].Cell->Divided()) leaves.push_back(cells[i].Cell);
  }
  const TFloatRect root = t.Root().Rect();

  const int32_t n = int32_t(coord.size()) - 1;
  std::vector<const TQuadTreeCell*> home(size_t(n) + 1, nullptr);
  for (const TQuadTreeCell* leaf : leaves) {
    auto nodes = t.Nodes(*leaf);
    EXPECT_TRUE(std::is_sorted(nodes.begin(), nodes.end())) << "cell " << leaf->ID();
    for (int32_t node : nodes) {
      ASSERT_TRUE(node >= 1 && node <= n);
      EXPECT_EQ(home[size_t(node)], nullptr) << "node " << node << " in two leaves";
      home[size_t(node)] = leaf;
    }
  }
  for (int32_t node = 1; node <= n; ++node) {
    const TFloatPoint p = coord[size_t(node)];
    std::vector<const TQuadTreeCell*> holders;
    for (const TQuadTreeCell* leaf : leaves)
      if (HoldsByTieRule(leaf->Rect(), root, p)) holders.push_back(leaf);
    ASSERT_EQ(holders.size(), 1u) << "node " << node;
    EXPECT_EQ(home[size_t(node)], holders[0]) << "node " << node;
    EXPECT_EQ(&FindQuadTreeCell(t, p), holders[0]) << "node " << node;
  }

  for (const TQuadTreeCell* leaf : leaves) {
    std::set<std::pair<int32_t, int32_t>> listed;  // (link, segment)
    auto runs = t.Runs(*leaf);
    for (size_t k = 0; k < runs.size(); ++k) {
      const TSubLink& r = runs[k];
      ASSERT_TRUE(r.Link >= 1 && r.Link <= w.LinkCount() && r.sub1 < r.sub2);
      for (int32_t s = r.sub1; s < r.sub2; ++s) EXPECT_TRUE(listed.insert({r.Link, s}).second);
      if (k > 0 && runs[k - 1].Link == r.Link) {
        EXPECT_LT(runs[k - 1].sub2, r.sub1) << "runs not merged";
      }
    }
    size_t expected = 0;
    for (int32_t link = 1; link <= w.LinkCount(); ++link) {
      const TFloatPointArray line = w.Polyline(link);
      if (!Valid(line)) continue;
      for (size_t s = 0; s + 1 < line.size(); ++s) {
        const bool meets = Meets(leaf->Rect(), line[s], line[s + 1]);
        expected += meets;
        EXPECT_EQ(listed.count({link, int32_t(s)}) == 1, meets)
            << "cell " << leaf->ID() << " link " << link << " segment " << s;
      }
    }
    EXPECT_EQ(listed.size(), expected) << "cell " << leaf->ID();
  }
}

// Jittered grid on whole numbers inside (0, 0, 64, 64), the settings' bounds
// set to that square: many nodes and vertices sit exactly on midlines.
TTestNetworkWriter PlanarNetwork(TRandom& r) {
  TTestNetworkWriter w;
  const int32_t k = 12;
  std::vector<TFloatPoint> grid;
  for (int32_t j = 0; j < k; ++j)
    for (int32_t i = 0; i < k; ++i)
      grid.push_back({double(1 + 5 * i + r.NextInt(3)), double(1 + 5 * j + r.NextInt(3))});
  auto vertex = [&](const TFloatPoint& a) { return TFloatPoint{a.x + r.NextInt(7) - 3, a.y + r.NextInt(7) - 3}; };
  for (int32_t j = 0; j < k; ++j)
    for (int32_t i = 0; i < k; ++i)
      for (int32_t d = 0; d < 2; ++d) {
        if ((d == 0 && i + 1 == k) || (d == 1 && j + 1 == k) || r.NextInt(5) == 0) continue;
        const TFloatPoint a = grid[size_t(j * k + i)], b = grid[size_t((j + d) * k + i + 1 - d)];
        TFloatPointArray line{a};
        for (int32_t v = r.NextInt(5); v > 0; --v) line.push_back(vertex(a));
        line.push_back(b);
        w.AddLink(line);
        if (r.NextInt(20) == 0) w.AddRejected();
      }
  return w;
}

// A few hubs with many links to random points, vertices bulging far outside
// the nodes' box, and a cluster of tiny links that forces deep cells.
TTestNetworkWriter DegreeNetwork(TRandom& r) {
  TTestNetworkWriter w;
  std::vector<TFloatPoint> hubs;
  for (int i = 0; i < 5; ++i) hubs.push_back({r.NextDouble() * 1000, r.NextDouble() * 1000});
  for (int i = 0; i < 250; ++i) {
    const TFloatPoint a = hubs[size_t(r.NextInt(5))];
    const TFloatPoint b{r.NextDouble() * 1000, r.NextDouble() * 1000};
    TFloatPointArray line{a};
    for (int32_t v = r.NextInt(7); v > 0; --v)
      line.push_back({r.NextDouble() * 1400 - 200, r.NextDouble() * 1400 - 200});
    line.push_back(b);
    w.AddLink(line);
  }
  for (int i = 0; i < 30; ++i) {
    const TFloatPoint a{500 + r.NextDouble() * 1e-6, 500 + r.NextDouble() * 1e-6};
    w.AddLink({a, {a.x + 1e-7, a.y}});
  }
  return w;
}

class QuadTreeBuild : public TTempDirTest {
protected:
  std::string Dir() const { return dir.string() + "/"; }
};

// Bytes of a value in little-endian order.
template <typename T>
void Append(std::string& s, T v) {
  s.append(reinterpret_cast<const char*>(&v), sizeof(T));
}

}  // namespace

// The root of the hand network is cut at (4, 4); node B = (4, 1) lies on the
// vertical midline and goes east, D = (1, 4) on the horizontal one and goes
// north; A-B is listed in SE through B on the border, B-(6, 2)-C in SW
// through B and in SE and NE, A-D in NW through D.
TEST_F(QuadTreeBuild, GoldenBytesOfAHandDerivedNetwork) {
  const TFloatPoint A{1, 1}, B{4, 1}, C{6, 6}, D{1, 4};
  WriteHandNetwork(Dir());
  ASSERT_EQ(NodeCoords(Dir()), (TFloatPointArray{{}, A, B, D, C}));
  const std::string bytes = BuildIndex(Dir(), 2);

  std::string want;
  Append(want, int32_t(5));
  auto cell = [&](TFloatRect r, int32_t id, uint8_t divided) {
    for (double v : {r.xmin, r.ymin, r.xmax, r.ymax}) Append(want, v);
    Append(want, id);
    Append(want, divided);
  };
  auto records = [&](std::vector<TSubLink> v) {
    Append(want, uint16_t(v.size()));
    for (const TSubLink& s : v) Append(want, s);
  };
  cell(cBox8, 1, 1);
  cell({4, 4, 8, 8}, 2, 0);
  records({{4, 0, 0}, {2, 1, 2}});
  cell({0, 4, 4, 8}, 3, 0);
  records({{3, 0, 0}, {3, 0, 1}});
  cell({0, 0, 4, 4}, 4, 0);
  records({{1, 0, 0}, {1, 0, 1}, {2, 0, 1}, {3, 0, 1}});
  cell({4, 0, 8, 4}, 5, 0);
  records({{2, 0, 0}, {1, 0, 1}, {2, 0, 2}});
  ASSERT_EQ(want.size(), 4u + 5 * 37 + 4 * 2 + 8 * 11);
  EXPECT_EQ(bytes, want);

  TQuadTree t;
  t.SetDirectory(Dir());
  t.Load(4, 3);
  ASSERT_EQ(t.CellCount(), 5);
  const TQuadTreeCell& root = t.Root();
  EXPECT_TRUE(root.Divided());
  for (int32_t k = cChildNE; k <= cChildSE; ++k) {
    EXPECT_EQ(t.Child(root, k).ID(), k + 1);
    EXPECT_FALSE(t.Child(root, k).Divided());
  }
  const TQuadTreeCell& sw = t.Child(root, cChildSW);
  EXPECT_THAT(t.Nodes(sw), testing::ElementsAre(1));
  EXPECT_THAT(t.Runs(sw), testing::ElementsAre(TSubLink{1, 0, 1}, TSubLink{2, 0, 1}, TSubLink{3, 0, 1}));
  EXPECT_TRUE(t.Nodes(root).empty() && t.Runs(root).empty());
  EXPECT_EQ(&FindQuadTreeCell(t, B), &t.Child(root, cChildSE));
  EXPECT_EQ(&FindQuadTreeCell(t, D), &t.Child(root, cChildNW));
  EXPECT_EQ(&FindQuadTreeCell(t, {4, 4}), &t.Child(root, cChildNE));
  // Outside the root the same comparisons still end in a leaf.
  EXPECT_EQ(&FindQuadTreeCell(t, {-50, 1e9}), &t.Child(root, cChildNW));
  EXPECT_EQ(&FindQuadTreeCell(t, {std::numeric_limits<double>::quiet_NaN(), 1}), &t.Child(root, cChildSE));
}

// Random networks: every rule of the tree by brute force, the bytes against
// the python model, and the file through a load and a save unchanged.
TEST_F(QuadTreeBuild, RandomNetworksKeepEveryRuleAndMatchTheModel) {
  struct Case {
    const char* name;
    TTestNetworkWriter (*make)(TRandom&);
    bool squareBounds;
    int32_t cap;
  } const cases[] = {
      {"planar, one node per cell", PlanarNetwork, true, 1},
      {"planar, six nodes per cell", PlanarNetwork, true, 6},
      {"hubs and bulges, one node per cell", DegreeNetwork, false, 1},
      {"hubs and bulges, twenty nodes per cell", DegreeNetwork, false, 20},
  };
  struct Built {
    TTestNetworkWriter w;
    std::string dir, bytes;
  };
  std::vector<Built> built;
  std::string command = "python3 " KOVRA_TEST_SCRIPTS_DIR "/quadtree_oracle.py";
  int seed = 7;
  for (const Case& c : cases) {
    TRandom r;
    r.SetSeed(seed++);
    Built b{c.make(r), fTemp.File(std::to_string(built.size())) + "/", ""};
    std::filesystem::create_directories(b.dir);
    b.w.Write(b.dir);
    if (c.squareBounds) SetBounds(b.dir, b.w, {0, 0, 64, 64});
    b.bytes = BuildIndex(b.dir, c.cap);
    command += " " + b.dir + " " + std::to_string(c.cap) + " " + b.dir + "model.bin";
    built.push_back(std::move(b));
  }
  ASSERT_EQ(RunCommand(command), 0);
  for (size_t i = 0; i < built.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    const Built& b = built[i];
    EXPECT_TRUE(b.bytes == ReadBytes(b.dir + "model.bin")) << "differs from the python model";
    const TFloatPointArray coord = NodeCoords(b.dir);
    TQuadTree t;
    LoadBytes(t, b.bytes, int32_t(coord.size()) - 1, b.w.LinkCount());
    EXPECT_GT(t.CellCount(), 4);
    ExpectTreeRules(t, b.w, coord);
    EXPECT_TRUE(SavedBytes(t) == b.bytes);
  }
}

// The splitting and placement cases, each in the square (0, 0, 8, 8) cut at
// (4, 4); a probe names a point, and the nodes (by coordinate) and runs of
// the leaf that FindQuadTreeCell gives for it.
TEST_F(QuadTreeBuild, EdgeCasesOfSplittingAndPlacement) {
  struct Probe {
    TFloatPoint at;
    TFloatPointArray nodes;
    std::vector<TSubLink> runs;
  };
  struct Case {
    const char* name;
    std::vector<TFloatPointArray> links;  // an empty one is rejected
    std::vector<int32_t> zeroLength;       // links whose stored length is then set to 0
    int32_t cap;
    int32_t cells;
    int32_t depth;  // of the deepest leaf
    std::vector<Probe> probes;
  } const cases[] = {
      {"nodes on midlines go east and north",
       {{{4, 2}, {6, 3}}, {{2, 4}, {1, 7}}, {{4, 4}, {7, 7}}, {{1, 1}, {3, 1}}},
       {},
       2,
       5,
       1,
       {{{4, 2}, {{4, 2}, {6, 3}}, {{1, 0, 1}, {3, 0, 1}}},
        {{2, 4}, {{1, 7}, {2, 4}}, {{2, 0, 1}, {3, 0, 1}}},
        {{4, 4}, {{4, 4}, {7, 7}}, {{3, 0, 1}}},
        // Ending on a border lists a segment on both sides.
        {{2, 2}, {{1, 1}, {3, 1}}, {{1, 0, 1}, {2, 0, 1}, {3, 0, 1}, {4, 0, 1}}}}},
      {"a segment along a border is in both leaves",
       {{{4, 1}, {4, 3}}, {{5, 5}, {7, 7}}, {{1, 5}, {3, 7}}},
       {},
       2,
       5,
       1,
       {{{6, 2}, {{4, 1}, {4, 3}}, {{1, 0, 1}}}, {{2, 2}, {}, {{1, 0, 1}}}}},
      {"a corner touched with the other corners positive is listed, negative is not",
       {{{2, 6}, {6, 2}}, {{5, 5}, {7, 7}}, {{1, 1}, {3, 1}}},
       {},
       2,
       5,
       1,
       {{{6, 6}, {{5, 5}, {7, 7}}, {{1, 0, 1}, {2, 0, 1}}}, {{2, 2}, {{1, 1}, {3, 1}}, {{3, 0, 1}}}}},
      {"the same corner from the other direction",
       {{{6, 2}, {2, 6}}, {{5, 5}, {7, 7}}, {{1, 1}, {3, 1}}},
       {},
       2,
       5,
       1,
       {{{6, 6}, {{5, 5}, {7, 7}}, {{2, 0, 1}}}, {{2, 2}, {{1, 1}, {3, 1}}, {{1, 0, 1}, {3, 0, 1}}}}},
      {"a link passing a leaf twice has two runs there",
       {{{1, 1}, {2, 1}, {3, 1}, {5, 1}, {7, 1}, {5, 3}, {3, 3}, {2, 3}}, {{5, 5}, {7, 7}}, {{1, 5}, {3, 7}}},
       {},
       2,
       5,
       1,
       {{{2, 2}, {{1, 1}, {2, 3}}, {{1, 0, 3}, {1, 5, 7}}}, {{6, 2}, {}, {{1, 2, 6}}}}},
      {"a small network is one leaf; links of length 0 have no runs, their nodes stay",
       {{{1, 1}, {3, 3}}, {}, {{3, 3}, {6, 6}}, {{6, 6}, {5, 7}, {7, 1}}},
       {3},
       50,
       1,
       0,
       {{{0, 0}, {{1, 1}, {3, 3}, {6, 6}, {7, 1}}, {{1, 0, 1}, {4, 0, 2}}}}},
      {"splitting stops 16 levels deep",
       {{{1, 1}, {1.000001, 1}}, {{6, 6}, {7, 7}}},
       {},
       1,
       -1,
       16,
       {{{1, 1}, {{1, 1}, {1.000001, 1}}, {{1, 0, 1}}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    TTestNetworkWriter w;
    for (const TFloatPointArray& line : c.links) line.empty() ? w.AddRejected() : w.AddLink(line);
    w.Write(Dir());
    SetBounds(Dir(), w, cBox8);
    for (int32_t link : c.zeroLength) {
      std::string lengths = ReadBytes(Dir() + "length.bin");
      std::fill_n(lengths.begin() + 4 * (link - 1), 4, '\0');
      WriteBytes(Dir() + "length.bin", lengths);
    }
    const TFloatPointArray coord = NodeCoords(Dir());
    TQuadTree t;
    LoadBytes(t, BuildIndex(Dir(), c.cap), int32_t(coord.size()) - 1, w.LinkCount());
    if (c.cells > 0) {
      EXPECT_EQ(t.CellCount(), c.cells);
    }
    int32_t depth = 0;
    for (const TCellAt& at : Walk(t)) depth = std::max(depth, at.Depth);
    EXPECT_EQ(depth, c.depth);
    for (const Probe& p : c.probes) {
      SCOPED_TRACE(testing::Message() << "probe (" << p.at.x << ", " << p.at.y << ")");
      const TQuadTreeCell& leaf = FindQuadTreeCell(t, p.at);
      TFloatPointArray nodes;
      for (int32_t node : t.Nodes(leaf)) nodes.push_back(coord[size_t(node)]);
      std::sort(nodes.begin(), nodes.end(), [](auto& a, auto& b) { return a.x < b.x || (a.x == b.x && a.y < b.y); });
      EXPECT_EQ(nodes, p.nodes);
      EXPECT_THAT(t.Runs(leaf), testing::ElementsAreArray(p.runs));
    }
  }
}

// The root holds every vertex, even where the settings' bounds cover only the
// nodes, so a link bulging outside them is still indexed.
TEST_F(QuadTreeBuild, LinkBulgingOutsideTheNodeBoundsIsIndexed) {
  TTestNetworkWriter w;
  w.AddLink({{1, 1}, {20, 30}, {3, 2}});
  w.AddLink({{3, 2}, {2, 3}});
  w.AddLink({{2, 3}, {-15, -4}, {1, 1}});
  w.Write(Dir());
  SetBounds(Dir(), w, {1, 1, 3, 3});
  TQuadTree t;
  LoadBytes(t, BuildIndex(Dir(), 1), 3, 3);
  const TFloatRect root = t.Root().Rect();
  EXPECT_EQ(root.xmin, -15);
  EXPECT_EQ(root.ymin, -4);
  EXPECT_EQ(root.xmax, 20);
  EXPECT_EQ(root.ymax, 30);
  ExpectTreeRules(t, w, NodeCoords(Dir()));
}

// An enciphered directory, its link file still plain as the import leaves it
// while indexing, gives the plain directory's bytes.
TEST_F(QuadTreeBuild, EncipheredDirectoryGivesThePlainFile) {
  TTestNetworkWriter w;
  w.AddSample();
  w.AddGrid({5, 4, 10, 6, 0.3});
  const std::string plain = WriteIndexed(w, Dir(), 3).Bytes;
  TTempDir keyed;
  w.Key = cKey;
  w.Write(keyed.Path.string());
  EXPECT_NE(ReadBytes(keyed.File("coord.bin")), ReadBytes(Dir() + "coord.bin"));
  EXPECT_TRUE(ReadBytes(keyed.File(cSpatialIndexFileName)) == plain);
  EXPECT_EQ(w.Files().at(cSpatialIndexFileName), plain);
}

// Each bad input raises before anything is written: the old index stays byte
// for byte and no temporary file is left.
TEST_F(QuadTreeBuild, BadInputsRaiseAndKeepTheOldIndex) {
  TTestNetworkWriter w;
  w.AddSample();
  w.AddGrid({4, 4, 10, 3, 0.2});
  auto patch = [&](const std::string& name, size_t at, const std::string& with) {
    std::string b = ReadBytes(Dir() + name);
    b.replace(at, with.size(), with);
    WriteBytes(Dir() + name, b);
  };
  auto remove = [&](const std::string& name) { std::filesystem::remove(Dir() + name); };
  auto value = [](auto v) { return std::string(reinterpret_cast<const char*>(&v), sizeof(v)); };
  struct Case {
    const char* name;
    std::function<void()> spoil;
    int32_t cap;
    std::string message;
    int64_t key = 0;
  } const cases[] = {
      {"no leaf capacity", [] {}, 0, "MaxNodesPerCell must be >=1 (is 0)"},
      {"negative capacity", [] {}, -3, "MaxNodesPerCell must be >=1 (is -3)"},
      {"coord.bin missing", [&] { remove("coord.bin"); }, 50, "coord.bin"},
      {"settings missing", [&] { remove(cConfigFileName); }, 50, cConfigFileName},
      {"length.bin missing", [&] { remove("length.bin"); }, 50, "length.bin"},
      {"link.bin missing", [&] { remove("link.bin"); }, 50, "link.bin"},
      {"coord3.bin missing", [&] { remove("coord3.bin"); }, 50, "coord3.bin"},
      {"coord3i.bin missing", [&] { remove("coord3i.bin"); }, 50, "coord3i.bin"},
      {"settings edited", [&] { patch(cConfigFileName, 9, "5"); }, 50, cMsgConfigCorrupted},
      {"length.bin one link short",
       [&] { std::filesystem::resize_file(Dir() + "length.bin", 4 * size_t(w.LinkCount() - 1)); }, 50,
       "length.bin: " + std::to_string(4 * (w.LinkCount() - 1)) + " bytes, expected " +
           std::to_string(4 * w.LinkCount())},
      {"link.bin one link long",
       [&] { patch("link.bin", 8 * size_t(w.LinkCount()), std::string(8, '\1')); }, 50,
       "link.bin: " + std::to_string(8 * (w.LinkCount() + 1)) + " bytes, expected " +
           std::to_string(8 * w.LinkCount())},
      {"link.bin names a node past the last", [&] { patch("link.bin", 12, value(uint32_t(NodeCoords(Dir()).size()))); },
       50, "link.bin is corrupted (link 2 joins the nodes "},
      {"link.bin enciphered, as after the import",
       [&] {
         TTestNetworkWriter k = w;
         k.Key = cKey;
         k.Write(Dir());
       },
       50, "link.bin is corrupted (link 1 joins the nodes", cKey},
      {"coord3i.bin falls", [&] { patch("coord3i.bin", 8, value(int32_t(0))); }, 50, "coord3i.bin is corrupted"},
      {"a node is not a number", [&] { patch("coord.bin", 24, value(std::nan(""))); }, 50,
       "coord.bin is corrupted (node 2 lies at a coordinate that is not a finite number)"},
      {"a vertex is infinite", [&] { patch("coord3.bin", 0, value(HUGE_VAL)); }, 50,
       "coord3.bin is corrupted (vertex 1 of link 1 is not a finite number)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    w.Write(Dir());
    const std::string old = BuildIndex(Dir(), 2);
    c.spoil();
    EXPECT_THAT(MessageOf([&] { BuildIndex(Dir(), c.cap, c.key); }), HasSubstr(c.message));
    EXPECT_TRUE(ReadBytes(Dir() + cSpatialIndexFileName) == old);
    EXPECT_FALSE(std::filesystem::exists(Dir() + cSpatialIndexFileName + ".tmp"));
  }
}

// What the file's 16-bit counts cannot hold raises EOutOfRange before
// writing: too many records in a leaf (nodes, or runs) and too many vertices
// in a link; a link of 65535 vertices is still fine.
TEST_F(QuadTreeBuild, OverflowingCountsRaiseAndKeepTheOldIndex) {
  struct Case {
    const char* name;
    std::function<void(TTestNetworkWriter&)> links;
    int32_t cap;
    std::string message;  // empty: builds
  } const cases[] = {
      // The cluster's cell: at each level the third child but at depth 3 the first.
      {"70000 nodes in one cell 16 levels deep",
       [](TTestNetworkWriter& w) {
         for (int32_t i = 0; i < 35000; ++i) w.AddLink({{1 + i * 1e-9, 1}, {1 + i * 1e-9, 1 + 1e-9}});
         w.AddLink({{6, 6}, {7, 7}});
       },
       50, "Spatial index: cell 47 holds more than 65535 records"},
      {"five links visiting one leaf 16000 times each",
       [](TTestNetworkWriter& w) {
         for (int32_t k = 0; k < 5; ++k) {
           TFloatPointArray line{{7, 7}};
           for (int32_t i = 0; i < 16200; ++i)
             for (TFloatPoint p : {TFloatPoint{4.5, 6}, TFloatPoint{4.5, 5}, TFloatPoint{3.5, 5}, TFloatPoint{3.5, 6}})
               line.push_back(p);
           line.push_back({1, 7});
           w.AddLink(line);
         }
         w.AddLink({{1, 1}, {7, 1}});
       },
       1, "Spatial index: cell 2 holds more than 65535 records"},
      {"a link of 65536 vertices",
       [](TTestNetworkWriter& w) {
         w.AddLink({{6, 6}, {7, 7}});
         TFloatPointArray line;
         for (int32_t i = 0; i < 65536; ++i) line.push_back({1 + (i % 2) * 0.5, 1 + i * 1e-4});
         w.AddLink(line);
       },
       50, "Spatial index: link 2 has more than 65535 vertices"},
      {"a link of 65535 vertices",
       [](TTestNetworkWriter& w) {
         TFloatPointArray line;
         for (int32_t i = 0; i < 65535; ++i) line.push_back({1 + (i % 2) * 0.5, 1 + i * 1e-4});
         w.AddLink(line);
       },
       50, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    TTestNetworkWriter w;
    c.links(w);
    w.Write(Dir());
    SetBounds(Dir(), w, cBox8);
    WriteBytes(Dir() + cSpatialIndexFileName, "old index");
    TQuadTreeSetup b;
    b.SetDirectory(Dir());
    b.SetMaxNodesPerCell(c.cap);
    if (c.message.empty()) {
      b.Build(0, nullptr);
      EXPECT_EQ(b.Runs(b.Root()).back().sub2, 65534);
      continue;
    }
    EXPECT_THAT(MessageOf<EOutOfRange>([&] { b.Build(0, nullptr); }), HasSubstr(c.message));
    EXPECT_EQ(b.CellCount(), 0);
    EXPECT_EQ(ReadBytes(Dir() + cSpatialIndexFileName), "old index");
    EXPECT_FALSE(std::filesystem::exists(Dir() + cSpatialIndexFileName + ".tmp"));
  }
}

// A caller's stream gets the file at its position and stays open; the tree
// stays with the builder.
TEST_F(QuadTreeBuild, BuildIntoACallersStream) {
  TTestNetworkWriter w;
  w.AddGrid({6, 6, 10, 4, 0.2});
  const std::string file = WriteIndexed(w, Dir(), 4).Bytes;
  TKvMemoryStream s;
  s.WriteBuffer("head", 4);
  TQuadTreeSetup b;
  b.SetDirectory(Dir());
  b.SetMaxNodesPerCell(4);
  b.Build(0, &s);
  EXPECT_EQ(s.Position(), int64_t(4 + file.size()));
  s.WriteBuffer("tail", 4);
  EXPECT_EQ(std::string(static_cast<const char*>(s.Memory()), size_t(s.Size())), "head" + file + "tail");
  EXPECT_TRUE(SavedBytes(b) == file);
  EXPECT_EQ(ReadBytes(Dir() + cSpatialIndexFileName), file) << "the directory's file is left alone";
}

// Cancelling through the progress handler stops the build, which keeps no
// tree and writes nothing.
TEST_F(QuadTreeBuild, CancelledBuildWritesNothing) {
  TTestNetworkWriter w;
  w.AddGrid({8, 8, 10, 4, 0.2});
  w.Write(Dir());
  WriteBytes(Dir() + cSpatialIndexFileName, "old index");
  TQuadTreeSetup b;
  b.SetDirectory(Dir());
  b.SetMaxNodesPerCell(2);
  std::vector<int32_t> seen;
  b.SetOnProgress([&](TObject*, int32_t p, bool& cancel) {
    seen.push_back(p);
    cancel = p >= 40;
  });
  b.Build(0, nullptr);
  EXPECT_TRUE(b.Cancelled());
  ASSERT_FALSE(seen.empty());
  EXPECT_GE(seen.back(), 40);
  EXPECT_LT(seen.back(), 100);
  EXPECT_EQ(b.CellCount(), 0);
  EXPECT_EQ(ReadBytes(Dir() + cSpatialIndexFileName), "old index");
  EXPECT_FALSE(std::filesystem::exists(Dir() + cSpatialIndexFileName + ".tmp"));
}

// A loaded tree is read by several threads at once, directly and through a clone.
TEST_F(QuadTreeBuild, ThreadsLookUpOneTreeAtOnce) {
  TTestNetworkWriter w;
  w.AddGrid({20, 20, 10, 3, 0.2});
  WriteIndexed(w, Dir(), 3);
  const TFloatPointArray coord = NodeCoords(Dir());
  TQuadTree t, clone;
  t.SetDirectory(Dir());
  t.Load(int32_t(coord.size()) - 1, w.LinkCount());
  t.Clone(clone);
  EXPECT_EQ(&clone.Root(), &t.Root());
  std::vector<int32_t> misses(4, 0);
  std::vector<std::thread> threads;
  for (int32_t i = 0; i < 4; ++i)
    threads.emplace_back([&, i] {
      const TQuadTree& tree = i % 2 ? clone : t;
      for (int32_t node = 1; node < int32_t(coord.size()); ++node) {
        auto nodes = tree.Nodes(FindQuadTreeCell(tree, coord[size_t(node)]));
        misses[size_t(i)] += !std::binary_search(nodes.begin(), nodes.end(), node);
      }
    });
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(misses, std::vector<int32_t>(4, 0));
}
