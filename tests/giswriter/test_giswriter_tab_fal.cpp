// The MFAL and EFAL writers against recording function tables (neither
// library exists here), and the EFAL loader against fake libefal.so files.
#include <gtest/gtest.h>

#include <ogr_api.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <typeinfo>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "foundation/kovra_functions.h"
#include "foundation/kovra_charset.h"
#include "giswriter/efal.h"
#include "giswriter/kovra_giswriter.h"
#include "giswriter/kovra_giswriter_tab.h"
#include "giswriter/mfal.h"
#include "support/test_files.h"
#include "support/test_raises.h"
#include "support/test_parts.h"

using namespace kovra;
using namespace kovra::testsupport;
using kovra::testsupport::TTempDir;

namespace {

using Calls = std::vector<std::string>;

std::string S(const char16_t* s) { return s ? FromUtf16(std::u16string(s)) : std::string("<null>"); }

// ---------------------------------------------------------------------------
// MFAL

struct MFALInsert {
  uint8_t objtype;
  std::string values;
  MI_OBJ obj;
  std::vector<std::vector<DPNT>> parts;  // copies of the points behind the pointers
};

struct MFALRecorder {
  Calls calls;
  std::vector<MFALInsert> inserts;
  std::vector<MI_ATTRDEF> fields;
  intptr_t table = 0x55;
};
MFALRecorder* gMFAL = nullptr;

int16_t MStartup(int32_t) { return 1; }
int32_t MSetCharset(uint8_t id) {
  gMFAL->calls.push_back("SetCharset " + std::to_string(id));
  return 1;
}
int32_t MCsys(const char* cs, void* block) {
  std::memset(block, 0xAB, cMFALCsysSize);  // the whole block is the caller's
  gMFAL->calls.push_back(std::string("CoordSysToCsys ") + cs);
  return 1;
}
intptr_t MCreate(const char* path, MI_ATTRDEF* f, int32_t n, void* csys, int32_t kind) {
  gMFAL->fields.assign(f, f + n);
  gMFAL->calls.push_back("CreateTable " + std::filesystem::path(path).filename().string() + " " + std::to_string(n) +
                         " " + std::to_string(static_cast<uint8_t*>(csys)[303]) + " " + std::to_string(kind));
  return gMFAL->table;
}
int32_t MInsert(intptr_t t, const char* values, MI_OBJ* o, int64_t* scratch) {
  EXPECT_EQ(t, gMFAL->table);
  EXPECT_NE(scratch, nullptr);
  MFALInsert r{o->objtype, values, *o, {}};
  if (o->objtype == cMIObjPline) r.parts.emplace_back(o->pline.data, o->pline.data + o->pline.points);
  if (o->objtype == cMIObjMultiPline)
    for (int i = 0; i < o->multipline.plines; ++i)
      r.parts.emplace_back(o->multipline.data[i].pPnts, o->multipline.data[i].pPnts + o->multipline.data[i].points);
  if (o->objtype == cMIObjRegion)
    for (int i = 0; i < o->region.regions; ++i)
      r.parts.emplace_back(o->region.data[i].pPnts, o->region.data[i].pPnts + o->region.data[i].points);
  gMFAL->inserts.push_back(r);
  return 1;
}
int32_t MClose(intptr_t t) {
  gMFAL->calls.push_back("CloseTable " + std::to_string(t));
  return 1;
}

class MFALRecording : public ::testing::Test {
protected:
  void SetUp() override {
    gMFAL = &rec;
    TMFALBinding b;
    b.Status = 0;
    b.Procs = TMFALProcs{MStartup, MSetCharset, MCsys, MCreate, MInsert, MClose, nullptr};
    old = ReplaceMFALProcs(b);
  }
  void TearDown() override {
    ReplaceMFALProcs(old);
    gMFAL = nullptr;
  }
  std::unique_ptr<TGISWriter> Open(TObjectTypes kind, int n = 2) {
    std::unique_ptr<TGISWriter> w = TGISWriter::GetGISObject(gfMFAL);
    EXPECT_NE(dynamic_cast<TGISWriterMFAL*>(w.get()), nullptr);
    w->FileName = dir.File("m");
    w->SetCodepage(1252);
    w->StartHeader(n, kind);
    w->AddField("id", gfInteger, 5, 0);
    if (n > 1) w->AddField("name", gfChar, 20, 0);
    return w;
  }
  MFALRecorder rec;
  TMFALBinding old;
  TTempDir dir{"kovra_mfal"};
};

TEST_F(MFALRecording, TableCreatedAtTheLastField) {
  auto w = Open(otPline);
  EXPECT_EQ(rec.calls, (Calls{"CoordSysToCsys CoordSys Earth Projection 1, 104",
                              "SetCharset " + std::to_string(CharSetList().CodePage2ID(1252)),
                              "CreateTable m.tab 2 171 5"}));
  ASSERT_EQ(rec.fields.size(), 2u);
  EXPECT_STREQ(rec.fields[0].name, "id");
  EXPECT_EQ(rec.fields[0].fieldtype, 3);
  EXPECT_EQ(rec.fields[1].fieldtype, 1);
  EXPECT_EQ(rec.fields[1].width, 20);
  w->Close();
  EXPECT_EQ(rec.calls.back(), "CloseTable 85");
  const size_t n = rec.calls.size();
  w->Close();
  EXPECT_EQ(rec.calls.size(), n);
}

TEST_F(MFALRecording, ObjectKindsAndRecordCount) {
  auto w = Open(otPline);
  w->Pen = TMIPen{0x10003, 5, 0x0000FF};
  w->AddLine(1, 2, 3, 4, "1 a");
  TFloatPointArrayEx three;
  three.Pnt = {{0, 0}, {1, 1}, {2, 0}};
  three.Count = 3;
  w->AddObject(1, false, "2 b");
  w->AddSection(0, three);
  w->AddObject(2, false, "3 c");
  w->AddSection(0, three);
  EXPECT_EQ(rec.inserts.size(), 2u);  // nothing before the last part
  w->AddSection(0, three);
  w->AddObject(0, false, "4 d");
  ASSERT_EQ(rec.inserts.size(), 4u);
  EXPECT_EQ(rec.inserts[0].objtype, 202);
  EXPECT_EQ(rec.inserts[0].obj.line.lbeg.x, 1);
  EXPECT_EQ(rec.inserts[0].obj.line.lend.y, 4);
  EXPECT_EQ(rec.inserts[0].obj.line.pen.width, 3);  // the low 16 bits
  EXPECT_EQ(rec.inserts[0].obj.line.pen.pat, 5);
  EXPECT_EQ(rec.inserts[0].obj.line.pen.style, 2);
  EXPECT_EQ(rec.inserts[0].obj.line.pen.color, 0xFF0000);
  EXPECT_EQ(rec.inserts[1].objtype, 204);
  ASSERT_EQ(rec.inserts[1].parts.size(), 1u);
  EXPECT_EQ(rec.inserts[1].parts[0].size(), 3u);
  EXPECT_EQ(rec.inserts[1].parts[0][1].x, 1);
  EXPECT_EQ(rec.inserts[2].objtype, 210);
  EXPECT_EQ(rec.inserts[2].obj.multipline.plines, 2);
  EXPECT_EQ(rec.inserts[2].parts.size(), 2u);
  EXPECT_EQ(rec.inserts[3].objtype, 0);
  EXPECT_EQ(rec.inserts[3].values, "4\td");
  // One record each, also for the two-part object.
  EXPECT_EQ(w->WrittenRecords(), 4);
}

TEST_F(MFALRecording, RegionsAndPoints) {
  auto w = Open(otRegion, 1);
  w->Brush = TMIBrush{5, 0x00FF00, 0xFF0000};
  TFloatPointArrayEx ring;
  ring.Pnt = {{0, 0}, {1, 0}, {1, 1}, {0, 0}};
  ring.Count = 4;
  w->AddObject(1, false, "7");
  w->AddSection(0, ring);
  ASSERT_EQ(rec.inserts.size(), 1u);
  EXPECT_EQ(rec.inserts[0].objtype, 205);
  EXPECT_EQ(rec.inserts[0].obj.region.regions, 1);
  EXPECT_EQ(rec.inserts[0].obj.region.brush.pat, 5);
  EXPECT_EQ(rec.inserts[0].obj.region.brush.forecolor, 0x00FF00);
  EXPECT_EQ(rec.inserts[0].obj.region.brush.backcolor, 0x0000FF);
  EXPECT_EQ(rec.inserts[0].obj.region.brush.transparent, 0);
  EXPECT_EQ(rec.inserts[0].parts[0].size(), 4u);
  w->Symbol = TMISymbol{35, 0xFF, 14};
  w->AddPoint(5, 6, "8");  // whatever the table kind
  ASSERT_EQ(rec.inserts.size(), 2u);
  EXPECT_EQ(rec.inserts[1].objtype, 201);
  EXPECT_EQ(rec.inserts[1].obj.point.pnt.x, 5);
  EXPECT_EQ(rec.inserts[1].obj.point.symbol.code, 35);
  EXPECT_EQ(rec.inserts[1].obj.point.symbol.color, 0xFF0000);
  EXPECT_EQ(rec.inserts[1].obj.point.symbol.pointsize, 14);
}

TEST_F(MFALRecording, TabTextQuoting) {
  auto w = Open(otNone);
  auto* m = dynamic_cast<TGISWriterMFAL*>(w.get());
  ASSERT_NE(m, nullptr);
  const std::pair<const char*, const char*> cases[] = {
      {"1 \"b c\"", "1\t\"b c\""},
      {"\"\"", "\"\""},
      {"1,", "1\t"},
      {"\"say \"\"hi\"\"\" x", "\"say \"\"hi\"\"\"\tx"},
      {"\"a\tb\"", "\"a\tb\""},
      {"Grüße x", "Gr\xFC\xDF" "e\tx"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(m->AttribToTabText(in), out) << in;
  EXPECT_THROW(w->AddObject(0, false, "1"), Exception);  // one value for two fields
  EXPECT_TRUE(rec.inserts.empty());
}

TEST_F(MFALRecording, RefusedNamesAndTables) {
  std::unique_ptr<TGISWriter> w = TGISWriter::GetGISObject(gfMFAL);
  w->FileName = dir.File("m");
  w->StartHeader(1, otPoint);
  try {
    w->AddField(std::string(32, 'n'), gfInteger, 5, 0);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Field name is longer than 31");
  }
  rec.table = 0;
  try {
    w->AddField("id", gfInteger, 5, 0);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(std::string(e.what()), "MFAL: cannot create table \"" + dir.File("m.tab") + "\"");
  }
  w->AddPoint(1, 1, "1");  // no table: nothing
  EXPECT_TRUE(rec.inserts.empty());
}

// The four files of a table, each holding Text.
void WriteTable(const std::string& Base, const std::string& Text) {
  for (const char* ext : {".tab", ".map", ".dat", ".id"}) WriteBytes(Base + ext, Text);
}

void ExpectTable(const std::string& Base, bool Present) {
  for (const char* ext : {".tab", ".map", ".dat", ".id"})
    EXPECT_EQ(std::filesystem::exists(Base + ext), Present) << Base << ext;
}

// A writer whose library refuses the table leaves the user's table there at
// Drop; one whose library made the table deletes it. Refuse(true) makes the
// recording library refuse.
void ExpectDropDeletesOnlyItsTable(TGISFormat Format, const std::string& Base,
                                   const std::function<void(bool)>& Refuse) {
  WriteTable(Base, "the user's");
  for (bool refused : {true, false}) {
    Refuse(refused);
    std::unique_ptr<TGISWriter> w = TGISWriter::GetGISObject(Format);
    w->FileName = Base;
    w->StartHeader(1, otPoint);
    if (refused) {
      EXPECT_THROW(w->AddField("id", gfInteger, 5, 0), Exception);
    } else {
      w->AddField("id", gfInteger, 5, 0);
    }
    w->Drop();
    ExpectTable(Base, refused);
    if (refused) {
      EXPECT_EQ(ReadBytes(Base + ".map"), "the user's");
    }
  }
}

TEST_F(MFALRecording, DropDeletesOnlyATableItCreated) {
  ExpectDropDeletesOnlyItsTable(gfMFAL, dir.File("m"), [&](bool refuse) { rec.table = refuse ? 0 : 0x55; });
}

// ---------------------------------------------------------------------------
// EFAL

struct EFALRecorder {
  Calls calls;
  std::vector<std::string> geometries;  // bytes of each SetVariableValueGeometry
  uint64_t tableHandle = 30;
  std::map<uint64_t, std::string> statements;
  std::string failVariable;
  bool failPrepare = false;  // Prepare returns no statement
  bool failInsert = false;   // ExecuteInsert inserts nothing
};
EFALRecorder* gEFAL = nullptr;

using H = EFAL::EFALHANDLE;
void Rec(const std::string& s) { gEFAL->calls.push_back(s); }
bool Ok(const char16_t* n) { return S(n) != gEFAL->failVariable; }

H EInit(EFAL::ResourceStringCallback cb) {
  Rec(std::string("InitializeSession ") + (cb ? "cb" : "null"));
  return 10;
}
void EDestroySession(H s) { Rec("DestroySession " + std::to_string(s)); }
H EMeta(H, const char16_t* a, const char16_t* p, Ellis::MICHARSET c) {
  Rec("CreateNativeTableMetadata " + S(a) + " " + std::filesystem::path(S(p)).filename().string() + " " +
      std::to_string(int(c)));
  return 20;
}
H EMetaX(H, const char16_t* a, const char16_t* p, Ellis::MICHARSET c) {
  Rec("CreateNativeXTableMetadata " + S(a) + " " + std::filesystem::path(S(p)).filename().string() + " " +
      std::to_string(int(c)));
  return 20;
}
void ESetMetadata(H, H, const char16_t* k, const char16_t* v) { Rec("SetMetadata " + S(k) + " " + S(v)); }
void EAddColumn(H, H, const char16_t* n, Ellis::ALLTYPE_TYPE t, bool idx, uint32_t w, uint32_t d, const char16_t* cs) {
  Rec("AddColumn " + S(n) + " " + std::to_string(int(t)) + " " + std::to_string(idx) + " " + std::to_string(w) + " " +
      std::to_string(d) + " [" + S(cs) + "]");
}
H ECreateTable(H, H) {
  Rec("CreateTable");
  return gEFAL->tableHandle;
}
void EDestroyMeta(H, H m) { Rec("DestroyTableMetadata " + std::to_string(m)); }
bool EBegin(H, H) {
  Rec("BeginWriteAccess");
  return true;
}
void EEnd(H, H) { Rec("EndAccess"); }
void ECloseTable(H, H) { Rec("CloseTable"); }
bool ECreateVar(H, const char16_t* n) {
  Rec("CreateVariable " + S(n));
  return Ok(n);
}
void EDropVar(H, const char16_t* n) { Rec("DropVariable " + S(n)); }
bool EStr(H, const char16_t* n, const char16_t* v) {
  Rec("String " + S(n) + " " + S(v));
  return Ok(n);
}
bool EStyle(H, const char16_t* n, const char16_t* v) {
  Rec("Style " + S(n) + " " + S(v));
  return true;
}
bool EBool(H, const char16_t* n, bool v) {
  Rec("Boolean " + S(n) + " " + std::to_string(v));
  return Ok(n);
}
bool EI16(H, const char16_t* n, int16_t v) {
  Rec("Int16 " + S(n) + " " + std::to_string(v));
  return Ok(n);
}
bool EI32(H, const char16_t* n, int32_t v) {
  Rec("Int32 " + S(n) + " " + std::to_string(v));
  return Ok(n);
}
bool EI64(H, const char16_t* n, int64_t v) {
  Rec("Int64 " + S(n) + " " + std::to_string(v));
  return Ok(n);
}
bool EDbl(H, const char16_t* n, double v) {
  Rec("Double " + S(n) + " " + FloatToStrDot(v));
  return Ok(n);
}
bool EDate(H, const char16_t* n, EFALDATE v) {
  Rec("Date " + S(n) + " " + std::to_string(v.year) + "-" + std::to_string(v.month) + "-" + std::to_string(v.day));
  return Ok(n);
}
bool ETime(H, const char16_t* n, EFALTIME v) {
  Rec("Time " + S(n) + " " + std::to_string(v.hour) + ":" + std::to_string(v.minute) + ":" +
      std::to_string(v.second) + "." + std::to_string(v.millisecond));
  return Ok(n);
}
bool EDateTime(H, const char16_t* n, EFALDATETIME v) {
  Rec("DateTime " + S(n) + " " + std::to_string(v.year) + "-" + std::to_string(v.month) + "-" +
      std::to_string(v.day) + " " + std::to_string(v.hour) + ":" + std::to_string(v.minute) + ":" +
      std::to_string(v.second) + "." + std::to_string(v.millisecond));
  return Ok(n);
}
bool EGeom(H, const char16_t* n, uint32_t bytes, const char* v, const char16_t* cs) {
  Rec("Geometry " + S(n) + " " + std::to_string(bytes) + " [" + S(cs) + "]");
  gEFAL->geometries.emplace_back(v, bytes);
  return true;
}
H EPrepare(H, const char16_t* st) {
  Rec("Prepare " + S(st));
  if (gEFAL->failPrepare) return 0;
  const H h = 100 + gEFAL->statements.size();
  gEFAL->statements[h] = S(st);
  return h;
}
int32_t EExec(H, H st) {
  Rec("ExecuteInsert " + gEFAL->statements[st]);
  return gEFAL->failInsert ? 0 : 1;
}
void EDispose(H, H st) { Rec("DisposeStmt " + std::to_string(st)); }
int32_t EInsert(H, const char16_t*) { return 1; }

TEFALProcs RecordingEFAL() {
  TEFALProcs p;
  p.BeginWriteAccess = EBegin;
  p.CloseTable = ECloseTable;
  p.CreateTable = ECreateTable;
  p.DestroySession = EDestroySession;
  p.DestroyTableMetadata = EDestroyMeta;
  p.EndAccess = EEnd;
  p.AddColumn = EAddColumn;
  p.CreateNativeTableMetadata = EMeta;
  p.CreateNativeXTableMetadata = EMetaX;
  p.CreateVariable = ECreateVar;
  p.DropVariable = EDropVar;
  p.InitializeSession = EInit;
  p.Insert = EInsert;
  p.SetMetadata = ESetMetadata;
  p.SetVariableValueBoolean = EBool;
  p.SetVariableValueDate = EDate;
  p.SetVariableValueDateTime = EDateTime;
  p.SetVariableValueDouble = EDbl;
  p.SetVariableValueGeometry = EGeom;
  p.SetVariableValueInt16 = EI16;
  p.SetVariableValueInt32 = EI32;
  p.SetVariableValueInt64 = EI64;
  p.SetVariableValueString = EStr;
  p.SetVariableValueStyle = EStyle;
  p.SetVariableValueTime = ETime;
  p.Prepare = EPrepare;
  p.ExecuteInsert = EExec;
  p.DisposeStmt = EDispose;
  return p;
}

class EFALRecording : public ::testing::Test {
protected:
  void SetUp() override {
    gEFAL = &rec;
    TEFALBinding b;
    b.Status = 0;
    b.Procs = RecordingEFAL();
    old = ReplaceEFALProcs(b);
  }
  void TearDown() override {
    ReplaceEFALProcs(old);
    gEFAL = nullptr;
  }
  Calls Take() {
    Calls r;
    r.swap(rec.calls);
    return r;
  }
  // The statement handle of the last ExecuteInsert and the calls before it.
  std::unique_ptr<TGISWriter> Open(TGISFormat f, TObjectTypes kind) {
    std::unique_ptr<TGISWriter> w = TGISWriter::GetGISObject(f);
    w->FileName = dir.File("e");
    w->SetCodepage(1252);
    w->StartHeader(1, kind);
    w->AddField("id", gfInteger, 0, 0);
    return w;
  }
  EFALRecording() = default;
  EFALRecorder rec;
  TEFALBinding old;
  TTempDir dir{"kovra_efal"};
};

TEST_F(EFALRecording, HeaderColumnsAndStatements) {
  std::unique_ptr<TGISWriter> w = TGISWriter::GetGISObject(gfEFAL);
  ASSERT_TRUE(typeid(*w) == typeid(TGISWriterEFAL));
  w->FileName = dir.File("e");
  w->SetCodepage(1252);
  w->CoordSys = cCoordSysBNG;
  w->StartHeader(3, otPline);
  w->AddField("name", gfChar, 20, 0);
  w->AddField("d", gfDecimal, 8, 2);
  w->AddField("t", gfTime, 5, 5);
  const Calls c = Take();
  const std::string coord = "mapinfo:coordsys 8,79,7,-2,49,0.9996012717,400000,-100000 ";
  ASSERT_EQ(c.size(), 19u);
  EXPECT_EQ(c[0], "InitializeSession null");
  EXPECT_EQ(c[1], "CreateNativeTableMetadata e e.tab " + std::to_string(CharSetList().CodePage2ID(1252)));
  EXPECT_EQ(c[2], "SetMetadata \\BlockSizeMapFile 512");
  EXPECT_EQ(c[3], "AddColumn obj 13 0 0 0 [" + coord + "]");
  EXPECT_EQ(c[4], "AddColumn style 36 0 0 0 []");
  EXPECT_EQ(c[5], "CreateVariable @objvar");
  EXPECT_EQ(c[6], "CreateVariable @stylevar");
  EXPECT_EQ(c[7], "AddColumn name 1 0 20 0 []");
  EXPECT_EQ(c[8], "AddColumn d 2 0 8 2 []");
  EXPECT_EQ(c[9], "AddColumn t 42 0 0 0 []");
  EXPECT_EQ(c[10], "CreateTable");
  EXPECT_EQ(c[11], "DestroyTableMetadata 20");
  EXPECT_EQ(c[12], "BeginWriteAccess");
  EXPECT_EQ(c[13], "CreateVariable @col1var");
  EXPECT_EQ(c[15], "CreateVariable @col3var");
  EXPECT_EQ(c[16], "Prepare insert into `e` (obj,style,`name`,`d`,`t`) values (@objvar,@stylevar,@col1var,@col2var,@col3var)");
  EXPECT_EQ(c[17], "Prepare insert into `e` (obj,`name`,`d`,`t`) values (@objvar,@col1var,@col2var,@col3var)");
  EXPECT_EQ(c[18], "Prepare insert into `e` (`name`,`d`,`t`) values (@col1var,@col2var,@col3var)");
  w->Close();
  const Calls d = Take();
  EXPECT_EQ(d.front(), "EndAccess");
  EXPECT_EQ(d.back(), "DestroySession 10");
  EXPECT_NE(std::find(d.begin(), d.end(), "DropVariable @col3var"), d.end());
  EXPECT_NE(std::find(d.begin(), d.end(), "DropVariable @stylevar"), d.end());
  w->Close();
  EXPECT_TRUE(Take().empty());
}

TEST_F(EFALRecording, NativeXAndNoGeometry) {
  std::unique_ptr<TGISWriter> w = TGISWriter::GetGISObject(gfEFALx);
  ASSERT_TRUE(typeid(*w) == typeid(TGISWriterEFALx));
  w->SetCodepage(65001);
  EXPECT_EQ(w->Codepage(), 65001);
  w->BlockSize = 511;
  w->FileName = dir.File("x");
  w->StartHeader(1, otNone);
  w->AddField("id", gfInt64, 0, 0);
  w->AddObject(0, false, "9000000000");
  const Calls c = Take();
  EXPECT_TRUE(c[1].starts_with("CreateNativeXTableMetadata x x.tab ")) << c[1];
  EXPECT_TRUE(std::none_of(c.begin(), c.end(), [](const std::string& s) { return s.starts_with("SetMetadata"); }));
  EXPECT_NE(std::find(c.begin(), c.end(), "Prepare insert into `x` (`id`) values (@col1var)"), c.end());
  EXPECT_NE(std::find(c.begin(), c.end(), "AddColumn id 40 0 0 0 []"), c.end());
  EXPECT_NE(std::find(c.begin(), c.end(), "Int64 @col1var 9000000000"), c.end());
  EXPECT_EQ(w->WrittenRecords(), 1);
}

TEST_F(EFALRecording, QuotedNamesAndFailedStatements) {
  // Names with blanks (and a backquote) stay names in the statements.
  std::unique_ptr<TGISWriter> w = TGISWriter::GetGISObject(gfEFAL);
  w->FileName = dir.File("my roads");
  w->StartHeader(2, otPline);
  w->AddField("road name", gfChar, 20, 0);
  w->AddField("a`b", gfInteger, 0, 0);
  Calls c = Take();
  EXPECT_NE(std::find(c.begin(), c.end(),
                      "Prepare insert into `my roads` (obj,`road name`,`a``b`) values (@objvar,@col1var,@col2var)"),
            c.end());

  // A statement the library does not prepare fails the last field.
  rec.failPrepare = true;
  std::unique_ptr<TGISWriter> p = TGISWriter::GetGISObject(gfEFAL);
  p->FileName = dir.File("p");
  p->StartHeader(1, otNone);
  EXPECT_EQ(MessageOf([&] { p->AddField("id", gfInteger, 0, 0); }),
            "EFAL: Failed to prepare \"insert into `p` (`id`) values (@col1var)\"");
  rec.failPrepare = false;
  Take();

  // A record the library does not insert raises and is not counted, in
  // every kind of record.
  rec.failInsert = true;
  auto point = Open(gfEFAL, otPoint);
  EXPECT_EQ(MessageOf([&] { point->AddPoint(1, 2, "7"); }), "EFAL: Failed to insert record 1");
  EXPECT_EQ(point->WrittenRecords(), 0);
  auto line = Open(gfEFAL, otPline);
  line->AddObject(1, false, "7");
  EXPECT_EQ(MessageOf([&] { Section(*line, 0, {{0, 0}, {1, 1}}); }), "EFAL: Failed to insert record 1");
  EXPECT_EQ(line->WrittenRecords(), 0);
  EXPECT_EQ(MessageOf([&] { line->Close(); }), "Record 1 is not in the output: 1 of its 1 parts were not written");
  auto none = Open(gfEFAL, otNone);
  EXPECT_EQ(MessageOf([&] { none->AddObject(0, false, "7"); }), "EFAL: Failed to insert record 1");
  EXPECT_EQ(none->WrittenRecords(), 0);
  rec.failInsert = false;
  none->AddObject(0, false, "8");
  EXPECT_EQ(none->WrittenRecords(), 1);
}

TEST_F(EFALRecording, FreedWithoutCloseEndsTheSession) {
  {
    auto w = Open(gfEFAL, otPoint);
    // One table per writer: a second one would orphan the first session.
    EXPECT_EQ(MessageOf([&] { w->StartHeader(1, otPoint); }),
              "EFAL: a table is already open for \"" + dir.File("e.tab") + "\"");
    w->AddPoint(1, 2, "1");
    Take();
  }
  const Calls c = Take();
  for (const char* call : {"EndAccess", "CloseTable", "DestroySession 10"})
    EXPECT_NE(std::find(c.begin(), c.end(), call), c.end()) << call;

  // Also when the library refused the table.
  rec.tableHandle = 0;
  {
    std::unique_ptr<TGISWriter> w = TGISWriter::GetGISObject(gfEFAL);
    w->FileName = dir.File("f");
    w->StartHeader(1, otPoint);
    EXPECT_EQ(MessageOf([&] { w->AddField("id", gfInteger, 0, 0); }), "EFAL: Failed to create a table");
    Take();
  }
  const Calls d = Take();
  EXPECT_NE(std::find(d.begin(), d.end(), "DestroyTableMetadata 20"), d.end());
  ASSERT_FALSE(d.empty());
  EXPECT_EQ(d.back(), "DestroySession 10");
}

TEST_F(EFALRecording, DropDeletesOnlyATableItCreated) {
  ExpectDropDeletesOnlyItsTable(gfEFAL, dir.File("e"), [&](bool refuse) { rec.tableHandle = refuse ? 0 : 30; });
}

TEST_F(EFALRecording, ValuesByColumnType) {
  std::unique_ptr<TGISWriter> w = TGISWriter::GetGISObject(gfEFAL);
  w->FileName = dir.File("v");
  w->StartHeader(9, otNone);
  const TGISField types[] = {gfChar, gfInteger, gfSmallInt, gfDecimal, gfFloat, gfDate, gfLogical, gfTime, gfDateTime};
  for (int i = 0; i < 9; ++i) w->AddField("c" + std::to_string(i), types[i], 10, 2);
  Take();
  w->AddObject(0, false, "\"a b\" -12 7 2.5 -1e-3 20210322 Y 123456789 20210322123456789");
  const Calls c = Take();
  const Calls want = {"String @col1var a b",       "Int32 @col2var -12",
                      "Int16 @col3var 7",          "Double @col4var 2.5",
                      "Double @col5var -0.001",    "Date @col6var 2021-3-22",
                      "Boolean @col7var 1",        "Time @col8var 12:34:56.789",
                      "DateTime @col9var 2021-3-22 12:34:56.789"};
  ASSERT_GE(c.size(), want.size());
  EXPECT_EQ(Calls(c.begin(), c.begin() + 9), want);
  EXPECT_TRUE(c[9].starts_with("ExecuteInsert")) << c[9];
  // Short value lists are refused before anything is set; malformed numbers
  // and dates raise the conversion error.
  EXPECT_THROW(w->AddObject(0, false, "a 1"), Exception);
  EXPECT_TRUE(Take().empty());
  for (const char* bad : {"a x 7 2.5 1 20210322 Y 123456789 20210322123456789",
                          "a 1 7 2x5 1 20210322 Y 123456789 20210322123456789",
                          "a 1 7 2.5 1 2021032 Y 123456789 20210322123456789",
                          "a 1 7 2.5 1 2021xx22 Y 123456789 20210322123456789",
                          "a 1 99999 2.5 1 20210322 Y 123456789 20210322123456789",
                          "a 1 7 2.5 1 20210322 Y 12345678 20210322123456789",
                          "a 1 7 2.5 1 20210322 Y 123456789 2021032212345678"}) {
    EXPECT_THROW(w->AddObject(0, false, bad), EConvertError) << bad;
  }
  Take();
  rec.failVariable = "@col2var";
  try {
    w->AddObject(0, false, "\"a b\" -12 7 2.5 -1e-3 20210322 Y 123456789 20210322123456789");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "EFAL: Failed to set variable @col2var");
  }
}

TEST_F(EFALRecording, StylesAndInserts) {
  {
    auto w = Open(gfEFAL, otPoint);
    Take();
    w->AddPoint(1, 2, "1");
    Calls c = Take();
    EXPECT_EQ(c.back(), "ExecuteInsert insert into `e` (obj,`id`) values (@objvar,@col1var)");
    w->Symbol = TMISymbol{34, 0x0000FF, 9};
    w->AddPoint(1, 2, "1");
    c = Take();
    EXPECT_EQ(c[c.size() - 2], "Style @stylevar Symbol (34,16711680,9,\"MapInfo Symbols\",0,0)");
    EXPECT_EQ(c.back(), "ExecuteInsert insert into `e` (obj,style,`id`) values (@objvar,@stylevar,@col1var)");
    ASSERT_EQ(rec.geometries.size(), 2u);
    const std::string& g = rec.geometries[0];
    ASSERT_EQ(g.size(), 8u + 21u);
    EXPECT_EQ(g.substr(0, 4), std::string("GP\0\x01", 4));
  }
  {
    auto w = Open(gfEFAL, otRegion);
    Take();
    TFloatPointArrayEx ring;
    ring.Pnt = {{0, 0}, {1, 0}, {1, 1}, {0, 0}};
    ring.Count = 4;
    w->Brush = TMIBrush{5, 0x00FF00, 0xFF0000};
    w->AddObject(1, false, "1");
    w->AddSection(0, ring);
    const Calls c = Take();
    EXPECT_EQ(c[c.size() - 2], "Style @stylevar Pen (1,2,0) Brush (5,65280,255)");
  }
  {
    auto w = Open(gfEFAL, otPline);
    Take();
    w->Brush = TMIBrush{5, 0x00FF00, 0xFF0000};  // no brush in a line table
    w->AddLine(0, 0, 1, 1, "1");
    Calls c = Take();
    EXPECT_TRUE(std::none_of(c.begin(), c.end(), [](const std::string& s) { return s.starts_with("Style"); }));
    w->Pen = TMIPen{3, 5, 0x0000FF};
    w->AddLine(0, 0, 1, 1, "1");
    c = Take();
    EXPECT_EQ(c[c.size() - 2], "Style @stylevar Pen (3,5,16711680)");
    // A record without geometry leaves the previous geometry out.
    w->AddObject(0, false, "2");
    c = Take();
    EXPECT_TRUE(std::none_of(c.begin(), c.end(), [](const std::string& s) { return s.starts_with("Geometry"); }));
    EXPECT_EQ(c.back(), "ExecuteInsert insert into `e` (`id`) values (@col1var)");
  }
}

// The WKB behind the GeoPackage header of a recorded geometry.
struct Gpkg {
  uint8_t flags = 0;
  double env[4] = {0, 0, 0, 0};
  OGRGeometryH geom = nullptr;
  ~Gpkg() {
    if (geom) OGR_G_DestroyGeometry(geom);
  }
};

void ParseGpkg(const std::string& g, Gpkg& out) {
  ASSERT_GE(g.size(), 8u);
  ASSERT_EQ(g.substr(0, 3), std::string("GP\0", 3));
  out.flags = uint8_t(g[3]);
  int32_t srs;
  std::memcpy(&srs, g.data() + 4, 4);
  EXPECT_EQ(srs, 0);
  size_t pos = 8;
  if (out.flags == 0x03) {
    ASSERT_GE(g.size(), 40u);
    std::memcpy(out.env, g.data() + 8, 32);
    pos = 40;
  }
  const OGRErr e = OGR_G_CreateFromWkb(reinterpret_cast<const unsigned char*>(g.data() + pos), nullptr, &out.geom,
                                       int(g.size() - pos));
  ASSERT_EQ(e, OGRERR_NONE);
  // Every byte is part of the geometry.
  EXPECT_EQ(size_t(OGR_G_WkbSize(out.geom)), g.size() - pos);
}

TEST_F(EFALRecording, GeometryBytes) {
  TFloatPointArrayEx outer, hole, other;
  outer.Pnt = {{0, 0}, {10, 0}, {10, 10}, {0, 0}};
  outer.Count = 4;
  hole.Pnt = {{2, 2}, {3, 3}, {2, 3}, {2, 2}};
  hole.Count = 4;
  other.Pnt = {{-5, 20}, {-4, 20}, {-4, 21}, {-5, 20}};
  other.Count = 4;
  {
    auto w = Open(gfEFAL, otRegion);
    w->AddObject(3, true, "1");  // two polygons, the first with a hole
    w->AddSection(0, outer);
    w->AddSection(1, hole);
    w->AddSection(-1, other);
    w->AddObject(3, true, "2");  // two polygons, the second with a hole
    w->AddSection(0, other);
    w->AddSection(-1, outer);
    w->AddSection(2, hole);
    w->AddObject(2, false, "3");  // one polygon with a hole
    w->AddSection(0, outer);
    w->AddSection(1, hole);
    ASSERT_EQ(rec.geometries.size(), 3u);
    const int rings[3][2] = {{2, 1}, {1, 2}, {2, 0}};
    for (int k = 0; k < 3; ++k) {
      SCOPED_TRACE(k);
      Gpkg g;
      ParseGpkg(rec.geometries[size_t(k)], g);
      ASSERT_NE(g.geom, nullptr);
      EXPECT_EQ(g.flags, 0x03);
      EXPECT_EQ(g.env[0], k < 2 ? -5 : 0);  // minx, maxx, miny, maxy
      EXPECT_EQ(g.env[1], 10);
      EXPECT_EQ(g.env[2], 0);
      EXPECT_EQ(g.env[3], k < 2 ? 21 : 10);
      if (k < 2) {
        ASSERT_EQ(wkbFlatten(OGR_G_GetGeometryType(g.geom)), wkbMultiPolygon);
        ASSERT_EQ(OGR_G_GetGeometryCount(g.geom), 2);
        for (int p = 0; p < 2; ++p)
          EXPECT_EQ(OGR_G_GetGeometryCount(OGR_G_GetGeometryRef(g.geom, p)), rings[k][p]) << p;
      } else {
        ASSERT_EQ(wkbFlatten(OGR_G_GetGeometryType(g.geom)), wkbPolygon);
        EXPECT_EQ(OGR_G_GetGeometryCount(g.geom), 2);
      }
    }
    // Several polygons in a record not declared multi.
    w->AddObject(2, false, "4");
    w->AddSection(0, outer);
    try {
      w->AddSection(0, other);
      FAIL();
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), "Region record with several polygons must be declared multiPolygon");
    }
  }
  {
    rec.geometries.clear();
    auto w = Open(gfEFAL, otPline);
    w->AddObject(2, false, "1");
    w->AddSection2(0, 0, 0, 1, 1);
    w->AddSection2(1, 5, 5, 6, -7);
    w->AddLine(3, 4, 5, 6, "2");
    auto p = Open(gfEFAL, otPoint);
    p->AddPoint(7.5, -8.25, "3");
    ASSERT_EQ(rec.geometries.size(), 3u);
    Gpkg a, b, c;
    ParseGpkg(rec.geometries[0], a);
    ParseGpkg(rec.geometries[1], b);
    ParseGpkg(rec.geometries[2], c);
    ASSERT_NE(a.geom, nullptr);
    EXPECT_EQ(wkbFlatten(OGR_G_GetGeometryType(a.geom)), wkbMultiLineString);
    EXPECT_EQ(OGR_G_GetGeometryCount(a.geom), 2);
    EXPECT_EQ(a.env[3], 5);
    EXPECT_EQ(a.env[2], -7);
    EXPECT_EQ(wkbFlatten(OGR_G_GetGeometryType(b.geom)), wkbLineString);
    EXPECT_EQ(c.flags, 0x01);
    EXPECT_EQ(wkbFlatten(OGR_G_GetGeometryType(c.geom)), wkbPoint);
    EXPECT_EQ(OGR_G_GetX(c.geom, 0), 7.5);
    EXPECT_EQ(OGR_G_GetY(c.geom, 0), -8.25);
  }
}

// ---------------------------------------------------------------------------
// Loading EFAL from a folder

TEST(EFALLoad, MissingFileMissingExportAndGoodLibrary) {
  const TEFALBinding saved = ReplaceEFALProcs(TEFALBinding{});
  EXPECT_EQ(EFALStatus(), 1);
  TGISWriter::EFAL_Load(std::string(KOVRA_FAKE_LIB_DIR) + "/none");
  EXPECT_EQ(EFALStatus(), 2);
  EXPECT_FALSE(TGISWriter::EFAL_supported());
  try {
    TGISWriter::EFAL_Load(std::string(KOVRA_FAKE_LIB_DIR) + "/efal_broken");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Cannot find the address for proc _ZN4EFAL11DisposeStmtEyy");
  }
  EXPECT_EQ(EFALStatus(), 2);
  TGISWriter::EFAL_Load(std::string(KOVRA_FAKE_LIB_DIR) + "/efal_good");
  EXPECT_EQ(EFALStatus(), 0);
  EXPECT_TRUE(TGISWriter::EFAL_supported());
  EXPECT_TRUE(typeid(*TGISWriter::GetGISObject(gfEFAL)) == typeid(TGISWriterEFAL));
  EXPECT_TRUE(typeid(*TGISWriter::GetGISObject(gfEFALx)) == typeid(TGISWriterEFALx));
  // Every function is bound and callable through the shared declarations.
  EXPECT_EQ(EFALProcs().InitializeSession(nullptr), 1u);
  EXPECT_EQ(EFALProcs().Prepare(1, u"x"), 4u);
  ReplaceEFALProcs(saved);
  EXPECT_FALSE(TGISWriter::EFAL_supported());
}

}  // namespace
