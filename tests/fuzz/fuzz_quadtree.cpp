// Spatial-index loader on arbitrary bytes: a UInt16 node count and a UInt16
// link count, then the file. Either the loader's corruption error, or a tree
// that keeps every rule the loader promises and saves to bytes that load to
// the same tree.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "network/kovra_quadtree.h"

using namespace kovra;

namespace {

std::string Saved(const TQuadTreeBase& t) {
  TKvMemoryStream s;
  t.SaveToStream(s);
  return std::string(static_cast<const char*>(s.Memory()), size_t(s.Size()));
}

bool Load(TQuadTree& t, const void* Bytes, size_t Size, int32_t Nodes, int32_t Links) {
  TKvMemoryStream s;
  s.WriteBuffer(Bytes, int32_t(Size));
  s.SetPosition(0);
  try {
    t.LoadFromStream(s, Nodes, Links);
    return true;
  } catch (const Exception& e) {
    if (std::strstr(e.Message().c_str(), "spatialindex.bin is corrupted") == nullptr) std::abort();
    if (t.CellCount() != 0) std::abort();  // a refused file leaves no tree behind
    return false;
  }
}

// Pre-order IDs, depth, quarters' corners, leaf contents; counts each node's leaves.
int32_t Check(const TQuadTree& t, const TQuadTreeCell& c, int32_t Depth, int32_t Links, std::vector<int>& Seen) {
  int32_t next = c.ID() + 1;
  if (Depth > cQuadTreeMaxDepth) std::abort();
  if (!c.Divided()) {
    for (int32_t node : t.Nodes(c)) ++Seen.at(size_t(node));
    for (const TSubLink& s : t.Runs(c))
      if (s.Link < 1 || s.Link > Links || s.sub1 >= s.sub2) std::abort();
    return next;
  }
  if (!t.Nodes(c).empty() || !t.Runs(c).empty()) std::abort();
  for (int32_t k = cChildNE; k <= cChildSE; ++k) {
    const TQuadTreeCell& child = t.Child(c, k);
    if (child.ID() != next) std::abort();
    next = Check(t, child, Depth + 1, Links, Seen);
  }
  // The NE child's lower-left corner is where FindQuadTreeCell cuts.
  const TFloatRect& ne = t.Child(c, cChildNE).Rect();
  if (std::memcmp(&ne.xmax, &c.Rect().xmax, 8) != 0 || std::memcmp(&ne.ymax, &c.Rect().ymax, 8) != 0) std::abort();
  return next;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  uint16_t counts[2];
  std::memcpy(counts, data, 4);
  const int32_t nodes = counts[0], links = counts[1];
  TQuadTree t;
  if (!Load(t, data + 4, size - 4, nodes, links)) return 0;
  std::vector<int> seen(size_t(nodes) + 1, 0);
  if (Check(t, t.Root(), 0, links, seen) != t.CellCount() + 1) std::abort();
  for (int32_t node = 1; node <= nodes; ++node)
    if (seen[size_t(node)] != 1) std::abort();
  const std::string saved = Saved(t);
  TQuadTree again;
  if (!Load(again, saved.data(), saved.size(), nodes, links) || Saved(again) != saved) std::abort();
  for (int32_t node = 1; node <= nodes && node < 64; ++node) {
    // Any point finds a leaf; the walk never leaves the tree.
    const TFloatRect& r = t.Root().Rect();
    const TQuadTreeCell& leaf = FindQuadTreeCell(t, {r.xmin + (r.xmax - r.xmin) * node / 64, r.ymax});
    if (leaf.Divided()) std::abort();
  }
  return 0;
}
