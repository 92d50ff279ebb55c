// Integer lists: the sortable TIntegerList, the plain TIntegerListUnsorted and
// TIntegerLists, a list of integer lists that frees them on destruction.
#pragma once

#include <cstdint>

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
  void SetFromBitArray(const TBitArray* BA);
  // True when no item is greater than 0 (also for an empty list).
  bool AllNegative() const;
};

class TIntegerListUnsorted final : public TBaseList<int32_t> {};

// Owns the lists among items 0..Count-1: the destructor frees them. Delete,
// Extract and Clear free nothing (the caller may still use the removed list, and
// must free it). Clone copies the references: only one of the two may own them.
class TIntegerLists final : public TBaseList<TIntegerList*> {
public:
  TIntegerLists() = default;
  ~TIntegerLists() override;
};

}  // namespace kovra
