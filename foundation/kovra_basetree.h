// TBalancedTree<T>: an AVL tree collecting distinct keys with a multiplicity.
// Nodes live in a TBigArray and refer to their children by index (0 = none);
// keys are never removed. A descendant supplies Compare and may refine Add and
// CreateID (the ids numbering the keys).
#pragma once

#include <cstdint>

#include "foundation/kovra_memorypool.h"

namespace kovra {

using TBalanceFactor = int8_t;  // height(right) - height(left), -1..1

template <typename T>
struct TTreeNode {
  T key{};
  int32_t id = 0;
  int32_t ItemCount = 0;
  int32_t left = 0;
  int32_t right = 0;
  TBalanceFactor bal = 0;
};

template <typename T>
class TBalancedTree : public TObject {
public:
  TBalancedTree() : fNodeArray(20) {}
  TBalancedTree(const TBalancedTree&) = delete;
  TBalancedTree& operator=(const TBalancedTree&) = delete;
  ~TBalancedTree() override = default;

  // Negative when a sorts before b, 0 when equal, positive when after; only the
  // sign is used.
  virtual int32_t Compare(const T& a, const T& b) = 0;
  // Inserts aItem, or counts it once more when it is present.
  virtual void Add(const T& aItem) {
    bool grew = false, found = false;
    Insert(fRoot, aItem, grew, found);
  }
  // Numbers the keys 0, 1, 2 ... in ascending order.
  virtual void CreateID() {
    FCreateIndex = 0;
    NumberInOrder(fRoot);
  }

  // Index of the node whose key equals value, -1 when there is none.
  int32_t IndexOf(const T& value) {
    int32_t p = fRoot;
    while (p != 0) {
      const TTreeNode<T>& node = fNodeArray.Item(p);
      const int32_t c = Compare(node.key, value);
      if (c == 0) return p;
      p = c > 0 ? node.left : node.right;
    }
    return -1;
  }
  TTreeNode<T> GetItem(int32_t iindex) const { return fNodeArray.GetItem(iindex); }
  void SetItem(int32_t iindex, const TTreeNode<T>& node) { fNodeArray.SetItem(iindex, node); }

  // The node store's block size (1,048,576 unless a descendant chose smaller
  // blocks), not the number of keys.
  int32_t Count() const { return fNodeArray.Count(); }
  // Number of nodes created; nodes are 1..NodeCount().
  int32_t NodeCount() const { return fNextPos; }
  int32_t Root() const { return fRoot; }
  int32_t MaxItemCount() const { return fMaxItemCount; }
  void SetMaxItemCount(int32_t Value) { fMaxItemCount = Value; }

protected:
  // Blocks of 2^Shift nodes. Keys that are not trivially copyable (strings)
  // are constructed a whole block at a time when the block is added, which
  // for 2^20 nodes costs far more than a small tree needs: such descendants
  // take smaller blocks.
  explicit TBalancedTree(uint8_t Shift) : fNodeArray(Shift) {}

  int32_t NewNode(const T& aItem) {
    ++fNextPos;
    fNodeArray.SetCapacity(int64_t(fNextPos) + 1);
    TTreeNode<T>& node = fNodeArray.Item(fNextPos);
    node.key = aItem;
    node.id = 0;
    node.ItemCount = 1;
    node.left = 0;
    node.right = 0;
    node.bal = 0;
    return fNextPos;
  }

  // p refers to the parent's child field (or fRoot); node storage never moves,
  // so the reference stays valid while new nodes are created below it.
  void Insert(int32_t& p, const T& aItem, bool& grew, bool& found) {
    found = false;
    if (p == 0) {
      p = NewNode(aItem);
      grew = true;
      return;
    }
    TTreeNode<T>& node = fNodeArray.Item(p);
    const int32_t c = Compare(aItem, node.key);
    if (c < 0) {
      Insert(node.left, aItem, grew, found);
      if (grew && !found) LeftGrown(p, grew);
    } else if (c == 0) {
      grew = false;
      found = true;
      ++node.ItemCount;
      if (node.ItemCount > fMaxItemCount) fMaxItemCount = node.ItemCount;
    } else {
      Insert(node.right, aItem, grew, found);
      if (grew && !found) RightGrown(p, grew);
    }
  }

  void LeftGrown(int32_t& p, bool& grew) {
    TTreeNode<T>& n = fNodeArray.Item(p);
    if (n.bal == 1) {
      n.bal = 0;
      grew = false;
    } else if (n.bal == 0) {
      n.bal = -1;
    } else {
      const int32_t l = n.left;
      TTreeNode<T>& ln = fNodeArray.Item(l);
      if (ln.bal == -1) {
        n.left = ln.right;
        ln.right = p;
        n.bal = 0;
        p = l;
      } else {
        const int32_t r = ln.right;
        TTreeNode<T>& rn = fNodeArray.Item(r);
        ln.right = rn.left;
        rn.left = l;
        n.left = rn.right;
        rn.right = p;
        n.bal = rn.bal == -1 ? 1 : 0;
        ln.bal = rn.bal == 1 ? -1 : 0;
        p = r;
      }
      fNodeArray.Item(p).bal = 0;
      grew = false;
    }
  }

  void RightGrown(int32_t& p, bool& grew) {
    TTreeNode<T>& n = fNodeArray.Item(p);
    if (n.bal == -1) {
      n.bal = 0;
      grew = false;
    } else if (n.bal == 0) {
      n.bal = 1;
    } else {
      const int32_t r = n.right;
      TTreeNode<T>& rn = fNodeArray.Item(r);
      if (rn.bal == 1) {
        n.right = rn.left;
        rn.left = p;
        n.bal = 0;
        p = r;
      } else {
        const int32_t l = rn.left;
        TTreeNode<T>& ln = fNodeArray.Item(l);
        rn.left = ln.right;
        ln.right = r;
        n.right = ln.left;
        ln.left = p;
        n.bal = ln.bal == 1 ? -1 : 0;
        rn.bal = ln.bal == -1 ? 1 : 0;
        p = l;
      }
      fNodeArray.Item(p).bal = 0;
      grew = false;
    }
  }

  void NumberInOrder(int32_t p) {
    while (p != 0) {
      TTreeNode<T>& node = fNodeArray.Item(p);
      NumberInOrder(node.left);
      node.id = FCreateIndex++;
      p = node.right;  // the right subtree iteratively: the walk's depth stays O(log n)
    }
  }

  int32_t fNextPos = 0;
  TBigArray<TTreeNode<T>> fNodeArray;
  int32_t fMaxItemCount = 1;
  int32_t FCreateIndex = 0;
  int32_t fRoot = 0;
};

}  // namespace kovra
