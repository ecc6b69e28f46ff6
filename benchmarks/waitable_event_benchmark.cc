// Two threads passing the turn back and forth ("ping-pong"): over two
// automatic-reset kelmbase::WaitableEvents, and over the same protocol
// built from std::mutex and std::condition_variable. Each iteration is one
// round trip, so the time is dominated by two wake-ups; the ratio shows
// what the event's waiter list and blocking-call scopes add on top.

#include <condition_variable>
#include <mutex>
#include <thread>

#include "agent/base/synchronization/waitable_event.h"
#include "benchmark/benchmark.h"
#include "benchmarks/ratio.h"

namespace {

// An automatic-reset event over the standard library, for comparison.
class StdEvent {
 public:
  void Signal() {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      signaled_ = true;
    }
    condition_.notify_one();
  }

  void Wait() {
    std::unique_lock<std::mutex> hold(mutex_);
    condition_.wait(hold, [this] { return signaled_; });
    signaled_ = false;
  }

 private:
  std::mutex mutex_;
  std::condition_variable condition_;
  bool signaled_ = false;
};

struct KelmEvent : kelmbase::WaitableEvent {
  KelmEvent()
      : kelmbase::WaitableEvent(
            kelmbase::WaitableEvent::ResetPolicy::kAutomatic,
            kelmbase::WaitableEvent::InitialState::kNotSignaled) {}
};

// The partner thread answers every ping with a pong until told to stop.
template <typename Event>
void PingPong(benchmark::State& state) {
  Event ping;
  Event pong;
  bool stop = false;
  std::thread partner([&] {
    for (;;) {
      ping.Wait();
      if (stop) return;
      pong.Signal();
    }
  });
  for (auto _ : state) {
    ping.Signal();
    pong.Wait();
  }
  stop = true;  // Published by the Signal below.
  ping.Signal();
  partner.join();
  state.SetItemsProcessed(state.iterations());
}

void BM_PingPongWaitableEvent(benchmark::State& state) {
  PingPong<KelmEvent>(state);
}
BENCHMARK(BM_PingPongWaitableEvent)->UseRealTime();

void BM_PingPongStdCondition(benchmark::State& state) {
  PingPong<StdEvent>(state);
}
BENCHMARK(BM_PingPongStdCondition)->UseRealTime();

const kelm_bench::RatioRegistration kPingPongRatio(
    "WaitableEvent/std ping-pong", "BM_PingPongWaitableEvent/real_time",
    "BM_PingPongStdCondition/real_time");

}  // namespace
