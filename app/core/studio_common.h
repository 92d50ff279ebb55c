// Application-wide state of the desktop program and its small helpers: the
// program's files and folders, the regional number texts and the output
// formats of the menu. No Qt here: the window layer sits on top.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/kovra_types.h"
#include "network/kovra_network.h"

namespace studio {

inline constexpr const char* cProgramName = "orvellastudio";
inline constexpr const char* cProgramCaption = "Orvella Studio";
inline constexpr const char* cProgramVersion = "1.07";
inline constexpr const char* cSettingsFileName = "orvellastudio.ini";
inline constexpr const char* cSupportAddress = "support@orvellastudio.invalid";

inline constexpr const char* cMsgHelpNotFound = "Help file not found: %s";
// The shell found nothing to open a file or address with.
inline constexpr const char* cMsgCouldNotOpen = "Could not open %s";

// The decimal and thousands separators of the user's regional format (UTF-8;
// French groups with U+202F, so a separator is text, not a char).
struct NumberFormat {
  std::string decimal = ".";
  std::string group = ",";
};

// One instance for the process.
struct TAppState {
  // Folder of the settings file, with the trailing '/'; set at start.
  std::string DataFolder;
  // Format of every GIS layer the window writes.
  kovra::TGISFormat OutputFormat = kovra::TGISFormat::gfMIF;
  // Code page handed to the attribute import; 0 = as the tables declare.
  uint16_t ImportCodePage = 0;
  // The network opened on the Manage Networks tab.
  std::unique_ptr<kovra::TNetwork> CurrentNetwork;
  // The user's number format for every number the window shows or reads.
  NumberFormat Regional;
  // ExeFolder at start; the help pages are looked up from it.
  std::string ProgramFolder;
};
TAppState& AppState();

// --- files and folders -------------------------------------------------------

// Full name of the running program; empty when it cannot be had.
std::string ExeFileName();
// Its folder with the trailing '/'; empty when the name cannot be had.
std::string ExeFolder();
// The folder for the user's settings, with the trailing '/':
// $XDG_CONFIG_HOME when it is an absolute path, else $HOME/.config (HOME
// from the password database when unset); empty when neither is known.
std::string CommonAppDataFolder();
// Creates Folder with every missing parent; raises kovra::EOSError with the
// system's message when that fails or a part of it is not a folder.
void ForceDirectories(const std::string& Folder);

// The help's first page: "help/index.html" beside the program, else the
// installed "../share/doc/orvellastudio/html/index.html"; none when neither
// is a file.
std::optional<std::string> FindHelpFile(const std::string& ProgramFolder);
// Where the help's first page belongs beside the program.
std::string HelpFileBesideProgram(const std::string& ProgramFolder);

// --- numbers ---------------------------------------------------------------

// The text converts to a 32-bit integer.
bool IsInteger(std::string_view Text);
// n with the regional thousands separator, no decimals.
std::string FormatThousands(int64_t n, const NumberFormat& Fmt);
// x with the regional separators and exactly 3 decimals.
std::string FormatThousands3(double x, const NumberFormat& Fmt);
// General float text (15 significant digits) with the regional decimal mark.
std::string FloatToStrRegional(double x, const NumberFormat& Fmt);
// Blanks around, a sign, digits with at most one decimal mark (the regional
// one or '.': a value stored before a change of locale still reads), and an
// exponent; no thousands separators. Anything else, or a value beyond the
// double range, raises kovra::EConvertError "'%s' is not a valid floating
// point value".
double ParseFloatRegional(std::string_view Text, const NumberFormat& Fmt);
bool TryParseFloatRegional(std::string_view Text, const NumberFormat& Fmt, double& Value);

// --- output formats of the menu ------------------------------------------------

struct TOutputFormatItem {
  int32_t Stored;        // the number kept in the settings file
  const char* Caption;   // the menu item
  kovra::TGISFormat Format;
};
inline constexpr TOutputFormatItem cOutputFormats[] = {
    {0, "SHP", kovra::TGISFormat::gfSHP},   {1, "MIF", kovra::TGISFormat::gfMIF},
    {2, "TAB", kovra::TGISFormat::gfMITAB}, {3, "KML", kovra::TGISFormat::gfKML2},
    {4, "GML", kovra::TGISFormat::gfGML2},
};
inline constexpr int32_t cOutputFormatTAB = 2;
inline constexpr int32_t cOutputFormatMIF = 1;
// The item of a stored number; none for a number outside the table.
std::optional<int32_t> OutputItemOfStored(int32_t Stored);
// The format written with the checked item; gfMIF when none is checked.
kovra::TGISFormat OutputFormatOfItem(std::optional<int32_t> Item);

}  // namespace studio
