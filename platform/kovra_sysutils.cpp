#include "platform/kovra_sysutils.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

namespace kovra {

void RaiseInvalidOp() { throw EInvalidOp(cMsgInvalidOp); }
void RaiseZeroDivide() { throw EZeroDivide(cMsgZeroDivide); }
void RaiseOverflow() { throw EOverflow(cMsgOverflow); }
void RaiseDivByZero() { throw EDivByZero(cMsgDivByZero); }

double CheckFinite(double v) {
  if (std::isnan(v)) RaiseInvalidOp();
  if (std::isinf(v)) RaiseOverflow();
  return v;
}

namespace {

// 2^63 exactly; every double below it (and >= -2^63) converts to int64_t.
constexpr double cTwo63 = 9223372036854775808.0;

int64_t ToInt64Checked(double r) {
  if (!(r >= -cTwo63 && r < cTwo63)) RaiseInvalidOp();  // NaN fails too
  return static_cast<int64_t>(r);
}

int32_t ToInt32Checked(double r) {
  if (!(r >= -2147483648.0 && r <= 2147483647.0)) RaiseInvalidOp();
  return static_cast<int32_t>(r);
}

}  // namespace

int64_t Round(double v) { return ToInt64Checked(std::nearbyint(v)); }
int32_t Round32(double v) { return ToInt32Checked(std::nearbyint(v)); }
int64_t Trunc(double v) { return ToInt64Checked(std::trunc(v)); }
int32_t Trunc32(double v) { return ToInt32Checked(std::trunc(v)); }

double Divide(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) RaiseInvalidOp();
  if (b == 0.0) {
    if (a == 0.0) RaiseInvalidOp();
    RaiseZeroDivide();
  }
  double r = a / b;
  if (std::isnan(r)) RaiseInvalidOp();
  if (std::isinf(r) && !std::isinf(a)) RaiseOverflow();
  return r;
}

int64_t IntDiv(int64_t a, int64_t b) {
  if (b == 0) RaiseDivByZero();
  if (b == -1) return int64_t(0 - uint64_t(a));  // wraps like the hardware for INT64_MIN
  return a / b;
}

int64_t IntMod(int64_t a, int64_t b) {
  if (b == 0) RaiseDivByZero();
  if (b == -1) return 0;
  return a % b;
}

// ---------------------------------------------------------------------------

std::string FloatToStrG15(double v) { return FloatToStrG(v, 15); }

std::string FloatToStrG(double v, int digits) {
  if (!std::isfinite(v)) RaiseInvalidOp();
  if (v == 0.0) return "0";
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, std::clamp(digits, 1, 17));
  std::string s(buf, res.ptr);
  size_t e = s.find('e');
  if (e == std::string::npos) return s;
  // "1.5e-06" -> "1.5E-6", "1e+20" -> "1E20"
  std::string out = s.substr(0, e);
  out += 'E';
  size_t p = e + 1;
  if (s[p] == '-') {
    out += '-';
    ++p;
  } else if (s[p] == '+') {
    ++p;
  }
  while (p + 1 < s.size() && s[p] == '0') ++p;
  out.append(s, p, std::string::npos);
  return out;
}

std::string FloatToStrFixed(double v, int decimals) {
  if (!std::isfinite(v)) RaiseInvalidOp();
  if (decimals < 0) decimals = 0;
  if (decimals > 300) decimals = 300;
  std::string buf(400, '\0');
  auto res = std::to_chars(buf.data(), buf.data() + buf.size(), v, std::chars_format::fixed, decimals);
  buf.resize(size_t(res.ptr - buf.data()));
  if (!buf.empty() && buf[0] == '-') {
    bool allZero = true;
    for (size_t i = 1; i < buf.size(); ++i)
      if (buf[i] != '0' && buf[i] != '.') {
        allZero = false;
        break;
      }
    if (allZero) buf.erase(0, 1);
  }
  return buf;
}

std::string FloatToStrN(double v, int decimals) {
  std::string s = FloatToStrFixed(v, decimals);
  size_t start = (!s.empty() && s[0] == '-') ? 1 : 0;
  size_t dot = s.find('.');
  size_t intEnd = dot == std::string::npos ? s.size() : dot;
  std::string out = s.substr(0, start);
  size_t digits = intEnd - start;
  for (size_t i = 0; i < digits; ++i) {
    if (i > 0 && (digits - i) % 3 == 0) out += ',';
    out += s[start + i];
  }
  out.append(s, intEnd, std::string::npos);
  return out;
}

std::string IntToStr(int64_t v) {
  char buf[32];
  auto res = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, res.ptr);
}

// ---------------------------------------------------------------------------

namespace {

[[noreturn]] void RaiseFormatError(std::string_view fmt) {
  throw EConvertError("Format '" + std::string(fmt) + "' invalid or incompatible with argument");
}

std::string ToHexUpper(uint64_t v) {
  char buf[32];
  auto res = std::to_chars(buf, buf + sizeof buf, v, 16);
  std::string s(buf, res.ptr);
  for (char& c : s)
    if (c >= 'a' && c <= 'f') c = char(c - 'a' + 'A');
  return s;
}

std::string FormatE(double v, int precision) {
  if (!std::isfinite(v)) RaiseInvalidOp();
  if (precision < 1) precision = 1;
  if (precision > 17) precision = 17;
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, precision - 1);
  std::string s(buf, res.ptr);
  size_t e = s.find('e');
  std::string out = s.substr(0, e);
  out += 'E';
  std::string_view exp(s.c_str() + e + 1);
  char sign = exp[0];
  exp.remove_prefix(1);
  out += sign;
  for (size_t i = exp.size(); i < 3; ++i) out += '0';
  out += exp;
  return out;
}

}  // namespace

std::string FormatV(std::string_view fmt, const std::vector<FormatArg>& args) {
  std::string out;
  out.reserve(fmt.size() + 16 * args.size());
  size_t argIndex = 0;
  auto nextArg = [&]() -> const FormatArg& {
    if (argIndex >= args.size()) RaiseFormatError(fmt);
    return args[argIndex++];
  };
  // Widths and precisions beyond the cap are refused, from the pattern and from
  // a '*' argument alike: a stray value would ask for gigabytes of blanks.
  constexpr int64_t cMaxWidth = 100000;
  auto nextInt = [&]() -> int64_t {
    const auto& a = nextArg();
    if (auto p = std::get_if<int64_t>(&a.Value()); p && *p <= cMaxWidth) return *p;
    RaiseFormatError(fmt);
  };

  size_t i = 0;
  while (i < fmt.size()) {
    char c = fmt[i];
    if (c != '%') {
      out += c;
      ++i;
      continue;
    }
    ++i;
    if (i >= fmt.size()) RaiseFormatError(fmt);
    if (fmt[i] == '%') {
      out += '%';
      ++i;
      continue;
    }
    bool leftAlign = false;
    if (fmt[i] == '-') {
      leftAlign = true;
      ++i;
    }
    int64_t width = -1, precision = -1;
    if (i < fmt.size() && fmt[i] == '*') {
      width = nextInt();
      ++i;
    } else {
      while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') {
        width = (width < 0 ? 0 : width) * 10 + (fmt[i] - '0');
        if (width > cMaxWidth) RaiseFormatError(fmt);
        ++i;
      }
    }
    if (i < fmt.size() && fmt[i] == '.') {
      ++i;
      precision = 0;
      if (i < fmt.size() && fmt[i] == '*') {
        precision = nextInt();
        ++i;
      } else {
        while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') {
          precision = precision * 10 + (fmt[i] - '0');
          if (precision > cMaxWidth) RaiseFormatError(fmt);
          ++i;
        }
      }
    }
    if (i >= fmt.size()) RaiseFormatError(fmt);
    char conv = fmt[i++];
    if (conv >= 'A' && conv <= 'Z') conv = char(conv - 'A' + 'a');
    const FormatArg& arg = nextArg();
    const auto& val = arg.Value();
    std::string piece;
    auto asDouble = [&]() -> double {
      if (auto p = std::get_if<double>(&val)) return *p;
      if (auto p = std::get_if<int64_t>(&val)) return double(*p);
      RaiseFormatError(fmt);
    };
    switch (conv) {
      case 'd':
      case 'u': {
        auto p = std::get_if<int64_t>(&val);
        if (!p) RaiseFormatError(fmt);
        int64_t v = *p;
        if (conv == 'u' && v < 0) v = int64_t(uint32_t(v));
        std::string digits = v < 0 ? IntToStr(v).substr(1) : IntToStr(v);
        if (precision > 0 && int64_t(digits.size()) < precision)
          digits.insert(0, size_t(precision) - digits.size(), '0');
        piece = (v < 0 ? "-" : "") + digits;
        break;
      }
      case 'x': {
        auto p = std::get_if<int64_t>(&val);
        if (!p) RaiseFormatError(fmt);
        uint64_t v = (*p >= INT32_MIN && *p <= UINT32_MAX) ? uint64_t(uint32_t(*p)) : uint64_t(*p);
        piece = ToHexUpper(v);
        if (precision > 0 && int64_t(piece.size()) < precision)
          piece.insert(0, size_t(precision) - piece.size(), '0');
        break;
      }
      case 's': {
        auto p = std::get_if<std::string>(&val);
        if (!p) RaiseFormatError(fmt);
        piece = *p;
        if (precision >= 0 && int64_t(piece.size()) > precision) piece.resize(size_t(precision));
        break;
      }
      case 'g':
        piece = FloatToStrG15(asDouble());  // precision beyond 15 is not used by the library
        break;
      case 'f':
        piece = FloatToStrFixed(asDouble(), precision < 0 ? 2 : int(precision));
        break;
      case 'n':
        piece = FloatToStrN(asDouble(), precision < 0 ? 2 : int(precision));
        break;
      case 'e':
        piece = FormatE(asDouble(), precision < 0 ? 15 : int(precision));
        break;
      default:
        RaiseFormatError(fmt);
    }
    if (width > 0 && int64_t(piece.size()) < width) {
      size_t pad = size_t(width) - piece.size();
      if (leftAlign)
        piece.append(pad, ' ');
      else
        piece.insert(0, pad, ' ');
    }
    out += piece;
  }
  return out;
}

// ---------------------------------------------------------------------------

char32_t NextCodePoint(std::string_view s, size_t& pos) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  size_t n = s.size();
  unsigned char b0 = p[pos];
  if (b0 < 0x80) {
    ++pos;
    return b0;
  }
  int len;
  char32_t cp;
  char32_t minCp;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2;
    cp = b0 & 0x1F;
    minCp = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3;
    cp = b0 & 0x0F;
    minCp = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4;
    cp = b0 & 0x07;
    minCp = 0x10000;
  } else {
    ++pos;
    return 0xFFFD;
  }
  if (pos + size_t(len) > n) {
    ++pos;
    return 0xFFFD;
  }
  for (int k = 1; k < len; ++k) {
    unsigned char b = p[pos + size_t(k)];
    if ((b & 0xC0) != 0x80) {
      ++pos;
      return 0xFFFD;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < minCp || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++pos;
    return 0xFFFD;
  }
  pos += size_t(len);
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  char buf[4];
  out.append(buf, size_t(PutUtf8(buf, cp) - buf));
}

size_t Utf16Length(std::string_view s) {
  size_t n = 0;
  size_t pos = 0;
  while (pos < s.size()) {
    unsigned char b = static_cast<unsigned char>(s[pos]);
    if (b < 0x80) {  // ASCII fast path
      ++pos;
      ++n;
      continue;
    }
    n += NextCodePoint(s, pos) >= 0x10000 ? 2 : 1;
  }
  return n;
}

std::u16string ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  ForEachUtf16Unit(s, [&](char16_t u) { out += u; });
  return out;
}

std::string FromUtf16(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    char32_t u = s[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      u = 0x10000 + ((u - 0xD800) << 10) + (char32_t(s[i + 1]) - 0xDC00);
      ++i;
    }
    AppendUtf8(out, u);  // a lone surrogate becomes U+FFFD
  }
  return out;
}

namespace {
inline char UpperAsciiChar(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }
}  // namespace

std::string UpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = UpperAsciiChar(c);
  return out;
}

bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (UpperAsciiChar(a[i]) != UpperAsciiChar(b[i])) return false;
  return true;
}

namespace {
template <typename V>
V TrimImpl(V s) {
  using U = std::make_unsigned_t<typename V::value_type>;
  size_t b = 0, e = s.size();
  while (b < e && U(s[b]) <= 0x20) ++b;
  while (e > b && U(s[e - 1]) <= 0x20) --e;
  return s.substr(b, e - b);
}
}  // namespace

std::string_view TrimView(std::string_view s) { return TrimImpl(s); }
std::u16string_view TrimView(std::u16string_view s) { return TrimImpl(s); }

namespace {
template <typename S, typename V>
S CopyImpl(V s, int64_t index, int64_t count) {
  if (count <= 0) return S();
  if (index < 1) index = 1;
  if (uint64_t(index) > s.size()) return S();
  size_t start = size_t(index - 1);
  size_t n = std::min<uint64_t>(uint64_t(count), s.size() - start);
  return S(s.substr(start, n));
}
}  // namespace

std::string Copy(std::string_view s, int64_t index, int64_t count) {
  return CopyImpl<std::string>(s, index, count);
}

std::u16string Copy(std::u16string_view s, int64_t index, int64_t count) {
  return CopyImpl<std::u16string>(s, index, count);
}

}  // namespace kovra
