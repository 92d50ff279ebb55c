#include "platform/kovra_codepage.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/kovra_sysutils.h"

namespace kovra {

namespace {

constexpr char16_t cReplacement = 0xFFFD;

enum class TPageKind : uint8_t { Unsupported, UTF8, UTF16, SingleByte, MultiByte };

// Inverse of a single-byte table: code unit -> byte, -1 when unmapped. Two
// levels so that a page costs only the 256-entry blocks it uses.
struct TInverseTable {
  std::array<std::unique_ptr<std::array<int16_t, 256>>, 256> Blocks;

  int Lookup(char32_t cp) const {
    if (cp > 0xFFFF) return -1;
    const auto& block = Blocks[cp >> 8];
    return block ? (*block)[cp & 0xFF] : -1;
  }
  void Set(char16_t cu, uint8_t b) {
    auto& block = Blocks[cu >> 8];
    if (!block) {
      block = std::make_unique<std::array<int16_t, 256>>();
      block->fill(-1);
    }
    if ((*block)[cu & 0xFF] < 0) (*block)[cu & 0xFF] = int16_t(b);  // lowest byte wins
  }
};

struct TPageInfo {
  TPageKind Kind = TPageKind::Unsupported;
  std::string IcuName;
  TSingleByteTable Table{};
  TInverseTable Inverse;
  // UTF-8 bytes of each table entry and their count, so that decoding writes
  // 4 bytes and advances by the count.
  std::array<std::array<char, 4>, 256> Utf8Bytes{};
  std::array<uint8_t, 256> Utf8Len{};
};

// ---------------------------------------------------------------------------
// ICU callbacks: U+FFFD for bytes that do not decode (ICU would write U+001A
// for single-byte pages), '?' for characters a page lacks (ICU would write
// 0x1A or 0x7F).

void ToUReplacement(const void*, UConverterToUnicodeArgs* args, const char*, int32_t,
                    UConverterCallbackReason reason, UErrorCode* err) {
  if (reason > UCNV_IRREGULAR) return;  // reset, close, clone
  static const UChar sub = 0xFFFD;
  *err = U_ZERO_ERROR;
  ucnv_cbToUWriteUChars(args, &sub, 1, 0, err);
}

void FromUQuestionMark(const void*, UConverterFromUnicodeArgs* args, const UChar*, int32_t, UChar32,
                       UConverterCallbackReason reason, UErrorCode* err) {
  if (reason > UCNV_IRREGULAR) return;
  *err = U_ZERO_ERROR;
  ucnv_cbFromUWriteBytes(args, "?", 1, 0, err);
}

// Fits-test: note the first unmappable character and stop (the error stays set).
void FromUStop(const void* context, UConverterFromUnicodeArgs*, const UChar*, int32_t, UChar32,
               UConverterCallbackReason reason, UErrorCode*) {
  if (reason > UCNV_IRREGULAR) return;
  *static_cast<bool*>(const_cast<void*>(context)) = true;
}

struct TConverterCloser {
  void operator()(UConverter* c) const { ucnv_close(c); }
};
using TConverterPtr = std::unique_ptr<UConverter, TConverterCloser>;

// Opens a converter with our callbacks and without best fit; nullptr on failure.
TConverterPtr OpenConverter(const std::string& name) {
  UErrorCode err = U_ZERO_ERROR;
  TConverterPtr cnv(ucnv_open(name.c_str(), &err));
  if (U_FAILURE(err) || !cnv) return nullptr;
  ucnv_setFallback(cnv.get(), false);
  err = U_ZERO_ERROR;
  ucnv_setToUCallBack(cnv.get(), ToUReplacement, nullptr, nullptr, nullptr, &err);
  ucnv_setFromUCallBack(cnv.get(), FromUQuestionMark, nullptr, nullptr, nullptr, &err);
  return cnv;
}

// ICU's DOS pages are IBM tables; the library follows the Windows mappings.
void PatchSingleByteTable(uint16_t cp, TSingleByteTable& t) {
  // ICU rotates these control bytes in its IBM tables.
  t[0x1A] = 0x1A;
  t[0x1C] = 0x1C;
  t[0x7F] = 0x7F;
  if (cp == 437 || (cp >= 860 && cp <= 865 && cp != 864)) t[0xE6] = 0x00B5;
  if (cp == 852) t[0xAA] = 0x00AC;
  if (cp == 864) {
    t[0x25] = 0x066A;
    t[0xD7] = 0xFEC1;
    t[0xD8] = 0xFEC5;
    t[0xF1] = 0x0651;
  }
  if (cp == 869) {
    t[0x88] = 0x00B7;
    t[0xEF] = 0x0384;
  }
}

std::unique_ptr<TPageInfo> BuildPageInfo(uint16_t cp) {
  auto info = std::make_unique<TPageInfo>();
  if (cp == cCodePageUTF8) {
    info->Kind = TPageKind::UTF8;
    return info;
  }
  if (cp == cCodePageUTF16) {
    info->Kind = TPageKind::UTF16;
    return info;
  }
  if (cp == 0) return info;
  // Windows names first: ibm-932 and ibm-874 differ from the Windows pages.
  std::vector<std::string> names;
  if (cp == 28591) names.push_back("ISO-8859-1");
  names.push_back("windows-" + std::to_string(cp));
  names.push_back("ibm-" + std::to_string(cp));
  TConverterPtr cnv;
  for (const std::string& n : names) {
    cnv = OpenConverter(n);
    if (cnv) {
      info->IcuName = n;
      break;
    }
  }
  if (!cnv) return info;
  if (ucnv_getMaxCharSize(cnv.get()) > 1) {
    info->Kind = TPageKind::MultiByte;
    return info;
  }
  info->Kind = TPageKind::SingleByte;
  for (int b = 0; b < 256; ++b) {
    char in = char(b);
    UChar out[4];
    UErrorCode err = U_ZERO_ERROR;
    ucnv_reset(cnv.get());
    int32_t n = ucnv_toUChars(cnv.get(), out, 4, &in, 1, &err);
    info->Table[size_t(b)] = (U_SUCCESS(err) && n == 1) ? char16_t(out[0]) : cReplacement;
  }
  PatchSingleByteTable(cp, info->Table);
  for (int b = 0; b < 256; ++b) {
    char16_t cu = info->Table[size_t(b)];
    if (cu != cReplacement) info->Inverse.Set(cu, uint8_t(b));
    std::string u;
    AppendUtf8(u, cu);
    std::memcpy(info->Utf8Bytes[size_t(b)].data(), u.data(), u.size());
    info->Utf8Len[size_t(b)] = uint8_t(u.size());
  }
  return info;
}

// Built once per page, published lock-free; never freed (process lifetime).
std::array<std::atomic<const TPageInfo*>, 65536> gPages{};
std::mutex gPagesLock;

const TPageInfo& PageInfo(uint16_t cp) {
  const TPageInfo* p = gPages[cp].load(std::memory_order_acquire);
  if (p) return *p;
  std::lock_guard<std::mutex> lock(gPagesLock);
  p = gPages[cp].load(std::memory_order_relaxed);
  if (!p) {
    p = BuildPageInfo(cp).release();
    gPages[cp].store(p, std::memory_order_release);
  }
  return *p;
}

[[noreturn]] void RaiseUnsupported(uint16_t cp) {
  throw Exception(Format("Code page %d is not supported", int(cp)));
}

// The page of cp (0 resolved), raising when the layer cannot convert it.
const TPageInfo& SupportedPage(uint16_t& cp) {
  cp = ResolveCodePage(cp);
  const TPageInfo& info = PageInfo(cp);
  if (info.Kind == TPageKind::Unsupported) RaiseUnsupported(cp);
  return info;
}

// Converters are costly to open: one per page and thread, reused, never shared.
UConverter* ThreadConverter(uint16_t cp, const TPageInfo& info) {
  thread_local std::unordered_map<uint16_t, TConverterPtr> cache;
  auto it = cache.find(cp);
  if (it == cache.end()) {
    TConverterPtr cnv = OpenConverter(info.IcuName);
    if (!cnv) RaiseUnsupported(cp);
    it = cache.emplace(cp, std::move(cnv)).first;
  }
  ucnv_reset(it->second.get());
  return it->second.get();
}

// Appends UTF-16 code units as UTF-8; a high surrogate at the end of the run is
// kept in `high` for the next run (0 when none). Lone surrogates give U+FFFD.
void AppendUtf16Units(std::string& out, const char16_t* u, size_t n, char16_t& high) {
  const size_t start = out.size();
  out.resize(start + n * 3 + 4);  // 3 bytes per unit at most, 4 for a pair (2 units) or a kept one
  char* d = out.data() + start;
  for (size_t i = 0; i < n; ++i) {
    char16_t c = u[i];
    if (high) {
      if (c >= 0xDC00 && c <= 0xDFFF) {
        d = PutUtf8(d, 0x10000 + ((char32_t(high) - 0xD800) << 10) + (char32_t(c) - 0xDC00));
        high = 0;
        continue;
      }
      d = PutUtf8(d, 0xFFFD);
      high = 0;
    }
    if (c < 0x80) {
      *d++ = char(c);
    } else if (c < 0xD800 || c > 0xDFFF) {
      d = PutUtf8(d, c);
    } else if (c <= 0xDBFF) {
      high = c;
    } else {
      d = PutUtf8(d, 0xFFFD);
    }
  }
  out.resize(size_t(d - out.data()));
}

void DecodeSingleByte(const TPageInfo& info, const unsigned char* p, size_t n, std::string& out) {
  const size_t start = out.size();
  out.resize(start + n * 3 + 4);  // 3 bytes per character at most, slack for the 4-byte stores
  char* d = out.data() + start;
  for (size_t i = 0; i < n; ++i) {
    const unsigned char b = p[i];
    std::memcpy(d, info.Utf8Bytes[b].data(), 4);
    d += info.Utf8Len[b];
  }
  out.resize(size_t(d - out.data()));
}

// Decodes bytes through an ICU converter into UTF-8, block by block of buf.
// flush: the input ends here (a truncated sequence gives U+FFFD).
void IcuDecode(UConverter* cnv, const char* data, size_t size, bool flush, std::vector<UChar>& buf, char16_t& high,
               std::string& out, uint16_t cp) {
  const char* source = data;
  const char* sourceEnd = data + size;
  for (;;) {
    UChar* target = buf.data();
    UErrorCode err = U_ZERO_ERROR;
    ucnv_toUnicode(cnv, &target, buf.data() + buf.size(), &source, sourceEnd, nullptr, flush, &err);
    AppendUtf16Units(out, reinterpret_cast<const char16_t*>(buf.data()), size_t(target - buf.data()), high);
    if (err == U_BUFFER_OVERFLOW_ERROR) continue;
    if (U_FAILURE(err)) throw Exception(Format("Conversion from code page %d failed", int(cp)));
    break;
  }
}

// Number of bytes at the end of p[0..n) that start a multi-byte sequence whose
// remaining bytes have not arrived yet (0 when the block ends on a boundary).
size_t Utf8IncompleteTail(const unsigned char* p, size_t n) {
  size_t lim = n < 3 ? n : 3;
  for (size_t k = 1; k <= lim; ++k) {
    unsigned char b = p[n - k];
    if ((b & 0xC0) == 0x80) continue;  // continuation: look further back
    size_t len = (b >= 0xC2 && b <= 0xDF) ? 2 : (b >= 0xE0 && b <= 0xEF) ? 3 : (b >= 0xF0 && b <= 0xF4) ? 4 : 1;
    return len > k ? k : 0;
  }
  return 0;
}

inline bool IsCont(unsigned char b) { return (b & 0xC0) == 0x80; }

// Length of the valid UTF-8 sequence at p[pos] (as the foundation's decoder
// accepts it), or 0 when it is invalid or truncated.
inline size_t ValidSequence(const unsigned char* p, size_t pos, size_t n) {
  const unsigned char b = p[pos];
  if (b >= 0xC2 && b <= 0xDF) return (pos + 2 <= n && IsCont(p[pos + 1])) ? 2 : 0;
  if (b >= 0xE0 && b <= 0xEF) {
    if (pos + 3 > n || !IsCont(p[pos + 1]) || !IsCont(p[pos + 2])) return 0;
    if (b == 0xE0 && p[pos + 1] < 0xA0) return 0;  // overlong
    if (b == 0xED && p[pos + 1] > 0x9F) return 0;  // surrogate
    return 3;
  }
  if (b >= 0xF0 && b <= 0xF4) {
    if (pos + 4 > n || !IsCont(p[pos + 1]) || !IsCont(p[pos + 2]) || !IsCont(p[pos + 3])) return 0;
    if (b == 0xF0 && p[pos + 1] < 0x90) return 0;  // overlong
    if (b == 0xF4 && p[pos + 1] > 0x8F) return 0;  // beyond U+10FFFF
    return 4;
  }
  return 0;
}

// Validating copy of UTF-8: each byte that does not start a valid sequence
// becomes U+FFFD (one per byte, as the foundation's decoder does).
void DecodeUtf8Block(std::string_view s, std::string& out) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const size_t n = s.size();
  size_t pos = 0;
  size_t runStart = 0;
  while (pos < n) {
    // ASCII fast path, 8 bytes at a time.
    while (pos + 8 <= n) {
      uint64_t w;
      std::memcpy(&w, p + pos, 8);
      if (w & 0x8080808080808080ull) break;
      pos += 8;
    }
    if (pos >= n) break;
    if (p[pos] < 0x80) {
      ++pos;
      continue;
    }
    if (size_t len = ValidSequence(p, pos, n)) {
      pos += len;
      continue;
    }
    out.append(s.data() + runStart, pos - runStart);
    out.append("\xEF\xBF\xBD");
    ++pos;
    runStart = pos;
  }
  out.append(s.data() + runStart, n - runStart);
}

}  // namespace

// ---------------------------------------------------------------------------

uint16_t AnsiCodePageFromText(const char* Text) {
  if (!Text || !*Text) return 1252;
  uint32_t v = 0;
  for (const char* c = Text; *c; ++c) {
    if (*c < '0' || *c > '9') return 1252;
    v = v * 10 + uint32_t(*c - '0');
    if (v > 65535) return 1252;
  }
  if (v == 0 || v == cCodePageUTF16) return 1252;
  return uint16_t(v);
}

uint16_t GetSystemAnsiCodePage() {
  static const uint16_t cp = AnsiCodePageFromText(std::getenv("KOVRA_ANSI_CODEPAGE"));
  return cp;
}

bool IsUTF8CodePage(uint16_t CodePage) { return CodePage == cCodePageUTF8; }
bool IsUTF16CodePage(uint16_t CodePage) { return CodePage == cCodePageUTF16; }

uint16_t ResolveCodePage(uint16_t CodePage) { return CodePage == 0 ? GetSystemAnsiCodePage() : CodePage; }

bool IsCodePageSupported(uint16_t CodePage) {
  return PageInfo(ResolveCodePage(CodePage)).Kind != TPageKind::Unsupported;
}

void CheckCodePage(uint16_t CodePage) { SupportedPage(CodePage); }

bool IsSingleByteCodePage(uint16_t CodePage) { return SupportedPage(CodePage).Kind == TPageKind::SingleByte; }

const TSingleByteTable& SingleByteTable(uint16_t CodePage) {
  const TPageInfo& info = SupportedPage(CodePage);
  if (info.Kind != TPageKind::SingleByte)
    throw Exception(Format("Code page %d is not a single-byte code page", int(CodePage)));
  return info.Table;
}

std::string CodePageToString(std::string_view Bytes, uint16_t CodePage) {
  const TPageInfo& info = SupportedPage(CodePage);
  std::string out;
  switch (info.Kind) {
    case TPageKind::SingleByte:
      DecodeSingleByte(info, reinterpret_cast<const unsigned char*>(Bytes.data()), Bytes.size(), out);
      return out;
    case TPageKind::UTF8:
      out.reserve(Bytes.size());
      DecodeUtf8Block(Bytes, out);
      return out;
    case TPageKind::MultiByte: {
      // One-shot calls (a field, a name) reuse the thread's converter.
      thread_local std::vector<UChar> buf(4096);
      char16_t high = 0;
      IcuDecode(ThreadConverter(CodePage, info), Bytes.data(), Bytes.size(), true, buf, high, out, CodePage);
      if (high) AppendUtf8(out, 0xFFFD);
      return out;
    }
    default: {
      TCodePageDecoder dec(CodePage);
      dec.Decode(Bytes, out);
      dec.Finish(out);
      return out;
    }
  }
}

std::string StringToCodePage(std::string_view S, uint16_t CodePage) {
  const TPageInfo& info = SupportedPage(CodePage);
  std::string out;
  switch (info.Kind) {
    case TPageKind::UTF8:
      return std::string(S);
    case TPageKind::UTF16:
      out.reserve(S.size() * 2);
      ForEachUtf16Unit(S, [&](char16_t u) {
        out += char(u & 0xFF);
        out += char(u >> 8);
      });
      return out;
    case TPageKind::SingleByte: {
      out.reserve(S.size());
      const auto* p = reinterpret_cast<const unsigned char*>(S.data());
      size_t pos = 0;
      while (pos < S.size()) {
        char32_t cp;
        if (p[pos] < 0x80)
          cp = p[pos++];
        else
          cp = NextCodePoint(S, pos);
        int b = info.Inverse.Lookup(cp);
        out += b >= 0 ? char(b) : '?';
      }
      return out;
    }
    case TPageKind::MultiByte: {
      std::u16string u = ToUtf16(S);
      UConverter* cnv = ThreadConverter(CodePage, info);
      out.resize(size_t(UCNV_GET_MAX_BYTES_FOR_STRING(int32_t(u.size()), ucnv_getMaxCharSize(cnv))) + 4);
      char* target = out.data();
      const UChar* source = reinterpret_cast<const UChar*>(u.data());
      UErrorCode err = U_ZERO_ERROR;
      ucnv_fromUnicode(cnv, &target, out.data() + out.size(), &source, source + u.size(), nullptr, true, &err);
      if (U_FAILURE(err)) throw Exception(Format("Conversion to code page %d failed", int(CodePage)));
      out.resize(size_t(target - out.data()));
      return out;
    }
    case TPageKind::Unsupported:
      break;
  }
  RaiseUnsupported(CodePage);
}

bool TextFitsCodePage(std::string_view S, uint16_t CodePage) {
  const TPageInfo& info = SupportedPage(CodePage);
  if (info.Kind == TPageKind::UTF8 || info.Kind == TPageKind::UTF16) return true;
  // Composite check: "A" + U+0308 fits a page that has "Ä".
  std::u16string u = ToUtf16(S);
  UErrorCode err = U_ZERO_ERROR;
  const UNormalizer2* nfc = unorm2_getNFCInstance(&err);
  if (U_FAILURE(err)) throw Exception("Unicode normalisation is not available");
  std::u16string norm(u.size() * 3 + 1, u'\0');
  int32_t len = unorm2_normalize(nfc, reinterpret_cast<const UChar*>(u.data()), int32_t(u.size()),
                                 reinterpret_cast<UChar*>(norm.data()), int32_t(norm.size()), &err);
  if (U_FAILURE(err)) throw Exception("Unicode normalisation failed");
  norm.resize(size_t(len));
  if (info.Kind == TPageKind::SingleByte) {
    for (size_t i = 0; i < norm.size(); ++i) {
      char16_t c = norm[i];
      if (c >= 0xD800 && c <= 0xDFFF) return false;  // no single-byte page has non-BMP characters
      if (info.Inverse.Lookup(c) < 0) return false;
    }
    return true;
  }
  UConverter* cnv = ThreadConverter(CodePage, info);
  bool unmappable = false;
  err = U_ZERO_ERROR;
  ucnv_setFromUCallBack(cnv, FromUStop, &unmappable, nullptr, nullptr, &err);
  char buf[1024];
  const UChar* source = reinterpret_cast<const UChar*>(norm.data());
  const UChar* sourceEnd = source + norm.size();
  for (;;) {
    char* target = buf;
    err = U_ZERO_ERROR;
    ucnv_fromUnicode(cnv, &target, buf + sizeof buf, &source, sourceEnd, nullptr, true, &err);
    if (err == U_BUFFER_OVERFLOW_ERROR && !unmappable) continue;
    break;
  }
  UErrorCode e2 = U_ZERO_ERROR;
  ucnv_setFromUCallBack(cnv, FromUQuestionMark, nullptr, nullptr, nullptr, &e2);
  ucnv_reset(cnv);
  return !unmappable && U_SUCCESS(err);
}

// ---------------------------------------------------------------------------

struct TCodePageDecoder::TImpl {
  TPageKind Kind = TPageKind::Unsupported;
  const TPageInfo* Page = nullptr;
  TConverterPtr Converter;
  // UTF-8: bytes of an incomplete sequence; UTF-16: an odd byte.
  std::string Kept;
  char16_t High = 0;  // pending high surrogate (UTF-16 and ICU output)
  bool IcuPending = false;
  std::vector<UChar> Buffer;
};

TCodePageDecoder::TCodePageDecoder(uint16_t CodePage) : FCodePage(CodePage), FImpl(std::make_unique<TImpl>()) {
  const TPageInfo& info = SupportedPage(FCodePage);
  FImpl->Kind = info.Kind;
  if (info.Kind == TPageKind::SingleByte) FImpl->Page = &info;
  if (info.Kind == TPageKind::MultiByte) {
    FImpl->Converter = OpenConverter(info.IcuName);
    if (!FImpl->Converter) RaiseUnsupported(FCodePage);
    FImpl->Buffer.resize(8192);
  }
}

TCodePageDecoder::~TCodePageDecoder() = default;

bool TCodePageDecoder::Pending() const {
  return !FImpl->Kept.empty() || FImpl->High != 0 || FImpl->IcuPending;
}

void TCodePageDecoder::Reset() {
  FImpl->Kept.clear();
  FImpl->High = 0;
  FImpl->IcuPending = false;
  if (FImpl->Converter) ucnv_reset(FImpl->Converter.get());
}

void TCodePageDecoder::Decode(const char* Data, size_t Size, std::string& Out) {
  TImpl& m = *FImpl;
  const auto* p = reinterpret_cast<const unsigned char*>(Data);
  switch (m.Kind) {
    case TPageKind::SingleByte:
      DecodeSingleByte(*m.Page, p, Size, Out);
      return;
    case TPageKind::UTF8: {
      size_t used = 0;
      if (!m.Kept.empty()) {
        // Complete the kept sequence with the first bytes of this block: a
        // sequence is at most 4 bytes, so 4 more always decide it.
        size_t take = Size < 4 ? Size : 4;
        std::string tmp = m.Kept;
        tmp.append(Data, take);
        size_t keptLen = m.Kept.size();
        m.Kept.clear();
        if (take == Size) {
          size_t tail = Utf8IncompleteTail(reinterpret_cast<const unsigned char*>(tmp.data()), tmp.size());
          DecodeUtf8Block(std::string_view(tmp.data(), tmp.size() - tail), Out);
          m.Kept.assign(tmp, tmp.size() - tail, std::string::npos);
          return;
        }
        std::string_view tv(tmp);
        size_t pos = 0;
        while (pos < keptLen) NextCodePoint(tv, pos);
        DecodeUtf8Block(tv.substr(0, pos), Out);
        used = pos - keptLen;
      }
      size_t rest = Size - used;
      size_t tail = Utf8IncompleteTail(p + used, rest);
      DecodeUtf8Block(std::string_view(Data + used, rest - tail), Out);
      m.Kept.assign(Data + used + rest - tail, tail);
      return;
    }
    case TPageKind::UTF16: {
      size_t i = 0;
      char16_t units[512];
      size_t nu = 0;
      auto flush = [&] {
        AppendUtf16Units(Out, units, nu, m.High);
        nu = 0;
      };
      if (!m.Kept.empty() && Size > 0) {
        units[nu++] = char16_t(uint8_t(m.Kept[0]) | (char16_t(p[0]) << 8));
        m.Kept.clear();
        i = 1;
      }
      for (; i + 1 < Size; i += 2) {
        units[nu++] = char16_t(p[i] | (char16_t(p[i + 1]) << 8));
        if (nu == 512) flush();
      }
      flush();
      if (i < Size) m.Kept.assign(1, char(p[i]));
      return;
    }
    case TPageKind::MultiByte: {
      UConverter* cnv = m.Converter.get();
      IcuDecode(cnv, Data, Size, false, m.Buffer, m.High, Out, FCodePage);
      UErrorCode err = U_ZERO_ERROR;
      m.IcuPending = ucnv_toUCountPending(cnv, &err) > 0;
      return;
    }
    case TPageKind::Unsupported:
      break;
  }
  RaiseUnsupported(FCodePage);
}

void TCodePageDecoder::Finish(std::string& Out) {
  TImpl& m = *FImpl;
  switch (m.Kind) {
    case TPageKind::UTF8:
      if (!m.Kept.empty()) DecodeUtf8Block(m.Kept, Out);
      break;
    case TPageKind::UTF16:
      if (m.High) AppendUtf8(Out, 0xFFFD);
      if (!m.Kept.empty()) AppendUtf8(Out, 0xFFFD);
      break;
    case TPageKind::MultiByte: {
      IcuDecode(m.Converter.get(), nullptr, 0, true, m.Buffer, m.High, Out, FCodePage);
      if (m.High) AppendUtf8(Out, 0xFFFD);
      break;
    }
    default:
      break;
  }
  Reset();
}

}  // namespace kovra
