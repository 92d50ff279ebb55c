// The per-link value files of a network directory, written after the
// geometry import: "attribute.bin" (one UInt16 per link), the limit files
// limit1.bin .. limit9.bin (one byte per link), the external-id index pair
// and the road-name pairs. Each Execute call writes one output, either from
// one column of the listed attribute tables (record i over all tables in list
// order belongs to link i) or from a read event answered link by link.
//
// Every table-driven output is checked before anything is created (tables
// open, field found and valid), written to "<name>.tmp" in Directory and
// renamed over the target only once complete: a failure, a cancel or a
// handler that raises removes the temporary file and leaves an existing
// target byte for byte as it was. When Directory holds "kovra_config.ini",
// the number of values must equal its link count, since the network reads
// exactly that many, and the attribute and limit files, whose values are
// enciphered, need a key exactly when the network is encrypted.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/kovra_filebase.h"
#include "foundation/kovra_types.h"
#include "network/kovra_roadnamefile.h"

namespace kovra {

class TFileReplacement;
class TKvStream;

// Which table reader a table-driven Execute uses.
enum class TFileKind : uint8_t {
  fkCSV,  // comma-separated text, ".csv" or ".mid", one record per line
  fkDBF   // dBASE ".dbf" or MapInfo native ".dat" tables
};
using enum TFileKind;

// Read events: sender, the link number, the value to fill in, and lastrecord
// to set on the call that delivers the last link.
using TAttributeReadEvent = std::function<void(TObject* Sender, int32_t link, uint16_t& attribute, bool& lastrecord)>;
using TLimitReadEvent = std::function<void(TObject* Sender, int32_t link, uint8_t& Limit, bool& lastrecord)>;
using TExternalIDReadIntEvent =
    std::function<void(TObject* Sender, int32_t link, int64_t& externalID, bool& lastrecord)>;
using TExternalIDReadStringEvent =
    std::function<void(TObject* Sender, int32_t link, std::string& externalID, bool& lastrecord)>;
using TRoadNameReadEvent = std::function<void(TObject* Sender, int32_t link, std::string& name, bool& lastrecord)>;

inline constexpr const char* cMsgLimitFileIndex = "Limit file index should be 1..9";
inline constexpr const char* cMsgRoadNameFileIndex = "Roadname file index should be 1..99";
inline constexpr const char* cMsgAttributeRange = "Attribute value out of range";
inline constexpr const char* cMsgLimitRange = "Limit value out of range";
inline constexpr const char* cMsgFieldNotFound = "Field %s not found";
inline constexpr const char* cMsgFieldNotValid = "Field %d not valid - should be 0..%d";
inline constexpr const char* cMsgNegativeFieldIndex = "Field %d not valid - should be 0 or more";
inline constexpr const char* cMsgMifMissing = "Corresponding MIF file is missing for MID file ";
inline constexpr const char* cMsgRoadNamePasses = "Number of road names differs between passes (%d, %d)";
inline constexpr const char* cMsgExternalIDNotUnique = "External ID is not unique";
inline constexpr const char* cMsgExternalIDWidth = "External ID width %d must be 1..254";
inline constexpr const char* cMsgExternalIDEmpty = "External ID of record %d is empty";
inline constexpr const char* cMsgKeyForPlainNetwork = "Network is not encrypted, no key may be given";

// One id of an integer external-id import: the id and its link.
struct TInt64Item {
  int64_t value = 0;
  int32_t index = 0;
};

// True when Count text ids of Width code units make index1.bin pass 2 GB, so
// that index2.bin keeps 64-bit bucket offsets (byte 1 of the header).
constexpr bool ExternalIDLargeOffsets(int64_t Count, int32_t Width) {
  return Width > 0 && Count * Width * 2 + 4 > 2147483647;
}

class TImportAttributes : public TFileBase {
public:
  TImportAttributes();
  ~TImportAttributes() override;
  TImportAttributes(const TImportAttributes&) = delete;
  TImportAttributes& operator=(const TImportAttributes&) = delete;

  // The input tables, in reading order; duplicates allowed. The list stays
  // between Execute calls.
  void Add(const std::string& filename);
  void AddFiles(const std::vector<std::string>& files);
  void Clear();
  const std::vector<std::string>& Files() const { return ffiles; }

  // "attribute.bin" from field fieldindex (0-based) or, for fkDBF, the field
  // named fieldname when that is not empty. Values 0..65535; a NULL DBF value
  // reads as 0.
  void ExecuteAttribute(int32_t fieldindex, const std::string& fieldname, TFileKind fk);
  // "attribute.bin" from OnReadAttribute; nothing happens without a handler.
  void ExecuteAttributeEvent();
  // limit<LimitFileIndex>.bin, values 0..255, as ExecuteAttribute.
  void ExecuteLimit(int32_t fieldindex, const std::string& fieldname, TFileKind fk);
  void ExecuteLimitEvent();

  // index1.bin and index2.bin: the external id of every link, and the links
  // in 256 hash buckets sorted by id. Integer ids (Int32, clamped to
  // +-2147483647, or Int64 with useint64) or text ids of a width W of 1..254
  // UTF-16 code units. A text id is keyed by its text trimmed, cut to W and
  // trimmed again: its bucket, its order and its uniqueness come from that
  // key, which is also what is stored (padded with U+0000) and what a reader
  // compares. A repeated id raises "External ID is not unique". Both files
  // are installed together, only when complete.
  void ExecuteExternalIDint(int32_t fieldindex, const std::string& fieldname, TFileKind fk, bool useint64);
  void ExecuteExternalIDintEvent(bool useint64);
  // W is the longest trimmed value of a CSV column (one extra pass) or the
  // declared width of a DBF field.
  void ExecuteExternalIDstring(int32_t fieldindex, const std::string& fieldname, TFileKind fk);
  void ExecuteExternalIDStringEvent(int32_t width);

  // Road-name pair RoadNameFileIndex ("roadnameNN.bin", "roadnumberNN.bin")
  // from one text column. fkCSV: for a .mid input, the matching .mif gives
  // the code page (its Charset replaces CodepageCSV) and, when fieldname is
  // not empty, the column by exact name without case. fkDBF: CodepageDbf and
  // the builder's field checks. Progress and cancel are the builder's, which
  // reports itself as sender; the pair is installed only when complete.
  void ExecuteRoadname(int32_t fieldindex, const std::string& fieldname, TFileKind fk);
  // The same pair from OnReadRoadName, called twice per link (two passes that
  // must give the same names in the same order). An empty name is stored as
  // " ", as the table builders store it.
  void ExecuteRoadnameEvent();

  uint16_t CodepageCSV() const { return FCodePageCSV; }
  void SetCodepageCSV(uint16_t value) { FCodePageCSV = value; }
  uint16_t CodepageDbf() const { return FCodePageDbf; }
  void SetCodepageDbf(uint16_t value) { FCodePageDbf = value; }
  int32_t LimitFileIndex() const { return FLimitFileIndex; }
  // 1..9, else raises and keeps the old value.
  void SetLimitFileIndex(int32_t value);
  int32_t RoadNameFileIndex() const { return FRoadNameFileIndex; }
  // 1..99, else raises and keeps the old value.
  void SetRoadNameFileIndex(int32_t value);

  TAttributeReadEvent OnReadAttribute;
  TLimitReadEvent OnReadLimit;
  TExternalIDReadIntEvent OnReadExternalIDInt;
  TExternalIDReadStringEvent OnReadExternalIDString;
  TRoadNameReadEvent OnReadRoadName;

protected:
  class TColumn;
  class TCsvColumn;
  class TDbfColumn;

  // The column of the listed tables, opened and checked (field name and
  // index) before any output exists. Raises EFileMissing for an empty list.
  // CsvCodePage: that of text tables (0 for integers, where it cannot matter).
  std::unique_ptr<TColumn> OpenColumn(int32_t fieldindex, const std::string& fieldname, TFileKind fk,
                                      uint16_t CsvCodePage = 0);
  // The link count of Directory's settings file, or -1 when there is none.
  int32_t ExpectedLinkCount() const;
  // The same for the enciphered value files (attribute and limits), whose
  // values a wrong key would scramble unseen: EEncryptedData "Network is
  // encrypted, supply a key" without a key for an encrypted network, and
  // cMsgKeyForPlainNetwork with a key for a plain one.
  int32_t ValueFileLinkCount() const;
  // Raises the record-count error unless Expected is -1 or equals Count.
  static void CheckRecordCount(int64_t Count, int32_t Expected);
  // The table-driven frame of the one-value-per-link files: Bytes 2 or 1
  // per value, values 0..Max.
  void ExecuteValues(int32_t fieldindex, const std::string& fieldname, TFileKind fk, const std::string& Target,
                     int32_t Bytes, int64_t Max, const char* RangeMessage);
  std::string LimitFileName() const;

  // The ids of one external-id run, flat: integer ids with their links, or
  // text keys of fWidth units each (link k at (k-1)*fWidth) with their buckets.
  void CreateIntBuckets();
  void CreateStringBuckets(int32_t Width);
  // Room for Count ids when known (Width 0: integer ids).
  void ReserveIds(int64_t Count, int32_t Width);
  void AddStringID(std::u16string_view Text, TKvStream& Index1);
  // Sorts by bucket and id, refuses a repeated id, then writes index2.bin
  // and installs both files (Index1 is the pending index1.bin). A cancel
  // while writing drops both.
  void WriteIntIndex(TFileReplacement& Index1);
  void WriteStringIndex(TFileReplacement& Index1);
  // The entries of index2.bin for Order (links by bucket and id), Buckets[i]
  // the bucket of Order[i].
  void WriteIndex2(TFileReplacement& Index1, const std::vector<int32_t>& Order, const std::vector<uint8_t>& Buckets,
                   bool Offsets64);

  std::vector<TInt64Item> bucketsI;
  std::vector<char16_t> bucketsS;  // the text keys, fWidth units each
  std::vector<uint8_t> fBucketOfLink;
  int32_t fWidth = 0;
  bool f2_Int64 = false;

  std::vector<std::string> ffiles;
  int32_t FLimitFileIndex = 1;
  int32_t FRoadNameFileIndex = 1;
  uint16_t FCodePageCSV = 1252;
  uint16_t FCodePageDbf = 0;
};

}  // namespace kovra
