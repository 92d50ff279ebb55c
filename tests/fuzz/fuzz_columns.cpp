// The value columns of a network read from arbitrary files: a limit file
// loaded into a slot, and time, cost and bit columns read from (and speeds
// and arrays written into) an arbitrary table. Every call gives the library's
// error or a result; a failed call leaves the slot or column as it was, and
// no column ever holds NaN, an infinity or a time <= 0.
//
// Input: flags (bit 0 a key, bit 1 mph, bit 2 reset for Write4, bits 3-5 the
// field index, bits 6-7 which writes run: SaveSpeed and Write1, Write2,
// Write3 or Write4; one group per input keeps a run quick), the limit file as
// a piece of up to 16 bytes, then the table.
// The network is a path of four links of 0.1 km, held in memory.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "foundation/kovra_encryption.h"
#include "foundation/kovra_integerlist.h"
#include "fuzz_support.h"
#include "network/kovra_network.h"

using namespace kovra;
using namespace kovra::fuzz;

namespace {

constexpr int32_t cLinks = 4;

template <typename T>
void Append(std::string& s, T v) {
  s.append(reinterpret_cast<const char*>(&v), sizeof v);
}

std::unique_ptr<TKvMemoryStream> Stream(const std::string& Bytes) {
  auto s = std::make_unique<TKvMemoryStream>();
  if (!Bytes.empty()) s->WriteBuffer(Bytes.data(), int32_t(Bytes.size()));
  s->SetPosition(0);
  return s;
}

// The 32-bit values of a file through the value cipher, from its start.
std::string Encipher(std::string Bytes, int64_t Key) {
  T32Encryption cipher(Key);
  cipher.Restart();
  for (size_t i = 0; i + 4 <= Bytes.size(); i += 4) {
    uint32_t v;
    std::memcpy(&v, &Bytes[i], 4);
    v = cipher.Encode(v);
    std::memcpy(&Bytes[i], &v, 4);
  }
  return Bytes;
}

// A path of cLinks links, inner nodes first, as the import numbers them.
struct TPath {
  std::unique_ptr<TKvMemoryStream> length, link, coord, node, coord3, coord3i;
  explicit TPath(int64_t Key) {
    std::string l, k, c, n, ci;
    const auto id = [](int32_t i) { return i == 0 ? cLinks : i == cLinks ? cLinks + 1 : i; };
    for (int32_t i = 1; i <= cLinks; ++i) {
      Append(l, 0.1f);
      Append(k, id(i - 1));
      Append(k, id(i));
    }
    double x[cLinks + 2] = {};
    for (int32_t i = 0; i <= cLinks; ++i) x[id(i)] = 100.0 * i;
    for (int32_t v = 1; v <= cLinks + 1; ++v) {
      Append(c, x[v]);
      Append(c, 0.0);
    }
    Append(n, int32_t(2));
    Append(n, int32_t(cLinks - 1));
    Append(n, int32_t(cLinks + 1));
    for (int32_t v = 1; v < cLinks; ++v) {
      Append(n, v);
      Append(n, v + 1);
    }
    Append(n, int32_t(1));
    Append(n, cLinks);
    for (int32_t i = 0; i <= cLinks; ++i) Append(ci, int32_t(0));
    length = Stream(Encipher(l, Key));
    link = Stream(Encipher(k, Key));
    coord = Stream(Encipher(c, Key));
    node = Stream(Encipher(n, Key));
    coord3 = Stream("");
    coord3i = Stream(ci);
  }
};

template <typename F>
bool Raises(F&& f) {
  try {
    f();
  } catch (const Exception&) {
    return true;
  }
  return false;
}

void CheckColumn(const TCostArray& Column, const char* What) {
  for (int32_t l = 1; l <= cLinks; ++l)
    if (!(Column[size_t(l)] > 0) || std::isinf(Column[size_t(l)])) Finding(What);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFuzzInput in(data, size);
  const uint8_t flags = in.Byte();
  const std::string limit(in.Piece(16));
  const std::string table(in.Rest());

  const int64_t key = (flags & 1) ? 0x5A17C0DE : 0;
  TPath path(key);
  TNetwork net;
  net.SetOnConfig([&](TObject*) {
    TConfig c;
    c.VersionCode = cNetworkVersion;
    c.Encrypted = flags & 1;
    c.Cu = cuM;
    c.LinkCount = cLinks;
    c.Mbr = {0, -1, 100.0 * cLinks, 1};
    return c;
  });
  net.SetDirectory(FuzzDir().string());
  net.SetEncryptionKey(key);
  net.SetLengthStream(path.length.get());
  net.SetLinkStream(path.link.get());
  net.SetCoordStream(path.coord.get());
  net.SetNodeStream(path.node.get());
  net.SetCoord3Stream(path.coord3.get());
  net.SetCoord3iStream(path.coord3i.get());
  net.Open(false, false, false, 0);

  // The limit file: loaded whole or not at all.
  WriteFuzzFile("limit1.bin", limit);
  if (Raises([&] { net.OpenLimit(1, 1, flags & 2); })) {
    if (net.LimitSlots() != 0 || !net.Limits(1).empty()) Finding("a failed OpenLimit changed the slot");
  } else {
    if (limit.size() != size_t(cLinks) || net.LimitSlots() != 1) Finding("OpenLimit took a wrong-sized file");
    net.SaveLimit(2, 1);
    net.OpenLimit(2, 2, false);
    if (net.Limits(2) != net.Limits(1)) Finding("a saved limit file reads back differently");
  }

  // Network columns from the table.
  const std::string t = WriteFuzzFile("t.dbf", table);
  net.CreateArrayTime(1);
  net.CreateArrayCost(1);
  const int32_t field = (flags >> 3) & 7;
  const auto read = [&](const TCostArray& Column, auto&& f) {
    const TCostArray before = Column;
    if (Raises(f) && Column != before) Finding("a failed column read changed the column");
    CheckColumn(Column, "a column read stored a value that is not a finite number > 0");
  };
  read(net.Times()[0], [&] { net.ReadTime(0, t, field, ""); });
  read(net.Times()[0], [&] { net.ReadSpeed(0, t, field, "", flags & 2); });
  read(net.Costs()[0], [&] { net.ReadCost(0, t, field, ""); });
  net.UpdateAlphas();
  if (!std::isfinite(net.TimeAlpha()) || !std::isfinite(net.CostAlpha())) Finding("a factor is not finite");

  TBitArray bits(3);
  if (Raises([&] { net.Read3(t, field, "", bits); }) && bits.Size() != 3) Finding("a failed Read3 changed the bits");

  // Writes into the table: the library's errors only.
  switch (flags >> 6) {
    case 0:
      (void)Raises([&] { net.SaveSpeed(0, t, field, ""); });
      (void)Raises([&] { net.Write1(t, field, "", TIntegerArray(size_t(cLinks) + 1, 7)); });
      break;
    case 1: (void)Raises([&] { net.Write2(t, field, "", TCostArray(size_t(cLinks) + 1, 0.5f)); }); break;
    case 2: (void)Raises([&] { net.Write3(t, field, "", TBitArray(cLinks + 1)); }); break;
    default: {
      TIntegerList list;
      for (int32_t r : {0, 2, 2, 5}) list.Add(r);
      (void)Raises([&] { net.Write4(t, field, "", list, flags & 4); });
      break;
    }
  }
  RemoveFuzzFile("t.dbf");
  RemoveFuzzFile("limit1.bin");
  RemoveFuzzFile("limit2.bin");
  return 0;
}
