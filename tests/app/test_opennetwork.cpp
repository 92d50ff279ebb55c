// "Open" and "Close" without the window: the options a row opens with, the
// failures that leave the closed state and nothing touched on disk, and an
// import opened end to end against a count from the .shp bytes.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <sstream>

#include "app/core/studio_opennetwork.h"
#include "import/kovra_import.h"
#include "import/support/import_fixtures.h"
#include "network/support/network_writer.h"
#include "support/gdal_readback.h"
#include "support/test_files.h"
#include "support/test_raises.h"

using namespace studio;
using kovra::testsupport::MessageOf;
using kovra::testsupport::ReadBytes;
using kovra::testsupport::TTestNetworkWriter;
using kovra::testsupport::WriteBytes;
namespace fs = std::filesystem;

namespace {

const NumberFormat cEnglish{".", ","};

// Every file below Folder with its bytes.
std::map<std::string, std::string> Contents(const fs::path& Folder) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(Folder))
    if (e.is_regular_file()) out[e.path().string()] = ReadBytes(e.path().string());
  return out;
}

bool Has(const std::vector<std::string>& Lines, const std::string& Line) {
  return std::find(Lines.begin(), Lines.end(), Line) != Lines.end();
}

class OpenNetworkTest : public kovra::testsupport::TTempDirTest {
protected:
  // A 3 x 3 grid in metres (12 links) with attribute words, limits 1..3,
  // external ids, road names 1 and a spatial index; Change adjusts the writer
  // first. Returns the folder with its trailing '/'.
  std::string Network(const std::string& Name, const std::function<void(TTestNetworkWriter&)>& Change = {}) {
    TTestNetworkWriter w;
    w.AddGrid({3, 3, 100, 2, 0.2});
    const int32_t L = w.LinkCount();
    std::vector<uint8_t> lim(size_t(L), 0);
    std::vector<int32_t> ids;
    std::vector<std::string> names;
    for (int32_t l = 1; l <= L; ++l) {
      w.SetAttribute(l, uint16_t(l % 4));
      lim[size_t(l - 1)] = uint8_t(l % 3);
      ids.push_back(1000 + l);
      names.push_back("Road " + std::to_string(l));
    }
    w.SetLimit(1, lim);
    w.SetLimit(2, lim);
    w.SetLimit(3, lim);
    w.SetExternalIDs(ids);
    w.SetRoadNames(1, names);
    w.SpatialIndex = true;
    if (Change) Change(w);
    const fs::path folder = dir / Name;
    fs::create_directories(folder);
    w.Write(folder.string());
    return folder.string() + "/";
  }
  NetworkRow Row(const std::string& Path) const {
    NetworkRow r = DefaultNetworkRow();
    r.ID = 1;
    r.Path = Path;
    return r;
  }
  std::vector<std::string> Open(const NetworkRow& R) { return opener.Open(R, kovra::duKm, cEnglish); }

  std::unique_ptr<kovra::TNetwork> current;
  OpenNetwork opener{current};
};

}  // namespace

TEST_F(OpenNetworkTest, StateRecordFollowsOpenAndClose) {
  const std::string path = Network("grid");
  EXPECT_EQ(opener.State(), ClosedState());
  const auto report = Open(Row(path));
  ASSERT_TRUE(current);
  EXPECT_EQ(report.front(), "Path: " + path);
  TOpenState open;
  open.ListEnabled = open.OpenEnabled = open.ImportGoEnabled = false;
  open.CloseEnabled = open.TopologyGoEnabled = true;
  open.TopologyOutputFolder = path;
  EXPECT_EQ(opener.State(), open);

  opener.Close();
  EXPECT_FALSE(current);
  // Import "Go !" comes back whether or not a scan was made; the output
  // folder stays where the open put it.
  EXPECT_EQ(opener.State(), ClosedState(path));
  EXPECT_TRUE(opener.State().ImportGoEnabled);
  ASSERT_NO_THROW(opener.Close()) << "closing twice";
}

TEST_F(OpenNetworkTest, OptionsFromRowAndDirectory) {
  const std::string full = Network("full");
  // The same network without the optional files.
  const std::string bare = Network("bare");
  for (const char* f : {"spatialindex.bin", "index1.bin", "index2.bin", "attribute.bin"}) fs::remove(bare + f);

  struct Case {
    std::string what;
    std::string path;
    std::function<void(NetworkRow&)> row;
    std::function<void(const kovra::TNetwork&, const std::vector<std::string>&)> check;
  };
  const std::vector<Case> cases = {
      {"spatial index ticked and present", full, [](NetworkRow& r) { r.SpatialIndex = true; },
       [](const kovra::TNetwork& n, auto&) { EXPECT_NO_THROW(n.FindQuadTreeCell({50, 50})); }},
      {"spatial index ticked, no file: opened without", bare, [](NetworkRow& r) { r.SpatialIndex = true; },
       [](const kovra::TNetwork& n, auto&) {
         EXPECT_EQ(MessageOf([&] { n.FindQuadTreeCell({50, 50}); }), "Spatial index need to be open");
       }},
      {"spatial index present, not ticked", full, [](NetworkRow& r) { r.SpatialIndex = false; },
       [](const kovra::TNetwork& n, auto&) {
         EXPECT_EQ(MessageOf([&] { n.FindQuadTreeCell({50, 50}); }), "Spatial index need to be open");
       }},
      {"external id 3 with index1.bin", full, [](NetworkRow& r) { r.ExternalID = 3; },
       [](const kovra::TNetwork& n, auto&) { EXPECT_EQ(n.Link2ExternalID(5), "1005"); }},
      {"external id 3 without index1.bin: mode 0", bare, [](NetworkRow& r) { r.ExternalID = 3; },
       [](const kovra::TNetwork& n, auto&) { EXPECT_NE(MessageOf([&] { n.Link2ExternalID(5); }), ""); }},
      {"external id 0 with index1.bin", full, [](NetworkRow& r) { r.ExternalID = 0; },
       [](const kovra::TNetwork& n, auto&) { EXPECT_NE(MessageOf([&] { n.Link2ExternalID(5); }), ""); }},
      {"limits scalar, bit pattern, out of range = scalar", full,
       [](NetworkRow& r) { r.Limit1 = 1, r.Limit2 = 2, r.Limit3 = 5; },
       [](const kovra::TNetwork& n, const std::vector<std::string>& rep) {
         EXPECT_EQ(n.LimitSlots(), 3);
         EXPECT_FALSE(n.LimitIsBitPattern(1));
         EXPECT_TRUE(n.LimitIsBitPattern(2));
         EXPECT_FALSE(n.LimitIsBitPattern(3));
         EXPECT_EQ(n.GetLimit(3, 5), 2);
         EXPECT_TRUE(Has(rep, "Limit 3:"));
       }},
      {"road names 1", full, [](NetworkRow& r) { r.Roadname = 1; },
       [](const kovra::TNetwork& n, auto&) { EXPECT_EQ(n.Link2RoadName(1, 7), "Road 7"); }},
      {"road names 100: none opened", full, [](NetworkRow& r) { r.Roadname = 100; },
       [](const kovra::TNetwork& n, auto&) { EXPECT_EQ(MessageOf([&] { n.Link2RoadName(1, 7); }), "Roadnamefile 1 is not open"); }},
      {"road names 0: none opened", full, [](NetworkRow& r) { r.Roadname = 0; },
       [](const kovra::TNetwork& n, auto&) { EXPECT_NE(MessageOf([&] { n.Link2RoadName(1, 7); }), ""); }},
      {"attributes opened", full, [](NetworkRow& r) { r.Attributes = true; },
       [](const kovra::TNetwork& n, const std::vector<std::string>& rep) {
         EXPECT_EQ(n.AttributeGet(7), 3);
         EXPECT_TRUE(Has(rep, "Road Classes"));
       }},
      {"attributes ticked, no attribute.bin: all class 0", bare, [](NetworkRow& r) { r.Attributes = true; },
       [](const kovra::TNetwork& n, const std::vector<std::string>& rep) {
         EXPECT_EQ(n.AttributeGet(7), 0);
         EXPECT_TRUE(Has(rep, "Road Classes"));
         EXPECT_EQ(rep[size_t(std::find(rep.begin(), rep.end(), "Road Classes") - rep.begin()) + 1].rfind("0: 12 links, ", 0), 0u);
       }},
      {"attributes not ticked: no blocks", full, [](NetworkRow& r) { r.Attributes = false; },
       [](const kovra::TNetwork& n, const std::vector<std::string>& rep) {
         EXPECT_EQ(n.AttributeGet(7), 0);
         EXPECT_FALSE(Has(rep, "Road Classes"));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    NetworkRow r = Row(c.path);
    r.Attributes = r.SpatialIndex = false;
    c.row(r);
    std::vector<std::string> report;
    ASSERT_NO_THROW(report = Open(r));
    ASSERT_TRUE(current);
    c.check(*current, report);
    opener.Close();
  }
}

TEST_F(OpenNetworkTest, TurnFileIntoTurnSetZero) {
  const std::string path = Network("grid");
  const std::string turns = (dir / "turns.txt").string();
  // Links 1 and 2 meet at a node of the grid's first row.
  WriteBytes(turns, "1 1 2 -1\n0 1001 1002 5\n");
  NetworkRow r = Row(path);
  r.ExternalID = 1;
  r.Turn = turns;
  ASSERT_NO_THROW(Open(r));
  EXPECT_GE(current->TurnCount(0), 1);
}

TEST_F(OpenNetworkTest, FailureLeavesClosedStateAndFilesUntouched) {
  const std::string good = Network("good");
  struct Case {
    std::string what;
    std::function<std::string()> make;  // the folder of the bad network
    std::function<void(NetworkRow&)> row;
    std::string message;  // the start of the message
  };
  const std::vector<Case> cases = {
      {"missing link.bin", [&] {
         const std::string p = Network("nolink");
         fs::remove(p + "link.bin");
         return p;
       }, {}, "File is missing: "},
      {"encrypted without key", [&] { return Network("enc1", [](TTestNetworkWriter& w) { w.Key = 4711; }); }, {},
       "Network is encrypted, supply a key"},
      {"wrong key", [&] { return Network("enc2", [](TTestNetworkWriter& w) { w.Key = 4711; }); },
       [](NetworkRow& r) { r.Encryption = 4712; }, "Wrong encryption key or corrupted network file "},
      {"limit file one byte short", [&] {
         const std::string p = Network("short");
         const std::string b = ReadBytes(p + "limit2.bin");
         WriteBytes(p + "limit2.bin", b.substr(0, b.size() - 1));
         return p;
       }, [](NetworkRow& r) { r.Limit1 = 1, r.Limit2 = 1; }, "Wrong size of limitfile 11, expected 12"},
      {"limit 2 without limit 1", [&] { return Network("skip"); }, [](NetworkRow& r) { r.Limit2 = 1; },
       "Invalid limitID"},
      {"turn file with external ids not open", [&] {
         const std::string p = Network("turnext");
         WriteBytes(p + "turns.txt", "0 1001 1002 5\n");
         return p;
       }, [](NetworkRow& r) { r.Turn = r.Path + "turns.txt"; }, "TurnImport: External ID not opened (line 1)"},
      {"turn file missing", [&] { return Network("turnmissing"); },
       [](NetworkRow& r) { r.Turn = r.Path + "nosuch.txt"; }, ""},
      {"empty Path", [&] { return std::string(); }, {}, "File is missing: kovra_config.ini"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // The last good open put its folder into the state; a failure keeps it.
    ASSERT_NO_THROW(Open(Row(good)));
    opener.Close();
    const std::string path = c.make();
    NetworkRow r = Row(path);
    r.Attributes = r.SpatialIndex = false;
    if (c.row) c.row(r);
    const auto before = Contents(dir);
    const std::string message = MessageOf([&] { Open(r); });
    EXPECT_EQ(message.substr(0, c.message.size()), c.message) << message;
    EXPECT_NE(message, "");
    EXPECT_FALSE(current);
    EXPECT_EQ(opener.State(), ClosedState(good));
    EXPECT_TRUE(Contents(dir) == before) << "files changed";
    // No restart needed: the good network opens at once.
    ASSERT_NO_THROW(Open(Row(good)));
    EXPECT_TRUE(current);
    opener.Close();
  }
}

// An import of a shapefile made by ogr2ogr, opened: the report's counts
// against the oracle's reading of the .shp bytes.
TEST_F(OpenNetworkTest, ImportedShapefileReportMatchesOracle) {
  using kovra::TFloatPoint;
  std::vector<kovra::testsupport::TJsonFeature> features;
  std::mt19937 rng(72);
  for (int i = 0; i < 400; ++i) {
    TFloatPoint a{double(rng() % 20) * 100, double(rng() % 20) * 100};
    TFloatPoint b{double(rng() % 20) * 100, double(rng() % 20) * 100};
    if (i % 37 == 0) b = a;  // closed lines: rejected as loops
    features.push_back({kovra::testsupport::JsonLine({a, {(a.x + b.x) / 2 + 13, (a.y + b.y) / 2 - 17}, b}), ""});
  }
  const fs::path in = dir / "in", out = dir / "out";
  fs::create_directories(in);
  fs::create_directories(out);
  const std::string shp = (in / "roads.shp").string();
  kovra::testsupport::OgrConvert(features, shp, "-a_srs EPSG:27700");
  kovra::TImport imp;
  imp.SetDirectory(out.string());
  imp.Add(shp);
  imp.Execute();

  std::string text;
  ASSERT_EQ(kovra::testsupport::RunCommand("python3 " KOVRA_TEST_SCRIPTS_DIR "/shp_nodes_oracle.py '" + shp + "'", &text), 0)
      << text;
  std::istringstream oracle(text);
  std::string word;
  int64_t links = 0, loops = 0, nodes = 0, maxdegree = 0;
  oracle >> word >> links >> word >> loops >> word >> nodes >> word >> maxdegree;
  ASSERT_GT(loops, 0);

  const auto report = Open(Row(out.string() + "/"));
  EXPECT_TRUE(Has(report, "Links: " + FormatThousands(links, cEnglish))) << text;
  EXPECT_TRUE(Has(report, std::to_string(loops) + " invalid links (see network_report.txt)")) << text;
  EXPECT_TRUE(Has(report, "Nodes: " + FormatThousands(nodes, cEnglish))) << text;
  EXPECT_TRUE(Has(report, "Highest degree: " + FormatThousands(maxdegree, cEnglish))) << text;
  EXPECT_TRUE(Has(report, "Coordinate unit: Meter"));
  EXPECT_TRUE(Has(report, "No loop links"));
}
