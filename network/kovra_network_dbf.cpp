// Column exchange with DBF and MapInfo native tables: time and cost columns
// read from a table whose record n belongs to link n, speeds written back,
// and whole per-record arrays, bit sets and record lists moved between
// memory and any numeric or logical field.
//
// Tables are opened in the system ANSI code page and closed on every path;
// the success path closes them explicitly so that a failed write is reported.
// A column changes only once its whole field was read: a value that fails
// half-way leaves it as it was.
#include <cmath>
#include <filesystem>

#include "foundation/kovra_dbffiles.h"
#include "network/kovra_network.h"

namespace kovra {

namespace {

inline constexpr const char* cMsgColumnIndex = "%s: index must be 0 to %d (is %d)";
inline constexpr const char* cMsgNoFile = "%s: File does not exist";
inline constexpr const char* cMsgRecordCount = "%s: Wrong record count";
inline constexpr const char* cMsgFieldName = "%s: Invalid fieldname";
inline constexpr const char* cMsgFieldIndex = "%s: Invalid field index";
inline constexpr const char* cMsgFieldNotFound = "Field %s not found in %s";
inline constexpr const char* cMsgGenericFieldIndex = "Invalid field index: %d";
inline constexpr const char* cMsgWrongType = "Field %d is the wrong type";
inline constexpr const char* cMsgSizeMismatch = "Size of array do not match file size";
inline constexpr const char* cMsgOutOfBounds = "Value is out of bounds";

// A table of a network column (steps 2 to 6 of every column reader and
// writer, messages prefixed with the method's name). Returns the field.
int32_t OpenColumnTable(TDbfFile& Table, const char* Method, const std::string& filename, bool ReadWrite,
                        int32_t LinkCount, int32_t fieldindex, const std::string& fieldname) {
  std::error_code ec;
  if (!std::filesystem::exists(filename, ec)) throw Exception(Format(cMsgNoFile, Method));
  Table.Open(ReadWrite);
  if (Table.RecordCount() != LinkCount) throw Exception(Format(cMsgRecordCount, Method));
  int32_t field = fieldindex;
  if (!fieldname.empty()) {
    field = Table.FindField(fieldname);
    if (field == -1) throw Exception(Format(cMsgFieldName, Method));
  }
  if (field < 0 || field > Table.FieldCount() - 1) throw Exception(Format(cMsgFieldIndex, Method));
  return field;
}

void CheckColumnIndex(const TMatrix& M, int32_t index, const char* Method) {
  if (index < 0 || size_t(index) >= M.size())
    throw EOutOfRange(Format(cMsgColumnIndex, Method, int32_t(M.size()) - 1, index));
}

// The field of a generic column method: by name when one is given, and of a
// kind that holds numbers or logical values.
int32_t GenericField(const TDbfFile& Table, const std::string& filename, int32_t fieldindex,
                     const std::string& fieldname) {
  int32_t field = fieldindex;
  if (!fieldname.empty()) {
    field = Table.FindField(fieldname);
    if (field == -1) throw Exception(Format(cMsgFieldNotFound, fieldname, filename));
  }
  if (field < 0 || field > Table.FieldCount() - 1) throw Exception(Format(cMsgGenericFieldIndex, field));
  switch (Table.FieldInfo(field).FieldType) {
    case gfInteger: case gfSmallInt: case gfDecimal: case gfFloat: case gfLogical: break;
    default: throw Exception(Format(cMsgWrongType, field));
  }
  return field;
}

// Opens filename read-write for a generic writer and returns its field.
int32_t OpenGenericTable(TDbfFile& Table, const std::string& filename, int32_t fieldindex,
                         const std::string& fieldname) {
  Table.Open(true);
  return GenericField(Table, filename, fieldindex, fieldname);
}

void CheckSize(const TDbfFile& Table, int64_t Size) {
  if (Size != Table.RecordCount() + 1) throw Exception(cMsgSizeMismatch);
}

}  // namespace

// ---------------------------------------------------------------------------
// Network columns

namespace {

// Reads the field for every valid link and gives what each link's column
// entry becomes: Value(v) for a value v > 0 as a Single, 0 to leave it. A
// value that does not fit a Single overflows, before anything is stored.
template <typename F>
TCostArray ReadColumn(TDbfFile& Table, int32_t Field, const TCostArray& Length, F Value) {
  TCostArray out(Length.size(), 0.0f);
  for (size_t l = 1; l < Length.size(); ++l) {
    if (Length[l] == 0) continue;
    const double v = Table.ReadFloat(Field, int64_t(l));
    if (!(v > 0)) continue;
    const double stored = Value(v, Length[l]);
    if (!(stored > 0)) continue;  // too small for a Single: taken as 0
    out[l] = float(stored);
    if (std::isinf(out[l])) RaiseOverflow();
  }
  return out;
}

}  // namespace

void TNetwork::ReadCost(int32_t index, const std::string& filename, int32_t fieldindex, const std::string& fieldname) {
  CheckOpen();
  CheckColumnIndex(FCost, index, "ReadCost");
  TDbfFile table(filename, 0);
  const int32_t field = OpenColumnTable(table, "ReadCost", filename, false, FLinkCount, fieldindex, fieldname);
  const TCostArray values = ReadColumn(table, field, FLength, [](double v, float) { return double(float(v)); });
  table.Close();
  for (int32_t l = 1; l <= FLinkCount; ++l)
    if (values[size_t(l)] > 0) SetCost_raw(index, l, values[size_t(l)]);
  ColumnChanged();
}

void TNetwork::ReadTime(int32_t index, const std::string& filename, int32_t fieldindex, const std::string& fieldname) {
  CheckOpen();
  CheckColumnIndex(FTime, index, "ReadTime");
  TDbfFile table(filename, 0);
  const int32_t field = OpenColumnTable(table, "ReadTime", filename, false, FLinkCount, fieldindex, fieldname);
  const TCostArray values = ReadColumn(table, field, FLength, [](double v, float) { return double(float(v)); });
  table.Close();
  for (int32_t l = 1; l <= FLinkCount; ++l)
    if (values[size_t(l)] > 0) SetTime_raw(index, l, values[size_t(l)]);
  ColumnChanged();
}

void TNetwork::ReadSpeed(int32_t index, const std::string& filename, int32_t fieldindex, const std::string& fieldname,
                         bool mph) {
  CheckOpen();
  CheckColumnIndex(FTime, index, "ReadSpeed");
  TDbfFile table(filename, 0);
  const int32_t field = OpenColumnTable(table, "ReadSpeed", filename, false, FLinkCount, fieldindex, fieldname);
  // The speed is a Single, as SetSpeed_raw takes it; the time follows from it.
  const TCostArray values = ReadColumn(table, field, FLength, [mph](double v, float length) {
    const float speed = float(mph ? v * cKmPerMile : v);
    if (!(speed > 0)) return 0.0;
    return double(float(double(length) / double(speed) * 60.0));
  });
  table.Close();
  for (int32_t l = 1; l <= FLinkCount; ++l)
    if (values[size_t(l)] > 0) SetTime_raw(index, l, values[size_t(l)]);
  ColumnChanged();
}

void TNetwork::SaveSpeed(int32_t index, const std::string& filename, int32_t fieldindex,
                         const std::string& fieldname) const {
  CheckOpen();
  CheckColumnIndex(FTime, index, "SaveSpeed");
  TDbfFile table(filename, 0);
  const int32_t field = OpenColumnTable(table, "SaveSpeed", filename, true, FLinkCount, fieldindex, fieldname);
  // Every speed is checked against the field first, so that the edit in
  // place is not left half-done by a value that does not fit.
  const Tdbffield info = table.FieldInfo(field);
  double lo = -INFINITY, hi = INFINITY;
  switch (info.FieldType) {
    case gfDecimal: lo = info.Min; hi = info.Max; break;
    case gfInteger: lo = -2147483648.0; hi = 2147483647.0; break;
    case gfSmallInt: lo = -32768.0; hi = 32767.0; break;
    default: break;
  }
  TCostArray speeds(size_t(FLinkCount) + 1, 0.0f);
  for (int32_t l = 1; l <= FLinkCount; ++l) {
    if (FLength[size_t(l)] == 0) continue;
    const float v = GetSpeed(index, l);
    if (!std::isfinite(v) || !(v >= lo && v <= hi)) throw Exception(cMsgOutOfBounds);
    speeds[size_t(l)] = v;
  }
  for (int32_t l = 1; l <= FLinkCount; ++l)
    if (FLength[size_t(l)] != 0) table.WriteFloat(field, l, speeds[size_t(l)]);
  table.Close();
}

// ---------------------------------------------------------------------------
// Generic column methods

void TNetwork::Read3(const std::string& filename, int32_t fieldindex, const std::string& fieldname,
                     TBitArray& value) const {
  // Read only: the table is not changed, and may be a read-only file.
  TDbfFile table(filename, 0);
  table.Open(false);
  const int32_t field = GenericField(table, filename, fieldindex, fieldname);
  const bool logical = table.FieldInfo(field).FieldType == gfLogical;
  TBitArray bits(table.RecordCount() + 1);
  for (int64_t r = 1; r <= table.RecordCount(); ++r) {
    bool set;
    if (logical) {
      // Neither reader gives a logical field as a number: 'T'/'Y' (either
      // case) is true, anything else ('F', 'N', '?', blank) false.
      const std::string s = table.ReadString(field, r);
      set = !s.empty() && (s[0] == 'T' || s[0] == 't' || s[0] == 'Y' || s[0] == 'y');
    } else {
      set = table.ReadInteger(field, r) != 0;
    }
    bits.SetBit2(r, set);
  }
  table.Close();
  bits.Clone(value);
}

void TNetwork::Write1(const std::string& filename, int32_t fieldindex, const std::string& fieldname,
                      const TIntegerArray& value) const {
  TDbfFile table(filename, 0);
  const int32_t field = OpenGenericTable(table, filename, fieldindex, fieldname);
  CheckSize(table, int64_t(value.size()));
  table.WriteIntegerArray(field, value);
  table.Close();
}

void TNetwork::Write2(const std::string& filename, int32_t fieldindex, const std::string& fieldname,
                      const TCostArray& value) const {
  TDbfFile table(filename, 0);
  const int32_t field = OpenGenericTable(table, filename, fieldindex, fieldname);
  CheckSize(table, int64_t(value.size()));
  table.WriteCostArray(field, value);
  table.Close();
}

void TNetwork::Write3(const std::string& filename, int32_t fieldindex, const std::string& fieldname,
                      const TBitArray& value) const {
  TDbfFile table(filename, 0);
  const int32_t field = OpenGenericTable(table, filename, fieldindex, fieldname);
  CheckSize(table, value.Size());
  table.WriteBitArray(field, value);
  table.Close();
}

void TNetwork::Write4(const std::string& filename, int32_t fieldindex, const std::string& fieldname,
                      const TIntegerList& value, bool reset) const {
  TDbfFile table(filename, 0);
  const int32_t field = OpenGenericTable(table, filename, fieldindex, fieldname);
  const int64_t records = table.RecordCount();
  if (reset) {
    TBitArray bits(records + 1);
    for (int32_t i = 0; i < value.Count(); ++i) {
      const int32_t r = value.GetItem(i);
      if (r >= 1 && r <= records) bits.SetBit2(r, true);
    }
    table.WriteBitArray(field, bits);
  } else {
    for (int32_t i = 0; i < value.Count(); ++i) {
      const int32_t r = value.GetItem(i);
      if (r >= 1 && r <= records) table.WriteBoolean(field, r, true);
    }
  }
  table.Close();
}

}  // namespace kovra
