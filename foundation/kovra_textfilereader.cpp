#include "foundation/kovra_textfilereader.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "foundation/kovra_io.h"
#include "platform/kovra_codepage.h"
#include "platform/kovra_sysutils.h"

namespace kovra {

namespace {

// Room for a carried incomplete sequence (at most 3 bytes) and the BOM probe.
constexpr size_t cRawSlack = 8;
// Every decoder writes at most 3 UTF-8 bytes per input byte (U+FFFD for one bad byte).
constexpr size_t cMaxGrowth = 3;

inline char* PutReplacement(char* out) { return PutUtf8(out, 0xFFFD); }

// UTF-16 length of well-formed UTF-8 (every line the decoders produce is):
// one unit per byte that starts a character, two for a 4-byte sequence.
// A plain count instead of a decoding pass keeps Position cheap per line.
int64_t Utf16LengthOfValid(const std::string& s) {
  constexpr uint64_t kHigh = 0x8080808080808080ULL;
  constexpr uint64_t kOnes = 0x0101010101010101ULL;
  const char* p = s.data();
  const size_t len = s.size();
  // Per-byte-lane counters of continuation bytes (10xxxxxx) and 4-byte leads
  // (11110xxx), added up every 31 words: the multiply sums the eight lanes
  // into the top byte, so their total must stay below 256.
  int64_t cont = 0, lead4 = 0;
  uint64_t accCont = 0, accLead4 = 0;
  int words = 0;
  auto count = [&](uint64_t w) {
    // Shifting left brings bit k-1 of each byte to bit k; bit 7 is the flag.
    accCont += (w & ~(w << 1) & kHigh) >> 7;
    accLead4 += (w & (w << 1) & (w << 2) & (w << 3) & kHigh) >> 7;
    if (++words == 31) {
      cont += int64_t((accCont * kOnes) >> 56);
      lead4 += int64_t((accLead4 * kOnes) >> 56);
      accCont = accLead4 = 0;
      words = 0;
    }
  };
  size_t i = 0;
  for (; i + 8 <= len; i += 8) {
    uint64_t w;
    std::memcpy(&w, p + i, 8);
    if (w & kHigh) count(w);
  }
  if (i < len) {
    uint64_t w = 0;  // zero bytes count as neither
    std::memcpy(&w, p + i, len - i);
    count(w);
  }
  cont += int64_t((accCont * kOnes) >> 56);
  lead4 += int64_t((accLead4 * kOnes) >> 56);
  return int64_t(len) - cont + lead4;
}

}  // namespace

TTextFileReader::TTextFileReader(const std::string& FileName, uint16_t ACodePage, int32_t ABufferSize)
    : FBufferSize(std::max<int32_t>(ABufferSize, 1)) {
  // The code page first: an unsupported one leaves no open file behind.
  const uint16_t codePage = ResolveCodePage(ACodePage);
  if (codePage == cCodePageUTF8) {
    FDecoding = TDecoding::dUtf8;
  } else if (codePage == cCodePageUTF16) {
    FDecoding = TDecoding::dUtf16LE;
  } else if (IsSingleByteCodePage(codePage)) {  // raises for a page the layer lacks
    FDecoding = TDecoding::dSingleByte;
    const TSingleByteTable& table = SingleByteTable(codePage);
    FTable.resize(256);
    for (size_t b = 0; b < 256; ++b) {
      char bytes[4] = {};
      char* end = PutUtf8(bytes, table[b]);
      uint32_t e = uint32_t(end - bytes) << 24;
      for (int k = 0; k < end - bytes; ++k) e |= uint32_t(uint8_t(bytes[k])) << (8 * k);
      FTable[b] = e;
    }
    FAsciiIdentity = true;
    for (char16_t b = 0; b < 0x80; ++b) FAsciiIdentity = FAsciiIdentity && table[b] == b;
  } else {
    FDecoding = TDecoding::dMultiByte;
    FDecoder = std::make_unique<TCodePageDecoder>(codePage);
  }

  FStream = std::make_unique<TKvFileStream>(FileName, uint16_t(fmOpenRead | fmShareDenyWrite));
  FSize = FStream->Size();
  if (FSize < 0) RaiseReadError(*FStream);

  FRaw.resize(size_t(FBufferSize) + cRawSlack);
  FText.resize((size_t(FBufferSize) + cRawSlack) * cMaxGrowth + 8);
  if (codePage == cCodePageUTF8 || codePage == cCodePageUTF16) DetectBom();
  ReadNextLine(FString);
  FPos = 0;
}

TTextFileReader::~TTextFileReader() { Close(); }

void TTextFileReader::Close() {
  FStream.reset();
  FString.clear();
  FRawLen = 0;
  FRawEnd = true;
  FTextLen = FTextPos = 0;
}

// A failing read raises: taken for the end of the file, it would cut the
// text short without a word.
int32_t TTextFileReader::ReadRaw(uint8_t* dest, int32_t count) {
  if (!FStream) return 0;
  int32_t r = FStream->Read(dest, count);
  if (r <= 0 && FStream->LastError() != 0) RaiseReadError(*FStream);
  return r > 0 ? r : 0;
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
      FStream.reset();
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
    // ASCII runs, eight bytes at a time; the word is copied whole (the
    // buffer has room) and the position advances past its ASCII prefix.
    while (i + 8 <= n) {
      uint64_t w;
      std::memcpy(&w, p + i, 8);
      std::memcpy(out, &w, 8);
      const uint64_t high = w & 0x8080808080808080ULL;
      if (high) {
        const auto ascii = size_t(std::countr_zero(high) >> 3);  // little-endian byte order
        out += ascii;
        i += ascii;
        break;
      }
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
    uint8_t lo, hi;  // allowed range of the second byte
    const size_t len = Utf8Lead(b, lo, hi);
    if (len == 0) {
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
      out = PutUtf8(out, u);
      i += 2;
    } else if (u <= 0xDBFF && i + 3 < n) {
      char32_t u2 = unit(i + 2);
      if (u2 >= 0xDC00 && u2 <= 0xDFFF) {
        out = PutUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (u2 - 0xDC00));
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
  size_t i = 0;
  if (FAsciiIdentity) {
    // Pages that keep ASCII as it is: words of eight ASCII bytes are copied.
    for (; i + 8 <= n; i += 8) {
      uint64_t w;
      std::memcpy(&w, p + i, 8);
      if (w & 0x8080808080808080ULL) {
        for (size_t k = 0; k < 8; ++k) {
          uint32_t e = table[p[i + k]];
          std::memcpy(out, &e, 4);
          out += e >> 24;
        }
      } else {
        std::memcpy(out, &w, 8);
        out += 8;
      }
    }
  }
  for (; i < n; ++i) {
    uint32_t e = table[p[i]];
    std::memcpy(out, &e, 4);  // little-endian: the UTF-8 bytes come first
    out += e >> 24;
  }
  FTextLen = size_t(out - FText.data());
}

void TTextFileReader::DecodeMultiByte(const uint8_t* p, size_t n, bool final) {
  FDecoded.clear();
  FDecoder->Decode(reinterpret_cast<const char*>(p), n, FDecoded);
  if (final) FDecoder->Finish(FDecoded);
  if (FTextLen + FDecoded.size() > FText.size()) FText.resize(FTextLen + FDecoded.size());
  std::memcpy(FText.data() + FTextLen, FDecoded.data(), FDecoded.size());
  FTextLen += FDecoded.size();
}

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
  FPos += Utf16LengthOfValid(FString) + 2;
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
