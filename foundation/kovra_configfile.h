// The settings file of a network directory, "kovra_config.ini": one section
// "kovra" with the network's encryption flag, format version, coordinate unit
// and system, link count and bounds, and a last line "checksum" with a 16-bit
// hash of every line before it, so that an edited or damaged file is refused.
// In an encrypted network every value after "encrypted" is stored scrambled,
// 6 bits per symbol through a fixed alphabet.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/kovra_types.h"
#include "platform/kovra_inifile.h"

namespace kovra {

inline constexpr const char* cConfigFileName = "kovra_config.ini";
inline constexpr const char* cConfigSection = "kovra";
inline constexpr const char* cMsgConfigCorrupted = "The config file is corrupted";
// What readers and writers of an encrypted network's files say without a key.
inline constexpr const char* cMsgSupplyKey = "Network is encrypted, supply a key";

// The settings of one network directory.
struct TConfig {
  int32_t VersionCode = 0;
  bool Encrypted = false;
  TCoordinateUnit Cu = cuUnknown;
  std::string CoordSys;
  std::string Prj;
  int32_t Epsg = 0;
  int32_t LinkCount = 0;
  TFloatRect Mbr;
  double CheckSum = 0;
};

// The 64 symbols of the scrambled values, index 0..63: part of the file format.
inline constexpr std::string_view cSettingAlphabet =
    "RCv6/W0hOFlpUwQH4LB5bZnxNuf3MA79YV2d8EjgDk1cKsyqoItiXzGSTaJrP+em";

// Packs the value's bytes in the system ANSI code page, 8 bits in, 6 bits per
// symbol out, most significant first; k bytes give ceil(8k/6) symbols.
std::string EncodeSettingValue(std::string_view s);
// The inverse; stops at the first symbol outside the alphabet; leftover padding
// bits are dropped; the bytes are decoded through the ANSI code page.
std::string DecodeSettingValue(std::string_view t);

// "Meter", "Degrees", ... ; "" for cuUnknown.
std::string CoordinateUnitName(TCoordinateUnit Cu);
// Case-insensitive; an empty or unknown name gives cuUnknown.
TCoordinateUnit CoordinateUnitFromName(std::string_view Name);

// The platform INI file with scrambled values (when Encoded) and locale-free
// floating-point values. Integers and Booleans go through ReadString and
// WriteString, so they are scrambled too.
class TMyinifile : public TIniFile {
public:
  using TIniFile::TIniFile;

  bool Encoded() const { return fEncoded; }
  void SetEncoded(bool value) { fEncoded = value; }

  // The platform read; when Encoded the result (a default too) is unscrambled.
  std::string ReadString(const std::string& Section, const std::string& Ident,
                         const std::string& Default) override;
  // CR and LF become blanks, then the value is scrambled when Encoded.
  void WriteString(const std::string& Section, const std::string& Ident, const std::string& Value) override;
  // Leading number with '.' ("12abc" -> 12, "" -> 0); Default only on overflow.
  double ReadFloat(const std::string& Section, const std::string& Ident, double Default) override;
  void WriteFloat(const std::string& Section, const std::string& Ident, double Value) override;

private:
  bool fEncoded = false;
};

// Writes "kovra_config.ini" into Directory (which ends with a path delimiter):
// the lines go into a temporary file beside it, the checksum over them is
// appended, and the temporary file is renamed over the settings file, so a
// failure leaves an old file intact. The bounds are written with as many
// digits (15 to 17) as read back exactly. A refused write raises
// EIniFileException "Unable to write to %s" naming the settings file.
void WriteConfig(const std::string& Directory, bool Encrypted, TCoordinateUnit Cu, const std::string& CoordSys,
                 const std::string& Prj, int32_t Epsg, int32_t LinkCount, const TFloatRect& Mbr);

// Reads the settings and checks the checksum: EConfigFileCheckSumError "The
// config file is corrupted" on a mismatch. A missing file reads as defaults and
// then raises EFOpenError from the checksum step (callers check first).
TConfig ReadConfig(const std::string& Directory);

// HashString (mask $FFFF) of the file's lines 0..Count-1-SkipLast joined
// without separators; lines break at CR LF, LF or CR and are not trimmed; the
// text is ANSI unless a byte order mark says UTF-8 or UTF-16LE.
int32_t ConfigChecksum(const std::string& Directory, int32_t SkipLast);

}  // namespace kovra
