#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/kovra_configfile.h"
#include "foundation/kovra_io.h"

using namespace kovra;
namespace fs = std::filesystem;

namespace {

const std::string kEuro = "\xE2\x82\xAC";

class ConfigFileTest : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = (fs::temp_directory_path() /
            ("kovra_config_" + std::to_string(getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name()))
               .string() +
           "/";
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string File() const { return dir_ + "kovra_config.ini"; }
  std::string Get() const {
    std::ifstream f(File(), std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }
  void Put(const std::string& bytes) const {
    std::ofstream f(File(), std::ios::binary | std::ios::trunc);
    f << bytes;
  }
  std::vector<std::string> Files() const {
    std::vector<std::string> v;
    for (const auto& e : fs::directory_iterator(dir_)) v.push_back(e.path().filename().string());
    return v;
  }
  // The python reader's view of settings files, one map per file: "checksum",
  // "computed", "lines", "crlf_only", "header" and "value KEY" entries.
  static std::vector<std::map<std::string, std::string>> Oracle(const std::vector<std::string>& files) {
    std::string cmd = "python3 " KOVRA_TEST_SCRIPTS_DIR "/configfile_oracle.py";
    for (const std::string& f : files) cmd += " '" + f + "'";
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return {};
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    std::vector<std::map<std::string, std::string>> all;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
      const size_t sp = line.find(' ');
      std::string key = line.substr(0, sp), rest = sp == std::string::npos ? "" : line.substr(sp + 1);
      if (key == "file") all.emplace_back();
      if (all.empty()) continue;
      if (key == "value") {
        const size_t eq = rest.find('=');
        all.back()["value " + rest.substr(0, eq)] = rest.substr(eq + 1);
      } else {
        all.back()[key] = rest;
      }
    }
    EXPECT_EQ(all.size(), files.size()) << "python3 oracle output:\n" << out;
    all.resize(files.size());
    return all;
  }

  std::string dir_;
};

TFloatRect Rect(double a, double b, double c, double d) { return TFloatRect{a, b, c, d}; }

}  // namespace

TEST_F(ConfigFileTest, PlainFileByteForByte) {
  WriteConfig(dir_, false, cuDeg, "", "", 0, 2, Rect(10.5, 55, 11, 56));
  EXPECT_EQ(Get(),
            "[kovra]\r\nversion=400\r\ncoordinateunit=Degrees\r\nlinkcount=2\r\n"
            "xmin=10.5\r\nymin=55\r\nxmax=11\r\nymax=56\r\nchecksum=18465\r\n");
  EXPECT_EQ(Files(), std::vector<std::string>{"kovra_config.ini"}) << "no temporary file left";
  auto o = Oracle({File()})[0];
  EXPECT_EQ(o["computed"], "18465");
  EXPECT_EQ(o["checksum"], "18465");
  EXPECT_EQ(o["lines"], "9");
  EXPECT_EQ(o["crlf_only"], "1");

  const TConfig c = ReadConfig(dir_);
  EXPECT_EQ(c.VersionCode, 400);
  EXPECT_FALSE(c.Encrypted);
  EXPECT_EQ(c.Cu, cuDeg);
  EXPECT_EQ(c.CoordSys, "");
  EXPECT_EQ(c.Prj, "");
  EXPECT_EQ(c.Epsg, 0);
  EXPECT_EQ(c.LinkCount, 2);
  EXPECT_EQ(c.Mbr.xmin, 10.5);
  EXPECT_EQ(c.Mbr.ymax, 56);
  EXPECT_EQ(c.CheckSum, 18465);
  EXPECT_EQ(ConfigChecksum(dir_, 1), 18465);
}

TEST_F(ConfigFileTest, FullSettingsRoundTripPlainAndEncrypted) {
  // A long projection text with a character above 255 and line breaks inside.
  std::string prj;
  while (prj.size() < 3000) prj += "PROJCS[\"x" + kEuro + "\",UNIT[\"Meter\",1.0]]\r\n";
  prj += "END";
  std::string prjRead = prj;
  for (char& ch : prjRead)
    if (ch == '\r' || ch == '\n') ch = ' ';
  std::vector<std::string> files;
  for (bool encrypted : {false, true}) {
    WriteConfig(dir_, encrypted, cuSurveyft, cCoordSysBNG, prj, 27700, 123456,
                Rect(-0.1, 1e-5, 123456789012345678.0, 56.25));
    const TConfig c = ReadConfig(dir_);
    EXPECT_EQ(c.Encrypted, encrypted);
    EXPECT_EQ(c.VersionCode, 400);
    EXPECT_EQ(c.Cu, cuSurveyft);
    EXPECT_EQ(c.CoordSys, cCoordSysBNG);
    EXPECT_EQ(c.Prj, prjRead) << "whole, the euro sign kept, breaks as blanks";
    EXPECT_EQ(c.Epsg, 27700);
    EXPECT_EQ(c.LinkCount, 123456);
    EXPECT_EQ(c.Mbr.xmin, -0.1);
    EXPECT_EQ(c.Mbr.ymin, 1e-5);
    EXPECT_EQ(c.Mbr.xmax, 123456789012345678.0) << "every digit the bound needs";
    EXPECT_EQ(c.Mbr.ymax, 56.25);
    const std::string raw = Get();
    if (encrypted) {
      EXPECT_EQ(raw.rfind("[kovra]\r\nencrypted=1\r\nversion=", 0), 0u) << raw.substr(0, 40);
      EXPECT_EQ(raw.find("Survey"), std::string::npos) << "values are scrambled";
    } else {
      EXPECT_EQ(raw.find("encrypted"), std::string::npos);
      EXPECT_NE(raw.find("prj=PROJCS[\"x\x80\""), std::string::npos) << "the ANSI byte of the euro sign";
    }
    files.push_back(dir_ + (encrypted ? "encrypted.ini" : "plain.ini"));
    fs::rename(File(), files.back());
  }
  // An independent reader recomputes the checksums and unscrambles the values.
  const auto oracle = Oracle(files);
  for (size_t i = 0; i < files.size(); ++i) {
    auto o = oracle[i];
    EXPECT_EQ(o["computed"], o["checksum"]) << files[i];
    EXPECT_NE(o["checksum"], "");
    EXPECT_EQ(o["crlf_only"], "1");
    EXPECT_EQ(o["header"], "[kovra]");
    EXPECT_EQ(o["value encrypted"], i == 1 ? "1" : "");
    EXPECT_EQ(o["value version"], "400");
    EXPECT_EQ(o["value prj"], prjRead);
    EXPECT_EQ(o["value coordsys"], cCoordSysBNG);
    EXPECT_EQ(o["value coordinateunit"], "Survey Feet");
    EXPECT_EQ(o["value xmax"], "1.2345678901234568E17");
    EXPECT_EQ(o["value epsg"], "27700");
    EXPECT_EQ(o["value linkcount"], "123456");
  }
}

TEST_F(ConfigFileTest, AnyOneCharacterChangeIsRefused) {
  for (bool encrypted : {false, true}) {
    WriteConfig(dir_, encrypted, cuM, "CoordSys Earth", "", 4326, 7, Rect(1, 2, 3, 4));
    const std::string good = Get();
    ASSERT_NO_THROW(ReadConfig(dir_));
    const size_t lastLine = good.rfind("checksum=");
    const size_t valueStart = lastLine + 9;
    int checked = 0;
    for (size_t i = 0; i < good.size(); ++i) {
      const char c = good[i];
      if (c == '\r' || c == '\n') continue;
      if (i >= lastLine && i < valueStart) continue;  // the key of the last line matches ignoring case
      std::string bad = good;
      bad[i] = c == 'x' ? 'y' : 'x';
      Put(bad);
      try {
        ReadConfig(dir_);
        ADD_FAILURE() << "accepted a change at byte " << i << " (encrypted " << encrypted << ")";
      } catch (const EConfigFileCheckSumError& e) {
        EXPECT_STREQ(e.what(), "The config file is corrupted");
      }
      ++checked;
    }
    EXPECT_GT(checked, 100);
  }
}

TEST_F(ConfigFileTest, ValueRules) {
  // cuUnknown <-> empty value.
  WriteConfig(dir_, false, cuUnknown, "", "", 0, 0, Rect(0, 0, 0, 0));
  EXPECT_NE(Get().find("\r\ncoordinateunit=\r\n"), std::string::npos);
  EXPECT_EQ(ReadConfig(dir_).Cu, cuUnknown);

  // Hand-made files: the checksum line is computed over the lines as given.
  auto make = [&](const std::string& body) {
    Put(body);
    const int32_t sum = ConfigChecksum(dir_, 0);
    Put(body + "checksum=" + std::to_string(sum) + "\r\n");
  };
  make("[kovra]\r\nversion=400\r\ncoordinateunit=METER\r\nlinkcount=1\r\nxmin=1.5E3\r\nymin=12abc\r\n"
       "xmax=1e400\r\n");
  TConfig c = ReadConfig(dir_);
  EXPECT_EQ(c.Cu, cuM);
  EXPECT_EQ(c.Mbr.xmin, 1500);
  EXPECT_EQ(c.Mbr.ymin, 12);
  EXPECT_EQ(c.Mbr.xmax, 0) << "overflow gives the default";
  EXPECT_EQ(c.Mbr.ymax, 0) << "missing gives 0";

  TMyinifile ini(File());
  EXPECT_EQ(ini.ReadFloat("kovra", "xmax", -7.5), -7.5);
  EXPECT_EQ(ini.ReadFloat("kovra", "ymax", -7.5), 0);
  EXPECT_EQ(ini.ReadFloat("kovra", "ymin", -7.5), 12);
  ini.SetEncoded(true);
  EXPECT_EQ(ini.ReadString("kovra", "missing", EncodeSettingValue("abc")), "abc") << "a default is unscrambled too";
  ini.WriteString("kovra", "note", "a\r\nb=c");
  ini.SetEncoded(false);
  EXPECT_EQ(ini.ReadString("kovra", "note", ""), EncodeSettingValue("a  b=c")) << "breaks become blanks first";

  // Unknown unit names.
  for (const char* name : {"", "Furlong", "meters"}) EXPECT_EQ(CoordinateUnitFromName(name), cuUnknown) << name;
  for (uint8_t u = 1; u <= uint8_t(cuNmi); ++u) {
    const auto unit = TCoordinateUnit(u);
    EXPECT_EQ(CoordinateUnitFromName(CoordinateUnitName(unit)), unit);
  }
  EXPECT_EQ(CoordinateUnitFromName("nautical MILES"), cuNmi);
}

TEST_F(ConfigFileTest, Scrambling) {
  // Pinned: the alphabet is part of the file format.
  EXPECT_EQ(cSettingAlphabet, "RCv6/W0hOFlpUwQH4LB5bZnxNuf3MA79YV2d8EjgDk1cKsyqoItiXzGSTaJrP+em");
  std::string sorted(cSettingAlphabet);
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, "+/0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");

  struct Case {
    std::string plain;
    size_t symbols;
  };
  const std::vector<Case> cases = {
      {"", 0}, {"A", 2}, {"AB", 3}, {"ABC", 4}, {"ABCD", 6}, {kEuro, 2}, {"400", 4}, {"\xC3\xA4\xC3\xB6", 3},
  };
  for (const Case& c : cases) {
    const std::string s = EncodeSettingValue(c.plain);
    EXPECT_EQ(s.size(), c.symbols) << c.plain;
    EXPECT_EQ(s.find_first_not_of(cSettingAlphabet), std::string::npos);
    EXPECT_EQ(DecodeSettingValue(s), c.plain);
  }
  // The first bits of 'A' (0x41 = 010000 01....) pick symbols 16 and 16 (padding).
  EXPECT_EQ(EncodeSettingValue("A"), std::string(2, cSettingAlphabet[16]));
  // Decoding stops at a foreign symbol.
  const std::string abc = EncodeSettingValue("ABC");
  EXPECT_EQ(DecodeSettingValue(abc.substr(0, 2) + " " + abc.substr(2)), "A");
  EXPECT_EQ(DecodeSettingValue("=" + abc), "");
}

TEST_F(ConfigFileTest, MissingFileAndRefusedWrites) {
  EXPECT_THROW(ReadConfig(dir_), EFOpenError);
  try {
    ReadConfig(dir_);
  } catch (const EFOpenError& e) {
    EXPECT_NE(std::string(e.what()).find("Cannot open file \""), std::string::npos) << e.what();
  }

  const std::string missing = dir_ + "no/";
  try {
    WriteConfig(missing, false, cuM, "", "", 0, 1, Rect(0, 0, 1, 1));
    ADD_FAILURE() << "no exception";
  } catch (const EIniFileException& e) {
    EXPECT_EQ(e.Message(), "Unable to write to " + missing + "kovra_config.ini");
  }

  // A rewrite replaces the old file whole; a failing one leaves it as it was.
  WriteConfig(dir_, false, cuM, "", "", 0, 1, Rect(0, 0, 1, 1));
  WriteConfig(dir_, true, cuKm, "", "", 0, 2, Rect(0, 0, 1, 1));
  EXPECT_EQ(ReadConfig(dir_).LinkCount, 2);
  EXPECT_EQ(Files(), std::vector<std::string>{"kovra_config.ini"});
  const std::string before = Get();
  fs::create_directory(dir_ + "kovra_config.ini.tmp");  // blocks the temporary file
  fs::create_directory(dir_ + "kovra_config.ini.tmp/x");
  EXPECT_THROW(WriteConfig(dir_, false, cuM, "", "", 0, 3, Rect(0, 0, 1, 1)), Exception);
  EXPECT_EQ(Get(), before);
}
