// Test support of the network model tests: networks written by the test
// writer into a temporary folder and opened, and a long path network built
// straight into caller streams.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "network/kovra_network.h"
#include "network/support/network_writer.h"
#include "support/temp_dir_test.h"

namespace kovra::testsupport {

inline constexpr int64_t cNetworkKey = 0x5A17C0DE;

class TNetworkTest : public TTempDirTest {
protected:
  std::string Dir() const { return dir.string() + "/"; }
  std::string PathOf(const std::string& Name) const { return Dir() + Name; }

  // Writes w into the test's folder and opens it.
  TNetwork& Open(const TTestNetworkWriter& w, bool Attributes = false, bool SpatialIndex = false,
                 int32_t ExternalId = 0, int64_t Key = -1) {
    w.Write(Dir());
    fNet = std::make_unique<TNetwork>();
    fNet->SetDirectory(Dir());
    fNet->SetEncryptionKey(Key < 0 ? w.Key : Key);
    fNet->Open(Attributes, false, SpatialIndex, ExternalId);
    return *fNet;
  }

  std::unique_ptr<TNetwork> fNet;
};

// Bytes of little-endian values.
template <typename T>
void Append(std::string& s, T v) {
  s.append(reinterpret_cast<const char*>(&v), sizeof v);
}

// A path of N links of 100 m each (unit metres), nodes numbered as the
// import numbers them (the N - 1 inner nodes first), held in caller streams;
// the settings come through OnConfig.
class TPathStreams {
public:
  explicit TPathStreams(int32_t N) : fN(N) {
    std::string length, link, coord, node, coord3i;
    // Node at position i along the path (0..N).
    auto id = [N](int32_t i) { return i == 0 ? N : i == N ? N + 1 : i; };
    for (int32_t l = 1; l <= N; ++l) {
      Append(length, 0.1f);
      Append(link, id(l - 1));
      Append(link, id(l));
    }
    std::vector<double> x(size_t(N) + 2);
    for (int32_t i = 0; i <= N; ++i) x[size_t(id(i))] = 100.0 * i;
    for (int32_t n = 1; n <= N + 1; ++n) {
      Append(coord, x[size_t(n)]);
      Append(coord, 0.0);
    }
    Append(node, int32_t(2));
    Append(node, int32_t(N - 1));
    Append(node, int32_t(N + 1));
    for (int32_t n = 1; n < N; ++n) {
      Append(node, n);  // link n arrives at inner node n, link n + 1 leaves it
      Append(node, n + 1);
    }
    Append(node, int32_t(1));
    Append(node, N);
    for (int32_t l = 0; l <= N; ++l) Append(coord3i, int32_t(0));
    fFiles = {{"length", length}, {"link", link}, {"coord", coord}, {"node", node}, {"coord3i", coord3i}, {"coord3", ""}};
  }

  // Points net at fresh streams of the files.
  void Attach(TNetwork& net) {
    fStreams.clear();
    for (const auto& [name, bytes] : fFiles) fStreams[name] = MemoryStreamOf(bytes);
    net.SetLengthStream(fStreams["length"].get());
    net.SetLinkStream(fStreams["link"].get());
    net.SetCoordStream(fStreams["coord"].get());
    net.SetNodeStream(fStreams["node"].get());
    net.SetCoord3Stream(fStreams["coord3"].get());
    net.SetCoord3iStream(fStreams["coord3i"].get());
    const int32_t n = fN;
    net.SetOnConfig([n](TObject*) {
      TConfig c;
      c.VersionCode = cNetworkVersion;
      c.Cu = cuM;
      c.LinkCount = n;
      c.Mbr = {0, -1, 100.0 * n, 1};
      return c;
    });
  }
  std::map<std::string, std::string>& Files() { return fFiles; }

private:
  int32_t fN;
  std::map<std::string, std::string> fFiles;
  std::map<std::string, std::unique_ptr<TKvMemoryStream>> fStreams;
};

}  // namespace kovra::testsupport
