// TRouteCalc::SubNetEx and TRouteCalc::CulDeSacCurb: links on which a vehicle
// that keeps the network's rules gets stuck, found by routes between the
// link's own ends.
#include <algorithm>
#include <cstdlib>

#include "routing/kovra_calc.h"
#include "routing/kovra_calc_matrix.h"

namespace kovra {

namespace {

// The frame of both checks: every link still at 2 when its turn comes is
// examined in id order and reported; the result is the number of links not
// at 0. IA is left empty when anything raises.
template <class F>
int32_t CheckLinks(TProgressCancel& P, TIntegerArray& IA, F examine) {
  try {
    const int32_t n = int32_t(IA.size()) - 1;
    P.SetProgressMaxValue(n);
    P.SetProgressStart(0);
    P.SetProgressStop(100);
    for (int32_t l = 1; l <= n; ++l) {
      if (IA[size_t(l)] != 2) continue;
      examine(l);
      P.ProgressExecute(l);
    }
    const int32_t result = int32_t(std::count_if(IA.begin() + 1, IA.end(), [](int32_t v) { return v != 0; }));
    P.ProgressExecuteZero();
    return result;
  } catch (...) {
    IA.clear();
    throw;
  }
}

}  // namespace

int32_t TRouteCalc::SubNetEx(TIntegerArray& IA) {
  IA.clear();
  CheckNetwork(true);
  // The limits are off for the run and back on every exit: left at 0 they
  // would silently admit every vehicle in later routes.
  TLimitRestore limits(*this);
  const int32_t n = FNW.LinkCount();
  const float* length = FNW.Lengths().data();
  const int32_t* from = FNW.Fromnodes().data();
  const int32_t* to = FNW.Tonodes().data();
  IA.assign(size_t(n) + 1, 0);
  for (int32_t l = 1; l <= n; ++l) IA[size_t(l)] = length[l] != 0 ? 2 : 0;
  return CheckLinks(*this, IA, [&](int32_t l) {
    const int32_t code = FNW.OneWayCode(l);
    if (code == 0 || code == 3) {
      IA[size_t(l)] = 0;
    } else if (FNW.GetCulDeSac(l)) {
      // A one-way link in a dead-end tree is a trap without a search.
      IA[size_t(l)] = 1;
    } else {
      // From where driving l ends back to where it starts.
      const int32_t s = code == 1 ? to[l] : from[l];
      const int32_t e = code == 1 ? from[l] : to[l];
      if (Route(s, e) >= 0) {
        IA[size_t(l)] = 0;
        // A vehicle on any link of this route reaches e, and from there l's
        // start.
        const TRoute route = ExtractRoute(e);
        for (const int32_t k : route.links) IA[size_t(std::abs(k))] = 0;
      } else {
        IA[size_t(l)] = 1;
      }
    }
  });
}

int32_t TRouteCalc::CulDeSacCurb(TIntegerArray& IA) {
  IA.clear();
  CheckNetwork(true);
  const int32_t n = FNW.LinkCount();
  const float* length = FNW.Lengths().data();
  IA.assign(size_t(n) + 1, 0);
  for (int32_t l = 1; l <= n; ++l) IA[size_t(l)] = length[l] == 0 || FNW.GetCulDeSac(l) ? 0 : 2;
  TRoute route;
  return CheckLinks(*this, IA, [&](int32_t l) {
    const int32_t code = FNW.OneWayCode(l);
    if (code == 3) {
      IA[size_t(l)] = 0;
      return;
    }
    // The start lies beyond the end in the direction of travel: the route
    // must leave l at its far node and come back to its near node by other
    // links.
    const bool reverse = code == 2;
    const TLocation start{l, reverse ? 0.1 : 0.9}, end{l, reverse ? 0.9 : 0.1};
    const TApproach side = reverse ? apReverse : apForward;
    if (RouteDynSearch(start, end, side, side, &route) > 0) {
      IA[size_t(l)] = 0;
      for (size_t k = 1; k + 1 < route.links.size(); ++k) IA[size_t(std::abs(route.links[k]))] = 0;
    } else {
      IA[size_t(l)] = 1;
    }
  });
}

}  // namespace kovra
