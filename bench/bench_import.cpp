// The reading stage of the import on a generated shapefile, against ogr2ogr
// copying the same shapefile, both in MB/s of .shp and .shx; and on the same
// network as a MapInfo TAB table, against ogr2ogr copying that table to a
// shapefile, both in objects per second. Target: the reading stage takes at
// most half of ogr2ogr's time.
//
// The inputs are KOVRA_BENCH_SHP and KOVRA_BENCH_TAB when set, else a network
// of KOVRA_BENCH_LINKS links (default 200000) made once by
// scripts/make-network-input into the temporary folder.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

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

// The generated network in the given format ("shp" or "tab"), made once.
std::string MakeInput(const char* ext, const char* variable, const std::string& args) {
  if (const char* given = std::getenv(variable)) return given;
  const char* links = std::getenv("KOVRA_BENCH_LINKS");
  const std::string count = links ? links : "200000";
  const fs::path dir = fs::temp_directory_path() / ("kovra_bench_import_" + count);
  const fs::path file = dir / (std::string("roads.") + ext);
  const fs::path stem = fs::path(file).replace_extension();
  const std::vector<std::string> companions =
      std::string(ext) == "shp" ? std::vector<std::string>{".shp", ".shx", ".dbf"}
                                : std::vector<std::string>{".tab", ".map", ".id", ".dat"};
  bool complete = true;
  for (const std::string& companion : companions) complete = complete && fs::exists(stem.string() + companion);
  if (complete) return file.string();
  fs::create_directories(dir);
  const std::string cmd = "'" + Generator() + "' " + count + " '" + file.string() + "' " + args + " >/dev/null";
  if (std::system(cmd.c_str()) != 0) return "";
  return file.string();
}

const std::string& InputPath() {
  static const std::string path = MakeInput("shp", "KOVRA_BENCH_SHP", "");
  return path;
}

const std::string& TabPath() {
  static const std::string path = MakeInput("tab", "KOVRA_BENCH_TAB", "-f 'MapInfo File'");
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

// The reading stage on Input, with z-levels from fields 1 and 2 when Arg 0 is
// 1; the links of the last run, -1 when there is no input.
int64_t RunReadStage(benchmark::State& state, const std::string& input, const char* scratch) {
  if (input.empty()) {
    state.SkipWithError("no input: scripts/make-network-input failed");
    return -1;
  }
  const fs::path out = Scratch(scratch);
  int64_t links = 0;
  for (auto _ : state) {
    TReadOnlyImport imp;
    imp.SetDirectory(out.string());
    imp.Add(input);
    if (state.range(0)) {
      imp.SetZFromField(1);
      imp.SetZToField(2);
    }
    imp.Execute();
    links = imp.LinkCount();
  }
  fs::remove_all(out);
  return links;
}

// ogr2ogr copying Input to a shapefile; false when there is no input or it failed.
bool TimeOgr2ogr(benchmark::State& state, const std::string& input, const char* scratch) {
  if (input.empty()) {
    state.SkipWithError("no input: scripts/make-network-input failed");
    return false;
  }
  const fs::path out = Scratch(scratch);
  const std::string cmd =
      "ogr2ogr -overwrite -f 'ESRI Shapefile' '" + (out / "copy.shp").string() + "' '" + input + "' >/dev/null 2>&1";
  bool ok = true;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    if (std::system(cmd.c_str()) != 0) {
      state.SkipWithError("ogr2ogr failed");
      ok = false;
      break;
    }
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  fs::remove_all(out);
  return ok;
}

void BM_ImportReadStage(benchmark::State& state) {
  const int64_t links = RunReadStage(state, InputPath(), "read");
  if (links < 0) return;
  state.counters["links"] = double(links);
  state.SetBytesProcessed(state.iterations() * InputBytes(InputPath()));
}
BENCHMARK(BM_ImportReadStage)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Ogr2ogrCopy(benchmark::State& state) {
  if (TimeOgr2ogr(state, InputPath(), "ogr")) state.SetBytesProcessed(state.iterations() * InputBytes(InputPath()));
}
BENCHMARK(BM_Ogr2ogrCopy)->Unit(benchmark::kMillisecond)->UseManualTime();

// Objects per second, an object being a row of the .id.
void BM_ImportReadStageTab(benchmark::State& state) {
  const int64_t links = RunReadStage(state, TabPath(), "tab");
  if (links >= 0)
    state.counters["objects/s"] = benchmark::Counter(double(links), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ImportReadStageTab)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Ogr2ogrCopyTab(benchmark::State& state) {
  if (!TimeOgr2ogr(state, TabPath(), "ogrtab")) return;
  const double objects = double(fs::file_size(fs::path(TabPath()).replace_extension(".id")) / 4);
  state.counters["objects/s"] = benchmark::Counter(objects, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_Ogr2ogrCopyTab)->Unit(benchmark::kMillisecond)->UseManualTime();

}  // namespace
