// The test network writer against the directory layout: small golden cases,
// and a larger network checked against an independent python model.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <string>
#include <vector>

#include "foundation/kovra_configfile.h"
#include "foundation/kovra_encryption.h"
#include "foundation/kovra_random.h"
#include "network/support/network_writer.h"
#include "support/gdal_readback.h"
#include "support/temp_dir_test.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

template <typename T>
std::vector<T> Values(const std::string& bytes) {
  std::vector<T> v(bytes.size() / sizeof(T));
  if (!v.empty()) std::memcpy(v.data(), bytes.data(), v.size() * sizeof(T));
  return v;
}

using Ints = std::vector<int32_t>;

}  // namespace

TEST(NetworkWriter, GoldenFilesOfSmallNetworks) {
  struct Case {
    const char* name;
    std::vector<TFloatPointArray> links;  // empty polyline = rejected object
    Ints link, node, coord3i;
    std::vector<float> length;            // km
    std::vector<TFloatPoint> coord;       // nodes in id order
  } const cases[] = {
      {"one two-vertex link", {{{0, 0}, {1, 0}}}, {1, 2}, {1, 2, 1, 1}, {0, 0}, {0.001f}, {{0, 0}, {1, 0}}},
      {"a lone loop", {{{0, 0}, {3, 4}, {0, 0}}}, {1, 1}, {2, 1, 1, 1, 1}, {0, 1}, {0.01f}, {{0, 0}}},
      // Degree 1 everywhere: ids by ascending (x, y).
      {"points (1, 5), (0, 9), (1, 2) get ids 3, 1, 2",
       {{{1, 5}, {100, 0}}, {{0, 9}, {100, 1}}, {{1, 2}, {100, 2}}},
       {3, 4, 1, 5, 2, 6},
       {1, 6, 2, 3, 1, 1, 2, 3},
       {0, 0, 0, 0},
       {float(0.001 * std::hypot(99, 5)), float(0.001 * std::hypot(100, 8)), float(0.001 * 99)},
       {{0, 9}, {1, 2}, {1, 5}, {100, 0}, {100, 1}, {100, 2}}},
      // Degrees 3, 2, 1: the hub is node 1 whatever its coordinates; node.bin
      // holds D = 3, the last ids of degrees 3, 2, 1, then the slots.
      {"a node of degree three comes first",
       {{{9, 9}, {0, 0}}, {{9, 9}, {1, 1}, {0, 1}}, {{0, 0}, {9, 9}}},
       {1, 2, 1, 3, 2, 1},
       {3, 1, 2, 3, 1, 2, 3, 1, 3, 2},
       {0, 0, 1, 1},
       {float(0.001 * std::hypot(9, 9)), float(0.001 * (std::hypot(8, 8) + 1)), float(0.001 * std::hypot(9, 9))},
       {{9, 9}, {0, 0}, {0, 1}}},
      // A rejected object keeps its number: length 0, nodes 0, no vertices.
      {"a rejected object between two links",
       {{{0, 0}, {1, 1}, {2, 0}}, {}, {{2, 0}, {2, 2}, {3, 3}, {4, 0}}},
       {2, 1, 0, 0, 1, 3},
       {2, 1, 3, 1, 3, 1, 3},
       {0, 1, 1, 3},
       {float(0.001 * (std::hypot(1, 1) + std::hypot(1, 1))), 0,
        float(0.001 * (2 + std::hypot(1, 1) + std::hypot(1, 3)))},
       {{2, 0}, {0, 0}, {4, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TTestNetworkWriter w;
    for (const auto& l : c.links) w.AddLink(l);
    auto f = w.Files();
    EXPECT_EQ(Values<int32_t>(f["link.bin"]), c.link);
    EXPECT_EQ(Values<int32_t>(f["node.bin"]), c.node);
    EXPECT_EQ(Values<int32_t>(f["coord3i.bin"]), c.coord3i);
    EXPECT_EQ(Values<float>(f["length.bin"]), c.length);
    std::vector<TFloatPoint> coord = Values<TFloatPoint>(f["coord.bin"]);
    ASSERT_EQ(coord.size(), c.coord.size());
    for (size_t i = 0; i < coord.size(); ++i) EXPECT_EQ(coord[i], c.coord[i]) << i;
    TFloatPointArray interior;
    for (const auto& l : c.links)
      if (l.size() > 2) interior.insert(interior.end(), l.begin() + 1, l.end() - 1);
    std::vector<TFloatPoint> coord3 = Values<TFloatPoint>(f["coord3.bin"]);
    ASSERT_EQ(coord3.size(), interior.size());
    for (size_t i = 0; i < coord3.size(); ++i) EXPECT_EQ(coord3[i], interior[i]) << i;
  }
}

// With a key every value file is enciphered as the readers expect, while
// coord3i.bin stays byte-identical and coord3.bin differs only by the
// position-keyed XOR.
TEST(NetworkWriter, KeyEnciphersValueFilesOnly) {
  const int64_t key = 0x1234567;
  auto build = [&](int64_t k) {
    TTestNetworkWriter w;
    w.Key = k;
    w.AddGrid({4, 3, 10, 5, 0.2});
    w.SetAttribute(2, 0x0213);
    w.SetLimit(3, std::vector<uint8_t>(size_t(w.LinkCount()), 7));
    return w.Files();
  };
  auto plain = build(0), coded = build(key);
  EXPECT_EQ(coded["coord3i.bin"], plain["coord3i.bin"]);

  std::vector<int64_t> p3 = Values<int64_t>(plain["coord3.bin"]), c3 = Values<int64_t>(coded["coord3.bin"]);
  ASSERT_EQ(p3.size(), c3.size());
  ASSERT_GT(p3.size(), 10u);
  const T32EncryptionArray positional(key);
  for (size_t m = 0; m < p3.size(); ++m)
    EXPECT_EQ(positional.Decode(c3[m], int32_t(m)), std::bit_cast<double>(p3[m])) << m;

  // Sequential cipher from its restart key for each file, in the value width of the file.
  T32Encryption seq(key);
  auto check32 = [&](const char* name) {
    seq.Restart();
    Ints p = Values<int32_t>(plain[name]), c = Values<int32_t>(coded[name]);
    ASSERT_EQ(p.size(), c.size()) << name;
    EXPECT_NE(p, c) << name;
    for (size_t i = 0; i < p.size(); ++i) EXPECT_EQ(seq.Encode(uint32_t(c[i])), uint32_t(p[i])) << name << i;
  };
  for (const char* name : {"length.bin", "link.bin", "node.bin"}) check32(name);
  seq.Restart();
  std::vector<int64_t> pc = Values<int64_t>(plain["coord.bin"]), cc = Values<int64_t>(coded["coord.bin"]);
  for (size_t i = 0; i < pc.size(); ++i) EXPECT_EQ(seq.Encode(cc[i]), pc[i]) << i;
  seq.Restart();
  std::vector<uint16_t> pa = Values<uint16_t>(plain["attribute.bin"]), ca = Values<uint16_t>(coded["attribute.bin"]);
  ASSERT_EQ(pa.size(), size_t(17));
  EXPECT_EQ(pa[1], 0x0213);
  for (size_t i = 0; i < pa.size(); ++i) EXPECT_EQ(seq.Encode(ca[i]), pa[i]) << i;
  seq.Restart();
  const std::string& pl = plain["limit3.bin"];
  const std::string& cl = coded["limit3.bin"];
  ASSERT_EQ(pl.size(), size_t(17));
  for (size_t i = 0; i < pl.size(); ++i) EXPECT_EQ(seq.Encode(uint8_t(cl[i])), uint8_t(pl[i])) << i;
}

class NetworkWriterDir : public TTempDirTest {};

TEST_F(NetworkWriterDir, SettingsCoverEveryVertexWidened) {
  TTestNetworkWriter w;
  w.Unit = cuFt;
  w.Key = 99;
  w.CoordSys = "CoordSys NonEarth Units \"ft\"";
  w.Epsg = 2263;
  // The bounds come from a vertex, not only from the nodes.
  w.AddLink({{0, 0}, {500, 500}, {1000, 0}});
  w.AddLink({{0, 0}, {-1, 400}});
  w.AddRejected();
  w.Write(dir.string());
  const TConfig c = ReadConfig(dir.string() + "/");
  EXPECT_TRUE(c.Encrypted);
  EXPECT_EQ(c.Cu, cuFt);
  EXPECT_EQ(c.CoordSys, w.CoordSys);
  EXPECT_EQ(c.Epsg, 2263);
  EXPECT_EQ(c.LinkCount, 3);
  EXPECT_DOUBLE_EQ(c.Mbr.xmin, -1 - 1001 * 0.0005);
  EXPECT_DOUBLE_EQ(c.Mbr.xmax, 1000 + 1001 * 0.0005);
  EXPECT_DOUBLE_EQ(c.Mbr.ymin, -0.25);
  EXPECT_DOUBLE_EQ(c.Mbr.ymax, 500.25);
  for (const char* name : {"length.bin", "link.bin", "coord.bin", "node.bin", "coord3.bin", "coord3i.bin"})
    EXPECT_TRUE(std::filesystem::exists(dir / name)) << name;
  EXPECT_FALSE(std::filesystem::exists(dir / "attribute.bin"));
  EXPECT_FALSE(std::filesystem::exists(dir / "index1.bin"));
}

// A random network with loops, shared end points, repeated links, zero-length
// polylines and rejected objects, and each kind of external id, against the
// python model of the layout.
TEST_F(NetworkWriterDir, MatchesThePythonModel) {
  TRandom r;
  r.SetSeed(20240611);
  TTestNetworkWriter w;
  w.Buckets = 16;
  std::ofstream desc(fTemp.File("network.txt"));
  desc << "buckets 16\n";
  for (int i = 0; i < 300; ++i) {
    TFloatPointArray line;
    const int kind = r.NextInt(20);
    if (kind == 0) {
      w.AddRejected();
      desc << "rejected\n";
      continue;
    }
    const int n = kind == 1 ? 3 : 2 + r.NextInt(4);
    for (int k = 0; k < n; ++k) line.push_back({double(r.NextInt(12)) - 3, double(r.NextInt(9)) * 0.5});
    if (kind == 2) line.back() = line.front();            // a loop
    if (kind == 3) line.assign(size_t(n), line.front());  // length 0
    w.AddLink(line);
    desc << "link";
    for (const auto& p : line) desc << ' ' << p.x << ' ' << p.y;
    desc << '\n';
  }
  std::vector<int32_t> i32;
  std::vector<int64_t> i64;
  std::vector<std::u16string> text;
  for (int32_t l = 1; l <= w.LinkCount(); ++l) {
    i32.push_back(int32_t(uint32_t(l) * 2654435761u));
    i64.push_back((int64_t(l) << 40) * (l % 2 ? 1 : -1));
    std::u16string s(size_t(r.NextInt(9)), u'a');
    for (auto& c : s) c = char16_t(u' ' + r.NextInt(3) * 30 + r.NextInt(5));  // blanks inside, not at the ends
    // Unique in the first units, so ids stay unique when cut to the width; a
    // leading blank is padding to the reader, so it does not order the bucket.
    s = (l % 5 == 0 ? u" " : u"") + (char16_t(0x4E00 + l) + (u"k" + s)) + char16_t(u'A' + l % 26) +
        (l % 7 == 0 ? std::u16string(u"\U0001F600") : u"");
    text.push_back(s);
  }
  auto hex = [](const std::u16string& s) {
    if (s.empty()) return std::string("-");
    std::string h;
    for (char16_t u : s) h += (h.empty() ? "" : ":") + Format("%x", int(u));
    return h;
  };
  desc << "int32";
  for (auto v : i32) desc << ' ' << v;
  desc << "\nint64";
  for (auto v : i64) desc << ' ' << v;
  // Cut and blank-padded, then U+0000-padded.
  for (const char* head : {"\ntext 12 20", "\ntext 16 0"}) {
    desc << head;
    for (const auto& t : text) desc << ' ' << hex(t);
  }
  desc << '\n';
  desc.close();
  ASSERT_EQ(RunCommand("python3 " KOVRA_TEST_SCRIPTS_DIR "/network_writer_oracle.py " + fTemp.File("network.txt") +
                       " " + dir.string()),
            0);
  const std::function<void()> idCases[] = {
      [&] { w.SetExternalIDs(i32); },
      [&] { w.SetExternalIDs(i64); },
      [&] { w.TextPad = u' '; w.SetExternalIDs(text, 12); },
      [&] { w.TextPad = 0; w.SetExternalIDs(text, 16); },
  };
  for (size_t k = 0; k < std::size(idCases); ++k) {
    SCOPED_TRACE(k);
    idCases[k]();
    const auto files = w.Files();
    for (std::string name :
         {"coord.bin", "link.bin", "node.bin", "coord3.bin", "coord3i.bin", "index1.bin", "index2.bin"}) {
      const std::string model =
          ReadBytes(fTemp.File(name.rfind("index", 0) == 0 ? "ids" + std::to_string(k) + "/" + name : name));
      ASSERT_TRUE(files.count(name)) << name;
      EXPECT_EQ(files.at(name).size(), model.size()) << name;
      EXPECT_TRUE(files.at(name) == model) << name;
    }
  }
}

TEST(NetworkWriter, GridIsConnectedAndCurved) {
  // 0.0009 is not a binary fraction: i x 0.0009 + 0.0009 and (i + 1) x 0.0009
  // differ for some i, and a grid built by adding would split those nodes.
  for (const double spacing : {100.0, 0.0009}) {
    SCOPED_TRACE(spacing);
    TTestNetworkWriter w;
    w.Unit = spacing < 1 ? cuDeg : cuM;
    TGridOptions o = GridForLinks(1000, 6);
    o.Spacing = spacing;
    EXPECT_EQ(o.Columns, 23);  // 2 * 23 * 22 = 1012 >= 1000 > 2 * 22 * 21
    w.AddGrid(o);
    EXPECT_EQ(w.LinkCount(), 1012);
    auto f = w.Files();
    const Ints node = Values<int32_t>(f["node.bin"]);
    // Inner nodes have degree 4, edges 3, corners 2.
    ASSERT_EQ(node[0], 4);
    EXPECT_EQ(node[1], 21 * 21);
    EXPECT_EQ(node[2], 21 * 21 + 4 * 21);
    EXPECT_EQ(node[3], 23 * 23);
    EXPECT_EQ(node[4], 23 * 23);
    const Ints index = Values<int32_t>(f["coord3i.bin"]);
    int32_t most = 0;
    for (size_t l = 1; l < index.size(); ++l) most = std::max(most, index[l] - index[l - 1]);
    EXPECT_EQ(most, 6);
    EXPECT_GT(index.back(), 1012 * 2);  // on average about three vertices a link
  }
}
