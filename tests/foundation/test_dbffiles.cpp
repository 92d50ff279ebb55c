#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <mutex>
#include <sstream>

#include "foundation/kovra_bitarray.h"
#include "foundation/kovra_dbffiles.h"

using namespace kovra;
namespace fs = std::filesystem;

namespace {

std::string RunCommand(const std::string& cmd) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int rc = pclose(p);
  EXPECT_EQ(rc, 0) << cmd;
  return out;
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

std::string FileBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << bytes;
}

// A fresh folder per call, removed when the test program ends.
std::string NewTempDir() {
  static std::vector<std::string> dirs;
  static bool registered = false;
  if (!registered) {
    registered = true;
    std::atexit([] {
      std::error_code ec;
      for (auto& d : dirs) fs::remove_all(d, ec);
    });
  }
  std::string templ = (fs::temp_directory_path() / "kovra_dbf_XXXXXX").string();
  char* d = mkdtemp(templ.data());
  if (!d) throw std::runtime_error("mkdtemp failed");
  dirs.push_back(d);
  return d;
}

// The python-built tables, made once per test program.
const std::string& Fixtures() {
  static std::string dir;
  static std::once_flag once;
  std::call_once(once, [] {
    dir = NewTempDir();
    RunCommand("python3 " + Quote(std::string(KOVRA_TEST_SCRIPTS_DIR) + "/dbffiles_fixtures.py") + " " +
               Quote(dir));
  });
  return dir;
}

std::string Fx(const std::string& name) { return Fixtures() + "/" + name; }

// Copies a fixture table and its companions into a fresh folder (for writes).
std::string CopyFixture(const std::string& name) {
  std::string dir = NewTempDir();
  std::string stem = fs::path(name).stem().string();
  for (auto& e : fs::directory_iterator(Fixtures()))
    if (e.path().stem().string() == stem) fs::copy_file(e.path(), fs::path(dir) / e.path().filename());
  return dir + "/" + name;
}

template <typename F>
std::string ErrorOf(F&& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

// ogrinfo -al -q, record by record: field name (upper-case) -> {type, value}.
using OgrRecord = std::map<std::string, std::pair<std::string, std::string>>;
std::vector<OgrRecord> OgrRecords(const std::string& path) {
  std::vector<OgrRecord> recs;
  std::istringstream in(RunCommand("ogrinfo -al -q " + Quote(path)));
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("OGRFeature(", 0) == 0) {
      recs.emplace_back();
      continue;
    }
    if (recs.empty() || line.size() < 3 || line[0] != ' ' || line[2] == ' ') continue;
    size_t lp = line.find(" ("), rp = line.find(") = ");
    if (lp == std::string::npos || rp == std::string::npos) continue;
    std::string name = line.substr(2, lp - 2);
    for (auto& c : name) c = char(std::toupper((unsigned char)c));
    recs.back()[name] = {line.substr(lp + 2, rp - lp - 2), line.substr(rp + 4)};
  }
  return recs;
}

// dbfdump -r -m: per record, field name -> trimmed raw text.
std::vector<std::map<std::string, std::string>> DbfDump(const std::string& path) {
  std::vector<std::map<std::string, std::string>> recs;
  std::istringstream in(RunCommand("dbfdump -r -m " + Quote(path)));
  std::string line;
  auto trim = [](std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    while (!s.empty() && s.front() == ' ') s.erase(0, 1);
    return s;
  };
  while (std::getline(in, line)) {
    if (line.rfind("Record: ", 0) == 0) {
      recs.emplace_back();
      continue;
    }
    size_t c = line.find(": ");
    if (recs.empty() || c == std::string::npos) continue;
    recs.back()[line.substr(0, c)] = trim(line.substr(c + 2));
  }
  return recs;
}

std::string Digits(const std::string& s) {
  std::string r;
  for (char c : s)
    if (c >= '0' && c <= '9') r.push_back(c);
  return r;
}

void ExpectRelNear(double expected, double actual, const std::string& what) {
  double tol = std::max(std::fabs(expected), 1.0) * 1e-12;
  EXPECT_NEAR(actual, expected, tol) << what;
}

// Every field of every record of a table equals what ogrinfo shows.
void CompareWithOgr(const std::string& path, const std::string& ogrPath, int expectedRecords) {
  SCOPED_TRACE(path);
  std::vector<OgrRecord> ogr = OgrRecords(ogrPath);
  ASSERT_EQ(int(ogr.size()), expectedRecords);
  TDbfFile t(path, 0);
  t.Open(false);
  ASSERT_EQ(t.RecordCount(), expectedRecords);
  ASSERT_GT(t.FieldCount(), 0);
  for (int r = 1; r <= expectedRecords; ++r) {
    for (int i = 0; i < t.FieldCount(); ++i) {
      Tdbffield f = t.FieldInfo(i);
      std::string what = f.Name + " of record " + std::to_string(r);
      auto it = ogr[size_t(r - 1)].find(f.Name);
      std::string text = t.ReadString(i, r);
      if (it == ogr[size_t(r - 1)].end() || it->second.second == "(null)") {
        // empty values: blanks, a numeric null written as '*', a null date as zeros
        bool nullText = text.empty() || text.find_first_not_of('*') == std::string::npos ||
                        (f.FieldType == gfDate && text == "00000000");
        EXPECT_TRUE(nullText) << what << ": " << text;
        continue;
      }
      const std::string& type = it->second.first;
      const std::string& value = it->second.second;
      if (type == "Integer" || type == "Integer64") {
        EXPECT_EQ(t.ReadInteger(i, r), std::stoll(value)) << what;
        EXPECT_EQ(text, value) << what;
      } else if (type == "Real") {
        ExpectRelNear(std::strtod(value.c_str(), nullptr), t.ReadFloat(i, r), what);
      } else if (type == "String") {
        // text fields are read trimmed of blanks
        size_t b = value.find_first_not_of(' '), e = value.find_last_not_of(' ');
        EXPECT_EQ(text, b == std::string::npos ? "" : value.substr(b, e - b + 1)) << what;
      } else if (type == "Date" || type == "Time" || type == "DateTime") {
        // ogrinfo leaves out zero milliseconds; our text always has them
        std::string want = Digits(value);
        if (type != "Date" && value.find('.') == std::string::npos) want += "000";
        EXPECT_EQ(text, want) << what;
      } else {
        ADD_FAILURE() << "unexpected type " << type << " for " << what;
      }
    }
  }
}

}  // namespace

// ---------------------------------------------------------------------------

TEST(DbfFiles, TablesWrittenByOgrReadAsOgrinfoShows) {
  std::string dir = NewTempDir();
  WriteFile(dir + "/t.csv",
            "id,r,d,s,dt,tm,dtm,cy\n"
            "1,1.5,12.25,hello,2024-03-05,13:45:30.250,2024-03-05 13:45:30.250,Привет\n"
            "-7,-21250000000,-3.5,\"with, comma\",1999-12-31,00:00:00,1999-12-31 23:59:59,Ёж ёж\n"
            "2147483647,123456.789012345,99999.99,x,1900-01-01,23:59:59.999,2000-02-29 12:00:00,Щ\n"
            "-2147483648,-0.000123456789012345,-9999.99,  padded  ,2100-12-31,01:02:03,1970-01-01 00:00:00,я\n"
            ",,,,,,,\n");
  WriteFile(dir + "/t.csvt", "Integer,Real,Real(8.2),String(20),Date,Time,DateTime,String(12)\n");
  std::string csv = Quote(dir + "/t.csv");
  RunCommand("ogr2ogr -f 'MapInfo File' " + Quote(dir + "/m.tab") + " " + csv + " -lco ENCODING=CP1251 2>&1");
  RunCommand("ogr2ogr -f 'ESRI Shapefile' " + Quote(dir + "/s1251.shp") + " " + csv +
             " -lco ENCODING=CP1251 -mapFieldType Time=String 2>&1");
  RunCommand("ogr2ogr -f 'ESRI Shapefile' " + Quote(dir + "/s8.shp") + " " + csv +
             " -lco ENCODING=UTF-8 -mapFieldType Time=String 2>&1");
  ASSERT_EQ(FileBytes(dir + "/s8.cpg"), "UTF-8");
  CompareWithOgr(dir + "/m.dat", dir + "/m.tab", 5);
  CompareWithOgr(dir + "/s1251.dbf", dir + "/s1251.dbf", 5);
  CompareWithOgr(dir + "/s8.dbf", dir + "/s8.dbf", 5);

  TDbfFile m(dir + "/m.dat", 0);
  m.Open(false);
  EXPECT_EQ(m.FieldInfo(m.FindField("tm")).FieldType, gfTime);
  EXPECT_EQ(m.FieldInfo(m.FindField("dtm")).FieldType, gfDateTime);
  EXPECT_EQ(m.FieldInfo(m.FindField("D")).FieldType, gfDecimal);
  EXPECT_EQ(m.ReadString(m.FindField("cy"), 2), "Ёж ёж");
}

TEST(DbfFiles, PartTableReads) {
  TDbfFile t(Fx("part.dbf"), 0);
  t.Open(false);
  ASSERT_EQ(t.FieldCount(), 2);  // start of data 97
  EXPECT_EQ(t.RecordCount(), 4);
  EXPECT_EQ(t.FindField("num"), 0);
  EXPECT_EQ(t.FindField("Dec"), 1);
  EXPECT_EQ(t.FindField("nope"), -1);
  Tdbffield f;
  ASSERT_TRUE(t.FieldInfo(1, f));
  EXPECT_EQ(f.Name, "DEC");
  EXPECT_EQ(f.FieldType, gfDecimal);
  EXPECT_EQ(f.Width, 6);
  EXPECT_EQ(f.decimals, 1);
  EXPECT_EQ(f.Pos, 7u);
  EXPECT_DOUBLE_EQ(f.Max, 9999.9);
  EXPECT_DOUBLE_EQ(f.Min, -999.9);
  Tdbffield untouched;
  untouched.Name = "KEEP";
  EXPECT_FALSE(t.FieldInfo(2, untouched));
  EXPECT_FALSE(t.FieldInfo(-1, untouched));
  EXPECT_EQ(untouched.Name, "KEEP");

  // blank numeric without decimals: strict read raises, lenient read gives 0
  EXPECT_THROW(t.ReadInteger(0, 1), EConvertError);
  EXPECT_EQ(t.ReadFloat(0, 1), 0.0);
  EXPECT_EQ(t.ReadInteger(1, 1), 12);  // "  12.5", halves to even
  EXPECT_EQ(t.ReadInteger(1, 2), 14);  // "  13.5"
  EXPECT_EQ(t.ReadInteger(0, 2), 42);
  EXPECT_EQ(t.ReadFloat(1, 3), 1.0);   // "1,5": parsing stops at the comma
  EXPECT_EQ(t.ReadInteger(1, 3), 1);
  EXPECT_EQ(ErrorOf([&] { t.ReadInteger(0, 3); }), "'1,5' is not a valid integer value");
  EXPECT_EQ(t.ReadInteger(0, 4), -17);
  EXPECT_EQ(t.ReadFloat(1, 4), -0.5);
  EXPECT_EQ(t.ReadString(1, 2), "13.5");

  EXPECT_FALSE(t.IsDeleted(1));
  EXPECT_TRUE(t.IsDeleted(2));  // deleted records read normally
  EXPECT_EQ(t.ReadInteger(0, 2), 42);

  // outside the valid range: nothing
  for (int64_t rec : {0, -1, 5}) {
    EXPECT_EQ(t.ReadString(0, rec), "");
    EXPECT_EQ(t.ReadInteger(1, rec), 0);
    EXPECT_EQ(t.ReadFloat(1, rec), 0.0);
    EXPECT_FALSE(t.IsDeleted(rec));
  }
  EXPECT_EQ(t.ReadFloat(2, 1), 0.0);
  EXPECT_EQ(t.ReadFloat(-1, 1), 0.0);

  // no table before Open, none for another extension
  TDbfFile closed(Fx("part.dbf"), 0);
  EXPECT_EQ(closed.FindField("NUM"), -1);
  EXPECT_EQ(closed.ReadString(0, 1), "");
  TDbfFile other(Fx("part.tab"), 0);
  EXPECT_NO_THROW(other.Open(false));
  EXPECT_EQ(other.FieldCount(), 0);
}

TEST(DbfFiles, LenientNumbersAndOverflow) {
  std::string path = CopyFixture("part.dbf");
  struct Case {
    const char* text;
    double value;
  } cases[] = {{" +7.25", 7.25}, {"-1.5e2", -150}, {"1e", 1}, {"1.5E+1x", 15}, {"  .5", 0.5},
               {"abc", 0},        {"-", 0},        {"1e-999", 0}};
  for (const auto& c : cases) {
    std::string bytes = FileBytes(path);
    std::string text = c.text;
    text.resize(6, ' ');
    bytes.replace(97 + 7, 6, text);  // record 1, field DEC
    WriteFile(path, bytes);
    TDbfFile t(path, 0);
    t.Open(false);
    EXPECT_EQ(t.ReadFloat(1, 1), c.value) << c.text;
  }
  std::string bytes = FileBytes(path);
  bytes.replace(97 + 7, 6, "1E999 ");
  WriteFile(path, bytes);
  TDbfFile t(path, 0);
  t.Open(false);
  EXPECT_THROW(t.ReadFloat(1, 1), EOverflow);
  EXPECT_THROW(t.ReadInteger(1, 1), EOverflow);
  t.Close();
  // a strict read names the text in code page 437
  bytes.replace(97 + 1, 6, "  1\xE0" "2 ");
  WriteFile(path, bytes);
  t.Open(false);
  EXPECT_EQ(ErrorOf([&] { t.ReadInteger(0, 1); }), "'1\u03B12' is not a valid integer value");
  EXPECT_EQ(t.ReadFloat(0, 1), 1.0);
}

TEST(DbfFiles, CodePageSources) {
  // D0 96 is "Ж" in UTF-8, "Р–" in 1251, "Ð–" in 1252, "а" + U+0096 in ISO 8859-5.
  struct Case {
    const char* table;
    const char* cpg;  // nullptr: no .cpg
    uint16_t createCp;
    const char* expected;
  } cases[] = {
      {"cp_lang1251.dbf", nullptr, 0, "Р–"},
      {"cp_lang1252.dbf", nullptr, 0, "Ð–"},
      {"cp_nolang.dbf", nullptr, 0, "Ð–"},  // unassigned byte: ANSI 1252
      {"cp_lang1252.dbf", "1251", 0, "Р–"},  // the .cpg beats the language byte
      {"cp_lang1251.dbf", "1251", 1252, "Ð–"},  // the caller's code page beats both
      {"cp_lang1251.dbf", "UTF-8", 0, "Ж"},
      {"cp_lang1251.dbf", " utf8\r\n", 0, "Ж"},
      {"cp_lang1252.dbf", "CP1251", 0, "Р–"},
      {"cp_lang1252.dbf", "ANSI 1251", 0, "Р–"},
      {"cp_lang1252.dbf", "windows-1251", 0, "Р–"},
      {"cp_lang1252.dbf", "ISO 8859-5", 0, "а\u0096"},
      {"cp_lang1252.dbf", "ISO-8859-5", 0, "а\u0096"},
      {"cp_lang1252.dbf", "iso88595", 0, "а\u0096"},
      {"cp_lang1252.dbf", "8859-5", 0, "а\u0096"},
      {"cp_lang1252.dbf", "88595", 0, "а\u0096"},
      {"cp_lang1252.dbf", "65001", 0, "Ж"},
      {"cp_lang1251.dbf", "no such page", 0, "Ð–"},  // the .cpg is the only source: ANSI
      {"cp_lang1251.dbf", "", 0, "Ð–"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.table) + " / " + (c.cpg ? c.cpg : "(no cpg)"));
    std::string path = CopyFixture(c.table);
    if (c.cpg) WriteFile(fs::path(path).replace_extension(".CPG").string(), c.cpg);
    TDbfFile t(path, c.createCp);
    t.Open(false);
    EXPECT_EQ(t.ReadString(0, 1), c.expected);
    EXPECT_EQ(t.ReadString(0, 2), "");  // first byte zero
    EXPECT_EQ(t.ReadInteger(1, 1), 12);
  }
}

TEST(DbfFiles, ReopenDecidesTheCodePageAgain) {
  std::string path = CopyFixture("cp_lang1251.dbf");
  TDbfFile t(path, 0);
  t.Open(false);
  EXPECT_EQ(t.ReadString(0, 1), "Р–");
  t.Close();
  EXPECT_EQ(t.ReadString(0, 1), "");
  EXPECT_EQ(t.FieldCount(), 0);
  WriteFile(fs::path(path).replace_extension(".cpg").string(), "UTF-8");
  t.Open(false);
  EXPECT_EQ(t.ReadString(0, 1), "Ж");
}

TEST(DbfFiles, UnsupportedCodePageFailsAtFirstTextRead) {
  for (int cp : {620, 895}) {
    std::string path = CopyFixture("cp_lang" + std::to_string(cp) + ".dbf");
    const std::string before = FileBytes(path);
    TDbfFile t(path, 0);
    ASSERT_NO_THROW(t.Open(true));
    EXPECT_EQ(t.ReadInteger(1, 1), 12);
    EXPECT_EQ(t.ReadFloat(1, 2), 7.0);
    std::string message = Format("Code page %d is not supported", cp);
    EXPECT_EQ(ErrorOf([&] { t.ReadString(0, 1); }), message);
    EXPECT_EQ(ErrorOf([&] { t.WriteString(0, 1, "x"); }), message);
    EXPECT_EQ(t.ReadInteger(1, 2), 7);
    t.Close();
    EXPECT_EQ(FileBytes(path), before);
  }
}

TEST(DbfFiles, MalformedTablesAreRefusedAtOpen) {
  struct Case {
    const char* table;
    const char* message;  // %s: the path
  } cases[] = {
      {"short.dbf", "DBF file %s is truncated"},
      {"tiny.dbf", "DBF file %s is truncated"},
      {"negcount.dbf", "DBF file %s has an invalid header"},
      {"lowstart.dbf", "DBF file %s has an invalid header"},
      {"widefield.dbf", "Invalid field width in %s"},
      {"datlowstart.dat", "DBF file %s has an invalid header"},
      {"natnegwidth.dat", "Invalid field width in %s"},
      {"nattrunc.dat", "DBF file %s is truncated"},
      {"natzerorec.dat", "DBF file %s has an invalid header"},
      {"orphan.dat", "Corresponding TAB file is missing for DAT file %s"},
      {"badfieldcount.dat", "'X1' is not a valid integer value"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.table);
    std::string path = Fx(c.table);
    TDbfFile t(path, 0);
    EXPECT_EQ(ErrorOf([&] { t.Open(true); }), Format(c.message, path));
    EXPECT_EQ(t.FieldCount(), 0);
    EXPECT_EQ(t.RecordCount(), 0);
    EXPECT_EQ(t.FindField("A"), -1);
    EXPECT_EQ(t.ReadString(0, 1), "");
    EXPECT_NO_THROW(t.WriteString(0, 1, "zz"));
  }
  TDbfFile missing(Fixtures() + "/missing.dbf", 0);
  EXPECT_THROW(missing.Open(false), EFOpenError);
  // a truncated table is left as it was
  EXPECT_EQ(FileBytes(Fx("short.dbf")).size(), 114u);
}

// Header values far outside what a field can hold are computed with
// overflow, and a field that holds no byte refuses whole-column writes.
TEST(DbfFiles, DegenerateFieldsGiveErrorsNotOverflow) {
  const std::string dec = CopyFixture("natbigdec.dat");
  TDbfFile d(dec, 0);
  d.Open(true);
  EXPECT_EQ(d.FieldInfo(0).decimals, 2147483647);
  EXPECT_EQ(d.ReadString(1, 1), "aaaa");
  EXPECT_EQ(ErrorOf([&] { d.WriteFloat(0, 1, 0); }), "Value is out of bounds");
  d.Close();

  const std::string zero = CopyFixture("zerowidth.dbf");
  const std::string before = FileBytes(zero);
  TDbfFile z(zero, 0);
  z.Open(true);
  TBitArray bits(3);
  bits.SetBit(1, true);
  const std::string message = Format("Invalid field width in %s", zero);
  EXPECT_EQ(ErrorOf([&] { z.WriteIntegerArray(0, TIntegerArray{0, 1, 2}); }), message);
  EXPECT_EQ(ErrorOf([&] { z.WriteCostArray(0, TCostArray{0, 1, 2}); }), message);
  EXPECT_EQ(ErrorOf([&] { z.WriteBitArray(0, bits); }), message);
  EXPECT_EQ(ErrorOf([&] { z.WriteInteger(0, 1, 0); }), "Value is out of bounds");
  EXPECT_EQ(z.ReadString(1, 2), "cd");
  z.Close();
  EXPECT_EQ(FileBytes(zero), before);
}

// A table opened for reading refuses writes at once: accepted into the
// window, they would read back and then be lost at the flush unseen.
TEST(DbfFiles, WritesToATableOpenedForReadingRaiseAtOnce) {
  const std::string path = CopyFixture("write.dbf");
  const std::string before = FileBytes(path);
  {
    TDbfFile t(path, 0);
    t.Open(false);
    TBitArray bits(3);
    const std::function<void()> writes[] = {
        [&] { t.WriteInteger(1, 1, 42); },
        [&] { t.WriteFloat(4, 1, 1.5); },
        [&] { t.WriteBoolean(5, 1, true); },
        [&] { t.WriteString(3, 1, "x"); },
        [&] { t.WriteIntegerArray(1, TIntegerArray{0, 1}); },
        [&] { t.WriteCostArray(4, TCostArray{0, 1}); },
        [&] { t.WriteBitArray(5, bits); },
    };
    for (const auto& w : writes) {
      try {
        w();
        ADD_FAILURE() << "accepted";
      } catch (const EWriteError& e) {
        EXPECT_EQ(e.Message(), Format("DBF file %s is not open for writing", path));
      }
    }
    EXPECT_EQ(t.ReadInteger(1, 1), 0);
    EXPECT_EQ(t.ReadString(3, 1), "ABCDEFGHIJ");
    t.WriteInteger(1, 9, 42);  // outside the records: ignored as ever
  }
  EXPECT_EQ(FileBytes(path), before);
}

// A read the system fails while the table opens is reported, and the table
// stays closed (its streams freed once).
TEST(DbfFiles, FailingReadAtOpenRaises) {
  const std::string link = NewTempDir() + "/mem.dbf";
  fs::create_symlink("/proc/self/mem", link);
  TDbfFile t(link, 0);
  EXPECT_THROW(t.Open(false), EReadError);
  EXPECT_EQ(t.FieldCount(), 0);
  EXPECT_EQ(t.ReadString(0, 1), "");
}

TEST(DbfFiles, BacklinkAreaGivesNoPhantomFields) {
  TDbfFile t(Fx("backlink.dbf"), 0);
  t.Open(false);
  ASSERT_EQ(t.FieldCount(), 2);
  EXPECT_EQ(t.ReadString(0, 1), "xyz");
  EXPECT_EQ(t.ReadFloat(1, 1), 1.25);
  EXPECT_EQ(RunCommand("dbfdump -m " + Quote(Fx("backlink.dbf"))).find("xyz") != std::string::npos, true);
}

TEST(DbfFiles, NativexTable) {
  TDbfFile t(Fx("wide.dat"), 0);
  t.Open(false);
  ASSERT_EQ(t.FieldCount(), 9);
  ASSERT_EQ(t.RecordCount(), 2);
  Tdbffield f = t.FieldInfo(0);
  EXPECT_EQ(f.Name, "TITLE");
  EXPECT_EQ(f.Pos, 3u);  // after the flag and two bytes of null bits
  EXPECT_EQ(f.Width, 600);
  Tdbffield tail = t.FieldInfo(8);
  EXPECT_EQ(tail.Name, "TAIL");
  EXPECT_EQ(tail.Pos, 3u + 600 + 4 + 2 + 8 + 8 + 1 + 4 + 4);
  EXPECT_EQ(tail.Width, 69400);
  const TGISField types[] = {gfChar, gfInteger, gfSmallInt, gfInt64, gfFloat, gfLogical, gfDate, gfTime, gfChar};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(t.FieldInfo(i).FieldType, types[i]) << i;

  std::string zh;
  for (int i = 0; i < 290; ++i) zh += "Ж";
  EXPECT_EQ(t.ReadString(0, 1), zh + "end");  // UTF-8 from the type line's charset
  EXPECT_EQ(t.ReadString(0, 2), "ß" + std::string(597, 'x'));
  EXPECT_EQ(t.ReadString(8, 1), "tail-1");
  std::string omegas;
  for (int i = 0; i < 30000; ++i) omegas += "Ω";
  EXPECT_EQ(t.ReadString(8, 2), omegas);

  EXPECT_EQ(t.ReadInteger(1, 1), -123456);
  EXPECT_EQ(t.ReadInteger(2, 1), -300);
  EXPECT_EQ(t.ReadInteger(3, 1), -(int64_t(1) << 40) - 5);
  EXPECT_EQ(t.ReadInteger(3, 2), int64_t(1) << 62);
  EXPECT_EQ(t.ReadFloat(4, 1), 2.5e-7);
  EXPECT_EQ(t.ReadFloat(4, 2), -1e300);
  EXPECT_EQ(t.ReadInteger(4, 1), 0);
  EXPECT_THROW(t.ReadInteger(4, 2), EInvalidOp);  // beyond Int64
  EXPECT_EQ(t.ReadFloat(2, 2), 32767.0);
  EXPECT_EQ(ErrorOf([&] { t.ReadInteger(5, 1); }), "Field type is not supported");
  EXPECT_EQ(ErrorOf([&] { t.ReadFloat(6, 1); }), "Field type is not supported");

  // binary fields as text
  const char* text1[] = {nullptr, "-123456", "-300", "-1099511627781", "2.5E-7", "T", "20240229", "134530250"};
  const char* text2[] = {nullptr, "7", "32767", "4611686018427387904", "-1E300", "F", "19991231", "000000000"};
  for (int i = 1; i < 8; ++i) {
    EXPECT_EQ(t.ReadString(i, 1), text1[i]) << i;
    EXPECT_EQ(t.ReadString(i, 2), text2[i]) << i;
  }
}

TEST(DbfFiles, Utf16DatWritesAndReads) {
  std::string path = CopyFixture("u16.dat");
  // the .tab is found whatever the case of its extension
  fs::rename(fs::path(path).replace_extension(".tab"), fs::path(path).replace_extension(".TAB"));
  {
    TDbfFile t(path, 0);
    t.Open(true);
    EXPECT_EQ(t.ReadString(0, 1), "ABCDE");
    EXPECT_EQ(t.ReadString(0, 2), "\U0001F600xyz");
    EXPECT_EQ(t.ReadFloat(1, 2), -2.25);
    EXPECT_EQ(t.ReadInteger(1, 1), 2);  // 1.50 to even
    t.WriteString(0, 1, "AB");
    // five code units fit: the surrogate pair would be cut, so it is left out whole
    t.WriteString(0, 2, "abcd\U0001F600");
    EXPECT_EQ(t.ReadString(0, 1), "AB");
    t.Close();
  }
  std::string bytes = FileBytes(path);
  size_t rec1 = 32 + 64 + 1;
  EXPECT_EQ(bytes.substr(rec1 + 1, 10), std::string("A\0B\0\0\0\0\0\0\0", 10));
  EXPECT_EQ(bytes.substr(rec1 + 17 + 1, 10), std::string("a\0b\0c\0d\0\0\0", 10));
  TDbfFile t(path, 0);
  t.Open(false);
  EXPECT_EQ(t.ReadString(0, 1), "AB");
  EXPECT_EQ(t.ReadString(0, 2), "abcd");
}

TEST(DbfFiles, SingleFieldWritesAsDbfdumpAndOgrinfoShow) {
  std::string path = CopyFixture("write.dbf");
  {
    TDbfFile t(path, 0);
    t.Open(true);
    t.WriteFloat(1, 1, 99999);        // N(5): largest value
    t.WriteInteger(1, 2, -9999);      // N(5): smallest value
    t.WriteFloat(2, 1, 1.25);         // N(4,1): ties to even
    t.WriteInteger(2, 2, 7);
    t.WriteString(3, 1, "AB");        // over "ABCDEFGHIJ"
    t.WriteString(3, 2, "123456789012");
    t.WriteFloat(4, 1, -999999.99);
    t.WriteFloat(4, 2, 9999999.99);
    t.WriteBoolean(5, 1, true);
    t.WriteFloat(5, 2, 0.5);
    t.WriteFloat(5, 3, -1);
    t.Close();
  }
  auto dump = DbfDump(path);
  ASSERT_EQ(dump.size(), 5u);
  EXPECT_EQ(dump[0]["N5"], "99999");
  EXPECT_EQ(dump[1]["N5"], "-9999");
  EXPECT_EQ(dump[0]["N41"], "1.2");
  EXPECT_EQ(dump[1]["N41"], "7.0");
  EXPECT_EQ(dump[0]["TXT"], "AB");
  EXPECT_EQ(dump[1]["TXT"], "1234567890");
  EXPECT_EQ(dump[0]["N102"], "-999999.99");
  EXPECT_EQ(dump[1]["N102"], "9999999.99");
  EXPECT_EQ(dump[0]["L"], "T");
  EXPECT_EQ(dump[1]["L"], "T");
  EXPECT_EQ(dump[2]["L"], "F");
  auto ogr = OgrRecords(path);
  ASSERT_EQ(ogr.size(), 5u);
  EXPECT_EQ(ogr[0]["TXT"].second, "AB");
  EXPECT_EQ(ogr[0]["N5"].second, "99999");
  std::string bytes = FileBytes(path);
  EXPECT_EQ(bytes.substr(32 + 7 * 32 + 1 + 1 + 3 + 5 + 4, 10), "AB        ");
}

TEST(DbfFiles, RejectedWritesLeaveTheFileAsItWas) {
  std::string path = CopyFixture("write.dbf");
  const std::string before = FileBytes(path);
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  TDbfFile t(path, 0);
  t.Open(true);
  struct Case {
    const char* what;
    std::function<void()> write;
    const char* message;
  } cases[] = {
      {"123456 into N(5)", [&] { t.WriteFloat(1, 1, 123456); }, "Value is out of bounds"},
      {"-10000 into N(5)", [&] { t.WriteInteger(1, 1, -10000); }, "Value is out of bounds"},
      {"0.55 into N(3,2)", [&] { t.WriteFloat(0, 1, 0.55); }, "Value is out of bounds"},
      {"0 into N(3,2)", [&] { t.WriteInteger(0, 1, 0); }, "Value is out of bounds"},
      {"NaN into N(10,2)", [&] { t.WriteFloat(4, 1, nan); }, "Value is out of bounds"},
      {"inf into N(10,2)", [&] { t.WriteFloat(4, 1, inf); }, "Value is out of bounds"},
      {"NaN into L", [&] { t.WriteFloat(5, 1, nan); }, "Value is out of bounds"},
      {"1e7 into N(10,2)", [&] { t.WriteFloat(4, 1, 1e7); }, "Value is out of bounds"},
      {"integer into C", [&] { t.WriteInteger(3, 1, 5); }, "Field type is not supported"},
      {"float into D", [&] { t.WriteFloat(6, 1, 5); }, "Field type is not supported"},
      {"array with a bad entry at r = 3",
       [&] { t.WriteIntegerArray(1, TIntegerArray{0, 1, 2, 100000, 4, 5}); }, "Value is out of bounds"},
      {"cost array with NaN at r = 3",
       [&] { t.WriteCostArray(4, TCostArray{0, 1, 2, float(nan), 4, 5}); }, "Value is out of bounds"},
      {"cost array too wide for N(3,2)", [&] { t.WriteCostArray(0, TCostArray{0, 0.5f, 0.25f, 0.75f}); },
       "Value is out of bounds"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ErrorOf(c.write), c.message) << c.what;
  }
  // ignored: string into a numeric field, writes outside the range
  t.WriteString(1, 1, "12");
  t.WriteFloat(1, 0, 1);
  t.WriteFloat(1, 6, 1);
  t.WriteInteger(7, 1, 1);
  t.WriteString(-1, 1, "x");
  t.Close();
  EXPECT_EQ(FileBytes(path), before);
}

TEST(DbfFiles, ArrayWriters) {
  std::string path = CopyFixture("write.dbf");
  {
    TDbfFile t(path, 0);
    t.Open(true);
    t.WriteIntegerArray(1, TIntegerArray{999, 1, -2, 30, 400, 99999});
    t.WriteCostArray(4, TCostArray{0, 1.5f, -2.25f, 1e6f, 0.125f, -0.5f});
    t.WriteIntegerArray(5, TIntegerArray{0, 1, 0, 5, -5, 0});
    t.WriteCostArray(2, TCostArray{0, 1, 2});           // shorter: records 1 and 2
    t.WriteIntegerArray(3, TIntegerArray{0, 1, 2, 3, 4, 5});  // char field: nothing
    t.WriteIntegerArray(2, TIntegerArray{0, 1, 2, 3, 4, 5, 6, 7});  // beyond the records: not written
    t.Close();
  }
  auto dump = DbfDump(path);
  ASSERT_EQ(dump.size(), 5u);
  const char* n5[] = {"1", "-2", "30", "400", "99999"};
  const char* n102[] = {"1.50", "-2.25", "1000000.00", "0.12", "-0.50"};
  const char* l[] = {"T", "F", "T", "F", "F"};
  const char* n41[] = {"1.0", "2.0", "3.0", "4.0", "5.0"};
  for (int r = 0; r < 5; ++r) {
    EXPECT_EQ(dump[size_t(r)]["N5"], n5[r]) << r;
    EXPECT_EQ(dump[size_t(r)]["N102"], n102[r]) << r;
    EXPECT_EQ(dump[size_t(r)]["L"], l[r]) << r;
    EXPECT_EQ(dump[size_t(r)]["N41"], n41[r]) << r;
    EXPECT_EQ(dump[size_t(r)]["TXT"], "ABCDEFGHIJ") << r;
  }
  EXPECT_EQ(FileBytes(path).size(), FileBytes(Fx("write.dbf")).size());
}

TEST(DbfFiles, TextCutsNeverSplitACharacter) {
  struct Case {
    uint16_t cp;
    const char* text;
    const char* expectedRead;
    int usedBytes;
  } cases[] = {
      {65001, "ЖЖЖЖЖЖ", "ЖЖЖЖЖ", 10},
      {65001, "aЖЖЖЖЖ", "aЖЖЖЖ", 9},
      {932, "日本語日本語", "日本語日本", 10},
      {932, "a日本語日本", "a日本語日", 9},
      {1251, "Привет мир!", "Привет мир", 10},
      {1252, "Ж", "?", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::string path = CopyFixture("write.dbf");
    TDbfFile t(path, c.cp);
    t.Open(true);
    t.WriteString(3, 1, c.text);
    EXPECT_EQ(t.ReadString(3, 1), c.expectedRead);
    t.Close();
    std::string field = FileBytes(path).substr(32 + 7 * 32 + 1 + 1 + 3 + 5 + 4, 10);
    EXPECT_EQ(field.substr(size_t(c.usedBytes)), std::string(size_t(10 - c.usedBytes), ' '));
  }
}

TEST(DbfFiles, Utf16DbfPadsWithUtf16Blanks) {
  std::string path = CopyFixture("write.dbf");
  {
    TDbfFile t(path, 1200);
    t.Open(true);
    t.WriteString(3, 1, "AB");
    t.WriteString(3, 2, "abcd\U0001F600");  // the pair does not fit whole: left out
    EXPECT_EQ(t.ReadString(3, 1), "AB");
    EXPECT_EQ(t.ReadString(3, 2), "abcd");
    t.Close();
  }
  std::string bytes = FileBytes(path);
  const size_t txt = 32 + 7 * 32 + 1 + 1 + 3 + 5 + 4, reclen = 1 + 3 + 5 + 4 + 10 + 10 + 1 + 8;
  EXPECT_EQ(bytes.substr(txt, 10), std::string("A\0B\0 \0 \0 \0", 10));
  EXPECT_EQ(bytes.substr(txt + reclen, 10), std::string("a\0b\0c\0d\0 \0", 10));
}

TEST(DbfFiles, SequenceOfTables) {
  TDbfFiles s(0);
  EXPECT_EQ(s.FieldCount(), -1);
  EXPECT_EQ(s.RecordCount(), -1);
  s.Add(Fx("seq1.dbf"));
  s.Add(std::vector<std::string>{Fx("seq2.dbf")});
  s.Open();
  EXPECT_EQ(s.FieldCount(), 2);
  EXPECT_EQ(s.RecordCount(), 8);
  EXPECT_EQ(s.FindField("name"), 1);
  EXPECT_EQ(s.FieldInfo(1).Width, 8);
  EXPECT_EQ(s.ReadString(1, 3), "one3");
  EXPECT_EQ(s.ReadString(1, 4), "two1");  // record 1 of the second table
  EXPECT_EQ(s.ReadInteger(0, 4), 1);
  EXPECT_EQ(s.ReadFloat(0, 8), 5.0);
  EXPECT_EQ(s.ReadString(1, 9), "");
  EXPECT_EQ(s.ReadInteger(0, 9), 0);
  EXPECT_EQ(s.ReadFloat(0, 0), 0.0);

  TDbfFiles widths(0);
  widths.Add(std::vector<std::string>{Fx("seq1.dbf"), Fx("seq3.dbf")});
  ASSERT_NO_THROW(widths.Open());
  EXPECT_EQ(widths.ReadFloat(0, 4), 7.5);

  struct Case {
    const char* second;
    const char* message;
  } cases[] = {
      {"seqcount.dbf", "DBF files structure are different. Fields count of table %s is not the same as the first"},
      {"seqname.dbf", "DBF files structure are different. Names in table %s is not the same as the first"},
      {"seqtype.dbf", "DBF files structure are different. Fields types in table %s is not the same as the first"},
  };
  for (const auto& c : cases) {
    TDbfFiles bad(0);
    bad.Add(Fx("seq1.dbf"));
    bad.Add(Fx(c.second));
    try {
      bad.Open();
      ADD_FAILURE() << c.second;
    } catch (const EDifferentDBFFilesStructure& e) {
      EXPECT_EQ(std::string(e.what()), Format(c.message, Fx(c.second)));
    }
    EXPECT_EQ(bad.RecordCount(), -1);
    EXPECT_EQ(bad.ReadString(1, 1), "");
  }
  TDbfFiles none(0);
  EXPECT_EQ(ErrorOf([&] { none.Open(); }), "No table files given");
}

TEST(DbfFiles, InPlaceWritesToOgrTablesShowInOgrinfo) {
  std::string dir = NewTempDir();
  WriteFile(dir + "/t.csv",
            "id,r,d,s,cy\n1,1.5,12.25,hello,Привет\n2,2.5,-3.5,world,Ёж\n3,3.5,0,third,щи\n");
  WriteFile(dir + "/t.csvt", "Integer,Real,Real(8.2),String(10),String(6)\n");
  std::string csv = Quote(dir + "/t.csv");
  RunCommand("ogr2ogr -f 'MapInfo File' " + Quote(dir + "/m.tab") + " " + csv + " -lco ENCODING=CP1251 2>&1");
  RunCommand("ogr2ogr -f 'ESRI Shapefile' " + Quote(dir + "/s.shp") + " " + csv + " -lco ENCODING=UTF-8 2>&1");
  for (const char* name : {"m.dat", "s.dbf"}) {
    SCOPED_TRACE(name);
    std::string path = dir + "/" + name;
    {
      TDbfFile t(path, 0);
      t.Open(true);
      int id = t.FindField("ID"), r = t.FindField("R"), d = t.FindField("D"), s = t.FindField("S"),
          cy = t.FindField("CY");
      t.WriteInteger(id, 1, -42);
      t.WriteFloat(r, 1, -0.125);
      t.WriteFloat(d, 1, 12345.67);
      t.WriteString(s, 1, "AB");  // over "hello"
      t.WriteString(cy, 1, "Жук");
      t.WriteString(cy, 2, "Длинный");  // cut to the field's width
      t.WriteIntegerArray(id, TIntegerArray{0, -42, 7, 8});
      t.WriteCostArray(d, TCostArray{0, 12345.67f, 1.5f, -2.25f});
      EXPECT_THROW(t.WriteFloat(d, 2, 1e6), Exception);
      t.Close();
    }
    auto ogr = OgrRecords(fs::path(path).extension() == ".dat" ? dir + "/m.tab" : path);
    ASSERT_EQ(ogr.size(), 3u);
    EXPECT_EQ(ogr[0]["ID"].second, "-42");
    EXPECT_EQ(std::strtod(ogr[0]["R"].second.c_str(), nullptr), -0.125);
    EXPECT_EQ(std::strtod(ogr[0]["D"].second.c_str(), nullptr), 12345.67);
    EXPECT_EQ(ogr[0]["S"].second, "AB");
    EXPECT_EQ(ogr[0]["CY"].second, "Жук");
    EXPECT_EQ(ogr[1]["ID"].second, "7");
    EXPECT_EQ(ogr[2]["ID"].second, "8");
    EXPECT_EQ(std::strtod(ogr[1]["D"].second.c_str(), nullptr), 1.5);
    EXPECT_EQ(std::strtod(ogr[2]["D"].second.c_str(), nullptr), -2.25);
    EXPECT_EQ(ogr[1]["S"].second, "world");
    // cut to the field's width: one byte per character in 1251, two in UTF-8
    TDbfFile t(path, 0);
    t.Open(false);
    int32_t width = t.FieldInfo(t.FindField("CY")).Width;
    size_t chars = std::min<size_t>(7, size_t(std::string(name) == "m.dat" ? width : width / 2));
    EXPECT_EQ(ogr[1]["CY"].second, std::string("Длинный").substr(0, 2 * chars));
  }
  auto dump = DbfDump(dir + "/s.dbf");
  ASSERT_EQ(dump.size(), 3u);
  EXPECT_EQ(dump[0]["s"], "AB");
  EXPECT_EQ(dump[0]["id"], "-42");
}

TEST(DbfFiles, BinaryDatFieldWrites) {
  std::string path = CopyFixture("wide.dat");
  const double nan = std::numeric_limits<double>::quiet_NaN();
  {
    TDbfFile t(path, 0);
    t.Open(true);
    t.WriteInteger(1, 1, 2147483647);
    t.WriteFloat(1, 2, -2147483648.0);
    EXPECT_THROW(t.WriteFloat(1, 2, 2147483647.5), Exception);
    EXPECT_THROW(t.WriteFloat(1, 2, nan), Exception);
    t.WriteFloat(2, 1, -32767.9);  // truncated toward zero
    EXPECT_THROW(t.WriteFloat(2, 2, -32768.5), Exception);  // the range holds before truncation
    EXPECT_THROW(t.WriteInteger(2, 1, 32768), Exception);
    t.WriteInteger(3, 1, -5);
    t.WriteFloat(3, 2, -9.2e18);
    EXPECT_THROW(t.WriteFloat(3, 2, 9223372036854775808.0), Exception);
    t.WriteFloat(4, 1, 0.1);
    t.WriteInteger(4, 2, 3);
    EXPECT_THROW(t.WriteFloat(4, 2, -std::numeric_limits<double>::infinity()), Exception);
    t.WriteBoolean(5, 1, false);
    t.WriteFloat(5, 2, 2);
    EXPECT_EQ(ErrorOf([&] { t.WriteInteger(6, 1, 1); }), "Field type is not supported");
    t.WriteString(8, 1, "Ω-end");
    t.WriteCostArray(1, TCostArray{0, 10.9f, -10.9f});
    t.Close();
  }
  TDbfFile t(path, 0);
  t.Open(false);
  EXPECT_EQ(t.ReadInteger(1, 1), 10);
  EXPECT_EQ(t.ReadInteger(1, 2), -10);
  EXPECT_EQ(t.ReadInteger(2, 1), -32767);
  EXPECT_EQ(t.ReadInteger(3, 1), -5);
  EXPECT_EQ(t.ReadInteger(3, 2), -9200000000000000000);
  EXPECT_EQ(t.ReadFloat(4, 1), 0.1);
  EXPECT_EQ(t.ReadFloat(4, 2), 3.0);
  EXPECT_EQ(t.ReadString(5, 1), "F");
  EXPECT_EQ(t.ReadString(5, 2), "T");
  EXPECT_EQ(t.ReadString(8, 1), "Ω-end");
  EXPECT_EQ(t.ReadString(0, 1).substr(0, 6), "ЖЖЖ");  // neighbours untouched
  EXPECT_EQ(t.ReadString(6, 1), "20240229");
  // the text field is zero-padded in a .dat
  std::string bytes = FileBytes(path);
  int64_t rec1 = 32 + 9 * 32 + 1;
  int64_t tailAt = rec1 + int64_t(t.FieldInfo(8).Pos);
  EXPECT_EQ(bytes.substr(size_t(tailAt), 10), std::string("\xCE\xA9-end\0\0\0\0", 10));
}

TEST(DbfFiles, BitArrayWriter) {
  std::string path = CopyFixture("write.dbf");
  {
    TDbfFile t(path, 0);
    t.Open(true);
    TBitArray bits(6);
    bits.SetBit(1, true);
    bits.SetBit(4, true);
    bits.SetBit(0, true);  // entry 0 is unused
    t.WriteBitArray(2, bits);  // N(4,1)
    t.WriteBitArray(5, bits);  // L
    TBitArray small(3);
    small.SetBit(2, true);
    t.WriteBitArray(1, small);  // N(5): records 1 and 2 only
    EXPECT_THROW(t.WriteBitArray(0, bits), Exception);  // N(3,2) cannot hold "1.00"
    t.Close();
  }
  std::string bytes = FileBytes(path);
  const size_t data = 32 + 7 * 32 + 1, reclen = 1 + 3 + 5 + 4 + 10 + 10 + 1 + 8;
  const char* n41[] = {" 1.0", " 0.0", " 0.0", " 1.0", " 0.0"};
  const char l[] = {'T', 'F', 'F', 'T', 'F'};
  const char* n5[] = {"    0", "    1", "    0", "    0", "    0"};
  for (size_t r = 0; r < 5; ++r) {
    EXPECT_EQ(bytes.substr(data + r * reclen + 1 + 3 + 5, 4), n41[r]) << r;
    EXPECT_EQ(bytes[data + r * reclen + 1 + 3 + 5 + 4 + 10 + 10], l[r]) << r;
    EXPECT_EQ(bytes.substr(data + r * reclen + 1 + 3, 5), n5[r]) << r;
  }
  EXPECT_EQ(bytes.substr(data + 1, 3), "0.0");  // the rejected write left N(3,2) alone
}

TEST(DbfFiles, SequenceUsesItsCodePageAndClosesItsTables) {
  TDbfFiles s(1251);
  s.Add(std::vector<std::string>{Fx("cp_lang1252.dbf"), Fx("cp_nolang.dbf")});
  s.Open();
  EXPECT_EQ(s.RecordCount(), 4);
  EXPECT_EQ(s.ReadString(0, 1), "Р–");
  EXPECT_EQ(s.ReadString(0, 3), "Р–");
  EXPECT_EQ(s.ReadInteger(1, 4), 7);
  s.Close();
  EXPECT_EQ(s.RecordCount(), -1);
  EXPECT_EQ(s.ReadString(0, 1), "");
  EXPECT_EQ(s.FindField("TXT"), -1);
}
