// Value encryption of the network files: XOR with a key stream, so the same
// operation encrypts and decrypts.
//  - T32Encryption: a sequential stream, one linear-congruential step per value;
//    a file is processed from Restart() in file order.
//  - T32EncryptionArray: position-keyed, each 32-bit word XORed with an entry of a
//    fixed 1024-word table chosen by key + position, for random access.
// Both are bit-exact on every machine: all wrapping arithmetic is unsigned.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

#include "platform/kovra_sysutils.h"

namespace kovra {

// One step of the key schedule: (key * 134775813 + 1) mod 2^32, the product in
// 64-bit two's complement and the remainder with the sign of the dividend (C++ %
// truncates the same way). Keys in 0..2^32-1 stay there; a kept start key of
// 2^32 or more may step to a negative key, whose low bits still encode.
constexpr int64_t EncryptionKeyStep(int64_t key) {
  return int64_t(uint64_t(key) * 134775813u + 1u) % int64_t(4294967296);
}

// The restart key for a start key: 0 stays 0; otherwise the key is stepped until
// it is at least 2^31 (a larger start key is kept). Negative start keys: a key in
// (-2^32, 0) steps through negative values until the sequence reaches 0, then on
// to the first value >= 2^31 after 1, which is 3698175007 for all of them; that
// value is taken at once instead of walking up to 2^32 steps.
int64_t EncryptionRestartKey(int64_t StartKey);

class T32Encryption : public TObject {
public:
  explicit T32Encryption(int64_t StartKey);

  // Running key := restart key; call before each file and each pass over it.
  void Restart() {
    fKey = uint32_t(uint64_t(fKeyOrg));
    fKeyActive = fKeyOrg != 0;
  }

  uint8_t Encode(uint8_t x) {
    if (!fKeyActive) return x;
    const uint8_t r = x ^ uint8_t(fKey);
    Advance();
    return r;
  }
  uint16_t Encode(uint16_t x) {
    if (!fKeyActive) return x;
    const uint16_t r = x ^ uint16_t(fKey);
    Advance();
    return r;
  }
  uint32_t Encode(uint32_t x) {
    if (!fKeyActive) return x;
    const uint32_t r = x ^ uint32_t(fKey);
    Advance();
    return r;
  }
  // Low half, then high half: two steps. A key reaching 0 after the low half
  // leaves the high half plain, like every later value of the pass.
  int64_t Encode(int64_t x) {
    if (!fKeyActive) return x;
    const uint64_t u = uint64_t(x);
    const uint32_t lo = Encode(uint32_t(u));
    const uint32_t hi = Encode(uint32_t(u >> 32));
    return int64_t((uint64_t(hi) << 32) | lo);
  }
  // The IEEE-754 bits of a Single as a Cardinal, and back.
  uint32_t Encode(float x) { return Encode(std::bit_cast<uint32_t>(x)); }
  float Decode(uint32_t x) { return std::bit_cast<float>(Encode(x)); }
  // The IEEE-754 bits of a Double as an Int64, and back.
  int64_t Encode(double x) { return Encode(std::bit_cast<int64_t>(x)); }
  double Decode(int64_t x) { return std::bit_cast<double>(Encode(x)); }

  int64_t KeyOrg() const { return fKeyOrg; }
  // False once the running key is 0: the rest of the pass is plain.
  bool KeyActive() const { return fKeyActive; }

private:
  // After its first step every running key lies in (-2^32, 2^32), where it is 0
  // exactly when its low 32 bits are, and those bits follow the plain unsigned
  // step (the signed remainder keeps the value modulo 2^32). Only the restart key
  // may be 2^32 or more with low bits 0 and still encode. So the running key is
  // kept as its low 32 bits plus a non-zero flag: the same stream, one short
  // multiply-add per value.
  void Advance() {
    fKey = uint32_t(fKey * 134775813u + 1u);
    fKeyActive = fKey != 0;
  }

  uint64_t fKey = 0;         // low 32 bits of the running key (64-bit: no aliasing with callers' words)
  bool fKeyActive = false;   // the running key is not 0
  int64_t fKeyOrg = 0;       // restart key
};

// The position table: 1024 fixed words, part of the file format of enciphered
// intermediate-vertex files (see kovra_encryption.cpp for the generator).
inline constexpr int cPositionTableSize = 1024;
extern const std::array<uint32_t, cPositionTableSize> cPositionTable;

class T32EncryptionArray : public TObject {
public:
  explicit T32EncryptionArray(int64_t StartKey) : fKey(StartKey) {}

  // Gives v the same key.
  void Clone(T32EncryptionArray& v) const { v.fKey = fKey; }

  // Key + position in 64-bit two's complement, so a negative sum still selects
  // an entry 0..1023.
  uint32_t Encode(uint32_t x, int32_t position) const {
    if (fKey == 0) return x;
    return x ^ cPositionTable[(uint64_t(fKey) + uint64_t(int64_t(position))) & 1023u];
  }
  // Low half with `position`, high half with `position` + 1 (in 64-bit, no overflow).
  int64_t Encode(double x, int32_t position) const { return Apply(std::bit_cast<uint64_t>(x), position); }
  double Decode(int64_t x, int32_t position) const {
    return std::bit_cast<double>(uint64_t(Apply(uint64_t(x), position)));
  }

  int64_t Key() const { return fKey; }

private:
  int64_t Apply(uint64_t u, int32_t position) const {
    if (fKey == 0) return int64_t(u);
    const uint64_t k = uint64_t(fKey) + uint64_t(int64_t(position));
    const uint32_t lo = uint32_t(u) ^ cPositionTable[k & 1023u];
    const uint32_t hi = uint32_t(u >> 32) ^ cPositionTable[(k + 1u) & 1023u];
    return int64_t((uint64_t(hi) << 32) | lo);
  }

  int64_t fKey = 0;  // start key, unchanged; 0 = no encryption
};

}  // namespace kovra
