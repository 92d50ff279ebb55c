// What one call of examples/kovra-route does, from a closed network to the
// written layer: open with attribute words and the spatial index, a time
// column from the road-class speeds, two points snapped, one location route
// by distance and its GeoJSON layer. On a generated network in degrees of
// about the sample's size (20,000 grid nodes, some 45,000 links), and,
// separately, the open alone and the snap-and-route alone, so a figure can
// be split into its parts. The points are drawn from a third to two thirds
// of the network's box, as scripts/sample.sh routes.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "foundation/kovra_random.h"
#include "network/kovra_locationlist.h"
#include "network/kovra_network.h"
#include "network/kovra_roadclassspeed.h"
#include "routing/kovra_calc.h"
#include "search/kovra_spatialsearch.h"

#include "bench_netcache.h"

using namespace kovra;
using namespace kovra::benchsupport;

namespace {

const TBenchCachedNetwork& Net() {
  static const TBenchCachedNetwork net(CachedOptions(41, 20000, true));
  return net;
}

struct TPair {
  TFloatPoint P1, P2;
};

std::vector<TPair> Pairs(const TFloatRect& r) {
  TRandom rnd;
  rnd.SetSeed(3);
  auto point = [&] {
    return TFloatPoint{r.xmin + (r.xmax - r.xmin) * (1 + rnd.NextDouble()) / 3,
                       r.ymin + (r.ymax - r.ymin) * (1 + rnd.NextDouble()) / 3};
  };
  std::vector<TPair> p;
  for (int i = 0; i < 16; ++i) p.push_back({point(), point()});
  return p;
}

void Open(TNetwork& nw) {
  nw.SetDirectory(Net().Directory);
  nw.Open(true, false, true, 0);
  nw.CreateArrayTime(1);
  nw.CalculateTime(0, TRoadClassSpeed());
}

// Snap, route and write the layer as kovra-route does.
float RouteAndLayer(TNetwork& nw, const TPair& p) {
  TSpatialSearch s(nw);
  TRouteCalc calc(nw, false);
  calc.SetTime(0);
  calc.SetShortest(false);
  TLocation l1, l2;
  int32_t side;
  double d1, d2;
  TFloatPoint foot;
  s.NearestLocation(p.P1, l1, side, d1, foot);
  s.NearestLocation(p.P2, l2, side, d2, foot);
  TRoute route;
  const float c = calc.RouteDynEx(l1, l2, route);
  if (c >= 0) {
    TLocationList from, to;
    from.Add4(l1, p.P1);
    to.Add4(l2, p.P2);
    calc.RoutePairs("", gfGeoJSON, from, to, nullptr, nullptr, true, true, false, true, true, false);
    benchmark::DoNotOptimize(calc.GeoJSON().size());
  }
  return c;
}

void BM_WholeCall(benchmark::State& state) {
  const std::vector<TPair> pairs = Pairs(Net().NW.MBR());
  size_t i = 0;
  for (auto _ : state) {
    TNetwork nw;
    Open(nw);
    benchmark::DoNotOptimize(RouteAndLayer(nw, pairs[i++ % pairs.size()]));
    nw.Close();
  }
  state.counters["links"] = double(Net().NW.LinkCount());
}

void BM_OpenOnly(benchmark::State& state) {
  for (auto _ : state) {
    TNetwork nw;
    Open(nw);
    nw.Close();
  }
}

void BM_SnapRouteLayer(benchmark::State& state) {
  TNetwork nw;
  Open(nw);
  const std::vector<TPair> pairs = Pairs(nw.MBR());
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(RouteAndLayer(nw, pairs[i++ % pairs.size()]));
  nw.Close();
}

}  // namespace

BENCHMARK(BM_WholeCall)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SnapRouteLayer)->Unit(benchmark::kMillisecond);
