// The import report "network_report.txt".
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "foundation/kovra_configfile.h"
#include "foundation/kovra_functions.h"
#include "foundation/kovra_textfilewriter.h"
#include "import/kovra_import.h"

namespace kovra {

namespace {

constexpr const char* cReportFile = "network_report.txt";
constexpr const char* cStars = "*********************************************";
// Names the build of the library in the report.
constexpr const char* cLibraryBuild = "Kovra C++ library, network file version 400";

// dd-mmm-yyyy hh:mm:ss with English month names, whatever the locale.
std::string ReportDateTime(TDateTime t) {
  // Days since 1899-12-30 to a civil date (days-from-civil inverted).
  const double whole = std::floor(t.Value);
  int64_t z = int64_t(whole) - 25569 + 719468;  // to days since 0000-03-01
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  // Milliseconds of the day, rounded: the stored fraction is not exact.
  int64_t ms = int64_t(std::llround((t.Value - whole) * 86400000.0));
  if (ms >= 86400000) ms = 86399999;
  const int64_t s = ms / 1000;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%02d-%s-%04d %02d:%02d:%02d", int(day),
                ReportFormatSettings.ShortMonthNames[size_t(month - 1)].c_str(), int(year), int(s / 3600),
                int(s / 60 % 60), int(s % 60));
  return buf;
}

// Fixed with 3 decimals after rounding to 10 significant digits; beyond ten
// digits before the point the general form.
std::string ReportNumber(double v) {
  if (!std::isfinite(v)) return FloatToStrDot(v);
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, 9);
  double rounded = 0;
  std::from_chars(buf, r.ptr, rounded);
  if (std::fabs(rounded) >= 1e10) return FloatToStrDot(rounded);
  return FloatToStrFixed(rounded, 3);
}

std::string ErrorText(const TImportError& e) {
  std::string s = "(" + IntToStr(int32_t(e.errorcode)) + ") Object " + IntToStr(e.link);
  switch (e.errorcode) {
    case ecDeleted: return s + " is deleted";
    case ecNotGeoCoded: return s + " is not geocoded";
    case ecNotPolyLine:
      return s + (e.value != 0 ? " is not a (poly)line, but type " + IntToStr(e.value) : " is not a (poly)line");
    case ecMultiSection: return s + " has " + IntToStr(e.value) + " sections";
    case ecZeroOrOneVertices: return s + " has only " + IntToStr(e.value) + " vertices";
    case ecLoopLink: return s + " is a loop link";
    case ecTooManyVertices: return s + " has " + IntToStr(e.value) + " vertices (max 65535)";
    case ecInvalidGeography: return s + " has invalid geography (MS SQL)";
    case ecSinglePoint: return s + " is a single point";
  }
  return s;
}

}  // namespace

void TBaseImport::CreateReport() {
  TTextFileWriter w(Directory() + cReportFile, 1252, false);
  w.writeln(cStars);
  w.writeln("");
  w.writeln("Report for creation of network with Kovra 4.39");
  w.writeln(std::string("Library version: ") + cLibraryBuild);
  w.writeln("Internal version date: 2021-01-08");
  w.writeln("");
  w.writeln("Start: " + ReportDateTime(fStartTime));
  w.writeln("");
  w.writeln(cStars);
  w.writeln("");
  w.writeln("Coordinate unit: " + CoordinateUnitName(fCoordinateUnit) + " (" + IntToStr(int32_t(fCoordinateUnit)) +
            ")");
  w.writeln("");
  switch (fImportSource) {
    case isFiles:
      w.writeln("Input files:");
      for (const std::string& f : fFiles) {
        std::error_code ec;
        const std::filesystem::path full = std::filesystem::absolute(f, ec);
        w.writeln(ec ? f : full.lexically_normal().string());
      }
      w.writeln("");
      if (fZLevels)
        w.writeln(Format("Z-level information extracted from field %d and %d", fZfromField, fZtoField));
      else
        w.writeln("No Z-level modification");
      break;
    case isMSsql: w.writeln("Input: MS SQL Server"); break;
    case isMSsqlZ: w.writeln("Input: MS SQL Server with z-levels"); break;
    case isOracle: w.writeln("Input: Oracle"); break;
    case isOracleZ: w.writeln("Input: Oracle with z-levels"); break;
    case isPostGIS: w.writeln("Input: PostGIS"); break;
    case isPostGISZ: w.writeln("Input: PostGIS with z-levels"); break;
    case isCustom: w.writeln("Input: Custom data"); break;
    case isCustomZ: w.writeln("Input: Custom data with z-levels"); break;
  }
  w.writeln("");
  w.writeln(fAllowLoops ? "Loop links were allowed" : "Loop links were not allowed");
  if (fSkipSpatialIndex) w.writeln("Spatial index not created");
  w.writeln("");
  w.writeln("Coordinate system(s):");
  if (!fCoordSys.empty()) w.writeln(fCoordSys);
  if (!fPrj.empty()) w.writeln("PRJ: " + fPrj);
  if (fEPSG != 0) w.writeln("EPSG: " + IntToStr(fEPSG));
  w.writeln("");
  w.writeln("+++ Error-report +++");
  for (int32_t i = 0; i < fImportErrorList.Count(); ++i) w.writeln(ErrorText(fImportErrorList.GetItem(i)));
  w.writeln("+++ Error-report +++");
  w.writeln("");
  w.writeln("Maximum degree: " + IntToStr(fMaxdegree));
  w.writeln("");
  w.writeln("Total length of streets: " + ReportNumber(fTotallength) + " km");
  // Without links the average is 0, not a division by zero.
  w.writeln("Average per link:        " + ReportNumber(fLinkCount > 0 ? fTotallength / fLinkCount : 0.0) + " km");
  w.writeln("");
  w.writeln("Links in database: " + IntToStr(fLinkCount));
  w.writeln("Nodes created: " + IntToStr(fNodeCount));
  w.writeln("");
  w.writeln("End: " + ReportDateTime(fStopTime));
  w.Close();
}

}  // namespace kovra
