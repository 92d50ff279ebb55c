// Result writers: the abstract writer every GIS output goes through, with the
// calling protocol, the shared records, styles, constant sets and palettes,
// the attribute splitting, the column-type guess, the bounds patching of the
// XML headers, and the joining of polyline parts and their great-circle
// densification, which the base class applies before any format writer sees
// a part.
//
// Protocol (every producer): StartHeader(NumFields >= 1, kind); AddField
// NumFields times; records (AddPoint/AddPoint2, AddLine/AddLine2, or AddObject
// followed by exactly NumParts AddSection/1/2/3); Close, or Drop.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/kovra_types.h"
#include "platform/kovra_sysutils.h"

namespace kovra {

// TGISFormat and TGISField come from kovra_types (ordinals fixed there); an
// ordinal outside the listed values is still a legal value of either type.

// ---------------------------------------------------------------------------
// Records

struct TFieldInfo {
  TGISField FieldType = gfChar;
  uint8_t Width = 0;
  uint8_t decimals = 0;
  std::string Name;
};
using TFieldInfoArray = std::vector<TFieldInfo>;

// Colours are 0x00BBGGRR (red in the low byte); each format converts them.
struct TMIPen {
  int32_t Width = 1;
  int32_t pattern = 2;
  uint32_t Color = 0;
};
struct TMIBrush {
  int32_t pattern = 2;
  uint32_t fg_color = 0xFFFFFF;
  uint32_t bg_color = 0;
};
struct TMISymbol {
  int32_t Shape = 33;
  uint32_t Color = 0;
  int32_t Size = 12;
};

inline bool operator==(const TMIPen& a, const TMIPen& b) {
  return a.Width == b.Width && a.pattern == b.pattern && a.Color == b.Color;
}
inline bool operator!=(const TMIPen& a, const TMIPen& b) { return !(a == b); }
inline bool operator==(const TMIBrush& a, const TMIBrush& b) {
  return a.pattern == b.pattern && a.fg_color == b.fg_color && a.bg_color == b.bg_color;
}
inline bool operator!=(const TMIBrush& a, const TMIBrush& b) { return !(a == b); }
inline bool operator==(const TMISymbol& a, const TMISymbol& b) {
  return a.Shape == b.Shape && a.Color == b.Color && a.Size == b.Size;
}
inline bool operator!=(const TMISymbol& a, const TMISymbol& b) { return !(a == b); }

// The styles every writer starts with; MIF, KML and TAB write a style only
// when it differs from these.
inline constexpr TMIPen DefaultPen{1, 2, 0};
inline constexpr TMIBrush DefaultBrush{2, 0xFFFFFF, 0};
inline constexpr TMISymbol DefaultSymbol{33, 0, 12};

// ---------------------------------------------------------------------------
// Constant sets, as bitmasks over the ordinals. Ordinals of 32 and above
// (legal but unnamed values) are in no set.

using TGISFormatSet = uint32_t;
using TGISFieldSet = uint32_t;

constexpr TGISFormatSet GISFormatBit(TGISFormat f) {
  return uint8_t(f) < 32 ? TGISFormatSet(1) << uint8_t(f) : 0;
}
constexpr TGISFieldSet GISFieldBit(TGISField f) {
  return uint8_t(f) < 32 ? TGISFieldSet(1) << uint8_t(f) : 0;
}
constexpr bool InSet(TGISFormatSet s, TGISFormat f) { return (s & GISFormatBit(f)) != 0; }
constexpr bool InSet(TGISFieldSet s, TGISField f) { return (s & GISFieldBit(f)) != 0; }

// Formats that carry geometry: every format but gfDBF and gfCSV.
inline constexpr TGISFormatSet GISFormatsWithGeometry =
    GISFormatBit(gfMIF) | GISFormatBit(gfSHP) | GISFormatBit(gfArray) | GISFormatBit(gfMITAB) |
    GISFormatBit(gfGML2) | GISFormatBit(gfKML2) | GISFormatBit(gfGeoJSON) | GISFormatBit(gfMFAL) |
    GISFormatBit(gfMIF8) | GISFormatBit(gfEFAL) | GISFormatBit(gfEFALx) | GISFormatBit(gfGPX);
// Formats that choose their own encoding: the network's code page is not passed on.
inline constexpr TGISFormatSet GISFormatsOwnCodepage = GISFormatBit(gfArray) | GISFormatBit(gfGML2) |
                                                       GISFormatBit(gfKML2) | GISFormatBit(gfGeoJSON) |
                                                       GISFormatBit(gfMIF8) | GISFormatBit(gfGPX);
inline constexpr TGISFieldSet NumericGISFields = GISFieldBit(gfInteger) | GISFieldBit(gfSmallInt) |
                                                 GISFieldBit(gfDecimal) | GISFieldBit(gfFloat) |
                                                 GISFieldBit(gfInt64);

// ---------------------------------------------------------------------------
// Palettes and small helpers

// Entry Index mod 15 of the service-area centre palette (Index >= 0).
uint32_t GetCenterColor(int32_t Index);
// Entry Index mod 4 of the cost-band palette (Index >= 0).
uint32_t GetBandColor(int32_t Index);
TMISymbol MakeMISymbol(int32_t Shape, int32_t Color, int32_t Size);

// A logical attribute value: true when it begins with 1, T, Y, t or y.
bool IsTrueText(std::string_view s);
// Compact date/time texts to ISO 8601 by fixed cuts (missing pieces empty):
// YYYYMMDD -> YYYY-MM-DD, hhmmssfff -> hh:mm:ss.fff, both joined by "T".
std::string FormatISODate(std::string_view s);
std::string FormatISOTime(std::string_view s);
std::string FormatISODateTime(std::string_view s);

// The 16-character placeholder the GML and GPX headers carry for each bound.
inline constexpr std::string_view cBoundsPlaceholder = "0.00000000000000";
// The exactly 16-character text PatchBounds writes for a bound: FloatToStrDot
// padded with "." and zeros when it is shorter and has no exponent; otherwise
// rounded to 16 characters, fixed while that keeps at least 9 significant
// digits, else in E-notation with a rounded mantissa.
std::string PatchBoundText(double Value);

// Great-circle densification of one part in place (coordinates in degrees, x
// the longitude): every segment longer than StepKm gets Trunc(length / StepKm)
// points on its great circle. Off when StepKm <= 0 (or not a number).
// Segments starting at a pole or joining antipodal points get no points.
// Raises EInvalidParameter, with the part unchanged, when the part would
// exceed MaxInt points.
void DensifyGreatCircle(TFloatPointArrayEx& SegList, double StepKm);

// ---------------------------------------------------------------------------
// Encoding of text output: converts UTF-8 text to the writer's code page.

class TWriterEncoding {
public:
  // Raises the code-page layer's "Code page %d is not supported" for a page
  // it cannot convert. 0 means the system ANSI code page.
  explicit TWriterEncoding(uint16_t CodePage);
  uint16_t CodePage() const { return FCodePage; }
  // One byte per character (the single-byte Windows, DOS and ISO pages).
  bool SingleByte() const { return FSingleByte; }
  // The bytes of S in the code page ('?' for what the page lacks).
  std::string GetBytes(std::string_view S) const;
  // Number of bytes of S in the code page (UTF-16 code units for 1200).
  int64_t ByteCount(std::string_view S) const;

private:
  uint16_t FCodePage;
  bool FSingleByte;
};

class TGISArray;  // the in-memory result table of the gfArray writer

// ---------------------------------------------------------------------------
// The writer base class.

class TGISWriter : public TObject {
public:
  TGISWriter();
  // Releases files and buffers; writes no trailer: an output freed without
  // Close stays visibly unfinished.
  ~TGISWriter() override;
  TGISWriter(const TGISWriter&) = delete;
  TGISWriter& operator=(const TGISWriter&) = delete;

  // --- public operations (virtual ones in their declared order) ---

  // Column of the table; exactly NumFields calls, in column order.
  virtual void AddField(const std::string& FieldName, TGISField Field, uint8_t Width, uint8_t decimals);
  // Two-point polyline record; ignored unless the table is otPline.
  virtual void AddLine(double X1, double Y1, double X2, double Y2, const std::string& Attrib);
  virtual void AddLine2(const TFloatPoint& P1, const TFloatPoint& P2, const std::string& Attrib);
  // Opens a record of NumParts parts (0 = no geometry); exactly NumParts
  // AddSection* calls follow. Raises while parts of the previous record are
  // still owed, and for parts in a point table. In an otNone table the
  // format writer sees StartObject(0, Attrib) and the parts are dropped.
  virtual void AddObject(int32_t NumParts, bool multiPolygon, const std::string& Attrib);
  virtual void AddPoint(double X, double Y, const std::string& Attrib) = 0;
  virtual void Close();
  virtual void Drop();
  // NumFields must be >= 1 (EInvalidParameter before anything is created).
  virtual void StartHeader(int32_t NumFields, TObjectTypes ObjectTypes);

  void AddPoint2(const TFloatPoint& P, const std::string& Attrib);

  // One part of SegList.Count points. Raises, before the format writer sees
  // the part, for a part beyond the declared count, a region ring of fewer
  // than 4 points or not closed, and a polyline part without points; a
  // one-point polyline part is written with its point doubled. Densification
  // may grow the caller's buffer (Pnt and Count).
  void AddSection(int32_t Index, TFloatPointArrayEx& SegList);
  // Points 0..SegList.Last, reversed when swapdirection, via a reused scratch part.
  void AddSection1(int32_t Index, const TFloatPointArrayEx2& SegList, bool swapdirection);
  void AddSection2(int32_t Index, double X1, double Y1, double X2, double Y2);
  void AddSection3(int32_t Index, const TFloatPoint& P1, const TFloatPoint& P2);

  // --- factory (kovra_giswriter_factory.cpp) ---
  // A new writer for Inp; a TAB format whose library is not loaded, gfMIF and
  // any unnamed ordinal give a TGISWriterMIF. Opens no file.
  static std::unique_ptr<TGISWriter> GetGISObject(TGISFormat Inp);
  // The outside table library is loaded (loads MITAB/MFAL on first use).
  static bool MITAB_supported();
  static bool MFAL_supported();
  static bool EFAL_supported();
  // Loads the EFAL library from the folder libpath.
  static void EFAL_Load(const std::string& libpath);

  // Column type and width guessed from a column's values: gfInteger when every
  // value (trimmed) is '-'? digits within Int32 without a leading 0, else
  // gfChar; width in the bytes the column needs in this writer's code page
  // (UTF-16 units for 1200), at least 1.
  TGISField SL2GISField(const std::vector<std::string>& SL, int32_t& width) const;

  // --- properties ---
  uint16_t Codepage() const { return FCodepage; }
  // Each class decides which pages it takes (AcceptsCodepage); a taken page
  // the code-page layer cannot convert raises and the old value stays.
  void SetCodepage(uint16_t Value);
  const TFieldInfoArray& FieldInfo() const { return FFieldInfo; }
  // Also arms the TAB writers' first size check (NextFileCheck -1 -> 10000).
  bool FileIsFull();
  bool OptimizePLinesSections() const { return FOptimizePLinesSections; }
  // Raises when the value changes while an object still awaits parts.
  void SetOptimizePLinesSections(bool Value);
  int32_t WrittenRecords() const { return FWrittenRecords; }

  // --- public fields: set between creation and StartHeader (styles may
  // change between records) ---
  TMIBrush Brush = DefaultBrush;
  std::string CoordSys = cCoordSysWGS84;
  bool CompactMIF = false;
  int32_t epsg = cEpsgWGS84;
  std::string FileName;        // without extension
  double GreatCircleDist = 0;  // densification step in km; <= 0 = off
  TMIPen Pen = DefaultPen;
  std::string PRJ = cPrjWGS84;
  TMISymbol Symbol = DefaultSymbol;
  int32_t BlockSize = 512;
  TGISArray* GISarray = nullptr;  // not owned
  std::string GeoJSON;

protected:
  // --- internal virtual operations ---
  // Begins a deferred polyline object (parts pooled and joined).
  virtual void StartOptimizedObject(int32_t NumParts, const std::string& Attrib);
  // Stores or joins one part of the deferred object.
  virtual void JoinSection(TFloatPointArrayEx& SegList);
  // The format writer begins a record: FNumParts := NumParts, FWrittenParts := 0.
  virtual void StartObject(int32_t NumParts, const std::string& Attrib);
  // The format writer writes one part: FWrittenParts + 1.
  virtual void WriteSection(int32_t Index, TFloatPointArrayEx& SegList);

  // Which code pages the Codepage setter takes: all but 65001 and 1200 here.
  virtual bool AcceptsCodepage(uint16_t Value) const;

  // Splits Attrib into FSL by the comma-text rule; raises when the number of
  // values is not FNumFields. Call before writing or counting anything of the record.
  void SplitAttributes(const std::string& Attrib);
  void ExtendBounds(double x, double y);
  // Ring rule of every region writer: a part starts a polygon when its Index
  // is <= 0 or it is the object's first part; otherwise it is a hole. Valid
  // inside WriteSection.
  bool StartsPolygon(int32_t Index) const { return Index <= 0 || FPartIndex == 0; }
  // Records the byte offset, in the output file, of the first byte of bound
  // tag Index (0..3: xmin, ymin, xmax, ymax) written with its placeholder.
  void SetBoundsOffset(int32_t Index, int64_t Offset);
  // Writes the bounds over the four placeholders of FileName + extension at
  // the recorded offsets. Every tag and placeholder is checked first; on a
  // mismatch it raises and the file stays untouched. The size never changes.
  void PatchBounds(const std::string& extension, const std::string& tag1, const std::string& tag2,
                   const std::string& tag3, const std::string& tag4);

  // --- fields, in declared order ---
  double FXMinG = 1e38, FYMinG = 1e38, FXMaxG = -1e38, FYMaxG = -1e38;
  uint16_t FCodepage;
  std::unique_ptr<TWriterEncoding> FEncoding;
  std::string FAttrib;
  TFieldInfoArray FFieldInfo;  // index 1..NumFields; 0 stays empty
  int32_t FFreeIndex = -1;
  int32_t FFreeItems = 0;
  TFloatPointArrayEx FLine;  // scratch part of two points
  int32_t FNumFields = 0;
  int32_t FNumParts = 0;
  TFloatPointArrayEx FPoint;  // scratch part of one point
  TObjectTypes FObjectTypes = otPline;
  int32_t FOptimizedParts = 0;
  bool FOptimizePLinesSections = false;
  TFloatPointArrayExArray FSegments;  // segment pool, reused across objects
  std::vector<std::string> FSL;       // split values of the current record
  int32_t FWrittenFields = 0;
  int32_t FWrittenParts = 0;
  int32_t FWrittenRecords = 0;
  bool Fopen = false;
  bool FmultiPolygon = false;
  int32_t NextFileCheck = -1;
  bool fFileIsFull = false;

  // Protocol state of the base class.
  int32_t FDeclaredParts = 0;  // parts declared by the last AddObject
  int32_t FPendingParts = 0;   // parts the producer still owes the current object
  bool FDeferred = false;     // the current object is pooled for joining
  bool FDropParts = false;    // the current object has no geometry: parts are dropped
  int32_t FPartIndex = 0;     // 0-based number of the part handed to WriteSection
  TFloatPointArrayEx FScratch;  // AddSection1's copy
  std::array<int64_t, 4> FBoundsOffset{-1, -1, -1, -1};

private:
  void CheckPart(const TFloatPointArrayEx& SegList) const;
  void FlushOptimizedObject();
  void ReleasePool();
};

}  // namespace kovra

// ===========================================================================
// The in-memory result table and the text writers (MIF/MID, CSV).

#include <compare>
#include <variant>

namespace kovra {

class TTextFileWriter;

// ---------------------------------------------------------------------------
// Date-time numbers: days since 1899-12-30 as a Double, the time of day as
// its fraction (for days before that date the fraction counts backwards, as
// the platform's date-time number does).

struct TDateTime {
  double Value = 0;
  friend bool operator==(const TDateTime&, const TDateTime&) = default;
  friend auto operator<=>(const TDateTime&, const TDateTime&) = default;
};

// False for a year outside 1..9999, a month outside 1..12 or a day the month lacks.
bool TryEncodeDate(int32_t Year, int32_t Month, int32_t Day, TDateTime& Date);
// False unless Hour < 24, Min < 60, Sec < 60 and MSec < 1000 (none negative).
bool TryEncodeTime(int32_t Hour, int32_t Min, int32_t Sec, int32_t MSec, TDateTime& Time);
// The same, raising EConvertError "Invalid argument to date encode" / "... time encode".
TDateTime EncodeDate(int32_t Year, int32_t Month, int32_t Day);
TDateTime EncodeTime(int32_t Hour, int32_t Min, int32_t Sec, int32_t MSec);
// A date and a time of day as one date-time number.
TDateTime ComposeDateTime(TDateTime Date, TDateTime Time);

// ---------------------------------------------------------------------------
// TGISArray: the rows of a gfArray output.

// One attribute value; the kind follows the column type: gfChar text,
// gfInteger/gfSmallInt int32_t, gfInt64 int64_t, gfDecimal/gfFloat double,
// gfLogical bool, gfDate/gfTime/gfDateTime TDateTime. A date or time text of
// the wrong length is stored as a null (monostate).
using TGISValue = std::variant<std::monostate, std::string, int32_t, int64_t, double, bool, TDateTime>;
using TGISValueArray = std::vector<TGISValue>;

struct TRec {
  TGISValueArray Attr;               // one value per column, in column order
  std::vector<TFloatPointArray> Coord;  // one point array per part; empty without geometry
};
using TRecArray = std::vector<TRec>;

class TGISArray : public TObject {
public:
  // Releases the rows, RecCount := 0, empties Rec and Field; OT and MBR stay.
  void Clear();

  TObjectTypes OT = otPline;
  // Bounding box of every stored point; (cInfinity, cInfinity, -cInfinity,
  // -cInfinity) as doubles until the first point.
  TFloatRect MBR{};
  TFieldInfoArray Field;  // zero-based: entry i is column i + 1 of the writer
  // Rows 0..RecCount-1; the array may be longer (spare entries are empty).
  TRecArray Rec;
  int32_t RecCount = 0;
};

// Writes the records into a TGISArray. It makes a table of its own, which
// GISarray points at until a caller lends one of its own; only that own table
// is freed with the writer, a lent table never is. No files, styles or code
// pages.
class TGISWriterArray : public TGISWriter {
public:
  TGISWriterArray();
  ~TGISWriterArray() override;

  void AddField(const std::string& FieldName, TGISField Field, uint8_t Width, uint8_t decimals) override;
  // A row only in an otPoint table.
  void AddPoint(double X, double Y, const std::string& Attrib) override;
  void Close() override;
  // Close, then GISarray->Clear().
  void Drop() override;
  // Empties GISarray and declares NumFields columns (raises when GISarray is nil).
  void StartHeader(int32_t NumFields, TObjectTypes ObjectTypes) override;

protected:
  void StartObject(int32_t NumParts, const std::string& Attrib) override;
  void WriteSection(int32_t Index, TFloatPointArrayEx& SegList) override;

  int32_t Fpartsindex = -1;  // part of the current row being filled

private:
  // Splits Attrib and converts every value into FValues; raises before any
  // row changes.
  void ConvertValues(const std::string& Attrib);
  // Appends a row holding FValues and NumParts empty parts.
  TRec& NewRow(int32_t NumParts);
  void ExtendMBR(const TFloatPoint& P);

  std::unique_ptr<TGISArray> FOwnArray;  // the table made by the constructor
  TGISValueArray FValues;                // converted values of the next row
};

// ---------------------------------------------------------------------------
// MIF/MID: a .mif with the header and the geometry, a .mid with the
// attribute text of each record, unchanged; CR LF line ends.

class TGISWriterMIF : public TGISWriter {
public:
  TGISWriterMIF();
  ~TGISWriterMIF() override;

  // Width 255 (and 0 for gfChar) becomes 254, also in FieldInfo. The last
  // column creates both files (EFCreateError when one cannot be created; a
  // .mif made before a failing .mid is removed) and writes the header.
  void AddField(const std::string& FieldName, TGISField Field, uint8_t Width, uint8_t decimals) override;
  // Both write a "Line"; only in an otPline table.
  void AddLine(double X1, double Y1, double X2, double Y2, const std::string& Attrib) override;
  void AddLine2(const TFloatPoint& P1, const TFloatPoint& P2, const std::string& Attrib) override;
  // Only in an otPoint table.
  void AddPoint(double X, double Y, const std::string& Attrib) override;
  // Finishes both files once; raises EWriteError when a write failed.
  void Close() override;
  // Close, then deletes the files this writer created.
  void Drop() override;

protected:
  void StartObject(int32_t NumParts, const std::string& Attrib) override;
  void WriteSection(int32_t Index, TFloatPointArrayEx& SegList) override;

  int32_t fVersion = 300;
  std::vector<std::string> fields;  // column lines of the header
  std::unique_ptr<TTextFileWriter> FOutMIF;
  std::unique_ptr<TTextFileWriter> FOutMID;

private:
  void CreateFiles();
  void WritePenClause();
  void AppendPoint(double X, double Y);  // "x y" to FText
  bool FCreated = false;  // this writer created FileName.mif/.mid
  std::string FText;      // the line being built, reused
};

// The MIF writer fixed to UTF-8: byte-order marks, Version 1520, CharSet "UTF-8".
class TGISWriterMIF8 : public TGISWriterMIF {
public:
  TGISWriterMIF8();

protected:
  // Every later Codepage value is ignored.
  bool AcceptsCodepage(uint16_t Value) const override;
};

// CSV: a line of quoted column names, then the attribute text of each record.
class TGISWriterCSV : public TGISWriter {
public:
  TGISWriterCSV();
  ~TGISWriterCSV() override;

  void AddField(const std::string& FieldName, TGISField Field, uint8_t Width, uint8_t decimals) override;
  // Each writes the attribute row whatever the table kind.
  void AddLine(double X1, double Y1, double X2, double Y2, const std::string& Attrib) override;
  void AddLine2(const TFloatPoint& P1, const TFloatPoint& P2, const std::string& Attrib) override;
  void AddPoint(double X, double Y, const std::string& Attrib) override;
  void Close() override;
  void Drop() override;
  // Creates FileName.csv (EFCreateError when it cannot be created).
  void StartHeader(int32_t NumFields, TObjectTypes ObjectTypes) override;

protected:
  void StartObject(int32_t NumParts, const std::string& Attrib) override;

  std::unique_ptr<TTextFileWriter> FOutCSV;

private:
  void WriteRow(const std::string& Attrib);
  bool FCreated = false;
};

}  // namespace kovra

// ===========================================================================
// dBASE table and ESRI shapefile writers.

namespace kovra {

class TKvBufferedStream;

// Local calendar date written into a new .dbf header (Year e.g. 2026,
// Month 1..12, Day 1..31).
struct TDBFHeaderDate {
  int32_t Year = 1900;
  int32_t Month = 1;
  int32_t Day = 1;
};
using TDBFDateSource = TDBFHeaderDate (*)();
// Today from localtime_r.
TDBFHeaderDate LocalDBFHeaderDate();
// The function StartHeader asks for the date; a test replaces it to pin the
// header bytes. nullptr restores the local clock. Returns the previous one.
TDBFDateSource SetDBFDateSource(TDBFDateSource Source);

// dBASE limits: 32 x fields + 33 header bytes and the record length are Words.
inline constexpr int32_t cDBFMaxFields = 2046;
inline constexpr uint32_t cDBFMaxRecordLength = 65535;
// A file past this many bytes makes FileIsFull true (a little under 2^31).
inline constexpr int64_t cGISFileFullBytes = 2147000000;
// .shp/.shx offsets and lengths count 16-bit words in a signed 32-bit field.
inline constexpr uint64_t cSHPMaxBytes = 2 * uint64_t(MaxInt);

// Text of Value in a numeric DBF field of Width characters and Decimals
// decimals, exactly Width bytes: the fixed text right-aligned when it fits;
// else, with Decimals > 0, the E-notation ("9.99999968028569E37") with the
// mantissa rounded until it fits; else Width '*' (the dBASE overflow mark,
// read as NULL). Never a cut, different number. Non-finite values raise
// EInvalidOp.
void FormatDBFField(char* Buffer, int32_t Width, int32_t Decimals, double Value);

// gfDBF: the attributes of a layer as a dBASE III table (FileName + ".dbf").
// Every record is split and formatted before its first byte is written, so a
// refused record leaves the table as it was.
class TGISWriterDBF : public TGISWriter {
public:
  TGISWriterDBF();
  ~TGISWriterDBF() override;

  // Width 255, and 0 for gfChar, become 254; the stored width and decimals are
  // the table's (FieldInfo). Raises "DBF record length exceeds 65535 bytes"
  // for the column that would push the record past a Word, and
  // EInvalidFieldType for an unnamed column type, both before anything changes.
  void AddField(const std::string& FieldName, TGISField Field, uint8_t Width, uint8_t decimals) override;
  // A row of Attrib whatever the table kind; the coordinates are not stored.
  void AddPoint(double X, double Y, const std::string& Attrib) override;
  // Once: the end byte and the record count; raises EWriteError when the
  // file could not be completed.
  void Close() override;
  // Close, then deletes the files this writer created.
  void Drop() override;
  // Raises "Too many fields for a DBF table (max 2046)" before any file is
  // created; EFCreateError when the .dbf cannot be created.
  void StartHeader(int32_t NumFields, TObjectTypes ObjectTypes) override;

protected:
  void StartObject(int32_t NumParts, const std::string& Attrib) override;

  // Splits Attrib and formats every value into FRecord; writes nothing.
  void FormatRecord(const std::string& Attrib);
  // Appends FRecord to the .dbf and counts it.
  void WriteRecord();
  // Deletes Name when this writer created it (a bit of FCreated).
  void DeleteCreated(const std::string& Extension, uint32_t Bit);

  // One column as laid out in the record.
  struct TDBFColumn {
    TGISField FieldType = gfChar;
    uint8_t Width = 0;
    uint8_t Decimals = 0;
    uint32_t Offset = 0;  // from the deletion byte
  };

  uint32_t FNumRec = 0;
  std::unique_ptr<TKvBufferedStream> FOutDBF;
  uint16_t FTotalWidth = 0;  // 1 + the widths declared so far
  std::vector<TDBFColumn> FColumns;
  std::string FRecord;   // the next record's bytes, reused
  std::string FText;     // one converted value, reused
  bool FAsciiSame = false;  // the code page keeps ASCII text unchanged
  uint32_t FCreated = 0;  // files this writer created (bits by extension)
  // Bytes assumed in front of every output file when the size limits are
  // checked: a test seam to reach FileIsFull and the 4 GB guard without
  // writing gigabytes. 0 in every real writer.
  uint64_t FSizeBias = 0;
  // Whether the .dbf is past the FileIsFull size.
  bool DBFIsFull();

private:
  void FormatValue(const TDBFColumn& Column, const std::string& Value, char* Out);
  // Bytes of S in the writer's code page, cut after the last whole character
  // that fits in Width bytes.
  void EncodeCut(const std::string& S, uint32_t Width, std::string& Out) const;
};

// gfSHP: the .dbf of TGISWriterDBF plus .shp, .shx, .prj and .cpg (only the
// .dbf for an otNone table).
class TGISWriterSHP : public TGISWriterDBF {
public:
  TGISWriterSHP();
  ~TGISWriterSHP() override;

  // Only in an otPoint table; elsewhere nothing is written.
  void AddPoint(double X, double Y, const std::string& Attrib) override;
  // The DBF Close, then the lengths and the box of both headers, once.
  void Close() override;
  void Drop() override;
  void StartHeader(int32_t NumFields, TObjectTypes ObjectTypes) override;

protected:
  void StartObject(int32_t NumParts, const std::string& Attrib) override;
  void WriteSection(int32_t Index, TFloatPointArrayEx& SegList) override;

  uint64_t FContentLength = 0;  // bytes of the record being finished
  uint32_t FNumPoints = 0;      // points written so far for the current record
  std::unique_ptr<TKvBufferedStream> FOutSHP;
  std::unique_ptr<TKvBufferedStream> FOutSHX;
  uint64_t FSHPOffset = 0;  // .shp offset of the current record (after the last: the length)
  bool FSHPopen = false;
  double FXMinO = 0, FYMinO = 0, FXMaxO = 0, FYMaxO = 0;  // box of the current record

private:
  // Raises "Shapefile exceeds the 4 GB format limit" unless the record, once
  // Bytes long in all (header included), stays within the format.
  void CheckSHPRoom(uint64_t Bytes) const;
  // Content length into the record header and the index; with
  // PatchPolyHeader also the box and counts of a PolyLine or Polygon.
  void FinishRecord(bool PatchPolyHeader);
  // Takes the current record out of all three files again (after a refused part).
  void RollBackRecord();
  void UpdateFileIsFull();
  uint32_t ShapeType() const;

  uint64_t FDBFRecordStart = 0;  // .dbf position of the current record
};

}  // namespace kovra

// ===========================================================================
// XML and JSON writers: KML 2.2, GML 2 with its schema, GPX 1.1, GeoJSON.
// All four write UTF-8 whatever the code page (KML, GML and GPX with a
// byte-order mark, GeoJSON without). Every text that reaches XML passes
// EscapeXML or the name rules below, so the output stays well-formed
// whatever the layer, column and value texts hold.

#include <set>

namespace kovra {

// Web addresses of the library's own: the base of the GML feature namespace
// (the layer name follows), the extension namespace of GPX records and the
// icon of KML points.
inline constexpr std::string_view cGMLNamespaceBase = "https://kovra.invalid/gml/";
inline constexpr std::string_view cKovra4Namespace = "https://kovra.invalid/kovra4";
inline constexpr std::string_view cKMLPointIcon = "https://kovra.invalid/icons/circle.png";

// An XML element or type name (NCName) for Name: a character no name may hold
// becomes '_', and '_' goes in front unless the name starts with a letter or
// '_'; a valid name is unchanged. Only characters that both XML 1.0 editions
// accept in names are kept (4th-edition parsers such as expat read the files).
std::string MakeNCName(std::string_view Name);
// MakeNCName, made unique against Taken: the second name mapping to N becomes
// N_2, the third N_3 (the first free one). The result is added to Taken.
std::string MakeUniqueNCName(std::string_view Name, std::set<std::string>& Taken);
// A URI path segment: the UTF-8 bytes of S, every byte but A-Z a-z 0-9 - . _ ~
// as %XX (upper-case hex).
std::string PercentEncode(std::string_view S);
// The contents of a JSON string for S, pure ASCII: \b \t \n \f \r \" \/ \\,
// every other code point below 32 or above 126 as \uXXXX (upper-case hex; one
// escape per UTF-16 code unit, so beyond the BMP a surrogate pair). Invalid
// UTF-8 bytes become U+FFFD.
std::string EscapeJSON(std::string_view S);
// S matches the JSON number grammar: -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
bool IsJSONNumber(std::string_view S);
// A coordinate as an xsd:decimal: FloatToStrDot when it has no exponent,
// otherwise the shortest fixed-notation text that reads back as the value.
std::string FloatToStrDecimalDot(double Value);

// gfKML2: one KML 2.2 document (FileName + ".kml"), CR LF line ends.
class TGISWriterKML2 : public TGISWriter {
public:
  TGISWriterKML2();
  ~TGISWriterKML2() override;

  // Only in an otPoint table.
  void AddPoint(double X, double Y, const std::string& Attrib) override;
  // Finishes the document once.
  void Close() override;
  // Close, then deletes the .kml this writer created.
  void Drop() override;
  // Creates the .kml (EFCreateError when it cannot) and writes the document
  // head with the table's shared style.
  void StartHeader(int32_t NumFields, TObjectTypes ObjectTypes) override;

protected:
  void StartObject(int32_t NumParts, const std::string& Attrib) override;
  void WriteSection(int32_t Index, TFloatPointArrayEx& SegList) override;

  std::unique_ptr<TTextFileWriter> FOutKML;
  bool Fprevious = false;  // a Polygon of the current Placemark is open

private:
  // Placemark start, record name; splits and counts the record first.
  void BeginPlacemark(const std::string& Attrib);
  void AppendDescription();
  void AppendCoordinates(const TFloatPointArrayEx& SegList);
  bool FCreated = false;
  std::string FText;  // the text of the record being written, reused
};

// gfGML2: a GML 2 feature collection (FileName + ".xml", one line) and its
// schema (FileName + ".xsd", one line, complete at the last AddField).
class TGISWriterGML2 : public TGISWriter {
public:
  TGISWriterGML2();
  ~TGISWriterGML2() override;

  void AddField(const std::string& FieldName, TGISField Field, uint8_t Width, uint8_t decimals) override;
  // Only in an otPoint table.
  void AddPoint(double X, double Y, const std::string& Attrib) override;
  // Ends the .xml once and writes the bounds into its header.
  void Close() override;
  // Close, then deletes the .xml and .xsd this writer created.
  void Drop() override;
  // Creates both files (EFCreateError when one cannot; no half pair stays).
  void StartHeader(int32_t NumFields, TObjectTypes ObjectTypes) override;

protected:
  void StartObject(int32_t NumParts, const std::string& Attrib) override;
  void WriteSection(int32_t Index, TFloatPointArrayEx& SegList) override;

  std::unique_ptr<TTextFileWriter> FOutGML;
  std::unique_ptr<TTextFileWriter> FOutXSD;
  bool Fprevious = false;   // a polygon member of the current feature is open
  std::string FFileName2;   // the layer name: FileName without its folder

private:
  void BeginFeature(const std::string& Attrib);
  void EndFeature();
  void AppendCoordinates(const TFloatPointArrayEx& SegList);
  bool FCreated = false;
  std::string FElement;               // NCName of the layer's feature element
  std::vector<std::string> FColumns;  // NCNames of the columns, index 1..NumFields
  std::set<std::string> FTaken;       // column names in use
  std::string FText;
};

// gfGPX: a GPX 1.1 file (FileName + ".gpx", CR LF line ends): points as
// waypoints, one-part lines as routes, the attributes as kovra4 extensions.
// Region tables are refused.
class TGISWriterGPX : public TGISWriter {
public:
  TGISWriterGPX();
  ~TGISWriterGPX() override;

  // Only in an otPoint table.
  void AddPoint(double X, double Y, const std::string& Attrib) override;
  // Ends the file once and writes the bounds into its metadata.
  void Close() override;
  // Close, then deletes the .gpx this writer created.
  void Drop() override;
  // Raises "GPX format do not support polygon output" for otRegion before
  // any file exists; otherwise creates the .gpx.
  void StartHeader(int32_t NumFields, TObjectTypes ObjectTypes) override;

protected:
  void StartObject(int32_t NumParts, const std::string& Attrib) override;
  void WriteSection(int32_t Index, TFloatPointArrayEx& SegList) override;

  std::unique_ptr<TTextFileWriter> FOutGPX;

private:
  void AppendExtensions();
  void AppendLonLat(double X, double Y);
  bool FCreated = false;
  std::vector<std::string> FColumns;  // NCNames of the columns, index 1..NumFields
  std::set<std::string> FTaken;
  std::string FText;
};

// The GeoJSON text sink: a new UTF-8 file without byte-order mark, or, for an
// empty file name, a string in memory.
class TFlexWriter : public TObject {
public:
  explicit TFlexWriter(const std::string& filename);
  // Releases the file without reporting a failed final write: call Close.
  ~TFlexWriter() override;
  TFlexWriter(const TFlexWriter&) = delete;
  TFlexWriter& operator=(const TFlexWriter&) = delete;

  void append(std::string_view s);
  // Empties the in-memory text; nothing for a file.
  void clear();
  // The text collected in memory; empty for a file.
  const std::string& ToString() const { return SB; }
  // Hands the in-memory text over without copying it; the sink is empty after.
  std::string TakeString();
  // Finishes and closes the file (EWriteError when a write failed).
  void Close();

private:
  bool fFileStyle;
  std::string SB;  // grows geometrically
  std::unique_ptr<TTextFileWriter> f;
};

// gfGeoJSON: a compact FeatureCollection, to FileName + ".geojson" or, when
// FileName is empty, into GeoJSON at Close.
class TGISWriterGeoJSON : public TGISWriter {
public:
  TGISWriterGeoJSON();
  ~TGISWriterGeoJSON() override;

  // A point feature whatever the table kind.
  void AddPoint(double X, double Y, const std::string& Attrib) override;
  // Ends the collection once; an in-memory text moves into GeoJSON.
  void Close() override;
  // Close; a file sink's .geojson is deleted, an in-memory GeoJSON text stays.
  void Drop() override;
  void StartHeader(int32_t NumFields, TObjectTypes ObjectTypes) override;

protected:
  void StartObject(int32_t NumParts, const std::string& Attrib) override;
  // Raises "Region record with several polygons must be declared
  // multiPolygon" at the second polygon of an undeclared region record,
  // before anything of that part is written.
  void WriteSection(int32_t Index, TFloatPointArrayEx& SegList) override;

  std::unique_ptr<TFlexWriter> s;

private:
  // Separator, feature head and properties; splits and counts the record first.
  void BeginFeature(const std::string& Attrib);
  void AppendPositions(const TFloatPointArrayEx& SegList);
  bool FCreated = false;  // this writer made FileName.geojson
  std::vector<std::string> FKeys;  // escaped property names, index 1..NumFields
  std::string FText;
};

}  // namespace kovra
