// The shapefile reader of the import on arbitrary files. The input holds a
// little-endian UInt32 length and the .shp bytes, the same for the .shx, one
// byte of settings (bit 0 degrees instead of metres, bit 1 loops allowed,
// bit 2 the second field as the last vertex's z-level), then the .dbf (none
// when empty: no z-levels). A run either reads
// every record or raises the library's error; a run that raised leaves no
// vertex file, and a finished one leaves vertex files that agree.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "import/kovra_import.h"

namespace fs = std::filesystem;

namespace {

// The reading stage alone; the build is not under test here.
class TReadOnlyImport : public kovra::TImport {
protected:
  void Build() override {}
};

const fs::path& Folder() {
  static const fs::path dir = [] {
    std::string templ = (fs::temp_directory_path() / "kovra_fuzz_shp_XXXXXX").string();
    if (!::mkdtemp(templ.data())) std::abort();
    fs::create_directories(fs::path(templ) / "in");
    fs::create_directories(fs::path(templ) / "out");
    static const std::string keep = templ;
    std::atexit([] {
      std::error_code ec;
      fs::remove_all(keep, ec);
    });
    return fs::path(templ);
  }();
  return dir;
}

void Write(const fs::path& p, std::string_view bytes) {
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), std::streamsize(bytes.size()));
}

// Takes a length-prefixed piece off the front of data.
std::string_view Piece(std::string_view& data) {
  if (data.size() < 4) {
    std::string_view all = data;
    data = {};
    return all;
  }
  uint32_t n;
  std::memcpy(&n, data.data(), 4);
  data.remove_prefix(4);
  if (n > data.size()) n = uint32_t(data.size());
  std::string_view p = data.substr(0, n);
  data.remove_prefix(n);
  return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  const std::string_view shp = Piece(in);
  const std::string_view shx = Piece(in);
  const uint8_t flags = in.empty() ? 0 : uint8_t(in.front());
  if (!in.empty()) in.remove_prefix(1);
  const std::string_view dbf = in;

  const fs::path dir = Folder();
  const fs::path out = dir / "out";
  for (const char* ext : {".shp", ".shx", ".dbf"}) fs::remove(dir / "in" / (std::string("roads") + ext));
  Write(dir / "in" / "roads.shp", shp);
  Write(dir / "in" / "roads.shx", shx);
  if (!dbf.empty()) Write(dir / "in" / "roads.dbf", dbf);

  // An empty output folder, so that whatever is there afterwards is this run's.
  for (const char* name : {kovra::cCoordFromFile, kovra::cCoordToFile, kovra::cCoord3File, kovra::cCoord3iFile})
    fs::remove(out / name);

  TReadOnlyImport imp;
  imp.SetDirectory(out.string());
  imp.Add((dir / "in" / "roads.shp").string());
  imp.SetCoordinateUnit((flags & 1) ? kovra::cuDeg : kovra::cuM);
  imp.SetAllowLoops((flags & 2) != 0);
  if (!dbf.empty()) {
    imp.SetZFromField(0);
    imp.SetZToField(flags & 4 ? 1 : 0);
  }
  bool finished = true;
  try {
    imp.Execute();
  } catch (const kovra::Exception&) {
    finished = false;
  }
  const auto sizeOf = [&](const char* name) -> int64_t {
    std::error_code ec;
    const auto n = fs::file_size(out / name, ec);
    return ec ? -1 : int64_t(n);
  };
  const int64_t links = imp.LinkCount();
  if (!finished) {
    for (const char* name : {kovra::cCoordFromFile, kovra::cCoordToFile, kovra::cCoord3File, kovra::cCoord3iFile})
      if (sizeOf(name) >= 0) std::abort();  // a failed run leaves nothing
    return 0;
  }
  if (sizeOf(kovra::cCoordFromFile) != 16 * links || sizeOf(kovra::cCoordToFile) != 16 * links ||
      sizeOf(kovra::cCoord3iFile) != 4 * (links + 1) || sizeOf(kovra::cCoord3File) % 16 != 0)
    std::abort();
  return 0;
}
