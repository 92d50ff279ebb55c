// A list of comma-separated text files read as one sequence of lines, and the
// comma-text rule that splits a line or an attribute text into fields.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/kovra_sysutils.h"

namespace kovra {

class TTextFileReader;

// Splits S into Fields (its items replaced; their storage is reused). Outside
// double quotes a comma or any character with code 1..32 separates fields;
// a quoted field runs to the next quote that is not doubled ("" stands for
// one quote) or to the end of the text; a comma that ends the text adds an
// empty field. NUL is an ordinary character.
void SplitCommaText(std::string_view S, std::vector<std::string>& Fields);
std::vector<std::string> SplitCommaText(std::string_view S);
// The rule of ".csv" tables: only a comma outside double quotes separates
// fields, so a blank inside a field stays ("Main Street" is one field);
// blanks and control characters around a field are dropped. Quoted fields as
// in SplitCommaText; text after a closing quote, up to the next comma, is
// added to the field. An empty text has no fields.
void SplitCsvText(std::string_view S, std::vector<std::string>& Fields);

// True for a file name ending in ".csv" (any case): such a file is split by
// SplitCsvText, every other file (".mid", turn text files) by SplitCommaText.
bool IsCsvFileName(std::string_view FileName);

class TCSVFiles : public TObject {
public:
  // ACodePage 0 means the system ANSI code page, fixed at creation.
  explicit TCSVFiles(uint16_t ACodePage);
  ~TCSVFiles() override;
  TCSVFiles(const TCSVFiles&) = delete;
  TCSVFiles& operator=(const TCSVFiles&) = delete;

  void Add(const std::string& filename);
  void Add(const std::vector<std::string>& files);
  // Measures every file (a missing one raises EFOpenError here) and positions
  // on the first line of the first file that holds one.
  void Open();

  bool Eof();
  std::string ReadLine();
  void ReadLine(std::vector<std::string>& SL);
  // Each Read consumes one line and returns field fieldindex (0-based): empty
  // or 0 when the line has fewer fields.
  void Read(int32_t fieldindex, std::string& value);
  void Read(int32_t fieldindex, int64_t& value);
  void Read(int32_t fieldindex, uint16_t& value);
  void Read(int32_t fieldindex, uint8_t& value);
  void Read_Z(int32_t fieldindex1, int32_t fieldindex2, int32_t& z1, int32_t& z2);

  int64_t Position() const;
  int64_t Size() const { return fTotalSize; }
  // Lines of a ".csv" file are split at commas only (SplitCsvText), those of
  // other files by the comma-text rule.
  // Where the last line read came from, for messages: the file's 0-based
  // index in the list and the line's 1-based number in it. A read past the
  // end counts as the next line of the last file. -1 and 0 before any read.
  int32_t LineFileIndex() const { return fLineFile; }
  int64_t LineNumber() const { return fLineNumber; }
  uint16_t CodePage() const { return FCodePage; }

private:
  void NextFile();
  // Moves to the next line's file and reads it into Line ("" past the end).
  void NextLine(std::string& Line);
  // Consumes one line into fFields; raises for a negative index afterwards.
  void ReadFields(int32_t fieldindex);
  const std::string* Field(int32_t fieldindex) const;
  int64_t ReadInteger(int32_t fieldindex);

  std::vector<std::string> fFiles;
  uint16_t FCodePage;
  int32_t fFileIndex = -1;
  std::unique_ptr<TTextFileReader> fFile;
  bool fEof = true;
  int64_t fFilesPosition = 0;
  int64_t fTotalSize = 0;
  int32_t fLineFile = -1;
  int64_t fLineNumber = 0;
  std::string fLine;
  std::vector<std::string> fFields;
  bool fCsvRule = false;  // the current file is a ".csv" table
};

}  // namespace kovra
