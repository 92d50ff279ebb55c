// Per-link value columns: the attribute words written back, the nine limit
// slots, time and cost columns and the lower-bound factors the searches take
// from them.
//
// Saved files replace the old ones only once they are complete: a full disk
// or a failing write leaves the old file as it was. Loads read the whole file
// before the slot changes. Computed columns never hold NaN or an infinity.
#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "foundation/kovra_encryption.h"
#include "network/kovra_network.h"
#include "network/kovra_roadclassspeed.h"
#include "network/kovra_roadnamefile.h"

namespace kovra {

namespace {

inline constexpr const char* cMsgLimitIDRange = "LimitID should be from 1 to 9, not %d";
inline constexpr const char* cMsgLimitFileSize = "Wrong size of limitfile %d, expected %d";
inline constexpr const char* cMsgMinMax = "Min need to be smaller than Max";
inline constexpr const char* cMsgTimeIndex = "index must be 0 to %d (is %d)";
inline constexpr const char* cMsgCalcCostIndex = "costindex must be 0 to %d (is %d)";
inline constexpr const char* cMsgCalcTimeIndex = "timeindex must be 0 to %d (is %d)";
inline constexpr const char* cMsgTimeValue = "Time should be >0 (is %s)";
inline constexpr const char* cMsgSpeedValue = "Speed should be >0 (is %s)";
inline constexpr const char* cMsgCostValue = "Cost should be >0 (is %s)";
inline constexpr const char* cMsgClassSpeed = "Speed for RoadClass should be >0 (is %s)";

// Values per block of a bulk read or write; progress after each.
inline constexpr int64_t cBlock = int64_t(1) << 16;

void CheckColumn(const TMatrix& M, int32_t index, const char* Message) {
  if (index < 0 || size_t(index) >= M.size()) throw EOutOfRange(Format(Message, int32_t(M.size()) - 1, index));
}

// A stored value: a NaN or <= 0 (when not allowed) is refused with Message,
// an infinity overflows.
void CheckValue(float v, bool AllowNotPositive, const char* Message) {
  if (std::isnan(v) || (!AllowNotPositive && v <= 0)) throw EOutOfRange(Format(Message, NumberText(v, "%n")));
  if (std::isinf(v)) RaiseOverflow();
}

// Fills Column[1..L] with Value(l). When Safe is false some value may not fit
// a Single: the values are then computed aside and an overflow raises before
// the column changes.
template <typename F>
void FillColumn(TCostArray& Column, int32_t L, bool Safe, F Value) {
  if (Safe) {
    float* c = Column.data();
    for (int32_t l = 1; l <= L; ++l) c[l] = float(Value(l));
    return;
  }
  TCostArray aside(Column.size(), 0.0f);
  for (int32_t l = 1; l <= L; ++l) {
    aside[size_t(l)] = float(Value(l));
    if (!std::isfinite(aside[size_t(l)])) RaiseOverflow();
  }
  aside[0] = Column[0];
  Column.swap(aside);
}

// Below this bound on |value| every value of a column fits a Single, with
// room for the rounding of the arithmetic.
inline bool FitsSingle(double Bound) { return Bound < double(FLT_MAX) * 0.5; }

// d / v rounded to Single, +inf when v <= 0 and d > 0, 0 when both are 0 (a
// NaN value counts as no value).
inline float Ratio(float d, float v) {
  if (v > 0) return float(double(d) / double(v));
  if (v <= 0 && d > 0) return std::numeric_limits<float>::infinity();
  return 0;
}

// 0 switches the bound off: no finite factor is safe for an infinite ratio,
// and no ratio above 0 means nothing to bound.
inline float Factor(float Maximum) {
  if (!(Maximum > 0) || std::isinf(Maximum)) return 0;
  const float f = float(1.0 / double(Maximum));
  return std::isinf(f) ? FLT_MAX : f;
}

}  // namespace

// ---------------------------------------------------------------------------
// Attribute words

void TNetwork::AttributeSave() {
  CheckOpen();
  const int64_t L = FLinkCount;
  SetProgressMaxValue(double(L));
  SetProgressStart(0);
  SetProgressStop(100);
  TFileReplacement file(Directory() + cAttributeFileName);
  T32Encryption cipher(fEncryptionKey);
  cipher.Restart();
  std::vector<uint16_t> block(size_t(std::min(cBlock, L)));
  for (int64_t done = 0; done < L;) {
    const int64_t n = std::min(cBlock, L - done);
    const uint16_t* words = Fattribute.data() + 1 + done;
    if (cipher.KeyActive()) {
      for (int64_t i = 0; i < n; ++i) block[size_t(i)] = cipher.Encode(words[i]);
      file.Write(block.data(), 2 * n);
    } else {
      file.Write(words, 2 * n);  // plain from the first value on, or once the key is spent
    }
    done += n;
    ProgressExecute(double(done));
  }
  file.Commit();
  ProgressExecuteZero();
}

// ---------------------------------------------------------------------------
// Limit slots

std::string TNetwork::LimitFileName(int32_t FileNumber) const {
  return Directory() + kovra::LimitFileName(FileNumber);
}

void TNetwork::CheckLimitID(int32_t limitID) const {
  if (limitID < 1 || limitID > FlimitX) throw Exception(cMsgInvalidLimitID);
}

void TNetwork::OpenLimit(int32_t FileNumber, int32_t LimitID, bool bitpattern) {
  CheckOpen();
  if (LimitID < 1 || LimitID > cLimitSlots) throw EOutOfRange(Format(cMsgLimitIDRange, LimitID));
  const int64_t L = FLinkCount;
  TKvFileStream file(LimitFileName(FileNumber), fmOpenRead | fmShareDenyWrite);
  const int64_t size = file.Size();
  if (size != L) throw EWrongFileSize(Format(cMsgLimitFileSize, size, L));
  std::vector<uint8_t> bytes(size_t(L) + 1, 0);
  for (int64_t done = 0; done < L;) {
    const int32_t n = int32_t(std::min<int64_t>(L - done, 1 << 30));
    file.ReadBuffer(bytes.data() + 1 + done, n);
    done += n;
  }
  T32Encryption cipher(fEncryptionKey);
  cipher.Restart();
  for (int64_t l = 1; l <= L && cipher.KeyActive(); ++l) bytes[size_t(l)] = cipher.Encode(bytes[size_t(l)]);

  const size_t s = size_t(LimitID) - 1;
  FlimitA[s] = std::move(bytes);
  FlimitBP[s] = bitpattern;
  XQDindex[s] = uint8_t(FileNumber);
  uint8_t usable = 0;
  while (usable < cLimitSlots && !FlimitA[usable].empty()) ++usable;
  FlimitX = usable;
  ColumnChanged();
}

void TNetwork::SaveLimit(int32_t FileNumber, int32_t LimitID) {
  CheckOpen();
  if (LimitID < 1 || LimitID > cLimitSlots) throw EOutOfRange(Format(cMsgLimitIDRange, LimitID));
  const std::vector<uint8_t>& slot = FlimitA[size_t(LimitID) - 1];
  // A slot never loaded has no bytes to write.
  if (slot.empty()) throw Exception(cMsgInvalidLimitID);
  const int64_t L = FLinkCount;
  TFileReplacement file(LimitFileName(FileNumber));
  T32Encryption cipher(fEncryptionKey);
  cipher.Restart();
  std::vector<uint8_t> block(size_t(std::min(cBlock, L)));
  for (int64_t done = 0; done < L;) {
    const int64_t n = std::min(cBlock, L - done);
    for (int64_t i = 0; i < n; ++i) block[size_t(i)] = cipher.Encode(slot[size_t(done + i + 1)]);
    file.Write(block.data(), n);
    done += n;
  }
  file.Commit();
}

uint8_t TNetwork::GetLimit(int32_t limitID, int32_t link) const {
  CheckOpen();
  CheckLimitID(limitID);
  CheckLink(link);
  return FlimitA[size_t(limitID) - 1][size_t(link)];
}

bool TNetwork::GetLimitBit(int32_t limitID, int32_t link, uint8_t bit) const {
  const uint8_t v = GetLimit(limitID, link);
  return bit < 8 && ((v >> bit) & 1u);
}

void TNetwork::SetLimit(int32_t limitID, int32_t link, uint8_t value) {
  CheckOpen();
  CheckLimitID(limitID);
  CheckLink(link);
  FlimitA[size_t(limitID) - 1][size_t(link)] = value;
  ColumnChanged();
}

void TNetwork::SetLimitBit(int32_t limitID, int32_t link, uint8_t bit, bool value) {
  CheckOpen();
  CheckLimitID(limitID);
  CheckLink(link);
  if (bit >= 8) return;
  uint8_t& v = FlimitA[size_t(limitID) - 1][size_t(link)];
  const uint8_t mask = uint8_t(1u << bit);
  v = value ? uint8_t(v | mask) : uint8_t(v & ~mask);
  ColumnChanged();
}

void TNetwork::SelectLimit(TBitArray& BA, int32_t LimitID, uint8_t limit_min, uint8_t limit_max) const {
  CheckOpen();
  CheckLimitID(LimitID);
  if (limit_max < limit_min) throw Exception(cMsgMinMax);
  BA.SetSize(int64_t(FLinkCount) + 1);
  const std::vector<uint8_t>& slot = FlimitA[size_t(LimitID) - 1];
  for (int32_t l = 1; l <= FLinkCount; ++l)
    if (FLength[size_t(l)] != 0 && slot[size_t(l)] >= limit_min && slot[size_t(l)] <= limit_max) BA.SetBit2(l, true);
}

void TNetwork::SelectLinksWithLimits(TBitArray& BA, bool includeoneway) const {
  CheckOpen();
  BA.SetSize(int64_t(FLinkCount) + 1);
  for (int32_t l = 1; l <= FLinkCount; ++l) {
    if (FLength[size_t(l)] == 0) continue;
    bool any = includeoneway && OneWayCode(l) != 0;
    for (int32_t s = 0; s < FlimitX && !any; ++s) any = FlimitA[size_t(s)][size_t(l)] != 0;
    if (any) BA.SetBit2(l, true);
  }
}

// ---------------------------------------------------------------------------
// Attribute selections

void TNetwork::Select(TBitArray& BA, int32_t roadclass_min, int32_t roadclass_max, int32_t hierarchy_min,
                      int32_t hierarchy_max, int32_t RoadFileID, int32_t RoadNameID, uint8_t bit8, uint8_t bit9,
                      uint8_t bit10, uint8_t bit11, uint8_t bit12, uint8_t bit13, uint8_t bit14,
                      uint8_t bit15) const {
  CheckOpen();
  if (RoadFileID != 0) CheckRoadNameFile(RoadFileID);
  // Bits 8..15 that must be set (Want) among those that are tested (Mask).
  const uint8_t bits[8] = {bit8, bit9, bit10, bit11, bit12, bit13, bit14, bit15};
  uint16_t mask = 0, want = 0;
  for (int n = 0; n < 8; ++n)
    if (bits[n] <= 1) {
      mask |= uint16_t(1u << (8 + n));
      if (bits[n] == 1) want |= uint16_t(1u << (8 + n));
    }
  const TRoadNameFile* names = RoadFileID != 0 && RoadNameID != 0 ? FRoadNameFiles[size_t(RoadFileID)].get() : nullptr;
  BA.SetSize(int64_t(FLinkCount) + 1);
  for (int32_t l = 1; l <= FLinkCount; ++l) {
    if (FLength[size_t(l)] == 0) continue;
    const uint16_t w = Fattribute[size_t(l)];
    if ((w & mask) != want) continue;
    const int32_t rc = w & cAttrRoadClass, h = (w & cAttrHierarchy) >> 5;
    if (rc < roadclass_min || rc > roadclass_max || h < hierarchy_min || h > hierarchy_max) continue;
    if (names && names->RoadNameID1(l) != RoadNameID) continue;
    BA.SetBit2(l, true);
  }
}

void TNetwork::SkipLinks2BitArray(TBitArray& BA) const {
  // Without checks, but a closed network has no words to read.
  const int32_t L = Fattribute.empty() ? 0 : std::min(FLinkCount, int32_t(Fattribute.size() - 1));
  BA.SetSize(int64_t(FLinkCount) + 1);
  for (int32_t l = 1; l <= L; ++l) BA.SetBit2(l, (Fattribute[size_t(l)] & cAttrSearchLink) != 0);
}

// ---------------------------------------------------------------------------
// Time and cost columns

namespace {

// Grows M to n columns of L + 1 entries, each new one a copy of Lengths.
bool GrowColumns(TMatrix& M, int32_t n, const TCostArray& Lengths) {
  if (n <= int32_t(M.size())) return false;
  M.reserve(size_t(n));
  for (TCostArray& c : M) c.resize(Lengths.size(), 0.0f);
  while (int32_t(M.size()) < n) M.push_back(Lengths);
  return true;
}

}  // namespace

void TNetwork::CreateArrayTime(int32_t n) {
  CheckOpen();
  if (!GrowColumns(FTime, n, FLength)) return;
  FTimeAlphaUpdateNeeded = true;
  ColumnChanged();
}

void TNetwork::CreateArrayCost(int32_t n) {
  CheckOpen();
  if (!GrowColumns(FCost, n, FLength)) return;
  FCostAlphaUpdateNeeded = true;
  ColumnChanged();
}

void TNetwork::CalculateTime(int32_t index, const TRoadClassSpeed& RCS) {
  CheckOpen();
  CheckColumn(FTime, index, cMsgTimeIndex);
  const uint16_t* words = Fattribute.data();
  const float* length = FLength.data();
  std::array<double, cMaxRoadClass + 1> speed{};
  bool allPositive = true;
  for (int32_t c = 0; c <= cMaxRoadClass; ++c) {
    speed[size_t(c)] = RCS.Get(TRoadClass(c));
    allPositive = allPositive && speed[size_t(c)] > 0 && !std::isinf(speed[size_t(c)]);
  }
  // Only a class in use must have a speed; the links are looked at only when
  // some class has none.
  uint32_t used = ~uint32_t(0);
  if (!allPositive) {
    used = 0;
    for (int32_t l = 1; l <= FLinkCount; ++l) used |= uint32_t(1) << (words[l] & cAttrRoadClass);
  }
  double slowest = std::numeric_limits<double>::infinity();
  for (int32_t c = 0; c <= cMaxRoadClass; ++c) {
    if (!(used >> c & 1u)) continue;
    if (!(speed[size_t(c)] > 0) || std::isinf(speed[size_t(c)]))
      throw EOutOfRange(Format(cMsgClassSpeed, NumberText(speed[size_t(c)], "%n")));
    slowest = std::min(slowest, speed[size_t(c)]);
  }
  const bool safe = FitsSingle(double(LongestLink()) / slowest * 60.0);
  FillColumn(FTime[size_t(index)], FLinkCount, safe, [&](int32_t l) {
    return double(length[l]) / speed[words[l] & cAttrRoadClass] * 60.0;
  });
  FTimeAlphaUpdateNeeded = true;
  ColumnChanged();
}

float TNetwork::LongestLink() const {
  // Lengths do not change while the network is open.
  if (fLongestGeneration != fOpenGeneration) {
    float longest = 0;
    for (int32_t l = 1; l <= FLinkCount; ++l) longest = std::max(longest, FLength[size_t(l)]);
    fLongest = longest;
    fLongestGeneration = fOpenGeneration;
  }
  return fLongest;
}

void TNetwork::CalculateCost(int32_t costindex, float weightlength, float weighttime, int32_t timeindex,
                             double maxspeed) {
  CheckOpen();
  CheckColumn(FCost, costindex, cMsgCalcCostIndex);
  const bool useTime = weighttime > 0;
  if (useTime) CheckColumn(FTime, timeindex, cMsgCalcTimeIndex);
  if (!std::isfinite(weightlength) || !std::isfinite(weighttime) || !std::isfinite(maxspeed)) RaiseInvalidOp();

  const double wl = weightlength, wt = weighttime;
  const float* length = FLength.data();
  const float* time = useTime ? FTime[size_t(timeindex)].data() : nullptr;
  // A bound on |cost| tells whether a value might not fit a Single.
  const float longest = LongestLink();
  float slowest = 0;
  if (useTime)
    for (int32_t l = 1; l <= FLinkCount; ++l) slowest = std::max(slowest, std::fabs(time[l]));
  double tBound = slowest;
  if (useTime && maxspeed != 0) tBound = std::max(tBound, std::fabs(double(longest) / maxspeed * 60.0));
  const bool safe = FitsSingle(double(longest) * std::fabs(wl) + (useTime ? tBound * wt : 0.0));

  TCostArray& cost = FCost[size_t(costindex)];
  if (!useTime) {
    FillColumn(cost, FLinkCount, safe, [&](int32_t l) { return double(length[l]) * wl; });
  } else {
    const auto t = [&](int32_t l) {
      double v = time[l];
      if (maxspeed != 0) v = std::max(v, double(length[l]) / maxspeed * 60.0);
      return v;
    };
    if (wl > 0)
      FillColumn(cost, FLinkCount, safe, [&](int32_t l) { return double(length[l]) * wl + t(l) * wt; });
    else
      FillColumn(cost, FLinkCount, safe, [&](int32_t l) { return t(l) * wt; });
  }
  FCostAlphaUpdateNeeded = true;
  ColumnChanged();
}

void TNetwork::SetTime(int32_t index, int32_t link, float time) {
  CheckOpen();
  CheckLink(link);
  CheckColumn(FTime, index, cMsgTimeIndex);
  CheckValue(time, false, cMsgTimeValue);
  SetTime_raw(index, link, time);
}

void TNetwork::SetSpeed(int32_t index, int32_t link, float speed) {
  CheckOpen();
  CheckLink(link);
  CheckColumn(FTime, index, cMsgTimeIndex);
  CheckValue(speed, false, cMsgSpeedValue);
  // A tiny speed gives a time beyond the Single range.
  if (std::isinf(TimeAtSpeed(link, speed))) RaiseOverflow();
  SetSpeed_raw(index, link, speed);
}

void TNetwork::SetCost(int32_t index, int32_t link, float cost) {
  CheckOpen();
  CheckLink(link);
  CheckColumn(FCost, index, cMsgCostIndex);
  CheckValue(cost, FAllowNegativeCost, cMsgCostValue);
  SetCost_raw(index, link, cost);
}

void TNetwork::ComputeAlphas(bool doTime, bool doCost, float& time, float& cost) const {
  // The asked columns, time first; a maximum per kind.
  std::vector<const float*> columns;
  if (doTime)
    for (const TCostArray& c : FTime) columns.push_back(c.data());
  const size_t timeColumns = columns.size();
  if (doCost)
    for (const TCostArray& c : FCost) columns.push_back(c.data());
  const size_t n = columns.size();
  float maxTime = 0, maxCost = 0;
  const float* length = FLength.data();
  const int32_t* from = Fromnode.data();
  const int32_t* to = tonode.data();
  for (int32_t l = 1; l <= FLinkCount; ++l) {
    if (length[l] == 0) continue;
    const float d = float(DistanceBetweenNodes_raw(from[l], to[l]));
    for (size_t j = 0; j < timeColumns; ++j) maxTime = std::max(maxTime, Ratio(d, columns[j][l]));
    for (size_t j = timeColumns; j < n; ++j) maxCost = std::max(maxCost, Ratio(d, columns[j][l]));
  }
  time = Factor(maxTime);
  cost = Factor(maxCost);
}

float TNetwork::ComputeAlpha(bool time) const {
  CheckOpen();
  float t = 0, c = 0;
  ComputeAlphas(time, !time, t, c);
  return time ? t : c;
}

void TNetwork::UpdateAlphas() {
  CheckOpen();
  const bool doTime = FTimeAlphaUpdateNeeded, doCost = FCostAlphaUpdateNeeded;
  if (!doTime && !doCost) return;
  float t = 0, c = 0;
  ComputeAlphas(doTime, doCost, t, c);
  if (doTime) FTimeAlpha = t;
  if (doCost) FCostAlpha = c;
  FTimeAlphaUpdateNeeded = false;
  FCostAlphaUpdateNeeded = false;
}

}  // namespace kovra
