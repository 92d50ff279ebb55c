// Writes the seed corpora of fuzz_coord3file and fuzz_externid from small
// networks of the test writer: <corpus folder>/coord3file/* and /externid/*.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/fuzz_files.h"
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
  return 0;
}
