// The topology build of an import: the network files, lengths, coordinate
// system and bounds, and the clean-up after a cancel or a failure.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <cfloat>
#include <cmath>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/kovra_configfile.h"
#include "import/kovra_import.h"
#include "import/support/folder_state.h"
#include "import/support/import_fixtures.h"
#include "import/support/network_dir.h"
#include "import/support/ogr_objects.h"
#include "network/kovra_network.h"
#include "network/support/network_writer.h"
#include "support/gdal_readback.h"
#include "support/test_files.h"
#include "support/test_raises.h"

using namespace kovra;
using namespace kovra::testsupport;
namespace fs = std::filesystem;

namespace {

using TLines = std::vector<std::vector<TFloatPoint>>;  // an empty line is a null shape

const std::vector<std::string> cNetworkFiles = {"coord.bin",  "coord3.bin", "coord3i.bin",      "kovra_config.ini",
                                                "length.bin", "link.bin",   "node.bin",         "spatialindex.bin"};

std::vector<std::string> Listing(const std::string& Dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(Dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class ImportBuild : public TImportTest {
protected:
  std::string Lines(const std::string& Name, const TLines& Lines, const std::string& Args = "-a_srs EPSG:27700") {
    std::vector<TJsonFeature> f;
    for (const auto& l : Lines) f.push_back({l.empty() ? "null" : JsonLine(l), ""});
    return Shapefile(Name, f, Args);
  }
  void Run(TImport& Imp, const std::string& File, int64_t Key = 0) {
    Imp.SetDirectory(fOut);
    Imp.SetEncryptionKey(Key);
    Imp.Add(File);
    Imp.Execute();
  }
};

// Every file of a plain and a keyed import equals what the test network
// writer makes of the same polylines: nodes, adjacency, ciphers, settings and
// spatial index. The writer's numbering is its own, by sort and stable order.
TEST_F(ImportBuild, FilesAsTheTestWriterMakesThem) {
  struct Case {
    const char* name;
    TLines lines;
    bool loops;
    std::string coordSys;  // the clause the build makes of metres and the input's bounds
  };
  // The input's projection text, written by the test; EPSG stays 0 for it.
  const std::string prj =
      R"(PROJCS["British_National_Grid",GEOGCS["GCS_OSGB_1936",DATUM["D_OSGB_1936",SPHEROID["Airy_1830",6377563.396,)"
      R"(299.3249646]],PRIMEM["Greenwich",0.0],UNIT["Degree",0.0174532925199433]],PROJECTION["Transverse_Mercator"],)"
      R"(PARAMETER["False_Easting",400000.0],PARAMETER["False_Northing",-100000.0],PARAMETER["Central_Meridian",-2.0],)"
      R"(PARAMETER["Scale_Factor",0.9996012717],PARAMETER["Latitude_Of_Origin",49.0],UNIT["Meter",1.0]])";
  std::mt19937 rng(7);
  TLines lattice;
  for (int i = 0; i < 300; ++i) {
    const double x = double(rng() % 12) * 10, y = double(rng() % 12) * 10;
    std::vector<TFloatPoint> l{{x, y}};
    for (unsigned k = rng() % 3; k > 0; --k) l.push_back({x + double(k) * 0.125 + double(rng() % 7) + 0.5, y + double(rng() % 5) + 0.25});
    l.push_back({double(rng() % 12) * 10, double(rng() % 12) * 10});
    if (i % 37 == 0) l.clear();
    lattice.push_back(l);
  }
  const std::vector<Case> cases = {
      {"one link", {{{0, 0}, {1, 0}}}, false, R"(CoordSys NonEarth Units "m" Bounds (0, 0) (1, 0))"},
      {"lone loop", {{{0, 0}, {1, 1}, {0, 0}}}, true, R"(CoordSys NonEarth Units "m" Bounds (0, 0) (1, 1))"},
      {"rejected between two", {{{0, 0}, {2, 0}}, {}, {{2, 0}, {2, 5}, {4, 5}}}, false,
       R"(CoordSys NonEarth Units "m" Bounds (0, 0) (4, 5))"},
      {"lattice", lattice, true, R"(CoordSys NonEarth Units "m" Bounds (0, 0) (116.75, 114.25))"},
  };
  for (const Case& c : cases)
    for (int64_t key : {int64_t(0), int64_t(20210108)}) {
      SCOPED_TRACE(std::string(c.name) + (key ? " keyed" : " plain"));
      fs::remove_all(fOut);
      fs::create_directories(fOut);
      TImport imp;
      imp.SetAllowLoops(c.loops);
      const std::string shp = Lines("in.shp", c.lines);
      WriteBytes(fs::path(shp).replace_extension(".prj").string(), prj);
      Run(imp, shp, key);
      ASSERT_EQ(Listing(fOut), cNetworkFiles);

      TTestNetworkWriter w;
      w.Unit = cuM;
      w.Key = key;
      w.CoordSys = c.coordSys;
      w.Prj = prj;
      w.Epsg = 0;
      w.SpatialIndex = true;
      for (const auto& l : c.lines) l.empty() ? w.AddRejected() : w.AddLink(l);
      TTempDir expected;
      w.Write(expected.Path.string());
      for (const std::string& f : cNetworkFiles)
        EXPECT_EQ(ReadBytes(fOut + "/" + f), ReadBytes(expected.File(f))) << f;
    }
}

// The layouts spelt out for three small networks.
TEST_F(ImportBuild, SmallNetworksDecoded) {
  {
    TImport imp;
    Run(imp, Lines("one.shp", {{{0, 0}, {1, 0}}}));
    const TNetworkDir net = ReadNetworkDir(fOut);
    EXPECT_EQ(net.Coord3i, (std::vector<int32_t>{0, 0}));
    EXPECT_TRUE(net.Coord3.empty());
    EXPECT_EQ(net.Length, (std::vector<float>{0.001f}));
    EXPECT_EQ(net.Coord, (std::vector<TFloatPoint>{{0, 0}, {1, 0}}));
    EXPECT_EQ(net.Link, (std::vector<uint32_t>{1, 2}));
    EXPECT_EQ(net.Node, (std::vector<int32_t>{1, 2, 1, 1}));
  }
  {
    TImport imp;
    imp.SetAllowLoops(true);
    Run(imp, Lines("loop.shp", {{{0, 0}, {1, 1}, {0, 0}}}));
    const TNetworkDir net = ReadNetworkDir(fOut);
    EXPECT_EQ(net.Node, (std::vector<int32_t>{2, 1, 1, 1, 1}));
    EXPECT_EQ(imp.MaxDegree(), 2);
    EXPECT_EQ(imp.NodeCount(), 1);
  }
  std::string plain3i;
  for (int64_t key : {int64_t(0), int64_t(-99)}) {
    TImport imp;
    Run(imp, Lines("rej" + std::to_string(key) + ".shp", {{{0, 0}, {2, 0}}, {}, {{2, 0}, {2, 5}, {4, 5}}}), key);
    const TNetworkDir net = ReadNetworkDir(fOut, key);
    EXPECT_EQ(net.Length, (std::vector<float>{0.002f, 0, 0.007f}));
    EXPECT_EQ(net.Link, (std::vector<uint32_t>{2, 1, 0, 0, 1, 3}));
    EXPECT_EQ(net.Coord3i, (std::vector<int32_t>{0, 0, 0, 1}));
    EXPECT_EQ(net.Node, (std::vector<int32_t>{2, 1, 3, 1, 3, 1, 3}));
    if (key == 0) plain3i = ReadBytes(fOut + "/coord3i.bin");
    else EXPECT_EQ(ReadBytes(fOut + "/coord3i.bin"), plain3i);
  }
}

// Links, nodes and degrees against a count straight from the .shp bytes,
// and every link's geometry against GDAL's reading, bit for bit.
TEST_F(ImportBuild, TopologyAsIndependentReadersSeeIt) {
  std::mt19937 rng(11);
  TLines lines;
  for (int i = 0; i < 1500; ++i) {
    // Ends on a lattice shared by many lines; a few ends one ulp off a
    // lattice point, a few loops.
    TFloatPoint a{double(rng() % 40) * 0.1, double(rng() % 40) * 0.1};
    TFloatPoint b{double(rng() % 40) * 0.1, double(rng() % 40) * 0.1};
    if (i % 50 == 0) b.x = std::nextafter(b.x, 10.0);
    if (i % 97 == 0) b = a;
    std::vector<TFloatPoint> l{a, {(a.x + b.x) / 2 + 0.013, (a.y + b.y) / 2 - 0.017}, b};
    lines.push_back(l);
  }
  const std::string shp = Lines("lattice.shp", lines);
  TImport imp;
  imp.SetAllowLoops(true);
  Run(imp, shp);
  const TNetworkDir net = ReadNetworkDir(fOut);
  ExpectAsOgrReads(shp, imp, net);

  std::string out;
  ASSERT_EQ(RunCommand("python3 " KOVRA_TEST_SCRIPTS_DIR "/shp_nodes_oracle.py --allow-loops --nodes '" + shp + "'", &out), 0)
      << out;
  std::istringstream oracle(out);
  std::string word;
  int64_t links, loops, nodes, maxdegree;
  oracle >> word >> links >> word >> loops >> word >> nodes >> word >> maxdegree;
  EXPECT_EQ(imp.LinkCount(), links);
  EXPECT_EQ(imp.NodeCount(), nodes);
  EXPECT_EQ(imp.MaxDegree(), maxdegree);
  ASSERT_EQ(net.NodeCount(), nodes);
  for (int32_t n = 1; n <= nodes; ++n) {
    std::string x, y;
    int32_t degree;
    oracle >> x >> y >> degree;
    ASSERT_EQ(net.Coord[size_t(n - 1)], (TFloatPoint{std::strtod(x.c_str(), nullptr), std::strtod(y.c_str(), nullptr)}))
        << "node " << n;
    ASSERT_EQ(net.Degree(n), degree) << "node " << n;
    // Each slot names a link that ends at the node, ascending.
    const std::vector<int32_t> slots = net.Slots(n);
    for (size_t k = 0; k < slots.size(); ++k) {
      const int32_t L = slots[k];
      ASSERT_TRUE(L >= 1 && L <= net.LinkCount());
      EXPECT_TRUE(net.Link[2 * size_t(L - 1)] == uint32_t(n) || net.Link[2 * size_t(L - 1) + 1] == uint32_t(n));
      if (k > 0) EXPECT_LE(slots[k - 1], L);
    }
  }
}

// The network class opens what the import wrote, plain and keyed, with the
// vertex cache and the index, and sees the links, nodes and adjacency of the
// files and the polylines of the input.
TEST_F(ImportBuild, NetworkClassOpensTheResult) {
  std::mt19937 rng(5);
  TLines lines;
  for (int i = 0; i < 400; ++i) {
    TFloatPoint a{double(rng() % 20) * 0.1, double(rng() % 20) * 0.1};
    TFloatPoint b{double(rng() % 20) * 0.1, double(rng() % 20) * 0.1};
    if (i % 40 == 0) b = a;
    lines.push_back({a, {(a.x + b.x) / 2 + 0.011, (a.y + b.y) / 2 - 0.007}, b});
  }
  const std::string shp = Lines("grid.shp", lines);
  const std::vector<TOgrObject> ogr = ReadWithOgr(shp);
  for (const int64_t key : {int64_t(0), int64_t(0x5EED1234ABCD)}) {
    SCOPED_TRACE(key);
    TImport imp;
    imp.SetAllowLoops(true);
    Run(imp, shp, key);
    const TNetworkDir files = ReadNetworkDir(fOut, key);
    TNetwork net;
    net.SetDirectory(fOut);
    net.SetEncryptionKey(key);
    net.Open(false, true, true, 0);
    ASSERT_TRUE(net.IsOpen());
    EXPECT_EQ(net.LinkCount(), imp.LinkCount());
    EXPECT_EQ(net.NodeCount(), imp.NodeCount());
    EXPECT_EQ(net.MaxDegree(), imp.MaxDegree());
    for (int32_t n = 1; n <= net.NodeCount(); ++n) {
      const std::vector<int32_t> slots = files.Slots(n);
      const auto adjacent = net.Adjacent(n);
      ASSERT_EQ(adjacent.size(), slots.size()) << "node " << n;
      for (size_t k = 0; k < slots.size(); ++k) EXPECT_EQ(std::abs(adjacent[k]), slots[k]) << "node " << n;
    }
    // Every link's polyline as libgdal reads the input, bit for bit.
    for (int32_t L = 1; L <= net.LinkCount(); ++L) {
      const TFloatPointArrayEx section = net.GetGISSection(L);
      EXPECT_EQ(std::vector<TFloatPoint>(section.Pnt.begin(), section.Pnt.begin() + section.Count),
                ogr[size_t(L - 1)].Points)
          << "link " << L;
    }
    net.Close();
  }
}

// After a run without the index, opening with the index names the missing
// file and leaves the network closed; without the index it opens.
TEST_F(ImportBuild, NetworkWithoutIndexOpensOnlyWithoutIt) {
  TImport imp;
  imp.SetSkipSpatialIndex(true);
  Run(imp, Lines("pair.shp", {{{0, 0}, {1, 0}}, {{1, 0}, {1, 1}}}));
  TNetwork net;
  net.SetDirectory(fOut);
  EXPECT_EQ(MessageOf<Exception>([&] { net.Open(false, false, true, 0); }),
            "File is missing: " + (fs::path(fOut) / "spatialindex.bin").string());
  EXPECT_FALSE(net.IsOpen());
  net.Open(false, false, false, 0);
  EXPECT_TRUE(net.IsOpen());
  EXPECT_EQ(net.LinkCount(), 2);
}

TEST_F(ImportBuild, LengthsByUnit) {
  struct Case {
    const char* name;
    TCoordinateUnit unit;
    std::vector<TFloatPoint> line;
    float length;
  };
  const std::vector<Case> cases = {
      {"metres", cuM, {{0, 0}, {3, 0}, {3, 4}}, 0.007f},
      {"a chain is 66 ft", cuChain, {{0, 0}, {1, 0}}, 0.0201168f},
      {"feet", cuFt, {{0, 0}, {0, 1000}}, 0.3048f},
  };
  for (const Case& c : cases) {
    TImport imp;
    imp.SetCoordinateUnit(c.unit);
    Run(imp, Lines(std::string(c.name) + ".shp", {c.line}));
    EXPECT_EQ(ReadNetworkDir(fOut).Length, (std::vector<float>{c.length})) << c.name;
  }
}

TEST_F(ImportBuild, GreatCircleLengthsAgreeWithHaversine) {
  const TLines lines = {{{0, 0}, {1, 1}},
                        {{-179.5, -89}, {179.5, 89}},
                        {{13.4, 52.5}, {13.40001, 52.50002}, {2.35, 48.85}},
                        {{0, 0}, {180, 0}}};
  TImport imp;
  imp.SetCoordinateUnit(cuDeg);
  Run(imp, Lines("deg.shp", lines, ""));
  const TNetworkDir net = ReadNetworkDir(fOut);
  std::string script = "import math\nR=6378.13\n";
  script += "def h(a,b):\n  la1,la2=math.radians(a[1]),math.radians(b[1]);dl=math.radians(a[0]-b[0])\n"
            "  s=math.sin((la1-la2)/2)**2+math.cos(la1)*math.cos(la2)*math.sin(dl/2)**2\n"
            "  return 2*math.asin(min(1,math.sqrt(s)))\n";
  for (const auto& l : lines) {
    script += "print(repr(R*(";
    for (size_t k = 1; k < l.size(); ++k)
      script += "+h((" + JsonNumber(l[k - 1].x) + "," + JsonNumber(l[k - 1].y) + "),(" + JsonNumber(l[k].x) + "," +
                JsonNumber(l[k].y) + "))";
    script += ")))\n";
  }
  WriteBytes(In("h.py"), script);
  std::string out;
  ASSERT_EQ(RunCommand("python3 '" + In("h.py") + "'", &out), 0) << out;
  std::istringstream s(out);
  for (size_t L = 0; L < lines.size(); ++L) {
    double expected;
    s >> expected;
    const float f = net.Length[L], e = float(expected);
    EXPECT_LE(std::fabs(f - e), std::fabs(std::nextafter(e, FLT_MAX) - e)) << "link " << L + 1;
  }
}

TEST_F(ImportBuild, CoordinateSystemAndBounds) {
  struct Case {
    const char* name;
    TCoordinateUnit unit;
    std::string prj;
    int32_t epsg;
    std::string coordSys, expectPrj;
    int32_t expectEpsg;
  };
  const std::string wgs84 =
      "GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\",6378137,298.257223563]],"
      "PRIMEM[\"Greenwich\",0],UNIT[\"Degree\",0.017453292519943295]]";
  const std::string nad83 =
      "GEOGCS[\"GCS_North_American_1983\",DATUM[\"D_North_American_1983\",SPHEROID[\"GRS_1980\",6378137.0,"
      "298.257222101]],PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]]";
  const std::string wgs84Named =
      "GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,298.257223563]],PRIMEM[\"Greenwich\",0],"
      "UNIT[\"degree\",0.0174532925199433]]";
  const std::vector<Case> cases = {
      {"metres", cuM, "", 0, "CoordSys NonEarth Units \"m\" Bounds (0, 0) (100, 50)", "", 0},
      {"survey feet", cuSurveyft, "", 0, "CoordSys NonEarth Units \"survey ft\" Bounds (0, 0) (100, 50)", "", 0},
      {"decimetres", cuDm, "", 0, "", "", 0},
      {"points", cuPoint, "", 0, "", "", 0},
      {"degrees", cuDeg, "", 0, "CoordSys Earth Projection 1, 104", wgs84, 4326},
      // EPSG 4326 and datum 104 are WGS 84: only a text that names it gets them.
      {"degrees with given texts", cuDeg, "GEOGCS[\"x\"]", 4258, "", "GEOGCS[\"x\"]", 4258},
      {"degrees, NAD83 projection", cuDeg, nad83, 0, "", nad83, 0},
      {"degrees, WGS 84 projection named otherwise", cuDeg, wgs84Named, 0, "CoordSys Earth Projection 1, 104",
       wgs84Named, 4326},
  };
  const std::string shp = Lines("box.shp", {{{0, 0}, {100, 50}}}, "");
  for (const Case& c : cases) {
    TImport imp;
    imp.SetCoordinateUnit(c.unit);
    imp.SetPrj(c.prj);
    imp.SetEPSG(c.epsg);
    Run(imp, shp);
    EXPECT_EQ(imp.CoordSys(), c.coordSys) << c.name;
    EXPECT_EQ(imp.Prj(), c.expectPrj) << c.name;
    EXPECT_EQ(imp.EPSG(), c.expectEpsg) << c.name;
    const TConfig cfg = ReadConfig(fOut + "/");
    EXPECT_EQ(cfg.CoordSys, c.coordSys) << c.name;
    EXPECT_EQ(cfg.Epsg, c.expectEpsg) << c.name;
  }
  // The bounds of every vertex, widened by 0.05 % on each side.
  TImport imp;
  imp.SetCoordinateUnit(cuM);
  Run(imp, Lines("mbr.shp", {{{0, 0}, {1000, 250}}, {{400, 500}, {600, 100}}}));
  for (const TFloatRect& r : {imp.MBR(), ReadConfig(fOut + "/").Mbr}) {
    EXPECT_EQ(r.xmin, -0.5);
    EXPECT_EQ(r.ymin, -0.25);
    EXPECT_EQ(r.xmax, 1000.5);
    EXPECT_EQ(r.ymax, 500.25);
  }
}

// A length that rounds to Single 0 makes no node: the link is not valid and
// gets its own record, in link order among the reader's.
TEST_F(ImportBuild, LengthRoundingToZeroIsASinglePoint) {
  TImport imp;
  imp.SetCoordinateUnit(cuMm);
  Run(imp, Lines("tiny.shp", {{{0, 0}, {5, 0}}, {{0, 0}, {1e-40, 0}}, {}, {{5, 0}, {5, 5}}}));
  const TNetworkDir net = ReadNetworkDir(fOut);
  EXPECT_EQ(net.Length[1], 0.0f);
  EXPECT_EQ(net.Link, (std::vector<uint32_t>{2, 1, 0, 0, 0, 0, 1, 3}));
  EXPECT_EQ(imp.NodeCount(), 3);
  EXPECT_EQ(net.Node, (std::vector<int32_t>{2, 1, 3, 1, 4, 1, 4}));
  ASSERT_EQ(imp.ImportErrorList().Count(), 2);
  const TImportError& e = imp.ImportErrorList().GetItem(0);
  EXPECT_EQ(e.link, 2);
  EXPECT_EQ(e.errorcode, ecSinglePoint);
  EXPECT_EQ(e.fileindex, 0);
  EXPECT_EQ(e.linklocal, 2);
  EXPECT_EQ(imp.ImportErrorList().GetItem(1).errorcode, ecNotGeoCoded);
  // The network opens and knows the link as no part of the graph.
  TNetwork network;
  network.SetDirectory(fOut);
  network.Open(false, false, true, 0);
  EXPECT_EQ(MessageOf<Exception>([&] { network.GetGISSection(2); }), "Link 2 is a non-valid link");
  EXPECT_EQ(network.GetGISSection(4).Count, 2);
}

// A cancel in any stage of the build, or in the index, leaves the folder as
// it was; another file in it survives.
TEST_F(ImportBuild, CancelInEveryStageLeavesNoFileOfTheRun) {
  TLines lines;
  for (int i = 0; i < 400; ++i) lines.push_back({{double(i % 20), double(i / 20)}, {double(i % 20) + 1, double(i / 20) + 0.5}});
  const std::string shp = Lines("grid.shp", lines);
  WriteBytes(fOut + "/keep.txt", "mine");
  const TFolderState before = FolderState(fOut);
  for (int32_t at : {30, 56, 68, 80}) {
    TImport imp;
    imp.SetDirectory(fOut);
    imp.SetMaxNodesPerCell(11);
    imp.Add(shp);
    int32_t last = 0;
    imp.SetOnProgress([&](TObject*, int32_t p, bool& cancel) {
      last = p;
      if (p >= at) cancel = true;
    });
    imp.Execute();
    EXPECT_TRUE(imp.Cancelled()) << at;
    EXPECT_TRUE(NoFileOfRunRemains(before, fOut)) << "cancel at " << at << " (last report " << last << ")";
  }
}

TEST_F(ImportBuild, FailuresLeaveNoFileOfTheRun) {
  TLines star;
  for (int i = 0; i < 256; ++i) star.push_back({{0.5, 0.25}, {std::cos(i * 0.02), std::sin(i * 0.02)}});
  TLines full;
  for (int i = 0; i < 40; ++i) full.push_back({{double(i), 0}, {double(i), 1}});
  struct Case {
    const char* name;
    std::string shp;
    std::string message;
    int64_t fileLimit;  // bytes any file may have, 0 = no limit
  };
  const std::vector<Case> cases = {
      {"256 ends", Lines("star.shp", star), "Too many links at 0.5, 0.25", 0},
      {"length overflow", Lines("huge.shp", {{{0, 0}, {1, 1}}, {{0, 0}, {1e300, 1e300}}}),
       "The length of link 2 overflows", 0},
      // 40 lone links: the vertex files fit, coord.bin (80 nodes) does not;
      // the message names the file and the reason.
      {"full disk", Lines("full.shp", full),
       "Cannot write file \"" + fOut + "/" + cImportStagingFolder + "/coord.bin\". File too large", 1000},
  };
  WriteBytes(fOut + "/keep.txt", "mine");
  const TFolderState before = FolderState(fOut);
  for (const Case& c : cases) {
    const std::string input = ReadBytes(c.shp);
    TImport imp;
    imp.SetDirectory(fOut);
    imp.Add(c.shp);
    std::string message;
    rlimit old{};
    if (c.fileLimit) {
      ::signal(SIGXFSZ, SIG_IGN);
      ::getrlimit(RLIMIT_FSIZE, &old);
      rlimit lim = old;
      lim.rlim_cur = rlim_t(c.fileLimit);
      ::setrlimit(RLIMIT_FSIZE, &lim);
    }
    message = ExecuteError(imp);
    if (c.fileLimit) ::setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(message, c.message) << c.name;
    EXPECT_TRUE(NoFileOfRunRemains(before, fOut)) << c.name;
    EXPECT_EQ(ReadBytes(c.shp), input) << c.name;
  }
}

// A network whose nodes lie on one horizontal line (or one vertical line)
// finds its own nodes and points beside the line: its bounds read back as
// written, and the side of no extent gets a margin of its own.
TEST_F(ImportBuild, NetworkOnOneLineFindsItsOwnNodes) {
  for (const bool vertical : {false, true}) {
    SCOPED_TRACE(vertical ? "vertical" : "horizontal");
    // A coordinate that fifteen digits would round down.
    const double c = 170000.12345678912;
    const auto at = [&](double along) { return vertical ? TFloatPoint{c, along} : TFloatPoint{along, c}; };
    TLines chain;
    for (int32_t k = 0; k < 5; ++k) chain.push_back({at(500000.0 + 200 * k), at(500000.0 + 200 * (k + 1))});
    TImport imp;
    Run(imp, Lines(vertical ? "v.shp" : "h.shp", chain));
    TNetwork net;
    net.SetDirectory(fOut);
    net.Open(false, false, true, 0);
    ASSERT_EQ(net.NodeCount(), 6);
    for (int32_t node = 1; node <= net.NodeCount(); ++node) EXPECT_NO_THROW(net.CheckCoordinate(net.Node2Coordinate(node))) << node;
    // 10 m beside the line: inside the search area; 5 km beside it: outside.
    const TFloatPoint beside = vertical ? TFloatPoint{c + 10, 500300} : TFloatPoint{500300, c + 10};
    const TFloatPoint far = vertical ? TFloatPoint{c + 5000, 500300} : TFloatPoint{500300, c + 5000};
    EXPECT_NO_THROW(net.CheckCoordinate(beside));
    EXPECT_THROW(net.CheckCoordinate(far), ECoordinateCheck);
  }
}

TEST_F(ImportBuild, NothingUsableWritesNoNetwork) {
  const TFolderState before = FolderState(fOut);
  TImport imp;
  Run(imp, Lines("none.shp", {{}, {{1, 1}, {1, 1}}, {}}));
  EXPECT_EQ(imp.LinkCount(), 3);
  EXPECT_EQ(imp.ImportErrorList().Count(), 3);
  EXPECT_TRUE(NoFileOfRunRemains(before, fOut));
}

TEST_F(ImportBuild, SkippedIndexRemovesAnOlderOne) {
  WriteBytes(fOut + "/spatialindex.bin", "an older network's index");
  TImport imp;
  imp.SetSkipSpatialIndex(true);
  std::vector<int32_t> reports;
  imp.SetOnProgress([&](TObject*, int32_t p, bool&) { reports.push_back(p); });
  TLines chain;
  for (int i = 0; i < 10; ++i) chain.push_back({{double(i), 0}, {double(i + 1), 0}});
  Run(imp, Lines("chain.shp", chain));
  EXPECT_FALSE(fs::exists(fOut + "/spatialindex.bin"));
  ASSERT_GE(reports.size(), 2u);
  EXPECT_EQ(*std::max_element(reports.begin(), reports.end()), 71);
  EXPECT_EQ(reports.back(), 0);

  TImport indexed;
  reports.clear();
  indexed.SetOnProgress([&](TObject*, int32_t p, bool&) { reports.push_back(p); });
  Run(indexed, In("chain.shp"));
  EXPECT_TRUE(fs::exists(fOut + "/spatialindex.bin"));
  EXPECT_EQ(*std::max_element(reports.begin(), reports.end()), 100);
}

}  // namespace
