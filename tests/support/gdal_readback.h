// Test support: reads a GIS output back through GDAL/OGR, read-only, and
// returns it in a normalised form that tests compare against: field names and
// OGR types, features with their values, geometry as WKT and OGR style
// string, and the layer's spatial reference. Only tests link GDAL.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kovra::testsupport {

struct TOgrField {
  std::string Name;
  std::string Type;  // OGR type name, with the subtype in brackets: "Integer(Boolean)"
  int32_t Width = 0;
  int32_t Precision = 0;
};

struct TOgrFeature {
  std::vector<std::string> Values;  // OGR's text of each field ("" when null or unset)
  std::vector<bool> IsNull;         // true when the field is null or unset
  std::string Wkt;                  // "" without geometry; numbers in shortest round-trip form
  std::string Style;                // OGR style string ("" when none)
};

struct TOgrLayer {
  bool Opened = false;
  std::string Driver;  // short name of the driver that opened the file
  std::string Name;
  std::vector<TOgrField> Fields;
  int64_t FeatureCount = 0;  // as OGR counts them (forced)
  std::vector<TOgrFeature> Features;
  std::string GeometryType;  // OGR name of the layer's declared geometry type
  std::string SrsWkt;        // "" without a spatial reference
  int32_t Epsg = 0;          // EPSG code found for the SRS, 0 when none
  std::vector<std::string> Warnings;  // CE_Warning messages, in order
  std::vector<std::string> Failures;  // CE_Failure and CE_Fatal messages, in order

  // Index of the named field (case-sensitive); -1 when absent.
  int32_t FieldIndex(const std::string& FieldName) const;
  // The value of field FieldName in feature Feature (0-based); "" when absent.
  std::string Value(size_t Feature, const std::string& FieldName) const;
};

struct TOgrReadOptions {
  std::vector<std::string> AllowedDrivers;  // e.g. {"MapInfo File"}; empty = any
  std::vector<std::string> OpenOptions;     // "KEY=VALUE"
  std::string LayerName;                    // empty = the first layer
  // Every CE_Failure (and a file that does not open) fails the running test.
  // Tests that expect failures switch this off and look at Failures.
  bool FailuresFailTest = true;
};

TOgrLayer ReadOgrLayer(const std::string& Path, const TOgrReadOptions& Options = {});

// Runs a command line through the shell; returns its exit status and stdout.
int RunCommand(const std::string& Command, std::string* Output = nullptr);

}  // namespace kovra::testsupport
