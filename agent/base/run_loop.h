#ifndef AGENT_BASE_RUN_LOOP_H_
#define AGENT_BASE_RUN_LOOP_H_

#include <cstdint>
#include <vector>

#include "agent/base/functional/callback.h"
#include "agent/base/location.h"
#include "agent/base/memory/scoped_refptr.h"
#include "agent/base/memory/weak_ptr.h"
#include "agent/base/observer_list.h"
#include "agent/base/task/single_thread_task_runner.h"
#include "agent/base/time/time.h"

namespace kelmbase {

// Runs the calling thread's tasks until told to stop. Made, run once and
// destroyed on one thread, which must have a task runner handle and a bound
// run-loop delegate. Runs may nest: a task may make and run an inner loop.
// Quit and QuitWhenIdle may be called from any thread.
class RunLoop {
 public:
  enum class Kind : int32_t {
    // A nested run of this kind runs only system tasks.
    kPlain = 0,
    // A nested run of this kind also runs application tasks.
    kNestingAllowed = 1,
  };

  // Told when nested loops begin and end on the thread.
  class NestingObserver {
   public:
    virtual void OnBeginNestedRunLoop() = 0;
    virtual void OnExitNestedRunLoop() = 0;

   protected:
    virtual ~NestingObserver() = default;
  };

  // What actually runs the thread's tasks (the thread's controller). One per
  // thread, bound through Bind.
  class Delegate {
   public:
    Delegate();
    Delegate(const Delegate&) = delete;
    Delegate& operator=(const Delegate&) = delete;
    // Unbinds the delegate from its thread when it was bound.
    virtual ~Delegate();

    // Runs tasks until Quit. `timeout` is the maximum for no time-out.
    virtual void Run(bool application_tasks_allowed, Duration timeout) = 0;
    // Makes the innermost Run return.
    virtual void Quit() = 0;
    // Makes sure the delegate will look for work soon.
    virtual void EnsureWorkScheduled() = 0;

    // Makes this the calling thread's delegate.
    void Bind();

    // Whether the innermost active loop asked to quit once idle. The
    // delegate asks this when it runs out of work.
    bool ShouldQuitWhenIdle();

   private:
    friend class RunLoop;

    // Active loops, innermost at the back.
    std::vector<RunLoop*> active_run_loops_;
    ObserverList<NestingObserver> nesting_observers_;
    bool bound_ = false;
  };

  // For its lifetime, every Run on this thread quits itself after `timeout`
  // and then calls `on_timeout` with the Run's location. Restores the
  // previous setting when destroyed.
  class TimeoutScope {
   public:
    TimeoutScope(Duration timeout,
                 RepeatableCallback<void(const Location&)> on_timeout);
    TimeoutScope(const TimeoutScope&) = delete;
    TimeoutScope& operator=(const TimeoutScope&) = delete;
    ~TimeoutScope();

   private:
    friend class RunLoop;
    const Duration timeout_;
    const RepeatableCallback<void(const Location&)> on_timeout_;
    TimeoutScope* const previous_;
  };

  explicit RunLoop(Kind kind = Kind::kPlain);
  RunLoop(const RunLoop&) = delete;
  RunLoop& operator=(const RunLoop&) = delete;
  ~RunLoop();

  // Runs tasks until Quit (or QuitWhenIdle and no work is left). Returns at
  // once when Quit was already called. `location` names the caller for a
  // time-out handler.
  void Run(const Location& location);
  void Run();

  // Any thread. Ends Run once the current task is done (for an outer loop:
  // once the nested ones ended). Off the loop's thread it arrives as a task,
  // after the tasks queued before it; if the loop is destroyed first, it
  // does nothing.
  void Quit();

  // Any thread. Ends Run the next time the thread runs out of work. Off the
  // loop's thread it arrives as a task, like Quit.
  void QuitWhenIdle();

  // Add or remove an observer of nested loops on the calling thread's
  // delegate. A thread without a delegate runs no loops to observe (a
  // sequence manager bound without a pump, say): nothing happens there.
  static void AddNestingObserverOnCurrentThread(NestingObserver* observer);
  static void RemoveNestingObserverOnCurrentThread(NestingObserver* observer);

 private:
  // Returns false when the loop must not run (Quit came first).
  bool BeforeRun();
  void AfterRun();
  bool IsInnermost() const;
  void QuitAfterTimeout(const RepeatableCallback<void(const Location&)>& on_timeout,
                        const Location& location);

  Delegate* const delegate_;
  const Kind kind_;
  bool quit_called_ = false;
  bool running_ = false;
  bool quit_when_idle_ = false;
  const scoped_refptr<SingleThreadTaskRunner> origin_task_runner_;

  // Last member: weak pointers die before the rest of the loop.
  WeakPtrFactory<RunLoop> weak_factory_{this};
};

}  // namespace kelmbase

#endif  // AGENT_BASE_RUN_LOOP_H_
