// Turn-restriction text files on arbitrary bytes, read into a set that holds
// one restriction already: either the reader's error, with the set exactly as
// it was, or a set grown by the number returned whose every restriction can
// be driven (valid links, consecutive links meeting).
//
// The network (held in caller streams): a junction of four 100 m arms at the
// origin (links 1..4 leave it east, north, west and south), link 5 going on
// east from the end of link 1, link 6 rejected; external ids 101..106.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "network/kovra_network.h"
#include "network/kovra_turn.h"

using namespace kovra;

namespace {

template <typename T>
void Put(std::string& s, T v) {
  s.append(reinterpret_cast<const char*>(&v), sizeof v);
}

std::unique_ptr<TKvMemoryStream> Stream(const std::string& Bytes) {
  auto s = std::make_unique<TKvMemoryStream>();
  s->WriteBuffer(Bytes.data(), int32_t(Bytes.size()));
  s->SetPosition(0);
  return s;
}

class TAnyNodeFinder : public INearestNodeFinder {
public:
  explicit TAnyNodeFinder(const TNetwork& Net) : FNet(Net) {}
  void NearestNode(const TFloatPoint& P, int32_t& node, double& distance) override {
    FNet.CheckCoordinate(P);
    node = 1;
    distance = FNet.DistanceBetweenPoints_raw(P, FNet.Node2Coordinate_raw(1));
    for (int32_t n = 2; n <= FNet.NodeCount(); ++n) {
      const double d = FNet.DistanceBetweenPoints_raw(P, FNet.Node2Coordinate_raw(n));
      if (d < distance) distance = d, node = n;
    }
  }

private:
  const TNetwork& FNet;
};

struct TSample {
  std::vector<std::unique_ptr<TKvMemoryStream>> Streams;
  TNetwork Net;

  TSample() {
    constexpr int32_t cLinks = 6;
    std::string length, link, coord, node, coord3i, index1, index2;
    const int32_t ends[cLinks][2] = {{1, 2}, {1, 3}, {1, 4}, {1, 5}, {2, 6}, {0, 0}};
    for (int32_t l = 0; l < cLinks; ++l) {
      Put(length, l == 5 ? 0.0f : 0.1f);
      Put(link, ends[l][0]);
      Put(link, ends[l][1]);
    }
    const double xy[6][2] = {{0, 0}, {100, 0}, {0, 100}, {-100, 0}, {0, -100}, {200, 0}};
    for (const auto& p : xy) {
      Put(coord, p[0]);
      Put(coord, p[1]);
    }
    // Highest degree 4; last node of each degree group 4..1; then the slots.
    for (const int32_t v : {4, 1, 1, 2, 6, 1, 2, 3, 4, 1, 5, 2, 3, 4, 5}) Put(node, v);
    for (int32_t l = 0; l <= cLinks; ++l) Put(coord3i, int32_t(0));
    Put(index1, int32_t(0));  // Int32 ids
    for (int32_t l = 1; l <= cLinks; ++l) Put(index1, 100 + l);
    Put(index2, int32_t(1));  // one bucket, starting right after its start
    Put(index2, int32_t(8));
    for (int32_t l = 1; l <= cLinks; ++l) Put(index2, l);
    for (const std::string* s : {&length, &link, &coord, &node, &coord3i, &index1, &index2}) Streams.push_back(Stream(*s));
    Streams.push_back(Stream(""));
    Net.SetOnConfig([](TObject*) {
      TConfig c;
      c.VersionCode = cNetworkVersion;
      c.Cu = cuM;
      c.LinkCount = cLinks;
      c.Mbr = {-100, -100, 200, 100};
      return c;
    });
    Net.SetLengthStream(Streams[0].get());
    Net.SetLinkStream(Streams[1].get());
    Net.SetCoordStream(Streams[2].get());
    Net.SetNodeStream(Streams[3].get());
    Net.SetCoord3iStream(Streams[4].get());
    Net.SetExternalIdIndex1Stream(Streams[5].get());
    Net.SetExternalIdIndex2Stream(Streams[6].get());
    Net.SetCoord3Stream(Streams[7].get());
    Net.Open(false, false, false, 1);
    SetNearestNodeFinderFactory([](const TNetwork& n) { return std::make_unique<TAnyNodeFinder>(n); });
  }
};

struct TTurn {
  std::vector<int32_t> links;
  float value;
  bool operator==(const TTurn& o) const {
    return links == o.links && std::memcmp(&value, &o.value, sizeof value) == 0;
  }
};

std::vector<TTurn> Live(const TTurnRestrictions& set) {
  std::vector<TTurn> result;
  TIntegerList list;
  for (int32_t l = 0; l <= set.Size(); ++l) {
    if (!set.GetList(l, list)) continue;
    for (int32_t k = 0; k < list.Count(); ++k) {
      const TTurnRestriction tr = set.GetTR(list.GetItem(k));
      result.push_back({std::vector<int32_t>(tr.links.begin(), tr.links.end()), tr.value});
    }
  }
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TSample sample;
  TNetwork& net = sample.Net;
  const std::string file =
      fuzz::WriteFuzzFile("turns.txt", std::string_view(reinterpret_cast<const char*>(data), size));
  net.TurnClear(0);
  net.TurnRestriction(0, 2, 1, 3);
  const std::vector<TTurn> before = Live(net.TurnSet(0));
  const int32_t count = net.TurnCount(0);
  int32_t added = 0;
  try {
    added = net.TurnImportTxt(0, file);
  } catch (const Exception&) {
    fuzz::Check(Live(net.TurnSet(0)) == before, "a refused file changed the set");
    fuzz::Check(net.TurnCount(0) == count, "a refused file added entries");
    return 0;
  }
  fuzz::Check(added == net.TurnCount(0) - count, "the result is not the number added");
  for (const TTurn& t : Live(net.TurnSet(0))) {
    fuzz::Check(t.links.size() >= 2 && t.value != 0, "a stored restriction is malformed");
    for (size_t i = 0; i < t.links.size(); ++i) {
      fuzz::Check(t.links[i] >= 1 && t.links[i] <= net.LinkCount() && net.LinkLength(t.links[i]) > 0,
                  "a stored restriction names a non-valid link");
      if (i > 0) fuzz::Check(net.LinksShareNode(t.links[i - 1], t.links[i]), "stored links do not meet");
    }
  }
  return 0;
}
