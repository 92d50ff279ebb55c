// TIntegerList against std::vector: Add, Sort and IndexOf on a sorted list.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "foundation/kovra_integerlist.h"

using namespace kovra;

namespace {

constexpr int32_t cItems = 10000000;

std::vector<int32_t> RandomInts(int32_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<int32_t> v(static_cast<size_t>(n));
  for (auto& x : v) x = int32_t(rng());
  return v;
}

void BM_ListAdd(benchmark::State& state) {
  for (auto _ : state) {
    TIntegerList l;
    for (int32_t i = 0; i < cItems; ++i) l.Add(i);
    benchmark::DoNotOptimize(l.Count());
  }
}
BENCHMARK(BM_ListAdd)->Unit(benchmark::kMillisecond);

void BM_VectorPushBack(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<int32_t> v;
    for (int32_t i = 0; i < cItems; ++i) v.push_back(i);
    benchmark::DoNotOptimize(v.data());
  }
}
BENCHMARK(BM_VectorPushBack)->Unit(benchmark::kMillisecond);

void BM_ListSort(benchmark::State& state) {
  const std::vector<int32_t> data = RandomInts(cItems, 1);
  for (auto _ : state) {
    state.PauseTiming();
    TIntegerList l;
    l.SetCapacity(cItems);
    for (int32_t x : data) l.Add(x);
    state.ResumeTiming();
    l.Sort();
    benchmark::DoNotOptimize(l.First());
  }
}
BENCHMARK(BM_ListSort)->Unit(benchmark::kMillisecond);

void BM_StdSort(benchmark::State& state) {
  const std::vector<int32_t> data = RandomInts(cItems, 1);
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<int32_t> v = data;
    state.ResumeTiming();
    std::sort(v.begin(), v.end());
    benchmark::DoNotOptimize(v.data());
  }
}
BENCHMARK(BM_StdSort)->Unit(benchmark::kMillisecond);

void BM_ListIndexOf(benchmark::State& state) {
  TIntegerList l;
  for (int32_t i = 0; i < cItems; ++i) l.Add(2 * i);
  const std::vector<int32_t> probes = RandomInts(1000000, 2);
  for (auto _ : state) {
    int64_t found = 0;
    for (int32_t p : probes) found += l.IndexOf(int32_t(uint32_t(p) % uint32_t(2 * cItems)));
    benchmark::DoNotOptimize(found);
  }
}
BENCHMARK(BM_ListIndexOf)->Unit(benchmark::kMillisecond);

void BM_LowerBound(benchmark::State& state) {
  std::vector<int32_t> v;
  for (int32_t i = 0; i < cItems; ++i) v.push_back(2 * i);
  const std::vector<int32_t> probes = RandomInts(1000000, 2);
  for (auto _ : state) {
    int64_t found = 0;
    for (int32_t p : probes) {
      int32_t x = int32_t(uint32_t(p) % uint32_t(2 * cItems));
      auto it = std::lower_bound(v.begin(), v.end(), x);
      found += (it != v.end() && *it == x) ? int32_t(it - v.begin()) : -1;
    }
    benchmark::DoNotOptimize(found);
  }
}
BENCHMARK(BM_LowerBound)->Unit(benchmark::kMillisecond);

}  // namespace
