// Code-page conversion and number texts against bare loops doing the same work.
#include <benchmark/benchmark.h>
#include <unicode/ucnv.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "foundation/kovra_functions.h"
#include "platform/kovra_codepage.h"

using namespace kovra;

namespace {

constexpr size_t cSize = 100u << 20;  // 100 MB per iteration
constexpr size_t cBlock = 1u << 20;   // converted in 1 MB blocks, output buffers reused

const std::string& Cp1252Bytes() {
  static const std::string s = [] {
    std::string b(cSize, ' ');
    std::mt19937 gen(1);
    for (char& c : b) {
      uint32_t r = gen() % 100;
      c = r < 85 ? char('a' + r % 26) : char(0xC0 + r % 32);  // mostly ASCII, some accents
    }
    return b;
  }();
  return s;
}

const std::string& Utf8Text() {
  static const std::string s = CodePageToString(Cp1252Bytes(), 1252);
  return s;
}

const std::string& Cp932Bytes() {
  static const std::string s = [] {
    std::string unit = StringToCodePage(
        "\xE6\x9D\xB1\xE4\xBA\xAC\xE9\x83\xBD road 12 \xE3\x81\x82\xE3\x81\x84\xE3\x81\x86\xEF\xBD\xB1", 932);
    std::string b;
    b.reserve(cSize / 4 + unit.size());
    while (b.size() < cSize / 4) b += unit;
    return b;
  }();
  return s;
}

void BM_Decode1252(benchmark::State& state) {
  const std::string& in = Cp1252Bytes();
  std::string out;
  out.reserve(in.size() * 2);
  TCodePageDecoder dec(1252);
  for (auto _ : state) {
    for (size_t b = 0; b < in.size(); b += cBlock) {
      out.clear();
      dec.Decode(in.data() + b, std::min(cBlock, in.size() - b), out);
      benchmark::DoNotOptimize(out.data());
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}
BENCHMARK(BM_Decode1252)->Unit(benchmark::kMillisecond);

// The same table lookup and UTF-8 append with nothing around it.
void BM_Decode1252_PlainLoop(benchmark::State& state) {
  const std::string& in = Cp1252Bytes();
  const TSingleByteTable& t = SingleByteTable(1252);
  std::string out(cBlock * 3, '\0');
  for (auto _ : state) {
   for (size_t blk = 0; blk < in.size(); blk += cBlock) {
    char* d = out.data();
    const size_t end = std::min(blk + cBlock, in.size());
    for (size_t i = blk; i < end; ++i) {
      char16_t c = t[static_cast<unsigned char>(in[i])];
      if (c < 0x80) {
        *d++ = char(c);
      } else if (c < 0x800) {
        *d++ = char(0xC0 | (c >> 6));
        *d++ = char(0x80 | (c & 0x3F));
      } else {
        *d++ = char(0xE0 | (c >> 12));
        *d++ = char(0x80 | ((c >> 6) & 0x3F));
        *d++ = char(0x80 | (c & 0x3F));
      }
    }
    benchmark::DoNotOptimize(d);
    benchmark::ClobberMemory();
   }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}
BENCHMARK(BM_Decode1252_PlainLoop)->Unit(benchmark::kMillisecond);

void BM_Encode1252(benchmark::State& state) {
  const std::string& in = Utf8Text();
  for (auto _ : state)
    for (size_t b = 0; b < in.size(); b += cBlock)
      benchmark::DoNotOptimize(StringToCodePage(std::string_view(in).substr(b, cBlock), 1252));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}
BENCHMARK(BM_Encode1252)->Unit(benchmark::kMillisecond);

// A plain inverse lookup over decoded code points.
void BM_Encode1252_PlainLoop(benchmark::State& state) {
  const std::string& in = Utf8Text();
  std::vector<int16_t> inverse(65536, -1);
  const TSingleByteTable& t = SingleByteTable(1252);
  for (int b = 255; b >= 0; --b) inverse[t[size_t(b)]] = int16_t(b);
  for (auto _ : state) {
    for (size_t blk = 0; blk < in.size(); blk += cBlock) {
      const std::string_view part = std::string_view(in).substr(blk, cBlock);
      std::string out;
      out.reserve(part.size());
      size_t pos = 0;
      while (pos < part.size()) {
        char32_t cp = static_cast<unsigned char>(part[pos]) < 0x80 ? char32_t(part[pos++]) : NextCodePoint(part, pos);
        int b = cp < 65536 ? inverse[cp] : -1;
        out += b >= 0 ? char(b) : '?';
      }
      benchmark::DoNotOptimize(out.data());
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}
BENCHMARK(BM_Encode1252_PlainLoop)->Unit(benchmark::kMillisecond);

void BM_DecodeUtf8(benchmark::State& state) {
  const std::string& in = Utf8Text();
  std::string out;
  out.reserve(in.size());
  TCodePageDecoder dec(65001);
  for (auto _ : state) {
    for (size_t b = 0; b < in.size(); b += cBlock) {
      out.clear();
      dec.Decode(in.data() + b, std::min(cBlock, in.size() - b), out);
      benchmark::DoNotOptimize(out.data());
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}
BENCHMARK(BM_DecodeUtf8)->Unit(benchmark::kMillisecond);

void BM_DecodeUtf8_Memcpy(benchmark::State& state) {
  const std::string& in = Utf8Text();
  std::string out(cBlock, '\0');
  for (auto _ : state) {
    for (size_t b = 0; b < in.size(); b += cBlock) {
      std::memcpy(out.data(), in.data() + b, std::min(cBlock, in.size() - b));
      benchmark::DoNotOptimize(out.data());
      benchmark::ClobberMemory();
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}
BENCHMARK(BM_DecodeUtf8_Memcpy)->Unit(benchmark::kMillisecond);

void BM_EncodeUtf8(benchmark::State& state) {
  const std::string& in = Utf8Text();
  for (auto _ : state)
    for (size_t b = 0; b < in.size(); b += cBlock)
      benchmark::DoNotOptimize(StringToCodePage(std::string_view(in).substr(b, cBlock), 65001));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}
BENCHMARK(BM_EncodeUtf8)->Unit(benchmark::kMillisecond);

void BM_Decode932(benchmark::State& state) {
  const std::string& in = Cp932Bytes();
  std::string out;
  out.reserve(in.size() * 2);
  TCodePageDecoder dec(932);
  for (auto _ : state) {
    for (size_t b = 0; b < in.size(); b += cBlock) {
      out.clear();
      dec.Decode(in.data() + b, std::min(cBlock, in.size() - b), out);
      benchmark::DoNotOptimize(out.data());
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}
BENCHMARK(BM_Decode932)->Unit(benchmark::kMillisecond);

// A direct ucnv_toUnicode loop into UTF-16, then ICU's UTF-8 conversion.
void BM_Decode932_Icu(benchmark::State& state) {
  const std::string& in = Cp932Bytes();
  UErrorCode err = U_ZERO_ERROR;
  UConverter* cnv = ucnv_open("windows-932", &err);
  std::vector<UChar> buf(8192);
  std::string out;
  out.reserve(in.size() * 2);
  for (auto _ : state) {
   ucnv_reset(cnv);
   for (size_t b = 0; b < in.size(); b += cBlock) {
    out.clear();
    const char* src = in.data() + b;
    const char* end = in.data() + std::min(b + cBlock, in.size());
    for (;;) {
      UChar* target = buf.data();
      err = U_ZERO_ERROR;
      ucnv_toUnicode(cnv, &target, buf.data() + buf.size(), &src, end, nullptr, false, &err);
      int32_t n = int32_t(target - buf.data());
      char tmp[8192 * 3];
      int32_t len = 0;
      UErrorCode e2 = U_ZERO_ERROR;
      u_strToUTF8(tmp, sizeof tmp, &len, buf.data(), n, &e2);
      out.append(tmp, size_t(len));
      if (err != U_BUFFER_OVERFLOW_ERROR) break;
    }
    benchmark::DoNotOptimize(out.data());
   }
  }
  ucnv_close(cnv);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}
BENCHMARK(BM_Decode932_Icu)->Unit(benchmark::kMillisecond);

const std::vector<double>& Numbers() {
  static const std::vector<double> v = [] {
    std::vector<double> r(1 << 16);
    std::mt19937_64 gen(7);
    std::uniform_real_distribution<double> d(-1e6, 1e6);
    for (double& x : r) x = d(gen);
    return r;
  }();
  return v;
}

void BM_FloatToStrDot(benchmark::State& state) {
  const auto& v = Numbers();
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(FloatToStrDot(v[i++ & 0xFFFF]));
  }
}
BENCHMARK(BM_FloatToStrDot)->Iterations(10000000);

void BM_ToCharsGeneral15(benchmark::State& state) {
  const auto& v = Numbers();
  size_t i = 0;
  char buf[64];
  for (auto _ : state) {
    auto r = std::to_chars(buf, buf + sizeof buf, v[i++ & 0xFFFF], std::chars_format::general, 15);
    benchmark::DoNotOptimize(std::string(buf, r.ptr));
  }
}
BENCHMARK(BM_ToCharsGeneral15)->Iterations(10000000);

void BM_FormatDBFNumber(benchmark::State& state) {
  const auto& v = Numbers();
  size_t i = 0;
  char buf[20];
  for (auto _ : state) {
    benchmark::DoNotOptimize(FormatDBFNumber(buf, 19, 3, v[i++ & 0xFFFF]));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_FormatDBFNumber)->Iterations(10000000);

void BM_ToCharsFixed3(benchmark::State& state) {
  const auto& v = Numbers();
  size_t i = 0;
  char buf[64];
  for (auto _ : state) {
    auto r = std::to_chars(buf, buf + sizeof buf, v[i++ & 0xFFFF], std::chars_format::fixed, 3);
    benchmark::DoNotOptimize(r.ptr);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_ToCharsFixed3)->Iterations(10000000);

}  // namespace
