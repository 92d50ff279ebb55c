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
  const std::vector<uint32_t>& words = BA->Words();
  // Indexes from 2^31 on do not fit an item: refuse before the list changes.
  constexpr size_t cFirstBeyond = size_t(1) << 26;  // word of bit 2^31
  for (size_t w = cFirstBeyond; w < words.size(); ++w)
    if (words[w] != 0)
      throw EOutOfRange(Format("Index %d is out of range", int64_t(w) * 32 + std::countr_zero(words[w])));
  Clear();
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

void TIntegerLists::Delete(int32_t Index) {
  (void)FList[size_t(Index)].release();  // the caller's now
  TBase::Delete(Index);
}

void TIntegerLists::Clear() {
  for (int32_t i = 0; i < FCount; ++i) (void)FList[size_t(i)].release();
  TBase::Clear();
}

void TIntegerLists::Clone(TIntegerLists& v) const {
  if (&v == this) return;
  // Built aside: a failed copy leaves v as it was.
  std::vector<std::unique_ptr<TIntegerList>> items(static_cast<size_t>(FCapacity));
  for (int32_t i = 0; i < FCount; ++i) {
    const TIntegerList* src = FList[size_t(i)].get();
    if (!src) continue;
    auto copy = std::make_unique<TIntegerList>();
    copy->SetAllowDuplicates(src->AllowDuplicates());
    copy->SetReverseIndex(src->ReverseIndex());
    src->Clone(*copy);
    items[size_t(i)] = std::move(copy);
  }
  v.FList.swap(items);  // v's old lists are freed with items
  v.FCapacity = FCapacity;
  v.FCount = FCount;
}

}  // namespace kovra
