#include "network/kovra_arealist.h"

#include <algorithm>

namespace kovra {

void TAreaList::Add(int32_t link, int32_t areaID) {
  if (link <= 0) return;
  const auto [it, added] = FIndex.emplace(link, int32_t(AL.size()));
  if (added)
    AL.push_back({link, areaID, false, false});
  else
    AL[size_t(it->second)].areaID = areaID;
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
  v.FMaxArea = FMaxArea;
}

void TAreaList::Assign(std::vector<TAreaListItem> Items) {
  Clear();
  AL = std::move(Items);
  FIndex.reserve(AL.size());
  for (size_t i = 0; i < AL.size(); ++i) {
    FIndex.emplace(AL[i].link, int32_t(i));
    FMaxArea = std::max(FMaxArea, AL[i].areaID);
  }
}

void TAreaList::Clear() {
  AL.clear();
  FIndex.clear();
  FMaxArea = 0;
}

}  // namespace kovra
