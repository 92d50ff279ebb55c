// Every file writer against GDAL's OGR API writing the same generated layer:
// N polylines of 11 vertices (N = KOVRA_BENCH_OGR_LINES, default 1,000,000,
// so 11 million vertices) with an integer, a text and a float column, code
// page 1252. Ours go through GetGISObject as a producer would; the OGR side
// creates a feature per record with the same values and geometry. TAB output
// goes through libmitab64.so (the stand-in on GDAL's MapInfo driver).
#include <benchmark/benchmark.h>

#include <cpl_string.h>
#include <gdal.h>
#include <ogr_api.h>
#include <ogr_srs_api.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>

#include "foundation/kovra_functions.h"
#include "giswriter/kovra_giswriter.h"

using namespace kovra;

namespace {

constexpr int kVertices = 11;

int64_t Lines() {
  static const int64_t n = [] {
    const char* e = std::getenv("KOVRA_BENCH_OGR_LINES");
    const int64_t v = e ? std::atoll(e) : 0;
    return v > 0 ? v : int64_t(1000000);
  }();
  return n;
}

// A folder of this run (TMPDIR chooses where: a tmpfs keeps disk noise out),
// removed at exit.
struct TRunFolder {
  std::string Path;
  TRunFolder() {
    auto p = std::filesystem::temp_directory_path() / ("kovra_bench_ogr_" + std::to_string(::getpid()));
    std::filesystem::create_directories(p);
    Path = p.string();
  }
  ~TRunFolder() {
    std::error_code ec;
    std::filesystem::remove_all(Path, ec);
  }
};

const std::string& Folder() {
  static const TRunFolder folder;
  return folder.Path;
}

void Clear(const std::string& base) {
  for (const char* e : {".shp", ".shx", ".dbf", ".prj", ".cpg", ".mif", ".mid", ".csv", ".kml", ".xml", ".xsd",
                        ".gml", ".geojson", ".tab", ".map", ".id", ".dat"})
    std::filesystem::remove(base + e);
}

// Record i: a zig-zag of 11 vertices somewhere on the globe.
void Geometry(int64_t i, TFloatPointArrayEx& seg) {
  const double x = -170 + double(i % 3400) * 0.1, y = -80 + double((i / 3400) % 1600) * 0.1;
  for (int k = 0; k < kVertices; ++k) seg.Pnt[size_t(k)] = TFloatPoint{x + k * 0.001, y + (k % 2) * 0.001};
}

double Length(int64_t i) { return double(i % 10007) * 0.125; }

void BM_Ours(benchmark::State& state, TGISFormat format, const char* ext) {
  ::setenv("KOVRA_MITAB_LIBRARY", KOVRA_MITAB64_PATH, 0);
  if (format == gfMITAB && !TGISWriter::MITAB_supported()) {
    state.SkipWithError("libmitab64.so not loaded");
    return;
  }
  const std::string base = Folder() + "/ours";
  TFloatPointArrayEx seg;
  seg.Pnt.resize(kVertices);
  seg.Count = kVertices;
  std::string attr;
  for (auto _ : state) {
    Clear(base);
    std::unique_ptr<TGISWriter> w = TGISWriter::GetGISObject(format);
    w->FileName = base;
    w->SetCodepage(1252);
    w->StartHeader(3, otPline);
    w->AddField("id", gfInteger, 0, 0);
    w->AddField("name", gfChar, 24, 0);
    w->AddField("len", gfFloat, 0, 0);
    for (int64_t i = 0; i < Lines(); ++i) {
      Geometry(i, seg);
      attr = std::to_string(i);
      attr += ",\"road ";
      attr += std::to_string(i);
      attr += "\",";
      attr += FloatToStrDot(Length(i));
      w->AddObject(1, false, attr);
      w->AddSection(0, seg);
    }
    w->Close();
  }
  state.counters["MB"] = double(std::filesystem::file_size(base + ext)) / 1e6;
  state.SetItemsProcessed(state.iterations() * Lines());
}

void BM_OGR(benchmark::State& state, const char* driver, const char* ext, const char* option,
            const char* layerOption) {
  GDALAllRegister();
  const std::string base = Folder() + "/ogr";
  for (auto _ : state) {
    Clear(base);
    char** dsOptions = option ? CSLAddString(nullptr, option) : nullptr;
    GDALDatasetH ds =
        GDALCreate(GDALGetDriverByName(driver), (base + ext).c_str(), 0, 0, 0, GDT_Unknown, dsOptions);
    CSLDestroy(dsOptions);
    if (!ds) {
      state.SkipWithError("GDAL cannot create the dataset");
      return;
    }
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    OSRSetWellKnownGeogCS(srs, "WGS84");
    OSRSetAxisMappingStrategy(srs, OAMS_TRADITIONAL_GIS_ORDER);
    char** layerOptions = layerOption ? CSLAddString(nullptr, layerOption) : nullptr;
    OGRLayerH l = GDALDatasetCreateLayer(ds, "ogr", srs, wkbLineString, layerOptions);
    CSLDestroy(layerOptions);
    // The float column as ours declares it: N(20,8) in a .dbf, Float (no
    // width) in MapInfo tables.
    const bool mapinfo = std::string(driver) == "MapInfo File";
    for (auto [name, type, width] : {std::tuple{"id", OFTInteger, 11}, {"name", OFTString, 24}, {"len", OFTReal, 20}}) {
      OGRFieldDefnH fd = OGR_Fld_Create(name, type);
      if (type != OFTReal || !mapinfo) OGR_Fld_SetWidth(fd, width);
      if (type == OFTReal && !mapinfo) OGR_Fld_SetPrecision(fd, 8);
      OGR_L_CreateField(l, fd, FALSE);
      OGR_Fld_Destroy(fd);
    }
    TFloatPointArrayEx seg;
    seg.Pnt.resize(kVertices);
    std::string name;
    for (int64_t i = 0; i < Lines(); ++i) {
      Geometry(i, seg);
      OGRFeatureH f = OGR_F_Create(OGR_L_GetLayerDefn(l));
      OGR_F_SetFieldInteger(f, 0, int(i));
      name = "road " + std::to_string(i);
      OGR_F_SetFieldString(f, 1, name.c_str());
      OGR_F_SetFieldDouble(f, 2, Length(i));
      OGRGeometryH g = OGR_G_CreateGeometry(wkbLineString);
      OGR_G_SetPointCount(g, kVertices);
      for (int k = 0; k < kVertices; ++k) OGR_G_SetPoint_2D(g, k, seg.Pnt[size_t(k)].x, seg.Pnt[size_t(k)].y);
      OGR_F_SetGeometryDirectly(f, g);
      if (OGR_L_CreateFeature(l, f) != OGRERR_NONE) state.SkipWithError("OGR refused a feature");
      OGR_F_Destroy(f);
    }
    GDALClose(ds);
    OSRRelease(srs);
  }
  state.counters["MB"] = double(std::filesystem::file_size(base + ext)) / 1e6;
  state.SetItemsProcessed(state.iterations() * Lines());
}

}  // namespace

// The code page goes to the drivers that take one; the others write UTF-8, as ours do.
#define KOVRA_PAIR(label, format, ext, driver, option, layerOption)                                       \
  BENCHMARK_CAPTURE(BM_Ours, label, format, ext)->Unit(benchmark::kMillisecond)->Iterations(1);           \
  BENCHMARK_CAPTURE(BM_OGR, label, driver, ext, option, layerOption)->Unit(benchmark::kMillisecond)->Iterations(1)

KOVRA_PAIR(TAB, gfMITAB, ".map", "MapInfo File", nullptr, "ENCODING=CP1252");
KOVRA_PAIR(SHP, gfSHP, ".shp", "ESRI Shapefile", nullptr, "ENCODING=CP1252");
KOVRA_PAIR(MIF, gfMIF, ".mif", "MapInfo File", "FORMAT=MIF", "ENCODING=CP1252");
KOVRA_PAIR(CSV, gfCSV, ".csv", "CSV", nullptr, nullptr);
KOVRA_PAIR(GeoJSON, gfGeoJSON, ".geojson", "GeoJSON", nullptr, nullptr);
KOVRA_PAIR(KML, gfKML2, ".kml", "KML", nullptr, nullptr);
KOVRA_PAIR(GML, gfGML2, ".xml", "GML", nullptr, nullptr);
