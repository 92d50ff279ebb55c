// The text writers: MIF/MID (gfMIF, and every TAB format whose library is
// missing), MIF/MID in UTF-8 (gfMIF8) and CSV (gfCSV).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "giswriter/kovra_giswriter.h"

namespace kovra {

class TTextFileWriter;

// MIF/MID: a .mif with the header and the geometry, a .mid with the
// attribute text of each record, unchanged; CR LF line ends.
class TGISWriterMIF : public TGISWriter {
public:
  TGISWriterMIF();
  ~TGISWriterMIF() override;

  // Width 255 (and 0 for gfChar) becomes 254, also in FieldInfo. The name is
  // made one MIF readers take ('_' for a character no name holds, at most 31
  // bytes of the code page) and unique ignoring case ("_2", "_3", ...). The last
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

protected:
  void StartObject(int32_t NumParts, const std::string& Attrib) override;
  void WriteSection(int32_t Index, TFloatPointArrayEx& SegList) override;
  void AbandonObject() override;

  int32_t fVersion = 300;
  std::vector<std::string> fields;  // column lines of the header
  std::vector<std::string> FNames;  // the column names written
  std::unique_ptr<TTextFileWriter> FOutMIF;
  std::unique_ptr<TTextFileWriter> FOutMID;

private:
  void CreateFiles();
  void AppendPenClause();
  void AppendPoint(double X, double Y);  // "x y" to FText
  // The record's .mif text (FText) and its .mid line.
  void WriteRecord(const std::string& Attrib);
  std::string FText;     // the .mif text of the record being built, reused
  std::string FMIDLine;  // its .mid line, held until the record is complete
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
  // Creates FileName.csv (EFCreateError when it cannot be created).
  void StartHeader(int32_t NumFields, TObjectTypes ObjectTypes) override;

protected:
  void StartObject(int32_t NumParts, const std::string& Attrib) override;
  void WriteSection(int32_t Index, TFloatPointArrayEx& SegList) override;

  std::unique_ptr<TTextFileWriter> FOutCSV;

private:
  void WriteRow(const std::string& Attrib);
  std::string FRow;  // the row of a record whose parts are still coming
};

}  // namespace kovra
