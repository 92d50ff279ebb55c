// Joined links: links merged into longer objects (chains through nodes where
// only two link ends meet, or whole groups sharing their values), written as
// a polyline layer, with every turn set rewritten in the joined numbers so
// that the layer can be imported as a smaller network that keeps its turns.
//
// The depth-first visits (connected groups, spurs) use explicit stacks that
// visit the slots in the order a recursion would: a connected network of
// millions of links must not overflow the thread stack.
#include <algorithm>
#include <unordered_map>
#include <utility>
#include <vector>

#include "foundation/kovra_functions.h"
#include "giswriter/kovra_giswriter.h"
#include "network/kovra_network.h"
#include "network/kovra_roadnamefile.h"
#include "network/kovra_turn.h"

namespace kovra {

namespace {

inline constexpr const char* cMsgJoinTopology = "Topology must be 0 to 3: %d";
inline constexpr const char* cMsgJoinNoCondition =
    "One of parameters Topology, RoadFileID and Attributes should be set. (0,0,false) is not allowed.";
inline constexpr const char* cMsgJoinEmptyName = "Join: file name must not be empty";

inline int32_t Abs(int32_t v) { return v < 0 ? -v : v; }

class TJoinRun {
public:
  TJoinRun(TNetwork& Net, int32_t RoadFileID, bool attributes, TIntegerArray& IA)
      : N(Net),
        from(Net.Fromnodes()),
        to(Net.Tonodes()),
        len(Net.Lengths()),
        IA(IA),
        L(Net.LinkCount()),
        RoadFileID(RoadFileID),
        attributes(attributes) {
    // Two links match when their keys are equal: the attribute word in the
    // high half (with attributes), the road-name id in the low half (with a
    // road-name slot).
    key.assign(size_t(L) + 1, 0);
    const TRoadNameFile* names = RoadFileID != 0 ? Net.RoadNameFile(RoadFileID) : nullptr;
    for (int32_t l = 1; l <= L; ++l) {
      if (len[size_t(l)] == 0) continue;
      uint64_t k = 0;
      if (attributes) k = uint64_t(Net.Attributes()[size_t(l)]) << 32;
      if (names) k |= uint32_t(names->RoadNameID1(l));
      key[size_t(l)] = k;
    }
    if (Net.TurnSetCount() > 0) turnMap.assign(size_t(L) + 1, 0);
  }

  TIntegerArray& TurnMap() { return turnMap; }

  void Run(TGISWriter& Writer, int32_t topology) {
    w = &Writer;
    switch (topology) {
      case 0: GroupByValues(); break;
      case 1: ConnectedGroups(); break;
      case 2: NodeToNode(); break;
      default: PassingSpurs(); break;
    }
  }

private:
  bool Placed(int32_t l) const { return IA[size_t(l)] != 0; }
  bool Valid(int32_t l) const { return len[size_t(l)] != 0; }
  int32_t Degree(int32_t v) const { return N.Degree_raw(v); }
  int32_t Far(int32_t l, int32_t v) const { return from[size_t(l)] + to[size_t(l)] - v; }
  // The other link at node v of degree 2, coming over link c.
  int32_t Other(int32_t v, int32_t c) const {
    const std::span<const int32_t> s = N.Adjacent(v);
    return Abs(s[0]) + Abs(s[1]) - c;
  }

  void Place(int32_t l, int32_t a) {
    IA[size_t(l)] = group;
    chain.push_back(from[size_t(l)] == a ? l : -l);
    N.ProgressExecute(placed);
    ++placed;
  }

  void WriteGroup() {
    if (chain.empty()) return;
    const int32_t count = int32_t(chain.size());
    const int32_t first = Abs(chain[0]);
    text = IntToStr(group);
    if (RoadFileID != 0) {
      text += ',';
      AppendQuoted(text, N.RoadNameFile(RoadFileID)->RoadName1(first));
    }
    if (attributes) {
      text += ',';
      text += IntToStr(N.Attributes()[size_t(first)]);
    }
    w->AddObject(count, false, text);
    const bool anyForward = std::any_of(chain.begin(), chain.end(), [](int32_t e) { return e > 0; });
    if (!anyForward) {
      // Every link runs against the group: the parts go in reverse order,
      // each in its own direction, and join into one line in digitised order.
      for (int32_t i = count - 1; i >= 0; --i) {
        N.GetGISSection_raw(Abs(chain[size_t(i)]), section);
        w->AddSection(count - i, section);
      }
    } else {
      for (int32_t i = 0; i < count; ++i) {
        const int32_t e = chain[size_t(i)];
        N.GetGISSection_raw(Abs(e), section);
        if (e < 0) TNetwork::SwapList(section);
        w->AddSection(i + 1, section);
      }
    }
    if (!turnMap.empty())
      for (const int32_t e : chain) turnMap[size_t(Abs(e))] = group;
    ++group;
    chain.clear();
  }

  int32_t FirstNode() const {
    const int32_t e = chain.front();
    return e > 0 ? from[size_t(e)] : to[size_t(-e)];
  }
  int32_t LastNode() const {
    const int32_t e = chain.back();
    return e > 0 ? to[size_t(e)] : from[size_t(-e)];
  }

  // A chain that comes back to its first node is cut where the running
  // length is closest to half the total (the first such link on a tie).
  void WriteRingSplit() {
    if (chain.size() < 2 || FirstNode() != LastNode()) {
      WriteGroup();
      return;
    }
    ring.assign(chain.begin(), chain.end());
    chain.clear();
    float total = 0;
    for (const int32_t e : ring) total += len[size_t(Abs(e))];
    const float half = total / 2;
    float run = 0;
    float best = 0;
    size_t k = 0;
    for (size_t i = 0; i < ring.size(); ++i) {
      run += len[size_t(Abs(ring[i]))];
      const float d = run > half ? run - half : half - run;
      if (i == 0 || d < best) {
        best = d;
        k = i;
      }
    }
    chain.assign(ring.begin(), ring.begin() + std::ptrdiff_t(k) + 1);
    WriteGroup();
    chain.assign(ring.begin() + std::ptrdiff_t(k) + 1, ring.end());
    for (const int32_t e : chain) IA[size_t(Abs(e))] = group;
    WriteGroup();
  }

  // Topology 0. Links are bucketed by key, the keys taken in the order of
  // their lowest link: the same passes, in the same order, as one pass over
  // all links per group, without the quadratic cost.
  void GroupByValues() {
    std::unordered_map<uint64_t, int32_t> bucketOf;
    std::vector<int32_t> bucketStart;  // counts first, then starts
    std::vector<int32_t> bucketOfLink(size_t(L) + 1, -1);
    for (int32_t l = 1; l <= L; ++l) {
      if (!Valid(l)) continue;
      const auto [it, added] = bucketOf.try_emplace(key[size_t(l)], int32_t(bucketStart.size()));
      if (added) bucketStart.push_back(0);
      bucketOfLink[size_t(l)] = it->second;
      ++bucketStart[size_t(it->second)];
    }
    const size_t buckets = bucketStart.size();
    int32_t sum = 0;
    for (size_t b = 0; b < buckets; ++b) {
      const int32_t count = bucketStart[b];
      bucketStart[b] = sum;
      sum += count;
    }
    bucketStart.push_back(sum);
    std::vector<int32_t> links(static_cast<size_t>(sum));
    {
      std::vector<int32_t> next(bucketStart.begin(), bucketStart.end() - 1);
      for (int32_t l = 1; l <= L; ++l)
        if (bucketOfLink[size_t(l)] >= 0) links[size_t(next[size_t(bucketOfLink[size_t(l)])]++)] = l;
    }
    bucketOfLink = {};

    for (size_t b = 0; b < buckets; ++b) {
      const uint64_t ref = key[size_t(links[size_t(bucketStart[b])])];
      for (int32_t i = bucketStart[b]; i < bucketStart[b + 1]; ++i) {
        const int32_t link = links[size_t(i)];
        if (Placed(link)) continue;
        // Back to the start of the chain; on a ring of matching links the
        // walk would never end: it starts at the link it came round to.
        int32_t cur = link, v = from[size_t(link)];
        while (Degree(v) == 2) {
          const int32_t prev = cur, prevNode = v;
          cur = Other(v, cur);
          v = Far(cur, v);
          if (cur == link) {
            v = from[size_t(link)];
            break;
          }
          if (key[size_t(cur)] != ref) {
            cur = prev;
            v = prevNode;
            break;
          }
        }
        Place(cur, v);
        v = Far(cur, v);
        while (Degree(v) == 2) {
          const int32_t crossed = v;
          cur = Other(v, cur);
          v = Far(cur, crossed);
          // A placed link here means the chain came round a ring.
          if (key[size_t(cur)] != ref || Placed(cur)) break;
          Place(cur, crossed);
        }
      }
      WriteGroup();
    }
  }

  // Topology 1: collect(v) as a stack of (node, next slot) frames.
  struct TFrame {
    int32_t node;
    int32_t slot;
  };

  // Places l arriving from v, follows the chain through degree-2 nodes while
  // its links are unplaced and match, and from a junction beyond collects
  // further (depth first). After a stop the walk stands beyond the link that
  // stopped it.
  void PlaceAndWalk(int32_t l, int32_t v) {
    Place(l, v);
    int32_t cur = l, u = Far(l, v);
    while (Degree(u) == 2) {
      const int32_t crossed = u;
      cur = Other(u, cur);
      u = Far(cur, crossed);
      if (Placed(cur) || key[size_t(cur)] != key[size_t(reference)]) break;
      Place(cur, crossed);
    }
    if (Degree(u) > 2) stack.push_back({u, 0});
  }

  void Collect() {
    while (!stack.empty()) {
      TFrame& f = stack.back();
      const std::span<const int32_t> s = N.Adjacent(f.node);
      if (f.slot >= int32_t(s.size())) {
        stack.pop_back();
        continue;
      }
      const int32_t v = f.node;
      const int32_t l = Abs(s[size_t(f.slot++)]);
      if (Placed(l)) continue;
      if (reference == 0) reference = l;
      if (key[size_t(l)] != key[size_t(reference)]) continue;
      PlaceAndWalk(l, v);  // may push: f is not used after this
    }
  }

  void ConnectedGroups() {
    reference = 0;
    for (int32_t node = 1; node <= N.NodeCount(); ++node) {
      stack.push_back({node, 0});
      Collect();
      WriteGroup();
      reference = 0;
    }
    // A link that matched neither of its nodes' groups still belongs in the
    // layer that stands for the network: it starts a group of its own.
    for (int32_t l = 1; l <= L; ++l) {
      if (!Valid(l) || Placed(l)) continue;
      reference = l;
      PlaceAndWalk(l, from[size_t(l)]);
      Collect();
      WriteGroup();
      reference = 0;
    }
  }

  // Topology 2.
  void NodeToNode() {
    for (int32_t node = 1; node <= N.NodeCount(); ++node) {
      const int32_t d = Degree(node);
      if (d == 2) continue;
      for (int32_t k = 0; k < d; ++k) {
        const int32_t l = Abs(N.Adjacent(node)[size_t(k)]);
        if (Placed(l)) continue;
        Place(l, node);
        int32_t cur = l, v = Far(l, node);
        while (Degree(v) == 2) {
          const int32_t prev = cur, crossed = v;
          cur = Other(v, cur);
          v = Far(cur, crossed);
          if (key[size_t(cur)] != key[size_t(prev)]) WriteRingSplit();
          Place(cur, crossed);
        }
        WriteRingSplit();
      }
    }
    // What is left lies on rings of degree-2 nodes.
    for (int32_t l = 1; l <= L; ++l) {
      if (!Valid(l) || Placed(l)) continue;
      Place(l, from[size_t(l)]);
      int32_t cur = l, v = to[size_t(l)];
      while (Degree(v) == 2) {
        const int32_t prev = cur, crossed = v;
        cur = Other(v, cur);
        v = Far(cur, crossed);
        if (Placed(cur)) break;
        if (key[size_t(cur)] != key[size_t(prev)]) WriteRingSplit();
        Place(cur, crossed);
      }
      WriteRingSplit();
    }
  }

  // Topology 3: grow(v) goes on only where at most two link ends belong to
  // links that are not cul-de-sac links.
  bool Passable(int32_t v) const {
    const TBitArray& cds = N.CulDeSacs();
    int32_t through = 0;
    for (const int32_t e : N.Adjacent(v))
      if (!cds.GetBit(Abs(e))) ++through;
    return through <= 2;
  }

  void Grow(int32_t start) {
    if (!Passable(start)) return;
    stack.push_back({start, 0});
    while (!stack.empty()) {
      TFrame& f = stack.back();
      const std::span<const int32_t> s = N.Adjacent(f.node);
      if (f.slot >= int32_t(s.size())) {
        stack.pop_back();
        continue;
      }
      const int32_t v = f.node;
      const int32_t l = Abs(s[size_t(f.slot++)]);
      if (Placed(l) || key[size_t(l)] != key[size_t(reference)]) continue;
      Place(l, v);
      const int32_t u = Far(l, v);
      if (Passable(u)) stack.push_back({u, 0});  // f is not used after this
    }
  }

  void PassingSpurs() {
    for (int32_t l = 1; l <= L; ++l) {
      if (!Valid(l) || Placed(l)) continue;
      reference = l;
      Place(l, from[size_t(l)]);
      Grow(from[size_t(l)]);
      Grow(to[size_t(l)]);
      WriteGroup();
      reference = 0;
    }
  }

  TNetwork& N;
  const TIntegerArray& from;
  const TIntegerArray& to;
  const TCostArray& len;
  TIntegerArray& IA;
  const int32_t L;
  const int32_t RoadFileID;
  const bool attributes;
  std::vector<uint64_t> key;
  TIntegerArray turnMap;
  TGISWriter* w = nullptr;
  std::vector<int32_t> chain;  // signed: negative where the group runs from the link's to-node
  std::vector<int32_t> ring;
  std::vector<TFrame> stack;
  int32_t group = 1;
  int32_t placed = 0;
  int32_t reference = 0;
  std::string text;
  TFloatPointArrayEx section;
};

}  // namespace

void TNetwork::Join(const std::string& filename, TGISFormat GF, int32_t topology, int32_t RoadFileID,
                    bool attributes, TIntegerArray& IA) {
  IA.clear();
  CheckOpen();
  if (RoadFileID != 0) CheckRoadNameFile(RoadFileID);
  if (topology < 0 || topology > 3) throw EOutOfRange(Format(cMsgJoinTopology, topology));
  if (topology == 0 && RoadFileID == 0 && !attributes) throw EOutOfRange(cMsgJoinNoCondition);
  // Without a name the turn files would land in the current folder as "_0.turn".
  if (filename.empty()) throw EInvalidParameter(cMsgJoinEmptyName);

  try {
    IA.assign(size_t(FLinkCount) + 1, 0);
    ProgressExecuteZero();
    // The progress value is the number of links placed, in every topology.
    SetProgressMaxValue(FLinkCount);
    SetProgressStart(0);
    SetProgressStop(100);
    TJoinRun run(*this, RoadFileID, attributes, IA);

    WriteOutput(filename, GF, {.DropEmpty = false, .ProgressZero = true}, [&](TGISWriter& w) {
      w.SetOptimizePLinesSections(true);
      w.StartHeader(1 + (RoadFileID != 0 ? 1 : 0) + (attributes ? 1 : 0), otPline);
      w.AddField("ID", gfInteger, 0, 0);
      if (RoadFileID != 0) {
        // The record width of the name file, as far as a field width goes.
        const int32_t width = std::min(FRoadNameFiles[size_t(RoadFileID)]->MaxRoadNameLength(), 254);
        w.AddField("Roadname" + IntToStr(RoadFileID), gfChar, uint8_t(width), 0);
      }
      if (attributes) w.AddField("Attribute", gfInteger, 5, 0);
      run.Run(w, topology);
    });

    for (int32_t k = 0; k < TurnSetCount(); ++k)
      FTurnList[size_t(k)]->ExportTxt(filename + "_" + IntToStr(k) + ".turn", run.TurnMap());
  } catch (...) {
    IA.clear();
    throw;
  }
}

}  // namespace kovra
