#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "routing/kovra_pq.h"

using namespace kovra;

namespace {

// The heap as the design writes it, slot by slot: sift up past strictly larger
// keys; a top-down descent that takes the right child on a tie and stops at an
// equal key. The queues must dequeue in exactly this order.
template <class T>
class ReferenceHeap {
public:
  bool Empty() const { return bottom == 0; }
  void Enq(const T& item) {
    if (bottom + 1 >= int32_t(h.size())) h.resize(h.size() * 2);
    int32_t i = ++bottom;
    while (i > 1 && item.sortvar < h[size_t(i / 2)].sortvar) {
      h[size_t(i)] = h[size_t(i / 2)];
      i /= 2;
    }
    h[size_t(i)] = item;
  }
  T Deq() {
    if (bottom == 0) return T{};
    const T result = h[1];
    const T last = h[size_t(bottom)];
    --bottom;
    int32_t i = 1;
    int32_t c = 2;
    while (c <= bottom) {
      if (c != bottom && h[size_t(c)].sortvar >= h[size_t(c + 1)].sortvar) ++c;
      if (last.sortvar > h[size_t(c)].sortvar) {
        h[size_t(i)] = h[size_t(c)];
        i = c;
        c *= 2;
      } else {
        break;
      }
    }
    h[size_t(i)] = last;
    return result;
  }

private:
  std::vector<T> h = std::vector<T>(16);
  int32_t bottom = 0;
};

TPQitem Item(int32_t payload, float key) { return TPQitem{payload, payload, payload, key, key}; }
TPQturnitem TurnItem(int32_t payload, float key) {
  return TPQturnitem{-payload, payload, payload, payload, key, key};
}

std::vector<int32_t> Drain(TPQ& q) {
  std::vector<int32_t> out;
  while (!q.Empty()) out.push_back(q.Deq().FromNode);
  return out;
}

}  // namespace

TEST(PriorityQueue, TiesLeaveInHeapOrder) {
  struct Case {
    const char* name;
    std::vector<std::pair<int32_t, float>> enq;  // payload, key
    std::vector<int32_t> deq;
  };
  const Case cases[] = {
      // All keys 1: items stay where they land (no sift-up on equal keys), so the
      // heap is [1 2 3 4]. Deq 1: last 4, children 2 and 3 tie -> right child 3,
      // 4 is not larger than 3 -> 4 goes to the top: [4 2 3]. Deq 4: last 3, only
      // child 2, equal -> stop: [3 2]. Then 3, then 2. Not first-in first-out.
      {"all equal", {{1, 1}, {2, 1}, {3, 1}, {4, 1}}, {1, 4, 3, 2}},
      // Keys 2 1 1 0 1 build [4 2 3 1 5]. Deq 4: last 5 (key 1), children 2, 3 tie
      // -> 3, equal -> stop: [5 2 3 1]. Deq 5: last 1 (key 2), children tie -> 3,
      // 2 > 1 -> 3 up, 1 into slot 3: [3 2 1]. Deq 3: last 1, only child 2 (key 1)
      // -> 2 up: [2 1]. Then 2, 1.
      {"mixed", {{1, 2}, {2, 1}, {3, 1}, {4, 0}, {5, 1}}, {4, 5, 3, 2, 1}},
      // 2 (key 0) passes 1 (key 1); 3 (key 0) equals the root 2 and stays below it:
      // [2 1 3]. Deq 2: last 3, only child 1 is larger -> [3 1]. Then 3, 1.
      {"equal to the root", {{1, 1}, {2, 0}, {3, 0}}, {2, 3, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TPQ q;
    ReferenceHeap<TPQitem> ref;
    for (auto [payload, key] : c.enq) {
      q.Enq(Item(payload, key));
      ref.Enq(Item(payload, key));
    }
    std::vector<int32_t> refOrder;
    while (!ref.Empty()) refOrder.push_back(ref.Deq().FromNode);
    EXPECT_EQ(refOrder, c.deq);  // the hand derivation holds for the reference too
    EXPECT_EQ(Drain(q), c.deq);
  }
}

// Random runs with few distinct keys, interleaved as a search does and past the
// first growth: every dequeue is the smallest key present, and the payload
// sequence is the reference heap's, item for item.
template <class Q, class T, class Make, class Payload>
void RandomRuns(Make make, Payload payloadOf) {
  for (uint32_t seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    Q q;
    ReferenceHeap<T> ref;
    std::multiset<float> present;
    int32_t payload = 0;
    float base = 0;
    for (int step = 0; step < 40000; ++step) {
      // Mostly enqueue, then mostly dequeue, in two waves: the heap grows past
      // 10000 and drains to empty (dequeues from the empty queue included).
      const uint32_t r = rng() % 8;
      const bool enq = step % 20000 < 14000 ? r < 6 : r < 2;
      if (enq) {
        // Keys rise with the last dequeued one, in quarters: many ties.
        const T item = make(++payload, base + float(rng() % 6) * 0.25f);
        q.Enq(item);
        ref.Enq(item);
        present.insert(item.sortvar);
      } else {
        const T got = q.Deq();
        const T want = ref.Deq();
        ASSERT_EQ(payloadOf(got), payloadOf(want)) << "step " << step;
        if (present.empty()) {
          EXPECT_EQ(payloadOf(got), 0);
        } else {
          ASSERT_EQ(got.sortvar, *present.begin());
          present.erase(present.begin());
          base = got.sortvar;
        }
      }
      ASSERT_EQ(q.Empty(), present.empty());
    }
  }
}

TEST(PriorityQueue, RandomRunsMatchTheReference) {
  RandomRuns<TPQ, TPQitem>(Item, [](const TPQitem& x) { return x.FromNode; });
  RandomRuns<TPQturn, TPQturnitem>(TurnItem, [](const TPQturnitem& x) { return x.ToLink; });
}

TEST(PriorityQueue, EmptyDequeueIsTheEndMarker) {
  TPQ q;
  q.Enq(TPQitem{7, 8, 9, 2.5f, 3.0f});
  EXPECT_EQ(q.Deq().FromNode, 7);
  for (int i = 0; i < 2; ++i) {  // a second empty Deq still finds the queue intact
    const TPQitem e = q.Deq();
    EXPECT_EQ(e.FromNode, 0);
    EXPECT_EQ(e.ToNode, 0);
    EXPECT_EQ(e.link, 0);
    EXPECT_EQ(e.cost, 0.0f);
    EXPECT_EQ(e.sortvar, 0.0f);
    EXPECT_TRUE(q.Empty());
  }

  TPQturn t;
  t.Enq(TPQturnitem{-3, 4, 5, 6, 1.0f, 1.0f});
  EXPECT_EQ(t.Deq().ToLink, 5);
  const TPQturnitem e = t.Deq();
  EXPECT_EQ(e.ToLink, 0);
  EXPECT_EQ(e.FromLink, 0);  // a turn search reads this as "from the origin"
  EXPECT_EQ(e.Node, 0);
  EXPECT_EQ(e.NextNode, 0);
  EXPECT_EQ(e.cost, 0.0f);
  t.Enq(TPQturnitem{1, 2, 3, 4, 0.5f, 0.5f});
  EXPECT_EQ(t.Deq().ToLink, 3);
}

TEST(PriorityQueue, GrowsOnceAndClearKeepsTheCapacity) {
  TPQ q;
  for (int32_t i = 1; i <= 10000; ++i) q.Enq(Item(i, float(10000 - i)));
  EXPECT_EQ(q.maxitems(), 10000);  // a new queue holds 10000 items without growing
  q.Enq(Item(10001, -1.0f));
  const int32_t grown = q.maxitems();
  EXPECT_GT(grown, 10000);
  EXPECT_EQ(q.Deq().FromNode, 10001);  // growing kept every item in place
  EXPECT_EQ(q.Deq().FromNode, 10000);

  q.Clear();
  EXPECT_TRUE(q.Empty());
  EXPECT_EQ(q.Deq().FromNode, 0);
  EXPECT_EQ(q.maxitems(), grown);
  for (int32_t i = 1; i <= 10001; ++i) q.Enq(Item(i, 1.0f));
  EXPECT_EQ(q.maxitems(), grown);
  EXPECT_EQ(q.Deq().FromNode, 1);
}
