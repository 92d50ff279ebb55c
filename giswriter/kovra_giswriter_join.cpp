// Joining of the parts of a deferred polyline object, and great-circle
// densification of parts, both applied by the base class before any format
// writer sees a part.
#include <algorithm>
#include <cmath>

#include "foundation/kovra_geometry.h"
#include "giswriter/kovra_giswriter.h"

namespace kovra {

namespace {

constexpr double cPi = 3.141592653589793;
// Below these, the course of a segment is undefined (pole start, antipodal
// ends): such segments get no intermediate points.
constexpr double cDegenerate = 1e-12;

// Points to insert on segment A-B for step StepKm, as a double (it may be
// astronomically large); 0 for degenerate segments.
double SegmentInsertCount(const TFloatPoint& A, const TFloatPoint& B, double StepKm) {
  double angle = GreatCircleAngleDeg(A, B);
  double k = std::trunc(angle * cEarthRadiusKm / StepKm);
  if (!(k >= 1)) return 0;
  if (std::fabs(std::cos(A.y * cDegToRad)) < cDegenerate || std::fabs(std::sin(angle)) < cDegenerate) return 0;
  return k;
}

}  // namespace

void DensifyGreatCircle(TFloatPointArrayEx& SegList, double StepKm) {
  if (!(StepKm > 0)) return;
  const int32_t n = SegList.Count;
  if (n < 2) return;
  if (size_t(n) > SegList.Pnt.size())
    throw EInvalidParameter(Format("Part has %d points but room for only %d", n, SegList.Pnt.size()));
  TFloatPoint* p = SegList.Pnt.data();
  double total = 0;
  for (int32_t i = 0; i + 1 < n; ++i) total += SegmentInsertCount(p[i], p[i + 1], StepKm);
  if (total == 0) return;
  if (double(n) + total > double(MaxInt))
    throw EInvalidParameter(
        Format("GreatCircleDist of %g km gives more than %d points in one part", StepKm, MaxInt));

  const int32_t newCount = n + int32_t(total);
  if (SegList.Pnt.size() < size_t(newCount)) SegList.Pnt.resize(size_t(newCount));
  p = SegList.Pnt.data();
  // From the last segment back, so every original point is read before its
  // slot is overwritten.
  int32_t dst = newCount - 1;
  TFloatPoint b = p[n - 1];
  p[dst] = b;
  for (int32_t i = n - 2; i >= 0; --i) {
    const TFloatPoint a = p[i];
    const int32_t k = int32_t(SegmentInsertCount(a, b, StepKm));
    if (k > 0) {
      const double lat1 = a.y * cDegToRad, lon1 = a.x * cDegToRad;
      const double lat2 = b.y * cDegToRad, lon2 = b.x * cDegToRad;
      const double d = GreatCircleAngleDeg(a, b);
      const double sinLat1 = std::sin(lat1), cosLat1 = std::cos(lat1);
      const double sinLat2 = std::sin(lat2), cosLat2 = std::cos(lat2);
      // Course counted towards the west, as sine and cosine: the components
      // of the initial direction normalised, which stay accurate where the
      // arc-cosine form loses digits (courses near north or south).
      const double dl = lon2 - lon1;
      const double ys = -std::sin(dl) * cosLat2;
      const double xc = cosLat1 * sinLat2 - sinLat1 * cosLat2 * std::cos(dl);
      const double r = std::hypot(ys, xc);
      const double sinTc = ys / r, cosTc = xc / r;
      for (int32_t j = k; j >= 1; --j) {
        const double f = d * j / (k + 1);
        const double sinF = std::sin(f), cosF = std::cos(f);
        const double lat = std::asin(std::clamp(sinLat1 * cosF + cosLat1 * sinF * cosTc, -1.0, 1.0));
        const double dlon = std::atan2(sinTc * sinF * cosLat1, cosF - sinLat1 * std::sin(lat));
        double lon = lon1 - dlon + cPi;
        lon -= cTwoPi * std::floor(lon / cTwoPi);
        if (lon >= cTwoPi) lon -= cTwoPi;
        lon -= cPi;
        p[dst - (k + 1) + j] = TFloatPoint{lon * cRadToDeg, lat * cRadToDeg};
      }
    }
    dst -= k + 1;
    p[dst] = a;
    b = a;
  }
  SegList.Count = newCount;
}

void TGISWriter::StartOptimizedObject(int32_t NumParts, const std::string& Attrib) {
  // A pool still holding parts of an abandoned object must not join into this one.
  if (FFreeIndex > 0) ReleasePool();
  FNumParts = NumParts;
  FOptimizedParts = NumParts;
  FAttrib = Attrib;
  FWrittenParts = 0;
}

void TGISWriter::JoinSection(TFloatPointArrayEx& SegList) {
  const int32_t n = SegList.Count;
  bool continues = false;
  if (FFreeIndex > 0 && n > 0) {
    const TFloatPointArrayEx& prev = FSegments[size_t(FFreeIndex) - 1];
    continues = prev.Count > 0 && prev.Pnt[size_t(prev.Count) - 1] == SegList.Pnt[0];
  }
  if (FFreeItems == 0 && (FFreeIndex == -1 || !continues)) {
    FFreeIndex = int32_t(FSegments.size());
    FSegments.resize(std::max(FSegments.size(), size_t(FNumParts)));
    FFreeItems = int32_t(FSegments.size()) - FFreeIndex;
  }
  ++FWrittenParts;
  if (continues) {
    TFloatPointArrayEx& seg = FSegments[size_t(FFreeIndex) - 1];
    const size_t need = size_t(seg.Count) + size_t(n) - 1;
    // Geometric growth: a long chain of short parts appends in amortised constant time.
    if (seg.Pnt.size() < need) seg.Pnt.resize(std::max(need, seg.Pnt.size() * 2));
    std::copy(SegList.Pnt.begin() + 1, SegList.Pnt.begin() + n, seg.Pnt.begin() + seg.Count);
    seg.Count = int32_t(need);
    --FOptimizedParts;
  } else {
    TFloatPointArrayEx& seg = FSegments[size_t(FFreeIndex)];
    if (seg.Pnt.size() < size_t(n)) seg.Pnt.resize(size_t(n));
    std::copy(SegList.Pnt.begin(), SegList.Pnt.begin() + n, seg.Pnt.begin());
    seg.Count = n;
    --FFreeItems;
    ++FFreeIndex;
  }
}

void TGISWriter::FlushOptimizedObject() {
  int32_t written = -1;  // parts the format writer took; -1 before StartObject
  try {
    // Densify every kept part first: a refused step then leaves the format
    // writer without any piece of the record.
    if (GreatCircleDist > 0)
      for (int32_t i = 0; i < FOptimizedParts; ++i) DensifyGreatCircle(FSegments[size_t(i)], GreatCircleDist);
    FDeferred = false;
    StartObject(FOptimizedParts, FAttrib);
    for (written = 0; written < FOptimizedParts; ++written) {
      FPartIndex = written;
      WriteSection(0, FSegments[size_t(written)]);
    }
  } catch (...) {
    ReleasePool();
    // Once the format writer has begun the record it stays unfinished, as
    // after a refused part: Close takes it out again and reports it. Before
    // that the record is refused whole and the writer takes the next one.
    if (written >= 0) {
      FDeclaredParts = FOptimizedParts;
      FPendingParts = FOptimizedParts - written;
    }
    throw;
  }
  ReleasePool();
}

void TGISWriter::ReleasePool() {
  FFreeItems = int32_t(FSegments.size());
  FFreeIndex = 0;
  FDeferred = false;
}

}  // namespace kovra
