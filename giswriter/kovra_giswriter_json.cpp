#include "giswriter/kovra_giswriter_json.h"

#include "foundation/kovra_functions.h"
#include "foundation/kovra_textfilewriter.h"
#include "giswriter/kovra_giswriter_shared.h"
#include "platform/kovra_codepage.h"

namespace kovra {

namespace {

void AppendDigits(std::string_view s, size_t& i) {
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
}

void AppendHex4(std::string& out, uint32_t u) {
  out += "\\u";
  out += cHexDigits[(u >> 12) & 0xF];
  out += cHexDigits[(u >> 8) & 0xF];
  out += cHexDigits[(u >> 4) & 0xF];
  out += cHexDigits[u & 0xF];
}

void AppendEscapeJSON(std::string& out, std::string_view S) {
  size_t pos = 0;
  while (pos < S.size()) {
    const unsigned char b = (unsigned char)S[pos];
    if (b >= 32 && b <= 126 && b != '"' && b != '/' && b != '\\') {
      out += char(b);
      ++pos;
      continue;
    }
    const char32_t cp = NextCodePoint(S, pos);
    switch (cp) {
      case 8: out += "\\b"; break;
      case 9: out += "\\t"; break;
      case 10: out += "\\n"; break;
      case 12: out += "\\f"; break;
      case 13: out += "\\r"; break;
      case '"': out += "\\\""; break;
      case '/': out += "\\/"; break;
      case '\\': out += "\\\\"; break;
      default:
        if (cp >= 0x10000) {
          const uint32_t u = uint32_t(cp) - 0x10000;
          AppendHex4(out, 0xD800 + (u >> 10));
          AppendHex4(out, 0xDC00 + (u & 0x3FF));
        } else {
          AppendHex4(out, uint32_t(cp));
        }
    }
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// JSON texts

std::string EscapeJSON(std::string_view S) {
  std::string out;
  out.reserve(S.size());
  AppendEscapeJSON(out, S);
  return out;
}

bool IsJSONNumber(std::string_view S) {
  size_t i = 0;
  if (i < S.size() && S[i] == '-') ++i;
  if (i >= S.size()) return false;
  if (S[i] == '0') {
    ++i;
  } else if (S[i] >= '1' && S[i] <= '9') {
    AppendDigits(S, i);
  } else {
    return false;
  }
  if (i < S.size() && S[i] == '.') {
    const size_t d = ++i;
    AppendDigits(S, i);
    if (i == d) return false;
  }
  if (i < S.size() && (S[i] == 'e' || S[i] == 'E')) {
    ++i;
    if (i < S.size() && (S[i] == '+' || S[i] == '-')) ++i;
    const size_t d = i;
    AppendDigits(S, i);
    if (i == d) return false;
  }
  return i == S.size();
}

// ---------------------------------------------------------------------------
// TFlexWriter

TFlexWriter::TFlexWriter(const std::string& filename) : fFileStyle(!filename.empty()) {
  if (fFileStyle)
    f = std::make_unique<TTextFileWriter>(filename, 65001, false);
  else
    SB.reserve(1 << 16);
}

TFlexWriter::~TFlexWriter() = default;

void TFlexWriter::append(std::string_view s) {
  if (fFileStyle) {
    if (!f) throw EWriteError("Stream write error");
    f->write(s);
  } else {
    SB.append(s);  // std::string grows geometrically
  }
}

void TFlexWriter::clear() {
  if (!fFileStyle) SB.clear();
}

std::string TFlexWriter::TakeString() {
  std::string out = std::move(SB);
  SB.clear();
  return out;
}

void TFlexWriter::Close() {
  auto file = std::move(f);
  if (file) file->Close();
}

// ---------------------------------------------------------------------------
// TGISWriterGeoJSON

TGISWriterGeoJSON::TGISWriterGeoJSON() = default;
TGISWriterGeoJSON::~TGISWriterGeoJSON() = default;

void TGISWriterGeoJSON::StartHeader(int32_t NumFields, TObjectTypes ObjectTypes) {
  TGISWriter::StartHeader(NumFields, ObjectTypes);
  FKeys.clear();
  s = std::make_unique<TFlexWriter>(FileName.empty() ? std::string() : FileName + ".geojson");
  if (!FileName.empty()) AddCreatedFile(FileName + ".geojson");
  std::string& t = FText;
  t = "{\"type\":\"FeatureCollection\",";
  if (epsg != cEpsgWGS84) {
    t += "\"crs\":{\"type\":\"name\",\"properties\":{\"name\":\"EPSG:";
    t += IntToStr(epsg);
    t += "\"}},";
  }
  t += "\"features\":[";
  s->append(t);
}

void TGISWriterGeoJSON::BeginFeature(const std::string& Attrib) {
  if (!s) RaiseNoOutput(FileName.empty() ? std::string("GeoJSON") : FileName + ".geojson");
  SplitAttributes(Attrib);
  if (FKeys.size() != size_t(FNumFields) + 1) {
    FKeys.assign(1, std::string());
    for (int32_t i = 1; i <= FNumFields; ++i) FKeys.push_back(EscapeJSON(FFieldInfo[size_t(i)].Name));
  }
  std::string& t = FText;
  t.clear();
  if (FWrittenRecords > 0) t += ',';
  ++FWrittenRecords;
  t += "{\"type\":\"Feature\",\"properties\":{";
  for (int32_t i = 1; i <= FNumFields; ++i) {
    const TFieldInfo& fi = FFieldInfo[size_t(i)];
    const std::string& v = FSL[size_t(i) - 1];
    if (i > 1) t += ',';
    t += '"';
    t += FKeys[size_t(i)];
    t += "\":";
    switch (fi.FieldType) {
      case gfInteger:
      case gfSmallInt:
      case gfDecimal:
      case gfFloat:
      case gfInt64:
        // A text that is no JSON number would break the whole document.
        t += IsJSONNumber(v) ? std::string_view(v) : std::string_view("null");
        break;
      case gfDate:
        t += '"';
        AppendEscapeJSON(t, FormatISODate(v));
        t += '"';
        break;
      case gfTime:
        t += '"';
        AppendEscapeJSON(t, FormatISOTime(v));
        t += '"';
        break;
      case gfDateTime:
        t += '"';
        AppendEscapeJSON(t, FormatISODateTime(v));
        t += '"';
        break;
      case gfLogical:
        t += IsTrueText(v) ? "\"true\"" : "\"false\"";
        break;
      default:
        t += '"';
        AppendEscapeJSON(t, v);
        t += '"';
        break;
    }
  }
  t += "},\"geometry\":";
}

void TGISWriterGeoJSON::AppendPositions(const TFloatPointArrayEx& SegList) {
  std::string& t = FText;
  t += '[';
  const TFloatPoint* p = SegList.Pnt.data();
  for (int32_t i = 0; i < SegList.Count; ++i) {
    if (i > 0) t += ',';
    t += '[';
    AppendFloatDot(t, p[i].x);
    t += ',';
    AppendFloatDot(t, p[i].y);
    t += ']';
  }
  t += ']';
}

void TGISWriterGeoJSON::AddPoint(double X, double Y, const std::string& Attrib) {
  CheckPoint(X, Y);
  BeginFeature(Attrib);
  FText += "{\"type\":\"Point\",\"coordinates\":[";
  AppendFloatDot(FText, X);
  FText += ',';
  AppendFloatDot(FText, Y);
  FText += "]}}";
  s->append(FText);
}

void TGISWriterGeoJSON::StartObject(int32_t NumParts, const std::string& Attrib) {
  BeginFeature(Attrib);
  TGISWriter::StartObject(NumParts, Attrib);
  std::string& t = FText;
  if (NumParts <= 0 || (FObjectTypes != otPline && FObjectTypes != otRegion)) {
    t += "null}";
    s->append(t);
    return;
  }
  // The feature goes out whole after its last part: a part refused on the
  // way leaves no half feature in the collection.
  t += "{\"type\":\"";
  if (FObjectTypes == otPline)
    t += NumParts == 1 ? "LineString" : "MultiLineString";
  else
    t += FmultiPolygon ? "MultiPolygon" : "Polygon";
  t += "\",\"coordinates\":";
}

void TGISWriterGeoJSON::WriteSection(int32_t Index, TFloatPointArrayEx& SegList) {
  const bool first = FPartIndex == 0;
  const bool last = FPartIndex == FNumParts - 1;
  const bool starts = FObjectTypes == otRegion && StartsPolygon(Index);
  if (starts && !first && !FmultiPolygon)
    throw Exception("Region record with several polygons must be declared multiPolygon");
  TGISWriter::WriteSection(Index, SegList);
  std::string& t = FText;
  if (FObjectTypes == otPline) {
    if (FNumParts > 1) t += first ? "[" : ",";
    AppendPositions(SegList);
    if (last) t += FNumParts > 1 ? "]}}" : "}}";
  } else if (FObjectTypes == otRegion) {
    // One rule for any number of parts: a declared multi-polygon of one part
    // still nests as [[ring]] under its type.
    if (FmultiPolygon && first) t += '[';
    if (starts && !first) t += ']';
    if (!first) t += ',';
    if (starts) t += '[';
    AppendPositions(SegList);
    if (FmultiPolygon && last) t += ']';
    if (last) t += "]}}";
  }
  if (last) s->append(t);
}

void TGISWriterGeoJSON::AbandonObject() {
  FText.clear();
  --FWrittenRecords;
}

void TGISWriterGeoJSON::Close() {
  TGISWriter::Close();
  if (auto sink = std::move(s)) {
    Fopen = false;
    sink->append("]}");
    GeoJSON = sink->TakeString();
    sink->Close();
  }
  RaiseUnfinished();
}

}  // namespace kovra
