// The statistics report and the area of a bounding rectangle: golden reports
// from made-up per-link arrays, the area against an independent oracle.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <sstream>

#include "app/core/studio_area.h"
#include "app/core/studio_statistics.h"
#include "support/gdal_readback.h"
#include "support/test_raises.h"

using namespace studio;
using kovra::TFloatPoint;
using kovra::testsupport::MessageOf;

namespace {

const NumberFormat cEnglish{".", ","};
const NumberFormat cGerman{",", "."};

// Per-link arrays that a StatsInput looks at, links 1..L.
struct TSynthetic {
  std::vector<float> Lengths;
  std::vector<int32_t> From, To;
  std::vector<uint32_t> CulDeSac;
  std::vector<uint16_t> Words;
  std::array<std::vector<uint8_t>, 3> Limit;
  StatsInput In;

  // L links of length 1 in a chain (no loops, no cul-de-sacs).
  explicit TSynthetic(int32_t L) {
    const size_t n = size_t(L) + 1;
    Lengths.assign(n, 1.0f);
    Lengths[0] = 0;
    From.resize(n);
    To.resize(n);
    for (size_t l = 1; l < n; ++l) From[l] = int32_t(l), To[l] = int32_t(l) + 1;
    CulDeSac.assign((n + 31) / 32, 0);
    Words.assign(n, 0);
    for (auto& v : Limit) v.assign(n, 0);
    In.Directory = "/data/net/";
    In.Unit = kovra::cuDeg;
    In.LinkCount = L;
    In.NodeCount = L + 1;
    In.MaxDegree = 2;
  }
  void SetCulDeSac(size_t l) { CulDeSac[l >> 5] |= 1u << (l & 31); }
  // Points the input's spans at the arrays (after every resize).
  const StatsInput& Bind() {
    In.Lengths = Lengths;
    In.Fromnodes = From;
    In.Tonodes = To;
    In.CulDeSacs = CulDeSac;
    In.AttributeWords = Words;
    for (size_t k = 0; k < 3; ++k) In.Limits[k] = Limit[k];
    return In;
  }
  std::vector<std::string> Report(kovra::TDistanceUnit Unit = kovra::duKm, const NumberFormat& Fmt = cEnglish) {
    return StatisticsReport(Bind(), Unit, Fmt);
  }
};

bool Has(const std::vector<std::string>& Lines, const std::string& Line) {
  return std::find(Lines.begin(), Lines.end(), Line) != Lines.end();
}

// The first line starting with Prefix; "" when none.
std::string LineOf(const std::vector<std::string>& Lines, const std::string& Prefix) {
  for (const std::string& s : Lines)
    if (s.rfind(Prefix, 0) == 0) return s;
  return "";
}

std::string Joined(const std::vector<std::string>& Lines) {
  std::string s;
  for (const std::string& l : Lines) s += l + "\n";
  return s;
}

// Six links in metres with every kind of line: an invalid link (that is also
// a loop and on a cul-de-sac, and counts for none of them), a loop, classes
// 0, 3 and 31, hierarchy 2 and 7, bits 8, 9, 10, 9 and 10, 15, limit 1
// values 0, 1, 5, 200 and limit 3 all 0.
TSynthetic Mixed() {
  TSynthetic s(6);
  s.In.Coordsys = "CoordSys Earth Projection 8, 104, \"m\", 9, 0, 0.9996, 500000, 0";
  s.In.EPSG = 32632;
  s.In.PRJ = "PROJCS[\"WGS 84 / UTM zone 32N\"]";
  s.In.Unit = kovra::cuM;
  s.In.NodeCount = 1234;
  s.In.MaxDegree = 4;
  s.In.MBR = {500000, 5000000, 520000, 5015000};
  s.In.Attributes = true;
  s.In.LimitTicked = {true, false, true};
  s.Lengths = {0, 1.25f, 0, 2.5f, 0.75f, 10, 0.5f};
  s.From[2] = s.To[2] = 9;
  s.From[3] = s.To[3] = 3;
  s.SetCulDeSac(2);
  s.SetCulDeSac(3);
  s.SetCulDeSac(4);
  s.Words = {0, 3 | 2 << 5 | 512, 7, 3 | 512 | 1024, 256 | 32768, 31 | 7 << 5, 0};
  s.Limit[0] = {0, 5, 9, 0, 5, 200, 1};
  return s;
}

}  // namespace

// ---------------------------------------------------------------------------
// Area

TEST(StudioArea, MBRAreaAgainstLHuilierOracle) {
  std::string out;
  ASSERT_EQ(kovra::testsupport::RunCommand("python3 " KOVRA_TEST_SCRIPTS_DIR "/mbr_area_oracle.py 500 72", &out), 0)
      << out;
  std::istringstream lines(out);
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    std::istringstream f(line);
    std::array<std::string, 5> t;
    for (auto& s : t) f >> s;
    std::array<double, 5> v{};
    for (size_t i = 0; i < 5; ++i) std::from_chars(t[i].data(), t[i].data() + t[i].size(), v[i]);
    const double a = MBRArea({v[0], v[1]}, {v[2], v[3]});
    // The angle sum loses the excess below a few units of 1e-16: about 1e-7
    // km2 (0.1 m2), which the report's whole km2 never shows.
    EXPECT_NEAR(a, v[4], 1e-9 * v[4] + 1e-6) << line;
    // Corners in the other order give the same area.
    EXPECT_NEAR(MBRArea({v[2], v[3]}, {v[0], v[1]}), a, 1e-9 * a + 1e-6) << line;
    ++count;
  }
  EXPECT_EQ(count, 500);
}

TEST(StudioArea, AreasOfKnownRectangles) {
  EXPECT_NEAR(MBRArea({0, 0}, {1, 1}), 12391.687169, 1e-5);
  EXPECT_NEAR(MBRArea({1, 1}, {0, 0}), 12391.687169, 1e-5);
  EXPECT_NEAR(MBRArea({0, 1}, {1, 0}), 12391.687169, 1e-5);
  EXPECT_EQ(MBRArea({5, 10}, {5, 12}), 0) << "zero width";
  EXPECT_EQ(MBRArea({5, 10}, {7, 10}), 0) << "zero height";
  // A right angle where the meridian meets the equator.
  EXPECT_NEAR(VertexAngle({0.1, 0}, {0, 0}, {0, 0.1}), M_PI / 2, 1e-15);
  EXPECT_NEAR(SphericalExcess({0, 0}, {M_PI / 2, 0}, {0, M_PI / 2}), M_PI / 2, 1e-15) << "an octant";
}

TEST(StudioArea, NetworkAreaByUnit) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  // 10 km in feet: 100 km2 with the square-feet divisor, 1076 with metres'.
  const double ft10km = 10000 / 0.3048;
  struct Case {
    kovra::TFloatRect MBR;
    kovra::TCoordinateUnit Unit;
    double Area;
  };
  const Case cases[] = {
      {{0, 0, 20000, 15000}, kovra::cuM, 300},
      {{-5, 7, ft10km - 5, ft10km + 7}, kovra::cuFt, 100},
      {{0, 0, 20000, 15000}, kovra::cuKm, 0},
      {{0, 0, 1, 1}, kovra::cuRad, 0},
      {{0, 0, 1, 1}, kovra::cuGrad, 0},
      {{0, 0, 1, 1}, kovra::cuUnknown, 0},
      {{0, 0, 1, 1}, kovra::cuSurveyft, 0},
      {{0, 0, 0, 15000}, kovra::cuM, 0},
      {{20000, 15000, 0, 0}, kovra::cuM, 0},  // empty: no valid link
      {{0, 0, nan, 1}, kovra::cuM, 0},
      {{0, 0, inf, 1}, kovra::cuM, 0},
      {{0, 0, 1e300, 1e300}, kovra::cuM, 0},  // the product overflows
      {{-inf, 0, 1, 1}, kovra::cuDeg, 0},
      {{3, 4, 3, 5}, kovra::cuDeg, 0},
  };
  for (const Case& c : cases)
    EXPECT_NEAR(NetworkArea(c.MBR, c.Unit), c.Area, 1e-9)
        << c.MBR.xmin << " " << c.MBR.ymin << " " << c.MBR.xmax << " " << c.MBR.ymax << " unit "
        << int(c.Unit);
  EXPECT_NEAR(NetworkArea({0, 0, 1, 1}, kovra::cuDeg), 12391.687169, 1e-5);
}

// ---------------------------------------------------------------------------
// The report

TEST(StatisticsReport, GoldenReportInKm) {
  TSynthetic s = Mixed();
  const std::vector<std::string> want = {
      "Path: /data/net/",
      "",
      "Coordsys: CoordSys Earth Projection 8, 104, \"m\", 9, 0, 0.9996, 500000, 0",
      "EPSG: 32632",
      "PRJ: PROJCS[\"WGS 84 / UTM zone 32N\"]",
      "",
      "Coordinate unit: Meter",
      "",
      "Links: 6",
      "1 invalid links (see network_report.txt)",
      "1 loop links",
      "2 links are on a cul-de-sac ( 33%)",
      "",
      "Nodes: 1,234",
      "Highest degree: 4",
      "",
      "Length of network: 15 km",
      "Average length of links: 2.500 km",
      "",
      "Area of network (MBR): 300 km2",
      "",
      "Road Classes",
      "0: 2 links, 1 km",
      "3: 2 links, 4 km",
      "31: 1 links, 10 km",
      "",
      "Hierarchy",
      "0: 3 links",
      "1: 0 links",
      "2: 1 links",
      "3: 0 links",
      "4: 0 links",
      "5: 0 links",
      "",
      "1 links marked as no-drive through",
      "2 links marked as oneway - forward direction",
      "1 links marked as oneway - reverse direction",
      "1 links closed (oneway in both directions)",
      "1 links marked for skip in spatial search",
      "Limit 1:",
      "Value 1: 1 links",
      "Value 5: 2 links",
      "Value 200: 1 links",
      "",
      "Limit 3:",
      "",
  };
  EXPECT_EQ(Joined(s.Report()), Joined(want));
}

TEST(StatisticsReport, MilesLines) {
  TSynthetic s = Mixed();
  const auto r = s.Report(kovra::duMiles);
  // 15 / 1.609, 2.5 / 1.609, 300 / 2.588881, class lengths / 1.609.
  EXPECT_EQ(LineOf(r, "Length of network: "), "Length of network: 9 miles");
  EXPECT_EQ(LineOf(r, "Average length of links: "), "Average length of links: 1.554 miles");
  EXPECT_EQ(LineOf(r, "Area of network (MBR): "), "Area of network (MBR): 116 sq mi");
  EXPECT_TRUE(Has(r, "0: 2 links, 1 miles"));
  EXPECT_TRUE(Has(r, "3: 2 links, 2 miles"));
  EXPECT_TRUE(Has(r, "31: 1 links, 6 miles"));
  EXPECT_EQ(r.size(), s.Report().size());
}

TEST(StatisticsReport, CountLines) {
  // Invalid links, loops and cul-de-sacs over 1000 links.
  struct Case {
    std::string what;
    int invalid, loops, culdesacs;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {"none", 0, 0, 0, {"No invalid links", "No loop links", "0 links are on a cul-de-sac ( 0%)"}},
      {"some", 3, 2, 12,
       {"3 invalid links (see network_report.txt)", "2 loop links", "12 links are on a cul-de-sac ( 1%)"}},
      // 15 of 1000 is 1.5 % and 25 is 2.5 %: both round to 2 (half to even).
      {"half up", 0, 0, 15, {"15 links are on a cul-de-sac ( 2%)"}},
      {"half down", 0, 0, 25, {"25 links are on a cul-de-sac ( 2%)"}},
      {"all", 0, 0, 1000, {"1000 links are on a cul-de-sac ( 100%)"}},
  };
  for (const Case& c : cases) {
    TSynthetic s(1000);
    // Invalid links first (and made loops: they count as neither).
    for (int i = 1; i <= c.invalid; ++i) s.Lengths[size_t(i)] = 0, s.From[size_t(i)] = s.To[size_t(i)];
    for (int i = 0; i < c.loops; ++i) s.From[size_t(500 + i)] = s.To[size_t(500 + i)];
    for (int i = 0; i < c.culdesacs; ++i) s.SetCulDeSac(size_t(1000 - i));
    const auto r = s.Report();
    for (const std::string& line : c.lines) EXPECT_TRUE(Has(r, line)) << c.what << ": " << line << "\n" << Joined(r);
  }
}

TEST(StatisticsReport, RoundsHalfToEven) {
  struct Case {
    float length;
    std::string line;
  };
  const Case cases[] = {
      {0.5f, "Length of network: 0 km"},      {1.5f, "Length of network: 2 km"},
      {2.5f, "Length of network: 2 km"},      {-0.5f, "Length of network: 0 km"},
      {-1.5f, "Length of network: -2 km"},    {12391.687f, "Length of network: 12392 km"},
      {3.5f, "Length of network: 4 km"},
  };
  for (const Case& c : cases) {
    TSynthetic s(1);
    s.Lengths[1] = c.length;
    EXPECT_EQ(LineOf(s.Report(), "Length of network: "), c.line);
  }
  // The rounding of the platform refuses NaN instead of making up a number.
  TSynthetic s(2);
  s.Lengths[2] = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(MessageOf<kovra::EInvalidOp>([&] { s.Report(); }), "Invalid floating point operation");
}

TEST(StatisticsReport, AreaLines) {
  struct Case {
    kovra::TCoordinateUnit unit;
    kovra::TFloatRect mbr;
    kovra::TDistanceUnit dist;
    std::string line;  // "" for none
  };
  const Case cases[] = {
      {kovra::cuDeg, {0, 0, 1, 1}, kovra::duKm, "Area of network (MBR): 12392 km2"},
      {kovra::cuDeg, {0, 0, 1, 1}, kovra::duMiles, "Area of network (MBR): 4787 sq mi"},
      {kovra::cuDeg, {0, 0, 0, 1}, kovra::duKm, ""},
      {kovra::cuM, {0, 0, 20000, 15000}, kovra::duKm, "Area of network (MBR): 300 km2"},
      {kovra::cuM, {0, 0, 20000, 15000}, kovra::duMiles, "Area of network (MBR): 116 sq mi"},
      {kovra::cuKm, {0, 0, 20, 15}, kovra::duKm, ""},
      {kovra::cuRad, {0, 0, 0.01, 0.01}, kovra::duKm, ""},
      {kovra::cuUnknown, {0, 0, 20000, 15000}, kovra::duKm, ""},
      {kovra::cuM, {1e300, 1e300, -1e300, -1e300}, kovra::duKm, ""},
  };
  for (const Case& c : cases) {
    TSynthetic s(3);
    s.In.Unit = c.unit;
    s.In.MBR = c.mbr;
    const auto r = s.Report(c.dist);
    EXPECT_EQ(LineOf(r, "Area of network (MBR): "), c.line) << int(c.unit);
    // The empty lines around it stay.
    EXPECT_EQ(r.size(), c.line.empty() ? 20u : 21u);
  }
}

TEST(StatisticsReport, NoLinks) {
  TSynthetic s(0);
  s.In.MBR = {1e300, 1e300, -1e300, -1e300};
  s.In.Attributes = true;
  s.In.LimitTicked = {true, false, false};
  std::vector<std::string> r;
  ASSERT_NO_THROW(r = s.Report());
  EXPECT_TRUE(Has(r, "Links: 0"));
  EXPECT_TRUE(Has(r, "No invalid links"));
  EXPECT_TRUE(Has(r, "0 links are on a cul-de-sac ( 0%)"));
  EXPECT_TRUE(Has(r, "Length of network: 0 km"));
  EXPECT_TRUE(Has(r, "Average length of links: 0.000 km"));
  EXPECT_TRUE(Has(r, "No hierarchy defined"));
  EXPECT_EQ(LineOf(r, "Area"), "");
  ASSERT_NO_THROW(r = s.Report(kovra::duMiles));
  EXPECT_TRUE(Has(r, "Average length of links: 0.000 miles"));
}

TEST(StatisticsReport, HierarchyBlock) {
  // Levels 6 and 7 only, or nothing: no hierarchy.
  for (uint16_t level : {0, 6, 7}) {
    TSynthetic s(5);
    s.In.Attributes = true;
    for (auto& w : s.Words) w = uint16_t(level << 5);
    const auto r = s.Report();
    EXPECT_TRUE(Has(r, "No hierarchy defined")) << level;
    EXPECT_FALSE(Has(r, "Hierarchy")) << level;
  }
  TSynthetic s(5);
  s.In.Attributes = true;
  s.Words[4] = 3 << 5;
  s.Words[5] = 7 << 5;
  const auto r = s.Report();
  const auto at = std::find(r.begin(), r.end(), "Hierarchy");
  ASSERT_NE(at, r.end());
  const std::vector<std::string> block(at, at + 8);
  EXPECT_EQ(Joined(block), Joined({"Hierarchy", "0: 3 links", "1: 0 links", "2: 0 links", "3: 1 links",
                                   "4: 0 links", "5: 0 links", ""}));
}

TEST(StatisticsReport, AttributeBitLinesInOrder) {
  // One link per bit 8..15, three more with 9 and 10, one invalid link with
  // every bit (not counted).
  TSynthetic s(12);
  s.In.Attributes = true;
  for (int b = 8; b <= 15; ++b) s.Words[size_t(b - 7)] = uint16_t(1u << b);
  for (size_t l = 9; l <= 11; ++l) s.Words[l] = 512 | 1024;
  s.Words[12] = 0xFFFF;
  s.Lengths[12] = 0;
  const auto r = s.Report();
  const auto at = std::find(r.begin(), r.end(), "1 links marked as no-drive through");
  ASSERT_NE(at, r.end()) << Joined(r);
  EXPECT_EQ(Joined({at, r.end()}), Joined({
                                       "1 links marked as no-drive through",
                                       "4 links marked as oneway - forward direction",
                                       "4 links marked as oneway - reverse direction",
                                       "3 links closed (oneway in both directions)",
                                       "1 links marked as roundabout",
                                       "1 links marked as non-driving (ferries etc)",
                                       "1 links marked for no U-turn at from-node",
                                       "1 links marked for no U-turn at to-node",
                                       "1 links marked for skip in spatial search",
                                   }));
  // Without the option ticked there are no attribute blocks at all.
  s.In.Attributes = false;
  const auto plain = s.Report();
  EXPECT_FALSE(Has(plain, "Road Classes"));
  EXPECT_EQ(plain.size(), 20u);
}

TEST(StatisticsReport, AttributesTickedButNotOpened) {
  // No words: every link reads class 0.
  TSynthetic s(4);
  s.In.Attributes = true;
  s.Words.clear();
  const auto r = s.Report();
  EXPECT_TRUE(Has(r, "0: 4 links, 4 km")) << Joined(r);
  EXPECT_TRUE(Has(r, "No hierarchy defined"));
}

TEST(StatisticsReport, LimitHistograms) {
  TSynthetic s(8);
  s.In.LimitTicked = {false, true, false};
  s.Limit[1] = {7, 255, 0, 3, 255, 0, 3, 128, 9};
  s.Lengths[8] = 0;  // its value 9 is not counted
  const auto r = s.Report();
  const auto at = std::find(r.begin(), r.end(), "Limit 2:");
  ASSERT_NE(at, r.end()) << Joined(r);
  EXPECT_EQ(Joined({at, r.end()}),
            Joined({"Limit 2:", "Value 3: 2 links", "Value 128: 1 links", "Value 255: 2 links", ""}));
  // A ticked limit whose bytes were never loaded (a skipped lower limit).
  for (size_t k = 0; k < 3; ++k) {
    TSynthetic t(8);
    t.In.LimitTicked[k] = true;
    t.Limit[k].clear();
    EXPECT_EQ(MessageOf([&] { t.Report(); }), "Invalid limitID") << k;
  }
}

TEST(StatisticsReport, UnitNamesAndRegionalCounts) {
  TSynthetic s(3);
  s.In.Unit = kovra::cuUnknown;
  EXPECT_TRUE(Has(s.Report(), "Coordinate unit: "));
  s.In.Unit = kovra::cuSurveyft;
  EXPECT_TRUE(Has(s.Report(), "Coordinate unit: Survey Feet"));
  s.In.Unit = kovra::cuNmi;
  EXPECT_TRUE(Has(s.Report(), "Coordinate unit: Nautical Miles"));

  TSynthetic big(1234567);
  big.In.NodeCount = 2345678;
  big.In.MaxDegree = 1000;
  big.In.EPSG = 4326;
  const auto r = big.Report(kovra::duKm, cGerman);
  EXPECT_TRUE(Has(r, "Links: 1.234.567"));
  EXPECT_TRUE(Has(r, "Nodes: 2.345.678"));
  EXPECT_TRUE(Has(r, "Highest degree: 1.000"));
  EXPECT_TRUE(Has(r, "EPSG: 4326")) << "a code, not a count";
  EXPECT_TRUE(Has(r, "Length of network: 1234567 km")) << "rounded lengths have no separators";
  EXPECT_TRUE(Has(r, "Average length of links: 1,000 km"));
}

TEST(StatisticsReport, ShortArraysAreRefused) {
  TSynthetic s(10);
  s.Bind();
  s.In.Lengths = s.In.Lengths.first(10);
  EXPECT_NE(MessageOf<kovra::EInvalidParameter>([&] { StatisticsReport(s.In, kovra::duKm, cEnglish); }), "");
}
