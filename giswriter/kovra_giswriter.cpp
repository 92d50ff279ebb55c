#include "giswriter/kovra_giswriter.h"

#include <time.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <exception>
#include <filesystem>
#include <system_error>

#include "foundation/kovra_charset.h"
#include "foundation/kovra_csvfiles.h"
#include "foundation/kovra_functions.h"
#include "foundation/kovra_geometry.h"
#include "foundation/kovra_io.h"
#include "foundation/kovra_textfilewriter.h"
#include "platform/kovra_codepage.h"

namespace kovra {

namespace {

constexpr double cPi = 3.141592653589793;
// Below these, the course of a segment is undefined (pole start, antipodal
// ends): such segments get no intermediate points.
constexpr double cDegenerate = 1e-12;

constexpr uint32_t cCenterColors[15] = {0xFF0000, 0x00FF00, 0xFFFF00, 0x80FFFF, 0xFF8000,
                                        0x994D4D, 0x408080, 0x0000FF, 0x808080, 0xC0C0C0,
                                        0xFF0080, 0x808000, 0xFF80C0, 0x008080, 0x8080FF};
constexpr uint32_t cBandColors[4] = {0x0000FF, 0x50A8FF, 0x00FFFF, 0xFF00FF};

// '-'? decimal digits, within Int32. No '+', no hexadecimal, no blanks.
bool IsInt32Text(std::string_view s) {
  size_t i = (!s.empty() && s[0] == '-') ? 1 : 0;
  if (i == s.size()) return false;
  for (size_t j = i; j < s.size(); ++j)
    if (s[j] < '0' || s[j] > '9') return false;
  int32_t v;
  auto r = std::from_chars(s.data(), s.data() + s.size(), v, 10);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
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

// Scientific text with Decimals mantissa decimals in the library's form: "1.5E-7", "2E300".
std::string ScientificText(double v, int Decimals) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, Decimals);
  std::string_view t(buf, size_t(r.ptr - buf));
  size_t e = t.find('e');
  std::string out(t.substr(0, e));
  out += 'E';
  std::string_view ex = t.substr(e + 1);
  if (!ex.empty() && ex[0] == '-') {
    out += '-';
    ex.remove_prefix(1);
  } else if (!ex.empty() && ex[0] == '+') {
    ex.remove_prefix(1);
  }
  while (ex.size() > 1 && ex[0] == '0') ex.remove_prefix(1);
  out += ex;
  return out;
}

void PadTo16(std::string& s, size_t at) {
  if (s.size() >= 16) return;
  std::string pad;
  if (s.find('.') == std::string::npos) pad = ".";
  pad.append(16 - std::min<size_t>(16, s.size() + pad.size()), '0');
  s.insert(at, pad);
}

// Points to insert on segment A-B for step StepKm, as a double (it may be
// astronomically large); 0 for degenerate segments.
double SegmentInsertCount(const TFloatPoint& A, const TFloatPoint& B, double StepKm) {
  double angle = GreatCircleAngleDeg(A, B);
  double k = std::trunc(angle * cEarthRadiusKm / StepKm);
  if (!(k >= 1)) return 0;
  if (std::fabs(std::cos(A.y * cDegToRad)) < cDegenerate || std::fabs(std::sin(angle)) < cDegenerate) return 0;
  return k;
}

}  // namespace

// ---------------------------------------------------------------------------
// Free helpers

uint32_t GetCenterColor(int32_t Index) { return cCenterColors[Index % 15]; }
uint32_t GetBandColor(int32_t Index) { return cBandColors[Index % 4]; }

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

std::string PatchBoundText(double Value) {
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
    if (CountSignificantDigits(t) >= 9) return t;
    break;
  }
  // E-notation with the mantissa rounded to what fits.
  for (int d = 14; d >= 0; --d) {
    std::string t = ScientificText(Value, d);
    if (t.size() > 16) continue;
    PadTo16(t, t.find('E'));
    return t;
  }
  RaiseInvalidOp();  // unreachable for finite values
}

void DensifyGreatCircle(TFloatPointArrayEx& SegList, double StepKm) {
  if (!(StepKm > 0)) return;
  const int32_t n = SegList.Count;
  if (n < 2) return;
  if (size_t(n) > SegList.Pnt.size())
    throw EInvalidParameter(Format("Part has %d points but room for only %d", n, SegList.Pnt.size()));
  TFloatPoint* p = SegList.Pnt.data();
  double total = 0;
  for (int32_t i = 0; i + 1 < n; ++i) total += SegmentInsertCount(p[i], p[i + 1], StepKm);
  if (total == 0) return;
  if (double(n) + total > double(MaxInt))
    throw EInvalidParameter(
        Format("GreatCircleDist of %g km gives more than %d points in one part", StepKm, MaxInt));

  const int32_t newCount = n + int32_t(total);
  if (SegList.Pnt.size() < size_t(newCount)) SegList.Pnt.resize(size_t(newCount));
  p = SegList.Pnt.data();
  // From the last segment back, so every original point is read before its
  // slot is overwritten.
  int32_t dst = newCount - 1;
  TFloatPoint b = p[n - 1];
  p[dst] = b;
  for (int32_t i = n - 2; i >= 0; --i) {
    const TFloatPoint a = p[i];
    const int32_t k = int32_t(SegmentInsertCount(a, b, StepKm));
    if (k > 0) {
      const double lat1 = a.y * cDegToRad, lon1 = a.x * cDegToRad;
      const double lat2 = b.y * cDegToRad, lon2 = b.x * cDegToRad;
      const double d = GreatCircleAngleDeg(a, b);
      const double sinLat1 = std::sin(lat1), cosLat1 = std::cos(lat1);
      const double sinLat2 = std::sin(lat2), cosLat2 = std::cos(lat2);
      // Course counted towards the west, as sine and cosine: the components
      // of the initial direction normalised, which stay accurate where the
      // arc-cosine form loses digits (courses near north or south).
      const double dl = lon2 - lon1;
      const double ys = -std::sin(dl) * cosLat2;
      const double xc = cosLat1 * sinLat2 - sinLat1 * cosLat2 * std::cos(dl);
      const double r = std::hypot(ys, xc);
      const double sinTc = ys / r, cosTc = xc / r;
      for (int32_t j = k; j >= 1; --j) {
        const double f = d * j / (k + 1);
        const double sinF = std::sin(f), cosF = std::cos(f);
        const double lat = std::asin(std::clamp(sinLat1 * cosF + cosLat1 * sinF * cosTc, -1.0, 1.0));
        const double dlon = std::atan2(sinTc * sinF * cosLat1, cosF - sinLat1 * std::sin(lat));
        double lon = lon1 - dlon + cPi;
        lon -= cTwoPi * std::floor(lon / cTwoPi);
        if (lon >= cTwoPi) lon -= cTwoPi;
        lon -= cPi;
        p[dst - (k + 1) + j] = TFloatPoint{lon * cRadToDeg, lat * cRadToDeg};
      }
    }
    dst -= k + 1;
    p[dst] = a;
    b = a;
  }
  SegList.Count = newCount;
}

// ---------------------------------------------------------------------------
// TWriterEncoding

TWriterEncoding::TWriterEncoding(uint16_t CodePage) : FCodePage(ResolveCodePage(CodePage)), FSingleByte(false) {
  CheckCodePage(FCodePage);
  FSingleByte = !IsUTF8CodePage(FCodePage) && !IsUTF16CodePage(FCodePage) && IsSingleByteCodePage(FCodePage);
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
  if (NumParts > 0 && FObjectTypes == otPoint) throw Exception("Parts are not allowed in a point table");
  FmultiPolygon = multiPolygon;
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
  if (FDropParts) {
    if (--FPendingParts == 0) FDropParts = false;
    return;
  }
  // The common case, a polyline part of two or more points, needs no further test.
  if (!(FObjectTypes == otPline && SegList.Count >= 2 && size_t(SegList.Count) <= SegList.Pnt.size()))
    CheckPart(SegList);
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
  WriteSection(Index, *part);
  --FPendingParts;
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

void TGISWriter::StartOptimizedObject(int32_t NumParts, const std::string& Attrib) {
  // A pool still holding parts of an abandoned object must not join into this one.
  if (FFreeIndex > 0) ReleasePool();
  FNumParts = NumParts;
  FOptimizedParts = NumParts;
  FAttrib = Attrib;
  FWrittenParts = 0;
}

void TGISWriter::JoinSection(TFloatPointArrayEx& SegList) {
  const int32_t n = SegList.Count;
  bool continues = false;
  if (FFreeIndex > 0 && n > 0) {
    const TFloatPointArrayEx& prev = FSegments[size_t(FFreeIndex) - 1];
    continues = prev.Count > 0 && prev.Pnt[size_t(prev.Count) - 1] == SegList.Pnt[0];
  }
  if (FFreeItems == 0 && (FFreeIndex == -1 || !continues)) {
    FFreeIndex = int32_t(FSegments.size());
    FSegments.resize(std::max(FSegments.size(), size_t(FNumParts)));
    FFreeItems = int32_t(FSegments.size()) - FFreeIndex;
  }
  ++FWrittenParts;
  if (continues) {
    TFloatPointArrayEx& seg = FSegments[size_t(FFreeIndex) - 1];
    const size_t need = size_t(seg.Count) + size_t(n) - 1;
    // Geometric growth: a long chain of short parts appends in amortised constant time.
    if (seg.Pnt.size() < need) seg.Pnt.resize(std::max(need, seg.Pnt.size() * 2));
    std::copy(SegList.Pnt.begin() + 1, SegList.Pnt.begin() + n, seg.Pnt.begin() + seg.Count);
    seg.Count = int32_t(need);
    --FOptimizedParts;
  } else {
    TFloatPointArrayEx& seg = FSegments[size_t(FFreeIndex)];
    if (seg.Pnt.size() < size_t(n)) seg.Pnt.resize(size_t(n));
    std::copy(SegList.Pnt.begin(), SegList.Pnt.begin() + n, seg.Pnt.begin());
    seg.Count = n;
    --FFreeItems;
    ++FFreeIndex;
  }
}

void TGISWriter::FlushOptimizedObject() {
  try {
    // Densify every kept part first: a refused step then leaves the format
    // writer without any piece of the record.
    if (GreatCircleDist > 0)
      for (int32_t i = 0; i < FOptimizedParts; ++i) DensifyGreatCircle(FSegments[size_t(i)], GreatCircleDist);
    FDeferred = false;
    StartObject(FOptimizedParts, FAttrib);
    for (int32_t i = 0; i < FOptimizedParts; ++i) {
      FPartIndex = i;
      WriteSection(0, FSegments[size_t(i)]);
    }
  } catch (...) {
    ReleasePool();
    throw;
  }
  ReleasePool();
}

void TGISWriter::ReleasePool() {
  FFreeItems = int32_t(FSegments.size());
  FFreeIndex = 0;
  FDeferred = false;
}

void TGISWriter::StartObject(int32_t NumParts, const std::string& /*Attrib*/) {
  FNumParts = NumParts;
  FWrittenParts = 0;
}

void TGISWriter::WriteSection(int32_t /*Index*/, TFloatPointArrayEx& /*SegList*/) { ++FWrittenParts; }

void TGISWriter::Close() {
  FFieldInfo.clear();
  // An object still awaiting parts is abandoned; a deferred one never
  // reached the format writer.
  FPendingParts = 0;
  FDropParts = false;
  if (FDeferred || FFreeIndex > 0) ReleasePool();
}

void TGISWriter::Drop() { Close(); }

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
    if (t.empty() || t[0] == '0' || !IsInt32Text(t)) return gfChar;
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
                             const std::string& tag3, const std::string& tag4) {
  const std::string name = FileName + extension;
  const std::string* tags[4] = {&tag1, &tag2, &tag3, &tag4};
  // Texts first: a bound that cannot be written stops before the file is touched.
  const std::string texts[4] = {PatchBoundText(FXMinG), PatchBoundText(FYMinG), PatchBoundText(FXMaxG),
                                PatchBoundText(FYMaxG)};
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


namespace kovra {

namespace {

// "'x' is not a valid integer value": the platform's message for a text
// that StrToInt rejects.
[[noreturn]] void RaiseNotInteger(std::string_view S) {
  throw EConvertError(Format("'%s' is not a valid integer value", S));
}

// Optional sign and decimal digits, nothing else, within the range of T.
template <typename T>
T StrToIntStrict(std::string_view S) {
  std::string_view t = S;
  if (!t.empty() && t[0] == '+') t.remove_prefix(1);
  if (t.empty() || t[0] == '+') RaiseNotInteger(S);
  size_t digits = (t[0] == '-') ? 1 : 0;
  if (digits == t.size()) RaiseNotInteger(S);
  for (size_t i = digits; i < t.size(); ++i)
    if (t[i] < '0' || t[i] > '9') RaiseNotInteger(S);
  T v{};
  auto r = std::from_chars(t.data(), t.data() + t.size(), v, 10);
  if (r.ec != std::errc() || r.ptr != t.data() + t.size()) RaiseNotInteger(S);
  return v;
}

// The leading number of S with '.' as decimal separator and an optional
// exponent; trailing characters are ignored. An empty or non-numeric text,
// infinity and NaN texts, and numbers beyond the double range give 0.
double LeadingNumber(std::string_view S) {
  std::string_view t = S;
  if (!t.empty() && t[0] == '+') {
    t.remove_prefix(1);
    if (!t.empty() && t[0] == '-') return 0;
  }
  double v = 0;
  auto r = std::from_chars(t.data(), t.data() + t.size(), v, std::chars_format::general);
  if (r.ec != std::errc() || !std::isfinite(v)) return 0;
  return v;
}

// Digits of S[Pos-1 .. Pos-1+Len-1] as a number; -1 when any is not a digit.
int32_t DigitsAt(std::string_view S, size_t Pos, size_t Len) {
  int32_t v = 0;
  for (size_t i = Pos - 1; i < Pos - 1 + Len; ++i) {
    if (S[i] < '0' || S[i] > '9') return -1;
    v = v * 10 + (S[i] - '0');
  }
  return v;
}

constexpr int32_t cDaysInMonth[2][12] = {{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
                                         {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};

bool IsLeapYear(int32_t Year) { return Year % 4 == 0 && (Year % 100 != 0 || Year % 400 == 0); }

// Colour 0x00BBGGRR as MIF's R * 65536 + G * 256 + B: red and blue bytes exchanged.
uint32_t MIFColor(uint32_t c) { return (c & 0xFF00FF00u) | ((c & 0xFFu) << 16) | ((c >> 16) & 0xFFu); }

// A record before the files exist (before the last AddField, or after a
// failed creation or Close) is a caller error; it must not crash.
[[noreturn]] void RaiseNoOutput(const std::string& Name) {
  throw EWriteError(Format("No output file is open for \"%s\"", Name));
}

void RemoveFileQuietly(const std::string& Name) {
  std::error_code ec;
  std::filesystem::remove(Name, ec);
}

}  // namespace

// ---------------------------------------------------------------------------
// Date-time numbers

bool TryEncodeDate(int32_t Year, int32_t Month, int32_t Day, TDateTime& Date) {
  if (Year < 1 || Year > 9999 || Month < 1 || Month > 12 || Day < 1) return false;
  const int32_t* days = cDaysInMonth[IsLeapYear(Year) ? 1 : 0];
  if (Day > days[Month - 1]) return false;
  int32_t d = Day;
  for (int32_t m = 1; m < Month; ++m) d += days[m - 1];
  const int32_t y = Year - 1;
  // 693594 = days from 0001-01-01 (day 1) to 1899-12-30.
  Date.Value = double(y * 365 + y / 4 - y / 100 + y / 400 + d - 693594);
  return true;
}

bool TryEncodeTime(int32_t Hour, int32_t Min, int32_t Sec, int32_t MSec, TDateTime& Time) {
  if (Hour < 0 || Hour >= 24 || Min < 0 || Min >= 60 || Sec < 0 || Sec >= 60 || MSec < 0 || MSec >= 1000)
    return false;
  Time.Value = double(((Hour * 60 + Min) * 60 + Sec) * 1000 + MSec) / 86400000.0;
  return true;
}

TDateTime EncodeDate(int32_t Year, int32_t Month, int32_t Day) {
  TDateTime d;
  if (!TryEncodeDate(Year, Month, Day, d)) throw EConvertError("Invalid argument to date encode");
  return d;
}

TDateTime EncodeTime(int32_t Hour, int32_t Min, int32_t Sec, int32_t MSec) {
  TDateTime t;
  if (!TryEncodeTime(Hour, Min, Sec, MSec, t)) throw EConvertError("Invalid argument to time encode");
  return t;
}

TDateTime ComposeDateTime(TDateTime Date, TDateTime Time) {
  return TDateTime{Date.Value < 0 ? Date.Value - Time.Value : Date.Value + Time.Value};
}

// ---------------------------------------------------------------------------
// TGISArray

void TGISArray::Clear() {
  Rec.clear();
  Rec.shrink_to_fit();
  Field.clear();
  RecCount = 0;
}

// ---------------------------------------------------------------------------
// TGISWriterArray

TGISWriterArray::TGISWriterArray() : FOwnArray(std::make_unique<TGISArray>()) { GISarray = FOwnArray.get(); }

TGISWriterArray::~TGISWriterArray() = default;

void TGISWriterArray::StartHeader(int32_t NumFields, TObjectTypes ObjectTypes) {
  if (GISarray == nullptr) throw EInvalidParameter("GISarray is not assigned");
  TGISWriter::StartHeader(NumFields, ObjectTypes);
  GISarray->Clear();
  GISarray->Field.resize(size_t(NumFields));
  GISarray->OT = ObjectTypes;
  GISarray->MBR = TFloatRect{double(cInfinity), double(cInfinity), -double(cInfinity), -double(cInfinity)};
  GISarray->RecCount = 0;
  Fpartsindex = -1;
}

void TGISWriterArray::AddField(const std::string& FieldName, TGISField Field, uint8_t Width, uint8_t decimals) {
  TGISWriter::AddField(FieldName, Field, Width, decimals);
  GISarray->Field[size_t(FWrittenFields) - 1] = TFieldInfo{Field, Width, decimals, FieldName};
}

void TGISWriterArray::ConvertValues(const std::string& Attrib) {
  SplitAttributes(Attrib);
  FValues.resize(size_t(FNumFields));
  for (int32_t i = 0; i < FNumFields; ++i) {
    std::string& s = FSL[size_t(i)];
    TGISValue& v = FValues[size_t(i)];
    switch (GISarray->Field[size_t(i)].FieldType) {
      case gfInteger:
      case gfSmallInt:
        v = StrToIntStrict<int32_t>(s);
        break;
      case gfInt64:
        v = StrToIntStrict<int64_t>(s);
        break;
      case gfDecimal:
      case gfFloat:
        v = LeadingNumber(s);
        break;
      case gfLogical:
        v = IsTrueText(s);
        break;
      case gfDate: {
        TDateTime d;
        if (s.size() != 8) {
          v = std::monostate{};
        } else if (TryEncodeDate(DigitsAt(s, 1, 4), DigitsAt(s, 5, 2), DigitsAt(s, 7, 2), d)) {
          v = d;
        } else {
          throw EConvertError(Format("'%s' is not a valid date", s));
        }
        break;
      }
      case gfTime: {
        TDateTime t;
        if (s.size() != 9) {
          v = std::monostate{};
        } else if (TryEncodeTime(DigitsAt(s, 1, 2), DigitsAt(s, 3, 2), DigitsAt(s, 5, 2), DigitsAt(s, 7, 3), t)) {
          v = t;
        } else {
          throw EConvertError(Format("'%s' is not a valid time", s));
        }
        break;
      }
      case gfDateTime: {
        TDateTime d, t;
        if (s.size() != 17) {
          v = std::monostate{};
        } else if (TryEncodeDate(DigitsAt(s, 1, 4), DigitsAt(s, 5, 2), DigitsAt(s, 7, 2), d) &&
                   TryEncodeTime(DigitsAt(s, 9, 2), DigitsAt(s, 11, 2), DigitsAt(s, 13, 2), DigitsAt(s, 15, 3),
                                 t)) {
          v = ComposeDateTime(d, t);
        } else {
          throw EConvertError(Format("'%s' is not a valid date and time", s));
        }
        break;
      }
      default:  // gfChar, and column types without a number form
        v = std::move(s);
        break;
    }
  }
}

TRec& TGISWriterArray::NewRow(int32_t NumParts) {
  TGISArray& a = *GISarray;
  const int32_t newCount = a.RecCount + 1;
  // Grown by hand: the length of Rec is visible to readers.
  const int64_t h = int64_t(a.Rec.size()) - 1;
  if (h <= newCount) {
    const int64_t e = std::max<int64_t>(Round(0.3 * double(h)), 50);
    // The length follows the rule; the capacity may run ahead of it, so that
    // a large table is not moved at every 30 % step.
    a.Rec.resize(size_t(h + e));
  }
  TRec& r = a.Rec[size_t(newCount) - 1];
  r.Attr.swap(FValues);
  FValues.clear();
  r.Coord.clear();
  r.Coord.resize(size_t(NumParts));
  a.RecCount = newCount;
  ++FWrittenRecords;
  return r;
}

void TGISWriterArray::ExtendMBR(const TFloatPoint& P) {
  TFloatRect& m = GISarray->MBR;
  if (P.x < m.xmin) m.xmin = P.x;
  if (P.y < m.ymin) m.ymin = P.y;
  if (P.x > m.xmax) m.xmax = P.x;
  if (P.y > m.ymax) m.ymax = P.y;
}

void TGISWriterArray::AddPoint(double X, double Y, const std::string& Attrib) {
  if (GISarray->OT != otPoint) return;
  ConvertValues(Attrib);
  TRec& r = NewRow(1);
  r.Coord[0].assign(1, TFloatPoint{X, Y});
  ExtendMBR(TFloatPoint{X, Y});
}

void TGISWriterArray::StartObject(int32_t NumParts, const std::string& Attrib) {
  ConvertValues(Attrib);
  TGISWriter::StartObject(NumParts, Attrib);
  NewRow(std::max(NumParts, 0));
  Fpartsindex = -1;
}

void TGISWriterArray::WriteSection(int32_t Index, TFloatPointArrayEx& SegList) {
  TGISWriter::WriteSection(Index, SegList);
  ++Fpartsindex;
  TRec& r = GISarray->Rec[size_t(GISarray->RecCount) - 1];
  const size_t n = size_t(std::max(SegList.Count, 0));
  TFloatPointArray& part = r.Coord[size_t(Fpartsindex)];
  part.assign(SegList.Pnt.begin(), SegList.Pnt.begin() + ptrdiff_t(n));
  for (const TFloatPoint& p : part) ExtendMBR(p);
}

void TGISWriterArray::Close() { TGISWriter::Close(); }

void TGISWriterArray::Drop() {
  Close();
  if (GISarray != nullptr) GISarray->Clear();
}

// ---------------------------------------------------------------------------
// TGISWriterMIF

TGISWriterMIF::TGISWriterMIF() = default;
TGISWriterMIF::~TGISWriterMIF() = default;

void TGISWriterMIF::AddField(const std::string& FieldName, TGISField Field, uint8_t Width, uint8_t decimals) {
  // 255 is no valid MIF width, and Char(0) is no valid column: both become 254.
  if (Width == 255 || (Width == 0 && Field == gfChar)) Width = 254;
  TGISWriter::AddField(FieldName, Field, Width, decimals);
  std::string line = "  " + FieldName;
  switch (Field) {
    case gfChar:
      line += " Char(" + IntToStr(Width) + ")";
      break;
    case gfInteger:
      line += " Integer";
      break;
    case gfSmallInt:
      line += " Smallint";
      break;
    case gfDecimal:
      line += " Decimal(" + IntToStr(Width) + "," + IntToStr(decimals) + ")";
      break;
    case gfFloat:
      line += " Float";
      break;
    case gfDate:
      line += " Date";
      break;
    case gfLogical:
      line += " Logical";
      break;
    case gfTime:
      line += " Time";
      fVersion = 900;
      break;
    case gfDateTime:
      line += " DateTime";
      fVersion = 900;
      break;
    case gfInt64:
      line += " LargeInt";
      fVersion = 900;
      break;
    default:
      throw EInvalidFieldType(Format("Field type %d has no MIF column type", int(Field)));
  }
  fields.push_back(std::move(line));
  if (FWrittenFields != FNumFields) return;

  if (FCodepage == 65001 || FCodepage == 1200) fVersion = 1520;
  CreateFiles();
  TTextFileWriter& f = *FOutMIF;
  f.writeln("Version " + IntToStr(fVersion));
  const std::string charset = CharSetList().CodePage2Charset(FCodepage);
  if (!charset.empty()) f.writeln("CharSet \"" + charset + "\"");
  f.writeln("Delimiter \",\"");
  if (!CoordSys.empty() && FObjectTypes != otNone) f.writeln(CoordSys);
  f.writeln("Columns " + IntToStr(FNumFields));
  for (const std::string& c : fields) f.writeln(c);
  f.writeln("Data");
}

void TGISWriterMIF::CreateFiles() {
  const bool bom = FCodepage == 65001;
  FOutMIF = std::make_unique<TTextFileWriter>(FileName + ".mif", FCodepage, bom);
  try {
    FOutMID = std::make_unique<TTextFileWriter>(FileName + ".mid", FCodepage, bom);
  } catch (...) {
    // No half pair: the .mif made a moment ago goes again.
    FOutMIF.reset();
    RemoveFileQuietly(FileName + ".mif");
    throw;
  }
  FCreated = true;
}

namespace {
// FloatToStrDot appended to Out; the common case without an exponent goes
// straight from to_chars (the same call FloatToStrDot makes) without a
// temporary string.
void AppendFloatDot(std::string& Out, double V) {
  if (V != 0 && std::isfinite(V)) {
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, V, std::chars_format::general, 15);
    if (r.ec == std::errc() && std::memchr(buf, 'e', size_t(r.ptr - buf)) == nullptr) {
      Out.append(buf, r.ptr);
      return;
    }
  }
  Out += FloatToStrDot(V);
}
}  // namespace

void TGISWriterMIF::AppendPoint(double X, double Y) {
  AppendFloatDot(FText, X);
  FText += ' ';
  AppendFloatDot(FText, Y);
}

void TGISWriterMIF::WritePenClause() {
  if (Pen == DefaultPen) return;
  FOutMIF->writeln("    Pen(" + IntToStr(Pen.Width) + "," + IntToStr(Pen.pattern) + "," +
                   IntToStr(MIFColor(Pen.Color)) + ")");
}

void TGISWriterMIF::AddPoint(double X, double Y, const std::string& Attrib) {
  if (FObjectTypes != otPoint) return;
  if (!FOutMID) RaiseNoOutput(FileName + ".mif");
  FText = "Point ";
  AppendPoint(X, Y);
  FOutMIF->writeln(FText);
  if (!CompactMIF && Symbol != DefaultSymbol)
    FOutMIF->writeln("    Symbol(" + IntToStr(Symbol.Shape) + "," + IntToStr(MIFColor(Symbol.Color)) + "," +
                     IntToStr(Symbol.Size) + ")");
  FOutMID->writeln(Attrib);
  ++FWrittenRecords;
}

void TGISWriterMIF::AddLine(double X1, double Y1, double X2, double Y2, const std::string& Attrib) {
  if (FObjectTypes != otPline) return;
  if (!FOutMID) RaiseNoOutput(FileName + ".mif");
  FText = "Line ";
  AppendPoint(X1, Y1);
  FText += ' ';
  AppendPoint(X2, Y2);
  FOutMIF->writeln(FText);
  if (!CompactMIF) WritePenClause();
  FOutMID->writeln(Attrib);
  ++FWrittenRecords;
}

void TGISWriterMIF::AddLine2(const TFloatPoint& P1, const TFloatPoint& P2, const std::string& Attrib) {
  AddLine(P1.x, P1.y, P2.x, P2.y, Attrib);
}

void TGISWriterMIF::StartObject(int32_t NumParts, const std::string& Attrib) {
  if (!FOutMID) RaiseNoOutput(FileName + ".mif");
  TGISWriter::StartObject(NumParts, Attrib);
  if (NumParts <= 0 || FObjectTypes == otNone) FOutMIF->writeln("None");
  FOutMID->writeln(Attrib);
  ++FWrittenRecords;
}

void TGISWriterMIF::WriteSection(int32_t Index, TFloatPointArrayEx& SegList) {
  TGISWriter::WriteSection(Index, SegList);
  TTextFileWriter& f = *FOutMIF;
  const int32_t n = SegList.Count;
  const TFloatPoint* p = SegList.Pnt.data();
  if (FWrittenParts == 1) {
    if (FObjectTypes == otPline && FNumParts == 1 && n == 2) {
      FText = "Line ";
      AppendPoint(p[0].x, p[0].y);
      FText += ' ';
      AppendPoint(p[1].x, p[1].y);
      f.writeln(FText);
      if (!CompactMIF) WritePenClause();
      return;
    }
    if (FObjectTypes == otRegion)
      f.writeln("Region " + IntToStr(FNumParts));
    else if (FNumParts >= 2)
      f.writeln("Pline multiple " + IntToStr(FNumParts));
    else
      f.write("Pline ");  // the point count completes the line: "Pline 5"
  }
  // The count line and the point lines go out as one piece.
  FText = IntToStr(n);
  FText += "\r\n";
  for (int32_t i = 0; i < n; ++i) {
    AppendPoint(p[i].x, p[i].y);
    FText += "\r\n";
  }
  f.write(FText);
  if (FWrittenParts == FNumParts && !CompactMIF) {
    if (FObjectTypes == otRegion && Brush != DefaultBrush)
      f.writeln("    Brush(" + IntToStr(Brush.pattern) + "," + IntToStr(MIFColor(Brush.fg_color)) + "," +
                IntToStr(MIFColor(Brush.bg_color)) + ")");
    WritePenClause();
  }
}

void TGISWriterMIF::Close() {
  TGISWriter::Close();
  if (!Fopen) return;
  Fopen = false;
  // Both are released even when the first one fails.
  auto mif = std::move(FOutMIF);
  auto mid = std::move(FOutMID);
  if (mif) mif->Close();
  if (mid) mid->Close();
}

void TGISWriterMIF::Drop() {
  try {
    Close();
  } catch (...) {
    if (FCreated) {
      RemoveFileQuietly(FileName + ".mif");
      RemoveFileQuietly(FileName + ".mid");
    }
    throw;
  }
  if (FCreated) {
    RemoveFileQuietly(FileName + ".mif");
    RemoveFileQuietly(FileName + ".mid");
  }
}

// ---------------------------------------------------------------------------
// TGISWriterMIF8

TGISWriterMIF8::TGISWriterMIF8() { FCodepage = 65001; }

bool TGISWriterMIF8::AcceptsCodepage(uint16_t /*Value*/) const { return false; }

// ---------------------------------------------------------------------------
// TGISWriterCSV

TGISWriterCSV::TGISWriterCSV() = default;
TGISWriterCSV::~TGISWriterCSV() = default;

void TGISWriterCSV::StartHeader(int32_t NumFields, TObjectTypes ObjectTypes) {
  TGISWriter::StartHeader(NumFields, ObjectTypes);
  FOutCSV = std::make_unique<TTextFileWriter>(FileName + ".csv", FCodepage, false);
  FCreated = true;
}

void TGISWriterCSV::AddField(const std::string& FieldName, TGISField Field, uint8_t Width, uint8_t decimals) {
  TGISWriter::AddField(FieldName, Field, Width, decimals);
  if (!FOutCSV) RaiseNoOutput(FileName + ".csv");
  FOutCSV->write("\"" + FieldName + "\"");
  if (FWrittenFields < FNumFields)
    FOutCSV->write(",");
  else
    FOutCSV->writeln("");
}

void TGISWriterCSV::WriteRow(const std::string& Attrib) {
  if (!FOutCSV) RaiseNoOutput(FileName + ".csv");
  FOutCSV->writeln(Attrib);
  ++FWrittenRecords;
}

void TGISWriterCSV::AddPoint(double /*X*/, double /*Y*/, const std::string& Attrib) { WriteRow(Attrib); }

void TGISWriterCSV::AddLine(double /*X1*/, double /*Y1*/, double /*X2*/, double /*Y2*/, const std::string& Attrib) {
  WriteRow(Attrib);
}

void TGISWriterCSV::AddLine2(const TFloatPoint& /*P1*/, const TFloatPoint& /*P2*/, const std::string& Attrib) {
  WriteRow(Attrib);
}

void TGISWriterCSV::StartObject(int32_t NumParts, const std::string& Attrib) {
  TGISWriter::StartObject(NumParts, Attrib);
  WriteRow(Attrib);
}

void TGISWriterCSV::Close() {
  TGISWriter::Close();
  if (!Fopen) return;
  Fopen = false;
  auto csv = std::move(FOutCSV);
  if (csv) csv->Close();
}

void TGISWriterCSV::Drop() {
  try {
    Close();
  } catch (...) {
    if (FCreated) RemoveFileQuietly(FileName + ".csv");
    throw;
  }
  if (FCreated) RemoveFileQuietly(FileName + ".csv");
}

}  // namespace kovra

// ===========================================================================
// dBASE table and ESRI shapefile writers.

namespace kovra {

namespace {

constexpr uint32_t cCreatedDBF = 1, cCreatedSHP = 2, cCreatedSHX = 4, cCreatedPRJ = 8, cCreatedCPG = 16;

TDBFDateSource gDateSource = nullptr;

// The one place big-endian words are made: the .shp/.shx file code, lengths,
// offsets and record numbers.
void WriteBigEndian32(TKvStream& S, uint32_t Value) {
  // The typed write stores little-endian: the byte-reversed value comes out
  // big-endian, through the stream's inline path.
  S.WriteUInt32((Value >> 24) | ((Value >> 8) & 0xFF00u) | ((Value << 8) & 0xFF0000u) | (Value << 24));
}

// A byte offset or length of a shapefile as 16-bit words, checked to fit the
// format's signed 32 bits.
uint32_t ToSHPWords(uint64_t Bytes) {
  if (Bytes > cSHPMaxBytes) throw Exception("Shapefile exceeds the 4 GB format limit");
  return uint32_t(Bytes / 2);
}

void RemoveQuietly(const std::string& Name) {
  std::error_code ec;
  std::filesystem::remove(Name, ec);
}

// A whole small file (.prj, .cpg).
void WriteSmallFile(const std::string& Name, const std::string& Bytes, uint32_t& Created, uint32_t Bit) {
  TKvFileStream f(Name, fmCreate);
  Created |= Bit;
  f.WriteBuffer(Bytes.data(), int32_t(Bytes.size()));
  f.Close();
}

// Integer, date and time texts go out unconverted, one byte per character:
// ASCII as is, any other character as '?'. Returns the number of characters.
size_t SingleByteChars(const std::string& S, std::string& Out) {
  bool ascii = true;
  for (char c : S) ascii = ascii && (unsigned char)c < 0x80;
  if (ascii) {
    Out.assign(S);
    return Out.size();
  }
  Out.clear();
  size_t pos = 0;
  while (pos < S.size()) {
    const unsigned char c = (unsigned char)S[pos];
    if (c < 0x80) {
      Out += char(c);
      ++pos;
    } else {
      NextCodePoint(S, pos);
      Out += '?';
    }
  }
  return Out.size();
}

// "1.5E-7", "9.99999968028569E37": Digits mantissa decimals, trailing zeros
// of the mantissa dropped, no '+' and no leading zeros in the exponent.
size_t ENotation(char* Out, double Value, int Digits) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, Value, std::chars_format::scientific, Digits);
  std::string_view t(buf, size_t(r.ptr - buf));
  const size_t e = t.find('e');
  std::string_view mant = t.substr(0, e), ex = t.substr(e + 1);
  if (mant.find('.') != std::string_view::npos) {
    while (mant.back() == '0') mant.remove_suffix(1);
    if (mant.back() == '.') mant.remove_suffix(1);
  }
  size_t n = 0;
  for (char c : mant) Out[n++] = c;
  Out[n++] = 'E';
  if (ex[0] == '-') Out[n++] = '-';
  if (ex[0] == '-' || ex[0] == '+') ex.remove_prefix(1);
  while (ex.size() > 1 && ex[0] == '0') ex.remove_prefix(1);
  for (char c : ex) Out[n++] = c;
  return n;
}

}  // namespace

// ---------------------------------------------------------------------------
// Header date and numeric fields

TDBFHeaderDate LocalDBFHeaderDate() {
  const time_t now = ::time(nullptr);
  struct tm t {};
  if (::localtime_r(&now, &t) == nullptr) return TDBFHeaderDate{};
  return TDBFHeaderDate{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday};
}

TDBFDateSource SetDBFDateSource(TDBFDateSource Source) {
  TDBFDateSource old = gDateSource ? gDateSource : &LocalDBFHeaderDate;
  gDateSource = Source;
  return old;
}

void FormatDBFField(char* Buffer, int32_t Width, int32_t Decimals, double Value) {
  if (Width <= 0) return;
  // The plain fixed text whenever it fits: the common case costs one format.
  if (FormatDBFNumber(Buffer, Width, Decimals, Value) <= Width) return;
  // Integer readers would take "1E20" for 1: only fields with decimals get
  // E-notation, with the mantissa rounded until it fits.
  if (Decimals > 0) {
    char text[64];
    for (int d = 14; d >= 0; --d) {
      const size_t n = ENotation(text, Value, d);
      if (n <= size_t(Width)) {
        std::memset(Buffer, ' ', size_t(Width) - n);
        std::memcpy(Buffer + (size_t(Width) - n), text, n);
        return;
      }
    }
  }
  std::memset(Buffer, '*', size_t(Width));
}

// ---------------------------------------------------------------------------
// TGISWriterDBF

TGISWriterDBF::TGISWriterDBF() = default;
TGISWriterDBF::~TGISWriterDBF() = default;

void TGISWriterDBF::StartHeader(int32_t NumFields, TObjectTypes ObjectTypes) {
  // The header length 32 x fields + 33 is a Word.
  if (NumFields > cDBFMaxFields) throw Exception("Too many fields for a DBF table (max 2046)");
  TGISWriter::StartHeader(NumFields, ObjectTypes);
  // The empty box is the library's Single sentinel, as shapefile readers see it.
  FXMinG = FYMinG = double(cInfinity);
  FXMaxG = FYMaxG = -double(cInfinity);
  FNumRec = 0;
  FTotalWidth = 1;
  FColumns.assign(size_t(NumFields), TDBFColumn{});
  FRecord.clear();

  // One identity check per table: a page that keeps ASCII as it is lets
  // plain values skip the conversion.
  std::string ascii;
  for (char c = 0x20; c < 0x7F; ++c) ascii += c;
  FAsciiSame = FEncoding->SingleByte() && FEncoding->GetBytes(ascii) == ascii;

  const TDBFHeaderDate date = (gDateSource ? gDateSource : &LocalDBFHeaderDate)();
  const uint32_t headerLength = 32 * uint32_t(NumFields) + 33;
  std::string header(headerLength, '\0');
  header[0] = 3;
  header[1] = char(uint8_t(date.Year - 1900));
  header[2] = char(uint8_t(date.Month));
  header[3] = char(uint8_t(date.Day));
  header[8] = char(uint8_t(headerLength));
  header[9] = char(uint8_t(headerLength >> 8));
  header[29] = char(CodePage2LanguageDriver(FCodepage));
  header[headerLength - 1] = 0x0D;
  // The descriptors are zero until AddField fills them in.
  FOutDBF = std::make_unique<TKvBufferedStream>(new TKvFileStream(FileName + ".dbf", fmCreate), true);
  FCreated |= cCreatedDBF;
  FOutDBF->WriteBuffer(header.data(), int32_t(header.size()));
}

void TGISWriterDBF::AddField(const std::string& FieldName, TGISField Field, uint8_t Width, uint8_t decimals) {
  if (Width == 255 || (Width == 0 && Field == gfChar)) Width = 254;
  char letter;
  uint8_t w = Width, d = 0;
  switch (Field) {
    case gfChar: letter = 'C'; break;
    case gfInteger: letter = 'N'; w = 11; break;
    case gfSmallInt: letter = 'N'; w = 6; break;
    case gfInt64: letter = 'N'; w = 20; break;
    case gfDecimal: letter = 'N'; d = decimals; break;
    case gfFloat:
      letter = 'N';
      w = Width == 0 ? 20 : Width;
      d = decimals == 0 ? 8 : decimals;
      break;
    case gfDate: letter = 'D'; w = 8; break;
    case gfLogical: letter = 'L'; w = 1; break;
    case gfTime: letter = 'C'; w = 9; break;
    case gfDateTime: letter = 'C'; w = 17; break;
    default: throw EInvalidFieldType(Format("Field type %d has no DBF column type", int(Field)));
  }
  if (!FOutDBF) throw EWriteError(Format("No output file is open for \"%s\"", FileName + ".dbf"));
  // The record length is a Word: refuse the column before it wraps.
  if (uint32_t(FTotalWidth) + w > cDBFMaxRecordLength) throw Exception("DBF record length exceeds 65535 bytes");
  TGISWriter::AddField(FieldName, Field, w, d);
  FColumns[size_t(FWrittenFields) - 1] = TDBFColumn{Field, w, d, FTotalWidth};
  FTotalWidth = uint16_t(FTotalWidth + w);

  char desc[32] = {};
  EncodeCut(FieldName, 10, FText);
  std::memcpy(desc, FText.data(), FText.size());
  desc[11] = letter;
  desc[16] = char(w);
  desc[17] = char(d);
  FOutDBF->Seek(32 * int64_t(FWrittenFields), soBeginning);
  FOutDBF->WriteBuffer(desc, 32);
  if (FWrittenFields == FNumFields) {
    FOutDBF->Seek(10, soBeginning);
    FOutDBF->WriteUInt16(FTotalWidth);
    FOutDBF->Seek(32 * int64_t(FNumFields) + 33, soBeginning);
    FRecord.assign(FTotalWidth, ' ');
  }
}

void TGISWriterDBF::EncodeCut(const std::string& S, uint32_t Width, std::string& Out) const {
  if (FAsciiSame) {
    bool ascii = true;
    for (char c : S) ascii = ascii && (unsigned char)c < 0x80;
    if (ascii) {
      Out.assign(S, 0, std::min<size_t>(S.size(), Width));
      return;
    }
  }
  Out = FEncoding->GetBytes(S);
  if (Out.size() <= Width) return;
  if (FEncoding->SingleByte()) {
    Out.resize(Width);
    return;
  }
  // A multi-byte page: whole characters only, or a reader would see half of
  // a double-byte character (and maybe swallow the blank after it).
  std::string cut;
  size_t pos = 0;
  while (pos < S.size()) {
    const size_t start = pos;
    NextCodePoint(S, pos);
    const std::string b = FEncoding->GetBytes(std::string_view(S).substr(start, pos - start));
    if (cut.size() + b.size() > Width) break;
    cut += b;
  }
  Out = std::move(cut);
}

void TGISWriterDBF::FormatValue(const TDBFColumn& Column, const std::string& Value, char* Out) {
  const size_t w = Column.Width;
  switch (Column.FieldType) {
    case gfChar: {
      EncodeCut(Value, Column.Width, FText);
      std::memcpy(Out, FText.data(), FText.size());
      std::memset(Out + FText.size(), ' ', w - FText.size());
      break;
    }
    case gfInteger:
    case gfSmallInt:
    case gfInt64: {
      // A cut integer text is another, plausible number: overflow is marked.
      const size_t n = SingleByteChars(Value, FText);
      if (n > w) {
        std::memset(Out, '*', w);
      } else {
        std::memset(Out, ' ', w - n);
        std::memcpy(Out + (w - n), FText.data(), n);
      }
      break;
    }
    case gfDecimal:
    case gfFloat: {
      bool overflow = false;
      const double v = ParseFloatDot(Value, overflow);
      if (overflow)
        std::memset(Out, '*', w);  // beyond any double: no field holds it
      else
        FormatDBFField(Out, Column.Width, Column.Decimals, v);
      break;
    }
    case gfDate:
    case gfTime:
    case gfDateTime: {
      if (SingleByteChars(Value, FText) == w)
        std::memcpy(Out, FText.data(), w);
      else
        std::memset(Out, ' ', w);
      break;
    }
    case gfLogical:
      Out[0] = IsTrueText(Value) ? 'T' : 'F';
      break;
    default:
      std::memset(Out, ' ', w);
      break;
  }
}

void TGISWriterDBF::FormatRecord(const std::string& Attrib) {
  if (!FOutDBF || FWrittenFields != FNumFields)
    throw EWriteError(Format("Records must follow the last of the %d fields of \"%s\"", FNumFields, FileName + ".dbf"));
  // WrittenRecords is an Integer: a producer that writes on past FileIsFull
  // gets an error here, not a wrapped count in the header.
  if (FNumRec >= uint32_t(MaxInt)) throw Exception("DBF table exceeds 2147483647 records");
  SplitAttributes(Attrib);
  FRecord[0] = ' ';
  for (size_t i = 0; i < FColumns.size(); ++i)
    FormatValue(FColumns[i], FSL[i], FRecord.data() + FColumns[i].Offset);
}

bool TGISWriterDBF::DBFIsFull() {
  const uint64_t size = 32 * uint64_t(FNumFields) + 33 + uint64_t(FNumRec) * FTotalWidth;
  return size + FSizeBias > uint64_t(cGISFileFullBytes);
}

void TGISWriterDBF::WriteRecord() {
  FOutDBF->WriteBuffer(FRecord.data(), int32_t(FRecord.size()));
  ++FNumRec;
  ++FWrittenRecords;
}

void TGISWriterDBF::StartObject(int32_t NumParts, const std::string& Attrib) {
  FormatRecord(Attrib);
  TGISWriter::StartObject(NumParts, Attrib);
  WriteRecord();
  fFileIsFull = DBFIsFull();
}

void TGISWriterDBF::AddPoint(double /*X*/, double /*Y*/, const std::string& Attrib) {
  FormatRecord(Attrib);
  WriteRecord();
  fFileIsFull = DBFIsFull();
}

void TGISWriterDBF::Close() {
  TGISWriter::Close();
  if (!Fopen) return;
  Fopen = false;
  std::unique_ptr<TKvBufferedStream> dbf = std::move(FOutDBF);
  if (!dbf) return;
  dbf->Seek(32 * int64_t(FNumFields) + 33 + int64_t(FNumRec) * FTotalWidth, soBeginning);
  dbf->WriteByte(0x1A);
  dbf->Seek(4, soBeginning);
  dbf->WriteUInt32(FNumRec);
  dbf->Close();
}

void TGISWriterDBF::DeleteCreated(const std::string& Extension, uint32_t Bit) {
  if ((FCreated & Bit) == 0) return;
  RemoveQuietly(FileName + Extension);
  FCreated &= ~Bit;
}

void TGISWriterDBF::Drop() {
  try {
    Close();
  } catch (...) {
    DeleteCreated(".dbf", cCreatedDBF);
    throw;
  }
  DeleteCreated(".dbf", cCreatedDBF);
}

// ---------------------------------------------------------------------------
// TGISWriterSHP

TGISWriterSHP::TGISWriterSHP() = default;
TGISWriterSHP::~TGISWriterSHP() = default;

uint32_t TGISWriterSHP::ShapeType() const {
  switch (FObjectTypes) {
    case otPline: return 3;
    case otRegion: return 5;
    case otPoint: return 1;
    default: return 0;
  }
}

void TGISWriterSHP::StartHeader(int32_t NumFields, TObjectTypes ObjectTypes) {
  TGISWriterDBF::StartHeader(NumFields, ObjectTypes);
  FSHPopen = true;
  FNumRec = 0;
  FSHPOffset = 100;
  if (FObjectTypes == otNone) return;
  if (!PRJ.empty()) {
    WriteSmallFile(FileName + ".prj", StringToCodePage(PRJ, 1252), FCreated, cCreatedPRJ);
  }
  if (FCodepage != 0) {
    WriteSmallFile(FileName + ".cpg", IntToStr(FCodepage), FCreated, cCreatedCPG);
  }
  // 100 bytes: file code, five unused words, the length (Close), version,
  // shape type, then the box and the Z and M ranges (zero until Close).
  auto header = [this](TKvBufferedStream& s) {
    WriteBigEndian32(s, 9994);
    for (int i = 0; i < 6; ++i) WriteBigEndian32(s, 0);
    s.WriteInt32(1000);
    s.WriteInt32(int32_t(ShapeType()));
    for (int i = 0; i < 8; ++i) s.WriteDouble(0);
  };
  FOutSHP = std::make_unique<TKvBufferedStream>(new TKvFileStream(FileName + ".shp", fmCreate), true);
  FCreated |= cCreatedSHP;
  header(*FOutSHP);
  FOutSHX = std::make_unique<TKvBufferedStream>(new TKvFileStream(FileName + ".shx", fmCreate), true);
  FCreated |= cCreatedSHX;
  header(*FOutSHX);
}

void TGISWriterSHP::CheckSHPRoom(uint64_t Bytes) const {
  if (FSHPOffset + FSizeBias + Bytes > cSHPMaxBytes) throw Exception("Shapefile exceeds the 4 GB format limit");
}

void TGISWriterSHP::UpdateFileIsFull() {
  fFileIsFull = DBFIsFull() || FSHPOffset + FSizeBias > uint64_t(cGISFileFullBytes);
}

void TGISWriterSHP::StartObject(int32_t NumParts, const std::string& Attrib) {
  if (FObjectTypes == otNone || !FOutSHP) {
    TGISWriterDBF::StartObject(NumParts, Attrib);
    return;
  }
  FormatRecord(Attrib);
  const bool isNull = NumParts <= 0;
  const bool isPoint = !isNull && FObjectTypes == otPoint;
  // Header, shape type and the fixed part that is known now: nothing of the
  // record is written unless at least that fits.
  const uint64_t fixed = isNull ? 4 : isPoint ? 20 : 44 + 4 * uint64_t(NumParts);
  CheckSHPRoom(8 + fixed);
  FDBFRecordStart = 32 * uint64_t(FNumFields) + 33 + uint64_t(FNumRec) * FTotalWidth;
  TGISWriter::StartObject(NumParts, Attrib);
  WriteRecord();

  WriteBigEndian32(*FOutSHX, ToSHPWords(FSHPOffset));
  TKvBufferedStream& shp = *FOutSHP;
  shp.Seek(int64_t(FSHPOffset), soBeginning);
  WriteBigEndian32(shp, FNumRec);
  WriteBigEndian32(shp, 0);  // content length, when the record is finished
  shp.WriteInt32(isNull ? 0 : int32_t(ShapeType()));
  if (isNull) {
    FContentLength = 4;
    FinishRecord(false);
    UpdateFileIsFull();
    return;
  }
  if (!isPoint) {
    // Box and point count are patched after the last part; the parts array
    // entry by entry. Written as zeros now so the record has no gap.
    for (int i = 0; i < 4; ++i) shp.WriteDouble(0);
    shp.WriteInt32(NumParts);
    shp.WriteInt32(0);
    for (int32_t i = 0; i < NumParts; ++i) shp.WriteInt32(0);
    FNumPoints = 0;
  }
  FXMinO = FYMinO = double(cInfinity);
  FXMaxO = FYMaxO = -double(cInfinity);
  UpdateFileIsFull();
}

void TGISWriterSHP::WriteSection(int32_t Index, TFloatPointArrayEx& SegList) {
  if (FObjectTypes == otNone || !FOutSHP) return;
  TGISWriter::WriteSection(Index, SegList);
  TKvBufferedStream& shp = *FOutSHP;
  const int32_t n = std::max(SegList.Count, 0);
  const TFloatPoint* p = SegList.Pnt.data();
  const bool isPoint = FObjectTypes == otPoint;
  // StartObject leaves the stream where a point's X goes, or behind the
  // zeroed parts array where the first part's points go.
  if (!isPoint) {
    const uint64_t end = 8 + 44 + 4 * uint64_t(FNumParts) + 16 * (uint64_t(FNumPoints) + uint64_t(n));
    try {
      CheckSHPRoom(end);
    } catch (...) {
      RollBackRecord();
      throw;
    }
    if (FWrittenParts > 1) {
      shp.Seek(int64_t(FSHPOffset) + 48 + 4 * int64_t(FWrittenParts), soBeginning);
      shp.WriteInt32(int32_t(FNumPoints));
      shp.Seek(int64_t(FSHPOffset) + 52 + 4 * int64_t(FNumParts) + 16 * int64_t(FNumPoints), soBeginning);
    }
    FNumPoints += uint32_t(n);
  }
  double xmin = FXMinO, ymin = FYMinO, xmax = FXMaxO, ymax = FYMaxO;
  for (int32_t i = 0; i < n; ++i) {
    const double x = p[i].x, y = p[i].y;
    shp.WriteDouble(x);
    shp.WriteDouble(y);
    if (x < xmin) xmin = x;
    if (y < ymin) ymin = y;
    if (x > xmax) xmax = x;
    if (y > ymax) ymax = y;
  }
  FXMinO = xmin;
  FYMinO = ymin;
  FXMaxO = xmax;
  FYMaxO = ymax;
  if (FWrittenParts == FNumParts) {
    ExtendBounds(FXMinO, FYMinO);
    ExtendBounds(FXMaxO, FYMaxO);
    FContentLength = isPoint ? 20 : 44 + 4 * uint64_t(FNumParts) + 16 * uint64_t(FNumPoints);
    FinishRecord(!isPoint);
  }
  UpdateFileIsFull();
}

void TGISWriterSHP::FinishRecord(bool PatchPolyHeader) {
  const uint32_t words = ToSHPWords(FContentLength);
  TKvBufferedStream& shp = *FOutSHP;
  shp.Seek(int64_t(FSHPOffset) + 4, soBeginning);
  WriteBigEndian32(shp, words);
  if (PatchPolyHeader) {
    // From the content length on in one run: type, box, NumParts, NumPoints.
    shp.WriteInt32(int32_t(ShapeType()));
    shp.WriteDouble(FXMinO);
    shp.WriteDouble(FYMinO);
    shp.WriteDouble(FXMaxO);
    shp.WriteDouble(FYMaxO);
    shp.WriteInt32(FNumParts);
    shp.WriteInt32(int32_t(FNumPoints));
  }
  WriteBigEndian32(*FOutSHX, words);
  FSHPOffset += FContentLength + 8;
}

void TGISWriterSHP::RollBackRecord() {
  // Back to the state before StartObject: the earlier records stay as they are.
  --FNumRec;
  --FWrittenRecords;
  FOutDBF->SetSize(int64_t(FDBFRecordStart));
  FOutSHX->SetSize(100 + 8 * int64_t(FNumRec));
  FOutSHP->SetSize(int64_t(FSHPOffset));
  FNumParts = FWrittenParts;
}

void TGISWriterSHP::AddPoint(double X, double Y, const std::string& Attrib) {
  if (FObjectTypes != otPoint) return;
  StartObject(1, Attrib);
  FPoint.Pnt.resize(std::max<size_t>(FPoint.Pnt.size(), 1));
  FPoint.Pnt[0] = TFloatPoint{X, Y};
  FPoint.Count = 1;
  WriteSection(0, FPoint);
}

void TGISWriterSHP::Close() {
  // A failing .dbf must not leave the .shp and .shx unfinished and open.
  std::exception_ptr dbfError;
  try {
    TGISWriterDBF::Close();
  } catch (...) {
    dbfError = std::current_exception();
  }
  if (FObjectTypes == otNone || !FSHPopen) {
    if (dbfError) std::rethrow_exception(dbfError);
    return;
  }
  FSHPopen = false;
  // Both are released even when the first one fails.
  std::unique_ptr<TKvBufferedStream> shp = std::move(FOutSHP);
  std::unique_ptr<TKvBufferedStream> shx = std::move(FOutSHX);
  auto finish = [this](TKvBufferedStream* s, uint64_t Bytes) {
    if (!s) return;
    s->Seek(24, soBeginning);
    WriteBigEndian32(*s, ToSHPWords(Bytes));
    s->Seek(36, soBeginning);
    s->WriteDouble(FXMinG);
    s->WriteDouble(FYMinG);
    s->WriteDouble(FXMaxG);
    s->WriteDouble(FYMaxG);
    s->Close();
  };
  finish(shp.get(), FSHPOffset);
  finish(shx.get(), 100 + 8 * uint64_t(FNumRec));
  if (dbfError) std::rethrow_exception(dbfError);
}

void TGISWriterSHP::Drop() {
  auto remove = [this] {
    DeleteCreated(".shp", cCreatedSHP);
    DeleteCreated(".shx", cCreatedSHX);
    DeleteCreated(".prj", cCreatedPRJ);
    DeleteCreated(".cpg", cCreatedCPG);
  };
  try {
    TGISWriterDBF::Drop();
  } catch (...) {
    remove();
    throw;
  }
  remove();
}

}  // namespace kovra

// ===========================================================================
// XML and JSON writers: KML 2.2, GML 2, GPX 1.1, GeoJSON.

#include <unicode/uchar.h>

namespace kovra {

namespace {

constexpr std::string_view cKMLNamespace = "http://www.opengis.net/kml/2.2";
constexpr std::string_view cGMLNamespace = "http://www.opengis.net/gml";
constexpr std::string_view cXSNamespace = "http://www.w3.org/2001/XMLSchema";
constexpr std::string_view cXSINamespace = "http://www.w3.org/2001/XMLSchema-instance";
constexpr std::string_view cGMLFeatureSchema = "http://schemas.opengis.net/gml/2.1.2/feature.xsd";
constexpr std::string_view cGPXNamespace = "http://www.topografix.com/GPX/1/1";
constexpr std::string_view cGPXSchema = "http://www.topografix.com/GPX/1/1/gpx.xsd";
constexpr size_t cBOMBytes = 3;  // EF BB BF in front of the XML files

// --- XML names ---------------------------------------------------------------

// Name characters of XML 1.0 (5th edition), without ':'.
bool IsXML5NameStart(char32_t c) {
  return (c >= 'A' && c <= 'Z') || c == '_' || (c >= 'a' && c <= 'z') || (c >= 0xC0 && c <= 0xD6) ||
         (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) || (c >= 0x370 && c <= 0x37D) ||
         (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F) ||
         (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) || (c >= 0xF900 && c <= 0xFDCF) ||
         (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}

bool IsXML5NameChar(char32_t c) {
  return IsXML5NameStart(c) || c == '-' || c == '.' || (c >= '0' && c <= '9') || c == 0xB7 ||
         (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

// The 4th edition's classes (Appendix B: Unicode 2.0 letters, digits and
// marks of the BMP below the compatibility area, without compatibility
// decompositions), approximated through the character database.
bool IsXML4Candidate(char32_t c) {
  if (c >= 0xF900) return false;
  UVersionInfo age;
  u_charAge(UChar32(c), age);
  if (age[0] > 2 || (age[0] == 2 && age[1] > 0)) return false;
  const int32_t dt = u_getIntPropertyValue(UChar32(c), UCHAR_DECOMPOSITION_TYPE);
  return dt == U_DT_NONE || dt == U_DT_CANONICAL;
}

bool IsXML4Letter(char32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
  if ((c >= 0x2BB && c <= 0x2C1) || c == 0x559 || c == 0x6E5 || c == 0x6E6) return true;
  if (!IsXML4Candidate(c)) return false;
  switch (u_charType(UChar32(c))) {
    case U_LOWERCASE_LETTER:
    case U_UPPERCASE_LETTER:
    case U_OTHER_LETTER:
    case U_TITLECASE_LETTER:
    case U_LETTER_NUMBER:
      return true;
    default:
      return false;
  }
}

bool IsXML4NameChar(char32_t c) {
  if (c < 0x80)
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c == '.';
  if (c == 0xB7 || IsXML4Letter(c)) return true;
  if (!IsXML4Candidate(c)) return false;
  switch (u_charType(UChar32(c))) {
    case U_COMBINING_SPACING_MARK:
    case U_ENCLOSING_MARK:
    case U_NON_SPACING_MARK:
    case U_MODIFIER_LETTER:
    case U_DECIMAL_DIGIT_NUMBER:
      return true;
    default:
      return false;
  }
}

// Names must hold in both editions: xmllint reads the 5th, expat (GDAL) the 4th.
bool IsNameStart(char32_t c) { return c == '_' || (IsXML5NameStart(c) && IsXML4Letter(c)); }
bool IsNameChar(char32_t c) { return IsXML5NameChar(c) && IsXML4NameChar(c); }

// --- number texts -----------------------------------------------------------

void AppendDigits(std::string_view s, size_t& i) {
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
}

// Layer name: the file name without its folder.
std::string LayerName(const std::string& FileName) {
  const size_t slash = FileName.rfind('/');
  return slash == std::string::npos ? FileName : FileName.substr(slash + 1);
}

// The KML colour digits: 0x00BBGGRR as six upper-case hex digits BBGGRR.
std::string KMLColor(uint32_t c) {
  static const char* hex = "0123456789ABCDEF";
  std::string s(6, '0');
  for (int i = 5; i >= 0; --i) {
    s[size_t(i)] = hex[c & 0xF];
    c >>= 4;
  }
  return s;
}

// The value of a date or time column as ISO text, or empty when the value
// has not the length of its compact form (lengths count UTF-16 code units).
bool ISODateValue(TGISField Field, const std::string& v, std::string& Out) {
  const size_t n = Utf16Length(v);
  switch (Field) {
    case gfDate:
      if (n != 8) return false;
      Out = FormatISODate(v);
      return true;
    case gfTime:
      if (n != 9) return false;
      Out = FormatISOTime(v);
      return true;
    case gfDateTime:
      if (n != 17) return false;
      Out = FormatISODateTime(v);
      return true;
    default:
      return false;
  }
}

bool IsDateField(TGISField Field) { return Field == gfDate || Field == gfTime || Field == gfDateTime; }

void AppendHex4(std::string& out, uint32_t u) {
  static const char* hex = "0123456789ABCDEF";
  out += "\\u";
  out += hex[(u >> 12) & 0xF];
  out += hex[(u >> 8) & 0xF];
  out += hex[(u >> 4) & 0xF];
  out += hex[u & 0xF];
}

void AppendEscapeJSON(std::string& out, std::string_view S) {
  size_t pos = 0;
  while (pos < S.size()) {
    const unsigned char b = (unsigned char)S[pos];
    if (b >= 32 && b <= 126 && b != '"' && b != '/' && b != '\\') {
      out += char(b);
      ++pos;
      continue;
    }
    const char32_t cp = NextCodePoint(S, pos);
    switch (cp) {
      case 8: out += "\\b"; break;
      case 9: out += "\\t"; break;
      case 10: out += "\\n"; break;
      case 12: out += "\\f"; break;
      case 13: out += "\\r"; break;
      case '"': out += "\\\""; break;
      case '/': out += "\\/"; break;
      case '\\': out += "\\\\"; break;
      default:
        if (cp >= 0x10000) {
          const uint32_t u = uint32_t(cp) - 0x10000;
          AppendHex4(out, 0xD800 + (u >> 10));
          AppendHex4(out, 0xDC00 + (u & 0x3FF));
        } else {
          AppendHex4(out, uint32_t(cp));
        }
    }
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Name, URI and JSON helpers

std::string MakeNCName(std::string_view Name) {
  std::string out;
  out.reserve(Name.size() + 1);
  size_t pos = 0;
  while (pos < Name.size()) {
    const size_t start = pos;
    const char32_t cp = NextCodePoint(Name, pos);
    // An invalid byte decodes as U+FFFD, which no name holds: it becomes '_' too.
    if (IsNameChar(cp) && !(cp == 0xFFFD))
      out.append(Name.substr(start, pos - start));
    else
      out += '_';
  }
  size_t first = 0;
  if (out.empty() || !IsNameStart(NextCodePoint(out, first))) out.insert(out.begin(), '_');
  return out;
}

std::string MakeUniqueNCName(std::string_view Name, std::set<std::string>& Taken) {
  std::string base = MakeNCName(Name);
  if (Taken.insert(base).second) return base;
  for (int64_t k = 2;; ++k) {
    std::string candidate = base + "_" + IntToStr(k);
    if (Taken.insert(candidate).second) return candidate;
  }
}

std::string PercentEncode(std::string_view S) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  out.reserve(S.size());
  for (char ch : S) {
    const unsigned char c = (unsigned char)ch;
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
        c == '_' || c == '~') {
      out += char(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 0xF];
    }
  }
  return out;
}

std::string EscapeJSON(std::string_view S) {
  std::string out;
  out.reserve(S.size());
  AppendEscapeJSON(out, S);
  return out;
}

bool IsJSONNumber(std::string_view S) {
  size_t i = 0;
  if (i < S.size() && S[i] == '-') ++i;
  if (i >= S.size()) return false;
  if (S[i] == '0') {
    ++i;
  } else if (S[i] >= '1' && S[i] <= '9') {
    AppendDigits(S, i);
  } else {
    return false;
  }
  if (i < S.size() && S[i] == '.') {
    const size_t d = ++i;
    AppendDigits(S, i);
    if (i == d) return false;
  }
  if (i < S.size() && (S[i] == 'e' || S[i] == 'E')) {
    ++i;
    if (i < S.size() && (S[i] == '+' || S[i] == '-')) ++i;
    const size_t d = i;
    AppendDigits(S, i);
    if (i == d) return false;
  }
  return i == S.size();
}

std::string FloatToStrDecimalDot(double Value) {
  std::string s = FloatToStrDot(Value);  // raises EInvalidOp for NaN and infinities
  if (s.find('E') == std::string::npos) return s;
  char buf[400];
  const auto r = std::to_chars(buf, buf + sizeof buf, Value, std::chars_format::fixed);
  return std::string(buf, r.ptr);
}

// ---------------------------------------------------------------------------
// TGISWriterKML2

TGISWriterKML2::TGISWriterKML2() = default;
TGISWriterKML2::~TGISWriterKML2() = default;

void TGISWriterKML2::StartHeader(int32_t NumFields, TObjectTypes ObjectTypes) {
  TGISWriter::StartHeader(NumFields, ObjectTypes);
  FOutKML = std::make_unique<TTextFileWriter>(FileName + ".kml", 65001, true);
  FCreated = true;
  std::string& t = FText;
  t = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n";
  t += "<kml xmlns=\"";
  t += cKMLNamespace;
  t += "\">\r\n<Document>\r\n<name>";
  t += EscapeXML(LayerName(FileName));
  t += "</name>\r\n";
  switch (ObjectTypes) {
    case otRegion:
      t += "<Style id=\"region\">\r\n<LineStyle>\r\n<color>ff000000</color>\r\n<width>0</width>\r\n"
           "</LineStyle>\r\n<PolyStyle>\r\n<color>7fffffff</color>\r\n<outline>0</outline>\r\n"
           "</PolyStyle>\r\n</Style>\r\n";
      break;
    case otPline:
      t += "<Style id=\"pline\">\r\n<LineStyle>\r\n<color>ff0000ff</color>\r\n<width>2</width>\r\n"
           "</LineStyle>\r\n</Style>\r\n";
      break;
    case otPoint:
      t += "<Style id=\"point\">\r\n<IconStyle>\r\n<color>ff00ff00</color>\r\n<scale>0.8</scale>\r\n"
           "<Icon>\r\n<href>";
      t += cKMLPointIcon;
      t += "</href>\r\n</Icon>\r\n</IconStyle>\r\n</Style>\r\n";
      break;
    default:
      break;
  }
  FOutKML->write(t);
}

void TGISWriterKML2::BeginPlacemark(const std::string& Attrib) {
  if (!FOutKML) RaiseNoOutput(FileName + ".kml");
  SplitAttributes(Attrib);
  const int32_t n = FWrittenRecords;
  ++FWrittenRecords;
  FText = "<Placemark>\r\n<name>Record: ";
  FText += IntToStr(n);
  FText += "</name>\r\n";
}

void TGISWriterKML2::AppendDescription() {
  if (FNumFields <= 0) return;
  std::string& t = FText;
  t += "<description>\r\n<![CDATA[";
  std::string iso;
  for (int32_t i = 1; i <= FNumFields; ++i) {
    const TFieldInfo& fi = FFieldInfo[size_t(i)];
    const std::string& v = FSL[size_t(i) - 1];
    // Escaped inside the CDATA too: the HTML reader sees entities, and "]]>"
    // can never end the section early.
    t += EscapeXML(fi.Name);
    t += ": ";
    if (IsDateField(fi.FieldType)) {
      if (ISODateValue(fi.FieldType, v, iso)) t += EscapeXML(iso);
    } else if (fi.FieldType == gfLogical) {
      t += IsTrueText(v) ? "True" : "False";
    } else {
      t += EscapeXML(v);
    }
    t += "<br>";
  }
  t += "]]>\r\n</description>\r\n";
}

void TGISWriterKML2::AppendCoordinates(const TFloatPointArrayEx& SegList) {
  FText += "<coordinates>";
  const TFloatPoint* p = SegList.Pnt.data();
  for (int32_t i = 0; i < SegList.Count; ++i) {
    FText += FloatToStrDot(p[i].x);
    FText += ',';
    FText += FloatToStrDot(p[i].y);
    FText += ",0.00000 ";
  }
  FText += "</coordinates>\r\n";
}

void TGISWriterKML2::AddPoint(double X, double Y, const std::string& Attrib) {
  if (FObjectTypes != otPoint) return;
  // Numbers first: a coordinate that cannot be written stops before the record starts.
  const std::string x = FloatToStrDot(X), y = FloatToStrDot(Y);
  BeginPlacemark(Attrib);
  AppendDescription();
  FText += "<styleUrl>#point</styleUrl>\r\n<Point>\r\n<coordinates>";
  FText += x;
  FText += ',';
  FText += y;
  FText += ",0</coordinates>\r\n</Point>\r\n</Placemark>\r\n";
  FOutKML->write(FText);
}

void TGISWriterKML2::StartObject(int32_t NumParts, const std::string& Attrib) {
  BeginPlacemark(Attrib);
  TGISWriter::StartObject(NumParts, Attrib);
  std::string& t = FText;
  if (FObjectTypes == otPline) {
    if (Pen.Color == DefaultPen.Color) {
      t += "<styleUrl>#pline</styleUrl>\r\n";
    } else {
      t += "<Style>\r\n<LineStyle>\r\n<color>FF";
      t += KMLColor(Pen.Color);
      t += "</color>\r\n<width>2</width>\r\n</LineStyle>\r\n</Style>\r\n";
    }
  } else if (FObjectTypes == otRegion) {
    if (Brush.fg_color == DefaultBrush.fg_color) {
      t += "<styleUrl>#region</styleUrl>\r\n";
    } else {
      t += "<Style>\r\n<LineStyle>\r\n<color>ff000000</color>\r\n<width>0</width>\r\n</LineStyle>\r\n"
           "<PolyStyle>\r\n<color>7F";
      t += KMLColor(Brush.fg_color);
      t += "</color>\r\n<outline>0</outline>\r\n</PolyStyle>\r\n</Style>\r\n";
    }
  }
  AppendDescription();
  if (NumParts <= 0)
    t += "</Placemark>\r\n";
  else if (FObjectTypes == otPline || FObjectTypes == otRegion)
    t += "<MultiGeometry>\r\n";
  Fprevious = false;
  FOutKML->write(t);
}

void TGISWriterKML2::WriteSection(int32_t Index, TFloatPointArrayEx& SegList) {
  TGISWriter::WriteSection(Index, SegList);
  std::string& t = FText;
  t.clear();
  if (FObjectTypes == otPline) {
    t += "<LineString>\r\n";
    AppendCoordinates(SegList);
    t += "</LineString>\r\n";
  } else if (FObjectTypes == otRegion) {
    const bool outer = StartsPolygon(Index);
    if (outer) {
      if (Fprevious) t += "</Polygon>\r\n";
      t += "<Polygon>\r\n";
      Fprevious = true;
      t += "<outerBoundaryIs>\r\n";
    } else {
      t += "<innerBoundaryIs>\r\n";
    }
    t += "<LinearRing>\r\n";
    AppendCoordinates(SegList);
    t += "</LinearRing>\r\n";
    t += outer ? "</outerBoundaryIs>\r\n" : "</innerBoundaryIs>\r\n";
  }
  if (FWrittenParts == FNumParts) {
    if (FObjectTypes == otRegion) t += "</Polygon>\r\n";
    t += "</MultiGeometry>\r\n</Placemark>\r\n";
  }
  FOutKML->write(t);
}

void TGISWriterKML2::Close() {
  TGISWriter::Close();
  if (!Fopen) return;
  Fopen = false;
  auto kml = std::move(FOutKML);
  if (kml) {
    kml->write("</Document>\r\n</kml>\r\n");
    kml->Close();
  }
}

void TGISWriterKML2::Drop() {
  try {
    Close();
  } catch (...) {
    if (FCreated) RemoveFileQuietly(FileName + ".kml");
    throw;
  }
  if (FCreated) RemoveFileQuietly(FileName + ".kml");
}

// ---------------------------------------------------------------------------
// TGISWriterGML2

TGISWriterGML2::TGISWriterGML2() = default;
TGISWriterGML2::~TGISWriterGML2() = default;

void TGISWriterGML2::StartHeader(int32_t NumFields, TObjectTypes ObjectTypes) {
  TGISWriter::StartHeader(NumFields, ObjectTypes);
  FFileName2 = LayerName(FileName);
  // The collection's own element and type live in the same namespace.
  std::set<std::string> reserved{"Features", "features"};
  FElement = MakeUniqueNCName(FFileName2, reserved);
  FColumns.assign(1, std::string());
  FTaken.clear();
  // The geometry element shares the feature's children.
  if (ObjectTypes != otNone) FTaken.insert("_SHAPE_");
  const std::string ns = std::string(cGMLNamespaceBase) + PercentEncode(FFileName2);
  const std::string xsdName = PercentEncode(FFileName2 + ".xsd");

  std::string& t = FText;
  t = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><Features xmlns=\"";
  t += ns;
  t += "\" xmlns:gml=\"";
  t += cGMLNamespace;
  t += "\" xmlns:xsi=\"";
  t += cXSINamespace;
  t += "\" xsi:schemaLocation=\"";
  t += ns;
  t += ' ';
  t += xsdName;
  t += "\"><gml:boundedBy><gml:Box>";
  // Where the four bound tags stand in the file, for PatchBounds.
  for (int i = 0; i < 2; ++i) {
    t += "<gml:coord>";
    SetBoundsOffset(2 * i, int64_t(cBOMBytes + t.size()));
    t += "<gml:X>";
    t += cBoundsPlaceholder;
    t += "</gml:X>";
    SetBoundsOffset(2 * i + 1, int64_t(cBOMBytes + t.size()));
    t += "<gml:Y>";
    t += cBoundsPlaceholder;
    t += "</gml:Y></gml:coord>";
  }
  t += "</gml:Box></gml:boundedBy>";

  std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><schema targetNamespace=\"";
  x += ns;
  x += "\" xmlns:wfs=\"";
  x += ns;
  x += "\" xmlns:gml=\"";
  x += cGMLNamespace;
  x += "\" xmlns=\"";
  x += cXSNamespace;
  x += "\" elementFormDefault=\"qualified\"><import namespace=\"";
  x += cGMLNamespace;
  x += "\" schemaLocation=\"";
  x += cGMLFeatureSchema;
  x += "\"/><element name=\"Features\" type=\"wfs:featuresType\" substitutionGroup=\"gml:_FeatureCollection\"/>"
       "<complexType name=\"featuresType\"><complexContent><extension base=\"gml:AbstractFeatureCollectionType\"/>"
       "</complexContent></complexType><element name=\"";
  x += FElement;
  x += "\" type=\"wfs:";
  x += FElement;
  x += "Type\" substitutionGroup=\"gml:_Feature\"/><complexType name=\"";
  x += FElement;
  x += "Type\"><complexContent><extension base=\"gml:AbstractFeatureType\"><sequence>";

  FOutGML = std::make_unique<TTextFileWriter>(FileName + ".xml", 65001, true);
  try {
    FOutXSD = std::make_unique<TTextFileWriter>(FileName + ".xsd", 65001, true);
  } catch (...) {
    FOutGML.reset();
    RemoveFileQuietly(FileName + ".xml");
    throw;
  }
  FCreated = true;
  FOutGML->write(t);
  FOutXSD->write(x);
}

void TGISWriterGML2::AddField(const std::string& FieldName, TGISField Field, uint8_t Width, uint8_t decimals) {
  TGISWriter::AddField(FieldName, Field, Width, decimals);
  if (!FOutXSD) RaiseNoOutput(FileName + ".xsd");
  const std::string name = MakeUniqueNCName(FieldName, FTaken);
  FColumns.push_back(name);
  std::string& x = FText;
  x = "<element name=\"";
  x += name;
  x += "\" type=\"";
  switch (Field) {
    case gfInteger:
    case gfSmallInt: x += "integer\"/>"; break;
    case gfDecimal:
    case gfFloat: x += "double\"/>"; break;
    case gfLogical: x += "boolean\"/>"; break;
    case gfInt64: x += "long\"/>"; break;
    case gfDate: x += "date\" nillable=\"true\"/>"; break;
    case gfTime: x += "time\" nillable=\"true\"/>"; break;
    case gfDateTime: x += "dateTime\" nillable=\"true\"/>"; break;
    default: x += "string\"/>"; break;
  }
  if (FWrittenFields == FNumFields) {
    switch (FObjectTypes) {
      case otPline: x += "<element name=\"_SHAPE_\" type=\"gml:MultiLineStringPropertyType\"/>"; break;
      case otRegion: x += "<element name=\"_SHAPE_\" type=\"gml:MultiPolygonPropertyType\"/>"; break;
      case otPoint: x += "<element name=\"_SHAPE_\" type=\"gml:PointPropertyType\"/>"; break;
      default: break;
    }
    x += "</sequence></extension></complexContent></complexType></schema>";
    FOutXSD->write(x);
    auto xsd = std::move(FOutXSD);
    xsd->Close();
    return;
  }
  FOutXSD->write(x);
}

void TGISWriterGML2::BeginFeature(const std::string& Attrib) {
  if (!FOutGML) RaiseNoOutput(FileName + ".xml");
  SplitAttributes(Attrib);
  ++FWrittenRecords;
  std::string& t = FText;
  t = "<gml:featureMember><";
  t += FElement;
  t += '>';
  // Columns a producer never declared still get names (not in the schema).
  while (FColumns.size() <= size_t(FNumFields))
    FColumns.push_back(MakeUniqueNCName(FFieldInfo[FColumns.size()].Name, FTaken));
  std::string iso;
  for (int32_t i = 1; i <= FNumFields; ++i) {
    const TFieldInfo& fi = FFieldInfo[size_t(i)];
    const std::string& name = FColumns[size_t(i)];
    const std::string& v = FSL[size_t(i) - 1];
    t += '<';
    t += name;
    if (IsDateField(fi.FieldType)) {
      if (!ISODateValue(fi.FieldType, v, iso)) {
        t += " xsi:nil=\"true\"/>";
        continue;
      }
      t += '>';
      t += EscapeXML(iso);
    } else if (fi.FieldType == gfLogical) {
      t += IsTrueText(v) ? ">1" : ">0";
    } else {
      t += '>';
      t += EscapeXML(v);
    }
    t += "</";
    t += name;
    t += '>';
  }
}

void TGISWriterGML2::EndFeature() {
  FText += "</";
  FText += FElement;
  FText += "></gml:featureMember>";
}

void TGISWriterGML2::AppendCoordinates(const TFloatPointArrayEx& SegList) {
  FText += "<gml:coordinates>";
  const TFloatPoint* p = SegList.Pnt.data();
  for (int32_t i = 0; i < SegList.Count; ++i) {
    FText += FloatToStrDot(p[i].x);
    FText += ',';
    FText += FloatToStrDot(p[i].y);
    FText += ' ';
  }
  for (int32_t i = 0; i < SegList.Count; ++i) ExtendBounds(p[i].x, p[i].y);
  FText += "</gml:coordinates>";
}

void TGISWriterGML2::AddPoint(double X, double Y, const std::string& Attrib) {
  if (FObjectTypes != otPoint) return;
  const std::string x = FloatToStrDot(X), y = FloatToStrDot(Y);
  BeginFeature(Attrib);
  FText += "<_SHAPE_><gml:Point srsName = 'epsg:";
  FText += IntToStr(epsg);
  FText += "'><gml:coordinates>";
  FText += x;
  FText += ',';
  FText += y;
  FText += "</gml:coordinates></gml:Point></_SHAPE_>";
  EndFeature();
  ExtendBounds(X, Y);
  FOutGML->write(FText);
}

void TGISWriterGML2::StartObject(int32_t NumParts, const std::string& Attrib) {
  BeginFeature(Attrib);
  TGISWriter::StartObject(NumParts, Attrib);
  std::string& t = FText;
  if (FObjectTypes != otNone) t += "<_SHAPE_>";
  if (NumParts <= 0) {
    if (FObjectTypes != otNone) t += "</_SHAPE_>";
    EndFeature();
  } else if (FObjectTypes == otPline) {
    t += "<gml:MultiLineString srsName = 'epsg:" + IntToStr(epsg) + "'>";
  } else if (FObjectTypes == otRegion) {
    t += "<gml:MultiPolygon srsName = 'epsg:" + IntToStr(epsg) + "'>";
  }
  Fprevious = false;
  FOutGML->write(t);
}

void TGISWriterGML2::WriteSection(int32_t Index, TFloatPointArrayEx& SegList) {
  TGISWriter::WriteSection(Index, SegList);
  std::string& t = FText;
  t.clear();
  if (FObjectTypes == otPline) {
    t += "<gml:lineStringMember><gml:LineString>";
    AppendCoordinates(SegList);
    t += "</gml:LineString></gml:lineStringMember>";
  } else if (FObjectTypes == otRegion) {
    const bool outer = StartsPolygon(Index);
    if (outer) {
      if (Fprevious) t += "</gml:Polygon></gml:polygonMember>";
      t += "<gml:polygonMember><gml:Polygon>";
      Fprevious = true;
      t += "<gml:outerBoundaryIs>";
    } else {
      t += "<gml:innerBoundaryIs>";
    }
    t += "<gml:LinearRing>";
    AppendCoordinates(SegList);
    t += "</gml:LinearRing>";
    t += outer ? "</gml:outerBoundaryIs>" : "</gml:innerBoundaryIs>";
  }
  if (FWrittenParts == FNumParts) {
    if (FObjectTypes == otRegion)
      t += "</gml:Polygon></gml:polygonMember></gml:MultiPolygon>";
    else if (FObjectTypes == otPline)
      t += "</gml:MultiLineString>";
    t += "</_SHAPE_>";
    EndFeature();
  }
  FOutGML->write(t);
}

void TGISWriterGML2::Close() {
  TGISWriter::Close();
  if (!Fopen) return;
  Fopen = false;
  auto xml = std::move(FOutGML);
  auto xsd = std::move(FOutXSD);  // still open only when columns are missing
  if (xsd) xsd->Close();
  if (!xml) return;
  xml->write("</Features>");
  xml->Close();
  if (FXMinG <= FXMaxG) PatchBounds(".xml", "<gml:X>", "<gml:Y>", "<gml:X>", "<gml:Y>");
}

void TGISWriterGML2::Drop() {
  auto remove = [this] {
    if (!FCreated) return;
    RemoveFileQuietly(FileName + ".xml");
    RemoveFileQuietly(FileName + ".xsd");
  };
  try {
    Close();
  } catch (...) {
    remove();
    throw;
  }
  remove();
}

// ---------------------------------------------------------------------------
// TGISWriterGPX

TGISWriterGPX::TGISWriterGPX() = default;
TGISWriterGPX::~TGISWriterGPX() = default;

void TGISWriterGPX::StartHeader(int32_t NumFields, TObjectTypes ObjectTypes) {
  TGISWriter::StartHeader(NumFields, ObjectTypes);
  if (ObjectTypes == otRegion) {
    Fopen = false;  // nothing to finish: no file exists
    throw Exception("GPX format do not support polygon output");
  }
  FColumns.clear();
  FTaken.clear();
  std::string& t = FText;
  t = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n<gpx version=\"1.1\" creator=\"kovra4\" xmlns:xsi=\"";
  t += cXSINamespace;
  t += "\" xmlns:kovra4=\"";
  t += cKovra4Namespace;
  t += "\" xmlns=\"";
  t += cGPXNamespace;
  t += "\" xsi:schemaLocation=\"";
  t += cGPXNamespace;
  t += ' ';
  t += cGPXSchema;
  t += "\">\r\n<metadata><bounds";
  static const char* tags[4] = {"minlon=\"", "minlat=\"", "maxlon=\"", "maxlat=\""};
  for (int i = 0; i < 4; ++i) {
    t += ' ';
    SetBoundsOffset(i, int64_t(cBOMBytes + t.size()));
    t += tags[i];
    t += cBoundsPlaceholder;
    t += '"';
  }
  t += "/></metadata>\r\n";
  FOutGPX = std::make_unique<TTextFileWriter>(FileName + ".gpx", 65001, true);
  FCreated = true;
  FOutGPX->write(t);
}

void TGISWriterGPX::AppendExtensions() {
  if (FColumns.size() != size_t(FNumFields) + 1) {
    FColumns.assign(1, std::string());
    FTaken.clear();
    for (int32_t i = 1; i <= FNumFields; ++i) FColumns.push_back(MakeUniqueNCName(FFieldInfo[size_t(i)].Name, FTaken));
  }
  std::string& t = FText;
  t += "  <extensions>\r\n";
  std::string v;
  for (int32_t i = 1; i <= FNumFields; ++i) {
    const TFieldInfo& fi = FFieldInfo[size_t(i)];
    v = FSL[size_t(i) - 1];
    std::string iso;
    if (IsDateField(fi.FieldType) && ISODateValue(fi.FieldType, v, iso))
      v = iso;
    else if (fi.FieldType == gfLogical)
      v = IsTrueText(v) ? "True" : "False";
    t += "    <kovra4:";
    t += FColumns[size_t(i)];
    t += '>';
    t += EscapeXML(v);
    t += "</kovra4:";
    t += FColumns[size_t(i)];
    t += ">\r\n";
  }
  t += "  </extensions>\r\n";
}

void TGISWriterGPX::AppendLonLat(double X, double Y) {
  FText += " lon=\"";
  FText += FloatToStrDecimalDot(X);
  FText += "\" lat=\"";
  FText += FloatToStrDecimalDot(Y);
  FText += "\">";
}

void TGISWriterGPX::AddPoint(double X, double Y, const std::string& Attrib) {
  if (FObjectTypes != otPoint) return;
  if (!FOutGPX) RaiseNoOutput(FileName + ".gpx");
  FText = "<wpt";
  AppendLonLat(X, Y);  // before anything is counted: a coordinate may raise
  FText += "\r\n";
  SplitAttributes(Attrib);
  ++FWrittenRecords;
  AppendExtensions();
  FText += "</wpt>\r\n";
  ExtendBounds(X, Y);
  FOutGPX->write(FText);
}

void TGISWriterGPX::StartObject(int32_t NumParts, const std::string& Attrib) {
  TGISWriter::StartObject(NumParts, Attrib);
  // Routes have one part; other records are left out and not counted.
  if (NumParts != 1) return;
  if (!FOutGPX) RaiseNoOutput(FileName + ".gpx");
  SplitAttributes(Attrib);
  ++FWrittenRecords;
  FText = "<rte>\r\n";
  AppendExtensions();
  FOutGPX->write(FText);
}

void TGISWriterGPX::WriteSection(int32_t Index, TFloatPointArrayEx& SegList) {
  TGISWriter::WriteSection(Index, SegList);
  if (FNumParts != 1) return;
  FText.clear();
  const TFloatPoint* p = SegList.Pnt.data();
  for (int32_t i = 0; i < SegList.Count; ++i) {
    FText += "  <rtept";
    AppendLonLat(p[i].x, p[i].y);
    FText += "\r\n  </rtept>\r\n";
  }
  for (int32_t i = 0; i < SegList.Count; ++i) ExtendBounds(p[i].x, p[i].y);
  FText += "</rte>\r\n";
  FOutGPX->write(FText);
}

void TGISWriterGPX::Close() {
  TGISWriter::Close();
  if (!Fopen) return;
  Fopen = false;
  auto gpx = std::move(FOutGPX);
  if (!gpx) return;
  gpx->write("</gpx>");
  gpx->Close();
  if (FXMinG <= FXMaxG) PatchBounds(".gpx", "minlon=\"", "minlat=\"", "maxlon=\"", "maxlat=\"");
}

void TGISWriterGPX::Drop() {
  try {
    Close();
  } catch (...) {
    if (FCreated) RemoveFileQuietly(FileName + ".gpx");
    throw;
  }
  if (FCreated) RemoveFileQuietly(FileName + ".gpx");
}

// ---------------------------------------------------------------------------
// TFlexWriter

TFlexWriter::TFlexWriter(const std::string& filename) : fFileStyle(!filename.empty()) {
  if (fFileStyle)
    f = std::make_unique<TTextFileWriter>(filename, 65001, false);
  else
    SB.reserve(1 << 16);
}

TFlexWriter::~TFlexWriter() = default;

void TFlexWriter::append(std::string_view s) {
  if (fFileStyle) {
    if (!f) throw EWriteError("Stream write error");
    f->write(s);
  } else {
    SB.append(s);  // std::string grows geometrically
  }
}

void TFlexWriter::clear() {
  if (!fFileStyle) SB.clear();
}

std::string TFlexWriter::TakeString() {
  std::string out = std::move(SB);
  SB.clear();
  return out;
}

void TFlexWriter::Close() {
  auto file = std::move(f);
  if (file) file->Close();
}

// ---------------------------------------------------------------------------
// TGISWriterGeoJSON

TGISWriterGeoJSON::TGISWriterGeoJSON() = default;
TGISWriterGeoJSON::~TGISWriterGeoJSON() = default;

void TGISWriterGeoJSON::StartHeader(int32_t NumFields, TObjectTypes ObjectTypes) {
  TGISWriter::StartHeader(NumFields, ObjectTypes);
  FKeys.clear();
  s = std::make_unique<TFlexWriter>(FileName.empty() ? std::string() : FileName + ".geojson");
  FCreated = !FileName.empty();
  std::string& t = FText;
  t = "{\"type\":\"FeatureCollection\",";
  if (epsg != cEpsgWGS84) {
    t += "\"crs\":{\"type\":\"name\",\"properties\":{\"name\":\"EPSG:";
    t += IntToStr(epsg);
    t += "\"}},";
  }
  t += "\"features\":[";
  s->append(t);
}

void TGISWriterGeoJSON::BeginFeature(const std::string& Attrib) {
  if (!s) RaiseNoOutput(FileName.empty() ? std::string("GeoJSON") : FileName + ".geojson");
  SplitAttributes(Attrib);
  if (FKeys.size() != size_t(FNumFields) + 1) {
    FKeys.assign(1, std::string());
    for (int32_t i = 1; i <= FNumFields; ++i) FKeys.push_back(EscapeJSON(FFieldInfo[size_t(i)].Name));
  }
  std::string& t = FText;
  t.clear();
  if (FWrittenRecords > 0) t += ',';
  ++FWrittenRecords;
  t += "{\"type\":\"Feature\",\"properties\":{";
  for (int32_t i = 1; i <= FNumFields; ++i) {
    const TFieldInfo& fi = FFieldInfo[size_t(i)];
    const std::string& v = FSL[size_t(i) - 1];
    if (i > 1) t += ',';
    t += '"';
    t += FKeys[size_t(i)];
    t += "\":";
    switch (fi.FieldType) {
      case gfInteger:
      case gfSmallInt:
      case gfDecimal:
      case gfFloat:
      case gfInt64:
        // A text that is no JSON number would break the whole document.
        t += IsJSONNumber(v) ? std::string_view(v) : std::string_view("null");
        break;
      case gfDate:
        t += '"';
        AppendEscapeJSON(t, FormatISODate(v));
        t += '"';
        break;
      case gfTime:
        t += '"';
        AppendEscapeJSON(t, FormatISOTime(v));
        t += '"';
        break;
      case gfDateTime:
        t += '"';
        AppendEscapeJSON(t, FormatISODateTime(v));
        t += '"';
        break;
      case gfLogical:
        t += IsTrueText(v) ? "\"true\"" : "\"false\"";
        break;
      default:
        t += '"';
        AppendEscapeJSON(t, v);
        t += '"';
        break;
    }
  }
  t += "},\"geometry\":";
}

void TGISWriterGeoJSON::AppendPositions(const TFloatPointArrayEx& SegList) {
  std::string& t = FText;
  t += '[';
  const TFloatPoint* p = SegList.Pnt.data();
  for (int32_t i = 0; i < SegList.Count; ++i) {
    if (i > 0) t += ',';
    t += '[';
    t += FloatToStrDot(p[i].x);
    t += ',';
    t += FloatToStrDot(p[i].y);
    t += ']';
  }
  t += ']';
}

void TGISWriterGeoJSON::AddPoint(double X, double Y, const std::string& Attrib) {
  const std::string x = FloatToStrDot(X), y = FloatToStrDot(Y);
  BeginFeature(Attrib);
  FText += "{\"type\":\"Point\",\"coordinates\":[";
  FText += x;
  FText += ',';
  FText += y;
  FText += "]}}";
  s->append(FText);
}

void TGISWriterGeoJSON::StartObject(int32_t NumParts, const std::string& Attrib) {
  BeginFeature(Attrib);
  TGISWriter::StartObject(NumParts, Attrib);
  std::string& t = FText;
  if (NumParts <= 0 || (FObjectTypes != otPline && FObjectTypes != otRegion)) {
    t += "null}";
  } else {
    t += "{\"type\":\"";
    if (FObjectTypes == otPline)
      t += NumParts == 1 ? "LineString" : "MultiLineString";
    else
      t += FmultiPolygon ? "MultiPolygon" : "Polygon";
    t += "\",\"coordinates\":";
  }
  s->append(t);
}

void TGISWriterGeoJSON::WriteSection(int32_t Index, TFloatPointArrayEx& SegList) {
  const bool first = FPartIndex == 0;
  const bool last = FPartIndex == FNumParts - 1;
  const bool starts = FObjectTypes == otRegion && StartsPolygon(Index);
  if (starts && !first && !FmultiPolygon)
    throw Exception("Region record with several polygons must be declared multiPolygon");
  TGISWriter::WriteSection(Index, SegList);
  std::string& t = FText;
  t.clear();
  if (FObjectTypes == otPline) {
    if (FNumParts > 1) t += first ? "[" : ",";
    AppendPositions(SegList);
    if (last) t += FNumParts > 1 ? "]}}" : "}}";
  } else if (FObjectTypes == otRegion) {
    // One rule for any number of parts: a declared multi-polygon of one part
    // still nests as [[ring]] under its type.
    if (FmultiPolygon && first) t += '[';
    if (starts && !first) t += ']';
    if (!first) t += ',';
    if (starts) t += '[';
    AppendPositions(SegList);
    if (FmultiPolygon && last) t += ']';
    if (last) t += "]}}";
  }
  s->append(t);
}

void TGISWriterGeoJSON::Close() {
  TGISWriter::Close();
  if (!s) return;
  Fopen = false;
  auto sink = std::move(s);
  sink->append("]}");
  GeoJSON = sink->TakeString();
  sink->Close();
}

void TGISWriterGeoJSON::Drop() {
  try {
    Close();
  } catch (...) {
    if (FCreated) RemoveFileQuietly(FileName + ".geojson");
    throw;
  }
  if (FCreated) RemoveFileQuietly(FileName + ".geojson");
}

}  // namespace kovra
