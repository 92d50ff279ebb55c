#include "foundation/kovra_textfilewriter.h"

#include "foundation/kovra_io.h"
#include "platform/kovra_codepage.h"

namespace kovra {

namespace {
constexpr uint16_t cCreateShareDenyWrite = fmCreate | fmShareDenyWrite;  // $FF20
const char cUtf8Bom[3] = {char(0xEF), char(0xBB), char(0xBF)};
const char cCrLf16[4] = {'\r', 0, '\n', 0};
}  // namespace

TTextFileWriter::TTextFileWriter(const std::string& filename, uint16_t Codepage, bool BOM)
    : FCodepage(Codepage) {
  // Handed over whole: if the buffered stream's constructor raises, it frees
  // the file stream once and nothing here frees it again.
  f = std::make_unique<TKvBufferedStream>(std::make_unique<TKvFileStream>(filename, cCreateShareDenyWrite));
  if (Codepage == cCodePageUTF8 && BOM) Put(cUtf8Bom, sizeof(cUtf8Bom));
}

TTextFileWriter::~TTextFileWriter() = default;  // the buffered stream flushes on release

// Chosen at the first write, so an unsupported code page raises there.
void TTextFileWriter::Prepare() {
  FResolved = ResolveCodePage(FCodepage);
  if (FResolved == cCodePageUTF8) {
    FEncoding = TEncoding::eUtf8;
  } else if (FResolved == cCodePageUTF16) {
    FEncoding = TEncoding::eUtf16;
  } else if (IsSingleByteCodePage(FResolved)) {  // raises for a page the layer lacks
    // Where the page keeps ASCII as it is, ASCII text needs no conversion.
    const TSingleByteTable& table = SingleByteTable(FResolved);
    bool ascii = true;
    for (char16_t b = 0; b < 0x80; ++b) ascii = ascii && table[b] == b;
    FEncoding = ascii ? TEncoding::eSingleByteAscii : TEncoding::eConvert;
  } else {
    FEncoding = TEncoding::eConvert;
  }
}

void TTextFileWriter::Put(const void* data, size_t count) {
  if (!f) throw EWriteError(cMsgStreamWriteError);
  const auto* p = static_cast<const char*>(data);
  while (count > 0) {
    auto n = int32_t(std::min<size_t>(count, 0x40000000));
    f->WriteBuffer(p, n);
    p += n;
    count -= size_t(n);
  }
}

void TTextFileWriter::write(std::string_view s) {
  if (FEncoding == TEncoding::eUnknown) Prepare();
  if (s.empty()) return;
  switch (FEncoding) {
    case TEncoding::eUtf8:
      Put(s.data(), s.size());
      return;
    case TEncoding::eSingleByteAscii: {
      bool ascii = true;
      for (char c : s) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
      if (ascii) {
        Put(s.data(), s.size());
        return;
      }
      break;
    }
    default:
      break;
  }
  FBytes = StringToCodePage(s, FResolved);
  Put(FBytes.data(), FBytes.size());
}

void TTextFileWriter::writeln(std::string_view s) {
  write(s);
  // Under UTF-16 the break is two code units: bytes 0D 0A alone would shift
  // every following character by one byte.
  if (FEncoding == TEncoding::eUtf16)
    Put(cCrLf16, sizeof(cCrLf16));
  else
    Put("\r\n", 2);
}

void TTextFileWriter::Close() {
  if (!f) return;
  auto stream = std::move(f);
  stream->Close();
}

}  // namespace kovra
