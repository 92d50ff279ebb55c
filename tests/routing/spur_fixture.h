// A hand-made network shared by the route tests of both kinds: a unit square
// in km, A(0,0) -1- B(1,0) -2- C(1,1) -3- D(0,1) -4- A, and a spur B -5-
// E(2,0). Turning from 1 into 2 (at B) and from 4 into 3 (at D) is
// prohibited in turn set 0: from A, C is reached only by turning round at E.
#pragma once

#include <cstdint>

#include "network/kovra_network.h"
#include "network/kovra_turn.h"
#include "network/support/network_writer.h"
#include "support/temp_dir_test.h"

namespace kovra::testsupport {

class SpurFixture : public TTempDirTest {
protected:
  TNetwork& Open() {
    TTestNetworkWriter w;
    w.Unit = cuKm;
    w.AddLink({{0, 0}, {1, 0}});
    w.AddLink({{1, 0}, {1, 1}});
    w.AddLink({{1, 1}, {0, 1}});
    w.AddLink({{0, 1}, {0, 0}});
    w.AddLink({{1, 0}, {2, 0}});
    w.SetAttribute(1, 0);
    w.SpatialIndex = true;
    w.Write(dir.string() + "/");
    nw.SetDirectory(dir.string() + "/");
    nw.Open(true, false, true, 0);
    nw.TurnSet(0).AddSimple(1, 2, -1);
    nw.TurnSet(0).AddSimple(4, 3, -1);
    A = N(0, 0), C = N(1, 1), E = N(2, 0);
    return nw;
  }
  int32_t N(double x, double y) const {
    for (int32_t n = 1; n <= nw.NodeCount(); ++n)
      if (nw.X()[size_t(n)] == x && nw.Y()[size_t(n)] == y) return n;
    return 0;
  }
  TNetwork nw;
  int32_t A = 0, C = 0, E = 0;
};

}  // namespace kovra::testsupport
