#include <benchmark/benchmark.h>

#include <cmath>
#include <map>
#include <random>
#include <utility>
#include <vector>

#include "foundation/kovra_basetree.h"
#include "foundation/kovra_geometry.h"

using namespace kovra;

namespace {

std::vector<TFloatPoint> RandomDegreePoints(size_t n) {
  std::mt19937_64 rng(1);
  std::uniform_real_distribution<double> lon(5, 15), lat(45, 55), step(-0.01, 0.01);
  std::vector<TFloatPoint> p(n);
  p[0] = {lon(rng), lat(rng)};
  for (size_t i = 1; i < n; ++i) p[i] = {p[i - 1].x + step(rng), p[i - 1].y + step(rng)};
  return p;
}

// The same course formula without any checks, as the baseline.
inline double BareCourse(TFloatPoint A, TFloatPoint B) {
  const double sa = std::sin((A.y - B.y) / 2), sb = std::sin((A.x - B.x) / 2);
  const double d = 2 * std::asin(std::min(1.0, std::sqrt(sa * sa + std::cos(A.y) * std::cos(B.y) * sb * sb)));
  double h = (std::sin(B.y) - std::sin(A.y) * std::cos(d)) / (std::sin(d) * std::cos(A.y));
  h = std::max(-1.0, std::min(1.0, h));
  const double a = std::acos(h);
  return std::sin(B.x - A.x) < 0 ? a * cRadToDeg : (cTwoPi - a) * cRadToDeg;
}

inline int BareTurnDeg(TFloatPoint p1, TFloatPoint p2, TFloatPoint p3) {
  auto r = [](TFloatPoint p) { return TFloatPoint{p.x * cDegToRad, p.y * cDegToRad}; };
  int t = int(std::nearbyint(BareCourse(r(p2), r(p3)) - BareCourse(r(p1), r(p2))));
  while (t < 0) t += 360;
  while (t >= 360) t -= 360;
  return t;
}

void BM_TurnAngleDeg(benchmark::State& state) {
  const auto p = RandomDegreePoints(4096);
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(TurnAngleDeg(p[i], p[i + 1], p[i + 2]));
    i = (i + 1) & 4093;
  }
}
BENCHMARK(BM_TurnAngleDeg)->Iterations(10000000);

void BM_TurnAngleDegBare(benchmark::State& state) {
  const auto p = RandomDegreePoints(4096);
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(BareTurnDeg(p[i], p[i + 1], p[i + 2]));
    i = (i + 1) & 4093;
  }
}
BENCHMARK(BM_TurnAngleDegBare)->Iterations(10000000);

std::vector<TFloatPointArrayEx> PlaneLines(size_t lines, size_t vertices) {
  std::mt19937_64 rng(2);
  std::uniform_real_distribution<double> start(0, 1e5), step(1, 20);
  std::vector<TFloatPointArrayEx> out(lines);
  for (auto& l : out) {
    l.Pnt.resize(vertices);
    l.Count = int32_t(vertices);
    double x = start(rng), y = start(rng);
    for (auto& pt : l.Pnt) {  // a wandering road without loops
      pt = {x, y};
      x += step(rng);
      y += step(rng) - 10.5;
    }
  }
  return out;
}

void BM_PolylineDefectScore(benchmark::State& state) {
  const auto lines = PlaneLines(100000, 50);
  for (auto _ : state)
    for (const auto& l : lines) benchmark::DoNotOptimize(PolylineDefectScore(l, cuM, 10));
}
BENCHMARK(BM_PolylineDefectScore)->Unit(benchmark::kMillisecond)->Iterations(1);

// Baseline: a bare non-adjacent segment-pair crossing loop on the same lines.
void BM_SegmentPairsBare(benchmark::State& state) {
  const auto lines = PlaneLines(100000, 50);
  for (auto _ : state)
    for (const auto& l : lines) {
      const TFloatPoint* p = l.Pnt.data();
      const int n = l.Count;
      bool hit = false;
      for (int i = 0; i + 3 <= n && !hit; ++i)
        for (int j = i + 2; j <= n - 2 && !hit; ++j) {
          const double d1x = p[i + 1].x - p[i].x, d1y = p[i + 1].y - p[i].y;
          const double d2x = p[j + 1].x - p[j].x, d2y = p[j + 1].y - p[j].y;
          const double D = d1x * d2y - d1y * d2x;
          if (D == 0) continue;
          const double t = ((p[j].x - p[i].x) * d2y - (p[j].y - p[i].y) * d2x) / D;
          const double u = ((p[j].x - p[i].x) * d1y - (p[j].y - p[i].y) * d1x) / D;
          hit = t > 0 && t < 1 && u > 0 && u < 1;
        }
      benchmark::DoNotOptimize(hit);
    }
}
BENCHMARK(BM_SegmentPairsBare)->Unit(benchmark::kMillisecond)->Iterations(1);

class TXYTreeBench : public TBalancedTree<TFloatPoint> {
public:
  int32_t Compare(const TFloatPoint& a, const TFloatPoint& b) override {
    if (a.x < b.x) return -1;
    if (a.x > b.x) return 1;
    if (a.y < b.y) return -1;
    if (a.y > b.y) return 1;
    return 0;
  }
};

std::vector<TFloatPoint> TreeKeys(int64_t n, bool grid) {
  std::vector<TFloatPoint> k(static_cast<size_t>(n));
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> u(0, 1e6);
  const int64_t side = int64_t(std::sqrt(double(n))) + 1;
  for (int64_t i = 0; i < n; ++i)
    k[size_t(i)] = grid ? TFloatPoint{double(i / side), double(i % side)} : TFloatPoint{u(rng), u(rng)};
  return k;
}

void BM_TreeAddIndexOf(benchmark::State& state) {
  const auto keys = TreeKeys(state.range(0), state.range(1) != 0);
  for (auto _ : state) {
    TXYTreeBench t;
    for (const auto& k : keys) t.Add(k);
    int64_t sum = 0;
    for (const auto& k : keys) sum += t.IndexOf(k);
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BM_TreeAddIndexOf)->Args({1000000, 0})->Args({1000000, 1})->Args({10000000, 0})->Args({10000000, 1})
    ->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_StdMapAddFind(benchmark::State& state) {
  const auto keys = TreeKeys(state.range(0), state.range(1) != 0);
  for (auto _ : state) {
    std::map<std::pair<double, double>, int> m;
    int next = 0;
    for (const auto& k : keys) {
      auto [it, inserted] = m.try_emplace({k.x, k.y}, next);
      if (inserted) ++next;
    }
    int64_t sum = 0;
    for (const auto& k : keys) sum += m.find({k.x, k.y})->second;
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BM_StdMapAddFind)->Args({1000000, 0})->Args({1000000, 1})->Args({10000000, 0})->Args({10000000, 1})
    ->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
