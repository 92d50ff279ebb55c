#include "foundation/kovra_charset.h"

#include <initializer_list>

namespace kovra {


TCharSetList::TCharSetList() {
  const TCharSet rows[] = {
      {1252, 10, "WindowsLatin1", false},      {1250, 11, "WindowsLatin2", false},
      {1256, 12, "WindowsArabic", false},      {1251, 13, "WindowsCyrillic", false},
      {1253, 14, "WindowsGreek", false},       {1255, 15, "WindowsHebrew", false},
      {1254, 16, "WindowsTurkish", false},     {950, 17, "WindowsTradChinese", false},
      {936, 18, "WindowsSimpChinese", false},  {932, 19, "WindowsJapanese", false},
      {949, 20, "WindowsKorean", false},       {874, 54, "WindowsThai", false},
      {1257, 55, "WindowsBalticRim", false},   {1258, 56, "WindowsVietnamese", false},
      {437, 34, "CodePage437", false},         {850, 35, "CodePage850", false},
      {852, 36, "CodePage852", false},         {857, 37, "CodePage857", false},
      {860, 38, "CodePage860", false},         {861, 39, "CodePage861", false},
      {863, 40, "CodePage863", false},         {865, 41, "CodePage865", false},
      {855, 42, "CodePage855", false},         {864, 43, "CodePage864", false},
      {869, 44, "CodePage869", false},
  };
  for (const TCharSet& r : rows) Add(r);
  for (int k = 0; k <= 8; ++k)
    Add({uint16_t(28591 + k), uint8_t(1 + k), "ISO8859_" + std::to_string(1 + k), false});
  Add({65001, 57, "UTF-8", true});
  Add({1200, 58, "UTF-16", true});
}

std::string TCharSetList::CodePage2Charset(uint16_t Codepage) const {
  for (int32_t i = 0; i < Count(); ++i)
    if (GetItem(i).codepage == Codepage) return GetItem(i).charset;
  return {};
}

uint8_t TCharSetList::CodePage2ID(uint16_t Codepage) const {
  for (int32_t i = 0; i < Count(); ++i)
    if (GetItem(i).codepage == Codepage) return GetItem(i).ID;
  return 0;
}

uint16_t TCharSetList::Charset2CodePage(std::string_view charset) const {
  // Charset names compare ignoring ASCII case.
  for (int32_t i = 0; i < Count(); ++i)
    if (SameTextAscii(GetItem(i).charset, charset)) return GetItem(i).codepage;
  return 0;
}

TCodePageDBFList::TCodePageDBFList() {
  for (uint16_t cp : {1252, 1250, 1256, 1251, 1253, 1255, 1254, 950, 936, 932, 949, 874, 437, 850,
                      852,  857,  860,  861,  863,  865,  737,  862, 866, 10000, 10006, 10007, 10029})
    Add(cp);
}

const TCharSetList& CharSetList() {
  static const TCharSetList list;
  return list;
}

const TCodePageDBFList& CodePageDBFList() {
  static const TCodePageDBFList list;
  return list;
}

}  // namespace kovra
