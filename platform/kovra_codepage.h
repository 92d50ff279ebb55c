// Code-page layer: conversion between UTF-8 text and the byte encodings that
// GIS files use (Windows code pages by number), built on ICU.
//
// - 65001 (UTF-8) and 1200 (UTF-16LE) are handled by our own code.
// - Single-byte pages decode through a 256-entry table built once from ICU
//   (patched to the Windows mappings where ICU's IBM tables differ) and
//   encode through its inverse.
// - Multi-byte pages (932, 936, 949, 950) go through ICU converters.
// - Code page 0 means GetSystemAnsiCodePage().
// - Undecodable or unassigned bytes decode to U+FFFD; characters a page
//   cannot represent encode to '?' (no best fit).
// - A page the layer cannot resolve (620, 895, ...) raises kovra::Exception
//   "Code page %d is not supported" at the first conversion.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace kovra {

inline constexpr uint16_t cCodePageUTF8 = 65001;
inline constexpr uint16_t cCodePageUTF16 = 1200;

// The system ANSI code page: 1252 unless the environment variable
// KOVRA_ANSI_CODEPAGE holds a decimal code page (read once per process).
// Not a number, or 1200, gives 1252.
uint16_t GetSystemAnsiCodePage();
// The rule above applied to a given text (nullptr = variable unset).
uint16_t AnsiCodePageFromText(const char* Text);

bool IsUTF8CodePage(uint16_t CodePage);
bool IsUTF16CodePage(uint16_t CodePage);

// 0 -> GetSystemAnsiCodePage(); every other value as it is.
uint16_t ResolveCodePage(uint16_t CodePage);
// True when the layer can convert CodePage (0 resolved first).
bool IsCodePageSupported(uint16_t CodePage);
// Raises "Code page %d is not supported" when IsCodePageSupported is false.
void CheckCodePage(uint16_t CodePage);
// True for a supported page with one byte per character (0 resolved first).
// Raises for an unsupported page.
bool IsSingleByteCodePage(uint16_t CodePage);

// Byte -> UTF-16 code unit of a single-byte page; U+FFFD for an unassigned byte.
using TSingleByteTable = std::array<char16_t, 256>;
// The table of a single-byte page (0 resolved first), built once, thread-safe,
// valid for the whole process. Raises for an unsupported or multi-byte page.
const TSingleByteTable& SingleByteTable(uint16_t CodePage);

// Bytes in CodePage -> UTF-8 text. 1200 is UTF-16LE (an odd last byte gives U+FFFD).
std::string CodePageToString(std::string_view Bytes, uint16_t CodePage);
// UTF-8 text -> bytes in CodePage; each character the page cannot represent
// becomes '?'. 1200 gives UTF-16LE bytes, 65001 the text itself.
std::string StringToCodePage(std::string_view S, uint16_t CodePage);
// True when every character of S (after NFC composition) has a mapping in
// CodePage, without best fit. 65001 and 1200 always fit.
bool TextFitsCodePage(std::string_view S, uint16_t CodePage);

// Incremental decoder: feed byte blocks in order; a character split across
// blocks decodes whole. Not shared between threads.
class TCodePageDecoder {
public:
  // Raises for an unsupported page.
  explicit TCodePageDecoder(uint16_t CodePage);
  ~TCodePageDecoder();
  TCodePageDecoder(const TCodePageDecoder&) = delete;
  TCodePageDecoder& operator=(const TCodePageDecoder&) = delete;

  // Appends the UTF-8 text of the block to Out; an incomplete sequence at the
  // end of the block is kept for the next call.
  void Decode(const char* Data, size_t Size, std::string& Out);
  void Decode(std::string_view Bytes, std::string& Out) { Decode(Bytes.data(), Bytes.size(), Out); }
  // End of input: a kept incomplete sequence becomes U+FFFD. The decoder is
  // then ready for a new input.
  void Finish(std::string& Out);
  // Drops any kept bytes.
  void Reset();
  // True while bytes of an incomplete sequence are kept.
  bool Pending() const;
  // The resolved page (never 0).
  uint16_t CodePage() const { return FCodePage; }

private:
  struct TImpl;
  uint16_t FCodePage;
  std::unique_ptr<TImpl> FImpl;
};

}  // namespace kovra
