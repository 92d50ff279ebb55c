// Location lists order by location only; the cases of the list's contract as
// one table, each a few steps on a fresh list and the state they leave.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "network/kovra_locationlist.h"

using namespace kovra;

namespace {

std::vector<TLocation> Locations(const TLocationList& l) {
  std::vector<TLocation> v;
  for (int32_t i = 0; i < l.Count(); ++i) v.push_back(l.GetItem(i).loc);
  return v;
}

}  // namespace

TEST(LocationList, OrderEqualityAndCleanUp) {
  struct Case {
    const char* name;
    std::function<void(TLocationList&)> steps;
    std::vector<TLocation> items;  // after the steps
    bool sorted;
    bool unique;
  } const cases[] = {
      {"the link decides before the percent",
       [](TLocationList& l) {
         l.Add2(5, 0.1);
         l.Add2(7, 0.5);
         l.Add2(3, 0.9);
         l.Add2(7, 0.25);
         l.Sort();
       },
       {{3, 0.9}, {5, 0.1}, {7, 0.25}, {7, 0.5}}, true, true},
      {"links compare signed",
       [](TLocationList& l) {
         l.Add2(1, 0.5);
         l.Add2(-2, 0.5);
         l.Sort();
       },
       {{-2, 0.5}, {1, 0.5}}, true, true},
      {"appending out of order clears Sorted",
       [](TLocationList& l) {
         l.Add2(7, 0.5);
         l.Add2(7, 0.25);
       },
       {{7, 0.5}, {7, 0.25}}, false, true},
      {"appending in order keeps Sorted",
       [](TLocationList& l) {
         l.Add2(7, 0.25);
         l.Add2(7, 0.5);
       },
       {{7, 0.25}, {7, 0.5}}, true, true},
      {"the point takes no part in equality",
       [](TLocationList& l) {
         l.Add4({4, 0.5}, {10, 20});
         l.Add4({4, 0.5}, {99, 99});
         EXPECT_TRUE(l.Equal(l.GetItem(0), l.GetItem(1)));
         l.RemoveDuplicates();
       },
       {{4, 0.5}}, true, true},
      {"points alone are all equal",
       [](TLocationList& l) {
         l.Add3({5, 5});
         l.Add5(1, 1);
         l.Add3({-3, 2});
         EXPECT_TRUE(l.Sorted());
         EXPECT_FALSE(l.Unique());
         l.RemoveDuplicates();
       },
       {{0, 0}}, true, true},
      {"points alone are not unique",
       [](TLocationList& l) {
         l.Add5(1, 1);
         l.Add5(2, 2);
       },
       {{0, 0}, {0, 0}}, true, false},
      {"refused duplicates whatever their point",
       [](TLocationList& l) {
         l.SetAllowDuplicates(false);
         EXPECT_EQ(l.Add1({9, 0.5}), 0);
         EXPECT_EQ(l.Add1({9, 0.5}), -1);
         EXPECT_EQ(l.Add4({9, 0.5}, {1, 2}), -1);
         EXPECT_EQ(l.Add2(2, 0.5), 1);  // kept sorted: returns the appended index
       },
       {{2, 0.5}, {9, 0.5}}, true, true},
      {"locations on nodes removed",
       [](TLocationList& l) {
         l.Add2(1, 0.0);
         l.Add2(1, 0.5);
         l.Add2(2, 1.0);
         l.Add2(3, 0.9999);
         l.RemoveStartEndPos();
       },
       {{1, 0.5}, {3, 0.9999}}, true, true},
      {"points alone all lie on nodes",
       [](TLocationList& l) {
         l.Add3({1, 2});
         l.Add5(3, 4);
         l.RemoveStartEndPos();
       },
       {}, true, true},
      {"an empty list stays empty", [](TLocationList& l) { l.RemoveStartEndPos(); }, {}, true, true},
      {"clean-up keeps the order of an unsorted list",
       [](TLocationList& l) {
         for (double p : {0.7, 1.0, 0.2, 0.0, 0.4, 1.0}) l.Add2(8, p);
         l.RemoveStartEndPos();
       },
       {{8, 0.7}, {8, 0.2}, {8, 0.4}}, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TLocationList l;
    c.steps(l);
    EXPECT_EQ(Locations(l), c.items);
    EXPECT_EQ(l.Sorted(), c.sorted);
    EXPECT_EQ(l.Unique(), c.unique);
  }
}

TEST(LocationList, AddVariantsFillTheMissingHalfWithZeros) {
  TLocationList l;
  EXPECT_EQ(l.Add1({3, 0.25}), 0);
  l.Add2(-4, 0.75);
  l.Add3({1.5, -2.5});
  l.Add4({6, 1}, {7, 8});
  l.Add5(9, 10);
  const TLocationListItem want[] = {
      {{3, 0.25}, {0, 0}}, {{-4, 0.75}, {0, 0}}, {{0, 0}, {1.5, -2.5}}, {{6, 1}, {7, 8}}, {{0, 0}, {9, 10}}};
  ASSERT_EQ(l.Count(), 5);
  for (int32_t i = 0; i < 5; ++i) {
    EXPECT_EQ(l.GetItem(i).loc, want[i].loc) << i;
    EXPECT_EQ(l.GetItem(i).P, want[i].P) << i;
  }
  // The points travel with their locations through a sort.
  l.Sort();
  EXPECT_EQ(l.GetItem(0).loc.link, -4);
  EXPECT_EQ(l.GetItem(4).P, (TFloatPoint{7, 8}));
}
