// Writes the seed corpora of fuzz_coord3file, fuzz_externid,
// fuzz_roadnamefile and fuzz_quadtree from small networks of the test writer:
// <corpus folder>/coord3file/*, /externid/*, /roadnamefile/* and /quadtree/*.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/fuzz_files.h"
#include "network/kovra_quadtree.h"
#include "network/support/network_writer.h"
#include "support/test_files.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

TTestNetworkWriter Small(int64_t Key) {
  TTestNetworkWriter w;
  w.Key = Key;
  w.AddSample();
  return w;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
    return 2;
  }
  const std::filesystem::path root(argv[1]);
  const auto coord3 = root / "coord3file", externid = root / "externid";
  std::filesystem::create_directories(coord3);
  std::filesystem::create_directories(externid);
  auto put = [](const std::filesystem::path& p, const std::string& bytes) { WriteBytes(p.string(), bytes); };

  for (int64_t key : {0, 0x5A17C0DE}) {
    auto f = Small(key).Files();
    const std::string tag = key ? "key" : "plain";
    put(coord3 / ("small_" + tag), fuzz::JoinTwoFiles(key ? 1 : 0, f["coord3i.bin"], f["coord3.bin"]));
    TTestNetworkWriter grid;
    grid.Key = key;
    grid.AddGrid({3, 3, 10, 4, 0.2});
    f = grid.Files();
    put(coord3 / ("grid_" + tag), fuzz::JoinTwoFiles(key ? 1 : 0, f["coord3i.bin"], f["coord3.bin"]));
  }
  put(coord3 / "no_links", fuzz::JoinTwoFiles(0, std::string(4, '\0'), ""));

  struct Ids {
    const char* name;
    uint8_t flags;
    void (*set)(TTestNetworkWriter&);
  } const ids[] = {
      {"int32", 0,
       [](TTestNetworkWriter& w) {
         w.SetExternalIDs(std::vector<int32_t>{12, -1, 261, 5, -2147483647});
       }},
      {"int64", 3,
       [](TTestNetworkWriter& w) {
         w.SetExternalIDs(std::vector<int64_t>{int64_t(1) << 62, -7, 0, 5, -(int64_t(1) << 62)});
       }},
      {"text", 2,
       [](TTestNetworkWriter& w) {
         w.SetExternalIDs({u"A", u"Main St", u"\uE000x", u"\U00010000x", u"a"}, 8);
       }},
      {"text_one_bucket_wide", 1,
       [](TTestNetworkWriter& w) {
         w.Buckets = 1;
         w.WideBucketStarts = true;
         w.TextPad = u' ';
         w.SetExternalIDs({u"b", u"a", u"", u"c d", u"long id"}, 3);
       }},
  };
  for (const Ids& i : ids) {
    TTestNetworkWriter w = Small(0);
    i.set(w);
    auto f = w.Files();
    put(externid / i.name, fuzz::JoinTwoFiles(i.flags, f["index1.bin"], f["index2.bin"]));
  }

  // Road-name pairs: the number file, then the name file.
  const auto roadnames = root / "roadnamefile";
  std::filesystem::create_directories(roadnames);
  struct Names {
    const char* name;
    uint8_t flags;
    std::vector<std::string> names;
  } const pairs[] = {
      {"cased", 0, {"B", "a", "B", "", "Main St"}},
      {"latin1_cached", 1, {"\xc3\x96lweg", "M\xc3\xbcllerstra\xc3\x9f" "e", "ab", "a\xc2\xad" "b", " x "}},
      {"one_name_link_more", 2, {"Ring", "Ring", "Ring", "Ring", "Ring"}},
  };
  for (const Names& p : pairs) {
    TTestNetworkWriter w = Small(0);
    w.SetRoadNames(1, p.names);
    auto f = w.Files();
    put(roadnames / p.name, fuzz::JoinTwoFiles(p.flags, f["roadnumber01.bin"], f["roadname01.bin"]));
  }
  // Sorted by code unit, not by our collation: the order found out at loading.
  const std::u16string foreign(u"B\0Z\0a\0b\0", 8);
  const int32_t numbers[] = {4, 1, 3, 2, 4};
  put(roadnames / "foreign_order",
      fuzz::JoinTwoFiles(0, std::string(reinterpret_cast<const char*>(numbers), sizeof numbers),
                         std::string(reinterpret_cast<const char*>(foreign.data()), 2 * foreign.size())));

  // The index of each network, behind its node and link counts (UInt16 each).
  const auto quadtree = root / "quadtree";
  std::filesystem::create_directories(quadtree);
  struct Index {
    const char* name;
    int32_t cap;
    void (*links)(TTestNetworkWriter&);
  } const indexes[] = {
      {"one_cell", 50, [](TTestNetworkWriter& w) { w.AddSample(); }},
      {"sample_split", 1, [](TTestNetworkWriter& w) { w.AddSample(); }},
      {"grid", 2, [](TTestNetworkWriter& w) { w.AddGrid({5, 5, 10, 3, 0.3}); }},
      {"deep", 1,
       [](TTestNetworkWriter& w) {
         w.AddLink({{1, 1}, {1.000001, 1}});
         w.AddLink({{6, 6}, {7, 7}});
       }},
  };
  for (const Index& i : indexes) {
    TTestNetworkWriter w;
    i.links(w);
    w.SpatialIndex = true;
    w.MaxNodesPerCell = i.cap;
    auto f = w.Files();
    const uint16_t counts[2] = {uint16_t(f["coord.bin"].size() / 16), uint16_t(w.LinkCount())};
    put(quadtree / i.name, std::string(reinterpret_cast<const char*>(counts), 4) + f[cSpatialIndexFileName]);
  }
  return 0;
}
