// Binding of the MFAL table library, a closed library reached only by
// ordinal numbers. ELF shared objects export no ordinals, so on this platform
// the library cannot be bound: LoadMFAL records "could not be loaded" (-2)
// without opening any file, and gfMFAL falls back to MIF/MID. The records
// below are the library's binary layout; the MFAL writer fills them and tests
// inject a function table of their own (ReplaceMFALProcs).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kovra {

struct DPNT {
  double x;
  double y;
};

struct MI_ATTRDEF {
  char name[32];  // zero-padded
  uint8_t fieldtype;
  uint8_t width;
  uint8_t decPlaces;
  uint8_t filler1;
  int16_t bIndexed;
};

struct MI_CPEN {
  int16_t width;
  uint8_t filler1[2];
  int32_t pat;
  int32_t style;
  int32_t color;
};

struct MI_XBRUSH {
  int32_t pat;
  int32_t forecolor;
  int32_t backcolor;
  uint8_t transparent;
  uint8_t filler1[3];
};

struct MI_SYMBOL {
  int16_t code;
  uint8_t filler1[2];
  int32_t color;
  int16_t pointsize;
  uint8_t filler2[2];
};

#pragma pack(push, 4)
struct MI_POINT {
  DPNT pnt;
  MI_SYMBOL symbol;
};
#pragma pack(pop)

struct MI_LINE {
  DPNT lbeg;
  DPNT lend;
  MI_CPEN pen;
};

struct MI_PLINE {
  int32_t points;
  uint32_t bSmooth;
  MI_CPEN pen;
  DPNT* data;
};

struct MI_POLY {
  int32_t points;
  int32_t noOfHOles;
  DPNT* pPnts;
};

struct MI_MULTIPLINE {
  int32_t plines;
  uint32_t bSmooth;
  MI_CPEN pen;
  DPNT centroid;
  MI_POLY* data;
};

struct MI_REGION {
  int32_t regions;
  MI_CPEN pen;
  MI_XBRUSH brush;
  uint8_t filler1[4];
  DPNT centroid;
  MI_POLY* data;
};

struct MI_OBJ {
  uint8_t objtype;
  bool hasNoOfHolesSet;
  uint8_t filler1[6];
  union {
    MI_LINE line;
    MI_PLINE pline;
    MI_MULTIPLINE multipline;
    MI_POINT point;
    MI_REGION region;
    uint8_t filler2[208];
  };
};

// MI_OBJ objtype values.
inline constexpr uint8_t cMIObjNone = 0;
inline constexpr uint8_t cMIObjPoint = 201;
inline constexpr uint8_t cMIObjLine = 202;
inline constexpr uint8_t cMIObjPline = 204;
inline constexpr uint8_t cMIObjRegion = 205;
inline constexpr uint8_t cMIObjMultiPline = 210;

// The library's layout, byte for byte.
static_assert(sizeof(DPNT) == 16 && offsetof(DPNT, y) == 8);
static_assert(sizeof(MI_ATTRDEF) == 38 && offsetof(MI_ATTRDEF, fieldtype) == 32 && offsetof(MI_ATTRDEF, width) == 33 &&
              offsetof(MI_ATTRDEF, decPlaces) == 34 && offsetof(MI_ATTRDEF, filler1) == 35 &&
              offsetof(MI_ATTRDEF, bIndexed) == 36);
static_assert(sizeof(MI_CPEN) == 16 && offsetof(MI_CPEN, filler1) == 2 && offsetof(MI_CPEN, pat) == 4 &&
              offsetof(MI_CPEN, style) == 8 && offsetof(MI_CPEN, color) == 12);
static_assert(sizeof(MI_XBRUSH) == 16 && offsetof(MI_XBRUSH, forecolor) == 4 && offsetof(MI_XBRUSH, backcolor) == 8 &&
              offsetof(MI_XBRUSH, transparent) == 12 && offsetof(MI_XBRUSH, filler1) == 13);
static_assert(sizeof(MI_SYMBOL) == 12 && offsetof(MI_SYMBOL, filler1) == 2 && offsetof(MI_SYMBOL, color) == 4 &&
              offsetof(MI_SYMBOL, pointsize) == 8 && offsetof(MI_SYMBOL, filler2) == 10);
static_assert(sizeof(MI_POINT) == 28 && offsetof(MI_POINT, symbol) == 16);
static_assert(sizeof(MI_LINE) == 48 && offsetof(MI_LINE, lend) == 16 && offsetof(MI_LINE, pen) == 32);
static_assert(sizeof(MI_PLINE) == 32 && offsetof(MI_PLINE, bSmooth) == 4 && offsetof(MI_PLINE, pen) == 8 &&
              offsetof(MI_PLINE, data) == 24);
static_assert(sizeof(MI_POLY) == 16 && offsetof(MI_POLY, noOfHOles) == 4 && offsetof(MI_POLY, pPnts) == 8);
static_assert(sizeof(MI_MULTIPLINE) == 48 && offsetof(MI_MULTIPLINE, bSmooth) == 4 &&
              offsetof(MI_MULTIPLINE, pen) == 8 && offsetof(MI_MULTIPLINE, centroid) == 24 &&
              offsetof(MI_MULTIPLINE, data) == 40);
static_assert(sizeof(MI_REGION) == 64 && offsetof(MI_REGION, pen) == 4 && offsetof(MI_REGION, brush) == 20 &&
              offsetof(MI_REGION, filler1) == 36 && offsetof(MI_REGION, centroid) == 40 &&
              offsetof(MI_REGION, data) == 56);
static_assert(sizeof(MI_OBJ) == 216 && offsetof(MI_OBJ, hasNoOfHolesSet) == 1 && offsetof(MI_OBJ, filler1) == 2 &&
              offsetof(MI_OBJ, line) == 8 && offsetof(MI_OBJ, pline) == 8 && offsetof(MI_OBJ, multipline) == 8 &&
              offsetof(MI_OBJ, point) == 8 && offsetof(MI_OBJ, region) == 8 && offsetof(MI_OBJ, filler2) == 8);

// Size of the coordinate-system block MFAL_CoordSysToCsys fills.
inline constexpr size_t cMFALCsysSize = 304;

// The bound functions (ordinals 133, 139, 150, 106, 134, 102, 135).
struct TMFALProcs {
  int16_t (*MFAL_Startup)(int32_t Arg) = nullptr;
  int32_t (*MFAL_SetCharset)(uint8_t CharsetId) = nullptr;
  int32_t (*MFAL_CoordSysToCsys)(const char* CoordSys, void* Csys) = nullptr;
  intptr_t (*MFAL_CreateTable)(const char* Path, MI_ATTRDEF* Fields, int32_t NumFields, void* Csys,
                               int32_t Kind) = nullptr;
  int32_t (*MFAL_Insert)(intptr_t Table, const char* Values, MI_OBJ* Obj, int64_t* Scratch) = nullptr;
  int32_t (*MFAL_CloseTable)(intptr_t Table) = nullptr;
  void* MFAL_Ordinal135 = nullptr;
};

// -1 not tried, 0 loaded, -2 the file could not be loaded, -4 the start-up
// function returned 0. Reading it runs LoadMFAL first.
int32_t MFALStatus();
// Once, thread-safe: records -2 (no ordinal binding on this platform).
void LoadMFAL();
bool MFALLoaded();
const TMFALProcs& MFALProcs();

struct TMFALBinding {
  TMFALProcs Procs;
  int32_t Status = -1;
};
// Test seam: installs Binding, returns the previous one.
TMFALBinding ReplaceMFALProcs(const TMFALBinding& Binding);

// Name := FieldName (bytes) zero-padded to 32 bytes; a name of 32 bytes or
// more raises "Field name is longer than 31".
void MakeMIFieldName(char (&Name)[32], const std::string& FieldName);

}  // namespace kovra
