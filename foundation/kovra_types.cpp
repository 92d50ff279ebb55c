#include "foundation/kovra_types.h"

namespace kovra {

bool operator==(const TFloatPointArrayEx& a, const TFloatPointArrayEx& b) {
  if (a.Count != b.Count) return false;
  if (a.Count > 0 && (size_t(a.Count) > a.Pnt.size() || size_t(a.Count) > b.Pnt.size())) return false;
  // Entries at and beyond Count are stale buffer space and are not compared.
  for (int32_t i = 0; i < a.Count; ++i)
    if (a.Pnt[size_t(i)] != b.Pnt[size_t(i)]) return false;
  return true;
}

bool operator==(const TRoute& a, const TRoute& b) {
  if (a.percent1 != b.percent1) return false;
  if (a.percent2 != b.percent2) return false;
  if (a.links != b.links) return false;
  return a.nodes == b.nodes;
}

}  // namespace kovra
