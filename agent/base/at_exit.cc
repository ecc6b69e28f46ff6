#include "agent/base/at_exit.h"

#include <atomic>
#include <utility>

#include "agent/base/functional/bind.h"

namespace kelmbase {

namespace {

// The current stack, or null. Set and reset only by the stacks' own
// construction and destruction, read by registration on any thread.
std::atomic<AtExitStack*> g_top_stack{nullptr};

std::atomic<bool> g_disable_all_stacks{false};

}  // namespace

AtExitStack::AtExitStack()
    : previous_(g_top_stack.load(std::memory_order_acquire)) {
  g_top_stack.store(this, std::memory_order_release);
}

AtExitStack::~AtExitStack() {
  if (g_top_stack.load(std::memory_order_acquire) != nullptr &&
      !g_disable_all_stacks.load(std::memory_order_relaxed)) {
    RunCallbacks();
  }
  g_top_stack.store(previous_, std::memory_order_release);
  // Closures registered while the callbacks ran are destroyed unrun with
  // `stack_`.
}

// static
void AtExitStack::AddCallback(AtExitCallbackType function, void* argument) {
  AddTask(BindOneShot(function, argument));
}

// static
void AtExitStack::AddTask(OneShotClosure task) {
  AtExitStack* top = g_top_stack.load(std::memory_order_acquire);
  if (top == nullptr) return;
  ScopedLock lock(top->lock_);
  top->stack_.push_back(std::move(task));
}

// static
void AtExitStack::RunCallbacks() {
  AtExitStack* top = g_top_stack.load(std::memory_order_acquire);
  if (top == nullptr) return;
  CircularDeque<OneShotClosure> tasks;
  {
    ScopedLock lock(top->lock_);
    tasks.swap(top->stack_);
  }
  while (!tasks.empty()) {
    OneShotClosure task = std::move(tasks.back());
    tasks.pop_back();
    std::move(task).Run();
  }
}

// static
void AtExitStack::DisableAllAtExitStacks() {
  g_disable_all_stacks.store(true, std::memory_order_relaxed);
}

}  // namespace kelmbase
