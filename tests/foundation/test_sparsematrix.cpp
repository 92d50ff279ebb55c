#include <gtest/gtest.h>

#include <random>
#include <set>
#include <utility>

#include "foundation/kovra_sparsematrix.h"

using namespace kovra;

TEST(SparseMatrix, OrderedPairsAndBuckets) {
  TSparseMatrix s(10);
  EXPECT_FALSE(s.Add(3, 7));
  EXPECT_TRUE(s.Add(3, 7));
  EXPECT_FALSE(s.Add(7, 3));  // pairs are ordered
  EXPECT_TRUE(s.Add(7, 3));

  EXPECT_EQ(TSparseMatrix::BucketOf(256, 0), 256);
  EXPECT_EQ(TSparseMatrix::BucketOf(1, 1), 256);
  EXPECT_FALSE(s.Add(256, 0));  // beyond dim: the bit sets grow
  EXPECT_FALSE(s.Add(1, 1));
  EXPECT_TRUE(s.Add(256, 0));
  EXPECT_TRUE(s.Add(1, 1));
  EXPECT_EQ(s.BucketCount(256), 2);
}

TEST(SparseMatrix, OneBucketGrows) {
  // Pairs (r + 65003k, c) share a bucket; row r + 255 with column c - 1 does too.
  TSparseMatrix s(100);
  std::vector<std::pair<int32_t, int32_t>> pairs;
  for (int32_t k = 0; k < 30; ++k) pairs.push_back({5 + 65003 * (k / 2), k % 2 == 0 ? 9 : 8});
  for (auto& p : pairs) p.first += (p.second == 8 ? 255 : 0);
  const int32_t bucket = TSparseMatrix::BucketOf(pairs[0].first, pairs[0].second);
  struct Step {
    int32_t added, length;
  };
  // Length 20 for the first 19 cells, 28 from the 20th, 40 from the 28th.
  const Step steps[] = {{1, 20}, {19, 20}, {20, 28}, {27, 28}, {28, 40}, {30, 40}};
  int32_t added = 0;
  for (const Step& st : steps) {
    for (; added < st.added; ++added) {
      ASSERT_EQ(TSparseMatrix::BucketOf(pairs[size_t(added)].first, pairs[size_t(added)].second), bucket);
      EXPECT_FALSE(s.Add(pairs[size_t(added)].first, pairs[size_t(added)].second)) << added;
    }
    EXPECT_EQ(s.Bucket(bucket).size(), size_t(st.length)) << st.added;
    EXPECT_EQ(s.BucketCount(bucket), st.added);
  }
  for (auto& p : pairs) EXPECT_TRUE(s.Add(p.first, p.second));
  EXPECT_EQ(s.BucketCount(bucket), 30);
}

TEST(SparseMatrix, NegativeIdsRaise) {
  TSparseMatrix s(10);
  EXPECT_FALSE(s.Add(2, 3));
  EXPECT_THROW(s.Add(-1, 3), EOutOfRange);
  EXPECT_THROW(s.Add(2, -3), EOutOfRange);
  EXPECT_THROW(s.Add(-2147483647 - 1, 0), EOutOfRange);
  EXPECT_TRUE(s.Add(2, 3));
  EXPECT_EQ(s.BucketCount(TSparseMatrix::BucketOf(2, 3)), 1);
  TSparseMatrix empty(-5);  // a negative dim gives empty bit sets
  EXPECT_FALSE(empty.Add(0, 0));
  EXPECT_TRUE(empty.Add(0, 0));
}

// 10^6 random pairs against std::set: first sparse ids up to far beyond dim (most
// bits still clear), then a small range with many repeats (bits set, buckets scanned).
TEST(SparseMatrix, ModelAgainstStdSet) {
  std::mt19937 rng(2024);
  const int32_t dim = 1001;
  TSparseMatrix s(dim);
  std::set<std::pair<int32_t, int32_t>> model;
  int mismatches = 0;
  for (int i = 0; i < 1000000; ++i) {
    const bool sparse = i < 100000;
    int32_t r = int32_t(rng() % uint32_t(sparse ? 4000000 : 2 * dim));
    int32_t c = int32_t(rng() % uint32_t(sparse ? 4000000 : 200));
    bool present = !model.insert({r, c}).second;
    if (s.Add(r, c) != present) ++mismatches;
  }
  EXPECT_EQ(mismatches, 0);
  // Ids far beyond dim grow the bit sets.
  for (int32_t big : {5000000, 5000001, 1 << 22}) {
    EXPECT_FALSE(s.Add(big, 1));
    EXPECT_TRUE(s.Add(big, 1));
    EXPECT_FALSE(s.Add(1, big));
    EXPECT_TRUE(s.Add(1, big));
  }
}
