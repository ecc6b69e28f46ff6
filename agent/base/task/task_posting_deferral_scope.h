#ifndef AGENT_BASE_TASK_TASK_POSTING_DEFERRAL_SCOPE_H_
#define AGENT_BASE_TASK_TASK_POSTING_DEFERRAL_SCOPE_H_

#include <vector>

#include "agent/base/functional/callback.h"
#include "agent/base/location.h"
#include "agent/base/memory/scoped_refptr.h"
#include "agent/base/task/sequenced_task_runner.h"
#include "agent/base/time/time.h"

namespace kelmbase {

// Opened on the stack around a post; posts deferred while the outermost
// scope of the thread is open are made when it closes, in the order they
// were deferred. Nested scopes defer to the outermost one.
class TaskPostingDeferralScope {
 public:
  TaskPostingDeferralScope();
  TaskPostingDeferralScope(const TaskPostingDeferralScope&) = delete;
  TaskPostingDeferralScope& operator=(const TaskPostingDeferralScope&) =
      delete;
  // The outermost scope stops being active, then posts every deferred
  // entry with the entry runner's PostDelayedTask.
  ~TaskPostingDeferralScope();

  // When the thread has an active scope, hands it the post (taking `task`)
  // and returns true; otherwise leaves `task` alone and returns false.
  static bool DeferIfActive(scoped_refptr<SequencedTaskRunner> runner,
                            const Location& from_here, OneShotClosure& task,
                            Duration delay);

 private:
  struct DeferredPost {
    scoped_refptr<SequencedTaskRunner> runner;
    Location from_here;
    OneShotClosure task;
    Duration delay;
  };

  std::vector<DeferredPost> deferred_;
  // Whether this scope became the thread's active one.
  bool top_level_ = false;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_TASK_POSTING_DEFERRAL_SCOPE_H_
