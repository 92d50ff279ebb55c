// TSparseMatrix.Add of random pairs against std::unordered_set<uint64_t>.
#include <benchmark/benchmark.h>

#include <random>
#include <unordered_set>
#include <vector>

#include "foundation/kovra_sparsematrix.h"

using namespace kovra;

namespace {

// Pairs of link ids of a network of n links, with some repeats.
std::vector<std::pair<int32_t, int32_t>> Pairs(int64_t n) {
  std::mt19937 rng(7);
  std::vector<std::pair<int32_t, int32_t>> v(static_cast<size_t>(n));
  for (auto& p : v) p = {int32_t(rng() % uint32_t(n)) + 1, int32_t(rng() % uint32_t(n)) + 1};
  for (size_t i = 0; i + 10 < v.size(); i += 10) v[i + 5] = v[i];
  return v;
}

void BM_SparseMatrixAdd(benchmark::State& state) {
  const auto pairs = Pairs(state.range(0));
  for (auto _ : state) {
    TSparseMatrix s(int32_t(state.range(0)) + 1);
    int64_t present = 0;
    for (auto& p : pairs) present += s.Add(p.first, p.second);
    benchmark::DoNotOptimize(present);
  }
}
BENCHMARK(BM_SparseMatrixAdd)->Arg(100000)->Arg(1000000)->Arg(10000000)->Unit(benchmark::kMillisecond);

void BM_UnorderedSetAdd(benchmark::State& state) {
  const auto pairs = Pairs(state.range(0));
  for (auto _ : state) {
    std::unordered_set<uint64_t> s;
    int64_t present = 0;
    for (auto& p : pairs) present += !s.insert(uint64_t(uint32_t(p.first)) << 32 | uint32_t(p.second)).second;
    benchmark::DoNotOptimize(present);
  }
}
BENCHMARK(BM_UnorderedSetAdd)->Arg(100000)->Arg(1000000)->Arg(10000000)->Unit(benchmark::kMillisecond);

}  // namespace
