// Joined links: the chains, rings, groups and spurs of each topology, the
// argument checks, the turn files in joined numbers, and oracles on random
// networks (connected components from the Boost Graph Library, walks through
// degree-2 nodes, a literal pass-per-group version of the value groups).
#include <gtest/gtest.h>

#include <boost/graph/adjacency_list.hpp>
#include <boost/graph/connected_components.hpp>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "foundation/kovra_functions.h"
#include "giswriter/kovra_giswriter.h"
#include "network/kovra_turn.h"
#include "network/support/join_oracle.h"
#include "network_fixture.h"
#include "support/gdal_readback.h"
#include "support/test_files.h"
#include "support/test_raises.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

struct TLinkSpec {
  TFloatPointArray Points;  // empty: a rejected object
  uint16_t Attribute = 0;
};

TTestNetworkWriter Writer(const std::vector<TLinkSpec>& links) {
  TTestNetworkWriter w;
  w.Unit = cuM;
  for (const TLinkSpec& l : links) {
    const int32_t id = l.Points.empty() ? w.AddRejected() : w.AddLink(l.Points);
    w.SetAttribute(id, l.Attribute);
  }
  return w;
}

std::vector<TRec> Records(const TNetwork& net) {
  const TGISArray& t = net.GISarray();
  return std::vector<TRec>(t.Rec.begin(), t.Rec.begin() + t.RecCount);
}

int32_t MaxOf(const TIntegerArray& IA) {
  int32_t m = 0;
  for (int32_t v : IA) m = std::max(m, v);
  return m;
}

class JoinTest : public TNetworkTest {
protected:
  TNetwork& Build(const std::vector<TLinkSpec>& links) { return Open(Writer(links), true); }

  TIntegerArray Join(int32_t topology, int32_t RoadFileID = 0, bool attributes = false, TGISFormat GF = gfArray,
                     const std::string& name = "joined") {
    TIntegerArray IA;
    fNet->Join(PathOf(name), GF, topology, RoadFileID, attributes, IA);
    return IA;
  }
};

// A-B-C-D along the x axis, 100 m apart.
const TFloatPoint A{0, 0}, B{100, 0}, C{200, 0}, D{300, 0};

TEST_F(JoinTest, ChainsRingsGroupsAndSpurs) {
  const TFloatPointArray line = {A, B, C, D};
  const TFloatPointArray reversed = {D, C, B, A};
  const TFloatPoint P1{0, 500}, P2{100, 500}, P3{100, 600}, P4{0, 600};
  struct TCase {
    const char* Name;
    std::vector<TLinkSpec> Links;
    int32_t Topology;
    bool Attributes;
    TIntegerArray IA;
    std::vector<std::vector<TFloatPointArray>> Parts;  // per record; empty: not compared
  };
  const std::vector<TCase> cases = {
      {"chain A-D", {{{A, B}}, {{B, C}}, {{C, D}}}, 2, false, {0, 1, 1, 1}, {{line}}},
      {"chain digitised D to A", {{{B, A}}, {{C, B}}, {{D, C}}}, 2, false, {0, 1, 1, 1}, {{reversed}}},
      {"middle attribute differs",
       {{{A, B}, 1}, {{B, C}, 2}, {{C, D}, 1}},
       2,
       true,
       {0, 1, 2, 3},
       {{{A, B}}, {{B, C}}, {{C, D}}}},
      {"isolated ring of four", {{{P1, P2}}, {{P2, P3}}, {{P3, P4}}, {{P4, P1}}}, 2, false, {0, 1, 1, 2, 2},
       {{{P1, P2, P3}}, {{P3, P4, P1}}}},
      // Two separate chains of value 1 form one record of two parts.
      {"values, two chains in one record",
       {{{A, B}, 1}, {{B, C}, 1}, {{{0, 100}, {100, 100}}, 2}, {{{0, 200}, {100, 200}}, 1}},
       0,
       true,
       {0, 1, 1, 2, 1},
       {{{A, B, C}, {{0, 200}, {100, 200}}}, {{{0, 100}, {100, 100}}}}},
      // A ring through P2 with a dead-end spur at P2: one group passing the
      // spur; node to node cuts it into the spur and two ring halves.
      {"spur passed", {{{P1, P2}}, {{P2, P3}}, {{P3, P4}}, {{P4, P1}}, {{P2, {200, 500}}}}, 3, false,
       {0, 1, 1, 1, 1, 1}, {}},
      {"spur at a node-to-node cut", {{{P1, P2}}, {{P2, P3}}, {{P3, P4}}, {{P4, P1}}, {{P2, {200, 500}}}}, 2, false,
       {0, 1, 2, 2, 1, 3}, {}},
      {"spur of another value", {{{P1, P2}}, {{P2, P3}}, {{P3, P4}}, {{P4, P1}}, {{P2, {200, 500}}, 5}}, 3, true,
       {0, 1, 1, 1, 1, 2}, {}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Build(c.Links);
    const TIntegerArray IA = Join(c.Topology, 0, c.Attributes);
    EXPECT_EQ(IA, c.IA);
    const std::vector<TRec> rows = Records(*fNet);
    ASSERT_EQ(rows.size(), size_t(MaxOf(c.IA)));
    for (size_t r = 0; r < rows.size(); ++r) {
      EXPECT_EQ(std::get<int32_t>(rows[r].Attr[0]), int32_t(r) + 1);
      if (!c.Parts.empty()) {
        EXPECT_EQ(rows[r].Coord, c.Parts[r]) << "record " << r;
      }
    }
  }
}

TEST_F(JoinTest, ArgumentsAreRefusedBeforeAnythingExists) {
  Build({{{A, B}}, {{B, C}}});
  const std::string name = PathOf("refused");
  struct TCase {
    int32_t Topology, RoadFileID;
    bool Attributes;
    std::string Message;
  };
  const std::vector<TCase> cases = {
      {4, 0, true, "Topology must be 0 to 3: 4"},
      {-1, 0, true, "Topology must be 0 to 3: -1"},
      {0, 0, false, "One of parameters Topology, RoadFileID and Attributes should be set. (0,0,false) is not allowed."},
  };
  for (const TCase& c : cases) {
    TIntegerArray IA = {7};
    EXPECT_EQ(MessageOf<EOutOfRange>([&] { fNet->Join(name, gfMIF, c.Topology, c.RoadFileID, c.Attributes, IA); }),
              c.Message);
    EXPECT_TRUE(IA.empty());
  }
  TIntegerArray IA;
  EXPECT_THROW(fNet->Join(name, gfMIF, 1, 100, false, IA), EOutOfRange);
  EXPECT_THROW(fNet->Join(name, gfMIF, 1, 3, false, IA), ERoadNameFileNotOpen);

  // An empty name would put "_0.turn" into the current folder.
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  EXPECT_EQ(MessageOf<EInvalidParameter>([&] { fNet->Join("", gfMIF, 2, 0, false, IA); }),
            "Join: file name must not be empty");
  std::filesystem::current_path(cwd);
  EXPECT_TRUE(IA.empty());

  fNet->Close();
  EXPECT_THROW(fNet->Join(name, gfMIF, 2, 0, false, IA), ENetworkIsClosed);
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    const std::string f = e.path().filename().string();
    EXPECT_TRUE(f.find("refused") == std::string::npos && f.find(".turn") == std::string::npos) << f;
  }
}

TEST_F(JoinTest, RejectedLinksStayOutAndRingsEnd) {
  const TFloatPoint P1{0, 500}, P2{100, 500}, P3{100, 600}, P4{0, 600};
  // A rejected object between the links, a closed ring of equal links and a
  // lone loop link: every walk ends, and the rejected object joins nothing.
  Build({{{A, B}, 1},
         {{}, 1},
         {{B, C}, 1},
         {{P1, P2}, 1},
         {{P2, P3}, 1},
         {{P3, P4}, 1},
         {{P4, P1}, 1},
         {{{500, 0}, {600, 0}, {600, 100}, {500, 0}}, 1}});
  for (int32_t topology = 0; topology <= 3; ++topology) {
    SCOPED_TRACE(topology);
    const TIntegerArray IA = Join(topology, 0, true);
    ASSERT_EQ(IA.size(), 9u);
    EXPECT_EQ(IA[2], 0);
    for (int32_t l : {1, 3, 4, 5, 6, 7, 8}) EXPECT_NE(IA[size_t(l)], 0) << "link " << l;
    EXPECT_EQ(int32_t(Records(*fNet).size()), MaxOf(IA));
  }
  // Value groups: everything matches, so one pass and one record.
  EXPECT_EQ(MaxOf(Join(0, 0, true)), 1);
}

TEST_F(JoinTest, ConnectedGroupsKeepLinksThatMatchNeitherEnd) {
  // Link 3 (value 2) lies between link 1 (value 1) and link 2 (value 3); at
  // both of its nodes the group's reference is the other link.
  Build({{{A, B}, 1}, {{C, D}, 3}, {{B, C}, 2}});
  EXPECT_EQ(Join(1, 0, true), (TIntegerArray{0, 1, 2, 3}));
  const std::vector<TRec> rows = Records(*fNet);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[2].Attr[1], TGISValue(int32_t(2)));
  EXPECT_EQ(rows[2].Coord, (std::vector<TFloatPointArray>{{B, C}}));
}

TEST_F(JoinTest, TurnFilesCarryTheJoinedNumbers) {
  Build({{{A, B}, 1}, {{B, C}, 1}, {{C, D}, 2}, {{C, {200, 100}}, 2}});
  TTurnRestrictions& ts = fNet->TurnSet(0);
  ts.AddSimple(1, 2, -1);      // inside group 1: not written
  ts.AddSimple(2, 3, -1);      // 1 -> 2
  ts.AddSimple(2, 4, 2.5f);    // 1 -> 3
  ts.AddSimple(4, 3, -1);      // 3 -> 2
  const TIntegerArray IA = Join(2, 0, true, gfMIF, "turns");
  ASSERT_EQ(IA, (TIntegerArray{0, 1, 1, 2, 3}));
  TTurnRestrictions expected(4);
  expected.AddSimple(1, 2, -1);
  expected.AddSimple(1, 3, 2.5f);
  expected.AddSimple(3, 2, -1);
  const std::string want = PathOf("want.turn");
  expected.ExportTxt(want);
  // Bucket order of the joined numbers differs from the source's: compare
  // the lines as sets, the header first.
  auto lines = [](const std::string& bytes) {
    std::multiset<std::string> s;
    size_t at = 0;
    while (at < bytes.size()) {
      const size_t end = bytes.find("\r\n", at);
      s.insert(bytes.substr(at, end - at));
      at = end == std::string::npos ? bytes.size() : end + 2;
    }
    return s;
  };
  const std::string got = ReadBytes(PathOf("turns_0.turn"));
  EXPECT_EQ(got.substr(0, got.find("\r\n")), cTurnFileHeader);
  EXPECT_EQ(lines(got), lines(ReadBytes(want)));
}

TEST_F(JoinTest, GdalReadsOneFeaturePerGroup) {
  TTestNetworkWriter w;
  w.Unit = cuM;
  w.AddGrid({.Columns = 6, .Rows = 5, .Spacing = 100, .MaxVertices = 3, .Bulge = 0.1});
  std::vector<std::string> names;
  for (int32_t l = 1; l <= w.LinkCount(); ++l) {
    w.SetAttribute(l, uint16_t(l % 3));
    names.push_back(l % 2 ? "Main \"North\" St" : "Side");
  }
  w.SetRoadNames(1, names);
  Open(w, true);
  fNet->OpenRoadName(1, true);
  for (const auto& [GF, ext] : {std::pair{gfSHP, ".shp"}, std::pair{gfMIF, ".mif"}}) {
    const TIntegerArray IA = Join(2, 1, true, GF, "grid");
    const TOgrLayer layer = ReadOgrLayer(PathOf("grid") + ext);
    ASSERT_TRUE(layer.Opened);
    EXPECT_EQ(layer.FeatureCount, MaxOf(IA));
    ASSERT_EQ(layer.Fields.size(), 3u);
    EXPECT_EQ(layer.Fields[0].Name, "ID");
    EXPECT_EQ(layer.Fields[1].Name, "Roadname1");
    EXPECT_EQ(layer.Fields[2].Name, "Attribute");
    for (size_t f = 0; f < layer.Features.size(); ++f) {
      const int32_t id = int32_t(f) + 1;
      EXPECT_EQ(layer.Value(f, "ID"), IntToStr(id));
      int32_t first = 0;
      for (int32_t l = 1; l <= fNet->LinkCount() && first == 0; ++l)
        if (IA[size_t(l)] == id) first = l;
      EXPECT_EQ(layer.Value(f, "Attribute"), IntToStr(fNet->AttributeGet(first)));
      EXPECT_EQ(layer.Features[f].Wkt.rfind("LINESTRING", 0), 0u) << layer.Features[f].Wkt;
    }
  }
}

// Random networks on a grid: links between neighbours, either direction,
// one of Values attribute values, now and then a rejected object, a loop
// link, a parallel link or an isolated ring.
TTestNetworkWriter RandomNetwork(std::mt19937& rng, int32_t Size, int32_t Values, std::vector<std::string>* Names) {
  TTestNetworkWriter w;
  w.Unit = cuM;
  std::uniform_real_distribution<double> u(0, 1);
  auto add = [&](TFloatPointArray pts) {
    if (u(rng) < 0.5) std::reverse(pts.begin(), pts.end());
    const int32_t id = w.AddLink(pts);
    w.SetAttribute(id, uint16_t(rng() % uint32_t(Values)));
    if (Names) Names->push_back(rng() % 2 ? "A" : "B");
  };
  for (int32_t x = 0; x < Size; ++x)
    for (int32_t y = 0; y < Size; ++y) {
      const TFloatPoint p{x * 100.0, y * 100.0};
      if (x + 1 < Size && u(rng) < 0.6) add({p, {p.x + 50, p.y + 7}, {p.x + 100, p.y}});
      if (y + 1 < Size && u(rng) < 0.6) add({p, {p.x + 7, p.y + 50}, {p.x, p.y + 100}});
      if (u(rng) < 0.03) add({p, {p.x + 20, p.y + 20}, {p.x + 30, p.y}, p});
      if (x + 1 < Size && u(rng) < 0.03) add({p, {p.x + 50, p.y - 9}, {p.x + 100, p.y}});
      if (u(rng) < 0.03) {
        w.AddRejected();
        if (Names) Names->push_back("A");
      }
    }
  const double ox = Size * 100.0 + 500;
  const int32_t k = 2 + int32_t(rng() % 4);
  for (int32_t i = 0; i < k; ++i) {
    const double a0 = 2 * M_PI * i / k, a1 = 2 * M_PI * ((i + 1) % k) / k;
    add({{ox + 100 * std::cos(a0), 100 * std::sin(a0)}, {ox + 100 * std::cos(a1), 100 * std::sin(a1)}});
  }
  return w;
}

TEST_F(JoinTest, ConnectedGroupsAreTheComponents) {
  std::mt19937 rng(11);
  for (int32_t run = 0; run < 30; ++run) {
    SCOPED_TRACE(run);
    Open(RandomNetwork(rng, 3 + run % 8, 3, nullptr), true);
    const TNetwork& net = *fNet;
    const TIntegerArray IA = Join(1, 0, false);
    boost::adjacency_list<boost::vecS, boost::vecS, boost::undirectedS> g(size_t(net.NodeCount()) + 1);
    for (int32_t l = 1; l <= net.LinkCount(); ++l)
      if (net.LinkLength(l) != 0) boost::add_edge(size_t(net.Link2FromNode(l)), size_t(net.Link2ToNode(l)), g);
    std::vector<int> component(boost::num_vertices(g));
    boost::connected_components(g, component.data());
    std::map<int, int32_t> groupOf;  // component -> group
    std::set<int32_t> groups;
    for (int32_t l = 1; l <= net.LinkCount(); ++l) {
      if (net.LinkLength(l) == 0) {
        EXPECT_EQ(IA[size_t(l)], 0);
        continue;
      }
      const int comp = component[size_t(net.Link2FromNode(l))];
      const auto [it, added] = groupOf.try_emplace(comp, IA[size_t(l)]);
      EXPECT_EQ(it->second, IA[size_t(l)]) << "link " << l;
      groups.insert(IA[size_t(l)]);
    }
    EXPECT_EQ(groups.size(), groupOf.size());

    // With values to compare, every valid link still gets a group.
    const TIntegerArray IAv = Join(1, 0, true);
    for (int32_t l = 1; l <= net.LinkCount(); ++l)
      EXPECT_EQ(IAv[size_t(l)] != 0, net.LinkLength(l) != 0) << "link " << l;
    EXPECT_EQ(int32_t(Records(net).size()), MaxOf(IAv));
  }
}

TEST_F(JoinTest, NodeToNodeGroupsAreWalksThroughDegreeTwoNodes) {
  std::mt19937 rng(12);
  for (int32_t run = 0; run < 30; ++run) {
    SCOPED_TRACE(run);
    Open(RandomNetwork(rng, 3 + run % 8, 2, nullptr), true);
    const TNetwork& net = *fNet;
    const bool attributes = run % 2 == 1;
    const TIntegerArray IA = Join(2, 0, attributes);
    std::map<int32_t, std::vector<int32_t>> members;
    for (int32_t l = 1; l <= net.LinkCount(); ++l) {
      EXPECT_EQ(IA[size_t(l)] != 0, net.LinkLength(l) != 0) << "link " << l;
      if (IA[size_t(l)]) members[IA[size_t(l)]].push_back(l);
    }
    ASSERT_EQ(int32_t(members.size()), MaxOf(IA));
    const std::vector<TRec> rows = Records(net);
    ASSERT_EQ(int32_t(rows.size()), MaxOf(IA));
    double total = 0;
    for (const auto& [g, links] : members) {
      std::map<int32_t, int32_t> ends;
      for (int32_t l : links) {
        ++ends[net.Link2FromNode(l)];
        ++ends[net.Link2ToNode(l)];
        total += net.LinkLength(l);
        if (attributes) {
          EXPECT_EQ(net.AttributeGet(l), net.AttributeGet(links[0]));
        }
      }
      int32_t open = 0;
      for (const auto& [node, count] : ends) {
        if (count == 1) ++open;
        // Where the walk passes a node, the node has two link ends.
        if (count >= 2 && links.size() > 1) {
          EXPECT_EQ(net.Degree(node), 2) << "group " << g << " node " << node;
        }
      }
      EXPECT_TRUE(open == 2 || (links.size() == 1 && open == 0)) << "group " << g;
      // A walk in order joins into one line.
      EXPECT_EQ(rows[size_t(g) - 1].Coord.size(), 1u) << "group " << g;
    }
    EXPECT_NEAR(total, net.Length(), 1e-3 * net.Length());
  }
}

TEST_F(JoinTest, ValueGroupsMatchThePassPerGroupWalk) {
  std::mt19937 rng(13);
  for (int32_t run = 0; run < 30; ++run) {
    SCOPED_TRACE(run);
    std::vector<std::string> names;
    TTestNetworkWriter w = RandomNetwork(rng, 2 + run % 7, 1 + run % 3, &names);
    const bool withNames = run % 3 == 0;
    if (withNames) w.SetRoadNames(2, names);
    Open(w, true);
    if (withNames) fNet->OpenRoadName(2, true);
    TTurnRestrictions& ts = fNet->TurnSet(0);
    for (int32_t i = 0; i < 20; ++i) {
      const int32_t a = 1 + int32_t(rng() % uint32_t(fNet->LinkCount()));
      const int32_t b = 1 + int32_t(rng() % uint32_t(fNet->LinkCount()));
      if (a != b) ts.AddSimple(a, b, (i % 2) ? -1.0f : 1.5f);
    }
    const int32_t rf = withNames ? 2 : 0;
    const bool attributes = !withNames || run % 2 == 0;
    const TIntegerArray IA = Join(0, rf, attributes, gfArray, "values");
    TNaiveGroupByValues naive{*fNet, rf, attributes, {}, {}};
    naive.Run();
    EXPECT_EQ(IA, naive.IA);
    const std::vector<TRec> rows = Records(*fNet);
    ASSERT_EQ(int32_t(rows.size()), naive.table.RecCount);
    for (size_t r = 0; r < rows.size(); ++r) {
      EXPECT_EQ(rows[r].Attr, naive.table.Rec[r].Attr) << "record " << r;
      EXPECT_EQ(rows[r].Coord, naive.table.Rec[r].Coord) << "record " << r;
    }
    const std::string want = PathOf("want.turn");
    ts.ExportTxt(want, naive.IA);
    EXPECT_EQ(ReadBytes(PathOf("values_0.turn")), ReadBytes(want));
  }
}

TEST_F(JoinTest, ALongConnectedChainNeedsNoDeepStack) {
  // 300000 links in one zig-zag chain joined through nodes of degree 3 (each
  // with a short dead end), so that connected groups and spurs go deep.
  TTestNetworkWriter w;
  w.Unit = cuM;
  const int32_t n = 150000;
  for (int32_t i = 0; i < n; ++i) {
    const TFloatPoint p{i * 10.0, 0}, q{i * 10.0 + 10, 0};
    w.AddLink({p, q});
    w.AddLink({q, {q.x, 5}});
  }
  w.SetAttribute(1, 0);
  Open(w, true);
  for (int32_t topology : {1, 3}) {
    const TIntegerArray IA = Join(topology, 0, false, gfArray, "deep");
    if (topology == 1) {
      EXPECT_EQ(MaxOf(IA), 1);
    }
    EXPECT_EQ(int32_t(Records(*fNet).size()), MaxOf(IA));
    for (int32_t l = 1; l <= w.LinkCount(); ++l) ASSERT_NE(IA[size_t(l)], 0) << l;
  }
}

}  // namespace
