// Test support: the value groups of TNetwork::Join computed literally, one
// pass over all links per group, for the tests and the benchmark to set
// against the bucketed version.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "foundation/kovra_functions.h"
#include "giswriter/kovra_giswriter.h"
#include "network/kovra_network.h"

namespace kovra::testsupport {

// The pass-per-group walk of the value groups, literally: one pass over all
// links per group, links compared with the pass's first link through the
// network's public accessors. Its records go through a writer of its own,
// so that the two layers can be compared row by row.
struct TNaiveGroupByValues {
  const TNetwork& n;
  int32_t RoadFileID;
  bool attributes;
  TIntegerArray IA;
  TGISArray table;

  bool Match(int32_t a, int32_t b) const {
    return (!attributes || n.AttributeGet(a) == n.AttributeGet(b)) &&
           (RoadFileID == 0 || n.Link2RoadNameID(RoadFileID, a) == n.Link2RoadNameID(RoadFileID, b));
  }
  int32_t Other(int32_t v, int32_t c) const {
    const auto s = n.Adjacent(v);
    return std::abs(s[0]) + std::abs(s[1]) - c;
  }
  int32_t Far(int32_t l, int32_t v) const { return n.Link2FromNode(l) + n.Link2ToNode(l) - v; }

  void Run() {
    const int32_t L = n.LinkCount();
    IA.assign(size_t(L) + 1, 0);
    std::unique_ptr<TGISWriter> w = TGISWriter::GetGISObject(gfArray);
    w->GISarray = &table;
    w->SetOptimizePLinesSections(true);
    w->StartHeader(1 + (RoadFileID ? 1 : 0) + (attributes ? 1 : 0), otPline);
    w->AddField("ID", gfInteger, 0, 0);
    if (RoadFileID) w->AddField("Roadname" + IntToStr(RoadFileID), gfChar, 40, 0);
    if (attributes) w->AddField("Attribute", gfInteger, 5, 0);
    int32_t group = 1;
    std::vector<int32_t> chain;
    auto place = [&](int32_t l, int32_t a) {
      IA[size_t(l)] = group;
      chain.push_back(n.Link2FromNode(l) == a ? l : -l);
    };
    for (;;) {
      int32_t reference = 0;
      for (int32_t link = 1; link <= L; ++link) {
        if (n.LinkLength(link) == 0 || IA[size_t(link)] != 0) continue;
        if (reference == 0) reference = link;
        if (!Match(link, reference)) continue;
        int32_t cur = link, v = n.Link2FromNode(link);
        while (n.Degree(v) == 2) {
          const int32_t prev = cur, pv = v;
          cur = Other(v, cur);
          v = Far(cur, v);
          if (cur == link) {
            v = n.Link2FromNode(link);
            break;
          }
          if (!Match(cur, reference)) {
            cur = prev;
            v = pv;
            break;
          }
        }
        place(cur, v);
        v = Far(cur, v);
        while (n.Degree(v) == 2) {
          const int32_t crossed = v;
          cur = Other(v, cur);
          v = Far(cur, crossed);
          if (!Match(cur, reference) || IA[size_t(cur)] != 0) break;
          place(cur, crossed);
        }
      }
      if (reference == 0) break;
      const int32_t first = std::abs(chain[0]);
      std::string text = IntToStr(group);
      if (RoadFileID) text += ",\"" + n.Link2RoadName(RoadFileID, first) + "\"";
      if (attributes) text += "," + IntToStr(n.AttributeGet(first));
      w->AddObject(int32_t(chain.size()), false, text);
      const bool anyForward = std::any_of(chain.begin(), chain.end(), [](int32_t e) { return e > 0; });
      const int32_t count = int32_t(chain.size());
      for (int32_t i = 0; i < count; ++i) {
        const int32_t e = anyForward ? chain[size_t(i)] : chain[size_t(count - 1 - i)];
        TFloatPointArrayEx s = n.GetGISSection(std::abs(e));
        if (anyForward && e < 0) TNetwork::SwapList(s);
        w->AddSection(i + 1, s);
      }
      ++group;
      chain.clear();
    }
    w->Close();
  }
};

}  // namespace kovra::testsupport
