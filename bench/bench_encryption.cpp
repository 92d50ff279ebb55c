#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "foundation/kovra_encryption.h"

// 10^8 values per run (a 10^6 buffer 100 times), against a plain copy.
namespace {
constexpr size_t kBuf = 1000000;
constexpr int kRounds = 100;

void BM_CopyCardinal(benchmark::State& state) {
  std::vector<uint32_t> in(kBuf, 0x12345678u), out(kBuf);
  for (auto _ : state)
    for (int r = 0; r < kRounds; ++r) {
      for (size_t i = 0; i < kBuf; ++i) out[i] = in[i];
      benchmark::ClobberMemory();
    }
}

void BM_EncodeCardinal(benchmark::State& state) {
  std::vector<uint32_t> in(kBuf, 0x12345678u), out(kBuf);
  kovra::T32Encryption e(12345);
  for (auto _ : state)
    for (int r = 0; r < kRounds; ++r) {
      e.Restart();
      for (size_t i = 0; i < kBuf; ++i) out[i] = e.Encode(in[i]);
      benchmark::ClobberMemory();
    }
}

void BM_CopyInt64(benchmark::State& state) {
  std::vector<int64_t> in(kBuf, 0x123456789ABCDEFll);
  std::vector<double> out(kBuf);
  for (auto _ : state)
    for (int r = 0; r < kRounds; ++r) {
      std::memcpy(out.data(), in.data(), kBuf * sizeof(double));
      benchmark::ClobberMemory();
    }
}

void BM_DecodeInt64(benchmark::State& state) {
  std::vector<int64_t> in(kBuf, 0x123456789ABCDEFll);
  std::vector<double> out(kBuf);
  kovra::T32Encryption e(12345);
  for (auto _ : state)
    for (int r = 0; r < kRounds; ++r) {
      e.Restart();
      for (size_t i = 0; i < kBuf; ++i) out[i] = e.Decode(in[i]);
      benchmark::ClobberMemory();
    }
}

void BM_ArrayDecode(benchmark::State& state) {
  std::vector<int64_t> in(kBuf, 0x123456789ABCDEFll);
  std::vector<double> out(kBuf);
  kovra::T32EncryptionArray a(12345);
  for (auto _ : state)
    for (int r = 0; r < kRounds; ++r) {
      for (size_t i = 0; i < kBuf; ++i) out[i] = a.Decode(in[i], int32_t(i));
      benchmark::ClobberMemory();
    }
}
}  // namespace

BENCHMARK(BM_CopyCardinal)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeCardinal)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyInt64)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeInt64)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArrayDecode)->Iterations(1)->Unit(benchmark::kMillisecond);
