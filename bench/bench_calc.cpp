// The cost of one link as the searches ask for it, over every link of a
// 1M-link network: CostFT under the three criteria (time with and without a
// speed cap) and the per-search column reader, against a raw read of the same
// column (target 1.2x).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "network/kovra_network.h"
#include "network/support/network_writer.h"
#include "routing/kovra_calc.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

constexpr int64_t cLinks = 1'000'000;

// One open network per process with one time and one cost column, removed at exit.
class TBenchData {
public:
  TBenchData() {
    fDir = (std::filesystem::temp_directory_path() / ("kovra_bench_calc_" + std::to_string(getpid()))).string() + "/";
    std::filesystem::create_directories(fDir);
    TTestNetworkWriter w;
    w.Unit = cuM;
    w.AddGrid(GridForLinks(cLinks, 0));
    w.Write(fDir);
    NW.SetDirectory(fDir);
    NW.Open(false, false, false, 0);
    NW.CreateArrayTime(1);
    NW.CreateArrayCost(1);
    for (int32_t l = 1; l <= NW.LinkCount(); ++l) {
      // Speeds of 20..110 km/h, so a 50 km/h cap changes some links and not others.
      NW.SetTime_raw(0, l, float(double(NW.Lengths()[size_t(l)]) * 60.0 / (20 + (l * 37) % 91)));
      NW.SetCost_raw(0, l, NW.Lengths()[size_t(l)] * 1.7f);
    }
  }
  ~TBenchData() {
    std::error_code ec;
    std::filesystem::remove_all(fDir, ec);
  }
  TNetwork NW;

private:
  std::string fDir;
};

TBenchData& Data() {
  static TBenchData d;
  return d;
}

enum TMode { mDist, mTime, mTimeCap, mCost };

std::unique_ptr<TCalc> MakeCalc(TMode m) {
  auto c = std::make_unique<TCalc>(Data().NW, false);
  switch (m) {
    case mDist: c->SetShortest(false); break;
    case mTime: c->SetFastest(false); break;
    case mTimeCap: c->SetFastest(false); c->SetMaxSpeed(50); break;
    case mCost: c->SetCheapest(false); break;
  }
  return c;
}

const float* RawColumn(TMode m) {
  const TNetwork& nw = Data().NW;
  return m == mDist ? nw.Lengths().data() : m == mCost ? nw.Costs()[0].data() : nw.Times()[0].data();
}

void Raw(benchmark::State& state) {
  const TMode m = TMode(state.range(0));
  const float* col = RawColumn(m);
  const int32_t n = Data().NW.LinkCount();
  for (auto _ : state) {
    double sum = 0;
    for (int32_t l = 1; l <= n; ++l) sum += col[l];
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * n);
}

// The capped time written out by hand over the two raw columns: what the cap
// itself costs, against which CostFT and the reader are judged in mode 2.
void RawCapped(benchmark::State& state) {
  const float* col = RawColumn(mTime);
  const float* len = Data().NW.Lengths().data();
  const int32_t n = Data().NW.LinkCount();
  const double cap = 50;
  for (auto _ : state) {
    double sum = 0;
    for (int32_t l = 1; l <= n; ++l) sum += float(std::max(double(col[l]), double(len[l]) * 60.0 / cap));
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * n);
}

void CostFT(benchmark::State& state) {
  auto c = MakeCalc(TMode(state.range(0)));
  const int32_t n = Data().NW.LinkCount();
  for (auto _ : state) {
    double sum = 0;
    for (int32_t l = 1; l <= n; ++l) sum += c->CostFT(l, 0);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * n);
}

void Reader(benchmark::State& state) {
  auto c = MakeCalc(TMode(state.range(0)));
  const int32_t n = Data().NW.LinkCount();
  for (auto _ : state) {
    const TLinkCost cost = c->LinkCostReader(true);
    double sum = 0;
    for (int32_t l = 1; l <= n; ++l) sum += cost(l);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * n);
}

// Arg: 0 distance, 1 time, 2 time with a 50 km/h cap, 3 cost. The raw read
// of the capped time is the uncapped column: the cap's division is the price.
BENCHMARK(Raw)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);
BENCHMARK(RawCapped)->Unit(benchmark::kMicrosecond);
BENCHMARK(CostFT)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);
BENCHMARK(Reader)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);

}  // namespace
