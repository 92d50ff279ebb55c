#include "foundation/kovra_encryption.h"

namespace kovra {

namespace {

constexpr int64_t cKeyFloor = int64_t(1) << 31;
constexpr int64_t cTwo32 = int64_t(1) << 32;
// First key >= 2^31 of the schedule after 0 -> 1: where every negative start key ends.
constexpr int64_t cNegativeRestartKey = 3698175007;

constexpr int64_t WarmUpFrom(int64_t key) {
  while (key < cKeyFloor) key = EncryptionKeyStep(key);
  return key;
}
static_assert(WarmUpFrom(1) == cNegativeRestartKey);

// The position table. Generator (documented because the table is part of the
// format): SplitMix64 from the seed below; each output's high 32 bits become the
// next entry unless they are 0 or already in the table.
constexpr uint64_t cPositionTableSeed = 0x6B6F7672615F7074u;

constexpr std::array<uint32_t, cPositionTableSize> MakePositionTable() {
  std::array<uint32_t, cPositionTableSize> t{};
  // Open-addressing set of the words taken so far (0 marks a free slot, and 0 is
  // never taken), so the repeat check stays cheap enough for the compiler.
  std::array<uint32_t, 4 * cPositionTableSize> taken{};
  uint64_t state = cPositionTableSeed;
  int n = 0;
  while (n < cPositionTableSize) {
    state += 0x9E3779B97F4A7C15u;
    uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    z ^= z >> 31;
    const uint32_t v = uint32_t(z >> 32);
    if (v == 0) continue;
    size_t slot = v % taken.size();
    while (taken[slot] != 0 && taken[slot] != v) slot = (slot + 1) % taken.size();
    if (taken[slot] == v) continue;
    taken[slot] = v;
    t[n++] = v;
  }
  return t;
}

}  // namespace

constexpr std::array<uint32_t, cPositionTableSize> cPositionTable = MakePositionTable();

int64_t EncryptionRestartKey(int64_t StartKey) {
  if (StartKey == 0) return 0;
  int64_t key = StartKey;
  if (key < 0 && key <= -cTwo32) key = EncryptionKeyStep(key);  // now in (-2^32, 2^32)
  if (key < 0) return cNegativeRestartKey;
  return WarmUpFrom(key);
}

T32Encryption::T32Encryption(int64_t StartKey) : fKeyOrg(EncryptionRestartKey(StartKey)) { Restart(); }

}  // namespace kovra
