#include <benchmark/benchmark.h>

#include "platform/kovra_sysutils.h"

// Message formatting is on error paths only; this measures the general number text.
static void BM_FloatToStrG15(benchmark::State& state) {
  double v = 1.0 / 3.0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(kovra::FloatToStrG15(v));
    v += 1.0;
  }
}
BENCHMARK(BM_FloatToStrG15);
