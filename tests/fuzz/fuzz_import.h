// What the import's fuzz targets share: a folder of their own, inputs cut
// into length-prefixed pieces, an import that stops after its reading stage,
// and the check of what a run left behind.
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
class TReadOnlyImport : public TImport {
protected:
  void Build() override {}
};

// A temporary folder with the subfolders in/ and out/, removed at exit.
inline const std::filesystem::path& ImportFolder(const char* Name) {
  namespace fs = std::filesystem;
  static const fs::path dir = [Name] {
    std::string templ = (fs::temp_directory_path() / (std::string("kovra_fuzz_") + Name + "_XXXXXX")).string();
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

inline void WriteFile(const std::filesystem::path& Path, std::string_view Bytes) {
  std::ofstream f(Path, std::ios::binary | std::ios::trunc);
  f.write(Bytes.data(), std::streamsize(Bytes.size()));
}

// Takes a piece off the front of Data: a little-endian UInt32 length and that
// many bytes (what is there when the length runs past the end).
inline std::string_view TakePiece(std::string_view& Data) {
  if (Data.size() < 4) {
    std::string_view all = Data;
    Data = {};
    return all;
  }
  uint32_t n;
  std::memcpy(&n, Data.data(), 4);
  Data.remove_prefix(4);
  if (n > Data.size()) n = uint32_t(Data.size());
  std::string_view p = Data.substr(0, n);
  Data.remove_prefix(n);
  return p;
}

// Runs Imp into Out, emptied first so that whatever is there afterwards is
// this run's. The run either finishes or raises the library's error; one that
// raised leaves no vertex file, a finished one leaves vertex files that agree
// with its link count; neither leaves its staging folder. Anything else aborts.
inline void RunReadStage(TReadOnlyImport& Imp, const std::filesystem::path& Out) {
  namespace fs = std::filesystem;
  const char* files[] = {cCoordFromFile, cCoordToFile, cCoord3FileName, cCoord3iFileName};
  for (const char* name : files) fs::remove(Out / name);
  Imp.SetDirectory(Out.string());
  bool finished = true;
  try {
    Imp.Execute();
  } catch (const Exception&) {
    finished = false;
  }
  const auto sizeOf = [&](const char* name) -> int64_t {
    std::error_code ec;
    const auto n = fs::file_size(Out / name, ec);
    return ec ? -1 : int64_t(n);
  };
  const int64_t links = Imp.LinkCount();
  if (fs::exists(Out / cImportStagingFolder)) std::abort();
  if (!finished) {
    for (const char* name : files)
      if (sizeOf(name) >= 0) std::abort();  // a failed run leaves nothing
    return;
  }
  if (sizeOf(cCoordFromFile) != 16 * links || sizeOf(cCoordToFile) != 16 * links ||
      sizeOf(cCoord3iFileName) != 4 * (links + 1) || sizeOf(cCoord3FileName) % 16 != 0)
    std::abort();
}

}  // namespace kovra::fuzz
