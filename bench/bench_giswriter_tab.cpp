// TAB output of 5-point lines: through the MITAB writer and libmitab64.so,
// against the same features written with GDAL's C API directly (the floor
// the stand-in can reach) and against MIF/MID output. The "checks" counter
// is the number of file-size measurements (stat calls) per run.
#include <benchmark/benchmark.h>

#include <gdal.h>
#include <ogr_api.h>
#include <ogr_srs_api.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "giswriter/kovra_giswriter.h"
#include "giswriter/kovra_giswriter_tab.h"
#include "giswriter/kovra_giswriter_text.h"
#include "giswriter/mitab.h"

using namespace kovra;

namespace {

std::string Folder() {
  static const std::string f = [] {
    std::filesystem::path p = std::filesystem::temp_directory_path() / "kovra_bench_tab";
    std::filesystem::create_directories(p);
    return p.string();
  }();
  return f;
}

void RemoveLayer(const std::string& base) {
  for (const char* e : {".tab", ".map", ".id", ".dat", ".mif", ".mid"}) std::filesystem::remove(base + e);
}

class CountingMITAB : public TGISWriterMITAB {
public:
  int64_t Checks = 0;

protected:
  int64_t TableFileSize(const std::string& Name) const override {
    ++const_cast<CountingMITAB*>(this)->Checks;
    return TGISWriterMITAB::TableFileSize(Name);
  }
};

void Line(TFloatPointArrayEx& seg, int64_t i) {
  const double x = -170 + double(i % 3400) * 0.1, y = -80 + double((i / 3400) % 1600) * 0.1;
  for (int k = 0; k < 5; ++k) seg.Pnt[size_t(k)] = TFloatPoint{x + k * 0.01, y + (k % 2) * 0.01};
}

void BM_TabThroughStandIn(benchmark::State& state) {
  ::setenv("KOVRA_MITAB_LIBRARY", KOVRA_MITAB64_PATH, 0);
  if (!MITABLoaded()) {
    state.SkipWithError("libmitab64.so not loaded");
    return;
  }
  const std::string base = Folder() + "/standin";
  TFloatPointArrayEx seg;
  seg.Pnt.resize(5);
  seg.Count = 5;
  int64_t checks = 0;
  for (auto _ : state) {
    RemoveLayer(base);
    CountingMITAB w;
    w.FileName = base;
    w.StartHeader(1, otPline);
    w.AddField("id", gfInteger, 0, 0);
    std::string attr;
    for (int64_t i = 0; i < state.range(0); ++i) {
      Line(seg, i);
      attr = std::to_string(i);
      w.AddObject(1, false, attr);
      w.AddSection(0, seg);
      if (i % 10000 == 0) benchmark::DoNotOptimize(w.FileIsFull());
    }
    w.Close();
    checks = w.Checks;
  }
  state.counters["checks"] = double(checks);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_TabDirectOGR(benchmark::State& state) {
  GDALAllRegister();
  const std::string base = Folder() + "/direct";
  for (auto _ : state) {
    RemoveLayer(base);
    GDALDatasetH ds = GDALCreate(GDALGetDriverByName("MapInfo File"), (base + ".tab").c_str(), 0, 0, 0,
                                 GDT_Unknown, nullptr);
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    OSRImportFromMICoordSys(srs, cCoordSysWGS84);
    OGRLayerH l = GDALDatasetCreateLayer(ds, "direct", srs, wkbUnknown, nullptr);
    OGRFieldDefnH fd = OGR_Fld_Create("id", OFTInteger);
    OGR_L_CreateField(l, fd, FALSE);
    OGR_Fld_Destroy(fd);
    TFloatPointArrayEx seg;
    seg.Pnt.resize(5);
    for (int64_t i = 0; i < state.range(0); ++i) {
      Line(seg, i);
      OGRFeatureH f = OGR_F_Create(OGR_L_GetLayerDefn(l));
      OGR_F_SetFieldInteger(f, 0, int(i));
      OGRGeometryH g = OGR_G_CreateGeometry(wkbLineString);
      OGR_G_SetPointCount(g, 5);
      for (int k = 0; k < 5; ++k) OGR_G_SetPoint_2D(g, k, seg.Pnt[size_t(k)].x, seg.Pnt[size_t(k)].y);
      OGR_F_SetGeometryDirectly(f, g);
      OGR_F_SetStyleString(f, "PEN(w:1px,c:#000000,id:\"mapinfo-pen-2,ogr-pen-0\")");
      OGR_L_CreateFeature(l, f);
      OGR_F_Destroy(f);
    }
    GDALClose(ds);
    OSRRelease(srs);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_MIFSameLines(benchmark::State& state) {
  const std::string base = Folder() + "/mif";
  TFloatPointArrayEx seg;
  seg.Pnt.resize(5);
  seg.Count = 5;
  for (auto _ : state) {
    RemoveLayer(base);
    TGISWriterMIF w;
    w.FileName = base;
    w.StartHeader(1, otPline);
    w.AddField("id", gfInteger, 0, 0);
    std::string attr;
    for (int64_t i = 0; i < state.range(0); ++i) {
      Line(seg, i);
      attr = std::to_string(i);
      w.AddObject(1, false, attr);
      w.AddSection(0, seg);
    }
    w.Close();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(BM_TabThroughStandIn)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TabDirectOGR)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MIFSameLines)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);
