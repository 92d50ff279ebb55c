// The import tab's work on files: the checks of an input file set, the line
// count of a MID file, and the Scan of the first file's table into the field
// lists. No Qt here: the tab binds widgets to these.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/kovra_types.h"

namespace studio {

inline constexpr const char* cMsgFileNotValid = "This file isn't valid: ";
inline constexpr const char* cMsgNoPrjFile = "No PRJ file was found - please create one and start again";
inline constexpr const char* cPickAField = "<pick a field>";

// --- file sets ----------------------------------------------------------------

// The .SHX entries ((size - 100) / 8) equal the .DBF record count. False when
// the .SHX is shorter than its 100-byte header or the .DBF than 8 bytes.
bool ShpSetValid(const std::string& FileName);
// The .ID entries (8 bytes each for NATIVEX, else 4) equal the .DAT record
// count (64-bit or 32-bit at offset 4). False when the .DAT is shorter than
// its count.
bool TabSetValid(const std::string& FileName);
// ".SHP" and ".TAB" (any case) by their checks, ".MIF" always, else never.
// A missing companion raises the open error naming it.
bool FileSetValid(const std::string& FileName);
// A line of the .TAB file holds "TYPE NATIVEX" (any case).
bool IsNativeXTab(const std::string& FileName);

// The extension of a file name, upper-cased ASCII, with its dot ("" when none).
std::string UpperExt(const std::string& FileName);

// --- MID line count -------------------------------------------------------------

inline constexpr int32_t cCountBufferSize = 1024 * 1024;
// The lines the text reader returns for the file: a line ends at LF, CR LF or
// a lone CR; a last line without a break counts, a last empty line does not.
// Reads the bytes once through a buffer of BufferSize bytes.
int64_t CountTextLines(const std::string& FileName, int32_t BufferSize = cCountBufferSize);

// --- Scan -------------------------------------------------------------------------

// The eleven field lists of the tab, in their order on the tab.
enum class TFieldListId : uint8_t {
  flZFrom, flZTo, flAttribute, flRoadname1, flRoadname2, flRoadname3,
  flLimit1, flLimit2, flLimit3, flExternalIDint, flExternalIDstring
};
inline constexpr int cFieldListCount = 11;
// The captions the tab shows over the lists, in TFieldListId order.
extern const std::array<const char*, cFieldListCount> cFieldListCaptions;

struct TFieldEntry {
  std::string Name;
  int32_t Number = 0;  // 0-based position in the table (a MIF column's, skipped ones counted)
  bool operator==(const TFieldEntry&) const = default;
};
// The fields of each list, without the leading "<pick a field>".
using TFieldLists = std::array<std::vector<TFieldEntry>, cFieldListCount>;

// A numeric field goes to the z-level, attribute, limit and numeric
// external-id lists, a text field to the road-name and text external-id
// lists, any other to none.
void AddFieldToLists(TFieldLists& Lists, const std::string& Name, kovra::TGISField FieldType, int32_t Number);

struct TScanResult {
  TFieldLists Fields;
  // The code page the attribute import gets with "Auto-detect codepage":
  // the MIF header's charset, else 0 (as the tables declare).
  uint16_t CodePage = 0;
  // Shapefile input without a .PRJ beside it.
  bool NoPrj = false;
};

// The header of a MIF file: a line holding CHARSET (checked first) sets the
// code page, one holding COLUMNS gives the column count; then that many
// column lines "NAME TYPE...". A count that is no integer raises the
// conversion error; a file that ends early keeps the columns found.
TScanResult ScanMif(const std::string& FileName);
// The fields of the first file's table: the .DBF of a ".SHP", the .DAT of
// anything else; the MIF header of a ".MIF".
TScanResult ScanFiles(const std::string& FirstFile);

}  // namespace studio
