// Looking up the link of a text external id among 1M links: both index files
// in memory, only the bucket file in memory, neither (positional reads),
// against std::unordered_map<std::u16string, int>. Then the way back, link to id.
// Target: cached within 5x of the map.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/kovra_random.h"
#include "network/kovra_externid.h"
#include "network/support/network_writer.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

constexpr int64_t cLinks = 1'000'000;

class TIds {
public:
  TIds() {
    fDir = std::filesystem::temp_directory_path() / ("kovra_bench_externid_" + std::to_string(getpid()));
    std::filesystem::create_directories(fDir);
    TTestNetworkWriter w;
    w.AddGrid(GridForLinks(cLinks, 0));
    for (int32_t l = 1; l <= w.LinkCount(); ++l)
      Ids.push_back(u"NL" + ToUtf16(std::to_string(uint64_t(l) * 2654435761u % 10000000000u)));
    w.SetExternalIDs(Ids, 14);
    w.Write(fDir.string());
    TRandom r;
    r.SetSeed(7);
    for (int i = 0; i < 1 << 16; ++i) Order.push_back(r.NextInt(w.LinkCount()));
  }
  ~TIds() {
    std::error_code ec;
    std::filesystem::remove_all(fDir, ec);
  }
  std::string Dir() const { return fDir.string() + "/"; }
  const std::u16string& Id(size_t i) const { return Ids[size_t(Order[i & (Order.size() - 1)])]; }
  int32_t Link(size_t i) const { return Order[i & (Order.size() - 1)] + 1; }

  std::vector<std::u16string> Ids;
  std::vector<int32_t> Order;

private:
  std::filesystem::path fDir;
};

const TIds& Data() {
  static TIds d;
  return d;
}

// Arg: 0 neither file in memory, 1 index2.bin, 2 both.
void BM_FindIndex(benchmark::State& state) {
  TExternalID r;
  r.SetDirectory(Data().Dir());
  r.Open(state.range(0) == 2, state.range(0) >= 1);
  size_t i = 0;
  for (auto _ : state) {
    int32_t link;
    benchmark::DoNotOptimize(r.FindIndex(Data().Id(i++), link));
  }
}
BENCHMARK(BM_FindIndex)->Arg(0)->Arg(1)->Arg(2);

void BM_UnorderedMap(benchmark::State& state) {
  std::unordered_map<std::u16string, int> map;
  for (size_t l = 0; l < Data().Ids.size(); ++l) map.emplace(Data().Ids[l], int(l) + 1);
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(map.find(Data().Id(i++)));
}
BENCHMARK(BM_UnorderedMap);

void BM_FindExternalid(benchmark::State& state) {
  TExternalID r;
  r.SetDirectory(Data().Dir());
  r.Open(state.range(0) == 2, state.range(0) >= 1);
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(r.FindExternalid(Data().Link(i++)));
}
BENCHMARK(BM_FindExternalid)->Arg(0)->Arg(2);

}  // namespace
