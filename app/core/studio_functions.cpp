#include "app/core/studio_functions.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>

#include "foundation/kovra_charset.h"
#include "foundation/kovra_dbffiles.h"
#include "foundation/kovra_functions.h"
#include "foundation/kovra_io.h"
#include "foundation/kovra_textfilereader.h"
#include "import/kovra_import.h"
#include "platform/kovra_sysutils.h"

namespace studio {

using kovra::TGISField;

const std::array<const char*, cFieldListCount> cFieldListCaptions = {
    "Z-level from",    "Z-level to",    "Attribute field", "Roadname field 1",
    "Roadname field 2", "Roadname field 3", "Limit 1 field",  "Limit 2 field",
    "Limit 3 field",   "External ID field (numeric)", "External ID field (text)"};

// ---------------------------------------------------------------------------
// File sets

std::string UpperExt(const std::string& FileName) {
  return kovra::UpperAscii(std::filesystem::path(FileName).extension().string());
}

namespace {

// The table's record count at byte offset 4 (Width 4 or 8, little-endian);
// false when the file is too short to hold it.
bool ReadCountAt4(const std::string& Table, int Width, uint64_t& Count) {
  kovra::TKvFileStream s(Table, kovra::fmOpenRead | kovra::fmShareDenyWrite);
  if (s.Size() < 4 + Width) return false;
  s.SetPosition(4);
  Count = Width == 8 ? uint64_t(s.ReadInt64()) : uint64_t(s.ReadUInt32());
  return true;
}

// Size of a companion in bytes; its open error when it cannot be read.
int64_t SizeOf(const std::string& Name) {
  kovra::TKvFileStream s(Name, kovra::fmOpenRead | kovra::fmShareDenyWrite);
  return s.Size();
}

}  // namespace

bool ShpSetValid(const std::string& FileName) {
  const std::string shx = kovra::TImport::RequiredCompanion(FileName, "shx");
  const std::string dbf = kovra::TImport::RequiredCompanion(FileName, "dbf");
  const int64_t shxSize = SizeOf(shx);
  uint64_t records = 0;
  if (shxSize < 100 || !ReadCountAt4(dbf, 4, records)) return false;
  return uint64_t((shxSize - 100) / 8) == records;
}

bool TabSetValid(const std::string& FileName) {
  const std::string id = kovra::TImport::RequiredCompanion(FileName, "id");
  const std::string dat = kovra::TImport::RequiredCompanion(FileName, "dat");
  const int width = IsNativeXTab(FileName) ? 8 : 4;
  const int64_t idSize = SizeOf(id);
  uint64_t records = 0;
  if (!ReadCountAt4(dat, width, records)) return false;
  return uint64_t(idSize / width) == records;
}

bool FileSetValid(const std::string& FileName) {
  const std::string ext = UpperExt(FileName);
  if (ext == ".SHP") return ShpSetValid(FileName);
  if (ext == ".TAB") return TabSetValid(FileName);
  return ext == ".MIF";
}

bool IsNativeXTab(const std::string& FileName) {
  kovra::TTextFileReader r(FileName, 0);
  std::string line;
  while (!r.Eof()) {
    r.ReadLine(line);
    if (kovra::UpperAscii(line).find("TYPE NATIVEX") != std::string::npos) return true;
  }
  return false;
}

// ---------------------------------------------------------------------------
// Line count

namespace {

// Sixteen bytes at a time with the compiler's vector extension (plain
// SSE2 on x86-64, NEON elsewhere): compares give -1 per matching byte.
using TBytes16 = uint8_t __attribute__((vector_size(16)));

// The line breaks within a block: every LF, every CR, less the CR LF pairs
// (a pair split with the next block is the caller's).
int64_t CountBreaks(const uint8_t* p, size_t n) {
  int64_t count = 0;
  size_t i = 0;
  // Each step also looks at the byte after its 16: one byte stays for the tail.
  while (n - i > 16) {
    // Byte counters overflow after 255 steps: add them up before.
    const size_t steps = std::min<size_t>((n - i - 1) / 16, 255);
    TBytes16 lf = {}, cr = {}, pairs = {};
    for (size_t k = 0; k < steps; ++k, i += 16) {
      TBytes16 v, next;
      std::memcpy(&v, p + i, 16);
      std::memcpy(&next, p + i + 1, 16);
      const TBytes16 isCR = TBytes16(v == '\r');
      lf -= TBytes16(v == '\n');
      cr -= isCR;
      pairs -= isCR & TBytes16(next == '\n');
    }
    for (int k = 0; k < 16; ++k) count += int64_t(lf[k]) + cr[k] - pairs[k];
  }
  for (; i < n; ++i) {
    if (p[i] == '\n') {
      ++count;
    } else if (p[i] == '\r') {
      if (i + 1 == n || p[i + 1] != '\n') ++count;  // the LF of a pair counts for both
    }
  }
  return count;
}

}  // namespace

int64_t CountTextLines(const std::string& FileName, int32_t BufferSize) {
  kovra::TKvFileStream s(FileName, kovra::fmOpenRead | kovra::fmShareDenyWrite);
  std::vector<uint8_t> buffer(size_t(std::max(BufferSize, 1)));
  // Line breaks so far (a CR LF is one).
  int64_t breaks = 0;
  int64_t size = 0;
  bool prevCR = false;
  // The last three bytes of the file, newest last; 0 before the start.
  uint8_t tail[3] = {0, 0, 0};
  for (;;) {
    const int32_t n = s.Read(buffer.data(), int32_t(buffer.size()));
    if (n <= 0) {
      if (s.LastError() != 0) kovra::RaiseReadError(s);
      break;
    }
    const uint8_t* p = buffer.data();
    if (prevCR && p[0] == '\n') --breaks;  // a CR LF split between two blocks
    breaks += CountBreaks(p, size_t(n));
    prevCR = p[n - 1] == '\r';
    for (int32_t i = std::max(0, n - 3); i < n; ++i) {
      tail[0] = tail[1];
      tail[1] = tail[2];
      tail[2] = p[i];
    }
    size += n;
  }
  if (size == 0) return 0;
  auto isBreak = [](uint8_t b) { return b == '\n' || b == '\r'; };
  if (!isBreak(tail[2])) return breaks + 1;  // a last line without a break
  // The file ends with a break: the line it ends is not returned when empty.
  const int breakLen = (tail[2] == '\n' && tail[1] == '\r' && size >= 2) ? 2 : 1;
  const int64_t breakStart = size - breakLen;
  const bool emptyLast = breakStart == 0 || isBreak(tail[2 - breakLen]);
  return emptyLast ? breaks - 1 : breaks;
}

// ---------------------------------------------------------------------------
// Scan

void AddFieldToLists(TFieldLists& Lists, const std::string& Name, TGISField FieldType, int32_t Number) {
  using enum TFieldListId;
  auto add = [&](std::initializer_list<TFieldListId> ids) {
    for (TFieldListId id : ids) Lists[size_t(id)].push_back({Name, Number});
  };
  switch (FieldType) {
    case TGISField::gfInteger:
    case TGISField::gfSmallInt:
    case TGISField::gfDecimal:
    case TGISField::gfFloat:
    case TGISField::gfInt64:
      add({flZFrom, flZTo, flAttribute, flLimit1, flLimit2, flLimit3, flExternalIDint});
      break;
    case TGISField::gfChar:
      add({flRoadname1, flRoadname2, flRoadname3, flExternalIDstring});
      break;
    default:
      break;
  }
}

namespace {

bool TypeOfWord(std::string_view Word, TGISField& Type) {
  static const struct {
    const char* Word;
    TGISField Type;
  } cTypes[] = {{"CHAR", TGISField::gfChar},       {"INTEGER", TGISField::gfInteger},
                {"SMALLINT", TGISField::gfSmallInt}, {"DECIMAL", TGISField::gfDecimal},
                {"FLOAT", TGISField::gfFloat},     {"DATE", TGISField::gfDate},
                {"LOGICAL", TGISField::gfLogical}};
  for (const auto& t : cTypes)
    if (Word == t.Word) {
      Type = t.Type;
      return true;
    }
  return false;
}

// The name between the line's first two double quotes; "" when it has fewer.
std::string_view Quoted(std::string_view Line) {
  const size_t a = Line.find('"');
  if (a == std::string_view::npos) return {};
  const size_t b = Line.find('"', a + 1);
  if (b == std::string_view::npos) return {};
  return Line.substr(a + 1, b - a - 1);
}

}  // namespace

TScanResult ScanMif(const std::string& FileName) {
  TScanResult result;
  kovra::TTextFileReader r(FileName, 0);
  std::string raw;
  int32_t columns = -1;
  while (!r.Eof()) {
    r.ReadLine(raw);
    const std::string line = kovra::UpperAscii(kovra::TrimView(raw));
    if (line.find("CHARSET") != std::string::npos) {
      result.CodePage = kovra::CharSetList().Charset2CodePage(Quoted(line));
    } else if (const size_t at = line.find("COLUMNS"); at != std::string::npos) {
      columns = kovra::StrToInt(kovra::TrimView(std::string_view(line).substr(at + 7)));
      break;
    }
  }
  // A count beyond the end of the file keeps the columns found.
  for (int32_t n = 0; n < columns && !r.Eof(); ++n) {
    r.ReadLine(raw);
    const std::string line = kovra::UpperAscii(kovra::TrimView(raw));
    const size_t blank = line.find(' ');
    if (blank == std::string::npos) continue;  // no type word: skipped, its number kept
    const std::string_view rest = kovra::TrimView(std::string_view(line).substr(blank + 1));
    const std::string_view word = rest.substr(0, rest.find_first_of(" ("));
    TGISField type;
    if (TypeOfWord(word, type)) AddFieldToLists(result.Fields, line.substr(0, blank), type, n);
  }
  return result;
}

TScanResult ScanFiles(const std::string& FirstFile) {
  const std::string ext = UpperExt(FirstFile);
  if (ext == ".MIF") return ScanMif(FirstFile);
  TScanResult result;
  const bool shp = ext == ".SHP";
  kovra::TDbfFile table(kovra::TImport::RequiredCompanion(FirstFile, shp ? "dbf" : "dat"), 0);
  table.Open(false);
  for (int32_t n = 0; n < table.FieldCount(); ++n) {
    const kovra::Tdbffield f = table.FieldInfo(n);
    AddFieldToLists(result.Fields, f.Name, f.FieldType, n);
  }
  result.NoPrj = shp && kovra::FindSibling(FirstFile, "prj").empty();
  return result;
}

}  // namespace studio
