// The edge list of TCalc::MST: one entry per link with its end nodes and its
// cost, sortable by cost (equal costs compare equal, so their order is the
// quicksort's).
#pragma once

#include <cstdint>

#include "foundation/kovra_baselist.h"

namespace kovra {

struct TMST {
  int32_t link = 0;
  int32_t node1 = 0;
  int32_t node2 = 0;
  float cost = 0;
};

class TMSTList final : public TBaseListSortFast<TMST, TMSTList> {
public:
  bool Equal(const TMST& a, const TMST& b) const override { return a.cost == b.cost; }
  bool Less(const TMST& a, const TMST& b) const override { return a.cost < b.cost; }
  bool Greater(const TMST& a, const TMST& b) const override { return a.cost > b.cost; }
};

}  // namespace kovra
