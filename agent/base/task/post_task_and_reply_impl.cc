#include "agent/base/task/post_task_and_reply_impl.h"

#include <utility>

#include "agent/base/functional/bind.h"
#include "agent/base/task/sequenced_task_runner_handle.h"
#include "logging/check.h"

namespace kelmbase {
namespace internal {

TaskReplyRelay::TaskReplyRelay(
    const Location& from_here, OneShotClosure task, OneShotClosure reply,
    scoped_refptr<SequencedTaskRunner> reply_task_runner)
    : from_here_(from_here),
      task_(std::move(task)),
      reply_(std::move(reply)),
      reply_task_runner_(std::move(reply_task_runner)) {}

TaskReplyRelay::TaskReplyRelay(TaskReplyRelay&& other)
    : from_here_(other.from_here_),
      task_(std::move(other.task_)),
      reply_(std::move(other.reply_)),
      reply_task_runner_(std::move(other.reply_task_runner_)) {}

TaskReplyRelay::~TaskReplyRelay() {
  if (reply_task_runner_ && !reply_.is_null() &&
      !reply_task_runner_->RunsTasksInCurrentSequence()) {
    // Keep the runner alive across the post: once the relay is queued, the
    // reply sequence may delete it (and release the runner) at any moment.
    scoped_refptr<SequencedTaskRunner> reply_task_runner = reply_task_runner_;
    auto* relay_to_delete = new TaskReplyRelay(std::move(*this));
    reply_task_runner->PostDeleteSoon(from_here_, &TaskReplyRelay::DeleteRelay,
                                      relay_to_delete);
    return;
  }
  reply_task_runner_.reset();
  reply_.Reset();
  task_.Reset();
}

// static
void TaskReplyRelay::RunTaskAndPostReply(TaskReplyRelay relay) {
  std::move(relay.task_).Run();

  if (!relay.reply_task_runner_)
    return;
  scoped_refptr<SequencedTaskRunner> reply_task_runner =
      relay.reply_task_runner_;
  const Location from_here = relay.from_here_;
  reply_task_runner->PostTask(
      from_here,
      BindOneShot(&TaskReplyRelay::RunReply, std::move(relay)));
}

// static
void TaskReplyRelay::RunReply(TaskReplyRelay relay) {
  std::move(relay.reply_).Run();
}

// static
void TaskReplyRelay::DeleteRelay(const void* relay) {
  delete static_cast<const TaskReplyRelay*>(relay);
}

bool PostTaskAndReplyImpl::PostTaskAndReply(const Location& from_here,
                                            OneShotClosure task,
                                            OneShotClosure reply) {
  const bool has_sequenced_context = SequencedTaskRunnerHandle::IsSet();
  scoped_refptr<SequencedTaskRunner> reply_task_runner;
  if (has_sequenced_context)
    reply_task_runner = SequencedTaskRunnerHandle::Get();

  const bool post_task_success = PostTask(
      from_here,
      BindOneShot(&TaskReplyRelay::RunTaskAndPostReply,
                  TaskReplyRelay(from_here, std::move(task), std::move(reply),
                                 std::move(reply_task_runner))));

  CHECK(has_sequenced_context || !post_task_success);
  return post_task_success;
}

}  // namespace internal
}  // namespace kelmbase
