// The dBASE table writer (gfDBF) and the ESRI shapefile writer (gfSHP) on it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "giswriter/kovra_giswriter.h"

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
// .shp/.shx offsets and lengths count 16-bit words in a signed 32-bit field.
inline constexpr uint64_t cSHPMaxBytes = 2 * uint64_t(MaxInt);

// Text of Value in a numeric DBF field of Width characters and Decimals
// decimals, exactly Width bytes: the fixed text right-aligned when it fits;
// else, with Decimals > 0, the shortest E-notation that reads back as Value
// ("9.999999680285692E37") when that fits; else Width '*' (the dBASE
// overflow mark, read as NULL). Never a cut or rounded, different number.
// Non-finite values raise EInvalidOp.
void FormatDBFField(char* Buffer, int32_t Width, int32_t Decimals, double Value);

// gfDBF: the attributes of a layer as a dBASE III table (FileName + ".dbf").
// Every record is split and formatted before its first byte is written, so a
// refused record leaves the table as it was.
class TGISWriterDBF : public TGISWriter {
public:
  TGISWriterDBF();
  ~TGISWriterDBF() override;

  // Width 255, and 0 for gfChar, become 254; the stored width and decimals are
  // the table's (FieldInfo). The name is cut to 10 bytes of the code page
  // (whole characters); a name that repeats an earlier one, ignoring case,
  // gets "_2", "_3", ... within the 10 bytes (LongFieldN, LongFiel_2). Raises "DBF record length exceeds 65535 bytes"
  // for the column that would push the record past a Word, and
  // EInvalidFieldType for an unnamed column type, both before anything changes.
  void AddField(const std::string& FieldName, TGISField Field, uint8_t Width, uint8_t decimals) override;
  // A row of Attrib whatever the table kind; the coordinates are not stored.
  void AddPoint(double X, double Y, const std::string& Attrib) override;
  // Once: the end byte and the record count; raises EWriteError when the
  // file could not be completed.
  void Close() override;
  // Raises "Too many fields for a DBF table (max 2046)" before any file is
  // created; EFCreateError when the .dbf cannot be created.
  void StartHeader(int32_t NumFields, TObjectTypes ObjectTypes) override;

protected:
  void StartObject(int32_t NumParts, const std::string& Attrib) override;
  // Takes the unfinished record's row out of the .dbf again.
  void AbandonObject() override;

  // Splits Attrib and formats every value into FRecord; writes nothing.
  void FormatRecord(const std::string& Attrib);
  // Appends FRecord to the .dbf and counts it.
  void WriteRecord();

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
  std::vector<std::string> FNames;  // the descriptors' names
  std::string FRecord;   // the next record's bytes, reused
  std::string FText;     // one converted value, reused
  // Bytes assumed in front of every output file when the size limits are
  // checked: a test seam to reach FileIsFull and the 4 GB guard without
  // writing gigabytes. 0 in every real writer.
  uint64_t FSizeBias = 0;
  uint64_t FDBFRecordStart = 0;  // .dbf position of the current record
  bool FRecordOpen = false;      // the current record is written but not finished
  // Whether the .dbf is past the FileIsFull size.
  bool DBFIsFull();

private:
  void FormatValue(const TDBFColumn& Column, const std::string& Value, char* Out);
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
  // A file that cannot be created raises its stream error; the files this
  // call made before it (.dbf, .prj, .cpg) are removed again.
  void StartHeader(int32_t NumFields, TObjectTypes ObjectTypes) override;

protected:
  void StartObject(int32_t NumParts, const std::string& Attrib) override;
  void WriteSection(int32_t Index, TFloatPointArrayEx& SegList) override;
  // Takes the unfinished record out of all three files again.
  void AbandonObject() override;

  uint64_t FContentLength = 0;  // bytes of the record being finished
  uint32_t FNumPoints = 0;      // points written so far for the current record
  std::unique_ptr<TKvBufferedStream> FOutSHP;
  std::unique_ptr<TKvBufferedStream> FOutSHX;
  uint64_t FSHPOffset = 0;  // .shp offset of the current record (after the last: the length)
  bool FSHPopen = false;
  double FXMinO = 0, FYMinO = 0, FXMaxO = 0, FYMaxO = 0;  // box of the current record

private:
  // A whole small file (.prj, .cpg) beside the table.
  void WriteSmallFile(const std::string& Extension, const std::string& Bytes);
  // .prj, .cpg, .shp and .shx.
  void CreateShapeFiles();
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

};

}  // namespace kovra
