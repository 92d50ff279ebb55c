#include "platform/kovra_inifile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>

#include "platform/kovra_codepage.h"

namespace kovra {

namespace {

constexpr const char* cMsgUnableToWrite = "Unable to write to %s";

std::string_view TrimBlanks(std::string_view s) {
  size_t a = 0, b = s.size();
  while (a < b && (s[a] == ' ' || s[a] == '\t')) ++a;
  while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t')) --b;
  return s.substr(a, b - a);
}

// Section and key names compare ignoring case, with full Unicode case folding.
bool SameName(std::string_view a, std::string_view b) {
  bool ascii = true;
  for (char c : a) ascii = ascii && (unsigned char)c < 0x80;
  for (char c : b) ascii = ascii && (unsigned char)c < 0x80;
  if (ascii) return SameTextAscii(a, b);
  const std::u16string ua = ToUtf16(a), ub = ToUtf16(b);
  UErrorCode err = U_ZERO_ERROR;
  const int32_t r = u_strCaseCompare(reinterpret_cast<const UChar*>(ua.data()), int32_t(ua.size()),
                                     reinterpret_cast<const UChar*>(ub.data()), int32_t(ub.size()),
                                     U_FOLD_CASE_DEFAULT, &err);
  return U_SUCCESS(err) && r == 0;
}

uint16_t CodePageOf(TIniData::TEncoding e) {
  switch (e) {
    case TIniData::TEncoding::Utf8Bom: return cCodePageUTF8;
    case TIniData::TEncoding::Utf16LE: return cCodePageUTF16;
    default: return 0;  // the system ANSI code page
  }
}

std::string SanitizeValue(std::string_view v) {
  std::string s(v);
  for (char& c : s)
    if (c == '\r' || c == '\n') c = ' ';
  return s;
}

bool ParseInt32(std::string_view s, int32_t& out) {
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    uint64_t v = 0;
    const char* b = s.data() + 2;
    const char* e = s.data() + s.size();
    auto [p, ec] = std::from_chars(b, e, v, 16);
    if (ec != std::errc() || p != e || v > 0xFFFFFFFFu) return false;
    out = int32_t(uint32_t(v));  // a 32-bit pattern: 0xFFFFFFFF is -1
    return true;
  }
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  if (s.empty() || s[0] == '+') return false;
  int32_t v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v, 10);
  if (ec != std::errc() || p != s.data() + s.size()) return false;
  out = v;
  return true;
}

std::atomic<uint32_t> gTempCounter{0};

}  // namespace

// ---------------------------------------------------------------------------
// TIniData

TIniData TIniData::Parse(std::string_view Bytes) {
  TIniData d;
  size_t start = 0;
  if (Bytes.size() >= 2 && uint8_t(Bytes[0]) == 0xFF && uint8_t(Bytes[1]) == 0xFE) {
    d.FEncoding = TEncoding::Utf16LE;
    start = 2;
  } else if (Bytes.size() >= 3 && uint8_t(Bytes[0]) == 0xEF && uint8_t(Bytes[1]) == 0xBB &&
             uint8_t(Bytes[2]) == 0xBF) {
    d.FEncoding = TEncoding::Utf8Bom;
    start = 3;
  }
  const size_t w = d.FEncoding == TEncoding::Utf16LE ? 2 : 1;
  const uint16_t cp = CodePageOf(d.FEncoding);
  auto unit = [&](size_t i) -> uint32_t {
    if (w == 1) return uint8_t(Bytes[i]);
    return i + 1 < Bytes.size() ? uint32_t(uint8_t(Bytes[i])) | uint32_t(uint8_t(Bytes[i + 1])) << 8 : 0xFFFF;
  };
  size_t lineStart = start, i = start;
  while (i < Bytes.size()) {
    const uint32_t u = unit(i);
    size_t eolLen = 0;
    if (u == '\r')
      eolLen = (i + w < Bytes.size() && unit(i + w) == '\n') ? 2 * w : w;
    else if (u == '\n')
      eolLen = w;
    if (eolLen == 0) {
      i += w;
      continue;
    }
    TLine line;
    line.raw.assign(Bytes.substr(lineStart, i - lineStart));
    line.eol.assign(Bytes.substr(i, eolLen));
    line.text = CodePageToString(line.raw, cp);
    d.FLines.push_back(std::move(line));
    i += eolLen;
    lineStart = i;
  }
  if (lineStart < Bytes.size()) {
    TLine line;
    line.raw.assign(Bytes.substr(lineStart));
    line.text = CodePageToString(line.raw, cp);
    d.FLines.push_back(std::move(line));
  }
  return d;
}

std::string TIniData::Serialize() const {
  std::string out;
  if (FEncoding == TEncoding::Utf16LE) out = "\xFF\xFE";
  if (FEncoding == TEncoding::Utf8Bom) out = "\xEF\xBB\xBF";
  for (const TLine& l : FLines) {
    out += l.raw;
    out += l.eol;
  }
  return out;
}

TIniData::TKind TIniData::Classify(std::string_view text, std::string& name, std::string& value) {
  const std::string_view t = TrimBlanks(text);
  if (t.empty()) return TKind::Other;
  if (t[0] == '[') {
    const size_t close = t.find(']');
    name.assign(TrimBlanks(t.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1)));
    return TKind::Section;
  }
  const size_t eq = t.find('=');
  if (eq == std::string_view::npos) return TKind::Other;
  name.assign(TrimBlanks(t.substr(0, eq)));
  std::string_view v = TrimBlanks(t.substr(eq + 1));
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    v = v.substr(1, v.size() - 2);
  value.assign(v);
  return TKind::Key;
}

int TIniData::FindSectionLine(std::string_view Section) const {
  std::string name, value;
  for (size_t i = 0; i < FLines.size(); ++i)
    if (Classify(FLines[i].text, name, value) == TKind::Section && SameName(name, Section)) return int(i);
  return -1;
}

int TIniData::SectionEnd(int header) const {
  std::string name, value;
  for (size_t i = size_t(header) + 1; i < FLines.size(); ++i)
    if (Classify(FLines[i].text, name, value) == TKind::Section) return int(i);
  return int(FLines.size());
}

int TIniData::FindKeyLine(int header, std::string_view Ident) const {
  std::string name, value;
  const int end = SectionEnd(header);
  for (int i = header + 1; i < end; ++i)
    if (Classify(FLines[size_t(i)].text, name, value) == TKind::Key && SameName(name, Ident)) return i;
  return -1;
}

bool TIniData::Find(std::string_view Section, std::string_view Ident, std::string& Value) const {
  const int h = FindSectionLine(Section);
  if (h < 0) return false;
  const int k = FindKeyLine(h, Ident);
  if (k < 0) return false;
  std::string name;
  Classify(FLines[size_t(k)].text, name, Value);
  return true;
}

bool TIniData::SectionExists(std::string_view Section) const { return FindSectionLine(Section) >= 0; }

void TIniData::ReadSection(std::string_view Section, std::vector<std::string>& Strings) const {
  Strings.clear();
  const int h = FindSectionLine(Section);
  if (h < 0) return;
  std::string name, value;
  const int end = SectionEnd(h);
  for (int i = h + 1; i < end; ++i) {
    if (Classify(FLines[size_t(i)].text, name, value) != TKind::Key) continue;
    bool seen = false;
    for (const std::string& s : Strings) seen = seen || SameName(s, name);
    if (!seen) Strings.push_back(name);
  }
}

void TIniData::ReadSections(std::vector<std::string>& Strings) const {
  Strings.clear();
  std::string name, value;
  for (const TLine& l : FLines) {
    if (Classify(l.text, name, value) != TKind::Section) continue;
    bool seen = false;
    for (const std::string& s : Strings) seen = seen || SameName(s, name);
    if (!seen) Strings.push_back(name);
  }
}

void TIniData::ReadSectionValues(std::string_view Section, std::vector<std::string>& Strings) const {
  std::vector<std::string> keys;
  ReadSection(Section, keys);
  Strings.clear();
  for (const std::string& k : keys) {
    std::string v;
    Find(Section, k, v);
    Strings.push_back(k + "=" + v);
  }
}

TIniData::TLine TIniData::MakeLine(std::string_view text) const {
  TLine l;
  l.text.assign(text);
  const uint16_t cp = CodePageOf(FEncoding);
  l.raw = StringToCodePage(text, cp);
  l.eol = StringToCodePage("\r\n", cp);
  return l;
}

void TIniData::InsertLine(size_t at, std::string_view text) {
  TLine l = MakeLine(text);
  // An unterminated last line gets its break before anything follows it. In
  // a UTF-16 file cut after an odd byte, that byte is completed to a unit
  // first: otherwise every unit after it would be read shifted by one byte.
  if (at > 0 && FLines[at - 1].eol.empty()) {
    TLine& prev = FLines[at - 1];
    if (FEncoding == TEncoding::Utf16LE && prev.raw.size() % 2 != 0) {
      prev.raw += '\0';
      prev.text = CodePageToString(prev.raw, cCodePageUTF16);
    }
    prev.eol = l.eol;
  }
  FLines.insert(FLines.begin() + std::ptrdiff_t(at), std::move(l));
}

void TIniData::Write(std::string_view Section, std::string_view Ident, std::string_view Value) {
  const std::string text = std::string(Ident) + "=" + SanitizeValue(Value);
  const int h = FindSectionLine(Section);
  if (h < 0) {
    InsertLine(FLines.size(), "[" + std::string(Section) + "]");
    InsertLine(FLines.size(), text);
    return;
  }
  const int k = FindKeyLine(h, Ident);
  if (k >= 0) {
    TLine l = MakeLine(text);
    if (!FLines[size_t(k)].eol.empty()) l.eol = FLines[size_t(k)].eol;
    FLines[size_t(k)] = std::move(l);
    return;
  }
  // After the last key line of the section, so blank lines before the next
  // section stay where they are.
  int at = h + 1;
  std::string name, value;
  const int end = SectionEnd(h);
  for (int i = h + 1; i < end; ++i)
    if (Classify(FLines[size_t(i)].text, name, value) == TKind::Key) at = i + 1;
  InsertLine(size_t(at), text);
}

bool TIniData::EraseSection(std::string_view Section) {
  const int h = FindSectionLine(Section);
  if (h < 0) return false;
  FLines.erase(FLines.begin() + h, FLines.begin() + SectionEnd(h));
  return true;
}

bool TIniData::DeleteKey(std::string_view Section, std::string_view Ident) {
  const int h = FindSectionLine(Section);
  if (h < 0) return false;
  const int k = FindKeyLine(h, Ident);
  if (k < 0) return false;
  FLines.erase(FLines.begin() + k);
  return true;
}

void TIniData::Clear() { FLines.clear(); }

void TIniData::SetEncoding(TEncoding Encoding) {
  if (Encoding == FEncoding) return;
  const uint16_t from = CodePageOf(FEncoding), to = CodePageOf(Encoding);
  for (TLine& l : FLines) {
    l.raw = StringToCodePage(l.text, to);
    l.eol = StringToCodePage(CodePageToString(l.eol, from), to);
  }
  FEncoding = Encoding;
}

// ---------------------------------------------------------------------------
// TCustomIniFile

TIniData TCustomIniFile::Load(bool ForWrite) const {
  const int fd = open(FFileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT || !ForWrite) return TIniData();
    throw EIniFileException(Format(cMsgUnableToWrite, FFileName));
  }
  std::string bytes;
  char buf[65536];
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
      bytes.append(buf, size_t(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      close(fd);
      if (!ForWrite) return TIniData();
      throw EIniFileException(Format(cMsgUnableToWrite, FFileName));
    }
    break;
  }
  close(fd);
  return TIniData::Parse(bytes);
}

void TCustomIniFile::Save(const TIniData& Data) const {
  const std::string bytes = Data.Serialize();
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = FFileName + "." + std::to_string(getpid()) + "-" + std::to_string(gTempCounter++) + ".tmp";
    fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) throw EIniFileException(Format(cMsgUnableToWrite, FFileName));
  bool ok = true;
  size_t done = 0;
  while (ok && done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += size_t(n);
  }
  struct stat st {};
  if (ok && stat(FFileName.c_str(), &st) == 0) fchmod(fd, st.st_mode & 07777);  // keep the old rights
  ok = (close(fd) == 0) && ok;
  ok = ok && rename(temp.c_str(), FFileName.c_str()) == 0;
  if (!ok) {
    unlink(temp.c_str());
    throw EIniFileException(Format(cMsgUnableToWrite, FFileName));
  }
}

std::string TCustomIniFile::ReadString(const std::string& Section, const std::string& Ident,
                                       const std::string& Default) {
  std::string v;
  return Data().Find(Section, Ident, v) ? v : Default;
}

void TCustomIniFile::WriteString(const std::string& Section, const std::string& Ident, const std::string& Value) {
  Change([&](TIniData& d) {
    d.Write(Section, Ident, Value);
    return true;
  });
}

int32_t TCustomIniFile::ReadInteger(const std::string& Section, const std::string& Ident, int32_t Default) {
  int32_t v = 0;
  return ParseInt32(ReadString(Section, Ident, ""), v) ? v : Default;
}

void TCustomIniFile::WriteInteger(const std::string& Section, const std::string& Ident, int32_t Value) {
  WriteString(Section, Ident, IntToStr(Value));
}

bool TCustomIniFile::ReadBool(const std::string& Section, const std::string& Ident, bool Default) {
  return ReadInteger(Section, Ident, Default ? 1 : 0) != 0;
}

void TCustomIniFile::WriteBool(const std::string& Section, const std::string& Ident, bool Value) {
  WriteString(Section, Ident, Value ? "1" : "0");
}

double TCustomIniFile::ReadFloat(const std::string& Section, const std::string& Ident, double Default) {
  const std::string s = ReadString(Section, Ident, "");
  double v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
  if (s.empty() || ec != std::errc() || p != s.data() + s.size() || !std::isfinite(v)) return Default;
  return v;
}

void TCustomIniFile::WriteFloat(const std::string& Section, const std::string& Ident, double Value) {
  WriteString(Section, Ident, FloatToStrG15(Value));
}

bool TCustomIniFile::SectionExists(const std::string& Section) { return Data().SectionExists(Section); }

bool TCustomIniFile::ValueExists(const std::string& Section, const std::string& Ident) {
  std::string v;
  return Data().Find(Section, Ident, v);
}

void TCustomIniFile::ReadSection(const std::string& Section, std::vector<std::string>& Strings) {
  Data().ReadSection(Section, Strings);
}

void TCustomIniFile::ReadSections(std::vector<std::string>& Strings) { Data().ReadSections(Strings); }

void TCustomIniFile::ReadSectionValues(const std::string& Section, std::vector<std::string>& Strings) {
  Data().ReadSectionValues(Section, Strings);
}

void TCustomIniFile::EraseSection(const std::string& Section) {
  Change([&](TIniData& d) { return d.EraseSection(Section); });
}

void TCustomIniFile::DeleteKey(const std::string& Section, const std::string& Ident) {
  Change([&](TIniData& d) { return d.DeleteKey(Section, Ident); });
}

// ---------------------------------------------------------------------------

const TIniData& TIniFile::Data() {
  FCache = Load(false);
  return FCache;
}

void TIniFile::Change(const std::function<bool(TIniData&)>& f) {
  TIniData d = Load(true);
  if (f(d)) Save(d);
}

TMemIniFile::TMemIniFile(std::string FileName) : TCustomIniFile(std::move(FileName)), FData(Load(false)) {}

void TMemIniFile::UpdateFile() { Save(FData); }

}  // namespace kovra
