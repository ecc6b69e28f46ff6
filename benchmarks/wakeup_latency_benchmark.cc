// Cross-thread wake-up latency of the message pumps: the time from another
// thread's ScheduleWork until the sleeping pump's delegate runs DoWork, for
// the default pump (a waitable event) and the libevent pump (a pipe), next
// to the same hand-off over std::mutex and std::condition_variable. Each
// benchmark iteration is a batch of wake-ups and reports the batch's median
// one-way latency, so the printed ratios compare medians.
//
// Also the processor time an idle pump uses while it sleeps, as a counter
// ("idle_cpu_percent" of one core).

#include <time.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "agent/base/message_pump/message_pump.h"
#include "agent/base/time/time.h"
#include "benchmark/benchmark.h"
#include "benchmarks/ratio.h"

namespace {

constexpr int kWakeUpsPerBatch = 200;
// A fixed count: the manual (median) time of a batch is far below its real
// time, which would otherwise make the library run thousands of batches.
constexpr int kBatches = 25;

int64_t NowNanoseconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

// Gives the sleeper time to block in the kernel after it said it is about
// to, so that every measured hand-off wakes a sleeping thread.
void LetTheSleeperBlock() {
  const int64_t until = NowNanoseconds() + 50'000;
  while (NowNanoseconds() < until) {
  }
}

// The state shared by the poster (benchmark thread) and the sleeper.
struct HandOff {
  // Set by the sleeper right before it goes to sleep.
  std::atomic<bool> idle{false};
  // When the poster woke the sleeper; 0 when no wake-up is pending.
  std::atomic<int64_t> posted_at{0};
  // The latency of the last wake-up, published by the sleeper; -1 until
  // it arrives.
  std::atomic<int64_t> latency{-1};
  std::atomic<bool> stop{false};

  // On the sleeper, when it runs after a wake-up.
  void OnWoken() {
    const int64_t posted = posted_at.exchange(0, std::memory_order_acq_rel);
    if (posted != 0)
      latency.store(NowNanoseconds() - posted, std::memory_order_release);
  }
};

// Runs one batch against `wake_up` and returns the median latency in
// seconds.
template <typename WakeUp>
double MedianBatch(HandOff& hand_off, WakeUp wake_up) {
  std::vector<int64_t> latencies;
  latencies.reserve(kWakeUpsPerBatch);
  for (int i = 0; i < kWakeUpsPerBatch; ++i) {
    while (!hand_off.idle.load(std::memory_order_acquire)) {
    }
    LetTheSleeperBlock();
    hand_off.idle.store(false, std::memory_order_relaxed);
    hand_off.latency.store(-1, std::memory_order_relaxed);
    hand_off.posted_at.store(NowNanoseconds(), std::memory_order_release);
    wake_up();
    int64_t latency;
    while ((latency = hand_off.latency.load(std::memory_order_acquire)) < 0) {
    }
    latencies.push_back(latency);
  }
  std::nth_element(latencies.begin(),
                   latencies.begin() + latencies.size() / 2, latencies.end());
  return static_cast<double>(latencies[latencies.size() / 2]) * 1e-9;
}

// A pump delegate that has no work of its own: it reports each wake-up and
// sleeps again, until told to stop.
class WakeUpDelegate : public kelmbase::MessagePump::Delegate {
 public:
  WakeUpDelegate(kelmbase::MessagePump* pump, HandOff* hand_off)
      : pump_(pump), hand_off_(hand_off) {}

  NextWorkInfo DoWork() override {
    hand_off_->OnWoken();
    if (hand_off_->stop.load(std::memory_order_acquire))
      pump_->Quit();
    return NextWorkInfo{kelmbase::MonotonicTime::Max(),
                        kelmbase::MonotonicTime()};
  }
  bool DoIdleWork() override {
    hand_off_->idle.store(true, std::memory_order_release);
    return false;
  }
  void BeforeWait() override {}
  void BeginWorkItem() override {}
  void EndWorkItem() override {}

 private:
  kelmbase::MessagePump* pump_;
  HandOff* hand_off_;
};

void PumpWakeUp(benchmark::State& state, kelmbase::MessagePumpType type) {
  std::unique_ptr<kelmbase::MessagePump> pump =
      kelmbase::MessagePump::Create(type);
  HandOff hand_off;
  WakeUpDelegate delegate(pump.get(), &hand_off);
  std::thread sleeper([&] { pump->Run(&delegate); });

  for (auto _ : state)
    state.SetIterationTime(
        MedianBatch(hand_off, [&] { pump->ScheduleWork(); }));

  hand_off.stop.store(true, std::memory_order_release);
  pump->ScheduleWork();
  sleeper.join();
}

void BM_WakeUpDefaultPump(benchmark::State& state) {
  PumpWakeUp(state, kelmbase::MessagePumpType::kDefault);
}
BENCHMARK(BM_WakeUpDefaultPump)
    ->UseManualTime()
    ->Iterations(kBatches)
    ->Unit(benchmark::kMicrosecond);

void BM_WakeUpLibeventPump(benchmark::State& state) {
  PumpWakeUp(state, kelmbase::MessagePumpType::kIo);
}
BENCHMARK(BM_WakeUpLibeventPump)
    ->UseManualTime()
    ->Iterations(kBatches)
    ->Unit(benchmark::kMicrosecond);

void BM_WakeUpStdCondition(benchmark::State& state) {
  HandOff hand_off;
  std::mutex mutex;
  std::condition_variable condition;
  bool work = false;
  std::thread sleeper([&] {
    std::unique_lock<std::mutex> hold(mutex);
    for (;;) {
      hand_off.idle.store(true, std::memory_order_release);
      condition.wait(hold, [&] { return work; });
      work = false;
      hand_off.OnWoken();
      if (hand_off.stop.load(std::memory_order_acquire))
        return;
    }
  });
  auto wake_up = [&] {
    {
      std::lock_guard<std::mutex> hold(mutex);
      work = true;
    }
    condition.notify_one();
  };

  for (auto _ : state)
    state.SetIterationTime(MedianBatch(hand_off, wake_up));

  hand_off.stop.store(true, std::memory_order_release);
  wake_up();
  sleeper.join();
}
BENCHMARK(BM_WakeUpStdCondition)
    ->UseManualTime()
    ->Iterations(kBatches)
    ->Unit(benchmark::kMicrosecond);

const kelm_bench::RatioRegistration kDefaultPumpRatio(
    "wake-up default pump/condition variable",
    "BM_WakeUpDefaultPump/iterations:25/manual_time",
    "BM_WakeUpStdCondition/iterations:25/manual_time");
const kelm_bench::RatioRegistration kLibeventPumpRatio(
    "wake-up libevent pump/condition variable",
    "BM_WakeUpLibeventPump/iterations:25/manual_time",
    "BM_WakeUpStdCondition/iterations:25/manual_time");

// A pump with delayed work a minute away, left idle for `kIdle`; reports the
// processor time its thread used meanwhile as a share of one core.
void IdlePump(benchmark::State& state, kelmbase::MessagePumpType type) {
  constexpr auto kIdle = std::chrono::milliseconds(500);
  double total_share = 0;
  for (auto _ : state) {
    std::unique_ptr<kelmbase::MessagePump> pump =
        kelmbase::MessagePump::Create(type);
    std::atomic<bool> stop{false};
    std::atomic<int64_t> cpu_used_us{0};

    class IdleDelegate : public kelmbase::MessagePump::Delegate {
     public:
      IdleDelegate(kelmbase::MessagePump* pump, std::atomic<bool>* stop,
                   std::atomic<int64_t>* cpu_used_us)
          : pump_(pump), stop_(stop), cpu_used_us_(cpu_used_us) {}
      NextWorkInfo DoWork() override {
        const kelmbase::ThreadCpuTime now = kelmbase::ThreadCpuTime::Now();
        if (stop_->load(std::memory_order_acquire)) {
          cpu_used_us_->store((now - started_).InMicroseconds());
          pump_->Quit();
        } else if (started_.is_null()) {
          started_ = now;
        }
        const kelmbase::MonotonicTime clock_now =
            kelmbase::MonotonicTime::Now();
        return NextWorkInfo{clock_now + kelmbase::Duration::FromMinutes(1),
                            clock_now};
      }
      bool DoIdleWork() override { return false; }
      void BeforeWait() override {}
      void BeginWorkItem() override {}
      void EndWorkItem() override {}

     private:
      kelmbase::MessagePump* pump_;
      std::atomic<bool>* stop_;
      std::atomic<int64_t>* cpu_used_us_;
      kelmbase::ThreadCpuTime started_;
    } delegate(pump.get(), &stop, &cpu_used_us);

    std::thread sleeper([&] { pump->Run(&delegate); });
    std::this_thread::sleep_for(kIdle);
    stop.store(true, std::memory_order_release);
    pump->ScheduleWork();
    sleeper.join();
    total_share += static_cast<double>(cpu_used_us.load()) /
                   std::chrono::duration_cast<std::chrono::microseconds>(kIdle)
                       .count();
  }
  state.counters["idle_cpu_percent"] =
      100.0 * total_share / static_cast<double>(state.iterations());
}

void BM_IdleDefaultPump(benchmark::State& state) {
  IdlePump(state, kelmbase::MessagePumpType::kDefault);
}
BENCHMARK(BM_IdleDefaultPump)->Iterations(2)->Unit(benchmark::kMillisecond);

void BM_IdleLibeventPump(benchmark::State& state) {
  IdlePump(state, kelmbase::MessagePumpType::kIo);
}
BENCHMARK(BM_IdleLibeventPump)->Iterations(2)->Unit(benchmark::kMillisecond);

}  // namespace
