// TAreaList: the no-drive-through areas of a network, as a map from each area
// link to its area id and two exit flags. The calculators turn it into
// per-search link masks with Update and UpdateExitBits.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/kovra_bitarray.h"
#include "foundation/kovra_integerlist.h"
#include "platform/kovra_sysutils.h"

namespace kovra {

struct TAreaListItem {
  int32_t link = 0;
  int32_t areaID = 0;
  bool exitFT = false;  // driving from-node to to-node reaches the area's border
  bool exitTF = false;  // driving to-node to from-node reaches it
};

class TAreaList : public TObject {
public:
  // Adds the link, or gives a link already present the new id (its exit
  // flags stay). A link id of 0 or less is ignored.
  void Add(int32_t link, int32_t areaID);
  // 0 when the link is in no area.
  int32_t GetArea(int32_t link) const {
    const int32_t i = FindItem(link);
    return i < 0 ? 0 : AL[size_t(i)].areaID;
  }
  // IL := the area's links, ascending.
  void GetLinkList(int32_t areaID, TIntegerList& IL) const;
  // Every bit set, then the links of every area other than area1 and area2 cleared.
  void Update(TBitArray& Bits, int32_t area1, int32_t area2) const;
  // direction 1 sets exitFT, 2 exitTF; nothing for another value or a link
  // not in the list.
  void UpdateExit(int32_t link, int32_t direction);
  // Every bit of both set, then for every area other than `area` each link's
  // exit directions cleared.
  void UpdateExitBits(TBitArray& BitsFT, TBitArray& bitsTF, int32_t area) const;
  void Clone(TAreaList& v) const;
  // Replaces the items by Items (distinct positive links), in that order.
  void Assign(std::vector<TAreaListItem> Items);
  void Clear();
  // Largest area id ever added; 0 when empty.
  int32_t MaxArea() const { return FMaxArea; }
  int32_t Count() const { return int32_t(AL.size()); }
  const TAreaListItem& Item(int32_t index) const { return AL[size_t(index)]; }

private:
  // Index into AL of the link's item, -1 when absent.
  int32_t FindItem(int32_t link) const {
    if (FIndex.empty()) return -1;
    for (size_t slot = Slot(link);; slot = (slot + 1) & (FIndex.size() - 1)) {
      const int32_t i = FIndex[slot];
      if (i < 0 || AL[size_t(i)].link == link) return i;
    }
  }
  size_t Slot(int32_t link) const { return size_t((uint32_t(link) * 0x9E3779B1u) >> fShift); }
  // Enters item i in FIndex, which has a free slot.
  void Index(int32_t i);
  // Makes room for Count items, at most half the slots in use.
  void Reserve(size_t Count);

  std::vector<TAreaListItem> AL;  // insertion order
  // Link -> index into AL: open addressing with linear probing, -1 free.
  // One flat array: the list is rebuilt for every network and cloned for
  // every calculator, so no allocation per item.
  std::vector<int32_t> FIndex;
  int fShift = 32;  // Slot: the top log2(FIndex.size()) bits of the hash
  int32_t FMaxArea = 0;
};

}  // namespace kovra
