// Typed access through the buffered stream against moving the same bytes with
// plain read/write in 1 MiB blocks and a memcpy per value; typed writes to a
// memory stream against appending to a byte vector.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "foundation/kovra_io.h"

using namespace kovra;

namespace {

constexpr int64_t cCount = 100'000'000;
constexpr size_t cBlock = 1 << 20;

std::string BenchFile() {
  return (std::filesystem::temp_directory_path() / ("kovra_bench_io_" + std::to_string(getpid()) + ".bin"))
      .string();
}

// A file of `bytes` bytes of a simple pattern, in the page cache after writing.
class FileFixture : public benchmark::Fixture {
public:
  void SetUp(const benchmark::State&) override {
    FName = BenchFile();
    int fd = ::open(FName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    std::vector<uint8_t> block(cBlock);
    for (size_t i = 0; i < cBlock; ++i) block[i] = uint8_t(i * 7);
    for (int64_t left = cCount * 8; left > 0; left -= int64_t(cBlock))
      if (::write(fd, block.data(), size_t(std::min<int64_t>(left, cBlock))) < 0) break;
    ::close(fd);
  }
  void TearDown(const benchmark::State&) override { std::filesystem::remove(FName); }

protected:
  std::string FName;
};

template <typename T>
void PlainRead(const std::string& name, int64_t count, benchmark::State& state) {
  int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  std::vector<uint8_t> block(cBlock);
  T sum = 0;
  int64_t done = 0;
  while (done < count) {
    ssize_t n = ::read(fd, block.data(), cBlock);
    if (n <= 0) break;
    for (ssize_t off = 0; off + ssize_t(sizeof(T)) <= n && done < count; off += sizeof(T), ++done) {
      T v;
      std::memcpy(&v, block.data() + off, sizeof(T));
      sum += v;
    }
  }
  ::close(fd);
  benchmark::DoNotOptimize(sum);
  if (done != count) state.SkipWithError("short file");
}

}  // namespace

BENCHMARK_DEFINE_F(FileFixture, BufferedReadInt32)(benchmark::State& state) {
  for (auto _ : state) {
    TKvBufferedStream s(new TKvFileStream(FName, fmOpenRead), true);
    int32_t sum = 0;
    for (int64_t i = 0; i < cCount; ++i) sum += s.ReadInt32();
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK_DEFINE_F(FileFixture, PlainReadInt32)(benchmark::State& state) {
  for (auto _ : state) PlainRead<int32_t>(FName, cCount, state);
}
BENCHMARK_DEFINE_F(FileFixture, BufferedReadDouble)(benchmark::State& state) {
  for (auto _ : state) {
    TKvBufferedStream s(new TKvFileStream(FName, fmOpenRead), true);
    double sum = 0;
    for (int64_t i = 0; i < cCount; ++i) sum += s.ReadDouble();
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK_DEFINE_F(FileFixture, PlainReadDouble)(benchmark::State& state) {
  for (auto _ : state) PlainRead<double>(FName, cCount, state);
}

BENCHMARK_REGISTER_F(FileFixture, BufferedReadInt32)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_REGISTER_F(FileFixture, PlainReadInt32)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_REGISTER_F(FileFixture, BufferedReadDouble)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_REGISTER_F(FileFixture, PlainReadDouble)->Unit(benchmark::kMillisecond)->Iterations(3);

static void BM_BufferedWriteInt32(benchmark::State& state) {
  const std::string name = BenchFile();
  for (auto _ : state) {
    TKvBufferedStream s(new TKvFileStream(name, fmCreate), true);
    for (int64_t i = 0; i < cCount; ++i) s.WriteInt32(int32_t(i));
    s.Close();
  }
  std::filesystem::remove(name);
}
BENCHMARK(BM_BufferedWriteInt32)->Unit(benchmark::kMillisecond)->Iterations(3);

static void BM_PlainWriteInt32(benchmark::State& state) {
  const std::string name = BenchFile();
  for (auto _ : state) {
    int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    std::vector<uint8_t> block(cBlock);
    size_t fill = 0;
    for (int64_t i = 0; i < cCount; ++i) {
      int32_t v = int32_t(i);
      std::memcpy(block.data() + fill, &v, 4);
      fill += 4;
      if (fill == cBlock) {
        if (::write(fd, block.data(), fill) < 0) state.SkipWithError("write");
        fill = 0;
      }
    }
    if (fill > 0 && ::write(fd, block.data(), fill) < 0) state.SkipWithError("write");
    ::close(fd);
  }
  std::filesystem::remove(name);
}
BENCHMARK(BM_PlainWriteInt32)->Unit(benchmark::kMillisecond)->Iterations(3);

static void BM_MemoryStreamWriteInt32(benchmark::State& state) {
  for (auto _ : state) {
    TKvMemoryStream m;
    for (int64_t i = 0; i < cCount; ++i) m.WriteInt32(int32_t(i));
    benchmark::DoNotOptimize(m.Memory());
  }
}
BENCHMARK(BM_MemoryStreamWriteInt32)->Unit(benchmark::kMillisecond)->Iterations(3);

static void BM_VectorAppendInt32(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<uint8_t> v;
    for (int64_t i = 0; i < cCount; ++i) {
      int32_t x = int32_t(i);
      const auto* p = reinterpret_cast<const uint8_t*>(&x);
      v.insert(v.end(), p, p + 4);
    }
    benchmark::DoNotOptimize(v.data());
  }
}
BENCHMARK(BM_VectorAppendInt32)->Unit(benchmark::kMillisecond)->Iterations(3);
