#include "giswriter/kovra_giswriter_xml.h"

#include <unicode/uchar.h>

#include <charconv>

#include "foundation/kovra_functions.h"
#include "foundation/kovra_textfilewriter.h"
#include "giswriter/kovra_giswriter_shared.h"
#include "platform/kovra_codepage.h"

namespace kovra {

namespace {

constexpr std::string_view cKMLNamespace = "http://www.opengis.net/kml/2.2";
constexpr std::string_view cGMLNamespace = "http://www.opengis.net/gml";
constexpr std::string_view cXSNamespace = "http://www.w3.org/2001/XMLSchema";
constexpr std::string_view cXSINamespace = "http://www.w3.org/2001/XMLSchema-instance";
constexpr std::string_view cGMLFeatureSchema = "http://schemas.opengis.net/gml/2.1.2/feature.xsd";
constexpr std::string_view cGPXNamespace = "http://www.topografix.com/GPX/1/1";
constexpr std::string_view cGPXSchema = "http://www.topografix.com/GPX/1/1/gpx.xsd";
constexpr size_t cBOMBytes = 3;  // EF BB BF in front of the XML files

// --- XML names ---------------------------------------------------------------

// Name characters of XML 1.0 (5th edition), without ':'.
bool IsXML5NameStart(char32_t c) {
  return (c >= 'A' && c <= 'Z') || c == '_' || (c >= 'a' && c <= 'z') || (c >= 0xC0 && c <= 0xD6) ||
         (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) || (c >= 0x370 && c <= 0x37D) ||
         (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F) ||
         (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) || (c >= 0xF900 && c <= 0xFDCF) ||
         (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}

bool IsXML5NameChar(char32_t c) {
  return IsXML5NameStart(c) || c == '-' || c == '.' || (c >= '0' && c <= '9') || c == 0xB7 ||
         (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

// The 4th edition's classes (Appendix B: Unicode 2.0 letters, digits and
// marks of the BMP below the compatibility area, without compatibility
// decompositions), approximated through the character database.
bool IsXML4Candidate(char32_t c) {
  if (c >= 0xF900) return false;
  UVersionInfo age;
  u_charAge(UChar32(c), age);
  if (age[0] > 2 || (age[0] == 2 && age[1] > 0)) return false;
  const int32_t dt = u_getIntPropertyValue(UChar32(c), UCHAR_DECOMPOSITION_TYPE);
  return dt == U_DT_NONE || dt == U_DT_CANONICAL;
}

bool IsXML4Letter(char32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
  if ((c >= 0x2BB && c <= 0x2C1) || c == 0x559 || c == 0x6E5 || c == 0x6E6) return true;
  if (!IsXML4Candidate(c)) return false;
  switch (u_charType(UChar32(c))) {
    case U_LOWERCASE_LETTER:
    case U_UPPERCASE_LETTER:
    case U_OTHER_LETTER:
    case U_TITLECASE_LETTER:
    case U_LETTER_NUMBER:
      return true;
    default:
      return false;
  }
}

bool IsXML4NameChar(char32_t c) {
  if (c < 0x80)
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c == '.';
  if (c == 0xB7 || IsXML4Letter(c)) return true;
  if (!IsXML4Candidate(c)) return false;
  switch (u_charType(UChar32(c))) {
    case U_COMBINING_SPACING_MARK:
    case U_ENCLOSING_MARK:
    case U_NON_SPACING_MARK:
    case U_MODIFIER_LETTER:
    case U_DECIMAL_DIGIT_NUMBER:
      return true;
    default:
      return false;
  }
}

// Names must hold in both editions: xmllint reads the 5th, expat (GDAL) the 4th.
bool IsNameStart(char32_t c) { return c == '_' || (IsXML5NameStart(c) && IsXML4Letter(c)); }
bool IsNameChar(char32_t c) { return IsXML5NameChar(c) && IsXML4NameChar(c); }

// The tags around one part of a line or region record: KML and GML differ
// only in them.
struct TPartTags {
  std::string_view LineOpen, LineClose;
  std::string_view PolygonClose, PolygonOpen;
  std::string_view OuterOpen, OuterClose, InnerOpen, InnerClose;
  std::string_view RingOpen, RingClose;
};

constexpr TPartTags cKMLPartTags{"<LineString>\r\n",        "</LineString>\r\n",      "</Polygon>\r\n",
                                 "<Polygon>\r\n",           "<outerBoundaryIs>\r\n", "</outerBoundaryIs>\r\n",
                                 "<innerBoundaryIs>\r\n",   "</innerBoundaryIs>\r\n", "<LinearRing>\r\n",
                                 "</LinearRing>\r\n"};
constexpr TPartTags cGMLPartTags{"<gml:lineStringMember><gml:LineString>",
                                 "</gml:LineString></gml:lineStringMember>",
                                 "</gml:Polygon></gml:polygonMember>",
                                 "<gml:polygonMember><gml:Polygon>",
                                 "<gml:outerBoundaryIs>",
                                 "</gml:outerBoundaryIs>",
                                 "<gml:innerBoundaryIs>",
                                 "</gml:innerBoundaryIs>",
                                 "<gml:LinearRing>",
                                 "</gml:LinearRing>"};

// One part: a line string in a line table; in a region table an outer ring
// (closing the polygon before it, when one is open) or a hole.
template <typename Coordinates>
void AppendPart(std::string& t, const TPartTags& Tags, TObjectTypes Kind, bool StartsPolygon, bool& Previous,
                Coordinates AppendCoordinates) {
  if (Kind == otPline) {
    t += Tags.LineOpen;
    AppendCoordinates();
    t += Tags.LineClose;
  } else if (Kind == otRegion) {
    if (StartsPolygon) {
      if (Previous) t += Tags.PolygonClose;
      t += Tags.PolygonOpen;
      Previous = true;
    }
    t += StartsPolygon ? Tags.OuterOpen : Tags.InnerOpen;
    t += Tags.RingOpen;
    AppendCoordinates();
    t += Tags.RingClose;
    t += StartsPolygon ? Tags.OuterClose : Tags.InnerClose;
  }
}

// The KML colour digits: 0x00BBGGRR as six upper-case hex digits BBGGRR.
std::string KMLColor(uint32_t c) {
  std::string s(6, '0');
  for (int i = 5; i >= 0; --i) {
    s[size_t(i)] = cHexDigits[c & 0xF];
    c >>= 4;
  }
  return s;
}

}  // namespace

// ---------------------------------------------------------------------------
// Name, URI and JSON helpers

std::string MakeNCName(std::string_view Name) {
  std::string out;
  out.reserve(Name.size() + 1);
  size_t pos = 0;
  while (pos < Name.size()) {
    const size_t start = pos;
    const char32_t cp = NextCodePoint(Name, pos);
    // An invalid byte decodes as U+FFFD, which no name holds: it becomes '_' too.
    if (IsNameChar(cp) && !(cp == 0xFFFD))
      out.append(Name.substr(start, pos - start));
    else
      out += '_';
  }
  size_t first = 0;
  if (out.empty() || !IsNameStart(NextCodePoint(out, first))) out.insert(out.begin(), '_');
  return out;
}

std::string MakeUniqueNCName(std::string_view Name, std::set<std::string>& Taken) {
  std::string base = MakeNCName(Name);
  if (Taken.insert(base).second) return base;
  for (int64_t k = 2;; ++k) {
    std::string candidate = base + "_" + IntToStr(k);
    if (Taken.insert(candidate).second) return candidate;
  }
}

std::string PercentEncode(std::string_view S) {
  std::string out;
  out.reserve(S.size());
  for (char ch : S) {
    const unsigned char c = (unsigned char)ch;
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
        c == '_' || c == '~') {
      out += char(c);
    } else {
      out += '%';
      out += cHexDigits[c >> 4];
      out += cHexDigits[c & 0xF];
    }
  }
  return out;
}

std::string FloatToStrDecimalDot(double Value) {
  std::string s = FloatToStrDot(Value);  // raises EInvalidOp for NaN and infinities
  if (s.find('E') == std::string::npos) return s;
  char buf[400];
  const auto r = std::to_chars(buf, buf + sizeof buf, Value, std::chars_format::fixed);
  return std::string(buf, r.ptr);
}

// ---------------------------------------------------------------------------
// TGISWriterKML2

TGISWriterKML2::TGISWriterKML2() = default;
TGISWriterKML2::~TGISWriterKML2() = default;

void TGISWriterKML2::StartHeader(int32_t NumFields, TObjectTypes ObjectTypes) {
  TGISWriter::StartHeader(NumFields, ObjectTypes);
  FOutKML = std::make_unique<TTextFileWriter>(FileName + ".kml", 65001, true);
  AddCreatedFile(FileName + ".kml");
  std::string& t = FText;
  t = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n";
  t += "<kml xmlns=\"";
  t += cKMLNamespace;
  t += "\">\r\n<Document>\r\n<name>";
  t += EscapeXML(LayerName(FileName));
  t += "</name>\r\n";
  switch (ObjectTypes) {
    case otRegion:
      t += "<Style id=\"region\">\r\n<LineStyle>\r\n<color>ff000000</color>\r\n<width>0</width>\r\n"
           "</LineStyle>\r\n<PolyStyle>\r\n<color>7fffffff</color>\r\n<outline>0</outline>\r\n"
           "</PolyStyle>\r\n</Style>\r\n";
      break;
    case otPline:
      t += "<Style id=\"pline\">\r\n<LineStyle>\r\n<color>ff0000ff</color>\r\n<width>2</width>\r\n"
           "</LineStyle>\r\n</Style>\r\n";
      break;
    case otPoint:
      t += "<Style id=\"point\">\r\n<IconStyle>\r\n<color>ff00ff00</color>\r\n<scale>0.8</scale>\r\n"
           "<Icon>\r\n<href>";
      t += cKMLPointIcon;
      t += "</href>\r\n</Icon>\r\n</IconStyle>\r\n</Style>\r\n";
      break;
    default:
      break;
  }
  FOutKML->write(t);
}

void TGISWriterKML2::BeginPlacemark(const std::string& Attrib) {
  if (!FOutKML) RaiseNoOutput(FileName + ".kml");
  SplitAttributes(Attrib);
  const int32_t n = FWrittenRecords;
  ++FWrittenRecords;
  FText = "<Placemark>\r\n<name>Record: ";
  FText += IntToStr(n);
  FText += "</name>\r\n";
}

void TGISWriterKML2::AppendDescription() {
  if (FNumFields <= 0) return;
  std::string& t = FText;
  t += "<description>\r\n<![CDATA[";
  std::string iso;
  for (int32_t i = 1; i <= FNumFields; ++i) {
    const TFieldInfo& fi = FFieldInfo[size_t(i)];
    const std::string& v = FSL[size_t(i) - 1];
    // Escaped inside the CDATA too: the HTML reader sees entities, and "]]>"
    // can never end the section early.
    t += EscapeXML(fi.Name);
    t += ": ";
    if (IsDateField(fi.FieldType)) {
      if (ISODateValue(fi.FieldType, v, iso)) t += EscapeXML(iso);
    } else if (fi.FieldType == gfLogical) {
      t += IsTrueText(v) ? "True" : "False";
    } else {
      t += EscapeXML(v);
    }
    t += "<br>";
  }
  t += "]]>\r\n</description>\r\n";
}

void TGISWriterKML2::AppendCoordinates(const TFloatPointArrayEx& SegList) {
  FText += "<coordinates>";
  const TFloatPoint* p = SegList.Pnt.data();
  for (int32_t i = 0; i < SegList.Count; ++i) {
    AppendFloatDot(FText, p[i].x);
    FText += ',';
    AppendFloatDot(FText, p[i].y);
    FText += ",0.00000 ";
  }
  FText += "</coordinates>\r\n";
}

void TGISWriterKML2::AddPoint(double X, double Y, const std::string& Attrib) {
  CheckPoint(X, Y);
  if (FObjectTypes != otPoint) return;
  BeginPlacemark(Attrib);
  AppendDescription();
  FText += "<styleUrl>#point</styleUrl>\r\n<Point>\r\n<coordinates>";
  AppendFloatDot(FText, X);
  FText += ',';
  AppendFloatDot(FText, Y);
  FText += ",0</coordinates>\r\n</Point>\r\n</Placemark>\r\n";
  FOutKML->write(FText);
}

void TGISWriterKML2::StartObject(int32_t NumParts, const std::string& Attrib) {
  BeginPlacemark(Attrib);
  TGISWriter::StartObject(NumParts, Attrib);
  std::string& t = FText;
  if (FObjectTypes == otPline) {
    if (Pen.Color == DefaultPen.Color) {
      t += "<styleUrl>#pline</styleUrl>\r\n";
    } else {
      t += "<Style>\r\n<LineStyle>\r\n<color>FF";
      t += KMLColor(Pen.Color);
      t += "</color>\r\n<width>2</width>\r\n</LineStyle>\r\n</Style>\r\n";
    }
  } else if (FObjectTypes == otRegion) {
    if (Brush.fg_color == DefaultBrush.fg_color) {
      t += "<styleUrl>#region</styleUrl>\r\n";
    } else {
      t += "<Style>\r\n<LineStyle>\r\n<color>ff000000</color>\r\n<width>0</width>\r\n</LineStyle>\r\n"
           "<PolyStyle>\r\n<color>7F";
      t += KMLColor(Brush.fg_color);
      t += "</color>\r\n<outline>0</outline>\r\n</PolyStyle>\r\n</Style>\r\n";
    }
  }
  AppendDescription();
  Fprevious = false;
  if (NumParts <= 0) {
    t += "</Placemark>\r\n";
    FOutKML->write(t);
    return;
  }
  // The Placemark goes out whole after its last part: a part refused on the
  // way leaves no half element in the document.
  if (FObjectTypes == otPline || FObjectTypes == otRegion) t += "<MultiGeometry>\r\n";
}

void TGISWriterKML2::WriteSection(int32_t Index, TFloatPointArrayEx& SegList) {
  TGISWriter::WriteSection(Index, SegList);
  AppendPart(FText, cKMLPartTags, FObjectTypes, StartsPolygon(Index), Fprevious,
             [&] { AppendCoordinates(SegList); });
  if (FWrittenParts != FNumParts) return;
  if (FObjectTypes == otRegion) FText += "</Polygon>\r\n";
  FText += "</MultiGeometry>\r\n</Placemark>\r\n";
  FOutKML->write(FText);
}

void TGISWriterKML2::AbandonObject() {
  FText.clear();
  --FWrittenRecords;
}

void TGISWriterKML2::Close() {
  TGISWriter::Close();
  if (Fopen) {
    Fopen = false;
    if (auto kml = std::move(FOutKML)) {
      kml->write("</Document>\r\n</kml>\r\n");
      kml->Close();
    }
  }
  RaiseUnfinished();
}

// ---------------------------------------------------------------------------
// TGISWriterGML2

TGISWriterGML2::TGISWriterGML2() = default;
TGISWriterGML2::~TGISWriterGML2() = default;

void TGISWriterGML2::StartHeader(int32_t NumFields, TObjectTypes ObjectTypes) {
  TGISWriter::StartHeader(NumFields, ObjectTypes);
  FFileName2 = LayerName(FileName);
  // The collection's own element and type live in the same namespace.
  std::set<std::string> reserved{"Features", "features"};
  FElement = MakeUniqueNCName(FFileName2, reserved);
  FColumns.assign(1, std::string());
  FTaken.clear();
  // The geometry element shares the feature's children.
  if (ObjectTypes != otNone) FTaken.insert("_SHAPE_");
  const std::string ns = std::string(cGMLNamespaceBase) + PercentEncode(FFileName2);
  const std::string xsdName = PercentEncode(FFileName2 + ".xsd");

  std::string& t = FText;
  t = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><Features xmlns=\"";
  t += ns;
  t += "\" xmlns:gml=\"";
  t += cGMLNamespace;
  t += "\" xmlns:xsi=\"";
  t += cXSINamespace;
  t += "\" xsi:schemaLocation=\"";
  t += ns;
  t += ' ';
  t += xsdName;
  t += "\"><gml:boundedBy><gml:Box>";
  // Where the four bound tags stand in the file, for PatchBounds.
  for (int i = 0; i < 2; ++i) {
    t += "<gml:coord>";
    SetBoundsOffset(2 * i, int64_t(cBOMBytes + t.size()));
    t += "<gml:X>";
    t += cBoundsPlaceholder;
    t += "</gml:X>";
    SetBoundsOffset(2 * i + 1, int64_t(cBOMBytes + t.size()));
    t += "<gml:Y>";
    t += cBoundsPlaceholder;
    t += "</gml:Y></gml:coord>";
  }
  t += "</gml:Box></gml:boundedBy>";

  std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><schema targetNamespace=\"";
  x += ns;
  x += "\" xmlns:wfs=\"";
  x += ns;
  x += "\" xmlns:gml=\"";
  x += cGMLNamespace;
  x += "\" xmlns=\"";
  x += cXSNamespace;
  x += "\" elementFormDefault=\"qualified\"><import namespace=\"";
  x += cGMLNamespace;
  x += "\" schemaLocation=\"";
  x += cGMLFeatureSchema;
  x += "\"/><element name=\"Features\" type=\"wfs:featuresType\" substitutionGroup=\"gml:_FeatureCollection\"/>"
       "<complexType name=\"featuresType\"><complexContent><extension base=\"gml:AbstractFeatureCollectionType\"/>"
       "</complexContent></complexType><element name=\"";
  x += FElement;
  x += "\" type=\"wfs:";
  x += FElement;
  x += "Type\" substitutionGroup=\"gml:_Feature\"/><complexType name=\"";
  x += FElement;
  x += "Type\"><complexContent><extension base=\"gml:AbstractFeatureType\"><sequence>";

  FOutGML = std::make_unique<TTextFileWriter>(FileName + ".xml", 65001, true);
  AddCreatedFile(FileName + ".xml");
  try {
    FOutXSD = std::make_unique<TTextFileWriter>(FileName + ".xsd", 65001, true);
  } catch (...) {
    FOutGML.reset();
    DropCreatedFiles();
    throw;
  }
  AddCreatedFile(FileName + ".xsd");
  FOutGML->write(t);
  FOutXSD->write(x);
}

void TGISWriterGML2::AddField(const std::string& FieldName, TGISField Field, uint8_t Width, uint8_t decimals) {
  TGISWriter::AddField(FieldName, Field, Width, decimals);
  if (!FOutXSD) RaiseNoOutput(FileName + ".xsd");
  const std::string name = MakeUniqueNCName(FieldName, FTaken);
  FColumns.push_back(name);
  std::string& x = FText;
  x = "<element name=\"";
  x += name;
  x += "\" type=\"";
  switch (Field) {
    case gfInteger:
    case gfSmallInt: x += "integer\"/>"; break;
    case gfDecimal:
    case gfFloat: x += "double\"/>"; break;
    case gfLogical: x += "boolean\"/>"; break;
    case gfInt64: x += "long\"/>"; break;
    case gfDate: x += "date\" nillable=\"true\"/>"; break;
    case gfTime: x += "time\" nillable=\"true\"/>"; break;
    case gfDateTime: x += "dateTime\" nillable=\"true\"/>"; break;
    default: x += "string\"/>"; break;
  }
  if (FWrittenFields == FNumFields) {
    switch (FObjectTypes) {
      case otPline: x += "<element name=\"_SHAPE_\" type=\"gml:MultiLineStringPropertyType\"/>"; break;
      case otRegion: x += "<element name=\"_SHAPE_\" type=\"gml:MultiPolygonPropertyType\"/>"; break;
      case otPoint: x += "<element name=\"_SHAPE_\" type=\"gml:PointPropertyType\"/>"; break;
      default: break;
    }
    x += "</sequence></extension></complexContent></complexType></schema>";
    FOutXSD->write(x);
    auto xsd = std::move(FOutXSD);
    xsd->Close();
    return;
  }
  FOutXSD->write(x);
}

void TGISWriterGML2::BeginFeature(const std::string& Attrib) {
  if (!FOutGML) RaiseNoOutput(FileName + ".xml");
  SplitAttributes(Attrib);
  ++FWrittenRecords;
  std::string& t = FText;
  t = "<gml:featureMember><";
  t += FElement;
  t += '>';
  // Columns a producer never declared still get names (not in the schema).
  while (FColumns.size() <= size_t(FNumFields))
    FColumns.push_back(MakeUniqueNCName(FFieldInfo[FColumns.size()].Name, FTaken));
  std::string iso;
  for (int32_t i = 1; i <= FNumFields; ++i) {
    const TFieldInfo& fi = FFieldInfo[size_t(i)];
    const std::string& name = FColumns[size_t(i)];
    const std::string& v = FSL[size_t(i) - 1];
    t += '<';
    t += name;
    if (IsDateField(fi.FieldType)) {
      if (!ISODateValue(fi.FieldType, v, iso)) {
        t += " xsi:nil=\"true\"/>";
        continue;
      }
      t += '>';
      t += EscapeXML(iso);
    } else if (fi.FieldType == gfLogical) {
      t += IsTrueText(v) ? ">1" : ">0";
    } else {
      t += '>';
      t += EscapeXML(v);
    }
    t += "</";
    t += name;
    t += '>';
  }
}

void TGISWriterGML2::EndFeature() {
  FText += "</";
  FText += FElement;
  FText += "></gml:featureMember>";
}

void TGISWriterGML2::AppendCoordinates(const TFloatPointArrayEx& SegList) {
  FText += "<gml:coordinates>";
  const TFloatPoint* p = SegList.Pnt.data();
  for (int32_t i = 0; i < SegList.Count; ++i) {
    AppendFloatDot(FText, p[i].x);
    FText += ',';
    AppendFloatDot(FText, p[i].y);
    FText += ' ';
  }
  for (int32_t i = 0; i < SegList.Count; ++i) ExtendBounds(p[i].x, p[i].y);
  FText += "</gml:coordinates>";
}

void TGISWriterGML2::AddPoint(double X, double Y, const std::string& Attrib) {
  CheckPoint(X, Y);
  if (FObjectTypes != otPoint) return;
  BeginFeature(Attrib);
  FText += "<_SHAPE_><gml:Point srsName = 'epsg:";
  FText += IntToStr(epsg);
  FText += "'><gml:coordinates>";
  AppendFloatDot(FText, X);
  FText += ',';
  AppendFloatDot(FText, Y);
  FText += "</gml:coordinates></gml:Point></_SHAPE_>";
  EndFeature();
  ExtendBounds(X, Y);
  FOutGML->write(FText);
}

void TGISWriterGML2::StartObject(int32_t NumParts, const std::string& Attrib) {
  BeginFeature(Attrib);
  TGISWriter::StartObject(NumParts, Attrib);
  std::string& t = FText;
  if (FObjectTypes != otNone) t += "<_SHAPE_>";
  Fprevious = false;
  if (NumParts <= 0) {
    if (FObjectTypes != otNone) t += "</_SHAPE_>";
    EndFeature();
    FOutGML->write(t);
    return;
  }
  // The feature goes out whole after its last part (see KML).
  if (FObjectTypes == otPline)
    t += "<gml:MultiLineString srsName = 'epsg:" + IntToStr(epsg) + "'>";
  else if (FObjectTypes == otRegion)
    t += "<gml:MultiPolygon srsName = 'epsg:" + IntToStr(epsg) + "'>";
}

void TGISWriterGML2::WriteSection(int32_t Index, TFloatPointArrayEx& SegList) {
  TGISWriter::WriteSection(Index, SegList);
  AppendPart(FText, cGMLPartTags, FObjectTypes, StartsPolygon(Index), Fprevious,
             [&] { AppendCoordinates(SegList); });
  if (FWrittenParts != FNumParts) return;
  if (FObjectTypes == otRegion)
    FText += "</gml:Polygon></gml:polygonMember></gml:MultiPolygon>";
  else if (FObjectTypes == otPline)
    FText += "</gml:MultiLineString>";
  FText += "</_SHAPE_>";
  EndFeature();
  FOutGML->write(FText);
}

void TGISWriterGML2::AbandonObject() {
  FText.clear();
  --FWrittenRecords;
}

void TGISWriterGML2::Close() {
  TGISWriter::Close();
  if (Fopen) FinishFiles();
  RaiseUnfinished();
}

void TGISWriterGML2::FinishFiles() {
  Fopen = false;
  auto xml = std::move(FOutGML);
  auto xsd = std::move(FOutXSD);  // still open only when columns are missing
  if (xsd) xsd->Close();
  if (!xml) return;
  xml->write("</Features>");
  xml->Close();
  if (FXMinG <= FXMaxG) PatchBounds(".xml", "<gml:X>", "<gml:Y>", "<gml:X>", "<gml:Y>");
}

// ---------------------------------------------------------------------------
// TGISWriterGPX

TGISWriterGPX::TGISWriterGPX() = default;
TGISWriterGPX::~TGISWriterGPX() = default;

void TGISWriterGPX::StartHeader(int32_t NumFields, TObjectTypes ObjectTypes) {
  TGISWriter::StartHeader(NumFields, ObjectTypes);
  if (ObjectTypes == otRegion) {
    Fopen = false;  // nothing to finish: no file exists
    throw Exception("GPX format do not support polygon output");
  }
  FColumns.clear();
  FTaken.clear();
  std::string& t = FText;
  t = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n<gpx version=\"1.1\" creator=\"kovra4\" xmlns:xsi=\"";
  t += cXSINamespace;
  t += "\" xmlns:kovra4=\"";
  t += cKovra4Namespace;
  t += "\" xmlns=\"";
  t += cGPXNamespace;
  t += "\" xsi:schemaLocation=\"";
  t += cGPXNamespace;
  t += ' ';
  t += cGPXSchema;
  t += "\">\r\n<metadata><bounds";
  static const char* tags[4] = {"minlon=\"", "minlat=\"", "maxlon=\"", "maxlat=\""};
  for (int i = 0; i < 4; ++i) {
    t += ' ';
    SetBoundsOffset(i, int64_t(cBOMBytes + t.size()));
    t += tags[i];
    t += cBoundsPlaceholder;
    t += '"';
  }
  t += "/></metadata>\r\n";
  FOutGPX = std::make_unique<TTextFileWriter>(FileName + ".gpx", 65001, true);
  AddCreatedFile(FileName + ".gpx");
  FOutGPX->write(t);
}

void TGISWriterGPX::AppendExtensions() {
  if (FColumns.size() != size_t(FNumFields) + 1) {
    FColumns.assign(1, std::string());
    FTaken.clear();
    for (int32_t i = 1; i <= FNumFields; ++i) FColumns.push_back(MakeUniqueNCName(FFieldInfo[size_t(i)].Name, FTaken));
  }
  std::string& t = FText;
  t += "  <extensions>\r\n";
  std::string v;
  for (int32_t i = 1; i <= FNumFields; ++i) {
    const TFieldInfo& fi = FFieldInfo[size_t(i)];
    v = FSL[size_t(i) - 1];
    std::string iso;
    if (IsDateField(fi.FieldType) && ISODateValue(fi.FieldType, v, iso))
      v = iso;
    else if (fi.FieldType == gfLogical)
      v = IsTrueText(v) ? "True" : "False";
    t += "    <kovra4:";
    t += FColumns[size_t(i)];
    t += '>';
    t += EscapeXML(v);
    t += "</kovra4:";
    t += FColumns[size_t(i)];
    t += ">\r\n";
  }
  t += "  </extensions>\r\n";
}

void TGISWriterGPX::AppendLonLat(double X, double Y) {
  FText += " lon=\"";
  FText += FloatToStrDecimalDot(X);
  FText += "\" lat=\"";
  FText += FloatToStrDecimalDot(Y);
  FText += "\">";
}

void TGISWriterGPX::AddPoint(double X, double Y, const std::string& Attrib) {
  CheckPoint(X, Y);
  if (FObjectTypes != otPoint) return;
  if (!FOutGPX) RaiseNoOutput(FileName + ".gpx");
  FText = "<wpt";
  AppendLonLat(X, Y);
  FText += "\r\n";
  SplitAttributes(Attrib);
  ++FWrittenRecords;
  AppendExtensions();
  FText += "</wpt>\r\n";
  ExtendBounds(X, Y);
  FOutGPX->write(FText);
}

void TGISWriterGPX::StartObject(int32_t NumParts, const std::string& Attrib) {
  TGISWriter::StartObject(NumParts, Attrib);
  // Routes have one part; other records are left out and not counted.
  if (NumParts != 1) return;
  if (!FOutGPX) RaiseNoOutput(FileName + ".gpx");
  SplitAttributes(Attrib);
  ++FWrittenRecords;
  // Written with its one part (see KML).
  FText = "<rte>\r\n";
  AppendExtensions();
}

void TGISWriterGPX::WriteSection(int32_t Index, TFloatPointArrayEx& SegList) {
  TGISWriter::WriteSection(Index, SegList);
  if (FNumParts != 1) return;
  const TFloatPoint* p = SegList.Pnt.data();
  for (int32_t i = 0; i < SegList.Count; ++i) {
    FText += "  <rtept";
    AppendLonLat(p[i].x, p[i].y);
    FText += "\r\n  </rtept>\r\n";
  }
  for (int32_t i = 0; i < SegList.Count; ++i) ExtendBounds(p[i].x, p[i].y);
  FText += "</rte>\r\n";
  FOutGPX->write(FText);
}

void TGISWriterGPX::AbandonObject() {
  if (FNumParts != 1) return;  // such records are neither written nor counted
  FText.clear();
  --FWrittenRecords;
}

void TGISWriterGPX::Close() {
  TGISWriter::Close();
  if (Fopen) FinishFile();
  RaiseUnfinished();
}

void TGISWriterGPX::FinishFile() {
  Fopen = false;
  auto gpx = std::move(FOutGPX);
  if (!gpx) return;
  gpx->write("</gpx>");
  gpx->Close();
  // The bounds are xsd:decimal: no E-notation.
  if (FXMinG <= FXMaxG) PatchBounds(".gpx", "minlon=\"", "minlat=\"", "maxlon=\"", "maxlat=\"", true);
}

}  // namespace kovra
