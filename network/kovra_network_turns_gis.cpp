// Restrictions drawn as polylines through their junctions: the turn-set layer
// and the drawing the network's other restriction layers share.
#include <algorithm>
#include <charconv>

#include "foundation/kovra_functions.h"
#include "giswriter/kovra_giswriter.h"
#include "network/kovra_network.h"
#include "network/kovra_turn.h"

namespace kovra {

void TNetwork::WriteRestrictionObject(TGISWriter& W, std::span<const int32_t> links, const std::string& Attrib,
                                      TRestrictionDrawing& D) const {
  const size_t n = links.size();
  // A link of length 0 has no geometry to cut (and no place in the network):
  // the record keeps its attributes and nothing else.
  if (n < 2 || HasZeroLength(links)) {
    W.AddObject(0, false, Attrib);
    return;
  }
  W.AddObject(int32_t(n), false, Attrib);
  const auto meets = [&](int32_t node, int32_t other) {
    return node == Fromnode[size_t(other)] || node == tonode[size_t(other)];
  };
  for (size_t k = 0; k < n; ++k) {
    const int32_t l = links[k];
    GetGISSection_raw(l, D.Poly);
    // Ten metres as a fraction of the link, at most a quarter of it.
    const double s = std::min(10.0 / (double(FLength[size_t(l)]) * 1000.0), 0.25);
    TFloatPointArrayEx* part = &D.Part;
    if (k == 0) {
      if (meets(tonode[size_t(l)], links[1])) ExtractSection_raw1(D.Poly, 0.5, 1 - s, D.Part);
      else ExtractSection_raw1(D.Poly, 0.5, s, D.Part);
    } else if (k == n - 1) {
      if (meets(Fromnode[size_t(l)], links[k - 1])) ExtractSection_raw1(D.Poly, s, 0.5, D.Part);
      else ExtractSection_raw1(D.Poly, 1 - s, 0.5, D.Part);
    } else {
      if (meets(Fromnode[size_t(l)], links[k + 1])) SwapList(D.Poly);
      part = &D.Poly;
    }
    if (k > 0) {
      // The part starts where the previous one ended, across the junction.
      TFloatPointArrayEx& p = *part;
      if (p.Pnt.size() < size_t(p.Count) + 1) p.Pnt.resize(size_t(p.Count) + 1);
      std::copy_backward(p.Pnt.begin(), p.Pnt.begin() + p.Count, p.Pnt.begin() + p.Count + 1);
      p.Pnt[0] = D.Last;
      ++p.Count;
    }
    D.Last = part->Pnt[size_t(part->Count) - 1];
    W.AddSection(int32_t(k) + 1, *part);
  }
}

void TNetwork::TurnExportGIS(int32_t index, const std::string& filename, TGISFormat GF) {
  CheckTurnIndex(index);
  const TTurnRestrictions& set = *FTurnList[size_t(index)];
  WriteOutput(filename, GF, {}, [&](TGISWriter& W) {
    W.SetOptimizePLinesSections(true);
    W.StartHeader(3, otPline);
    W.AddField("Length", gfInteger, 8, 0);
    W.AddField("TurnCost", gfFloat, 0, 0);
    W.AddField("Links", gfChar, 250, 0);
    TIntegerList list;
    TRestrictionDrawing D;
    std::string attrib;
    char buf[16];
    for (int32_t link = 1; link <= FLinkCount; ++link) {
      if (!set.GetList(link, list)) continue;
      for (int32_t k = 0; k < list.Count(); ++k) {
        const TTurnRestriction tr = set.GetTR(list.GetItem(k));
        if (tr.links.size() < 2) continue;
        attrib.assign(buf, std::to_chars(buf, buf + sizeof buf, int32_t(tr.links.size())).ptr);
        attrib += ',';
        attrib += FloatToStrDot(double(tr.value));
        attrib += ",\"";
        for (size_t i = 0; i < tr.links.size(); ++i) {
          if (i > 0) attrib += ',';
          attrib.append(buf, std::to_chars(buf, buf + sizeof buf, tr.links[i]).ptr);
        }
        attrib += '"';
        WriteRestrictionObject(W, tr.links, attrib, D);
      }
    }
  });
}

}  // namespace kovra
