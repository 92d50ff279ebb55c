// Turn sets: restrictions and turn costs keyed by the last link of a link
// sequence, with the binary turn file and the two text exports.
//
// A restriction is a sequence of two or more links driven in that order and a
// value: negative prohibits the movement, positive is an extra cost, and 0 is
// never stored (adding a sequence with 0 removes it). The searches ask GetList
// for every link they enter; the common answer, nothing ends here, is one bit
// test.
//
// Storage: all link ids in one array, each entry an offset, a count and a
// value; 65003 buckets (bucket = last link mod 65003) of entry indexes in the
// order added, which is also the export order. Entries never move: a removed
// restriction leaves its bucket but keeps its entry until Clear, so Count only
// grows and indexes from GetList stay valid while nothing is added.
//
// Threads: GetList and GetTR only read and may run on many threads at once
// while nothing changes the set.
#pragma once

#include <cassert>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "foundation/kovra_bitarray.h"
#include "foundation/kovra_integerlist.h"
#include "foundation/kovra_types.h"

namespace kovra {

// The network's link-id messages; every check of a link id against the link
// count uses them (CheckLinkId below).
inline constexpr const char* cMsgLinkIdBelowOne = "Link-ID must be >=1: %d";
inline constexpr const char* cMsgLinkIdAboveCount = "Link-ID must be <=%d: %d";
inline constexpr const char* cMsgTurnValueNotFinite = "Turn value must be a finite number";
inline constexpr const char* cMsgTurnFileRecord = "Turn file %s: record %d is invalid (%s)";
inline constexpr const char* cTurnFileHeader = "// Kovra Turn Restriction File, Version 2.33+";

// EOutOfRange "Link-ID must be >=1: %d" below 1, "Link-ID must be <=%d: %d"
// (LinkCount, link) above LinkCount.
void CheckLinkId(int32_t link, int32_t LinkCount);
// The value field of a turn text file: "-1" for every prohibition; a cost
// with three decimals ("%8.3f") when that text reads back as the same Single,
// else the shortest text that does (at least eight characters, right-aligned),
// so that a small cost never reads back as 0 (a removal) and none is rounded.
std::string TurnValueText(float Value);

// One restriction as a view: Add copies the links; GetTR's links point into
// the set and stay valid until the set next changes.
struct TTurnRestriction {
  std::span<const int32_t> links;  // first = the link driven from, last = the link entered
  float value = 0;
};

class TTurnRestrictions : public TObject {
public:
  // A set for link ids 1..size.
  explicit TTurnRestrictions(int32_t size);
  TTurnRestrictions(const TTurnRestrictions&) = delete;
  TTurnRestrictions& operator=(const TTurnRestrictions&) = delete;

  // Entries appended since creation or the last Clear; removals do not lower it.
  int32_t Count() const { return int32_t(FTTR.size()); }
  // The link count the set was created for.
  int32_t Size() const { return Fsize; }
  // Live restrictions that prohibit (value < 0) and that add a cost (> 0).
  int32_t ProhibitionCount() const { return fProhibitions; }
  int32_t CostCount() const { return fCosts; }
  // Bit l is set while a live restriction ends with link l (bits 0..Size).
  const TBitArray& B() const { return FB; }

  // Adds, replaces (same sequence: the new value wins) or, with value 0,
  // removes a restriction. An id outside 1..Size raises EOutOfRange with the
  // network's messages, a NaN or infinite value EInvalidParameter, both before
  // any change. Sequences of fewer than two links and the two-link U-turn
  // (l, l) are ignored.
  void Add(const TTurnRestriction& item);
  void AddSimple(int32_t link1, int32_t link2, float value);
  // Empties the set (Size is kept) and releases its memory.
  void Clear();
  // Makes v a copy of this set, dead entries and entry indexes included.
  void Clone(TTurnRestrictions& v) const;

  // False, list untouched, when no live restriction ends with link (also for
  // an id outside 0..Size). Else list := the indexes of those restrictions in
  // the order added. The list's storage is reused, so a search that keeps one
  // list per thread does not allocate here.
  bool GetList(int32_t link, TIntegerList& list) const;
  // Entry ID, an index GetList returned (unchecked).
  TTurnRestriction GetTR(int32_t ID) const {
    assert(ID >= 0 && size_t(ID) < FTTR.size());
    const TEntry& e = FTTR[size_t(ID)];
    return {std::span<const int32_t>(FLinks.data() + e.offset, size_t(e.count)), e.value};
  }

  // Binary turn file: per live restriction in bucket order a Single value, an
  // Int32 count and the link ids, little-endian, no header.
  void ExportBin(const std::string& filename) const;
  // Reads a binary turn file and adds its records in order (value 0 removes,
  // a repeat takes the later value). The whole file is checked first: a
  // record cut short, with fewer than two links, an id outside 1..Size or a
  // value that is not finite raises EInvalidParameter "Turn file %s: record
  // %d is invalid (%s)" and the set stays as it was.
  void ImportBin(const std::string& filename);
  // Text turn file in code page 1252: the header line, then "1 " or "6 ",
  // the ids each followed by a blank, and the value ("-1" for any negative
  // value, else "%8.3f"), lines ended by CR LF, in bucket order.
  void ExportTxt(const std::string& filename) const;
  // The same with every id l written as IA[l]; a mapped id equal to the one
  // kept just before it is dropped and a restriction left with fewer than two
  // ids is skipped, and so is one holding a link that IA maps to 0. IA needs
  // Size + 1 entries (EInvalidParameter before the file is created otherwise).
  void ExportTxt(const std::string& filename, const TIntegerArray& IA) const;
  // A new set of the same Size holding every live restriction reversed, each
  // with its own value, added in bucket order (equal reversed sequences
  // collapse, the later value winning).
  std::unique_ptr<TTurnRestrictions> Swap() const;

private:
  struct TEntry {
    int64_t offset;  // into FLinks
    int32_t count;
    float value;
  };
  // A bucket item carries the entry's last link so that lookups scan one
  // contiguous bucket without touching the entries.
  struct TSlot {
    int32_t last;
    int32_t index;
  };
  using TBucket = std::vector<TSlot>;

  // Add after the checks: ids in range, value finite.
  void Store(std::span<const int32_t> links, float value);
  bool SameLinks(const TEntry& e, std::span<const int32_t> links) const;
  // Calls f(entry) for every live entry in bucket order.
  template <typename F>
  void ForEachLive(F&& f) const;

  // Counts a live value in or out of ProhibitionCount and CostCount.
  void CountValue(float value, int32_t delta) { (value < 0 ? fProhibitions : fCosts) += delta; }
  int32_t Fsize;
  int32_t fProhibitions = 0, fCosts = 0;
  TBitArray FB;
  std::vector<TEntry> FTTR;
  std::vector<int32_t> FLinks;
  // Empty until the first restriction is stored, then cHashSize buckets: the
  // many empty sets of a time-band setup cost almost nothing.
  std::vector<TBucket> Fhash;
};

}  // namespace kovra
