#include "foundation/kovra_textfilereader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace kovra {

namespace {

constexpr uint16_t cUtf16CodePage = 1200;
constexpr uint16_t cUtf8CodePage = 65001;
// Room for a carried incomplete sequence (at most 3 bytes) and the BOM probe.
constexpr size_t cRawSlack = 8;
// Every decoder writes at most 3 UTF-8 bytes per input byte (U+FFFD for one bad byte).
constexpr size_t cMaxGrowth = 3;

inline char* PutReplacement(char* out) {
  out[0] = char(0xEF);
  out[1] = char(0xBF);
  out[2] = char(0xBD);
  return out + 3;
}

inline char* PutCodePoint(char* out, char32_t cp) {
  if (cp < 0x80) {
    *out++ = char(cp);
  } else if (cp < 0x800) {
    *out++ = char(0xC0 | (cp >> 6));
    *out++ = char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out++ = char(0xE0 | (cp >> 12));
    *out++ = char(0x80 | ((cp >> 6) & 0x3F));
    *out++ = char(0x80 | (cp & 0x3F));
  } else {
    *out++ = char(0xF0 | (cp >> 18));
    *out++ = char(0x80 | ((cp >> 12) & 0x3F));
    *out++ = char(0x80 | ((cp >> 6) & 0x3F));
    *out++ = char(0x80 | (cp & 0x3F));
  }
  return out;
}

}  // namespace

TTextFileReader::TTextFileReader(const std::string& FileName, uint16_t ACodePage, int32_t ABufferSize)
    : FBufferSize(std::max<int32_t>(ABufferSize, 1)) {
  uint16_t codePage = ACodePage;
  if (codePage == cUtf8CodePage) {
    FDecoding = TDecoding::dUtf8;
  } else if (codePage == cUtf16CodePage) {
    FDecoding = TDecoding::dUtf16LE;
  } else {
    throw Exception(Format("Code page %d is not supported", int(codePage)));
  }

  FHandle = ::open(FileName.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (FHandle >= 0 && (::fstat(FHandle, &st) != 0 || S_ISDIR(st.st_mode))) {
    int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
    ::close(FHandle);
    FHandle = -1;
    errno = err;
  }
  if (FHandle < 0) {
    std::error_code ec;
    auto abs = std::filesystem::absolute(FileName, ec);
    throw EFOpenError(Format("Cannot open file \"%s\". %s", ec ? FileName : abs.string(), std::strerror(errno)));
  }
  FSize = st.st_size;

  FRaw.resize(size_t(FBufferSize) + cRawSlack);
  FText.resize((size_t(FBufferSize) + cRawSlack) * cMaxGrowth + 8);
  if (codePage == cUtf8CodePage || codePage == cUtf16CodePage) DetectBom();
  ReadNextLine(FString);
  FPos = 0;
}

TTextFileReader::~TTextFileReader() { Close(); }

void TTextFileReader::Close() {
  if (FHandle >= 0) {
    ::close(FHandle);
    FHandle = -1;
  }
  FString.clear();
  FRawLen = 0;
  FRawEnd = true;
  FTextLen = FTextPos = 0;
}

int32_t TTextFileReader::ReadRaw(uint8_t* dest, int32_t count) {
  if (FHandle < 0) return 0;
  ssize_t r;
  do {
    r = ::read(FHandle, dest, size_t(count));
  } while (r < 0 && errno == EINTR);
  return r > 0 ? int32_t(r) : 0;
}

// A byte-order mark picks the decoding and is skipped; any other bytes stay
// in the raw buffer as the start of the text.
void TTextFileReader::DetectBom() {
  while (FRawLen < 3) {
    int32_t got = ReadRaw(FRaw.data() + FRawLen, int32_t(std::min<size_t>(size_t(FBufferSize), FRaw.size() - FRawLen)));
    if (got <= 0) break;
    FRawLen += size_t(got);
  }
  size_t skip = 0;
  const uint8_t* p = FRaw.data();
  if (FRawLen >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
    FDecoding = TDecoding::dUtf8;
    skip = 3;
  } else if (FRawLen >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
    FDecoding = TDecoding::dUtf16LE;
    skip = 2;
  } else if (FRawLen >= 2 && p[0] == 0xFE && p[1] == 0xFF) {
    FDecoding = TDecoding::dUtf16BE;
    skip = 2;
  }
  if (skip > 0) {
    std::memmove(FRaw.data(), FRaw.data() + skip, FRawLen - skip);
    FRawLen -= skip;
  }
}

// Decodes the next block into the text buffer; bytes of a sequence cut by the
// block's end are carried to the front of the raw buffer for the next call.
bool TTextFileReader::Refill() {
  FTextLen = FTextPos = 0;
  FNextLF = FNextCR = -1;
  while (!FRawEnd) {
    size_t room = std::min(size_t(FBufferSize), FRaw.size() - FRawLen);
    bool final = false;
    if (room > 0) {
      int32_t got = ReadRaw(FRaw.data() + FRawLen, int32_t(room));
      if (got > 0)
        FRawLen += size_t(got);
      else
        final = true;
    }
    size_t used = 0;
    Decode(FRaw.data(), FRawLen, final, used);
    std::memmove(FRaw.data(), FRaw.data() + used, FRawLen - used);
    FRawLen -= used;
    if (final) {
      FRawEnd = true;
      if (FHandle >= 0) {
        ::close(FHandle);
        FHandle = -1;
      }
    }
    if (FTextLen > 0) return true;
  }
  return false;
}

void TTextFileReader::Decode(const uint8_t* p, size_t n, bool final, size_t& used) {
  switch (FDecoding) {
    case TDecoding::dUtf8:
      DecodeUtf8(p, n, final, used);
      break;
    case TDecoding::dUtf16LE:
    case TDecoding::dUtf16BE:
      DecodeUtf16(p, n, final, used);
      break;
    case TDecoding::dSingleByte:
      DecodeSingleByte(p, n);
      used = n;
      break;
    case TDecoding::dMultiByte:
      DecodeMultiByte(p, n, final);
      used = n;
      break;
  }
}

// Well-formed sequences are copied; each maximal ill-formed subpart becomes one
// U+FFFD (the Unicode recommended practice, which python's decoder follows too).
void TTextFileReader::DecodeUtf8(const uint8_t* p, size_t n, bool final, size_t& used) {
  char* out = FText.data() + FTextLen;
  size_t i = 0;
  while (i < n) {
    // ASCII runs, eight bytes at a time.
    while (i + 8 <= n) {
      uint64_t w;
      std::memcpy(&w, p + i, 8);
      if (w & 0x8080808080808080ULL) break;
      std::memcpy(out, &w, 8);
      out += 8;
      i += 8;
    }
    if (i >= n) break;
    uint8_t b = p[i];
    if (b < 0x80) {
      *out++ = char(b);
      ++i;
      continue;
    }
    size_t len;
    uint8_t lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
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
      out = PutReplacement(out);
      ++i;
      continue;
    }
    size_t k = 1;
    bool truncated = false;
    for (; k < len; ++k) {
      if (i + k >= n) {
        truncated = true;
        break;
      }
      uint8_t c = p[i + k];
      if (k == 1 ? (c < lo || c > hi) : (c < 0x80 || c > 0xBF)) break;
    }
    if (k == len) {
      std::memcpy(out, p + i, len);
      out += len;
      i += len;
    } else if (truncated && !final) {
      break;  // carried to the next block
    } else {
      out = PutReplacement(out);
      i += k;
    }
  }
  used = i;
  FTextLen = size_t(out - FText.data());
}

void TTextFileReader::DecodeUtf16(const uint8_t* p, size_t n, bool final, size_t& used) {
  const bool le = FDecoding == TDecoding::dUtf16LE;
  auto unit = [&](size_t at) -> char32_t {
    return le ? char32_t(p[at] | (p[at + 1] << 8)) : char32_t((p[at] << 8) | p[at + 1]);
  };
  char* out = FText.data() + FTextLen;
  size_t i = 0;
  while (i + 1 < n) {
    char32_t u = unit(i);
    if (u < 0xD800 || u > 0xDFFF) {
      out = PutCodePoint(out, u);
      i += 2;
    } else if (u <= 0xDBFF && i + 3 < n) {
      char32_t u2 = unit(i + 2);
      if (u2 >= 0xDC00 && u2 <= 0xDFFF) {
        out = PutCodePoint(out, 0x10000 + ((u - 0xD800) << 10) + (u2 - 0xDC00));
        i += 4;
      } else {
        out = PutReplacement(out);
        i += 2;
      }
    } else if (u <= 0xDBFF && !final) {
      break;  // the low surrogate may follow in the next block
    } else {
      out = PutReplacement(out);  // lone surrogate
      i += 2;
    }
  }
  if (final && i < n) {
    out = PutReplacement(out);  // odd trailing byte
    i = n;
  }
  used = i;
  FTextLen = size_t(out - FText.data());
}

void TTextFileReader::DecodeSingleByte(const uint8_t* p, size_t n) {
  char* out = FText.data() + FTextLen;
  const uint32_t* table = FTable.data();
  for (size_t i = 0; i < n; ++i) {
    uint32_t e = table[p[i]];
    std::memcpy(out, &e, 4);  // little-endian: the UTF-8 bytes come first
    out += e >> 24;
  }
  FTextLen = size_t(out - FText.data());
}

void TTextFileReader::DecodeMultiByte(const uint8_t*, size_t, bool) {}

void TTextFileReader::ReadNextLine(std::string& line) {
  line.clear();
  for (;;) {
    if (FTextPos >= FTextLen && !Refill()) return;
    const char* base = FText.data();
    // Each of CR and LF is searched once per occurrence, so a block without
    // LF is not rescanned for every CR-terminated line.
    const char* s = base + FTextPos;
    size_t n = FTextLen - FTextPos;
    if (FNextLF < ptrdiff_t(FTextPos)) {
      const char* lf = static_cast<const char*>(std::memchr(s, '\n', n));
      FNextLF = lf ? ptrdiff_t(lf - base) : ptrdiff_t(FTextLen);
    }
    if (FNextCR < ptrdiff_t(FTextPos)) {
      const char* cr = static_cast<const char*>(std::memchr(s, '\r', size_t(FNextLF) - FTextPos));
      // Not found before the LF: the LF breaks first, search again after it.
      FNextCR = cr ? ptrdiff_t(cr - base) : FNextLF;
    }
    size_t brk = size_t(std::min(FNextLF, FNextCR));
    line.append(base + FTextPos, brk - FTextPos);
    if (brk == FTextLen) {
      FTextPos = FTextLen;
      continue;  // the line goes on in the next block
    }
    char c = base[brk];
    FTextPos = brk + 1;
    if (c == '\r') {
      // CR LF is one break, also when the LF starts the next block.
      if (FTextPos >= FTextLen) Refill();
      if (FTextPos < FTextLen && FText[FTextPos] == '\n') ++FTextPos;
    }
    return;
  }
}

void TTextFileReader::ReadLine(std::string& Line) {
  // Progress counts UTF-16 code units, as the line's length in characters.
  FPos += int64_t(Utf16Length(FString)) + 2;
  std::swap(Line, FString);
  ReadNextLine(FString);
}

std::string TTextFileReader::ReadLine() {
  std::string line;
  ReadLine(line);
  return line;
}

bool TTextFileReader::Eof() { return FString.empty() && !HasMoreData(); }

}  // namespace kovra
