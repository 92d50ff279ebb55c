#include "app/core/studio_settings.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "foundation/kovra_functions.h"

namespace studio {

using kovra::TCustomIniFile;

namespace {
constexpr const char* cMain = "main";
constexpr const char* cTopology = "topology";
}  // namespace

void ReadWindowSettings(TCustomIniFile& Ini, const NumberFormat& Fmt, TWindowSettings& Settings) {
  if (const auto item = OutputItemOfStored(Ini.ReadInteger(cMain, "outputformat", 0))) Settings.OutputItem = item;
  const int32_t unit = Ini.ReadInteger(cMain, "unit", 0);
  if (unit == 0) Settings.Unit = kovra::TDistanceUnit::duKm;
  if (unit == 1) Settings.Unit = kovra::TDistanceUnit::duMiles;

  const TTopologyOptions defaults;
  TTopologyOptions& t = Settings.Topology;
  for (const TTopologyKey& k : cTopologyKeys) {
    if (k.Flag) {
      t.*k.Flag = Ini.ReadBool(cTopology, k.Key, defaults.*k.Flag);
    } else {
      double v = 0;
      t.*k.Value = TryParseFloatRegional(Ini.ReadString(cTopology, k.Key, ""), Fmt, v) ? v : defaults.*k.Value;
    }
  }
}

void WriteWindowSettings(TCustomIniFile& Ini, const TWindowSettings& Settings, const NumberFormat& Fmt) {
  if (Settings.OutputItem) Ini.WriteInteger(cMain, "outputformat", cOutputFormats[*Settings.OutputItem].Stored);
  Ini.WriteInteger(cMain, "unit", Settings.Unit == kovra::TDistanceUnit::duMiles ? 1 : 0);
  const TTopologyOptions& t = Settings.Topology;
  for (const TTopologyKey& k : cTopologyKeys) {
    if (k.Flag)
      Ini.WriteBool(cTopology, k.Key, t.*k.Flag);
    else
      Ini.WriteString(cTopology, k.Key, FloatToStrRegional(t.*k.Value, Fmt));
  }
}

bool IsNetworkSection(std::string_view Name) {
  return kovra::UpperAscii(kovra::Copy(Name, 1, 8)) == "NETWORK_" && IsInteger(kovra::Copy(Name, 9, 92));
}

void EraseNetworkSections(TCustomIniFile& Ini) {
  std::vector<std::string> sections;
  Ini.ReadSections(sections);
  for (const std::string& s : sections)
    if (IsNetworkSection(s))
      while (Ini.SectionExists(s)) Ini.EraseSection(s);  // a name may stand twice in a hand-made file
}

std::string SettingsFileName(const std::string& DataFolder) { return DataFolder + cSettingsFileName; }

std::optional<std::string> SettingsReadProblem(const std::string& FileName) {
  const int fd = open(FileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return std::nullopt;
    return std::string(std::strerror(errno));
  }
  // A folder opens; only reading tells.
  char byte;
  ssize_t n;
  do n = read(fd, &byte, 1);
  while (n < 0 && errno == EINTR);
  const int err = errno;
  close(fd);
  if (n < 0) return std::string(std::strerror(err));
  return std::nullopt;
}

std::optional<std::string> LoadSettingsFile(const std::string& FileName, const NumberFormat& Fmt,
                                            TWindowSettings& Settings, const TNetworkSectionsIO& ReadNetworks) {
  const auto problem = SettingsReadProblem(FileName);
  // An unreadable file counts as empty for the window (its defaults) and
  // lists no network.
  kovra::TMemIniFile ini(problem ? std::string() : FileName);
  ReadWindowSettings(ini, Fmt, Settings);
  if (problem) return kovra::Format(cMsgSettingsUnreadable, FileName, *problem);
  if (ReadNetworks) ReadNetworks(ini);
  return std::nullopt;
}

void SaveSettingsFile(const std::string& FileName, const TWindowSettings& Settings, const NumberFormat& Fmt,
                      const TNetworkSectionsIO& WriteNetworks) {
  // The memory copy of a file that cannot be read would be empty, and the
  // save would replace every network the file lists.
  if (const auto problem = SettingsReadProblem(FileName))
    throw kovra::EIniFileException(kovra::Format(cMsgSettingsUnreadable, FileName, *problem));
  kovra::TMemIniFile ini(FileName);
  // UTF-8 holds any path; an ANSI file would keep only what 1252 can.
  ini.SetEncoding(kovra::TIniData::TEncoding::Utf8Bom);
  WriteWindowSettings(ini, Settings, Fmt);
  EraseNetworkSections(ini);
  if (WriteNetworks) WriteNetworks(ini);
  ini.UpdateFile();
}

}  // namespace studio
