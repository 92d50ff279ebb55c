// Synchronisation objects of the platform layer: a manual-reset event, a
// re-entrant critical section and a wait for a whole set of events.
#pragma once

#include <condition_variable>
#include <exception>
#include <mutex>
#include <vector>

namespace kovra {

// Manual-reset event, created unsignalled. It may also carry the failure of the
// work it reports on, which WaitForAll rethrows.
class TEvent {
public:
  TEvent() = default;
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;

  // Signals and wakes every waiter. Set and notified under the mutex, so a
  // waiter may free the event as soon as it wakes.
  void SetEvent();
  void ResetEvent();
  // Waits without a time-out until the event is signalled.
  void WaitFor();
  bool IsSet() const;

  // The failure to report with this event (the first one stored is kept).
  void SetException(std::exception_ptr E);
  std::exception_ptr Exception() const;

private:
  mutable std::mutex fMutex;
  std::condition_variable fCond;
  bool fSignalled = false;
  std::exception_ptr fException;
};

// Re-entrant for its owner thread, like the platform's critical sections.
// Also a BasicLockable, so std::lock_guard<TCriticalSection> works.
class TCriticalSection {
public:
  void Enter() { fMutex.lock(); }
  void Leave() { fMutex.unlock(); }
  void lock() { Enter(); }
  void unlock() { Leave(); }

private:
  std::recursive_mutex fMutex;
};

// Waits until every event is signalled (any number of events, no time-out; null
// entries are skipped), then rethrows the exception stored in the event with the
// lowest index, if any.
void WaitForAll(const std::vector<TEvent*>& Events);

}  // namespace kovra
