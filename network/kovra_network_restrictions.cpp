// One table of everything that restricts driving: the turn restrictions of
// one set, one-way links, links with a vehicle limit and closed links.
#include <charconv>

#include "foundation/kovra_functions.h"
#include "giswriter/kovra_giswriter.h"
#include "network/kovra_network.h"
#include "network/kovra_turn.h"
#include "platform/kovra_sysutils.h"

namespace kovra {

namespace {

// Restrictions of more links have no columns for their midpoints.
constexpr size_t cMaxRestrictionLinks = 6;
// Limit slots whose files give the restriction types 9..12 (8 + file number).
constexpr int32_t cRestrictionLimitSlots = 4;

void AppendPoint(std::string& s, const TFloatPoint& P) {
  s += ',';
  s += FloatToStrDot(P.x);
  s += ',';
  s += FloatToStrDot(P.y);
}

// The zero coordinates of the unused link pairs.
void AppendZeros(std::string& s, size_t pairs) {
  for (size_t i = 0; i < 2 * pairs; ++i) s += ",0";
}

}  // namespace

void TNetwork::ExportXQDRestrictions(const std::string& filename, TGISFormat GF, int32_t TurnIndex,
                                     const TMIPen& PenOneWayF, const TMIPen& PenOneWayR, const TMIPen& PenTurn) {
  CheckOpen();
  CheckTurnIndex(TurnIndex);
  const TTurnRestrictions& set = *FTurnList[size_t(TurnIndex)];
  WriteOutput(filename, GF, {}, [&](TGISWriter& W) {
    W.StartHeader(16, otPline);
    W.AddField("RestrictionID", gfInteger, 0, 0);
    W.AddField("RestrictionType", gfSmallInt, 0, 0);
    W.AddField("RestrictionValue", gfFloat, 0, 0);
    W.AddField("Links", gfChar, 60, 0);
    for (size_t i = 1; i <= cMaxRestrictionLinks; ++i) {
      W.AddField("Link" + std::to_string(i) + "X", gfFloat, 0, 0);
      W.AddField("Link" + std::to_string(i) + "Y", gfFloat, 0, 0);
    }
    int32_t counter = 0;
    std::string text;
    const auto midpoint = [&](int32_t link) { return Location2Coordinate_raw(TLocation{link, 0.5}, 0); };
    // counter, type, value, link, midpoint, zeros: the one-link records.
    const auto linkRecord = [&](int32_t type, double value, int32_t link, const TFloatPoint& P) {
      text.clear();
      AppendInt(text, ++counter);
      text += ',';
      AppendInt(text, type);
      text += ',';
      text += FloatToStrDot(value);
      text += ',';
      AppendInt(text, link);
      AppendPoint(text, P);
      AppendZeros(text, cMaxRestrictionLinks - 1);
    };

    W.Pen = PenTurn;
    TIntegerList list;
    TRestrictionDrawing D;
    for (int32_t link = 1; link <= FLinkCount; ++link) {
      if (!set.GetList(link, list)) continue;
      for (int32_t k = 0; k < list.Count(); ++k) {
        const TTurnRestriction tr = set.GetTR(list.GetItem(k));
        const size_t n = tr.links.size();
        if (n < 2 || n > cMaxRestrictionLinks) continue;
        // A link of length 0 has no midpoint: the record keeps its number,
        // values and links, with coordinates 0 and no geometry.
        const bool drawable = !HasZeroLength(tr.links);
        text.clear();
        AppendInt(text, ++counter);
        text += n == 2 ? ",1," : ",2,";
        text += FloatToStrDot(double(tr.value));
        text += ",\"";
        for (size_t i = 0; i < n; ++i) {
          if (i > 0) text += ',';
          AppendInt(text, tr.links[i]);
        }
        text += '"';
        TFloatPoint first{}, second{};
        for (size_t i = 0; i < n; ++i) {
          const TFloatPoint P = drawable ? midpoint(tr.links[i]) : cZeroPoint;
          if (i == 0) first = P;
          if (i == 1) second = P;
          AppendPoint(text, P);
        }
        AppendZeros(text, cMaxRestrictionLinks - n);
        if (!drawable) W.AddObject(0, false, text);
        else if (n == 2) W.AddLine2(first, second, text);
        else WriteRestrictionObject(W, tr.links, text, D);
      }
    }

    TFloatPointArrayEx poly;
    for (const auto& [code, value, pen] : {std::tuple{1, 512, &PenOneWayF}, std::tuple{2, 1024, &PenOneWayR}}) {
      W.Pen = *pen;
      for (int32_t link = 1; link <= FLinkCount; ++link) {
        if (FLength[size_t(link)] == 0 || OneWayCode(link) != code) continue;
        GetGISSection_raw(link, poly);
        linkRecord(8, value, link, Location2CoordinateOnSection(poly, TLocation{link, 0.5}, 0));
        W.AddObject(1, false, text);
        W.AddSection(1, poly);
      }
    }

    TBitArray BA;
    for (int32_t k = 1; k <= std::min<int32_t>(FlimitX, cRestrictionLimitSlots); ++k) {
      if (FlimitBP[size_t(k) - 1]) continue;
      BA.SetSize(0);
      SelectLimit(BA, k, 1, 255);
      for (int32_t link = 1; link <= FLinkCount; ++link) {
        if (!BA.GetBit(link)) continue;
        linkRecord(8 + XQDindex[size_t(k) - 1], FlimitA[size_t(k) - 1][size_t(link)], link, midpoint(link));
        W.AddObject(0, false, text);
      }
    }

    for (int32_t link = 1; link <= FLinkCount; ++link) {
      if (FLength[size_t(link)] == 0 || OneWayCode(link) != 3) continue;
      linkRecord(14, 1536, link, midpoint(link));
      W.AddObject(0, false, text);
    }
  });
}

}  // namespace kovra
