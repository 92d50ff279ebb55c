#include "app/core/studio_statistics.h"

#include <bit>
#include <memory>

#include "app/core/studio_area.h"
#include "foundation/kovra_configfile.h"
#include "network/kovra_network.h"
#include "platform/kovra_sysutils.h"

namespace studio {

namespace {

using kovra::IntToStr;

// Rounded half to even; NaN or a value beyond Int64 raises EInvalidOp.
std::string R(double x) { return IntToStr(kovra::Round(x)); }

// Attribute bits with a line of their own, in the report's order; bits 9
// and 10 together get the line after bit 10.
constexpr int cBothOneway = -1;
struct TBitLine {
  int Bit;
  const char* Text;
};
constexpr TBitLine cBitLines[] = {
    {8, " links marked as no-drive through"},
    {9, " links marked as oneway - forward direction"},
    {10, " links marked as oneway - reverse direction"},
    {cBothOneway, " links closed (oneway in both directions)"},
    {11, " links marked as roundabout"},
    {12, " links marked as non-driving (ferries etc)"},
    {13, " links marked for no U-turn at from-node"},
    {14, " links marked for no U-turn at to-node"},
    {15, " links marked for skip in spatial search"},
};

// Everything the report counts, gathered in one pass over the links.
struct TTally {
  int64_t Invalid = 0, Loops = 0, CulDeSacs = 0;
  double Total = 0;
  std::array<int64_t, 32> ClassCount{};
  std::array<double, 32> ClassLength{};
  std::array<int64_t, 8> Hierarchy{};
  std::array<int64_t, 16> Bits{};
  int64_t BothOneway = 0;
  std::array<std::array<int64_t, 256>, 3> Limit{};
};

void RequireLength(size_t Have, size_t Need, const char* What) {
  if (Have < Need)
    throw kovra::EInvalidParameter(kovra::Format("Statistics: %s holds %d values, expected %d", What,
                                                 int64_t(Have), int64_t(Need)));
}

// Histograms that take one increment per link are kept in several copies,
// one per link number modulo cWays: consecutive links often carry the same
// value, and one counter bumped link after link waits on its own store.
constexpr size_t cWays = 4;
using THistogram = std::array<std::array<uint32_t, 256>, cWays>;

// Counts of at most 8 kinds kept in the 8 bytes of one register: a link
// adds 1 to the byte of each kind it has, and the bytes go to the totals
// every 255 links, before they can overflow. No store per link.
struct TByteLanes {
  std::array<int64_t, 8> Total{};
};
// The lanes of the set bits of a byte: bit b to byte b.
constexpr std::array<uint64_t, 256> cBitLanes = [] {
  std::array<uint64_t, 256> a{};
  for (size_t v = 0; v < 256; ++v)
    for (size_t b = 0; b < 8; ++b)
      if ((v >> b) & 1) a[v] |= uint64_t(1) << (8 * b);
  return a;
}();

// The counts of the pass.
struct TPass {
  int64_t Invalid = 0, Loops = 0, InvalidCulDeSacs = 0, BothOneway = 0;
  double Total = 0;
  std::array<std::array<uint32_t, 32>, cWays> ClassCount{};
  std::array<std::array<double, 32>, 2> ClassLength{};
  TByteLanes HighBits, Hierarchy;  // bits 8..15 of the word; levels 0..7
  std::array<THistogram, 3> Limit{};
};

// The lanes of a hierarchy level: 1 in byte h.
constexpr std::array<uint64_t, 8> cLevelLanes = {
    uint64_t(1),       uint64_t(1) << 8,  uint64_t(1) << 16, uint64_t(1) << 24,
    uint64_t(1) << 32, uint64_t(1) << 40, uint64_t(1) << 48, uint64_t(1) << 56,
};

// One instance per case, so the loop carries no test of options.
template <bool Words, size_t LimCount>
void Pass(const StatsInput& In, const std::array<const uint8_t*, 3>& Lim, TPass& p) {
  const size_t n = size_t(In.LinkCount) + 1;
  const float* len = In.Lengths.data();
  const int32_t* from = In.Fromnodes.data();
  const int32_t* to = In.Tonodes.data();
  const uint32_t* cds = In.CulDeSacs.data();
  const uint16_t* attr = In.AttributeWords.data();
  // The network's Length: every link summed in double, in link order.
  double total = 0;
  // Counts in registers: the histograms' stores would keep them in memory.
  int64_t invalid = 0, loops = 0, invalidCds = 0, both = 0;
  uint64_t bits = 0, levels = 0;
  uint32_t pending = 0;
  auto flush = [&] {
    for (size_t b = 0; b < 8; ++b) {
      p.HighBits.Total[b] += int64_t((bits >> (8 * b)) & 255);
      p.Hierarchy.Total[b] += int64_t((levels >> (8 * b)) & 255);
    }
    bits = levels = 0;
    pending = 0;
  };
  for (size_t l = 1; l < n; ++l) {
    const float d = len[l];
    total += d;
    if (d == 0) {
      ++invalid;
      invalidCds += (cds[l >> 5] >> (l & 31)) & 1u;
      continue;
    }
    loops += from[l] == to[l];
    const size_t way = l & (cWays - 1);
    if constexpr (Words) {
      const uint32_t w = attr[l];
      ++p.ClassCount[way][w & 31];
      p.ClassLength[l & 1][w & 31] += d;
      bits += cBitLanes[w >> 8];
      levels += cLevelLanes[(w >> 5) & 7];
      // Bits 9 and 10 together.
      both += (w >> 9) & (w >> 10) & 1u;
      if (++pending == 255) flush();
    }
    for (size_t k = 0; k < LimCount; ++k) ++p.Limit[k][way][Lim[k][l]];
  }
  flush();
  p.Total = total;
  p.Invalid = invalid;
  p.Loops = loops;
  p.InvalidCulDeSacs = invalidCds;
  p.BothOneway = both;
}

uint64_t Sum(const THistogram& H, size_t Value) {
  uint64_t s = 0;
  for (const auto& way : H) s += way[Value];
  return s;
}

TTally Tally(const StatsInput& In) {
  const int32_t L = In.LinkCount;
  TTally t;
  if (L <= 0) return t;
  const size_t n = size_t(L) + 1;
  RequireLength(In.Lengths.size(), n, "Lengths");
  RequireLength(In.Fromnodes.size(), n, "Fromnodes");
  RequireLength(In.Tonodes.size(), n, "Tonodes");
  RequireLength(In.CulDeSacs.size(), (n + 31) / 32, "CulDeSacs");
  const bool words = In.Attributes && !In.AttributeWords.empty();
  if (words) RequireLength(In.AttributeWords.size(), n, "AttributeWords");
  std::array<const uint8_t*, 3> lim{};
  std::array<size_t, 3> limSlot{};
  size_t limCount = 0;
  for (size_t k = 0; k < 3; ++k)
    if (In.LimitTicked[k]) {
      limSlot[limCount] = k;
      lim[limCount++] = In.Limits[k].data();
    }

  auto p = std::make_unique<TPass>();
  using TPassFn = void (*)(const StatsInput&, const std::array<const uint8_t*, 3>&, TPass&);
  static constexpr TPassFn cPasses[2][4] = {
      {Pass<false, 0>, Pass<false, 1>, Pass<false, 2>, Pass<false, 3>},
      {Pass<true, 0>, Pass<true, 1>, Pass<true, 2>, Pass<true, 3>},
  };
  cPasses[words][limCount](In, lim, *p);

  t.Invalid = p->Invalid;
  t.Loops = p->Loops;
  t.Total = p->Total;
  // Cul-de-sac bits of links 1..L, less those of invalid links.
  int64_t cds = 0;
  for (size_t i = 0; i < (n + 31) / 32; ++i) {
    uint32_t w = In.CulDeSacs[i];
    if (i == 0) w &= ~1u;
    if (i == n / 32) w &= (1u << (n % 32)) - 1;
    cds += std::popcount(w);
  }
  t.CulDeSacs = cds - p->InvalidCulDeSacs;
  if (In.Attributes && !words) {
    // Attributes not opened: every valid link reads 0.
    p->ClassCount[0][0] = uint32_t(L - t.Invalid);
    p->ClassLength[0][0] = t.Total;
    p->Hierarchy.Total[0] = L - t.Invalid;
  }
  for (size_t c = 0; c < 32; ++c) {
    for (const auto& way : p->ClassCount) t.ClassCount[c] += way[c];
    t.ClassLength[c] = p->ClassLength[0][c] + p->ClassLength[1][c];
  }
  for (size_t h = 0; h < 8; ++h) t.Hierarchy[h] = p->Hierarchy.Total[h];
  for (size_t b = 0; b < 8; ++b) t.Bits[8 + b] = p->HighBits.Total[b];
  t.BothOneway = p->BothOneway;
  for (size_t i = 0; i < limCount; ++i)
    for (size_t v = 0; v < 256; ++v) t.Limit[limSlot[i]][v] = int64_t(Sum(p->Limit[i], v));
  return t;
}

}  // namespace

std::vector<std::string> StatisticsReport(const StatsInput& In, kovra::TDistanceUnit Unit, const NumberFormat& Fmt) {
  const int32_t L = In.LinkCount;
  for (size_t k = 0; k < 3; ++k)
    if (In.LimitTicked[k] && (L < 0 || In.Limits[k].size() < size_t(L) + 1))
      throw kovra::Exception(kovra::cMsgInvalidLimitID);
  const TTally t = Tally(In);
  const bool miles = Unit == kovra::duMiles;
  // A length in the report's unit.
  auto dist = [miles](double km) { return miles ? km / cStatKmPerMile : km; };
  const char* distName = miles ? " miles" : " km";

  std::vector<std::string> out;
  out.push_back("Path: " + In.Directory);
  out.emplace_back();
  out.push_back("Coordsys: " + In.Coordsys);
  out.push_back("EPSG: " + IntToStr(In.EPSG));
  out.push_back("PRJ: " + In.PRJ);
  out.emplace_back();
  out.push_back("Coordinate unit: " + kovra::CoordinateUnitName(In.Unit));
  out.emplace_back();
  out.push_back("Links: " + FormatThousands(L, Fmt));
  out.push_back(t.Invalid == 0 ? "No invalid links" : IntToStr(t.Invalid) + " invalid links (see network_report.txt)");
  out.push_back(t.Loops == 0 ? "No loop links" : IntToStr(t.Loops) + " loop links");
  // Without links there is nothing to be a share of: 0 %.
  out.push_back(IntToStr(t.CulDeSacs) + " links are on a cul-de-sac ( " +
                (L > 0 ? R(100.0 * double(t.CulDeSacs) / L) : "0") + "%)");
  out.emplace_back();
  out.push_back("Nodes: " + FormatThousands(In.NodeCount, Fmt));
  out.push_back("Highest degree: " + FormatThousands(In.MaxDegree, Fmt));
  out.emplace_back();
  // T is the network's Length, a Single.
  const double T = float(t.Total);
  out.push_back("Length of network: " + R(dist(T)) + distName);
  out.push_back("Average length of links: " + FormatThousands3(L > 0 ? dist(T / L) : 0.0, Fmt) + distName);
  out.emplace_back();
  const double A = NetworkArea(In.MBR, In.Unit);
  if (A != 0)
    out.push_back("Area of network (MBR): " + (miles ? R(A / cStatKm2PerSqMile) + " sq mi" : R(A) + " km2"));
  out.emplace_back();

  if (In.Attributes) {
    out.push_back("Road Classes");
    for (size_t c = 0; c < 32; ++c)
      if (t.ClassCount[c] > 0)
        out.push_back(IntToStr(int64_t(c)) + ": " + IntToStr(t.ClassCount[c]) + " links, " +
                      R(dist(t.ClassLength[c])) + distName);
    out.emplace_back();
    bool any = false;
    for (size_t h = 1; h <= 5; ++h) any = any || t.Hierarchy[h] > 0;
    if (any) {
      out.push_back("Hierarchy");
      for (size_t h = 0; h <= 5; ++h)
        out.push_back(IntToStr(int64_t(h)) + ": " + IntToStr(t.Hierarchy[h]) + " links");
    } else {
      out.push_back("No hierarchy defined");
    }
    out.emplace_back();
    for (const TBitLine& b : cBitLines) {
      const int64_t count = b.Bit == cBothOneway ? t.BothOneway : t.Bits[size_t(b.Bit)];
      if (count > 0) out.push_back(IntToStr(count) + b.Text);
    }
  }

  for (size_t k = 0; k < 3; ++k) {
    if (!In.LimitTicked[k]) continue;
    out.push_back("Limit " + IntToStr(int64_t(k) + 1) + ":");
    for (size_t v = 1; v < 256; ++v)
      if (t.Limit[k][v] > 0)
        out.push_back("Value " + IntToStr(int64_t(v)) + ": " + IntToStr(t.Limit[k][v]) + " links");
    out.emplace_back();
  }
  return out;
}

}  // namespace studio
