#include "agent/base/task/sequence_manager/run_level_stack.h"

#include "agent/base/trace_event/category_registry.h"
#include "agent/base/trace_event/trace_macros.h"

namespace kelmbase {
namespace sequence_manager {
namespace internal {

RunLevelStack::~RunLevelStack() {
  while (!levels_.empty()) Pop();
}

void RunLevelStack::OnRunLoopStarted(State state) { Push(state); }

void RunLevelStack::OnRunLoopEnded() {
  if (levels_.empty()) return;
  Pop();
}

void RunLevelStack::OnTaskStarted() {
  if (levels_.empty()) return;
  // A task inside a native nested loop gets a level of its own.
  if (levels_.back() == kRunningTask) {
    Push(kRunningTask);
  } else {
    UpdateTop(kRunningTask);
  }
}

void RunLevelStack::OnTaskEnded() {
  if (levels_.empty()) return;
  // The level pushed by a nested native loop's idle step ends with the
  // task that started it.
  if (levels_.back() != kRunningTask) Pop();
  if (levels_.empty()) return;
  UpdateTop(kSelectingNextTask);
}

void RunLevelStack::OnIdle() {
  if (levels_.empty()) return;
  if (levels_.back() == kRunningTask) {
    Push(kIdle);
  } else {
    UpdateTop(kIdle);
  }
}

void RunLevelStack::Push(State state) {
  Transition(kIdle, state);
  levels_.push_back(state);
}

void RunLevelStack::Pop() {
  Transition(levels_.back(), kIdle);
  levels_.pop_back();
}

void RunLevelStack::UpdateTop(State state) {
  Transition(levels_.back(), state);
  levels_.back() = state;
}

// static
void RunLevelStack::Transition(State from, State to) {
  trace_event::TraceCategory* const category =
      trace_event::CategoryRegistry::Builtin(
          trace_event::CategoryRegistry::kBase);
  if (from == kIdle && to != kIdle) {
    KELM_TRACE_EVENT_BEGIN0(category, "ThreadController active");
  } else if (from != kIdle && to == kIdle) {
    KELM_TRACE_EVENT_END0(category, "ThreadController active");
  }
}

}  // namespace internal
}  // namespace sequence_manager
}  // namespace kelmbase
