// TBitArray whole-set operations over 10^8 bits against plain word loops.
#include <benchmark/benchmark.h>

#include <bit>
#include <random>
#include <vector>

#include "foundation/kovra_bitarray.h"

using namespace kovra;

namespace {

constexpr int64_t cBits = 100000000;

TBitArray RandomSet(uint32_t seed) {
  TBitArray b(cBits);
  std::mt19937 rng(seed);
  for (int64_t i = 0; i < cBits / 3; ++i) b.SetBit2(int64_t(rng() % uint32_t(cBits)), true);
  return b;
}

std::vector<uint32_t> Words(const TBitArray& b) { return b.Words(); }

void BM_CountTrue(benchmark::State& state) {
  TBitArray b = RandomSet(1);
  for (auto _ : state) benchmark::DoNotOptimize(b.CountTrue());
}
BENCHMARK(BM_CountTrue)->Unit(benchmark::kMillisecond);

void BM_PlainPopcount(benchmark::State& state) {
  std::vector<uint32_t> w = Words(RandomSet(1));
  for (auto _ : state) {
    int64_t n = 0;
    for (uint32_t x : w) n += std::popcount(x);
    benchmark::DoNotOptimize(n);
  }
}
BENCHMARK(BM_PlainPopcount)->Unit(benchmark::kMillisecond);

void BM_OpenBit(benchmark::State& state) {
  TBitArray b(cBits);
  b.SetAllTrue();
  b.SetBit2(cBits - 5, false);
  for (auto _ : state) benchmark::DoNotOptimize(b.OpenBit());
}
BENCHMARK(BM_OpenBit)->Unit(benchmark::kMillisecond);

void BM_PlainFirstZeroWord(benchmark::State& state) {
  std::vector<uint32_t> w(size_t((cBits + 31) / 32), 0xFFFFFFFFu);
  w[w.size() - 1] = 0;
  for (auto _ : state) {
    size_t i = 0;
    while (i < w.size() && w[i] == 0xFFFFFFFFu) ++i;
    benchmark::DoNotOptimize(i);
  }
}
BENCHMARK(BM_PlainFirstZeroWord)->Unit(benchmark::kMillisecond);

void BM_P_And(benchmark::State& state) {
  TBitArray a = RandomSet(1), b = RandomSet(2);
  for (auto _ : state) {
    a.P_And(b);
    benchmark::DoNotOptimize(a.Words().data());
  }
}
BENCHMARK(BM_P_And)->Unit(benchmark::kMillisecond);

void BM_PlainAnd(benchmark::State& state) {
  std::vector<uint32_t> a = Words(RandomSet(1)), b = Words(RandomSet(2));
  for (auto _ : state) {
    for (size_t i = 0; i < a.size(); ++i) a[i] &= b[i];
    benchmark::DoNotOptimize(a.data());
  }
}
BENCHMARK(BM_PlainAnd)->Unit(benchmark::kMillisecond);

}  // namespace
