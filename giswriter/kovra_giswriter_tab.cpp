#include "giswriter/kovra_giswriter_tab.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <cmath>

#include "foundation/kovra_charset.h"
#include "foundation/kovra_csvfiles.h"
#include "foundation/kovra_functions.h"
#include "giswriter/efal.h"
#include "giswriter/kovra_giswriter_shared.h"
#include "giswriter/mitab.h"

namespace kovra {

namespace {

mitab_handle H(int64_t v) { return reinterpret_cast<mitab_handle>(intptr_t(v)); }
int64_t I(const void* p) { return int64_t(reinterpret_cast<intptr_t>(p)); }

std::string LibraryMessage() {
  const TMITABProcs& p = MITABProcs();
  const char* m = p.getlasterrormsg ? p.getlasterrormsg() : nullptr;
  return (m && *m) ? std::string(m) : std::string("unknown error");
}

int LibraryErrorNo() {
  const TMITABProcs& p = MITABProcs();
  return p.getlasterrorno ? p.getlasterrorno() : 0;
}

int MITABFieldType(TGISField Field) {
  switch (Field) {
    case gfChar: return MITAB_C_FIELD_CHAR;
    case gfInteger: return MITAB_C_FIELD_INTEGER;
    case gfSmallInt: return MITAB_C_FIELD_SMALLINT;
    case gfDecimal: return MITAB_C_FIELD_DECIMAL;
    case gfFloat: return MITAB_C_FIELD_FLOAT;
    case gfDate: return MITAB_C_FIELD_DATE;
    case gfLogical: return MITAB_C_FIELD_LOGICAL;
    case gfTime: return MITAB_C_FIELD_TIME;
    case gfDateTime: return MITAB_C_FIELD_DATETIME;
    default: throw EInvalidFieldType(Format("Field type %d is not supported for MITAB format", int(Field)));
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// TGISWriterTAB

TGISWriterTAB::TGISWriterTAB() { fnativeX = false; }

void TGISWriterTAB::AddTableFiles() {
  for (const char* ext : {".tab", ".map", ".dat", ".id"}) AddCreatedFile(FileName + ext);
}

int64_t TGISWriterTAB::TableFileSize(const std::string& Name) const { return GetFileSizeByName(Name); }

void TGISWriterTAB::CheckFileSizes() {
  if (fnativeX || FWrittenRecords < NextFileCheck) return;
  // 64-bit sizes: a file past 2 GiB must not wrap to a negative size.
  int64_t m = 0;
  for (const char* ext : {".map", ".id", ".dat"}) m = std::max(m, TableFileSize(FileName + ext));
  fFileIsFull = m > cGISFileFullBytes;
  if (m <= 0) {
    // No size yet: look again at the next record.
    NextFileCheck = FWrittenRecords < MaxInt ? FWrittenRecords + 1 : MaxInt;
    return;
  }
  const double next = double(FWrittenRecords) * 0.5 + 1073500000.0 / double(m) * double(FWrittenRecords);
  NextFileCheck = next >= double(MaxInt) ? MaxInt : int32_t(Trunc(next));
}

// ---------------------------------------------------------------------------
// TGISWriterMITAB

TGISWriterMITAB::TGISWriterMITAB() = default;

TGISWriterMITAB::~TGISWriterMITAB() {
  // A writer freed without Close still closes the library's table, or it
  // would hold its descriptors for the life of the process; an error the
  // library reports then goes nowhere.
  if (FMH == 0) return;
  const TMITABProcs& p = MITABProcs();
  if (FFH != 0) p.destroy_feature(H(FFH));
  p.close(H(FMH));
}

void TGISWriterMITAB::RaiseLibraryError(const char* What) {
  std::string msg = LibraryMessage();
  if (FFH != 0) {
    MITABProcs().destroy_feature(H(FFH));
    FFH = 0;
  }
  if (What && *What) msg = std::string(What) + ": " + msg;
  throw Exception(Format("MITAB: %s", msg));
}

void TGISWriterMITAB::ParseMIFBounds(const std::string& Text, double& xmin, double& ymin, double& xmax,
                                     double& ymax) {
  std::string t = Text;
  for (char& c : t) {
    if (c == '(')
      c = ',';
    else if (c == ')')
      c = ' ';
  }
  std::vector<std::string> v;
  SplitCommaText(t, v);
  double r[4];
  bool ok = v.size() >= 5;
  for (size_t i = 0; ok && i < 4; ++i) {
    ok = TryStrToFloatDot(v[i + 1], r[i]);
  }
  if (!ok) throw Exception(Format("Invalid Bounds clause in CoordSys: \"%s\"", Text));
  xmin = r[0];
  ymin = r[1];
  xmax = r[2];
  ymax = r[3];
}

void TGISWriterMITAB::StartHeader(int32_t NumFields, TObjectTypes ObjectTypes) {
  // A second table would orphan the first one's handle.
  if (FMH != 0) throw Exception(Format("MITAB: a table is already open for \"%s\"", FileName + ".tab"));
  TGISWriter::StartHeader(NumFields, ObjectTypes);
  FFH = 0;
  const std::string path = FileName + ".tab";  // UTF-8, as the library takes paths
  try {
    if (!MITABLoaded()) throw Exception("the MITAB library is not loaded");
    std::string upper = CoordSys;
    for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
    const size_t b = upper.find("BOUNDS");
    const TMITABProcs& p = MITABProcs();
    mitab_handle h;
    if (b == std::string::npos) {
      h = p.create(path.c_str(), "tab", FEncoding->GetBytes(CoordSys).c_str(), 0, 0, 0, 0);
    } else {
      double xmin, ymin, xmax, ymax;
      ParseMIFBounds(CoordSys.substr(b), xmin, ymin, xmax, ymax);
      h = p.create(path.c_str(), "tab", FEncoding->GetBytes(CoordSys.substr(0, b)).c_str(), ymax, ymin, xmax,
                   xmin);
    }
    if (!h) throw Exception(LibraryMessage());
    FMH = I(h);
    AddTableFiles();
    // The charset label of the table; never asked of a table that does not exist.
    const std::string charset = CharSetList().CodePage2Charset(FCodepage);
    if (!charset.empty() && !p.set_charset(h, StringToCodePage(charset, 1252).c_str()))
      throw Exception(LibraryMessage());
  } catch (const Exception& e) {
    if (FMH != 0) MITABProcs().close(H(FMH));
    FMH = 0;
    Fopen = false;
    throw Exception(Format("MITAB: cannot create table \"%s\": %s", path, e.what()));
  }
}

void TGISWriterMITAB::AddField(const std::string& FieldName, TGISField Field, uint8_t Width, uint8_t decimals) {
  if (Field == gfInt64) throw Exception("Int64 are not supported for MITAB format");
  const int type = MITABFieldType(Field);
  if (Width == 255) Width = 254;
  TGISWriter::AddField(FieldName, Field, Width, decimals);
  if (FMH == 0) return;
  if (MITABProcs().add_field(H(FMH), FEncoding->GetBytes(FieldName).c_str(), type, Width, decimals, 0, 0) < 0)
    RaiseLibraryError(FieldName.c_str());
}

void TGISWriterMITAB::AddObject(int32_t NumParts, bool multiPolygon, const std::string& Attrib) {
  if (FObjectTypes == otRegion && NumParts > cMITABMaxParts)
    throw Exception(Format("No more than %d parts", cMITABMaxParts));
  TGISWriter::AddObject(NumParts, multiPolygon, Attrib);
}

void TGISWriterMITAB::StartObject(int32_t NumParts, const std::string& Attrib) {
  TGISWriter::StartObject(NumParts, Attrib);
  if (FMH == 0) return;
  // Split first: a refused attribute text leaves nothing of the record.
  SplitAttributes(Attrib);
  if (FObjectTypes == otNone) NumParts = 0;
  int type = MITAB_C_TYPE_NONE;
  if (NumParts != 0)
    type = FObjectTypes == otPline ? MITAB_C_TYPE_POLYLINE
                                   : (FObjectTypes == otPoint ? MITAB_C_TYPE_POINT : MITAB_C_TYPE_REGION);
  const TMITABProcs& p = MITABProcs();
  if (FFH != 0) {  // a feature abandoned by an earlier failure
    p.destroy_feature(H(FFH));
    FFH = 0;
  }
  mitab_feature f = p.create_feature(H(FMH), type);
  if (!f) RaiseLibraryError(nullptr);
  FFH = I(f);
  for (int32_t i = 1; i <= FNumFields; ++i) {
    const std::string& v = FSL[size_t(i) - 1];
    const TFieldInfo& fi = FFieldInfo[size_t(i)];
    if (fi.FieldType == gfLogical && IsTrueText(v)) {
      p.set_field(f, i - 1, "T");
    } else if (fi.FieldType == gfChar) {
      // Cut here to whole characters: the library cuts at the byte width,
      // which may halve a double-byte character.
      FEncoding->GetBytesCut(v, fi.Width > 0 ? fi.Width : 254, FValue);
      p.set_field(f, i - 1, FValue.c_str());
    } else if (FEncoding->AsciiSame() && IsAsciiText(v)) {
      p.set_field(f, i - 1, v.c_str());  // numbers, dates: the same bytes in every page
    } else {
      p.set_field(f, i - 1, FEncoding->GetBytes(v).c_str());
    }
    if (LibraryErrorNo() != 0) RaiseLibraryError(fi.Name.c_str());
  }
  // Pen widths 8 to 10 are no MapInfo pen: the library keeps its own.
  if (Pen.Width < 8 || Pen.Width > 10) p.set_pen(f, Pen.Width, Pen.pattern, int(RGB(Pen.Color)));
  if (FObjectTypes == otRegion)
    p.set_brush(f, int(RGB(Brush.fg_color)), int(RGB(Brush.bg_color)), Brush.pattern, 1);
  if (NumParts == 0) FinishFeature();
}

void TGISWriterMITAB::FinishFeature() {
  const TMITABProcs& p = MITABProcs();
  if (!p.write_feature(H(FMH), H(FFH))) RaiseLibraryError(nullptr);
  p.destroy_feature(H(FFH));
  FFH = 0;
  // Counted once the table holds it.
  ++FWrittenRecords;
  CheckFileSizes();
}

void TGISWriterMITAB::AbandonObject() {
  if (FFH == 0) return;
  MITABProcs().destroy_feature(H(FFH));
  FFH = 0;
}

void TGISWriterMITAB::WriteSection(int32_t Index, TFloatPointArrayEx& SegList) {
  TGISWriter::WriteSection(Index, SegList);
  if (FMH == 0 || FObjectTypes == otNone || FFH == 0) return;
  const size_t n = size_t(std::max(SegList.Count, 0));
  if (FX.size() < n) {
    FX.resize(n);
    FY.resize(n);
  }
  for (size_t i = 0; i < n; ++i) {
    FX[i] = SegList.Pnt[i].x;
    FY[i] = SegList.Pnt[i].y;
  }
  // A part that starts a polygon of a region (the ring rule of every region
  // writer) gets a negative number, the first part 0.
  int part = FWrittenParts - 1;
  if (FObjectTypes == otRegion && part > 0 && Index <= 0) part = -part;
  MITABProcs().set_points(H(FFH), part, int(n), FX.data(), FY.data());
  if (LibraryErrorNo() != 0) RaiseLibraryError(nullptr);
  if (FWrittenParts == FNumParts) FinishFeature();
}

void TGISWriterMITAB::AddPoint(double X, double Y, const std::string& Attrib) {
  CheckPoint(X, Y);
  if (FMH == 0 || FObjectTypes != otPoint) return;
  StartObject(1, Attrib);
  const TMITABProcs& p = MITABProcs();
  p.set_points(H(FFH), 0, 1, &X, &Y);
  if (LibraryErrorNo() != 0) RaiseLibraryError(nullptr);
  p.set_symbol(H(FFH), Symbol.Shape, Symbol.Size, int(RGB(Symbol.Color)));
  FinishFeature();
  // The point is complete: no part is owed.
  FWrittenParts = FNumParts;
}

void TGISWriterMITAB::Close() {
  TGISWriter::Close();
  if (Fopen) CloseTable();
  RaiseUnfinished();
}

void TGISWriterMITAB::CloseTable() {
  Fopen = false;
  FX = TDoubleArray();
  FY = TDoubleArray();
  if (FMH == 0) return;
  const TMITABProcs& p = MITABProcs();
  if (FFH != 0) {
    p.destroy_feature(H(FFH));
    FFH = 0;
  }
  const mitab_handle h = H(FMH);
  FMH = 0;
  p.close(h);
  const int err = LibraryErrorNo();
  const std::string msg = err != 0 ? LibraryMessage() : std::string();
  if (FObjectTypes == otNone) {
    RemoveFileQuietly(FileName + ".map");
    RemoveFileQuietly(FileName + ".id");
  }
  if (err == MITAB_C_ERR_OUT_OF_BOUNDS)
    throw Exception(Format("TAB output \"%s\": coordinates outside the table bounds %s", FileName + ".tab", msg));
  if (err != 0) throw Exception(Format("MITAB: %s", msg));
}

// ---------------------------------------------------------------------------
// TGISWriterMFAL

namespace {

uint8_t MFALFieldType(TGISField Field) {
  switch (Field) {
    case gfChar: return 1;
    case gfInteger: return 3;
    case gfSmallInt: return 4;
    case gfDecimal: return 2;
    case gfFloat: return 8;
    case gfDate: return 5;
    case gfLogical: return 6;
    case gfTime: return 37;
    case gfDateTime: return 38;
    case gfInt64: return 39;
    default: throw EInvalidFieldType(Format("Field type %d is not supported for MFAL format", int(Field)));
  }
}

}  // namespace

TGISWriterMFAL::TGISWriterMFAL() = default;

void TGISWriterMFAL::StartHeader(int32_t NumFields, TObjectTypes ObjectTypes) {
  TGISWriter::StartHeader(NumFields, ObjectTypes);
  Fields.assign(size_t(NumFields), MI_ATTRDEF{});
  FieldIndex = 0;
  TId = 0;
  miobject = MI_OBJ{};
}

void TGISWriterMFAL::AddField(const std::string& FieldName, TGISField Field, uint8_t Width, uint8_t decimals) {
  const uint8_t type = MFALFieldType(Field);
  MI_ATTRDEF def{};
  MakeMIFieldName(def.name, StringToCodePage(FieldName, 1252));
  TGISWriter::AddField(FieldName, Field, Width, decimals);
  def.fieldtype = type;
  def.width = Width;
  def.decPlaces = decimals;
  def.bIndexed = 0;
  Fields[size_t(FieldIndex)] = def;
  ++FieldIndex;
  if (FWrittenFields != FNumFields) return;
  const TMFALProcs& p = MFALProcs();
  const std::string path = FileName + ".tab";
  if (!MFALLoaded()) throw Exception(Format("MFAL: cannot create table \"%s\": the MFAL library is not loaded", path));
  alignas(8) uint8_t csys[cMFALCsysSize] = {};
  p.MFAL_CoordSysToCsys(StringToCodePage(CoordSys, 1252).c_str(), csys);
  p.MFAL_SetCharset(CharSetList().CodePage2ID(FCodepage));
  TId = p.MFAL_CreateTable(path.c_str(), Fields.data(), FNumFields, csys, 5);
  if (TId == 0) {
    Fopen = false;
    throw Exception(Format("MFAL: cannot create table \"%s\"", path));
  }
  AddTableFiles();
}

std::string TGISWriterMFAL::AttribToTabText(const std::string& Attrib) {
  SplitCommaText(Attrib, SL);
  std::string r;
  if (SL.size() == 1 && SL[0].empty()) {
    r = "\"\"";
  } else {
    for (size_t i = 0; i < SL.size(); ++i) {
      if (i > 0) r += '\t';
      const std::string& v = SL[i];
      const bool quote =
          std::any_of(v.begin(), v.end(), [](char c) { return static_cast<unsigned char>(c) <= 32 || c == '"'; });
      if (!quote) {
        r += v;
        continue;
      }
      r += '"';
      for (char c : v) {
        if (c == '"') r += '"';
        r += c;
      }
      r += '"';
    }
  }
  return FEncoding->GetBytes(r);
}

MI_CPEN TGISWriterMFAL::MakePen() const {
  MI_CPEN pen{};
  pen.width = int16_t(uint16_t(uint32_t(Pen.Width) & 0xFFFF));
  pen.pat = Pen.pattern;
  pen.style = 2;
  pen.color = int32_t(RGB(Pen.Color));
  return pen;
}

void TGISWriterMFAL::Insert() {
  int64_t scratch = 0;
  MFALProcs().MFAL_Insert(TId, attrib_tab.c_str(), &miobject, &scratch);
}

void TGISWriterMFAL::AddPoint(double X, double Y, const std::string& Attrib) {
  CheckPoint(X, Y);
  if (TId == 0) return;
  SplitAttributes(Attrib);
  miobject.objtype = cMIObjPoint;
  miobject.point.pnt = DPNT{X, Y};
  miobject.point.symbol.code = int16_t(uint16_t(uint32_t(Symbol.Shape) & 0xFFFF));
  miobject.point.symbol.color = int32_t(RGB(Symbol.Color));
  miobject.point.symbol.pointsize = int16_t(uint16_t(uint32_t(Symbol.Size) & 0xFFFF));
  attrib_tab = AttribToTabText(Attrib);
  Insert();
  ++FWrittenRecords;
  CheckFileSizes();
}

void TGISWriterMFAL::StartObject(int32_t NumParts, const std::string& Attrib) {
  TGISWriter::StartObject(NumParts, Attrib);
  if (TId == 0) return;
  SplitAttributes(Attrib);
  attrib_tab = AttribToTabText(Attrib);
  if (NumParts == 0) {
    miobject.objtype = cMIObjNone;
    Insert();
    ++FWrittenRecords;
    CheckFileSizes();
  } else if (NumParts > 1 || FObjectTypes == otRegion) {
    mipolys.assign(size_t(NumParts), MI_POLY{});
    pointsM.resize(size_t(NumParts));
  }
  Fpartsindex = -1;
}

void TGISWriterMFAL::WriteSection(int32_t Index, TFloatPointArrayEx& SegList) {
  TGISWriter::WriteSection(Index, SegList);
  if (TId == 0) return;
  const int32_t n = std::max(SegList.Count, 0);
  auto copyPoints = [&](std::vector<DPNT>& pts) {
    pts.resize(size_t(n));
    for (int32_t i = 0; i < n; ++i) pts[size_t(i)] = DPNT{SegList.Pnt[size_t(i)].x, SegList.Pnt[size_t(i)].y};
  };
  if (FNumParts == 1 && FObjectTypes == otPline) {
    if (n == 2) {
      miobject.objtype = cMIObjLine;
      miobject.line.lbeg = DPNT{SegList.Pnt[0].x, SegList.Pnt[0].y};
      miobject.line.lend = DPNT{SegList.Pnt[1].x, SegList.Pnt[1].y};
      miobject.line.pen = MakePen();
    } else {
      // The library reads the points during the call only.
      pointsM.resize(std::max<size_t>(pointsM.size(), 1));
      std::vector<DPNT>& pts = pointsM[0];
      copyPoints(pts);
      miobject.objtype = cMIObjPline;
      miobject.pline.points = n;
      miobject.pline.bSmooth = 0;
      miobject.pline.pen = MakePen();
      miobject.pline.data = pts.data();
    }
    Insert();
  } else {
    ++Fpartsindex;
    std::vector<DPNT>& pts = pointsM[size_t(Fpartsindex)];
    copyPoints(pts);
    mipolys[size_t(Fpartsindex)] = MI_POLY{n, 0, pts.data()};
    if (Fpartsindex < FNumParts - 1) return;
    if (FObjectTypes == otRegion) {
      miobject.objtype = cMIObjRegion;
      miobject.region.regions = FNumParts;
      miobject.region.pen = MakePen();
      miobject.region.brush = MI_XBRUSH{Brush.pattern, int32_t(RGB(Brush.fg_color)), int32_t(RGB(Brush.bg_color)), 0, {}};
      miobject.region.data = mipolys.data();
    } else {
      miobject.objtype = cMIObjMultiPline;
      miobject.multipline.plines = FNumParts;
      miobject.multipline.bSmooth = 0;
      miobject.multipline.pen = MakePen();
      miobject.multipline.data = mipolys.data();
    }
    Insert();
  }
  // One record, however many parts it has.
  ++FWrittenRecords;
  CheckFileSizes();
}

void TGISWriterMFAL::Close() {
  TGISWriter::Close();
  if (Fopen) {
    Fopen = false;
    if (TId != 0) MFALProcs().MFAL_CloseTable(TId);
    TId = 0;
  }
  RaiseUnfinished();
}

// ---------------------------------------------------------------------------
// TGISWriterEFAL

namespace {

int32_t EFALFieldType(TGISField Field, uint32_t& Width, uint32_t& Decimals) {
  const uint32_t w = Width, d = Decimals;
  Width = 0;
  Decimals = 0;
  switch (Field) {
    case gfChar: Width = w; return 1;
    case gfInteger: return 3;
    case gfSmallInt: return 4;
    case gfDecimal: Width = w; Decimals = d; return 2;
    case gfFloat: return 8;
    case gfDate: return 5;
    case gfLogical: return 6;
    case gfTime: return 42;
    case gfDateTime: return 43;
    case gfInt64: return 40;
    default: throw EInvalidFieldType(Format("Field type %d is not supported for EFAL format", int(Field)));
  }
}

std::u16string U(const std::string& S) { return ToUtf16(S); }

// A table or column name in an EFAL statement: in backquotes, so that a
// blank or a keyword in it does not end the name (a backquote inside is doubled).
std::string QuoteName(const std::string& Name) {
  std::string q = "`";
  for (char c : Name) {
    if (c == '`') q += '`';
    q += c;
  }
  return q + "`";
}

std::string ColVar(int32_t i) { return "@col" + std::to_string(i) + "var"; }

// A compact date or time text of exactly Length digits.
void CheckDigits(const std::string& S, size_t Length, const char* Kind) {
  if (S.size() != Length || !std::all_of(S.begin(), S.end(), [](char c) { return c >= '0' && c <= '9'; }))
    throw EConvertError(Format("'%s' is not a valid %s value", S, Kind));
}

std::string RGBText(uint32_t Color) { return std::to_string(RGB(Color)); }

}  // namespace

TGISWriterEFAL::TGISWriterEFAL() = default;

TGISWriterEFAL::~TGISWriterEFAL() {
  // A writer freed without Close must not keep the library's session and
  // table; what the library reports then goes nowhere.
  try {
    ReleaseSession();
  } catch (...) {
  }
}

TGISWriterEFALx::TGISWriterEFALx() { fnativeX = true; }

bool TGISWriterEFAL::AcceptsCodepage(uint16_t Value) const {
  return fnativeX ? true : TGISWriter::AcceptsCodepage(Value);
}

void TGISWriterEFAL::PutInt32(int32_t V) {
  char b[4];
  const uint32_t u = uint32_t(V);
  for (int i = 0; i < 4; ++i) b[i] = char((u >> (8 * i)) & 0xFF);
  geo.append(b, 4);
}

void TGISWriterEFAL::PutDouble(double V) {
  uint64_t u;
  std::memcpy(&u, &V, 8);
  char b[8];
  for (int i = 0; i < 8; ++i) b[i] = char((u >> (8 * i)) & 0xFF);
  geo.append(b, 8);
}

void TGISWriterEFAL::PatchInt32(int64_t Pos, int32_t V) {
  const uint32_t u = uint32_t(V);
  for (int i = 0; i < 4; ++i) geo[size_t(Pos) + size_t(i)] = char((u >> (8 * i)) & 0xFF);
}

void TGISWriterEFAL::WriteWKBHeader(uint32_t Type) {
  geo += char(1);
  PutInt32(int32_t(Type));
}

void TGISWriterEFAL::PatchRingCount() { PatchInt32(PosNumberOfRings, NumberOfRings); }

void TGISWriterEFAL::StartHeader(int32_t NumFields, TObjectTypes ObjectTypes) {
  // A second table would orphan the session of the first.
  if (Session != 0) throw Exception(Format("EFAL: a table is already open for \"%s\"", FileName + ".tab"));
  TGISWriter::StartHeader(NumFields, ObjectTypes);
  if (!EFALLoaded()) {
    Fopen = false;
    throw Exception("EFAL: the EFAL library is not loaded");
  }
  FProcs = EFALProcs();
  const TEFALProcs& p = FProcs;
  Session = p.InitializeSession(nullptr);
  alias = LayerName(FileName);
  const std::string path = FileName + ".tab";
  const auto charset = Ellis::MICHARSET(CharSetList().CodePage2ID(FCodepage));
  TableMetadata = fnativeX ? p.CreateNativeXTableMetadata(Session, U(alias).c_str(), U(path).c_str(), charset)
                           : p.CreateNativeTableMetadata(Session, U(alias).c_str(), U(path).c_str(), charset);
  if (TableMetadata == 0) {
    ReleaseSession();
    throw Exception("EFAL: Failed to create table metadata");
  }
  if (BlockSize > 511) p.SetMetadata(Session, TableMetadata, u"\\BlockSizeMapFile", U(std::to_string(BlockSize)).c_str());
  if (FObjectTypes == otNone) return;
  coord = CoordSysToEFAL(CoordSys);
  p.AddColumn(Session, TableMetadata, u"obj", Ellis::ALLTYPE_TYPE(13), false, 0, 0, U(coord).c_str());
  p.AddColumn(Session, TableMetadata, u"style", Ellis::ALLTYPE_TYPE(36), false, 0, 0, u"");
  p.CreateVariable(Session, u"@objvar");
  p.CreateVariable(Session, u"@stylevar");
}

void TGISWriterEFAL::AddField(const std::string& FieldName, TGISField Field, uint8_t Width, uint8_t decimals) {
  uint32_t w = Width, d = decimals;
  const int32_t type = EFALFieldType(Field, w, d);
  TGISWriter::AddField(FieldName, Field, Width, decimals);
  const TEFALProcs& p = FProcs;
  p.AddColumn(Session, TableMetadata, U(FieldName).c_str(), Ellis::ALLTYPE_TYPE(type), false, w, d, u"");
  if (FWrittenFields != FNumFields) return;
  Table = p.CreateTable(Session, TableMetadata);
  if (Table == 0) throw Exception("EFAL: Failed to create a table");
  AddTableFiles();
  p.DestroyTableMetadata(Session, TableMetadata);
  TableMetadata = 0;
  if (!p.BeginWriteAccess(Session, Table)) throw Exception("EFAL: Failed to BeginWriteAccess");
  std::string names, vars;
  for (int32_t i = 1; i <= FNumFields; ++i) {
    const std::string v = ColVar(i);
    if (!p.CreateVariable(Session, U(v).c_str())) throw Exception("EFAL: Failed to create variable " + v);
    names += (i > 1 ? "," : "") + QuoteName(FFieldInfo[size_t(i)].Name);
    vars += (i > 1 ? "," : "") + v;
  }
  const bool geometry = FObjectTypes != otNone;
  const std::string table = QuoteName(alias);
  InsertStringStyle = "insert into " + table + " (" + (geometry ? "obj,style," : "") + names + ") values (" +
                      (geometry ? "@objvar,@stylevar," : "") + vars + ")";
  InsertStringStyleHandle = Prepare(InsertStringStyle);
  InsertString = "insert into " + table + " (" + (geometry ? "obj," : "") + names + ") values (" +
                 (geometry ? "@objvar," : "") + vars + ")";
  InsertStringHandle = Prepare(InsertString);
  // A record without geometry in a table with geometry: the geometry
  // variable still holds the previous record's, so it is left out.
  if (geometry) InsertNoGeometryHandle = Prepare("insert into " + table + " (" + names + ") values (" + vars + ")");
}

uint64_t TGISWriterEFAL::Prepare(const std::string& Statement) {
  const uint64_t h = FProcs.Prepare(Session, U(Statement).c_str());
  if (h == 0) throw Exception("EFAL: Failed to prepare \"" + Statement + "\"");
  return h;
}

void TGISWriterEFAL::SetColumnVariables(const std::string& Attrib) {
  // The count is checked: a short text must not leave columns unset or read
  // past the values.
  SplitAttributes(Attrib);
  const TEFALProcs& p = FProcs;
  for (int32_t i = 1; i <= FNumFields; ++i) {
    const std::string name = ColVar(i);
    const std::u16string n16 = U(name);
    const std::string& v = FSL[size_t(i) - 1];
    bool ok = true;
    switch (FFieldInfo[size_t(i)].FieldType) {
      case gfChar: ok = p.SetVariableValueString(Session, n16.c_str(), U(v).c_str()); break;
      case gfInteger: ok = p.SetVariableValueInt32(Session, n16.c_str(), DecimalInt<int32_t>(v)); break;
      case gfSmallInt: ok = p.SetVariableValueInt16(Session, n16.c_str(), DecimalInt<int16_t>(v)); break;
      case gfDecimal:
      case gfFloat: ok = p.SetVariableValueDouble(Session, n16.c_str(), StrToFloatDot(v)); break;
      case gfDate:
        CheckDigits(v, 8, "date");
        ok = p.SetVariableValueDate(Session, n16.c_str(),
                                    EFALDATE{DigitsAt(v, 1, 4), DigitsAt(v, 5, 2), DigitsAt(v, 7, 2)});
        break;
      case gfLogical: ok = p.SetVariableValueBoolean(Session, n16.c_str(), IsTrueText(v)); break;
      case gfTime:
        CheckDigits(v, 9, "time");
        ok = p.SetVariableValueTime(Session, n16.c_str(),
                                    EFALTIME{DigitsAt(v, 1, 2), DigitsAt(v, 3, 2), DigitsAt(v, 5, 2), DigitsAt(v, 7, 3)});
        break;
      case gfDateTime:
        CheckDigits(v, 17, "date-time");
        ok = p.SetVariableValueDateTime(
            Session, n16.c_str(),
            EFALDATETIME{DigitsAt(v, 1, 4), DigitsAt(v, 5, 2), DigitsAt(v, 7, 2), DigitsAt(v, 9, 2),
                         DigitsAt(v, 11, 2), DigitsAt(v, 13, 2), DigitsAt(v, 15, 3)});
        break;
      case gfInt64: ok = p.SetVariableValueInt64(Session, n16.c_str(), DecimalInt<int64_t>(v)); break;
      default: break;
    }
    if (!ok) throw Exception("EFAL: Failed to set variable " + name);
  }
}

void TGISWriterEFAL::InsertRecord(uint64_t Statement) {
  // Counted only once the table holds it.
  if (FProcs.ExecuteInsert(Session, Statement) < 1)
    throw Exception(Format("EFAL: Failed to insert record %d", FWrittenRecords + 1));
  ++FWrittenRecords;
  CheckFileSizes();
}

void TGISWriterEFAL::AddPoint(double X, double Y, const std::string& Attrib) {
  CheckPoint(X, Y);
  if (FObjectTypes != otPoint || Table == 0) return;
  SetColumnVariables(Attrib);
  geo.clear();
  geo += "GP";
  geo += char(0);
  geo += char(0x01);
  PutInt32(0);
  WriteWKBHeader(1);
  PutDouble(X);
  PutDouble(Y);
  const TEFALProcs& p = FProcs;
  p.SetVariableValueGeometry(Session, u"@objvar", uint32_t(geo.size()), geo.data(), U(coord).c_str());
  if (Symbol == DefaultSymbol) {
    InsertRecord(InsertStringHandle);
    return;
  }
  const std::string style = "Symbol (" + std::to_string(Symbol.Shape) + "," + RGBText(Symbol.Color) + "," +
                            std::to_string(Symbol.Size) + ",\"MapInfo Symbols\",0,0)";
  p.SetVariableValueStyle(Session, u"@stylevar", U(style).c_str());
  InsertRecord(InsertStringStyleHandle);
}

void TGISWriterEFAL::StartObject(int32_t NumParts, const std::string& Attrib) {
  TGISWriter::StartObject(NumParts, Attrib);
  if (Table == 0) return;
  SetColumnVariables(Attrib);
  if (NumParts == 0) {
    InsertRecord(FObjectTypes == otNone ? InsertStringHandle : InsertNoGeometryHandle);
    return;
  }
  geo.clear();
  geo += "GP";
  geo += char(0);
  geo += char(0x03);
  PutInt32(0);
  geo.append(32, '\0');  // envelope, written after the last part
  LL = TFloatPoint{1e38, 1e38};
  UR = TFloatPoint{-1e38, -1e38};
  NumberOfPolygons = 0;
  NumberOfRings = 0;
  if (FObjectTypes == otPline) {
    if (NumParts == 1) {
      WriteWKBHeader(2);
    } else {
      WriteWKBHeader(5);
      PutInt32(NumParts);
    }
  } else if (FmultiPolygon) {
    WriteWKBHeader(6);
    PutInt32(0);
  } else {
    WriteWKBHeader(3);
    PutInt32(NumParts);
  }
}

void TGISWriterEFAL::WriteSection(int32_t Index, TFloatPointArrayEx& SegList) {
  const bool region = FObjectTypes == otRegion;
  const bool starts = region && StartsPolygon(Index);
  if (Table != 0 && starts && FPartIndex > 0 && !FmultiPolygon)
    throw Exception("Region record with several polygons must be declared multiPolygon");
  TGISWriter::WriteSection(Index, SegList);
  if (Table == 0) return;
  const bool last = FPartIndex == FNumParts - 1;
  if (region && FmultiPolygon) {
    if (starts) {
      if (NumberOfPolygons > 0) PatchRingCount();
      WriteWKBHeader(3);
      ++NumberOfPolygons;
      PosNumberOfRings = int64_t(geo.size());
      NumberOfRings = 0;
      PutInt32(0);
    }
    ++NumberOfRings;
    if (last) PatchRingCount();
  } else if (FObjectTypes == otPline && FNumParts > 1) {
    WriteWKBHeader(2);
  }
  const int32_t n = std::max(SegList.Count, 0);
  PutInt32(n);
  for (int32_t i = 0; i < n; ++i) {
    const TFloatPoint& q = SegList.Pnt[size_t(i)];
    PutDouble(q.x);
    PutDouble(q.y);
    LL.x = std::min(LL.x, q.x);
    LL.y = std::min(LL.y, q.y);
    UR.x = std::max(UR.x, q.x);
    UR.y = std::max(UR.y, q.y);
  }
  if (FWrittenParts != FNumParts) return;
  {
    std::string env;
    std::swap(env, geo);
    geo.clear();
    PutDouble(LL.x);
    PutDouble(UR.x);
    PutDouble(LL.y);
    PutDouble(UR.y);
    env.replace(8, 32, geo);
    std::swap(env, geo);
  }
  if (region && FmultiPolygon) PatchInt32(40 + 5, NumberOfPolygons);
  const TEFALProcs& p = FProcs;
  p.SetVariableValueGeometry(Session, u"@objvar", uint32_t(geo.size()), geo.data(), U(coord).c_str());
  if (Pen == DefaultPen && (FObjectTypes == otPline || Brush == DefaultBrush)) {
    InsertRecord(InsertStringHandle);
    return;
  }
  std::string style = "Pen (" + std::to_string(Pen.Width) + "," + std::to_string(Pen.pattern) + "," +
                      RGBText(Pen.Color) + ")";
  if (FObjectTypes != otPline)
    style += " Brush (" + std::to_string(Brush.pattern) + "," + RGBText(Brush.fg_color) + "," +
             RGBText(Brush.bg_color) + ")";
  p.SetVariableValueStyle(Session, u"@stylevar", U(style).c_str());
  InsertRecord(InsertStringStyleHandle);
}

void TGISWriterEFAL::Close() {
  TGISWriter::Close();
  if (Fopen) CloseTable();
  RaiseUnfinished();
}

void TGISWriterEFAL::CloseTable() {
  Fopen = false;
  ReleaseSession();
}

void TGISWriterEFAL::ReleaseSession() {
  if (Session == 0) return;
  const TEFALProcs& p = FProcs;
  if (Table != 0) {
    p.EndAccess(Session, Table);
    if (InsertStringStyleHandle != 0) p.DisposeStmt(Session, InsertStringStyleHandle);
    if (InsertStringHandle != 0) p.DisposeStmt(Session, InsertStringHandle);
    if (InsertNoGeometryHandle != 0) p.DisposeStmt(Session, InsertNoGeometryHandle);
    InsertStringStyleHandle = InsertStringHandle = InsertNoGeometryHandle = 0;
    p.CloseTable(Session, Table);
    Table = 0;
  } else if (TableMetadata != 0) {
    p.DestroyTableMetadata(Session, TableMetadata);
    TableMetadata = 0;
  }
  if (FObjectTypes != otNone) {
    p.DropVariable(Session, u"@objvar");
    p.DropVariable(Session, u"@stylevar");
  }
  for (int32_t i = 1; i <= FWrittenFields && i <= FNumFields; ++i) p.DropVariable(Session, U(ColVar(i)).c_str());
  p.DestroySession(Session);
  Session = 0;
}

}  // namespace kovra
