// TSubLinkList: the segment runs of one quadtree leaf. A run {Link, sub1,
// sub2} covers the segments sub1 .. sub2 - 1 of the link's polyline (segment s
// joins vertex s and vertex s + 1, vertex 0 being the from-node), that is the
// vertices sub1 .. sub2.
#pragma once

#include <cstdint>

#include "foundation/kovra_baselist.h"

namespace kovra {

// Also the layout of a run record in "spatialindex.bin": 8 bytes, no padding.
struct TSubLink {
  int32_t Link = 0;   // link id, from 1
  uint16_t sub1 = 0;  // first segment of the run
  uint16_t sub2 = 0;  // one past the last segment; greater than sub1
};
static_assert(sizeof(TSubLink) == 8);

inline bool operator==(const TSubLink& a, const TSubLink& b) {
  return a.Link == b.Link && a.sub1 == b.sub1 && a.sub2 == b.sub2;
}

class TSubLinkList final : public TBaseList<TSubLink> {
public:
  // Extends the last run by one segment. The list must not be empty.
  void incsub2();
  // The polyline vertices the runs cover: sub2 - sub1 + 1 summed over every
  // run whose sub2 is not 0.
  int32_t Vertexcount() const;
};

}  // namespace kovra
