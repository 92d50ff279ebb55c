// Route-matrix outputs of TRouteCalc, read back through GDAL: the layout
// per flag combination, the rows (counts, values, -1 rows, MaxCost, miles,
// same-node pairs), geometry, labels, the writer's end, a failure mid-run
// and the argument checks.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "giswriter/kovra_giswriter_text.h"
#include "network/kovra_network.h"
#include "routing/kovra_calc.h"
#include "routing/matrix_fixture.h"
#include "support/gdal_readback.h"
#include "support/test_raises.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

// A node list made in place; it converts to the list it holds, so one
// object passed twice is the same list.
struct Nodes {
  Nodes(std::initializer_list<int32_t> ns) {
    for (const int32_t n : ns) L.Add(n);
  }
  operator const TIntegerList&() const { return L; }
  TIntegerList L;
};

// The numbers of a column (the DBF writer pads them with decimals).
std::vector<double> Nums(const TOgrLayer& L, const std::string& name) {
  std::vector<double> v;
  for (size_t f = 0; f < L.Features.size(); ++f) {
    const std::string t = L.Value(f, name);
    double d = std::nan("");
    std::from_chars(t.data(), t.data() + t.size(), d);
    v.push_back(d);
  }
  return v;
}

std::vector<std::string> Column(const TOgrLayer& L, const std::string& name) {
  std::vector<std::string> v;
  for (size_t f = 0; f < L.Features.size(); ++f) v.push_back(L.Value(f, name));
  return v;
}

// A CSV writer that fails on its third record, as a full disk would.
class TFailingCSV : public TGISWriterCSV {
protected:
  void StartObject(int32_t NumParts, const std::string& Attrib) override {
    if (++fRecords == 3) throw Exception("disk full");
    TGISWriterCSV::StartObject(NumParts, Attrib);
  }
  int32_t fRecords = 0;
};

class RMatrixOutTest : public MatrixFixture {
protected:
  void SetUp() override {
    MatrixFixture::SetUp();
    nw.CreateArrayCost(1);
    c = std::make_unique<TRouteCalc>(nw, false);
  }
  std::unique_ptr<TRouteCalc> c;
};

TEST_F(RMatrixOutTest, LayoutPerFlags) {
  const std::vector<std::string> ints{"10", "-20", "30"}, texts{"a", "bbbbbbb", "c"};
  struct Row {
    const char* name;
    bool dist, time, cost, direct, timeText;
    const std::vector<std::string>*SL1, *SL2;
    std::vector<std::string> want;  // name:type:width (width 0 = not checked)
  };
  const Row rows[] = {
      {"positions, every value", true, true, true, true, false, nullptr, nullptr,
       {"ID_from:Integer64:0", "ID_to:Integer64:0", "Distance:Real:0", "Time:Real:0", "Cost:Real:0",
        "DirectDist:Real:0"}},
      {"time as text", false, true, false, false, true, nullptr, nullptr,
       {"ID_from:Integer64:0", "ID_to:Integer64:0", "Time:String:12"}},
      {"integer and text labels", true, false, false, false, false, &ints, &texts,
       {"ID_from:Integer64:0", "ID_to:String:7", "Distance:Real:0"}},
      {"cost and direct", false, false, true, true, false, nullptr, &ints,
       {"ID_from:Integer64:0", "ID_to:Integer64:0", "Cost:Real:0", "DirectDist:Real:0"}},
  };
  const Nodes NL({A, D, E});
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    c->SetTimeFormatAsString(r.timeText);
    const std::string out = Out(std::string("layout") + std::to_string(&r - rows));
    c->RMatrixOut(out, gfSHP, NL, NL, r.SL1, r.SL2, r.dist, r.time, r.cost, r.direct, false, false);
    const TOgrLayer L = ReadOgrLayer(out + ".dbf");  // no geometry: the table alone;
    std::vector<std::string> got;
    for (const TOgrField& f : L.Fields) {
      const bool checkWidth = f.Type == "String";
      got.push_back(f.Name + ":" + f.Type + ":" + std::to_string(checkWidth ? f.Width : 0));
    }
    EXPECT_EQ(got, r.want);
    EXPECT_EQ(L.FeatureCount, 6);
    EXPECT_FALSE(std::filesystem::exists(out + ".shp"));
  }
}

// Rows of [A, D, E] (E only reached over the one-way link D -> E) under the
// distance criterion with time and cost priced along the route.
TEST_F(RMatrixOutTest, RowsValuesAndMaxCost) {
  const Nodes NL({A, D, E});
  c->SetDecimalsDist(3);
  c->RMatrixOut(Out("all"), gfSHP, NL, NL, nullptr, nullptr, true, true, true, true, false, false);
  TOgrLayer L = ReadOgrLayer(Out("all") + ".dbf");
  EXPECT_EQ(Column(L, "ID_from"), (std::vector<std::string>{"0", "0", "1", "1", "2", "2"}));
  EXPECT_EQ(Column(L, "ID_to"), (std::vector<std::string>{"1", "2", "0", "2", "0", "1"}));
  EXPECT_EQ(Nums(L, "Distance"), (std::vector<double>{3, 4, 3, 1, -1, -1}));
  EXPECT_EQ(Nums(L, "Time"), (std::vector<double>{3, 4, 3, 1, -1, -1}));
  EXPECT_EQ(Nums(L, "Cost"), (std::vector<double>{3, 4, 3, 1, -1, -1}));
  EXPECT_EQ(Nums(L, "DirectDist"), (std::vector<double>{3, 4, 3, 1, 4, 1}));

  // Miles: reached distances converted, the -1 kept.
  c->SetDistanceUnit(duMiles);
  c->RMatrixOut(Out("miles"), gfSHP, NL, NL, nullptr, nullptr, true, false, false, false, true, false);
  L = ReadOgrLayer(Out("miles") + ".dbf");
  ASSERT_EQ(L.FeatureCount, 3);  // symmetric: n(n - 1) / 2
  EXPECT_EQ(Nums(L, "Distance"), (std::vector<double>{1.864, 2.485, 0.621}));
  c->RMatrixOut(Out("miles2"), gfSHP, NL, NL, nullptr, nullptr, true, false, false, false, false, false);
  L = ReadOgrLayer(Out("miles2") + ".dbf");
  EXPECT_EQ(Nums(L, "Distance"), (std::vector<double>{1.864, 2.485, 1.864, 0.621, -1, -1}));
  c->SetDistanceUnit(duKm);

  // MaxCost drops the rows above it and the rows without a route.
  c->SetMaxCost(3.5f);
  c->RMatrixOut(Out("max"), gfSHP, NL, NL, nullptr, nullptr, true, false, false, false, false, false);
  L = ReadOgrLayer(Out("max") + ".dbf");
  EXPECT_EQ(Nums(L, "Distance"), (std::vector<double>{3, 3, 1}));
  c->SetMaxCost(0);

  // Time as text: the duration, and "-1" for a pair without a route.
  c->SetTimeFormatAsString(true);
  c->RMatrixOut(Out("text"), gfSHP, NL, NL, nullptr, nullptr, false, true, false, false, false, false);
  L = ReadOgrLayer(Out("text") + ".dbf");
  EXPECT_EQ(Column(L, "Time"), (std::vector<std::string>{"3m 00s", "4m 00s", "3m 00s", "1m 00s", "-1", "-1"}));
}

// Regression: a pair of the same node after a pair with a route. Its time is
// 0, not the time of the route before, and it has no geometry.
TEST_F(RMatrixOutTest, SameNodePairs) {
  for (const bool turnmode : {false, true}) {
    SCOPED_TRACE(turnmode);
    TRouteCalc t(nw, turnmode);
    const Nodes NL({A, A, D});
    t.RMatrixOut(Out("same"), gfSHP, NL, NL, nullptr, nullptr, true, true, true, false, false, true);
    const TOgrLayer L = ReadOgrLayer(Out("same") + ".shp");
    ASSERT_EQ(L.FeatureCount, 6);
    // (0,1) (0,2) (1,0) (1,2) (2,0) (2,1)
    EXPECT_EQ(Nums(L, "Time"), (std::vector<double>{0, 3, 0, 3, 3, 3}));
    EXPECT_EQ(Nums(L, "Cost"), (std::vector<double>{0, 3, 0, 3, 3, 3}));
    EXPECT_EQ(L.Features[0].Wkt, "");
    EXPECT_EQ(L.Features[2].Wkt, "");
    EXPECT_EQ(L.Features[1].Wkt, "LINESTRING (0 0,1 0,2 0,3 0)");
    EXPECT_EQ(L.Features[4].Wkt, "LINESTRING (3 0,2 0,1 0,0 0)");
  }
}

// Labels with a quote, a comma and non-ASCII text come back intact, in
// GeoJSON (valid JSON) and in the in-memory table.
TEST_F(RMatrixOutTest, LabelsAndFormats) {
  const std::vector<std::string> SL{"x\"y", "a,b", "Zürich \"Nord\""};
  const Nodes NL({A, D, E});
  c->RMatrixOut(Out("labels"), gfGeoJSON, NL, NL, &SL, &SL, true, false, false, false, true, true);
  EXPECT_EQ(RunCommand("jq -e . '" + Out("labels") + ".geojson' > /dev/null"), 0);
  TOgrReadOptions o;
  o.FailuresFailTest = false;  // the test network's CRS is unknown to PROJ
  const TOgrLayer L = ReadOgrLayer(Out("labels") + ".geojson", o);
  EXPECT_EQ(Column(L, "ID_from"), (std::vector<std::string>{"x\"y", "x\"y", "a,b"}));
  EXPECT_EQ(Column(L, "ID_to"), (std::vector<std::string>{"a,b", "Zürich \"Nord\"", "Zürich \"Nord\""}));
  // Without a file name the text stays in memory and lands in GeoJSON.
  c->RMatrixOut("", gfGeoJSON, NL, NL, &SL, &SL, true, false, false, false, true, true);
  const std::string text = c->GeoJSON();
  std::string decoded;
  EXPECT_EQ(RunCommand("jq -r '.features[1].properties.ID_to' '" + Make("text.json", text) + "'", &decoded), 0);
  EXPECT_EQ(decoded, "Zürich \"Nord\"\n");
  // gfArray twice: rows in GISarray, the writer freed each time.
  for (int k = 0; k < 2; ++k) {
    c->RMatrixOut("", gfArray, NL, NL, &SL, nullptr, true, false, false, false, false, true);
    const TGISArray& T = c->GISarray();
    ASSERT_EQ(T.RecCount, 6);
    EXPECT_EQ(std::get<std::string>(T.Rec[0].Attr[0]), "x\"y");
    EXPECT_EQ(std::get<int32_t>(T.Rec[0].Attr[1]), 1);
    EXPECT_EQ(T.Rec[0].Coord.size(), 1u);
    EXPECT_TRUE(T.Rec[4].Coord.empty());  // E -> A: no route
  }
}

// A writer failing on its third row: no file is left, the error comes
// through, the settings are as before and no window stays set.
TEST_F(RMatrixOutTest, FailureMidRunLeavesNothing) {
  nw.SetGISWriterFactory([](TGISFormat) { return std::make_unique<TFailingCSV>(); });
  c->SetHierarchy(true);
  c->SetMatrixBuffer(50);
  TCalcSettings before = c->Settings();
  const Nodes NL({Z, Z2, A});
  EXPECT_EQ(MessageOf([&] { c->RMatrixOut(Out("fail"), gfCSV, NL, NL, nullptr, nullptr, true, true, false, false,
                                          false, false); }),
            "disk full");
  EXPECT_FALSE(std::filesystem::exists(Out("fail") + ".csv"));
  // Falpha and Lmax describe the last search, not a choice of the caller.
  before.Falpha = c->Settings().Falpha;
  before.Lmax = c->Settings().Lmax;
  EXPECT_TRUE(c->Settings() == before);
  EXPECT_EQ(c->IncludeNodes(), nullptr);
  nw.SetGISWriterFactory(nullptr);
}

// Every argument error raises before a writer exists.
TEST_F(RMatrixOutTest, BadArguments) {
  const Nodes NL({A, D}), NL2({A, D});
  const TIntegerList empty;
  const std::vector<std::string> one{"x"};
  struct Row {
    const char* name;
    std::function<void(const std::string&)> run;
    std::string message;
  };
  const Row rows[] = {
      {"empty NL1", [&](auto& f) { c->RMatrixOut(f, gfCSV, empty, NL, nullptr, nullptr, 1, 0, 0, 0, 0, 0); },
       "Nodelist is empty"},
      {"empty NL2", [&](auto& f) { c->RMatrixOut(f, gfCSV, NL, empty, nullptr, nullptr, 1, 0, 0, 0, 0, 0); },
       "Nodelist is empty"},
      {"SL1", [&](auto& f) { c->RMatrixOut(f, gfCSV, NL, NL, &one, nullptr, 1, 0, 0, 0, 0, 0); },
       "NL1 and SL1 need to have same length"},
      {"SL2", [&](auto& f) { c->RMatrixOut(f, gfCSV, NL, NL, nullptr, &one, 1, 0, 0, 0, 0, 0); },
       "NL2 and SL2 need to have same length"},
      {"symmetric", [&](auto& f) { c->RMatrixOut(f, gfCSV, NL, NL2, nullptr, nullptr, 1, 0, 0, 0, 1, 0); },
       "Symmetric is not possible when NL1 and NL2 are different"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const std::string f = Out(r.name);
    EXPECT_EQ(MessageOf([&] { r.run(f); }), r.message);
    EXPECT_FALSE(std::filesystem::exists(f + ".csv"));
  }
  // Columns: a network without cost columns, and time slots that name a
  // column the network no longer has after reopening.
  TNetwork bare;
  bare.SetDirectory(dir.string() + "/");
  bare.Open(true, false, true, 0);
  TRouteCalc b(bare, false);
  EXPECT_EQ(MessageOf([&] { b.RMatrixOut(Out("t"), gfCSV, NL, NL, nullptr, nullptr, 0, 1, 0, 0, 0, 0); }),
            "Time arrays has not been setup");
  EXPECT_EQ(MessageOf([&] { b.RMatrixOut(Out("c"), gfCSV, NL, NL, nullptr, nullptr, 0, 0, 1, 0, 0, 0); }),
            "Cost arrays has not been setup");
  EXPECT_FALSE(std::filesystem::exists(Out("t") + ".csv") || std::filesystem::exists(Out("c") + ".csv"));
}

}  // namespace
