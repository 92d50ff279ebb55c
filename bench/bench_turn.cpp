// Turn sets: the search's GetList against an unordered_multimap lookup, and
// the binary turn file against a raw write and read of the same bytes.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/kovra_integerlist.h"
#include "network/kovra_turn.h"

using namespace kovra;

namespace {

constexpr int32_t cLinks = 1000000;
constexpr int64_t cCalls = 100000000;

// The links a search enters: a cheap generator both lookups share.
struct TLinkStream {
  uint32_t x = 12345;
  int32_t Next() {
    x = x * 1664525u + 1013904223u;
    return 1 + int32_t((uint64_t(x) * uint64_t(cLinks)) >> 32);
  }
};

// 1 % of the links are entered by restrictions, one or two each.
struct TRestrictedNetwork {
  TTurnRestrictions set{cLinks};
  std::unordered_multimap<int32_t, int32_t> map;
  TRestrictedNetwork() {
    std::mt19937 rng(3);
    for (int32_t i = 0; i < cLinks / 100; ++i) {
      const int32_t last = 1 + int32_t(rng() % cLinks);
      for (uint32_t k = 0; k <= rng() % 2; ++k) set.AddSimple(1 + int32_t(rng() % cLinks), last, -1);
    }
    TIntegerList list;
    for (int32_t l = 1; l <= cLinks; ++l)
      if (set.GetList(l, list))
        for (int32_t i = 0; i < list.Count(); ++i) map.emplace(l, list.GetItem(i));
  }
};

TRestrictedNetwork& Network() {
  static TRestrictedNetwork n;
  return n;
}

void BM_TurnGetList(benchmark::State& state) {
  const TTurnRestrictions& set = Network().set;
  TIntegerList list;
  for (auto _ : state) {
    TLinkStream links;
    int64_t hits = 0;
    for (int64_t i = 0; i < cCalls; ++i)
      if (set.GetList(links.Next(), list)) hits += list.Count();
    benchmark::DoNotOptimize(hits);
  }
}
BENCHMARK(BM_TurnGetList)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_UnorderedMultimapLookup(benchmark::State& state) {
  const auto& map = Network().map;
  std::vector<int32_t> list;
  for (auto _ : state) {
    TLinkStream links;
    int64_t hits = 0;
    for (int64_t i = 0; i < cCalls; ++i) {
      auto [first, last] = map.equal_range(links.Next());
      if (first == last) continue;
      list.clear();
      for (auto it = first; it != last; ++it) list.push_back(it->second);
      hits += int64_t(list.size());
    }
    benchmark::DoNotOptimize(hits);
  }
}
BENCHMARK(BM_UnorderedMultimapLookup)->Unit(benchmark::kMillisecond)->Iterations(3);

// ---------------------------------------------------------------------------
// Binary turn file of 1M restrictions of two to four links.

constexpr int32_t cRestrictions = 1000000;

std::string TempFile(const char* name) {
  return (std::filesystem::temp_directory_path() / ("kovra_bench_turn_" + std::to_string(::getpid()) + name))
      .string();
}

TTurnRestrictions& BigSet() {
  static TTurnRestrictions set(cLinks);
  static bool filled = false;
  if (!filled) {
    std::mt19937 rng(5);
    std::vector<int32_t> s;
    while (set.Count() < cRestrictions) {
      s.resize(2 + rng() % 3);
      for (int32_t& l : s) l = 1 + int32_t(rng() % cLinks);
      set.Add({s, rng() % 2 ? -1.0f : float(rng() % 100) + 0.5f});
    }
    filled = true;
  }
  return set;
}

void BM_TurnExportBin(benchmark::State& state) {
  const std::string name = TempFile("export.bin");
  const TTurnRestrictions& set = BigSet();
  for (auto _ : state) set.ExportBin(name);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(std::filesystem::file_size(name)));
  std::filesystem::remove(name);
}
BENCHMARK(BM_TurnExportBin)->Unit(benchmark::kMillisecond);

void BM_TurnImportBin(benchmark::State& state) {
  const std::string name = TempFile("import.bin");
  BigSet().ExportBin(name);
  for (auto _ : state) {
    state.PauseTiming();
    auto set = std::make_unique<TTurnRestrictions>(cLinks);
    state.ResumeTiming();
    set->ImportBin(name);
    benchmark::DoNotOptimize(set->Count());
    state.PauseTiming();  // freeing the set is not part of the import
    set.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(std::filesystem::file_size(name)));
  std::filesystem::remove(name);
}
BENCHMARK(BM_TurnImportBin)->Unit(benchmark::kMillisecond);

std::vector<char> FileBytes() {
  const std::string name = TempFile("bytes.bin");
  BigSet().ExportBin(name);
  std::vector<char> bytes(std::filesystem::file_size(name));
  std::FILE* f = std::fopen(name.c_str(), "rb");
  if (std::fread(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::abort();
  std::fclose(f);
  std::filesystem::remove(name);
  return bytes;
}

void BM_RawWrite(benchmark::State& state) {
  const std::vector<char> bytes = FileBytes();
  const std::string name = TempFile("raw.bin");
  for (auto _ : state) {
    std::FILE* f = std::fopen(name.c_str(), "wb");
    benchmark::DoNotOptimize(std::fwrite(bytes.data(), 1, bytes.size(), f));
    std::fclose(f);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
  std::filesystem::remove(name);
}
BENCHMARK(BM_RawWrite)->Unit(benchmark::kMillisecond);

void BM_RawRead(benchmark::State& state) {
  const std::vector<char> bytes = FileBytes();
  const std::string name = TempFile("raw.bin");
  {
    std::FILE* f = std::fopen(name.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  std::vector<char> in(bytes.size());
  for (auto _ : state) {
    std::FILE* f = std::fopen(name.c_str(), "rb");
    benchmark::DoNotOptimize(std::fread(in.data(), 1, in.size(), f));
    std::fclose(f);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
  std::filesystem::remove(name);
}
BENCHMARK(BM_RawRead)->Unit(benchmark::kMillisecond);

}  // namespace
