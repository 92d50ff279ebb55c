// The string tree of the road-name builder: its hashed front gives the same
// names, ids and bytes as the plain balanced tree, distinct names stay
// distinct, and the number file refuses a name the first pass did not see.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/kovra_collate.h"
#include "foundation/kovra_random.h"
#include "network/kovra_stringtree.h"
#include "support/test_raises.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

// The tree without the hash map in front.
class TPlainTree : public TBalancedTree<std::u16string> {
public:
  TPlainTree() : TBalancedTree(12) {}
  int32_t Compare(const std::u16string& a, const std::u16string& b) override {
    return CompareRoadNames(a, b, false);
  }
};

std::string Bytes(const TKvMemoryStream& s) {
  return std::string(static_cast<const char*>(s.Memory()), size_t(const_cast<TKvMemoryStream&>(s).Size()));
}

// Names with case pairs, collation-equal pairs and many repeats.
std::vector<std::u16string> Names() {
  const std::u16string stems[] = {u"Main St", u"main st", u"MAIN ST", u"ab",  u"a\u00adb", u"\u00e9", u"e\u0301",
                                  u"B",       u"a",       u" ",       u"A10", u"a2",       u"\u00c4", u"Zeta Road"};
  TRandom r;
  r.SetSeed(11);
  std::vector<std::u16string> names;
  for (int i = 0; i < 3000; ++i) {
    std::u16string n = stems[r.NextInt(int32_t(std::size(stems)))];
    if (r.NextInt(3) == 0) n += u" " + std::u16string(1, char16_t(u'0' + r.NextInt(10)));
    names.push_back(n);
  }
  return names;
}

}  // namespace

TEST(StringTree, HashedFrontMatchesThePlainTree) {
  const std::vector<std::u16string> names = Names();
  TStringTree tree;
  TPlainTree plain;
  for (const auto& n : names) {
    tree.Add(n);
    plain.Add(n);
  }
  tree.CreateID();
  plain.CreateID();
  ASSERT_EQ(tree.NameCount(), plain.NodeCount());
  EXPECT_EQ(tree.MaxItemCount(), plain.MaxItemCount());
  size_t longest = 0;
  for (const auto& n : names) longest = std::max(longest, n.size());
  EXPECT_EQ(tree.MaxLength(), int32_t(longest));

  // Name file: the plain tree's keys in id order, zero-padded.
  std::vector<std::u16string> byId(size_t(plain.NodeCount()));
  for (int32_t p = 1; p <= plain.NodeCount(); ++p) byId[size_t(plain.GetItem(p).id)] = plain.GetItem(p).key;
  std::string expected;
  for (std::u16string k : byId) {
    k.resize(longest, u'\0');
    expected.append(reinterpret_cast<const char*>(k.data()), 2 * k.size());
  }
  TKvMemoryStream file;
  tree.Write(file);
  EXPECT_EQ(Bytes(file), expected);

  // Number file: id + 1 of each name, as the plain tree finds it.
  TKvMemoryStream numbers;
  for (const auto& n : names) tree.WriteKeyID(numbers, n);
  ASSERT_EQ(numbers.Size(), int64_t(4 * names.size()));
  for (size_t k = 0; k < names.size(); ++k) {
    int32_t v;
    std::memcpy(&v, static_cast<const char*>(numbers.Memory()) + 4 * k, 4);
    EXPECT_EQ(v, plain.GetItem(plain.IndexOf(names[k])).id + 1) << k;
  }
}

// The collation calls "ab" and "a" U+00AD "b" equal; the tie-break keeps both.
TEST(StringTree, NamesEqualUnderTheCollationStayApart) {
  TStringTree tree;
  for (const char16_t* n : {u"a\u00adb", u"ab", u"e\u0301", u"\u00e9", u"ab"}) tree.Add(n);
  tree.CreateID();
  EXPECT_EQ(tree.NameCount(), 4);
  EXPECT_EQ(tree.GetItem(tree.IndexOf(u"ab")).ItemCount, 2);
  EXPECT_NE(tree.IndexOf(u"a\u00adb"), tree.IndexOf(u"ab"));
  EXPECT_NE(tree.IndexOf(u"e\u0301"), tree.IndexOf(u"\u00e9"));
}

TEST(StringTree, NumberFileRefusesANameNotAdded) {
  TStringTree tree;
  tree.Add(u"Main St");
  tree.CreateID();
  TKvMemoryStream numbers;
  EXPECT_EQ(MessageOf<EInvalidParameter>([&] { tree.WriteKeyID(numbers, u"Main  St"); }),
            "Road name not found in first pass: Main  St");
  EXPECT_EQ(numbers.Size(), 0);
}
