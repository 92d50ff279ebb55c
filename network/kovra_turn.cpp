#include "network/kovra_turn.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iterator>
#include <new>
#include <utility>

#include "foundation/kovra_functions.h"
#include "foundation/kovra_io.h"
#include "foundation/kovra_textfilewriter.h"
#include "platform/kovra_sysutils.h"

namespace kovra {

namespace {

// The text turn file is written in Windows-1252.
constexpr uint16_t cTurnTextCodePage = 1252;

// One record line of the text file: type, ids each followed by a blank, value.
void WriteTurnLine(TTextFileWriter& w, std::string& line, std::span<const int32_t> links, float value) {
  line.assign(links.size() == 2 ? "1 " : "6 ");
  for (int32_t l : links) {
    AppendInt(line, l);
    line += ' ';
  }
  line += TurnValueText(value);
  w.writeln(line);
}

// A position in the walk over every bucket's slots in order.
template <typename TBucket>
class TSlotCursor {
public:
  explicit TSlotCursor(const std::vector<TBucket>& Hash) : FHash(Hash) { Settle(); }
  bool Valid() const { return FBucket < FHash.size(); }
  const typename TBucket::value_type& Slot() const { return FHash[FBucket][FPos]; }
  void Advance() {
    ++FPos;
    Settle();
  }

private:
  void Settle() {
    while (FBucket < FHash.size() && FPos >= FHash[FBucket].size()) {
      ++FBucket;
      FPos = 0;
    }
  }
  const std::vector<TBucket>& FHash;
  size_t FBucket = 0;
  size_t FPos = 0;
};

}  // namespace

std::string TurnValueText(float Value) {
  // Every prohibition is written as -1, whatever negative value it holds.
  if (Value < 0) return "-1";
  std::string text = Format("%8.3f", double(Value));
  bool overflow = false;
  if (float(ParseFloatDot(text, overflow)) == Value) return text;
  // Fixed notation, the shortest that reads back: no exponent in the file.
  char buf[400];  // room for the exact value of the smallest Single
  auto r = std::to_chars(buf, buf + sizeof buf, Value, std::chars_format::fixed);
  text.assign(buf, r.ptr);
  // The reader goes through a Double: should that ever round otherwise, the
  // Single's exact value is written.
  if (float(ParseFloatDot(text, overflow)) != Value) {
    r = std::to_chars(buf, buf + sizeof buf, double(Value), std::chars_format::fixed);
    text.assign(buf, r.ptr);
  }
  if (text.size() < 8) text.insert(0, 8 - text.size(), ' ');
  return text;
}

void CheckLinkId(int32_t link, int32_t LinkCount) {
  if (link < 1) throw EOutOfRange(Format(cMsgLinkIdBelowOne, link));
  if (link > LinkCount) throw EOutOfRange(Format(cMsgLinkIdAboveCount, LinkCount, link));
}

TTurnRestrictions::TTurnRestrictions(int32_t size) : Fsize(size), FB(int64_t(size) + 1) {}

bool TTurnRestrictions::SameLinks(const TEntry& e, std::span<const int32_t> links) const {
  if (size_t(e.count) != links.size()) return false;
  const int32_t* p = FLinks.data() + e.offset;
  for (size_t i = 0; i < links.size(); ++i)
    if (p[i] != links[i]) return false;
  return true;
}

void TTurnRestrictions::Add(const TTurnRestriction& item) {
  for (int32_t l : item.links) CheckLinkId(l, Fsize);
  if (!std::isfinite(item.value)) throw EInvalidParameter(cMsgTurnValueNotFinite);
  Store(item.links, item.value);
}

void TTurnRestrictions::AddSimple(int32_t link1, int32_t link2, float value) {
  const int32_t links[2] = {link1, link2};
  Add({links, value});
}

void TTurnRestrictions::Store(std::span<const int32_t> links, float value) {
  const size_t n = links.size();
  // A single link is no movement and (l, l) a U-turn onto the same link:
  // neither is a restriction.
  if (n < 2 || (n == 2 && links[0] == links[1])) return;
  const int32_t last = links[n - 1];
  if (Fhash.empty()) {
    if (value == 0) return;
    Fhash.resize(size_t(cHashSize));
  }
  TBucket& bucket = Fhash[size_t(last % cHashSize)];
  auto match = bucket.end();
  for (auto it = bucket.begin(); it != bucket.end(); ++it)
    if (it->last == last && SameLinks(FTTR[size_t(it->index)], links)) {
      match = it;
      break;
    }

  if (value != 0) {
    if (match != bucket.end()) {
      float& v = FTTR[size_t(match->index)].value;
      CountValue(v, -1);
      CountValue(value, 1);
      v = value;
      return;
    }
    // Count and the bucket indexes are Integers.
    if (FTTR.size() >= size_t(MaxInt) || n > size_t(MaxInt)) throw std::bad_alloc();
    const int32_t index = int32_t(FTTR.size());
    const int64_t offset = int64_t(FLinks.size());
    FTTR.push_back({offset, int32_t(n), value});
    try {
      FLinks.insert(FLinks.end(), links.begin(), links.end());
      bucket.push_back({last, index});
    } catch (...) {
      // A failed allocation leaves the set as it was.
      FLinks.resize(size_t(offset));
      FTTR.pop_back();
      throw;
    }
    FB.SetBit2(last, true);
    CountValue(value, 1);
    return;
  }

  if (match == bucket.end()) return;
  CountValue(FTTR[size_t(match->index)].value, -1);
  bucket.erase(match);
  for (const TSlot& s : bucket)
    if (s.last == last) return;  // another restriction still ends here
  FB.SetBit2(last, false);
}

void TTurnRestrictions::Clear() {
  FB.SetAllFalse();
  fProhibitions = fCosts = 0;
  std::vector<TEntry>().swap(FTTR);
  std::vector<int32_t>().swap(FLinks);
  std::vector<TBucket>().swap(Fhash);
}

void TTurnRestrictions::Clone(TTurnRestrictions& v) const {
  // Copy everything before touching v, so a failed allocation leaves v as it was.
  TBitArray b;
  FB.Clone(b);
  std::vector<TEntry> ttr = FTTR;
  std::vector<int32_t> links = FLinks;
  std::vector<TBucket> hash = Fhash;
  v.Fsize = Fsize;
  v.FB = std::move(b);
  v.FTTR = std::move(ttr);
  v.FLinks = std::move(links);
  v.Fhash = std::move(hash);
  v.fProhibitions = fProhibitions;
  v.fCosts = fCosts;
}

bool TTurnRestrictions::GetList(int32_t link, TIntegerList& list) const {
  // One unsigned compare also refuses negative ids.
  if (uint32_t(link) > uint32_t(Fsize) || !FB.GetBit(link)) return false;
  // Capacity 0 empties the list but keeps its array, unlike Clear.
  list.SetCapacity(0);
  for (const TSlot& s : Fhash[size_t(link % cHashSize)])
    if (s.last == link) list.Add(s.index);
  return true;
}

template <typename F>
void TTurnRestrictions::ForEachLive(F&& f) const {
  // The entries lie in the order added while the walk goes in bucket order, so
  // almost every entry and its links are cache misses. Two cursors run ahead,
  // one fetching entries and a nearer one their links, so the misses overlap.
  constexpr int cEntriesAhead = 16;
  constexpr int cLinksAhead = 8;
  TSlotCursor<TBucket> cur(Fhash), entries(Fhash), links(Fhash);
  auto fetchEntry = [&] {
    __builtin_prefetch(&FTTR[size_t(entries.Slot().index)]);
    entries.Advance();
  };
  auto fetchLinks = [&] {
    __builtin_prefetch(FLinks.data() + FTTR[size_t(links.Slot().index)].offset);
    links.Advance();
  };
  for (int i = 0; i < cEntriesAhead && entries.Valid(); ++i) fetchEntry();
  for (int i = 0; i < cLinksAhead && links.Valid(); ++i) fetchLinks();
  for (; cur.Valid(); cur.Advance()) {
    if (entries.Valid()) fetchEntry();
    if (links.Valid()) fetchLinks();
    f(FTTR[size_t(cur.Slot().index)]);
  }
}

void TTurnRestrictions::ExportBin(const std::string& filename) const {
  TKvBufferedStream s(new TKvFileStream(filename, fmCreate), true);
  ForEachLive([&](const TEntry& e) {
    s.WriteSingle(e.value);
    s.WriteInt32(e.count);
    const int32_t* p = FLinks.data() + e.offset;
    for (int32_t i = 0; i < e.count; ++i) s.WriteInt32(p[i]);
  });
  s.Close();
}

void TTurnRestrictions::ImportBin(const std::string& filename) {
  TKvMemoryStream m;
  m.LoadFromFile(filename);
  const int64_t size = m.Size();

  // Check every record before anything is added: a bad file changes nothing.
  int64_t records = 0;
  int64_t ids = 0;
  for (int64_t pos = 0; pos < size;) {
    ++records;
    auto fail = [&](const std::string& why) {
      throw EInvalidParameter(Format(cMsgTurnFileRecord, filename, records, why));
    };
    if (size - pos < 8) fail("the file ends inside the record");
    const float value = m.ReadSingle();
    const int32_t n = m.ReadInt32();
    pos += 8;
    if (n < 2) fail(Format("link count %d is below 2", n));
    if (int64_t(n) * 4 > size - pos) fail("the file ends inside the record");
    if (!std::isfinite(value)) fail("the value is not a finite number");
    for (int32_t i = 0; i < n; ++i) {
      const int32_t link = m.ReadInt32();
      if (link < 1 || link > Fsize) fail(Format("link %d is outside 1..%d", link, Fsize));
    }
    pos += int64_t(n) * 4;
    ids += n;
  }

  // Room for every record up front (some may only replace or remove), still
  // growing geometrically for a caller that imports many small files.
  auto makeRoom = [](auto& v, size_t extra) {
    if (v.capacity() - v.size() < extra) v.reserve(std::max(v.size() + extra, v.capacity() * 2));
  };
  makeRoom(FTTR, size_t(records));
  makeRoom(FLinks, size_t(ids));
  m.SetPosition(0);
  std::vector<int32_t> links;
  for (int64_t r = 0; r < records; ++r) {
    const float value = m.ReadSingle();
    links.resize(size_t(m.ReadInt32()));
    for (int32_t& l : links) l = m.ReadInt32();
    Store(links, value);
  }
}

void TTurnRestrictions::ExportTxt(const std::string& filename) const {
  TTextFileWriter w(filename, cTurnTextCodePage, false);
  w.writeln(cTurnFileHeader);
  std::string line;
  ForEachLive([&](const TEntry& e) {
    WriteTurnLine(w, line, std::span<const int32_t>(FLinks.data() + e.offset, size_t(e.count)), e.value);
  });
  w.Close();
}

void TTurnRestrictions::ExportTxt(const std::string& filename, const TIntegerArray& IA) const {
  if (IA.size() < size_t(Fsize) + 1)
    throw EInvalidParameter(Format("Link map must hold %d entries (has %d)", int64_t(Fsize) + 1, IA.size()));
  TTextFileWriter w(filename, cTurnTextCodePage, false);
  w.writeln(cTurnFileHeader);
  std::string line;
  std::vector<int32_t> mapped;
  ForEachLive([&](const TEntry& e) {
    mapped.clear();
    const int32_t* p = FLinks.data() + e.offset;
    for (int32_t i = 0; i < e.count; ++i) {
      const int32_t m = IA[size_t(p[i])];
      // A link the map leaves out (0) has no id to be written as.
      if (m == 0) {
        mapped.clear();
        break;
      }
      if (mapped.empty() || mapped.back() != m) mapped.push_back(m);
    }
    if (mapped.size() >= 2) WriteTurnLine(w, line, mapped, e.value);
  });
  w.Close();
}

std::unique_ptr<TTurnRestrictions> TTurnRestrictions::Swap() const {
  auto result = std::make_unique<TTurnRestrictions>(Fsize);
  std::vector<int32_t> reversed;
  ForEachLive([&](const TEntry& e) {
    const int32_t* p = FLinks.data() + e.offset;
    reversed.assign(std::make_reverse_iterator(p + e.count), std::make_reverse_iterator(p));
    result->Store(reversed, e.value);
  });
  return result;
}

}  // namespace kovra
