// libmitab64.so: the MITAB C entry points of giswriter/mitab_c_api.h written
// on GDAL's "MapInfo File" driver through the OGR C API. Only the calls the
// TAB writer makes exist. The kovra library never links this file: it loads
// the built library at run time.
//
// Text is passed through unrecoded (the writer hands code-page bytes); the
// charset label asked for is written into the .tab header after GDAL has
// closed the table.
#define MITAB_C_DECLARE_EXPORTS
#include "giswriter/mitab_c_api.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <gdal.h>
#include <ogr_api.h>
#include <ogr_srs_api.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace {

// --- last error, per thread -------------------------------------------------

thread_local int tErrorNo = MITAB_C_ERR_NONE;
thread_local std::string tErrorMsg;

void ClearError() {
  tErrorNo = MITAB_C_ERR_NONE;
  tErrorMsg.clear();
}

void SetError(int No, std::string Msg) {
  tErrorNo = No;
  tErrorMsg = std::move(Msg);
}

// Collects GDAL's messages while one entry point runs, so they become this
// library's last error instead of going to stderr.
class TErrorScope {
public:
  TErrorScope() { CPLPushErrorHandlerEx(Handler, this); }
  ~TErrorScope() { CPLPopErrorHandler(); }
  TErrorScope(const TErrorScope&) = delete;
  TErrorScope& operator=(const TErrorScope&) = delete;

  std::string Failure;  // first CE_Failure / CE_Fatal message
  std::vector<std::string> Warnings;

  // The failure, or Fallback when GDAL said nothing.
  std::string FailureOr(const std::string& Fallback) const { return Failure.empty() ? Fallback : Failure; }
  // GDAL warned that a coordinate lay outside the table's bounds.
  bool OutOfBounds() const {
    for (const std::string& w : Warnings)
      if (w.find("bounds") != std::string::npos || w.find("Bounds") != std::string::npos) return true;
    return false;
  }

private:
  static void CPL_STDCALL Handler(CPLErr Class, CPLErrorNum, const char* Msg) {
    auto* self = static_cast<TErrorScope*>(CPLGetErrorHandlerUserData());
    if (!self) return;
    const std::string text = Msg ? Msg : "";
    if (Class == CE_Failure || Class == CE_Fatal) {
      if (self->Failure.empty()) self->Failure = text;
    } else if (Class == CE_Warning) {
      self->Warnings.push_back(text);
    }
  }
};

void RegisterOnce() {
  static std::once_flag once;
  std::call_once(once, [] { GDALAllRegister(); });
}

// --- tables and features ----------------------------------------------------

struct TField {
  std::string Name;
  int Type = MITAB_C_FIELD_CHAR;
};

struct TTable {
  std::string Path;
  GDALDatasetH DS = nullptr;
  OGRLayerH Layer = nullptr;
  OGRSpatialReferenceH SRS = nullptr;
  bool HasBounds = false;
  bool Outside = false;  // GDAL moved a coordinate into the bounds
  double XMin = 0, YMin = 0, XMax = 0, YMax = 0;
  std::string Charset;
  std::vector<TField> Fields;
  // Pending field definitions until the layer exists.
  struct TPending {
    std::string Name;
    OGRFieldType Type;
    int Width, Precision;
  };
  std::vector<TPending> Pending;
  // One OGR feature for every record, and the feature object released last:
  // neither is made anew per record.
  OGRFeatureH Feature = nullptr;
  bool FeatureStyled = false;  // Feature carries a style string
  struct TFeature* Spare = nullptr;

  ~TTable();
};

// A style the feature was given: its three numbers.
struct TStyle {
  bool Set = false;
  int A = 0, B = 0, C = 0;
};

struct TFeature {
  TTable* Table = nullptr;
  int Type = MITAB_C_TYPE_NONE;
  std::vector<std::string> Values;
  std::vector<bool> Set;
  TStyle Pen, Brush, Symbol;
  bool BrushTransparent = false;
  struct TPart {
    int Number = 0;
    std::vector<double> X, Y;
  };
  // Parts 0..NumParts-1 are this feature's; the rest keep their buffers.
  std::vector<TPart> Parts;
  size_t NumParts = 0;
};

TTable::~TTable() {
  if (Feature) OGR_F_Destroy(Feature);
  delete Spare;
  if (SRS) OSRRelease(SRS);
}

std::string Hex6(int Color) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%06X", unsigned(Color) & 0xFFFFFFu);
  return buf;
}

std::string_view TrimView(std::string_view S) {
  while (!S.empty() && std::isspace(static_cast<unsigned char>(S.front()))) S.remove_prefix(1);
  while (!S.empty() && std::isspace(static_cast<unsigned char>(S.back()))) S.remove_suffix(1);
  return S;
}

std::string Trim(std::string S) {
  const auto ns = [](unsigned char c) { return !std::isspace(c); };
  S.erase(S.begin(), std::find_if(S.begin(), S.end(), ns));
  S.erase(std::find_if(S.rbegin(), S.rend(), ns).base(), S.end());
  return S;
}

// CoordSys texts compared without the leading keyword, case and blanks.
std::string NormalCoordSys(std::string S) {
  S = Trim(S);
  std::string lower;
  for (char c : S)
    if (!std::isspace(static_cast<unsigned char>(c))) lower += char(std::tolower(static_cast<unsigned char>(c)));
  if (lower.rfind("coordsys", 0) == 0) lower.erase(0, 8);
  return lower;
}

std::string ExportMI(OGRSpatialReferenceH S) {
  char* out = nullptr;
  std::string r;
  if (OSRExportToMICoordSys(S, &out) == OGRERR_NONE && out) r = out;
  CPLFree(out);
  return r;
}

// The spatial reference that writes CoordSys back unchanged; null when GDAL
// has none. A plain import can lose the datum number (British National
// Grid's 79 comes back as 104); an EPSG match that reproduces the text keeps it.
OGRSpatialReferenceH SRSForCoordSys(const std::string& CoordSys, std::string& Why) {
  OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
  if (OSRImportFromMICoordSys(srs, CoordSys.c_str()) != OGRERR_NONE) {
    OSRRelease(srs);
    Why = "unknown CoordSys \"" + CoordSys + "\"";
    return nullptr;
  }
  const std::string want = NormalCoordSys(CoordSys);
  if (NormalCoordSys(ExportMI(srs)) == want) return srs;
  int count = 0;
  int* confidence = nullptr;
  OGRSpatialReferenceH* matches = OSRFindMatches(srs, nullptr, &count, &confidence);
  OGRSpatialReferenceH found = nullptr;
  for (int i = 0; i < count && !found; ++i)
    if (confidence[i] >= 90 && NormalCoordSys(ExportMI(matches[i])) == want) found = OSRClone(matches[i]);
  OSRFreeSRSArray(matches);
  CPLFree(confidence);
  OSRRelease(srs);
  if (!found) Why = "CoordSys \"" + CoordSys + "\" cannot be written unchanged";
  return found;
}

std::string FormatBound(double V) {
  char buf[400];
  auto r = std::to_chars(buf, buf + sizeof buf, V, std::chars_format::fixed);
  return std::string(buf, r.ptr);
}

bool MakeLayer(TTable& T, TErrorScope& Scope) {
  if (T.Layer) return true;
  std::string name = T.Path;
  const size_t slash = name.find_last_of('/');
  if (slash != std::string::npos) name.erase(0, slash + 1);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string::npos) name.erase(dot);
  char** options = nullptr;
  std::string bounds;
  if (T.HasBounds) {
    bounds = FormatBound(T.XMin) + "," + FormatBound(T.YMin) + "," + FormatBound(T.XMax) + "," + FormatBound(T.YMax);
    options = CSLSetNameValue(options, "BOUNDS", bounds.c_str());
  }
  T.Layer = GDALDatasetCreateLayer(T.DS, name.c_str(), T.SRS, wkbUnknown, options);
  CSLDestroy(options);
  if (!T.Layer) {
    SetError(MITAB_C_ERR_FAILURE, Scope.FailureOr("cannot create the layer of " + T.Path));
    return false;
  }
  for (const TTable::TPending& p : T.Pending) {
    OGRFieldDefnH fd = OGR_Fld_Create(p.Name.c_str(), p.Type);
    OGR_Fld_SetWidth(fd, p.Width);
    OGR_Fld_SetPrecision(fd, p.Precision);
    const OGRErr e = OGR_L_CreateField(T.Layer, fd, FALSE);
    OGR_Fld_Destroy(fd);
    if (e != OGRERR_NONE) {
      SetError(MITAB_C_ERR_FAILURE, Scope.FailureOr("cannot create field " + p.Name));
      return false;
    }
  }
  T.Pending.clear();
  return true;
}

// Digits only, exactly N of them.
bool Digits(std::string_view S, size_t Pos, size_t N, int& V) {
  if (Pos + N > S.size()) return false;
  V = 0;
  for (size_t i = Pos; i < Pos + N; ++i) {
    if (S[i] < '0' || S[i] > '9') return false;
    V = V * 10 + (S[i] - '0');
  }
  return true;
}

bool ParseDate(std::string_view S, size_t Pos, int& Y, int& M, int& D) {
  return Digits(S, Pos, 4, Y) && Digits(S, Pos + 4, 2, M) && Digits(S, Pos + 6, 2, D) && M >= 1 && M <= 12 &&
         D >= 1 && D <= 31;
}

bool ParseTime(std::string_view S, size_t Pos, int& H, int& Mi, int& Se, int& Ms) {
  return Digits(S, Pos, 2, H) && Digits(S, Pos + 2, 2, Mi) && Digits(S, Pos + 4, 2, Se) &&
         Digits(S, Pos + 6, 3, Ms) && H < 24 && Mi < 60 && Se < 60;
}

// Sets field I of F from the text V by the field's type; false with the
// error set when the text does not fit the type.
bool SetValue(OGRFeatureH F, int I, const TField& Fld, const std::string& Raw) {
  if (Fld.Type == MITAB_C_FIELD_CHAR) {
    OGR_F_SetFieldString(F, I, Raw.c_str());
    return true;
  }
  const std::string_view V = TrimView(Raw);
  const auto bad = [&](const char* kind) {
    SetError(MITAB_C_ERR_FAILURE, "invalid " + std::string(kind) + " value \"" + Raw + "\" for field " + Fld.Name);
    return false;
  };
  if (Fld.Type != MITAB_C_FIELD_CHAR && Fld.Type != MITAB_C_FIELD_LOGICAL && V.empty()) {
    OGR_F_SetFieldNull(F, I);
    return true;
  }
  switch (Fld.Type) {
    case MITAB_C_FIELD_LOGICAL: {
      const char c = V.empty() ? '\0' : V[0];
      const bool t = c == '1' || c == 'T' || c == 'Y' || c == 't' || c == 'y';
      OGR_F_SetFieldString(F, I, t ? "T" : "F");
      return true;
    }
    case MITAB_C_FIELD_INTEGER:
    case MITAB_C_FIELD_SMALLINT: {
      int v = 0;
      const char* b = V.data() + (V[0] == '+' ? 1 : 0);
      auto r = std::from_chars(b, V.data() + V.size(), v);
      if (r.ec != std::errc() || r.ptr != V.data() + V.size()) return bad("integer");
      if (Fld.Type == MITAB_C_FIELD_SMALLINT && (v < -32768 || v > 32767)) return bad("small integer");
      OGR_F_SetFieldInteger(F, I, v);
      return true;
    }
    case MITAB_C_FIELD_DECIMAL:
    case MITAB_C_FIELD_FLOAT: {
      double v = 0;
      const char* b = V.data() + (V[0] == '+' ? 1 : 0);
      auto r = std::from_chars(b, V.data() + V.size(), v);
      if (r.ec != std::errc() || r.ptr != V.data() + V.size()) return bad("number");
      OGR_F_SetFieldDouble(F, I, v);
      return true;
    }
    case MITAB_C_FIELD_DATE: {
      int y, m, d;
      if (V.size() != 8 || !ParseDate(V, 0, y, m, d)) return bad("date");
      OGR_F_SetFieldDateTime(F, I, y, m, d, 0, 0, 0, 0);
      return true;
    }
    case MITAB_C_FIELD_TIME: {
      int h, mi, s, ms;
      if (V.size() != 9 || !ParseTime(V, 0, h, mi, s, ms)) return bad("time");
      OGR_F_SetFieldDateTimeEx(F, I, 0, 0, 0, h, mi, float(s) + float(ms) / 1000.0f, 0);
      return true;
    }
    case MITAB_C_FIELD_DATETIME: {
      int y, m, d, h, mi, s, ms;
      if (V.size() != 17 || !ParseDate(V, 0, y, m, d) || !ParseTime(V, 8, h, mi, s, ms)) return bad("date-time");
      OGR_F_SetFieldDateTimeEx(F, I, y, m, d, h, mi, float(s) + float(ms) / 1000.0f, 0);
      return true;
    }
    default:
      return bad("unknown-type");
  }
}

// The part's points into G, in one call.
void SetPoints(OGRGeometryH G, const TFeature::TPart& P) {
  OGR_G_SetPoints(G, int(P.X.size()), P.X.data(), sizeof(double), P.Y.data(), sizeof(double), nullptr, 0);
}

OGRGeometryH Ring(const TFeature::TPart& P, OGRwkbGeometryType Type) {
  OGRGeometryH g = OGR_G_CreateGeometry(Type);
  SetPoints(g, P);
  return g;
}

// The feature's geometry by the set_points rules; null without geometry.
OGRGeometryH BuildGeometry(const TFeature& F, std::string& Why) {
  const size_t n = F.NumParts;
  switch (F.Type) {
    case MITAB_C_TYPE_POINT: {
      if (n != 1 || F.Parts[0].X.size() != 1) {
        Why = "a point needs exactly one vertex";
        return nullptr;
      }
      OGRGeometryH g = OGR_G_CreateGeometry(wkbPoint);
      OGR_G_SetPoint_2D(g, 0, F.Parts[0].X[0], F.Parts[0].Y[0]);
      return g;
    }
    case MITAB_C_TYPE_POLYLINE: {
      if (n == 0) {
        Why = "a polyline needs at least one part";
        return nullptr;
      }
      if (n == 1) return Ring(F.Parts[0], wkbLineString);
      OGRGeometryH m = OGR_G_CreateGeometry(wkbMultiLineString);
      for (size_t i = 0; i < n; ++i) OGR_G_AddGeometryDirectly(m, Ring(F.Parts[i], wkbLineString));
      return m;
    }
    case MITAB_C_TYPE_REGION: {
      if (n == 0) {
        Why = "a region needs at least one ring";
        return nullptr;
      }
      std::vector<OGRGeometryH> polys;
      for (size_t i = 0; i < n; ++i) {
        const TFeature::TPart& p = F.Parts[i];
        if (p.Number <= 0 || polys.empty()) polys.push_back(OGR_G_CreateGeometry(wkbPolygon));
        OGR_G_AddGeometryDirectly(polys.back(), Ring(p, wkbLinearRing));
      }
      if (polys.size() == 1) return polys[0];
      OGRGeometryH m = OGR_G_CreateGeometry(wkbMultiPolygon);
      for (OGRGeometryH p : polys) OGR_G_AddGeometryDirectly(m, p);
      return m;
    }
    default:
      return nullptr;
  }
}

// Gives F its geometry. A one-part line goes into the line string F already
// holds (the common record), so no geometry is made anew.
bool SetGeometry(OGRFeatureH F, const TFeature& Src, std::string& Why) {
  if (Src.Type == MITAB_C_TYPE_POLYLINE && Src.NumParts == 1) {
    OGRGeometryH g = OGR_F_GetGeometryRef(F);
    if (g && wkbFlatten(OGR_G_GetGeometryType(g)) == wkbLineString) {
      SetPoints(g, Src.Parts[0]);
      return true;
    }
  }
  OGRGeometryH g = BuildGeometry(Src, Why);
  if (!g && Src.Type != MITAB_C_TYPE_NONE) return false;
  OGR_F_SetGeometryDirectly(F, g);
  return true;
}

// The feature's style string: only the styles that differ from the
// library's own default (a default pen is the table's pen anyway); empty
// when there is none.
std::string StyleString(const TFeature& F) {
  std::string style;
  const auto add = [&style](const std::string& s) { style += (style.empty() ? "" : ";") + s; };
  const TStyle& pen = F.Pen;
  if (pen.Set && !(pen.A == 1 && pen.B == 2 && pen.C == 0))
    add("PEN(w:" + std::to_string(pen.A) + "px,c:#" + Hex6(pen.C) + ",id:\"mapinfo-pen-" + std::to_string(pen.B) +
        ",ogr-pen-0\")");
  if (F.Brush.Set)
    // A transparent brush has no background colour.
    add("BRUSH(fc:#" + Hex6(F.Brush.A) + (F.BrushTransparent ? std::string() : ",bc:#" + Hex6(F.Brush.B)) +
        ",id:\"mapinfo-brush-" + std::to_string(F.Brush.C) + ",ogr-brush-1\")");
  if (F.Symbol.Set)
    add("SYMBOL(c:#" + Hex6(F.Symbol.C) + ",s:" + std::to_string(F.Symbol.B) + "pt,id:\"mapinfo-sym-" +
        std::to_string(F.Symbol.A) + ",ogr-sym-0\")");
  return style;
}

// Rewrites the "!charset" line of the closed .tab to Charset (temporary file,
// then rename, so a failure leaves GDAL's file as it was).
bool RelabelCharset(const std::string& Path, const std::string& Charset, std::string& Why) {
  std::ifstream in(Path, std::ios::binary);
  if (!in) {
    Why = "cannot read " + Path;
    return false;
  }
  std::stringstream ss;
  ss << in.rdbuf();
  std::string text = ss.str();
  in.close();
  const std::string key = "!charset ";
  size_t pos = text.find(key);
  if (pos == std::string::npos) {
    Why = "no charset line in " + Path;
    return false;
  }
  const size_t start = pos + key.size();
  size_t end = text.find_first_of("\r\n", start);
  if (end == std::string::npos) end = text.size();
  text.replace(start, end - start, Charset);
  // The table definition names the charset a second time.
  const std::string key2 = "Charset \"";
  pos = text.find(key2, text.find("Definition Table"));
  if (pos != std::string::npos) {
    const size_t s2 = pos + key2.size();
    const size_t e2 = text.find('"', s2);
    if (e2 != std::string::npos) text.replace(s2, e2 - s2, Charset);
  }
  const std::string tmp = Path + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) {
      std::remove(tmp.c_str());
      Why = "cannot write " + tmp;
      return false;
    }
  }
  if (std::rename(tmp.c_str(), Path.c_str()) != 0) {
    std::remove(tmp.c_str());
    Why = "cannot replace " + Path;
    return false;
  }
  return true;
}

}  // namespace

extern "C" {

int mitab_c_getlibversion(void) { return MITAB_C_LIBVERSION; }
int mitab_c_getlasterrorno(void) { return tErrorNo; }
const char* mitab_c_getlasterrormsg(void) { return tErrorMsg.c_str(); }

mitab_handle mitab_c_create(const char* filename, const char* mif_type, const char* mif_projection, double north,
                            double south, double east, double west) {
  ClearError();
  RegisterOnce();
  TErrorScope scope;
  if (!filename || !*filename) {
    SetError(MITAB_C_ERR_FAILURE, "no file name");
    return nullptr;
  }
  if (mif_type && std::strcmp(mif_type, "tab") != 0) {
    SetError(MITAB_C_ERR_FAILURE, std::string("unsupported table type ") + mif_type);
    return nullptr;
  }
  auto t = std::make_unique<TTable>();
  t->Path = filename;
  std::string why;
  t->SRS = SRSForCoordSys(mif_projection ? mif_projection : "", why);
  if (!t->SRS) {
    SetError(MITAB_C_ERR_FAILURE, why);
    return nullptr;
  }
  if (north != 0 || south != 0 || east != 0 || west != 0) {
    if (!(west < east) || !(south < north)) {
      SetError(MITAB_C_ERR_FAILURE, "empty bounds");
      return nullptr;
    }
    t->HasBounds = true;
    t->XMin = west;
    t->YMin = south;
    t->XMax = east;
    t->YMax = north;
  }
  GDALDriverH drv = GDALGetDriverByName("MapInfo File");
  if (!drv) {
    SetError(MITAB_C_ERR_FAILURE, "GDAL has no MapInfo File driver");
    return nullptr;
  }
  t->DS = GDALCreate(drv, filename, 0, 0, 0, GDT_Unknown, nullptr);
  if (!t->DS) {
    SetError(MITAB_C_ERR_FAILURE, scope.FailureOr(std::string("cannot create ") + filename));
    return nullptr;
  }
  return t.release();
}

int mitab_c_set_charset(mitab_handle handle, const char* charset) {
  ClearError();
  if (!handle || !charset) {
    SetError(MITAB_C_ERR_FAILURE, "no table or no charset");
    return 0;
  }
  static_cast<TTable*>(handle)->Charset = charset;
  return 1;
}

int mitab_c_add_field(mitab_handle handle, const char* field_name, int field_type, int width, int precision,
                      int /*indexed*/, int /*unique*/) {
  ClearError();
  TErrorScope scope;
  auto* t = static_cast<TTable*>(handle);
  if (!t || !field_name) {
    SetError(MITAB_C_ERR_FAILURE, "no table or no field name");
    return -1;
  }
  OGRFieldType type;
  int w = width, p = precision;
  switch (field_type) {
    case MITAB_C_FIELD_CHAR:
      type = OFTString;
      if (w <= 0 || w > 254) w = 254;
      p = 0;
      break;
    case MITAB_C_FIELD_INTEGER:
    case MITAB_C_FIELD_SMALLINT:  // GDAL writes no SmallInt columns
      type = OFTInteger;
      w = p = 0;
      break;
    case MITAB_C_FIELD_DECIMAL:
      type = OFTReal;
      // GDAL needs room for the sign and the point beside the decimals.
      if (p < 0) p = 0;
      if (w - p < 2) w = p + 2;
      break;
    case MITAB_C_FIELD_FLOAT:
      type = OFTReal;
      w = p = 0;
      break;
    case MITAB_C_FIELD_DATE:
      type = OFTDate;
      w = p = 0;
      break;
    case MITAB_C_FIELD_LOGICAL:  // GDAL writes no Logical columns: Char(1) "T"/"F"
      type = OFTString;
      w = 1;
      p = 0;
      break;
    case MITAB_C_FIELD_TIME:
      type = OFTTime;
      w = p = 0;
      break;
    case MITAB_C_FIELD_DATETIME:
      type = OFTDateTime;
      w = p = 0;
      break;
    default:
      SetError(MITAB_C_ERR_FAILURE, "unknown field type " + std::to_string(field_type));
      return -1;
  }
  if (t->Layer) {
    SetError(MITAB_C_ERR_FAILURE, "fields must be added before the first feature");
    return -1;
  }
  t->Pending.push_back({field_name, type, w, p});
  t->Fields.push_back({field_name, field_type});
  return int(t->Fields.size()) - 1;
}

mitab_feature mitab_c_create_feature(mitab_handle handle, int feature_type) {
  ClearError();
  auto* t = static_cast<TTable*>(handle);
  if (!t) {
    SetError(MITAB_C_ERR_FAILURE, "no table");
    return nullptr;
  }
  if (feature_type != MITAB_C_TYPE_NONE && feature_type != MITAB_C_TYPE_POINT &&
      feature_type != MITAB_C_TYPE_POLYLINE && feature_type != MITAB_C_TYPE_REGION) {
    SetError(MITAB_C_ERR_FAILURE, "unsupported feature type " + std::to_string(feature_type));
    return nullptr;
  }
  if (!t->Layer) {
    TErrorScope scope;
    if (!MakeLayer(*t, scope)) return nullptr;
  }
  TFeature* f = t->Spare ? t->Spare : new TFeature;
  t->Spare = nullptr;
  f->Table = t;
  f->Type = feature_type;
  f->Values.resize(t->Fields.size());
  f->Set.assign(t->Fields.size(), false);
  f->Pen = f->Brush = f->Symbol = TStyle{};
  f->BrushTransparent = false;
  f->NumParts = 0;
  return f;
}

void mitab_c_set_field(mitab_feature feature, int field_index, const char* field_value) {
  ClearError();
  auto* f = static_cast<TFeature*>(feature);
  if (!f || field_index < 0 || size_t(field_index) >= f->Values.size()) {
    SetError(MITAB_C_ERR_FAILURE, "no feature or field index out of range");
    return;
  }
  f->Values[size_t(field_index)].assign(field_value ? field_value : "");
  f->Set[size_t(field_index)] = true;
}

void mitab_c_set_pen(mitab_feature feature, int width, int pattern, int color) {
  ClearError();
  auto* f = static_cast<TFeature*>(feature);
  if (!f) return;
  f->Pen = TStyle{true, width, pattern, color};
}

void mitab_c_set_brush(mitab_feature feature, int fg_color, int bg_color, int pattern, int transparent) {
  ClearError();
  auto* f = static_cast<TFeature*>(feature);
  if (!f) return;
  f->Brush = TStyle{true, fg_color, bg_color, pattern};
  f->BrushTransparent = transparent != 0;
}

void mitab_c_set_symbol(mitab_feature feature, int symbol_no, int symbol_size, int symbol_color) {
  ClearError();
  auto* f = static_cast<TFeature*>(feature);
  if (!f) return;
  f->Symbol = TStyle{true, symbol_no, symbol_size, symbol_color};
}

void mitab_c_set_points(mitab_feature feature, int part, int vertex_count, double* x, double* y) {
  ClearError();
  auto* f = static_cast<TFeature*>(feature);
  if (!f || vertex_count < 0 || (vertex_count > 0 && (!x || !y))) {
    SetError(MITAB_C_ERR_FAILURE, "no feature or no points");
    return;
  }
  if (f->NumParts == f->Parts.size()) f->Parts.emplace_back();
  TFeature::TPart& p = f->Parts[f->NumParts++];
  p.Number = part;
  p.X.assign(x, x + vertex_count);
  p.Y.assign(y, y + vertex_count);
}

int mitab_c_write_feature(mitab_handle handle, mitab_feature feature) {
  ClearError();
  TErrorScope scope;
  auto* t = static_cast<TTable*>(handle);
  auto* f = static_cast<TFeature*>(feature);
  if (!t || !f || f->Table != t) {
    SetError(MITAB_C_ERR_FAILURE, "no table or feature of another table");
    return 0;
  }
  if (!t->Feature) t->Feature = OGR_F_Create(OGR_L_GetLayerDefn(t->Layer));
  OGRFeatureH of = t->Feature;
  OGR_F_SetFID(of, OGRNullFID);
  for (size_t i = 0; i < t->Fields.size(); ++i) {
    if (!f->Set[i]) {
      OGR_F_UnsetField(of, int(i));
      continue;
    }
    if (!SetValue(of, int(i), t->Fields[i], f->Values[i])) return 0;
  }
  std::string why;
  if (!SetGeometry(of, *f, why)) {
    SetError(MITAB_C_ERR_FAILURE, why);
    return 0;
  }
  const std::string style = StyleString(*f);
  if (!style.empty() || t->FeatureStyled) OGR_F_SetStyleString(of, style.empty() ? nullptr : style.c_str());
  t->FeatureStyled = !style.empty();
  const OGRErr e = OGR_L_CreateFeature(t->Layer, of);
  if (scope.OutOfBounds()) t->Outside = true;
  if (e != OGRERR_NONE) {
    SetError(MITAB_C_ERR_FAILURE, scope.FailureOr("cannot write the feature"));
    return 0;
  }
  return 1;
}

void mitab_c_destroy_feature(mitab_feature feature) {
  auto* f = static_cast<TFeature*>(feature);
  if (!f) return;
  // Kept for the table's next feature, with its buffers.
  if (f->Table && !f->Table->Spare) {
    f->Table->Spare = f;
    return;
  }
  delete f;
}

void mitab_c_close(mitab_handle handle) {
  ClearError();
  auto* t = static_cast<TTable*>(handle);
  if (!t) {
    SetError(MITAB_C_ERR_FAILURE, "no table");
    return;
  }
  std::unique_ptr<TTable> owner(t);
  bool outside = t->Outside;
  std::string failure;
  {
    TErrorScope scope;
    if (!MakeLayer(*t, scope)) failure = tErrorMsg;
    if (t->Feature) OGR_F_Destroy(t->Feature);
    t->Feature = nullptr;
    GDALClose(t->DS);
    t->DS = nullptr;
    if (failure.empty() && !scope.Failure.empty()) failure = scope.Failure;
    if (scope.OutOfBounds()) outside = true;
  }
  if (!failure.empty()) {
    SetError(MITAB_C_ERR_FAILURE, failure);
    return;
  }
  if (!t->Charset.empty()) {
    std::string why;
    if (!RelabelCharset(t->Path, t->Charset, why)) {
      SetError(MITAB_C_ERR_FAILURE, why);
      return;
    }
  }
  if (outside) {
    std::string b = "the coordinate system's";
    if (t->HasBounds)
      b = "(" + FormatBound(t->XMin) + ", " + FormatBound(t->YMin) + ") (" + FormatBound(t->XMax) + ", " +
          FormatBound(t->YMax) + ")";
    SetError(MITAB_C_ERR_OUT_OF_BOUNDS, b);
  }
}

}  // extern "C"
