// Argument checks of the network. Range tests are written !(lo <= v && v <= hi)
// so that NaN fails them.
#include <cmath>
#include <numbers>

#include "network/kovra_externid.h"
#include "network/kovra_network.h"
#include "network/kovra_roadnamefile.h"
#include "network/kovra_turn.h"

namespace kovra {

// A bad value may be NaN or infinite, which Format refuses as a number.
std::string NumberText(double v, const char* Pattern) {
  if (std::isnan(v)) return "NAN";
  if (std::isinf(v)) return v > 0 ? "INF" : "-INF";
  return Format(Pattern, v);
}

namespace {
std::string G(double v) { return NumberText(v, "%g"); }
std::string N(double v) { return NumberText(v, "%n"); }

}  // namespace

void TNetwork::CheckOpen() const {
  if (!IsOpen()) throw ENetworkIsClosed(cMsgNetworkNotOpen);
}

void TNetwork::CheckLinkRange(int32_t link) const { CheckLinkId(link, FLinkCount); }

void TNetwork::CheckLink(int32_t link) const {
  CheckLinkId(link, FLinkCount);
  if (FLength[size_t(link)] == 0) throw Exception(Format(cMsgNonValidLink, link));
}

void TNetwork::CheckNode(int32_t node) const {
  if (node < 1) throw EOutOfRange(Format(cMsgNodeIdBelowOne, node));
  if (node > FNodeCount) throw EOutOfRange(Format(cMsgNodeIdAboveCount, FNodeCount, node));
}

void TNetwork::CheckNodeList(const TIntegerList& NL) const {
  if (NL.Count() == 0) throw Exception(cMsgNodeListEmpty);
  for (int32_t i = 0; i < NL.Count(); ++i) {
    const int32_t node = NL.GetItem(i);
    if (node < 1 || node > FNodeCount) throw EOutOfRange(Format(cMsgNodeListEntry, i, node, FNodeCount));
  }
}

void TNetwork::CheckPercent(double percent) const {
  if (!(0 <= percent && percent <= 1)) throw EWrongPercent(cMsgWrongPercent);
}

void TNetwork::CheckRoadNameFile(int32_t RoadFileID) const {
  if (RoadFileID < 1 || RoadFileID > cMaxRoadNameFiles)
    throw EOutOfRange(Format(cMsgRoadFileID, cMaxRoadNameFiles, RoadFileID));
  if (!FRoadNameFiles[size_t(RoadFileID)]) throw ERoadNameFileNotOpen(Format(cMsgRoadNameFileNotOpen, RoadFileID));
}

void TNetwork::CheckExternalOpen() const {
  if (!FexternalID || !FexternalID->IsOpen()) throw Exception(cMsgExternalIDNotOpen);
}

void TNetwork::CheckCoordinate(const TFloatPoint& P) const {
  const auto outside = [&](double bx, double by) { return !(-bx <= P.x && P.x <= bx && -by <= P.y && P.y <= by); };
  switch (FCoordinateUnit) {
    case cuRad:
      if (outside(std::numbers::pi, std::numbers::pi / 2)) throw ECoordinateCheck(Format(cMsgRadianCoordinates, G(P.x), G(P.y)));
      break;
    case cuDeg:
      if (outside(180, 90)) throw ECoordinateCheck(Format(cMsgDegreeCoordinates, G(P.x), G(P.y)));
      break;
    case cuGrad:
      if (outside(200, 100)) throw ECoordinateCheck(Format(cMsgGradCoordinates, G(P.x), G(P.y)));
      break;
    default:
      // Without a window a planar point is otherwise untested: NaN or an
      // infinity must not pass into distances.
      if (!std::isfinite(P.x) || !std::isfinite(P.y)) throw ECoordinateCheck(Format(cMsgPlanarCoordinates, G(P.x), G(P.y)));
      break;
  }
  if (FCoordinateWindow >= 0 &&
      !(FmbrX.xmin <= P.x && P.x <= FmbrX.xmax && FmbrX.ymin <= P.y && P.y <= FmbrX.ymax))
    throw ECoordinateCheck(Format(cMsgBeyondSearchArea, G(P.x), G(P.y)));
}

void TNetwork::CheckLocation(const TLocation& loc) const {
  CheckLinkId(loc.link, FLinkCount);
  if (!(0 <= loc.percent && loc.percent <= 1)) throw EOutOfRange(Format(cMsgLocationPercent, N(loc.percent)));
  if (FLength[size_t(loc.link)] == 0) throw Exception(Format(cMsgLocationNonValid, loc.link));
}

void TNetwork::CheckLocationList(const TLocationList& LL) const {
  if (LL.Count() == 0) throw Exception(cMsgLocationListEmpty);
  for (int32_t i = 0; i < LL.Count(); ++i) {
    const TLocation& loc = LL.GetItem(i).loc;
    if (loc.link < 1 || loc.link > FLinkCount)
      throw EOutOfRange(Format(cMsgLocationListLink, i, loc.link, FLinkCount));
    if (!(0 <= loc.percent && loc.percent <= 1))
      throw EOutOfRange(Format(cMsgLocationListPercent, i, N(loc.percent)));
    if (FLength[size_t(loc.link)] == 0) throw Exception(Format(cMsgLocationListNonValid, i, loc.link));
  }
}

void TNetwork::CheckLocationListP(const TLocationList& LL) const {
  if (LL.Count() == 0) throw Exception(cMsgLocationListEmpty);
  for (int32_t i = 0; i < LL.Count(); ++i) CheckCoordinate(LL.GetItem(i).P);
}

void TNetwork::CheckTurnIndex(int32_t index) const {
  CheckOpen();
  const int32_t n = int32_t(FTurnList.size());
  if (index < 0 || index >= n) throw EOutOfRange(Format(cMsgTurnIndex, n - 1));
}

}  // namespace kovra
