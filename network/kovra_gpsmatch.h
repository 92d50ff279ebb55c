// TGPSMatchList: the candidate positions on the links near a GPS fix, as the
// spatial search returns them. Sorted, it holds every candidate that may be
// driven in its direction before every one that may not, each group by
// distance in metres plus heading difference in degrees, ascending.
#pragma once

#include <cstdint>

#include "foundation/kovra_baselist.h"
#include "foundation/kovra_types.h"

namespace kovra {

// Plain layout: the items are never written as raw bytes.
struct TGPSMatch {
  TLocation Loc;
  double Distance = 0;    // km from the query point
  double DifBearing = 0;  // degrees 0..180 between heading and direction of travel
  bool Reverse = false;   // travels the link against its digitising direction
  bool OneWayMisMatch = false;
};

class TGPSMatchList final : public TBaseListSortFast<TGPSMatch, TGPSMatchList> {
public:
  // Equality is exact on distance, heading difference and the one-way flag,
  // while the order uses their combined key: two candidates with the same key
  // but other parts are neither equal nor ordered.
  bool Equal(const TGPSMatch& a, const TGPSMatch& b) const final;
  bool Less(const TGPSMatch& a, const TGPSMatch& b) const final;
  bool Greater(const TGPSMatch& a, const TGPSMatch& b) const final;
};

}  // namespace kovra
