// What the writer groups share: number texts in and out, the ISO date and
// time texts of the XML writers, layer names. Private to giswriter/: only its
// own sources include it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "giswriter/kovra_giswriter.h"

namespace kovra {

inline constexpr char cHexDigits[] = "0123456789ABCDEF";

// A record before the files exist (before the last AddField, or after a
// failed creation or Close) is a caller error; it must not crash.
[[noreturn]] void RaiseNoOutput(const std::string& Name);

// Deletes a file; a file that is not there, or cannot go, is no error.
void RemoveFileQuietly(const std::string& Name);

// --- numbers in -------------------------------------------------------------

// Decimal integer text: an optional sign, then decimal digits, nothing else
// (no blanks, no hexadecimal), within Min..Max. False, Value untouched, otherwise.
bool TryDecimalInt(std::string_view S, int64_t Min, int64_t Max, int64_t& Value);
// The same for the range of T, raising EConvertError "'S' is not a valid
// integer value", the platform's message.
template <typename T>
T DecimalInt(std::string_view S);
extern template int16_t DecimalInt<int16_t>(std::string_view);
extern template int32_t DecimalInt<int32_t>(std::string_view);
extern template int64_t DecimalInt<int64_t>(std::string_view);

// Digits S[Pos-1 .. Pos-1+Len-1] (1-based, within S) as a number; -1 when any
// is not a digit.
int32_t DigitsAt(std::string_view S, size_t Pos, size_t Len);

// The whole text a finite number with '.' as decimal separator (an optional
// '+' or '-', an optional exponent); false otherwise. The lenient reading of
// the leading number is the foundation's ParseFloatDot.
bool TryStrToFloatDot(std::string_view S, double& Value);
// The same, raising EConvertError "'S' is not a valid floating point value".
double StrToFloatDot(std::string_view S);

// --- numbers out ------------------------------------------------------------

// FloatToStrDot(V) appended to Out (EInvalidOp for NaN and infinities); the
// common text without an exponent goes straight from to_chars.
void AppendFloatDot(std::string& Out, double V);

// V in the library's E-notation ("1.5E-7", "9.999999680285692E37"): the
// mantissa with Digits decimals, or, for Digits < 0, the shortest mantissa
// that reads back as V; no '+' and no leading zeros in the exponent.
std::string ENotationText(double V, int Digits);

// --- texts ------------------------------------------------------------------

// Every byte of S is below 0x80.
bool IsAsciiText(std::string_view S);

// A column name (UTF-8) unique among the table's names in Taken, compared
// ignoring case: Cut(MaxBytes) when no earlier name equals it, otherwise the
// first free Cut(MaxBytes - n) + "_k" for k = 2, 3, ... (n the suffix's
// length), as the XML writers number repeats. Cut(n) gives the name within
// n bytes; the result is added to Taken.
std::string UniqueColumnName(const std::function<std::string(size_t)>& Cut, size_t MaxBytes,
                             std::vector<std::string>& Taken);

// The layer name: FileName without its folder.
std::string LayerName(const std::string& FileName);

bool IsDateField(TGISField Field);
// The ISO text of a date or time value (FormatISODate, FormatISOTime,
// FormatISODateTime by the column type); false, Out untouched, when the value
// has not the length of its compact form (counted in UTF-16 code units) or
// the column is no date or time column.
bool ISODateValue(TGISField Field, const std::string& Value, std::string& Out);

}  // namespace kovra
