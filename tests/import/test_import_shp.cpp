// The shapefile reader against GDAL's own reader, byte-patched files, the
// unit from the .prj and z-levels from the .dbf tables.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

#include "import/kovra_import.h"
#include "import/support/folder_state.h"
#include "import/support/import_fixtures.h"
#include "import/support/network_dir.h"
#include "import/support/ogr_objects.h"
#include "support/test_files.h"

using namespace kovra;
using namespace kovra::testsupport;
namespace fs = std::filesystem;

namespace {

uint32_t BigEndianAt(const std::string& bytes, size_t offset) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + offset);
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

void PutBigEndian(std::string& bytes, size_t offset, uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes[offset + size_t(i)] = char(v >> (24 - 8 * i));
}

template <typename T>
void PutAt(std::string& bytes, size_t offset, T v) {
  std::memcpy(bytes.data() + offset, &v, sizeof v);
}

// Byte offset in the .shp of record r's content (after its 8-byte header).
size_t ContentOffset(const std::string& shx, int32_t r) {
  return 2 * size_t(BigEndianAt(shx, 100 + 8 * size_t(r - 1))) + 8;
}

void CopyCompanions(const std::string& fromStem, const std::string& toStem) {
  for (const char* ext : {".shx", ".dbf", ".prj"})
    if (fs::exists(fromStem + ext)) fs::copy_file(fromStem + ext, toStem + ext, fs::copy_options::overwrite_existing);
}

// A multi-line, a missing geometry, then lines of awkward doubles (3D for the Z file).
std::vector<TJsonFeature> Awkward(int32_t count, bool threeD) {
  std::vector<TJsonFeature> f = {
      {R"({"type":"MultiLineString","coordinates":[[[0,0],[1,1]],[[2,2],[3,3]],[[4,4],[5,4]]]})", ""},
      {"null", ""}};
  for (int32_t k = 0; k < count; ++k) {
    std::string coords;
    const int32_t n = 2 + k % 9;
    for (int32_t i = 0; i < n; ++i) {
      const double x = 512345.0 + k / 3.0 + i * 0.1 + 1e-9 * (k * 7 % 11);
      const double y = 170000.0 - k * std::numbers::pi + i * (0.7 + 1e-12);
      coords += std::string(i ? "," : "") + "[" + JsonNumber(x) + "," + JsonNumber(y) + (threeD ? ",12.5" : "") + "]";
    }
    f.push_back({R"({"type":"LineString","coordinates":[)" + coords + "]}", ""});
  }
  return f;
}

class ImportShapefile : public TImportTest {};

TEST_F(ImportShapefile, VerticesAsGdalReadsThem) {
  for (const char* type : {"LINESTRING", "LINESTRING25D", "LINESTRINGM"}) {
    SCOPED_TRACE(type);
    const std::string shp = Shapefile(std::string(type) + ".shp", Awkward(24, std::string(type) == "LINESTRING25D"),
                                      std::string("-a_srs EPSG:27700 -nlt ") + type);
    std::string plainIndex;
    // coord3.bin is enciphered by position with a key; coord3i.bin never.
    for (const int64_t key : {int64_t(0), int64_t(0x1234567890)}) {
      TReadStageImport imp;
      imp.SetEncryptionKey(key);
      Run(imp, {shp});
      ExpectAsOgrReads(shp, imp, ReadNetworkDir(fOut, key));
      const std::string index = ReadBytes(fOut + "/coord3i.bin");
      if (key == 0) {
        plainIndex = index;
      } else {
        EXPECT_EQ(index, plainIndex);
      }
    }
  }
}

// Records placed by patching: a count field across byte 8192, and records
// that are no polylines or do not fit the file.
TEST_F(ImportShapefile, PatchedRecords) {
  const std::string source = Shapefile("source.shp", Awkward(80, false));
  const std::string shp = ReadBytes(source), shx = ReadBytes(In("source.shx"));
  const int32_t records = int32_t((shx.size() - 100) / 8);

  // Padding before the last record whose point count starts before 8190, and
  // the later .shx offsets moved by as many words: the count then occupies
  // bytes 8190..8193. GDAL reads through the .shx as well.
  int32_t moved = 0;
  for (int32_t r = 3; r <= records; ++r)
    if (ContentOffset(shx, r) + 40 <= 8190) moved = r;
  ASSERT_TRUE(moved > 0 && moved < records) << "change the fixture";
  const size_t pad = 8190 - (ContentOffset(shx, moved) + 40);
  std::string padded = shp.substr(0, ContentOffset(shx, moved) - 8) + std::string(pad, '\x55') +
                       shp.substr(ContentOffset(shx, moved) - 8);
  std::string paddedShx = shx;
  for (int32_t r = moved; r <= records; ++r)
    PutBigEndian(paddedShx, 100 + 8 * size_t(r - 1), BigEndianAt(shx, 100 + 8 * size_t(r - 1)) + uint32_t(pad / 2));
  WriteBytes(In("padded.shp"), padded);
  CopyCompanions(In("source"), In("padded"));
  WriteBytes(In("padded.shx"), paddedShx);
  {
    TReadStageImport imp;
    Run(imp, {In("padded.shp")});
    ExpectAsOgrReads(In("padded.shp"), imp, ReadNetworkDir(fOut));
  }

  // Record 3 becomes a point record inside the polyline file.
  std::string point = shp;
  PutAt<int32_t>(point, ContentOffset(shx, 3), 1);
  WriteBytes(In("point.shp"), point);
  CopyCompanions(In("source"), In("point"));
  {
    TReadStageImport imp;
    Run(imp, {In("point.shp")});
    ASSERT_EQ(imp.LinkCount(), records);
    ASSERT_EQ(imp.ImportErrorList().Count(), 3);
    const TImportError& e = imp.ImportErrorList().GetItem(2);
    EXPECT_EQ(std::make_tuple(e.link, int(e.errorcode), e.value), std::make_tuple(3, int(ecNotPolyLine), 1));
  }

  // Each of these is refused with the record named and leaves no file.
  struct TCorrupt {
    std::string Name;
    std::string Shp, Shx;
    std::string Message;
  };
  std::vector<TCorrupt> corrupt;
  const std::string last = std::to_string(records);
  corrupt.push_back({"truncated", shp.substr(0, shp.size() - 20), shx,
                     "Corrupt shapefile record " + last + " in " + In("truncated.shp")});
  std::string pastEnd = shx;
  PutBigEndian(pastEnd, 100 + 8 * 4, uint32_t(shp.size() / 2 + 10));
  corrupt.push_back({"pastend", shp, pastEnd, "Corrupt shapefile record 5 in " + In("pastend.shp")});
  std::string intoHeader = shx;
  PutBigEndian(intoHeader, 100 + 8 * 1, 20);
  corrupt.push_back({"header", shp, intoHeader, "Corrupt shapefile record 2 in " + In("header.shp")});
  std::string shortContent = shx;
  PutBigEndian(shortContent, 100 + 8 * 6 + 4, BigEndianAt(shx, 100 + 8 * 6 + 4) - 8);
  corrupt.push_back({"short", shp, shortContent, "Corrupt shapefile record 7 in " + In("short.shp")});
  std::string manyPoints = shp;
  PutAt<int32_t>(manyPoints, ContentOffset(shx, 8) + 40, 70000);
  corrupt.push_back({"many", manyPoints, shx, "Corrupt shapefile record 8 in " + In("many.shp")});
  std::string noParts = shp;
  PutAt<int32_t>(noParts, ContentOffset(shx, 9) + 36, 0);
  corrupt.push_back({"noparts", noParts, shx, "Corrupt shapefile record 9 in " + In("noparts.shp")});
  std::string negative = shp;
  PutAt<int32_t>(negative, ContentOffset(shx, 10) + 40, -3);
  corrupt.push_back({"negative", negative, shx, "Corrupt shapefile record 10 in " + In("negative.shp")});

  const std::string out = fTemp.File("corrupt");
  fs::create_directories(out);
  for (const TCorrupt& c : corrupt) {
    WriteBytes(In(c.Name + ".shp"), c.Shp);
    CopyCompanions(In("source"), In(c.Name));
    WriteBytes(In(c.Name + ".shx"), c.Shx);
    TReadStageImport imp;
    imp.SetDirectory(out);
    imp.Add(In(c.Name + ".shp"));
    EXPECT_EQ(ExecuteError(imp), c.Message);
    EXPECT_TRUE(NoFileOfRunRemains({}, out)) << c.Name;
  }
}

TEST_F(ImportShapefile, UnitAndProjectionFromTheFirstPrj) {
  const std::vector<TJsonFeature> line = {{JsonLine({{1, 1}, {2, 2}}), R"("zf":0,"zt":9)"}};
  const std::string bng = Shapefile("bng.shp", line);
  const std::string wgs = Shapefile("wgs.shp", line, "-a_srs EPSG:4326");
  const std::string bngPrj = ReadBytes(In("bng.prj"));
  ASSERT_EQ(bngPrj.find('\n'), std::string::npos) << "the fixture's .prj is one line";

  // Level 9 moves the last vertex south by the z radius, 0.1 m in the unit.
  const struct {
    std::vector<std::string> Files;
    TCoordinateUnit Given;
    TCoordinateUnit Unit;
    std::string Prj;
    double Radius;
  } cases[] = {
      {{bng, wgs}, cuUnknown, cuM, bngPrj, 0.1},
      {{wgs, bng}, cuUnknown, cuDeg, ReadBytes(In("wgs.prj")), 0.0001 / 6378.13},
      {{bng}, cuFt, cuFt, "caller's", 0.0001 / 0.0003048},
      // A chain is 66 ft.
      {{bng}, cuChain, cuChain, "caller's", 0.0001 / 0.0201168},
  };
  for (const auto& c : cases) {
    TReadStageImport imp;
    imp.SetPrj("caller's");
    imp.SetCoordinateUnit(c.Given);
    imp.SetZFromField(0);
    imp.SetZToField(1);
    Run(imp, c.Files);
    EXPECT_EQ(imp.CoordinateUnit(), c.Unit);
    EXPECT_EQ(imp.Prj(), c.Prj);
    const TFloatPoint end = ReadNetworkDir(fOut).Polyline(1).back();
    EXPECT_NEAR(end.y, 2 - c.Radius, 1e-15) << int(c.Unit);
  }
}

TEST_F(ImportShapefile, ZLevelsFromTheTables) {
  // Levels 2 and 4 point 40 and 80 degrees clockwise from north; 0.1 m away.
  auto moved = [](TFloatPoint p, int z) {
    const double a = z * 20 * std::numbers::pi / 180;
    return TFloatPoint{p.x + 0.1 * std::sin(a), p.y + 0.1 * std::cos(a)};
  };
  const std::string a = Shapefile("a.shp", {{JsonLine({{0, 0}, {1, 0}}), R"("zf":0,"zt":0,"name":"Stra\u00dfe")"},
                                            {JsonLine({{1, 0}, {2, 0}}), R"("zf":null,"zt":0,"name":"x")"},
                                            {JsonLine({{2, 0}, {3, 0}}), R"("zf":-1,"zt":1,"name":"y")"}},
                                  "-a_srs EPSG:27700 -lco ENCODING=UTF-8");
  // No record: the next table's first record is the next link.
  const std::string empty = Shapefile("empty.shp", {{JsonLine({{0, 0}, {1, 0}}), R"("zf":0,"zt":0,"name":"x")"}},
                                      "-a_srs EPSG:27700 -lco ENCODING=UTF-8 -where 'zf = 99'");
  ASSERT_EQ(fs::file_size(In("empty.shx")), 100u);
  const std::string b = Shapefile("b.shp", {{JsonLine({{5, 5}, {6, 5}}), R"("zf":2,"zt":4,"name":"z")"},
                                            {JsonLine({{6, 5}, {6, 5}, {6, 5}}), R"("zf":null,"zt":null,"name":"")"}},
                                  "-a_srs EPSG:27700 -lco ENCODING=UTF-8");
  TReadStageImport imp;
  imp.SetZFromField(0);
  imp.SetZToField(1);
  Run(imp, {a, empty, b});
  ASSERT_EQ(imp.LinkCount(), 5);
  const TNetworkDir net = ReadNetworkDir(fOut);
  // A NULL level reads as 0.
  EXPECT_EQ(net.Polyline(2).front(), (TFloatPoint{1, 0}));
  EXPECT_NEAR(net.Polyline(3).front().x, moved({2, 0}, -1).x, 1e-12);
  // The first record of the third table gives the levels of link 4.
  const TFloatPoint p4 = net.Polyline(4).front(), q4 = net.Polyline(4).back();
  EXPECT_NEAR(p4.x, moved({5, 5}, 2).x, 1e-12);
  EXPECT_NEAR(p4.y, moved({5, 5}, 2).y, 1e-12);
  EXPECT_NEAR(q4.x, moved({6, 5}, 4).x, 1e-12);
  EXPECT_NEAR(q4.y, moved({6, 5}, 4).y, 1e-12);
  ASSERT_EQ(imp.ImportErrorList().Count(), 1);
  EXPECT_EQ(imp.ImportErrorList().GetItem(0).link, 5);
  EXPECT_EQ(imp.ImportErrorList().GetItem(0).fileindex, 2);
}

TEST_F(ImportShapefile, BadZLevelsNameTheirRecord) {
  const std::string roads = Shapefile("roads.shp", {{JsonLine({{0, 0}, {1, 0}}), R"("zf":1,"zt":0)"},
                                                    {JsonLine({{1, 0}, {2, 0}}), R"("zf":2,"zt":0)"},
                                                    {JsonLine({{2, 0}, {3, 0}}), R"("zf":10,"zt":0)"}});
  const std::string dbf = ReadBytes(In("roads.dbf"));
  const size_t headerSize = uint8_t(dbf[8]) | uint8_t(dbf[9]) << 8;
  const size_t recordSize = uint8_t(dbf[10]) | uint8_t(dbf[11]) << 8;
  const size_t width = uint8_t(dbf[32 + 16]);
  // Field zf of record 2, after the deletion flag.
  std::string text = dbf;
  text.replace(headerSize + recordSize + 1, width, std::string(width - 2, ' ') + "x7");
  std::string blank = dbf;
  blank.replace(headerSize + 2 * recordSize + 1, width, std::string(width, ' '));

  const struct {
    std::string Dbf;
    std::string Message;
  } cases[] = {
      {text, "'x7' is not a valid integer value (field ZF, record 2 of " + In("roads.dbf") + ")"},
      {dbf, "Z-levels of out range (-9..9) (field ZF, record 3 of " + In("roads.dbf") + ")"},
      {blank, ""},  // a blank field is level 0, not the 10 it replaced
  };
  const std::string out = fTemp.File("z");
  fs::create_directories(out);
  for (const auto& c : cases) {
    WriteBytes(In("roads.dbf"), c.Dbf);
    TReadStageImport imp;
    imp.SetDirectory(out);
    imp.SetZFromField(0);
    imp.SetZToField(1);
    imp.Add(roads);
    EXPECT_EQ(ExecuteError(imp), c.Message);
    if (!c.Message.empty()) {
      EXPECT_TRUE(NoFileOfRunRemains({}, out));
    }
  }
}

// The record count comes from the size of the .shx: one cut short would drop
// records silently. Its header states its length, and its last record must
// end where the records of the .shp end.
TEST_F(ImportShapefile, ShortIndexIsRefused) {
  const std::string source = Shapefile("source.shp", Awkward(298, false));
  const std::string shx = ReadBytes(In("source.shx"));
  ASSERT_EQ(shx.size(), 100u + 8 * 300);
  const std::string shpEnd = std::to_string(ReadBytes(source).size());
  // The last of the first 143 records ends where the 144th begins.
  const std::string end143 = std::to_string(ContentOffset(shx, 144) - 8);
  std::string restated = shx.substr(0, 1244);
  PutBigEndian(restated, 24, 1244 / 2);
  std::string headerOnly = shx.substr(0, 100);
  PutBigEndian(headerOnly, 24, 50);
  const struct {
    std::string Name, Shx, Message;
  } cases[] = {
      {"cut", shx.substr(0, 1250),
       "Corrupt shapefile " + In("cut.shx") + ": 1250 bytes, its header says " + std::to_string(shx.size())},
      {"restated", restated,
       "Corrupt shapefile " + In("restated.shx") + ": its 143 records end at byte " + end143 + " of " +
           In("restated.shp") + ", whose records run to " + shpEnd},
      {"header", headerOnly,
       "Corrupt shapefile " + In("header.shx") + ": its 0 records end at byte 100 of " + In("header.shp") +
           ", whose records run to " + shpEnd},
      {"whole", shx, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    fs::copy_file(source, In(c.Name + ".shp"));
    CopyCompanions(In("source"), In(c.Name));
    WriteBytes(In(c.Name + ".shx"), c.Shx);
    const TFolderState before = FolderState(fOut);
    TReadStageImport imp;
    imp.SetDirectory(fOut);
    imp.Add(In(c.Name + ".shp"));
    EXPECT_EQ(ExecuteError(imp), c.Message);
    if (c.Message.empty())
      EXPECT_EQ(imp.LinkCount(), 300);
    else
      EXPECT_TRUE(NoFileOfRunRemains(before, fOut));
  }
}

// Levels are read by record number over all tables, so a .dbf one record
// short would hand every later level to the link before its own.
TEST_F(ImportShapefile, ZLevelTableOfAnotherLengthIsRefused) {
  const auto roads = [](int32_t n) {
    std::vector<TJsonFeature> f;
    for (int32_t k = 0; k < n; ++k)
      f.push_back({JsonLine({{double(k), 0}, {double(k) + 1, 0}}), R"("zf":)" + std::to_string(k % 3) + R"(,"zt":0)"});
    return f;
  };
  const std::string a = Shapefile("a.shp", roads(3)), b = Shapefile("b.shp", roads(4));
  Shapefile("two.shp", roads(2));
  Shapefile("five.shp", roads(5));
  fs::copy_file(In("two.dbf"), In("a.dbf"), fs::copy_options::overwrite_existing);
  fs::copy_file(In("five.dbf"), In("b.dbf"), fs::copy_options::overwrite_existing);
  TReadStageImport imp;
  imp.SetDirectory(fOut);
  imp.SetZFromField(0);
  imp.SetZToField(1);
  imp.AddFiles({a, b});
  EXPECT_EQ(ExecuteError(imp), "Corrupt shapefile " + a + ": 3 records in the .shx but 2 records in " + In("a.dbf"));
  EXPECT_TRUE(NoFileOfRunRemains({}, fOut));
}

}  // namespace
