#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/kovra_encryption.h"

using namespace kovra;

namespace {

std::string RunCommand(const std::string& cmd) {
  std::string out;
  FILE* f = popen(cmd.c_str(), "r");
  if (!f) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  pclose(f);
  return out;
}

std::string Hex(uint64_t v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%llx", (unsigned long long)v);
  return buf;
}

template <typename F>
std::string Series(const char* name, int64_t key, int count, F next) {
  std::string s = std::string(name) + " " + std::to_string(key);
  for (int i = 0; i < count; ++i) s += " " + Hex(next());
  return s;
}

uint64_t Fnv1a64(const std::array<uint32_t, cPositionTableSize>& t) {
  uint64_t h = 0xCBF29CE484222325u;
  for (uint32_t w : t)
    for (int b = 0; b < 4; ++b) h = (h ^ ((w >> (8 * b)) & 0xFF)) * 0x100000001B3u;
  return h;
}

// The same lines as tests/scripts/encryption_oracle.py, computed by the library.
std::string LibraryLines() {
  const int64_t keys[] = {1, 5, int64_t(1) << 31, int64_t(1) << 40, 4944058163,
                          std::numeric_limits<int64_t>::max(), -5, -(int64_t(1) << 40)};
  std::ostringstream out;
  for (int64_t k : keys) {
    T32Encryption e(k);
    out << "restart " << k << " " << e.KeyOrg() << "\n";
    out << Series("byte", k, 6, [&] { return e.Encode(uint8_t(0)); }) << "\n";
    e.Restart();
    out << Series("word", k, 6, [&] { return e.Encode(uint16_t(0)); }) << "\n";
    e.Restart();
    out << Series("card", k, 6, [&] { return e.Encode(uint32_t(0)); }) << "\n";
    e.Restart();
    out << Series("int64", k, 4, [&] { return uint64_t(e.Encode(int64_t(0))); }) << "\n";
    e.Restart();
    out << Series("single", k, 4, [&] { return e.Encode(1.5f); }) << "\n";
    e.Restart();
    out << Series("double", k, 4, [&] { return uint64_t(e.Encode(-2.2)); }) << "\n";
    e.Restart();
    out << "mixed " << k << " " << Hex(e.Encode(uint8_t(0x5A))) << " " << Hex(e.Encode(uint16_t(0x1234)))
        << " " << Hex(e.Encode(uint32_t(0xDEADBEEF))) << " "
        << Hex(uint64_t(e.Encode(int64_t(0x0123456789ABCDEF)))) << " " << Hex(e.Encode(1.5f)) << " "
        << Hex(uint64_t(e.Encode(-2.2))) << "\n";
  }
  out << "table " << Hex(Fnv1a64(cPositionTable)) << " " << Hex(cPositionTable[0]) << " "
      << Hex(cPositionTable[1]) << " " << Hex(cPositionTable[1023]) << "\n";
  for (int64_t k : {int64_t(5), int64_t(1) << 40, int64_t(-5), -(int64_t(1) << 40),
                    std::numeric_limits<int64_t>::max()}) {
    T32EncryptionArray a(k);
    out << "array " << k;
    for (int32_t p : {std::numeric_limits<int32_t>::min(), -1025, -1, 0, 1, 1023, 1024,
                      std::numeric_limits<int32_t>::max()})
      out << " " << Hex(a.Encode(uint32_t(0), p)) << "/" << Hex(uint64_t(a.Encode(-2.2, p)));
    out << "\n";
  }
  return out.str();
}

}  // namespace

TEST(Encryption, MatchesTheIndependentModel) {
  const std::string oracle = RunCommand("python3 " KOVRA_TEST_SCRIPTS_DIR "/encryption_oracle.py");
  ASSERT_FALSE(oracle.empty()) << "python3 oracle did not run";
  const std::string lib = LibraryLines();
  std::istringstream a(oracle), b(lib);
  std::string la, lb;
  int line = 0;
  while (std::getline(a, la)) {
    ++line;
    ASSERT_TRUE(std::getline(b, lb)) << "library output ends before line " << line;
    EXPECT_EQ(lb, la) << "line " << line;
  }
  EXPECT_FALSE(std::getline(b, lb)) << "library output has extra lines";
}

TEST(Encryption, PinnedScheduleAndTable) {
  // Golden values: changing any of them makes existing encrypted networks unreadable.
  EXPECT_EQ(EncryptionRestartKey(1), 3698175007);
  EXPECT_EQ(EncryptionRestartKey(-1), 3698175007);
  EXPECT_EQ(EncryptionRestartKey(std::numeric_limits<int64_t>::min()), 3698175007);
  EXPECT_EQ(EncryptionRestartKey(0), 0);
  EXPECT_EQ(EncryptionKeyStep(4944058163), 0) << "this start key's second key is 0";
  EXPECT_EQ(Fnv1a64(cPositionTable), 0x88e15e43c67e33a7u);
  std::vector<uint32_t> sorted(cPositionTable.begin(), cPositionTable.end());
  std::sort(sorted.begin(), sorted.end());
  EXPECT_NE(sorted.front(), 0u);
  EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << "entries are distinct";
}

TEST(Encryption, ZeroKeyIsBitExactIdentity) {
  T32Encryption e(0);
  const double nan = std::bit_cast<double>(uint64_t(0x7FF8DEADBEEF0001));
  const float fnan = std::bit_cast<float>(uint32_t(0x7FC00123));
  EXPECT_EQ(e.Encode(uint8_t(0xAB)), 0xAB);
  EXPECT_EQ(e.Encode(uint16_t(0xABCD)), 0xABCD);
  EXPECT_EQ(e.Encode(uint32_t(0xDEADBEEF)), 0xDEADBEEFu);
  EXPECT_EQ(e.Encode(int64_t(-7)), -7);
  EXPECT_EQ(e.Encode(fnan), 0x7FC00123u);
  EXPECT_EQ(std::bit_cast<uint32_t>(e.Decode(uint32_t(0x7FC00123))), 0x7FC00123u);
  EXPECT_EQ(uint64_t(e.Encode(nan)), 0x7FF8DEADBEEF0001u);
  EXPECT_EQ(std::bit_cast<uint64_t>(e.Decode(int64_t(0x7FF8DEADBEEF0001))), 0x7FF8DEADBEEF0001u);
  EXPECT_EQ(uint64_t(e.Encode(-0.0)), 0x8000000000000000u);
  EXPECT_FALSE(e.KeyActive());

  T32EncryptionArray a(0);
  EXPECT_EQ(a.Encode(uint32_t(0x12345678), 77), 0x12345678u);
  EXPECT_EQ(std::bit_cast<uint64_t>(a.Decode(int64_t(0x7FF8DEADBEEF0001), -3)), 0x7FF8DEADBEEF0001u);
  EXPECT_EQ(uint64_t(a.Encode(nan, 9)), 0x7FF8DEADBEEF0001u);
}

TEST(Encryption, MixedWidthsRoundTripAfterRestart) {
  std::mt19937_64 rng(42);
  for (int64_t k : {int64_t(1), int64_t(5), int64_t(1) << 40, int64_t(4944058163), int64_t(-5),
                    std::numeric_limits<int64_t>::max()}) {
    T32Encryption e(k);
    struct V {
      int kind;
      uint64_t bits;
    };
    std::vector<V> plain, coded;
    for (int i = 0; i < 500; ++i) {
      const int kind = int(rng() % 6);
      uint64_t bits = rng();
      if (kind == 4) bits = std::bit_cast<uint32_t>(float(int32_t(bits)) / 7.0f);
      if (kind == 5) bits = std::bit_cast<uint64_t>(double(int64_t(bits)) / 3.0);
      plain.push_back({kind, bits});
      uint64_t c = 0;
      switch (kind) {
        case 0: c = e.Encode(uint8_t(bits)); break;
        case 1: c = e.Encode(uint16_t(bits)); break;
        case 2: c = e.Encode(uint32_t(bits)); break;
        case 3: c = uint64_t(e.Encode(int64_t(bits))); break;
        case 4: c = e.Encode(std::bit_cast<float>(uint32_t(bits))); break;
        case 5: c = uint64_t(e.Encode(std::bit_cast<double>(bits))); break;
      }
      coded.push_back({kind, c});
    }
    e.Restart();
    for (size_t i = 0; i < coded.size(); ++i) {
      const uint64_t c = coded[i].bits;
      uint64_t back = 0;
      switch (coded[i].kind) {
        case 0: back = e.Encode(uint8_t(c)); break;
        case 1: back = e.Encode(uint16_t(c)); break;
        case 2: back = e.Encode(uint32_t(c)); break;
        case 3: back = uint64_t(e.Encode(int64_t(c))); break;
        case 4: back = std::bit_cast<uint32_t>(e.Decode(uint32_t(c))); break;
        case 5: back = std::bit_cast<uint64_t>(e.Decode(int64_t(c))); break;
      }
      const uint64_t mask = coded[i].kind == 0 ? 0xFF : coded[i].kind == 1 ? 0xFFFF
                          : (coded[i].kind == 2 || coded[i].kind == 4) ? 0xFFFFFFFF : ~uint64_t(0);
      ASSERT_EQ(back, plain[i].bits & mask) << "key " << k << " value " << i;
    }
  }
}

TEST(Encryption, ArrayCipherInvolutionPeriodAndNegativePositions) {
  for (int64_t k : {int64_t(1), int64_t(-5), int64_t(1) << 40, std::numeric_limits<int64_t>::max()}) {
    T32EncryptionArray a(k);
    T32EncryptionArray b(0);
    a.Clone(b);
    EXPECT_EQ(b.Key(), k);
    for (int32_t p : {std::numeric_limits<int32_t>::min(), -2049, -1, 0, 1, 1022, 1023, 70000,
                      std::numeric_limits<int32_t>::max() - 1024}) {
      const uint32_t x = 0x9E3779B9u ^ uint32_t(p);
      EXPECT_EQ(a.Encode(a.Encode(x, p), p), x);
      EXPECT_EQ(a.Encode(x, p), a.Encode(x, p + 1024)) << "p and p+1024 share an entry";
      EXPECT_NE(a.Encode(x, p), x);
      const double d = 12345.678 + p;
      EXPECT_EQ(std::bit_cast<uint64_t>(a.Decode(a.Encode(d, p), p)), std::bit_cast<uint64_t>(d));
      // The high half of value i and the low half of value i + 1 use one entry.
      EXPECT_EQ(uint32_t(uint64_t(a.Encode(0.0, p)) >> 32), a.Encode(uint32_t(0), p + 1));
    }
  }
}
