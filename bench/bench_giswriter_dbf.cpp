// DBF and shapefile writers: 1 million records of 10 mixed columns.
//  - the buffered DBF writer against fwrite of the same record bytes in 1 MiB
//    chunks, and against field-by-field writes to an unbuffered file stream;
//  - SHP+DBF of 5-point lines against the MIF writer on the same records.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "foundation/kovra_io.h"
#include "giswriter/kovra_giswriter.h"
#include "giswriter/kovra_giswriter_dbf.h"
#include "giswriter/kovra_giswriter_text.h"

using namespace kovra;

namespace {

constexpr int cRecords = 1000000;

std::string TempName(const std::string& Name) {
  return (std::filesystem::temp_directory_path() / ("kovra_bench_" + std::to_string(::getpid()) + "_" + Name))
      .string();
}

void RemoveSet(const std::string& Base) {
  for (const char* ext : {".dbf", ".shp", ".shx", ".prj", ".cpg", ".mif", ".mid"}) {
    std::error_code ec;
    std::filesystem::remove(Base + ext, ec);
  }
}

// 1000 distinct attribute texts, used in turn.
const std::vector<std::string>& Attribs() {
  static const std::vector<std::string> list = [] {
    std::vector<std::string> v;
    for (int i = 0; i < 1000; ++i) {
      v.push_back(std::to_string(i * 7919) + ",\"Main Street " + std::to_string(i) + "\"," +
                  std::to_string(i * 0.125) + "," + std::to_string(i % 97) + ".25," + std::to_string(i % 300) +
                  "," + (i % 2 ? "T" : "F") + ",20261209," + std::to_string(int64_t(i) * 123456789) + ",X" +
                  std::to_string(i % 10) + "," + std::to_string(i * 1.5e-3));
    }
    return v;
  }();
  return list;
}

void DeclareColumns(TGISWriter& w) {
  w.AddField("ID", gfInteger, 0, 0);
  w.AddField("NAME", gfChar, 20, 0);
  w.AddField("LENGTH", gfFloat, 0, 0);
  w.AddField("SPEED", gfDecimal, 10, 2);
  w.AddField("CLASS", gfSmallInt, 0, 0);
  w.AddField("ONEWAY", gfLogical, 0, 0);
  w.AddField("DATE", gfDate, 0, 0);
  w.AddField("EXTID", gfInt64, 0, 0);
  w.AddField("CODE", gfChar, 10, 0);
  w.AddField("COST", gfFloat, 0, 0);
}

void BM_DBFWriter(benchmark::State& state) {
  const std::string base = TempName("dbf");
  const auto& attribs = Attribs();
  for (auto _ : state) {
    TGISWriterDBF w;
    w.FileName = base;
    w.StartHeader(10, otNone);
    DeclareColumns(w);
    for (int i = 0; i < cRecords; ++i) w.AddObject(0, false, attribs[size_t(i) % attribs.size()]);
    w.Close();
  }
  state.SetItemsProcessed(state.iterations() * cRecords);
  RemoveSet(base);
}
BENCHMARK(BM_DBFWriter)->Unit(benchmark::kMillisecond)->Iterations(1);

// The record bytes of the table above, preformatted once.
const std::string& RecordBytes() {
  static const std::string bytes = [] {
    const std::string base = TempName("records");
    TGISWriterDBF w;
    w.FileName = base;
    w.StartHeader(10, otNone);
    DeclareColumns(w);
    for (const std::string& a : Attribs()) w.AddObject(0, false, a);
    w.Close();
    std::string all;
    if (FILE* f = std::fopen((base + ".dbf").c_str(), "rb")) {
      std::fseek(f, 0, SEEK_END);
      all.resize(size_t(std::ftell(f)));
      std::fseek(f, 0, SEEK_SET);
      if (std::fread(all.data(), 1, all.size(), f) != all.size()) all.clear();
      std::fclose(f);
    }
    RemoveSet(base);
    const size_t header = 32 * 10 + 33;
    return all.substr(header, all.size() - header - 1);
  }();
  return bytes;
}

void BM_FwriteRecordBytes(benchmark::State& state) {
  const std::string& rec = RecordBytes();
  const size_t recordLength = rec.size() / 1000;
  const std::string name = TempName("fwrite.dbf");
  std::string chunk;
  for (auto _ : state) {
    FILE* f = std::fopen(name.c_str(), "wb");
    for (int i = 0; i < cRecords; ++i) {
      chunk.append(rec, (size_t(i) % 1000) * recordLength, recordLength);
      if (chunk.size() >= 1048576) {
        std::fwrite(chunk.data(), 1, chunk.size(), f);
        chunk.clear();
      }
    }
    std::fwrite(chunk.data(), 1, chunk.size(), f);
    chunk.clear();
    std::fclose(f);
  }
  state.SetItemsProcessed(state.iterations() * cRecords);
  std::filesystem::remove(name);
}
BENCHMARK(BM_FwriteRecordBytes)->Unit(benchmark::kMillisecond)->Iterations(1);

// The same record bytes through the writers' 1 MiB buffered stream, one
// write per record: the output path of the DBF writer without splitting and
// formatting.
void BM_BufferedRecordBytes(benchmark::State& state) {
  const std::string& rec = RecordBytes();
  const size_t recordLength = rec.size() / 1000;
  const std::string name = TempName("buffered.dbf");
  for (auto _ : state) {
    TKvBufferedStream f(new TKvFileStream(name, fmCreate), true);
    for (int i = 0; i < cRecords; ++i)
      f.WriteBuffer(rec.data() + (size_t(i) % 1000) * recordLength, int32_t(recordLength));
    f.Close();
  }
  state.SetItemsProcessed(state.iterations() * cRecords);
  std::filesystem::remove(name);
}
BENCHMARK(BM_BufferedRecordBytes)->Unit(benchmark::kMillisecond)->Iterations(1);

// The same bytes written field by field (deletion byte, then each column) to
// an unbuffered file stream: a tenth of the records, compare items per second.
void BM_UnbufferedFieldByField(benchmark::State& state) {
  const std::string& rec = RecordBytes();
  const size_t recordLength = rec.size() / 1000;
  const int widths[] = {1, 11, 20, 20, 10, 6, 1, 8, 20, 10, 20};
  const std::string name = TempName("unbuffered.dbf");
  const int records = cRecords / 10;
  for (auto _ : state) {
    TKvFileStream f(name, fmCreate);
    for (int i = 0; i < records; ++i) {
      const char* p = rec.data() + (size_t(i) % 1000) * recordLength;
      for (int w : widths) {
        f.WriteBuffer(p, w);
        p += w;
      }
    }
    f.Close();
  }
  state.SetItemsProcessed(state.iterations() * records);
  std::filesystem::remove(name);
}
BENCHMARK(BM_UnbufferedFieldByField)->Unit(benchmark::kMillisecond)->Iterations(1);

template <typename Writer>
void WriteLines(const std::string& base) {
  const auto& attribs = Attribs();
  Writer w;
  w.FileName = base;
  w.StartHeader(10, otPline);
  DeclareColumns(w);
  TFloatPointArrayEx part;
  part.Pnt.resize(5);
  part.Count = 5;
  for (int i = 0; i < cRecords; ++i) {
    const double x = 5 + (i % 1000) * 0.001, y = 50 + (i / 1000) * 0.001;
    for (int k = 0; k < 5; ++k) part.Pnt[size_t(k)] = TFloatPoint{x + k * 0.0001, y + k * 0.00005};
    w.AddObject(1, false, attribs[size_t(i) % attribs.size()]);
    w.AddSection(0, part);
  }
  w.Close();
}

void BM_SHPLines(benchmark::State& state) {
  const std::string base = TempName("shp");
  for (auto _ : state) WriteLines<TGISWriterSHP>(base);
  state.SetItemsProcessed(state.iterations() * cRecords);
  RemoveSet(base);
}
BENCHMARK(BM_SHPLines)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_MIFLines(benchmark::State& state) {
  const std::string base = TempName("mif");
  for (auto _ : state) WriteLines<TGISWriterMIF>(base);
  state.SetItemsProcessed(state.iterations() * cRecords);
  RemoveSet(base);
}
BENCHMARK(BM_MIFLines)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
