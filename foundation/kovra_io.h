// Byte streams of the library: an abstract stream with 64-bit positions and
// typed little-endian reads and writes, streams over a file descriptor and a
// named file, a growable memory stream, a forwarding decorator and the
// buffered stream with one read/write window through which nearly every
// binary file of the library is read and written.
//
// Typical use:
//   TKvBufferedStream s(std::make_unique<TKvFileStream>(name, fmCreate));
//   s.WriteInt32(42);
//   s.Close();   // reports a failed flush or close as EWriteError
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/kovra_sysutils.h"

namespace kovra {

enum class TSeekOrigin : uint8_t { soBeginning, soCurrent, soEnd };
using enum TSeekOrigin;

// Open modes of TKvFileStream. Below fmCreate: the low two bits are the access,
// bits 4-6 the sharing (accepted and ignored: Linux has no share modes).
inline constexpr uint16_t fmOpenRead = 0x0000;
inline constexpr uint16_t fmOpenWrite = 0x0001;
inline constexpr uint16_t fmOpenReadWrite = 0x0002;
inline constexpr uint16_t fmShareCompat = 0x0000;
inline constexpr uint16_t fmShareExclusive = 0x0010;
inline constexpr uint16_t fmShareDenyWrite = 0x0020;
inline constexpr uint16_t fmShareDenyRead = 0x0030;
inline constexpr uint16_t fmShareDenyNone = 0x0040;
// Create or truncate, read and write.
inline constexpr uint16_t fmCreate = 0xFF00;

// Window size of TKvBufferedStream unless the constructor names another. A
// build may choose a smaller one (KOVRA_STREAM_WINDOW): the fuzz build does,
// since a run there opens many tiny files and allocating 1 MiB windows under
// the address sanitizer would take most of its time.
#ifndef KOVRA_STREAM_WINDOW
#define KOVRA_STREAM_WINDOW 1048576
#endif
inline constexpr int32_t cKvDefaultBufferSize = KOVRA_STREAM_WINDOW;

inline constexpr const char* cMsgStreamReadError = "Stream read error";
inline constexpr const char* cMsgStreamWriteError = "Stream write error";
inline constexpr const char* cMsgMemoryStreamError = "Out of memory while expanding memory stream";
inline constexpr const char* cMsgFOpenError = "Cannot open file \"%s\". %s";
inline constexpr const char* cMsgFCreateError = "Cannot create file \"%s\". %s";
inline constexpr const char* cMsgFReadError = "Cannot read file \"%s\". %s";
inline constexpr const char* cMsgFWriteError = "Cannot write file \"%s\". %s";
inline constexpr const char* cMsgFDeleteError = "Cannot delete file \"%s\". %s";
inline constexpr const char* cMsgStreamSeekError = "Stream seek error at position %d";
inline constexpr const char* cMsgStreamRange = "Stream position out of range";
inline constexpr const char* cMsgStreamSizeError = "Stream size cannot be read";

// ---------------------------------------------------------------------------
// The abstract stream.
//
// The typed reads and writes take an inline fast path when the stream exposes
// a region of memory at its position (the buffered stream's window, the memory
// stream's block): a bounds check, a memcpy and an advance. Only at the edges of
// that region do they fall back to the virtual Read and Write.
class TKvStream : public TObject {
public:
  TKvStream() = default;
  TKvStream(const TKvStream&) = delete;
  TKvStream& operator=(const TKvStream&) = delete;
  ~TKvStream() override = default;

  // Seek(0, soCurrent) / Seek(0, soEnd) with the position restored.
  virtual int64_t GetSize();
  virtual void SetSize(int64_t NewSize) = 0;
  // Returns the new position, or -1 when the target is invalid.
  virtual int64_t Seek(int64_t Offset, TSeekOrigin Origin) = 0;
  // Return the number of bytes moved; 0 on failure.
  virtual int32_t Read(void* Buffer, int32_t Count) = 0;
  virtual int32_t Write(const void* Buffer, int32_t Count) = 0;
  // Completes the stream and reports what failed on completion (flush, close)
  // as EWriteError. Streams with nothing to complete do nothing.
  virtual void Close() {}
  // The system error (errno) of the last failed Read, Write or Seek; a Read or
  // Write that succeeds resets it to 0. Tells a failing read from the end of
  // the data, and a failed GetSize from an empty file. Streams that cannot
  // fail that way give 0.
  virtual int LastError() const { return 0; }

  int64_t Position() { return Seek(0, soCurrent); }
  void SetPosition(int64_t Value) { Seek(Value, soBeginning); }
  int64_t Size() { return GetSize(); }
  // Window size of the buffered stream; other streams ignore it.
  int32_t BufferSize() const { return FBufferSize; }
  void SetBufferSize(int32_t Value) { FBufferSize = Value; }

  // Read or write exactly Count bytes: EReadError "Stream read error" when
  // the stream ends or refuses; a refused write raises RaiseWriteError's
  // error (the file and the system's reason, a full disk for one).
  void ReadBuffer(void* Buffer, int32_t Count);
  void WriteBuffer(const void* Buffer, int32_t Count);

  // Typed writes, little-endian. A write that moves fewer bytes than the value's
  // width raises RaiseWriteError's error.
  void WriteByte(uint8_t AValue) { PutValue(AValue); }
  void WriteUInt16(uint16_t AValue) { PutValue(AValue); }
  void WriteInt16(int16_t AValue) { PutValue(AValue); }
  void WriteUInt32(uint32_t AValue) { PutValue(AValue); }
  void WriteInt32(int32_t AValue) { PutValue(AValue); }
  void WriteInt64(int64_t AValue) { PutValue(AValue); }
  void WriteSingle(float AValue) { PutValue(AValue); }
  void WriteDouble(double AValue) { PutValue(AValue); }

  // Typed reads, little-endian, one Read each. A short read is not detected:
  // the bytes that were missing read as 0. Callers that must detect truncation
  // compare sizes first.
  uint8_t ReadByte() { return GetValue<uint8_t>(); }
  uint16_t ReadUInt16() { return GetValue<uint16_t>(); }
  int16_t ReadInt16() { return GetValue<int16_t>(); }
  uint32_t ReadUInt32() { return GetValue<uint32_t>(); }
  int32_t ReadInt32() { return GetValue<int32_t>(); }
  int64_t ReadInt64() { return GetValue<int64_t>(); }
  float ReadSingle() { return GetValue<float>(); }
  double ReadDouble() { return GetValue<double>(); }

  // Reads exactly ASize bytes (ReadBuffer) and decodes them from the system
  // ANSI code page to UTF-8.
  std::string ReadString(int32_t ASize);

protected:
  int32_t FBufferSize = cKvDefaultBufferSize;

  // Fast region at the position, set by descendants that have one, in one of
  // two modes (like a get area and a put area): reading, [FFastCur,
  // FFastDataEnd) holds data and FFastLimit == FFastCur; writing, FFastCur may
  // advance up to FFastLimit and FFastDataEnd stays behind it. All null when
  // the stream has no region. Between two virtual calls the fast path only
  // advances FFastCur; the next virtual call takes it back into the stream's
  // own fields.
  uint8_t* FFastCur = nullptr;
  uint8_t* FFastDataEnd = nullptr;
  uint8_t* FFastLimit = nullptr;
  bool FFastWriting = false;

  void ClearFast() {
    FFastCur = FFastDataEnd = FFastLimit = nullptr;
    FFastWriting = false;
  }

private:
  template <typename T>
  static T SwapLE(T v) {
    if constexpr (std::endian::native == std::endian::little || sizeof(T) == 1) {
      return v;
    } else {
      unsigned char b[sizeof(T)];
      std::memcpy(b, &v, sizeof(T));
      for (size_t i = 0; i < sizeof(T) / 2; ++i) std::swap(b[i], b[sizeof(T) - 1 - i]);
      std::memcpy(&v, b, sizeof(T));
      return v;
    }
  }

  template <typename T>
  T GetValue() {
    T v;
    uint8_t* p = FFastCur;
    if (FFastDataEnd - p >= ptrdiff_t(sizeof(T))) {
      std::memcpy(&v, p, sizeof(T));
      FFastCur = p + sizeof(T);
    } else {
      unsigned char b[sizeof(T)] = {};
      Read(b, int32_t(sizeof(T)));
      std::memcpy(&v, b, sizeof(T));
    }
    return SwapLE(v);
  }

  template <typename T>
  void PutValue(T v) {
    v = SwapLE(v);
    uint8_t* p = FFastCur;
    if (FFastLimit - p >= ptrdiff_t(sizeof(T))) {
      std::memcpy(p, &v, sizeof(T));
      FFastCur = p + sizeof(T);
    } else {
      WriteValueSlow(&v, int32_t(sizeof(T)));
    }
  }

  void WriteValueSlow(const void* Buffer, int32_t Count);
};

// Raises EReadError for the failure LastError reports: "Cannot read file "%s".
// %s" naming a file stream (or the file under a decorator), "Stream read error.
// %s" otherwise; the second part is the system's text.
[[noreturn]] void RaiseReadError(const TKvStream& Stream);
// Raises EWriteError for a write that Stream refused: "Cannot write file
// "%s". %s" naming a file stream (or the file under a decorator) with the
// system's text of LastError; "Stream write error. %s" for another stream
// that reports a system error; "Stream write error" otherwise.
[[noreturn]] void RaiseWriteError(const TKvStream& Stream);

// ---------------------------------------------------------------------------
// A stream over an open POSIX file descriptor, which it does not close.
class TKvHandleStream : public TKvStream {
public:
  explicit TKvHandleStream(int AHandle);

  int Handle() const { return FHandle; }

  // ftruncate; the position is left at NewSize. Failure raises EOSError.
  void SetSize(int64_t NewSize) override;
  // lseek; -1 on failure, with the system error kept for LastError (also when
  // a later seek succeeds, as GetSize's restoring seek does).
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  // One read/write call (retried on EINTR); failure gives 0 and keeps the
  // system error for LastError.
  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  int LastError() const override { return FLastError; }

protected:
  int FHandle = -1;
  int FLastError = 0;
};

// ---------------------------------------------------------------------------
// A stream over a named file, which it opens and closes.
class TKvFileStream : public TKvHandleStream {
public:
  // Mode < fmCreate opens an existing file (access bits 0 read, 1 write, 2 both;
  // 3 is refused); Mode >= fmCreate creates or truncates it for reading and
  // writing with Rights as permission bits (0 = 0666, the umask applies).
  // Failures raise EFOpenError / EFCreateError naming the absolute path; a
  // directory is refused with EFOpenError.
  TKvFileStream(const std::string& AFileName, uint16_t Mode);
  TKvFileStream(const std::string& AFileName, uint16_t Mode, uint32_t Rights);
  // Closes the descriptor if still open; a failure is not reported here.
  ~TKvFileStream() override;

  const std::string& FileName() const { return FFileName; }

  // Closes the descriptor; a failing close raises EWriteError naming the
  // file and the reason. The stream reads and writes nothing afterwards.
  void Close() override;

protected:
  std::string FFileName;
};

// ---------------------------------------------------------------------------
// A growable block of memory; new bytes (past the old size) are 0.
class TKvMemoryStream : public TKvStream {
public:
  TKvMemoryStream() = default;
  ~TKvMemoryStream() override;

  void* Memory() const { return FMemory; }

  // Resizes the block; a block that cannot grow raises EStreamError "Out of
  // memory while expanding memory stream" with the old block and size kept.
  void SetSize(int64_t NewSize) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;

  // Frees the block; size, position and capacity become 0.
  void Clear();
  void LoadFromStream(TKvStream* Stream);
  void SaveToStream(TKvStream* Stream);
  void LoadFromFile(const std::string& FileName);
  void SaveToFile(const std::string& FileName);

protected:
  // Returns the block for NewCapacity (rounded up to 8192 unless it equals the
  // size), keeping the contents; 0 frees the block.
  virtual void* Realloc(int64_t& NewCapacity);

  uint8_t* FMemory = nullptr;
  int64_t FCapacity = 0;
  int64_t FSize = 0;
  int64_t FPosition = 0;

private:
  void SetCapacity(int64_t NewCapacity);
  void SyncIn();
  void SyncOut(bool Writing = false);
};

// ---------------------------------------------------------------------------
// Forwards to an inner stream, which it frees when it owns it. An owned
// stream belongs to the decorator from the call on, also when a constructor
// raises: the caller must not free it then.
class TKvStreamDecorator : public TKvStream {
public:
  TKvStreamDecorator(TKvStream* AStream, bool AOwnsStream);
  explicit TKvStreamDecorator(std::unique_ptr<TKvStream> AStream);
  ~TKvStreamDecorator() override;

  bool OwnsStream() const { return FOwnsStream; }
  void SetOwnsStream(bool Value) { FOwnsStream = Value; }

  void SetSize(int64_t NewSize) override;
  // Raises EStreamError without an inner stream.
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  // Closes an owned inner stream.
  void Close() override;
  int LastError() const override { return FStream != nullptr ? FStream->LastError() : 0; }
  TKvStream* InnerStream() const { return FStream; }

protected:
  bool FOwnsStream = false;
  TKvStream* FStream = nullptr;
};

// ---------------------------------------------------------------------------
// The bytes of a stream window, left as they are when made. A window is
// filled by reads and writes before any byte of it is used, so zeroing a
// fresh 1 MiB window, or constructing it byte by byte (a loop instrumented
// builds keep), would only cost time per file opened.
class TByteWindow {
public:
  uint8_t* data() const { return fData.get(); }
  size_t size() const { return fSize; }
  // Storage of Size bytes; the old contents are dropped.
  void Reset(size_t Size) {
    fData.reset(new uint8_t[Size]);
    fSize = Size;
  }

private:
  std::unique_ptr<uint8_t[]> fData;
  size_t fSize = 0;
};

// ---------------------------------------------------------------------------
// One read/write window over the inner stream: sequential access touches the
// inner stream once per window; bytes written are readable at once, before
// any flush.
//
// The inner stream is never used at a position it did not accept: a seek it
// refuses (a file system's offset limit) raises EStreamError before anything
// is read or written there, and so does a position beyond the Int64 range. A
// read that the system fails raises EReadError with the system's text instead
// of ending the data.
class TKvBufferedStream : public TKvStreamDecorator {
public:
  TKvBufferedStream(TKvStream* AStream, bool AOwnsStream, int32_t ABufferSize = cKvDefaultBufferSize);
  explicit TKvBufferedStream(std::unique_ptr<TKvStream> AStream, int32_t ABufferSize = cKvDefaultBufferSize);
  // Flushes (a failure is swallowed: call Close to have it reported), then
  // frees an owned inner stream.
  ~TKvBufferedStream() override;

  // Forwards, trims the window to NewSize; the position becomes NewSize. A
  // negative size raises EStreamError.
  void SetSize(int64_t NewSize) override;
  // Own position; a negative target gives -1 and keeps the position.
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  // Flushes (EWriteError on failure), then closes an owned inner stream.
  void Close() override;

  // The size the stream has after a flush.
  virtual int64_t GetLogicalSize();
  // Flushes and moves the window to the position; True when it holds data.
  // A changed BufferSize takes effect here.
  virtual bool FillBuffer();
  // Writes the modified prefix of the window to the inner stream.
  virtual void Flush();

protected:
  TByteWindow FBuffer;
  int32_t FBufferCurrentSize = 0;
  int32_t FBufferMaxModifiedPos = 0;
  int64_t FBufferStart = 0;
  int64_t FPosition = 0;

private:
  // The operations above without the fast-pointer hand-over, for use inside it.
  void Init();
  int64_t DoGetLogicalSize();
  bool DoFillBuffer();
  void DoFlush();
  // Positions the inner stream at Pos or raises EStreamError.
  void SeekInner(int64_t Pos);
  void SyncIn();
  void SyncOut(bool Writing = false);
};

// ---------------------------------------------------------------------------
// A file that replaces Target once complete: written under "<Target>.tmp"
// beside it and renamed over it by Commit. Until then, and whenever Commit
// does not finish, the destructor removes the temporary file, so a failure or
// a cancel leaves Target as it was (or absent).
class TFileReplacement {
public:
  // Creates (or truncates) the temporary file: the stream's creation error.
  explicit TFileReplacement(std::string Target);
  ~TFileReplacement();
  TFileReplacement(const TFileReplacement&) = delete;
  TFileReplacement& operator=(const TFileReplacement&) = delete;

  // The buffered stream on the temporary file, for typed writes.
  TKvStream& Stream() { return *fStream; }
  // Writes Bytes of Data, in pieces the stream accepts.
  void Write(const void* Data, int64_t Bytes);
  // Flushes and closes (EWriteError on failure), then renames over Target
  // (EFCreateError naming Target on failure).
  void Commit();
  const std::string& Target() const { return fTarget; }
  const std::string& TempName() const { return fTemp; }

private:
  std::string fTarget;
  std::string fTemp;
  std::unique_ptr<TKvBufferedStream> fStream;
  bool fCommitted = false;
};

// ---------------------------------------------------------------------------
// Publishing files by renaming. A rename replaces the folder entry only: a
// reader that has the old file open keeps reading the old file.

// Writes the data of a file through to the disk (fdatasync), so that a
// rename that publishes it cannot survive a power loss that its bytes do
// not: EWriteError "Cannot write file "%s". %s" on failure.
void SyncFileToDisk(const std::string& FileName);
// The same for the entries of a folder (the renames and removals in it).
void SyncFolderToDisk(const std::string& Folder);
// Starts writing a finished file's data to the disk and returns at once, so
// that a later SyncFileToDisk has little left to wait for; failures are left
// for that call to report.
void StartWriteBack(const std::string& FileName);
// Renames Source over Target, replacing Target: EFCreateError "Cannot create
// file "%s". %s" naming Target on failure.
void RenameFile(const std::string& Source, const std::string& Target);
// Removes a file; a missing file is no error. EWriteError "Cannot delete
// file "%s". %s" when it stays.
void RemoveFile(const std::string& FileName);

}  // namespace kovra
