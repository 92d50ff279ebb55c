// The MapInfo TAB reader of TImport: rows in .id order, each one link; the
// objects and their coordinate blocks from the mapped .map, the unit and the
// CoordSys text from its header, z-levels from the .dat tables.
#include <algorithm>
#include <cmath>
#include <string_view>

#include "foundation/kovra_charset.h"
#include "foundation/kovra_dbffiles.h"
#include "foundation/kovra_functions.h"
#include "foundation/kovra_io.h"
#include "foundation/kovra_textfilereader.h"
#include "import/kovra_coordsys.h"
#include "import/kovra_import.h"

namespace kovra {

namespace {

// Code page of the .dat tables: the charset named on the first line of the
// .TAB that is no comment and names one ("Type NATIVE Charset "name""). An
// unknown name gives 0, the table's own code page; no such line gives 1252.
uint16_t TabCharsetCodePage(const std::string& tab) {
  TTextFileReader reader(tab, 0);
  std::string line;
  while (!reader.Eof()) {
    reader.ReadLine(line);
    const std::string_view t = TrimView(line);
    if (t.empty() || t.front() == '!') continue;
    // Upper-casing ASCII keeps every byte where it was.
    const size_t c = UpperAscii(line).find("CHARSET");
    if (c == std::string::npos) continue;
    std::string_view name = TrimView(std::string_view(line).substr(c + 7));
    if (!name.empty()) name.remove_prefix(1);  // the opening quote
    return CharSetList().Charset2CodePage(name.substr(0, name.find('"')));
  }
  return 1252;
}

// The block size of a map whose header can be used; raises for one that cannot.
int64_t CheckMapHeader(const TMapFile& map) {
  if (map.Size() < cMapHeaderSize) map.RaiseCorrupt("the map is shorter than its 512-byte header");
  const int64_t size = map.Read<uint16_t>(262);
  // Blocks are found by division; a size of 0 would divide by zero.
  if (size == 0 || size % 512 != 0) map.RaiseCorrupt(Format("block size %d is not a multiple of 512", size));
  for (int64_t at = 368; at < 400; at += 8)
    if (!std::isfinite(map.Read<double>(at)))
      map.RaiseCorrupt(Format("the scale or displacement at %d is not a finite number", at));
  if (map.Read<double>(368) == 0 || map.Read<double>(376) == 0) map.RaiseCorrupt("a scale of the header is 0");
  return size;
}

// Reads the coordinates of one row's object from the map.
class TObjectReader {
public:
  TObjectReader(const TMapFile& map, int64_t blockSize, int64_t pointerSize, double xScale, double yScale,
                double xDispl, double yDispl)
      : fMap(map), fBlockSize(blockSize), fP(pointerSize), fXScale(xScale), fYScale(yScale), fXDispl(xDispl),
        fYDispl(yDispl) {}

  int64_t Pointer(int64_t at) const { return fP == 4 ? fMap.Read<int32_t>(at) : fMap.Read<int64_t>(at); }

  TFloatPoint Point(int64_t X, int64_t Y) const {
    return {(double(X) - fXDispl) / fXScale, (double(Y) - fYDispl) / fYScale};
  }

  // A pointer read from the file that must lie in the map; raises naming it.
  void CheckPointer(int64_t row, const char* what, int64_t pointer) const {
    if (pointer < 0 || pointer >= fMap.Size())
      fMap.RaiseCorrupt(Format("row %d: %s %d lies outside the map of %d bytes", row, what, pointer, fMap.Size()));
  }

  // The centre of the object block holding q; read once per run of objects in one block.
  void Centre(int64_t q, int64_t& x, int64_t& y) {
    const int64_t b = q / fBlockSize;
    if (b != fCentreBlock) {
      fCentreX = fMap.Read<int32_t>(b * fBlockSize + 4);
      fCentreY = fMap.Read<int32_t>(b * fBlockSize + 8);
      fCentreBlock = b;
    }
    x = fCentreX;
    y = fCentreY;
  }

  // n vertices of a polyline whose coordinate data starts at d, each value
  // an Int16 delta from the origin (compressed) or an Int32.
  void Vertices(int64_t row, int64_t d, int32_t n, bool compressed, int64_t ox, int64_t oy, TFloatPoint* out) {
    CheckPointer(row, "coordinate data pointer", d);
    // Block arithmetic by division: a block size need not be a power of two.
    fBlock = d / fBlockSize * fBlockSize;
    fPos = d;
    const int64_t bytes = int64_t(n) * (compressed ? 4 : 8);
    const int64_t first = fBlock + fBlockSize - d;
    const int64_t perBlock = fBlockSize - 2 * fP;
    const int64_t more = bytes > first ? (bytes - first + perBlock - 1) / perBlock : 0;
    if (1 + more > fMap.Size() / fBlockSize)
      fMap.RaiseCorrupt(Format("row %d: the data of %d vertices does not fit the map's %d blocks", row, n,
                               fMap.Size() / fBlockSize));
    if (compressed) {
      for (int32_t k = 0; k < n; ++k) {
        const int64_t x = ox + Value<int16_t>(row);
        out[k] = Point(x, oy + Value<int16_t>(row));
      }
    } else {
      for (int32_t k = 0; k < n; ++k) {
        const int64_t x = Value<int32_t>(row);
        out[k] = Point(x, Value<int32_t>(row));
      }
    }
  }

private:
  // The next coordinate value; at the end of a block the data goes on in the
  // block its header points to.
  template <typename T>
  T Value(int64_t row) {
    if (fPos % fBlockSize == 0) {
      const int64_t next = Pointer(fBlock + fP);
      if (next == 0) fMap.RaiseCorrupt(Format("row %d: next-block pointer 0 in the middle of the object", row));
      CheckPointer(row, "next-block pointer", next);
      if (next % fBlockSize != 0)
        fMap.RaiseCorrupt(Format("row %d: next-block pointer %d is not the start of a block", row, next));
      fBlock = next;
      fPos = next + 2 * fP;
    }
    const T v = fMap.Read<T>(fPos);
    fPos += int64_t(sizeof(T));
    return v;
  }

  const TMapFile& fMap;
  const int64_t fBlockSize, fP;
  const double fXScale, fYScale, fXDispl, fYDispl;
  int64_t fCentreBlock = -1, fCentreX = 0, fCentreY = 0;
  int64_t fBlock = 0, fPos = 0;  // current coordinate block and read position
};

}  // namespace

void TImport::CheckTAB() {
  const int64_t P = fKind == TInputKind::ikTAB1500 ? 8 : 4;
  for (TInputFile& f : fInputs) {
    f.Map = FindSibling(f.Name, "map");  // the kind test found it
    f.Id = RequiredCompanion(f.Name, "id");
    f.Records = std::max<int64_t>(0, GetFileSizeByName(f.Id)) / P;
    if (WantZLevels()) f.Dbf = RequiredCompanion(f.Name, "dat");
  }
  fDatCodePage = TabCharsetCodePage(fInputs.front().Name);
  if (WantZLevels()) {
    OpenZTables(fDatCodePage);
    // Levels are read by record number over all tables: a table with another
    // number of records than rows would hand its levels to the wrong links.
    for (size_t i = 0; i < fInputs.size(); ++i) {
      const int64_t records = fZTableEnds[i] - (i == 0 ? 0 : fZTableEnds[i - 1]);
      if (records != fInputs[i].Records)
        throw Exception(Format("Corrupt MapInfo table %s: %d rows in the .id but %d records in the .dat",
                               fInputs[i].Name, fInputs[i].Records, records));
    }
  }
}

void TImport::ReadTAB(int32_t layout) {
  const int64_t P = layout == 0 ? 4 : 8;
  int64_t total = 0;
  for (const TInputFile& f : fInputs) total += f.Records;
  SetProgressMaxValue(double(total));
  fZLevels = fZTables != nullptr;
  VertexBuffer(2);

  for (size_t i = 0; i < fInputs.size() && !Cancelled(); ++i) {
    const TInputFile& f = fInputs[i];
    const int32_t fileindex = int32_t(i);
    TMapFile map(f.Map, f.Name);
    const int64_t blockSize = CheckMapHeader(map);
    TKvBufferedStream id(new TKvFileStream(f.Id, fmOpenRead | fmShareDenyWrite), true);

    double xScale, yScale, xDispl, yDispl;
    TCoordinateUnit unit;
    std::string text;
    try {
      MapHeaderToCoordSys(map, xScale, yScale, xDispl, yDispl, unit, text);
    } catch (const EInvalidOp&) {
      map.RaiseCorrupt("a projection or datum parameter of the header is not a finite number");
    }
    fCoordinateUnit = unit;
    if (i == 0) {
      fCoordSys = text;
      SetZRadius();
    } else if (fFailOnDifferentCoordSys && text != fCoordSys) {
      throw Exception("Different Coordsys in input tables (" + f.Name + ")");
    }

    TObjectReader objects(map, blockSize, P, xScale, yScale, xDispl, yDispl);
    // Rows as the .id is now, whatever the check saw.
    const int64_t rows = id.Size() / P;
    fLinkCountFile = 0;
    for (int64_t r = 1; r <= rows; ++r) {
      NextTableObject();
      map.SetRow(r);

      const int64_t q = P == 4 ? id.ReadInt32() : id.ReadInt64();
      if (q == 0) {
        // Also how GDAL stores a row without geometry.
        AddError(fileindex, fLinkCountFile, fLinkCount, ecDeleted, 0);
      } else {
        objects.CheckPointer(r, "object pointer", q);
        const uint8_t type = map.Read<uint8_t>(q);
        const int64_t at = q + P + 1;  // after the type byte and the object id
        TFloatPoint* v = VertexBuffer(2);
        switch (type) {
          case 4: {
            int64_t cx, cy;
            objects.Centre(q, cx, cy);
            for (int32_t k = 0; k < 2; ++k) {
              const int64_t x = cx + map.Read<int16_t>(at + 4 * k);
              v[k] = objects.Point(x, cy + map.Read<int16_t>(at + 4 * k + 2));
            }
            fNumPoints = 2;
            AddPolyline(fileindex);
            break;
          }
          case 5:
            for (int32_t k = 0; k < 2; ++k) {
              const int64_t x = map.Read<int32_t>(at + 8 * k);
              v[k] = objects.Point(x, map.Read<int32_t>(at + 8 * k + 4));
            }
            fNumPoints = 2;
            AddPolyline(fileindex);
            break;
          case 7:
          case 8: {
            const bool compressed = type == 7;
            const int64_t d = objects.Pointer(at);
            // The top bit is a smoothing flag, not part of the size.
            const uint32_t s = map.Read<uint32_t>(at + P);
            const int32_t n = compressed ? int32_t((s >> 2) & 0x1FFFFFFF) : int32_t((s >> 3) & 0x0FFFFFFF);
            if (n < 2) {
              AddError(fileindex, fLinkCountFile, fLinkCount, ecZeroOrOneVertices, n);
            } else if (n > cMaxVerticesPerObject) {
              AddError(fileindex, fLinkCountFile, fLinkCount, ecTooManyVertices, n);
            } else {
              int64_t ox = 0, oy = 0;
              if (compressed) {
                ox = map.Read<int32_t>(q + 2 * P + 9);
                oy = map.Read<int32_t>(q + 2 * P + 13);
              }
              objects.Vertices(r, d, n, compressed, ox, oy, VertexBuffer(n));
              fNumPoints = n;
              AddPolyline(fileindex);
            }
            break;
          }
          default:
            AddError(fileindex, fLinkCountFile, fLinkCount, ecNotPolyLine, type);
            break;
        }
      }
      if (Cancelled()) break;
    }
  }
  WriteVertexIndex();
  CloseVertexFiles();
  fZTables.reset();
}

}  // namespace kovra
