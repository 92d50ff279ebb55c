// The header of a MapInfo interchange file (.mif): what the geometry import
// and the attribute import need before the Data section. Header lines are
// found by their first token, compared without case, so a column named
// CHARSET_CODE is no Charset line; the column declarations are taken by the
// declared count, so a column named Data or Charset is a column. Reading
// stops at the line whose first token is DATA.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kovra {

// .mid tables of a file without a Charset line are read in this code page.
inline constexpr uint16_t cMifDefaultCodePage = 1252;

struct TMifHeader {
  bool HasCharset = false;
  std::string Charset;    // the name between the quotes, as declared
  std::string CoordSys;   // the CoordSys line, trimmed, as written; "" when none
  // The character(s) between the quotes of the Delimiter line; a tab, the
  // format's default, when there is none.
  std::string Delimiter = "\t";
  // Declared column names in order, decoded in CodePage().
  std::vector<std::string> Columns;
  int64_t Size = 0;       // bytes of the file
  // Byte offset and 1-based number of the first line after the DATA line;
  // DataOffset is Size when the file has no DATA line (no objects).
  int64_t DataOffset = 0;
  int32_t DataLine = 0;

  // Code page of the file's text and of its .mid: the declared character set
  // (0, the system ANSI code page, for a name the list does not know), else
  // cMifDefaultCodePage.
  uint16_t CodePage() const;
  // True when the delimiter is one the comma-text reader of the .mid splits
  // on: a comma, or one blank or tab.
  bool CommaTextDelimiter() const;
};

// Raises EFOpenError for a file that cannot be opened, EConvertError for a
// column count that is no integer, and Exception "Unexpected end of file in %s"
// when the file ends inside the column declarations.
TMifHeader ReadMifHeader(const std::string& FileName);

}  // namespace kovra
