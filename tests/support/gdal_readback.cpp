#include "support/gdal_readback.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal.h>
#include <ogr_api.h>
#include <ogr_srs_api.h>

namespace kovra::testsupport {

namespace {

struct TErrorLog {
  std::vector<std::string> Warnings;
  std::vector<std::string> Failures;
};

void CPL_STDCALL CollectErrors(CPLErr Class, CPLErrorNum /*Num*/, const char* Message) {
  auto* log = static_cast<TErrorLog*>(CPLGetErrorHandlerUserData());
  std::string text = Message ? Message : "";
  if (Class == CE_Warning)
    log->Warnings.push_back(text);
  else if (Class == CE_Failure || Class == CE_Fatal)
    log->Failures.push_back(text);
}

// Installs the collector on this thread for its lifetime.
class TErrorScope {
public:
  explicit TErrorScope(TErrorLog& Log) { CPLPushErrorHandlerEx(CollectErrors, &Log); }
  ~TErrorScope() { CPLPopErrorHandler(); }
  TErrorScope(const TErrorScope&) = delete;
  TErrorScope& operator=(const TErrorScope&) = delete;
};

// NULL-terminated char* list over strings that outlive it.
std::vector<const char*> CList(const std::vector<std::string>& v) {
  std::vector<const char*> out;
  for (const std::string& s : v) out.push_back(s.c_str());
  out.push_back(nullptr);
  return out;
}

std::string FieldTypeText(OGRFieldDefnH Defn) {
  std::string t = OGR_GetFieldTypeName(OGR_Fld_GetType(Defn));
  OGRFieldSubType sub = OGR_Fld_GetSubType(Defn);
  if (sub != OFSTNone) t += std::string("(") + OGR_GetFieldSubTypeName(sub) + ")";
  return t;
}

// Every number of a WKT text in its shortest round-trip form, so that "2.0",
// "0.00001" and "1E+17" compare as "2", "1e-05" and "1e+17".
std::string NormaliseWkt(const std::string& Wkt) {
  std::string out;
  size_t i = 0;
  auto isNum = [](char c) { return (c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-'; };
  while (i < Wkt.size()) {
    const char c = Wkt[i];
    const bool starts = (c >= '0' && c <= '9') || c == '.' ||
                        (c == '-' && i + 1 < Wkt.size() && ((Wkt[i + 1] >= '0' && Wkt[i + 1] <= '9') || Wkt[i + 1] == '.'));
    if (!starts) {
      out += c;
      ++i;
      continue;
    }
    size_t j = i + 1;
    while (j < Wkt.size() && isNum(Wkt[j])) ++j;
    std::string token = Wkt.substr(i, j - i);
    for (char& ch : token)
      if (ch == 'E') ch = 'e';
    const char* first = token.c_str();
    if (!token.empty() && token[0] == '+') ++first;
    double v = 0;
    auto r = std::from_chars(first, token.c_str() + token.size(), v);
    if (r.ec == std::errc() && r.ptr == token.c_str() + token.size()) {
      char buf[64];
      auto w = std::to_chars(buf, buf + sizeof buf, v);
      out.append(buf, w.ptr);
    } else {
      out += token;
    }
    i = j;
  }
  return out;
}

void ReadSrs(OGRSpatialReferenceH Srs, TOgrLayer& Layer) {
  if (Srs == nullptr) return;
  char* wkt = nullptr;
  if (OSRExportToWkt(Srs, &wkt) == OGRERR_NONE && wkt) Layer.SrsWkt = wkt;
  CPLFree(wkt);
  OGRSpatialReferenceH clone = OSRClone(Srs);
  const char* code = OSRGetAuthorityCode(clone, nullptr);
  if (code == nullptr) {
    // A quiet attempt: a layer without an EPSG match is no failure.
    CPLPushErrorHandler(CPLQuietErrorHandler);
    OSRAutoIdentifyEPSG(clone);
    CPLPopErrorHandler();
    code = OSRGetAuthorityCode(clone, nullptr);
  }
  const char* name = OSRGetAuthorityName(clone, nullptr);
  if (code && name && std::string(name) == "EPSG") Layer.Epsg = std::atoi(code);
  OSRDestroySpatialReference(clone);
}

}  // namespace

int32_t TOgrLayer::FieldIndex(const std::string& FieldName) const {
  for (size_t i = 0; i < Fields.size(); ++i)
    if (Fields[i].Name == FieldName) return int32_t(i);
  return -1;
}

std::string TOgrLayer::Value(size_t Feature, const std::string& FieldName) const {
  int32_t i = FieldIndex(FieldName);
  if (i < 0 || Feature >= Features.size() || size_t(i) >= Features[Feature].Values.size()) return "";
  return Features[Feature].Values[size_t(i)];
}

TOgrLayer ReadOgrLayer(const std::string& Path, const TOgrReadOptions& Options) {
  static std::once_flag registered;
  std::call_once(registered, [] { GDALAllRegister(); });

  TOgrLayer layer;
  TErrorLog log;
  {
    TErrorScope scope(log);
    auto drivers = CList(Options.AllowedDrivers);
    auto openOptions = CList(Options.OpenOptions);
    GDALDatasetH ds = GDALOpenEx(Path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY,
                                 Options.AllowedDrivers.empty() ? nullptr : drivers.data(),
                                 Options.OpenOptions.empty() ? nullptr : openOptions.data(), nullptr);
    if (ds == nullptr) {
      log.Failures.push_back("cannot open " + Path);
    } else {
      layer.Opened = true;
      layer.Driver = GDALGetDriverShortName(GDALGetDatasetDriver(ds));
      OGRLayerH lyr = Options.LayerName.empty() ? GDALDatasetGetLayer(ds, 0)
                                                : GDALDatasetGetLayerByName(ds, Options.LayerName.c_str());
      if (lyr == nullptr) {
        log.Failures.push_back("no layer in " + Path);
      } else {
        layer.Name = OGR_L_GetName(lyr);
        OGRFeatureDefnH defn = OGR_L_GetLayerDefn(lyr);
        layer.GeometryType = OGRGeometryTypeToName(OGR_FD_GetGeomType(defn));
        const int n = OGR_FD_GetFieldCount(defn);
        for (int i = 0; i < n; ++i) {
          OGRFieldDefnH f = OGR_FD_GetFieldDefn(defn, i);
          layer.Fields.push_back(TOgrField{OGR_Fld_GetNameRef(f), FieldTypeText(f), OGR_Fld_GetWidth(f),
                                           OGR_Fld_GetPrecision(f)});
        }
        ReadSrs(OGR_L_GetSpatialRef(lyr), layer);
        layer.FeatureCount = OGR_L_GetFeatureCount(lyr, TRUE);
        OGR_L_ResetReading(lyr);
        while (OGRFeatureH feat = OGR_L_GetNextFeature(lyr)) {
          TOgrFeature out;
          for (int i = 0; i < n; ++i) {
            const bool isNull = !OGR_F_IsFieldSetAndNotNull(feat, i);
            out.IsNull.push_back(isNull);
            out.Values.push_back(isNull ? std::string() : std::string(OGR_F_GetFieldAsString(feat, i)));
          }
          if (OGRGeometryH g = OGR_F_GetGeometryRef(feat)) {
            char* wkt = nullptr;
            if (OGR_G_ExportToWkt(g, &wkt) == OGRERR_NONE && wkt) out.Wkt = NormaliseWkt(wkt);
            CPLFree(wkt);
          }
          if (const char* style = OGR_F_GetStyleString(feat)) out.Style = style;
          layer.Features.push_back(std::move(out));
          OGR_F_Destroy(feat);
        }
      }
      GDALClose(ds);
    }
  }
  layer.Warnings = std::move(log.Warnings);
  layer.Failures = std::move(log.Failures);
  if (Options.FailuresFailTest)
    for (const std::string& f : layer.Failures) ADD_FAILURE() << "GDAL failure reading " << Path << ": " << f;
  return layer;
}

int RunCommand(const std::string& Command, std::string* Output) {
  FILE* p = ::popen(Command.c_str(), "r");
  if (p == nullptr) return -1;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
    if (Output) Output->append(buf, n);
  int status = ::pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace kovra::testsupport
