// The MIF reader of TImport and the .mif header reader. Every object of a
// Data section is one link. An object starts at a line whose first token is
// an object keyword; every other line (styles, counts, vertices, quoted text)
// belongs to the object before it, so the words of a label never start one.
#include "import/kovra_import_mif.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <memory>
#include <typeinfo>

#include "foundation/kovra_charset.h"
#include "foundation/kovra_csvfiles.h"
#include "foundation/kovra_functions.h"
#include "foundation/kovra_io.h"
#include "import/kovra_import.h"

namespace kovra {

namespace {

// CoordSys of a file without a CoordSys line: longitude and latitude.
constexpr const char* cMifDefaultCoordSys = "CoordSys Earth Projection 1, 0";

// The lines of a file as bytes, without decoding: the object section is
// ASCII, and numbers are parsed straight from the buffer. A line ends at LF,
// CR LF or a lone CR; the last line needs no end.
class TMifLines {
public:
  explicit TMifLines(const std::string& FileName)
      : fFile(FileName, fmOpenRead | fmShareDenyWrite),
        fSize(fFile.Size()),
        fBuffer(size_t(std::clamp<int64_t>(fSize, 64, int64_t(cBlock)))) {}

  int64_t Size() const { return fSize; }
  // Bytes of the file before the next line.
  int64_t Position() const { return fBufferStart + int64_t(fBegin); }
  // 1-based number of the line returned last.
  int32_t LineNumber() const { return fLine; }

  // Continues at a line start found by an earlier reader.
  void Seek(int64_t Offset, int32_t LinesBefore) {
    fFile.Seek(Offset, soBeginning);
    fBufferStart = Offset;
    fBegin = fEnd = 0;
    fAtEnd = false;
    fLine = LinesBefore;
  }

  // The next line without its end; valid until the next call. False at the
  // end of the file.
  bool Next(std::string_view& Line) {
    size_t k = 0;  // bytes of the line scanned, from fBegin
    for (;;) {
      const char* p = fBuffer.data() + fBegin;
      const size_t n = fEnd - fBegin;
      while (k < n && p[k] != '\n' && p[k] != '\r') ++k;
      // A CR that ends the buffer may be the first half of CR LF.
      const bool complete = k < n && !(p[k] == '\r' && k + 1 == n);
      if (complete || !Fill()) break;
    }
    const char* p = fBuffer.data() + fBegin;
    const size_t n = fEnd - fBegin;
    if (n == 0) return false;
    Line = std::string_view(p, k);
    size_t used = k;
    if (k < n) used += p[k] == '\r' && k + 1 < n && p[k + 1] == '\n' ? 2 : 1;
    fBegin += used;
    ++fLine;
    return true;
  }

private:
  static constexpr size_t cBlock = 256 * 1024;

  // Keeps the unread bytes and appends the next block; false at the end.
  bool Fill() {
    if (fAtEnd) return false;
    if (fBegin > 0) {
      std::memmove(fBuffer.data(), fBuffer.data() + fBegin, fEnd - fBegin);
      fBufferStart += int64_t(fBegin);
      fEnd -= fBegin;
      fBegin = 0;
    }
    // A line longer than the buffer doubles it; the file's size bounds it.
    if (fEnd == fBuffer.size()) fBuffer.resize(2 * fBuffer.size());
    const int32_t got = fFile.Read(fBuffer.data() + fEnd, int32_t(std::min<size_t>(fBuffer.size() - fEnd, cBlock)));
    if (got <= 0) {
      // A failing disk is an error, not the end of the file.
      if (got < 0 || fFile.LastError() != 0) RaiseReadError(fFile);
      fAtEnd = true;
      return false;
    }
    fEnd += size_t(got);
    return true;
  }

  TKvFileStream fFile;
  int64_t fSize;
  std::vector<char> fBuffer;
  int64_t fBufferStart = 0;  // file offset of fBuffer[0]
  size_t fBegin = 0, fEnd = 0;
  bool fAtEnd = false;
  int32_t fLine = 0;
};

// Splits off the first token (up to a blank or control character) of a
// trimmed text; Rest is what follows, trimmed.
std::string_view FirstToken(std::string_view S, std::string_view& Rest) {
  size_t i = 0;
  while (i < S.size() && static_cast<unsigned char>(S[i]) > 0x20) ++i;
  Rest = TrimView(S.substr(i));
  return S.substr(0, i);
}

// The text between the quotes that open S (to the end when unclosed); S
// itself when it does not start with a quote.
std::string_view Unquoted(std::string_view S) {
  if (S.empty() || S.front() != '"') return S;
  S.remove_prefix(1);
  return S.substr(0, S.find('"'));
}

// A whole token as a double. "nan" and "inf" are numbers here and meet the
// intake's non-finite check; a value beyond the double range is not.
bool ParseCoordinate(std::string_view Token, double& Value) {
  if (Token.size() > 1 && Token.front() == '+' && Token[1] != '-') Token.remove_prefix(1);
  const char* end = Token.data() + Token.size();
  const auto r = std::from_chars(Token.data(), end, Value, std::chars_format::general);
  return r.ec == std::errc() && r.ptr == end && !Token.empty();
}

// moNotObject: the line belongs to the object before it.
enum class TMifObject : uint8_t { moNotObject, moPline, moLine, moNone, moCollection, moOther };

TMifObject ObjectOf(std::string_view Keyword) {
  static const struct {
    const char* Word;
    TMifObject Kind;
  } words[] = {
      {"PLINE", TMifObject::moPline},   {"LINE", TMifObject::moLine},         {"NONE", TMifObject::moNone},
      {"POINT", TMifObject::moOther},   {"MULTIPOINT", TMifObject::moOther},  {"REGION", TMifObject::moOther},
      {"ARC", TMifObject::moOther},     {"TEXT", TMifObject::moOther},        {"RECT", TMifObject::moOther},
      {"ROUNDRECT", TMifObject::moOther}, {"ELLIPSE", TMifObject::moOther},   {"COLLECTION", TMifObject::moCollection},
  };
  // Every keyword has 3 to 10 letters.
  if (Keyword.size() < 3 || Keyword.size() > 10) return TMifObject::moNotObject;
  for (const auto& w : words)
    if (SameTextAscii(Keyword, w.Word)) return w.Kind;
  return TMifObject::moNotObject;
}

// The unit named by the first quoted word of a CoordSys text; none means
// degrees. The short forms are the ones MapInfo writes for links, chains and rods.
TCoordinateUnit CoordSysUnit(std::string_view CoordSys) {
  const size_t quote = CoordSys.find('"');
  if (quote == std::string_view::npos) return cuDeg;
  const std::string_view word = Unquoted(CoordSys.substr(quote));
  static const struct {
    const char* Word;
    TCoordinateUnit Unit;
  } units[] = {
      {"mm", cuMm},      {"cm", cuCm},     {"m", cuM},         {"km", cuKm},          {"mi", cuMiles},
      {"in", cuInch},    {"ft", cuFt},     {"yd", cuYard},     {"survey ft", cuSurveyft}, {"nmi", cuNmi},
      {"link", cuLink},  {"li", cuLink},   {"chain", cuChain}, {"ch", cuChain},       {"rod", cuRod},
      {"rd", cuRod},
  };
  for (const auto& u : units)
    if (SameTextAscii(word, u.Word)) return u.Unit;
  return cuM;
}

std::string Where(int64_t Line, const std::string& FileName) { return Format(" (line %d of %s)", Line, FileName); }

int32_t ParseCount(std::string_view Token, int64_t Line, const std::string& FileName) {
  int32_t v = 0;
  if (!TryStrToInt(Token, v))
    throw EConvertError(Format("'%s' is not a valid integer value", Token) + Where(Line, FileName));
  return v;
}

}  // namespace

// ---------------------------------------------------------------------------
// TMifHeader

uint16_t TMifHeader::CodePage() const {
  return HasCharset ? CharSetList().Charset2CodePage(Charset) : cMifDefaultCodePage;
}

bool TMifHeader::CommaTextDelimiter() const {
  if (Delimiter.size() != 1) return false;
  const auto c = static_cast<unsigned char>(Delimiter[0]);
  return c == ',' || (c >= 1 && c <= 0x20);
}

TMifHeader ReadMifHeader(const std::string& FileName) {
  TMifLines lines(FileName);
  TMifHeader h;
  h.Size = lines.Size();
  h.DataOffset = h.Size;
  std::string columnBytes;  // the column names, one after the other
  std::vector<size_t> columnEnds;
  std::string_view line;
  while (lines.Next(line)) {
    const std::string_view text = TrimView(line);
    std::string_view rest;
    const std::string_view key = FirstToken(text, rest);
    if (SameTextAscii(key, "DATA")) {
      h.DataOffset = lines.Position();
      h.DataLine = lines.LineNumber() + 1;
      break;
    }
    if (SameTextAscii(key, "CHARSET")) {
      if (!h.HasCharset) h.Charset = std::string(Unquoted(rest));
      h.HasCharset = true;
    } else if (SameTextAscii(key, "COORDSYS")) {
      if (h.CoordSys.empty()) h.CoordSys = std::string(text);
    } else if (SameTextAscii(key, "DELIMITER")) {
      h.Delimiter = std::string(Unquoted(rest));
    } else if (SameTextAscii(key, "COLUMNS")) {
      std::string_view after;
      const int32_t count = ParseCount(FirstToken(rest, after), lines.LineNumber(), FileName);
      // Declarations are taken by count: a column may be named like a keyword.
      for (int32_t c = 0; c < count; ++c) {
        if (!lines.Next(line)) throw Exception(Format("Unexpected end of file in %s", FileName));
        columnBytes.append(FirstToken(TrimView(line), after));
        columnEnds.push_back(columnBytes.size());
      }
    }
  }
  const uint16_t codePage = h.CodePage();
  size_t start = 0;
  for (const size_t end : columnEnds) {
    h.Columns.push_back(CodePageToString(std::string_view(columnBytes).substr(start, end - start), codePage));
    start = end;
  }
  return h;
}

// ---------------------------------------------------------------------------
// TImport

void TImport::CheckMIF() {
  fMifHeaders.clear();
  fMidFiles.clear();
  for (const TInputFile& f : fInputs) fMifHeaders.push_back(ReadMifHeader(f.Name));
  // A file without CoordSys is in longitude and latitude: it agrees only
  // with files that say so.
  auto coordSys = [](const TMifHeader& h) {
    return UpperAscii(h.CoordSys.empty() ? std::string_view(cMifDefaultCoordSys) : std::string_view(h.CoordSys));
  };
  if (fFailOnDifferentCoordSys) {
    const std::string first = coordSys(fMifHeaders.front());
    for (size_t i = 1; i < fMifHeaders.size(); ++i)
      if (coordSys(fMifHeaders[i]) != first) throw Exception("Different Coordsys in input tables");
  }
  if (WantZLevels()) {
    // The .mid is split as comma text: another delimiter would misread fields.
    for (size_t i = 0; i < fInputs.size(); ++i)
      if (!fMifHeaders[i].CommaTextDelimiter())
        throw Exception(Format("Unsupported MID delimiter %s in %s", "\"" + fMifHeaders[i].Delimiter + "\"",
                               fInputs[i].Name));
    for (const TInputFile& f : fInputs) fMidFiles.push_back(RequiredCompanion(f.Name, "mid"));
  }
}

void TImport::ReadMIF() {
  const TMifHeader& first = fMifHeaders.front();
  // The text of the first file stands for the run; the files agree up to case.
  fCoordSys = first.CoordSys.empty() ? std::string(cMifDefaultCoordSys) : UpperAscii(first.CoordSys);
  // With z-levels each .mif is read beside its own .mid, which must hold one
  // line per object: lines counted over all files would let a short table
  // hand its neighbour's levels to later objects.
  std::unique_ptr<TCSVFiles> mid;
  fZLevels = !fMidFiles.empty();
  if (fCoordinateUnit == cuUnknown) fCoordinateUnit = CoordSysUnit(fCoordSys);
  SetZRadius();
  int64_t total = 0;
  for (const TMifHeader& h : fMifHeaders) total += h.Size;
  SetProgressMaxValue(double(total));

  int64_t midLines = 0;  // lines of the current .mid read so far
  // The levels of the next .mid line; a fault names that line.
  auto readZLevels = [&](size_t file) {
    if (mid->Eof()) return;  // too few lines: refused when the file ends
    ++midLines;
    try {
      mid->Read_Z(fZfromField, fZtoField, fZFrom, fZTo);
    } catch (const Exception& e) {
      const std::string where = Where(mid->LineNumber(), fMidFiles[file]);
      if (typeid(e) == typeid(EConvertError)) throw EConvertError(e.Message() + where);
      if (typeid(e) == typeid(EOutOfRange)) throw EOutOfRange(e.Message() + where);
      if (typeid(e) == typeid(Exception)) throw Exception(e.Message() + where);
      throw;
    }
  };

  int64_t finished = 0;  // bytes of the files read to their end
  for (size_t i = 0; i < fInputs.size() && !Cancelled(); ++i) {
    const std::string& name = fInputs[i].Name;
    const int32_t fileindex = int32_t(i);
    TMifLines lines(name);
    lines.Seek(fMifHeaders[i].DataOffset, fMifHeaders[i].DataLine - 1);
    fLinkCountFile = 0;
    if (fZLevels) {
      mid = std::make_unique<TCSVFiles>(first.CodePage());
      mid->Add(fMidFiles[i]);
      mid->Open();
      midLines = 0;
    }
    std::string_view line;
    // The next line of the object, trimmed; the object must not end the file.
    auto objectLine = [&]() {
      if (!lines.Next(line)) throw Exception(Format("Unexpected end of file in %s", name));
      return TrimView(line);
    };
    // x and y from the start of a text; returns what follows them.
    auto vertex = [&](std::string_view text, TFloatPoint& p) {
      std::string_view rest;
      if (!ParseCoordinate(FirstToken(text, rest), p.x) || !ParseCoordinate(FirstToken(rest, rest), p.y))
        throw Exception(Format("Invalid coordinate in %s line %d", name, lines.LineNumber()));
      return rest;
    };
    while (lines.Next(line)) {
      std::string_view rest;
      const std::string_view keyword = FirstToken(TrimView(line), rest);
      const TMifObject kind = ObjectOf(keyword);
      if (kind == TMifObject::moNotObject) continue;
      if (kind == TMifObject::moCollection)
        throw Exception("Collections are not supported in MIF translator" + Where(lines.LineNumber(), name));
      ++fLinkCount;
      ++fLinkCountFile;
      if (mid) readZLevels(i);
      WriteVertexIndex();
      ProgressExecute(double(finished + lines.Position()));
      switch (kind) {
        case TMifObject::moPline: {
          std::string_view after;
          std::string_view count = FirstToken(rest, after);
          if (SameTextAscii(count, "MULTIPLE")) {
            const int32_t sections = ParseCount(FirstToken(after, after), lines.LineNumber(), name);
            AddError(fileindex, fLinkCountFile, fLinkCount, ecMultiSection, sections);
            break;
          }
          // The vertex count may stand on the line after the keyword.
          if (count.empty()) count = FirstToken(objectLine(), after);
          const int32_t n = ParseCount(count, lines.LineNumber(), name);
          if (n == 1) {
            TFloatPoint p;
            vertex(objectLine(), p);
          }
          if (n < 2) {
            AddError(fileindex, fLinkCountFile, fLinkCount, ecZeroOrOneVertices, n);
          } else if (n > cMaxVerticesPerObject) {
            AddError(fileindex, fLinkCountFile, fLinkCount, ecTooManyVertices, n);
          } else {
            TFloatPoint* v = VertexBuffer(n);
            for (int32_t k = 0; k < n; ++k) vertex(objectLine(), v[k]);
            fNumPoints = n;
            AddPolyline(fileindex);
          }
          break;
        }
        case TMifObject::moLine: {
          TFloatPoint* v = VertexBuffer(2);
          vertex(vertex(rest, v[0]), v[1]);
          fNumPoints = 2;
          AddPolyline(fileindex);
          break;
        }
        case TMifObject::moNone: AddError(fileindex, fLinkCountFile, fLinkCount, ecNotGeoCoded, 0); break;
        default: AddError(fileindex, fLinkCountFile, fLinkCount, ecNotPolyLine, 0); break;
      }
      if (Cancelled()) break;
    }
    if (mid && !Cancelled() && (midLines != fLinkCountFile || !mid->Eof())) {
      while (!mid->Eof()) {
        mid->ReadLine();
        ++midLines;
      }
      throw Exception(Format("The MIF and MID files do not have the same number of records (%d objects in %s, %d lines in %s)",
                             fLinkCountFile, name, midLines, fMidFiles[i]));
    }
    mid.reset();
    finished += fMifHeaders[i].Size;
  }
  WriteVertexIndex();
  CloseVertexFiles();
}

}  // namespace kovra
