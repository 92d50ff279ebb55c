// Utility routines shared by the whole library: locale-free number texts and
// parsers, XML escaping, key hashing, code-page helpers, the DBF
// language-driver table, and small file and memory helpers. The geometry
// routines of the module live in kovra_geometry.h, included here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "foundation/kovra_geometry.h"
#include "foundation/kovra_types.h"
#include "platform/kovra_codepage.h"
#include "platform/kovra_sysutils.h"

namespace kovra {

// ---------------------------------------------------------------------------
// Format settings: the fixed number conventions of the library's files
// (English, '.' as decimal separator) and of the import report's date lines.

struct TFormatSettings {
  char DecimalSeparator = '.';
  char ThousandSeparator = ',';
  char ListSeparator = ',';
  std::string ShortDateFormat;
  std::string LongTimeFormat;
  std::array<std::string, 12> ShortMonthNames;
};

extern const TFormatSettings DotFormatSettings;
extern const TFormatSettings ReportFormatSettings;

// ---------------------------------------------------------------------------
// Number and duration text. Non-finite values, and values beyond Int64 where a
// rule rounds or truncates, raise EInvalidOp and produce no text.

// Fixed text with Decimals digits, right-aligned and blank-padded to Width,
// copied into Buffer[0..Width-1] (cut to Width when longer, no terminator).
// Returns the length of the uncut text, so a caller can tell a cut happened.
int32_t FormatDBFNumber(char* Buffer, int32_t Width, int Decimals, double Value);
int32_t FormatDBFNumber(uint8_t* Buffer, int32_t Width, int Decimals, double Value);

// General form, up to 15 significant digits, '.' separator, "1E-5" exponents.
std::string FloatToStrDot(double Value);
// Decimals < 0: FloatToStrDot; 0: rounded half to even; else min(Decimals, 10) decimals.
std::string FloatToStrDecimals(double Value, int Decimals);
std::string IntToStrZeroPad(int32_t Value);
// "2h 05m 30s" / "5m 15s" / "30s". The -1 "unreached" sentinel must not be
// passed: it gives "0s".
std::string MinutesToStr(double Minutes);
std::string MinutesToQuotedStr(double Minutes);
// Appends Value between double quotes, inner double quotes doubled: a text
// value of a writer's attribute text.
void AppendQuoted(std::string& s, std::string_view Value);
std::string BoundsToStr(double xmin, double ymin, double xmax, double ymax);
// Largest number of UTF-16 code units of any line; 0 for an empty list.
int32_t MaxStringLength(const std::vector<std::string>& List);
bool IsBetween(int32_t a, int32_t b, int32_t c);
// Smallest n >= 1 with 2^n >= a (31 for anything above 2^30).
int32_t CeilLog2(int32_t a);

// ---------------------------------------------------------------------------
// Number parsing (locale-free).

// Lenient '.' parse of the leading number of S: leading blanks, optional sign,
// digits, optional '.' and digits, optional 'E'/'e' with optional sign and
// digits; stops at the first character that does not fit ("12abc" -> 12,
// "1,5" -> 1, "" -> 0). Overflow is set (and 0 returned) when the number lies
// beyond the double range ("1e400"); a number too small for a double gives 0.
double ParseFloatDot(std::string_view S, bool& Overflow);

// Strict integer parse: optional leading blanks, optional sign, then decimal
// digits or hexadecimal after '$' or "0x"/"0X", nothing after. Anything else,
// or a value beyond Int64, raises EConvertError "'%s' is not a valid integer value".
int64_t StrToInt64(std::string_view S);
// The same for Integer: a value beyond int32 raises the same error.
int32_t StrToInt(std::string_view S);
// Non-raising forms: false (Value untouched) where the above would raise.
bool TryStrToInt64(std::string_view S, int64_t& Value);
bool TryStrToInt(std::string_view S, int32_t& Value);

// ---------------------------------------------------------------------------
// Strings and code pages (the conversions themselves: platform/kovra_codepage.h).

// Replaces & < > " ' by their entities; drops the characters XML 1.0 cannot
// carry (U+0000-U+0008, U+000B, U+000C, U+000E-U+001F, U+FFFE, U+FFFF);
// invalid UTF-8 bytes become U+FFFD.
std::string EscapeXML(std::string_view S);
// h := (h * 17 + c) and Mask over the UTF-16 code units of S, wrapping in 32 bits.
uint32_t HashString(std::string_view S, uint32_t Mask);
// The same over UTF-16 text as it stands (unpaired surrogates included).
uint32_t HashString(std::u16string_view S, uint32_t Mask);
// Number of bytes of S in UTF-8 (S is UTF-8).
int64_t UTF8Length(std::string_view S);
inline bool IsEmptyStr(std::string_view S) { return S.empty(); }
inline bool IsNotEmptyStr(std::string_view S) { return !S.empty(); }

// DBF language-driver byte (header offset 29) <-> Windows code page.
uint16_t LanguageDriver2CodePage(uint8_t Driver);
uint8_t CodePage2LanguageDriver(uint16_t CodePage);

// ---------------------------------------------------------------------------
// Files and memory.

// First line of a text file in the system ANSI code page; empty when the file
// does not exist or is empty (an existing file that cannot be opened raises).
std::string ReadFirstLine(const std::string& FileName);
// Coordinate unit named by the last UNIT clause of an ESRI .prj text.
TCoordinateUnit PrjToCoordinateUnit(std::string_view Prj);
// File size from its attributes without opening it; -1 when they cannot be read.
int64_t GetFileSizeByName(const std::string& FileName);
// True when a new file can be created in Directory (probe created and removed).
bool DirectoryIsWritable(const std::string& Directory);
// The companion file of Path with extension Ext ("tab" or ".tab"): the exact
// name, then Ext in lower case, then in upper case, then a case-insensitive
// scan of the folder (first hit in sorted order). Empty when none exists.
std::string FindSibling(const std::string& Path, std::string_view Ext);

// FindSibling for many files: each folder is scanned at most once over the
// finder's life (a folder changed meanwhile is not seen again).
class TSiblingFinder {
public:
  std::string Find(const std::string& Path, std::string_view Ext);

private:
  using TListing = std::unordered_map<std::string, std::vector<std::string>>;
  std::unordered_map<std::string, TListing> FFolders;
};

void FillSingle(float* P, int32_t Count, float Value);
void FillInteger(int32_t* P, int32_t Count, int32_t Value);
void FillWord(uint16_t* P, int32_t Count, uint16_t Value);

// Called with element counts at the start of long operations; no effect.
inline void CountHook(int64_t /*Count*/) {}

}  // namespace kovra
