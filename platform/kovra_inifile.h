// INI files by section and key, the profile-file functions of the platform.
//
// TIniFile reads the file for every query and saves it after every write;
// TMemIniFile keeps it in memory and saves on UpdateFile().
//
// Reading: lines break at CR LF, LF or CR; blank lines are skipped; blanks and
// tabs around lines, keys and values are trimmed; sections and keys match
// ignoring case, the first match wins; a value enclosed in a matching pair of
// single or double quotes loses them; a missing value gives the default. The
// file is ANSI (the system code page) unless it starts with a UTF-16LE or UTF-8
// byte order mark.
//
// Writing: "[section]" and "key=value" lines ending with CR LF, no blanks around
// '=', the value verbatim except that CR and LF become blanks (a line break
// would end the value and could smuggle in further keys). A new key goes right
// after the last key line of its section, an existing one is replaced in place,
// a new section is appended; every other line keeps its bytes. A new file is
// ANSI without a byte order mark; an existing file keeps its encoding. Saves go
// to a temporary file in the same folder that is renamed over the target; a
// failure raises EIniFileException "Unable to write to %s" and leaves the old
// file intact. TMemIniFile::SetEncoding re-encodes a file for its next save.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/kovra_sysutils.h"

namespace kovra {

// The parsed content of one INI file (internal to the INI classes, exposed for
// TMemIniFile and tests).
class TIniData {
public:
  enum class TEncoding : uint8_t { Ansi, Utf8Bom, Utf16LE };

  // Splits and decodes the bytes of a file.
  static TIniData Parse(std::string_view Bytes);
  // The bytes to store: untouched lines exactly as they were read.
  std::string Serialize() const;

  // Value lookup; false when the section or key is missing.
  bool Find(std::string_view Section, std::string_view Ident, std::string& Value) const;
  bool SectionExists(std::string_view Section) const;
  void ReadSection(std::string_view Section, std::vector<std::string>& Strings) const;
  void ReadSections(std::vector<std::string>& Strings) const;
  void ReadSectionValues(std::string_view Section, std::vector<std::string>& Strings) const;

  void Write(std::string_view Section, std::string_view Ident, std::string_view Value);
  // True when something was removed.
  bool EraseSection(std::string_view Section);
  bool DeleteKey(std::string_view Section, std::string_view Ident);
  void Clear();

  TEncoding Encoding() const { return FEncoding; }
  // Stores every line in another encoding from its decoded text (a text that
  // the new encoding cannot hold takes its substitutes); the next save has
  // the new byte order mark.
  void SetEncoding(TEncoding Encoding);

private:
  struct TLine {
    std::string raw;   // bytes in the file's encoding, without the break
    std::string eol;   // the break as it was read (empty for an unterminated last line)
    std::string text;  // decoded UTF-8 text
  };
  enum class TKind : uint8_t { Other, Section, Key };
  static TKind Classify(std::string_view text, std::string& name, std::string& value);

  int FindSectionLine(std::string_view Section) const;
  int SectionEnd(int header) const;
  int FindKeyLine(int header, std::string_view Ident) const;
  TLine MakeLine(std::string_view text) const;
  void InsertLine(size_t at, std::string_view text);

  TEncoding FEncoding = TEncoding::Ansi;
  std::vector<TLine> FLines;
};

class TCustomIniFile : public TObject {
public:
  explicit TCustomIniFile(std::string FileName) : FFileName(std::move(FileName)) {}

  const std::string& FileName() const { return FFileName; }

  virtual std::string ReadString(const std::string& Section, const std::string& Ident,
                                 const std::string& Default);
  virtual void WriteString(const std::string& Section, const std::string& Ident, const std::string& Value);
  // Decimal or "0x" hexadecimal (a 32-bit pattern); anything else, overflow
  // included, gives the default. Both go through ReadString/WriteString.
  virtual int32_t ReadInteger(const std::string& Section, const std::string& Ident, int32_t Default);
  virtual void WriteInteger(const std::string& Section, const std::string& Ident, int32_t Value);
  // An integer, non-zero = True; written as "1" or "0".
  virtual bool ReadBool(const std::string& Section, const std::string& Ident, bool Default);
  virtual void WriteBool(const std::string& Section, const std::string& Ident, bool Value);
  // The whole value as a number with '.' (locale-free); otherwise the default.
  virtual double ReadFloat(const std::string& Section, const std::string& Ident, double Default);
  // General form, 15 significant digits, '.'.
  virtual void WriteFloat(const std::string& Section, const std::string& Ident, double Value);

  bool SectionExists(const std::string& Section);
  bool ValueExists(const std::string& Section, const std::string& Ident);
  // Key names of a section, in file order.
  void ReadSection(const std::string& Section, std::vector<std::string>& Strings);
  void ReadSections(std::vector<std::string>& Strings);
  // "key=value" of every key of a section.
  void ReadSectionValues(const std::string& Section, std::vector<std::string>& Strings);
  void EraseSection(const std::string& Section);
  void DeleteKey(const std::string& Section, const std::string& Ident);
  virtual void UpdateFile() = 0;

protected:
  // The content to read from.
  virtual const TIniData& Data() = 0;
  // Applies a change and stores it as the class does.
  virtual void Change(const std::function<bool(TIniData&)>& f) = 0;

  // Reads the file; a missing or unreadable one gives empty content. With
  // ForWrite, a file that exists but cannot be read raises (it must not be
  // replaced by an empty one).
  TIniData Load(bool ForWrite) const;
  // Temporary file and rename; EIniFileException on failure.
  void Save(const TIniData& Data) const;

private:
  std::string FFileName;
};

// Every query reads the file; every write saves it at once.
class TIniFile : public TCustomIniFile {
public:
  using TCustomIniFile::TCustomIniFile;
  void UpdateFile() override {}

protected:
  const TIniData& Data() override;
  void Change(const std::function<bool(TIniData&)>& f) override;

private:
  TIniData FCache;
};

// Reads the file once; writes change the memory copy until UpdateFile().
class TMemIniFile : public TCustomIniFile {
public:
  explicit TMemIniFile(std::string FileName);
  // Saves the memory copy (also when nothing changed, as a save point).
  void UpdateFile() override;
  // Drops every section and key of the memory copy.
  void Clear() { FData.Clear(); }
  // Re-encodes the memory copy; UpdateFile then writes it in that encoding.
  void SetEncoding(TIniData::TEncoding Encoding) { FData.SetEncoding(Encoding); }
  TIniData::TEncoding Encoding() const { return FData.Encoding(); }

protected:
  const TIniData& Data() override { return FData; }
  void Change(const std::function<bool(TIniData&)>& f) override { f(FData); }

private:
  TIniData FData;
};

}  // namespace kovra
