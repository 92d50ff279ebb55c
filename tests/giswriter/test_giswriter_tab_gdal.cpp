// The MITAB writer end to end through libmitab64.so (GDAL's MapInfo driver),
// read back by GDAL: this checks our mapping of types, values, geometry,
// styles, charsets and coordinate systems, not the TAB format itself.
#include <gtest/gtest.h>

#include <gdal.h>
#include <ogr_api.h>
#include <cpl_conv.h>
#include <ogr_srs_api.h>

#include <cmath>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "foundation/kovra_charset.h"
#include "giswriter/kovra_giswriter.h"
#include "platform/kovra_codepage.h"
#include "giswriter/kovra_giswriter_tab.h"
#include "giswriter/mitab.h"
#include "support/gdal_readback.h"
#include "support/test_files.h"
#include "support/test_raises.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

class MITABThroughGDAL : public ::testing::Test {
protected:
  void SetUp() override {
    if (!MITABLoaded()) GTEST_SKIP() << "libmitab64.so not loaded (status " << MITABStatus() << ")";
  }
  std::unique_ptr<TGISWriter> Make(const std::string& name) {
    std::unique_ptr<TGISWriter> w = TGISWriter::GetGISObject(gfMITAB);
    EXPECT_NE(dynamic_cast<TGISWriterMITAB*>(w.get()), nullptr);
    w->FileName = dir.File(name);
    return w;
  }
  TOgrLayer Read(const std::string& name, bool failuresFail = true) {
    TOgrReadOptions o;
    o.AllowedDrivers = {"MapInfo File"};
    o.FailuresFailTest = failuresFail;
    return ReadOgrLayer(dir.File(name + ".tab"), o);
  }
  TTempDir dir{"kovra_mitab"};
};

// Points of every geometry of the layer, through OGR directly (the TAB grid
// rounds coordinates, so they are compared with a tolerance).
std::vector<std::vector<std::pair<double, double>>> Points(const std::string& tab) {
  std::vector<std::vector<std::pair<double, double>>> r;
  GDALDatasetH ds = GDALOpenEx(tab.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, nullptr, nullptr);
  if (!ds) return r;
  OGRLayerH l = GDALDatasetGetLayer(ds, 0);
  OGR_L_ResetReading(l);
  while (OGRFeatureH f = OGR_L_GetNextFeature(l)) {
    std::vector<std::pair<double, double>> pts;
    std::function<void(OGRGeometryH)> walk = [&](OGRGeometryH g) {
      const int n = OGR_G_GetGeometryCount(g);
      if (n > 0) {
        for (int i = 0; i < n; ++i) walk(OGR_G_GetGeometryRef(g, i));
        return;
      }
      for (int i = 0; i < OGR_G_GetPointCount(g); ++i) pts.emplace_back(OGR_G_GetX(g, i), OGR_G_GetY(g, i));
    };
    if (OGRGeometryH g = OGR_F_GetGeometryRef(f)) walk(g);
    r.push_back(pts);
    OGR_F_Destroy(f);
  }
  GDALClose(ds);
  return r;
}

void ExpectNear(const std::vector<std::pair<double, double>>& got, const std::vector<std::pair<double, double>>& want,
                double tol) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_NEAR(got[i].first, want[i].first, tol) << i;
    EXPECT_NEAR(got[i].second, want[i].second, tol) << i;
  }
}

bool Has(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

TEST_F(MITABThroughGDAL, EveryFieldTypeAndValue) {
  auto w = Make("fields");
  w->SetCodepage(1252);
  w->StartHeader(9, otPoint);
  w->AddField("name", gfChar, 255, 0);
  w->AddField("i", gfInteger, 0, 0);
  w->AddField("s", gfSmallInt, 0, 0);
  w->AddField("d", gfDecimal, 8, 2);
  w->AddField("f", gfFloat, 0, 0);
  w->AddField("day", gfDate, 0, 0);
  w->AddField("ok", gfLogical, 0, 0);
  w->AddField("t", gfTime, 0, 0);
  w->AddField("dt", gfDateTime, 0, 0);
  w->Symbol = TMISymbol{34, 0x0000FF, 9};
  w->AddPoint(10.123456789, 50.5, "\"a, b\" 12 -3 3.14 2.5e-3 20210322 y 123456789 20210322123456789");
  w->Symbol = DefaultSymbol;
  w->AddPoint(-179.5, -89.25, "\"\" -2147483648 32767 -0.5 1e300 19991231 0 000000000 00010101000000000");
  w->Close();
  TOgrLayer l = Read("fields");
  const char* types[] = {"String", "Integer", "Integer", "Real", "Real", "Date", "String", "Time", "DateTime"};
  ASSERT_EQ(l.Fields.size(), 9u);
  for (size_t i = 0; i < 9; ++i) EXPECT_EQ(l.Fields[i].Type, types[i]) << l.Fields[i].Name;
  EXPECT_EQ(l.Fields[0].Width, 254);
  EXPECT_EQ(l.Fields[3].Width, 8);
  EXPECT_EQ(l.Fields[3].Precision, 2);
  EXPECT_EQ(l.Fields[6].Width, 1);
  ASSERT_EQ(l.Features.size(), 2u);
  const std::vector<std::string> v0 = {"a, b", "12", "-3", "3.14", "0.0025", "2021/03/22", "T", "12:34:56.789",
                                       "2021/03/22 12:34:56.789"};
  EXPECT_EQ(l.Features[0].Values, v0);
  const std::vector<std::string> v1 = {"", "-2147483648", "32767", "-0.50", "1e+300", "1999/12/31", "F",
                                       "00:00:00", "0001/01/01 00:00:00"};
  EXPECT_EQ(l.Features[1].Values, v1);
  // Geometry on the TAB grid: 1e-6 degrees by default.
  const auto pts = Points(dir.File("fields.tab"));
  ASSERT_EQ(pts.size(), 2u);
  ExpectNear(pts[0], {{10.123456789, 50.5}}, 1e-6);
  ExpectNear(pts[1], {{-179.5, -89.25}}, 1e-6);
  EXPECT_TRUE(Has(l.Features[0].Style, "mapinfo-sym-34")) << l.Features[0].Style;
  EXPECT_TRUE(Has(l.Features[0].Style, "c:#ff0000")) << l.Features[0].Style;
  EXPECT_TRUE(Has(l.Features[0].Style, "s:9pt")) << l.Features[0].Style;
  EXPECT_TRUE(Has(l.Features[1].Style, "mapinfo-sym-33")) << l.Features[1].Style;
  EXPECT_EQ(l.Epsg, 4326);
}

TEST_F(MITABThroughGDAL, PolylinesRegionsAndStyles) {
  {
    auto w = Make("lines");
    w->StartHeader(1, otPline);
    w->AddField("id", gfInteger, 0, 0);
    w->Pen = TMIPen{3, 5, 0x0000FF};
    w->AddLine(1, 2, 3, 4, "1");
    w->Pen = TMIPen{9, 2, 0};  // no MapInfo pen: the library's own
    w->AddObject(2, false, "2");
    w->AddSection2(0, 0, 0, 1, 1);
    w->AddSection2(1, 5, 5, 6, 7.25);
    w->AddObject(0, false, "3");  // a record without geometry
    w->Close();
    TOgrLayer l = Read("lines");
    ASSERT_EQ(l.Features.size(), 3u);
    EXPECT_TRUE(l.Features[0].Wkt.starts_with("LINESTRING")) << l.Features[0].Wkt;
    EXPECT_TRUE(l.Features[1].Wkt.starts_with("MULTILINESTRING")) << l.Features[1].Wkt;
    EXPECT_EQ(l.Features[2].Wkt, "");
    EXPECT_TRUE(Has(l.Features[0].Style, "mapinfo-pen-5")) << l.Features[0].Style;
    EXPECT_TRUE(Has(l.Features[0].Style, "w:3px")) << l.Features[0].Style;
    EXPECT_TRUE(Has(l.Features[0].Style, "c:#ff0000")) << l.Features[0].Style;
    EXPECT_TRUE(Has(l.Features[1].Style, "mapinfo-pen-2")) << l.Features[1].Style;
    const auto pts = Points(dir.File("lines.tab"));
    ExpectNear(pts[0], {{1, 2}, {3, 4}}, 1e-6);
    ExpectNear(pts[1], {{0, 0}, {1, 1}, {5, 5}, {6, 7.25}}, 1e-6);
    EXPECT_EQ(l.Value(2, "id"), "3");
  }
  {
    auto w = Make("regions");
    w->StartHeader(1, otRegion);
    w->AddField("id", gfInteger, 0, 0);
    w->Brush = TMIBrush{5, 0x00FF00, 0xFF0000};
    TFloatPointArrayEx outer, hole, other;
    outer.Pnt = {{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}};
    outer.Count = 5;
    hole.Pnt = {{2, 2}, {2, 4}, {4, 4}, {4, 2}, {2, 2}};
    hole.Count = 5;
    other.Pnt = {{20, 20}, {30, 20}, {30, 30}, {20, 20}};
    other.Count = 4;
    w->AddObject(2, false, "1");  // one polygon with a hole
    w->AddSection(0, outer);
    w->AddSection(1, hole);
    w->AddObject(3, true, "2");  // two polygons, the first with a hole
    w->AddSection(0, outer);
    w->AddSection(1, hole);
    w->AddSection(-1, other);
    w->Close();
    TOgrLayer l = Read("regions");
    ASSERT_EQ(l.Features.size(), 2u);
    EXPECT_TRUE(l.Features[0].Wkt.starts_with("POLYGON ((")) << l.Features[0].Wkt;
    EXPECT_EQ(std::count(l.Features[0].Wkt.begin(), l.Features[0].Wkt.end(), '('), 3);  // two rings
    EXPECT_TRUE(l.Features[1].Wkt.starts_with("MULTIPOLYGON")) << l.Features[1].Wkt;
    EXPECT_TRUE(Has(l.Features[0].Style, "mapinfo-brush-5")) << l.Features[0].Style;
    EXPECT_TRUE(Has(l.Features[0].Style, "fc:#00ff00")) << l.Features[0].Style;
    // The background is transparent: no background colour.
    EXPECT_FALSE(Has(l.Features[0].Style, "bc:")) << l.Features[0].Style;
    EXPECT_EQ(Points(dir.File("regions.tab"))[1].size(), 14u);
  }
}

TEST_F(MITABThroughGDAL, TableWithoutGeometry) {
  auto w = Make("none");
  w->StartHeader(2, otNone);
  w->AddField("a", gfInteger, 0, 0);
  w->AddField("b", gfChar, 10, 0);
  w->AddObject(0, false, "1 x");
  w->AddObject(0, false, "2 y");
  w->Close();
  EXPECT_FALSE(std::filesystem::exists(dir.File("none.map")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("none.id")));
  TOgrLayer l = Read("none");
  ASSERT_EQ(l.Features.size(), 2u);
  EXPECT_EQ(l.Value(1, "b"), "y");
  w->Drop();
  for (const char* e : {".tab", ".map", ".id", ".dat"})
    EXPECT_FALSE(std::filesystem::exists(dir.File(std::string("none") + e))) << e;
}

TEST_F(MITABThroughGDAL, CharsetLabels) {
  struct Case {
    uint16_t codepage;
    std::string text;
  };
  for (const Case& c : {Case{1252, "Grüße"}, Case{874, "สวัสดี"}}) {
    SCOPED_TRACE(c.codepage);
    const std::string name = "cs" + std::to_string(c.codepage);
    auto w = Make(name);
    w->SetCodepage(c.codepage);
    w->StartHeader(1, otPoint);
    w->AddField("name", gfChar, 20, 0);
    w->AddPoint(1, 1, "\"" + c.text + "\"");
    w->Close();
    const std::string label = CharSetList().CodePage2Charset(c.codepage);
    const std::string tab = ReadBytes(dir.File(name + ".tab"));
    EXPECT_TRUE(Has(tab, "!charset " + label)) << tab;
    EXPECT_TRUE(Has(tab, "Charset \"" + label + "\"")) << tab;
    // The .dat holds the code-page bytes, which GDAL decodes by the label.
    EXPECT_TRUE(Has(ReadBytes(dir.File(name + ".dat")), StringToCodePage(c.text, c.codepage)));
    // GDAL decodes the labels it knows (not WindowsThai): compare the bytes.
    TOgrLayer l = Read(name);
    ASSERT_EQ(l.Features.size(), 1u);
    const std::string got = l.Value(0, "name");
    EXPECT_TRUE(got == c.text || CodePageToString(got, c.codepage) == c.text) << got;
  }
}

TEST_F(MITABThroughGDAL, DoubleByteTextIsCutToWholeCharacters) {
  // "a" and three characters of two bytes each: a Char(6) field holds "a"
  // and two of them; the library alone would keep half of the third.
  const struct {
    uint16_t codepage;
    std::string text, kept;
  } cases[] = {{932, "a日本語", "a日本"}, {936, "a中文字", "a中文"}, {949, "a한국어", "a한국"}, {950, "a中文字", "a中文"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.codepage);
    const std::string name = "dbcs" + std::to_string(c.codepage);
    auto w = Make(name);
    w->SetCodepage(c.codepage);
    w->StartHeader(2, otPoint);
    w->AddField("name", gfChar, 6, 0);
    w->AddField("next", gfChar, 3, 0);
    w->AddPoint(1, 1, c.text + ",z");
    w->Close();
    const std::string dat = ReadBytes(dir.File(name + ".dat"));
    // The kept bytes and the library's zero padding, then the next field.
    EXPECT_TRUE(Has(dat, StringToCodePage(c.kept, c.codepage) + std::string(1, '\0') + "z")) << name;
    TOgrLayer l = Read(name);
    ASSERT_EQ(l.Features.size(), 1u);
    const std::string got = l.Value(0, "name");
    EXPECT_TRUE(got == c.kept || CodePageToString(got, c.codepage) == c.kept) << got;
    EXPECT_EQ(l.Value(0, "next"), "z");
  }
}

TEST_F(MITABThroughGDAL, BritishNationalGridKeepsDatum79AndBounds) {
  auto w = Make("bng");
  w->CoordSys = cCoordSysBNG;
  w->epsg = cEpsgBNG;
  w->StartHeader(1, otPoint);
  w->AddField("id", gfInteger, 0, 0);
  w->AddPoint(530000.25, 180000.75, "1");
  w->Close();
  // Datum 79 (OSGB 1936 on the Airy spheroid) is in the table; a plain
  // CoordSys import would have written datum 104 (WGS 84).
  TOgrLayer l = Read("bng");
  EXPECT_TRUE(Has(l.SrsWkt, "Ordnance_Survey_of_Great_Britain_1936")) << l.SrsWkt;
  EXPECT_TRUE(Has(l.SrsWkt, "6377563.396")) << l.SrsWkt;
  EXPECT_TRUE(Has(l.SrsWkt, "PARAMETER[\"scale_factor\",0.9996012717]")) << l.SrsWkt;
  ExpectNear(Points(dir.File("bng.tab"))[0], {{530000.25, 180000.75}}, 0.01);
}

TEST_F(MITABThroughGDAL, PointOutsideTheBoundsRaisesAtClose) {
  auto w = Make("outside");
  w->CoordSys = cCoordSysBNG;
  w->StartHeader(1, otPoint);
  w->AddField("id", gfInteger, 0, 0);
  w->AddPoint(5000000, 100, "1");
  try {
    w->Close();
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(std::string(e.what()), "TAB output \"" + dir.File("outside.tab") +
                                         "\": coordinates outside the table bounds (0, -100000) (2000000, 1900000)");
  }
  EXPECT_TRUE(std::filesystem::exists(dir.File("outside.tab")));
  EXPECT_TRUE(std::filesystem::exists(dir.File("outside.map")));
}

TEST_F(MITABThroughGDAL, RefusedTableAndValues) {
  {
    auto w = Make("nofolder/t");
    try {
      w->StartHeader(1, otPoint);
      FAIL();
    } catch (const Exception& e) {
      EXPECT_TRUE(std::string(e.what()).starts_with("MITAB: cannot create table \"" + dir.File("nofolder/t.tab") +
                                                    "\": "))
          << e.what();
    }
  }
  {
    auto w = Make("badcs");
    w->CoordSys = "CoordSys Earth Projection 1, 9999";
    EXPECT_THROW(w->StartHeader(1, otPoint), Exception);
  }
  auto w = Make("badvalue");
  w->StartHeader(2, otPoint);
  w->AddField("i", gfInteger, 0, 0);
  w->AddField("day", gfDate, 0, 0);
  for (const char* bad : {"x 20210101", "1 2021011", "1 20211301", "99999999999 20210101"}) {
    try {
      w->AddPoint(1, 1, bad);
      ADD_FAILURE() << bad;
    } catch (const Exception& e) {
      EXPECT_TRUE(std::string(e.what()).starts_with("MITAB: invalid ")) << e.what();
    }
  }
  w->AddPoint(1, 1, "5 20210101");
  w->Close();
  TOgrLayer l = Read("badvalue");
  ASSERT_EQ(l.Features.size(), 1u);
  EXPECT_EQ(l.Value(0, "i"), "5");
}

// Open descriptors of this process.
size_t OpenDescriptors() {
  size_t n = 0;
  for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
    (void)e;
    ++n;
  }
  return n;
}

TEST_F(MITABThroughGDAL, DropDeletesOnlyATableItCreated) {
  // A table of the user's beside a writer that cannot create its own.
  for (const char* ext : {".tab", ".map", ".dat", ".id"}) WriteBytes(dir.File("user") + ext, "the user's");
  auto refused = Make("user");
  refused->CoordSys = "CoordSys Earth Projection 1, 9999";
  EXPECT_THROW(refused->StartHeader(1, otPoint), Exception);
  refused->Drop();
  for (const char* ext : {".tab", ".map", ".dat", ".id"})
    EXPECT_EQ(ReadBytes(dir.File("user") + ext), "the user's") << ext;

  // A table it did create goes, whatever it replaced.
  auto made = Make("user");
  made->StartHeader(1, otPoint);
  made->AddField("id", gfInteger, 0, 0);
  made->AddPoint(1, 2, "1");
  made->Drop();
  for (const char* ext : {".tab", ".map", ".dat", ".id"}) EXPECT_FALSE(std::filesystem::exists(dir.File("user") + ext));
}

TEST_F(MITABThroughGDAL, WritersFreedWithoutCloseReleaseTheirTables) {
  {
    // GDAL's first table opens what it keeps for the process (its database
    // of coordinate systems): not counted.
    auto warm = Make("warm");
    warm->StartHeader(1, otPline);
    warm->AddField("id", gfInteger, 0, 0);
    warm->Close();
  }
  const size_t before = OpenDescriptors();
  for (int i = 0; i < 20; ++i) {
    auto w = Make("abandoned" + std::to_string(i));
    w->StartHeader(1, otPline);
    w->AddField("id", gfInteger, 0, 0);
    w->AddLine(0, 0, 1, 1, "1");
    // One table per writer.
    EXPECT_TRUE(MessageOf([&] { w->StartHeader(1, otPline); }).starts_with("MITAB: a table is already open"));
  }
  EXPECT_LE(OpenDescriptors(), before);
  // What the destructor closed is a table GDAL reads.
  TOgrLayer l = Read("abandoned0");
  ASSERT_EQ(l.Features.size(), 1u);
  EXPECT_EQ(l.Features[0].Wkt, "LINESTRING (0 0,1 1)");
}

}  // namespace
