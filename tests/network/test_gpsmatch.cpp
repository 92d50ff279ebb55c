// GPS match candidates sort drivable first, then by metres plus degrees of
// heading difference; equality is exact on its three parts.
#include <gtest/gtest.h>

#include <vector>

#include "network/kovra_gpsmatch.h"

using namespace kovra;

namespace {

TGPSMatch M(int32_t link, double km, double degrees, bool mismatch = false, bool reverse = false) {
  return TGPSMatch{{link, 0.5}, km, degrees, reverse, mismatch};
}

}  // namespace

TEST(GPSMatchList, OrderAndEquality) {
  struct Case {
    const char* name;
    std::vector<TGPSMatch> items;  // added in this order, then sorted
    std::vector<int32_t> links;    // link of each item after the sort
    bool unique;                   // before duplicates are removed
    int32_t afterRemoveDuplicates;
  } const cases[] = {
      // Keys 15 and 34: the farther candidate has the better heading.
      {"metres and degrees weigh the same", {M(1, 0.004, 30), M(2, 0.010, 5)}, {2, 1}, true, 2},
      {"a one-way mismatch sorts last even at no distance",
       {M(1, 0, 0, true), M(2, 0.5, 170), M(3, 0.001, 2)}, {3, 2, 1}, true, 3},
      {"same distance, heading and flag on two links are equal",
       {M(3, 0.01, 1), M(1, 0.02, 10), M(2, 0.02, 10)}, {3, 1, 2}, false, 2},
      {"forward and reverse on a straight segment at 90 degrees are equal",
       {M(4, 0.03, 90), M(4, 0.03, 90, false, true)}, {4, 4}, false, 1},
      {"forward and reverse at 60 and 120 degrees are not",
       {M(4, 0.03, 120, false, true), M(4, 0.03, 60)}, {4, 4}, true, 2},
      {"at 90 degrees with different one-way flags they are not",
       {M(4, 0.03, 90, true, true), M(4, 0.03, 90)}, {4, 4}, true, 2},
      {"an empty list", {}, {}, true, 0},
      {"one item", {M(9, 1, 1, true)}, {9}, true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TGPSMatchList l;
    for (const TGPSMatch& m : c.items) l.Add(m);
    l.Sort();
    std::vector<int32_t> links;
    for (int32_t i = 0; i < l.Count(); ++i) links.push_back(l.GetItem(i).Loc.link);
    EXPECT_EQ(links, c.links);
    for (int32_t i = 1; i < l.Count(); ++i) EXPECT_FALSE(l.Less(l.GetItem(i), l.GetItem(i - 1))) << i;
    EXPECT_EQ(l.Unique(), c.unique);
    l.RemoveDuplicates();
    EXPECT_EQ(l.Count(), c.afterRemoveDuplicates);
  }
  // Reverse sorts ahead of forward at 60 vs 120: check the heading decided it.
  TGPSMatchList l;
  l.Add(M(4, 0.03, 120, false, true));
  l.Add(M(4, 0.03, 60));
  l.Sort();
  EXPECT_FALSE(l.GetItem(0).Reverse);
}
