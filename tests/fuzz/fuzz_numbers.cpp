// Number parsers on arbitrary text: a value or the library's conversion error,
// and a parsed integer that prints back to the same digits.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "foundation/kovra_functions.h"
#include "platform/kovra_sysutils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  bool overflow = false;
  (void)kovra::ParseFloatDot(text, overflow);
  int64_t v64 = 0;
  int32_t v32 = 0;
  const bool ok64 = kovra::TryStrToInt64(text, v64);
  const bool ok32 = kovra::TryStrToInt(text, v32);
  if (ok32 && (!ok64 || v64 != v32)) std::abort();  // a 32-bit value is a 64-bit value
  try {
    const int64_t w = kovra::StrToInt64(text);
    if (!ok64 || w != v64) std::abort();
  } catch (const kovra::Exception&) {
    if (ok64) std::abort();
  }
  return 0;
}
