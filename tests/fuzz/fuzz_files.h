// Fuzz inputs that stand for two files: one flag byte, the length of the first
// file (UInt32, little-endian), the first file, then the second file to the
// end. A length past the end takes what is there.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace kovra::fuzz {

struct TTwoFiles {
  uint8_t Flags = 0;
  std::string First;
  std::string Second;
};

inline TTwoFiles SplitTwoFiles(const uint8_t* Data, size_t Size) {
  TTwoFiles f;
  if (Size == 0) return f;
  f.Flags = Data[0];
  uint32_t length = 0;
  const size_t head = Size < 5 ? Size : 5;
  std::memcpy(&length, Data + 1, head - 1);
  const size_t rest = Size - head;
  const size_t first = length < rest ? length : rest;
  f.First.assign(reinterpret_cast<const char*>(Data + head), first);
  f.Second.assign(reinterpret_cast<const char*>(Data + head + first), rest - first);
  return f;
}

inline std::string JoinTwoFiles(uint8_t Flags, std::string_view First, std::string_view Second) {
  std::string s(1, char(Flags));
  const uint32_t length = uint32_t(First.size());
  s.append(reinterpret_cast<const char*>(&length), 4);
  s.append(First);
  s.append(Second);
  return s;
}

}  // namespace kovra::fuzz
