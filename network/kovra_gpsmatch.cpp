#include "network/kovra_gpsmatch.h"

namespace kovra {

namespace {
// One metre weighs as much as one degree of heading.
inline double Key(const TGPSMatch& m) { return m.Distance * 1000 + m.DifBearing; }
}  // namespace

bool TGPSMatchList::Equal(const TGPSMatch& a, const TGPSMatch& b) const {
  return a.Distance == b.Distance && a.DifBearing == b.DifBearing && a.OneWayMisMatch == b.OneWayMisMatch;
}

bool TGPSMatchList::Less(const TGPSMatch& a, const TGPSMatch& b) const {
  if (a.OneWayMisMatch != b.OneWayMisMatch) return b.OneWayMisMatch;
  return Key(a) < Key(b);
}

bool TGPSMatchList::Greater(const TGPSMatch& a, const TGPSMatch& b) const {
  if (a.OneWayMisMatch != b.OneWayMisMatch) return a.OneWayMisMatch;
  return Key(a) > Key(b);
}

}  // namespace kovra
