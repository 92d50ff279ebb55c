#include <benchmark/benchmark.h>

#include <memory>

#include "foundation/kovra_progress.h"

// ProgressExecute runs once per link or node of the library's loops; compared
// with the same loop that only counts.
namespace {
constexpr int64_t kCalls = 100000000;

void BM_EmptyLoop(benchmark::State& state) {
  for (auto _ : state)
    for (int64_t i = 0; i < kCalls; ++i) {
      double v = double(i);
      benchmark::DoNotOptimize(v);
    }
}

void RunProgress(benchmark::State& state, kovra::TProgress& p) {
  p.SetProgressMaxValue(double(kCalls));
  for (auto _ : state)
    for (int64_t i = 0; i < kCalls; ++i) p.ProgressExecute(double(i));
}

void BM_ProgressNoHandler(benchmark::State& state) {
  auto p = std::make_unique<kovra::TProgressCancel>();
  kovra::TProgress* base = p.get();  // called through the base, as the library does
  benchmark::DoNotOptimize(base);
  RunProgress(state, *base);
}

void BM_ProgressNoOpHandler(benchmark::State& state) {
  auto p = std::make_unique<kovra::TProgressCancel>();
  p->SetOnProgress([](kovra::TObject*, int32_t, bool&) {});
  kovra::TProgress* base = p.get();
  benchmark::DoNotOptimize(base);
  RunProgress(state, *base);
}
}  // namespace

BENCHMARK(BM_EmptyLoop)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProgressNoHandler)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProgressNoOpHandler)->Iterations(1)->Unit(benchmark::kMillisecond);
