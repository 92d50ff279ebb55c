#include "foundation/kovra_configfile.h"

#include <array>
#include <cstdio>
#include <vector>

#include "foundation/kovra_functions.h"
#include "foundation/kovra_io.h"
#include "platform/kovra_codepage.h"

namespace kovra {

namespace {

constexpr std::array<int8_t, 256> MakeSymbolIndex() {
  std::array<int8_t, 256> t{};
  for (int8_t& v : t) v = -1;
  for (size_t i = 0; i < cSettingAlphabet.size(); ++i) t[uint8_t(cSettingAlphabet[i])] = int8_t(i);
  return t;
}
constexpr std::array<int8_t, 256> cSymbolIndex = MakeSymbolIndex();
static_assert(cSettingAlphabet.size() == 64);

struct TUnitName {
  TCoordinateUnit unit;
  const char* name;
};
constexpr TUnitName cUnitNames[] = {
    {cuRad, "Radians"},  {cuDeg, "Degrees"},     {cuGrad, "Grad"},  {cuMm, "Mm"},
    {cuCm, "Cm"},        {cuDm, "Dm"},           {cuM, "Meter"},    {cuKm, "Km"},
    {cuPoint, "Points"}, {cuInch, "Inch"},       {cuLink, "Link"},  {cuFt, "Feet"},
    {cuSurveyft, "Survey Feet"}, {cuYard, "Yard"}, {cuChain, "Chain"}, {cuRod, "Rod"},
    {cuMiles, "Miles"},  {cuNmi, "Nautical Miles"},
};

std::string WithDelimiter(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

int32_t ChecksumOfFile(const std::string& FileName, int32_t SkipLast) {
  TKvMemoryStream ms;
  ms.LoadFromFile(FileName);  // EFOpenError for a missing file
  std::string_view bytes(static_cast<const char*>(ms.Memory()), size_t(ms.Size()));
  std::string text;
  if (bytes.size() >= 2 && uint8_t(bytes[0]) == 0xFF && uint8_t(bytes[1]) == 0xFE)
    text = CodePageToString(bytes.substr(2), cCodePageUTF16);
  else if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF")
    text = CodePageToString(bytes.substr(3), cCodePageUTF8);
  else
    text = CodePageToString(bytes, 0);
  // Lines break at CR LF, LF or CR; a final break makes no empty line.
  std::vector<std::string_view> lines;
  size_t start = 0, i = 0;
  while (i < text.size()) {
    if (text[i] == '\r' || text[i] == '\n') {
      lines.push_back(std::string_view(text).substr(start, i - start));
      i += (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
      start = i;
    } else {
      ++i;
    }
  }
  if (start < text.size()) lines.push_back(std::string_view(text).substr(start));
  std::string joined;
  const int64_t count = int64_t(lines.size()) - SkipLast;
  for (int64_t k = 0; k < count; ++k) joined += lines[size_t(k)];
  return int32_t(HashString(joined, 0xFFFF));
}

}  // namespace

std::string EncodeSettingValue(std::string_view s) {
  // Bytes, not character codes: a character above 255 ('€') would otherwise
  // spill into the next symbol and come back as something else.
  const std::string bytes = StringToCodePage(s, 0);
  std::string out;
  out.reserve((bytes.size() * 8 + 5) / 6);
  uint32_t acc = 0;
  int n = 0;
  for (char c : bytes) {
    acc = (acc << 8) | uint8_t(c);
    n += 8;
    while (n > 5) {
      n -= 6;
      out += cSettingAlphabet[acc >> n];
      acc &= (1u << n) - 1;
    }
  }
  if (n > 0) out += cSettingAlphabet[acc << (6 - n)];
  return out;
}

std::string DecodeSettingValue(std::string_view t) {
  std::string bytes;
  bytes.reserve(t.size() * 6 / 8);
  uint32_t acc = 0;
  int n = 0;
  for (char c : t) {
    const int v = cSymbolIndex[uint8_t(c)];
    if (v < 0) break;  // decoded up to the first foreign symbol
    acc = (acc << 6) | uint32_t(v);
    n += 6;
    if (n > 7) {
      n -= 8;
      bytes += char((acc >> n) & 0xFF);
      acc &= (1u << n) - 1;
    }
  }
  return CodePageToString(bytes, 0);
}

std::string CoordinateUnitName(TCoordinateUnit Cu) {
  for (const TUnitName& u : cUnitNames)
    if (u.unit == Cu) return u.name;
  return "";
}

TCoordinateUnit CoordinateUnitFromName(std::string_view Name) {
  for (const TUnitName& u : cUnitNames)
    if (SameTextAscii(Name, u.name)) return u.unit;
  return cuUnknown;
}

// ---------------------------------------------------------------------------
// TMyinifile

std::string TMyinifile::ReadString(const std::string& Section, const std::string& Ident,
                                   const std::string& Default) {
  std::string s = TIniFile::ReadString(Section, Ident, Default);
  return fEncoded ? DecodeSettingValue(s) : s;
}

void TMyinifile::WriteString(const std::string& Section, const std::string& Ident, const std::string& Value) {
  // Breaks go before scrambling: a scrambled break would come back as one.
  std::string v = Value;
  for (char& c : v)
    if (c == '\r' || c == '\n') c = ' ';
  TIniFile::WriteString(Section, Ident, fEncoded ? EncodeSettingValue(v) : v);
}

double TMyinifile::ReadFloat(const std::string& Section, const std::string& Ident, double Default) {
  bool overflow = false;
  const double v = ParseFloatDot(ReadString(Section, Ident, ""), overflow);
  return overflow ? Default : v;
}

void TMyinifile::WriteFloat(const std::string& Section, const std::string& Ident, double Value) {
  WriteString(Section, Ident, FloatToStrDot(Value));
}

// ---------------------------------------------------------------------------

namespace {

// The bounds must read back as written: rounded inwards, a network whose
// nodes lie on one line (a bound equal to their coordinate) would find its
// own nodes outside its search area. Fifteen digits where they suffice.
std::string ExactFloatText(double v) {
  for (int digits = 15; digits < 17; ++digits) {
    std::string s = FloatToStrG(v, digits);
    bool overflow = false;
    if (ParseFloatDot(s, overflow) == v) return s;
  }
  return FloatToStrG(v, 17);
}

}  // namespace

int32_t ConfigChecksum(const std::string& Directory, int32_t SkipLast) {
  return ChecksumOfFile(WithDelimiter(Directory) + cConfigFileName, SkipLast);
}

void WriteConfig(const std::string& Directory, bool Encrypted, TCoordinateUnit Cu, const std::string& CoordSys,
                 const std::string& Prj, int32_t Epsg, int32_t LinkCount, const TFloatRect& Mbr) {
  const std::string target = WithDelimiter(Directory) + cConfigFileName;
  const std::string temp = target + ".tmp";
  std::remove(temp.c_str());  // a leftover of an interrupted run
  try {
    TMyinifile ini(temp);
    ini.SetEncoded(false);
    if (Encrypted) ini.WriteBool(cConfigSection, "encrypted", true);
    ini.SetEncoded(Encrypted);
    ini.WriteInteger(cConfigSection, "version", cNetworkVersion);
    ini.WriteString(cConfigSection, "coordinateunit", CoordinateUnitName(Cu));
    if (!CoordSys.empty()) ini.WriteString(cConfigSection, "coordsys", CoordSys);
    if (!Prj.empty()) ini.WriteString(cConfigSection, "prj", Prj);
    if (Epsg != 0) ini.WriteInteger(cConfigSection, "epsg", Epsg);
    ini.WriteInteger(cConfigSection, "linkcount", LinkCount);
    ini.WriteString(cConfigSection, "xmin", ExactFloatText(Mbr.xmin));
    ini.WriteString(cConfigSection, "ymin", ExactFloatText(Mbr.ymin));
    ini.WriteString(cConfigSection, "xmax", ExactFloatText(Mbr.xmax));
    ini.WriteString(cConfigSection, "ymax", ExactFloatText(Mbr.ymax));
    ini.WriteInteger(cConfigSection, "checksum", ChecksumOfFile(temp, 0));
    if (rename(temp.c_str(), target.c_str()) != 0) throw EIniFileException("");
  } catch (const EIniFileException&) {
    std::remove(temp.c_str());
    throw EIniFileException(Format("Unable to write to %s", target));
  } catch (...) {
    std::remove(temp.c_str());
    throw;
  }
}

TConfig ReadConfig(const std::string& Directory) {
  const std::string dir = WithDelimiter(Directory);
  TMyinifile ini(dir + cConfigFileName);
  TConfig c;
  ini.SetEncoded(false);
  c.Encrypted = ini.ReadBool(cConfigSection, "encrypted", false);
  ini.SetEncoded(c.Encrypted);
  c.VersionCode = ini.ReadInteger(cConfigSection, "version", 0);
  c.Cu = CoordinateUnitFromName(ini.ReadString(cConfigSection, "coordinateunit", ""));
  c.CoordSys = ini.ReadString(cConfigSection, "coordsys", "");
  c.Prj = ini.ReadString(cConfigSection, "prj", "");
  c.Epsg = ini.ReadInteger(cConfigSection, "epsg", 0);
  c.LinkCount = ini.ReadInteger(cConfigSection, "linkcount", 0);
  c.Mbr.xmin = ini.ReadFloat(cConfigSection, "xmin", 0);
  c.Mbr.ymin = ini.ReadFloat(cConfigSection, "ymin", 0);
  c.Mbr.xmax = ini.ReadFloat(cConfigSection, "xmax", 0);
  c.Mbr.ymax = ini.ReadFloat(cConfigSection, "ymax", 0);
  c.CheckSum = ini.ReadInteger(cConfigSection, "checksum", 0);
  if (double(ConfigChecksum(dir, 1)) != c.CheckSum) throw EConfigFileCheckSumError(cMsgConfigCorrupted);
  return c;
}

}  // namespace kovra
