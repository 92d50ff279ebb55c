// Clones answer like their source and change apart from it; the services
// registered by the layers above; the code page that holds every road name.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "foundation/kovra_charset.h"
#include "network/kovra_quadtree.h"
#include "network/kovra_turn.h"
#include "network_fixture.h"
#include "platform/kovra_codepage.h"
#include "support/test_raises.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

TTestNetworkWriter Grid() {
  TTestNetworkWriter w;
  w.AddSample();
  w.AddGrid({4, 4, 10, 3, 0.2});
  w.SpatialIndex = true;
  std::vector<int32_t> ids;
  for (int32_t l = 1; l <= w.LinkCount(); ++l) ids.push_back(500 + l);
  w.SetExternalIDs(ids);
  w.SetAttribute(1, 512);
  return w;
}

class NetworkClone : public TNetworkTest {};

TEST_F(NetworkClone, AnswersLikeItsSourceAndChangesApart) {
  TNetwork& src = Open(Grid(), true, true, 3);
  src.SetCoordinateWindow(35);
  TNetwork clone;
  EXPECT_EQ(MessageOf<ENetworkIsClosed>([&] { clone.Clone(src); }), "Network is not open");
  src.Clone(clone);
  ASSERT_TRUE(clone.IsOpen());
  EXPECT_EQ(clone.Directory(), src.Directory());
  EXPECT_EQ(clone.LinkCount(), src.LinkCount());
  EXPECT_EQ(clone.NodeCount(), src.NodeCount());
  EXPECT_EQ(clone.Lengths(), src.Lengths());
  EXPECT_EQ(clone.Attributes(), src.Attributes());
  EXPECT_EQ(clone.X(), src.X());
  EXPECT_EQ(clone.CoordinateWindow(), 35);
  EXPECT_EQ(clone.MBRX().xmax, src.MBRX().xmax);
  EXPECT_EQ(clone.LengthAlpha(), src.LengthAlpha());
  for (int32_t n = 1; n <= src.NodeCount(); ++n) EXPECT_TRUE(std::ranges::equal(clone.Adjacent(n), src.Adjacent(n)));
  EXPECT_EQ(clone.Link2ExternalID(4), "504");
  EXPECT_EQ(clone.CulDeSacs().CountTrue(), src.CulDeSacs().CountTrue());
  const TFloatPoint p = src.Node2Coordinate(3);
  EXPECT_EQ(&clone.FindQuadTreeCell(p), &src.FindQuadTreeCell(p));  // one tree, shared

  const std::vector<int32_t> before(src.Adjacent(src.Fromnodes()[4]).begin(), src.Adjacent(src.Fromnodes()[4]).end());
  clone.OneWaySet(4, 1024);
  clone.TurnSet(0).AddSimple(4, 5, -1);
  EXPECT_EQ(src.AttributeGet(4), 0);
  EXPECT_TRUE(std::ranges::equal(src.Adjacent(src.Fromnodes()[4]), before));
  EXPECT_EQ(src.TurnSet(0).Count(), 0);
  EXPECT_NE(clone.AttributeVersion(), 0u);

  // The shared external-id reader outlives whichever closes first.
  src.Close();
  EXPECT_EQ(clone.Link2ExternalID(5), "505");
  TNetwork second;
  clone.Clone(second);
  clone.Close();
  EXPECT_EQ(second.Link2ExternalID(6), "506");
  second.Close();
}

TEST_F(NetworkClone, CloneOntoAnOpenNetworkReplacesIt) {
  TTestNetworkWriter small;
  small.AddLink({{0, 0}, {10, 0}});
  TTempDir other;
  small.Write(other.Path.string() + "/");
  TNetwork target;
  target.SetDirectory(other.Path.string());
  target.Open(false, false, false, 0);
  const uint64_t generation = target.OpenGeneration();
  TNetwork& src = Open(Grid());
  src.Clone(target);
  EXPECT_EQ(target.LinkCount(), src.LinkCount());
  EXPECT_EQ(target.Directory(), src.Directory());
  EXPECT_NE(target.OpenGeneration(), generation);
  src.Clone(src);  // onto itself: nothing
  EXPECT_TRUE(src.IsOpen());
}

TEST(NetworkSeams, AlphaShapeLoaderRunsOnceAndItsErrorPropagates) {
  int runs = 0;
  SetAlphaShapeLoader([&] {
    if (++runs == 1) throw Exception("Cannot find function Init");
  });
  EXPECT_EQ(MessageOf([] { TNetwork n; }), "Cannot find function Init");
  for (int i = 0; i < 3; ++i) TNetwork n;
  EXPECT_EQ(runs, 2);  // the failed run, then one that worked
  SetAlphaShapeLoader(nullptr);
  TNetwork n;
  EXPECT_EQ(runs, 2);
}

TEST(NetworkSeams, NearestNodeFinderComesFromTheFactory) {
  TNetwork net;
  EXPECT_EQ(MessageOf([&] { net.NearestNodeFinder(); }), "Spatial index need to be open");
  struct TFinder : INearestNodeFinder {
    explicit TFinder(const TNetwork& n) : net(n) {}
    void NearestNode(const TFloatPoint&, int32_t& node, double& distance) override {
      node = net.LinkCount() + 7;
      distance = 0.5;
    }
    const TNetwork& net;
  };
  SetNearestNodeFinderFactory([](const TNetwork& n) { return std::make_unique<TFinder>(n); });
  int32_t node = 0;
  double distance = 0;
  net.NearestNodeFinder()->NearestNode({0, 0}, node, distance);
  EXPECT_EQ(node, 7);
  SetNearestNodeFinderFactory(nullptr);
  EXPECT_EQ(MessageOf([&] { net.NearestNodeFinder(); }), "Spatial index need to be open");
}

// The first candidate page in which uconv can write every name (stop callback).
uint16_t UconvCodePage(const std::vector<std::string>& Names, const std::string& Dir) {
  const std::string file = Dir + "names.txt";
  std::string text;
  for (const std::string& n : Names) text += n + "\n";
  WriteBytes(file, text);
  std::vector<uint16_t> pages{GetSystemAnsiCodePage()};
  for (int32_t i = 0; i < CodePageDBFList().Count(); ++i)
    if (CodePageDBFList().GetItem(i) != pages[0]) pages.push_back(CodePageDBFList().GetItem(i));
  for (uint16_t cp : pages) {
    if (cp >= 10000) continue;  // no Mac page is needed for these names
    const bool windows = cp >= 1250 || cp == 874 || (cp >= 932 && cp <= 950);
    const std::string name = (windows ? "windows-" : "ibm-") + std::to_string(cp);
    const std::string cmd = "uconv -f utf-8 -t " + name + " --callback stop " + file + " >/dev/null 2>&1";
    if (std::system(cmd.c_str()) == 0) return cp;
  }
  return 0;
}

TEST_F(NetworkClone, ValidCodePageOfRoadNames) {
  if (std::system("uconv --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "uconv is not installed";
  struct TCase {
    const char* name;
    std::vector<std::string> names;
    uint16_t page;
  };
  const std::vector<TCase> cases{
      {"Latin", {"Hauptstraße", "Rue de l'Église"}, 1252},
      {"Greek", {"Οδός Αθηνάς", "Πλατεία"}, 1253},
      {"Cyrillic", {"улица Ленина", "Невский проспект"}, 1251},
      {"Japanese", {"ﾄｳｷｮｳ", "東京駅"}, 932},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TTestNetworkWriter w;
    for (size_t i = 0; i < 3; ++i) w.AddLink({{double(i), 0}, {double(i) + 1, 0}});
    w.SetRoadNames(1, {c.names[0], "", c.names[1]});
    TNetwork& net = Open(w);
    EXPECT_EQ(MessageOf([&] { net.ValidCodePage(false); }), "No roadfiles are open");
    net.OpenRoadName(1, false);
    const uint16_t page = net.ValidCodePage(false);
    EXPECT_EQ(page, c.page);
    EXPECT_EQ(page, UconvCodePage(c.names, Dir()));
  }
}

}  // namespace
