// Road-name pairs built from text columns and read back: names by link, by id
// and ids by name in every way of opening, checked against a python3 decoder
// of the bytes and PyICU's root collator; lookups stay inside the file; pairs
// that cannot be read are refused; a pair in a foreign order is still
// searchable; threads and clones read as one thread does.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "foundation/kovra_collate.h"
#include "foundation/kovra_functions.h"
#include "network/kovra_roadnamefile.h"
#include "network/support/network_writer.h"
#include "network/support/roadname_fixture.h"
#include "support/test_raises.h"

using namespace kovra;
using namespace kovra::testsupport;
using namespace std::string_literals;

namespace {

struct TLookup {
  std::string name;
  bool ignorecase;
  std::vector<int32_t> anyOf;  // the ids that may answer; {-1}: not found
};

struct TPairCase {
  const char* name;
  std::vector<std::string> values;   // the input column, link 1 first
  std::vector<std::string> records;  // RoadName2 of ids 1..N; empty: left to the oracle
  std::vector<int32_t> numbers;      // RoadNameID1 of links 1..n; empty: left to the oracle
  int32_t width;                     // record width W; 0: left to the oracle
  std::vector<TLookup> lookups;
};

std::vector<TPairCase> PairCases() {
  return {
      {"B, a, B gives a then B",
       {"B", "a", "B"},
       {"a", "B"},
       {2, 1, 2},
       2,
       {{"a", false, {1}}, {"B", false, {2}}, {"b", false, {-1}}, {"b", true, {2}}, {"A", true, {1}},
        {"C", false, {-1}}, {"", false, {-1}}}},
      {"an empty value is stored as a blank and read as empty",
       {"Main St", "", "Elm"},
       {"", "Elm", "Main St"},
       {3, 1, 2},
       14,
       {{" ", false, {1}}, {"", false, {-1}}, {"main st", true, {3}}, {"main st", false, {-1}}}},
      {"the longest name sets the width",
       {"A", "Longer name", "Bc"},
       {"A", "Bc", "Longer name"},
       {1, 3, 2},
       22,
       {{"Longer name", false, {3}}, {"Longer", false, {-1}}, {"Longer name ", false, {-1}}}},
      {"case variants",
       {"main", "Main", "MAIN", "main"},
       {"main", "Main", "MAIN"},
       {1, 2, 3, 1},
       8,
       {{"MAIN", false, {3}}, {"mAIN", false, {-1}}, {"mAIN", true, {1, 2, 3}}}},
      // Whose order holds across CLDR versions: ASCII letters, digits and
      // blanks, case pairs, a few Latin-1 letters, and names the collator
      // alone calls equal (a soft hyphen, a combining accent).
      {"root collation",
       {"Zeta", "alpha", "Alpha", "10th Street", "9th Street", "\xc3\x96tztal", "Oak", "oak", "\xc3\x89lan",
        "elan", "a b", "ab", "a\xc2\xad" "b", "Stra\xc3\x9f" "e", "Strasse", "\xc3\xb1" "and\xc3\xba", "Nandu", "zz",
        "Z", "e\xcc\x81lan", "\xc3\xa9lan", "Main St", " Main St"},
       {},
       {},
       0,
       {{"Oak ", false, {-1}}, {"Omega", true, {-1}}}},
  };
}

std::string Trimmed(const std::string& v) { return std::string(TrimView(std::string_view(v))); }

enum class TOpen : uint8_t { Uncached, Cached, Streams };
const TOpen cOpenings[] = {TOpen::Uncached, TOpen::Cached, TOpen::Streams};
const char* OpenName(TOpen o) { return o == TOpen::Uncached ? "uncached" : o == TOpen::Cached ? "cached" : "streams"; }

class RoadNameFile : public TRoadNameTest {
protected:
  // Opens pair 1 of the folder in one of the ways.
  std::unique_ptr<TRoadNameFile> Open(TOpen How, int32_t LinkCount) {
    std::unique_ptr<TRoadNameFile> r;
    if (How == TOpen::Streams) {
      fNumbers = MemoryStreamOf(NumberBytes());
      fNames = MemoryStreamOf(NameBytes());
      r = std::make_unique<TRoadNameFile>(fNumbers.get(), fNames.get());
    } else {
      r = std::make_unique<TRoadNameFile>();
    }
    r->Load(Dir(), How == TOpen::Cached, 0, 1, LinkCount);
    return r;
  }

  std::unique_ptr<TKvMemoryStream> fNumbers, fNames;
};

}  // namespace

TEST_F(RoadNameFile, BuildsAndReadsThePair) {
  for (const TPairCase& c : PairCases()) {
    SCOPED_TRACE(c.name);
    Build(c.values);
    EXPECT_EQ(Oracle(true), "ok");
    const int32_t links = int32_t(c.values.size());
    int64_t maxUtf8 = 0;
    for (const auto& v : c.values) maxUtf8 = std::max<int64_t>(maxUtf8, int64_t(Trimmed(v).size()));
    for (TOpen how : cOpenings) {
      SCOPED_TRACE(OpenName(how));
      auto r = Open(how, links);
      ASSERT_TRUE(r->IsOpen());
      EXPECT_EQ(r->MaxRoadNameLengthUTF8(), maxUtf8);
      if (c.width) EXPECT_EQ(r->MaxRoadNameLength(), c.width);
      if (!c.records.empty()) {
        ASSERT_EQ(r->MaxRoadNameID(), int32_t(c.records.size()));
        for (int32_t id = 1; id <= r->MaxRoadNameID(); ++id) EXPECT_EQ(r->RoadName2(id), c.records[size_t(id) - 1]);
      }
      for (int32_t link = 1; link <= links; ++link) {
        const std::string& v = c.values[size_t(link) - 1];
        if (!c.numbers.empty()) EXPECT_EQ(r->RoadNameID1(link), c.numbers[size_t(link) - 1]) << link;
        EXPECT_EQ(r->RoadName1(link), Trimmed(v)) << link;
        // Every stored name is found at its own record, as stored.
        EXPECT_EQ(r->RoadNameID2(v.empty() ? " " : v, false), r->RoadNameID1(link)) << v;
        EXPECT_NE(r->RoadNameID2(v.empty() ? " " : v, true), -1) << v;
      }
      for (const TLookup& l : c.lookups) {
        const int32_t id = r->RoadNameID2(l.name, l.ignorecase);
        EXPECT_NE(std::find(l.anyOf.begin(), l.anyOf.end(), id), l.anyOf.end())
            << "'" << l.name << "'" << (l.ignorecase ? " ignoring case" : "") << " gave " << id;
      }
      r->Close();
      EXPECT_FALSE(r->IsOpen());
      EXPECT_EQ(r->RoadNameID2("a", false), -1);
      EXPECT_EQ(MessageOf<ERoadNameFileNotOpen>([&] { (void)r->RoadName2(1); }), "Roadnamefile 1 is not open");
    }
  }
}

// The pair of a fresh build may carry another number: NN in the file names.
TEST_F(RoadNameFile, FileNumberNamesThePair) {
  for (int32_t number : {7, 12, 99}) {
    Build({"x"}, number);
    EXPECT_TRUE(std::filesystem::exists(fTemp.File("roadname" + IntToStrZeroPad(number) + ".bin")));
    TRoadNameFile r;
    r.Load(Dir(), false, 0, number, 1);
    EXPECT_EQ(r.RoadName1(1), "x");
  }
  EXPECT_EQ(RoadNameFileName(7), "roadname07.bin");
  EXPECT_EQ(RoadNumberFileName(12), "roadnumber12.bin");
}

// A binary search reads about log2(N) records and never one past the last:
// the reads of a caller's stream show where it looked.
TEST_F(RoadNameFile, LookupsStayInsideTheFile) {
  class TLoggingStream : public TKvMemoryStream {
  public:
    int32_t Read(void* Buffer, int32_t Count) override {
      Reads.push_back({Position(), Count});
      return TKvMemoryStream::Read(Buffer, Count);
    }
    std::vector<std::pair<int64_t, int32_t>> Reads;
  };
  std::vector<std::string> values;
  for (int i = 0; i < 100; ++i) values.push_back("Road " + std::to_string(1000 + i));
  Build(values);
  auto numbers = MemoryStreamOf(NumberBytes());
  TLoggingStream names;
  const std::string bytes = NameBytes();
  names.WriteBuffer(bytes.data(), int32_t(bytes.size()));
  TRoadNameFile r(numbers.get(), &names);
  r.Load(Dir(), false, 0, 1, 100);
  const int64_t size = int64_t(bytes.size());
  for (const char* name : {"zzz", "Road 1099", "Road 1099 ", "0", "Road 1000"}) {
    SCOPED_TRACE(name);
    names.Reads.clear();
    const int32_t id = r.RoadNameID2(name, false);
    EXPECT_EQ(id, std::string(name) == "Road 1099" ? 100 : std::string(name) == "Road 1000" ? 1 : -1);
    EXPECT_LE(names.Reads.size(), 7u);  // ceil(log2(101))
    for (const auto& [at, count] : names.Reads) {
      EXPECT_EQ(count, r.MaxRoadNameLength());
      EXPECT_LE(at + count, size);
    }
  }
}

// A pair that cannot be read is refused with a message naming its file, and
// the reader stays closed.
TEST_F(RoadNameFile, RefusesPairsThatCannotBeRead) {
  auto ints = [](std::vector<int32_t> v) { return std::string(reinterpret_cast<const char*>(v.data()), 4 * v.size()); };
  auto utf16 = [](const std::u16string& s) { return std::string(reinterpret_cast<const char*>(s.data()), 2 * s.size()); };
  const std::string good = utf16(u"abB\0"s);  // records "ab" and "B" of 4 bytes, in order
  const std::string numberPath = fTemp.File("roadnumber01.bin"), namePath = fTemp.File("roadname01.bin");
  auto corrupt = [&](const std::string& path, const std::string& reason) {
    return Format("Network file %s is corrupted (%s)", path, reason);
  };
  struct Case {
    const char* name;
    std::string numbers, names;  // "-" leaves the file out
    int32_t links;
    std::string message;
  } const cases[] = {
      {"no number file", "-", good, 2, numberPath + " does not exist"},
      {"no name file", ints({1, 2}), "-", 2, namePath + " does not exist"},
      {"one link more", ints({1, 2}), good, 3, "LinkCount parameter value and links in the roadname file is different"},
      {"one link fewer", ints({1, 2}), good, 1, "LinkCount parameter value and links in the roadname file is different"},
      {"no links", "", good, 0, corrupt(numberPath, "no name ids")},
      {"a partial value", ints({1, 2}) + "\x01", good, 2, corrupt(numberPath, "9 bytes are no whole number of 4-byte ids")},
      {"id 0", ints({1, 0}), good, 2, corrupt(numberPath, "link 2 has the name id 0")},
      {"negative id", ints({-3, 2}), good, 2, corrupt(numberPath, "link 1 has the name id -3")},
      {"empty name file", ints({1, 2}), "", 2, corrupt(namePath, "0 bytes are no 2 records of an even width")},
      {"odd width", ints({1, 2}), good.substr(0, 6), 2, corrupt(namePath, "6 bytes are no 2 records of an even width")},
      {"size not N x W", ints({1, 2}), good + "xx", 2, corrupt(namePath, "10 bytes are no 2 records of an even width")},
      {"ids beyond the names", ints({1, 5}), good, 2, corrupt(namePath, "8 bytes are no 5 records of an even width")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(numberPath);
    std::filesystem::remove(namePath);
    if (c.numbers != "-") Make("roadnumber01.bin", c.numbers);
    if (c.names != "-") Make("roadname01.bin", c.names);
    TRoadNameFile r;
    const std::string message = MessageOf([&] { r.Load(Dir(), true, 0, 1, c.links); });
    EXPECT_EQ(message, c.message);
    EXPECT_FALSE(r.IsOpen());
  }
  // The same pair, whole, opens.
  Make("roadnumber01.bin", ints({2, 1}));
  Make("roadname01.bin", good);
  TRoadNameFile r;
  r.Load(Dir(), false, 0, 1, 2);
  EXPECT_EQ(r.RoadName1(1), "B");
  EXPECT_EQ(r.RoadNameID2("ab", false), 1);
}

// A pair sorted by another collation, here by code unit as a system without
// ours might sort it (B before a), is found out at loading: every name is
// still found, case-sensitively and ignoring case.
TEST_F(RoadNameFile, FindsEveryNameOfAPairInAnotherOrder) {
  const std::vector<std::string> names = {"B", "Main St", "Z", "a", "b", "main st", "\xc3\x84pfel", "\xc3\xa4"};
  ASSERT_TRUE(std::is_sorted(names.begin(), names.end()));  // code-unit order (all below U+D800)
  std::string nameFile, numberFile;
  std::vector<std::string> values;
  for (size_t k = 0; k < names.size(); ++k) {
    std::u16string u = ToUtf16(names[k]);
    u.resize(7, u'\0');
    nameFile.append(reinterpret_cast<const char*>(u.data()), 14);
    const int32_t id = int32_t(k) + 1;
    numberFile.append(reinterpret_cast<const char*>(&id), 4);
    values.push_back(names[k]);
  }
  Csv("in.csv", values);  // the values beside the pair, for the oracle
  Make(RoadNameFileName(1), nameFile);
  Make(RoadNumberFileName(1), numberFile);
  // The oracle agrees on the layout and sees the foreign order.
  EXPECT_EQ(Oracle(false), "ok");
  EXPECT_NE(Oracle(true), "ok");

  for (TOpen how : cOpenings) {
    SCOPED_TRACE(OpenName(how));
    auto r = Open(how, int32_t(names.size()));
    for (size_t k = 0; k < names.size(); ++k) {
      EXPECT_EQ(r->RoadNameID2(names[k], false), int32_t(k) + 1) << names[k];
      const int32_t folded = r->RoadNameID2(names[k], true);
      ASSERT_GE(folded, 1) << names[k];
      EXPECT_EQ(CompareRoadNames(ToUtf16(r->RoadName2(folded)), ToUtf16(names[k]), true), 0) << names[k];
    }
    EXPECT_EQ(r->RoadNameID2("c", false), -1);
    EXPECT_EQ(r->RoadNameID2("MAIN ST", false), -1);
    EXPECT_EQ(r->RoadNameID2("MAIN ST", true) == 2 || r->RoadNameID2("MAIN ST", true) == 6, true);
    // A clone searches through the same order.
    TRoadNameFile clone;
    r->Clone(clone);
    EXPECT_EQ(clone.RoadNameID2("a", false), 4);
  }
}

// Eight threads read one uncached reader and one clone each at once, by id
// and by name, and get what one thread gets; the clones outlive the reader.
TEST_F(RoadNameFile, ThreadsAndClonesReadAsOneThread) {
  TTestNetworkWriter w;
  w.AddGrid({20, 20, 10, 0, 0});
  std::vector<std::string> values;
  for (int32_t l = 1; l <= w.LinkCount(); ++l)
    values.push_back(l % 7 == 0 ? "" : (l % 3 ? "Street " : "street ") + std::to_string(l * 37 % 211));
  w.SetRoadNames(1, values);
  w.Write(dir.string());

  TRoadNameFile shared;
  shared.Load(Dir(), false, 0, 1, w.LinkCount());
  std::vector<std::string> byLink;
  std::vector<int32_t> idOfName, foldedIdOfName;
  for (int32_t l = 1; l <= w.LinkCount(); ++l) {
    byLink.push_back(shared.RoadName1(l));
    EXPECT_EQ(byLink.back(), values[size_t(l) - 1]) << l;  // as the test writer was given it
    idOfName.push_back(shared.RoadNameID2(values[size_t(l) - 1].empty() ? " " : values[size_t(l) - 1], false));
    foldedIdOfName.push_back(shared.RoadNameID2(values[size_t(l) - 1], true));
  }

  constexpr int cThreads = 8;
  std::vector<TRoadNameFile> clones(cThreads);
  for (auto& c : clones) shared.Clone(c);
  std::vector<int> mismatches(cThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < cThreads; ++t)
    threads.emplace_back([&, t] {
      const TRoadNameFile& mine = clones[size_t(t)];
      for (int32_t l = 1; l <= w.LinkCount(); ++l) {
        const int32_t link = (l * (t + 3)) % w.LinkCount() + 1;
        const std::string& v = values[size_t(link) - 1];
        for (const TRoadNameFile* r : {static_cast<const TRoadNameFile*>(&shared), &mine}) {
          if (r->RoadName2(r->RoadNameID1(link)) != byLink[size_t(link) - 1]) ++mismatches[size_t(t)];
          if (r->RoadNameID2(v.empty() ? " " : v, false) != idOfName[size_t(link) - 1]) ++mismatches[size_t(t)];
          if (r->RoadNameID2(v, true) != foldedIdOfName[size_t(link) - 1]) ++mismatches[size_t(t)];
        }
      }
    });
  for (auto& t : threads) t.join();
  for (int t = 0; t < cThreads; ++t) EXPECT_EQ(mismatches[size_t(t)], 0) << "thread " << t;

  shared.Close();
  EXPECT_EQ(clones[0].RoadName1(1), byLink[0]);
  EXPECT_EQ(clones[0].RoadNameID2(values[1], false), idOfName[1]);
}
