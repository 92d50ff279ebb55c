// Test support: a network directory decoded into plain arrays, independently
// of the readers under test. Every file of the directory that exists is read;
// a file whose size is no whole number of records, or files that disagree
// with each other, fail the running test.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "foundation/kovra_types.h"

namespace kovra::testsupport {

struct TNetworkDir {
  std::set<std::string> Files;  // names of the network files found
  // coordfrom.bin, coordto.bin: one end per link (record L-1 for link L).
  std::vector<TFloatPoint> CoordFrom, CoordTo;
  // coord3.bin deciphered, and coord3i.bin (LinkCount + 1 values).
  std::vector<TFloatPoint> Coord3;
  std::vector<int32_t> Coord3i;

  bool Has(const std::string& Name) const { return Files.count(Name) != 0; }
  int32_t LinkCount() const { return int32_t(CoordFrom.size()); }
  // The vertices of link L (1-based): first end, intermediate vertices, last end.
  std::vector<TFloatPoint> Polyline(int32_t L) const;
};

// Key: the network's encryption key (0 = plain files).
TNetworkDir ReadNetworkDir(const std::string& Dir, int64_t Key = 0);

}  // namespace kovra::testsupport
