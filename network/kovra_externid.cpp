#include "network/kovra_externid.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "foundation/kovra_functions.h"
#include "network/kovra_networkfile.h"

namespace kovra {

namespace {

// Text widths are 1..254: byte 0 of the header, 0 and 255 being the numbers.
constexpr int32_t cMaxTextWidth = 254;

}  // namespace

TExternalID::TExternalID() = default;

TExternalID::TExternalID(TKvStream* aStream1, TKvStream* aStream2) : fCaller1(aStream1), fCaller2(aStream2) {}

TExternalID::~TExternalID() = default;

void TExternalID::Open(bool cache1, bool cache2) {
  if (fIsOpen) return;
  const std::string path1 = Directory() + cIndex1FileName;
  const std::string path2 = Directory() + cIndex2FileName;
  if (!fCaller1) CheckFileExists(path1);
  if (!fCaller2) CheckFileExists(path2);
  auto s1 = fCaller1 ? TReadSource::Borrow(*fCaller1, cIndex1FileName) : TReadSource::OpenFile(path1);
  auto s2 = fCaller2 ? TReadSource::Borrow(*fCaller2, cIndex2FileName) : TReadSource::OpenFile(path2);
  if (cache1) s1 = TReadSource::Cache(*s1);
  if (cache2) s2 = TReadSource::Cache(*s2);

  // Header of index1.bin: byte 0 the kind, byte 1 = 1 for 64-bit bucket starts.
  const int64_t size1 = s1->Size(), size2 = s2->Size();
  if (size1 < 4) RaiseWrongFileSize(s1->Name(), size1, 4);
  uint8_t header[4];
  s1->ReadAt(0, header, 4);
  const int32_t kind = header[0];
  const int64_t width = kind == cExternalIDInt32 ? 4 : kind == cExternalIDInt64 ? 8 : 2 * kind;
  const int64_t startWidth = header[1] == 1 ? 8 : 4;

  // index2.bin: bucket count, bucket starts, then one Int32 link per slot.
  if (size2 < 4) RaiseWrongFileSize(s2->Name(), size2, 4);
  const int32_t buckets = s2->ReadInt32At(0);
  if (buckets < 1) RaiseCorrupted(s2->Name(), Format("%d buckets", buckets));
  const int64_t entries = 4 + startWidth * buckets;
  if (entries > size2) RaiseCorrupted(s2->Name(), Format("%d buckets do not fit in %d bytes", buckets, size2));
  if ((size2 - entries) % 4 != 0) RaiseWrongFileSize(s2->Name(), size2, size2 - (size2 - entries) % 4);
  const int64_t maxIndex = (size2 - entries) / 4;
  if (maxIndex > MaxInt) RaiseCorrupted(s2->Name(), Format("%d links", maxIndex));
  if (size1 != 4 + width * maxIndex) RaiseWrongFileSize(s1->Name(), size1, 4 + width * maxIndex);

  std::vector<uint8_t> raw(size_t(startWidth * buckets));
  s2->ReadAt(4, raw.data(), int64_t(raw.size()));
  TInt64Array positions(size_t(buckets) + 1);
  int64_t previous = entries;
  for (int32_t b = 0; b < buckets; ++b) {
    int64_t start;
    if (startWidth == 8) {
      std::memcpy(&start, raw.data() + 8 * size_t(b), 8);
    } else {
      int32_t s;
      std::memcpy(&s, raw.data() + 4 * size_t(b), 4);
      start = s;
    }
    if (start < previous || start > size2 || start % 4 != 0)
      RaiseCorrupted(s2->Name(), Format("bucket %d starts at byte %d", b, start));
    positions[size_t(b)] = start / 4;
    previous = start;
  }
  positions[size_t(buckets)] = size2 / 4;

  fStream1 = std::move(s1);
  fStream2 = std::move(s2);
  fPositions = std::move(positions);
  fNumRecords = buckets;
  fMaxIndex = int32_t(maxIndex);
  fStringlength = kind;
  fIsOpen = true;
}

void TExternalID::CheckOpen() const {
  if (!fIsOpen) throw Exception(cMsgExternalIDNotOpen);
}

int64_t TExternalID::ReadNumber(int32_t Link) const {
  if (fStringlength == cExternalIDInt32) return fStream1->ReadInt32At(4 * int64_t(Link));
  return fStream1->ReadInt64At(4 + 8 * (int64_t(Link) - 1));
}

std::u16string_view TExternalID::ReadText(int32_t Link, char16_t* Buffer) const {
  const int64_t w = fStringlength;
  fStream1->ReadAt(4 + 2 * w * (int64_t(Link) - 1), Buffer, 2 * w);
  // Blank and U+0000 padding both go.
  return TrimView(std::u16string_view(Buffer, size_t(w)));
}

bool TExternalID::FindIndex(std::u16string_view externalid, int32_t& iindex) const {
  CheckOpen();
  iindex = 0;
  const uint32_t mask = uint32_t(fNumRecords - 1);
  const bool text = fStringlength != cExternalIDInt32 && fStringlength != cExternalIDInt64;
  int64_t id = 0;
  uint32_t bucket;
  if (text) {
    bucket = HashString(externalid, mask);  // over UTF-16 code units
  } else {
    const std::string s = FromUtf16(externalid);
    id = fStringlength == cExternalIDInt32 ? StrToInt(s) : StrToInt64(s);
    bucket = uint32_t(uint64_t(id)) & mask;  // two's complement, as the ids were bucketed
  }
  char16_t buffer[cMaxTextWidth];
  int64_t lo = fPositions[bucket], hi = fPositions[size_t(bucket) + 1] - 1;
  while (lo <= hi) {
    const int64_t mid = lo + (hi - lo) / 2;
    const int32_t link = fStream2->ReadInt32At(4 * mid);
    if (link < 1 || link > fMaxIndex)
      RaiseCorrupted(fStream2->Name(),
                     Format("link %d in bucket %d is outside 1 to %d", link, int32_t(bucket), fMaxIndex));
    int order;
    if (text) {
      const std::u16string_view stored = ReadText(link, buffer);
      order = stored.compare(externalid);  // ordinal, by code unit
    } else {
      const int64_t stored = ReadNumber(link);
      order = stored < id ? -1 : stored > id ? 1 : 0;
    }
    if (order == 0) {
      iindex = link;
      return true;
    }
    if (order > 0)
      hi = mid - 1;
    else
      lo = mid + 1;
  }
  return false;
}

std::u16string TExternalID::FindExternalid(int32_t iindex) const {
  CheckOpen();
  if (iindex < 1 || iindex > fMaxIndex) throw EOutOfRange(Format(cMsgExternalIDRange, fMaxIndex, iindex));
  if (fStringlength == cExternalIDInt32 || fStringlength == cExternalIDInt64)
    return ToUtf16(IntToStr(ReadNumber(iindex)));
  char16_t buffer[cMaxTextWidth];
  return std::u16string(ReadText(iindex, buffer));
}

void TExternalID::Close() {
  fStream1.reset();
  fStream2.reset();
  fIsOpen = false;
}

}  // namespace kovra
