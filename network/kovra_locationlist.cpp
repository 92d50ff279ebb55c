#include "network/kovra_locationlist.h"

#include <utility>

namespace kovra {

void TLocationList::RemoveStartEndPos() {
  // One compacting pass instead of a Delete per item: the same result, linear
  // on a list where most items sit on nodes. Removing items keeps any order.
  int32_t out = 0, firstRemoved = -1;
  for (int32_t i = 0; i < FCount; ++i) {
    const double p = FList[size_t(i)].loc.percent;
    if (p == 0.0 || p == 1.0) {
      if (firstRemoved < 0) firstRemoved = i;
      continue;
    }
    if (out != i) FList[size_t(out)] = std::move(FList[size_t(i)]);
    ++out;
  }
  if (firstRemoved < 0) return;
  for (int32_t i = out; i < FCount; ++i) FList[size_t(i)] = TLocationListItem{};
  FCount = out;
  ItemsChanged(firstRemoved);
}

}  // namespace kovra
