// What the start fixes once per process: the MITAB library's availability
// and the C library's number format. Each runs in a ctest entry of its own
// with the environment it needs.
#include <clocale>
#include <cstdio>
#include <cstdlib>

#include "app/core/studio_start.h"
#include "app_fixture.h"

using namespace studio;
using namespace studio::testsupport;

namespace {
class MITABAvailability : public StudioTest {};
}  // namespace

// KOVRA_MITAB_LIBRARY names a missing file (KOVRA_EXPECT_MITAB=0) or the
// built libmitab64.so (1).
TEST_F(MITABAvailability, TabItemFollowsTheLibrary) {
  const char* expect = std::getenv("KOVRA_EXPECT_MITAB");
  ASSERT_NE(expect, nullptr) << "run through its ctest entry, which sets KOVRA_MITAB_LIBRARY";
  const bool present = std::string(expect) == "1";
  LoadLibraries();
  WriteSettings("[main]\r\noutputformat=2\r\n");
  auto form = NewForm();
  EXPECT_EQ(form->TAB1->isVisible(), present);
  EXPECT_EQ(CheckedOutputFormat(*form), present ? "TAB" : "MIF");
  EXPECT_EQ(AppState().OutputFormat, present ? kovra::TGISFormat::gfMITAB : kovra::TGISFormat::gfMIF);
  EXPECT_TRUE(form->close());
  EXPECT_EQ(DumpIni(SettingsFile()).substr(0, 28), present ? "[main]\noutputformat=2\nunit=0" : "[main]\noutputformat=1\nunit=0");
}

// Under LC_ALL=de_DE.UTF-8: Qt takes the locale from the environment, the
// start puts the C library's numbers back to "C" and keeps the German
// separators for the window.
TEST(StartLocale, NumbersOfTheCLibraryStayC) {
  const char* all = std::getenv("LC_ALL");
  ASSERT_NE(all, nullptr) << "run through its ctest entry, which sets LC_ALL";
  EXPECT_STREQ(std::setlocale(LC_CTYPE, nullptr), all) << "Qt set the locale from the environment";
  EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
  char text[16];
  std::snprintf(text, sizeof text, "%.1f", 2.5);
  EXPECT_STREQ(text, "2.5");
  EXPECT_EQ(AppState().Regional.decimal, ",");
  EXPECT_EQ(AppState().Regional.group, ".");
}
