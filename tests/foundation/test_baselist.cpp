#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/kovra_baselist.h"

using namespace kovra;

namespace {

class TIntList final : public TBaseList<int32_t> {};

// Compared by key only, so the tag shows which of equal items a routine picks.
struct TKeyTag {
  int32_t key = 0;
  int32_t tag = 0;
};

class TKeyTagList final : public TBaseListSort<TKeyTag> {
public:
  bool Equal(const TKeyTag& a, const TKeyTag& b) const override { return a.key == b.key; }
  bool Less(const TKeyTag& a, const TKeyTag& b) const override { return a.key < b.key; }
  bool Greater(const TKeyTag& a, const TKeyTag& b) const override { return a.key > b.key; }
};

// The generic (virtual) paths of the sortable list.
class TSortInts final : public TBaseListSort<int32_t> {
public:
  bool Equal(const int32_t& a, const int32_t& b) const override { return a == b; }
  bool Less(const int32_t& a, const int32_t& b) const override { return a < b; }
  bool Greater(const int32_t& a, const int32_t& b) const override { return a > b; }
};

// Items may own memory: moves must not leak or share it.
class TStrList final : public TBaseListSortFast<std::string, TStrList> {
public:
  bool Equal(const std::string& a, const std::string& b) const override { return a == b; }
  bool Less(const std::string& a, const std::string& b) const override { return a < b; }
  bool Greater(const std::string& a, const std::string& b) const override { return a > b; }
};

template <class L>
std::vector<typename L::ItemType> Items(const L& l) {
  std::vector<typename L::ItemType> r;
  for (int32_t i = 0; i < l.Count(); ++i) r.push_back(l.GetItem(i));
  return r;
}

template <class L>
void Fill(L& l, std::initializer_list<int32_t> v) {
  for (int32_t x : v) l.Add(x);
}

}  // namespace

TEST(BaseList, GrowthAndCapacity) {
  {
    TIntList l;
    std::vector<int32_t> caps;
    for (int32_t i = 0; i < 118; ++i) {
      int32_t before = l.Capacity();
      EXPECT_EQ(l.Add(i), i);
      if (l.Capacity() != before) caps.push_back(l.Capacity());
    }
    EXPECT_EQ(caps, (std::vector<int32_t>{4, 8, 12, 28, 44, 60, 76, 95, 118}));
  }
  struct GrowCase {
    int32_t capacity, grown;
  };
  for (GrowCase c : {GrowCase{64, 80}, {65, 81}, {0, 4}, {8, 12}, {9, 25}}) {
    TIntList l;
    l.SetCapacity(c.capacity);
    for (int32_t i = 0; i <= c.capacity; ++i) l.Add(i);
    EXPECT_EQ(l.Capacity(), c.grown) << c.capacity;
  }
  struct SetCase {
    int32_t index, capacity, count;
  };
  for (SetCase c : {SetCase{31, 32, 32}, {32, 64, 33}, {40, 64, 41}, {0, 32, 1}}) {
    TIntList l;
    l.SetItem(c.index, 7);
    EXPECT_EQ(l.Capacity(), c.capacity) << c.index;
    EXPECT_EQ(l.Count(), c.count) << c.index;
    EXPECT_EQ(l.GetItem(c.index), 7);
    for (int32_t i = 0; i < c.index; ++i) EXPECT_EQ(l.GetItem(i), 0);
  }
  {
    TIntList l;
    for (int32_t i = 0; i < 20; ++i) l.Add(i + 1);
    l.SetCapacity(10);
    EXPECT_EQ(l.Count(), 10);
    EXPECT_EQ(l.Capacity(), 10);
    l.SetCapacity(-1);
    EXPECT_EQ(l.Capacity(), 10);
    EXPECT_EQ(l.Count(), 10);
    l.SetCapacity(32);
    EXPECT_EQ(l.Count(), 10);
    l.SetItem(12, 5);  // the slots past the truncation read as 0, not as the old items
    EXPECT_EQ(l.GetItem(10), 0);
    EXPECT_EQ(l.GetItem(11), 0);
  }
  {
    TIntList l;
    Fill(l, {1, 2, 3});
    l.Insert(3, 4);  // Insert(Count) appends
    EXPECT_EQ(Items(l), (std::vector<int32_t>{1, 2, 3, 4}));
    for (int32_t i = 5; i <= 13; ++i) l.Add(i);
    EXPECT_EQ(l.Capacity(), 28);
    l.Insert(l.Count() + 5, 99);
    EXPECT_EQ(l.Count(), 19);
    EXPECT_EQ(l.Capacity(), 28);  // had spare capacity: no growth
    EXPECT_EQ(Items(l), (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 0, 0, 0, 0, 0, 99}));
    l.Insert(0, 5);
    EXPECT_EQ(l.GetItem(0), 5);
    EXPECT_EQ(l.GetItem(1), 1);
    EXPECT_EQ(l.Last(), 99);
    EXPECT_EQ(l.Count(), 20);
    l.Insert(40, 1);
    EXPECT_EQ(l.Capacity(), 64);
    EXPECT_EQ(l.Count(), 41);
  }
  struct SwapCase {
    std::vector<int32_t> in, out;
  };
  for (const SwapCase& c : {SwapCase{{1, 2, 3, 4}, {4, 3, 2, 1}}, {{1, 2, 3}, {3, 2, 1}}, {{}, {}}, {{7}, {7}}}) {
    TIntList l;
    for (int32_t x : c.in) l.Add(x);
    l.Swap();
    EXPECT_EQ(Items(l), c.out);
  }
}

TEST(BaseList, DeleteExtractClearAndMovedItems) {
  TStrList l;
  const std::string longText(100, 'x');
  for (int i = 0; i < 5; ++i) l.Add(longText + std::to_string(i));
  EXPECT_EQ(l.Extract(1), longText + "1");
  l.Delete(0);
  EXPECT_EQ(l.Count(), 3);
  EXPECT_EQ(l.First(), longText + "2");
  EXPECT_EQ(l.Last(), longText + "4");
  l.SetItem(4, "z");  // the vacated slot 3 reads as empty
  EXPECT_EQ(l.GetItem(3), "");
  l.Insert(1, "a");
  EXPECT_EQ(Items(l), (std::vector<std::string>{longText + "2", "a", longText + "3", longText + "4", "", "z"}));
  TStrList copy;
  l.Clone(copy);
  l.Clear();
  EXPECT_EQ(l.Count(), 0);
  EXPECT_EQ(l.Capacity(), 0);
  EXPECT_TRUE(l.IsEmpty());
  EXPECT_EQ(copy.Count(), 6);
  EXPECT_EQ(copy.GetItem(2), longText + "3");
}

TEST(BaseListSort, EqualItemsFirstWins) {
  TKeyTagList l;
  for (TKeyTag t : {TKeyTag{3, 0}, {1, 1}, {5, 2}, {1, 3}, {5, 4}, {2, 5}}) l.Add(t);
  EXPECT_FALSE(l.Sorted());
  EXPECT_EQ(l.MinValue().tag, 1);
  EXPECT_EQ(l.MaxValue().tag, 2);
  l.SelectionSortN(1);
  EXPECT_EQ(l.GetItem(0).tag, 1);  // the first of the equal minima comes first
  EXPECT_EQ(l.SelectionSorted(), 1);

  TKeyTagList runs;
  // Already sorted, so Sort leaves the runs in place and the first of each survives.
  for (TKeyTag t : {TKeyTag{1, 0}, {1, 1}, {2, 2}, {2, 3}, {2, 4}, {3, 5}}) runs.Add(t);
  EXPECT_TRUE(runs.Sorted());
  EXPECT_TRUE(runs.RemoveDuplicates());
  ASSERT_EQ(runs.Count(), 3);
  EXPECT_EQ(runs.GetItem(0).tag, 0);
  EXPECT_EQ(runs.GetItem(1).tag, 2);
  EXPECT_EQ(runs.GetItem(2).tag, 5);
  EXPECT_FALSE(runs.RemoveDuplicates());
}

TEST(BaseListSort, Flags) {
  {
    TSortInts l;
    EXPECT_TRUE(l.Sorted());
    Fill(l, {1, 2, 2, 3});
    EXPECT_TRUE(l.Sorted());
    EXPECT_EQ(l.IndexOf(3), 3);
    l.Add(0);
    EXPECT_FALSE(l.Sorted());
    EXPECT_EQ(l.IndexOf(0), 4);  // found by the linear scan
    EXPECT_EQ(l.MinValue(), 0);
    EXPECT_EQ(l.MaxValue(), 3);
  }
  {
    TSortInts l;
    l.SetAllowDuplicates(false);
    EXPECT_EQ(l.Add(5), 0);
    EXPECT_EQ(l.Add(3), 1);
    EXPECT_EQ(l.Add(5), -1);
    EXPECT_EQ(Items(l), (std::vector<int32_t>{3, 5}));
    EXPECT_TRUE(l.Sorted());
  }
  {
    TSortInts l;
    l.SetReverseIndex(true);
    Fill(l, {30, 10, 20});
    l.Sort();
    EXPECT_EQ(Items(l), (std::vector<int32_t>{10, 20, 30}));
    EXPECT_EQ(l.GetReverse(0), 1);
    EXPECT_EQ(l.GetReverse(1), 2);
    EXPECT_EQ(l.GetReverse(2), 0);
    EXPECT_EQ(l.GetReverse(3), -1);
    EXPECT_EQ(l.GetReverse(-1), -1);
  }
  {
    TSortInts l;
    Fill(l, {5, 1, 4, 2});
    l.SelectionSortN(2);
    EXPECT_EQ(l.GetItem(0), 1);
    EXPECT_EQ(l.GetItem(1), 2);
    EXPECT_EQ(l.SelectionSorted(), 2);
    EXPECT_FALSE(l.Sorted());
    l.SelectionSortN(10);
    EXPECT_EQ(Items(l), (std::vector<int32_t>{1, 2, 4, 5}));
    EXPECT_TRUE(l.Sorted());
    EXPECT_EQ(l.SelectionSorted(), 4);
  }
  {
    TSortInts l;
    Fill(l, {2, 1, 2, 1});
    EXPECT_TRUE(l.RemoveDuplicates());
    EXPECT_EQ(Items(l), (std::vector<int32_t>{1, 2}));
    EXPECT_FALSE(l.RemoveDuplicates());
    TSortInts u;
    Fill(u, {1, 1});
    EXPECT_FALSE(u.Unique());
    TSortInts m;
    Fill(m, {3, 1, 1});
    EXPECT_EQ(&m.MinValue(), &m.GetItem(1));
    EXPECT_TRUE(l.EqualLists(l));
    EXPECT_FALSE(l.EqualLists(m));
    TSortInts e1, e2;
    EXPECT_TRUE(e1.EqualLists(e2));
  }
  {
    // Order check after SetItem and Insert; an equal neighbour keeps the list sorted.
    TSortInts l;
    Fill(l, {1, 3, 5});
    l.SetItem(1, 5);
    EXPECT_TRUE(l.Sorted());
    l.Insert(0, 1);
    EXPECT_TRUE(l.Sorted());
    l.Insert(2, 0);
    EXPECT_FALSE(l.Sorted());
  }
}

// A write beyond Count opens a gap of default items; the flags must see them.
TEST(BaseListSort, GapBeyondCountClearsSorted) {
  for (bool insert : {false, true}) {
    TSortInts l;
    Fill(l, {5, 6});
    if (insert)
      l.Insert(4, 7);
    else
      l.SetItem(3, 7);
    EXPECT_FALSE(l.Sorted()) << insert;
    EXPECT_EQ(l.IndexOf(0), 2);
  }
}

// Clone carries the sort state with the items; a plain source gives an unsorted target.
TEST(BaseListSort, CloneKeepsSortStateOfItems) {
  TSortInts src;
  Fill(src, {3, 1, 2});
  TSortInts dst;
  dst.SetAllowDuplicates(false);
  src.Clone(dst);
  EXPECT_FALSE(dst.Sorted());
  EXPECT_EQ(dst.IndexOf(3), 0);
  EXPECT_FALSE(dst.AllowDuplicates());

  TIntList plain;
  Fill(plain, {9, 8});
  TSortInts dst2;
  plain.Clone(dst2);
  EXPECT_FALSE(dst2.Sorted());
  EXPECT_EQ(dst2.IndexOf(9), 0);

  src.Sort();
  src.Clone(dst2);
  EXPECT_TRUE(dst2.Sorted());
  EXPECT_EQ(dst2.SelectionSorted(), 3);
  EXPECT_EQ(dst2.Capacity(), src.Capacity());
}

TEST(BaseListSort, SelectionSortedDoesNotGoStale) {
  {
    TSortInts l;
    Fill(l, {5, 1, 4, 2});
    l.SelectionSortN(2);
    l.Clear();
    EXPECT_TRUE(l.Sorted());
    EXPECT_EQ(l.SelectionSorted(), 0);
    Fill(l, {9, 8, 7});
    l.SelectionSortN(3);
    EXPECT_EQ(Items(l), (std::vector<int32_t>{7, 8, 9}));
    EXPECT_TRUE(l.Sorted());
    EXPECT_EQ(l.IndexOf(9), 2);
  }
  // Each change below disturbs the ordered prefix [1, 2] of [1, 2, 4, 5].
  struct Case {
    const char* name;
    void (*change)(TSortInts&);
  };
  const Case cases[] = {
      {"Delete in prefix", [](TSortInts& l) { l.Delete(0); }},
      {"Extract in prefix", [](TSortInts& l) { (void)l.Extract(1); }},
      {"SetItem in prefix", [](TSortInts& l) { l.SetItem(0, 9); }},
      {"Insert in prefix", [](TSortInts& l) { l.Insert(1, 9); }},
      {"Add smaller", [](TSortInts& l) { l.Add(0); }},
      {"SetItem behind prefix smaller", [](TSortInts& l) { l.SetItem(3, 0); }},
      {"Insert behind prefix smaller", [](TSortInts& l) { l.Insert(2, 0); }},
      {"gap behind prefix", [](TSortInts& l) { l.SetItem(6, 9); }},
      {"Capacity below prefix", [](TSortInts& l) { l.SetCapacity(1); l.Add(3); l.Add(0); }},
  };
  for (const Case& c : cases) {
    TSortInts l;
    Fill(l, {5, 1, 4, 2});
    l.SelectionSortN(2);
    c.change(l);
    l.SelectionSortN(100);
    EXPECT_TRUE(l.Sorted()) << c.name;
    std::vector<int32_t> items = Items(l);
    EXPECT_TRUE(std::is_sorted(items.begin(), items.end())) << c.name;
  }
  // Changes that leave the prefix the smallest items keep it.
  TSortInts l;
  Fill(l, {5, 1, 4, 2});
  l.SelectionSortN(2);
  l.Add(3);
  l.Delete(2);
  EXPECT_EQ(l.SelectionSorted(), 2);
}

TEST(BaseListSort, ShuffleIsPermutationAndClearsSorted) {
  SeedProcessRandom(12345);
  TSortInts l;
  for (int32_t i = 0; i < 100; ++i) l.Add(i);
  l.Shuffle();
  EXPECT_FALSE(l.Sorted());
  std::vector<int32_t> items = Items(l);
  EXPECT_NE(items, [] { std::vector<int32_t> v(100); for (int i = 0; i < 100; ++i) v[i] = i; return v; }());
  std::sort(items.begin(), items.end());
  for (int32_t i = 0; i < 100; ++i) EXPECT_EQ(items[i], i);
  TIntList one;
  one.Add(4);
  one.Shuffle();
  EXPECT_EQ(one.GetItem(0), 4);
}
