// Platform base layer: the general exception and its platform family, the common
// sender base class, locale-free message formatting, checked float-to-integer
// conversions and division, and UTF-16 code-unit helpers.
#pragma once

#include <cstddef>
#include <charconv>
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace kovra {

// Common base of every library class that can be the sender of an event.
class TObject {
public:
  TObject() = default;
  TObject(const TObject&) = default;
  TObject& operator=(const TObject&) = default;
  virtual ~TObject() = default;
};

// The platform's general exception: carries one UTF-8 message.
class Exception : public std::exception {
public:
  explicit Exception(std::string message) : FMessage(std::move(message)) {}
  const char* what() const noexcept override { return FMessage.c_str(); }
  const std::string& Message() const noexcept { return FMessage; }

private:
  std::string FMessage;
};

#define KOVRA_DECLARE_EXCEPTION(Name, Base)                                  \
  class Name : public Base {                                                \
  public:                                                                   \
    using Base::Base;                                                       \
  }

// Stream family.
KOVRA_DECLARE_EXCEPTION(EStreamError, Exception);
KOVRA_DECLARE_EXCEPTION(EFileStreamError, EStreamError);
KOVRA_DECLARE_EXCEPTION(EFOpenError, EFileStreamError);
KOVRA_DECLARE_EXCEPTION(EFCreateError, EFileStreamError);
KOVRA_DECLARE_EXCEPTION(EReadError, EStreamError);
KOVRA_DECLARE_EXCEPTION(EWriteError, EStreamError);
// Operating-system call failures (message from strerror).
KOVRA_DECLARE_EXCEPTION(EOSError, Exception);
KOVRA_DECLARE_EXCEPTION(EConvertError, Exception);
KOVRA_DECLARE_EXCEPTION(EIniFileException, Exception);
KOVRA_DECLARE_EXCEPTION(EAssertionFailed, Exception);
// Math family.
KOVRA_DECLARE_EXCEPTION(EMathError, Exception);
KOVRA_DECLARE_EXCEPTION(EInvalidOp, EMathError);
KOVRA_DECLARE_EXCEPTION(EZeroDivide, EMathError);
KOVRA_DECLARE_EXCEPTION(EOverflow, EMathError);
KOVRA_DECLARE_EXCEPTION(EIntError, Exception);
KOVRA_DECLARE_EXCEPTION(EDivByZero, EIntError);

inline constexpr const char* cMsgInvalidOp = "Invalid floating point operation";
inline constexpr const char* cMsgZeroDivide = "Floating point division by zero";
inline constexpr const char* cMsgOverflow = "Floating point overflow";
inline constexpr const char* cMsgDivByZero = "Division by zero";

[[noreturn]] void RaiseInvalidOp();
[[noreturn]] void RaiseZeroDivide();
[[noreturn]] void RaiseOverflow();
[[noreturn]] void RaiseDivByZero();

// ---------------------------------------------------------------------------
// Checked arithmetic. Traps are off, so every place that relies on a float
// error checks explicitly through these.

// Raises EInvalidOp for NaN, EOverflow for an infinity; returns v otherwise.
double CheckFinite(double v);

// Round half to even; NaN, infinity or a result outside the target raise EInvalidOp.
int64_t Round(double v);
int32_t Round32(double v);
// Truncate toward zero; same checks as Round.
int64_t Trunc(double v);
int32_t Trunc32(double v);

// a / b with the float errors of a trapping FPU: 0/0 -> EInvalidOp, x/0 -> EZeroDivide,
// a finite quotient that overflows -> EOverflow. NaN operands raise EInvalidOp.
double Divide(double a, double b);
// Integer division and remainder; b == 0 raises EDivByZero.
int64_t IntDiv(int64_t a, int64_t b);
int64_t IntMod(int64_t a, int64_t b);

// ---------------------------------------------------------------------------
// Locale-free number text.

// Shortest general form with 15 significant digits, exponent as "E17" / "E-6"
// (fixed when 1e-4 <= |rounded| < 1e15); -0 gives "0". Non-finite raises EInvalidOp.
std::string FloatToStrG15(double v);
// The same with `digits` (1..17) significant digits (fixed below 10^digits).
std::string FloatToStrG(double v, int digits);
// Fixed with `decimals` digits after '.', correctly rounded (ties of the exact
// binary value to even); no '-' when every digit is 0. Non-finite raises EInvalidOp.
std::string FloatToStrFixed(double v, int decimals);
// Fixed with thousands separators ',' and `decimals` digits.
std::string FloatToStrN(double v, int decimals);
std::string IntToStr(int64_t v);
// IntToStr appended to s, for record text built value by value.
inline void AppendInt(std::string& s, int64_t v) {
  char buf[24];
  s.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

// ---------------------------------------------------------------------------
// Format: the message patterns of the library.
// Supported: %d %u %x %s %g %n %f %e %%, with '-' flag, width, '.precision',
// and '*' for width or precision taken from the arguments. Defaults: %f and %n
// 2 decimals, %g 15 significant digits, %e 15 digits.

class FormatArg {
public:
  FormatArg(int v) : FValue(int64_t(v)) {}
  FormatArg(long v) : FValue(int64_t(v)) {}
  FormatArg(long long v) : FValue(int64_t(v)) {}
  FormatArg(unsigned v) : FValue(int64_t(v)) {}
  FormatArg(unsigned long v) : FValue(int64_t(v)) {}
  FormatArg(unsigned long long v) : FValue(int64_t(v)) {}
  FormatArg(short v) : FValue(int64_t(v)) {}
  FormatArg(unsigned short v) : FValue(int64_t(v)) {}
  FormatArg(signed char v) : FValue(int64_t(v)) {}
  FormatArg(unsigned char v) : FValue(int64_t(v)) {}
  FormatArg(float v) : FValue(double(v)) {}
  FormatArg(double v) : FValue(v) {}
  FormatArg(const char* v) : FValue(std::string(v ? v : "")) {}
  FormatArg(std::string v) : FValue(std::move(v)) {}
  FormatArg(std::string_view v) : FValue(std::string(v)) {}

  const std::variant<int64_t, double, std::string>& Value() const { return FValue; }

private:
  std::variant<int64_t, double, std::string> FValue;
};

// Raises EConvertError on a pattern/argument mismatch, as the platform does.
std::string FormatV(std::string_view fmt, const std::vector<FormatArg>& args);

template <typename... Args>
std::string Format(std::string_view fmt, Args&&... args) {
  return FormatV(fmt, std::vector<FormatArg>{FormatArg(std::forward<Args>(args))...});
}

// ---------------------------------------------------------------------------
// UTF-16 helpers: for the rules that count, cut, hash or order UTF-16 code units.
// Invalid UTF-8 bytes count as one U+FFFD each.

size_t Utf16Length(std::string_view s);
std::u16string ToUtf16(std::string_view s);
std::string FromUtf16(std::u16string_view s);

// Calls f(char16_t) for each UTF-16 code unit of the UTF-8 text s.
template <typename F>
void ForEachUtf16Unit(std::string_view s, F&& f);

// Decodes the next code point of UTF-8 text at s[pos], advancing pos; invalid
// or truncated sequences give U+FFFD and advance one byte.
char32_t NextCodePoint(std::string_view s, size_t& pos);
// Writes the UTF-8 form of a valid code point (no surrogate, at most U+10FFFF)
// at d and returns the end; room for 4 bytes is the caller's. For hot decoders.
inline char* PutUtf8(char* d, char32_t cp) {
  if (cp < 0x80) {
    *d++ = char(cp);
  } else if (cp < 0x800) {
    *d++ = char(0xC0 | (cp >> 6));
    *d++ = char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *d++ = char(0xE0 | (cp >> 12));
    *d++ = char(0x80 | ((cp >> 6) & 0x3F));
    *d++ = char(0x80 | (cp & 0x3F));
  } else {
    *d++ = char(0xF0 | (cp >> 18));
    *d++ = char(0x80 | ((cp >> 12) & 0x3F));
    *d++ = char(0x80 | ((cp >> 6) & 0x3F));
    *d++ = char(0x80 | (cp & 0x3F));
  }
  return d;
}
// The length of the UTF-8 sequence a byte >= 0x80 leads (2..4), or 0 when it
// leads none, with the range its second byte must lie in (no overlong form, no
// surrogate, nothing past U+10FFFF); later bytes are 0x80..0xBF. For hot
// scanners.
inline size_t Utf8Lead(uint8_t b, uint8_t& lo, uint8_t& hi) {
  lo = 0x80;
  hi = 0xBF;
  if (b >= 0xC2 && b <= 0xDF) return 2;
  if (b >= 0xE0 && b <= 0xEF) {
    if (b == 0xE0) lo = 0xA0;
    if (b == 0xED) hi = 0x9F;
    return 3;
  }
  if (b >= 0xF0 && b <= 0xF4) {
    if (b == 0xF0) lo = 0x90;
    if (b == 0xF4) hi = 0x8F;
    return 4;
  }
  return 0;
}
// Appends the UTF-8 form of code point cp (surrogates and values past U+10FFFF as U+FFFD).
void AppendUtf8(std::string& out, char32_t cp);

// ASCII-only case mapping and comparison: names in file headers and keys are
// compared this way so the result never depends on a locale.
std::string UpperAscii(std::string_view s);
bool SameTextAscii(std::string_view a, std::string_view b);
// Removes leading and trailing characters up to and including ' ' (controls too).
std::string_view TrimView(std::string_view s);
// The same on UTF-16 text, unit by unit (code units up to U+0020).
std::u16string_view TrimView(std::u16string_view s);

// 1-based substring that never throws: a piece past the end is empty, an index
// below 1 starts at 1, a negative count is empty. Counts bytes of the UTF-8 text.
std::string Copy(std::string_view s, int64_t index, int64_t count);
// The same on UTF-16 text, for the rules that cut by code unit.
std::u16string Copy(std::u16string_view s, int64_t index, int64_t count);

// ---------------------------------------------------------------------------

template <typename F>
void ForEachUtf16Unit(std::string_view s, F&& f) {
  size_t pos = 0;
  while (pos < s.size()) {
    char32_t cp = NextCodePoint(s, pos);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      f(char16_t(0xD800 + (cp >> 10)));
      f(char16_t(0xDC00 + (cp & 0x3FF)));
    } else {
      f(char16_t(cp));
    }
  }
}

}  // namespace kovra
