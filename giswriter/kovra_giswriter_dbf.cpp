#include "giswriter/kovra_giswriter_dbf.h"

#include <time.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <exception>

#include "foundation/kovra_functions.h"
#include "foundation/kovra_io.h"
#include "giswriter/kovra_giswriter_shared.h"
#include "platform/kovra_codepage.h"

namespace kovra {

namespace {

TDBFDateSource gDateSource = nullptr;

// The one place big-endian words are made: the .shp/.shx file code, lengths,
// offsets and record numbers.
void WriteBigEndian32(TKvStream& S, uint32_t Value) {
  // The typed write stores little-endian: the byte-reversed value comes out
  // big-endian, through the stream's inline path.
  S.WriteUInt32((Value >> 24) | ((Value >> 8) & 0xFF00u) | ((Value << 8) & 0xFF0000u) | (Value << 24));
}

// A byte offset or length of a shapefile as 16-bit words, checked to fit the
// format's signed 32 bits.
uint32_t ToSHPWords(uint64_t Bytes) {
  if (Bytes > cSHPMaxBytes) throw Exception("Shapefile exceeds the 4 GB format limit");
  return uint32_t(Bytes / 2);
}

// Integer, date and time texts go out unconverted, one byte per character:
// ASCII as is, any other character as '?'. Returns the number of characters.
size_t SingleByteChars(const std::string& S, std::string& Out) {
  bool ascii = true;
  for (char c : S) ascii = ascii && (unsigned char)c < 0x80;
  if (ascii) {
    Out.assign(S);
    return Out.size();
  }
  Out.clear();
  size_t pos = 0;
  while (pos < S.size()) {
    const unsigned char c = (unsigned char)S[pos];
    if (c < 0x80) {
      Out += char(c);
      ++pos;
    } else {
      NextCodePoint(S, pos);
      Out += '?';
    }
  }
  return Out.size();
}

}  // namespace

// ---------------------------------------------------------------------------
// Header date and numeric fields

TDBFHeaderDate LocalDBFHeaderDate() {
  const time_t now = ::time(nullptr);
  struct tm t {};
  if (::localtime_r(&now, &t) == nullptr) return TDBFHeaderDate{};
  return TDBFHeaderDate{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday};
}

TDBFDateSource SetDBFDateSource(TDBFDateSource Source) {
  TDBFDateSource old = gDateSource ? gDateSource : &LocalDBFHeaderDate;
  gDateSource = Source;
  return old;
}

void FormatDBFField(char* Buffer, int32_t Width, int32_t Decimals, double Value) {
  if (Width <= 0) return;
  // The plain fixed text whenever it fits: the common case costs one format.
  if (FormatDBFNumber(Buffer, Width, Decimals, Value) <= Width) return;
  // Integer readers would take "1E20" for 1: only fields with decimals get
  // E-notation, and only in full: a mantissa rounded to fit would be another
  // number, so a value whose shortest exact text does not fit is NULL.
  if (Decimals > 0) {
    const std::string text = ENotationText(Value, -1);
    if (text.size() <= size_t(Width)) {
      std::memset(Buffer, ' ', size_t(Width) - text.size());
      std::memcpy(Buffer + (size_t(Width) - text.size()), text.data(), text.size());
      return;
    }
  }
  std::memset(Buffer, '*', size_t(Width));
}

// ---------------------------------------------------------------------------
// TGISWriterDBF

TGISWriterDBF::TGISWriterDBF() = default;
TGISWriterDBF::~TGISWriterDBF() = default;

void TGISWriterDBF::StartHeader(int32_t NumFields, TObjectTypes ObjectTypes) {
  // The header length 32 x fields + 33 is a Word.
  if (NumFields > cDBFMaxFields) throw Exception("Too many fields for a DBF table (max 2046)");
  TGISWriter::StartHeader(NumFields, ObjectTypes);
  // The empty box is the library's Single sentinel, as shapefile readers see it.
  FXMinG = FYMinG = double(cInfinity);
  FXMaxG = FYMaxG = -double(cInfinity);
  FNumRec = 0;
  FTotalWidth = 1;
  FColumns.assign(size_t(NumFields), TDBFColumn{});
  FNames.clear();
  FRecord.clear();


  const TDBFHeaderDate date = (gDateSource ? gDateSource : &LocalDBFHeaderDate)();
  const uint32_t headerLength = 32 * uint32_t(NumFields) + 33;
  std::string header(headerLength, '\0');
  header[0] = 3;
  header[1] = char(uint8_t(date.Year - 1900));
  header[2] = char(uint8_t(date.Month));
  header[3] = char(uint8_t(date.Day));
  header[8] = char(uint8_t(headerLength));
  header[9] = char(uint8_t(headerLength >> 8));
  header[29] = char(CodePage2LanguageDriver(FCodepage));
  header[headerLength - 1] = 0x0D;
  // The descriptors are zero until AddField fills them in.
  FOutDBF = std::make_unique<TKvBufferedStream>(new TKvFileStream(FileName + ".dbf", fmCreate), true);
  AddCreatedFile(FileName + ".dbf");
  FOutDBF->WriteBuffer(header.data(), int32_t(header.size()));
}

void TGISWriterDBF::AddField(const std::string& FieldName, TGISField Field, uint8_t Width, uint8_t decimals) {
  if (Width == 255 || (Width == 0 && Field == gfChar)) Width = 254;
  char letter;
  uint8_t w = Width, d = 0;
  switch (Field) {
    case gfChar: letter = 'C'; break;
    case gfInteger: letter = 'N'; w = 11; break;
    case gfSmallInt: letter = 'N'; w = 6; break;
    case gfInt64: letter = 'N'; w = 20; break;
    case gfDecimal: letter = 'N'; d = decimals; break;
    case gfFloat:
      letter = 'N';
      w = Width == 0 ? 20 : Width;
      d = decimals == 0 ? 8 : decimals;
      break;
    case gfDate: letter = 'D'; w = 8; break;
    case gfLogical: letter = 'L'; w = 1; break;
    case gfTime: letter = 'C'; w = 9; break;
    case gfDateTime: letter = 'C'; w = 17; break;
    default: throw EInvalidFieldType(Format("Field type %d has no DBF column type", int(Field)));
  }
  if (!FOutDBF) throw EWriteError(Format("No output file is open for \"%s\"", FileName + ".dbf"));
  // The record length is a Word: refuse the column before it wraps.
  if (uint32_t(FTotalWidth) + w > cDBFMaxRecordLength) throw Exception("DBF record length exceeds 65535 bytes");
  TGISWriter::AddField(FieldName, Field, w, d);
  FColumns[size_t(FWrittenFields) - 1] = TDBFColumn{Field, w, d, FTotalWidth};
  FTotalWidth = uint16_t(FTotalWidth + w);

  char desc[32] = {};
  // Names are 10 bytes: two long names may cut to the same one, which
  // readers could not tell apart.
  const std::string name = UniqueColumnName(
      [&](size_t n) { return FieldName.substr(0, FEncoding->FitPrefix(FieldName, n)); }, 10, FNames);
  FText = FEncoding->GetBytes(name);
  std::memcpy(desc, FText.data(), std::min<size_t>(FText.size(), 10));
  desc[11] = letter;
  desc[16] = char(w);
  desc[17] = char(d);
  FOutDBF->Seek(32 * int64_t(FWrittenFields), soBeginning);
  FOutDBF->WriteBuffer(desc, 32);
  if (FWrittenFields == FNumFields) {
    FOutDBF->Seek(10, soBeginning);
    FOutDBF->WriteUInt16(FTotalWidth);
    FOutDBF->Seek(32 * int64_t(FNumFields) + 33, soBeginning);
    FRecord.assign(FTotalWidth, ' ');
  }
}

void TGISWriterDBF::FormatValue(const TDBFColumn& Column, const std::string& Value, char* Out) {
  const size_t w = Column.Width;
  switch (Column.FieldType) {
    case gfChar: {
      FEncoding->GetBytesCut(Value, Column.Width, FText);
      std::memcpy(Out, FText.data(), FText.size());
      std::memset(Out + FText.size(), ' ', w - FText.size());
      break;
    }
    case gfInteger:
    case gfSmallInt:
    case gfInt64: {
      // A cut integer text is another, plausible number: overflow is marked.
      const size_t n = SingleByteChars(Value, FText);
      if (n > w) {
        std::memset(Out, '*', w);
      } else {
        std::memset(Out, ' ', w - n);
        std::memcpy(Out + (w - n), FText.data(), n);
      }
      break;
    }
    case gfDecimal:
    case gfFloat: {
      bool overflow = false;
      const double v = ParseFloatDot(Value, overflow);
      if (overflow)
        std::memset(Out, '*', w);  // beyond any double: no field holds it
      else
        FormatDBFField(Out, Column.Width, Column.Decimals, v);
      break;
    }
    case gfDate:
    case gfTime:
    case gfDateTime: {
      if (SingleByteChars(Value, FText) == w)
        std::memcpy(Out, FText.data(), w);
      else
        std::memset(Out, ' ', w);
      break;
    }
    case gfLogical:
      Out[0] = IsTrueText(Value) ? 'T' : 'F';
      break;
    default:
      std::memset(Out, ' ', w);
      break;
  }
}

void TGISWriterDBF::FormatRecord(const std::string& Attrib) {
  if (!FOutDBF || FWrittenFields != FNumFields)
    throw EWriteError(Format("Records must follow the last of the %d fields of \"%s\"", FNumFields, FileName + ".dbf"));
  // WrittenRecords is an Integer: a producer that writes on past FileIsFull
  // gets an error here, not a wrapped count in the header.
  if (FNumRec >= uint32_t(MaxInt)) throw Exception("DBF table exceeds 2147483647 records");
  SplitAttributes(Attrib);
  FRecord[0] = ' ';
  for (size_t i = 0; i < FColumns.size(); ++i)
    FormatValue(FColumns[i], FSL[i], FRecord.data() + FColumns[i].Offset);
}

bool TGISWriterDBF::DBFIsFull() {
  const uint64_t size = 32 * uint64_t(FNumFields) + 33 + uint64_t(FNumRec) * FTotalWidth;
  return size + FSizeBias > uint64_t(cGISFileFullBytes);
}

void TGISWriterDBF::WriteRecord() {
  FOutDBF->WriteBuffer(FRecord.data(), int32_t(FRecord.size()));
  ++FNumRec;
  ++FWrittenRecords;
}

void TGISWriterDBF::StartObject(int32_t NumParts, const std::string& Attrib) {
  FormatRecord(Attrib);
  TGISWriter::StartObject(NumParts, Attrib);
  FDBFRecordStart = 32 * uint64_t(FNumFields) + 33 + uint64_t(FNumRec) * FTotalWidth;
  WriteRecord();
  FRecordOpen = NumParts > 0;
  fFileIsFull = DBFIsFull();
}

void TGISWriterDBF::AbandonObject() {
  if (!FRecordOpen || !FOutDBF) return;
  FOutDBF->SetSize(int64_t(FDBFRecordStart));
  --FNumRec;
  --FWrittenRecords;
  FRecordOpen = false;
}

void TGISWriterDBF::AddPoint(double X, double Y, const std::string& Attrib) {
  CheckPoint(X, Y);
  FormatRecord(Attrib);
  WriteRecord();
  fFileIsFull = DBFIsFull();
}

void TGISWriterDBF::Close() {
  TGISWriter::Close();
  if (Fopen) {
    Fopen = false;
    if (std::unique_ptr<TKvBufferedStream> dbf = std::move(FOutDBF)) {
      dbf->Seek(32 * int64_t(FNumFields) + 33 + int64_t(FNumRec) * FTotalWidth, soBeginning);
      dbf->WriteByte(0x1A);
      dbf->Seek(4, soBeginning);
      dbf->WriteUInt32(FNumRec);
      dbf->Close();
    }
  }
  RaiseUnfinished();
}

// ---------------------------------------------------------------------------
// TGISWriterSHP

TGISWriterSHP::TGISWriterSHP() = default;
TGISWriterSHP::~TGISWriterSHP() = default;

uint32_t TGISWriterSHP::ShapeType() const {
  switch (FObjectTypes) {
    case otPline: return 3;
    case otRegion: return 5;
    case otPoint: return 1;
    default: return 0;
  }
}

void TGISWriterSHP::StartHeader(int32_t NumFields, TObjectTypes ObjectTypes) {
  TGISWriterDBF::StartHeader(NumFields, ObjectTypes);
  FSHPopen = true;
  FNumRec = 0;
  FSHPOffset = 100;
  if (FObjectTypes == otNone) return;
  try {
    CreateShapeFiles();
  } catch (...) {
    // No partial set: what was made a moment ago goes again.
    FOutSHP.reset();
    FOutSHX.reset();
    FOutDBF.reset();
    FSHPopen = false;
    Fopen = false;
    DropCreatedFiles();
    throw;
  }
}

void TGISWriterSHP::CreateShapeFiles() {
  if (!PRJ.empty()) WriteSmallFile(".prj", StringToCodePage(PRJ, 1252));
  if (FCodepage != 0) WriteSmallFile(".cpg", IntToStr(FCodepage));
  // 100 bytes: file code, five unused words, the length (Close), version,
  // shape type, then the box and the Z and M ranges (zero until Close).
  auto header = [this](TKvBufferedStream& s) {
    WriteBigEndian32(s, 9994);
    for (int i = 0; i < 6; ++i) WriteBigEndian32(s, 0);
    s.WriteInt32(1000);
    s.WriteInt32(int32_t(ShapeType()));
    for (int i = 0; i < 8; ++i) s.WriteDouble(0);
  };
  FOutSHP = std::make_unique<TKvBufferedStream>(new TKvFileStream(FileName + ".shp", fmCreate), true);
  AddCreatedFile(FileName + ".shp");
  header(*FOutSHP);
  FOutSHX = std::make_unique<TKvBufferedStream>(new TKvFileStream(FileName + ".shx", fmCreate), true);
  AddCreatedFile(FileName + ".shx");
  header(*FOutSHX);
}

void TGISWriterSHP::WriteSmallFile(const std::string& Extension, const std::string& Bytes) {
  TKvFileStream f(FileName + Extension, fmCreate);
  AddCreatedFile(FileName + Extension);
  f.WriteBuffer(Bytes.data(), int32_t(Bytes.size()));
  f.Close();
}

void TGISWriterSHP::CheckSHPRoom(uint64_t Bytes) const {
  if (FSHPOffset + FSizeBias + Bytes > cSHPMaxBytes) throw Exception("Shapefile exceeds the 4 GB format limit");
}

void TGISWriterSHP::UpdateFileIsFull() {
  fFileIsFull = DBFIsFull() || FSHPOffset + FSizeBias > uint64_t(cGISFileFullBytes);
}

void TGISWriterSHP::StartObject(int32_t NumParts, const std::string& Attrib) {
  if (FObjectTypes == otNone || !FOutSHP) {
    TGISWriterDBF::StartObject(NumParts, Attrib);
    return;
  }
  FormatRecord(Attrib);
  const bool isNull = NumParts <= 0;
  const bool isPoint = !isNull && FObjectTypes == otPoint;
  // Header, shape type and the fixed part that is known now: nothing of the
  // record is written unless at least that fits.
  const uint64_t fixed = isNull ? 4 : isPoint ? 20 : 44 + 4 * uint64_t(NumParts);
  CheckSHPRoom(8 + fixed);
  FDBFRecordStart = 32 * uint64_t(FNumFields) + 33 + uint64_t(FNumRec) * FTotalWidth;
  TGISWriter::StartObject(NumParts, Attrib);
  WriteRecord();
  FRecordOpen = true;

  WriteBigEndian32(*FOutSHX, ToSHPWords(FSHPOffset));
  TKvBufferedStream& shp = *FOutSHP;
  shp.Seek(int64_t(FSHPOffset), soBeginning);
  WriteBigEndian32(shp, FNumRec);
  WriteBigEndian32(shp, 0);  // content length, when the record is finished
  shp.WriteInt32(isNull ? 0 : int32_t(ShapeType()));
  if (isNull) {
    FContentLength = 4;
    FinishRecord(false);
    UpdateFileIsFull();
    return;
  }
  if (!isPoint) {
    // Box and point count are patched after the last part; the parts array
    // entry by entry. Written as zeros now so the record has no gap.
    for (int i = 0; i < 4; ++i) shp.WriteDouble(0);
    shp.WriteInt32(NumParts);
    shp.WriteInt32(0);
    for (int32_t i = 0; i < NumParts; ++i) shp.WriteInt32(0);
    FNumPoints = 0;
  }
  FXMinO = FYMinO = double(cInfinity);
  FXMaxO = FYMaxO = -double(cInfinity);
  UpdateFileIsFull();
}

void TGISWriterSHP::WriteSection(int32_t Index, TFloatPointArrayEx& SegList) {
  if (FObjectTypes == otNone || !FOutSHP) return;
  TGISWriter::WriteSection(Index, SegList);
  TKvBufferedStream& shp = *FOutSHP;
  const int32_t n = std::max(SegList.Count, 0);
  const TFloatPoint* p = SegList.Pnt.data();
  const bool isPoint = FObjectTypes == otPoint;
  // StartObject leaves the stream where a point's X goes, or behind the
  // zeroed parts array where the first part's points go.
  if (!isPoint) {
    const uint64_t end = 8 + 44 + 4 * uint64_t(FNumParts) + 16 * (uint64_t(FNumPoints) + uint64_t(n));
    try {
      CheckSHPRoom(end);
    } catch (...) {
      RollBackRecord();
      throw;
    }
    if (FWrittenParts > 1) {
      shp.Seek(int64_t(FSHPOffset) + 48 + 4 * int64_t(FWrittenParts), soBeginning);
      shp.WriteInt32(int32_t(FNumPoints));
      shp.Seek(int64_t(FSHPOffset) + 52 + 4 * int64_t(FNumParts) + 16 * int64_t(FNumPoints), soBeginning);
    }
    FNumPoints += uint32_t(n);
  }
  double xmin = FXMinO, ymin = FYMinO, xmax = FXMaxO, ymax = FYMaxO;
  for (int32_t i = 0; i < n; ++i) {
    const double x = p[i].x, y = p[i].y;
    shp.WriteDouble(x);
    shp.WriteDouble(y);
    if (x < xmin) xmin = x;
    if (y < ymin) ymin = y;
    if (x > xmax) xmax = x;
    if (y > ymax) ymax = y;
  }
  FXMinO = xmin;
  FYMinO = ymin;
  FXMaxO = xmax;
  FYMaxO = ymax;
  if (FWrittenParts == FNumParts) {
    ExtendBounds(FXMinO, FYMinO);
    ExtendBounds(FXMaxO, FYMaxO);
    FContentLength = isPoint ? 20 : 44 + 4 * uint64_t(FNumParts) + 16 * uint64_t(FNumPoints);
    FinishRecord(!isPoint);
  }
  UpdateFileIsFull();
}

void TGISWriterSHP::FinishRecord(bool PatchPolyHeader) {
  const uint32_t words = ToSHPWords(FContentLength);
  TKvBufferedStream& shp = *FOutSHP;
  shp.Seek(int64_t(FSHPOffset) + 4, soBeginning);
  WriteBigEndian32(shp, words);
  if (PatchPolyHeader) {
    // From the content length on in one run: type, box, NumParts, NumPoints.
    shp.WriteInt32(int32_t(ShapeType()));
    shp.WriteDouble(FXMinO);
    shp.WriteDouble(FYMinO);
    shp.WriteDouble(FXMaxO);
    shp.WriteDouble(FYMaxO);
    shp.WriteInt32(FNumParts);
    shp.WriteInt32(int32_t(FNumPoints));
  }
  WriteBigEndian32(*FOutSHX, words);
  FSHPOffset += FContentLength + 8;
  FRecordOpen = false;
}

void TGISWriterSHP::RollBackRecord() {
  // Back to the state before StartObject: the earlier records stay as they are.
  TGISWriterDBF::AbandonObject();
  FOutSHX->SetSize(100 + 8 * int64_t(FNumRec));
  FOutSHP->SetSize(int64_t(FSHPOffset));
}

void TGISWriterSHP::AbandonObject() {
  if (FObjectTypes == otNone || !FOutSHP)
    TGISWriterDBF::AbandonObject();
  else if (FRecordOpen)
    RollBackRecord();
}

void TGISWriterSHP::AddPoint(double X, double Y, const std::string& Attrib) {
  CheckPoint(X, Y);
  if (FObjectTypes != otPoint) return;
  StartObject(1, Attrib);
  FPoint.Pnt.resize(std::max<size_t>(FPoint.Pnt.size(), 1));
  FPoint.Pnt[0] = TFloatPoint{X, Y};
  FPoint.Count = 1;
  WriteSection(0, FPoint);
}

void TGISWriterSHP::Close() {
  // A failing .dbf must not leave the .shp and .shx unfinished and open.
  std::exception_ptr dbfError;
  try {
    TGISWriterDBF::Close();
  } catch (...) {
    dbfError = std::current_exception();
  }
  if (FObjectTypes == otNone || !FSHPopen) {
    if (dbfError) std::rethrow_exception(dbfError);
    return;
  }
  FSHPopen = false;
  // Both are released even when the first one fails.
  std::unique_ptr<TKvBufferedStream> shp = std::move(FOutSHP);
  std::unique_ptr<TKvBufferedStream> shx = std::move(FOutSHX);
  auto finish = [this](TKvBufferedStream* s, uint64_t Bytes) {
    if (!s) return;
    s->Seek(24, soBeginning);
    WriteBigEndian32(*s, ToSHPWords(Bytes));
    s->Seek(36, soBeginning);
    s->WriteDouble(FXMinG);
    s->WriteDouble(FYMinG);
    s->WriteDouble(FXMaxG);
    s->WriteDouble(FYMaxG);
    s->Close();
  };
  finish(shp.get(), FSHPOffset);
  finish(shx.get(), 100 + 8 * uint64_t(FNumRec));
  if (dbfError) std::rethrow_exception(dbfError);
}

}  // namespace kovra
