#include "network/kovra_networkfile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <mutex>
#include <unordered_set>

#include "foundation/kovra_configfile.h"
#include "foundation/kovra_functions.h"

namespace kovra {

std::string LimitFileName(int32_t FileNumber) { return "limit" + IntToStr(FileNumber) + ".bin"; }

std::string RoadNameFileName(int32_t FileNumber) { return "roadname" + IntToStrZeroPad(FileNumber) + ".bin"; }

std::string RoadNumberFileName(int32_t FileNumber) { return "roadnumber" + IntToStrZeroPad(FileNumber) + ".bin"; }

std::vector<std::string> NetworkDirectoryFileNames() {
  std::vector<std::string> names{cConfigFileName};
  names.insert(names.end(), std::begin(cImportedFileNames), std::end(cImportedFileNames));
  names.push_back(cAttributeFileName);
  for (int32_t n = 1; n <= cMaxLimitFile; ++n) names.push_back(LimitFileName(n));
  names.push_back(cIndex1FileName);
  names.push_back(cIndex2FileName);
  for (int32_t n = 1; n <= cMaxRoadNameFile; ++n) {
    names.push_back(RoadNameFileName(n));
    names.push_back(RoadNumberFileName(n));
  }
  return names;
}

bool IsNetworkDirectoryFileName(const std::string& Name) {
  static const std::unordered_set<std::string> names = [] {
    const std::vector<std::string> list = NetworkDirectoryFileNames();
    return std::unordered_set<std::string>(list.begin(), list.end());
  }();
  return names.count(Name) != 0;
}

void CheckFileExists(const std::string& FileName) {
  struct stat st {};
  if (stat(FileName.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) throw EFileMissing(Format(cMsgFileMissing, FileName));
}

void RaiseWrongFileSize(const std::string& Name, int64_t Size, int64_t Expected) {
  throw EWrongFileSize(Format(cMsgWrongFileSize, Name, Size, Expected));
}

void RaiseCorrupted(const std::string& Name, const std::string& Reason) {
  throw Exception(Format(cMsgNetworkFileCorrupted, Name, Reason));
}

void TReadSource::RaiseReadError() { throw EReadError(cMsgStreamReadError); }

namespace {

// pread leaves the descriptor's position alone, so threads need no lock.
class TFileSource final : public TReadSource {
public:
  TFileSource(std::unique_ptr<TKvFileStream> File, int64_t Size)
      : TReadSource(File->FileName(), Size), fFile(std::move(File)) {}

protected:
  void DoReadAt(int64_t Offset, void* Dst, int64_t Count) const override {
    if (Offset < 0 || Count < 0 || Offset > fSize - Count) RaiseReadError();
    auto* p = static_cast<uint8_t*>(Dst);
    while (Count > 0) {
      const ssize_t r = ::pread(fFile->Handle(), p, size_t(std::min<int64_t>(Count, 1 << 30)), off_t(Offset));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) RaiseReadError();
      p += r;
      Offset += r;
      Count -= r;
    }
  }

private:
  std::unique_ptr<TKvFileStream> fFile;
};

class TStreamSource final : public TReadSource {
public:
  TStreamSource(TKvStream& Stream, const std::string& Name) : TReadSource(Name, Stream.Size()), fStream(Stream) {}

protected:
  void DoReadAt(int64_t Offset, void* Dst, int64_t Count) const override {
    if (Offset < 0 || Count < 0 || Offset > fSize - Count) RaiseReadError();
    auto* p = static_cast<uint8_t*>(Dst);
    std::lock_guard<std::mutex> lock(fMutex);
    if (fStream.Seek(Offset, soBeginning) != Offset) RaiseReadError();
    while (Count > 0) {
      const int32_t n = int32_t(std::min<int64_t>(Count, 1 << 30));
      fStream.ReadBuffer(p, n);
      p += n;
      Count -= n;
    }
  }

private:
  TKvStream& fStream;
  mutable std::mutex fMutex;
};

class TMemorySource final : public TReadSource {
public:
  TMemorySource(std::vector<uint8_t> Bytes, const std::string& Name)
      : TReadSource(Name, int64_t(Bytes.size())), fBytes(std::move(Bytes)) {
    // Never null, so ReadAt always takes its inline path, an empty file too.
    static const uint8_t cEmpty = 0;
    fData = fBytes.empty() ? &cEmpty : fBytes.data();
  }

protected:
  void DoReadAt(int64_t, void*, int64_t) const override { RaiseReadError(); }

private:
  std::vector<uint8_t> fBytes;
};

}  // namespace

std::shared_ptr<TReadSource> TReadSource::OpenFile(const std::string& FileName) {
  auto file = std::make_unique<TKvFileStream>(FileName, fmOpenRead | fmShareDenyWrite);
  const int64_t size = file->Size();
  return std::make_shared<TFileSource>(std::move(file), size);
}

std::shared_ptr<TReadSource> TReadSource::Borrow(TKvStream& Stream, const std::string& Name) {
  return std::make_shared<TStreamSource>(Stream, Name);
}

std::shared_ptr<TReadSource> TReadSource::Memory(std::vector<uint8_t> Bytes, const std::string& Name) {
  return std::make_shared<TMemorySource>(std::move(Bytes), Name);
}

std::shared_ptr<TReadSource> TReadSource::Cache(const TReadSource& Source) {
  std::vector<uint8_t> bytes(size_t(Source.Size()));
  Source.ReadAt(0, bytes.data(), Source.Size());
  return Memory(std::move(bytes), Source.Name());
}

}  // namespace kovra
