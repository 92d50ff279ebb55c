// Queries per second and the latency quantiles (p50, p95 in us) of a timed
// loop over a query set, shared by the route benchmarks. One iteration runs
// every query, so that every run measures the same set.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace kovra::benchsupport {

class TLatency {
public:
  template <class Queries, class F>
  void Run(benchmark::State& state, const Queries& queries, F query) {
    for (auto _ : state)
      for (const auto& q : queries) {
        const auto t0 = std::chrono::steady_clock::now();
        query(q);
        fUs.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
      }
    if (fUs.empty()) return;
    std::sort(fUs.begin(), fUs.end());
    state.counters["p50_us"] = fUs[fUs.size() / 2];
    state.counters["p95_us"] = fUs[std::min(fUs.size() - 1, fUs.size() * 95 / 100)];
    state.counters["qps"] = benchmark::Counter(double(fUs.size()), benchmark::Counter::kIsRate);
  }

private:
  std::vector<double> fUs;
};

}  // namespace kovra::benchsupport
