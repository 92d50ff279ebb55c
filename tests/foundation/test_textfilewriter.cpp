#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "foundation/kovra_textfilereader.h"
#include "foundation/kovra_textfilewriter.h"

using namespace kovra;
namespace fs = std::filesystem;

namespace {

using Lines = std::vector<std::string>;

class WriterDir : public ::testing::Test {
protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = fs::temp_directory_path() /
          ("kovra_writer_" + std::to_string(::getpid()) + "_" + info->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  std::string Path(const std::string& name) { return (dir / name).string(); }

  fs::path dir;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string RunCommand(const std::string& cmd) {
  std::string out;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof(buf), p)) > 0) out.append(buf, n);
  EXPECT_EQ(::pclose(p), 0) << cmd;
  return out;
}

}  // namespace

TEST_F(WriterDir, ExactBytes) {
  struct Case {
    uint16_t codePage;
    bool bom;
    Lines lines;  // written with writeln; a leading "\x01" marks a plain write
    std::string expected;
  };
  const std::vector<Case> cases = {
      {65001, true, {}, "\xEF\xBB\xBF"},
      {65001, false, {}, ""},
      {1252, true, {}, ""},  // the mark only exists for UTF-8
      {1200, true, {}, ""},
      {65001, false, {""}, "\r\n"},
      {1252, false, {""}, "\r\n"},
      {65001, true, {"a\xC3\xA9"}, "\xEF\xBB\xBF" "a\xC3\xA9\r\n"},
      {1252, false, {"a\xC3\xA9\xE2\x82\xAC"}, "a\xE9\x80\r\n"},
      {1252, false, {"\xD0\x96x"}, "?x\r\n"},  // Zhe is not in 1252
      {0, false, {"\xC3\xA9"}, "\xE9\r\n"},    // 0 is the ANSI page, 1252 here
      {1200, false, {"a\xF0\x9F\x98\x80"}, std::string("a\0\x3D\xD8\x00\xDE\r\0\n\0", 10)},
      {932, false, {"\xE6\x97\xA5" "a"}, "\x93\xFA" "a\r\n"},
      {65001, false, {"\x01" "ab", "\x01", "c"}, "abc\r\n"},  // write, empty write, writeln
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    const auto& c = cases[i];
    std::string path = Path("w" + std::to_string(i));
    TTextFileWriter w(path, c.codePage, c.bom);
    for (const auto& line : c.lines) {
      if (!line.empty() && line[0] == '\x01')
        w.write(line.substr(1));
      else
        w.writeln(line);
    }
    w.Close();
    EXPECT_EQ(ReadFile(path), c.expected) << "case " << i;
  }
}

TEST_F(WriterDir, NothingReachesTheFileBeforeCloseAndTheDestructorFlushes) {
  std::string path = Path("d");
  {
    TTextFileWriter w(path, 65001, false);
    w.writeln("kept");
    EXPECT_EQ(ReadFile(path), "");
  }
  EXPECT_EQ(ReadFile(path), "kept\r\n");
}

TEST_F(WriterDir, LinesAcrossSeveralWindowsReadBack) {
  std::string path = Path("big");
  const int count = 150000;  // about 2.5 MiB: the 1 MiB window moves twice
  {
    TTextFileWriter w(path, 65001, true);
    for (int i = 0; i < count; ++i) w.writeln("line " + std::to_string(i) + " \xC3\xA9");
    w.Close();
  }
  TTextFileReader r(path, 65001);
  int i = 0;
  while (!r.Eof()) {
    std::string line = r.ReadLine();
    if (line != "line " + std::to_string(i) + " \xC3\xA9") {
      ADD_FAILURE() << "line " << i << ": " << line;
      break;
    }
    ++i;
  }
  EXPECT_EQ(i, count);
}

// ICU's uconv judges both directions: our bytes decode to the source text, and
// its bytes read back to the source lines.
TEST_F(WriterDir, RoundTripAgainstUconv) {
  struct Case {
    uint16_t codePage;
    std::string icuName;
    Lines lines;
  };
  const std::vector<Case> cases = {
      {1251, "windows-1251", {"\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, \xD0\xBC\xD0\xB8\xD1\x80", "", "\xD0\x81\xD0\xB6 \xE2\x82\xAC 12"}},
      {1253, "windows-1253", {"\xCE\x9A\xCE\xB1\xCE\xBB\xCE\xB7\xCE\xBC\xCE\xAD\xCF\x81\xCE\xB1", "\xCE\xA9\xCE\xB1 \xCE\xB2"}},
      {932, "windows-932", {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x83\x86\xE3\x82\xAD\xE3\x82\xB9\xE3\x83\x88", "\xEF\xBD\xB1\xEF\xBD\xB2 abc", ""  , "x"}},
      {65001, "utf-8", {"a\xC3\xA9\xF0\x9F\x98\x80", "\xE4\xB8\xAD"}},
  };
  for (const auto& c : cases) {
    std::string source;
    for (const auto& line : c.lines) source += line + "\r\n";

    std::string ours = Path("ours_" + std::to_string(c.codePage));
    TTextFileWriter w(ours, c.codePage, false);
    for (const auto& line : c.lines) w.writeln(line);
    w.Close();
    EXPECT_EQ(RunCommand("uconv -f " + c.icuName + " -t utf-8 " + ours), source) << c.codePage;

    std::string srcPath = Path("src_" + std::to_string(c.codePage));
    std::ofstream(srcPath, std::ios::binary) << source;
    std::string theirs = Path("theirs_" + std::to_string(c.codePage));
    RunCommand("uconv -f utf-8 -t " + c.icuName + " -o " + theirs + " " + srcPath);
    TTextFileReader r(theirs, c.codePage);
    Lines back;
    while (!r.Eof()) back.push_back(r.ReadLine());
    Lines expected = c.lines;
    if (!expected.empty() && expected.back().empty()) expected.pop_back();
    EXPECT_EQ(back, expected) << c.codePage;
  }
}

TEST_F(WriterDir, FullDiskIsReportedByClose) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  TTextFileWriter w("/dev/full", 65001, true);
  w.writeln("lost");
  EXPECT_THROW(w.Close(), EWriteError);
  EXPECT_THROW(w.writeln("after"), EWriteError);
  TTextFileWriter quiet("/dev/full", 65001, true);
  quiet.writeln("the destructor does not throw");
}

TEST_F(WriterDir, UncreatableFileRaisesCreateError) {
  std::string path = Path("no/such/dir/x.txt");
  try {
    TTextFileWriter w(path, 65001, false);
    FAIL();
  } catch (const EFCreateError& e) {
    EXPECT_NE(std::string(e.what()).find("Cannot create file \"" + path + "\"."), std::string::npos) << e.what();
  }
}

// A file whose first read fails (/proc/self/mem at address 0) makes the
// output stream's constructor raise: the error reaches the caller and the file
// stream is freed once.
TEST_F(WriterDir, FailingOutputStreamRaisesAndFreesOnce) {
  const std::string link = Path("mem.txt");
  fs::create_symlink("/proc/self/mem", link);
  EXPECT_THROW(TTextFileWriter(link, 65001, false), EReadError);
}

TEST_F(WriterDir, UnsupportedCodePageRaisesAtTheFirstWrite) {
  for (uint16_t cp : {620, 895}) {
    TTextFileWriter w(Path("u" + std::to_string(cp)), cp, true);
    try {
      w.writeln("x");
      FAIL() << cp;
    } catch (const Exception& e) {
      EXPECT_EQ(std::string(e.what()), "Code page " + std::to_string(cp) + " is not supported");
    }
    w.Close();
  }
}
