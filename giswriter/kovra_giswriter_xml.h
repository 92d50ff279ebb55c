// The XML writers: KML 2.2 (gfKML2), GML 2 with its schema (gfGML2) and
// GPX 1.1 (gfGPX). All three write UTF-8 with a byte-order mark whatever the
// code page. Every text that reaches XML passes EscapeXML or the name rules
// below, so the output stays well-formed whatever the layer, column and
// value texts hold.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "giswriter/kovra_giswriter.h"

namespace kovra {

class TTextFileWriter;

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
  // Creates the .kml (EFCreateError when it cannot) and writes the document
  // head with the table's shared style.
  void StartHeader(int32_t NumFields, TObjectTypes ObjectTypes) override;

protected:
  void StartObject(int32_t NumParts, const std::string& Attrib) override;
  void WriteSection(int32_t Index, TFloatPointArrayEx& SegList) override;
  void AbandonObject() override;

  std::unique_ptr<TTextFileWriter> FOutKML;
  bool Fprevious = false;  // a Polygon of the current Placemark is open

private:
  // Placemark start, record name; splits and counts the record first.
  void BeginPlacemark(const std::string& Attrib);
  void AppendDescription();
  void AppendCoordinates(const TFloatPointArrayEx& SegList);
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
  // Creates both files (EFCreateError when one cannot; no half pair stays).
  void StartHeader(int32_t NumFields, TObjectTypes ObjectTypes) override;

protected:
  void StartObject(int32_t NumParts, const std::string& Attrib) override;
  void WriteSection(int32_t Index, TFloatPointArrayEx& SegList) override;
  void AbandonObject() override;

  std::unique_ptr<TTextFileWriter> FOutGML;
  std::unique_ptr<TTextFileWriter> FOutXSD;
  bool Fprevious = false;   // a polygon member of the current feature is open
  std::string FFileName2;   // the layer name: FileName without its folder

private:
  void BeginFeature(const std::string& Attrib);
  void EndFeature();
  void FinishFiles();
  void AppendCoordinates(const TFloatPointArrayEx& SegList);
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
  // Raises "GPX format do not support polygon output" for otRegion before
  // any file exists; otherwise creates the .gpx.
  void StartHeader(int32_t NumFields, TObjectTypes ObjectTypes) override;

protected:
  void StartObject(int32_t NumParts, const std::string& Attrib) override;
  void WriteSection(int32_t Index, TFloatPointArrayEx& SegList) override;
  void AbandonObject() override;

  std::unique_ptr<TTextFileWriter> FOutGPX;

private:
  void AppendExtensions();
  void AppendLonLat(double X, double Y);
  void FinishFile();
  std::vector<std::string> FColumns;  // NCNames of the columns, index 1..NumFields
  std::set<std::string> FTaken;
  std::string FText;
};

}  // namespace kovra
