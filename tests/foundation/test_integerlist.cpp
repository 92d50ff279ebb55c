#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "foundation/kovra_integerlist.h"

using namespace kovra;

namespace {

std::vector<int32_t> Items(const TBaseList<int32_t>& l) {
  std::vector<int32_t> r;
  for (int32_t i = 0; i < l.Count(); ++i) r.push_back(l.GetItem(i));
  return r;
}

void Fill(TBaseList<int32_t>& l, std::initializer_list<int32_t> v) {
  for (int32_t x : v) l.Add(x);
}

}  // namespace

TEST(IntegerList, Helpers) {
  TIntegerList l;
  Fill(l, {0, 3, 0, 0, 4});
  l.RemoveBlanks();
  EXPECT_EQ(Items(l), (std::vector<int32_t>{3, 4}));
  TIntegerList blanks;
  Fill(blanks, {0, 0});
  blanks.RemoveBlanks();
  EXPECT_EQ(blanks.Count(), 0);

  struct NegCase {
    std::vector<int32_t> items;
    bool allNegative;
  };
  for (const NegCase& c : {NegCase{{-1, 0}, true}, {{-1, 1}, false}, {{}, true}, {{0}, true}}) {
    TIntegerList n;
    for (int32_t x : c.items) n.Add(x);
    EXPECT_EQ(n.AllNegative(), c.allNegative);
  }

  TBitArray ba(6);
  for (int64_t i : {0, 2, 5}) ba.SetBit(i, true);
  TIntegerList fromBits;
  Fill(fromBits, {9, 1});
  fromBits.SetFromBitArray(&ba);
  EXPECT_EQ(Items(fromBits), (std::vector<int32_t>{2, 5}));
  EXPECT_TRUE(fromBits.Sorted());
  fromBits.SetFromBitArray(nullptr);
  EXPECT_EQ(Items(fromBits), (std::vector<int32_t>{2, 5}));
  TBitArray big(1000);
  big.SetAllTrue();
  fromBits.SetFromBitArray(&big);
  EXPECT_EQ(fromBits.Count(), 999);
  EXPECT_EQ(fromBits.First(), 1);
  EXPECT_EQ(fromBits.Last(), 999);

  TIntegerListUnsorted u;
  Fill(u, {3, 1});
  EXPECT_EQ(Items(u), (std::vector<int32_t>{3, 1}));
}

TEST(IntegerList, ListsOwnTheirItems) {
  // LeakSanitizer checks that the destructor frees items and that removal does not.
  auto* lists = new TIntegerLists;
  for (int i = 0; i < 5; ++i) {
    auto* l = new TIntegerList;
    l->Add(i);
    lists->Add(l);
  }
  TIntegerList* removed = lists->Extract(1);
  EXPECT_EQ(removed->GetItem(0), 1);  // still usable: Extract frees nothing
  delete removed;
  TIntegerList* deleted = lists->GetItem(0);
  lists->Delete(0);
  EXPECT_EQ(deleted->GetItem(0), 0);
  delete deleted;
  EXPECT_EQ(lists->Count(), 3);
  EXPECT_EQ(lists->GetItem(0)->GetItem(0), 2);
  delete lists;
}

// LeakSanitizer and AddressSanitizer check the frees: every list the lists
// drop is freed once, and a clone shares none of them.
TEST(IntegerList, ListsFreeWhatTheyDropAndCloneDeeply) {
  auto make = [](std::initializer_list<int32_t> items) {
    auto* l = new TIntegerList;
    for (int32_t x : items) l->Add(x);
    return l;
  };
  TIntegerLists lists;
  lists.Add(make({1, 2}));
  lists.Add(make({3}));
  lists.Add(make({4}));
  lists.SetItem(1, make({30, 31}));  // the old list is freed
  lists.SetCapacity(2);              // the third list is freed
  ASSERT_EQ(lists.Count(), 2);
  lists.GetItem(0)->SetAllowDuplicates(false);
  lists.GetItem(0)->Sort();

  TIntegerLists copy;
  copy.Add(make({99}));  // freed by the clone
  lists.Clone(copy);
  ASSERT_EQ(copy.Count(), 2);
  EXPECT_NE(copy.GetItem(0), lists.GetItem(0));
  EXPECT_EQ(Items(*copy.GetItem(1)), (std::vector<int32_t>{30, 31}));
  EXPECT_FALSE(copy.GetItem(0)->AllowDuplicates());
  EXPECT_TRUE(copy.GetItem(0)->Sorted());
  copy.GetItem(1)->Add(32);
  EXPECT_EQ(Items(*lists.GetItem(1)), (std::vector<int32_t>{30, 31}));
  lists.Clone(lists);  // onto itself: nothing changes
  EXPECT_EQ(lists.Count(), 2);

  std::unique_ptr<TIntegerList> mine(lists.Extract(0));
  EXPECT_EQ(Items(*mine), (std::vector<int32_t>{1, 2}));
  TIntegerList* kept = lists.GetItem(0);
  lists.Clear();  // hands the list back
  EXPECT_EQ(Items(*kept), (std::vector<int32_t>{30, 31}));
  delete kept;
}

// Bit indexes from 2^31 on have no Integer: refused, the list unchanged.
TEST(IntegerList, SetFromBitArrayRefusesIndexesBeyondInteger) {
  // The set spans 2^31 bits (256 MiB): a few seconds, run every time.
  TIntegerList l;
  l.Add(7);
  TBitArray big((int64_t(1) << 31) + 40);
  big.SetBit(3, true);
  big.SetBit(int64_t(INT32_MAX), true);  // the largest Integer index is taken
  l.SetFromBitArray(&big);
  EXPECT_EQ(Items(l), (std::vector<int32_t>{3, INT32_MAX}));
  big.SetBit((int64_t(1) << 31) + 5, true);
  l.Clear();
  l.Add(7);
  EXPECT_THROW(l.SetFromBitArray(&big), EOutOfRange);
  EXPECT_EQ(Items(l), (std::vector<int32_t>{7}));
}

// Long random runs against std::vector as the model. After every step the items
// match, IndexOf agrees with the model on presence, a Sorted list is ordered and
// the selection-sorted prefix holds the smallest items in order.
TEST(IntegerList, ModelAgainstVector) {
  SeedProcessRandom(7);
  for (uint32_t seed : {11u, 12u, 13u, 14u}) {
    std::mt19937 rng(seed);
    auto rnd = [&](int32_t n) { return int32_t(rng() % uint32_t(n)); };
    auto value = [&] { return rnd(41) - 20; };
    auto list = std::make_unique<TIntegerList>();
    std::vector<int32_t> m;
    for (int step = 0; step < 4000; ++step) {
      int op = rnd(16);
      const char* name = "";
      int32_t n = int32_t(m.size());
      switch (op) {
        case 0:
        case 1:
        case 2: {
          name = "Add";
          int32_t v = value();
          int32_t r = list->Add(v);
          if (list->AllowDuplicates()) {
            ASSERT_EQ(r, n);
            m.push_back(v);
          } else if (std::find(m.begin(), m.end(), v) != m.end()) {
            ASSERT_EQ(r, -1);
          } else {
            ASSERT_EQ(r, n);
            m.push_back(v);
            std::sort(m.begin(), m.end());
          }
          break;
        }
        case 3: {
          name = "Insert";
          int32_t at = rnd(n + 3);
          int32_t v = value();
          list->Insert(at, v);
          if (at <= n) {
            m.insert(m.begin() + at, v);
          } else {
            m.resize(size_t(at), 0);
            m.push_back(v);
          }
          break;
        }
        case 4: {
          name = "SetItem";
          int32_t at = rnd(n + 3);
          int32_t v = value();
          list->SetItem(at, v);
          if (at >= n) m.resize(size_t(at) + 1, 0);
          m[size_t(at)] = v;
          break;
        }
        case 5:
          name = "Delete/Extract";
          if (n > 0) {
            int32_t at = rnd(n);
            if (rng() % 2) {
              list->Delete(at);
            } else {
              ASSERT_EQ(list->Extract(at), m[size_t(at)]);
            }
            m.erase(m.begin() + at);
          }
          break;
        case 6:
          name = "Clear";
          if (rnd(8) == 0) {
            list->Clear();
            m.clear();
          }
          break;
        case 7: {
          name = "Clone";
          auto target = std::make_unique<TIntegerList>();
          target->SetAllowDuplicates(list->AllowDuplicates());
          if (rng() % 2) {
            target->Add(100);  // a target that was sorted on its own
          } else {
            Fill(*target, {5, 3});
          }
          list->Clone(*target);
          ASSERT_EQ(target->Capacity(), list->Capacity());
          list = std::move(target);
          break;
        }
        case 8:
          name = "Sort";
          list->Sort();
          std::sort(m.begin(), m.end());
          break;
        case 9:
        case 10: {
          name = "SelectionSortN";
          int32_t k = rnd(4);
          int32_t s = list->SelectionSorted();
          list->SelectionSortN(k);
          // Same exchanges as the list: the smallest of the rest into place s.
          const int32_t rounds = std::min(k, n - s);
          for (int32_t r = 0; r < rounds; ++r, ++s) {
            auto it = std::min_element(m.begin() + s, m.end());
            std::iter_swap(it, m.begin() + s);
          }
          break;
        }
        case 11:
          name = "Shuffle";
          list->Shuffle();
          {
            std::vector<int32_t> a = Items(*list), b = m;
            std::sort(a.begin(), a.end());
            std::sort(b.begin(), b.end());
            ASSERT_EQ(a, b) << "Shuffle is not a permutation";
          }
          m = Items(*list);
          break;
        case 12:
          name = "RemoveDuplicates";
          {
            std::sort(m.begin(), m.end());
            size_t before = m.size();
            m.erase(std::unique(m.begin(), m.end()), m.end());
            ASSERT_EQ(list->RemoveDuplicates(), m.size() != before);
          }
          break;
        case 13:
          name = "RemoveBlanks";
          list->RemoveBlanks();
          m.erase(std::remove(m.begin(), m.end(), 0), m.end());
          break;
        case 14:
          name = "AllowDuplicates";
          if (rnd(6) == 0) list->SetAllowDuplicates(!list->AllowDuplicates());
          break;
        default:
          name = "Swap";
          if (n > 0 && rng() % 2) {
            list->Swap();
            std::reverse(m.begin(), m.end());
          }
          break;
      }
      SCOPED_TRACE(std::string(name) + " seed " + std::to_string(seed) + " step " + std::to_string(step));
      ASSERT_EQ(Items(*list), m);
      if (list->Sorted()) {
        ASSERT_TRUE(std::is_sorted(m.begin(), m.end()));
      }
      int32_t ss = list->SelectionSorted();
      ASSERT_LE(ss, int32_t(m.size()));
      ASSERT_TRUE(std::is_sorted(m.begin(), m.begin() + ss));
      if (ss > 0 && ss < int32_t(m.size())) {
        ASSERT_LE(m[size_t(ss - 1)], *std::min_element(m.begin() + ss, m.end()));
      }
      for (int32_t probe = -21; probe <= 21; probe += 3) {
        int32_t at = list->IndexOf(probe);
        bool present = std::find(m.begin(), m.end(), probe) != m.end();
        ASSERT_EQ(at >= 0, present) << "IndexOf(" << probe << ")";
        if (at >= 0) {
          ASSERT_EQ(m[size_t(at)], probe);
        }
      }
      if (!m.empty()) {
        ASSERT_EQ(list->MinValue(), *std::min_element(m.begin(), m.end()));
        ASSERT_EQ(list->MaxValue(), *std::max_element(m.begin(), m.end()));
      }
    }
  }
}

namespace {

// 20000 items so that the middle item of every range the quicksort meets is its
// largest: with recursion on the left part the depth would be the item count.
std::vector<int32_t> AdversarialOrder(int32_t n) {
  std::vector<int32_t> pos(static_cast<size_t>(n));  // pos[k]: original place of the item now at k
  for (int32_t k = 0; k < n; ++k) pos[size_t(k)] = k;
  std::vector<int32_t> values(static_cast<size_t>(n));
  // Each partition of 0..R moves its pivot (the largest) to R and leaves 0..R-1.
  for (int32_t R = n - 1; R >= 1; --R) {
    int32_t mid = R / 2;
    values[size_t(pos[size_t(mid)])] = R + 1;
    std::swap(pos[size_t(mid)], pos[size_t(R)]);
  }
  values[size_t(pos[0])] = 1;
  return values;
}

// Counts comparisons, to show that the order really is the worst case.
class TCountingList final : public TBaseListSort<int32_t> {
public:
  mutable int64_t Compares = 0;
  bool Equal(const int32_t& a, const int32_t& b) const override { return a == b; }
  bool Less(const int32_t& a, const int32_t& b) const override { ++Compares; return a < b; }
  bool Greater(const int32_t& a, const int32_t& b) const override { ++Compares; return a > b; }
};

template <class F>
bool RunWithSmallStack(F& f) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 256 * 1024);
  pthread_t thread;
  auto body = [](void* arg) -> void* {
    (*static_cast<F*>(arg))();
    return nullptr;
  };
  bool started = pthread_create(&thread, &attr, body, &f) == 0;
  pthread_attr_destroy(&attr);
  if (started) pthread_join(thread, nullptr);
  return started;
}

}  // namespace

TEST(IntegerList, DeepSortOnSmallStack) {
  const int32_t n = 20000;
  const std::vector<int32_t> order = AdversarialOrder(n);
  {
    // A smaller copy through the generic path shows the quadratic comparison count.
    TCountingList c;
    for (int32_t v : AdversarialOrder(2000)) c.Add(v);
    c.Sort();
    EXPECT_GT(c.Compares, int64_t(2000) * 2000 / 2);
  }
  TIntegerList list;
  for (int32_t v : order) list.Add(v);
  list.SetReverseIndex(true);
  auto sortIt = [&] { list.Sort(); };
  ASSERT_TRUE(RunWithSmallStack(sortIt));
  ASSERT_EQ(list.Count(), n);
  for (int32_t i = 0; i < n; ++i) {
    ASSERT_EQ(list.GetItem(i), i + 1);
    ASSERT_EQ(order[size_t(list.GetReverse(i))], i + 1);
  }
  EXPECT_TRUE(list.Sorted());
}
