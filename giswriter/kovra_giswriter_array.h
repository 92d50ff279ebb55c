// The gfArray writer: records into a TGISArray (declared with the writer
// protocol in kovra_giswriter.h) instead of files.
#pragma once

#include <memory>
#include <string>

#include "giswriter/kovra_giswriter.h"

namespace kovra {

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
  // Takes the unfinished row out of the table again.
  void AbandonObject() override;

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
  TFloatRect FObjectMBR{};               // the table's box before the current row
};

}  // namespace kovra
