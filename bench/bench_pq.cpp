// The search heaps against std::priority_queue (std::greater) on the same items,
// in a Dijkstra-like pattern: every dequeue is followed by three enqueues whose
// keys are the dequeued key plus a small quantised step, so keys rise and tie
// often. Each search clears the queue, as a calculator does; 10^7 operations per
// run whatever the search size. "split" is the other layout that was weighed
// against the contiguous one the library keeps: the heap moves 8-byte
// {key, index} entries and the items stay put in a payload arena.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>
#include <queue>
#include <vector>

#include "routing/kovra_pq.h"

namespace kovra {
// std::greater on the items: the same key the heaps use.
inline bool operator>(const TPQitem& a, const TPQitem& b) { return a.sortvar > b.sortvar; }
inline bool operator>(const TPQturnitem& a, const TPQturnitem& b) { return a.sortvar > b.sortvar; }
}  // namespace kovra

using namespace kovra;

namespace {

constexpr int64_t cOperations = 10000000;

// Same sift rules as TPQbase, on {key, index} entries; freed arena slots are
// reused last-in first-out so the arena stays as large as the heap.
template <class T, class KeyPolicy>
class SplitHeap {
public:
  SplitHeap() {
    heap.resize(10001);
    arena.reserve(10000);
    freeSlots.reserve(10000);
  }
  void Clear() {
    bottom = 0;
    arena.clear();
    freeSlots.clear();
  }
  void Enq(const T& newitem) {
    if (size_t(bottom) + 1 == heap.size()) heap.resize(heap.size() * 2);
    int32_t index;
    if (freeSlots.empty()) {
      index = int32_t(arena.size());
      arena.push_back(newitem);
    } else {
      index = freeSlots.back();
      freeSlots.pop_back();
      arena[size_t(index)] = newitem;
    }
    const Entry e{KeyPolicy::Key(newitem), index};
    Entry* const h = heap.data();
    int32_t i = ++bottom;
    while (i > 1 && e.key < h[i >> 1].key) {
      h[i] = h[i >> 1];
      i >>= 1;
    }
    h[i] = e;
  }
  T Deq() {
    if (bottom == 0) return T{};
    Entry* const h = heap.data();
    const int32_t top = h[1].index;
    freeSlots.push_back(top);
    const Entry last = h[bottom];
    const int32_t n = --bottom;
    int32_t i = 1;
    int32_t c = 2;
    // As in TPQbase, last still in slot n + 1 stands in for a missing right child.
    while (c <= n) {
      if (2 * c <= n) __builtin_prefetch(h + 2 * c);
      c += h[c].key >= h[c + 1].key;
      if (!(last.key > h[c].key)) break;
      h[i] = h[c];
      i = c;
      c <<= 1;
    }
    h[i] = last;
    return arena[size_t(top)];
  }

private:
  struct Entry {
    float key;
    int32_t index;
  };
  std::vector<Entry> heap;
  std::vector<T> arena;
  std::vector<int32_t> freeSlots;
  int32_t bottom = 0;
};

template <class T>
class StdHeap {
public:
  void Clear() { q = {}; }
  void Enq(const T& item) { q.push(item); }
  T Deq() {
    T t = q.top();
    q.pop();
    return t;
  }

private:
  std::priority_queue<T, std::vector<T>, std::greater<T>> q;
};

struct Rng {
  uint32_t s = 2463534242u;
  uint32_t Next() {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
  }
};

// Steps of 0 .. 3.75 in quarters: many pushes tie with a sibling or a cousin.
inline float Step(Rng& r) { return float(r.Next() >> 28) * 0.25f; }

inline TPQitem Next(const TPQitem& from, int32_t id, float key) {
  return TPQitem{from.ToNode, id, id, key, key};
}
inline TPQturnitem Next(const TPQturnitem& from, int32_t id, float key) {
  return TPQturnitem{from.ToLink, from.NextNode, id, id, key, key};
}

template <class Q, class T>
void Searches(benchmark::State& state) {
  const int64_t rounds = state.range(0);
  const int64_t searches = cOperations / (1 + 4 * rounds);
  Q q;
  for (auto _ : state) {
    Rng r;
    for (int64_t s = 0; s < searches; ++s) {
      int32_t id = 1;
      q.Clear();
      q.Enq(Next(T{}, id, 0.0f));
      for (int64_t k = 0; k < rounds; ++k) {
        const T x = q.Deq();
        for (int j = 0; j < 3; ++j) q.Enq(Next(x, ++id, x.sortvar + Step(r)));
        benchmark::DoNotOptimize(x);
      }
    }
  }
  state.SetItemsProcessed(state.iterations() * searches * (1 + 4 * rounds));
}

using TPQsplit = SplitHeap<TPQitem, TSortvarKey<TPQitem>>;
using TPQturnSplit = SplitHeap<TPQturnitem, TSortvarKey<TPQturnitem>>;

// Search sizes: a short route (heap of 2000), a city (50000), a country (500000).
#define HEAP_BENCH(name, ...) \
  BENCHMARK_TEMPLATE(Searches, __VA_ARGS__)->Name(name)->Arg(1000)->Arg(25000)->Arg(250000)->Unit(benchmark::kMillisecond)

HEAP_BENCH("TPQ", TPQ, TPQitem);
HEAP_BENCH("TPQ/split", TPQsplit, TPQitem);
HEAP_BENCH("TPQ/std", StdHeap<TPQitem>, TPQitem);
HEAP_BENCH("TPQturn", TPQturn, TPQturnitem);
HEAP_BENCH("TPQturn/split", TPQturnSplit, TPQturnitem);
HEAP_BENCH("TPQturn/std", StdHeap<TPQturnitem>, TPQturnitem);

}  // namespace
