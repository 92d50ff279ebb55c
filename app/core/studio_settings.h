// The program's settings file "orvellastudio.ini" in the data folder: the
// output format and unit ("main"), the topology-check options ("topology")
// and one section per row of the network list ("Network_1", ...). Read once
// at start, written once at every close of the main window.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/core/studio_common.h"
#include "platform/kovra_inifile.h"

namespace studio {

inline constexpr const char* cMsgSettingsUnreadable =
    "The settings file %s could not be read: %s. It will not be changed when the program closes.";

// The topology-check options that the file keeps, with the defaults of a
// missing key.
struct TTopologyOptions {
  bool Links = true;
  bool Nodes = true;
  bool Turns = false;
  bool ObjectCheck = true;
  bool ShortLinks = true;
  double ShortLinksValue = 2;  // metres
  bool LoopLinks = false;
  bool ParallelLinks = true;
  bool NonConnectedNodes = true;
  double NonConnectedNodesValue = 5;  // metres
  bool NonConnectedLinks = true;
  double NonConnectedLinksValue = 5;  // metres
  bool Overpasses = true;
  bool Subnet = true;
  bool SubnetEx = true;
};

// The "topology" keys in file order; each is a Boolean or a number.
struct TTopologyKey {
  const char* Key;
  bool TTopologyOptions::*Flag;
  double TTopologyOptions::*Value;
};
inline constexpr TTopologyKey cTopologyKeys[] = {
    {"Links", &TTopologyOptions::Links, nullptr},
    {"Nodes", &TTopologyOptions::Nodes, nullptr},
    {"Turns", &TTopologyOptions::Turns, nullptr},
    {"ObjectCheck", &TTopologyOptions::ObjectCheck, nullptr},
    {"ShortLinks", &TTopologyOptions::ShortLinks, nullptr},
    {"ShortLinksValue", nullptr, &TTopologyOptions::ShortLinksValue},
    {"LoopLinks", &TTopologyOptions::LoopLinks, nullptr},
    {"ParallelLinks", &TTopologyOptions::ParallelLinks, nullptr},
    {"NonConnectedNodes", &TTopologyOptions::NonConnectedNodes, nullptr},
    {"NonConnectedNodesValue", nullptr, &TTopologyOptions::NonConnectedNodesValue},
    {"NonConnectedLinks", &TTopologyOptions::NonConnectedLinks, nullptr},
    {"NonConnectedLinksValue", nullptr, &TTopologyOptions::NonConnectedLinksValue},
    {"Overpasses", &TTopologyOptions::Overpasses, nullptr},
    {"Subnet", &TTopologyOptions::Subnet, nullptr},
    {"SubnetEx", &TTopologyOptions::SubnetEx, nullptr},
};

// What the main window keeps in "main" and "topology".
struct TWindowSettings {
  // Index into cOutputFormats of the checked item; none = nothing checked.
  std::optional<int32_t> OutputItem;
  kovra::TDistanceUnit Unit = kovra::TDistanceUnit::duKm;
  TTopologyOptions Topology;
};

// Reads "main" and "topology" into Settings, which holds the window's design
// state: an `outputformat` outside the table leaves OutputItem, a `unit`
// other than 0 and 1 leaves Unit; a missing or unreadable key gives its
// default; numbers are read in the regional format or with '.'.
void ReadWindowSettings(kovra::TCustomIniFile& Ini, const NumberFormat& Fmt, TWindowSettings& Settings);
// Writes "main" (no `outputformat` when nothing is checked) and every
// "topology" key in table order, numbers in the regional format.
void WriteWindowSettings(kovra::TCustomIniFile& Ini, const TWindowSettings& Settings, const NumberFormat& Fmt);

// The first 8 characters, upper-cased, are "NETWORK_" and the rest is a
// 32-bit integer.
bool IsNetworkSection(std::string_view Name);
// Erases every network section; other sections stay.
void EraseNetworkSections(kovra::TCustomIniFile& Ini);

// DataFolder + "orvellastudio.ini".
std::string SettingsFileName(const std::string& DataFolder);
// The system's message when a file that exists cannot be read (no rights, a
// folder in its place); none when it reads or does not exist.
std::optional<std::string> SettingsReadProblem(const std::string& FileName);

// The network list's part of the file, given by the window.
using TNetworkSectionsIO = std::function<void(kovra::TCustomIniFile& Ini)>;

// Start: reads the file into Settings, then lets ReadNetworks read the
// network sections. A file that exists but cannot be read gives the defaults
// and no network; the result is then the message to show, and the file must
// not be written at close.
std::optional<std::string> LoadSettingsFile(const std::string& FileName, const NumberFormat& Fmt,
                                            TWindowSettings& Settings, const TNetworkSectionsIO& ReadNetworks);
// Close: loads the file whole (every section and key it holds stays),
// writes Settings, erases the network sections, lets WriteNetworks write the
// list's, and saves it as UTF-8 with a byte order mark through a temporary
// file. Raises kovra::EIniFileException "Unable to write to %s" when it
// cannot be saved, and the message of LoadSettingsFile when the file became
// unreadable; the old file stays as it was.
void SaveSettingsFile(const std::string& FileName, const TWindowSettings& Settings, const NumberFormat& Fmt,
                      const TNetworkSectionsIO& WriteNetworks);

}  // namespace studio
