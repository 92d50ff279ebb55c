// The small functions: regional number texts, folders, the program's name,
// the help's place.
#include <QLocale>
#include <cstdlib>
#include <cstring>

#include "app/qt/studio_qtports.h"
#include "app_fixture.h"
#include "support/gdal_readback.h"

using namespace studio;
using namespace studio::testsupport;

namespace {

const NumberFormat cEnglish{".", ","};

NumberFormat German() { return NumberFormatOf(QLocale(QLocale::German, QLocale::Germany)); }
NumberFormat French() { return NumberFormatOf(QLocale(QLocale::French, QLocale::France)); }

}  // namespace

TEST(RegionalNumbers, SeparatorsOfTheLocales) {
  EXPECT_EQ(German().decimal, ",");
  EXPECT_EQ(German().group, ".");
  EXPECT_EQ(French().decimal, ",");
  EXPECT_EQ(French().group, "\u202F") << "narrow no-break space, more than one byte";
}

TEST(RegionalNumbers, TextsOfNumbers) {
  struct Case {
    std::string what;
    std::function<std::string(const NumberFormat&)> text;
    std::string english, german, french;
  };
  const std::string nb = "\u202F";
  const std::vector<Case> cases = {
      {"FormatThousands(1234567)", [](auto& f) { return FormatThousands(1234567, f); }, "1,234,567", "1.234.567",
       "1" + nb + "234" + nb + "567"},
      {"FormatThousands(-1234)", [](auto& f) { return FormatThousands(-1234, f); }, "-1,234", "-1.234",
       "-1" + nb + "234"},
      {"FormatThousands(0)", [](auto& f) { return FormatThousands(0, f); }, "0", "0", "0"},
      {"FormatThousands(999)", [](auto& f) { return FormatThousands(999, f); }, "999", "999", "999"},
      {"FormatThousands(-2147483648)", [](auto& f) { return FormatThousands(-2147483648LL, f); },
       "-2,147,483,648", "-2.147.483.648", "-2" + nb + "147" + nb + "483" + nb + "648"},
      {"FormatThousands3(1234.5)", [](auto& f) { return FormatThousands3(1234.5, f); }, "1,234.500", "1.234,500",
       "1" + nb + "234,500"},
      {"FormatThousands3(-1234567.0625)", [](auto& f) { return FormatThousands3(-1234567.0625, f); },
       "-1,234,567.062", "-1.234.567,062", "-1" + nb + "234" + nb + "567,062"},
      {"FormatThousands3(0)", [](auto& f) { return FormatThousands3(0, f); }, "0.000", "0,000", "0,000"},
      {"float text -2.5", [](auto& f) { return FloatToStrRegional(-2.5, f); }, "-2.5", "-2,5", "-2,5"},
      {"float text 0", [](auto& f) { return FloatToStrRegional(0, f); }, "0", "0", "0"},
      {"float text 1234567", [](auto& f) { return FloatToStrRegional(1234567, f); }, "1234567", "1234567",
       "1234567"},
      {"float text 1234.5", [](auto& f) { return FloatToStrRegional(1234.5, f); }, "1234.5", "1234,5", "1234,5"},
      {"float text 1e-5", [](auto& f) { return FloatToStrRegional(1.5e-5, f); }, "1.5E-5", "1,5E-5", "1,5E-5"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.text(cEnglish), c.english) << c.what;
    EXPECT_EQ(c.text(German()), c.german) << c.what;
    EXPECT_EQ(c.text(French()), c.french) << c.what;
  }
}

TEST(RegionalNumbers, ParsingTakesTheRegionalMarkOrADot) {
  struct Case {
    std::string text;
    NumberFormat fmt;
    std::optional<double> value;  // none: the conversion error
  };
  const std::vector<Case> cases = {
      {"2,5", German(), 2.5},       {"2.5", German(), 2.5},       {"2,5", cEnglish, std::nullopt},
      {"2.5", cEnglish, 2.5},       {" -1,5e3 ", German(), -1500}, {"+3", cEnglish, 3},
      {"5.", cEnglish, 5},          {",5", French(), 0.5},         {"1E-400", cEnglish, 0},
      {"1.234,5", German(), std::nullopt},                         {"1" "\u202F" "234,5", French(), std::nullopt},
      {"1e400", cEnglish, std::nullopt}, {"", cEnglish, std::nullopt}, {"abc", cEnglish, std::nullopt},
      {"e5", cEnglish, std::nullopt}, {"1e", cEnglish, std::nullopt}, {".", cEnglish, std::nullopt},
      {"--1", cEnglish, std::nullopt}, {"nan", cEnglish, std::nullopt}, {"inf", cEnglish, std::nullopt},
  };
  for (const Case& c : cases) {
    if (c.value) {
      EXPECT_EQ(ParseFloatRegional(c.text, c.fmt), *c.value) << c.text;
    } else {
      try {
        ParseFloatRegional(c.text, c.fmt);
        ADD_FAILURE() << "'" << c.text << "' converted";
      } catch (const kovra::EConvertError& e) {
        EXPECT_EQ(e.Message(), "'" + c.text + "' is not a valid floating point value");
      }
    }
  }
}

TEST(ProgramFolders, SettingsFolderFollowsXdgConfigHomeWhenAbsolute) {
  struct Case {
    const char* xdg;
    const char* home;
    std::string folder;
  };
  const std::vector<Case> cases = {
      {"/cfg/x", "/home/u", "/cfg/x/"},   {"/cfg/x/", "/home/u", "/cfg/x/"},
      {"rel/x", "/home/u", "/home/u/.config/"}, {"", "/home/u/", "/home/u/.config/"},
      {nullptr, "/home/u", "/home/u/.config/"},
  };
  for (const Case& c : cases) {
    ScopedEnv xdg("XDG_CONFIG_HOME", c.xdg);
    ScopedEnv home("HOME", c.home);
    EXPECT_EQ(CommonAppDataFolder(), c.folder) << (c.xdg ? c.xdg : "(unset)");
  }
  // Without HOME the password database names the home folder.
  ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
  ScopedEnv home("HOME", nullptr);
  const std::string folder = CommonAppDataFolder();
  EXPECT_TRUE(folder.size() > 9 && folder.front() == '/' && folder.substr(folder.size() - 9) == "/.config/")
      << folder;
}

class FolderTest : public StudioTest {};

TEST_F(FolderTest, ForceDirectoriesMakesTheParentsOrSaysWhy) {
  const std::string deep = (dir / "a" / "b" / "c").string() + "/";
  ForceDirectories(deep);
  EXPECT_TRUE(std::filesystem::is_directory(deep));
  ForceDirectories(deep);  // existing: nothing to do

  kovra::testsupport::WriteBytes((dir / "file").string(), "x");
  const std::string blocked = (dir / "file" / "sub").string() + "/";
  try {
    ForceDirectories(blocked);
    ADD_FAILURE() << "made a folder under a file";
  } catch (const kovra::EOSError& e) {
    EXPECT_EQ(e.Message(), "Cannot create folder \"" + blocked + "\". " + std::strerror(ENOTDIR));
  }
}

// The program's own name has no length limit (a path of over 300
// characters is not cut).
TEST_F(FolderTest, ExeFileNameOfALongPath) {
  const std::string self = ExeFileName();
  ASSERT_FALSE(self.empty());
  EXPECT_EQ(ExeFolder(), self.substr(0, self.rfind('/') + 1));
  // Beside the test program, so that a hard link stays on its file system.
  const std::filesystem::path top = ExeFolder() + "long_" + std::to_string(getpid());
  std::filesystem::path folder = top;
  for (int i = 0; i < 4; ++i) folder /= std::string(90, char('a' + i));
  std::filesystem::create_directories(folder);
  const std::filesystem::path copy = folder / "tests_app";
  std::error_code ec;
  std::filesystem::create_hard_link(self, copy, ec);
  if (ec) std::filesystem::copy_file(self, copy);
  ASSERT_GT(copy.string().size(), 360u);
  std::string out;
  EXPECT_EQ(kovra::testsupport::RunCommand("'" + copy.string() + "' --print-exe-file-name", &out), 0);
  EXPECT_EQ(out, copy.string() + "\n");
  std::filesystem::remove_all(top);
}

TEST_F(FolderTest, HelpBesideTheProgramThenInstalled) {
  const std::string prog = (dir / "bin").string() + "/";
  const std::string installed = (dir / "share/doc/orvellastudio/html/index.html").string();
  std::filesystem::create_directories(prog);
  EXPECT_EQ(FindHelpFile(prog), std::nullopt);
  std::filesystem::create_directories(dir / "share/doc/orvellastudio/html");
  kovra::testsupport::WriteBytes(installed, "<html></html>");
  EXPECT_EQ(FindHelpFile(prog), installed) << "the installed layout, without '..'";
  std::filesystem::create_directories(dir / "bin/help");
  kovra::testsupport::WriteBytes(prog + "help/index.html", "<html></html>");
  EXPECT_EQ(FindHelpFile(prog), prog + "help/index.html");
  std::filesystem::remove(prog + "help/index.html");
  std::filesystem::create_directories(prog + "help/index.html");
  EXPECT_EQ(FindHelpFile(prog), installed) << "a folder of that name is no page";
}
