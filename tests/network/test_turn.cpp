#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "network/kovra_turn.h"
#include "support/temp_dir_test.h"

using namespace kovra;
using kovra::testsupport::ReadBytes;
using kovra::testsupport::TTempDirTest;

namespace {

using Seq = std::vector<int32_t>;

struct Stored {
  Seq links;
  float value;
  bool operator==(const Stored&) const = default;
};

void PrintTo(const Stored& s, std::ostream* os) {
  *os << "(";
  for (size_t i = 0; i < s.links.size(); ++i) *os << (i ? "," : "") << s.links[i];
  *os << ")=" << s.value;
}

// The live restrictions ending with link, in GetList order.
std::vector<Stored> Ending(const TTurnRestrictions& ts, int32_t link) {
  std::vector<Stored> result;
  TIntegerList list;
  if (!ts.GetList(link, list)) return result;
  for (int32_t i = 0; i < list.Count(); ++i) {
    const TTurnRestriction tr = ts.GetTR(list.GetItem(i));
    result.push_back({Seq(tr.links.begin(), tr.links.end()), tr.value});
  }
  return result;
}

void Add(TTurnRestrictions& ts, const Seq& links, float value) { ts.Add({links, value}); }

// One binary turn file record, with a count that need not match the ids.
std::string Record(float value, int32_t n, const Seq& ids) {
  std::string r(8 + 4 * ids.size(), '\0');
  std::memcpy(r.data(), &value, 4);
  std::memcpy(r.data() + 4, &n, 4);
  if (!ids.empty()) std::memcpy(r.data() + 8, ids.data(), 4 * ids.size());
  return r;
}
std::string Record(float value, const Seq& ids) { return Record(value, int32_t(ids.size()), ids); }

const std::string cHeader = std::string(cTurnFileHeader) + "\r\n";

}  // namespace

// ---------------------------------------------------------------------------
// Store behaviour

TEST(TurnRestrictions, SingleOperationCases) {
  struct Op {
    Seq links;
    float value;
  };
  struct Case {
    const char* name;
    std::vector<Op> ops;
    int32_t link;
    std::vector<Stored> expected;
    int32_t count;
  };
  const std::vector<Case> cases = {
      {"U-turn onto the same link is ignored", {{{5, 5}, -1}}, 5, {}, 0},
      {"fewer than two links are ignored", {{{7}, -1}, {{}, 2}}, 7, {}, 0},
      {"the later value replaces", {{{3, 4}, -1}, {{3, 4}, 2.5f}}, 4, {{{3, 4}, 2.5f}}, 1},
      {"0 removes, Count stays", {{{3, 4}, -1}, {{3, 4}, 2.5f}, {{3, 4}, 0}}, 4, {}, 1},
      {"re-adding after a removal appends", {{{3, 4}, -1}, {{3, 4}, 0}, {{3, 4}, 1}}, 4, {{{3, 4}, 1}}, 2},
      {"0 for an unknown sequence does nothing", {{{3, 4}, 0}}, 4, {}, 0},
      {"restrictions into one link in the order added",
       {{{7, 4}, -1}, {{3, 4}, 3}},
       4,
       {{{7, 4}, -1}, {{3, 4}, 3}},
       2},
      {"removing one keeps the other and the bit", {{{3, 4}, -1}, {{7, 4}, -1}, {{3, 4}, 0}}, 4, {{{7, 4}, -1}}, 2},
      {"a shared bucket gives only what ends at the link", {{{1, 65013}, -1}, {{2, 10}, 4}}, 10, {{{2, 10}, 4}}, 2},
      {"... and at its partner", {{{1, 65013}, -1}, {{2, 10}, 4}}, 65013, {{{1, 65013}, -1}}, 2},
      {"(1,2,3) and (2,3) are different", {{{1, 2, 3}, -1}, {{2, 3}, 2}}, 3, {{{1, 2, 3}, -1}, {{2, 3}, 2}}, 2},
      {"removal matches the whole sequence", {{{1, 2, 3}, -1}, {{2, 3}, 2}, {{2, 3}, 0}}, 3, {{{1, 2, 3}, -1}}, 2},
      {"a negative value is kept as given", {{{3, 4}, -2.5f}}, 4, {{{3, 4}, -2.5f}}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TTurnRestrictions ts(70000);
    for (const Op& op : c.ops) Add(ts, op.links, op.value);
    EXPECT_EQ(Ending(ts, c.link), c.expected);
    EXPECT_EQ(ts.B().GetBit(c.link), !c.expected.empty());
    EXPECT_EQ(ts.Count(), c.count);
  }
}

TEST(TurnRestrictions, MatchesAModelUnderRandomAddsAndRemovals) {
  constexpr int32_t cSize = 200000;
  // Ids b, b + 65003 and b + 2 * 65003 share a bucket.
  std::vector<int32_t> pool;
  for (int32_t b : {1, 2, 3, 10, 11, 500})
    for (int32_t k = 0; k < 3; ++k) pool.push_back(b + k * cHashSize);
  pool.push_back(cSize);

  struct ModelEntry {
    float value;
    int64_t order;
  };
  std::map<Seq, ModelEntry> model;
  int32_t appended = 0;
  TTurnRestrictions ts(cSize);
  std::mt19937 rng(7);
  auto pick = [&] { return pool[rng() % pool.size()]; };

  auto verify = [&](const TTurnRestrictions& set) {
    int64_t lastLinks = 0;
    for (int32_t link : pool) {
      std::vector<std::pair<int64_t, Stored>> ordered;
      for (const auto& [seq, e] : model)
        if (seq.back() == link) ordered.push_back({e.order, {seq, e.value}});
      std::sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
      std::vector<Stored> expected;
      for (auto& o : ordered) expected.push_back(o.second);
      ASSERT_EQ(Ending(set, link), expected) << "link " << link;
      ASSERT_EQ(set.B().GetBit(link), !expected.empty()) << "link " << link;
      lastLinks += !expected.empty();
    }
    ASSERT_EQ(set.B().CountTrue(), lastLinks);
    ASSERT_EQ(set.Count(), appended);
    // The live prohibitions and turn costs, counted as the set changes.
    int32_t prohibitions = 0, costs = 0;
    for (const auto& [seq, e] : model) (e.value < 0 ? prohibitions : costs) += 1;
    ASSERT_EQ(set.ProhibitionCount(), prohibitions);
    ASSERT_EQ(set.CostCount(), costs);
  };

  int32_t previousCount = 0;
  for (int step = 1; step <= 6000; ++step) {
    Seq s(rng() % 4 == 0 ? 3 : 2);
    for (int32_t& l : s) l = pick();
    if (s.size() == 2 && rng() % 10 == 0) s[1] = s[0];
    const uint32_t r = rng() % 5;
    const float value = r == 0 ? 0.0f : r == 1 ? -1.0f : r == 2 ? 2.5f : float(rng() % 1000) / 8 + 0.125f;
    if (s.size() == 2)
      ts.AddSimple(s[0], s[1], value);
    else
      Add(ts, s, value);

    if (!(s.size() == 2 && s[0] == s[1])) {
      auto it = model.find(s);
      if (value != 0) {
        if (it != model.end())
          it->second.value = value;
        else
          model[s] = {value, appended++};
      } else if (it != model.end()) {
        model.erase(it);
      }
    }
    ASSERT_GE(ts.Count(), previousCount);
    previousCount = ts.Count();
    if (step % 500 == 0 || step < 50) verify(ts);
  }

  // The clone answers the same, with the same indexes, and is independent.
  TTurnRestrictions clone(1);
  ts.Clone(clone);
  EXPECT_EQ(clone.Size(), cSize);
  verify(clone);
  for (int32_t link : pool) {
    TIntegerList a, b;
    ASSERT_EQ(ts.GetList(link, a), clone.GetList(link, b));
    EXPECT_TRUE(a.EqualLists(b));
  }
  clone.AddSimple(4, 5, -1);
  clone.Clear();
  verify(ts);

  ts.Clear();
  model.clear();
  appended = 0;
  verify(ts);
  EXPECT_EQ(ts.Size(), cSize);
}

TEST(TurnRestrictions, BadAddsRaiseAndChangeNothing) {
  enum Kind { OutOfRange, InvalidParameter };
  struct Case {
    Seq links;
    float value;
    Kind kind;
    std::string message;
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const std::vector<Case> cases = {
      {{0, 2}, -1, OutOfRange, "Link-ID must be >=1: 0"},
      {{1, -3}, -1, OutOfRange, "Link-ID must be >=1: -3"},
      {{1, 2, 101}, -1, OutOfRange, "Link-ID must be <=100: 101"},
      {{0, 0}, -1, OutOfRange, "Link-ID must be >=1: 0"},
      {{101}, -1, OutOfRange, "Link-ID must be <=100: 101"},
      {{1, 2}, nan, InvalidParameter, cMsgTurnValueNotFinite},
      {{1, 2}, inf, InvalidParameter, cMsgTurnValueNotFinite},
      {{1, 2}, -inf, InvalidParameter, cMsgTurnValueNotFinite},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    TTurnRestrictions ts(100);
    ts.AddSimple(1, 2, 5);
    try {
      Add(ts, c.links, c.value);
      ADD_FAILURE() << "no exception";
    } catch (const EOutOfRange& e) {
      EXPECT_EQ(c.kind, OutOfRange);
      EXPECT_EQ(e.Message(), c.message);
    } catch (const EInvalidParameter& e) {
      EXPECT_EQ(c.kind, InvalidParameter);
      EXPECT_EQ(e.Message(), c.message);
    }
    EXPECT_EQ(Ending(ts, 2), (std::vector<Stored>{{{1, 2}, 5}}));
    EXPECT_EQ(ts.Count(), 1);
    EXPECT_EQ(ts.B().CountTrue(), 1);
  }
  TTurnRestrictions ts(100);
  EXPECT_THROW(ts.AddSimple(7, 200, nan), EOutOfRange);  // ids are checked first
}

TEST(TurnRestrictions, GetListOnlyReplacesTheListOnAHit) {
  TTurnRestrictions ts(100);
  ts.AddSimple(3, 4, -1);
  ts.AddSimple(5, 6, -1);
  ts.AddSimple(7, 6, 2);
  TIntegerList list;
  list.Add(99);
  list.Add(98);
  for (int32_t link : {5, 0, -1, 101, 2147483647, -2147483647 - 1}) {
    EXPECT_FALSE(ts.GetList(link, list)) << link;
    EXPECT_EQ(list.Count(), 2);
  }
  ASSERT_TRUE(ts.GetList(6, list));
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.GetItem(0), 1);
  EXPECT_EQ(list.GetItem(1), 2);
  ASSERT_TRUE(ts.GetList(4, list));
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list.GetItem(0), 0);
}

TEST(TurnRestrictions, SwapReversesEachRestrictionKeepingItsValue) {
  struct Case {
    const char* name;
    std::vector<Stored> input;
    std::vector<std::pair<int32_t, std::vector<Stored>>> expected;  // by last link
    int32_t count;
  };
  const std::vector<Case> cases = {
      {"costs stay costs",
       {{{1, 2, 3}, 2.5f}, {{4, 5}, 7}, {{6, 7}, -1}},
       {{1, {{{3, 2, 1}, 2.5f}}}, {4, {{{5, 4}, 7}}}, {6, {{{7, 6}, -1}}}, {3, {}}},
       3},
      {"(1,2) and (2,1) give both again", {{{1, 2}, -1}, {{2, 1}, -1}}, {{1, {{{2, 1}, -1}}}, {2, {{{1, 2}, -1}}}}, 2},
      {"removed restrictions stay removed", {{{8, 9}, -1}, {{8, 9}, 0}, {{1, 9}, 3}}, {{8, {}}, {1, {{{9, 1}, 3}}}}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TTurnRestrictions ts(66000);
    for (const Stored& s : c.input) Add(ts, s.links, s.value);
    const std::vector<Stored> before = Ending(ts, c.input.front().links.back());
    std::unique_ptr<TTurnRestrictions> swapped = ts.Swap();
    EXPECT_EQ(swapped->Size(), 66000);
    EXPECT_EQ(swapped->Count(), c.count);
    for (const auto& [link, expected] : c.expected) EXPECT_EQ(Ending(*swapped, link), expected) << link;
    EXPECT_EQ(Ending(ts, c.input.front().links.back()), before);
  }
}

TEST(TurnRestrictions, ConcurrentReadersSeeTheSingleThreadResults) {
  constexpr int32_t cSize = 140000;
  TTurnRestrictions ts(cSize);
  std::mt19937 rng(11);
  for (int i = 0; i < 3000; ++i) {
    Seq s(2 + rng() % 3);
    for (int32_t& l : s) l = 1 + int32_t(rng() % cSize);
    s.back() = 1 + int32_t(rng() % 1000) + int32_t(rng() % 2) * cHashSize;  // crowded, colliding buckets
    Add(ts, s, rng() % 3 == 0 ? -1.0f : float(rng() % 100) + 0.5f);
  }
  // Everything GetList and GetTR give, link by link, flattened.
  auto read = [&] {
    std::vector<int32_t> flat;
    TIntegerList list;
    for (int32_t link = 1; link <= cSize; ++link) {
      if (!ts.GetList(link, list)) continue;
      flat.push_back(link);
      for (int32_t i = 0; i < list.Count(); ++i) {
        const TTurnRestriction tr = ts.GetTR(list.GetItem(i));
        flat.push_back(list.GetItem(i));
        flat.push_back(std::bit_cast<int32_t>(tr.value));
        flat.insert(flat.end(), tr.links.begin(), tr.links.end());
      }
    }
    return flat;
  };
  const std::vector<int32_t> reference = read();
  ASSERT_FALSE(reference.empty());
  std::vector<std::vector<int32_t>> results(8);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) threads.emplace_back([&, t] {
      for (int pass = 0; pass < 3; ++pass) results[size_t(t)] = read();
    });
  for (std::thread& t : threads) t.join();
  for (const auto& r : results) EXPECT_EQ(r, reference);
}

// ---------------------------------------------------------------------------
// Files

using TurnFiles = TTempDirTest;

TEST_F(TurnFiles, ExportTxtWritesTheExactBytesInBucketOrder) {
  TTurnRestrictions ts(2000);
  ts.AddSimple(1017, 1023, 2.5f);
  Add(ts, {5, 6, 7}, -1);
  ts.AddSimple(8, 9, -1);
  ts.AddSimple(8, 9, 0);
  const std::string name = fTemp.File("turns.txt");
  ts.ExportTxt(name);
  EXPECT_EQ(ReadBytes(name), cHeader + "6 5 6 7 -1\r\n1 1017 1023    2.500\r\n");

  TTurnRestrictions empty(10);
  empty.ExportTxt(name);
  EXPECT_EQ(ReadBytes(name), cHeader);
}

TEST_F(TurnFiles, ExportTxtValueField) {
  const std::vector<std::pair<float, std::string>> cases = {
      {2.5f, "   2.500"},    {-1, "-1"},           {-2.5f, "-1"},         {-0.001f, "-1"},
      {0.001f, "   0.001"},  {12345678, "12345678.000"},
      // Three decimals would change these: the digits that read back as the
      // same Single, never a 0 that would read back as a removal.
      {1234.5678f, "1234.5677"}, {3e-4f, "  0.0003"}, {1e-6f, "0.000001"}, {1e-9f, "0.000000001"},
  };
  TTurnRestrictions ts(100);
  std::string expected = cHeader;
  for (size_t i = 0; i < cases.size(); ++i) {
    ts.AddSimple(99, int32_t(i) + 1, cases[i].first);
    expected += "1 99 " + std::to_string(i + 1) + " " + cases[i].second + "\r\n";
  }
  const std::string name = fTemp.File("values.txt");
  ts.ExportTxt(name);
  EXPECT_EQ(ReadBytes(name), expected);
}

TEST_F(TurnFiles, ExportTxtThroughALinkMap) {
  TTurnRestrictions ts(6);
  ts.AddSimple(1, 2, -1);          // 1 1: collapses to one id, not written
  ts.AddSimple(2, 3, 2.5f);        // 1 2
  Add(ts, {1, 2, 3, 5}, -1);       // 1 1 2 3 -> 1 2 3
  Add(ts, {3, 4, 5}, 4);           // 2 2 3 -> 2 3
  Add(ts, {1, 3, 2}, -1);          // 1 2 1: only neighbours collapse
  Add(ts, {2, 6, 3}, -1);          // 1 0 2: link 6 is mapped nowhere, not written
  const TIntegerArray IA = {0, 1, 1, 2, 2, 3, 0};
  const std::string name = fTemp.File("joined.turn");
  ts.ExportTxt(name, IA);
  EXPECT_EQ(ReadBytes(name), cHeader +
                                 "6 1 2 1 -1\r\n"
                                 "1 1 2    2.500\r\n"
                                 "6 1 2 3 -1\r\n"
                                 "1 2 3    4.000\r\n");

  const std::string other = fTemp.File("short.turn");
  EXPECT_THROW(ts.ExportTxt(other, TIntegerArray(6, 1)), EInvalidParameter);
  EXPECT_FALSE(std::filesystem::exists(other));
}

TEST_F(TurnFiles, BinaryRoundTripRestoresTheLiveRestrictions) {
  TTurnRestrictions ts(70000);
  ts.AddSimple(1, 65013, 3.25f);  // bucket 10
  ts.AddSimple(9, 8, -1);         // removed below: a dead entry
  ts.AddSimple(2, 10, -1);        // bucket 10, after 65013
  Add(ts, {5, 6, 7}, 2.5f);       // bucket 7
  ts.AddSimple(3, 4, -1);         // bucket 4, value replaced below
  ts.AddSimple(9, 8, 0);
  ts.AddSimple(3, 4, 0.75f);
  const std::string bin = fTemp.File("turns.bin");
  ts.ExportBin(bin);
  EXPECT_EQ(ReadBytes(bin), Record(0.75f, {3, 4}) + Record(2.5f, {5, 6, 7}) + Record(3.25f, {1, 65013}) +
                                Record(-1, {2, 10}));

  // An independent reader sees the same records.
  const std::string listing = fTemp.File("listing.txt");
  ASSERT_EQ(std::system(("python3 " KOVRA_TEST_SCRIPTS_DIR "/turn_oracle.py '" + bin + "' > '" + listing + "'").c_str()),
            0);
  EXPECT_EQ(ReadBytes(listing), "0.75 2 3 4\n2.5 3 5 6 7\n3.25 2 1 65013\n-1.0 2 2 10\n");

  const std::string before = fTemp.File("before.txt"), after = fTemp.File("after.txt");
  ts.ExportTxt(before);
  ts.Clear();
  EXPECT_EQ(ts.Count(), 0);
  EXPECT_EQ(ts.B().CountTrue(), 0);
  ts.ImportBin(bin);
  EXPECT_EQ(ts.Count(), 4);  // the dead entry is not in the file
  ts.ExportTxt(after);
  EXPECT_EQ(ReadBytes(after), ReadBytes(before));
  EXPECT_EQ(Ending(ts, 10), (std::vector<Stored>{{{2, 10}, -1}}));

  // A second import finds every sequence again: values replaced, nothing appended.
  ts.ImportBin(bin);
  EXPECT_EQ(ts.Count(), 4);
}

TEST_F(TurnFiles, ImportBinAddsRecordsInOrder) {
  const std::string bin = Make("ops.bin", Record(-1, {3, 4}) + Record(2.5f, {3, 4}) + Record(1, {5, 6}) +
                                              Record(0, {5, 6}) + Record(-1, {7, 7}) + Record(0, {1, 2}));
  TTurnRestrictions ts(10);
  ts.AddSimple(1, 2, -1);
  ts.ImportBin(bin);
  EXPECT_EQ(Ending(ts, 4), (std::vector<Stored>{{{3, 4}, 2.5f}}));
  EXPECT_EQ(Ending(ts, 6), std::vector<Stored>{});
  EXPECT_EQ(Ending(ts, 7), std::vector<Stored>{});
  EXPECT_EQ(Ending(ts, 2), std::vector<Stored>{});
  EXPECT_EQ(ts.Count(), 3);

  TTurnRestrictions empty(10);
  empty.ImportBin(Make("empty.bin", ""));
  EXPECT_EQ(empty.Count(), 0);
  EXPECT_THROW(empty.ImportBin(fTemp.File("missing.bin")), EFOpenError);
}

TEST_F(TurnFiles, ImportBinRefusesABadRecordAndChangesNothing) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::string good = Record(0, {1, 2}) + Record(-1, {3, 4});  // would remove (1,2)
  struct Case {
    std::string bytes;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {Record(-1, 3, {5, 6}), "the file ends inside the record"},
      {Record(-1, {5, 6}).substr(0, 5), "the file ends inside the record"},
      {Record(-1, 2147483647, {5, 6}), "the file ends inside the record"},
      {Record(-1, 1, {5}), "link count 1 is below 2"},
      {Record(-1, 0, {}), "link count 0 is below 2"},
      {Record(-1, -4, {5, 6}), "link count -4 is below 2"},
      {Record(-1, {0, 6}), "link 0 is outside 1..100"},
      {Record(-1, {5, 101}), "link 101 is outside 1..100"},
      {Record(-1, {-7, 6}), "link -7 is outside 1..100"},
      {Record(nan, {5, 6}), "the value is not a finite number"},
      {Record(std::numeric_limits<float>::infinity(), {5, 6}), "the value is not a finite number"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    const std::string bin = Make("bad.bin", good + c.bytes);
    TTurnRestrictions ts(100);
    ts.AddSimple(1, 2, -1);
    try {
      ts.ImportBin(bin);
      ADD_FAILURE() << "no exception";
    } catch (const EInvalidParameter& e) {
      EXPECT_EQ(e.Message(), "Turn file " + bin + ": record 3 is invalid (" + c.reason + ")");
    }
    EXPECT_EQ(Ending(ts, 2), (std::vector<Stored>{{{1, 2}, -1}}));
    EXPECT_EQ(ts.Count(), 1);
    EXPECT_EQ(ts.B().CountTrue(), 1);
  }
}
