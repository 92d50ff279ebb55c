// TNetwork::SearchGraph: the search graph built from the adjacency once per
// opening and attribute version, under a lock so that calculators on
// several threads may ask for it at once.
#include "network/kovra_network.h"

namespace kovra {

const TSearchGraph& TNetwork::SearchGraph() const {
  CheckOpen();
  std::lock_guard<std::mutex> lock(fSearchGraphLock);
  if (fSearchGraph && fSearchGraphOpen == fOpenGeneration && fSearchGraphAttributes == fAttributeVersion)
    return *fSearchGraph;
  auto g = std::make_shared<TSearchGraph>();
  const int32_t nodes = FNodeCount;
  g->fFirst.resize(size_t(nodes) + 2);
  int64_t total = 0;
  for (int32_t n = 0; n <= nodes; ++n) {
    g->fFirst[size_t(n)] = total;
    if (n >= 1) total += FDegree[size_t(n)];
  }
  g->fFirst[size_t(nodes) + 1] = total;
  g->fEntries.resize(size_t(total));
  TSearchEntry* e = g->fEntries.data();
  for (int32_t n = 1; n <= nodes; ++n)
    for (const int32_t slot : Adjacent(n)) {
      const int32_t L = slot < 0 ? -slot : slot;
      const int32_t from = Fromnode[size_t(L)];
      *e++ = {slot, from == n ? tonode[size_t(L)] : -from};
    }
  fSearchGraph = std::move(g);
  fSearchGraphOpen = fOpenGeneration;
  fSearchGraphAttributes = fAttributeVersion;
  return *fSearchGraph;
}

int64_t TNetwork::SearchGraphBytes() const {
  std::lock_guard<std::mutex> lock(fSearchGraphLock);
  return fSearchGraph ? fSearchGraph->Bytes() : 0;
}

}  // namespace kovra
