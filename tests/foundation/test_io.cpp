#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "foundation/kovra_io.h"
#include "support/unprivileged.h"

using namespace kovra;
namespace fs = std::filesystem;

namespace {

// A fresh folder per test, removed afterwards.
class IoTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "kovra_io_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    FDir = pattern;
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(FDir, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(FDir, ec);
  }
  std::string Path(const std::string& name) const { return (FDir / name).string(); }

  fs::path FDir;
};

std::vector<uint8_t> ReadFileBytes(const std::string& name) {
  std::ifstream f(name, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& name, const std::vector<uint8_t>& bytes) {
  std::ofstream f(name, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Exposes the memory stream's block bookkeeping.
class TProbeMemoryStream : public TKvMemoryStream {
public:
  int64_t Capacity() const { return FCapacity; }
};

// Records the inner stream's writes as (position, count).
class TRecordingStream : public TKvStreamDecorator {
public:
  using TKvStreamDecorator::TKvStreamDecorator;
  int32_t Write(const void* Buffer, int32_t Count) override {
    Writes.emplace_back(FStream->Position(), Count);
    return TKvStreamDecorator::Write(Buffer, Count);
  }
  std::vector<std::pair<int64_t, int32_t>> Writes;
};

// ---------------------------------------------------------------------------
// Model test: a stream against a byte vector whose gaps are zeros.

constexpr int cTypeWidths[8] = {1, 2, 2, 4, 4, 8, 4, 8};

void TypedWrite(TKvStream& s, int type, uint64_t bits) {
  switch (type) {
    case 0: s.WriteByte(uint8_t(bits)); break;
    case 1: s.WriteUInt16(uint16_t(bits)); break;
    case 2: s.WriteInt16(int16_t(uint16_t(bits))); break;
    case 3: s.WriteUInt32(uint32_t(bits)); break;
    case 4: s.WriteInt32(int32_t(uint32_t(bits))); break;
    case 5: s.WriteInt64(int64_t(bits)); break;
    case 6: {
      float f;
      uint32_t b = uint32_t(bits);
      std::memcpy(&f, &b, 4);
      s.WriteSingle(f);
      break;
    }
    default: {
      double d;
      std::memcpy(&d, &bits, 8);
      s.WriteDouble(d);
      break;
    }
  }
}

uint64_t TypedRead(TKvStream& s, int type) {
  switch (type) {
    case 0: return s.ReadByte();
    case 1: return s.ReadUInt16();
    case 2: return uint16_t(s.ReadInt16());
    case 3: return s.ReadUInt32();
    case 4: return uint32_t(s.ReadInt32());
    case 5: return uint64_t(s.ReadInt64());
    case 6: {
      float f = s.ReadSingle();
      uint32_t b;
      std::memcpy(&b, &f, 4);
      return b;
    }
    default: {
      double d = s.ReadDouble();
      uint64_t b;
      std::memcpy(&b, &d, 8);
      return b;
    }
  }
}

struct TModelKind {
  // SetSize leaves the position at NewSize (file and buffered streams); the
  // memory stream only moves a position that is beyond the new end.
  bool SetSizeMovesPosition;
  // The memory stream takes a negative position; the others refuse it with -1.
  bool AcceptsNegativePosition;
  TKvBufferedStream* Buffered;  // Flush and BufferSize changes when set
};

void RunModel(TKvStream& s, std::vector<uint8_t>& model, uint32_t seed, int steps, TModelKind kind) {
  std::mt19937 rng(seed);
  auto rnd = [&](uint32_t n) { return n == 0 ? 0u : uint32_t(rng() % n); };
  int64_t pos = s.Position();
  ASSERT_EQ(pos, 0);
  auto place = [&](int64_t at, const uint8_t* p, size_t n) {
    if (size_t(at) + n > model.size()) model.resize(size_t(at) + n, 0);
    std::memcpy(model.data() + at, p, n);
  };
  for (int step = 0; step < steps; ++step) {
    SCOPED_TRACE(testing::Message() << "seed " << seed << " step " << step);
    const int64_t size = int64_t(model.size());
    const uint32_t op = rnd(100);
    if (op < 15) {  // Seek
      const uint32_t origin = rnd(3);
      int64_t offset, target;
      if (origin == 0) {
        offset = int64_t(rnd(uint32_t(size) + 200)) - 5;
        target = offset;
      } else if (origin == 1) {
        offset = int64_t(rnd(201)) - 100;
        target = pos + offset;
      } else {
        offset = int64_t(rnd(120)) - 100;
        target = size + offset;
      }
      const int64_t got = s.Seek(offset, TSeekOrigin(origin));
      if (target < 0) {
        // Memory streams take any position; the others refuse a negative one.
        if (kind.AcceptsNegativePosition) {
          ASSERT_EQ(got, target);
          s.Seek(pos, soBeginning);
        } else {
          ASSERT_EQ(got, -1);
        }
      } else {
        ASSERT_EQ(got, target);
        pos = target;
      }
    } else if (op < 35) {  // Write
      std::vector<uint8_t> bytes(rnd(150));
      for (auto& b : bytes) b = uint8_t(rng());
      ASSERT_EQ(s.Write(bytes.data(), int32_t(bytes.size())), int32_t(bytes.size()));
      if (!bytes.empty()) place(pos, bytes.data(), bytes.size());
      pos += int64_t(bytes.size());
    } else if (op < 50) {  // Read
      const int32_t count = int32_t(rnd(150));
      std::vector<uint8_t> got(size_t(count) + 1, 0xEE);
      const int32_t n = s.Read(got.data(), count);
      const int64_t avail = std::max<int64_t>(0, std::min<int64_t>(count, size - pos));
      ASSERT_EQ(n, avail);
      ASSERT_TRUE(std::equal(got.begin(), got.begin() + n, model.begin() + pos));
      pos += n;
    } else if (op < 65) {  // typed write
      const int type = int(rnd(8));
      const uint64_t bits = (uint64_t(rng()) << 32) | rng();
      TypedWrite(s, type, bits);
      uint8_t le[8];
      for (int i = 0; i < 8; ++i) le[i] = uint8_t(bits >> (8 * i));
      place(pos, le, size_t(cTypeWidths[type]));
      pos += cTypeWidths[type];
    } else if (op < 82) {  // typed read: missing bytes read as 0
      const int type = int(rnd(8));
      const int width = cTypeWidths[type];
      const uint64_t got = TypedRead(s, type);
      const int64_t avail = std::max<int64_t>(0, std::min<int64_t>(width, size - pos));
      uint64_t expected = 0;
      for (int i = 0; i < avail; ++i) expected |= uint64_t(model[size_t(pos + i)]) << (8 * i);
      ASSERT_EQ(got, expected) << "type " << type;
      pos += avail;
    } else if (op < 88) {  // SetSize
      const int64_t newSize = int64_t(rnd(uint32_t(size) + 100));
      s.SetSize(newSize);
      model.resize(size_t(newSize), 0);
      if (kind.SetSizeMovesPosition || pos > newSize) pos = newSize;
    } else if (op < 95) {  // Flush
      if (kind.Buffered != nullptr) kind.Buffered->Flush();
    } else {  // BufferSize change: takes effect when the window moves
      if (kind.Buffered != nullptr) {
        static constexpr int32_t cSizes[] = {16, 64, 100, 1};
        kind.Buffered->SetBufferSize(cSizes[rnd(4)]);
      }
    }
    ASSERT_EQ(s.Position(), pos);
    ASSERT_EQ(s.Size(), int64_t(model.size()));
    ASSERT_EQ(s.Seek(0, soEnd), int64_t(model.size()));
    ASSERT_EQ(s.Seek(pos, soBeginning), pos);
    if (step % 97 == 0) {  // whole content, read back through the stream
      std::vector<uint8_t> all(model.size());
      s.Seek(0, soBeginning);
      s.ReadBuffer(all.data(), int32_t(all.size()));
      ASSERT_EQ(all, model);
      s.Seek(pos, soBeginning);
    }
  }
}

constexpr uint32_t cSeeds[] = {1, 2, 3, 20261210};
constexpr int cSteps = 1500;

TEST_F(IoTest, ModelBufferedOverFile) {
  for (uint32_t seed : cSeeds) {
    const std::string name = Path("model.bin");
    std::vector<uint8_t> model;
    {
      TKvBufferedStream s(new TKvFileStream(name, fmCreate), true, 64);
      RunModel(s, model, seed, cSteps, {true, false, &s});
      if (HasFatalFailure()) return;
      s.Close();
    }
    EXPECT_EQ(ReadFileBytes(name), model) << "seed " << seed;
  }
}

TEST_F(IoTest, ModelBufferedOverMemory) {
  for (uint32_t seed : cSeeds) {
    TKvMemoryStream inner;
    std::vector<uint8_t> model;
    {
      TKvBufferedStream s(&inner, false, 64);
      RunModel(s, model, seed, cSteps, {true, false, &s});
      if (HasFatalFailure()) return;
      s.Close();
    }
    ASSERT_EQ(inner.Size(), int64_t(model.size()));
    const auto* p = static_cast<const uint8_t*>(inner.Memory());
    EXPECT_TRUE(model.empty() || std::equal(model.begin(), model.end(), p)) << "seed " << seed;
  }
}

TEST_F(IoTest, ModelMemory) {
  for (uint32_t seed : cSeeds) {
    TKvMemoryStream s;
    std::vector<uint8_t> model;
    RunModel(s, model, seed, cSteps, {false, true, nullptr});
    if (HasFatalFailure()) return;
    ASSERT_EQ(s.Size(), int64_t(model.size()));
    const auto* p = static_cast<const uint8_t*>(s.Memory());
    EXPECT_TRUE(model.empty() || std::equal(model.begin(), model.end(), p)) << "seed " << seed;
  }
}

TEST_F(IoTest, ModelUnbufferedFile) {
  for (uint32_t seed : cSeeds) {
    const std::string name = Path("plain.bin");
    std::vector<uint8_t> model;
    {
      TKvFileStream s(name, fmCreate);
      RunModel(s, model, seed, cSteps / 2, {true, false, nullptr});
      if (HasFatalFailure()) return;
      s.Close();
    }
    EXPECT_EQ(ReadFileBytes(name), model) << "seed " << seed;
  }
}

// A write past the data of a window that once held other data: the gap must
// read (and reach the file) as zeros, not as the earlier window's bytes.
TEST_F(IoTest, BufferedGapIsZeroNotStale) {
  const std::string name = Path("gap.bin");
  {
    TKvBufferedStream s(new TKvFileStream(name, fmCreate), true, 16);
    const std::vector<uint8_t> ones(16, 0xFF);
    s.WriteBuffer(ones.data(), 16);  // window [0,16) full of 0xFF
    s.Seek(20, soBeginning);
    s.WriteByte(1);  // window moves to 20; 16..19 are a hole
    s.Seek(30, soBeginning);
    s.WriteByte(2);  // inside the window at 20, past its data
    s.Seek(16, soBeginning);
    std::vector<uint8_t> back(15);
    s.ReadBuffer(back.data(), 15);
    EXPECT_EQ(back, (std::vector<uint8_t>{0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2}));
    s.Close();
  }
  std::vector<uint8_t> expected(31, 0);
  std::fill(expected.begin(), expected.begin() + 16, 0xFF);
  expected[20] = 1;
  expected[30] = 2;
  EXPECT_EQ(ReadFileBytes(name), expected);
}

// ---------------------------------------------------------------------------
// Edge cases of the stream family.

TEST_F(IoTest, BufferedEdgeCases) {
  const std::string name = Path("ten.bin");
  const uint8_t ten[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  {
    SCOPED_TRACE("10 bytes readable before any flush; 10-byte file after Close");
    TKvBufferedStream s(new TKvFileStream(name, fmCreate), true);
    s.WriteBuffer(ten, 10);
    EXPECT_EQ(fs::file_size(name), 0u);
    EXPECT_EQ(s.Seek(0, soBeginning), 0);
    uint8_t back[10] = {};
    s.ReadBuffer(back, 10);
    EXPECT_EQ(0, std::memcmp(back, ten, 10));
    EXPECT_EQ(s.Size(), 10);
    s.Close();
    EXPECT_EQ(fs::file_size(name), 10u);
  }
  {
    SCOPED_TRACE("the destructor flushes when Close was not called");
    const std::string other = Path("ten2.bin");
    {
      TKvBufferedStream s(new TKvFileStream(other, fmCreate), true);
      s.WriteBuffer(ten, 10);
    }
    EXPECT_EQ(ReadFileBytes(other), std::vector<uint8_t>(ten, ten + 10));
  }
  {
    SCOPED_TRACE("a write across the window end is split 6 + 4");
    TKvMemoryStream target;
    auto* recorder = new TRecordingStream(&target, false);
    TKvBufferedStream s(recorder, true);
    s.Seek(1048570, soBeginning);
    s.WriteBuffer(ten, 10);
    ASSERT_EQ(recorder->Writes.size(), 1u);
    EXPECT_EQ(recorder->Writes[0], std::make_pair(int64_t(0), int32_t(1048576)));
    s.Flush();
    ASSERT_EQ(recorder->Writes.size(), 2u);
    EXPECT_EQ(recorder->Writes[1], std::make_pair(int64_t(1048576), int32_t(4)));
    ASSERT_EQ(target.Size(), 1048580);
    const auto* p = static_cast<const uint8_t*>(target.Memory());
    EXPECT_EQ(0, std::memcmp(p + 1048570, ten, 10));
    EXPECT_EQ(p[1048569], 0);
  }
  {
    SCOPED_TRACE("Seek(-1) gives -1 and keeps the position; soEnd is the logical size");
    TKvFileStream file(name, fmOpenReadWrite);
    TKvBufferedStream s(&file, false, 64);
    s.Seek(3, soBeginning);
    EXPECT_EQ(s.Seek(-1, soBeginning), -1);
    EXPECT_EQ(s.Seek(-4, soCurrent), -1);
    EXPECT_EQ(s.Position(), 3);
    EXPECT_EQ(file.Seek(-1, soBeginning), -1);
    s.Seek(200, soBeginning);
    s.WriteInt32(7);
    EXPECT_EQ(s.Seek(0, soEnd), 204);
    EXPECT_EQ(fs::file_size(name), 10u);
    s.Close();
    EXPECT_EQ(fs::file_size(name), 204u);
  }
  {
    SCOPED_TRACE("ReadBuffer of 8 with 5 left");
    TKvBufferedStream s(new TKvFileStream(name, fmOpenRead), true);
    s.Seek(199, soBeginning);
    uint8_t buf[8];
    try {
      s.ReadBuffer(buf, 8);
      ADD_FAILURE() << "no EReadError";
    } catch (const EReadError& e) {
      EXPECT_STREQ(e.what(), "Stream read error");
    }
    SCOPED_TRACE("a read past the end does not grow the size");
    EXPECT_EQ(s.Seek(1000, soBeginning), 1000);
    EXPECT_EQ(s.ReadByte(), 0);
    EXPECT_EQ(s.Size(), 204);
    EXPECT_EQ(s.Seek(0, soEnd), 204);
  }
}

TEST_F(IoTest, FileStreamOpenModes) {
  const std::string name = Path("modes.bin");
  WriteFileBytes(name, {1, 2, 3, 4, 5});
  {
    SCOPED_TRACE("fmCreate truncates an existing file");
    TKvFileStream s(name, fmCreate);
    EXPECT_EQ(s.Size(), 0);
    EXPECT_EQ(fs::file_size(name), 0u);
  }
  WriteFileBytes(name, {1, 2, 3, 4, 5});
  struct Case {
    uint16_t mode;
    bool canRead, canWrite;
  };
  const Case cases[] = {{0x0000, true, false}, {0x0020, true, false}, {0x0001, false, true},
                        {0x0002, true, true},  {0x0022, true, true},  {0x0042, true, true},
                        {0xFF20, true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << std::hex << c.mode);
    if (c.mode >= fmCreate) WriteFileBytes(name, {});
    TKvFileStream s(name, c.mode);
    EXPECT_EQ(s.FileName(), name);
    uint8_t b = 9;
    EXPECT_EQ(s.Write(&b, 1), c.canWrite ? 1 : 0);
    s.Seek(0, soBeginning);
    EXPECT_EQ(s.Read(&b, 1), c.canRead ? 1 : 0);
    WriteFileBytes(name, {1, 2, 3, 4, 5});
  }
}

TEST_F(IoTest, FileStreamRefusals) {
  const std::string missing = "kovra_io_missing_file.bin";
  ASSERT_FALSE(fs::exists(missing));
  const std::string existing = Path("exists.bin");
  WriteFileBytes(existing, {1});
  const std::string locked = Path("locked.bin");
  WriteFileBytes(locked, {1});
  fs::permissions(locked, fs::perms::none);

  struct Case {
    const char* what;
    std::string name;
    uint16_t mode;
    bool create;  // EFCreateError rather than EFOpenError
  };
  const Case cases[] = {
      {"missing file, mode $20", missing, 0x20, false},
      {"directory", FDir.string(), 0x00, false},
      {"directory for writing", FDir.string(), 0x02, false},
      {"access bits 3", existing, 0x03, false},
      {"unreadable file", locked, 0x00, false},
      {"create in a missing folder", Path("no/such/dir.bin"), fmCreate, true},
      {"create over a directory", FDir.string(), fmCreate, true},
  };
  auto openDescriptors = [] {
    std::error_code ec;
    return std::distance(fs::directory_iterator("/proc/self/fd", ec), fs::directory_iterator());
  };
  const auto descriptorsBefore = openDescriptors();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.name == locked) {  // as nobody when root, who reads anything
      if (!testsupport::UnprivilegedSkipReason().empty()) continue;
      EXPECT_THAT(testsupport::AsUnprivileged(locked,
                                              [&]() -> std::string {
                                                try {
                                                  TKvFileStream s(c.name, c.mode);
                                                } catch (const EFOpenError& e) {
                                                  return e.what();
                                                }
                                                return "opened";
                                              }),
                  testing::StartsWith("Cannot open file \"" + fs::absolute(c.name).string() + "\". "));
      continue;
    }
    std::unique_ptr<TKvFileStream> s;
    try {
      s = std::make_unique<TKvFileStream>(c.name, c.mode);
      ADD_FAILURE() << "opened";
    } catch (const EFCreateError& e) {
      EXPECT_TRUE(c.create) << e.what();
      EXPECT_THAT(e.what(), testing::StartsWith("Cannot create file \"" + fs::absolute(c.name).string() + "\". "));
    } catch (const EFOpenError& e) {
      EXPECT_FALSE(c.create) << e.what();
      EXPECT_THAT(e.what(), testing::StartsWith("Cannot open file \"" + fs::absolute(c.name).string() + "\". "));
    }
  }
  // No descriptor is left behind by a refused open (the directory is opened first).
  EXPECT_EQ(openDescriptors(), descriptorsBefore);
  // A relative name is reported with its absolute path.
  try {
    TKvFileStream s(missing, 0x20);
  } catch (const EFOpenError& e) {
    EXPECT_THAT(e.what(), testing::HasSubstr((fs::current_path() / missing).string()));
  }
}

TEST_F(IoTest, HandleStreamSetSizeAndNoClose) {
  const std::string name = Path("h.bin");
  WriteFileBytes(name, {1, 2, 3});
  {
    TKvFileStream ro(name, fmOpenRead);
    EXPECT_THROW(ro.SetSize(10), EOSError);  // not open for writing
    TKvHandleStream h(ro.Handle());
    EXPECT_EQ(h.Size(), 3);
  }
  TKvFileStream rw(name, fmOpenReadWrite);
  {
    TKvHandleStream h(rw.Handle());
    h.SetSize(100);
    EXPECT_EQ(h.Position(), 100);
    EXPECT_THROW(h.SetSize(-1), EOSError);
  }
  // The handle stream did not close the descriptor.
  EXPECT_EQ(rw.Size(), 100);
  EXPECT_NO_THROW(rw.Close());
  EXPECT_NO_THROW(rw.Close());
  EXPECT_EQ(rw.Handle(), -1);
}

// ---------------------------------------------------------------------------
// Memory stream.

TEST_F(IoTest, MemoryStreamCapacityAndZeroedGrowth) {
  TProbeMemoryStream m;
  m.WriteByte(7);
  EXPECT_EQ(m.Capacity(), 8192);
  std::vector<uint8_t> big(8193, 0xFF);
  m.Seek(0, soBeginning);
  m.WriteBuffer(big.data(), 8193);
  EXPECT_EQ(m.Capacity(), 16384);
  // Shrink without giving the block back, then grow again: the bytes that
  // come back must be zeros, not the old 0xFF.
  m.SetSize(10);
  EXPECT_EQ(m.Capacity(), 8192);  // shrunk in place: the old bytes stay in the block
  EXPECT_EQ(m.Position(), 10);
  m.SetSize(50);
  m.Seek(80, soBeginning);
  m.WriteByte(1);
  const auto* p = static_cast<const uint8_t*>(m.Memory());
  EXPECT_EQ(p[9], 0xFF);
  for (int i = 10; i < 80; ++i) ASSERT_EQ(p[i], 0) << i;
  EXPECT_EQ(p[80], 1);
  m.SetSize(0);
  EXPECT_EQ(m.Memory(), nullptr);
  EXPECT_EQ(m.Capacity(), 0);
  // A negative position makes reads and writes do nothing.
  EXPECT_EQ(m.Seek(-5, soBeginning), -5);
  uint8_t b = 1;
  EXPECT_EQ(m.Write(&b, 1), 0);
  EXPECT_EQ(m.Read(&b, 1), 0);
  EXPECT_EQ(m.Size(), 0);
}

TEST_F(IoTest, MemoryStreamCannotGrow) {
  TProbeMemoryStream m;
  m.WriteInt32(0x01020304);
  const void* block = m.Memory();
  std::vector<int64_t> sizes = {std::numeric_limits<int64_t>::max() - 10, -1};
#if !defined(__SANITIZE_ADDRESS__)
  sizes.push_back(int64_t(1) << 62);  // the allocator refuses; the sanitizer would abort instead
#endif
  for (int64_t size : sizes) {
    SCOPED_TRACE(size);
    try {
      m.SetSize(size);
      ADD_FAILURE() << "grew";
    } catch (const EStreamError& e) {
      EXPECT_STREQ(e.what(), "Out of memory while expanding memory stream");
    }
    EXPECT_EQ(m.Memory(), block);
    EXPECT_EQ(m.Size(), 4);
    EXPECT_EQ(m.Capacity(), 8192);
    m.Seek(0, soBeginning);
    EXPECT_EQ(m.ReadInt32(), 0x01020304);
  }
  m.Seek(std::numeric_limits<int64_t>::max() - 1, soBeginning);
  EXPECT_THROW(m.WriteInt32(1), EStreamError);
  EXPECT_EQ(m.Size(), 4);
}

TEST_F(IoTest, MemoryStreamLoadAndSave) {
  struct Case {
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {{{42}}, {{}}, {std::vector<uint8_t>(20000, 5)}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes.size());
    TKvMemoryStream source;
    if (!c.bytes.empty()) source.WriteBuffer(c.bytes.data(), int32_t(c.bytes.size()));
    TKvMemoryStream copy;
    copy.WriteInt64(-1);  // replaced entirely
    copy.LoadFromStream(&source);
    EXPECT_EQ(copy.Size(), int64_t(c.bytes.size()));
    EXPECT_EQ(copy.Position(), int64_t(c.bytes.size()) < 8 ? int64_t(c.bytes.size()) : 8);
    std::vector<uint8_t> back(c.bytes.size());
    copy.Seek(0, soBeginning);
    copy.ReadBuffer(back.data(), int32_t(back.size()));
    EXPECT_EQ(back, c.bytes);

    const std::string name = Path("saved.bin");
    WriteFileBytes(name, std::vector<uint8_t>(30000, 1));
    copy.SaveToFile(name);
    EXPECT_EQ(ReadFileBytes(name), c.bytes);
    TKvMemoryStream loaded;
    loaded.LoadFromFile(name);
    EXPECT_EQ(loaded.Size(), int64_t(c.bytes.size()));
  }
  TKvMemoryStream m;
  EXPECT_THROW(m.LoadFromFile(Path("none.bin")), EFOpenError);
}

// ---------------------------------------------------------------------------
// Decorator.

TEST_F(IoTest, DecoratorWithoutInnerStream) {
  TKvStreamDecorator d(nullptr, true);
  uint8_t b = 0;
  EXPECT_EQ(d.Read(&b, 1), 0);
  EXPECT_EQ(d.Write(&b, 1), 0);
  EXPECT_NO_THROW(d.SetSize(5));
  EXPECT_THROW(d.Seek(0, soBeginning), EStreamError);
  EXPECT_THROW(d.WriteInt32(1), EWriteError);

  TKvMemoryStream* inner = new TKvMemoryStream;
  {
    TKvStreamDecorator owner(inner, false);
    owner.WriteInt32(5);
    EXPECT_EQ(inner->Size(), 4);
    owner.SetOwnsStream(true);
    EXPECT_TRUE(owner.OwnsStream());
  }  // frees inner (the sanitizer build reports a leak otherwise)
}

TEST_F(IoTest, BufferedSetSizeOverMemoryPlacesNextWriteAtNewEnd) {
  TKvMemoryStream inner;
  TKvBufferedStream s(&inner, false, 16);
  for (int i = 0; i < 10; ++i) s.WriteInt32(i);
  s.Seek(0, soBeginning);
  s.ReadByte();  // the refill leaves the inner stream's position at 16
  s.SetSize(30);
  EXPECT_EQ(s.Position(), 30);
  s.WriteByte(0xAB);
  s.Close();
  ASSERT_EQ(inner.Size(), 31);
  EXPECT_EQ(static_cast<const uint8_t*>(inner.Memory())[30], 0xAB);
  EXPECT_EQ(static_cast<const uint8_t*>(inner.Memory())[16], 4);
}

// ---------------------------------------------------------------------------
// Typed values read back by an independent reader.

TEST_F(IoTest, TypedValuesReadByPythonStruct) {
  if (std::system("python3 -c 'import struct' >/dev/null 2>&1") != 0) GTEST_SKIP() << "python3 missing";
  const std::string name = Path("typed.bin");
  auto f32 = [](uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
  };
  auto f64 = [](uint64_t bits) {
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
  };
  {
    // A 7-byte window, so values straddle window edges.
    TKvBufferedStream s(new TKvFileStream(name, fmCreate), true, 7);
    s.WriteByte(0);
    s.WriteByte(255);
    s.WriteUInt16(0);
    s.WriteUInt16(65535);
    s.WriteInt16(-32768);
    s.WriteInt16(32767);
    s.WriteInt16(-1);
    s.WriteUInt32(4294967295u);
    s.WriteInt32(std::numeric_limits<int32_t>::min());
    s.WriteInt32(std::numeric_limits<int32_t>::max());
    s.WriteInt32(-2);
    s.WriteInt64(std::numeric_limits<int64_t>::min());
    s.WriteInt64(std::numeric_limits<int64_t>::max());
    s.WriteInt64(-3);
    s.WriteSingle(std::numeric_limits<float>::max());
    s.WriteSingle(-0.0f);
    s.WriteSingle(f32(0x7FC00001u));
    s.WriteSingle(f32(0x00000001u));
    s.WriteSingle(-std::numeric_limits<float>::infinity());
    s.WriteDouble(std::numeric_limits<double>::max());
    s.WriteDouble(-0.0);
    s.WriteDouble(f64(0xFFF8000000000123ull));
    s.WriteDouble(0.1);
    s.WriteDouble(std::numeric_limits<double>::infinity());
    s.Close();
  }
  const std::string cmd = std::string("python3 ") + KOVRA_TEST_SCRIPTS_DIR + "/io_struct_oracle.py '" + name +
                          "' BBHHhhhIiiiqqqfffffddddd";
  FILE* pipe = popen(cmd.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string out;
  char buf[256];
  while (fgets(buf, sizeof buf, pipe)) out += buf;
  ASSERT_EQ(pclose(pipe), 0) << out;
  EXPECT_EQ(out,
            "0\n255\n0\n65535\n-32768\n32767\n-1\n4294967295\n-2147483648\n2147483647\n-2\n"
            "-9223372036854775808\n9223372036854775807\n-3\n"
            "3.4028234663852886e+38 ffff7f7f\n-0.0 00000080\nnan 0100c07f\n"
            "1.401298464324817e-45 01000000\n-inf 000080ff\n"
            "1.7976931348623157e+308 ffffffffffffef7f\n-0.0 0000000000000080\nnan 230100000000f8ff\n"
            "0.1 9a9999999999b93f\ninf 000000000000f07f\n");

  // And back through the stream: bit patterns survive.
  TKvBufferedStream s(new TKvFileStream(name, fmOpenRead), true, 5);
  EXPECT_EQ(s.ReadByte(), 0);
  EXPECT_EQ(s.ReadByte(), 255);
  EXPECT_EQ(s.ReadUInt16(), 0);
  EXPECT_EQ(s.ReadUInt16(), 65535);
  EXPECT_EQ(s.ReadInt16(), -32768);
  EXPECT_EQ(s.ReadInt16(), 32767);
  EXPECT_EQ(s.ReadInt16(), -1);
  EXPECT_EQ(s.ReadUInt32(), 4294967295u);
  EXPECT_EQ(s.ReadInt32(), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(s.ReadInt32(), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(s.ReadInt32(), -2);
  EXPECT_EQ(s.ReadInt64(), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(s.ReadInt64(), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(s.ReadInt64(), -3);
  EXPECT_EQ(s.ReadSingle(), std::numeric_limits<float>::max());
  EXPECT_TRUE(std::signbit(s.ReadSingle()));
  float nanf = s.ReadSingle();
  uint32_t nanfBits;
  std::memcpy(&nanfBits, &nanf, 4);
  EXPECT_EQ(nanfBits, 0x7FC00001u);
  s.Seek(4 * 2 + 8 * 2, soCurrent);
  double nand = s.ReadDouble();
  uint64_t nandBits;
  std::memcpy(&nandBits, &nand, 8);
  EXPECT_EQ(nandBits, 0xFFF8000000000123ull);
}

TEST_F(IoTest, ReadStringDecodesAnsi) {
  const char* page = std::getenv("KOVRA_ANSI_CODEPAGE");
  if (page != nullptr && std::string(page) != "1252") GTEST_SKIP() << "ANSI code page is not 1252";
  TKvMemoryStream m;
  const uint8_t bytes[] = {'c', 'a', 'f', 0xE9, 0x80, ' ', 'x'};
  m.WriteBuffer(bytes, sizeof bytes);
  m.Seek(0, soBeginning);
  EXPECT_EQ(m.ReadString(0), "");
  EXPECT_EQ(m.ReadString(5), "caf\xC3\xA9\xE2\x82\xAC");
  EXPECT_THROW(m.ReadString(5), EReadError);
}

// ---------------------------------------------------------------------------
// Failures of the device reach the caller.

TEST_F(IoTest, FullDeviceFailuresAreReported) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  const uint8_t ten[10] = {};
  {
    TKvBufferedStream s(new TKvFileStream("/dev/full", fmOpenReadWrite), true);
    s.WriteBuffer(ten, 10);  // sits in the window
    EXPECT_THROW(s.Close(), EWriteError);
  }
  EXPECT_NO_THROW({
    TKvBufferedStream s(new TKvFileStream("/dev/full", fmOpenWrite), true, 16);
    s.WriteBuffer(ten, 10);
  });
  {
    TKvBufferedStream s(new TKvFileStream("/dev/full", fmOpenWrite), true, 4);
    EXPECT_THROW(s.WriteBuffer(ten, 10), EWriteError);  // the window moves and flushes
  }
  TKvFileStream plain("/dev/full", fmOpenWrite);
  EXPECT_THROW(plain.WriteByte(1), EWriteError);
  EXPECT_THROW(plain.WriteUInt16(1), EWriteError);
  EXPECT_THROW(plain.WriteInt32(1), EWriteError);
  EXPECT_THROW(plain.WriteInt64(1), EWriteError);
  EXPECT_THROW(plain.WriteDouble(1), EWriteError);
  EXPECT_THROW(plain.WriteSingle(1), EWriteError);
  EXPECT_THROW(plain.WriteBuffer(ten, 10), EWriteError);
  TKvMemoryStream m;
  m.WriteInt32(1);
  EXPECT_THROW(m.SaveToFile("/dev/full"), EWriteError);
}

TEST_F(IoTest, BufferedOverReadOnlyFileReportsFlush) {
  const std::string name = Path("ro.bin");
  WriteFileBytes(name, {1, 2, 3});
  TKvBufferedStream s(new TKvFileStream(name, fmOpenRead), true);
  s.WriteByte(9);
  EXPECT_EQ(s.ReadByte(), 2);
  EXPECT_THROW(s.Flush(), EWriteError);
  EXPECT_THROW(s.Close(), EWriteError);
  EXPECT_EQ(ReadFileBytes(name), (std::vector<uint8_t>{1, 2, 3}));
}

// A memory stream that refuses seeks beyond a limit, as a file system does
// beyond its largest offset (ext4: 16 TiB).
class TLimitedStream : public TKvMemoryStream {
public:
  explicit TLimitedStream(int64_t Limit) : FLimit(Limit) {}
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override {
    if (Origin == soBeginning && Offset > FLimit) return -1;
    return TKvMemoryStream::Seek(Offset, Origin);
  }
  std::string Bytes() const { return std::string(static_cast<const char*>(Memory()), size_t(FSize)); }

private:
  int64_t FLimit;
};

TEST_F(IoTest, BufferedRefusedSeekReadsAndWritesNothing) {
  TLimitedStream inner(1000);
  inner.WriteBuffer("ABCDEFGHIJ", 10);
  inner.SetPosition(0);
  {
    TKvBufferedStream s(&inner, false, 4);
    EXPECT_EQ(s.Seek(5000, soBeginning), 5000);  // the own position only
    EXPECT_THROW(s.WriteBuffer("XY", 2), EStreamError);
    EXPECT_THROW(s.ReadByte(), EStreamError);  // no bytes of another offset
    EXPECT_EQ(s.Position(), 5000);
    // Back where the inner stream goes, the stream works as before.
    s.SetPosition(2);
    EXPECT_EQ(s.ReadByte(), 'C');
    s.WriteByte('c');
    s.Close();
  }
  EXPECT_EQ(inner.Bytes(), "ABCcEFGHIJ");
}

TEST_F(IoTest, BufferedPositionNeverOverflows) {
  TKvMemoryStream inner;
  TKvBufferedStream s(&inner, false, 16);
  const int64_t near = std::numeric_limits<int64_t>::max() - 4;
  EXPECT_EQ(s.Seek(near, soBeginning), near);
  const uint8_t ten[10] = {};
  EXPECT_THROW(s.Write(ten, 10), EStreamError);
  EXPECT_THROW(s.WriteInt64(1), EStreamError);
  EXPECT_EQ(s.Position(), near);
  EXPECT_EQ(s.Seek(10, soCurrent), -1);
  EXPECT_THROW(s.SetSize(-1), EStreamError);
  s.SetPosition(0);
  s.WriteInt32(7);
  s.Close();
  EXPECT_EQ(inner.Size(), 4);

  // The byte that still fits is written; the typed write after it must not
  // slip through the window past the range.
  TKvMemoryStream far;
  TKvBufferedStream t(&far, false, 16);
  t.SetPosition(near);
  t.WriteByte(1);
  EXPECT_THROW(t.WriteInt64(2), EStreamError);
  EXPECT_EQ(t.Position(), near + 1);
}

// A read the system fails is an error, not the end of the data: /proc/self/mem
// fails every read at address 0 with EIO.
TEST_F(IoTest, FailingReadsRaiseWithTheSystemText) {
  TKvFileStream mem("/proc/self/mem", fmOpenRead);
  uint8_t b[4];
  EXPECT_EQ(mem.Read(b, 4), 0);
  EXPECT_EQ(mem.LastError(), EIO);
  const std::string expected = "Cannot read file \"/proc/self/mem\". " + std::string(std::strerror(EIO));
  try {
    TKvBufferedStream s(std::make_unique<TKvFileStream>("/proc/self/mem", fmOpenRead));
    ADD_FAILURE() << "no error";
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), expected);
  }
  // An ordinary end of file is not an error.
  const std::string name = Path("two.bin");
  WriteFileBytes(name, {1, 2});
  TKvFileStream file(name, fmOpenRead);
  EXPECT_EQ(file.Read(b, 4), 2);
  EXPECT_EQ(file.Read(b, 4), 0);
  EXPECT_EQ(file.LastError(), 0);
}

// An owned inner stream is freed exactly once when the buffered stream's
// constructor raises, whichever constructor hands it over.
TEST_F(IoTest, OwnedStreamFreedOnceWhenConstructionFails) {
  class TFailingStream : public TKvMemoryStream {
  public:
    explicit TFailingStream(int* Freed) : FFreed(Freed) {}
    ~TFailingStream() override { ++*FFreed; }
    int32_t Read(void*, int32_t) override { throw EReadError(cMsgStreamReadError); }

  private:
    int* FFreed;
  };
  int freed = 0;
  EXPECT_THROW(TKvBufferedStream(new TFailingStream(&freed), true), EReadError);
  EXPECT_EQ(freed, 1);
  auto owned = std::make_unique<TFailingStream>(&freed);
  EXPECT_THROW(TKvBufferedStream(std::move(owned), 4096), EReadError);
  EXPECT_EQ(freed, 2);
  EXPECT_EQ(owned, nullptr);
}

// ---------------------------------------------------------------------------
// Positions past 2^32 on a sparse file.

TEST_F(IoTest, SparseFileBeyond4GiB) {
  const std::string name = Path("sparse.bin");
  const int64_t size = (int64_t(5) << 30) + 3;
  const int64_t at = (int64_t(1) << 32) + 12345;
  {
    TKvBufferedStream s(new TKvFileStream(name, fmCreate), true, 4096);
    try {
      s.SetSize(size);
    } catch (const EOSError& e) {
      GTEST_SKIP() << "no large sparse files here: " << e.what();
    }
    EXPECT_EQ(s.Position(), size);
    EXPECT_EQ(s.Seek(at, soBeginning), at);
    s.WriteInt64(0x1122334455667788);
    s.WriteDouble(2.5);
    EXPECT_EQ(s.Seek(at, soBeginning), at);
    EXPECT_EQ(s.ReadInt64(), 0x1122334455667788);
    s.Close();
  }
  EXPECT_EQ(int64_t(fs::file_size(name)), size);
  TKvFileStream plain(name, fmOpenRead);
  EXPECT_EQ(plain.Size(), size);
  EXPECT_EQ(plain.Seek(at - 1, soBeginning), at - 1);
  EXPECT_EQ(plain.ReadByte(), 0);
  EXPECT_EQ(plain.ReadInt64(), 0x1122334455667788);
  EXPECT_EQ(plain.ReadDouble(), 2.5);
  EXPECT_EQ(plain.Seek(-3, soEnd), size - 3);
}

}  // namespace
