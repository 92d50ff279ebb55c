// Number parsers and number text on arbitrary input: a value or the library's
// conversion error, a parsed integer that prints back to the same digits, a
// printed double that parses back to the same text; and Format with the input
// as its pattern, which gives text or the library's error, never a foreign
// exception and never text beyond the width and precision cap.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/kovra_functions.h"
#include "fuzz_support.h"
#include "platform/kovra_sysutils.h"

using namespace kovra;
using namespace kovra::fuzz;

namespace {

void CheckParsers(std::string_view text) {
  bool overflow = false;
  const double d = ParseFloatDot(text, overflow);
  Check(std::isfinite(d), "ParseFloatDot gave a non-finite value");
  if (!overflow) {
    // 15 significant digits read back give the same 15 digits.
    const std::string s = FloatToStrDot(d);
    bool o2 = false;
    Check(FloatToStrDot(ParseFloatDot(s, o2)) == s && !o2, "printed double does not read back");
  }
  int64_t v64 = 0;
  int32_t v32 = 0;
  const bool ok64 = TryStrToInt64(text, v64);
  const bool ok32 = TryStrToInt(text, v32);
  Check(!ok32 || (ok64 && v64 == v32), "a 32-bit value is not the 64-bit value");
  try {
    const int64_t w = StrToInt64(text);
    Check(ok64 && w == v64, "StrToInt64 disagrees with TryStrToInt64");
    Check(StrToInt64(IntToStr(w)) == w, "printed integer does not read back");
  } catch (const EConvertError&) {
    Check(!ok64, "StrToInt64 raised where TryStrToInt64 succeeded");
  }
}

void CheckFormat(std::string_view pattern, TFuzzInput& in) {
  int64_t i1;
  double d1;
  uint64_t raw = in.UInt64();
  i1 = int64_t(raw);
  std::memcpy(&d1, &raw, sizeof d1);
  // Width and precision arguments from tiny to far beyond any cap.
  const int64_t star = int64_t(in.UInt64() >> (in.Byte() % 64));
  const std::vector<FormatArg> args = {FormatArg(star), FormatArg(i1), FormatArg(d1), FormatArg(std::string("text")),
                                       FormatArg(star), FormatArg(-3), FormatArg(2.5), FormatArg(star)};
  try {
    const std::string out = FormatV(pattern, args);
    // Each conversion yields at most the cap (100000) plus the digits of a double.
    Check(out.size() <= pattern.size() + args.size() * 101000, "Format produced text beyond the cap");
  } catch (const Exception&) {
  }

  std::vector<char> buf(64);
  const int32_t width = int32_t(in.Byte() % 40);
  const int decimals = int(in.Byte() % 24) - 2;
  try {
    const int32_t n = FormatDBFNumber(buf.data(), width, decimals, d1);
    Check(n >= 0, "FormatDBFNumber gave a negative length");
    (void)FloatToStrDecimals(d1, decimals);
    (void)FloatToStrG15(d1);
    (void)FloatToStrN(d1, decimals < 0 ? 0 : decimals);
  } catch (const Exception&) {
    Check(!std::isfinite(d1) || std::fabs(d1) >= 9.2e18, "number text raised for a finite value");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  CheckParsers(text);
  TFuzzInput in(data, size);
  CheckFormat(text, in);
  return 0;
}
