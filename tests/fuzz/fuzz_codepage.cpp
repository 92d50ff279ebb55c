// Code-page conversions both ways on arbitrary bytes and text: decoding gives
// valid UTF-8, the incremental decoder cut anywhere agrees with decoding at
// once, and encoding is stable (what survived one round trip survives the next).
//
// Input: code-page selector, cut positions for the incremental decoder, then
// the bytes (decoded as that page, and taken as UTF-8 text to encode).
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "platform/kovra_codepage.h"
#include "platform/kovra_sysutils.h"

using namespace kovra;
using namespace kovra::fuzz;

namespace {

const uint16_t cPages[] = {65001, 1200, 1252, 1251, 1250, 437, 850, 866, 874, 1253, 1255, 1256, 28591, 932, 936, 949, 950, 0};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFuzzInput in(data, size);
  const uint16_t cp = cPages[in.Byte() % (sizeof(cPages) / sizeof(cPages[0]))];
  uint8_t cuts[4];
  for (auto& c : cuts) c = in.Byte();
  const std::string_view bytes = in.Rest();

  // Bytes in the page -> UTF-8.
  const std::string text = CodePageToString(bytes, cp);
  Check(IsValidUtf8(text), "decoded text is not valid UTF-8");
  if (!bytes.empty()) Check(!text.empty(), "bytes decoded to nothing");

  // The same bytes fed in pieces.
  TCodePageDecoder dec(cp);
  std::string pieces;
  size_t at = 0;
  for (uint8_t c : cuts) {
    size_t n = std::min<size_t>(c % 8, bytes.size() - at);
    dec.Decode(bytes.substr(at, n), pieces);
    at += n;
  }
  dec.Decode(bytes.substr(at), pieces);
  dec.Finish(pieces);
  Check(!dec.Pending(), "decoder keeps bytes after Finish");
  Check(pieces == text, "incremental decoding differs from decoding at once");

  // UTF-8 text -> the page: encode, decode and encode again gives the same
  // bytes. (Invalid UTF-8 goes to 65001 as it is, by design: the text is
  // taken as valid then, the decoded text otherwise.)
  const std::string_view input = IsValidUtf8(bytes) ? bytes : std::string_view(text);
  const std::string enc = StringToCodePage(input, cp);
  const std::string back = CodePageToString(enc, cp);
  Check(IsValidUtf8(back), "round-tripped text is not valid UTF-8");
  Check(StringToCodePage(back, cp) == enc, "encoding is not stable over a round trip");
  // Valid text comes back unchanged from the Unicode pages.
  if (ResolveCodePage(cp) == 65001 || ResolveCodePage(cp) == 1200) Check(back == input, "Unicode round trip changed the text");
  (void)TextFitsCodePage(input, cp);
  (void)TextFitsCodePage(bytes, cp);
  return 0;
}
