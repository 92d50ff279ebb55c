// The priority queues of the shortest-path searches: one binary min-heap over
// node-to-node steps (TPQ) and over link-to-link steps (TPQturn).
//
// The order in which items with equal keys leave the heap decides which of two
// equally cheap routes a search keeps, so the sift rules below are part of the
// results and must not change: an item sifts up only past a strictly larger key,
// the descent prefers the right child when the children tie, and it stops at an
// equal key (Deq reaches that slot bottom-up, with the same result). For the same reason there is no decrease-key: a search enqueues a
// state again when it finds it cheaper and drops the stale copy on dequeue.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/kovra_sysutils.h"

namespace kovra {

// Node mode: a step from FromNode over link to ToNode.
struct TPQitem {
  int32_t FromNode = 0;  // the expanded node; 0 only in the empty item
  int32_t ToNode = 0;
  int32_t link = 0;      // always positive
  float cost = 0;        // cost at ToNode
  float sortvar = 0;     // cost, plus the A* estimate in a directed search
};

// Turn mode: a turn at Node from the state FromLink into ToLink.
struct TPQturnitem {
  int32_t FromLink = 0;  // signed: > 0 driven from its from-node, < 0 against it, 0 at the origin
  int32_t Node = 0;
  int32_t ToLink = 0;    // always positive; 0 only in the empty item
  int32_t NextNode = 0;  // far end of ToLink
  float cost = 0;        // cost on arrival at NextNode
  float sortvar = 0;
};

// Key of both item kinds.
template <class T>
struct TSortvarKey {
  static float Key(const T& item) { return item.sortvar; }
};

// Binary min-heap on KeyPolicy::Key(item), items held by value in heapitems[1..bottom]
// (slot 0 unused, so the children of slot i are 2i and 2i + 1). Keys are compared
// exactly. The heap never shrinks: a calculator clears and refills its queues at
// every search, and later searches reuse the grown capacity.
template <class T, class KeyPolicy>
class TPQbase : public TObject {
public:
  static constexpr int32_t cInitialCapacity = 10000;

  TPQbase() : heapitems(size_t(cInitialCapacity) + 1) {}

  void Clear() { bottom = 0; }
  bool Empty() const { return bottom == 0; }
  // Items held now.
  int32_t Count() const { return bottom; }
  // Items the heap holds before it grows again.
  int32_t maxitems() const { return int32_t(heapitems.size() - 1); }

  void Enq(const T& newitem) {
    if (size_t(bottom) + 1 == heapitems.size()) Grow();
    const float key = KeyPolicy::Key(newitem);
    int32_t i = ++bottom;
    T* const h = heapitems.data();
    while (i > 1 && key < KeyPolicy::Key(h[i >> 1])) {
      h[i] = h[i >> 1];
      i >>= 1;
    }
    h[i] = newitem;
  }

  // The item with the smallest key; a value-initialised item (FromNode or ToLink 0,
  // which the searches take as the end) when the queue is empty.
  T Deq() {
    if (bottom == 0) return T{};
    T* const h = heapitems.data();
    const T result = h[1];
    const T last = h[bottom];
    const float key = KeyPolicy::Key(last);
    const int32_t n = --bottom;
    int32_t i = 1;
    int32_t c = 2;
    // Bottom-up: walk the path of smaller children to a leaf, lifting each one
    // slot, then climb back while last is not larger than the item above. The
    // path's keys never fall, so last lands exactly where a descent that stops at
    // the first child not smaller than it would put it, and every item lifted below
    // that point returns to its own slot; it saves the comparison with last on the
    // way down. The prefetch of the grandchildren hides most of the cache misses of
    // a large heap, whose descent is otherwise one dependent load per level.
    // last still sits in slot n + 1 and stands in for the missing right child of
    // slot n: taking it on a tie leads the climb to the same slot.
    while (c <= n) {
      if (2 * c <= n) __builtin_prefetch(h + 2 * c);
      c += KeyPolicy::Key(h[c]) >= KeyPolicy::Key(h[c + 1]);  // right child on a tie
      h[i] = h[c];
      i = c;
      c <<= 1;
    }
    while (i > 1 && !(key > KeyPolicy::Key(h[i >> 1]))) {  // an equal key stays below
      h[i] = h[i >> 1];
      i >>= 1;
    }
    h[i] = last;
    return result;
  }

private:
  void Grow() { heapitems.resize(heapitems.size() * 2); }

  std::vector<T> heapitems;
  int32_t bottom = 0;
};

class TPQ final : public TPQbase<TPQitem, TSortvarKey<TPQitem>> {};
class TPQturn final : public TPQbase<TPQturnitem, TSortvarKey<TPQturnitem>> {};

}  // namespace kovra
