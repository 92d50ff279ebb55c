// The import report "network_report.txt".
#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "import/kovra_import.h"
#include "import/support/import_fixtures.h"
#include "support/gdal_readback.h"
#include "support/test_files.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

// A report whose every error text and figure is known: rejected objects of
// each kind the build and a test reader can make, in link order.
class TReportImport : public TReadStageImport {
public:
  using TBaseImport::fAllowLoops;

protected:
  void Build() override {
    BuildNetwork(26);
    // Records of the kinds no shapefile makes.
    fImportErrorList.Add(TImportError{0, 8, 8, ecDeleted, 0});
    fImportErrorList.Add(TImportError{0, 9, 9, ecNotPolyLine, 5});
    fImportErrorList.Add(TImportError{0, 10, 10, ecNotPolyLine, 0});
    fImportErrorList.Add(TImportError{0, 11, 11, ecTooManyVertices, 65536});
    fImportErrorList.Add(TImportError{0, 12, 12, ecInvalidGeography, 0});
  }
};

class ImportReport : public TImportTest {
protected:
  std::string Report() const { return ReadBytes(fOut + "/network_report.txt"); }
  // The report with its two time stamps masked.
  std::string Masked() const {
    return std::regex_replace(Report(), std::regex(R"((Start|End): \d\d-[A-Z][a-z][a-z]-\d{4} \d\d:\d\d:\d\d)"),
                              "$1: <time>");
  }
};

TEST_F(ImportReport, GoldenWithEveryErrorText) {
  const std::string shp = Shapefile(
      "roads.shp",
      {{JsonLine({{0, 0}, {3, 0}, {3, 4}}), ""},
       {"null", ""},
       {R"({"type":"MultiLineString","coordinates":[[[0,0],[1,0]],[[2,0],[3,0]]]})", ""},
       {JsonLine({{5, 5}, {5, 5}}), ""},
       {JsonLine({{0, 0}, {1, 0}, {1, 1}, {0, 0}}), ""},
       {JsonLine({{0, 0}, {1e-46, 0}}), ""},
       {JsonLine({{3, 4}, {12345678.9876, 4}}), ""}},
      "-a_srs EPSG:27700");
  TReportImport imp;
  imp.SetDirectory(fOut);
  imp.Add(shp);
  imp.SetCoordinateUnit(cuKm);
  imp.Execute();
  imp.CreateReport();
  const std::string path = std::filesystem::absolute(shp).lexically_normal().string();
  const std::string expected =
      "*********************************************\r\n"
      "\r\n"
      "Report for creation of network with Kovra 4.39\r\n"
      "Library version: Kovra C++ library, network file version 400\r\n"
      "Internal version date: 2021-01-08\r\n"
      "\r\n"
      "Start: <time>\r\n"
      "\r\n"
      "*********************************************\r\n"
      "\r\n"
      "Coordinate unit: Km (8)\r\n"
      "\r\n"
      "Input files:\r\n" +
      path +
      "\r\n"
      "\r\n"
      "No Z-level modification\r\n"
      "\r\n"
      "Loop links were not allowed\r\n"
      "\r\n"
      "Coordinate system(s):\r\n"
      "CoordSys NonEarth Units \"km\" Bounds (0, 0) (12345678.9876, 4)\r\n"
      "\r\n"
      "+++ Error-report +++\r\n"
      "(1) Object 2 is not geocoded\r\n"
      "(3) Object 3 has 2 sections\r\n"
      "(4) Object 4 has only 1 vertices\r\n"
      "(5) Object 5 is a loop link\r\n"
      "(8) Object 6 is a single point\r\n"
      "(0) Object 8 is deleted\r\n"
      "(2) Object 9 is not a (poly)line, but type 5\r\n"
      "(2) Object 10 is not a (poly)line\r\n"
      "(6) Object 11 has 65536 vertices (max 65535)\r\n"
      "(7) Object 12 has invalid geography (MS SQL)\r\n"
      "+++ Error-report +++\r\n"
      "\r\n"
      "Maximum degree: 2\r\n"
      "\r\n"
      "Total length of streets: 12345682.990 km\r\n"
      "Average per link:        1763668.998 km\r\n"
      "\r\n"
      "Links in database: 7\r\n"
      "Nodes created: 3\r\n"
      "\r\n"
      "End: <time>\r\n";
  EXPECT_EQ(Masked(), expected);

  // The same bytes whatever the locale's number format.
  const std::string before = Report();
  const char* de = std::setlocale(LC_ALL, "de_DE.UTF-8");
  if (de) {
    imp.CreateReport();
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(Report(), before);
  }
  std::string out;
  EXPECT_EQ(RunCommand("uconv -f cp1252 -t utf-8 '" + fOut + "/network_report.txt' > /dev/null 2>&1", &out), 0);
}

TEST_F(ImportReport, OptionalLinesAndEmptyRun) {
  TReportImport imp;
  imp.SetDirectory(fOut);
  imp.Add(Shapefile("deg.shp", {{"null", ""}}, ""));
  imp.fAllowLoops = true;
  imp.SetSkipSpatialIndex(true);
  imp.SetCoordinateUnit(cuDeg);
  imp.SetZFromField(0);
  imp.Execute();
  imp.CreateReport();
  const std::string r = Masked();
  for (const char* line : {"\r\nLoop links were allowed\r\nSpatial index not created\r\n",
                           "Coordinate unit: Degrees (2)\r\n", "Coordinate system(s):\r\n\r\n",
                           "Maximum degree: 0\r\n", "Total length of streets: 0.000 km\r\n",
                           "Average per link:        0.000 km\r\n", "Nodes created: 0\r\n"})
    EXPECT_NE(r.find(line), std::string::npos) << line;
}

// The input block names the z-level fields only when both are set and the
// reader took the z-levels from them.
TEST_F(ImportReport, ZLevelLine) {
  const std::string shp =
      Shapefile("z.shp", {{JsonLine({{0, 0}, {3, 0}}), R"("a":0,"b":0,"c":0,"zf":1,"zt":-2)"},
                          {JsonLine({{3, 0}, {3, 4}}), R"("a":0,"b":0,"c":0,"zf":-2,"zt":0)"}});
  const std::string input = "Input files:\r\n" + std::filesystem::absolute(shp).lexically_normal().string() + "\r\n\r\n";
  struct {
    int32_t from, to;
    std::string line;
  } cases[] = {
      {3, 4, "Z-level information extracted from field 3 and 4"},
      {4, 3, "Z-level information extracted from field 4 and 3"},
      {3, -1, "No Z-level modification"},
      {-1, 4, "No Z-level modification"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    TImport imp;
    imp.SetDirectory(fOut);
    imp.Add(shp);
    imp.SetZFromField(c.from);
    imp.SetZToField(c.to);
    imp.Execute();
    imp.CreateReport();
    EXPECT_NE(Report().find(input + c.line + "\r\n\r\nLoop links were not allowed\r\n"), std::string::npos)
        << Report();
  }
}

}  // namespace
