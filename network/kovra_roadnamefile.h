// TRoadNameFile: one road-name pair of a network directory, number NN
// (01..99): "roadnameNN.bin" holds every distinct name once, in collation
// order (CompareRoadNames), as UTF-16LE records padded with zero bytes to the
// width W of the longest; "roadnumberNN.bin" holds one Int32 per link, the
// 1-based record of the link's name. Neither file is enciphered.
//
// Building (Import1 from comma-separated text, Import2 from DBF/DAT tables)
// reads the column twice: the distinct names first, then the record number of
// every link. Both files are written under temporary names ("....bin.tmp") and
// renamed over the old pair only when the second pass is complete: an error
// or a cancel deletes the temporary files, so the old pair survives.
//
// Reading: the number file is held in memory; the name file is held in memory
// (Cache) or read at offsets (pread), so lookups from any number of threads
// need no lock, and clones share the bytes or the open file. Names are UTF-8
// in this interface and UTF-16 in the files.
//
// The name records must ascend under our collation for the binary search by
// name. A pair sorted by another collation (another system, another ICU) is
// found out while Load decodes the records, and lookups by name then go
// through a sorted permutation of the records (4 bytes per name).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/kovra_io.h"
#include "foundation/kovra_progress.h"
#include "foundation/kovra_types.h"
#include "network/kovra_networkfile.h"

namespace kovra {

class TReadSource;

inline constexpr const char* cMsgNoInputFiles = "Cannot find input file to import.";
inline constexpr const char* cMsgFieldIndexOutOfBound = "FieldIndex out of bound";
inline constexpr const char* cMsgFieldNameNotFound = "Field Name not found";
inline constexpr const char* cMsgInvalidFieldType = "Invalid field type";
inline constexpr const char* cMsgRoadNameLinkCount =
    "LinkCount parameter value and links in the roadname file is different";
inline constexpr const char* cMsgRoadNameFileMissing = "%s does not exist";
inline constexpr const char* cMsgRoadNameFileNotOpen = "Roadnamefile %d is not open";
// A column whose length is not the network's link count (the attribute import
// uses the same text for its value files).
inline constexpr const char* cMsgRecordCount = "Number of records (%d) differs from the number of links (%d)";

class TRoadNameFile : public TProgressCancel {
public:
  TRoadNameFile();
  // Load reads the pair from these streams instead of the directory (either
  // may be null: that file comes from the directory). The streams are
  // borrowed and must outlive the reader and its clones; position 0 is the
  // start of the file.
  TRoadNameFile(TKvStream* aNumberStream, TKvStream* aNameStream);
  ~TRoadNameFile() override;
  TRoadNameFile(const TRoadNameFile&) = delete;
  TRoadNameFile& operator=(const TRoadNameFile&) = delete;

  // Builds pair FileNumber in Directory (which ends with a path delimiter)
  // from field FieldIndex (0-based) of every line of the comma-separated text
  // Files, read in code page CodePage as one sequence; line k is link k. An
  // empty value is stored as " ". Progress 0..40 over the bytes of the first
  // pass, 41..100 over the second. Raises EFileMissing "Cannot find input
  // file to import." for no files, what the text reader raises, and what
  // TStringTree raises (a file past 2 GB, a name the second pass did not meet
  // in the first).
  void Import1(const std::vector<std::string>& Files, const std::string& Directory, uint16_t CodePage,
               int32_t FileNumber, int32_t FieldIndex);
  // The same from DBF or DAT tables of one structure read as one record
  // sequence (CodePage 0: the tables' own); progress by record. The column is
  // the field named FieldName when that is not empty (EFieldNameNotFound
  // "Field Name not found"), else field FieldIndex, which must lie in
  // 0..FieldCount-1 (EInvalidFieldIndex "FieldIndex out of bound"); it must
  // be a character field (EInvalidFieldType "Invalid field type").
  void Import2(const std::vector<std::string>& Files, const std::string& Directory, uint16_t CodePage,
               int32_t FileNumber, int32_t FieldIndex, const std::string& FieldName);

  // When 0 or more, Import1 and Import2 raise Exception "Number of records
  // (%d) differs from the number of links (%d)" after the first pass, before
  // any file is written, for a column of another number of values. -1 (the
  // default) checks nothing.
  int32_t ExpectedCount() const { return fExpectedCount; }
  void SetExpectedCount(int32_t value) { fExpectedCount = value; }

  // Opens pair FileNumber of Directory; Cache holds the name file in memory.
  // StartKey has no effect (the pair is never enciphered). Raises
  // EFileMissing "<path> does not exist" for a missing number file, then for
  // a missing name file; EInvalidParameter "LinkCount parameter value and
  // links in the roadname file is different"; and Exception "Network file %s
  // is corrupted (%s)" for a pair that cannot be read: a number file of
  // partial values, without values or with one below 1, a name file that is
  // not N records of an even width of at least 2 bytes (N the largest
  // number). A refused pair leaves the reader closed.
  void Load(const std::string& Directory, bool Cache, int32_t StartKey, int32_t FileNumber, int32_t LinkCount);

  // The name of link LinkID (1..link count, not checked here: the network checks it).
  std::string RoadName1(int32_t LinkID) const;
  // The name with id ARoadNameID (1..MaxRoadNameID), without leading and
  // trailing characters up to U+0020 (the padding with them). An id outside
  // the file raises EReadError "Stream read error".
  std::string RoadName2(int32_t ARoadNameID) const;
  // The name id of link LinkID (not checked).
  int32_t RoadNameID1(int32_t LinkID) const;
  // The id of the record equal to roadname, or -1. The record is compared
  // with only its zero units removed, not trimmed like RoadName2's result: a
  // stored name with outer blanks is found only with those blanks.
  int32_t RoadNameID2(std::string_view roadname, bool ignorecase) const;

  // Makes v, a reader of its own, a copy of this loaded one that shares the
  // name file's bytes or open file; v is closed first.
  void Clone(TRoadNameFile& v) const;
  void Close();

  bool IsOpen() const { return FOpen; }
  // The number of names N: the largest value of the number file.
  int32_t MaxRoadNameID() const { return FMaxRoadNameID; }
  // The record width W in bytes.
  int32_t MaxRoadNameLength() const { return FMaxRoadNameLength; }
  // The largest number of UTF-8 bytes of a name as RoadName2 gives it.
  int32_t MaxRoadNameLengthUTF8() const { return FMaxRoadNameLengthUTF8; }

private:
  class TInput;
  class TCsvInput;
  class TDbfInput;
  void Build(TInput& Input, const std::string& Directory, int32_t FileNumber);
  // Checks the record order and sets fOrder when the records do not ascend.
  void DecodeRecords();

  int32_t fExpectedCount = -1;
  TKvStream* fCallerNumber = nullptr;  // borrowed
  TKvStream* fCallerName = nullptr;    // borrowed
  bool FOpen = false;
  int32_t fFileNumber = 0;
  TIntegerArray FRoadNumberArray;
  int32_t FMaxRoadNameID = 0;
  int32_t FMaxRoadNameLength = 0;
  int32_t FMaxRoadNameLengthUTF8 = 0;
  std::shared_ptr<TReadSource> FRoadNameFile;
  // Record of each rank in our order, when the records do not ascend; null otherwise.
  std::shared_ptr<const std::vector<int32_t>> fOrder;
};

}  // namespace kovra
