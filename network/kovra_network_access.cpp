// Accessors of nodes, links, lengths and road names; crow-fly distances.
#include <cmath>
#include <cstdlib>

#include "foundation/kovra_charset.h"
#include "foundation/kovra_geometry.h"
#include "network/kovra_externid.h"
#include "network/kovra_network.h"
#include "network/kovra_quadtree.h"
#include "network/kovra_roadnamefile.h"
#include "platform/kovra_codepage.h"

namespace kovra {

int32_t TNetwork::Degree(int32_t node) const {
  CheckOpen();
  CheckNode(node);
  return Degree_raw(node);
}

int32_t TNetwork::Node2Link(int32_t node, int32_t linkindex) const {
  CheckOpen();
  CheckNode(node);
  const auto slots = Adjacent(node);
  if (linkindex < 1 || linkindex > int32_t(slots.size()))
    throw EOutOfRange(Format(cMsgLinkIndex, int32_t(slots.size()), linkindex));
  return std::abs(slots[size_t(linkindex) - 1]);
}

bool TNetwork::NodesConnected(int32_t node1, int32_t node2) const {
  const int64_t sum = int64_t(node1) + node2;
  for (const int32_t e : Adjacent(node1)) {
    const int32_t l = std::abs(e);
    if (int64_t(Fromnode[size_t(l)]) + tonode[size_t(l)] == sum) return true;
  }
  return false;
}

TFloatPoint TNetwork::Node2Coordinate(int32_t node) const {
  CheckOpen();
  CheckNode(node);
  return Node2Coordinate_raw(node);
}

int32_t TNetwork::Link2FromNode(int32_t link) const {
  CheckOpen();
  CheckLink(link);
  return Fromnode[size_t(link)];
}

int32_t TNetwork::Link2ToNode(int32_t link) const {
  CheckOpen();
  CheckLink(link);
  return tonode[size_t(link)];
}

float TNetwork::LinkLength(int32_t link) const {
  CheckOpen();
  CheckLinkRange(link);
  return FLength[size_t(link)];
}

float TNetwork::Length() const {
  CheckOpen();
  // A Single sum drifts by whole percents over millions of links.
  double sum = 0;
  for (int32_t l = 1; l <= FLinkCount; ++l) sum += FLength[size_t(l)];
  return float(sum);
}

bool TNetwork::LoopLink(int32_t link) const {
  CheckOpen();
  CheckLinkRange(link);
  return FLength[size_t(link)] != 0 && Fromnode[size_t(link)] == tonode[size_t(link)];
}

bool TNetwork::LoopLinks() const {
  CheckOpen();
  return fLoopLinks;
}

std::string TNetwork::Link2ExternalID(int32_t link) const {
  CheckOpen();
  CheckExternalOpen();
  CheckLink(link);
  return FromUtf16(FexternalID->FindExternalid(link));
}

float TNetwork::RouteLength(const TRoute& Route) const {
  CheckOpen();
  for (const int32_t id : Route.links) CheckLinkRange(std::abs(id));
  const size_t L = Route.links.size(), N = Route.nodes.size();
  const auto len = [&](size_t i) { return FLength[size_t(std::abs(Route.links[i]))]; };
  if (L == 0) return 0;
  float sum = 0;
  if (L + 1 == N) {
    for (size_t i = 0; i < L; ++i) sum += len(i);
    return sum;
  }
  if (L == 1) return float(std::abs(Route.percent1 - Route.percent2) * len(0));
  sum = float(Route.links[0] <= 0 ? Route.percent1 * len(0) : (1 - Route.percent1) * len(0));
  for (size_t i = 1; i + 1 < L; ++i) sum += len(i);
  sum += float(Route.links[L - 1] <= 0 ? (1 - Route.percent2) * len(L - 1) : Route.percent2 * len(L - 1));
  return sum;
}

void TNetwork::SwapList(TFloatPointArrayEx& list) {
  for (int32_t i = 0, j = list.Count - 1; i < j; ++i, --j) std::swap(list.Pnt[size_t(i)], list.Pnt[size_t(j)]);
}

TLocation TNetwork::RandomLocation(TRandom& r) const {
  CheckOpen();
  // Drawing until a valid link turns up never ends without one.
  bool any = false;
  for (int32_t l = 1; l <= FLinkCount && !any; ++l) any = FLength[size_t(l)] != 0;
  if (!any) throw Exception(cMsgNoValidLinks);
  TLocation loc;
  do loc.link = r.NextInt(FLinkCount) + 1;
  while (FLength[size_t(loc.link)] == 0);
  loc.percent = r.NextDouble();
  return loc;
}

double TNetwork::DistanceBetweenPoints_raw(const TFloatPoint& P1, const TFloatPoint& P2) const {
  switch (FCoordinateUnit) {
    case cuRad: return GreatCircleAngleRad(P1, P2) * FDistfactor;
    case cuDeg: return GreatCircleAngleDeg(P1, P2) * FDistfactor;
    case cuGrad: return GreatCircleAngleGrad(P1, P2) * FDistfactor;
    default: return std::hypot(P2.x - P1.x, P2.y - P1.y) * FDistfactor;
  }
}

const TQuadTreeCell& TNetwork::FindQuadTreeCell(const TFloatPoint& P) const {
  if (!FQuadtree) throw Exception(cMsgSpatialIndexNotOpen);
  return kovra::FindQuadTreeCell(*FQuadtree, P);
}

// ---------------------------------------------------------------------------
// Road names

const TRoadNameFile& TNetwork::RoadNameFileChecked(int32_t RoadFileID) const {
  CheckRoadNameFile(RoadFileID);
  return *FRoadNameFiles[size_t(RoadFileID)];
}

std::string TNetwork::Link2RoadName(int32_t RoadFileID, int32_t link) const {
  const TRoadNameFile& f = RoadNameFileChecked(RoadFileID);
  CheckLink(link);
  return f.RoadName1(link);
}

int32_t TNetwork::Link2RoadNameID(int32_t RoadFileID, int32_t link) const {
  const TRoadNameFile& f = RoadNameFileChecked(RoadFileID);
  CheckLink(link);
  return f.RoadNameID1(link);
}

std::string TNetwork::RoadNameID2RoadName(int32_t RoadFileID, int32_t RoadNameID) const {
  CheckOpen();
  const TRoadNameFile& f = RoadNameFileChecked(RoadFileID);
  if (RoadNameID < 1 || RoadNameID > f.MaxRoadNameID())
    throw EOutOfRange(Format(cMsgRoadNameID, f.MaxRoadNameID(), RoadNameID));
  return f.RoadName2(RoadNameID);
}

int32_t TNetwork::RoadName2RoadNameID(int32_t RoadFileID, const std::string& roadname, bool ignorecase) const {
  CheckOpen();
  return RoadNameFileChecked(RoadFileID).RoadNameID2(roadname, ignorecase);
}

int32_t TNetwork::RoadNameMaxWidth(int32_t RoadFileID, uint16_t aCodepage) const {
  CheckOpen();
  const TRoadNameFile& f = RoadNameFileChecked(RoadFileID);
  return aCodepage == 65001 ? f.MaxRoadNameLengthUTF8() : f.MaxRoadNameLength() / 2;
}

uint16_t TNetwork::ValidCodePage(bool TAB) const {
  CheckOpen();
  std::vector<std::string> names;
  bool anyOpen = false;
  for (int32_t id = 1; id <= cMaxRoadNameFiles; ++id) {
    const TRoadNameFile* f = FRoadNameFiles[size_t(id)].get();
    if (!f) continue;
    anyOpen = true;
    for (int32_t n = 1; n <= f->MaxRoadNameID(); ++n) {
      std::string name = f->RoadName2(n);
      if (!name.empty()) names.push_back(std::move(name));
    }
  }
  if (!anyOpen) throw Exception(cMsgNoRoadFiles);
  const uint16_t ansi = GetSystemAnsiCodePage();
  std::vector<uint16_t> candidates{ansi};
  if (TAB) {
    for (int32_t i = 0; i < CharSetList().Count(); ++i)
      if (CharSetList().GetItem(i).codepage != ansi) candidates.push_back(CharSetList().GetItem(i).codepage);
  } else {
    for (int32_t i = 0; i < CodePageDBFList().Count(); ++i)
      if (CodePageDBFList().GetItem(i) != ansi) candidates.push_back(CodePageDBFList().GetItem(i));
  }
  for (const uint16_t cp : candidates) {
    // A page this platform cannot convert can hold nothing.
    if (!IsCodePageSupported(cp)) continue;
    bool fits = true;
    for (size_t i = 0; i < names.size() && fits; ++i) fits = TextFitsCodePage(names[i], cp);
    if (fits) return cp;
  }
  return 0;
}

}  // namespace kovra
