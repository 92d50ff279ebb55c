#include "foundation/kovra_csvfiles.h"

#include <algorithm>

#include "foundation/kovra_functions.h"
#include "foundation/kovra_io.h"
#include "foundation/kovra_textfilereader.h"
#include "foundation/kovra_types.h"
#include "platform/kovra_codepage.h"

namespace kovra {

namespace {

inline bool IsSeparatorBlank(char c) {
  auto u = static_cast<unsigned char>(c);
  return u >= 1 && u <= 32;
}

// Replaces the next field in place so its storage is reused from line to line.
inline std::string& NextField(std::vector<std::string>& fields, size_t& count) {
  if (count == fields.size()) fields.emplace_back();
  std::string& f = fields[count++];
  f.clear();
  return f;
}

// Appends the quoted field that starts at S[i], a double quote, to Field and
// moves i past its closing quote: "" inside stands for one quote; an unclosed
// quote runs to the end of the text.
void AppendQuoted(std::string_view S, size_t& i, std::string& Field) {
  const size_t n = S.size();
  ++i;
  for (;;) {
    const size_t q = S.find('"', i);
    if (q == std::string_view::npos) {
      Field.append(S.substr(i));
      i = n;
      return;
    }
    Field.append(S.substr(i, q - i));
    if (q + 1 < n && S[q + 1] == '"') {
      Field += '"';
      i = q + 2;
    } else {
      i = q + 1;
      return;
    }
  }
}

}  // namespace

void SplitCommaText(std::string_view S, std::vector<std::string>& Fields) {
  size_t count = 0;
  const size_t n = S.size();
  size_t i = 0;
  while (i < n && IsSeparatorBlank(S[i])) ++i;
  while (i < n) {
    std::string& field = NextField(Fields, count);
    if (S[i] == '"') {
      AppendQuoted(S, i, field);
    } else {
      size_t start = i;
      while (i < n && S[i] != ',' && !IsSeparatorBlank(S[i])) ++i;
      field.append(S.substr(start, i - start));
    }
    while (i < n && IsSeparatorBlank(S[i])) ++i;
    if (i < n && S[i] == ',') {
      if (i == n - 1) NextField(Fields, count);
      ++i;
      while (i < n && IsSeparatorBlank(S[i])) ++i;
    }
  }
  Fields.resize(count);
}

void SplitCsvText(std::string_view S, std::vector<std::string>& Fields) {
  size_t count = 0;
  const size_t n = S.size();
  size_t i = 0;
  while (i < n && IsSeparatorBlank(S[i])) ++i;
  if (i == n) {
    Fields.clear();
    return;
  }
  for (;;) {
    std::string& field = NextField(Fields, count);
    size_t quoted = 0;  // the field up to its last quoted part, kept whole
    while (i < n && IsSeparatorBlank(S[i])) ++i;
    // A field: quoted parts and plain text up to the next comma.
    while (i < n && S[i] != ',') {
      if (S[i] == '"') {
        AppendQuoted(S, i, field);
        quoted = field.size();
      } else {
        const size_t start = i;
        while (i < n && S[i] != ',' && S[i] != '"') ++i;
        field.append(S.substr(start, i - start));
      }
    }
    // Blanks before the comma (or the end) are no part of the field.
    size_t end = field.size();
    while (end > quoted && IsSeparatorBlank(field[end - 1])) --end;
    field.resize(end);
    if (i >= n) break;
    ++i;  // the comma: another field follows, empty when the text ends here
  }
  Fields.resize(count);
}

bool IsCsvFileName(std::string_view FileName) {
  return FileName.size() >= 4 && SameTextAscii(FileName.substr(FileName.size() - 4), ".csv");
}

std::vector<std::string> SplitCommaText(std::string_view S) {
  std::vector<std::string> fields;
  SplitCommaText(S, fields);
  return fields;
}

// ---------------------------------------------------------------------------

TCSVFiles::TCSVFiles(uint16_t ACodePage) : FCodePage(ACodePage == 0 ? GetSystemAnsiCodePage() : ACodePage) {}

TCSVFiles::~TCSVFiles() = default;

void TCSVFiles::Add(const std::string& filename) { fFiles.push_back(filename); }

void TCSVFiles::Add(const std::vector<std::string>& files) {
  fFiles.insert(fFiles.end(), files.begin(), files.end());
}

void TCSVFiles::Open() {
  fFile.reset();
  fTotalSize = 0;
  // Sizes come from the opened files themselves: the same open error as the
  // reader, without decoding a first line of every file.
  for (const auto& name : fFiles) {
    TKvFileStream file(name, uint16_t(fmOpenRead | fmShareDenyWrite));
    fTotalSize += file.Size();
  }
  fFileIndex = -1;
  fEof = false;
  fFilesPosition = 0;
  fLineFile = -1;
  fLineNumber = 0;
  NextFile();
}

// Moves to the next file that holds a line; empty files are skipped.
void TCSVFiles::NextFile() {
  const auto count = int32_t(fFiles.size());
  do {
    int64_t finished = 0;
    if (fFile) {
      // A finished file counts at least what its lines counted, so Position
      // never goes back at a file change.
      finished = std::max(fFile->Size() - 1, fFile->Position());
      fFile.reset();
    }
    ++fFileIndex;
    if (fFileIndex < count) {
      fFilesPosition += finished;
      fFile = std::make_unique<TTextFileReader>(fFiles[size_t(fFileIndex)], FCodePage);
      fCsvRule = IsCsvFileName(fFiles[size_t(fFileIndex)]);
      fEof = fFile->Eof();
    } else {
      fFileIndex = count;
      fEof = true;
    }
  } while (fEof && fFileIndex < count);
}

bool TCSVFiles::Eof() {
  if (fFile && fFile->Eof()) NextFile();
  return fEof;
}

void TCSVFiles::NextLine(std::string& Line) {
  if (fFile && fFile->Eof()) NextFile();
  if (!fEof && fFile) {
    fFile->ReadLine(Line);
    if (fLineFile != fFileIndex) {
      fLineFile = fFileIndex;
      fLineNumber = 0;
    }
  } else {
    Line.clear();
    if (fLineFile < 0) fLineFile = int32_t(fFiles.size()) - 1;
  }
  ++fLineNumber;
}

std::string TCSVFiles::ReadLine() {
  std::string line;
  NextLine(line);
  return line;
}

void TCSVFiles::ReadLine(std::vector<std::string>& SL) {
  NextLine(fLine);
  if (fCsvRule)
    SplitCsvText(fLine, SL);
  else
    SplitCommaText(fLine, SL);
}

void TCSVFiles::ReadFields(int32_t fieldindex) {
  ReadLine(fFields);
  if (fieldindex < 0) throw Exception(Format("List index out of bounds (%d)", fieldindex));
}

const std::string* TCSVFiles::Field(int32_t fieldindex) const {
  return size_t(fieldindex) < fFields.size() ? &fFields[size_t(fieldindex)] : nullptr;
}

int64_t TCSVFiles::ReadInteger(int32_t fieldindex) {
  ReadFields(fieldindex);
  const std::string* f = Field(fieldindex);
  return f ? StrToInt64(*f) : 0;
}

void TCSVFiles::Read(int32_t fieldindex, std::string& value) {
  ReadFields(fieldindex);
  const std::string* f = Field(fieldindex);
  if (f)
    value = *f;
  else
    value.clear();
}

void TCSVFiles::Read(int32_t fieldindex, int64_t& value) { value = ReadInteger(fieldindex); }

void TCSVFiles::Read(int32_t fieldindex, uint16_t& value) {
  int64_t v = ReadInteger(fieldindex);
  if (v < 0 || v > 65535) throw EOutOfRange(Format("Value %d is out of range (0..65535)", v));
  value = uint16_t(v);
}

void TCSVFiles::Read(int32_t fieldindex, uint8_t& value) {
  int64_t v = ReadInteger(fieldindex);
  if (v < 0 || v > 255) throw EOutOfRange(Format("Value %d is out of range (0..255)", v));
  value = uint8_t(v);
}

void TCSVFiles::Read_Z(int32_t fieldindex1, int32_t fieldindex2, int32_t& z1, int32_t& z2) {
  ReadLine(fFields);
  for (int32_t index : {fieldindex1, fieldindex2})
    if (index < 0) throw Exception(Format("List index out of bounds (%d)", index));
  if (size_t(fieldindex1) >= fFields.size() || size_t(fieldindex2) >= fFields.size())
    throw Exception("Invalid fields for Z-levels defined");
  z1 = StrToInt(fFields[size_t(fieldindex1)]);
  z2 = StrToInt(fFields[size_t(fieldindex2)]);
  if (z1 < cMinZLevel || z1 > cMaxZLevel || z2 < cMinZLevel || z2 > cMaxZLevel)
    throw EOutOfRange("Z-levels of out range (-9..9)");
}

int64_t TCSVFiles::Position() const { return fFilesPosition + (fFile ? fFile->Position() : 0); }

}  // namespace kovra
