// Opening a network directory written by the test writer: the arrays match
// the source with and without a key, the options open what they name, and
// every damaged, missing or wrongly keyed file raises its error and leaves
// the network closed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>

#include "foundation/kovra_configfile.h"
#include "network/kovra_externid.h"
#include "network/kovra_networkfile.h"
#include "network/kovra_quadtree.h"
#include "network_fixture.h"
#include "support/test_raises.h"

using namespace kovra;
using namespace kovra::testsupport;
using testing::HasSubstr;
using testing::StartsWith;

namespace {

// The sample links (one rejected, one loop) and a small grid.
TTestNetworkWriter Sample(int64_t Key = 0) {
  TTestNetworkWriter w;
  w.Key = Key;
  w.AddSample();
  w.AddGrid({4, 3, 10, 3, 0.2});
  return w;
}

double PolylineKm(const TFloatPointArray& p) {
  double m = 0;
  for (size_t i = 1; i < p.size(); ++i) m += std::hypot(p[i].x - p[i - 1].x, p[i].y - p[i - 1].y);
  return m * 0.001;
}

// The adjacency of "node.bin" of a plain network, slot by slot.
std::vector<std::vector<int32_t>> NodeFile(const std::string& Path) {
  const std::string b = ReadBytes(Path);
  auto v = [&](size_t i) {
    int32_t x;
    std::memcpy(&x, b.data() + 4 * i, 4);
    return x;
  };
  const int32_t D = v(0);
  std::vector<int32_t> a(size_t(D) + 2, 0);
  for (int32_t d = D; d >= 1; --d) a[size_t(d)] = v(size_t(D - d + 1));
  std::vector<std::vector<int32_t>> slots(size_t(a[1]) + 1);
  size_t at = size_t(D) + 1;
  for (int32_t d = D; d >= 1; --d)
    for (int32_t n = a[size_t(d) + 1] + 1; n <= a[size_t(d)]; ++n)
      for (int32_t k = 0; k < d; ++k) slots[size_t(n)].push_back(v(at++));
  return slots;
}

class NetworkOpen : public TNetworkTest {};

TEST_F(NetworkOpen, ArraysMatchTheSourceWithAndWithoutKey) {
  const TTestNetworkWriter plain = Sample(0), keyed = Sample(cNetworkKey);
  TNetwork& p = Open(plain);
  TTempDir other;
  keyed.Write(other.Path.string() + "/");
  TNetwork k;
  k.SetDirectory(other.Path.string());
  k.SetEncryptionKey(cNetworkKey);
  k.Open(false, false, false, 0);

  ASSERT_EQ(p.LinkCount(), plain.LinkCount());
  for (int32_t l = 1; l <= p.LinkCount(); ++l) {
    SCOPED_TRACE(l);
    const TFloatPointArray line = plain.Polyline(l);
    if (line.empty()) {
      EXPECT_EQ(p.Lengths()[size_t(l)], 0.0f);
      continue;
    }
    EXPECT_NEAR(p.Lengths()[size_t(l)], PolylineKm(line), 1e-6 * PolylineKm(line));
    const TFloatPoint f = p.Node2Coordinate_raw(p.Fromnodes()[size_t(l)]);
    const TFloatPoint t = p.Node2Coordinate_raw(p.Tonodes()[size_t(l)]);
    EXPECT_EQ(f.x, line.front().x);
    EXPECT_EQ(f.y, line.front().y);
    EXPECT_EQ(t.x, line.back().x);
    EXPECT_EQ(t.y, line.back().y);
  }
  const auto slots = NodeFile(PathOf("node.bin"));
  ASSERT_EQ(p.NodeCount(), int32_t(slots.size()) - 1);
  for (int32_t n = 1; n <= p.NodeCount(); ++n) {
    const auto adj = p.Adjacent(n);
    EXPECT_EQ(std::vector<int32_t>(adj.begin(), adj.end()), slots[size_t(n)]) << "node " << n;
    int32_t scan = 0;  // the largest d with a[d] >= node
    for (int32_t d = p.MaxDegree(); d >= 1 && scan == 0; --d)
      if (p.DegreeTable()[size_t(d)] >= n) scan = d;
    EXPECT_EQ(p.Degree_raw(n), scan);
  }
  // The keyed network deciphers to the same model.
  EXPECT_EQ(k.Lengths(), p.Lengths());
  EXPECT_EQ(k.Fromnodes(), p.Fromnodes());
  EXPECT_EQ(k.Tonodes(), p.Tonodes());
  EXPECT_EQ(k.X(), p.X());
  EXPECT_EQ(k.Y(), p.Y());
  EXPECT_EQ(k.DegreeTable(), p.DegreeTable());
  for (int32_t n = 1; n <= p.NodeCount(); ++n)
    EXPECT_TRUE(std::ranges::equal(k.Adjacent(n), p.Adjacent(n))) << "node " << n;
  EXPECT_TRUE(p.LoopLinks());
  EXPECT_EQ(p.TurnSetCount(), 1);
}

TEST_F(NetworkOpen, OptionsOpenWhatTheyName) {
  TTestNetworkWriter w = Sample();
  w.SpatialIndex = true;
  std::vector<int32_t> ids;
  for (int32_t l = 1; l <= w.LinkCount(); ++l) ids.push_back(1000 + l);
  w.SetExternalIDs(ids);
  w.SetAttribute(1, 0x0200);
  for (int32_t externalid : {0, 4}) {
    TNetwork& net = Open(w, false, false, externalid);
    EXPECT_EQ(net.QuadTree(), nullptr);
    EXPECT_EQ(MessageOf([&] { net.FindQuadTreeCell({0, 0}); }), "Spatial index need to be open");
    EXPECT_EQ(MessageOf([&] { net.Link2ExternalID(1); }), "External ID is not open");
    EXPECT_NE(net.ExternalID(), nullptr);  // the reader exists, closed
    for (int32_t l = 1; l <= net.LinkCount(); ++l) EXPECT_EQ(net.Attributes()[size_t(l)], 0);
    for (int32_t n = 1; n <= net.NodeCount(); ++n)
      for (int32_t e : net.Adjacent(n)) EXPECT_GT(e, 0);
  }
  TNetwork& net = Open(w, true, true, 1);
  ASSERT_NE(net.QuadTree(), nullptr);
  EXPECT_EQ(net.Link2ExternalID(4), "1004");
  EXPECT_EQ(net.AttributeGet(1), 0x0200);
  const TFloatPoint p = net.Node2Coordinate(1);
  const auto nodes = net.QuadTree()->Nodes(net.FindQuadTreeCell(p));
  EXPECT_NE(std::ranges::find(nodes, 1), nodes.end());
  net.CloseExternalID();
  EXPECT_EQ(MessageOf([&] { net.Link2ExternalID(4); }), "External ID is not open");
}

TEST_F(NetworkOpen, SettingsFromOnConfigAndKeyRules) {
  const TTestNetworkWriter w = Sample();
  w.Write(Dir());
  const TConfig cfg = ReadConfig(Dir());
  std::filesystem::remove(PathOf("kovra_config.ini"));
  TNetwork net;
  net.SetDirectory(Dir());
  net.SetOnConfig([&](TObject* Sender) {
    EXPECT_EQ(Sender, &net);
    return cfg;
  });
  net.SetEncryptionKey(1234);  // a plain network forgets a key
  net.Open(false, false, false, 0);
  EXPECT_TRUE(net.IsOpen());
  EXPECT_EQ(net.EncryptionKey(), 0);
  EXPECT_EQ(net.LinkCount(), w.LinkCount());
  EXPECT_EQ(net.CoordinateUnit(), cuM);
  EXPECT_DOUBLE_EQ(net.DistFactor(), 0.001);
}

// Bytes of a file of the folder, changed in place.
void Edit(const std::string& Path, const std::function<void(std::string&)>& f) {
  std::string b = ReadBytes(Path);
  f(b);
  WriteBytes(Path, b);
}
void Put32(std::string& b, size_t Index, int32_t v) { std::memcpy(b.data() + 4 * Index, &v, 4); }
int32_t Get32(const std::string& b, size_t Index) {
  int32_t v;
  std::memcpy(&v, b.data() + 4 * Index, 4);
  return v;
}

template <typename E>
bool Is(const std::exception_ptr& p) {
  try {
    std::rethrow_exception(p);
  } catch (const E&) {
    return true;
  } catch (...) {
    return false;
  }
}

struct TBadCase {
  const char* name;
  std::function<void(TNetworkTest&, TTestNetworkWriter&)> before;  // on the writer
  std::function<void(const std::string& Dir)> damage;              // on the written folder
  std::function<bool(const std::exception_ptr&)> kind;
  std::string message;  // "<dir>" stands for the folder
  bool attributes = false;
  int64_t key = -1;     // -1: the writer's key
  int32_t version = 0;  // a version through OnConfig
  TCoordinateUnit unit = cuM;
};

std::string Missing(const char* Name) { return std::string("File is missing: <dir>") + Name; }
std::function<void(const std::string&)> Remove(const char* Name) {
  return [Name](const std::string& d) { std::filesystem::remove(d + Name); };
}
std::function<void(const std::string&)> Resize(const char* Name, int Delta) {
  return [Name, Delta](const std::string& d) {
    Edit(d + Name, [&](std::string& b) { Delta < 0 ? b.pop_back() : b.push_back('\0'); });
  };
}
std::string WrongSize(const char* Name) { return std::string("Wrong size of <dir>") + Name + ": "; }

TEST_F(NetworkOpen, BadDirectoriesRaiseAndStayClosed) {
  const auto withIndex = [](TNetworkTest&, TTestNetworkWriter& w) { w.SpatialIndex = true; };
  const auto withWords = [](TNetworkTest&, TTestNetworkWriter& w) { w.SetAttribute(2, 0x0400); };
  const auto keyed = [](TNetworkTest&, TTestNetworkWriter& w) { w.Key = cNetworkKey; };
  const auto none = [](TNetworkTest&, TTestNetworkWriter&) {};
  const auto intact = [](const std::string&) {};
  std::vector<TBadCase> cases{
      {"NoSettings", none, Remove("kovra_config.ini"), Is<EFileMissing>, Missing("kovra_config.ini")},
      {"NoLengths", none, Remove("length.bin"), Is<EFileMissing>, Missing("length.bin")},
      {"NoLinks", none, Remove("link.bin"), Is<EFileMissing>, Missing("link.bin")},
      {"NoCoords", none, Remove("coord.bin"), Is<EFileMissing>, Missing("coord.bin")},
      {"NoNodes", none, Remove("node.bin"), Is<EFileMissing>, Missing("node.bin")},
      {"NoIndex", withIndex, Remove("spatialindex.bin"), Is<EFileMissing>, Missing("spatialindex.bin")},
      {"NoVertices", none, Remove("coord3.bin"), Is<EFileMissing>, Missing("coord3.bin")},
      {"NoVertexIndex", none, Remove("coord3i.bin"), Is<EFileMissing>, Missing("coord3i.bin")},
      {"NoAttributes", none, intact, Is<EFileMissing>, Missing("attribute.bin"), true},
      {"Version399", none, intact, Is<EWrongVersion>, "This network is not compatible with the software", false, -1,
       399},
      {"EncryptedWithoutKey", keyed, intact, Is<EEncryptedData>, "Network is encrypted, supply a key", false, 0},
      {"ChecksumEdit", none,
       [](const std::string& d) { Edit(d + "kovra_config.ini", [](std::string& b) { b[b.find('=') + 1] ^= 1; }); },
       Is<EConfigFileCheckSumError>, "The config file is corrupted"},
      {"UnknownUnit", none, intact, Is<Exception>, "Undefined coordinate in DistFactor", false, -1, cNetworkVersion,
       cuUnknown},
      {"LengthsShort", none, Resize("length.bin", -1), Is<EWrongFileSize>, WrongSize("length.bin")},
      {"LengthsLong", none, Resize("length.bin", 1), Is<EWrongFileSize>, WrongSize("length.bin")},
      {"LinksShort", none, Resize("link.bin", -1), Is<EWrongFileSize>, WrongSize("link.bin")},
      {"LinksLong", none, Resize("link.bin", 1), Is<EWrongFileSize>, WrongSize("link.bin")},
      {"CoordsShort", none, Resize("coord.bin", -1), Is<EWrongFileSize>, WrongSize("coord.bin")},
      {"CoordsLong", none, Resize("coord.bin", 1), Is<EWrongFileSize>, WrongSize("coord.bin")},
      {"NodesShort", none, Resize("node.bin", -1), Is<EWrongFileSize>, WrongSize("node.bin")},
      {"NodesLong", none, Resize("node.bin", 1), Is<EWrongFileSize>, WrongSize("node.bin")},
      {"AttributesShort", withWords, Resize("attribute.bin", -1), Is<EWrongFileSize>, WrongSize("attribute.bin"),
       true},
      {"AttributesLong", withWords, Resize("attribute.bin", 1), Is<EWrongFileSize>, WrongSize("attribute.bin"), true},
      {"NodeIdOutOfRange", none,
       [](const std::string& d) {
         const int32_t nodes = int32_t(std::filesystem::file_size(d + "coord.bin") / 16);
         Edit(d + "link.bin", [&](std::string& b) { Put32(b, 0, nodes + 1); });
       },
       Is<Exception>, "Network file <dir>link.bin is corrupted (link 1 joins nodes"},
      {"Degree256", none, [](const std::string& d) { Edit(d + "node.bin", [](std::string& b) { Put32(b, 0, 256); }); },
       Is<Exception>, "Network file <dir>node.bin is corrupted (highest degree 256 is not in 0..255)"},
      {"EntryOnWrongNode", none,
       [](const std::string& d) {
         // The last slot (of the last node, degree 1) takes node 1's first link.
         Edit(d + "node.bin", [](std::string& b) { Put32(b, b.size() / 4 - 1, Get32(b, size_t(Get32(b, 0)) + 1)); });
       },
       Is<Exception>, "Network file <dir>node.bin is corrupted (slot "},
      {"WrongKey", keyed, intact, Is<EEncryptedData>, "Wrong encryption key or corrupted network file <dir>", false,
       cNetworkKey + 1},
  };
  for (const TBadCase& c : cases) {
    SCOPED_TRACE(c.name);
    TTempDir folder;
    const std::string d = folder.Path.string() + "/";
    TTestNetworkWriter w = Sample();
    c.before(*this, w);
    w.Write(d);
    c.damage(d);
    TNetwork net;
    net.SetDirectory(d);
    net.SetEncryptionKey(c.key < 0 ? w.Key : c.key);
    if (c.version != 0) {
      TConfig cfg = ReadConfig(d);
      cfg.VersionCode = c.version;
      cfg.Cu = c.unit;
      net.SetOnConfig([cfg](TObject*) { return cfg; });
    }
    std::exception_ptr raised;
    try {
      net.Open(c.attributes, false, w.SpatialIndex, 0);
    } catch (...) {
      raised = std::current_exception();
    }
    ASSERT_TRUE(raised) << "no error";
    EXPECT_TRUE(c.kind(raised));
    std::string expected = c.message;
    if (const size_t at = expected.find("<dir>"); at != std::string::npos) expected.replace(at, 5, d);
    EXPECT_THAT(MessageOf([&] { std::rethrow_exception(raised); }), StartsWith(expected));
    EXPECT_FALSE(net.IsOpen());
    EXPECT_TRUE(net.Lengths().empty());
    EXPECT_EQ(net.QuadTree(), nullptr);
  }
}

TEST_F(NetworkOpen, CallerStreamsAreReadFromTheirPosition) {
  TPathStreams path(5);
  for (const char* name : {"length", "link", "coord", "node"}) path.Files()[name].insert(0, "junk");
  TNetwork net;
  path.Attach(net);
  // The vertex reader takes its streams from their start.
  for (TKvStream* s : {net.LengthStream(), net.LinkStream(), net.CoordStream(), net.NodeStream()}) s->SetPosition(4);
  net.Open(false, false, false, 0);
  EXPECT_EQ(net.NodeCount(), 6);
  EXPECT_EQ(net.Degree(1), 2);
  EXPECT_EQ(net.Degree(6), 1);
  EXPECT_FLOAT_EQ(net.Length(), 0.5f);
  EXPECT_EQ(net.LengthAlpha(), 1.0f);
  EXPECT_EQ(net.CulDeSacs().CountTrue(), 5);
}

TEST_F(NetworkOpen, LengthSumsInDouble) {
  TPathStreams path(1000000);
  TNetwork net;
  path.Attach(net);
  net.Open(false, false, false, 0);
  EXPECT_NEAR(net.Length(), 100000.0, 1e-3);
}

TEST_F(NetworkOpen, CloseKeepsSettingsAndReopeningResetsWords) {
  TTestNetworkWriter w = Sample();
  TNetwork& net = Open(w);
  const uint64_t g0 = net.OpenGeneration();
  const TFloatRect mbr = net.MBR();
  net.OneWaySet(2, 512);
  net.Close();
  EXPECT_NE(net.OpenGeneration(), g0);
  EXPECT_EQ(MessageOf<ENetworkIsClosed>([&] { net.CheckOpen(); }), "Network is not open");
  EXPECT_EQ(net.LinkCount(), w.LinkCount());
  EXPECT_EQ(net.CoordinateUnit(), cuM);
  EXPECT_EQ(net.MBR().xmax, mbr.xmax);
  const uint64_t g1 = net.OpenGeneration();
  net.Close();  // a second Close does nothing
  EXPECT_EQ(net.OpenGeneration(), g1);

  net.Open(false, false, false, 0);
  EXPECT_NE(net.OpenGeneration(), g1);
  EXPECT_EQ(net.AttributeGet(2), 0);
  for (int32_t n = 1; n <= net.NodeCount(); ++n)
    for (int32_t e : net.Adjacent(n)) EXPECT_GT(e, 0);
  // Open on an open network starts over.
  net.Open(false, false, false, 0);
  EXPECT_TRUE(net.IsOpen());
}

TEST_F(NetworkOpen, NetworkOfRejectedObjectsOnly) {
  TTestNetworkWriter w;
  w.AddRejected();
  w.AddRejected();
  TNetwork& net = Open(w);
  EXPECT_EQ(net.NodeCount(), 0);
  EXPECT_EQ(net.MaxDegree(), 0);
  EXPECT_EQ(net.LengthAlpha(), 0.0f);
  EXPECT_FALSE(net.LoopLinks());
  TRandom r;
  EXPECT_EQ(MessageOf([&] { net.RandomLocation(r); }), "Network has no valid links");
}

}  // namespace
