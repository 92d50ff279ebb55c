// Turn sets of the network: the one-way test against a simulation of driving
// two links, the checked adds and the set-level operations.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "turn_fixture.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

class TurnSets : public TNetworkTest {};

// Can a vehicle drive link1 towards the node it shares with link2, then
// leave along link2? Code 0 two-way, 1 from->to only, 2 to->from only.
bool CanDrive(bool sharedIsTo1, int32_t o1, bool sharedIsFrom2, int32_t o2) {
  const bool in = sharedIsTo1 ? (o1 == 0 || o1 == 1) : (o1 == 0 || o1 == 2);
  const bool out = sharedIsFrom2 ? (o2 == 0 || o2 == 1) : (o2 == 0 || o2 == 2);
  return in && out;
}

TEST_F(TurnSets, TurnBlockedByOneWayAgreesWithDrivingTheTwoLinks) {
  // A(0,0) - B(100,0) - C(200,50); link 1 joins A and B, link 2 B and C, each
  // digitised either way: the four relations of their shared node B.
  struct TRelation {
    const char* name;
    bool link1IntoB;  // link 1 digitised A -> B (B its to-node)
    bool link2FromB;  // link 2 digitised B -> C (B its from-node)
  };
  const TRelation relations[] = {
      {"t1=f2", true, true}, {"t1=t2", true, false}, {"f1=f2", false, true}, {"f1=t2", false, false}};
  for (const TRelation& r : relations) {
    TTestNetworkWriter w;
    const TFloatPoint A{0, 0}, B{100, 0}, C{200, 50};
    w.AddLink(r.link1IntoB ? TFloatPointArray{A, B} : TFloatPointArray{B, A});
    w.AddLink(r.link2FromB ? TFloatPointArray{B, C} : TFloatPointArray{C, B});
    TNetwork& net = Open(w);
    for (int32_t o1 = 0; o1 <= 2; ++o1)
      for (int32_t o2 = 0; o2 <= 2; ++o2) {
        SCOPED_TRACE(std::string(r.name) + " o1=" + std::to_string(o1) + " o2=" + std::to_string(o2));
        net.OneWaySet(1, uint16_t(o1 << 9));
        net.OneWaySet(2, uint16_t(o2 << 9));
        EXPECT_EQ(net.TurnBlockedByOneWay(1, 2), !CanDrive(r.link1IntoB, o1, r.link2FromB, o2));
      }
  }
}

TEST_F(TurnSets, TurnBlockedByOneWayExceptions) {
  // Links joining the same two nodes are never blocked, whatever their codes;
  // code 3 (closed) is not looked at.
  TTestNetworkWriter w;
  w.AddLink({{0, 0}, {100, 0}});
  w.AddLink({{100, 0}, {50, 30}, {0, 0}});
  w.AddLink({{100, 0}, {200, 0}});
  TNetwork& net = Open(w);
  net.OneWaySet(1, 0x400);
  net.OneWaySet(2, 0x400);
  EXPECT_FALSE(net.TurnBlockedByOneWay(1, 2));
  net.AttributeSet(1, 0x600);  // closed
  net.AttributeSet(3, 0x600);
  EXPECT_FALSE(net.TurnBlockedByOneWay(1, 3));
}

TEST_F(TurnSets, CheckedAddsDropWhatCannotBeDriven) {
  // Path 1: (0,0)->(100,0), 2: (100,0)->(200,0), 3: (300,0)->(400,0) apart,
  // 4 rejected, 5: (200,0)->(200,100).
  TTestNetworkWriter w;
  w.AddLink({{0, 0}, {100, 0}});
  w.AddLink({{100, 0}, {200, 0}});
  w.AddLink({{300, 0}, {400, 0}});
  w.AddRejected();
  w.AddLink({{200, 0}, {200, 100}});
  TNetwork& net = Open(w);
  net.OneWaySet(1, 0x400);  // link 1 runs only away from the shared node

  net.TurnRestriction(0, 1, 1, -1);  // a U-turn onto the same link
  net.TurnRestriction(0, 1, 2, -1);  // already forbidden by the one-way code
  net.TurnRestriction(0, 1, 3, 5);   // links that do not meet
  EXPECT_EQ(StoredTurns(net, 0), std::vector<TStoredTurn>{});
  net.TurnRestriction(0, 1, 2, 3);   // a cost is stored all the same
  net.TurnRestriction(0, 2, 1, -2.5f);  // only -1 exactly is tested against the codes
  EXPECT_EQ(StoredTurns(net, 0), Sorted({{{1, 2}, 3}, {{2, 1}, -2.5f}}));

  // Rejected links have both ends 0 and would seem to meet each other.
  net.TurnClear(0);
  net.AddTurnChecked(0, 4, 4, 2);
  net.AddTurnChecked(0, 2, 4, 2);
  const int32_t rejected[] = {4, 4, 4};
  net.AddTurnListChecked(0, {rejected, 7});
  const int32_t withRejected[] = {1, 2, 4};
  net.AddTurnListChecked(0, {withRejected, 7});
  EXPECT_EQ(net.TurnCount(0), 0);

  // The complex form skips zero ids; a gap or a one-way step drops the whole sequence.
  net.TurnRestrictionComplex(0, 1, 2, 0, 5, 0, 0, 4);
  net.TurnRestrictionComplex(0, 2, 5, 0, 0, 0, 0, -1);
  net.TurnRestrictionComplex(0, 1, 2, 5, 0, 0, 0, -1);  // 1 -> 2 blocked
  net.TurnRestrictionComplex(0, 2, 5, 3, 0, 0, 0, 6);   // 5 and 3 do not meet
  EXPECT_EQ(StoredTurns(net, 0), Sorted({{{1, 2, 5}, 4}, {{2, 5}, -1}}));

  const int32_t outside[] = {1, 2, 6};
  ExpectRaises<EOutOfRange>([&] { net.AddTurnListChecked(0, {outside, 1}); }, "Link-ID must be <=5: 6");
  ExpectRaises<Exception>([&] { net.TurnRestriction(0, 4, 2, 1); }, "Link 4 is a non-valid link");
  ExpectRaises<Exception>([&] { net.TurnRestrictionComplex(0, 1, 2, 0, 4, 0, 0, 1); }, "Link 4 is a non-valid link");
  ExpectRaises<EOutOfRange>([&] { net.TurnRestriction(1, 1, 2, 1); }, "Turn index must be between 0 and 0");
  EXPECT_EQ(net.TurnCount(0), 2);
}

TEST_F(TurnSets, SetOperations) {
  TTestNetworkWriter w;
  w.AddLink({{0, 0}, {100, 0}});
  w.AddLink({{100, 0}, {200, 0}});
  w.AddLink({{200, 0}, {300, 0}});
  TNetwork& net = Open(w);
  net.CreateArrayTurn(3);
  EXPECT_EQ(net.TurnSetCount(), 3);
  net.CreateArrayTurn(2);  // never shrinks
  EXPECT_EQ(net.TurnSetCount(), 3);

  net.TurnRestrictionComplex(2, 1, 2, 3, 0, 0, 0, 2);
  net.TurnRestriction(2, 1, 2, -1);
  net.TurnRestriction(2, 2, 1, 5);
  net.TurnSwap(2);
  EXPECT_EQ(StoredTurns(net, 2), Sorted({{{3, 2, 1}, 2}, {{2, 1}, -1}, {{1, 2}, 5}}));

  net.TurnExportBin(2, PathOf("t.bin"));
  net.TurnImportBin(1, PathOf("t.bin"));
  EXPECT_EQ(StoredTurns(net, 1), StoredTurns(net, 2));
  net.TurnExportTxt(2, PathOf("t.txt"));
  net.TurnReset(1);
  EXPECT_EQ(net.TurnImportTxt(1, PathOf("t.txt")), 3);
  EXPECT_EQ(StoredTurns(net, 1), StoredTurns(net, 2));
  net.TurnClear(2);
  EXPECT_EQ(net.TurnCount(2), 0);

  ExpectRaises<EOutOfRange>([&] { net.TurnCount(3); }, "Turn index must be between 0 and 2");
  ExpectRaises<EOutOfRange>([&] { net.TurnCount(-1); }, "Turn index must be between 0 and 2");
  net.Close();
  ExpectRaises<ENetworkIsClosed>([&] { net.TurnCount(0); }, "Network is not open");
  ExpectRaises<ENetworkIsClosed>([&] { net.CreateArrayTurn(4); }, "Network is not open");
}

}  // namespace
