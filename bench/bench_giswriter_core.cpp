// Cost of the writer base class per record: protocol, part handling and
// attribute splitting, into a writer that writes nothing, against the comma
// splitting alone; and the same records deferred for joining. Heap
// allocations per record are counted through a replaced operator new.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "foundation/kovra_csvfiles.h"
#include "giswriter/kovra_giswriter.h"

static std::atomic<int64_t> gAllocations{0};

// Counting replacement of the global allocator (malloc/free underneath).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t n) {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

using namespace kovra;

constexpr int kRecords = 1000000;
constexpr int kTexts = 4096;

const std::vector<std::string>& Texts() {
  static const std::vector<std::string> texts = [] {
    std::vector<std::string> t;
    for (int i = 0; i < kTexts; ++i)
      t.push_back(std::to_string(i * 7919) + ",\"Road " + std::to_string(i) + ", north\"," +
                  std::to_string(i % 97) + ".25,T,2021" + std::to_string(1000 + i % 1000));
    return t;
  }();
  return texts;
}

// Splits the attributes of each record, as every typed writer does, and writes nothing.
class TNullWriter : public TGISWriter {
public:
  void AddPoint(double, double, const std::string& Attrib) override { SplitAttributes(Attrib); }

protected:
  void StartObject(int32_t NumParts, const std::string& Attrib) override {
    TGISWriter::StartObject(NumParts, Attrib);
    SplitAttributes(Attrib);
    ++FWrittenRecords;
  }
  void WriteSection(int32_t Index, TFloatPointArrayEx& SegList) override {
    TGISWriter::WriteSection(Index, SegList);
    benchmark::DoNotOptimize(SegList.Pnt.data());
  }
};

void RunRecords(TNullWriter& w, TFloatPointArrayEx& a, TFloatPointArrayEx& b) {
  const auto& texts = Texts();
  for (int r = 0; r < kRecords; ++r) {
    w.AddObject(2, false, texts[size_t(r % kTexts)]);
    w.AddSection(0, a);
    w.AddSection(0, b);
  }
}

void Writer(benchmark::State& state, bool deferred) {
  TNullWriter w;
  w.SetOptimizePLinesSections(deferred);
  w.StartHeader(5, otPline);
  for (const char* n : {"a", "b", "c", "d", "e"}) w.AddField(n, gfChar, 10, 0);
  // Two parts of five points; the second starts where the first ends.
  TFloatPointArrayEx a, b;
  for (int i = 0; i < 5; ++i) {
    a.Pnt.push_back({double(i), 1.0});
    b.Pnt.push_back({double(i + 4), 1.0});
  }
  a.Count = b.Count = 5;
  RunRecords(w, a, b);  // warm-up: pool, split list and its strings reach their size
  int64_t allocations = 0;
  for (auto _ : state) {
    const int64_t before = gAllocations.load();
    RunRecords(w, a, b);
    allocations += gAllocations.load() - before;
  }
  state.counters["allocs/record"] = double(allocations) / double(state.iterations()) / kRecords;
  state.SetItemsProcessed(state.iterations() * kRecords);
}

void BM_SplitCommaTextAlone(benchmark::State& state) {
  const auto& texts = Texts();
  std::vector<std::string> fields;
  for (int r = 0; r < kTexts; ++r) SplitCommaText(texts[size_t(r)], fields);
  int64_t allocations = 0;
  for (auto _ : state) {
    const int64_t before = gAllocations.load();
    for (int r = 0; r < kRecords; ++r) {
      SplitCommaText(texts[size_t(r % kTexts)], fields);
      benchmark::DoNotOptimize(fields.data());
    }
    allocations += gAllocations.load() - before;
  }
  state.counters["allocs/record"] = double(allocations) / double(state.iterations()) / kRecords;
  state.SetItemsProcessed(state.iterations() * kRecords);
}

void BM_WriterSplitOnly(benchmark::State& state) { Writer(state, false); }
void BM_WriterDeferredChained(benchmark::State& state) { Writer(state, true); }

}  // namespace

BENCHMARK(BM_SplitCommaTextAlone)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriterSplitOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriterDeferredChained)->Unit(benchmark::kMillisecond);
