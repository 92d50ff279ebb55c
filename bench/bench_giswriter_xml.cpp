// The XML and JSON writers against the MIF writer on the same records
// (1 million 5-point lines with 5 columns), the in-memory GeoJSON sink against
// the file sink with its peak heap against the final text, and the bounds
// patching of a 1 MB against a 100 MB GPX file. Heap bytes in use are tracked
// through a replaced operator new.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "giswriter/kovra_giswriter.h"
#include "giswriter/kovra_giswriter_json.h"
#include "giswriter/kovra_giswriter_text.h"
#include "giswriter/kovra_giswriter_xml.h"

static std::atomic<int64_t> gLiveBytes{0};
static std::atomic<int64_t> gPeakBytes{0};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t n) {
  void* p = std::malloc(n ? n : 1);
  if (!p) throw std::bad_alloc();
  const int64_t live = gLiveBytes.fetch_add(int64_t(malloc_usable_size(p)), std::memory_order_relaxed) +
                       int64_t(malloc_usable_size(p));
  int64_t peak = gPeakBytes.load(std::memory_order_relaxed);
  while (live > peak && !gPeakBytes.compare_exchange_weak(peak, live, std::memory_order_relaxed)) {
  }
  return p;
}
void operator delete(void* p) noexcept {
  if (!p) return;
  gLiveBytes.fetch_sub(int64_t(malloc_usable_size(p)), std::memory_order_relaxed);
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
#pragma GCC diagnostic pop

namespace {

using namespace kovra;

constexpr int kRecords = 1000000;
constexpr int kTexts = 1024;

std::string Folder() {
  static const std::string dir = [] {
    auto p = std::filesystem::temp_directory_path() / ("kovra_bench_xml_" + std::to_string(::getpid()));
    std::filesystem::create_directories(p);
    return p.string();
  }();
  return dir;
}

// Attribute texts of five columns, made once.
const std::vector<std::string>& Texts() {
  static const std::vector<std::string> texts = [] {
    std::vector<std::string> t;
    for (int i = 0; i < kTexts; ++i)
      t.push_back(std::to_string(i * 7919) + ",\"Road " + std::to_string(i) + " & Co\"," +
                  std::to_string(i * 0.125) + ",2021" + std::to_string(1001 + i % 12 * 100).substr(1) + "15," +
                  (i % 2 ? "Y" : "N"));
    return t;
  }();
  return texts;
}

void Header(TGISWriter& w) {
  w.StartHeader(5, otPline);
  w.AddField("id", gfInteger, 10, 0);
  w.AddField("name", gfChar, 40, 0);
  w.AddField("len", gfFloat, 12, 3);
  w.AddField("day", gfDate, 8, 0);
  w.AddField("open", gfLogical, 1, 0);
}

void WriteLines(TGISWriter& w, int Records) {
  TFloatPointArrayEx part;
  part.Pnt.resize(5);
  part.Count = 5;
  const auto& texts = Texts();
  for (int r = 0; r < Records; ++r) {
    const double x = 13.0 + (r % 1000) * 0.001, y = 52.0 + (r / 1000) * 0.0001;
    for (int i = 0; i < 5; ++i) part.Pnt[size_t(i)] = TFloatPoint{x + i * 0.00013, y + i * 0.00007};
    w.AddObject(1, false, texts[size_t(r % kTexts)]);
    w.AddSection(0, part);
  }
}

template <typename W>
void BM_LayerToFile(benchmark::State& state) {
  for (auto _ : state) {
    W w;
    w.FileName = Folder() + "/layer";
    Header(w);
    WriteLines(w, kRecords);
    w.Close();
    state.PauseTiming();
    w.Drop();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_LayerToFile<TGISWriterMIF>)->Name("MIF (reference)")->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_LayerToFile<TGISWriterKML2>)->Name("KML")->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_LayerToFile<TGISWriterGML2>)->Name("GML")->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_LayerToFile<TGISWriterGPX>)->Name("GPX")->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_LayerToFile<TGISWriterGeoJSON>)->Name("GeoJSON file")->Unit(benchmark::kMillisecond)->Iterations(1);

// The in-memory sink; peak heap over the run against the final text.
void BM_GeoJSONInMemory(benchmark::State& state) {
  double ratio = 0, textMB = 0;
  for (auto _ : state) {
    const int64_t before = gLiveBytes.load();
    gPeakBytes.store(before);
    TGISWriterGeoJSON w;
    Header(w);
    WriteLines(w, kRecords);
    w.Close();
    const double size = double(w.GeoJSON.size());
    ratio = double(gPeakBytes.load() - before) / size;
    textMB = size / 1e6;
    benchmark::DoNotOptimize(w.GeoJSON.data());
  }
  state.counters["text_MB"] = textMB;
  state.counters["peak_heap_per_text"] = ratio;
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_GeoJSONInMemory)->Name("GeoJSON memory")->Unit(benchmark::kMillisecond)->Iterations(1);

// Bounds patching of a closed GPX layer: the time must not follow the file size.
class TPatchingGPX : public TGISWriterGPX {
public:
  using TGISWriter::PatchBounds;
  // Puts the placeholders back, so that the next patch finds them.
  void Unpatch() {
    static const char* tags[4] = {"minlon=\"", "minlat=\"", "maxlon=\"", "maxlat=\""};
    std::fstream f(FileName + ".gpx", std::ios::in | std::ios::out | std::ios::binary);
    for (int i = 0; i < 4; ++i) {
      f.seekp(std::streamoff(FBoundsOffset[size_t(i)]) + std::streamoff(std::strlen(tags[i])));
      f.write(cBoundsPlaceholder.data(), std::streamsize(cBoundsPlaceholder.size()));
    }
  }
};

void BM_PatchBounds(benchmark::State& state) {
  const int records = int(state.range(0));
  TPatchingGPX w;
  w.FileName = Folder() + "/bounds" + std::to_string(records);
  Header(w);
  WriteLines(w, records);
  w.Close();
  const auto bytes = std::filesystem::file_size(w.FileName + ".gpx");
  for (auto _ : state) {
    state.PauseTiming();
    w.Unpatch();
    state.ResumeTiming();
    w.PatchBounds(".gpx", "minlon=\"", "minlat=\"", "maxlon=\"", "maxlat=\"");
  }
  state.counters["file_MB"] = double(bytes) / 1e6;
  w.Drop();
}
// About 1 MB and 100 MB of GPX.
BENCHMARK(BM_PatchBounds)->Arg(1700)->Arg(170000)->Unit(benchmark::kMicrosecond);

}  // namespace
