// Value columns of an open network: attribute words written back, limit
// slots loaded, saved and selected on, time and cost columns and the
// lower-bound factors of the searches; saves that fail leave the old files.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cfloat>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <functional>
#include <random>

#include "network/kovra_roadclassspeed.h"
#include "network_fixture.h"
#include "support/test_raises.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

class Columns : public TNetworkTest {
protected:
  // Links of 1 km (class 1), 2 km (class 2), a rejected object and 0.5 km
  // (class 1); unit metres.
  TNetwork& Small(int64_t Key = 0, bool WithLimits = true) {
    TTestNetworkWriter w;
    w.Key = Key;
    w.AddLink({{0, 0}, {1000, 0}}, 1);
    w.AddLink({{1000, 0}, {1000, 2000}}, 2);
    w.AddRejected();
    w.AddLink({{1000, 2000}, {1500, 2000}}, 1);
    if (WithLimits)
      for (int32_t f = 1; f <= 9; ++f) w.SetLimit(f, {uint8_t(f), uint8_t(10 * f), 0, uint8_t(f + 1)});
    return Open(w, true);
  }
  bool Exists(const std::string& Name) const { return std::filesystem::exists(PathOf(Name)); }
};

// Runs f in a child process that may write files of at most Limit bytes;
// true when f raised there (a write beyond the limit fails with EFBIG).
bool RaisesUnderFileLimit(int64_t Limit, const std::function<void()>& f) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit lim{};
    ::getrlimit(RLIMIT_FSIZE, &lim);
    lim.rlim_cur = rlim_t(Limit);
    ::setrlimit(RLIMIT_FSIZE, &lim);
    int code = 1;
    try {
      f();
    } catch (const Exception&) {
      code = 0;
    }
    ::_exit(code);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::vector<int32_t> SetBits(const TBitArray& ba) {
  std::vector<int32_t> out;
  for (int64_t i = 0; i < ba.Size(); ++i)
    if (ba.GetBit(i)) out.push_back(int32_t(i));
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// Limits

TEST_F(Columns, UsableSlotsAreTheLoadedRunFromSlotOne) {
  struct Case {
    std::vector<int32_t> slots;
    int32_t usable;
  };
  const std::vector<Case> cases = {{{1, 2}, 2}, {{1, 2, 4}, 2}, {{2, 3}, 0}, {{1, 2, 3, 4, 5, 6, 7, 8, 9}, 9}};
  for (const Case& c : cases) {
    TNetwork& net = Small();
    for (int32_t s : c.slots) net.OpenLimit(10 - s, s, s == 2);
    EXPECT_EQ(net.LimitSlots(), c.usable);
    for (int32_t s : c.slots) {
      EXPECT_EQ(net.LimitFileNumber(s), 10 - s);
      EXPECT_EQ(net.LimitIsBitPattern(s), s == 2);
      const int32_t f = 10 - s;
      if (s <= c.usable) {
        EXPECT_EQ(net.GetLimit(s, 2), 10 * f);
        EXPECT_EQ(net.GetLimitBit(s, 4, 0), ((f + 1) & 1) != 0);
      } else {
        EXPECT_EQ(MessageOf([&] { net.GetLimit(s, 2); }), "Invalid limitID") << s;
        EXPECT_EQ(MessageOf([&] { net.SetLimit(s, 2, 1); }), "Invalid limitID") << s;
      }
    }
  }
  TNetwork& net = Small();
  EXPECT_EQ(MessageOf<EOutOfRange>([&] { net.OpenLimit(1, 10, false); }), "LimitID should be from 1 to 9, not 10");
  EXPECT_EQ(MessageOf<EOutOfRange>([&] { net.SaveLimit(1, 0); }), "LimitID should be from 1 to 9, not 0");
  EXPECT_THROW(net.OpenLimit(12, 1, false), EFOpenError);
  net.OpenLimit(1, 1, false);
  EXPECT_EQ(MessageOf([&] { net.GetLimit(1, 3); }), "Link 3 is a non-valid link");
}

TEST_F(Columns, WrongSizedLimitFileChangesNothing) {
  TNetwork& net = Small();
  net.OpenLimit(5, 1, false);
  const uint64_t version = net.ColumnVersion();
  for (const std::string& bytes : {std::string(3, '\1'), std::string(5, '\1')}) {
    WriteBytes(PathOf("limit2.bin"), bytes);
    EXPECT_EQ(MessageOf<EWrongFileSize>([&] { net.OpenLimit(2, 1, true); }),
              Format("Wrong size of limitfile %d, expected 4", int32_t(bytes.size())));
    EXPECT_EQ(net.LimitFileNumber(1), 5);
    EXPECT_FALSE(net.LimitIsBitPattern(1));
    EXPECT_EQ(net.LimitSlots(), 1);
    EXPECT_EQ(net.GetLimit(1, 2), 50);
  }
  EXPECT_EQ(net.ColumnVersion(), version);
}

TEST_F(Columns, SavedLimitOpensIntoAnotherSlot) {
  for (const int64_t key : {int64_t(0), cNetworkKey}) {
    TNetwork& net = Small(key);
    net.OpenLimit(3, 1, false);
    net.SetLimit(1, 4, 200);
    net.SetLimitBit(1, 1, 7, true);
    net.SaveLimit(7, 1);
    EXPECT_FALSE(Exists("limit7.bin.tmp"));
    EXPECT_EQ(net.LimitFileNumber(1), 3);  // saving elsewhere does not move the slot
    const std::string stored = ReadBytes(PathOf("limit7.bin"));
    ASSERT_EQ(stored.size(), 4u);
    if (key == 0) EXPECT_EQ(stored, std::string("\x83\x1e\x00\xc8", 4));
    else EXPECT_NE(stored, std::string("\x83\x1e\x00\xc8", 4));
    net.OpenLimit(7, 2, false);
    for (int32_t l : {1, 2, 4}) EXPECT_EQ(net.GetLimit(2, l), net.GetLimit(1, l)) << key << " link " << l;
  }
}

TEST_F(Columns, SavingAnEmptySlotRaisesBeforeAnyFile) {
  TNetwork& net = Small();
  WriteBytes(PathOf("limit3.bin"), "keep");
  for (int32_t file : {3, 12}) {
    EXPECT_EQ(MessageOf([&] { net.SaveLimit(file, 4); }), "Invalid limitID");
    EXPECT_FALSE(Exists("limit" + std::to_string(file) + ".bin.tmp"));
  }
  EXPECT_EQ(ReadBytes(PathOf("limit3.bin")), "keep");
  EXPECT_FALSE(Exists("limit12.bin"));
}

TEST_F(Columns, LimitSelections) {
  TNetwork& net = Small(0, true);
  net.OpenLimit(1, 1, false);  // 1, 10, -, 2
  net.OpenLimit(3, 2, false);  // 3, 30, -, 4
  struct Case {
    int32_t slot;
    uint8_t lo, hi;
    std::vector<int32_t> links;
  };
  for (const Case& c : std::vector<Case>{{1, 2, 2, {4}}, {1, 1, 10, {1, 2, 4}}, {2, 0, 3, {1}}, {2, 31, 255, {}}}) {
    TBitArray ba;
    net.SelectLimit(ba, c.slot, c.lo, c.hi);
    EXPECT_EQ(SetBits(ba), c.links) << int(c.lo) << ".." << int(c.hi);
  }
  TBitArray ba;
  EXPECT_EQ(MessageOf([&] { net.SelectLimit(ba, 1, 3, 2); }), "Min need to be smaller than Max");
  EXPECT_EQ(MessageOf([&] { net.SelectLimit(ba, 3, 0, 2); }), "Invalid limitID");

  net.SetLimit(1, 1, 0);
  net.SetLimit(2, 1, 0);
  net.OneWaySet(1, 512);
  for (const bool oneway : {false, true}) {
    TBitArray sel;
    net.SelectLinksWithLimits(sel, oneway);
    EXPECT_EQ(sel.GetBit(1), oneway);
    EXPECT_TRUE(sel.GetBit(2));
    EXPECT_FALSE(sel.GetBit(3));  // rejected
  }
}

TEST_F(Columns, AttributeSelections) {
  TTestNetworkWriter w;
  w.AddLink({{0, 0}, {1, 0}}, 3 | (2 << 5) | 0x1000);  // class 3, hierarchy 2, bit 12
  w.AddLink({{1, 0}, {2, 0}}, 5 | 0x8000);            // class 5, bit 15
  w.AddRejected();
  w.AddLink({{2, 0}, {3, 0}}, 0);
  w.SetRoadNames(1, {"A", "B", "", "A"});
  TNetwork& net = Open(w, true);
  net.OpenRoadName(1, false);
  const int32_t a = net.RoadName2RoadNameID(1, "A", false);
  struct Case {
    const char* name;
    int32_t rcMin, rcMax, hMin, hMax, file, id;
    uint8_t b12, b15;
    std::vector<int32_t> links;
  };
  const std::vector<Case> cases = {
      {"everything", 0, 31, 0, 7, 0, 0, 2, 2, {1, 2, 4}},
      {"classes 3..5", 3, 5, 0, 7, 0, 0, 2, 2, {1, 2}},
      {"hierarchy 2", 0, 31, 2, 2, 0, 0, 2, 2, {1}},
      {"bit 12 clear", 0, 31, 0, 7, 0, 0, 0, 2, {2, 4}},
      {"bit 15 set", 0, 31, 0, 7, 0, 0, 2, 1, {2}},
      {"road name A", 0, 31, 0, 7, 1, a, 2, 2, {1, 4}},
      {"file without name id", 0, 31, 0, 7, 1, 0, 2, 2, {1, 2, 4}},
  };
  for (const Case& c : cases) {
    TBitArray ba;
    net.Select(ba, c.rcMin, c.rcMax, c.hMin, c.hMax, c.file, c.id, 2, 2, 2, 2, c.b12, 2, 2, c.b15);
    EXPECT_EQ(SetBits(ba), c.links) << c.name;
  }
  TBitArray ba;
  EXPECT_EQ(MessageOf<ERoadNameFileNotOpen>(
                [&] { net.Select(ba, 0, 31, 0, 7, 2, 1, 2, 2, 2, 2, 2, 2, 2, 2); }),
            "Roadnamefile 2 is not open");
  net.SkipLinks2BitArray(ba);
  EXPECT_EQ(ba.Size(), 5);
  EXPECT_EQ(ba.CountTrue(), 1);
  EXPECT_TRUE(ba.GetBit(2));
  net.Close();
  TBitArray closed;
  net.SkipLinks2BitArray(closed);  // a closed network has no words: nothing read
  EXPECT_EQ(closed.CountTrue(), 0);
}

// ---------------------------------------------------------------------------
// Attribute words written back

TEST_F(Columns, SavedAttributesReopenWithTheSameWordsAndSigns) {
  for (const int64_t key : {int64_t(0), cNetworkKey}) {
    // An area square with a dead end that the area absorbs (bit 8 set only in
    // memory), and a one-way tail.
    TTestNetworkWriter w;
    w.Key = key;
    w.AddLink({{0, 0}, {1, 0}}, 256);
    w.AddLink({{1, 0}, {1, 1}}, 256);
    w.AddLink({{1, 1}, {0, 1}}, 256);
    w.AddLink({{0, 1}, {0, 0}}, 256);
    w.AddLink({{1, 0}, {2, -1}}, 7);
    w.AddLink({{0, 0}, {-1, 0}}, 0);
    w.AddLink({{-1, 0}, {-2, 0}}, 0);
    TNetwork& net = Open(w, true);
    ASSERT_TRUE(net.AttributeGetBit(5, 8));
    net.OneWaySet(6, 512);
    net.OneWaySet(7, 1024);
    net.SetHierarchy(7, 3);
    const TWordArray words = net.Attributes();
    std::vector<std::vector<int32_t>> signs;
    for (int32_t n = 1; n <= net.NodeCount(); ++n)
      signs.emplace_back(net.Adjacent(n).begin(), net.Adjacent(n).end());

    net.AttributeSave();
    EXPECT_FALSE(Exists("attribute.bin.tmp"));
    EXPECT_EQ(ReadBytes(PathOf("attribute.bin")).size(), 14u);
    net.Close();
    net.Open(true, false, false, 0);
    EXPECT_EQ(net.Attributes(), words) << key;
    for (int32_t n = 1; n <= net.NodeCount(); ++n)
      EXPECT_EQ(std::vector<int32_t>(net.Adjacent(n).begin(), net.Adjacent(n).end()), signs[size_t(n) - 1]) << n;
  }
}

TEST_F(Columns, FailedSavesLeaveTheOldFiles) {
  TTestNetworkWriter w;
  w.AddGrid({20, 20, 100, 0, 0});  // 760 links
  for (int32_t l = 1; l <= w.LinkCount(); ++l) w.SetAttribute(l, uint16_t(l % 32));
  std::vector<uint8_t> limit(size_t(w.LinkCount()));
  for (size_t i = 0; i < limit.size(); ++i) limit[i] = uint8_t(i);
  w.SetLimit(1, limit);
  TNetwork& net = Open(w, true);
  net.OpenLimit(1, 1, false);
  for (int32_t l = 1; l <= net.LinkCount(); ++l) {
    net.SetRoadClass(l, 31);
    net.SetLimit(1, l, 9);
  }
  struct Case {
    const char* file;
    std::function<void()> save;
  };
  const std::vector<Case> cases = {{"attribute.bin", [&] { net.AttributeSave(); }},
                                   {"limit1.bin", [&] { net.SaveLimit(1, 1); }}};
  for (const Case& c : cases) {
    const std::string before = ReadBytes(PathOf(c.file));
    EXPECT_TRUE(RaisesUnderFileLimit(int64_t(before.size()) / 2, c.save)) << c.file;
    EXPECT_EQ(ReadBytes(PathOf(c.file)), before) << c.file;
    EXPECT_FALSE(Exists(std::string(c.file) + ".tmp")) << c.file;
    // Without the limit the same save goes through.
    c.save();
    EXPECT_NE(ReadBytes(PathOf(c.file)), before) << c.file;
  }
}

// ---------------------------------------------------------------------------
// Time and cost columns

TEST_F(Columns, CostFromWeightedLengthAndTime) {
  TNetwork& net = Small();
  net.CreateArrayTime(1);
  net.CreateArrayCost(2);
  net.SetTime(0, 1, 0.5f);  // 1 km in half a minute: 120 km/h
  net.SetTime(0, 2, 4.0f);  // 2 km in 4 minutes: 30 km/h
  // time column: 0.5, 4, (0), 0.5 (the length of link 4 as created)
  struct Case {
    float wl, wt;
    int32_t timeindex;
    double maxspeed;
    std::vector<float> cost;  // links 1..4
  };
  const std::vector<Case> cases = {
      {1, 0, 5, 0, {1, 2, 0, 0.5f}},             // time index not used, not checked
      {0, 1, 0, 60, {1, 4, 0, 0.5f}},            // never faster than 60 km/h
      {2, 3, 0, 0, {3.5f, 16, 0, 2.5f}},
      {-1, 0, 0, 0, {-1, -2, 0, -0.5f}},         // weightlength alone, whatever its sign
      {-1, 2, 0, 0, {1, 8, 0, 1}},               // time alone when the length weight is not > 0
  };
  for (const Case& c : cases) {
    net.CalculateCost(1, c.wl, c.wt, c.timeindex, c.maxspeed);
    for (int32_t l = 1; l <= 4; ++l)
      EXPECT_FLOAT_EQ(net.Costs()[1][size_t(l)], c.cost[size_t(l) - 1]) << c.wl << "," << c.wt << " link " << l;
  }
  EXPECT_EQ(MessageOf<EOutOfRange>([&] { net.CalculateCost(1, 1, 1, 5, 0); }), "timeindex must be 0 to 0 (is 5)");
  EXPECT_EQ(MessageOf<EOutOfRange>([&] { net.CalculateCost(2, 1, 0, 0, 0); }), "costindex must be 0 to 1 (is 2)");
  EXPECT_THROW(net.CalculateCost(0, NAN, 0, 0, 0), EInvalidOp);
  // A weight too large for a Single: nothing changes.
  const TCostArray before = net.Costs()[1];
  EXPECT_THROW(net.CalculateCost(1, 3e38f, 3e38f, 0, 0), EOverflow);
  EXPECT_EQ(net.Costs()[1], before);
}

TEST_F(Columns, IndexAndValueChecks) {
  TNetwork& net = Small();
  EXPECT_EQ(MessageOf<EOutOfRange>([&] { net.SetTime(0, 1, 1); }), "index must be 0 to -1 (is 0)");
  net.CreateArrayTime(2);
  net.CreateArrayCost(1);
  TRoadClassSpeed rcs;
  const uint64_t version = net.ColumnVersion();
  struct Case {
    const char* name;
    std::function<void()> f;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"SetTime -1", [&] { net.SetTime(-1, 1, 1); }, "index must be 0 to 1 (is -1)"},
      {"SetTime n", [&] { net.SetTime(2, 1, 1); }, "index must be 0 to 1 (is 2)"},
      {"SetSpeed n", [&] { net.SetSpeed(2, 1, 1); }, "index must be 0 to 1 (is 2)"},
      {"SetCost -1", [&] { net.SetCost(-1, 1, 1); }, "Index must be 0 to 0 (is -1)"},
      {"SetCost n", [&] { net.SetCost(1, 1, 1); }, "Index must be 0 to 0 (is 1)"},
      {"CalculateTime n", [&] { net.CalculateTime(2, rcs); }, "index must be 0 to 1 (is 2)"},
      {"time 0", [&] { net.SetTime(0, 1, 0); }, "Time should be >0 (is 0.00)"},
      {"time NaN", [&] { net.SetTime(0, 1, NAN); }, "Time should be >0 (is NAN)"},
      {"speed -5", [&] { net.SetSpeed(0, 1, -5); }, "Speed should be >0 (is -5.00)"},
      {"cost 0", [&] { net.SetCost(0, 1, 0); }, "Cost should be >0 (is 0.00)"},
      {"cost -1", [&] { net.SetCost(0, 1, -1); }, "Cost should be >0 (is -1.00)"},
      {"link check first", [&] { net.SetCost(5, 3, 0); }, "Link 3 is a non-valid link"},
  };
  for (const Case& c : cases) EXPECT_EQ(MessageOf([&] { c.f(); }), c.message) << c.name;
  EXPECT_THROW(net.SetTime(0, 1, INFINITY), EOverflow);
  EXPECT_THROW(net.SetSpeed(0, 1, 1e-44f), EOverflow);
  EXPECT_EQ(net.ColumnVersion(), version);  // nothing failed changed anything
  EXPECT_FLOAT_EQ(net.GetTime(0, 1), 1);

  net.SetAllowNegativeCost(true);
  net.SetCost(0, 1, 0);
  net.SetCost(0, 2, -3);
  EXPECT_EQ(net.GetCost(0, 1), 0);
  EXPECT_EQ(net.GetCost(0, 2), -3);
  EXPECT_THROW(net.SetCost(0, 1, NAN), EOutOfRange);
  net.SetSpeed(1, 2, 60);
  EXPECT_FLOAT_EQ(net.GetTime(1, 2), 2);
  EXPECT_FLOAT_EQ(net.GetSpeed(1, 2), 60);
  EXPECT_GT(net.ColumnVersion(), version);
}

TEST_F(Columns, NewColumnsStartAsLengths) {
  TNetwork& net = Small();
  net.CreateArrayTime(2);
  ASSERT_EQ(net.Times().size(), 2u);
  for (const TCostArray& c : net.Times()) EXPECT_EQ(c, net.Lengths());
  net.SetTime(1, 1, 9);
  const uint64_t version = net.ColumnVersion();
  net.CreateArrayTime(1);
  net.CreateArrayTime(2);
  EXPECT_EQ(net.ColumnVersion(), version);
  EXPECT_EQ(net.GetTime(1, 1), 9);
  net.CreateArrayTime(3);
  EXPECT_EQ(net.GetTime(1, 1), 9);
  EXPECT_EQ(net.Times()[2], net.Lengths());
}

// A speed table with a class the public setter would refuse.
class TZeroSpeed : public TRoadClassSpeed {
public:
  explicit TZeroSpeed(TRoadClass Class) { Fspeed[Class] = 0; }
};

TEST_F(Columns, TimeFromRoadClassSpeeds) {
  TNetwork& net = Small();
  net.CreateArrayTime(1);
  TRoadClassSpeed rcs;
  rcs.Put(1, 120);
  rcs.Put(2, 30);
  net.CalculateTime(0, rcs);
  const std::vector<float> want = {0, 0.5f, 4, 0, 0.25f};
  for (int32_t l = 1; l <= 4; ++l) EXPECT_FLOAT_EQ(net.GetTime(0, l), want[size_t(l)]) << l;

  // A used class without a speed raises before anything changes; an unused one does not count.
  const TCostArray before = net.Times()[0];
  EXPECT_EQ(MessageOf<EOutOfRange>([&] { net.CalculateTime(0, TZeroSpeed(2)); }),
            "Speed for RoadClass should be >0 (is 0.00)");
  EXPECT_EQ(net.Times()[0], before);
  net.CalculateTime(0, TZeroSpeed(7));
  EXPECT_FLOAT_EQ(net.GetTime(0, 2), 2);
}

TEST_F(Columns, UpdateAlphasRecomputesOnlyTheFlaggedFactor) {
  TNetwork& net = Small();
  net.CreateArrayTime(1);
  net.CreateArrayCost(1);
  net.UpdateAlphas();
  // Columns equal to the lengths of straight links: the ratio is 1.
  EXPECT_FLOAT_EQ(net.TimeAlpha(), 1);
  EXPECT_FLOAT_EQ(net.CostAlpha(), 1);
  EXPECT_FALSE(net.TimeAlphaUpdateNeeded());

  // Raised costs set no flag: the cost factor stays 1 although 4 would do.
  net.SetCost(0, 1, 4);
  net.SetCost(0, 2, 8);
  net.SetCost(0, 4, 2);
  EXPECT_FALSE(net.CostAlphaUpdateNeeded());
  net.SetTime(0, 2, 0.5f);  // lowered: the time factor becomes 1 / 4
  EXPECT_TRUE(net.TimeAlphaUpdateNeeded());
  // ComputeAlpha gives the factors of the columns as they are and stores
  // nothing (a search computes them so on a network it shares).
  EXPECT_FLOAT_EQ(net.ComputeAlpha(true), 0.25f);
  EXPECT_FLOAT_EQ(net.ComputeAlpha(false), 4);  // the raised costs, not stored
  EXPECT_FLOAT_EQ(net.TimeAlpha(), 1);
  EXPECT_TRUE(net.TimeAlphaUpdateNeeded());
  net.UpdateAlphas();
  EXPECT_FLOAT_EQ(net.TimeAlpha(), 0.25f);
  EXPECT_FLOAT_EQ(net.CostAlpha(), 1);

  // A zero cost (allowed) on a link of non-zero crow-fly length switches the bound off.
  net.SetAllowNegativeCost(true);
  net.SetCost(0, 4, 0);
  net.UpdateAlphas();
  EXPECT_EQ(net.CostAlpha(), 0);
  EXPECT_FLOAT_EQ(net.TimeAlpha(), 0.25f);
}

TEST_F(Columns, LowerBoundHoldsForEveryLinkAndColumn) {
  std::mt19937 rng(7);
  for (int32_t round = 0; round < 6; ++round) {
    TTestNetworkWriter w;
    w.Unit = round % 2 ? cuDeg : cuM;
    const double spacing = round % 2 ? 0.01 : 100;
    w.AddGrid({8, 7, spacing, 4, 0.3});
    w.AddLink({{0, 0}, {0, 0}, {spacing, spacing}, {0, 0}});  // a loop: crow-fly 0
    for (int32_t l = 1; l <= w.LinkCount(); ++l) w.SetAttribute(l, uint16_t(rng() % 32));
    TNetwork& net = Open(w, true);
    net.CreateArrayTime(2);
    net.CreateArrayCost(3);
    TRoadClassSpeed rcs;
    for (int32_t c = 0; c <= 31; ++c) rcs.Put(TRoadClass(c), float(5 + rng() % 120));
    net.CalculateTime(1, rcs);
    std::uniform_real_distribution<float> weight(-1, 3);
    net.CalculateCost(0, weight(rng), weight(rng), 1, 0);
    net.CalculateCost(1, 0, 0, 0, 0);  // all zero
    net.CalculateCost(2, weight(rng), 1, 0, 50);
    net.SetAllowNegativeCost(true);
    for (int32_t l = 1; l <= net.LinkCount(); l += 5) net.SetCost(2, l, weight(rng));
    net.UpdateAlphas();
    for (const auto& [name, alpha, M] : {std::tuple{"time", net.TimeAlpha(), &net.Times()},
                                         std::tuple{"cost", net.CostAlpha(), &net.Costs()}}) {
      ASSERT_TRUE(std::isfinite(alpha) && alpha >= 0) << name;
      for (const TCostArray& c : *M)
        for (int32_t l = 1; l <= net.LinkCount(); ++l) {
          // No factor >= 0 bounds a negative value; the searches refuse those.
          if (net.Lengths()[size_t(l)] == 0 || c[size_t(l)] < 0) continue;
          const double d = float(net.DistanceBetweenNodes_raw(net.Fromnodes()[size_t(l)], net.Tonodes()[size_t(l)]));
          // Ratio and factor are rounded to Single: a few units in the last place.
          EXPECT_LE(d * alpha, double(c[size_t(l)]) * (1 + 1e-6) + 1e-30) << name << " round " << round << " link " << l;
        }
    }
    EXPECT_EQ(net.CostAlpha(), 0);  // the zero column
    EXPECT_GT(net.TimeAlpha(), 0);
  }
}

TEST_F(Columns, ColumnVersionFollowsEveryChange) {
  TNetwork& net = Small();
  TRoadClassSpeed rcs;
  const std::vector<std::pair<const char*, std::function<void()>>> changes = {
      {"CreateArrayTime", [&] { net.CreateArrayTime(1); }},
      {"CreateArrayCost", [&] { net.CreateArrayCost(1); }},
      {"SetTime", [&] { net.SetTime(0, 1, 3); }},
      {"SetSpeed", [&] { net.SetSpeed(0, 1, 3); }},
      {"SetCost", [&] { net.SetCost(0, 1, 3); }},
      {"CalculateTime", [&] { net.CalculateTime(0, rcs); }},
      {"CalculateCost", [&] { net.CalculateCost(0, 1, 0, 0, 0); }},
      {"OpenLimit", [&] { net.OpenLimit(1, 1, false); }},
      {"SetLimit", [&] { net.SetLimit(1, 1, 3); }},
      {"SetLimitBit", [&] { net.SetLimitBit(1, 1, 4, true); }},
  };
  for (const auto& [name, change] : changes) {
    const uint64_t before = net.ColumnVersion();
    change();
    EXPECT_GT(net.ColumnVersion(), before) << name;
  }
}
