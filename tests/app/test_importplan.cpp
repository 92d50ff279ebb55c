// Go's plan from the tab's state: which fields and Execute calls, in which
// order, the texts converted, and what stops Go before anything is written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/core/studio_import.h"
#include "platform/kovra_sysutils.h"

using namespace studio;
using enum TFieldListId;
using enum TAttributeStep;

namespace {

TImportState Scanned(const std::string& first = "/data/roads.shp") {
  TImportState s;
  s.Files = {first, "/data/more.shp"};
  s.FieldsListed = true;
  s.OutputFolder = "/out/";
  return s;
}

std::optional<TImportPlan> Plan(const TImportState& s, std::vector<std::string>* asked = nullptr,
                                bool answer = true) {
  return BuildImportPlan(s, [&](const std::string& q) {
    if (asked) asked->push_back(q);
    return answer;
  });
}

void Choose(TImportState& s, TFieldListId id, int32_t field) { s.Fields[size_t(id)] = field; }

}  // namespace

TEST(ImportPlan, CallsFollowTheChosenListsInTheirFixedOrder) {
  struct Case {
    const char* what;
    std::vector<std::pair<TFieldListId, int32_t>> chosen;
    std::vector<TAttributeCall> calls;
  } cases[] = {
      {"nothing chosen", {}, {}},
      {"attribute only", {{flAttribute, 4}}, {{asAttribute, 0, 4}}},
      {"every list, chosen in reverse",
       {{flLimit3, 11}, {flLimit2, 10}, {flLimit1, 9}, {flRoadname3, 8}, {flRoadname2, 7}, {flRoadname1, 6},
        {flExternalIDstring, 5}, {flExternalIDint, 3}, {flAttribute, 2}},
       {{asAttribute, 0, 2}, {asExternalIDint, 0, 3}, {asExternalIDstring, 0, 5}, {asRoadname, 1, 6},
        {asRoadname, 2, 7}, {asRoadname, 3, 8}, {asLimit, 1, 9}, {asLimit, 2, 10}, {asLimit, 3, 11}}},
      {"gaps keep the file numbers", {{flRoadname2, 1}, {flLimit3, 0}}, {{asRoadname, 2, 1}, {asLimit, 3, 0}}},
      {"field 0 counts as chosen", {{flExternalIDint, 0}}, {{asExternalIDint, 0, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TImportState s = Scanned();
    for (auto [id, f] : c.chosen) Choose(s, id, f);
    const auto p = Plan(s);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->Calls, c.calls);
    EXPECT_EQ(p->RowAttributes, s.Fields[size_t(flAttribute)] >= 0);
  }
}

TEST(ImportPlan, ZLevelsOnlyWithBothEnds) {
  struct Case {
    int32_t from, to, planFrom, planTo;
  } cases[] = {{-1, -1, -1, -1}, {3, -1, -1, -1}, {-1, 4, -1, -1}, {3, 4, 3, 4}, {0, 0, 0, 0}};
  for (const Case& c : cases) {
    TImportState s = Scanned();
    Choose(s, flZFrom, c.from);
    Choose(s, flZTo, c.to);
    const auto p = Plan(s);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->ZFromField, c.planFrom) << c.from << "," << c.to;
    EXPECT_EQ(p->ZToField, c.planTo) << c.from << "," << c.to;
  }
}

TEST(ImportPlan, TextsAreConverted) {
  TImportState s = Scanned();
  s.CoordSys = "CoordSys Earth Projection 1, 104";
  s.Prj = "GEOGCS[]";
  s.MaxNodesPerCell = "120";
  s.EncryptionKey = "4711";
  auto p = Plan(s);
  ASSERT_TRUE(p);
  EXPECT_FALSE(p->EPSG) << "an empty EPSG text sets nothing";
  EXPECT_EQ(p->CoordSys, s.CoordSys);
  EXPECT_EQ(p->Prj, "GEOGCS[]");
  EXPECT_EQ(p->MaxNodesPerCell, 120);
  EXPECT_EQ(p->EncryptionKey, 4711);
  EXPECT_EQ(p->RowEncryption, 4711);
  EXPECT_EQ(p->Directory, "/out/");
  EXPECT_EQ(p->Files, s.Files);

  s.EPSG = "27700";
  s.EncryptionKey = "2147483647";
  p = Plan(s);
  EXPECT_EQ(p->EPSG, 27700);
  EXPECT_EQ(p->EncryptionKey, 2147483647);

  s.EncryptionKey = "";
  p = Plan(s);
  EXPECT_EQ(p->EncryptionKey, 0) << "no key text: plain files";
  EXPECT_EQ(p->RowEncryption, 0);
}

TEST(ImportPlan, TextsThatDoNotConvertStopWithTheConversionError) {
  struct Case {
    std::string TImportState::*text;
    const char* value;
    const char* message;
  } cases[] = {
      {&TImportState::EPSG, "abc", "'abc' is not a valid integer value"},
      {&TImportState::EncryptionKey, "99999999999", "'99999999999' is not a valid integer value"},
      {&TImportState::EncryptionKey, "2147483648", "'2147483648' is not a valid integer value"},
      {&TImportState::MaxNodesPerCell, "", "'' is not a valid integer value"},
  };
  for (const Case& c : cases) {
    TImportState s = Scanned();
    s.*c.text = c.value;
    try {
      Plan(s);
      ADD_FAILURE() << c.value << ": no error";
    } catch (const kovra::EConvertError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
}

TEST(ImportPlan, TableKindFollowsTheFirstFile) {
  struct Case {
    const char* first;
    const char* ext;
    kovra::TFileKind kind;
  } cases[] = {{"/d/a.shp", "DBF", kovra::TFileKind::fkDBF}, {"/d/a.SHP", "DBF", kovra::TFileKind::fkDBF},
               {"/d/a.Tab", "DAT", kovra::TFileKind::fkDBF}, {"/d/a.mif", "MID", kovra::TFileKind::fkCSV},
               {"/d/a.MIF", "MID", kovra::TFileKind::fkCSV}};
  for (const Case& c : cases) {
    const auto p = Plan(Scanned(c.first));
    EXPECT_EQ(p->TableExt, c.ext) << c.first;
    EXPECT_EQ(p->Kind, c.kind) << c.first;
  }
}

TEST(ImportPlan, CodePageIsTheChosenEntryElseTheLastScans) {
  TImportState s = Scanned();
  s.ScanCodePage = 1251;
  EXPECT_EQ(Plan(s)->CodePage, 1251) << "entry 0 hands on the Scan's code page";
  s.CodePageEntry = 26;
  EXPECT_EQ(Plan(s)->CodePage, 1252);
  s.CodePageEntry = 39;
  EXPECT_EQ(Plan(s)->CodePage, 65001);
  s.CodePageEntry = 0;
  s.ScanCodePage = 0;
  EXPECT_EQ(Plan(s)->CodePage, 0) << "0: the tables' own code page";
}

TEST(ImportPlan, LoopsAreAllowedOnlyAfterYes) {
  TImportState s = Scanned();
  std::vector<std::string> asked;
  EXPECT_FALSE(Plan(s, &asked)->AllowLoops);
  EXPECT_TRUE(asked.empty()) << "no question without the tick";

  s.AllowLoops = true;
  EXPECT_FALSE(Plan(s, &asked, false)) << "No: no plan";
  EXPECT_EQ(asked, std::vector<std::string>{"Are you really sure loop links should be allowed?"});
  const auto p = Plan(s, &asked, true);
  ASSERT_TRUE(p);
  EXPECT_TRUE(p->AllowLoops);
}

TEST(ImportPlan, GoBeforeAnyScanStopsBeforeTheQuestion) {
  TImportState s = Scanned();
  s.FieldsListed = false;
  s.AllowLoops = true;
  std::vector<std::string> asked;
  try {
    Plan(s, &asked);
    ADD_FAILURE() << "no error";
  } catch (const kovra::Exception& e) {
    EXPECT_STREQ(e.what(), "Scan the input files first (Scan Files)");
  }
  EXPECT_TRUE(asked.empty());
}

TEST(ImportPlan, TheNewRowHoldsPathKeyAndAttributes) {
  TImportState s = Scanned();
  s.EncryptionKey = "4711";
  Choose(s, flAttribute, 2);
  const NetworkRow row = ImportedNetworkRow(*Plan(s));
  EXPECT_EQ(row.Path, "/out/");
  EXPECT_EQ(row.Encryption, 4711);
  EXPECT_TRUE(row.Attributes);
  EXPECT_TRUE(row.SpatialIndex);
  EXPECT_FALSE(row.Coord3cache);
  EXPECT_EQ(row.ExternalID + row.Limit1 + row.Limit2 + row.Limit3 + row.Roadname, 0);
  EXPECT_TRUE(row.Turn.empty());
  for (double v : row.Speed) EXPECT_EQ(v, 60);
}

TEST(CodePageList, FortyEntriesWithNumberDashAndDescription) {
  ASSERT_EQ(cCodePageEntries.size(), 40u);
  EXPECT_EQ(CodePageEntryText(0), "Auto-detect codepage");
  EXPECT_EQ(CodePageEntryText(26), "1252 \u2014 West European Latin");
  EXPECT_EQ(CodePageEntryText(1), "437 \u2014 The original IBM PC code page");
  EXPECT_EQ(CodePageEntryText(39), "65001 \u2014 UTF-8 Unicode");
  for (int i = 2; i < 40; ++i) EXPECT_LT(cCodePageEntries[i - 1].Number, cCodePageEntries[i].Number) << i;
  // The text starts with the number the attribute import gets.
  for (int i = 1; i < 40; ++i) {
    const uint16_t cp = cCodePageEntries[i].Number;
    const std::string text = CodePageEntryText(i);
    EXPECT_EQ(text.substr(0, text.find(' ')), std::to_string(cp));
  }
}
