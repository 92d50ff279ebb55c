#include "foundation/kovra_dbffiles.h"

#include "foundation/kovra_bitarray.h"
#include "foundation/kovra_charset.h"
#include "foundation/kovra_functions.h"
#include "foundation/kovra_io.h"
#include "foundation/kovra_textfilereader.h"
#include "platform/kovra_codepage.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>

namespace kovra {

namespace {

const char* const cOutOfBounds = "Value is out of bounds";
const char* const cNotSupported = "Field type is not supported";
const char* const cMsgBadWidth = "Invalid field width in %s";

bool StartsWith(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }

template <typename T>
T LoadLE(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof(T));  // the library runs on little-endian machines only
  return v;
}
template <typename T>
void StoreLE(uint8_t* p, T v) {
  std::memcpy(p, &v, sizeof(T));
}

// Bytes a binary .dat field needs; 0 for text fields.
int32_t BinarySize(TDBFtype t, TGISField f) {
  if (t == dbf) return f == gfLogical ? 1 : 0;
  switch (f) {
    case gfInteger: return 4;
    case gfSmallInt: return 2;
    case gfInt64: return 8;
    case gfFloat: return 8;
    case gfLogical: return 1;
    case gfDate: return 4;
    case gfTime: return 4;
    case gfDateTime: return 8;
    default: return 0;
  }
}

void AppendPadded(std::string& out, int64_t v, int digits) {
  char buf[24];
  auto [p, ec] = std::to_chars(buf, buf + sizeof buf, v < 0 ? -v : v);
  (void)ec;
  if (v < 0) out.push_back('-');
  for (int k = int(p - buf); k < digits; ++k) out.push_back('0');
  out.append(buf, p);
}

// MapInfo stores an empty date as zeros and an empty time as -1.
void AppendDate(std::string& out, const uint8_t* p) {
  AppendPadded(out, LoadLE<int16_t>(p), 4);
  AppendPadded(out, p[2], 2);
  AppendPadded(out, p[3], 2);
}
bool DateIsNull(const uint8_t* p) { return LoadLE<int32_t>(p) == 0; }
void AppendTime(std::string& out, int32_t ms) {
  AppendPadded(out, ms / 3600000, 2);
  AppendPadded(out, ms / 60000 % 60, 2);
  AppendPadded(out, ms / 1000 % 60, 2);
  AppendPadded(out, ms % 1000, 3);
}

// The lenient '.' parse; a number beyond the double range raises EOverflow.
double ParseDecimal(std::string_view text) {
  bool overflow = false;
  double v = ParseFloatDot(text, overflow);
  if (overflow) RaiseOverflow();
  return v;
}

// Code page named by a .cpg: a number, or one of the names writers use.
uint16_t CpgToCodePage(std::string_view text) {
  std::string t = UpperAscii(TrimView(text));
  auto number = [](std::string_view s, int64_t& v) {
    if (s.empty()) return false;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    return ec == std::errc() && p == s.data() + s.size() && v >= 0;
  };
  int64_t v = 0;
  if (number(t, v)) {
    if (v >= 88591 && v <= 88599) return uint16_t(28591 + (v - 88591));
    return v <= 65535 ? uint16_t(v) : 0;
  }
  if (t == "UTF-8" || t == "UTF8") return 65001;
  for (std::string_view pre : {"CP", "ANSI ", "WINDOWS-"})
    if (StartsWith(t, pre) && number(std::string_view(t).substr(pre.size()), v) && v <= 65535)
      return uint16_t(v);
  for (std::string_view pre : {"ISO 8859-", "ISO-8859-", "ISO8859", "8859-"}) {
    std::string_view rest = std::string_view(t).substr(std::min(t.size(), pre.size()));
    if (StartsWith(t, pre) && rest.size() == 1 && rest[0] >= '1' && rest[0] <= '9')
      return uint16_t(28590 + (rest[0] - '0'));
  }
  return 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// TDbfFile

TDbfFile::TDbfFile(std::string FileName, uint16_t ACodePage)
    : fFilename(std::move(FileName)), fBuffer(512), fCodePage(ACodePage), fCreateCodePage(ACodePage) {}

TDbfFile::~TDbfFile() = default;

void TDbfFile::Close() {
  fOpen = false;
  fReadWrite = false;
  fFieldCount = 0;
  fRecordCount = 0;
  fFields.clear();
  fTextReady = false;
  fTable = nullptr;
  if (fBinFile) {
    std::unique_ptr<TKvBufferedStream> s = std::move(fBinFile);
    s->Close();
  }
}

void TDbfFile::ReadTab(uint16_t& codePage, bool& codePageNamed) {
  std::string tab = fSiblings ? fSiblings->Find(fFilename, ".tab") : FindSibling(fFilename, ".tab");
  if (tab.empty()) throw Exception("Corresponding TAB file is missing for DAT file " + fFilename);
  std::vector<std::string> lines;
  {
    TTextFileReader reader(tab, cCodePageUTF8);
    while (!reader.Eof()) lines.push_back(reader.ReadLine());
  }
  size_t i = 0;
  bool haveFields = false;
  int64_t fieldCount = 0;
  bool charsetLine = false;
  uint16_t typeCp = 0;
  for (; i < lines.size(); ++i) {
    std::string line = UpperAscii(TrimView(lines[i]));
    if (StartsWith(line, "!CHARSET")) {
      codePage = CharSetList().Charset2CodePage(TrimView(Copy(line, 10, int64_t(line.size()))));
      charsetLine = true;
    }
    if (StartsWith(line, "TYPE NATIVEX")) fDBFtype = datx;
    if (StartsWith(line, "TYPE ")) {
      // "Type NATIVE Charset "name"": the table's charset on the type line
      size_t c = line.find("CHARSET");
      if (c != std::string::npos) {
        size_t q1 = line.find('"', c);
        size_t q2 = q1 == std::string::npos ? q1 : line.find('"', q1 + 1);
        if (q2 != std::string::npos) {
          typeCp = CharSetList().Charset2CodePage(std::string_view(line).substr(q1 + 1, q2 - q1 - 1));
          codePageNamed = true;
        }
      }
    }
    size_t f = line.find("FIELDS");
    if (f != std::string::npos) {
      haveFields = true;
      fieldCount = StrToInt64(Copy(line, int64_t(f) + 1 + 7, int64_t(line.size())));
      ++i;
      break;
    }
  }
  if (charsetLine) codePageNamed = true;
  if (codePage == 0 && typeCp != 0) codePage = typeCp;
  if (!haveFields) fieldCount = 0;
  if (fieldCount < 0 || fieldCount > int64_t(lines.size() - i))
    throw Exception(Format("DBF file %s has an invalid header", fFilename));
  fFields.assign(size_t(fieldCount), Tdbffield{});
  for (int64_t k = 0; k < fieldCount; ++k) {
    std::string line = UpperAscii(TrimView(lines[i + size_t(k)]));
    size_t b = line.find(' ');
    Tdbffield& fd = fFields[size_t(k)];
    fd.Name = line.substr(0, b);
    std::string_view rest = b == std::string::npos ? std::string_view() : std::string_view(line).substr(b + 1);
    static const struct { const char* prefix; TGISField type; } types[] = {
        {"CHAR", gfChar},         {"DATETIME", gfDateTime}, {"DATE", gfDate},    {"TIME", gfTime},
        {"SMALLINT", gfSmallInt}, {"INTEGER", gfInteger},   {"LARGEINT", gfInt64}, {"FLOAT", gfFloat},
        {"DECIMAL", gfDecimal},   {"LOGICAL", gfLogical}};
    fd.FieldType = gfChar;
    for (auto& t : types)
      if (StartsWith(rest, t.prefix)) {
        fd.FieldType = t.type;
        break;
      }
  }
  fFieldCount = int32_t(fieldCount);
}

void TDbfFile::ReadAt(TKvBufferedStream& s, int64_t pos, void* buf, int32_t count) {
  s.Seek(pos, soBeginning);
  s.ReadBuffer(buf, count);
}

void TDbfFile::ReadHeader(TKvBufferedStream& s, int64_t fileSize, int32_t tabFieldCount) {
  const std::string invalid = Format("DBF file %s has an invalid header", fFilename);
  const std::string truncated = Format("DBF file %s is truncated", fFilename);
  uint8_t h[32];
  if (fileSize < 32) throw Exception(truncated);
  ReadAt(s, 0, h, 32);
  int64_t minStart;
  if (fDBFtype == datx) {
    fRecordCount = LoadLE<int64_t>(h + 4);
    fStartOfData = LoadLE<uint32_t>(h + 12);
    fRecordLength = LoadLE<uint32_t>(h + 16);
    minStart = 32 + 32 * int64_t(tabFieldCount);
  } else {
    fRecordCount = LoadLE<int32_t>(h + 4);
    fStartOfData = LoadLE<uint16_t>(h + 8);
    fRecordLength = LoadLE<uint16_t>(h + 10);
    // descriptors plus the terminator byte
    minStart = fDBFtype == dbf ? 33 : 32 + 32 * int64_t(tabFieldCount) + 1;
  }
  // (the descriptors are read in one piece of at most 2 GiB)
  if (fRecordCount < 0 || fStartOfData < minStart || tabFieldCount >= (1 << 26)) throw Exception(invalid);
  // A record holds at least its deletion flag.
  if (fRecordCount > 0 && fRecordLength < 1) throw Exception(invalid);
  if (fStartOfData > fileSize ||
      (fRecordLength > 0 && fRecordCount > (fileSize - fStartOfData) / fRecordLength))
    throw Exception(truncated);

  if (fDBFtype == dbf) {
    // At most (start of data - 1) div 32 - 1 descriptors; a backlink area may
    // follow the 0x0D terminator, so stop there.
    int64_t maxFields = (fStartOfData - 1) / 32 - 1;
    std::vector<uint8_t> d(size_t(maxFields) * 32);
    if (!d.empty()) ReadAt(s, 32, d.data(), int32_t(d.size()));
    fFields.clear();
    for (int64_t k = 0; k < maxFields; ++k) {
      const uint8_t* p = d.data() + k * 32;
      if (p[0] == 0x0D) break;
      Tdbffield fd;
      // each name byte is the character of the same number
      for (int b = 0; b < 11 && p[b] != 0; ++b) AppendUtf8(fd.Name, char32_t(p[b]));
      fd.Name = UpperAscii(fd.Name);
      switch (p[11]) {
        case 'D': fd.FieldType = gfDate; break;
        case 'N': case 'F': fd.FieldType = gfDecimal; break;
        case 'L': fd.FieldType = gfLogical; break;
        default: fd.FieldType = gfChar; break;
      }
      fd.Width = p[16];
      fd.decimals = p[17];
      fFields.push_back(std::move(fd));
    }
    fFieldCount = int32_t(fFields.size());
  } else {
    std::vector<uint8_t> d(size_t(fFieldCount) * 32);
    if (!d.empty()) ReadAt(s, 32, d.data(), int32_t(d.size()));
    for (int32_t k = 0; k < fFieldCount; ++k) {
      const uint8_t* p = d.data() + int64_t(k) * 32;
      if (fDBFtype == datx) {
        fFields[size_t(k)].Width = LoadLE<int32_t>(p + 16);
        fFields[size_t(k)].decimals = LoadLE<int32_t>(p + 20);
      } else {
        fFields[size_t(k)].Width = p[16];
        fFields[size_t(k)].decimals = p[17];
      }
    }
  }

  // Field positions; every field must end inside the record.
  const std::string badWidth = Format(cMsgBadWidth, fFilename);
  int64_t pos = fDBFtype == datx ? (int64_t(fFieldCount) - 1) / 8 + 2 : 1;
  if (fFieldCount == 0) pos = 1;
  for (auto& fd : fFields) {
    if (fd.Width < 0 || fd.Width < BinarySize(fDBFtype, fd.FieldType)) throw Exception(badWidth);
    if (fd.FieldType == gfDecimal && fd.decimals < 0) throw Exception(badWidth);
    if (pos + fd.Width > fRecordLength) throw Exception(badWidth);
    fd.Pos = uint32_t(pos);
    pos += fd.Width;
    if (fd.FieldType == gfDecimal) {
      // Exponents in 64 bits: width and decimals are whatever the header says.
      const int64_t w = fd.Width, dd = fd.decimals;
      if (dd > 0) {
        fd.Max = std::pow(10.0, double(w - dd - 1)) - std::pow(10.0, double(-dd));
        fd.Min = -(std::pow(10.0, double(w - dd - 2)) - std::pow(10.0, double(-dd)));
      } else {
        fd.Max = std::pow(10.0, double(w)) - 1;
        fd.Min = -(std::pow(10.0, double(w - 1)) - 1);
      }
    }
  }
  // Without records nothing bounds a 32-bit record length by the data; such a
  // record is still no longer than its fields.
  if (fDBFtype == datx && fRecordCount == 0 && fRecordLength > pos) throw Exception(invalid);
}

void TDbfFile::Open(bool ReadWrite) {
  if (fBinFile) Close();
  std::string ext = UpperAscii(std::filesystem::path(fFilename).extension().string());
  TDBFtype type;
  if (ext == ".DAT")
    type = dat;
  else if (ext == ".DBF")
    type = dbf;
  else
    return;
  fDBFtype = type;
  // read, or read and write; others may read
  auto stream = std::make_unique<TKvBufferedStream>(std::make_unique<TKvFileStream>(fFilename, ReadWrite ? 0x22 : 0x20));
  try {
    // decided afresh on every Open, from the caller's code page
    uint16_t cp = fCreateCodePage;
    if (type == dat) {
      bool named = false;
      uint16_t tabCp = 0;
      ReadTab(tabCp, named);
      if (named) cp = tabCp;
    }
    ReadHeader(*stream, stream->Size(), fFieldCount);
    if (type == dbf && cp == 0) {
      std::string cpg = fSiblings ? fSiblings->Find(fFilename, ".cpg") : FindSibling(fFilename, ".cpg");
      if (!cpg.empty()) {
        cp = CpgToCodePage(ReadFirstLine(cpg));  // read in the ANSI code page
      } else {
        uint8_t lang = 0;
        ReadAt(*stream, 29, &lang, 1);
        cp = LanguageDriver2CodePage(lang);
      }
    }
    if (cp < 1) cp = GetSystemAnsiCodePage();
    fCodePage = cp;
  } catch (...) {
    fFields.clear();
    fFieldCount = 0;
    fRecordCount = 0;
    fDBFtype = type;
    throw;
  }
  fTextReady = false;
  fTable = nullptr;
  fBinFile = std::move(stream);
  fReadWrite = ReadWrite;
  fOpen = true;
}

bool TDbfFile::ValidField(int32_t FieldNum) const {
  return fOpen && FieldNum >= 0 && FieldNum < fFieldCount && FieldNum <= 255;
}

bool TDbfFile::ValidRecord(int64_t RecNum) const { return RecNum >= 1 && RecNum <= fRecordCount; }

int64_t TDbfFile::FieldOffset(const Tdbffield& f, int64_t RecNum) const {
  return fStartOfData + (RecNum - 1) * fRecordLength + int64_t(f.Pos);
}

// The work buffer grows to a field only when a record of the table is read or
// written: the record lies in the file, so the field is no wider than the
// file, whatever the header claims about tables without records.
uint8_t* TDbfFile::FieldBuffer(const Tdbffield& f) {
  if (size_t(f.Width) + 1 > fBuffer.size()) fBuffer.resize(size_t(f.Width) + 1);
  return fBuffer.data();
}

void TDbfFile::CheckWritable() const {
  // Accepted into the window, the change would be lost at the flush unseen.
  if (!fReadWrite) throw EWriteError(Format("DBF file %s is not open for writing", fFilename));
}

void TDbfFile::ReadField(const Tdbffield& f, int64_t RecNum) {
  fBinFile->Seek(FieldOffset(f, RecNum), soBeginning);
  fBinFile->ReadBuffer(FieldBuffer(f), f.Width);
}

void TDbfFile::WriteField(const Tdbffield& f, int64_t RecNum, const uint8_t* bytes) {
  fBinFile->Seek(FieldOffset(f, RecNum), soBeginning);
  fBinFile->WriteBuffer(bytes, f.Width);
}

int32_t TDbfFile::FindField(std::string_view Fieldname) const {
  if (!fOpen) return -1;
  std::string u = UpperAscii(Fieldname);
  for (int32_t i = 0; i < fFieldCount; ++i)
    if (fFields[size_t(i)].Name == u) return i;
  return -1;
}

bool TDbfFile::FieldInfo(int32_t FieldNum, Tdbffield& Info) const {
  if (!ValidField(FieldNum)) return false;
  Info = fFields[size_t(FieldNum)];
  return true;
}

Tdbffield TDbfFile::FieldInfo(int32_t FieldNum) const {
  Tdbffield r;
  FieldInfo(FieldNum, r);
  return r;
}

bool TDbfFile::IsDeleted(int64_t RecNum) {
  if (!fOpen || !ValidRecord(RecNum)) return false;
  uint8_t flag = 0;
  fBinFile->Seek(fStartOfData + (RecNum - 1) * fRecordLength, soBeginning);
  fBinFile->ReadBuffer(&flag, 1);
  return flag == '*';
}

bool TDbfFile::IsNull(int32_t FieldNum, int64_t RecNum) {
  if (!ValidField(FieldNum) || !ValidRecord(RecNum)) return false;
  const Tdbffield& f = fFields[size_t(FieldNum)];
  const bool text = f.FieldType == gfChar || f.FieldType == gfDecimal;
  if (fDBFtype != dbf && !text) return false;
  ReadField(f, RecNum);
  std::string_view t = TrimView(std::string_view(reinterpret_cast<const char*>(fBuffer.data()), size_t(f.Width)));
  return std::all_of(t.begin(), t.end(), [](char c) { return c == '*'; });
}

void TDbfFile::PrepareText() {
  if (fTextReady) return;
  // raises "Code page %d is not supported"
  if (IsSingleByteCodePage(fCodePage)) fTable = &SingleByteTable(fCodePage);
  fTextReady = true;
}

std::string TDbfFile::DecodeText(const Tdbffield& f) {
  PrepareText();
  const uint8_t* p = fBuffer.data();
  size_t n = size_t(f.Width);
  std::string out;
  if (fCodePage == 1200) {
    if (n >= 2 && p[0] == 0 && p[1] == 0) return out;
    size_t units = 0;
    while (units < n / 2 && (p[2 * units] | p[2 * units + 1]) != 0) ++units;
    out = CodePageToString(std::string_view(reinterpret_cast<const char*>(p), units * 2), fCodePage);
  } else {
    const void* z = std::memchr(p, 0, n);
    if (z) n = size_t(static_cast<const uint8_t*>(z) - p);
    if (fTable) {
      out.reserve(n);
      for (size_t i = 0; i < n; ++i) {
        char16_t c = (*fTable)[p[i]];
        if (c < 0x80)
          out.push_back(char(c));
        else
          AppendUtf8(out, c);
      }
    } else {
      out = CodePageToString(std::string_view(reinterpret_cast<const char*>(p), n), fCodePage);
    }
  }
  std::string_view t = TrimView(out);
  if (t.size() != out.size()) out = std::string(t);
  return out;
}

std::string TDbfFile::ReadString(int32_t FieldNum, int64_t RecNum) {
  if (!ValidField(FieldNum) || !ValidRecord(RecNum)) return {};
  const Tdbffield& f = fFields[size_t(FieldNum)];
  ReadField(f, RecNum);
  const uint8_t* p = fBuffer.data();
  if (fDBFtype != dbf) {
    // Binary .dat fields as text: the forms the result writers use.
    std::string out;
    switch (f.FieldType) {
      case gfInteger: return IntToStr(LoadLE<int32_t>(p));
      case gfSmallInt: return IntToStr(LoadLE<int16_t>(p));
      case gfInt64: return IntToStr(LoadLE<int64_t>(p));
      case gfFloat: return FloatToStrDot(LoadLE<double>(p));
      case gfLogical: return p[0] ? "T" : "F";
      case gfDate:
        if (!DateIsNull(p)) AppendDate(out, p);
        return out;
      case gfTime: {
        int32_t ms = LoadLE<int32_t>(p);
        if (ms >= 0) AppendTime(out, ms);
        return out;
      }
      case gfDateTime:
        if (!DateIsNull(p)) {
          AppendDate(out, p);
          AppendTime(out, std::max(LoadLE<int32_t>(p + 4), 0));
        }
        return out;
      default: break;
    }
  }
  return DecodeText(f);
}

int64_t TDbfFile::ReadInteger(int32_t FieldNum, int64_t RecNum) {
  if (!ValidField(FieldNum) || !ValidRecord(RecNum)) return 0;
  const Tdbffield& f = fFields[size_t(FieldNum)];
  if (f.FieldType == gfDecimal) {
    ReadField(f, RecNum);
    std::string_view t = TrimView(std::string_view(reinterpret_cast<const char*>(fBuffer.data()), size_t(f.Width)));
    if (f.decimals > 0) return Round(ParseDecimal(t));
    // Decimal text is read in code page 437; only bytes above 127 differ from
    // ASCII, and they make the text non-numeric (the error shows them decoded).
    if (std::any_of(t.begin(), t.end(), [](char c) { return (unsigned char)c >= 0x80; }))
      return StrToInt64(CodePageToString(t, 437));
    return StrToInt64(t);
  }
  if (fDBFtype == dbf) throw Exception(cNotSupported);
  switch (f.FieldType) {
    case gfInteger: ReadField(f, RecNum); return LoadLE<int32_t>(fBuffer.data());
    case gfSmallInt: ReadField(f, RecNum); return LoadLE<int16_t>(fBuffer.data());
    case gfInt64: ReadField(f, RecNum); return LoadLE<int64_t>(fBuffer.data());
    case gfFloat: ReadField(f, RecNum); return Round(LoadLE<double>(fBuffer.data()));
    default: throw Exception(cNotSupported);
  }
}

double TDbfFile::ReadFloat(int32_t FieldNum, int64_t RecNum) {
  if (!ValidField(FieldNum) || !ValidRecord(RecNum)) return 0;
  const Tdbffield& f = fFields[size_t(FieldNum)];
  if (f.FieldType == gfDecimal) {
    ReadField(f, RecNum);
    return ParseDecimal(std::string_view(reinterpret_cast<const char*>(fBuffer.data()), size_t(f.Width)));
  }
  if (fDBFtype == dbf) throw Exception(cNotSupported);
  switch (f.FieldType) {
    case gfInteger: ReadField(f, RecNum); return LoadLE<int32_t>(fBuffer.data());
    case gfSmallInt: ReadField(f, RecNum); return LoadLE<int16_t>(fBuffer.data());
    case gfInt64: ReadField(f, RecNum); return double(LoadLE<int64_t>(fBuffer.data()));
    case gfFloat: ReadField(f, RecNum); return CheckFinite(LoadLE<double>(fBuffer.data()));
    default: throw Exception(cNotSupported);
  }
}

bool TDbfFile::EncodeNumber(const Tdbffield& f, double value, bool isInteger, int64_t intValue,
                            uint8_t* out) const {
  if (!isInteger && !std::isfinite(value)) {
    switch (f.FieldType) {
      case gfInteger: case gfSmallInt: case gfDecimal: case gfFloat: case gfLogical: case gfInt64:
        throw Exception(cOutOfBounds);
      default: throw Exception(cNotSupported);
    }
  }
  // the whole field is written: blanks in a .dbf, zero bytes around binary values
  std::memset(out, fDBFtype == dbf ? ' ' : 0, size_t(f.Width));
  switch (f.FieldType) {
    case gfInteger:
      if (!isInteger && !(value >= -2147483648.0 && value <= 2147483647.0)) throw Exception(cOutOfBounds);
      StoreLE<int32_t>(out, isInteger ? int32_t(intValue) : Trunc32(value));
      return true;
    case gfSmallInt:
      if (isInteger ? (intValue < -32768 || intValue > 32767) : !(value >= -32768.0 && value <= 32767.0))
        throw Exception(cOutOfBounds);
      StoreLE<int16_t>(out, int16_t(isInteger ? intValue : Trunc32(value)));
      return true;
    case gfDecimal: {
      if (!(value >= f.Min && value <= f.Max)) throw Exception(cOutOfBounds);
      // The range check alone lets a too-long text through when decimals >= width - 1,
      // and "0." with the decimals alone may be wider than the field.
      if (f.decimals > 0 && int64_t(f.decimals) + 2 > f.Width) throw Exception(cOutOfBounds);
      if (FormatDBFNumber(out, f.Width, f.decimals, value) > f.Width) throw Exception(cOutOfBounds);
      return true;
    }
    case gfFloat:
      StoreLE<double>(out, value);
      return true;
    case gfLogical:
      out[0] = value > 0 ? (fDBFtype == dbf ? uint8_t('T') : uint8_t(1)) : (fDBFtype == dbf ? uint8_t('F') : uint8_t(0));
      return true;
    case gfInt64:
      if (isInteger) {
        StoreLE<int64_t>(out, intValue);
      } else {
        // [-2^63, 2^63): both bounds are exact doubles
        if (!(value >= -9223372036854775808.0 && value < 9223372036854775808.0)) throw Exception(cOutOfBounds);
        StoreLE<int64_t>(out, Trunc(value));
      }
      return true;
    default:
      throw Exception(cNotSupported);
  }
}

void TDbfFile::WriteInteger(int32_t FieldNum, int64_t RecNum, int32_t value) {
  if (!ValidField(FieldNum) || !ValidRecord(RecNum)) return;
  const Tdbffield& f = fFields[size_t(FieldNum)];
  CheckWritable();
  uint8_t* out = FieldBuffer(f);
  EncodeNumber(f, double(value), true, value, out);
  WriteField(f, RecNum, out);
}

void TDbfFile::WriteFloat(int32_t FieldNum, int64_t RecNum, double value) {
  if (!ValidField(FieldNum) || !ValidRecord(RecNum)) return;
  const Tdbffield& f = fFields[size_t(FieldNum)];
  CheckWritable();
  uint8_t* out = FieldBuffer(f);
  EncodeNumber(f, value, false, 0, out);
  WriteField(f, RecNum, out);
}

void TDbfFile::WriteBoolean(int32_t FieldNum, int64_t RecNum, bool value) {
  WriteInteger(FieldNum, RecNum, value ? 1 : 0);
}

void TDbfFile::WriteString(int32_t FieldNum, int64_t RecNum, std::string_view value) {
  if (!ValidField(FieldNum) || !ValidRecord(RecNum)) return;
  const Tdbffield& f = fFields[size_t(FieldNum)];
  if (f.FieldType != gfChar) return;
  CheckWritable();
  PrepareText();
  uint8_t* out = FieldBuffer(f);
  const size_t width = size_t(f.Width);
  // The value converted once; one longer than the field is cut after its last
  // whole character.
  fText = StringToCodePage(value, fCodePage);
  const size_t used = fText.size() <= width ? fText.size() : WholeCharacters(value, width);
  std::memcpy(out, fText.data(), used);
  // Pad the rest: blanks in a .dbf (in the table's encoding), zero bytes in a .dat.
  size_t end = used;
  if (fDBFtype == dbf && fCodePage == 1200) {
    for (; end + 2 <= width; end += 2) out[end] = ' ', out[end + 1] = 0;
    if (end < width) out[end++] = 0;
  } else {
    std::memset(out + end, fDBFtype == dbf ? ' ' : 0, width - end);
  }
  WriteField(f, RecNum, out);
}

// Length of the longest prefix of fText (value in the table's code page) that
// fits Width bytes and ends between two characters.
size_t TDbfFile::WholeCharacters(std::string_view value, size_t Width) const {
  const auto* b = reinterpret_cast<const uint8_t*>(fText.data());
  if (fTable) return Width;  // one byte per character
  if (fCodePage == cCodePageUTF8) {
    size_t cut = Width;
    while (cut > 0 && (b[cut] & 0xC0) == 0x80) --cut;
    return cut;
  }
  if (fCodePage == cCodePageUTF16) {
    size_t cut = Width & ~size_t(1);
    if (cut >= 2 && (b[cut - 1] & 0xFC) == 0xD8) cut -= 2;  // not between the halves of a pair
    return cut;
  }
  // Multi-byte pages: the longest run of whole characters that fits, found by
  // halving over the characters' start offsets.
  std::vector<size_t> starts;
  for (size_t pos = 0; pos < value.size();) {
    starts.push_back(pos);
    NextCodePoint(value, pos);
  }
  starts.push_back(value.size());
  size_t lo = 0, hi = starts.size() - 1, best = 0;  // characters
  while (lo <= hi) {
    const size_t mid = lo + (hi - lo) / 2;
    const size_t n = StringToCodePage(value.substr(0, starts[mid]), fCodePage).size();
    if (n <= Width) {
      best = n;
      lo = mid + 1;
    } else {
      if (mid == 0) break;
      hi = mid - 1;
    }
  }
  return best;
}

template <typename Get>
void TDbfFile::WriteArray(int32_t fieldnum, int64_t count, Get get) {
  if (!ValidField(fieldnum)) return;
  const Tdbffield& f = fFields[size_t(fieldnum)];
  switch (f.FieldType) {
    case gfInteger: case gfSmallInt: case gfDecimal: case gfFloat: case gfLogical: break;
    default: return;  // other types: nothing written
  }
  CheckWritable();
  // A zero-width field holds no value; its column would be encoded into no bytes.
  if (f.Width == 0) throw Exception(Format(cMsgBadWidth, fFilename));
  // Entries beyond the table's records are outside the valid range.
  int64_t last = std::min(count - 1, fRecordCount);
  if (last < 1) return;
  size_t w = size_t(f.Width);
  // Check every entry before the first write, so a bad entry leaves the column
  // as it was: encode the column at once, or twice when it would be too large.
  if (uint64_t(last) * w <= (uint64_t(64) << 20)) {
    std::vector<uint8_t> bytes(size_t(last) * w);
    for (int64_t r = 1; r <= last; ++r) {
      auto [isInt, iv, dv] = get(r);
      EncodeNumber(f, isInt ? double(iv) : dv, isInt, iv, bytes.data() + size_t(r - 1) * w);
    }
    for (int64_t r = 1; r <= last; ++r) WriteField(f, r, bytes.data() + size_t(r - 1) * w);
  } else {
    for (int pass = 0; pass < 2; ++pass)
      for (int64_t r = 1; r <= last; ++r) {
        auto [isInt, iv, dv] = get(r);
        uint8_t* out = FieldBuffer(f);
        EncodeNumber(f, isInt ? double(iv) : dv, isInt, iv, out);
        if (pass == 1) WriteField(f, r, out);
      }
  }
}

struct TArrayEntry {
  bool isInt;
  int64_t iv;
  double dv;
};

void TDbfFile::WriteIntegerArray(int32_t fieldnum, const TIntegerArray& value) {
  WriteArray(fieldnum, int64_t(value.size()), [&](int64_t r) {
    return TArrayEntry{true, value[size_t(r)], 0};
  });
}

void TDbfFile::WriteCostArray(int32_t fieldnum, const TCostArray& value) {
  WriteArray(fieldnum, int64_t(value.size()), [&](int64_t r) {
    return TArrayEntry{false, 0, double(value[size_t(r)])};
  });
}

void TDbfFile::WriteBitArray(int32_t fieldnum, const TBitArray& value) {
  WriteArray(fieldnum, value.Size(), [&](int64_t r) {
    return TArrayEntry{true, value.GetBit(r) ? 1 : 0, 0};
  });
}

// ---------------------------------------------------------------------------
// TDbfFiles

TDbfFiles::TDbfFiles(uint16_t ACodePage) : fCodePage(ACodePage) {}
TDbfFiles::~TDbfFiles() = default;

void TDbfFiles::Add(const std::string& FileName) { fFiles.push_back(FileName); }
void TDbfFiles::Add(const std::vector<std::string>& Files) { fFiles.insert(fFiles.end(), Files.begin(), Files.end()); }

void TDbfFiles::Open() {
  fDbf.clear();
  fEnds.clear();
  fFieldCount = -1;
  fRecordCount = -1;
  if (fFiles.empty()) throw Exception("No table files given");
  std::vector<std::unique_ptr<TDbfFile>> tables;
  std::vector<int64_t> ends;
  int64_t total = 0;
  // Companion files of tables in one folder come from one scan of it.
  TSiblingFinder siblings;
  for (const auto& name : fFiles) {
    auto t = std::make_unique<TDbfFile>(name, fCodePage);
    t->fSiblings = &siblings;
    t->Open(false);
    t->fSiblings = nullptr;
    total += t->RecordCount();
    ends.push_back(total);
    tables.push_back(std::move(t));
  }
  const TDbfFile& first = *tables.front();
  for (size_t k = 1; k < tables.size(); ++k) {
    const TDbfFile& t = *tables[k];
    if (t.FieldCount() != first.FieldCount())
      throw EDifferentDBFFilesStructure("DBF files structure are different. Fields count of table " + fFiles[k] +
                                        " is not the same as the first");
    for (int32_t i = 0; i < t.FieldCount(); ++i) {
      Tdbffield a, b;
      first.FieldInfo(i, a);
      t.FieldInfo(i, b);
      if (a.Name != b.Name)
        throw EDifferentDBFFilesStructure("DBF files structure are different. Names in table " + fFiles[k] +
                                          " is not the same as the first");
      if (a.FieldType != b.FieldType)
        throw EDifferentDBFFilesStructure("DBF files structure are different. Fields types in table " +
                                          fFiles[k] + " is not the same as the first");
    }
  }
  fFieldCount = first.FieldCount();
  // Record numbers of the sequence are 32-bit; records past MaxInt are not addressable.
  fRecordCount = int32_t(std::min<int64_t>(total, MaxInt));
  fDbf = std::move(tables);
  fEnds = std::move(ends);
}

void TDbfFiles::Close() {
  std::vector<std::unique_ptr<TDbfFile>> tables = std::move(fDbf);
  fDbf.clear();
  fEnds.clear();
  fFieldCount = -1;
  fRecordCount = -1;
  for (auto& t : tables) t->Close();
}

int32_t TDbfFiles::FindField(std::string_view Fieldname) const {
  return fDbf.empty() ? -1 : fDbf.front()->FindField(Fieldname);
}

bool TDbfFiles::FieldInfo(int32_t FieldNum, Tdbffield& Info) const {
  return !fDbf.empty() && fDbf.front()->FieldInfo(FieldNum, Info);
}

Tdbffield TDbfFiles::FieldInfo(int32_t FieldNum) const {
  Tdbffield r;
  FieldInfo(FieldNum, r);
  return r;
}

TDbfFile* TDbfFiles::Locate(int32_t RecNum, int64_t& local) const {
  if (RecNum < 1 || fEnds.empty()) return nullptr;
  auto it = std::lower_bound(fEnds.begin(), fEnds.end(), int64_t(RecNum));
  if (it == fEnds.end()) return nullptr;
  size_t k = size_t(it - fEnds.begin());
  local = RecNum - (k == 0 ? 0 : fEnds[k - 1]);
  return fDbf[k].get();
}

bool TDbfFiles::IsNull(int32_t FieldNum, int32_t RecNum) {
  int64_t local = 0;
  TDbfFile* t = Locate(RecNum, local);
  return t && t->IsNull(FieldNum, local);
}

int64_t TDbfFiles::ReadInteger(int32_t FieldNum, int32_t RecNum) {
  int64_t local = 0;
  TDbfFile* t = Locate(RecNum, local);
  return t ? t->ReadInteger(FieldNum, local) : 0;
}

double TDbfFiles::ReadFloat(int32_t FieldNum, int32_t RecNum) {
  int64_t local = 0;
  TDbfFile* t = Locate(RecNum, local);
  return t ? t->ReadFloat(FieldNum, local) : 0;
}

std::string TDbfFiles::ReadString(int32_t FieldNum, int32_t RecNum) {
  int64_t local = 0;
  TDbfFile* t = Locate(RecNum, local);
  return t ? t->ReadString(FieldNum, local) : std::string();
}

}  // namespace kovra
