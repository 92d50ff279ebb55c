#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>

#include "giswriter/kovra_giswriter.h"
#include "giswriter/kovra_giswriter_text.h"
#include "support/gdal_readback.h"
#include "support/test_files.h"
#include "support/test_parts.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

const std::string cGolden = std::string(KOVRA_TEST_SOURCE_DIR) + "/data/giswriter_mif/";

void StdHeader(TGISWriter& w, TObjectTypes ot) {
  w.StartHeader(2, ot);
  w.AddField("id", gfInteger, 0, 0);
  w.AddField("name", gfChar, 20, 0);
}

constexpr uint32_t cRed = 0x0000FF;  // 0x00BBGGRR

// One golden layer: how to write it, and what GDAL must read back from it.
struct MifCase {
  const char* name;
  std::function<void(TGISWriterMIF&)> write;
  int32_t records;
  // Expected read-back: geometry WKT per feature ("" none) and, where set, a
  // piece the feature's style string must contain.
  std::vector<std::string> wkt;
  std::vector<std::string> style;
  bool gdalReadable = true;
};

std::vector<MifCase> Cases() {
  return {
      {"line",
       [](TGISWriterMIF& w) {
         StdHeader(w, otPline);
         w.AddLine(1.5, -2.25, 3, 4, "1,\"a b\"");
         w.AddObject(1, false, "2,x");
         Section(w, 0, {{13.4050001, 52.52}, {1e-5, 1.23456789012346e17}});
       },
       2,
       {"LINESTRING (1.5 -2.25,3 4)", "LINESTRING (13.4050001 52.52,1e-05 123456789012346000)"},
       {}},
      {"pline3",
       [](TGISWriterMIF& w) {
         StdHeader(w, otPline);
         w.AddObject(1, false, "1,\"three points\"");
         Section(w, 0, {{0, 0}, {1, 1}, {2, 0.5}});
       },
       1,
       {"LINESTRING (0 0,1 1,2 0.5)"},
       {}},
      {"pline_multiple",
       [](TGISWriterMIF& w) {
         StdHeader(w, otPline);
         w.AddObject(2, false, "1,two");
         Section(w, 0, {{0, 0}, {1, 1}});
         Section(w, 1, {{5, 5}, {6, 6}, {7, 5}});
       },
       1,
       {"MULTILINESTRING ((0 0,1 1),(5 5,6 6,7 5))"},
       {}},
      {"region",
       [](TGISWriterMIF& w) {
         StdHeader(w, otRegion);
         w.AddObject(1, false, "1,ring");
         Section(w, 0, {{0, 0}, {4, 0}, {4, 3}, {0, 3}, {0, 0}});
       },
       1,
       {"POLYGON ((0 0,4 0,4 3,0 3,0 0))"},
       {}},
      {"none",
       [](TGISWriterMIF& w) {
         StdHeader(w, otPline);
         w.AddObject(0, false, "1,\"no geometry\"");
         w.AddLine(0, 0, 1, 1, "2,geometry");
       },
       2,
       {"", "LINESTRING (0 0,1 1)"},
       {}},
      {"onepoint",
       [](TGISWriterMIF& w) {
         StdHeader(w, otPline);
         w.AddObject(1, false, "1,single");
         Section(w, 0, {{7, 8}});
         w.AddObject(2, false, "2,mixed");
         Section(w, 0, {{1, 1}});
         Section(w, 1, {{2, 2}, {3, 3}});
       },
       2,
       {"LINESTRING (7 8,7 8)", "MULTILINESTRING ((1 1,1 1),(2 2,3 3))"},
       {}},
      {"symbol",
       [](TGISWriterMIF& w) {
         StdHeader(w, otPoint);
         w.AddPoint(1, 2, "1,default");
         w.AddLine(0, 0, 1, 1, "9,ignored");
         w.Symbol = MakeMISymbol(34, cRed, 10);
         w.AddPoint(3, 4, "2,red");
       },
       2,
       {"POINT (1 2)", "POINT (3 4)"},
       // No Symbol clause: GDAL shows its default symbol 35.
       {"mapinfo-sym-35", "mapinfo-sym-34"}},
      {"pen",
       [](TGISWriterMIF& w) {
         StdHeader(w, otPline);
         w.Pen = TMIPen{2, 2, cRed};
         w.AddLine(0, 0, 1, 1, "1,red");
         w.AddObject(1, false, "2,red");
         Section(w, 0, {{0, 0}, {1, 1}, {2, 2}});
       },
       2,
       {"LINESTRING (0 0,1 1)", "LINESTRING (0 0,1 1,2 2)"},
       {"c:#ff0000", "c:#ff0000"}},
      {"brush",
       [](TGISWriterMIF& w) {
         StdHeader(w, otRegion);
         w.Brush = TMIBrush{5, 0xFF0000, 0x00FF00};
         w.Pen = TMIPen{3, 2, 0xFF0000};
         w.AddObject(1, false, "1,styled");
         Section(w, 0, {{0, 0}, {1, 0}, {1, 1}, {0, 0}});
         w.Pen = DefaultPen;
         w.AddObject(2, false, "2,\"brush only\"");
         Section(w, 0, {{0, 0}, {2, 0}, {2, 2}, {0, 0}});
         Section(w, 1, {{0.5, 0.5}, {1, 0.5}, {1, 1}, {0.5, 0.5}});
       },
       2,
       {"POLYGON ((0 0,1 0,1 1,0 0))", "POLYGON ((0 0,2 0,2 2,0 0),(0.5 0.5,1 0.5,1 1,0.5 0.5))"},
       {"mapinfo-brush-5", "mapinfo-brush-5"}},
      {"compact",
       [](TGISWriterMIF& w) {
         StdHeader(w, otRegion);
         w.CompactMIF = true;
         w.Brush = TMIBrush{5, 0xFF0000, 0x00FF00};
         w.Pen = TMIPen{3, 2, 0xFF0000};
         w.Symbol = MakeMISymbol(34, cRed, 10);
         w.AddObject(1, false, "1,red");
         Section(w, 0, {{0, 0}, {1, 0}, {1, 1}, {0, 0}});
       },
       1,
       {"POLYGON ((0 0,1 0,1 1,0 0))"},
       {}},
      {"version900",
       [](TGISWriterMIF& w) {
         w.StartHeader(4, otPline);
         w.AddField("id", gfInteger, 0, 0);
         w.AddField("big", gfInt64, 0, 0);
         w.AddField("t", gfTime, 0, 0);
         w.AddField("dt", gfDateTime, 0, 0);
         w.AddObject(0, false, "1,9007199254740993,120000000,20210322120000000");
       },
       1,
       {},
       {},
       false},  // GDAL 3.6 cannot parse a LargeInt column: bytes only
      {"char254",
       [](TGISWriterMIF& w) {
         w.StartHeader(3, otPoint);
         w.AddField("a", gfChar, 255, 0);
         w.AddField("b", gfChar, 0, 0);
         w.AddField("c", gfChar, 10, 0);
         w.AddPoint(1, 1, "x,y,z");
       },
       1,
       {"POINT (1 1)"},
       {}},
      {"otnone",
       [](TGISWriterMIF& w) {
         w.StartHeader(6, otNone);
         w.AddField("id", gfInteger, 0, 0);
         w.AddField("v", gfFloat, 0, 0);
         w.AddField("d", gfDecimal, 8, 3);
         w.AddField("day", gfDate, 0, 0);
         w.AddField("ok", gfLogical, 0, 0);
         w.AddField("s", gfSmallInt, 0, 0);
         w.AddObject(0, false, "1,2.5,3.125,20210322,T,7");
         w.AddObject(2, false, "2,-1,0,19991231,F,-7");  // parts are dropped in a table without geometry
         Section(w, 0, {{1, 1}, {2, 2}});
         Section(w, 1, {{3, 3}, {4, 4}});
       },
       2,
       {"", ""},
       {}},
      {"cp737",
       [](TGISWriterMIF& w) {
         w.SetCodepage(737);
         StdHeader(w, otPoint);
         w.AddPoint(1, 2, "1,x");
       },
       1,
       {"POINT (1 2)"},
       {}},
      {"cp1251",
       [](TGISWriterMIF& w) {
         w.SetCodepage(1251);
         StdHeader(w, otPoint);
         w.AddPoint(30.5, 50.25, "1,\"Крещатик улица\"");
       },
       1,
       {"POINT (30.5 50.25)"},
       {}},
  };
}

}  // namespace

TEST(GISWriterMIF, GoldenFilesByteExact) {
  TTempDir dir("kovra_mif");
  for (const MifCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    const std::string base = dir.File(c.name);
    TGISWriterMIF w;
    w.FileName = base;
    c.write(w);
    EXPECT_EQ(w.WrittenRecords(), c.records);
    w.Close();
    EXPECT_EQ(ReadBytes(base + ".mif"), ReadBytes(cGolden + c.name + ".mif"));
    EXPECT_EQ(ReadBytes(base + ".mid"), ReadBytes(cGolden + c.name + ".mid"));
  }
}

TEST(GISWriterMIF, WidthsStoredBackAndVersionByCodepage) {
  TTempDir dir("kovra_mif");
  TGISWriterMIF w;
  w.FileName = dir.File("w");
  w.StartHeader(4, otPoint);
  w.AddField("a", gfChar, 255, 0);
  w.AddField("b", gfChar, 0, 0);
  w.AddField("c", gfDecimal, 255, 2);
  w.AddField("d", gfDecimal, 0, 0);  // only text columns of width 0 are mended
  EXPECT_EQ(w.FieldInfo()[1].Width, 254);
  EXPECT_EQ(w.FieldInfo()[2].Width, 254);
  EXPECT_EQ(w.FieldInfo()[3].Width, 254);
  EXPECT_EQ(w.FieldInfo()[4].Width, 0);
  w.Close();
  EXPECT_NE(ReadBytes(w.FileName + ".mif").find("  c Decimal(254,2)\r\n  d Decimal(0,0)\r\n"), std::string::npos);

  // The plain MIF writer ignores 65001 and 1200: still Version 300, no BOM.
  TGISWriterMIF u;
  u.SetCodepage(65001);
  EXPECT_EQ(u.Codepage(), 1252);
  u.FileName = dir.File("u");
  StdHeader(u, otPoint);
  u.Close();
  EXPECT_EQ(ReadBytes(u.FileName + ".mif").substr(0, 14), "Version 300\r\nC");
}

TEST(GISWriterMIF, MIF8WritesUTF8WithMarksAndIgnoresCodepage) {
  TTempDir dir("kovra_mif");
  TGISWriterMIF8 w;
  EXPECT_EQ(w.Codepage(), 65001);
  w.SetCodepage(1251);
  w.SetCodepage(1200);
  EXPECT_EQ(w.Codepage(), 65001);
  w.FileName = dir.File("mif8");
  StdHeader(w, otPoint);
  w.AddPoint(1, 2, "1,\"Grüße Ωmega\"");
  w.AddPoint(3, 4, "2,second");
  w.Close();
  EXPECT_EQ(ReadBytes(w.FileName + ".mif"), ReadBytes(cGolden + "mif8.mif"));
  EXPECT_EQ(ReadBytes(w.FileName + ".mid"), ReadBytes(cGolden + "mif8.mid"));

  // GDAL 3.6 reads the .mid mark into the first value; the rest comes back as written.
  TOgrLayer l = ReadOgrLayer(w.FileName + ".mif", {{"MapInfo File"}, {}, {}, true});
  ASSERT_EQ(l.Features.size(), 2u);
  EXPECT_EQ(l.Value(0, "name"), "Grüße Ωmega");
  if (l.Value(0, "id") != "1") {
    // The misread value is reported as a warning, not a failure.
    bool warned = false;
    for (const std::string& m : l.Warnings) warned = warned || m.find("parsed incompletely") != std::string::npos;
    EXPECT_TRUE(warned);
  }
  EXPECT_EQ(l.Value(1, "id"), "2");
  EXPECT_EQ(l.Features[1].Wkt, "POINT (3 4)");
}

TEST(GISWriterMIF, GDALReadsTheGoldenLayersBack) {
  for (const MifCase& c : Cases()) {
    if (!c.gdalReadable) continue;
    SCOPED_TRACE(c.name);
    TOgrLayer l = ReadOgrLayer(cGolden + c.name + ".mif", {{"MapInfo File"}, {}, {}, true});
    ASSERT_TRUE(l.Opened);
    ASSERT_EQ(l.FeatureCount, int64_t(c.wkt.size()));
    ASSERT_EQ(l.Features.size(), c.wkt.size());
    for (size_t i = 0; i < c.wkt.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(l.Features[i].Wkt, c.wkt[i]);
      if (i < c.style.size()) {
        EXPECT_NE(l.Features[i].Style.find(c.style[i]), std::string::npos) << l.Features[i].Style;
      }
    }
    if (std::string(c.name) != "otnone") {
      EXPECT_EQ(l.Epsg, 4326);
    }
  }
}

TEST(GISWriterMIF, GDALTypesValuesAndCodepages) {
  TOgrLayer none = ReadOgrLayer(cGolden + "otnone.mif", {{"MapInfo File"}, {}, {}, true});
  ASSERT_EQ(none.Fields.size(), 6u);
  const char* types[] = {"Integer", "Real", "Real", "Date", "String", "Integer"};
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(none.Fields[i].Type, types[i]) << none.Fields[i].Name;
  EXPECT_EQ(none.Fields[2].Width, 8);
  EXPECT_EQ(none.Fields[2].Precision, 3);
  ASSERT_EQ(none.Features.size(), 2u);
  EXPECT_EQ(none.Value(0, "v"), "2.5");
  EXPECT_EQ(none.Value(0, "d"), "3.125");
  EXPECT_EQ(none.Value(0, "day"), "2021/03/22");
  EXPECT_EQ(none.Value(1, "s"), "-7");
  EXPECT_EQ(none.SrsWkt, "");

  TOgrLayer line = ReadOgrLayer(cGolden + "line.mif", {{"MapInfo File"}, {}, {}, true});
  ASSERT_EQ(line.Fields.size(), 2u);
  EXPECT_EQ(line.Fields[1].Type, "String");
  EXPECT_EQ(line.Fields[1].Width, 20);
  EXPECT_EQ(line.Value(0, "name"), "a b");
  EXPECT_EQ(line.Value(1, "id"), "2");

  TOgrLayer wide = ReadOgrLayer(cGolden + "char254.mif", {{"MapInfo File"}, {}, {}, true});
  ASSERT_EQ(wide.Fields.size(), 3u);
  EXPECT_EQ(wide.Fields[0].Width, 254);
  EXPECT_EQ(wide.Fields[1].Width, 254);

  TOgrLayer cyr = ReadOgrLayer(cGolden + "cp1251.mif", {{"MapInfo File"}, {}, {}, true});
  ASSERT_EQ(cyr.Features.size(), 1u);
  EXPECT_EQ(cyr.Value(0, "name"), "Крещатик улица");

  TOgrLayer pen = ReadOgrLayer(cGolden + "pen.mif", {{"MapInfo File"}, {}, {}, true});
  ASSERT_EQ(pen.Features.size(), 2u);
  EXPECT_NE(pen.Features[0].Style.find("mapinfo-pen-2"), std::string::npos) << pen.Features[0].Style;
}

TEST(GISWriterMIF, HarnessReadsAnOgr2ogrMIF) {
  if (RunCommand("ogr2ogr --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "ogr2ogr missing";
  TTempDir dir("kovra_mif");
  const std::string src = std::string(KOVRA_TEST_SOURCE_DIR) + "/data/giswriter_harness.geojson";
  const std::string out = dir.File("harness.mif");
  ASSERT_EQ(RunCommand("ogr2ogr -q -f \"MapInfo File\" -dsco FORMAT=MIF '" + out + "' '" + src + "' 2>&1"), 0);
  TOgrLayer l = ReadOgrLayer(out);
  ASSERT_TRUE(l.Opened);
  EXPECT_EQ(l.Driver, "MapInfo File");
  ASSERT_EQ(l.Fields.size(), 2u);
  EXPECT_EQ(l.Fields[0].Name, "id");
  EXPECT_EQ(l.Fields[0].Type, "Integer");
  EXPECT_EQ(l.Fields[1].Name, "name");
  EXPECT_EQ(l.Fields[1].Type, "String");
  ASSERT_EQ(l.FeatureCount, 2);
  EXPECT_EQ(l.Features[0].Wkt, "LINESTRING (13.4 52.5,13.5 52.6)");
  EXPECT_EQ(l.Features[1].Wkt, "POINT (2.35 48.85)");
  EXPECT_EQ(l.Value(1, "name"), "Paris");
  EXPECT_EQ(l.Epsg, 4326);
  EXPECT_TRUE(l.Failures.empty());

  // A file that is not there fails the read and is reported, not crashed on.
  TOgrLayer missing = ReadOgrLayer(dir.File("missing.mif"), {{}, {}, {}, false});
  EXPECT_FALSE(missing.Opened);
  EXPECT_FALSE(missing.Failures.empty());
}

TEST(GISWriterMIF, LifecycleAndFileErrors) {
  TTempDir dir("kovra_mif");
  namespace fs = std::filesystem;
  {
    // An empty layer that is dropped leaves no file.
    TGISWriterMIF w;
    w.FileName = dir.File("empty");
    StdHeader(w, otPline);
    EXPECT_TRUE(fs::exists(w.FileName + ".mif"));
    w.Close();
    EXPECT_EQ(w.WrittenRecords(), 0);
    w.Drop();
    EXPECT_FALSE(fs::exists(w.FileName + ".mif"));
    EXPECT_FALSE(fs::exists(w.FileName + ".mid"));
    w.Close();  // nothing more happens
    w.Drop();
  }
  {
    // A second Close writes nothing; Drop after Close only deletes.
    TGISWriterMIF w;
    w.FileName = dir.File("twice");
    StdHeader(w, otPline);
    w.AddLine(0, 0, 1, 1, "1,a");
    w.Close();
    const std::string mif = ReadBytes(w.FileName + ".mif"), mid = ReadBytes(w.FileName + ".mid");
    EXPECT_EQ(mid, "1,a\r\n");
    w.Close();
    EXPECT_EQ(ReadBytes(w.FileName + ".mif"), mif);
    EXPECT_EQ(ReadBytes(w.FileName + ".mid"), mid);
    w.Drop();
    EXPECT_FALSE(fs::exists(w.FileName + ".mif"));
    EXPECT_FALSE(fs::exists(w.FileName + ".mid"));
  }
  {
    // Before the last column no file exists; Drop removes nothing it did not make.
    WriteBytes(dir.File("keep.mif"), "not ours");
    TGISWriterMIF w;
    w.FileName = dir.File("keep");
    w.StartHeader(2, otPline);
    w.AddField("a", gfInteger, 0, 0);
    EXPECT_THROW(w.AddLine(0, 0, 1, 1, "1"), EWriteError);  // records only after the last column
    w.Drop();
    EXPECT_EQ(ReadBytes(dir.File("keep.mif")), "not ours");
  }
  {
    // A .mif that cannot be created raises at the last AddField.
    TGISWriterMIF w;
    w.FileName = dir.File("no/such/folder/x");
    w.StartHeader(1, otPline);
    EXPECT_THROW(w.AddField("a", gfInteger, 0, 0), EFCreateError);
    EXPECT_THROW(w.AddObject(0, false, "1"), EWriteError);
    w.Close();
  }
  {
    // A .mid that cannot be created takes the new .mif with it.
    fs::create_directories(dir.File("mid.mid"));  // a folder where the .mid should go
    TGISWriterMIF w;
    w.FileName = dir.File("mid");
    w.StartHeader(1, otPline);
    EXPECT_THROW(w.AddField("a", gfInteger, 0, 0), EFCreateError);
    EXPECT_FALSE(fs::exists(w.FileName + ".mif"));
  }
}

TEST(GISWriterCSV, HeaderRowsAndLifecycle) {
  TTempDir dir("kovra_csv");
  TGISWriterCSV w;
  w.FileName = dir.File("table");
  w.StartHeader(2, otPline);
  EXPECT_TRUE(std::filesystem::exists(w.FileName + ".csv"));
  w.AddField("ID", gfInteger, 0, 0);
  w.AddField("Name", gfChar, 10, 0);
  w.AddPoint(1, 2, "1,\"a b\"");
  w.AddLine(0, 0, 1, 1, "2,x");  // rows whatever the table kind
  w.AddObject(2, false, "3,\"\"");
  Section(w, 0, {{0, 0}, {1, 1}});
  Section(w, 1, {{2, 2}, {3, 3}});
  EXPECT_EQ(w.WrittenRecords(), 3);
  w.Close();
  EXPECT_EQ(ReadBytes(w.FileName + ".csv"), ReadBytes(cGolden + "table.csv"));

  // The same file through GDAL's CSV reader.
  TOgrLayer l = ReadOgrLayer(w.FileName + ".csv", {{"CSV"}, {}, {}, true});
  ASSERT_EQ(l.Fields.size(), 2u);
  EXPECT_EQ(l.Fields[0].Name, "ID");
  ASSERT_EQ(l.FeatureCount, 3);
  EXPECT_EQ(l.Value(0, "Name"), "a b");
  EXPECT_EQ(l.Value(2, "ID"), "3");

  TGISWriterCSV e;
  e.FileName = dir.File("empty");
  e.StartHeader(1, otNone);
  e.AddField("a", gfChar, 1, 0);
  e.Close();
  e.Drop();
  EXPECT_FALSE(std::filesystem::exists(e.FileName + ".csv"));

  TGISWriterCSV bad;
  bad.FileName = dir.File("no/such/folder/x");
  EXPECT_THROW(bad.StartHeader(1, otNone), EFCreateError);
  EXPECT_THROW(bad.AddField("a", gfChar, 1, 0), EWriteError);
  bad.Close();
}
