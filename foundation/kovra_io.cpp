#include "foundation/kovra_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>

#include "platform/kovra_codepage.h"

namespace kovra {

namespace {

std::string AbsoluteName(const std::string& name) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(std::filesystem::path(name), ec);
  return ec ? name : p.string();
}

std::string ErrorText(int err) { return std::strerror(err); }

// target = base + offset, or false when it does not fit in 64 bits.
bool AddOffset(int64_t base, int64_t offset, int64_t& target) {
  return !__builtin_add_overflow(base, offset, &target);
}

}  // namespace

// ---------------------------------------------------------------------------
// TKvStream

int64_t TKvStream::GetSize() {
  int64_t p = Seek(0, soCurrent);
  int64_t size = Seek(0, soEnd);
  Seek(p, soBeginning);
  return size;
}

void TKvStream::ReadBuffer(void* Buffer, int32_t Count) {
  if (Count <= 0) return;
  auto* p = static_cast<uint8_t*>(Buffer);
  int32_t n = std::max(Read(p, Count), 0);
  while (n < Count) {
    int32_t r = Read(p + n, Count - n);
    if (r <= 0) throw EReadError(cMsgStreamReadError);
    n += r;
  }
}

void TKvStream::WriteBuffer(const void* Buffer, int32_t Count) {
  if (Count <= 0) return;
  auto* p = static_cast<const uint8_t*>(Buffer);
  int32_t n = std::max(Write(p, Count), 0);
  while (n < Count) {
    int32_t r = Write(p + n, Count - n);
    if (r <= 0) RaiseWriteError(*this);
    n += r;
  }
}

void TKvStream::WriteValueSlow(const void* Buffer, int32_t Count) {
  // A short write of a typed value would otherwise lose data silently on an
  // unbuffered stream (disk full, I/O error).
  if (Write(Buffer, Count) < Count) RaiseWriteError(*this);
}

std::string TKvStream::ReadString(int32_t ASize) {
  if (ASize <= 0) return std::string();
  std::string bytes(static_cast<size_t>(ASize), '\0');
  ReadBuffer(bytes.data(), ASize);
  // Code page 0: the system ANSI code page.
  return CodePageToString(bytes, 0);
}

void RaiseReadError(const TKvStream& Stream) {
  const TKvStream* s = &Stream;
  while (auto* d = dynamic_cast<const TKvStreamDecorator*>(s)) {
    if (d->InnerStream() == nullptr) break;
    s = d->InnerStream();
  }
  const std::string text = ErrorText(Stream.LastError());
  if (auto* file = dynamic_cast<const TKvFileStream*>(s))
    throw EReadError(Format(cMsgFReadError, AbsoluteName(file->FileName()), text));
  throw EReadError(std::string(cMsgStreamReadError) + ". " + text);
}

void RaiseWriteError(const TKvStream& Stream) {
  const TKvStream* s = &Stream;
  while (auto* d = dynamic_cast<const TKvStreamDecorator*>(s)) {
    if (d->InnerStream() == nullptr) break;
    s = d->InnerStream();
  }
  const int err = Stream.LastError();
  if (auto* file = dynamic_cast<const TKvFileStream*>(s))
    throw EWriteError(Format(cMsgFWriteError, AbsoluteName(file->FileName()),
                             err != 0 ? ErrorText(err) : std::string("The file refused the data")));
  if (err != 0) throw EWriteError(std::string(cMsgStreamWriteError) + ". " + ErrorText(err));
  throw EWriteError(cMsgStreamWriteError);
}

// ---------------------------------------------------------------------------
// TKvHandleStream

TKvHandleStream::TKvHandleStream(int AHandle) : FHandle(AHandle) {}

void TKvHandleStream::SetSize(int64_t NewSize) {
  if (::ftruncate(FHandle, off_t(NewSize)) != 0 || ::lseek(FHandle, off_t(NewSize), SEEK_SET) < 0)
    throw EOSError(ErrorText(errno));
}

int64_t TKvHandleStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  int whence;
  switch (Origin) {
    case soBeginning: whence = SEEK_SET; break;
    case soCurrent: whence = SEEK_CUR; break;
    case soEnd: whence = SEEK_END; break;
    default: return -1;
  }
  const off_t r = ::lseek(FHandle, off_t(Offset), whence);
  if (r < 0) FLastError = errno;
  return int64_t(r);
}

int32_t TKvHandleStream::Read(void* Buffer, int32_t Count) {
  FLastError = 0;
  if (Count <= 0) return 0;
  for (;;) {
    ssize_t r = ::read(FHandle, Buffer, size_t(Count));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) FLastError = errno;
    return r < 0 ? 0 : int32_t(r);
  }
}

int32_t TKvHandleStream::Write(const void* Buffer, int32_t Count) {
  FLastError = 0;
  if (Count <= 0) return 0;
  for (;;) {
    ssize_t r = ::write(FHandle, Buffer, size_t(Count));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) FLastError = errno;
    return r < 0 ? 0 : int32_t(r);
  }
}

// ---------------------------------------------------------------------------
// TKvFileStream

TKvFileStream::TKvFileStream(const std::string& AFileName, uint16_t Mode)
    : TKvFileStream(AFileName, Mode, 0) {}

TKvFileStream::TKvFileStream(const std::string& AFileName, uint16_t Mode, uint32_t Rights)
    : TKvHandleStream(-1), FFileName(AFileName) {
  const bool create = Mode >= fmCreate;
  auto fail = [&](int err) {
    if (create) throw EFCreateError(Format(cMsgFCreateError, AbsoluteName(AFileName), ErrorText(err)));
    throw EFOpenError(Format(cMsgFOpenError, AbsoluteName(AFileName), ErrorText(err)));
  };
  int fd;
  if (create) {
    mode_t perms = Rights == 0 ? 0666 : mode_t(Rights & 07777);
    fd = ::open(AFileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, perms);
  } else {
    static constexpr int cAccess[3] = {O_RDONLY, O_WRONLY, O_RDWR};
    // Sharing bits are accepted and ignored: Linux has no share modes.
    const int access = Mode & 3;
    if (access == 3) fail(EINVAL);
    fd = ::open(AFileName.c_str(), cAccess[access] | O_CLOEXEC);
  }
  if (fd < 0) fail(errno);
  // Linux opens a directory for reading and then reads nothing: refuse it.
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    throw EFOpenError(Format(cMsgFOpenError, AbsoluteName(AFileName), ErrorText(EISDIR)));
  }
  FHandle = fd;
}

TKvFileStream::~TKvFileStream() {
  if (FHandle >= 0) ::close(FHandle);
}

void TKvFileStream::Close() {
  if (FHandle < 0) return;
  int r = ::close(FHandle);
  int err = errno;
  // The descriptor is gone even when close fails (Linux never keeps it).
  FHandle = -1;
  // A delayed write error (a full disk on a network file system) shows here.
  if (r != 0 && err != EINTR) throw EWriteError(Format(cMsgFWriteError, AbsoluteName(FFileName), ErrorText(err)));
}

// ---------------------------------------------------------------------------
// TKvMemoryStream

TKvMemoryStream::~TKvMemoryStream() { Clear(); }

void TKvMemoryStream::SyncIn() {
  if (FFastCur == nullptr) return;
  FPosition = FFastCur - FMemory;
  // Fast writes run on from a position inside the data, so they extend it
  // exactly to where they stopped.
  if (FFastWriting && FPosition > FSize) FSize = FPosition;
  ClearFast();
}

void TKvMemoryStream::SyncOut(bool Writing) {
  ClearFast();
  if (FMemory == nullptr || FPosition < 0 || FPosition > FSize) return;
  FFastCur = FMemory + FPosition;
  if (Writing) {
    FFastDataEnd = FFastCur;
    FFastLimit = FMemory + FCapacity;
    FFastWriting = true;
  } else {
    FFastDataEnd = FMemory + FSize;
    FFastLimit = FFastCur;
  }
}

void* TKvMemoryStream::Realloc(int64_t& NewCapacity) {
  constexpr int64_t cDelta = 8192;
  if (NewCapacity < 0) throw EStreamError(cMsgMemoryStreamError);
  if (NewCapacity > 0 && NewCapacity != FSize) {
    if (NewCapacity > std::numeric_limits<int64_t>::max() - (cDelta - 1))
      throw EStreamError(cMsgMemoryStreamError);
    NewCapacity = (NewCapacity + (cDelta - 1)) & ~(cDelta - 1);
  }
  if (NewCapacity == FCapacity) return FMemory;
  if (NewCapacity == 0) {
    std::free(FMemory);
    return nullptr;
  }
  if (uint64_t(NewCapacity) > uint64_t(std::numeric_limits<ptrdiff_t>::max()))
    throw EStreamError(cMsgMemoryStreamError);
  void* p = std::realloc(FMemory, size_t(NewCapacity));
  if (p == nullptr) throw EStreamError(cMsgMemoryStreamError);
  return p;
}

void TKvMemoryStream::SetCapacity(int64_t NewCapacity) {
  void* p = Realloc(NewCapacity);
  FMemory = static_cast<uint8_t*>(p);
  FCapacity = NewCapacity;
}

void TKvMemoryStream::SetSize(int64_t NewSize) {
  SyncIn();
  const int64_t oldSize = FSize;
  const int64_t oldPosition = FPosition;
  try {
    SetCapacity(NewSize);
  } catch (...) {
    SyncOut();
    throw;
  }
  // The block may hold anything past the old size: new bytes are 0.
  if (NewSize > oldSize) std::memset(FMemory + oldSize, 0, size_t(NewSize - oldSize));
  FSize = NewSize;
  if (oldPosition > NewSize) FPosition = NewSize;
  SyncOut();
}

int64_t TKvMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  SyncIn();
  int64_t target;
  bool ok;
  switch (Origin) {
    case soBeginning: target = Offset; ok = true; break;
    case soCurrent: ok = AddOffset(FPosition, Offset, target); break;
    case soEnd: ok = AddOffset(FSize, Offset, target); break;
    default: ok = false; break;
  }
  if (ok) FPosition = target;
  SyncOut();
  return ok ? FPosition : -1;
}

int32_t TKvMemoryStream::Read(void* Buffer, int32_t Count) {
  SyncIn();
  int32_t n = 0;
  if (FPosition >= 0 && Count > 0 && FPosition < FSize) {
    n = int32_t(std::min<int64_t>(Count, FSize - FPosition));
    std::memcpy(Buffer, FMemory + FPosition, size_t(n));
    FPosition += n;
  }
  SyncOut();
  return n;
}

int32_t TKvMemoryStream::Write(const void* Buffer, int32_t Count) {
  SyncIn();
  int64_t end = 0;
  if (FPosition < 0 || Count < 0) {
    SyncOut();
    return 0;
  }
  if (!AddOffset(FPosition, Count, end)) {
    // Only a position near 2^63 gets here: the block cannot grow that far.
    SyncOut();
    throw EStreamError(cMsgMemoryStreamError);
  }
  if (end <= 0) {
    SyncOut();
    return 0;
  }
  if (end > FSize) {
    if (end > FCapacity) {
      try {
        SetCapacity(end);
      } catch (...) {
        SyncOut();
        throw;
      }
    }
    // A write past the end leaves no uninitialised gap.
    if (FPosition > FSize) std::memset(FMemory + FSize, 0, size_t(FPosition - FSize));
    FSize = end;
  }
  if (Count > 0) std::memcpy(FMemory + FPosition, Buffer, size_t(Count));
  FPosition = end;
  SyncOut(true);
  return Count;
}

void TKvMemoryStream::Clear() {
  ClearFast();
  std::free(FMemory);
  FMemory = nullptr;
  FCapacity = 0;
  FSize = 0;
  FPosition = 0;
}

void TKvMemoryStream::LoadFromStream(TKvStream* Stream) {
  Stream->SetPosition(0);
  int64_t count = Stream->Size();
  SetSize(count);
  uint8_t* p = FMemory;
  while (count > 0) {
    int32_t n = int32_t(std::min<int64_t>(count, INT32_MAX));
    Stream->ReadBuffer(p, n);
    p += n;
    count -= n;
  }
}

void TKvMemoryStream::SaveToStream(TKvStream* Stream) {
  SyncIn();
  SyncOut();
  const uint8_t* p = FMemory;
  int64_t count = FSize;
  while (count > 0) {
    int32_t n = int32_t(std::min<int64_t>(count, INT32_MAX));
    Stream->WriteBuffer(p, n);
    p += n;
    count -= n;
  }
}

void TKvMemoryStream::LoadFromFile(const std::string& FileName) {
  TKvFileStream file(FileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(&file);
  file.Close();
}

void TKvMemoryStream::SaveToFile(const std::string& FileName) {
  TKvFileStream file(FileName, fmCreate);
  SaveToStream(&file);
  file.Close();
}

// ---------------------------------------------------------------------------
// TKvStreamDecorator

TKvStreamDecorator::TKvStreamDecorator(TKvStream* AStream, bool AOwnsStream)
    : FOwnsStream(AOwnsStream), FStream(AStream) {}

TKvStreamDecorator::TKvStreamDecorator(std::unique_ptr<TKvStream> AStream)
    : FOwnsStream(true), FStream(AStream.release()) {}

TKvStreamDecorator::~TKvStreamDecorator() {
  if (FOwnsStream) delete FStream;
}

void TKvStreamDecorator::SetSize(int64_t NewSize) {
  if (FStream != nullptr) FStream->SetSize(NewSize);
}

int64_t TKvStreamDecorator::Seek(int64_t Offset, TSeekOrigin Origin) {
  if (FStream == nullptr) throw EStreamError("Cannot seek: the stream has no inner stream");
  return FStream->Seek(Offset, Origin);
}

int32_t TKvStreamDecorator::Read(void* Buffer, int32_t Count) {
  return FStream != nullptr ? FStream->Read(Buffer, Count) : 0;
}

int32_t TKvStreamDecorator::Write(const void* Buffer, int32_t Count) {
  return FStream != nullptr ? FStream->Write(Buffer, Count) : 0;
}

void TKvStreamDecorator::Close() {
  if (FOwnsStream && FStream != nullptr) FStream->Close();
}

// ---------------------------------------------------------------------------
// TKvBufferedStream
//
// The window fields are the state; while the fast pointers are set they run
// ahead of FPosition, FBufferCurrentSize and FBufferMaxModifiedPos. Every
// virtual operation first takes the pointers back into the fields (SyncIn,
// which clears them), works on the fields only, and finally derives the
// pointers again (SyncOut).

TKvBufferedStream::TKvBufferedStream(TKvStream* AStream, bool AOwnsStream, int32_t ABufferSize)
    : TKvStreamDecorator(AStream, AOwnsStream) {
  FBufferSize = ABufferSize;
  Init();
}

TKvBufferedStream::TKvBufferedStream(std::unique_ptr<TKvStream> AStream, int32_t ABufferSize)
    : TKvStreamDecorator(std::move(AStream)) {
  FBufferSize = ABufferSize;
  Init();
}

// When this raises, the decorator's destructor frees an owned inner stream
// once; the window holds nothing to flush yet.
void TKvBufferedStream::Init() {
  FPosition = FStream != nullptr ? std::max<int64_t>(FStream->Position(), 0) : 0;
  DoFillBuffer();
  SyncOut();
}

TKvBufferedStream::~TKvBufferedStream() {
  SyncIn();
  try {
    DoFlush();
  } catch (...) {
    // Destructors never throw; Close reports this failure on the normal path.
  }
}

void TKvBufferedStream::SyncIn() {
  if (FFastCur == nullptr) return;
  const int32_t off = int32_t(FFastCur - FBuffer.data());
  FPosition = FBufferStart + off;
  // Fast writes run on from a position inside the data and right after a
  // write (so at or below FBufferMaxModifiedPos): they end both where they stopped.
  if (FFastWriting) {
    if (off > FBufferCurrentSize) FBufferCurrentSize = off;
    if (off > FBufferMaxModifiedPos) FBufferMaxModifiedPos = off;
  }
  ClearFast();
}

void TKvBufferedStream::SyncOut(bool Writing) {
  ClearFast();
  // No fast write may carry the position past the Int64 range.
  const int64_t len = std::min(int64_t(FBuffer.size()), std::numeric_limits<int64_t>::max() - FBufferStart);
  const int64_t off = FPosition - FBufferStart;
  if (len == 0 || FPosition < FBufferStart || off > len) return;
  uint8_t* base = FBuffer.data();
  FFastCur = base + off;
  if (off > FBufferCurrentSize) {
    // Past the data: reads and writes take the slow path (a gap to zero-fill).
    FFastDataEnd = FFastLimit = FFastCur;
  } else if (Writing) {
    FFastDataEnd = FFastCur;
    FFastLimit = base + len;
    FFastWriting = true;
  } else {
    FFastDataEnd = base + FBufferCurrentSize;
    FFastLimit = FFastCur;
  }
}

int64_t TKvBufferedStream::DoGetLogicalSize() {
  int64_t inner = FStream != nullptr ? FStream->Size() : 0;
  if (inner < 0) throw EStreamError(cMsgStreamSizeError);
  // A clean window adds nothing: it may sit past the end after a read there
  // or after SetSize cut the stream below it.
  if (FBufferMaxModifiedPos <= 0) return inner;
  return std::max(inner, FBufferStart + FBufferMaxModifiedPos);
}

void TKvBufferedStream::SeekInner(int64_t Pos) {
  // An ignored refusal would read old bytes as new ones, or write the window
  // over other data.
  if (FStream->Seek(Pos, soBeginning) != Pos) throw EStreamError(Format(cMsgStreamSeekError, Pos));
}

void TKvBufferedStream::DoFlush() {
  if (FStream == nullptr || FBufferMaxModifiedPos <= 0) return;
  SeekInner(FBufferStart);
  FStream->WriteBuffer(FBuffer.data(), FBufferMaxModifiedPos);
  FBufferMaxModifiedPos = 0;
}

bool TKvBufferedStream::DoFillBuffer() {
  DoFlush();
  // A window of at least one byte, so a write always makes progress.
  const int32_t len = std::max(FBufferSize, 1);
  // The window stays as it was (clean after the flush) until the inner
  // stream stands at the position.
  if (FStream != nullptr) SeekInner(FPosition);
  FBufferCurrentSize = 0;
  FBufferStart = FPosition;
  if (FBuffer.size() != size_t(len)) FBuffer.Reset(size_t(len));
  if (FStream != nullptr) {
    const int32_t got = FStream->Read(FBuffer.data(), len);
    // A descriptor opened for writing only reads nothing (EBADF): its window
    // starts empty, as the window of a new file does.
    if (got <= 0 && FStream->LastError() != 0 && FStream->LastError() != EBADF) RaiseReadError(*FStream);
    FBufferCurrentSize = std::max(got, 0);
  }
  return FBufferCurrentSize > 0;
}

int64_t TKvBufferedStream::GetLogicalSize() {
  SyncIn();
  int64_t size = DoGetLogicalSize();
  SyncOut();
  return size;
}

bool TKvBufferedStream::FillBuffer() {
  SyncIn();
  bool result;
  try {
    result = DoFillBuffer();
  } catch (...) {
    SyncOut();
    throw;
  }
  SyncOut();
  return result;
}

void TKvBufferedStream::Flush() {
  SyncIn();
  try {
    DoFlush();
  } catch (...) {
    SyncOut();
    throw;
  }
  SyncOut();
}

void TKvBufferedStream::Close() {
  SyncIn();
  try {
    DoFlush();
  } catch (...) {
    // Reported here; the destructor must not try again on a closed stream.
    FBufferMaxModifiedPos = 0;
    try {
      TKvStreamDecorator::Close();
    } catch (...) {
    }
    SyncOut();
    throw;
  }
  SyncOut();
  TKvStreamDecorator::Close();
}

int64_t TKvBufferedStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  SyncIn();
  int64_t target = -1;
  bool ok;
  switch (Origin) {
    case soBeginning: target = Offset; ok = true; break;
    case soCurrent: ok = AddOffset(FPosition, Offset, target); break;
    case soEnd: {
      int64_t size;
      try {
        size = DoGetLogicalSize();
      } catch (...) {
        SyncOut();
        throw;
      }
      ok = AddOffset(size, Offset, target);
      break;
    }
    default: ok = false; break;
  }
  if (!ok || target < 0) {
    SyncOut();
    return -1;
  }
  FPosition = target;
  SyncOut();
  return target;
}

void TKvBufferedStream::SetSize(int64_t NewSize) {
  if (NewSize < 0) throw EStreamError(cMsgStreamRange);
  SyncIn();
  try {
    TKvStreamDecorator::SetSize(NewSize);
  } catch (...) {
    SyncOut();
    throw;
  }
  const int64_t end = std::max<int64_t>(NewSize - FBufferStart, 0);
  if (end < FBufferMaxModifiedPos) FBufferMaxModifiedPos = int32_t(end);
  if (end < FBufferCurrentSize) FBufferCurrentSize = int32_t(end);
  // The inner stream's position is wherever its last fill or flush left it
  // (a memory stream does not move it): take the new end as documented for files.
  FPosition = NewSize;
  SyncOut();
}

int32_t TKvBufferedStream::Read(void* Buffer, int32_t Count) {
  SyncIn();
  auto* dst = static_cast<uint8_t*>(Buffer);
  int32_t done = 0;
  try {
    while (done < Count) {
      // Differences, not sums: a window near the end of the Int64 range must not overflow.
      const bool inData = FPosition >= FBufferStart && FPosition - FBufferStart < FBufferCurrentSize;
      if (!inData && !DoFillBuffer()) break;
      const int64_t off = FPosition - FBufferStart;
      const int32_t n = int32_t(std::min<int64_t>(Count - done, FBufferCurrentSize - off));
      std::memcpy(dst + done, FBuffer.data() + off, size_t(n));
      FPosition += n;
      done += n;
    }
  } catch (...) {
    SyncOut();
    throw;
  }
  SyncOut();
  return done;
}

int32_t TKvBufferedStream::Write(const void* Buffer, int32_t Count) {
  SyncIn();
  if (Count <= 0) {
    SyncOut();
    return 0;
  }
  if (Count > std::numeric_limits<int64_t>::max() - FPosition) {
    SyncOut();
    throw EStreamError(cMsgStreamRange);
  }
  auto* src = static_cast<const uint8_t*>(Buffer);
  int32_t done = 0;
  try {
    while (done < Count) {
      // The window's own length, not BufferSize: a new BufferSize only takes
      // effect when the window moves.
      int64_t len = int64_t(FBuffer.size());
      if (!(FPosition >= FBufferStart && FPosition - FBufferStart < len)) {
        DoFillBuffer();
        len = int64_t(FBuffer.size());
      }
      const int32_t off = int32_t(FPosition - FBufferStart);
      // Bytes between the data and the write belong to no earlier write of this
      // window: make them the zeros the file would have, not stale window bytes.
      if (off > FBufferCurrentSize)
        std::memset(FBuffer.data() + FBufferCurrentSize, 0, size_t(off - FBufferCurrentSize));
      const int32_t n = int32_t(std::min<int64_t>(Count - done, len - off));
      std::memcpy(FBuffer.data() + off, src + done, size_t(n));
      if (off + n > FBufferCurrentSize) FBufferCurrentSize = off + n;
      if (off + n > FBufferMaxModifiedPos) FBufferMaxModifiedPos = off + n;
      FPosition += n;
      done += n;
    }
  } catch (...) {
    SyncOut();
    throw;
  }
  SyncOut(true);
  return Count;
}

// ---------------------------------------------------------------------------
// TFileReplacement

TFileReplacement::TFileReplacement(std::string Target)
    : fTarget(std::move(Target)),
      fTemp(fTarget + ".tmp"),
      fStream(std::make_unique<TKvBufferedStream>(std::make_unique<TKvFileStream>(fTemp, fmCreate))) {}

TFileReplacement::~TFileReplacement() {
  fStream.reset();
  if (!fCommitted) std::remove(fTemp.c_str());
}

void TFileReplacement::Write(const void* Data, int64_t Bytes) {
  const auto* p = static_cast<const uint8_t*>(Data);
  while (Bytes > 0) {
    const int32_t n = int32_t(std::min<int64_t>(Bytes, 1 << 30));
    fStream->WriteBuffer(p, n);
    p += n;
    Bytes -= n;
  }
}

void TFileReplacement::Commit() {
  fStream->Close();  // a failed flush or close raises here
  fStream.reset();
  RenameFile(fTemp, fTarget);
  fCommitted = true;
}

// ---------------------------------------------------------------------------
// Publishing files by renaming

namespace {

void SyncPath(const std::string& Path, int Flags, bool DataOnly) {
  const int fd = ::open(Path.c_str(), Flags | O_CLOEXEC);
  int err = fd < 0 ? errno : 0;
  if (fd >= 0) {
    if ((DataOnly ? ::fdatasync(fd) : ::fsync(fd)) != 0) err = errno;
    ::close(fd);
  }
  // Some file systems cannot sync a folder; that is no reason to fail.
  if (err != 0 && !(Flags & O_DIRECTORY && (err == EINVAL || err == EBADF)))
    throw EWriteError(Format(cMsgFWriteError, AbsoluteName(Path), ErrorText(err)));
}

}  // namespace

void SyncFileToDisk(const std::string& FileName) { SyncPath(FileName, O_RDONLY, true); }

void SyncFolderToDisk(const std::string& Folder) { SyncPath(Folder, O_RDONLY | O_DIRECTORY, false); }

void StartWriteBack(const std::string& FileName) {
  const int fd = ::open(FileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
  ::close(fd);
}

void RenameFile(const std::string& Source, const std::string& Target) {
  if (std::rename(Source.c_str(), Target.c_str()) != 0)
    throw EFCreateError(Format(cMsgFCreateError, AbsoluteName(Target), ErrorText(errno)));
}

void RemoveFile(const std::string& FileName) {
  if (::unlink(FileName.c_str()) != 0 && errno != ENOENT)
    throw EWriteError(Format(cMsgFDeleteError, AbsoluteName(FileName), ErrorText(errno)));
}

}  // namespace kovra
