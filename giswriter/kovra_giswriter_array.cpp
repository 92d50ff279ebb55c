#include "giswriter/kovra_giswriter_array.h"

#include <algorithm>

#include "foundation/kovra_functions.h"
#include "giswriter/kovra_giswriter_shared.h"

namespace kovra {

namespace {

constexpr int32_t cDaysInMonth[2][12] = {{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
                                         {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};

bool IsLeapYear(int32_t Year) { return Year % 4 == 0 && (Year % 100 != 0 || Year % 400 == 0); }

}  // namespace

// ---------------------------------------------------------------------------
// Date-time numbers

bool TryEncodeDate(int32_t Year, int32_t Month, int32_t Day, TDateTime& Date) {
  if (Year < 1 || Year > 9999 || Month < 1 || Month > 12 || Day < 1) return false;
  const int32_t* days = cDaysInMonth[IsLeapYear(Year) ? 1 : 0];
  if (Day > days[Month - 1]) return false;
  int32_t d = Day;
  for (int32_t m = 1; m < Month; ++m) d += days[m - 1];
  const int32_t y = Year - 1;
  // 693594 = days from 0001-01-01 (day 1) to 1899-12-30.
  Date.Value = double(y * 365 + y / 4 - y / 100 + y / 400 + d - 693594);
  return true;
}

bool TryEncodeTime(int32_t Hour, int32_t Min, int32_t Sec, int32_t MSec, TDateTime& Time) {
  if (Hour < 0 || Hour >= 24 || Min < 0 || Min >= 60 || Sec < 0 || Sec >= 60 || MSec < 0 || MSec >= 1000)
    return false;
  Time.Value = double(((Hour * 60 + Min) * 60 + Sec) * 1000 + MSec) / 86400000.0;
  return true;
}

TDateTime EncodeDate(int32_t Year, int32_t Month, int32_t Day) {
  TDateTime d;
  if (!TryEncodeDate(Year, Month, Day, d)) throw EConvertError("Invalid argument to date encode");
  return d;
}

TDateTime EncodeTime(int32_t Hour, int32_t Min, int32_t Sec, int32_t MSec) {
  TDateTime t;
  if (!TryEncodeTime(Hour, Min, Sec, MSec, t)) throw EConvertError("Invalid argument to time encode");
  return t;
}

TDateTime ComposeDateTime(TDateTime Date, TDateTime Time) {
  return TDateTime{Date.Value < 0 ? Date.Value - Time.Value : Date.Value + Time.Value};
}

// ---------------------------------------------------------------------------
// TGISArray

void TGISArray::Clear() {
  Rec.clear();
  Rec.shrink_to_fit();
  Field.clear();
  RecCount = 0;
}

// ---------------------------------------------------------------------------
// TGISWriterArray

TGISWriterArray::TGISWriterArray() : FOwnArray(std::make_unique<TGISArray>()) { GISarray = FOwnArray.get(); }

TGISWriterArray::~TGISWriterArray() = default;

void TGISWriterArray::StartHeader(int32_t NumFields, TObjectTypes ObjectTypes) {
  if (GISarray == nullptr) throw EInvalidParameter("GISarray is not assigned");
  TGISWriter::StartHeader(NumFields, ObjectTypes);
  GISarray->Clear();
  GISarray->Field.resize(size_t(NumFields));
  GISarray->OT = ObjectTypes;
  GISarray->MBR = TFloatRect{double(cInfinity), double(cInfinity), -double(cInfinity), -double(cInfinity)};
  GISarray->RecCount = 0;
  Fpartsindex = -1;
}

void TGISWriterArray::AddField(const std::string& FieldName, TGISField Field, uint8_t Width, uint8_t decimals) {
  TGISWriter::AddField(FieldName, Field, Width, decimals);
  GISarray->Field[size_t(FWrittenFields) - 1] = TFieldInfo{Field, Width, decimals, FieldName};
}

void TGISWriterArray::ConvertValues(const std::string& Attrib) {
  SplitAttributes(Attrib);
  FValues.resize(size_t(FNumFields));
  for (int32_t i = 0; i < FNumFields; ++i) {
    std::string& s = FSL[size_t(i)];
    TGISValue& v = FValues[size_t(i)];
    switch (GISarray->Field[size_t(i)].FieldType) {
      case gfInteger:
      case gfSmallInt:
        v = DecimalInt<int32_t>(s);
        break;
      case gfInt64:
        v = DecimalInt<int64_t>(s);
        break;
      case gfDecimal:
      case gfFloat: {
        bool overflow;
        v = ParseFloatDot(s, overflow);  // 0 for a number beyond the double range
        break;
      }
      case gfLogical:
        v = IsTrueText(s);
        break;
      case gfDate: {
        TDateTime d;
        if (s.size() != 8) {
          v = std::monostate{};
        } else if (TryEncodeDate(DigitsAt(s, 1, 4), DigitsAt(s, 5, 2), DigitsAt(s, 7, 2), d)) {
          v = d;
        } else {
          throw EConvertError(Format("'%s' is not a valid date", s));
        }
        break;
      }
      case gfTime: {
        TDateTime t;
        if (s.size() != 9) {
          v = std::monostate{};
        } else if (TryEncodeTime(DigitsAt(s, 1, 2), DigitsAt(s, 3, 2), DigitsAt(s, 5, 2), DigitsAt(s, 7, 3), t)) {
          v = t;
        } else {
          throw EConvertError(Format("'%s' is not a valid time", s));
        }
        break;
      }
      case gfDateTime: {
        TDateTime d, t;
        if (s.size() != 17) {
          v = std::monostate{};
        } else if (TryEncodeDate(DigitsAt(s, 1, 4), DigitsAt(s, 5, 2), DigitsAt(s, 7, 2), d) &&
                   TryEncodeTime(DigitsAt(s, 9, 2), DigitsAt(s, 11, 2), DigitsAt(s, 13, 2), DigitsAt(s, 15, 3),
                                 t)) {
          v = ComposeDateTime(d, t);
        } else {
          throw EConvertError(Format("'%s' is not a valid date and time", s));
        }
        break;
      }
      default:  // gfChar, and column types without a number form
        v = std::move(s);
        break;
    }
  }
}

TRec& TGISWriterArray::NewRow(int32_t NumParts) {
  TGISArray& a = *GISarray;
  const int32_t newCount = a.RecCount + 1;
  // Grown by hand: the length of Rec is visible to readers.
  const int64_t h = int64_t(a.Rec.size()) - 1;
  if (h <= newCount) {
    const int64_t e = std::max<int64_t>(Round(0.3 * double(h)), 50);
    // The length follows the rule; the capacity may run ahead of it, so that
    // a large table is not moved at every 30 % step.
    a.Rec.resize(size_t(h + e));
  }
  TRec& r = a.Rec[size_t(newCount) - 1];
  r.Attr.swap(FValues);
  FValues.clear();
  r.Coord.clear();
  r.Coord.resize(size_t(NumParts));
  a.RecCount = newCount;
  ++FWrittenRecords;
  return r;
}

void TGISWriterArray::ExtendMBR(const TFloatPoint& P) {
  TFloatRect& m = GISarray->MBR;
  if (P.x < m.xmin) m.xmin = P.x;
  if (P.y < m.ymin) m.ymin = P.y;
  if (P.x > m.xmax) m.xmax = P.x;
  if (P.y > m.ymax) m.ymax = P.y;
}

void TGISWriterArray::AddPoint(double X, double Y, const std::string& Attrib) {
  CheckPoint(X, Y);
  if (GISarray->OT != otPoint) return;
  ConvertValues(Attrib);
  TRec& r = NewRow(1);
  r.Coord[0].assign(1, TFloatPoint{X, Y});
  ExtendMBR(TFloatPoint{X, Y});
}

void TGISWriterArray::StartObject(int32_t NumParts, const std::string& Attrib) {
  ConvertValues(Attrib);
  TGISWriter::StartObject(NumParts, Attrib);
  FObjectMBR = GISarray->MBR;
  NewRow(std::max(NumParts, 0));
  Fpartsindex = -1;
}

void TGISWriterArray::WriteSection(int32_t Index, TFloatPointArrayEx& SegList) {
  TGISWriter::WriteSection(Index, SegList);
  ++Fpartsindex;
  TRec& r = GISarray->Rec[size_t(GISarray->RecCount) - 1];
  const size_t n = size_t(std::max(SegList.Count, 0));
  TFloatPointArray& part = r.Coord[size_t(Fpartsindex)];
  part.assign(SegList.Pnt.begin(), SegList.Pnt.begin() + ptrdiff_t(n));
  for (const TFloatPoint& p : part) ExtendMBR(p);
}

void TGISWriterArray::AbandonObject() {
  TGISArray& a = *GISarray;
  if (a.RecCount <= 0) return;
  a.Rec[size_t(a.RecCount) - 1] = TRec{};
  --a.RecCount;
  --FWrittenRecords;
  a.MBR = FObjectMBR;
}

void TGISWriterArray::Close() {
  TGISWriter::Close();
  RaiseUnfinished();
}

void TGISWriterArray::Drop() {
  TGISWriter::Drop();
  if (GISarray != nullptr) GISarray->Clear();
}

}  // namespace kovra
