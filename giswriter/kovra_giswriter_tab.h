// TAB writers: MapInfo .tab/.map/.id/.dat tables written through the outside
// table libraries (MITAB, MFAL, EFAL). The factory makes one only while its
// library is loaded; otherwise a TAB format yields MIF/MID output.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "giswriter/efal.h"
#include "giswriter/kovra_giswriter.h"
#include "giswriter/mfal.h"

namespace kovra {

// Colour 0x00BBGGRR (the library's) to 0x00RRGGBB (the table libraries').
constexpr uint32_t RGB(uint32_t v) { return ((v & 0xFF) << 16) + (v & 0xFF00) + ((v >> 16) & 0xFF); }

// Largest region object of a MITAB table, in parts.
inline constexpr int32_t cMITABMaxParts = 122500;

// Base of the TAB writers: notes the four files as created once the library
// has made the table (so Drop deletes them, and never a table that was there
// before), and watches their size.
class TGISWriterTAB : public TGISWriter {
public:
  TGISWriterTAB();
  bool nativeX() const { return fnativeX; }

  // The size check after a record (skipped for NATIVEX tables): at
  // WrittenRecords >= NextFileCheck, m := the largest of the .map, .id and
  // .dat sizes; FileIsFull := m > 2,147,000,000; the next check comes where
  // the largest file would reach the middle between m and that limit
  // (WrittenRecords * 0.5 + 1073500000 / m * WrittenRecords, at most MaxInt),
  // or at the next record while no file has a size yet.
  void CheckFileSizes();

protected:
  // Size of a file in bytes, -1 when it cannot be read (a test seam).
  virtual int64_t TableFileSize(const std::string& Name) const;
  // The library has created the table: its .tab, .map, .dat and .id are ours.
  void AddTableFiles();

  bool fnativeX = false;
};

// gfMITAB: through the MITAB library (giswriter/mitab.h).
class TGISWriterMITAB : public TGISWriterTAB {
public:
  TGISWriterMITAB();
  ~TGISWriterMITAB() override;

  // gfInt64 raises "Int64 are not supported for MITAB format"; Width 255
  // becomes 254; a field the library refuses raises "MITAB: <its message>".
  void AddField(const std::string& FieldName, TGISField Field, uint8_t Width, uint8_t decimals) override;
  // A region object of more than 122500 parts raises "No more than 122500 parts".
  void AddObject(int32_t NumParts, bool multiPolygon, const std::string& Attrib) override;
  // Only in an otPoint table; writes a complete one-point feature.
  void AddPoint(double X, double Y, const std::string& Attrib) override;
  // Closes the table once; in an otNone table deletes the .map and .id.
  // Points the library had to move into the table's bounds raise
  // "TAB output "<file>": coordinates outside the table bounds <bounds>"
  // (the files stay); another failure raises "MITAB: <message>".
  void Close() override;
  // Creates the table; raises "MITAB: cannot create table "<path>": <why>"
  // when the library is not loaded or refuses the table, and "MITAB: a
  // table is already open ..." on a writer whose table is open.
  void StartHeader(int32_t NumFields, TObjectTypes ObjectTypes) override;

  // Bounds of a "Bounds (xmin, ymin) (xmax, ymax)" clause; raises
  // "Invalid Bounds clause in CoordSys: "<text>"" unless four numbers follow.
  static void ParseMIFBounds(const std::string& Text, double& xmin, double& ymin, double& xmax, double& ymax);

protected:
  void StartObject(int32_t NumParts, const std::string& Attrib) override;
  void WriteSection(int32_t Index, TFloatPointArrayEx& SegList) override;

  int64_t FFH = 0;  // feature being built
  int64_t FMH = 0;  // open table; 0 = none
  TDoubleArray FX, FY;
  std::string FValue;  // one value in the code page, reused

  // Releases the feature of the unfinished record: the table never got it.
  void AbandonObject() override;

private:
  // Raises "MITAB: <library message>" (after releasing the feature).
  [[noreturn]] void RaiseLibraryError(const char* What);
  // write_feature, destroy_feature and the size check of the current feature.
  void FinishFeature();
  void CloseTable();
};

// gfMFAL: through the MFAL library (giswriter/mfal.h). The table is created
// at the last AddField.
class TGISWriterMFAL : public TGISWriterTAB {
public:
  TGISWriterMFAL();

  // A field name of 32 bytes or more (code page 1252) raises "Field name is
  // longer than 31"; a table the library does not create raises
  // "MFAL: cannot create table "<path>"".
  void AddField(const std::string& FieldName, TGISField Field, uint8_t Width, uint8_t decimals) override;
  // With a table, whatever the table kind: a point record.
  void AddPoint(double X, double Y, const std::string& Attrib) override;
  void Close() override;
  void StartHeader(int32_t NumFields, TObjectTypes ObjectTypes) override;

  // The values of Attrib (comma-text rule) joined by TAB, quoted where a
  // value holds a character of code 32 or less or a double quote; in the
  // writer's code page.
  std::string AttribToTabText(const std::string& Attrib);

protected:
  void StartObject(int32_t NumParts, const std::string& Attrib) override;
  void WriteSection(int32_t Index, TFloatPointArrayEx& SegList) override;

  std::string attrib_tab;
  int32_t FieldIndex = 0;
  std::vector<MI_ATTRDEF> Fields;
  MI_OBJ miobject{};
  std::vector<MI_POLY> mipolys;
  std::vector<std::vector<DPNT>> pointsM;
  std::vector<std::string> SL;
  intptr_t TId = 0;
  int32_t Fpartsindex = -1;

private:
  void Insert();
  MI_CPEN MakePen() const;
};

// gfEFAL (native TAB) and, through TGISWriterEFALx, gfEFALx (NATIVEX): through
// the EFAL library (giswriter/efal.h). The session and table description
// exist from StartHeader, the table from the last AddField. Each failure the
// library reports raises "EFAL: ...".
class TGISWriterEFAL : public TGISWriterTAB {
public:
  TGISWriterEFAL();
  // Releases the session and table of a writer freed without Close.
  ~TGISWriterEFAL() override;

  // At the last field: a statement the library does not prepare raises
  // "EFAL: Failed to prepare ...".
  void AddField(const std::string& FieldName, TGISField Field, uint8_t Width, uint8_t decimals) override;
  // Only in an otPoint table. Records the library does not insert raise
  // "EFAL: Failed to insert record <n>" and are not counted.
  void AddPoint(double X, double Y, const std::string& Attrib) override;
  void Close() override;
  // Raises "EFAL: a table is already open ..." while the session is open.
  void StartHeader(int32_t NumFields, TObjectTypes ObjectTypes) override;

  // The geometry bytes of the last record (GeoPackage header + WKB).
  const std::string& GeometryBytes() const { return geo; }

protected:
  void StartObject(int32_t NumParts, const std::string& Attrib) override;
  void WriteSection(int32_t Index, TFloatPointArrayEx& SegList) override;
  // Every code page, also UTF-8 and UTF-16, for gfEFALx; as the base otherwise.
  bool AcceptsCodepage(uint16_t Value) const override;

  // Gives value i of Attrib to variable "@col<i>var" by the column type;
  // raises on a count other than NumFields and on a malformed value.
  void SetColumnVariables(const std::string& Attrib);

  TEFALProcs FProcs;  // the library's functions, as bound at StartHeader
  uint64_t Session = 0;
  uint64_t TableMetadata = 0;
  uint64_t Table = 0;
  std::string coord;
  std::string alias;
  std::string InsertStringStyle;
  std::string InsertString;
  uint64_t InsertStringStyleHandle = 0;
  uint64_t InsertStringHandle = 0;
  uint64_t InsertNoGeometryHandle = 0;  // attribute-only insert of a table with geometry
  std::string geo;  // geometry bytes of the current record
  TFloatPoint LL{}, UR{};
  int32_t NumberOfPolygons = 0;
  int32_t NumberOfRings = 0;
  int64_t PosNumberOfRings = 0;

private:
  void CloseTable();
  void WriteWKBHeader(uint32_t Type);
  void PutInt32(int32_t V);
  void PutDouble(double V);
  void PatchInt32(int64_t Pos, int32_t V);
  void PatchRingCount();
  void InsertRecord(uint64_t Statement);
  uint64_t Prepare(const std::string& Statement);
  // Ends the table and the session, if any (Close and the destructor).
  void ReleaseSession();
};

class TGISWriterEFALx : public TGISWriterEFAL {
public:
  TGISWriterEFALx();
};

}  // namespace kovra
