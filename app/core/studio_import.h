// "Go !" of the import tab without the widgets: the tab's state is turned
// into a plan (texts converted, fields and Execute calls listed in order)
// before anything is touched, and the plan is run on TImport and
// TImportAttributes.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/core/studio_functions.h"
#include "app/core/studio_networklist.h"
#include "foundation/kovra_progress.h"
#include "import/kovra_importattributes.h"

namespace studio {

inline constexpr const char* cMsgScanFirst = "Scan the input files first (Scan Files)";
inline constexpr const char* cMsgAllowLoops = "Are you really sure loop links should be allowed?";
inline constexpr const char* cMsgMidRecords = "The MIF and MID files do not have the same number of records";
inline constexpr const char* cMsgAddFilesFirst = "Add one more files first";
inline constexpr const char* cOutputNotSet = "< not set >";

// --- the code-page list ---------------------------------------------------------

struct TCodePageEntry {
  uint16_t Number;  // 0 for entry 0, "Auto-detect codepage"
  const char* Description;
};
inline constexpr int cCodePageEntryCount = 40;
extern const std::array<TCodePageEntry, cCodePageEntryCount> cCodePageEntries;
// The entry's text: "Auto-detect codepage", or the number, " — " (an em
// dash) and the description.
std::string CodePageEntryText(int Entry);

// --- coordinate presets ----------------------------------------------------------------

struct TCoordPreset {
  const char* CoordSys;
  int32_t EPSG;
  std::string Prj;
};
const TCoordPreset& PresetWGS84();
const TCoordPreset& PresetBNG();

// --- Go ------------------------------------------------------------------------------

// What Go reads from the tab.
struct TImportState {
  std::vector<std::string> Files;
  // The field lists hold entries (a Scan has run); before any Scan they are empty.
  bool FieldsListed = false;
  // Field number of each list's chosen entry; -1 for "<pick a field>".
  std::array<int32_t, cFieldListCount> Fields;
  std::string CoordSys, Prj, EPSG;
  bool AllowLoops = false;
  std::string MaxNodesPerCell = "50";
  std::string EncryptionKey = "0";
  int CodePageEntry = 0;      // index into cCodePageEntries
  uint16_t ScanCodePage = 0;  // what the last Scan found
  std::string OutputFolder;

  TImportState() { Fields.fill(-1); }
};

// One Execute of the attribute import, in the order Go makes them.
enum class TAttributeStep : uint8_t { asAttribute, asExternalIDint, asExternalIDstring, asRoadname, asLimit };
struct TAttributeCall {
  TAttributeStep Step;
  int32_t FileIndex;  // RoadNameFileIndex or LimitFileIndex (1..3); 0 for the others
  int32_t Field;      // 0-based field number
  bool operator==(const TAttributeCall&) const = default;
};

struct TImportPlan {
  std::vector<std::string> Files;
  int32_t ZFromField = -1, ZToField = -1;  // both set or neither
  std::string CoordSys, Prj;
  std::optional<int32_t> EPSG;
  bool AllowLoops = false;
  int32_t MaxNodesPerCell = 50;
  int64_t EncryptionKey = 0;  // the 32-bit key text, widened
  std::string Directory;
  // "DAT", "DBF" or "MID": the attribute tables beside the input files.
  std::string TableExt;
  kovra::TFileKind Kind = kovra::TFileKind::fkDBF;
  uint16_t CodePage = 0;  // CodepageCSV and CodepageDbf of the attribute import
  std::vector<TAttributeCall> Calls;
  // The new row of the network list: Encryption and Attributes.
  int32_t RowEncryption = 0;
  bool RowAttributes = false;
};

// The plan of Go, before anything is written. Raises Exception
// cMsgScanFirst when no Scan has filled the field lists, and the conversion
// errors of the EPSG, "Max Nodes Per Cell" and "Encryptionkey" texts.
// With "Allow loops" ticked Ask gets cMsgAllowLoops; No gives no plan.
std::optional<TImportPlan> BuildImportPlan(const TImportState& State,
                                           const std::function<bool(const std::string&)>& Ask);

// Every file of the plan passes FileSetValid; else Exception
// "This file isn't valid: " + its name. Reads only sizes and header counts.
void CheckFileSets(const std::vector<std::string>& Files);

// The import, its report, the MID record check (Exception cMsgMidRecords:
// the network files stay, no attribute file is written) and the attribute
// import's Execute calls in the plan's order. Errors of the library leave
// where they occur. Returns the import's LinkCount.
int32_t RunImportPlan(const TImportPlan& Plan, const kovra::TProgressCancelEvent& Progress);

// The row Go appends after a complete run (its ID is given by the list).
NetworkRow ImportedNetworkRow(const TImportPlan& Plan);

}  // namespace studio
