#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "network/kovra_roadclassspeed.h"
#include "support/temp_dir_test.h"

using namespace kovra;
using kovra::testsupport::TTempDirTest;

namespace {

template <typename F>
std::string MessageOf(F&& f) {
  try {
    f();
  } catch (const EOutOfRange& e) {
    return e.Message();
  }
  return "no EOutOfRange";
}

}  // namespace

TEST(RoadClass, DefaultsAndIndexCheck) {
  TRoadClassSpeed speed;
  TRoadClassTurnCost cost;
  for (int i = 0; i <= 31; ++i) {
    EXPECT_EQ(speed.Get(TRoadClass(i)), 60.0f) << i;
    EXPECT_EQ(cost.Get(TRoadClass(i)), 0.0f) << i;
  }
  EXPECT_EQ(MessageOf([&] { speed.Get(32); }), "Index for RoadClass should be 0 to 31 (is 32)");
  // The index is a byte: -1 arrives as 255.
  EXPECT_EQ(MessageOf([&] { cost.Get(TRoadClass(-1)); }), "Index for RoadClass should be 0 to 31 (is 255)");
  EXPECT_EQ(MessageOf([&] { speed.Put(32, 50); }), "Index for RoadClass should be 0 to 31 (is 32)");
  TRoadClassCustom custom;
  custom.Put(3, 50);
  EXPECT_EQ(custom.Get(3), 0.0f);
  EXPECT_EQ(MessageOf([&] { custom.Put(40, 50); }), "Index for RoadClass should be 0 to 31 (is 40)");
}

TEST(RoadClass, PutChecksTheValue) {
  struct Case {
    bool speedTable;
    TRoadClass index;
    float item;
    std::string message;  // empty: stored
  };
  const std::vector<Case> cases = {
      {true, 5, 0, "Speed for RoadClass should be >0 (is 0.00)"},
      {true, 5, -1234.5f, "Speed for RoadClass should be >0 (is -1,234.50)"},
      {true, 5, 0.25f, ""},
      {true, 31, 130, ""},
      {false, 5, 0, ""},
      {false, 5, 2.5f, ""},
      {false, 5, -1, "Cost for RoadClass should be >=0 (is -1.00)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.item));
    TRoadClassSpeed speed;
    TRoadClassTurnCost cost;
    TRoadClassCustom& table = c.speedTable ? static_cast<TRoadClassCustom&>(speed) : cost;
    const float before = table.Get(c.index);
    if (c.message.empty()) {
      table.Put(c.index, c.item);
      EXPECT_EQ(table.Get(c.index), c.item);
    } else {
      EXPECT_EQ(MessageOf([&] { table.Put(c.index, c.item); }), c.message);
      EXPECT_EQ(table.Get(c.index), before);
    }
  }
  // NaN would pass both comparisons; an infinite speed gives zero times.
  TRoadClassSpeed speed;
  TRoadClassTurnCost cost;
  EXPECT_THROW(speed.Put(1, std::numeric_limits<float>::quiet_NaN()), EInvalidOp);
  EXPECT_THROW(speed.Put(1, std::numeric_limits<float>::infinity()), EOverflow);
  EXPECT_THROW(cost.Put(1, std::numeric_limits<float>::quiet_NaN()), EInvalidOp);
  EXPECT_EQ(speed.Get(1), 60.0f);
  EXPECT_EQ(cost.Get(1), 0.0f);
}

using RoadClassIni = TTempDirTest;

TEST_F(RoadClassIni, LoadFromINIReadsEachSpeedLeniently) {
  struct Case {
    const char* text;
    float km;   // the entry after loading in km/h
    float mph;  // after loading in miles
  };
  // Class i reads key Speedi; the entry starts at 33 so that "unchanged" shows.
  const std::vector<Case> cases = {
      {"50", 50, 80.45f},
      {"abc", 33, 33},
      {"70", 70, 112.63f},
      {"1e999", 33, 33},
      {".5", 0.5f, 0.8045f},
      {"12abc", 12, 19.308f},
      {"  7.5e1", 75, 120.675f},
      {"-20", 33, 33},
      {"0", 33, 33},
      {"", 33, 33},
      {"1e-50", 33, 33},  // rounds to a Single 0
      {"3.5e38", 33, 33},  // beyond the Single range
      {"3e38", 3e38f, 33},  // fits in km, overflows once converted from miles
      {"\"45\"", 45, 72.405f},
  };
  std::string ini = "[Speeds]\r\n";
  for (size_t i = 0; i < cases.size(); ++i) ini += "Speed" + std::to_string(i) + "=" + cases[i].text + "\r\n";
  const std::string name = Make("speeds.ini", ini);

  for (bool mph : {false, true}) {
    TRoadClassSpeed speed;
    for (int i = 0; i <= 31; ++i) speed.Put(TRoadClass(i), 33);
    speed.LoadFromINI(name, "speeds", mph);
    for (size_t i = 0; i < cases.size(); ++i)
      EXPECT_FLOAT_EQ(speed.Get(TRoadClass(i)), mph ? cases[i].mph : cases[i].km)
          << "\"" << cases[i].text << "\" mph " << mph;
    // A missing key reads as 60.
    EXPECT_FLOAT_EQ(speed.Get(31), mph ? 96.54f : 60.0f);
  }
}

TEST_F(RoadClassIni, MissingFileOrSectionAndTheUnitKey) {
  TRoadClassSpeed speed;
  speed.Put(2, 33);
  // A missing file or section reads every key's default, 60 (in the unit asked for).
  speed.LoadFromINI(fTemp.File("missing.ini"), "Speeds", true);
  EXPECT_FLOAT_EQ(speed.Get(2), 96.54f);
  speed.Put(2, 33);
  speed.LoadFromINI(Make("other.ini", "[Other]\r\nSpeed2=10\r\n"), "Speeds", false);
  EXPECT_EQ(speed.Get(2), 60.0f);

  struct Case {
    const char* setup;
    float expected;
  };
  const std::vector<Case> cases = {
      {"SpeedUnits=Mi", 80.45f}, {"SpeedUnits=mi", 50},  {"SpeedUnits=MI", 50},
      {"SpeedUnits=Km", 50},     {"SpeedUnits= Mi ", 80.45f}, {"", 50},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.setup);
    const std::string name = Make("units.ini", std::string("[Setup]\r\n") + c.setup + "\r\n[Roads]\r\nspeed0=50\r\n");
    TRoadClassSpeed s;
    s.LoadFromINI(name, "Roads");
    EXPECT_FLOAT_EQ(s.Get(0), c.expected);
    EXPECT_EQ(s.Get(1), c.expected == 50 ? 60.0f : float(60 * 1.609));
  }

  // The reader overload takes any open INI reader.
  TIniFile ini(Make("direct.ini", "[R]\r\nSpeed9=42\r\n"));
  TRoadClassSpeed s;
  s.LoadFromINI(ini, "R", false);
  EXPECT_EQ(s.Get(9), 42.0f);
}
