// Results of the routing layer that the network writes out: the sites and
// costs of an iso-polygon generation and a list of origin-destination
// items. The routing layer fills them; the network only reads them, so it
// includes no routing code.
#pragma once

#include <cstdint>

#include "foundation/kovra_baselist.h"
#include "foundation/kovra_types.h"

namespace kovra {

// One point of an iso-polygon generation with its best cost.
struct TCoordCostSite {
  float Cost = cInfinity;  // cInfinity when not reached
  int32_t Site = 65535;    // index of the cheapest start, 65535 for none
  uint16_t infotype = 0;
  TFloatPoint P{};         // the point written
};

class TCoordCostSiteList : public TBaseList<TCoordCostSite> {};

struct TPolyGeneration {
  TFloatPointArray StartPoints;
  TCoordCostSiteList CoordCostSiteList;
};

// An origin-destination item.
struct TTraffic {
  TFloatPoint P1{};  // origin
  TFloatPoint P2{};  // destination
  float Volume = 0;
};

class TTrafficList : public TBaseList<TTraffic> {};

}  // namespace kovra
