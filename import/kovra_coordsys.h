// MapInfo .MAP files: a read-only mapping of one with bounds-checked reads,
// and the CoordSys text, coordinate unit and integer-to-real transform that
// its 512-byte header describes.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "foundation/kovra_types.h"

namespace kovra {

// Size of the header block's fields; every .MAP holds at least this much.
inline constexpr int64_t cMapHeaderSize = 512;

// A .MAP mapped read-only: a map may exceed memory, and objects and their
// coordinate blocks are reached at random. Every read names its offset and
// size and is checked against the file, so a corrupt pointer raises
// "Corrupt MapInfo table %s: %s" instead of reading elsewhere.
class TMapFile {
public:
  // Table names the table in messages (the .TAB as the caller listed it).
  TMapFile(const std::string& FileName, std::string Table);
  ~TMapFile();
  TMapFile(const TMapFile&) = delete;
  TMapFile& operator=(const TMapFile&) = delete;

  int64_t Size() const { return fSize; }
  const std::string& Table() const { return fTable; }
  // The row whose object is being read, named by a failing read; 0 = the header.
  void SetRow(int64_t Row) { fRow = Row; }

  template <typename T>
  T Read(int64_t Offset) const {
    if (Offset < 0 || Offset > fSize - int64_t(sizeof(T))) RaiseOutside(Offset, int64_t(sizeof(T)));
    T v;
    std::memcpy(&v, fData + Offset, sizeof(T));
    return v;
  }

  // "Corrupt MapInfo table <table>: <Fault>".
  [[noreturn]] void RaiseCorrupt(const std::string& Fault) const;

private:
  [[noreturn]] void RaiseOutside(int64_t Offset, int64_t Count) const;

  const uint8_t* fData = nullptr;  // null for an empty file, which cannot be mapped
  int64_t fSize = 0;
  std::string fTable;
  int64_t fRow = 0;
};

// Reads the header of Map (at least cMapHeaderSize bytes): the CoordSys text,
// the unit of the table's coordinates, and the scale and displacement of each
// axis with which an integer map coordinate X becomes (X - XDispl) / XScale.
// Raises nothing of its own; a header whose numbers are not finite makes the
// text's number formatting raise EInvalidOp, so readers check it first.
//
// Kept as the format's consumers expect, though odd:
// - projection 35 has 7 parameters while the header has room for 6, so its
//   7th is read from the first datum shift at 448;
// - origin quadrant 0 is taken as quadrant 1 (no sign change);
// - a unit without a name (any unknown code, read as degrees) under a
//   projection above 1 leaves ", , " in the text.
void MapHeaderToCoordSys(const TMapFile& Map, double& XScale, double& YScale, double& XDispl, double& YDispl,
                         TCoordinateUnit& Unit, std::string& Text);

}  // namespace kovra
