// The quadtree spatial index of a network directory, "spatialindex.bin": a
// region quadtree over the network's bounds whose leaves list the nodes that
// lie in them and, for every link crossing them, the runs of that link's
// segments that cross them.
//
//   TQuadTreeSetup b;            // builds the file from the directory
//   b.SetDirectory(dir);
//   b.Build(key, nullptr);
//   TQuadTree t;                 // loads and checks it
//   t.SetDirectory(dir);
//   t.Load(NodeCount, LinkCount);
//   const TQuadTreeCell& leaf = FindQuadTreeCell(t, P);
//   for (int32_t node : t.Nodes(leaf)) ...
//
// Cells are stored flat: one array of cells in pre-order (the cell with ID k
// is element k - 1), one array of node ids and one of runs, each leaf owning a
// slice of both. A loaded tree never changes, so clones share it and any
// number of threads read it at once without locks.
//
// Rules that searches walking the tree rely on:
//  - An inner cell is cut at (mx, my) = (xmin + (xmax - xmin) * 0.5,
//    ymin + (ymax - ymin) * 0.5), the lower-left corner of its NE child, into
//    the children NE, NW, SW, SE (Child slots 1 to 4), each exactly a quarter.
//  - A point goes to NE when x >= mx and y >= my, to NW when x < mx and
//    y >= my, to SW when x < mx and y < my, else to SE: a point on a midline
//    belongs to the east or north side. Nodes were placed by this rule and
//    FindQuadTreeCell follows it, so a node's coordinate leads to the leaf that
//    lists the node.
//  - Every node is listed in exactly one leaf, in ascending id order there.
//  - A segment is listed in a leaf when one of its end points lies in the
//    leaf's closed rectangle, or when neither lies beyond the same edge and the
//    line through it, f(x, y) = c1 x + c2 y + c3 (c1 = y1 - y2, c2 = x2 - x1,
//    c3 = x1 y2 - x2 y1), has corners with f > 0 and corners with f <= 0. So a
//    segment that only touches a leaf's corner, from outside, is listed there
//    when the other three corners have f > 0 and not when they have f < 0. It is
//    still listed in the leaves it passes through, so a walk that enters every
//    leaf whose closed rectangle meets its search box finds it; a walk that
//    scans only the leaf of a point must not assume more.
//  - Consecutive segments of a link inside one leaf form one run; a link that
//    leaves a leaf and comes back has a second run there. A link of length 0
//    has no runs.
//  - No leaf lies deeper than 16 levels below the root and no leaf holds more
//    than 65535 records (nodes and runs together).
#pragma once

#include <cassert>
#include <cstdint>
#include <memory>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include "foundation/kovra_filebase.h"
#include "foundation/kovra_io.h"
#include "foundation/kovra_types.h"
#include "network/kovra_networkfile.h"
#include "network/kovra_sublinklist.h"

namespace kovra {

inline constexpr const char* cMsgSpatialIndexNotOpen = "Spatial index need to be open";
inline constexpr const char* cMsgQuadTreeCellFull = "Spatial index: cell %d holds more than 65535 records";
inline constexpr const char* cMsgQuadTreeLinkTooLong = "Spatial index: link %d has more than 65535 vertices";
inline constexpr const char* cMsgMaxNodesPerCell = "MaxNodesPerCell must be >=1 (is %d)";

// Levels below the root a cell may lie at most.
inline constexpr int32_t cQuadTreeMaxDepth = 16;
// Records of one leaf, and vertices of one link, at most: the file counts them in 16 bits.
inline constexpr int32_t cQuadTreeMaxRecords = 65535;

// Child slots, in file order.
inline constexpr int32_t cChildNE = 1;
inline constexpr int32_t cChildNW = 2;
inline constexpr int32_t cChildSW = 3;
inline constexpr int32_t cChildSE = 4;

// The child slot that takes (x, y) in a cell cut at (mx, my); ties go east and
// north. A NaN coordinate goes to SE, in the builder and the lookup alike.
inline int32_t QuadrantOf(double x, double y, double mx, double my) {
  if (x >= mx && y >= my) return cChildNE;
  if (x < mx && y >= my) return cChildNW;
  if (x < mx && y < my) return cChildSW;
  return cChildSE;
}

// One cell as stored (64 bytes). References to cells stay valid while the tree
// that handed them out holds its tree.
class TQuadTreeCell {
public:
  // The cell's rectangle {xmin, ymin, xmax, ymax} in network coordinates.
  const TFloatRect& Rect() const { return fRect; }
  // Number in pre-order, the root being 1; below CellCount + 1, so per-cell
  // marks fit a bit set of CellCount + 1 bits.
  int32_t ID() const { return fID; }
  // True for an inner cell (four children, no nodes, no runs).
  bool Divided() const { return fChild[0] != 0; }

private:
  friend class TQuadTreeBase;
  friend class TQuadTreeSetup;
  friend class TQuadTree;

  TFloatRect fRect;
  int32_t fID = 0;
  int32_t fChild[4] = {};   // IDs of NE, NW, SW, SE; 0 in a leaf
  uint32_t fNodeFirst = 0;  // the leaf's slice of the node array
  uint32_t fRunFirst = 0;   // and of the run array
  uint16_t fNodeCount = 0;
  uint16_t fRunCount = 0;
};
static_assert(sizeof(TQuadTreeCell) == 64);

class TQuadTreeBase : public TFileBase {
public:
  // Number of cells; 0 while there is no tree.
  int32_t CellCount() const { return int32_t(fCellTotal); }
  // The root; Exception "Spatial index need to be open" while there is no tree.
  const TQuadTreeCell& Root() const {
    if (fCellTotal == 0) RaiseNoTree();
    return fCells[0];
  }
  // Child k (cChildNE .. cChildSE) of an inner cell of this tree; unchecked.
  const TQuadTreeCell& Child(const TQuadTreeCell& Cell, int32_t k) const {
    assert(Cell.Divided() && k >= 1 && k <= 4);
    return fCells[Cell.fChild[k - 1] - 1];
  }
  // The node ids of a leaf, ascending; empty for an inner cell.
  std::span<const int32_t> Nodes(const TQuadTreeCell& Cell) const {
    return {fNodes + Cell.fNodeFirst, Cell.fNodeCount};
  }
  // The runs of a leaf in file order (as built: by link, then by segment);
  // empty for an inner cell.
  std::span<const TSubLink> Runs(const TQuadTreeCell& Cell) const { return {fRuns + Cell.fRunFirst, Cell.fRunCount}; }

  // Writes the tree in the file's layout at the stream's position: CellCount,
  // then every cell in pre-order. Nothing when there is no tree.
  void SaveToStream(TKvStream& FS) const;

protected:
  // Leaves new elements uninitialised: the loader sizes its arrays once, by
  // what the file can hold, and fills them.
  template <typename T>
  struct TNoInitAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
      using other = TNoInitAllocator<U>;
    };
    // Records of plain values: the allocation alone makes them.
    template <typename U>
    void construct(U*) noexcept {
      static_assert(std::is_trivially_copyable_v<U> && std::is_trivially_destructible_v<U>);
    }
    template <typename U, typename... A>
    void construct(U* p, A&&... a) {
      ::new (static_cast<void*>(p)) U(std::forward<A>(a)...);
    }
  };
  struct TStore {
    std::vector<TQuadTreeCell> Cells;  // pre-order
    std::vector<int32_t, TNoInitAllocator<int32_t>> Nodes;
    std::vector<TSubLink, TNoInitAllocator<TSubLink>> Runs;
  };

  // Makes Store (null: none) the tree this object answers from.
  void Adopt(std::shared_ptr<const TStore> Store);
  const std::shared_ptr<const TStore>& Store() const { return fStore; }

private:
  [[noreturn]] static void RaiseNoTree();

  std::shared_ptr<const TStore> fStore;
  // Views of fStore, so that a lookup step is one indexed load.
  const TQuadTreeCell* fCells = nullptr;
  const int32_t* fNodes = nullptr;
  const TSubLink* fRuns = nullptr;
  size_t fCellTotal = 0;
};

// The leaf that holds P, found from the root by the tie rule above; a point
// outside the root still yields a leaf. Exception "Spatial index need to be
// open" while the tree is empty; nothing else is checked.
inline const TQuadTreeCell& FindQuadTreeCell(const TQuadTreeBase& Tree, const TFloatPoint& P) {
  const TQuadTreeCell* c = &Tree.Root();
  while (c->Divided()) {
    const TFloatRect& ne = Tree.Child(*c, cChildNE).Rect();
    c = &Tree.Child(*c, QuadrantOf(P.x, P.y, ne.xmin, ne.ymin));
  }
  return *c;
}

// Builds the index of the network directory in Directory.
class TQuadTreeSetup : public TQuadTreeBase {
public:
  TQuadTreeSetup() = default;

  // A cell holding more nodes is cut into quarters (unless it lies 16 levels deep).
  int32_t MaxNodesPerCell() const { return fMaxNodesPerCell; }
  void SetMaxNodesPerCell(int32_t value) { fMaxNodesPerCell = value; }

  // Reads "coord.bin", "kovra_config.ini", "length.bin", "link.bin" (plain
  // whatever the key: the import enciphers it after this), "coord3.bin" and
  // "coord3i.bin" with the network key encryptionkey, builds the tree, keeps
  // it, and writes it at aFS's position when aFS is given (the stream stays
  // the caller's), else to "spatialindex.bin" in the directory through a
  // temporary file renamed over the old one.
  //
  // The root is the settings' bounds widened to hold every node and every
  // intermediate vertex, so that no segment lies outside it.
  //
  // Raises before writing anything, leaving an old index as it was:
  //  - EOutOfRange "MaxNodesPerCell must be >=1 (is %d)";
  //  - the stream's open error for a missing input, the settings file's
  //    errors for a bad "kovra_config.ini";
  //  - EWrongFileSize when "length.bin" or "link.bin" does not hold one
  //    record per link of "coord3i.bin", the vertex reader's errors for a bad
  //    "coord3.bin" or "coord3i.bin";
  //  - "Network file %s is corrupted (%s)" when a link of non-zero length
  //    names a node outside 1..n (n the nodes of "coord.bin") or a coordinate
  //    is not a finite number;
  //  - EOutOfRange "Spatial index: link %d has more than 65535 vertices" and
  //    "Spatial index: cell %d holds more than 65535 records".
  // A build cancelled through the progress handler keeps no tree and writes
  // nothing.
  void Build(int64_t encryptionkey, TKvStream* aFS);

private:
  struct TWork;

  void SplitCell(TWork& W, int32_t Index, int32_t Depth);
  void AddSegment(TWork& W, int32_t Index, int32_t Link, int32_t s);
  // Segment s of Link into leaf Index: extends the leaf's last run or starts one.
  void AddRun(TWork& W, int32_t Index, int32_t Link, int32_t s);
  // The deepest cell whose walk finds every leaf the current segment meets:
  // one that holds both its end points strictly inside and lies within the
  // closed rectangles of its ancestors; the root when there is none.
  int32_t InnermostCell(const TWork& W) const;
  // Both end points of the segment lie strictly inside R.
  bool InsideOpen(const TFloatRect& R) const;
  bool SegmentIntersectsRect(double xmin, double ymin, double xmax, double ymax) const;
  void Save() const;

  // The line through the current segment P1-P2: c1 x + c2 y + c3 = 0.
  double c1 = 0, c2 = 0, c3 = 0;
  double P1x = 0, P1y = 0, P2x = 0, P2y = 0;
  int32_t fMaxNodesPerCell = 50;
};

// The index as loaded from a file, checked as it is read.
class TQuadTree : public TQuadTreeBase {
public:
  TQuadTree() = default;

  // Reads "spatialindex.bin" of the directory (the stream's open error when it
  // cannot) through LoadFromStream, then reports progress 0.
  void Load(int32_t NodeCount, int32_t LinkCount);
  // Reads a tree from the stream's position to its end, for a network of
  // NodeCount nodes and LinkCount links; progress runs over the stream's size.
  // Raises "Network file %s is corrupted (%s)" unless the bytes are exactly one
  // tree of CellCount cells numbered 1..CellCount in pre-order, no deeper than
  // 16 levels, every child the exact quarter of its parent, every run with
  // sub1 < sub2 and a link in 1..LinkCount, and every node of 1..NodeCount in
  // exactly one leaf. On an error the tree held before stays; a load cancelled
  // through the progress handler leaves no tree (CellCount 0).
  void LoadFromStream(TKvStream& FS, int32_t NodeCount, int32_t LinkCount);

  // v shares this tree (it never changes); v's directory and progress stay its own.
  void Clone(TQuadTree& v) const;

private:
  void Parse(const uint8_t* Data, int64_t Size, const std::string& Name, int32_t NodeCount, int32_t LinkCount);
};

}  // namespace kovra
