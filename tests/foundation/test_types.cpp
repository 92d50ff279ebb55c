#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "foundation/kovra_types.h"

using namespace kovra;

namespace {
const double NaN = std::numeric_limits<double>::quiet_NaN();
}

TEST(Types, RecordOperators) {
  struct Case {
    const char* name;
    bool equal;
    bool notEqual;
  };
  TFloatPointArrayEx a3{{{1, 2}, {3, 4}, {5, 6}, {7, 8}}, 3};
  TFloatPointArrayEx b3{{{1, 2}, {3, 4}, {5, 6}, {99, 99}, {0, 0}}, 3};
  TFloatPointArrayEx b4{{{1, 2}, {3, 4}, {5, 6}, {7, 8}}, 4};
  TFloatPointArrayEx e1{{{1, 1}}, 0}, e2{{}, 0};
  TRoute r1{{1, 2, 3}, {10, -11}, 0.25, 0.5};
  TRoute r2{{1, 2}, {10, -11}, 0.25, 0.5};
  TRoute r3{{1, 2, 3}, {10, 11}, 0.25, 0.5};
  TRoute empty1{{}, {}, 0.1, 0.9}, empty2{{}, {}, 0.1, 0.9}, empty3{{}, {}, 0.1, 0.8};
  const Case cases[] = {
      {"NaN point", TFloatPoint{NaN, 1} == TFloatPoint{NaN, 1}, TFloatPoint{NaN, 1} != TFloatPoint{NaN, 1}},
      {"same point", TFloatPoint{1, 2} == TFloatPoint{1, 2}, TFloatPoint{1, 2} != TFloatPoint{1, 2}},
      {"stale entries beyond Count", a3 == b3, a3 != b3},
      {"Count 3 vs 4", a3 == b4, a3 != b4},
      {"empty buffers", e1 == e2, e1 != e2},
      {"location equal", TLocation{5, .5} == TLocation{5, .5}, TLocation{5, .5} != TLocation{5, .5}},
      {"location sign", TLocation{5, .5} == TLocation{-5, .5}, TLocation{5, .5} != TLocation{-5, .5}},
      {"route node count", r1 == r2, !(r1 == r2)},
      {"route link sign", r1 == r3, !(r1 == r3)},
      {"empty routes", empty1 == empty2, !(empty1 == empty2)},
      {"empty routes percent", empty1 == empty3, !(empty1 == empty3)},
  };
  const bool expected[] = {false, true, true, false, true, true, false, false, false, true, false};
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_EQ(cases[i].equal, expected[i]);
    EXPECT_EQ(cases[i].notEqual, !expected[i]);
  }
}

TEST(Types, OrdinalsAndSets) {
  static_assert(uint8_t(cuKm) == 8);
  static_assert(uint8_t(cuNmi) == 18);
  static_assert(uint8_t(otNone) == 3 && uint8_t(duMiles) == 1 && uint8_t(rcCost) == 2 &&
                uint8_t(apReverse) == 2);
  static_assert(uint8_t(gfMIF8) == 10 && uint8_t(gfDateTime) == 8);
  static_assert(sizeof(TRoadClass) == 1 && sizeof(THierarchy) == 1 && sizeof(TZLevel) == 1);
  EXPECT_TRUE(InSet(cAngularUnits, cuGrad));
  EXPECT_FALSE(InSet(cAngularUnits, cuM));
  EXPECT_FALSE(InSet(cPlanarUnits, cuDm));
  EXPECT_FALSE(InSet(cPlanarUnits, cuPoint));
  EXPECT_FALSE(InSet(cPlanarUnits, cuUnknown));
  EXPECT_TRUE(InSet(cPlanarUnits, cuNmi));
}

TEST(Types, ConstantTexts) {
  EXPECT_EQ(double(cInfinity), double(1e38f));
  EXPECT_EQ(cEmptyRect.xmin, 1e38);
  EXPECT_EQ(std::string(cPrjWGS84),
            R"(GEOGCS["GCS_WGS_1984",DATUM["D_WGS_1984",SPHEROID["WGS_1984",6378137,298.257223563]],PRIMEM["Greenwich",0],UNIT["Degree",0.017453292519943295]])");
  EXPECT_EQ(std::string(cCoordSysBNG),
            R"(CoordSys Earth Projection 8, 79, "m", -2, 49, 0.9996012717, 400000, -100000 Bounds (0, -100000) (2000000, 1900000))");
  EXPECT_EQ(std::string(cPrjBNG),
            R"(PROJCS["British_National_Grid",GEOGCS["GCS_OSGB_1936",DATUM["D_OSGB_1936",SPHEROID["Airy_1830",6377563.396,299.3249646]],PRIMEM["Greenwich",0.0],UNIT["Degree",0.0174532925199433]],PROJECTION["Transverse_Mercator"],PARAMETER["False_Easting",400000.0],PARAMETER["False_Northing",-100000.0],PARAMETER["Central_Meridian",-2.0],PARAMETER["Scale_Factor",0.999601272],PARAMETER["Latitude_Of_Origin",49.0],UNIT["Meter",1.0]])");
}

TEST(Types, ExceptionsCarryMessage) {
  try {
    throw EOutOfRange(Format("Link-ID must be >=1: %d", -3));
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Link-ID must be >=1: -3");
  }
}

// The factors against the units' definitions (international foot 0.3048 m,
// US survey foot 1200/3937 m to the stored 8 digits): a factor off by a power
// of ten, as a chain of ten links once was, fails here.
TEST(Types, KmPerUnitFollowsTheUnitDefinitions) {
  const double ft = 0.0003048;
  const double surveyFt = 0.00030480061;
  struct Case {
    TCoordinateUnit unit;
    double km;
  } const cases[] = {
      {cuMm, 1e-6},         {cuCm, 1e-5},           {cuDm, 1e-4},          {cuM, 1e-3},
      {cuKm, 1},            {cuInch, ft / 12},      {cuPoint, ft / 12 / 72}, {cuFt, ft},
      {cuYard, 3 * ft},     {cuChain, 66 * ft},     {cuMiles, 5280 * ft},  {cuSurveyft, surveyFt},
      {cuLink, 0.66 * surveyFt}, {cuRod, 16.5 * surveyFt}, {cuNmi, 1.853184},
      {cuRad, 6378.13},     {cuDeg, 6378.13},       {cuGrad, 6378.13},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.unit));
    EXPECT_NEAR(KmPerUnit(c.unit) / c.km, 1.0, 1e-12);
    EXPECT_EQ(KmPerUnit(c.unit), cKmPerUnit[size_t(c.unit)]);
  }
  for (auto bad : {cuUnknown, TCoordinateUnit(19), TCoordinateUnit(255)}) {
    try {
      (void)KmPerUnit(bad);
      ADD_FAILURE() << int(bad);
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), "Undefined coordinate in DistFactor");
    }
  }
}
