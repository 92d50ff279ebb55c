// Building a road-name pair from a column of text or DBF tables in two passes.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "foundation/kovra_csvfiles.h"
#include "foundation/kovra_dbffiles.h"
#include "network/kovra_roadnamefile.h"
#include "network/kovra_stringtree.h"

namespace kovra {

// The column being read, one value per link, from its start in each pass.
class TRoadNameFile::TInput {
public:
  virtual ~TInput() = default;
  // What progress counts up to.
  virtual double Total() const = 0;
  // Back to the first value (the input is open after construction).
  virtual void Restart() = 0;
  // The next value; false at the end.
  virtual bool Next(std::string& Value) = 0;
  virtual double Position() const = 0;
};

class TRoadNameFile::TCsvInput final : public TInput {
public:
  TCsvInput(const std::vector<std::string>& Files, uint16_t CodePage, int32_t FieldIndex)
      : fFiles(Files), fCodePage(CodePage), fFieldIndex(FieldIndex) {
    Restart();
    fTotal = double(fCsv->Size());
  }
  double Total() const override { return fTotal; }
  void Restart() override {
    fCsv.reset();  // the files of one pass are closed before the next opens them
    fCsv = std::make_unique<TCSVFiles>(fCodePage);
    fCsv->Add(fFiles);
    fCsv->Open();
  }
  bool Next(std::string& Value) override {
    if (fCsv->Eof()) return false;
    fCsv->Read(fFieldIndex, Value);
    return true;
  }
  double Position() const override { return double(fCsv->Position()); }

private:
  const std::vector<std::string>& fFiles;
  uint16_t fCodePage;
  int32_t fFieldIndex;
  double fTotal = 0;
  std::unique_ptr<TCSVFiles> fCsv;
};

class TRoadNameFile::TDbfInput final : public TInput {
public:
  TDbfInput(const std::vector<std::string>& Files, uint16_t CodePage, int32_t FieldIndex,
            const std::string& FieldName)
      : fDbf(CodePage) {
    fDbf.Add(Files);
    fDbf.Open();
    if (!FieldName.empty()) {
      fField = fDbf.FindField(FieldName);
      if (fField < 0) throw EFieldNameNotFound(cMsgFieldNameNotFound);
    } else {
      // Field -1 or FieldCount would read as empty values, a pair of blank names.
      if (FieldIndex < 0 || FieldIndex >= fDbf.FieldCount()) throw EInvalidFieldIndex(cMsgFieldIndexOutOfBound);
      fField = FieldIndex;
    }
    if (fDbf.FieldInfo(fField).FieldType != gfChar) throw EInvalidFieldType(cMsgInvalidFieldType);
  }
  double Total() const override { return double(fDbf.RecordCount()); }
  void Restart() override { fRecord = 0; }
  bool Next(std::string& Value) override {
    if (fRecord >= fDbf.RecordCount()) return false;
    Value = fDbf.ReadString(fField, ++fRecord);
    return true;
  }
  double Position() const override { return double(fRecord); }

private:
  TDbfFiles fDbf;
  int32_t fField = 0;
  int32_t fRecord = 0;
};

namespace {

// The new pair under temporary names beside the old one. Commit renames both
// over it; until then, and whenever Commit does not finish, the destructor
// removes what is left of the temporary files.
class TPairReplacement {
public:
  TPairReplacement(const std::string& Directory, int32_t FileNumber)
      : fTarget{Directory + RoadNameFileName(FileNumber), Directory + RoadNumberFileName(FileNumber)} {}
  TPairReplacement(const TPairReplacement&) = delete;
  TPairReplacement& operator=(const TPairReplacement&) = delete;
  ~TPairReplacement() {
    fStream.reset();
    for (const std::string& t : fTarget) std::remove(Temp(t).c_str());
  }

  // File 0 the names, 1 the numbers; the one opened before is completed first.
  TKvStream& Create(int File) {
    Complete();
    fStream = std::make_unique<TKvBufferedStream>(new TKvFileStream(Temp(fTarget[File]), fmCreate), true);
    return *fStream;
  }
  void Complete() {
    if (!fStream) return;
    fStream->Close();
    fStream.reset();
  }
  void Commit() {
    Complete();
    for (const std::string& t : fTarget)
      if (std::rename(Temp(t).c_str(), t.c_str()) != 0)
        throw EFCreateError(Format(cMsgFCreateError, t, std::strerror(errno)));
  }

private:
  static std::string Temp(const std::string& Target) { return Target + ".tmp"; }

  std::string fTarget[2];
  std::unique_ptr<TKvBufferedStream> fStream;
};

}  // namespace

void TRoadNameFile::Import1(const std::vector<std::string>& Files, const std::string& Directory, uint16_t CodePage,
                            int32_t FileNumber, int32_t FieldIndex) {
  if (Files.empty()) throw EFileMissing(cMsgNoInputFiles);
  TCsvInput input(Files, CodePage, FieldIndex);
  Build(input, Directory, FileNumber);
}

void TRoadNameFile::Import2(const std::vector<std::string>& Files, const std::string& Directory, uint16_t CodePage,
                            int32_t FileNumber, int32_t FieldIndex, const std::string& FieldName) {
  if (Files.empty()) throw EFileMissing(cMsgNoInputFiles);
  TDbfInput input(Files, CodePage, FieldIndex, FieldName);
  Build(input, Directory, FileNumber);
}

void TRoadNameFile::Build(TInput& Input, const std::string& Directory, int32_t FileNumber) {
  TStringTree tree;
  std::string value;
  std::u16string name;
  // One pass over the input, cancel checked before each value.
  auto pass = [&](auto&& use) {
    while (!Cancelled() && Input.Next(value)) {
      if (value.empty()) value = " ";
      name = ToUtf16(value);
      use(name);
      ProgressExecute(Input.Position());
    }
  };
  try {
    TPairReplacement pair(Directory, FileNumber);
    SetProgressMaxValue(Input.Total());
    ProgressExecuteZero();
    SetProgressStart(0);
    SetProgressStop(40);
    int64_t values = 0;
    pass([&](const std::u16string& n) {
      tree.Add(n);
      ++values;
    });
    if (!Cancelled() && fExpectedCount >= 0 && values != fExpectedCount)
      throw Exception(Format(cMsgRecordCount, values, fExpectedCount));
    if (!Cancelled()) {
      tree.CreateID();
      tree.Write(pair.Create(0));
      TKvStream& numbers = pair.Create(1);
      SetProgressStart(41);
      SetProgressStop(100);
      Input.Restart();
      pass([&](const std::u16string& n) { tree.WriteKeyID(numbers, n); });
      if (!Cancelled()) pair.Commit();
    }
  } catch (...) {
    // The failure is what the caller hears of, not one of the handler's.
    try {
      ProgressExecuteZero();
    } catch (...) {
    }
    throw;
  }
  ProgressExecuteZero();
}

}  // namespace kovra
