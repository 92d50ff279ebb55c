// The location forms of the route matrices, their outputs and the route
// pairs: matrices against the oracle's location trees, rows and parts
// through a recording writer on the network's writer seam, off-road legs,
// the move onto open links, failures mid-run and the argument checks.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "giswriter/recording_writer.h"
#include "network/kovra_network.h"
#include "routing/kovra_calc.h"
#include "routing/matrix_fixture.h"
#include "routing/support/bgl_oracle.h"
#include "routing/support/netgen.h"
#include "support/gdal_readback.h"
#include "support/temp_dir_test.h"
#include "support/test_raises.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

// --- Matrices against the oracle ----------------------------------------------

class RMatrixDynOracleTest : public TTempDirTest {
protected:
  void SetUp() override {
    TNetGenOptions o;
    o.Seed = 91;
    o.Nodes = 900 * RoutingScale();
    gen = GenerateNetwork(o);
    gen.Write(dir.string());
    gen.Open(nw, dir.string());
  }
  TGenNetwork gen;
  TNetwork nw;
};

// Locations on distinct links; the oracle's tree from a location vertex
// and its cost at the other location.
TEST_F(RMatrixDynOracleTest, LocationFormsEqualTheOracle) {
  TLocationList LL, LL2;
  for (int32_t k = 0, l = 5; LL.Count() < 8; l += 173) {
    const int32_t link = 1 + l % nw.LinkCount();
    if (nw.Lengths()[size_t(link)] > 0) LL.Add2(link, 0.1 + 0.1 * (k++ % 9));
  }
  for (int32_t l = 11; LL2.Count() < 4; l += 311) {
    const int32_t link = 1 + l % nw.LinkCount();
    if (nw.Lengths()[size_t(link)] > 0) LL2.Add2(link, 0.35);
  }
  TRouteCalc c(nw, false);
  c.SetAlpha(0);
  c.SetDuplicateLinks(false);
  const TBglOracle oracle(nw, TOracleOptions{});
  auto want = [&](const TLocation& a, const TLocation& b) {
    const float v = oracle.NodeCostToLocation(oracle.NodeTreeFromLocation(a), b);
    return v == cInfinity ? -1.0f : v;
  };
  auto close = [](float got, float w) { return got == w || (w > 0 && std::fabs(got - w) <= 1e-6f * w); };
  const TMatrix M = c.RMatrixDyn(LL, true, false);
  ASSERT_EQ(M.size(), size_t(LL.Count()) + 1);
  int32_t reached = 0;
  for (int32_t i = 0; i < LL.Count(); ++i) {
    EXPECT_EQ(M[size_t(i)][size_t(LL.Count())], 0.0f);
    for (int32_t j = 0; j < LL.Count(); ++j) {
      const float w = i == j ? 0.0f : want(LL.GetItem(i).loc, LL.GetItem(j).loc);
      EXPECT_TRUE(close(M[size_t(i)][size_t(j)], w)) << i << "," << j << ": " << M[size_t(i)][size_t(j)] << " vs " << w;
      reached += w > 0;
    }
  }
  EXPECT_GT(reached, 20);
  const TMatrix S = c.RMatrixDyn(LL, false, true);
  for (int32_t i = 0; i < LL.Count(); ++i)
    for (int32_t j = 0; j < LL.Count(); ++j) {
      EXPECT_EQ(S[size_t(i)][size_t(j)], S[size_t(j)][size_t(i)]);
      if (i < j) {
        EXPECT_EQ(S[size_t(i)][size_t(j)], M[size_t(i)][size_t(j)]);
      }
    }
  const TMatrix M2 = c.RMatrixDyn2(LL, LL2);
  for (int32_t i = 0; i < LL.Count(); ++i)
    for (int32_t j = 0; j < LL2.Count(); ++j)
      EXPECT_TRUE(close(M2[size_t(i)][size_t(j)], want(LL.GetItem(i).loc, LL2.GetItem(j).loc))) << i << "," << j;
}

// --- Hand-made network ----------------------------------------------------------

// Records the parts each record declares, besides what TRecordingWriter logs.
class TPartsWriter : public TRecordingWriter {
public:
  explicit TPartsWriter(std::vector<std::string>* Rows) : fRows(Rows) {}
  void AddObject(int32_t NumParts, bool multiPolygon, const std::string& Attrib) override {
    fRows->push_back(IntToStr(NumParts) + " " + Attrib);
    TRecordingWriter::AddObject(NumParts, multiPolygon, Attrib);
  }

private:
  std::vector<std::string>* fRows;
};

class LocationOutTest : public MatrixFixture {
protected:
  void SetUp() override {
    MatrixFixture::SetUp();
    nw.CreateArrayCost(1);
    c = std::make_unique<TRouteCalc>(nw, false);
  }
  // Rows as "parts attrib" through the recording writer.
  void Record() {
    rows.clear();
    nw.SetGISWriterFactory([this](TGISFormat) { return std::make_unique<TPartsWriter>(&rows); });
  }
  std::vector<TLocation> Locs(const TLocationList& LL) const {
    std::vector<TLocation> v;
    for (int32_t i = 0; i < LL.Count(); ++i) v.push_back(LL.GetItem(i).loc);
    return v;
  }
  static bool Same(const std::vector<TLocation>& a, const std::vector<TLocation>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
      if (a[i].link != b[i].link || a[i].percent != b[i].percent) return false;
    return true;
  }
  std::unique_ptr<TRouteCalc> c;
  std::vector<std::string> rows;
};

TEST_F(LocationOutTest, RMatrixDyn) {
  TLocationList LL;
  LL.Add2(1, 0.5);  // (0.5, 0)
  LL.Add2(8, 0.5);  // (3.5, 0) on the one-way D -> E
  LL.Add2(1, 0.5);  // the same place again
  EXPECT_EQ(c->RMatrixDyn(LL, false, false), (TMatrix{{0, 3, 0}, {-1, 0, -1}, {0, 3, 0}}));
  // The symmetric form copies the first-to-second cost both ways, also
  // where the way back has no route.
  EXPECT_EQ(c->RMatrixDyn(LL, true, true), (TMatrix{{0, 3, 0, 0}, {3, 0, -1, 0}, {0, -1, 0, 0}, {0, 0, 0, 0}}));
}

// Off-road legs at 30 km/h: points 1 km and 0.5 km off the network gain
// 1.5 km and 3 minutes, in three parts; the snapped locations go back into
// the caller's list. The pair of the same point has no legs and is 0.
TEST_F(LocationOutTest, RMatrixPOutLegs) {
  TLocationList LL;
  LL.Add5(0.5, 1);
  LL.Add5(2.5, -0.5);
  Record();
  c->RMatrixPOut("x", gfMIF, LL, LL, nullptr, nullptr, true, true, true, true, false, true, false, 30, false);
  EXPECT_EQ(rows, (std::vector<std::string>{"3 0,1,3.5,5,2,2", "3 1,0,3.5,5,2,2"}));
  EXPECT_EQ(LL.GetItem(0).loc.link, 1);
  EXPECT_EQ(LL.GetItem(1).loc.link, 3);
  EXPECT_EQ(c->fDist1, nullptr);  // the work fields are cleared
  // Speed 0: snapped, no legs, one part.
  Record();
  c->RMatrixPOut("x", gfMIF, LL, LL, nullptr, nullptr, true, true, false, false, true, true, false, 0, false);
  EXPECT_EQ(rows, (std::vector<std::string>{"1 0,1,2,2"}));
  // MaxCost under rcDist counts the legs too: 3.5 > 3 drops the pair.
  c->SetMaxCost(3);
  Record();
  c->RMatrixPOut("x", gfMIF, LL, LL, nullptr, nullptr, true, false, false, false, true, true, false, 30, false);
  EXPECT_TRUE(rows.empty());
  c->SetMaxCost(0);
  // Two lists, labels always quoted in the location rows; a pair of the
  // same point is 0 without legs or line.
  TLocationList LL2;
  LL2.Add5(2.5, -0.5);
  LL2.Add5(0.5, 1);
  const std::vector<std::string> SL1{"7", "8"}, SL2{"a\"b", "x"};
  Record();
  c->RMatrixPOut("x", gfMIF, LL, LL2, &SL1, &SL2, true, false, false, false, false, true, false, 30, false);
  EXPECT_EQ(rows, (std::vector<std::string>{"3 \"7\",\"a\"\"b\",3.5", "0 \"7\",\"x\",0", "0 \"8\",\"a\"\"b\",0",
                                             "3 \"8\",\"x\",3.5"}));
  nw.SetGISWriterFactory(nullptr);
}

// nearestOpen moves the location on the closed link 9 onto an open link at
// D and writes it back; the isolated open link 7 keeps its location.
TEST_F(LocationOutTest, RMatrixDynOutNearestOpen) {
  TLocationList LL;
  LL.Add2(9, 0.5);
  LL.Add2(7, 0.25);
  LL.Add2(1, 0);
  Record();
  c->RMatrixDynOut("x", gfMIF, LL, LL, nullptr, nullptr, true, false, false, false, false, false, true);
  const TLocation moved = LL.GetItem(0).loc;
  EXPECT_TRUE(moved.link == 3 || moved.link == 8);
  EXPECT_EQ(nw.Location2Coordinate(moved, 0).x, 3.0);
  EXPECT_TRUE(Same(Locs(LL), {moved, {7, 0.25}, {1, 0}}));
  EXPECT_EQ(rows, (std::vector<std::string>{"0 0,1,-1", "0 0,2,3", "0 1,0,-1", "0 1,2,-1", "0 2,0,3", "0 2,1,-1"}));
  EXPECT_FALSE(c->SmartInit());
  nw.SetGISWriterFactory(nullptr);
}

// Integer labels: an integer "ID_from" column, written quoted in the
// location rows; the layer reads back with the labels as numbers.
TEST_F(LocationOutTest, RMatrixDynOutReadBack) {
  TLocationList LL;
  LL.Add2(1, 0.5);
  LL.Add2(3, 0.5);
  const std::vector<std::string> SL{"10", "20"};
  c->SetDistanceUnit(duMiles);
  c->RMatrixDynOut(Out("dyn"), gfSHP, LL, LL, &SL, nullptr, true, true, false, true, true, true, false);
  const TOgrLayer L = ReadOgrLayer(Out("dyn") + ".shp");
  ASSERT_EQ(L.FeatureCount, 1);
  EXPECT_EQ(L.Fields[0].Name, "ID_from");
  EXPECT_EQ(L.Fields[0].Type, "Integer64");
  EXPECT_EQ(L.Value(0, "ID_from"), "10");
  EXPECT_EQ(L.Value(0, "ID_to"), "1");
  EXPECT_NEAR(std::stod(L.Value(0, "Distance")), 2 / 1.609344, 1e-6);
  EXPECT_NEAR(std::stod(L.Value(0, "DirectDist")), 2 / 1.609344, 1e-6);
  EXPECT_EQ(L.Features[0].Wkt, "LINESTRING (0.5 0,1 0,2 0,2.5 0)");
}

TEST_F(LocationOutTest, RoutePairsLayout) {
  TLocationList LL1, LL2;
  LL1.Add2(1, 0.5), LL1.Add2(1, 0.5), LL1.Add2(8, 0.5);
  LL2.Add2(3, 0.5), LL2.Add2(1, 0.5), LL2.Add2(1, 0.5);
  const std::vector<std::string> SL1{"a", "b", "c"};
  c->SetDistanceUnit(duMiles);
  c->SetDecimalsDist(3);
  c->RoutePairs(Out("p1"), gfSHP, LL1, LL2, nullptr, nullptr, true, true, true, false, true, false);
  TOgrLayer L = ReadOgrLayer(Out("p1") + ".shp");
  ASSERT_EQ(L.Fields.size(), 4u);
  EXPECT_EQ(L.Fields[0].Name, "ID");
  ASSERT_EQ(L.FeatureCount, 3);
  // A trip, the same place (0, no line), no route (-1 also in miles, no line).
  EXPECT_EQ(L.Value(0, "ID"), "0");
  EXPECT_NEAR(std::stod(L.Value(0, "Distance")), 1.243, 1e-9);
  EXPECT_EQ(L.Features[0].Wkt, "LINESTRING (0.5 0,1 0,2 0,2.5 0)");
  EXPECT_EQ(std::stod(L.Value(1, "Distance")), 0);
  EXPECT_EQ(L.Features[1].Wkt, "");
  for (const char* f : {"Distance", "Time", "Cost"}) EXPECT_EQ(std::stod(L.Value(2, f)), -1) << f;
  EXPECT_EQ(L.Features[2].Wkt, "");
  // Only SL1: "ID_from" from the labels, "ID_to" the positions; TimeAsText
  // alone when time is not asked.
  c->SetTimeFormatAsString(true);
  c->RoutePairs(Out("p2"), gfCSV, LL1, LL2, &SL1, nullptr, false, false, false, false, true, false);
  L = ReadOgrLayer(Out("p2") + ".csv");
  std::vector<std::string> names;
  for (const TOgrField& f : L.Fields) names.push_back(f.Name);
  EXPECT_EQ(names, (std::vector<std::string>{"ID_from", "ID_to", "TimeAsText"}));
  EXPECT_EQ(L.Value(0, "ID_from"), "a");
  EXPECT_EQ(L.Value(2, "ID_to"), "2");
  EXPECT_EQ(L.Value(0, "TimeAsText"), "2m 00s");
  EXPECT_EQ(L.Value(2, "TimeAsText"), "-1");
}

// Legs at 60 km/h with points 0.5 km off at both ends: + 1 km and + 1
// minute in three parts. The second trip ends on the closed link 9: no
// route, until nearestopen moves that end onto an open link, which drops
// the legs (one part). The caller's lists never change.
TEST_F(LocationOutTest, RoutePairsPLegs) {
  TLocationList LL1, LL2;
  LL1.Add4({2, 0.5}, {0.5, 0.5});
  LL2.Add4({2, 0.5}, {2.5, -0.5});
  LL1.Add4({2, 0.5}, {0.5, 0.5});
  LL2.Add4({2, 0.5}, {3.5, 1});  // next to the closed link 9
  const std::vector<TLocation> before1 = Locs(LL1), before2 = Locs(LL2);
  Record();
  c->RoutePairsP("x", gfMIF, LL1, LL2, nullptr, nullptr, true, true, false, true, true, false, 60);
  EXPECT_EQ(rows, (std::vector<std::string>{"3 0,3,3,2.23606797749979", "0 1,-1,-1,3.04138126514911"}));
  Record();
  c->RoutePairsP("x", gfMIF, LL1, LL2, nullptr, nullptr, true, true, false, false, true, true, 60);
  EXPECT_EQ(rows, (std::vector<std::string>{"3 0,3,3", "1 1,2.5,2.5"}));
  EXPECT_TRUE(Same(Locs(LL1), before1) && Same(Locs(LL2), before2));
  nw.SetGISWriterFactory(nullptr);
}

// A writer failing on its third row: no file, settings, work fields and
// the caller's lists as they were.
TEST_F(LocationOutTest, FailureMidRun) {
  nw.SetGISWriterFactory([](TGISFormat) {
    struct TFailing : TRecordingWriter {
      int n = 0;
      void AddObject(int32_t NumParts, bool multiPolygon, const std::string& Attrib) override {
        if (++n == 3) throw Exception("disk full");
        TRecordingWriter::AddObject(NumParts, multiPolygon, Attrib);
      }
    };
    return std::make_unique<TFailing>();
  });
  TLocationList LL;
  LL.Add4({2, 0.1}, {0.5, 1});
  LL.Add4({2, 0.2}, {2.5, -0.5});
  LL.Add4({2, 0.3}, {3.5, 1});
  const std::vector<TLocation> before = Locs(LL);
  c->SetHierarchy(true);
  TCalcSettings settings = c->Settings();
  for (const bool points : {false, true}) {
    SCOPED_TRACE(points);
    EXPECT_EQ(MessageOf([&] {
                if (points)
                  c->RMatrixPOut("x", gfMIF, LL, LL, nullptr, nullptr, true, true, 0, 0, 0, 1, true, 30, false);
                else
                  c->RMatrixDynOut("x", gfMIF, LL, LL, nullptr, nullptr, true, true, 0, 0, 0, 1, true);
              }),
              "disk full");
    EXPECT_TRUE(Same(Locs(LL), before));
    settings.Falpha = c->Settings().Falpha;
    settings.Lmax = c->Settings().Lmax;
    EXPECT_TRUE(c->Settings() == settings);
    EXPECT_FALSE(c->fDist1 || c->fDist2);
    EXPECT_EQ(c->foffroadspeed, 0.0f);
    EXPECT_EQ(c->IncludeNodes(), nullptr);
  }
  nw.SetGISWriterFactory(nullptr);
}

// Every argument message of the location outputs and the pairs, raised
// before a writer exists and before a list changes.
TEST_F(LocationOutTest, BadArguments) {
  TNetwork bare;  // no spatial index, no columns
  bare.SetDirectory(dir.string() + "/");
  bare.Open(true, false, false, 0);
  TRouteCalc b(bare, false);
  TLocationList LL, LL2, LL3, empty, badLink, badPoint;
  LL.Add4({2, 0.5}, {0.5, 1}), LL.Add4({3, 0.5}, {2.5, 1});
  LL2.Add4({2, 0.5}, {0.5, 1}), LL2.Add4({3, 0.5}, {2.5, 1});
  LL3.Add4({2, 0.5}, {0.5, 1});
  badLink.Add4({99, 0.5}, {0.5, 1});
  badPoint.Add4({2, 0.5}, {std::numeric_limits<double>::quiet_NaN(), 1});
  const std::vector<std::string> one{"x"};
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::string links = std::to_string(nw.LinkCount());
  struct Row {
    const char* name;
    std::function<void()> run;
    std::string message;
  };
  TRouteCalc& k = *c;
  const std::string f = Out("f");
  const Row rows[] = {
      {"dyn empty", [&] { k.RMatrixDynOut(f, gfCSV, empty, LL, 0, 0, 1, 0, 0, 0, 0, 0, 1); }, "Locationlist is empty"},
      {"dyn link", [&] { k.RMatrixDynOut(f, gfCSV, LL, badLink, 0, 0, 1, 0, 0, 0, 0, 0, 1); },
       "Location (link) at index 0 in list, 99, must be between 1 and " + links},
      {"dyn SL1", [&] { k.RMatrixDynOut(f, gfCSV, LL, LL, &one, 0, 1, 0, 0, 0, 0, 0, 1); },
       "LL1 and SL1 need to have same length"},
      {"dyn SL2 bad", [&] { k.RMatrixDynOut(f, gfCSV, LL, LL2, 0, &one, 1, 0, 0, 0, 0, 0, 1); },
       "LL2 and SL2 need to have same length"},
      {"dyn symmetric", [&] { k.RMatrixDynOut(f, gfCSV, LL, LL2, 0, 0, 1, 0, 0, 0, 1, 0, 1); },
       "Symmetric is not possible when LL1 and LL2 are different"},
      {"dyn time", [&] { b.RMatrixDynOut(f, gfCSV, LL, LL, 0, 0, 0, 1, 0, 0, 0, 0, 1); },
       "Time arrays has not been setup"},
      {"dyn cost", [&] { b.RMatrixDynOut(f, gfCSV, LL, LL, 0, 0, 0, 0, 1, 0, 0, 0, 1); },
       "Cost arrays has not been setup"},
      {"P point", [&] { k.RMatrixPOut(f, gfCSV, LL, badPoint, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0); }, "?"},
      {"P negative", [&] { k.RMatrixPOut(f, gfCSV, LL, LL, 0, 0, 1, 0, 0, 0, 0, 0, 1, -1, 0); },
       "Offroadspeed must be >= 0"},
      {"P NaN", [&] { k.RMatrixPOut(f, gfCSV, LL, LL, 0, 0, 1, 0, 0, 0, 0, 0, 1, nan, 0); },
       "Offroadspeed must be >= 0"},
      {"P symmetric", [&] { k.RMatrixPOut(f, gfCSV, LL, LL2, 0, 0, 1, 0, 0, 0, 1, 0, 1, 0, 0); },
       "Symmetric is not possible when LL1 and LL2 are different"},
      {"P index", [&] { b.RMatrixPOut(f, gfCSV, LL, LL, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0); },
       "Spatial index need to be open"},
      {"P skip all", [&] { k.RMatrixPOut(f, gfCSV, LL, LL2, 0, 0, 1, 0, 0, 0, 0, 0, 0, 30, 1); }, "?"},
      {"pairs counts", [&] { k.RoutePairs(f, gfCSV, LL, LL3, 0, 0, 1, 0, 0, 0, 0, 0); },
       "LL1 and LL2 need to have same length"},
      {"pairs SL1", [&] { k.RoutePairs(f, gfCSV, LL, LL2, &one, 0, 1, 0, 0, 0, 0, 0); },
       "LL1 and SL1 need to have same length"},
      {"pairs SL2", [&] { k.RoutePairs(f, gfCSV, LL, LL2, 0, &one, 1, 0, 0, 0, 0, 0); },
       "LL2 and SL2 need to have same length"},
      {"pairs empty", [&] { k.RoutePairs(f, gfCSV, LL, empty, 0, 0, 1, 0, 0, 0, 0, 0); }, "Locationlist is empty"},
      {"pairs time", [&] { b.RoutePairs(f, gfCSV, LL, LL2, 0, 0, 0, 1, 0, 0, 0, 0); },
       "Time arrays has not been setup"},
      {"pairsP negative", [&] { k.RoutePairsP(f, gfCSV, LL, LL2, 0, 0, 1, 0, 0, 0, 0, 0, -5); },
       "Offroadspeed must be >= 0"},
      {"pairsP NaN", [&] { k.RoutePairsP(f, gfCSV, LL, LL2, 0, 0, 1, 0, 0, 0, 0, 0, nan); },
       "Offroadspeed must be >= 0"},
      {"pairsP point", [&] { k.RoutePairsP(f, gfCSV, LL, badPoint, 0, 0, 1, 0, 0, 0, 0, 0, 0); }, "?"},
      {"pairsP index", [&] { b.RoutePairsP(f, gfCSV, LL, LL2, 0, 0, 1, 0, 0, 0, 0, 0, 0); },
       "Spatial index need to be open"},
  };
  for (int32_t l = 1; l <= nw.LinkCount(); ++l) nw.AttributeSetBit(l, 15, true);
  const std::vector<TLocation> before = Locs(LL), before2 = Locs(LL2);
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::string got;
    try {
      r.run();
    } catch (const Exception& e) {
      got = e.Message();
    }
    if (r.message == "?") EXPECT_NE(got, "");  // the coordinate and search errors of their own Parts
    else EXPECT_EQ(got, r.message);
    EXPECT_FALSE(std::filesystem::exists(f + ".csv"));
    EXPECT_TRUE(Same(Locs(LL), before) && Same(Locs(LL2), before2));
  }
}

}  // namespace
