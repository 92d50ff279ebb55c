// The statistics report of the desktop program on 5M links.
//
// Synthetic arrays: StatisticsReport against the memory floor, a loop that
// only sums the same arrays the report reads (target: within 2x).
// An opened network of the same size: the report on its read-only views
// against the same counts gathered through the network's checked getters,
// one call per link and value (the naive baseline).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "app/core/studio_opennetwork.h"
#include "app/core/studio_statistics.h"
#include "network/kovra_network.h"
#include "network/support/network_writer.h"

using namespace studio;

namespace {

constexpr int32_t cLinks = 5'000'000;
const NumberFormat cFmt{".", ","};

// Per-link arrays as an open network holds them: 1 % invalid links, a few
// loops, a quarter on cul-de-sacs, random words and limit bytes.
struct TSyntheticArrays {
  std::vector<float> Lengths;
  std::vector<int32_t> From, To;
  std::vector<uint32_t> CulDeSac;
  std::vector<uint16_t> Words;
  std::array<std::vector<uint8_t>, 3> Limit;
  StatsInput In;

  TSyntheticArrays() {
    const size_t n = size_t(cLinks) + 1;
    std::mt19937 rng(72);
    Lengths.resize(n);
    From.resize(n);
    To.resize(n);
    Words.resize(n);
    CulDeSac.assign((n + 31) / 32, 0);
    for (auto& v : Limit) v.resize(n);
    for (size_t l = 1; l < n; ++l) {
      const uint32_t r = rng();
      Lengths[l] = r % 100 == 0 ? 0.0f : float(r % 1000) / 997.0f + 0.001f;
      From[l] = int32_t(r % 3000000) + 1;
      To[l] = r % 1000 == 7 ? From[l] : int32_t((r >> 8) % 3000000) + 1;
      if ((r >> 3) % 4 == 0) CulDeSac[l >> 5] |= 1u << (l & 31);
      Words[l] = uint16_t(rng());
      for (auto& v : Limit) v[l] = uint8_t(rng() % 8 == 0 ? rng() : 0);
    }
    In.Directory = "/bench/";
    In.Unit = kovra::cuDeg;
    In.MBR = {0, 50, 2, 52};
    In.LinkCount = cLinks;
    In.NodeCount = 3000000;
    In.MaxDegree = 8;
    In.Lengths = Lengths;
    In.Fromnodes = From;
    In.Tonodes = To;
    In.CulDeSacs = CulDeSac;
    In.Attributes = true;
    In.AttributeWords = Words;
    In.LimitTicked = {true, true, true};
    for (size_t k = 0; k < 3; ++k) In.Limits[k] = Limit[k];
  }
};

const TSyntheticArrays& Synthetic() {
  static const TSyntheticArrays a;
  return a;
}

// Arg: 0 no attribute blocks nor limits, 1 attribute blocks, 2 three limit
// histograms, 3 both.
void BM_Report_Synthetic(benchmark::State& state) {
  StatsInput in = Synthetic().In;
  in.Attributes = (state.range(0) & 1) != 0;
  in.LimitTicked.fill((state.range(0) & 2) != 0);
  for (auto _ : state) {
    auto lines = StatisticsReport(in, kovra::duKm, cFmt);
    benchmark::DoNotOptimize(lines.data());
  }
  state.SetItemsProcessed(state.iterations() * cLinks);
}
BENCHMARK(BM_Report_Synthetic)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

// Reads every array the report reads, and only sums them.
void BM_MemoryFloor_Synthetic(benchmark::State& state) {
  const StatsInput& in = Synthetic().In;
  for (auto _ : state) {
    double length = 0;
    uint64_t sum = 0;
    for (size_t l = 1; l <= size_t(cLinks); ++l) {
      length += in.Lengths[l];
      sum += uint32_t(in.Fromnodes[l]) + uint32_t(in.Tonodes[l]) + in.AttributeWords[l] + in.Limits[0][l] +
             in.Limits[1][l] + in.Limits[2][l];
    }
    for (const uint32_t w : in.CulDeSacs) sum += w;
    benchmark::DoNotOptimize(length);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * cLinks);
}
BENCHMARK(BM_MemoryFloor_Synthetic)->Unit(benchmark::kMillisecond);

// A grid of about 5M links with words and three limit files, written once
// per process and opened with everything the report reads.
class TOpenBenchNetwork {
public:
  TOpenBenchNetwork() {
    fDir = (std::filesystem::temp_directory_path() / ("kovra_bench_statistics_" + std::to_string(getpid()))).string() +
           "/";
    std::filesystem::create_directories(fDir);
    kovra::testsupport::TTestNetworkWriter w;
    w.AddGrid(kovra::testsupport::GridForLinks(cLinks, 0));
    const int32_t L = w.LinkCount();
    std::vector<uint8_t> lim(static_cast<size_t>(L));
    for (int32_t l = 1; l <= L; ++l) {
      w.SetAttribute(l, uint16_t(l * 2654435761u >> 16));
      lim[size_t(l - 1)] = uint8_t(l % 8 == 0 ? l * 7 : 0);
    }
    for (int32_t k = 1; k <= 3; ++k) w.SetLimit(k, lim);
    w.Write(fDir);
    Row = DefaultNetworkRow();
    Row.Path = fDir;
    Row.SpatialIndex = false;
    Row.Limit1 = Row.Limit2 = Row.Limit3 = 1;
    fOpener.Open(Row, kovra::duKm, cFmt);
  }
  ~TOpenBenchNetwork() {
    fOpener.Close();
    std::error_code ec;
    std::filesystem::remove_all(fDir, ec);
  }
  const kovra::TNetwork& Net() const { return *fNet; }
  NetworkRow Row;

private:
  std::string fDir;
  std::unique_ptr<kovra::TNetwork> fNet;
  OpenNetwork fOpener{fNet};
};

const TOpenBenchNetwork& Opened() {
  static const TOpenBenchNetwork n;
  return n;
}

void BM_Report_OpenNetworkViews(benchmark::State& state) {
  const TOpenBenchNetwork& o = Opened();
  for (auto _ : state) {
    auto lines = StatisticsReport(StatsInputOf(o.Net(), o.Row), kovra::duKm, cFmt);
    benchmark::DoNotOptimize(lines.data());
  }
  state.SetItemsProcessed(state.iterations() * o.Net().LinkCount());
}
BENCHMARK(BM_Report_OpenNetworkViews)->Unit(benchmark::kMillisecond);

// The same counts through one checked getter per link and value.
void BM_Report_CheckedGetters(benchmark::State& state) {
  const TOpenBenchNetwork& o = Opened();
  const kovra::TNetwork& net = o.Net();
  const int32_t L = net.LinkCount();
  for (auto _ : state) {
    int64_t invalid = 0, loops = 0, cds = 0, both = 0;
    std::array<int64_t, 32> classes{};
    std::array<double, 32> classLength{};
    std::array<int64_t, 8> hierarchy{};
    std::array<int64_t, 16> bits{};
    std::array<std::array<int64_t, 256>, 3> limits{};
    const double total = net.Length();
    for (int32_t l = 1; l <= L; ++l) {
      const float d = net.LinkLength(l);
      if (d == 0) {
        ++invalid;
        continue;
      }
      loops += net.LoopLink(l);
      cds += net.GetCulDeSac(l);
      const uint16_t w = net.AttributeGet(l);
      ++classes[w & 31];
      classLength[w & 31] += d;
      ++hierarchy[(w >> 5) & 7];
      for (int b = 8; b < 16; ++b) bits[size_t(b)] += net.AttributeGetBit(l, uint8_t(b));
      both += net.AttributeGetBit(l, 9) && net.AttributeGetBit(l, 10);
      for (int32_t k = 1; k <= 3; ++k) ++limits[size_t(k - 1)][net.GetLimit(k, l)];
    }
    benchmark::DoNotOptimize(total);
    benchmark::DoNotOptimize(invalid + loops + cds + both);
    benchmark::DoNotOptimize(classes.data());
    benchmark::DoNotOptimize(classLength.data());
    benchmark::DoNotOptimize(hierarchy.data());
    benchmark::DoNotOptimize(bits.data());
    benchmark::DoNotOptimize(limits.data());
  }
  state.SetItemsProcessed(state.iterations() * L);
}
BENCHMARK(BM_Report_CheckedGetters)->Unit(benchmark::kMillisecond);

}  // namespace
