#include "giswriter/kovra_giswriter_shared.h"

#include <unicode/uchar.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <limits>

#include "foundation/kovra_functions.h"
#include "platform/kovra_codepage.h"

namespace kovra {

void RaiseNoOutput(const std::string& Name) {
  throw EWriteError(Format("No output file is open for \"%s\"", Name));
}

void RemoveFileQuietly(const std::string& Name) {
  std::error_code ec;
  std::filesystem::remove(Name, ec);
}

bool TryDecimalInt(std::string_view S, int64_t Min, int64_t Max, int64_t& Value) {
  std::string_view t = S;
  if (!t.empty() && t[0] == '+') t.remove_prefix(1);
  const size_t first = (!t.empty() && t[0] == '-') ? 1 : 0;
  if (first == t.size()) return false;
  for (size_t i = first; i < t.size(); ++i)
    if (t[i] < '0' || t[i] > '9') return false;
  int64_t v = 0;
  const auto r = std::from_chars(t.data(), t.data() + t.size(), v, 10);
  if (r.ec != std::errc() || r.ptr != t.data() + t.size() || v < Min || v > Max) return false;
  Value = v;
  return true;
}

template <typename T>
T DecimalInt(std::string_view S) {
  int64_t v = 0;
  if (!TryDecimalInt(S, std::numeric_limits<T>::min(), std::numeric_limits<T>::max(), v))
    throw EConvertError(Format("'%s' is not a valid integer value", S));
  return T(v);
}

template int16_t DecimalInt<int16_t>(std::string_view);
template int32_t DecimalInt<int32_t>(std::string_view);
template int64_t DecimalInt<int64_t>(std::string_view);

int32_t DigitsAt(std::string_view S, size_t Pos, size_t Len) {
  int32_t v = 0;
  for (size_t i = Pos - 1; i < Pos - 1 + Len; ++i) {
    if (S[i] < '0' || S[i] > '9') return -1;
    v = v * 10 + (S[i] - '0');
  }
  return v;
}

bool TryStrToFloatDot(std::string_view S, double& Value) {
  const char* b = S.data();
  const char* e = S.data() + S.size();
  if (b != e && *b == '+') ++b;
  double v = 0;
  const auto r = std::from_chars(b, e, v);
  if (b == e || r.ec != std::errc() || r.ptr != e || !std::isfinite(v)) return false;
  Value = v;
  return true;
}

double StrToFloatDot(std::string_view S) {
  double v = 0;
  if (!TryStrToFloatDot(S, v)) throw EConvertError(Format("'%s' is not a valid floating point value", S));
  return v;
}

void AppendFloatDot(std::string& Out, double V) {
  // The call FloatToStrDot makes, without its temporary string.
  if (V != 0 && std::isfinite(V)) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, V, std::chars_format::general, 15);
    if (r.ec == std::errc() && std::memchr(buf, 'e', size_t(r.ptr - buf)) == nullptr) {
      Out.append(buf, r.ptr);
      return;
    }
  }
  Out += FloatToStrDot(V);
}

namespace {

// Simple Unicode case folding: "Дорога" and "дорога" fold alike.
std::string FoldCase(std::string_view S) {
  std::string out;
  size_t pos = 0;
  while (pos < S.size()) AppendUtf8(out, char32_t(u_foldCase(UChar32(NextCodePoint(S, pos)), U_FOLD_CASE_DEFAULT)));
  return out;
}

}  // namespace

std::string UniqueColumnName(const std::function<std::string(size_t)>& Cut, size_t MaxBytes,
                             std::vector<std::string>& Taken) {
  auto taken = [&Taken](const std::string& Name) {
    const std::string folded = FoldCase(Name);
    for (const std::string& t : Taken)
      if (FoldCase(t) == folded) return true;
    return false;
  };
  std::string name = Cut(MaxBytes);
  for (int32_t k = 2; taken(name); ++k) {
    const std::string suffix = "_" + IntToStr(k);
    name = Cut(MaxBytes > suffix.size() ? MaxBytes - suffix.size() : 0) + suffix;
  }
  Taken.push_back(name);
  return name;
}

std::string ENotationText(double V, int Digits) {
  char buf[64];
  const auto r = Digits < 0 ? std::to_chars(buf, buf + sizeof buf, V, std::chars_format::scientific)
                            : std::to_chars(buf, buf + sizeof buf, V, std::chars_format::scientific, Digits);
  const std::string_view t(buf, size_t(r.ptr - buf));
  const size_t e = t.find('e');
  std::string out(t.substr(0, e));
  out += 'E';
  std::string_view ex = t.substr(e + 1);
  if (!ex.empty() && (ex[0] == '-' || ex[0] == '+')) {
    if (ex[0] == '-') out += '-';
    ex.remove_prefix(1);
  }
  while (ex.size() > 1 && ex[0] == '0') ex.remove_prefix(1);
  out += ex;
  return out;
}

bool IsAsciiText(std::string_view S) {
  for (char c : S)
    if ((unsigned char)c >= 0x80) return false;
  return true;
}

std::string LayerName(const std::string& FileName) {
  const size_t slash = FileName.rfind('/');
  return slash == std::string::npos ? FileName : FileName.substr(slash + 1);
}

bool IsDateField(TGISField Field) { return Field == gfDate || Field == gfTime || Field == gfDateTime; }

bool ISODateValue(TGISField Field, const std::string& Value, std::string& Out) {
  const size_t n = Utf16Length(Value);
  switch (Field) {
    case gfDate:
      if (n != 8) return false;
      Out = FormatISODate(Value);
      return true;
    case gfTime:
      if (n != 9) return false;
      Out = FormatISOTime(Value);
      return true;
    case gfDateTime:
      if (n != 17) return false;
      Out = FormatISODateTime(Value);
      return true;
    default:
      return false;
  }
}

}  // namespace kovra
