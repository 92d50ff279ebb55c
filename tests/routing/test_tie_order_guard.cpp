// The tie-order guard. The oracle suites check costs; they cannot see which of
// several equal-cost routes, predecessors or first targets the heap order
// picks. This test runs a fixed query set on a fixed generated network and
// hashes every label (cost bits, predecessor, settling link) and every
// route, one digest per family of searches. A layout or speed change to the
// searches must leave every digest as it is; a digest may change only with
// the mended fault that changes it named in the commit.
//
// The network is planar, so no transcendental function reaches the costs or
// the A* estimates (only sqrt, which is correctly rounded everywhere).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "foundation/kovra_integerlist.h"
#include "network/kovra_locationlist.h"
#include "network/kovra_network.h"
#include "routing/kovra_calc.h"
#include "routing/support/netgen.h"
#include "routing/support/search_case.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

// FNV-1a over the 4- and 8-byte values fed to it.
class TDigest {
public:
  void Add(uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) {
      fH ^= (v >> (8 * i)) & 0xff;
      fH *= 0x100000001b3ull;
    }
  }
  void Int(int64_t v) { Add(uint64_t(v), 8); }
  void Float(float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    Add(u, 4);
  }
  void Double(double d) {
    uint64_t u;
    std::memcpy(&u, &d, 8);
    Add(u, 8);
  }
  uint64_t Value() const { return fH; }

private:
  uint64_t fH = 0xcbf29ce484222325ull;
};

class TGuardNet {
public:
  TGuardNet() : G(Options()), NW(G.NW) {
    uint64_t r = 2024;
    auto next = [&r](int32_t n) {
      r = r * 6364136223846793005ull + 1442695040888963407ull;
      return int32_t((r >> 33) % uint64_t(n)) + 1;
    };
    for (int32_t i = 0; i < 6; ++i) Sources.push_back(next(NW.NodeCount()));
    for (int32_t i = 0; i < 12; ++i) Targets.Add(next(NW.NodeCount()));
    for (int32_t i = 0; i < 16; ++i) Pairs.emplace_back(next(NW.NodeCount()), next(NW.NodeCount()));
    // Locations at both ends and inside links.
    const double ps[] = {0.0, 1.0, 0.5, 0.25};
    for (int32_t i = 0; i < 4; ++i) Origins.push_back({next(NW.LinkCount()), ps[i]});
    for (int32_t i = 0; i < 10; ++i) TargetLocs.Add2(next(NW.LinkCount()), double(next(999)) / 1000.0);
  }
  static TNetGenOptions Options() {
    TNetGenOptions o;
    o.Seed = 48;
    o.Nodes = 5000;
    o.Restrictions2 = 250;
    o.Restrictions3 = 60;
    return o;
  }

  TGeneratedNetwork G;
  TNetwork& NW;
  std::vector<int32_t> Sources;
  TIntegerList Targets;
  std::vector<std::pair<int32_t, int32_t>> Pairs;
  std::vector<TLocation> Origins;
  TLocationList TargetLocs;
};

// Every label of the mode: node mode cost, predecessor and settling link per
// node; turn mode cost and predecessor per link state.
void HashLabels(TDigest& h, const TCalc& c) {
  const TNetwork& nw = c.Network();
  if (!c.Turnmode()) {
    for (int32_t v = 1; v <= nw.NodeCount(); ++v) {
      h.Float(c.cost0(v));
      h.Int(c.P0array(v));
      h.Int(c.SettlingLink(v));
    }
  } else {
    for (int32_t L = 1; L <= nw.LinkCount(); ++L) {
      h.Float(c.cost1(L));
      h.Int(c.P1array(L));
      h.Float(c.cost2(L));
      h.Int(c.P2array(L));
    }
  }
}

void HashRoute(TDigest& h, const TRoute& r) {
  h.Int(int64_t(r.links.size()));
  for (const int32_t L : r.links) h.Int(L);
  h.Double(r.percent1);
  h.Double(r.percent2);
}

// Every family runs in node mode and in turn mode, by distance and by time
// (turn mode with the turn costs of the restrictions).
void ForEachSetting(TGuardNet& n, const std::function<void(TRouteCalc&)>& run) {
  for (const bool turn : {false, true})
    for (const TRouteCriteria rc : {rcDist, rcTime}) {
      TRouteCalc c(n.NW, turn);
      TSearchCase t;
      t.rc = rc;
      ApplySearchCase(c, t, turn, nullptr);
      run(c);
    }
}

// Trees from a node: whole, bounded, to a target list, to N targets, to the
// nearest target; the route to every target of the whole tree.
uint64_t TreesFromNodes(TGuardNet& n) {
  TDigest h;
  ForEachSetting(n, [&](TRouteCalc& c) {
    for (const int32_t s : n.Sources) {
      c.SetMaxCost(0);
      c.IsoCost(s);
      HashLabels(h, c);
      for (int32_t i = 0; i < n.Targets.Count(); ++i) HashRoute(h, c.RouteFind(n.Targets.GetItem(i)));
      c.SetMaxCost(c.NodeCost(n.Targets.GetItem(0)) < 1e37f ? c.NodeCost(n.Targets.GetItem(0)) : 3000.0f);
      c.IsoCost(s);
      HashLabels(h, c);
      c.SetMaxCost(0);
      c.IsoCostList(s, n.Targets);
      HashLabels(h, c);
      TIntegerList IL;
      c.IsoCostListN(s, n.Targets, IL, 4);
      HashLabels(h, c);
      for (int32_t i = 0; i < IL.Count(); ++i) h.Int(IL.GetItem(i));
      h.Int(c.Nearest(s, n.Targets));
      HashLabels(h, c);
    }
  });
  return h.Value();
}

// Point-to-point routes with Alpha 0 and 1, SmartInit off and on: the cost,
// the labels the search left and the route.
uint64_t Routes(TGuardNet& n) {
  TDigest h;
  ForEachSetting(n, [&](TRouteCalc& c) {
    for (const int32_t k : {0, 1, 2, 3}) {
      c.SetAlpha(float(k & 1));
      c.SetSmartInit(k >= 2);
      for (const auto& [a, b] : n.Pairs) {
        const float cost = c.Route(a, b);
        h.Float(cost);
        HashLabels(h, c);
        if (cost > 0) HashRoute(h, c.RouteFind(b));
      }
    }
  });
  return h.Value();
}

// Trees from locations: whole and to a location list, with the cost and
// route to every target location.
uint64_t TreesFromLocations(TGuardNet& n) {
  TDigest h;
  ForEachSetting(n, [&](TRouteCalc& c) {
    for (const TLocation& s : n.Origins) {
      c.IsoCostDyn(s);
      HashLabels(h, c);
      for (int32_t i = 0; i < n.TargetLocs.Count(); ++i) {
        TRoute r;
        h.Float(c.RouteFindDyn(n.TargetLocs.GetItem(i).loc, r));
        HashRoute(h, r);
      }
      c.IsoCostListDyn(s, n.TargetLocs);
      HashLabels(h, c);
    }
  });
  return h.Value();
}

// Routes between locations with Alpha 0 and 1, DuplicateLinks off and on:
// the cost, the labels and the route.
uint64_t RoutesBetweenLocations(TGuardNet& n) {
  TDigest h;
  ForEachSetting(n, [&](TRouteCalc& c) {
    for (const int32_t k : {0, 1, 2, 3}) {
      c.SetAlpha(float(k & 1));
      c.SetDuplicateLinks(k >= 2);
      for (const TLocation& a : n.Origins)
        for (int32_t i = 0; i < n.TargetLocs.Count(); i += 3) {
          TRoute r;
          h.Float(c.RouteDynEx(a, n.TargetLocs.GetItem(i).loc, r));
          HashLabels(h, c);
          HashRoute(h, r);
        }
    }
  });
  return h.Value();
}

// Route matrices between nodes and between locations, Alpha 0 and 1: every
// cell and the labels of the last search.
uint64_t RouteMatrices(TGuardNet& n) {
  TDigest h;
  TIntegerList NL;
  for (int32_t i = 0; i < 6; ++i) NL.Add(n.Targets.GetItem(i));
  TLocationList LL;
  for (int32_t i = 0; i < 6; ++i) LL.Add1(n.TargetLocs.GetItem(i).loc);
  auto hashMatrix = [&h](const TMatrix& m) {
    for (const auto& row : m) {
      h.Int(int64_t(row.size()));
      for (const float v : row) h.Float(v);
    }
  };
  ForEachSetting(n, [&](TRouteCalc& c) {
    for (const float alpha : {0.0f, 1.0f}) {
      c.SetAlpha(alpha);
      hashMatrix(c.RMatrix(NL, false, false));
      HashLabels(h, c);
      hashMatrix(c.RMatrixDyn(LL, false, false));
      HashLabels(h, c);
    }
  });
  return h.Value();
}

// Routes between locations by the side each end is left or reached from,
// beside RouteDynEx, with DuplicateLinks off and on (only RouteDynEx tries
// the duplicates). Half the ends lie on links that have a duplicate (both
// one-way), inside and at both ends, so that the duplicates and the closed
// sides have something to decide; the target locations are those the
// family above leaves out. The cost, the labels and the route with its
// nodes.
struct TSideCase {
  bool sides;  // RouteDynApproachEx, else RouteDynEx
  TApproach leave, arrive;
  bool duplicates;
};
const TSideCase cSideCases[] = {
    {false, apIgnore, apIgnore, false},  {false, apIgnore, apIgnore, true},  {true, apIgnore, apIgnore, true},
    {true, apForward, apForward, false}, {true, apForward, apReverse, true}, {true, apReverse, apForward, false},
    {true, apReverse, apReverse, true},  {true, apIgnore, apReverse, false}, {true, apForward, apIgnore, true},
};

uint64_t RoutesBetweenLocationsBySide(TGuardNet& n) {
  std::vector<int32_t> dupLinks;
  for (int32_t L = 1; L <= n.NW.LinkCount(); ++L)
    if (n.NW.GetDuplicateLink(L) != 0) dupLinks.push_back(L);
  EXPECT_GE(dupLinks.size(), 4u) << "the generated network has too few duplicate links";
  if (dupLinks.size() < 4) return 0;
  const double ps[] = {0.3, 0.7, 0.0, 1.0};
  std::vector<TLocation> d;
  for (size_t i = 0; i < 4; ++i) d.push_back({dupLinks[i * dupLinks.size() / 4], ps[i]});
  const auto t = [&n](int32_t i) { return n.TargetLocs.GetItem(i).loc; };
  const std::pair<TLocation, TLocation> pairs[] = {
      {d[0], d[1]}, {d[2], d[3]}, {d[1], t(1)}, {n.Origins[0], d[0]},
      {n.Origins[1], d[2]}, {n.Origins[2], t(4)}, {n.Origins[3], t(7)}, {t(7), d[3]},
  };
  TDigest h;
  h.Int(int64_t(dupLinks.size()));
  ForEachSetting(n, [&](TRouteCalc& c) {
    for (const float alpha : {0.0f, 1.0f}) {
      c.SetAlpha(alpha);
      for (const TSideCase& k : cSideCases) {
        c.SetDuplicateLinks(k.duplicates);
        for (const auto& [a, b] : pairs) {
          TRoute r;
          h.Float(k.sides ? c.RouteDynApproachEx(a, b, k.leave, k.arrive, r) : c.RouteDynEx(a, b, r));
          HashLabels(h, c);
          HashRoute(h, r);
          h.Int(int64_t(r.nodes.size()));
          for (const int32_t v : r.nodes) h.Int(v);
        }
      }
    }
  });
  return h.Value();
}

struct TFamily {
  const char* name;
  uint64_t (*run)(TGuardNet&);
  uint64_t digest;
};
void PrintTo(const TFamily& f, std::ostream* os) { *os << f.name; }

// One digest per family, so that a family added later leaves the others as
// they are. New families go at the end of this table with their own digest.
const TFamily cFamilies[] = {
    {"TreesFromNodes", TreesFromNodes, 0x0ff34338630b7f96ull},
    {"Routes", Routes, 0x29492d49f6a9b1a1ull},
    {"TreesFromLocations", TreesFromLocations, 0x8cfc7e9d1626b6abull},
    {"RoutesBetweenLocations", RoutesBetweenLocations, 0xe0d53ae2ba0ceb39ull},
    {"RouteMatrices", RouteMatrices, 0x7b8c8cc6140d2a06ull},
    {"RoutesBetweenLocationsBySide", RoutesBetweenLocationsBySide, 0x50b620dfb49ffd18ull},
};

class TieOrderGuard : public testing::TestWithParam<TFamily> {
protected:
  static void SetUpTestSuite() { fNet = std::make_unique<TGuardNet>(); }
  static void TearDownTestSuite() { fNet.reset(); }
  static std::unique_ptr<TGuardNet> fNet;
};
std::unique_ptr<TGuardNet> TieOrderGuard::fNet;

TEST_P(TieOrderGuard, DigestUnchanged) {
  const TFamily& f = GetParam();
  const uint64_t got = f.run(*fNet);
  char hex[32];
  std::snprintf(hex, sizeof hex, "0x%016llxull", static_cast<unsigned long long>(got));
  EXPECT_EQ(got, f.digest) << f.name << " now gives " << hex
                           << ": the searches settle ties, predecessors or targets in another order";
}

INSTANTIATE_TEST_SUITE_P(Families, TieOrderGuard, testing::ValuesIn(cFamilies),
                         [](const testing::TestParamInfo<TFamily>& i) { return std::string(i.param.name); });

}  // namespace
