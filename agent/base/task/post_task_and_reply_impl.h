#ifndef AGENT_BASE_TASK_POST_TASK_AND_REPLY_IMPL_H_
#define AGENT_BASE_TASK_POST_TASK_AND_REPLY_IMPL_H_

#include "agent/base/functional/callback.h"
#include "agent/base/location.h"
#include "agent/base/memory/scoped_refptr.h"
#include "agent/base/task/sequenced_task_runner.h"

namespace kelmbase {
namespace internal {

// Carries a task, its reply and the runner of the sequence that asked for
// them from the destination and back. Owned by the bound state of the
// closure that carries it. Move-only.
class TaskReplyRelay {
 public:
  TaskReplyRelay(const Location& from_here, OneShotClosure task,
                 OneShotClosure reply,
                 scoped_refptr<SequencedTaskRunner> reply_task_runner);
  TaskReplyRelay(TaskReplyRelay&& other);
  TaskReplyRelay(const TaskReplyRelay&) = delete;
  TaskReplyRelay& operator=(const TaskReplyRelay&) = delete;
  TaskReplyRelay& operator=(TaskReplyRelay&&) = delete;

  // A relay that still holds its reply while away from the reply's sequence
  // sends itself back there to die, so that the reply's bound arguments are
  // destroyed on the sequence that made them. If the reply sequence refuses
  // it, it leaks rather than be destroyed in the wrong place.
  ~TaskReplyRelay();

  // On the destination: runs the task, then posts the reply home.
  static void RunTaskAndPostReply(TaskReplyRelay relay);
  // On the reply's sequence: runs the reply.
  static void RunReply(TaskReplyRelay relay);

 private:
  static void DeleteRelay(const void* relay);

  Location from_here_;
  OneShotClosure task_;
  OneShotClosure reply_;
  // Null when the caller had no sequenced context.
  scoped_refptr<SequencedTaskRunner> reply_task_runner_;
};

// Posts a task and, once it ran, its reply back to the calling sequence.
// Subclasses say where the task goes.
class PostTaskAndReplyImpl {
 public:
  virtual ~PostTaskAndReplyImpl() = default;

  // See TaskRunner::PostTaskAndReply. A caller without a sequenced context
  // for the reply may only call this when the post fails; otherwise it is a
  // fatal CHECK.
  bool PostTaskAndReply(const Location& from_here, OneShotClosure task,
                        OneShotClosure reply);

 private:
  // Posts `task` to the destination.
  virtual bool PostTask(const Location& from_here, OneShotClosure task) = 0;
};

}  // namespace internal
}  // namespace kelmbase

#endif  // AGENT_BASE_TASK_POST_TASK_AND_REPLY_IMPL_H_
