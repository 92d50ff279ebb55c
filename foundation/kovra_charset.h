// Code-page vocabularies of GIS files: Windows code pages <-> MapInfo character
// sets, and the code pages a DBF attribute file may use. The rows are fixed
// and their order matters (callers take the first row that fits).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/kovra_baselist.h"

namespace kovra {

struct TCharSet {
  uint16_t codepage = 0;  // Windows code page
  uint8_t ID = 0;         // MapInfo character-set number
  std::string charset;    // MapInfo character-set name
  bool EFALonly = false;  // only the EFAL table writer can write this encoding
};

class TCharSetList final : public TBaseList<TCharSet> {
public:
  TCharSetList();
  // charset of the first row with that code page; empty when none.
  std::string CodePage2Charset(uint16_t Codepage) const;
  // ID of the first row with that code page; 0 when none.
  uint8_t CodePage2ID(uint16_t Codepage) const;
  // codepage of the first row whose name equals charset ignoring case; 0 when none.
  uint16_t Charset2CodePage(std::string_view charset) const;
};

class TCodePageDBFList final : public TBaseList<uint16_t> {
public:
  TCodePageDBFList();
};

// The global instances, built on first use (thread-safe) and read-only.
const TCharSetList& CharSetList();
const TCodePageDBFList& CodePageDBFList();

}  // namespace kovra
