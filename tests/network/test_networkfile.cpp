// The read source behind the network file readers: the three kinds read the
// same bytes and refuse the same reads.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "network/kovra_networkfile.h"
#include "network/support/network_writer.h"
#include "support/temp_dir_test.h"
#include "support/test_raises.h"

using namespace kovra;
using namespace kovra::testsupport;

class ReadSource : public TTempDirTest {};

TEST_F(ReadSource, EveryKindReadsExactlyWhatIsThere) {
  std::string bytes(100000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char(i * 7 + i / 251);
  const std::string path = Make("data.bin", bytes);
  auto stream = MemoryStreamOf(bytes);
  TKvBufferedStream buffered(new TKvFileStream(path, fmOpenRead), true, 4096);
  const std::shared_ptr<TReadSource> sources[] = {
      TReadSource::OpenFile(path),
      TReadSource::Borrow(*stream, "data.bin"),
      TReadSource::Borrow(buffered, "data.bin"),
      TReadSource::Memory(std::vector<uint8_t>(bytes.begin(), bytes.end()), "data.bin"),
      TReadSource::Cache(*TReadSource::OpenFile(path)),
  };
  for (const auto& s : sources) {
    SCOPED_TRACE(s->Name());
    EXPECT_EQ(s->Size(), int64_t(bytes.size()));
    EXPECT_EQ(s->Data() != nullptr, s == sources[3] || s == sources[4]);
    // Out of order, across buffer windows, up to the last byte.
    for (int64_t at : {int64_t(99990), int64_t(0), int64_t(4090), int64_t(50000)}) {
      std::string got(10, '\0');
      s->ReadAt(at, got.data(), 10);
      EXPECT_EQ(got, bytes.substr(size_t(at), 10)) << at;
    }
    int32_t v;
    std::memcpy(&v, bytes.data() + 8, 4);
    EXPECT_EQ(s->ReadInt32At(8), v);
    s->ReadAt(int64_t(bytes.size()), nullptr, 0);  // nothing at the very end is fine
    char c;
    for (int64_t at : {int64_t(bytes.size()), int64_t(-1)})
      EXPECT_EQ(MessageOf<EReadError>([&] { s->ReadAt(at, &c, 1); }), "Stream read error") << at;
    EXPECT_EQ(MessageOf<EReadError>([&] { (void)s->ReadInt64At(int64_t(bytes.size()) - 4); }), "Stream read error");
  }
  EXPECT_EQ(sources[0]->Name(), path);
}

TEST_F(ReadSource, MessagesOfTheFileChecks) {
  EXPECT_EQ(MessageOf<EWrongFileSize>([] { RaiseWrongFileSize("/n/coord3.bin", 17, 32); }),
            "Wrong size of /n/coord3.bin: 17 bytes, expected 32");
  EXPECT_EQ(MessageOf([] { RaiseCorrupted("index2.bin", "0 buckets"); }),
            "Network file index2.bin is corrupted (0 buckets)");
  // A folder of the name is no file.
  std::filesystem::create_directories(dir / "link.bin");
  for (const std::string name : {"link.bin", "node.bin"})
    EXPECT_EQ(MessageOf<EFileMissing>([&] { CheckFileExists(fTemp.File(name)); }),
              "File is missing: " + fTemp.File(name));
  CheckFileExists(Make("node.bin", "x"));
}
