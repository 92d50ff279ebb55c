// Shared parts of the fuzz targets of the import's readers: a reading-stage
// import, a scratch folder with an input and an output folder, inputs cut into
// length-prefixed pieces, and the check of what a run leaves behind.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "import/kovra_import.h"

namespace kovra::fuzz {

// The reading stage alone; the build is not under test here.
class TReadOnlyImport : public kovra::TImport {
protected:
  void Build() override {}
};

// A folder with "in" and "out" below it, made once per process and removed at exit.
inline const std::filesystem::path& ImportFolder() {
  namespace fs = std::filesystem;
  static const fs::path dir = [] {
    std::string templ = (fs::temp_directory_path() / "kovra_fuzz_import_XXXXXX").string();
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

inline void WriteFile(const std::filesystem::path& p, std::string_view bytes) {
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), std::streamsize(bytes.size()));
}

// Takes a piece off the front of data: a little-endian UInt32 length and that
// many bytes (what is there when the length runs past the end).
inline std::string_view TakePiece(std::string_view& data) {
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

// Empties the output folder, so that whatever is there afterwards is this run's.
inline void ClearOutput(const std::filesystem::path& out) {
  for (const char* name : {kovra::cCoordFromFile, kovra::cCoordToFile, kovra::cCoord3File, kovra::cCoord3iFile})
    std::filesystem::remove(out / name);
}

// Runs the import: either it reads every object or it raises the library's
// error; a run that raised leaves no vertex file, a finished one leaves vertex
// files that agree with its link count. Anything else aborts.
inline void RunAndCheck(TReadOnlyImport& imp, const std::filesystem::path& out) {
  bool finished = true;
  try {
    imp.Execute();
  } catch (const kovra::Exception&) {
    finished = false;
  }
  const auto sizeOf = [&](const char* name) -> int64_t {
    std::error_code ec;
    const auto n = std::filesystem::file_size(out / name, ec);
    return ec ? -1 : int64_t(n);
  };
  const int64_t links = imp.LinkCount();
  if (!finished) {
    for (const char* name : {kovra::cCoordFromFile, kovra::cCoordToFile, kovra::cCoord3File, kovra::cCoord3iFile})
      if (sizeOf(name) >= 0) std::abort();  // a failed run leaves nothing
    return;
  }
  if (sizeOf(kovra::cCoordFromFile) != 16 * links || sizeOf(kovra::cCoordToFile) != 16 * links ||
      sizeOf(kovra::cCoord3iFile) != 4 * (links + 1) || sizeOf(kovra::cCoord3File) % 16 != 0)
    std::abort();
}

}  // namespace kovra::fuzz
