// The hand-made network of the route-matrix, matrix-output and route-pair
// tests. In km, with a spatial index and one time column (1 minute per km):
//
//   A(0,0) -1- B(1,0) -2- C(2,0) -3- D(3,0) -8-> E(4,0)   (8 one-way D -> E)
//                                    D -9- F(3,2)          (9 closed)
//   P(0,10) -4- Q(0,15) -5- R(1,15) -6- S(1,10)            (P and S 1 km apart, 11 by road)
//   Z(9,9) -7- Z2(9,10)                                    (7 hierarchy 6)
#pragma once

#include <string>

#include "network/kovra_network.h"
#include "network/support/network_writer.h"
#include "support/temp_dir_test.h"

namespace kovra::testsupport {

class MatrixFixture : public TTempDirTest {
protected:
  void SetUp() override {
    TTempDirTest::SetUp();
    TTestNetworkWriter w;
    w.Unit = cuKm;
    w.SpatialIndex = true;
    w.AddLink({{0, 0}, {1, 0}});
    w.AddLink({{1, 0}, {2, 0}});
    w.AddLink({{2, 0}, {3, 0}});
    w.AddLink({{0, 10}, {0, 15}});
    w.AddLink({{0, 15}, {1, 15}});
    w.AddLink({{1, 15}, {1, 10}});
    w.AddLink({{9, 9}, {9, 10}});
    w.AddLink({{3, 0}, {4, 0}});
    w.AddLink({{3, 0}, {3, 2}});
    w.SetAttribute(7, uint16_t(6 << 5));
    w.SetAttribute(8, cAttrOnewayFromTo);
    w.SetAttribute(9, cAttrOneway);
    w.Write(dir.string() + "/");
    nw.SetDirectory(dir.string() + "/");
    nw.Open(true, false, true, 0);
    nw.CreateArrayTime(1);
    A = N(0, 0), B = N(1, 0), C = N(2, 0), D = N(3, 0), E = N(4, 0), F = N(3, 2);
    P = N(0, 10), Q = N(0, 15), R = N(1, 15), S = N(1, 10), Z = N(9, 9), Z2 = N(9, 10);
  }
  int32_t N(double x, double y) const {
    for (int32_t n = 1; n <= nw.NodeCount(); ++n)
      if (nw.X()[size_t(n)] == x && nw.Y()[size_t(n)] == y) return n;
    return 0;
  }
  std::string Out(const std::string& name) const { return (dir / name).string(); }

  TNetwork nw;
  int32_t A = 0, B = 0, C = 0, D = 0, E = 0, F = 0, P = 0, Q = 0, R = 0, S = 0, Z = 0, Z2 = 0;
};

}  // namespace kovra::testsupport
