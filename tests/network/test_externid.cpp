// The external-id reader over index files written by the test writer: the
// three kinds of id in every way of opening, damaged files, caller streams
// and threads.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include "network/kovra_externid.h"
#include "network/support/network_writer.h"
#include "support/temp_dir_test.h"
#include "support/test_raises.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

// n straight links, numbered 1..n.
TTestNetworkWriter Chain(int32_t n) {
  TTestNetworkWriter w;
  for (int32_t i = 0; i < n; ++i) w.AddLink({{double(i), 0}, {double(i) + 1, 0}});
  return w;
}

struct TLookup {
  std::u16string text;
  int32_t link;  // 0: not found
};

struct TIdCase {
  const char* name;
  std::function<void(TTestNetworkWriter&)> ids;  // on a chain of Links links
  int32_t links;
  std::vector<std::u16string> stored;             // FindExternalid of links 1..n
  std::vector<TLookup> lookups;
};

const int64_t c62 = int64_t(1) << 62;

std::vector<TIdCase> IdCases() {
  const std::vector<std::u16string> text = {u"A",           u"a", u"Main St", u"x y", u"\uE000x",
                                            u"\U00010000x", u"",  u"12345678"};
  std::vector<TLookup> textLookups = {
      {u"A", 1},  {u"a", 2},  {u"Main St", 3},  {u"x y", 4}, {u"\uE000x", 5}, {u"\U00010000x", 6}, {u"", 7},
      {u"12345678", 8}, {u"A ", 0}, {u" A", 0}, {u"Main", 0}, {u"b", 0}, {u"123456789", 0},
  };
  auto textCase = [&](const char* name, int32_t buckets, bool wide, char16_t pad) {
    return TIdCase{name,
                   [=](TTestNetworkWriter& w) {
                     w.Buckets = buckets;
                     w.WideBucketStarts = wide;
                     w.TextPad = pad;
                     w.SetExternalIDs(text, 8);
                   },
                   8, text, textLookups};
  };
  return {
      {"Int32",
       [](TTestNetworkWriter& w) {
         w.SetExternalIDs(std::vector<int32_t>{12, -1, -4, 5, 261, MaxInt, -MaxInt, 0, 256});
       },
       9,
       {u"12", u"-1", u"-4", u"5", u"261", u"2147483647", u"-2147483647", u"0", u"256"},
       {{u"12", 1}, {u"0012", 1}, {u"-1", 2}, {u"-4", 3}, {u"5", 4}, {u"261", 5}, {u"2147483647", 6},
        {u"-2147483647", 7}, {u"0", 8}, {u"256", 9}, {u"6", 0}, {u"-2147483648", 0}, {u"517", 0}}},
      {"Int64",
       [](TTestNetworkWriter& w) {
         w.SetExternalIDs(std::vector<int64_t>{c62, -c62, c62 + 1, -c62 - 1, 5, -1, int64_t(1) << 40});
       },
       7,
       {u"4611686018427387904", u"-4611686018427387904", u"4611686018427387905", u"-4611686018427387905", u"5", u"-1",
        u"1099511627776"},
       {{u"4611686018427387904", 1}, {u"-4611686018427387904", 2}, {u"4611686018427387905", 3},
        {u"-4611686018427387905", 4}, {u"0005", 5}, {u"-1", 6}, {u"1099511627776", 7}, {u"4611686018427387903", 0},
        {u"-9223372036854775808", 0}}},
      textCase("text padded with U+0000", 256, false, 0),
      textCase("text padded with blanks", 256, false, u' '),
      // With one bucket every id is in one binary search, so its order must be
      // the order of UTF-16 code units: U+10000 (D800 DC00) before U+E000.
      textCase("text in one bucket", 1, false, 0),
      textCase("text with 64-bit bucket starts", 4, true, u' '),
  };
}

enum class TSource : uint8_t { Directory, Streams };

struct TMode {
  TSource source;
  bool cache1, cache2;
};

const TMode cModes[] = {
    {TSource::Directory, false, false}, {TSource::Directory, false, true}, {TSource::Directory, true, true},
    {TSource::Streams, false, false},   {TSource::Streams, false, true},   {TSource::Streams, true, true},
};

std::string ModeName(const TMode& m) {
  return std::string(m.source == TSource::Directory ? "directory" : "streams") + (m.cache1 ? " cache1" : "") +
         (m.cache2 ? " cache2" : "");
}

class ExternalID : public TTempDirTest {
protected:
  // Writes the files into the folder and into fresh caller streams.
  void Prepare(const TTestNetworkWriter& w) {
    w.Write(dir.string());
    auto files = w.Files();
    f1 = MemoryStreamOf(files["index1.bin"]);
    f2 = MemoryStreamOf(files["index2.bin"]);
  }

  std::unique_ptr<TExternalID> OpenReader(const TMode& m) {
    auto r = m.source == TSource::Streams ? std::make_unique<TExternalID>(f1.get(), f2.get())
                                          : std::make_unique<TExternalID>();
    r->SetDirectory(dir.string());
    r->Open(m.cache1, m.cache2);
    return r;
  }

  std::unique_ptr<TKvMemoryStream> f1, f2;
};

}  // namespace

TEST_F(ExternalID, FindsEachKindOfIdInEveryMode) {
  for (const TIdCase& c : IdCases()) {
    SCOPED_TRACE(c.name);
    TTestNetworkWriter w = Chain(c.links);
    c.ids(w);
    Prepare(w);
    for (const TMode& m : cModes) {
      SCOPED_TRACE(ModeName(m));
      auto r = OpenReader(m);
      ASSERT_TRUE(r->IsOpen());
      EXPECT_EQ(r->MaxIndex(), c.links);
      for (int32_t link = 1; link <= c.links; ++link)
        EXPECT_TRUE(r->FindExternalid(link) == c.stored[size_t(link) - 1]) << link;
      for (const TLookup& l : c.lookups) {
        int32_t found = -1;
        EXPECT_EQ(r->FindIndex(l.text, found), l.link != 0) << FromUtf16(l.text);
        EXPECT_EQ(found, l.link) << FromUtf16(l.text);
      }
      for (int32_t bad : {0, c.links + 1})
        EXPECT_EQ(MessageOf<EOutOfRange>([&] { (void)r->FindExternalid(bad); }),
                  Format("Index should be from 1 to %d (is %d)", c.links, bad));
      r->Close();
      int32_t found;
      EXPECT_EQ(MessageOf([&] { r->FindIndex(u"1", found); }), "External ID is not open");
    }
  }
}

TEST_F(ExternalID, NumericKindsRefuseTextsThatAreNoNumber) {
  struct Case {
    std::function<void(TTestNetworkWriter&)> ids;
    std::vector<std::u16string> bad;
  } const cases[] = {
      {[](TTestNetworkWriter& w) { w.SetExternalIDs(std::vector<int32_t>{1, 2}); },
       {u"abc", u"", u"12a", u"2147483648", u"1.5", u"\uFF11"}},
      {[](TTestNetworkWriter& w) { w.SetExternalIDs(std::vector<int64_t>{1, 2}); },
       {u"abc", u"", u"9223372036854775808", u"-9223372036854775809"}},
  };
  for (const Case& c : cases) {
    TTestNetworkWriter w = Chain(2);
    c.ids(w);
    Prepare(w);
    auto r = OpenReader({TSource::Directory, true, true});
    for (const auto& text : c.bad) {
      int32_t found = 7;
      EXPECT_EQ(MessageOf<EConvertError>([&] { r->FindIndex(text, found); }),
                Format("'%s' is not a valid integer value", FromUtf16(text)));
    }
  }
}

// Damaged index files are refused at opening, naming the file, and the reader
// stays closed; a link outside the index met by a lookup is reported there.
TEST_F(ExternalID, RefusesDamagedFiles) {
  TTestNetworkWriter w = Chain(9);
  w.SetExternalIDs(std::vector<int32_t>{12, -1, -4, 5, 261, 7, 8, 0, 256});
  auto files = w.Files();
  const std::string i1 = files["index1.bin"], i2 = files["index2.bin"];
  auto setInt = [](std::string s, size_t byte, int32_t v) {
    std::memcpy(s.data() + byte, &v, 4);
    return s;
  };
  auto getInt = [](const std::string& s, size_t byte) {
    int32_t v;
    std::memcpy(&v, s.data() + byte, 4);
    return v;
  };
  const int32_t size2 = int32_t(i2.size());
  struct Case {
    const char* name;
    std::string index1, index2;
    std::string message;  // %s: the name of the file
    const char* file;
  } const cases[] = {
      {"index1 without header", i1.substr(0, 3), i2, "Wrong size of %s: 3 bytes, expected 4", "index1.bin"},
      {"index1 a record short", i1.substr(0, i1.size() - 4), i2, "Wrong size of %s: 36 bytes, expected 40",
       "index1.bin"},
      {"index1 of another kind", setInt(i1, 0, -1), i2, "Wrong size of %s: 40 bytes, expected 76", "index1.bin"},
      {"index2 without count", i1, i2.substr(0, 2), "Wrong size of %s: 2 bytes, expected 4", "index2.bin"},
      {"no bucket", i1, setInt(i2, 0, 0), "Network file %s is corrupted (0 buckets)", "index2.bin"},
      {"buckets past the end", i1, setInt(i2, 0, 1000),
       Format("Network file %%s is corrupted (1000 buckets do not fit in %d bytes)", size2), "index2.bin"},
      {"entries cut inside a link", i1, i2 + "xy", Format("Wrong size of %%s: %d bytes, expected %d", size2 + 2, size2),
       "index2.bin"},
      {"bucket start past the end", i1, setInt(i2, 4 + 4 * 200, size2 + 4),
       Format("Network file %%s is corrupted (bucket 200 starts at byte %d)", size2 + 4), "index2.bin"},
      {"bucket start inside a link", i1, setInt(i2, 4 + 4 * 7, getInt(i2, 4 + 4 * 7) + 2),
       Format("Network file %%s is corrupted (bucket 7 starts at byte %d)", getInt(i2, 4 + 4 * 7) + 2), "index2.bin"},
      {"bucket starts falling", i1, setInt(i2, 4 + 4 * 5, size2),
       Format("Network file %%s is corrupted (bucket 6 starts at byte %d)", getInt(i2, 4 + 4 * 6)), "index2.bin"},
      {"bucket start inside the header", i1, setInt(i2, 4, 1024),
       "Network file %s is corrupted (bucket 0 starts at byte 1024)", "index2.bin"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Make("index1.bin", c.index1);
    Make("index2.bin", c.index2);
    for (const TMode& m : {cModes[0], cModes[2]}) {
      TExternalID r;
      r.SetDirectory(dir.string());
      EXPECT_EQ(MessageOf([&] { r.Open(m.cache1, m.cache2); }), Format(c.message, fTemp.File(c.file)));
      EXPECT_FALSE(r.IsOpen());
      auto s1 = MemoryStreamOf(c.index1), s2 = MemoryStreamOf(c.index2);
      TExternalID rs(s1.get(), s2.get());
      EXPECT_EQ(MessageOf([&] { rs.Open(m.cache1, m.cache2); }), Format(c.message, c.file));
      EXPECT_FALSE(rs.IsOpen());
    }
  }

  // Bucket 5 holds ids 5 and 261; the search probes its first entry first.
  // Link 99 there opens (entries are not read at opening) but the lookup refuses it.
  const int32_t start5 = getInt(i2, 4 + 4 * 5);
  Make("index1.bin", i1);
  Make("index2.bin", setInt(i2, size_t(start5), 99));
  for (const TMode& m : cModes) {
    if (m.source == TSource::Streams) continue;
    TExternalID r;
    r.SetDirectory(dir.string());
    r.Open(m.cache1, m.cache2);
    int32_t found;
    EXPECT_EQ(MessageOf([&] { r.FindIndex(u"5", found); }),
              "Network file " + fTemp.File("index2.bin") + " is corrupted (link 99 in bucket 5 is outside 1 to 9)");
    EXPECT_TRUE(r.FindIndex(u"12", found));
  }
}

TEST_F(ExternalID, MissingFilesAreNamedIndex1First) {
  TTestNetworkWriter w = Chain(2);
  w.SetExternalIDs(std::vector<int32_t>{1, 2});
  auto files = w.Files();
  struct Case {
    bool index1, index2;
    const char* missing;
  } const cases[] = {{false, false, "index1.bin"}, {false, true, "index1.bin"}, {true, false, "index2.bin"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.missing);
    std::filesystem::remove(dir / "index1.bin");
    std::filesystem::remove(dir / "index2.bin");
    if (c.index1) Make("index1.bin", files["index1.bin"]);
    if (c.index2) Make("index2.bin", files["index2.bin"]);
    TExternalID r;
    r.SetDirectory(dir.string());
    EXPECT_EQ(MessageOf<EFileMissing>([&] { r.Open(true, true); }), "File is missing: " + fTemp.File(c.missing));
    EXPECT_FALSE(r.IsOpen());
  }
  // A stream stands in for its file; the other is read from the folder.
  Make("index2.bin", files["index2.bin"]);
  auto s1 = MemoryStreamOf(files["index1.bin"]);
  TExternalID r(s1.get(), nullptr);
  r.SetDirectory(dir.string());
  r.Open(false, false);
  int32_t found;
  EXPECT_TRUE(r.FindIndex(u"2", found));
  EXPECT_EQ(found, 2);
}

// Caching copies a caller's stream and leaves it as it was; closing or
// freeing the reader never frees it (a double free shows under the sanitizers).
TEST_F(ExternalID, CallerStreamsStayTheCallers) {
  TTestNetworkWriter w = Chain(3);
  w.SetExternalIDs({u"x", u"y", u"z"}, 4);
  auto files = w.Files();
  auto s1 = MemoryStreamOf(files["index1.bin"]), s2 = MemoryStreamOf(files["index2.bin"]);
  auto content = [](TKvMemoryStream& s) { return std::string(static_cast<const char*>(s.Memory()), size_t(s.Size())); };
  for (const TMode& m : cModes) {
    if (m.source == TSource::Directory) continue;
    {
      TExternalID r(s1.get(), s2.get());
      r.Open(m.cache1, m.cache2);
      int32_t found;
      EXPECT_TRUE(r.FindIndex(u"z", found));
      EXPECT_EQ(found, 3);
      r.Close();
      r.Open(m.cache1, m.cache2);
    }
    EXPECT_EQ(content(*s1), files["index1.bin"]);
    EXPECT_EQ(content(*s2), files["index2.bin"]);
  }
}

// One reader serves many threads at once (the networks of one family share
// it): eight threads look up every id in both directions.
TEST_F(ExternalID, ThreadsShareOneReader) {
  const int32_t n = 2000;
  TTestNetworkWriter w = Chain(n);
  std::vector<std::u16string> ids;
  for (int32_t i = 1; i <= n; ++i) ids.push_back(u"road-" + ToUtf16(std::to_string(i * 7919 % 100003)));
  w.SetExternalIDs(ids, 12);
  Prepare(w);
  for (const TMode& m : cModes) {
    SCOPED_TRACE(ModeName(m));
    auto r = OpenReader(m);
    std::vector<int> mismatches(8, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
      threads.emplace_back([&, t] {
        for (int32_t k = 0; k < n; ++k) {
          const int32_t link = (k * 13 + t * 101) % n + 1;
          int32_t found = 0;
          if (!r->FindIndex(ids[size_t(link) - 1], found) || found != link) ++mismatches[size_t(t)];
          if (r->FindExternalid(link) != ids[size_t(link) - 1]) ++mismatches[size_t(t)];
        }
      });
    for (auto& t : threads) t.join();
    for (int mm : mismatches) EXPECT_EQ(mm, 0);
  }
}
