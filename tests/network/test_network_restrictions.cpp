// The restriction table: turn restrictions, one-way, limit and closed links
// numbered in one run, row by row in memory and as a shapefile.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "giswriter/kovra_giswriter.h"
#include "support/gdal_readback.h"
#include "turn_fixture.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

// Links 5 (0,0)-(100,0), 7 (100,0)-(200,0) and 9 (200,0)-(300,0) in a row,
// link 3 rejected, the others standing apart; limit file 5 loaded into slot
// 2 (slot 1 from file 1), file 2 as a bit pattern into slot 3.
class Restrictions : public TNetworkTest {
protected:
  TNetwork& OpenSample() {
    TTestNetworkWriter w;
    for (int32_t l = 1; l <= 10; ++l) {
      switch (l) {
        case 3: w.AddRejected(); break;
        case 5: w.AddLink({{0, 0}, {100, 0}}); break;
        case 7: w.AddLink({{100, 0}, {200, 0}}); break;
        case 9: w.AddLink({{200, 0}, {300, 0}}); break;
        default: w.AddLink({{1000.0 * l, 500}, {1000.0 * l + 30, 500}}); break;
      }
    }
    w.SetLimit(1, std::vector<uint8_t>(10, 0));
    w.SetLimit(5, {0, 0, 0, 4, 0, 0, 0, 0, 0, 0});
    w.SetLimit(2, std::vector<uint8_t>(10, 1));
    w.Epsg = 27700;
    TNetwork& net = Open(w);
    net.OpenLimit(1, 1, false);
    net.OpenLimit(5, 2, false);
    net.OpenLimit(2, 3, true);
    return net;
  }
  static TGISValueArray Row(std::vector<TGISValue> v) { return v; }
  // Midpoints come from Single lengths: coordinates agree to 1e-5.
  static void ExpectRow(const TGISValueArray& got, const TGISValueArray& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) {
      if (std::holds_alternative<double>(want[i]) && std::holds_alternative<double>(got[i]))
        EXPECT_NEAR(std::get<double>(got[i]), std::get<double>(want[i]), 1e-5) << "column " << i;
      else
        EXPECT_EQ(got[i], want[i]) << "column " << i;
    }
  }
  const TMIPen pen{1, 2, 0};
};

TEST_F(Restrictions, OneRunOfNumbersOverEveryGroup) {
  TNetwork& net = OpenSample();
  net.TurnRestriction(0, 5, 7, -1);
  net.TurnRestrictionComplex(0, 5, 7, 9, 0, 0, 0, 2.5f);
  net.OneWaySet(1, cAttrOnewayFromTo);
  net.OneWaySet(2, cAttrOnewayToFrom);
  net.AttributeSet(6, cAttrOneway);  // closed both ways
  net.ExportXQDRestrictions("", gfArray, 0, pen, pen, pen);
  const TGISArray& t = net.GISarray();
  ASSERT_EQ(t.Field.size(), 16u);
  ASSERT_EQ(t.RecCount, 6);
  const TGISValue z = 0.0;
  ExpectRow(t.Rec[0].Attr, Row({1, 1, -1.0, std::string("5,7"), 50.0, 0.0, 150.0, 0.0, z, z, z, z, z, z, z, z}));
  ExpectRow(t.Rec[1].Attr, Row({2, 2, 2.5, std::string("5,7,9"), 50.0, 0.0, 150.0, 0.0, 250.0, 0.0, z, z, z, z, z, z}));
  ExpectRow(t.Rec[2].Attr, Row({3, 8, 512.0, std::string("1"), 1015.0, 500.0, z, z, z, z, z, z, z, z, z, z}));
  ExpectRow(t.Rec[3].Attr, Row({4, 8, 1024.0, std::string("2"), 2015.0, 500.0, z, z, z, z, z, z, z, z, z, z}));
  // Slot 2 holds limit file 5; the bit-pattern slot 3 gives nothing.
  ExpectRow(t.Rec[4].Attr, Row({5, 13, 4.0, std::string("4"), 4015.0, 500.0, z, z, z, z, z, z, z, z, z, z}));
  ExpectRow(t.Rec[5].Attr, Row({6, 14, 1536.0, std::string("6"), 6015.0, 500.0, z, z, z, z, z, z, z, z, z, z}));

  // Geometry: a straight line between the midpoints; the longer restriction
  // drawn through both junctions in parts that connect; the one-way link
  // whole; limits and closed links none.
  ASSERT_EQ(t.Rec[0].Coord.size(), 1u);
  ASSERT_EQ(t.Rec[0].Coord[0].size(), 2u);
  EXPECT_NEAR(t.Rec[0].Coord[0][0].x, 50, 1e-5);
  EXPECT_NEAR(t.Rec[0].Coord[0][1].x, 150, 1e-5);
  ASSERT_EQ(t.Rec[1].Coord.size(), 3u);
  for (size_t p = 1; p < 3; ++p) EXPECT_EQ(t.Rec[1].Coord[p].front(), t.Rec[1].Coord[p - 1].back());
  EXPECT_NEAR(t.Rec[1].Coord[0].back().x, 90, 1e-6);  // ten metres short of the junction: s = 0.1
  EXPECT_NEAR(t.Rec[1].Coord[2][1].x, 210, 1e-6);
  EXPECT_EQ(t.Rec[2].Coord, (std::vector<TFloatPointArray>{{{1000, 500}, {1030, 500}}}));
  EXPECT_TRUE(t.Rec[4].Coord.empty());
  EXPECT_TRUE(t.Rec[5].Coord.empty());
}

TEST_F(Restrictions, ShortLinksRejectedLinksAndEmptyTables) {
  {
    TTestNetworkWriter w;
    w.AddLink({{0, 0}, {100, 0}});
    TNetwork& empty = Open(w);
    empty.ExportXQDRestrictions("", gfArray, 0, pen, pen, pen);
    EXPECT_EQ(empty.GISarray().RecCount, 0);
    EXPECT_EQ(empty.GISarray().Field.size(), 16u);
  }
  TNetwork& net = OpenSample();
  net.TurnRestrictionComplex(0, 8, 8, 0, 0, 0, 0, 1);  // a U-turn: not stored
  const int32_t onRejected[] = {5, 3};
  net.TurnSet(0).Add({onRejected, -1});
  const int32_t seven[] = {5, 7, 9, 7, 5, 7, 9};
  net.TurnSet(0).Add({seven, -1});  // seven links: no columns for it
  net.ExportXQDRestrictions("", gfArray, 0, pen, pen, pen);
  const TGISArray& t = net.GISarray();
  ASSERT_EQ(t.RecCount, 2);  // the restriction on the rejected link, then link 4's limit
  const TGISValue z = 0.0;
  ExpectRow(t.Rec[0].Attr, Row({1, 1, -1.0, std::string("5,3"), z, z, z, z, z, z, z, z, z, z, z, z}));
  EXPECT_EQ(t.Rec[1].Attr[0], TGISValue(2));
  EXPECT_TRUE(t.Rec[0].Coord.empty());

  ExpectRaises<EOutOfRange>([&] { net.ExportXQDRestrictions(PathOf("r"), gfSHP, 1, pen, pen, pen); },
                            "Turn index must be between 0 and 0");
  EXPECT_FALSE(std::filesystem::exists(PathOf("r.shp")));
}

TEST_F(Restrictions, GdalReadsEveryFormatWithSixteenDistinctFieldsAndNullShapes) {
  TNetwork& net = OpenSample();
  net.TurnRestrictionComplex(0, 5, 7, 9, 0, 0, 0, 2.5f);
  const int32_t onRejected[] = {5, 3};
  net.TurnSet(0).Add({onRejected, -1});
  net.OneWaySet(1, cAttrOnewayFromTo);
  for (const auto& [GF, ext] : std::vector<std::pair<TGISFormat, std::string>>{
           {gfSHP, ".shp"}, {gfMIF, ".mif"}, {gfGeoJSON, ".geojson"}, {gfGML2, ".xml"}, {gfKML2, ".kml"}}) {
    SCOPED_TRACE(ext);
    const std::string name = "r" + std::to_string(int(GF));
    net.ExportXQDRestrictions(PathOf(name), GF, 0, pen, pen, pen);
    const TOgrLayer layer = ReadOgrLayer(PathOf(name + ext));
    ASSERT_TRUE(layer.Opened);
    EXPECT_TRUE(layer.Failures.empty());
    EXPECT_EQ(layer.FeatureCount, 4);  // two turns, one one-way link, one limit
    int32_t nulls = 0;
    for (const TOgrFeature& f : layer.Features) nulls += f.Wkt.empty();
    EXPECT_EQ(nulls, 2);
    if (GF == gfSHP) {
      // The DBF cuts names to ten bytes; the cut names stay distinct.
      std::set<std::string> names;
      for (const TOgrField& f : layer.Fields) names.insert(f.Name);
      EXPECT_EQ(names.size(), 16u);
    }
  }
  // GeoJSON text is handed over like every other layer's.
  net.ExportXQDRestrictions("", gfGeoJSON, 0, pen, pen, pen);
  EXPECT_NE(net.GeoJSON().find("RestrictionType"), std::string::npos);
}

}  // namespace
