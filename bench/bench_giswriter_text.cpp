// MIF output of 1 million 5-point polylines with 5 columns, against the same
// bytes formatted with to_chars into a 1 MiB buffer and written with fwrite;
// and the same records into the in-memory table, with the attribute memory
// per value as a counter.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "giswriter/kovra_giswriter.h"
#include "giswriter/kovra_giswriter_array.h"
#include "giswriter/kovra_giswriter_text.h"

namespace {

using namespace kovra;

constexpr int kRecords = 1000000;
constexpr int kPool = 4096;  // distinct records, cycled
constexpr int kPoints = 5;

struct Pool {
  std::vector<std::string> Attrib;
  std::vector<TFloatPointArrayEx> Parts;
};

const Pool& Records() {
  static const Pool pool = [] {
    Pool p;
    uint64_t s = 88172645463325252ull;
    auto next = [&s] {
      s ^= s << 13;
      s ^= s >> 7;
      s ^= s << 17;
      return double(s >> 11) / 9007199254740992.0;
    };
    for (int i = 0; i < kPool; ++i) {
      p.Attrib.push_back(std::to_string(i * 7919) + ",\"Road " + std::to_string(i) + "\"," +
                         std::to_string(i % 97) + ".25,T," + std::to_string(i % 7));
      TFloatPointArrayEx part;
      double x = 5 + 10 * next(), y = 45 + 10 * next();
      for (int k = 0; k < kPoints; ++k) {
        part.Pnt.push_back(TFloatPoint{x, y});
        x += 0.001 * next();
        y += 0.001 * next();
      }
      part.Count = kPoints;
      p.Parts.push_back(part);
    }
    return p;
  }();
  return pool;
}

std::string TempBase() {
  return (std::filesystem::temp_directory_path() / ("kovra_bench_text_" + std::to_string(::getpid()))).string();
}

void Declare(TGISWriter& w) {
  w.StartHeader(5, otPline);
  w.AddField("id", gfInteger, 0, 0);
  w.AddField("name", gfChar, 20, 0);
  w.AddField("length", gfFloat, 0, 0);
  w.AddField("oneway", gfLogical, 0, 0);
  w.AddField("class", gfSmallInt, 0, 0);
}

void BM_MIF(benchmark::State& state) {
  const Pool& pool = Records();
  const std::string base = TempBase();
  for (auto _ : state) {
    TGISWriterMIF w;
    w.FileName = base;
    Declare(w);
    for (int i = 0; i < kRecords; ++i) {
      TFloatPointArrayEx part = pool.Parts[size_t(i % kPool)];
      w.AddObject(1, false, pool.Attrib[size_t(i % kPool)]);
      w.AddSection(0, part);
    }
    w.Close();
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
  std::filesystem::remove(base + ".mif");
  std::filesystem::remove(base + ".mid");
}

// The same bytes without the writer: to_chars into a 1 MiB buffer, fwrite.
class TBufferedFile {
public:
  explicit TBufferedFile(const std::string& Name) : F(std::fopen(Name.c_str(), "wb")), Buf(1 << 20) {}
  ~TBufferedFile() {
    Flush();
    std::fclose(F);
  }
  void Put(const char* p, size_t n) {
    if (Used + n > Buf.size()) Flush();
    std::memcpy(Buf.data() + Used, p, n);
    Used += n;
  }
  void Put(const std::string& s) { Put(s.data(), s.size()); }
  void Number(double v) {
    char b[64];
    auto r = std::to_chars(b, b + sizeof b, v, std::chars_format::general, 15);
    Put(b, size_t(r.ptr - b));
  }
  void Flush() {
    std::fwrite(Buf.data(), 1, Used, F);
    Used = 0;
  }

private:
  FILE* F;
  std::vector<char> Buf;
  size_t Used = 0;
};

void BM_MIFBaseline(benchmark::State& state) {
  const Pool& pool = Records();
  const std::string base = TempBase();
  for (auto _ : state) {
    TBufferedFile mif(base + ".mif"), mid(base + ".mid");
    mif.Put("Version 300\r\nCharSet \"WindowsLatin1\"\r\nDelimiter \",\"\r\nCoordSys Earth Projection 1, 104\r\n"
            "Columns 5\r\n  id Integer\r\n  name Char(20)\r\n  length Float\r\n  oneway Logical\r\n"
            "  class Smallint\r\nData\r\n");
    for (int i = 0; i < kRecords; ++i) {
      TFloatPointArrayEx part = pool.Parts[size_t(i % kPool)];
      mid.Put(pool.Attrib[size_t(i % kPool)]);
      mid.Put("\r\n", 2);
      mif.Put("Pline 5\r\n", 9);
      for (int k = 0; k < kPoints; ++k) {
        mif.Number(part.Pnt[size_t(k)].x);
        mif.Put(" ", 1);
        mif.Number(part.Pnt[size_t(k)].y);
        mif.Put("\r\n", 2);
      }
    }
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
  std::filesystem::remove(base + ".mif");
  std::filesystem::remove(base + ".mid");
}

size_t ValueHeapBytes(const TGISValue& v) {
  if (const auto* s = std::get_if<std::string>(&v)) return s->capacity() > 15 ? s->capacity() + 1 : 0;
  return 0;
}

void BM_Array(benchmark::State& state) {
  const Pool& pool = Records();
  double bytesPerValue = 0;
  for (auto _ : state) {
    TGISWriterArray w;
    Declare(w);
    for (int i = 0; i < kRecords; ++i) {
      TFloatPointArrayEx part = pool.Parts[size_t(i % kPool)];
      w.AddObject(1, false, pool.Attrib[size_t(i % kPool)]);
      w.AddSection(0, part);
    }
    w.Close();
    state.PauseTiming();
    const TGISArray& a = *w.GISarray;
    size_t bytes = 0, values = 0;
    for (int32_t r = 0; r < a.RecCount; ++r) {
      const TRec& rec = a.Rec[size_t(r)];
      bytes += rec.Attr.capacity() * sizeof(TGISValue);
      for (const TGISValue& v : rec.Attr) bytes += ValueHeapBytes(v);
      values += rec.Attr.size();
    }
    bytesPerValue = double(bytes) / double(values);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
  state.counters["bytes_per_value"] = bytesPerValue;
}

}  // namespace

BENCHMARK(BM_MIFBaseline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MIF)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Array)->Unit(benchmark::kMillisecond);
