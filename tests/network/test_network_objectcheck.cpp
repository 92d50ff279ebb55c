// Check layers: groups of parallel links against a brute-force pair search,
// faulty polylines row by row, and the files GDAL reads back.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "giswriter/kovra_giswriter.h"
#include "network_fixture.h"
#include "support/gdal_readback.h"
#include "support/test_files.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

// One parallel-links record: link, group, same length.
using TParallelRow = std::tuple<int32_t, int32_t, bool>;

std::vector<TParallelRow> ParallelRows(const TGISArray& t) {
  std::vector<TParallelRow> rows;
  for (int32_t r = 0; r < t.RecCount; ++r) {
    const TGISValueArray& a = t.Rec[size_t(r)].Attr;
    rows.emplace_back(std::get<int32_t>(a[0]), std::get<int32_t>(a[1]), std::get<bool>(a[2]));
  }
  return rows;
}

// Every set of two or more valid, non-loop links with the same two end
// nodes, found by comparing all pairs of links. A group is discovered at its
// lower node, at the slot of its first member there; its records follow the
// slot order at that node.
std::vector<TParallelRow> BruteForceParallel(const TNetwork& net) {
  const int32_t L = net.LinkCount();
  auto ends = [&](int32_t l) {
    const int32_t a = net.Fromnodes()[size_t(l)], b = net.Tonodes()[size_t(l)];
    return std::pair(std::min(a, b), std::max(a, b));
  };
  auto usable = [&](int32_t l) { return net.LinkLength(l) != 0 && !net.LoopLink(l); };
  auto slot = [&](int32_t node, int32_t l) {
    const auto s = net.Adjacent(node);
    for (size_t k = 0; k < s.size(); ++k)
      if (std::abs(s[k]) == l) return int32_t(k);
    ADD_FAILURE() << "link " << l << " not at node " << node;
    return -1;
  };
  std::vector<int32_t> owner(size_t(L) + 1, 0);  // lowest link of the class
  for (int32_t l = 1; l <= L; ++l) {
    if (!usable(l)) continue;
    owner[size_t(l)] = l;
    for (int32_t m = 1; m < l; ++m)
      if (usable(m) && ends(m) == ends(l)) {
        owner[size_t(l)] = owner[size_t(m)];
        break;
      }
  }
  std::map<int32_t, std::vector<int32_t>> classes;
  for (int32_t l = 1; l <= L; ++l)
    if (owner[size_t(l)]) classes[owner[size_t(l)]].push_back(l);
  // (lower node, first slot) -> members in slot order
  std::map<std::pair<int32_t, int32_t>, std::vector<int32_t>> groups;
  for (auto& [o, members] : classes) {
    if (members.size() < 2) continue;
    const int32_t j = ends(o).first;
    std::sort(members.begin(), members.end(), [&](int32_t a, int32_t b) { return slot(j, a) < slot(j, b); });
    groups[{j, slot(j, members[0])}] = members;
  }
  std::vector<TParallelRow> rows;
  int32_t g = 0;
  for (const auto& [key, members] : groups) {
    ++g;
    const bool same = std::all_of(members.begin(), members.end(),
                                  [&](int32_t l) { return net.LinkLength(l) == net.LinkLength(members[0]); });
    for (int32_t l : members) rows.emplace_back(l, g, same);
  }
  return rows;
}

class Checks : public TNetworkTest {
protected:
  // Files of the test folder whose name starts with Stem + ".".
  std::vector<std::string> FilesOf(const std::string& Stem) const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
      if (e.path().stem().string() == Stem) names.push_back(e.path().filename().string());
    return names;
  }
};

TEST_F(Checks, ParallelLinksMatchABruteForcePairSearchOnRandomMultigraphs) {
  std::mt19937 rng(20240611);
  for (int32_t round = 0; round < 25; ++round) {
    SCOPED_TRACE(round);
    TTestNetworkWriter w;
    w.Unit = cuKm;
    const int32_t links = 5 + int32_t(rng() % 60);
    for (int32_t i = 0; i < links; ++i) {
      const uint32_t kind = rng() % 10;
      if (kind == 0) {
        w.AddRejected();
        continue;
      }
      const TFloatPoint a{double(rng() % 4), double(rng() % 4)};
      if (kind == 1) {  // a loop
        w.AddLink({a, {a.x + 0.3, a.y + 0.2}, {a.x + 0.1, a.y + 0.4}, a});
        continue;
      }
      TFloatPoint b{double(rng() % 4), double(rng() % 4)};
      if (a == b) b.x += 1;
      // Straight through the midpoint (equal lengths for equal ends) or bent
      // by one of a few offsets.
      const double bend = 0.1 * double(rng() % 3);
      w.AddLink({a, {(a.x + b.x) / 2 + bend, (a.y + b.y) / 2 + bend}, b});
    }
    TNetwork& net = Open(w);
    const std::vector<TParallelRow> expected = BruteForceParallel(net);
    const int32_t written = net.ParallelLinks("", gfArray);
    EXPECT_EQ(written, int32_t(expected.size()));
    EXPECT_EQ(ParallelRows(net.GISarray()), expected);
    for (int32_t r = 0; r < net.GISarray().RecCount; ++r) {
      const TRec& rec = net.GISarray().Rec[size_t(r)];
      const TFloatPointArrayEx section = net.GetGISSection(std::get<int32_t>(rec.Attr[0]));
      ASSERT_EQ(rec.Coord.size(), 1u);
      EXPECT_EQ(rec.Coord[0], TFloatPointArray(section.Pnt.begin(), section.Pnt.begin() + section.Count));
    }
    fNet.reset();
  }
}

TEST_F(Checks, ParallelLinksGroupsAndSameLength) {
  // Units of km: the straight links and those through a point on the line
  // have length exactly 1.
  const TFloatPointArray straight{{0, 0}, {1, 0}}, through{{0, 0}, {0.5, 0}, {1, 0}},
      bent{{0, 0}, {0.5, 0.3316625}, {1, 0}};
  struct Case {
    const char* name;
    std::vector<TFloatPointArray> links;
    std::vector<TParallelRow> rows;
  } const cases[] = {
      {"three links A-B of one length", {straight, through, through}, {{1, 1, true}, {2, 1, true}, {3, 1, true}}},
      {"three links A-B, one longer", {straight, through, bent}, {{1, 1, false}, {2, 1, false}, {3, 1, false}}},
      {"one pair among other links",
       {{{5, 5}, {6, 5}}, straight, {{1, 0}, {2, 0}}, bent, {{6, 5}, {6, 6}}},
       {{2, 1, false}, {4, 1, false}}},
      {"a loop at A is no partner", {straight, {{0, 0}, {0.5, 0.5}, {0, 0.5}, {0, 0}}, {{1, 0}, {2, 0}}}, {}},
      {"two groups at one node",
       {straight, {{0, 0}, {0, 1}}, bent, {{0, 0}, {0.2, 0.5}, {0, 1}}, {{0, 0}, {-1, 0}}},
       {{1, 1, false}, {3, 1, false}, {2, 2, false}, {4, 2, false}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TTestNetworkWriter w;
    w.Unit = cuKm;
    for (const auto& l : c.links) w.AddLink(l);
    TNetwork& net = Open(w);
    EXPECT_EQ(net.ParallelLinks(PathOf("parallel"), gfArray), int32_t(c.rows.size()));
    EXPECT_EQ(ParallelRows(net.GISarray()), c.rows);
    // Written to files: an empty layer leaves none.
    EXPECT_EQ(net.ParallelLinks(PathOf("parallel"), gfMIF), int32_t(c.rows.size()));
    EXPECT_EQ(FilesOf("parallel").size(), c.rows.empty() ? 0u : 2u);
    fNet.reset();
    std::filesystem::remove(PathOf("parallel.mif"));
    std::filesystem::remove(PathOf("parallel.mid"));
  }
}

// The network of the object-check rows: link ids in comments.
TTestNetworkWriter DefectNetwork() {
  TTestNetworkWriter w;
  w.Unit = cuM;
  w.AddLink({{0, 0}, {10, 0}, {10, 10}});                        // 1: a right angle, clean
  w.AddLink({{20, 0}, {25, 0}, {25, 0}, {30, 0}});               // 2: repeated point
  w.AddLink({{40, 0}, {42, 2}, {42, 0}, {40, 2}});               // 3: bow tie
  w.AddLink({{50, 0}, {60, 0}, {50, 0.5}});                      // 4: a turn of 177 degrees
  w.AddLink({{70, 0}, {80, 0}, {75, 0}});                        // 5: a full reversal
  w.AddRejected();                                               // 6
  w.AddLink({{90, 0}, {95, 5}, {100, 0}, {90, 0}});              // 7: a loop ends where it starts
  w.AddLink({{0, 30}, {10, 30}, {0, 30.5}, {5, 25}});            // 8: sharp turn, then a crossing
  return w;
}

TEST_F(Checks, ObjectCheckRows) {
  TNetwork& net = Open(DefectNetwork());
  struct Case {
    int32_t turn_angle;
    std::vector<std::vector<std::string>> rows;  // Link, Duplicate, SelfInter, SharpTurn
  } const cases[] = {
      // The full reversal of link 5 scores 0 and is not listed.
      {10, {{"2", "1", "0", "0"}, {"3", "0", "1", "0"}, {"4", "0", "0", "3"}, {"7", "1", "0", "0"}, {"8", "0", "1", "3"}}},
      // 177 degrees lies outside 178..182.
      {2, {{"2", "1", "0", "0"}, {"3", "0", "1", "0"}, {"7", "1", "0", "0"}, {"8", "0", "1", "0"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.turn_angle);
    ASSERT_EQ(net.ObjectCheck("", gfArray, c.turn_angle), int32_t(c.rows.size()));
    const TGISArray& t = net.GISarray();
    std::vector<std::vector<std::string>> rows;
    for (int32_t r = 0; r < t.RecCount; ++r) {
      const TGISValueArray& a = t.Rec[size_t(r)].Attr;
      rows.push_back({std::to_string(std::get<int32_t>(a[0]))});
      for (size_t f = 1; f < 4; ++f) rows.back().push_back(std::to_string(int(std::get<double>(a[f]))));
    }
    EXPECT_EQ(rows, c.rows);
  }
}

TEST_F(Checks, ObjectCheckOfACleanNetworkLeavesNoFile) {
  TTestNetworkWriter w;
  w.AddLink({{0, 0}, {10, 0}, {10, 10}});
  w.AddLink({{10, 10}, {20, 10}});
  TNetwork& net = Open(w);
  EXPECT_EQ(net.ObjectCheck(PathOf("objects"), gfSHP, 10), 0);
  EXPECT_TRUE(FilesOf("objects").empty());
}

TEST_F(Checks, ShapefileAndGeoJSONOutputsReadBackThroughGDAL) {
  TTestNetworkWriter w = DefectNetwork();
  w.Epsg = 27700;
  TNetwork& net = Open(w);
  ASSERT_EQ(net.ObjectCheck(PathOf("objects"), gfSHP, 10), 5);
  ASSERT_EQ(net.ObjectCheck(PathOf("objects"), gfGeoJSON, 10), 5);
  const std::vector<std::vector<std::string>> rows{
      {"2", "1", "0", "0"}, {"3", "0", "1", "0"}, {"4", "0", "0", "3"}, {"7", "1", "0", "0"}, {"8", "0", "1", "3"}};
  for (const char* file : {"objects.shp", "objects.geojson"}) {
    SCOPED_TRACE(file);
    const TOgrLayer layer = ReadOgrLayer(PathOf(file));
    ASSERT_TRUE(layer.Opened);
    EXPECT_TRUE(layer.Failures.empty());
    ASSERT_EQ(layer.FeatureCount, 5);
    for (size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(layer.Value(i, "Link"), rows[i][0]);
      EXPECT_EQ(std::stod(layer.Value(i, "Duplicate")), std::stod(rows[i][1]));
      EXPECT_EQ(std::stod(layer.Value(i, "SelfInter")), std::stod(rows[i][2]));
      EXPECT_EQ(std::stod(layer.Value(i, "SharpTurn")), std::stod(rows[i][3]));
    }
    EXPECT_EQ(layer.Features[2].Wkt, "LINESTRING (50 0,60 0,50 0.5)");
  }

  ASSERT_EQ(net.ParallelLinks(PathOf("parallel"), gfGeoJSON), 0);
  EXPECT_TRUE(FilesOf("parallel").empty());
  // In memory: the text becomes the network's and reads as the file did.
  ASSERT_EQ(net.ObjectCheck("", gfGeoJSON, 10), 5);
  WriteBytes(PathOf("memory.geojson"), net.GeoJSON());
  const TOgrLayer layer = ReadOgrLayer(PathOf("memory.geojson"));
  ASSERT_EQ(layer.FeatureCount, 5);
  EXPECT_EQ(layer.Value(4, "Link"), "8");
  EXPECT_EQ(layer.Features[4].Wkt, "LINESTRING (0 30,10 30,0 30.5,5 25)");
}

}  // namespace
