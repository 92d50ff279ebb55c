// The list of known network directories, one row per network with the
// options it is opened with. Kept in memory while the main window lives,
// read from the settings file at start and written back at close; the
// "Manage Networks" tab shows and edits it, the Import tab appends to it and
// "Open" reads its current row. No Qt here.
//
// The list behaves as a small table indexed on ID: rows stay in ascending ID
// order, one row is current, and the options panel's edits collect in an edit
// buffer until post() converts and checks them and writes the row.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "app/core/studio_common.h"
#include "platform/kovra_inifile.h"
#include "platform/kovra_sysutils.h"

namespace studio {

// A row that cannot be posted, or a list operation that cannot run.
class EDatabaseError : public kovra::Exception {
public:
  using Exception::Exception;
};

inline constexpr const char* cMsgFieldRequired = "Field '%s' must have a value";
inline constexpr const char* cMsgNotAnIntegerForField = "'%s' is not a valid integer value for field '%s'";
inline constexpr const char* cMsgNotAFloatForField = "'%s' is not a valid floating point value for field '%s'";
inline constexpr const char* cMsgNoNetworkSelected = "No network selected";
inline constexpr const char* cMsgNoFreeNetworkID = "No free network ID";

inline constexpr int32_t cSpeedCount = 32;
// The speed every class gets in a new row, km/h.
inline constexpr double cDefaultSpeed = 60;

// One network. Paths have no length limit.
struct NetworkRow {
  int32_t ID = 0;
  bool Attributes = false;
  bool Coord3cache = false;
  int32_t Encryption = 0;  // the network's key; 0 = not encrypted
  // 0 "Skip", 1 "Open, but no caching", 2 "Open, cache index", 3 "Open, cache index + keys"
  int32_t ExternalID = 0;
  // 0 "Skip", 1 "Scalar value", 2 "Bit pattern"
  int32_t Limit1 = 0;
  int32_t Limit2 = 0;
  int32_t Limit3 = 0;
  std::string Path;  // the network directory with the trailing '/'
  int32_t Roadname = 0;  // road-name file 1..99, 0 = none
  bool SpatialIndex = false;
  std::array<double, cSpeedCount> Speed{};  // km/h per road class; kept, never passed to the library
  std::string Turn;  // turn-restriction text file; empty = none

  bool operator==(const NetworkRow&) const = default;
};

// The row "Add" and a finished import start from: attributes and spatial
// index on, every speed 60, the rest 0 or empty.
NetworkRow DefaultNetworkRow();

enum class TFieldType : uint8_t { ftInteger, ftBoolean, ftFloat, ftString };
using TFieldValue = std::variant<int32_t, bool, double, std::string>;

// One field of a row: its name (also its settings key), type, whether the
// user must give it a value, and where it lives in NetworkRow.
struct TNetworkField {
  std::string Name;
  TFieldType Type;
  bool Required;
  int32_t NetworkRow::*Integer = nullptr;
  bool NetworkRow::*Boolean = nullptr;
  std::string NetworkRow::*Text = nullptr;
  int32_t SpeedClass = -1;  // ftFloat: the road class

  TFieldValue Get(const NetworkRow& Row) const;
  // The value must be of the field's type.
  void Set(NetworkRow& Row, const TFieldValue& Value) const;
};

// The 44 fields in their order: ID, Attributes, Coord3cache, Encryption,
// ExternalID, Limit1..Limit3, Path, Roadname, SpatialIndex, Speed0..Speed31,
// Turn. Load, save, copy and the post check all walk this one table.
const std::vector<TNetworkField>& NetworkFields();
// Index of the field of that name, case ignored; -1 when there is none.
int32_t FindNetworkField(std::string_view Name);
const TNetworkField& NetworkField(std::string_view Name);
// Index of the field "Speed" + Class.
int32_t SpeedField(int32_t Class);

class TNetworkList {
public:
  // --- rows ---
  int32_t Count() const { return int32_t(FRows.size()); }
  bool Empty() const { return FRows.empty(); }
  // Rows in ascending ID; rows of equal ID in the order they came.
  const NetworkRow& Row(int32_t Index) const { return FRows.at(size_t(Index)); }
  const std::vector<NetworkRow>& Rows() const { return FRows; }

  // --- the current row ---
  // -1 for an empty list.
  int32_t CurrentIndex() const { return FCurrent; }
  // The current row as posted; none for an empty list.
  const NetworkRow* Current() const { return FCurrent < 0 ? nullptr : &FRows[size_t(FCurrent)]; }
  // Posts a pending edit first; when that fails the current row stays.
  // An index outside the list is ignored.
  void SetCurrent(int32_t Index, const NumberFormat& Fmt);

  // --- editing the current row ---
  // A pending edit exists.
  bool Editing() const { return FEditing; }
  // What the controls show: the current row with the typed values of the
  // pending edit (texts not yet converted are not in it).
  NetworkRow EditValues() const;
  // The pending text of a field; none when it was not typed.
  std::optional<std::string> EditText(int32_t Field) const;
  // A control's value (check box, radio group, chosen file): puts the
  // current row in edit. Ignored on an empty list.
  void SetFieldValue(int32_t Field, const TFieldValue& Value);
  // An edit's text as typed: converted only by post(). Ignored on an empty
  // list.
  void SetFieldText(int32_t Field, std::string Text);
  // Converts the pending texts (numbers in the regional format or with '.')
  // and checks that every typed required field has a value, then writes the
  // row. Raises EDatabaseError naming the field; the row then stays in edit
  // and nothing changes. Without a pending edit it does nothing.
  void post(const NumberFormat& Fmt);
  // Drops a pending edit.
  void Cancel();

  // --- changing the list ---
  // The largest ID, 0 for an empty list.
  int32_t HighestID() const;
  // HighestID() + 1; raises EDatabaseError "No free network ID" when the
  // highest is the largest 32-bit integer.
  int32_t NextID() const;
  // Posts a pending edit, gives Row the next ID, inserts it after the rows of
  // equal or lower ID and makes it current. Returns its index.
  int32_t Append(NetworkRow Row, const NumberFormat& Fmt);
  // Inserts Row with the ID it has (no check), as Load does; does not change
  // the current row. Returns its index.
  int32_t Insert(NetworkRow Row);
  // "Add": DefaultNetworkRow() in the folder Path, appended.
  int32_t Add(const std::string& Path, const NumberFormat& Fmt);
  // "Copy": the current row with the next ID. Raises EDatabaseError "No
  // network selected" on an empty list.
  int32_t Copy(const NumberFormat& Fmt);
  // Deletes the current row and its pending edit without posting; the next
  // row (or the new last) becomes current. Nothing on an empty list.
  void DeleteCurrent();
  void Clear();

  // --- the settings file ---
  // Replaces the list by every network section in file order, each key read
  // by its field's type (missing or unreadable: "", 0, false, speed 0); no
  // required check: a stored row is never dropped. The first row becomes
  // current.
  void Load(kovra::TCustomIniFile& Ini, const NumberFormat& Fmt);
  // Writes row J as "Network_" + J, every field in table order: texts as
  // they are, integers decimal, Booleans "1"/"0", speeds in the regional
  // format. The caller erases the old network sections first.
  void Save(kovra::TCustomIniFile& Ini, const NumberFormat& Fmt) const;

private:
  // Moves the row at Index to its place by ID; returns its new index.
  int32_t Reposition(int32_t Index);

  std::vector<NetworkRow> FRows;
  int32_t FCurrent = -1;
  bool FEditing = false;
  NetworkRow FBuffer;
  std::vector<std::optional<std::string>> FTexts;
};

}  // namespace studio
