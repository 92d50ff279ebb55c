// The import run: settings, the request check before any file is touched,
// cancel and clean-up.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "foundation/kovra_io.h"
#include "import/kovra_import.h"
#include "import/support/folder_state.h"
#include "import/support/import_fixtures.h"
#include "import/support/network_dir.h"
#include "support/test_files.h"
#include "support/unprivileged.h"

using namespace kovra;
using namespace kovra::testsupport;
namespace fs = std::filesystem;

namespace {

// A .map of the given size whose version word (offset 260) is Version.
void WriteMap(const std::string& Path, uint16_t Version, size_t Size = 512) {
  std::string bytes(Size, '\0');
  if (Size >= 262) std::memcpy(bytes.data() + 260, &Version, 2);
  WriteBytes(Path, bytes);
}

std::vector<TJsonFeature> Roads() {
  return {{JsonLine({{0, 0}, {10, 0}, {10, 10}}), R"("zf":0,"zt":1)"},
          {JsonLine({{10, 10}, {20, 10}}), R"("zf":1,"zt":0)"},
          {JsonLine({{20, 10}, {20, 20}, {30, 20}, {30, 30}}), R"("zf":0,"zt":0)"},
          {JsonLine({{30, 30}, {40, 30}}), R"("zf":0,"zt":0)"},
          {JsonLine({{40, 30}, {40, 40}}), R"("zf":0,"zt":0)"}};
}

TEST(ImportSettings, DefaultsAndSetterRules) {
  TImport imp;
  EXPECT_EQ(imp.MaxNodesPerCell(), 50);
  EXPECT_EQ(imp.CoordinateUnit(), cuUnknown);
  EXPECT_TRUE(imp.FailOnDifferentCoordSys());
  EXPECT_FALSE(imp.AllowLoops());
  EXPECT_FALSE(imp.SkipSpatialIndex());
  EXPECT_EQ(imp.ZFromField(), -1);
  EXPECT_EQ(imp.ZToField(), -1);
  EXPECT_EQ(imp.EPSG(), 0);
  EXPECT_EQ(imp.CoordSys(), "");
  EXPECT_EQ(imp.Prj(), "");
  EXPECT_EQ(imp.ImportSource(), isFiles);
  const TFloatRect mbr = imp.MBR();
  EXPECT_EQ(std::tie(mbr.xmin, mbr.ymin, mbr.xmax, mbr.ymax), std::make_tuple(0.0, 0.0, 0.0, 0.0));
  // A leaf capacity of 10 or less is ignored.
  for (const auto& [set, kept] : {std::pair{10, 50}, {11, 11}, {-5, 11}, {200, 200}}) {
    imp.SetMaxNodesPerCell(set);
    EXPECT_EQ(imp.MaxNodesPerCell(), kept) << set;
  }
}

class ImportRun : public TImportTest {};

// Every fault of the request is found before the output folder is touched,
// here a folder that holds the network of an earlier run.
TEST_F(ImportRun, RequestCheckedBeforeAnyFileIsTouched) {
  const std::string roads = Shapefile("roads.shp", Roads());
  // Copies of roads under other names, some without a companion.
  const auto copy = [&](const std::string& stem, const std::string& shpExt, const std::string& drop) {
    for (const std::string ext : {".shp", ".shx", ".dbf", ".prj"})
      if (ext != drop) fs::copy_file(In("roads" + ext), In(stem + (ext == ".shp" ? shpExt : ext)));
  };
  copy("second", ".SHP", "");
  copy("noshx", ".shp", ".shx");
  copy("noprj", ".shp", ".prj");
  copy("nodbf", ".shp", ".dbf");
  copy("upper", ".shp", ".shx");
  fs::copy_file(In("roads.shx"), In("UPPER.SHX"));
  Shapefile("area.shp", {{R"({"type":"Polygon","coordinates":[[[0,0],[1,0],[1,1],[0,0]]]})", ""}});
  Shapefile("other.shp", {{JsonLine({{0, 0}, {1, 1}}), R"("name":"x")"}});
  WriteBytes(In("short.shp"), ReadBytes(roads).substr(0, 99));
  fs::copy_file(In("roads.shx"), In("short.shx"));
  fs::copy_file(In("roads.shp"), In("shortx.shp"));
  WriteBytes(In("shortx.shx"), ReadBytes(In("roads.shx")).substr(0, 60));
  WriteBytes(In("a.mif"), "Version 300\n");
  WriteBytes(In("v500.tab"), "");
  WriteMap(In("v500.map"), 500);
  WriteBytes(In("v1500.tab"), "");
  WriteMap(In("v1500.map"), 1500);
  WriteBytes(In("nomap.tab"), "");
  WriteBytes(In("v300.TAB"), "");
  WriteMap(In("v300.MAP"), 300);
  WriteBytes(In("cut.tab"), "");
  WriteMap(In("cut.map"), 500, 261);

  struct TCase {
    TCase(std::vector<std::string> files, std::string message, int32_t zFrom = -1, int32_t zTo = -1,
          std::string directory = "")
        : Files(std::move(files)), Message(std::move(message)), ZFrom(zFrom), ZTo(zTo), Directory(std::move(directory)) {}
    std::vector<std::string> Files;
    std::string Message;  // empty: the run succeeds
    int32_t ZFrom, ZTo;
    std::string Directory;  // empty: the output folder
  } cases[] = {
      {{roads, In("second.SHP")}, ""},
      {{In("upper.shp")}, ""},  // UPPER.SHX beside upper.shp
      {{}, "Cannot find input file to import."},
      {{roads, In("a.mif")}, "Only a single type of files are allowed"},
      {{In("roads.dbf")}, "Only MIF/SHP/TAB files are allowed in the list"},
      {{In("roads.dbf"), roads}, "Only a single type of files are allowed"},
      {{In("nomap.tab")}, "TAB file has no MAP component"},
      {{In("v300.TAB")}, "Unsupported MAP file encountered"},
      {{In("cut.tab")}, "Unsupported MAP file encountered"},
      {{In("v500.tab"), In("v1500.tab")}, "Only a single type of files are allowed"},
      {{In("v500.tab"), In("nomap.tab")}, "Only a single type of files are allowed"},
      {{roads, In("gone.shp")}, "Cannot open file \"" + In("gone.shp") + "\". No such file or directory"},
      {{In("noshx.shp")}, "Cannot open file \"" + In("noshx.shx") + "\". No such file or directory"},
      {{roads, In("nodbf.shp")}, "Cannot open file \"" + In("nodbf.dbf") + "\". No such file or directory", 0,
       1},
      {{roads, In("nodbf.shp")}, ""},  // the .dbf is needed only for z-levels
      {{roads}, "Invalid fields for Z-levels defined", 0, 2},
      {{roads, In("other.shp")}, "", 0},  // one field alone reads no z-levels
      {{roads, In("other.shp")}, "DBF files structure are different. Fields count of table " + In("other.dbf") +
                                     " is not the same as the first", 0, 1},
      {{roads, In("area.shp")}, "Only polyline SHP files are supported in translator"},
      {{In("short.shp")}, "Corrupt shapefile " + In("short.shp")},
      {{In("shortx.shp")}, "Corrupt shapefile " + In("shortx.shx")},
      {{In("noprj.shp")}, "No coordinate unit defined / found in PRJ file"},
      {{roads}, "Output directory does not exist", -1, -1, fTemp.File("missing")},
  };

  // The earlier network.
  {
    TReadStageImport first;
    first.SetDirectory(fOut);
    first.Add(roads);
    first.Execute();
  }
  const TFolderState network = FolderState(fOut);
  ASSERT_EQ(network.size(), 4u);
  const TFolderState inputs = FolderState(fIn);

  for (const TCase& c : cases) {
    const std::string dir = c.Directory.empty() ? fOut : c.Directory;
    SCOPED_TRACE(c.Message.empty() ? "success" : c.Message);
    TReadStageImport imp;
    imp.SetDirectory(dir);
    imp.AddFiles(c.Files);
    imp.SetZFromField(c.ZFrom);
    imp.SetZToField(c.ZTo);
    EXPECT_EQ(ExecuteError(imp), c.Message);
    if (c.Message.empty()) {
      EXPECT_EQ(ReadNetworkDir(dir).LinkCount(), imp.LinkCount());
      // Put the earlier network back for the next case.
      for (const auto& [name, bytes] : network) WriteBytes(fOut + "/" + name, bytes);
    } else {
      EXPECT_TRUE(NoFileOfRunRemains(network, fOut));
    }
    EXPECT_FALSE(fs::exists(fTemp.File("missing")));
  }
  // Inputs are only read.
  EXPECT_TRUE(NoFileOfRunRemains(inputs, fIn));
}

TEST_F(ImportRun, EmptyListAfterClear) {
  TReadStageImport imp;
  imp.SetDirectory(fOut);
  imp.Add(Shapefile("roads.shp", Roads()));
  imp.Clear();
  try {
    imp.Execute();
    FAIL() << "an empty list was run";
  } catch (const EFileMissing& e) {
    EXPECT_STREQ(e.what(), "Cannot find input file to import.");
  }
  EXPECT_TRUE(NoFileOfRunRemains({}, fOut));
}

TEST_F(ImportRun, UnwritableOutputFolder) {
  if (const std::string why = UnprivilegedSkipReason(); !why.empty()) GTEST_SKIP() << why;
  const std::string roads = Shapefile("roads.shp", Roads());
  ::chmod(fOut.c_str(), 0555);
  EXPECT_EQ(AsUnprivileged(fOut,
                           [&] {
                             TReadStageImport imp;
                             imp.SetDirectory(fOut);
                             imp.Add(roads);
                             return ExecuteError(imp);
                           }),
            "Output directory is not writeable");
  ::chmod(fOut.c_str(), 0755);
  EXPECT_TRUE(NoFileOfRunRemains({}, fOut));
}

// The handler's cancel stops reading after the object it was reported for,
// and the run leaves nothing; the next run clears the flag.
TEST_F(ImportRun, CancelAtThirdObjectLeavesNoFile) {
  const std::string roads = Shapefile("roads.shp", Roads());
  TReadStageImport imp;
  imp.SetDirectory(fOut);
  imp.Add(roads);
  std::vector<int32_t> reported;
  bool cancelAtThird = true;
  imp.SetOnProgress([&](TObject*, int32_t progress, bool& cancel) {
    reported.push_back(progress);
    // Five objects: 0 at the start, then 5, 10, 16, 21, 26.
    if (cancelAtThird && progress == 16) cancel = true;
  });
  imp.Execute();
  EXPECT_TRUE(imp.Cancelled());
  EXPECT_EQ(imp.LinkCount(), 3);
  EXPECT_EQ(reported, (std::vector<int32_t>{0, 5, 10, 16, 0}));
  EXPECT_TRUE(NoFileOfRunRemains({}, fOut));

  cancelAtThird = false;
  reported.clear();
  imp.Execute();
  EXPECT_FALSE(imp.Cancelled());
  EXPECT_EQ(imp.LinkCount(), 5);
  EXPECT_EQ(reported, (std::vector<int32_t>{0, 5, 10, 16, 21, 26, 0}));
  EXPECT_EQ(ReadNetworkDir(fOut).LinkCount(), 5);
}

// A build stand-in that records figures as the topology build does, only
// when something usable was read.
class TFiguresImport : public TReadStageImport {
protected:
  void Build() override {
    if (!fObjects_found) return;
    fTotallength = 12.5;
    fMaxdegree = 3;
    fNodeCount = 7;
  }
};

TEST_F(ImportRun, RunWithoutUsableObjectShowsNoEarlierFigures) {
  TFiguresImport imp;
  imp.SetDirectory(fOut);
  imp.Add(Shapefile("roads.shp", Roads()));
  imp.Execute();
  ASSERT_EQ(imp.NodeCount(), 7);

  imp.Clear();
  imp.Add(Shapefile("rejected.shp", {{JsonLine({{1, 1}, {1, 1}}), ""}, {"null", ""}}));
  imp.Execute();
  EXPECT_EQ(imp.LinkCount(), 2);
  EXPECT_EQ(imp.ImportErrorList().Count(), 2);
  EXPECT_EQ(imp.TotalLength(), 0);
  EXPECT_EQ(imp.MaxDegree(), 0);
  EXPECT_EQ(imp.NodeCount(), 0);
}

}  // namespace
