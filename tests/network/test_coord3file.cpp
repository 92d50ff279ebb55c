// The intermediate-vertex reader over files written by the test writer: every
// way of opening it answers the same, damaged files are refused at opening,
// caller streams stay the caller's, and threads read one reader at once.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "network/kovra_coord3file.h"
#include "network/kovra_networkfile.h"
#include "network/support/network_writer.h"
#include "support/temp_dir_test.h"
#include "support/test_raises.h"

using namespace kovra;
using namespace kovra::testsupport;
using testing::HasSubstr;

namespace {

constexpr int64_t cKey = 0x5A17C0DE;
const TFloatPoint cSentinel{-777, 777};

// The sample links, then a small grid with up to 9 vertices a link.
TTestNetworkWriter Network(int64_t Key) {
  TTestNetworkWriter w;
  w.Key = Key;
  w.AddSample();
  w.AddGrid({5, 4, 10, 9, 0.3});
  return w;
}

TFloatPointArray Interior(const TTestNetworkWriter& w, int32_t Link) {
  TFloatPointArray p = w.Polyline(Link);
  return p.size() > 2 ? TFloatPointArray(p.begin() + 1, p.end() - 1) : TFloatPointArray{};
}

enum class TSource : uint8_t { Directory, Streams };

struct TOpenCase {
  TSource source;
  bool cache;
  int64_t key;
};

std::string Describe(const TOpenCase& c) {
  return std::string(c.source == TSource::Directory ? "Directory" : "Streams") + (c.cache ? "Cached" : "Uncached") +
         (c.key ? "Key" : "Plain");
}
std::string Name(const testing::TestParamInfo<TOpenCase>& i) { return Describe(i.param); }
void PrintTo(const TOpenCase& c, std::ostream* os) { *os << Describe(c); }

// Every vertex of every link through ReadSection, GetCount and GetCoord.
void ExpectSameVertices(const TCoord3File& r, const TTestNetworkWriter& w) {
  ASSERT_EQ(r.Count(), w.LinkCount());
  TFloatPointArrayEx small, large;
  for (int32_t link = 1; link <= w.LinkCount(); ++link) {
    SCOPED_TRACE(link);
    const TFloatPointArray want = Interior(w, link);
    const int32_t n = int32_t(want.size());
    small.Pnt.assign(2, cSentinel);
    large.Pnt.assign(40, cSentinel);
    r.ReadSection(link - 1, small);
    r.ReadSection(link - 1, large);
    EXPECT_EQ(small.Count, n + 2);
    EXPECT_EQ(large.Count, n + 2);
    EXPECT_GE(small.Pnt.size(), size_t(n) + 2);
    EXPECT_EQ(large.Pnt.size(), 40u);  // never shrunk
    EXPECT_EQ(small.Pnt[0], cSentinel);
    EXPECT_EQ(large.Pnt[0], cSentinel);
    EXPECT_EQ(large.Pnt[size_t(n) + 1], cSentinel);
    EXPECT_EQ(large.Pnt[39], cSentinel);
    for (int32_t i = 0; i < n; ++i) {
      EXPECT_EQ(small.Pnt[size_t(i) + 1], want[size_t(i)]) << i;
      EXPECT_EQ(large.Pnt[size_t(i) + 1], want[size_t(i)]) << i;
      double x = 0, y = 0;
      r.GetCoord(link - 1, uint16_t(i), x, y);
      EXPECT_EQ((TFloatPoint{x, y}), want[size_t(i)]) << i;
    }
    EXPECT_EQ(r.GetCount(link - 1), n + 2);
    double x, y;
    EXPECT_EQ(MessageOf<EOutOfRange>([&] { r.GetCoord(link - 1, uint16_t(n), x, y); }),
              Format("Coord3file.GetCoord index argument %d > %d", n, n - 1));
  }
}

class Coord3FileOpen : public TTempDirTest, public testing::WithParamInterface<TOpenCase> {
protected:
  void SetUp() override {
    fWriter = Network(GetParam().key);
    fWriter.Write(dir.string());
    auto files = fWriter.Files();
    fVertices = MemoryStreamOf(files["coord3.bin"]);
    fIndex = MemoryStreamOf(files["coord3i.bin"]);
  }

  std::unique_ptr<TCoord3File> OpenReader() {
    const TOpenCase& c = GetParam();
    if (c.source == TSource::Streams)
      return std::make_unique<TCoord3File>(c.cache, c.key, fVertices.get(), fIndex.get());
    auto r = std::make_unique<TCoord3File>();
    r->SetDirectory(dir.string());
    r->SetEncryptionKey(c.key);
    r->Open(c.cache);
    return r;
  }

  TTestNetworkWriter fWriter;
  std::unique_ptr<TKvMemoryStream> fVertices, fIndex;
};

}  // namespace

TEST_P(Coord3FileOpen, ReadsEveryLinkAndItsClone) {
  auto r = OpenReader();
  ASSERT_TRUE(r->IsOpen());
  EXPECT_EQ(r->Cached(), GetParam().cache);
  ExpectSameVertices(*r, fWriter);

  // The clone shares what the reader reads from, so it outlives the reader's Close.
  TCoord3File clone;
  r->Clone(clone);
  EXPECT_TRUE(clone.IsOpen());
  EXPECT_EQ(clone.Cached(), GetParam().cache);
  EXPECT_EQ(clone.Directory(), r->Directory());
  r->Close();
  ExpectSameVertices(clone, fWriter);
  EXPECT_EQ(MessageOf([&] { (void)r->GetCount(0); }), "Intermediate vertices are not open");

  // Opened again, the closed reader answers as before; caching later gives the same.
  if (GetParam().source == TSource::Directory) {
    r->Open(false);
    r->LoadIntoCache();
    EXPECT_TRUE(r->Cached());
    ExpectSameVertices(*r, fWriter);
  }
  EXPECT_EQ(MessageOf<EOutOfRange>([&] { (void)clone.GetCount(-1); }),
            Format("Coord3file record -1 is outside 0 to %d", fWriter.LinkCount() - 1));
  EXPECT_EQ(MessageOf<EOutOfRange>([&] { (void)clone.GetCount(fWriter.LinkCount()); }),
            Format("Coord3file record %d is outside 0 to %d", fWriter.LinkCount(), fWriter.LinkCount() - 1));
}

// Eight threads on one reader, and four on each of two clones, read every
// link many times and see what one thread sees.
TEST_P(Coord3FileOpen, ThreadsReadTheSameVertices) {
  auto r = OpenReader();
  TCoord3File clone1, clone2;
  r->Clone(clone1);
  r->Clone(clone2);
  std::vector<TFloatPointArrayEx> expected(size_t(r->Count()));
  for (int32_t i = 0; i < r->Count(); ++i) r->ReadSection(i, expected[size_t(i)]);
  auto work = [&](const TCoord3File& reader, int seed, int& mismatches) {
    TFloatPointArrayEx buf;
    for (int round = 0; round < 20; ++round)
      for (int32_t k = 0; k < reader.Count(); ++k) {
        const int32_t i = (k * 7 + seed + round) % reader.Count();
        reader.ReadSection(i, buf);
        const TFloatPointArrayEx& want = expected[size_t(i)];
        // Only the vertices: the end slots hold whatever the buffer had.
        if (buf.Count != want.Count ||
            !std::equal(buf.Pnt.begin() + 1, buf.Pnt.begin() + buf.Count - 1, want.Pnt.begin() + 1))
          ++mismatches;
      }
  };
  // First all threads on the reader, then half on each clone.
  for (bool clones : {false, true}) {
    std::vector<int> mismatches(8, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
      const TCoord3File& reader = !clones ? *r : t % 2 ? clone1 : clone2;
      threads.emplace_back([&, t] { work(reader, t, mismatches[size_t(t)]); });
    }
    for (auto& t : threads) t.join();
    for (int m : mismatches) EXPECT_EQ(m, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, Coord3FileOpen,
                         testing::Values(TOpenCase{TSource::Directory, true, 0},
                                         TOpenCase{TSource::Directory, false, 0},
                                         TOpenCase{TSource::Streams, true, 0},
                                         TOpenCase{TSource::Streams, false, 0},
                                         TOpenCase{TSource::Directory, true, cKey},
                                         TOpenCase{TSource::Directory, false, cKey},
                                         TOpenCase{TSource::Streams, true, cKey},
                                         TOpenCase{TSource::Streams, false, cKey}),
                         Name);

class Coord3File : public TTempDirTest {};

// Damaged files are refused at opening, naming the file; the reader stays
// closed and opens once the files are whole again.
TEST_F(Coord3File, RefusesDamagedFiles) {
  const auto good = Network(0).Files();
  const std::string index = good.at("coord3i.bin"), vertices = good.at("coord3.bin");
  const int32_t total = int32_t(vertices.size() / 16);
  auto setInt = [](std::string s, size_t at, int32_t v) {
    std::memcpy(s.data() + 4 * at, &v, 4);
    return s;
  };
  auto getInt = [](const std::string& s, size_t at) {
    int32_t v;
    std::memcpy(&v, s.data() + 4 * at, 4);
    return v;
  };
  const size_t late = index.size() / 4 - 2;
  ASSERT_GT(getInt(index, late - 1), 0);
  struct Case {
    const char* name;
    std::string index, vertices;
    std::string message;  // with %s for the path of the file named
    const char* file;
  } const cases[] = {
      {"index of 0 bytes", "", vertices, "Wrong size of %s: 0 bytes, expected 4", "coord3i.bin"},
      {"index cut inside a value", index.substr(0, index.size() - 1), vertices,
       Format("Wrong size of %%s: %d bytes, expected %d", index.size() - 1, index.size() - 4), "coord3i.bin"},
      {"index not starting at 0", setInt(index, 0, 1), vertices,
       "Network file %s is corrupted (the first vertex index is 1, not 0)", "coord3i.bin"},
      {"index falling", setInt(index, 2, -5), vertices,
       "Network file %s is corrupted (the vertex index falls from 3 to -5 at link 2)", "coord3i.bin"},
      {"index falling late", setInt(index, late, 0), vertices,
       Format("Network file %%s is corrupted (the vertex index falls from %d to 0 at link %d)", getInt(index, late - 1),
              late),
       "coord3i.bin"},
      {"vertices cut short", index, vertices.substr(0, vertices.size() - 16),
       Format("Wrong size of %%s: %d bytes, expected %d", vertices.size() - 16, 16 * total), "coord3.bin"},
      {"a byte too many", index, vertices + "x",
       Format("Wrong size of %%s: %d bytes, expected %d", vertices.size() + 1, 16 * total), "coord3.bin"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Make("coord3i.bin", c.index);
    Make("coord3.bin", c.vertices);
    for (bool cache : {false, true}) {
      TCoord3File r;
      r.SetDirectory(dir.string());
      EXPECT_EQ(MessageOf([&] { r.Open(cache); }), Format(c.message, fTemp.File(c.file)));
      EXPECT_FALSE(r.IsOpen());
      auto s3 = MemoryStreamOf(c.vertices), s3i = MemoryStreamOf(c.index);
      EXPECT_EQ(MessageOf([&] { TCoord3File(cache, 0, s3.get(), s3i.get()); }), Format(c.message, c.file));
    }
    Make("coord3i.bin", index);
    Make("coord3.bin", vertices);
    TCoord3File r;
    r.SetDirectory(dir.string());
    r.Open(false);
    EXPECT_EQ(r.Count(), Network(0).LinkCount());
  }
}

TEST_F(Coord3File, MissingFilesAreNamedVertexFileFirst) {
  const auto files = Network(0).Files();
  struct Case {
    bool vertices, index;
    const char* missing;
  } const cases[] = {{false, false, "coord3.bin"}, {false, true, "coord3.bin"}, {true, false, "coord3i.bin"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.missing);
    std::filesystem::remove(dir / "coord3.bin");
    std::filesystem::remove(dir / "coord3i.bin");
    if (c.vertices) Make("coord3.bin", files.at("coord3.bin"));
    if (c.index) Make("coord3i.bin", files.at("coord3i.bin"));
    TCoord3File r;
    r.SetDirectory(dir.string());
    EXPECT_EQ(MessageOf<EFileMissing>([&] { r.Open(true); }), "File is missing: " + fTemp.File(c.missing));
    EXPECT_FALSE(r.IsOpen());
  }
}

// The caller's streams are borrowed: a reader, cached or not, never frees or
// changes them (a double free or a write shows under the sanitizers), and a
// stream given alone is read beside the directory's other file.
TEST_F(Coord3File, CallerStreamsStayTheCallers) {
  const TTestNetworkWriter w = Network(cKey);
  auto files = w.Files();
  auto s3 = MemoryStreamOf(files["coord3.bin"]), s3i = MemoryStreamOf(files["coord3i.bin"]);
  auto content = [](TKvMemoryStream& s) { return std::string(static_cast<const char*>(s.Memory()), size_t(s.Size())); };
  for (bool cache : {true, false}) {
    {
      TCoord3File r(cache, cKey, s3.get(), s3i.get());
      TCoord3File clone;
      r.Clone(clone);
      ExpectSameVertices(clone, w);
      r.Close();
    }
    EXPECT_EQ(content(*s3), files["coord3.bin"]);
    EXPECT_EQ(content(*s3i), files["coord3i.bin"]);
  }

  Make("coord3i.bin", files["coord3i.bin"]);
  TCoord3File half(false, cKey, s3.get(), nullptr);
  EXPECT_FALSE(half.IsOpen());
  half.SetDirectory(dir.string());
  half.Open(false);
  ExpectSameVertices(half, w);
}

// Caching reports progress link by link over the whole index; an uncached
// opening has nothing to report.
TEST_F(Coord3File, CachingReportsProgressPerLink) {
  const TTestNetworkWriter w = Network(0);
  w.Write(dir.string());
  for (bool cache : {true, false}) {
    std::vector<int32_t> seen;
    TCoord3File r;
    r.SetDirectory(dir.string());
    r.SetOnProgress([&](TObject*, int32_t p, bool&) { seen.push_back(p); });
    r.Open(cache);
    if (!cache) {
      EXPECT_TRUE(seen.empty());
      continue;
    }
    ASSERT_FALSE(seen.empty());
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_EQ(seen.front(), 0);
    const int32_t n = w.LinkCount();
    EXPECT_EQ(seen.back(), Round32(100.0 * (n - 1) / n));
  }
}
