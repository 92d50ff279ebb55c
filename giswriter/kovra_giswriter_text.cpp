#include "giswriter/kovra_giswriter_text.h"

#include <unicode/uchar.h>

#include "foundation/kovra_charset.h"
#include "foundation/kovra_functions.h"
#include "foundation/kovra_textfilewriter.h"
#include "giswriter/kovra_giswriter_shared.h"

namespace kovra {

namespace {

// A column name MIF readers take: letters, digits and '_' (a letter the code
// page lacks would arrive as '?'); every other character becomes '_', and a
// name must not start with a digit. A blank would end the name and make the
// whole header unreadable.
std::string MIFColumnName(const std::string& Name, const TWriterEncoding& Encoding) {
  std::string out;
  size_t pos = 0;
  while (pos < Name.size()) {
    const size_t start = pos;
    const char32_t c = NextCodePoint(Name, pos);
    const std::string_view ch(Name.data() + start, pos - start);
    bool keep;
    if (c < 0x80)
      keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    else
      keep = c != 0xFFFD && u_isalnum(UChar32(c)) && Encoding.GetBytes(ch) != "?";
    if (keep)
      out.append(ch);
    else
      out += '_';
  }
  if (out.empty() || (out[0] >= '0' && out[0] <= '9')) out.insert(out.begin(), '_');
  return out;
}

// Colour 0x00BBGGRR as MIF's R * 65536 + G * 256 + B: red and blue bytes exchanged.
uint32_t MIFColor(uint32_t c) { return (c & 0xFF00FF00u) | ((c & 0xFFu) << 16) | ((c >> 16) & 0xFFu); }

}  // namespace

// ---------------------------------------------------------------------------
// TGISWriterMIF

TGISWriterMIF::TGISWriterMIF() = default;
TGISWriterMIF::~TGISWriterMIF() = default;

void TGISWriterMIF::AddField(const std::string& FieldName, TGISField Field, uint8_t Width, uint8_t decimals) {
  // 255 is no valid MIF width, and Char(0) is no valid column: both become 254.
  if (Width == 255 || (Width == 0 && Field == gfChar)) Width = 254;
  TGISWriter::AddField(FieldName, Field, Width, decimals);
  std::string line = "  " + UniqueColumnName(
                                 [&](size_t n) {
                                   const std::string valid = MIFColumnName(FieldName, *FEncoding);
                                   return valid.substr(0, FEncoding->FitPrefix(valid, n));
                                 },
                                 31, FNames);
  switch (Field) {
    case gfChar:
      line += " Char(" + IntToStr(Width) + ")";
      break;
    case gfInteger:
      line += " Integer";
      break;
    case gfSmallInt:
      line += " Smallint";
      break;
    case gfDecimal:
      line += " Decimal(" + IntToStr(Width) + "," + IntToStr(decimals) + ")";
      break;
    case gfFloat:
      line += " Float";
      break;
    case gfDate:
      line += " Date";
      break;
    case gfLogical:
      line += " Logical";
      break;
    case gfTime:
      line += " Time";
      fVersion = 900;
      break;
    case gfDateTime:
      line += " DateTime";
      fVersion = 900;
      break;
    case gfInt64:
      line += " LargeInt";
      fVersion = 900;
      break;
    default:
      throw EInvalidFieldType(Format("Field type %d has no MIF column type", int(Field)));
  }
  fields.push_back(std::move(line));
  if (FWrittenFields != FNumFields) return;

  if (FCodepage == 65001 || FCodepage == 1200) fVersion = 1520;
  CreateFiles();
  TTextFileWriter& f = *FOutMIF;
  f.writeln("Version " + IntToStr(fVersion));
  const std::string charset = CharSetList().CodePage2Charset(FCodepage);
  if (!charset.empty()) f.writeln("CharSet \"" + charset + "\"");
  f.writeln("Delimiter \",\"");
  if (!CoordSys.empty() && FObjectTypes != otNone) f.writeln(CoordSys);
  f.writeln("Columns " + IntToStr(FNumFields));
  for (const std::string& c : fields) f.writeln(c);
  f.writeln("Data");
}

void TGISWriterMIF::CreateFiles() {
  const bool bom = FCodepage == 65001;
  FOutMIF = std::make_unique<TTextFileWriter>(FileName + ".mif", FCodepage, bom);
  AddCreatedFile(FileName + ".mif");
  try {
    FOutMID = std::make_unique<TTextFileWriter>(FileName + ".mid", FCodepage, bom);
  } catch (...) {
    // No half pair: the .mif made a moment ago goes again.
    FOutMIF.reset();
    DropCreatedFiles();
    throw;
  }
  AddCreatedFile(FileName + ".mid");
}

void TGISWriterMIF::AppendPoint(double X, double Y) {
  AppendFloatDot(FText, X);
  FText += ' ';
  AppendFloatDot(FText, Y);
}

void TGISWriterMIF::AppendPenClause() {
  if (Pen == DefaultPen) return;
  FText += "    Pen(" + IntToStr(Pen.Width) + "," + IntToStr(Pen.pattern) + "," + IntToStr(MIFColor(Pen.Color)) +
           ")\r\n";
}

void TGISWriterMIF::WriteRecord(const std::string& Attrib) {
  FOutMIF->write(FText);
  FOutMID->writeln(Attrib);
}

void TGISWriterMIF::AddPoint(double X, double Y, const std::string& Attrib) {
  CheckPoint(X, Y);
  if (FObjectTypes != otPoint) return;
  if (!FOutMID) RaiseNoOutput(FileName + ".mif");
  FText = "Point ";
  AppendPoint(X, Y);
  FText += "\r\n";
  if (!CompactMIF && Symbol != DefaultSymbol)
    FText += "    Symbol(" + IntToStr(Symbol.Shape) + "," + IntToStr(MIFColor(Symbol.Color)) + "," +
             IntToStr(Symbol.Size) + ")\r\n";
  WriteRecord(Attrib);
  ++FWrittenRecords;
}

void TGISWriterMIF::AddLine(double X1, double Y1, double X2, double Y2, const std::string& Attrib) {
  if (FObjectTypes != otPline) return;
  CheckPoint(X1, Y1);
  CheckPoint(X2, Y2);
  if (!FOutMID) RaiseNoOutput(FileName + ".mif");
  FText = "Line ";
  AppendPoint(X1, Y1);
  FText += ' ';
  AppendPoint(X2, Y2);
  FText += "\r\n";
  if (!CompactMIF) AppendPenClause();
  WriteRecord(Attrib);
  ++FWrittenRecords;
}

void TGISWriterMIF::AddLine2(const TFloatPoint& P1, const TFloatPoint& P2, const std::string& Attrib) {
  AddLine(P1.x, P1.y, P2.x, P2.y, Attrib);
}

void TGISWriterMIF::StartObject(int32_t NumParts, const std::string& Attrib) {
  if (!FOutMID) RaiseNoOutput(FileName + ".mif");
  TGISWriter::StartObject(NumParts, Attrib);
  FText.clear();
  ++FWrittenRecords;
  if (NumParts <= 0 || FObjectTypes == otNone) {
    FText = "None\r\n";
    WriteRecord(Attrib);
    return;
  }
  // The record goes out whole after its last part: a part refused on the
  // way leaves neither file holding half of it.
  FMIDLine = Attrib;
}

void TGISWriterMIF::WriteSection(int32_t Index, TFloatPointArrayEx& SegList) {
  TGISWriter::WriteSection(Index, SegList);
  const int32_t n = SegList.Count;
  const TFloatPoint* p = SegList.Pnt.data();
  if (FWrittenParts == 1) {
    if (FObjectTypes == otPline && FNumParts == 1 && n == 2) {
      FText = "Line ";
      AppendPoint(p[0].x, p[0].y);
      FText += ' ';
      AppendPoint(p[1].x, p[1].y);
      FText += "\r\n";
      if (!CompactMIF) AppendPenClause();
      WriteRecord(FMIDLine);
      return;
    }
    if (FObjectTypes == otRegion)
      FText = "Region " + IntToStr(FNumParts) + "\r\n";
    else if (FNumParts >= 2)
      FText = "Pline multiple " + IntToStr(FNumParts) + "\r\n";
    else
      FText = "Pline ";  // the point count completes the line: "Pline 5"
  }
  FText += IntToStr(n);
  FText += "\r\n";
  for (int32_t i = 0; i < n; ++i) {
    AppendPoint(p[i].x, p[i].y);
    FText += "\r\n";
  }
  if (FWrittenParts != FNumParts) return;
  if (!CompactMIF) {
    if (FObjectTypes == otRegion && Brush != DefaultBrush)
      FText += "    Brush(" + IntToStr(Brush.pattern) + "," + IntToStr(MIFColor(Brush.fg_color)) + "," +
               IntToStr(MIFColor(Brush.bg_color)) + ")\r\n";
    AppendPenClause();
  }
  WriteRecord(FMIDLine);
}

void TGISWriterMIF::AbandonObject() {
  FText.clear();
  --FWrittenRecords;
}

void TGISWriterMIF::Close() {
  TGISWriter::Close();
  if (Fopen) {
    Fopen = false;
    // Both are released even when the first one fails.
    auto mif = std::move(FOutMIF);
    auto mid = std::move(FOutMID);
    if (mif) mif->Close();
    if (mid) mid->Close();
  }
  RaiseUnfinished();
}

// ---------------------------------------------------------------------------
// TGISWriterMIF8

TGISWriterMIF8::TGISWriterMIF8() {
  FCodepage = 65001;
  FEncoding = std::make_unique<TWriterEncoding>(65001);
}

bool TGISWriterMIF8::AcceptsCodepage(uint16_t /*Value*/) const { return false; }

// ---------------------------------------------------------------------------
// TGISWriterCSV

TGISWriterCSV::TGISWriterCSV() = default;
TGISWriterCSV::~TGISWriterCSV() = default;

void TGISWriterCSV::StartHeader(int32_t NumFields, TObjectTypes ObjectTypes) {
  TGISWriter::StartHeader(NumFields, ObjectTypes);
  FOutCSV = std::make_unique<TTextFileWriter>(FileName + ".csv", FCodepage, false);
  AddCreatedFile(FileName + ".csv");
}

void TGISWriterCSV::AddField(const std::string& FieldName, TGISField Field, uint8_t Width, uint8_t decimals) {
  TGISWriter::AddField(FieldName, Field, Width, decimals);
  if (!FOutCSV) RaiseNoOutput(FileName + ".csv");
  FOutCSV->write("\"" + FieldName + "\"");
  if (FWrittenFields < FNumFields)
    FOutCSV->write(",");
  else
    FOutCSV->writeln("");
}

void TGISWriterCSV::WriteRow(const std::string& Attrib) {
  if (!FOutCSV) RaiseNoOutput(FileName + ".csv");
  FOutCSV->writeln(Attrib);
  ++FWrittenRecords;
}

void TGISWriterCSV::AddPoint(double X, double Y, const std::string& Attrib) {
  CheckPoint(X, Y);
  WriteRow(Attrib);
}

void TGISWriterCSV::AddLine(double X1, double Y1, double X2, double Y2, const std::string& Attrib) {
  CheckPoint(X1, Y1);
  CheckPoint(X2, Y2);
  WriteRow(Attrib);
}

void TGISWriterCSV::AddLine2(const TFloatPoint& P1, const TFloatPoint& P2, const std::string& Attrib) {
  AddLine(P1.x, P1.y, P2.x, P2.y, Attrib);
}

void TGISWriterCSV::StartObject(int32_t NumParts, const std::string& Attrib) {
  TGISWriter::StartObject(NumParts, Attrib);
  if (NumParts <= 0 || FObjectTypes == otNone) {
    WriteRow(Attrib);
    return;
  }
  // The row waits for the record's last part: a refused part leaves no row.
  if (!FOutCSV) RaiseNoOutput(FileName + ".csv");
  FRow = Attrib;
}

void TGISWriterCSV::WriteSection(int32_t Index, TFloatPointArrayEx& SegList) {
  TGISWriter::WriteSection(Index, SegList);
  if (FWrittenParts == FNumParts) WriteRow(FRow);
}

void TGISWriterCSV::Close() {
  TGISWriter::Close();
  if (Fopen) {
    Fopen = false;
    auto csv = std::move(FOutCSV);
    if (csv) csv->Close();
  }
  RaiseUnfinished();
}

}  // namespace kovra
