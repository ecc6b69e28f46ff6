#ifndef AGENT_BASE_TRACE_EVENT_BLAME_CONTEXT_H_
#define AGENT_BASE_TRACE_EVENT_BLAME_CONTEXT_H_

namespace kelmbase {
namespace trace_event {

// What the work of a task queue is charged to: the queue enters its context
// before each of its tasks runs and leaves it once the task has run. The
// queue does not own it; whoever sets it keeps it alive until the queue
// drops it (replaced, or the queue shut down; a queue shut down by its own
// task no longer leaves the context after that task).
//
// Threads: entered and left on the thread of the queue that holds it.
class BlameContext {
 public:
  BlameContext(const BlameContext&) = delete;
  BlameContext& operator=(const BlameContext&) = delete;

  // A task of the queue is about to run.
  virtual void Enter() = 0;
  // That task has run.
  virtual void Leave() = 0;

 protected:
  BlameContext() = default;
  virtual ~BlameContext() = default;
};

}  // namespace trace_event
}  // namespace kelmbase

#endif  // AGENT_BASE_TRACE_EVENT_BLAME_CONTEXT_H_
