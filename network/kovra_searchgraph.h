// TSearchGraph: the adjacency as the shortest-path searches walk it. Per node
// its slots in the adjacency's order, each with the node at the link's other
// end, so that an expansion reads one sequential run instead of the from- and
// to-node arrays at the link ids (two scattered loads per slot). The network
// builds it on first use after an Open or an attribute change and shares it
// read-only with every calculator on it (TNetwork::SearchGraph).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace kovra {

struct TSearchEntry {
  // The adjacency entry: the link id, negative where the link cannot be left
  // through this node.
  int32_t slot;
  // The node at the link's other end; negative when this node is the link's
  // to-node (the link is driven backward when left here).
  int32_t far;
};
static_assert(sizeof(TSearchEntry) == 8);

class TSearchGraph {
public:
  // The slots of node, element k - 1 being slot k.
  std::span<const TSearchEntry> Of(int32_t node) const {
    const int64_t b = fFirst[size_t(node)];
    return {fEntries.data() + b, size_t(fFirst[size_t(node) + 1] - b)};
  }
  int64_t Bytes() const {
    return int64_t(fFirst.capacity() * sizeof(int64_t) + fEntries.capacity() * sizeof(TSearchEntry));
  }

  // Per node 0..NodeCount + 1: where its slots begin in fEntries.
  std::vector<int64_t> fFirst;
  std::vector<TSearchEntry> fEntries;
};

}  // namespace kovra
