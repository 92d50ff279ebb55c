// The run list of a quadtree leaf: its two operations of its own.
#include <gtest/gtest.h>

#include <vector>

#include "network/kovra_sublinklist.h"

using namespace kovra;

TEST(SubLinkList, IncSub2ExtendsTheLastRunAndVertexcountSumsTheRuns) {
  struct Case {
    const char* name;
    std::vector<TSubLink> runs;
    int32_t incs;  // incsub2 calls after adding the runs
    std::vector<TSubLink> after;
    int32_t vertices;
  } const cases[] = {
      {"empty", {}, 0, {}, 0},
      {"one run, one segment", {{7, 0, 1}}, 0, {{7, 0, 1}}, 2},
      {"one run grown to three segments", {{7, 0, 1}}, 2, {{7, 0, 3}}, 4},
      {"only the last run grows", {{3, 2, 4}, {9, 0, 1}}, 1, {{3, 2, 4}, {9, 0, 2}}, 6},
      {"a run whose sub2 is 0 counts nothing", {{3, 0, 0}, {4, 5, 7}}, 0, {{3, 0, 0}, {4, 5, 7}}, 3},
      {"the largest counts", {{1, 0, 65534}, {2, 65533, 65534}}, 0, {{1, 0, 65534}, {2, 65533, 65534}}, 65537},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TSubLinkList l;
    for (const TSubLink& s : c.runs) l.Add(s);
    for (int32_t i = 0; i < c.incs; ++i) l.incsub2();
    ASSERT_EQ(l.Count(), int32_t(c.after.size()));
    for (int32_t i = 0; i < l.Count(); ++i) EXPECT_EQ(l.GetItem(i), c.after[size_t(i)]) << i;
    EXPECT_EQ(l.Vertexcount(), c.vertices);
  }
}
