// Test support of the import tests: input files made by ogr2ogr from GeoJSON
// written by the test, and an import that stops after its reading stage.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "foundation/kovra_types.h"
#include "import/kovra_import.h"
#include "support/temp_dir_test.h"

namespace kovra::testsupport {

// A GeoJSON feature: Geometry is the geometry's JSON ("null" for none),
// Properties the members of the properties object ("" for none).
struct TJsonFeature {
  std::string Geometry;
  std::string Properties;
};

// Shortest text that reads back as the same double.
std::string JsonNumber(double v);
// {"type":"LineString","coordinates":[...]} of the points.
std::string JsonLine(std::initializer_list<TFloatPoint> Points);
std::string JsonLine(const std::vector<TFloatPoint>& Points);
std::string JsonCollection(const std::vector<TJsonFeature>& Features);

// Writes the features as GeoJSON and converts them with ogr2ogr into Out (its
// extension picks nothing: the driver comes from Args or is "ESRI Shapefile").
// The GeoJSON is removed afterwards; a failing ogr2ogr fails the test.
void OgrConvert(const std::vector<TJsonFeature>& Features, const std::string& Out, const std::string& Args);

// An import whose run ends with the reading stage, so the vertex files stay
// as the readers wrote them.
class TReadStageImport : public TImport {
protected:
  void Build() override {}
};

// A test with an input folder and an empty output folder of its own.
class TImportTest : public TTempDirTest {
protected:
  TImportTest();
  std::string In(const std::string& Name) const { return fIn + "/" + Name; }
  // A shapefile In(Name) made by ogr2ogr; Args default to British National Grid.
  std::string Shapefile(const std::string& Name, const std::vector<TJsonFeature>& Features,
                        const std::string& Args = "-a_srs EPSG:27700");
  // Runs a read-stage import of Files into the output folder.
  void Run(TReadStageImport& Imp, const std::vector<std::string>& Files) const;

  std::string fIn, fOut;
};

// Runs Execute; the message of the library's error it raised, "" when it finished.
std::string ExecuteError(TImport& Imp);

}  // namespace kovra::testsupport
