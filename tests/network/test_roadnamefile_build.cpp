// Building road-name pairs: from DBF tables made by GDAL, with the field
// checks of the table builder; and rebuilding over an existing pair, which
// survives byte for byte whatever stops the build.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "network/kovra_roadnamefile.h"
#include "network/support/roadname_fixture.h"
#include "support/gdal_readback.h"
#include "support/test_raises.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

class RoadNameBuild : public TRoadNameTest {
protected:
  // A DBF table Name.dbf (with its .cpg) in code page 1252, made by ogr2ogr
  // from text: an integer field ID, a text field NAME holding Names.
  std::string Dbf(const std::string& Name, const std::vector<std::string>& Names) {
    std::string csv = "ID,NAME\n";
    for (size_t k = 0; k < Names.size(); ++k) csv += std::to_string(k + 1) + ",\"" + Names[k] + "\"\n";
    const std::string source = Make(Name + "_source.csv", csv);
    Make(Name + "_source.csvt", "\"Integer\",\"String(40)\"");
    const std::string out = fTemp.File(Name + ".dbf");
    std::string output;
    EXPECT_EQ(RunCommand("ogr2ogr -f 'ESRI Shapefile' -lco ENCODING=CP1252 '" + out + "' '" + source + "' 2>&1",
                         &output),
              0)
        << output;
    return out;
  }

  std::vector<std::string> ReadAll(int32_t Links) {
    TRoadNameFile r;
    r.Load(Dir(), false, 0, 1, Links);
    std::vector<std::string> names;
    for (int32_t l = 1; l <= Links; ++l) names.push_back(r.RoadName1(l));
    return names;
  }
};

}  // namespace

TEST_F(RoadNameBuild, ReadsDbfTablesInTheirCodePage) {
  const std::vector<std::string> first = {"M\xc3\xbcllerstra\xc3\x9f" "e", "\xc3\x96lweg", ""};
  const std::vector<std::string> second = {"\xc3\x84u\xc3\x9f" "ere Str", "\xc3\x96lweg"};
  const std::vector<std::string> files = {Dbf("a", first), Dbf("b", second)};
  std::vector<std::string> all = first;
  all.insert(all.end(), second.begin(), second.end());
  Csv("in.csv", all);  // the values for the oracle

  struct Case {
    const char* name;
    uint16_t codePage;
    int32_t fieldIndex;
    std::string fieldName;
  } const cases[] = {
      {"by index, the tables' code page", 0, 1, ""},
      {"by name, index ignored", 1252, 99, "NAME"},
      {"by name in lower case", 0, -1, "name"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TRoadNameFile b;
    b.Import2(files, Dir(), c.codePage, 1, c.fieldIndex, c.fieldName);
    EXPECT_EQ(ReadAll(5), all);
    EXPECT_EQ(Oracle(true), "ok");
  }
}

TEST_F(RoadNameBuild, RefusesMissingInputAndWrongFields) {
  const std::vector<std::string> files = {Dbf("a", {"x", "y"})};
  struct Case {
    const char* name;
    std::function<void(TRoadNameFile&)> build;
    std::string message;
  } const cases[] = {
      {"no text files", [&](TRoadNameFile& b) { b.Import1({}, Dir(), 0, 1, 0); }, "Cannot find input file to import."},
      {"no tables", [&](TRoadNameFile& b) { b.Import2({}, Dir(), 0, 1, 0, ""); }, "Cannot find input file to import."},
      {"unknown field", [&](TRoadNameFile& b) { b.Import2(files, Dir(), 0, 1, 1, "STREET"); }, "Field Name not found"},
      {"index -1", [&](TRoadNameFile& b) { b.Import2(files, Dir(), 0, 1, -1, ""); }, "FieldIndex out of bound"},
      {"index = field count", [&](TRoadNameFile& b) { b.Import2(files, Dir(), 0, 1, 2, ""); }, "FieldIndex out of bound"},
      {"index -2", [&](TRoadNameFile& b) { b.Import2(files, Dir(), 0, 1, -2, ""); }, "FieldIndex out of bound"},
      {"number field by index", [&](TRoadNameFile& b) { b.Import2(files, Dir(), 0, 1, 0, ""); }, "Invalid field type"},
      {"number field by name", [&](TRoadNameFile& b) { b.Import2(files, Dir(), 0, 1, 1, "ID"); }, "Invalid field type"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TRoadNameFile b;
    EXPECT_EQ(MessageOf([&] { c.build(b); }), c.message);
  }
  for (const std::string& f : Listing()) EXPECT_EQ(f.find("road"), std::string::npos) << f;
}

// Rebuilding a pair that exists: whatever stops the build, the old pair stays
// byte for byte and no temporary file is left; in an empty folder nothing is
// left at all. A finished build replaces the pair.
TEST_F(RoadNameBuild, AStoppedRebuildKeepsTheOldPair) {
  const std::vector<std::string> before = {"Old Road", "Elm", "Old Road"};
  const std::vector<std::string> after = {"New Road", "Ash", "Birch", "Ash", "Cedar"};
  // 8191 short names and one of 2^17 units: 8192 records of 2^18 bytes.
  std::vector<std::string> huge;
  for (int i = 0; i < 8191; ++i) huge.push_back("n" + std::to_string(i));
  huge.push_back(std::string(131072, 'x'));

  auto cancelAbove = [](int32_t from, int32_t to) {
    return [=](TObject*, int32_t p, bool& cancel) {
      if (p > from && p <= to) cancel = true;
    };
  };
  struct Case {
    const char* name;
    std::vector<std::string> values;
    std::function<TProgressCancelEvent()> handler;
    std::string message;  // "" for a cancel
  } const cases[] = {
      {"cancel while collecting names", after, [&] { return cancelAbove(0, 40); }, ""},
      {"cancel while writing numbers", after, [&] { return cancelAbove(40, 100); }, ""},
      {"the handler raises while writing numbers", after,
       []() -> TProgressCancelEvent {
         return [](TObject*, int32_t p, bool&) {
           if (p > 40) throw Exception("stopped by the caller");
         };
       },
       "stopped by the caller"},
      {"the input changes between the passes", after,
       [this]() -> TProgressCancelEvent {
         return [this](TObject*, int32_t p, bool&) {
           if (p == 40) Csv("in.csv", {"New Road", "Ash", "Changed", "Ash", "Cedar"});
         };
       },
       "Road name not found in first pass: Changed"},
      {"a name file past 2 GB", huge, [] { return TProgressCancelEvent(); },
       "Road-name file would exceed 2 GB (8192 names of 262144 bytes)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (bool existing : {true, false}) {
      for (const std::string& f : Listing()) std::filesystem::remove(fTemp.File(f));
      if (existing) Build(before);
      const std::string oldNames = existing ? NameBytes() : "", oldNumbers = existing ? NumberBytes() : "";
      const std::vector<std::string> oldListing = Listing();
      const std::string csv = Csv("in.csv", c.values);
      TRoadNameFile b;
      b.SetOnProgress(c.handler());
      EXPECT_EQ(MessageOf([&] { b.Import1({csv}, Dir(), 65001, 1, 1); }), c.message);
      std::vector<std::string> listing = Listing();
      std::erase_if(listing, [](const std::string& f) { return f.rfind("in.csv", 0) == 0; });
      std::vector<std::string> expected = oldListing;
      std::erase_if(expected, [](const std::string& f) { return f.rfind("in.csv", 0) == 0; });
      EXPECT_EQ(listing, expected) << (existing ? "over a pair" : "in an empty folder");
      if (existing) {
        EXPECT_TRUE(NameBytes() == oldNames);
        EXPECT_TRUE(NumberBytes() == oldNumbers);
      }
    }
  }

  // Without a stop the rebuild replaces the pair.
  Build(before);
  Build(after);
  EXPECT_EQ(ReadAll(5), after);
  EXPECT_EQ(Listing(), (std::vector<std::string>{"in.csv", "in.csv.values", "roadname01.bin", "roadnumber01.bin"}));
}

// Progress runs from 0 through the first pass to 40, on through the second to
// 100, and ends with 0.
TEST_F(RoadNameBuild, ReportsProgressOverBothPasses) {
  std::vector<std::string> values;
  for (int i = 0; i < 200; ++i) values.push_back("Road " + std::to_string(i % 17));
  const std::string csv = Csv("in.csv", values);
  std::vector<int32_t> seen;
  TRoadNameFile b;
  b.SetOnProgress([&](TObject* sender, int32_t p, bool&) {
    EXPECT_EQ(sender, &b);
    seen.push_back(p);
  });
  b.Import1({csv}, Dir(), 65001, 1, 1);
  ASSERT_GE(seen.size(), 4u);
  EXPECT_EQ(seen.front(), 0);
  EXPECT_EQ(seen.back(), 0);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end() - 1));
  EXPECT_NE(std::find(seen.begin(), seen.end(), 40), seen.end());
  EXPECT_EQ(seen[seen.size() - 2], 100);
}
