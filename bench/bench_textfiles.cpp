// Text reader, writer and CSV sequence against plain standard-library loops.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "foundation/kovra_csvfiles.h"
#include "foundation/kovra_textfilereader.h"
#include "foundation/kovra_textfilewriter.h"
#include "platform/kovra_codepage.h"
#include "platform/kovra_sysutils.h"

using namespace kovra;
namespace fs = std::filesystem;

namespace {

// Made before and removed after every benchmark (declared first, destroyed last).
struct TempDir {
  fs::path path = fs::temp_directory_path() / ("kovra_bench_text_" + std::to_string(::getpid()));
  TempDir() { fs::create_directories(path); }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
} tempDir;

fs::path BenchDir() { return tempDir.path; }

constexpr int64_t cReaderBytes = 200LL * 1024 * 1024;
constexpr int64_t cLines = 10000000;

// About 200 MB of lines of 40..80 characters; a few non-ASCII letters in
// every line ("é" and "€" are in both encodings).
const std::string& ReaderFile(uint16_t codePage) {
  static std::string utf8, cp1252;
  std::string& path = codePage == 65001 ? utf8 : cp1252;
  if (path.empty()) {
    path = (BenchDir() / (codePage == 65001 ? "reader_utf8.txt" : "reader_1252.txt")).string();
    TTextFileWriter w(path, codePage, false);
    int64_t written = 0;
    uint32_t seed = 12345;
    std::string line;
    while (written < cReaderBytes) {
      seed = seed * 1103515245u + 12345u;
      line = "Stra\xC3\x9F" "e " + std::to_string(seed) + ", caf\xC3\xA9 \xE2\x82\xAC";
      line.append(10 + (seed >> 16) % 40, 'x');
      w.writeln(line);
      written += int64_t(line.size()) + 2;
    }
    w.Close();
  }
  return path;
}

void BM_Reader(benchmark::State& state) {
  const auto codePage = uint16_t(state.range(0));
  const std::string& path = ReaderFile(codePage);
  int64_t bytes = 0;
  for (auto _ : state) {
    TTextFileReader r(path, codePage);
    std::string line;
    int64_t n = 0;
    while (!r.Eof()) {
      r.ReadLine(line);
      n += int64_t(line.size());
    }
    benchmark::DoNotOptimize(n);
    bytes += r.Size();
  }
  state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_Reader)->Arg(1252)->Arg(65001)->Unit(benchmark::kMillisecond);

// Baseline: std::getline on an ifstream, then a 256-entry table decode of the
// line into UTF-8 (for UTF-8 input the table is the identity on bytes).
void BM_ReaderBaseline(benchmark::State& state) {
  const auto codePage = uint16_t(state.range(0));
  const std::string& path = ReaderFile(codePage);
  uint32_t table[256];
  for (int b = 0; b < 256; ++b) {
    std::string u8 = codePage == 65001 ? std::string(1, char(b)) : CodePageToString(std::string(1, char(b)), codePage);
    uint32_t e = uint32_t(u8.size()) << 24;
    for (size_t k = 0; k < u8.size() && k < 3; ++k) e |= uint32_t(uint8_t(u8[k])) << (8 * k);
    table[b] = e;
  }
  int64_t bytes = 0;
  for (auto _ : state) {
    std::ifstream in(path, std::ios::binary);
    std::string raw, line;
    int64_t n = 0;
    while (std::getline(in, raw)) {
      if (!raw.empty() && raw.back() == '\r') raw.pop_back();
      line.resize(raw.size() * 3 + 4);
      char* out = line.data();
      for (unsigned char c : raw) {
        uint32_t e = table[c];
        std::memcpy(out, &e, 4);
        out += e >> 24;
      }
      line.resize(size_t(out - line.data()));
      n += int64_t(line.size());
    }
    benchmark::DoNotOptimize(n);
    bytes += int64_t(fs::file_size(path));
  }
  state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_ReaderBaseline)->Arg(1252)->Arg(65001)->Unit(benchmark::kMillisecond);

const std::vector<std::string>& WriterLines() {
  static const std::vector<std::string> lines = [] {
    std::vector<std::string> v;
    for (int i = 0; i < 1000; ++i) v.push_back("1," + std::to_string(i * 7919) + ",\"Main Street\",12.5,Y");
    return v;
  }();
  return lines;
}

void BM_Writer(benchmark::State& state) {
  const auto codePage = uint16_t(state.range(0));
  const auto& lines = WriterLines();
  std::string path = (BenchDir() / "writer.txt").string();
  for (auto _ : state) {
    TTextFileWriter w(path, codePage, false);
    for (int64_t i = 0; i < cLines; ++i) w.writeln(lines[size_t(i % 1000)]);
    w.Close();
  }
  state.SetItemsProcessed(state.iterations() * cLines);
}
BENCHMARK(BM_Writer)->Arg(65001)->Arg(1252)->Unit(benchmark::kMillisecond);

void BM_WriterBaseline(benchmark::State& state) {
  const auto& lines = WriterLines();
  std::string path = (BenchDir() / "writer_base.txt").string();
  std::vector<char> buffer(1048576);
  for (auto _ : state) {
    FILE* f = std::fopen(path.c_str(), "wb");
    std::setvbuf(f, buffer.data(), _IOFBF, buffer.size());
    for (int64_t i = 0; i < cLines; ++i) {
      const std::string& s = lines[size_t(i % 1000)];
      std::fwrite(s.data(), 1, s.size(), f);
      std::fwrite("\r\n", 1, 2, f);
    }
    std::fclose(f);
  }
  state.SetItemsProcessed(state.iterations() * cLines);
}
BENCHMARK(BM_WriterBaseline)->Unit(benchmark::kMillisecond);

const std::string& CsvFile() {
  static std::string path;
  if (path.empty()) {
    path = (BenchDir() / "fields.csv").string();
    TTextFileWriter w(path, 65001, false);
    for (int64_t i = 0; i < cLines; ++i)
      w.writeln(std::to_string(i) + ",\"Main St\"," + std::to_string(i % 97) + ",-1,0");
    w.Close();
  }
  return path;
}

void BM_CsvRead(benchmark::State& state) {
  const std::string& path = CsvFile();
  for (auto _ : state) {
    TCSVFiles csv(65001);
    csv.Add(path);
    csv.Open();
    int64_t sum = 0, v = 0;
    while (!csv.Eof()) {
      csv.Read(2, v);
      sum += v;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * cLines);
}
BENCHMARK(BM_CsvRead)->Unit(benchmark::kMillisecond);

// Baseline: getline plus a hand-written comma splitter into reused strings and
// a from_chars of the field.
void BM_CsvReadBaseline(benchmark::State& state) {
  const std::string& path = CsvFile();
  for (auto _ : state) {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    std::vector<std::string> fields;
    int64_t sum = 0;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      size_t count = 0, start = 0;
      for (size_t i = 0; i <= line.size(); ++i) {
        if (i == line.size() || line[i] == ',') {
          if (count == fields.size()) fields.emplace_back();
          fields[count++].assign(line, start, i - start);
          start = i + 1;
        }
      }
      fields.resize(count);
      int64_t v = 0;
      if (fields.size() > 2) std::from_chars(fields[2].data(), fields[2].data() + fields[2].size(), v);
      sum += v;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * cLines);
}
BENCHMARK(BM_CsvReadBaseline)->Unit(benchmark::kMillisecond);

}  // namespace
