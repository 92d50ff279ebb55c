// The text file reader on arbitrary bytes in the code pages the library reads
// most: the lines must not depend on the read block size, must match the whole
// file decoded at once and split by the line rules, and Position must count
// them as documented.
//
// Input: code-page selector, block-size byte, then the file's bytes.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/kovra_textfilereader.h"
#include "fuzz_support.h"
#include "platform/kovra_codepage.h"
#include "platform/kovra_sysutils.h"

using namespace kovra;
using namespace kovra::fuzz;

namespace {

const uint16_t cPages[] = {65001, 1200, 1252, 1251, 932, 936};

using TLines = std::vector<std::string>;

TLines ReadAll(const std::string& path, uint16_t cp, int32_t block, int64_t size) {
  TTextFileReader r(path, cp, block);
  Check(r.Size() == size, "Size is not the file size");
  TLines lines;
  int64_t pos = 0;
  while (!r.Eof()) {
    lines.push_back(r.ReadLine());
    const std::string& l = lines.back();
    Check(IsValidUtf8(l), "a line is not valid UTF-8");
    Check(l.find_first_of("\r\n") == std::string::npos, "a line holds a line break");
    pos += int64_t(Utf16Length(l)) + 2;
    Check(r.Position() == pos, "Position is not the UTF-16 length plus 2 per line");
    Check(lines.size() <= size_t(size) + 1, "more lines than bytes");
  }
  Check(r.ReadLine().empty(), "a line after the end");
  return lines;
}

// Independent UTF-8 decoder: each maximal ill-formed subpart is one U+FFFD.
std::string DecodeUtf8Model(std::string_view s) {
  std::string out;
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  size_t n = s.size(), i = 0;
  while (i < n) {
    unsigned char b = p[i];
    if (b < 0x80) {
      out += char(b);
      ++i;
      continue;
    }
    size_t len = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) len = 2;
    else if (b >= 0xE0 && b <= 0xEF) len = 3, lo = b == 0xE0 ? 0xA0 : 0x80, hi = b == 0xED ? 0x9F : 0xBF;
    else if (b >= 0xF0 && b <= 0xF4) len = 4, lo = b == 0xF0 ? 0x90 : 0x80, hi = b == 0xF4 ? 0x8F : 0xBF;
    if (len == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    size_t k = 1;
    while (k < len && i + k < n) {
      unsigned char c = p[i + k];
      if (k == 1 ? (c < lo || c > hi) : (c & 0xC0) != 0x80) break;
      ++k;
    }
    if (k == len)
      out.append(s.substr(i, len));
    else
      out += "\xEF\xBF\xBD";
    i += k;
  }
  return out;
}

std::string SwapPairs(std::string_view s) {
  std::string t(s);
  for (size_t i = 0; i + 1 < t.size(); i += 2) std::swap(t[i], t[i + 1]);
  return t;
}

// The whole file decoded at once, then split: LF, CR LF and a lone CR end a
// line; a last line without a break counts; an empty last line does not.
TLines Model(std::string_view bytes, uint16_t cp) {
  std::string text;
  if (cp == 65001 || cp == 1200) {
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF")
      text = DecodeUtf8Model(bytes.substr(3));
    else if (bytes.substr(0, 2) == "\xFF\xFE")
      text = CodePageToString(bytes.substr(2), 1200);
    else if (bytes.substr(0, 2) == "\xFE\xFF")
      text = CodePageToString(SwapPairs(bytes.substr(2)), 1200);
    else
      text = cp == 65001 ? DecodeUtf8Model(bytes) : CodePageToString(bytes, 1200);
  } else {
    text = CodePageToString(bytes, cp);
  }
  TLines lines;
  size_t i = 0;
  while (i < text.size()) {
    size_t brk = text.find_first_of("\r\n", i);
    if (brk == std::string::npos) {
      lines.emplace_back(text.substr(i));
      break;
    }
    lines.emplace_back(text.substr(i, brk - i));
    i = brk + 1;
    if (text[brk] == '\r' && i < text.size() && text[i] == '\n') ++i;
  }
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFuzzInput in(data, size);
  const uint16_t cp = cPages[in.Byte() % (sizeof(cPages) / sizeof(cPages[0]))];
  const int32_t block = 1 + in.Byte() % 16;
  const std::string_view bytes = in.Rest();
  const std::string path = WriteFuzzFile("text.txt", bytes);
  const TLines small = ReadAll(path, cp, block, int64_t(bytes.size()));
  const TLines whole = ReadAll(path, cp, TTextFileReader::cDefaultBufferSize, int64_t(bytes.size()));
  Check(small == whole, "lines depend on the block size");
  Check(whole == Model(bytes, cp), "lines differ from the file decoded at once");
  return 0;
}
