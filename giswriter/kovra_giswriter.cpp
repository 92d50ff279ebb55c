#include "giswriter/kovra_giswriter.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "foundation/kovra_csvfiles.h"
#include "foundation/kovra_functions.h"
#include "foundation/kovra_io.h"
#include "giswriter/kovra_giswriter_shared.h"
#include "platform/kovra_codepage.h"

namespace kovra {

namespace {

constexpr uint32_t cCenterColors[15] = {0xFF0000, 0x00FF00, 0xFFFF00, 0x80FFFF, 0xFF8000,
                                        0x994D4D, 0x408080, 0x0000FF, 0x808080, 0xC0C0C0,
                                        0xFF0080, 0x808000, 0xFF80C0, 0x008080, 0x8080FF};
constexpr uint32_t cBandColors[4] = {0x0000FF, 0x50A8FF, 0x00FFFF, 0xFF00FF};

// Every coordinate of P[0..N-1] is a finite number. A non-finite double has
// all exponent bits set; adding 2^52 to the exponent bits then carries into
// bit 63, which no finite value reaches: integer steps, no branch per point.
bool AllFinite(const TFloatPoint* P, int32_t N) {
  constexpr uint64_t cExponent = 0x7FF0000000000000u, cCarry = uint64_t(1) << 52;
  uint64_t acc = 0;
  for (int32_t i = 0; i < N; ++i) {
    uint64_t x, y;
    std::memcpy(&x, &P[i].x, 8);
    std::memcpy(&y, &P[i].y, 8);
    acc |= ((x & cExponent) + cCarry) | ((y & cExponent) + cCarry);
  }
  return (acc >> 63) == 0;
}

// A coordinate for a message; also NaN and the infinities.
std::string CoordinateText(double V) {
  if (std::isnan(V)) return "NaN";
  if (std::isinf(V)) return V > 0 ? "INF" : "-INF";
  return FloatToStrDot(V);
}

int CountSignificantDigits(std::string_view s) {
  int n = 0;
  bool started = false;
  for (char c : s) {
    if (c < '0' || c > '9') continue;
    if (c != '0') started = true;
    if (started) ++n;
  }
  return n;
}

void PadTo16(std::string& s, size_t at) {
  if (s.size() >= 16) return;
  std::string pad;
  if (s.find('.') == std::string::npos) pad = ".";
  pad.append(16 - std::min<size_t>(16, s.size() + pad.size()), '0');
  s.insert(at, pad);
}

}  // namespace

// ---------------------------------------------------------------------------
// Free helpers

uint32_t GetCenterColor(int32_t Index) {
  if (Index < 0) throw EInvalidParameter(Format("Colour index must be >= 0: %d", Index));
  return cCenterColors[Index % 15];
}

uint32_t GetBandColor(int32_t Index) {
  if (Index < 0) throw EInvalidParameter(Format("Colour index must be >= 0: %d", Index));
  return cBandColors[Index % 4];
}

TMISymbol MakeMISymbol(int32_t Shape, int32_t Color, int32_t Size) {
  return TMISymbol{Shape, uint32_t(Color), Size};
}

bool IsTrueText(std::string_view s) {
  if (s.empty()) return false;
  char c = s[0];
  return c == '1' || c == 'T' || c == 'Y' || c == 't' || c == 'y';
}

std::string FormatISODate(std::string_view s) {
  return Copy(s, 1, 4) + "-" + Copy(s, 5, 2) + "-" + Copy(s, 7, 2);
}

std::string FormatISOTime(std::string_view s) {
  return Copy(s, 1, 2) + ":" + Copy(s, 3, 2) + ":" + Copy(s, 5, 2) + "." + Copy(s, 7, 3);
}

std::string FormatISODateTime(std::string_view s) {
  return Copy(s, 1, 4) + "-" + Copy(s, 5, 2) + "-" + Copy(s, 7, 2) + "T" + Copy(s, 9, 2) + ":" +
         Copy(s, 11, 2) + ":" + Copy(s, 13, 2) + "." + Copy(s, 15, 3);
}

std::string PatchBoundText(double Value, bool PlainDecimal) {
  std::string s = FloatToStrDot(Value);
  // Plain texts of up to 16 characters keep the layout readers already know.
  if (s.find('E') == std::string::npos && s.size() <= 16) {
    PadTo16(s, s.size());
    return s;
  }
  // Fixed notation rounded to 16 characters, while it keeps 9 significant digits.
  for (int d = 15; d >= 0; --d) {
    std::string t = FloatToStrFixed(Value, d);
    if (t.size() > 16) continue;
    PadTo16(t, t.size());
    if (PlainDecimal || CountSignificantDigits(t) >= 9) return t;
    break;
  }
  if (PlainDecimal)
    throw EInvalidParameter(Format("Bound %s has no decimal text of 16 characters", FloatToStrDot(Value)));
  // E-notation with the mantissa rounded to what fits.
  for (int d = 14; d >= 0; --d) {
    std::string t = ENotationText(Value, d);
    if (t.size() > 16) continue;
    PadTo16(t, t.find('E'));
    return t;
  }
  RaiseInvalidOp();  // unreachable for finite values
}

// ---------------------------------------------------------------------------
// TWriterEncoding

TWriterEncoding::TWriterEncoding(uint16_t CodePage)
    : FCodePage(ResolveCodePage(CodePage)), FSingleByte(false), FAsciiSame(false) {
  CheckCodePage(FCodePage);
  FSingleByte = !IsUTF8CodePage(FCodePage) && !IsUTF16CodePage(FCodePage) && IsSingleByteCodePage(FCodePage);
  std::string ascii;
  for (char c = 0x20; c < 0x7F; ++c) ascii += c;
  FAsciiSame = IsUTF8CodePage(FCodePage) || (FSingleByte && GetBytes(ascii) == ascii);
}

std::string TWriterEncoding::GetBytes(std::string_view S) const { return StringToCodePage(S, FCodePage); }

int64_t TWriterEncoding::ByteCount(std::string_view S) const {
  if (IsUTF8CodePage(FCodePage)) return int64_t(S.size());
  if (IsUTF16CodePage(FCodePage)) return 2 * int64_t(Utf16Length(S));
  if (FSingleByte) {
    int64_t n = 0;
    size_t pos = 0;
    while (pos < S.size()) {
      NextCodePoint(S, pos);
      ++n;
    }
    return n;
  }
  return int64_t(StringToCodePage(S, FCodePage).size());
}

size_t TWriterEncoding::FitPrefix(std::string_view S, size_t MaxBytes) const {
  if (FAsciiSame && IsAsciiText(S)) return std::min(S.size(), MaxBytes);
  size_t pos = 0, bytes = 0;
  while (pos < S.size()) {
    const size_t start = pos;
    NextCodePoint(S, pos);
    const std::string_view c = S.substr(start, pos - start);
    bytes += IsUTF8CodePage(FCodePage) ? c.size() : FSingleByte ? 1 : size_t(ByteCount(c));
    if (bytes > MaxBytes) return start;
  }
  return S.size();
}

void TWriterEncoding::GetBytesCut(std::string_view S, size_t MaxBytes, std::string& Out) const {
  if (FAsciiSame && IsAsciiText(S)) {
    Out.assign(S.substr(0, std::min(S.size(), MaxBytes)));
    return;
  }
  Out = GetBytes(S);
  if (Out.size() <= MaxBytes) return;
  // One byte per character: the cut is a cut between characters.
  if (FSingleByte) {
    Out.resize(MaxBytes);
    return;
  }
  Out = GetBytes(S.substr(0, FitPrefix(S, MaxBytes)));
}

// ---------------------------------------------------------------------------
// TGISWriter

TGISWriter::TGISWriter()
    : FCodepage(GetSystemAnsiCodePage()), FEncoding(std::make_unique<TWriterEncoding>(FCodepage)) {
  FLine.Pnt.resize(2);
  FLine.Count = 2;
  FPoint.Pnt.resize(1);
  FPoint.Count = 1;
}

TGISWriter::~TGISWriter() = default;

void TGISWriter::StartHeader(int32_t NumFields, TObjectTypes ObjectTypes) {
  // MIF creates its files at the last column and GML finishes its schema
  // there: a table without columns would have neither.
  if (NumFields < 1) throw EInvalidParameter(Format("NumFields must be >= 1: %d", NumFields));
  FNumFields = NumFields;
  FWrittenFields = 0;
  FObjectTypes = ObjectTypes;
  FFieldInfo.assign(size_t(NumFields) + 1, TFieldInfo{});
  Fopen = true;
  FXMinG = 1e38;
  FYMinG = 1e38;
  FXMaxG = -1e38;
  FYMaxG = -1e38;
  FPendingParts = 0;
  FDeclaredParts = 0;
  FDeferred = false;
  FDropParts = false;
  FObjectBroken = false;
}

void TGISWriter::AddField(const std::string& FieldName, TGISField Field, uint8_t Width, uint8_t decimals) {
  if (FWrittenFields >= FNumFields)
    throw Exception(Format("More fields than the %d declared in StartHeader", FNumFields));
  ++FWrittenFields;
  FFieldInfo[size_t(FWrittenFields)] = TFieldInfo{Field, Width, decimals, FieldName};
}

void TGISWriter::AddPoint2(const TFloatPoint& P, const std::string& Attrib) { AddPoint(P.x, P.y, Attrib); }

void TGISWriter::AddLine(double X1, double Y1, double X2, double Y2, const std::string& Attrib) {
  if (FObjectTypes != otPline) return;
  // Both points before the record starts: a refused line leaves nothing behind.
  CheckPoint(X1, Y1);
  CheckPoint(X2, Y2);
  AddObject(1, false, Attrib);
  if (FLine.Pnt.size() < 2) FLine.Pnt.resize(2);
  FLine.Pnt[0] = TFloatPoint{X1, Y1};
  FLine.Pnt[1] = TFloatPoint{X2, Y2};
  FLine.Count = 2;
  AddSection(0, FLine);
}

void TGISWriter::AddLine2(const TFloatPoint& P1, const TFloatPoint& P2, const std::string& Attrib) {
  AddLine(P1.x, P1.y, P2.x, P2.y, Attrib);
}

void TGISWriter::AddObject(int32_t NumParts, bool multiPolygon, const std::string& Attrib) {
  // A new record while parts are still owed would mix two objects (a
  // deferred one would even join into the next).
  if (FPendingParts > 0)
    throw Exception(Format("Fewer sections than the %d parts declared in AddObject", FDeclaredParts));
  if (NumParts < 0)
    throw EInvalidParameter(Format("Record %d: NumParts must be >= 0: %d", FWrittenRecords + 1, NumParts));
  if (NumParts > 0 && FObjectTypes == otPoint) throw Exception("Parts are not allowed in a point table");
  FmultiPolygon = multiPolygon;
  // Where a record refused later must take its bounds back to.
  FObjectRecord = FWrittenRecords + 1;
  FObjectBounds = {FXMinG, FYMinG, FXMaxG, FYMaxG};
  const int32_t parts = std::max(NumParts, 0);
  if (FObjectTypes == otNone) {
    // No geometry in this table: the record is written without it and the
    // declared parts are accepted and dropped.
    StartObject(0, Attrib);
    FDeferred = false;
    FDropParts = parts > 0;
  } else if (FOptimizePLinesSections && FObjectTypes == otPline && NumParts >= 2) {
    StartOptimizedObject(NumParts, Attrib);
    FDeferred = true;
    FDropParts = false;
  } else {
    StartObject(NumParts, Attrib);
    FDeferred = false;
    FDropParts = false;
  }
  FDeclaredParts = parts;
  FPendingParts = parts;
}

void TGISWriter::CheckPart(const TFloatPointArrayEx& SegList) const {
  if (SegList.Count > 0 && size_t(SegList.Count) > SegList.Pnt.size())
    throw EInvalidParameter(
        Format("Part has %d points but room for only %d", SegList.Count, SegList.Pnt.size()));
  if (FObjectTypes == otRegion) {
    if (SegList.Count <= 3) throw Exception("Region objects must have >=4 points");
    const TFloatPoint& first = SegList.Pnt[0];
    const TFloatPoint& last = SegList.Pnt[size_t(SegList.Count) - 1];
    if (!(first.x == last.x) || !(first.y == last.y)) throw Exception("Region objects must be closed");
  } else if (FObjectTypes == otPline) {
    if (SegList.Count <= 0) throw Exception("Polyline parts must have >=1 point");
  }
}

void TGISWriter::AddSection(int32_t Index, TFloatPointArrayEx& SegList) {
  if (FPendingParts <= 0)
    throw Exception(Format("More sections than the %d parts declared in AddObject", FDeclaredParts));
  // The format writer failed inside this record: it can only be taken out.
  if (FObjectBroken) throw Exception(Format("Record %d was refused; it takes no more parts", FObjectRecord));
  if (FDropParts) {
    if (--FPendingParts == 0) FDropParts = false;
    return;
  }
  // The common case, a polyline part of two or more points, needs no further test.
  if (!(FObjectTypes == otPline && SegList.Count >= 2 && size_t(SegList.Count) <= SegList.Pnt.size()))
    CheckPart(SegList);
  if (!AllFinite(SegList.Pnt.data(), SegList.Count)) CheckFinite(SegList);
  TFloatPointArrayEx* part = &SegList;
  if (FObjectTypes == otPline && SegList.Count == 1) {
    // A one-point line is written as a zero-length segment: readers reject
    // single-point line strings.
    if (FLine.Pnt.size() < 2) FLine.Pnt.resize(2);
    const TFloatPoint p = SegList.Pnt[0];
    FLine.Pnt[0] = p;
    FLine.Pnt[1] = p;
    FLine.Count = 2;
    part = &FLine;
  }
  if (FDeferred) {
    JoinSection(*part);
    if (--FPendingParts == 0) FlushOptimizedObject();
    return;
  }
  if (GreatCircleDist > 0) DensifyGreatCircle(*part, GreatCircleDist);
  FPartIndex = FDeclaredParts - FPendingParts;
  // Stays set when the format writer raises inside the record.
  FObjectBroken = true;
  WriteSection(Index, *part);
  FObjectBroken = false;
  --FPendingParts;
}

void TGISWriter::CheckFinite(const TFloatPointArrayEx& SegList) const {
  if (AllFinite(SegList.Pnt.data(), SegList.Count)) return;
  const TFloatPoint* p = SegList.Pnt.data();
  for (int32_t i = 0; i < SegList.Count; ++i) {
    if (std::isfinite(p[i].x) && std::isfinite(p[i].y)) continue;
    throw EInvalidParameter(Format("Record %d: point %d of part %d is not a finite coordinate (%s, %s)",
                                   FObjectRecord, i + 1, FDeclaredParts - FPendingParts + 1,
                                   CoordinateText(p[i].x), CoordinateText(p[i].y)));
  }
}

void TGISWriter::CheckPoint(double X, double Y) const {
  if (std::isfinite(X) && std::isfinite(Y)) return;
  throw EInvalidParameter(Format("Record %d: the point is not a finite coordinate (%s, %s)", FWrittenRecords + 1,
                                 CoordinateText(X), CoordinateText(Y)));
}

void TGISWriter::AddSection1(int32_t Index, const TFloatPointArrayEx2& SegList, bool swapdirection) {
  const int32_t n = std::max(SegList.Last + 1, 0);
  if (size_t(n) > SegList.Pnt.size())
    throw EInvalidParameter(Format("Part has %d points but room for only %d", n, SegList.Pnt.size()));
  if (FScratch.Pnt.size() < size_t(n)) FScratch.Pnt.resize(size_t(n));
  if (swapdirection)
    std::reverse_copy(SegList.Pnt.begin(), SegList.Pnt.begin() + n, FScratch.Pnt.begin());
  else
    std::copy(SegList.Pnt.begin(), SegList.Pnt.begin() + n, FScratch.Pnt.begin());
  FScratch.Count = n;
  AddSection(Index, FScratch);
}

void TGISWriter::AddSection2(int32_t Index, double X1, double Y1, double X2, double Y2) {
  if (FLine.Pnt.size() < 2) FLine.Pnt.resize(2);
  FLine.Pnt[0] = TFloatPoint{X1, Y1};
  FLine.Pnt[1] = TFloatPoint{X2, Y2};
  FLine.Count = 2;
  AddSection(Index, FLine);
}

void TGISWriter::AddSection3(int32_t Index, const TFloatPoint& P1, const TFloatPoint& P2) {
  AddSection2(Index, P1.x, P1.y, P2.x, P2.y);
}

void TGISWriter::StartObject(int32_t NumParts, const std::string& /*Attrib*/) {
  FNumParts = NumParts;
  FWrittenParts = 0;
}

void TGISWriter::WriteSection(int32_t /*Index*/, TFloatPointArrayEx& /*SegList*/) { ++FWrittenParts; }

void TGISWriter::Close() {
  FFieldInfo.clear();
  // An object still awaiting parts is taken out of the output again (a
  // deferred one never reached the format writer); the derived Close
  // reports it once its files are complete.
  if (FPendingParts > 0 && !FDropParts && Fopen) {
    FUnfinished = Format("Record %d is not in the output: %d of its %d parts were not written", FObjectRecord,
                         FPendingParts, FDeclaredParts);
    if (!FDeferred) {
      AbandonObject();
      FXMinG = FObjectBounds[0];
      FYMinG = FObjectBounds[1];
      FXMaxG = FObjectBounds[2];
      FYMaxG = FObjectBounds[3];
    }
  }
  FPendingParts = 0;
  FDropParts = false;
  FObjectBroken = false;
  if (FDeferred || FFreeIndex > 0) ReleasePool();
}

void TGISWriter::AbandonObject() {}

void TGISWriter::RaiseUnfinished() {
  if (FUnfinished.empty()) return;
  const std::string message = std::move(FUnfinished);
  FUnfinished.clear();
  // Dropping discards the output anyway: nothing to report.
  if (!FDropping) throw Exception(message);
}

void TGISWriter::Drop() {
  FDropping = true;
  try {
    Close();
  } catch (...) {
    FDropping = false;
    DropCreatedFiles();
    throw;
  }
  FDropping = false;
  DropCreatedFiles();
}

void TGISWriter::AddCreatedFile(const std::string& Name) {
  if (std::find(FCreatedFiles.begin(), FCreatedFiles.end(), Name) == FCreatedFiles.end())
    FCreatedFiles.push_back(Name);
}

void TGISWriter::DropCreatedFiles() {
  for (const std::string& name : FCreatedFiles) RemoveFileQuietly(name);
  FCreatedFiles.clear();
}

bool TGISWriter::AcceptsCodepage(uint16_t Value) const {
  return !IsUTF8CodePage(Value) && !IsUTF16CodePage(Value);
}

void TGISWriter::SetCodepage(uint16_t Value) {
  if (!AcceptsCodepage(Value)) return;
  const uint16_t cp = ResolveCodePage(Value);
  if (!IsUTF8CodePage(cp) && !IsUTF16CodePage(cp)) {
    // Built before anything changes: an unsupported page raises here and the
    // writer keeps its old page and encoding.
    auto encoding = std::make_unique<TWriterEncoding>(cp);
    FEncoding = std::move(encoding);
  }
  FCodepage = cp;
}

bool TGISWriter::FileIsFull() {
  if (NextFileCheck == -1) NextFileCheck = 10000;
  return fFileIsFull;
}

void TGISWriter::SetOptimizePLinesSections(bool Value) {
  if (Value != FOptimizePLinesSections && FPendingParts > 0)
    throw Exception("Can not change the OptimizePLinesSections property during processing sections.");
  FOptimizePLinesSections = Value;
}

void TGISWriter::SplitAttributes(const std::string& Attrib) {
  SplitCommaText(Attrib, FSL);
  if (int64_t(FSL.size()) != FNumFields)
    throw Exception(Format(
        "Number of values must match number of fields. NumVal = %d, NumFields = %d, string = \"%s\"",
        FSL.size(), FNumFields, Attrib));
}

TGISField TGISWriter::SL2GISField(const std::vector<std::string>& SL, int32_t& width) const {
  int64_t w = 1;
  for (const std::string& v : SL) {
    int64_t n;
    if (IsUTF8CodePage(FCodepage))
      n = int64_t(v.size());
    else if (IsUTF16CodePage(FCodepage) || FEncoding->SingleByte())
      n = int64_t(Utf16Length(v));  // characters, as a single-byte page stores them
    else
      n = FEncoding->ByteCount(v);  // multi-byte pages: what DBF and TAB store
    w = std::max(w, n);
  }
  width = int32_t(std::min<int64_t>(w, MaxInt));
  for (const std::string& v : SL) {
    std::string_view t = TrimView(v);
    int64_t n;
    // '-'? digits only: "+5" stays text, as "007" does.
    if (t.empty() || t[0] == '0' || t[0] == '+' || !TryDecimalInt(t, INT32_MIN, INT32_MAX, n)) return gfChar;
  }
  return gfInteger;
}

void TGISWriter::ExtendBounds(double x, double y) {
  if (x < FXMinG) FXMinG = x;
  if (y < FYMinG) FYMinG = y;
  if (x > FXMaxG) FXMaxG = x;
  if (y > FYMaxG) FYMaxG = y;
}

void TGISWriter::SetBoundsOffset(int32_t Index, int64_t Offset) {
  if (Index < 0 || Index > 3) throw EInvalidParameter(Format("Bounds index must be 0..3: %d", Index));
  FBoundsOffset[size_t(Index)] = Offset;
}

void TGISWriter::PatchBounds(const std::string& extension, const std::string& tag1, const std::string& tag2,
                             const std::string& tag3, const std::string& tag4, bool PlainDecimals) {
  const std::string name = FileName + extension;
  const std::string* tags[4] = {&tag1, &tag2, &tag3, &tag4};
  // Texts first: a bound that cannot be written stops before the file is touched.
  const std::string texts[4] = {PatchBoundText(FXMinG, PlainDecimals), PatchBoundText(FYMinG, PlainDecimals),
                                PatchBoundText(FXMaxG, PlainDecimals), PatchBoundText(FYMaxG, PlainDecimals)};
  TKvFileStream f(name, fmOpenReadWrite);
  std::string have;
  for (int i = 0; i < 4; ++i) {
    const std::string expected = *tags[i] + std::string(cBoundsPlaceholder);
    const int64_t at = FBoundsOffset[size_t(i)];
    bool found = at >= 0 && f.Seek(at, soBeginning) == at;
    if (found) {
      have.assign(expected.size(), '\0');
      int32_t got = 0;
      while (got < int32_t(have.size())) {
        const int32_t r = f.Read(have.data() + got, int32_t(have.size()) - got);
        if (r <= 0) break;
        got += r;
      }
      found = got == int32_t(have.size()) && have == expected;
    }
    if (!found)
      throw Exception(Format("Bounds placeholder %d (%s) not found at byte %d of \"%s\"", i + 1, *tags[i],
                             at, name));
  }
  for (int i = 0; i < 4; ++i) {
    f.Seek(FBoundsOffset[size_t(i)] + int64_t(tags[i]->size()), soBeginning);
    f.WriteBuffer(texts[i].data(), int32_t(texts[i].size()));
  }
  f.Close();
}

}  // namespace kovra
