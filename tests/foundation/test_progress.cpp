#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "foundation/kovra_progress.h"
#include "platform/kovra_ticks.h"

using namespace kovra;

namespace {

uint32_t gNow = 0;
uint32_t FakeClock() { return gNow; }

class ProgressTest : public ::testing::Test {
protected:
  void SetUp() override {
    gNow = 0;
    SetTickSource(&FakeClock);
  }
  void TearDown() override { SetTickSource(nullptr); }
};

// One step of a scenario: move the clock, then run an action on the object.
struct Step {
  uint32_t now;
  std::function<void(TProgress&)> action;
};

struct Scenario {
  std::string name;
  bool cancel;  // TProgressCancel instead of TProgress
  std::function<void(TProgress&)> setup;
  std::vector<Step> steps;
  std::vector<int32_t> reports;
};

std::function<void(TProgress&)> Exec(double v) {
  return [v](TProgress& p) { p.ProgressExecute(v); };
}
std::function<void(TProgress&)> Zero() {
  return [](TProgress& p) { p.ProgressExecuteZero(); };
}
std::function<void(TProgress&)> Range(int32_t start, int32_t stop, double max) {
  return [=](TProgress& p) {
    p.SetProgressStart(start);
    p.SetProgressStop(stop);
    p.SetProgressMaxValue(max);
  };
}

std::vector<int32_t> RunScenario(const Scenario& s) {
  std::vector<int32_t> got;
  TProgress plain;
  TProgressCancel cancel;
  TProgress& p = s.cancel ? static_cast<TProgress&>(cancel) : plain;
  if (s.cancel)
    cancel.SetOnProgress([&](TObject* sender, int32_t v, bool&) {
      EXPECT_EQ(sender, &cancel);
      got.push_back(v);
    });
  else
    plain.SetOnProgress([&](TObject* sender, int32_t v) {
      EXPECT_EQ(sender, &plain);
      got.push_back(v);
    });
  if (s.setup) s.setup(p);
  for (const Step& st : s.steps) {
    gNow = st.now;
    st.action(p);
  }
  return got;
}

}  // namespace

TEST_F(ProgressTest, ScalingRoundingClampingThrottleAndTimeLimit) {
  const uint32_t wrapStart = 0xFFFFF000u;  // 4096 ms before the counter wraps
  const std::vector<Scenario> scenarios = {
      {"sub-range 20..40 over 200", false, Range(20, 40, 200),
       {{0, Exec(100)}, {0, Exec(50)}, {0, Exec(10)}}, {30, 25, 21}},
      {"half rounds to even", false, Range(0, 100, 8), {{0, Exec(1)}}, {12}},
      {"cancel class clamps past the maximum", true, nullptr, {{0, Exec(300)}}, {100}},
      {"plain class does not clamp", false, nullptr, {{0, Exec(300)}}, {300}},
      {"time share ahead of the counter", false,
       [](TProgress& p) {
         gNow = 1000;
         p.SetTimelimit(10000);
       },
       {{6000, Exec(10)}}, {50}},
      {"counter ahead of the time share", false,
       [](TProgress& p) {
         gNow = 1000;
         p.SetTimelimit(10000);
       },
       {{2000, Exec(70)}}, {70}},
      {"unchanged value repeats only after more than 2000 ms", false, nullptr,
       {{100, Exec(5)}, {100, Exec(5)}, {1100, Exec(5.2)}, {2100, Exec(5)}, {2101, Exec(5)},
        {2102, Exec(5)}, {2103, Exec(6)}},
       {5, 5, 6}},
      {"zero report is never throttled", true, nullptr,
       {{0, Exec(0)}, {1, Zero()}, {2, Zero()}, {3, Exec(0)}}, {0, 0, 0}},
      {"maximum 0 reports the stop value, plain", false, Range(20, 40, 0),
       {{0, Exec(0)}, {1, Exec(5)}, {3000, Exec(5)}}, {40, 40}},
      {"maximum 0 reports the stop value, cancel, with limit", true,
       [](TProgress& p) {
         p.SetProgressMaxValue(0);
         p.SetTimelimit(1000);
       },
       {{500, Exec(7)}}, {100}},
      {"time limit across the tick wrap", false,
       [=](TProgress& p) {
         gNow = wrapStart;
         p.SetTimelimit(10000);
       },
       // 5000 ms after the start the clock has wrapped to 904.
       {{904, Exec(10)}}, {50}},
      {"throttle across the tick wrap", false, nullptr,
       {{wrapStart + 0x800, Exec(10)},  // 2048 ms before the wrap
        {0x000, Exec(10)},              // wrapped, 2048 ms later: reported
        {0x100, Exec(10)},              // 256 ms later: throttled
        {0x7D0, Exec(10)},              // exactly 2000 ms after the last report: throttled
        {0x7D1, Exec(10)}},             // 2001 ms: reported
       {10, 10, 10}},
      {"a 1 ms time limit overrun by 30,000 s is clamped, not raised", true,
       [](TProgress& p) {
         gNow = 0;
         p.SetTimelimit(1);
       },
       {{30000000, Exec(1)}}, {INT32_MAX}},
      {"counters far outside the range are clamped", false, Range(0, 100, 1),
       {{0, Exec(1e12)}, {1, Exec(-1e12)}, {2, Exec(std::numeric_limits<double>::infinity())}},
       {INT32_MAX, INT32_MIN, INT32_MAX}},
  };
  for (const Scenario& s : scenarios) EXPECT_EQ(RunScenario(s), s.reports) << s.name;
}

TEST_F(ProgressTest, TimeHasPassedUsesTheLastStoredTimeAcrossTheWrap) {
  TProgressCancel p;  // no handler: ProgressExecute still stores the time under a limit
  gNow = 0xFFFFF000u;
  p.SetTimelimit(10000);
  EXPECT_FALSE(p.TimeHasPassed());
  gNow = 0xFFFFF100u;  // before the wrap: start + limit has wrapped, the time not yet
  p.ProgressExecute(1);
  EXPECT_FALSE(p.TimeHasPassed());
  gNow = 0xFFFFF000u + 10000;  // wrapped to 5904
  EXPECT_FALSE(p.TimeHasPassed()) << "reads the stored time, not the clock";
  p.ProgressExecute(1);
  EXPECT_EQ(p.Time(), 5904u);
  EXPECT_FALSE(p.TimeHasPassed()) << "exactly at the limit";
  gNow += 1;
  p.ProgressExecute(1);
  EXPECT_TRUE(p.TimeHasPassed());

  TProgress none;  // no limit: never passed, and the clock is not read
  gNow = 123456;
  none.ProgressExecute(50);
  EXPECT_EQ(none.Time(), 0u);
  EXPECT_FALSE(none.TimeHasPassed());
}

TEST_F(ProgressTest, CancelFlagAndHiddenCallback) {
  TProgressCancel p;
  EXPECT_FALSE(p.EventAssigned());
  p.ProgressExecute(10);  // no handler: nothing happens, nothing fails
  p.ProgressExecuteZero();
  EXPECT_FALSE(p.Cancelled());

  // The TProgress callback is hidden: assigning it does not make the cancel class report.
  int plainCalls = 0;
  static_cast<TProgress&>(p).SetOnProgress([&](TObject*, int32_t) { ++plainCalls; });
  EXPECT_FALSE(p.EventAssigned());
  p.ProgressExecute(20);
  EXPECT_EQ(plainCalls, 0);

  std::vector<int32_t> got;
  p.SetOnProgress([&](TObject*, int32_t v, bool& cancel) {
    got.push_back(v);
    if (v >= 50) cancel = true;
  });
  EXPECT_TRUE(p.EventAssigned());
  p.ProgressExecute(40);
  EXPECT_FALSE(p.Cancelled());
  p.ProgressExecute(50);
  EXPECT_TRUE(p.Cancelled());
  p.SetOnProgress([&](TObject*, int32_t v, bool&) { got.push_back(v); });
  p.ProgressExecute(60);
  EXPECT_TRUE(p.Cancelled()) << "the flag stays set";
  EXPECT_EQ(got, (std::vector<int32_t>{40, 50, 60}));
}

TEST_F(ProgressTest, DefaultsAndBadCounter) {
  TProgress p;
  EXPECT_EQ(p.ProgressStart(), 0);
  EXPECT_EQ(p.ProgressStop(), 100);
  EXPECT_EQ(p.ProgressMaxValue(), 100.0);
  EXPECT_EQ(p.Timelimit(), 0u);
  int calls = 0;
  p.SetOnProgress([&](TObject*, int32_t v) {
    ++calls;
    EXPECT_EQ(v, 0);
  });
  p.ProgressExecute(0);  // previous is -1 at first, so 0 goes out
  EXPECT_EQ(calls, 1);
  EXPECT_THROW(p.ProgressExecute(std::numeric_limits<double>::quiet_NaN()), EInvalidOp);
}

TEST(TickCount, SteadySourceAdvancesInMilliseconds) {
  SetTickSource(nullptr);
  const uint32_t a = GetTickCount();
  const uint32_t b = GetTickCount();
  EXPECT_LE(uint32_t(b - a), 1000u);
}
