// examples/kovra-route run as a user runs it, on a generated network: its
// cost, links and snapping must be the library's own (TSpatialSearch and
// RouteDynEx on the same network) and its cost that of a plain Dijkstra over
// the network's links (the Boost Graph oracle); its matrix cells those of
// single location routes.
#include <gtest/gtest.h>

#include <charconv>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/kovra_csvfiles.h"
#include "foundation/kovra_random.h"
#include "network/kovra_network.h"
#include "network/kovra_roadclassspeed.h"
#include "routing/kovra_calc.h"
#include "routing/support/bgl_oracle.h"
#include "routing/support/netgen.h"
#include "search/kovra_spatialsearch.h"
#include "support/temp_dir_test.h"

namespace kovra {
namespace {

using testsupport::TBglOracle;
using testsupport::TOracleOptions;

struct TRun {
  int Exit = -1;
  std::string Out, Err;
};

TRun RunRoute(const std::string& Args, const std::string& ErrFile) {
  TRun r;
  const std::string cmd = std::string(KOVRA_ROUTE_BIN) + " " + Args + " 2>" + ErrFile;
  std::FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.Out.append(buf, n);
  const int status = pclose(p);
  r.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.Err = testsupport::ReadBytes(ErrFile);
  return r;
}

// The word after Key on the summary line that starts with Key.
std::string Field(const std::string& Out, const std::string& Key) {
  std::istringstream in(Out);
  for (std::string line; std::getline(in, line);)
    if (line.rfind(Key + " ", 0) == 0) return line.substr(Key.size() + 1);
  return {};
}

float ParseFloat(const std::string& S) {
  float v = -2;
  std::from_chars(S.data(), S.data() + S.size(), v);
  return v;
}

std::string Coord(double v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

class KovraRoute : public testsupport::TTempDirTest {
protected:
  void SetUp() override {
    testsupport::TNetGenOptions o;
    o.Seed = 23;
    o.Nodes = 900;
    // Plain location routes: no duplicate pairs (the route tries a link's
    // duplicate, the oracle does not), no limits (the example sets none).
    o.Duplicate = 0;
    o.Limits = false;
    fNet = dir.string() + "/net/";
    std::filesystem::create_directories(fNet);
    testsupport::GenerateNetwork(o).Write(fNet);
    nw.SetDirectory(fNet);
    nw.Open(true, false, true, 0);
  }

  TFloatPoint RandomPoint() {
    const TFloatRect& r = nw.MBR();
    const double x = r.xmin + fRandom.NextDouble() * (r.xmax - r.xmin);
    const double y = r.ymin + fRandom.NextDouble() * (r.ymax - r.ymin);
    return {x, y};
  }

  std::string Err() const { return fTemp.File("err.txt"); }

  TNetwork nw;
  std::string fNet;
  TRandom fRandom;
};

TEST_F(KovraRoute, CostAndLinksAreTheLibrarysAndAPlainDijkstras) {
  TSpatialSearch s(nw);
  TRouteCalc rc(nw, false);
  rc.SetShortest(false);
  TBglOracle oracle(nw, TOracleOptions{});
  fRandom.SetSeed(5);
  int routed = 0;
  for (int i = 0; i < 12; ++i) {
    SCOPED_TRACE(i);
    const TFloatPoint p1 = RandomPoint(), p2 = RandomPoint();
    const std::string out = fTemp.File("r" + std::to_string(i));
    const TRun run = RunRoute(fNet + " " + Coord(p1.x) + " " + Coord(p1.y) + " " + Coord(p2.x) + " " +
                                  Coord(p2.y) + " --format csv -o " + out,
                              Err());

    TLocation l1, l2;
    int32_t side;
    double d1, d2;
    TFloatPoint foot;
    s.NearestLocation(p1, l1, side, d1, foot);
    s.NearestLocation(p2, l2, side, d2, foot);
    EXPECT_EQ(Field(run.Out, "from " + Coord(p1.x) + " " + Coord(p1.y) + ":").rfind(
                  "link " + std::to_string(l1.link) + " at ", 0),
              0u)
        << run.Out;
    TRoute route;
    const float c = rc.RouteDynEx(l1, l2, route);
    if (c < 0) {
      EXPECT_EQ(run.Exit, 1);
      EXPECT_NE(run.Err.find("kovra-route: no route between the two points"), std::string::npos) << run.Err;
      continue;
    }
    ++routed;
    ASSERT_EQ(run.Exit, 0) << run.Err;
    // The cost as the shortest text that reads back as the same Single.
    EXPECT_EQ(ParseFloat(Field(run.Out, "cost")), c) << run.Out;
    std::string links;
    for (const int32_t l : route.links) links += " " + std::to_string(l);
    EXPECT_EQ(" " + Field(run.Out, "links"), links);

    if (l1.link != l2.link) {
      const float plain = oracle.NodeCostToLocation(oracle.NodeTreeFromLocation(l1), l2);
      EXPECT_NEAR(c, plain, 1e-5 * std::max(1.0f, plain));
    }
    // The layer: one row whose Distance is the cost.
    TCSVFiles csv(65001);
    csv.Add(out + ".csv");
    csv.Open();
    std::vector<std::string> header, row;
    csv.ReadLine(header);
    csv.ReadLine(row);
    ASSERT_GE(row.size(), 2u);
    EXPECT_EQ(header[1], "Distance");
    EXPECT_NEAR(std::stod(row[1]), c, 1e-4);
  }
  EXPECT_GE(routed, 8);
}

TEST_F(KovraRoute, TimeAtTheRoadClassSpeedsOfTheSpeedsFile) {
  const std::string ini = fTemp.File("speeds.ini");
  std::string text = "[Speeds]\n";
  for (int c = 0; c < 32; ++c) text += "Speed" + std::to_string(c) + "=" + std::to_string(20 + 7 * c) + "\n";
  testsupport::WriteBytes(ini, text);
  TRoadClassSpeed speeds;
  speeds.LoadFromINI(ini, "Speeds", false);
  nw.CreateArrayTime(1);
  nw.CalculateTime(0, speeds);
  TSpatialSearch s(nw);
  TRouteCalc rc(nw, true);
  rc.SetTime(0);
  rc.SetFastest(false);
  fRandom.SetSeed(9);
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    const TFloatPoint p1 = RandomPoint(), p2 = RandomPoint();
    const TRun run = RunRoute(fNet + " " + Coord(p1.x) + " " + Coord(p1.y) + " " + Coord(p2.x) + " " +
                                  Coord(p2.y) + " --time --turns --speeds " + ini + " -o " + fTemp.File("t"),
                              Err());
    const float c = rc.RouteDyn(s.NearestLocationSimple(p1), s.NearestLocationSimple(p2));
    if (c < 0) {
      EXPECT_EQ(run.Exit, 1);
      continue;
    }
    ASSERT_EQ(run.Exit, 0) << run.Err;
    EXPECT_EQ(Field(run.Out, "cost"), [&] {
      char buf[32];
      const auto r = std::to_chars(buf, buf + sizeof buf, c);
      return std::string(buf, r.ptr) + " min";
    }());
  }
}

TEST_F(KovraRoute, MatrixCellsAreSingleRoutes) {
  fRandom.SetSeed(17);
  std::vector<TFloatPoint> points;
  std::string csvText = "name,x,y\n";
  for (int i = 0; i < 5; ++i) {
    points.push_back(RandomPoint());
    csvText += "p" + std::to_string(i) + "," + Coord(points.back().x) + "," + Coord(points.back().y) + "\n";
  }
  const std::string pts = fTemp.File("pts.csv");
  testsupport::WriteBytes(pts, csvText);
  const TRun run = RunRoute(fNet + " --matrix " + pts + " --format csv", Err());
  ASSERT_EQ(run.Exit, 0) << run.Err;

  TSpatialSearch s(nw);
  TRouteCalc rc(nw, false);
  rc.SetShortest(false);
  std::istringstream in(run.Out);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line.rfind("\"ID_from\",\"ID_to\",\"Distance\",", 0), 0u) << line;
  int rows = 0;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::vector<std::string> f = SplitCommaText(line);
    ASSERT_GE(f.size(), 3u) << line;
    const int i = f[0][1] - '0', j = f[1][1] - '0';
    const float c = rc.RouteDyn(s.NearestLocationSimple(points[size_t(i)]), s.NearestLocationSimple(points[size_t(j)]));
    EXPECT_NEAR(std::stod(f[2]), c, 1e-4) << line;
    ++rows;
  }
  EXPECT_EQ(rows, 20);
}

TEST_F(KovraRoute, ArgumentFaults) {
  // The table of the other examples lives in test_arguments.py; these need a network.
  const struct {
    std::string Args, Message;
  } cases[] = {
      {"", "NETDIR is missing"},
      {fNet + " 1 2 3", "give NETDIR X1 Y1 X2 Y2"},
      {fNet + " 1 2 3 y4", "Y2: 'y4' is not a number"},
      {fNet + " 1 2 3 4 --format jpeg", "--format: unknown format jpeg"},
      {fNet + " 1 2 3 4 --format shp", "--format shp needs -o FILE"},
      {fNet + " 1 2 3 4 --time --distance", "give one of --time and --distance"},
      {fNet + " 1 2 3 4 --speeds", "--speeds needs a value"},
      {fNet + " 1 2 3 4 --speeds x.ini", "--speeds needs --time"},
      {fNet + " 1 2 3 4 --fast", "unknown option --fast"},
      {fNet + " --matrix nothere.csv", "--matrix: no such file: nothere.csv"},
      {fNet + " 1 2 --matrix " + fNet + "link.bin", "--matrix takes no coordinates"},
      {dir.string() + "/nothere 1 2 3 4", "NETDIR: no such folder:"},
      {fNet + " 1 2 3 4 -o " + dir.string() + "/nothere/r", "-o: no such folder:"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Args);
    const TRun run = RunRoute(c.Args, Err());
    EXPECT_EQ(run.Exit, 2);
    EXPECT_EQ(run.Out, "");
    EXPECT_NE(run.Err.find("kovra-route: " + c.Message), std::string::npos) << run.Err;
  }
  // Nothing was written beside the error file.
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir)) files += e.path().filename() != "net" ? 1 : 0;
  EXPECT_EQ(files, 1);
}

}  // namespace
}  // namespace kovra
