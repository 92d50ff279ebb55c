#include "foundation/kovra_progress.h"

#include "platform/kovra_ticks.h"

namespace kovra {

bool TProgress::EventAssigned() const { return bool(eProgress); }

void TProgress::SetTimelimit(uint32_t value) {
  FTimelimit = value;
  FStarttime = GetTickCount();
}

bool TProgress::TimeHasPassed() const {
  // Elapsed time as an unsigned difference stays right across the 2^32 ms wrap.
  return FTimelimit != 0 && uint32_t(Ftime - FStarttime) > FTimelimit;
}

namespace {

// A report must never stop the work it reports: a value beyond the Integer
// range (a short time limit long overrun, a counter far past its maximum)
// is reported as the nearest Integer. A NaN counter still raises.
int32_t ClampedRound(double v) {
  if (v >= 2147483647.5) return INT32_MAX;
  if (v <= -2147483648.5) return INT32_MIN;
  return Round32(v);
}

}  // namespace

int32_t TProgress::ScaledProgress(double value) const {
  // A maximum of 0 means there is nothing to count: report the end of the range
  // rather than raise a division error in the middle of the caller's work.
  if (FMaxValue == 0) return FProgressStop;
  const double range = double(int64_t(FProgressStop) - int64_t(FProgressStart));
  if (FTimelimit == 0) return ClampedRound(double(FProgressStart) + range * value / FMaxValue);
  const double f = value / FMaxValue;
  const double t = double(uint32_t(Ftime - FStarttime)) / double(FTimelimit);
  return ClampedRound(double(FProgressStart) + range * (f > t ? f : t));
}

void TProgress::ProgressExecute(double value) {
  if (!EventAssigned()) {
    if (FTimelimit != 0) Ftime = GetTickCount();
    return;
  }
  Ftime = GetTickCount();
  const int32_t p = ScaledProgress(value);
  if (Throttled(p)) return;
  eProgress(this, p);
  Fprogress_previous = p;
  Ftime_previous = Ftime;
}

void TProgress::ProgressExecuteZero() {
  if (!EventAssigned()) return;
  eProgress(this, 0);
  Fprogress_previous = 0;
}

bool TProgressCancel::EventAssigned() const { return bool(eProgress); }

void TProgressCancel::ProgressExecute(double value) {
  // No descendant overrides EventAssigned, so the direct call keeps the
  // no-handler path at the one virtual call of ProgressExecute itself.
  if (!TProgressCancel::EventAssigned()) {
    if (FTimelimit != 0) Ftime = GetTickCount();
    return;
  }
  Ftime = GetTickCount();
  if (value > FMaxValue) value = FMaxValue;
  const int32_t p = ScaledProgress(value);
  if (Throttled(p)) return;
  eProgress(this, p, FCancelled);
  Fprogress_previous = p;
  Ftime_previous = Ftime;
}

void TProgressCancel::ProgressExecuteZero() {
  if (!TProgressCancel::EventAssigned()) return;
  eProgress(this, 0, FCancelled);
  Fprogress_previous = 0;
}

}  // namespace kovra
