// The settings file without the window: read, write, the network-section
// rule, unreadable files and failed writes.
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/core/studio_settings.h"
#include "app_fixture.h"

using namespace studio;
using namespace studio::testsupport;
using kovra::testsupport::ReadBytes;
using kovra::testsupport::WriteBytes;

namespace {

const NumberFormat cDot{".", ","};
const NumberFormat cComma{",", "."};

// The "topology" section as a save writes it: the keys the file had first,
// in its order, then the others in table order with their defaults.
std::string TopologyDump(const std::vector<std::pair<std::string, std::string>>& First = {}) {
  const std::vector<std::pair<std::string, std::string>> defaults = {
      {"Links", "1"},         {"Nodes", "1"},           {"Turns", "0"},
      {"ObjectCheck", "1"},   {"ShortLinks", "1"},      {"ShortLinksValue", "2"},
      {"LoopLinks", "0"},     {"ParallelLinks", "1"},   {"NonConnectedNodes", "1"},
      {"NonConnectedNodesValue", "5"}, {"NonConnectedLinks", "1"}, {"NonConnectedLinksValue", "5"},
      {"Overpasses", "1"},    {"Subnet", "1"},          {"SubnetEx", "1"},
  };
  std::string out = "[topology]\n";
  for (const auto& [k, v] : First) out += k + "=" + v + "\n";
  for (const auto& [k, v] : defaults) {
    bool seen = false;
    for (const auto& f : First) seen = seen || f.first == k;
    if (!seen) out += k + "=" + v + "\n";
  }
  return out;
}

class SettingsFileTest : public StudioTest {};

// Runs Body in a forked child (for what must not touch this process: a
// changed user, a file size limit) and returns the text it reports.
std::string InChild(const std::function<std::string()>& Body) {
  int fds[2];
  if (pipe(fds) != 0) return "no pipe";
  const pid_t child = fork();
  if (child < 0) return "no fork";
  if (child == 0) {
    const std::string r = Body();
    (void)!write(fds[1], r.data(), r.size());
    _exit(0);
  }
  close(fds[1]);
  std::string out;
  char buf[256];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, size_t(n));
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return out;
}

}  // namespace

// File -> window state -> file, read back by python3's configparser.
TEST_F(SettingsFileTest, ReadThenWrittenBack) {
  struct Case {
    std::string name;
    std::optional<std::string> before;  // none: no file
    NumberFormat fmt;
    std::optional<int32_t> item;
    kovra::TDistanceUnit unit;
    bool links;
    double shortLinks;
    std::string dump;  // what configparser reads after the save
  };
  using U = kovra::TDistanceUnit;
  const std::string mainSHPKm = "[main]\noutputformat=0\nunit=0\n";
  const std::vector<Case> cases = {
      {"no file: the defaults", std::nullopt, cDot, 0, U::duKm, true, 2, mainSHPKm + TopologyDump()},
      {"texts that do not convert: the defaults",
       "[main]\r\noutputformat=abc\r\nunit=abc\r\n[topology]\r\nLinks=abc\r\nShortLinksValue=abc\r\n", cDot, 0,
       U::duKm, true, 2, "[main]\noutputformat=0\nunit=0\n" + TopologyDump({{"Links", "1"}, {"ShortLinksValue", "2"}})},
      {"a Boolean of 7 is true and written 1", "[topology]\r\nLinks=7\r\n", cDot, 0, U::duKm, true, 2,
       TopologyDump() + "[main]\noutputformat=0\nunit=0\n"},
      {"Boolean 0", "[topology]\r\nLinks=0\r\n", cDot, 0, U::duKm, false, 2,
       TopologyDump({{"Links", "0"}}) + "[main]\noutputformat=0\nunit=0\n"},
      {"outputformat 1", "[main]\r\noutputformat=1\r\n", cDot, 1, U::duKm, true, 2,
       "[main]\noutputformat=1\nunit=0\n" + TopologyDump()},
      {"outputformat 2", "[main]\r\noutputformat=2\r\n", cDot, 2, U::duKm, true, 2,
       "[main]\noutputformat=2\nunit=0\n" + TopologyDump()},
      {"outputformat 3", "[main]\r\noutputformat=3\r\n", cDot, 3, U::duKm, true, 2,
       "[main]\noutputformat=3\nunit=0\n" + TopologyDump()},
      {"outputformat 4", "[main]\r\noutputformat=4\r\n", cDot, 4, U::duKm, true, 2,
       "[main]\noutputformat=4\nunit=0\n" + TopologyDump()},
      {"outputformat 9: nothing checked, the key kept", "[main]\r\noutputformat=9\r\n", cDot, std::nullopt,
       U::duKm, true, 2, "[main]\noutputformat=9\nunit=0\n" + TopologyDump()},
      {"outputformat -1", "[main]\r\noutputformat=-1\r\n", cDot, std::nullopt, U::duKm, true, 2,
       "[main]\noutputformat=-1\nunit=0\n" + TopologyDump()},
      {"unit 1: Miles", "[main]\r\nunit=1\r\n", cDot, 0, U::duMiles, true, 2,
       "[main]\nunit=1\noutputformat=0\n" + TopologyDump()},
      {"unit 2: the design's Km", "[main]\r\nunit=2\r\n", cDot, 0, U::duKm, true, 2,
       "[main]\nunit=0\noutputformat=0\n" + TopologyDump()},
      {"regional decimal comma", "[topology]\r\nShortLinksValue=2,5\r\n", cComma, 0, U::duKm, true, 2.5,
       TopologyDump({{"ShortLinksValue", "2,5"}}) + "[main]\noutputformat=0\nunit=0\n"},
      {"'.' still reads after a change of locale", "[topology]\r\nShortLinksValue=2.5\r\n", cComma, 0, U::duKm,
       true, 2.5, TopologyDump({{"ShortLinksValue", "2,5"}}) + "[main]\noutputformat=0\nunit=0\n"},
      {"a decimal comma does not read under '.'", "[topology]\r\nShortLinksValue=2,5\r\n", cDot, 0, U::duKm,
       true, 2, TopologyDump({{"ShortLinksValue", "2"}}) + "[main]\noutputformat=0\nunit=0\n"},
      {"large and small numbers keep 15 digits", "[topology]\r\nShortLinksValue=1234567.25\r\n", cDot, 0,
       U::duKm, true, 1234567.25, TopologyDump({{"ShortLinksValue", "1234567.25"}}) + "[main]\noutputformat=0\nunit=0\n"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(SettingsFile());
    if (c.before) WriteSettings(*c.before);
    TWindowSettings s;
    ASSERT_FALSE(LoadSettingsFile(SettingsFile(), c.fmt, s, {})) << c.name;
    EXPECT_EQ(s.OutputItem, c.item) << c.name;
    EXPECT_EQ(s.Unit, c.unit) << c.name;
    EXPECT_EQ(s.Topology.Links, c.links) << c.name;
    EXPECT_EQ(s.Topology.ShortLinksValue, c.shortLinks) << c.name;
    std::filesystem::create_directories(AppState().DataFolder);
    SaveSettingsFile(SettingsFile(), s, c.fmt, {});
    EXPECT_EQ(ReadSettings().substr(0, 3), "\xEF\xBB\xBF") << c.name << ": UTF-8 with a byte order mark";
    EXPECT_EQ(DumpIni(SettingsFile()), c.dump) << c.name;
  }
}

// What the window does not know stays: other sections and keys, their order
// and their text, in any encoding the file had.
TEST_F(SettingsFileTest, UnknownSectionsAndKeysAndTheirTextStay) {
  struct Case {
    std::string name;
    std::string before;
    std::string dump;
  };
  const std::string rest = "outputformat=0\n" + TopologyDump();
  const std::vector<Case> cases = {
      {"UTF-8: Cyrillic and a character beyond the BMP",
       "\xEF\xBB\xBF[Other]\r\npath=/data/\xD0\xB4\xD0\xBE\xD1\x80\xD0\xBE\xD0\xB3\xD0\xB8/\xF0\x9F\x9B\xA3\r\n"
       "[main]\r\nunit=1\r\nextra=a=b;c\r\n",
       "[Other]\npath=/data/\xD0\xB4\xD0\xBE\xD1\x80\xD0\xBE\xD0\xB3\xD0\xB8/\xF0\x9F\x9B\xA3\n"
       "[main]\nunit=1\nextra=a=b;c\n" + rest},
      {"ANSI is rewritten as UTF-8", "[Other]\r\nname=Caf\xE9 \x80\r\n[main]\r\nunit=1\r\n",
       "[Other]\nname=Caf\xC3\xA9 \xE2\x82\xAC\n[main]\nunit=1\n" + rest},
  };
  for (const Case& c : cases) {
    WriteSettings(c.before);
    TWindowSettings s;
    ASSERT_FALSE(LoadSettingsFile(SettingsFile(), cDot, s, {}));
    SaveSettingsFile(SettingsFile(), s, cDot, {});
    EXPECT_EQ(DumpIni(SettingsFile()), c.dump) << c.name;
  }
}

TEST_F(SettingsFileTest, NetworkSectionsAreErasedByTheirRule) {
  struct Case {
    std::string section;
    bool network;
  };
  const std::vector<Case> cases = {
      {"Network_1", true},           {"NETWORK_7", true},        {"network_12", true},
      {"Network_-3", true},          {"Network_abc", false},     {"Network_", false},
      {"Network_99999999999", false}, {"Networks_1", false},     {"Network_1x", false},
      {"main", false},
  };
  std::string file;
  for (const Case& c : cases) {
    EXPECT_EQ(IsNetworkSection(c.section), c.network) << c.section;
    file += "[" + c.section + "]\r\nPath=/n/" + c.section + "/\r\n";
  }
  file += "[Network_1]\r\nPath=again\r\n";  // a name written twice by hand
  WriteSettings(file);
  TWindowSettings s;
  std::vector<std::string> seen;
  ASSERT_FALSE(LoadSettingsFile(SettingsFile(), cDot, s, [&](kovra::TCustomIniFile& ini) { ini.ReadSections(seen); }));
  EXPECT_EQ(seen.size(), cases.size()) << "the list reader sees every section";
  std::vector<std::string> written;
  SaveSettingsFile(SettingsFile(), s, cDot, [&](kovra::TCustomIniFile& ini) {
    ini.ReadSections(written);
    ini.WriteString("Network_1", "Path", "/new/");
  });
  EXPECT_EQ(written, (std::vector<std::string>{"Network_abc", "Network_", "Network_99999999999", "Networks_1",
                                               "Network_1x", "main", "topology"}))
      << "the list writer finds the old network sections erased";
  EXPECT_EQ(DumpIni(SettingsFile()),
            "[Network_abc]\nPath=/n/Network_abc/\n[Network_]\nPath=/n/Network_/\n"
            "[Network_99999999999]\nPath=/n/Network_99999999999/\n[Networks_1]\nPath=/n/Networks_1/\n"
            "[Network_1x]\nPath=/n/Network_1x/\n[main]\nPath=/n/main/\noutputformat=0\nunit=0\n" +
                TopologyDump() + "[Network_1]\nPath=/new/\n");
}

// A file that exists but cannot be read is neither read nor replaced.
TEST_F(SettingsFileTest, UnreadableFileIsReportedAndNeverReplaced) {
  const std::string name = SettingsFile();
  auto message = [&](int err) {
    return "The settings file " + name + " could not be read: " + std::strerror(err) +
           ". It will not be changed when the program closes.";
  };

  // A folder in its place: unreadable for root too.
  std::filesystem::create_directories(name);
  EXPECT_EQ(SettingsReadProblem(name), std::string(std::strerror(EISDIR)));
  TWindowSettings s;
  s.Unit = kovra::TDistanceUnit::duMiles;
  bool listRead = false;
  EXPECT_EQ(LoadSettingsFile(name, cDot, s, [&](kovra::TCustomIniFile&) { listRead = true; }), message(EISDIR));
  EXPECT_FALSE(listRead) << "no network is listed from an unreadable file";
  EXPECT_EQ(s.OutputItem, 0) << "the defaults of an empty file";
  try {
    SaveSettingsFile(name, s, cDot, {});
    ADD_FAILURE() << "saved over a folder";
  } catch (const kovra::EIniFileException& e) {
    EXPECT_EQ(e.Message(), message(EISDIR));
  }
  EXPECT_TRUE(std::filesystem::is_directory(name));
  std::filesystem::remove(name);

  // Mode 000: as root the check runs in a child that is "nobody".
  const std::string content = "[main]\r\nunit=1\r\n[Network_1]\r\nPath=/keep/\r\n";
  WriteSettings(content);
  chmod(AppState().DataFolder.c_str(), 0755);
  chmod((dir / "config").c_str(), 0755);
  chmod(dir.c_str(), 0755);
  chmod(name.c_str(), 0);
  std::string problem;
  if (geteuid() != 0) {
    problem = SettingsReadProblem(name).value_or("");
  } else {
    problem = InChild([&] {
      const passwd* nobody = getpwnam("nobody");
      if (!nobody || setresgid(nobody->pw_gid, nobody->pw_gid, nobody->pw_gid) != 0 ||
          setresuid(nobody->pw_uid, nobody->pw_uid, nobody->pw_uid) != 0)
        return std::string("cannot become nobody");
      return SettingsReadProblem(name).value_or("");
    });
  }
  EXPECT_EQ(problem, std::strerror(EACCES));
  chmod(name.c_str(), 0644);
  EXPECT_EQ(ReadBytes(name), content);
}

// A save that fails leaves the old file whole and no temporary file behind.
TEST_F(SettingsFileTest, FailedSaveKeepsTheOldFile) {
  const std::string content = "[main]\r\nunit=1\r\n[Network_1]\r\nPath=/keep/\r\n";
  WriteSettings(content);
  const std::string name = SettingsFile();
  // Files may not grow past 16 bytes in a child (root too): the write fails.
  const std::string result = InChild([&] {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{16, 16};
    setrlimit(RLIMIT_FSIZE, &limit);
    try {
      TWindowSettings s;
      LoadSettingsFile(name, cDot, s, {});
      SaveSettingsFile(name, s, cDot, {});
    } catch (const std::exception& e) {
      return std::string(e.what());
    }
    return std::string("saved");
  });
  EXPECT_EQ(result, "Unable to write to " + name);
  EXPECT_EQ(ReadBytes(name), content);
  size_t files = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(AppState().DataFolder)) ++files;
  EXPECT_EQ(files, 1u) << "no temporary file left";
}
