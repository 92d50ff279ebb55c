// Test support: the node index as a balanced tree keyed by point, one
// insertion per link end: the straightforward form the sort merge of TXYTree
// must match id for id and byte for byte.
#pragma once

#include <vector>

#include "foundation/kovra_basetree.h"
#include "foundation/kovra_encryption.h"
#include "foundation/kovra_functions.h"
#include "foundation/kovra_io.h"
#include "foundation/kovra_types.h"
#include "import/kovra_xytree.h"

namespace kovra::testsupport {

class TTreeXYIndex : public TBalancedTree<TFloatPoint> {
public:
  int32_t Compare(const TFloatPoint& a, const TFloatPoint& b) override {
    if (a.x == b.x && a.y == b.y) return 0;
    if (a.x > b.x || (a.x == b.x && a.y > b.y)) return 1;
    return -1;
  }
  void Add(const TFloatPoint& aItem) override {
    TBalancedTree<TFloatPoint>::Add(aItem);
    if (fMaxItemCount > cMaxLinksAtNode)
      throw ETooManyLinksAtNode(Format(cMsgTooManyLinksAtNode, FloatToStrDot(aItem.x), FloatToStrDot(aItem.y)));
  }
  void CreateID() override {
    const int32_t D = fMaxItemCount;
    fleg.assign(size_t(D) + 2, TLeg{});
    Walk(fRoot, [&](TTreeNode<TFloatPoint>& n) { ++fleg[size_t(n.ItemCount)].num; });
    for (int32_t d = D; d >= 1; --d) fleg[size_t(d)].last = fleg[size_t(d) + 1].last + fleg[size_t(d)].num;
    for (int32_t d = D; d >= 1; --d)
      fleg[size_t(d)].startpos = (d + 1) * fleg[size_t(d) + 1].num + fleg[size_t(d) + 1].startpos;
    for (int32_t d = D; d >= 1; --d) fleg[size_t(d)].iindex = fleg[size_t(d) + 1].iindex + fleg[size_t(d) + 1].num;
    Walk(fRoot, [&](TTreeNode<TFloatPoint>& n) { n.id = fleg[size_t(n.ItemCount)].iindex++; });
  }
  const TLeg& GetLeg(int32_t d) const { return fleg[size_t(d)]; }
  int32_t NodeId(const TFloatPoint& P) { return GetItem(IndexOf(P)).id; }
  // coord.bin: one in-order walk per degree, highest first.
  void Write(TKvStream& out, int64_t key) {
    T32Encryption enc(key);
    enc.Restart();
    for (int32_t d = fMaxItemCount; d >= 1; --d)
      Walk(fRoot, [&](TTreeNode<TFloatPoint>& n) {
        if (n.ItemCount != d) return;
        out.WriteInt64(enc.Encode(n.key.x));
        out.WriteInt64(enc.Encode(n.key.y));
      });
  }

private:
  template <typename F>
  void Walk(int32_t p, F&& f) {
    if (p == 0) return;
    TTreeNode<TFloatPoint>& n = fNodeArray.Item(p);
    Walk(n.left, f);
    f(fNodeArray.Item(p));
    Walk(fNodeArray.Item(p).right, f);
  }
  std::vector<TLeg> fleg;
};

}  // namespace kovra::testsupport
