#include "import/kovra_xytree.h"

#include <algorithm>
#include <limits>

#include "foundation/kovra_encryption.h"
#include "foundation/kovra_functions.h"

namespace kovra {

void TXYTree::Add(const TFloatPoint& aItem) {
  if (fEndCount >= int64_t(std::numeric_limits<uint32_t>::max()))
    throw EOutOfRange("TXYTree: more than 4294967295 link ends");
  fEnds.push_back(TEnd{aItem.x, aItem.y, uint32_t(fEndCount)});
  ++fEndCount;
}

void TXYTree::CreateID() {
  // Exact comparison: -0.0 and 0.0 fall together; the end number makes the
  // first end in link order lead its group, so its bits become the node's.
  std::sort(fEnds.begin(), fEnds.end(), [](const TEnd& a, const TEnd& b) {
    if (a.x != b.x) return a.x < b.x;
    if (a.y != b.y) return a.y < b.y;
    return a.end < b.end;
  });
  const size_t n = fEnds.size();
  // Groups of equal points: start index of each, in (x, y) order.
  std::vector<uint32_t> groupStart;
  int32_t maxDegree = 1;
  size_t worst = SIZE_MAX;  // the group whose 256th end came first
  for (size_t i = 0; i < n;) {
    size_t j = i + 1;
    while (j < n && fEnds[j].x == fEnds[i].x && fEnds[j].y == fEnds[i].y) ++j;
    const size_t degree = j - i;
    if (degree > size_t(cMaxLinksAtNode)) {
      if (worst == SIZE_MAX || fEnds[i + size_t(cMaxLinksAtNode)].end < fEnds[worst + size_t(cMaxLinksAtNode)].end)
        worst = i;
    } else {
      maxDegree = std::max(maxDegree, int32_t(degree));
    }
    groupStart.push_back(uint32_t(i));
    i = j;
  }
  if (worst != SIZE_MAX) {
    // The point as the 256th end gave it, as a tree inserting one end at a time would name it.
    const TEnd& e = fEnds[worst + size_t(cMaxLinksAtNode)];
    throw ETooManyLinksAtNode(Format(cMsgTooManyLinksAtNode, FloatToStrDot(e.x), FloatToStrDot(e.y)));
  }
  groupStart.push_back(uint32_t(n));
  const int32_t D = maxDegree;
  fMaxItemCount = D;
  fleg.assign(size_t(D) + 2, TLeg{});
  const size_t groups = groupStart.size() - 1;
  for (size_t g = 0; g < groups; ++g) ++fleg[groupStart[g + 1] - groupStart[g]].num;
  for (int32_t d = D; d >= 1; --d) fleg[size_t(d)].last = fleg[size_t(d) + 1].last + fleg[size_t(d)].num;
  for (int32_t d = D; d >= 1; --d)
    fleg[size_t(d)].startpos = (d + 1) * fleg[size_t(d) + 1].num + fleg[size_t(d) + 1].startpos;
  for (int32_t d = D; d >= 1; --d) fleg[size_t(d)].iindex = fleg[size_t(d) + 1].iindex + fleg[size_t(d) + 1].num;

  fNodes.assign(groups, TFloatPoint{});
  fEndNode.assign(size_t(fEndCount), 0);
  for (size_t g = 0; g < groups; ++g) {
    const uint32_t first = groupStart[g], next = groupStart[g + 1];
    const int32_t id = fleg[next - first].iindex++;
    fNodes[size_t(id) - 1] = TFloatPoint{fEnds[first].x, fEnds[first].y};
    for (uint32_t k = first; k < next; ++k) fEndNode[fEnds[k].end] = id;
  }
  std::vector<TEnd>().swap(fEnds);
}

TLeg TXYTree::GetLeg(int32_t index) const {
  if (index < 1 || index > fMaxItemCount + 1 || size_t(index) >= fleg.size())
    throw EOutOfRange(Format("TXYTree.GetLeg index %d outside 1 to %d", index, fMaxItemCount + 1));
  return fleg[size_t(index)];
}

int32_t TXYTree::IndexOf(const TFloatPoint& P) const {
  // Within a degree the ids ascend by (x, y): one binary search per degree.
  auto less = [](const TFloatPoint& a, const TFloatPoint& b) { return a.x < b.x || (a.x == b.x && a.y < b.y); };
  for (int32_t d = fMaxItemCount; d >= 1 && size_t(d) + 1 < fleg.size(); --d) {
    const auto first = fNodes.begin() + fleg[size_t(d) + 1].last, last = fNodes.begin() + fleg[size_t(d)].last;
    const auto it = std::lower_bound(first, last, P, less);
    if (it != last && it->x == P.x && it->y == P.y) return int32_t(it - fNodes.begin()) + 1;
  }
  return 0;
}

void TXYTree::ReleaseEnds() { std::vector<int32_t>().swap(fEndNode); }

void TXYTree::Write(TKvStream& outdata, int64_t startkey) const {
  T32Encryption enc(startkey);
  enc.Restart();
  // One sequential write in id order, in blocks the stream's Int32 counts can take.
  constexpr size_t cBlock = 1 << 16;
  std::vector<int64_t> buf;
  buf.reserve(2 * cBlock);
  for (size_t i = 0; i < fNodes.size(); i += cBlock) {
    buf.clear();
    const size_t end = std::min(fNodes.size(), i + cBlock);
    for (size_t k = i; k < end; ++k) {
      buf.push_back(enc.Encode(fNodes[k].x));
      buf.push_back(enc.Encode(fNodes[k].y));
    }
    outdata.WriteBuffer(buf.data(), int32_t(buf.size() * sizeof(int64_t)));
  }
}

}  // namespace kovra
