#include "network/kovra_coord3file.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "network/kovra_networkfile.h"

namespace kovra {

static_assert(sizeof(TFloatPoint) == 16, "vertices are read straight into points");

struct TCoord3File::TVertexCache {
  TIntegerArray First;      // the index file: Count + 1 values
  TFloatPointArray Points;  // every vertex, deciphered
};

namespace {

constexpr int64_t cIndexChunk = 65536;   // index values per read while checking
constexpr int64_t cVertexChunk = 65536;  // vertices per read while caching

// Checks the index file: a whole number of Int32 values, at least one,
// starting at 0 and never decreasing. Returns the last value (the vertex
// count); keeps every value in Keep when given.
int32_t CheckIndex(const TReadSource& Index, TIntegerArray* Keep) {
  const int64_t size = Index.Size();
  if (size < 4 || size % 4 != 0) RaiseWrongFileSize(Index.Name(), size, std::max<int64_t>(4, size - size % 4));
  const int64_t values = size / 4;
  if (values - 1 > MaxInt) RaiseCorrupted(Index.Name(), Format("%d links", values - 1));
  TIntegerArray chunk;
  if (Keep)
    Keep->resize(size_t(values));
  else
    chunk.resize(size_t(std::min(values, cIndexChunk)));
  int32_t previous = 0;
  for (int64_t k = 0; k < values; k += cIndexChunk) {
    const int64_t n = std::min(cIndexChunk, values - k);
    int32_t* v = Keep ? Keep->data() + k : chunk.data();
    Index.ReadAt(4 * k, v, 4 * n);
    if (k == 0 && v[0] != 0) RaiseCorrupted(Index.Name(), Format("the first vertex index is %d, not 0", v[0]));
    for (int64_t i = 0; i < n; ++i) {
      if (v[i] < previous)
        RaiseCorrupted(Index.Name(), Format("the vertex index falls from %d to %d at link %d", previous, v[i], k + i));
      previous = v[i];
    }
  }
  return previous;
}

// The position of value m of the vertex file; the cipher looks only at the
// low bits, so the position may wrap where a file holds more than 2^30 vertices.
inline int32_t ValuePosition(int64_t m) { return int32_t(uint32_t(uint64_t(m))); }

}  // namespace

TCoord3File::TCoord3File() = default;

TCoord3File::TCoord3File(bool cache, int64_t EncKey, TKvStream* coord3stream, TKvStream* coord3istream)
    : fCallerVertices(coord3stream), fCallerIndex(coord3istream) {
  fEncryptionKey = EncKey;
  if (coord3stream && coord3istream)
    OpenSources(TReadSource::Borrow(*coord3stream, cCoord3FileName),
                TReadSource::Borrow(*coord3istream, cCoord3iFileName), cache);
}

TCoord3File::~TCoord3File() = default;

void TCoord3File::Open(bool Cache) {
  if (fIsOpen) return;
  const std::string vertexPath = Directory() + cCoord3FileName;
  const std::string indexPath = Directory() + cCoord3iFileName;
  if (!fCallerVertices) CheckFileExists(vertexPath);
  if (!fCallerIndex) CheckFileExists(indexPath);
  auto vertices =
      fCallerVertices ? TReadSource::Borrow(*fCallerVertices, cCoord3FileName) : TReadSource::OpenFile(vertexPath);
  auto index = fCallerIndex ? TReadSource::Borrow(*fCallerIndex, cCoord3iFileName) : TReadSource::OpenFile(indexPath);
  OpenSources(vertices, index, Cache);
}

void TCoord3File::OpenSources(const std::shared_ptr<TReadSource>& Vertices, const std::shared_ptr<TReadSource>& Index,
                              bool Cache) {
  // Everything is checked (and loaded) before any field changes, so a refused
  // file leaves the reader closed.
  enc3 = T32EncryptionArray(fEncryptionKey);
  std::shared_ptr<const TVertexCache> cache;
  int32_t total;
  if (Cache) {
    cache = BuildCache(*Vertices, *Index);
    total = cache->First.back();
  } else {
    total = CheckIndex(*Index, nullptr);
    if (Vertices->Size() != 16 * int64_t(total))
      RaiseWrongFileSize(Vertices->Name(), Vertices->Size(), 16 * int64_t(total));
  }
  FCount = int32_t(Index->Size() / 4 - 1);
  fVertexCount = total;
  FCached = Cache;
  FD = std::move(cache);
  FS = Cache ? nullptr : Vertices;
  FSi = Cache ? nullptr : Index;
  fIsOpen = true;
}

std::shared_ptr<const TCoord3File::TVertexCache> TCoord3File::BuildCache(const TReadSource& Vertices,
                                                                         const TReadSource& Index) {
  auto cache = std::make_shared<TVertexCache>();
  const int32_t total = CheckIndex(Index, &cache->First);
  // Sized by the index only once the vertex file is known to hold that much.
  if (Vertices.Size() != 16 * int64_t(total)) RaiseWrongFileSize(Vertices.Name(), Vertices.Size(), 16 * int64_t(total));
  cache->Points.resize(size_t(total));
  const int32_t count = int32_t(cache->First.size() - 1);
  SetProgressMaxValue(count);
  int64_t loaded = 0;
  for (int32_t i = 0; i < count; ++i) {
    const int64_t need = cache->First[size_t(i) + 1];
    if (need > loaded) {
      const int64_t upto = std::max(need, std::min<int64_t>(total, loaded + cVertexChunk));
      Vertices.ReadAt(16 * loaded, cache->Points.data() + loaded, 16 * (upto - loaded));
      DecodePoints(cache->Points.data() + loaded, int32_t(loaded), int32_t(upto - loaded));
      loaded = upto;
    }
    ProgressExecute(i);
  }
  return cache;
}

void TCoord3File::LoadIntoCache() {
  if (!fIsOpen || FCached) return;
  FD = BuildCache(*FS, *FSi);
  FCached = true;
  FS.reset();
  FSi.reset();
}

void TCoord3File::DecodePoints(TFloatPoint* P, int32_t First, int32_t N) const {
  if (enc3.Key() == 0) return;
  for (int32_t j = 0; j < N; ++j) {
    const int64_t m = 2 * (int64_t(First) + j);
    P[j].x = enc3.Decode(std::bit_cast<int64_t>(P[j].x), ValuePosition(m));
    P[j].y = enc3.Decode(std::bit_cast<int64_t>(P[j].y), ValuePosition(m + 1));
  }
}

void TCoord3File::Locate(int32_t RecID, int32_t& First, int32_t& N) const {
  if (!fIsOpen) throw Exception(cMsgCoord3NotOpen);
  if (RecID < 0 || RecID >= FCount) throw EOutOfRange(Format(cMsgCoord3Record, RecID, FCount - 1));
  if (FD) {
    First = FD->First[size_t(RecID)];
    N = FD->First[size_t(RecID) + 1] - First;
    return;
  }
  int32_t v[2];
  FSi->ReadAt(4 * int64_t(RecID), v, 8);
  // Checked at opening; a file changed since then must not send a read astray.
  if (v[0] < 0 || v[1] < v[0] || v[1] > fVertexCount)
    RaiseCorrupted(FSi->Name(), Format("vertices %d to %d of link %d", v[0], v[1], RecID + 1));
  First = v[0];
  N = v[1] - v[0];
}

void TCoord3File::ReadSection(int32_t RecID, TFloatPointArrayEx& List) const {
  int32_t first, n;
  Locate(RecID, first, n);
  if (List.Pnt.size() < size_t(n) + 2) List.Pnt.resize(size_t(n) + 2);
  if (n > 0) {
    TFloatPoint* dst = List.Pnt.data() + 1;
    if (FD) {
      std::memcpy(dst, FD->Points.data() + first, size_t(n) * sizeof(TFloatPoint));
    } else {
      FS->ReadAt(16 * int64_t(first), dst, 16 * int64_t(n));
      DecodePoints(dst, first, n);
    }
  }
  List.Count = n + 2;
}

bool TCoord3File::CachedVertices(const int32_t*& First, const TFloatPoint*& Points) const {
  if (!fIsOpen || !FD) return false;
  First = FD->First.data();
  Points = FD->Points.data();
  return true;
}

int32_t TCoord3File::GetCount(int32_t RecID) const {
  int32_t first, n;
  Locate(RecID, first, n);
  return n + 2;
}

void TCoord3File::GetCoord(int32_t RecID, uint16_t index, double& X, double& Y) const {
  int32_t first, n;
  Locate(RecID, first, n);
  if (int32_t(index) >= n) throw EOutOfRange(Format(cMsgCoord3IndexArgument, int32_t(index), n - 1));
  TFloatPoint p;
  if (FD) {
    p = FD->Points[size_t(first) + index];
  } else {
    FS->ReadAt(16 * (int64_t(first) + index), &p, 16);
    DecodePoints(&p, first + index, 1);
  }
  X = p.x;
  Y = p.y;
}

void TCoord3File::Clone(TCoord3File& v) const {
  if (&v == this) return;
  v.Close();
  v.SetDirectory(Directory());
  v.fEncryptionKey = fEncryptionKey;
  enc3.Clone(v.enc3);
  v.FCount = FCount;
  v.FCached = FCached;
  v.fVertexCount = fVertexCount;
  v.fCallerVertices = fCallerVertices;
  v.fCallerIndex = fCallerIndex;
  v.FS = FS;
  v.FSi = FSi;
  v.FD = FD;
  v.fIsOpen = fIsOpen;
}

void TCoord3File::Close() {
  FS.reset();
  FSi.reset();
  FD.reset();
  fIsOpen = false;
}

}  // namespace kovra
