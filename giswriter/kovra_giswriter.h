// Result writers: the abstract writer every GIS output goes through, with the
// calling protocol, the shared records, styles, constant sets and palettes,
// the attribute splitting, the column-type guess, the bounds patching of the
// XML headers, and the joining of polyline parts and their great-circle
// densification, which the base class applies before any format writer sees
// a part; and the in-memory result table of gfArray output.
//
// This is the header a producer includes: it makes writers only through
// TGISWriter::GetGISObject. The format writers are declared in their own
// headers (kovra_giswriter_<group>.h), which only the factory and the tests
// include.
//
// Protocol (every producer): StartHeader(NumFields >= 1, kind); AddField
// NumFields times; records (AddPoint/AddPoint2, AddLine/AddLine2, or AddObject
// followed by exactly NumParts AddSection/1/2/3); Close, or Drop.
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
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

// Entry Index mod 15 of the service-area centre palette; a negative Index
// raises EInvalidParameter.
uint32_t GetCenterColor(int32_t Index);
// Entry Index mod 4 of the cost-band palette; a negative Index raises
// EInvalidParameter.
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
// digits, else in E-notation with a rounded mantissa. With PlainDecimal
// (xsd:decimal, as GPX bounds are) never E-notation: the fixed text rounded to
// 16 characters, or EInvalidParameter for a bound whose integer part does not fit.
std::string PatchBoundText(double Value, bool PlainDecimal = false);

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
  // ASCII text keeps its bytes in this page.
  bool AsciiSame() const { return FAsciiSame; }
  // The bytes of S in the code page ('?' for what the page lacks).
  std::string GetBytes(std::string_view S) const;
  // Number of bytes of S in the code page (UTF-16 code units for 1200).
  int64_t ByteCount(std::string_view S) const;
  // The bytes of S in the code page, cut after the last whole character that
  // fits in MaxBytes: a fixed-width field never holds half of a double-byte
  // character (a reader could swallow the blank after it).
  void GetBytesCut(std::string_view S, size_t MaxBytes, std::string& Out) const;
  // Length in bytes of the longest prefix of S, in whole characters, whose
  // bytes in the code page are at most MaxBytes.
  size_t FitPrefix(std::string_view S, size_t MaxBytes) const;

private:
  uint16_t FCodePage;
  bool FSingleByte;
  bool FAsciiSame;  // ASCII text keeps its bytes: plain texts skip the conversion
};

// A DBF, SHP or TAB file past this many bytes makes FileIsFull true (a
// little under 2^31).
inline constexpr int64_t cGISFileFullBytes = 2147000000;

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
  // still owed, for a negative NumParts (EInvalidParameter) and for parts in
  // a point table. In an otNone table the format writer sees
  // StartObject(0, Attrib) and the parts are dropped.
  virtual void AddObject(int32_t NumParts, bool multiPolygon, const std::string& Attrib);
  // A point record. Every writer raises EInvalidParameter, naming the
  // record, for a coordinate that is not a finite number, before anything of
  // the record is written.
  virtual void AddPoint(double X, double Y, const std::string& Attrib) = 0;
  // Finishes the output once. A record whose parts were still owed (a part
  // was refused, or the producer stopped) is taken out of the output, or
  // left out of it, and not counted; once the files are complete and
  // released, Close raises, naming that record.
  virtual void Close();
  // Close, then deletes the files this writer created (also when Close
  // raised; its error then propagates). A file that was there before the
  // writer is never deleted.
  virtual void Drop();
  // NumFields must be >= 1 (EInvalidParameter before anything is created).
  virtual void StartHeader(int32_t NumFields, TObjectTypes ObjectTypes);

  void AddPoint2(const TFloatPoint& P, const std::string& Attrib);

  // One part of SegList.Count points. Raises, before the format writer sees
  // the part, for a part beyond the declared count, a region ring of fewer
  // than 4 points or not closed, a polyline part without points, and a
  // point that is not a finite number (EInvalidParameter, naming the
  // record); a one-point polyline part is written with its point doubled.
  // Densification may grow the caller's buffer (Pnt and Count).
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
  // Close found the current record unfinished: the format writer takes what
  // it wrote of it out again and uncounts it. The base does nothing.
  virtual void AbandonObject();

  // Which code pages the Codepage setter takes: all but 65001 and 1200 here.
  virtual bool AcceptsCodepage(uint16_t Value) const;

  // EInvalidParameter, naming the record about to be written, unless both
  // are finite numbers. Every AddPoint calls it first.
  void CheckPoint(double X, double Y) const;
  // Every derived Close calls it last, once its files are complete:
  // raises the unfinished-record error that the base Close found (not
  // while dropping).
  void RaiseUnfinished();

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
                   const std::string& tag3, const std::string& tag4, bool PlainDecimals = false);
  // Notes a file this writer has just created (or had its library create).
  void AddCreatedFile(const std::string& Name);
  // Deletes every file noted by AddCreatedFile, quietly, and forgets them.
  void DropCreatedFiles();

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
  int32_t FObjectRecord = 0;  // output number of the record AddObject opened

private:
  void CheckPart(const TFloatPointArrayEx& SegList) const;
  void CheckFinite(const TFloatPointArrayEx& SegList) const;
  void FlushOptimizedObject();
  void ReleasePool();

  std::vector<std::string> FCreatedFiles;
  std::array<double, 4> FObjectBounds{};  // FXMinG..FYMaxG before the current record
  std::string FUnfinished;  // the report of a record Close took out
  bool FDropping = false;
  bool FObjectBroken = false;  // the format writer failed inside the current record
};

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

}  // namespace kovra
