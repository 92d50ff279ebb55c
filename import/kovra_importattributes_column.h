// The column of the attribute tables that a table-driven Execute reads: one
// value per link, from the first listed table to the last. Shared by the
// value files, the external-id index and the road-name import.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/kovra_csvfiles.h"
#include "foundation/kovra_dbffiles.h"
#include "import/kovra_importattributes.h"

namespace kovra {

class TImportAttributes::TColumn {
public:
  virtual ~TColumn() = default;
  // What progress counts up to, and where the reading is.
  virtual double Total() const = 0;
  virtual double Position() const = 0;
  // The number of records when known before reading (tables), else -1.
  virtual int64_t Records() const = 0;
  // The next record's value; false at the end.
  virtual bool NextInteger(int64_t& Value) = 0;
  virtual bool NextText(std::string& Value) = 0;
};

// Field fieldindex of every line of the comma-separated text files.
class TImportAttributes::TCsvColumn final : public TColumn {
public:
  TCsvColumn(const std::vector<std::string>& Files, uint16_t CodePage, int32_t FieldIndex)
      : fCsv(CodePage), fField(FieldIndex) {
    fCsv.Add(Files);
    fCsv.Open();
  }
  double Total() const override { return double(fCsv.Size()); }
  double Position() const override { return double(fCsv.Position()); }
  int64_t Records() const override { return -1; }
  bool NextInteger(int64_t& Value) override {
    if (fCsv.Eof()) return false;
    fCsv.Read(fField, Value);
    return true;
  }
  bool NextText(std::string& Value) override {
    if (fCsv.Eof()) return false;
    fCsv.Read(fField, Value);
    return true;
  }

private:
  TCSVFiles fCsv;
  int32_t fField;
};

// One field of the DBF or DAT tables read as one record sequence.
class TImportAttributes::TDbfColumn final : public TColumn {
public:
  TDbfColumn(const std::vector<std::string>& Files, uint16_t CodePage, int32_t FieldIndex,
             const std::string& FieldName);
  double Total() const override { return double(fDbf.RecordCount()); }
  double Position() const override { return double(fRecord); }
  int64_t Records() const override { return fDbf.RecordCount(); }
  // A NULL number (blank, or all '*' as shapefile writers store it) reads as 0.
  bool NextInteger(int64_t& Value) override {
    if (fRecord >= fDbf.RecordCount()) return false;
    ++fRecord;
    fNull = fDbf.IsNull(fField, fRecord);
    Value = fNull ? 0 : fDbf.ReadInteger(fField, fRecord);
    return true;
  }
  // The record NextInteger read last was NULL.
  bool LastNull() const { return fNull; }
  // The record's text, trimmed.
  bool NextText(std::string& Value) override;
  int32_t Field() const { return fField; }
  Tdbffield FieldInfo() const { return fDbf.FieldInfo(fField); }

private:
  TDbfFiles fDbf;
  int32_t fField = 0;
  int32_t fRecord = 0;
  bool fNull = false;
};

}  // namespace kovra
