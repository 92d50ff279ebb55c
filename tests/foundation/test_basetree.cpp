#include "foundation/kovra_basetree.h"
#include "foundation/kovra_memorypool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>

using namespace kovra;

namespace {

// The sanitizer build runs the large random test on fewer keys to stay fast.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kRandomAdds = 200000;
#else
constexpr int kRandomAdds = 1000000;
#endif

class TIntTree : public TBalancedTree<int32_t> {
public:
  int32_t Compare(const int32_t& a, const int32_t& b) override { return a < b ? -1 : a > b ? 1 : 0; }
};

// A comparator that reports only the sign's direction, with magnitude 5.
class TWideCompareTree : public TBalancedTree<int32_t> {
public:
  int32_t Compare(const int32_t& a, const int32_t& b) override { return a < b ? -5 : a > b ? 5 : 0; }
};

class TStrTree : public TBalancedTree<std::string> {
public:
  int32_t Compare(const std::string& a, const std::string& b) override { return a.compare(b) < 0 ? -1 : a == b ? 0 : 1; }
};

// Height of the subtree at p, checking every balance factor on the way.
template <typename T>
int Height(const TBalancedTree<T>& tree, int32_t p, bool& ok) {
  if (p == 0) return 0;
  const TTreeNode<T> n = tree.GetItem(p);
  const int hl = Height(tree, n.left, ok), hr = Height(tree, n.right, ok);
  if (hr - hl != n.bal || std::abs(hr - hl) > 1) ok = false;
  return 1 + std::max(hl, hr);
}

}  // namespace

TEST(BalancedTree, NewTreeAndSmallAdds) {
  TIntTree t;
  EXPECT_EQ(t.IndexOf(42), -1);
  EXPECT_EQ(t.MaxItemCount(), 1);
  EXPECT_EQ(t.Count(), 1048576);
  EXPECT_EQ(t.Root(), 0);

  for (int32_t k : {5, 3, 8, 3}) t.Add(k);
  EXPECT_EQ(t.NodeCount(), 3);
  EXPECT_EQ(t.IndexOf(5), 1);
  EXPECT_EQ(t.IndexOf(3), 2);
  EXPECT_EQ(t.IndexOf(8), 3);
  EXPECT_EQ(t.GetItem(2).ItemCount, 2);
  EXPECT_EQ(t.MaxItemCount(), 2);
  t.CreateID();
  EXPECT_EQ(t.GetItem(2).id, 0);
  EXPECT_EQ(t.GetItem(1).id, 1);
  EXPECT_EQ(t.GetItem(3).id, 2);
  // Node 0 of the first block is the all-zero node.
  const TTreeNode<int32_t> zero = t.GetItem(0);
  EXPECT_EQ(zero.key, 0);
  EXPECT_EQ(zero.ItemCount, 0);
  EXPECT_EQ(zero.left, 0);
}

TEST(BalancedTree, Rotations) {
  TIntTree single;
  for (int32_t k : {1, 2, 3}) single.Add(k);
  EXPECT_EQ(single.Root(), 2);
  EXPECT_EQ(single.GetItem(2).bal, 0);
  EXPECT_EQ(single.GetItem(2).left, 1);
  EXPECT_EQ(single.GetItem(2).right, 3);

  TIntTree dbl;
  for (int32_t k : {3, 1, 2}) dbl.Add(k);
  EXPECT_EQ(dbl.Root(), 3);
  EXPECT_EQ(dbl.GetItem(3).key, 2);
  EXPECT_EQ(dbl.GetItem(3).bal, 0);

  TIntTree mirror;
  for (int32_t k : {1, 3, 2}) mirror.Add(k);
  EXPECT_EQ(mirror.Root(), 3);
  EXPECT_EQ(mirror.GetItem(3).key, 2);
}

TEST(BalancedTree, IndexChecksOfTheNodeStore) {
  TIntTree t;
  t.Add(1);
  EXPECT_THROW(
      {
        try {
          t.GetItem(1048576);
        } catch (const EAssertionFailed& e) {
          EXPECT_NE(std::string(e.what()).find("Invalid TBigArray.GetItem index: 1048576"), std::string::npos);
          EXPECT_NE(std::string(e.what()).find("kovra_memorypool"), std::string::npos);
          throw;
        }
      },
      EAssertionFailed);

  TBigArray<int64_t> a(4);
  EXPECT_EQ(a.Count(), 16);
  EXPECT_THROW(a.GetItem(0), EAssertionFailed);
  a.SetCapacity(3);
  EXPECT_EQ(a.Capacity(), 16);
  a.SetCapacity(16);  // equal to the capacity: one more block
  EXPECT_EQ(a.Capacity(), 32);
  a.SetCapacity(5);   // never shrinks
  EXPECT_EQ(a.Capacity(), 32);
  a.SetItem(31, 7);
  EXPECT_EQ(a.GetItem(31), 7);
  EXPECT_EQ(a.GetItem(17), 0);
  try {
    a.SetItem(32, 9);
    FAIL();
  } catch (const EAssertionFailed& e) {
    EXPECT_NE(std::string(e.what()).find("Invalid TBigArray.SetItem index: 32"), std::string::npos);
  }
  EXPECT_THROW(a.SetItem(-1, 9), EAssertionFailed);
  // Items already stored are untouched by growth (blocks never move).
  const int64_t* before = &a.Item(31);
  a.SetCapacity(1000);
  EXPECT_EQ(&a.Item(31), before);
  EXPECT_EQ(a.GetItem(31), 7);

  // Non-trivial items are value-initialised.
  TBigArray<std::string> s(2);
  s.SetCapacity(0);
  EXPECT_EQ(s.GetItem(3), "");
  s.SetItem(3, "abc");
  EXPECT_EQ(s.GetItem(3), "abc");
}

// An item whose construction fails on demand, so that a block allocation can
// fail once and then succeed.
bool gFailItems = false;
struct TFlakyItem {
  int32_t v = 0;
  TFlakyItem() {
    if (gFailItems) throw std::bad_alloc();
  }
  TFlakyItem(const TFlakyItem& o) : v(o.v) {}
  TFlakyItem& operator=(const TFlakyItem& o) = default;
};

// After a failed allocation no block is missing from the table: a later growth
// gives every index below the capacity a real item.
TEST(BigArray, FailedBlockAllocationLeavesNoHole) {
  TBigArray<TFlakyItem> a(2);
  a.SetCapacity(0);
  gFailItems = true;
  EXPECT_THROW(a.SetCapacity(4), std::bad_alloc);
  gFailItems = false;
  EXPECT_EQ(a.Capacity(), 4);
  a.SetCapacity(8);
  EXPECT_EQ(a.Capacity(), 12);
  for (int64_t i = 0; i < a.Capacity(); ++i) a.Item(i).v = int32_t(i);
  EXPECT_EQ(a.GetItem(5).v, 5);
}

TEST(BalancedTree, SecondBlockAtNode1048575) {
  TIntTree t;
  for (int32_t k = 1; k < 1048575; ++k) t.Add(k);
  EXPECT_EQ(t.GetItem(1048575).ItemCount, 0);  // still inside block 1
  EXPECT_THROW(t.GetItem(1048576), EAssertionFailed);
  t.Add(1048575);
  EXPECT_EQ(t.NodeCount(), 1048575);
  EXPECT_EQ(t.GetItem(1048576).ItemCount, 0);  // block 2 exists
  EXPECT_EQ(t.IndexOf(1048575), 1048575);
  bool ok = true;
  EXPECT_LE(Height(t, t.Root(), ok), 21);
  EXPECT_TRUE(ok);
}

TEST(BalancedTree, RandomKeysAgainstStdMap) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int32_t> key(-kRandomAdds * 3 / 10, kRandomAdds * 3 / 10);
  TIntTree t;
  // key -> (count, index of the node created for it)
  std::map<int32_t, std::pair<int32_t, int32_t>> ref;
  for (int i = 0; i < kRandomAdds; ++i) {
    const int32_t k = key(rng);
    t.Add(k);
    auto& entry = ref[k];
    if (entry.first++ == 0) entry.second = t.NodeCount();
  }
  ASSERT_EQ(t.NodeCount(), int32_t(ref.size()));
  int32_t maxCount = 1;
  for (auto& [k, e] : ref) maxCount = std::max(maxCount, e.first);
  EXPECT_EQ(t.MaxItemCount(), maxCount);
  t.CreateID();
  // Plain checks in the loop, one assertion afterwards: half a million keys.
  int32_t expectedId = 0, mismatches = 0, firstBad = 0;
  for (auto& [k, e] : ref) {
    const int32_t idx = t.IndexOf(k);
    const TTreeNode<int32_t> n = t.GetItem(idx < 0 ? 0 : idx);
    if (idx != e.second || n.key != k || n.ItemCount != e.first || n.id != expectedId) {
      if (mismatches++ == 0) firstBad = k;
    }
    ++expectedId;
  }
  EXPECT_EQ(mismatches, 0) << "first wrong key " << firstBad;
  for (int32_t k : {-kRandomAdds * 3 / 10 - 1, kRandomAdds * 3 / 10 + 1}) EXPECT_EQ(t.IndexOf(k), -1);
  bool ok = true;
  Height(t, t.Root(), ok);
  EXPECT_TRUE(ok);
}

TEST(BalancedTree, OnlyTheSignOfCompareCounts) {
  TWideCompareTree t;
  for (int32_t k : {4, 2, 6, 1, 3, 5, 7, 2}) t.Add(k);
  EXPECT_EQ(t.NodeCount(), 7);
  for (int32_t k = 1; k <= 7; ++k) EXPECT_GT(t.IndexOf(k), 0) << k;
  EXPECT_EQ(t.GetItem(t.IndexOf(2)).ItemCount, 2);
  t.CreateID();
  for (int32_t k = 1; k <= 7; ++k) EXPECT_EQ(t.GetItem(t.IndexOf(k)).id, k - 1);
}

TEST(BalancedTree, StringKeysAndSetItem) {
  TStrTree t;
  for (const char* s : {"Main St", "Elm", "Oak", "Elm", "Birch"}) t.Add(s);
  EXPECT_EQ(t.NodeCount(), 4);
  t.CreateID();
  EXPECT_EQ(t.GetItem(t.IndexOf("Birch")).id, 0);
  EXPECT_EQ(t.GetItem(t.IndexOf("Oak")).id, 3);
  // A descendant renumbers through SetItem.
  TTreeNode<std::string> n = t.GetItem(t.IndexOf("Oak"));
  n.id = 99;
  t.SetItem(t.IndexOf("Oak"), n);
  EXPECT_EQ(t.GetItem(t.IndexOf("Oak")).id, 99);
  EXPECT_EQ(t.GetItem(t.IndexOf("Oak")).key, "Oak");
}
