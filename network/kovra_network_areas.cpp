// No-drive-through areas: groups of links with bit 8 connected through shared
// nodes, the dead-end trees that hang off them, and their exits.
#include <vector>

#include "network/kovra_network.h"

namespace kovra {

namespace {

inline int32_t Abs(int32_t v) { return v < 0 ? -v : v; }

}  // namespace

void TNetwork::BuildAreas() {
  FAreaList.Clear();
  auto noThrough = [&](int32_t l) { return (Fattribute[size_t(l)] & cAttrNoDriveThrough) != 0; };
  auto otherEnd = [&](int32_t l, int32_t node) {
    return Fromnode[size_t(l)] == node ? tonode[size_t(l)] : Fromnode[size_t(l)];
  };
  // The items are gathered here in the list's insertion order and handed
  // over at the end: by link, the item's index + 1 (0: in no area).
  std::vector<TAreaListItem> items;
  std::vector<int32_t> itemOf(size_t(FLinkCount) + 1, 0);
  auto add = [&](int32_t l, int32_t area) {
    if (itemOf[size_t(l)] != 0) {
      items[size_t(itemOf[size_t(l)] - 1)].areaID = area;
      return;
    }
    items.push_back({l, area, false, false});
    itemOf[size_t(l)] = int32_t(items.size());
  };
  // By node: 0 where no area link meets, else whether it is a border node
  // (cMixed) or not (cInside), cUnknown until the exit pass looks. Only these
  // nodes are looked at by the dead-end and exit passes.
  enum : uint8_t { cNoArea, cUnknown, cInside, cMixed };
  std::vector<uint8_t> atArea(size_t(FNodeCount) + 1, cNoArea);
  // Explicit stacks: an area may hold millions of links.
  std::vector<int32_t> stack;
  int32_t counter = 0;
  for (int32_t l = 1; l <= FLinkCount; ++l) {
    if (!noThrough(l) || itemOf[size_t(l)] != 0 || FLength[size_t(l)] == 0) continue;
    add(l, ++counter);
    stack.assign({tonode[size_t(l)], Fromnode[size_t(l)]});
    while (!stack.empty()) {
      const int32_t node = stack.back();
      stack.pop_back();
      atArea[size_t(node)] = cUnknown;
      for (const int32_t s : Adjacent(node)) {
        const int32_t e = Abs(s);
        if (!noThrough(e) || itemOf[size_t(e)] != 0) continue;
        add(e, counter);
        stack.push_back(otherEnd(e, node));
      }
    }
  }
  if (counter == 0) return;

  // Dead ends at a node where otherwise only area links meet join the area.
  // Such a node has an area link, so a flood has marked it (the floods of
  // this pass mark the nodes they reach as well).
  bool changed = false;
  for (int32_t k = 1; k <= FNodeCount; ++k) {
    if (atArea[size_t(k)] == cNoArea) continue;
    int32_t area = 0, deadEnds = 0;
    bool other = false;
    for (const int32_t s : Adjacent(k)) {
      const int32_t e = Abs(s);
      if (FCDS.GetBit(e)) {
        ++deadEnds;
      } else if (noThrough(e)) {
        area = items[size_t(itemOf[size_t(e)] - 1)].areaID;
      } else {
        other = true;
        break;
      }
    }
    if (other || area == 0 || deadEnds == 0) continue;
    stack.assign({k});
    while (!stack.empty()) {
      const int32_t node = stack.back();
      stack.pop_back();
      atArea[size_t(node)] = cUnknown;
      for (const int32_t s : Adjacent(node)) {
        const int32_t e = Abs(s);
        if (noThrough(e)) continue;
        Fattribute[size_t(e)] |= cAttrNoDriveThrough;
        changed = true;
        add(e, area);
        stack.push_back(otherEnd(e, node));
      }
    }
  }
  if (changed) AttributeChanged();

  // Exits: an area link whose end also carries links outside every area.
  // Every link with bit 8 is an item now; each node is looked at once.
  auto mixed = [&](int32_t node) {
    uint8_t& m = atArea[size_t(node)];
    if (m == cUnknown) {
      bool in = false, out = false;
      for (const int32_t s : Adjacent(node)) (noThrough(Abs(s)) ? in : out) = true;
      m = in && out ? cMixed : cInside;
    }
    return m == cMixed;
  };
  for (auto& item : items) {
    item.exitFT = mixed(tonode[size_t(item.link)]);
    item.exitTF = mixed(Fromnode[size_t(item.link)]);
  }
  FAreaList.Assign(std::move(items));
}

void TNetwork::NoDriveThroughInit() {
  CheckOpen();
  BuildAreas();
}

bool TNetwork::NoDriveThroughSet() const {
  if (!IsOpen()) return false;
  for (int32_t l = 1; l <= FLinkCount; ++l)
    if (Fattribute[size_t(l)] & cAttrNoDriveThrough) return true;
  return false;
}

bool TNetwork::NoDriveThroughCheck(const TRoute& route) const {
  const size_t n = route.links.size();
  if (n <= 2) return false;
  CheckOpen();
  const int32_t a1 = FAreaList.GetArea(Abs(route.links.front())), a2 = FAreaList.GetArea(Abs(route.links.back()));
  for (size_t k = 1; k + 1 < n; ++k) {
    const int32_t a = FAreaList.GetArea(Abs(route.links[k]));
    if (a != 0 && a != a1 && a != a2) return true;
  }
  return false;
}

int32_t TNetwork::NodeArea(int32_t node) const {
  int32_t a = 0;
  for (const int32_t s : Adjacent(node)) {
    a = FAreaList.GetArea(Abs(s));
    if (a == 0) return 0;
  }
  return a;
}

}  // namespace kovra
