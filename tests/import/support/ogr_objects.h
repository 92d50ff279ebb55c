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
  std::vector<TFloatPoint> Points;
};

// Every feature of the file's first layer; a file GDAL cannot open fails the test.
std::vector<TOgrObject> ReadWithOgr(const std::string& Path);

// Every object GDAL reads is the link the import made: a line's vertices bit
// for bit, a missing geometry error 1, a multi-line error 3 with its part
// count, any other geometry error 2 with value 0 (what a MIF point, region or
// text gives).
void ExpectAsOgrReads(const std::vector<TOgrObject>& Ogr, const TImport& Imp, const TNetworkDir& Net);
void ExpectAsOgrReads(const std::string& Path, const TImport& Imp, const TNetworkDir& Net);

}  // namespace kovra::testsupport
