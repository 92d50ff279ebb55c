// Integer lists: the sortable TIntegerList, the plain TIntegerListUnsorted and
// TIntegerLists, a list of integer lists that owns them.
#pragma once

#include <cstdint>
#include <memory>

#include "foundation/kovra_baselist.h"
#include "foundation/kovra_bitarray.h"

namespace kovra {

class TIntegerList final : public TBaseListSortFast<int32_t, TIntegerList> {
public:
  bool Equal(const int32_t& a, const int32_t& b) const override { return a == b; }
  bool Less(const int32_t& a, const int32_t& b) const override { return a < b; }
  bool Greater(const int32_t& a, const int32_t& b) const override { return a > b; }

  // Deletes every item equal to 0.
  void RemoveBlanks();
  // Nothing for a null BA; otherwise the list becomes the set bits 1..Size-1 in
  // ascending order (bit 0 is never taken: element 0 of per-link data is unused).
  // A set bit beyond the Integer range raises EOutOfRange and leaves the list
  // as it was.
  void SetFromBitArray(const TBitArray* BA);
  // True when no item is greater than 0 (also for an empty list).
  bool AllNegative() const;
};

class TIntegerListUnsorted final : public TBaseList<int32_t> {};

// Owns the lists it holds: a list that is replaced (SetItem), cut off
// (SetCapacity below Count) or left in the destructor is freed with it. Delete,
// Extract and Clear hand their lists back instead: the caller may still use a
// removed list, and must free it. Clone copies the lists themselves.
class TIntegerLists final : public TBaseList<std::unique_ptr<TIntegerList>> {
  using TBase = TBaseList<std::unique_ptr<TIntegerList>>;

public:
  TIntegerLists() = default;
  ~TIntegerLists() override = default;

  // Add, SetItem and Insert take ownership of Item.
  using TBase::Add;
  int32_t Add(TIntegerList* Item) { return TBase::Add(std::unique_ptr<TIntegerList>(Item)); }
  using TBase::SetItem;
  void SetItem(int32_t Index, TIntegerList* Item) { TBase::SetItem(Index, std::unique_ptr<TIntegerList>(Item)); }
  using TBase::Insert;
  void Insert(int32_t Index, TIntegerList* Item) { TBase::Insert(Index, std::unique_ptr<TIntegerList>(Item)); }

  TIntegerList* GetItem(int32_t Index) const { return TBase::GetItem(Index).get(); }
  TIntegerList* First() const { return GetItem(0); }
  TIntegerList* Last() const { return GetItem(FCount - 1); }

  // The removed list belongs to the caller.
  void Delete(int32_t Index);
  TIntegerList* Extract(int32_t Index) { return TBase::Extract(Index).release(); }
  void Clear();

  // Makes v a copy of this list of lists, each list copied with its items and
  // settings; v's old lists are freed.
  void Clone(TIntegerLists& v) const;
};

}  // namespace kovra
