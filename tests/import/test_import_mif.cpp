// The MIF reader against GDAL's own reader on files ogr2ogr wrote, edited
// copies of them, the coordinate system from the headers, z-levels from the
// .mid tables, and the header reader the attribute import shares.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <numbers>
#include <string>
#include <tuple>
#include <vector>

#include "import/kovra_import.h"
#include "import/kovra_import_mif.h"
#include "import/support/folder_state.h"
#include "import/support/import_fixtures.h"
#include "import/support/network_dir.h"
#include "import/support/ogr_objects.h"
#include "support/test_files.h"
#include "support/test_raises.h"

using namespace kovra;
using namespace kovra::testsupport;
namespace fs = std::filesystem;

namespace {

// The style property that makes ogr2ogr write a point as a Text object.
std::string Label(const std::string& text) { return R"x("OGR_STYLE":"LABEL(t:\")x" + text + R"x(\")")x"; }

const std::string cPoint = R"({"type":"Point","coordinates":[1,2]})";

// Every kind of object ogr2ogr writes, the words of the labels chosen to
// look like object keywords, and NONE as the file's last line.
std::vector<TJsonFeature> Objects() {
  std::vector<TJsonFeature> f = {
      {JsonLine({{512345.125, 170000.5}, {512399.75, 170010.25}}), ""},
      {JsonLine({{0.1, 0.2}, {1.0 / 3, 2.0 / 3}, {512345.123456789, -170000.987654321}}), ""},
      {R"({"type":"MultiLineString","coordinates":[[[0,0],[1,1]],[[2,2],[3,3]]]})", ""},
      {"null", ""},
      {cPoint, ""},
      {R"({"type":"Polygon","coordinates":[[[0,0],[1,0],[1,1],[0,0]]]})", ""},
      {cPoint, Label("Main Line Road")},
      {cPoint, Label("MULTIPLE lanes")},
      {cPoint, Label("COLLECTION point")},
      // One part is still MULTIPLE in a MIF file.
      {R"({"type":"MultiLineString","coordinates":[[[5,5],[6,6]]]})", ""},
  };
  for (int32_t k = 0; k < 12; ++k) {
    std::vector<TFloatPoint> pts;
    for (int32_t i = 0; i < 2 + k % 7; ++i)
      pts.push_back({400000.0 + k / 7.0 + i * 0.1 + 1e-9 * (k % 5), 200000.0 - k * std::numbers::pi + i * 0.7});
    f.push_back({JsonLine(pts), ""});
  }
  f.push_back({"null", ""});
  return f;
}

// Replaces the first From in Text; a fixture without it fails the test.
std::string Replace(std::string Text, const std::string& From, const std::string& To) {
  const size_t p = Text.find(From);
  EXPECT_NE(p, std::string::npos) << "no " << From;
  if (p != std::string::npos) Text.replace(p, From.size(), To);
  return Text;
}

// Every line of Text (from the line holding After, when given) passed through Edit.
std::string EditLines(const std::string& Text, const std::function<std::string(const std::string&)>& Edit,
                      const std::string& After = "") {
  std::string out;
  size_t start = 0;
  bool on = After.empty();
  while (start < Text.size()) {
    size_t end = Text.find('\n', start);
    if (end == std::string::npos) end = Text.size();
    const std::string line = Text.substr(start, end - start);
    on = on || line == After;
    out += (on ? Edit(line) : line) + (end < Text.size() ? "\n" : "");
    start = end + 1;
  }
  return out;
}

// 1-based number of the line holding the first Needle.
int32_t LineOf(const std::string& Text, const std::string& Needle) {
  const size_t p = Text.find(Needle);
  EXPECT_NE(p, std::string::npos) << "no " << Needle;
  return 1 + int32_t(std::count(Text.begin(), Text.begin() + std::ptrdiff_t(std::min(p, Text.size())), '\n'));
}

int32_t LinesIn(const std::string& Bytes) { return int32_t(std::count(Bytes.begin(), Bytes.end(), '\n')); }

// A MIF with one two-point line and the given header lines before Columns.
std::string Header(const std::string& Lines) {
  return "Version 300\n" + Lines + "Columns 1\n  id Integer\nData\n\nLine 1 2 3 4\n";
}

class ImportMif : public TImportTest {
protected:
  // A .mif and .mid made by ogr2ogr; Args default to British National Grid.
  std::string Mif(const std::string& Name, const std::vector<TJsonFeature>& Features,
                  const std::string& Args = "-a_srs EPSG:27700") {
    OgrConvert(Features, In(Name), "-f 'MapInfo File' -dsco FORMAT=MIF " + Args);
    return In(Name);
  }
  // A copy of a .mif with its .mid under Name, the .mif's text given.
  std::string Copy(const std::string& Source, const std::string& Name, const std::string& Text) {
    WriteBytes(In(Name), Text);
    const std::string mid = fs::path(In(Name)).replace_extension(".mid").string();
    fs::copy_file(fs::path(Source).replace_extension(".mid"), mid, fs::copy_options::overwrite_existing);
    return In(Name);
  }
};

TEST_F(ImportMif, ObjectsAsGdalReadsThem) {
  const std::string objects = Mif("objects.mif", Objects());
  const std::string text = ReadBytes(objects);
  ASSERT_TRUE(text.ends_with("\nNONE\n")) << "the fixture ends with an object without geometry";
  ASSERT_NE(text.find("\nText \"Main Line Road\""), std::string::npos);
  ASSERT_NE(text.find("\nPLINE MULTIPLE 2\n"), std::string::npos);
  // A Point as the file's very last line, with and without a line end.
  const std::string pointLast =
      Mif("pointlast.mif", {{JsonLine({{0, 0}, {10, 0}}), R"("id":1)"}, {cPoint, R"("id":2)"}});
  const std::string pointText = ReadBytes(pointLast);
  const size_t symbol = pointText.rfind("\n    Symbol");
  ASSERT_NE(symbol, std::string::npos);

  const auto lower = [](const std::string& l) {
    std::string s = l;
    for (char& ch : s) ch = char(std::tolower(static_cast<unsigned char>(ch)));
    return s;
  };
  std::string crOnly = text;
  std::replace(crOnly.begin(), crOnly.end(), '\n', '\r');

  const struct {
    std::string Name;
    std::string Source;  // the ogr2ogr file whose GDAL reading is the oracle
    std::string Text;    // the file read; "" for the source itself
  } cases[] = {
      {"as written", objects, ""},
      {"point.mif", pointLast, pointText.substr(0, symbol + 1)},
      {"pointnoend.mif", pointLast, pointText.substr(0, symbol)},
      {"crlf.mif", objects, EditLines(text, [](const std::string& l) { return l + "\r"; })},
      {"cr.mif", objects, crOnly},
      {"indented.mif", objects, EditLines(text, [](const std::string& l) { return " \t " + l + "  "; })},
      {"lowercase.mif", objects, EditLines(text, lower, "Data")},
      {"countnextline.mif", objects,
       EditLines(text, [](const std::string& l) { return l.starts_with("Pline ") ? "Pline\n  " + l.substr(6) : l; })},
      {"trailingblank.mif", objects, Replace(text, "PLINE MULTIPLE 2\n", "PLINE MULTIPLE 2 \n")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string mif = c.Text.empty() ? c.Source : Copy(c.Source, c.Name, c.Text);
    TReadStageImport imp;
    Run(imp, {mif});
    // One link per .mid line: an object lost at the end shifts every later file.
    EXPECT_EQ(imp.LinkCount(), LinesIn(ReadBytes(fs::path(c.Source).replace_extension(".mid").string())));
    ExpectAsOgrReads(c.Source, imp, ReadNetworkDir(fOut));
  }
}

// Counts outside 2..65535 are error records; the lines of a count that is
// not read belong to no object, and a one-vertex line consumes its vertex.
TEST_F(ImportMif, VertexCounts) {
  WriteBytes(In("counts.mif"), Header("") +
                                   "Pline 1\n5 5\n"
                                   "Pline 0\n"
                                   "Pline 65536\n0 0\n1 1\n"
                                   "Pline -2\n"
                                   "Line 0 0 1 1\n"
                                   "PLINE MULTIPLE 1\n  2\n0 0\n1 1\n"
                                   "Pline 2\n3 3\n3 3\n");
  TReadStageImport imp;
  Run(imp, {In("counts.mif")});
  ASSERT_EQ(imp.LinkCount(), 8);
  std::vector<std::tuple<int32_t, TErrorCode, int32_t>> errors;
  for (int32_t e = 0; e < imp.ImportErrorList().Count(); ++e) {
    const TImportError& x = imp.ImportErrorList().GetItem(e);
    errors.emplace_back(x.link, x.errorcode, x.value);
  }
  EXPECT_EQ(errors, (std::vector<std::tuple<int32_t, TErrorCode, int32_t>>{{2, ecZeroOrOneVertices, 1},
                                                                         {3, ecZeroOrOneVertices, 0},
                                                                         {4, ecTooManyVertices, 65536},
                                                                         {5, ecZeroOrOneVertices, -2},
                                                                         {7, ecMultiSection, 1},
                                                                         {8, ecZeroOrOneVertices, 1}}));
  const TNetworkDir net = ReadNetworkDir(fOut);
  EXPECT_EQ(net.Polyline(1), (std::vector<TFloatPoint>{{1, 2}, {3, 4}}));
  EXPECT_EQ(net.Polyline(6), (std::vector<TFloatPoint>{{0, 0}, {1, 1}}));
}

// Each fault is refused with its file, and its line where known; the run
// leaves no file and never writes its input.
TEST_F(ImportMif, FaultsNameTheirPlace) {
  const std::string small = Mif("small.mif", {{JsonLine({{0, 0}, {10, 0}}), R"("zf":0,"zt":0)"},
                                              {JsonLine({{10, 0}, {10, 10}, {20, 10}}), R"("zf":0,"zt":0)"},
                                              {"null", R"("zf":0,"zt":0)"},
                                              {cPoint, R"("zf":0,"zt":0)"}});
  const std::string text = ReadBytes(small);
  const std::string pline = "Pline 3\n10 0\n10 10\n20 10\n";
  ASSERT_NE(text.find(pline), std::string::npos);
  ASSERT_NE(text.find("Columns 2\n"), std::string::npos);
  const size_t vertices = text.find(pline) + 8;
  // The edited files all have the same name, so the messages can be written down.
  const std::string f = In("bad.mif");
  const std::string mid = In("bad.mid");

  const struct {
    std::string Name;
    std::string Text;
    std::string Message;
    int32_t ZFrom = -1;  // the second z-level field is 1 when this is set
    bool NoMid = false;
  } cases[] = {
      {"cut after a vertex line", text.substr(0, vertices + 5), "Unexpected end of file in " + f},
      {"cut inside a vertex line", text.substr(0, vertices + 7),
       "Invalid coordinate in " + f + " line " + std::to_string(LineOf(text, pline) + 2)},
      {"collection", Replace(text, "NONE\n", "Collection 1\n  Pline 2\n0 0\n1 1\n"),
       "Collections are not supported in MIF translator (line " + std::to_string(LineOf(text, "NONE\n")) + " of " + f +
           ")"},
      {"count no number", Replace(text, "Pline 3\n", "Pline three\n"),
       "'three' is not a valid integer value (line " + std::to_string(LineOf(text, pline)) + " of " + f + ")"},
      {"count missing at the end", Replace(text, "NONE\n", "Pline\n").substr(0, text.find("NONE\n") + 6),
       "Unexpected end of file in " + f},
      {"sections no number", Replace(text, "Pline 3\n", "PLINE MULTIPLE 2x\n"),
       "'2x' is not a valid integer value (line " + std::to_string(LineOf(text, pline)) + " of " + f + ")"},
      {"line of three numbers", Replace(text, "Line 0 0 10 0\n", "Line 0 0 10\n"),
       "Invalid coordinate in " + f + " line " + std::to_string(LineOf(text, "Line 0 0 10 0"))},
      {"vertex beyond the double range", Replace(text, pline, "Pline 3\n10 0\n10 1e400\n20 10\n"),
       "Invalid coordinate in " + f + " line " + std::to_string(LineOf(text, pline) + 2)},
      {"vertex with text after the number", Replace(text, pline, "Pline 3\n10 0\n10 10m\n20 10\n"),
       "Invalid coordinate in " + f + " line " + std::to_string(LineOf(text, pline) + 2)},
      {"vertex not a number", Replace(text, pline, "Pline 3\n10 0\nnan 10\n20 10\n"),
       "Coordinates (NAN,10) not valid for chosen coordinate unit"},
      {"columns no number", Replace(text, "Columns 2\n", "Columns two\n"),
       "'two' is not a valid integer value (line " + std::to_string(LineOf(text, "Columns 2")) + " of " + f + ")"},
      {"columns past the end", Replace(text, "Columns 2\n", "Columns 99\n"), "Unexpected end of file in " + f},
      {"semicolon delimiter", Replace(text, "Delimiter \",\"", "Delimiter \";\""),
       "Unsupported MID delimiter \";\" in " + f, 0},
      {"no mid", text, "Cannot open file \"" + mid + "\". No such file or directory", 0, true},
  };
  const TFolderState inputs = FolderState(fIn);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Copy(small, "bad.mif", c.Text);
    if (c.NoMid) fs::remove(mid);
    const TFolderState before = FolderState(fIn);
    TReadStageImport imp;
    imp.SetDirectory(fOut);
    imp.Add(f);
    imp.SetZFromField(c.ZFrom);
    imp.SetZToField(c.ZFrom < 0 ? -1 : 1);
    EXPECT_EQ(ExecuteError(imp), c.Message);
    EXPECT_TRUE(NoFileOfRunRemains({}, fOut));
    EXPECT_TRUE(NoFileOfRunRemains(before, fIn));
  }
  // The delimiter matters only to the z-levels.
  Copy(small, "bad.mif", Replace(text, "Delimiter \",\"", "Delimiter \";\""));
  TReadStageImport imp;
  Run(imp, {f});
  EXPECT_EQ(imp.LinkCount(), 4);
  fs::remove(f);
  fs::remove(mid);
  EXPECT_TRUE(NoFileOfRunRemains(inputs, fIn));
}

TEST_F(ImportMif, UnitAndCoordSysFromTheFirstHeader) {
  const struct {
    std::string CoordSysLine;
    TCoordinateUnit Given;
    TCoordinateUnit Unit;
    std::string CoordSys;
  } cases[] = {
      {"CoordSys NonEarth Units \"survey ft\" Bounds (0, 0) (100, 100)\n", cuUnknown, cuSurveyft,
       "COORDSYS NONEARTH UNITS \"SURVEY FT\" BOUNDS (0, 0) (100, 100)"},
      {"CoordSys NonEarth Units \"furlong\" Bounds (0, 0) (100, 100)\n", cuUnknown, cuM,
       "COORDSYS NONEARTH UNITS \"FURLONG\" BOUNDS (0, 0) (100, 100)"},
      {"CoordSys NonEarth Units \"li\" Bounds (0, 0) (100, 100)\n", cuUnknown, cuLink,
       "COORDSYS NONEARTH UNITS \"LI\" BOUNDS (0, 0) (100, 100)"},
      {"CoordSys NonEarth Units \"chain\" Bounds (0, 0) (100, 100)\n", cuUnknown, cuChain,
       "COORDSYS NONEARTH UNITS \"CHAIN\" BOUNDS (0, 0) (100, 100)"},
      {"", cuUnknown, cuDeg, "CoordSys Earth Projection 1, 0"},
      {"\t coordsys earth projection 1, 104  \r\n", cuUnknown, cuDeg, "COORDSYS EARTH PROJECTION 1, 104"},
      {"CoordSys Earth Projection 8, 79, \"m\", -2, 49, 0.9996012717, 400000, -100000\n", cuUnknown, cuM,
       "COORDSYS EARTH PROJECTION 8, 79, \"M\", -2, 49, 0.9996012717, 400000, -100000"},
      {"CoordSys Earth Projection 8, 79, \"m\", -2, 49, 0.9996012717, 400000, -100000\n", cuFt, cuFt,
       "COORDSYS EARTH PROJECTION 8, 79, \"M\", -2, 49, 0.9996012717, 400000, -100000"},
      // Only the header counts: a CoordSys in a text object is no header line.
      {"", cuUnknown, cuDeg, "CoordSys Earth Projection 1, 0"},
  };
  for (size_t k = 0; k < std::size(cases); ++k) {
    const auto& c = cases[k];
    SCOPED_TRACE(c.CoordSys);
    std::string text = Header("Charset \"WindowsLatin1\"\n" + c.CoordSysLine);
    if (k + 1 == std::size(cases)) text += "Text \"x\"\nCoordSys Earth Projection 8, 79, \"m\"\n";
    WriteBytes(In("u.mif"), text);
    TReadStageImport imp;
    imp.SetCoordSys("caller's");
    imp.SetCoordinateUnit(c.Given);
    Run(imp, {In("u.mif")});
    EXPECT_EQ(imp.CoordinateUnit(), c.Unit);
    EXPECT_EQ(imp.CoordSys(), c.CoordSys);
    EXPECT_EQ(imp.LinkCount(), k + 1 == std::size(cases) ? 2 : 1);
  }
}

TEST_F(ImportMif, CoordSysOfSeveralFiles) {
  const std::string bng = "CoordSys Earth Projection 8, 79, \"m\", -2, 49, 0.9996012717, 400000, -100000\n";
  WriteBytes(In("bng.mif"), Header(bng));
  WriteBytes(In("upper.mif"), Header(UpperAscii(bng)));
  WriteBytes(In("wgs.mif"), Header("CoordSys Earth Projection 1, 104\n"));
  WriteBytes(In("none.mif"), Header(""));
  WriteBytes(In("latlong.mif"), Header("coordsys earth projection 1, 0\n"));
  const struct {
    std::vector<std::string> Files;
    bool Fail;
    std::string Message;
  } cases[] = {
      {{"bng.mif", "upper.mif"}, true, ""},
      {{"bng.mif", "wgs.mif"}, true, "Different Coordsys in input tables"},
      {{"bng.mif", "wgs.mif"}, false, ""},
      // No CoordSys line means longitude and latitude.
      {{"bng.mif", "none.mif"}, true, "Different Coordsys in input tables"},
      {{"none.mif", "bng.mif"}, true, "Different Coordsys in input tables"},
      {{"none.mif", "latlong.mif"}, true, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Files[0] + " " + c.Files[1]);
    const TFolderState before = FolderState(fOut);
    TReadStageImport imp;
    imp.SetDirectory(fOut);
    for (const std::string& name : c.Files) imp.Add(In(name));
    imp.SetFailOnDifferentCoordSys(c.Fail);
    EXPECT_EQ(ExecuteError(imp), c.Message);
    if (c.Message.empty()) {
      EXPECT_EQ(imp.LinkCount(), 2);
      // The first file's text stands for the run.
      const std::string expected =
          c.Files[0] == "none.mif" ? "CoordSys Earth Projection 1, 0" : UpperAscii(TrimView(bng));
      EXPECT_EQ(imp.CoordSys(), expected);
    } else {
      EXPECT_TRUE(NoFileOfRunRemains(before, fOut));
    }
  }
}

// Level z moves an end 0.1 m (in metres) z * 20 degrees clockwise from north.
TFloatPoint Moved(TFloatPoint p, int z) {
  const double r = z == -9 ? 0.2 : 0.1;
  const double a = z * 20 * std::numbers::pi / 180;
  return TFloatPoint{p.x + r * std::sin(a), p.y + r * std::cos(a)};
}

void ExpectNear(TFloatPoint a, TFloatPoint b) {
  EXPECT_NEAR(a.x, b.x, 1e-9);
  EXPECT_NEAR(a.y, b.y, 1e-9);
}

// One .mid line per object, rejected objects included, each .mid beside its
// own .mif; a bad level names its .mid line.
TEST_F(ImportMif, ZLevelsFromTheMidLines) {
  const std::string a = Mif("a.mif", {{JsonLine({{0, 0}, {1, 0}}), R"("name":"x, y","zf":1,"zt":0)"},
                                      {"null", R"("name":"z","zf":9,"zt":9)"},
                                      {cPoint, R"("name":"","zf":0,"zt":0)"}});
  const std::string b = Mif("b.mif", {{JsonLine({{5, 5}, {6, 5}}), R"("name":"Stra\u00dfe","zf":2,"zt":4)"},
                                      {JsonLine({{6, 5}, {7, 5}}), R"("name":"w","zf":0,"zt":-9)"}},
                            "-a_srs EPSG:27700 -lco ENCODING=CP1252");
  {
    TReadStageImport imp;
    imp.SetZFromField(1);
    imp.SetZToField(2);
    Run(imp, {a, b});
    ASSERT_EQ(imp.LinkCount(), 5);
    const TNetworkDir net = ReadNetworkDir(fOut);
    ExpectNear(net.Polyline(1).front(), Moved({0, 0}, 1));
    EXPECT_EQ(net.Polyline(1).back(), (TFloatPoint{1, 0}));
    // Link 4 is the first object of b: line 1 of b.mid.
    ExpectNear(net.Polyline(4).front(), Moved({5, 5}, 2));
    ExpectNear(net.Polyline(4).back(), Moved({6, 5}, 4));
    ExpectNear(net.Polyline(5).back(), Moved({7, 5}, -9));
  }

  const std::string bMid = ReadBytes(In("b.mid"));
  ASSERT_EQ(LinesIn(bMid), 2);
  const std::string line1 = bMid.substr(0, bMid.find('\n') + 1);
  const std::string where1 = " (line 1 of " + In("b.mid") + ")";
  const std::string where2 = " (line 2 of " + In("b.mid") + ")";
  const struct {
    std::string Mid;
    std::string Message;
  } cases[] = {
      {Replace(bMid, ",2,4", ",-10,4"), "Z-levels of out range (-9..9)" + where1},
      {Replace(bMid, ",2,4", ",2,x"), "'x' is not a valid integer value" + where1},
      {line1 + "\"w\",0\n", "Invalid fields for Z-levels defined" + where2},
      // Fewer lines than objects: counted against the file's objects.
      {line1, "The MIF and MID files do not have the same number of records (2 objects in " + b + ", 1 lines in " +
                  In("b.mid") + ")"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Message);
    WriteBytes(In("b.mid"), c.Mid);
    const TFolderState before = FolderState(fOut);
    TReadStageImport imp;
    imp.SetDirectory(fOut);
    imp.AddFiles({a, b});
    imp.SetZFromField(1);
    imp.SetZToField(2);
    EXPECT_EQ(ExecuteError(imp), c.Message);
    EXPECT_TRUE(NoFileOfRunRemains(before, fOut));
  }
}

// Each .mid is counted against its own .mif: a table one line short beside
// one a line long has the right total, and would hand every level after the
// missing line to the object before its own.
TEST_F(ImportMif, ZLevelTablesOfAnotherLengthAreRefused) {
  std::vector<TJsonFeature> roads;
  for (int32_t k = 0; k < 3; ++k)
    roads.push_back({JsonLine({{double(k), 0}, {double(k) + 1, 0}}), R"("zf":)" + std::to_string(k) + R"(,"zt":0)"});
  const std::string a = Mif("a.mif", roads), b = Mif("b.mif", roads);
  const std::string aMid = ReadBytes(In("a.mid")), bMid = ReadBytes(In("b.mid"));
  ASSERT_EQ(LinesIn(aMid), 3);
  WriteBytes(In("a.mid"), aMid.substr(0, aMid.rfind('\n', aMid.size() - 2) + 1));
  WriteBytes(In("b.mid"), bMid + "9,0\n");
  TReadStageImport imp;
  imp.SetDirectory(fOut);
  imp.SetZFromField(0);
  imp.SetZToField(1);
  imp.AddFiles({a, b});
  EXPECT_EQ(ExecuteError(imp), "The MIF and MID files do not have the same number of records (3 objects in " + a +
                                   ", 2 lines in " + In("a.mid") + ")");
  EXPECT_TRUE(NoFileOfRunRemains({}, fOut));
}

TEST_F(ImportMif, HeaderReader) {
  // "Улица" in code page 1251.
  const std::string street = "\xD3\xEB\xE8\xF6\xE0";
  const std::string declared =
      "Version 300\r\n"
      "  charset \"WindowsCyrillic\"\r\n"
      "Delimiter \";\"\r\n"
      "CoordSys Earth Projection 8, 79, \"m\", -2, 49, 0.9996012717, 400000, -100000  \r\n"
      "Columns 5\r\n"
      "  CHARSET_CODE Char(10)\r\n"
      "  Data Integer\r\n"
      "  Charset Char(5)\r\n"
      "  " + street + " Char(20)\r\n"
      "  Columns Integer\r\n"
      "Data\r\n"
      "\r\n"
      "Text \"CoordSys Earth Projection 1, 104\"\r\n";
  WriteBytes(In("declared.mif"), declared);
  const TMifHeader h = ReadMifHeader(In("declared.mif"));
  EXPECT_TRUE(h.HasCharset);
  EXPECT_EQ(h.Charset, "WindowsCyrillic");
  EXPECT_EQ(h.CodePage(), 1251);
  EXPECT_EQ(h.Delimiter, ";");
  EXPECT_FALSE(h.CommaTextDelimiter());
  EXPECT_EQ(h.CoordSys, "CoordSys Earth Projection 8, 79, \"m\", -2, 49, 0.9996012717, 400000, -100000");
  EXPECT_EQ(h.Columns, (std::vector<std::string>{"CHARSET_CODE", "Data", "Charset", "Улица", "Columns"}));
  EXPECT_EQ(h.Size, int64_t(declared.size()));
  EXPECT_EQ(h.DataLine, 12);
  EXPECT_EQ(h.DataOffset, int64_t(declared.find("Data\r\n\r\n") + 6));

  // What ogr2ogr declares; a charset name the list lacks is the system ANSI
  // code page (0), no Charset line at all 1252.
  const std::string cyrillic =
      Mif("cyrillic.mif", {{JsonLine({{0, 0}, {1, 0}}), R"("Улица":"Тверская","zf":1)"}},
          "-lco ENCODING=CP1251");
  WriteBytes(In("bare.mif"), "Version 300\nColumns 1\n  id Integer\n");
  const struct {
    std::string File;
    std::vector<std::string> Columns;
    uint16_t CodePage;
    std::string Delimiter;
    bool Comma;
  } cases[] = {
      {cyrillic, {"Улица", "zf"}, 1251, ",", true},
      {Mif("neutral.mif", {{JsonLine({{0, 0}, {1, 0}}), R"("zf":1)"}}), {"zf"}, 0, ",", true},
      {In("bare.mif"), {"id"}, 1252, "\t", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.File);
    const TMifHeader m = ReadMifHeader(c.File);
    EXPECT_EQ(m.Columns, c.Columns);
    EXPECT_EQ(m.CodePage(), c.CodePage);
    EXPECT_EQ(m.Delimiter, c.Delimiter);
    EXPECT_EQ(m.CommaTextDelimiter(), c.Comma);
  }
  // No Data line: the header runs to the end and no object follows.
  const TMifHeader bare = ReadMifHeader(In("bare.mif"));
  EXPECT_EQ(bare.DataOffset, bare.Size);
}

// The same data as MIF and as a shapefile give the same read stage: vertex
// files byte for byte and the same error list. Coordinates of at most 15
// digits, so that ogr2ogr's MIF text holds the very doubles of the shapefile.
TEST_F(ImportMif, SameReadStageAsTheShapefileOfTheSameData) {
  std::vector<TJsonFeature> first, second;
  for (int32_t k = 0; k < 40; ++k) {
    std::vector<TFloatPoint> pts;
    for (int32_t i = 0; i < 2 + k % 5; ++i) pts.push_back({400000.125 + k * 10.5 + i * 3.25, 200000.5 - i * 7.75});
    const std::string levels = "\"zf\":" + std::to_string(k % 19 - 9) + ",\"zt\":" + std::to_string(k % 3);
    (k < 25 ? first : second).push_back({JsonLine(pts), levels});
  }
  // Rejected objects in both files: no geometry, two sections, a closed
  // line, one repeated vertex.
  first.insert(first.begin() + 3, {"null", R"("zf":0,"zt":0)"});
  first.insert(first.begin() + 7,
               {R"({"type":"MultiLineString","coordinates":[[[0,0],[1,1]],[[2,2],[3,3]]]})", R"("zf":1,"zt":1)"});
  second.insert(second.begin() + 2, {JsonLine({{5, 5}, {6, 5}, {6, 6}, {5, 5}}), R"("zf":0,"zt":0)"});
  second.push_back({JsonLine({{7, 7}, {7, 7}}), R"("zf":0,"zt":0)"});
  second.push_back({"null", R"("zf":0,"zt":0)"});

  const std::vector<std::string> mif = {Mif("first.mif", first), Mif("second.mif", second)};
  const std::vector<std::string> shp = {Shapefile("first.shp", first), Shapefile("second.shp", second)};
  struct TRead {
    TFolderState Files;
    std::vector<std::tuple<int32_t, int32_t, int32_t, int, int32_t>> Errors;
    TCoordinateUnit Unit = cuUnknown;
  };
  auto read = [&](const std::vector<std::string>& files, int64_t key) {
    fs::remove_all(fOut);
    fs::create_directories(fOut);
    TReadStageImport imp;
    imp.SetEncryptionKey(key);
    imp.SetZFromField(0);
    imp.SetZToField(1);
    Run(imp, files);
    TRead r{FolderState(fOut), {}, imp.CoordinateUnit()};
    for (int32_t e = 0; e < imp.ImportErrorList().Count(); ++e) {
      const TImportError& x = imp.ImportErrorList().GetItem(e);
      r.Errors.emplace_back(x.fileindex, x.linklocal, x.link, int(x.errorcode), x.value);
    }
    return r;
  };
  for (const int64_t key : {int64_t(0), int64_t(-77)}) {
    const TRead fromMif = read(mif, key), fromShp = read(shp, key);
    EXPECT_EQ(fromMif.Unit, cuM);
    EXPECT_EQ(fromMif.Unit, fromShp.Unit);
    ASSERT_EQ(fromMif.Files.size(), 4u);
    EXPECT_TRUE(fromMif.Files == fromShp.Files) << "key " << key;
    EXPECT_EQ(fromMif.Errors, fromShp.Errors);
    EXPECT_EQ(fromMif.Errors.size(), 5u);
  }
}

// Progress follows the bytes read; a cancel stops reading every file and
// leaves the folder as it was.
TEST_F(ImportMif, ProgressByBytesAndCancel) {
  std::vector<TJsonFeature> roads;
  for (int32_t k = 0; k < 30; ++k) roads.push_back({JsonLine({{0, double(k)}, {1, double(k)}}), R"("id":1)"});
  const std::vector<std::string> files = {Mif("a.mif", roads), Mif("b.mif", roads)};
  std::vector<int32_t> reported;
  int32_t cancelAt = 0;
  TReadStageImport imp;
  imp.SetOnProgress([&](TObject*, int32_t progress, bool& cancel) {
    reported.push_back(progress);
    if (cancelAt > 0 && progress >= cancelAt) cancel = true;
  });
  Run(imp, files);
  EXPECT_EQ(imp.LinkCount(), 60);
  ASSERT_GE(reported.size(), 20u);
  EXPECT_TRUE(std::is_sorted(reported.begin(), reported.end() - 1));
  // The last object's line lies within the last few bytes of the last file.
  EXPECT_EQ(reported[reported.size() - 2], 26);
  EXPECT_EQ(reported.back(), 0);

  // Half of the bytes lie in the first file.
  cancelAt = 5;
  reported.clear();
  const TFolderState before = FolderState(fOut);
  imp.Execute();
  EXPECT_TRUE(imp.Cancelled());
  EXPECT_GT(imp.LinkCount(), 0);
  EXPECT_LT(imp.LinkCount(), 30);
  EXPECT_TRUE(NoFileOfRunRemains(before, fOut));
}

// A read the disk fails is an error naming the file, not the end of the file
// (reading /proc/self/mem at offset 0 fails with EIO).
TEST_F(ImportMif, FailingReadIsAnError) {
  const std::string mif = In("failing.mif");
  std::filesystem::create_symlink("/proc/self/mem", mif);
  WriteBytes(In("failing.mid"), "");
  TImport imp;
  imp.SetDirectory(fOut);
  imp.Add(mif);
  EXPECT_EQ(MessageOf<EReadError>([&] { imp.Execute(); }),
            "Cannot read file \"" + mif + "\". " + std::string(std::strerror(EIO)));
}

}  // namespace
