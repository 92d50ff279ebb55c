// The GeoJSON writer (gfGeoJSON): a compact FeatureCollection in UTF-8
// without byte-order mark, to a file or into the writer's GeoJSON text.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "giswriter/kovra_giswriter.h"

namespace kovra {

class TTextFileWriter;

// The contents of a JSON string for S, pure ASCII: \b \t \n \f \r \" \/ \\,
// every other code point below 32 or above 126 as \uXXXX (upper-case hex; one
// escape per UTF-16 code unit, so beyond the BMP a surrogate pair). Invalid
// UTF-8 bytes become U+FFFD.
std::string EscapeJSON(std::string_view S);
// S matches the JSON number grammar: -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
bool IsJSONNumber(std::string_view S);

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
  void StartHeader(int32_t NumFields, TObjectTypes ObjectTypes) override;

protected:
  void StartObject(int32_t NumParts, const std::string& Attrib) override;
  // Raises "Region record with several polygons must be declared
  // multiPolygon" at the second polygon of an undeclared region record,
  // before anything of that part is written.
  void WriteSection(int32_t Index, TFloatPointArrayEx& SegList) override;
  void AbandonObject() override;

  std::unique_ptr<TFlexWriter> s;

private:
  // Separator, feature head and properties; splits and counts the record first.
  void BeginFeature(const std::string& Attrib);
  void AppendPositions(const TFloatPointArrayEx& SegList);
  std::vector<std::string> FKeys;  // escaped property names, index 1..NumFields
  std::string FText;
};

}  // namespace kovra
