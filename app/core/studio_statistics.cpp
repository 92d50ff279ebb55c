#include "app/core/studio_statistics.h"

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

  const float* len = In.Lengths.data();
  const int32_t* from = In.Fromnodes.data();
  const int32_t* to = In.Tonodes.data();
  const uint32_t* cds = In.CulDeSacs.data();
  const uint16_t* attr = words ? In.AttributeWords.data() : nullptr;
  std::array<const uint8_t*, 3> lim{};
  for (size_t k = 0; k < 3; ++k)
    if (In.LimitTicked[k]) lim[k] = In.Limits[k].data();

  // The network's Length: every link summed in double.
  double total = 0;
  for (size_t l = 1; l < n; ++l) {
    const float d = len[l];
    total += d;
    if (d == 0) {
      ++t.Invalid;
      continue;
    }
    t.Loops += from[l] == to[l];
    t.CulDeSacs += (cds[l >> 5] >> (l & 31)) & 1u;
    if (In.Attributes) {
      const uint32_t w = attr ? attr[l] : 0;
      ++t.ClassCount[w & 31];
      t.ClassLength[w & 31] += d;
      ++t.Hierarchy[(w >> 5) & 7];
      for (int b = 8; b < 16; ++b) t.Bits[size_t(b)] += (w >> b) & 1u;
      t.BothOneway += (w >> 9) & (w >> 10) & 1u;
    }
    for (size_t k = 0; k < 3; ++k)
      if (lim[k]) ++t.Limit[k][lim[k][l]];
  }
  t.Total = total;
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
