#ifndef AGENT_BASE_AT_EXIT_H_
#define AGENT_BASE_AT_EXIT_H_

#include "agent/base/containers/circular_deque.h"
#include "agent/base/functional/callback.h"
#include "agent/base/synchronization/lock.h"

namespace kelmbase {

// The stack of callbacks to run at the end of main. `main` makes one on its
// stack frame first thing; its destruction runs the callbacks, newest
// first. Code anywhere registers with the static AddCallback / AddTask,
// which go to the current (top) stack.
//
// Stacks nest: a new stack becomes the top, and its destruction makes the
// previous one the top again. Make and destroy stacks on one thread, and
// in nesting order; registering may happen on any thread while one exists.
class AtExitStack {
 public:
  using AtExitCallbackType = void (*)(void*);

  // Becomes the top stack.
  AtExitStack();
  AtExitStack(const AtExitStack&) = delete;
  AtExitStack& operator=(const AtExitStack&) = delete;
  // Runs the top stack's callbacks (unless all stacks are disabled), makes
  // the previous stack the top again, and destroys without running any
  // closure registered while the callbacks ran.
  ~AtExitStack();

  // Registers function(argument) with the top stack.
  static void AddCallback(AtExitCallbackType function, void* argument);

  // Registers `task` with the top stack. With no stack, the task is
  // destroyed without running.
  static void AddTask(OneShotClosure task);

  // Runs the top stack's callbacks now, newest first, each without the
  // stack's lock held, so a callback may register more; those are kept for
  // later and not run by this pass. Nothing happens with no stack.
  static void RunCallbacks();

  // Makes every stack's destruction skip running its callbacks (they are
  // destroyed unrun). For processes that end without orderly teardown;
  // nothing in this program calls it.
  static void DisableAllAtExitStacks();

 private:
  Lock lock_;
  // Guarded by `lock_`. Used as a stack: newest at the back.
  CircularDeque<OneShotClosure> stack_;
  AtExitStack* const previous_;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_AT_EXIT_H_
