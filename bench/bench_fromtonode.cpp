// Z-levels from external node ids on a 1M-link grid, written as a DBF table
// and to the in-memory table, against the CSV reader alone reading the same
// input line by line into fields (target: within 3x).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "foundation/kovra_csvfiles.h"
#include "network/kovra_network.h"
#include "network/support/network_writer.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

class TBenchNetwork {
public:
  explicit TBenchNetwork(int64_t Links) {
    fDir = (std::filesystem::temp_directory_path() / ("kovra_bench_zlevels_" + std::to_string(getpid())))
               .string() +
           "/";
    std::filesystem::create_directories(fDir);
    TTestNetworkWriter w;
    w.AddGrid(GridForLinks(Links, 2));
    w.Write(fDir);
    fNet.SetDirectory(fDir);
    fNet.Open(false, false, false, 0);
    // The ends at every fifth node carry two ids (one per digitising
    // direction), as where a bridge crosses; all others one id per node.
    std::ofstream f(Input(), std::ios::binary);
    for (int32_t l = 1; l <= fNet.LinkCount(); ++l) {
      const int32_t a = fNet.Fromnodes()[size_t(l)], b = fNet.Tonodes()[size_t(l)];
      const int64_t ia = a % 5 == 0 ? 1000000000 + a : a;
      f << ia << ',' << b << ",x\r\n";
    }
  }
  ~TBenchNetwork() {
    fNet.Close();
    std::error_code ec;
    std::filesystem::remove_all(fDir, ec);
  }
  TNetwork& Net() { return fNet; }
  std::string Input() const { return fDir + "ids.txt"; }
  std::string Out() const { return fDir + "z"; }

private:
  std::string fDir;
  TNetwork fNet;
};

TBenchNetwork& Grid() {
  static TBenchNetwork g(1'000'000);
  return g;
}

void BM_ExternalNodeId2ZLevels(benchmark::State& state) {
  TBenchNetwork& g = Grid();
  const TGISFormat GF = state.range(0) ? gfDBF : gfArray;
  for (auto _ : state) g.Net().ExternalNodeId2ZLevels(g.Input(), g.Out(), GF);
}
BENCHMARK(BM_ExternalNodeId2ZLevels)->Arg(0)->Arg(1)->ArgName("dbf")->Unit(benchmark::kMillisecond);

void BM_CsvReaderAlone(benchmark::State& state) {
  TBenchNetwork& g = Grid();
  std::vector<std::string> fields;
  for (auto _ : state) {
    TCSVFiles csv(1252);
    csv.Add(g.Input());
    csv.Open();
    int64_t n = 0;
    while (!csv.Eof()) {
      csv.ReadLine(fields);
      n += int64_t(fields.size());
    }
    benchmark::DoNotOptimize(n);
  }
}
BENCHMARK(BM_CsvReaderAlone)->Unit(benchmark::kMillisecond);

}  // namespace
