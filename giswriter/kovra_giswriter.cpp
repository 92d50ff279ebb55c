#include "giswriter/kovra_giswriter.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

// ---------------------------------------------------------------------------
// STAND-IN until the foundation modules land on main (code pages, number
// text, comma text, great-circle angle, file stream): minimal local versions
// with the interfaces of those modules. Removed at the merge.
#include <fcntl.h>
#include <unistd.h>
#include <unicode/ucnv.h>

namespace kovra {
namespace {

uint16_t GetSystemAnsiCodePage() { return 1252; }
bool IsUTF8CodePage(uint16_t cp) { return cp == 65001; }
bool IsUTF16CodePage(uint16_t cp) { return cp == 1200; }
uint16_t ResolveCodePage(uint16_t cp) { return cp == 0 ? GetSystemAnsiCodePage() : cp; }

UConverter* OpenConverter(uint16_t cp) {
  for (const char* prefix : {"windows-", "ibm-"}) {
    UErrorCode err = U_ZERO_ERROR;
    UConverter* c = ucnv_open((std::string(prefix) + std::to_string(cp)).c_str(), &err);
    if (U_SUCCESS(err)) return c;
  }
  return nullptr;
}

void CheckCodePage(uint16_t cp) {
  cp = ResolveCodePage(cp);
  if (cp == 65001 || cp == 1200 || cp == 620 || cp == 895) {
    if (cp == 65001 || cp == 1200) return;
    throw Exception(Format("Code page %d is not supported", cp));
  }
  UConverter* c = OpenConverter(cp);
  if (!c) throw Exception(Format("Code page %d is not supported", cp));
  ucnv_close(c);
}

bool IsSingleByteCodePage(uint16_t cp) {
  cp = ResolveCodePage(cp);
  if (cp == 65001 || cp == 1200) return false;
  UConverter* c = OpenConverter(cp);
  if (!c) throw Exception(Format("Code page %d is not supported", cp));
  bool single = ucnv_getMaxCharSize(c) == 1;
  ucnv_close(c);
  return single;
}

std::string StringToCodePage(std::string_view S, uint16_t cp) {
  cp = ResolveCodePage(cp);
  if (cp == 65001) return std::string(S);
  std::u16string u = ToUtf16(S);
  if (cp == 1200) {
    std::string out;
    for (char16_t c : u) {
      out += char(c & 0xFF);
      out += char(c >> 8);
    }
    return out;
  }
  UConverter* c = OpenConverter(cp);
  if (!c) throw Exception(Format("Code page %d is not supported", cp));
  UErrorCode err = U_ZERO_ERROR;
  ucnv_setSubstChars(c, "?", 1, &err);
  std::string out(u.size() * 4 + 4, '\0');
  err = U_ZERO_ERROR;
  int32_t n = ucnv_fromUChars(c, out.data(), int32_t(out.size()), reinterpret_cast<const UChar*>(u.data()),
                              int32_t(u.size()), &err);
  ucnv_close(c);
  out.resize(size_t(std::max(n, 0)));
  return out;
}

std::string FloatToStrDot(double Value) { return FloatToStrG15(Value); }

double GreatCircleAngleDeg(const TFloatPoint& P1, const TFloatPoint& P2) {
  const double k = 0.017453292519943295;
  double lat1 = P1.y * k, lat2 = P2.y * k, lon1 = P1.x * k, lon2 = P2.x * k;
  double a = std::sin((lat1 - lat2) / 2), b = std::sin((lon1 - lon2) / 2);
  double r = a * a + std::cos(lat1) * std::cos(lat2) * b * b;
  if (r < 0) RaiseInvalidOp();
  double s = std::sqrt(r);
  if (!(s < 1)) s = 1;
  return 2 * std::asin(s);
}

// Read-write access to an existing file at given offsets.
class TPatchFile {
public:
  explicit TPatchFile(const std::string& Name) : FName(Name), FFd(::open(Name.c_str(), O_RDWR | O_CLOEXEC)) {
    if (FFd < 0) throw EFOpenError(Format("Cannot open file \"%s\". %s", Name, std::strerror(errno)));
  }
  ~TPatchFile() {
    if (FFd >= 0) ::close(FFd);
  }
  bool ReadAt(int64_t Offset, std::string& Out, size_t Count) {
    Out.assign(Count, '\0');
    return ::pread(FFd, Out.data(), Count, Offset) == ssize_t(Count);
  }
  void WriteAt(int64_t Offset, const std::string& Data) {
    if (::pwrite(FFd, Data.data(), Data.size(), Offset) != ssize_t(Data.size()))
      throw EWriteError("Stream write error");
  }
  void Close() {
    int fd = FFd;
    FFd = -1;
    if (::close(fd) != 0) throw EWriteError("Stream write error");
  }

private:
  std::string FName;
  int FFd;
};

}  // namespace

// External linkage, same signature as the comma-text module's, so the
// benchmark can compare against it.
void SplitCommaText(std::string_view S, std::vector<std::string>& Fields) {
  size_t count = 0;
  auto add = [&](std::string_view v) {
    if (count < Fields.size())
      Fields[count].assign(v);
    else
      Fields.emplace_back(v);
    ++count;
  };
  auto isBlank = [](char c) { return c >= 1 && c <= 32; };
  size_t i = 0, n = S.size();
  while (i < n && isBlank(S[i])) ++i;
  std::string quoted;
  while (i < n) {
    if (S[i] == '"') {
      quoted.clear();
      ++i;
      while (i < n) {
        if (S[i] == '"') {
          if (i + 1 < n && S[i + 1] == '"') {
            quoted += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        quoted += S[i++];
      }
      add(quoted);
    } else {
      size_t start = i;
      while (i < n && S[i] != ',' && !isBlank(S[i])) ++i;
      add(S.substr(start, i - start));
    }
    while (i < n && isBlank(S[i])) ++i;
    if (i < n && S[i] == ',') {
      if (i == n - 1) add({});
      ++i;
      while (i < n && isBlank(S[i])) ++i;
    }
  }
  Fields.resize(count);
}

}  // namespace kovra
// END OF STAND-IN
// ---------------------------------------------------------------------------

namespace kovra {

namespace {

constexpr double cDegRad = 0.017453292519943295;  // pi/180
constexpr double cRadDeg = 57.29577951308232;     // 180/pi
constexpr double cPi = 3.141592653589793;
constexpr double cTwoPiRad = 6.283185307179586;
// Below these, the course of a segment is undefined (pole start, antipodal
// ends): such segments get no intermediate points.
constexpr double cDegenerate = 1e-12;

constexpr uint32_t cCenterColors[15] = {0xFF0000, 0x00FF00, 0xFFFF00, 0x80FFFF, 0xFF8000,
                                        0x994D4D, 0x408080, 0x0000FF, 0x808080, 0xC0C0C0,
                                        0xFF0080, 0x808000, 0xFF80C0, 0x008080, 0x8080FF};
constexpr uint32_t cBandColors[4] = {0x0000FF, 0x50A8FF, 0x00FFFF, 0xFF00FF};

std::string_view TrimBlanks(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (unsigned char)s[b] <= 32) ++b;
  while (e > b && (unsigned char)s[e - 1] <= 32) --e;
  return s.substr(b, e - b);
}

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
  if (std::fabs(std::cos(A.y * cDegRad)) < cDegenerate || std::fabs(std::sin(angle)) < cDegenerate) return 0;
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
      const double lat1 = a.y * cDegRad, lon1 = a.x * cDegRad;
      const double lat2 = b.y * cDegRad, lon2 = b.x * cDegRad;
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
        lon -= cTwoPiRad * std::floor(lon / cTwoPiRad);
        if (lon >= cTwoPiRad) lon -= cTwoPiRad;
        lon -= cPi;
        p[dst - (k + 1) + j] = TFloatPoint{lon * cRadDeg, lat * cRadDeg};
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
    else if (IsUTF16CodePage(FCodepage) || FEncoding == nullptr || IsSingleByteCodePage(FCodepage))
      n = int64_t(Utf16Length(v));  // characters, as a single-byte page stores them
    else
      n = FEncoding->ByteCount(v);  // multi-byte pages: what DBF and TAB store
    w = std::max(w, n);
  }
  width = int32_t(std::min<int64_t>(w, MaxInt));
  for (const std::string& v : SL) {
    std::string_view t = TrimBlanks(v);
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
  TPatchFile f(name);
  std::string have;
  for (int i = 0; i < 4; ++i) {
    const std::string expected = *tags[i] + std::string(cBoundsPlaceholder);
    const int64_t at = FBoundsOffset[size_t(i)];
    if (at < 0 || !f.ReadAt(at, have, expected.size()) || have != expected)
      throw Exception(Format("Bounds placeholder %d (%s) not found at byte %d of \"%s\"", i + 1, *tags[i],
                             at, name));
  }
  for (int i = 0; i < 4; ++i) f.WriteAt(FBoundsOffset[size_t(i)] + int64_t(tags[i]->size()), texts[i]);
  f.Close();
}

}  // namespace kovra
