// The spatial index of a curved grid of 1M links with about 5 vertices each:
//  - build (reading the directory, writing into memory) against a
//    Boost.Geometry rtree bulk-loaded with the same segments; target within 2x;
//  - load (read and check) against a plain read of the file; target within
//    1.5x; also against reading every value through a buffered stream;
//  - 10^7 random point lookups against the rtree's point query; target at
//    least as fast;
//  - bytes per cell of the loaded tree (counters of BM_Load).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <boost/geometry.hpp>
#include <boost/geometry/index/rtree.hpp>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "foundation/kovra_io.h"
#include "foundation/kovra_random.h"
#include "network/kovra_quadtree.h"
#include "network/support/network_writer.h"

using namespace kovra;
using namespace kovra::testsupport;
namespace bg = boost::geometry;
namespace bgi = boost::geometry::index;

namespace {

constexpr int64_t cLinks = 1'000'000;
constexpr int32_t cLookups = 10'000'000;

using TPoint = bg::model::point<double, 2, bg::cs::cartesian>;
using TSegment = bg::model::segment<TPoint>;
using TRtree = bgi::rtree<std::pair<TSegment, int32_t>, bgi::quadratic<16>>;

// The network and its index, written once per process and removed at exit.
class TNetwork {
public:
  TNetwork() {
    fDir = (std::filesystem::temp_directory_path() / ("kovra_bench_quadtree_" + std::to_string(getpid()))).string();
    std::filesystem::create_directories(fDir);
    TTestNetworkWriter w;
    // 0 to 6 intermediate vertices, 3 on average: about 5 vertices a link.
    w.AddGrid(GridForLinks(cLinks, 6));
    w.SpatialIndex = true;
    w.Write(fDir);
    fLinks = w.LinkCount();
    fNodes = int32_t(std::filesystem::file_size(fDir + "/coord.bin") / 16);
    for (int32_t link = 1; link <= fLinks; ++link) {
      const TFloatPointArray line = w.Polyline(link);
      for (size_t s = 0; s + 1 < line.size(); ++s)
        fSegments.push_back({TSegment({line[s].x, line[s].y}, {line[s + 1].x, line[s + 1].y}), link});
    }
    TQuadTree t;
    t.SetDirectory(fDir);
    t.Load(fNodes, fLinks);
    fRoot = t.Root().Rect();
    TRandom r;
    r.SetSeed(42);
    for (int i = 0; i < 1 << 20; ++i)
      fPoints.push_back({fRoot.xmin + r.NextDouble() * (fRoot.xmax - fRoot.xmin),
                         fRoot.ymin + r.NextDouble() * (fRoot.ymax - fRoot.ymin)});
  }
  ~TNetwork() {
    std::error_code ec;
    std::filesystem::remove_all(fDir, ec);
  }
  const std::string& Dir() const { return fDir; }
  int32_t Links() const { return fLinks; }
  int32_t Nodes() const { return fNodes; }
  const std::vector<std::pair<TSegment, int32_t>>& Segments() const { return fSegments; }
  const TFloatPoint& Point(size_t i) const { return fPoints[i & (fPoints.size() - 1)]; }

private:
  std::string fDir;
  int32_t fLinks = 0, fNodes = 0;
  std::vector<std::pair<TSegment, int32_t>> fSegments;
  TFloatRect fRoot;
  std::vector<TFloatPoint> fPoints;
};

const TNetwork& Network() {
  static TNetwork n;
  return n;
}

void BM_Build(benchmark::State& state) {
  const std::string dir = Network().Dir();  // written before the clock starts
  for (auto _ : state) {
    TKvMemoryStream out;
    TQuadTreeSetup b;
    b.SetDirectory(dir);
    b.Build(0, &out);
    state.counters["cells"] = b.CellCount();
    state.counters["segments"] = double(Network().Segments().size());
  }
}
BENCHMARK(BM_Build)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_RtreeBulkLoad(benchmark::State& state) {
  const auto& segments = Network().Segments();
  for (auto _ : state) {
    TRtree tree(segments.begin(), segments.end());
    benchmark::DoNotOptimize(tree.size());
  }
}
BENCHMARK(BM_RtreeBulkLoad)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Load(benchmark::State& state) {
  const std::string dir = Network().Dir();
  const double bytes = double(std::filesystem::file_size(dir + "/" + cSpatialIndexFileName));
  for (auto _ : state) {
    TQuadTree t;
    t.SetDirectory(dir);
    t.Load(Network().Nodes(), Network().Links());
    state.counters["cells"] = t.CellCount();
    state.counters["file bytes/cell"] = bytes / t.CellCount();
    state.counters["cell record bytes"] = double(sizeof(TQuadTreeCell));
  }
  state.SetBytesProcessed(int64_t(state.iterations() * bytes));
}
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond);

// The file into memory: open, one read of its size, close.
void BM_RawRead(benchmark::State& state) {
  const std::string name = Network().Dir() + "/" + cSpatialIndexFileName;
  const size_t size = std::filesystem::file_size(name);
  for (auto _ : state) {
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[size]);
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (::pread(fd, bytes.get(), size, 0) != ssize_t(size)) state.SkipWithError("read");
    ::close(fd);
    benchmark::DoNotOptimize(bytes.get());
  }
  state.SetBytesProcessed(int64_t(state.iterations() * size));
}
BENCHMARK(BM_RawRead)->Unit(benchmark::kMillisecond);

// Every value read one by one through a 1 MiB buffered stream, nothing kept
// or checked: what reading the file value by value costs at least.
void BM_BufferedTypedRead(benchmark::State& state) {
  const std::string name = Network().Dir() + "/" + cSpatialIndexFileName;
  for (auto _ : state) {
    TKvBufferedStream s(new TKvFileStream(name, fmOpenRead | fmShareDenyWrite), true);
    int64_t sum = 0;
    const int32_t cells = s.ReadInt32();
    // In pre-order a flat pass meets the same values as the tree walk.
    for (int32_t i = 0; i < cells; ++i) {
      for (int k = 0; k < 4; ++k) sum += int64_t(s.ReadDouble());
      sum += s.ReadInt32();
      if (s.ReadByte() != 0) continue;
      for (uint16_t r = s.ReadUInt16(); r > 0; --r) {
        sum += s.ReadInt32();
        sum += s.ReadUInt16();
        sum += s.ReadUInt16();
      }
    }
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BM_BufferedTypedRead)->Unit(benchmark::kMillisecond);

void BM_FindQuadTreeCell(benchmark::State& state) {
  TQuadTree t;
  t.SetDirectory(Network().Dir());
  t.Load(Network().Nodes(), Network().Links());
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(&FindQuadTreeCell(t, Network().Point(i++)));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FindQuadTreeCell)->Iterations(cLookups);

void BM_RtreePointQuery(benchmark::State& state) {
  const auto& segments = Network().Segments();
  const TRtree tree(segments.begin(), segments.end());
  std::vector<std::pair<TSegment, int32_t>> hits;
  size_t i = 0;
  for (auto _ : state) {
    const TFloatPoint& p = Network().Point(i++);
    hits.clear();
    tree.query(bgi::intersects(TPoint(p.x, p.y)), std::back_inserter(hits));
    benchmark::DoNotOptimize(hits.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RtreePointQuery)->Iterations(cLookups);

}  // namespace
