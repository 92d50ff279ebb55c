// The MapInfo TAB reader against GDAL's own reader on tables ogr2ogr wrote,
// and on tables of the test's own writer: compressed lines, version 1500
// maps, NATIVEX z-levels, chained and spaced coordinate blocks, and corrupt
// pointers and sizes.
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

// Every object GDAL reads is the link the import made, bit for bit; rows
// without geometry are deleted objects, other geometries error 2 with the
// object's type.
void ExpectAsOgrReads(const std::string& tab, const TImport& imp, const TNetworkDir& net, double tolerance = 0) {
  const std::vector<TOgrObject> ogr = ReadWithOgr(tab, "MapInfo File");
  const std::vector<int> types = ObjectTypes(tab.substr(0, tab.size() - 4));
  ASSERT_EQ(imp.LinkCount(), int32_t(ogr.size())) << tab;
  ASSERT_EQ(types.size(), ogr.size());
  int32_t e = 0;
  for (int32_t L = 1; L <= imp.LinkCount(); ++L) {
    const TOgrObject& o = ogr[size_t(L - 1)];
    if (o.Type != "Line String") {
      ASSERT_LT(e, imp.ImportErrorList().Count()) << "link " << L;
      const TImportError& err = imp.ImportErrorList().GetItem(e++);
      EXPECT_EQ(err.link, L);
      EXPECT_EQ(err.linklocal, L);
      EXPECT_EQ(err.errorcode, o.Null ? ecDeleted : ecNotPolyLine) << "link " << L;
      EXPECT_EQ(err.value, types[size_t(L - 1)]) << "link " << L;
      continue;
    }
    const std::vector<TFloatPoint> line = net.Polyline(L);
    ASSERT_EQ(line.size(), o.Points.size()) << "link " << L;
    if (tolerance == 0) {
      EXPECT_EQ(std::memcmp(line.data(), o.Points.data(), line.size() * sizeof(TFloatPoint)), 0) << "link " << L;
    } else {
      for (size_t k = 0; k < line.size(); ++k) {
        ASSERT_NEAR(line[k].x, o.Points[k].x, tolerance) << "link " << L << " vertex " << k;
        ASSERT_NEAR(line[k].y, o.Points[k].y, tolerance) << "link " << L << " vertex " << k;
      }
    }
  }
  EXPECT_EQ(e, imp.ImportErrorList().Count());
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
  void Run(TReadStageImport& imp, const std::vector<std::string>& files) {
    imp.SetDirectory(fOut);
    imp.AddFiles(files);
    imp.Execute();
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
      ExpectAsOgrReads(tab, imp, ReadNetworkDir(fOut, key), c.Tolerance);
    }
  }
}

}  // namespace
