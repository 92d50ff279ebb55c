#include "network/kovra_quadtree.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "foundation/kovra_configfile.h"
#include "foundation/kovra_encryption.h"
#include "foundation/kovra_geometry.h"
#include "network/kovra_coord3file.h"
#include "network/kovra_networkfile.h"

namespace kovra {

namespace {

constexpr int64_t cCellBytes = 37;  // rectangle, ID, Divided
constexpr int64_t cRecordBytes = 8;

// Quarter k (cChildNE .. cChildSE) of R, cut at its midlines exactly as the
// builder cuts, so the loader can demand the same bits.
TFloatRect QuarterOf(const TFloatRect& R, int32_t k) {
  const double mx = R.xmin + (R.xmax - R.xmin) * 0.5;
  const double my = R.ymin + (R.ymax - R.ymin) * 0.5;
  switch (k) {
    case cChildNE:
      return {mx, my, R.xmax, R.ymax};
    case cChildNW:
      return {R.xmin, my, mx, R.ymax};
    case cChildSW:
      return {R.xmin, R.ymin, mx, my};
    default:
      return {mx, R.ymin, R.xmax, my};
  }
}

// Bit for bit, so a NaN that the builder's arithmetic produced still matches.
bool SameBits(const TFloatRect& a, const TFloatRect& b) { return std::memcmp(&a, &b, sizeof(TFloatRect)) == 0; }

template <typename T>
void Put(uint8_t*& p, T v) {
  std::memcpy(p, &v, sizeof(T));
  p += sizeof(T);
}

template <typename T>
T Get(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof(T));
  return v;
}

void WriteAll(TKvStream& FS, const std::vector<uint8_t>& Bytes) {
  constexpr size_t cChunk = size_t(1) << 30;
  for (size_t done = 0; done < Bytes.size(); done += cChunk)
    FS.WriteBuffer(Bytes.data() + done, int32_t(std::min(cChunk, Bytes.size() - done)));
}

}  // namespace

// ---------------------------------------------------------------------------
// TQuadTreeBase

void TQuadTreeBase::RaiseNoTree() { throw Exception(cMsgSpatialIndexNotOpen); }

void TQuadTreeBase::Adopt(std::shared_ptr<const TStore> Store) {
  fStore = std::move(Store);
  fCells = fStore ? fStore->Cells.data() : nullptr;
  fNodes = fStore ? fStore->Nodes.data() : nullptr;
  fRuns = fStore ? fStore->Runs.data() : nullptr;
  fCellTotal = fStore ? fStore->Cells.size() : 0;
}

void TQuadTreeBase::SaveToStream(TKvStream& FS) const {
  if (!fStore) return;
  const std::vector<TQuadTreeCell>& cells = fStore->Cells;
  int64_t size = 4;
  for (const TQuadTreeCell& c : cells)
    size += cCellBytes + (c.Divided() ? 0 : 2 + cRecordBytes * (int64_t(c.fNodeCount) + c.fRunCount));
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  uint8_t* p = bytes.data();
  Put(p, int32_t(cells.size()));
  for (const TQuadTreeCell& c : cells) {
    Put(p, c.fRect.xmin);
    Put(p, c.fRect.ymin);
    Put(p, c.fRect.xmax);
    Put(p, c.fRect.ymax);
    Put(p, c.fID);
    Put(p, uint8_t(c.Divided() ? 1 : 0));
    if (c.Divided()) continue;
    Put(p, uint16_t(c.fNodeCount + c.fRunCount));
    for (int32_t node : Nodes(c)) Put(p, TSubLink{node, 0, 0});
    for (const TSubLink& run : Runs(c)) Put(p, run);
  }
  WriteAll(FS, bytes);
}

// ---------------------------------------------------------------------------
// TQuadTree

void TQuadTree::Load(int32_t NodeCount, int32_t LinkCount) {
  auto file = TReadSource::OpenFile(Directory() + cSpatialIndexFileName);
  const int64_t size = file->Size();
  std::unique_ptr<uint8_t[]> bytes(new uint8_t[size_t(size)]);
  file->ReadAt(0, bytes.get(), size);
  file.reset();
  Parse(bytes.get(), size, Directory() + cSpatialIndexFileName, NodeCount, LinkCount);
  ProgressExecuteZero();
}

void TQuadTree::LoadFromStream(TKvStream& FS, int32_t NodeCount, int32_t LinkCount) {
  const int64_t start = FS.Position();
  auto source = TReadSource::Borrow(FS, cSpatialIndexFileName);
  const int64_t size = std::max<int64_t>(0, source->Size() - start);
  std::unique_ptr<uint8_t[]> bytes(new uint8_t[size_t(size)]);
  source->ReadAt(start, bytes.get(), size);
  Parse(bytes.get(), size, cSpatialIndexFileName, NodeCount, LinkCount);
}

void TQuadTree::Clone(TQuadTree& v) const {
  if (&v != this) v.Adopt(Store());
}

void TQuadTree::Parse(const uint8_t* Data, int64_t Size, const std::string& Name, int32_t NodeCount,
                      int32_t LinkCount) {
  assert(NodeCount >= 0 && LinkCount >= 0);
  auto corrupted = [&](const std::string& Reason) { RaiseCorrupted(Name, Reason); };

  SetProgressMaxValue(double(Size));
  if (Size < 4) corrupted(Format("%d bytes hold no cell count", Size));
  const int32_t cellCount = Get<int32_t>(Data);
  // Checked against what the file can hold before anything is sized by it.
  if (cellCount < 1 || cellCount > (Size - 4) / cCellBytes)
    corrupted(Format("%d cells cannot lie in %d bytes", cellCount, Size));
  if (int64_t(NodeCount) * cRecordBytes > Size) corrupted(Format("%d nodes cannot lie in %d bytes", NodeCount, Size));

  // Each node of the network at most once, so NodeCount bounds the node
  // array; the bytes after the root bound the run array (the cell count may
  // be a lie). Pages past what is filled are never touched.
  auto store = std::make_shared<TStore>();
  store->Cells.reserve(size_t(cellCount));
  store->Nodes.resize(size_t(NodeCount));
  store->Runs.resize(size_t((Size - 4 - cCellBytes) / cRecordBytes));
  int32_t* const nodeBase = store->Nodes.data();
  int32_t* const nodeEnd = nodeBase + NodeCount;
  TSubLink* const runBase = store->Runs.data();
  int32_t* nodeOut = nodeBase;
  TSubLink* runOut = runBase;
  // One mark per node id listed so far; element 0 stays 0.
  std::vector<uint8_t> listed(size_t(NodeCount) + 1, 0);
  uint8_t* const mark = listed.data();

  // A leaf's records, nodes and runs in any order, each checked as it is
  // taken: node ids are distinct and in 1..NodeCount, so they never pass the
  // node array's end, and runs never pass the records of the file.
  auto TakeLeaf = [&](const uint8_t* Rec, int64_t N, int32_t Cell) {
    for (const uint8_t* end = Rec + N * cRecordBytes; Rec < end; Rec += cRecordBytes) {
      const TSubLink r = Get<TSubLink>(Rec);
      if (r.sub2 == 0) {
        if (r.Link < 1 || r.Link > NodeCount)
          corrupted(Format("cell %d lists node %d, outside 1 to %d", Cell, r.Link, NodeCount));
        // With every id marked once the array is full, so a full array means a repeat.
        if (mark[r.Link] || nodeOut == nodeEnd) corrupted(Format("node %d is listed twice", r.Link));
        mark[r.Link] = 1;
        *nodeOut++ = r.Link;
      } else {
        if (r.Link < 1 || r.Link > LinkCount)
          corrupted(Format("cell %d lists link %d, outside 1 to %d", Cell, r.Link, LinkCount));
        if (r.sub1 >= r.sub2)
          corrupted(Format("cell %d has a run of link %d from %d to %d", Cell, r.Link, r.sub1, r.sub2));
        *runOut++ = r;
      }
    }
  };

  struct TFrame {
    int32_t Cell;   // index of an inner cell
    int32_t Next;   // its next child slot, 0..3
    int32_t Depth;
  };
  std::array<TFrame, cQuadTreeMaxDepth> stack;
  int32_t depthOfStack = 0;
  int64_t pos = 4;
  do {
    const int32_t id = int32_t(store->Cells.size()) + 1;
    if (id > cellCount) corrupted(Format("it holds more cells than the %d it counts", cellCount));
    if (Size - pos < cCellBytes) corrupted(Format("it ends inside cell %d", id));
    ProgressExecute(double(pos));
    if (FCancelled) {
      Adopt(nullptr);
      return;
    }
    const uint8_t* p = Data + pos;
    TQuadTreeCell c;
    c.fRect = {Get<double>(p), Get<double>(p + 8), Get<double>(p + 16), Get<double>(p + 24)};
    c.fID = Get<int32_t>(p + 32);
    const bool divided = p[36] != 0;
    pos += cCellBytes;
    if (c.fID != id) corrupted(Format("cell %d carries the ID %d", id, c.fID));
    int32_t depth = 0;
    if (depthOfStack > 0) {
      TFrame& parent = stack[size_t(depthOfStack) - 1];
      depth = parent.Depth + 1;
      TQuadTreeCell& up = store->Cells[size_t(parent.Cell)];
      if (!SameBits(c.fRect, QuarterOf(up.fRect, parent.Next + 1)))
        corrupted(Format("cell %d is not the quarter %d of cell %d", id, parent.Next + 1, up.fID));
      up.fChild[parent.Next++] = id;
    }
    if (divided) {
      if (depth >= cQuadTreeMaxDepth) corrupted(Format("cell %d, 16 levels deep, is divided", id));
      stack[size_t(depthOfStack++)] = {id - 1, 0, depth};
    } else {
      if (Size - pos < 2) corrupted(Format("it ends inside cell %d", id));
      const int64_t n = Get<uint16_t>(Data + pos);
      pos += 2;
      if (Size - pos < n * cRecordBytes) corrupted(Format("it ends inside cell %d", id));
      c.fNodeFirst = uint32_t(nodeOut - nodeBase);
      c.fRunFirst = uint32_t(runOut - runBase);
      const uint8_t* const first = Data + pos;
      TakeLeaf(first, n, id);
      pos += n * cRecordBytes;
      c.fNodeCount = uint16_t(uint32_t(nodeOut - nodeBase) - c.fNodeFirst);
      c.fRunCount = uint16_t(uint32_t(runOut - runBase) - c.fRunFirst);
    }
    store->Cells.push_back(c);
    while (depthOfStack > 0 && stack[size_t(depthOfStack) - 1].Next == 4) --depthOfStack;
  } while (depthOfStack > 0);

  if (pos != Size) corrupted(Format("%d bytes follow the last cell", Size - pos));
  if (int32_t(store->Cells.size()) != cellCount)
    corrupted(Format("it holds %d cells, not the %d it counts", int32_t(store->Cells.size()), cellCount));
  if (nodeOut - nodeBase != NodeCount)
    for (int32_t node = 1; node <= NodeCount; ++node)
      if (!mark[node]) corrupted(Format("node %d lies in no cell", node));
  store->Runs.resize(size_t(runOut - runBase));
  Adopt(std::move(store));
}

// ---------------------------------------------------------------------------
// TQuadTreeSetup

struct TQuadTreeSetup::TWork {
  TFloatPointArray Coord;              // node coordinates; element 0 unused
  std::vector<TQuadTreeCell> Cells;    // pre-order
  std::vector<uint32_t> NodeEnd;       // per cell, one past its slice of Nodes
  std::vector<int32_t, TNoInitAllocator<int32_t>> Nodes;  // 1..n, partitioned in place by the splits
  std::vector<int32_t> Scratch;        // the scatter's target
  std::vector<uint8_t> Quadrant;       // the scatter's classification
  // The runs of every leaf in the order they were made, each with its cell;
  // a stable grouping by cell at the end gives each leaf its runs in order.
  struct TRunRecord {
    int32_t Cell;
    TSubLink Run;
  };
  std::vector<TRunRecord> RunRecords;
  std::vector<size_t> LastRun;         // per cell, 1 + its last record; 0 for none
  // Per cell: its rectangle lies in the closed rectangle of every ancestor,
  // so a point in it passes the first test of SegmentIntersectsRect all the
  // way down from the root.
  std::vector<uint8_t> Nested;
};

namespace {

// A whole file read from a source: the builder reads its inputs in bulk.
template <typename T>
std::vector<T> ReadAll(const TReadSource& Source, int64_t Count) {
  std::vector<T> v(static_cast<size_t>(Count));
  Source.ReadAt(0, v.data(), Count * int64_t(sizeof(T)));
  return v;
}

bool Finite(const TFloatPoint& P) { return std::isfinite(P.x) && std::isfinite(P.y); }

}  // namespace

void TQuadTreeSetup::Build(int64_t encryptionkey, TKvStream* aFS) {
  if (fMaxNodesPerCell < 1) throw EOutOfRange(Format(cMsgMaxNodesPerCell, fMaxNodesPerCell));
  Adopt(nullptr);
  const std::string& dir = Directory();
  T32Encryption cipher(encryptionkey);
  TWork w;

  // Inputs, opened in the order the build uses them, all checked before anything is built.
  {
    auto coord = TReadSource::OpenFile(dir + "coord.bin");
    const int64_t n = coord->Size() / 16;
    if (n > MaxInt) RaiseCorrupted(coord->Name(), Format("%d nodes", n));
    w.Coord.resize(size_t(n) + 1);
    coord->ReadAt(0, w.Coord.data() + 1, 16 * n);
    cipher.Restart();
    for (int64_t i = 1; i <= n; ++i) {
      TFloatPoint& p = w.Coord[size_t(i)];
      if (encryptionkey != 0) {
        p.x = cipher.Decode(std::bit_cast<int64_t>(p.x));
        p.y = cipher.Decode(std::bit_cast<int64_t>(p.y));
      }
      if (!Finite(p))
        RaiseCorrupted(coord->Name(), Format("node %d lies at a coordinate that is not a finite number", i));
    }
  }
  const int32_t n = int32_t(w.Coord.size()) - 1;
  const TConfig config = ReadConfig(dir);
  auto lengthFile = TReadSource::OpenFile(dir + "length.bin");
  auto linkFile = TReadSource::OpenFile(dir + "link.bin");
  TKvFileStream vertexFile(dir + cCoord3FileName, fmOpenRead | fmShareDenyWrite);
  TKvFileStream indexFile(dir + cCoord3iFileName, fmOpenRead | fmShareDenyWrite);
  // The link count comes from the vertex index; the other two files must agree.
  TCoord3File coord3(true, encryptionkey, &vertexFile, &indexFile);
  const int32_t linkCount = coord3.Count();
  if (lengthFile->Size() != 4 * int64_t(linkCount))
    RaiseWrongFileSize(lengthFile->Name(), lengthFile->Size(), 4 * int64_t(linkCount));
  if (linkFile->Size() != 8 * int64_t(linkCount))
    RaiseWrongFileSize(linkFile->Name(), linkFile->Size(), 8 * int64_t(linkCount));
  std::vector<uint32_t> lengths = ReadAll<uint32_t>(*lengthFile, linkCount);
  const std::vector<uint32_t> ends = ReadAll<uint32_t>(*linkFile, 2 * int64_t(linkCount));
  lengthFile.reset();
  linkFile.reset();
  cipher.Restart();
  for (uint32_t& bits : lengths) bits = cipher.Decode(bits) != 0 ? 1 : 0;  // 1: a valid link

  // The root: the settings' bounds, widened to every node and vertex.
  TFloatRect root = config.Mbr;
  for (int32_t i = 1; i <= n; ++i) ExtendRect(root, w.Coord[size_t(i)]);
  TFloatPointArrayEx line;
  for (int32_t link = 1; link <= linkCount; ++link) {
    coord3.ReadSection(link - 1, line);
    for (int32_t k = 1; k + 1 < line.Count; ++k) {
      const TFloatPoint& p = line.Pnt[size_t(k)];
      if (!Finite(p))
        RaiseCorrupted(cCoord3FileName, Format("vertex %d of link %d is not a finite number", k, link));
      ExtendRect(root, p);
    }
    if (!lengths[size_t(link) - 1]) continue;
    const uint32_t from = ends[2 * size_t(link) - 2], to = ends[2 * size_t(link) - 1];
    if (from < 1 || from > uint32_t(n) || to < 1 || to > uint32_t(n))
      RaiseCorrupted(dir + "link.bin", Format("link %d joins the nodes %d and %d, outside 1 to %d", link, from, to, n));
    if (line.Count > cQuadTreeMaxRecords) throw EOutOfRange(Format(cMsgQuadTreeLinkTooLong, link));
  }

  // Nodes into cells.
  w.Nodes.resize(size_t(n));
  for (int32_t i = 0; i < n; ++i) w.Nodes[size_t(i)] = i + 1;
  w.Scratch.resize(size_t(n));
  w.Quadrant.resize(size_t(n));
  TQuadTreeCell rootCell;
  rootCell.fRect = root;
  w.Cells.push_back(rootCell);
  w.NodeEnd.push_back(uint32_t(n));
  SplitCell(w, 0, 0);
  if (FCancelled) return;
  for (size_t i = 0; i < w.Cells.size(); ++i)
    if (!w.Cells[i].Divided() && w.NodeEnd[i] - w.Cells[i].fNodeFirst > uint32_t(cQuadTreeMaxRecords))
      throw EOutOfRange(Format(cMsgQuadTreeCellFull, w.Cells[i].fID));

  // Segments into leaves.
  w.LastRun.assign(w.Cells.size(), 0);
  w.Nested.assign(w.Cells.size(), 0);
  w.Nested[0] = 1;
  for (size_t i = 0; i < w.Cells.size(); ++i) {
    const TQuadTreeCell& c = w.Cells[i];
    if (!c.Divided()) continue;
    for (int32_t k = 0; k < 4; ++k) {
      const TFloatRect& r = w.Cells[size_t(c.fChild[k]) - 1].fRect;
      w.Nested[size_t(c.fChild[k]) - 1] = w.Nested[i] && c.fRect.xmin <= r.xmin && r.xmax <= c.fRect.xmax &&
                                          c.fRect.ymin <= r.ymin && r.ymax <= c.fRect.ymax;
    }
  }
  int32_t leaf = -1;  // the leaf of the last segment that lay inside one leaf
  SetProgressMaxValue(linkCount);
  for (int32_t link = 1; link <= linkCount; ++link) {
    ProgressExecute(link);
    if (lengths[size_t(link) - 1]) {
      coord3.ReadSection(link - 1, line);
      line.Pnt[0] = w.Coord[ends[2 * size_t(link) - 2]];
      line.Pnt[size_t(line.Count) - 1] = w.Coord[ends[2 * size_t(link) - 1]];
      for (int32_t s = 0; s + 1 < line.Count; ++s) {
        P1x = line.Pnt[size_t(s)].x;
        P1y = line.Pnt[size_t(s)].y;
        P2x = line.Pnt[size_t(s) + 1].x;
        P2y = line.Pnt[size_t(s) + 1].y;
        c1 = P1y - P2y;
        c2 = P2x - P1x;
        c3 = P1x * P2y - P2x * P1y;
        // A segment strictly inside a cell's rectangle meets no leaf outside
        // that cell: every such leaf's closed rectangle lies beyond one of the
        // cell's edges, where both end points fail it. The walk therefore
        // starts at the deepest such cell, and a segment inside one leaf
        // (mostly the leaf of the segment before) needs no walk at all.
        if (leaf < 0 || !InsideOpen(w.Cells[size_t(leaf)].fRect)) {
          const int32_t start = InnermostCell(w);
          leaf = w.Cells[size_t(start)].Divided() ? -1 : start;
          if (leaf < 0) AddSegment(w, start, link, s);
        }
        if (leaf >= 0) AddRun(w, leaf, link, s);
      }
    }
    if (FCancelled) return;
  }

  // One node array, one run array; every leaf's records must fit its 16-bit count.
  auto store = std::make_shared<TStore>();
  // Runs per cell, then each cell's first slot in pre-order.
  std::vector<size_t> first(w.Cells.size() + 1, 0);
  for (const TWork::TRunRecord& r : w.RunRecords) ++first[size_t(r.Cell) + 1];
  for (size_t i = 0; i < w.Cells.size(); ++i) {
    TQuadTreeCell& c = w.Cells[i];
    const size_t runs = first[i + 1];
    first[i + 1] = first[i] + runs;
    if (c.Divided()) continue;
    const uint32_t nodes = w.NodeEnd[i] - c.fNodeFirst;
    if (nodes + runs > size_t(cQuadTreeMaxRecords)) throw EOutOfRange(Format(cMsgQuadTreeCellFull, c.fID));
    c.fNodeCount = uint16_t(nodes);
    c.fRunFirst = uint32_t(first[i]);
    c.fRunCount = uint16_t(runs);
  }
  store->Runs.resize(w.RunRecords.size());
  for (const TWork::TRunRecord& r : w.RunRecords) store->Runs[first[size_t(r.Cell)]++] = r.Run;
  std::vector<TWork::TRunRecord>().swap(w.RunRecords);
  store->Cells = std::move(w.Cells);
  store->Nodes = std::move(w.Nodes);
  Adopt(std::move(store));

  if (aFS)
    SaveToStream(*aFS);
  else
    Save();
}

void TQuadTreeSetup::SplitCell(TWork& W, int32_t Index, int32_t Depth) {
  if (FCancelled) return;
  TQuadTreeCell& cell = W.Cells[size_t(Index)];
  cell.fID = Index + 1;  // appended in pre-order
  const uint32_t first = cell.fNodeFirst, last = W.NodeEnd[size_t(Index)];
  if (last - first <= uint32_t(fMaxNodesPerCell) || Depth >= cQuadTreeMaxDepth) return;

  const TFloatRect r = cell.fRect;
  const double mx = r.xmin + (r.xmax - r.xmin) * 0.5;
  const double my = r.ymin + (r.ymax - r.ymin) * 0.5;
  // A stable scatter keeps each child's nodes in the parent's (ascending) order.
  uint32_t start[5] = {};
  for (uint32_t i = first; i < last; ++i) {
    const TFloatPoint& p = W.Coord[size_t(W.Nodes[i])];
    const int32_t q = QuadrantOf(p.x, p.y, mx, my);
    W.Quadrant[i] = uint8_t(q);
    ++start[q];
  }
  start[0] = first;
  for (int32_t k = 1; k <= 4; ++k) start[k] += start[k - 1];  // start[k] = end of child k
  uint32_t put[4] = {first, start[1], start[2], start[3]};
  for (uint32_t i = first; i < last; ++i) W.Scratch[put[W.Quadrant[i] - 1]++] = W.Nodes[i];
  std::copy(W.Scratch.begin() + first, W.Scratch.begin() + last, W.Nodes.begin() + first);

  for (int32_t k = cChildNE; k <= cChildSE; ++k) {
    const int32_t child = int32_t(W.Cells.size());
    TQuadTreeCell c;
    c.fRect = QuarterOf(r, k);
    c.fNodeFirst = k == cChildNE ? first : start[k - 1];
    W.Cells.push_back(c);
    W.NodeEnd.push_back(start[k]);
    W.Cells[size_t(Index)].fChild[k - 1] = child + 1;
    SplitCell(W, child, Depth + 1);
  }
}

void TQuadTreeSetup::AddSegment(TWork& W, int32_t Index, int32_t Link, int32_t s) {
  const TQuadTreeCell& cell = W.Cells[size_t(Index)];
  const TFloatRect& r = cell.fRect;
  if (!SegmentIntersectsRect(r.xmin, r.ymin, r.xmax, r.ymax)) return;
  if (cell.Divided()) {
    for (int32_t k = 0; k < 4; ++k) AddSegment(W, cell.fChild[k] - 1, Link, s);
    return;
  }
  AddRun(W, Index, Link, s);
}

void TQuadTreeSetup::AddRun(TWork& W, int32_t Index, int32_t Link, int32_t s) {
  size_t& last = W.LastRun[size_t(Index)];
  if (last != 0) {
    TSubLink& run = W.RunRecords[last - 1].Run;
    if (run.Link == Link && run.sub2 == s) {
      ++run.sub2;
      return;
    }
  }
  W.RunRecords.push_back({Index, TSubLink{Link, uint16_t(s), uint16_t(s + 1)}});
  last = W.RunRecords.size();
}

int32_t TQuadTreeSetup::InnermostCell(const TWork& W) const {
  // Down the cells that hold P1 by the tie rule, as long as they are nested
  // and hold both end points strictly inside.
  int32_t inner = 0;
  for (int32_t i = 0;;) {
    const TQuadTreeCell& c = W.Cells[size_t(i)];
    if (!c.Divided()) return inner;
    const TFloatRect& ne = W.Cells[size_t(c.fChild[0]) - 1].fRect;
    i = c.fChild[QuadrantOf(P1x, P1y, ne.xmin, ne.ymin) - 1] - 1;
    if (!W.Nested[size_t(i)] || !InsideOpen(W.Cells[size_t(i)].fRect)) return inner;
    inner = i;
  }
}

bool TQuadTreeSetup::InsideOpen(const TFloatRect& R) const {
  return R.xmin < P1x && P1x < R.xmax && R.ymin < P1y && P1y < R.ymax && R.xmin < P2x && P2x < R.xmax &&
         R.ymin < P2y && P2y < R.ymax;
}

bool TQuadTreeSetup::SegmentIntersectsRect(double xmin, double ymin, double xmax, double ymax) const {
  if (xmin <= P1x && P1x <= xmax && ymin <= P1y && P1y <= ymax) return true;
  if (xmin <= P2x && P2x <= xmax && ymin <= P2y && P2y <= ymax) return true;
  if ((P1x < xmin && P2x < xmin) || (P1y < ymin && P2y < ymin) || (P1x > xmax && P2x > xmax) ||
      (P1y > ymax && P2y > ymax))
    return false;
  // The line separates the corners when some lie on its positive side and
  // some do not; f is evaluated left to right, without fused multiply-adds.
  const double corners[4][2] = {{xmin, ymin}, {xmin, ymax}, {xmax, ymin}, {xmax, ymax}};
  bool positive = false, other = false;
  for (const auto& corner : corners) {
    const double f = c1 * corner[0] + c2 * corner[1] + c3;
    (f > 0 ? positive : other) = true;
    if (positive && other) return true;
  }
  return false;
}

void TQuadTreeSetup::Save() const {
  const std::string target = Directory() + cSpatialIndexFileName;
  const std::string temp = target + ".tmp";
  std::remove(temp.c_str());  // a leftover of an interrupted build
  try {
    TKvFileStream file(temp, fmCreate);
    SaveToStream(file);
    file.Close();
    if (std::rename(temp.c_str(), target.c_str()) != 0)
      throw EFCreateError(Format(cMsgFCreateError, target, std::strerror(errno)));
  } catch (...) {
    std::remove(temp.c_str());
    throw;
  }
}

}  // namespace kovra
