// Road-name pairs, 1M links carrying 50k distinct names.
// - Building: the string tree with its hashed front, the plain balanced tree
//   on the same collation, and a baseline of std::sort + unique of the same
//   names with the same collation; then the whole text build (Import1).
//   Target: the hashed tree within 2x of the baseline.
// - RoadName1 from memory and from the file (pread) against a raw pread of
//   the record. Target: uncached within 1.5x of the raw read.
// - RoadNameID2 from memory and from the file against std::lower_bound over a
//   std::vector<std::u16string> with the same collation. Target: within 1.5x.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "foundation/kovra_collate.h"
#include "foundation/kovra_random.h"
#include "network/kovra_roadnamefile.h"
#include "network/kovra_stringtree.h"

using namespace kovra;

namespace {

constexpr int32_t cLinks = 1'000'000;
constexpr int32_t cNames = 50'000;

class TData {
public:
  TData() {
    const char* syllables[] = {"ber", "lin", "ham", "burg", "ost", "west", "tal", "hof", "feld", "bach",
                               "m\xc3\xbc", "stra", "ring", "weg", "kirch", "dorf", "au", "see", "berg", "wald"};
    const char* kinds[] = {" Street", " Road", " Lane", "stra\xc3\x9f" "e", "weg", " Avenue", " Way", ""};
    TRandom r;
    r.SetSeed(5);
    for (int32_t i = 0; i < cNames; ++i) {
      std::string s;
      const int parts = 2 + r.NextInt(3);
      for (int p = 0; p < parts; ++p) s += syllables[r.NextInt(20)];
      s[0] = char(std::toupper(static_cast<unsigned char>(s[0])));
      s += kinds[r.NextInt(8)];
      s += " " + std::to_string(i % 97);
      Names.push_back(s);
      Names16.push_back(ToUtf16(s));
    }
    for (int32_t l = 0; l < cLinks; ++l) NameOfLink.push_back(r.NextInt(cNames));
    for (int i = 0; i < 1 << 16; ++i) Order.push_back(r.NextInt(cLinks));

    fDir = std::filesystem::temp_directory_path() / ("kovra_bench_roadname_" + std::to_string(getpid()));
    std::filesystem::create_directories(fDir);
    std::ofstream csv(Csv());
    for (int32_t l = 0; l < cLinks; ++l) csv << l + 1 << ",\"" << Names[size_t(NameOfLink[size_t(l)])] << "\"\n";
    csv.close();
    TRoadNameFile b;
    b.Import1({Csv()}, Dir(), 65001, 1, 1);
  }
  ~TData() {
    std::error_code ec;
    std::filesystem::remove_all(fDir, ec);
  }
  std::string Dir() const { return fDir.string() + "/"; }
  std::string Csv() const { return (fDir / "names.csv").string(); }
  int32_t Link(size_t i) const { return Order[i & (Order.size() - 1)] + 1; }
  const std::string& NameOf(size_t i) const { return Names[size_t(NameOfLink[size_t(Link(i)) - 1])]; }

  std::vector<std::string> Names;
  std::vector<std::u16string> Names16;
  std::vector<int32_t> NameOfLink;
  std::vector<int32_t> Order;

private:
  std::filesystem::path fDir;
};

const TData& Data() {
  static TData d;
  return d;
}

class TPlainTree : public TBalancedTree<std::u16string> {
public:
  TPlainTree() : TBalancedTree(12) {}
  int32_t Compare(const std::u16string& a, const std::u16string& b) override { return CompareRoadNames(a, b, false); }
};

void BM_BuildHashedTree(benchmark::State& state) {
  const TData& d = Data();
  for (auto _ : state) {
    TStringTree tree;
    for (int32_t n : d.NameOfLink) tree.Add(d.Names16[size_t(n)]);
    tree.CreateID();
    TKvMemoryStream names, numbers;
    tree.Write(names);
    for (int32_t n : d.NameOfLink) tree.WriteKeyID(numbers, d.Names16[size_t(n)]);
    benchmark::DoNotOptimize(numbers.Size());
  }
}
BENCHMARK(BM_BuildHashedTree)->Unit(benchmark::kMillisecond);

void BM_BuildPlainTree(benchmark::State& state) {
  const TData& d = Data();
  for (auto _ : state) {
    TPlainTree tree;
    for (int32_t n : d.NameOfLink) tree.Add(d.Names16[size_t(n)]);
    tree.CreateID();
    TKvMemoryStream numbers;
    for (int32_t n : d.NameOfLink) numbers.WriteInt32(tree.GetItem(tree.IndexOf(d.Names16[size_t(n)])).id + 1);
    benchmark::DoNotOptimize(numbers.Size());
  }
}
BENCHMARK(BM_BuildPlainTree)->Unit(benchmark::kMillisecond);

void BM_SortUniqueBaseline(benchmark::State& state) {
  const TData& d = Data();
  for (auto _ : state) {
    std::vector<std::u16string> names;
    names.reserve(d.NameOfLink.size());
    for (int32_t n : d.NameOfLink) names.push_back(d.Names16[size_t(n)]);
    std::sort(names.begin(), names.end(),
              [](const std::u16string& a, const std::u16string& b) { return CompareRoadNames(a, b, false) < 0; });
    names.erase(std::unique(names.begin(), names.end()), names.end());
    benchmark::DoNotOptimize(names.size());
  }
}
BENCHMARK(BM_SortUniqueBaseline)->Unit(benchmark::kMillisecond);

// The whole build from a text file of 1M lines, both passes and both files.
void BM_Import1(benchmark::State& state) {
  const TData& d = Data();
  for (auto _ : state) {
    TRoadNameFile b;
    b.Import1({d.Csv()}, d.Dir(), 65001, 2, 1);
  }
}
BENCHMARK(BM_Import1)->Unit(benchmark::kMillisecond);

// Arg: 1 name file in memory, 0 read with pread.
void BM_RoadName1(benchmark::State& state) {
  const TData& d = Data();
  TRoadNameFile r;
  r.Load(d.Dir(), state.range(0) == 1, 0, 1, cLinks);
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(r.RoadName1(d.Link(i++)));
}
BENCHMARK(BM_RoadName1)->Arg(0)->Arg(1);

void BM_PreadBaseline(benchmark::State& state) {
  const TData& d = Data();
  TRoadNameFile r;
  r.Load(d.Dir(), true, 0, 1, cLinks);
  const int fd = open((d.Dir() + RoadNameFileName(1)).c_str(), O_RDONLY);
  const int64_t w = r.MaxRoadNameLength();
  std::vector<char> buf(static_cast<size_t>(w));
  size_t i = 0;
  for (auto _ : state) {
    const int32_t id = r.RoadNameID1(d.Link(i++));
    benchmark::DoNotOptimize(pread(fd, buf.data(), size_t(w), off_t((id - 1) * w)));
  }
  close(fd);
}
BENCHMARK(BM_PreadBaseline);

// Arg: 1 name file in memory, 0 read with pread.
void BM_RoadNameID2(benchmark::State& state) {
  const TData& d = Data();
  TRoadNameFile r;
  r.Load(d.Dir(), state.range(0) == 1, 0, 1, cLinks);
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(r.RoadNameID2(d.NameOf(i++), false));
}
BENCHMARK(BM_RoadNameID2)->Arg(0)->Arg(1);

void BM_LowerBoundBaseline(benchmark::State& state) {
  const TData& d = Data();
  std::vector<std::u16string> sorted = d.Names16;
  auto less = [](const std::u16string& a, const std::u16string& b) { return CompareRoadNames(a, b, false) < 0; };
  std::sort(sorted.begin(), sorted.end(), less);
  size_t i = 0;
  for (auto _ : state) {
    const std::u16string& name = d.Names16[size_t(d.NameOfLink[size_t(d.Link(i++)) - 1])];
    benchmark::DoNotOptimize(std::lower_bound(sorted.begin(), sorted.end(), name, less));
  }
}
BENCHMARK(BM_LowerBoundBaseline);

}  // namespace
