// TRouteCalc::Bridges and TRouteCalc::RoadNameTest: two network checks built
// on the node-to-node route, and the road-name scan behind the second.
#include <algorithm>
#include <cstdlib>
#include <span>
#include <vector>

#include "foundation/kovra_functions.h"
#include "foundation/kovra_random.h"
#include "network/kovra_roadnamefile.h"
#include "routing/kovra_calc.h"

namespace kovra {

namespace {

// Widest text column the writers take.
inline constexpr int32_t cMaxCharWidth = 254;
// Work entries before the first route longer than that.
inline constexpr size_t cInitialWork = 500;

}  // namespace

void ScanRoadNameRuns(std::span<Ty> route) {
  const int32_t size = int32_t(route.size());
  for (Ty& t : route) {
    t.mark = 0;
    t.str2 = 0;
  }
  if (size <= 2) return;
  // 0-based here: p runs over the last position of a run of one name.
  int32_t p = 0;
  while (p < size - 1) {
    while (p + 2 < size && route[size_t(p + 1)].str == route[size_t(p)].str) ++p;
    if (p + 2 < size) {
      const int32_t name = route[size_t(p)].str;
      for (int32_t k = p + 2; k < size; ++k) {
        if (route[size_t(k)].str != name) continue;
        for (int32_t q = p + 1; q < k; ++q) {
          route[size_t(q)].mark = k - p - 1;
          route[size_t(q)].str2 = name;
        }
        break;
      }
    }
    ++p;
  }
}

void MergeRoadNameRuns(std::span<const Ty> route, TIntegerArray& RunLength, TIntegerArray& Suggestion) {
  for (const Ty& t : route) {
    if (t.mark == 0) continue;
    int32_t& run = RunLength[size_t(t.id)];
    if (run == 0 || run > t.mark) {
      run = t.mark;
      Suggestion[size_t(t.id)] = t.str2;
    }
  }
}

// Tarjan's low links over an iterative depth-first search. The link a node
// was reached by is skipped by id, so a parallel link counts as a way back.
void UndirectedBridges(const TNetwork& NW, std::vector<uint8_t>& Bridge) {
  NW.CheckOpen();
  const int32_t nodes = NW.NodeCount();
  const int32_t* from = NW.Fromnodes().data();
  const int32_t* to = NW.Tonodes().data();
  Bridge.assign(size_t(NW.LinkCount()) + 1, 0);
  std::vector<int32_t> disc(size_t(nodes) + 1, 0), low(size_t(nodes) + 1, 0);
  struct TFrame {
    int32_t node, link, slot;  // link: the one node was reached by
  };
  std::vector<TFrame> stack;
  int32_t time = 0;
  for (int32_t s = 1; s <= nodes; ++s) {
    if (disc[size_t(s)] != 0) continue;
    disc[size_t(s)] = low[size_t(s)] = ++time;
    stack.push_back({s, 0, 0});
    while (!stack.empty()) {
      TFrame& f = stack.back();
      const std::span<const int32_t> slots = NW.Adjacent(f.node);
      if (size_t(f.slot) < slots.size()) {
        const int32_t l = std::abs(slots[size_t(f.slot++)]);
        if (l == f.link) continue;
        const int32_t m = from[l] + to[l] - f.node;
        if (disc[size_t(m)] == 0) {
          disc[size_t(m)] = low[size_t(m)] = ++time;
          stack.push_back({m, l, 0});  // f is not used after this
        } else {
          low[size_t(f.node)] = std::min(low[size_t(f.node)], disc[size_t(m)]);
        }
        continue;
      }
      const TFrame done = f;
      stack.pop_back();
      if (stack.empty()) break;
      const int32_t p = stack.back().node;
      low[size_t(p)] = std::min(low[size_t(p)], low[size_t(done.node)]);
      if (low[size_t(done.node)] > disc[size_t(p)]) Bridge[size_t(done.link)] = 1;
    }
  }
}

int32_t TRouteCalc::Bridges(TIntegerArray& IA) {
  CheckNetwork(true);
  // Puts back what the run changes in the shared network and the settings,
  // whichever way it ends: a link left closed both ways would be a corrupted
  // network that AttributeSave would persist.
  struct TRestore {
    TRouteCalc& c;
    const bool ignoreOneway;
    int32_t closed = 0;
    explicit TRestore(TRouteCalc& calc) : c(calc), ignoreOneway(calc.fS.FIgnoreOneWay) {}
    void Close(int32_t link) {
      closed = link;
      c.FNW.OneWaySet(link, cAttrOneway);
    }
    void Reopen() {
      const int32_t link = closed;
      closed = 0;
      c.FNW.OneWaySet(link, 0);
    }
    ~TRestore() {
      try {
        if (closed != 0) c.FNW.OneWaySet(closed, 0);
      } catch (...) {
        // OneWaySet raises only on a closed network or a bad id, neither
        // of which can arise for a link this run closed.
      }
      c.fS.FIgnoreOneWay = ignoreOneway;
    }
  } restore(*this);
  fS.FIgnoreOneWay = false;

  const int32_t n = FNW.LinkCount();
  try {
    IA.assign(size_t(n) + 1, 0);
    const float* length = FNW.Lengths().data();
    for (int32_t l = 1; l <= n; ++l) IA[size_t(l)] = length[l] == 0 || FNW.GetCulDeSac(l) ? 0 : 2;
    SetProgressMaxValue(n);
    SetProgressStart(0);
    SetProgressStop(100);
    const int32_t* from = FNW.Fromnodes().data();
    const int32_t* to = FNW.Tonodes().data();
    // A route found for a link and the link itself form a closed walk. For a
    // link Y the walk drives once from its from-node to its to-node, the rest
    // of the walk is a route from Y's to-node back to its from-node without
    // Y: the answer of Y's own test, when that test would take the same
    // route. It would in node mode (a node route uses a link at most once)
    // without the hierarchy, no-drive-through areas or a node window, whose
    // admitted links depend on the ends, and when the tested link itself
    // passes the limits and the skip list. A link driven the other way only
    // proves a route in the direction Y's test does not ask for; in turn mode
    // the turns at the tested link's ends were never tried. Those links are
    // tested themselves.
    const bool walksProve = !FTurnMode && !fS.FHierarchy && !fS.FNoDriveThrough && IncludeNodes() == nullptr;
    const TBitArray* skipLinks = fS.FSkipLinkList;
    // No route can replace these, whatever the settings: the answer of their
    // route is known, and finding it would search one whole side.
    std::vector<uint8_t> undirected;
    UndirectedBridges(FNW, undirected);
    for (int32_t link = 1; link <= n; ++link) {
      if (IA[size_t(link)] != 2) continue;
      ProgressExecute(link);
      if (FNW.OneWayCode(link) != 0) {
        IA[size_t(link)] = 0;
        continue;
      }
      if (undirected[size_t(link)]) {
        IA[size_t(link)] = 1;
        continue;
      }
      restore.Close(link);
      if (Route(to[link], from[link]) >= 0) {
        IA[size_t(link)] = 0;
        const bool admitted = !(skipLinks && skipLinks->GetBit(link)) && (!fS.Fanylimit || LimitOK(link));
        if (walksProve && admitted) {
          // Only links still to test are cleared: a measured answer stays.
          const TRoute route = ExtractRoute(from[link]);
          for (const int32_t e : route.links)
            if (e > 0 && IA[size_t(e)] == 2) IA[size_t(e)] = 0;
        }
      } else {
        IA[size_t(link)] = 1;
      }
      restore.Reopen();
    }
    ProgressExecuteZero();
  } catch (...) {
    IA.clear();
    throw;
  }
  return int32_t(std::count(IA.begin() + 1, IA.end(), 1));
}

void TRouteCalc::RoadNameTest(const std::string& filename, TGISFormat GF, int32_t RoadFileID, int32_t NumOfRoutes) {
  CheckNetwork(true);
  FNW.CheckRoadNameFile(RoadFileID);
  if (NumOfRoutes <= 0) throw Exception(cMsgNumOfRoutes);
  // The second node of a route is drawn until it differs from the first.
  if (FNW.NodeCount() < 2) throw Exception(cMsgTooFewNodes);
  const TRoadNameFile& names = *FNW.RoadNameFile(RoadFileID);
  const int32_t n = FNW.LinkCount();

  // Per link, the shortest flagged run it was found in (0 = never) and the
  // name suggested there.
  TIntegerArray runLength(size_t(n) + 1, 0), suggestion(size_t(n) + 1, 0);
  TRandom random;
  random.Randomize();
  std::vector<Ty> work(cInitialWork);
  SetProgressMaxValue(NumOfRoutes);
  SetProgressStart(0);
  SetProgressStop(100);
  for (int32_t i = 1; i <= NumOfRoutes; ++i) {
    ProgressExecute(i);
    const int32_t a = FNW.RandomNode(random);
    int32_t b = FNW.RandomNode(random);
    while (b == a) b = FNW.RandomNode(random);
    if (!(Route(a, b) > 0)) continue;
    const TRoute route = ExtractRoute(b);
    const size_t size = route.links.size();
    if (size <= 2) continue;
    if (work.size() < size) work.resize(size);
    for (size_t p = 0; p < size; ++p) {
      const int32_t id = std::abs(route.links[p]);
      work[p] = {id, 0, FNW.Link2RoadNameID(RoadFileID, id), 0};
    }
    const std::span<Ty> scanned(work.data(), size);
    ScanRoadNameRuns(scanned);
    MergeRoadNameRuns(scanned, runLength, suggestion);
  }

  FNW.WriteOutputTo(filename, GF, {.DropEmpty = false, .ProgressZero = true}, *FGISarray, FGeoJSON, *this,
                    [&](TGISWriter& w) {
                      w.StartHeader(4, otPline);
                      w.AddField("ID", gfInteger, 9, 0);
                      w.AddField("Count", gfInteger, 9, 0);
                      // The record width counts bytes, two per UTF-16 unit:
                      // taken as it is up to the widest column a writer takes.
                      const uint8_t width = uint8_t(std::clamp(names.MaxRoadNameLength(), 1, cMaxCharWidth));
                      w.AddField("RoadName", gfChar, width, 0);
                      w.AddField("Suggestion", gfChar, width, 0);
                      TFloatPointArrayEx section;
                      std::string text;
                      for (int32_t l = 1; l <= n; ++l) {
                        if (runLength[size_t(l)] == 0 || FNW.AttributeGetBit_raw(l, 11)) continue;
                        text = IntToStr(l);
                        text += ',';
                        text += IntToStr(runLength[size_t(l)]);
                        text += ',';
                        AppendQuoted(text, names.RoadName1(l));
                        text += ',';
                        AppendQuoted(text, names.RoadName2(suggestion[size_t(l)]));
                        w.AddObject(1, false, text);
                        FNW.GetGISSection_raw(l, section);
                        w.AddSection(1, section);
                      }
                    });
}

}  // namespace kovra
