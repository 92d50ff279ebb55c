// Reading turn-restriction text files: lines to stored restrictions, errors
// that name their line and leave the set alone, encodings, and the round trip
// through the export with external ids.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/gdal_readback.h"
#include "turn_fixture.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

constexpr int32_t cLinks = 1030;

// The nearest node by looking at every node.
class TBruteForceFinder : public INearestNodeFinder {
public:
  explicit TBruteForceFinder(const TNetwork& Net) : FNet(Net) {}
  void NearestNode(const TFloatPoint& P, int32_t& node, double& distance) override {
    node = 0;
    distance = 1e300;
    for (int32_t n = 1; n <= FNet.NodeCount(); ++n) {
      const double d = FNet.DistanceBetweenPoints_raw(P, FNet.Node2Coordinate_raw(n));
      if (d < distance) distance = d, node = n;
    }
  }

private:
  const TNetwork& FNet;
};

// Links 5 (from the west), 6 (east), 7 (north) and 8 (south) meet at the
// origin; 3 -> 4 -> 2 is a chain; 1017 -> 1023 meet; every other link stands
// alone. External ids are "L<link>".
class TurnImport : public TNetworkTest {
protected:
  void SetUp() override {
    TNetworkTest::SetUp();
    SetNearestNodeFinderFactory([](const TNetwork& n) { return std::make_unique<TBruteForceFinder>(n); });
  }
  void TearDown() override {
    SetNearestNodeFinderFactory(nullptr);
    TNetworkTest::TearDown();
  }

  TNetwork& OpenSample(int32_t ExternalId = 1) {
    TTestNetworkWriter w;
    std::vector<std::u16string> ids;
    for (int32_t l = 1; l <= cLinks; ++l) {
      ids.push_back(ToUtf16("L" + std::to_string(l)));
      switch (l) {
        case 5: w.AddLink({{-100, 0}, {0, 0}}); break;
        case 6: w.AddLink({{0, 0}, {100, 0}}); break;
        case 7: w.AddLink({{0, 0}, {0, 100}}); break;
        case 8: w.AddLink({{0, 0}, {0, -100}}); break;
        case 3: w.AddLink({{500, 0}, {600, 0}}); break;
        case 4: w.AddLink({{600, 0}, {700, 0}}); break;
        case 2: w.AddLink({{700, 0}, {800, 0}}); break;
        case 1017: w.AddLink({{1000, 0}, {1100, 0}}); break;
        case 1023: w.AddLink({{1100, 0}, {1200, 0}}); break;
        default: w.AddLink({{10.0 * l, 5000}, {10.0 * l + 5, 5000}}); break;
      }
    }
    w.SetExternalIDs(ids, 8);
    return Open(w, false, false, ExternalId);
  }

  std::string WriteFile(const std::string& Name, const std::vector<std::string>& Lines) {
    std::string bytes;
    for (const std::string& l : Lines) bytes += l + "\r\n";
    return WriteBytes(Name, bytes);
  }
  std::string WriteBytes(const std::string& Name, const std::string& Bytes) {
    std::ofstream f(PathOf(Name), std::ios::binary);
    f << Bytes;
    return PathOf(Name);
  }
};

TEST_F(TurnImport, LinesBecomeRestrictions) {
  struct TCase {
    const char* name;
    std::vector<std::string> lines;
    std::vector<TStoredTurn> stored;
    int32_t result;
  };
  const std::string header = "// Kovra Turn Restriction File, Version 2.33+";
  const TCase cases[] = {
      {"two links and a comment", {header, "1 1017 1023    2.500", "// note"}, {{{1017, 1023}, 2.5f}}, 1},
      {"mandatory turn", {header, "1 1017 1023    2.500", "// note", "4 5 6"},
       {{{5, 7}, -1}, {{5, 8}, -1}, {{1017, 1023}, 2.5f}}, 3},
      {"mandatory turn removes its movement", {"1 5 6 -1", "4 5 6"}, {{{5, 7}, -1}, {{5, 8}, -1}}, 3},
      {"three fields are skipped", {"1 3 4"}, {}, 0},
      {"-1.0 and -1", {"1 3 4 -1.0", "1 4 2 -1"}, {{{3, 4}, -1}, {{4, 2}, -1}}, 2},
      {"a comma splits the value", {"1 3 4 2,5"}, {{{3, 4, 2}, 5}}, 1},
      {"-2.5 is kept", {"6 3 4 2 -2.5"}, {{{3, 4, 2}, -2.5f}}, 1},
      {"no digits read 0 and remove", {"1 3 4 7", "1 3 4 x"}, {}, 1},
      {"later value wins", {"1 3 4 7", "1 3 4 8"}, {{{3, 4}, 8}}, 1},
      {"blank lines", {"1 3 4 1", "", "   ", "\t", "1 4 2 1"}, {{{3, 4}, 1}, {{4, 2}, 1}}, 2},
      {"quoted fields", {"1 \"3\" \"4\" 2"}, {{{3, 4}, 2}}, 1},
      {"links that do not meet", {"1 3 2 1", "6 3 4 5 1"}, {}, 0},
      {"unknown types", {"9 3 4 1", "-7 1"}, {}, 0},
      {"external ids", {"0 L5 L6 2", "0 L5 nosuch 2", "5 L3 L4 L2 -1"}, {{{5, 6}, 2}, {{3, 4, 2}, -1}}, 2},
      {"external mandatory", {"3 L5 L7", "3 L5 nosuch"}, {{{5, 6}, -1}, {{5, 8}, -1}}, 2},
      {"mandatory with a zero id or a parallel pair", {"4 0 6", "4 5 5", "4 5 3"}, {}, 0},
      {"standard turns at the nearest node", {"2 1.5 -2"},
       {{{5, 7}, -1}, {{5, 8}, -1}, {{6, 7}, -1}, {{6, 8}, -1}, {{7, 5}, -1}, {{7, 6}, -1}, {{8, 5}, -1}, {{8, 6}, -1}},
       8},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TNetwork& net = OpenSample();
    EXPECT_EQ(net.TurnImportTxt(0, WriteFile("t.txt", c.lines)), c.result);
    EXPECT_EQ(StoredTurns(net, 0), Sorted(c.stored));
  }
}

TEST_F(TurnImport, ABadLineNamesItselfAndLeavesTheSetUnchanged) {
  struct TCase {
    std::string line;
    std::string message;
  };
  const TCase cases[] = {
      {"x 1 2 3", "'x' is not a valid integer value (line 5)"},
      {"1 a 2 3", "'a' is not a valid integer value (line 5)"},
      {"1 3 2.0 3", "'2.0' is not a valid integer value (line 5)"},
      {"1 3 2000 1", "Link-ID must be <=1030: 2000 (line 5)"},
      {"6 0 3 4 1", "Link-ID must be >=1: 0 (line 5)"},
      {"4 5 2000", "Link-ID must be <=1030: 2000 (line 5)"},
      {"4 -3 5", "Link-ID must be >=1: -3 (line 5)"},
      {"2 5", "Turn file line 5 has too few fields"},
      {"4 5", "Turn file line 5 has too few fields"},
      {"3 L5", "Turn file line 5 has too few fields"},
      {"1 3 4 1e39", "Turn file line 5: value out of range"},
      {"1 3 4 -1e400", "Turn file line 5: value out of range"},
      {"2 1e400 0", "Turn file line 5: value out of range"},
      {"2 600 1", "Degree for node should be >=4 (is 2) (line 5)"},
      {"0 L3 x7 L4 1", ""},  // an unknown id skips the line: no error
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.line);
    TNetwork& net = OpenSample();
    net.TurnRestriction(0, 1017, 1023, 9);
    const auto before = StoredTurns(net, 0);
    const std::string file = WriteFile("t.txt", {"1 3 4 1", "4 5 6", "", "2 0 0", c.line, "1 4 2 1"});
    EXPECT_EQ(MessageOf([&] { net.TurnImportTxt(0, file); }), c.message);
    if (!c.message.empty()) {
      EXPECT_EQ(StoredTurns(net, 0), before);
    }
  }
}

TEST_F(TurnImport, ErrorClassesAreKept) {
  TNetwork& net = OpenSample();
  EXPECT_EQ(MessageOf<EConvertError>([&] { net.TurnImportTxt(0, WriteFile("a.txt", {"x"})); }),
            "'x' is not a valid integer value (line 1)");
  EXPECT_EQ(MessageOf<EOutOfRange>([&] { net.TurnImportTxt(0, WriteFile("b.txt", {"1 3 0 1"})); }),
            "Link-ID must be >=1: 0 (line 1)");
  EXPECT_EQ(MessageOf<EWrongDegree>([&] { net.TurnImportTxt(0, WriteFile("c.txt", {"2 500 0"})); }),
            "Degree for node should be >=4 (is 1) (line 1)");
  EXPECT_FALSE(MessageOf<EFOpenError>([&] { net.TurnImportTxt(0, PathOf("missing.txt")); }).empty());
  ExpectRaises<EOutOfRange>([&] { net.TurnImportTxt(1, PathOf("missing.txt")); }, "Turn index must be between 0 and 0");
  EXPECT_EQ(net.TurnCount(0), 0);
}

TEST_F(TurnImport, ClosedExternalIdsAndNoNearestNodeFinder) {
  TNetwork& net = OpenSample(0);
  const std::string file = WriteFile("t.txt", {"1 3 4 1", "// c", "0 L5 L6 1", "1 4 2 1"});
  ExpectRaises<Exception>([&] { net.TurnImportTxt(0, file); }, "TurnImport: External ID not opened (line 3)");
  ExpectRaises<Exception>([&] { net.TurnImportTxt(0, WriteFile("u.txt", {"3 L5 L6"})); },
                          "TurnImport: External ID not opened (line 1)");
  EXPECT_EQ(net.TurnCount(0), 0);
  // Records that need no external id read as usual.
  EXPECT_EQ(net.TurnImportTxt(0, WriteFile("v.txt", {"1 3 4 1", "4 5 6"})), 3);

  SetNearestNodeFinderFactory(nullptr);
  ExpectRaises<Exception>([&] { net.TurnImportTxt(0, WriteFile("w.txt", {"", "2 0 0"})); },
                          "Spatial index need to be open (line 2)");
}

TEST_F(TurnImport, EncodingFollowsTheBytes) {
  TTestNetworkWriter w;
  const auto links = AddJunction(w, {0, 0}, {0, 90, 180, 270}, 100);
  w.SetExternalIDs(std::vector<std::u16string>{u"Straße", u"Ärger", u"x", u"y"}, 10);
  TNetwork& net = Open(w, false, false, 1);
  struct TCase {
    const char* name;
    std::string bytes;
    bool found;
  };
  const TCase cases[] = {
      {"UTF-8", "0 Stra\xC3\x9F" "e \xC3\x84rger 2\r\n", true},
      {"UTF-8 with a byte-order mark", "\xEF\xBB\xBF" "0 Stra\xC3\x9F" "e \xC3\x84rger 2\n", true},
      {"code page 1252", "0 Stra\xDF" "e \xC4rger 2\r\n", true},
      // Valid UTF-8 wins: these two 1252 characters would read as "Ã" "Ÿ".
      {"valid UTF-8 is not read as 1252", "0 Stra\xC3\x9F" "e x 2\r\n0 \xC3\x84rger y 3", true},
      {"an invalid byte makes the whole file 1252", "0 Stra\xC3\x9F" "e x 2\r\n0 \xC4rger y 3", false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    net.TurnClear(0);
    net.TurnImportTxt(0, WriteBytes("e.txt", c.bytes));
    EXPECT_EQ(net.TurnSet(0).B().GetBit(links[1]) || net.TurnSet(0).B().GetBit(links[2]), c.found);
  }
}

TEST_F(TurnImport, ExportWithExternalIdsReadsBackAsTheSameSet) {
  TTestNetworkWriter w;
  const auto a = AddJunction(w, {0, 0}, {0, 90, 180, 270}, 100, {true, false, false, false});
  const auto b = AddJunction(w, {0, 200}, {90, 180, 270}, 100);
  w.AddRejected();
  w.SetExternalIDs(std::vector<std::u16string>{u"a b", u"c,d", u"e\"f", u"Straße", u"\"", u"g", u"h", u"i"}, 12);
  TNetwork& net = Open(w, false, false, 1);
  net.CreateArrayTurn(2);
  net.TurnRestriction(0, a[0], a[1], -1);
  net.TurnRestriction(0, a[1], a[2], 2.5f);
  net.TurnRestriction(0, a[2], a[3], 3);
  net.TurnRestriction(0, a[3], a[0], -1);
  net.TurnRestriction(0, b[0], b[2], 1.25f);
  net.TurnRestrictionComplex(0, a[1], a[0], b[1], 0, 0, 0, -1);
  // A rejected link reaches a set only through the binary file; its id is
  // written all the same.
  const int32_t rejected = w.LinkCount();
  {
    const int32_t seq[] = {a[1], rejected};
    net.TurnSet(0).Add({seq, 4});
  }
  net.TurnExportTxt2(0, PathOf("x.txt"));
  EXPECT_EQ(RunCommand("uconv -f utf-8 -t utf-16le --from-callback stop " + PathOf("x.txt") + " > /dev/null"), 0);

  EXPECT_EQ(net.TurnImportTxt(1, PathOf("x.txt")), 6);
  auto expected = StoredTurns(net, 0);
  std::erase_if(expected, [&](const TStoredTurn& t) { return t.links.back() == rejected; });
  EXPECT_EQ(StoredTurns(net, 1), expected);

  // Ids are read from the id file; a closed one is refused before any file.
  net.CloseExternalID();
  ExpectRaises<Exception>([&] { net.TurnExportTxt2(0, PathOf("y.txt")); }, "External ID is not open");
}

// Costs read back as the Single they were: three decimals would write
// 0.0004 as 0.000, which reads back as a removal, and round 1234.5678.
TEST_F(TurnImport, CostsReadBackAsTheSameSingle) {
  TNetwork& net = OpenSample();
  net.CreateArrayTurn(3);
  net.TurnRestriction(0, 3, 4, 0.0004f);
  net.TurnRestriction(0, 4, 2, 1234.5678f);
  net.TurnRestriction(0, 1017, 1023, 2.5f);
  net.TurnRestriction(0, 5, 6, 1e-7f);
  net.TurnExportTxt(0, PathOf("ids.txt"));
  net.TurnExportTxt2(0, PathOf("external.txt"));
  net.TurnImportTxt(1, PathOf("ids.txt"));
  net.TurnImportTxt(2, PathOf("external.txt"));
  ASSERT_EQ(StoredTurns(net, 0).size(), 4u);
  EXPECT_EQ(StoredTurns(net, 1), StoredTurns(net, 0));
  EXPECT_EQ(StoredTurns(net, 2), StoredTurns(net, 0));
}

}  // namespace
