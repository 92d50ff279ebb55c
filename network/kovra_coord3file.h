// TCoord3File: the intermediate vertices of each link (the points of its
// polyline between its two end nodes), from "coord3.bin" and its index
// "coord3i.bin", read from the files on every call or from a copy in memory.
//
// The files come from the network directory or from two caller streams,
// which the reader borrows and never frees; position 0 of such a stream is
// the start of its file. The files are checked when the reader opens, so a
// damaged file is refused there rather than misread later.
//
// Reads are const and safe from any number of threads at once: from a file
// the reader opened itself they are positional, from caller streams they are
// serialised by the shared source, and cached vertices are read-only memory.
// A clone shares the sources or the cache with its original.
#pragma once

#include <cstdint>
#include <memory>

#include "foundation/kovra_encryption.h"
#include "foundation/kovra_filebase.h"
#include "foundation/kovra_io.h"
#include "foundation/kovra_types.h"
#include "network/kovra_networkfile.h"

namespace kovra {

class TReadSource;

inline constexpr const char* cMsgCoord3IndexArgument = "Coord3file.GetCoord index argument %d > %d";
inline constexpr const char* cMsgCoord3NotOpen = "Intermediate vertices are not open";
inline constexpr const char* cMsgCoord3Record = "Coord3file record %d is outside 0 to %d";

class TCoord3File : public TFileBase {
public:
  // A closed reader.
  TCoord3File();
  // With both streams: opens on them at once (checked as by Open) with the
  // given key, caching the vertices when cache is set. With either stream
  // null the reader stays closed; Open then reads the missing file from
  // Directory. The streams stay the caller's.
  TCoord3File(bool cache, int64_t EncKey, TKvStream* coord3stream, TKvStream* coord3istream);
  ~TCoord3File() override;

  // Number of links the index covers.
  int32_t Count() const { return FCount; }
  bool Cached() const { return FCached; }

  // Nothing when open. Raises EFileMissing "File is missing: %s" for a missing
  // Directory + "coord3.bin", then "coord3i.bin" (a file given as a stream is
  // not looked for); EWrongFileSize or "Network file %s is corrupted (%s)" for
  // files that do not fit together. On failure the reader stays closed.
  // With Cache every vertex is read into memory, with progress per link.
  void Open(bool Cache);
  // Reads every vertex of an open reader into memory and lets go of the files.
  void LoadIntoCache();

  // RecID is the link number minus 1. Sets List.Count to n + 2 (n the link's
  // intermediate vertices), grows List.Pnt to at least that (never shrinks it)
  // and puts the vertices into elements 1..n; elements 0 and n + 1 are the
  // caller's (the end nodes).
  void ReadSection(int32_t RecID, TFloatPointArrayEx& List) const;
  // With the vertices cached: the cache in place (valid while the reader
  // stays open): record r's vertices are Points[First[r]] to
  // Points[First[r + 1] - 1], r = 0..Count-1. Uncached: false, so that the
  // caller reads them with ReadSection.
  bool CachedVertices(const int32_t*& First, const TFloatPoint*& Points) const;
  // n + 2.
  int32_t GetCount(int32_t RecID) const;
  // Vertex `index` (0-based among the n) of record RecID; EOutOfRange
  // "Coord3file.GetCoord index argument %d > %d" (index, n - 1) beyond it.
  void GetCoord(int32_t RecID, uint16_t index, double& X, double& Y) const;

  // Makes v (closed first when open) a copy of this reader: directory, key,
  // counts, and the same sources or cached vertices, shared.
  void Clone(TCoord3File& v) const;
  // Lets go of the files (and the cached vertices); the caller's streams are
  // left alone. The reader may be opened again.
  void Close();

private:
  struct TVertexCache;

  // The record's first vertex and vertex count, checked against the index.
  void Locate(int32_t RecID, int32_t& First, int32_t& N) const;
  void DecodePoints(TFloatPoint* P, int32_t First, int32_t N) const;
  void OpenSources(const std::shared_ptr<TReadSource>& Vertices, const std::shared_ptr<TReadSource>& Index, bool Cache);
  std::shared_ptr<const TVertexCache> BuildCache(const TReadSource& Vertices, const TReadSource& Index);

  int32_t FCount = 0;
  bool FCached = false;
  int32_t fVertexCount = 0;  // the index's last value
  T32EncryptionArray enc3{0};
  TKvStream* fCallerVertices = nullptr;  // borrowed
  TKvStream* fCallerIndex = nullptr;     // borrowed
  std::shared_ptr<TReadSource> FS;       // vertex file while uncached
  std::shared_ptr<TReadSource> FSi;      // index file while uncached
  std::shared_ptr<const TVertexCache> FD;
};

}  // namespace kovra
