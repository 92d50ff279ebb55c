// TSimpleThread: runs one method with one argument once on a new thread and
// frees itself when it ends.
#pragma once

#include <exception>
#include <functional>

#include "platform/kovra_sync.h"
#include "platform/kovra_sysutils.h"

namespace kovra {

using TThreadMethod = std::function<void(void* Data)>;

class TSimpleThread : public TObject {
public:
  // A suspended thread that will call aAction(aData) once. With aDone the thread,
  // after it has freed itself, stores any exception of aAction in aDone and
  // signals it, whether aAction returned or raised; aAction must then not signal
  // aDone itself (the waiter may free it as soon as it is signalled). Without
  // aDone an exception of aAction ends the process, like any uncaught exception.
  static TSimpleThread* CreateSimple(TThreadMethod aAction, void* aData, TEvent* aDone = nullptr);
  static TSimpleThread* RunInThread(TThreadMethod Handler, void* Data, TEvent* Done = nullptr);

  // Starts the thread. From then on the object belongs to the thread, which
  // frees it; the caller must not touch it again. A thread that cannot be
  // created raises kovra::Exception with the system's text, and the object
  // stays the caller's to delete, as does one that is never started.
  void Start();

  ~TSimpleThread() override = default;

  TThreadMethod ThreadMethod;
  void* Data = nullptr;

protected:
  TSimpleThread(TThreadMethod aAction, void* aData, TEvent* aDone);
  virtual void Execute();

private:
  void Run();

  TEvent* fDone = nullptr;
};

}  // namespace kovra
