// The desktop program's readers of input files before an import: the Scan of
// a MIF header, the file-set checks of shapefiles and TAB tables, and the MID
// line count. Each is compared with a model written from the rules.
//
// Input: a selector byte (mod 4), then
//   0  the .mif bytes (Scan);
//   1  shx size (2 bytes, mod 400), then the .dbf bytes;
//   2  id size (2 bytes, mod 400), .tab text (a piece of up to 64 bytes), then the .dat bytes;
//   3  buffer size (1 byte, 1..64), then the .mid bytes.
#include <algorithm>
#include <cstdint>
#include <set>
#include <string>

#include "app/core/studio_functions.h"
#include "foundation/kovra_textfilereader.h"
#include "fuzz_support.h"
#include "platform/kovra_sysutils.h"

using namespace kovra::fuzz;
using studio::TFieldListId;

namespace {

uint64_t LE(std::string_view b, size_t at, size_t width) {
  uint64_t v = 0;
  for (size_t i = 0; i < width; ++i) v |= uint64_t(uint8_t(b[at + i])) << (8 * i);
  return v;
}

void FuzzScan(std::string_view bytes) {
  const std::string mif = WriteFuzzFile("scan.mif", bytes);
  studio::TScanResult r;
  try {
    r = studio::ScanMif(mif);
  } catch (const kovra::EConvertError&) {
    return;  // a COLUMNS count that is no integer
  }
  const auto& numeric = r.Fields[size_t(TFieldListId::flZFrom)];
  const auto& text = r.Fields[size_t(TFieldListId::flRoadname1)];
  for (TFieldListId id : {TFieldListId::flZTo, TFieldListId::flAttribute, TFieldListId::flLimit1,
                          TFieldListId::flLimit2, TFieldListId::flLimit3, TFieldListId::flExternalIDint})
    Check(r.Fields[size_t(id)] == numeric, "numeric lists differ");
  for (TFieldListId id : {TFieldListId::flRoadname2, TFieldListId::flRoadname3, TFieldListId::flExternalIDstring})
    Check(r.Fields[size_t(id)] == text, "text lists differ");
  std::set<int32_t> numbers;
  for (const auto* list : {&numeric, &text})
    for (const studio::TFieldEntry& e : *list) {
      Check(e.Number >= 0 && size_t(e.Number) < bytes.size(), "a column number past the lines of the file");
      Check(numbers.insert(e.Number).second, "a column listed twice");
      Check(!e.Name.empty() && e.Name.find(' ') == std::string::npos, "a column name with a blank");
      Check(e.Name == kovra::UpperAscii(e.Name), "a column name not upper-cased");
    }
}

void FuzzShp(TFuzzInput& in) {
  const size_t shxSize = in.UInt16() % 400;
  const std::string_view dbf = in.Rest();
  WriteFuzzFile("set.shx", std::string(shxSize, '\0'));
  WriteFuzzFile("set.dbf", dbf);
  const std::string shp = WriteFuzzFile("set.shp", "");
  const bool model = shxSize >= 100 && dbf.size() >= 8 && (shxSize - 100) / 8 == LE(dbf, 4, 4);
  Check(studio::FileSetValid(shp) == model, "shapefile set check differs from the model");
}

void FuzzTab(TFuzzInput& in) {
  const size_t idSize = in.UInt16() % 400;
  const std::string_view tab = in.Piece(64);
  const std::string_view dat = in.Rest();
  WriteFuzzFile("set.id", std::string(idSize, '\0'));
  WriteFuzzFile("set.dat", dat);
  const std::string name = WriteFuzzFile("set.tab", tab);
  const bool nativex = kovra::UpperAscii(tab).find("TYPE NATIVEX") != std::string::npos;
  Check(studio::IsNativeXTab(name) == nativex, "NATIVEX test differs from the model");
  const size_t w = nativex ? 8 : 4;
  const bool model = dat.size() >= 4 + w && idSize / w == LE(dat, 4, w);
  Check(studio::FileSetValid(name) == model, "TAB set check differs from the model");
}

void FuzzLines(TFuzzInput& in) {
  const int32_t buffer = 1 + in.Byte() % 64;
  const std::string mid = WriteFuzzFile("count.mid", in.Rest());
  int64_t lines = 0;
  {
    kovra::TTextFileReader r(mid, 0);
    while (!r.Eof()) {
      r.ReadLine();
      ++lines;
    }
  }
  Check(studio::CountTextLines(mid, buffer) == lines, "line count differs from the text reader");
  Check(studio::CountTextLines(mid) == lines, "line count differs with the full buffer");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFuzzInput in(data, size);
  switch (in.Byte() % 4) {
    case 0:
      FuzzScan(in.Rest());
      break;
    case 1:
      FuzzShp(in);
      break;
    case 2:
      FuzzTab(in);
      break;
    default:
      FuzzLines(in);
      break;
  }
  return 0;
}
