#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/kovra_inifile.h"

using namespace kovra;
namespace fs = std::filesystem;

namespace {

class IniFileTest : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("kovra_ini_" + std::to_string(getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    file_ = (dir_ / "test.ini").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  void Put(const std::string& bytes) {
    std::ofstream f(file_, std::ios::binary | std::ios::trunc);
    f << bytes;
  }
  std::string Get() const {
    std::ifstream f(file_, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }
  std::vector<std::string> Files() const {
    std::vector<std::string> v;
    for (const auto& e : fs::directory_iterator(dir_)) v.push_back(e.path().filename().string());
    return v;
  }

  fs::path dir_;
  std::string file_;
};

}  // namespace

TEST_F(IniFileTest, WritesLinesAsTheProfileFunctionsDo) {
  struct Case {
    std::string name;
    std::string before;  // "" = no file
    std::string section, ident, value;
    std::string after;
  };
  const std::vector<Case> cases = {
      {"new file", "", "App", "key", "string", "[App]\r\nkey=string\r\n"},
      {"empty value", "", "App", "key", "", "[App]\r\nkey=\r\n"},
      {"value verbatim, blanks kept", "", "App", "key", "  a = b ", "[App]\r\nkey=  a = b \r\n"},
      {"new key after the last key of a section that another follows",
       "[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n", "a", "z", "3", "[A]\r\nx=1\r\nz=3\r\n\r\n[B]\r\ny=2\r\n"},
      {"new key in an empty section", "[A]\r\n[B]\r\ny=2\r\n", "A", "k", "v", "[A]\r\nk=v\r\n[B]\r\ny=2\r\n"},
      {"new section appended without a blank line", "[A]\r\nx=1\r\n", "C", "k", "v",
       "[A]\r\nx=1\r\n[C]\r\nk=v\r\n"},
      {"existing key replaced in place, other breaks kept", "[A]\n X = old \ny=2\n", "a", "x", "new",
       "[A]\nx=new\ny=2\n"},
      {"unterminated last line gets its break", "[A]\r\nx=1", "A", "y", "2", "[A]\r\nx=1\r\ny=2\r\n"},
      {"untouched bytes kept (0x81 is unassigned in 1252)", "; \x81\xFE\n[A]\r\nk=1\r\n", "A", "k", "2",
       "; \x81\xFE\n[A]\r\nk=2\r\n"},
      {"CR and LF in a value become blanks", "", "A", "k", "one\r\ntwo\rthree\nfour",
       "[A]\r\nk=one  two three four\r\n"},
      {"ANSI code page", "", "A", "k", "\xE2\x82\xAC \xC3\xA4", "[A]\r\nk=\x80 \xE4\r\n"},
      {"unmappable character", "", "A", "k", "\xC4\x81", "[A]\r\nk=?\r\n"},
      {"first of two equal sections", "[A]\r\nx=1\r\n[a]\r\nx=2\r\n", "A", "x", "3",
       "[A]\r\nx=3\r\n[a]\r\nx=2\r\n"},
  };
  for (const Case& c : cases) {
    fs::remove(file_);
    if (!c.before.empty()) Put(c.before);
    TIniFile ini(file_);
    ini.WriteString(c.section, c.ident, c.value);
    EXPECT_EQ(Get(), c.after) << c.name;
  }
  EXPECT_EQ(Files(), std::vector<std::string>{"test.ini"}) << "no temporary file left";
}

TEST_F(IniFileTest, ReadsValuesTrimmedUnquotedAndIgnoringCase) {
  Put("top=ignored\r\n"
      "[Main]\r\n"
      "  name1 =  plain value \t\r\n"
      "name2=\"val2\"\r\n"
      "name3='a\"\r\n"
      "name4='single'\r\n"
      "name5=a=b=c\r\n"
      "NAME6=upper\r\n"
      "name6=second\r\n"
      "\r\n"
      "   \r\n"
      "empty=\r\n"
      "quoted=\"\"\r\n"
      "[ Other ]\r\n"
      "name1=other\r\n"
      "[main]\r\n"
      "name1=shadowed\r\n");
  TIniFile ini(file_);
  struct Case {
    std::string section, ident, expected;
  };
  const std::vector<Case> cases = {
      {"Main", "name1", "plain value"}, {"MAIN", "Name2", "val2"},    {"main", "name3", "'a\""},
      {"Main", "name4", "single"},      {"Main", "name5", "a=b=c"},   {"Main", "name6", "upper"},
      {"Main", "empty", ""},            {"Main", "quoted", ""},       {"other", "NAME1", "other"},
      {"Main", "missing", "<default>"}, {"None", "name1", "<default>"}, {"", "top", "<default>"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ini.ReadString(c.section, c.ident, "<default>"), c.expected) << c.section << "." << c.ident;
}

TEST_F(IniFileTest, LineBreaksAndEncodings) {
  struct Case {
    std::string name;
    std::string bytes;
  };
  // "[Sect]", "k=Grüße €", "j=2" in several encodings and line-break styles.
  std::string utf16 = "\xFF\xFE";
  for (char16_t c : std::u16string(u"[Sect]\rk=Grüße €\r\nj=2")) {
    utf16 += char(c & 0xFF);
    utf16 += char(c >> 8);
  }
  const std::vector<Case> cases = {
      {"lone CR", "[Sect]\rk=Gr\xFC\xDF" "e \x80\rj=2"},
      {"LF", "[Sect]\nk=Gr\xFC\xDF" "e \x80\nj=2\n"},
      {"mixed", "[Sect]\r\nk=Gr\xFC\xDF" "e \x80\n\r\rj=2\r\n"},
      {"UTF-8 with BOM", "\xEF\xBB\xBF[Sect]\r\nk=Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC\r\nj=2\r\n"},
      {"UTF-16LE with BOM", utf16},
  };
  for (const Case& c : cases) {
    Put(c.bytes);
    TIniFile ini(file_);
    EXPECT_EQ(ini.ReadString("sect", "K", ""), "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC") << c.name;
    EXPECT_EQ(ini.ReadInteger("sect", "j", 0), 2) << c.name;
  }

  // Writing into a UTF-16LE file keeps its encoding and its other units.
  Put(utf16);
  TIniFile ini(file_);
  ini.WriteString("Sect", "n", "€");
  std::string expected = "\xFF\xFE";
  for (char16_t c : std::u16string(u"[Sect]\rk=Grüße €\r\nj=2\r\nn=€\r\n")) {
    expected += char(c & 0xFF);
    expected += char(c >> 8);
  }
  EXPECT_EQ(Get(), expected);

  // A UTF-16LE file cut after an odd byte: what is written after the cut line
  // must still read as UTF-16 units.
  Put(utf16 + "x");
  TIniFile cut(file_);
  cut.WriteString("New", "key", "value");
  EXPECT_EQ(cut.ReadString("new", "key", ""), "value");
  EXPECT_EQ(cut.ReadString("sect", "k", ""), "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC");
}

TEST_F(IniFileTest, IntegersBooleansAndFloats) {
  Put("[N]\r\n"
      "dec=42\r\nneg=-7\r\nplus=+5\r\nhex=0x1F\r\nhexneg=0xFFFFFFFF\r\n"
      "trail=12abc\r\nbig=99999999999\r\nhexbig=0x100000000\r\nbare=0x\r\nempty=\r\nspace=1 2\r\n"
      "f1=1.5\r\nf2=1.5E3\r\nf3=12abc\r\nf4=1e400\r\nf5=-0.25e-2\r\nf6=nan\r\n"
      "b0=0\r\nb2=2\r\nbx=yes\r\n");
  TIniFile ini(file_);
  const std::vector<std::pair<std::string, int32_t>> ints = {
      {"dec", 42},    {"neg", -7},     {"plus", 5},    {"hex", 31},    {"hexneg", -1},  {"trail", -99},
      {"big", -99},   {"hexbig", -99}, {"bare", -99},  {"empty", -99}, {"space", -99}, {"missing", -99},
  };
  for (const auto& [k, v] : ints) EXPECT_EQ(ini.ReadInteger("N", k, -99), v) << k;
  const std::vector<std::pair<std::string, double>> floats = {
      {"f1", 1.5}, {"f2", 1500}, {"f3", -1}, {"f4", -1}, {"f5", -0.0025}, {"f6", -1}, {"missing", -1},
  };
  for (const auto& [k, v] : floats) EXPECT_EQ(ini.ReadFloat("N", k, -1), v) << k;
  EXPECT_FALSE(ini.ReadBool("N", "b0", true));
  EXPECT_TRUE(ini.ReadBool("N", "b2", false));
  EXPECT_TRUE(ini.ReadBool("N", "bx", true));
  EXPECT_FALSE(ini.ReadBool("N", "missing", false));

  fs::remove(file_);
  ini.WriteBool("W", "t", true);
  ini.WriteBool("W", "f", false);
  ini.WriteInteger("W", "i", -12);
  ini.WriteFloat("W", "x", 0.1);
  ini.WriteFloat("W", "y", 1e-5);
  EXPECT_EQ(Get(), "[W]\r\nt=1\r\nf=0\r\ni=-12\r\nx=0.1\r\ny=1E-5\r\n");
}

TEST_F(IniFileTest, SectionOperations) {
  Put("[A]\r\nx=1\r\ny=\"2\"\r\nX=dup\r\n\r\n[B]\r\nz=3\r\n[a]\r\nw=4\r\n");
  TIniFile ini(file_);
  std::vector<std::string> l;
  ini.ReadSections(l);
  EXPECT_EQ(l, (std::vector<std::string>{"A", "B"}));
  ini.ReadSection("a", l);
  EXPECT_EQ(l, (std::vector<std::string>{"x", "y"}));
  ini.ReadSectionValues("A", l);
  EXPECT_EQ(l, (std::vector<std::string>{"x=1", "y=2"}));
  EXPECT_TRUE(ini.SectionExists("b"));
  EXPECT_FALSE(ini.SectionExists("C"));
  EXPECT_TRUE(ini.ValueExists("B", "Z"));
  EXPECT_FALSE(ini.ValueExists("B", "x"));

  ini.DeleteKey("A", "X");
  EXPECT_EQ(Get(), "[A]\r\ny=\"2\"\r\nX=dup\r\n\r\n[B]\r\nz=3\r\n[a]\r\nw=4\r\n");
  ini.EraseSection("b");
  EXPECT_EQ(Get(), "[A]\r\ny=\"2\"\r\nX=dup\r\n\r\n[a]\r\nw=4\r\n");
  const std::string before = Get();
  ini.EraseSection("none");
  ini.DeleteKey("A", "none");
  EXPECT_EQ(Get(), before);
}

TEST_F(IniFileTest, MemIniFileSavesOnUpdateOnly) {
  Put("[A]\r\nx=1\r\n");
  TMemIniFile mem(file_);
  mem.WriteString("A", "x", "2");
  mem.WriteString("B", "long", std::string(3000, 'v'));
  EXPECT_EQ(mem.ReadString("A", "x", ""), "2");
  EXPECT_EQ(Get(), "[A]\r\nx=1\r\n");
  mem.UpdateFile();
  EXPECT_EQ(Get(), "[A]\r\nx=2\r\n[B]\r\nlong=" + std::string(3000, 'v') + "\r\n");
  TIniFile ini(file_);
  EXPECT_EQ(ini.ReadString("b", "LONG", "").size(), 3000u) << "no length cap";
}

TEST_F(IniFileTest, FailedWritesRaiseAndKeepTheOldFile) {
  const std::string missing = (dir_ / "no" / "such" / "x.ini").string();
  struct Case {
    std::string name;
    std::function<void()> action;
    std::string file;
  };
  fs::create_directory(dir_ / "folder.ini");
  const std::string folder = (dir_ / "folder.ini").string();
  const std::vector<Case> cases = {
      {"TIniFile, missing folder", [&] { TIniFile(missing).WriteString("A", "k", "v"); }, missing},
      {"TMemIniFile, missing folder",
       [&] {
         TMemIniFile m(missing);
         m.WriteString("A", "k", "v");
         m.UpdateFile();
       },
       missing},
      {"target is a folder", [&] { TIniFile(folder).WriteString("A", "k", "v"); }, folder},
  };
  for (const Case& c : cases) {
    try {
      c.action();
      ADD_FAILURE() << c.name << ": no exception";
    } catch (const EIniFileException& e) {
      EXPECT_EQ(e.Message(), "Unable to write to " + c.file) << c.name;
    }
  }
  EXPECT_FALSE(fs::exists(dir_ / "no"));
  EXPECT_TRUE(fs::is_directory(folder));
  std::vector<std::string> files = Files();
  EXPECT_EQ(files, std::vector<std::string>{"folder.ini"}) << "no temporary file left";

  if (geteuid() != 0) {
    Put("[A]\r\nk=old\r\n");
    fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_THROW(TIniFile(file_).WriteString("A", "k", "new"), EIniFileException);
    fs::permissions(dir_, fs::perms::owner_all);
    EXPECT_EQ(Get(), "[A]\r\nk=old\r\n");
  }
}

TEST_F(IniFileTest, MemIniFileChangesEncodingForTheNextSave) {
  std::string utf16 = "\xFF\xFE";
  for (char16_t c : std::u16string(u"[S]\nk=Grüße €\r\n")) {
    utf16 += char(c & 0xFF);
    utf16 += char(c >> 8);
  }
  struct Case {
    std::string name;
    std::string before;
    TIniData::TEncoding to;
    std::string after;  // after writing n=Ж
  };
  const std::vector<Case> cases = {
      {"ANSI to UTF-8: bytes re-encoded, line breaks kept", "[S]\nk=Gr\xFC\xDF" "e \x80\r\n",
       TIniData::TEncoding::Utf8Bom,
       "\xEF\xBB\xBF[S]\nk=Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC\r\nn=\xD0\x96\r\n"},
      {"UTF-16LE to UTF-8", utf16, TIniData::TEncoding::Utf8Bom,
       "\xEF\xBB\xBF[S]\nk=Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC\r\nn=\xD0\x96\r\n"},
      {"UTF-8 to ANSI: what 1252 lacks is lost", "\xEF\xBB\xBF[S]\nk=Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC\r\n",
       TIniData::TEncoding::Ansi, "[S]\nk=Gr\xFC\xDF" "e \x80\r\nn=?\r\n"},
      {"same encoding: bytes untouched", "\xEF\xBB\xBF[S]\nk=x\n", TIniData::TEncoding::Utf8Bom,
       "\xEF\xBB\xBF[S]\nk=x\nn=\xD0\x96\r\n"},
  };
  for (const Case& c : cases) {
    Put(c.before);
    TMemIniFile mem(file_);
    mem.SetEncoding(c.to);
    EXPECT_EQ(mem.Encoding(), c.to) << c.name;
    mem.WriteString("S", "n", "\xD0\x96");
    mem.UpdateFile();
    EXPECT_EQ(Get(), c.after) << c.name;
  }
}
