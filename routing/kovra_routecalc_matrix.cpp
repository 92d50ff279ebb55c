// TRouteCalc's route matrices: one point-to-point route per cell.
#include <functional>

#include "routing/kovra_calc.h"
#include "routing/kovra_calc_matrix.h"

namespace kovra {

namespace {

// The loops of the four forms. One list (n places, cells by position, the
// diagonal skipped) or two; Cell(i, j) computes one cell.
TMatrix OneListMatrix(TProgress& p, int32_t n, bool extra, bool symmetric,
                      const std::function<float(int32_t, int32_t)>& Cell) {
  const size_t size = size_t(n) + (extra ? 1 : 0);
  TMatrix M(size, TCostArray(size, 0.0f));
  for (int32_t i = 0; i < n; ++i) {
    if (symmetric && i == n - 1) break;  // the last row holds only copies
    p.ProgressExecute(i);
    for (int32_t j = symmetric ? i + 1 : 0; j < n; ++j) {
      if (j == i) continue;
      const float c = Cell(i, j);
      M[size_t(i)][size_t(j)] = c;
      if (symmetric) M[size_t(j)][size_t(i)] = c;
    }
  }
  return M;
}

TMatrix TwoListMatrix(TProgress& p, int32_t n1, int32_t n2, const std::function<float(int32_t, int32_t)>& Cell) {
  TMatrix M(size_t(n1), TCostArray(size_t(n2), 0.0f));
  for (int32_t i = 0; i < n1; ++i) {
    p.ProgressExecute(i);
    for (int32_t j = 0; j < n2; ++j) M[size_t(i)][size_t(j)] = Cell(i, j);
  }
  return M;
}

}  // namespace

float TRouteCalc::CellRoute(int32_t node1, int32_t node2) {
  const float c = Route(node1, node2);
  if (c != -1 || !fS.FHierarchy) return c;
  calcmatrix::TRestore<bool> hierarchy(fS.FHierarchy);
  fS.FHierarchy = false;
  return Route(node1, node2);
}

float TRouteCalc::CellRouteDyn(const TLocation& loc1, const TLocation& loc2, TRoute* route) {
  auto once = [&] { return route ? RouteDynEx(loc1, loc2, *route) : RouteDyn(loc1, loc2); };
  const float c = once();
  if (c != -1 || !fS.FHierarchy) return c;
  calcmatrix::TRestore<bool> hierarchy(fS.FHierarchy);
  fS.FHierarchy = false;
  return once();
}

TMatrix TRouteCalc::RMatrix(const TIntegerList& NL, bool extra, bool symmetric) {
  FNW.CheckOpen();
  FNW.CheckNodeList(NL);
  SetProgressMaxValue(NL.Count());
  SetProgressStart(0);
  SetProgressStop(100);
  calcmatrix::TIncludeWindow window(*this, IncludeNodesFromNodes(NL, nullptr));
  TMatrix M = OneListMatrix(*this, NL.Count(), extra, symmetric,
                            [&](int32_t i, int32_t j) { return CellRoute(NL.GetItem(i), NL.GetItem(j)); });
  ProgressExecuteZero();
  return M;
}

TMatrix TRouteCalc::RMatrix2(const TIntegerList& NL1, const TIntegerList& NL2) {
  FNW.CheckOpen();
  FNW.CheckNodeList(NL1);
  FNW.CheckNodeList(NL2);
  SetProgressMaxValue(NL1.Count());
  SetProgressStart(0);
  SetProgressStop(100);
  calcmatrix::TIncludeWindow window(*this, IncludeNodesFromNodes(NL1, &NL2));
  TMatrix M = TwoListMatrix(*this, NL1.Count(), NL2.Count(),
                            [&](int32_t i, int32_t j) { return CellRoute(NL1.GetItem(i), NL2.GetItem(j)); });
  ProgressExecuteZero();
  return M;
}

TMatrix TRouteCalc::RMatrixDyn(const TLocationList& LL, bool extra, bool symmetric) {
  FNW.CheckOpen();
  FNW.CheckLocationList(LL);
  SetProgressMaxValue(LL.Count());
  SetProgressStart(0);
  SetProgressStop(100);
  calcmatrix::TIncludeWindow window(*this, IncludeNodesFromLocations(LL, nullptr));
  TMatrix M = OneListMatrix(*this, LL.Count(), extra, symmetric, [&](int32_t i, int32_t j) {
    return CellRouteDyn(LL.GetItem(i).loc, LL.GetItem(j).loc, nullptr);
  });
  ProgressExecuteZero();
  return M;
}

TMatrix TRouteCalc::RMatrixDyn2(const TLocationList& LL1, const TLocationList& LL2) {
  FNW.CheckOpen();
  FNW.CheckLocationList(LL1);
  FNW.CheckLocationList(LL2);
  SetProgressMaxValue(LL1.Count());
  SetProgressStart(0);
  SetProgressStop(100);
  calcmatrix::TIncludeWindow window(*this, IncludeNodesFromLocations(LL1, &LL2));
  TMatrix M = TwoListMatrix(*this, LL1.Count(), LL2.Count(), [&](int32_t i, int32_t j) {
    return CellRouteDyn(LL1.GetItem(i).loc, LL2.GetItem(j).loc, nullptr);
  });
  ProgressExecuteZero();
  return M;
}

}  // namespace kovra
