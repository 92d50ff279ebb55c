// A fixture for the network analyses and checks: small networks built in
// code (km), opened with attributes and limit file 1 in slot 1 (a value
// limit), and helpers shared by their tests.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "network/kovra_network.h"
#include "network/support/network_writer.h"
#include "support/temp_dir_test.h"

namespace kovra::testsupport {

using TBuild = std::function<void(TTestNetworkWriter&)>;

// Two unit squares, (0,0)-(1,1) and (3,0)-(4,1): links 1..4 and 5..8.
inline void TwoSquares(TTestNetworkWriter& w) {
  for (const double x : {0.0, 3.0}) {
    w.AddLink({{x, 0}, {x + 1, 0}});
    w.AddLink({{x + 1, 0}, {x + 1, 1}});
    w.AddLink({{x + 1, 1}, {x, 1}});
    w.AddLink({{x, 1}, {x, 0}});
  }
}

class AnalysisFixture : public TTempDirTest {
protected:
  // limits: link -> value in limit file 1 (others 0).
  TNetwork& Open(const TBuild& build, const std::map<int32_t, uint8_t>& limits = {}) {
    TTestNetworkWriter w;
    w.Unit = cuKm;
    w.CoordSys = CoordSys;
    build(w);
    // So that "attribute.bin" exists.
    if (w.LinkCount() >= 1 && !w.HasAttributes()) w.SetAttribute(1, 0);
    std::vector<uint8_t> values(size_t(w.LinkCount()), 0);
    for (const auto& [link, v] : limits) values[size_t(link - 1)] = v;
    w.SetLimit(1, values);
    w.Write(dir.string() + "/");
    nw = std::make_unique<TNetwork>();
    nw->SetDirectory(dir.string() + "/");
    nw->Open(true, false, false, 0);
    nw->OpenLimit(1, 1, false);
    return *nw;
  }
  int32_t NodeAt(double x, double y) const {
    for (int32_t n = 1; n <= nw->NodeCount(); ++n)
      if (nw->X()[size_t(n)] == x && nw->Y()[size_t(n)] == y) return n;
    return 0;
  }
  std::string CoordSys;  // of the network written by Open
  std::unique_ptr<TNetwork> nw;
};

}  // namespace kovra::testsupport
