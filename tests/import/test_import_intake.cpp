// The polyline intake shared by the readers, seen through shapefiles made by
// ogr2ogr and the vertex files decoded after the reading stage.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <numbers>
#include <string>
#include <tuple>
#include <vector>

#include "import/kovra_import.h"
#include "import/support/folder_state.h"
#include "import/support/import_fixtures.h"
#include "import/support/network_dir.h"
#include "support/test_files.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

bool SameBits(const std::vector<TFloatPoint>& a, const std::vector<TFloatPoint>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(TFloatPoint)) == 0;
}

std::string Text(const std::vector<TFloatPoint>& line) {
  std::string s;
  for (const TFloatPoint& p : line) s += "(" + JsonNumber(p.x) + "," + JsonNumber(p.y) + ")";
  return s;
}

// What one link should be: its vertices, or the error it was rejected with.
struct TLinkExpect {
  std::vector<TFloatPoint> Vertices;
  TErrorCode Code = ecDeleted;
  int32_t Value = 0;
};
TLinkExpect Line(std::vector<TFloatPoint> v) { return {std::move(v), ecDeleted, 0}; }
TLinkExpect Rejected(TErrorCode code, int32_t value) { return {{}, code, value}; }

void ExpectLinks(const TImport& imp, const TNetworkDir& net, const std::vector<TLinkExpect>& want,
                 const std::string& label) {
  ASSERT_EQ(imp.LinkCount(), int32_t(want.size())) << label;
  ASSERT_EQ(net.LinkCount(), int32_t(want.size())) << label;
  int32_t errors = 0;
  for (int32_t L = 1; L <= imp.LinkCount(); ++L) {
    const TLinkExpect& w = want[size_t(L - 1)];
    if (!w.Vertices.empty()) {
      EXPECT_TRUE(SameBits(net.Polyline(L), w.Vertices))
          << label << " link " << L << ": " << Text(net.Polyline(L)) << " instead of " << Text(w.Vertices);
      continue;
    }
    // A rejected object is an empty link at (0,0) with one error record.
    EXPECT_TRUE(SameBits(net.Polyline(L), {{0, 0}, {0, 0}})) << label << " link " << L;
    ASSERT_LT(errors, imp.ImportErrorList().Count()) << label << " link " << L << " has no error record";
    const TImportError& e = imp.ImportErrorList().GetItem(errors++);
    EXPECT_EQ(e.link, L) << label;
    EXPECT_EQ(e.linklocal, L) << label;
    EXPECT_EQ(e.fileindex, 0) << label;
    EXPECT_EQ(int(e.errorcode), int(w.Code)) << label << " link " << L;
    EXPECT_EQ(e.value, w.Value) << label << " link " << L;
  }
  EXPECT_EQ(errors, imp.ImportErrorList().Count()) << label;
}

class ImportIntake : public TImportTest {};

TEST_F(ImportIntake, LoopsRepeatsAndVertexCounts) {
  const std::vector<TFloatPoint> closed = {{0, 0}, {1, 0}, {1, 1}, {0, 0}};
  std::vector<TFloatPoint> longest, tooLong;
  for (int32_t i = 0; i < 65536; ++i) tooLong.push_back({double(i), double(i % 7)});
  longest.assign(tooLong.begin(), tooLong.end() - 1);
  const std::string shp = Shapefile("lines.shp", {
                                                     {JsonLine(closed), ""},
                                                     {JsonLine({{5, 5}, {5, 5}, {6, 5}}), ""},
                                                     {JsonLine({{5, 5}, {5, 5}}), ""},
                                                     {JsonLine({{2, 0}, {2, 0}, {4, 0}, {4, 2}, {2, 0}, {2, 0}}), ""},
                                                     {JsonLine(longest), ""},
                                                     {JsonLine(tooLong), ""},
                                                 });
  struct TCase {
    bool AllowLoops;
    std::vector<TLinkExpect> Links;
  } cases[] = {
      {false,
       {Rejected(ecLoopLink, 0), Line({{5, 5}, {6, 5}}), Rejected(ecZeroOrOneVertices, 1),
        Rejected(ecLoopLink, 0), Line(longest), Rejected(ecTooManyVertices, 65536)}},
      {true,
       {Line(closed), Line({{5, 5}, {6, 5}}), Rejected(ecZeroOrOneVertices, 1),
        Line({{2, 0}, {4, 0}, {4, 2}, {2, 0}}), Line(longest), Rejected(ecTooManyVertices, 65536)}},
  };
  for (const TCase& c : cases) {
    TReadStageImport imp;
    imp.SetDirectory(fOut);
    imp.SetAllowLoops(c.AllowLoops);
    imp.Add(shp);
    imp.Execute();
    ExpectLinks(imp, ReadNetworkDir(fOut), c.Links, c.AllowLoops ? "loops allowed" : "no loops");
  }
}

TEST_F(ImportIntake, ZLevelsMoveEndsApart) {
  // 0.1 m in metres; level z moves an end z * 20 degrees clockwise from north.
  const double r = 0.1;
  const std::string shp = Shapefile(
      "z.shp", {
                   {JsonLine({{0, 0}, {1, 0}, {1, 1}, {0, 0}}), R"("zf":1,"zt":0)"},
                   {JsonLine({{0, 100}, {100, 100}}), R"("zf":0,"zt":9)"},
                   {JsonLine({{100, 100}, {200, 100}}), R"("zf":-9,"zt":0)"},
                   {JsonLine({{300, 0}, {300, 50}}), R"("zf":5,"zt":4)"},
               });
  TReadStageImport imp;
  imp.SetDirectory(fOut);
  imp.SetZFromField(0);
  imp.SetZToField(1);
  imp.Add(shp);
  imp.Execute();
  ASSERT_EQ(imp.ImportErrorList().Count(), 0) << "a closed line with different end levels is no loop";
  const TNetworkDir net = ReadNetworkDir(fOut);
  ASSERT_EQ(net.LinkCount(), 4);

  struct TEnd {
    int32_t Link;
    bool First;
    TFloatPoint Original;
    double Degrees;  // clockwise from north
    double Distance;
  } ends[] = {
      {1, true, {0, 0}, 20, r},         {1, false, {0, 0}, 0, 0},
      {2, false, {100, 100}, 180, r},   {3, true, {100, 100}, -180, 2 * r},
      {4, true, {300, 0}, 100, r},      {4, false, {300, 50}, 80, r},
  };
  for (const TEnd& e : ends) {
    const auto line = net.Polyline(e.Link);
    const TFloatPoint p = e.First ? line.front() : line.back();
    const double rad = e.Degrees * std::numbers::pi / 180;
    EXPECT_NEAR(p.x - e.Original.x, e.Distance * std::sin(rad), 1e-12) << "link " << e.Link;
    EXPECT_NEAR(p.y - e.Original.y, e.Distance * std::cos(rad), 1e-12) << "link " << e.Link;
  }
  // Levels 9 and -9 at one point stay two ends.
  EXPECT_NE(net.Polyline(2).back(), net.Polyline(3).front());
  // Only the ends move.
  const auto closed = net.Polyline(1);
  EXPECT_TRUE(SameBits(std::vector<TFloatPoint>(closed.begin() + 1, closed.end()), {{1, 0}, {1, 1}, {0, 0}}));
  const TFloatRect& mbr = imp.MBR();
  // The box holds the moved ends.
  EXPECT_NEAR(mbr.ymin, r * std::cos(100 * std::numbers::pi / 180), 1e-15);
  EXPECT_NEAR(mbr.xmax, 300 + r * std::sin(80 * std::numbers::pi / 180), 1e-12);
}

TEST_F(ImportIntake, AngularRangeAndNonFiniteCoordinates) {
  const std::string wgs84 = "-a_srs EPSG:4326";
  const std::string edge =
      Shapefile("edge.shp", {{JsonLine({{180, 90}, {-180, -90}}), ""}, {JsonLine({{179.5, 10}, {180, 10}}), ""}},
                wgs84);
  {
    TReadStageImport imp;
    imp.SetDirectory(fOut);
    imp.Add(edge);
    imp.Execute();
    EXPECT_EQ(imp.CoordinateUnit(), cuDeg);
    ExpectLinks(imp, ReadNetworkDir(fOut), {Line({{180, 90}, {-180, -90}}), Line({{179.5, 10}, {180, 10}})},
                "bounds included");
  }

  // A metre file whose second vertex is patched to NaN and one to infinity.
  const std::string metres = Shapefile("metres.shp", {{JsonLine({{1, 2}, {3, 4}, {5, 6}}), ""}});
  std::string bytes = ReadBytes(metres);
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  // Record 1 starts at 100: 8-byte header, 44 bytes to the part index, 4 bytes of it, then the points.
  const size_t second = 100 + 8 + 44 + 4 + 16;
  std::string withNan = bytes, withInf = bytes;
  std::memcpy(withNan.data() + second, &nan, 8);
  std::memcpy(withInf.data() + second + 8, &inf, 8);
  WriteBytes(In("nan.shp"), withNan);
  WriteBytes(In("inf.shp"), withInf);
  for (const char* f : {"nan", "inf"})
    for (const char* ext : {".shx", ".prj", ".dbf"})
      WriteBytes(In(std::string(f) + ext), ReadBytes(In(std::string("metres") + ext)));

  const struct {
    std::string File;
    TCoordinateUnit Unit;
    std::string Message;
  } bad[] = {
      {Shapefile("beyond.shp", {{JsonLine({{170, 10}, {180.0000001, 10}}), ""}}, wgs84), cuUnknown,
       "Coordinates (180.0000001,10) not valid for chosen coordinate unit"},
      {In("nan.shp"), cuUnknown, "Coordinates (NAN,4) not valid for chosen coordinate unit"},
      {In("inf.shp"), cuFt, "Coordinates (3,INF) not valid for chosen coordinate unit"},
      {In("nan.shp"), cuDeg, "Coordinates (NAN,4) not valid for chosen coordinate unit"},
  };
  const std::string out = fTemp.File("bad");
  std::filesystem::create_directories(out);
  for (const auto& c : bad) {
    TReadStageImport imp;
    imp.SetDirectory(out);
    imp.SetCoordinateUnit(c.Unit);
    imp.Add(c.File);
    EXPECT_EQ(ExecuteError(imp), c.Message);
    EXPECT_TRUE(NoFileOfRunRemains({}, out)) << c.File;
  }
}

TEST_F(ImportIntake, ErrorRecordsCountLinksOverFiles) {
  const std::string first = Shapefile("a.shp", {{JsonLine({{0, 0}, {1, 0}}), ""},
                                                {JsonLine({{1, 0}, {2, 0}}), ""},
                                                {JsonLine({{2, 0}, {3, 0}}), ""}});
  const std::string second = Shapefile("b.shp", {{JsonLine({{0, 5}, {1, 5}}), ""},
                                                 {"null", ""},
                                                 {JsonLine({{2, 5}, {3, 5}}), ""},
                                                 {JsonLine({{4, 4}, {4, 4}}), ""}});
  TReadStageImport imp;
  imp.SetDirectory(fOut);
  imp.AddFiles({first, second});
  imp.Execute();
  const TNetworkDir net = ReadNetworkDir(fOut);
  ASSERT_EQ(imp.LinkCount(), 7);
  // The first object of the second file is link 4.
  EXPECT_TRUE(SameBits(net.Polyline(4), {{0, 5}, {1, 5}}));
  ASSERT_EQ(imp.ImportErrorList().Count(), 2);
  const TImportError& nullShape = imp.ImportErrorList().GetItem(0);
  const TImportError& point = imp.ImportErrorList().GetItem(1);
  EXPECT_EQ(std::tie(nullShape.fileindex, nullShape.linklocal, nullShape.link), std::make_tuple(1, 2, 5));
  EXPECT_EQ(nullShape.errorcode, ecNotGeoCoded);
  EXPECT_EQ(std::tie(point.fileindex, point.linklocal, point.link, point.value), std::make_tuple(1, 4, 7, 1));
  EXPECT_EQ(point.errorcode, ecZeroOrOneVertices);
}

}  // namespace
