// The import on a generated network as a shapefile, as MIF and as a MapInfo
// TAB table, each against ogr2ogr copying the same input to a shapefile:
//  - the reading stage alone; the shapefile and MIF rates are in MB/s of the
//    input read (.shp and .shx; .mif, and .mid with z-levels), the TAB rates
//    in objects per second. Target: at most half of ogr2ogr's time.
//  - Execute end to end, with and without the spatial index, with the
//    seconds of each stage, the peak memory and the bytes per link. Target:
//    within 2x of ogr2ogr's copy.
//
// The inputs are KOVRA_BENCH_SHP, KOVRA_BENCH_MIF and KOVRA_BENCH_TAB when
// set, else a network of KOVRA_BENCH_LINKS links (default 200000) made once by
// scripts/make-network-input into the temporary folder.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
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

struct TInput {
  const char* Env;   // variable naming a given input
  const char* Name;  // file name of the generated input
  const char* Args;  // ogr2ogr arguments of the generator
  std::vector<const char*> Companions;  // written besides the main file
  // Rates in bytes count the main file and the first companion, that one
  // with z-levels only when ZOnly; rates in objects count the rows of the .id.
  bool ZOnly;
  bool Objects;
};
const TInput cShp{"KOVRA_BENCH_SHP", "roads.shp", "", {".shx", ".dbf"}, false, false};
const TInput cMif{"KOVRA_BENCH_MIF", "roads.mif", "-f 'MapInfo File' -dsco FORMAT=MIF", {".mid"}, true, false};
const TInput cTab{"KOVRA_BENCH_TAB", "roads.tab", "-f 'MapInfo File'", {".map", ".id", ".dat"}, false, true};

std::string MakeInput(const TInput& input) {
  if (const char* given = std::getenv(input.Env)) return given;
  const char* links = std::getenv("KOVRA_BENCH_LINKS");
  const std::string count = links ? links : "200000";
  // Named apart from inputs of the generator's earlier plain grid.
  const fs::path dir = fs::temp_directory_path() / ("kovra_bench_import_v2_" + count);
  const fs::path path = dir / input.Name;
  bool complete = fs::exists(path);
  for (const char* ext : input.Companions) complete = complete && fs::exists(fs::path(path).replace_extension(ext));
  if (complete) return path.string();
  fs::create_directories(dir);
  const std::string cmd =
      "'" + Generator() + "' " + count + " '" + path.string() + "' " + input.Args + " >/dev/null";
  if (std::system(cmd.c_str()) != 0) return "";
  return path.string();
}

// Each input is made on first use only.
const std::string& InputPath(const TInput& input) {
  static std::map<const TInput*, std::string> made;
  auto it = made.find(&input);
  if (it == made.end()) it = made.emplace(&input, MakeInput(input)).first;
  return it->second;
}

// The rate of the runs so far over Input, read with or without z-levels.
void SetRate(benchmark::State& state, const TInput& input, bool zlevels) {
  const fs::path path = InputPath(input);
  if (input.Objects) {
    const double objects = double(fs::file_size(fs::path(path).replace_extension(".id")) / 4);
    state.counters["objects/s"] = benchmark::Counter(objects, benchmark::Counter::kIsIterationInvariantRate);
    return;
  }
  int64_t bytes = int64_t(fs::file_size(path));
  if (zlevels || !input.ZOnly)
    bytes += int64_t(fs::file_size(fs::path(path).replace_extension(input.Companions.front())));
  state.SetBytesProcessed(state.iterations() * bytes);
}

fs::path Scratch(const char* name) {
  const fs::path dir = fs::temp_directory_path() / (std::string("kovra_bench_import_out_") + name + "_" +
                                                     std::to_string(::getpid()));
  fs::create_directories(dir);
  return dir;
}

// Arg 1: z-levels from the two level fields of the table.
void BM_ImportReadStage(benchmark::State& state, const TInput& input) {
  const std::string& path = InputPath(input);
  if (path.empty()) {
    state.SkipWithError("no input: scripts/make-network-input failed");
    return;
  }
  const fs::path out = Scratch("read");
  int64_t links = 0;
  for (auto _ : state) {
    TReadOnlyImport imp;
    imp.SetDirectory(out.string());
    imp.Add(path);
    if (state.range(0)) {
      imp.SetZFromField(1);
      imp.SetZToField(2);
    }
    imp.Execute();
    links = imp.LinkCount();
  }
  state.counters["links"] = double(links);
  SetRate(state, input, state.range(0) != 0);
  fs::remove_all(out);
}
BENCHMARK_CAPTURE(BM_ImportReadStage, shp, cShp)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_ImportReadStage, mif, cMif)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_ImportReadStage, tab, cTab)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The process's peak resident memory is reset before each run (clear_refs 5)
// and read back as VmHWM, in bytes; -1 where the kernel offers neither.
bool ResetPeakMemory() {
  std::ofstream f("/proc/self/clear_refs");
  f << "5";
  f.flush();
  return bool(f);
}

double PeakMemory() {
  std::ifstream f("/proc/self/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) * 1024;  // kB
  return -1;
}

// Stage times from the progress the run reports. Each stage maps its links
// linearly onto a fixed range (reading 0, lengths and node merge 26, link
// file 54, node file 67, spatial index 71 to 100), so its start is found from
// the first reports of its first two percentages, taken at 0.5 and 1.5
// percent into the stage (the previous stage already rounds up to the bound).
// "merge" holds the lengths, the node numbering and coord.bin; "nodefile"
// holds node.bin, the settings file and the index's reading and cell
// splitting; "index" the segments of the index, its file and the link cipher.
class TTimedImport : public kovra::TImport {
public:
  using TClock = std::chrono::steady_clock;
  TClock::time_point Start, ReadEnd, End;
  TTimedImport() {
    SetOnProgress([this](kovra::TObject*, int32_t p, bool&) {
      if (p >= 0 && p <= 100 && !fSeen[p]) {
        fSeen[p] = true;
        fFirst[p] = TClock::now();
      }
    });
  }
  // The start of the stage whose range begins at Bound; End when it never ran.
  TClock::time_point StageStart(int32_t Bound) const {
    if (!fSeen[Bound + 1] || !fSeen[Bound + 2]) return End;
    return fFirst[Bound + 1] - (fFirst[Bound + 2] - fFirst[Bound + 1]) / 2;
  }

protected:
  void ReadInput() override {
    Start = TClock::now();
    TImport::ReadInput();
    ReadEnd = TClock::now();
  }
  void Build() override {
    TImport::Build();
    End = TClock::now();
  }

private:
  bool fSeen[101] = {};
  TClock::time_point fFirst[101];
};

// Arg 0: with the spatial index.
void BM_ImportExecute(benchmark::State& state, const TInput& input) {
  const std::string& path = InputPath(input);
  if (path.empty()) {
    state.SkipWithError("no input: scripts/make-network-input failed");
    return;
  }
  const fs::path out = Scratch("execute");
  auto seconds = [](auto a, auto b) { return std::chrono::duration<double>(b - a).count(); };
  double read = 0, merge = 0, linkfile = 0, nodefile = 0, index = 0, peak = 0;
  int64_t links = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const bool peakKnown = ResetPeakMemory();
    state.ResumeTiming();
    TTimedImport imp;
    imp.SetDirectory(out.string() + "/");
    imp.SetSkipSpatialIndex(state.range(0) == 0);
    imp.Add(path);
    imp.Execute();
    links = imp.LinkCount();
    read += seconds(imp.Start, imp.ReadEnd);
    merge += seconds(imp.ReadEnd, imp.StageStart(54));
    linkfile += seconds(imp.StageStart(54), imp.StageStart(67));
    nodefile += seconds(imp.StageStart(67), imp.StageStart(71));
    index += seconds(imp.StageStart(71), imp.End);
    peak = std::max(peak, peakKnown ? PeakMemory() : -1);
  }
  const double runs = double(state.iterations());
  state.counters["links"] = double(links);
  state.counters["s_read"] = read / runs;
  state.counters["s_merge"] = merge / runs;
  state.counters["s_linkfile"] = linkfile / runs;
  state.counters["s_nodefile"] = nodefile / runs;
  state.counters["s_index"] = index / runs;
  state.counters["peak_MB"] = peak / 1e6;
  state.counters["peak_B_per_link"] = links > 0 ? peak / double(links) : 0;
  SetRate(state, input, false);
  fs::remove_all(out);
}
BENCHMARK_CAPTURE(BM_ImportExecute, shp, cShp)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_ImportExecute, mif, cMif)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_ImportExecute, tab, cTab)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Ogr2ogrCopy(benchmark::State& state, const TInput& input) {
  const std::string& path = InputPath(input);
  if (path.empty()) {
    state.SkipWithError("no input: scripts/make-network-input failed");
    return;
  }
  const fs::path out = Scratch("ogr");
  const std::string cmd =
      "ogr2ogr -overwrite -f 'ESRI Shapefile' '" + (out / "copy.shp").string() + "' '" + path + "' >/dev/null 2>&1";
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    if (std::system(cmd.c_str()) != 0) {
      state.SkipWithError("ogr2ogr failed");
      break;
    }
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  // ogr2ogr reads every attribute: the .mid counts.
  SetRate(state, input, true);
  fs::remove_all(out);
}
BENCHMARK_CAPTURE(BM_Ogr2ogrCopy, shp, cShp)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK_CAPTURE(BM_Ogr2ogrCopy, mif, cMif)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK_CAPTURE(BM_Ogr2ogrCopy, tab, cTab)->Unit(benchmark::kMillisecond)->UseManualTime();

}  // namespace
