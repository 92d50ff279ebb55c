// Duplicate search and area building on a 1M-link grid with 10 % area links
// against a plain breadth-first search over the same adjacency (target:
// within 2x), and Euler circuits with both directions once over a sweep of
// grid sizes, beside a naive version that rescans (the links per second
// should stay flat).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "network/kovra_network.h"
#include "network/support/network_writer.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

class TBenchNetwork {
public:
  explicit TBenchNetwork(int64_t Links) {
    fDir = (std::filesystem::temp_directory_path() /
            ("kovra_bench_topology_" + std::to_string(getpid()) + "_" + std::to_string(Links)))
               .string() +
           "/";
    std::filesystem::create_directories(fDir);
    TTestNetworkWriter w;
    w.AddGrid(GridForLinks(Links, 2));
    for (int32_t l = 1; l <= w.LinkCount(); ++l) w.SetAttribute(l, l % 10 == 0 ? 256 : l % 7 == 0 ? 512 : 0);
    w.Write(fDir);
    fNet.SetDirectory(fDir);
    fNet.Open(true, true, false, 0);
  }
  ~TBenchNetwork() {
    fNet.Close();
    std::error_code ec;
    std::filesystem::remove_all(fDir, ec);
  }
  TNetwork& Net() { return fNet; }

private:
  std::string fDir;
  TNetwork fNet;
};

TNetwork& Grid(int64_t Links) {
  static std::map<int64_t, std::unique_ptr<TBenchNetwork>> grids;
  auto& g = grids[Links];
  if (!g) g = std::make_unique<TBenchNetwork>(Links);
  return g->Net();
}

// The target is for 1M links; 250k is the size measured before.
void BM_FindDuplicateLinks(benchmark::State& state) {
  TNetwork& net = Grid(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(net.FindDuplicateLinks());
}
BENCHMARK(BM_FindDuplicateLinks)->Arg(250'000)->Arg(1'000'000)->ArgName("links")->Unit(benchmark::kMillisecond);

void BM_BuildAreas(benchmark::State& state) {
  TNetwork& net = Grid(state.range(0));
  for (auto _ : state) net.NoDriveThroughInit();
}
BENCHMARK(BM_BuildAreas)->Arg(250'000)->Arg(1'000'000)->ArgName("links")->Unit(benchmark::kMillisecond);

// Every node reached once over the adjacency: the floor of a graph walk.
void BM_PlainBfs(benchmark::State& state) {
  TNetwork& net = Grid(state.range(0));
  std::vector<uint8_t> seen(size_t(net.NodeCount()) + 1);
  std::vector<int32_t> queue;
  for (auto _ : state) {
    std::fill(seen.begin(), seen.end(), 0);
    queue.assign({1});
    seen[1] = 1;
    for (size_t i = 0; i < queue.size(); ++i)
      for (const int32_t s : net.Adjacent(queue[i])) {
        const int32_t e = s < 0 ? -s : s;
        const int32_t o =
            net.Fromnodes()[size_t(e)] == queue[i] ? net.Tonodes()[size_t(e)] : net.Fromnodes()[size_t(e)];
        if (!seen[size_t(o)]) seen[size_t(o)] = 1, queue.push_back(o);
      }
    benchmark::DoNotOptimize(queue.size());
  }
}
BENCHMARK(BM_PlainBfs)->Arg(250'000)->Arg(1'000'000)->ArgName("links")->Unit(benchmark::kMillisecond);

// Euler as first written: each walk starts at a link found by scanning from
// link 1, and circuits merge one pair at a time, the grown circuit scanned
// again for every circuit it absorbs. Same walks, same circuits.
void NaiveEuler(const TNetwork& net, TIntegerArray ft, TIntegerArray tf, std::vector<TIntegerArray>& L,
                std::vector<TIntegerArray>& N) {
  const int32_t links = net.LinkCount();
  const auto& from = net.Fromnodes();
  const auto& to = net.Tonodes();
  for (;;) {
    int32_t l = 1;
    while (l <= links && ft[size_t(l)] == 0 && tf[size_t(l)] == 0) ++l;
    if (l > links) break;
    TIntegerArray cl, cn;
    int32_t start, current;
    if (ft[size_t(l)] > 0) {
      --ft[size_t(l)], start = from[size_t(l)], current = to[size_t(l)], cl.push_back(l);
    } else {
      --tf[size_t(l)], start = to[size_t(l)], current = from[size_t(l)], cl.push_back(-l);
    }
    cn.push_back(current);
    int32_t last = l;
    while (current != start) {
      int32_t found = 0;
      bool forward = false;
      for (int pass = 0; pass < 2 && !found; ++pass)
        for (const int32_t s : net.Adjacent(current)) {
          const int32_t e = s < 0 ? -s : s;
          if (pass == 0 && e == last) continue;
          if (from[size_t(e)] == current && ft[size_t(e)] > 0) {
            found = e, forward = true;
            break;
          }
          if (to[size_t(e)] == current && tf[size_t(e)] > 0) {
            found = e, forward = false;
            break;
          }
        }
      if (!found) return;
      if (forward)
        --ft[size_t(found)], cl.push_back(found), current = to[size_t(found)];
      else
        --tf[size_t(found)], cl.push_back(-found), current = from[size_t(found)];
      cn.push_back(current);
      last = found;
    }
    L.push_back(std::move(cl));
    N.push_back(std::move(cn));
  }
  // Marks: the nodes of circuit i (inI) and of the circuit k looked at (inK).
  std::vector<size_t> inI(size_t(net.NodeCount()) + 1, SIZE_MAX), inK(inI);
  size_t look = 0;
  for (size_t i = 0; i < L.size(); ++i) {
    for (const int32_t v : N[i]) inI[size_t(v)] = i;
    for (size_t k = i + 1; k < L.size();) {
      bool shares = false;
      ++look;
      for (const int32_t v : N[k]) shares |= inI[size_t(v)] == i, inK[size_t(v)] = look;
      if (!shares) {
        ++k;
        continue;
      }
      size_t p = 0;
      while (inK[size_t(N[i][p])] != look) ++p;
      const size_t q = size_t(std::find(N[k].begin(), N[k].end(), N[i][p]) - N[k].begin());
      for (auto* seq : {&L, &N}) {
        TIntegerArray& into = (*seq)[i];
        const TIntegerArray& piece = (*seq)[k];
        TIntegerArray rotated(piece.begin() + ptrdiff_t(q) + 1, piece.end());
        rotated.insert(rotated.end(), piece.begin(), piece.begin() + ptrdiff_t(q) + 1);
        into.insert(into.begin() + ptrdiff_t(p) + 1, rotated.begin(), rotated.end());
      }
      for (const int32_t v : N[k]) inI[size_t(v)] = i;
      L.erase(L.begin() + ptrdiff_t(k));
      N.erase(N.begin() + ptrdiff_t(k));
      k = i + 1;  // the first pair again
    }
  }
}

TIntegerArray BothWaysOnce(const TNetwork& net) {
  TIntegerArray counts(size_t(net.LinkCount()) + 1, 1);
  counts[0] = 0;
  return counts;
}

void BM_Euler(benchmark::State& state) {
  TNetwork& net = Grid(state.range(0));
  const TIntegerArray counts = BothWaysOnce(net);
  for (auto _ : state) {
    TIntegerLists links, nodes;
    net.Euler(counts, counts, links, nodes);
    benchmark::DoNotOptimize(links.Count());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * net.LinkCount());  // links per second
}
BENCHMARK(BM_Euler)->Arg(25'000)->Arg(100'000)->Arg(400'000)->ArgName("links")->Unit(benchmark::kMillisecond);

void BM_EulerNaive(benchmark::State& state) {
  TNetwork& net = Grid(state.range(0));
  const TIntegerArray counts = BothWaysOnce(net);
  {
    std::vector<TIntegerArray> L, N;
    NaiveEuler(net, counts, counts, L, N);
    TIntegerLists links, nodes;
    net.Euler(counts, counts, links, nodes);
    bool same = int32_t(L.size()) == links.Count();
    for (int32_t c = 0; same && c < links.Count(); ++c)
      for (int32_t j = 0; same && j < links.GetItem(c)->Count(); ++j)
        same = size_t(links.GetItem(c)->Count()) == L[size_t(c)].size() &&
               links.GetItem(c)->GetItem(j) == L[size_t(c)][size_t(j)] &&
               nodes.GetItem(c)->GetItem(j) == N[size_t(c)][size_t(j)];
    if (!same) state.SkipWithError("Euler and the naive version differ");
  }
  for (auto _ : state) {
    std::vector<TIntegerArray> L, N;
    NaiveEuler(net, counts, counts, L, N);
    benchmark::DoNotOptimize(L.size());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * net.LinkCount());  // links per second
}
BENCHMARK(BM_EulerNaive)->Arg(25'000)->Arg(100'000)->Arg(400'000)->ArgName("links")->Unit(benchmark::kMillisecond);

}  // namespace
