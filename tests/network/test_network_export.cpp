// Link, node and list exports: the in-memory tables row by row, the split
// and extension geometry, the cursor over the location list, the 2 GB stop,
// and the files GDAL reads back.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "giswriter/kovra_giswriter.h"
#include "giswriter/kovra_giswriter_array.h"
#include "network/kovra_routingresults.h"
#include "support/gdal_readback.h"
#include "turn_fixture.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

// Links 1 (0,0)-(100,0), 2 (100,0)-(100,50)-(200,50), 3 rejected,
// 4 (200,50)-(300,50); limits from files 1..3 in slots 1..3; road names in
// slots 2 and 5; text external ids.
class Exports : public TNetworkTest {
protected:
  TNetwork& OpenSample() {
    TTestNetworkWriter w;
    w.AddLink({{0, 0}, {100, 0}}, 0x0A23);
    w.AddLink({{100, 0}, {100, 50}, {200, 50}});
    w.AddRejected();
    w.AddLink({{200, 50}, {300, 50}}, 0x0400);
    w.SetLimit(1, {5, 0, 9, 0});
    w.SetLimit(2, {0, 6, 0, 0});
    w.SetLimit(3, {0, 0, 0, 255});
    w.SetRoadNames(2, {"Main \"St\"", "Side", "", "Far"});
    w.SetRoadNames(5, {"A1", "", "", "A4"});
    w.SetExternalIDs(std::vector<std::u16string>{u"e1", u"e 2", u"e3", u"e4"}, 6);
    w.Epsg = 27700;
    TNetwork& net = Open(w, true, false, 1);
    for (int32_t s = 1; s <= 3; ++s) net.OpenLimit(s, s, false);
    net.OpenRoadName(2, false);
    net.OpenRoadName(5, false);
    return net;
  }
  static std::vector<std::string> FieldNames(const TGISArray& t) {
    std::vector<std::string> names;
    for (const TFieldInfo& f : t.Field) names.push_back(f.Name);
    return names;
  }
  static TFloatPointArray Line(const TGISArray& t, int32_t r) {
    return t.Rec[size_t(r)].Coord.empty() ? TFloatPointArray{} : t.Rec[size_t(r)].Coord[0];
  }
};

TEST_F(Exports, LinksWithoutLocationsOneRowPerValidLink) {
  TNetwork& net = OpenSample();
  net.ExportLinks("", gfArray, nullptr, nullptr);
  const TGISArray& t = net.GISarray();
  EXPECT_EQ(FieldNames(t), (std::vector<std::string>{"ID", "FromNode", "ToNode", "CulDeSac", "Attribute", "RoadClass",
                                                     "Hierarchy", "NoDriveThrough", "Oneway", "RoundAbout", "NonDrive",
                                                     "UturnFrom", "UturnTo", "SearchLink", "ExternalID", "Limit1",
                                                     "Limit2", "Limit3", "Roadname2", "Roadname5"}));
  ASSERT_EQ(t.RecCount, 3);
  EXPECT_EQ(t.Rec[0].Attr,
            (TGISValueArray{1, net.Link2FromNode(1), net.Link2ToNode(1), int32_t(net.GetCulDeSac(1)), 0x0A23, 3, 1, 0,
                            512, 1, 0, 0, 0, 0, std::string("e1"), 5, 0, 0, std::string("Main \"St\""),
                            std::string("A1")}));
  EXPECT_EQ(std::get<int32_t>(t.Rec[1].Attr[0]), 2);
  EXPECT_EQ(std::get<std::string>(t.Rec[1].Attr[14]), "e 2");
  EXPECT_EQ(std::get<int32_t>(t.Rec[2].Attr[0]), 4);
  EXPECT_EQ(std::get<int32_t>(t.Rec[2].Attr[8]), 1024);
  EXPECT_EQ(std::get<int32_t>(t.Rec[2].Attr[17]), 255);
  EXPECT_EQ(Line(t, 1), (TFloatPointArray{{100, 0}, {100, 50}, {200, 50}}));
  // Column widths: road names at most 254, external ids at the id width.
  EXPECT_EQ(t.Field[14].Width, 6);
}

TEST_F(Exports, LongRoadNamesAreNotCut) {
  // 130 UTF-16 units take 260 bytes in the road-name file: the column is as
  // wide as a DBF text column can be, and the name reads back whole.
  TTestNetworkWriter w;
  w.AddLink({{0, 0}, {100, 0}});
  const std::string name(130, 'x');
  w.SetRoadNames(1, {name});
  TNetwork& net = Open(w);
  net.OpenRoadName(1, false);
  net.ExportLinks("", gfArray, nullptr, nullptr);
  ASSERT_EQ(net.GISarray().Field.back().Name, "Roadname1");
  EXPECT_EQ(net.GISarray().Field.back().Width, 254);
  net.ExportLinks(PathOf("long"), gfSHP, nullptr, nullptr);
  const TOgrLayer layer = ReadOgrLayer(PathOf("long.shp"));
  ASSERT_EQ(layer.Features.size(), 1u);
  EXPECT_EQ(layer.Value(0, "Roadname1"), name);
}

TEST_F(Exports, LinksSplitAndExtendedAtLocations) {
  TNetwork& net = OpenSample();
  struct TRow {
    int32_t id, sub;
    double start, stop;
    TFloatPointArray line;
  };
  struct TCase {
    const char* name;
    std::vector<TLocationListItem> items;
    std::vector<TRow> rows;
  };
  const TCase cases[] = {
      {"an empty list", {}, {{1, 0, 0, 1, {{0, 0}, {100, 0}}}, {2, 0, 0, 1, {{100, 0}, {100, 50}, {200, 50}}},
                             {4, 0, 0, 1, {{200, 50}, {300, 50}}}}},
      {"splits at 0.25 and 0.75 end exactly at the items' points",
       {{{1, 0.25}, {25, 0.5}}, {{1, 0.75}, {75, -0.5}}},
       {{1, 1, 0, 0.25, {{0, 0}, {25, 0.5}}}, {1, 2, 0.25, 0.75, {{25, 0.5}, {75, -0.5}}},
        {1, 3, 0.75, 1, {{75, -0.5}, {100, 0}}}, {2, 0, 0, 1, {{100, 0}, {100, 50}, {200, 50}}},
        {4, 0, 0, 1, {{200, 50}, {300, 50}}}}},
      {"from-end extension off the node", {{{4, -2}, {200, 40}}},
       {{1, 0, 0, 1, {{0, 0}, {100, 0}}}, {2, 0, 0, 1, {{100, 0}, {100, 50}, {200, 50}}},
        {4, 1, 0, 1, {{200, 40}, {200, 50}, {300, 50}}}}},
      {"from-end extension on the node", {{{4, -2}, {200, 50}}},
       {{1, 0, 0, 1, {{0, 0}, {100, 0}}}, {2, 0, 0, 1, {{100, 0}, {100, 50}, {200, 50}}},
        {4, 0, 0, 1, {{200, 50}, {300, 50}}}}},
      {"both extensions", {{{1, -2}, {-5, 0}}, {{1, -1}, {100, 5}}},
       {{1, 1, 0, 1, {{-5, 0}, {0, 0}, {100, 0}, {100, 5}}}, {2, 0, 0, 1, {{100, 0}, {100, 50}, {200, 50}}},
        {4, 0, 0, 1, {{200, 50}, {300, 50}}}}},
      {"extensions around a split", {{{4, -2}, {200, 40}}, {{4, -1}, {310, 50}}, {{4, 0.5}, {250, 50}}},
       {{1, 0, 0, 1, {{0, 0}, {100, 0}}}, {2, 0, 0, 1, {{100, 0}, {100, 50}, {200, 50}}},
        {4, 1, 0, 0.5, {{200, 40}, {200, 50}, {250, 50}}}, {4, 2, 0.5, 1, {{250, 50}, {300, 50}, {310, 50}}}}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TLocationList LL;
    for (const auto& it : c.items) LL.Add(it);
    net.ExportLinks("", gfArray, &LL, nullptr);
    const TGISArray& t = net.GISarray();
    ASSERT_EQ(t.RecCount, int32_t(c.rows.size()));
    EXPECT_EQ(FieldNames(t)[1], "ID_sub");
    for (size_t r = 0; r < c.rows.size(); ++r) {
      SCOPED_TRACE(r);
      const TGISValueArray& a = t.Rec[r].Attr;
      EXPECT_EQ(a[0], TGISValue(c.rows[r].id));
      EXPECT_EQ(a[1], TGISValue(c.rows[r].sub));
      EXPECT_EQ(a[2], TGISValue(c.rows[r].start));
      EXPECT_EQ(a[3], TGISValue(c.rows[r].stop));
      EXPECT_EQ(Line(t, int32_t(r)), c.rows[r].line);
    }
  }
}

TEST_F(Exports, CursorPassesItemsOfSkippedLinksAndSortsAnUnsortedList) {
  TNetwork& net = OpenSample();
  TBitArray BA(net.LinkCount() + 1);
  BA.SetBit(2, true);
  BA.SetBit(4, true);
  TLocationList LL;
  LL.Add({{4, 0.5}, {250, 50}});  // unsorted: a later link first
  LL.Add({{1, 0.5}, {50, 0}});    // on a link BA leaves out
  LL.Add({{3, 0.5}, {0, 0}});     // on the rejected link
  ASSERT_FALSE(LL.Sorted());
  net.ExportLinks("", gfArray, &LL, &BA);
  const TGISArray& t = net.GISarray();
  ASSERT_EQ(t.RecCount, 3);
  EXPECT_EQ(t.Rec[0].Attr[0], TGISValue(2));
  EXPECT_EQ(t.Rec[1].Attr[0], TGISValue(4));
  EXPECT_EQ(t.Rec[1].Attr[1], TGISValue(1));
  EXPECT_EQ(t.Rec[2].Attr[1], TGISValue(2));
  EXPECT_EQ(LL.GetItem(0).loc.link, 4);  // the caller's list is left as it was

  // Lists and selections that do not fit are refused before any file.
  struct TBad {
    TLocationListItem item;
    std::string message;
  };
  const TBad bad[] = {
      {{{5, 0.5}, {}}, "Location (link) at index 0 in list, 5, must be between 1 and 4"},
      {{{0, 0.5}, {}}, "Location (link) at index 0 in list, 0, must be between 1 and 4"},
      {{{1, 1.5}, {}}, "Location (percentage) at index 0 in list, 1.50, must be between 0 and 1"},
      {{{1, -0.5}, {}}, "Location (percentage) at index 0 in list, -0.50, must be between 0 and 1"},
  };
  for (const TBad& b : bad) {
    TLocationList L;
    L.Add(b.item);
    ExpectRaises<EOutOfRange>([&] { net.ExportLinks(PathOf("bad"), gfSHP, &L, nullptr); }, b.message);
  }
  TBitArray shortBA(net.LinkCount());
  ExpectRaises<EInvalidParameter>([&] { net.ExportLinks(PathOf("bad"), gfSHP, nullptr, &shortBA); },
                                  "Bit array must hold at least 5 bits");
  ExpectRaises<EInvalidParameter>([&] { net.ExportLinksFullSplit(PathOf("bad"), gfSHP, &shortBA); },
                                  "Bit array must hold at least 5 bits");
  TIntegerList NL;
  NL.Add(1);
  NL.Add(99);
  ExpectRaises<EOutOfRange>([&] { net.ExportNodeList(PathOf("bad"), gfSHP, NL); },
                            "Node at index 1 in list, 99, must be between 1 and " + std::to_string(net.NodeCount()));
  EXPECT_FALSE(std::filesystem::exists(PathOf("bad.shp")));
  net.Close();
  ExpectRaises<ENetworkIsClosed>([&] { net.ExportNodes(PathOf("bad"), gfSHP); }, "Network is not open");
}

TEST_F(Exports, FullSplitNodesAndLists) {
  TTestNetworkWriter w;
  w.AddLink({{0, 0}, {0, 0}, {10, 0}, {10, 10}});  // A, A, B, C
  TNetwork& net = Open(w);
  net.ExportLinksFullSplit("", gfArray, nullptr);
  const TGISArray& t = net.GISarray();
  ASSERT_EQ(t.RecCount, 2);
  EXPECT_EQ(t.Rec[0].Attr[1], TGISValue(1));
  EXPECT_EQ(Line(t, 0), (TFloatPointArray{{0, 0}, {10, 0}}));
  EXPECT_EQ(t.Rec[1].Attr[1], TGISValue(2));
  EXPECT_EQ(Line(t, 1), (TFloatPointArray{{10, 0}, {10, 10}}));

  TTrafficList TL;
  TL.Add({{1, 2}, {3, 4}, 5});
  TL.Add({{6, 7}, {8, 9}, 0.5f});
  net.ExportTrafficList("", gfArray, TL, false);
  ASSERT_EQ(t.RecCount, 4);
  const std::vector<TGISValueArray> expected = {{0, std::string("O"), 5.0}, {0, std::string("D"), 5.0},
                                                {1, std::string("O"), 0.5}, {1, std::string("D"), 0.5}};
  for (int32_t r = 0; r < 4; ++r) EXPECT_EQ(t.Rec[size_t(r)].Attr, expected[size_t(r)]);
  EXPECT_EQ(t.Rec[1].Coord[0][0], (TFloatPoint{3, 4}));
  net.ExportTrafficList("", gfArray, TL, true);
  ASSERT_EQ(t.RecCount, 2);
  EXPECT_EQ(Line(t, 1), (TFloatPointArray{{6, 7}, {8, 9}}));

  TPolyGeneration poly;
  poly.StartPoints = {{1, 1}};
  for (const TGISFormat GF : {gfArray, gfGeoJSON})
    ExpectRaises<Exception>([&] { net.ExportPolyGeneration(PathOf("poly"), GF, poly); },
                            "Array/GeoJSON format is not possible in ExportPolyGeneration");
  for (const auto& e : std::filesystem::directory_iterator(dir))
    EXPECT_NE(e.path().filename().string().rfind("poly", 0), 0u) << e.path();

  TLocationList LL;
  LL.Add({{1, 0.5}, {99, 98}});  // the stored point is written
  net.ExportLocationList("", gfArray, LL);
  ASSERT_EQ(t.RecCount, 1);
  EXPECT_EQ(t.Rec[0].Coord[0][0], (TFloatPoint{99, 98}));
  TIntegerList empty;
  net.ExportNodeList("", gfArray, empty);
  EXPECT_EQ(t.RecCount, 0);
}

TEST_F(Exports, NodeSymbolsByDegree) {
  TTestNetworkWriter w;
  AddJunction(w, {0, 0}, {0, 60, 120, 180, 240, 300}, 100);
  TNetwork& net = Open(w);
  net.ExportNodes(PathOf("nodes"), gfMIF);
  std::ifstream f(PathOf("nodes.mif"));
  std::stringstream ss;
  ss << f.rdbuf();
  const std::string mif = ss.str();
  // MIF colours are RGB: red 0xFF0000, cyan 0x00FFFF.
  EXPECT_NE(mif.find("Symbol(34,16711680,10)"), std::string::npos) << mif;
  EXPECT_NE(mif.find("Symbol(34,65535,7)"), std::string::npos) << mif;
  const TOgrLayer layer = ReadOgrLayer(PathOf("nodes.mif"));
  EXPECT_EQ(layer.FeatureCount, 7);
}

// Reports a full file from its Limit-th record on.
struct TFillingWriter : TGISWriterArray {
  int32_t Limit = 0;
  bool* Closed = nullptr;
  void AddObject(int32_t NumParts, bool multiPolygon, const std::string& Attrib) override {
    TGISWriterArray::AddObject(NumParts, multiPolygon, Attrib);
    if (WrittenRecords() >= Limit) fFileIsFull = true;
  }
  void Close() override {
    TGISWriterArray::Close();
    *Closed = true;
  }
};

TEST_F(Exports, TheTwoGigabyteStopKeepsWhatWasWritten) {
  TNetwork& net = OpenSample();
  bool closed = false;
  net.SetGISWriterFactory([&](TGISFormat) {
    auto w = std::make_unique<TFillingWriter>();
    w->Limit = 2;
    w->Closed = &closed;
    return w;
  });
  TLocationList LL;
  LL.Add({{2, 0.3}, {100, 15}});
  LL.Add({{2, 0.6}, {110, 50}});
  ExpectRaises<Exception>([&] { net.ExportLinks("", gfArray, &LL, nullptr); },
                          "Full network could not be exported (2 GB limit reached)");
  EXPECT_TRUE(closed);
  // Link 1, then link 2's first piece fills the file; the link's closing
  // piece still follows, starting where that piece started.
  const TGISArray& t = net.GISarray();
  ASSERT_EQ(t.RecCount, 3);
  EXPECT_EQ(t.Rec[1].Attr[3], TGISValue(0.3));
  EXPECT_EQ(t.Rec[2].Attr[0], TGISValue(2));
  EXPECT_EQ(t.Rec[2].Attr[2], TGISValue(0.0));
  EXPECT_EQ(t.Rec[2].Attr[3], TGISValue(1.0));
  net.SetGISWriterFactory(nullptr);
}

TEST_F(Exports, GdalReadsTheFormats) {
  TNetwork& net = OpenSample();
  TLocationList LL;
  LL.Add({{2, 0.5}, {125, 50}});
  for (const auto& [GF, ext] : std::vector<std::pair<TGISFormat, std::string>>{
           {gfSHP, ".shp"}, {gfMIF, ".mif"}, {gfGeoJSON, ".geojson"}, {gfGML2, ".xml"}, {gfKML2, ".kml"}}) {
    SCOPED_TRACE(ext);
    const std::string name = "links" + std::to_string(int(GF));
    net.ExportLinks(PathOf(name), GF, &LL, nullptr);
    const TOgrLayer layer = ReadOgrLayer(PathOf(name + ext));
    ASSERT_TRUE(layer.Opened);
    EXPECT_EQ(layer.FeatureCount, 4);
    EXPECT_TRUE(layer.Failures.empty());
    if (GF == gfSHP) {
      EXPECT_GE(layer.FieldIndex("NoDriveThr"), 0);
      EXPECT_EQ(layer.Features[1].Wkt, "LINESTRING (100 0,100 50,125 50)");
      EXPECT_EQ(layer.Features[2].Wkt, "LINESTRING (125 50,200 50)");
    }
  }
}

}  // namespace
