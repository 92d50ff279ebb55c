// Attribute words and the adjacency signs that follow bits 9 and 10. Every
// change bumps the attribute version, so that routing refuses labels and
// caches computed under the old words.
#include <cstdlib>

#include "network/kovra_network.h"

namespace kovra {

namespace {

// The sign of link l's entry at node: the from-end follows bit 10, the to-end
// bit 9; at a loop's node the from-end rule decides.
inline int32_t Signed(int32_t l, bool blocked) { return blocked ? -l : l; }

}  // namespace

void TNetwork::UpdateNodeArraySigns(int32_t link) {
  if (FLength[size_t(link)] == 0) return;  // a rejected object has no slots
  const uint16_t w = Fattribute[size_t(link)];
  const int32_t from = Fromnode[size_t(link)], to = tonode[size_t(link)];
  const auto resign = [&](int32_t node, bool blocked) {
    for (int32_t& e : AdjacentSlots(node))
      if (std::abs(e) == link) e = Signed(link, blocked);
  };
  resign(to, w & cAttrOnewayFromTo);
  resign(from, w & cAttrOnewayToFrom);
}

void TNetwork::UpdateAllNodeArraySigns() {
  for (int32_t node = 1; node <= FNodeCount; ++node) {
    for (int32_t& e : AdjacentSlots(node)) {
      const int32_t l = std::abs(e);
      const uint16_t w = Fattribute[size_t(l)];
      e = Signed(l, Fromnode[size_t(l)] == node ? (w & cAttrOnewayToFrom) : (w & cAttrOnewayFromTo));
    }
  }
}

uint16_t TNetwork::AttributeGet(int32_t link) const {
  CheckOpen();
  CheckLink(link);
  return Fattribute[size_t(link)];
}

bool TNetwork::AttributeGetBit(int32_t link, uint8_t bit) const {
  CheckOpen();
  CheckLink(link);
  return AttributeGetBit_raw(link, bit);
}

void TNetwork::AttributeSet(int32_t link, uint16_t value) {
  CheckOpen();
  CheckLink(link);
  if (Fromnode[size_t(link)] == tonode[size_t(link)]) value &= uint16_t(~cAttrOneway);
  Fattribute[size_t(link)] = value;
  AttributeChanged();
  UpdateNodeArraySigns(link);
}

void TNetwork::AttributeSetBit(int32_t link, uint8_t bit, bool value) {
  CheckOpen();
  CheckLink(link);
  if (bit >= 16) return;
  uint16_t& w = Fattribute[size_t(link)];
  const uint16_t mask = uint16_t(1u << bit);
  w = value ? uint16_t(w | mask) : uint16_t(w & ~mask);
  AttributeChanged();
  UpdateNodeArraySigns(link);
}

void TNetwork::AttributeSetBits(uint8_t bit, const TBitArray& BA) {
  CheckOpen();
  if (BA.Size() < int64_t(FLinkCount) + 1)
    throw EInvalidParameter(Format(cMsgBitArrayTooShort, int32_t(int64_t(FLinkCount) + 1)));
  if (bit >= 16) return;
  const uint16_t mask = uint16_t(1u << bit);
  for (int32_t l = 1; l <= FLinkCount; ++l) {
    uint16_t& w = Fattribute[size_t(l)];
    w = BA.GetBit(l) ? uint16_t(w | mask) : uint16_t(w & ~mask);
  }
  AttributeChanged();
  if (mask & cAttrOneway) UpdateAllNodeArraySigns();
}

void TNetwork::AttributeSetSkipInSearchBit() {
  CheckOpen();
  for (int32_t l = 1; l <= FLinkCount; ++l) {
    uint16_t& w = Fattribute[size_t(l)];
    w = (w & cAttrOneway) == cAttrOneway ? uint16_t(w | cAttrSearchLink) : uint16_t(w & ~cAttrSearchLink);
  }
  AttributeChanged();
}

void TNetwork::SetRoadClass(int32_t link, TRoadClass value) {
  CheckOpen();
  CheckLink(link);
  if (value > 31) throw EOutOfRange(Format(cMsgRoadClassRange, int32_t(value)));
  Fattribute[size_t(link)] = uint16_t((Fattribute[size_t(link)] & ~cAttrRoadClass) | value);
  AttributeChanged();
}

void TNetwork::SetHierarchy(int32_t link, THierarchy value) {
  CheckOpen();
  CheckLink(link);
  if (value > 7) throw EOutOfRange(Format(cMsgHierarchyRange, int32_t(value)));
  Fattribute[size_t(link)] = uint16_t((Fattribute[size_t(link)] & ~cAttrHierarchy) | (value << 5));
  AttributeChanged();
}

uint16_t TNetwork::OneWayGet(int32_t link) const {
  CheckOpen();
  CheckLink(link);
  return Fattribute[size_t(link)] & cAttrOneway;
}

void TNetwork::OneWaySet(int32_t link, uint16_t value) {
  CheckOpen();
  CheckLinkRange(link);
  value &= cAttrOneway;
  if (Fromnode[size_t(link)] == tonode[size_t(link)]) value = 0;
  uint16_t& w = Fattribute[size_t(link)];
  w = uint16_t((w & ~cAttrOneway) | value);
  AttributeChanged();
  UpdateNodeArraySigns(link);
}

void TNetwork::SwapOneWay() {
  CheckOpen();
  for (int32_t l = 1; l <= FLinkCount; ++l) {
    const int32_t code = OneWayCode(l);
    if (code != 1 && code != 2) continue;
    uint16_t& w = Fattribute[size_t(l)];
    w = uint16_t((w & ~cAttrOneway) | (code == 1 ? cAttrOnewayToFrom : cAttrOnewayFromTo));
    UpdateNodeArraySigns(l);
  }
  AttributeChanged();
}

}  // namespace kovra
