#include "foundation/kovra_functions.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <random>

#include "foundation/kovra_textfilereader.h"

namespace kovra {

namespace {

const std::array<std::string, 12> cEnglishMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

TFormatSettings MakeSettings(std::string shortDate, std::string longTime) {
  TFormatSettings s;
  s.DecimalSeparator = '.';
  s.ThousandSeparator = ',';
  s.ListSeparator = ',';
  s.ShortDateFormat = std::move(shortDate);
  s.LongTimeFormat = std::move(longTime);
  s.ShortMonthNames = cEnglishMonths;
  return s;
}

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }
char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

// Fixed text of v with `decimals` digits into buf (at least 700 bytes); no '-'
// when every digit is 0. Returns the length.
size_t FixedText(char* buf, size_t size, double v, int decimals) {
  if (!std::isfinite(v)) RaiseInvalidOp();
  if (decimals < 0) decimals = 0;
  if (decimals > 350) decimals = 350;  // beyond any field width; keeps the text within 700 bytes
  auto res = std::to_chars(buf, buf + size, v, std::chars_format::fixed, decimals);
  size_t n = size_t(res.ptr - buf);
  if (n > 0 && buf[0] == '-') {
    bool allZero = true;
    for (size_t i = 1; i < n; ++i)
      if (buf[i] != '0' && buf[i] != '.') {
        allZero = false;
        break;
      }
    if (allZero) {
      std::memmove(buf, buf + 1, n - 1);
      --n;
    }
  }
  return n;
}

// DBF language-driver byte -> Windows code page (0 = unassigned).
struct TLanguageDriverTable {
  std::array<uint16_t, 256> Entry{};
  constexpr TLanguageDriverTable() {
    struct Row {
      uint16_t cp;
      uint8_t bytes[14];
      int n;
    };
    const Row rows[] = {
        {437, {0x01, 0x09, 0x0B, 0x0D, 0x0F, 0x11, 0x15, 0x18, 0x19, 0x1B, 0x5E, 0x5F, 0x86}, 13},
        {850, {0x02, 0x0A, 0x0C, 0x0E, 0x10, 0x12, 0x14, 0x16, 0x1A, 0x1D, 0x25, 0x37, 0x60, 0x9C}, 14},
        {1252, {0x03, 0x57, 0x58, 0x59, 0x61, 0x62}, 6},
        {10000, {0x04}, 1},
        {865, {0x08, 0x17, 0x66}, 3},
        {932, {0x13, 0x56, 0x7B}, 3},
        {863, {0x1C}, 1},
        {852, {0x1F, 0x22, 0x23, 0x64, 0x87}, 5},
        {867, {0x20}, 1},
        {860, {0x24}, 1},
        {866, {0x26, 0x65}, 2},
        {936, {0x4D, 0x7A}, 2},
        {949, {0x4E, 0x79}, 2},
        {950, {0x4F, 0x78}, 2},
        {874, {0x50, 0x7C}, 2},
        {861, {0x67}, 1},
        {895, {0x68}, 1},
        {620, {0x69}, 1},
        {737, {0x6A}, 1},
        {857, {0x6B, 0x88}, 2},
        {1255, {0x7D}, 1},
        {1256, {0x7E}, 1},
        {862, {0x85}, 1},
        {868, {0x8E}, 1},
        {10007, {0x96}, 1},
        {10029, {0x97}, 1},
        {10006, {0x98}, 1},
        {1250, {0x9B, 0xC8}, 2},
        {1251, {0xC9}, 1},
        {1254, {0xCA}, 1},
        {1253, {0xCB}, 1},
    };
    for (const Row& r : rows)
      for (int i = 0; i < r.n; ++i) Entry[r.bytes[i]] = r.cp;
  }
};

constexpr TLanguageDriverTable cLanguageDrivers;

}  // namespace

const TFormatSettings DotFormatSettings = MakeSettings("M/d/yyyy", "h:mm:ss AMPM");
const TFormatSettings ReportFormatSettings = MakeSettings("dd-mmm-yyyy", "hh:mm:ss");

// ---------------------------------------------------------------------------
// Number and duration text

int32_t FormatDBFNumber(char* Buffer, int32_t Width, int Decimals, double Value) {
  char text[1024];
  size_t n = FixedText(text, sizeof text, Value, Decimals);
  if (Width <= 0) return int32_t(n);
  size_t w = size_t(Width);
  if (n >= w) {
    std::memcpy(Buffer, text, w);
  } else {
    std::memset(Buffer, ' ', w - n);
    std::memcpy(Buffer + (w - n), text, n);
  }
  return int32_t(n);
}

int32_t FormatDBFNumber(uint8_t* Buffer, int32_t Width, int Decimals, double Value) {
  return FormatDBFNumber(reinterpret_cast<char*>(Buffer), Width, Decimals, Value);
}

std::string FloatToStrDot(double Value) { return FloatToStrG15(Value); }

std::string FloatToStrDecimals(double Value, int Decimals) {
  if (Decimals < 0) return FloatToStrDot(Value);
  if (Decimals == 0) return IntToStr(Round(Value));
  char text[1024];
  size_t n = FixedText(text, sizeof text, Value, std::min(Decimals, 10));
  return std::string(text, n);
}

std::string IntToStrZeroPad(int32_t Value) {
  if (Value >= 0 && Value <= 9) return std::string{'0', char('0' + Value)};
  return IntToStr(Value);
}

std::string MinutesToStr(double Minutes) {
  // Trunc raises EInvalidOp for non-finite values and values beyond Int64.
  const int64_t W = Trunc(Minutes);
  const int64_t S = Trunc((Minutes - std::trunc(Minutes)) * 60.0);
  const int64_t H = W / 60;
  const int64_t M = W % 60;
  if (H > 0) return IntToStr(H) + "h " + IntToStrZeroPad(int32_t(M)) + "m " + IntToStrZeroPad(int32_t(S)) + "s";
  if (M > 0) return IntToStr(M) + "m " + IntToStrZeroPad(int32_t(S)) + "s";
  return IntToStr(S) + "s";
}

std::string MinutesToQuotedStr(double Minutes) { return "\"" + MinutesToStr(Minutes) + "\""; }

void AppendQuoted(std::string& s, std::string_view Value) {
  s += '"';
  for (const char c : Value) {
    if (c == '"') s += '"';
    s += c;
  }
  s += '"';
}

std::string BoundsToStr(double xmin, double ymin, double xmax, double ymax) {
  auto num = [](double v) { return FloatToStrDot(std::fabs(v) < 1e-7 ? 0.0 : v); };
  return "Bounds (" + num(xmin) + ", " + num(ymin) + ") (" + num(xmax) + ", " + num(ymax) + ")";
}

int32_t MaxStringLength(const std::vector<std::string>& List) {
  size_t best = 0;
  for (const std::string& s : List) best = std::max(best, Utf16Length(s));  // UTF-16 code units
  return int32_t(std::min<size_t>(best, size_t(MaxInt)));
}

bool IsBetween(int32_t a, int32_t b, int32_t c) { return (b <= a && a <= c) || (c <= a && a <= b); }

int32_t CeilLog2(int32_t a) {
  // 64-bit p: a 32-bit doubling would overflow above 2^30 and never end.
  int64_t p = 1;
  int32_t n = 0;
  while (p < int64_t(a)) {
    p *= 2;
    ++n;
  }
  return n < 1 ? 1 : n;
}

// ---------------------------------------------------------------------------
// Number parsing

double ParseFloatDot(std::string_view S, bool& Overflow) {
  Overflow = false;
  size_t i = 0;
  const size_t n = S.size();
  while (i < n && S[i] == ' ') ++i;
  bool negative = false;
  if (i < n && (S[i] == '+' || S[i] == '-')) {
    negative = S[i] == '-';
    ++i;
  }
  const size_t mantStart = i;
  size_t intDigits = 0;
  while (i < n && S[i] >= '0' && S[i] <= '9') {
    ++i;
    ++intDigits;
  }
  size_t fracDigits = 0;
  size_t end = i;
  if (i < n && S[i] == '.') {
    size_t j = i + 1;
    while (j < n && S[j] >= '0' && S[j] <= '9') {
      ++j;
      ++fracDigits;
    }
    if (intDigits + fracDigits > 0) end = j;
  }
  if (intDigits + fracDigits == 0) return 0.0;
  const size_t mantEnd = end;
  int64_t exponent = 0;
  if (end < n && (S[end] == 'E' || S[end] == 'e')) {
    size_t j = end + 1;
    bool expNeg = false;
    if (j < n && (S[j] == '+' || S[j] == '-')) {
      expNeg = S[j] == '-';
      ++j;
    }
    if (j < n && S[j] >= '0' && S[j] <= '9') {
      while (j < n && S[j] >= '0' && S[j] <= '9') {
        if (exponent < 100000000) exponent = exponent * 10 + (S[j] - '0');
        ++j;
      }
      if (expNeg) exponent = -exponent;
      end = j;
    }
  }
  // from_chars takes no '+' and no leading '.', so give it a clean copy.
  std::string text;
  text.reserve(end - mantStart + 24);
  text.append(S.data() + mantStart, mantEnd - mantStart);
  if (intDigits == 0) text.insert(text.begin(), '0');
  if (end > mantEnd) {
    text += 'e';
    text += std::to_string(exponent);
  }
  double v = 0;
  auto res = std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::general);
  if (res.ec == std::errc::result_out_of_range) {
    // Too large or too small: tell them apart by the decimal magnitude.
    int64_t magnitude = exponent;
    std::string_view digits(S.data() + mantStart, mantEnd - mantStart);
    size_t firstNonZero = digits.find_first_not_of("0.");
    if (firstNonZero == std::string_view::npos) return negative ? -0.0 : 0.0;
    size_t dot = digits.find('.');
    if (dot == std::string_view::npos) dot = digits.size();
    magnitude += firstNonZero < dot ? int64_t(dot - firstNonZero) : -int64_t(firstNonZero - dot - 1);
    if (magnitude > 0) {
      Overflow = true;
      return 0.0;
    }
    return negative ? -0.0 : 0.0;
  }
  if (res.ec != std::errc()) return 0.0;
  return negative ? -v : v;
}

bool TryStrToInt64(std::string_view S, int64_t& Value) {
  size_t i = 0;
  const size_t n = S.size();
  while (i < n && S[i] == ' ') ++i;
  bool negative = false;
  if (i < n && (S[i] == '+' || S[i] == '-')) {
    negative = S[i] == '-';
    ++i;
  }
  int base = 10;
  if (i < n && S[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < n && S[i] == '0' && (S[i + 1] == 'x' || S[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= n) return false;
  uint64_t mag = 0;
  const uint64_t limit = negative ? uint64_t(INT64_MAX) + 1 : uint64_t(INT64_MAX);
  for (; i < n; ++i) {
    char c = S[i];
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return false;
    if (mag > (limit - uint64_t(d)) / uint64_t(base)) return false;
    mag = mag * uint64_t(base) + uint64_t(d);
  }
  Value = negative ? int64_t(0 - mag) : int64_t(mag);
  return true;
}

bool TryStrToInt(std::string_view S, int32_t& Value) {
  int64_t v;
  if (!TryStrToInt64(S, v) || v < INT32_MIN || v > INT32_MAX) return false;
  Value = int32_t(v);
  return true;
}

int64_t StrToInt64(std::string_view S) {
  int64_t v;
  if (!TryStrToInt64(S, v)) throw EConvertError(Format("'%s' is not a valid integer value", S));
  return v;
}

int32_t StrToInt(std::string_view S) {
  int32_t v;
  if (!TryStrToInt(S, v)) throw EConvertError(Format("'%s' is not a valid integer value", S));
  return v;
}

// ---------------------------------------------------------------------------
// Strings

std::string EscapeXML(std::string_view S) {
  std::string out;
  out.reserve(S.size() + S.size() / 8);
  const auto* p = reinterpret_cast<const unsigned char*>(S.data());
  size_t pos = 0;
  while (pos < S.size()) {
    unsigned char b = p[pos];
    if (b < 0x80) {
      ++pos;
      switch (b) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        case '\t': case '\n': case '\r': out += char(b); break;
        default:
          // XML 1.0 cannot carry the other C0 controls, not even as references.
          if (b >= 0x20) out += char(b);
      }
      continue;
    }
    size_t start = pos;
    char32_t cp = NextCodePoint(S, pos);
    if (cp == 0xFFFE || cp == 0xFFFF) continue;
    if (cp == 0xFFFD && !(pos - start == 3 && p[start] == 0xEF && p[start + 1] == 0xBF && p[start + 2] == 0xBD))
      AppendUtf8(out, 0xFFFD);  // invalid byte
    else
      out.append(S.data() + start, pos - start);
  }
  return out;
}

namespace {
inline uint32_t HashStep(uint32_t h, char16_t c, uint32_t Mask) { return (h * 17u + uint32_t(c)) & Mask; }
}  // namespace

uint32_t HashString(std::string_view S, uint32_t Mask) {
  uint32_t h = 0;
  ForEachUtf16Unit(S, [&](char16_t c) { h = HashStep(h, c, Mask); });  // UTF-16 code units
  return h;
}

uint32_t HashString(std::u16string_view S, uint32_t Mask) {
  uint32_t h = 0;
  for (char16_t c : S) h = HashStep(h, c, Mask);
  return h;
}

int64_t UTF8Length(std::string_view S) { return int64_t(S.size()); }

uint16_t LanguageDriver2CodePage(uint8_t Driver) { return cLanguageDrivers.Entry[Driver]; }

uint8_t CodePage2LanguageDriver(uint16_t CodePage) {
  for (int b = 0; b < 256; ++b)
    if (cLanguageDrivers.Entry[size_t(b)] == CodePage) return uint8_t(b);
  return 0;
}

// ---------------------------------------------------------------------------
// Files and memory

TCoordinateUnit PrjToCoordinateUnit(std::string_view Prj) {
  const std::string text = UpperAscii(Prj);
  std::string name;
  size_t last = std::string::npos;
  for (size_t p = text.find("UNIT"); p != std::string::npos; p = text.find("UNIT", p + 1)) last = p;
  if (last == std::string::npos) {
    name = text.substr(0, text.find('"'));
  } else {
    size_t open = text.find('"', last);
    if (open == std::string::npos) return cuUnknown;
    size_t close = text.find('"', open + 1);
    if (close == std::string::npos) return cuUnknown;
    name = text.substr(open + 1, close - open - 1);
  }
  static const struct {
    const char* name;
    TCoordinateUnit unit;
  } units[] = {
      {"DECIMAL DEGREE", cuDeg}, {"DEGREE", cuDeg},
      {"GRAD", cuGrad},
      {"METER", cuM}, {"METRE", cuM},
      {"CHAIN_BENOIT_1895_B", cuChain}, {"CHAIN_SEARS", cuChain},
      {"FOOT", cuFt}, {"FOOT_BRITISH_1936", cuFt}, {"FOOT_CLARKE", cuFt}, {"FOOT_GOLD_COAST", cuFt},
      {"FOOT_SEARS", cuFt}, {"FOOT_US", cuFt},
      {"LINK_CLARKE", cuLink},
      {"YARD_INDIAN", cuYard}, {"YARD_INDIAN_1937", cuYard}, {"YARD_SEARS", cuYard},
  };
  for (const auto& u : units)
    if (name == u.name) return u.unit;
  return cuUnknown;
}

std::string ReadFirstLine(const std::string& FileName) {
  struct stat st;
  if (::stat(FileName.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return std::string();
  TTextFileReader reader(FileName, 0);
  return reader.ReadLine();
}

int64_t GetFileSizeByName(const std::string& FileName) {
  struct stat st;
  if (::stat(FileName.c_str(), &st) != 0) return -1;
  return int64_t(st.st_size);
}

bool DirectoryIsWritable(const std::string& Directory) {
  std::string dir = Directory;
  if (dir.empty() || dir.back() != '/') dir += '/';
  thread_local std::mt19937_64 gen{std::random_device{}()};
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::uniform_int_distribution<int> pick(0, 35);
  for (int attempt = 0; attempt < 1000; ++attempt) {
    std::string name = dir;
    for (int k = 0; k < 8; ++k) name += alphabet[pick(gen)];
    name += '.';
    for (int k = 0; k < 3; ++k) name += alphabet[pick(gen)];
    // O_EXCL: never truncate a file that another process has just made.
    int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return false;
    }
    ::close(fd);
    ::unlink(name.c_str());
    return true;
  }
  return false;
}

std::string FindSibling(const std::string& Path, std::string_view Ext) {
  TSiblingFinder finder;
  return finder.Find(Path, Ext);
}

std::string TSiblingFinder::Find(const std::string& Path, std::string_view Ext) {
  if (!Ext.empty() && Ext.front() == '.') Ext.remove_prefix(1);
  const size_t slash = Path.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : Path.substr(0, slash + 1);
  std::string stem = slash == std::string::npos ? Path : Path.substr(slash + 1);
  const size_t dot = stem.rfind('.');
  if (dot != std::string::npos) stem.resize(dot);
  const std::string ext(Ext);
  std::string lower = ext, upper = ext;
  for (char& c : lower) c = LowerAscii(c);
  for (char& c : upper) c = UpperAscii(c);
  auto isFile = [](const std::string& p) {
    struct stat st;
    return ::stat(p.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
  };
  for (const std::string& e : {ext, lower, upper}) {
    std::string candidate = dir + stem + "." + e;
    if (isFile(candidate)) return candidate;
  }
  // The case-insensitive scan: one listing per folder, names grouped by their
  // upper-case form in sorted order.
  auto it = FFolders.find(dir);
  if (it == FFolders.end()) {
    TListing listing;
    if (DIR* d = ::opendir(dir.empty() ? "." : dir.c_str())) {
      while (dirent* entry = ::readdir(d)) listing[UpperAscii(entry->d_name)].emplace_back(entry->d_name);
      ::closedir(d);
    }
    for (auto& [key, names] : listing) std::sort(names.begin(), names.end());
    it = FFolders.emplace(dir, std::move(listing)).first;
  }
  auto hit = it->second.find(UpperAscii(stem + "." + ext));
  if (hit == it->second.end()) return {};
  for (const std::string& n : hit->second)
    if (isFile(dir + n)) return dir + n;
  return {};
}

void FillSingle(float* P, int32_t Count, float Value) {
  if (Count > 0) std::fill_n(P, Count, Value);
}

void FillInteger(int32_t* P, int32_t Count, int32_t Value) {
  if (Count > 0) std::fill_n(P, Count, Value);
}

void FillWord(uint16_t* P, int32_t Count, uint16_t Value) {
  if (Count > 0) std::fill_n(P, Count, Value);
}

}  // namespace kovra
