// Turn sets: reading a 1M-line turn text file against the comma-text file
// reader reading the same lines (target: within 2x), and automatic turn
// costs on a grid of 1M nodes (tracked, seconds).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "foundation/kovra_csvfiles.h"
#include "foundation/kovra_textfilewriter.h"
#include "network/kovra_network.h"
#include "network/kovra_roadclassspeed.h"
#include "network/kovra_turn.h"
#include "network/support/network_writer.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

class TBenchNetwork {
public:
  explicit TBenchNetwork(int64_t Links) {
    fDir = (std::filesystem::temp_directory_path() /
            ("kovra_bench_turns_" + std::to_string(getpid()) + "_" + std::to_string(Links)))
               .string() +
           "/";
    std::filesystem::create_directories(fDir);
    TTestNetworkWriter w;
    w.AddGrid(GridForLinks(Links, 2));
    for (int32_t l = 1; l <= w.LinkCount(); ++l) w.SetAttribute(l, uint16_t(l % 4));  // road classes 0..3
    w.Write(fDir);
    fNet.SetDirectory(fDir);
    fNet.Open(true, true, false, 0);
  }
  ~TBenchNetwork() {
    fNet.Close();
    std::error_code ec;
    std::filesystem::remove_all(fDir, ec);
  }
  TNetwork& Net() { return fNet; }
  const std::string& Dir() const { return fDir; }

private:
  std::string fDir;
  TNetwork fNet;
};

TBenchNetwork& Grid(int64_t Links) {
  static std::map<int64_t, std::unique_ptr<TBenchNetwork>> grids;
  auto& g = grids[Links];
  if (!g) g = std::make_unique<TBenchNetwork>(Links);
  return *g;
}

constexpr int64_t cLines = 1000000;

// 1M record lines of two meeting links (types 1 and 6, some prohibitions),
// as the export writes them.
const std::string& TurnFile() {
  static const std::string path = [] {
    TBenchNetwork& g = Grid(1000000);
    const TNetwork& net = g.Net();
    const std::string p = g.Dir() + "turns.txt";
    TTextFileWriter w(p, 1252, false);
    w.writeln(cTurnFileHeader);
    std::string line;
    int64_t written = 0;
    for (int32_t n = 1; written < cLines; n = n % net.NodeCount() + 1) {
      const auto a = net.Adjacent(n);
      for (size_t i = 0; i < a.size() && written < cLines; ++i)
        for (size_t j = 0; j < a.size() && written < cLines; ++j) {
          if (i == j) continue;
          line = "1 " + std::to_string(std::abs(a[i])) + " " + std::to_string(std::abs(a[j])) + " ";
          line += written % 3 == 0 ? "-1" : Format("%8.3f", double(written % 17) + 0.25);
          w.writeln(line);
          ++written;
        }
    }
    w.Close();
    return p;
  }();
  return path;
}

void BM_TurnImportTxt(benchmark::State& state) {
  TNetwork& net = Grid(1000000).Net();
  const std::string& file = TurnFile();
  for (auto _ : state) {
    net.TurnClear(0);
    benchmark::DoNotOptimize(net.TurnImportTxt(0, file));
  }
  state.SetItemsProcessed(state.iterations() * cLines);
}
BENCHMARK(BM_TurnImportTxt)->Unit(benchmark::kMillisecond)->UseRealTime();

// The baseline: the comma-text file reader reading the same lines.
void BM_ReadTurnFileLines(benchmark::State& state) {
  const std::string& file = TurnFile();
  for (auto _ : state) {
    TCSVFiles csv(0);
    csv.Add(file);
    csv.Open();
    int64_t n = 0;
    while (!csv.Eof()) {
      benchmark::DoNotOptimize(csv.ReadLine());
      ++n;
    }
    benchmark::DoNotOptimize(n);
  }
  state.SetItemsProcessed(state.iterations() * cLines);
}
BENCHMARK(BM_ReadTurnFileLines)->Unit(benchmark::kMillisecond)->UseRealTime();

// Junctions of degree 3 and 4 on a grid of about 1M nodes.
void BM_TurnAutoProcess(benchmark::State& state) {
  TNetwork& net = Grid(2000000).Net();
  TRoadClassTurnCost rctc;
  for (int32_t c = 0; c < 4; ++c) rctc.Put(TRoadClass(c), float(c + 1));
  for (auto _ : state) {
    net.TurnClear(0);
    net.TurnAutoProcess(0, false, &rctc, nullptr);
  }
  state.counters["nodes"] = net.NodeCount();
  state.counters["restrictions"] = net.TurnCount(0);
}
BENCHMARK(BM_TurnAutoProcess)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(2);

}  // namespace
