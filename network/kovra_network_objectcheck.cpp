// Check layers of the network's own geometry and topology: groups of
// parallel links and links with faulty polylines.
#include <cstdlib>

#include "foundation/kovra_bitarray.h"
#include "foundation/kovra_geometry.h"
#include "foundation/kovra_integerlist.h"
#include "giswriter/kovra_giswriter.h"
#include "network/kovra_network.h"

namespace kovra {

int32_t TNetwork::ParallelLinks(const std::string& filename, TGISFormat GF) {
  CheckOpen();
  return WriteOutput(filename, GF, {.DropEmpty = true, .ProgressZero = true}, [this](TGISWriter& w) {
    w.StartHeader(3, otPline);
    w.AddField("Link", gfInteger, 0, 0);
    w.AddField("Group", gfInteger, 0, 0);
    w.AddField("SameLength", gfLogical, 0, 0);

    // Loop links join a node to itself and belong to no group.
    TBitArray done(int64_t(FLinkCount) + 1);
    for (int32_t l = 1; l <= FLinkCount; ++l)
      if (FLength[size_t(l)] != 0 && Fromnode[size_t(l)] == tonode[size_t(l)]) done.SetBit(l, true);
    SetProgressMaxValue(FNodeCount);
    SetProgressStart(0);
    SetProgressStop(100);

    int32_t g = 0;
    TIntegerList group;
    TFloatPointArrayEx polyline;
    std::string text;
    auto writeGroup = [&] {
      const float first = FLength[size_t(group.GetItem(0))];
      bool same = true;
      for (int32_t i = 1; i < group.Count(); ++i) same = same && FLength[size_t(group.GetItem(i))] == first;
      for (int32_t i = 0; i < group.Count(); ++i) {
        const int32_t l = group.GetItem(i);
        text = IntToStr(l) + "," + IntToStr(g) + (same ? ",1" : ",0");
        w.AddObject(1, false, text);
        GetGISSection_raw(l, polyline);
        w.AddSection(1, polyline);
      }
      group.Clear();
    };

    for (int32_t j = 1; j <= FNodeCount; ++j) {
      const std::span<const int32_t> slots = Adjacent(j);
      const size_t degree = slots.size();
      for (size_t k = 0; degree > 1 && k + 1 < degree; ++k) {
        const int32_t d = std::abs(slots[k]);
        if (done.GetBit(d)) continue;
        const int32_t o = Fromnode[size_t(d)] + tonode[size_t(d)] - j;
        bool found = false;
        for (size_t m = k + 1; m < degree; ++m) {
          const int32_t e = std::abs(slots[m]);
          if (done.GetBit(e) || Fromnode[size_t(e)] + tonode[size_t(e)] - j != o) continue;
          if (!found) {
            if (g > 0) writeGroup();
            ++g;
            group.Add(d);
            found = true;
          }
          group.Add(e);
          done.SetBit(e, true);
        }
      }
      ProgressExecute(j);
    }
    if (g > 0) writeGroup();
  });
}

int32_t TNetwork::ObjectCheck(const std::string& filename, TGISFormat GF, int32_t turn_angle) {
  CheckOpen();
  return WriteOutput(filename, GF, {.DropEmpty = true, .ProgressZero = true}, [&](TGISWriter& w) {
    w.StartHeader(4, otPline);
    w.AddField("Link", gfInteger, 0, 0);
    w.AddField("Duplicate", gfDecimal, 1, 0);
    w.AddField("SelfInter", gfDecimal, 1, 0);
    w.AddField("SharpTurn", gfDecimal, 3, 0);
    SetProgressMaxValue(FLinkCount);
    SetProgressStart(0);
    SetProgressStop(100);

    TFloatPointArrayEx polyline;
    std::string text;
    for (int32_t i = 1; i <= FLinkCount; ++i) {
      if (FLength[size_t(i)] == 0) continue;
      GetGISSection_raw(i, polyline);
      const int32_t score = PolylineDefectScore(polyline, FCoordinateUnit, turn_angle);
      if (score != 0) {
        text = IntToStr(i) + ((score & 1) ? ",1" : ",0") + ((score & 2) ? ",1" : ",0") + "," + IntToStr(score / 100);
        w.AddObject(1, false, text);
        w.AddSection(1, polyline);
      }
      ProgressExecute(i);
    }
  });
}

}  // namespace kovra
