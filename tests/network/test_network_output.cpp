// Result writers of the network: what GISoutputInit hands a writer, and how
// a layer the network writes ends when its writer fails.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "giswriter/kovra_giswriter.h"
#include "giswriter/kovra_giswriter_array.h"
#include "giswriter/kovra_giswriter_dbf.h"
#include "giswriter/kovra_giswriter_json.h"
#include "giswriter/kovra_giswriter_text.h"
#include "giswriter/kovra_giswriter_xml.h"
#include "giswriter/mitab.h"
#include "network_fixture.h"
#include "support/test_raises.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

// Makes the MITAB library look absent for the life of the guard.
class TMITABAbsent {
public:
  TMITABAbsent() {
    TMITABBinding absent;
    absent.Status = -2;
    fPresent = ReplaceMITABProcs(absent);
  }
  ~TMITABAbsent() { ReplaceMITABProcs(fPresent); }

private:
  TMITABBinding fPresent;
};

constexpr const char* cCoordSysBNG =
    "CoordSys Earth Projection 8, 79, \"m\", -2, 49, 0.9996012717, 400000, -100000";
constexpr const char* cPrjBNG = "PROJCS[\"British_National_Grid\",GEOGCS[\"GCS_OSGB_1936\"]]";

TEST(GISoutputInit, HandsEveryWriterTheNetworksReferenceUnlessItChoosesItsOwn) {
  TMITABAbsent noMITAB;
  ASSERT_FALSE(TGISWriter::MITAB_supported());
  ASSERT_FALSE(TGISWriter::EFAL_supported());
  TNetwork net;
  net.SetCoordsys(cCoordSysBNG);
  net.SetEPSG(27700);
  net.SetPRJ(cPrjBNG);
  net.SetCodepage(1250);
  net.SetCompactMIF(true);

  struct Case {
    TGISFormat GF;
    const std::type_info& Class;
    bool Configured;    // reference and file name set
    bool NetCodepage;   // the network's code page applied
  } const cases[] = {
      {gfArray, typeid(TGISWriterArray), false, false},
      {gfMIF, typeid(TGISWriterMIF), true, true},
      {gfSHP, typeid(TGISWriterSHP), true, true},
      {gfDBF, typeid(TGISWriterDBF), true, true},
      {gfCSV, typeid(TGISWriterCSV), true, true},
      {gfKML2, typeid(TGISWriterKML2), true, false},
      {gfGML2, typeid(TGISWriterGML2), true, false},
      {gfGeoJSON, typeid(TGISWriterGeoJSON), true, false},
      {gfGPX, typeid(TGISWriterGPX), true, false},
      {gfMIF8, typeid(TGISWriterMIF8), true, false},
      // Without their libraries the TAB formats write MIF/MID, which still
      // carries the network's CoordSys and code page.
      {gfMITAB, typeid(TGISWriterMIF), true, true},
      {gfEFALx, typeid(TGISWriterMIF), true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.GF));
    const std::unique_ptr<TGISWriter> w = net.GISoutputInit("/tmp/out", c.GF);
    const std::unique_ptr<TGISWriter> fresh = TGISWriter::GetGISObject(c.GF);
    ASSERT_TRUE(w);
    EXPECT_TRUE(typeid(*w) == c.Class) << typeid(*w).name();
    EXPECT_EQ(w->FileName, c.Configured ? "/tmp/out" : "");
    EXPECT_EQ(w->CoordSys, c.Configured ? cCoordSysBNG : cCoordSysWGS84);
    EXPECT_EQ(w->PRJ, c.Configured ? cPrjBNG : cPrjWGS84);
    EXPECT_EQ(w->epsg, c.Configured ? 27700 : cEpsgWGS84);
    EXPECT_EQ(w->CompactMIF, c.Configured);
    EXPECT_EQ(w->Codepage(), c.NetCodepage ? 1250 : fresh->Codepage());
    if (!c.NetCodepage) {
      EXPECT_NE(w->Codepage(), 1250);
    }
  }
  // A UTF-8 network code page never reaches a byte-table writer: it keeps
  // the system's ANSI page.
  net.SetCodepage(65001);
  EXPECT_EQ(net.GISoutputInit("/tmp/out", gfDBF)->Codepage(), TGISWriter::GetGISObject(gfDBF)->Codepage());
}

// A writer that records the protocol and can fail at a chosen record.
struct TWriterLog {
  std::vector<std::string> Calls;
  int32_t FailAtObject = 0;  // 1-based AddObject that raises; 0 = none
  bool FailClose = false;
  bool Destroyed = false;
};

class TRecordingWriter : public TGISWriter {
public:
  explicit TRecordingWriter(TWriterLog& Log) : fLog(Log) {}
  ~TRecordingWriter() override { fLog.Destroyed = true; }
  void AddPoint(double, double, const std::string&) override {}
  void AddObject(int32_t NumParts, bool multiPolygon, const std::string& Attrib) override {
    fLog.Calls.push_back("AddObject " + Attrib);
    if (++fObjects == fLog.FailAtObject) throw Exception("disk on fire");
    TGISWriter::AddObject(NumParts, multiPolygon, Attrib);
    ++FWrittenRecords;
  }
  void Close() override {
    fLog.Calls.push_back("Close");
    if (fLog.FailClose) throw Exception("cannot finish");
    TGISWriter::Close();
  }
  void Drop() override {
    fLog.Calls.push_back("Drop");
    TGISWriter::Drop();
  }

private:
  TWriterLog& fLog;
  int32_t fObjects = 0;
};

class NetworkOutput : public TNetworkTest {
protected:
  // Links 1 and 2 each repeat a point; link 3 is clean.
  TNetwork& OpenDefective() {
    TTestNetworkWriter w;
    w.AddLink({{0, 0}, {5, 0}, {5, 0}, {10, 0}});
    w.AddLink({{20, 0}, {25, 0}, {25, 0}, {30, 0}});
    w.AddLink({{40, 0}, {45, 5}, {50, 0}});
    return Open(w);
  }
};

TEST_F(NetworkOutput, TheSeamSubstitutesTheWriterAndGISoutputInitStillConfiguresIt) {
  TNetwork net;
  net.SetCoordsys(cCoordSysBNG);
  net.SetCodepage(1250);
  TWriterLog log;
  TGISFormat asked = gfMIF;
  net.SetGISWriterFactory([&](TGISFormat GF) {
    asked = GF;
    return std::make_unique<TRecordingWriter>(log);
  });
  auto w = net.GISoutputInit("x", gfSHP);
  EXPECT_EQ(asked, gfSHP);
  EXPECT_TRUE(dynamic_cast<TRecordingWriter*>(w.get()));
  EXPECT_EQ(w->CoordSys, cCoordSysBNG);
  EXPECT_EQ(w->Codepage(), 1250);
  EXPECT_EQ(w->FileName, "x");
  w.reset();
  net.SetGISWriterFactory(nullptr);
  EXPECT_FALSE(dynamic_cast<TRecordingWriter*>(net.GISoutputInit("x", gfSHP).get()));
}

TEST_F(NetworkOutput, AFailingWriterIsDroppedAndDestroyedAndTheErrorPropagates) {
  TNetwork& net = OpenDefective();
  // A successful in-memory GeoJSON first, so that a later failure can be
  // seen to leave the network's text alone.
  ASSERT_EQ(net.ObjectCheck("", gfGeoJSON, 10), 2);
  const std::string before = net.GeoJSON();
  ASSERT_NE(before.find("\"Duplicate\""), std::string::npos);

  struct Case {
    const char* name;
    int32_t FailAtObject;
    bool FailClose;
    const char* message;
    std::vector<std::string> calls;
  } const cases[] = {
      {"second record", 2, false, "disk on fire", {"AddObject 1,1,0,0", "AddObject 2,1,0,0", "Drop", "Close"}},
      {"close", 0, true, "cannot finish", {"AddObject 1,1,0,0", "AddObject 2,1,0,0", "Close", "Drop", "Close"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TWriterLog log;
    log.FailAtObject = c.FailAtObject;
    log.FailClose = c.FailClose;
    net.SetGISWriterFactory([&](TGISFormat) { return std::make_unique<TRecordingWriter>(log); });
    EXPECT_EQ(MessageOf([&] { net.ObjectCheck("", gfGeoJSON, 10); }), c.message);
    EXPECT_EQ(log.Calls, c.calls);
    EXPECT_TRUE(log.Destroyed);
    EXPECT_EQ(net.GeoJSON(), before);
  }
}

TEST_F(NetworkOutput, AFailedFileOutputLeavesNoFilesBehind) {
  TNetwork& net = OpenDefective();
  // The real shapefile writer under a writer that fails at the second record.
  struct TFailingSHP : TGISWriterSHP {
    void AddObject(int32_t NumParts, bool multiPolygon, const std::string& Attrib) override {
      if (WrittenRecords() == 1) throw Exception("disk on fire");
      TGISWriterSHP::AddObject(NumParts, multiPolygon, Attrib);
    }
  };
  net.SetGISWriterFactory([](TGISFormat) { return std::make_unique<TFailingSHP>(); });
  EXPECT_EQ(MessageOf([&] { net.ObjectCheck(PathOf("objects"), gfSHP, 10); }), "disk on fire");
  for (const auto& e : std::filesystem::directory_iterator(dir))
    EXPECT_NE(e.path().stem().string(), "objects") << e.path();
}

TEST_F(NetworkOutput, ArrayOutputFillsTheNetworksTableWhichOutlivesTheWriter) {
  TNetwork& net = OpenDefective();
  ASSERT_EQ(net.ObjectCheck("", gfArray, 10), 2);
  const TGISArray& t = net.GISarray();
  ASSERT_EQ(t.RecCount, 2);
  ASSERT_EQ(t.Field.size(), 4u);
  EXPECT_EQ(t.Field[3].Name, "SharpTurn");
  EXPECT_EQ(std::get<int32_t>(t.Rec[1].Attr[0]), 2);
  // The GeoJSON text is the network's only after a GeoJSON output.
  EXPECT_EQ(net.GeoJSON(), "");
}

TEST_F(NetworkOutput, AClosedNetworkRaisesBeforeAnyFileIsMade) {
  TNetwork net;
  EXPECT_EQ(MessageOf([&] { net.ObjectCheck(PathOf("o"), gfSHP, 10); }), "Network is not open");
  EXPECT_EQ(MessageOf([&] { net.ParallelLinks(PathOf("p"), gfMIF); }), "Network is not open");
  EXPECT_TRUE(std::filesystem::is_empty(dir));
}

}  // namespace
