// Named worker threads (kelmbase::Thread with its sequence manager and
// thread controller) against the plain std::mutex + std::condition_variable
// equivalents:
// - cross-thread throughput: one producer floods a worker with 1,000,000
//   small tasks; the peer is a deque<std::function> queue that pops one
//   task per lock and notifies on empty-to-non-empty. Both sides run one
//   untimed flood first, so that neither pays in its timed floods for
//   the process heap growing to hold a backlog for the first time;
// - ping-pong: median one-way latency between two idle threads, over every
//   hop of the run;
// - timer lateness of delayed tasks (median, and how many ran early);
// - processor time of an idle Thread.
// Each worker benchmark runs on both pumps.

#include <time.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "agent/base/functional/bind.h"
#include "agent/base/location.h"
#include "agent/base/synchronization/waitable_event.h"
#include "agent/base/threading/thread.h"
#include "agent/base/time/time.h"
#include "benchmark/benchmark.h"
#include "benchmarks/ratio.h"

namespace {

using kelmbase::BindOneShot;
using kelmbase::Duration;
using kelmbase::MessagePumpType;
using kelmbase::MonotonicTime;
using kelmbase::SingleThreadTaskRunner;
using kelmbase::Thread;
using kelmbase::WaitableEvent;

constexpr int kFloodTasks = 1'000'000;

int64_t NowNanoseconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

// --- Throughput -----------------------------------------------------------

void CountTask(std::atomic<int>* count) {
  count->fetch_add(1, std::memory_order_relaxed);
}

// Posts kFloodTasks counting tasks and a last one that signals; returns
// once the last has run, with how many counted.
int FloodThread(SingleThreadTaskRunner* runner) {
  std::atomic<int> count{0};
  WaitableEvent done;
  for (int i = 0; i < kFloodTasks; ++i)
    runner->PostTask(FROM_HERE, BindOneShot(&CountTask, &count));
  runner->PostTask(FROM_HERE,
                   BindOneShot([](WaitableEvent* d) { d->Signal(); }, &done));
  done.Wait();
  return count.load();
}

void ThreadThroughput(benchmark::State& state, MessagePumpType type) {
  Thread thread("bench worker");
  thread.StartConfigured(Thread::Options(type, 0));
  scoped_refptr<SingleThreadTaskRunner> runner = thread.GetTaskRunner();
  FloodThread(runner.get());
  for (auto _ : state) {
    if (FloodThread(runner.get()) != kFloodTasks)
      state.SkipWithError("lost tasks");
  }
  state.SetItemsProcessed(state.iterations() * kFloodTasks);
  thread.Stop();
}

void BM_ThreadThroughputDefaultPump(benchmark::State& state) {
  ThreadThroughput(state, MessagePumpType::kDefault);
}
void BM_ThreadThroughputLibeventPump(benchmark::State& state) {
  ThreadThroughput(state, MessagePumpType::kIo);
}
BENCHMARK(BM_ThreadThroughputDefaultPump)
    ->Iterations(5)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ThreadThroughputLibeventPump)
    ->Iterations(5)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The peer: one lock per pop, a notification on empty-to-non-empty.
class CondvarQueue {
 public:
  CondvarQueue() : worker_([this] { Work(); }) {}
  ~CondvarQueue() {
    Post(nullptr);
    worker_.join();
  }

  void Post(std::function<void()> task) {
    bool was_empty;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      was_empty = tasks_.empty();
      tasks_.push_back(std::move(task));
    }
    if (was_empty) condition_.notify_one();
  }

 private:
  void Work() {
    for (;;) {
      std::function<void()> task;
      {
        std::unique_lock<std::mutex> hold(mutex_);
        condition_.wait(hold, [this] { return !tasks_.empty(); });
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
      if (!task) return;
      task();
    }
  }

  std::mutex mutex_;
  std::condition_variable condition_;
  std::deque<std::function<void()>> tasks_;
  std::thread worker_;
};

// The same flood through the peer queue.
int FloodQueue(CondvarQueue* queue) {
  std::atomic<int> count{0};
  WaitableEvent done;
  for (int i = 0; i < kFloodTasks; ++i)
    queue->Post([&count] { CountTask(&count); });
  queue->Post([&done] { done.Signal(); });
  done.Wait();
  return count.load();
}

void BM_CondvarQueueThroughput(benchmark::State& state) {
  CondvarQueue queue;
  FloodQueue(&queue);
  for (auto _ : state) {
    if (FloodQueue(&queue) != kFloodTasks) state.SkipWithError("lost tasks");
  }
  state.SetItemsProcessed(state.iterations() * kFloodTasks);
}
BENCHMARK(BM_CondvarQueueThroughput)
    ->Iterations(5)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

const kelm_bench::RatioRegistration kThroughputDefaultRatio(
    "flood Thread default pump/condvar queue",
    "BM_ThreadThroughputDefaultPump/iterations:5/real_time",
    "BM_CondvarQueueThroughput/iterations:5/real_time");
const kelm_bench::RatioRegistration kThroughputLibeventRatio(
    "flood Thread libevent pump/condvar queue",
    "BM_ThreadThroughputLibeventPump/iterations:5/real_time",
    "BM_CondvarQueueThroughput/iterations:5/real_time");

// --- Ping-pong ------------------------------------------------------------

// One run of this many hops; its time is the median hop, which a few hops
// delayed by other processes on a shared machine do not move.
constexpr int kHops = 6000;

double Median(std::vector<int64_t>& values) {
  std::nth_element(values.begin(), values.begin() + values.size() / 2,
                   values.end());
  return static_cast<double>(values[values.size() / 2]) * 1e-9;
}

struct PingPong {
  scoped_refptr<SingleThreadTaskRunner> a;
  scoped_refptr<SingleThreadTaskRunner> b;
  std::vector<int64_t> latencies;
  int hops_left = 0;
  WaitableEvent done;
};

// Runs on the thread that received the ball; sends it to the other one.
void Hop(PingPong* game, bool on_a, int64_t sent_at) {
  game->latencies.push_back(NowNanoseconds() - sent_at);
  if (--game->hops_left == 0) {
    game->done.Signal();
    return;
  }
  const scoped_refptr<SingleThreadTaskRunner>& to = on_a ? game->b : game->a;
  to->PostTask(FROM_HERE, BindOneShot(&Hop, game, !on_a, NowNanoseconds()));
}

void ThreadPingPong(benchmark::State& state, MessagePumpType type) {
  Thread a("ping"), b("pong");
  a.StartConfigured(Thread::Options(type, 0));
  b.StartConfigured(Thread::Options(type, 0));
  PingPong game;
  game.a = a.GetTaskRunner();
  game.b = b.GetTaskRunner();
  for (auto _ : state) {
    game.latencies.clear();
    game.latencies.reserve(kHops);
    game.hops_left = kHops;
    game.done.Reset();
    game.a->PostTask(FROM_HERE, BindOneShot(&Hop, &game, true, NowNanoseconds()));
    game.done.Wait();
    state.SetIterationTime(Median(game.latencies));
  }
  a.Stop();
  b.Stop();
}

void BM_ThreadPingPongDefaultPump(benchmark::State& state) {
  ThreadPingPong(state, MessagePumpType::kDefault);
}
void BM_ThreadPingPongLibeventPump(benchmark::State& state) {
  ThreadPingPong(state, MessagePumpType::kIo);
}
BENCHMARK(BM_ThreadPingPongDefaultPump)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ThreadPingPongLibeventPump)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMicrosecond);

// The peer: the same game over two condition-variable mailboxes.
class Mailbox {
 public:
  void Put(int64_t sent_at) {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      sent_at_ = sent_at;
    }
    condition_.notify_one();
  }
  int64_t Take() {
    std::unique_lock<std::mutex> hold(mutex_);
    condition_.wait(hold, [this] { return sent_at_ != 0; });
    const int64_t sent_at = sent_at_;
    sent_at_ = 0;
    return sent_at;
  }

 private:
  std::mutex mutex_;
  std::condition_variable condition_;
  int64_t sent_at_ = 0;
};

void BM_CondvarPingPong(benchmark::State& state) {
  Mailbox to_a, to_b;
  std::atomic<bool> stop{false};
  std::vector<int64_t> latencies;
  std::atomic<int> hops_left{0};
  WaitableEvent done;
  auto player = [&](Mailbox& in, Mailbox& out) {
    for (;;) {
      const int64_t sent_at = in.Take();
      if (stop.load()) return;
      latencies.push_back(NowNanoseconds() - sent_at);
      if (hops_left.fetch_sub(1) == 1) {
        done.Signal();
        continue;
      }
      out.Put(NowNanoseconds());
    }
  };
  std::thread a([&] { player(to_a, to_b); });
  std::thread b([&] { player(to_b, to_a); });
  for (auto _ : state) {
    latencies.clear();
    latencies.reserve(kHops);
    hops_left = kHops;
    done.Reset();
    to_a.Put(NowNanoseconds());
    done.Wait();
    state.SetIterationTime(Median(latencies));
  }
  stop = true;
  to_a.Put(1);
  to_b.Put(1);
  a.join();
  b.join();
}
BENCHMARK(BM_CondvarPingPong)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMicrosecond);

const kelm_bench::RatioRegistration kPingPongDefaultRatio(
    "ping-pong Thread default pump/condvar",
    "BM_ThreadPingPongDefaultPump/iterations:1/manual_time",
    "BM_CondvarPingPong/iterations:1/manual_time");
const kelm_bench::RatioRegistration kPingPongLibeventRatio(
    "ping-pong Thread libevent pump/condvar",
    "BM_ThreadPingPongLibeventPump/iterations:1/manual_time",
    "BM_CondvarPingPong/iterations:1/manual_time");

// --- Timer lateness ---------------------------------------------------------

constexpr int kTimers = 200;

struct Timers {
  std::vector<int64_t> lateness;  // Nanoseconds; negative: early.
  std::atomic<int> left{0};
  WaitableEvent done;
};

void TimerFired(Timers* timers, MonotonicTime due) {
  timers->lateness.push_back((MonotonicTime::Now() - due).InMicroseconds() *
                             1000);
  if (--timers->left == 0) timers->done.Signal();
}

void TimerLateness(benchmark::State& state, MessagePumpType type) {
  Thread thread("timers");
  thread.StartConfigured(Thread::Options(type, 0));
  scoped_refptr<SingleThreadTaskRunner> runner = thread.GetTaskRunner();
  Timers timers;
  for (auto _ : state) {
    timers.lateness.clear();
    timers.left = kTimers;
    timers.done.Reset();
    // One at a time, so that each wakes an idle thread.
    for (int i = 0; i < kTimers; ++i) {
      const Duration delay = Duration::FromMicroseconds(500 + 37 * (i % 50));
      const int before = timers.left.load();
      runner->PostDelayedTask(
          FROM_HERE,
          BindOneShot(&TimerFired, &timers, MonotonicTime::Now() + delay),
          delay);
      while (timers.left.load() == before) {
        std::this_thread::sleep_for(std::chrono::microseconds(100));
      }
    }
    timers.done.Wait();
  }
  int early = 0;
  for (int64_t late : timers.lateness)
    if (late < 0) ++early;
  state.counters["early"] = early;
  state.counters["median_lateness_us"] = Median(timers.lateness) * 1e6;
  thread.Stop();
}

void BM_TimerLatenessDefaultPump(benchmark::State& state) {
  TimerLateness(state, MessagePumpType::kDefault);
}
void BM_TimerLatenessLibeventPump(benchmark::State& state) {
  TimerLateness(state, MessagePumpType::kIo);
}
BENCHMARK(BM_TimerLatenessDefaultPump)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TimerLatenessLibeventPump)->Iterations(1)->Unit(benchmark::kMillisecond);

// --- Idle Thread ------------------------------------------------------------

int64_t ThreadCpuMicroseconds() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return int64_t{ts.tv_sec} * 1'000'000 + ts.tv_nsec / 1000;
}

void ReadCpu(std::atomic<int64_t>* out, WaitableEvent* done) {
  out->store(ThreadCpuMicroseconds());
  done->Signal();
}

void IdleThread(benchmark::State& state, MessagePumpType type) {
  constexpr Duration kIdle = Duration::FromSeconds(1);
  double percent = 0;
  for (auto _ : state) {
    Thread thread("idle");
    thread.StartConfigured(Thread::Options(type, 0));
    scoped_refptr<SingleThreadTaskRunner> runner = thread.GetTaskRunner();
    // Delayed work a minute away, as a real idle worker might have.
    runner->PostDelayedTask(FROM_HERE, BindOneShot([] {}),
                            Duration::FromMinutes(1));
    std::atomic<int64_t> start{0}, end{0};
    WaitableEvent done;
    runner->PostTask(FROM_HERE, BindOneShot(&ReadCpu, &start, &done));
    done.Wait();
    done.Reset();
    const MonotonicTime wall_start = MonotonicTime::Now();
    std::this_thread::sleep_for(std::chrono::microseconds(kIdle.InMicroseconds()));
    runner->PostTask(FROM_HERE, BindOneShot(&ReadCpu, &end, &done));
    done.Wait();
    const double wall_us =
        static_cast<double>((MonotonicTime::Now() - wall_start).InMicroseconds());
    percent = 100.0 * static_cast<double>(end.load() - start.load()) / wall_us;
    thread.Stop();
  }
  state.counters["idle_cpu_percent"] = percent;
}

void BM_IdleThreadDefaultPump(benchmark::State& state) {
  IdleThread(state, MessagePumpType::kDefault);
}
void BM_IdleThreadLibeventPump(benchmark::State& state) {
  IdleThread(state, MessagePumpType::kIo);
}
BENCHMARK(BM_IdleThreadDefaultPump)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IdleThreadLibeventPump)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
