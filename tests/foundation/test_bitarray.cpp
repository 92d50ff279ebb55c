#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "foundation/kovra_bitarray.h"

using namespace kovra;

namespace {

std::vector<int64_t> SetBits(const TBitArray& b) {
  std::vector<int64_t> r;
  for (int64_t i = 0; i < b.Size(); ++i)
    if (b.GetBit(i)) r.push_back(i);
  return r;
}

// Words match ceil(Size/32) and no bit beyond Size is set.
::testing::AssertionResult Invariant(const TBitArray& b) {
  size_t words = size_t((b.Size() + 31) / 32);
  if (b.Words().size() != words) return ::testing::AssertionFailure() << "word count " << b.Words().size();
  if (words > 0 && b.Size() % 32 != 0 && (b.Words().back() >> (b.Size() % 32)) != 0)
    return ::testing::AssertionFailure() << "bits beyond Size set";
  return ::testing::AssertionSuccess();
}

TBitArray Full(int64_t size) {
  TBitArray b(size);
  b.SetAllTrue();
  return b;
}

}  // namespace

TEST(BitArray, EdgeCases) {
  struct Case {
    const char* name;
    std::function<TBitArray()> make;
    int64_t size;
    std::vector<int64_t> bits;
  };
  const Case cases[] = {
      {"grow by SetBit keeps new bits clear", [] { TBitArray b(40); b.SetAllTrue(); b.SetBit(100, true); return b; },
       101, [] { std::vector<int64_t> v; for (int i = 0; i < 40; ++i) v.push_back(i); v.push_back(100); return v; }()},
      {"shrink then regrow clears the cut bits", [] { TBitArray b = Full(64); b.SetSize(40); b.SetSize(64); return b; },
       64, [] { std::vector<int64_t> v; for (int i = 0; i < 40; ++i) v.push_back(i); return v; }()},
      {"P_Not on 33 with bit 0", [] { TBitArray b(33); b.SetBit(0, true); b.P_Not(); return b; }, 33,
       [] { std::vector<int64_t> v; for (int i = 1; i < 33; ++i) v.push_back(i); return v; }()},
      {"SetFromTRoute", [] { TBitArray b; TRoute r; r.links = {3, -7, 12}; b.SetFromTRoute(r); return b; }, 13,
       {3, 7, 12}},
      {"SetFromIntegerArray", [] { TBitArray b(100); b.SetAllTrue(); b.SetFromIntegerArray({9, 0, 5, 0}); return b; },
       4, {2}},
      {"SetFromIntegerArray empty", [] { TBitArray b(10); b.SetFromIntegerArray({}); return b; }, 0, {}},
      {"SetBit2 clears", [] { TBitArray b = Full(10); b.SetBit2(3, false); b.SetBit(4, false); return b; }, 10,
       {0, 1, 2, 5, 6, 7, 8, 9}},
      {"P_Or masks a longer B", [] { TBitArray b(5); TBitArray c = Full(31); b.P_Or(c); return b; }, 5,
       {0, 1, 2, 3, 4}},
      {"P_And", [] { TBitArray b = Full(40); TBitArray c(40); c.SetBit(39, true); c.SetBit(1, true); b.P_And(c); return b; },
       40, {1, 39}},
      {"empty ops", [] { TBitArray b, c; b.P_Not(); b.SetAllTrue(); b.Assign(c); b.P_And(c); b.P_Or(c); return b; }, 0, {}},
  };
  for (const Case& c : cases) {
    TBitArray b = c.make();
    EXPECT_EQ(b.Size(), c.size) << c.name;
    EXPECT_EQ(SetBits(b), c.bits) << c.name;
    EXPECT_TRUE(Invariant(b)) << c.name;
    EXPECT_EQ(b.CountTrue(), int64_t(c.bits.size())) << c.name;
    EXPECT_EQ(b.CountFalse(), c.size - int64_t(c.bits.size())) << c.name;
  }
  EXPECT_EQ(TBitArray(40).Words().size(), 2u);

  TBitArray o = Full(70);
  EXPECT_EQ(o.OpenBit(), 70);
  o.SetBit(33, false);
  EXPECT_EQ(o.OpenBit(), 33);
  EXPECT_EQ(o.OpenBitOffset(40), 33);  // the search starts at bit 32
  EXPECT_EQ(o.OpenBitOffset(64), 70);
  EXPECT_EQ(o.OpenBitOffset(1000), 70);
  EXPECT_EQ(TBitArray().OpenBit(), 0);
  EXPECT_EQ(TBitArray().CountTrue(), 0);

  TBitArray src(37), dst;
  src.SetBit(36, true);
  src.Clone(dst);
  EXPECT_EQ(dst.Size(), 37);
  EXPECT_EQ(SetBits(dst), (std::vector<int64_t>{36}));
}

TEST(BitArray, BadInputRaisesAndChangesNothing) {
  struct Case {
    const char* name;
    std::function<void(TBitArray&)> op;
    const char* message;
  };
  TBitArray other(64), shorter(32);
  const Case cases[] = {
      {"size above the largest", [](TBitArray& b) { b.SetSize(TBitArray::cMaxSize + 1); }, cMsgBitArrayIndex},
      {"negative size", [](TBitArray& b) { b.SetSize(-1); }, cMsgBitArrayIndex},
      {"negative SetBit", [](TBitArray& b) { b.SetBit(-1, true); }, cMsgBitArrayIndex},
      {"SetBit at the largest size", [](TBitArray& b) { b.SetBit(TBitArray::cMaxSize, true); }, cMsgBitArrayIndex},
      {"SetBit at int64 max", [](TBitArray& b) { b.SetBit(INT64_MAX, true); }, cMsgBitArrayIndex},
      {"Assign other size", [&](TBitArray& b) { b.Assign(other); }, cMsgBitArraySize},
      {"P_And fewer words", [&](TBitArray& b) { b.P_And(shorter); }, cMsgBitArraySize},
      {"P_Or fewer words", [&](TBitArray& b) { b.P_Or(shorter); }, cMsgBitArraySize},
  };
  for (const Case& c : cases) {
    TBitArray b(40);
    b.SetBit(5, true);
    b.SetBit(39, true);
    try {
      c.op(b);
      ADD_FAILURE() << c.name << ": no exception";
    } catch (const EBitArrayError& e) {
      EXPECT_STREQ(e.what(), c.message) << c.name;
    }
    EXPECT_EQ(b.Size(), 40) << c.name;
    EXPECT_EQ(SetBits(b), (std::vector<int64_t>{5, 39})) << c.name;
  }
  // The largest size itself is accepted in principle; checked without allocating it.
  EXPECT_EQ(TBitArray::cMaxSize, 137438953440LL);
}

// Random operations against std::vector<bool>; after each one the bits beyond
// Size in the last word must be clear.
TEST(BitArray, ModelAgainstVectorBool) {
  for (uint32_t seed : {1u, 2u, 3u}) {
    std::mt19937 rng(seed);
    TBitArray b;
    std::vector<bool> m;
    auto rnd = [&](int64_t n) { return int64_t(rng() % uint64_t(n)); };
    for (int step = 0; step < 3000; ++step) {
      int op = int(rng() % 11);
      std::string name;
      switch (op) {
        case 0: {
          int64_t s = rnd(300);
          name = "SetSize";
          b.SetSize(s);
          m.resize(size_t(s), false);
          break;
        }
        case 1:
        case 2: {
          int64_t i = rnd(320);
          bool v = rng() % 2;
          name = "SetBit";
          b.SetBit(i, v);
          if (i >= int64_t(m.size())) m.resize(size_t(i + 1), false);
          m[size_t(i)] = v;
          break;
        }
        case 3:
          name = "P_Not";
          b.P_Not();
          m.flip();
          break;
        case 4:
          name = "SetAll";
          if (rng() % 2) {
            b.SetAllTrue();
            m.assign(m.size(), true);
          } else {
            b.SetAllFalse();
            m.assign(m.size(), false);
          }
          break;
        case 5:
        case 6: {
          name = "P_And/P_Or";
          TBitArray c(int64_t(m.size()));
          std::vector<bool> cm(m.size());
          for (size_t k = 0; k < m.size(); ++k)
            if (rng() % 2) {
              c.SetBit2(int64_t(k), true);
              cm[k] = true;
            }
          if (op == 5) b.P_And(c); else b.P_Or(c);
          for (size_t k = 0; k < m.size(); ++k) m[k] = op == 5 ? (m[k] && cm[k]) : (m[k] || cm[k]);
          break;
        }
        case 7: {
          name = "SetFromIntegerArray";
          TIntegerArray ia(size_t(rnd(100)));
          for (auto& x : ia) x = int32_t(rnd(3)) - 1;
          b.SetFromIntegerArray(ia);
          m.assign(ia.size(), false);
          for (size_t k = 1; k < ia.size(); ++k) m[k] = ia[k] != 0;
          break;
        }
        case 8: {
          name = "SetFromTRoute";
          TRoute r;
          for (int k = 0; k < 4; ++k) r.links.push_back(int32_t(rnd(301)) - 150);
          b.SetFromTRoute(r);
          for (int32_t l : r.links) {
            size_t i = size_t(std::abs(l));
            if (i >= m.size()) m.resize(i + 1, false);
            m[i] = true;
          }
          break;
        }
        case 9: {
          name = "Clone/Assign";
          TBitArray c;
          b.Clone(c);
          TBitArray d(b.Size());
          d.Assign(c);
          b.SetAllFalse();
          b.Assign(d);
          break;
        }
        default: {
          name = "OpenBitOffset";
          int64_t start = rnd(m.size() + 40);
          int64_t expect = int64_t(m.size());
          for (size_t k = size_t(start / 32) * 32; k < m.size(); ++k)
            if (!m[k]) {
              expect = int64_t(k);
              break;
            }
          ASSERT_EQ(b.OpenBitOffset(start), expect) << "seed " << seed << " step " << step;
        }
      }
      ASSERT_TRUE(Invariant(b)) << name << " seed " << seed << " step " << step;
      ASSERT_EQ(b.Size(), int64_t(m.size())) << name << " step " << step;
      int64_t ones = 0;
      for (size_t k = 0; k < m.size(); ++k) {
        ASSERT_EQ(b.GetBit(int64_t(k)), bool(m[k])) << name << " step " << step << " bit " << k;
        ones += m[k];
      }
      ASSERT_EQ(b.CountTrue(), ones) << name << " step " << step;
    }
  }
}
