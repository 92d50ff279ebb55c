// Shared by the quadtree tests: networks of the test writer in a folder, the
// index built and loaded from them, and a walk over a tree's cells.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/kovra_configfile.h"
#include "foundation/kovra_io.h"
#include "network/kovra_quadtree.h"
#include "network/support/network_writer.h"
#include "support/test_files.h"

namespace kovra::testsupport {

// Node coordinates of a plain directory by node id; element 0 unused.
inline TFloatPointArray NodeCoords(const std::string& Dir) {
  const std::string bytes = ReadBytes(Dir + "coord.bin");
  TFloatPointArray p(bytes.size() / 16 + 1);
  if (bytes.size() >= 16) std::memcpy(p.data() + 1, bytes.data(), bytes.size() / 16 * 16);
  return p;
}

// Rewrites the settings of w's directory with the bounds R.
inline void SetBounds(const std::string& Dir, const TTestNetworkWriter& w, const TFloatRect& R) {
  WriteConfig(Dir, w.Key != 0, w.Unit, w.CoordSys, w.Prj, w.Epsg, w.LinkCount(), R);
}

// Builds "spatialindex.bin" in Dir and returns its bytes.
inline std::string BuildIndex(const std::string& Dir, int32_t Cap, int64_t Key = 0) {
  TQuadTreeSetup b;
  b.SetDirectory(Dir);
  b.SetMaxNodesPerCell(Cap);
  b.Build(Key, nullptr);
  return ReadBytes(Dir + cSpatialIndexFileName);
}

// w's directory with its index of Cap nodes per cell, as the import leaves it.
struct TIndexed {
  std::string Bytes;  // of "spatialindex.bin"
  int32_t Nodes;      // in "coord.bin"
};
inline TIndexed WriteIndexed(TTestNetworkWriter& w, const std::string& Dir, int32_t Cap) {
  w.SpatialIndex = true;
  w.MaxNodesPerCell = Cap;
  w.Write(Dir);
  return {ReadBytes(Dir + cSpatialIndexFileName), int32_t(ReadBytes(Dir + "coord.bin").size() / 16)};
}

inline void LoadBytes(TQuadTree& t, const std::string& Bytes, int32_t Nodes, int32_t Links) {
  auto s = MemoryStreamOf(Bytes);
  t.LoadFromStream(*s, Nodes, Links);
}

inline std::string SavedBytes(const TQuadTreeBase& t) {
  TKvMemoryStream s;
  t.SaveToStream(s);
  return std::string(static_cast<const char*>(s.Memory()), size_t(s.Size()));
}

// Four nodes A (1, 1), B (4, 1), D (1, 4), C (6, 6) (ids 1 to 4) and three
// links A-B, B-(6, 2)-C, A-D, with the settings' bounds (0, 0, 8, 8) and two
// nodes per cell: five cells, the root cut at (4, 4); the file is 285 bytes,
// its cells at offsets 4, 41 (NE), 96 (NW), 151 (SW) and 222 (SE).
inline TTestNetworkWriter WriteHandNetwork(const std::string& Dir) {
  TTestNetworkWriter w;
  w.AddLink({{1, 1}, {4, 1}});
  w.AddLink({{4, 1}, {6, 2}, {6, 6}});
  w.AddLink({{1, 1}, {1, 4}});
  w.Write(Dir);
  SetBounds(Dir, w, {0, 0, 8, 8});
  return w;
}

struct TCellAt {
  const TQuadTreeCell* Cell;
  int32_t Depth;
};

// Every cell in pre-order (children NE, NW, SW, SE), with its depth below the root.
inline std::vector<TCellAt> Walk(const TQuadTreeBase& t) {
  std::vector<TCellAt> out;
  std::vector<TCellAt> todo{{&t.Root(), 0}};
  while (!todo.empty()) {
    const TCellAt c = todo.back();
    todo.pop_back();
    out.push_back(c);
    if (c.Cell->Divided())
      for (int32_t k = cChildSE; k >= cChildNE; --k) todo.push_back({&t.Child(*c.Cell, k), c.Depth + 1});
  }
  return out;
}

}  // namespace kovra::testsupport
