// The shapefile reader of TImport: records in .shx order, each one link; the
// unit from the first .prj, z-levels from the .dbf tables.
#include <algorithm>
#include <bit>

#include "foundation/kovra_dbffiles.h"
#include "foundation/kovra_functions.h"
#include "foundation/kovra_io.h"
#include "import/kovra_import.h"

namespace kovra {

namespace {

static_assert(std::endian::native == std::endian::little && sizeof(TFloatPoint) == 16,
              "shapefile points are read straight into the vertex buffer");

constexpr int64_t cShpHeaderSize = 100;
constexpr int64_t cShxEntrySize = 8;
// Record content up to the point array: type, box, part and point counts.
constexpr int64_t cPolyLineFixedSize = 44;

constexpr uint32_t SwapBytes(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

bool IsPolyLineType(int32_t t) { return t == 3 || t == 13 || t == 23; }

std::unique_ptr<TKvBufferedStream> OpenInput(const std::string& name) {
  return std::make_unique<TKvBufferedStream>(new TKvFileStream(name, fmOpenRead | fmShareDenyWrite), true);
}

[[noreturn]] void RaiseCorruptShapefile(const std::string& name) {
  throw Exception(Format("Corrupt shapefile %s", name));
}

// Big-endian UInt32 at Offset of an open file.
uint32_t ReadUInt32BE(TKvFileStream& f, int64_t Offset) {
  f.Seek(Offset, soBeginning);
  return SwapBytes(f.ReadUInt32());
}

// A .shx cut short loses records silently, since the record count comes from
// its size: its header states its full length, and its last record must end
// where the .shp's records end (both lengths in 16-bit words at byte 24).
void CheckShxCoversShp(const std::string& Shx, int64_t ShxSize, const std::string& Shp, int64_t ShpSize) {
  TKvFileStream shx(Shx, fmOpenRead | fmShareDenyWrite);
  const int64_t stated = 2 * int64_t(ReadUInt32BE(shx, 24));
  if (ShxSize < stated)
    throw Exception(Format("Corrupt shapefile %s: %d bytes, its header says %d", Shx, ShxSize, stated));
  TKvFileStream shp(Shp, fmOpenRead | fmShareDenyWrite);
  const int64_t shpEnd = std::min(ShpSize, 2 * int64_t(ReadUInt32BE(shp, 24)));
  const int64_t records = (ShxSize - cShpHeaderSize) / cShxEntrySize;
  int64_t indexed = cShpHeaderSize;
  if (records > 0) {
    const int64_t at = cShpHeaderSize + (records - 1) * cShxEntrySize;
    indexed = 2 * int64_t(ReadUInt32BE(shx, at)) + 8 + 2 * int64_t(ReadUInt32BE(shx, at + 4));
  }
  if (indexed < shpEnd)
    throw Exception(Format("Corrupt shapefile %s: its %d records end at byte %d of %s, whose records run to %d", Shx,
                           records, indexed, Shp, shpEnd));
}

}  // namespace

void TImport::CheckSHP() {
  // Files and companions first, then the tables, then the headers.
  std::vector<int32_t> shapeTypes;
  for (TInputFile& f : fInputs) {
    TKvFileStream shp(f.Name, fmOpenRead | fmShareDenyWrite);
    f.ShpSize = shp.Size();
    int32_t type = -1;
    if (f.ShpSize >= cShpHeaderSize) {
      shp.Seek(32, soBeginning);
      type = shp.ReadInt32();
    }
    shapeTypes.push_back(type);
    f.Shx = RequiredCompanion(f.Name, "shx");
    const int64_t shxSize = GetFileSizeByName(f.Shx);
    f.Records = shxSize < cShpHeaderSize ? -1 : (shxSize - cShpHeaderSize) / cShxEntrySize;
    if (WantZLevels()) f.Dbf = RequiredCompanion(f.Name, "dbf");
  }

  if (WantZLevels()) OpenZTables(0);

  for (size_t i = 0; i < fInputs.size(); ++i) {
    const TInputFile& f = fInputs[i];
    if (f.ShpSize < cShpHeaderSize) RaiseCorruptShapefile(f.Name);
    if (f.Records < 0) RaiseCorruptShapefile(f.Shx);
    if (!IsPolyLineType(shapeTypes[i])) throw Exception("Only polyline SHP files are supported in translator");
    CheckShxCoversShp(f.Shx, GetFileSizeByName(f.Shx), f.Name, f.ShpSize);
  }
  if (WantZLevels()) {
    // Levels are read by record number over all tables: a table with another
    // number of records than its shapefile would hand later levels to the
    // wrong links.
    for (size_t i = 0; i < fInputs.size(); ++i) {
      const int64_t records = fZTableEnds[i] - (i == 0 ? 0 : fZTableEnds[i - 1]);
      if (records != fInputs[i].Records)
        throw Exception(Format("Corrupt shapefile %s: %d records in the .shx but %d records in %s", fInputs[i].Name,
                               fInputs[i].Records, records, fInputs[i].Dbf));
    }
  }

  fFoundUnit = fCoordinateUnit;
  fFoundPrj = fPrj;
  if (fCoordinateUnit == cuUnknown) {
    const std::string prj = FindSibling(fInputs.front().Name, "prj");
    fFoundPrj = prj.empty() ? std::string() : ReadFirstLine(prj);
    fFoundUnit = PrjToCoordinateUnit(fFoundPrj);
    if (fFoundUnit == cuUnknown) throw Exception("No coordinate unit defined / found in PRJ file");
  }
}

void TImport::ReadZLevels(int32_t RecNum) {
  // Names the table and record: the table reader's messages name neither.
  auto where = [&](int32_t field) {
    const size_t k =
        size_t(std::lower_bound(fZTableEnds.begin(), fZTableEnds.end(), int64_t(RecNum)) - fZTableEnds.begin());
    const int64_t local = RecNum - (k == 0 ? 0 : fZTableEnds[k - 1]);
    return Format(" (field %s, record %d of %s)", fZTables->FieldInfo(field).Name, local,
                  k < fInputs.size() ? fInputs[k].Dbf : std::string());
  };
  auto level = [&](int32_t field) -> int32_t {
    // A NULL number (blank or '*'-filled) is level 0.
    if (fZTables->IsNull(field, RecNum)) return 0;
    int64_t v = 0;
    try {
      v = fZTables->ReadInteger(field, RecNum);
    } catch (const Exception& e) {
      if (dynamic_cast<const EConvertError*>(&e)) throw EConvertError(e.Message() + where(field));
      throw Exception(e.Message() + where(field));
    }
    if (v < cMinZLevel || v > cMaxZLevel) throw EOutOfRange("Z-levels of out range (-9..9)" + where(field));
    return int32_t(v);
  };
  fZFrom = level(fZfromField);
  fZTo = level(fZtoField);
}

void TImport::ReadSHP() {
  int64_t total = 0;
  for (const TInputFile& f : fInputs) total += f.Records;
  SetProgressMaxValue(double(total));
  if (fCoordinateUnit == cuUnknown) {
    fPrj = fFoundPrj;
    fCoordinateUnit = fFoundUnit;
  }
  SetZRadius();
  fZLevels = fZTables != nullptr;

  for (size_t i = 0; i < fInputs.size() && !Cancelled(); ++i) {
    const TInputFile& f = fInputs[i];
    const int32_t fileindex = int32_t(i);
    auto shp = OpenInput(f.Name);
    auto shx = OpenInput(f.Shx);
    // Sizes as the files are now, whatever the check saw.
    const int64_t shpSize = shp->Size();
    const int64_t shxSize = shx->Size();
    if (shpSize < cShpHeaderSize) RaiseCorruptShapefile(f.Name);
    if (shxSize < cShpHeaderSize) RaiseCorruptShapefile(f.Shx);
    const int64_t records = (shxSize - cShpHeaderSize) / cShxEntrySize;
    shx->Seek(cShpHeaderSize, soBeginning);
    fLinkCountFile = 0;
    for (int64_t r = 1; r <= records; ++r) {
      NextTableObject();

      const int64_t offset = 2 * int64_t(SwapBytes(shx->ReadUInt32()));
      const int64_t length = 2 * int64_t(SwapBytes(shx->ReadUInt32()));
      const int64_t c = offset + 8;
      auto corrupt = [&]() { throw Exception(Format("Corrupt shapefile record %d in %s", r, f.Name)); };
      if (offset < cShpHeaderSize || length < 4 || c + 4 > shpSize) corrupt();
      shp->Seek(c, soBeginning);
      const int32_t type = shp->ReadInt32();
      if (type == 0) {
        AddError(fileindex, fLinkCountFile, fLinkCount, ecNotGeoCoded, 0);
      } else if (IsPolyLineType(type)) {
        if (length < cPolyLineFixedSize || c + cPolyLineFixedSize > shpSize) corrupt();
        shp->Seek(c + 36, soBeginning);
        const int32_t parts = shp->ReadInt32();
        const int32_t n = shp->ReadInt32();
        if (parts < 0 || n < 0 || (parts == 0 && n > 0)) corrupt();
        const int64_t need = cPolyLineFixedSize + 4 * int64_t(parts) + 16 * int64_t(n);
        if (need > length || c + need > shpSize) corrupt();
        if (parts >= 2) {
          AddError(fileindex, fLinkCountFile, fLinkCount, ecMultiSection, parts);
        } else if (n <= 1) {
          AddError(fileindex, fLinkCountFile, fLinkCount, ecZeroOrOneVertices, n);
        } else if (n > cMaxVerticesPerObject) {
          AddError(fileindex, fLinkCountFile, fLinkCount, ecTooManyVertices, n);
        } else {
          shp->Seek(c + cPolyLineFixedSize + 4 * int64_t(parts), soBeginning);
          shp->ReadBuffer(VertexBuffer(n), 16 * n);
          fNumPoints = n;
          AddPolyline(fileindex);
        }
      } else {
        AddError(fileindex, fLinkCountFile, fLinkCount, ecNotPolyLine, type);
      }
      if (Cancelled()) break;
    }
  }
  WriteVertexIndex();
  CloseVertexFiles();
  fZTables.reset();
}

}  // namespace kovra
