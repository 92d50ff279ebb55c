#include "routing/support/netgen.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "network/kovra_turn.h"

namespace kovra::testsupport {

namespace {

// splitmix64: the whole state in one word, the same numbers everywhere.
class TGenRandom {
public:
  explicit TGenRandom(uint64_t seed) : fState(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull) {}
  uint64_t Next() {
    uint64_t z = (fState += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // [0, 1) with 53 bits.
  double Real() { return double(Next() >> 11) * (1.0 / 9007199254740992.0); }
  bool Chance(double p) { return Real() < p; }
  // 0 .. n - 1
  int32_t Below(int32_t n) { return int32_t(Next() % uint64_t(n)); }

private:
  uint64_t fState;
};

struct TGenLink {
  int32_t a, b;  // generator node ids (from, to)
};

}  // namespace

TGenNetwork GenerateNetwork(const TNetGenOptions& o) {
  TGenNetwork g;
  g.Options = o;
  TGenRandom r(o.Seed);
  TTestNetworkWriter& w = g.Writer;
  w.Unit = o.Degrees ? cuDeg : cuM;
  w.SpatialIndex = o.SpatialIndex;

  const int32_t side = std::max(2, int32_t(std::ceil(std::sqrt(double(std::max(o.Nodes, 4))))));
  const double spacing = o.Degrees ? 0.001 : 100.0;
  const double x0 = o.Degrees ? (o.West ? -71.5 : 12.5) : 500000.0;
  const double y0 = o.Degrees ? (o.South ? -33.5 : 48.1) : 5000000.0;

  // Generator nodes: the grid first, dead-end nodes appended.
  std::vector<TFloatPoint> P;
  P.reserve(size_t(side) * size_t(side));
  for (int32_t row = 0; row < side; ++row)
    for (int32_t col = 0; col < side; ++col)
      P.push_back({x0 + (col + (r.Real() - 0.5) * 0.4) * spacing, y0 + (row + (r.Real() - 0.5) * 0.4) * spacing});
  auto gridNode = [side](int32_t col, int32_t row) { return row * side + col; };

  std::vector<TGenLink> links;
  std::vector<uint16_t> attr;
  std::vector<uint8_t> hairpin;  // per link (0-based)
  // The spokes beside the hairpins: the fast link towards the tip and the
  // slow one back (link ids).
  std::vector<int32_t> spokeFast, spokeSlow;
  TFloatPoint tip{};
  auto hierarchy = [&]() -> uint16_t { return o.Hierarchy ? uint16_t(r.Below(8) << 5) : 0; };
  auto oneway = [&]() -> uint16_t {
    if (r.Chance(o.Closed)) return cAttrOneway;
    if (r.Chance(o.OneWay)) return r.Chance(0.5) ? cAttrOnewayFromTo : cAttrOnewayToFrom;
    return 0;
  };
  auto uturn = [&]() -> uint16_t {
    uint16_t v = 0;
    if (r.Chance(o.NoUTurn)) v |= cAttrUturnFrom;
    if (r.Chance(o.NoUTurn)) v |= cAttrUturnTo;
    return v;
  };
  auto add = [&](int32_t a, int32_t b, bool bent, uint16_t word, bool far = false) {
    TFloatPointArray line{P[size_t(a)]};
    if (bent) {
      const TFloatPoint& A = P[size_t(a)];
      const TFloatPoint& B = P[size_t(b)];
      const double off = far ? 6 + 2 * r.Real() : (r.Real() - 0.5) * 0.5;
      line.push_back({(A.x + B.x) / 2 - (B.y - A.y) * off, (A.y + B.y) / 2 + (B.x - A.x) * off});
      if (far) tip = line.back();
    }
    line.push_back(P[size_t(b)]);
    w.AddLink(line);
    links.push_back({a, b});
    attr.push_back(word);
    hairpin.push_back(far);
  };
  auto gridLink = [&](int32_t a, int32_t b) {
    if (r.Chance(o.Drop)) return;
    if (r.Chance(0.5)) std::swap(a, b);
    // Drawn only when asked for, so that other options give the same networks.
    const bool far = o.CheapBends > 0 && r.Chance(o.CheapBends);
    add(a, b, far || r.Chance(o.Bent), uint16_t(oneway() | hierarchy() | uturn()), far);
    if (far) {
      // A straight spoke from the hairpin's from-node most of the way to its
      // tip, at about the fastest ratio, and a slow link from there to the
      // to-node: A* reaches the tip's neighbourhood early through it.
      const TFloatPoint A = P[size_t(a)];
      P.push_back({A.x + (tip.x - A.x) * 0.85, A.y + (tip.y - A.y) * 0.85});
      const int32_t spoke = int32_t(P.size()) - 1;
      add(a, spoke, false, uint16_t(hierarchy() | uturn()));
      spokeFast.push_back(int32_t(links.size()));
      add(spoke, b, false, uint16_t(hierarchy() | uturn()));
      spokeSlow.push_back(int32_t(links.size()));
    }
    if (r.Chance(o.Parallel)) add(a, b, true, uint16_t(oneway() | hierarchy() | uturn()));
    if (r.Chance(o.Duplicate)) {
      const uint16_t h = hierarchy();
      add(a, b, false, uint16_t(cAttrOnewayFromTo | h));
      add(b, a, false, uint16_t(cAttrOnewayFromTo | h));
    }
  };
  for (int32_t row = 0; row < side; ++row)
    for (int32_t col = 0; col < side; ++col) {
      if (col + 1 < side) gridLink(gridNode(col, row), gridNode(col + 1, row));
      if (row + 1 < side) gridLink(gridNode(col, row), gridNode(col, row + 1));
    }
  // Dead-end trees: up to three levels, up to two branches each, placed
  // inside the grid cell beside their root.
  const int32_t gridCount = int32_t(P.size());
  for (int32_t g0 = 0; g0 < gridCount; ++g0) {
    if (!r.Chance(o.DeadEnds)) continue;
    std::vector<std::pair<int32_t, int32_t>> stack{{g0, 0}};
    while (!stack.empty()) {
      const auto [parent, depth] = stack.back();
      stack.pop_back();
      const int32_t branches = depth == 0 ? 1 : r.Below(3);
      for (int32_t k = 0; k < branches && depth < 3; ++k) {
        const double angle = r.Real() * 6.283185307179586;
        const double len = (0.08 + 0.1 * r.Real()) * spacing;
        P.push_back({P[size_t(parent)].x + std::cos(angle) * len, P[size_t(parent)].y + std::sin(angle) * len});
        const int32_t child = int32_t(P.size()) - 1;
        add(parent, child, false, uint16_t(hierarchy() | uturn() | (r.Chance(o.OneWay) ? cAttrOnewayFromTo : 0)));
        stack.push_back({child, depth + 1});
      }
    }
  }
  // No-drive-through areas: every link with both ends in a 3 x 3 block.
  for (int32_t k = 0; k < o.Areas && side > 3; ++k) {
    const int32_t c0 = r.Below(side - 2), r0 = r.Below(side - 2);
    auto inBlock = [&](int32_t n) {
      if (n >= gridCount) return false;
      const int32_t col = n % side, row = n / side;
      return col >= c0 && col < c0 + 3 && row >= r0 && row < r0 + 3;
    };
    for (size_t i = 0; i < links.size(); ++i)
      if (inBlock(links[i].a) && inBlock(links[i].b)) attr[i] |= cAttrNoDriveThrough;
  }
  const int32_t L = int32_t(links.size());
  // Every link gets its word, so "attribute.bin" exists even when all are 0.
  for (int32_t l = 1; l <= L; ++l) w.SetAttribute(l, attr[size_t(l - 1)]);

  if (o.Limits) {
    std::vector<uint8_t> value(size_t(L), 0), pattern(size_t(L), 0);
    for (int32_t l = 0; l < L; ++l) {
      if (r.Chance(o.LimitShare)) value[size_t(l)] = uint8_t(20 + r.Below(41));
      if (r.Chance(o.LimitShare)) pattern[size_t(l)] = uint8_t(1u << r.Below(8));
    }
    w.SetLimit(1, value);
    w.SetLimit(2, pattern);
  }
  auto column = [&](double lo, double hi) {
    std::vector<float> v(size_t(L) + 1, 0.0f);
    for (int32_t l = 1; l <= L; ++l) v[size_t(l)] = float(lo + (hi - lo) * r.Real());
    return v;
  };
  for (int32_t c = 0; c < o.TimeColumns; ++c) g.Times.push_back(column(0.02, 0.5));
  for (int32_t c = 0; c < o.CostColumns; ++c) g.Costs.push_back(column(0.5, 20.0));
  // A hairpin costs the cheapest value per grid spacing of its chord: about
  // the fastest chord ratio of the other links, and a fifth of it or less
  // per km of its line. Its fast spoke costs a little less per spacing, its
  // slow one the dearest.
  auto chord = [&](int32_t l) {
    const TFloatPoint& A = P[size_t(links[size_t(l - 1)].a)];
    const TFloatPoint& B = P[size_t(links[size_t(l - 1)].b)];
    return std::hypot(B.x - A.x, B.y - A.y) / spacing;
  };
  auto price = [&](int32_t l, double time, double cost) {
    for (auto& t : g.Times) t[size_t(l)] = float(time * chord(l));
    for (auto& c : g.Costs) c[size_t(l)] = float(cost * chord(l));
  };
  for (int32_t l = 1; l <= L; ++l)
    if (hairpin[size_t(l - 1)]) {
      g.Hairpins.push_back(l);
      price(l, 0.02, 0.5);
    }
  for (const int32_t l : spokeFast) price(l, 0.014, 0.35);
  for (const int32_t l : spokeSlow) price(l, 0.5, 20);

  // Restrictions: sequences of links that meet end to end at generator nodes.
  std::vector<std::vector<int32_t>> at(P.size());
  for (int32_t l = 1; l <= L; ++l) {
    at[size_t(links[size_t(l - 1)].a)].push_back(l);
    at[size_t(links[size_t(l - 1)].b)].push_back(l);
  }
  auto other = [&](int32_t l, int32_t n) { return links[size_t(l - 1)].a == n ? links[size_t(l - 1)].b : links[size_t(l - 1)].a; };
  auto value = [&]() { return r.Chance(o.Prohibited) ? -1.0f : float(0.25 * (1 + r.Below(8))); };
  auto restriction = [&](int32_t count) {
    for (int32_t attempt = 0; attempt < 20; ++attempt) {
      std::vector<int32_t> seq{1 + r.Below(L)};
      int32_t node = r.Chance(0.5) ? links[size_t(seq[0] - 1)].a : links[size_t(seq[0] - 1)].b;
      while (int32_t(seq.size()) < count) {
        std::vector<int32_t> next;
        for (const int32_t l : at[size_t(node)])
          if (l != seq.back()) next.push_back(l);
        if (next.empty()) break;
        seq.push_back(next[size_t(r.Below(int32_t(next.size())))]);
        node = other(seq.back(), node);
      }
      if (int32_t(seq.size()) == count) {
        g.Restrictions.push_back({seq, value()});
        return;
      }
    }
  };
  if (L > 0) {
    for (int32_t k = 0; k < o.Restrictions2; ++k) restriction(2);
    for (int32_t k = 0; k < o.Restrictions3; ++k) restriction(3);
  }
  return g;
}

namespace {

std::string WithSlash(const std::string& dir) { return !dir.empty() && dir.back() == '/' ? dir : dir + "/"; }

// The files Write puts into Directory.
void OpenFiles(TNetwork& nw, const std::string& Directory, const TNetGenOptions& o) {
  nw.SetDirectory(WithSlash(Directory));
  nw.Open(true, false, o.SpatialIndex, 0);
  if (o.Limits) {
    nw.OpenLimit(1, 1, false);
    nw.OpenLimit(2, 2, true);
  }
}

}  // namespace

void TGenNetwork::Write(const std::string& Directory) const { Writer.Write(WithSlash(Directory)); }

void TGenNetwork::Open(TNetwork& nw, const std::string& Directory) const {
  OpenFiles(nw, Directory, Options);
  const int32_t L = nw.LinkCount();
  if (!Times.empty()) {
    nw.CreateArrayTime(int32_t(Times.size()));
    for (size_t c = 0; c < Times.size(); ++c)
      for (int32_t l = 1; l <= L; ++l) nw.SetTime_raw(int32_t(c), l, Times[c][size_t(l)]);
  }
  if (!Costs.empty()) {
    nw.CreateArrayCost(int32_t(Costs.size()));
    for (size_t c = 0; c < Costs.size(); ++c)
      for (int32_t l = 1; l <= L; ++l) nw.SetCost_raw(int32_t(c), l, Costs[c][size_t(l)]);
  }
  for (const TGenRestriction& t : Restrictions) nw.TurnSet(0).Add({t.links, t.value});
}

TGeneratedNetwork::TGeneratedNetwork(const TNetGenOptions& Options) : Gen(GenerateNetwork(Options)) {
  static std::atomic<int32_t> counter{0};
  fDir = (std::filesystem::temp_directory_path() /
          ("kovra_netgen_" + std::to_string(getpid()) + "_" + std::to_string(counter++)))
             .string();
  std::filesystem::create_directories(fDir);
  Gen.Write(fDir);
  Gen.Open(NW, fDir);
}

TGeneratedNetwork::~TGeneratedNetwork() {
  NW.Close();
  std::error_code ec;
  std::filesystem::remove_all(fDir, ec);
}

std::string TCachedNetwork::Key(const TNetGenOptions& o) {
  // Bump the version when the generator makes other networks from the same options.
  std::ostringstream k;
  k.precision(17);
  k << "netgen 1 seed " << o.Seed << " nodes " << o.Nodes << " degrees " << o.Degrees << " south " << o.South
    << " west " << o.West << " drop " << o.Drop << " bent " << o.Bent << " oneway " << o.OneWay << " closed "
    << o.Closed << " parallel " << o.Parallel << " duplicate " << o.Duplicate << " deadends " << o.DeadEnds
    << " hierarchy " << o.Hierarchy << " nouturn " << o.NoUTurn << " areas " << o.Areas << " limits " << o.Limits
    << " limitshare " << o.LimitShare << " index " << o.SpatialIndex;
  if (o.CheapBends > 0) k << " cheapbends " << o.CheapBends;
  return k.str();
}

TCachedNetwork::TCachedNetwork(const TNetGenOptions& Options, const std::string& Root) {
  namespace fs = std::filesystem;
  if (Options.TimeColumns != 0 || Options.CostColumns != 0 || Options.Restrictions2 != 0 ||
      Options.Restrictions3 != 0)
    throw std::invalid_argument("a cached network keeps no time or cost columns and no restrictions");
  const std::string key = Key(Options);
  const fs::path dir = fs::path(Root) / ((Options.Degrees ? "deg-" : "m-") + std::to_string(Options.Nodes) + "-seed" +
                                        std::to_string(Options.Seed));
  const fs::path keyFile = dir / "netgen-key.txt";
  Directory = WithSlash(dir.string());
  auto readKey = [&](std::string& line, int32_t& nodes, int32_t& links) {
    std::ifstream in(keyFile);
    return bool(std::getline(in, line) && in >> nodes >> links);
  };
  std::string line;
  int32_t nodes = 0, links = 0;
  if (readKey(line, nodes, links) && line == key) {
    try {
      OpenFiles(NW, dir.string(), Options);
      if (NW.NodeCount() == nodes && NW.LinkCount() == links) return;
    } catch (const std::exception&) {
    }
    try {
      NW.Close();
    } catch (const std::exception&) {
    }
  }
  // Missing or stale: make it again.
  Generated = true;
  const TGenNetwork g = GenerateNetwork(Options);
  const fs::path part = dir.string() + ".part" + std::to_string(getpid());
  fs::remove_all(part);
  fs::create_directories(part);
  g.Write(part.string());
  {
    TNetwork check;
    OpenFiles(check, part.string(), Options);
    std::ofstream out(part / "netgen-key.txt");
    out << key << '\n' << check.NodeCount() << ' ' << check.LinkCount() << '\n';
    check.Close();
    if (!out.flush()) throw std::runtime_error("cannot write " + (part / "netgen-key.txt").string());
  }
  fs::remove_all(dir);
  fs::rename(part, dir);
  OpenFiles(NW, dir.string(), Options);
}

TCachedNetwork::~TCachedNetwork() = default;

int32_t RoutingScale() {
  const char* s = std::getenv("KOVRA_ROUTING_SCALE");
  if (s == nullptr) return 1;
  int32_t v = 1;
  const auto [end, ec] = std::from_chars(s, s + std::strlen(s), v);
  return ec == std::errc() && *end == '\0' && v >= 1 ? v : 1;
}

}  // namespace kovra::testsupport
