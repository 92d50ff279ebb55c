// What an import does to the folder it writes into, which may hold a network
// already: a run that fails, is cancelled or reads nothing usable leaves the
// folder as it was and its network answering as before; a run killed at any
// step leaves the old network, a folder refused at open, or the new network;
// a network open in the folder keeps reading its own files; a successful run
// leaves no file of the earlier network behind.
#include <gtest/gtest.h>

#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

#include "import/kovra_import.h"
#include "import/kovra_importattributes.h"
#include "import/support/folder_state.h"
#include "import/support/import_fixtures.h"
#include "import/support/tab_fixture.h"
#include "network/kovra_network.h"
#include "routing/kovra_calc.h"
#include "search/kovra_spatialsearch.h"
#include "support/test_files.h"

using namespace kovra;
using namespace kovra::testsupport;
namespace fs = std::filesystem;

namespace {

// A grid of N x N junctions Spacing metres apart from Origin, joined along
// rows and columns by links with one bent vertex each; an id field (MapInfo
// tables need one).
std::vector<TJsonFeature> Grid(int32_t N, double Spacing, TFloatPoint Origin) {
  std::vector<TJsonFeature> roads;
  const auto at = [&](int32_t i, int32_t j) { return TFloatPoint{Origin.x + i * Spacing, Origin.y + j * Spacing}; };
  for (int32_t i = 0; i < N; ++i)
    for (int32_t j = 0; j < N; ++j) {
      const TFloatPoint p = at(i, j);
      if (i + 1 < N) {
        const TFloatPoint q = at(i + 1, j);
        roads.push_back({JsonLine({p, {(p.x + q.x) / 2, p.y + Spacing * 0.1}, q}), R"("id":1)"});
      }
      if (j + 1 < N) {
        const TFloatPoint q = at(i, j + 1);
        roads.push_back({JsonLine({p, {p.x - Spacing * 0.1, (p.y + q.y) / 2}, q}), R"("id":2)"});
      }
    }
  return roads;
}

// Points spread over both grids of the tests (A from (0, 0), B from (100, 50)).
std::vector<TFloatPoint> QueryPoints() {
  std::vector<TFloatPoint> points;
  for (int32_t k = 0; k < 12; ++k) points.push_back({37.0 + 61.3 * k, 23.0 + 53.7 * k});
  return points;
}

// What the network in Dir answers, opened with its index: the nearest node
// and its distance for every query point, and the length of the route between
// the nodes nearest to the first and the last point. Empty when the folder is
// refused at open.
std::optional<std::vector<double>> Answers(const std::string& Dir) {
  TNetwork net;
  net.SetDirectory(Dir);
  try {
    net.Open(false, false, true, 0);
  } catch (const Exception&) {
    return std::nullopt;
  }
  std::vector<double> answers;
  TSpatialSearch search(net);
  std::vector<int32_t> nodes;
  for (const TFloatPoint& p : QueryPoints()) {
    int32_t node = 0;
    double distance = 0;
    search.NearestNode(p, node, distance);
    nodes.push_back(node);
    answers.push_back(node);
    answers.push_back(distance);
  }
  TRouteCalc calc(net, false);
  answers.push_back(calc.Route(nodes.front(), nodes.back()));
  return answers;
}

// The input formats, all made by ogr2ogr from the same features.
struct TFormat {
  const char* Ext;
  const char* Args;
};
const TFormat cShp{".shp", "-a_srs EPSG:27700"};
const TFormat cMif{".mif", "-f 'MapInfo File' -dsco FORMAT=MIF -a_srs EPSG:27700"};
const TFormat cTab{".tab", "-f 'MapInfo File' -a_srs EPSG:27700"};

std::string SiblingOf(const std::string& Path, const char* Ext) {
  return fs::path(Path).replace_extension(Ext).string();
}

// Makes the second object of the input unreadable for its reader.
void CorruptSecondObject(const std::string& Input) {
  const std::string ext = fs::path(Input).extension().string();
  if (ext == ".shp") {
    // Its .shx entry points far past the end of the .shp.
    PatchFile<uint32_t>(SiblingOf(Input, ".shx"), 100 + 8, 0xF0FFFF7F);
  } else if (ext == ".mif") {
    std::string text = ReadBytes(Input);
    size_t at = text.find("Pline");
    at = text.find("Pline", at + 1);
    ASSERT_NE(at, std::string::npos);
    at = text.find('\n', at) + 1;
    text.replace(at, text.find('\n', at) - at, "east north");
    WriteBytes(Input, text);
  } else {
    // Its .id entry points past the end of the .map.
    PatchFile<int32_t>(SiblingOf(Input, ".id"), 4, 0x7FFFFF00);
  }
}

class ImportFolder : public TImportTest {
protected:
  std::string Input(const std::string& Stem, const TFormat& Format, const std::vector<TJsonFeature>& Features) {
    const std::string path = In(Stem + Format.Ext);
    OgrConvert(Features, path, Format.Args);
    return path;
  }
  // Imports Files into Dir, a finished run.
  static void Import(const std::string& Dir, const std::vector<std::string>& Files) {
    TImport imp;
    imp.SetDirectory(Dir);
    imp.AddFiles(Files);
    imp.Execute();
  }
  // Shapefiles of two grids of N x N junctions with the same numbers of
  // links and nodes, A 60 m apart from (0, 0), B 75 m apart from (100, 50);
  // network A imported into the output folder.
  void TwoGrids(int32_t N) {
    fA = In("a.shp");
    fB = In("b.shp");
    OgrConvert(Grid(N, 60, {0, 0}), fA, cShp.Args);
    OgrConvert(Grid(N, 75, {100, 50}), fB, cShp.Args);
    Import(fOut, {fA});
  }
  std::string fA, fB;
};

// A small file system of its own for Dir, in a mount namespace of the
// process's own, so nothing of it outlives the test process. Mounting needs
// root; another user cannot make a disk fill up on purpose.
class TSmallFileSystem {
public:
  explicit TSmallFileSystem(const std::string& Dir) : fDir(Dir) {
    if (::geteuid() != 0) {
      fWhyNot = "mounting a file system needs root";
      return;
    }
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      fWhyNot = std::string("no mount namespace of our own: ") + std::strerror(errno);
      return;
    }
    fs::create_directories(Dir);
    if (::mount("kovra_test", Dir.c_str(), "tmpfs", 0, "size=16m") != 0) {
      fWhyNot = std::string("tmpfs not mounted: ") + std::strerror(errno);
      return;
    }
    fMounted = true;
  }
  ~TSmallFileSystem() {
    if (fMounted) ::umount2(fDir.c_str(), MNT_DETACH);
  }
  bool Mounted() const { return fMounted; }
  const std::string& WhyNot() const { return fWhyNot; }
  // Shrinks the file system to what it holds and Spare bytes more.
  void Fill(int64_t Spare) {
    struct statvfs s {};
    ASSERT_EQ(::statvfs(fDir.c_str(), &s), 0);
    const int64_t used = int64_t(s.f_blocks - s.f_bfree) * int64_t(s.f_frsize);
    const std::string options = "size=" + std::to_string(used + Spare);
    ASSERT_EQ(::mount(nullptr, fDir.c_str(), nullptr, MS_REMOUNT, options.c_str()), 0) << std::strerror(errno);
  }

private:
  std::string fDir, fWhyNot;
  bool fMounted = false;
};

// A run that fails, is cancelled at its first or a late progress call, or
// rejects every object leaves the folder as it was, byte for byte, and the
// network there answers as before.
TEST_F(ImportFolder, FailedRunKeepsTheNetwork) {
  const std::string network = In("network.shp");
  OgrConvert(Grid(12, 60, {0, 0}), network, cShp.Args);
  std::vector<TJsonFeature> star, nulls;
  for (int32_t k = 0; k < 256; ++k) {
    const double a = k * 2 * std::numbers::pi / 256;
    star.push_back({JsonLine({{300, 300}, {300 + 50 * std::cos(a), 300 + 50 * std::sin(a)}}), R"("id":3)"});
  }
  for (int32_t k = 0; k < 5; ++k) nulls.push_back({"null", R"("id":4)"});
  // Large enough for no file system that holds only the network and 16 KiB.
  const std::vector<TJsonFeature> large = Grid(40, 25, {0, 0});

  Import(fOut, {network});
  const TFolderState before = FolderState(fOut);
  const std::optional<std::vector<double>> answers = Answers(fOut);
  ASSERT_TRUE(answers.has_value());

  TSmallFileSystem small(fTemp.File("small"));
  std::optional<std::vector<double>> smallAnswers;
  TFolderState smallBefore;
  if (small.Mounted()) {
    Import(fTemp.File("small"), {network});
    smallBefore = FolderState(fTemp.File("small"));
    smallAnswers = Answers(fTemp.File("small"));
    small.Fill(16384);
  }

  const std::function<bool(int32_t)> never = [](int32_t) { return false; };
  struct TCase {
    const char* Name;
    std::vector<TJsonFeature> Features;
    std::function<void(const std::string&)> Spoil;  // applied to the input made
    std::function<bool(int32_t)> Cancel;            // from the progress reported
    std::string Message;  // how the message starts; "" for a run that finishes, "*" any message
    bool DiskFull = false;
  };
  const std::vector<TCase> cases = {
      {"corrupt record", Grid(5, 40, {0, 0}), CorruptSecondObject, never, "*"},
      {"256 ends at a node", star, nullptr, never, "Too many links at 300"},
      {"every object without geometry", nulls, nullptr, never, ""},
      {"cancel at the first progress call", Grid(5, 40, {0, 0}), nullptr, [](int32_t) { return true; }, ""},
      {"cancel while the index is built", Grid(12, 40, {0, 0}), nullptr, [](int32_t p) { return p >= 80; }, ""},
      {"disk full", large, nullptr, never, "Cannot write file \"" + fTemp.File("small") + "/", true},
  };
  int32_t made = 0;
  for (const TFormat& format : {cShp, cMif, cTab}) {
    for (const TCase& c : cases) {
      SCOPED_TRACE(std::string(format.Ext) + ": " + c.Name);
      const std::string input = Input("new" + std::to_string(++made), format, c.Features);
      if (c.Spoil) c.Spoil(input);
      if (c.DiskFull && !small.Mounted()) {
        std::cout << "disk full row skipped: " << small.WhyNot() << "\n";
        continue;
      }
      const std::string dir = c.DiskFull ? fTemp.File("small") : fOut;
      TImport imp;
      imp.SetDirectory(dir);
      imp.Add(input);
      bool cancelled = false;
      imp.SetOnProgress([&](TObject*, int32_t p, bool& cancel) {
        if (!cancelled && c.Cancel(p)) cancel = cancelled = true;
      });
      const std::string message = ExecuteError(imp);
      if (c.Message.empty())
        EXPECT_EQ(message, "");
      else if (c.Message == "*")
        EXPECT_NE(message, "");
      else
        EXPECT_EQ(message.rfind(c.Message, 0), 0u) << message;
      // The file and the system's reason.
      if (c.DiskFull) {
        EXPECT_NE(message.find("No space left on device"), std::string::npos) << message;
      }
      EXPECT_EQ(imp.Cancelled(), cancelled);
      EXPECT_TRUE(NoFileOfRunRemains(c.DiskFull ? smallBefore : before, dir));
      EXPECT_EQ(Answers(dir), c.DiskFull ? smallAnswers : answers);
    }
  }
}

// An import whose process is killed at the k-th of its progress reports and
// steps, for every k: each time the folder holds the old network, a folder
// refused at open, or the new network, never files of both that open
// together. The two networks have the same numbers of links and nodes, so a
// mix would pass every count.
TEST_F(ImportFolder, KilledAtEveryStepLeavesOneNetworkOrNone) {
  class TStoppedImport : public TImport {
  public:
    explicit TStoppedImport(int32_t StopAt) : fStopAt(StopAt) {
      SetOnProgress([this](TObject*, int32_t, bool&) { Step(); });
    }

  protected:
    void Checkpoint(const char*) override { Step(); }

  private:
    void Step() {
      if (++fSteps == fStopAt) ::raise(SIGKILL);
    }
    int32_t fStopAt, fSteps = 0;
  };
  TwoGrids(12);
  const TFolderState networkA = FolderState(fOut);
  const std::optional<std::vector<double>> answersA = Answers(fOut);
  ASSERT_TRUE(answersA.has_value());
  {
    const std::string dirB = fTemp.File("b");
    fs::create_directories(dirB);
    Import(dirB, {fB});
    ASSERT_NE(Answers(dirB), answersA);
  }
  const std::optional<std::vector<double>> answersB = Answers(fTemp.File("b"));

  enum TOutcome { okOld, okRefused, okNew };
  std::vector<TOutcome> outcomes;
  for (int32_t stopAt = 1;; ++stopAt) {
    SCOPED_TRACE("stopped at step " + std::to_string(stopAt));
    ASSERT_LT(stopAt, 1000) << "the run never finished";
    // The old network, as it was.
    fs::remove_all(fOut);
    fs::create_directories(fOut);
    for (const auto& [name, bytes] : networkA) WriteBytes(fOut + "/" + name, bytes);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      TStoppedImport imp(stopAt);
      imp.SetDirectory(fOut);
      imp.Add(fB);
      try {
        imp.Execute();
      } catch (...) {
        ::_exit(2);
      }
      ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    const bool killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    ASSERT_TRUE(killed || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) << "status " << status;

    const std::optional<std::vector<double>> answers = Answers(fOut);
    if (!answers) {
      outcomes.push_back(okRefused);
    } else if (answers == answersA) {
      outcomes.push_back(okOld);
    } else {
      EXPECT_EQ(answers, answersB) << "a folder that opens with neither network's answers";
      outcomes.push_back(okNew);
    }
    if (!killed) {
      EXPECT_EQ(outcomes.back(), okNew) << "a finished run";
      EXPECT_FALSE(fs::exists(fOut + "/" + cImportStagingFolder));
      break;
    }
  }
  // Old, then refused while the files are moved, then new; never back.
  EXPECT_TRUE(std::is_sorted(outcomes.begin(), outcomes.end()));
  EXPECT_EQ(outcomes.front(), okOld);
  EXPECT_NE(std::find(outcomes.begin(), outcomes.end(), okRefused), outcomes.end());
}

// A network open in the folder keeps reading its own geometry, external ids
// and road names while another network is imported there: the import
// renames new files over the old ones and never writes into them.
TEST_F(ImportFolder, OpenNetworkKeepsReadingItsOwnFiles) {
  TwoGrids(8);
  TImportAttributes attributes;
  attributes.SetDirectory(fOut);
  attributes.OnReadExternalIDInt = [](TObject*, int32_t link, int64_t& id, bool& last) {
    id = 1000 + link;
    last = link == 112;
  };
  attributes.ExecuteExternalIDintEvent(false);
  attributes.OnReadRoadName = [](TObject*, int32_t link, std::string& name, bool& last) {
    name = "Road " + std::to_string(link % 7);
    last = link == 112;
  };
  attributes.ExecuteRoadnameEvent();

  TNetwork net;
  net.SetDirectory(fOut);
  net.Open(false, false, true, 1);  // vertices and ids read from their files
  net.OpenRoadName(1, false);
  ASSERT_EQ(net.LinkCount(), 112);
  const auto read = [&] {
    std::vector<std::string> seen;
    for (int32_t link = 1; link <= net.LinkCount(); ++link) {
      const TFloatPointArrayEx section = net.GetGISSection(link);
      std::string s = net.Link2ExternalID(link) + " " + net.Link2RoadName(1, link);
      for (int32_t k = 0; k < section.Count; ++k)
        s += " " + std::to_string(section.Pnt[size_t(k)].x) + "," + std::to_string(section.Pnt[size_t(k)].y);
      seen.push_back(s);
    }
    return seen;
  };
  const std::vector<std::string> before = read();

  Import(fOut, {fB});
  EXPECT_EQ(read(), before);
  // The folder holds the new network.
  TNetwork fresh;
  fresh.SetDirectory(fOut);
  fresh.Open(false, false, false, 0);
  EXPECT_NE(fresh.GetGISSection(1).Pnt[0].x, net.GetGISSection(1).Pnt[0].x);
}

// A successful run leaves no file of the network that was in the folder:
// none that the new network, with the same number of links, would open as
// its own attributes, limits, external ids or road names.
TEST_F(ImportFolder, EarlierNetworksFilesAreRemoved) {
  TwoGrids(6);
  TImportAttributes attributes;
  attributes.SetDirectory(fOut);
  attributes.OnReadAttribute = [](TObject*, int32_t link, uint16_t& value, bool& last) {
    value = 1;  // one-way
    last = link == 60;
  };
  attributes.ExecuteAttributeEvent();
  attributes.OnReadLimit = [](TObject*, int32_t link, uint8_t& value, bool& last) {
    value = 7;
    last = link == 60;
  };
  for (const int32_t n : {1, 9}) {
    attributes.SetLimitFileIndex(n);
    attributes.ExecuteLimitEvent();
  }
  attributes.OnReadExternalIDString = [](TObject*, int32_t link, std::string& id, bool& last) {
    id = "A" + std::to_string(link);
    last = link == 60;
  };
  attributes.ExecuteExternalIDStringEvent(4);
  attributes.OnReadRoadName = [](TObject*, int32_t link, std::string& name, bool& last) {
    name = "Old Road";
    last = link == 60;
  };
  for (const int32_t n : {1, 99}) {
    attributes.SetRoadNameFileIndex(n);
    attributes.ExecuteRoadnameEvent();
  }
  WriteBytes(fOut + "/notes.txt", "the user's own file");
  const std::vector<std::string> sideFiles = {cAttributeFileName, "limit1.bin",     "limit9.bin",       cIndex1FileName,
                                              cIndex2FileName,    "roadname01.bin", "roadnumber01.bin", "roadname99.bin",
                                              "roadnumber99.bin"};
  for (const std::string& name : sideFiles) ASSERT_TRUE(fs::exists(fOut + "/" + name)) << name;

  Import(fOut, {fB});
  for (const std::string& name : sideFiles) EXPECT_FALSE(fs::exists(fOut + "/" + name)) << name;
  EXPECT_EQ(ReadBytes(fOut + "/notes.txt"), "the user's own file");
  TNetwork net;
  net.SetDirectory(fOut);
  net.Open(false, false, true, 0);
  EXPECT_EQ(net.LinkCount(), 60);
  EXPECT_THROW(net.OpenAttributes(), EFileMissing);
  EXPECT_THROW(net.OpenRoadName(1, false), EFileMissing);
}

}  // namespace
