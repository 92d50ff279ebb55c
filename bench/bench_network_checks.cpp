// The object check on one link of 10^4 vertices: a zigzag without defects,
// so that both quadratic pair tests run to the end. Compared with the defect
// score of the same polyline alone, to show what the check's frame costs.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "foundation/kovra_geometry.h"
#include "network/kovra_network.h"
#include "network/support/network_writer.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

constexpr int32_t cVertices = 10'000;

class TLongLink {
public:
  TLongLink() {
    fDir = (std::filesystem::temp_directory_path() / ("kovra_bench_checks_" + std::to_string(getpid()))).string() +
           "/";
    std::filesystem::create_directories(fDir);
    TTestNetworkWriter w;
    TFloatPointArray line;
    for (int32_t i = 0; i < cVertices; ++i) line.push_back({double(i), double(i % 2)});
    w.AddLink(line);
    w.Write(fDir);
    fNet.SetDirectory(fDir);
    fNet.Open(false, true, false, 0);
  }
  ~TLongLink() {
    fNet.Close();
    std::error_code ec;
    std::filesystem::remove_all(fDir, ec);
  }
  TNetwork& Net() { return fNet; }

private:
  std::string fDir;
  TNetwork fNet;
};

TLongLink& LongLink() {
  static TLongLink link;
  return link;
}

void BM_ObjectCheck_LongLink(benchmark::State& state) {
  TNetwork& net = LongLink().Net();
  for (auto _ : state) benchmark::DoNotOptimize(net.ObjectCheck("", gfArray, 10));
  state.counters["vertices"] = cVertices;
}
BENCHMARK(BM_ObjectCheck_LongLink)->Unit(benchmark::kMillisecond);

void BM_PolylineDefectScore_LongLink(benchmark::State& state) {
  const TFloatPointArrayEx line = LongLink().Net().GetGISSection(1);
  for (auto _ : state) benchmark::DoNotOptimize(PolylineDefectScore(line, cuM, 10));
}
BENCHMARK(BM_PolylineDefectScore_LongLink)->Unit(benchmark::kMillisecond);

}  // namespace
