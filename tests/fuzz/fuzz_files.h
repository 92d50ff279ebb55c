// Fuzz inputs that stand for two files: one flag byte, the length of the first
// file (UInt32, little-endian), the first file, then the second file to the
// end. A length past the end takes what is there.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

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

// Inputs that stand for several files: a header of HeaderSize bytes, then
// each file as its length (UInt32, little-endian) and its bytes. A length
// past the end takes what is there; missing files are empty.
struct TFiles {
  std::string Header;
  std::vector<std::string> Files;
};

inline TFiles SplitFiles(const uint8_t* Data, size_t Size, size_t HeaderSize, size_t Count) {
  TFiles f;
  size_t at = HeaderSize < Size ? HeaderSize : Size;
  f.Header.assign(reinterpret_cast<const char*>(Data), at);
  f.Header.resize(HeaderSize, '\0');
  for (size_t i = 0; i < Count; ++i) {
    uint32_t length = 0;
    const size_t head = Size - at < 4 ? Size - at : 4;
    std::memcpy(&length, Data + at, head);
    at += head;
    const size_t n = length < Size - at ? length : Size - at;
    f.Files.emplace_back(reinterpret_cast<const char*>(Data + at), n);
    at += n;
  }
  return f;
}

inline std::string JoinFiles(std::string_view Header, const std::vector<std::string>& Files) {
  std::string s(Header);
  for (const std::string& f : Files) {
    const uint32_t length = uint32_t(f.size());
    s.append(reinterpret_cast<const char*>(&length), 4);
    s.append(f);
  }
  return s;
}

}  // namespace kovra::fuzz
