// The road-name collation: its order on pairs whose order is stable across
// CLDR versions, the code-unit tie-break that keeps distinct names apart, the
// ignore-case form, and independence from the process's locale.
#include <gtest/gtest.h>
#include <unicode/uloc.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "foundation/kovra_collate.h"

using namespace kovra;

namespace {

struct TPair {
  std::u16string a, b;
  int32_t caseSensitive;  // CompareRoadNames(a, b, false)
  int32_t ignoringCase;   // CompareRoadNames(a, b, true)
};

const TPair cPairs[] = {
    {u"a", u"B", -1, -1},  // not code-unit order, which puts B first
    {u"a", u"A", -1, 0},   // lower case first at tertiary strength
    {u"Main St", u"main st", 1, 0},
    {u"Main St", u"MainSt", -1, -1},  // a blank is not ignorable in the root order
    {u"a1", u"a10", -1, -1},
    {u"a2", u"a10", 1, 1},            // digits compare as text
    {u"\u00e4", u"z", -1, -1},        // a-umlaut beside a, as in German, not after z as in Swedish
    {u"\u00e4", u"a", 1, 1},          // the accent is a secondary difference
    {u"\u00c4", u"\u00e4", 1, 0},
    {u"ab", u"a\u00adb", -1, 0},      // soft hyphen is ignorable: only the tie-break tells them apart
    {u"\u00e9", u"e\u0301", 1, 0},    // canonically equivalent forms, told apart by code unit
    {u"", u" ", -1, -1},
    {u"x", u"x", 0, 0},
};

}  // namespace

TEST(CompareRoadNames, OrdersPairsAndBreaksTiesByCodeUnit) {
  for (const TPair& p : cPairs) {
    SCOPED_TRACE(std::string(p.a.begin(), p.a.end()) + " / " + std::string(p.b.begin(), p.b.end()));
    EXPECT_EQ(CompareRoadNames(p.a, p.b, false), p.caseSensitive);
    EXPECT_EQ(CompareRoadNames(p.b, p.a, false), -p.caseSensitive);
    EXPECT_EQ(CompareRoadNames(p.a, p.b, true), p.ignoringCase);
    EXPECT_EQ(CompareRoadNames(p.b, p.a, true), -p.ignoringCase);
  }
}

// A binary search that ignores case over a list sorted case-sensitively must
// find a name whatever its case: names equal ignoring case are neighbours.
TEST(CompareRoadNames, NamesEqualIgnoringCaseAreNeighbours) {
  std::vector<std::u16string> names = {u"b",  u"B",   u"ab",     u"AB",     u"Ab",      u"a\u00adb", u"\u00e4b",
                                       u"\u00c4B", u"abc", u"a b", u"A B", u"e\u0301", u"\u00e9", u"E", u"e",
                                       u"1",  u"10",  u"Zz",     u"zZ",     u"\u00df", u"ss",      u"SS"};
  std::sort(names.begin(), names.end(),
            [](const auto& x, const auto& y) { return CompareRoadNames(x, y, false) < 0; });
  for (size_t i = 0; i < names.size(); ++i)
    for (size_t j = i + 1; j < names.size(); ++j) {
      EXPECT_LT(CompareRoadNames(names[i], names[j], false), 0) << i << " " << j;  // a strict order
      EXPECT_LE(CompareRoadNames(names[i], names[j], true), 0) << i << " " << j;   // and monotone ignoring case
    }
}

// The collation is ICU's root order whatever locale the process runs in. Under
// ctest the test runs in a process of its own, so the collators are made
// after the change.
TEST(CompareRoadNames, IgnoresTheProcessLocale) {
  UErrorCode status = U_ZERO_ERROR;
  const std::string saved = uloc_getDefault();
  uloc_setDefault("sv_SE", &status);
  ASSERT_TRUE(U_SUCCESS(status));
  int32_t before = 2, after = 2;
  std::thread([&] { before = CompareRoadNames(u"\u00e4", u"z", false); }).join();
  std::thread([&] { after = CompareRoadNames(u"\u00e4", u"z", true); }).join();
  uloc_setDefault(saved.c_str(), &status);
  EXPECT_EQ(before, -1);
  EXPECT_EQ(after, -1);
}
