// "attribute.bin" from one column of a generated 10^6-record table, as a .dbf
// and as a .csv, against ogr2ogr copying the same column into a CSV
// ("-f CSV -select ATTR"), which reads the same table and writes about as much.
// Target: no slower than that baseline.
// A road-name pair from the NAME column (50,000 distinct names over 10^6
// links) of the same tables, the text one as a .mid with its .mif. Target: no
// slower than the geometry read stage of a shapefile of as many links
// (bench_import).
// External ids: 10^7 Int64 ids and 10^7 text ids of width 12 from the read
// events, index pair written, against std::sort of the same (bucket, id)
// pairs. Target: within 1.5x of the sort. The process's peak resident size
// is reported with each (about 2W + 12 bytes per text id is the goal).
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "foundation/kovra_configfile.h"
#include "foundation/kovra_functions.h"
#include "import/kovra_importattributes.h"
#include "platform/kovra_sysutils.h"

namespace {

namespace fs = std::filesystem;

constexpr int64_t cRecords = 1000000;

fs::path Folder() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / "kovra_bench_importattributes";
    fs::create_directories(d / "out");
    return d;
  }();
  return dir;
}

// ID N(10,0), ATTR N(6,0), NAME C(20): what a road table looks like.
const std::string& DbfPath() {
  static const std::string path = [] {
    const std::string p = (Folder() / "roads50k.dbf").string();
    constexpr int recLen = 1 + 10 + 6 + 20, header = 32 + 3 * 32 + 1;
    if (fs::exists(p) && fs::file_size(p) == uint64_t(header + cRecords * recLen + 1)) return p;
    FILE* f = std::fopen(p.c_str(), "wb");
    uint8_t h[32] = {3, 124, 1, 1};
    const int32_t n = int32_t(cRecords);
    std::memcpy(h + 4, &n, 4);
    const uint16_t hs = header, rl = recLen;
    std::memcpy(h + 8, &hs, 2);
    std::memcpy(h + 10, &rl, 2);
    std::fwrite(h, 1, 32, f);
    auto desc = [&](const char* name, char type, int w) {
      uint8_t b[32] = {};
      std::memcpy(b, name, std::strlen(name));
      b[11] = uint8_t(type);
      b[16] = uint8_t(w);
      std::fwrite(b, 1, 32, f);
    };
    desc("ID", 'N', 10);
    desc("ATTR", 'N', 6);
    desc("NAME", 'C', 20);
    std::fputc(0x0D, f);
    char rec[64];
    for (int64_t r = 1; r <= cRecords; ++r) {
      std::snprintf(rec, sizeof rec, " %10lld%6lld%-20s", static_cast<long long>(r),
                    static_cast<long long>((r * 7919) % 65536), ("Street " + std::to_string(r % 50000)).c_str());
      std::fwrite(rec, 1, recLen, f);
    }
    std::fputc(0x1A, f);
    std::fclose(f);
    return p;
  }();
  return path;
}

const std::string& CsvPath() {
  static const std::string path = [] {
    const std::string p = (Folder() / "roads50k.csv").string();
    if (fs::exists(p)) return p;
    FILE* f = std::fopen(p.c_str(), "wb");
    for (int64_t r = 1; r <= cRecords; ++r)
      std::fprintf(f, "%lld,%lld,\"Street %lld\"\r\n", static_cast<long long>(r),
                   static_cast<long long>((r * 7919) % 65536), static_cast<long long>(r % 50000));
    std::fclose(f);
    return p;
  }();
  return path;
}

void Run(benchmark::State& state, const std::string& Table, int32_t FieldIndex, const char* FieldName,
         kovra::TFileKind Fk) {
  kovra::TImportAttributes a;
  a.SetDirectory((Folder() / "out").string());
  a.Add(Table);
  for (auto _ : state) a.ExecuteAttribute(FieldIndex, FieldName, Fk);
  state.SetItemsProcessed(state.iterations() * cRecords);
}

void BM_ExecuteAttributeDbf(benchmark::State& state) { Run(state, DbfPath(), 0, "ATTR", kovra::fkDBF); }
void BM_ExecuteAttributeCsv(benchmark::State& state) { Run(state, CsvPath(), 1, "", kovra::fkCSV); }

void Ogr(benchmark::State& state, const std::string& Table) {
  const std::string out = (Folder() / "ogr.csv").string();
  // The CSV driver does not overwrite a file: it goes first.
  const std::string cmd =
      "rm -f '" + out + "' && ogr2ogr -f CSV -select ATTR '" + out + "' '" + Table + "' >/dev/null 2>&1";
  for (auto _ : state) {
    if (std::system(cmd.c_str()) != 0) {
      state.SkipWithError("ogr2ogr failed");
      return;
    }
  }
  state.SetItemsProcessed(state.iterations() * cRecords);
}

void BM_Ogr2ogrDbf(benchmark::State& state) { Ogr(state, DbfPath()); }
// A CSV named with field names: ogr2ogr needs a header line to select by name.
void BM_Ogr2ogrCsv(benchmark::State& state) {
  static const std::string named = [] {
    const std::string p = (Folder() / "named.csv").string();
    if (!fs::exists(p)) {
      FILE* f = std::fopen(p.c_str(), "wb");
      std::fputs("ID,ATTR,NAME\r\n", f);
      std::fclose(f);
      std::system(("cat '" + CsvPath() + "' >> '" + p + "'").c_str());
    }
    return p;
  }();
  Ogr(state, named);
}

// The CSV rows as a .mid, and its .mif.
const std::string& MidPath() {
  static const std::string path = [] {
    const std::string p = (Folder() / "roads50k.mid").string();
    if (!fs::exists(p)) fs::copy_file(CsvPath(), p);
    FILE* f = std::fopen((Folder() / "roads50k.mif").string().c_str(), "wb");
    std::fputs("Version 300\nCharset \"WindowsLatin1\"\nDelimiter \",\"\nColumns 3\n  ID Integer\n"
               "  ATTR Integer\n  NAME Char(20)\nData\n",
               f);
    std::fclose(f);
    return p;
  }();
  return path;
}

void Roadname(benchmark::State& state, const std::string& Table, kovra::TFileKind Fk) {
  kovra::TImportAttributes a;
  a.SetDirectory((Folder() / "out").string());
  a.Add(Table);
  for (auto _ : state) a.ExecuteRoadname(0, "NAME", Fk);
  state.SetItemsProcessed(state.iterations() * cRecords);
}

void BM_ExecuteRoadnameMid(benchmark::State& state) { Roadname(state, MidPath(), kovra::fkCSV); }
void BM_ExecuteRoadnameDbf(benchmark::State& state) { Roadname(state, DbfPath(), kovra::fkDBF); }

constexpr int64_t cIds = 10000000;

// A scrambled id of link k, distinct for every k.
inline int64_t IdOf(int64_t k) { return int64_t(uint64_t(k) * 0x9E3779B97F4A7C15ull >> 8); }
std::string TextOf(int64_t k) {
  std::string s = "R" + std::to_string(IdOf(k) % 100000000000);
  return s;
}

void PeakMemory(benchmark::State& state) {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  state.counters["peak_MB"] = double(u.ru_maxrss) / 1024.0;
}

// A folder whose settings file gives the link count, as after an import.
std::string IdFolder() {
  static const std::string dir = [] {
    const fs::path d = Folder() / "ids";
    fs::create_directories(d);
    kovra::WriteConfig(d.string() + "/", false, kovra::cuM, "", "", 0, int32_t(cIds), kovra::TFloatRect{0, 0, 1, 1});
    return d.string();
  }();
  return dir;
}

void BM_ExternalIDInt64Event(benchmark::State& state) {
  kovra::TImportAttributes a;
  a.SetDirectory(IdFolder());
  a.OnReadExternalIDInt = [](kovra::TObject*, int32_t link, int64_t& id, bool& last) {
    id = IdOf(link);
    last = link == cIds;
  };
  for (auto _ : state) a.ExecuteExternalIDintEvent(true);
  state.SetItemsProcessed(state.iterations() * cIds);
  PeakMemory(state);
}

void BM_ExternalIDTextEvent(benchmark::State& state) {
  kovra::TImportAttributes a;
  a.SetDirectory(IdFolder());
  a.OnReadExternalIDString = [](kovra::TObject*, int32_t link, std::string& id, bool& last) {
    id = TextOf(link);
    last = link == cIds;
  };
  for (auto _ : state) a.ExecuteExternalIDStringEvent(12);
  state.SetItemsProcessed(state.iterations() * cIds);
  PeakMemory(state);
}

void BM_SortInt64Pairs(benchmark::State& state) {
  std::vector<std::pair<int64_t, int32_t>> pairs(cIds);
  for (auto _ : state) {
    for (int64_t k = 0; k < cIds; ++k) pairs[size_t(k)] = {IdOf(k + 1), int32_t(k + 1)};
    std::sort(pairs.begin(), pairs.end(), [](const auto& x, const auto& y) {
      const uint64_t bx = uint64_t(x.first) & 255u, by = uint64_t(y.first) & 255u;
      return bx != by ? bx < by : x.first < y.first;
    });
    benchmark::DoNotOptimize(pairs.data());
  }
  state.SetItemsProcessed(state.iterations() * cIds);
}

void BM_SortTextPairs(benchmark::State& state) {
  std::vector<std::pair<uint8_t, std::u16string>> pairs(cIds);
  for (int64_t k = 0; k < cIds; ++k) {
    std::u16string u = kovra::ToUtf16(TextOf(k + 1));
    pairs[size_t(k)] = {uint8_t(kovra::HashString(u, 255)), std::move(u)};
  }
  for (auto _ : state) {
    state.PauseTiming();
    auto copy = pairs;
    state.ResumeTiming();
    std::sort(copy.begin(), copy.end());
    benchmark::DoNotOptimize(copy.data());
  }
  state.SetItemsProcessed(state.iterations() * cIds);
}

BENCHMARK(BM_ExecuteAttributeDbf)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ogr2ogrDbf)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExecuteAttributeCsv)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ogr2ogrCsv)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExecuteRoadnameMid)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExecuteRoadnameDbf)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExternalIDInt64Event)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_SortInt64Pairs)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_ExternalIDTextEvent)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_SortTextPairs)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
