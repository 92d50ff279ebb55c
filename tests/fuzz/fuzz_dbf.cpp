// The table reader on arbitrary .dbf, .dat/.tab and NATIVEX files: opening
// gives a table or the table's error, never an allocation beyond the file, a
// crash or a foreign exception; reads and in-place writes of an open table
// give values or the library's errors; a sequence of the table twice reads
// as the table's records twice.
//
// Input: flags (kind, .cpg, read-write, code page), the .tab text for a .dat,
// the .cpg text, then the table file; the rest of the input after the table's
// declared length drives the writes.
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "foundation/kovra_bitarray.h"
#include "foundation/kovra_dbffiles.h"
#include "fuzz_support.h"

using namespace kovra;
using namespace kovra::fuzz;

namespace {

const uint16_t cPages[] = {0, 1252, 65001, 1200, 932, 1251, 437, 620};

template <typename F>
void Try(F&& f) {
  try {
    f();
  } catch (const Exception&) {
  }
}

// The first fields and the last one, at the first and last records and just
// outside them. (Few calls: each refused read costs an exception.)
void ReadRecords(TDbfFile& t) {
  const int64_t n = t.RecordCount();
  const int64_t recs[] = {0, 1, 2, n, n + 1};
  for (int32_t f = -1; f <= t.FieldCount(); f = f < 12 ? f + 1 : std::max(f + 1, t.FieldCount() - 1)) {
    Tdbffield info;
    if (t.FieldInfo(f, info)) Check(t.FindField(info.Name) <= f, "FindField missed a field");
    for (int64_t r : recs) {
      Try([&] { (void)t.IsDeleted(r); });
      Try([&] { Check(IsValidUtf8(t.ReadString(f, r)), "ReadString gave invalid UTF-8"); });
      Try([&] { (void)t.ReadInteger(f, r); });
      Try([&] { (void)t.ReadFloat(f, r); });
    }
  }
}

void Write(TDbfFile& t, TFuzzInput& in) {
  const int64_t n = t.RecordCount();
  while (!in.Empty()) {
    const uint8_t op = in.Byte();
    const int32_t f = int32_t(in.Byte() % (t.FieldCount() + 2)) - 1;
    const int64_t r = int64_t(in.Byte() % 4) + (op & 0x80 ? n - 2 : 0);
    const int64_t iv = int64_t(int32_t(in.UInt32()));
    double dv;
    const uint64_t bits = in.UInt64();
    std::memcpy(&dv, &bits, sizeof dv);
    switch (op % 7) {
      case 0: Try([&] { t.WriteInteger(f, r, int32_t(iv)); }); break;
      case 1: Try([&] { t.WriteFloat(f, r, dv); }); break;
      case 2: Try([&] { t.WriteBoolean(f, r, iv & 1); }); break;
      case 3: {
        std::string text(in.Piece(24));
        Try([&] { t.WriteString(f, r, text); });
        break;
      }
      case 4: {
        TIntegerArray a(size_t(std::min<int64_t>(n + 1, 64)), int32_t(iv));
        Try([&] { t.WriteIntegerArray(f, a); });
        break;
      }
      case 5: {
        TCostArray a(size_t(std::min<int64_t>(n + 1, 64)), float(dv));
        Try([&] { t.WriteCostArray(f, a); });
        break;
      }
      default: {
        TBitArray b(std::min<int64_t>(n + 1, 64));
        b.SetAllTrue();
        Try([&] { t.WriteBitArray(f, b); });
        break;
      }
    }
    Try([&] { (void)t.ReadString(f, r); });
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFuzzInput in(data, size);
  const uint8_t flags = in.Byte();
  const bool dat = flags & 1;
  const bool cpg = flags & 2;
  const bool readWrite = flags & 4;
  const uint16_t cp = cPages[(flags >> 3) % 8];
  const std::string_view tab = dat ? in.Bytes(in.UInt16() % 4096) : std::string_view();
  const std::string_view cpgText = cpg ? in.Piece(16) : std::string_view();
  const std::string_view table = in.Bytes(in.UInt16() % 8192);

  RemoveFuzzFile("t.cpg");
  RemoveFuzzFile("t.tab");
  if (dat) WriteFuzzFile("t.tab", tab);
  if (cpg) WriteFuzzFile("t.cpg", cpgText);
  const std::string path = WriteFuzzFile(dat ? "t.dat" : "t.dbf", table);

  TDbfFile t(path, cp);
  try {
    t.Open(readWrite);
  } catch (const Exception&) {
    Check(t.FieldCount() == 0 && t.RecordCount() == 0, "a failed Open left fields or records");
    return 0;
  }
  Check(t.RecordCount() >= 0 && t.RecordCount() <= int64_t(table.size()), "more records than bytes");
  ReadRecords(t);
  if (readWrite) Write(t, in);
  Try([&] { t.Close(); });

  // The table twice as one sequence.
  TDbfFiles seq(cp);
  seq.Add(path);
  seq.Add(path);
  try {
    seq.Open();
  } catch (const Exception&) {
    return 0;
  }
  const int32_t n = seq.RecordCount();
  if (n >= 2 && n % 2 == 0 && n < MaxInt)
    for (int32_t f = 0; f < seq.FieldCount() && f < 8; ++f) {
      std::string a = "a", b = "b";
      Try([&] { a = seq.ReadString(f, 1); });
      Try([&] { b = seq.ReadString(f, n / 2 + 1); });
      Check(a == b || a == "a" || b == "b", "the second copy reads otherwise than the first");
    }
  for (int32_t r : {1, n / 2 + 1, n, n + 1})
    for (int32_t f = 0; f < seq.FieldCount() && f < 8; ++f) {
      Try([&] { (void)seq.ReadString(f, r); });
      Try([&] { (void)seq.ReadFloat(f, r); });
      Try([&] { (void)seq.ReadInteger(f, r); });
    }
  return 0;
}
