// TLocationList: the list through which places on the network go in and out
// of the library. Each item holds a network location, a coordinate, or both;
// the half a caller leaves out is zero. Items order by location only (link,
// then percent along it); the point never takes part in ordering, equality,
// search or duplicate removal.
#pragma once

#include <cstdint>

#include "foundation/kovra_baselist.h"
#include "foundation/kovra_types.h"

namespace kovra {

// Plain layout: the items are never written as raw bytes.
struct TLocationListItem {
  TLocation loc;
  TFloatPoint P;
};

class TLocationList final : public TBaseListSortFast<TLocationListItem, TLocationList> {
public:
  // Each appends one item through Add and returns its index (-1 when
  // duplicates are refused and an equal location is present). No argument is
  // checked: the consumer of the list checks it.
  int32_t Add1(const TLocation& Item) { return Add({Item, cZeroPoint}); }
  int32_t Add2(int32_t link, double percent) { return Add({TLocation{link, percent}, cZeroPoint}); }
  int32_t Add3(const TFloatPoint& P) { return Add({cZeroLocation, P}); }
  int32_t Add4(const TLocation& Item, const TFloatPoint& P) { return Add({Item, P}); }
  int32_t Add5(double x, double y) { return Add({cZeroLocation, TFloatPoint{x, y}}); }

  // Deletes every item whose percent is exactly 0 or 1 (a location on a node);
  // the others keep their order.
  void RemoveStartEndPos();

  bool Equal(const TLocationListItem& a, const TLocationListItem& b) const final {
    return a.loc.link == b.loc.link && a.loc.percent == b.loc.percent;
  }
  bool Less(const TLocationListItem& a, const TLocationListItem& b) const final {
    return a.loc.link < b.loc.link || (a.loc.link == b.loc.link && a.loc.percent < b.loc.percent);
  }
  bool Greater(const TLocationListItem& a, const TLocationListItem& b) const final {
    return a.loc.link > b.loc.link || (a.loc.link == b.loc.link && a.loc.percent > b.loc.percent);
  }
};

}  // namespace kovra
