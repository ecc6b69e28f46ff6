#include "agent/base/task/task_runner.h"

#include <utility>

#include "agent/base/task/post_task_and_reply_impl.h"

namespace kelmbase {

namespace {

// Sends the task of a PostTaskAndReply to one runner. Lives on the caller's
// stack for one call, so it holds the runner without a reference.
class PostTaskAndReplyTaskRunner : public internal::PostTaskAndReplyImpl {
 public:
  explicit PostTaskAndReplyTaskRunner(TaskRunner* destination)
      : destination_(destination) {}

 private:
  bool PostTask(const Location& from_here, OneShotClosure task) override {
    return destination_->PostDelayedTask(from_here, std::move(task),
                                         Duration());
  }

  TaskRunner* destination_;
};

}  // namespace

// static
void TaskRunnerTraits::Destruct(const TaskRunner* task_runner) {
  task_runner->OnDestruct();
}

TaskRunner::TaskRunner() = default;
TaskRunner::~TaskRunner() = default;

bool TaskRunner::PostTask(const Location& from_here, OneShotClosure task) {
  return PostDelayedTask(from_here, std::move(task), Duration());
}

bool TaskRunner::PostTaskAndReply(const Location& from_here,
                                  OneShotClosure task, OneShotClosure reply) {
  return PostTaskAndReplyTaskRunner(this).PostTaskAndReply(
      from_here, std::move(task), std::move(reply));
}

void TaskRunner::OnDestruct() const {
  delete this;
}

}  // namespace kelmbase
