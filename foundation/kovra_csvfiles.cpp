#include "foundation/kovra_csvfiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "foundation/kovra_textfilereader.h"
#include "foundation/kovra_types.h"

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

}  // namespace

void SplitCommaText(std::string_view S, std::vector<std::string>& Fields) {
  size_t count = 0;
  const size_t n = S.size();
  size_t i = 0;
  while (i < n && IsSeparatorBlank(S[i])) ++i;
  while (i < n) {
    std::string& field = NextField(Fields, count);
    if (S[i] == '"') {
      ++i;
      for (;;) {
        size_t q = S.find('"', i);
        if (q == std::string_view::npos) {  // unclosed: runs to the end
          field.append(S.substr(i));
          i = n;
          break;
        }
        field.append(S.substr(i, q - i));
        if (q + 1 < n && S[q + 1] == '"') {
          field += '"';
          i = q + 2;
        } else {
          i = q + 1;
          break;
        }
      }
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

std::vector<std::string> SplitCommaText(std::string_view S) {
  std::vector<std::string> fields;
  SplitCommaText(S, fields);
  return fields;
}

// ---------------------------------------------------------------------------

namespace {

// Strict integer text: optional leading blanks, a sign, then decimal digits or
// '$' / '0x' hex digits, nothing after; out of Int64 range is not a number.
bool TryParseInt64(std::string_view s, int64_t& value) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  unsigned base = 10;
  if (i < s.size() && s[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= s.size()) return false;
  const uint64_t limit = negative ? uint64_t(INT64_MAX) + 1 : uint64_t(INT64_MAX);
  uint64_t v = 0;
  for (; i < s.size(); ++i) {
    char c = s[i];
    unsigned d;
    if (c >= '0' && c <= '9')
      d = unsigned(c - '0');
    else if (base == 16 && c >= 'a' && c <= 'f')
      d = unsigned(c - 'a' + 10);
    else if (base == 16 && c >= 'A' && c <= 'F')
      d = unsigned(c - 'A' + 10);
    else
      return false;
    if (v > (limit - d) / base) return false;
    v = v * base + d;
  }
  value = negative ? int64_t(0 - v) : int64_t(v);
  return true;
}

int64_t StrToInt64(const std::string& s) {
  int64_t v;
  if (!TryParseInt64(s, v)) throw EConvertError(Format("'%s' is not a valid integer value", s));
  return v;
}

}  // namespace

TCSVFiles::TCSVFiles(uint16_t ACodePage) : FCodePage(ACodePage == 0 ? 1252 : ACodePage) {}

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
    int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    int err = 0;
    if (fd < 0)
      err = errno;
    else if (::fstat(fd, &st) != 0)
      err = errno;
    else if (S_ISDIR(st.st_mode))
      err = EISDIR;
    if (fd >= 0) ::close(fd);
    if (err != 0) {
      std::error_code ec;
      auto abs = std::filesystem::absolute(name, ec);
      throw EFOpenError(Format("Cannot open file \"%s\". %s", ec ? name : abs.string(), std::strerror(err)));
    }
    fTotalSize += st.st_size;
  }
  fFileIndex = -1;
  fEof = false;
  fFilesPosition = 0;
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

std::string TCSVFiles::ReadLine() {
  std::string line;
  if (fFile && fFile->Eof()) NextFile();
  if (!fEof && fFile) fFile->ReadLine(line);
  return line;
}

void TCSVFiles::ReadLine(std::vector<std::string>& SL) {
  if (fFile && fFile->Eof()) NextFile();
  if (!fEof && fFile)
    fFile->ReadLine(fLine);
  else
    fLine.clear();
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
  auto toInteger = [](const std::string& s) {
    int64_t v = StrToInt64(s);
    if (v < INT32_MIN || v > INT32_MAX) throw EConvertError(Format("'%s' is not a valid integer value", s));
    return int32_t(v);
  };
  z1 = toInteger(fFields[size_t(fieldindex1)]);
  z2 = toInteger(fFields[size_t(fieldindex2)]);
  if (z1 < cMinZLevel || z1 > cMaxZLevel || z2 < cMinZLevel || z2 > cMaxZLevel)
    throw EOutOfRange("Z-levels of out range (-9..9)");
}

int64_t TCSVFiles::Position() const { return fFilesPosition + (fFile ? fFile->Position() : 0); }

}  // namespace kovra
