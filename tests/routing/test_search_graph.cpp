// The network's search graph: every entry against a direct walk of the
// adjacency after the changes that re-sign it and after Close/Open; changes
// between two searches seen by the second; one graph shared by the
// calculators on a network and by its clone; routes on several threads.
#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <vector>

#include "network/kovra_network.h"
#include "routing/kovra_calc.h"
#include "routing/support/netgen.h"
#include "routing/support/netgen_test.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

class SearchGraphTest : public TGenNetworkTest {
protected:
  void SetUp() override {
    TNetGenOptions o;
    o.Seed = 21;
    o.Nodes = 400;
    Generate(o);
  }
  // Every slot of every node: the adjacency entry and the other end, signed
  // by the direction the link is left in.
  static void ExpectWalk(const TNetwork& nw) {
    const TSearchGraph& g = nw.SearchGraph();
    const int32_t* from = nw.Fromnodes().data();
    const int32_t* to = nw.Tonodes().data();
    int64_t compared = 0;
    for (int32_t n = 1; n <= nw.NodeCount(); ++n) {
      const std::span<const int32_t> a = nw.Adjacent(n);
      const std::span<const TSearchEntry> e = g.Of(n);
      ASSERT_EQ(e.size(), a.size()) << "node " << n;
      for (size_t i = 0; i < a.size(); ++i) {
        const int32_t L = a[i] < 0 ? -a[i] : a[i];
        ASSERT_EQ(e[i].slot, a[i]) << "node " << n << " slot " << i + 1;
        ASSERT_EQ(e[i].far, from[L] == n ? to[L] : -from[L]) << "node " << n << " slot " << i + 1;
        ++compared;
      }
    }
    EXPECT_EQ(compared, 2 * int64_t(nw.LinkCount()));
  }
  // Random node pairs with a route in node mode, fixed by the seed.
  std::vector<std::pair<int32_t, int32_t>> Pairs(int32_t count) {
    TRouteCalc c(nw, false);
    TRandom r;
    r.SetSeed(5);
    std::vector<std::pair<int32_t, int32_t>> pairs;
    while (int32_t(pairs.size()) < count) {
      const int32_t a = 1 + r.NextInt(nw.NodeCount()), b = 1 + r.NextInt(nw.NodeCount());
      if (a != b && c.Route(a, b) > 0) pairs.push_back({a, b});
    }
    return pairs;
  }
};

TEST_F(SearchGraphTest, EqualsAWalkOfTheAdjacency) {
  ExpectWalk(nw);
  // Re-signed entries: links made one-way either way, closed, opened.
  const uint16_t codes[] = {0x200, 0x400, 0x600, 0};
  for (int32_t L = 1; L <= 40; ++L) nw.OneWaySet(L, codes[L % 4]);
  ExpectWalk(nw);
  nw.SwapOneWay();
  ExpectWalk(nw);
  // A column holds no part of the graph: the same graph stays.
  const TSearchGraph* signedAgain = &nw.SearchGraph();
  nw.SetTime(0, 1, 1234.5f);
  EXPECT_EQ(&nw.SearchGraph(), signedAgain);
  EXPECT_GT(nw.SearchGraphBytes(), 0);
  EXPECT_LE(nw.SearchGraphBytes(), 16 * (int64_t(nw.LinkCount()) + 1) + 8 * (int64_t(nw.NodeCount()) + 2));
  nw.Close();
  EXPECT_EQ(nw.SearchGraphBytes(), 0);
  EXPECT_THROW(nw.SearchGraph(), ENetworkIsClosed);
  gen.Open(nw, dir.string());
  ExpectWalk(nw);
}

// A change between two searches of one calculator is seen by the second,
// which answers as a calculator made after the change does.
TEST_F(SearchGraphTest, ChangesBetweenSearchesAreSeen) {
  const auto pairs = Pairs(8);
  for (const bool turnmode : {false, true}) {
    SCOPED_TRACE(turnmode ? "turn" : "node");
    nw.Close();
    gen.Open(nw, dir.string());
    TRouteCalc used(nw, turnmode);
    used.SetFastest(false);
    for (const auto& [a, b] : pairs) {
      ASSERT_GT(used.Route(a, b), 0);
      const TRoute r = used.RouteFind(b);
      ASSERT_FALSE(r.links.empty());
      const int32_t L = r.links[r.links.size() / 2] < 0 ? -r.links[r.links.size() / 2] : r.links[r.links.size() / 2];
      auto expectAsFresh = [&] {
        const float got = used.Route(a, b);
        const int64_t settled = used.LastSettled();
        TRouteCalc fresh(nw, turnmode);
        fresh.SetFastest(false);
        EXPECT_EQ(got, fresh.Route(a, b));
        EXPECT_EQ(settled, fresh.LastSettled());
        return got;
      };
      // A column change, then the link closed.
      nw.SetTime(0, L, nw.Times()[0][size_t(L)] + 500);
      expectAsFresh();
      nw.OneWaySet(L, 0x600);
      if (expectAsFresh() > 0) {
        for (const int32_t l : used.RouteFind(b).links) EXPECT_NE(l < 0 ? -l : l, L);
      }
    }
  }
}

TEST_F(SearchGraphTest, OneGraphForEveryCalculatorAndTheClone) {
  TRouteCalc node(nw, false), turn(nw, true);
  const int32_t a = 1, b = nw.NodeCount();
  node.Route(a, b);
  turn.Route(a, b);
  const TSearchGraph* g = &nw.SearchGraph();
  EXPECT_EQ(node.SearchGraphInUse(), g);
  EXPECT_EQ(turn.SearchGraphInUse(), g);
  TNetwork copy;
  nw.Clone(copy);
  TRouteCalc onCopy(copy, false);
  EXPECT_EQ(onCopy.Route(a, b), node.Route(a, b));
  EXPECT_EQ(onCopy.SearchGraphInUse(), g);
  // A change to the clone's adjacency is its own.
  copy.OneWaySet(1, 0x600);
  onCopy.Route(a, b);
  EXPECT_NE(onCopy.SearchGraphInUse(), g);
  EXPECT_EQ(&nw.SearchGraph(), g);
  ExpectWalk(copy);
  ExpectWalk(nw);
}

// Calculators on several threads, the graph not yet built when they start:
// every thread builds or takes the one graph and routes as one thread does.
TEST_F(SearchGraphTest, ConcurrentRoutesOnOneGraph) {
  const auto pairs = Pairs(24);
  std::vector<float> want[2];
  std::vector<int64_t> settled[2];
  for (const bool turnmode : {false, true}) {
    TRouteCalc c(nw, turnmode);
    c.SetAlpha(turnmode ? 0.0f : 1.0f);
    for (const auto& [a, b] : pairs) {
      want[turnmode].push_back(c.Route(a, b));
      settled[turnmode].push_back(c.LastSettled());
    }
  }
  nw.Close();
  gen.Open(nw, dir.string());  // no graph yet
  ASSERT_EQ(nw.SearchGraphBytes(), 0);
  constexpr int32_t cThreads = 4;
  std::vector<std::vector<float>> got(cThreads);
  std::vector<std::vector<int64_t>> gotSettled(cThreads);
  std::vector<const TSearchGraph*> graphs(cThreads);
  std::vector<std::thread> threads;
  for (int32_t t = 0; t < cThreads; ++t)
    threads.emplace_back([&, t] {
      const bool turnmode = t % 2 == 1;
      TRouteCalc c(nw, turnmode);
      c.SetAlpha(turnmode ? 0.0f : 1.0f);
      for (const auto& [a, b] : pairs) {
        got[size_t(t)].push_back(c.Route(a, b));
        gotSettled[size_t(t)].push_back(c.LastSettled());
      }
      graphs[size_t(t)] = c.SearchGraphInUse();
    });
  for (std::thread& th : threads) th.join();
  for (int32_t t = 0; t < cThreads; ++t) {
    SCOPED_TRACE(t);
    EXPECT_EQ(got[size_t(t)], want[t % 2]);
    EXPECT_EQ(gotSettled[size_t(t)], settled[t % 2]);
    EXPECT_EQ(graphs[size_t(t)], &nw.SearchGraph());
  }
}

}  // namespace
