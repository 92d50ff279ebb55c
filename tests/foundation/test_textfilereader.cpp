#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "foundation/kovra_functions.h"
#include "foundation/kovra_textfilereader.h"
#include "support/temp_dir_test.h"
#include "support/unprivileged.h"

using namespace kovra;
namespace fs = std::filesystem;

namespace {

using Lines = std::vector<std::string>;

class ReaderDir : public kovra::testsupport::TTempDirTest {};

Lines ReadAll(TTextFileReader& r) {
  Lines lines;
  while (!r.Eof()) lines.push_back(r.ReadLine());
  return lines;
}

Lines ReadAll(const std::string& path, uint16_t codePage, int32_t bufferSize) {
  TTextFileReader r(path, codePage, bufferSize);
  return ReadAll(r);
}

std::string Utf16LE(const std::u16string& s) {
  std::string out;
  for (char16_t u : s) {
    out += char(u & 0xFF);
    out += char(u >> 8);
  }
  return out;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

const int32_t cBufferSizes[] = {4096, 8, 3, 1};

}  // namespace

TEST_F(ReaderDir, LineSplittingTable) {
  struct Case {
    std::string bytes;
    Lines expected;
  };
  const std::vector<Case> cases = {
      {"a\r\nb\nc", {"a", "b", "c"}},
      {"a\r\rb", {"a", "", "b"}},
      {"a\n", {"a"}},
      {"a\r\n", {"a"}},
      {"a\r", {"a"}},
      {"a\n\n", {"a"}},  // an empty last line is not returned
      {"a\r\n\r\n", {"a"}},
      {"a\n\n\n", {"a", ""}},
      {"", {}},
      {"\n", {}},
      {"\nx", {"", "x"}},
      {"a\n\nb", {"a", "", "b"}},
      {"a\n\r\nb", {"a", "", "b"}},
      {"a\r\r\n", {"a"}},
      {" x \t\r\n", {" x \t"}},  // no trimming
      {std::string("n\0l\n", 4), {std::string("n\0l", 3)}},
  };
  for (int32_t bs : cBufferSizes) {
    for (size_t i = 0; i < cases.size(); ++i) {
      std::string path = Make("t" + std::to_string(i), cases[i].bytes);
      EXPECT_EQ(ReadAll(path, 65001, bs), cases[i].expected) << "case " << i << " buffer " << bs;
    }
  }
}

TEST_F(ReaderDir, EofStaysFalseAfterAnEmptyMiddleLine) {
  TTextFileReader r(Make("m", "a\n\nb\n"), 65001);
  EXPECT_FALSE(r.Eof());
  EXPECT_EQ(r.ReadLine(), "a");
  EXPECT_FALSE(r.Eof());
  EXPECT_EQ(r.ReadLine(), "");
  EXPECT_FALSE(r.Eof());
  EXPECT_EQ(r.ReadLine(), "b");
  EXPECT_TRUE(r.Eof());
  EXPECT_EQ(r.ReadLine(), "");  // exhausted: empty lines from now on
  EXPECT_TRUE(r.Eof());
}

TEST_F(ReaderDir, EmptyFileIsEofAtOnce) {
  TTextFileReader r(Make("e", ""), 65001);
  EXPECT_TRUE(r.Eof());
  EXPECT_EQ(r.Size(), 0);
  EXPECT_EQ(r.Position(), 0);
}

TEST_F(ReaderDir, CrAtTheEndOfABlockAndLfAtTheNextIsOneBreak) {
  std::string bytes = std::string(4095, 'a') + "\r\nb";  // CR is byte 4095 (0-based), LF byte 4096
  EXPECT_EQ(ReadAll(Make("crlf", bytes), 65001, 4096), (Lines{std::string(4095, 'a'), "b"}));
  // The same with UTF-16: CR in the last unit of a block.
  std::u16string text = std::u16string(2047, u'a') + u"\r\nb";
  EXPECT_EQ(ReadAll(Make("crlf16", Utf16LE(text)), 1200, 4096), (Lines{std::string(2047, 'a'), "b"}));
}

TEST_F(ReaderDir, PositionCountsUtf16UnitsPlusTwoPerLine) {
  struct Case {
    std::string bytes;
    uint16_t codePage;
    int64_t expected;
  };
  const std::vector<Case> cases = {
      {"abc\r\nde\r\n", 65001, 9},
      {"abc\nde", 65001, 9},
      {Utf16LE(u"abc\rde\n"), 1200, 9},
      {"\xEF\xBB\xBF" "abc\nde", 65001, 9},
      {"\xC3\xA9\xF0\x9F\x98\x80\n", 65001, 1 + 2 + 2},  // a surrogate pair counts 2
  };
  for (const auto& c : cases) {
    TTextFileReader r(Make("p", c.bytes), c.codePage);
    EXPECT_EQ(r.Position(), 0);
    ReadAll(r);
    EXPECT_EQ(r.Position(), c.expected) << c.bytes;
    EXPECT_EQ(r.Size(), int64_t(c.bytes.size()));
  }
}

// Long lines mixing 1- to 4-byte characters, checked against the platform's
// own UTF-16 count.
TEST_F(ReaderDir, PositionOfLongMixedLines) {
  const std::string pieces[] = {"a", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "xyz12345"};
  uint32_t seed = 7;
  std::string bytes;
  int64_t expected = 0;
  for (int line = 0; line < 40; ++line) {
    std::string text;
    seed = seed * 1103515245u + 12345u;
    const int count = int((seed >> 8) % 3000);
    for (int k = 0; k < count; ++k) {
      seed = seed * 1103515245u + 12345u;
      text += pieces[(seed >> 16) % 5];
    }
    bytes += text + "\n";
    expected += int64_t(Utf16Length(text)) + 2;
  }
  for (int32_t bs : {4096, 8}) {
    TTextFileReader r(Make("long", bytes), 65001, bs);
    ReadAll(r);
    EXPECT_EQ(r.Position(), expected) << bs;
  }
}

TEST_F(ReaderDir, ByteOrderMarks) {
  struct Case {
    std::string bytes;
    uint16_t codePage;
    Lines expected;
  };
  const std::vector<Case> cases = {
      {"\xEF\xBB\xBFx\r\ny", 65001, {"x", "y"}},
      {"\xEF\xBB\xBFx", 1200, {"x"}},  // switches 1200 to UTF-8
      {"\xFF\xFE" + Utf16LE(u"x\r\n\u00e9"), 65001, {"x", "\xC3\xA9"}},  // switches to UTF-16
      {"\xFF\xFE" + Utf16LE(u"x"), 1200, {"x"}},
      {std::string("\xFE\xFF\x00x\x00\n\x00y", 8), 1200, {"x", "y"}},  // big-endian
      {"\xEF\xBB\xBF", 65001, {}},
      {"\xEF\xBB", 65001, {"\xEF\xBF\xBD"}},  // a cut mark is just bad text
      {"\xEF\xBB\xBF\xEF\xBB\xBFx", 65001, {"\xEF\xBB\xBFx"}},  // only the first is a mark
      // Under other pages the mark is text: "ï»¿" in 1252.
      {"\xEF\xBB\xBFx", 1252, {"\xC3\xAF\xC2\xBB\xC2\xBFx"}},
      {"\xFF\xFEx", 1252, {"\xC3\xBF\xC3\xBEx"}},
  };
  for (int32_t bs : cBufferSizes) {
    for (size_t i = 0; i < cases.size(); ++i) {
      std::string path = Make("bom" + std::to_string(i), cases[i].bytes);
      EXPECT_EQ(ReadAll(path, cases[i].codePage, bs), cases[i].expected) << "case " << i << " buffer " << bs;
    }
  }
}

TEST_F(ReaderDir, MissingFileRaisesOpenErrorWithTheAbsolutePath) {
  std::string missing = (dir / "nothing.txt").string();
  try {
    TTextFileReader r(missing, 65001);
    FAIL();
  } catch (const EFOpenError& e) {
    EXPECT_NE(std::string(e.what()).find("Cannot open file \"" + fs::absolute(missing).string() + "\"."),
              std::string::npos)
        << e.what();
  }
  EXPECT_THROW(TTextFileReader(dir.string(), 65001), EFOpenError);
}

TEST_F(ReaderDir, UnreadableFileRaisesOpenError) {
  if (const std::string why = testsupport::UnprivilegedSkipReason(); !why.empty()) GTEST_SKIP() << why;
  std::string path = Make("locked", "x\n");
  fs::permissions(path, fs::perms::none);
  const std::string got = testsupport::AsUnprivileged(path, [&]() -> std::string {
    try {
      TTextFileReader r(path, 65001);
      return "opened";
    } catch (const EFOpenError& e) {
      return e.what();
    }
  });
  EXPECT_EQ(got.rfind("Cannot open file \"" + path + "\". ", 0), 0u) << got;
}

// The descriptor through which this process has Path open, or -1.
int DescriptorOf(const std::string& Path) {
  const fs::path target = fs::canonical(Path);
  for (const auto& e : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    if (fs::read_symlink(e.path(), ec) == target) return std::stoi(e.path().filename().string());
  }
  return -1;
}

// A read the system fails raises with the system's text; it never passes for
// the end of the file.
TEST_F(ReaderDir, FailingReadsRaiseReadError) {
  // Seeking to the end of /proc/self/mem is refused: its size cannot be read.
  EXPECT_THROW(TTextFileReader("/proc/self/mem", 65001), EReadError);

  std::string text = "first\n";
  for (int i = 0; i < 200; ++i) text += "line " + std::to_string(i) + "\n";
  const std::string path = Make("fail.txt", text);
  TTextFileReader r(path, 65001, 16);
  // Reads fail from here on: the reader's descriptor now refers to a folder.
  const int fd = DescriptorOf(path);
  ASSERT_GE(fd, 0);
  const int folder = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_EQ(::dup2(folder, fd), fd);
  ::close(folder);
  Lines lines;
  try {
    while (!r.Eof()) lines.push_back(r.ReadLine());
    ADD_FAILURE() << "read " << lines.size() << " lines without an error";
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), "Cannot read file \"" + fs::absolute(path).string() + "\". " + std::strerror(EISDIR));
  }
  EXPECT_LT(lines.size(), 3u);
}

TEST_F(ReaderDir, UnsupportedCodePageRaises) {
  std::string path = Make("x", "x");
  for (uint16_t cp : {620, 895}) {
    try {
      TTextFileReader r(path, cp);
      FAIL() << cp;
    } catch (const Exception& e) {
      EXPECT_EQ(std::string(e.what()), "Code page " + std::to_string(cp) + " is not supported");
    }
  }
}

TEST_F(ReaderDir, CloseEndsTheReader) {
  TTextFileReader r(Make("c", "a\nb\n"), 65001);
  EXPECT_EQ(r.ReadLine(), "a");
  r.Close();
  EXPECT_TRUE(r.Eof());
  EXPECT_EQ(r.ReadLine(), "");
  r.Close();
}

TEST_F(ReaderDir, ReusedLineBufferGetsEachLine) {
  TTextFileReader r(Make("r", "first line that is long enough\nx\n\nlast"), 65001, 8);
  std::string line;
  Lines lines;
  while (!r.Eof()) {
    r.ReadLine(line);
    lines.push_back(line);
  }
  EXPECT_EQ(lines, (Lines{"first line that is long enough", "x", "", "last"}));
}

// python3 writes files whose characters straddle block edges; the lines it
// decodes with its codecs (errors='replace') are the expected result.
TEST_F(ReaderDir, MatchesPythonCodecsAcrossBlockBoundaries) {
  std::string cmd = std::string("python3 ") + KOVRA_TEST_SCRIPTS_DIR + "/textfilereader_oracle.py " + dir.string();
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  std::ifstream manifest(dir / "cases.txt");
  std::string name;
  int codePage;
  int checked = 0;
  while (manifest >> name >> codePage) {
    Lines expected;
    std::istringstream exp(ReadFile(dir / (name + ".expected")));
    for (std::string line; std::getline(exp, line);) expected.push_back(line);
    // Files shifted by 0..7 bytes meet every alignment of an 8-byte block;
    // the others straddle byte 4096 of the default block.
    std::vector<int32_t> sizes;
    if (name.find("_off") == std::string::npos) sizes.push_back(4096);
    if (name.find("_edge") == std::string::npos) sizes.push_back(8);
    for (int32_t bs : sizes) {
      EXPECT_EQ(ReadAll((dir / (name + ".bin")).string(), uint16_t(codePage), bs), expected)
          << name << " buffer " << bs;
    }
    ++checked;
  }
  EXPECT_GT(checked, 30);
}

TEST_F(ReaderDir, ReadFirstLine) {
  EXPECT_EQ(ReadFirstLine((dir / "missing.prj").string()), "");
  EXPECT_EQ(ReadFirstLine(Make("empty.prj", "")), "");
  EXPECT_EQ(ReadFirstLine(dir.string()), "");
  EXPECT_EQ(ReadFirstLine(Make("two.prj", "GEOGCS[\"x\"]\r\nsecond")), "GEOGCS[\"x\"]");
  if (GetSystemAnsiCodePage() == 1252) {
    EXPECT_EQ(ReadFirstLine(Make("ansi.prj", "caf\xE9\n")), "caf\xC3\xA9");
  }
}
