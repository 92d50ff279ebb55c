// Shared vocabulary of the library: value records, array types, ordinal and
// enumeration types, event types, the exception family and shared constants.
#pragma once

#include <cstdint>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "platform/kovra_sysutils.h"

namespace kovra {

// ---------------------------------------------------------------------------
// Records

struct TFloatPoint {
  double x = 0;
  double y = 0;
};

struct TFloatRect {
  double xmin = 0;
  double ymin = 0;
  double xmax = 0;
  double ymax = 0;
};

#pragma pack(push, 1)
// Packed: percent follows link directly where the record is stored raw.
struct TLocation {
  int32_t link = 0;
  double percent = 0;
};
#pragma pack(pop)
static_assert(sizeof(TLocation) == 12);

using TCostArray = std::vector<float>;
using TWordArray = std::vector<uint16_t>;
using TIntegerArray = std::vector<int32_t>;
using TInt64Array = std::vector<int64_t>;
using TLongwordArray = std::vector<uint32_t>;
using TDoubleArray = std::vector<double>;
using TMatrix = std::vector<TCostArray>;
using TCurbMatrix = std::vector<TMatrix>;
using TFloatPointArray = std::vector<TFloatPoint>;

struct TRoute {
  TIntegerArray nodes;
  TIntegerArray links;
  double percent1 = 0;
  double percent2 = 0;
};

struct TFloatPointArrayEx {
  TFloatPointArray Pnt;
  int32_t Count = 0;
};

struct TFloatPointArrayEx2 {
  TFloatPointArray Pnt;
  int32_t Last = 0;  // index of the last valid point, not a count
  double Z1 = 0;
  double Z2 = 0;
  uint8_t Side1 = 0;
  uint8_t Side2 = 0;
  int32_t Zi1 = 0;
  int32_t Zi2 = 0;
};

using TFloatPointArrayExArray = std::vector<TFloatPointArrayEx>;
using TFloatPointArrayEx2Array = std::vector<TFloatPointArrayEx2>;

// Exact IEEE comparisons: NaN is unequal to everything, itself included.
inline bool operator==(const TFloatPoint& a, const TFloatPoint& b) { return a.x == b.x && a.y == b.y; }
inline bool operator!=(const TFloatPoint& a, const TFloatPoint& b) { return !(a == b); }
bool operator==(const TFloatPointArrayEx& a, const TFloatPointArrayEx& b);
inline bool operator!=(const TFloatPointArrayEx& a, const TFloatPointArrayEx& b) { return !(a == b); }
inline bool operator==(const TLocation& a, const TLocation& b) {
  return a.link == b.link && a.percent == b.percent;
}
inline bool operator!=(const TLocation& a, const TLocation& b) { return !(a == b); }
// TRoute has '=' only; C++20 synthesises '!=' from it, which is its plain negation.
bool operator==(const TRoute& a, const TRoute& b);

// ---------------------------------------------------------------------------
// Ordinal subranges (one byte each)

using TRoadClass = uint8_t;  // 0..31
using THierarchy = uint8_t;  // 0..5
using TZLevel = int8_t;      // -9..9

inline constexpr TRoadClass cMaxRoadClass = 31;
inline constexpr THierarchy cMaxHierarchy = 5;
inline constexpr TZLevel cMinZLevel = -9;
inline constexpr TZLevel cMaxZLevel = 9;

// ---------------------------------------------------------------------------
// Enumerations (one byte, ordinals from 0 in the order given)

enum class TCoordinateUnit : uint8_t {
  cuUnknown, cuRad, cuDeg, cuGrad, cuMm, cuCm, cuDm, cuM, cuKm, cuPoint,
  cuInch, cuLink, cuFt, cuSurveyft, cuYard, cuChain, cuRod, cuMiles, cuNmi
};
enum class TObjectTypes : uint8_t { otPline, otRegion, otPoint, otNone };
enum class TDistanceUnit : uint8_t { duKm, duMiles };
enum class TRouteCriteria : uint8_t { rcDist, rcTime, rcCost };
enum class TApproach : uint8_t { apIgnore, apForward, apReverse };

// Output formats of the result writers.
enum class TGISFormat : uint8_t {
  gfMIF, gfDBF, gfSHP, gfCSV, gfArray, gfMITAB, gfGML2, gfKML2, gfGeoJSON,
  gfMFAL, gfMIF8, gfEFAL, gfEFALx, gfGPX
};
// Column types of output layers and table readers.
enum class TGISField : uint8_t {
  gfChar, gfInteger, gfSmallInt, gfDecimal, gfFloat, gfDate, gfLogical, gfTime,
  gfDateTime, gfInt64
};

using enum TCoordinateUnit;
using enum TObjectTypes;
using enum TDistanceUnit;
using enum TRouteCriteria;
using enum TApproach;
using enum TGISFormat;
using enum TGISField;

static_assert(uint8_t(cuKm) == 8 && uint8_t(cuNmi) == 18);
static_assert(uint8_t(gfGPX) == 13 && uint8_t(gfInt64) == 9);
static_assert(sizeof(TCoordinateUnit) == 1 && sizeof(TObjectTypes) == 1 && sizeof(TDistanceUnit) == 1 &&
              sizeof(TRouteCriteria) == 1 && sizeof(TApproach) == 1 && sizeof(TGISFormat) == 1 &&
              sizeof(TGISField) == 1);

// Sets of coordinate units as bitmasks over the ordinals.
using TCoordinateUnitSet = uint32_t;
constexpr TCoordinateUnitSet UnitBit(TCoordinateUnit u) { return TCoordinateUnitSet(1) << uint8_t(u); }
constexpr bool InSet(TCoordinateUnitSet s, TCoordinateUnit u) { return (s & UnitBit(u)) != 0; }

inline constexpr TCoordinateUnitSet cAngularUnits = UnitBit(cuRad) | UnitBit(cuDeg) | UnitBit(cuGrad);
inline constexpr TCoordinateUnitSet cPlanarUnits =
    UnitBit(cuMm) | UnitBit(cuCm) | UnitBit(cuM) | UnitBit(cuKm) | UnitBit(cuInch) | UnitBit(cuLink) |
    UnitBit(cuFt) | UnitBit(cuSurveyft) | UnitBit(cuYard) | UnitBit(cuChain) | UnitBit(cuRod) |
    UnitBit(cuMiles) | UnitBit(cuNmi);

// ---------------------------------------------------------------------------
// Events: sender first.

using TProgressEvent = std::function<void(TObject* Sender, int32_t Progress)>;
using TProgressCancelEvent = std::function<void(TObject* Sender, int32_t Progress, bool& Cancel)>;
using TTurnEvent = std::function<void(TObject* Sender, int32_t node, const TIntegerArray& links)>;
using TTurnTEvent =
    std::function<void(TObject* Sender, int32_t node, int32_t link1, int32_t link2, int32_t link3)>;

// ---------------------------------------------------------------------------
// Exception family: each carries only a message.

KOVRA_DECLARE_EXCEPTION(ECoordinateCheck, Exception);
KOVRA_DECLARE_EXCEPTION(EEncryptedData, Exception);
KOVRA_DECLARE_EXCEPTION(EFileMissing, Exception);
KOVRA_DECLARE_EXCEPTION(EOutOfRange, Exception);
KOVRA_DECLARE_EXCEPTION(ENetworkIsClosed, Exception);
KOVRA_DECLARE_EXCEPTION(ETooManyLinksAtNode, Exception);
KOVRA_DECLARE_EXCEPTION(EConfigFileCheckSumError, Exception);
KOVRA_DECLARE_EXCEPTION(EWrongVersion, Exception);
KOVRA_DECLARE_EXCEPTION(EWrongFileSize, Exception);
KOVRA_DECLARE_EXCEPTION(EWrongPercent, Exception);
KOVRA_DECLARE_EXCEPTION(EParallelLinks, Exception);
KOVRA_DECLARE_EXCEPTION(ENotConnected, Exception);
KOVRA_DECLARE_EXCEPTION(EWrongDegree, Exception);
KOVRA_DECLARE_EXCEPTION(EInvalidFieldIndex, Exception);
KOVRA_DECLARE_EXCEPTION(EFieldNameNotFound, Exception);
KOVRA_DECLARE_EXCEPTION(EInvalidParameter, Exception);
KOVRA_DECLARE_EXCEPTION(EInvalidFieldType, Exception);
KOVRA_DECLARE_EXCEPTION(ERoadNameFileNotOpen, Exception);
KOVRA_DECLARE_EXCEPTION(EDifferentDBFFilesStructure, Exception);

// ---------------------------------------------------------------------------
// Shared constants

inline constexpr float cInfinity = 1e38f;
inline constexpr int32_t cNoPredecessor = 2147483647;
inline constexpr int32_t MaxInt = 2147483647;
inline constexpr double cEarthRadiusKm = 6378.13;
inline constexpr double cKmPerMile = 1.609344;
inline constexpr int32_t cHashSize = 65003;
inline constexpr int32_t cNetworkVersion = 400;
inline constexpr int32_t cIndexBuckets = 256;
inline constexpr int32_t cMaxLinksAtNode = 255;
inline constexpr int32_t cNone = -1;
inline constexpr float cEpsilon = 1e-20f;
inline constexpr int32_t cEpsgWGS84 = 4326;
inline constexpr int32_t cEpsgBNG = 27700;
inline constexpr bool cThreadSafeFiles = false;

inline constexpr const char* cCoordSysWGS84 = "CoordSys Earth Projection 1, 104";
inline constexpr const char* cPrjWGS84 =
    "GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\",6378137,298.257223563]],"
    "PRIMEM[\"Greenwich\",0],UNIT[\"Degree\",0.017453292519943295]]";
inline constexpr const char* cCoordSysBNG =
    "CoordSys Earth Projection 8, 79, \"m\", -2, 49, 0.9996012717, 400000, -100000 Bounds (0, -100000) "
    "(2000000, 1900000)";
// Declared as two pieces joined without a separator.
inline constexpr const char* cPrjBNG =
    "PROJCS[\"British_National_Grid\",GEOGCS[\"GCS_OSGB_1936\",DATUM[\"D_OSGB_1936\",SPHEROID[\"Airy_1830\","
    "6377563.396,299.3249646]],PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]],"
    "PROJECTION[\"Transverse_Mercator\"],"
    "PARAMETER[\"False_Easting\",400000.0],PARAMETER[\"False_Northing\",-100000.0],"
    "PARAMETER[\"Central_Meridian\",-2.0],PARAMETER[\"Scale_Factor\",0.999601272],"
    "PARAMETER[\"Latitude_Of_Origin\",49.0],UNIT[\"Meter\",1.0]]";

inline constexpr TFloatPoint cZeroPoint{0, 0};
inline constexpr TLocation cZeroLocation{0, 0};
inline constexpr TFloatRect cZeroRect{0, 0, 0, 0};
inline constexpr TFloatRect cEmptyRect{1e38, 1e38, -1e38, -1e38};

// ---------------------------------------------------------------------------
// Kilometres per coordinate unit, by ordinal: the one table behind a network's
// distance factor and the lengths the import stores. The angular units carry
// the earth radius (their distances are great-circle angles). cuUnknown has no
// factor (0 here; KmPerUnit refuses it). A chain is 66 ft = 0.0201168 km: an
// older table held a tenth of that ("ten links"), which made chain networks
// ten times too short.
inline constexpr double cKmPerUnit[] = {
    0,                                // cuUnknown
    cEarthRadiusKm,                   // cuRad
    cEarthRadiusKm,                   // cuDeg
    cEarthRadiusKm,                   // cuGrad
    0.000001,                         // cuMm
    0.00001,                          // cuCm
    0.0001,                           // cuDm
    0.001,                            // cuM
    1,                                // cuKm
    0.0000003527777777777778,         // cuPoint
    0.0000254,                        // cuInch
    0.00020116840260000005,           // cuLink
    0.00030480000000000004,           // cuFt
    0.00030480061000000004,           // cuSurveyft (as stored, not 1200/3937 m)
    0.0009144,                        // cuYard
    0.0201168,                        // cuChain
    0.005029210065,                   // cuRod
    cKmPerMile,                       // cuMiles
    1.853184,                         // cuNmi (as stored, not 1.852)
};
static_assert(std::size(cKmPerUnit) == size_t(cuNmi) + 1);

inline constexpr const char* cMsgUndefinedDistFactor = "Undefined coordinate in DistFactor";

// Km per unit; cuUnknown (or a value outside the enumeration) raises
// Exception "Undefined coordinate in DistFactor".
inline double KmPerUnit(TCoordinateUnit Unit) {
  const size_t i = size_t(Unit);
  if (i == 0 || i >= std::size(cKmPerUnit)) throw Exception(cMsgUndefinedDistFactor);
  return cKmPerUnit[i];
}

}  // namespace kovra
