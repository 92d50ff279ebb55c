// The import tab's file work without widgets: file-set checks on byte-made
// fixtures, the MID line count against the text reader, the Scan of MIF
// headers and tables into the field lists.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "app/core/studio_functions.h"
#include "app/core/studio_import.h"
#include "foundation/kovra_textfilereader.h"
#include "platform/kovra_sysutils.h"
#include "support/gdal_readback.h"
#include "support/temp_dir_test.h"

using namespace studio;
using kovra::TGISField;

namespace {

std::string LE(uint64_t v, int width) {
  std::string s;
  for (int i = 0; i < width; ++i) s += char((v >> (8 * i)) & 0xFF);
  return s;
}
// A table header: a version byte, 3 date bytes, then the record count.
std::string Header(uint64_t count, int width) { return std::string("\x03\x7b\x01\x01", 4) + LE(count, width); }

class FileSetTest : public kovra::testsupport::TTempDirTest {
protected:
  std::string Shapefile(const std::string& shp, const std::string& shx, int64_t shxSize,
                        const std::string& dbf, const std::string& dbfBytes) {
    if (!shx.empty()) Make(shx, std::string(size_t(shxSize), '\0'));
    if (!dbf.empty()) Make(dbf, dbfBytes);
    return Make(shp, "shp");
  }
  std::string Tab(const std::string& tabText, int64_t idSize, const std::string& datBytes) {
    Make("t.id", std::string(size_t(idSize), '\0'));
    Make("t.dat", datBytes);
    return Make("t.tab", tabText);
  }
};

const std::string cClassicTab = "!table\n!version 300\n!charset WindowsLatin1\n\nDefinition Table\n  Type NATIVE Charset \"WindowsLatin1\"\n";
const std::string cNativeXTab = "!table\n!version 1500\n!charset Neutral\n\nDefinition Table\n  type nativex Charset \"Neutral\"\n";

}  // namespace

TEST_F(FileSetTest, ShapefileSetsCompareIndexEntriesWithTableRecords) {
  struct Case {
    const char* what;
    int64_t shxSize;
    std::string dbf;
    bool valid;
  } cases[] = {
      {"3 entries, 3 records", 100 + 24, Header(3, 4) + std::string(24, ' '), true},
      {"3 entries, 4 records", 100 + 24, Header(4, 4) + std::string(24, ' '), false},
      {"a partial entry is cut off", 100 + 27, Header(3, 4), true},
      {"empty: header only, no records", 100, Header(0, 4), true},
      {"SHX shorter than its header", 60, Header(0, 4), false},
      {"DBF shorter than its count", 100, std::string("\x03\x7b\x01\x01\x00", 5), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string shp = Shapefile("a.shp", "a.shx", c.shxSize, "a.dbf", c.dbf);
    EXPECT_EQ(FileSetValid(shp), c.valid);
  }
}

TEST_F(FileSetTest, CompanionsAreFoundWhateverTheirCase) {
  struct Case {
    const char *shp, *shx, *dbf;
  } cases[] = {{"a.shp", "a.shx", "a.dbf"}, {"B.SHP", "B.SHX", "B.DBF"}, {"C.SHP", "C.SHX", "c.dbf"},
               {"d.Shp", "D.shx", "d.DBF"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shp);
    EXPECT_TRUE(FileSetValid(Shapefile(c.shp, c.shx, 100 + 16, c.dbf, Header(2, 4))));
  }
}

TEST_F(FileSetTest, AMissingCompanionRaisesTheOpenErrorNamingIt) {
  const std::string noShx = Shapefile("n.shp", "", 0, "n.dbf", Header(0, 4));
  try {
    FileSetValid(noShx);
    ADD_FAILURE() << "no error";
  } catch (const kovra::EFOpenError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Cannot open file \"" + (dir / "n.shx").string() + "\". ", 0), 0u)
        << e.what();
  }
  const std::string noDbf = Shapefile("m.shp", "m.shx", 100, "", "");
  EXPECT_THROW(FileSetValid(noDbf), kovra::EFOpenError);
  Make("x.tab", cClassicTab);
  EXPECT_THROW(FileSetValid((dir / "x.tab").string()), kovra::EFOpenError) << "no .id, no .dat";
}

TEST_F(FileSetTest, TabSetsReadTheCountOfTheirLayout) {
  struct Case {
    const char* what;
    std::string tab;
    int64_t idSize;
    std::string dat;
    bool valid;
  } cases[] = {
      {"classic, 5 entries, 5 records", cClassicTab, 20, Header(5, 4) + std::string(40, ' '), true},
      {"classic, 5 entries, 6 records", cClassicTab, 20, Header(6, 4) + std::string(40, ' '), false},
      {"classic, DAT shorter than its count", cClassicTab, 0, std::string("\x03\x7b\x01", 3), false},
      {"NATIVEX, 10 entries, 10 records", cNativeXTab, 80, Header(10, 8) + std::string(40, ' '), true},
      {"NATIVEX, 10 entries, 9 records", cNativeXTab, 80, Header(9, 8) + std::string(40, ' '), false},
      // Read as a 32-bit count, 10 records would pass: the layout decides.
      {"NATIVEX read with the 64-bit count", cNativeXTab, 40, Header(10 + (uint64_t(1) << 32), 8), false},
      {"NATIVEX, DAT shorter than its count", cNativeXTab, 0, Header(0, 4), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(FileSetValid(Tab(c.tab, c.idSize, c.dat)), c.valid);
  }
}

TEST_F(FileSetTest, OnlyTheThreeInputKindsPass) {
  EXPECT_TRUE(FileSetValid(Make("r.MIF", "")));
  EXPECT_TRUE(FileSetValid(Make("r.mif", "")));
  EXPECT_FALSE(FileSetValid(Make("r.GPKG", "")));
  EXPECT_FALSE(FileSetValid(Make("r.dbf", Header(0, 4))));
  EXPECT_FALSE(FileSetValid(Make("noext", "")));
}

TEST_F(FileSetTest, CheckFileSetsNamesTheFirstInvalidFile) {
  const std::string good = Shapefile("g.shp", "g.shx", 108, "g.dbf", Header(1, 4));
  const std::string bad = Shapefile("h.shp", "h.shx", 108, "h.dbf", Header(2, 4));
  const std::string bad2 = Shapefile("i.shp", "i.shx", 60, "i.dbf", Header(0, 4));
  EXPECT_NO_THROW(CheckFileSets({good, good}));
  try {
    CheckFileSets({good, bad, bad2});
    ADD_FAILURE() << "no error";
  } catch (const kovra::Exception& e) {
    EXPECT_EQ(std::string(e.what()), "This file isn't valid: " + bad);
  }
}

TEST_F(FileSetTest, NativeXIsFoundOnAnyLineInAnyCase) {
  EXPECT_TRUE(IsNativeXTab(Make("a.tab", cNativeXTab)));
  EXPECT_TRUE(IsNativeXTab(Make("b.tab", "Type NATIVEX")));
  EXPECT_FALSE(IsNativeXTab(Make("c.tab", cClassicTab)));
  EXPECT_FALSE(IsNativeXTab(Make("d.tab", "type native x\r\n")));
  EXPECT_FALSE(IsNativeXTab(Make("e.tab", "")));
}

// ---------------------------------------------------------------------------
// CountTextLines

namespace {

// The lines the text reader returns, as the attribute import reads them.
int64_t ReaderLines(const std::string& file) {
  kovra::TTextFileReader r(file, 0);
  int64_t n = 0;
  while (!r.Eof()) {
    r.ReadLine();
    ++n;
  }
  return n;
}

class CountLinesTest : public kovra::testsupport::TTempDirTest {};

}  // namespace

TEST_F(CountLinesTest, CountsTheLinesTheReaderReturns) {
  struct Case {
    std::string text;
    int64_t lines;
  } cases[] = {
      {"", 0},          {"a", 1},          {"a\n", 1},           {"a\n\n", 1},       {"a\n\n\n", 2},
      {"\n\nx", 3},     {"a\rb", 2},       {"\n", 0},            {"\r\n", 0},        {"\r", 0},
      {"a\r\n", 1},     {"a\r\n\r\n", 1},  {"a\r\r\n", 1},       {"a\n\r", 1},       {"\n\r\n", 1},
      {"a\r\nb", 2},    {"\xC3\xA9\r", 1}, {"a,1\nb,2\nc,3\n", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.text));
    const std::string f = Make("t.mid", c.text);
    EXPECT_EQ(CountTextLines(f), c.lines);
    EXPECT_EQ(ReaderLines(f), c.lines) << "the reader's own count";
    for (int32_t buffer : {1, 2, 3, 7})
      EXPECT_EQ(CountTextLines(f, buffer), c.lines) << "buffer " << buffer;
  }
}

TEST_F(CountLinesTest, RandomFilesCountAsTheReaderReadsThem) {
  // Up to 200 bytes of a, é, CR and LF.
  // Made by python3 so the file contents do not come from the code under test.
  const std::string folder = (dir / "random").string();
  std::filesystem::create_directories(folder);
  const std::string script =
      "import random,sys\n"
      "r=random.Random(71)\n"
      "alpha=[b'a','\\u00e9'.encode(),b'\\r',b'\\n']\n"
      "for i in range(2000):\n"
      "  n=r.randrange(0,200)\n"
      "  open(sys.argv[1]+'/%04d.mid'%i,'wb').write(b''.join(r.choice(alpha) for _ in range(n)))\n";
  kovra::testsupport::WriteBytes((dir / "make.py").string(), script);
  std::string out;
  ASSERT_EQ(kovra::testsupport::RunCommand("python3 '" + (dir / "make.py").string() + "' '" + folder + "' 2>&1", &out),
            0)
      << out;
  int checked = 0;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    const std::string f = e.path().string();
    const int64_t lines = ReaderLines(f);
    // 7: every block byte by byte; 37 and the full buffer: sixteen at a time
    // with the pairs that straddle them.
    for (int32_t buffer : {7, 37, cCountBufferSize})
      ASSERT_EQ(CountTextLines(f, buffer), lines) << "buffer " << buffer << ": " << kovra::testsupport::ReadBytes(f);
    ++checked;
  }
  EXPECT_EQ(checked, 2000);
}

TEST_F(CountLinesTest, ACrLfSplitAcrossTheBufferCountsOnce) {
  // Lines of 9 bytes + CR LF, with one CR at byte 1,048,575 and its LF at
  // byte 1,048,576, the first byte of the second block.
  std::string text;
  const size_t split = size_t(cCountBufferSize);
  int64_t lines = 0;
  while (text.size() < 3 * split) {
    if (text.size() + 11 > split && text.size() < split) {
      text.append(split - 1 - text.size(), 'b');
      text += "\r\n";
    } else {
      text += "123456789\r\n";
    }
    ++lines;
  }
  ASSERT_EQ(text[split - 1], '\r');
  ASSERT_EQ(text[split], '\n');
  const std::string f = Make("big.mid", text);
  EXPECT_EQ(CountTextLines(f), lines);
  EXPECT_EQ(ReaderLines(f), lines);
}

TEST_F(CountLinesTest, AMissingFileRaisesTheOpenError) {
  EXPECT_THROW(CountTextLines((dir / "none.mid").string()), kovra::EFOpenError);
}

// ---------------------------------------------------------------------------
// Scan

namespace {

using enum TFieldListId;
using L = std::vector<TFieldEntry>;

class ScanTest : public kovra::testsupport::TTempDirTest {};

const TFieldListId cNumericLists[] = {flZFrom, flZTo, flAttribute, flLimit1, flLimit2, flLimit3, flExternalIDint};
const TFieldListId cTextLists[] = {flRoadname1, flRoadname2, flRoadname3, flExternalIDstring};

// Every numeric list holds Numeric, every text list Text.
void ExpectLists(const TFieldLists& lists, const L& numeric, const L& text) {
  for (TFieldListId id : cNumericLists) EXPECT_EQ(lists[size_t(id)], numeric) << cFieldListCaptions[size_t(id)];
  for (TFieldListId id : cTextLists) EXPECT_EQ(lists[size_t(id)], text) << cFieldListCaptions[size_t(id)];
}

}  // namespace

TEST(AddFieldToLists, EachFieldTypeGoesToItsLists) {
  struct Case {
    TGISField type;
    bool numeric, text;
  } cases[] = {
      {TGISField::gfChar, false, true},     {TGISField::gfInteger, true, false}, {TGISField::gfSmallInt, true, false},
      {TGISField::gfDecimal, true, false},  {TGISField::gfFloat, true, false},   {TGISField::gfDate, false, false},
      {TGISField::gfLogical, false, false}, {TGISField::gfTime, false, false},   {TGISField::gfDateTime, false, false},
      {TGISField::gfInt64, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.type));
    TFieldLists lists;
    AddFieldToLists(lists, "F", c.type, 4);
    const L one{{"F", 4}};
    ExpectLists(lists, c.numeric ? one : L{}, c.text ? one : L{});
  }
}

TEST_F(ScanTest, MifHeadersFillTheListsByColumnNumber) {
  struct Case {
    const char* what;
    std::string header;
    L numeric, text;
    uint16_t codePage;
  } cases[] = {
      {"skipped type keeps its number",
       "Version 300\nCharset \"WindowsLatin1\"\nDelimiter \",\"\nColumns 3\n  Name Char(30)\n  Born DateTime\n"
       "  Class Smallint\nData\n",
       {{"CLASS", 2}}, {{"NAME", 0}}, 1252},
      {"every mapped type, lower case, tabs and decimals",
       "version 300\ncharset \"WindowsCyrillic\"\ncolumns 7\n  a integer\n b decimal(10,2)\n  c float\n"
       "  d date\n  e logical\n  f char(5)\n  g smallint\ndata\n",
       {{"A", 0}, {"B", 1}, {"C", 2}, {"G", 6}}, {{"F", 5}}, 1251},
      {"no charset: the tables decide", "Version 300\nColumns 1\n  Id Integer\nData\n", {{"ID", 0}}, {}, 0},
      {"no COLUMNS: nothing listed", "Version 300\nCharset \"WindowsLatin1\"\nData\n", {}, {}, 1252},
      {"a line with both words counts as CHARSET",
       "Version 300\nCharset \"WindowsLatin2\" Columns 9\nColumns 1\n  Id Integer\n", {{"ID", 0}}, {}, 1250},
      {"a count past the end keeps the columns found", "Columns 5\n  Id Integer\n  Name Char(10)\n",
       {{"ID", 0}}, {{"NAME", 1}}, 0},
      {"a column line without a type is skipped", "Columns 3\n  Lonely\n  Id Integer\n\n", {{"ID", 1}}, {}, 0},
      {"an unknown charset", "Charset \"Klingon\"\nColumns 1\n  Id Integer\n", {{"ID", 0}}, {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const TScanResult r = ScanFiles(Make("s.mif", c.header));
    ExpectLists(r.Fields, c.numeric, c.text);
    EXPECT_EQ(r.CodePage, c.codePage);
    EXPECT_FALSE(r.NoPrj);
  }
}

TEST_F(ScanTest, AColumnCountThatIsNoIntegerRaisesTheConversionError) {
  try {
    ScanFiles(Make("x.MIF", "Version 300\nColumns x\n  Id Integer\n"));
    ADD_FAILURE() << "no error";
  } catch (const kovra::EConvertError& e) {
    EXPECT_STREQ(e.what(), "'X' is not a valid integer value");
  }
}

TEST_F(ScanTest, ShapefileTablesAreScannedThroughTheDbfAndThePrjIsLookedFor) {
  // ogr2ogr writes the table, so its layout does not come from our writer.
  const std::string src = Make("in.csv", "WKT,name,cls,speed,day\n\"LINESTRING (0 0,1 1)\",Main,3,4.5,2020/01/02\n");
  std::string out;
  const std::string made = (dir / "roads.shp").string();
  ASSERT_EQ(kovra::testsupport::RunCommand("ogr2ogr -f 'ESRI Shapefile' '" + made + "' '" + src +
                                               "' -oo GEOM_POSSIBLE_NAMES=WKT -oo KEEP_GEOM_COLUMNS=NO "
                                               "-oo AUTODETECT_TYPE=YES 2>&1",
                                           &out),
            0)
      << out;
  // The table keeps its lower-case name beside an upper-case input file.
  const std::string shp = (dir / "Roads.SHP").string();
  std::filesystem::rename(made, shp);
  std::filesystem::remove(dir / "roads.prj");
  TScanResult r = ScanFiles(shp);
  ExpectLists(r.Fields, {{"CLS", 1}, {"SPEED", 2}}, {{"NAME", 0}});
  EXPECT_TRUE(r.NoPrj);
  EXPECT_EQ(r.CodePage, 0);
  Make("ROADS.PRJ", "GEOGCS[]");
  EXPECT_FALSE(ScanFiles(shp).NoPrj);
}

TEST_F(ScanTest, AMissingTableRaisesTheOpenError) {
  EXPECT_THROW(ScanFiles(Make("lonely.shp", "")), kovra::EFOpenError);
  EXPECT_THROW(ScanFiles(Make("lonely.tab", cClassicTab)), kovra::EFOpenError);
}
