// TExternalID: the external id of every link (the identifier the road carried
// in the source data: an Int32, an Int64 or a text of fixed width) mapped to
// the link number and back, through "index1.bin" (the ids in link order) and
// "index2.bin" (the links in hash buckets, each bucket sorted by id).
//
// Text ids are UTF-16 here, as the files hold them: they hash and compare by
// code unit, and a stored id loses its padding (any unit up to U+0020, so
// blank and U+0000 padding both) at both ends before it is compared.
//
// The files come from the network directory or from caller streams, which are
// borrowed, never freed; position 0 of such a stream is the start of its file.
// Either file may be held in memory. Lookups are const and safe from any number
// of threads at once, so the networks of one family share a single reader.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "foundation/kovra_filebase.h"
#include "foundation/kovra_io.h"
#include "foundation/kovra_types.h"
#include "network/kovra_networkfile.h"

namespace kovra {

class TReadSource;

inline constexpr const char* cMsgExternalIDNotOpen = "External ID is not open";
inline constexpr const char* cMsgExternalIDRange = "Index should be from 1 to %d (is %d)";

// Byte 0 of the header of "index1.bin" for the two numeric kinds; any other
// value is the width of text ids in UTF-16 code units.
inline constexpr int32_t cExternalIDInt32 = 0;
inline constexpr int32_t cExternalIDInt64 = 255;

class TExternalID : public TFileBase {
public:
  TExternalID();
  // Either stream may be null: Open then reads that file from Directory.
  TExternalID(TKvStream* aStream1, TKvStream* aStream2);
  ~TExternalID() override;

  // Kind of id: cExternalIDInt32, cExternalIDInt64 or the text width.
  int32_t Stringlength() const { return fStringlength; }
  // Number of links in "index2.bin", the largest link FindExternalid takes.
  int32_t MaxIndex() const { return fMaxIndex; }
  // Number of hash buckets.
  int32_t NumRecords() const { return fNumRecords; }

  // Nothing when open. cache1 / cache2 hold "index1.bin" / "index2.bin" in
  // memory. Raises EFileMissing "File is missing: %s" for a missing file
  // (index1.bin first), EWrongFileSize or "Network file %s is corrupted (%s)"
  // for files that do not fit together; the reader then stays closed.
  void Open(bool cache1, bool cache2);

  // The link whose id is externalid: True with iindex set, else False with
  // iindex 0. Numeric kinds parse the text strictly ("0012" is 12; anything
  // else raises EConvertError "'%s' is not a valid integer value"); a text id
  // must match exactly (it is not trimmed). A bucket entry outside
  // 1..MaxIndex raises "Network file %s is corrupted (%s)".
  bool FindIndex(std::u16string_view externalid, int32_t& iindex) const;
  // The id of link iindex: the decimal form of a number, or the text without
  // its padding. EOutOfRange "Index should be from 1 to %d (is %d)" outside
  // 1..MaxIndex.
  std::u16string FindExternalid(int32_t iindex) const;

  // Lets go of the files; the caller's streams are left alone.
  void Close();

private:
  void CheckOpen() const;
  // The stored id of a link: a number, or the text without its padding, read
  // into Buffer (room for the width).
  int64_t ReadNumber(int32_t Link) const;
  std::u16string_view ReadText(int32_t Link, char16_t* Buffer) const;

  TKvStream* fCaller1 = nullptr;  // borrowed
  TKvStream* fCaller2 = nullptr;  // borrowed
  std::shared_ptr<TReadSource> fStream1;
  std::shared_ptr<TReadSource> fStream2;
  TInt64Array fPositions;  // first 4-byte slot of each bucket, then the end
  int32_t fNumRecords = 0;
  int32_t fMaxIndex = 0;
  int32_t fStringlength = 0;
};

}  // namespace kovra
