#include "foundation/kovra_charset.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "foundation/kovra_functions.h"
#include "platform/kovra_codepage.h"

using namespace kovra;

TEST(Charset, Lookups) {
  const TCharSetList& list = CharSetList();
  ASSERT_EQ(list.Count(), 36);
  struct Case {
    uint16_t cp;
    const char* charset;
    uint8_t id;
  };
  const Case cases[] = {
      {1252, "WindowsLatin1", 10}, {28597, "ISO8859_7", 7}, {28591, "ISO8859_1", 1}, {28599, "ISO8859_9", 9},
      {65001, "UTF-8", 57},        {1200, "UTF-16", 58},    {737, "", 0},          {0, "", 0},
      {869, "CodePage869", 44},    {1258, "WindowsVietnamese", 56},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(list.CodePage2Charset(c.cp), c.charset) << c.cp;
    EXPECT_EQ(int(list.CodePage2ID(c.cp)), int(c.id)) << c.cp;
  }
  EXPECT_EQ(list.Charset2CodePage("UTF-16"), 1200);
  EXPECT_EQ(list.Charset2CodePage("windowslatin1"), 1252);
  EXPECT_EQ(list.Charset2CodePage("WINDOWSCYRILLIC"), 1251);
  EXPECT_EQ(list.Charset2CodePage("Neutral"), 0);
  EXPECT_EQ(list.Charset2CodePage(""), 0);
  // Every row is found again from its name, and only the last two are EFAL-only.
  for (int i = 0; i < list.Count(); ++i) {
    const TCharSet& row = list.GetItem(i);
    EXPECT_EQ(list.Charset2CodePage(list.CodePage2Charset(row.codepage)), row.codepage);
    EXPECT_EQ(row.EFALonly, i >= 34) << i;
  }
  EXPECT_EQ(list.GetItem(0).codepage, 1252);
  EXPECT_EQ(list.GetItem(35).codepage, 1200);
}

TEST(Charset, LanguageDriverTable) {
  EXPECT_EQ(LanguageDriver2CodePage(0x57), 1252);
  EXPECT_EQ(LanguageDriver2CodePage(0x05), 0);
  EXPECT_EQ(LanguageDriver2CodePage(0x00), 0);
  EXPECT_EQ(CodePage2LanguageDriver(1252), 0x03);
  EXPECT_EQ(CodePage2LanguageDriver(850), 0x02);
  EXPECT_EQ(CodePage2LanguageDriver(1257), 0);
  EXPECT_EQ(CodePage2LanguageDriver(0), 0);
  EXPECT_EQ(CodePage2LanguageDriver(1250), 0x9B);
  EXPECT_EQ(CodePage2LanguageDriver(932), 0x13);
  int assigned = 0;
  std::map<uint16_t, int> bytesPerPage;
  for (int b = 0; b < 256; ++b) {
    uint16_t cp = LanguageDriver2CodePage(uint8_t(b));
    if (cp == 0) continue;
    ++assigned;
    ++bytesPerPage[cp];
    EXPECT_LE(int(CodePage2LanguageDriver(cp)), b);  // the reverse lookup gives the smallest byte
  }
  EXPECT_EQ(assigned, 76);
  EXPECT_EQ(bytesPerPage[437], 13);
  EXPECT_EQ(bytesPerPage[850], 14);
  EXPECT_EQ(bytesPerPage.size(), 31u);
  const TCodePageDBFList& dbf = CodePageDBFList();
  ASSERT_EQ(dbf.Count(), 27);
  EXPECT_EQ(dbf.GetItem(0), 1252);
  EXPECT_EQ(dbf.GetItem(26), 10029);
  for (int32_t i = 0; i < dbf.Count(); ++i) EXPECT_NE(CodePage2LanguageDriver(dbf.GetItem(i)), 0) << dbf.GetItem(i);
}

// Every page the tables name converts, except 620 and 895, which raise.
TEST(Charset, EveryNamedPageConverts) {
  std::set<uint16_t> pages;
  for (int32_t i = 0; i < CharSetList().Count(); ++i) pages.insert(CharSetList().GetItem(i).codepage);
  for (int32_t i = 0; i < CodePageDBFList().Count(); ++i) pages.insert(CodePageDBFList().GetItem(i));
  for (int b = 0; b < 256; ++b)
    if (uint16_t cp = LanguageDriver2CodePage(uint8_t(b))) pages.insert(cp);
  EXPECT_EQ(pages.size(), 47u);
  for (uint16_t cp : pages) {
    if (cp == 620 || cp == 895) {
      EXPECT_FALSE(IsCodePageSupported(cp));
      EXPECT_THROW(CodePageToString("abc", cp), Exception) << cp;
      EXPECT_THROW(StringToCodePage("abc", cp), Exception) << cp;
      continue;
    }
    EXPECT_TRUE(IsCodePageSupported(cp)) << cp;
    EXPECT_EQ(CodePageToString(StringToCodePage("Road 12", cp), cp), "Road 12") << cp;
  }
}
