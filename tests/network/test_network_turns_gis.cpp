// The turn-set layer: restrictions drawn from the middle of the first link
// across each junction to the middle of the last, in memory and as a
// shapefile GDAL reads back.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "giswriter/kovra_giswriter.h"
#include "support/gdal_readback.h"
#include "turn_fixture.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

class TurnGIS : public TNetworkTest {};

TEST_F(TurnGIS, RestrictionsAreDrawnThroughTheJunction) {
  struct TCase {
    const char* name;
    std::vector<TFloatPointArray> links;  // the restriction's links in driving order
    // (lengths are Singles: a fraction of a 100 m link is off by 1e-7 m)
    float value;
    TFloatPointArray drawn;
  };
  const TCase cases[] = {
      {"100 m links: ten metres is 0.1", {{{0, 0}, {100, 0}}, {{100, 0}, {200, 0}}}, 2,
       {{50, 0}, {90, 0}, {110, 0}, {150, 0}}},
      {"30 m links: at most a quarter", {{{0, 0}, {30, 0}}, {{30, 0}, {60, 0}}}, -1,
       {{15, 0}, {22.5, 0}, {37.5, 0}, {45, 0}}},
      {"digitised against the driving direction", {{{100, 0}, {0, 0}}, {{200, 0}, {100, 0}}}, 2,
       {{50, 0}, {90, 0}, {110, 0}, {150, 0}}},
      {"three links, the middle one reversed",
       {{{0, 0}, {100, 0}}, {{100, 100}, {100, 0}}, {{100, 100}, {200, 100}}}, 1.5f,
       {{50, 0}, {90, 0}, {100, 0}, {100, 100}, {110, 100}, {150, 100}}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TTestNetworkWriter w;
    std::vector<int32_t> ids;
    for (const auto& l : c.links) ids.push_back(w.AddLink(l));
    TNetwork& net = Open(w);
    net.TurnSet(0).Add({ids, c.value});
    net.TurnExportGIS(0, "", gfArray);
    const TGISArray& t = net.GISarray();
    ASSERT_EQ(t.RecCount, 1);
    std::string links;
    for (size_t i = 0; i < ids.size(); ++i) links += (i ? "," : "") + std::to_string(ids[i]);
    EXPECT_EQ(t.Rec[0].Attr, (TGISValueArray{int32_t(ids.size()), double(c.value), links}));
    ASSERT_EQ(t.Rec[0].Coord.size(), 1u);  // the parts meet and join into one line
    const TFloatPointArray& got = t.Rec[0].Coord[0];
    ASSERT_EQ(got.size(), c.drawn.size());
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_NEAR(got[i].x, c.drawn[i].x, 1e-6) << i;
      EXPECT_NEAR(got[i].y, c.drawn[i].y, 1e-6) << i;
    }
  }
}

TEST_F(TurnGIS, ShapefileHasOneSinglePartLinePerRestriction) {
  TTestNetworkWriter w;
  const auto L = AddJunction(w, {0, 0}, {0, 90, 180, 270}, 100);
  const int32_t rejected = w.AddRejected();
  TNetwork& net = Open(w);
  net.TurnStandard(0, 1);
  const int32_t seq[] = {L[0], L[2], L[1]};
  net.TurnSet(0).Add({seq, 2.5f});
  // A rejected link reaches a set only through the binary file; its record
  // keeps the attributes without a geometry.
  const int32_t withRejected[] = {L[0], rejected};
  net.TurnSet(0).Add({withRejected, 4});

  net.TurnExportGIS(0, PathOf("turns"), gfSHP);
  const TOgrLayer layer = ReadOgrLayer(PathOf("turns.shp"));
  ASSERT_TRUE(layer.Opened);
  EXPECT_EQ(layer.FeatureCount, 10);
  ASSERT_EQ(layer.Fields.size(), 3u);
  EXPECT_EQ(layer.Fields[0].Name, "Length");
  EXPECT_EQ(layer.Fields[1].Name, "TurnCost");
  EXPECT_EQ(layer.Fields[2].Name, "Links");
  int32_t lines = 0, empty = 0;
  for (size_t f = 0; f < layer.Features.size(); ++f) {
    const std::string& wkt = layer.Features[f].Wkt;
    if (wkt.empty()) {
      ++empty;
      EXPECT_EQ(layer.Value(f, "Links"), std::to_string(L[0]) + "," + std::to_string(rejected));
      continue;
    }
    EXPECT_EQ(wkt.rfind("LINESTRING (", 0), 0u) << wkt;
    ++lines;
  }
  EXPECT_EQ(lines, 9);
  EXPECT_EQ(empty, 1);

  // The in-memory table gets the same rows; closed networks and bad indexes
  // are refused before any file is made.
  net.TurnExportGIS(0, "", gfArray);
  EXPECT_EQ(net.GISarray().RecCount, 10);
  ExpectRaises<EOutOfRange>([&] { net.TurnExportGIS(1, PathOf("bad"), gfSHP); }, "Turn index must be between 0 and 0");
  EXPECT_FALSE(std::filesystem::exists(PathOf("bad.shp")));
}

}  // namespace
