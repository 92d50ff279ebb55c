// Text file writer: UTF-8 (optionally with a byte-order mark), UTF-16LE or any
// code page of the conversion layer, lines ended by CR LF, through a 1 MiB
// buffered stream.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/kovra_sysutils.h"

namespace kovra {

class TKvBufferedStream;

class TTextFileWriter : public TObject {
public:
  // Creates or truncates the file (EFCreateError when it cannot be created).
  // With Codepage 65001 and BOM the file starts with EF BB BF; BOM is ignored
  // for every other code page. Codepage 0 is the system ANSI code page.
  TTextFileWriter(const std::string& filename, uint16_t Codepage, bool BOM);
  // Releases the file; a final flush that fails here is not reported: call Close.
  ~TTextFileWriter() override;
  TTextFileWriter(const TTextFileWriter&) = delete;
  TTextFileWriter& operator=(const TTextFileWriter&) = delete;

  // Appends s in the writer's code page; characters the page lacks become '?'.
  // The first call raises for a code page the conversion layer lacks.
  void write(std::string_view s);
  // write(s), then CR LF.
  void writeln(std::string_view s);
  // Flushes and closes the file; a failed write raises EWriteError. Writing
  // after Close raises EWriteError.
  void Close();

  uint16_t Codepage() const { return FCodepage; }

private:
  enum class TEncoding : uint8_t { eUnknown, eUtf8, eUtf16, eSingleByteAscii, eConvert };

  void Prepare();
  void Put(const void* data, size_t count);

  std::unique_ptr<TKvBufferedStream> f;
  uint16_t FCodepage;
  TEncoding FEncoding = TEncoding::eUnknown;
  uint16_t FResolved = 0;  // FCodepage with 0 resolved
  std::string FBytes;      // converted text, reused
};

}  // namespace kovra
