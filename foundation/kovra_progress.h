// Progress reporting and cancelling: the base classes of every long-running
// object of the library. The callback runs synchronously inside ProgressExecute.
#pragma once

#include <cstdint>

#include "foundation/kovra_types.h"
#include "platform/kovra_sysutils.h"

namespace kovra {

// Holds a progress callback, scales a loop counter into ProgressStart..ProgressStop,
// optionally blends in a time budget, and throttles the callback.
class TProgress : public TObject {
public:
  TProgress() = default;

  virtual bool EventAssigned() const;
  // Reports that the running loop has reached `value` of ProgressMaxValue.
  virtual void ProgressExecute(double value);
  // Reports 0 at once (no throttling) when a callback is assigned.
  virtual void ProgressExecuteZero();

  // True when a time limit is set and the last stored Time is past it.
  bool TimeHasPassed() const;

  double ProgressMaxValue() const { return FMaxValue; }
  void SetProgressMaxValue(double value) { FMaxValue = value; }
  int32_t ProgressStart() const { return FProgressStart; }
  void SetProgressStart(int32_t value) { FProgressStart = value; }
  int32_t ProgressStop() const { return FProgressStop; }
  void SetProgressStop(int32_t value) { FProgressStop = value; }
  uint32_t Time() const { return Ftime; }
  uint32_t Timelimit() const { return FTimelimit; }
  // Stores the budget and starts it now.
  void SetTimelimit(uint32_t value);
  const TProgressEvent& OnProgress() const { return eProgress; }
  void SetOnProgress(TProgressEvent value) { eProgress = std::move(value); }

protected:
  // Percentage for `value` after the clock has been read into Ftime.
  int32_t ScaledProgress(double value) const;
  // True when p must not be passed on: unchanged and reported less than 2000 ms ago.
  bool Throttled(int32_t p) const {
    return p == Fprogress_previous && uint32_t(Ftime - Ftime_previous) <= cProgressRepeatMs;
  }

  static constexpr uint32_t cProgressRepeatMs = 2000;

  TProgressEvent eProgress;
  uint32_t FStarttime = 0;
  uint32_t Ftime = 0;
  double FMaxValue = 100.0;
  uint32_t FTimelimit = 0;
  int32_t FProgressStart = 0;
  int32_t FProgressStop = 100;
  int32_t Fprogress_previous = -1;
  uint32_t Ftime_previous = 0;
};

// Progress with a cancel flag that the callback receives by reference. Its own
// callback hides the TProgress one for this class and every descendant.
class TProgressCancel : public TProgress {
public:
  TProgressCancel() = default;

  bool EventAssigned() const override;
  // As TProgress, but a value past ProgressMaxValue is taken as the maximum.
  void ProgressExecute(double value) override;
  void ProgressExecuteZero() override;

  bool Cancelled() const { return FCancelled; }
  const TProgressCancelEvent& OnProgress() const { return eProgress; }
  void SetOnProgress(TProgressCancelEvent value) { eProgress = std::move(value); }

protected:
  TProgressCancelEvent eProgress;
  // Stays set once a handler has set it; descendants clear it by writing the field.
  bool FCancelled = false;
};

}  // namespace kovra
