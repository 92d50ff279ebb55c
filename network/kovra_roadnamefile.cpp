// Reading a road-name pair: loading and checking it, names by link and by id,
// ids by name, clones.
#include "network/kovra_roadnamefile.h"

#include <algorithm>
#include <cassert>
#include <filesystem>
#include <numeric>

#include "foundation/kovra_collate.h"
#include "foundation/kovra_functions.h"
#include "network/kovra_networkfile.h"

namespace kovra {

namespace {

// Records read at once while Load walks the name file.
constexpr int64_t cDecodeBytes = 1 << 20;
// Room for one record: on the stack up to 256 code units, else on the heap.
struct TRecordBuffer {
  explicit TRecordBuffer(int64_t Width) : Count(size_t(Width / 2)) {
    if (Count > std::size(Small)) {
      Large.resize(Count);
      Units = Large.data();
    }
  }
  TRecordBuffer(const TRecordBuffer&) = delete;
  TRecordBuffer& operator=(const TRecordBuffer&) = delete;

  size_t Count;
  char16_t Small[256];
  std::vector<char16_t> Large;
  char16_t* Units = Small;
};

bool IsFile(const std::string& Path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(Path, ec);
}

// The record as the search compares it: every zero unit removed (the padding,
// and any zero inside, which a name file of ours never holds).
std::u16string_view WithoutZeros(char16_t* Units, size_t Count) {
  return std::u16string_view(Units, size_t(std::remove(Units, Units + Count, u'\0') - Units));
}

}  // namespace

TRoadNameFile::TRoadNameFile() = default;

TRoadNameFile::TRoadNameFile(TKvStream* aNumberStream, TKvStream* aNameStream)
    : fCallerNumber(aNumberStream), fCallerName(aNameStream) {}

TRoadNameFile::~TRoadNameFile() = default;

void TRoadNameFile::Load(const std::string& Directory, bool Cache, int32_t /*StartKey*/, int32_t FileNumber,
                         int32_t LinkCount) {
  Close();
  fFileNumber = FileNumber;
  const std::string numberName = RoadNumberFileName(FileNumber), nameName = RoadNameFileName(FileNumber);
  const std::string numberPath = Directory + numberName, namePath = Directory + nameName;
  if (!fCallerNumber && !IsFile(numberPath)) throw EFileMissing(Format(cMsgRoadNameFileMissing, numberPath));
  if (!fCallerName && !IsFile(namePath)) throw EFileMissing(Format(cMsgRoadNameFileMissing, namePath));

  // The number file, whole. Every value must name a record, and the largest is
  // the number of records: 0 of them would leave the width undefined.
  TIntegerArray numbers;
  std::string numberSource;
  {
    auto s = fCallerNumber ? TReadSource::Borrow(*fCallerNumber, numberName) : TReadSource::OpenFile(numberPath);
    numberSource = s->Name();
    const int64_t size = s->Size();
    if (size % 4 != 0) RaiseCorrupted(numberSource, Format("%d bytes are no whole number of 4-byte ids", size));
    if (size / 4 != LinkCount) throw EInvalidParameter(cMsgRoadNameLinkCount);
    numbers.resize(size_t(size / 4));
    s->ReadAt(0, numbers.data(), size);
  }
  int32_t n = 0;
  for (size_t k = 0; k < numbers.size(); ++k) {
    if (numbers[k] < 1) RaiseCorrupted(numberSource, Format("link %d has the name id %d", int64_t(k) + 1, numbers[k]));
    n = std::max(n, numbers[k]);
  }
  if (n == 0) RaiseCorrupted(numberSource, "no name ids");

  auto names = fCallerName ? TReadSource::Borrow(*fCallerName, nameName) : TReadSource::OpenFile(namePath);
  const int64_t size = names->Size(), width = size / n;
  if (width < 2 || width % 2 != 0 || size != n * width)
    RaiseCorrupted(names->Name(), Format("%d bytes are no %d records of an even width", size, n));
  if (width > MaxInt) RaiseCorrupted(names->Name(), Format("records of %d bytes", width));
  if (Cache) names = TReadSource::Cache(*names);

  FRoadNumberArray = std::move(numbers);
  FMaxRoadNameID = n;
  FMaxRoadNameLength = int32_t(width);
  FRoadNameFile = std::move(names);
  try {
    DecodeRecords();
  } catch (...) {
    Close();
    throw;
  }
  FOpen = true;
}

void TRoadNameFile::DecodeRecords() {
  const int64_t width = FMaxRoadNameLength, units = width / 2, n = FMaxRoadNameID;
  const int64_t perRead = std::max<int64_t>(1, cDecodeBytes / width);
  std::vector<char16_t> block(size_t(std::min(perRead, n) * units));
  // f(record, its units) for every record, in file order.
  auto forEach = [&](auto&& f) {
    for (int64_t first = 1; first <= n; first += perRead) {
      const int64_t count = std::min(perRead, n - first + 1);
      FRoadNameFile->ReadAt((first - 1) * width, block.data(), count * width);
      for (int64_t k = 0; k < count; ++k) f(int32_t(first + k), block.data() + k * units);
    }
  };

  int64_t maxUtf8 = 0;
  bool ascending = true;
  std::u16string previous, current;
  forEach([&](int32_t record, char16_t* p) {
    maxUtf8 = std::max(maxUtf8, int64_t(FromUtf16(TrimView(std::u16string_view(p, size_t(units)))).size()));
    if (!ascending) return;
    current.assign(WithoutZeros(p, size_t(units)));
    if (record > 1 && CompareRoadNames(previous, current, false) >= 0) ascending = false;
    previous.swap(current);
  });
  FMaxRoadNameLengthUTF8 = int32_t(std::min<int64_t>(maxUtf8, MaxInt));
  if (ascending) return;

  // Sorted by another collation: search through our order of the records.
  std::vector<std::u16string> keys(size_t(n) + 1);
  forEach([&](int32_t record, char16_t* p) { keys[size_t(record)].assign(WithoutZeros(p, size_t(units))); });
  auto order = std::make_shared<std::vector<int32_t>>(size_t(n));
  std::iota(order->begin(), order->end(), 1);
  std::stable_sort(order->begin(), order->end(), [&](int32_t a, int32_t b) {
    return CompareRoadNames(keys[size_t(a)], keys[size_t(b)], false) < 0;
  });
  fOrder = std::move(order);
}

std::string TRoadNameFile::RoadName1(int32_t LinkID) const { return RoadName2(RoadNameID1(LinkID)); }

std::string TRoadNameFile::RoadName2(int32_t ARoadNameID) const {
  if (!FRoadNameFile) throw ERoadNameFileNotOpen(Format(cMsgRoadNameFileNotOpen, fFileNumber));
  const int64_t width = FMaxRoadNameLength;
  TRecordBuffer record(width);
  // An id outside 1..N reads outside the file, which the source refuses.
  FRoadNameFile->ReadAt((int64_t(ARoadNameID) - 1) * width, record.Units, width);
  return FromUtf16(TrimView(std::u16string_view(record.Units, record.Count)));
}

int32_t TRoadNameFile::RoadNameID1(int32_t LinkID) const {
  assert(LinkID >= 1 && size_t(LinkID) <= FRoadNumberArray.size());
  return FRoadNumberArray[size_t(LinkID) - 1];
}

int32_t TRoadNameFile::RoadNameID2(std::string_view roadname, bool ignorecase) const {
  if (FMaxRoadNameID == 0) return -1;
  const std::u16string name = ToUtf16(roadname);
  const int64_t width = FMaxRoadNameLength;
  TRecordBuffer buffer(width);
  const std::vector<int32_t>* order = fOrder.get();
  int32_t lo = 1, hi = FMaxRoadNameID;
  while (lo <= hi) {
    const int32_t mid = lo + (hi - lo) / 2;
    const int32_t record = order ? (*order)[size_t(mid) - 1] : mid;
    FRoadNameFile->ReadAt((int64_t(record) - 1) * width, buffer.Units, width);
    const int32_t c = CompareRoadNames(WithoutZeros(buffer.Units, buffer.Count), name, ignorecase);
    if (c == 0) return record;
    if (c > 0)
      hi = mid - 1;
    else
      lo = mid + 1;
  }
  return -1;
}

void TRoadNameFile::Clone(TRoadNameFile& v) const {
  if (&v == this) return;
  v.Close();
  if (!FOpen) return;
  v.fFileNumber = fFileNumber;
  v.FRoadNumberArray = FRoadNumberArray;
  v.FMaxRoadNameID = FMaxRoadNameID;
  v.FMaxRoadNameLength = FMaxRoadNameLength;
  v.FMaxRoadNameLengthUTF8 = FMaxRoadNameLengthUTF8;
  v.FRoadNameFile = FRoadNameFile;
  v.fOrder = fOrder;
  v.FOpen = true;
}

void TRoadNameFile::Close() {
  FOpen = false;
  FRoadNameFile.reset();
  fOrder.reset();
  TIntegerArray().swap(FRoadNumberArray);
  FMaxRoadNameID = 0;
  FMaxRoadNameLength = 0;
  FMaxRoadNameLengthUTF8 = 0;
}

}  // namespace kovra
