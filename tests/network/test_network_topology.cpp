// Graph analyses of the network: duplicate one-way pairs, one-way chains,
// upstream sets, traces to valves, Euler circuits, cul-de-sac reading.
#include <gtest/gtest.h>

#include <algorithm>

#include <boost/graph/adjacency_list.hpp>
#include <boost/graph/connected_components.hpp>
#include <deque>
#include <functional>
#include <map>
#include <random>
#include <set>

#include "network_fixture.h"
#include "support/test_raises.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

constexpr uint16_t cFT = 512, cTF = 1024;

std::vector<int32_t> Items(const TIntegerList& l) {
  std::vector<int32_t> v;
  for (int32_t i = 0; i < l.Count(); ++i) v.push_back(l.GetItem(i));
  return v;
}

// A random network on a small lattice: links between random lattice points,
// some one-way either way, some loops.
TTestNetworkWriter RandomNetwork(std::mt19937& rng, int32_t Links) {
  TTestNetworkWriter w;
  for (int32_t i = 0; i < Links; ++i) {
    const TFloatPoint a{double(rng() % 6), double(rng() % 6)};
    TFloatPoint b{double(rng() % 6), double(rng() % 6)};
    const int32_t l = w.AddLink({a, {(a.x + b.x) / 2 + 0.1 * (i % 7), (a.y + b.y) / 2 + 0.37}, b});
    const uint32_t r = rng() % 4;
    if (a != b && r) w.SetAttribute(l, r == 1 ? cFT : r == 2 ? cTF : 0);
  }
  return w;
}

class Topology : public TNetworkTest {};

TEST_F(Topology, DuplicatePairsAreOppositeOneWaysOverOneGeometry) {
  TTestNetworkWriter w;
  const TFloatPointArray ab{{0, 0}, {5, 1}, {10, 0}};
  w.AddLink(ab, cFT);                          // 1
  w.AddLink(ab, cTF);                          // 2: pairs with 1
  w.AddLink(ab);                               // 3: two-way
  w.AddLink({{10, 0}, {5, 1}, {0, 0}}, cFT);   // 4: digitised the other way
  w.AddLink({{0, 0}, {5, 2}, {10, 0}}, cTF);   // 5: another geometry
  w.AddLink(ab);                               // 6 and 7: two-way twins
  w.AddLink(ab);
  TNetwork& net = Open(w, true);
  EXPECT_EQ(net.FindDuplicateLinks(), 2);
  const std::vector<int32_t> expected{0, 2, 1, 0, 0, 0, 0, 0};
  for (int32_t l = 1; l <= 7; ++l) EXPECT_EQ(net.GetDuplicateLink(l), expected[size_t(l)]) << l;
  EXPECT_EQ(net.GetDuplicateLink(99), 0);
}

TEST_F(Topology, DuplicatesMatchAPairSearch) {
  std::mt19937 rng(21);
  for (int run = 0; run < 20; ++run) {
    TTestNetworkWriter w = RandomNetwork(rng, 40);
    // Planted twins: a copy of a one-way link, one-way the other way.
    std::vector<std::pair<int32_t, int32_t>> planted;
    for (int32_t l = 1; l <= 40; l += 5) {
      const TFloatPointArray p = w.Polyline(l);
      if (p.front() == p.back()) continue;
      w.SetAttribute(l, cFT);
      planted.push_back({l, w.AddLink(p, cTF)});
    }
    TNetwork& net = Open(w, true);
    net.FindDuplicateLinks();
    // Every pair found is a true pair...
    for (int32_t l = 1; l <= net.LinkCount(); ++l) {
      const int32_t o = net.GetDuplicateLink(l);
      if (!o) continue;
      EXPECT_EQ(net.GetDuplicateLink(o), l);
      const auto a = net.GetGISSection(l), b = net.GetGISSection(o);
      EXPECT_TRUE(a == b) << l << " " << o;
      EXPECT_EQ(net.OneWayCode(l) + net.OneWayCode(o), 3);
    }
    // ...and each planted one is found with a partner (its twin, or an
    // equal one-way link met first).
    for (const auto& [a, b] : planted) {
      EXPECT_NE(net.GetDuplicateLink(a), 0) << a;
      EXPECT_NE(net.GetDuplicateLink(b), 0) << b;
    }
  }
}

TEST_F(Topology, DownStreamChainsEnd) {
  TTestNetworkWriter w;
  w.AddLink({{0, 0}, {1, 0}}, cFT);            // 1: into B
  w.AddLink({{2, 0}, {1, 0}}, cTF);            // 2: B -> C (digitised C to B)
  w.AddLink({{2, 0}, {3, 1}}, cFT);            // 3: C -> D1
  w.AddLink({{2, 0}, {3, -1}}, cFT);           // 4: C -> D2 (two exits at C)
  w.AddLink({{0, 5}, {1, 5}});                 // 5: two-way
  // A one-way ring of three links, and a one-way loop link.
  w.AddLink({{10, 0}, {11, 0}}, cFT);          // 6
  w.AddLink({{11, 0}, {10.5, 1}}, cFT);        // 7
  w.AddLink({{10.5, 1}, {10, 0}}, cFT);        // 8
  w.AddLink({{20, 0}, {21, 1}, {20, 0}}, cFT);  // 9: loop
  TNetwork& net = Open(w, true);
  struct Case {
    int32_t link;
    std::vector<int32_t> chain;
  } cases[] = {{1, {1, 2}}, {5, {}}, {3, {3}}, {6, {6, 7, 8}}, {7, {7, 8, 6}}, {9, {9}}};
  for (const auto& c : cases) {
    TIntegerList l;
    net.DownStream(c.link, l);
    EXPECT_EQ(Items(l), c.chain) << c.link;
  }
}

// Sets reached by a breadth-first search written here.
std::set<int32_t> UpstreamByBfs(const TNetwork& net, int32_t link) {
  std::set<int32_t> seen;
  const int32_t code = net.OneWayCode(link);
  if (code != 1 && code != 2) return seen;
  std::deque<std::pair<int32_t, int32_t>> q{{code == 1 ? net.Link2FromNode(link) : net.Link2ToNode(link), link}};
  seen.insert(link);
  while (!q.empty()) {
    auto [node, l] = q.front();
    q.pop_front();
    for (int32_t e = 1; e <= net.LinkCount(); ++e) {
      if (e == l || seen.count(e) || net.LinkLength(e) == 0) continue;
      if (net.OneWayCode(e) == 1 && net.Link2ToNode(e) == node) {
        seen.insert(e);
        q.push_back({net.Link2FromNode(e), e});
      } else if (net.OneWayCode(e) == 2 && net.Link2FromNode(e) == node) {
        seen.insert(e);
        q.push_back({net.Link2ToNode(e), e});
      }
    }
  }
  return seen;
}

TEST_F(Topology, UpStreamAndTraceMatchASearch) {
  std::mt19937 rng(8);
  for (int run = 0; run < 15; ++run) {
    TNetwork& net = Open(RandomNetwork(rng, 60), true);
    TBitArray valves(net.NodeCount() + 1);
    for (int32_t n = 1; n <= net.NodeCount(); ++n) valves.SetBit(n, rng() % 5 == 0);
    for (int32_t link = 1; link <= net.LinkCount(); ++link) {
      TBitArray up;
      net.UpStream(link, up);
      std::set<int32_t> got;
      for (int32_t l = 1; l <= net.LinkCount(); ++l)
        if (up.GetBit(l)) got.insert(l);
      ASSERT_EQ(got, UpstreamByBfs(net, link)) << "link " << link;

      TBitArray valvesReached, linksReached;
      net.Trace(link, valves, valvesReached, linksReached);
      // The search: links reached over nodes that are no valves.
      std::set<int32_t> links{link}, valvesMet;
      std::deque<int32_t> q{net.Link2FromNode(link), net.Link2ToNode(link)};
      while (!q.empty()) {
        const int32_t n = q.front();
        q.pop_front();
        if (valves.GetBit(n)) {
          valvesMet.insert(n);
          continue;
        }
        for (int32_t e = 1; e <= net.LinkCount(); ++e)
          if (net.LinkLength(e) != 0 && !links.count(e) && (net.Link2FromNode(e) == n || net.Link2ToNode(e) == n)) {
            links.insert(e);
            q.push_back(net.Link2FromNode(e) == n ? net.Link2ToNode(e) : net.Link2FromNode(e));
          }
      }
      std::set<int32_t> gotLinks, gotValves;
      for (int32_t l = 1; l <= net.LinkCount(); ++l)
        if (linksReached.GetBit(l)) gotLinks.insert(l);
      for (int32_t n = 1; n <= net.NodeCount(); ++n)
        if (valvesReached.GetBit(n)) gotValves.insert(n);
      ASSERT_EQ(gotLinks, links) << "link " << link;
      ASSERT_EQ(gotValves, valvesMet) << "link " << link;
    }
    TBitArray shortValves(net.NodeCount()), a, b;
    EXPECT_EQ(MessageOf<EInvalidParameter>([&] { net.Trace(1, shortValves, a, b); }),
              Format("Bit array must hold at least %d bits", net.NodeCount() + 1));
  }
}

TEST_F(Topology, EulerSmallCases) {
  TTestNetworkWriter w;
  w.AddLink({{0, 0}, {1, 0}});              // 1: A to B
  w.AddLink({{5, 5}, {6, 6}, {5, 5}});      // 2: loop
  TNetwork& net = Open(w);
  TIntegerLists links, nodes;
  net.Euler({0, 1, 0}, {0, 1, 0}, links, nodes);
  ASSERT_EQ(links.Count(), 1);
  EXPECT_EQ(Items(*links.GetItem(0)), (std::vector<int32_t>{1, -1}));
  EXPECT_EQ(Items(*nodes.GetItem(0)), (std::vector<int32_t>{net.Link2ToNode(1), net.Link2FromNode(1)}));
  net.Euler({0, 0, 1}, {0, 0, 0}, links, nodes);
  ASSERT_EQ(links.Count(), 2);
  EXPECT_EQ(Items(*links.GetItem(1)), (std::vector<int32_t>{2}));
  EXPECT_EQ(Items(*nodes.GetItem(1)), (std::vector<int32_t>{net.Link2FromNode(2)}));

  // Unbalanced, short and negative inputs raise and append nothing.
  EXPECT_EQ(MessageOf<EInvalidParameter>([&] { net.Euler({0, 1, 0}, {0, 0, 0}, links, nodes); }),
            Format("Euler: link counts are not balanced at node %d", net.Link2ToNode(1)));
  EXPECT_EQ(MessageOf<EInvalidParameter>([&] { net.Euler({0, 1}, {0, 1, 0}, links, nodes); }),
            "Euler: arrays must cover links 1 to 2");
  EXPECT_EQ(MessageOf<EInvalidParameter>([&] { net.Euler({0, -1, 0}, {0, 1, 0}, links, nodes); }),
            "Euler: arrays must cover links 1 to 2");
  EXPECT_EQ(links.Count(), 2);
  EXPECT_EQ(nodes.Count(), 2);
}

TEST_F(Topology, EulerCircuitsCloseUseEveryLinkAndFollowComponents) {
  std::mt19937 rng(4);
  for (int run = 0; run < 20; ++run) {
    TNetwork& net = Open(RandomNetwork(rng, 50));
    const int32_t L = net.LinkCount();
    // Both directions once on a random subset of links: always balanced.
    TIntegerArray ft(size_t(L) + 1, 0), tf(size_t(L) + 1, 0);
    for (int32_t l = 1; l <= L; ++l)
      if (rng() % 3) ft[size_t(l)] = tf[size_t(l)] = 1 + int32_t(rng() % 2);
    TIntegerLists links, nodes;
    net.Euler(ft, tf, links, nodes);
    ASSERT_EQ(links.Count(), nodes.Count());
    std::map<int32_t, int32_t> usedFT, usedTF;
    for (int32_t c = 0; c < links.Count(); ++c) {
      const auto ls = Items(*links.GetItem(c)), ns = Items(*nodes.GetItem(c));
      ASSERT_EQ(ls.size(), ns.size());
      // N[p] ends L[p]; L[p + 1] leaves N[p]; the walk returns to N.back().
      int32_t at = ns.back();
      for (size_t p = 0; p < ls.size(); ++p) {
        const int32_t l = std::abs(ls[p]);
        const int32_t from = ls[p] > 0 ? net.Link2FromNode(l) : net.Link2ToNode(l);
        const int32_t to = ls[p] > 0 ? net.Link2ToNode(l) : net.Link2FromNode(l);
        ASSERT_EQ(from, at) << "circuit " << c << " position " << p;
        ASSERT_EQ(to, ns[p]);
        at = to;
        ++(ls[p] > 0 ? usedFT : usedTF)[l];
      }
    }
    for (int32_t l = 1; l <= L; ++l) {
      EXPECT_EQ(usedFT[l], ft[size_t(l)]) << l;
      EXPECT_EQ(usedTF[l], tf[size_t(l)]) << l;
    }
    // One circuit per connected group of used links.
    boost::adjacency_list<boost::vecS, boost::vecS, boost::undirectedS> g(size_t(net.NodeCount()) + 1);
    std::set<int32_t> usedNodes;
    for (int32_t l = 1; l <= L; ++l)
      if (ft[size_t(l)]) {
        boost::add_edge(size_t(net.Link2FromNode(l)), size_t(net.Link2ToNode(l)), g);
        usedNodes.insert(net.Link2FromNode(l));
        usedNodes.insert(net.Link2ToNode(l));
      }
    std::vector<int> component(boost::num_vertices(g));
    boost::connected_components(g, component.data());
    std::set<int> groups;
    for (const int32_t n : usedNodes) groups.insert(component[size_t(n)]);
    EXPECT_EQ(links.Count(), int32_t(groups.size())) << "run " << run;
  }
}

// The merge written pair by pair, as the circuits are defined: the first
// pair i < k sharing a node, p the first position of i whose node occurs in
// k, q the first position of that node in k; k goes in after p, rotated.
void MergeLiterally(std::vector<TIntegerArray>& L, std::vector<TIntegerArray>& N) {
  for (bool changed = true; changed;) {
    changed = false;
    for (size_t i = 0; i < N.size() && !changed; ++i)
      for (size_t k = i + 1; k < N.size() && !changed; ++k) {
        size_t p = 0;
        while (p < N[i].size() && std::find(N[k].begin(), N[k].end(), N[i][p]) == N[k].end()) ++p;
        if (p == N[i].size()) continue;
        const size_t q = size_t(std::find(N[k].begin(), N[k].end(), N[i][p]) - N[k].begin());
        for (auto* seq : {&L, &N}) {
          TIntegerArray& into = (*seq)[i];
          const TIntegerArray& from = (*seq)[k];
          TIntegerArray merged(into.begin(), into.begin() + ptrdiff_t(p) + 1);
          merged.insert(merged.end(), from.begin() + ptrdiff_t(q) + 1, from.end());
          merged.insert(merged.end(), from.begin(), from.begin() + ptrdiff_t(q) + 1);
          merged.insert(merged.end(), into.begin() + ptrdiff_t(p) + 1, into.end());
          into = std::move(merged);
        }
        L.erase(L.begin() + ptrdiff_t(k));
        N.erase(N.begin() + ptrdiff_t(k));
        changed = true;
      }
  }
}

TEST(EulerMerge, EqualsThePairByPairMerge) {
  std::mt19937 rng(17);
  for (int run = 0; run < 300; ++run) {
    const int32_t nodes = 2 + int32_t(rng() % 30);
    std::vector<TIntegerArray> L(1 + rng() % 25), N(L.size());
    int32_t id = 0;
    for (size_t c = 0; c < L.size(); ++c)
      for (size_t j = 0, n = 1 + rng() % 6; j < n; ++j) {
        L[c].push_back(++id);
        N[c].push_back(1 + int32_t(rng() % uint32_t(nodes)));
      }
    std::vector<TIntegerArray> L2 = L, N2 = N;
    MergeLiterally(L, N);
    MergeCircuits(L2, N2, nodes);
    ASSERT_EQ(L2, L) << "run " << run;
    ASSERT_EQ(N2, N) << "run " << run;
  }
}

// Long runs of merges that land at one place, one inside the other, or
// anywhere, so that the positions of the grown circuit are renumbered many
// times over.
TEST(EulerMerge, EqualsThePairByPairMergeOverManyMerges) {
  std::mt19937 rng(5);
  struct Case {
    const char* name;
    std::function<TIntegerArray(int32_t c)> nodes;  // nodes of circuit c
  } cases[] = {
      {"each inside the last", [](int32_t c) { return TIntegerArray{c + 1, c + 2}; }},
      {"all after one node", [](int32_t c) { return TIntegerArray{1, c + 2}; }},
      {"all after one node, longer", [](int32_t c) { return TIntegerArray{c + 2, c + 3, 1, c + 4}; }},
      {"backwards", [](int32_t c) { return TIntegerArray{2001 - c, 2000 - c}; }},
      {"random", [&](int32_t) {
         TIntegerArray n(1 + rng() % 5);
         for (auto& v : n) v = 1 + int32_t(rng() % 400);
         return n;
       }},
  };
  for (const auto& c : cases) {
    std::vector<TIntegerArray> L, N;
    int32_t id = 0;
    for (int32_t k = 0; k < 1500; ++k) {
      N.push_back(c.nodes(k));
      L.emplace_back();
      for (size_t j = 0; j < N.back().size(); ++j) L.back().push_back(++id);
    }
    std::vector<TIntegerArray> L2 = L, N2 = N;
    MergeLiterally(L, N);
    MergeCircuits(L2, N2, 6000);
    ASSERT_EQ(L2, L) << c.name;
    ASSERT_EQ(N2, N) << c.name;
  }
}

TEST_F(Topology, CulDeSacReading) {
  TTestNetworkWriter w;
  w.AddLink({{0, 0}, {1, 0}});  // a triangle...
  w.AddLink({{1, 0}, {0, 1}});
  w.AddLink({{0, 1}, {0, 0}});
  w.AddLink({{1, 0}, {2, 0}});  // ...with a dead end
  TNetwork& net = Open(w);
  EXPECT_FALSE(net.GetCulDeSac(1));
  EXPECT_TRUE(net.GetCulDeSac(4));
  EXPECT_EQ(MessageOf<EOutOfRange>([&] { net.GetCulDeSac(5); }), "Link-ID must be <=4: 5");
  TIntegerList nodes;
  net.NonCulDeSacNodes(nodes);
  EXPECT_EQ(Items(nodes), (std::vector<int32_t>{1, 2, 3}));  // the triangle's nodes, ascending
}

}  // namespace
