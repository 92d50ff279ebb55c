// CoordSys text, unit and transform from MapInfo map headers: headers GDAL
// wrote (checked against the CoordSys GDAL itself writes into MIF files),
// those headers patched, and headers of the test's own writer.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "import/kovra_coordsys.h"
#include "import/support/import_fixtures.h"
#include "import/support/tab_fixture.h"
#include "support/gdal_readback.h"
#include "support/test_files.h"

using namespace kovra;
using namespace kovra::testsupport;
namespace fs = std::filesystem;

namespace {

struct TCoordSys {
  double XScale = 0, YScale = 0, XDispl = 0, YDispl = 0;
  TCoordinateUnit Unit = cuUnknown;
  std::string Text;
};

TCoordSys FromMap(const std::string& map) {
  TMapFile m(map, map);
  TCoordSys c;
  MapHeaderToCoordSys(m, c.XScale, c.YScale, c.XDispl, c.YDispl, c.Unit, c.Text);
  return c;
}

// The text without its bounds clause.
std::string Head(const std::string& text) { return text.substr(0, text.find(" Bounds (")); }

class CoordSys : public TImportTest {
protected:
  // The .map of a one-line table ogr2ogr writes with Args.
  std::string OgrMap(const std::string& name, const std::string& args) {
    OgrConvert({{JsonLine({{1, 1}, {2, 2}}), R"("id":1)"}}, In(name + ".tab"), "-f 'MapInfo File' " + args);
    return In(name + ".map");
  }
  // The .map of a table of the test's writer with this header.
  std::string WriterMap(const std::string& name, const TTabHeader& h) {
    TTabFixture f;
    f.Header = h;
    return WriteTabFixture(In(name), f).Map;
  }
};

// Everything but the datum number as GDAL writes it into a MIF file (GDAL
// names some datums by another number, 79 as 104).
TEST_F(CoordSys, AsGdalWritesIt) {
  // Projections of 0, 3, 4, 5 and 6 parameters, and a NonEarth table.
  for (const char* srs : {"EPSG:27700", "EPSG:4326", "EPSG:2154", "EPSG:3035", "EPSG:28992", "EPSG:2056",
                          "EPSG:3031"}) {
    SCOPED_TRACE(srs);
    const std::string name = std::string(srs).replace(std::string(srs).find(':'), 1, "_");
    const std::string map = OgrMap(name, std::string("-a_srs ") + srs);
    const std::string mif = In(name + ".mif");
    std::string output;
    ASSERT_EQ(RunCommand("ogr2ogr -f 'MapInfo File' -dsco FORMAT=MIF '" + mif + "' '" + In(name + ".tab") + "' 2>&1",
                         &output),
              0)
        << output;
    const std::string text = ReadBytes(mif);
    const size_t k = text.find("CoordSys ");
    ASSERT_NE(k, std::string::npos);
    const std::string gdal = text.substr(k, text.find('\n', k) - k);
    const std::string ours = Head(FromMap(map).Text);
    // Drop the datum, the second number after "Projection".
    const auto withoutDatum = [](std::string t) {
      const size_t a = t.find(", ");
      if (t.rfind("CoordSys Earth", 0) != 0 || a == std::string::npos) return t;
      const size_t b = t.find(", ", a + 2);
      return t.substr(0, a) + (b == std::string::npos ? "" : t.substr(b));
    };
    EXPECT_EQ(withoutDatum(ours), withoutDatum(gdal));
  }
}

TEST_F(CoordSys, HeadersOfGdalTables) {
  const std::string bng = OgrMap("bng", "-a_srs EPSG:27700");
  const std::string bounded = OgrMap("bounded", "-a_srs EPSG:27700 -lco BOUNDS=0,-100000,2000000,1900000");
  const std::string wgs = OgrMap("wgs", "-a_srs EPSG:4326");
  const std::string bngText =
      "CoordSys Earth Projection 8, 79, \"m\", -2, 49, 0.9996012717, 400000, -100000 Bounds (-7845061.1011034, "
      "-15524202.1641258) (8645061.1011034, 4470074.53373206)";
  struct TCase {
    std::string Name;
    std::string Map;
    std::vector<std::pair<int64_t, std::string>> Patches;  // offset, bytes
    std::string Text;
  };
  auto bytesOf = [](auto v) { return std::string(reinterpret_cast<const char*>(&v), sizeof v); };
  const std::string noDatum = bytesOf(int16_t(0));
  const std::vector<TCase> cases = {
      {"bng", bng, {}, bngText},
      {"bounded",
       bounded,
       {},
       "CoordSys Earth Projection 8, 79, \"m\", -2, 49, 0.9996012717, 400000, -100000 Bounds (0, -100000) "
       "(2000000, 1900000)"},
      // Quadrant 3 turns both axes round.
      {"quadrant3",
       bounded,
       {{353, bytesOf(uint8_t(3))}},
       "CoordSys Earth Projection 8, 79, \"m\", -2, 49, 0.9996012717, 400000, -100000 Bounds (2000000, 1900000) "
       "(0, -100000)"},
      // Found again from the ellipsoid and the shifts.
      {"bng found", bng, {{362, noDatum}}, bngText},
      {"shift 999",
       bng,
       {{362, noDatum}, {448, bytesOf(376.5)}},
       "CoordSys Earth Projection 8, 999, 9, 376.5, -111, 431, \"m\", -2, 49, 0.9996012717, 400000, -100000" +
           bngText.substr(bngText.find(" Bounds"))},
      {"rotation 9999",
       bng,
       {{362, noDatum}, {480, bytesOf(-0.25)}, {496, bytesOf(1.5e-7)}},
       "CoordSys Earth Projection 8, 9999, 9, 375, -111, 431, 0, -0.25, 0, 1.5E-7, 0, \"m\", -2, 49, "
       "0.9996012717, 400000, -100000" +
           bngText.substr(bngText.find(" Bounds"))},
      {"wgs", wgs, {}, "CoordSys Earth Projection 1, 104"},
      {"wgs precision 8", wgs, {{352, bytesOf(uint8_t(8))}},
       "CoordSys Earth Projection 1, 104 Bounds (-1000, -1000) (1000, 1000)"},
      {"wgs found", wgs, {{362, noDatum}}, "CoordSys Earth Projection 1, 104"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string map = In("patched " + c.Name + ".map");
    fs::copy_file(c.Map, map, fs::copy_options::overwrite_existing);
    for (const auto& [at, bytes] : c.Patches) PatchBytes(map, at, bytes.data(), bytes.size());
    EXPECT_EQ(FromMap(map).Text, c.Text);
  }
  const TCoordSys q3 = FromMap(In("patched quadrant3.map")), q1 = FromMap(bounded);
  EXPECT_EQ(q3.XScale, -q1.XScale);
  EXPECT_EQ(q3.YDispl, -q1.YDispl);
  EXPECT_EQ(q1.Unit, cuM);
  EXPECT_EQ(FromMap(wgs).Unit, cuDeg);
}

// Rows of the datum table found from the ellipsoid and the eight values.
TEST_F(CoordSys, DatumTable) {
  const struct {
    uint8_t Ellipsoid;
    std::vector<double> Values;
    std::string Datum;
  } cases[] = {
      {28, {}, "104"},
      {0, {}, "74"},
      {29, {}, "0"},
      {6, {-162, -12, 206}, "1"},
      {10, {582, 105, 414, -1.04, -0.35, 3.08, 8.3}, "1000"},
      {10, {589, 76, 480, 0, 0, 0, 0, -17.666666666667}, "1020"},
      {6, {-38.7086, -128.8054, 118.8837, 0.83822, 7.38459, -1.57989, 3.9904}, "1022"},
      // Two rows hold these values; the earlier one is found.
      {4, {-499, -249, 314}, "94"},
      // A difference of 1e-9 is no match.
      {6, {-162, -12, 206 + 1e-9}, "999, 6, -162, -12, 206.000000001"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Datum);
    TTabHeader h;
    h.Projection = 1;
    h.Datum = 0;
    h.Ellipsoid = c.Ellipsoid;
    for (size_t i = 0; i < c.Values.size(); ++i) h.DatumValues[i] = c.Values[i];
    EXPECT_EQ(FromMap(WriterMap("datum", h)).Text, "CoordSys Earth Projection 1, " + c.Datum);
  }
}

TEST_F(CoordSys, UnitsAndParameters) {
  // NonEarth metres in thousandths: the bounds of +-1e9 units.
  TTabHeader nonEarth;
  nonEarth.Projection = 0;
  nonEarth.Unit = 7;
  const TCoordSys ne = FromMap(WriterMap("nonearth", nonEarth));
  EXPECT_EQ(ne.Text, "CoordSys NonEarth Units \"m\" Bounds (-1000000, -1000000) (1000000, 1000000)");
  EXPECT_EQ(ne.Unit, cuM);

  const struct {
    uint8_t Code;
    TCoordinateUnit Unit;
    std::string Name;
  } units[] = {{0, cuMiles, "\"mi\""},  {1, cuKm, "\"km\""},       {2, cuInch, "\"in\""},
               {3, cuFt, "\"ft\""},     {4, cuYard, "\"yd\""},     {5, cuMm, "\"mm\""},
               {6, cuCm, "\"cm\""},     {7, cuM, "\"m\""},         {8, cuSurveyft, "\"survey ft\""},
               {9, cuNmi, "\"nmi\""},   {30, cuLink, "\"link\""},  {31, cuChain, "\"chain\""},
               {32, cuRod, "\"rod\""},  {13, cuDeg, ""},           {10, cuDeg, ""}};
  for (const auto& u : units) {
    SCOPED_TRACE(int(u.Code));
    TTabHeader h;
    h.Projection = 10;
    h.Unit = u.Code;
    const TCoordSys c = FromMap(WriterMap("unit", h));
    EXPECT_EQ(c.Unit, u.Unit);
    // An unnamed unit leaves ", , ".
    EXPECT_EQ(Head(c.Text), "CoordSys Earth Projection 10, 104, " + u.Name + ", -2");
  }

  // Parameters 0..5 in the header, and the first datum shift after them.
  const struct {
    uint8_t Projection;
    std::string Parameters;
  } projections[] = {
      {2, ", 1.5, 2.5"},
      {4, ", 1.5, 2.5, 3.5"},
      {9, ", 1.5, 2.5, 3.5, 4.5, 5.5, 6.5"},
      {13, ", 1.5"},
      {25, ", 1.5, 2.5, 3.5, 4.5"},
      {27, ", 1.5, 2.5, 3.5, 4.5"},
      {31, ", 1.5, 2.5, 3.5, 4.5, 5.5"},
      {34, ", 1.5, 2.5, 3.5, 4.5, 5.5"},
      // Seven parameters in six slots: the seventh is the datum's first shift.
      {35, ", 1.5, 2.5, 3.5, 4.5, 5.5, 6.5, 7.5"},
      {36, ""},
  };
  for (const auto& p : projections) {
    SCOPED_TRACE(int(p.Projection));
    TTabHeader h;
    h.Projection = p.Projection;
    h.Datum = 0;
    for (int i = 0; i < 6; ++i) h.Params[i] = i + 1.5;
    h.DatumValues[0] = 7.5;
    EXPECT_EQ(Head(FromMap(WriterMap("projection", h)).Text),
              "CoordSys Earth Projection " + std::to_string(p.Projection) + ", 999, 28, 7.5, 0, 0, \"m\"" +
                  p.Parameters);
  }
}

}  // namespace
