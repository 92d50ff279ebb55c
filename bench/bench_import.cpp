// The reading stage of the import on a generated shapefile, against ogr2ogr
// copying the same shapefile, both in MB/s of .shp and .shx. Target: the
// reading stage takes at most half of ogr2ogr's time.
//
// The input is KOVRA_BENCH_SHP when set, else a network of KOVRA_BENCH_LINKS
// links (default 200000) made once by scripts/make-network-input into the
// temporary folder.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "import/kovra_import.h"

namespace fs = std::filesystem;

namespace {

class TReadOnlyImport : public kovra::TImport {
protected:
  void Build() override {}
};

// The generator, found from the benchmark's place in <root>/<build>/bench.
std::string Generator() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return (exe.parent_path().parent_path().parent_path() / "scripts" / "make-network-input").string();
}

const std::string& InputPath() {
  static const std::string path = []() -> std::string {
    if (const char* given = std::getenv("KOVRA_BENCH_SHP")) return given;
    const char* links = std::getenv("KOVRA_BENCH_LINKS");
    const std::string count = links ? links : "200000";
    const fs::path dir = fs::temp_directory_path() / ("kovra_bench_import_" + count);
    const fs::path shp = dir / "roads.shp";
    if (fs::exists(shp) && fs::exists(dir / "roads.shx") && fs::exists(dir / "roads.dbf")) return shp.string();
    fs::create_directories(dir);
    const std::string cmd = "'" + Generator() + "' " + count + " '" + shp.string() + "' >/dev/null";
    if (std::system(cmd.c_str()) != 0) return "";
    return shp.string();
  }();
  return path;
}

int64_t InputBytes(const std::string& shp) {
  return int64_t(fs::file_size(shp) + fs::file_size(fs::path(shp).replace_extension(".shx")));
}

fs::path Scratch(const char* name) {
  const fs::path dir = fs::temp_directory_path() / (std::string("kovra_bench_import_out_") + name + "_" +
                                                     std::to_string(::getpid()));
  fs::create_directories(dir);
  return dir;
}

// Arg 1: z-levels from the two level fields of the table.
void BM_ImportReadStage(benchmark::State& state) {
  const std::string& shp = InputPath();
  if (shp.empty()) {
    state.SkipWithError("no input: scripts/make-network-input failed");
    return;
  }
  const fs::path out = Scratch("read");
  int64_t links = 0;
  for (auto _ : state) {
    TReadOnlyImport imp;
    imp.SetDirectory(out.string());
    imp.Add(shp);
    if (state.range(0)) {
      imp.SetZFromField(1);
      imp.SetZToField(2);
    }
    imp.Execute();
    links = imp.LinkCount();
  }
  state.counters["links"] = double(links);
  state.SetBytesProcessed(state.iterations() * InputBytes(shp));
  fs::remove_all(out);
}
BENCHMARK(BM_ImportReadStage)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Ogr2ogrCopy(benchmark::State& state) {
  const std::string& shp = InputPath();
  if (shp.empty()) {
    state.SkipWithError("no input: scripts/make-network-input failed");
    return;
  }
  const fs::path out = Scratch("ogr");
  const std::string cmd =
      "ogr2ogr -overwrite -f 'ESRI Shapefile' '" + (out / "copy.shp").string() + "' '" + shp + "' >/dev/null 2>&1";
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    if (std::system(cmd.c_str()) != 0) {
      state.SkipWithError("ogr2ogr failed");
      break;
    }
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  state.SetBytesProcessed(state.iterations() * InputBytes(shp));
  fs::remove_all(out);
}
BENCHMARK(BM_Ogr2ogrCopy)->Unit(benchmark::kMillisecond)->UseManualTime();

}  // namespace
