// The link export of 1M links to a shapefile and to the in-memory table,
// with the intermediate vertices cached and read from the file, against the
// writer alone writing the same polylines with a single id column (target:
// within 1.5x).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "giswriter/kovra_giswriter.h"
#include "network/kovra_network.h"
#include "network/support/network_writer.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

class TBenchNetworks {
public:
  TBenchNetworks() {
    fDir = (std::filesystem::temp_directory_path() / ("kovra_bench_export_" + std::to_string(getpid()))).string() + "/";
    std::filesystem::create_directories(fDir);
    TTestNetworkWriter w;
    w.AddGrid(GridForLinks(1000000, 8));
    for (int32_t l = 1; l <= w.LinkCount(); ++l) w.SetAttribute(l, uint16_t(l % 4 == 0 ? 0x200 : l % 32));
    w.Write(fDir);
    for (int32_t cached = 0; cached < 2; ++cached) {
      fNet[cached].SetDirectory(fDir);
      fNet[cached].Open(true, cached == 1, false, 0);
    }
  }
  ~TBenchNetworks() {
    for (TNetwork& n : fNet) n.Close();
    std::error_code ec;
    std::filesystem::remove_all(fDir, ec);
  }
  TNetwork& Net(bool cached) { return fNet[cached ? 1 : 0]; }
  const std::string& Dir() const { return fDir; }

private:
  std::string fDir;
  TNetwork fNet[2];
};

TBenchNetworks& Networks() {
  static TBenchNetworks n;
  return n;
}

TGISFormat FormatOf(int64_t f) { return f == 0 ? gfSHP : gfArray; }

// Args: format (0 shapefile, 1 in-memory table), vertices cached.
void BM_ExportLinks(benchmark::State& state) {
  TNetwork& net = Networks().Net(state.range(1) != 0);
  const TGISFormat GF = FormatOf(state.range(0));
  const std::string name = GF == gfArray ? "" : Networks().Dir() + "links";
  for (auto _ : state) net.ExportLinks(name, GF, nullptr, nullptr);
  state.SetItemsProcessed(state.iterations() * net.LinkCount());
}
BENCHMARK(BM_ExportLinks)->ArgsProduct({{0, 1}, {0, 1}})->Unit(benchmark::kMillisecond)->UseRealTime();

// The writer alone: the same polylines (cached vertices), one id column.
void BM_WriterAlone(benchmark::State& state) {
  TNetwork& net = Networks().Net(true);
  const TGISFormat GF = FormatOf(state.range(0));
  TGISArray table;
  TFloatPointArrayEx poly;
  std::string id;
  for (auto _ : state) {
    std::unique_ptr<TGISWriter> w = TGISWriter::GetGISObject(GF);
    if (GF == gfArray) w->GISarray = &table;
    else w->FileName = Networks().Dir() + "alone";
    w->StartHeader(1, otPline);
    w->AddField("ID", gfInteger, 9, 0);
    for (int32_t l = 1; l <= net.LinkCount(); ++l) {
      if (net.Lengths()[size_t(l)] == 0) continue;
      net.GetGISSection_raw(l, poly);
      id = std::to_string(l);
      w->AddObject(1, false, id);
      w->AddSection(1, poly);
    }
    w->Close();
  }
  state.SetItemsProcessed(state.iterations() * net.LinkCount());
}
BENCHMARK(BM_WriterAlone)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
