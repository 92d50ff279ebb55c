#include "import/kovra_importattributes.h"

#include <sys/stat.h>

#include "foundation/kovra_configfile.h"
#include "foundation/kovra_encryption.h"
#include "foundation/kovra_io.h"
#include "import/kovra_importattributes_column.h"
#include "network/kovra_network.h"
#include "platform/kovra_codepage.h"

namespace kovra {

namespace {

bool FileExists(const std::string& Name) {
  struct stat st {};
  return ::stat(Name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Writes one value of a value file through the per-value keystream step.
inline void WriteValue(TKvStream& Out, T32Encryption& Cipher, int32_t Bytes, int64_t Value) {
  if (Bytes == 2)
    Out.WriteUInt16(Cipher.Encode(uint16_t(Value)));
  else
    Out.WriteByte(Cipher.Encode(uint8_t(Value)));
}

}  // namespace

// ---------------------------------------------------------------------------
// The table column

TImportAttributes::TDbfColumn::TDbfColumn(const std::vector<std::string>& Files, uint16_t CodePage,
                                          int32_t FieldIndex, const std::string& FieldName)
    : fDbf(CodePage) {
  fDbf.Add(Files);
  fDbf.Open();
  if (!FieldName.empty()) {
    FieldIndex = fDbf.FindField(FieldName);
    if (FieldIndex < 0) throw EFieldNameNotFound(Format(cMsgFieldNotFound, FieldName));
  }
  if (FieldIndex < 0 || FieldIndex >= fDbf.FieldCount())
    throw EInvalidFieldIndex(Format(cMsgFieldNotValid, FieldIndex, fDbf.FieldCount() - 1));
  fField = FieldIndex;
}

bool TImportAttributes::TDbfColumn::NextText(std::string& Value) {
  if (fRecord >= fDbf.RecordCount()) return false;
  ++fRecord;
  Value = std::string(TrimView(fDbf.ReadString(fField, fRecord)));
  return true;
}

// ---------------------------------------------------------------------------
// TImportAttributes

TImportAttributes::TImportAttributes() : FCodePageCSV(GetSystemAnsiCodePage()) {}

TImportAttributes::~TImportAttributes() = default;

void TImportAttributes::Add(const std::string& filename) { ffiles.push_back(filename); }

void TImportAttributes::AddFiles(const std::vector<std::string>& files) {
  ffiles.insert(ffiles.end(), files.begin(), files.end());
}

void TImportAttributes::Clear() { ffiles.clear(); }

void TImportAttributes::SetLimitFileIndex(int32_t value) {
  if (value < 1 || value > 9) throw Exception(cMsgLimitFileIndex);
  FLimitFileIndex = value;
}

void TImportAttributes::SetRoadNameFileIndex(int32_t value) {
  if (value < 1 || value > 99) throw Exception(cMsgRoadNameFileIndex);
  FRoadNameFileIndex = value;
}

std::string TImportAttributes::LimitFileName() const {
  return Directory() + kovra::LimitFileName(FLimitFileIndex);
}

std::unique_ptr<TImportAttributes::TColumn> TImportAttributes::OpenColumn(int32_t fieldindex,
                                                                          const std::string& fieldname,
                                                                          TFileKind fk,
                                                                          uint16_t CsvCodePage) {
  if (ffiles.empty()) throw EFileMissing("Cannot find input file to import.");
  if (fk == fkCSV) {
    // A negative index would read outside the line's fields.
    if (fieldindex < 0) throw EInvalidFieldIndex(Format(cMsgNegativeFieldIndex, fieldindex));
    return std::make_unique<TCsvColumn>(ffiles, CsvCodePage, fieldindex);
  }
  return std::make_unique<TDbfColumn>(ffiles, FCodePageDbf, fieldindex, fieldname);
}

int32_t TImportAttributes::ExpectedLinkCount() const {
  if (!FileExists(Directory() + cConfigFileName)) return -1;
  return ReadConfig(Directory()).LinkCount;
}

int32_t TImportAttributes::ValueFileLinkCount() const {
  if (!FileExists(Directory() + cConfigFileName)) return -1;
  const TConfig config = ReadConfig(Directory());
  if (config.Encrypted && fEncryptionKey == 0) throw EEncryptedData(cMsgSupplyKey);
  if (!config.Encrypted && fEncryptionKey != 0) throw EEncryptedData(cMsgKeyForPlainNetwork);
  // Another key than the network's would write a value file that the network,
  // opened with its own key, reads scrambled: try the key on the network's
  // files first, which refuses a wrong one as opening does.
  if (config.Encrypted) {
    TNetwork trial;
    trial.SetDirectory(Directory());
    trial.SetEncryptionKey(fEncryptionKey);
    trial.Open(false, false, false, 0);
    trial.Close();
  }
  return config.LinkCount;
}

void TImportAttributes::CheckRecordCount(int64_t Count, int32_t Expected) {
  if (Expected >= 0 && Count != Expected) throw Exception(Format(cMsgRecordCount, Count, Expected));
}

void TImportAttributes::ExecuteValues(int32_t fieldindex, const std::string& fieldname, TFileKind fk,
                                      const std::string& Target, int32_t Bytes, int64_t Max,
                                      const char* RangeMessage) {
  FCancelled = false;
  CheckDirectory();
  const int32_t expected = ValueFileLinkCount();
  std::unique_ptr<TColumn> column = OpenColumn(fieldindex, fieldname, fk);
  // Tables tell their record count up front: refuse before writing anything.
  if (column->Records() >= 0) CheckRecordCount(column->Records(), expected);
  SetProgressMaxValue(column->Total());

  {
    // A cancel leaves the block without Commit: the temporary file goes.
    TFileReplacement out(Target);
    TKvStream& stream = out.Stream();
    T32Encryption cipher(fEncryptionKey);
    cipher.Restart();
    int64_t count = 0;
    int64_t value = 0;
    while (column->NextInteger(value)) {
      if (value < 0 || value > Max) throw EOutOfRange(RangeMessage);
      WriteValue(stream, cipher, Bytes, value);
      ++count;
      ProgressExecute(column->Position());
      if (FCancelled) break;
    }
    if (!FCancelled) {
      CheckRecordCount(count, expected);
      out.Commit();
    }
  }
  ProgressExecuteZero();
}

void TImportAttributes::ExecuteAttribute(int32_t fieldindex, const std::string& fieldname, TFileKind fk) {
  ExecuteValues(fieldindex, fieldname, fk, Directory() + cAttributeFileName, 2, 65535, cMsgAttributeRange);
}

void TImportAttributes::ExecuteLimit(int32_t fieldindex, const std::string& fieldname, TFileKind fk) {
  ExecuteValues(fieldindex, fieldname, fk, LimitFileName(), 1, 255, cMsgLimitRange);
}

void TImportAttributes::ExecuteAttributeEvent() {
  if (!OnReadAttribute) return;
  CheckDirectory();
  const int32_t expected = ValueFileLinkCount();
  T32Encryption cipher(fEncryptionKey);
  cipher.Restart();
  TFileReplacement out(Directory() + cAttributeFileName);
  TKvStream& stream = out.Stream();
  bool lastrecord = false;
  int64_t count = 0;
  for (int32_t link = 1; !lastrecord; ++link) {
    uint16_t value = 0;
    OnReadAttribute(this, link, value, lastrecord);
    stream.WriteUInt16(cipher.Encode(value));
    ++count;
  }
  CheckRecordCount(count, expected);
  out.Commit();
}

void TImportAttributes::ExecuteLimitEvent() {
  if (!OnReadLimit) return;
  CheckDirectory();
  const int32_t expected = ValueFileLinkCount();
  T32Encryption cipher(fEncryptionKey);
  cipher.Restart();
  TFileReplacement out(LimitFileName());
  TKvStream& stream = out.Stream();
  bool lastrecord = false;
  int64_t count = 0;
  for (int32_t link = 1; !lastrecord; ++link) {
    uint8_t value = 0;
    OnReadLimit(this, link, value, lastrecord);
    stream.WriteByte(cipher.Encode(value));
    ++count;
  }
  CheckRecordCount(count, expected);
  out.Commit();
}

}  // namespace kovra
