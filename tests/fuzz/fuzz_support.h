// Shared by the fuzz targets: the input taken apart piece by piece, files in
// a private temporary folder, and checks that end the run with a finding.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace kovra::fuzz {

// Reads the fuzz input front to back; past the end every read gives zeros or
// empty pieces, so a target never has to test the length itself.
class TFuzzInput {
public:
  TFuzzInput(const uint8_t* Data, size_t Size) : FData(reinterpret_cast<const char*>(Data)), FSize(Size) {}

  bool Empty() const { return FPos >= FSize; }
  size_t Left() const { return FSize - FPos; }
  uint8_t Byte() { return FPos < FSize ? uint8_t(FData[FPos++]) : 0; }
  uint16_t UInt16() { return uint16_t(Byte() | (Byte() << 8)); }
  uint32_t UInt32() { return uint32_t(UInt16()) | (uint32_t(UInt16()) << 16); }
  uint64_t UInt64() { return uint64_t(UInt32()) | (uint64_t(UInt32()) << 32); }
  // Up to Count bytes.
  std::string_view Bytes(size_t Count) {
    size_t n = Count < Left() ? Count : Left();
    std::string_view s(FData + FPos, n);
    FPos += n;
    return s;
  }
  // A piece of at most Max bytes whose length comes from the input.
  std::string_view Piece(size_t Max) { return Bytes(Max == 0 ? 0 : Byte() % (Max + 1)); }
  std::string_view Rest() { return Bytes(Left()); }

private:
  const char* FData;
  size_t FSize;
  size_t FPos = 0;
};

// A folder of its own for the process, removed at exit.
inline const std::filesystem::path& FuzzDir() {
  static const std::filesystem::path dir = [] {
    std::string tmpl = (std::filesystem::temp_directory_path() / "kovra_fuzz_XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
    static std::string keep = tmpl;
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(keep, ec);
    });
    return std::filesystem::path(tmpl);
  }();
  return dir;
}

// Writes Bytes to Name in the folder (replacing it) and returns the path.
inline std::string WriteFuzzFile(const std::string& Name, std::string_view Bytes) {
  std::string path = (FuzzDir() / Name).string();
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(Bytes.data(), std::streamsize(Bytes.size()));
  f.close();
  if (!f) std::abort();
  return path;
}

inline void RemoveFuzzFile(const std::string& Name) {
  std::error_code ec;
  std::filesystem::remove(FuzzDir() / Name, ec);
}

// A divergence from the model or a broken property: reported like a crash.
[[noreturn]] inline void Finding(const char* What) {
  std::fprintf(stderr, "fuzz finding: %s\n", What);
  std::abort();
}
inline void Check(bool Ok, const char* What) {
  if (!Ok) Finding(What);
}

// True when s is well-formed UTF-8 (what every decoder of the library returns).
// Written apart from the library's decoders on purpose: it checks them.
inline bool IsValidUtf8(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  size_t n = s.size(), i = 0;
  while (i < n) {
    unsigned char b = p[i];
    size_t len;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b < 0x80) {
      ++i;
      continue;
    } else if (b >= 0xC2 && b <= 0xDF) {
      len = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
      len = 3;
      if (b == 0xE0) lo = 0xA0;
      if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      len = 4;
      if (b == 0xF0) lo = 0x90;
      if (b == 0xF4) hi = 0x8F;
    } else {
      return false;
    }
    if (i + len > n) return false;
    if (p[i + 1] < lo || p[i + 1] > hi) return false;
    for (size_t k = 2; k < len; ++k)
      if ((p[i + k] & 0xC0) != 0x80) return false;
    i += len;
  }
  return true;
}

}  // namespace kovra::fuzz
