#include "network/kovra_stringtree.h"

#include <algorithm>

#include "foundation/kovra_collate.h"
#include "network/kovra_networkfile.h"

namespace kovra {

void TStringTree::Add(const std::u16string& aItem) {
  const auto known = fNodeOfName.find(aItem);
  if (known != fNodeOfName.end()) {
    TTreeNode<std::u16string>& node = fNodeArray.Item(known->second);
    ++node.ItemCount;
    if (node.ItemCount > fMaxItemCount) fMaxItemCount = node.ItemCount;
    return;
  }
  const int32_t before = NodeCount();
  TBalancedTree::Add(aItem);
  // Only an identical text compares equal, and the map knows every one
  // added, so the tree has just created the node.
  if (NodeCount() != before) fNodeOfName.emplace(fNodeArray.Item(NodeCount()).key, NodeCount());
  fMaxLength = std::max(fMaxLength, int32_t(aItem.size()));
}

int32_t TStringTree::Compare(const std::u16string& a, const std::u16string& b) {
  return CompareRoadNames(a, b, false);
}

void TStringTree::Write(TKvStream& outdata) {
  const int64_t width = 2 * int64_t(fMaxLength);
  // Record offsets are 32-bit in the file's readers elsewhere.
  if (int64_t(NameCount()) * width >= (int64_t(1) << 31))
    throw EOutOfRange(Format(cMsgRoadNameFileTooLarge, NameCount(), width));
  const std::u16string zeros(size_t(fMaxLength), u'\0');
  WriteInOrder(outdata, fRoot, zeros);
}

void TStringTree::WriteInOrder(TKvStream& outdata, int32_t p, const std::u16string& zeros) {
  // The right subtree iteratively: the recursion stays as deep as the tree.
  while (p != 0) {
    const TTreeNode<std::u16string>& node = fNodeArray.Item(p);
    WriteInOrder(outdata, node.left, zeros);
    // UTF-16LE as it stands in memory (kovra_networkfile.h asserts little-endian).
    outdata.WriteBuffer(node.key.data(), int32_t(2 * node.key.size()));
    outdata.WriteBuffer(zeros.data(), int32_t(2 * (zeros.size() - node.key.size())));
    p = node.right;
  }
}

void TStringTree::WriteKeyID(TKvStream& AOutData, std::u16string_view AKey) {
  const auto known = fNodeOfName.find(AKey);
  if (known == fNodeOfName.end()) throw EInvalidParameter(Format(cMsgRoadNameNotInFirstPass, FromUtf16(AKey)));
  AOutData.WriteInt32(fNodeArray.Item(known->second).id + 1);
}

}  // namespace kovra
