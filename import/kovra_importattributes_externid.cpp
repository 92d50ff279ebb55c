// External-id index files: index1.bin (the id of every link, in link order)
// and index2.bin (the links in 256 buckets, each sorted by id).
//
// The ids are held flat rather than in 256 lists: integers as (id, link)
// pairs, text keys in one arena of W units per link beside a bucket byte per
// link. One sort by (bucket, id) then gives the entries of index2.bin in
// file order, and equal ids meet as neighbours.
#include <algorithm>
#include <cstring>
#include <numeric>

#include "foundation/kovra_functions.h"
#include "foundation/kovra_io.h"
#include "import/kovra_importattributes.h"
#include "import/kovra_importattributes_column.h"
#include "network/kovra_externid.h"

namespace kovra {

namespace {

constexpr int32_t cBuckets = 256;
constexpr int64_t cMaxInt32Id = 2147483647;

inline uint8_t IntBucket(int64_t v) { return uint8_t(uint64_t(v) & 255u); }

int64_t ClampInt32(int64_t v) { return std::clamp<int64_t>(v, -cMaxInt32Id, cMaxInt32Id); }

void CheckWidth(int64_t W) {
  // Byte 0 of the header tells the kind: 0 and 255 are the numeric kinds.
  if (W < 1 || W > 254) throw EInvalidParameter(Format(cMsgExternalIDWidth, W));
}

// The key of a text id: trimmed, cut to W units, trimmed again.
std::u16string_view TextKey(std::u16string_view s, int32_t W) {
  s = TrimView(s);
  if (s.size() > size_t(W)) s = TrimView(s.substr(0, size_t(W)));
  return s;
}

}  // namespace

void TImportAttributes::CreateIntBuckets() {
  bucketsI.clear();
  bucketsS.clear();
  fBucketOfLink.clear();
}

void TImportAttributes::CreateStringBuckets(int32_t Width) {
  CreateIntBuckets();
  fWidth = Width;
}

void TImportAttributes::ReserveIds(int64_t Count, int32_t Width) {
  // Growing by copies would touch every id's memory again at each step.
  if (Count <= 0) return;
  if (Width == 0) {
    bucketsI.reserve(size_t(Count));
  } else {
    bucketsS.reserve(size_t(Count) * size_t(Width));
    fBucketOfLink.reserve(size_t(Count));
  }
}

void TImportAttributes::AddStringID(std::u16string_view Text, TKvStream& Index1) {
  const std::u16string_view key = TextKey(Text, fWidth);
  fBucketOfLink.push_back(uint8_t(HashString(key, 255)));
  const size_t at = bucketsS.size();
  bucketsS.resize(at + size_t(fWidth), u'\0');
  std::copy(key.begin(), key.end(), bucketsS.begin() + ptrdiff_t(at));
  for (int32_t i = 0; i < fWidth; ++i) Index1.WriteUInt16(uint16_t(bucketsS[at + size_t(i)]));
}

void TImportAttributes::WriteIndex2(TFileReplacement& Index1, const std::vector<int32_t>& Order,
                                    const std::vector<uint8_t>& Buckets, bool Offsets64) {
  // Bucket starts are known from the counts, so the file is written in order.
  std::vector<int64_t> start(cBuckets + 1, 0);
  for (uint8_t b : Buckets) ++start[size_t(b) + 1];
  const int64_t first = 4 + int64_t(cBuckets) * (Offsets64 ? 8 : 4);
  start[0] = first;
  for (int32_t b = 1; b <= cBuckets; ++b) start[size_t(b)] = start[size_t(b) - 1] + 4 * start[size_t(b)];
  TFileReplacement index2(Directory() + cIndex2FileName);
  TKvStream& out = index2.Stream();
  out.WriteInt32(cBuckets);
  for (int32_t b = 0; b < cBuckets; ++b) {
    if (Offsets64)
      out.WriteInt64(start[size_t(b)]);
    else
      out.WriteInt32(int32_t(start[size_t(b)]));
  }
  SetProgressMaxValue(cBuckets);
  size_t k = 0;
  for (int32_t b = 0; b < cBuckets && !FCancelled; ++b) {
    for (; k < Order.size() && Buckets[k] == b; ++k) out.WriteInt32(Order[k]);
    ProgressExecute(b);
  }
  if (!FCancelled) {
    Index1.Commit();
    index2.Commit();
  }
  ProgressExecuteZero();
}

void TImportAttributes::WriteIntIndex(TFileReplacement& Index1) {
  std::sort(bucketsI.begin(), bucketsI.end(), [](const TInt64Item& a, const TInt64Item& b) {
    const uint8_t ba = IntBucket(a.value), bb = IntBucket(b.value);
    return ba != bb ? ba < bb : a.value < b.value;
  });
  for (size_t i = 1; i < bucketsI.size(); ++i)
    if (bucketsI[i].value == bucketsI[i - 1].value) {
      CreateIntBuckets();
      throw Exception(cMsgExternalIDNotUnique);
    }
  std::vector<int32_t> order(bucketsI.size());
  std::vector<uint8_t> buckets(bucketsI.size());
  for (size_t i = 0; i < bucketsI.size(); ++i) {
    order[i] = bucketsI[i].index;
    buckets[i] = IntBucket(bucketsI[i].value);
  }
  CreateIntBuckets();
  WriteIndex2(Index1, order, buckets, false);
}

void TImportAttributes::WriteStringIndex(TFileReplacement& Index1) {
  const size_t W = size_t(fWidth);
  const char16_t* keys = bucketsS.data();
  const auto key = [&](int32_t link) { return std::u16string_view(keys + size_t(link - 1) * W, W); };
  std::vector<int32_t> order(fBucketOfLink.size());
  std::iota(order.begin(), order.end(), 1);
  // Keys are padded with U+0000, below every unit a trimmed key holds, so the
  // padded forms order as the keys do (a proper prefix first).
  std::sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
    const uint8_t ba = fBucketOfLink[size_t(a) - 1], bb = fBucketOfLink[size_t(b) - 1];
    if (ba != bb) return ba < bb;
    const int c = key(a).compare(key(b));
    return c != 0 ? c < 0 : a < b;
  });
  for (size_t i = 1; i < order.size(); ++i)
    if (key(order[i]) == key(order[i - 1])) {
      CreateIntBuckets();
      throw Exception(cMsgExternalIDNotUnique);
    }
  std::vector<uint8_t> buckets(order.size());
  for (size_t i = 0; i < order.size(); ++i) buckets[i] = fBucketOfLink[size_t(order[i]) - 1];
  fBucketOfLink = {};
  bucketsS = {};
  WriteIndex2(Index1, order, buckets, f2_Int64);
}

// ---------------------------------------------------------------------------
// Integer ids

void TImportAttributes::ExecuteExternalIDint(int32_t fieldindex, const std::string& fieldname, TFileKind fk,
                                             bool useint64) {
  FCancelled = false;
  CheckDirectory();
  const int32_t expected = ExpectedLinkCount();
  std::unique_ptr<TColumn> column = OpenColumn(fieldindex, fieldname, fk);
  if (column->Records() >= 0) CheckRecordCount(column->Records(), expected);
  auto* dbf = dynamic_cast<TDbfColumn*>(column.get());
  CreateIntBuckets();
  ReserveIds(column->Records() >= 0 ? column->Records() : expected, 0);
  SetProgressMaxValue(column->Total());
  TFileReplacement index1(Directory() + cIndex1FileName);
  TKvStream& out = index1.Stream();
  out.WriteInt32(useint64 ? -1 : 0);
  int64_t value = 0;
  while (column->NextInteger(value)) {
    const int32_t k = int32_t(bucketsI.size()) + 1;
    // 0 would pass for an id; the record is named instead.
    if (dbf && dbf->LastNull()) throw Exception(Format(cMsgExternalIDEmpty, k));
    if (useint64) {
      out.WriteInt64(value);
    } else {
      value = ClampInt32(value);
      out.WriteInt32(int32_t(value));
    }
    bucketsI.push_back({value, k});
    ProgressExecute(column->Position());
    if (FCancelled) break;
  }
  ProgressExecuteZero();
  if (FCancelled) {
    CreateIntBuckets();
    return;
  }
  CheckRecordCount(int64_t(bucketsI.size()), expected);
  WriteIntIndex(index1);
}

void TImportAttributes::ExecuteExternalIDintEvent(bool useint64) {
  if (!OnReadExternalIDInt) return;
  CheckDirectory();
  const int32_t expected = ExpectedLinkCount();
  CreateIntBuckets();
  ReserveIds(expected, 0);
  TFileReplacement index1(Directory() + cIndex1FileName);
  TKvStream& out = index1.Stream();
  out.WriteInt32(useint64 ? -1 : 0);
  bool lastrecord = false;
  for (int32_t link = 1; !lastrecord; ++link) {
    int64_t value = 0;
    OnReadExternalIDInt(this, link, value, lastrecord);
    if (useint64) {
      out.WriteInt64(value);
    } else {
      value = ClampInt32(value);
      out.WriteInt32(int32_t(value));
    }
    bucketsI.push_back({value, link});
  }
  CheckRecordCount(int64_t(bucketsI.size()), expected);
  WriteIntIndex(index1);
}

// ---------------------------------------------------------------------------
// Text ids

void TImportAttributes::ExecuteExternalIDstring(int32_t fieldindex, const std::string& fieldname, TFileKind fk) {
  FCancelled = false;
  CheckDirectory();
  const int32_t expected = ExpectedLinkCount();
  std::unique_ptr<TColumn> column = OpenColumn(fieldindex, fieldname, fk, FCodePageCSV);
  std::string text;
  int64_t count = 0;
  int32_t W = 0;
  double done = 0;  // progress of the first pass
  if (fk == fkCSV) {
    // The width is the longest trimmed value: one pass before anything is created.
    SetProgressMaxValue(2 * column->Total());
    while (column->NextText(text)) {
      W = std::max<int32_t>(W, int32_t(TrimView(std::u16string_view(ToUtf16(text))).size()));
      ++count;
      ProgressExecute(column->Position());
      if (FCancelled) break;
    }
    if (FCancelled) {
      ProgressExecuteZero();
      return;
    }
    done = column->Total();
    column = OpenColumn(fieldindex, fieldname, fk, FCodePageCSV);
  } else {
    W = static_cast<TDbfColumn&>(*column).FieldInfo().Width;
    count = column->Records();
    SetProgressMaxValue(column->Total());
  }
  CheckWidth(W);
  CheckRecordCount(count, expected);
  f2_Int64 = ExternalIDLargeOffsets(count, W);
  CreateStringBuckets(W);
  ReserveIds(count, W);
  TFileReplacement index1(Directory() + cIndex1FileName);
  TKvStream& out = index1.Stream();
  out.WriteInt32(W + 256 * int32_t(f2_Int64));
  while (column->NextText(text)) {
    AddStringID(ToUtf16(text), out);
    ProgressExecute(done + column->Position());
    if (FCancelled) break;
  }
  ProgressExecuteZero();
  if (FCancelled) {
    CreateIntBuckets();
    return;
  }
  // A CSV file changed between the passes.
  CheckRecordCount(int64_t(fBucketOfLink.size()), int32_t(count));
  WriteStringIndex(index1);
}

void TImportAttributes::ExecuteExternalIDStringEvent(int32_t width) {
  if (!OnReadExternalIDString) return;
  CheckDirectory();
  CheckWidth(width);
  const int32_t expected = ExpectedLinkCount();
  CreateStringBuckets(width);
  ReserveIds(expected, width);
  TFileReplacement index1(Directory() + cIndex1FileName);
  TKvStream& out = index1.Stream();
  out.WriteInt32(width);
  std::string text;
  bool lastrecord = false;
  for (int32_t link = 1; !lastrecord; ++link) {
    text.clear();
    OnReadExternalIDString(this, link, text, lastrecord);
    AddStringID(ToUtf16(text), out);
  }
  CheckRecordCount(int64_t(fBucketOfLink.size()), expected);
  f2_Int64 = false;
  WriteStringIndex(index1);
}

}  // namespace kovra
