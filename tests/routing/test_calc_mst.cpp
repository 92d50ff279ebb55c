// Spanning and Steiner trees of TCalc: MST link for link against a literal
// restart scan over the sorted edge list and by weight against Boost Graph's
// Kruskal, the Steiner tree's links connected and within the bound of the
// terminals' shortest-path closure, and the hand-made cases as tables
// (loops back to the origin, listed twice, a terminal on a junction, a
// node on another road system).
#include <gtest/gtest.h>

#include <boost/graph/adjacency_list.hpp>
#include <boost/graph/connected_components.hpp>
#include <boost/graph/kruskal_min_spanning_tree.hpp>

#include <cmath>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "foundation/kovra_random.h"
#include "network/kovra_network.h"
#include "routing/kovra_calc.h"
#include "routing/kovra_calc_mst.h"
#include "routing/support/bgl_oracle.h"
#include "routing/support/netgen.h"
#include "support/test_raises.h"
#include "analysis_fixture.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

using TWeighted = boost::adjacency_list<boost::vecS, boost::vecS, boost::undirectedS, boost::no_property,
                                        boost::property<boost::edge_weight_t, double>>;

std::vector<int32_t> SetBits(const TBitArray& BA) {
  std::vector<int32_t> bits;
  for (int64_t i = 0; i < BA.Size(); ++i)
    if (BA.GetBit(i)) bits.push_back(int32_t(i));
  return bits;
}

// The spanning tree as the restart scan builds it, transcribed literally:
// take the first edge; scan from the start, dropping edges with both nodes
// in the tree, taking the first with one and starting again.
std::vector<int32_t> RestartScan(const TNetwork& nw, const std::vector<float>& cost) {
  TMSTList list;
  for (int32_t l = 1; l <= nw.LinkCount(); ++l)
    if (nw.Lengths()[size_t(l)] != 0)
      list.Add(TMST{l, nw.Fromnodes()[size_t(l)], nw.Tonodes()[size_t(l)], cost[size_t(l)]});
  list.Sort();
  std::vector<int32_t> taken;
  if (list.Count() == 0) return taken;
  std::vector<bool> in(size_t(nw.NodeCount()) + 1, false);
  auto take = [&](int32_t i) {
    const TMST e = list.GetItem(i);
    taken.push_back(e.link);
    in[size_t(e.node1)] = in[size_t(e.node2)] = true;
    list.Delete(i);
  };
  take(0);
  bool found = true;
  while (found && list.Count() > 0) {
    found = false;
    int32_t i = 0;
    while (i < list.Count()) {
      const TMST e = list.GetItem(i);
      const bool a = in[size_t(e.node1)], b = in[size_t(e.node2)];
      if (a && b) {
        list.Delete(i);
      } else if (a || b) {
        take(i);
        found = true;
        break;
      } else {
        ++i;
      }
    }
  }
  std::sort(taken.begin(), taken.end());
  return taken;
}

TEST(MSTOracle, RestartScanAndKruskal) {
  for (const uint64_t seed : {2u, 8u, 13u}) {
    TNetGenOptions o;
    o.Seed = seed;
    o.Nodes = 500;
    o.Drop = 0.3;
    TGeneratedNetwork g(o);
    TNetwork& nw = g.NW;
    // Many equal costs: the order of equal edges decides the tree.
    nw.CreateArrayCost(1);
    TRandom r;
    r.SetSeed(int64_t(seed));
    std::vector<float> cost(size_t(nw.LinkCount()) + 1, 0);
    for (int32_t l = 1; l <= nw.LinkCount(); ++l) {
      cost[size_t(l)] = float(1 + r.NextInt(4));
      nw.SetCost(0, l, cost[size_t(l)]);
    }
    for (const bool turnmode : {false, true}) {
      TCalc c(nw, turnmode);
      c.SetCost(0);
      c.SetCheapest(false);
      TBitArray links(3);
      links.SetAllTrue();
      c.MST(links);
      ASSERT_EQ(links.Size(), nw.LinkCount() + 1);
      const std::vector<int32_t> got = SetBits(links);
      EXPECT_EQ(got, RestartScan(nw, cost)) << seed << turnmode;

      // Kruskal over the component of the cheapest link.
      TWeighted graph(size_t(nw.NodeCount()) + 1);
      int32_t cheapest = 0;
      for (int32_t l = 1; l <= nw.LinkCount(); ++l) {
        if (nw.Lengths()[size_t(l)] == 0) continue;
        boost::add_edge(nw.Fromnodes()[size_t(l)], nw.Tonodes()[size_t(l)], double(cost[size_t(l)]), graph);
        if (cheapest == 0 || cost[size_t(l)] < cost[size_t(cheapest)]) cheapest = l;
      }
      std::vector<int> comp(size_t(nw.NodeCount()) + 1);
      boost::connected_components(graph, comp.data());
      const int home = comp[size_t(nw.Fromnodes()[size_t(cheapest)])];
      std::vector<boost::graph_traits<TWeighted>::edge_descriptor> edges;
      boost::kruskal_minimum_spanning_tree(graph, std::back_inserter(edges));
      double kruskal = 0;
      for (const auto& e : edges)
        if (comp[boost::source(e, graph)] == home) kruskal += boost::get(boost::edge_weight, graph, e);
      double ours = 0;
      for (const int32_t l : got) {
        ours += cost[size_t(l)];
        EXPECT_EQ(comp[size_t(nw.Fromnodes()[size_t(l)])], home) << "link " << l;
      }
      EXPECT_EQ(ours, kruskal) << seed << turnmode;
    }
  }
}

class SpanningTest : public AnalysisFixture {};

TEST_F(SpanningTest, MSTCases) {
  struct Case {
    const char* name;
    TBuild build;
    std::vector<int32_t> links;
  };
  const Case cases[] = {
      {"a single link", [](TTestNetworkWriter& w) { w.AddLink({{0, 0}, {1, 0}}); }, {1}},
      // Lengths 3, 4 and 5 km.
      {"a triangle",
       [](TTestNetworkWriter& w) {
         w.AddLink({{0, 0}, {3, 0}});
         w.AddLink({{3, 0}, {3, 4}});
         w.AddLink({{3, 4}, {0, 0}});
       },
       {1, 2}},
      // The cheapest link (0.5 km) lies in the second system.
      {"two separate systems",
       [](TTestNetworkWriter& w) {
         w.AddLink({{0, 0}, {1, 0}});
         w.AddLink({{1, 0}, {2, 0}});
         w.AddLink({{5, 0}, {5.5, 0}});
         w.AddLink({{5.5, 0}, {6.5, 0}});
       },
       {3, 4}},
      {"rejected objects take no part",
       [](TTestNetworkWriter& w) {
         w.AddRejected();
         w.AddLink({{0, 0}, {1, 0}});
         w.AddRejected();
       },
       {2}},
      // No link of non-zero length: nothing to start from, every bit clear.
      {"only rejected objects",
       [](TTestNetworkWriter& w) {
         w.AddRejected();
         w.AddRejected();
       },
       {}},
      // A loop is never taken, not even as the cheapest first edge.
      {"a loop cheaper than the only other link",
       [](TTestNetworkWriter& w) {
         w.AddLink({{0, 0}, {0.1, 0}, {0.1, 0.1}, {0, 0}});
         w.AddLink({{0, 0}, {2, 0}});
       },
       {2}},
  };
  for (const Case& k : cases) {
    Open(k.build);
    TCalc c(*nw, false);
    TBitArray links;
    links.SetSize(3);
    links.SetBit2(1, true);
    c.MST(links);
    EXPECT_EQ(SetBits(links), k.links) << k.name;
    EXPECT_EQ(links.Size(), nw->LinkCount() + 1) << k.name;
  }
}

// The costs are read from the criterion's column: a network reopened without
// it is refused instead of read outside its arrays; a closed one too.
TEST_F(SpanningTest, MSTChecksTheColumnsAndTheNetwork) {
  Open([](TTestNetworkWriter& w) { w.AddLink({{0, 0}, {1, 0}}); });
  nw->CreateArrayCost(1);
  TCalc c(*nw, false);
  c.SetCost(0);
  c.SetCheapest(false);
  nw->Close();
  TBitArray links(2);
  links.SetAllTrue();
  EXPECT_EQ(MessageOf([&] { c.MST(links); }), "Network is not open");
  nw->Open(true, false, false, 0);
  EXPECT_EQ(MessageOf([&] { c.MST(links); }), "Call SetCostFT and SetCostTF to define Cost-Array");
  EXPECT_EQ(SetBits(links), (std::vector<int32_t>{0, 1})) << "untouched";
}

// --- Steiner trees ------------------------------------------------------------------

TEST(SteinerOracle, ConnectedAndWithinTheClosureBound) {
  for (const uint64_t seed : {4u, 9u}) {
    TNetGenOptions o;
    o.Seed = seed;
    o.Nodes = 400;
    o.Drop = 0.05;
    TGeneratedNetwork g(o);
    const TNetwork& nw = g.NW;
    TOracleOptions oo;
    oo.IgnoreOneway = true;
    const TBglOracle oracle(nw, oo);
    // Terminals in the component of node 1.
    const std::vector<float> from1 = oracle.NodeTree(1);
    TRandom r;
    r.SetSeed(int64_t(seed));
    TIntegerList terminals;
    while (terminals.Count() < 8) {
      const int32_t v = 1 + r.NextInt(nw.NodeCount());
      if (from1[size_t(v)] < 1e35f) terminals.Add(v);
    }
    for (const bool turnmode : {false, true}) {
      TCalc c(g.NW, turnmode);
      TBitArray links;
      c.SteinerTree(terminals, links);
      EXPECT_FALSE(c.IgnoreOneway());
      TWeighted sub(size_t(nw.NodeCount()) + 1);
      double cost = 0;
      for (const int32_t l : SetBits(links)) {
        boost::add_edge(nw.Fromnodes()[size_t(l)], nw.Tonodes()[size_t(l)], 1.0, sub);
        cost += oracle.LinkWeight(l);
      }
      std::vector<int> comp(size_t(nw.NodeCount()) + 1);
      boost::connected_components(sub, comp.data());
      for (int32_t i = 1; i < terminals.Count(); ++i)
        EXPECT_EQ(comp[size_t(terminals.GetItem(i))], comp[size_t(terminals.GetItem(0))])
            << seed << turnmode << " terminal " << i;
      if (turnmode) continue;  // turn rules may lengthen the routes
      TWeighted closure(size_t(terminals.Count()));
      for (int32_t i = 0; i < terminals.Count(); ++i) {
        const std::vector<float> t = oracle.NodeTree(terminals.GetItem(i));
        for (int32_t j = i + 1; j < terminals.Count(); ++j)
          boost::add_edge(i, j, double(t[size_t(terminals.GetItem(j))]), closure);
      }
      std::vector<boost::graph_traits<TWeighted>::edge_descriptor> edges;
      boost::kruskal_minimum_spanning_tree(closure, std::back_inserter(edges));
      double bound = 0;
      for (const auto& e : edges) bound += boost::get(boost::edge_weight, closure, e);
      EXPECT_LE(cost, bound * (1 + 1e-6)) << seed;
    }
  }
}

// A road (0,0)-(1,0)-(2,0)-(3,0) with a branch (1,0)-(1,1), a small ring at
// (3,0) through (4,0.2) and (4,-0.2), and a separate link far away.
void SteinerNetwork(TTestNetworkWriter& w) {
  w.AddLink({{0, 0}, {1, 0}});       // 1
  w.AddLink({{1, 0}, {2, 0}});       // 2
  w.AddLink({{2, 0}, {3, 0}});       // 3
  w.AddLink({{1, 0}, {1, 1}});       // 4
  w.AddLink({{3, 0}, {4, 0.2}});     // 5
  w.AddLink({{4, 0.2}, {4, -0.2}});  // 6
  w.AddLink({{4, -0.2}, {3, 0}});    // 7
  w.AddLink({{9, 9}, {10, 9}});      // 8
}

TEST_F(SpanningTest, SteinerCases) {
  Open([](TTestNetworkWriter& w) {
    SteinerNetwork(w);
    w.SetAttribute(1, cAttrOnewayFromTo);  // set aside by the run
  });
  struct Case {
    const char* name;
    std::vector<std::pair<double, double>> nodes;
    std::vector<int32_t> links;
  };
  const Case cases[] = {
      {"two nodes, against a one-way rule", {{1, 0}, {0, 0}}, {1}},
      {"three along one road, the middle last", {{0, 0}, {3, 0}, {2, 0}}, {1, 2, 3}},
      {"one node", {{0, 0}}, {}},
      {"no node", {}, {}},
      {"a node listed twice", {{0, 0}, {2, 0}, {0, 0}}, {1, 2}},
      {"twice, nothing else", {{2, 0}, {2, 0}}, {}},
      {"a terminal on a junction", {{0, 0}, {1, 1}, {2, 0}, {1, 0}}, {1, 2, 4}},
      // A tree from (3,0) in turn mode comes back to it round the ring
      // before it reaches (1,1).
      {"a ring at the origin", {{3, 0}, {1, 1}}, {2, 3, 4}},
  };
  for (const Case& k : cases) {
    for (const bool turnmode : {false, true}) {
      TCalc c(*nw, turnmode);
      TIntegerList NL;
      for (const auto& [x, y] : k.nodes) NL.Add(NodeAt(x, y));
      TBitArray links(2);
      links.SetAllTrue();
      c.SteinerTree(NL, links);
      EXPECT_EQ(SetBits(links), k.links) << k.name << turnmode;
      EXPECT_EQ(links.Size(), nw->LinkCount() + 1);
    }
  }
}

// A node on another road system: the position in the list of nodes still to
// be joined, the passes done kept, IgnoreOneway and progress put back.
TEST_F(SpanningTest, SteinerElementNotConnected) {
  Open(SteinerNetwork);
  for (const bool turnmode : {false, true}) {
    TCalc c(*nw, turnmode);
    int zero = 0;
    c.SetOnProgress([&](TObject*, int32_t p, bool&) { zero += p == 0; });
    // Pass 0 joins (0,0) and (1,0); pass 1 finds no tree node from (9,9),
    // position 0 of the nodes still to be joined.
    TIntegerList NL;
    NL.Add(NodeAt(0, 0));
    NL.Add(NodeAt(1, 0));
    NL.Add(NodeAt(9, 9));
    NL.Add(NodeAt(10, 9));
    TBitArray links;
    EXPECT_EQ(MessageOf([&] { c.SteinerTree(NL, links); }), "Element 0 is not connected") << turnmode;
    EXPECT_EQ(SetBits(links), (std::vector<int32_t>{1})) << turnmode;
    EXPECT_FALSE(c.IgnoreOneway());
    EXPECT_GE(zero, 1);
    // Already in pass 0: the position in the list given.
    TIntegerList far;
    far.Add(NodeAt(0, 0));
    far.Add(NodeAt(1, 0));
    far.Add(NodeAt(10, 9));
    far.Add(NodeAt(2, 0));
    EXPECT_EQ(MessageOf([&] { c.SteinerTree(far, links); }), "Element 2 is not connected") << turnmode;
    EXPECT_TRUE(SetBits(links).empty());
  }
}

// A node id out of range is refused before the bit array changes.
TEST_F(SpanningTest, SteinerRefusesABadNode) {
  Open(SteinerNetwork);
  TCalc c(*nw, false);
  TIntegerList NL;
  NL.Add(1);
  NL.Add(nw->NodeCount() + 1);
  TBitArray links(2);
  links.SetAllTrue();
  EXPECT_NE(MessageOf([&] { c.SteinerTree(NL, links); }), "");
  EXPECT_EQ(SetBits(links), (std::vector<int32_t>{0, 1}));
}

// A handler that raises: IgnoreOneway is put back.
TEST_F(SpanningTest, SteinerRestoresIgnoreOnewayWhenTheHandlerRaises) {
  Open(SteinerNetwork);
  TCalc c(*nw, false);
  c.SetOnProgress([](TObject*, int32_t p, bool&) {
    if (p > 0) throw Exception("stop");
  });
  TIntegerList NL;
  NL.Add(NodeAt(0, 0));
  NL.Add(NodeAt(3, 0));
  NL.Add(NodeAt(1, 1));
  TBitArray links;
  EXPECT_EQ(MessageOf([&] { c.SteinerTree(NL, links); }), "stop");
  EXPECT_FALSE(c.IgnoreOneway());
}

}  // namespace
