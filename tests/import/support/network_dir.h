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

  // The files of the build, deciphered: length.bin, coord.bin (node n at
  // n - 1), link.bin (from and to of link L at 2L - 2 and 2L - 1), node.bin.
  std::vector<float> Length;
  std::vector<TFloatPoint> Coord;
  std::vector<uint32_t> Link;
  std::vector<int32_t> Node;

  bool Has(const std::string& Name) const { return Files.count(Name) != 0; }
  // From the vertex files while they exist, else from length.bin.
  int32_t LinkCount() const { return int32_t(Has("coordfrom.bin") ? CoordFrom.size() : Length.size()); }
  int32_t NodeCount() const { return int32_t(Coord.size()); }
  // The degree of node n by the degree table of node.bin.
  int32_t Degree(int32_t n) const;
  // The links in the adjacency slots of node n.
  std::vector<int32_t> Slots(int32_t n) const;
  // The vertices of link L (1-based): first end, intermediate vertices, last
  // end; the ends from the vertex files while they exist, else the nodes.
  std::vector<TFloatPoint> Polyline(int32_t L) const;
};

// Key: the network's encryption key (0 = plain files); link.bin is
// deciphered when LinkEnciphered (the import enciphers it last).
TNetworkDir ReadNetworkDir(const std::string& Dir, int64_t Key = 0, bool LinkEnciphered = true);

}  // namespace kovra::testsupport
