#include "network/kovra_arealist.h"

#include <algorithm>

namespace kovra {

void TAreaList::Index(int32_t i) {
  size_t slot = Slot(AL[size_t(i)].link);
  while (FIndex[slot] >= 0) slot = (slot + 1) & (FIndex.size() - 1);
  FIndex[slot] = i;
}

// Every item already in AL is entered anew when the slots grow.
void TAreaList::Reserve(size_t Count) {
  if (2 * Count <= FIndex.size()) return;
  size_t size = 16;
  int shift = 28;
  while (size < 2 * Count) size *= 2, --shift;
  FIndex.assign(size, -1);
  fShift = shift;
  for (size_t i = 0; i < AL.size(); ++i) Index(int32_t(i));
}

void TAreaList::Add(int32_t link, int32_t areaID) {
  if (link <= 0) return;
  const int32_t i = FindItem(link);
  if (i >= 0) {
    AL[size_t(i)].areaID = areaID;
  } else {
    Reserve(AL.size() + 1);
    AL.push_back({link, areaID, false, false});
    Index(int32_t(AL.size()) - 1);
  }
  FMaxArea = std::max(FMaxArea, areaID);
}

void TAreaList::GetLinkList(int32_t areaID, TIntegerList& IL) const {
  IL.Clear();
  for (const auto& item : AL)
    if (item.areaID == areaID) IL.Add(item.link);
  IL.Sort();
}

void TAreaList::Update(TBitArray& Bits, int32_t area1, int32_t area2) const {
  Bits.SetAllTrue();
  for (const auto& item : AL)
    if (item.areaID != area1 && item.areaID != area2) Bits.SetBit(item.link, false);
}

void TAreaList::UpdateExit(int32_t link, int32_t direction) {
  const int32_t i = FindItem(link);
  if (i < 0) return;
  if (direction == 1) AL[size_t(i)].exitFT = true;
  if (direction == 2) AL[size_t(i)].exitTF = true;
}

void TAreaList::UpdateExitBits(TBitArray& BitsFT, TBitArray& bitsTF, int32_t area) const {
  BitsFT.SetAllTrue();
  bitsTF.SetAllTrue();
  for (const auto& item : AL) {
    if (item.areaID == area) continue;
    if (item.exitFT) BitsFT.SetBit(item.link, false);
    if (item.exitTF) bitsTF.SetBit(item.link, false);
  }
}

void TAreaList::Clone(TAreaList& v) const {
  if (&v == this) return;
  v.AL = AL;
  v.FIndex = FIndex;
  v.fShift = fShift;
  v.FMaxArea = FMaxArea;
}

void TAreaList::Assign(std::vector<TAreaListItem> Items) {
  Clear();
  AL = std::move(Items);
  Reserve(AL.size());  // enters every item
  for (const auto& item : AL) FMaxArea = std::max(FMaxArea, item.areaID);
}

void TAreaList::Clear() {
  AL.clear();
  FIndex.clear();
  fShift = 32;
  FMaxArea = 0;
}

}  // namespace kovra
