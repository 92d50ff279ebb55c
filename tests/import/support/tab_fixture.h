// Test support: MapInfo tables written byte by byte from a list of objects,
// independently of the reader under test. A fixture is a .TAB, a .MAP of
// version 500 (4-byte ids and pointers) or 1500 (8-byte), any block size that
// is a multiple of 512, a .ID and a .DAT (classic or NATIVEX) with the two
// integer fields ZFROM and ZTO. Objects sit in object blocks, the coordinates
// of polylines in chained coordinate blocks. Single fields can be patched
// afterwards to make corrupt tables.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace kovra::testsupport {

struct TIntPoint {
  int32_t x = 0, y = 0;
};

struct TTabObject {
  // 4 compressed line, 5 line, 7 compressed polyline, 8 polyline; any other
  // type is written as its type byte, the row id and ten zero bytes.
  uint8_t Type = 8;
  // Integer map coordinates: two for types 4 and 5, the vertices for 7 and 8.
  // Type 4 is stored relative to its object block's centre, type 7 relative
  // to an origin (the first vertex), so their spans must fit Int16 deltas.
  std::vector<TIntPoint> Points;
  bool Deleted = false;        // .id entry 0 and no object
  bool NewBlock = false;       // starts a new object block
  int32_t ZFrom = 0, ZTo = 0;  // the row's .dat fields
};

// The .MAP header fields that MapInfo readers interpret.
struct TTabHeader {
  uint8_t Projection = 8;
  int16_t Datum = 104;
  uint8_t Ellipsoid = 28;
  uint8_t Unit = 7;
  uint8_t Precision = 3;
  uint8_t Quadrant = 1;
  double XScale = 1000, YScale = 1000, XDispl = 0, YDispl = 0;
  double Params[6] = {-2, 49, 0.9996012717, 400000, -100000, 0};
  double DatumValues[8] = {};
};

struct TTabFixture {
  int32_t Version = 500;  // 500 or 1500
  int32_t BlockSize = 512;
  bool NativeX = false;   // .DAT layout
  std::string Charset = "WindowsLatin1";
  // Leaves a block of filler between two coordinate blocks of one chain, so
  // that only the next-block pointers lead from one to the other.
  bool SpacedCoordBlocks = false;
  TTabHeader Header;
  std::vector<TTabObject> Objects;
};

// Where the writer put each row's object and coordinate data (0 where none).
struct TTabWritten {
  std::string Tab, Map, Id, Dat;
  std::vector<int64_t> Object, CoordData;
  std::vector<int64_t> CoordBlocks;  // every coordinate block, in the order written
};

// Writes Stem + ".tab", ".map", ".id" and ".dat".
TTabWritten WriteTabFixture(const std::string& Stem, const TTabFixture& Fixture);

// The real coordinate of an integer map coordinate under Header, as a reader
// computes it.
double MapToRealX(const TTabHeader& Header, int32_t X);
double MapToRealY(const TTabHeader& Header, int32_t Y);

// Overwrites sizeof(T) bytes of a file at Offset.
void PatchBytes(const std::string& Path, int64_t Offset, const void* Bytes, size_t Count);
template <typename T>
void PatchFile(const std::string& Path, int64_t Offset, T Value) {
  PatchBytes(Path, Offset, &Value, sizeof Value);
}

}  // namespace kovra::testsupport
