#include "foundation/kovra_threads.h"

#include <system_error>
#include <thread>

namespace kovra {

TSimpleThread::TSimpleThread(TThreadMethod aAction, void* aData, TEvent* aDone)
    : ThreadMethod(std::move(aAction)), Data(aData), fDone(aDone) {}

TSimpleThread* TSimpleThread::CreateSimple(TThreadMethod aAction, void* aData, TEvent* aDone) {
  return new TSimpleThread(std::move(aAction), aData, aDone);
}

TSimpleThread* TSimpleThread::RunInThread(TThreadMethod Handler, void* Data, TEvent* Done) {
  return CreateSimple(std::move(Handler), Data, Done);
}

void TSimpleThread::Execute() {
  if (ThreadMethod) ThreadMethod(Data);
}

void TSimpleThread::Start() {
  try {
    std::thread(&TSimpleThread::Run, this).detach();
  } catch (const std::system_error& e) {
    throw Exception(e.code().message());
  }
}

void TSimpleThread::Run() {
  std::exception_ptr failure;
  try {
    Execute();
  } catch (...) {
    failure = std::current_exception();
  }
  // Free ourselves first: once Done is signalled the waiter may end the program
  // or free what this object refers to.
  TEvent* done = fDone;
  delete this;
  if (done) {
    if (failure) done->SetException(failure);
    done->SetEvent();
  } else if (failure) {
    std::rethrow_exception(failure);  // uncaught on this thread: std::terminate, never silent
  }
}

}  // namespace kovra
