// Generic array lists of the library: TBaseList<T> (growth rule, unchecked access,
// in-place shuffle) and the sortable TBaseListSort<T> (lazy sorted flag, binary
// search, quicksort with an optional reverse table, incremental selection sort).
//
// A descendant of TBaseListSort<T> supplies Equal, Less and Greater. A final list
// that wants the sort and search loops without virtual calls derives from
// TBaseListSortFast<T, Self> instead and declares its comparisons final.
//
// Indexes are not checked (the callers keep 0 <= Index < Count for reading and
// deleting, 0 <= Index for SetItem and Insert); Debug builds assert them.
// Spare entries at and beyond Count always hold T{}: gaps opened by SetItem or
// Insert beyond Count therefore read as T{}.
#pragma once

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <utility>
#include <vector>

#include "foundation/kovra_random.h"
#include "foundation/kovra_types.h"

namespace kovra {

// The growth rule of Add and of Insert into a full list: +capacity/4 above 64,
// +16 for 9..64, +4 for 0..8. Raises std::bad_alloc past the Integer range.
int32_t BaseListGrowth(int32_t capacity);
// Capacity that SetItem/Insert give for an index at or beyond the capacity: the
// smallest multiple of 32 greater than index.
int32_t BaseListCapacityFor(int32_t index);

template <typename T>
class TBaseListSort;

template <typename T>
class TBaseList : public TObject {
public:
  using ItemType = T;

  TBaseList() = default;
  // Lists are objects with identity: copy through Clone.
  TBaseList(const TBaseList&) = delete;
  TBaseList& operator=(const TBaseList&) = delete;
  ~TBaseList() override = default;

  int32_t Count() const { return FCount; }
  int32_t Capacity() const { return FCapacity; }
  // A negative value is ignored; otherwise Count becomes min(Count, Value).
  void SetCapacity(int32_t Value) {
    if (Value < 0) return;
    FList.resize(size_t(Value));  // new entries are T{}
    FCapacity = Value;
    if (FCount > Value) {
      FCount = Value;
      ItemsChanged(Value);
    }
  }

  // The reference stays valid until the list changes.
  const T& GetItem(int32_t Index) const {
    assert(Index >= 0 && Index < FCount);
    return FList[size_t(Index)];
  }

  virtual void SetItem(int32_t Index, T Item) { BaseSetItem(Index, std::move(Item)); }
  virtual int32_t Add(T Item) { return BaseAdd(std::move(Item)); }
  virtual void Insert(int32_t Index, T Item) { BaseInsert(Index, std::move(Item)); }
  virtual void Shuffle() { BaseShuffle(); }

  // The deleted item leaves the list; an object it refers to is not freed.
  void Delete(int32_t Index) {
    assert(Index >= 0 && Index < FCount);
    std::move(FList.begin() + Index + 1, FList.begin() + FCount, FList.begin() + Index);
    --FCount;
    FList[size_t(FCount)] = T{};
    ItemsChanged(Index);
  }
  T Extract(int32_t Index) {
    assert(Index >= 0 && Index < FCount);
    T result = std::move(FList[size_t(Index)]);
    Delete(Index);
    return result;
  }
  // Releases the item array: Count and Capacity 0.
  void Clear() {
    std::vector<T>().swap(FList);
    FCount = 0;
    FCapacity = 0;
    Cleared();
  }

  const T& First() const { return GetItem(0); }
  const T& Last() const { return GetItem(FCount - 1); }
  bool IsEmpty() const { return FCount == 0; }

  // Makes v a copy of this list (Capacity, Count, items; object items as shared
  // references). Between sortable lists Sorted and SelectionSorted go with the
  // items; ReverseIndex and AllowDuplicates stay v's own.
  void Clone(TBaseList<T>& v) const;

  void Swap(int32_t index1, int32_t index2) {
    assert(index1 >= 0 && index1 < FCount && index2 >= 0 && index2 < FCount);
    std::swap(FList[size_t(index1)], FList[size_t(index2)]);
    ItemsExchanged(index1, index2);
  }
  // Reverses the order of the items in place.
  void Swap() {
    std::reverse(FList.begin(), FList.begin() + FCount);
    ItemsReversed();
  }

protected:
  // Called after items at Index and beyond were removed or moved down.
  virtual void ItemsChanged(int32_t Index) { (void)Index; }
  // Called after Clear.
  virtual void Cleared() {}
  // Called after Swap(index1, index2) and after Swap().
  virtual void ItemsExchanged(int32_t index1, int32_t index2) { (void)index1; (void)index2; }
  virtual void ItemsReversed() {}
  // Called on the target of Clone after the items were copied.
  virtual void ClonedFrom(const TBaseList<T>& Source) { (void)Source; }

  void BaseSetItem(int32_t Index, T&& Item) {
    assert(Index >= 0);
    if (Index >= FCapacity) SetCapacity(BaseListCapacityFor(Index));
    FList[size_t(Index)] = std::move(Item);
    if (Index >= FCount) FCount = Index + 1;
  }

  int32_t BaseAdd(T&& Item) {
    if (FCount == FCapacity) {
      // Grow before anything changes, so a failed allocation leaves the list as it was.
      int32_t newCapacity = BaseListGrowth(FCapacity);
      FList.resize(size_t(newCapacity));
      FCapacity = newCapacity;
    }
    FList[size_t(FCount)] = std::move(Item);
    return FCount++;
  }

  void BaseInsert(int32_t Index, T&& Item) {
    assert(Index >= 0);
    if (Index >= FCapacity) {
      SetCapacity(BaseListCapacityFor(Index));
    } else if (FCount == FCapacity) {
      int32_t newCapacity = BaseListGrowth(FCapacity);
      FList.resize(size_t(newCapacity));
      FCapacity = newCapacity;
    }
    if (Index < FCount) {
      std::move_backward(FList.begin() + Index, FList.begin() + FCount, FList.begin() + FCount + 1);
      FList[size_t(Index)] = std::move(Item);
      ++FCount;
    } else {
      FList[size_t(Index)] = std::move(Item);
      FCount = Index + 1;
    }
  }

  // Fisher-Yates with a generator seeded from the process-wide source.
  void BaseShuffle() {
    TRandom random;
    random.Randomize();
    for (int32_t i = FCount - 1; i >= 1; --i) {
      int32_t j = random.NextInt(i + 1);
      if (j != i) std::swap(FList[size_t(i)], FList[size_t(j)]);
    }
  }

  int32_t FCapacity = 0;
  int32_t FCount = 0;
  std::vector<T> FList;  // always FCapacity long
};

template <typename T>
class TBaseListSort : public TBaseList<T> {
public:
  TBaseListSort() = default;

  bool Sorted() const { return FSorted; }
  bool ReverseIndex() const { return FReverseIndex; }
  void SetReverseIndex(bool Value) { FReverseIndex = Value; }
  bool AllowDuplicates() const { return FAllowDuplicates; }
  void SetAllowDuplicates(bool Value) { FAllowDuplicates = Value; }
  int32_t SelectionSorted() const { return FSelectionSorted; }

  void SetItem(int32_t Index, T Item) override {
    int32_t oldCount = this->FCount;
    this->BaseSetItem(Index, std::move(Item));
    CheckWrite(Index, oldCount);
  }

  int32_t Add(T Item) override {
    if (!FAllowDuplicates && IndexOf(Item) >= 0) return -1;
    int32_t index = this->BaseAdd(std::move(Item));
    if (index >= 1 && (FSorted || !FAllowDuplicates) &&
        Less(this->FList[size_t(index)], this->FList[size_t(index - 1)])) {
      FSorted = false;
      FSelectionSorted = 0;
    }
    CheckPrefix(index);
    if (!FAllowDuplicates) Sort();
    return index;
  }

  void Insert(int32_t Index, T Item) override {
    int32_t oldCount = this->FCount;
    this->BaseInsert(Index, std::move(Item));
    CheckWrite(Index, oldCount);
  }

  void Shuffle() override {
    this->BaseShuffle();
    FSorted = false;
    FSelectionSorted = 0;
  }

  virtual bool Equal(const T& a, const T& b) const = 0;
  virtual bool Less(const T& a, const T& b) const = 0;     // a sorts before b
  virtual bool Greater(const T& a, const T& b) const = 0;  // a sorts after b

  // Binary search when Sorted (any one of equal items), else the first equal item; -1 when none.
  int32_t IndexOf(const T& Item) const { return DoIndexOf(Item); }

  // Quicksort (not stable). Returns at once when Sorted and no reverse table is
  // wanted or one of Count entries exists.
  void Sort() {
    if (FSorted && (!FReverseIndex || FReverseList.size() == size_t(this->FCount))) return;
    if (FReverseIndex) {
      FReverseList.resize(size_t(this->FCount));
      for (int32_t i = 0; i < this->FCount; ++i) FReverseList[size_t(i)] = i;
    }
    if (this->FCount > 1) DoQuickSort();
    FSorted = true;
    FSelectionSorted = this->FCount;
  }

  void SelectionSort() { SelectionSortN(this->FCount); }
  // Extends the ordered prefix by up to N items (first of equal minima first).
  void SelectionSortN(int32_t N) { DoSelectionSortN(N); }

  // Position before the last sort of the item now at Index; -1 beyond the table.
  int32_t GetReverse(int32_t Index) const {
    if (Index < 0 || size_t(Index) >= FReverseList.size()) return -1;
    return FReverseList[size_t(Index)];
  }

  // The first of equal minima (maxima) when unsorted. The list must not be empty.
  const T& MinValue() const {
    assert(this->FCount > 0);
    if (FSorted) return this->FList[0];
    size_t best = 0;
    for (size_t k = 1; k < size_t(this->FCount); ++k)
      if (Less(this->FList[k], this->FList[best])) best = k;
    return this->FList[best];
  }
  const T& MaxValue() const {
    assert(this->FCount > 0);
    if (FSorted) return this->FList[size_t(this->FCount - 1)];
    size_t best = 0;
    for (size_t k = 1; k < size_t(this->FCount); ++k)
      if (Greater(this->FList[k], this->FList[best])) best = k;
    return this->FList[best];
  }

  // Sort, then keep the first item of every run of equal items. True when
  // anything was removed. The reverse table is not adjusted.
  bool RemoveDuplicates() {
    Sort();
    int32_t n = this->FCount;
    if (n < 2) return false;
    auto& list = this->FList;
    int32_t out = 1;
    for (int32_t i = 1; i < n; ++i) {
      if (Equal(list[size_t(i)], list[size_t(out - 1)])) continue;
      if (out != i) list[size_t(out)] = std::move(list[size_t(i)]);
      ++out;
    }
    if (out == n) return false;
    for (int32_t i = out; i < n; ++i) list[size_t(i)] = T{};
    this->FCount = out;
    if (FSelectionSorted > out) FSelectionSorted = out;
    return true;
  }

  // Sort, then False when two neighbours are equal.
  bool Unique() {
    Sort();
    for (int32_t i = 1; i < this->FCount; ++i)
      if (Equal(this->FList[size_t(i)], this->FList[size_t(i - 1)])) return false;
    return true;
  }

  bool EqualLists(const TBaseListSort<T>& List2) const {
    if (List2.Count() != this->FCount) return false;
    for (int32_t i = 0; i < this->FCount; ++i)
      if (!Equal(List2.FList[size_t(i)], this->FList[size_t(i)])) return false;
    return true;
  }

protected:
  void ItemsChanged(int32_t Index) override {
    if (Index < FSelectionSorted) FSelectionSorted = 0;
  }
  void Cleared() override {
    FSorted = true;
    FSelectionSorted = 0;
  }
  void ItemsExchanged(int32_t index1, int32_t index2) override {
    if (index1 < FSelectionSorted || index2 < FSelectionSorted) FSelectionSorted = 0;
    if (FSorted) CheckOrderAt(index1);
    if (FSorted) CheckOrderAt(index2);
    CheckPrefix(index1);
    CheckPrefix(index2);
  }
  // A reversed list stays in ascending order only when all its items are equal.
  void ItemsReversed() override {
    const int32_t n = this->FCount;
    if (n < 2) return;
    FSelectionSorted = 0;
    if (FSorted && !Equal(this->FList[0], this->FList[size_t(n - 1)])) FSorted = false;
  }
  void ClonedFrom(const TBaseList<T>& Source) override {
    if (auto* s = dynamic_cast<const TBaseListSort<T>*>(&Source)) {
      FSorted = s->FSorted;
      FSelectionSorted = s->FSelectionSorted;
    } else {
      FSorted = false;
      FSelectionSorted = 0;
    }
  }

  // The loops below are templates on the list type: TBaseListSortFast instantiates
  // them on a final class, whose comparisons the compiler then calls directly.
  virtual int32_t DoIndexOf(const T& Item) const { return IndexOfImpl(*this, Item); }
  virtual void DoQuickSort() { QuickSortImpl(*this); }
  virtual void DoSelectionSortN(int32_t N) { SelectionSortImpl(*this, N); }

  template <class Self>
  static int32_t IndexOfImpl(const Self& self, const T& Item) {
    const T* items = self.FList.data();
    if (self.FSorted) {
      int32_t lo = 0, hi = self.FCount - 1;
      while (hi >= lo) {
        int32_t mid = lo + (hi - lo) / 2;
        if (self.Equal(items[mid], Item)) return mid;
        if (self.Greater(items[mid], Item))
          hi = mid - 1;
        else
          lo = mid + 1;
      }
      return -1;
    }
    for (int32_t i = 0; i < self.FCount; ++i)
      if (self.Equal(items[i], Item)) return i;
    return -1;
  }

  // Hoare partition around the middle item; recursion on the smaller part and a
  // loop on the larger keeps the stack depth logarithmic on any input.
  template <class Self>
  static void QuickSortImpl(Self& self) {
    T* items = self.FList.data();
    int32_t* rev = self.FReverseIndex ? self.FReverseList.data() : nullptr;
    QuickSortRange(self, items, rev, 0, self.FCount - 1);
  }

  template <class Self>
  static void QuickSortRange(const Self& self, T* items, int32_t* rev, int32_t L, int32_t R) {
    while (L < R) {
      T pivot = items[L + (R - L) / 2];
      int32_t i = L, j = R;
      do {
        while (self.Less(items[i], pivot)) ++i;
        while (self.Greater(items[j], pivot)) --j;
        if (i <= j) {
          if (i != j) {
            std::swap(items[i], items[j]);
            if (rev) std::swap(rev[i], rev[j]);
          }
          ++i;
          --j;
        }
      } while (i <= j);
      // Parts L..j and i..R.
      if (j - L < R - i) {
        if (L < j) QuickSortRange(self, items, rev, L, j);
        L = i;
      } else {
        if (i < R) QuickSortRange(self, items, rev, i, R);
        R = j;
      }
    }
  }

  template <class Self>
  static void SelectionSortImpl(Self& self, int32_t N) {
    T* items = self.FList.data();
    int32_t rounds = std::min(N, self.FCount - self.FSelectionSorted);
    for (int32_t r = 0; r < rounds; ++r) {
      int32_t s = self.FSelectionSorted;
      int32_t best = s;
      for (int32_t k = s + 1; k < self.FCount; ++k)
        if (self.Less(items[k], items[best])) best = k;
      if (best != s) std::swap(items[best], items[s]);
      self.FSelectionSorted = s + 1;
    }
    if (self.FSelectionSorted == self.FCount) self.FSorted = true;
  }

  TIntegerArray FReverseList;
  bool FSorted = true;
  bool FReverseIndex = false;
  bool FAllowDuplicates = true;
  int32_t FSelectionSorted = 0;

private:
  // Order check after a write at Index. A write beyond the old Count opened a gap
  // of T{} entries, whose first entry is checked against the old last item too.
  void CheckWrite(int32_t Index, int32_t oldCount) {
    if (Index < FSelectionSorted) FSelectionSorted = 0;
    if (FSorted) {
      if (Index > oldCount && oldCount >= 1) CheckOrderAt(oldCount);
      if (FSorted) CheckOrderAt(Index);
    }
    if (Index > oldCount) CheckPrefix(oldCount);
    CheckPrefix(Index);
  }

  void CheckOrderAt(int32_t Index) {
    const auto& list = this->FList;
    if ((Index >= 1 && Greater(list[size_t(Index - 1)], list[size_t(Index)])) ||
        (Index < this->FCount - 1 && Greater(list[size_t(Index)], list[size_t(Index + 1)]))) {
      FSorted = false;
      FSelectionSorted = 0;
    }
  }

  // The ordered prefix holds the smallest items only while no item behind it is
  // smaller than its last one.
  void CheckPrefix(int32_t Index) {
    if (FSelectionSorted > 0 && Index >= FSelectionSorted &&
        Less(this->FList[size_t(Index)], this->FList[size_t(FSelectionSorted - 1)]))
      FSelectionSorted = 0;
  }
};

// TBaseListSort whose sort and search loops call Self's comparisons directly.
// Self must be final (or declare its comparisons final) and derive from this class.
template <typename T, class Self>
class TBaseListSortFast : public TBaseListSort<T> {
protected:
  int32_t DoIndexOf(const T& Item) const override {
    return TBaseListSort<T>::IndexOfImpl(static_cast<const Self&>(*this), Item);
  }
  void DoQuickSort() override { TBaseListSort<T>::QuickSortImpl(static_cast<Self&>(*this)); }
  void DoSelectionSortN(int32_t N) override {
    TBaseListSort<T>::SelectionSortImpl(static_cast<Self&>(*this), N);
  }
};

template <typename T>
void TBaseList<T>::Clone(TBaseList<T>& v) const {
  if (&v == this) return;
  std::vector<T> items(static_cast<size_t>(FCapacity));  // built aside: a failed copy leaves v as it was
  std::copy(FList.begin(), FList.begin() + FCount, items.begin());
  v.FList.swap(items);
  v.FCapacity = FCapacity;
  v.FCount = FCount;
  v.ClonedFrom(*this);
}

}  // namespace kovra
