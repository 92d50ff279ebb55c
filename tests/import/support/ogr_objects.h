// Test support: what GDAL's own reader finds in an input file, object by
// object, and the check that an import's read stage made the same links.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/kovra_types.h"
#include "import/kovra_import.h"
#include "import/support/network_dir.h"

namespace kovra::testsupport {

struct TOgrObject {
  bool Null = false;
  bool Line = false;  // a single line; its vertices in Points
  int32_t Parts = 0;  // sections of a multi-line
  std::string Type;   // OGR's name of the flat geometry type ("" when null)
  std::vector<TFloatPoint> Points;
};

// Every feature of the file's first layer, read by the named driver or by
// the one GDAL picks; a file GDAL cannot open fails the test.
std::vector<TOgrObject> ReadWithOgr(const std::string& Path, const char* Driver = nullptr);

// Every object GDAL reads from one file is the link the import made: a
// line's vertices bit for bit, or within Tolerance when it is not 0. Other
// objects are errors. A reader that reports each object's type (ObjectTypes,
// one per row) gives a row without geometry error 0 (deleted) and any other
// error 2, both with the type as value; else a missing geometry is error 1, a
// multi-line error 3 with its part count and any other geometry error 2 with
// value 0 (what a MIF point, region or text gives).
void ExpectAsOgrReads(const std::vector<TOgrObject>& Ogr, const TImport& Imp, const TNetworkDir& Net,
                      double Tolerance = 0, const std::vector<int>& ObjectTypes = {});
void ExpectAsOgrReads(const std::string& Path, const TImport& Imp, const TNetworkDir& Net);

}  // namespace kovra::testsupport
