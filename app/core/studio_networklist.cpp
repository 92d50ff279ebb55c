#include "app/core/studio_networklist.h"

#include <algorithm>
#include <limits>

#include "app/core/studio_settings.h"
#include "foundation/kovra_functions.h"

namespace studio {

using kovra::Format;

namespace {

constexpr const char* cSectionPrefix = "Network_";

std::vector<TNetworkField> MakeFields() {
  using F = TFieldType;
  std::vector<TNetworkField> f;
  auto integer = [&](const char* name, bool required, int32_t NetworkRow::*m) {
    f.push_back({name, F::ftInteger, required, m, nullptr, nullptr, -1});
  };
  auto boolean = [&](const char* name, bool NetworkRow::*m) {
    f.push_back({name, F::ftBoolean, false, nullptr, m, nullptr, -1});
  };
  auto text = [&](const char* name, bool required, std::string NetworkRow::*m) {
    f.push_back({name, F::ftString, required, nullptr, nullptr, m, -1});
  };
  integer("ID", true, &NetworkRow::ID);
  boolean("Attributes", &NetworkRow::Attributes);
  boolean("Coord3cache", &NetworkRow::Coord3cache);
  integer("Encryption", true, &NetworkRow::Encryption);
  integer("ExternalID", false, &NetworkRow::ExternalID);
  integer("Limit1", false, &NetworkRow::Limit1);
  integer("Limit2", false, &NetworkRow::Limit2);
  integer("Limit3", false, &NetworkRow::Limit3);
  text("Path", true, &NetworkRow::Path);
  integer("Roadname", false, &NetworkRow::Roadname);
  boolean("SpatialIndex", &NetworkRow::SpatialIndex);
  for (int32_t c = 0; c < cSpeedCount; ++c)
    f.push_back({"Speed" + kovra::IntToStr(c), F::ftFloat, true, nullptr, nullptr, nullptr, c});
  text("Turn", false, &NetworkRow::Turn);
  return f;
}

// The value a field takes from an empty text (a non-required field only).
TFieldValue EmptyValue(TFieldType Type) {
  switch (Type) {
    case TFieldType::ftInteger: return int32_t(0);
    case TFieldType::ftBoolean: return false;
    case TFieldType::ftFloat: return 0.0;
    case TFieldType::ftString: break;
  }
  return std::string();
}

// The typed value of an edit's text; raises the table's message for the field.
TFieldValue Convert(const TNetworkField& f, const std::string& Text, const NumberFormat& Fmt) {
  if (f.Type == TFieldType::ftString) {
    if (Text.empty() && f.Required) throw EDatabaseError(Format(cMsgFieldRequired, f.Name));
    return Text;
  }
  if (Text.empty()) {
    if (f.Required) throw EDatabaseError(Format(cMsgFieldRequired, f.Name));
    return EmptyValue(f.Type);
  }
  switch (f.Type) {
    case TFieldType::ftInteger: {
      int32_t v = 0;
      if (!kovra::TryStrToInt(Text, v)) throw EDatabaseError(Format(cMsgNotAnIntegerForField, Text, f.Name));
      return v;
    }
    case TFieldType::ftBoolean: {
      int32_t v = 0;
      if (!kovra::TryStrToInt(Text, v)) throw EDatabaseError(Format(cMsgNotAnIntegerForField, Text, f.Name));
      return v != 0;
    }
    case TFieldType::ftFloat: {
      double v = 0;
      if (!TryParseFloatRegional(Text, Fmt, v)) throw EDatabaseError(Format(cMsgNotAFloatForField, Text, f.Name));
      return v;
    }
    case TFieldType::ftString: break;
  }
  return Text;
}

}  // namespace

NetworkRow DefaultNetworkRow() {
  NetworkRow r;
  r.Attributes = true;
  r.SpatialIndex = true;
  r.Speed.fill(cDefaultSpeed);
  return r;
}

// ---------------------------------------------------------------------------
// Fields

TFieldValue TNetworkField::Get(const NetworkRow& Row) const {
  switch (Type) {
    case TFieldType::ftInteger: return Row.*Integer;
    case TFieldType::ftBoolean: return Row.*Boolean;
    case TFieldType::ftFloat: return Row.Speed[size_t(SpeedClass)];
    case TFieldType::ftString: break;
  }
  return Row.*Text;
}

void TNetworkField::Set(NetworkRow& Row, const TFieldValue& Value) const {
  switch (Type) {
    case TFieldType::ftInteger: Row.*Integer = std::get<int32_t>(Value); break;
    case TFieldType::ftBoolean: Row.*Boolean = std::get<bool>(Value); break;
    case TFieldType::ftFloat: Row.Speed[size_t(SpeedClass)] = std::get<double>(Value); break;
    case TFieldType::ftString: Row.*Text = std::get<std::string>(Value); break;
  }
}

const std::vector<TNetworkField>& NetworkFields() {
  static const std::vector<TNetworkField> fields = MakeFields();
  return fields;
}

int32_t FindNetworkField(std::string_view Name) {
  const auto& fields = NetworkFields();
  for (size_t i = 0; i < fields.size(); ++i)
    if (kovra::SameTextAscii(fields[i].Name, Name)) return int32_t(i);
  return -1;
}

const TNetworkField& NetworkField(std::string_view Name) {
  const int32_t i = FindNetworkField(Name);
  if (i < 0) throw EDatabaseError(Format("Field '%s' not found", std::string(Name)));
  return NetworkFields()[size_t(i)];
}

int32_t SpeedField(int32_t Class) { return FindNetworkField("Speed" + kovra::IntToStr(Class)); }

// ---------------------------------------------------------------------------
// The current row and its edit

void TNetworkList::SetCurrent(int32_t Index, const NumberFormat& Fmt) {
  if (Index < 0 || Index >= Count() || Index == FCurrent) return;
  post(Fmt);
  FCurrent = Index;
}

NetworkRow TNetworkList::EditValues() const {
  if (FEditing) return FBuffer;
  if (const NetworkRow* r = Current()) return *r;
  return NetworkRow();
}

std::optional<std::string> TNetworkList::EditText(int32_t Field) const {
  if (!FEditing) return std::nullopt;
  return FTexts.at(size_t(Field));
}

void TNetworkList::SetFieldValue(int32_t Field, const TFieldValue& Value) {
  if (Empty()) return;
  if (!FEditing) {
    FBuffer = *Current();
    FTexts.assign(NetworkFields().size(), std::nullopt);
    FEditing = true;
  }
  const TNetworkField& f = NetworkFields().at(size_t(Field));
  f.Set(FBuffer, Value);
  FTexts[size_t(Field)].reset();
}

void TNetworkList::SetFieldText(int32_t Field, std::string Text) {
  if (Empty()) return;
  SetFieldValue(Field, NetworkFields().at(size_t(Field)).Get(EditValues()));
  FTexts[size_t(Field)] = std::move(Text);
}

void TNetworkList::post(const NumberFormat& Fmt) {
  if (!FEditing) return;
  // Every text converts or nothing changes.
  NetworkRow row = FBuffer;
  const auto& fields = NetworkFields();
  for (size_t i = 0; i < fields.size(); ++i)
    if (FTexts[i]) fields[i].Set(row, Convert(fields[i], *FTexts[i], Fmt));
  const bool moved = row.ID != FRows[size_t(FCurrent)].ID;
  FRows[size_t(FCurrent)] = std::move(row);
  Cancel();
  if (moved) FCurrent = Reposition(FCurrent);
}

void TNetworkList::Cancel() {
  FEditing = false;
  FTexts.clear();
}

// ---------------------------------------------------------------------------
// Changing the list

int32_t TNetworkList::HighestID() const {
  int32_t highest = 0;
  for (size_t i = 0; i < FRows.size(); ++i)
    if (i == 0 || FRows[i].ID > highest) highest = FRows[i].ID;
  return highest;
}

int32_t TNetworkList::NextID() const {
  const int32_t highest = HighestID();
  // The next would overflow; a lower free number would not be "after" all.
  if (highest == std::numeric_limits<int32_t>::max()) throw EDatabaseError(cMsgNoFreeNetworkID);
  return highest + 1;
}

int32_t TNetworkList::Insert(NetworkRow Row) {
  const auto at = std::upper_bound(FRows.begin(), FRows.end(), Row.ID,
                                   [](int32_t id, const NetworkRow& r) { return id < r.ID; });
  const int32_t index = int32_t(at - FRows.begin());
  FRows.insert(at, std::move(Row));
  if (FCurrent >= index) ++FCurrent;
  if (FCurrent < 0) FCurrent = index;
  return index;
}

int32_t TNetworkList::Append(NetworkRow Row, const NumberFormat& Fmt) {
  post(Fmt);
  Row.ID = NextID();
  FCurrent = Insert(std::move(Row));
  return FCurrent;
}

int32_t TNetworkList::Add(const std::string& Path, const NumberFormat& Fmt) {
  NetworkRow row = DefaultNetworkRow();
  row.Path = Path;
  return Append(std::move(row), Fmt);
}

int32_t TNetworkList::Copy(const NumberFormat& Fmt) {
  if (Empty()) throw EDatabaseError(cMsgNoNetworkSelected);
  post(Fmt);
  return Append(*Current(), Fmt);
}

void TNetworkList::DeleteCurrent() {
  if (Empty()) return;
  Cancel();
  FRows.erase(FRows.begin() + FCurrent);
  if (FCurrent >= Count()) FCurrent = Count() - 1;
}

void TNetworkList::Clear() {
  Cancel();
  FRows.clear();
  FCurrent = -1;
}

int32_t TNetworkList::Reposition(int32_t Index) {
  NetworkRow row = std::move(FRows[size_t(Index)]);
  FRows.erase(FRows.begin() + Index);
  const bool wasCurrent = FCurrent == Index;
  if (FCurrent > Index) --FCurrent;
  if (wasCurrent) FCurrent = -1;
  const int32_t at = Insert(std::move(row));
  if (wasCurrent) FCurrent = at;
  return at;
}

// ---------------------------------------------------------------------------
// The settings file

void TNetworkList::Load(kovra::TCustomIniFile& Ini, const NumberFormat& Fmt) {
  Clear();
  std::vector<std::string> sections;
  Ini.ReadSections(sections);
  for (const std::string& s : sections) {
    if (!IsNetworkSection(s)) continue;
    NetworkRow row;
    for (const TNetworkField& f : NetworkFields()) {
      switch (f.Type) {
        case TFieldType::ftInteger: f.Set(row, Ini.ReadInteger(s, f.Name, 0)); break;
        case TFieldType::ftBoolean: f.Set(row, Ini.ReadBool(s, f.Name, false)); break;
        case TFieldType::ftString: f.Set(row, Ini.ReadString(s, f.Name, "")); break;
        case TFieldType::ftFloat: {
          double v = 0;
          f.Set(row, TryParseFloatRegional(Ini.ReadString(s, f.Name, ""), Fmt, v) ? v : 0.0);
          break;
        }
      }
    }
    Insert(std::move(row));
  }
  FCurrent = Empty() ? -1 : 0;
}

void TNetworkList::Save(kovra::TCustomIniFile& Ini, const NumberFormat& Fmt) const {
  for (size_t j = 0; j < FRows.size(); ++j) {
    const std::string section = cSectionPrefix + kovra::IntToStr(int64_t(j + 1));
    const NetworkRow& row = FRows[j];
    for (const TNetworkField& f : NetworkFields()) {
      const TFieldValue v = f.Get(row);
      switch (f.Type) {
        case TFieldType::ftInteger: Ini.WriteInteger(section, f.Name, std::get<int32_t>(v)); break;
        case TFieldType::ftBoolean: Ini.WriteBool(section, f.Name, std::get<bool>(v)); break;
        case TFieldType::ftString: Ini.WriteString(section, f.Name, std::get<std::string>(v)); break;
        case TFieldType::ftFloat: Ini.WriteString(section, f.Name, FloatToStrRegional(std::get<double>(v), Fmt)); break;
      }
    }
  }
}

}  // namespace studio
