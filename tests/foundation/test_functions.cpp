#include "foundation/kovra_functions.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>

#include "support/unprivileged.h"

using namespace kovra;
namespace fs = std::filesystem;

namespace {

const std::string cOracle = std::string("python3 ") + KOVRA_TEST_SCRIPTS_DIR + "/codepage_oracle.py";

std::string RunCmd(const std::string& cmd, int* rcOut = nullptr) {
  std::string out;
  FILE* f = popen(cmd.c_str(), "r");
  if (!f) return out;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  int rc = pclose(f);
  if (rcOut)
    *rcOut = rc;
  else
    EXPECT_EQ(rc, 0) << cmd;
  return out;
}

// A fresh empty folder, removed at the end of the test.
struct TempDir {
  fs::path path;
  TempDir() {
    static int counter = 0;
    path = fs::temp_directory_path() / ("kovra_fn_" + std::to_string(getpid()) + "_" + std::to_string(counter++));
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~TempDir() {
    std::error_code ec;
    fs::permissions(path, fs::perms::owner_all, ec);
    fs::remove_all(path, ec);
  }
  std::string operator/(const std::string& name) const { return (path / name).string(); }
};

void Touch(const std::string& p, const std::string& content = "") {
  std::ofstream f(p, std::ios::binary);
  f << content;
}

std::string DBF(int width, int decimals, double v) {
  std::string buf(size_t(std::max(width, 0)) + 4, '#');
  FormatDBFNumber(buf.data(), width, decimals, v);
  return buf;
}

// python's '%.15g' written the way the library writes exponents: "1E-5", "1.5E20".
std::string PythonGeneralToDot(const std::string& s) {
  if (s == "-0") return "0";  // the library writes no negative zero
  size_t e = s.find('e');
  if (e == std::string::npos) return s;
  std::string out = s.substr(0, e) + "E";
  size_t p = e + 1;
  if (s[p] == '-') out += '-';
  if (s[p] == '-' || s[p] == '+') ++p;
  while (p + 1 < s.size() && s[p] == '0') ++p;
  return out + s.substr(p);
}

}  // namespace

TEST(Functions, NumberTexts) {
  EXPECT_EQ(DBF(8, 2, -3.14159), "   -3.14####");
  EXPECT_EQ(DBF(3, 0, 12345), "123####");  // cut to the field width
  EXPECT_EQ(DBF(5, 2, 0.125), " 0.12####");  // exact binary tie to even
  EXPECT_EQ(DBF(5, 1, -0.04), "  0.0####");  // no '-' when all digits are 0
  EXPECT_EQ(DBF(0, 2, 1.5), "####");
  EXPECT_EQ(DBF(-3, 2, 1.5), "####");
  {
    std::vector<char> wide(400, '#');
    EXPECT_EQ(FormatDBFNumber(wide.data(), 400, 60, -1e300), 363);  // '-', 301 digits, '.', 60 decimals
    EXPECT_EQ(std::string(wide.data(), 39), std::string(37, ' ') + "-1");
    EXPECT_EQ(std::string(wide.data() + 340, 60), std::string(60, '0'));
  }
  {
    char buf[8];
    EXPECT_EQ(FormatDBFNumber(buf, 3, 2, 0.55), 4);  // uncut length tells the caller
    EXPECT_EQ(std::string(buf, 3), "0.5");
    EXPECT_EQ(FormatDBFNumber(buf, 5, 0, 99999), 5);
  }
  struct Case {
    double v;
    const char* text;
  };
  const Case dot[] = {
      {0.0001, "0.0001"}, {0.00001, "1E-5"}, {123456789012345678.0, "1.23456789012346E17"}, {0.1, "0.1"},
      {0.5, "0.5"},       {3, "3"},          {-12.25, "-12.25"},   {0, "0"},   {-0.0, "0"},
      {1e20, "1E20"},     {1.5e-6, "1.5E-6"}, {999999999999999.0, "999999999999999"}, {1e15, "1E15"},
      {0.1 + 0.2, "0.3"}, {-1.5e300, "-1.5E300"},
  };
  for (const Case& c : dot) EXPECT_EQ(FloatToStrDot(c.v), c.text) << c.v;

  struct DecCase {
    double v;
    int d;
    const char* text;
  };
  const DecCase dec[] = {
      {1.23456, 20, "1.2345600000"}, {7.6, -1, "7.6"}, {2.5, 0, "2"}, {3.5, 0, "4"}, {-2.5, 0, "-2"},
      {1.005, 2, "1.00"},            {0.125, 2, "0.12"}, {-0.001, 2, "0.00"}, {12, 3, "12.000"}, {-0.0, 0, "0"},
  };
  for (const DecCase& c : dec) EXPECT_EQ(FloatToStrDecimals(c.v, c.d), c.text) << c.v << " " << c.d;

  const Case minutes[] = {
      {125.5, "2h 05m 30s"}, {5.25, "5m 15s"}, {0.5, "30s"},  {0, "0s"},      {60, "1h 00m 00s"},
      {59.999, "59m 59s"},   {-90.5, "-30s"},  {-1, "0s"},    {600.1, "10h 00m 06s"},
  };
  for (const Case& c : minutes) EXPECT_EQ(MinutesToStr(c.v), c.text) << c.v;
  EXPECT_EQ(MinutesToQuotedStr(5.25), "\"5m 15s\"");

  EXPECT_EQ(IntToStrZeroPad(0), "00");
  EXPECT_EQ(IntToStrZeroPad(9), "09");
  EXPECT_EQ(IntToStrZeroPad(10), "10");
  EXPECT_EQ(IntToStrZeroPad(-5), "-5");
  EXPECT_EQ(BoundsToStr(10.5, 55, 12, 56.25), "Bounds (10.5, 55) (12, 56.25)");
  EXPECT_EQ(BoundsToStr(1e-8, -5e-8, 1e-7, 2), "Bounds (0, 0) (1E-7, 2)");
}

TEST(Functions, NonFiniteAndOutOfRangeNumbersRaise) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  char buf[16];
  std::memset(buf, '#', sizeof buf);
  for (double v : {nan, inf, -inf}) {
    EXPECT_THROW(FloatToStrDot(v), EInvalidOp);
    EXPECT_THROW(FloatToStrDecimals(v, 2), EInvalidOp);
    EXPECT_THROW(FloatToStrDecimals(v, 0), EInvalidOp);
    EXPECT_THROW(FormatDBFNumber(buf, 10, 2, v), EInvalidOp);
    EXPECT_THROW(MinutesToStr(v), EInvalidOp);
    EXPECT_THROW(BoundsToStr(0, v, 0, 0), EInvalidOp);
  }
  EXPECT_EQ(std::string(buf, 16), std::string(16, '#'));  // nothing written
  EXPECT_THROW(FloatToStrDecimals(1e19, 0), EInvalidOp);
  EXPECT_THROW(MinutesToStr(1e300), EInvalidOp);
  EXPECT_EQ(FloatToStrDecimals(1e300, 1).size(), 303u);  // fixed text itself has no range limit
}

// 10^6 random doubles against python's '%.15g' and '%.*f', with a German C
// locale in force (comma as decimal separator) to show the texts ignore it.
TEST(Functions, NumberTextsMatchPython) {
  std::mt19937_64 gen(20261210);
  std::uniform_real_distribution<double> expo(-12, 17);
  std::vector<double> values;
#if defined(__SANITIZE_ADDRESS__)
  const int n = 200000;  // the unoptimised sanitizer build runs the same check on fewer values
#else
  const int n = 1000000;
#endif
  values.reserve(n);
  for (int i = 0; i < n; ++i) {
    double v;
    if (i % 2 == 0) {
      uint64_t bits = gen();
      std::memcpy(&v, &bits, 8);
      if (!std::isfinite(v) || v == 0) v = 1.0 / 3.0;
    } else {
      v = std::pow(10.0, expo(gen)) * ((gen() & 1) ? -1 : 1);
      if (i % 10 == 1) v = std::round(v * 8) / 8;  // exact binary ties
    }
    values.push_back(v);
  }
  TempDir dir;
  const std::string in = dir / "values.bin";
  {
    std::ofstream f(in, std::ios::binary);
    f.write(reinterpret_cast<const char*>(values.data()), std::streamsize(values.size() * sizeof(double)));
  }
  const std::string out = RunCmd(cOracle + " fixed " + in);
  const char* oldLocale = std::setlocale(LC_ALL, nullptr);
  const std::string saved = oldLocale ? oldLocale : "C";
  const bool german = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
  EXPECT_TRUE(german) << "de_DE.UTF-8 locale not available";
  int i = 0, mismatches = 0;
  const int decimals[] = {0, 1, 2, 5, 10};
  size_t pos = 0;
  while (pos < out.size() && i < n) {
    size_t eol = out.find('\n', pos);
    if (eol == std::string::npos) eol = out.size();
    const std::string_view line(out.data() + pos, eol - pos);
    pos = eol + 1;
    const size_t blank = line.find(' ');
    const std::string g(line.substr(0, blank));
    const double v = values[size_t(i)];
    if (FloatToStrDot(v) != PythonGeneralToDot(g) && ++mismatches < 10)
      ADD_FAILURE() << "value " << g << ": " << FloatToStrDot(v);
    if (std::fabs(v) < 1e17) {
      const int d = decimals[i % 5];
      std::string f(blank == std::string_view::npos ? std::string_view() : line.substr(blank + 1));
      if (!f.empty() && f[0] == '-' && f.find_first_not_of("-0.") == std::string::npos) f.erase(0, 1);
      const std::string ours = FloatToStrDecimals(v, d);
      char buf[64];
      const int32_t len = FormatDBFNumber(buf, 40, d, v);
      const std::string_view dbf(buf + (40 - len), size_t(len));
      if ((ours != f || dbf != f) && ++mismatches < 10)
        ADD_FAILURE() << "value " << g << " decimals " << d << ": " << ours << " / " << dbf << " python " << f;
    }
    ++i;
  }
  std::setlocale(LC_ALL, saved.c_str());
  EXPECT_EQ(i, n);
  EXPECT_EQ(mismatches, 0);
}

TEST(Functions, ParseFloatDot) {
  struct Case {
    const char* text;
    double value;
    bool overflow;
  };
  const Case cases[] = {
      {"1.5E3", 1500, false},   {"12abc", 12, false},     {"  12.5", 12.5, false},  {"1,5", 1, false},
      {"1e400", 0, true},       {"-1E999", 0, true},      {"1e-400", 0, false},     {"", 0, false},
      {"+.5", 0.5, false},      {"1e", 1, false},         {"1e+", 1, false},        {"2.", 2, false},
      {".", 0, false},          {"-", 0, false},          {"0x10", 0, false},       {" -3.25e-2x", -0.0325, false},
      {"abc", 0, false},        {"1.7976931348623157e308", 1.7976931348623157e308, false},
      {"4.9e-324", 4.9e-324, false}, {"0.000e999", 0, false}, {"100000e-5", 1, false}, {"\t5", 0, false},
      {"1e99999999999999999999", 0, true}, {"-0.1E+1", -1, false},
  };
  for (const Case& c : cases) {
    bool overflow = !c.overflow;
    const double v = ParseFloatDot(c.text, overflow);
    EXPECT_EQ(v, c.value) << c.text;
    EXPECT_EQ(overflow, c.overflow) << c.text;
  }
}

TEST(Functions, StrictIntegerParse) {
  struct Case {
    const char* text;
    bool ok;
    int64_t value;
  };
  const Case cases[] = {
      {"12", true, 12},     {"  -7", true, -7},   {"+5", true, 5},        {"$1F", true, 31},  {"0x10", true, 16},
      {"-0X1f", true, -31}, {"0", true, 0},       {"9223372036854775807", true, INT64_MAX},
      {"-9223372036854775808", true, INT64_MIN},  {"9223372036854775808", false, 0},
      {"$8000000000000000", false, 0},            {"12x", false, 0},      {"", false, 0},     {"  ", false, 0},
      {"-", false, 0},      {"12 ", false, 0},    {"1.5", false, 0},      {"$", false, 0},    {"0x", false, 0},
      {"\t1", false, 0},    {"--1", false, 0},
  };
  for (const Case& c : cases) {
    int64_t v = -99;
    EXPECT_EQ(TryStrToInt64(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
      EXPECT_EQ(StrToInt64(c.text), c.value);
    } else {
      EXPECT_EQ(v, -99);
      try {
        StrToInt64(c.text);
        ADD_FAILURE() << c.text;
      } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), std::string("'") + c.text + "' is not a valid integer value");
      }
    }
  }
  EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
  EXPECT_THROW(StrToInt("2147483648"), EConvertError);
}

TEST(Functions, SmallIntegerHelpers) {
  EXPECT_TRUE(IsBetween(5, 9, 1));
  EXPECT_TRUE(IsBetween(1, 1, 9));
  EXPECT_FALSE(IsBetween(0, 1, 9));
  EXPECT_TRUE(IsBetween(9, 1, 9));
  struct Case {
    int32_t a, n;
  };
  const Case cases[] = {{-5, 1}, {0, 1}, {1, 1}, {2, 1}, {3, 2}, {4, 2}, {5, 3},
                        {1 << 30, 30}, {(1 << 30) + 1, 31}, {MaxInt, 31}};
  for (const Case& c : cases) EXPECT_EQ(CeilLog2(c.a), c.n) << c.a;
  EXPECT_EQ(MaxStringLength({}), 0);
  EXPECT_EQ(MaxStringLength({"ab", "\xF0\x9F\x98\x80\xC3\xA4", "x"}), 3);  // UTF-16 units
  EXPECT_EQ(UTF8Length("\xC3\xA4x"), 3);
  EXPECT_TRUE(IsEmptyStr(""));
  EXPECT_TRUE(IsNotEmptyStr(" "));
  float f[4] = {1, 1, 1, 1};
  FillSingle(f + 1, 2, 2.5f);
  FillSingle(f, -1, 9);
  EXPECT_EQ(f[0], 1);
  EXPECT_EQ(f[1], 2.5f);
  EXPECT_EQ(f[3], 1);
  int32_t ints[3] = {0, 0, 0};
  FillInteger(ints, 3, -4);
  EXPECT_EQ(ints[2], -4);
  uint16_t words[3] = {0, 0, 0};
  FillWord(words, 0, 7);
  FillWord(words + 1, 1, 7);
  EXPECT_EQ(words[0], 0);
  EXPECT_EQ(words[1], 7);
  EXPECT_EQ(words[2], 0);
}

TEST(Functions, HashStringMatchesPython) {
  EXPECT_EQ(HashString("abc", 0xFFFF), 29798u);
  for (uint32_t mask : {0u, 0xFFu, 0xFFFFu, 0xFFFFFFFFu}) EXPECT_EQ(HashString("", mask), 0u);
  // UTF-16 text is hashed unit by unit, a lone surrogate as it stands.
  EXPECT_EQ(HashString(std::u16string(u"a\xD800"), 0xFFFFFFFFu), 97u * 17u + 0xD800u);
  const std::vector<std::string> texts = {"abc", "Stra\xC3\x9F" "e", "\xF0\x9F\x98\x80 road \xF0\x90\x8D\x88",
                                          std::string(200, 'z'), "\xE4\xB8\xAD\xE6\x96\x87"};
  TempDir dir;
  const std::string in = dir / "texts.txt";
  {
    std::ofstream f(in, std::ios::binary);
    for (const auto& t : texts) f << t << '\n';
  }
  const uint32_t masks[] = {0xFFu, 0xFFFFu, 255u * 256u + 3u, 0xFFFFFFFFu};
  std::string cmd = cOracle + " hash";
  for (uint32_t mask : masks) cmd += " " + std::to_string(mask);
  std::istringstream out(RunCmd(cmd + " < " + in));
  for (uint32_t mask : masks) {
    for (const auto& t : texts) {
      uint64_t expected = 0;
      out >> expected;
      EXPECT_EQ(HashString(t, mask), expected) << t << " mask " << mask;
      EXPECT_EQ(HashString(ToUtf16(t), mask), expected) << t << " mask " << mask;
    }
  }
}

TEST(Functions, EscapeXMLIsWellFormed) {
  EXPECT_EQ(EscapeXML(""), "");
  EXPECT_EQ(EscapeXML("a<b"), "a&lt;b");
  EXPECT_EQ(EscapeXML("&\"'>"), "&amp;&quot;&apos;&gt;");
  EXPECT_EQ(EscapeXML(std::string(300, '&')).size(), 1500u);
  EXPECT_EQ(EscapeXML("a\tb\nc\rd\x01" "e\x1F" "f\x7F"), "a\tb\nc\rdef\x7F");
  EXPECT_EQ(EscapeXML("x\xEF\xBF\xBEy\xEF\xBF\xBFz"), "xyz");  // U+FFFE, U+FFFF dropped
  EXPECT_EQ(EscapeXML("\xF0\x9F\x98\x80"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(EscapeXML("a\xFF" "b"), "a\xEF\xBF\xBD" "b");  // invalid UTF-8 byte
  std::string all;
  for (int c = 0; c < 0x80; ++c) all += char(c);
  all += "\xEF\xBF\xBE\xEF\xBF\xBF\xF0\x9F\x98\x80\xC3\xA4";
  all.insert(0, 1, '\0');
  const std::string esc = EscapeXML(all);
  TempDir dir;
  const std::string file = dir / "t.xml";
  Touch(file, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<r a=\"" + esc + "\" b='" + esc + "'>" + esc + "</r>\n");
  int rc = -1;
  const std::string msg = RunCmd("xmllint --noout " + file + " 2>&1", &rc);
  EXPECT_EQ(rc, 0) << msg;
  // The text content reads back as the input minus the forbidden characters.
  std::string expected;
  for (int c = 0; c < 0x80; ++c)
    if (c >= 0x20 || c == '\t' || c == '\n' || c == '\r') expected += char(c);
  expected += "\xF0\x9F\x98\x80\xC3\xA4";
  std::string text = RunCmd("xmllint --xpath 'string(/r)' " + file);
  if (!text.empty() && text.back() == '\n') text.pop_back();  // xmllint ends its output with a break
  // XML parsers turn CR and CR LF into LF in text content.
  std::string norm = expected;
  for (size_t p; (p = norm.find("\r\n")) != std::string::npos;) norm.erase(p, 1);
  for (char& ch : norm)
    if (ch == '\r') ch = '\n';
  EXPECT_EQ(text, norm);
}

TEST(Functions, PrjToCoordinateUnit) {
  struct Case {
    const char* epsg;
    TCoordinateUnit unit;
  };
  const Case gdal[] = {{"EPSG:4326", cuDeg}, {"EPSG:27700", cuM}, {"EPSG:2256", cuFt}, {"EPSG:2227", cuUnknown}};
  for (const Case& c : gdal) {
    const std::string wkt = RunCmd(std::string("gdalsrsinfo -o wkt_esri ") + c.epsg + " 2>/dev/null");
    ASSERT_NE(wkt.find("UNIT"), std::string::npos) << c.epsg;
    EXPECT_EQ(PrjToCoordinateUnit(wkt), c.unit) << c.epsg;
  }
  struct TextCase {
    const char* prj;
    TCoordinateUnit unit;
  };
  const TextCase texts[] = {
      {cPrjWGS84, cuDeg},
      {cPrjBNG, cuM},
      {"geogcs[\"x\",unit[\"degree\",0.01745]]", cuDeg},
      {"PROJCS[\"x\",UNIT[\"Foot_US\",0.3048006]]", cuFt},
      {"PROJCS[\"x\",UNIT[\"Grad\",1]]", cuGrad},
      {"PROJCS[\"x\",UNIT[\"Yard_Indian_1937\",1]]", cuYard},
      {"PROJCS[\"x\",UNIT[\"Link_Clarke\",1]]", cuLink},
      {"PROJCS[\"x\",UNIT[\"Chain_Sears\",1]]", cuChain},
      {"PROJCS[\"x\",UNIT[\"Kilometer\",1000]]", cuUnknown},
      {"PROJCS[\"x\",UNIT[\"Meter", cuUnknown},  // no closing quote
      {"PROJCS[\"x\",UNIT[Meter]]", cuUnknown},   // no quote after UNIT
      {"metre\"rest\"", cuM},                     // no UNIT: the text before the first quote
      {"", cuUnknown},
  };
  for (const TextCase& t : texts) EXPECT_EQ(PrjToCoordinateUnit(t.prj), t.unit) << t.prj;
}

TEST(Functions, FileHelpers) {
  TempDir dir;
  const std::string sparse = dir / "big.bin";
  {
    FILE* f = std::fopen(sparse.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    ASSERT_EQ(truncate(sparse.c_str(), 5LL << 30), 0);
  }
  EXPECT_EQ(GetFileSizeByName(sparse), 5LL << 30);
  EXPECT_EQ(GetFileSizeByName(dir / "missing.bin"), -1);
  Touch(dir / "five", "12345");
  EXPECT_EQ(GetFileSizeByName(dir / "five"), 5);
  fs::remove(sparse);

  EXPECT_TRUE(DirectoryIsWritable(dir.path.string()));
  EXPECT_TRUE(DirectoryIsWritable(dir.path.string() + "/"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator{}), 1);  // only "five"
  EXPECT_FALSE(DirectoryIsWritable(dir / "missing"));
  EXPECT_FALSE(fs::exists(dir / "missing"));
  if (const std::string why = testsupport::UnprivilegedSkipReason(); !why.empty()) GTEST_SKIP() << why;
  const std::string ro = dir / "ro";
  fs::create_directory(ro);
  fs::permissions(ro, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                          fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  EXPECT_EQ(testsupport::AsUnprivileged(ro, [&] { return std::string(DirectoryIsWritable(ro) ? "writable" : "not"); }),
            "not");
  fs::permissions(ro, fs::perms::owner_all);
  EXPECT_TRUE(fs::is_empty(ro));
}

TEST(Functions, FindSibling) {
  TempDir dir;
  const std::string dat = dir / "Roads.DAT";
  Touch(dat);
  EXPECT_EQ(FindSibling(dat, ".tab"), "");
  Touch(dir / "ROADS.TAB");
  EXPECT_EQ(FindSibling(dat, ".tab"), dir / "ROADS.TAB");  // case-insensitive scan
  Touch(dir / "roads.tab");
  Touch(dir / "rOads.tab");
  EXPECT_EQ(FindSibling(dat, "tab"), dir / "ROADS.TAB");  // first in sorted order
  Touch(dir / "Roads.TAB");
  EXPECT_EQ(FindSibling(dat, ".tab"), dir / "Roads.TAB");  // upper-case extension before the scan
  Touch(dir / "Roads.tab");
  EXPECT_EQ(FindSibling(dat, ".tab"), dir / "Roads.tab");  // exact name first
  EXPECT_EQ(FindSibling(dat, ".Tab"), dir / "Roads.tab");  // then lower case
  fs::create_directory(dir / "Roads.cpg");
  EXPECT_EQ(FindSibling(dat, ".cpg"), "");  // a folder is not a file
  // The finder for many tables answers the same from one scan per folder.
  TSiblingFinder finder;
  EXPECT_EQ(finder.Find(dat, ".cpg"), "");
  EXPECT_EQ(finder.Find(dat, ".tab"), dir / "Roads.tab");
  EXPECT_EQ(finder.Find(dir / "other.dbf", ".TAB"), "");
  Touch(dir / "ROADS.PRJ");
  Touch(dir / "OTHER.TAB");
  EXPECT_EQ(FindSibling(dat, ".prj"), dir / "ROADS.PRJ");
  EXPECT_EQ(finder.Find(dat, ".prj"), "");  // scanned before the file was made
  EXPECT_EQ(finder.Find(dir / "other.dbf", ".tab"), "");
  EXPECT_EQ(TSiblingFinder().Find(dir / "other.dbf", ".tab"), dir / "OTHER.TAB");
  // A path without folder looks in the current folder.
  const fs::path old = fs::current_path();
  fs::current_path(dir.path);
  EXPECT_EQ(FindSibling("Roads.DAT", "tab"), "Roads.tab");
  EXPECT_EQ(FindSibling("roads", "TAB"), "roads.tab");  // no extension on the path
  fs::current_path(old);
}
