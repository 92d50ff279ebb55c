#include "import/support/import_fixtures.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cstdio>
#include <filesystem>

#include "support/gdal_readback.h"
#include "support/test_files.h"

namespace kovra::testsupport {

std::string JsonNumber(double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string JsonLine(const std::vector<TFloatPoint>& Points) {
  std::string s = R"({"type":"LineString","coordinates":[)";
  for (size_t i = 0; i < Points.size(); ++i) {
    if (i) s += ',';
    s += '[' + JsonNumber(Points[i].x) + ',' + JsonNumber(Points[i].y) + ']';
  }
  return s + "]}";
}

std::string JsonLine(std::initializer_list<TFloatPoint> Points) { return JsonLine(std::vector<TFloatPoint>(Points)); }

std::string JsonCollection(const std::vector<TJsonFeature>& Features) {
  std::string s = R"({"type":"FeatureCollection","features":[)";
  for (size_t i = 0; i < Features.size(); ++i) {
    if (i) s += ",\n";
    s += R"({"type":"Feature","properties":{)" + Features[i].Properties + R"(},"geometry":)" +
         Features[i].Geometry + "}";
  }
  return s + "]}\n";
}

void OgrConvert(const std::vector<TJsonFeature>& Features, const std::string& Out, const std::string& Args) {
  const std::string json = Out + ".source.geojson";
  WriteBytes(json, JsonCollection(Features));
  std::string driver = Args.find("-f ") == std::string::npos ? "-f 'ESRI Shapefile' " : "";
  std::string output;
  const int rc = RunCommand("ogr2ogr " + driver + Args + " '" + Out + "' '" + json + "' 2>&1", &output);
  EXPECT_EQ(rc, 0) << "ogr2ogr into " << Out << ": " << output;
  std::filesystem::remove(json);
}

std::string ExecuteError(TImport& Imp) {
  try {
    Imp.Execute();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "";
}

TImportTest::TImportTest() : fIn(fTemp.File("in")), fOut(fTemp.File("out")) {
  std::filesystem::create_directories(fIn);
  std::filesystem::create_directories(fOut);
}

std::string TImportTest::Shapefile(const std::string& Name, const std::vector<TJsonFeature>& Features,
                                   const std::string& Args) {
  OgrConvert(Features, In(Name), Args);
  return In(Name);
}

void TImportTest::Run(TReadStageImport& Imp, const std::vector<std::string>& Files) const {
  Imp.SetDirectory(fOut);
  Imp.AddFiles(Files);
  Imp.Execute();
}

}  // namespace kovra::testsupport
