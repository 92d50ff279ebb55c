#include "foundation/kovra_threads.h"
#include "platform/kovra_sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace kovra;

namespace {

struct Events {
  std::vector<std::unique_ptr<TEvent>> owned;
  std::vector<TEvent*> raw;
  explicit Events(size_t n) {
    for (size_t i = 0; i < n; ++i) {
      owned.push_back(std::make_unique<TEvent>());
      raw.push_back(owned.back().get());
    }
  }
};

}  // namespace

TEST(SimpleThread, NothingRunsBeforeStart) {
  std::atomic<int> runs{0};
  TEvent done;
  TSimpleThread* t = TSimpleThread::RunInThread([&](void*) { ++runs; }, nullptr, &done);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(runs.load(), 0);
  EXPECT_FALSE(done.IsSet());
  t->Start();  // from here on the thread owns and frees the object
  done.WaitFor();
  EXPECT_EQ(runs.load(), 1);
  EXPECT_EQ(done.Exception(), nullptr);

  // Never started: the creator deletes it and the method never runs.
  TSimpleThread* idle = TSimpleThread::RunInThread([&](void*) { ++runs; }, nullptr);
  delete idle;
  EXPECT_EQ(runs.load(), 1);
}

TEST(SimpleThread, DataReachesTheMethod) {
  int value = 0;
  TEvent done;
  TSimpleThread* t = TSimpleThread::RunInThread([](void* d) { *static_cast<int*>(d) = 17; }, &value, &done);
  EXPECT_EQ(t->Data, &value);
  t->Start();
  done.WaitFor();
  EXPECT_EQ(value, 17);
}

TEST(SimpleThread, ManyWorkersAndWaitForAll) {
  const int n = 255;
  Events ev(n);
  std::atomic<int> next{0}, finished{0};
  std::vector<int> hits(10000, 0);
  for (int i = 0; i < n; ++i) {
    TSimpleThread::RunInThread(
        [&](void*) {
          for (int k; (k = next++) < int(hits.size());) ++hits[k];
          ++finished;
        },
        nullptr, ev.raw[i])
        ->Start();
  }
  WaitForAll(ev.raw);
  EXPECT_EQ(finished.load(), n);
  for (int h : hits) ASSERT_EQ(h, 1);
  for (TEvent* e : ev.raw) EXPECT_TRUE(e->IsSet());
}

TEST(SimpleThread, FailingWorkerIsReportedAfterAllEnded) {
  const int n = 8;
  Events ev(n);
  std::atomic<int> finished{0};
  std::atomic<bool> release{false};
  for (int i = 0; i < n; ++i) {
    TSimpleThread::RunInThread(
        [&, i](void*) {
          if (i == 3) throw EReadError("worker 3 failed");
          if (i == 6) throw std::runtime_error("worker 6 failed");
          while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
          ++finished;
        },
        nullptr, ev.raw[i])
        ->Start();
  }
  // The failures are in while the others still work.
  ev.raw[3]->WaitFor();
  ev.raw[6]->WaitFor();
  EXPECT_EQ(finished.load(), 0);
  std::thread releaser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    release = true;
  });
  try {
    WaitForAll(ev.raw);
    ADD_FAILURE() << "no exception";
  } catch (const EReadError& e) {  // the lowest-index failure, with its type and message
    EXPECT_STREQ(e.what(), "worker 3 failed");
  }
  EXPECT_EQ(finished.load(), n - 2);
  releaser.join();
}

TEST(SimpleThread, WorkerThatSignalsNothingStillCompletesItsEvent) {
  // The method returns normally without touching the event: the thread signals it.
  Events ev(3);
  for (TEvent* e : ev.raw) TSimpleThread::RunInThread([](void*) {}, nullptr, e)->Start();
  WaitForAll(ev.raw);
  for (TEvent* e : ev.raw) {
    EXPECT_TRUE(e->IsSet());
    EXPECT_EQ(e->Exception(), nullptr);
  }
}

TEST(SimpleThreadDeathTest, FailureWithoutEventEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        TSimpleThread::RunInThread([](void*) { throw EWriteError("lost writer"); }, nullptr)->Start();
        std::this_thread::sleep_for(std::chrono::seconds(5));
      },
      "lost writer");
}

TEST(Sync, EventStates) {
  TEvent e;
  EXPECT_FALSE(e.IsSet());
  e.SetEvent();
  EXPECT_TRUE(e.IsSet());
  e.WaitFor();  // manual reset: stays signalled
  e.WaitFor();
  e.ResetEvent();
  EXPECT_FALSE(e.IsSet());
  WaitForAll({});  // nothing to wait for
}

TEST(Sync, WaiterMayFreeTheEventOnWaking) {
  for (int round = 0; round < 100; ++round) {
    auto* e = new TEvent;
    std::thread setter([e] { e->SetEvent(); });
    e->WaitFor();
    delete e;
    setter.join();
  }
}

TEST(Sync, CriticalSection) {
  TCriticalSection cs;
  cs.Enter();
  cs.Enter();  // re-entrant for its owner
  cs.Leave();
  cs.Leave();

  int64_t counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        std::lock_guard<TCriticalSection> lock(cs);
        ++counter;
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 8 * 20000);
}
