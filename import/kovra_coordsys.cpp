#include "import/kovra_coordsys.h"

#include <sys/mman.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#include "foundation/kovra_functions.h"
#include "foundation/kovra_io.h"

namespace kovra {

// ---------------------------------------------------------------------------
// TMapFile

TMapFile::TMapFile(const std::string& FileName, std::string Table) : fTable(std::move(Table)) {
  TKvFileStream file(FileName, fmOpenRead | fmShareDenyWrite);
  fSize = file.Size();
  // An empty file cannot be mapped; its size alone tells that it is corrupt.
  if (fSize <= 0) return;
  void* p = ::mmap(nullptr, size_t(fSize), PROT_READ, MAP_PRIVATE, file.Handle(), 0);
  if (p == MAP_FAILED) throw EOSError(std::strerror(errno));
  fData = static_cast<const uint8_t*>(p);
}

TMapFile::~TMapFile() {
  if (fData) ::munmap(const_cast<uint8_t*>(fData), size_t(fSize));
}

void TMapFile::RaiseCorrupt(const std::string& Fault) const {
  throw Exception(Format("Corrupt MapInfo table %s: %s", fTable, Fault));
}

void TMapFile::RaiseOutside(int64_t Offset, int64_t Count) const {
  const std::string where = fRow > 0 ? Format("row %d: ", fRow) : std::string("header: ");
  RaiseCorrupt(where + Format("%d bytes at %d lie outside the map of %d bytes", Count, Offset, fSize));
}

// ---------------------------------------------------------------------------
// MapHeaderToCoordSys

namespace {

struct TDatum {
  int16_t Datum;
  uint8_t Ellipsoid;
  // shift x, y, z, rotation x, y, z, scale, prime meridian
  double Values[8];
};

// MapInfo's datum definitions as listed in GDAL's MapInfo driver
// (mitab_spatialref.cpp, MIT licence), up to datum 1022, without that list's
// rows that only repeat the row before under another name. Datum 104 appears
// twice, as in MapInfo's own list; where two rows hold the same values the
// earlier one is found.
constexpr TDatum cDatums[] = {
    {104, 28, {0, 0, 0, 0, 0, 0, 0, 0}},
    {74, 0, {0, 0, 0, 0, 0, 0, 0, 0}},
    {0, 29, {0, 0, 0, 0, 0, 0, 0, 0}},
    {1, 6, {-162, -12, 206, 0, 0, 0, 0, 0}},
    {2, 3, {-43, -163, 45, 0, 0, 0, 0, 0}},
    {3, 4, {-150, -251, -2, 0, 0, 0, 0, 0}},
    {4, 2, {-491, -22, 435, 0, 0, 0, 0, 0}},
    {5, 15, {-143, -90, -294, 0, 0, 0, 0, 0}},
    {6, 6, {-160, -8, -300, 0, 0, 0, 0, 0}},
    {7, 4, {-207, 107, 52, 0, 0, 0, 0, 0}},
    {8, 4, {145, 75, -272, 0, 0, 0, 0, 0}},
    {9, 4, {114, -116, -333, 0, 0, 0, 0, 0}},
    {10, 4, {-320, 550, -494, 0, 0, 0, 0, 0}},
    {11, 4, {124, -234, -25, 0, 0, 0, 0, 0}},
    {12, 2, {-133, -48, 148, 0, 0, 0, 0, 0}},
    {13, 2, {-134, -48, 149, 0, 0, 0, 0, 0}},
    {14, 4, {-127, -769, 472, 0, 0, 0, 0, 0}},
    {15, 7, {-73, 213, 296, 0, 0, 0, 0, 0}},
    {16, 4, {307, 304, -318, 0, 0, 0, 0, 0}},
    {17, 4, {-148, 136, 90, 0, 0, 0, 0, 0}},
    {18, 4, {298, -304, -375, 0, 0, 0, 0, 0}},
    {19, 6, {-136, -108, -292, 0, 0, 0, 0, 0}},
    {20, 7, {-2, 150, 181, 0, 0, 0, 0, 0}},
    {21, 6, {-263, 6, 431, 0, 0, 0, 0, 0}},
    {22, 4, {175, -38, 113, 0, 0, 0, 0, 0}},
    {23, 4, {-134, 229, -29, 0, 0, 0, 0, 0}},
    {24, 4, {-206, 172, -6, 0, 0, 0, 0, 0}},
    {25, 10, {-377, 681, -50, 0, 0, 0, 0, 0}},
    {26, 4, {230, -199, -752, 0, 0, 0, 0, 0}},
    {27, 4, {211, 147, 111, 0, 0, 0, 0, 0}},
    {28, 4, {-87, -98, -121, 0, 0, 0, 0, 0}},
    {29, 4, {-86, -98, -119, 0, 0, 0, 0, 0}},
    {30, 4, {-133, -321, 50, 0, 0, 0, 0, 0}},
    {31, 4, {84, -22, 209, 0, 0, 0, 0, 0}},
    {32, 21, {0, 0, 0, 0, 0, 0, 0, 0}},
    {33, 0, {0, 0, 0, 0, 0, 0, 0, 0}},
    {34, 7, {-100, -248, 259, 0, 0, 0, 0, 0}},
    {35, 4, {252, -209, -751, 0, 0, 0, 0, 0}},
    {36, 4, {16, 196, 93, 0, 0, 0, 0, 0}},
    {37, 4, {-73, 46, -86, 0, 0, 0, 0, 0}},
    {38, 4, {-156, -271, -189, 0, 0, 0, 0, 0}},
    {39, 4, {-634, -549, -201, 0, 0, 0, 0, 0}},
    {40, 11, {214, 836, 303, 0, 0, 0, 0, 0}},
    {41, 11, {289, 734, 257, 0, 0, 0, 0, 0}},
    {42, 13, {506, -122, 611, 0, 0, 0, 0, 0}},
    {43, 4, {208, -435, -229, 0, 0, 0, 0, 0}},
    {44, 4, {191, -77, -204, 0, 0, 0, 0, 0}},
    {45, 11, {-97, 787, 86, 0, 0, 0, 0, 0}},
    {46, 4, {145, -187, 103, 0, 0, 0, 0, 0}},
    {47, 17, {-11, 851, 5, 0, 0, 0, 0, 0}},
    {48, 7, {42, 124, 147, 0, 0, 0, 0, 0}},
    {49, 6, {-90, 40, 88, 0, 0, 0, 0, 0}},
    {50, 7, {-133, -77, -51, 0, 0, 0, 0, 0}},
    {51, 7, {-133, -79, -72, 0, 0, 0, 0, 0}},
    {52, 6, {41, -220, -134, 0, 0, 0, 0, 0}},
    {53, 4, {-289, -124, 60, 0, 0, 0, 0, 0}},
    {54, 10, {639, 405, 60, 0, 0, 0, 0, 0}},
    {55, 16, {31, 146, 47, 0, 0, 0, 0, 0}},
    {56, 4, {912, -58, 1227, 0, 0, 0, 0, 0}},
    {57, 6, {-92, -93, 122, 0, 0, 0, 0, 0}},
    {58, 6, {-247, -148, 369, 0, 0, 0, 0, 0}},
    {59, 6, {-249, -156, 381, 0, 0, 0, 0, 0}},
    {60, 6, {-231, -196, 482, 0, 0, 0, 0, 0}},
    {61, 4, {-2, 374, 172, 0, 0, 0, 0, 0}},
    {62, 7, {-8, 160, 176, 0, 0, 0, 0, 0}},
    {63, 7, {-5, 135, 172, 0, 0, 0, 0, 0}},
    {64, 7, {-4, 154, 178, 0, 0, 0, 0, 0}},
    {65, 7, {1, 140, 165, 0, 0, 0, 0, 0}},
    {66, 7, {-10, 158, 187, 0, 0, 0, 0, 0}},
    {67, 7, {0, 125, 201, 0, 0, 0, 0, 0}},
    {68, 7, {-7, 152, 178, 0, 0, 0, 0, 0}},
    {69, 7, {0, 125, 194, 0, 0, 0, 0, 0}},
    {70, 7, {-9, 152, 178, 0, 0, 0, 0, 0}},
    {71, 7, {11, 114, 195, 0, 0, 0, 0, 0}},
    {72, 7, {-12, 130, 190, 0, 0, 0, 0, 0}},
    {73, 8, {-8, 160, 176, 0, 0, 0, 0, 0}},
    {75, 4, {-425, -169, 81, 0, 0, 0, 0, 0}},
    {76, 22, {-130, 110, -13, 0, 0, 0, 0, 0}},
    {77, 7, {61, -285, -181, 0, 0, 0, 0, 0}},
    {78, 6, {-346, -1, 224, 0, 0, 0, 0, 0}},
    {79, 9, {375, -111, 431, 0, 0, 0, 0, 0}},
    {80, 4, {-307, -92, 127, 0, 0, 0, 0, 0}},
    {81, 4, {185, 165, 42, 0, 0, 0, 0, 0}},
    {82, 4, {-288, 175, -376, 0, 0, 0, 0, 0}},
    {83, 7, {11, 72, -101, 0, 0, 0, 0, 0}},
    {84, 4, {-128, -283, 22, 0, 0, 0, 0, 0}},
    {85, 4, {164, 138, -189, 0, 0, 0, 0, 0}},
    {86, 4, {94, -948, -1262, 0, 0, 0, 0, 0}},
    {87, 4, {-225, -65, 9, 0, 0, 0, 0, 0}},
    {88, 4, {170, 42, 84, 0, 0, 0, 0, 0}},
    {89, 4, {-203, 141, 53, 0, 0, 0, 0, 0}},
    {90, 4, {-355, 16, 74, 0, 0, 0, 0, 0}},
    {91, 14, {616, 97, -251, 0, 0, 0, 0, 0}},
    {92, 24, {-57, 1, -41, 0, 0, 0, 0, 0}},
    {93, 19, {7, -10, -26, 0, 0, 0, 0, 0}},
    {94, 4, {-499, -249, 314, 0, 0, 0, 0, 0}},
    {95, 4, {-104, 167, -38, 0, 0, 0, 0, 0}},
    {96, 11, {-689, 691, -46, 0, 0, 0, 0, 0}},
    {97, 10, {-128, 481, 664, 0, 0, 0, 0, 0}},
    {98, 4, {-632, 438, -609, 0, 0, 0, 0, 0}},
    {99, 6, {51, 391, -36, 0, 0, 0, 0, 0}},
    {100, 23, {101, 52, -39, 0, 0, 0, 0, 0}},
    {101, 26, {0, 0, 0, 0, 0, 0, 0, 0}},
    {102, 27, {0, 0, 0, 0, 0, 0, 0, 0}},
    {103, 1, {0, 8, 10, 0, 0, 0, 0, 0}},
    {104, 28, {0, 0, 0, 0, 0, 0, 0, 0}},
    {105, 4, {-155, 171, 37, 0, 0, 0, 0, 0}},
    {106, 4, {-265, 120, -358, 0, 0, 0, 0, 0}},
    {107, 30, {-168, -60, 320, 0, 0, 0, 0, 0}},
    {108, 4, {-83, -96, -113, 0, 0, 0, 0, 0}},
    {109, 10, {593, 26, 478, 0, 0, 0, 0, 0}},
    {110, 4, {81, 120, 129, 0, 0, 0, 0, 0}},
    {111, 1, {-1, 15, 1, 0, 0, 0, 0, 0}},
    {112, 10, {498, -36, 568, 0, 0, 0, 0, 0}},
    {113, 4, {-303, -62, 105, 0, 0, 0, 0, 0}},
    {114, 4, {-223, 110, 37, 0, 0, 0, 0, 0}},
    {115, 0, {0, 0, 0, 0, 0, 0, 0, 0}},
    {116, 0, {0, 0, 0, 0, 0, 0, 0, 0}},
    {117, 0, {0, 0, 0, 0, 0, 0, 0, 0}},
    {118, 7, {-115, 118, 426, 0, 0, 0, 0, 0}},
    {119, 6, {-270, 13, 62, 0, 0, 0, 0, 0}},
    {120, 6, {-79, -129, 145, 0, 0, 0, 0, 0}},
    {121, 10, {-384, 664, -48, 0, 0, 0, 0, 0}},
    {122, 10, {374, 150, 588, 0, 0, 0, 0, 0}},
    {123, 6, {-83, 37, 124, 0, 0, 0, 0, 0}},
    {124, 6, {260, 12, -147, 0, 0, 0, 0, 0}},
    {125, 6, {-7, 215, 225, 0, 0, 0, 0, 0}},
    {126, 4, {-104, 167, -38, 0, 0, 0, 0, 0}},
    {127, 4, {-333, -222, 114, 0, 0, 0, 0, 0}},
    {128, 10, {682, -203, 480, 0, 0, 0, 0, 0}},
    {129, 50, {283, 682, 231, 0, 0, 0, 0, 0}},
    {130, 11, {217, 823, 299, 0, 0, 0, 0, 0}},
    {131, 11, {198, 881, 317, 0, 0, 0, 0, 0}},
    {132, 11, {210, 814, 289, 0, 0, 0, 0, 0}},
    {133, 4, {-24, -15, 5, 0, 0, 0, 0, 0}},
    {134, 4, {-794, 119, -298, 0, 0, 0, 0, 0}},
    {135, 4, {647, 1777, -1124, 0, 0, 0, 0, 0}},
    {136, 6, {-130, 29, 364, 0, 0, 0, 0, 0}},
    {137, 6, {174, 359, 365, 0, 0, 0, 0, 0}},
    {138, 6, {-74, -130, 42, 0, 0, 0, 0, 0}},
    {139, 6, {-186, -93, 310, 0, 0, 0, 0, 0}},
    {140, 4, {-425, -169, 81, 0, 0, 0, 0, 0}},
    {141, 6, {-106, -129, 165, 0, 0, 0, 0, 0}},
    {142, 6, {-148, 51, -291, 0, 0, 0, 0, 0}},
    {143, 4, {-499, -249, 314, 0, 0, 0, 0, 0}},
    {144, 4, {-289, -124, 60, 0, 0, 0, 0, 0}},
    {145, 6, {-88, 4, 101, 0, 0, 0, 0, 0}},
    {146, 10, {589, 76, 480, 0, 0, 0, 0, 0}},
    {147, 4, {-189, -242, -91, 0, 0, 0, 0, 0}},
    {148, 6, {-73, -247, 227, 0, 0, 0, 0, 0}},
    {149, 6, {-123, -206, 219, 0, 0, 0, 0, 0}},
    {150, 28, {0, 0, 0, 0, 0, 0, 0, 0}},
    {151, 51, {0, 0, 0, 0, 0, 0, 0, 0}},
    {152, 0, {0, 0, 0, 0, 0, 0, 0, 0}},
    {153, 0, {-199.87, 74.79, 246.62, 0, 0, 0, 0, 0}},
    {154, 3, {-31.4, 144.3, 81.2, 0, 0, 0, 0, 0}},
    {155, 4, {208.4058, 109.8777, 2.5764, 0, 0, 0, 0, 0}},
    {156, 3, {28, -121, -77, 0, 0, 0, 0, 0}},
    {157, 54, {0, 0, 0, 0, 0, 0, 0, 0}},
    {158, 10, {674.374, 15.056, 405.346, 0, 0, 0, 0, 0}},
    {159, 14, {616.8, 103.3, -256.9, 0, 0, 0, 0, 0}},
    {161, 55, {0, 0, 0, 0, 0, 0, 0, 0}},
    {1000, 10, {582, 105, 414, -1.04, -0.35, 3.08, 8.3, 0}},
    {1001, 3, {24, -123, -94, -0.02, 0.25, 0.13, 1.1, 0}},
    {1002, 30, {-168, -60, 320, 0, 0, 0, 0, 2.337229166667}},
    {1003, 10, {660.077, 13.551, 369.344, 0.804816, 0.577692, 0.952236, 5.66, 0}},
    {1004, 21, {-56, 75.77, 15.31, -0.37, -0.2, -0.21, -1.01, 0}},
    {1005, 28, {-134.73, -110.92, -292.66, 0, 0, 0, 1, 0}},
    {1006, 2, {-117.763, -51.51, 139.061, -0.292, -0.443, -0.277, -0.191, 0}},
    {1007, 2, {-129.193, -41.212, 130.73, -0.246, -0.374, -0.329, -2.955, 0}},
    {1008, 2, {-120.271, -64.543, 161.632, -0.2175, 0.0672, 0.1291, 2.4985, 0}},
    {1009, 2, {-119.353, -48.301, 139.484, -0.415, -0.26, -0.437, -0.613, 0}},
    {1010, 4, {59.47, -5.04, 187.44, -0.47, 0.1, -1.024, -4.5993, 0}},
    {1011, 10, {419.3836, 99.3335, 591.3451, -0.850389, -1.817277, 7.862238, -0.99496, 0}},
    {1012, 52, {-1.08, -0.27, -0.9, 0, 0, -0.16, -0.12, 0}},
    {1013, 52, {23.92, -141.27, -80.9, 0, -0.35, -0.82, -0.12, 0}},
    {1014, 52, {24.82, -131.21, -82.66, 0, 0, -0.16, -0.12, 0}},
    {1015, 10, {-146.414, 507.337, 680.507, 0, 0, 0, 0, 0}},
    {1016, 4, {-96.062, -82.428, -121.754, -4.801, -0.345, 1.376, 1.496, 0}},
    {1017, 53, {24, -123, -94, -0.02, -0.25, 0.13, 1.1, 0}},
    {1018, 4, {-40.59527, -18.54979, -69.33956, -2.508, -1.8319, 2.6114, -4.2991, 0}},
    {1019, 4, {-99.059, 53.322, -112.486, -0.419, 0.83, -1.885, 0.999999, 0}},
    {1020, 10, {589, 76, 480, 0, 0, 0, 0, -17.666666666667}},
    {1021, 10, {574.027, 170.175, 401.545, 4.88786, -0.66524, -13.24673, 6.88933, 0}},
    {1022, 6, {-38.7086, -128.8054, 118.8837, 0.83822, 7.38459, -1.57989, 3.9904, 0}},
};

int32_t ParameterCount(uint8_t Projection) {
  switch (Projection) {
    case 10: case 11: case 12: case 13: case 14: case 15: case 16: case 17: return 1;
    case 2: case 26: return 2;
    case 4: case 5: case 28: case 29: return 3;
    case 18: case 25: case 27: case 30: case 33: return 4;
    // Double stereographic (31) has a scale factor besides origin and false
    // origin: without its fifth the text would lose the false northing.
    case 8: case 20: case 21: case 22: case 23: case 24: case 31: case 34: return 5;
    case 3: case 6: case 7: case 9: case 19: case 32: return 6;
    // The header has six parameter slots; the 7th is read from offset 448,
    // the first datum shift, as the format's readers do.
    case 35: return 7;
    default: return 0;
  }
}

TCoordinateUnit UnitOfCode(uint8_t Code) {
  switch (Code) {
    case 0: return cuMiles;
    case 1: return cuKm;
    case 2: return cuInch;
    case 3: return cuFt;
    case 4: return cuYard;
    case 5: return cuMm;
    case 6: return cuCm;
    case 7: return cuM;
    case 8: return cuSurveyft;
    case 9: return cuNmi;
    case 30: return cuLink;
    case 31: return cuChain;
    case 32: return cuRod;
    default: return cuDeg;
  }
}

// The quoted unit name of the text; empty for a unit without one.
std::string UnitName(TCoordinateUnit Unit) {
  switch (Unit) {
    case cuMm: return "\"mm\"";
    case cuCm: return "\"cm\"";
    case cuM: return "\"m\"";
    case cuKm: return "\"km\"";
    case cuInch: return "\"in\"";
    case cuLink: return "\"link\"";
    case cuFt: return "\"ft\"";
    case cuSurveyft: return "\"survey ft\"";
    case cuYard: return "\"yd\"";
    case cuChain: return "\"chain\"";
    case cuRod: return "\"rod\"";
    case cuMiles: return "\"mi\"";
    case cuNmi: return "\"nmi\"";
    default: return "";
  }
}

}  // namespace

void MapHeaderToCoordSys(const TMapFile& Map, double& XScale, double& YScale, double& XDispl, double& YDispl,
                         TCoordinateUnit& Unit, std::string& Text) {
  const uint8_t precision = Map.Read<uint8_t>(352);
  const uint8_t quadrant = Map.Read<uint8_t>(353);
  const uint8_t projection = Map.Read<uint8_t>(365);
  const uint8_t ellipsoid = Map.Read<uint8_t>(366);
  double datumValues[8];
  for (int i = 0; i < 8; ++i) datumValues[i] = Map.Read<double>(448 + 8 * i);

  int32_t datum = Map.Read<int16_t>(362);
  bool haveDatum = datum != 0;
  if (!haveDatum) {
    for (const TDatum& d : cDatums) {
      if (d.Ellipsoid != ellipsoid) continue;
      bool same = true;
      for (int i = 0; i < 8 && same; ++i) same = std::fabs(d.Values[i] - datumValues[i]) < 1e-10;
      if (same) {
        datum = d.Datum;
        haveDatum = true;
        break;
      }
    }
  }

  if (projection == 0) {
    Text = "CoordSys NonEarth Units ";
  } else {
    Text = "CoordSys Earth Projection " + IntToStr(projection) + ", ";
    if (haveDatum) {
      Text += IntToStr(datum);
    } else {
      // Without a known datum the definition itself goes into the text: the
      // short form when only shifts are given, else all eight values.
      const bool shiftsOnly = datumValues[3] == 0 && datumValues[4] == 0 && datumValues[5] == 0 &&
                              datumValues[6] == 0 && datumValues[7] == 0;
      Text += (shiftsOnly ? "999, " : "9999, ") + IntToStr(ellipsoid);
      for (int i = 0; i < (shiftsOnly ? 3 : 8); ++i) Text += ", " + FloatToStrDot(datumValues[i]);
    }
  }

  Unit = UnitOfCode(Map.Read<uint8_t>(367));
  if (projection > 1) Text += ", ";
  // An unnamed unit still gets its separator above, leaving ", , ".
  if (projection != 1) Text += UnitName(Unit);
  for (int32_t i = 0; i < ParameterCount(projection); ++i) Text += ", " + FloatToStrDot(Map.Read<double>(400 + 8 * i));

  XScale = Map.Read<double>(368);
  YScale = Map.Read<double>(376);
  XDispl = Map.Read<double>(384);
  YDispl = Map.Read<double>(392);
  // Quadrant 0 is not a quadrant of the format; it is taken as 1.
  if (quadrant == 2 || quadrant == 3) {
    XScale = -XScale;
    XDispl = -XDispl;
  }
  if (quadrant == 3 || quadrant == 4) {
    YScale = -YScale;
    YDispl = -YDispl;
  }

  // Integer map coordinates run from -1e9 to 1e9.
  if (projection != 1 || precision == 8)
    Text += " " + BoundsToStr((-1e9 - XDispl) / XScale, (-1e9 - YDispl) / YScale, (1e9 - XDispl) / XScale,
                              (1e9 - YDispl) / YScale);
}

}  // namespace kovra
