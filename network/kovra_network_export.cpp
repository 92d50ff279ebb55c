// Link and node exports: every link with its attribute word unpacked
// (optionally split at locations and extended to snap points), every link
// cut into its segments, every node styled by its degree, and the plain list
// exports (locations, nodes, iso-polygon sites, origin-destination pairs).
#include <algorithm>
#include <charconv>

#include "foundation/kovra_functions.h"
#include "giswriter/kovra_giswriter.h"
#include "network/kovra_externid.h"
#include "network/kovra_network.h"
#include "network/kovra_roadnamefile.h"
#include "network/kovra_routingresults.h"
#include "platform/kovra_sysutils.h"

namespace kovra {

namespace {

inline constexpr const char* cMsgFullNetwork = "Full network could not be exported (2 GB limit reached)";
inline constexpr const char* cMsgPolyGenerationFormat = "Array/GeoJSON format is not possible in ExportPolyGeneration";
// Widest text column the writers take.
inline constexpr int32_t cMaxCharWidth = 254;

void AppendFloat(std::string& s, double v) { s += FloatToStrDot(v); }

}  // namespace

// ---------------------------------------------------------------------------
// The columns the two link exports share after their own: external id,
// limits, road names.

void TNetwork::AddLinkTailFields(TGISWriter& W) const {
  if (FexternalID && FexternalID->IsOpen()) {
    const int32_t kind = FexternalID->Stringlength();
    if (kind == cExternalIDInt32) W.AddField("ExternalID", gfInteger, 0, 0);
    else if (kind == cExternalIDInt64) W.AddField("ExternalID", gfInt64, 0, 0);
    else W.AddField("ExternalID", gfChar, uint8_t(std::min(kind, cMaxCharWidth)), 0);
  }
  for (int32_t n = 1; n <= FlimitX; ++n) W.AddField("Limit" + std::to_string(n), gfSmallInt, 1, 0);
  for (int32_t i = 1; i <= cMaxRoadNameFiles; ++i)
    if (const TRoadNameFile* f = FRoadNameFiles[size_t(i)].get())
      W.AddField("Roadname" + std::to_string(i), gfChar, uint8_t(std::clamp(f->MaxRoadNameLength(), 1, cMaxCharWidth)), 0);
}

int32_t TNetwork::LinkTailFieldCount() const {
  int32_t n = FlimitX;
  if (FexternalID && FexternalID->IsOpen()) ++n;
  for (int32_t i = 1; i <= cMaxRoadNameFiles; ++i)
    if (FRoadNameFiles[size_t(i)]) ++n;
  return n;
}

void TNetwork::AppendLinkTail(std::string& s, int32_t link) const {
  if (FexternalID && FexternalID->IsOpen()) {
    s += ',';
    const std::string id = FromUtf16(FexternalID->FindExternalid(link));
    const int32_t kind = FexternalID->Stringlength();
    if (kind == cExternalIDInt32 || kind == cExternalIDInt64) s += id;
    else AppendQuoted(s, id);
  }
  for (int32_t n = 1; n <= FlimitX; ++n) {
    s += ',';
    AppendInt(s, FlimitA[size_t(n) - 1][size_t(link)]);
  }
  for (int32_t i = 1; i <= cMaxRoadNameFiles; ++i)
    if (const TRoadNameFile* f = FRoadNameFiles[size_t(i)].get()) {
      s += ',';
      AppendQuoted(s, f->RoadName1(link));
    }
}

void TNetwork::CheckLinkSelection(const TBitArray* BA) const {
  if (BA && BA->Size() < int64_t(FLinkCount) + 1)
    throw EInvalidParameter(Format(cMsgBitArrayTooShort, int64_t(FLinkCount) + 1));
}

// ---------------------------------------------------------------------------

void TNetwork::ExportLinks(const std::string& filename, TGISFormat GF, const TLocationList* LL, const TBitArray* BA) {
  CheckOpen();
  CheckLinkSelection(BA);
  // Every item is checked before a file exists: a percent outside the
  // extensions and [0, 1] or a link outside the network would cut outside
  // the polyline.
  std::vector<TLocationListItem> items;
  if (LL) {
    items.reserve(size_t(LL->Count()));
    for (int32_t i = 0; i < LL->Count(); ++i) {
      const TLocationListItem& it = LL->GetItem(i);
      if (it.loc.link < 1 || it.loc.link > FLinkCount)
        throw EOutOfRange(Format(cMsgLocationListLink, i, it.loc.link, FLinkCount));
      const double p = it.loc.percent;
      if (!(p == -2 || p == -1 || (0 <= p && p <= 1)))
        throw EOutOfRange(Format(cMsgLocationListPercent, i, NumberText(p, "%n")));
      items.push_back(it);
    }
    // The cursor walks the items in link order: an unsorted list is sorted
    // here (its own order stays), -2 before -1 before the split points.
    if (!LL->Sorted())
      std::stable_sort(items.begin(), items.end(), [&](const TLocationListItem& a, const TLocationListItem& b) {
        return LL->Less(a, b);
      });
  }
  SetProgressMaxValue(FLinkCount);
  SetProgressStart(0);
  SetProgressStop(100);
  bool full = false;
  WriteOutput(filename, GF, {false, true}, [&](TGISWriter& W) {
    const int32_t n = 14 + (LL ? 3 : 0) + LinkTailFieldCount();
    W.StartHeader(n, otPline);
    W.AddField("ID", gfInteger, 9, 0);
    if (LL) {
      W.AddField("ID_sub", gfInteger, 4, 0);
      W.AddField("ID_start", gfFloat, 0, 0);
      W.AddField("ID_stop", gfFloat, 0, 0);
    }
    W.AddField("FromNode", gfInteger, 9, 0);
    W.AddField("ToNode", gfInteger, 9, 0);
    W.AddField("CulDeSac", gfSmallInt, 1, 0);
    W.AddField("Attribute", gfInteger, 5, 0);
    W.AddField("RoadClass", gfSmallInt, 2, 0);
    W.AddField("Hierarchy", gfSmallInt, 1, 0);
    W.AddField("NoDriveThrough", gfSmallInt, 1, 0);
    W.AddField("Oneway", gfSmallInt, 4, 0);
    W.AddField("RoundAbout", gfSmallInt, 1, 0);
    W.AddField("NonDrive", gfSmallInt, 1, 0);
    W.AddField("UturnFrom", gfSmallInt, 1, 0);
    W.AddField("UturnTo", gfSmallInt, 1, 0);
    W.AddField("SearchLink", gfSmallInt, 1, 0);
    AddLinkTailFields(W);

    TFloatPointArrayEx poly, piece;
    std::string head, tail, text;
    size_t cursor = 0;
    const size_t count = items.size();
    for (int32_t link = 1; link <= FLinkCount; ++link) {
      if (FLength[size_t(link)] == 0 || (BA && !BA->GetBit(link))) continue;
      // Items on links the export skipped are passed over.
      while (cursor < count && items[cursor].loc.link < link) ++cursor;
      GetGISSection_raw(link, poly);
      const uint16_t a = Fattribute[size_t(link)];
      head.clear();
      AppendInt(head, link);
      tail.clear();
      for (const int64_t v : {int64_t(Fromnode[size_t(link)]), int64_t(tonode[size_t(link)]),
                              int64_t(FCDS.GetBit(link)), int64_t(a), int64_t(a & 0x1F), int64_t((a >> 5) & 7),
                              int64_t((a >> 8) & 1), int64_t(a & 0x600), int64_t((a >> 11) & 1),
                              int64_t((a >> 12) & 1), int64_t((a >> 13) & 1), int64_t((a >> 14) & 1),
                              int64_t((a >> 15) & 1)}) {
        tail += ',';
        AppendInt(tail, v);
      }
      AppendLinkTail(tail, link);

      bool fromExt = false, toExt = false;
      TFloatPoint fromP{}, toP{};
      int32_t sub = 0;
      const auto writePiece = [&](double s, double e, const TFloatPoint& P1, const TFloatPoint& P2) {
        if (s != 0 || e != 1 || fromExt || toExt) ++sub;
        text = head;
        if (LL) {
          text += ',';
          AppendInt(text, sub);
          text += ',';
          AppendFloat(text, s);
          text += ',';
          AppendFloat(text, e);
        }
        text += tail;
        W.AddObject(1, false, text);
        ExtractSectionCore(poly, s, e, P1, P2, true, piece);
        const bool front = s == 0 && fromExt, back = e == 1 && toExt;
        if (front || back) {
          const size_t m = size_t(piece.Count);
          if (piece.Pnt.size() < m + 2) piece.Pnt.resize(m + 2);
          if (front) {
            std::copy_backward(piece.Pnt.begin(), piece.Pnt.begin() + ptrdiff_t(m), piece.Pnt.begin() + ptrdiff_t(m) + 1);
            piece.Pnt[0] = fromP;
            ++piece.Count;
          }
          if (back) piece.Pnt[size_t(piece.Count++)] = toP;
        }
        W.AddSection(1, piece);
      };

      if (cursor < count && items[cursor].loc.link == link) {
        if (items[cursor].loc.percent == -2) {
          fromP = items[cursor].P;
          fromExt = fromP.x != poly.Pnt[0].x || fromP.y != poly.Pnt[0].y;
          ++cursor;
        }
        if (cursor < count && items[cursor].loc.link == link && items[cursor].loc.percent == -1) {
          toP = items[cursor].P;
          const TFloatPoint& last = poly.Pnt[size_t(poly.Count) - 1];
          toExt = toP.x != last.x || toP.y != last.y;
          ++cursor;
        }
        double start = 0;
        TFloatPoint previous{};
        while (cursor < count && items[cursor].loc.link == link) {
          const TLocationListItem& it = items[cursor];
          // A second extension of the same end is not a split point.
          if (it.loc.percent < 0) {
            ++cursor;
            continue;
          }
          writePiece(start, it.loc.percent, previous, it.P);
          if (W.FileIsFull()) break;
          previous = it.P;
          start = it.loc.percent;
          ++cursor;
        }
        writePiece(start, 1, previous, cZeroPoint);
      } else {
        writePiece(0, 1, cZeroPoint, cZeroPoint);
      }
      if (W.FileIsFull()) {
        full = true;
        break;
      }
      ProgressExecute(link);
    }
  });
  if (full) throw Exception(cMsgFullNetwork);
}

void TNetwork::ExportLinksFullSplit(const std::string& filename, TGISFormat GF, const TBitArray* BA) {
  CheckOpen();
  CheckLinkSelection(BA);
  SetProgressMaxValue(FLinkCount);
  SetProgressStart(0);
  SetProgressStop(100);
  WriteOutput(filename, GF, {false, true}, [&](TGISWriter& W) {
    W.StartHeader(14 + LinkTailFieldCount(), otPline);
    W.AddField("ID", gfInteger, 9, 0);
    W.AddField("ID_sub", gfInteger, 4, 0);
    W.AddField("CulDeSac", gfSmallInt, 1, 0);
    W.AddField("Attribute", gfInteger, 5, 0);
    W.AddField("RoadClass", gfSmallInt, 2, 0);
    W.AddField("Hierarchy", gfSmallInt, 1, 0);
    for (const char* name :
         {"NoDriveThrough", "OnewayFT", "OnewayTF", "RoundAbout", "NonDrive", "UturnFrom", "UturnTo", "SearchLink"})
      W.AddField(name, gfSmallInt, 1, 0);
    AddLinkTailFields(W);
    TFloatPointArrayEx poly;
    std::string tail, text;
    for (int32_t link = 1; link <= FLinkCount; ++link) {
      if (FLength[size_t(link)] == 0 || (BA && !BA->GetBit(link))) continue;
      GetGISSection_raw(link, poly);
      const uint16_t a = Fattribute[size_t(link)];
      tail.clear();
      for (const int64_t v : {int64_t(FCDS.GetBit(link)), int64_t(a), int64_t(a & 0x1F), int64_t((a >> 5) & 7)}) {
        tail += ',';
        AppendInt(tail, v);
      }
      for (int32_t bit = 8; bit <= 15; ++bit) {
        tail += ',';
        AppendInt(tail, (a >> bit) & 1);
      }
      AppendLinkTail(tail, link);
      int32_t sub = 0;
      for (int32_t i = 0; i + 1 < poly.Count; ++i) {
        const TFloatPoint& p = poly.Pnt[size_t(i)];
        const TFloatPoint& q = poly.Pnt[size_t(i) + 1];
        if (p.x == q.x && p.y == q.y) continue;
        ++sub;
        text.clear();
        AppendInt(text, link);
        text += ',';
        AppendInt(text, sub);
        text += tail;
        W.AddObject(1, false, text);
        W.AddSection3(1, p, q);
      }
      ProgressExecute(link);
    }
  });
}

void TNetwork::ExportNodes(const std::string& filename, TGISFormat GF) {
  CheckOpen();
  SetProgressMaxValue(FNodeCount);
  SetProgressStart(0);
  SetProgressStop(100);
  WriteOutput(filename, GF, {false, true}, [&](TGISWriter& W) {
    W.StartHeader(2, otPoint);
    W.AddField("ID", gfInteger, 9, 0);
    W.AddField("Degree", gfSmallInt, 2, 0);
    std::string text;
    for (int32_t node = 1; node <= FNodeCount; ++node) {
      const int32_t d = Degree_raw(node);
      switch (d) {
        case 1: W.Symbol = MakeMISymbol(34, 0x0000FF, 10); break;
        case 2: W.Symbol = MakeMISymbol(34, 0x000000, 5); break;
        case 3: W.Symbol = MakeMISymbol(34, 0xFF0000, 7); break;
        case 4: W.Symbol = MakeMISymbol(34, 0xFF00FF, 7); break;
        default: W.Symbol = MakeMISymbol(34, 0xFFFF00, 7); break;
      }
      text.clear();
      AppendInt(text, node);
      text += ',';
      AppendInt(text, d);
      W.AddPoint(FX[size_t(node)], FY[size_t(node)], text);
      ProgressExecute(node);
    }
  });
}

void TNetwork::ExportLocationList(const std::string& filename, TGISFormat GF, const TLocationList& LL) {
  CheckOpen();
  SetProgressMaxValue(LL.Count());
  SetProgressStart(0);
  SetProgressStop(100);
  WriteOutput(filename, GF, {false, true}, [&](TGISWriter& W) {
    W.StartHeader(2, otPoint);
    W.AddField("Link", gfInteger, 9, 0);
    W.AddField("Percent", gfFloat, 0, 0);
    std::string text;
    for (int32_t i = 0; i < LL.Count(); ++i) {
      const TLocationListItem& it = LL.GetItem(i);
      text.clear();
      AppendInt(text, it.loc.link);
      text += ',';
      AppendFloat(text, it.loc.percent);
      W.AddPoint2(it.P, text);
      ProgressExecute(i);
    }
  });
}

void TNetwork::ExportNodeList(const std::string& filename, TGISFormat GF, const TIntegerList& NL) {
  CheckOpen();
  for (int32_t i = 0; i < NL.Count(); ++i) {
    const int32_t node = NL.GetItem(i);
    if (node < 1 || node > FNodeCount) throw EOutOfRange(Format(cMsgNodeListEntry, i, node, FNodeCount));
  }
  SetProgressMaxValue(NL.Count());
  SetProgressStart(0);
  SetProgressStop(100);
  WriteOutput(filename, GF, {false, true}, [&](TGISWriter& W) {
    W.StartHeader(1, otPoint);
    W.AddField("Node", gfInteger, 9, 0);
    std::string text;
    for (int32_t i = 0; i < NL.Count(); ++i) {
      const int32_t node = NL.GetItem(i);
      text.clear();
      AppendInt(text, node);
      W.AddPoint2(Node2Coordinate_raw(node), text);
      ProgressExecute(i);
    }
  });
}

void TNetwork::ExportPolyGeneration(const std::string& filename, TGISFormat GF, const TPolyGeneration& Poly) {
  CheckOpen();
  // Two layers cannot share one table or one GeoJSON text.
  if (GF == gfArray || GF == gfGeoJSON) throw Exception(cMsgPolyGenerationFormat);
  WriteOutput(filename + "_StartPoints", GF, {}, [&](TGISWriter& W) {
    W.StartHeader(1, otPoint);
    W.AddField("ID", gfInteger, 0, 0);
    std::string text;
    for (size_t i = 0; i < Poly.StartPoints.size(); ++i) {
      text.clear();
      AppendInt(text, int64_t(i));
      W.AddPoint2(Poly.StartPoints[i], text);
    }
  });
  WriteOutput(filename + "_CoordCostSite", GF, {}, [&](TGISWriter& W) {
    W.StartHeader(3, otPoint);
    W.AddField("ID", gfInteger, 0, 0);
    W.AddField("Cost", gfFloat, 0, 0);
    W.AddField("Site", gfInteger, 0, 0);
    std::string text;
    const TCoordCostSiteList& list = Poly.CoordCostSiteList;
    for (int32_t i = 0; i < list.Count(); ++i) {
      const TCoordCostSite& c = list.GetItem(i);
      text.clear();
      AppendInt(text, i);
      text += ',';
      AppendFloat(text, double(c.Cost));
      text += ',';
      AppendInt(text, c.Site);
      W.AddPoint2(c.P, text);
    }
  });
}

void TNetwork::ExportTrafficList(const std::string& filename, TGISFormat GF, const TTrafficList& TL, bool lines) {
  CheckOpen();
  WriteOutput(filename, GF, {}, [&](TGISWriter& W) {
    std::string text;
    if (lines) {
      W.StartHeader(2, otPline);
      W.AddField("ID", gfInteger, 9, 0);
      W.AddField("Volume", gfFloat, 0, 0);
      for (int32_t i = 0; i < TL.Count(); ++i) {
        const TTraffic& t = TL.GetItem(i);
        text.clear();
        AppendInt(text, i);
        text += ',';
        AppendFloat(text, double(t.Volume));
        W.AddLine2(t.P1, t.P2, text);
      }
      return;
    }
    W.StartHeader(3, otPoint);
    W.AddField("ID", gfInteger, 9, 0);
    W.AddField("OriginDest", gfChar, 1, 0);
    W.AddField("Volume", gfFloat, 0, 0);
    for (int32_t i = 0; i < TL.Count(); ++i) {
      const TTraffic& t = TL.GetItem(i);
      for (const char* od : {"O", "D"}) {
        text.clear();
        AppendInt(text, i);
        text += ",\"";
        text += od;
        text += "\",";
        AppendFloat(text, double(t.Volume));
        W.AddPoint2(od[0] == 'O' ? t.P1 : t.P2, text);
      }
    }
  });
}

}  // namespace kovra
