// The topology build: the node merge of 1M generated links by sorting against
// a balanced tree with one insertion per end, and the build stages on vertex
// files of 1M links (stage 1 with the merge, stages 2-3, the spatial index).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>
#include <vector>

#include "foundation/kovra_io.h"
#include "import/kovra_import.h"
#include "import/kovra_xytree.h"
#include "import/support/xytree_oracle.h"
#include "support/test_files.h"

namespace {

using namespace kovra;

// Ends of 1M short links on a grid: each point shared by about four ends.
const std::vector<TFloatPoint>& Ends() {
  static const std::vector<TFloatPoint> ends = [] {
    std::mt19937_64 rng(5);
    std::vector<TFloatPoint> e;
    const int side = 700;  // ~490k points for 2M ends
    for (int i = 0; i < 1000000; ++i) {
      const int x = int(rng() % side), y = int(rng() % side), dir = int(rng() % 4);
      e.push_back({x * 10.0, y * 10.0});
      e.push_back({(x + (dir == 0) - (dir == 1)) * 10.0, (y + (dir == 2) - (dir == 3)) * 10.0});
    }
    return e;
  }();
  return ends;
}

void BM_NodeMergeSort(benchmark::State& state) {
  Ends();
  for (auto _ : state) {
    TXYTree t;
    t.Reserve(int64_t(Ends().size()));
    for (const TFloatPoint& p : Ends()) t.Add(p);
    t.CreateID();
    benchmark::DoNotOptimize(t.NodeCount());
  }
}
BENCHMARK(BM_NodeMergeSort)->Unit(benchmark::kMillisecond);

void BM_NodeMergeTree(benchmark::State& state) {
  Ends();
  for (auto _ : state) {
    testsupport::TTreeXYIndex t;
    for (const TFloatPoint& p : Ends()) t.Add(p);
    t.CreateID();
    // The tree's lookup of every end, as the build's stage 2 would need it.
    int64_t sum = 0;
    for (const TFloatPoint& p : Ends()) sum += t.NodeId(p);
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BM_NodeMergeTree)->Unit(benchmark::kMillisecond);

// An import whose reading stage writes 1M two-vertex links straight into the
// intake; which build stages run is chosen by the benchmark.
class TGeneratedImport : public TImport {
public:
  int32_t StopAfter = 100;  // progress at which the handler cancels
  void Run(const std::string& Dir, bool Index) {
    SetDirectory(Dir);
    SetCoordinateUnit(cuM);
    SetSkipSpatialIndex(!Index);
    SetOnProgress([this](TObject*, int32_t p, bool& cancel) { cancel = p >= StopAfter; });
    FCancelled = false;
    BeginRun();
    fZRadius = 1;
    for (size_t k = 0; k + 1 < Ends().size(); k += 2) {
      ++fLinkCount;
      WriteVertexIndex();
      TFloatPoint* v = VertexBuffer(2);
      v[0] = Ends()[k];
      v[1] = Ends()[k + 1];
      fNumPoints = 2;
      AddPolyline(0);
    }
    WriteVertexIndex();
    CloseVertexFiles();
    Build();
    AbortRun();
  }
};

void BuildBench(benchmark::State& state, int32_t StopAfter, bool Index) {
  testsupport::TTempDir dir("kovra_bench_build");
  for (auto _ : state) {
    TGeneratedImport imp;
    imp.StopAfter = StopAfter;
    imp.Run(dir.Path.string() + "/", Index);
  }
}

// Stage 1 with the merge only (cancelled as stage 2 begins).
void BM_BuildStage1(benchmark::State& state) { BuildBench(state, 55, false); }
// Through stages 1 to 3 and the settings file.
void BM_BuildStages1To3(benchmark::State& state) { BuildBench(state, 101, false); }
// Everything, the spatial index included.
void BM_BuildWithIndex(benchmark::State& state) { BuildBench(state, 101, true); }
BENCHMARK(BM_BuildStage1)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_BuildStages1To3)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_BuildWithIndex)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace
