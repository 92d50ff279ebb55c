// Geometry of a 250k-link network (metres and degrees): link polylines,
// cached and uncached, against a memcpy and a pread of the same points;
// crow-fly distances against a bare haversine loop; projection onto
// 10-vertex links and location points, tracked for later comparison.
// Targets: GetGISSection_raw within 1.5x of memcpy / pread; crow-fly
// distances within 1.1x of the bare loop.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "foundation/kovra_geometry.h"
#include "network/kovra_coord3file.h"
#include "network/kovra_network.h"
#include "network/support/network_writer.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

constexpr int64_t cLinks = 250'000;

class TBenchNetwork {
public:
  TBenchNetwork(TCoordinateUnit Unit, double Spacing) {
    fDir = (std::filesystem::temp_directory_path() /
            ("kovra_bench_geometry_" + std::to_string(getpid()) + "_" + std::to_string(int(Unit))))
               .string() +
           "/";
    std::filesystem::create_directories(fDir);
    TTestNetworkWriter w;
    w.Unit = Unit;
    TGridOptions o = GridForLinks(cLinks, 10);
    o.Spacing = Spacing;
    w.AddGrid(o);
    w.Write(fDir);
    fVertices = w.Vertices();
  }
  ~TBenchNetwork() {
    std::error_code ec;
    std::filesystem::remove_all(fDir, ec);
  }
  const std::string& Dir() const { return fDir; }
  const TFloatPointArray& Vertices() const { return fVertices; }

private:
  std::string fDir;
  TFloatPointArray fVertices;
};

const TBenchNetwork& Metres() {
  static const TBenchNetwork n(cuM, 100);
  return n;
}
const TBenchNetwork& Degrees() {
  static const TBenchNetwork n(cuDeg, 0.001);
  return n;
}

TNetwork& Opened(const TBenchNetwork& b, bool cache) {
  static TNetwork nets[2];
  TNetwork& net = nets[cache ? 1 : 0];
  if (!net.IsOpen() || net.Directory() != b.Dir()) {
    net.SetDirectory(b.Dir());
    net.Open(false, cache, false, 0);
  }
  return net;
}

void BM_GetGISSection_raw(benchmark::State& state) {
  TNetwork& net = Opened(Metres(), state.range(0) != 0);
  TFloatPointArrayEx list;
  list.Pnt.resize(64);
  int64_t points = 0;
  for (auto _ : state)
    for (int32_t l = 1; l <= net.LinkCount(); ++l) {
      net.GetGISSection_raw(l, list);
      points += list.Count;
      benchmark::DoNotOptimize(list.Pnt.data());
    }
  state.counters["points/s"] = benchmark::Counter(double(points), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_GetGISSection_raw)->Arg(0)->Arg(1)->ArgName("cached")->Unit(benchmark::kMillisecond);

// Points per link (ends included), as the vertex reader counts them.
const std::vector<int32_t>& Counts() {
  static const std::vector<int32_t> counts = [] {
    TNetwork& net = Opened(Metres(), true);
    std::vector<int32_t> c;
    for (int32_t l = 1; l <= net.LinkCount(); ++l) c.push_back(net.Coord3File()->GetCount(l - 1));
    return c;
  }();
  return counts;
}

// The same points copied from memory, link by link.
void BM_MemcpyPoints(benchmark::State& state) {
  const TFloatPointArray& v = Metres().Vertices();
  const std::vector<int32_t>& counts = Counts();
  std::vector<TFloatPoint> buffer(64);
  for (auto _ : state) {
    size_t at = 0;
    for (const int32_t n : counts) {
      std::memcpy(buffer.data(), v.data() + at, size_t(n) * sizeof(TFloatPoint));
      at += size_t(n);
      benchmark::DoNotOptimize(buffer.data());
    }
  }
}
BENCHMARK(BM_MemcpyPoints)->Unit(benchmark::kMillisecond);

// A positional read of each link's intermediate vertices from coord3.bin.
void BM_PreadPoints(benchmark::State& state) {
  const std::vector<int32_t>& counts = Counts();
  const int fd = ::open((Metres().Dir() + "coord3.bin").c_str(), O_RDONLY);
  std::vector<TFloatPoint> buffer(64);
  for (auto _ : state) {
    off_t at = 0;
    for (const int32_t n : counts) {
      const size_t bytes = size_t(n - 2) * sizeof(TFloatPoint);
      if (bytes) benchmark::DoNotOptimize(pread(fd, buffer.data() + 1, bytes, at));
      at += off_t(bytes);
    }
  }
  ::close(fd);
}
BENCHMARK(BM_PreadPoints)->Unit(benchmark::kMillisecond);

void BM_DistanceBetweenPoints_raw(benchmark::State& state) {
  TNetwork& net = Opened(Degrees(), true);
  const TFloatPointArray& v = Degrees().Vertices();
  for (auto _ : state) {
    double sum = 0;
    for (size_t i = 1; i < v.size(); ++i) sum += net.DistanceBetweenPoints_raw(v[i - 1], v[i]);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(v.size() - 1));
}
BENCHMARK(BM_DistanceBetweenPoints_raw)->Unit(benchmark::kMillisecond);

void BM_BareHaversine(benchmark::State& state) {
  const TFloatPointArray& v = Degrees().Vertices();
  const double k = 0.017453292519943295;
  for (auto _ : state) {
    double sum = 0;
    for (size_t i = 1; i < v.size(); ++i) {
      const double lat1 = v[i - 1].y * k, lat2 = v[i].y * k;
      const double a = std::sin((lat1 - lat2) / 2), b = std::sin((v[i - 1].x - v[i].x) * k / 2);
      sum += 2 * std::asin(std::min(1.0, std::sqrt(a * a + std::cos(lat1) * std::cos(lat2) * b * b))) * 6378.13;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(v.size() - 1));
}
BENCHMARK(BM_BareHaversine)->Unit(benchmark::kMillisecond);

void BM_DistanceToLink(benchmark::State& state) {
  const bool degrees = state.range(0) != 0;
  TNetwork& net = Opened(degrees ? Degrees() : Metres(), true);
  const double shift = degrees ? 0.0002 : 20;
  for (auto _ : state) {
    double sum = 0;
    for (int32_t l = 1; l <= net.LinkCount(); l += 4) {
      const TFloatPoint p = net.Node2Coordinate_raw(net.Link2FromNode(l));
      double percent, distance;
      int32_t side;
      TFloatPoint foot;
      net.DistanceToLink_raw({p.x + shift, p.y + shift / 2}, l, percent, side, distance, foot);
      sum += distance;
    }
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BM_DistanceToLink)->Arg(0)->Arg(1)->ArgName("degrees")->Unit(benchmark::kMillisecond);

void BM_Location2Coordinate_raw(benchmark::State& state) {
  const bool degrees = state.range(0) != 0;
  TNetwork& net = Opened(degrees ? Degrees() : Metres(), true);
  for (auto _ : state) {
    double sum = 0;
    for (int32_t l = 1; l <= net.LinkCount(); l += 4) sum += net.Location2Coordinate_raw({l, 0.37}, 0.005).x;
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BM_Location2Coordinate_raw)->Arg(0)->Arg(1)->ArgName("degrees")->Unit(benchmark::kMillisecond);

}  // namespace
