#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "foundation/kovra_csvfiles.h"
#include "foundation/kovra_types.h"
#include "support/temp_dir_test.h"

using namespace kovra;
namespace fs = std::filesystem;

namespace {

using Fields = std::vector<std::string>;

struct SplitCase {
  std::string text;
  Fields expected;
};

class CsvDir : public kovra::testsupport::TTempDirTest {};

}  // namespace

// Python's csv module treats blanks differently, so the table is the oracle.
TEST(SplitCommaText, Table) {
  using namespace std::string_literals;
  const std::vector<SplitCase> cases = {
      {"1, \"x, y\",,z", {"1", "x, y", "", "z"}},
      {"a b", {"a", "b"}},
      {"a,", {"a", ""}},
      {"a, ", {"a"}},  // the comma is not the last character
      {"", {}},
      {"   \t ", {}},
      {"\"a\"b", {"a", "b"}},  // text after a closing quote starts a field
      {"\"\"\"\"", {"\""}},
      {"\"\"", {""}},
      {"\"abc, d", {"abc, d"}},  // unclosed quote runs to the end
      {"\"say \"\"hi\"\"\",2", {"say \"hi\"", "2"}},
      {"a\0b,c"s, {"a\0b"s, "c"}},  // NUL is an ordinary character
      {",a", {"", "a"}},
      {"a,,", {"a", "", ""}},
      {"  x  ,  y  ", {"x", "y"}},
      {"a\tb\rc", {"a", "b", "c"}},
      {"\"a b\" \"c\"", {"a b", "c"}},
      {"Stra\xC3\x9F" "e,\"K\xC3\xB6ln\"", {"Stra\xC3\x9F" "e", "K\xC3\xB6ln"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitCommaText(c.text), c.expected) << "text: " << c.text;
}

TEST(SplitCommaText, ReplacesItemsOfAReusedList) {
  Fields f = {"old1", "old2", "old3", "old4"};
  SplitCommaText("a,b", f);
  EXPECT_EQ(f, (Fields{"a", "b"}));
  SplitCommaText("", f);
  EXPECT_TRUE(f.empty());
  SplitCommaText("x,y,z", f);
  EXPECT_EQ(f, (Fields{"x", "y", "z"}));
}

// ".csv" tables: only commas separate, so blanks inside a field stay.
TEST(SplitCsvText, Table) {
  using namespace std::string_literals;
  const std::vector<SplitCase> cases = {
      {"7,Main Street,2", {"7", "Main Street", "2"}},
      {"1, \"x, y\",,z", {"1", "x, y", "", "z"}},
      {"  a b  ,  c  ", {"a b", "c"}},  // blanks around a field are dropped
      {"\" a \" ,b", {" a ", "b"}},     // quoted blanks are kept
      {"a,", {"a", ""}},
      {"a, ", {"a", ""}},
      {",a", {"", "a"}},
      {"", {}},
      {"   \t ", {}},
      {"\"a\"b,c", {"ab", "c"}},  // text after a closing quote stays in the field
      {"\"say \"\"hi\"\"\",2", {"say \"hi\"", "2"}},
      {"\"abc, d", {"abc, d"}},  // unclosed quote runs to the end
      {"a\tb,c d", {"a\tb", "c d"}},
      {"a\0b,c"s, {"a\0b"s, "c"}},
  };
  for (const auto& c : cases) {
    Fields f = {"old"};
    SplitCsvText(c.text, f);
    EXPECT_EQ(f, c.expected) << "text: " << c.text;
  }
}

// A sequence of files splits each line by its own file's rule: ".csv" at
// commas only, other files (".mid", text files) by the comma-text rule.
TEST_F(CsvDir, CsvFilesKeepBlanksInsideFields) {
  const std::string line = "1,Main Street,\"Kings Road\",5\r\n";
  TCSVFiles csv(65001);
  csv.Add(std::vector<std::string>{Make("roads.csv", line), Make("roads.mid", line), Make("ROADS.CSV", line)});
  csv.Open();
  Fields f;
  csv.ReadLine(f);
  EXPECT_EQ(f, (Fields{"1", "Main Street", "Kings Road", "5"}));
  csv.ReadLine(f);
  EXPECT_EQ(f, (Fields{"1", "Main", "Street", "Kings Road", "5"}));
  std::string name;
  csv.Read(1, name);
  EXPECT_EQ(name, "Main Street");
  EXPECT_TRUE(csv.Eof());
}

TEST_F(CsvDir, SkipsEmptyFilesAndReadsAcrossFiles) {
  TCSVFiles csv(65001);
  csv.Add(Make("empty.csv", ""));
  csv.Add(std::vector<std::string>{Make("two.csv", "a\r\nb\r\n"), Make("empty2.csv", ""), Make("one.csv", "c")});
  csv.Open();
  EXPECT_EQ(csv.Size(), 6 + 1);
  EXPECT_EQ(std::make_pair(csv.LineFileIndex(), csv.LineNumber()), std::make_pair(-1, int64_t(0)));
  std::vector<std::string> lines;
  // Where each line came from: list index and line number in its file.
  std::vector<std::pair<int32_t, int64_t>> places;
  int64_t last = -1;
  while (!csv.Eof()) {
    lines.push_back(csv.ReadLine());
    places.emplace_back(csv.LineFileIndex(), csv.LineNumber());
    EXPECT_GT(csv.Position(), last) << "after line " << lines.back();
    last = csv.Position();
  }
  EXPECT_EQ(lines, (Fields{"a", "b", "c"}));
  EXPECT_EQ(places, (std::vector<std::pair<int32_t, int64_t>>{{1, 1}, {1, 2}, {3, 1}}));
  EXPECT_TRUE(csv.Eof());
  EXPECT_EQ(csv.ReadLine(), "");
  // Past the end: the next line of the last file.
  EXPECT_EQ(std::make_pair(csv.LineFileIndex(), csv.LineNumber()), std::make_pair(3, int64_t(2)));
  std::string s = "x";
  csv.Read(0, s);
  EXPECT_EQ(s, "");
  int64_t v = 7;
  csv.Read(0, v);
  EXPECT_EQ(v, 0);
  EXPECT_TRUE(csv.Eof());
}

TEST_F(CsvDir, AllFilesEmptyIsEofAtOnceAndStays) {
  TCSVFiles csv(0);
  csv.Add(Make("e1.csv", ""));
  csv.Add(Make("e2.csv", ""));
  csv.Open();
  EXPECT_TRUE(csv.Eof());
  EXPECT_EQ(csv.ReadLine(), "");
  EXPECT_TRUE(csv.Eof());
  EXPECT_EQ(std::make_pair(csv.LineFileIndex(), csv.LineNumber()), std::make_pair(1, int64_t(1)));
}

TEST_F(CsvDir, SizeIsTheSumOfTheFileSizes) {
  TCSVFiles csv(1252);
  csv.Add(Make("a.csv", std::string(99, 'x') + "\n"));
  csv.Add(Make("b.csv", ""));
  csv.Add(Make("c.csv", std::string(49, 'y') + "\n"));
  csv.Open();
  EXPECT_EQ(csv.Size(), 150);
}

TEST_F(CsvDir, PositionGrowsWithEveryLineOverLfFiles) {
  TCSVFiles csv(65001);
  csv.Add(Make("a.csv", "a\nb\n"));
  csv.Add(Make("b.csv", "c\nd\n"));
  csv.Open();
  int64_t last = csv.Position();
  EXPECT_EQ(last, 0);
  for (int i = 0; i < 4; ++i) {
    csv.ReadLine();
    EXPECT_GT(csv.Position(), last);
    last = csv.Position();
  }
  EXPECT_TRUE(csv.Eof());
}

TEST_F(CsvDir, MissingFileRaisesAtOpenWithTheAbsolutePath) {
  TCSVFiles csv(65001);
  csv.Add(Make("a.csv", "1\n"));
  std::string missing = (dir / "missing.csv").string();
  csv.Add(missing);
  try {
    csv.Open();
    FAIL() << "no error";
  } catch (const EFOpenError& e) {
    EXPECT_NE(std::string(e.what()).find("Cannot open file \"" + fs::absolute(missing).string() + "\"."),
              std::string::npos)
        << e.what();
  }
}

TEST_F(CsvDir, TypedReadsConsumeOneLineEach) {
  TCSVFiles csv(65001);
  csv.Add(Make("t.csv",
               "a,b,c\n"           // Read(3) string -> ""
               "x,\"y z\",w\n"     // Read(1) string
               " -42,$1F\n"        // Int64 fields 0 and 1
               "0x10\n"            // hex
               "65535\n"           // Word
               "65536\n"           // Word out of range
               "-1\n"              // Word out of range
               "255\n"             // Byte
               "300\n"             // Byte out of range
               "12x\n"             // not an integer
               "9223372036854775808\n"  // beyond Int64
               "-9223372036854775808\n"
               "a,b\n"             // negative index
               "after\n"));
  csv.Open();
  std::string s = "keep";
  csv.Read(3, s);
  EXPECT_EQ(s, "");
  csv.Read(1, s);
  EXPECT_EQ(s, "y z");
  int64_t i = 0;
  csv.Read(0, i);
  EXPECT_EQ(i, -42);
  csv.Read(0, i);
  EXPECT_EQ(i, 16);
  uint16_t w = 0;
  csv.Read(0, w);
  EXPECT_EQ(w, 65535);
  try {
    csv.Read(0, w);
    FAIL();
  } catch (const EOutOfRange& e) {
    EXPECT_STREQ(e.what(), "Value 65536 is out of range (0..65535)");
  }
  try {
    csv.Read(0, w);
    FAIL();
  } catch (const EOutOfRange& e) {
    EXPECT_STREQ(e.what(), "Value -1 is out of range (0..65535)");
  }
  EXPECT_EQ(w, 65535);
  uint8_t b = 0;
  csv.Read(0, b);
  EXPECT_EQ(b, 255);
  try {
    csv.Read(0, b);
    FAIL();
  } catch (const EOutOfRange& e) {
    EXPECT_STREQ(e.what(), "Value 300 is out of range (0..255)");
  }
  try {
    csv.Read(0, i);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'12x' is not a valid integer value");
  }
  EXPECT_THROW(csv.Read(0, i), EConvertError);
  csv.Read(0, i);
  EXPECT_EQ(i, INT64_MIN);
  try {
    csv.Read(-1, s);
    FAIL();
  } catch (const EOutOfRange&) {
    FAIL() << "wrong kind";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (-1)");
  }
  csv.Read(0, s);  // every failed read above consumed its line
  EXPECT_EQ(s, "after");
  EXPECT_TRUE(csv.Eof());
}

TEST_F(CsvDir, IntegerTextTable) {
  struct Case {
    std::string text;
    bool ok;
    int64_t value;
  };
  const std::vector<Case> cases = {
      {"0", true, 0},          {"  7", true, 7},        {"+7", true, 7},
      {"-0", true, 0},         {"$ff", true, 255},      {"-$10", true, -16},
      {"0XAb", true, 171},     {"9223372036854775807", true, INT64_MAX},
      {"7 ", false, 0},        {"", false, 0},          {" ", false, 0},
      {"-", false, 0},         {"$", false, 0},         {"0x", false, 0},
      {"1e3", false, 0},       {"1.0", false, 0},       {"\t7", false, 0},
      {"$8000000000000000", false, 0},
  };
  std::string text;
  for (const auto& c : cases) text += "\"" + c.text + "\"\n";
  TCSVFiles csv(65001);
  csv.Add(Make("n.csv", text));
  csv.Open();
  for (const auto& c : cases) {
    int64_t v = -99;
    if (c.ok) {
      EXPECT_NO_THROW(csv.Read(0, v)) << c.text;
      EXPECT_EQ(v, c.value) << c.text;
    } else {
      EXPECT_THROW(csv.Read(0, v), EConvertError) << "'" << c.text << "'";
    }
  }
  EXPECT_TRUE(csv.Eof());
}

TEST_F(CsvDir, ReadZ) {
  TCSVFiles csv(65001);
  csv.Add(Make("z.csv", "3,-9\n0,-10\n1\nx,2\n5,6\n"));
  csv.Open();
  int32_t z1 = 99, z2 = 99;
  csv.Read_Z(0, 1, z1, z2);
  EXPECT_EQ(z1, 3);
  EXPECT_EQ(z2, -9);
  try {
    csv.Read_Z(0, 1, z1, z2);
    FAIL();
  } catch (const EOutOfRange& e) {
    EXPECT_STREQ(e.what(), "Z-levels of out range (-9..9)");
  }
  EXPECT_EQ(z1, 0);  // stored before the range test
  EXPECT_EQ(z2, -10);
  try {
    csv.Read_Z(0, 1, z1, z2);
    FAIL();
  } catch (const EOutOfRange&) {
    FAIL() << "wrong kind";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Invalid fields for Z-levels defined");
  }
  EXPECT_THROW(csv.Read_Z(0, 1, z1, z2), EConvertError);
  EXPECT_THROW(csv.Read_Z(-1, 1, z1, z2), Exception);
  EXPECT_TRUE(csv.Eof());
}
