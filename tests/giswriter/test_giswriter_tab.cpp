// Writer factory, outside-library bindings and the MITAB writer against a
// recording function table. Load outcomes of the MITAB library run as their
// own ctest entries (KOVRA_EXPECT_MITAB_STATUS, see extra.cmake).
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <typeinfo>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "giswriter/efal.h"
#include "giswriter/kovra_giswriter.h"
#include "giswriter/kovra_giswriter_array.h"
#include "giswriter/kovra_giswriter_dbf.h"
#include "giswriter/kovra_giswriter_json.h"
#include "giswriter/kovra_giswriter_tab.h"
#include "giswriter/kovra_giswriter_text.h"
#include "giswriter/kovra_giswriter_xml.h"
#include "giswriter/mfal.h"
#include "giswriter/mitab.h"
#include "support/test_files.h"

using namespace kovra;
using kovra::testsupport::TTempDir;

namespace {

bool Exists(const std::string& f) { return std::filesystem::exists(f); }

// ---------------------------------------------------------------------------
// Load status and factory

TEST(MITABLoadStatus, MatchesTheLibraryGiven) {
  const char* expect = std::getenv("KOVRA_EXPECT_MITAB_STATUS");
  if (!expect) GTEST_SKIP() << "run through the giswriter.MITABLoad.* ctest entries";
  EXPECT_EQ(MITABStatus(), std::atoi(expect));
  EXPECT_EQ(TGISWriter::MITAB_supported(), std::atoi(expect) == 0);
  // MFAL cannot be bound by ordinal here: absent without opening a file.
  EXPECT_EQ(MFALStatus(), -2);
  EXPECT_FALSE(TGISWriter::MFAL_supported());
}

template <typename T>
bool Is(const std::unique_ptr<TGISWriter>& w) {
  return dynamic_cast<T*>(w.get()) != nullptr;
}

// The exact class, not a descendant (MIF8 is a MIF, EFALx an EFAL).
template <typename T>
bool IsExactly(const std::unique_ptr<TGISWriter>& w) {
  return w && typeid(*w) == typeid(T);
}

TEST(GISWriterFactory, EveryFormatGivesItsWriter) {
  const bool mitab = TGISWriter::MITAB_supported();
  struct Row {
    int ordinal;
    std::function<bool(const std::unique_ptr<TGISWriter>&)> check;
  };
  const std::vector<Row> rows = {
      {0, IsExactly<TGISWriterMIF>},
      {1, IsExactly<TGISWriterDBF>},
      {2, IsExactly<TGISWriterSHP>},
      {3, IsExactly<TGISWriterCSV>},
      {4, IsExactly<TGISWriterArray>},
      {5, mitab ? std::function<bool(const std::unique_ptr<TGISWriter>&)>(IsExactly<TGISWriterMITAB>)
                : IsExactly<TGISWriterMIF>},
      {6, IsExactly<TGISWriterGML2>},
      {7, IsExactly<TGISWriterKML2>},
      {8, IsExactly<TGISWriterGeoJSON>},
      {9, IsExactly<TGISWriterMIF>},   // MFAL never loads here
      {10, IsExactly<TGISWriterMIF8>},
      {11, IsExactly<TGISWriterMIF>},  // EFAL only after EFAL_Load
      {12, IsExactly<TGISWriterMIF>},
      {13, IsExactly<TGISWriterGPX>},
      {14, IsExactly<TGISWriterMIF>},
      {255, IsExactly<TGISWriterMIF>},
  };
  ASSERT_FALSE(TGISWriter::EFAL_supported());
  for (const Row& r : rows) {
    std::unique_ptr<TGISWriter> w = TGISWriter::GetGISObject(TGISFormat(r.ordinal));
    ASSERT_TRUE(w) << r.ordinal;
    EXPECT_TRUE(r.check(w)) << "ordinal " << r.ordinal << " gave " << typeid(*w).name();
  }
}

TEST(GISWriterFactory, FirstUseFromManyThreadsLoadsOnce) {
  // Whichever thread comes first loads; all see the same outcome.
  std::vector<std::thread> threads;
  std::vector<int> supported(8, -1);
  for (size_t i = 0; i < supported.size(); ++i)
    threads.emplace_back([&, i] {
      std::unique_ptr<TGISWriter> w = TGISWriter::GetGISObject(gfMITAB);
      supported[i] = dynamic_cast<TGISWriterMITAB*>(w.get()) ? 1 : 0;
    });
  for (std::thread& t : threads) t.join();
  const int expect = TGISWriter::MITAB_supported() ? 1 : 0;
  for (int s : supported) EXPECT_EQ(s, expect);
  EXPECT_EQ(GetMITABProc("mitab_c_getlibversion") != nullptr, expect == 1);
}

TEST(GISWriterFactory, ArrayWriterHoldsAnEmptyTableOfItsOwn) {
  std::unique_ptr<TGISWriter> w = TGISWriter::GetGISObject(gfArray);
  ASSERT_NE(w->GISarray, nullptr);
  EXPECT_EQ(w->GISarray->RecCount, 0);
  EXPECT_TRUE(w->GISarray->Field.empty());
}

TEST(GISWriterFactory, FallbackDropDeletesMifAndMid) {
  TTempDir dir("kovra_factory");
  for (TGISFormat f : {gfMFAL, gfEFAL, gfEFALx}) {
    std::unique_ptr<TGISWriter> w = TGISWriter::GetGISObject(f);
    ASSERT_TRUE(Is<TGISWriterMIF>(w));
    w->FileName = dir.File("layer");
    w->StartHeader(1, otPoint);
    w->AddField("id", gfInteger, 5, 0);
    w->AddPoint(1, 2, "7");
    w->Close();
    EXPECT_TRUE(Exists(dir.File("layer.mif")));
    EXPECT_TRUE(Exists(dir.File("layer.mid")));
    w->Drop();
    EXPECT_FALSE(Exists(dir.File("layer.mif")));
    EXPECT_FALSE(Exists(dir.File("layer.mid")));
  }
}

// ---------------------------------------------------------------------------
// Helpers of the bindings

TEST(TABHelpers, CoordSysToEFAL) {
  const std::pair<const char*, const char*> cases[] = {
      {"CoordSys Earth Projection 1, 104", "mapinfo:coordsys 1,104"},
      {cCoordSysBNG, "mapinfo:coordsys 8,79,7,-2,49,0.9996012717,400000,-100000 "},
      {"CoordSys Earth Projection 3, 74, \"survey ft\", -96, 23, 29.5, 45.5, 0, 0",
       "mapinfo:coordsys 3,74,8,-96,23,29.5,45.5,0,0"},
      {"CoordSys Earth Projection 8, 104, \"ft\", 0, 0, 1, 0, 0", "mapinfo:coordsys 8,104,3,0,0,1,0,0"},
      {"CoordSys NonEarth Units \"km\" Bounds (0, 0) (10, 10)", "mapinfo:coordsys nonearth units 1 "},
      {"CoordSys Earth Projection 1, 0, \"nmi\"", "mapinfo:coordsys 1,0,9"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(CoordSysToEFAL(in), out) << in;
}

TEST(TABHelpers, MakeMIFieldName) {
  char name[32];
  std::memset(name, 'x', sizeof name);
  MakeMIFieldName(name, std::string(31, 'a'));
  EXPECT_EQ(std::string(name, 31), std::string(31, 'a'));
  EXPECT_EQ(name[31], '\0');
  MakeMIFieldName(name, "id");
  EXPECT_EQ(std::string(name, 3), std::string("id\0", 3));
  EXPECT_EQ(std::count(name, name + 32, '\0'), 30);
  try {
    MakeMIFieldName(name, std::string(32, 'b'));
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Field name is longer than 31");
  }
  EXPECT_EQ(name[0], 'i');  // unchanged by the refusal
}

TEST(TABHelpers, ParseMIFBounds) {
  double a, b, c, d;
  TGISWriterMITAB::ParseMIFBounds("Bounds (0, -100000) (2000000, 1900000)", a, b, c, d);
  EXPECT_EQ(a, 0);
  EXPECT_EQ(b, -100000);
  EXPECT_EQ(c, 2000000);
  EXPECT_EQ(d, 1900000);
  TGISWriterMITAB::ParseMIFBounds("BOUNDS(-1.5,2)(3e2, 4.25)", a, b, c, d);
  EXPECT_EQ(a, -1.5);
  EXPECT_EQ(c, 300);
  EXPECT_EQ(d, 4.25);
  for (const char* bad : {"Bounds (0, 1) (2)", "Bounds", "Bounds (a, 1) (2, 3)", "Bounds (0, 1) (2, 3x)"}) {
    try {
      TGISWriterMITAB::ParseMIFBounds(bad, a, b, c, d);
      ADD_FAILURE() << bad;
    } catch (const Exception& e) {
      EXPECT_EQ(std::string(e.what()), std::string("Invalid Bounds clause in CoordSys: \"") + bad + "\"");
    }
  }
}

TEST(TABHelpers, RGBSwapsRedAndBlue) {
  EXPECT_EQ(RGB(0x123456), 0x563412u);
  EXPECT_EQ(RGB(0xFF), 0xFF0000u);
  EXPECT_EQ(RGB(0xFFFFFF), 0xFFFFFFu);
}

// A TAB writer whose file sizes come from the test.
class SizedTAB : public TGISWriterTAB {
public:
  int64_t MapSize = -1, IdSize = -1, DatSize = -1;
  void AddPoint(double, double, const std::string&) override {}
  void Set(int32_t Records, int32_t Next) {
    FWrittenRecords = Records;
    NextFileCheck = Next;
  }
  int32_t Next() const { return NextFileCheck; }
  bool Full() const { return fFileIsFull; }

protected:
  int64_t TableFileSize(const std::string& Name) const override {
    if (Name.ends_with(".map")) return MapSize;
    if (Name.ends_with(".id")) return IdSize;
    return DatSize;
  }
};

TEST(TABHelpers, CheckFileSizes) {
  struct Case {
    const char* name;
    int32_t records, next;
    int64_t map, id, dat;
    int32_t wantNext;
    bool wantFull;
  };
  const Case cases[] = {
      {"midway to the limit", 10000, 10000, 1073500000, 5, 7, 15000, false},
      {"largest of the three", 10000, 10000, 5, 1073500000, 7, 15000, false},
      {"first record, small files", 1, -1, 8192, 1024, 512, 131042, false},
      {"no file yet", 7, -1, -1, -1, -1, 8, false},
      {"empty files", 7, 5, 0, 0, 0, 8, false},
      {"past 2 GiB, no wrap", 10000, 10000, 3000000000LL, 5, 5, 8578, true},
      {"just above the limit", 10, 10, 2147000001LL, 0, 0, 9, true},
      {"clamped to MaxInt", 2000000000, 0, 100, 0, 0, MaxInt, false},
      {"not yet due", 9, 10, 3000000000LL, 0, 0, 10, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SizedTAB w;
    w.MapSize = c.map;
    w.IdSize = c.id;
    w.DatSize = c.dat;
    w.Set(c.records, c.next);
    w.CheckFileSizes();
    EXPECT_EQ(w.Next(), c.wantNext);
    EXPECT_EQ(w.Full(), c.wantFull);
  }
}

TEST(TABHelpers, FileIsFullArmsTheFirstCheckAt10000) {
  SizedTAB w;
  w.MapSize = 1073500000;
  EXPECT_FALSE(w.FileIsFull());
  EXPECT_EQ(w.Next(), 10000);
  w.Set(9999, 10000);
  w.CheckFileSizes();
  EXPECT_EQ(w.Next(), 10000);
}

// ---------------------------------------------------------------------------
// The MITAB writer against a recording function table.

struct Recorder {
  std::vector<std::string> calls;
  std::string fail;  // name of the call that fails
  std::string error;
  int errorNo = 0;
  int closeErrorNo = 0;
};
Recorder* gRec = nullptr;

std::string Num(double v) {
  char b[64];
  auto r = std::to_chars(b, b + sizeof b, v, std::chars_format::fixed);
  return std::string(b, r.ptr);
}

void SetErr(const char* call) {
  gRec->errorNo = gRec->fail == call ? 1 : 0;
}

mitab_handle RecCreate(const char* f, const char* t, const char* cs, double n, double s, double e, double w) {
  gRec->calls.push_back(std::string("create ") + std::filesystem::path(f).filename().string() + " " + t + " [" +
                        cs + "] " + Num(n) + " " + Num(s) + " " + Num(e) + " " + Num(w));
  SetErr("create");
  return gRec->errorNo ? nullptr : reinterpret_cast<mitab_handle>(intptr_t(0x100));
}
int RecSetCharset(mitab_handle h, const char* c) {
  gRec->calls.push_back(std::string("set_charset ") + std::to_string(intptr_t(h)) + " " + c);
  SetErr("set_charset");
  return gRec->errorNo ? 0 : 1;
}
int RecAddField(mitab_handle, const char* n, int type, int width, int prec, int idx, int uniq) {
  gRec->calls.push_back(std::string("add_field ") + n + " " + std::to_string(type) + " " + std::to_string(width) +
                        " " + std::to_string(prec) + " " + std::to_string(idx) + " " + std::to_string(uniq));
  SetErr("add_field");
  return gRec->errorNo ? -1 : 0;
}
mitab_feature RecCreateFeature(mitab_handle, int type) {
  gRec->calls.push_back("create_feature " + std::to_string(type));
  SetErr("create_feature");
  return gRec->errorNo ? nullptr : reinterpret_cast<mitab_feature>(intptr_t(0x200));
}
void RecSetField(mitab_feature, int i, const char* v) {
  gRec->calls.push_back("set_field " + std::to_string(i) + " " + v);
  SetErr("set_field");
}
void RecSetPen(mitab_feature, int w, int p, int c) {
  gRec->calls.push_back("set_pen " + std::to_string(w) + " " + std::to_string(p) + " " + std::to_string(c));
  SetErr("set_pen");
}
void RecSetBrush(mitab_feature, int fg, int bg, int p, int t) {
  gRec->calls.push_back("set_brush " + std::to_string(fg) + " " + std::to_string(bg) + " " + std::to_string(p) + " " +
                        std::to_string(t));
  SetErr("set_brush");
}
void RecSetSymbol(mitab_feature, int no, int size, int c) {
  gRec->calls.push_back("set_symbol " + std::to_string(no) + " " + std::to_string(size) + " " + std::to_string(c));
  SetErr("set_symbol");
}
void RecSetPoints(mitab_feature, int part, int n, double* x, double* y) {
  std::string s = "set_points " + std::to_string(part) + " " + std::to_string(n);
  for (int i = 0; i < n; ++i) s += " " + Num(x[i]) + "," + Num(y[i]);
  gRec->calls.push_back(s);
  SetErr("set_points");
}
int RecWrite(mitab_handle, mitab_feature) {
  gRec->calls.push_back("write_feature");
  SetErr("write_feature");
  return gRec->errorNo ? 0 : 1;
}
void RecDestroy(mitab_feature) { gRec->calls.push_back("destroy_feature"); }
void RecClose(mitab_handle) {
  gRec->calls.push_back("close");
  gRec->errorNo = gRec->closeErrorNo;
}
int RecVersion() { return MITAB_C_LIBVERSION; }
int RecErrNo() { return gRec->errorNo; }
const char* RecErrMsg() { return gRec->error.c_str(); }

class MITABRecording : public ::testing::Test {
protected:
  void SetUp() override {
    gRec = &rec;
    rec.error = "injected failure";
    TMITABBinding b;
    b.Status = 0;
    b.Procs = TMITABProcs{RecCreate,  RecSetCharset, RecAddField, RecCreateFeature, RecSetField,
                          RecSetPen,  RecSetBrush,   RecSetSymbol, RecSetPoints,    RecWrite,
                          RecDestroy, RecClose,      RecVersion,  RecErrNo,         RecErrMsg};
    old = ReplaceMITABProcs(b);
  }
  void TearDown() override {
    ReplaceMITABProcs(old);
    gRec = nullptr;
  }
  // Calls recorded since the last Take.
  std::vector<std::string> Take() {
    std::vector<std::string> r;
    r.swap(rec.calls);
    return r;
  }
  std::unique_ptr<TGISWriterMITAB> Open(TObjectTypes kind, int fields = 1) {
    auto w = std::make_unique<TGISWriterMITAB>();
    w->FileName = dir.File("t");
    w->SetCodepage(1252);
    w->StartHeader(fields, kind);
    return w;
  }
  Recorder rec;
  TMITABBinding old;
  TTempDir dir{"kovra_mitabrec"};
};

using Calls = std::vector<std::string>;

TEST_F(MITABRecording, HeaderFieldsAndBounds) {
  auto w = std::make_unique<TGISWriterMITAB>();
  w->FileName = dir.File("t");
  w->SetCodepage(1252);
  w->CoordSys = cCoordSysBNG;
  w->StartHeader(3, otPline);
  w->AddField("name", gfChar, 255, 0);
  w->AddField("n", gfDecimal, 8, 2);
  w->AddField("ok", gfLogical, 1, 0);
  EXPECT_EQ(w->FieldInfo()[1].Width, 254);
  // Bounds as north, south, east, west; the CoordSys without its Bounds clause.
  EXPECT_EQ(Take(), (Calls{"create t.tab tab [CoordSys Earth Projection 8, 79, \"m\", -2, 49, 0.9996012717, "
                           "400000, -100000 ] 1900000 -100000 2000000 0",
                           "set_charset 256 WindowsLatin1", "add_field name 1 254 0 0 0", "add_field n 4 8 2 0 0",
                           "add_field ok 7 1 0 0 0"}));
  w->Close();
  EXPECT_EQ(Take(), (Calls{"close"}));
  w->Close();
  EXPECT_TRUE(Take().empty());
}

TEST_F(MITABRecording, RegionPartsPenAndBrush) {
  auto w = Open(otRegion, 2);
  w->AddField("id", gfInteger, 5, 0);
  w->AddField("ok", gfLogical, 1, 0);
  Take();
  w->Pen = TMIPen{3, 2, 0x0000FF};
  w->Brush = TMIBrush{5, 0x00FF00, 0xFF0000};
  TFloatPointArrayEx ring;
  ring.Pnt = {{0, 0}, {1, 0}, {1, 1}, {0, 0}};
  ring.Count = 4;
  w->AddObject(4, true, "7 yes");
  for (int idx : {0, -1, 2, 0}) w->AddSection(idx, ring);
  const Calls c = Take();
  ASSERT_EQ(c.size(), 11u);
  EXPECT_EQ(c[0], "create_feature 7");
  EXPECT_EQ(c[1], "set_field 0 7");
  EXPECT_EQ(c[2], "set_field 1 T");
  EXPECT_EQ(c[3], "set_pen 3 2 16711680");       // red in MITAB's 0xRRGGBB
  EXPECT_EQ(c[4], "set_brush 65280 255 5 1");    // transparent background
  EXPECT_EQ(c[5].substr(0, 15), "set_points 0 4 ");
  EXPECT_EQ(c[6].substr(0, 16), "set_points -1 4 ");
  EXPECT_EQ(c[7].substr(0, 15), "set_points 2 4 ");
  EXPECT_EQ(c[8].substr(0, 16), "set_points -3 4 ");
  EXPECT_EQ(c[9], "write_feature");
  EXPECT_EQ(c[10], "destroy_feature");
  EXPECT_EQ(w->WrittenRecords(), 1);
  // A false logical passes as it is.
  w->AddObject(0, false, "8 no");
  const Calls d = Take();
  EXPECT_EQ(d[0], "create_feature 0");
  EXPECT_EQ(d[2], "set_field 1 no");
}

TEST_F(MITABRecording, PenWidths8To10LeaveTheLibraryPen) {
  auto w = Open(otPline);
  w->AddField("id", gfInteger, 5, 0);
  for (int width = 7; width <= 11; ++width) {
    Take();
    w->Pen.Width = width;
    w->AddLine(0, 0, 1, 1, "1");
    const Calls c = Take();
    const bool pen = std::any_of(c.begin(), c.end(), [](const std::string& s) { return s.starts_with("set_pen"); });
    EXPECT_EQ(pen, width < 8 || width > 10) << width;
    EXPECT_FALSE(std::any_of(c.begin(), c.end(), [](const std::string& s) { return s.starts_with("set_brush"); }));
  }
}

TEST_F(MITABRecording, PointCompletesItsObject) {
  auto w = Open(otPoint);
  w->AddField("id", gfInteger, 5, 0);
  Take();
  w->Symbol = TMISymbol{34, 0x0000FF, 9};
  w->AddPoint(2.5, -1, "3");
  EXPECT_EQ(Take(), (Calls{"create_feature 1", "set_field 0 3", "set_pen 1 2 0", "set_points 0 1 2.5,-1",
                           "set_symbol 34 9 16711680", "write_feature", "destroy_feature"}));
  // No part is owed after a point: the property may change.
  w->SetOptimizePLinesSections(true);
  EXPECT_TRUE(w->OptimizePLinesSections());
  // A line in a point table writes nothing; so does a point in a line table.
  w->AddLine(0, 0, 1, 1, "4");
  EXPECT_TRUE(Take().empty());
}

TEST_F(MITABRecording, RefusalsBeforeAnyCall) {
  auto w = Open(otRegion, 2);
  Take();
  try {
    w->AddField("big", gfInt64, 0, 0);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Int64 are not supported for MITAB format");
  }
  w->AddField("a", gfInteger, 5, 0);
  w->AddField("b", gfChar, 10, 0);
  Take();
  try {
    w->AddObject(122501, true, "1 x");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "No more than 122500 parts");
  }
  // A wrong value count creates no feature.
  EXPECT_THROW(w->AddObject(0, false, "1"), Exception);
  EXPECT_TRUE(Take().empty());
  EXPECT_EQ(w->WrittenRecords(), 0);
}

TEST_F(MITABRecording, NoneTableCloseDeletesMapAndId) {
  auto w = Open(otNone);
  w->AddField("a", gfInteger, 5, 0);
  Take();
  w->AddObject(2, false, "5");  // parts of a table without geometry are dropped
  TFloatPointArrayEx line;
  line.Pnt = {{0, 0}, {1, 1}};
  line.Count = 2;
  w->AddSection(0, line);
  w->AddSection(0, line);
  EXPECT_EQ(Take(), (Calls{"create_feature 0", "set_field 0 5", "set_pen 1 2 0", "write_feature", "destroy_feature"}));
  for (const char* e : {".tab", ".map", ".id", ".dat"}) testsupport::WriteBytes(dir.File(std::string("t") + e), "x");
  w->Close();
  EXPECT_TRUE(Exists(dir.File("t.tab")));
  EXPECT_TRUE(Exists(dir.File("t.dat")));
  EXPECT_FALSE(Exists(dir.File("t.map")));
  EXPECT_FALSE(Exists(dir.File("t.id")));
  w->Drop();
  EXPECT_FALSE(Exists(dir.File("t.tab")));
  EXPECT_FALSE(Exists(dir.File("t.dat")));
}

TEST_F(MITABRecording, LibraryFailuresRaiseItsMessage) {
  rec.error = "disk on fire";
  {
    rec.fail = "create";
    auto w = std::make_unique<TGISWriterMITAB>();
    w->FileName = dir.File("t");
    try {
      w->StartHeader(1, otPline);
      FAIL();
    } catch (const Exception& e) {
      EXPECT_EQ(std::string(e.what()), "MITAB: cannot create table \"" + dir.File("t.tab") + "\": disk on fire");
    }
    // No charset call without a table.
    EXPECT_EQ(Take().size(), 1u);
    w->Close();
    EXPECT_TRUE(Take().empty());
  }
  struct Case {
    const char* fail;
    const char* expect;
  };
  for (const Case& c : {Case{"add_field", "MITAB: id: disk on fire"}, Case{"create_feature", "MITAB: disk on fire"},
                        Case{"set_field", "MITAB: id: disk on fire"}, Case{"set_points", "MITAB: disk on fire"},
                        Case{"write_feature", "MITAB: disk on fire"}}) {
    SCOPED_TRACE(c.fail);
    rec.fail = "";
    auto w = Open(otPline);
    rec.fail = c.fail;
    try {
      w->AddField("id", gfInteger, 5, 0);
      w->AddLine(0, 0, 1, 1, "1");
      FAIL();
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), c.expect);
    }
    const Calls calls = Take();
    // A feature that was created is released again.
    const auto created = std::count(calls.begin(), calls.end(), "create_feature 5") -
                         (std::string(c.fail) == "create_feature" ? 1 : 0);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "destroy_feature"), created);
    rec.fail = "";
  }
}

TEST_F(MITABRecording, NotLoadedRaisesAtStartHeader) {
  TMITABBinding absent;
  absent.Status = -2;
  const TMITABBinding present = ReplaceMITABProcs(absent);
  auto w = std::make_unique<TGISWriterMITAB>();
  w->FileName = dir.File("t");
  try {
    w->StartHeader(1, otPoint);
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_EQ(std::string(e.what()),
              "MITAB: cannot create table \"" + dir.File("t.tab") + "\": the MITAB library is not loaded");
  }
  ReplaceMITABProcs(present);
  EXPECT_TRUE(Take().empty());
  w->Close();
}

TEST_F(MITABRecording, OutOfBoundsAtCloseRaisesAndKeepsTheFiles) {
  auto w = Open(otPoint);
  w->AddField("id", gfInteger, 5, 0);
  w->AddPoint(5000000, 1, "1");
  testsupport::WriteBytes(dir.File("t.tab"), "x");
  rec.closeErrorNo = MITAB_C_ERR_OUT_OF_BOUNDS;
  rec.error = "(0, 0) (10, 10)";
  try {
    w->Close();
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(std::string(e.what()),
              "TAB output \"" + dir.File("t.tab") + "\": coordinates outside the table bounds (0, 0) (10, 10)");
  }
  EXPECT_TRUE(Exists(dir.File("t.tab")));
  rec.closeErrorNo = 0;
  w->Close();  // closed once only
}

}  // namespace
