// Random access to the binary files of a network directory that stay open
// while a network is open (intermediate vertices, external ids, road names),
// and the checks and messages shared by their readers.
//
// A TReadSource is one file seen from offset 0: a file the reader opened
// itself (positional reads on its own descriptor, no lock and no shared
// position, so any number of threads read at once), a caller's stream
// (borrowed, never owned; each read seeks and reads under the source's mutex),
// or bytes in memory. Readers and their clones share a source through a
// std::shared_ptr; it is released with the last of them.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "foundation/kovra_io.h"
#include "foundation/kovra_types.h"

namespace kovra {

static_assert(std::endian::native == std::endian::little, "the network files are little-endian and are read in bulk");

// ---------------------------------------------------------------------------
// The files of a network directory, named here and nowhere else. The
// geometry import writes the network files and the settings file
// ("kovra_config.ini"); the attribute import adds the value, external-id and
// road-name files. A file of the directory that is none of these is not part
// of the network.
inline constexpr const char* cLengthFileName = "length.bin";
inline constexpr const char* cLinkFileName = "link.bin";
inline constexpr const char* cCoordFileName = "coord.bin";
inline constexpr const char* cNodeFileName = "node.bin";
inline constexpr const char* cCoord3FileName = "coord3.bin";
inline constexpr const char* cCoord3iFileName = "coord3i.bin";
inline constexpr const char* cSpatialIndexFileName = "spatialindex.bin";
inline constexpr const char* cAttributeFileName = "attribute.bin";
inline constexpr const char* cIndex1FileName = "index1.bin";
inline constexpr const char* cIndex2FileName = "index2.bin";
// Limit files are numbered 1..9, road-name pairs 01..99.
inline constexpr int32_t cMaxLimitFile = 9;
inline constexpr int32_t cMaxRoadNameFile = 99;

// The files the geometry import writes besides the settings file, in the
// order it moves them into the folder (the settings file follows them all).
inline constexpr const char* cImportedFileNames[] = {cCoord3FileName, cCoord3iFileName, cLengthFileName,
                                                     cCoordFileName,  cLinkFileName,    cNodeFileName,
                                                     cSpatialIndexFileName};

// "limit" + FileNumber without padding + ".bin" (limit3.bin).
std::string LimitFileName(int32_t FileNumber);
// "roadname" / "roadnumber" + two-digit FileNumber + ".bin".
std::string RoadNameFileName(int32_t FileNumber);
std::string RoadNumberFileName(int32_t FileNumber);
// Every name a file of a network directory can have: the settings file, the
// imported files in their order, then the attribute file, the limit files,
// the external-id pair and the road-name pairs.
std::vector<std::string> NetworkDirectoryFileNames();
// True when Name (without folder) is one of NetworkDirectoryFileNames.
bool IsNetworkDirectoryFileName(const std::string& Name);

inline constexpr const char* cMsgFileMissing = "File is missing: %s";
inline constexpr const char* cMsgWrongFileSize = "Wrong size of %s: %d bytes, expected %d";
inline constexpr const char* cMsgNetworkFileCorrupted = "Network file %s is corrupted (%s)";

// EFileMissing "File is missing: %s" with FileName unless it names an existing file.
void CheckFileExists(const std::string& FileName);
// EWrongFileSize "Wrong size of %s: %d bytes, expected %d".
[[noreturn]] void RaiseWrongFileSize(const std::string& Name, int64_t Size, int64_t Expected);
// Exception "Network file %s is corrupted (%s)".
[[noreturn]] void RaiseCorrupted(const std::string& Name, const std::string& Reason);

class TReadSource {
public:
  // Opens FileName read-only (the stream's EFOpenError when it cannot).
  static std::shared_ptr<TReadSource> OpenFile(const std::string& FileName);
  // Reads the caller's Stream, whose position 0 is the start of the file. The
  // stream must outlive every reader that uses the source; its size is taken
  // now and its position belongs to the source from now on.
  static std::shared_ptr<TReadSource> Borrow(TKvStream& Stream, const std::string& Name);
  static std::shared_ptr<TReadSource> Memory(std::vector<uint8_t> Bytes, const std::string& Name);
  // The whole content of Source, copied into memory.
  static std::shared_ptr<TReadSource> Cache(const TReadSource& Source);

  TReadSource(const TReadSource&) = delete;
  TReadSource& operator=(const TReadSource&) = delete;
  virtual ~TReadSource() = default;

  // The path of a file, or the file name a caller's stream stands for: what
  // the error messages name.
  const std::string& Name() const { return fName; }
  int64_t Size() const { return fSize; }
  // The bytes, when they are in memory; null otherwise.
  const uint8_t* Data() const { return fData; }

  // Reads exactly Count bytes at Offset into Dst: EReadError "Stream read
  // error" when the source holds fewer or the read fails.
  void ReadAt(int64_t Offset, void* Dst, int64_t Count) const {
    if (fData) {
      if (Offset < 0 || Count < 0 || Offset > fSize - Count) RaiseReadError();
      if (Count > 0) std::memcpy(Dst, fData + Offset, size_t(Count));
      return;
    }
    DoReadAt(Offset, Dst, Count);
  }
  int32_t ReadInt32At(int64_t Offset) const {
    int32_t v;
    ReadAt(Offset, &v, 4);
    return v;
  }
  int64_t ReadInt64At(int64_t Offset) const {
    int64_t v;
    ReadAt(Offset, &v, 8);
    return v;
  }

protected:
  TReadSource(std::string Name, int64_t Size) : fName(std::move(Name)), fSize(Size) {}
  virtual void DoReadAt(int64_t Offset, void* Dst, int64_t Count) const = 0;
  [[noreturn]] static void RaiseReadError();

  std::string fName;
  int64_t fSize = 0;
  const uint8_t* fData = nullptr;
};

}  // namespace kovra
