// Attribute tables read and written in place: dBASE .dbf files, MapInfo native
// .dat tables in the classic and the NATIVEX layout (field names and types from
// the .tab beside them), and a sequence of same-structured tables read as one.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/kovra_types.h"

namespace kovra {

class TBitArray;
class TKvBufferedStream;
class TSiblingFinder;

enum class TDBFtype : uint8_t { dbf, dat, datx };
using enum TDBFtype;

struct Tdbffield {
  std::string Name;  // upper-case (ASCII letters only)
  TGISField FieldType = gfChar;
  int32_t Width = 0;     // bytes
  int32_t decimals = 0;
  double Max = 0;        // gfDecimal: largest value that fits the field's text
  double Min = 0;        // gfDecimal: smallest value that fits
  uint32_t Pos = 0;      // byte offset inside a record (NATIVEX records exceed 64 KiB)
};

// One table opened in place. Field numbers are 0-based, record numbers 1-based.
// Reads and single-field writes outside the valid range do nothing (reads give
// 0, 0.0 or ""); a write into a table opened without ReadWrite raises
// EWriteError at once.
// Writers must call Close() to learn whether their changes reached the file:
// the destructor writes them out too, but cannot report a failure.
class TDbfFile : public TObject {
public:
  // ACodePage 0: decided on Open (.cpg, .tab charset, language byte, else ANSI).
  TDbfFile(std::string FileName, uint16_t ACodePage);
  ~TDbfFile() override;
  TDbfFile(const TDbfFile&) = delete;
  TDbfFile& operator=(const TDbfFile&) = delete;

  // Reads the structure. An extension other than .dbf/.dat leaves the table
  // closed without error; a missing .tab, a malformed or truncated table raises
  // and leaves it closed. Every count, width and offset of the header is
  // checked against the file before anything is sized by it.
  void Open(bool ReadWrite);
  // Writes out pending changes (EWriteError on failure) and closes the table.
  void Close();

  int32_t FindField(std::string_view Fieldname) const;
  // Copies the field's record into Info; an invalid field number leaves Info as it was.
  bool FieldInfo(int32_t FieldNum, Tdbffield& Info) const;
  Tdbffield FieldInfo(int32_t FieldNum) const;
  bool IsDeleted(int64_t RecNum);
  // True when the field holds no value: only blanks (or NUL bytes), or only
  // '*' (how shapefile writers store a NULL number). Binary .dat fields and
  // invalid field or record numbers give false.
  bool IsNull(int32_t FieldNum, int64_t RecNum);

  std::string ReadString(int32_t FieldNum, int64_t RecNum);
  int64_t ReadInteger(int32_t FieldNum, int64_t RecNum);
  double ReadFloat(int32_t FieldNum, int64_t RecNum);

  void WriteInteger(int32_t FieldNum, int64_t RecNum, int32_t value);
  void WriteFloat(int32_t FieldNum, int64_t RecNum, double value);
  void WriteBoolean(int32_t FieldNum, int64_t RecNum, bool value);
  void WriteString(int32_t FieldNum, int64_t RecNum, std::string_view value);

  // value[r] into record r, r = 1..size-1 (entry 0 unused). Every entry is
  // checked before anything is written; a field of width 0 raises.
  void WriteIntegerArray(int32_t fieldnum, const TIntegerArray& value);
  void WriteCostArray(int32_t fieldnum, const TCostArray& value);
  void WriteBitArray(int32_t fieldnum, const TBitArray& value);

  int32_t FieldCount() const { return fFieldCount; }
  int64_t RecordCount() const { return fRecordCount; }

private:
  bool ValidField(int32_t FieldNum) const;
  bool ValidRecord(int64_t RecNum) const;
  int64_t FieldOffset(const Tdbffield& f, int64_t RecNum) const;
  uint8_t* FieldBuffer(const Tdbffield& f);
  void CheckWritable() const;
  size_t WholeCharacters(std::string_view value, size_t Width) const;
  void ReadField(const Tdbffield& f, int64_t RecNum);
  void WriteField(const Tdbffield& f, int64_t RecNum, const uint8_t* bytes);
  std::string DecodeText(const Tdbffield& f);
  // Fills fBuffer with the field's bytes for a numeric value, raising
  // "Value is out of bounds" / "Field type is not supported" before any write.
  bool EncodeNumber(const Tdbffield& f, double value, bool isInteger, int64_t intValue,
                    uint8_t* out) const;
  template <typename Get>
  void WriteArray(int32_t fieldnum, int64_t count, Get get);

  void ReadTab(uint16_t& codePage, bool& codePageNamed);
  void ReadHeader(TKvBufferedStream& s, int64_t fileSize, int32_t tabFieldCount);
  void ReadAt(TKvBufferedStream& s, int64_t pos, void* buf, int32_t count);
  void PrepareText();

  bool fOpen = false;
  TDBFtype fDBFtype = dbf;
  std::unique_ptr<TKvBufferedStream> fBinFile;
  std::string fFilename;
  int64_t fStartOfData = 0;
  int64_t fRecordLength = 0;
  int32_t fFieldCount = 0;
  int64_t fRecordCount = 0;
  std::vector<uint8_t> fBuffer;  // one field, grown to the widest read or written
  bool fReadWrite = false;
  uint16_t fCodePage = 0;
  std::vector<Tdbffield> fFields;
  uint16_t fCreateCodePage = 0;  // as given to the constructor
  // Text conversion, prepared at the first text access (an unsupported code
  // page fails there, not at Open): the byte table of a single-byte page.
  bool fTextReady = false;
  const std::array<char16_t, 256>* fTable = nullptr;
  std::string fText;  // a value being written, in the table's code page
  // Set by TDbfFiles while it opens tables, so one folder is scanned once.
  TSiblingFinder* fSiblings = nullptr;
  friend class TDbfFiles;
};

// Tables of one structure read as one record sequence.
class TDbfFiles : public TObject {
public:
  explicit TDbfFiles(uint16_t ACodePage);
  ~TDbfFiles() override;
  TDbfFiles(const TDbfFiles&) = delete;
  TDbfFiles& operator=(const TDbfFiles&) = delete;

  void Add(const std::string& FileName);
  void Add(const std::vector<std::string>& Files);
  void Open();
  void Close();

  int32_t FindField(std::string_view Fieldname) const;
  bool FieldInfo(int32_t FieldNum, Tdbffield& Info) const;
  Tdbffield FieldInfo(int32_t FieldNum) const;
  bool IsNull(int32_t FieldNum, int32_t RecNum);
  int64_t ReadInteger(int32_t FieldNum, int32_t RecNum);
  double ReadFloat(int32_t FieldNum, int32_t RecNum);
  std::string ReadString(int32_t FieldNum, int32_t RecNum);

  int32_t FieldCount() const { return fFieldCount; }
  int32_t RecordCount() const { return fRecordCount; }

private:
  // Table holding record RecNum of the sequence and its local number; null when none.
  TDbfFile* Locate(int32_t RecNum, int64_t& local) const;

  std::vector<std::unique_ptr<TDbfFile>> fDbf;
  std::vector<std::string> fFiles;
  uint16_t fCodePage = 0;
  int32_t fFieldCount = -1;
  int32_t fRecordCount = -1;
  std::vector<int64_t> fEnds;  // running record totals, one per table
};

}  // namespace kovra
