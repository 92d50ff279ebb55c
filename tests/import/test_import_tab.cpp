// The MapInfo TAB reader against GDAL's own reader on tables ogr2ogr wrote,
// and on tables of the test's own writer: compressed lines, version 1500
// maps, NATIVEX z-levels, chained and spaced coordinate blocks, and corrupt
// pointers and sizes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <numbers>
#include <string>
#include <tuple>
#include <vector>

#include "import/kovra_import.h"
#include "import/support/folder_state.h"
#include "import/support/import_fixtures.h"
#include "import/support/network_dir.h"
#include "import/support/ogr_objects.h"
#include "import/support/tab_fixture.h"
#include "support/gdal_readback.h"
#include "support/test_files.h"

using namespace kovra;
using namespace kovra::testsupport;
namespace fs = std::filesystem;

namespace {

// The read stage, with the code page it chose for the .dat tables.
class TTabImport : public TReadStageImport {
public:
  uint16_t DatCodePage() const { return fDatCodePage; }
};

template <typename T>
T At(const std::string& bytes, size_t offset) {
  T v{};
  if (offset + sizeof v <= bytes.size()) std::memcpy(&v, bytes.data() + offset, sizeof v);
  return v;
}

// The type byte of each row's object, 0 for a row without one; read here
// from the .id and .map, apart from the reader.
std::vector<int> ObjectTypes(const std::string& stem) {
  const std::string map = ReadBytes(stem + ".map"), id = ReadBytes(stem + ".id");
  const size_t p = At<uint16_t>(map, 260) == 1500 ? 8 : 4;
  std::vector<int> types;
  for (size_t k = 0; k + p <= id.size(); k += p) {
    const int64_t q = p == 4 ? At<int32_t>(id, k) : At<int64_t>(id, k);
    types.push_back(q == 0 ? 0 : uint8_t(map[size_t(q)]));
  }
  return types;
}

// n vertices on a wave inside a box of about Size metres from (x0, y0).
std::string Wave(int32_t n, double x0, double y0, double size) {
  std::vector<TFloatPoint> pts;
  for (int32_t i = 0; i < n; ++i)
    pts.push_back({x0 + size * i / n + 1e-7 * (i % 7), y0 + size / 3 * std::sin(i / 40.0) + i / 3.0 * 1e-3});
  return JsonLine(pts);
}

// British National Grid roads: a 2-point line (type 5), a short polyline (7),
// no geometry, a multi-line (37), a point (2), a polygon (13), 3000 vertices
// in a box of 50 m (7, over many coordinate blocks) and 300 over 20 km (8).
std::vector<TJsonFeature> GridRoads() {
  return {{JsonLine({{530000.25, 180000.5}, {530100, 180050}}), R"("id":1,"zf":0,"zt":1)"},
          {JsonLine({{530100, 180050}, {530110.125, 180040}, {530120, 180060.75}}), R"("id":2,"zf":1,"zt":0)"},
          {"null", R"("id":3,"zf":0,"zt":0)"},
          {R"({"type":"MultiLineString","coordinates":[[[0,0],[1,1]],[[2,2],[3,3]]]})", R"("id":4,"zf":0,"zt":0)"},
          {R"({"type":"Point","coordinates":[530000,180000]})", R"("id":5,"zf":0,"zt":0)"},
          {R"({"type":"Polygon","coordinates":[[[0,0],[10,0],[10,10],[0,0]]]})", R"("id":6,"zf":0,"zt":0)"},
          {Wave(3000, 531000, 181000, 50), R"("id":7,"zf":-2,"zt":3)"},
          {Wave(300, 520000, 170000, 20000), R"("id":8,"zf":0,"zt":9)"}};
}

class ImportTab : public TImportTest {
protected:
  // A table In(Name) made by ogr2ogr.
  std::string Table(const std::string& Name, const std::vector<TJsonFeature>& Features,
                    const std::string& Args = "-a_srs EPSG:27700") {
    OgrConvert(Features, In(Name), "-f 'MapInfo File' " + Args);
    return In(Name);
  }
};

TEST_F(ImportTab, VerticesAsGdalReadsThem) {
  // Bounds of 2e6 units give a scale of 1000 (1e6 for degrees). GDAL rounds
  // what it reads to the power of ten nearest the scale, which changes no
  // value under such a scale; under the default British bounds (scale 121.28)
  // it moves vertices by up to half a centimetre.
  const std::string grid = "-a_srs EPSG:27700 -lco BOUNDS=-1000000,-1000000,1000000,1000000";
  const std::vector<int> gridTypes = {5, 7, 0, 37, 2, 13, 7, 8};
  const struct {
    std::string Name;
    std::vector<TJsonFeature> Features;
    std::string Args;
    std::vector<int> Types;  // the object types the case is about
    double Tolerance;
  } cases[] = {
      {"grid.tab", GridRoads(), grid, gridTypes, 0},
      // Blocks of sizes that are no power of two, or larger than 512.
      {"b1536.tab", GridRoads(), grid + " -dsco BLOCKSIZE=1536", gridTypes, 0},
      {"b1024.tab", GridRoads(), grid + " -dsco BLOCKSIZE=1024", gridTypes, 0},
      {"british.tab", GridRoads(), "-a_srs EPSG:27700", gridTypes, 0.005},
      {"world.tab",
       {{JsonLine({{-179.9, -85}, {-60.5, 10.25}, {45.125, -30}, {179.9, 85}}), R"("id":1)"},
        {JsonLine({{2.35, 48.85}, {13.4, 52.5}}), R"("id":2)"}},
       "-a_srs EPSG:4326 -lco BOUNDS=-1000,-1000,1000,1000",
       {8, 5},
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string tab = Table(c.Name, c.Features, c.Args);
    ASSERT_EQ(ObjectTypes(tab.substr(0, tab.size() - 4)), c.Types) << "change the fixture";
    for (const int64_t key : {int64_t(0), int64_t(0x1234567890)}) {
      TTabImport imp;
      imp.SetEncryptionKey(key);
      Run(imp, {tab});
      ExpectAsOgrReads(ReadWithOgr(tab, "MapInfo File"), imp, ReadNetworkDir(fOut, key), c.Tolerance, c.Types);
    }
  }
}


// Objects around (x, y) in integer map units (millimetres under the fixture's scale).
std::vector<TTabObject> WriterObjects(int32_t x, int32_t y) {
  std::vector<TTabObject> o;
  // Compressed lines in two object blocks with far apart centres.
  o.push_back({4, {{x, y}, {x + 1500, y - 700}}, false, false, 1, 0});
  o.push_back({4, {{x - 9000, y + 300}, {x + 12000, y + 30000}}, false, false, 0, 2});
  o.push_back({4, {{x + 5000000, y}, {x + 5000000 - 20000, y + 31000}}, false, true, 0, 0});
  o.push_back({5, {{x - 2000000, y - 1000000}, {x + 3000000, y + 1000000}}, false, false, 0, 0});
  o.push_back({0, {}, true, false, 0, 0});
  // 700 compressed vertices: 2800 bytes over several coordinate blocks.
  TTabObject c{7, {}, false, false, -3, 4};
  for (int32_t i = 0; i < 700; ++i) c.Points.push_back({x + 17 * i - 3000, y + (i % 13) * 211 - 1000});
  o.push_back(c);
  TTabObject p{8, {}, false, false, 0, -1};
  for (int32_t i = 0; i < 200; ++i) p.Points.push_back({x - 100000 * i, y + 77777 * (i % 5)});
  o.push_back(p);
  return o;
}

// The polyline the import makes of an object: ends moved by their z-levels.
std::vector<TFloatPoint> Expected(const TTabHeader& h, const TTabObject& o, double radius) {
  std::vector<TFloatPoint> line;
  for (const TIntPoint& p : o.Points) line.push_back({MapToRealX(h, p.x), MapToRealY(h, p.y)});
  auto move = [&](TFloatPoint& p, int32_t z) {
    if (z == 0) return;
    p.x += radius * std::sin(z * std::numbers::pi / 9);
    p.y += radius * std::cos(z * std::numbers::pi / 9);
  };
  move(line.front(), o.ZFrom);
  move(line.back(), o.ZTo);
  return line;
}

TEST_F(ImportTab, WriterTables) {
  const struct {
    std::string Name;
    int32_t Version, BlockSize;
    bool NativeX, Spaced;
  } cases[] = {
      {"v500", 500, 512, false, false},
      {"v500x1536", 500, 1536, true, true},
      {"v1500", 1500, 512, false, false},
      {"v1500x1024", 1500, 1024, true, true},
      {"v1500x1536", 1500, 1536, false, true},
      {"v500b1536", 500, 1536, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TTabFixture f;
    f.Version = c.Version;
    f.BlockSize = c.BlockSize;
    f.NativeX = c.NativeX;
    f.SpacedCoordBlocks = c.Spaced;
    f.Objects = WriterObjects(530000000, 180000000);
    const TTabWritten w = WriteTabFixture(In(c.Name), f);
    ASSERT_GE(w.CoordBlocks.size(), 3u) << "change the fixture";

    // GDAL reads the classic version 500 tables the same: the writer is not its
    // own only judge.
    if (c.Version == 500 && !c.NativeX) {
      const std::vector<TOgrObject> ogr = ReadWithOgr(w.Tab, "MapInfo File");
      ASSERT_EQ(ogr.size(), f.Objects.size());
      for (size_t r = 0; r < ogr.size(); ++r) {
        EXPECT_EQ(ogr[r].Null, f.Objects[r].Deleted) << "row " << r + 1;
        if (!f.Objects[r].Deleted) {
          EXPECT_EQ(ogr[r].Points, Expected(f.Header, f.Objects[r], 0)) << "row " << r + 1;
        }
      }
    }

    TTabImport imp;
    imp.SetZFromField(0);
    imp.SetZToField(1);
    Run(imp, {w.Tab});
    EXPECT_EQ(imp.CoordinateUnit(), cuM);
    ASSERT_EQ(imp.LinkCount(), int32_t(f.Objects.size()));
    const TNetworkDir net = ReadNetworkDir(fOut);
    for (int32_t L = 1; L <= imp.LinkCount(); ++L) {
      const TTabObject& o = f.Objects[size_t(L - 1)];
      if (o.Deleted) continue;
      const std::vector<TFloatPoint> want = Expected(f.Header, o, 0.1), got = net.Polyline(L);
      ASSERT_EQ(got.size(), want.size()) << "link " << L;
      for (size_t k = 0; k < got.size(); ++k) {
        ASSERT_NEAR(got[k].x, want[k].x, 1e-9) << "link " << L << " vertex " << k;
        ASSERT_NEAR(got[k].y, want[k].y, 1e-9) << "link " << L << " vertex " << k;
      }
    }
    ASSERT_EQ(imp.ImportErrorList().Count(), 1);
    EXPECT_EQ(imp.ImportErrorList().GetItem(0).link, 5);
    EXPECT_EQ(imp.ImportErrorList().GetItem(0).errorcode, ecDeleted);
  }
}


// Rows patched into other objects: the Part's row errors, never an exception.
TEST_F(ImportTab, PatchedRows) {
  TTabFixture f;
  f.Objects = WriterObjects(530000000, 180000000);
  const TTabWritten w = WriteTabFixture(In("rows"), f);
  // Row 6 is the compressed polyline, row 7 the polyline, row 4 a line.
  PatchFile<uint32_t>(w.Map, w.Object[5] + 5 + 4, 1 * 4);                      // one vertex
  PatchFile<uint32_t>(w.Map, w.Object[6] + 5 + 4, 70000 * 8 | 0x80000000u);    // smoothed, too many
  PatchFile<uint8_t>(w.Map, w.Object[3], 13);                                   // a region
  TTabImport imp;
  Run(imp, {w.Tab});
  ASSERT_EQ(imp.LinkCount(), 7);
  std::vector<std::tuple<int32_t, TErrorCode, int32_t>> errors;
  for (int32_t k = 0; k < imp.ImportErrorList().Count(); ++k) {
    const TImportError& e = imp.ImportErrorList().GetItem(k);
    errors.emplace_back(e.link, e.errorcode, e.value);
  }
  EXPECT_EQ(errors, (std::vector<std::tuple<int32_t, TErrorCode, int32_t>>{
                        {4, ecNotPolyLine, 13}, {5, ecDeleted, 0}, {6, ecZeroOrOneVertices, 1}, {7, ecTooManyVertices, 70000}}));
}

// Each corrupt table is refused naming the table and the fault, and leaves no file.
TEST_F(ImportTab, CorruptTables) {
  struct TCorrupt {
    std::string Name;
    int32_t Version;
    std::function<void(const TTabWritten&)> Patch;
    std::string Fault;  // after "Corrupt MapInfo table <tab>: "
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // Row 6 is the compressed polyline over several blocks, row 7 the polyline.
  const std::vector<TCorrupt> cases = {
      {"negobject", 500, [](const TTabWritten& w) { PatchFile<int32_t>(w.Id, 4 * 1, -8); },
       "row 2: object pointer -8 lies outside the map of %d bytes"},
      {"farobject", 1500, [](const TTabWritten& w) { PatchFile<int64_t>(w.Id, 8 * 2, int64_t(1) << 62); },
       "row 3: object pointer 4611686018427387904 lies outside the map of %d bytes"},
      {"cutobject", 500,
       [](const TTabWritten& w) {
         const int64_t q = int64_t(fs::file_size(w.Map)) - 3;
         PatchFile<uint8_t>(w.Map, q, 5);
         PatchFile<int32_t>(w.Id, 0, int32_t(q));
       },
       "row 1: 4 bytes at %E lie outside the map of %d bytes"},
      {"negdata", 500, [](const TTabWritten& w) { PatchFile<int32_t>(w.Map, w.Object[6] + 5, -4); },
       "row 7: coordinate data pointer -4 lies outside the map of %d bytes"},
      {"fardata", 1500, [](const TTabWritten& w) { PatchFile<int64_t>(w.Map, w.Object[5] + 9, int64_t(1) << 40); },
       "row 6: coordinate data pointer 1099511627776 lies outside the map of %d bytes"},
      {"endofchain", 500, [](const TTabWritten& w) { PatchFile<int32_t>(w.Map, w.CoordBlocks[0] + 4, 0); },
       "row 6: next-block pointer 0 in the middle of the object"},
      {"farblock", 1500, [](const TTabWritten& w) { PatchFile<int64_t>(w.Map, w.CoordBlocks[0] + 8, -512); },
       "row 6: next-block pointer -512 lies outside the map of %d bytes"},
      {"midblock", 500,
       [](const TTabWritten& w) { PatchFile<int32_t>(w.Map, w.CoordBlocks[0] + 4, int32_t(w.CoordBlocks[1] + 100)); },
       "row 6: next-block pointer %B is not the start of a block"},
      {"bigsize", 500, [](const TTabWritten& w) { PatchFile<uint32_t>(w.Map, w.Object[6] + 9, 60000 * 8); },
       "row 7: the data of 60000 vertices does not fit the map's %K blocks"},
      {"block0", 500, [](const TTabWritten& w) { PatchFile<uint16_t>(w.Map, 262, 0); },
       "block size 0 is not a multiple of 512"},
      {"block1000", 1500, [](const TTabWritten& w) { PatchFile<uint16_t>(w.Map, 262, 1000); },
       "block size 1000 is not a multiple of 512"},
      {"short", 500, [](const TTabWritten& w) { fs::resize_file(w.Map, 300); },
       "the map is shorter than its 512-byte header"},
      {"scale0", 500, [](const TTabWritten& w) { PatchFile<double>(w.Map, 376, 0.0); },
       "a scale of the header is 0"},
      {"nandispl", 500, [&](const TTabWritten& w) { PatchFile<double>(w.Map, 392, nan); },
       "the scale or displacement at 392 is not a finite number"},
      {"nanparam", 500, [&](const TTabWritten& w) { PatchFile<double>(w.Map, 400 + 8 * 2, nan); },
       "a projection or datum parameter of the header is not a finite number"},
  };
  const std::string out = fTemp.File("corrupt");
  fs::create_directories(out);
  for (const TCorrupt& c : cases) {
    SCOPED_TRACE(c.Name);
    TTabFixture f;
    f.Version = c.Version;
    f.Objects = WriterObjects(530000000, 180000000);
    const TTabWritten w = WriteTabFixture(In(c.Name), f);
    ASSERT_GE(w.CoordBlocks.size(), 3u);
    c.Patch(w);
    std::string fault = c.Fault;
    const int64_t mapSize = int64_t(fs::file_size(w.Map));
    const auto fill = [&](const std::string& key, int64_t v) {
      const size_t k = fault.find(key);
      if (k != std::string::npos) fault.replace(k, key.size(), std::to_string(v));
    };
    fill("%E", mapSize + 2);
    fill("%B", w.CoordBlocks[1] + 100);
    fill("%K", mapSize / f.BlockSize);
    fill("%d", mapSize);
    TTabImport imp;
    imp.SetDirectory(out);
    imp.Add(w.Tab);
    EXPECT_EQ(ExecuteError(imp), "Corrupt MapInfo table " + w.Tab + ": " + fault);
    EXPECT_TRUE(NoFileOfRunRemains({}, out));
  }
}


// A point moved by z-level z: 0.1 m, z * 20 degrees clockwise from north.
TFloatPoint Moved(TFloatPoint p, int32_t z) {
  if (z == 0) return p;
  const double a = z * 20 * std::numbers::pi / 180;
  return {p.x + 0.1 * std::sin(a), p.y + 0.1 * std::cos(a)};
}

// Levels of rows that GDAL deleted or left without geometry stay with their
// rows: the .dat keeps a record for each.
TEST_F(ImportTab, DeletedRowsAndZLevels) {
  const std::string tab =
      Table("roads.tab", GridRoads(), "-a_srs EPSG:27700 -lco BOUNDS=-1000000,-1000000,1000000,1000000");
  std::string output;
  ASSERT_EQ(RunCommand("ogrinfo '" + tab + "' -dialect SQLite -sql 'DELETE FROM roads WHERE id=2' 2>&1", &output), 0)
      << output;
  ASSERT_EQ(ObjectTypes(In("roads")), (std::vector<int>{5, 0, 0, 37, 2, 13, 7, 8})) << "change the fixture";
  const std::vector<TOgrObject> ogr = ReadWithOgr(tab, "MapInfo File");
  ASSERT_EQ(ogr.size(), 7u);  // GDAL skips the deleted row

  TTabImport imp;
  imp.SetZFromField(1);
  imp.SetZToField(2);
  Run(imp, {tab});
  EXPECT_EQ(imp.DatCodePage(), 0);  // "Neutral"
  ASSERT_EQ(imp.LinkCount(), 8);
  const TNetworkDir net = ReadNetworkDir(fOut);
  // Link: its object as GDAL reads it, and its levels.
  const struct {
    int32_t Link;
    size_t Ogr;
    int32_t ZFrom, ZTo;
  } links[] = {{1, 0, 0, 1}, {7, 5, -2, 3}, {8, 6, 0, 9}};
  for (const auto& l : links) {
    std::vector<TFloatPoint> want = ogr[l.Ogr].Points;
    want.front() = Moved(want.front(), l.ZFrom);
    want.back() = Moved(want.back(), l.ZTo);
    const std::vector<TFloatPoint> got = net.Polyline(l.Link);
    ASSERT_EQ(got.size(), want.size());
    for (size_t k = 0; k < got.size(); ++k) {
      EXPECT_NEAR(got[k].x, want[k].x, 1e-9) << "link " << l.Link;
      EXPECT_NEAR(got[k].y, want[k].y, 1e-9) << "link " << l.Link;
    }
  }
  std::vector<std::tuple<int32_t, TErrorCode, int32_t>> errors;
  for (int32_t k = 0; k < imp.ImportErrorList().Count(); ++k) {
    const TImportError& e = imp.ImportErrorList().GetItem(k);
    errors.emplace_back(e.link, e.errorcode, e.value);
  }
  EXPECT_EQ(errors, (std::vector<std::tuple<int32_t, TErrorCode, int32_t>>{
                        {2, ecDeleted, 0}, {3, ecDeleted, 0}, {4, ecNotPolyLine, 37}, {5, ecNotPolyLine, 2},
                        {6, ecNotPolyLine, 13}}));
}

// The .dat code page comes from the first table's charset.
TEST_F(ImportTab, CodePageOfTheDat) {
  const std::vector<TJsonFeature> road = {{JsonLine({{530000, 180000}, {530010, 180010}}), R"("name":"\u0416")"}};
  const std::string cyrillic = Table("cyrillic.tab", road, "-a_srs EPSG:27700 -lco ENCODING=CP1251");
  const std::string neutral = Table("neutral.tab", road);
  TTabFixture f;
  f.Objects = WriterObjects(530000000, 180000000);
  f.Charset = "WindowsLatin2";
  const std::string latin2 = WriteTabFixture(In("latin2"), f).Tab;
  f.Charset = "NoSuchCharset";
  const std::string unknown = WriteTabFixture(In("unknown"), f).Tab;
  // The charset only in a comment line: none is named.
  const std::string unnamed = WriteTabFixture(In("unnamed"), f).Tab;
  WriteBytes(unnamed, "!table\n!version 300\n!charset WindowsLatin2\n\nDefinition Table\n  Type NATIVE\n"
                      "  Fields 2\n    zfrom Integer ;\n    zto Integer ;\n");
  const struct {
    std::vector<std::string> Tables;
    uint16_t CodePage;
  } cases[] = {
      {{cyrillic}, 1251}, {{neutral}, 0}, {{latin2, cyrillic}, 1250}, {{unknown}, 0}, {{unnamed}, 1252},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Tables.front());
    TTabImport imp;
    imp.SetFailOnDifferentCoordSys(false);
    Run(imp, c.Tables);
    EXPECT_EQ(imp.DatCodePage(), c.CodePage);
  }
}

// Link numbers run on over the tables; a table of another CoordSys is
// refused unless allowed, and then the last table's unit is the run's.
TEST_F(ImportTab, SeveralTables) {
  TTabFixture f;
  f.Objects = WriterObjects(530000000, 180000000);
  const std::string a = WriteTabFixture(In("a"), f).Tab;
  const std::string b = WriteTabFixture(In("b"), f).Tab;
  // The same projection over other bounds.
  f.Header.XDispl = 5e8;
  const std::string shifted = WriteTabFixture(In("shifted"), f).Tab;
  f.Header.XDispl = 0;
  f.Header.Projection = 1;
  f.Header.Unit = 13;
  f.Header.XScale = f.Header.YScale = 1e7;
  f.Objects = {{5, {{10, 20}, {-30000000, 40000000}}, false, false, 0, 0}};
  const std::string degrees = WriteTabFixture(In("degrees"), f).Tab;

  {
    TTabImport imp;
    Run(imp, {a, b});
    ASSERT_EQ(imp.LinkCount(), 14);
    ASSERT_EQ(imp.ImportErrorList().Count(), 2);
    const TImportError& e = imp.ImportErrorList().GetItem(1);
    EXPECT_EQ(std::make_tuple(e.fileindex, e.linklocal, e.link), std::make_tuple(1, 5, 12));
    EXPECT_EQ(ReadNetworkDir(fOut).Polyline(8), ReadNetworkDir(fOut).Polyline(1));
  }
  {
    // A cancel stops at the row it was reported for; no later table is read.
    TTabImport imp;
    imp.SetOnProgress([&](TObject*, int32_t progress, bool& cancel) {
      if (progress == 6) cancel = true;
    });
    const TFolderState before = FolderState(fOut);
    Run(imp, {a, b});
    EXPECT_TRUE(imp.Cancelled());
    EXPECT_EQ(imp.LinkCount(), 3);  // 26 * 3 / 14 rounds to 6
    EXPECT_TRUE(NoFileOfRunRemains(before, fOut));
  }
  const std::string out = fTemp.File("refused");
  fs::create_directories(out);
  for (const std::string& other : {shifted, degrees}) {
    TTabImport imp;
    imp.SetDirectory(out);
    imp.AddFiles({a, b, other});
    EXPECT_EQ(ExecuteError(imp), "Different Coordsys in input tables (" + other + ")");
    EXPECT_TRUE(NoFileOfRunRemains({}, out));
  }
  {
    TTabImport imp;
    imp.SetFailOnDifferentCoordSys(false);
    imp.SetCoordinateUnit(cuFt);  // the maps decide
    Run(imp, {a, degrees});
    EXPECT_EQ(imp.LinkCount(), 8);
    EXPECT_EQ(imp.CoordSys().rfind("CoordSys Earth Projection 8, 104, \"m\", -2, 49", 0), 0u) << imp.CoordSys();
    EXPECT_EQ(imp.CoordinateUnit(), cuDeg);
    EXPECT_EQ(ReadNetworkDir(fOut).Polyline(8), (std::vector<TFloatPoint>{{0.000001, 0.000002}, {-3, 4}}));
  }
}

// What the request check refuses before the output folder is touched, and
// what reading refuses with its table named; nothing of the run remains.
TEST_F(ImportTab, RefusedRequests) {
  TTabFixture f;
  f.Objects = WriterObjects(530000000, 180000000);
  const std::string a = WriteTabFixture(In("a"), f).Tab;
  const TTabWritten noid = WriteTabFixture(In("noid"), f);
  fs::remove(noid.Id);
  const TTabWritten nodat = WriteTabFixture(In("nodat"), f);
  fs::remove(nodat.Dat);
  f.Objects[2].ZFrom = 10;
  const TTabWritten level = WriteTabFixture(In("level"), f);
  f.Objects.pop_back();
  const TTabWritten fewer = WriteTabFixture(In("fewer"), f);
  PatchFile<int32_t>(fewer.Dat, 4, 5);  // five records for six rows
  const struct {
    std::vector<std::string> Files;
    int32_t ZFrom, ZTo;
    std::string Message;
  } cases[] = {
      {{a, noid.Tab}, -1, -1, "Cannot open file \"" + In("noid.id") + "\". No such file or directory"},
      {{a, nodat.Tab}, 0, 1, "Cannot open file \"" + In("nodat.dat") + "\". No such file or directory"},
      {{a, nodat.Tab}, -1, -1, ""},  // the .dat is needed only for z-levels
      {{a}, 0, 2, "Invalid fields for Z-levels defined"},
      {{a, level.Tab}, 0, 1, "Z-levels of out range (-9..9) (field ZFROM, record 3 of " + level.Dat + ")"},
      {{fewer.Tab}, 0, 1, "Corrupt MapInfo table " + fewer.Tab + ": 6 rows in the .id but 5 records in the .dat"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Message);
    const std::string out = fTemp.File("out" + std::to_string(&c - cases));
    fs::create_directories(out);
    TTabImport imp;
    imp.SetDirectory(out);
    imp.AddFiles(c.Files);
    imp.SetZFromField(c.ZFrom);
    imp.SetZToField(c.ZTo);
    EXPECT_EQ(ExecuteError(imp), c.Message);
    if (!c.Message.empty()) {
      EXPECT_TRUE(NoFileOfRunRemains({}, out));
    }
  }
}

}  // namespace
