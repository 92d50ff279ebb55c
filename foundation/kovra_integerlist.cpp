#include "foundation/kovra_integerlist.h"

#include <bit>

namespace kovra {

void TIntegerList::RemoveBlanks() {
  // One compacting pass: the same items remain, in the same order.
  int32_t out = 0;
  int32_t firstRemoved = -1;
  for (int32_t i = 0; i < FCount; ++i) {
    if (FList[size_t(i)] == 0) {
      if (firstRemoved < 0) firstRemoved = i;
      continue;
    }
    FList[size_t(out++)] = FList[size_t(i)];
  }
  if (firstRemoved < 0) return;
  for (int32_t i = out; i < FCount; ++i) FList[size_t(i)] = 0;
  FCount = out;
  ItemsChanged(firstRemoved);
}

void TIntegerList::SetFromBitArray(const TBitArray* BA) {
  if (!BA) return;
  Clear();
  const std::vector<uint32_t>& words = BA->Words();
  for (size_t w = 0; w < words.size(); ++w) {
    uint32_t bits = words[w];
    if (w == 0) bits &= ~uint32_t(1);
    while (bits != 0) {
      int64_t index = int64_t(w) * 32 + std::countr_zero(bits);
      Add(int32_t(index));
      bits &= bits - 1;
    }
  }
}

bool TIntegerList::AllNegative() const {
  for (int32_t i = 0; i < FCount; ++i)
    if (FList[size_t(i)] > 0) return false;
  return true;
}

TIntegerLists::~TIntegerLists() {
  for (int32_t i = 0; i < FCount; ++i) delete FList[size_t(i)];
}

}  // namespace kovra
