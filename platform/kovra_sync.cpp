#include "platform/kovra_sync.h"

namespace kovra {

void TEvent::SetEvent() {
  std::lock_guard<std::mutex> lock(fMutex);
  fSignalled = true;
  fCond.notify_all();
}

void TEvent::ResetEvent() {
  std::lock_guard<std::mutex> lock(fMutex);
  fSignalled = false;
}

void TEvent::WaitFor() {
  std::unique_lock<std::mutex> lock(fMutex);
  fCond.wait(lock, [this] { return fSignalled; });
}

bool TEvent::IsSet() const {
  std::lock_guard<std::mutex> lock(fMutex);
  return fSignalled;
}

void TEvent::SetException(std::exception_ptr E) {
  std::lock_guard<std::mutex> lock(fMutex);
  if (!fException) fException = std::move(E);
}

std::exception_ptr TEvent::Exception() const {
  std::lock_guard<std::mutex> lock(fMutex);
  return fException;
}

void WaitForAll(const std::vector<TEvent*>& Events) {
  // Every event is waited for before any failure is reported: the workers use
  // the caller's data until they signal.
  for (TEvent* e : Events)
    if (e) e->WaitFor();
  for (TEvent* e : Events)
    if (e)
      if (std::exception_ptr ex = e->Exception()) std::rethrow_exception(ex);
}

}  // namespace kovra
