// Crow-fly matrices, splitting links into pieces, random nodes and points,
// and two lookups: external id to link and one value of a cost column.
#include <cmath>

#include "network/kovra_externid.h"
#include "network/kovra_network.h"

namespace kovra {

namespace {

TMatrix SquareMatrix(int32_t n) { return TMatrix(size_t(n), TCostArray(size_t(n), 0.0f)); }

}  // namespace

TMatrix TNetwork::MatrixDyn(const TLocationList& LL, bool extra) const {
  CheckOpen();
  const int32_t n = LL.Count();
  TMatrix M = SquareMatrix(n + (extra ? 1 : 0));
  for (int32_t i = 0; i < n; ++i)
    for (int32_t j = i + 1; j < n; ++j) {
      const float d = float(DistanceBetweenPoints(LL.GetItem(i).P, LL.GetItem(j).P));
      M[size_t(i)][size_t(j)] = d;
      M[size_t(j)][size_t(i)] = d;
    }
  return M;
}

TMatrix TNetwork::MatrixDyn2(const TLocationList& LL1, const TLocationList& LL2) const {
  CheckOpen();
  TMatrix M(size_t(LL1.Count()), TCostArray(size_t(LL2.Count()), 0.0f));
  for (int32_t i = 0; i < LL1.Count(); ++i)
    for (int32_t j = 0; j < LL2.Count(); ++j)
      M[size_t(i)][size_t(j)] = float(DistanceBetweenPoints(LL1.GetItem(i).P, LL2.GetItem(j).P));
  return M;
}

TMatrix TNetwork::Matrix(const TIntegerList& NL, bool extra) const {
  CheckOpen();
  const int32_t n = NL.Count();
  TMatrix M = SquareMatrix(n + (extra ? 1 : 0));
  for (int32_t i = 0; i < n; ++i)
    for (int32_t j = i + 1; j < n; ++j) {
      const float d = float(DistanceBetweenNodes(NL.GetItem(i), NL.GetItem(j)));
      M[size_t(i)][size_t(j)] = d;
      M[size_t(j)][size_t(i)] = d;
    }
  return M;
}

void TNetwork::Split(float distance, bool evenout, TLocationList& LL) const {
  CheckOpen();
  if (!(distance > 0) || !std::isfinite(distance))
    throw EOutOfRange(Format(cMsgSplitDistance, NumberText(distance, "%n")));
  // The number of points is counted first: a tiny distance would otherwise
  // overflow the piece count or the list.
  double total = 0;
  for (int32_t l = 1; l <= FLinkCount; ++l) {
    const double length = FLength[size_t(l)];
    if (length > distance) total += std::trunc(length / distance + 1) - 1;
  }
  if (total > 2147483647.0) throw EOutOfRange(Format(cMsgSplitCount, NumberText(distance, "%n")));
  LL.Clear();
  for (int32_t l = 1; l <= FLinkCount; ++l) {
    const double length = FLength[size_t(l)];
    if (!(length > distance)) continue;
    const int32_t n = int32_t(std::trunc(length / distance + 1));
    const double step = evenout ? length / n : double(distance);
    for (int32_t i = 1; i < n; ++i) {
      // An exact multiple would put a point on the to-node and leave a piece
      // of length 0.
      if (i * step >= length) break;
      const TLocation loc{l, i * step / length};
      LL.Add4(loc, Location2Coordinate_raw(loc, 0));
    }
  }
}

int32_t TNetwork::RandomNode(TRandom& r) const {
  CheckOpen();
  if (FNodeCount < 1) throw Exception(cMsgNoValidLinks);
  return r.NextInt(FNodeCount) + 1;
}

TFloatPoint TNetwork::RandomPoint(TRandom& r) const {
  CheckOpen();
  const double a = r.NextDouble();  // drawn before the location's draws
  const TLocation loc = RandomLocation(r);
  return Location2Coordinate_raw(loc, a * 0.01);
}

int32_t TNetwork::ExternalID2Link(const std::string& id) const {
  CheckOpen();
  CheckExternalOpen();
  int32_t link = 0;
  if (!FexternalID->FindIndex(ToUtf16(id), link)) return 0;
  return link;
}

float TNetwork::GetCost(int32_t index, int32_t link) const {
  CheckOpen();
  CheckLink(link);
  if (index < 0 || size_t(index) >= FCost.size())
    throw EOutOfRange(Format(cMsgCostIndex, int32_t(FCost.size()) - 1, index));
  return FCost[size_t(index)][size_t(link)];
}

}  // namespace kovra
