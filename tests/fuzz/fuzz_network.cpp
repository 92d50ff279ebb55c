// A network opened from arbitrary files (through caller streams, settings
// through OnConfig): Open raises the library's error or yields a model whose
// adjacency, degrees and link ends agree, which then survives attribute
// changes, cul-de-sac walks and a clone.
// Header: flags (bit 0 a key, bit 1 attributes, bit 2 cached vertices), then
// the link count (Int32). Files: length, link, coord, node, attribute,
// coord3i, coord3.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fuzz_files.h"
#include "network/kovra_network.h"

using namespace kovra;

namespace {

constexpr const char* cNames[] = {"length", "link", "coord", "node", "attribute", "coord3i", "coord3"};

std::unique_ptr<TKvMemoryStream> Stream(const std::string& Bytes) {
  auto s = std::make_unique<TKvMemoryStream>();
  s->WriteBuffer(Bytes.data(), int32_t(Bytes.size()));
  s->SetPosition(0);
  return s;
}

void Check(bool ok) {
  if (!ok) std::abort();
}

// What the loader promises every later reader.
void CheckModel(const TNetwork& net) {
  const int32_t L = net.LinkCount(), N = net.NodeCount();
  for (int32_t n = 1; n <= N; ++n) {
    Check(int32_t(net.Adjacent(n).size()) == net.Degree_raw(n));
    for (int32_t e : net.Adjacent(n)) {
      const int32_t l = std::abs(e);
      Check(l >= 1 && l <= L && net.Lengths()[size_t(l)] != 0);
      Check(net.Fromnodes()[size_t(l)] == n || net.Tonodes()[size_t(l)] == n);
    }
  }
  for (int32_t l = 1; l <= L; ++l)
    if (net.Lengths()[size_t(l)] != 0) {
      const int32_t f = net.Fromnodes()[size_t(l)], t = net.Tonodes()[size_t(l)];
      Check(f >= 1 && f <= N && t >= 1 && t <= N);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fuzz::TFiles f = fuzz::SplitFiles(data, size, 5, std::size(cNames));
  const uint8_t flags = uint8_t(f.Header[0]);
  int32_t links;
  std::memcpy(&links, f.Header.data() + 1, 4);
  std::unique_ptr<TKvMemoryStream> s[std::size(cNames)];
  for (size_t i = 0; i < std::size(cNames); ++i) s[i] = Stream(f.Files[i]);

  TNetwork net;
  net.SetOnConfig([&](TObject*) {
    TConfig c;
    c.VersionCode = cNetworkVersion;
    c.Encrypted = flags & 1;
    c.Cu = cuM;
    c.LinkCount = links;
    c.Mbr = {0, 0, 1000, 1000};
    return c;
  });
  net.SetEncryptionKey((flags & 1) ? 0x5A17C0DE : 0);
  net.SetLengthStream(s[0].get());
  net.SetLinkStream(s[1].get());
  net.SetCoordStream(s[2].get());
  net.SetNodeStream(s[3].get());
  net.SetAttributeStream(s[4].get());
  net.SetCoord3iStream(s[5].get());
  net.SetCoord3Stream(s[6].get());
  try {
    net.Open(flags & 2, flags & 4, false, 0);
  } catch (const Exception&) {
    Check(!net.IsOpen());
    return 0;
  }
  CheckModel(net);
  for (int32_t l = 1; l <= net.LinkCount() && l <= 64; ++l) {
    if (net.Lengths()[size_t(l)] == 0) continue;
    net.OneWaySet(l, uint16_t(512 * (l % 4)));
    net.SetRoadClass(l, uint8_t(l % 32));
  }
  net.SwapOneWay();
  CheckModel(net);
  TNetwork clone;
  net.Clone(clone);
  CheckModel(clone);
  if (net.LinkCount() > 0) {
    TRoute r;
    r.links = {1, -net.LinkCount()};
    r.percent1 = 0.5;
    r.percent2 = 0.5;
    (void)net.RouteLength(r);
  }
  (void)net.Length();
  return 0;
}
