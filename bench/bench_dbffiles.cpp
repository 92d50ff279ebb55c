// Column reads and writes of a 10^6-record .dbf through TDbfFile, against a
// baseline that reads 1 MiB blocks and copies each field with memcpy plus a
// byte-table decode, and against GDAL's OGR reader (loaded at run time) for scale.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "foundation/kovra_dbffiles.h"
#include "platform/kovra_sysutils.h"

namespace {

constexpr int64_t cRecords = 1000000;
// Fields: VALUE N(12,3), NAME C(20), ID N(10,0); record = flag + 42 bytes.
constexpr int cValuePos = 1, cValueWidth = 12;
constexpr int cNamePos = 13, cNameWidth = 20;
constexpr int cRecLen = 1 + 12 + 20 + 10;
constexpr int cHeader = 32 + 3 * 32 + 1;

const std::string& TablePath() {
  static const std::string path = [] {
    std::string p = (std::filesystem::temp_directory_path() / "kovra_bench_dbffiles.dbf").string();
    if (std::filesystem::exists(p) && std::filesystem::file_size(p) == uint64_t(cHeader + cRecords * cRecLen + 1))
      return p;
    FILE* f = std::fopen(p.c_str(), "wb");
    uint8_t h[32] = {3, 124, 1, 1};
    int32_t n = int32_t(cRecords);
    std::memcpy(h + 4, &n, 4);
    uint16_t hs = cHeader, rl = cRecLen;
    std::memcpy(h + 8, &hs, 2);
    std::memcpy(h + 10, &rl, 2);
    h[29] = 0x57;
    std::fwrite(h, 1, 32, f);
    auto desc = [&](const char* name, char type, int w, int d) {
      uint8_t b[32] = {};
      std::memcpy(b, name, std::strlen(name));
      b[11] = uint8_t(type);
      b[16] = uint8_t(w);
      b[17] = uint8_t(d);
      std::fwrite(b, 1, 32, f);
    };
    desc("VALUE", 'N', 12, 3);
    desc("NAME", 'C', 20, 0);
    desc("ID", 'N', 10, 0);
    std::fputc(0x0D, f);
    std::string rec;
    for (int64_t r = 1; r <= cRecords; ++r) {
      std::string v = kovra::FloatToStrFixed(double(r % 100000) * 1.25 - 5000.5, 3);
      std::string name = "Street " + std::to_string(r) + " \xE4";
      std::string id = std::to_string(r);
      rec.assign(1, ' ');
      rec += std::string(size_t(cValueWidth) - v.size(), ' ') + v;
      rec += name + std::string(size_t(cNameWidth) - name.size(), ' ');
      rec += std::string(10 - id.size(), ' ') + id;
      std::fwrite(rec.data(), 1, rec.size(), f);
    }
    std::fputc(0x1A, f);
    std::fclose(f);
    return p;
  }();
  return path;
}

// cp1252 as a byte table, enough for the baseline's decode step.
const std::array<char16_t, 256>& Table1252() {
  static const std::array<char16_t, 256> t = [] {
    std::array<char16_t, 256> a{};
    for (int i = 0; i < 256; ++i) a[size_t(i)] = char16_t(i);
    return a;
  }();
  return t;
}

// Baseline: 1 MiB blocks, memcpy of the field, table decode into UTF-8.
void BaselineColumn(int pos, int width, bool parse, benchmark::State& state) {
  const auto& table = Table1252();
  std::vector<uint8_t> block(1 << 20);
  std::string text;
  for (auto _ : state) {
    int fd = ::open(TablePath().c_str(), O_RDONLY);
    int64_t done = 0;
    double sum = 0;
    while (done < cRecords) {
      int64_t n = std::min<int64_t>(int64_t(block.size()) / cRecLen, cRecords - done);
      ssize_t got = ::pread(fd, block.data(), size_t(n * cRecLen), off_t(cHeader + done * cRecLen));
      if (got != n * cRecLen) state.SkipWithError("short read");
      for (int64_t k = 0; k < n; ++k) {
        uint8_t field[64];
        std::memcpy(field, block.data() + k * cRecLen + pos, size_t(width));
        text.clear();
        for (int i = 0; i < width; ++i) kovra::AppendUtf8(text, table[field[i]]);
        if (parse) sum += double(text.size());
      }
      done += n;
    }
    ::close(fd);
    benchmark::DoNotOptimize(sum);
    benchmark::DoNotOptimize(text);
  }
  state.SetItemsProcessed(state.iterations() * cRecords);
}

void BM_Baseline_Column(benchmark::State& state) { BaselineColumn(cValuePos, cValueWidth, true, state); }
BENCHMARK(BM_Baseline_Column)->Unit(benchmark::kMillisecond);

void BM_ReadFloat(benchmark::State& state) {
  for (auto _ : state) {
    kovra::TDbfFile t(TablePath(), 0);
    t.Open(false);
    double sum = 0;
    for (int64_t r = 1; r <= cRecords; ++r) sum += t.ReadFloat(0, r);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * cRecords);
}
BENCHMARK(BM_ReadFloat)->Unit(benchmark::kMillisecond);

void BM_Baseline_NameColumn(benchmark::State& state) { BaselineColumn(cNamePos, cNameWidth, false, state); }
BENCHMARK(BM_Baseline_NameColumn)->Unit(benchmark::kMillisecond);

void BM_ReadString(benchmark::State& state) {
  for (auto _ : state) {
    kovra::TDbfFile t(TablePath(), 0);
    t.Open(false);
    size_t total = 0;
    for (int64_t r = 1; r <= cRecords; ++r) total += t.ReadString(1, r).size();
    benchmark::DoNotOptimize(total);
  }
  state.SetItemsProcessed(state.iterations() * cRecords);
}
BENCHMARK(BM_ReadString)->Unit(benchmark::kMillisecond);

// GDAL's OGR reading the same column, for scale (skipped when libgdal is absent).
void BM_Ogr_ReadFloat(benchmark::State& state) {
  void* lib = dlopen("libgdal.so.32", RTLD_NOW | RTLD_LOCAL);
  if (!lib) lib = dlopen("libgdal.so", RTLD_NOW | RTLD_LOCAL);
  if (!lib) {
    state.SkipWithError("libgdal not found");
    return;
  }
  auto allRegister = reinterpret_cast<void (*)()>(dlsym(lib, "GDALAllRegister"));
  auto openEx = reinterpret_cast<void* (*)(const char*, unsigned, const char* const*, const char* const*,
                                           const char* const*)>(dlsym(lib, "GDALOpenEx"));
  auto getLayer = reinterpret_cast<void* (*)(void*, int)>(dlsym(lib, "GDALDatasetGetLayer"));
  auto nextFeature = reinterpret_cast<void* (*)(void*)>(dlsym(lib, "OGR_L_GetNextFeature"));
  auto asDouble = reinterpret_cast<double (*)(void*, int)>(dlsym(lib, "OGR_F_GetFieldAsDouble"));
  auto destroy = reinterpret_cast<void (*)(void*)>(dlsym(lib, "OGR_F_Destroy"));
  auto close = reinterpret_cast<void (*)(void*)>(dlsym(lib, "GDALClose"));
  allRegister();
  for (auto _ : state) {
    void* ds = openEx(TablePath().c_str(), 0x04 /* GDAL_OF_VECTOR */, nullptr, nullptr, nullptr);
    void* layer = getLayer(ds, 0);
    double sum = 0;
    while (void* f = nextFeature(layer)) {
      sum += asDouble(f, 0);
      destroy(f);
    }
    close(ds);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * cRecords);
}
BENCHMARK(BM_Ogr_ReadFloat)->Unit(benchmark::kMillisecond);

// Writes: the baseline formats each value into 1 MiB blocks read and written back.
const std::string& WriteCopyPath() {
  static const std::string p = [] {
    std::string c = (std::filesystem::temp_directory_path() / "kovra_bench_dbffiles_w.dbf").string();
    std::filesystem::copy_file(TablePath(), c, std::filesystem::copy_options::overwrite_existing);
    return c;
  }();
  return p;
}

kovra::TCostArray CostValues() {
  kovra::TCostArray v(size_t(cRecords) + 1);
  for (size_t r = 1; r < v.size(); ++r) v[r] = float(double(r % 7919) * 0.5 - 1000.25);
  return v;
}

void BM_Baseline_WriteColumn(benchmark::State& state) {
  kovra::TCostArray values = CostValues();
  std::vector<uint8_t> block(1 << 20);
  for (auto _ : state) {
    int fd = ::open(WriteCopyPath().c_str(), O_RDWR);
    int64_t done = 0;
    while (done < cRecords) {
      int64_t n = std::min<int64_t>(int64_t(block.size()) / cRecLen, cRecords - done);
      off_t at = off_t(cHeader + done * cRecLen);
      if (::pread(fd, block.data(), size_t(n * cRecLen), at) != n * cRecLen) state.SkipWithError("short read");
      for (int64_t k = 0; k < n; ++k) {
        std::string s = kovra::FloatToStrFixed(values[size_t(done + k + 1)], 3);
        uint8_t field[cValueWidth];
        std::memset(field, ' ', cValueWidth);
        std::memcpy(field + cValueWidth - s.size(), s.data(), s.size());
        std::memcpy(block.data() + k * cRecLen + cValuePos, field, cValueWidth);
      }
      if (::pwrite(fd, block.data(), size_t(n * cRecLen), at) != n * cRecLen) state.SkipWithError("short write");
      done += n;
    }
    ::close(fd);
  }
  state.SetItemsProcessed(state.iterations() * cRecords);
}
BENCHMARK(BM_Baseline_WriteColumn)->Unit(benchmark::kMillisecond);

void BM_WriteCostArray(benchmark::State& state) {
  kovra::TCostArray values = CostValues();
  for (auto _ : state) {
    kovra::TDbfFile t(WriteCopyPath(), 0);
    t.Open(true);
    t.WriteCostArray(0, values);
    t.Close();
  }
  state.SetItemsProcessed(state.iterations() * cRecords);
}
BENCHMARK(BM_WriteCostArray)->Unit(benchmark::kMillisecond);

// Text writes: each value converted into the table's code page once.
void BM_WriteString(benchmark::State& state) {
  const uint16_t cp = uint16_t(state.range(0));
  std::vector<std::string> names;
  for (int64_t r = 1; r <= 100000; ++r) names.push_back("Stra\xC3\x9F" "e " + std::to_string(r) + " \xC3\xA4x");
  for (auto _ : state) {
    kovra::TDbfFile t(WriteCopyPath(), cp);
    t.Open(true);
    for (int64_t r = 1; r <= int64_t(names.size()); ++r) t.WriteString(1, r, names[size_t(r - 1)]);
    t.Close();
  }
  state.SetItemsProcessed(state.iterations() * int64_t(names.size()));
}
BENCHMARK(BM_WriteString)->Arg(1252)->Arg(65001)->Arg(932)->Unit(benchmark::kMillisecond);

// Many small tables without a .cpg in one folder that holds other files too:
// each table's code page lookup ends in a case-insensitive scan of the folder.
const std::vector<std::string>& ManyTables() {
  static const std::vector<std::string> names = [] {
    const auto dir = std::filesystem::temp_directory_path() / "kovra_bench_dbffiles_many";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    // One record, one field N(4): 32 + 32 + 1 header bytes, 5-byte records.
    std::string table(32, '\0');
    const uint8_t head[12] = {3, 124, 1, 1, 1, 0, 0, 0, 65, 0, 5, 0};
    std::memcpy(table.data(), head, sizeof head);
    table[29] = char(0x57);
    std::string field(32, '\0');
    field.replace(0, 2, "ID");
    field[11] = 'N';
    field[16] = 4;
    table += field + "\r   42\x1A";
    std::vector<std::string> v;
    for (int i = 0; i < 400; ++i) {
      const std::string base = (dir / ("t" + std::to_string(i))).string();
      for (const char* ext : {".shp", ".shx", ".prj"}) std::fclose(std::fopen((base + ext).c_str(), "wb"));
      FILE* f = std::fopen((base + ".dbf").c_str(), "wb");
      std::fwrite(table.data(), 1, table.size(), f);
      std::fclose(f);
      v.push_back(base + ".dbf");
    }
    return v;
  }();
  return names;
}

void BM_OpenManyTablesOfOneFolder(benchmark::State& state) {
  const auto& names = ManyTables();
  for (auto _ : state) {
    kovra::TDbfFiles seq(0);
    seq.Add(names);
    seq.Open();
    benchmark::DoNotOptimize(seq.RecordCount());
  }
  state.SetItemsProcessed(state.iterations() * int64_t(names.size()));
}
BENCHMARK(BM_OpenManyTablesOfOneFolder)->Unit(benchmark::kMillisecond);

}  // namespace
