// Line reader for text files in any supported code page, with one line of
// look-ahead so callers can test for the end before reading and report
// progress per line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/kovra_sysutils.h"

namespace kovra {

class TKvFileStream;
class TCodePageDecoder;

class TTextFileReader : public TObject {
public:
  static constexpr int32_t cDefaultBufferSize = 4096;

  // ACodePage: 1200 = UTF-16LE, 65001 = UTF-8, 0 = the system ANSI code page,
  // anything else that Windows code page. A byte-order mark is followed only
  // under 1200 and 65001. ABufferSize is the raw read block (tests shrink it).
  // Raises EFOpenError for a missing or unreadable file, EReadError with the
  // system's text when its size cannot be read, and Exception for a code page
  // the conversion layer lacks.
  TTextFileReader(const std::string& FileName, uint16_t ACodePage,
                  int32_t ABufferSize = cDefaultBufferSize);
  ~TTextFileReader() override;
  TTextFileReader(const TTextFileReader&) = delete;
  TTextFileReader& operator=(const TTextFileReader&) = delete;

  // Returns the look-ahead line and reads the next one ("" once exhausted).
  // A read the system fails raises EReadError with the system's text (also
  // from Eof, which may read ahead).
  std::string ReadLine();
  // The same into Line, reusing its storage: no allocation per line once warm.
  void ReadLine(std::string& Line);
  // True when the look-ahead line is empty and no data is left. (Named Eof:
  // EOF is a macro of the C library.)
  bool Eof();
  // File size in bytes.
  int64_t Size() const { return FSize; }
  // Progress estimate: UTF-16 length of every line returned plus 2 per line.
  int64_t Position() const { return FPos; }
  // Releases the file; afterwards the reader is at its end.
  void Close();

private:
  enum class TDecoding : uint8_t { dUtf8, dUtf16LE, dUtf16BE, dSingleByte, dMultiByte };

  int32_t ReadRaw(uint8_t* dest, int32_t count);
  void DetectBom();
  bool Refill();
  void Decode(const uint8_t* p, size_t n, bool final, size_t& used);
  void DecodeUtf8(const uint8_t* p, size_t n, bool final, size_t& used);
  void DecodeUtf16(const uint8_t* p, size_t n, bool final, size_t& used);
  void DecodeSingleByte(const uint8_t* p, size_t n);
  void DecodeMultiByte(const uint8_t* p, size_t n, bool final);
  void ReadNextLine(std::string& line);
  bool HasMoreData() { return FTextPos < FTextLen || Refill(); }

  std::string FString;  // the look-ahead line
  int64_t FSize = 0;
  int64_t FPos = 0;

  std::unique_ptr<TKvFileStream> FStream;
  int32_t FBufferSize;
  TDecoding FDecoding = TDecoding::dUtf8;
  // Raw bytes: a carried incomplete sequence of the last block, then the next block.
  std::vector<uint8_t> FRaw;
  size_t FRawLen = 0;
  bool FRawEnd = false;  // the file is exhausted and the decoder flushed
  // Decoded UTF-8 text of the current block.
  std::vector<char> FText;
  size_t FTextLen = 0;
  size_t FTextPos = 0;
  // Next LF and CR at or after FTextPos (FTextLen: none); stale when below FTextPos.
  ptrdiff_t FNextLF = -1;
  ptrdiff_t FNextCR = -1;
  // Single-byte pages: UTF-8 bytes of each byte in the low 3 bytes, length in the top byte.
  std::vector<uint32_t> FTable;
  bool FAsciiIdentity = false;
  // Multi-byte pages (932, 936, 949, 950).
  std::unique_ptr<TCodePageDecoder> FDecoder;
  std::string FDecoded;
};

}  // namespace kovra
